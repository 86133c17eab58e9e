// The totalizing mode and the pulse queue: counts between arm points from
// lines worked out by hand, and the 6-byte pulse records.
#include "moru.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "fifo_lines.h"
#include "wire_bytes.h"

namespace {

using namespace KVdepMoru100;
using namespace moru_test;

ModeTotalCount configured(u32 cSampRq = 0, double rdTmo = 1.0)
{
    ModeTotalCount m(2, cSampRq, ti(rdTmo));
    m.init(&tc2n5);
    return m;
}

TEST(ModeTotalCount, Configuration)
{
    ModeTotalCount m(2, 3, ti(1.0));
    EXPECT_EQ(m.cFifo(), 1);
    EXPECT_EQ(m._eMode, 2);
    EXPECT_EQ(m.tc().fIgnFirst(0), 1u);
    EXPECT_EQ(m.tc().fIgnFirst(1), 0u);
    EXPECT_EQ(m.tc().cLimit(0), 0u);
    EXPECT_EQ(m.tc().cScale(), 1u);
    m.init(&tc2n5);
    EXPECT_EQ(m.tc().cScale(), 32767u);
    EXPECT_EQ(m.tc().eEdge(0), 102u);
    EXPECT_TRUE(m.empty());  // the list base is the application's
}

TEST(ModeTotalCount, CountsAreRunningTotalsAtArmLines)
{
    ModeTotalCount m = configured();
    EXPECT_EQ(m.count(), 0);
    feed(m, hitLine(10, false) + hitLine(20, false) + flagLine(fArm, 100));
    EXPECT_EQ(m.cSamp(), 1u);
    EXPECT_EQ(m._ctEpoch, 65534);
    // An arm line that is a hit as well counts its cycle first.
    feed(m, flagLine(fEpoch) + line(5, 0xF00, 0, fWrap | fArm | 7, 3) + hitLine(30, false, fEcap));
    EXPECT_EQ(m.cSamp(), 2u);
    EXPECT_EQ(m.count(), 65634);
    EXPECT_EQ(m.count(), 3 * 32767 + 5);
    EXPECT_EQ(m.count(), 0);
    EXPECT_EQ(m._tmEpoch, fpe);
    EXPECT_TRUE(m.isGood());
}

TEST(ModeTotalCount, BlockEndsTheLoop)
{
    ModeTotalCount m = configured(2);
    feed(m, flagLine(fArm, 1) + hitLine(10, false) + flagLine(fArm, 2) + flagLine(fArm, 3));
    EXPECT_TRUE(m.isDone());
    EXPECT_EQ(m.cSamp(), 2u);
    EXPECT_EQ(m.count(), 1);
    EXPECT_EQ(m.count(), 32767 + 2);
    EXPECT_FALSE(m.isDone());
}

TEST(ModeTotalCount, NoTimeout)
{
    // Hits far apart on a 1 ms time-out.
    ModeTotalCount m = configured(0, 0.001);
    FifoLines fl(false);
    fl.at(100).at(100 + 5 * fracsPerSecond);
    feed(m, fl.take() + flagLine(fArm, 0));
    EXPECT_TRUE(m.isGood());
    EXPECT_EQ(m.count(), 2 * 32767);
}

TEST(ModeTotalCount, Failures)
{
    ModeTotalCount mOflow = configured();
    feed(mOflow, hitLine(10, false) + flagLine(fOflow) + flagLine(fArm, 1));
    EXPECT_EQ(text(mOflow), "stat=fail (fifo overflow) 0");
    EXPECT_EQ(mOflow.cSamp(), 0u);

    ModeTotalCount mWrap = configured();
    mWrap._tmEpoch = std::numeric_limits<Timer>::max() - 100;
    feed(mWrap, flagLine(fEpoch) + flagLine(fArm, 1));
    EXPECT_EQ(text(mWrap), "stat=fail (timer wrap) 0");
    EXPECT_EQ(mWrap.cSamp(), 0u);

    ModeTotalCount mFifo = configured();
    feed(mFifo, flagLine(fArm, 1), 1);
    EXPECT_EQ(text(mFifo), "stat=fail (fifo index out of range) 1");
    EXPECT_EQ(mFifo.cSamp(), 0u);
}

TEST(ModeTotalCount, Trace)
{
    ModeTotalCount m = configured(1);
    std::ostringstream os;
    m._pos = &os;
    feed(m, hitLine(100, false) + flagLine(fArm, 100));
    EXPECT_EQ(os.str(),
              "0000000f.0f080000 111.111100000000  WRAP\n"
              "64000000.40000000 000.000000000000  ARM   100 32867\n"
              " *\n");

    // A failed mode decodes nothing more, yet every call ends its trace so.
    ModeTotalCount mFail = configured();
    EXPECT_EQ(tracesAfterOverflow(mFail, 2),
              (std::vector<std::string>{"00000000.80000000 000.000000000000  SCAN OFLOW X\n", " X\n", " X\n"}));
}

TEST(PulseMode, RecordsOfPulses)
{
    struct Row {
        KVdepYek100::Time ti;
        bool fChip;
        std::string sgHex;
    } mp[] = {
        {ti(0.001), true, "00010000752f"},          // 30000 ticks
        {ti(0.0), false, "000000000000"},           // 0 stays 0
        {KVdepYek100::Time(0, 33), true, "000100000000"},  // no whole tick
        {KVdepYek100::Time(0, 100), false, "000000000002"},
        {ti(1.0), false, "000001c9c382"},           // 30000003 ticks
    };
    PulseMode pm;
    for (const Row& r : mp)
        pm.push_back(PulseLine(r.ti, r.fChip));
    EXPECT_EQ(pm.cPulse(), 5);
    for (const Row& r : mp) {
        std::string sg(6, '\x5a');
        pm.pulse(&sg[0], &tc2n5);
        EXPECT_EQ(hex(sg), r.sgHex) << r.ti.tv_sec << ":" << r.ti.tv_nsec;
    }
    EXPECT_EQ(pm.cPulse(), 0);
    EXPECT_TRUE(pm.isGood());
}

TEST(PulseMode, PulsePastTheTickRangeIsRefused)
{
    PulseMode pm;
    pm.push_back(PulseLine(ti(36.0), false));
    pm.push_back(PulseLine(ti(0.001), false));
    std::string sg(6, '\x5a');
    pm.pulse(&sg[0], &tc2n5);
    EXPECT_EQ(text(pm), "stat=fail (pulse out of range) 36");
    EXPECT_EQ(sg, std::string(6, '\x5a'));
    EXPECT_EQ(pm.cPulse(), 1);
}

TEST(PulseModeDeath, EmptyQueue)
{
    PulseMode pm;
    char mpch[6];
    EXPECT_DEATH(pm.pulse(mpch, &tc2n5), "Assertion failed: size\\(\\), file moru, line 505");
}

}  // namespace
