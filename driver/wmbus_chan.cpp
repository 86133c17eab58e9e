// The channel scheduler of a PCI board: a request's down message into a free
// down buffer of the card object's channel, the channel's next up message
// into the caller's buffers, all under the board's lock.
#include "wmbus.h"

static const char szSrc[] = "wmbus";

using KVdepYek100::YekChannel;
using KVdepYek100::YekControlBuf;
using KVdepYek100::YekDriver;
using KVdepYek100::YekMsgBuf;

namespace {

// A type whose controls are logged byte by byte.
const uint32_t eTypeDumped = 16;

}  // namespace

ChanBus::ChanBus()
    : Chan(nullptr, 0xFFFFFFFFu, 0xFFFFFFFFu), _eChanState(S_IDLE), _pDriver(nullptr), _pChannel(nullptr)
{
}

ChanBus::ChanBus(YekDriver* pud, YekChannel* pcn, CardBus* pca, ULONG iDriver, ULONG iChan)
    : Chan(pca, iDriver, iChan), _eChanState(S_IDLE), _pDriver(pud), _pChannel(pcn)
{
}

CardBus* ChanBus::pcb() const
{
    return static_cast<CardBus*>(pca());
}

void ChanBus::place(CardBus* pca, ULONG iDriver, ULONG iChan)
{
    _pca = pca;
    _iDriver = iDriver;
    _iChan = iChan;
}

void ChanBus::bind(YekDriver* pud, YekChannel* pcn)
{
    WM_ASSERT(!isWaiting(), "!isWaiting()", szSrc);
    _pDriver = pud;
    _pChannel = pcn;
}

int ChanBus::start()
{
    // The cancel spin lock keeps IoCancelIrp out while syncStart sets the
    // cancel routine and reads the request's Cancel flag.
    KIRQL irqlCancel;
    IoAcquireCancelSpinLock(&irqlCancel);
    BOOLEAN fDone = pcb()->synchronize(syncStart, this);
    IoReleaseCancelSpinLock(irqlCancel);
    return fDone ? 1 : 0;
}

void ChanBus::finish(NTSTATUS st)
{
    _iStat = st;
    if (!isState(S_IDLE))
        setState(S_DONE);
}

BOOLEAN ChanBus::done(bool fCancelRoutine)
{
    if (!isState(S_DONE))
        return FALSE;
    if (!IoSetCancelRoutine(pIrp(), nullptr) && !fCancelRoutine)
        return FALSE;
    setState(S_IDLE);
    return TRUE;
}

BOOLEAN ChanBus::syncStart(PVOID pv)
{
    auto* pcn = static_cast<ChanBus*>(pv);
    Card* pca = pcn->pca();
    // A board that is gone or stopped, or a card object without the
    // channel, moves nothing; decided under the lock the stop takes.
    if (pca->isRemoved() || !pca->isState(CardBus::eStarted) || !pcn->isBound()) {
        pcn->_iStat = STATUS_DEVICE_NOT_CONNECTED;
        return TRUE;
    }
    WM_ASSERT(pca->_busy.isIdle(), "(pca())->isIdle()", szSrc);
    pca->_busy.enter();
    WM_ASSERT(pcn->isState(S_IDLE), "isState(S_IDLE)", szSrc);
    PIRP pIrp = pcn->pIrp();
    IoSetCancelRoutine(pIrp, cancelIrp);
    pca->log(fWmReq, "syncStart() driv=%d chan=%d irp=%p stat=%d", static_cast<int>(pcn->iDriver()),
             static_cast<int>(pcn->iChan()), pIrp, static_cast<int>(pcn->_eChanState));
    if (pcn->wantsDown()) {
        pcn->setState(S_PUTDOWN);
    } else if (pcn->wantsUp()) {
        pcn->setState(S_GETUP);
    } else {
        pcn->_iStat = STATUS_SUCCESS;
        pcn->setState(S_DONE);
    }
    pcn->proceed(0);
    // Cancelled before its cancel routine was set: a request that would wait
    // ends now (start holds the cancel spin lock).
    if (pIrp->Cancel && pcn->isWaiting())
        pcn->finish(STATUS_CANCELLED);
    pca->_busy.leave();
    WM_ASSERT(pca->_busy.isIdle(), "(pca())->isIdle()", szSrc);
    pca->log(fWmReq, "syncStart() done=%d", pcn->isDone() ? 1 : 0);
    return pcn->done(false);
}

BOOLEAN ChanBus::syncDone(PVOID pv)
{
    return static_cast<ChanBus*>(pv)->done(false);
}

BOOLEAN ChanBus::syncCancel(PVOID pv)
{
    auto* pcn = static_cast<ChanBus*>(pv);
    // A request that has finished keeps its result (its messages have
    // moved); one that still waits is cancelled.
    if (pcn->isWaiting())
        pcn->finish(STATUS_CANCELLED);
    return pcn->done(true);
}

void ChanBus::proceed(int iCtx)
{
    ULONG eFrom = _eChanState;
    pca()->log(fWmSched, "proceed[%d, %d] state(%d) pIrp(%p)", static_cast<int>(iChan()), iCtx,
               static_cast<int>(eFrom), pIrp());
    if (isState(S_PUTDOWN)) {
        WM_ASSERT(isIdle(), "isIdle()", szSrc);
        putDown(iCtx);
    }
    // A callback of the put may have finished the request already.
    if (isState(S_GETUP)) {
        WM_ASSERT(isIdle(), "isIdle()", szSrc);
        getUp(iCtx);
    }
    pca()->log(fWmSched, "proceed[%d, %d] state(%d -> %d)", static_cast<int>(iChan()), iCtx,
               static_cast<int>(eFrom), static_cast<int>(_eChanState));
}

void ChanBus::putDown(int iCtx)
{
    KVdepYek100::YekChanKern* pck = kern();
    if (YekChanKern_canput(pck) == 0)
        return;
    WmMdl& mcd = mdl(iRecCd);
    WmMdl& mdd = mdl(iRecDd);
    // A message that does not fit a message buffer fails before a buffer is
    // taken, so that no buffer is lost to the channel.
    if (mcd.cb() > YekControlBuf::cbRoom || mdd.cb() > KVdepYek100::SZ_DATA_MAX) {
        pca()->log(fWmErr, "putdown[%d] too large: ctrl=%u data=%u", static_cast<int>(iChan()), mcd.cb(), mdd.cb());
        finish(STATUS_UNSUCCESSFUL);
        return;
    }
    YekMsgBuf* pdb = YekChanKern_allocDownBuf(pck);
    WM_ASSERT(pdb, "pdb", szSrc);
    // The control as the dispatch read it once from the caller, zero-filled
    // behind its size.
    YekControlStruct* puc = YekMsgDownBuf_pControl(pdb);
    RtlCopyMemory(static_cast<void*>(puc), static_cast<const void*>(&controlDown()), sizeof(YekControlBuf));
    size_t n = 0;
    mdd.copyOut(YekMsgDownBuf_pData(pdb), YekMsgDownBuf_sizeDataMax(pdb), &n);
    YekMsgDownBuf_setDataLim(pdb, n);
    pca()->log(fWmSched, "putdown[%d] type=%x data=%d", static_cast<int>(iChan()), puc->_eType, static_cast<int>(n));
    // The state is set before the buffer goes: the card object may answer
    // at once, inside the call.
    if (wantsUp())
        setState(S_GETUP);
    else
        finish(STATUS_SUCCESS);
    YekChanKern_putDownBuf(pck, iCtx, pdb);
}

void ChanBus::getUp(int iCtx)
{
    KVdepYek100::YekChanKern* pck = kern();
    if (YekChanKern_canget(pck) == 0)
        return;
    YekMsgBuf* pub = YekChanKern_getUpBuf(pck);
    WM_ASSERT(pub, "pub", szSrc);
    const YekControlStruct* puc = YekMsgUpBuf_pControl(pub);
    size_t cbCtrl = YekMsgUpBuf_sizeControl(pub);
    size_t cbData = YekMsgUpBuf_sizeData(pub);
    YekIoc* pioc = ioc();
    bool fOk = cbCtrl <= sizeof(YekControlBuf) && mdl(iRecCu).copyIn(puc, cbCtrl, &pioc->_cu).isGood() &&
               mdl(iRecDu).copyIn(YekMsgUpBuf_pData(pub), cbData, &pioc->_du).isGood();
    if (!fOk) {
        // The caller's buffers cannot hold the message: the request fails and
        // the buffer goes back to its pool.
        pca()->log(fWmErr, "getup[%d] too large: size=%d data=%d", static_cast<int>(iChan()),
                   static_cast<int>(cbCtrl), static_cast<int>(cbData));
        finish(STATUS_UNSUCCESSFUL);
        YekChanKern_releaseUpBuf(pck, iCtx, pub);
        return;
    }
    setDataLimit(iRecCu, cbCtrl);
    setDataLimit(iRecDu, cbData);
    writeBack();
    if (puc->_eType == eTypeDumped) {
        const auto* pb = reinterpret_cast<const unsigned char*>(puc);
        for (size_t i = 0; i < cbCtrl; i += 4)
            pca()->log(fWmSched, "%x %x %x %x", pb[i], pb[i + 1], pb[i + 2], pb[i + 3]);
    }
    pca()->log(fWmSched, "getup[%d] type=0x%x size=%d data=%d", static_cast<int>(iChan()), puc->_eType,
               static_cast<int>(cbCtrl), static_cast<int>(cbData));
    finish(STATUS_SUCCESS);
    YekChanKern_releaseUpBuf(pck, iCtx, pub);
}
