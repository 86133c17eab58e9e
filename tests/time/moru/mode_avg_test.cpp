// The frequency and period mode on FIFO lines worked out by hand: the
// seconds conversion, prescaler and decimation, blocks, results, failures
// and the trace.
#include "moru.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "fifo_lines.h"
#include "wire_bytes.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;

std::vector<Timer> stored(const ModeAvg& m)
{
    return std::vector<Timer>(m._dqTimes.begin(), m._dqTimes.end());
}

TEST(Seconds, AsTime)
{
    struct Row {
        double rd;
        unsigned sec, nsec;
    } mp[] = {
        {1.5, 1, 500000000},
        {0.9999999999, 0, 1000000000},  // rounded up, not carried
        {0.0, 0, 0},
        {2.25, 2, 250000000},
        {20.0, 20, 0},
        {4294967295.5, 4294967295u, 500000000},
        {5e9, 4294967295u, 999999999},  // past the seconds' range: the largest time
        {-1.0, 0, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0, 0},
    };
    for (const Row& r : mp) {
        Time t = ti(r.rd);
        EXPECT_EQ(t.tv_sec, r.sec) << r.rd;
        EXPECT_EQ(t.tv_nsec, r.nsec) << r.rd;
    }
}

TEST(ModeAvg, ConfigurationOfTheMode)
{
    ModeAvg m(1000, 10, ti(2.5));
    EXPECT_EQ(m.cFifo(), 1);
    EXPECT_EQ(m.ptc(), nullptr);
    EXPECT_EQ(m.tc().eType(), 7);
    EXPECT_EQ(m.tc().size(), 100u);
    EXPECT_EQ(m.tc().cLimit(0), 11u);
    EXPECT_EQ(m.tc().cLimit(1), 0u);
    EXPECT_EQ(m.tc().eEdge(0), 102u);
    EXPECT_EQ(m.tc().eEdge(1), 114u);
    EXPECT_EQ(m.tc().cScale(), 1u);
    EXPECT_EQ(m.tiTmo().tv_sec, 2u);
    EXPECT_EQ(m.tiTmo().tv_nsec, 500000000u);
    EXPECT_FALSE(m.fEdgeRise(0));
    EXPECT_TRUE(m.fEdgeRise(1));
    EXPECT_FALSE(m.fModeFilt(1));
    m.init(&tc2n5);
    EXPECT_EQ(m.ptc(), &tc2n5);
    EXPECT_EQ(m.tc().cScale(), 1000u);
    EXPECT_TRUE(m.isGood());
}

TEST(ModeAvg, PrescalerAndDecimation)
{
    struct Row {
        u32 cAverage, cScale, cRep;
    } mp[] = {
        {1, 1, 1}, {32767, 32767, 1}, {32768, 16384, 2}, {65534, 21844, 3}, {100000, 25000, 4},
    };
    for (const Row& r : mp) {
        ModeAvg m(r.cAverage, 0, ti(1.0));
        std::ostringstream os;
        m._pos = &os;
        m.init(&tc2n5);
        EXPECT_EQ(m.tc().cScale(), r.cScale) << r.cAverage;
        EXPECT_EQ(m._cRep, r.cRep) << r.cAverage;
        EXPECT_EQ(os.str(), "scale: " + std::to_string(r.cAverage) + " " + std::to_string(r.cRep) + " " +
                                std::to_string(r.cScale) + "\n");
    }
}

TEST(ModeAvg, TimeoutInFractionUnits)
{
    struct Row {
        double rd;
        Timer tm;
    } mp[] = {{1.0, 360000036}, {20.0, 7200000720}, {0.001, 360000}, {35.791390554, Timer(1073741823) * 12}};
    for (const Row& r : mp) {
        ModeAvg m(1, 0, ti(r.rd));
        m.init(&tc2n5);
        EXPECT_TRUE(m.isGood()) << r.rd;
        EXPECT_EQ(m._tmTmo, r.tm) << r.rd;
    }
}

TEST(ModeAvg, SetUpThatCannotBeUsedFailsTheMode)
{
    // The tick conversion stops short of 2^30 ticks.
    ModeAvg mLong(1, 0, KVdepYek100::Time(35, 791390555));
    mLong.init(&tc2n5);
    EXPECT_EQ(text(mLong), "stat=fail (timeout out of range) 35");
    ModeAvg mHuge(1, 0, ti(1e6));
    mHuge.init(&tc2n5);
    EXPECT_EQ(text(mHuge), "stat=fail (timeout out of range) 1000000");

    ModeAvg mZero(0, 0, ti(1.0));
    mZero.init(&tc2n5);
    EXPECT_EQ(text(mZero), "stat=fail (averaging factor 0) 0");

    // Sampled before init: no time core to decode with.
    ModeAvg mRaw(1, 0, ti(1.0));
    feed(mRaw, hitLine(100, false));
    EXPECT_EQ(text(mRaw), "stat=fail (mode not configured) 0");
    EXPECT_TRUE(mRaw._dqTimes.empty());
}

TEST(ModeAvg, DecimationKeepsTheFirstAndEveryNthStamp)
{
    ModeAvg m(100000, 0, ti(10.0));
    m.init(&tc2n5);
    std::string sg;
    for (int k = 1; k <= 9; ++k)
        sg += hitLine(1000 * k, false);
    feed(m, sg);
    EXPECT_TRUE(m.isGood());
    EXPECT_EQ(stored(m), (std::vector<Timer>{1000, 5000, 9000}));
    EXPECT_EQ(m.cMeas(), 2u);
}

TEST(ModeAvg, BlocksEndTheLoop)
{
    std::string sg;
    for (int k = 1; k <= 15; ++k)
        sg += hitLine(100 * k, false);

    ModeAvg m(1, 10, ti(10.0));
    m.init(&tc2n5);
    feed(m, sg.substr(0, 10 * 8));
    EXPECT_FALSE(m.isDone());
    EXPECT_EQ(m.cSamp(), 9u);
    feed(m, sg.substr(10 * 8));
    EXPECT_TRUE(m.isDone());
    EXPECT_EQ(m._dqTimes.size(), 11u);
    EXPECT_EQ(m.cSamp(), 10u);

    ModeAvg mOpen(1, 0, ti(10.0));
    mOpen.init(&tc2n5);
    feed(mOpen, sg);
    EXPECT_FALSE(mOpen.isDone());
    EXPECT_EQ(mOpen.cSamp(), 14u);

    // A new block after clear; the epoch base stays.
    m._tmEpoch = 5 * fpe;
    m.clear();
    EXPECT_EQ(m.cSamp(), 0u);
    feed(m, hitLine(12, false));
    EXPECT_EQ(stored(m), std::vector<Timer>{5 * fpe + 12});
}

TEST(ModeAvg, FrequencyAndPeriodOfStoredIntervals)
{
    // Every 1000th period of a 1 kHz signal: stamps one second apart, across
    // epochs.
    ModeAvg m(1000, 0, ti(10.0));
    m.init(&tc2n5);
    FifoLines fl(false);
    fl.at(777).at(777 + fracsPerSecond).at(777 + 2 * fracsPerSecond + 36000);
    feed(m, fl.take());
    ASSERT_EQ(stored(m), (std::vector<Timer>{777, 777 + fracsPerSecond, 777 + 2 * fracsPerSecond + 36000}));
    EXPECT_EQ(m.cSamp(), 2u);
    EXPECT_DOUBLE_EQ(m.rdFreq(), 1000.0);
    EXPECT_EQ(m.cSamp(), 1u);
    // 1.0001 s for 1000 periods.
    EXPECT_DOUBLE_EQ(m.rdPeriod(), 1.0001 / 1000);
    EXPECT_EQ(m._dqTimes.size(), 1u);
    EXPECT_EQ(m.rdFreq(), 0.0);
    EXPECT_EQ(m.rdPeriod(), 0.0);
    EXPECT_TRUE(m.isGood());
}

TEST(ModeAvg, AveragingBeyondThePrescaler)
{
    // 100 kHz, averaged over 100000 periods: the server stamps every 25000th
    // period (0.25 s), the mode keeps every 4th stamp, one a second.
    ModeAvg m(100000, 2, ti(10.0));
    m.init(&tc2n5);
    FifoLines fl(false);
    for (int k = 0; k <= 9; ++k)
        fl.at(5000 + int64_t(90000000) * k);
    feed(m, fl.take());
    EXPECT_TRUE(m.isDone());
    EXPECT_EQ(stored(m), (std::vector<Timer>{5000, 5000 + fracsPerSecond, 5000 + 2 * fracsPerSecond}));
    EXPECT_DOUBLE_EQ(m.rdFreq(), 100000.0);
    EXPECT_DOUBLE_EQ(m.rdPeriod(), 1e-5);
}

TEST(ModeAvg, LinesThatFailTheMode)
{
    struct Row {
        const char* sz;
        double rdTmo;
        std::string sgLines;
        std::string sgStat;
        size_t cStored;
    };
    const Row mp[] = {
        {"overflow", 10.0, hitLine(100, false) + flagLine(fOflow) + hitLine(200, false),
         "stat=fail (fifo overflow) 0", 1},
        {"arm first is accepted", 10.0, flagLine(fArm) + hitLine(100, false), "stat=good () 0", 1},
        {"arm after a stamp", 10.0, hitLine(100, false) + flagLine(fArm) + hitLine(200, false),
         "stat=fail (arm without clear) 0", 1},
        {"hit just inside the window", 1.0, FifoLines(false).at(1000).at(1000 + 360000035).take(), "stat=good () 0",
         2},
        {"hit at the limit", 1.0, FifoLines(false).at(1000).at(1000 + 360000036).take(), "stat=fail (timeout) 0", 1},
        {"hit at the limit on an epoch line", 1.0,
         hitLine(1000, false) + hitLine(1000 + 360000036 - fpe, false, fWrap | fEpoch), "stat=fail (timeout) 0", 1},
        {"epoch at the limit", 1.0, hitLine(1000, false) + flagLine(fEpoch) + flagLine(fEpoch),
         "stat=fail (timeout) 0", 1},
        {"epochs alone start the window", 1.0, flagLine(fEpoch) + flagLine(fEpoch) + flagLine(fEpoch),
         "stat=fail (timeout) 0", 0},
        {"hit without an edge", 10.0, line(0, 0x000, 0, fWrap, 5), "stat=fail (edge index out of range) 0", 0},
        {"edge index past the edges", 10.0, line(0, 0xF00, 3, fWrap | 7, 5),
         "stat=fail (edge index out of range) 3", 0},
        {"event capture is no hit", 10.0, hitLine(100, false, fEcap), "stat=good () 0", 0},
        {"short rest dropped", 10.0, hitLine(100, false) + hitLine(200, false).substr(0, 7), "stat=good () 0", 1},
    };
    for (const Row& r : mp) {
        ModeAvg m(1, 0, ti(r.rdTmo));
        m.init(&tc2n5);
        feed(m, r.sgLines);
        EXPECT_EQ(text(m), r.sgStat) << r.sz;
        EXPECT_EQ(m._dqTimes.size(), r.cStored) << r.sz;
    }
}

TEST(ModeAvg, ArmAfterClearIsAccepted)
{
    ModeAvg m(1, 0, ti(10.0));
    m.init(&tc2n5);
    feed(m, hitLine(100, false) + hitLine(200, false));
    m.clear();
    feed(m, flagLine(fArm) + hitLine(300, false));
    EXPECT_TRUE(m.isGood());
    EXPECT_EQ(stored(m), std::vector<Timer>{300});
}

TEST(ModeAvg, TimerWrap)
{
    ModeAvg m(1, 0, ti(10.0));
    m.init(&tc2n5);
    m._tmEpoch = std::numeric_limits<Timer>::max() - 100;
    feed(m, flagLine(fEpoch) + hitLine(100, false));
    EXPECT_EQ(text(m), "stat=fail (timer wrap) 0");
    EXPECT_TRUE(m._dqTimes.empty());
}

TEST(ModeAvg, FailedModeDecodesNothingMore)
{
    ModeAvg m(1, 0, ti(10.0));
    m.init(&tc2n5);
    feed(m, flagLine(fOflow));
    feed(m, hitLine(100, false) + hitLine(200, false));
    EXPECT_EQ(text(m), "stat=fail (fifo overflow) 0");
    EXPECT_TRUE(m._dqTimes.empty());
}

TEST(ModeAvg, FifoIndexFromTheServerIsChecked)
{
    for (int iFifo : {1, -1, 7}) {
        ModeAvg m(1, 0, ti(10.0));
        m.init(&tc2n5);
        feed(m, hitLine(100, false), iFifo);
        EXPECT_EQ(text(m), "stat=fail (fifo index out of range) " + std::to_string(iFifo));
        EXPECT_TRUE(m._dqTimes.empty());
    }
}

TEST(ModeAvg, StampsThatDoNotGoForwardGiveNoFrequency)
{
    ModeAvg m(1, 0, ti(10.0));
    m.init(&tc2n5);
    feed(m, hitLine(500, false) + hitLine(500, false) + hitLine(400, false) + hitLine(900, false));
    ASSERT_EQ(m.cSamp(), 3u);
    EXPECT_EQ(m.rdFreq(), 0.0);
    EXPECT_EQ(text(m), "stat=fail (stamps out of order) 0");
    EXPECT_EQ(m.rdPeriod(), 0.0);
    EXPECT_EQ(m.cSamp(), 1u);
}

TEST(ModeAvg, LineStreamGoesOnAcrossSampleCalls)
{
    ModeAvg m(1, 0, ti(10.0));
    m.init(&tc2n5);
    feed(m, hitLine(100, false) + flagLine(fEpoch));
    feed(m, hitLine(24, false));
    EXPECT_EQ(stored(m), (std::vector<Timer>{100, fpe + 24}));
}

TEST(ModeAvg, TracesTheScaleEachLineItDecodesAndHowEachCallEnds)
{
    ModeAvg m(1, 2, ti(10.0));
    std::ostringstream os;
    m._pos = &os;
    m.init(&tc2n5);
    feed(m, hitLine(100, false) + flagLine(fEpoch) + hitLine(25, false) + hitLine(37, false) +
                hitLine(50, false));
    EXPECT_EQ(os.str(),
              "scale: 1 1 1\n"
              "0000000f.0f080000 111.111100000000  WRAP 8  96 4 100\n"
              "00000000.20000000 000.000000000000  EPOCH\n"
              "00000008.0f020000 111.100000000000  WRAP 2  24 1 201326617\n"
              "00000008.0f030000 111.100000000000  WRAP 3  36 1 201326629\n"
              " *\n");

    // A failed mode decodes nothing more, yet every call ends its trace so.
    ModeAvg mFail(1, 0, ti(10.0));
    mFail.init(&tc2n5);
    EXPECT_EQ(tracesAfterOverflow(mFail, 2),
              (std::vector<std::string>{"00000000.80000000 000.000000000000  SCAN OFLOW X\n", " X\n", " X\n"}));
}

}  // namespace
