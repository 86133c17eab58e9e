// The edge lists copied from the table against a walk over the pattern bits,
// for every pattern, carry and direction, entries beyond the list included.
#include <gtest/gtest.h>

#include <cstring>

#include "tico_inline.h"

namespace {

using namespace KVdepMoru100;

// The decoder as first written: fill, then walk bit 11 down to bit 0.
struct WalkedEdges {
    int32_t mp[6];
    int32_t c = 0;

    WalkedEdges(int fCarry, int f0, int fEdgeRise)
    {
        std::memset(mp, 0xA5, sizeof mp);
        bool fPrev = fCarry != 0;
        for (int p = 0; p < 12; ++p) {
            bool fCur = (f0 >> (11 - p)) & 1;
            if (fEdgeRise ? (!fPrev && fCur) : (fPrev && !fCur))
                mp[c++] = p;
            fPrev = fCur;
        }
    }
};

// Counts the patterns, carries and directions whose list differs, and names
// the first one.
struct Mismatches {
    int c = 0;
    std::string sgFirst;

    void check(const Fracts& fr, const WalkedEdges& we, int fCarry, int f0, int fRise)
    {
        if (fr.cFract() == we.c && std::memcmp(fr._mpFracts, we.mp, sizeof we.mp) == 0)
            return;
        if (c++ == 0)
            sgFirst = "pattern " + std::to_string(f0) + " carry " + std::to_string(fCarry) + " rise " +
                      std::to_string(fRise);
    }
};

TEST(EdgeTable, EveryPatternCarryAndDirectionAsTheBitWalk)
{
    Mismatches m;
    for (int fRise : {0, 1})
        for (int fCarry = 0; fCarry < 8; ++fCarry)
            for (int f0 = 0; f0 < 4096; ++f0)
                m.check(Fracts(fCarry, f0, fRise, 0), WalkedEdges(fCarry, f0, fRise), fCarry, f0, fRise);
    EXPECT_EQ(m.c, 0) << "first: " << m.sgFirst;
}

TEST(EdgeTable, BitsAbovePatternAreIgnored)
{
    Mismatches m;
    for (int fRise : {0, 1})
        for (int fCarry : {0, 1, -1})
            for (int f0 = 0; f0 < 4096; f0 += 7)
                for (int fHigh : {0x1000, 0x7FFFF000, -4096})
                    m.check(Fracts(fCarry, f0 | fHigh, fRise, 0), WalkedEdges(fCarry, f0, fRise), fCarry,
                            f0 | fHigh, fRise);
    EXPECT_EQ(m.c, 0) << "first: " << m.sgFirst;
}

// The line's other bits (event count, edge index, flags, coarse count) stay
// out of the pattern and the carry, in the exported decoder and in the inline
// one of the libraries' own decode paths.
TEST(EdgeTable, LinesGiveTheListOfTheirPatternAndCarry)
{
    Mismatches m, mInline;
    for (int fRise : {0, 1})
        for (int fCarry = 0; fCarry < 8; ++fCarry)
            for (int f0 = 0; f0 < 4096; ++f0) {
                char mpch[8] = {'\xFF', '\xFF', static_cast<char>(f0), static_cast<char>(0xF0 | f0 >> 8),
                                static_cast<char>(0xF8 | fCarry), '\xFF', '\xFF', '\xFF'};
                WalkedEdges we(fCarry, f0, fRise);
                m.check(ScanLine(mpch, fRise, 0, nullptr), we, fCarry, f0, fRise);
                mInline.check(InlineScanLine(mpch, fRise, 0, nullptr), we, fCarry, f0, fRise);
            }
    EXPECT_EQ(m.c, 0) << "first: " << m.sgFirst;
    EXPECT_EQ(mInline.c, 0) << "first: " << mInline.sgFirst;
}

}  // namespace
