#include "yek_fixtures.h"

#include "kv_clock.h"

#include <gtest/gtest.h>

#include <memory>

using namespace yek_test;

namespace {

// A Func built from a step function; it records its destruction in a log.
class StepFunc : public Func {
public:
    typedef int (*Step)(StepFunc& tf, int e);
    explicit StepFunc(Step pf, std::string* psgLog = nullptr, std::string sgName = "")
        : _pf(pf), _psgLog(psgLog), _sgName(std::move(sgName))
    {
    }
    ~StepFunc() override
    {
        if (_psgLog)
            *_psgLog += "~" + _sgName + ";";
    }
    int func(int e) override { return _pf(*this, e); }

    Step _pf;
    std::string* _psgLog;
    std::string _sgName;
    std::vector<uint32_t> _vid;
    Func* _ptfChild = nullptr;
    Func* _ptfSeen = nullptr;
};

int finishAtOnce(StepFunc& tf, int)
{
    return tf.setup(-1, 0, 0);
}

uint32_t idOf(Pmd pmd)
{
    return pTestMsg(pmd->puc())->_id;
}

// A client plexer on a channel whose user side the test moves by hand.
struct EngineTest : ::testing::Test {
    std::string sgLog;
    ManualChannel cn;
    std::unique_ptr<CountingPlex> ptp{new CountingPlex(&cn)};

    void kick() { ptp->sigUp(0, &cn, 0); }
};

TEST_F(EngineTest, FuncThatFinishesAtOnceReportsDoneOnce)
{
    StepFunc* ptf = new StepFunc(finishAtOnce);
    ptp->run(ptf);
    EXPECT_TRUE(ptp->isRunning());
    kick();
    EXPECT_FALSE(ptp->isRunning());
    EXPECT_EQ(ptp->_cDone, 1);
    EXPECT_EQ(ptp->ptfRet(), ptf);
    EXPECT_EQ(ptf->e(), -2);
    EXPECT_EQ(queues(cn), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");

    kick();  // an idle task function reports done again
    EXPECT_EQ(ptp->_cDone, 2);
}

TEST_F(EngineTest, WaitsHoldWhatTheyTookUntilTheRestIsThere)
{
    // Every up buffer is with the user side: canput cannot be met.
    YekMsgBuf* mpmb[4];
    for (YekMsgBuf*& p : mpmb) {
        cn.putUp(0, cn.allocUp(0), false);
        p = cn.getUpBuf();
    }
    StepFunc* ptf = new StepFunc([](StepFunc& tf, int e) {
        if (e == 0)
            return tf.setup(1, TaskFlags::fCanget(0) | TaskFlags::fCanput(0), 0);
        tf._vid.push_back(idOf(tf.pmd(0)));
        return tf.setup(-1, 0, TaskFlags::fReleasedown(0));
    });
    ptp->run(ptf);
    kick();
    cn.deliver(1);  // taken and held
    cn.deliver(2);  // not taken: one is held already
    EXPECT_EQ(queues(cn), "dq=1 dd=1 du=0 dp=2  uq=0 ud=0 uu=4 up=0");
    EXPECT_TRUE(ptf->_vid.empty());

    cn.releaseUpBuf(0, mpmb[0]);  // refills the pool: sigUp runs the step
    EXPECT_EQ(ptf->_vid, std::vector<uint32_t>{1});
    EXPECT_EQ(ptp->_cDone, 1);
    EXPECT_EQ(queues(cn), "dq=1 dd=0 du=0 dp=3  uq=0 ud=1 uu=3 up=0");
    for (int k = 1; k < 4; ++k)
        cn.releaseUpBuf(0, mpmb[k]);
}

int pairStep(StepFunc& tf, int e)
{
    int fWait = TaskFlags::fCanget(0) | TaskFlags::fCanget2(0);
    if (e == 0)
        return tf.setup(1, fWait, 0);
    tf._vid.push_back(idOf(tf.pmd(0, 0)));
    tf._vid.push_back(idOf(tf.pmd(0, 1)));
    return tf.setup(tf._vid.size() < 4 ? 1 : -1, tf._vid.size() < 4 ? fWait : 0, TaskFlags::fReleasedown(0));
}

TEST_F(EngineTest, SecondMessageWaitAndReleaseOfBoth)
{
    StepFunc* ptf = new StepFunc(pairStep);
    ptp->run(ptf);
    kick();
    cn.deliver(1);
    EXPECT_EQ(queues(cn), "dq=0 dd=1 du=0 dp=3  uq=0 ud=0 uu=0 up=4");
    cn.deliver(2);
    EXPECT_EQ(ptf->_vid, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(queues(cn), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");  // both given back
    cn.deliver(3);
    cn.deliver(4);
    EXPECT_EQ(ptf->_vid, (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(ptp->_cDone, 1);
}

TEST_F(EngineTest, SecondMessageWaitWithoutAHeldFirstTakesNothing)
{
    StepFunc* ptf = new StepFunc([](StepFunc& tf, int) { return tf.setup(1, TaskFlags::fCanget2(0), 0); });
    ptp->run(ptf);
    kick();
    cn.deliver(3);
    EXPECT_EQ(queues(cn), "dq=1 dd=0 du=0 dp=3  uq=0 ud=0 uu=0 up=4");
    delete ptp->drop(0);
}

// Three messages queued before the first step: releasing the first pair
// signals a nested call that takes the third for the next step. It must
// survive the release loop.
TEST(Engine, ReleaseKeepsAMessageTakenByANestedSignal)
{
    ManualChannel cn;
    for (uint32_t id = 1; id <= 3; ++id)
        cn.deliver(id);  // nothing attached yet: no signals
    CountingPlex tp(&cn);
    StepFunc* ptf = new StepFunc(pairStep);
    tp.run(ptf);
    tp.sigUp(0, &cn, 0);
    EXPECT_EQ(ptf->_vid, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(queues(cn), "dq=0 dd=1 du=0 dp=3  uq=0 ud=0 uu=0 up=4");
    cn.deliver(4);
    EXPECT_EQ(ptf->_vid, (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(tp._cDone, 1);
}

TEST_F(EngineTest, CalledChildRunsInTheSameSignalAndDiesWithItsParent)
{
    StepFunc* ptfParent = new StepFunc(
        [](StepFunc& tf, int e) {
            if (e == 0)
                return tf.call(5, tf._ptfChild);
            EXPECT_EQ(e, 5);
            tf._ptfSeen = tf.ptt()->ptfRet();
            return tf.setup(-1, 0, 0);
        },
        &sgLog, "parent");
    StepFunc* ptfChild = new StepFunc(finishAtOnce, &sgLog, "child");
    ptfParent->_ptfChild = ptfChild;
    ptp->run(ptfParent);
    kick();
    EXPECT_EQ(ptfParent->_ptfSeen, ptfChild);
    EXPECT_EQ(ptp->ptfRet(), ptfParent);
    EXPECT_EQ(sgLog, "~child;");
    EXPECT_EQ(ptp->_cDone, 1);
}

TEST_F(EngineTest, RootFuncsInTurnOwnedByTheTaskFunction)
{
    ptp->run(new StepFunc(finishAtOnce, &sgLog, "one"));
    kick();
    EXPECT_EQ(sgLog, "");
    ptp->run(new StepFunc(finishAtOnce, &sgLog, "two"));
    EXPECT_EQ(sgLog, "");
    kick();
    EXPECT_EQ(sgLog, "~one;");
    ptp.reset();
    EXPECT_EQ(sgLog, "~one;~two;");
}

TEST_F(EngineTest, DropHandsBackAnUnfinishedExchange)
{
    StepFunc* ptfRoot = new StepFunc(
        [](StepFunc& tf, int e) {
            if (e == 0)
                return tf.call(1, tf._ptfChild);
            return tf.setup(2, 0, 0);
        },
        &sgLog, "root");
    ptfRoot->_ptfChild = new StepFunc(
        [](StepFunc& tf, int) { return tf.setup(1, TaskFlags::fCanget(0) | TaskFlags::fCanget2(0) | TaskFlags::fCanput(0), 0); }, &sgLog, "child");
    ptp->run(ptfRoot);
    kick();
    cn.deliver(7);  // held; the second never comes
    Pmu pmu = ptp->pmu(0);
    ASSERT_NE(pmu, nullptr);
    putbuf(pmu->pup(), std::string("old"));
    EXPECT_EQ(queues(cn), "dq=0 dd=1 du=0 dp=3  uq=0 ud=1 uu=0 up=3");

    EXPECT_EQ(ptp->drop(0), ptfRoot);
    EXPECT_EQ(sgLog, "~child;");
    EXPECT_NE(ptfRoot->e(), -2);
    EXPECT_FALSE(ptp->isRunning());
    EXPECT_EQ(ptp->_cDone, 0);
    // The message went back; the up buffer stays lent, written afresh.
    EXPECT_EQ(queues(cn), "dq=0 dd=0 du=0 dp=4  uq=0 ud=1 uu=0 up=3");
    EXPECT_EQ(pmu->pup()->cDone(), 0u);
    EXPECT_EQ(pmu->pup()->cGet(), 512u);
    delete ptfRoot;

    EXPECT_EQ(ptp->drop(0), nullptr);
    ptp->run(new StepFunc(finishAtOnce));  // the next run works
    kick();
    EXPECT_EQ(ptp->_cDone, 1);
}

TEST_F(EngineTest, MovedTaskFunctionTakesItsFuncsAlong)
{
    DoneCount dc;
    TaskFunc tfA(&dc, 3, &cn, nullptr, nullptr);
    StepFunc* ptf1 = new StepFunc(finishAtOnce, &sgLog, "one");
    tfA.run(ptf1);
    tfA.sigUp(0, &cn);
    StepFunc* ptf2 = new StepFunc(finishAtOnce, &sgLog, "two");
    tfA.run(ptf2);

    TaskFunc tfB(std::move(tfA));
    EXPECT_EQ(tfB.h(), 3);
    EXPECT_EQ(tfB.ptfRet(), ptf1);
    EXPECT_EQ(tfA.ptfRet(), nullptr);
    EXPECT_FALSE(tfA.isRunning());
    EXPECT_EQ(ptf2->ptt(), &tfB);
    tfB.sigUp(0, &cn);
    EXPECT_EQ(sgLog, "~one;");
    EXPECT_EQ(dc._c, 2);
}

TEST(Engine, TimestampFromTheTickCount)
{
    kvclock::ManualClock clk(61234567);
    Time ti = Func::timestamp();
    EXPECT_EQ(ti.tv_sec, 61234u);
    EXPECT_EQ(ti.tv_nsec, 567000000u);
}

TEST(Engine, FlagWords)
{
    EXPECT_EQ(TaskFlags::fCanget(1), 0x2);
    EXPECT_EQ(TaskFlags::fCanput(1), 0x20);
    EXPECT_EQ(TaskFlags::fSendup(1), 0x200);
    EXPECT_EQ(TaskFlags::fReleasedown(1), 0x2000);
    EXPECT_EQ(TaskFlags::fCanget2(1), 0x20000);
    TaskFlags fl(0x1 | 0x20 | 0x100 | 0x2000 | 0x10000);
    EXPECT_EQ(fl.isSendup(), 0x100);
    EXPECT_EQ(fl.isReleasedown(), 0x2000);
    EXPECT_TRUE(fl.isSync(0x10021 | 0x100));  // post bits do not count
    EXPECT_FALSE(fl.isSync(0x21));            // a wait bit missing
    EXPECT_FALSE(fl.isSync(0x10023));         // a wait bit more
}

// Client on end B, echo server on end A: the answer arrives inside the
// client's sendup.
struct PairTest : ::testing::Test {
    PairTest()
    {
        pair.init(&testProto());
        pserver.reset(new CountingPlex(pair.pucA()));
        pclient.reset(new CountingPlex(pair.pucB()));
        pef = new EchoFunc;
        pserver->run(pef);
        pserver->sigUp(0, pair.pucA(), 0);
    }
    ~PairTest() override
    {
        EXPECT_EQ(cBuffers(*pair.pucA()), "4+4");
        EXPECT_EQ(cBuffers(*pair.pucB()), "4+4");
        delete pserver->drop(0);
    }
    LocalChanPair pair;
    std::unique_ptr<CountingPlex> pserver, pclient;
    EchoFunc* pef;
};

TEST_F(PairTest, ExchangeWithAnAnswerInsideTheSendup)
{
    ReqFunc* prf = new ReqFunc(7, "hello");
    pclient->run(prf);
    pclient->sigUp(0, pair.pucB(), 0);
    EXPECT_EQ(pclient->_cDone, 1);
    EXPECT_EQ(pclient->ptfRet(), prf);
    EXPECT_EQ(prf->e(), -2);
    EXPECT_EQ(prf->_idAnswer, 1007u);
    EXPECT_EQ(prf->_sgAnswer, "hello");
    EXPECT_EQ(pef->_vidSeen, std::vector<uint32_t>{7});
    EXPECT_EQ(queues(*pair.pucB()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
    // The server already holds the up buffer of its next answer.
    EXPECT_EQ(queues(*pair.pucA()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=1 uu=0 up=3");
}

// The parent calls two client children in turn and reads each answer.
class TwoCallsFunc : public Func {
public:
    int func(int e) override
    {
        switch (e) {
        case 0:
            return call(1, new ReqFunc(1, "a"));
        case 1:
            _vid.push_back(static_cast<ReqFunc*>(ptt()->ptfRet())->_idAnswer);
            return call(2, new ReqFunc(2, "b"));
        case 2:
            _vid.push_back(static_cast<ReqFunc*>(ptt()->ptfRet())->_idAnswer);
            return setup(-1, 0, 0);
        }
        return setup(-1, 0, 0);
    }
    std::vector<uint32_t> _vid;
};

TEST_F(PairTest, ParentAndChildrenWithAnswersInsideTheSendup)
{
    TwoCallsFunc* ptf = new TwoCallsFunc;
    pclient->run(ptf);
    pclient->sigUp(0, pair.pucB(), 0);
    EXPECT_EQ(pclient->_cDone, 1);
    EXPECT_EQ(pclient->ptfRet(), ptf);
    EXPECT_EQ(ptf->_vid, (std::vector<uint32_t>{1001, 1002}));
    EXPECT_EQ(pef->_vidSeen, (std::vector<uint32_t>{1, 2}));
}

// A peer that sends its next request as soon as an answer arrives, inside
// the server's sendup, while the server still holds the request it answered.
class EagerPeer : public YekPlex {
public:
    EagerPeer() : YekPlex("eager") {}
    void send(YekChannel* pcn)
    {
        Pmu pmu = pcn->allocUp(512);
        new (pmu->puc()) TestMsg(++_cSent);
        pcn->putUp(0, pmu, true);
    }
    void sigDown(int iCtx, YekChannel* pcn, int) override
    {
        Pmd pmd = pcn->getDown(iCtx);
        _vidAnswer.push_back(idOf(pmd));
        pcn->releaseDown(iCtx, pmd);
        if (_cSent < 3)
            send(pcn);
    }
    uint32_t _cSent = 0;
    std::vector<uint32_t> _vidAnswer;
};

TEST(PairEager, ServerAnswersEveryRequestOnce)
{
    LocalChanPair pair;
    pair.init(&testProto());
    EagerPeer peer;
    pair.pucB()->initPlex(&peer, 0, 0);
    EchoFunc* pef = new EchoFunc;
    {
        CountingPlex server(pair.pucA());
        server.run(pef);
        server.sigUp(0, pair.pucA(), 0);
        peer.send(pair.pucB());
        EXPECT_EQ(pef->_vidSeen, (std::vector<uint32_t>{1, 2, 3}));
        EXPECT_EQ(peer._vidAnswer, (std::vector<uint32_t>{1001, 1002, 1003}));
        EXPECT_EQ(cBuffers(*pair.pucA()), "4+4");
        EXPECT_EQ(server.drop(0), pef);
    }
    delete pef;
    pair.pucB()->finiPlex();
}

// Requests arrive on channel 0 and leave on channel 1; answers come back.
struct ForwardTest : ::testing::Test {
    ForwardTest()
    {
        host._pta = &fw;
        cn0.initPlex(&host, 0, 0);
        cn1.initPlex(&host, 1, 0);
    }
    ~ForwardTest() override
    {
        cn0.finiPlex();
        cn1.finiPlex();
    }
    // The user side of pcn sends every queued up message.
    static std::vector<uint32_t> sendAll(ManualChannel& cn)
    {
        std::vector<uint32_t> vid;
        while (YekMsgBuf* p = cn.getUpBuf()) {
            vid.push_back(pTestMsg(p->puc())->_id);
            cn.releaseUpBuf(0, p);
        }
        return vid;
    }
    ManualChannel cn0, cn1;
    TaskHost host;
    DoneCount dc;
    TaskForward fw{&dc, 0, &cn0, &cn1};
};

TEST_F(ForwardTest, CountsMessagesNotSignals)
{
    cn0.finiPlex();
    cn0.deliver(1);
    cn0.deliver(2);
    cn0.initPlex(&host, 0, 0);
    fw.sigDown(0, &cn0);  // one signal, two requests
    EXPECT_EQ(fw._c, 2);
    EXPECT_EQ(cn1._cGet, 1);
    EXPECT_EQ(sendAll(cn1), (std::vector<uint32_t>{1, 2}));

    cn1.deliver(1001);
    EXPECT_EQ(dc._c, 0);  // one answer is still outstanding
    cn1.deliver(1002);
    EXPECT_EQ(dc._c, 1);
    EXPECT_EQ(fw._c, 0);
    EXPECT_EQ(sendAll(cn0), (std::vector<uint32_t>{1001, 1002}));
}

TEST_F(ForwardTest, BurstWaitsForFreeUpBuffersAndMovesOn)
{
    for (uint32_t id = 1; id <= 5; ++id)
        cn0.deliver(id);
    EXPECT_EQ(fw._c, 4);  // the fifth waits for an up buffer of channel 1
    EXPECT_EQ(sendAll(cn1), (std::vector<uint32_t>{1, 2, 3, 4, 5}));  // the refill moved it
    EXPECT_EQ(fw._c, 5);

    for (uint32_t id = 1001; id <= 1005; ++id)
        cn1.deliver(id);
    EXPECT_EQ(dc._c, 0);
    EXPECT_EQ(sendAll(cn0), (std::vector<uint32_t>{1001, 1002, 1003, 1004, 1005}));
    EXPECT_EQ(fw._c, 0);
    EXPECT_EQ(dc._c, 1);
    EXPECT_EQ(cBuffers(cn0), "4+4");
    EXPECT_EQ(cBuffers(cn1), "4+4");
}

TEST(EngineDeath, AssertionTexts)
{
    struct Case {
        const char* what;
        void (*f)(CountingPlex& tp, ManualChannel& cn);
        const char* report;
    } cases[] = {
        {"run without a Func", [](CountingPlex& tp, ManualChannel&) { tp.run(nullptr); },
         "Assertion failed: ptf, file yek_task, line 234"},
        {"run while running",
         [](CountingPlex& tp, ManualChannel&) {
             tp.run(new StepFunc(finishAtOnce));
             tp.run(new StepFunc(finishAtOnce));
         },
         "Assertion failed: !isRunning\\(\\), file yek_task, line 235"},
        {"sendup without an up buffer",
         [](CountingPlex& tp, ManualChannel& cn) {
             tp.run(new StepFunc([](StepFunc& tf, int) { return tf.setup(-1, 0, TaskFlags::fSendup(0)); }));
             tp.sigUp(0, &cn, 0);
         },
         "Assertion failed: pmu\\(i\\), file yek_task, line 165"},
        {"releasedown without a message",
         [](CountingPlex& tp, ManualChannel& cn) {
             tp.run(new StepFunc([](StepFunc& tf, int) { return tf.setup(-1, 0, TaskFlags::fReleasedown(0)); }));
             tp.sigUp(0, &cn, 0);
         },
         "Assertion failed: pmd\\(i\\), file yek_task, line 179"},
        {"down signal of a foreign channel",
         [](CountingPlex& tp, ManualChannel&) {
             ManualChannel cnOther;
             tp.TaskFunc::sigDown(0, &cnOther);
         },
         "Assertion failed: __pcn == pcn\\(0\\) \\|\\| __pcn == pcn\\(1\\), file yek_task, line 59"},
        {"up signal of a foreign channel",
         [](CountingPlex& tp, ManualChannel&) {
             ManualChannel cnOther;
             tp.TaskFunc::sigUp(0, &cnOther);
         },
         "Assertion failed: __pcn == pcn\\(0\\) \\|\\| __pcn == pcn\\(1\\), file yek_task, line 63"},
        {"wait on the missing channel 1",
         [](CountingPlex& tp, ManualChannel& cn) {
             tp.run(new StepFunc([](StepFunc& tf, int) { return tf.setup(1, TaskFlags::fCanget(1), 0); }));
             tp.sigUp(0, &cn, 0);
         },
         "Assertion failed: pcn\\(i\\), file yek_task"},
        {"drop from inside a step",
         [](CountingPlex& tp, ManualChannel& cn) {
             tp.run(new StepFunc([](StepFunc& tf, int) {
                 tf.ptt()->drop(0);
                 return tf.setup(-1, 0, 0);
             }));
             tp.sigUp(0, &cn, 0);
         },
         "Assertion failed: _cRec == 0, file yek_task"},
    };
    for (const Case& c : cases) {
        EXPECT_DEATH(
            {
                ManualChannel cn;
                CountingPlex tp(&cn);
                c.f(tp, cn);
            },
            c.report)
            << c.what;
    }
}

TEST(ForwardDeath, AssertionTexts)
{
    DoneCount dc;
    ManualChannel cn0, cn1, cnOther;
    EXPECT_DEATH(
        {
            TaskForward fw(&dc, 0, &cn0, &cn1);
            cn0.deliver(1);
            fw.sigDown(0, &cn0);
        },
        "Assertion failed: _c==0, file yek_task, line 20");
    TaskForward fw(&dc, 0, &cn0, &cn1);
    EXPECT_DEATH(fw.sigDown(0, &cnOther), "Assertion failed: 0, file yek_task, line 35");
    EXPECT_DEATH(fw.sigUp(0, &cnOther), "Assertion failed: 0, file yek_task, line 41");
}

}  // namespace
