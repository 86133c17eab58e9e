#include "chan_spy.h"
#include "yek_c.h"

#include <gtest/gtest.h>

using namespace yekc_test;

namespace {

// A plexer that relies on the base sigDown: it handles one message per call
// and releases it at once.
class ReleasingPlex : public YekPlex {
public:
    explicit ReleasingPlex(SignalLog* plog) : YekPlex("rel"), _plog(plog) {}
    int putDown(int iCtx, Pmd pmd, int hChan) override
    {
        _plog->add("putDown " + std::to_string(iCtx) + " h" + std::to_string(hChan));
        _pcn->releaseDown(iCtx, pmd);
        return 0;
    }
    SignalLog* _plog;
    YekChannel* _pcn = nullptr;
};

TEST(Plexer, BaseSignalsTakeOneMessageAndRelyOnTheReleaseToSignalAgain)
{
    SignalLog log;
    SpyChannel cn(&log);
    ReleasingPlex px(&log);
    px._pcn = &cn;
    EXPECT_STREQ(px.szName(), "rel");
    EXPECT_EQ(px.openChannel("0", &cn), -1);
    px.closeChannel(0);

    // Two queued before attaching, then a third that signals.
    cn.putDownBuf(1, cn.allocDownBuf());
    cn.putDownBuf(1, cn.allocDownBuf());
    cn.initPlex(&px, 3, 0);
    cn.putDownBuf(2, cn.allocDownBuf());
    EXPECT_EQ(log.take(), "putDown 2 h3 putDown 2 h3 putDown 2 h3 sigPut 2 sigPut 2 sigPut 2");
    EXPECT_EQ(cn.pollOut(), 4);
}

TEST(PlexerDeath, BaseWithoutOverridesStopsOnTheFirstMessage)
{
    EXPECT_DEATH(
        {
            SignalLog log;
            SpyChannel cn(&log);
            YekPlex px("bare");
            cn.initPlex(&px, 0, 0);
            cn.putDownBuf(0, cn.allocDownBuf());
        },
        "Assertion failed: 0, file yek_driver, line 237");
    EXPECT_DEATH(
        {
            SignalLog log;
            SpyChannel cn(&log);
            YekPlex px("bare");
            cn.initPlex(&px, 0, 0);
            for (int k = 0; k < 4; ++k)
                cn.putUp(0, cn.allocUp(0), false);
            cn.releaseUpBuf(0, cn.getUpBuf());
        },
        "Assertion failed: 0, file yek_driver, line 236");
}

class TestCard : public YekCard {
public:
    int interrupt(int) override { return 0; }
    int timer(int, const Time&) override { return 0; }
};

class TestDriver : public YekDriver {
public:
    TestDriver(const char* sz, YekCard* pca, SignalLog* plog) : YekDriver(sz, pca), _plog(plog) {}
    const YekProto* pup(int) const override { return nullptr; }
    int vinit() override
    {
        _plog->add(std::string("vinit ") + szName());
        return _iInit;
    }
    void vfini() override { _plog->add(std::string("vfini ") + szName()); }
    int interrupt(int) override { return 0; }
    int timer(int, const Time&) override { return 0; }

    SignalLog* _plog;
    int _iInit = 0;
};

struct DriverTest : ::testing::Test {
    SignalLog log;
    TestCard ca;
    TestDriver ud1{"one", &ca, &log};
    TestDriver ud2{"two", &ca, &log};
    void SetUp() override
    {
        ca.addDriver(&ud1);
        ca.addDriver(&ud2);
    }
};

TEST_F(DriverTest, OneOpenDriverPerBoard)
{
    EXPECT_EQ(ud1.init(), 0);
    EXPECT_EQ(ca.pudCur(), &ud1);
    EXPECT_EQ(ud2.init(), -1);  // vinit is not called
    EXPECT_EQ(ca.pudCur(), &ud1);
    EXPECT_EQ(ca.clrDriver(&ud2), -1);
    EXPECT_EQ(ca.pudCur(), &ud1);

    ud1.fini();
    EXPECT_EQ(ca.pudCur(), nullptr);
    EXPECT_EQ(ud2.init(), 0);
    EXPECT_EQ(log.take(), "vinit one vfini one vinit two");
}

TEST_F(DriverTest, FailedStartReleasesTheBoard)
{
    ud1._iInit = 5;
    EXPECT_EQ(ud1.init(), 5);
    EXPECT_EQ(ca.pudCur(), nullptr);
    EXPECT_EQ(ud2.init(), 0);
}

TEST_F(DriverTest, FiniDrainsEveryChannelWithoutSignals)
{
    SpyChannel cn1(&log), cn2(&log);
    ud1.addChannel(&cn1);
    ud1.addChannel(&cn2);
    ASSERT_EQ(ud1.init(), 0);
    cn1.initPlex(&ud1, 0, 0);
    cn1.putUp(0, cn1.allocUp(0), false);
    cn2.allocDownBuf();
    log.take();

    ud1.fini();
    EXPECT_EQ(log.take(), "vfini one");
    EXPECT_EQ(cn1.pollIn(), 0);
    EXPECT_EQ(cn1.pcnYkuPool()->count(), 4u);
    EXPECT_EQ(cn2.pollOut(), 4);

    ChainIterator it;
    ud1.startIterChannels(&it);
    EXPECT_EQ(ud1.iterChannels(&it), &cn1);
    EXPECT_EQ(ud1.iterChannels(&it), &cn2);
    EXPECT_EQ(ud1.iterChannels(&it), nullptr);
    ca.startIterDrivers(&it);
    EXPECT_EQ(ca.iterDrivers(&it), &ud1);
    EXPECT_EQ(ca.iterDrivers(&it), &ud2);
    EXPECT_EQ(ca.iterDrivers(&it), nullptr);
}

TEST_F(DriverTest, PrintWritesAnEmptyText)
{
    char sz[4] = "xyz";
    EXPECT_EQ(ud1.print(sz, 4), sz);
    EXPECT_STREQ(sz, "");
    sz[0] = 'x';
    EXPECT_EQ(ca.print(sz, 0), sz);
    EXPECT_EQ(sz[0], 'x');
}

TEST(DriverDeath, InitWithoutBoard)
{
    SignalLog log;
    TestDriver ud("none", nullptr, &log);
    EXPECT_DEATH(ud.init(), "Assertion failed: pca\\(\\), file yek_driver, line 252");
}

// A host that records its callbacks.
struct Host {
    static SignalLog* plog;
    static void tiNextTick(YekTimespec* pts)
    {
        pts->tv_sec = 10;
        pts->tv_nsec = 700000000;
    }
    static std::string name(void* h) { return h ? static_cast<const char*>(h) : "null"; }
    static void sigGet(int iCtx, void* h) { plog->add("get " + std::to_string(iCtx) + " " + name(h)); }
    static void sigPut(int iCtx, void* h) { plog->add("put " + std::to_string(iCtx) + " " + name(h)); }
};
SignalLog* Host::plog = nullptr;

// A host channel with buffers of its own.
class HostChannel : public YekChanKern {
public:
    explicit HostChannel(YekMsgSig* pue) : YekChanKern(pue)
    {
        initPoolDown(new YekMsgBuf);
        initPoolUp(new YekMsgBuf);
    }
    ~HostChannel() override
    {
        finiQueues();
        finiPools();
    }
    void finiPool(Link* pl) override { delete pmbOf(pl); }
};

TEST(HostEnv, NextTimerTimeAddsToTheHostsTick)
{
    const YekEnvC tbl = {&Host::tiNextTick, nullptr, nullptr};
    YekEnvRed ue(&tbl);
    Time ti = ue.tiNext(Time(0, 500000000));
    EXPECT_TRUE(ti == Time(11, 200000000)) << ti;

    // No table or no clock callback: the host time stays zero.
    const YekEnvC tblNone = {nullptr, nullptr, nullptr};
    EXPECT_TRUE(YekEnvRed(&tblNone).tiNext(Time(1, 2)) == Time(1, 2));
    EXPECT_TRUE(YekEnvRed(nullptr).tiNext(Time(3, 4)) == Time(3, 4));
}

TEST(HostEnv, ChannelSignalsReachTheCallbacksWithTheHandle)
{
    SignalLog log;
    Host::plog = &log;
    const YekEnvC tbl = {nullptr, &Host::sigGet, &Host::sigPut};
    YekEnvRed ue(&tbl);
    HostChannel cn(&ue);
    EXPECT_EQ(cn.pup(), nullptr);
    EXPECT_EQ(cn.pue(), &ue);

    cn.putUp(1, cn.allocUp(0), true);  // before any setHandle
    static char szHandle[] = "chan7";
    EXPECT_EQ(&cn.setHandle(szHandle), &cn);
    EXPECT_EQ(cn.getHandle(), szHandle);
    cn.putDownBuf(2, cn.allocDownBuf());
    cn.releaseDown(3, cn.getDown(3));
    EXPECT_EQ(log.take(), "get 1 null put 3 chan7");
}

TEST(HostEnv, MissingSinksAndCallbacksDoNothing)
{
    SignalLog log;
    Host::plog = &log;
    const YekEnvC tblNone = {nullptr, nullptr, nullptr};
    const YekEnvC tblGetOnly = {nullptr, &Host::sigGet, nullptr};
    const YekEnvC tblPutOnly = {nullptr, nullptr, &Host::sigPut};
    YekEnvRed ueNone(&tblNone), ueNull(nullptr), ueGetOnly(&tblGetOnly), uePutOnly(&tblPutOnly);
    struct Case {
        const char* szSink;
        YekMsgSig* pue;
        const char* szSignals;
    } cases[] = {
        {"a table without callbacks", &ueNone, ""},
        {"no table", &ueNull, ""},
        {"no host environment", nullptr, ""},
        {"a table without the put callback", &ueGetOnly, "get 1 null"},
        {"a table without the get callback", &uePutOnly, "put 3 null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szSink);
        HostChannel cn(c.pue);
        cn.putUp(1, cn.allocUp(0), true);
        cn.putDownBuf(2, cn.allocDownBuf());
        cn.releaseDown(3, cn.getDown(3));
        EXPECT_EQ(log.take(), c.szSignals);
        // The buffers moved all the same: the up message waits for the host,
        // the down buffer is back in its pool.
        EXPECT_EQ(cn.pollIn(), 1);
        EXPECT_EQ(cn.pollOut(), 1);
    }
}

}  // namespace
