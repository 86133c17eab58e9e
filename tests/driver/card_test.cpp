// Board and channel objects: positions over the module, the open
// bookkeeping, the one attached request, the 32-bit block and the board log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "kv_kernel.h"
#include "test_modules.h"
#include "wmcard.h"

namespace {

class TestCard : public Card {
public:
    using Card::Card;
    Chan* open(ChanIter*) override { return nullptr; }
    void close(Chan*) override {}
    int print(char*, long) override { return 0; }
    NTSTATUS pnpStartDevice(PDEVICE_OBJECT, PIRP) override { return STATUS_SUCCESS; }
    NTSTATUS pnpStopDevice(PDEVICE_OBJECT, PIRP) override { return STATUS_SUCCESS; }
};

class TestChan : public Chan {
public:
    using Chan::Chan;
    ~TestChan() = default;
    int start() override { return 1; }
};

class CardTest : public ::testing::Test {
protected:
    CardTest() : wm(&drvtest::ykTwo), card(&wm, &wmCardSlots()[3], nullptr), chan(&card, 0, 1)
    {
        drvtest::ykTwo._pFct();
        wm._fDebug = 0xFFFFFFFF;
        pfBefore = fexSetAssertHook(wmAssert);
    }
    ~CardTest() override { fexSetAssertHook(pfBefore); }

    kstub::Kernel k;
    Wm wm;
    TestCard card;
    TestChan chan;
    FexAssertHook pfBefore;
};

TEST_F(CardTest, WalkVisitsEveryChannelOfEveryDriverOnceThenEnds)
{
    std::vector<std::pair<ULONG, ULONG>> walk;
    ChanIter it;
    EXPECT_EQ(it.iDriver(), 0xFFFFFFFFu);
    for (card.first(&it); !card.isEnd(it); card.next(&it))
        walk.push_back({it.iDriver(), it.iChanOfDriver()});
    EXPECT_EQ(walk, (std::vector<std::pair<ULONG, ULONG>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    EXPECT_FALSE(card.valid(ChanIter(0, 2)));
    EXPECT_FALSE(card.valid(ChanIter(2, 0)));
    EXPECT_FALSE(card.valid(ChanIter(0, 0xFFFFFFFFu)));
}

TEST_F(CardTest, ChannelBitExistsOnlyForIndexesAMaskCanHold)
{
    EXPECT_EQ(ChanIter(0, 0).bit(), 1u);
    EXPECT_EQ(ChanIter(0, 31).bit(), 0x80000000u);
    EXPECT_EQ(ChanIter(0, 32).bit(), 0u);
    EXPECT_EQ(ChanIter(0, 0xFFFFFFFFu).bit(), 0u);
}

TEST_F(CardTest, OpensOfOneDriverAreCountedAndRefusedWithTheirCodes)
{
    EXPECT_EQ(card.openFirst(ChanIter(0, 2)), -1);
    EXPECT_EQ(card.openFirst(ChanIter(0, 0)), 0);
    EXPECT_EQ(card.openFirst(ChanIter(0, 1)), -2) << "already open";
    EXPECT_EQ(card.openNext(ChanIter(0, 0)), -3);
    EXPECT_EQ(card.openNext(ChanIter(1, 0)), -1) << "another driver";
    EXPECT_EQ(card.openNext(ChanIter(0, 5)), -2);
    EXPECT_EQ(card.openNext(ChanIter(0, 1)), 0);
    EXPECT_EQ(card._fOpen, 3u);
    EXPECT_EQ(card.pup()->szName(), std::string("qir"));
    card.closeAt(ChanIter(0, 0));
    EXPECT_TRUE(card.isDriver());
    card.closeAt(ChanIter(0, 1));
    EXPECT_FALSE(card.isDriver());
    EXPECT_EQ(card._fOpen, 0u);
}

TEST_F(CardTest, SecondRequestIsRefusedAndTheFirstStaysAttached)
{
    IRP a{}, b{};
    EXPECT_EQ(chan.attachIrp(&a), 1);
    EXPECT_EQ(chan.attachIrp(&b), 0);
    EXPECT_EQ(chan.pIrp(), &a);
    // A refused attach leaves the trace to the holder of the request (whose
    // detach may be writing it).
    chan._uTrace = 7u << 16;
    EXPECT_EQ(chan.attachIrp(&b), 0);
    EXPECT_EQ(chan._uTrace, 7u << 16);
    EXPECT_EQ(chan.detachIrp("test", 5), &a);
    EXPECT_EQ(chan.pIrp(), nullptr);
    EXPECT_EQ(chan._uTrace, 5u << 16);
    EXPECT_EQ(chan.attachIrp(&b), 1);
    EXPECT_EQ(chan._uTrace, 0u);
    chan.detachIrp("test", 6);
}

TEST_F(CardTest, ReadToggleStartsAtOpenAndFlips)
{
    chan.open();
    EXPECT_EQ(chan.fRead(), 1);
    EXPECT_EQ(chan.toggleRead(), 0);
    EXPECT_EQ(chan.toggleRead(), 1);
    chan.open();
    EXPECT_EQ(chan._cOpen, 2u);
    chan.close();
    EXPECT_TRUE(k.log().contains("kqir3: close, cOpen=2"));
}

// Reads of one handle on four threads at once (they start together) flip
// the toggle once each: after every round it is the parity of the reads,
// and the values returned alternate (as many texts as ends of file, give or
// take the odd one). A flip lost now and then shows in a round or two, so
// there are many.
TEST_F(CardTest, ReadToggleOfFourThreadsEndsAtTheParityOfTheReads)
{
    const int cThreads = 4;
    for (int iRound = 0; iRound < 24; ++iRound) {
        const int cPerThread = iRound == 0 ? 1 : 20000 + iRound;
        SCOPED_TRACE(cPerThread);
        chan.open();
        std::atomic<int> cZero{0};
        std::atomic<int> cReady{0};
        std::vector<std::thread> mpt;
        for (int i = 0; i < cThreads; ++i)
            mpt.emplace_back([&] {
                for (++cReady; cReady < cThreads;) {
                }
                for (int n = 0; n < cPerThread; ++n)
                    if (chan.toggleRead() == 0)
                        ++cZero;
            });
        for (std::thread& t : mpt)
            t.join();
        int cReads = cThreads * cPerThread;
        EXPECT_EQ(chan.fRead(), (1 + cReads) % 2);
        EXPECT_EQ(cZero.load(), (cReads + 1) / 2);
        chan.close();
    }
}

TEST_F(CardTest, BlockOfA32BitCallerIsWidenedWithItsSignAndItsLowHalvesWrittenBack)
{
    uint32_t mpu[12];
    for (unsigned i = 0; i < 12; ++i)
        mpu[i] = 0x1000 * (i + 1);
    mpu[9] = 0x80000000u;   // _du limit
    mpu[11] = 0x7FFFFF00u;  // _du base
    ASSERT_TRUE(chan.mdlIoc().map(mpu, sizeof mpu, UserMode, IoModifyAccess).isGood());
    chan.prepare(cbYekIoc32);
    EXPECT_TRUE(chan.isThunked());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(chan.ioc()->_du._pchLimBuf), 0xFFFFFFFF80000000ull);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(chan.ioc()->_cd._pchLimBuf), 0x1000u);
    EXPECT_TRUE(k.log().contains("kqir3: 9 80000000 FFFFFFFF80000000"));
    chan.setDataLimit(iRecDu, 0x20);
    EXPECT_EQ(mpu[10], 0xB000u) << "the caller's block changes only at the write-back";
    chan.writeBack();
    EXPECT_EQ(mpu[10], 0x7FFFFF20u);
    EXPECT_EQ(mpu[9], 0x80000000u);
    EXPECT_EQ(mpu[0], 0x1000u);
    EXPECT_TRUE(k.log().contains("kqir3: 10 000000007FFFFF20 7fffff20"));
    chan.mdlIoc().unmap();
}

TEST_F(CardTest, BlockOfA64BitCallerIsCopiedOnceAndItsDataLimitsSetInPlace)
{
    char data[16];
    YekIoc ioc{};
    ioc._du = YekMemStruct{data + 16, data, data};
    ASSERT_TRUE(chan.mdlIoc().map(&ioc, sizeof ioc, UserMode, IoModifyAccess).isGood());
    chan.prepare(cbYekIoc);
    EXPECT_FALSE(chan.isThunked());
    ioc._du._pchBase = data + 8;  // a change after the copy does not count
    chan.setDataLimit(iRecDu, 3);
    EXPECT_EQ(ioc._du._pchLimDat, data + 3);
    EXPECT_EQ(chan.ioc()->_du._pchLimDat, data + 3);
    chan.writeBack();
    EXPECT_EQ(ioc._du._pchBase, data + 8) << "nothing else is written back";
    chan.mdlIoc().unmap();
}

TEST_F(CardTest, BoardLineOfAFailedBoardEndsWithItsStatus)
{
    card.log(fWmErr, "all well %d", 1);
    card.setFailed("wmbus", 12);
    card.log(fWmErr, "Card construction failed");
    wm._fDebug = 0;
    card.log(fWmErr, "silent");
    auto r = k.log().records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], "kqir3: all well 1\n");
    EXPECT_EQ(r[1], "kqir3: Card construction failed (stat=1 (wmbus 12))\n");
}

using CardDeathTest = CardTest;

TEST_F(CardDeathTest, BrokenInvariantsStopTheSystem)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(card.pup(), "STOP 0x002A0001.*\"wmcard      \"");
    EXPECT_DEATH(card.closeAt(ChanIter(0, 0)), "STOP 0x002A0001.*\"wmcard      \"");
    // A detach without a request tells where the last one was detached.
    IRP a{};
    chan.attachIrp(&a);
    chan.detachIrp("wmdisp", 5);
    EXPECT_DEATH(chan.detachIrp("wmdisp", 7), "\"wmdisp      \", parameter 4 = 327687");
}

}  // namespace
