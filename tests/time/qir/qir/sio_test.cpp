// The sio channel client: the board plexer and its steps on the in-process
// digital-I/O board, and the initializer through a small driver of the
// device interface.
#include "devio_testdrv.h"
#include "sio.h"
#include "sio_board.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace KVdepSio100;
using namespace sio_test;

namespace {

std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

std::string queues(const KVdepYek100::YekChannel& cn)
{
    std::ostringstream os;
    cn.printQueues(os);
    return os.str();
}

struct SioPlexTest : ::testing::Test {
    SioInprocBoard board;
    vaq_test::InprocRig rig{board, &theSio_sio_Proto};
    SioTaskPlex plex{rig.puc(), rig.pucIo()};

    void SetUp() override
    {
        ASSERT_TRUE(plex.callVaqOpen().isGood()) << text(plex);
        board.clearRequests();
    }
};

TEST_F(SioPlexTest, OpenExchangeGivesTheModel)
{
    EXPECT_EQ(plex.sgIdent(), SioInprocBoard::sgPyl2817);
    EXPECT_EQ(plex.eModel(), 0x2817);
}

TEST_F(SioPlexTest, WriteReadAndSyncCarryOneRequestEach)
{
    plex.callSioWrite(1, 0x1FF);
    EXPECT_EQ(board.writes(), (std::vector<PortWrite>{{1, 0x1FF}}));
    board.setInputs(0x9F35);
    EXPECT_EQ(plex.callSioRead(0), 0x9F35);
    EXPECT_EQ(plex.callSioRead(1), 0x1FF);
    EXPECT_EQ(plex.callSioSync(3), 0);
    EXPECT_EQ(board.syncs(), std::vector<uint32_t>{3});
    EXPECT_TRUE(plex.isGood()) << text(plex);

    ASSERT_EQ(board.requests().size(), 4u);
    SioWrite w = board.requests()[0].as<SioWrite>();
    EXPECT_EQ(w.eType(), eSioWrite);
    EXPECT_EQ(w.iPort(), 1u);
    EXPECT_EQ(w.iVal(), 0x1FFu);
    EXPECT_EQ(board.requests()[1].as<SioRead>().eType(), eSioRead);
    EXPECT_EQ(board.requests()[1].as<SioRead>().iPort(), 0u);
    EXPECT_EQ(board.requests()[3].as<SioSync>().fCtrl(), 3u);
    for (const vaq_test::BoardRequest& rq : board.requests())
        EXPECT_TRUE(rq.sgData.empty());
}

TEST_F(SioPlexTest, AnswersErrorCodeIsNotLookedAt)
{
    board.setError(7);
    board.setInputs(0x1234);
    EXPECT_EQ(plex.callSioRead(0), 0x1234);
    plex.callSioWrite(0, 5);
    EXPECT_EQ(plex.callSioSync(0), 0);
    EXPECT_TRUE(plex.isGood()) << text(plex);
}

TEST_F(SioPlexTest, AnswerOfAnotherTypeFailsTheStep)
{
    board.setHook([](const vaq_test::BoardRequest&) {
        return std::vector<vaq_test::BoardReply>{vaq_test::BoardReply::of(KVdepVaq100::VaqResp())};
    });
    struct Row {
        const char* szWhat;
        std::function<int(SioTaskPlex&)> fn;
        int iResult;
    };
    const Row mp[] = {
        {"read", [](SioTaskPlex& p) { return p.callSioRead(0); }, -1},
        {"write",
         [](SioTaskPlex& p) {
             p.callSioWrite(0, 1);
             return 0;
         },
         0},
        {"sync", [](SioTaskPlex& p) { return p.callSioSync(1); }, -1},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        testing::internal::CaptureStderr();
        EXPECT_EQ(r.fn(plex), r.iResult);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("unexpected response size=", 0), 0u);
        EXPECT_EQ(text(plex), "stat=fail (unexpected response) 4");
    }
    EXPECT_EQ(queues(*rig.puc()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

TEST_F(SioPlexTest, ReadWithoutAnswerHasNoValue)
{
    EXPECT_EQ(SioReadFunc(0, 0).iVal(), 0);
    board.setHook([](const vaq_test::BoardRequest&) { return std::vector<vaq_test::BoardReply>{}; });
    EXPECT_EQ(plex.callSioRead(0), -1);
    EXPECT_TRUE(plex.isFail());
    EXPECT_STREQ(plex.szErr(), "exchange not finished");
    // The plexer is ready for the next exchange.
    board.setHook(nullptr);
    board.setInputs(3);
    EXPECT_EQ(plex.callSioRead(0), 3);
}

TEST_F(SioPlexTest, BrokenConnectionFailsTheRequest)
{
    board.breakAt(1);
    EXPECT_EQ(plex.callSioRead(0), -1);
    EXPECT_EQ(text(plex), "stat=bad (exchange failed) 0, stat=bad (DeviceIoControl(get) failed) 1167");
}

TEST(SioPlex, ChannelsMustSpeakSio)
{
    // A protocol that extends sio passes.
    static const std::string sgLonger = std::string(theSio_sio_Proto.szProto()) + "(/Int1:u_int/)";
    static const KVdepYek100::YekProto longer(sgLonger.c_str(), "sio");
    SioInprocBoard board;
    {
        vaq_test::InprocRig rig(board, &longer);
        SioTaskPlex plex(rig.puc(), rig.pucIo());
        EXPECT_TRUE(plex.callVaqOpen().isGood());
    }
    EXPECT_DEATH(
        {
            vaq_test::InprocRig rig(board, &KVdepVaq100::theVaq_vaq_Proto);
            SioTaskPlex plex(rig.puc(), rig.pucIo());
        },
        "Assertion failed: \\*\\(pucIo->pup\\(\\)\\) == theSio_sio_Proto, file sio, line 81");
    EXPECT_DEATH(
        {
            vaq_test::InprocRig rig(board, &theSio_sio_Proto);
            vaq_test::IdleIo io(&KVdepVaq100::theVaq_vaq_Proto);
            SioTaskPlex plex(rig.puc(), &io);
        },
        "Assertion failed: \\*\\(pucIo->pup\\(\\)\\) == theSio_sio_Proto, file sio, line 81");
    EXPECT_DEATH(
        {
            vaq_test::InprocRig rig(board, &KVdepVaq100::theVaq_vaq_Proto);
            vaq_test::IdleIo io(&theSio_sio_Proto);
            SioTaskPlex plex(rig.puc(), &io);
        },
        "Assertion failed: \\*\\(puc->pup\\(\\)\\) == theSio_sio_Proto, file sio, line 82");
}

struct SioInitTest : ::testing::Test {
    kstub::Kernel k;
    devio_test::TestBoardDriver& drv = devio_test::TestBoardDriver::the();
    uint32_t eErr = 0;

    SioInitTest()
    {
        drv.reset({devio_test::DrvProto{"sio", theSio_sio_Proto.szProto()}});
        EXPECT_EQ(k.loadDriver(devio_test::DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        drv.setOnPut([this](const devio_test::Msg& m) {
            if (m.eType() == KVdepVaq100::eVaqInit)
                drv.answer(m.iChan, KVdepVaq100::VaqResp().eErr(eErr), SioInprocBoard::sgPyl2817);
        });
    }
    ~SioInitTest() override { k.unloadDriver("devtest"); }
};

TEST_F(SioInitTest, OpensTheSioChannelAndThePlexer)
{
    {
        SioLocalTaskInitializer ini("\\\\.\\ZEDOZ_EVU_0");
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.psp(), nullptr);
        EXPECT_EQ(ini.psp()->eModel(), 0x2817);
        EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\sio\\0"});
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

TEST_F(SioInitTest, FailuresKeepTheChannelAndBuildNoPlexer)
{
    {
        SioLocalTaskInitializer ini("\\\\.\\ZEDOZ_EVU_5");
        EXPECT_EQ(text(ini), "stat=fail (sio) 89, stat=bad (can't open) 2");
        EXPECT_EQ(ini.psp(), nullptr);
        EXPECT_NE(ini.puc(), nullptr);
    }
    eErr = 5;
    {
        SioLocalTaskInitializer ini("\\\\.\\ZEDOZ_EVU_0");
        EXPECT_EQ(text(ini), "stat=fail (SioPlex open failed) 0, stat=fail (vaq) 215, stat=fail (request failed) 5");
        EXPECT_EQ(ini.psp(), nullptr);
        EXPECT_NE(ini.puc(), nullptr);
        EXPECT_EQ(k.openHandles(), 1u);
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

}  // namespace
