#include "tico.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

namespace {

using namespace KVdepMoru100;

struct Line {
    char b[8];
};

Line line(unsigned b0, unsigned b1, unsigned b2, unsigned b3, unsigned b4, unsigned b5, unsigned b6, unsigned b7)
{
    unsigned mp[8] = {b0, b1, b2, b3, b4, b5, b6, b7};
    Line l;
    for (int i = 0; i < 8; ++i)
        l.b[i] = static_cast<char>(mp[i]);
    return l;
}

std::vector<int> edges(const Fracts& fr)
{
    std::vector<int> v;
    for (int i = 0; i < fr.cFract(); ++i)
        v.push_back(fr.iFract(i));
    return v;
}

TEST(TimeCore, Constants)
{
    EXPECT_EQ(tc2n5._ccEpochs, 16777216u);
    EXPECT_EQ(tc2n5._ccFracts, 12u);
    EXPECT_EQ(tc2n5._ccScaleMax, 32767u);
    EXPECT_EQ(tc2n5._crdFreq, 30000000.0);
    EXPECT_EQ(tc2n5.fractsPerEpoch(), 201326592);
    EXPECT_EQ(tc2n5.fracts(0xFFFFFF), Timer(0xFFFFFF) * 12);
    EXPECT_EQ(ccFracts(&tc2n5), 12u);
}

TEST(TimeCore, SecondsPeriodAndFrequency)
{
    EXPECT_EQ(tc2n5.rdSecs(360000000), 1.0);
    EXPECT_EQ(tc2n5.rdPeriod(1000, 1000 + 3600000, 10), 0.001);
    EXPECT_EQ(tc2n5.rdFreq(1000, 1000 + 3600000, 10), 1000.0);
    EXPECT_EQ(tc2n5.rdPeriod(77, 77, 3), 0.0);
    double rdInf = tc2n5.rdFreq(77, 77, 3);
    EXPECT_TRUE(std::isinf(rdInf) && rdInf > 0);
}

TEST(TimeCore, TicksOfTimes)
{
    struct Case {
        unsigned sec, nsec;
        uint32_t t;
    } cases[] = {
        {1, 0, 30000003},          {0, 1000000, 30000}, {0, 100, 3}, {0, 33, 0}, {0, 0, 0},
        {35, 791390554, 1073741823},
    };
    for (const Case& c : cases) {
        KVdepYek100::Time ti(c.sec, c.nsec);
        EXPECT_TRUE(fitsTicks(ti)) << c.sec << "." << c.nsec;
        EXPECT_EQ(ticks(ti, &tc2n5), c.t) << c.sec << "." << c.nsec;
    }
}

TEST(TimeCore, TicksRefusesTimesPastTheLimit)
{
    EXPECT_FALSE(fitsTicks(KVdepYek100::Time(35, 791390555)));
    // Past 2^64 nanoseconds times 100000: a wrapped product would give a small,
    // plausible count here.
    EXPECT_FALSE(fitsTicks(KVdepYek100::Time(184468, 0)));
    EXPECT_FALSE(fitsTicks(KVdepYek100::Time(0xFFFFFFFFu, 999999999)));
    EXPECT_DEATH(ticks(KVdepYek100::Time(35, 791390555), &tc2n5), "Assertion failed: 0, file tico, line 49");
    EXPECT_DEATH(ticks(KVdepYek100::Time(184468, 0), &tc2n5), "Assertion failed: 0, file tico, line 49");
}

TEST(Fracts, PatternEdgeLists)
{
    struct Case {
        int fCarry, f0, fRise;
        std::vector<int> v;
    } cases[] = {
        {0, 0x0F0, 1, {4}},
        {0, 0x0F0, 0, {8}},
        {0, 0xAAA, 1, {0, 2, 4, 6, 8, 10}},
        {1, 0xAAA, 1, {2, 4, 6, 8, 10}},
        {0, 0xAAA, 0, {1, 3, 5, 7, 9, 11}},
        {1, 0x000, 0, {0}},
        {1, 0x000, 1, {}},
        {0, 0xFFF, 1, {0}},
        {0, 0xFFF, 0, {}},
        {4, 0xFFF, 1, {}},
        {2, 0xFFF, 0, {}},
        {0, 0x555, 0, {2, 4, 6, 8, 10}},
        {0, 0x001, 1, {11}},
    };
    for (const Case& c : cases) {
        Fracts fr(c.fCarry, c.f0, c.fRise, 1);
        EXPECT_EQ(edges(fr), c.v) << std::hex << c.f0 << " carry " << c.fCarry << " rise " << c.fRise;
    }
}

TEST(Fracts, EntriesOutsideTheListReadAsFiller)
{
    Fracts fr(0, 0x0F0, 1, 0);
    ASSERT_EQ(fr.cFract(), 1);
    EXPECT_EQ(fr._mpFracts[1], Fracts::iInvalid);
    EXPECT_EQ(fr._mpFracts[5], Fracts::iInvalid);
    for (int i : {1, 5, 6, 15, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
        EXPECT_FALSE(fr.hasFract(i)) << i;
        EXPECT_EQ(fr.iFract(i), -1515870811) << i;
    }
    EXPECT_TRUE(fr.hasFract(0));
}

TEST(Fracts, PrintsTheCarryBitsADotAndThePatternBitsHighestFirst)
{
    std::ostringstream os;
    Fracts::print(os, 1, 0x0F0) << '|';
    Fracts::print(os, 7, 0xFFF) << '|';
    Fracts::print(os, 4, 0x801);
    EXPECT_EQ(os.str(), "001.000011110000|111.111111111111|100.100000000001");
}

TEST(ScanLine, FlagByte)
{
    struct Case {
        unsigned b4;
        int wrap, first, ecap, hit, epoch, arm, oflow;
        const char* words;
    } cases[] = {
        {0x18, 0, 0, 1, 0, 0, 0, 0, " ECAP"},
        {0x08, 1, 0, 0, 1, 0, 0, 0, " WRAP"},
        {0x10, 0, 1, 0, 1, 0, 0, 0, " FIRST"},
        {0x00, 0, 0, 0, 0, 0, 0, 0, " SCAN"},
        {0x87, 0, 0, 0, 0, 0, 0, 1, " SCAN OFLOW"},
        {0x20, 0, 0, 0, 0, 1, 0, 0, " EPOCH"},
        {0x38, 0, 0, 1, 0, 1, 0, 0, " EPOCH ECAP"},
        {0x40, 0, 0, 0, 0, 0, 1, 0, " ARM  "},
        {0xFF, 0, 0, 1, 0, 1, 1, 1, " EPOCH OFLOW ECAP ARM  "},
        {0xC8, 1, 0, 0, 1, 0, 1, 1, " OFLOW WRAP ARM  "},
    };
    for (const Case& c : cases) {
        Line l = line(0, 0, 0, 0, c.b4, 0, 0, 0);
        std::ostringstream os;
        ScanLine sl(l.b, 1, 0, &os);
        EXPECT_EQ(sl.isWrap(), c.wrap) << c.b4;
        EXPECT_EQ(sl.isFirst(), c.first) << c.b4;
        EXPECT_EQ(sl.isEcap(), c.ecap) << c.b4;
        EXPECT_EQ(sl.isHit(), c.hit) << c.b4;
        EXPECT_EQ(sl.isEpoch() != 0, c.epoch != 0) << c.b4;
        EXPECT_EQ(sl.isArm() != 0, c.arm != 0) << c.b4;
        EXPECT_EQ(sl.isOverflow() != 0, c.oflow != 0) << c.b4;
        std::string sgTrace = os.str();
        ASSERT_GE(sgTrace.size(), 35u);
        EXPECT_EQ(sgTrace.substr(35), c.words) << c.b4;
    }
}

TEST(ScanLine, CountsAreUnsignedWhateverTheByteSign)
{
    Line l = line(0x34, 0x12, 0xF0, 0xE0, 0x00, 0x01, 0x02, 0x03);
    ScanLine sl(l.b, 1, 0, nullptr);
    EXPECT_EQ(sl.cEc(), 0x1234u);
    EXPECT_EQ(sl.cCt(), 197121u);
    EXPECT_EQ(sl.iOffs(), 14);
    EXPECT_FALSE(sl.isValidOffs());

    Line h = line(0xFF, 0xFF, 0xF0, 0x10, 0x00, 0xFF, 0xFF, 0xFF);
    ScanLine sh(h.b, 1, 0, nullptr);
    EXPECT_EQ(sh.cEc(), 65535u);
    EXPECT_EQ(sh.cCt(), 0xFFFFFFu);
    EXPECT_EQ(sh.iOffs(), 1);
    // Pattern 0x0F0: rising at 4, falling at 8.
    EXPECT_EQ(edges(sh), std::vector<int>{4});
    EXPECT_FALSE(sh.isValidOffs());
    EXPECT_EQ(sh.iFract(sh.iOffs()), Fracts::iInvalid);
    ScanLine sf(h.b, 0, 0, nullptr);
    EXPECT_EQ(edges(sf), std::vector<int>{8});
}

TEST(ScanLine, PatternAndCarryFromTheLine)
{
    // Pattern bit 11 in byte 3 bit 3, carry in byte 4 bits 0-2.
    Line l = line(0, 0, 0xAA, 0x5A, 0x01, 0, 0, 0);
    ScanLine sl(l.b, 1, 0, nullptr);
    EXPECT_EQ(edges(sl), (std::vector<int>{2, 4, 6, 8, 10}));
    EXPECT_EQ(sl.iOffs(), 5);
    EXPECT_FALSE(sl.isValidOffs());
    Line l0 = line(0, 0, 0xAA, 0x3A, 0x00, 0, 0, 0);
    ScanLine sl0(l0.b, 1, 0, nullptr);
    EXPECT_EQ(edges(sl0), (std::vector<int>{0, 2, 4, 6, 8, 10}));
    EXPECT_TRUE(sl0.isValidOffs());
    EXPECT_EQ(sl0.iFract(sl0.iOffs()), 6);
}

TEST(ScanLine, WithAStreamTracesTheBytesThePatternAndTheFlagsOfItsLine)
{
    struct Case {
        Line l;
        const char* trace;
    } cases[] = {
        {line(0x34, 0x12, 0xF0, 0x00, 0x08, 0x01, 0x02, 0x03), "3412f000.08010203 000.000011110000  WRAP"},
        {line(0xFA, 0x00, 0x00, 0x00, 0x18, 0x98, 0x3A, 0x00), "fa000000.18983a00 000.000000000000  ECAP"},
        {line(0x00, 0x00, 0xFF, 0xAF, 0x87, 0xFF, 0xFF, 0xFF), "0000ffaf.87ffffff 111.111111111111  SCAN OFLOW"},
    };
    for (const Case& c : cases) {
        std::ostringstream os;
        ScanLine sl(c.l.b, 1, 0, &os);
        EXPECT_EQ(os.str(), c.trace);
        EXPECT_TRUE(sl.isDebug());
    }
    Line l = cases[0].l;
    ScanLine sl(l.b, 1, 0, nullptr);
    EXPECT_FALSE(sl.isDebug());
}

}  // namespace
