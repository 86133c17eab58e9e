// Runtime-library extras and the environment call of the Win32 stand-in.
#include <gtest/gtest.h>
#include <windows.h>

#include <conio.h>
#include <cstdlib>
#include <cstring>

#include "kv_win32_test.h"

TEST(PlatformCrt, StrdupCopiesAndNullGivesNull)
{
    char* p = _strdup("\\\\.\\ZEDOZ_EVU_0");
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "\\\\.\\ZEDOZ_EVU_0");
    std::free(p);
    EXPECT_EQ(_strdup(nullptr), nullptr);
}

TEST(PlatformCrt, KbhitFollowsTheTestKnob)
{
    kvwin32::setKbhit(0);
    EXPECT_EQ(_kbhit(), 0);
    kvwin32::setKbhit(1);
    EXPECT_NE(_kbhit(), 0);
    kvwin32::setKbhitAfter(2);
    EXPECT_EQ(_kbhit(), 0);
    EXPECT_EQ(_kbhit(), 0);
    EXPECT_NE(_kbhit(), 0);
    EXPECT_NE(_kbhit(), 0);
    kvwin32::setKbhit(0);
    EXPECT_EQ(_kbhit(), 0);
}

TEST(PlatformWin32, GetEnvironmentVariableAFormsOfTheResult)
{
    setenv("KV_TEST_PROFILE", "C:\\Users\\kv", 1);
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_PROFILE", buf, sizeof buf), 11u);
    EXPECT_STREQ(buf, "C:\\Users\\kv");
    // Too small: the size needed with the terminating zero, nothing written.
    char small[11];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_PROFILE", small, sizeof small), 12u);
    EXPECT_EQ(small[0], 'x');
    unsetenv("KV_TEST_PROFILE");
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("KV_TEST_PROFILE", buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
}
