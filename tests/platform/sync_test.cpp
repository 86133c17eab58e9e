// Events and the wait watchdog, delays on the test clock, deferred calls,
// timers and interrupt objects.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kv_clock.h"
#include "kv_eventually.h"
#include "kv_kernel.h"

namespace {

TEST(PlatformWait, EventSetByAnotherThreadEndsTheWait)
{
    kstub::Kernel k;
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    std::thread t([&] { KeSetEvent(&ev, IO_NO_INCREMENT, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    t.join();
    // A notification event stays signalled; a synchronization event is taken.
    EXPECT_EQ(KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    KEVENT sync;
    KeInitializeEvent(&sync, SynchronizationEvent, TRUE);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

TEST(PlatformWait, TimedWaitOnTheManualClockTimesOutAndAdvancesIt)
{
    kstub::Kernel k;
    kvclock::ManualClock clock(1000);
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    LARGE_INTEGER t;
    t.QuadPart = -50 * 10000LL;  // 50 ms
    EXPECT_EQ(KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, &t), STATUS_TIMEOUT);
    EXPECT_EQ(kvclock::nowMs(), 1050u);
}

TEST(PlatformWait, DelayIsRecordedAndMovesTheManualClock)
{
    kstub::Kernel k;
    kvclock::ManualClock clock(0);
    LARGE_INTEGER d;
    d.QuadPart = -10;
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &d), STATUS_SUCCESS);
    EXPECT_EQ(kvclock::now100ns(), 10u);
    EXPECT_EQ(k.delays(), std::vector<LONGLONG>{-10});
}

TEST(PlatformWaitDeathTest, WatchdogTurnsAHangIntoAFailure)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            k.setWaitWatchdogMs(50);
            KEVENT ev;
            KeInitializeEvent(&ev, NotificationEvent, FALSE);
            KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
        },
        "wait watchdog");
}

TEST(PlatformWaitDeathTest, WaitingAtDispatchLevelStopsTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            KEVENT ev;
            KeInitializeEvent(&ev, NotificationEvent, TRUE);
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
        },
        "DISPATCH_LEVEL");
}

TEST(PlatformMutex, KernelAndFastMutexesExcludeOtherThreads)
{
    kstub::Kernel k;
    KMUTEX m;
    KeInitializeMutex(&m, 0);
    FAST_MUTEX fm;
    ExInitializeFastMutex(&fm);
    int inside = 0, maxInside = 0;
    auto work = [&] {
        for (int i = 0; i < 200; ++i) {
            KeWaitForSingleObject(&m, Executive, KernelMode, FALSE, nullptr);
            ExAcquireFastMutex(&fm);
            maxInside = std::max(maxInside, ++inside);
            --inside;
            ExReleaseFastMutex(&fm);
            KeReleaseMutex(&m, FALSE);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(maxInside, 1);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

struct DpcLog {
    std::vector<std::string> v;
    KIRQL irql = 0;
};

VOID dpcRoutine(PKDPC, PVOID ctx, PVOID a1, PVOID)
{
    auto* pl = static_cast<DpcLog*>(ctx);
    pl->v.push_back(a1 ? static_cast<const char*>(a1) : "timer");
    pl->irql = KeGetCurrentIrql();
}

TEST(PlatformDpc, QueuedCallRunsWhenTheLevelDropsAndOnlyOnceWhileQueued)
{
    kstub::Kernel k;
    DpcLog log;
    KDPC dpc;
    KeInitializeDpc(&dpc, dpcRoutine, &log);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    static char first[] = "first";
    static char second[] = "second";
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, first, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&dpc, second, nullptr));
    EXPECT_TRUE(log.v.empty());
    KeLowerIrql(old);
    EXPECT_EQ(log.v, std::vector<std::string>{"first"});
    EXPECT_EQ(log.irql, DISPATCH_LEVEL);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, second, nullptr));  // below DISPATCH_LEVEL: runs at once
    EXPECT_EQ(log.v.size(), 2u);
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeInsertQueueDpc(&dpc, first, nullptr);
    EXPECT_TRUE(KeRemoveQueueDpc(&dpc));
    KeLowerIrql(old);
    EXPECT_EQ(log.v.size(), 2u);
}

VOID timerRoutine(PKDPC, PVOID ctx, PVOID, PVOID) { static_cast<DpcLog*>(ctx)->v.push_back("timer"); }

TEST(PlatformTimer, DueTimeZeroFiresAtOnceAndPeriodsFireAsTheClockMoves)
{
    kstub::Kernel k;
    kvclock::ManualClock clock(5000);
    DpcLog log;
    KDPC dpc;
    KeInitializeDpc(&dpc, timerRoutine, &log);
    KTIMER t;
    KeInitializeTimerEx(&t, SynchronizationTimer);
    LARGE_INTEGER due;
    due.QuadPart = 0;
    EXPECT_FALSE(KeSetTimerEx(&t, due, 100, &dpc));
    EXPECT_EQ(log.v.size(), 1u);  // expired at once
    k.advanceMs(99);
    EXPECT_EQ(log.v.size(), 1u);
    k.advanceMs(1);
    EXPECT_EQ(log.v.size(), 2u);
    k.advanceMs(1000);
    EXPECT_EQ(log.v.size(), 12u);
    EXPECT_EQ(kvclock::nowMs(), 6100u);
    EXPECT_TRUE(KeCancelTimer(&t));
    k.advanceMs(1000);
    EXPECT_EQ(log.v.size(), 12u);
    EXPECT_FALSE(KeCancelTimer(&t));
}

TEST(PlatformTimer, TickCountFollowsTheTimeIncrement)
{
    kstub::Kernel k;
    kvclock::ManualClock clock(1000);
    EXPECT_EQ(KeQueryTimeIncrement(), 156250u);
    LARGE_INTEGER t;
    KeQueryTickCount(&t);
    EXPECT_EQ(t.QuadPart, 64);  // 1 s in 15.625 ms ticks
    k.setTimeIncrement(100000);
    KeQueryTickCount(&t);
    EXPECT_EQ(t.QuadPart, 100);
}

struct Board {
    PKINTERRUPT pi = nullptr;
    KDPC dpc;
    int cIsr = 0, cDpc = 0;
    bool fClaim = true;
    KIRQL isrIrql = 0;
};

BOOLEAN isr(PKINTERRUPT, PVOID ctx)
{
    auto* pb = static_cast<Board*>(ctx);
    ++pb->cIsr;
    pb->isrIrql = KeGetCurrentIrql();
    if (pb->fClaim)
        KeInsertQueueDpc(&pb->dpc, nullptr, nullptr);
    return pb->fClaim;
}

VOID boardDpc(PKDPC, PVOID ctx, PVOID, PVOID) { ++static_cast<Board*>(ctx)->cDpc; }

BOOLEAN syncRoutine(PVOID ctx)
{
    auto* pb = static_cast<Board*>(ctx);
    return KeSynchronizeExecution(pb->pi, syncRoutine, ctx);  // nested: must stop
}

TEST(PlatformInterrupt, RaisedInterruptRunsTheRoutineThenItsDeferredCall)
{
    kstub::Kernel k;
    Board b;
    KeInitializeDpc(&b.dpc, boardDpc, &b);
    ASSERT_EQ(IoConnectInterrupt(&b.pi, isr, &b, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE),
              STATUS_SUCCESS);
    EXPECT_TRUE(k.raiseInterrupt(7));
    EXPECT_EQ(b.cIsr, 1);
    EXPECT_EQ(b.cDpc, 1);
    EXPECT_GT(b.isrIrql, DISPATCH_LEVEL);
    b.fClaim = false;
    EXPECT_FALSE(k.raiseInterrupt(7));
    EXPECT_EQ(b.cDpc, 1);
    EXPECT_FALSE(k.raiseInterrupt(8));
    EXPECT_EQ(KeSynchronizeExecution(
                  b.pi, [](PVOID c) -> BOOLEAN { return KeGetCurrentIrql() > DISPATCH_LEVEL && c; }, &b),
              TRUE);
    IoDisconnectInterrupt(b.pi);
    EXPECT_FALSE(k.raiseInterrupt(7));
    k.failNext(kstub::Fault::ConnectInterrupt, 1, STATUS_INSUFFICIENT_RESOURCES);
    PKINTERRUPT pi2 = nullptr;
    EXPECT_EQ(IoConnectInterrupt(&pi2, isr, &b, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE),
              STATUS_INSUFFICIENT_RESOURCES);
}

TEST(PlatformInterruptDeathTest, NestedAndLateSynchronizationStopTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            Board b;
            IoConnectInterrupt(&b.pi, isr, &b, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE);
            KeSynchronizeExecution(b.pi, syncRoutine, &b);
        },
        "holds that interrupt's lock");
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            Board b;
            IoConnectInterrupt(&b.pi, isr, &b, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE);
            IoDisconnectInterrupt(b.pi);
            KeSynchronizeExecution(b.pi, [](PVOID) -> BOOLEAN { return TRUE; }, &b);
        },
        "disconnected");
}

// A service routine that stays inside until the test lets it go.
struct HeldIsr {
    std::mutex m;
    std::condition_variable cv;
    bool fEntered = false, fRelease = false;
    std::atomic<bool> fDisconnecting{false}, fDisconnected{false};
    bool fSawDisconnected = false;
};

BOOLEAN heldIsr(PKINTERRUPT, PVOID ctx)
{
    auto* ph = static_cast<HeldIsr*>(ctx);
    std::unique_lock<std::mutex> lk(ph->m);
    ph->fEntered = true;
    ph->cv.notify_all();
    ph->cv.wait(lk, [&] { return ph->fRelease; });
    ph->fSawDisconnected = ph->fDisconnected.load();
    return TRUE;
}

TEST(PlatformInterrupt, DisconnectWaitsForTheServiceRoutineThatRuns)
{
    kstub::Kernel k;
    HeldIsr h;
    PKINTERRUPT pi = nullptr;
    ASSERT_EQ(IoConnectInterrupt(&pi, heldIsr, &h, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE), STATUS_SUCCESS);
    std::thread raiser([&] { k.raiseInterrupt(7); });
    bool fEntered;
    {
        std::unique_lock<std::mutex> lk(h.m);
        fEntered = h.cv.wait_for(lk, std::chrono::seconds(20), [&] { return h.fEntered; });
    }
    std::thread disconnecter([&] {
        h.fDisconnecting = true;
        IoDisconnectInterrupt(pi);
        h.fDisconnected = true;
    });
    EXPECT_TRUE(fEntered);
    EXPECT_TRUE(kvtest::eventually([&] { return h.fDisconnecting.load(); }));
    // Room for a disconnect that does not wait to return before the routine ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::lock_guard<std::mutex> lk(h.m);
        h.fRelease = true;
        h.cv.notify_all();
    }
    raiser.join();
    disconnecter.join();
    EXPECT_FALSE(h.fSawDisconnected);
    EXPECT_TRUE(h.fDisconnected);
    // Nothing reaches a disconnected object.
    h.fEntered = false;
    EXPECT_FALSE(k.raiseInterrupt(7));
    EXPECT_FALSE(h.fEntered);
    EXPECT_TRUE(k.problems().empty());
}

// One connection of a loop: the routine counts its calls and those that come
// after the disconnect returned.
struct Connection {
    std::atomic<int> cIsr{0}, cLate{0};
    std::atomic<bool> fDisconnected{false};
};

BOOLEAN countingIsr(PKINTERRUPT, PVOID ctx)
{
    auto* pc = static_cast<Connection*>(ctx);
    if (pc->fDisconnected)
        ++pc->cLate;
    ++pc->cIsr;
    return TRUE;
}

TEST(PlatformInterrupt, InterruptsRaisedWhileDisconnectingAreDropped)
{
    kstub::Kernel k;
    std::atomic<bool> fStop{false};
    std::thread raiser([&] {
        while (!fStop)
            k.raiseInterrupt(7);
    });
    const int cRounds = 200;
    std::vector<std::unique_ptr<Connection>> conns;
    int cNotConnected = 0, cNeverRaised = 0;
    for (int i = 0; i < cRounds; ++i) {
        conns.push_back(std::make_unique<Connection>());
        Connection* pc = conns.back().get();
        PKINTERRUPT pi = nullptr;
        if (IoConnectInterrupt(&pi, countingIsr, pc, nullptr, 7, 5, 5, Latched, FALSE, 1, FALSE) != STATUS_SUCCESS) {
            ++cNotConnected;
            continue;
        }
        if (!kvtest::eventually([&] { return pc->cIsr.load() > 0; }))
            ++cNeverRaised;
        IoDisconnectInterrupt(pi);
        pc->fDisconnected = true;
    }
    fStop = true;
    raiser.join();
    EXPECT_EQ(cNotConnected, 0);
    EXPECT_EQ(cNeverRaised, 0);
    int cLate = 0;
    for (const auto& pc : conns)
        cLate += pc->cLate;
    EXPECT_EQ(cLate, 0);
    EXPECT_TRUE(k.problems().empty());
}

TEST(PlatformPorts, HandlersAndTheLog)
{
    kstub::Kernel k;
    uint8_t regs[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    k.ports().map(
        0xE000, 8, [&](uint16_t p, uint8_t) { return uint32_t(regs[p - 0xE000]); },
        [&](uint16_t p, uint8_t, uint32_t v) { regs[p - 0xE000] = uint8_t(v); });
    WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0xE003)), 0x87);
    EXPECT_EQ(READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0xE003))), 0x87);
    EXPECT_EQ(READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0x1E000))), 1);  // low 16 bits
    EXPECT_EQ(READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0x60))), 0xFF);
    auto log = k.ports().log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRUE(log[0].fWrite);
    EXPECT_EQ(log[0].value, 0x87u);
    EXPECT_FALSE(log[3].fHandled);
    EXPECT_EQ(k.problems().size(), 1u);
}

}  // namespace

namespace {

NTSTATUS plainEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_SUCCESS; }

TEST(PlatformTimer, ATimerLeftSetInADeletedDeviceIsTakenOutAndReported)
{
    kstub::Kernel k;
    kvclock::ManualClock clock(0);
    ASSERT_EQ(k.loadDriver(plainEntry, "plain"), STATUS_SUCCESS);
    PDEVICE_OBJECT dev = nullptr;
    struct Ext {
        KTIMER timer;
        KDPC dpc;
    };
    ASSERT_EQ(IoCreateDevice(k.driverObject("plain"), sizeof(Ext), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &dev),
              STATUS_SUCCESS);
    auto* pe = static_cast<Ext*>(dev->DeviceExtension);
    KeInitializeDpc(&pe->dpc, [](PKDPC, PVOID, PVOID, PVOID) {}, nullptr);
    KeInitializeTimerEx(&pe->timer, SynchronizationTimer);
    LARGE_INTEGER due;
    due.QuadPart = -1000000;
    KeSetTimerEx(&pe->timer, due, 100, &pe->dpc);
    IoDeleteDevice(dev);
    EXPECT_EQ(k.problems().size(), 1u);
    k.advanceMs(1000);  // nothing fires into the freed extension
}

}  // namespace
