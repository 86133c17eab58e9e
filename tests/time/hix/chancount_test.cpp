// The event counter of one channel, fed with the capture and wrap counts of
// the board's FIFO lines.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "stdapihix.h"

namespace {

using CC = StdApiHixBurst::ChanCount;

// A feed: 'c' capture, 'w' wrap, 'r' read of the count (its result is kept).
struct Step {
    char k;
    int n;
};

std::vector<int> run(CC& cc, const std::vector<Step>& steps)
{
    std::vector<int> mpc;
    for (const Step& s : steps) {
        if (s.k == 'c')
            cc.capt(s.n);
        else if (s.k == 'w')
            cc.wrap(s.n);
        else
            mpc.push_back(cc.c());
    }
    return mpc;
}

TEST(ChanCount, Intervals)
{
    struct Case {
        const char* what;
        int fCont;
        std::vector<Step> steps;
        std::vector<int> counts;
    } cases[] = {
        {"two captures", 0, {{'c', 100}, {'c', 350}, {'r', 0}}, {250}},
        {"one wrap between", 0, {{'c', 60000}, {'w', 65535}, {'c', 200}, {'r', 0}}, {5735}},
        {"two wraps between", 0, {{'c', 65000}, {'w', 65535}, {'w', 65535}, {'c', 7}, {'r', 0}}, {535 + 65535 + 7}},
        {"not complete", 0, {{'r', 0}, {'c', 5}, {'r', 0}}, {-1, -1}},
        {"continuous chains", 1, {{'c', 10}, {'c', 20}, {'r', 0}, {'r', 0}, {'c', 35}, {'r', 0}}, {10, -1, 15}},
        {"continuous across a wrap", 1, {{'c', 65530}, {'c', 65534}, {'r', 0}, {'w', 65535}, {'c', 3}, {'r', 0}}, {4, 4}},
        {"single needs two new captures", 0, {{'c', 1}, {'c', 2}, {'r', 0}, {'c', 40}, {'r', 0}, {'c', 50}, {'r', 0}},
         {1, -1, 10}},
        // A wrap before the interval's first capture belongs to no interval.
        {"wrap before the first capture", 0, {{'w', 65535}, {'c', 10}, {'c', 20}, {'r', 0}}, {10}},
        {"wrap between two single intervals", 0,
         {{'c', 100}, {'c', 200}, {'r', 0}, {'w', 65535}, {'c', 300}, {'c', 450}, {'r', 0}}, {100, 150}},
        {"two wraps before the first capture", 1, {{'w', 65535}, {'w', 65535}, {'c', 9}, {'c', 19}, {'r', 0}}, {10}},
    };
    for (const Case& c : cases) {
        CC cc;
        cc.reset(c.fCont);
        EXPECT_EQ(run(cc, c.steps), c.counts) << c.what;
    }
}

TEST(ChanCount, StatesAndPrintForm)
{
    CC cc;
    auto print = [&] {
        std::ostringstream os;
        os << cc;
        return os.str();
    };
    EXPECT_EQ(cc.eState(), CC::ceInit);
    EXPECT_EQ(print(), "s=0 c=-1 p=-1 w=0");
    cc.capt(60000);
    cc.wrap(65535);
    EXPECT_EQ(print(), "s=1 c=-1 p=0 w=5535");
    cc.capt(200);
    EXPECT_TRUE(cc.isDone());
    EXPECT_EQ(print(), "s=2 c=200 p=0 w=5535 t=5735");
    cc.capt(300);  // a capture after the count was complete
    EXPECT_EQ(cc.eState(), CC::ceFail);
    EXPECT_EQ(cc.c(), -1);
    cc.reset(1);
    EXPECT_EQ(print(), "s=0 c=-1 p=-1 w=0");
    EXPECT_EQ(cc._fCont, 1);
}

TEST(ChanCount, HugeWrapSumsStayInRange)
{
    CC cc;
    cc.capt(0);
    for (int k = 0; k < 40000; ++k)
        cc.wrap(65535);
    cc.capt(0);
    EXPECT_EQ(cc.c(), INT32_MAX);
}

}  // namespace
