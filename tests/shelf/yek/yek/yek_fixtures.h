// Small building blocks of the user-layer tests: a test protocol and its
// message, a counting task plexer, a client Func of the usual three steps and
// an echo server Func.
#pragma once

#include "yek_task.h"
#include "yek_user.h"

#include <cstdint>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace yek_test {

using namespace KVdepYek100;
typedef TaskFunc::Func Func;

inline const YekProto& testProto()
{
    static const YekProto pro("(//)(/Int4:u_int/)", "tst");
    return pro;
}

// The one message of the test protocol: an id.
struct TestMsg : YekControl {
    explicit TestMsg(uint32_t id = 0) : YekControl(4, sizeof(TestMsg)), _id(id) {}
    uint32_t _id;
};

inline const TestMsg* pTestMsg(const YekControl* puc)
{
    return puc && puc->eType() == 4 ? static_cast<const TestMsg*>(puc) : nullptr;
}

inline std::string readData(const YekMsg* pm)
{
    std::string s;
    YekBuf* pug = pm->pug();
    while (pug->sgetc() != -1)
        s += static_cast<char>(pug->sbumpc_checked());
    return s;
}

inline std::string queues(const YekChannel& cn)
{
    std::ostringstream os;
    cn.printQueues(os);
    return os.str();
}

// The buffers of a channel wherever they are: "down+up", "4+4" normally.
inline std::string cBuffers(const YekChannel& cn)
{
    std::istringstream is(queues(cn));
    int c[2] = {0, 0};
    std::string sg;
    for (int k = 0; is >> sg; ++k)
        c[k / 4] += std::stoi(sg.substr(3));
    return std::to_string(c[0]) + "+" + std::to_string(c[1]);
}

// A task plexer that counts its done reports instead of printing them.
class CountingPlex : public TaskPlex {
public:
    explicit CountingPlex(YekChannel* puc) : TaskPlex(puc) {}
    void done(Task*) override { ++_cDone; }
    int _cDone = 0;
};

// A plexer that hands its channels' signals to a task.
class TaskHost : public YekPlex {
public:
    TaskHost() : YekPlex("host") {}
    void sigDown(int iCtx, YekChannel* pcn, int) override { _pta->sigDown(iCtx, pcn); }
    void sigUp(int iCtx, YekChannel* pcn, int) override { _pta->sigUp(iCtx, pcn); }
    Task* _pta = nullptr;
};

class DoneCount : public TaskUser {
public:
    void done(Task*) override { ++_c; }
    int _c = 0;
};

// A client exchange: wait for an up buffer, send a request with data, read
// the answer and finish.
class ReqFunc : public Func {
public:
    ReqFunc(uint32_t id, std::string sgData, int cn = 0) : _id(id), _sgData(std::move(sgData)), _cn(cn) {}
    int func(int e) override
    {
        switch (e) {
        case 0:
            return setup(1, fCanput(_cn), 0);
        case 1:
            new (pmu(_cn)->puc()) TestMsg(_id);
            putbuf(pmu(_cn)->pup(), _sgData);
            return setup(2, fCanget(_cn), fSendup(_cn));
        case 2:
            if (const TestMsg* pm = pTestMsg(pmd(_cn)->puc()))
                _idAnswer = pm->_id;
            _sgAnswer = readData(pmd(_cn));
            return setup(-1, 0, fReleasedown(_cn));
        }
        return setup(-1, 0, 0);
    }
    uint32_t _id;
    std::string _sgData;
    int _cn;
    uint32_t _idAnswer = 0;
    std::string _sgAnswer;
};

// A server loop: takes a request and an up buffer, answers with id + 1000
// and the same data, sends the answer, then releases the request.
class EchoFunc : public Func {
public:
    int func(int e) override
    {
        if (e == 1) {
            const TestMsg* pm = pTestMsg(pmd(0)->puc());
            uint32_t id = pm ? pm->_id : 0;
            _vidSeen.push_back(id);
            new (pmu(0)->puc()) TestMsg(id + 1000);
            putbuf(pmu(0)->pup(), readData(pmd(0)));
            return setup(1, fCanget(0) | fCanput(0), fSendup(0) + fReleasedown(0));
        }
        return setup(1, fCanget(0) | fCanput(0), 0);
    }
    std::vector<uint32_t> _vidSeen;
};

// A channel without transport: the test moves its user side by hand.
class ManualChannel : public YekChannel {
public:
    ManualChannel() : YekChannel(&testProto())
    {
        for (int k = 0; k < 4; ++k)
            initPoolDown(new YekMsgBuf);
        for (int k = 0; k < 4; ++k)
            initPoolUp(new YekMsgBuf);
    }
    ~ManualChannel() override
    {
        finiQueues();
        finiPools();
    }
    void finiPool(Link* pl) override { delete pmbOf(pl); }
    void sigGet(int) override { ++_cGet; }
    void sigPut(int) override { ++_cPut; }

    // The user side brings in a message with an id and data.
    void deliver(uint32_t id, const std::string& sgData = "")
    {
        YekMsgBuf* p = allocDownBuf();
        new (p->puc()) TestMsg(id);
        p->setLimit(sgData.size());
        putbuf(p, sgData);
        p->setCount(sgData.size());
        putDownBuf(0, p);
    }


    int _cGet = 0;
    int _cPut = 0;
};

}  // namespace yek_test
