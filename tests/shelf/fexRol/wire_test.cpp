#include "wire.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string bytes(std::initializer_list<int> l)
{
    std::string s;
    for (int b : l)
        s += static_cast<char>(b);
    return s;
}

TEST(Wire, WritesBigEndianLowBytes)
{
    struct Case {
        unsigned v;
        int len;
        std::string out;
    } cases[] = {
        {0x12345678, 4, bytes({0x12, 0x34, 0x56, 0x78})},
        {0x12345678, 2, bytes({0x56, 0x78})},
        {0x1FF, 1, bytes({0xFF})},
        {0xFFFFFFFF, 4, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {0, 2, bytes({0, 0})},
    };
    for (const Case& c : cases) {
        std::stringbuf sb;
        xostream xo(&sb);
        xo.putInt(c.v, c.len);
        EXPECT_TRUE(xo.isGood());
        EXPECT_EQ(sb.str(), c.out) << std::hex << c.v << " len " << c.len;
    }
}

TEST(Wire, ReadsZeroExtended)
{
    std::stringbuf sb(bytes({0x12, 0x34, 0x80, 0x00, 0xFF, 0xFE, 0xAB, 0xDE, 0xAD, 0xBE, 0xEF}));
    xistream xi(&sb);
    unsigned u = 0, b = 0, w = 0;
    int s1 = 0, s2 = 0;
    xi.getInt2(u).getInt(s1, 2).getInt(s2, 2).getInt1(b).getInt4(w);
    EXPECT_TRUE(xi.isGood());
    EXPECT_EQ(u, 0x1234u);
    EXPECT_EQ(s1, 32768);
    EXPECT_EQ(s2, 65534);
    EXPECT_EQ(b, 0xABu);
    EXPECT_EQ(w, 0xDEADBEEFu);
    EXPECT_EQ(xi.isInAvail(), 0);
    EXPECT_TRUE(xi.isGood());
}

TEST(Wire, ShortReadFailsAndStaysFailed)
{
    struct Case {
        bool fSigned;
        int num;
    } cases[] = {{false, 59}, {true, 77}};
    for (const Case& c : cases) {
        std::stringbuf sb(bytes({1, 2, 3}), std::ios::in | std::ios::out | std::ios::ate);
        xistream xi(&sb);
        unsigned u = 0xCAFE;
        int i = 0xCAFE;
        if (c.fSigned)
            xi.getInt(i, 4);
        else
            xi.getInt4(u);
        EXPECT_TRUE(xi.isFail());
        EXPECT_STREQ(xi.szErr(), "wire");
        EXPECT_EQ(xi.iErr(), c.num);
        EXPECT_EQ(u, 0xCAFEu);  // a partial integer is not stored
        EXPECT_EQ(i, 0xCAFE);
        EXPECT_EQ(sb.in_avail(), 0);  // the three bytes were consumed

        sb.sputc(9);  // more data does not revive the stream
        unsigned b = 0;
        xi.getInt1(b);
        EXPECT_EQ(b, 0u);
        EXPECT_EQ(xi.isInAvail(), 0);
        EXPECT_EQ(sb.sgetc(), 9);
    }
}

TEST(Wire, FailedOutputWritesNothing)
{
    std::stringbuf sb;
    xostream xo(&sb);
    xo.putInt1(1);
    xo.setFailed("test", 1);
    xo.putInt4(0x11223344).putInt2(5);
    EXPECT_EQ(sb.str(), bytes({1}));
}

TEST(WireDeath, LengthOutsideOneToFour)
{
    std::stringbuf sb(bytes({1, 2, 3, 4, 5}));
    unsigned u;
    EXPECT_DEATH(xistream(&sb).getInt(u, 5), "Assertion failed: iLen >= 1 && iLen <= 4, file wire");
    EXPECT_DEATH(xostream(&sb).putInt(u, 0), "Assertion failed: iLen >= 1 && iLen <= 4, file wire");
}

}  // namespace
