// The analyzer client: the plexer that runs one exchange at a time, and the
// configuration and sample exchanges.
#include <new>
#include <sstream>
#include <string>

#include "fexassert.h"
#include "moru.h"
#include "moru_texts.h"

namespace KVdepMoru100 {

using KVdepYek100::Pmd;
using KVdepYek100::YekBuf;

// The FIFO identifiers a sample request names, first and second.
static const u32 iFifoFirst = 6;
static const u32 iFifoSecond = 7;

MoruPlex::MoruPlex(KVdepYek100::YekChannel* puc, KVdepYek100::YekChanUser* pucIo)
    : TaskPlex(puc), _pucIo(pucIo), _puc(puc), _ptc(&tc2n5), _fRun(false)
{
}

MoruPlex::~MoruPlex() = default;

void MoruPlex::done(KVdepYek100::Task*)
{
    _fRun = false;
}

bool MoruPlex::run(Func* ptf)
{
    FEX_ASSERT(!_fRun, "!_fRun", szSrcMoru, 402);
    _fRun = true;
    TaskFunc::run(ptf);
    sigUp(0, _puc, 0);
    KVdepYek100::runio(_pucIo);
    // The pump receives once after each round of sends. A sample of two
    // FIFOs waits for a second answer with nothing left to send: a
    // transport with a receive armed brings it here, one receive at a time.
    while (_fRun && _pucIo->isGood() && _pucIo->pdb() && !_pucIo->isYkuUser()) {
        if (_pucIo->sigRecv().isFail())
            break;
        KVdepYek100::runio(_pucIo);
    }
    if (!_fRun)
        return true;
    // The pump stopped before the Func reported its end: take it off the
    // engine so that the plexer can run the next one.
    delete drop(0);
    _fRun = false;
    return false;
}

int MoruPlex::finish(MoruMode* ptm, bool fRan)
{
    if (!fRan) {
        if (!_pucIo->isGood())
            ptm->setFailed(szExchangeFailed, _pucIo->iErr());
        else
            ptm->setFailed(szExchangeNotFinished, 0);
    }
    return ptm->isGood() ? 1 : 0;
}

int MoruPlex::callMoruConfig(MoruMode* ptm)
{
    if (!ptm)
        return 0;
    ptm->init(_ptc);
    // A configuration the mode refused is not sent.
    if (!ptm->isGood())
        return 0;
    return finish(ptm, run(new MoruConfigClientFunc(0, ptm, _ptc)));
}

int MoruPlex::callMoruSample(MoruMode* ptm)
{
    if (!ptm)
        return 0;
    return finish(ptm, run(new MoruSampleClientFunc(0, ptm, _ptc)));
}

MoruConfigClientFunc::~MoruConfigClientFunc() = default;

int MoruConfigClientFunc::func(int e)
{
    int cn = _cnServer;
    switch (e) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1:
        new (pmu(cn)->puc()) MoruConfig(_ptm->tc());
        return setup(2, fCanget(cn), fSendup(cn));
    case 2: {
        // The answer is the server's: a wrong one fails the mode.
        const KVdepYek100::YekControl* puc = pmd(cn)->puc();
        if (const MoruResp* pr = pMoruResp(puc)) {
            if (pr->eErr() != 0)
                _ptm->setFailed(szMoruResp, static_cast<int>(pr->eErr()));
        } else {
            _ptm->setFailed(szUnexpected, puc->eType());
        }
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrcMoru, 36);
    return setup(-1, 0, 0);
}

MoruSampleClientFunc::~MoruSampleClientFunc() = default;

int MoruSampleClientFunc::func(int e)
{
    int cn = _cnServer;
    switch (e) {
    case 0:
        FEX_ASSERT(_ptm, "_ptm", szSrcMoru, 152);
        return setup(2, fCanput(cn), 0);
    case 1:
    case 2: {
        MoruSample* prq = new (pmu(cn)->puc()) MoruSample(eMoruSample, 0);
        prq->tiTmo(_ptm->tiTmo());
        prq->cFifo(static_cast<u32>(_ptm->cFifo())).cMax(0);
        prq->iFifo(0, iFifoFirst);
        prq->iFifo(1, iFifoSecond);
        int sNext = 0;
        if (_ptm->cFifo() == 1)
            sNext = 4;
        else if (_ptm->cFifo() == 2)
            sNext = 3;
        else
            FEX_ASSERT(0, "0", szSrcMoru, 165);
        return setup(sNext, fCanget(cn), fSendup(cn));
    }
    case 3:
    case 4: {
        Pmd pm = pmd(cn);
        const KVdepYek100::YekControl* puc = pm->puc();
        // The answers are the server's: a wrong one fails the mode, and the
        // exchange still takes every answer it asked for.
        if (const MoruSampleResp* pr = pMoruSampleResp(puc)) {
            if (pr->eErr() != 0) {
                _ptm->setFailed(szMoruResp, static_cast<int>(pr->eErr()));
            } else {
                YekBuf* pug = pm->pug();
                std::stringbuf sb(std::string(pug->pchBase(), pug->cGet()), std::ios::in | std::ios::out);
                _ptm->sample(&sb, static_cast<int>(pr->iFifo()));
            }
        } else {
            _ptm->setFailed(szUnexpected, puc->eType());
        }
        if (e == 3)
            return setup(4, fCanget(cn), fReleasedown(cn));
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrcMoru, 190);
    return setup(-1, 0, 0);
}

}  // namespace KVdepMoru100
