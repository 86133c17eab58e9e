// The port multiplexer: ports by name, one task per request, the device
// channel's answers to the task in progress, and the ends of requests that
// cannot finish.
#include "yek_fixtures.h"
#include "yek_portmux.h"

#include <gtest/gtest.h>

using namespace yek_test;

namespace {

const YekProto& longerProto()
{
    static const YekProto pro("(//)(/Int4:u_int/)(/Int1:u_int/)", "tsx");
    return pro;
}

// Serves one request: an odd id is answered at once with id + 1000; an even
// id asks the device (request id + 1) and is answered with the device's id.
class ServeFunc : public Func {
public:
    int func(int e) override
    {
        switch (e) {
        case 0:
            return setup(1, fCanget(0), 0);
        case 1:
            _id = pTestMsg(pmd(0)->puc())->_id;
            if (_id % 2)
                return setup(4, fCanput(0), 0);
            return setup(2, fCanput(1), 0);
        case 2:
            new (pmu(1)->puc()) TestMsg(_id + 1);
            return setup(3, fCanget(1), fSendup(1));
        case 3:
            _idDev = pTestMsg(pmd(1)->puc())->_id;
            return setup(4, fCanput(0), fReleasedown(1));
        case 4:
            new (pmu(0)->puc()) TestMsg(_idDev ? _idDev : _id + 1000);
            return setup(-1, 0, fSendup(0) + fReleasedown(0));
        }
        return setup(-1, 0, 0);
    }
    uint32_t _id = 0;
    uint32_t _idDev = 0;
};

// Serves a request of two messages with the sum of their ids.
class PairFunc : public Func {
public:
    int func(int e) override
    {
        if (e == 0)
            return setup(1, fCanget(0) | fCanget2(0), 0);
        if (e == 1)
            return setup(2, fCanput(0), 0);
        new (pmu(0)->puc()) TestMsg(pTestMsg(pmd(0, 0)->puc())->_id + pTestMsg(pmd(0, 1)->puc())->_id);
        return setup(-1, 0, fSendup(0) + fReleasedown(0));
    }
};

// A device channel with a status, as a device channel over a transport has.
class StatusChannel : public ManualChannel, public Failables {
public:
    void breakIt() { setBad("gone", 1167, nullptr); }
    // The up message the task sent: its id; the buffer goes back.
    uint32_t takeRequest()
    {
        YekMsgBuf* p = getUpBuf();
        if (!p)
            return 0;
        uint32_t id = pTestMsg(p->puc())->_id;
        releaseUpBuf(0, p);
        return id;
    }
    // The transport takes every free up buffer and keeps it until given back.
    void keepUpBuffers()
    {
        while (Pmu pmu = allocUp(0)) {
            putUp(0, pmu, false);
            _vpmbKept.push_back(getUpBuf());
        }
    }
    void giveBackUpBuffer()
    {
        releaseUpBuf(0, _vpmbKept.back());
        _vpmbKept.pop_back();
    }
    std::vector<YekMsgBuf*> _vpmbKept;
};

const PortMux::PortClass mpPcTest[3] = {{"alpha", &testProto()}, {"beta", &testProto()}, {nullptr, nullptr}};

class TestMux : public PortMux {
public:
    explicit TestMux(Channel* pcnDev) : PortMux(mpPcTest, mpPo, pcnDev) {}
    ~TestMux() override
    {
        for (Port& po : mpPo)
            delete po.pta();
    }

    Task* createTask(Channel* pcn, const PortClass* pPc, Pmd pmd, PortMux* ptm, int h) override
    {
        ++cCreate;
        _idFirst = pTestMsg(pmd->puc())->_id;
        if (fNoTask)
            return nullptr;
        Func* ptf = pPc == &mpPcTest[1] ? static_cast<Func*>(new PairFunc) : new ServeFunc;
        return new TaskFunc(ptm, h, pcn, pucDev(), ptf);
    }
    void deleteTask(const PortClass*, Task* pta) override
    {
        ++cDelete;
        delete pta;
    }

    Port mpPo[2];
    int cCreate = 0, cDelete = 0;
    uint32_t _idFirst = 0;
    bool fNoTask = false;
};

// The client: takes every answer, notes its id and releases it.
class ClientPlex : public YekPlex {
public:
    ClientPlex() : YekPlex("client") {}
    void sigDown(int iCtx, YekChannel* pcn, int) override
    {
        while (pcn->peekDown()) {
            Pmd pmd = pcn->getDown(iCtx);
            _vid.push_back(pTestMsg(pmd->puc())->_id);
            pcn->releaseDown(iCtx, pmd);
            if (_idNext) {
                uint32_t id = _idNext;
                _idNext = 0;
                send(pcn, id);
            }
        }
    }
    void sigUp(int, YekChannel*, int) override {}
    static void send(YekChannel* pcn, uint32_t id)
    {
        Pmu pmu = pcn->allocUp(512);
        new (pmu->puc()) TestMsg(id);
        pcn->putUp(0, pmu, true);
    }
    std::vector<uint32_t> _vid;
    uint32_t _idNext = 0;  // sent from inside the next answer's arrival
};

struct PortMuxTest : ::testing::Test {
    StatusChannel dev;
    TestMux mux{&dev};
    LocalChannelPair lc;
    ClientPlex client;

    void SetUp() override
    {
        ASSERT_TRUE(lc.init(&mux, "alpha", &testProto()).isGood());
        lc.pucClient()->initPlex(&client, 0, 0);
    }
    void TearDown() override
    {
        lc.pucClient()->finiPlex();
        lc.fini();
        EXPECT_EQ(cBuffers(dev), "4+4");
    }
    void send(uint32_t id) { ClientPlex::send(lc.pucClient(), id); }
};

TEST(PortMux, PortsByNameProtocolAndTaking)
{
    StatusChannel dev;
    ManualChannel a, b, c;
    YekChanLocal wrong(&longerProto());
    {
        TestMux mux(&dev);
        EXPECT_EQ(mux.cPortTypes(), 2);
        EXPECT_EQ(dev.pux(), &mux);
        EXPECT_EQ(dev.hChan(), 0);
        EXPECT_EQ(mux.szName(), std::string("pm"));

        EXPECT_EQ(mux.openChannel("alpha", &a), 0);
        EXPECT_EQ(a.pux(), &mux);
        EXPECT_EQ(a.hChan(), 0);
        EXPECT_EQ(mux.openChannel("alpha", &b), -3);
        EXPECT_EQ(mux.openChannel("Alpha", &b), -1);
        EXPECT_EQ(mux.openChannel(nullptr, &b), -1);
        // The channel's signature must begin the port's: a longer one does not.
        EXPECT_EQ(mux.openChannel("beta", &wrong), -2);
        EXPECT_EQ(wrong.pux(), nullptr);
        EXPECT_EQ(mux.openChannel("beta", &b), 1);
        EXPECT_EQ(b.hChan(), 1);

        mux.closeChannel(0);
        EXPECT_EQ(a.pux(), nullptr);
        EXPECT_EQ(a.hChan(), -1);
        EXPECT_EQ(mux.openChannel("alpha", &c), -3) << "a closed port stays taken";
        mux.closeChannel(7);  // no such port: nothing happens
        EXPECT_EQ(b.pux(), &mux);
    }
    EXPECT_EQ(dev.pux(), nullptr);
    EXPECT_EQ(dev.hChan(), -1);
}

TEST(PortMux, OneNamedRowIsOnePortType)
{
    static const PortMux::PortClass mpPc[2] = {{"only", &testProto()}, {nullptr, nullptr}};
    static PortMux::Port po;
    struct OneMux : PortMux {
        OneMux() : PortMux(mpPc, &po, nullptr) {}
        Task* createTask(Channel*, const PortClass*, Pmd, PortMux*, int) override { return nullptr; }
        void deleteTask(const PortClass*, Task*) override {}
    } mux;
    EXPECT_EQ(mux.cPortTypes(), 1);
    EXPECT_EQ(mux.pucDev(), nullptr);
}

TEST_F(PortMuxTest, RequestAnsweredAtOnceMakesAndDisposesOfOneTask)
{
    send(7);
    EXPECT_EQ(client._vid, std::vector<uint32_t>{1007});
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_EQ(mux._idFirst, 7u);
    EXPECT_EQ(mux.cDelete, 1);
    EXPECT_EQ(mux.mpPo[0].pta(), nullptr);
    EXPECT_EQ(mux._poDev.pta(), nullptr);

    send(9);
    EXPECT_EQ(client._vid, (std::vector<uint32_t>{1007, 1009}));
    EXPECT_EQ(mux.cCreate, 2) << "the next message starts a new request";
    EXPECT_EQ(cBuffers(*lc.pucA()), "4+4");
}

TEST_F(PortMuxTest, LaterMessagesOfARequestGoToItsTask)
{
    LocalChannelPair lcBeta;
    ClientPlex clientBeta;
    ASSERT_TRUE(lcBeta.init(&mux, "beta", &testProto()).isGood());
    lcBeta.pucClient()->initPlex(&clientBeta, 0, 0);

    ClientPlex::send(lcBeta.pucClient(), 3);
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_TRUE(clientBeta._vid.empty());
    ClientPlex::send(lcBeta.pucClient(), 4);
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_EQ(clientBeta._vid, std::vector<uint32_t>{7});
    EXPECT_EQ(mux.cDelete, 1);

    lcBeta.pucClient()->finiPlex();
}

TEST_F(PortMuxTest, DeviceAnswersReachTheTaskOfTheRequest)
{
    send(4);
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_EQ(mux._poDev.pta(), mux.mpPo[0].pta());
    EXPECT_EQ(dev._cGet, 1);
    EXPECT_EQ(dev.takeRequest(), 5u);
    EXPECT_TRUE(client._vid.empty());

    dev.deliver(55);
    EXPECT_EQ(client._vid, std::vector<uint32_t>{55});
    EXPECT_EQ(mux.cDelete, 1);
    EXPECT_EQ(mux._poDev.pta(), nullptr);
}

// A request that waits for an up buffer of the device has asked the device
// nothing yet: the device owes it an answer only once it has sent.
TEST_F(PortMuxTest, AwaitingTheDeviceOnlyOnceTheRequestIsSent)
{
    dev.keepUpBuffers();
    send(4);
    ASSERT_EQ(mux._poDev.pta(), mux.mpPo[0].pta());
    EXPECT_FALSE(mux.isAwaitingDev());
    dev.giveBackUpBuffer();
    EXPECT_TRUE(mux.isAwaitingDev());
    while (!dev._vpmbKept.empty())
        dev.giveBackUpBuffer();
    EXPECT_EQ(dev.takeRequest(), 5u);
    dev.deliver(55);
    EXPECT_EQ(client._vid, std::vector<uint32_t>{55});
    EXPECT_FALSE(mux.isAwaitingDev()) << "no request in progress";
}

TEST_F(PortMuxTest, DeviceMessageWithoutARequestIsLeftAlone)
{
    dev.deliver(1);
    EXPECT_EQ(mux.cCreate, 0);
    EXPECT_EQ(queues(dev), "dq=1 dd=0 du=0 dp=3  uq=0 ud=0 uu=0 up=4");
    // After a request the device port names no task that is gone.
    send(3);
    dev.deliver(2);
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_EQ(queues(dev), "dq=2 dd=0 du=0 dp=2  uq=0 ud=0 uu=0 up=4");
    dev.finiQueues();
}

TEST_F(PortMuxTest, RequestSentWhileTheLastAnswerGoesOutIsServedNext)
{
    client._idNext = 11;
    send(9);
    EXPECT_EQ(client._vid, (std::vector<uint32_t>{1009, 1011}));
    EXPECT_EQ(mux.cCreate, 2);
    EXPECT_EQ(mux.cDelete, 2);
    EXPECT_EQ(cBuffers(*lc.pucA()), "4+4");
}

TEST_F(PortMuxTest, RequestWaitingForAFailedDeviceIsReplacedByTheNext)
{
    send(4);
    EXPECT_EQ(dev.takeRequest(), 5u);
    dev.breakIt();
    // The old request never gets its answer: the next one replaces it.
    send(7);
    EXPECT_EQ(mux.cCreate, 2);
    EXPECT_EQ(mux.cDelete, 2);
    EXPECT_EQ(client._vid, std::vector<uint32_t>{1007});
    EXPECT_EQ(cBuffers(*lc.pucA()), "4+4");
    EXPECT_EQ(queues(*lc.pucA()), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

TEST_F(PortMuxTest, RequestWaitingForAGoodDeviceKeepsItsTask)
{
    send(4);
    send(7);
    EXPECT_EQ(mux.cCreate, 1);
    EXPECT_EQ(mux.cDelete, 0);
    EXPECT_EQ(dev.takeRequest(), 5u);
    dev.deliver(55);
    // The waiting message starts its own request once the first is done.
    EXPECT_EQ(client._vid, (std::vector<uint32_t>{55, 1007}));
    EXPECT_EQ(mux.cCreate, 2);
}

TEST_F(PortMuxTest, CloseDropsARequestInProgress)
{
    send(4);
    EXPECT_EQ(dev.takeRequest(), 5u);
    lc.fini();
    EXPECT_EQ(mux.cDelete, 1);
    EXPECT_EQ(mux.mpPo[0].pta(), nullptr);
    EXPECT_EQ(mux._poDev.pta(), nullptr);
    // A late answer of the device finds no request.
    dev.deliver(55);
    EXPECT_EQ(cBuffers(dev), "4+4");
    dev.finiQueues();
    ASSERT_TRUE(lc.init(&mux, "beta", &testProto()).isGood());
    lc.pucClient()->initPlex(&client, 0, 0);
}

TEST_F(PortMuxTest, CloseTakesBackWhatTheRequestHasNotSentYet)
{
    send(4);
    EXPECT_EQ(dev.pollIn(), 1);
    lc.fini();
    EXPECT_EQ(dev.pollIn(), 0) << "nobody would take its answer: the device request does not go out";
    ASSERT_TRUE(lc.init(&mux, "beta", &testProto()).isGood());
    lc.pucClient()->initPlex(&client, 0, 0);
}

// A multiplexer whose clients send one message a request, and the next only
// when done with the last: a request replaces those it comes after.
class NewestMux : public TestMux {
public:
    using TestMux::TestMux;
    void sigDown(int iCtx, Channel* puc, int hChan) override
    {
        if (puc != pucDev())
            keepNewestRequest(hChan);
        PortMux::sigDown(iCtx, puc, hChan);
    }
};

TEST(PortMuxNewest, RequestReplacesThoseItComesAfter)
{
    struct Row {
        const char* szWhat;
        bool fKeepDevBuffers;       // the first request waits for a device buffer
        bool fFirstSent;            // the device took the first request's message
        std::vector<uint32_t> vid;  // what the client gets
        int cCreate;                // tasks made: 6 starts when 4 gives way
    };
    const Row mp[] = {
        {"the device owes the first an answer", false, true, {55}, 2},
        {"the first's device request not sent yet", false, false, {}, 3},
        {"the first waits for a device buffer", true, false, {}, 3},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        StatusChannel dev;
        NewestMux mux(&dev);
        LocalChannelPair lc;
        ClientPlex client;
        ASSERT_TRUE(lc.init(&mux, "alpha", &testProto()).isGood());
        lc.pucClient()->initPlex(&client, 0, 0);
        if (r.fKeepDevBuffers)
            dev.keepUpBuffers();
        ClientPlex::send(lc.pucClient(), 4);
        if (r.fFirstSent) {
            EXPECT_EQ(dev.takeRequest(), 5u);
        }
        ClientPlex::send(lc.pucClient(), 6);
        ClientPlex::send(lc.pucClient(), 8);
        while (!dev._vpmbKept.empty())
            dev.giveBackUpBuffer();
        if (r.fFirstSent)
            dev.deliver(55);
        EXPECT_EQ(client._vid, r.vid);
        EXPECT_EQ(mux._idFirst, 8u) << "the request served last";
        EXPECT_EQ(mux.cCreate, r.cCreate);
        EXPECT_EQ(dev.takeRequest(), 9u);
        EXPECT_EQ(dev.takeRequest(), 0u) << "nothing more went to the device";
        dev.deliver(99);
        EXPECT_EQ(client._vid.back(), 99u);
        lc.pucClient()->finiPlex();
        lc.fini();
        EXPECT_EQ(cBuffers(dev), "4+4");
    }
}

TEST(PortMuxDeath, AssertionTexts)
{
    StatusChannel dev;
    LocalChannelPair lc;
    ClientPlex client;
    EXPECT_DEATH(
        {
            TestMux mux(&dev);
            mux.fNoTask = true;
            lc.init(&mux, "alpha", &testProto());
            lc.pucClient()->initPlex(&client, 0, 0);
            ClientPlex::send(lc.pucClient(), 1);
        },
        "Assertion failed: pta, file yek_task, line 320");
    ManualChannel other;
    TestMux mux(&dev);
    EXPECT_DEATH(mux.sigDown(0, &other, 5), "Assertion failed: hChan >= 0 && hChan < cPortTypes\\(\\), file yek_task, line 308");
    EXPECT_DEATH(mux.sigDown(0, &other, 1), "Assertion failed: puc==pPo->pcn\\(\\), file yek_task, line 310");
    DoneCount dc;
    TaskFunc stray(&dc, 0, &other, nullptr);
    EXPECT_DEATH(mux.done(&stray), "Assertion failed: pta==pPo->pta\\(\\), file yek_task, line 340");
    TaskFunc strayHandle(&dc, 9, &other, nullptr);
    EXPECT_DEATH(mux.done(&strayHandle),
                 "Assertion failed: pta->h\\(\\) >= 0 && pta->h\\(\\) < cPortTypes\\(\\), file yek_task, line 338");
}

}  // namespace
