// The PCI board over a stop and a start, with the other side held at a
// named point: what a start that fails leaves bound, a request on an entry
// a restart left unbound, an open against a start held at a named point, an
// interrupt raised while a stop is under way, and a timer call in flight
// across a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "pci_support.h"

namespace {

using drvtest::Bufs;
using drvtest::PciTest;
using drvtest::pioKnobs;
using drvtest::pioSeen;
using drvtest::PioWrite;
using kvtest::eventually;
using kvtest::JoiningThread;

NTSTATUS exchangeWrite(HANDLE h)
{
    Bufs b;
    PioWrite w(1, 2);
    return drvtest::ioctlInOut(h, IOCTL_YEK_XCH, &b.xch(&w, sizeof w), cbYekIoc);
}

class PciRestartTest : public PciTest {};

// The card object of a start that fails keeps no channel pointing at a bus
// channel, and no bus channel is bound to it.
TEST_F(PciRestartTest, StartThatFailsLeavesTheCardObjectsChannelsWithoutHandles)
{
    plugAndLoad();
    HANDLE h = openOk();
    EXPECT_EQ(drvtest::pioChannelHandle(0), &card()->_mpChan[0]);
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    pioKnobs().cChanCard = 5;
    EXPECT_EQ(k().pnp().start(pdev->pdo()), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(boardLogs("Yek: chan 0 4 past the board's table"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(drvtest::pioChannelHandle(i), nullptr) << i;
    for (const ChanBus& cb : card()->_mpChan)
        EXPECT_FALSE(cb.isBound());
    EXPECT_EQ(exchangeWrite(h), STATUS_DEVICE_NOT_CONNECTED);
    close(h);
    EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
}

class PciFewerChannelsTest : public PciTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykPio4; }
};

// A restart onto a card object with two channels where the first had four:
// the handle of channel 3 stays open on an entry bound to nothing.
TEST_F(PciFewerChannelsTest, RequestOnAnEntryARestartLeftUnboundIsNotConnected)
{
    plugAndLoad();
    HANDLE h0 = openOk("\\pio\\0");
    HANDLE h3 = openOk("\\pio\\3");
    ASSERT_EQ(exchangeWrite(h3), STATUS_SUCCESS);
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    pioKnobs().cChanCard = 2;
    ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_FALSE(card()->_mpChan[3].isBound());
    EXPECT_EQ(exchangeWrite(h3), STATUS_DEVICE_NOT_CONNECTED);
    Bufs b;
    PioWrite w(1, 2);
    EXPECT_EQ(ioctl(h3, IOCTL_YEK_GET, b.get()), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h3, IOCTL_YEK_PUT, b.put(&w, sizeof w)), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(readText(h3).empty());
    EXPECT_EQ(exchangeWrite(h0), STATUS_SUCCESS) << "the channel the new card object has works";
    HANDLE h2 = nullptr;
    EXPECT_EQ(open(&h2, "\\pio\\2"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(boardLogs("can't open (next) 0 2 -4"));
    close(h3);
    close(h0);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

// An open while the first start or a restart is held at a named point
// (begun, or with the new card object's channels bound but the board not
// yet started): the open waits for the whole start, then works on the new
// card object.
struct BusStartRace {
    const char* szName;
    bool fRestart;
    WmPoint ePoint;
};

void PrintTo(const BusStartRace& c, std::ostream* pos)
{
    *pos << c.szName;
}

class PciOpenDuringStartTest : public PciRestartTest, public ::testing::WithParamInterface<BusStartRace> {};

TEST_P(PciOpenDuringStartTest, WaitsForTheStartThenWorks)
{
    const BusStartRace& c = GetParam();
    if (c.fRestart) {
        plugAndLoad();
        ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    } else {
        plugAndAdd();
    }
    NTSTATUS stStart = STATUS_PENDING, stOpen = STATUS_PENDING;
    HANDLE h = nullptr;
    EXPECT_TRUE(drvtest::besideHeld(
        k(), c.ePoint, &card()->_mtxOpen, [&] { stStart = start(); },
        [&] { stOpen = kstub::io::create("\\\\.\\ZEDOZ_EVU_0\\pio\\0", &h); }))
        << "the open waits for the start";
    EXPECT_EQ(stStart, STATUS_SUCCESS);
    ASSERT_EQ(stOpen, STATUS_SUCCESS);
    EXPECT_EQ(exchangeWrite(h), STATUS_SUCCESS);
    EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

INSTANTIATE_TEST_SUITE_P(Cases, PciOpenDuringStartTest,
                         ::testing::Values(BusStartRace{"FirstStartBegun", false, eWmPointBusStart},
                                           BusStartRace{"FirstStartBound", false, eWmPointBusBound},
                                           BusStartRace{"RestartBegun", true, eWmPointBusStart},
                                           BusStartRace{"RestartBound", true, eWmPointBusBound}),
                         [](const ::testing::TestParamInfo<BusStartRace>& i) { return std::string(i.param.szName); });

// A request of a kernel-mode caller that waits on a channel; the stop ends
// it, and its completion routine, run by the stop, raises the board's
// interrupt there: the interrupt object is still connected, and the
// interrupt routine must leave the card object alone.
struct RaisedAtCompletion {
    kstub::Kernel* pk;
    ULONG uVector;
    unsigned cInterruptsBefore = 0;
    unsigned cInterruptsAfter = 0;
    size_t cForwardBefore = 0;
    size_t cForwardAfter = 0;
    NTSTATUS st = STATUS_PENDING;
};

NTSTATUS raiseAtCompletion(PDEVICE_OBJECT, PIRP pIrp, PVOID pv)
{
    auto* pr = static_cast<RaisedAtCompletion*>(pv);
    pr->st = pIrp->IoStatus.Status;
    pr->cInterruptsBefore = pioSeen().cInterrupts;
    pr->cForwardBefore = pr->pk->log().count("kqir0: intr() forward");
    pr->pk->raiseInterrupt(pr->uVector);
    pr->cInterruptsAfter = pioSeen().cInterrupts;
    pr->cForwardAfter = pr->pk->log().count("kqir0: intr() forward");
    return STATUS_SUCCESS;
}

TEST_F(PciRestartTest, InterruptRaisedWhileAStopIsUnderWayLeavesTheCardObjectAlone)
{
    plugAndLoad();
    HANDLE h = openOk();
    Bufs b;
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb = {};
    PIRP pIrp = IoBuildDeviceIoControlRequest(IOCTL_YEK_GET, fdo(), &b.get(), cbYekIoc, &b.ioc, cbYekIoc, FALSE,
                                              &ev, &iosb);
    ASSERT_NE(pIrp, nullptr);
    IoGetNextIrpStackLocation(pIrp)->FileObject = kstub::io::fileObject(h);
    RaisedAtCompletion r{&k(), pdev->vector()};
    IoSetCompletionRoutine(pIrp, raiseAtCompletion, &r, TRUE, TRUE, TRUE);
    ASSERT_EQ(IoCallDriver(fdo(), pIrp), STATUS_PENDING);
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_EQ(r.st, STATUS_CANCELLED);
    EXPECT_EQ(iosb.Status, STATUS_CANCELLED);
    EXPECT_EQ(r.cForwardAfter, r.cForwardBefore + 1) << "the stopping board's interrupt routine forwards";
    EXPECT_EQ(r.cInterruptsAfter, r.cInterruptsBefore) << "the card object's interrupt entry did not run";
    close(h);
}

// The timer's deferred call, held once it has begun and before the board's
// code runs: a stop waits for it, and the timer step it makes runs while the
// board is started.
struct TimerHold {
    std::atomic<bool> fArmed{false};
    std::atomic<bool> fEntered{false};
    std::atomic<bool> fRelease{false};
    PKDEFERRED_ROUTINE pfnBoard = nullptr;
};

TimerHold g_hold;
// The thread runs the board's part of the held call.
thread_local bool t_fInHeldCall = false;

VOID heldTimerCall(PKDPC pDpc, PVOID pv, PVOID pv1, PVOID pv2)
{
    if (!g_hold.fArmed.exchange(false)) {
        g_hold.pfnBoard(pDpc, pv, pv1, pv2);
        return;
    }
    g_hold.fEntered = true;
    eventually([] { return g_hold.fRelease.load(); });
    t_fInHeldCall = true;
    g_hold.pfnBoard(pDpc, pv, pv1, pv2);
    t_fInHeldCall = false;
}

struct StopCase {
    const char* szName;
    std::function<NTSTATUS(kstub::Kernel&, PDEVICE_OBJECT pdo)> stop;
};

void PrintTo(const StopCase& c, std::ostream* pos)
{
    *pos << c.szName;
}

class PciTimerAcrossAStopTest : public PciTest, public ::testing::WithParamInterface<StopCase> {
protected:
    void TearDown() override
    {
        pioKnobs().onTimer = nullptr;
        PciTest::TearDown();
    }
};

TEST_P(PciTimerAcrossAStopTest, StopWaitsForItAndItsStepRunsWhileTheBoardIsStarted)
{
    plugAndLoad();
    CardBus* pca = card();
    std::atomic<unsigned> cSteps{0};
    std::atomic<unsigned> cStepsNotStarted{0};
    pioKnobs().onTimer = [&] {
        if (!t_fInHeldCall)
            return;
        ++cSteps;
        if (!pca->isState(CardBus::eStarted))
            ++cStepsNotStarted;
    };
    g_hold.fEntered = false;
    g_hold.fRelease = false;
    g_hold.pfnBoard = pca->_dpcTimer.DeferredRoutine;
    pca->_dpcTimer.DeferredRoutine = heldTimerCall;
    g_hold.fArmed = true;
    JoiningThread timer([&] { k().advanceMs(100); }, [] { g_hold.fRelease = true; });
    ASSERT_TRUE(eventually([] { return g_hold.fEntered.load(); }));
    std::atomic<NTSTATUS> st{STATUS_PENDING};
    std::thread stopper([&] { st = GetParam().stop(k(), pdev->pdo()); });
    // A board that does not wait stops at once.
    bool fAhead = eventually([&] { return pca->isState(CardBus::eStopped); }, std::chrono::milliseconds(100));
    g_hold.fRelease = true;
    stopper.join();
    timer.join();
    EXPECT_FALSE(fAhead) << "the board stopped while its timer call ran";
    EXPECT_EQ(st.load(), STATUS_SUCCESS);
    EXPECT_EQ(cSteps.load(), 1u) << "the held call made its step";
    EXPECT_EQ(cStepsNotStarted.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciTimerAcrossAStopTest,
    ::testing::Values(StopCase{"Removal", [](kstub::Kernel& k, PDEVICE_OBJECT pdo) { return k.pnp().remove(pdo); }},
                      StopCase{"Restart",
                               [](kstub::Kernel& k, PDEVICE_OBJECT pdo) {
                                   NTSTATUS st = k.pnp().stop(pdo);
                                   return NT_SUCCESS(st) ? k.pnp().start(pdo) : st;
                               }}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.szName); });

}  // namespace
