// The PCI board's interrupt routine, its deferred routine, the periodic
// timer step, the host callbacks of the card object and the board's lock
// (synchronize).
#include "wmbus.h"

static const char szSrc[] = "wmbus";

namespace {

ULONG low32(const void* pv)
{
    return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(pv));
}

void wmTiNextTick(YekTimespec* pts)
{
    tickTime(pts, 1);
}

// A channel of the card object has up messages, or a down buffer back.
void wmcanget(int iCtx, void* h)
{
    auto* pcn = static_cast<ChanBus*>(h);
    WM_ASSERT(pcn, "pcn", szSrc);
    WM_ASSERT(iCtx != -1, "iCtx != -1", szSrc);
    pcn->proceed(iCtx);
}

void wmcanput(int iCtx, void* h)
{
    auto* pcn = static_cast<ChanBus*>(h);
    WM_ASSERT(pcn, "pcn", szSrc);
    WM_ASSERT(iCtx != -1, "iCtx != -1", szSrc);
    pcn->proceed(iCtx);
}

// Leaves the board's in-use counter, which must then be idle.
void leaveBoard(Card* pca)
{
    pca->_busy.leave();
    WM_ASSERT(pca->_busy.isIdle(), "(pca)->isIdle()", szSrc);
}

}  // namespace

const YekEnvC envWmBus = {wmTiNextTick, wmcanget, wmcanput};

void tickTime(YekTimespec* pts, int cTicks)
{
    LARGE_INTEGER li;
    KeQueryTickCount(&li);
    LONGLONG x = (li.QuadPart + cTicks) * static_cast<LONGLONG>(KeQueryTimeIncrement());
    pts->tv_sec = static_cast<uint32_t>(x / 10000000);
    pts->tv_nsec = static_cast<uint32_t>((x % 10000000) * 100);
}

BOOLEAN CardBus::synchronize(PKSYNCHRONIZE_ROUTINE pfn, PVOID pv)
{
    KIRQL irql;
    KeAcquireSpinLock(&_slBoard, &irql);
    BOOLEAN f = _pInterrupt ? KeSynchronizeExecution(_pInterrupt, pfn, pv) : pfn(pv);
    KeReleaseSpinLock(&_slBoard, irql);
    return f;
}

bool CardBus::isAnyDone() const
{
    for (const ChanBus& cb : _mpChan)
        if (cb.isDone())
            return true;
    return false;
}

ChanBus* CardBus::nextChan(ChanIter* pit)
{
    while (!isEnd(*pit)) {
        ChanIter it = *pit;
        next(pit);
        if (ChanBus* pcn = chanAt(it))
            return pcn;
    }
    return nullptr;
}

BOOLEAN CardBus::intr(PKINTERRUPT, PVOID pv)
{
    auto* pca = static_cast<CardBus*>(pv);
    WM_ASSERT(pca, "pca", szSrc);
    pca->_cIntr.increment();
    // A board that is stopping leaves the card object and its channels to
    // the steps that hold the board's lock only.
    if (!pca->_fRunning) {
        pca->log(fWmIntr, "intr() forward");
        return FALSE;
    }
    WM_ASSERT(pca->_busy.isIdle(), "(pca)->isIdle()", szSrc);
    pca->_busy.enter();
    int r = pca->_pCard ? YekCard_interrupt(pca->_pCard, iCtxInterrupt) : 0;
    if (!r) {
        pca->log(fWmIntr, "intr() forward");
        leaveBoard(pca);
        return FALSE;
    }
    bool fDone = pca->isAnyDone();
    pca->log(fWmIntr, "intr() done=%d", fDone ? 1 : 0);
    if (fDone)
        IoRequestDpc(pca->pdo(), nullptr, pca);
    leaveBoard(pca);
    return TRUE;
}

VOID dpcForIsr(PKDPC, PDEVICE_OBJECT pdo, PIRP pIrp, PVOID pv)
{
    auto* pca = static_cast<CardBus*>(static_cast<Card*>(pv));
    WM_ASSERT(pca, "pca", szSrc);
    pca->log(fWmReq, "dpcForIsr pdo=%p pIrp=%p, pContext=%p", pdo, pIrp, pv);
    WM_ASSERT(pca->pdo() == pdo, "pca->pdo() == pdo", szSrc);
    ChanIter it;
    pca->first(&it);
    while (ChanBus* pcn = pca->nextChan(&it)) {
        if (!pca->synchronize(ChanBus::syncDone, pcn))
            continue;
        WM_ASSERT(pcn->isIdle(), "pcn->isIdle()", szSrc);
        NTSTATUS st = pcn->status();
        completeIrp(pcn->detachIrp(szSrc, __LINE__), st, 0);
    }
}

VOID CardBus::timerDpc(PKDPC, PVOID pv, PVOID, PVOID)
{
    auto* pca = static_cast<CardBus*>(pv);
    WM_ASSERT(pca, "pca", szSrc);
    pca->synchronize(timer, pca);
}

BOOLEAN CardBus::timer(PVOID pv)
{
    auto* pca = static_cast<CardBus*>(pv);
    WM_ASSERT(pca, "pca", szSrc);
    WM_ASSERT(pca->_busy.isIdle(), "(pca)->isIdle()", szSrc);
    pca->_busy.enter();
    pca->_cTimer.increment();
    YekTimespec tsNow;
    tickTime(&tsNow, 0);
    pca->log(fWmTick, "timer(%lu, %lu)", tsNow.tv_sec, tsNow.tv_nsec);
    if (pca->_pCard)
        YekCard_timer(pca->_pCard, iCtxTimer, &tsNow);
    if (pca->isAnyDone())
        IoRequestDpc(pca->pdo(), nullptr, pca);
    leaveBoard(pca);
    return TRUE;
}

VOID ChanBus::cancelIrp(PDEVICE_OBJECT pdo, PIRP pIrp)
{
    IoReleaseCancelSpinLock(pIrp->CancelIrql);
    auto* pca = static_cast<CardBus*>(static_cast<Card*>(pdo->DeviceExtension));
    WM_ASSERT(pca, "pca", szSrc);
    PIO_STACK_LOCATION pIosl = IoGetCurrentIrpStackLocation(pIrp);
    WM_ASSERT(pIosl, "pIosl", szSrc);
    PFILE_OBJECT pfo = pIosl->FileObject;
    WM_ASSERT(pfo, "pfo", szSrc);
    auto* pcn = static_cast<ChanBus*>(static_cast<Chan*>(pfo->FsContext));
    WM_ASSERT(pcn, "pcn", szSrc);
    BOOLEAN c = pca->synchronize(syncCancel, pcn);
    pca->log(fWmReq, "cancel pcn=%x pirp=%x completed=%x", low32(pcn), low32(pIrp), static_cast<unsigned>(c));
    if (!c)
        return;
    // The last touch of the board: once the request is completed its handle
    // may be closed and the board removed.
    NTSTATUS st = pcn->status();
    completeIrp(pcn->detachIrp(szSrc, __LINE__), st, 0);
    wmPoint(eWmPointBusCancelled);
}
