// Remove locks: the removal waits for every holder, and no acquire succeeds
// once it has begun; misuse is listed or stops the test.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_kernel.h"

namespace {

const ULONG uTag = 0x74736574;  // 'test'

class RemoveLockTest : public ::testing::Test {
protected:
    RemoveLockTest() { IoInitializeRemoveLock(&lock, uTag, 0, 0); }

    NTSTATUS acquire() { return IoAcquireRemoveLock(&lock, nullptr); }
    void release() { IoReleaseRemoveLock(&lock, nullptr); }
    bool removalWaits() const { return k.waitersOn(&lock.RemoveEvent) == 1; }

    kstub::Kernel k;
    IO_REMOVE_LOCK lock;
};

TEST_F(RemoveLockTest, TheRemovalWaitsForEveryOtherHolderAndLetsNoNewOneIn)
{
    ASSERT_EQ(acquire(), STATUS_SUCCESS);  // the removal's own
    ASSERT_EQ(acquire(), STATUS_SUCCESS);
    ASSERT_EQ(acquire(), STATUS_SUCCESS);
    std::atomic<bool> fReturned{false};
    kvtest::JoiningThread t(
        [&] {
            IoReleaseRemoveLockAndWait(&lock, nullptr);
            fReturned = true;
        },
        [&] {
            release();
            release();
        });
    ASSERT_TRUE(kvtest::eventually([&] { return removalWaits() || fReturned; }));
    EXPECT_FALSE(fReturned) << "the removal went on while two held the lock";
    EXPECT_EQ(acquire(), STATUS_DELETE_PENDING);
    release();
    EXPECT_TRUE(removalWaits()) << "one holder is left";
    EXPECT_EQ(acquire(), STATUS_DELETE_PENDING);
    release();
    EXPECT_TRUE(kvtest::eventually([&] { return fReturned.load(); }));
    t.join();
    EXPECT_EQ(acquire(), STATUS_DELETE_PENDING);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

TEST_F(RemoveLockTest, TheRemovalOfTheOnlyHolderGoesOnAtOnce)
{
    ASSERT_EQ(acquire(), STATUS_SUCCESS);
    release();
    ASSERT_EQ(acquire(), STATUS_SUCCESS);
    IoReleaseRemoveLockAndWait(&lock, nullptr);
    EXPECT_EQ(acquire(), STATUS_DELETE_PENDING);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

struct Misuse {
    const char* szName;
    std::function<void(PIO_REMOVE_LOCK)> fn;
    const char* szProblem;
};

TEST(RemoveLockMisuse, WhatTheKernelSurvivesIsListed)
{
    const std::vector<Misuse> cases = {
        {"a release without an acquire", [](PIO_REMOVE_LOCK pl) { IoReleaseRemoveLock(pl, nullptr); },
         "IoReleaseRemoveLock without a matching acquire"},
        {"a removal by a caller that does not hold the lock",
         [](PIO_REMOVE_LOCK pl) { IoReleaseRemoveLockAndWait(pl, nullptr); },
         "IoReleaseRemoveLockAndWait by a caller that does not hold the lock"},
        {"a second removal",
         [](PIO_REMOVE_LOCK pl) {
             IoAcquireRemoveLock(pl, nullptr);
             IoReleaseRemoveLockAndWait(pl, nullptr);
             IoReleaseRemoveLockAndWait(pl, nullptr);
         },
         "IoReleaseRemoveLockAndWait of a lock whose removal has begun already"},
        {"an acquire of a lock not initialized",
         [](PIO_REMOVE_LOCK pl) {
             *pl = IO_REMOVE_LOCK{};
             IoAcquireRemoveLock(pl, nullptr);
         },
         "IoAcquireRemoveLock of a lock not initialized"},
    };
    for (const Misuse& c : cases) {
        SCOPED_TRACE(c.szName);
        kstub::Kernel k;
        IO_REMOVE_LOCK l;
        IoInitializeRemoveLock(&l, uTag, 0, 0);
        c.fn(&l);
        EXPECT_EQ(k.problems(), std::vector<std::string>{c.szProblem});
    }
}

TEST(RemoveLockDeathTest, MisuseTheKernelStopsOnEndsTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            IO_REMOVE_LOCK l;
            IoInitializeRemoveLock(&l, uTag, 0, 0);
            IoAcquireRemoveLock(&l, nullptr);
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            IoReleaseRemoveLockAndWait(&l, nullptr);
        },
        "IoReleaseRemoveLockAndWait above PASSIVE_LEVEL");
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            IO_REMOVE_LOCK l;
            IoInitializeRemoveLockEx(&l, uTag, 0, 0, sizeof l - 1);
        },
        "IoInitializeRemoveLock: a lock of");
}

}  // namespace
