// The device channel against a small driver of the device interface in the
// stand-in kernel: the open and protocol check, the blocks of put and get,
// the readable count of an answer, failed transfers and a get that waits.
#include "drvchan_fixture.h"
#include "yek_devio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>

#include "kv_clock.h"
#include "kv_eventually.h"
#include "kv_joining_thread.h"

using namespace yek_test;
using namespace devio_test;

namespace {

struct DevioTest : DrvChanTest {
    // The driver goes first: unloading it reports handles left open.
    ~DevioTest() override
    {
        k.unloadDriver("devtest");
        std::vector<std::string> mpsg = k.problems();
        EXPECT_TRUE(mpsg.empty()) << mpsg.front();
    }
};

TEST_F(DevioTest, OpenChecksTheSignatureAndArmsOneReceiveBuffer)
{
    YekChanDevio ch(&testProto(), szDev, "0");
    EXPECT_TRUE(ch.isGood()) << ch;
    ASSERT_EQ(k.ioLog().size(), 2u);
    EXPECT_EQ(k.ioLog()[0].path, "\\\\.\\ZEDOZ_EVU_0\\tst\\0");
    EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\tst\\0"});

    std::vector<Call> calls = drv.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].uCode, IOCTL_YEK_PROCHK);
    const YekIoc& ioc = calls[0].ioc;
    EXPECT_EQ(ioc._dd._pchBase, testProto().szProto());  // handed over, not copied
    EXPECT_EQ(ioc._dd._pchLimDat, ioc._dd._pchBase + std::strlen(testProto().szProto()) + 1);
    EXPECT_EQ(ioc._dd._pchLimBuf, ioc._dd._pchLimDat);
    EXPECT_TRUE(isZero(ioc._cd) && isZero(ioc._cu) && isZero(ioc._du));

    EXPECT_NE(ch.pdb(), nullptr);
    EXPECT_EQ(queues(ch), "dq=0 dd=0 du=1 dp=3  uq=0 ud=0 uu=0 up=4");
}

struct FailedOpen {
    const char* szWhat;
    std::string sgDev;
    const char* szChan;
    std::string sgServerSig;
    const char* szErr;
    int iErr;
    size_t cRequests;  // requests that reached the I/O manager
    size_t cHandles; // handles left open while the channel lives
};

TEST_F(DevioTest, FailedOpensAreBadAndArmNothing)
{
    const FailedOpen mp[] = {
        {"no such device", "\\\\.\\ZEDOZ_EVU_3", "0", sgServerSig, "can't open", ERROR_FILE_NOT_FOUND, 1, 0},
        {"channel refused", szDev, "2", sgServerSig, "can't open", ERROR_DEV_NOT_EXIST, 1, 0},
        {"signature mismatch", szDev, "0", "(//)(/Int2:u_int/)", "DeviceIoControl(prochk) failed",
         ERROR_NO_SYSTEM_RESOURCES, 2, 1},
        {"path too long", std::string("\\\\.\\") + std::string(260, 'Z'), "0", sgServerSig, "can't open",
         ERROR_FILENAME_EXCED_RANGE, 0, 0},
    };
    for (const FailedOpen& fo : mp) {
        SCOPED_TRACE(fo.szWhat);
        reload(fo.sgServerSig);
        {
            YekChanDevio ch(&testProto(), fo.sgDev.c_str(), fo.szChan);
            EXPECT_TRUE(ch.isBad());
            EXPECT_STREQ(ch.szErr(), fo.szErr);
            EXPECT_EQ(ch.iErr(), fo.iErr);
            EXPECT_EQ(ch.pdb(), nullptr);
            EXPECT_EQ(k.ioLog().size(), fo.cRequests);
            EXPECT_EQ(k.openHandles(), fo.cHandles);
            SetLastError(ERROR_SUCCESS);
        }
        EXPECT_EQ(k.openHandles(), 0u);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));  // no close of an invalid handle
    }
}

struct ExchangeTest : DevioTest {
    YekChanDevio ch{&testProto(), szDev, "0"};
    CountingPlex tp{&ch};

    int exchange(ReqFunc* prf)
    {
        tp.run(prf);
        tp.sigUp(0, &ch, 0);
        return runio(&ch);
    }
};

TEST_F(ExchangeTest, PutAndGetHandTheMessageBuffersByAddress)
{
    echo();
    ReqFunc* prf = new ReqFunc(5, "ab");
    EXPECT_EQ(exchange(prf), 0);
    EXPECT_EQ(prf->_idAnswer, 1005u);
    EXPECT_EQ(prf->_sgAnswer, "ab");
    EXPECT_EQ(tp._cDone, 1);

    std::vector<Msg> puts = drv.puts();
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].sgCtrl, bytesOf(TestMsg(5)));
    EXPECT_EQ(puts[0].sgData, "ab");

    // The control and data areas of one message buffer, wherever it sits.
    YekMsgBuf mb;
    ptrdiff_t dData = mb.pchBase() - reinterpret_cast<char*>(static_cast<YekControlBuf*>(&mb));

    std::vector<Call> calls = drv.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].uCode, IOCTL_YEK_PUT);
    const YekIoc& put = calls[1].ioc;
    EXPECT_EQ(put._cd._pchLimDat, put._cd._pchBase + sizeof(TestMsg));
    EXPECT_EQ(put._cd._pchLimBuf, put._cd._pchLimDat);
    EXPECT_EQ(put._dd._pchBase, put._cd._pchBase + dData);
    EXPECT_EQ(put._dd._pchLimDat, put._dd._pchBase + 2);
    EXPECT_EQ(put._dd._pchLimBuf, put._dd._pchLimDat);
    EXPECT_TRUE(isZero(put._cu) && isZero(put._du));

    EXPECT_EQ(calls[2].uCode, IOCTL_YEK_GET);
    const YekIoc& get = calls[2].ioc;
    EXPECT_EQ(get._cu._pchLimDat, get._cu._pchBase + 128);
    EXPECT_EQ(get._cu._pchLimBuf, get._cu._pchLimDat);
    EXPECT_EQ(get._du._pchBase, get._cu._pchBase + dData);
    EXPECT_EQ(get._du._pchLimDat, get._du._pchBase + 512);
    EXPECT_EQ(get._du._pchLimBuf, get._du._pchLimDat);
    EXPECT_TRUE(isZero(get._cd) && isZero(get._dd));
}

TEST_F(ExchangeTest, UpMessageWithoutDataHasAnEmptyDataRecord)
{
    echo();
    EXPECT_EQ(exchange(new ReqFunc(1, "")), 0);
    const YekIoc put = drv.calls().at(1).ioc;
    EXPECT_NE(put._dd._pchBase, nullptr);
    EXPECT_EQ(put._dd._pchLimBuf, put._dd._pchBase);
    EXPECT_EQ(put._dd._pchLimDat, put._dd._pchBase);
}

TEST_F(ExchangeTest, ReadableCountFollowsTheReturnedDataLimitWithinTheArea)
{
    struct Row {
        size_t cbData;
        size_t cbOverstate;  // what the driver claims beyond the data
        size_t cRead;
    };
    for (Row r : {Row{512, 0, 512}, Row{0, 0, 0}, Row{17, 0, 17}, Row{450, 100, 512}}) {
        SCOPED_TRACE(r.cbData);
        drv.overstateData(r.cbOverstate);
        drv.setOnPut([&](const Msg& m) { drv.answer(m.iChan, TestMsg(9), std::string(r.cbData, 'x')); });
        ReqFunc* prf = new ReqFunc(1, "");
        EXPECT_EQ(exchange(prf), 0);
        EXPECT_EQ(prf->_idAnswer, 9u);
        EXPECT_EQ(prf->_sgAnswer.size(), r.cRead);
    }
}

TEST_F(DevioTest, FailedTransferMakesTheChannelBadAndStopsThePump)
{
    struct Row {
        ULONG uCode;
        NTSTATUS st;
        const char* szErr;
        int iErr;
        size_t cCalls;  // requests of the exchange, the check included
    };
    const Row mp[] = {
        {IOCTL_YEK_PUT, STATUS_DEVICE_NOT_CONNECTED, "DeviceIoControl(put) failed", ERROR_DEVICE_NOT_CONNECTED, 2},
        {IOCTL_YEK_GET, STATUS_DEVICE_CONFIGURATION_ERROR, "DeviceIoControl(get) failed", ERROR_INVALID_DATA, 3},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szErr);
        reload(sgServerSig);
        YekChanDevio chOne(&testProto(), szDev, "0");
        CountingPlex tpOne(&chOne);
        echo();
        drv.failNext(r.uCode, r.st);
        tpOne.run(new ReqFunc(1, "a"));
        tpOne.sigUp(0, &chOne, 0);
        EXPECT_EQ(runio(&chOne), -1);
        EXPECT_TRUE(chOne.isBad());
        EXPECT_STREQ(chOne.szErr(), r.szErr);
        EXPECT_EQ(chOne.iErr(), r.iErr);
        EXPECT_EQ(drv.calls().size(), r.cCalls);
        // Bad for good: nothing more reaches the driver.
        EXPECT_EQ(runio(&chOne), -1);
        EXPECT_EQ(drv.calls().size(), r.cCalls);
        delete tpOne.drop(0);
    }
}

// The pump runs on a second thread while the test plays the board; a get
// that never came back would end the process through the wait watchdog. A
// test that returns early fails the waiting gets until the pump returns.
struct WaitingGetTest : ExchangeTest {
    std::atomic<bool> fReturned{false};
    int iPump = 99;
    std::optional<kvtest::JoiningThread> th;

    // Whether the pump's get came to wait.
    bool startPump(ReqFunc* prf)
    {
        tp.run(prf);
        tp.sigUp(0, &ch, 0);
        th.emplace(
            [this] {
                iPump = runio(&ch);
                fReturned = true;
            },
            [this] {
                kvtest::eventually([this] {
                    drv.failWaitingGet(STATUS_DEVICE_NOT_CONNECTED);
                    return fReturned.load();
                });
            });
        return drv.waitForWaitingGet();
    }
};

TEST_F(WaitingGetTest, GetWaitsForTheBoardWithoutATimeOut)
{
    kvclock::ManualClock clock(1000);
    ReqFunc* prf = new ReqFunc(3, "q");
    ASSERT_TRUE(startPump(prf));
    kvclock::advanceMs(3600 * 1000);  // an hour without an answer
    EXPECT_TRUE(drv.isGetWaiting());
    EXPECT_FALSE(fReturned);
    drv.answer(0, TestMsg(77), "late");
    th->join();
    EXPECT_EQ(iPump, 0);
    EXPECT_TRUE(ch.isGood());
    EXPECT_EQ(prf->_idAnswer, 77u);
    EXPECT_EQ(prf->_sgAnswer, "late");
}

TEST_F(WaitingGetTest, GetOfABoardThatNeverAnswersEndsWhenTheDriverFailsIt)
{
    ASSERT_TRUE(startPump(new ReqFunc(3, "")));
    EXPECT_TRUE(drv.failWaitingGet(STATUS_DEVICE_NOT_CONNECTED));
    th->join();
    EXPECT_EQ(iPump, -1);
    EXPECT_TRUE(ch.isBad());
    EXPECT_STREQ(ch.szErr(), "DeviceIoControl(get) failed");
    EXPECT_EQ(ch.iErr(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(tp.isRunning());
    delete tp.drop(0);
}

TEST_F(DevioTest, TransferWithoutItsBufferIsABrokenInvariant)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    YekChanDevio ch(&testProto(), szDev, "0");
    EXPECT_DEATH(ch.sigSendTransfer(), "Assertion failed: pub\\(\\), file uc_d, line 169");
    ch.clrPdb();
    EXPECT_DEATH(ch.sigRecvTransfer(), "Assertion failed: pdb\\(\\), file uc_d, line 190");
}

}  // namespace
