// Opening a board over the whole road: identity and model code through the
// board initializer and the device plexer, the vaq initializer against the
// driver as built and against a build of it that carries a card module with
// a vaq driver, and the failures of the open.
#include "access_world.h"

using namespace e2e_access;
using namespace KVdepQir100;
using KVdepSim100::Fault;

namespace {

const std::string sgHix("\x00\xb4\x04\x16\x53\x00\x00", 7);

TEST_F(CounterWorld, BoardInitializerOpensTheQirChannelAndReadsTheIdentity)
{
    {
        QirLocalTaskInitializer ini(szDev);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.prp(), nullptr);
        EXPECT_EQ(ini.prp()->sgIdent(), sgHix);
        EXPECT_EQ(ini.prp()->eModel(), 0x5316);
        EXPECT_EQ(board->runningImage(), "qir_firmware");
        ASSERT_EQ(board->requests().size(), 1u);
        EXPECT_EQ(board->requests()[0]._mpbCtrl, std::vector<uint8_t>{6});  // VaqInit: its type byte
        EXPECT_TRUE(board->requests()[0]._mpbData.empty());
    }
    EXPECT_EQ(board->runningImage(), "gid_firmware");  // the last close restores the idle firmware
}

TEST_F(CounterWorld, DevicePlexerRunsTheOpenOnAQirChannel)
{
    KVdepYek100::YekChanDevio ch(&theQir_qir_Proto, szDev, "1");
    ASSERT_TRUE(ch.isGood()) << ch;
    KVdepVaq100::VaqTaskPlex plex(&ch, &ch);
    EXPECT_TRUE(plex.callVaqOpen().isGood()) << text(plex);
    EXPECT_EQ(plex.sgIdent(), sgHix);
    EXPECT_TRUE(plex.isModel(0x5316));
    EXPECT_TRUE(plex.callVaqOpen().isGood());
    EXPECT_EQ(board->requests().size(), 1u);
}

TEST_F(CounterWorld, VaqInitializerCannotOpenTheDriverAsBuilt)
{
    KVdepVaq100::VaqLocalTaskInitializer ini(szDev);
    EXPECT_EQ(text(ini), "stat=fail (vaq) 227, stat=bad (can't open) 55");
    EXPECT_EQ(ini.pap(), nullptr);
    EXPECT_TRUE(w.kernel().log().contains("no driver for vaq\\0"));
}

TEST(EndToEndAccess, VaqInitializerOpensAModuleWithAVaqDriver)
{
    auto board = KVdepSim100::makeHix5316(7);
    kvworld::World w;
    w.plug(*board);
    ASSERT_EQ(w.loadDriver(KAVORQIR_VAQQIR_MODULE), STATUS_SUCCESS);
    {
        KVdepVaq100::VaqLocalTaskInitializer ini(szDev);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.pap(), nullptr);
        EXPECT_EQ(ini.pap()->sgIdent(), ident(KVdepSim100::boardIdentity(0x5316, 7)));
        EXPECT_EQ(ini.pap()->eModel(), 0x5316);  // the initializer itself checks no model
    }
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
}

TEST(EndToEndAccess, NoBoardPlugged)
{
    kvworld::World w;
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    {
        QirLocalTaskInitializer ini(szDev);
        EXPECT_EQ(text(ini), "stat=fail (qir) 265, stat=bad (can't open) 2");
        EXPECT_EQ(ini.prp(), nullptr);
    }
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
}

TEST_F(CounterWorld, FailedOpenExchanges)
{
    struct Row {
        const char* szWhat;
        Fault fault;
        const char* szStatus;
    };
    const Row mp[] = {
        {"refused", Fault::errorCode(KVdepVaq100::eVaqInit, 5),
         "stat=fail (QirPlex open failed) 0, stat=fail (vaq) 215, stat=fail (request failed) 5"},
        {"wrong type", Fault::wrongType(KVdepVaq100::eVaqInit, eQirResp),
         "stat=fail (QirPlex open failed) 0, stat=fail (vaq) 215, stat=fail (unexpected response) 12"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        board->clearFaults();
        board->injectFault(r.fault);
        testing::internal::CaptureStderr();
        {
            QirLocalTaskInitializer ini(szDev);
            EXPECT_EQ(text(ini), r.szStatus);
            EXPECT_EQ(ini.prp(), nullptr);
        }
        testing::internal::GetCapturedStderr();
    }
    // A board that sends no identity is not opened either.
    board->clearFaults();
    board->setIdentity({});
    QirLocalTaskInitializer ini(szDev);
    EXPECT_EQ(text(ini), "stat=fail (QirPlex open failed) 0, stat=fail (no identity) 0");
}

TEST_F(CounterWorld, OpenExchangeOfABoardThatGoesAway)
{
    board->injectFault(Fault::unplug(KVdepVaq100::eVaqInit));
    QirLocalTaskInitializer ini(szDev);
    EXPECT_TRUE(ini.isFail());
    EXPECT_STREQ(ini.szErr(), "QirPlex open failed");
    ASSERT_EQ(ini.c(), 2) << text(ini);
    EXPECT_STREQ(ini.cause(0).szErr(), "exchange failed");
    EXPECT_TRUE(ini.cause(1).isBad());
    EXPECT_EQ(std::string(ini.cause(1).szErr()).rfind("DeviceIoControl(", 0), 0u) << text(ini);
    EXPECT_EQ(ini.prp(), nullptr);
}

TEST_F(CounterWorld, SecondInitializerOnTheSameBoardIsRefused)
{
    QirLocalTaskInitializer iniFirst(szDev);
    QirLocalTaskInitializer iniSecond(szDev);
    EXPECT_TRUE(iniFirst.isGood());
    EXPECT_EQ(text(iniSecond), "stat=fail (qir) 265, stat=bad (can't open) 55");
    iniFirst.prp()->callQirWrite(3, 4);
    EXPECT_EQ(board->qir()->reg(3), 4u);
}

}  // namespace
