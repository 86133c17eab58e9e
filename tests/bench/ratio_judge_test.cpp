// A benchmark's goal is judged on the ratio as it is printed, so that the
// line with the ratio and the verdict never disagree.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ratio_reporter.h"

namespace {

TEST(BenchRatio, TheVerdictIsThatOfThePrintedRatio)
{
    struct Row {
        double rTimes, rGoalMax;
        const char* szTimes;
        bool fMet;
    };
    const Row rows[] = {
        {20.0, 20, "20.00", true},   {20.004, 20, "20.00", true}, {20.006, 20, "20.01", false},
        {19.996, 20, "20.00", true}, {1.04, 1, "1.04", false},    {0.995, 1, "0.99", true},
        {1.0049, 1, "1.00", true},   {8.5, 8, "8.50", false},     {0.23, 1, "0.23", true},
    };
    for (const Row& r : rows) {
        kvbench::Verdict v = kvbench::judge(r.rTimes, r.rGoalMax);
        EXPECT_STREQ(v.szTimes, r.szTimes) << r.rTimes;
        EXPECT_EQ(v.fMet, r.fMet) << r.rTimes;
        EXPECT_EQ(v.fMet, std::strtod(v.szTimes, nullptr) <= r.rGoalMax) << r.rTimes;
    }
}

}  // namespace
