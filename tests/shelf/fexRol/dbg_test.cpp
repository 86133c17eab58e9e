#include "dbg.h"
#include "sm.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {

const char mpb[] = {0x01, 0x02, static_cast<char>(0xA3), static_cast<char>(0xFF), 0x00, 0x01, 0x02, 0x03};

TEST(Dump, HexWithSeparators)
{
    struct Case {
        int c;
        const char* out;
    } cases[] = {{0, ""}, {4, "0102a3ff"}, {5, "0102a3ff.00"}, {8, "0102a3ff.00010203"}};
    for (const Case& c : cases) {
        std::ostringstream os;
        debug_showhex(os, mpb, c.c, '.');
        EXPECT_EQ(os.str(), c.out) << c.c;
    }
    std::ostringstream os;
    debug_showhex(os, static_cast<const void*>(mpb), 2, ':');
    EXPECT_EQ(os.str(), "0102");
}

TEST(Dump, IgnoresCallersAdjustAndBaseAndRestoresStream)
{
    std::ostringstream os;
    os << std::left << std::showbase << std::setfill('*');
    debug_showhex(os, mpb, 2, '.');
    os << ' ';
    debug_showbuf(os, "\x01", 1);
    os << ' ' << std::setw(3) << 26;
    EXPECT_EQ(os.str(), "0102 01 26*");

    std::ostringstream up;
    up << std::uppercase;
    debug_showhex(up, mpb + 2, 2, '.');
    EXPECT_EQ(up.str(), "A3FF");
}

TEST(Dump, CharactersAndHex)
{
    const char buf[] = {'A', 0, 'B', ' ', static_cast<char>(0x80), '~', '!'};
    std::ostringstream os;
    debug_showbuf(os, buf, sizeof buf);
    EXPECT_EQ(os.str(), " A00 B2080 ~ !");
}

TEST(StateHolder, WasAndChangeState)
{
    SmM sm(0);
    EXPECT_EQ(sm.changeState(2, 1), 0);
    EXPECT_TRUE(sm.isState(0));
    sm.setState(1);
    EXPECT_EQ(sm.changeState(2, 1), 1);
    EXPECT_EQ(sm.eState(), 2);

    SmM w(0);
    EXPECT_EQ(w.wasState(2, 1), 0);
    EXPECT_EQ(w.eState(), 2);
    EXPECT_EQ(w.wasState(3, 2), 1);
    EXPECT_EQ(w.eState(), 3);
}

TEST(DebugLog, NullStreamMeansNoDebug)
{
    DebugLog dl(nullptr);
    EXPECT_FALSE(dl.isDebug());
    std::ostringstream os;
    DebugLog d2(&os);
    EXPECT_TRUE(d2.isDebug());
    d2.os() << "x";
    EXPECT_EQ(os.str(), "x");
    EXPECT_EQ(addone(41), 42);
}

}  // namespace
