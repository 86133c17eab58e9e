// The device plexer over the in-process board: the open exchange, its
// failures, the model code, and a plexer that stays usable after an
// exchange that could not finish.
#include "inproc_board.h"
#include "vaq.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace KVdepVaq100;
using namespace vaq_test;

namespace {

std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

std::string queues(const YekChannel& cn)
{
    std::ostringstream os;
    cn.printQueues(os);
    return os.str();
}

struct VaqPlexTest : ::testing::Test {
    InprocBoard board;
    InprocRig rig{board, &theVaq_vaq_Proto};
    VaqTaskPlex plex{rig.puc(), rig.pucIo()};
};

TEST_F(VaqPlexTest, OpenFetchesTheIdentityOnce)
{
    EXPECT_FALSE(plex.isVaqOpen());
    EXPECT_TRUE(plex.callVaqOpen().isGood()) << text(plex);
    EXPECT_TRUE(plex.isVaqOpen());
    EXPECT_EQ(plex.sgIdent(), InprocBoard::sgHix5316);
    EXPECT_EQ(plex.eModel(), 0x5316);
    EXPECT_TRUE(plex.isModel(0x5316));
    EXPECT_FALSE(plex.isModel(0x2817));

    ASSERT_EQ(board.requests().size(), 1u);
    const BoardRequest& rq = board.requests()[0];
    EXPECT_EQ(rq.eType, eVaqInit);
    EXPECT_EQ(rq.sgCtrl.size(), sizeof(VaqInit));
    EXPECT_EQ(rq.sgData, "");

    // The second open sends nothing and keeps the identity.
    board.setIdentity("other");
    EXPECT_TRUE(plex.callVaqOpen().isGood());
    EXPECT_EQ(board.requests().size(), 1u);
    EXPECT_EQ(plex.sgIdent(), InprocBoard::sgHix5316);
    EXPECT_EQ(queues(*rig.puc()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

TEST_F(VaqPlexTest, EmptyIdentityIsAGoodOpenThatRunsAgain)
{
    board.setIdentity("");
    EXPECT_TRUE(plex.callVaqOpen().isGood());
    EXPECT_FALSE(plex.isVaqOpen());
    EXPECT_EQ(plex.eModel(), -1);
    board.setIdentity(InprocBoard::sgHix5316);
    EXPECT_TRUE(plex.callVaqOpen().isGood());
    EXPECT_EQ(board.requests().size(), 2u);
    EXPECT_EQ(plex.eModel(), 0x5316);
}

// An answer of the wrong class, whatever its type.
struct OtherAnswer : YekControl {
    OtherAnswer() : YekControl(12, sizeof(OtherAnswer)) {}
    uint32_t _mpu[3] = {0, 0, 0};
};

TEST_F(VaqPlexTest, FailedOpensLeaveNoIdentityAndTheirCause)
{
    struct Row {
        const char* szWhat;
        InprocBoard::Hook hook;
        int cBreak;  // the connection breaks at this request
        const char* szStatus;
        const char* szStderr;
    };
    VaqResp respErr;
    respErr.eErr(5);
    const Row mp[] = {
        {"refused", [&](const BoardRequest&) { return std::vector<BoardReply>{BoardReply::of(respErr, "id")}; }, 0,
         "stat=fail (vaq) 215, stat=fail (request failed) 5", ""},
        {"wrong type", [](const BoardRequest&) { return std::vector<BoardReply>{BoardReply::of(OtherAnswer())}; },
         0, "stat=fail (vaq) 215, stat=fail (unexpected response) 12", "unexpected response size=20 type=0xc\n"},
        {"silent", [](const BoardRequest&) { return std::vector<BoardReply>{}; }, 0,
         "stat=fail (exchange not finished) 0", ""},
        {"connection lost", nullptr, 1,
         "stat=bad (exchange failed) 0, stat=bad (DeviceIoControl(get) failed) 1167", ""},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        InprocBoard brd;
        InprocRig rg(brd, &theVaq_vaq_Proto);
        VaqTaskPlex px(rg.puc(), rg.pucIo());
        brd.setHook(r.hook);
        brd.breakAt(r.cBreak);
        testing::internal::CaptureStderr();
        px.callVaqOpen();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.szStderr);
        EXPECT_EQ(text(px), r.szStatus);
        EXPECT_FALSE(px.isVaqOpen());
        EXPECT_EQ(px.eModel(), -1);
        // Nothing is left held or in transfer.
        EXPECT_FALSE(px.TaskFunc::isRunning());
        EXPECT_EQ(queues(*rg.puc()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
    }
}

TEST_F(VaqPlexTest, PlexerIsUsableAfterAnExchangeThatDidNotFinish)
{
    board.setHook([](const BoardRequest&) { return std::vector<BoardReply>{}; });
    EXPECT_TRUE(plex.callVaqOpen().isFail());
    board.setHook(nullptr);
    // A failed, not bad, status does not spoil the next open.
    EXPECT_TRUE(plex.callVaqOpen().isGood()) << text(plex);
    EXPECT_EQ(plex.c(), 0);
    EXPECT_EQ(plex.eModel(), 0x5316);
}

TEST_F(VaqPlexTest, BrokenConnectionStaysBroken)
{
    board.breakAt(1);
    EXPECT_TRUE(plex.callVaqOpen().isBad());
    EXPECT_TRUE(plex.callVaqOpen().isBad());
    EXPECT_EQ(board.requests().size(), 1u);  // nothing sent on a broken connection
}

TEST_F(VaqPlexTest, ModelCodeNeedsSixBytesTakenUnsigned)
{
    struct Row {
        std::string sgIdent;
        int eModel;
    };
    const Row mp[] = {
        {std::string("\x00\xb4\x04\x16\x53\x00", 6), 0x5316},
        {std::string("\x00\x01\x02\xff\x80\x00\x00", 7), 0x80ff},
        {std::string("\x00\xb4\x04\x16\x53", 5), -1},
        {"x", -1},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.sgIdent.size());
        InprocBoard brd;
        brd.setIdentity(r.sgIdent);
        InprocRig rg(brd, &theVaq_vaq_Proto);
        VaqTaskPlex px(rg.puc(), rg.pucIo());
        EXPECT_TRUE(px.callVaqOpen().isGood());
        EXPECT_EQ(px.eModel(), r.eModel);
        EXPECT_EQ(px.isModel(r.eModel), r.eModel != -1);
    }
}

TEST(VaqPlexProtocol, ChannelsMustSpeakVaqOrAnExtensionOfIt)
{
    static const YekProto proExt(
        "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)(/Int1:u_int/)", "ext");
    static const YekProto proOther("(//)(/Int4:u_int/)", "oth");
    {
        InprocBoard brd;
        InprocRig rg(brd, &proExt);
        VaqTaskPlex px(rg.puc(), rg.pucIo());
        EXPECT_TRUE(px.callVaqOpen().isGood());
        EXPECT_EQ(px.eModel(), 0x5316);
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    InprocBoard brdVaq;
    InprocRig rgVaq(brdVaq, &theVaq_vaq_Proto);
    IdleIo ioOther(&proOther);
    EXPECT_DEATH(VaqTaskPlex(rgVaq.puc(), &ioOther),
                 "Assertion failed: \\*\\(pucIo->pup\\(\\)\\) == theVaq_vaq_Proto, file vaq, line 52");
    InprocBoard brdOther;
    InprocRig rgOther(brdOther, &proOther);
    EXPECT_DEATH(VaqTaskPlex(rgOther.puc(), rgVaq.pucIo()),
                 "Assertion failed: \\*\\(puc->pup\\(\\)\\) == theVaq_vaq_Proto, file vaq, line 53");
}

}  // namespace
