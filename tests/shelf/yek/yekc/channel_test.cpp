#include "chan_spy.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace yekc_test;

namespace {

struct ChannelTest : ::testing::Test {
    SignalLog log;
    SpyPlex px{&log};
    SpyChannel cn{&log};

    // A down message filled by the user side and queued.
    YekMsgBuf* queueDown(int iCtx)
    {
        YekMsgBuf* p = cn.allocDownBuf();
        cn.putDownBuf(iCtx, p);
        return p;
    }
};

TEST_F(ChannelTest, FreshChannelPrintsFourFreeBuffersEachWay)
{
    std::ostringstream os;
    cn.printQueues(os);
    EXPECT_EQ(os.str(), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
    EXPECT_EQ(cn.pux(), nullptr);
    EXPECT_EQ(cn.hChan(), -1);
    EXPECT_EQ(cn.pollOut(), 4);
    EXPECT_EQ(cn.pollIn(), 0);
}

TEST_F(ChannelTest, RequestAndAnswerGoAroundInTheGivenOrder)
{
    cn.initPlex(&px, 7, 0);

    Pmu pmu = cn.allocUp(512);
    ASSERT_NE(pmu, nullptr);
    EXPECT_EQ(pmu->chain(), cn.pcnYkuDriver());
    EXPECT_EQ(pmu->pup()->cGet(), 512u);  // room to write
    cn.putUp(1, pmu, true);
    EXPECT_EQ(log.take(), "sigGet 1");
    EXPECT_EQ(cn.pollIn(), 1);

    YekMsgBuf* pmb = cn.getUpBuf();
    EXPECT_EQ(pmb, pmu);
    EXPECT_TRUE(cn.isYkuUser());
    cn.releaseUpBuf(2, pmb);
    EXPECT_EQ(log.take(), "");  // the pool was not empty

    YekMsgBuf* pmbDown = queueDown(3);
    EXPECT_EQ(log.take(), "sigDown 3 h7");
    EXPECT_EQ(cn.peekDown(), pmbDown);
    Pmd pmd = cn.getDown(3);
    EXPECT_EQ(pmd, pmbDown);
    EXPECT_EQ(cn.pmdDown(0), pmd);
    cn.releaseDown(4, pmd);
    EXPECT_EQ(log.take(), "sigPut 4");

    std::ostringstream os;
    cn.printQueues(os);
    EXPECT_EQ(os.str(), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

TEST_F(ChannelTest, DriverLimitSilencesQueueingWhileTheDriverHoldsOne)
{
    cn.initPlex(&px, 5, 1);
    queueDown(1);
    queueDown(2);  // nothing taken yet: 0 held < 1, so both signal
    EXPECT_EQ(log.take(), "sigDown 1 h5 sigDown 2 h5");

    Pmd pmd = cn.getDown(3);
    queueDown(4);
    EXPECT_EQ(log.take(), "");
    cn.releaseDown(5, pmd);  // more queued: first the plexer, then the user side
    EXPECT_EQ(log.take(), "sigDown 5 h5 sigPut 5");
}

TEST_F(ChannelTest, DetachedChannelNeverCallsThePlexer)
{
    cn.initPlex(&px, 1, 0);
    cn.finiPlex();
    EXPECT_EQ(cn.hChan(), -1);
    queueDown(1);
    queueDown(2);
    cn.releaseDown(3, cn.getDown(3));
    for (int k = 0; k < 4; ++k)
        cn.putUp(4, cn.allocUp(0), false);
    YekMsgBuf* p = cn.getUpBuf();
    cn.releaseUpBuf(5, p);
    EXPECT_EQ(log.take(), "sigPut 3");  // the channel's own signals stay
}

TEST_F(ChannelTest, UpPoolSignalsOnlyWhenItRefillsFromEmpty)
{
    cn.initPlex(&px, 2, 0);
    for (int k = 0; k < 4; ++k)
        cn.putUp(1, cn.allocUp(16), false);
    EXPECT_EQ(cn.allocUp(16), nullptr);
    EXPECT_EQ(log.take(), "");

    cn.putUp(2, nullptr, true);  // flush without a message
    EXPECT_EQ(log.take(), "sigGet 2");
    YekMsgBuf* p1 = cn.getUpBuf();
    YekMsgBuf* p2 = cn.getUpBuf();
    cn.releaseUpBuf(3, p1);
    cn.releaseUpBuf(4, p2);
    EXPECT_EQ(log.take(), "sigUp 3 h2");

    while (YekMsgBuf* p = cn.getUpBuf())
        cn.releaseUpBuf(5, p);
    cn.putUp(6, nullptr, true);  // empty queue: nothing
    EXPECT_EQ(log.take(), "");
}

TEST_F(ChannelTest, PoolsAreLastInFirstOutAndQueuesFirstInFirstOut)
{
    YekMsgBuf* pa = cn.allocDownBuf();
    EXPECT_EQ(pa, cn._mpmbDown[3]);  // the pool's tail
    YekMsgBuf* pb = cn.allocDownBuf();
    cn.putDownBuf(0, pb);
    cn.putDownBuf(0, pa);
    Pmd pmd1 = cn.getDown(0);
    EXPECT_EQ(pmd1, pb);
    cn.releaseDown(0, pmd1);
    EXPECT_EQ(cn.allocDownBuf(), pb);  // released last, handed out first

    Pmu pmu = cn.allocUp(1);
    cn.putUp(0, pmu, false);
    cn.releaseUpBuf(0, cn.getUpBuf());
    EXPECT_EQ(cn.allocUp(1), pmu);
}

TEST_F(ChannelTest, ForcedAllocationDropsTheNewestQueuedMessage)
{
    Pmu mpmu[4];
    for (Pmu& pmu : mpmu) {
        pmu = cn.allocUp(8);
        cn.putUp(0, pmu, false);
    }
    Pmu pmu = cn.allocUpForced(8);
    EXPECT_EQ(pmu, mpmu[3]);
    EXPECT_EQ(cn.pollIn(), 3);
    EXPECT_EQ(pmu->chain(), cn.pcnYkuDriver());

    // With the queue empty too there is nothing to take.
    while (YekMsgBuf* p = cn.getUpBuf())
        cn.releaseUpBuf(0, p);
    for (int k = 0; k < 3; ++k)
        cn.allocUp(8);
    EXPECT_EQ(cn.allocUpForced(8), nullptr);
}

TEST_F(ChannelTest, InspectionOfHeldMessages)
{
    queueDown(0);
    queueDown(0);
    Pmd pmd0 = cn.getDown(0);
    Pmd pmd1 = cn.getDown(0);
    EXPECT_EQ(cn.pmdDown(0), pmd0);
    EXPECT_EQ(cn.pmdDown(1), pmd1);
    EXPECT_EQ(cn.pmdDown(2), nullptr);
    EXPECT_EQ(cn.peekDown(), nullptr);

    EXPECT_EQ(cn.pmuUp(0), nullptr);
    Pmu pmu = cn.allocUp(0);
    EXPECT_EQ(cn.pmuUp(0), pmu);
}

TEST_F(ChannelTest, TeardownReturnsEveryBufferToItsPoolInOrder)
{
    YekMsgBuf* pUser = cn.allocDownBuf();
    YekMsgBuf* pHeld = queueDown(0);
    YekMsgBuf* pQueued = queueDown(0);
    EXPECT_EQ(cn.getDown(0), pHeld);
    cn.putUp(0, cn.allocUp(0), false);
    cn.allocUp(0);
    cn.finiQueues();

    // Down pool: what stayed there, then the queue, the driver chain, the user chain.
    std::vector<Link*> v;
    ChainIterator it;
    cn.pcnYkdPool()->start_iter(&it);
    while (Link* pl = cn.pcnYkdPool()->iterate(&it))
        v.push_back(pl);
    std::vector<Link*> vExpected = {cn._mpmbDown[0], pQueued, pHeld, pUser};
    EXPECT_EQ(v, vExpected);
    EXPECT_EQ(cn.pcnYkuPool()->count(), 4u);
    EXPECT_EQ(log.take(), "");
}

TEST_F(ChannelTest, PlexerMayReenterFromInsideASignal)
{
    // A plexer that answers each down message at once with an up message.
    cn.initPlex(&px, 9, 0);
    px.onDown = [this](int iCtx, YekChannel* pcn) {
        Pmd pmd = pcn->getDown(iCtx);
        pcn->putUp(iCtx, pcn->allocUp(0), true);
        pcn->releaseDown(iCtx, pmd);
    };
    queueDown(1);
    EXPECT_EQ(log.take(), "sigDown 1 h9 sigGet 1 sigPut 1");
    EXPECT_EQ(cn.pollIn(), 1);
}

TEST(ChannelDeath, AssertionTexts)
{
    struct Case {
        const char* what;
        void (*f)(SpyChannel&);
        const char* report;
    } cases[] = {
        {"queue a buffer not being filled", [](SpyChannel& cn) { cn.putDownBuf(0, cn._mpmbDown[0]); },
         "Assertion failed: pYkd->chain\\(\\) == pcnYkdUser\\(\\), file yek_driver, line 159"},
        {"take from an empty queue", [](SpyChannel& cn) { cn.getDown(0); },
         "Assertion failed: pcnYkdQueue\\(\\)->head\\(\\), file yek_driver, line 89"},
        {"release a message not held", [](SpyChannel& cn) { cn.releaseDown(0, cn._mpmbDown[0]); },
         "Assertion failed: pmd->chain\\(\\) == pcnYkdDriver\\(\\), file yek_driver, line 119"},
        {"allocate more than the data area", [](SpyChannel& cn) { cn.allocUp(513); },
         "Assertion failed: sDataMax <= __SZ_DATA_MAX, file yek_driver, line 79"},
        {"put up an unchained message",
         [](SpyChannel&) {
             SignalLog log;
             SpyChannel cnOther(&log);
             YekMsgBuf mb;
             cnOther.putUp(0, &mb, false);
         },
         "Assertion failed: pmu->chain\\(\\), file yek_driver, line 60"},
        {"put up a pooled message", [](SpyChannel& cn) { cn.putUp(0, cn._mpmbUp[0], false); },
         "Assertion failed: pmu->chain\\(\\) == pcnYkuDriver\\(\\), file yek_driver, line 61"},
        {"release an up buffer not being sent", [](SpyChannel& cn) { cn.releaseUpBuf(0, cn._mpmbUp[0]); },
         "Assertion failed: pYku->chain\\(\\) == pcnYkuUser\\(\\), file yek_driver, line 182"},
        {"attach twice",
         [](SpyChannel& cn) {
             YekPlex px("p");
             cn.initPlex(&px, 0, 0);
             cn.initPlex(&px, 1, 0);
         },
         "Assertion failed: _pux == 0, file yek_driver, line 229"},
        {"second held up buffer", [](SpyChannel& cn) { cn.pmuUp(1); }, "Assertion failed: 0, file yek_driver, line 110"},
    };
    for (const Case& c : cases) {
        EXPECT_DEATH(
            {
                SignalLog log;
                SpyChannel cn(&log);
                c.f(cn);
            },
            c.report)
            << c.what;
    }
    // An empty pool answers null before the size is looked at.
    SignalLog log;
    SpyChannel cn(&log);
    for (int k = 0; k < 4; ++k)
        cn.allocUp(0);
    EXPECT_EQ(cn.allocUp(513), nullptr);
}

TEST(ChannelDeath, DestroyedWithABufferOutsideThePools)
{
    struct Bare : YekChannel {
        Bare() : YekChannel(nullptr) {}
        void sigGet(int) override {}
        void sigPut(int) override {}
    };
    EXPECT_DEATH(
        {
            YekMsgBuf mb;
            Bare* p = new Bare;
            p->initPoolDown(&mb);
            p->allocDownBuf();
            delete p;
        },
        "Assertion failed: _c==0, file list, line 50");
}

}  // namespace
