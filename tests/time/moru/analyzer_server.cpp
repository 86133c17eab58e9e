#include "analyzer_server.h"

#include <windows.h>

#include <map>
#include <sstream>

#include "wire.h"

namespace moru_test {

using namespace KVdepYek100;
using KVdepMoru100::MoruPlex;
using KVdepMoru100::theMoru_moru_Proto;

const std::vector<int>* wireWidths(int eType)
{
    static const std::map<int, std::vector<int>> mp = {
        {4, {}},                                                                   // pulse configuration
        {5, {4, 4}},                                                               // set timer
        {6, {}},                                                                   // init
        {7, {4, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},  // configuration
        {8, {4, 4, 2, 2, 2, 2}},                                                   // sample
        {9, {}},                                                                   // stop
        {10, {4, 4}},                                                              // answer
        {11, {4, 4, 2, 2}},                                                        // sample answer
    };
    auto it = mp.find(eType);
    return it == mp.end() ? nullptr : &it->second;
}

bool decodeWire(const std::string& sgWire, WireMsg* pm)
{
    if (sgWire.empty())
        return false;
    pm->eType = static_cast<unsigned char>(sgWire[0]);
    const std::vector<int>* pw = wireWidths(pm->eType);
    if (!pw)
        return false;
    size_t k = 1;
    pm->mpu.clear();
    for (int cb : *pw) {
        if (k + cb > sgWire.size())
            return false;
        uint32_t u = 0;
        for (int b = 0; b < cb; ++b)
            u = u << 8 | static_cast<unsigned char>(sgWire[k++]);
        pm->mpu.push_back(u);
    }
    return k == sgWire.size();
}

std::string encodeWire(const WireMsg& m)
{
    std::string sg(1, static_cast<char>(m.eType));
    const std::vector<int>* pw = wireWidths(m.eType);
    for (size_t i = 0; pw && i < pw->size(); ++i) {
        uint32_t u = i < m.mpu.size() ? m.mpu[i] : 0;
        for (int b = (*pw)[i] - 1; b >= 0; --b)
            sg += static_cast<char>(u >> (8 * b) & 0xFF);
    }
    return sg;
}

std::vector<WireMsg> AnalyzerScript::answer(const std::string& sgWire, const std::string& sgData)
{
    WireMsg rq;
    if (!decodeWire(sgWire, &rq)) {
        vsgBadWire.push_back(sgWire);
        return {};
    }
    rq.sgData = sgData;
    vrq.push_back(rq);
    if (onRequest)
        onRequest(rq);
    if (fSilent)
        return {};

    std::vector<WireMsg> mp;
    if (rq.eType == KVdepMoru100::eMoruConfig) {
        mp.push_back(WireMsg{KVdepMoru100::eMoruResp, {eErrConfig, 0}, ""});
    } else if (rq.eType == KVdepMoru100::eMoruSample) {
        for (uint32_t k = 0; k < rq.mpu[smp::cFifo] && k < 2; ++k) {
            WireMsg a{KVdepMoru100::eMoruSampleResp, {mpeErrSample[k], 0, 0, k + iFifoOffset}, ""};
            if (!mpdqLines[k].empty()) {
                a.sgData = mpdqLines[k].front();
                mpdqLines[k].pop_front();
            }
            a.mpu[2] = static_cast<uint32_t>(a.sgData.size() / 8);
            mp.push_back(a);
        }
        if (fSwap && mp.size() == 2)
            std::swap(mp[0], mp[1]);
    } else {
        mp.push_back(WireMsg{KVdepMoru100::eMoruResp, {0, 0}, ""});
    }
    if (eTypeWrong) {
        for (WireMsg& a : mp) {
            a.eType = eTypeWrong;
            a.mpu.assign(wireWidths(eTypeWrong) ? wireWidths(eTypeWrong)->size() : 0, 0);
        }
    }
    return mp;
}

std::vector<int> AnalyzerScript::requestTypes() const
{
    std::vector<int> mp;
    for (const WireMsg& m : vrq)
        mp.push_back(m.eType);
    return mp;
}

namespace {

// The wire form of a control as the channel's protocol writes it.
std::string wireOf(const YekProto* pup, const YekControl* puc)
{
    std::stringbuf sb;
    xostream xo(&sb);
    pup->marshal(xo, puc);
    return xo.isGood() ? sb.str() : std::string();
}

// The answer read back through the channel's protocol into pmb, with its
// data; false when the protocol cannot read it.
bool fill(const YekProto* pup, YekMsgBuf* pmb, const WireMsg& a)
{
    std::stringbuf sb(encodeWire(a));
    xistream xi(&sb);
    YekControlBuf& ucb = *pmb;
    xunmarsh(xi, static_cast<YekControl&>(ucb));
    if (xi.isGood())
        pup->unmarsh(xi, ucb, &ucb);
    pmb->setLimit(SZ_DATA_MAX);
    putbuf(pmb, a.sgData);
    return xi.isGood() && sb.in_avail() == 0;
}

}  // namespace

int InprocAnalyzer::openChannel(const char*, YekChannel* pcn)
{
    pcn->initPlex(this, 0, 0);
    _pcn = pcn;
    return 0;
}

void InprocAnalyzer::closeChannel(int)
{
    if (_pcn)
        _pcn->finiPlex();
    _pcn = nullptr;
}

void InprocAnalyzer::sigDown(int iCtx, YekChannel* pcn, int)
{
    // A release below can signal again: the outer loop takes what comes.
    if (_fBusy)
        return;
    _fBusy = true;
    while (pcn->peekDown()) {
        Pmd pm = pcn->getDown(iCtx);
        std::string sgWire = wireOf(pcn->pup(), pm->puc());
        std::string sgData;
        while (pm->pug()->sgetc() != -1)
            sgData += static_cast<char>(pm->pug()->sbumpc_checked());
        pcn->releaseDown(iCtx, pm);
        for (WireMsg& a : answer(sgWire, sgData))
            _dqAnswer.push_back(std::move(a));
        flush(iCtx);
    }
    _fBusy = false;
}

void InprocAnalyzer::sigUp(int iCtx, YekChannel*, int)
{
    flush(iCtx);
}

void InprocAnalyzer::flush(int iCtx)
{
    while (_pcn && !_dqAnswer.empty()) {
        Pmu pmu = _pcn->allocUp(SZ_DATA_MAX);
        if (!pmu)
            return;
        WireMsg a = _dqAnswer.front();
        _dqAnswer.pop_front();
        if (!fill(_pcn->pup(), YekChannel::pmbOf(pmu), a))
            vsgBadWire.push_back(encodeWire(a));
        _pcn->putUp(iCtx, pmu, true);
    }
}

WireIo::WireIo() : YekChanUser(&theMoru_moru_Proto)
{
    setupRecv();
}

WireIo::~WireIo() = default;

Failables& WireIo::sigSendTransfer()
{
    YekMsgBuf* p = pub();
    std::string sgData(p->pchBase(), p->cDone());
    for (WireMsg& a : answer(wireOf(pup(), p->puc()), sgData))
        _dqAnswer.push_back(std::move(a));
    return *this;
}

Failables& WireIo::sigRecvTransfer()
{
    if (_dqAnswer.empty() || (cRecvToFail && --cRecvToFail == 0))
        return setBad("DeviceIoControl(get) failed", ERROR_DEVICE_NOT_CONNECTED, nullptr);
    WireMsg a = _dqAnswer.front();
    _dqAnswer.pop_front();
    if (!fill(pup(), pdb(), a))
        vsgBadWire.push_back(encodeWire(a));
    pdb()->setCount(a.sgData.size());
    return *this;
}

namespace {

class LocalRig : public Rig {
public:
    LocalRig() : _plex(opened(), &_io) {}
    ~LocalRig() override = default;

    AnalyzerScript& server() override { return _server; }
    MoruPlex& plex() override { return _plex; }
    YekChannel* puc() override { return _pair.pucClient(); }

private:
    YekChannel* opened()
    {
        _pair.init(&_server, "moru", &theMoru_moru_Proto);
        return _pair.pucClient();
    }

    InprocAnalyzer _server;
    LocalChannelPair _pair;
    IdleIo _io;
    MoruPlex _plex;
};

class WireRig : public Rig {
public:
    WireRig() : _plex(&_io, &_io) {}
    ~WireRig() override = default;

    AnalyzerScript& server() override { return _io; }
    MoruPlex& plex() override { return _plex; }
    YekChannel* puc() override { return &_io; }

    WireIo _io;
    MoruPlex _plex;
};

}  // namespace

std::unique_ptr<Rig> makeLocalRig()
{
    return std::make_unique<LocalRig>();
}

std::unique_ptr<Rig> makeWireRig()
{
    return std::make_unique<WireRig>();
}

}  // namespace moru_test
