#include "yek_fixtures.h"

#include <gtest/gtest.h>

#include <deque>

using namespace yek_test;

namespace {

// A synchronous transport to a scripted peer: every request is answered with
// id + 1000 and its data, or, with _cAnswerAt set, one answer 999 after that
// many requests. A receive with nothing to receive fails.
class ScriptChan : public YekChanUser {
public:
    ScriptChan() : YekChanUser(&testProto()) {}

    Failables& sigSendTransfer() override
    {
        if (!isGood())
            return *this;
        if (++_cSend == _iFailSend)
            return setBad("send failed", 31, nullptr);
        const TestMsg* pm = pTestMsg(pub()->puc());
        std::string sgData(pub()->pchBase(), pub()->cDone());
        _sgLog += "send " + std::to_string(pm->_id) + (sgData.empty() ? "" : ":" + sgData) + ";";
        if (_cAnswerAt == 0)
            _dqAnswer.push_back({pm->_id + 1000, sgData});
        else if (_cSend == _cAnswerAt)
            _dqAnswer.push_back({999, ""});
        return *this;
    }
    Failables& sigRecvTransfer() override
    {
        if (!isGood())
            return *this;
        if (_fFailRecv || _dqAnswer.empty())
            return setBad("receive failed", 31, nullptr);
        new (pdb()->puc()) TestMsg(_dqAnswer.front().first);
        pdb()->setLimit(_dqAnswer.front().second.size());
        putbuf(pdb(), _dqAnswer.front().second);
        pdb()->setCount(pdb()->cDone());
        _sgLog += "recv " + std::to_string(_dqAnswer.front().first) + ";";
        _dqAnswer.pop_front();
        return *this;
    }
    void armSend() override { ++_cArmSend; }
    void armRecv() override { ++_cArmRecv; }

    std::string _sgLog;
    std::deque<std::pair<uint32_t, std::string>> _dqAnswer;
    int _cSend = 0;
    int _iFailSend = 0;
    int _cAnswerAt = 0;
    bool _fFailRecv = false;
    int _cArmSend = 0;
    int _cArmRecv = 0;
};

struct PumpTest : ::testing::Test {
    PumpTest() { ch.setupRecv(); }
    ScriptChan ch;
    CountingPlex tp{&ch};

    void start(Func* ptf)
    {
        tp.run(ptf);
        tp.sigUp(0, &ch, 0);
    }
};

TEST_F(PumpTest, NothingInTransferMeansNoTransfer)
{
    EXPECT_NE(ch.pdb(), nullptr);
    EXPECT_EQ(ch._cArmRecv, 1);
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(ch._sgLog, "");
}

TEST_F(PumpTest, OneExchange)
{
    ReqFunc* prf = new ReqFunc(5, "ab");
    start(prf);
    EXPECT_EQ(ch.pub(), ch.pubDebug());
    EXPECT_NE(ch.pub(), nullptr);  // taken into transfer by the flush
    EXPECT_EQ(ch._cArmSend, 1);
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(ch._sgLog, "send 5:ab;recv 1005;");
    EXPECT_EQ(prf->_idAnswer, 1005u);
    EXPECT_EQ(prf->_sgAnswer, "ab");
    EXPECT_EQ(tp._cDone, 1);
    // One down buffer armed, every up buffer back in the pool.
    EXPECT_EQ(queues(ch), "dq=0 dd=0 du=1 dp=3  uq=0 ud=0 uu=0 up=4");
    EXPECT_NE(ch.pdb(), nullptr);
    EXPECT_EQ(ch.pub(), nullptr);
}

// Sends two requests, then waits for one answer.
class TwoRequestsFunc : public Func {
public:
    int func(int e) override
    {
        switch (e) {
        case 0:
            return setup(1, fCanput(0), 0);
        case 1:
            new (pmu(0)->puc()) TestMsg(1);
            return setup(2, fCanput(0), fSendup(0));
        case 2:
            new (pmu(0)->puc()) TestMsg(2);
            return setup(3, fCanget(0), fSendup(0));
        }
        return setup(-1, 0, fReleasedown(0));
    }
};

TEST_F(PumpTest, QueuedRequestsAreAllSentBeforeTheFirstReceive)
{
    start(new TwoRequestsFunc);
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(ch._sgLog, "send 1;send 2;recv 1001;");
    EXPECT_EQ(tp._cDone, 1);
}

int stopAfter(void* pv)
{
    int& c = *static_cast<int*>(pv);
    return --c < 0;
}

TEST_F(PumpTest, HookIsAskedBeforeEveryTransfer)
{
    start(new ReqFunc(1, ""));
    int cAllowed = 0;
    EXPECT_EQ(runio(&ch, stopAfter, &cAllowed), 1);
    EXPECT_EQ(ch._sgLog, "");  // nothing moved
    EXPECT_NE(ch.pub(), nullptr);

    cAllowed = 1;
    EXPECT_EQ(runio(&ch, stopAfter, &cAllowed), 1);
    EXPECT_EQ(ch._sgLog, "send 1;");  // stopped before the receive

    // With nothing left in transfer the pump does not receive any more.
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(ch._sgLog, "send 1;");
    EXPECT_TRUE(tp.isRunning());
    delete tp.drop(0);
}

// Sends six requests in a row, more than the four up buffers, then waits
// for the one answer.
class StreamFunc : public Func {
public:
    int func(int e) override
    {
        switch (e) {
        case 0:
            return setup(1, fCanput(0), 0);
        case 1:
            new (pmu(0)->puc()) TestMsg(++_c);
            putbuf(pmu(0)->pup(), std::string(1, static_cast<char>('a' + _c - 1)));
            return _c < 6 ? setup(1, fCanput(0), fSendup(0)) : setup(2, fCanget(0), fSendup(0));
        }
        _idAnswer = pTestMsg(pmd(0)->puc())->_id;
        return setup(-1, 0, fReleasedown(0));
    }
    uint32_t _c = 0;
    uint32_t _idAnswer = 0;
};

TEST_F(PumpTest, StreamsMoreMessagesThanUpBuffers)
{
    ch._cAnswerAt = 6;
    StreamFunc* ptf = new StreamFunc;
    start(ptf);
    EXPECT_EQ(ptf->_c, 4u);  // the pool ran empty
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(ch._sgLog, "send 1:a;send 2:b;send 3:c;send 4:d;send 5:e;send 6:f;recv 999;");
    EXPECT_EQ(ptf->_idAnswer, 999u);
    EXPECT_EQ(tp._cDone, 1);
    EXPECT_EQ(queues(ch), "dq=0 dd=0 du=1 dp=3  uq=0 ud=0 uu=0 up=4");
}

TEST_F(PumpTest, FailedSendStaysFailedAndTheExchangeCanBeDropped)
{
    ch._iFailSend = 1;
    ReqFunc* prf = new ReqFunc(1, "x");
    start(prf);
    EXPECT_EQ(runio(&ch), -1);
    EXPECT_TRUE(ch.isBad());
    EXPECT_STREQ(ch.szErr(), "send failed");
    EXPECT_NE(ch.pub(), nullptr);  // still in transfer
    EXPECT_TRUE(ch.isYkuUser());
    EXPECT_EQ(runio(&ch), -1);
    EXPECT_EQ(ch._sgLog, "");

    // The exchange cannot finish: drop it; the plexer takes the next run.
    EXPECT_TRUE(tp.isRunning());
    EXPECT_EQ(tp.drop(0), prf);
    EXPECT_EQ(prf->_idAnswer, 0u);
    delete prf;
    tp.run(new ReqFunc(2, ""));
    tp.sigUp(0, &ch, 0);
    EXPECT_EQ(runio(&ch), -1);
    EXPECT_EQ(tp._cDone, 0);
    delete tp.drop(0);
}

TEST_F(PumpTest, FailedReceiveInTheMiddleOfAnExchange)
{
    ch._fFailRecv = true;
    ReqFunc* prf = new ReqFunc(1, "x");
    start(prf);
    EXPECT_EQ(runio(&ch), -1);
    EXPECT_EQ(ch._sgLog, "send 1:x;");
    EXPECT_NE(ch.pdb(), nullptr);  // the buffer stays armed
    EXPECT_EQ(tp.drop(0), prf);
    delete prf;

    // A transport that works again (and has forgotten the old answer).
    ch.clear();
    ch._fFailRecv = false;
    ch._dqAnswer.clear();
    ReqFunc* prf2 = new ReqFunc(2, "y");
    start(prf2);
    EXPECT_EQ(runio(&ch), 0);
    EXPECT_EQ(prf2->_idAnswer, 1002u);
    EXPECT_EQ(prf2->_sgAnswer, "y");
    EXPECT_EQ(tp._cDone, 1);
    EXPECT_EQ(queues(ch), "dq=0 dd=0 du=1 dp=3  uq=0 ud=0 uu=0 up=4");
}

TEST_F(PumpTest, FailedChannelWithNothingInTransferIsAFailedPump)
{
    ch.setBad("can't open", 2, nullptr);
    EXPECT_EQ(runio(&ch), -1);
}

TEST(Pump, ChannelDestroyedWithMessagesQueued)
{
    ScriptChan ch;
    for (int k = 0; k < 3; ++k)
        ch.putUp(0, ch.allocUp(0), false);
    ch.putDownBuf(0, ch.allocDownBuf());
    ch.setupRecv();
    EXPECT_EQ(queues(ch), "dq=1 dd=0 du=1 dp=2  uq=3 ud=0 uu=0 up=1");
    // On the way out nothing is sent or received: the queues go back to the
    // pools (as the destructor does first), every buffer with them.
    ch.finiQueues();
    EXPECT_EQ(queues(ch), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
    EXPECT_EQ(ch._sgLog, "");
    EXPECT_EQ(ch._cArmSend, 0);
}

TEST(PumpDeath, AssertionTexts)
{
    EXPECT_DEATH(runio(nullptr), "Assertion failed: pucIo, file yek_user, line 199");
    EXPECT_DEATH(
        {
            ScriptChan ch;
            ch.sigGet(0);
        },
        "Assertion failed: _pub, file yek_user, line 157");
    EXPECT_DEATH(
        {
            ScriptChan ch;
            for (int k = 0; k < 4; ++k)
                ch.allocDownBuf();
            ch.sigPut(0);
        },
        "Assertion failed: _pdb, file yek_user, line 168");
}

}  // namespace
