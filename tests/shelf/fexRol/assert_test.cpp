#include "fexassert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A backend of its own, as the kernel driver installs one: it reports in its
// own form and stops.
void stopHook(const char* szExpr, const char* szSrc, int iLine)
{
    std::fprintf(stderr, "STOP %s|%s|%d\n", szExpr, szSrc, iLine);
    std::fflush(stderr);
    std::abort();
}

// A backend that wrongly returns.
void returningHook(const char* szExpr, const char*, int)
{
    std::fprintf(stderr, "hook saw %s\n", szExpr);
    std::fflush(stderr);
}

TEST(AssertDeath, UserModeReportNamesExpressionModuleAndLine)
{
    EXPECT_DEATH(FEX_ASSERT(1 + 1 == 3, "1 + 1 == 3", "list", 50), "Assertion failed: 1 \\+ 1 == 3, file list, line 50\n");
}

TEST(AssertDeath, InstalledHookReceivesTheFixedTexts)
{
    EXPECT_DEATH(
        {
            fexSetAssertHook(stopHook);
            FEX_ASSERT(false, "_c==0", "list", 50);
        },
        "STOP _c==0\\|list\\|50\n");
}

TEST(AssertDeath, HookThatReturnsStillEndsInTheReport)
{
    EXPECT_DEATH(
        {
            fexSetAssertHook(returningHook);
            fexAssertFail("p", "list", 237);
        },
        "hook saw p\nAssertion failed: p, file list, line 237");
}

TEST(AssertDeath, SettingAHookReturnsThePreviousOneAndNullRestoresTheReport)
{
    EXPECT_DEATH(
        {
            if (fexSetAssertHook(stopHook) != nullptr || fexSetAssertHook(nullptr) != stopHook)
                std::abort();
            fexAssertFail("x", "wire", 59);
        },
        "Assertion failed: x, file wire, line 59\n");
}

TEST(Assert, HoldingConditionDoesNothing)
{
    int c = 0;
    FEX_ASSERT(++c == 1, "++c == 1", "list", 1);
    EXPECT_EQ(c, 1);  // evaluated exactly once
}

}  // namespace
