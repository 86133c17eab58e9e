// The flat functions' answers for bad indexes, the status functions, and the
// parameter setters as an application calls them.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "hix_burst.h"
#include "hix_rig.h"

namespace {

TEST(HixIndex, EveryFunctionRefusesABadIndex)
{
    int n = 77, m = 88;
    for (int i : {-1, 2, 5, INT_MIN, INT_MAX}) {
        EXPECT_EQ(hix_burst_init(i, 0), -1) << i;
        EXPECT_EQ(hix_burst_fini(i), -1) << i;
        EXPECT_EQ(hix_burst_set_param_int(i, "CCH", 2), -1) << i;
        EXPECT_EQ(hix_burst_set_param_double(i, "T2", 1e-3), -1) << i;
        EXPECT_EQ(hix_burst_arm(i), -1) << i;
        EXPECT_EQ(hix_burst_trigger(i), -1) << i;
        EXPECT_EQ(hix_burst_loop(i), -1) << i;
        EXPECT_EQ(hix_burst_get_count(i, &n), -1) << i;
        EXPECT_EQ(hix_burst_get_counts(i, &n, &m), -1) << i;
        EXPECT_EQ(hix_failed(i), -1) << i;
        EXPECT_STREQ(hix_errortext(i), "index out of range") << i;
        EXPECT_EQ(hix_errorcode(i), -1) << i;
        EXPECT_EQ(hix_diagcode(i), -1) << i;
    }
    EXPECT_EQ(n, 77);
    EXPECT_EQ(m, 88);
    // Nothing of the valid instances was touched.
    for (int i : {0, 1}) {
        EXPECT_EQ(hix_failed(i), 0);
        EXPECT_STREQ(hix_errortext(i), "");
        EXPECT_EQ(hix_errorcode(i), 0);
        EXPECT_EQ(hix_diagcode(i), 0);
    }
}

TEST(HixStatus, ClosedInstancesAfterLoadAreGood)
{
    for (int i : {0, 1}) {
        EXPECT_EQ(hix_failed(i), 0);
        EXPECT_STREQ(hix_errortext(i), "");
        EXPECT_EQ(hix_errorcode(i), 0);
        EXPECT_EQ(hix_diagcode(i), 0);
    }
}

// The setters need no board.
class HixParams : public ::testing::Test {
protected:
    void SetUp() override { hixtest::setDefaults(0); hixtest::setDefaults(1); }
    void TearDown() override { hixtest::setDefaults(0); hixtest::setDefaults(1); }
};

TEST_F(HixParams, ChecksThroughTheFlatInterface)
{
    const double rdNan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* sz;
        bool fDouble;
        double rd;  // the value (an int when not fDouble)
        int result;
        const char* text;
        int number;
        unsigned code;
    } cases[] = {
        {"TRM", false, 'b', 0, "", 0, 0},
        {"TRM", false, 'x', -1, "bad parameter", 120, 0x62616420},
        {"TRM", false, 0, -1, "bad parameter", 0, 0x62616420},
        {"CTM", false, -5, 0, "", 0, 0},
        {"CTM", false, 2, -1, "bad parameter", 2, 0x62616420},
        {"CCH", false, 0, -1, "bad parameter", 0, 0x62616420},
        {"CCH", false, 3, -1, "bad parameter", 3, 0x62616420},
        {"CCH", false, 2, 0, "", 0, 0},
        {"CCH", true, 3.0, 0, "", 0, 0},
        {"CTM", true, 0.9, 0, "", 0, 0},
        {"t1", false, 1, -1, "param not found", -1, 0x70617261},
        {"T1", true, rdNan, -1, "bad parameter", 0, 0x62616420},
        {"T2", true, 72.0, -1, "bad parameter", 1, 0x62616420},
        {"T2", false, 72, -1, "bad parameter", 1, 0x62616420},
        {"CCH", true, 1e10, -1, "bad parameter", 4, 0x62616420},
        {"T2", false, 1, 0, "", 0, 0},
        {"T1", true, -5e-4, 0, "", 0, 0},
    };
    for (const Case& c : cases) {
        hixtest::setDefaults(1);
        int r = c.fDouble ? hix_burst_set_param_double(1, c.sz, c.rd)
                          : hix_burst_set_param_int(1, c.sz, static_cast<int>(c.rd));
        EXPECT_EQ(r, c.result) << c.sz << " " << c.rd;
        EXPECT_EQ(hix_failed(1), c.result ? 1 : 0) << c.sz << " " << c.rd;
        EXPECT_STREQ(hix_errortext(1), c.text) << c.sz << " " << c.rd;
        EXPECT_EQ(hix_diagcode(1), c.number) << c.sz << " " << c.rd;
        EXPECT_EQ(static_cast<unsigned>(hix_errorcode(1)), c.code) << c.sz << " " << c.rd;
    }
    EXPECT_EQ(hix_burst_set_param_int(1, nullptr, 1), -1);
    EXPECT_STREQ(hix_errortext(1), "param not found");
    EXPECT_EQ(hix_burst_set_param_double(1, nullptr, 1.0), -1);
    EXPECT_STREQ(hix_errortext(1), "param not found");
    EXPECT_EQ(hix_failed(0), 0) << "the other instance is not touched";
}

TEST_F(HixParams, OnlyTheDoubleSetterClearsAFailure)
{
    ASSERT_EQ(hix_burst_set_param_int(0, "CCH", 7), -1);
    EXPECT_EQ(hix_burst_set_param_int(0, "CCH", 2), -1);
    EXPECT_STREQ(hix_errortext(0), "bad parameter");
    EXPECT_EQ(hix_diagcode(0), 7);
    EXPECT_EQ(hix_burst_set_param_double(0, "CCH", 2), 0);
    EXPECT_EQ(hix_failed(0), 0);
    EXPECT_STREQ(hix_errortext(0), "");
    EXPECT_EQ(hix_burst_set_param_int(0, "CCH", 1), 0);
}

}  // namespace
