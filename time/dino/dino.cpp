// The dino client multiplexer, its steps and the synchronous pump.
#include "dino.h"

#include <algorithm>
#include <new>
#include <ostream>

#include "dbg.h"
#include "fexassert.h"
#include "yek_portmux.h"

namespace KVdepYek100 {

int RunIo::add(YekChanUser* pcu)
{
    if (!pcu)
        return -1;
    for (size_t i = 0; i < _vccn.size(); ++i) {
        if (_vccn[i].pcu() == pcu)
            return static_cast<int>(i);
    }
    _vccn.emplace_back(pcu);
    return static_cast<int>(_vccn.size() - 1);
}

YekChanUser* RunIo::pucIo(int i) const
{
    return i >= 0 && static_cast<size_t>(i) < _vccn.size() ? _vccn[static_cast<size_t>(i)].pcu() : nullptr;
}

namespace {

// The server on the channel waits for its answer: the request went out.
bool isAnswerAwaited(const YekChanUser* pcu)
{
    const PortMux* ppm = dynamic_cast<const PortMux*>(pcu->pux());
    return ppm && ppm->pucDev() == pcu && ppm->isAwaitingDev();
}

// A transfer of the channel is pending, or an answer awaited on it.
bool isUnderWay(const RunIo::Chan& ch)
{
    return !ch.isState(RunIo::sIdle) || ch.pcu()->isYkuUser() || isAnswerAwaited(ch.pcu());
}

}  // namespace

int RunIo::run()
{
    _pcuFailed = nullptr;
    // Nothing waits on the others for a failed channel that has something
    // under way; one that has nothing (it never opened, say) is passed over.
    for (const Chan& ch : _vccn) {
        if (ch.pcu()->isFail() && isUnderWay(ch)) {
            _pcuFailed = ch.pcu();
            return -1;
        }
    }
    for (;;) {
        bool fSending = false;
        for (Chan& ch : _vccn) {
            YekChanUser* pcu = ch.pcu();
            if (ch.isState(sIdle) && pcu->isYkuUser())
                ch.setState(sSend);
            else if (ch.isState(sIdle) && isAnswerAwaited(pcu))
                ch.setState(sRecv);  // sent by an earlier pump
            if (ch.isState(sSend)) {
                if (!pcu->isYkuUser()) {
                    ch.setState(sRecv);
                } else if (pcu->sigSend().isFail()) {
                    _pcuFailed = pcu;
                    return -1;
                } else {
                    fSending = true;
                }
            }
        }
        if (!fSending) {
            for (Chan& ch : _vccn) {
                if (!ch.isState(sRecv))
                    continue;
                YekChanUser* pcu = ch.pcu();
                if (pcu->sigRecv().isFail()) {
                    _pcuFailed = pcu;
                    return -1;
                }
                ch.setState(pcu->isYkuUser() ? sSend : sIdle);
            }
        }
        if (std::all_of(_vccn.begin(), _vccn.end(), [](const Chan& ch) { return ch.isState(sIdle); }))
            return 0;
    }
}

}  // namespace KVdepYek100

namespace KVdepDino100 {

static const char szSrc[] = "dino";

namespace {

// Answers waiting on the channel before a request goes out answer exchanges
// given up before (the server answers none given up once the next request
// has come): they go, so that the answer taken next is this request's.
void dropWaitingAnswers(const Func& f, int c)
{
    Channel* pcn = f.ptt()->pcn(c);
    while (pcn->peekDown())
        pcn->releaseDown(0, pcn->getDown(0));
}

// The Funcs still on a task's stack, when the task goes without running them.
void freeStack(TaskFunc& tf)
{
    while (!tf._stfr.empty()) {
        delete tf._stfr.top().ptf();
        tf._stfr.pop();
    }
}

// The parts of a handle, as bitHandle packs them.
size_t iChanOf(BitHandle bh) { return static_cast<uint32_t>(bh) >> 24; }
size_t iByteOf(BitHandle bh) { return (static_cast<uint32_t>(bh) >> 16) & 0xFF; }
uint32_t fMaskOf(BitHandle bh) { return static_cast<uint32_t>(bh) & 0xFFFF; }

}  // namespace

MultiPlex::MultiPlex(const Proto* pup) : YekPlex("mp"), _pup(pup) {}

MultiPlex::~MultiPlex()
{
    for (TaskFunc& tf : _vta) {
        if (tf.pcn(0) && tf.pcn(0)->pux() == this)
            tf.pcn(0)->finiPlex();
        freeStack(tf);
    }
}

int MultiPlex::init(const std::string& sg, Channel* pcn)
{
    FEX_ASSERT(pcn && pcn->pup() && _pup && *(pcn->pup()) == *_pup, "*(pcn->pup()) == *_pup", szSrc, 194);
    FEX_ASSERT(_mpsi.find(sg) == _mpsi.end(), "_mpsi.find(sg) == _mpsi.end()", szSrc, 196);
    int i = static_cast<int>(_vta.size());
    _mpsi[sg] = static_cast<uint32_t>(i);
    _vta.emplace_back(this, i, pcn, nullptr, nullptr);
    pcn->initPlex(this, i, 0);
    FEX_ASSERT(!pta(i)->isRunning(), "!pta(i)->isRunning()", szSrc, 202);
    return i;
}

int MultiPlex::findPort(std::string* psgPort, const std::string& sgPath) const
{
    std::string sgChan, sgPort;
    size_t k = sgPath.find('/');
    if (k == std::string::npos) {
        sgPort = sgPath;
    } else {
        sgChan = sgPath.substr(0, k);
        size_t kEnd = sgPath.find('/', k + 1);
        sgPort = sgPath.substr(k + 1, kEnd == std::string::npos ? std::string::npos : kEnd - k - 1);
    }
    auto it = _mpsi.find(sgChan);
    if (it == _mpsi.end())
        return -1;
    if (psgPort)
        *psgPort = sgPort;
    return static_cast<int>(it->second);
}

void MultiPlex::sigDown(int iCtx, Channel* pcn, int hChan)
{
    pta(hChan)->sigDown(iCtx, pcn);
}

void MultiPlex::sigUp(int iCtx, Channel* pcn, int hChan)
{
    pta(hChan)->sigUp(iCtx, pcn);
}

DinoPlex::Bits::Bits() : _mpucOut{}, _mpucIn{}, _sIn(4), _sOut(4) {}

DinoPlex::DinoPlex() : MultiPlex(&theDino_dino_Proto) {}

DinoPlex::~DinoPlex() = default;

int DinoPlex::init(const std::string& sg, Channel* pcn)
{
    int i = MultiPlex::init(sg, pcn);
    if (i >= 0) {
        FEX_ASSERT(static_cast<unsigned>(i) == _vcbi.size(), "(unsigned)i==_vcbi.size()", szSrc, 218);
        _vcbi.emplace_back();
    }
    return i;
}

void DinoPlex::start(int i, Func* ptf)
{
    TaskFunc* pt = pta(i);
    pt->run(ptf);
    pt->sigUp(0, pt->pcn(0));
}

int DinoPlex::startOpen(const std::string& sgPath)
{
    std::string sgPort;
    int i = findPort(&sgPort, sgPath);
    if (i < 0) {
        setFailed("can't find port", 0);
        return -1;
    }
    start(i, new DinoOpenClientFunc(0, sgPort));
    return i;
}

BitHandle DinoPlex::doneOpen(int i)
{
    const DinoOpenClientFunc* ptf = dynamic_cast<const DinoOpenClientFunc*>(pta(i)->ptfRet());
    FEX_ASSERT(ptf, "ptf", szSrc, 241);
    FEX_ASSERT(!pta(i)->isRunning(), "!pta(i)->isRunning()", szSrc, 245);
    setStat(*ptf);
    if (!isGood())
        return bhNil;
    // A mask beyond one byte, a byte beyond the images, or a channel beyond
    // the handle's byte names no bit.
    if (ptf->fBit() != 0 && ptf->fBit() <= 0xFF && ptf->iByte() < cbImage && i <= iChanMax)
        return bitHandle(i, static_cast<int>(ptf->iByte()), static_cast<int>(ptf->fBit()));
    setFailed("invalid bit", 0);
    return bhNil;
}

void DinoPlex::startSync()
{
    if (isAnyRunning())
        FEX_ASSERT(0, "0", szSrc, 262);
    for (int i = 0; i < cChannels(); ++i)
        start(i, new DinoSyncClientFunc(0, &_vcbi[static_cast<size_t>(i)]));
}

int DinoPlex::doneSync()
{
    for (int i = 0; i < cChannels(); ++i)
        FEX_ASSERT(dynamic_cast<const DinoSyncClientFunc*>(pta(i)->ptfRet()), "ptf", szSrc, 277);
    return 0;
}

std::ostream& DinoPlex::print(std::ostream& os) const
{
    for (size_t i = 0; i < _vcbi.size(); ++i) {
        const Bits& bi = _vcbi[i];
        if (i)
            os << ", ";
        os << "o=";
        debug_showhex(os, reinterpret_cast<const char*>(bi._mpucOut), static_cast<int>(std::min(bi._sOut, cbImage)),
                      '.');
        os << " i=";
        debug_showhex(os, reinterpret_cast<const char*>(bi._mpucIn), static_cast<int>(std::min(bi._sIn, cbImage)),
                      '.');
    }
    return os << "\n";
}

const DinoPlex::Bits* DinoPlex::bitsOf(BitHandle bh) const
{
    // A mask beyond one byte, or a byte beyond the images, names no bit.
    uint32_t f = fMaskOf(bh);
    if (f == 0 || f > 0xFF || iByteOf(bh) >= cbImage || iChanOf(bh) >= _vcbi.size())
        return nullptr;
    return &_vcbi[iChanOf(bh)];
}

bool DinoPlex::isBit(BitHandle bh) const
{
    return bitsOf(bh) != nullptr;
}

bool DinoPlex::getBit(BitHandle bh) const
{
    const Bits* pbi = bitsOf(bh);
    return pbi && (pbi->_mpucIn[iByteOf(bh)] & fMaskOf(bh)) != 0;
}

void DinoPlex::setBit(BitHandle bh, bool f)
{
    Bits* pbi = const_cast<Bits*>(bitsOf(bh));
    if (!pbi)
        return;
    unsigned char& b = pbi->_mpucOut[iByteOf(bh)];
    if (f)
        b = static_cast<unsigned char>(b | fMaskOf(bh));
    else
        b = static_cast<unsigned char>(b & ~fMaskOf(bh));
}

void DinoPlex::setBit(BitHandle bh)
{
    setBit(bh, true);
}

void DinoPlex::clrBit(BitHandle bh)
{
    setBit(bh, false);
}

bool DinoPlex::isAnyRunning() const
{
    for (const TaskFunc& tf : _vta) {
        if (tf.isRunning())
            return true;
    }
    return false;
}

void DinoPlex::dropPending()
{
    for (TaskFunc& tf : _vta) {
        if (tf.isRunning())
            delete tf.drop(0);
    }
}

DinoPlexSync::DinoPlexSync(KVdepYek100::RunIo* pur) : UseIo(pur)
{
    if (pur)
        pur->init(this);
}

DinoPlexSync::~DinoPlexSync() = default;

void DinoPlexSync::done(Task*) {}

int DinoPlexSync::pump()
{
    int r = pur() ? pur()->run() : 0;
    if (r != 0) {
        // The failed channel's own status says why.
        if (const KVdepYek100::YekChanUser* pcu = pur()->pcuFailed())
            setStat(*pcu);
        else
            setFailed("RunIo failed", r);
    } else if (isAnyRunning()) {
        setFailed("exchange not finished", 0);
        r = -1;
    }
    // An exchange whose answer will not come must not block the next one.
    if (r != 0)
        dropPending();
    return r;
}

BitHandle DinoPlexSync::callOpen(const std::string& sgPort)
{
    int i = startOpen(sgPort);
    if (i == -1)
        return bhNil;
    if (pump() != 0)
        return bhNil;
    return doneOpen(i);
}

int DinoPlexSync::callSync()
{
    startSync();
    if (pump() != 0)
        return -1;
    doneSync();
    for (const TaskFunc& tf : _vta) {
        const DinoSyncClientFunc* ptf = static_cast<const DinoSyncClientFunc*>(tf.ptfRet());
        if (ptf->isFail()) {
            setStat(*ptf);
            return -1;
        }
    }
    return 0;
}

DinoOpenClientFunc::~DinoOpenClientFunc() = default;

int DinoOpenClientFunc::func(int e)
{
    int c = _cnServer;
    switch (e) {
    case 0:
        return setup(1, fCanput(c), 0);
    case 1:
        dropWaitingAnswers(*this, c);
        new (pmu(c)->puc()) DinoOpen();
        KVdepYek100::putbuf(pmu(c)->pup(), _sgName);
        return setup(2, fCanget(c), fSendup(c));
    case 2: {
        const YekControl* puc = pmd(c)->puc();
        // A server's answer of another type fails the open.
        if (const DinoOpenResp* pr = pDinoOpenResp(puc)) {
            if (pr->eErr() != 0) {
                setFailed("DinoOpenResp", static_cast<int>(pr->eErr()));
            } else {
                _fBit = pr->fBit();
                _iByte = pr->iByte();
            }
        } else {
            setFailed("unexpected response", puc->eType());
        }
        return setup(-1, 0, fReleasedown(c));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 125);
    return setup(-1, 0, 0);
}

DinoSyncClientFunc::~DinoSyncClientFunc() = default;

int DinoSyncClientFunc::func(int e)
{
    int c = _cnServer;
    switch (e) {
    case 0:
        return setup(1, fCanput(c), 0);
    case 1:
        dropWaitingAnswers(*this, c);
        new (pmu(c)->puc()) DinoSync();
        KVdepYek100::putbuf(pmu(c)->pup(), reinterpret_cast<const char*>(_pdp->_mpucOut),
                            std::min(_pdp->_sOut, DinoPlex::cbImage));
        return setup(2, fCanget(c), fSendup(c));
    case 2: {
        const YekControl* puc = pmd(c)->puc();
        if (const DinoResp* pr = pDinoResp(puc)) {
            if (pr->eErr() != 0) {
                setFailed("DinoResp", static_cast<int>(pr->eErr()));
            } else {
                KVdepYek100::getbuf(reinterpret_cast<char*>(_pdp->_mpucIn), std::min(_pdp->_sIn, DinoPlex::cbImage),
                                    pmd(c)->pug());
            }
        } else {
            setFailed("unexpected response", puc->eType());
        }
        return setup(-1, 0, fReleasedown(c));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 168);
    return setup(-1, 0, 0);
}

}  // namespace KVdepDino100
