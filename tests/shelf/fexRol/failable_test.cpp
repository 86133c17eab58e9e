#include "failable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

// Gives the tests the protected entry rule.
struct Op : Failables {
    using Failable::entry;
    using Failable::setStat;
};

std::string str(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

std::string str(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

TEST(Failable, StateTestsReadBits)
{
    struct Case {
        Failable::StatE e;
        bool good, fail, bad;
    } cases[] = {
        {Failable::E_OK, true, false, false},
        {Failable::E_FAIL, false, true, false},
        {Failable::E_BAD, false, true, true},
        {Failable::E_NEXT, false, false, false},
    };
    for (const Case& c : cases) {
        Op op;
        op.setStat(c.e, nullptr, 0);
        EXPECT_EQ(op.isGood(), c.good) << c.e;
        EXPECT_EQ(op.isFail(), c.fail) << c.e;
        EXPECT_EQ(!op, c.fail) << c.e;
        EXPECT_EQ(op.isBad(), c.bad) << c.e;
        EXPECT_EQ(static_cast<const void*>(op) != nullptr, !c.fail) << c.e;
    }
}

TEST(Failable, EntryResetsFailButNotBad)
{
    Op op;
    op.setFailed("can't open", 2);
    EXPECT_FALSE(op.entry());
    EXPECT_TRUE(op.isGood());
    EXPECT_EQ(op.iErr(), 0);
    EXPECT_EQ(op.szErr(), nullptr);

    op.setStat(Failable::E_BAD, "can't open", 2);
    EXPECT_TRUE(op.entry());
    EXPECT_TRUE(op.isBad());
    EXPECT_STREQ(op.szErr(), "can't open");
    EXPECT_EQ(op.iErr(), 2);

    op.setStat(Failable::E_NEXT, "x", 1);
    EXPECT_FALSE(op.entry());
    EXPECT_TRUE(op.isGood());
}

TEST(Failable, PrintedForms)
{
    struct Case {
        Failable::StatE e;
        const char* sz;
        int i;
        const char* stream;
        const char* formatted;
    } cases[] = {
        {Failable::E_BAD, "can't open", 2, "stat=bad (can't open) 2", "stat=2 (can't open 2)"},
        {Failable::E_OK, nullptr, 0, "stat=good () 0", "stat=0 (-nil- 0)"},
        {Failable::E_FAIL, "wire", 59, "stat=fail (wire) 59", "stat=1 (wire 59)"},
        {Failable::E_NEXT, nullptr, 0, "stat=4 () 0", "stat=4 (-nil- 0)"},
        {Failable::E_FAIL, "request failed", -7, "stat=fail (request failed) -7", "stat=1 (request failed -7)"},
    };
    for (const Case& c : cases) {
        Op op;
        op.setStat(c.e, c.sz, c.i);
        EXPECT_EQ(str(static_cast<const Failable&>(op)), c.stream);
        char sz[80];
        int n = op.print(sz, sizeof sz);
        EXPECT_STREQ(sz, c.formatted);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.formatted)));
    }
}

TEST(Failable, StreamIsLeftDecimalAfterHexState)
{
    Op op;
    op.setStat(static_cast<Failable::StatE>(0x1a), nullptr, 26);
    std::ostringstream os;
    os << static_cast<const Failable&>(op) << ' ' << 26;
    EXPECT_EQ(os.str(), "stat=1a () 26 26");
}

TEST(Failable, PrintIntoShortBufferIsCutAndTerminated)
{
    Failable fa("can't open", 2);
    char sz[12];
    std::memset(sz, 'X', sizeof sz);
    EXPECT_EQ(fa.print(sz, 8), 21);  // "stat=1 (can't open 2)"
    EXPECT_STREQ(sz, "stat=1 ");
    EXPECT_EQ(sz[8], 'X');  // nothing past size
    EXPECT_EQ(fa.print(sz, 0), 21);
    EXPECT_EQ(sz[0], 's');
}

TEST(Failables, SingleCauseReplacesChainAndNullKeepsIt)
{
    Failables a, b;
    a.setFailed("a0", 0, nullptr);
    Failables chain;
    chain.setFailed("c", 3, &a);
    chain.setFailed("c", 4, &chain);
    chain.setFailed("c", 5, &chain);
    ASSERT_EQ(chain.c(), 3);

    Failable cause("direct", 9);
    chain.setFailed("own", 1, &cause);
    EXPECT_EQ(chain.c(), 1);
    EXPECT_EQ(str(chain), "stat=fail (own) 1, stat=fail (direct) 9");

    chain.set(Failable::E_BAD, "again", 2, nullptr);
    EXPECT_EQ(str(chain), "stat=bad (again) 2, stat=fail (direct) 9");

    // The plain two-argument form stays reachable and keeps the causes too.
    chain.setFailed("plain", 7);
    EXPECT_EQ(str(chain), "stat=fail (plain) 7, stat=fail (direct) 9");
}

TEST(Failables, ChainKeepsCauseAndItsFourNewest)
{
    Failables src;
    for (int k = 0; k < 6; ++k)
        src.setFailed("s", k, &src);
    ASSERT_EQ(src.c(), 5);
    // src: own s5, causes s4 s3 s2 s1 s0

    Failables dst;
    dst.setBad("d", 0, &src);
    EXPECT_EQ(dst.c(), 5);
    EXPECT_EQ(str(dst),
              "stat=bad (d) 0, stat=fail (s) 5, stat=fail (s) 4, stat=fail (s) 3, "
              "stat=fail (s) 2, stat=fail (s) 1");
}

TEST(Failables, SelfCauseShiftsAndDropsTheFifth)
{
    Failables fa;
    for (int k = 1; k <= 6; ++k)
        fa.setFailed("t", k, &fa);
    // own t6, causes t5 t4 t3 t2 t1
    fa.setFailed("t", 7, &fa);
    EXPECT_EQ(fa.c(), 5);
    EXPECT_EQ(fa.cause(0).iErr(), 6);
    EXPECT_EQ(fa.cause(4).iErr(), 2);
    fa.clear();
    EXPECT_TRUE(fa.isGood());
    EXPECT_EQ(str(fa), "stat=good () 0");
}

}  // namespace
