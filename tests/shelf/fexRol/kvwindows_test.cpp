// A unit that reads the status objects first and windows.h after them, as the
// device channel does. The platform's windows.h leaves E_FAIL defined as an
// HRESULT (the stand-in does not, so the macro is set here in its place);
// kvwindows.h removes it again.
#include "failable.h"

#define E_FAIL static_cast<long>(0x80004005L)
#include "kvwindows.h"

#include <gtest/gtest.h>

// That Failable::E_FAIL compiles here is the test; the status it names is the
// one a failure sets.
TEST(FailableNameClash, StateKeepsItsNameAfterWindowsHeader)
{
    Failables fa;
    fa.setFailed("x", 7, nullptr);
    EXPECT_EQ(Failable::E_FAIL, fa.eStat());
}
