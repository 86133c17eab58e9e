// The board initializers through the device channel, over a small driver of
// the device interface in the stand-in kernel with the in-process counter
// board behind it.
#include "devio_testdrv.h"
#include "qir_fixture.h"

#include "kv_scratch_dir.h"

using namespace KVdepQir100;
using namespace qir_test;
using namespace devio_test;

namespace {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";

struct QirInitTest : ::testing::Test {
    kstub::Kernel k;
    TestBoardDriver& drv = TestBoardDriver::the();
    QirInprocBoard board;

    QirInitTest() { load(); }

    void load()
    {
        drv.reset({DrvProto{"qir", theQir_qir_Proto.szProto()}});
        EXPECT_EQ(k.loadDriver(DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        drv.setOnPut([this](const Msg& m) {
            for (BoardReply& r : board.handle(BoardRequest{m.eType(), m.sgCtrl, m.sgData}))
                drv.answer(m.iChan, r.ucb, r.sgData);
        });
    }
};

TEST_F(QirInitTest, OpensTheQirChannelAndThePlexer)
{
    board.setReg(5, 0x77);
    QirLocalTaskInitializer ini(szDev);
    EXPECT_TRUE(ini.isGood()) << text(ini);
    ASSERT_NE(ini.prp(), nullptr);
    EXPECT_EQ(ini.prp()->eModel(), 0x5316);
    EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\qir\\0"});
    EXPECT_EQ(ini.prp()->callQirRead(5), 0x77);
    ini.prp()->callQirWrite(6, 0x1234);
    EXPECT_EQ(board.reg(6), 0x1234u);
}

TEST_F(QirInitTest, FailedOpensBuildNoPlexer)
{
    struct Row {
        const char* szWhat;
        const char* szDev;
        vaq_test::InprocBoard::Hook hook;
        bool fFailGet;
        const char* szStatus;      // one-argument initializer
        const char* szPathStatus;  // initializer with a directory list
    };
    KVdepVaq100::VaqResp respErr;
    respErr.eErr(5);
    auto answer = [](const KVdepVaq100::VaqResp& r, std::string sg) {
        return [r, sg](const BoardRequest&) { return std::vector<BoardReply>{BoardReply::of(r, sg)}; };
    };
    const Row mp[] = {
        {"no board", "\\\\.\\ZEDOZ_EVU_6", nullptr, false, "stat=fail (qir) 265, stat=bad (can't open) 2",
         "stat=fail (qir) 232, stat=bad (can't open) 2"},
        {"refused", szDev, answer(respErr, ""), false,
         "stat=fail (QirPlex open failed) 0, stat=fail (vaq) 215, stat=fail (request failed) 5",
         "stat=fail (VaqOpen failed) 0, stat=fail (vaq) 215, stat=fail (request failed) 5"},
        {"no identity", szDev, answer(KVdepVaq100::VaqResp(), ""), false,
         "stat=fail (QirPlex open failed) 0, stat=fail (no identity) 0",
         "stat=fail (VaqOpen failed) 0, stat=fail (no identity) 0"},
        {"failed get", szDev, nullptr, true,
         "stat=fail (QirPlex open failed) 0, stat=bad (exchange failed) 0, "
         "stat=bad (DeviceIoControl(get) failed) 1167",
         "stat=fail (VaqOpen failed) 0, stat=bad (exchange failed) 0, "
         "stat=bad (DeviceIoControl(get) failed) 1167"},
    };
    const char* mpszPath[] = {"/nonexistent", nullptr};
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        board.setHook(r.hook);
        for (bool fPath : {false, true}) {
            if (r.fFailGet)
                drv.failNext(IOCTL_YEK_GET, STATUS_DEVICE_NOT_CONNECTED);
            std::unique_ptr<QirLocalTaskInitializer> pini(fPath ? new QirLocalTaskInitializer(r.szDev, mpszPath)
                                                                : new QirLocalTaskInitializer(r.szDev));
            EXPECT_EQ(text(*pini), fPath ? r.szPathStatus : r.szStatus);
            EXPECT_EQ(pini->prp(), nullptr);
            EXPECT_NE(pini->puc(), nullptr);  // kept until the initializer goes
        }
        EXPECT_EQ(k.openHandles(), 0u);
    }
}

TEST_F(QirInitTest, PathInitializerLoadsFromTheFirstDirectoryOnly)
{
    kvtest::ScratchDir dir("qir_init_path");
    std::string sgDir = dir.path();
    std::string sg(3000, 'c');
    ASSERT_TRUE(dir.write("04b453160000-0000.rbf", sg));
    const char* mpszFound[] = {sgDir.c_str(), "/nonexistent", nullptr};
    {
        QirLocalTaskInitializer ini(szDev, mpszFound);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.prp(), nullptr);
        EXPECT_EQ(ini.prp()->sgConfig(), sgDir + "/04b453160000-0000.rbf");
        EXPECT_TRUE(board.configImage() == sg);
    }
    const char* mpszSecond[] = {"/nonexistent", sgDir.c_str(), nullptr};
    {
        QirLocalTaskInitializer ini(szDev, mpszSecond);
        EXPECT_EQ(text(ini), "stat=fail (QirPlex init failed) 0, stat=fail (config init failed) 0, "
                             "stat=fail (open failed) 0");
        EXPECT_EQ(ini.prp(), nullptr);
    }
    // No directory: nothing to load, nothing loaded.
    const char* mpszNone[] = {nullptr};
    {
        QirLocalTaskInitializer ini(szDev, mpszNone);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.prp(), nullptr);
        EXPECT_EQ(ini.prp()->sgConfig(), "");
    }
    EXPECT_EQ(board.cConfigLoads(), 1);
}

TEST_F(QirInitTest, SecondInitializerOnTheSameDeviceFailsItsOpen)
{
    QirLocalTaskInitializer iniFirst(szDev);
    QirLocalTaskInitializer iniSecond(szDev);
    EXPECT_TRUE(iniFirst.isGood());
    EXPECT_EQ(text(iniSecond), "stat=fail (qir) 265, stat=bad (can't open) 55");
    EXPECT_EQ(iniSecond.prp(), nullptr);
    board.setReg(1, 9);
    EXPECT_EQ(iniFirst.prp()->callQirRead(1), 9);
}

TEST_F(QirInitTest, MemoryInitializerLeavesItsImageAlone)
{
    std::string sg(100, 'm');
    QirLocalTaskInitializerMem ini(szDev, sg.data(), sg.size());
    EXPECT_TRUE(ini.isGood());
    ASSERT_NE(ini.prp(), nullptr);
    EXPECT_EQ(board.cConfigLoads(), 0);
    EXPECT_EQ(board.requestTypes(), std::vector<int>{KVdepVaq100::eVaqInit});
}

}  // namespace
