// Peers of the dino clients in their tests: a scripted dino server on the
// server end of an in-process pair, which answers inside the client's send,
// and a user channel whose transport is a scripted server, for the pump.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dino.h"
#include "yek_user.h"
#include "yekpro_dino.h"

namespace dino_test {

using namespace KVdepDino100;
using KVdepYek100::YekChannel;
using KVdepYek100::YekControlBuf;

inline std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

inline std::string image(const unsigned char* pb, size_t c = 4)
{
    return std::string(reinterpret_cast<const char*>(pb), c);
}

// One request as a server got it, and the answer it gives.
struct Request {
    int eType;
    std::string sgData;
};
struct Answer {
    YekControlBuf ucb;
    std::string sgData;
    bool fSilent = false;
};

// What a dino server answers: an open from its port map (eErrOpen when
// set), a sync with its input image (eErrSync when set); answers of another
// type or none at all when told so.
class DinoScript {
public:
    std::map<std::string, std::pair<uint32_t, uint32_t>> mpPort{{"O07", {2, 0x01}}, {"I01", {0, 0x80}}};
    std::string sgInputs = std::string("\x35\x00\x00\x9f", 4);
    uint32_t eErrOpen = 0, eErrSync = 0;
    bool fSilent = false;
    int eTypeWrong = 0;  // nonzero: every answer is a bare control of this type
    std::vector<Request> vrq;

    Answer answer(const Request& rq)
    {
        vrq.push_back(rq);
        Answer a;
        a.fSilent = fSilent;
        if (eTypeWrong) {
            DinoResp r;
            r._eType = static_cast<uint32_t>(eTypeWrong);
            a.ucb = r;
        } else if (rq.eType == eDinoOpen) {
            DinoOpenResp r;
            r.eErr(eErrOpen);
            auto it = mpPort.find(rq.sgData);
            if (it != mpPort.end())
                r.iByte(it->second.first).fBit(it->second.second);
            a.ucb = r;
        } else {
            a.ucb = DinoResp().eErr(eErrSync);
            if (!eErrSync)
                a.sgData = sgInputs;
        }
        return a;
    }
};

inline Request requestOf(KVdepYek100::Pmd pm)
{
    Request rq{pm->puc()->eType(), std::string()};
    while (pm->pug()->sgetc() != -1)
        rq.sgData += static_cast<char>(pm->pug()->sbumpc_checked());
    return rq;
}

// Writes the answer into pmb as a sender does: the cursor ends behind the data.
inline void fill(KVdepYek100::YekMsgBuf* pmb, const Answer& a)
{
    static_cast<YekControlBuf&>(*pmb) = a.ucb;
    pmb->setLimit(KVdepYek100::SZ_DATA_MAX);
    KVdepYek100::putbuf(pmb, a.sgData);
}

// The scripted server on end A of a pair; the client end is pucClient().
class InprocDinoServer : public KVdepYek100::YekPlex, public DinoScript {
public:
    InprocDinoServer() : YekPlex("dinoServer") { _pair.init(this, "dinoUser", &proto); }
    ~InprocDinoServer() override { _pair.fini(); }

    int openChannel(const char*, YekChannel* pcn) override
    {
        pcn->initPlex(this, 0, 0);
        return 0;
    }
    void closeChannel(int) override { _pair.pucA()->finiPlex(); }
    void sigDown(int iCtx, YekChannel* pcn, int) override
    {
        while (pcn->peekDown()) {
            KVdepYek100::Pmd pm = pcn->getDown(iCtx);
            Answer a = answer(requestOf(pm));
            pcn->releaseDown(iCtx, pm);
            if (a.fSilent)
                continue;
            KVdepYek100::Pmu pmu = pcn->allocUp(KVdepYek100::SZ_DATA_MAX);
            fill(YekChannel::pmbOf(pmu), a);
            pcn->putUp(iCtx, pmu, true);
        }
    }
    void sigUp(int, YekChannel*, int) override {}

    YekChannel* pucClient() { return _pair.pucClient(); }

    Dino_dino_Proto proto;
    KVdepYek100::LocalChannelPair _pair;
};

// A user channel whose transport is a scripted server: a send takes the
// request and queues the answer; a receive delivers the oldest answer. A
// receive with nothing queued fails as a get on a board that went away.
class LoopIo : public KVdepYek100::YekChanUser, public DinoScript {
public:
    LoopIo(std::string sgName, std::vector<std::string>* psgLog)
        : YekChanUser(&proto), _sgName(std::move(sgName)), _psgLog(psgLog)
    {
        setupRecv();
    }
    ~LoopIo() override = default;

    Failables& sigSendTransfer() override
    {
        _psgLog->push_back("send " + _sgName);
        if (_cFailSend && --_cFailSend == 0)
            return setBad("DeviceIoControl(put) failed", 1167, nullptr);
        KVdepYek100::YekMsgBuf* p = pub();
        p->setCount(p->cDone());
        Answer a = answer(requestOf(p));
        if (!a.fSilent)
            _dqAnswer.push_back(a);
        return *this;
    }
    Failables& sigRecvTransfer() override
    {
        _psgLog->push_back("recv " + _sgName);
        if (_dqAnswer.empty())
            return setBad("DeviceIoControl(get) failed", 1167, nullptr);
        fill(pdb(), _dqAnswer.front());
        pdb()->setCount(_dqAnswer.front().sgData.size());
        _dqAnswer.pop_front();
        return *this;
    }
    void armSend() override {}
    void armRecv() override {}

    Dino_dino_Proto proto;
    std::string _sgName;
    std::vector<std::string>* _psgLog;
    std::deque<Answer> _dqAnswer;
    int _cFailSend = 0;  // the n-th send from now fails
};

}  // namespace dino_test
