// The flat entry points as a host uses them: boards, drivers and a host
// channel whose signals reach the host through its callback table.
#include "chan_spy.h"
#include "yek_c.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>

using namespace yekc_test;

namespace {

const char szSig[] = "(//)(/Int4:u_int/)";

class FlatCard : public YekCard {
public:
    int interrupt(int iCtx) override { return iCtx + 100; }
    int timer(int iCtx, const Time& now) override
    {
        _now = now;
        return iCtx;
    }
    char* print(char* pch, int cch) const override
    {
        std::snprintf(pch, static_cast<size_t>(cch), "card");
        return pch;
    }
    Time _now;
};

// A driver that serves one protocol on every channel and hands each down
// message to a hook.
class FlatDriver : public YekDriver {
public:
    FlatDriver(const char* sz, YekCard* pca, const YekProto* pup) : YekDriver(sz, pca), _pup(pup) {}
    const YekProto* pup(int) const override { return _pup; }
    int interrupt(int) override { return 0; }
    int timer(int, const Time&) override { return 0; }
    void sigDown(int iCtx, YekChannel* pcn, int) override
    {
        if (onDown)
            onDown(iCtx, pcn);
    }
    void sigUp(int, YekChannel*, int) override { ++_cSigUp; }

    const YekProto* _pup;
    std::function<void(int, YekChannel*)> onDown;
    int _cSigUp = 0;
};

// A host channel with two buffers of each kind.
class FlatChannel : public YekChanKern {
public:
    explicit FlatChannel(YekMsgSig* pue) : YekChanKern(pue)
    {
        for (int k = 0; k < 2; ++k) {
            initPoolDown(new YekMsgBuf);
            initPoolUp(new YekMsgBuf);
        }
    }
    ~FlatChannel() override
    {
        finiQueues();
        finiPools();
    }
    void finiPool(Link* pl) override { delete pmbOf(pl); }
};

TEST(FlatCard, EntryPointsCallTheBoard)
{
    FlatCard ca;
    YekTimespec ts{3, 4};
    EXPECT_EQ(YekCard_timer(&ca, 7, &ts), 7);
    EXPECT_EQ(ca._now.tv_sec, 3u);
    EXPECT_EQ(ca._now.tv_nsec, 4u);
    EXPECT_EQ(YekCard_interrupt(&ca, 2), 102);
    char sz[8];
    EXPECT_EQ(YekCard_print(&ca, sz, sizeof sz), sz);
    EXPECT_STREQ(sz, "card");
}

TEST(FlatCard, WalksOverDriversAndChannelsAndOneDriverOpens)
{
    FlatCard ca;
    YekProto pro(szSig, "abc");
    FlatDriver ud1("one", &ca, &pro), ud2("two", &ca, &pro);
    FlatChannel cn1(nullptr), cn2(nullptr);
    ca.addDriver(&ud1);
    ca.addDriver(&ud2);
    ud2.addChannel(&cn1);
    ud2.addChannel(&cn2);

    YekIter it;
    std::memset(&it, 0xEE, sizeof it);  // the host's block need not be cleared
    YekCard_startIterDrivers(&ca, &it);
    std::string sg;
    while (YekDriver* pud = YekCard_iterateDrivers(&ca, &it))
        sg += std::string(YekDriver_szName(pud)) + " ";
    EXPECT_EQ(sg, "one two ");
    EXPECT_EQ(YekCard_iterateDrivers(&ca, &it), nullptr);

    YekDriver_startIterChannels(&ud2, &it);
    EXPECT_EQ(YekDriver_iterateChannels(&ud2, &it), &cn1);
    EXPECT_EQ(YekDriver_iterateChannels(&ud2, &it), &cn2);
    EXPECT_EQ(YekDriver_iterateChannels(&ud2, &it), nullptr);
    YekDriver_startIterChannels(&ud1, &it);
    EXPECT_EQ(YekDriver_iterateChannels(&ud1, &it), nullptr);

    EXPECT_EQ(YekDriver_init(&ud1), 0);
    EXPECT_EQ(YekDriver_init(&ud2), -1);
    YekDriver_fini(&ud1);
    EXPECT_EQ(YekDriver_init(&ud2), 0);
    char sz[4] = "xyz";
    EXPECT_EQ(YekDriver_print(&ud2, sz, sizeof sz), sz);
    EXPECT_STREQ(sz, "");
}

TEST(FlatChannel, ProtocolTextComesFromTheAttachedDriver)
{
    FlatCard ca;
    YekProto pro(szSig, "abc");
    FlatDriver ud("abc", &ca, &pro);
    FlatDriver udNone("none", &ca, nullptr);
    SignalLog log;
    SpyPlex px(&log);
    FlatChannel cn(nullptr);

    EXPECT_EQ(YekChanKern_szProto(&cn), nullptr) << "not attached";
    cn.initPlex(&px, 0, 0);
    EXPECT_EQ(YekChanKern_szProto(&cn), nullptr) << "a plexer that is no driver";
    cn.finiPlex();
    cn.initPlex(&udNone, 1, 0);
    EXPECT_EQ(YekChanKern_szProto(&cn), nullptr) << "a driver without protocol";
    cn.finiPlex();
    cn.initPlex(&ud, 1, 0);
    EXPECT_EQ(YekChanKern_szProto(&cn), szSig);
    EXPECT_EQ(YekChanKern_num(&cn), 1);
}

// The host side: a callback table whose functions record what they see and
// take the queued up messages with the entry points.
struct HostLog {
    static SignalLog* plog;
    static void* hSeen;
    static void tiNextTick(YekTimespec* pts) { *pts = {1, 2}; }
    static void sigGet(int iCtx, void* h)
    {
        hSeen = h;
        YekChanKern* pcn = static_cast<YekChanKern*>(h);
        plog->add("get " + std::to_string(iCtx) + " n=" + std::to_string(YekChanKern_canget(pcn)));
        while (YekMsgBuf* pmb = YekChanKern_getUpBuf(pcn)) {
            const YekControlStruct* pucs = YekMsgUpBuf_pControl(pmb);
            std::string sgData(YekMsgUpBuf_pData(pmb), YekMsgUpBuf_sizeData(pmb));
            plog->add("up size=" + std::to_string(YekMsgUpBuf_sizeControl(pmb)) + " type=" +
                      std::to_string(pucs->_eType) + " data=" + sgData);
            YekChanKern_releaseUpBuf(pcn, iCtx, pmb);
        }
    }
    static void sigPut(int iCtx, void* h)
    {
        hSeen = h;
        plog->add("put " + std::to_string(iCtx));
    }
};
SignalLog* HostLog::plog = nullptr;
void* HostLog::hSeen = nullptr;

struct HostChannelTest : ::testing::Test {
    SignalLog log;
    YekEnvC envC{&HostLog::tiNextTick, &HostLog::sigGet, &HostLog::sigPut};
    YekEnvRed env{&envC};
    FlatCard ca;
    YekProto pro{szSig, "abc"};
    FlatDriver ud{"abc", &ca, &pro};
    FlatChannel cn{&env};
    void SetUp() override
    {
        HostLog::plog = &log;
        HostLog::hSeen = nullptr;
        // The host keeps its own object as the handle; here the channel itself.
        YekChanKern_setHandle(&cn, &cn);
        cn.initPlex(&ud, 0, 0);
    }
};

TEST_F(HostChannelTest, EmptyUpQueueGivesNothing)
{
    EXPECT_EQ(YekChanKern_getUpBuf(&cn), nullptr);
    EXPECT_EQ(YekChanKern_canget(&cn), 0);
    EXPECT_EQ(YekChanKern_canput(&cn), 2);
}

TEST_F(HostChannelTest, DownMessageReachesTheDriverAndItsReleaseTheHost)
{
    std::string sgSeen;
    ud.onDown = [&](int iCtx, YekChannel* pcn) {
        Pmd pmd = pcn->getDown(iCtx);
        std::string sgData;
        while (pmd->pub()->sgetc() != -1)
            sgData += static_cast<char>(pmd->pub()->sbumpc_checked());
        sgSeen = "down " + std::to_string(iCtx) + " size=" + std::to_string(pmd->puc()->size()) +
                 " type=" + std::to_string(pmd->puc()->eType()) + " data=" + sgData;
        pcn->releaseDown(iCtx, pmd);
    };

    YekMsgBuf* pmb = YekChanKern_allocDownBuf(&cn);
    ASSERT_NE(pmb, nullptr);
    EXPECT_EQ(YekChanKern_canput(&cn), 1);
    EXPECT_EQ(YekMsgDownBuf_sizeDataMax(pmb), 512u);
    YekControlStruct* pucs = YekMsgDownBuf_pControl(pmb);
    *pucs = {12, 7};
    std::memcpy(YekMsgDownBuf_pData(pmb), "abcdef", 6);
    YekMsgDownBuf_setDataLim(pmb, 3);
    YekChanKern_putDownBuf(&cn, 5, pmb);

    EXPECT_EQ(sgSeen, "down 5 size=12 type=7 data=abc");
    EXPECT_EQ(log.take(), "put 5");
    EXPECT_EQ(HostLog::hSeen, &cn);
    EXPECT_EQ(YekChanKern_canput(&cn), 2);
}

TEST_F(HostChannelTest, DataLimitStaysInsideTheDataArea)
{
    YekMsgBuf* pmb = YekChanKern_allocDownBuf(&cn);
    YekMsgDownBuf_setDataLim(pmb, 513);
    EXPECT_EQ(pmb->cGet(), 512u);
}

TEST_F(HostChannelTest, UpMessagesAreTakenAndReleasedByTheHost)
{
    for (const char* sz : {"xy", ""}) {
        Pmu pmu = cn.allocUp(512);
        ASSERT_NE(pmu, nullptr);
        new (pmu->puc()) YekControl(9, 16);
        for (const char* p = sz; *p; ++p)
            pmu->pup()->sputc(*p);
        cn.putUp(6, pmu, false);
    }
    cn.putUp(6, nullptr, true);
    EXPECT_EQ(log.take(), "get 6 n=2 up size=16 type=9 data=xy up size=16 type=9 data=");
    EXPECT_EQ(HostLog::hSeen, &cn);
    EXPECT_EQ(YekChanKern_canget(&cn), 0);
    // The released buffers refilled an empty up pool: the driver was told once.
    EXPECT_EQ(ud._cSigUp, 1);
}

}  // namespace
