#include "yek.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace KVdepYek100;

namespace {

TEST(Time, SumCarriesOnceAboveNineNines)
{
    struct Case {
        Time a, b, sum;
    } cases[] = {
        {{0, 600000000}, {0, 600000000}, {1, 200000000}},
        {{0, 999999999}, {0, 0}, {0, 999999999}},
        {{0, 999999999}, {0, 1}, {1, 0}},
        {{10, 700000000}, {0, 500000000}, {11, 200000000}},
        {{0xFFFFFFFF, 0}, {1, 0}, {0, 0}},  // seconds wrap
    };
    for (const Case& c : cases) {
        Time t = c.a + c.b;
        EXPECT_EQ(t.tv_sec, c.sum.tv_sec) << c.a << " + " << c.b;
        EXPECT_EQ(t.tv_nsec, c.sum.tv_nsec) << c.a << " + " << c.b;
    }
}

TEST(Time, GreaterOrEqualAndEqual)
{
    EXPECT_TRUE(Time(2, 0) >= Time(1, 999999999));
    EXPECT_FALSE(Time(1, 5) >= Time(1, 6));
    EXPECT_TRUE(Time(1, 6) >= Time(1, 6));
    EXPECT_FALSE(Time(1, 999999999) >= Time(2, 0));
    EXPECT_TRUE(Time(3, 4) == Time(3, 4));
    EXPECT_FALSE(Time(3, 4) == Time(4, 3));
}

TEST(Time, PrintsDecimalAndWireFormIsTwoInt4)
{
    std::ostringstream os;
    os << std::hex << Time(1, 5) << ' ' << 10;
    EXPECT_EQ(os.str(), "1:5 10");

    std::stringbuf sb;
    xostream xo(&sb);
    xmarshal(xo, Time(0x01020304, 0x0A0B0C0D));
    EXPECT_EQ(sb.str(), std::string("\x01\x02\x03\x04\x0A\x0B\x0C\x0D", 8));

    xistream xi(&sb);
    Time t;
    xunmarsh(xi, t);
    EXPECT_TRUE(xi.isGood());
    EXPECT_TRUE(t == Time(0x01020304, 0x0A0B0C0D));
}

TEST(Control, PrintLeavesStreamInHex)
{
    std::ostringstream os;
    os << YekControl(12, 20) << ' ' << 255;
    EXPECT_EQ(os.str(), "size=20 type=0xc ff");
}

TEST(Control, WireFormIsTheTypeByteOnly)
{
    std::stringbuf sb;
    xostream xo(&sb);
    xmarshal(xo, YekControl(0x10E, 20));
    EXPECT_EQ(sb.str(), "\x0E");

    YekControl uc(99, 20);
    xistream xi(&sb);
    xunmarsh(xi, uc);
    EXPECT_EQ(uc.eType(), 0x0E);
    EXPECT_EQ(uc.size(), 20u);  // the size is never read

    xunmarsh(xi, uc);  // nothing left: the stream fails, the type stays
    EXPECT_FALSE(xi.isGood());
    EXPECT_EQ(uc.eType(), 0x0E);
}

TEST(Control, EqualityNeedsSameSizeAndBytes)
{
    YekControlBuf a, b;
    EXPECT_TRUE(a == b);
    b._mpch[127] = 0;  // the last compared byte
    EXPECT_FALSE(a == b);

    YekControl c1(5, 8), c2(5, 8), c3(5, 9);
    EXPECT_TRUE(c1 == c2);
    EXPECT_FALSE(c1 == c3);  // equal bytes, different sizes
}

TEST(ControlBuf, FreshBufferAndReceiveArea)
{
    YekControlBuf ucb;
    EXPECT_EQ(ucb.size(), 136u);
    EXPECT_EQ(ucb.eType(), 0);
    for (unsigned char ch : ucb._mpch)
        ASSERT_EQ(ch, 0xA5);

    YekMemStruct m = ucb.ykBuf();
    EXPECT_EQ(m._pchBase, reinterpret_cast<char*>(&ucb));
    EXPECT_EQ(m._pchLimBuf - m._pchBase, 128);
    EXPECT_EQ(m._pchLimDat, m._pchLimBuf);

    YekControl uc(3, 20);
    YekMemStruct mc = uc.yk();
    EXPECT_EQ(mc._pchBase, reinterpret_cast<char*>(&uc));
    EXPECT_EQ(mc._pchLimDat - mc._pchBase, 20);
    EXPECT_EQ(mc._pchLimBuf, mc._pchLimDat);
}

TEST(ControlBuf, AssignmentCopiesOnlyTheSourceSize)
{
    // A 12-byte control: header and one field.
    struct Small : YekControl {
        Small() : YekControl(7, sizeof(Small)), _u(0x11223344) {}
        uint32_t _u;
    } small;

    YekControlBuf ucb;
    ucb = small;
    EXPECT_EQ(ucb.size(), 12u);
    EXPECT_EQ(ucb.eType(), 7);
    uint32_t u;
    std::memcpy(&u, ucb._mpch, 4);
    EXPECT_EQ(u, 0x11223344u);
    EXPECT_EQ(static_cast<unsigned char>(ucb._mpch[4]), 0xA5);  // untouched

    // Buffer to buffer goes the same size-limited way, not all 136 bytes.
    YekControlBuf ucbDst;
    ucbDst._mpch[100] = 1;
    ucbDst = ucb;
    EXPECT_EQ(ucbDst.size(), 12u);
    EXPECT_EQ(ucbDst._mpch[100], 1);
    EXPECT_TRUE(ucbDst == ucb);

    YekControlBuf& ucbSelf = ucbDst;
    ucbDst = ucbSelf;
    EXPECT_TRUE(ucbDst == ucb);
}

TEST(ControlBufDeath, AssignmentOfTooLargeOrTooSmallControl)
{
    YekControlBuf ucb;
    YekControlBuf big;
    big._size = 137;
    EXPECT_DEATH(ucb = static_cast<const YekControl&>(big), "Assertion failed: uc._size <= sizeof\\(\\*this\\), file yek, line 47");
    YekControl tiny(1, 4);
    EXPECT_DEATH(ucb = tiny, "Assertion failed: uc._size >= sizeof\\(YekControlStruct\\), file yek");
}

}  // namespace
