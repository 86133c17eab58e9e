// Register read and write on the board plexer, their answers and failures.
#include "qir_fixture.h"

using namespace KVdepQir100;
using namespace qir_test;

namespace {

TEST_F(QirPlexTest, ReadReturnsTheAnsweredValueAsInt)
{
    struct Row {
        uint32_t uReg;
        int iRead;
    };
    for (Row r : {Row{0, 0}, Row{0x1234, 0x1234}, Row{0xFFFF, 65535}, Row{0xFFFFFFFF, -1}, Row{0x80000000, INT32_MIN}}) {
        board.setReg(6, r.uReg);
        EXPECT_EQ(plex.callQirRead(6), r.iRead);
    }
    ASSERT_EQ(board.requests().size(), 5u);
    EXPECT_EQ(board.requests()[0].eType, eQirRead);
    EXPECT_EQ(board.requests()[0].as<QirRead>().iPort(), 6u);
    EXPECT_TRUE(plex.isGood());
    EXPECT_EQ(queues(*rig.puc()), szIdle);
}

TEST_F(QirPlexTest, WriteSendsPortAndValue)
{
    plex.callQirWrite(9, 0x1234);
    plex.callQirWrite(0x123, 0x12345);
    ASSERT_EQ(board.requests().size(), 2u);
    QirWrite w = board.requests()[1].as<QirWrite>();
    EXPECT_EQ(w.eType(), eQirWrite);
    EXPECT_EQ(w.iPort(), 0x123u);
    EXPECT_EQ(w.iVal(), 0x12345u);  // the wire cuts them, not the client
    EXPECT_EQ(board.writes(), (std::vector<RegWrite>{{9, 0x1234}, {0x23, 0x2345}}));
    EXPECT_EQ(plex.callQirRead(9), 0x1234);
    EXPECT_TRUE(plex.isGood());
}

// A wrong answer type is a failed exchange, not a crash; the plexer goes on.
TEST_F(QirPlexTest, AnswerOfAnotherTypeFailsTheOperation)
{
    board.setHook([](const BoardRequest& rq) -> std::optional<std::vector<BoardReply>> {
        if (rq.eType == eQirRead || rq.eType == eQirWrite)
            return std::vector<BoardReply>{BoardReply::of(KVdepVaq100::VaqResp())};
        return std::nullopt;
    });
    board.setReg(1, 42);
    testing::internal::CaptureStderr();
    EXPECT_EQ(plex.callQirRead(1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "unexpected response size=20 type=0x4\n");
    EXPECT_EQ(text(plex), "stat=fail (unexpected response) 4");

    testing::internal::CaptureStderr();
    plex.callQirWrite(1, 7);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(text(plex), "stat=fail (unexpected response) 4");
    EXPECT_EQ(queues(*rig.puc()), szIdle);

    board.setHook(nullptr);
    EXPECT_EQ(plex.callQirRead(1), 42);
    // A later success does not clear what was recorded.
    EXPECT_EQ(text(plex), "stat=fail (unexpected response) 4");
}

TEST_F(QirPlexTest, AnswersOfTheDerivedClassesCountForAQirResp)
{
    board.setHook([](const BoardRequest&) {
        QirWrResp r;
        r.iErr(77);
        return std::vector<BoardReply>{BoardReply::of(r)};
    });
    EXPECT_EQ(plex.callQirRead(3), 77);
    plex.callQirWrite(3, 1);
    EXPECT_TRUE(plex.isGood());
}

TEST_F(QirPlexTest, RegisterOperationsNeitherTestNorClearTheStatus)
{
    plex.setFailed("incompatible device model", 0, nullptr);
    board.setReg(2, 5);
    EXPECT_EQ(plex.callQirRead(2), 5);
    plex.callQirWrite(2, 6);
    EXPECT_EQ(board.writes().size(), 1u);
    EXPECT_EQ(text(plex), "stat=fail (incompatible device model) 0");
}

TEST_F(QirPlexTest, DeviceFailureDuringAReadGivesTheInitialValue)
{
    board.setReg(4, 1);
    board.breakAt(1);
    EXPECT_EQ(plex.callQirRead(4), -1);
    EXPECT_EQ(text(plex), "stat=bad (exchange failed) 0, stat=bad (DeviceIoControl(get) failed) 1167");
    plex.callQirWrite(4, 2);  // returns, nothing reaches the board
    EXPECT_EQ(board.writes().size(), 0u);
    EXPECT_TRUE(plex.isBad());
    EXPECT_EQ(queues(*rig.puc()), szIdle);
}

TEST(QirPlexProtocol, ChannelsMustSpeakQir)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    vaq_test::InprocBoard brd;
    vaq_test::InprocRig rg(brd, &KVdepVaq100::theVaq_vaq_Proto);
    EXPECT_DEATH(QirTaskPlex(rg.puc(), rg.pucIo()),
                 "Assertion failed: \\*\\(pucIo->pup\\(\\)\\) == theQir_qir_Proto, file qir");
}

}  // namespace
