// The port multiplexer: ports by name, one task per request, the device
// channel's signals to the task of the request in progress.
#include "yek_portmux.h"

#include <cstring>

#include "fexassert.h"
#include "yek_user.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_task";

namespace {

// The messages queued on the channel's driver side, not yet taken.
uint32_t cQueued(const Channel* pcn)
{
    Pmd pmd = pcn->peekDown();
    return pmd ? pmd->chain()->count() : 0;
}

}  // namespace

PortMux::PortMux(const PortClass* pPc, Port* pPo, Channel* pcnDev)
    : TaskUser(), YekPlex("pm"), _pPc(pPc), _pPo(pPo), _poDev(pcnDev)
{
    if (pcnDev)
        pcnDev->initPlex(this, 0, 0);
}

PortMux::~PortMux()
{
    if (pucDev())
        pucDev()->finiPlex();
}

int PortMux::cPortTypes() const
{
    int c = 0;
    while (_pPc && _pPc[c]._szPortId)
        ++c;
    return c;
}

int PortMux::openChannel(const char* szPort, Channel* puc)
{
    int i = 0;
    while (_pPc && _pPc[i]._szPortId && !(szPort && std::strcmp(_pPc[i]._szPortId, szPort) == 0))
        ++i;
    if (!_pPc || !_pPc[i]._szPortId)
        return -1;
    // The port's protocol on the left: the channel's signature must begin it.
    if (!puc || !puc->pup() || !_pPc[i]._pup || !(*_pPc[i]._pup == *puc->pup()))
        return -2;
    if (_pPo[i].pcn())
        return -3;
    _pPo[i].setChan(puc);
    puc->initPlex(this, i, 0);
    return i;
}

void PortMux::closeChannel(int iPort)
{
    if (iPort < 0 || iPort >= cPortTypes())
        return;
    Port& po = _pPo[iPort];
    // The channel may go away after the close: its request cannot be served.
    if (po.pta())
        dropTask(iPort);
    if (po.pcn() && po.pcn()->pux() == this)
        po.pcn()->finiPlex();
}

void PortMux::sigDown(int iCtx, Channel* puc, int hChan)
{
    if (_fDropping)
        return;
    // The device channel has handle 0 like the first port: its address tells.
    if (puc == pucDev()) {
        // Without a request in progress nobody waits for the device.
        if (_poDev.pta())
            _poDev.pta()->sigDown(iCtx, puc);
        return;
    }
    FEX_ASSERT(hChan >= 0 && hChan < cPortTypes(), "hChan >= 0 && hChan < cPortTypes()", szSrc, 308);
    Port* pPo = &_pPo[hChan];
    FEX_ASSERT(puc == pPo->pcn(), "puc==pPo->pcn()", szSrc, 310);

    // A request that waits for a device that failed never ends: the next
    // request on the port replaces it.
    if (pPo->pta() && isStuck(pPo->pta()))
        dropTask(hChan);
    if (!pPo->pta()) {
        Pmd pmd = puc->peekDown();
        if (!pmd)
            return;
        Task* pta = createTask(puc, &_pPc[hChan], pmd, this, hChan);
        FEX_ASSERT(pta, "pta", szSrc, 320);
        pPo->setTask(pta);
        _poDev.setTask(pta);
    }
    pPo->pta()->sigDown(iCtx, puc);
}

void PortMux::sigUp(int iCtx, Channel* puc, int)
{
    if (_fDropping)
        return;
    if (_poDev.pta())
        _poDev.pta()->sigUp(iCtx, puc);
}

void PortMux::done(Task* pta)
{
    FEX_ASSERT(pta->h() >= 0 && pta->h() < cPortTypes(), "pta->h() >= 0 && pta->h() < cPortTypes()", szSrc, 338);
    int h = pta->h();
    Port* pPo = &_pPo[h];
    FEX_ASSERT(pta == pPo->pta(), "pta==pPo->pta()", szSrc, 340);
    pPo->clrTask();
    // The device port must not name a task that is gone.
    if (_poDev.pta() == pta)
        _poDev.clrTask();
    deleteTask(&_pPc[h], pta);

    // A request that arrived while the task sent its last answer waits in the
    // queue: it starts now.
    Channel* pcn = pPo->pcn();
    if (pcn && pcn->pux() == this && pcn->peekDown())
        sigDown(0, pcn, h);
}

bool PortMux::isDevFailed() const
{
    const Failable* pfa = dynamic_cast<const Failable*>(pucDev());
    return pfa && pfa->isFail();
}

bool PortMux::isStuck(Task* pta) const
{
    return isDevFailed() && waitsForDev(pta, true);
}

bool PortMux::isAwaitingDev() const
{
    return waitsForDev(_poDev.pta(), false);
}

bool PortMux::waitsForDev(const Task* pta, bool fBuffer) const
{
    const TaskFunc* ptt = dynamic_cast<const TaskFunc*>(pta);
    if (!ptt || ptt->_cRec != 0 || !ptt->isRunning())
        return false;
    TaskFlags fl(ptt->_stfr.top().ptf()->f());
    for (int i = 0; i < ptt->cChan(); ++i) {
        if (ptt->pcn(i) == pucDev() && (fl.isCanget(i) || fl.isCanget2(i) || (fBuffer && fl.isCanput(i))))
            return true;
    }
    return false;
}

void PortMux::dropTask(int iPort)
{
    Task* pta = _pPo[iPort].pta();
    TaskFunc* ptt = dynamic_cast<TaskFunc*>(pta);
    // A task inside its own step finishes by itself.
    if (ptt && ptt->_cRec != 0)
        return;
    _pPo[iPort].clrTask();
    bool fDevTask = _poDev.pta() == pta;
    if (fDevTask)
        _poDev.clrTask();
    // The releases signal this plexer again; the request is gone.
    _fDropping = true;
    // Nobody would take the answer to what did not go out yet.
    if (fDevTask && pucDev())
        withdrawUnsentDev();
    if (ptt)
        delete ptt->drop(0);
    _fDropping = false;
    deleteTask(&_pPc[iPort], pta);
}

void PortMux::keepNewestRequest(int iPort)
{
    if (_fDropping || iPort < 0 || iPort >= cPortTypes())
        return;
    Port& po = _pPo[iPort];
    Channel* pcn = po.pcn();
    if (!pcn || pcn->pux() != this || !pcn->peekDown())
        return;
    if (po.pta() && !isOwedByDev(po.pta()))
        dropTask(iPort);
    // Oldest first; each release may let in a request the client could not
    // hand over before.
    _fDropping = true;
    while (cQueued(pcn) > 1)
        pcn->releaseDown(0, pcn->getDown(0));
    _fDropping = false;
}

bool PortMux::isOwedByDev(const Task* pta) const
{
    return waitsForDev(pta, false) && !hasUnsentDev();
}

bool PortMux::hasUnsentDev() const
{
    // A user channel's transport holds the message it sends next until the
    // transfer.
    const YekChanUser* pcu = dynamic_cast<const YekChanUser*>(pucDev());
    return pucDev()->pollIn() != 0 || (pcu && pcu->pub());
}

void PortMux::withdrawUnsentDev()
{
    Channel* pcn = pucDev();
    YekChanUser* pcu = dynamic_cast<YekChanUser*>(pcn);
    if (pcu && pcu->pub()) {
        YekMsgBuf* pmb = pcu->pub();
        pcu->clrPub();
        pcn->releaseUpBuf(0, pmb);
    }
    while (YekMsgBuf* pmb = pcn->getUpBuf())
        pcn->releaseUpBuf(0, pmb);
}

}  // namespace KVdepYek100
