// Register access and configuration loading over the whole road, and the
// board's faults in the middle of them.
#include "access_world.h"

#include <atomic>
#include <thread>

#include "kv_eventually.h"
#include "kv_scratch_dir.h"

extern "C" const char _binary_04b453160000_0131_rbf_start[];
extern "C" const char _binary_04b453160000_0131_rbf_end[];

using namespace e2e_access;
using namespace KVdepQir100;
using KVdepSim100::Fault;

namespace {

std::string linkedImage()
{
    return std::string(_binary_04b453160000_0131_rbf_start,
                       static_cast<size_t>(_binary_04b453160000_0131_rbf_end - _binary_04b453160000_0131_rbf_start));
}

std::string configOf(const KVdepSim100::EzUsbBoard& b)
{
    const std::vector<uint8_t>& mpb = b.qir()->configImage();
    return std::string(mpb.begin(), mpb.end());
}

TEST_F(OpenedCounter, WriteThenReadCarriesTheLowBitsOnTheWire)
{
    prp->callQirWrite(0x123, 0x12345);
    ASSERT_EQ(board->qir()->writes().size(), 1u);
    EXPECT_EQ(board->qir()->writes()[0]._iPort, 0x23);
    EXPECT_EQ(board->qir()->writes()[0]._uVal, 0x2345u);
    EXPECT_EQ(board->requests().back()._mpbCtrl, (std::vector<uint8_t>{8, 0x23, 0x23, 0x45}));
    EXPECT_EQ(prp->callQirRead(0x23), 0x2345);

    struct Row {
        uint32_t uReg;
        int iRead;
    };
    for (Row r : {Row{0xFFFF, 65535}, Row{0xFFFFFFFF, -1}, Row{0, 0}}) {
        board->qir()->setReg(40, r.uReg);
        EXPECT_EQ(prp->callQirRead(40), r.iRead);
    }
    EXPECT_TRUE(prp->isGood()) << text(*prp);
}

TEST_F(OpenedCounter, ConfigurationFromMemoryFileAndDirectoryList)
{
    const std::string sg = linkedImage();
    ASSERT_EQ(sg.size(), 131018u);
    Dptr dp{sg.size(), sg.data()};
    EXPECT_TRUE(prp->callQirInitData(reinterpret_cast<const char*>(&dp)).isGood()) << text(*prp);
    EXPECT_EQ(prp->sgConfig(), "local-data");
    EXPECT_TRUE(configOf(*board) == sg);
    EXPECT_EQ(board->qir()->cConfigMessages(), 256);

    EXPECT_TRUE(prp->callQirInitFile(KV_RBF_FILE).isGood()) << text(*prp);
    EXPECT_EQ(prp->sgConfig(), KV_RBF_FILE);
    EXPECT_TRUE(configOf(*board) == sg);

    // The file's name is the one the board's identity and version 131 give.
    EXPECT_TRUE(prp->callQirInitPath({"/nonexistent", KV_RBF_DIR}, 131).isGood()) << text(*prp);
    EXPECT_EQ(prp->sgConfig(), std::string(KV_RBF_DIR) + "/04b453160000-0131.rbf");
    EXPECT_EQ(board->qir()->cConfigLoads(), 3);
    EXPECT_TRUE(configOf(*board) == sg);

    // The register operations go on as before.
    prp->callQirWrite(8, 0x55);
    EXPECT_EQ(prp->callQirRead(8), 0x55);
}

TEST_F(CounterWorld, PathInitializerLoadsVersionZeroFromTheFirstDirectory)
{
    kvtest::ScratchDir dir("e2e_access_rbf");
    std::string sgDir = dir.path();
    ASSERT_TRUE(dir.write("04b453160000-0000.rbf", std::string(1000, 'v')));
    const char* mpsz[] = {sgDir.c_str(), nullptr};
    {
        QirLocalTaskInitializer ini(szDev, mpsz);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.prp(), nullptr);
        EXPECT_EQ(configOf(*board), std::string(1000, 'v'));
    }
    const char* mpszNone[] = {KV_RBF_DIR, nullptr};  // holds version 131 only
    QirLocalTaskInitializer ini(szDev, mpszNone);
    EXPECT_EQ(text(ini), "stat=fail (QirPlex init failed) 0, stat=fail (config init failed) 0, "
                         "stat=fail (open failed) 0");
    EXPECT_EQ(ini.prp(), nullptr);
}

TEST_F(CounterWorld, OtherModelIsLoadedAndRecorded)
{
    board->setIdentity(KVdepSim100::boardIdentity(KVdepSim100::modelPyl2817));
    QirLocalTaskInitializer ini(szDev);
    ASSERT_TRUE(ini.isGood()) << text(ini);
    const std::string sg = linkedImage();
    Dptr dp{sg.size(), sg.data()};
    EXPECT_EQ(text(ini.prp()->callQirInitData(reinterpret_cast<const char*>(&dp))),
              "stat=fail (incompatible device model) 0");
    EXPECT_TRUE(configOf(*board) == sg);
}

TEST_F(OpenedCounter, BoardErrorsAndWrongAnswers)
{
    const std::string sg(2000, 'e');
    Dptr dp{sg.size(), sg.data()};
    board->injectFault(Fault::errorCode(eQirCmd, 7));
    EXPECT_EQ(text(prp->callQirInitData(reinterpret_cast<const char*>(&dp))),
              "stat=fail (config process failed) 0, stat=fail (request failed) 7");

    prp->clear();
    board->injectFault(Fault::wrongType(eQirCmd, eQirResp));
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(prp->callQirInitData(reinterpret_cast<const char*>(&dp))),
              "stat=fail (config process failed) 0, stat=fail (unexpected response) 12");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "unexpected response size=20 type=0xc\n");

    prp->clear();
    board->qir()->setReg(2, 9);
    board->injectFault(Fault::wrongType(eQirRead, KVdepVaq100::eVaqResp));
    testing::internal::CaptureStderr();
    EXPECT_EQ(prp->callQirRead(2), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(text(*prp), "stat=fail (unexpected response) 4");
    EXPECT_EQ(prp->callQirRead(2), 9);
}

TEST_F(OpenedCounter, BoardUnpluggedInTheMiddleOfAConfiguration)
{
    board->injectFault(Fault::unplug(eQirCmd, 100));
    const std::string sg = linkedImage();
    Dptr dp{sg.size(), sg.data()};
    EXPECT_EQ(text(prp->callQirInitData(reinterpret_cast<const char*>(&dp))),
              "stat=bad (config process failed) 0, stat=bad (exchange failed) 0, "
              "stat=bad (DeviceIoControl(put) failed) 1167");
    EXPECT_EQ(text(*pini->puc()), "stat=bad (DeviceIoControl(put) failed) 1167");
    EXPECT_EQ(board->qir()->cConfigLoads(), 0);
    EXPECT_EQ(board->qir()->cConfigPartialMessages(), 100);  // those before the unplug
    // The plexer is usable: the register operations return without a board.
    EXPECT_EQ(prp->callQirRead(1), -1);
    prp->callQirWrite(1, 1);
}

// The read's get waits for an answer that does not come, on a second thread;
// the board then goes away and the get fails. A get that never came back
// would end the process through the wait watchdog.
TEST_F(OpenedCounter, ReadOfABoardThatNeverAnswers)
{
    board->injectFault(Fault::noAnswer(eQirRead));
    std::atomic<bool> fReturned{false};
    int iRead = 0;
    std::thread th([&] {
        iRead = prp->callQirRead(3);
        fReturned = true;
    });
    EXPECT_TRUE(kvtest::eventually([&] { return pdev->pendingIn() != 0; }));
    EXPECT_FALSE(fReturned);
    pdev->surpriseRemove();
    th.join();
    EXPECT_EQ(iRead, -1);
    EXPECT_TRUE(prp->isBad());
    EXPECT_STREQ(prp->szErr(), "exchange failed");
    EXPECT_STREQ(prp->cause(0).szErr(), "DeviceIoControl(get) failed");
    EXPECT_EQ(prp->cause(0).iErr(), ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace
