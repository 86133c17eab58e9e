// Flushing the deferred calls: a call running on another thread is waited
// for, a call queued by a thread still at DISPATCH_LEVEL is run by the
// flushing thread, and a flush inside a deferred routine is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_kernel.h"

namespace {

using kvtest::eventually;
using kvtest::JoiningThread;

struct Gate {
    std::atomic<bool> fEntered{false};
    std::atomic<bool> fRelease{false};
    std::atomic<bool> fFlushed{false};
    std::atomic<bool> fFlushedBeforeReturn{false};
    std::atomic<int> cRuns{0};
    std::thread::id idRan;
};

VOID heldRoutine(PKDPC, PVOID ctx, PVOID, PVOID)
{
    auto* pg = static_cast<Gate*>(ctx);
    pg->fEntered = true;
    eventually([pg] { return pg->fRelease.load(); });
    pg->fFlushedBeforeReturn = pg->fFlushed.load();
    ++pg->cRuns;
}

TEST(PlatformDpcFlush, WaitsForACallRunningOnAnotherThread)
{
    kstub::Kernel k;
    Gate g;
    KDPC dpc;
    KeInitializeDpc(&dpc, heldRoutine, &g);
    // Queued below DISPATCH_LEVEL: the call runs at once on the queueing thread.
    JoiningThread runner([&] { KeInsertQueueDpc(&dpc, nullptr, nullptr); }, [&] { g.fRelease = true; });
    ASSERT_TRUE(eventually([&] { return g.fEntered.load(); }));
    std::thread flusher([&] {
        KeFlushQueuedDpcs();
        g.fFlushed = true;
    });
    // Room for a flush that does not wait to return early; it is not needed
    // for a flush that waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    g.fRelease = true;
    flusher.join();
    runner.join();
    EXPECT_TRUE(g.fFlushed);
    EXPECT_FALSE(g.fFlushedBeforeReturn) << "the flush returned while the call still ran";
    EXPECT_EQ(g.cRuns, 1);
    EXPECT_TRUE(k.problems().empty());
}

VOID recordingRoutine(PKDPC, PVOID ctx, PVOID, PVOID)
{
    auto* pg = static_cast<Gate*>(ctx);
    pg->idRan = std::this_thread::get_id();
    ++pg->cRuns;
}

TEST(PlatformDpcFlush, RunsACallQueuedByAThreadStillAtDispatchLevel)
{
    kstub::Kernel k;
    Gate g;
    KDPC dpc;
    KeInitializeDpc(&dpc, recordingRoutine, &g);
    JoiningThread raised(
        [&] {
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            KeInsertQueueDpc(&dpc, nullptr, nullptr);
            g.fEntered = true;
            eventually([&] { return g.fRelease.load(); });
            KeLowerIrql(old);
        },
        [&] { g.fRelease = true; });
    ASSERT_TRUE(eventually([&] { return g.fEntered.load(); }));
    KeFlushQueuedDpcs();
    EXPECT_EQ(g.cRuns, 1) << "the flush ran the queued call";
    EXPECT_EQ(g.idRan, std::this_thread::get_id());
    g.fRelease = true;
    raised.join();
    EXPECT_EQ(g.cRuns, 1) << "and it ran once";
    // With nothing queued or running the flush returns at once.
    KeFlushQueuedDpcs();
    EXPECT_TRUE(k.problems().empty());
}

VOID flushingRoutine(PKDPC, PVOID ctx, PVOID, PVOID)
{
    KeFlushQueuedDpcs();
    ++static_cast<Gate*>(ctx)->cRuns;
}

TEST(PlatformDpcFlush, FlushInsideADeferredRoutineIsAProblemAndReturns)
{
    kstub::Kernel k;
    Gate g;
    KDPC dpc;
    KeInitializeDpc(&dpc, flushingRoutine, &g);
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    EXPECT_EQ(g.cRuns, 1);
    ASSERT_EQ(k.problems().size(), 1u);
    EXPECT_NE(k.problems()[0].find("KeFlushQueuedDpcs"), std::string::npos);
}

}  // namespace
