#include "yek_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

using namespace KVdepYek100;

namespace {

TEST(Cursor, FreshCursorHasNothingToReadOrWrite)
{
    char mpch[512];
    YekBuf ub(mpch, sizeof mpch);
    EXPECT_EQ(ub.sgetc(), -1);
    EXPECT_FALSE(ub.canput());
    EXPECT_EQ(ub.cMax(), 512u);
    EXPECT_EQ(ub.cDone(), 0u);
    EXPECT_EQ(ub.pchBase(), mpch);
}

TEST(Cursor, WriteThreeThenReadThemBack)
{
    char mpch[512];
    YekBuf ub(mpch, sizeof mpch);
    ub.setLimit(3);
    for (int ch : {0x41, 0xFF, 0x00}) {
        ASSERT_TRUE(ub.canput());
        ub.sputc(ch);
    }
    EXPECT_FALSE(ub.canput());
    EXPECT_EQ(ub.cDone(), 3u);

    ub.setCount(3);
    EXPECT_EQ(ub.cGet(), 3u);
    EXPECT_EQ(ub.sbumpc_checked(), 0x41);
    EXPECT_EQ(ub.cGet(), 2u);
    EXPECT_EQ(ub.sgetc(), 255);  // 0xFF is a byte, not the end
    EXPECT_EQ(ub.sbumpc_checked(), 255);
    EXPECT_EQ(ub.sbumpc_checked(), 0);
    EXPECT_EQ(ub.cGet(), 0u);
    EXPECT_EQ(ub.sgetc(), -1);
    EXPECT_EQ(YekBuf::zapeof(mpch + 1), 255);
}

// Counts from the driver or the host must not open a window past the area.
TEST(Cursor, LimitSettersStayInsideTheArea)
{
    char mpch[600];
    YekBuf ub(mpch, 512);
    ub.setCount(100000);
    EXPECT_EQ(ub.cGet(), 512u);
    ub.setLimit(513);
    EXPECT_EQ(ub._pchLimDat, mpch + 512);

    struct {
        ptrdiff_t lim;
        size_t cGet;
    } cases[] = {{10, 10}, {512, 512}, {4096, 512}, {-8, 0}};
    for (const auto& c : cases) {
        YekMemStruct m{nullptr, mpch + c.lim, mpch};
        ub.setSize(m);
        EXPECT_EQ(ub.cGet(), c.cGet) << c.lim;
        EXPECT_EQ(ub.cDone(), 0u);

        YekData ud(mpch, 64);
        ud.setSize(m);
        EXPECT_EQ(ud.cData(), std::min<size_t>(c.cGet, 64)) << c.lim;
    }
}

TEST(Cursor, GetbufAndPutbufCaps)
{
    YekMsgBuf mb;
    mb.setLimit(512);
    std::string sg600(600, 'x');
    EXPECT_EQ(putbuf(&mb, sg600), 512u);
    EXPECT_EQ(mb.cDone(), 512u);

    mb.setCount(512);
    char mpch[1000];
    EXPECT_EQ(getbuf(mpch, 1000, &mb), 512u);
    mb.setCount(512);
    EXPECT_EQ(getbuf(mpch, 10, &mb), 10u);
    EXPECT_EQ(mb.cGet(), 502u);

    std::stringbuf sb;
    EXPECT_EQ(getbuf(&sb, &mb), 502u);
    EXPECT_EQ(sb.str(), std::string(502, 'x'));

    mb.setLimit(4);
    const char mpchSrc[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(putbuf(&mb, mpchSrc, 4), 4u);
    EXPECT_EQ(std::memcmp(mb.pchBase(), mpchSrc, 4), 0);
}

TEST(CursorDeath, PutbufNeedsRoomForEveryByte)
{
    YekMsgBuf mb;
    mb.setLimit(511);
    EXPECT_DEATH(putbuf(&mb, std::string(600, 'x')), "Assertion failed: pup->canput\\(\\), file yek, line 96");
    const char mpch[2] = {0, 0};
    mb.setLimit(1);
    EXPECT_DEATH(putbuf(&mb, mpch, 2), "Assertion failed: pup->canput\\(\\), file yek, line 116");
}

TEST(MsgBuf, FreshBufferIsFilledAndPointsAtItself)
{
    YekMsgBuf mb;
    EXPECT_EQ(mb.puc(), static_cast<YekControl*>(static_cast<YekControlBuf*>(&mb)));
    EXPECT_EQ(mb.pub(), static_cast<YekBuf*>(&mb));
    EXPECT_EQ(mb.pug(), mb.pub());
    EXPECT_EQ(mb.pup(), mb.pub());
    EXPECT_EQ(mb.chain(), nullptr);
    EXPECT_EQ(mb.puc()->size(), 136u);
    EXPECT_EQ(mb.cMax(), 512u);
    EXPECT_EQ(mb.pchBase(), mb._mpchData);
    for (unsigned char ch : mb._mpchData)
        ASSERT_EQ(ch, 0xA5);
    for (unsigned char ch : mb._mpch)
        ASSERT_EQ(ch, 0xA5);

    std::ostringstream os;
    os << mb;
    EXPECT_EQ(os.str().rfind("size=136 type=0x0 ", 0), 0u);
    EXPECT_EQ(os.str().back(), '\n');
}

TEST(MsgBuf, CopyToAndFromCallerData)
{
    YekMsgBuf mb;
    char mpchUser[16];
    std::memset(mpchUser, 0x11, sizeof mpchUser);
    YekData ud(mpchUser, sizeof mpchUser);

    // Nothing written: the caller's memory stays, its data limit is the base.
    copy(&ud, &mb);
    EXPECT_EQ(ud.cData(), 0u);
    EXPECT_EQ(mpchUser[0], 0x11);

    mb.setLimit(3);
    putbuf(&mb, std::string("abc"));
    copy(&ud, &mb);
    EXPECT_EQ(ud.cData(), 3u);
    EXPECT_EQ(std::string(mpchUser, 4), "abc\x11");

    YekMsgBuf mbIn;
    copy(&mbIn, &ud);
    EXPECT_EQ(mbIn.cGet(), 3u);
    EXPECT_EQ(mbIn.cDone(), 0u);
    EXPECT_EQ(std::string(mbIn.pchBase(), 3), "abc");

    YekMsgBuf mbEmpty;
    YekData udNone;
    copy(&udNone, &mbEmpty);  // a missing area is fine while nothing was written
    EXPECT_EQ(udNone.cData(), 0u);
}

TEST(MsgBufDeath, CopyIntoMissingOrSmallArea)
{
    YekMsgBuf mb;
    mb.setLimit(8);
    putbuf(&mb, std::string("12345678"));
    char mpch[4];
    YekData udSmall(mpch, sizeof mpch);
    YekData udNone;
    const char* szReport = "Assertion failed: pud->_pchBase && c <= pud->_pchLimBuf-pud->_pchBase, file yek_driver, line 28";
    EXPECT_DEATH(copy(&udSmall, &mb), szReport);
    EXPECT_DEATH(copy(&udNone, &mb), szReport);

    // A limit at or below the base, or a missing limit, is no room at all.
    char mpchBehind[64];
    for (const YekMemStruct& m : {YekMemStruct{mpchBehind + 4, mpchBehind + 4, mpchBehind + 8},
                                  YekMemStruct{mpchBehind + 8, mpchBehind + 8, mpchBehind + 8},
                                  YekMemStruct{nullptr, nullptr, mpchBehind + 8}}) {
        YekData udBad(m);
        EXPECT_DEATH(copy(&udBad, &mb), szReport);
    }

    static char mpchBig[513];
    YekData udBig(mpchBig, sizeof mpchBig);
    EXPECT_DEATH(copy(&mb, &udBig), "Assertion failed: pum->pchBase\\(\\) && c <= pum->cMax\\(\\), file yek_driver, line 39");
}

}  // namespace
