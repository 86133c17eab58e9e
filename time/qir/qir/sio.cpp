// The sio channel client: the board plexer of the sio channel, its steps and
// its initializer.
#include "sio.h"

#include <new>

#include "fexassert.h"

namespace KVdepSio100 {

using KVdepVaq100::reportUnexpected;
using KVdepYek100::Pmd;
using KVdepYek100::YekChanDevio;

static const char szSrc[] = "sio";

// Built before the library's ordinary static objects, which may use it.
__attribute__((init_priority(1000))) Sio_sio_Proto theSio_sio_Proto;

namespace {

bool speaksSio(const Channel* pcn)
{
    return pcn && pcn->pup() && *(pcn->pup()) == theSio_sio_Proto;
}

// The answer of a step must be a SioResp. Board input of another type fails
// the step instead of stopping the process.
const SioResp* answerOf(Pmd pm, Failable* pfa)
{
    const SioResp* pr = pSioResp(pm->puc());
    if (!pr) {
        reportUnexpected(*pm->puc());
        pfa->setFailed("unexpected response", pm->puc()->eType());
    }
    return pr;
}

}  // namespace

SioTaskPlex::SioTaskPlex(Channel* puc, ChanUser* pucIo) : VaqTaskPlex(puc, pucIo)
{
    FEX_ASSERT(speaksSio(pucIo), "*(pucIo->pup()) == theSio_sio_Proto", szSrc, 81);
    FEX_ASSERT(speaksSio(puc), "*(puc->pup()) == theSio_sio_Proto", szSrc, 82);
}

SioTaskPlex::~SioTaskPlex() = default;

int SioTaskPlex::callSioSync(int f)
{
    SioSyncFunc* ptf = new SioSyncFunc(0, f);
    return runStep(ptf, ptf) ? 0 : -1;
}

int SioTaskPlex::callSioRead(int iPort)
{
    SioReadFunc* ptf = new SioReadFunc(0, iPort);
    return runStep(ptf, ptf) ? ptf->iVal() : -1;
}

void SioTaskPlex::callSioWrite(int iPort, int iVal)
{
    SioWriteFunc* ptf = new SioWriteFunc(0, iPort, iVal);
    runStep(ptf, ptf);
}

SioSyncFunc::~SioSyncFunc() = default;

int SioSyncFunc::func(int e)
{
    int cn = _cnSio;
    switch (e) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1:
        new (pmu(cn)->puc()) SioSync();
        pSioSync(pmu(cn)->puc())->fCtrl(static_cast<u_int>(_f));
        return setup(2, fCanget(cn), fSendup(cn));
    case 2:
        answerOf(pmd(cn), this);
        return setup(-1, 0, fReleasedown(cn));
    }
    FEX_ASSERT(0, "0", szSrc, 35);
    return setup(-1, 0, 0);
}

SioReadFunc::~SioReadFunc() = default;

int SioReadFunc::func(int e)
{
    int cn = _cnSio;
    switch (e) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1:
        new (pmu(cn)->puc()) SioRead();
        pSioRead(pmu(cn)->puc())->iPort(static_cast<u_int>(_iPort));
        return setup(2, fCanget(cn), fSendup(cn));
    case 2:
        if (const SioResp* pr = answerOf(pmd(cn), this))
            _iVal = static_cast<int32_t>(pr->fStat());
        return setup(-1, 0, fReleasedown(cn));
    }
    FEX_ASSERT(0, "0", szSrc, 58);
    return setup(-1, 0, 0);
}

SioWriteFunc::~SioWriteFunc() = default;

int SioWriteFunc::func(int e)
{
    int cn = _cnSio;
    switch (e) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1: {
        SioWrite* pw = new (pmu(cn)->puc()) SioWrite();
        pw->iPort(static_cast<u_int>(_iPort));
        pw->iVal(static_cast<u_int>(_iVal));
        return setup(2, fCanget(cn), fSendup(cn));
    }
    case 2:
        answerOf(pmd(cn), this);
        return setup(-1, 0, fReleasedown(cn));
    }
    FEX_ASSERT(0, "0", szSrc, 82);
    return setup(-1, 0, 0);
}

SioLocalTaskInitializer::SioLocalTaskInitializer(const char* szDevice) : _puc(nullptr), _psp(nullptr)
{
    _puc = new YekChanDevio(&theSio_sio_Proto, szDevice, "0");
    if (!_puc->isGood()) {
        setFailed(szSrc, 89, static_cast<const Failables*>(_puc));
        return;
    }
    _psp = new SioTaskPlex(_puc, _puc);
    if (_psp->callVaqOpen().isFail()) {
        setFailed("SioPlex open failed", 0, static_cast<const Failables*>(_psp));
        delete _psp;
        _psp = nullptr;
    }
}

SioLocalTaskInitializer::~SioLocalTaskInitializer()
{
    delete _psp;
    delete _puc;
}

}  // namespace KVdepSio100
