#include "delta.h"
#include "fifobase.h"
#include "stckbase.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

namespace {

std::vector<int> walk(const FifoBase& ff, bool fHT)
{
    FifoIter it;
    std::vector<int> v;
    if (fHT) {
        ff.strtIterHT(&it);
        for (int i; (i = ff.iterHT(&it)) != -1;)
            v.push_back(i);
    } else {
        ff.strtIterTH(&it);
        for (int i; (i = ff.iterTH(&it)) != -1;)
            v.push_back(i);
    }
    return v;
}

TEST(Fifo, SlotsWrapAroundTheCapacity)
{
    FifoBase ff(3);
    int fWasEmpty = -1;
    EXPECT_EQ(ff.iPut(&fWasEmpty), 0);
    EXPECT_EQ(fWasEmpty, 1);
    EXPECT_EQ(ff.iPut(&fWasEmpty), 1);
    EXPECT_EQ(fWasEmpty, 0);
    EXPECT_EQ(ff.iGet(), 0);
    EXPECT_EQ(ff.iPut(), 2);
    EXPECT_EQ(ff.iPut(), 0);
    EXPECT_EQ(ff.ffFull(), 1);
    EXPECT_EQ(walk(ff, true), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(walk(ff, false), (std::vector<int>{0, 2, 1}));

    int fWasFull = -1;
    EXPECT_EQ(ff.iGet(&fWasFull), 1);
    EXPECT_EQ(fWasFull, 1);
    EXPECT_EQ(ff.iGet(&fWasFull), 2);
    EXPECT_EQ(fWasFull, 0);
    EXPECT_EQ(ff.iGet(), 0);
    EXPECT_EQ(ff.ffEmpty(), 1);
    EXPECT_TRUE(walk(ff, true).empty());
}

TEST(Fifo, UnputTakesTheLastPutBack)
{
    FifoBase ff(4);
    ff.iPut();
    ff.iGet();
    ff.iPut();  // slot 1
    EXPECT_EQ(ff.iPut(), 2);
    int fWasFull = -1;
    EXPECT_EQ(ff.iUnput(&fWasFull), 2);
    EXPECT_EQ(fWasFull, 0);
    EXPECT_EQ(ff.iPut(), 2);
}

TEST(Stack, PushPopAndBottomToTop)
{
    StackBase st(2);
    int f = -1;
    EXPECT_EQ(st.iPush(&f), 0);
    EXPECT_EQ(f, 1);
    EXPECT_EQ(st.iPush(), 1);
    EXPECT_EQ(st.stFull(), 1);
    StackBase::Iter it;
    st.strtIterBT(&it);
    std::vector<int> v;
    for (int i; (i = st.iterBT(&it)) != -1;)
        v.push_back(i);
    EXPECT_EQ(v, (std::vector<int>{0, 1}));
    EXPECT_EQ(st.iPop(&f), 1);
    EXPECT_EQ(f, 1);
    EXPECT_EQ(st.iPop(), 0);
    EXPECT_EQ(st.stEmpty(), 1);
    EXPECT_EQ(st.iPush(nullptr), 0);  // a missing flag is not written
}

TEST(VersPool, AlternatingSetsOrderLiveVersions)
{
    VersPool vp(2);
    EXPECT_EQ(vp.alloc(), 0);
    EXPECT_EQ(vp.alloc(), 2);
    EXPECT_EQ(vp.alloc(), 1);  // set 0 used up: set 1 is current
    EXPECT_EQ(vp.alloc(), 3);
    EXPECT_EQ(vp.alloc(), VERS_NIL);
    EXPECT_EQ(vp.lt(2, 1), 1);
    EXPECT_EQ(vp.lt(1, 3), 1);
    EXPECT_EQ(vp.lt(3, 0), 0);

    vp.free(0);
    vp.free(2);  // set 0 starts again
    vp.free(VERS_NIL);  // nothing handed out: ignored
    EXPECT_EQ(vp._mpSet[1]._c, 2);
    EXPECT_EQ(vp.alloc(), 0);
    EXPECT_EQ(vp.lt(3, 0), 1);  // 0 belongs to the current set
    EXPECT_EQ(vp.lt(0, 3), 0);
    EXPECT_EQ(vp.lt(1, 3), 1);
}

TEST(VersPool, FreeIgnoresAVersionItsSetNeverHandedOut)
{
    VersPool vp(3);
    EXPECT_EQ(vp.alloc(), 0);
    EXPECT_EQ(vp.alloc(), 2);
    for (vers_t v : {4, 6, 1000, INT_MAX - 1})
        vp.free(v);  // set 0 has not reached them: ignored
    vp.free(2);
    EXPECT_EQ(vp._mpSet[0]._c, 1);
    EXPECT_EQ(vp.alloc(), 4);  // 0 is still live: not handed out again
    vp.free(0);
    vp.free(4);
    EXPECT_EQ(vp.alloc(), 0);  // now the set has started again
}

TEST(VersPool, SpecialVersionsBelowAndAboveEveryOther)
{
    VersPool vp(3);
    vers_t v = vp.alloc();
    for (vers_t x : {v, VERS_ABOVE}) {
        EXPECT_EQ(vp.lt(VERS_BELOW, x), 1) << x;
        EXPECT_EQ(vp.lt(x, VERS_BELOW), 0) << x;
    }
    for (vers_t x : {v, VERS_BELOW})
        EXPECT_EQ(vp.lt(x, VERS_ABOVE), 1) << x;
    EXPECT_EQ(vp.lt(VERS_ABOVE, 5), 0);
    EXPECT_EQ(vp.lt(VERS_ABOVE, VERS_ABOVE), 0);
}

TEST(IndexArithmeticDeath, BrokenInvariantsStop)
{
    struct Case {
        const char* what;
        std::function<void()> f;
        const char* report;
    } cases[] = {
        {"fifo get empty", [] { FifoBase(1).iGet(); }, "Assertion failed: !ffEmpty\\(\\), file fifobase, line 9"},
        {"fifo unput empty", [] { FifoBase(1).iUnput(); }, "Assertion failed: !ffEmpty\\(\\), file fifobase, line 19"},
        {"fifo put full", [] { FifoBase ff(1); ff.iPut(); ff.iPut(); }, "Assertion failed: !ffFull\\(\\), file fifobase, line 31"},
        {"fifo capacity 0", [] { FifoBase ff(0); }, "Assertion failed: c, file fifobase, line 68"},
        {"fifo capacity negative", [] { FifoBase ff(-2); }, "Assertion failed: c, file fifobase, line 68"},
        {"stack pop empty", [] { int f; StackBase(1).iPop(&f); }, "Assertion failed: !stEmpty\\(\\), file stckbase, line 9"},
        {"stack pop", [] { StackBase(1).iPop(); }, "Assertion failed: !stEmpty\\(\\), file stckbase, line 19"},
        {"stack push full", [] { int f; StackBase st(1); st.iPush(); st.iPush(&f); }, "Assertion failed: !stFull\\(\\), file stckbase, line 27"},
        {"stack push", [] { StackBase st(1); st.iPush(); st.iPush(); }, "Assertion failed: !stFull\\(\\), file stckbase, line 36"},
        {"stack capacity negative", [] { StackBase st(-1); }, "Assertion failed: c, file stckbase, line 50"},
        {"free not in use", [] { VersPool(1).free(0); }, "Assertion failed: ps->_c, file delta, line 16"},
        {"lt nil", [] { VersPool(1).lt(VERS_NIL, VERS_ABOVE); }, "Assertion failed: vsL != VERS_NIL && vsR != VERS_NIL, file delta, line 42"},
        {"lt not handed out", [] { VersPool vp(2); vp.alloc(); vp.lt(0, 2); }, "Assertion failed: psL->_i > vsL && psR->_i > vsR, file delta, line 56"},
        {"pool of none", [] { VersPool vp(0); }, "Assertion failed: ps->_iLim > ps->_i, file delta, line 69"},
    };
    for (const Case& c : cases)
        EXPECT_DEATH(c.f(), c.report) << c.what;
}

}  // namespace
