// A unit that saw the platform's error header before the status objects: its
// E_FAIL macro (an HRESULT) is defined when failable.h is read.
#define E_FAIL static_cast<long>(0x80004005L)

#include "failable.h"

#include <gtest/gtest.h>

// That Failable::E_FAIL compiles here is the test; the status it names is the
// one a failure sets.
TEST(FailableNameClash, StateKeepsItsNameAfterThePlatformMacro)
{
    Failable fa;
    fa.setFailed("x", 7);
    EXPECT_EQ(Failable::E_FAIL, fa.eStat());
    EXPECT_TRUE(fa.isFail());
    EXPECT_FALSE(fa.isBad());
}
