// The PCI channel scheduler: put, get and exchange through the card
// object's channels, requests that finish at once and those the deferred
// routine completes after the board's interrupt or a timer step, messages
// that do not fit, cancellation, the 32-bit caller, and removal while a
// request waits.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>

#include "pci_support.h"

namespace {

using drvtest::AsyncIoctl;
using drvtest::Bufs;
using drvtest::PciTest;
using drvtest::PioEcho;
using drvtest::PioEvent;
using drvtest::PioRead;
using drvtest::PioResp;
using drvtest::PioWait;
using drvtest::PioWrite;
using drvtest::pioKnobs;
using drvtest::pioSeen;
using kstub::formatString;

class PciSchedTest : public PciTest {
protected:
    void SetUp() override
    {
        plugAndLoad();
        h = openOk();
        log().clear();
    }

    HANDLE h = nullptr;
    Bufs b;
};

TEST_F(PciSchedTest, ExchangeAnsweredAtOnceFinishesWithinStart)
{
    PioWrite w(5, 0xCAFE);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_SUCCESS);
    EXPECT_EQ(board.reg(5), 0xCAFEu);
    EXPECT_EQ(resp(b)._eType, drvtest::ePioResp);
    EXPECT_EQ(resp(b)._eReq, drvtest::ePioWrite);
    EXPECT_EQ(resp(b)._uVal, 0xCAFEu);
    EXPECT_EQ(b.cbCtrlUp(), sizeof(PioResp));
    EXPECT_EQ(b.cbDataUp(), 0u);
    EXPECT_TRUE(boardLogs("syncStart() done=1"));
    EXPECT_TRUE(boardLogs("putdown[0] type=4 data=0"));
    EXPECT_TRUE(boardLogs(formatString("getup[0] type=0x8 size=%d data=0", int(sizeof(PioResp)))));
    EXPECT_TRUE(boardLogs("done"));
    EXPECT_FALSE(logHas("pend ("));
    EXPECT_FALSE(logHas("dpcForIsr"));
}

TEST_F(PciSchedTest, GetTakesTheOldestQueuedAnswerAtOnce)
{
    PioWrite w1(1, 11), w2(2, 22);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&w1, sizeof w1)), STATUS_SUCCESS);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&w2, sizeof w2)), STATUS_SUCCESS);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uReg, 1u);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uReg, 2u);
    EXPECT_FALSE(logHas("pend ("));
}

TEST_F(PciSchedTest, ReadWaitsForTheBoardsInterruptAndTheDeferredRoutineCompletesIt)
{
    board.setReg(7, 0x12345678);
    PioRead r(7);
    b.xch(&r, sizeof r);
    AsyncIoctl x(h, IOCTL_YEK_XCH, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    EXPECT_FALSE(x.isDone());
    EXPECT_TRUE(board.isLineAsserted()) << "the board reports the load";
    EXPECT_TRUE(pdev->interrupt());
    ASSERT_EQ(x.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._eReq, drvtest::ePioRead);
    EXPECT_EQ(resp(b)._uVal, 0x12345678u);
    EXPECT_TRUE(boardLogs("intr() done=1"));
    EXPECT_TRUE(logHas("dpcForIsr pdo="));
    EXPECT_FALSE(board.isLineAsserted());
}

TEST_F(PciSchedTest, GetWithNothingQueuedWaitsUntilTheInterruptQueuesTheAnswer)
{
    board.setReg(9, 99);
    PioRead r(9);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&r, sizeof r)), STATUS_SUCCESS);
    b.get();
    AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    EXPECT_TRUE(boardLogs("syncStart() done=0"));
    EXPECT_TRUE(pdev->interrupt());
    ASSERT_EQ(g.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uVal, 99u);
}

TEST_F(PciSchedTest, PutWithoutAFreeDownBufferWaitsUntilOneComesBack)
{
    // Every load holds its down buffer until the board answers it.
    for (uint32_t i = 0; i < 4; ++i) {
        board.setReg(static_cast<int>(i), 100 + i);
        PioRead r(i);
        ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&r, sizeof r)), STATUS_SUCCESS) << i;
    }
    Bufs b5;
    PioRead r5(4);
    b5.put(&r5, sizeof r5);
    AsyncIoctl p5(h, IOCTL_YEK_PUT, &b5.ioc);
    ASSERT_TRUE(waitPended(1));
    EXPECT_TRUE(boardLogs("proceed[0, 0] state(1 -> 1)")) << "no free down buffer";
    // The first answer gives its buffer back: the waiting put goes down.
    EXPECT_TRUE(pdev->interrupt());
    ASSERT_EQ(p5.result(), STATUS_SUCCESS);
    EXPECT_TRUE(boardLogs("proceed[0, 666] state(1 -> 3)"));
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uVal, 100u);
    for (uint32_t i = 1; i < 5; ++i) {
        ASSERT_TRUE(pdev->interrupt()) << i;
        ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
        EXPECT_EQ(resp(b)._uReg, i);
    }
}

TEST_F(PciSchedTest, WaitIsAnsweredByTheTimerStep)
{
    PioWait w(3);
    b.xch(&w, sizeof w);
    AsyncIoctl x(h, IOCTL_YEK_XCH, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    k().advanceMs(200);
    EXPECT_FALSE(x.isDone());
    k().advanceMs(100);
    ASSERT_EQ(x.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._eReq, drvtest::ePioWait);
    // The step's time: the tick count times the increment; the next tick one
    // increment later.
    YekTimespec tsNow;
    tickTime(&tsNow, 0);
    EXPECT_EQ(resp(b)._tiNow.tv_sec, tsNow.tv_sec);
    EXPECT_EQ(resp(b)._tiNow.tv_nsec, tsNow.tv_nsec);
    uint64_t uNow = uint64_t(tsNow.tv_sec) * 1000000000 + tsNow.tv_nsec;
    uint64_t uNext = uint64_t(resp(b)._tiNext.tv_sec) * 1000000000 + resp(b)._tiNext.tv_nsec;
    EXPECT_EQ(uNext - uNow, uint64_t(KeQueryTimeIncrement()) * 100);
    EXPECT_TRUE(boardLogs(formatString("timer(%u, %u)", tsNow.tv_sec, tsNow.tv_nsec)));
}

TEST_F(PciSchedTest, EchoCarriesDataBothWays)
{
    PioEcho e;
    b.xch(&e, sizeof e, 300);
    for (int i = 0; i < 300; ++i)
        b.dataDown[i] = static_cast<char>(i * 7);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, b.ioc), STATUS_SUCCESS);
    EXPECT_TRUE(boardLogs("putdown[0] type=7 data=300"));
    ASSERT_EQ(b.cbDataUp(), 300u);
    EXPECT_EQ(std::memcmp(b.dataUp, b.dataDown, 300), 0);
}

TEST_F(PciSchedTest, CallerOf32BitsGetsTheDataLimitsAs32BitValues)
{
    void* pv = mmap(nullptr, 0x4000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(pv, MAP_FAILED);
    char* pch = static_cast<char*>(pv);
    auto lo = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    PioEcho e;
    char* pchCd = pch;
    char* pchDd = pch + 0x100;
    char* pchCu = pch + 0x1000;
    char* pchDu = pch + 0x2000;
    std::memcpy(pchCd, &e, sizeof e);
    std::memcpy(pchDd, "forty", 5);
    auto* pioc = reinterpret_cast<YekIoc32*>(pch + 0x3000);
    *pioc = YekIoc32{{lo(pchCd + sizeof e), lo(pchCd + sizeof e), lo(pchCd)},
                     {lo(pchDd + 5), lo(pchDd + 5), lo(pchDd)},
                     {lo(pchCu + 128), lo(pchCu), lo(pchCu)},
                     {lo(pchDu + 512), lo(pchDu), lo(pchDu)}};
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, pioc, cbYekIoc32), STATUS_SUCCESS);
    EXPECT_EQ(pioc->_cu._pchLimDat, lo(pchCu + sizeof(PioResp)));
    EXPECT_EQ(pioc->_du._pchLimDat, lo(pchDu + 5));
    EXPECT_EQ(std::memcmp(pchDu, "forty", 5), 0);
    munmap(pv, 0x4000);
}

// A message that does not fit fails with STATUS_UNSUCCESSFUL, more often
// than the channel has buffers, and the channel still carries the next one.
struct TooLarge {
    const char* szName;
    std::function<void(Bufs&)> setUp;
    const char* szLine;
};

void PrintTo(const TooLarge& c, std::ostream* pos) { *pos << c.szName; }

class PciTooLargeTest : public PciSchedTest, public ::testing::WithParamInterface<TooLarge> {};

TEST_P(PciTooLargeTest, FailsWithUnsuccessfulAndLosesNoBuffer)
{
    for (int i = 0; i < 6; ++i) {
        GetParam().setUp(b);
        EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.ioc), STATUS_UNSUCCESSFUL) << i;
    }
    EXPECT_TRUE(boardLogs(GetParam().szLine));
    PioWrite w(4, 44);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uVal, 44u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciTooLargeTest,
    ::testing::Values(
        TooLarge{"ControlDownOf129Bytes",
                 [](Bufs& b) {
                     PioWrite w(1, 1);
                     b.xch(&w, sizeof w);
                     b.ioc._cd = drvtest::record(b.ctrlDown, 129, 129);
                 },
                 "putdown[0] too large: ctrl=129 data=0"},
        TooLarge{"DataDownOf513Bytes",
                 [](Bufs& b) {
                     PioEcho e;
                     b.xch(&e, sizeof e, 513);
                 },
                 "putdown[0] too large: ctrl=8 data=513"},
        TooLarge{"DataUpLargerThanTheCallersRoom",
                 [](Bufs& b) {
                     PioEcho e;
                     b.xch(&e, sizeof e, 100);
                     b.ioc._du = drvtest::record(b.dataUp, 16, 0);
                 },
                 "getup[0] too large: size=40 data=100"}),
    [](const ::testing::TestParamInfo<TooLarge>& i) { return std::string(i.param.szName); });

TEST_F(PciSchedTest, RequestOfNoDirectionFinishesWithinStart)
{
    const ULONG uOther = 0x222013;  // function 0x804: neither put nor get
    ASSERT_EQ(ioctl(h, uOther, b.get()), STATUS_SUCCESS);
    EXPECT_TRUE(boardLogs("syncStart() done=1"));
    EXPECT_FALSE(logHas("putdown["));
    EXPECT_FALSE(logHas("getup["));
}

TEST_F(PciSchedTest, CancelledGetCompletesWithCancelledAndTheChannelGoesOn)
{
    b.get();
    AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    ASSERT_EQ(kstub::io::cancel(h), STATUS_SUCCESS);
    EXPECT_EQ(g.result(), STATUS_CANCELLED);
    EXPECT_TRUE(logHas("completed=1"));
    ASSERT_NE(card(), nullptr);
    EXPECT_TRUE(card()->_mpChan[0].isState(ChanBus::S_IDLE));
    EXPECT_EQ(card()->_mpChan[0].pIrp(), nullptr);
    PioWrite w(6, 66);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uVal, 66u);
}

TEST_F(PciSchedTest, EventQueuedWithoutARequestWaitsForTheNextGet)
{
    board.raiseEvent(9);
    EXPECT_TRUE(pdev->interrupt());
    EXPECT_TRUE(boardLogs("proceed[0, 666] state(0) pIrp(0000000000000000)")) << "the idle channel only logs";
    EXPECT_TRUE(boardLogs("intr() done=0"));
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    const auto& ev = *reinterpret_cast<const PioEvent*>(b.ctrlUp);
    EXPECT_EQ(ev._eType, drvtest::ePioEvent);
    EXPECT_EQ(ev._uCode, 9u);
    // A control of type 16 is logged four bytes a line.
    EXPECT_TRUE(boardLogs("10 0 0 0"));
    EXPECT_TRUE(boardLogs("9 0 0 0"));
    EXPECT_TRUE(boardLogs("1 0 0 0"));
}

TEST_F(PciSchedTest, ChannelsOfOneBoardAreIndependent)
{
    HANDLE h1 = openOk("\\pio\\1");
    PioRead r(2);
    b.xch(&r, sizeof r);
    AsyncIoctl x(h, IOCTL_YEK_XCH, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    Bufs b1;
    PioWrite w(8, 88);
    ASSERT_EQ(ioctl(h1, IOCTL_YEK_XCH, b1.xch(&w, sizeof w)), STATUS_SUCCESS);
    EXPECT_FALSE(x.isDone());
    EXPECT_TRUE(pdev->interrupt());
    EXPECT_EQ(x.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uReg, 2u);
}

TEST_F(PciSchedTest, SurpriseRemovalEndsAWaitingRequest)
{
    b.get();
    AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    pdev->surpriseRemove();
    EXPECT_EQ(g.result(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(boardLogs(formatString("request ended driv=0 chan=0 stat=%x", unsigned(STATUS_DEVICE_NOT_CONNECTED))));
    close(h);
    EXPECT_TRUE(boardLogs("dtCardBus")) << "removed at the last close";
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

// The handles still open after a surprise removal reach the driver: every
// transfer is refused by the board, the read still answers, and the last
// close lets the removal go ahead with nothing left.
TEST_F(PciSchedTest, RemovedBoardRefusesTheRequestsOfItsOpenHandlesItself)
{
    pdev->surpriseRemove();
    log().clear();
    PioWrite w(1, 1);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&w, sizeof w)), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(board.reg(1), 0u) << "nothing reached the board";
    EXPECT_NE(readText(h).find("cintr="), std::string::npos);
    EXPECT_FALSE(boardLogs("dtCardBus")) << "the removal waits for the last close";
    EXPECT_EQ(close(h), STATUS_SUCCESS);
    EXPECT_TRUE(boardLogs("dtCardBus"));
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

TEST_F(PciSchedTest, StopOfTheBoardEndsAWaitingRequest)
{
    b.get();
    AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    // What the removal does first: the board stops.
    ASSERT_EQ(card()->pnpStopDevice(fdo(), nullptr), STATUS_SUCCESS);
    EXPECT_EQ(g.result(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(boardLogs("request ended driv=0 chan=0"));
    EXPECT_TRUE(card()->isState(CardBus::eStopped));
    // A stopped board moves nothing, and its channel closes.
    PioWrite w(1, 1);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(close(h), STATUS_SUCCESS);
    EXPECT_EQ(pioSeen().cFini, 1u);
    finish();
    EXPECT_EQ(k().pool().outstanding(), 0u) << "pool clean after unload";
}

// The cancel step of a request that has finished keeps its result.
TEST(PciCancelStep, FinishedRequestKeepsItsResultAndWaitingOneIsCancelled)
{
    kstub::Kernel k;
    PIRP pIrp = IoAllocateIrp(1, FALSE);
    ChanBus cb;
    ASSERT_EQ(cb.attachIrp(pIrp), 1);
    cb._iStat = STATUS_SUCCESS;
    cb.setState(ChanBus::S_DONE);
    // The I/O manager took the cancel routine: only the cancel step completes it.
    EXPECT_FALSE(ChanBus::syncDone(&cb));
    EXPECT_TRUE(cb.isDone());
    EXPECT_TRUE(ChanBus::syncCancel(&cb));
    EXPECT_EQ(cb.status(), STATUS_SUCCESS);
    EXPECT_TRUE(cb.isState(ChanBus::S_IDLE));
    cb.setState(ChanBus::S_GETUP);
    EXPECT_TRUE(ChanBus::syncCancel(&cb));
    EXPECT_EQ(cb.status(), STATUS_CANCELLED);
    EXPECT_TRUE(cb.isState(ChanBus::S_IDLE));
    cb.finish(STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(cb.isState(ChanBus::S_IDLE)) << "an idle channel stays idle";
    IoFreeIrp(pIrp);
}

}  // namespace
