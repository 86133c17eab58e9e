// The platform clock and the Win32 time calls over it.
#include <gtest/gtest.h>
#include <windows.h>

#include "kv_clock.h"

TEST(PlatformClock, ManualClockStandsStillUntilAdvanced)
{
    kvclock::ManualClock clock(61234567);
    EXPECT_EQ(GetTickCount64(), 61234567u);
    EXPECT_EQ(GetTickCount(), 61234567u);
    EXPECT_EQ(GetTickCount64(), 61234567u);
    kvclock::advanceMs(33);
    EXPECT_EQ(GetTickCount64(), 61234600u);
    kvclock::advance100ns(9999);  // less than a millisecond
    EXPECT_EQ(GetTickCount64(), 61234600u);
    kvclock::advance100ns(1);
    EXPECT_EQ(GetTickCount64(), 61234601u);
}

TEST(PlatformClock, SleepAdvancesTheManualClockInsteadOfSleeping)
{
    kvclock::ManualClock clock(1000);
    Sleep(3600u * 1000u);  // an hour: would time the test out if it slept
    EXPECT_EQ(GetTickCount64(), 1000u + 3600u * 1000u);
    Sleep(0);
    EXPECT_EQ(GetTickCount64(), 1000u + 3600u * 1000u);
}

TEST(PlatformClock, GetTickCountWrapsAt32Bits)
{
    kvclock::ManualClock clock(0x100000005ull);
    EXPECT_EQ(GetTickCount64(), 0x100000005ull);
    EXPECT_EQ(GetTickCount(), 5u);
}

TEST(PlatformClock, MachineClockIsBackAfterTheScopeAndMovesForward)
{
    {
        kvclock::ManualClock clock(5);
        EXPECT_TRUE(kvclock::isManual());
    }
    EXPECT_FALSE(kvclock::isManual());
    ULONGLONG t0 = GetTickCount64();
    Sleep(2);
    EXPECT_GE(GetTickCount64(), t0 + 2);
    kvclock::advanceMs(1000000);  // ignored on the machine clock
    EXPECT_LT(GetTickCount64(), t0 + 1000000);
}
