#include "yek_fixtures.h"

#include <gtest/gtest.h>

using namespace yek_test;

namespace {

// A plexer that records its signals and holds what it takes.
class HoldingPlex : public YekPlex {
public:
    HoldingPlex() : YekPlex("hold") {}
    void sigDown(int iCtx, YekChannel* pcn, int hChan) override
    {
        _sgLog += "down " + std::to_string(iCtx) + " h" + std::to_string(hChan) + ";";
        if (_fTake)
            while (pcn->peekDown())
                _vpmd.push_back(pcn->getDown(iCtx));
    }
    void sigUp(int, YekChannel*, int) override { _sgLog += "up;"; }
    std::string _sgLog;
    bool _fTake = false;
    std::vector<Pmd> _vpmd;
};

// Sends one up message with data on pcn, flushed.
void sendUp(YekChannel* pcn, uint32_t id, const std::string& sgData)
{
    Pmu pmu = pcn->allocUp(512);
    ASSERT_NE(pmu, nullptr);
    new (pmu->puc()) TestMsg(id);
    putbuf(pmu->pup(), sgData);
    pcn->putUp(7, pmu, true);
}

struct LocalPairTest : ::testing::Test {
    void SetUp() override
    {
        EXPECT_TRUE(pair.init(&testProto()).isGood());
        pair.pucA()->initPlex(&pxA, 3, 0);
        pair.pucB()->initPlex(&pxB, 5, 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(cBuffers(*pair.pucA()), "4+4");
        EXPECT_EQ(cBuffers(*pair.pucB()), "4+4");
    }
    HoldingPlex pxA, pxB;
    LocalChanPair pair;
};

TEST_F(LocalPairTest, MessageArrivesAtThePeerReadyToRead)
{
    EXPECT_EQ(pair.pucA()->pucPeer(), pair.pucB());
    EXPECT_EQ(pair.pucB()->pucPeer(), pair.pucA());
    EXPECT_EQ(pair.pucB()->pup(), &testProto());

    sendUp(pair.pucB(), 9, "abc");
    EXPECT_EQ(pxA._sgLog, "down 7 h3;");
    Pmd pmd = pair.pucA()->peekDown();
    ASSERT_NE(pmd, nullptr);
    EXPECT_EQ(pTestMsg(pmd->puc())->_id, 9u);
    EXPECT_EQ(pmd->pug()->cGet(), 3u);
    EXPECT_EQ(pmd->pug()->cDone(), 0u);
    EXPECT_EQ(readData(pmd), "abc");
    EXPECT_EQ(queues(*pair.pucB()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");  // paid back at once
    EXPECT_EQ(queues(*pair.pucA()), "dq=1 dd=0 du=0 dp=3  uq=0 ud=0 uu=0 up=4");
    pair.pucA()->releaseDown(0, pair.pucA()->getDown(0));
}

TEST_F(LocalPairTest, FifthMessageWaitsForTheReceiversRelease)
{
    pxA._fTake = true;
    for (uint32_t id = 1; id <= 5; ++id)
        sendUp(pair.pucB(), id, "");
    ASSERT_EQ(pxA._vpmd.size(), 4u);
    for (uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(pTestMsg(pxA._vpmd[k]->puc())->_id, k + 1);
    EXPECT_EQ(queues(*pair.pucB()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=1 up=3");
    EXPECT_TRUE(pair.pucB()->isYkuUser());

    pxA._sgLog.clear();
    pair.pucA()->releaseDown(1, pxA._vpmd[0]);  // its sigPut pulls the fifth in
    EXPECT_EQ(pxA._sgLog, "down 1 h3;");
    ASSERT_EQ(pxA._vpmd.size(), 5u);
    EXPECT_EQ(pTestMsg(pxA._vpmd[4]->puc())->_id, 5u);
    for (size_t k = 1; k < pxA._vpmd.size(); ++k)
        pair.pucA()->releaseDown(0, pxA._vpmd[k]);
    EXPECT_EQ(queues(*pair.pucB()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

// Client on pair 1, relay between pair 1 and pair 2, echo server on pair 2.
TEST(LocalRelay, RelayedRequestAndAnswerKeepTheirData)
{
    LocalChanPair pr1, pr2;
    pr1.init(&testProto());
    pr2.init(&testProto());
    TaskHost host;
    DoneCount dc;
    TaskForward fw(&dc, 0, pr1.pucA(), pr2.pucB());
    host._pta = &fw;
    pr1.pucA()->initPlex(&host, 0, 0);
    pr2.pucB()->initPlex(&host, 1, 0);
    CountingPlex server(pr2.pucA());
    EchoFunc* pef = new EchoFunc;
    server.run(pef);
    server.sigUp(0, pr2.pucA(), 0);

    CountingPlex client(pr1.pucB());
    ReqFunc* prf = new ReqFunc(4, "xyz");
    client.run(prf);
    client.sigUp(0, pr1.pucB(), 0);

    EXPECT_EQ(client._cDone, 1);
    EXPECT_EQ(prf->e(), -2);
    EXPECT_EQ(prf->_idAnswer, 1004u);
    EXPECT_EQ(prf->_sgAnswer, "xyz");
    EXPECT_EQ(pef->_vidSeen, std::vector<uint32_t>{4});
    EXPECT_EQ(fw._c, 0);
    EXPECT_EQ(dc._c, 1);
    for (YekChannel* pcn : {pr1.pucA(), pr1.pucB(), pr2.pucA(), pr2.pucB()})
        EXPECT_EQ(cBuffers(*pcn), "4+4");

    delete server.drop(0);
    pr1.pucA()->finiPlex();
    pr2.pucB()->finiPlex();
}

TEST(LocalRelay, MoveDownUpSendsTheWholeMessage)
{
    ManualChannel cnFrom, cnTo;
    cnFrom.deliver(1, "abc");
    EXPECT_TRUE(moveDownUp(&cnFrom, &cnTo));
    YekMsgBuf* p = cnTo.getUpBuf();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->cDone(), 3u);  // what a transport sends
    EXPECT_EQ(std::string(p->pchBase(), 3), "abc");
    EXPECT_EQ(queues(cnFrom), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");  // paid with an up buffer
    EXPECT_EQ(queues(cnTo), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=1 up=3");
    cnTo.releaseUpBuf(0, p);
    EXPECT_FALSE(moveDownUp(&cnFrom, &cnTo));
}

// A server plexer whose port table has one name.
class PortPlex : public YekPlex {
public:
    PortPlex() : YekPlex("ports") {}
    int openChannel(const char* szPort, YekChannel* pcn) override
    {
        if (std::string(szPort) != "dino")
            return -1;
        pcn->initPlex(this, 2, 0);
        _vsg.push_back("open " + std::to_string(pcn->hChan()));
        _pcnOpen = pcn;
        return 2;
    }
    void closeChannel(int hChan) override
    {
        // The end is still alive when its port is closed.
        _vsg.push_back("close " + std::to_string(hChan) + " h" + std::to_string(_pcnOpen->hChan()));
        _pcnOpen->finiPlex();
    }
    std::vector<std::string> _vsg;
    YekChannel* _pcnOpen = nullptr;
};

TEST(LocalChannelPair, OpensEndAOnTheServersPortAndClosesItFirst)
{
    PortPlex px;
    {
        LocalChannelPair lcp;
        EXPECT_TRUE(lcp.init(&px, "dino", &testProto()).isGood());
        EXPECT_EQ(lcp._ePort, 2);
        EXPECT_EQ(lcp.pucA()->pux(), &px);
        EXPECT_EQ(lcp.pucClient(), lcp.pucB());
        // A second init closes the first port before the ends go.
        EXPECT_TRUE(lcp.init(&px, "dino", &testProto()).isGood());
        lcp.fini();
        lcp.fini();
    }
    std::vector<std::string> vsg = {"open 2", "close 2 h2", "open 2", "close 2 h2"};
    EXPECT_EQ(px._vsg, vsg);
}

TEST(LocalChannelPair, RefusedPortFailsAndClosesNothing)
{
    PortPlex px;
    {
        LocalChannelPair lcp;
        Failable& fa = lcp.init(&px, "nope", &testProto());
        EXPECT_FALSE(fa.isGood());
        EXPECT_STREQ(fa.szErr(), "Plexer openChannel() failed");
        EXPECT_EQ(fa.iErr(), 97);
        EXPECT_EQ(lcp._ePort, -1);
        EXPECT_NE(lcp.pucA(), nullptr);  // the ends exist all the same

        EXPECT_FALSE(lcp.init(nullptr, "dino", &testProto()).isGood());
        EXPECT_EQ(lcp.iErr(), 97);
        EXPECT_TRUE(lcp.init(&px, "dino", &testProto()).isGood());  // a good init is good again
    }
    std::vector<std::string> vsg = {"open 2", "close 2 h2"};
    EXPECT_EQ(px._vsg, vsg);
}

TEST(LocalDeath, AssertionTexts)
{
    EXPECT_DEATH(
        {
            LocalChanPair pr;
            pr.init(&testProto());
            sendUp(pr.pucB(), 1, "");
        },
        "Assertion failed: pucPeer\\(\\)->pux\\(\\), file yek_user, line 129");
    EXPECT_DEATH(
        {
            LocalChanPair pr;
            pr.init(&testProto());
            pr.pucA()->sigPut(0);
        },
        "Assertion failed: pux\\(\\), file yek_user, line 135");
    ManualChannel cn;
    EXPECT_DEATH(moveUpDown(&cn, nullptr), "Assertion failed: pucSend && pucRecv, file yek_user, line 53");
    EXPECT_DEATH(moveDownUp(nullptr, &cn), "Assertion failed: pucSend && pucRecv, file yek_user, line 61");
}

}  // namespace
