// The two-FIFO modes on FIFO lines worked out by hand: pairing of leading
// and trailing stamps, segments, blocks per FIFO, pulse width and pulse
// phases, failures and the trace.
#include "moru.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "fifo_lines.h"
#include "wire_bytes.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;

std::vector<Timer> times(const ModeDual& m, int i)
{
    return std::vector<Timer>(m.dqTimes(i).begin(), m.dqTimes(i).end());
}

template <class M>
M configured(u32 cBlock = 0, double rdTmo = 10.0)
{
    M m(0, cBlock, ti(rdTmo));
    m.init(&tc2n5);
    return m;
}

TEST(ModeDual, ConfigurationOfTheModes)
{
    ModePulseWidth w(3, 5, ti(1.0));
    std::ostringstream os;
    os << w.tc();
    EXPECT_EQ(os.str(),
              "size=100 type=0x7 cScale=1 fIgnFirst= 0 0 cLimit= 0 0 eFilt= 0 0 eEdge= 102 114 eFil= 0 0 eEna= 0 0 "
              "eArm= 0 0 eExc= 0 0 eFiExc= 0 0 eFiArm= 0 0 eFiEna= 0 0");
    EXPECT_EQ(w.cFifo(), 2);
    EXPECT_EQ(w.cBlock(), 5u);
    EXPECT_EQ(w._eMode, 3);
    w.init(&tc2n5);
    EXPECT_EQ(w.tc().cScale(), 1u);
    EXPECT_EQ(w._tmTmo, 360000036);
    ModePulse p(4, 5, ti(1.0));
    EXPECT_EQ(p._cExtraLE, 1u);
    EXPECT_EQ(w._cExtraLE, 0u);
    EXPECT_EQ(p.pardPulse(), std::make_pair(0.0, 0.0));
}

TEST(ModeDual, TrailingStampsBeforeTheFirstLeadingOneAreDropped)
{
    ModePulseWidth m = configured<ModePulseWidth>();
    std::ostringstream os;
    m._pos = &os;
    feed(m, leading({100, 300}), ModeDual::LE);
    feed(m, trailing({50, 150, 350}), ModeDual::TE);
    EXPECT_EQ(times(m, ModeDual::LE), (std::vector<Timer>{100, 300}));
    EXPECT_EQ(times(m, ModeDual::TE), (std::vector<Timer>{150, 350}));
    EXPECT_EQ(os.str(),
              "0 0000000f.0f080000 111.111100000000  WRAP 8  96 0 4 100\n"
              "0 00000000.0f190000 111.000000000000  WRAP 25  300 0 0 300 $\n"
              "1 0000ff03.08040000 000.001111111111  WRAP 4  48 0 2 50 x\n"
              "1 00003f00.080c0000 000.000000111111  WRAP 12  144 0 6 150\n"
              "1 0000ff03.081d0000 000.001111111111  WRAP 29  348 0 2 350 $\n");
}

TEST(ModeDual, SamplesCountLeadingStampsBeyondTheExtraOnes)
{
    struct Row {
        bool fPulse;
        std::vector<int64_t> ilTE;
        u32 cSamp;
    } mp[] = {
        {true, {200, 400}, 2},
        {false, {200, 400}, 2},
        {false, {200, 400, 600}, 3},
        {true, {200, 400, 600}, 2},
    };
    for (const Row& r : mp) {
        ModePulse p = configured<ModePulse>();
        ModePulseWidth w = configured<ModePulseWidth>();
        ModeDual& m = r.fPulse ? static_cast<ModeDual&>(p) : static_cast<ModeDual&>(w);
        feed(m, leading({100, 300, 500}), ModeDual::LE);
        feed(m, trailing(r.ilTE), ModeDual::TE);
        EXPECT_EQ(m.cSamp(), r.cSamp) << r.fPulse << " " << r.ilTE.size();
    }
}

TEST(ModePulse, PhasesOfOnePeriod)
{
    ModePulse m = configured<ModePulse>();
    feed(m, leading({0, 3600000}), ModeDual::LE);
    feed(m, trailing({1200000}), ModeDual::TE);
    std::pair<double, double> pr = m.pardPulse();
    EXPECT_DOUBLE_EQ(pr.first, 1.0 / 300);
    EXPECT_DOUBLE_EQ(pr.second, 1.0 / 150);
    EXPECT_EQ(m._pardPulse, pr);
    EXPECT_EQ(times(m, ModeDual::LE), std::vector<Timer>{3600000});
    EXPECT_TRUE(times(m, ModeDual::TE).empty());

    // One leading stamp is no whole period: nothing consumed.
    feed(m, trailing({4000000}), ModeDual::TE);
    EXPECT_EQ(m.pardPulse(), std::make_pair(0.0, 0.0));
    EXPECT_EQ(times(m, ModeDual::LE), std::vector<Timer>{3600000});
    EXPECT_EQ(times(m, ModeDual::TE), std::vector<Timer>{4000000});
    EXPECT_TRUE(m.isGood());
}

TEST(ModePulseWidth, WidthsOfThePairs)
{
    ModePulseWidth m = configured<ModePulseWidth>();
    feed(m, leading({100, 300}), ModeDual::LE);
    feed(m, trailing({136, 300 + 360000}), ModeDual::TE);
    EXPECT_DOUBLE_EQ(m.rdPulseWidth(), 1e-7);
    EXPECT_DOUBLE_EQ(m.rdPulseWidth(), 1e-3);
    EXPECT_EQ(m.rdPulseWidth(), 0.0);
    EXPECT_TRUE(m.isGood());
}

TEST(ModeDual, StampsOutOfOrderGiveNoResult)
{
    // A trailing stamp at its leading one, and a leading edge lost between
    // two trailing ones.
    ModePulseWidth w = configured<ModePulseWidth>();
    feed(w, leading({100}), ModeDual::LE);
    feed(w, trailing({100}), ModeDual::TE);
    EXPECT_EQ(w.rdPulseWidth(), 0.0);
    EXPECT_EQ(text(w), "stat=fail (stamps out of order) 0");
    EXPECT_EQ(w.cSamp(), 0u);

    ModePulseWidth w2 = configured<ModePulseWidth>();
    feed(w2, leading({100, 300}), ModeDual::LE);
    feed(w2, trailing({150, 200}), ModeDual::TE);
    EXPECT_DOUBLE_EQ(w2.rdPulseWidth(), 50 / 360e6);
    EXPECT_TRUE(w2.isGood());
    EXPECT_EQ(w2.rdPulseWidth(), 0.0);
    EXPECT_EQ(text(w2), "stat=fail (stamps out of order) 0");

    ModePulse p = configured<ModePulse>();
    feed(p, leading({100, 200}), ModeDual::LE);
    feed(p, trailing({300}), ModeDual::TE);
    EXPECT_EQ(p.pardPulse(), std::make_pair(0.0, 0.0));
    EXPECT_EQ(text(p), "stat=fail (stamps out of order) 0");
}

TEST(ModeDual, ArmStartsANewSegmentOfItsFifo)
{
    ModePulseWidth m = configured<ModePulseWidth>();
    feed(m, leading({100, 300}), ModeDual::LE);
    feed(m, trailing({200, 400}), ModeDual::TE);
    EXPECT_EQ(m.cSamp(), 2u);
    feed(m, flagLine(fArm), ModeDual::TE);
    EXPECT_EQ(m.cSamp(), 0u);
    EXPECT_EQ(m._mpdqSeg[ModeDual::TE].size(), 2u);
    EXPECT_EQ(m.rdPulseWidth(), 0.0);
    feed(m, trailing({500}), ModeDual::TE);
    EXPECT_EQ(times(m, ModeDual::TE), std::vector<Timer>{500});
    EXPECT_EQ(m.cSamp(), 1u);
    EXPECT_DOUBLE_EQ(m.rdPulseWidth(), 400 / 360e6);
    // An arm line with a hit: the stamp opens the new segment.
    feed(m, hitLine(900, false, fWrap | fArm), ModeDual::LE);
    EXPECT_EQ(times(m, ModeDual::LE), std::vector<Timer>{900});
}

TEST(ModeDual, EachFifoFillsItsOwnBlock)
{
    // All trailing stamps came first: the leading FIFO must still fill up.
    ModePulseWidth w = configured<ModePulseWidth>(2);
    feed(w, leading({100}), ModeDual::LE);
    feed(w, trailing({200, 400, 600}), ModeDual::TE);
    EXPECT_EQ(times(w, ModeDual::TE), (std::vector<Timer>{200, 400}));
    EXPECT_FALSE(w.isDone());
    feed(w, leading({300, 500}), ModeDual::LE);
    EXPECT_EQ(times(w, ModeDual::LE), (std::vector<Timer>{100, 300}));
    EXPECT_TRUE(w.isDone());
    EXPECT_EQ(w.cSamp(), 2u);

    // The leading FIFO of a pulse mode takes one stamp beyond the block.
    ModePulse p = configured<ModePulse>(2);
    feed(p, leading({100, 300, 500, 700}), ModeDual::LE);
    EXPECT_EQ(times(p, ModeDual::LE), (std::vector<Timer>{100, 300, 500}));
    feed(p, trailing({200, 400, 600}), ModeDual::TE);
    EXPECT_EQ(times(p, ModeDual::TE), (std::vector<Timer>{200, 400}));
    EXPECT_TRUE(p.isDone());
}

TEST(ModeDual, OnlyTheLeadingFifoIsTimed)
{
    ModePulseWidth w = configured<ModePulseWidth>(0, 1.0);
    feed(w, trailing({1000, 1000 + 3 * fracsPerSecond}), ModeDual::TE);
    EXPECT_TRUE(w.isGood());
    EXPECT_EQ(times(w, ModeDual::TE).size(), 2u);
    feed(w, leading({1000, 1000 + 2 * fracsPerSecond}), ModeDual::LE);
    EXPECT_EQ(text(w), "stat=fail (timeout) 0");

    ModePulseWidth wWrap = configured<ModePulseWidth>();
    wWrap._mptmEpoch[ModeDual::TE] = std::numeric_limits<Timer>::max() - 100;
    feed(wWrap, flagLine(fEpoch), ModeDual::TE);
    EXPECT_TRUE(wWrap.isGood());
    wWrap._mptmEpoch[ModeDual::LE] = std::numeric_limits<Timer>::max() - 100;
    feed(wWrap, flagLine(fEpoch), ModeDual::LE);
    EXPECT_EQ(text(wWrap), "stat=fail (timer wrap) 0");
}

TEST(ModeDual, LinesAndIndexesThatFailTheMode)
{
    struct Row {
        const char* sz;
        std::string sgLines;
        int iFifo;
        std::string sgStat;
    };
    const Row mp[] = {
        {"overflow on the trailing FIFO", trailing({100}) + flagLine(fOflow), 1, "stat=fail (fifo overflow) 0"},
        {"overflow on the leading FIFO", flagLine(fOflow), 0, "stat=fail (fifo overflow) 0"},
        {"edge index past the edges", line(0, 0x0FF, 2, fWrap, 9), 1, "stat=fail (edge index out of range) 2"},
        {"hit without an edge", line(0, 0xFFF, 0, fWrap | 7, 9), 1, "stat=fail (edge index out of range) 0"},
        {"third FIFO", trailing({100}), 2, "stat=fail (fifo index out of range) 2"},
        {"negative FIFO", trailing({100}), -1, "stat=fail (fifo index out of range) -1"},
    };
    for (const Row& r : mp) {
        ModePulseWidth m = configured<ModePulseWidth>();
        feed(m, r.sgLines, r.iFifo);
        EXPECT_EQ(text(m), r.sgStat) << r.sz;
    }
}

TEST(ModeDual, TraceMarksTheDoneLine)
{
    ModePulseWidth m = configured<ModePulseWidth>(1);
    feed(m, leading({100}), ModeDual::LE);
    std::ostringstream os;
    m._pos = &os;
    feed(m, trailing({150, 200}), ModeDual::TE);
    EXPECT_EQ(os.str(), "1 00003f00.080c0000 000.000000111111  WRAP 12  144 0 6 150 *\n");
}

}  // namespace
