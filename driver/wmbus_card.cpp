// The PCI board: construction with the module's memory blocks, start from
// the translated resources with the bridge set-up, the card object and its
// channels, the interrupt and the timer; stop, open, close, print.
#include <new>
#include <ntstrsafe.h>

#include "wmbus.h"

static const char szSrc[] = "wmbus";

using KVdepYek100::YekChanKern;
using KVdepYek100::YekChannel;
using KVdepYek100::YekDriver;

namespace {

const ULONG uTagMem = 0x6276716B;  // 'kvqb'
// The bridge's set-up: a byte to each of two operation registers.
const ULONG offBridgeBus = 0x60;
const UCHAR uBridgeBus = 0x87;
const ULONG offBridgeIntr = 0x39;
const UCHAR uBridgeIntr = 0x2C;
// Region flags of an adapter's RegionDesc.
const ULONG fRegionOperation = 1;  // the bridge's operation registers
const ULONG fRegionBoard = 2;      // the board's own registers

// One call of a protocol driver's start or stop under the board's lock.
struct DriverCall {
    YekDriver* _pud;
    int _iResult;
};

BOOLEAN syncInit(PVOID pv)
{
    auto* pdc = static_cast<DriverCall*>(pv);
    pdc->_iResult = YekDriver_init(pdc->_pud);
    return TRUE;
}

BOOLEAN syncFini(PVOID pv)
{
    YekDriver_fini(static_cast<DriverCall*>(pv)->_pud);
    return TRUE;
}

// The factory's argument: every adapter class with regions has one, right
// after its header; an unknown class has none.
void* argOf(const YekAdapt* pad)
{
    switch (pad->_eClass) {
    case eAdaptPci:
        return reinterpret_cast<const YekAdaptPci*>(pad)->_pArg;
    case eAdaptIsa:
        return reinterpret_cast<const YekAdaptIsa*>(pad)->_pArg;
    case eAdaptPcm:
        return reinterpret_cast<const YekAdaptPcm*>(pad)->_pArg;
    default:
        return nullptr;
    }
}

// The partial descriptors of the first full descriptor. They lie past the
// one-element arrays the structures declare, so they are reached by offset.
const CM_PARTIAL_RESOURCE_LIST* partialList(const CM_RESOURCE_LIST* prl)
{
    return reinterpret_cast<const CM_PARTIAL_RESOURCE_LIST*>(reinterpret_cast<const char*>(prl) +
                                                             offsetof(CM_RESOURCE_LIST, List) +
                                                             offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList));
}

const CM_PARTIAL_RESOURCE_DESCRIPTOR* partialAt(const CM_PARTIAL_RESOURCE_LIST* ppl, ULONG i)
{
    return reinterpret_cast<const CM_PARTIAL_RESOURCE_DESCRIPTOR*>(reinterpret_cast<const char*>(ppl) +
                                                                   offsetof(CM_PARTIAL_RESOURCE_LIST,
                                                                            PartialDescriptors)) +
           i;
}

PUCHAR portAt(ULONG64 uBase, ULONG off)
{
    return reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(uBase + off));
}

}  // namespace

struct CardBus::ChanBinding {
    CardBus* _pca;
    YekDriver* _mppud[cChanBus];
    YekChannel* _mppcn[cChanBus];
};

// ---------------------------------------------------------------------------
// Construction and destruction

CardBus::CardBus(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
    : Card(pwm, pci, pdo),
      _ioRegs(),
      _dpcTimer(),
      _timer(),
      _mpMem(),
      _cMem(0),
      _pCard(nullptr),
      _slBoard(0),
      _pInterrupt(nullptr),
      _cIntr(),
      _cTimer(),
      _fRunning(0),
      _fEnded(0),
      _stEnd(STATUS_SUCCESS)
{
    WM_ASSERT(KeGetCurrentIrql() <= DISPATCH_LEVEL, "KeGetCurrentIrql() <= DISPATCH_LEVEL", szSrc);
    KeInitializeDpc(&_dpcTimer, timerDpc, this);
    KeInitializeTimerEx(&_timer, SynchronizationTimer);
    KeInitializeSpinLock(&_slBoard);
    // An entry keeps its board and position over every start.
    for (int i = 0; i < cChanBus; ++i)
        _mpChan[i].place(this, static_cast<ULONG>(i) / cChanMax, static_cast<ULONG>(i) % cChanMax);
    const YekMod* pum = this->pum();
    // A board needs the module's factory, and a timer period of 1 ms to 1 s.
    if (!pum->_pFnew_YekCard) {
        log(fWmErr, "no card factory");
        setFailed(szSrc, __LINE__);
    }
    if (pum->_tps < 1 || pum->_tps > 1000) {
        log(fWmErr, "timer ticks per second %d out of range", pum->_tps);
        setFailed(szSrc, __LINE__);
    }
    RtlZeroMemory(_mpMem, sizeof _mpMem);
    // A module without a memory request asks for nothing.
    _cMem = pum->_pFgetMem_YekCard ? pum->_pFgetMem_YekCard(const_cast<YekMod*>(pum), _mpMem, cMemMax) : 0;
    if (_cMem < 0)
        setFailed(szSrc, __LINE__);
    log(fWmFlow, "requesting %d blocks of memory", _cMem);
    if (_cMem > cMemMax) {
        // More blocks than the table holds: none is allocated.
        setFailed(szSrc, __LINE__);
        _cMem = 0;
    }
    // The addresses are the board's to fill in, whatever the module left there.
    for (YekMemInfo& mi : _mpMem)
        mi._p = nullptr;
    for (int i = 0; i < _cMem; ++i) {
        _mpMem[i]._p = ExAllocatePoolWithTag(ePoolWm, _mpMem[i]._s, uTagMem);
        log(fWmFlow, "requested %d bytes = %p", static_cast<int>(_mpMem[i]._s), _mpMem[i]._p);
        if (!_mpMem[i]._p) {
            setFailed(szSrc, __LINE__);
            break;
        }
    }
}

CardBus::~CardBus()
{
    log(fWmFlow, "dtCardBus");
    WM_ASSERT(KeGetCurrentIrql() <= DISPATCH_LEVEL, "KeGetCurrentIrql() <= DISPATCH_LEVEL", szSrc);
    // Nothing may run on the blocks once they are freed: the timer, the
    // interrupt and the deferred calls go first, a call already running
    // waited for.
    stopRunning(STATUS_DEVICE_NOT_CONNECTED);
    for (int i = 0; i < _cMem; ++i) {
        if (!_mpMem[i]._p)
            continue;
        ExFreePool(_mpMem[i]._p);
        log(fWmFlow, "released %d bytes at %p", static_cast<int>(_mpMem[i]._s), _mpMem[i]._p);
        _mpMem[i]._p = nullptr;
    }
    // The bus channels go last to first with the array, then the Card part.
}

ULONG cbCardBus()
{
    return sizeof(CardBus);
}

Card* newCardBus(void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
{
    return new (pvExtension) CardBus(pwm, pci, pdo);
}

// ---------------------------------------------------------------------------
// Start and stop

void CardBus::takeResource(const CM_PARTIAL_RESOURCE_DESCRIPTOR& prd, IoRegion* pOper, IntrResource* pIntr)
{
    switch (prd.Type) {
    case CmResourceTypeMemory:
        log(fWmFlow, "mem: 0x%8.8lX Length: %d", prd.u.Memory.Start.u.LowPart, static_cast<int>(prd.u.Memory.Length));
        break;
    case CmResourceTypePort: {
        const CM_PARTIAL_RESOURCE_DESCRIPTOR* prt = &prd;
        WM_ASSERT(prt->Flags & CM_RESOURCE_PORT_IO, "prt->Flags & CM_RESOURCE_PORT_IO", szSrc);
        const RegionDesc* prg = getRegionBySize(pad(), prt->u.Port.Length);
        ULONG fRegion = prg ? prg->_f : 0;
        log(fWmFlow, "port: 0x%8.8lX Length: %d Flag=%x", prt->u.Port.Start.u.LowPart,
            static_cast<int>(prt->u.Port.Length), fRegion);
        IoRegion* pio = (fRegion & fRegionBoard) ? &_ioRegs : (fRegion & fRegionOperation) ? pOper : nullptr;
        if (!pio) {
            log(fWmFlow, "no region to setup");
            break;
        }
        pio->_uBase = prt->u.Port.Start.u.LowPart;
        pio->_cb = prt->u.Port.Length;
        pio->_prd = prg;
        break;
    }
    case CmResourceTypeInterrupt:
        pIntr->_fFound = true;
        pIntr->_uLevel = static_cast<KIRQL>(prd.u.Interrupt.Level);
        pIntr->_uVector = prd.u.Interrupt.Vector;
        pIntr->_uAffinity = prd.u.Interrupt.Affinity;
        pIntr->_eMode = (prd.Flags & CM_RESOURCE_INTERRUPT_LATCHED) ? Latched : LevelSensitive;
        pIntr->_fShared = prd.ShareDisposition == CmResourceShareShared ? TRUE : FALSE;
        log(fWmFlow, "intr lvl:0x%lX vct:0x%lX mode:%s sh:%d", static_cast<ULONG>(pIntr->_uLevel),
            pIntr->_uVector, pIntr->_eMode == Latched ? "latched" : "lvlSens", pIntr->_fShared ? 1 : 0);
        break;
    case CmResourceTypeDevicePrivate:
        log(fWmFlow, "private: 0x%x 0x%x 0x%x", prd.u.DevicePrivate.Data[0], prd.u.DevicePrivate.Data[1],
            prd.u.DevicePrivate.Data[2]);
        break;
    default:
        log(fWmFlow, "unhandled: 0x%x", static_cast<unsigned>(prd.Type));
        break;
    }
}

NTSTATUS CardBus::pnpStartDevice(PDEVICE_OBJECT, PIRP pIrp)
{
    log(fWmFlow, "CardBus::pnpStartDevice");
    // Opens and closes wait for the whole start: they read the state, the
    // bindings and the open counts, and find the board started on the new
    // card object, or not started.
    OpenLock lk(&_mtxOpen);
    wmPoint(eWmPointBusStart);
    // A start of a started board: what runs of the earlier start stops first.
    if (isState(eStarted))
        stopRunning(STATUS_CANCELLED);
    PCM_RESOURCE_LIST prl = IoGetCurrentIrpStackLocation(pIrp)->Parameters.StartDevice.AllocatedResourcesTranslated;
    if (!prl || prl->Count == 0) {
        log(fWmErr, "kgpStartDevice: no resources!");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return startResources(prl);
}

NTSTATUS CardBus::startResources(PCM_RESOURCE_LIST prl)
{
    IoRegion ioOper = {};
    IntrResource ir = {};
    _ioRegs = IoRegion{};
    const CM_PARTIAL_RESOURCE_LIST* ppl = partialList(prl);
    for (ULONG i = 0; i < ppl->Count; ++i)
        takeResource(*partialAt(ppl, i), &ioOper, &ir);
    if (ioOper._prd && (ioOper._prd->_f & fRegionOperation)) {
        WRITE_PORT_UCHAR(portAt(ioOper._uBase, offBridgeBus), uBridgeBus);
        WRITE_PORT_UCHAR(portAt(ioOper._uBase, offBridgeIntr), uBridgeIntr);
        log(fWmFlow, "AMCC5920 configured %lx", static_cast<ULONG>(ioOper._uBase));
    }
    if (!_ioRegs._prd) {
        log(fWmFlow, "no i/o region");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UCHAR mpb[8];
    for (int i = 7; i >= 0; --i)
        mpb[i] = READ_PORT_UCHAR(portAt(_ioRegs._uBase, static_cast<ULONG>(i)));
    log(fWmFlow, "ioregs 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x 0x%x", mpb[0], mpb[1], mpb[2], mpb[3], mpb[4], mpb[5],
        mpb[6], mpb[7]);
    // Without an interrupt the board has no lock for its channels.
    if (!ir._fFound) {
        log(fWmErr, "no interrupt resource");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ChanBinding bd = {this, {}, {}};
    NTSTATUS st = STATUS_INSUFFICIENT_RESOURCES;
    PKINTERRUPT pi = nullptr;
    if (!createCard(&bd)) {
        log(fWmErr, "Card start failed");
    } else {
        st = IoConnectInterrupt(&pi, intr, this, nullptr, ir._uVector, ir._uLevel, ir._uLevel, ir._eMode,
                                ir._fShared, ir._uAffinity, FALSE);
        log(fWmFlow, "IoConnectInterrupt: 0x%lx", st);
    }
    // The entries stay (a request, the deferred routine or a cancel
    // routine may hold one) and are bound to the new card object's
    // channels once it can run; else to nothing, the card object of an
    // earlier start being gone. The interrupt routine leaves the card
    // object alone until attachInterrupt.
    if (!NT_SUCCESS(st))
        bd = ChanBinding{this, {}, {}};
    bindChannels(&bd);
    if (!NT_SUCCESS(st))
        return st;
    attachInterrupt(pi);
    // A channel left open over a restart: its driver starts on the new card object.
    if (isDriver()) {
        for (ChanBus& cb : _mpChan)
            if (cb._cOpen && cb.isBound() && static_cast<LONG>(cb.iDriver()) == iDriver()) {
                int i = initDriver(cb.pDriver());
                if (i)
                    log(fWmErr, "can't init yek driver %d %d %d", static_cast<int>(cb.iDriver()),
                        static_cast<int>(cb.iChan()), i);
                break;
            }
    }
    wmPoint(eWmPointBusBound);
    startTimer();
    // Requests begin from here: decided under the lock their start takes.
    synchronize(syncStarted, this);
    return STATUS_SUCCESS;
}

bool CardBus::createCard(ChanBinding* pbd)
{
    const YekMod* pum = this->pum();
    void* pv = pum->_pFnew_YekCard
                   ? pum->_pFnew_YekCard(const_cast<YekMod*>(pum), &envWmBus, _mpMem, _cMem, argOf(pad()),
                                         static_cast<long>(static_cast<ULONG>(_ioRegs._uBase)))
                   : nullptr;
    _pCard = static_cast<KVdepYek100::YekCard*>(pv);
    log(fWmFlow, "Yek: new card %p", _pCard);
    // The board's status stays as it is: requests of open handles read it
    // in every line they log.
    return _pCard && takeChannels(pbd);
}

bool CardBus::takeChannels(ChanBinding* pbd)
{
    bool fOk = true;
    YekIter itd;
    YekCard_startIterDrivers(_pCard, &itd);
    for (ULONG d = 0; YekDriver* pud = YekCard_iterateDrivers(_pCard, &itd); ++d) {
        YekIter itc;
        YekDriver_startIterChannels(pud, &itc);
        for (ULONG c = 0; YekChannel* pcn = YekDriver_iterateChannels(pud, &itc); ++c) {
            auto* pck = static_cast<YekChanKern*>(pcn);
            log(fWmFlow, "Yek: new chan %s %d", YekDriver_szName(pud), YekChanKern_num(pck));
            ChanBus* pcb = chanAt(ChanIter(d, c));
            // A channel past the table fails the start: its callbacks would
            // have no bus channel.
            if (!pcb) {
                log(fWmErr, "Yek: chan %d %d past the board's table", static_cast<int>(d), static_cast<int>(c));
                fOk = false;
                continue;
            }
            pbd->_mppud[pcb - _mpChan] = pud;
            pbd->_mppcn[pcb - _mpChan] = pcn;
        }
    }
    return fOk;
}

void CardBus::bindChannels(ChanBinding* pbd)
{
    synchronize(syncBindChannels, pbd);
}

BOOLEAN CardBus::syncBindChannels(PVOID pv)
{
    auto* pbd = static_cast<ChanBinding*>(pv);
    for (int i = 0; i < cChanBus; ++i) {
        ChanBus* pcb = &pbd->_pca->_mpChan[i];
        pcb->bind(pbd->_mppud[i], pbd->_mppcn[i]);
        if (pbd->_mppcn[i])
            YekChanKern_setHandle(static_cast<YekChanKern*>(pbd->_mppcn[i]), pcb);
    }
    return TRUE;
}

void CardBus::startTimer()
{
    int ms = pum()->_tps > 0 ? 1000 / pum()->_tps : 0;
    WM_ASSERT(ms, "ms", szSrc);
    LARGE_INTEGER liDue;
    liDue.QuadPart = 0;
    KeSetTimerEx(&_timer, liDue, ms, &_dpcTimer);
    log(fWmTimerSet, "timer period %u ms", static_cast<unsigned>(ms));
}

void CardBus::stopTimer()
{
    KeCancelTimer(&_timer);
    KeRemoveQueueDpc(&_dpcTimer);
    // A call taken off the queue may be running on another processor.
    KeFlushQueuedDpcs();
}

void CardBus::stopRunning(NTSTATUS stEnd)
{
    stopTimer();
    _stEnd = stEnd;
    PKINTERRUPT pi = detachInterrupt();
    completeEnded();
    if (pi)
        IoDisconnectInterrupt(pi);
    // The deferred routine the interrupt routine or a timer step asked for:
    // removed, or waited for while it runs.
    KeRemoveQueueDpc(&pdo()->Dpc);
    KeFlushQueuedDpcs();
}

void CardBus::attachInterrupt(PKINTERRUPT pi)
{
    KIRQL irql;
    KeAcquireSpinLock(&_slBoard, &irql);
    _pInterrupt = pi;
    KeSynchronizeExecution(pi, syncRun, this);
    KeReleaseSpinLock(&_slBoard, irql);
}

PKINTERRUPT CardBus::detachInterrupt()
{
    KIRQL irql;
    KeAcquireSpinLock(&_slBoard, &irql);
    PKINTERRUPT pi = _pInterrupt;
    if (pi)
        KeSynchronizeExecution(pi, syncStop, this);
    else
        syncStop(this);
    // Later synchronized steps take the board's lock only.
    _pInterrupt = nullptr;
    KeReleaseSpinLock(&_slBoard, irql);
    return pi;
}

BOOLEAN CardBus::syncRun(PVOID pv)
{
    static_cast<CardBus*>(pv)->_fRunning = 1;
    return TRUE;
}

BOOLEAN CardBus::syncStarted(PVOID pv)
{
    static_cast<CardBus*>(pv)->setState(eStarted);
    return TRUE;
}

BOOLEAN CardBus::syncStop(PVOID pv)
{
    auto* pca = static_cast<CardBus*>(pv);
    pca->_fRunning = 0;
    pca->setState(eStopped);
    pca->endLocked();
    return TRUE;
}

BOOLEAN CardBus::syncRemoved(PVOID pv)
{
    auto* pca = static_cast<CardBus*>(pv);
    pca->setRemoved();
    pca->endLocked();
    return TRUE;
}

NTSTATUS CardBus::pnpStopDevice(PDEVICE_OBJECT, PIRP)
{
    log(fWmFlow, "pnpStopDevice");
    // Requests still waiting end here: the board goes, nobody else would
    // complete them.
    if (isState(eStarted))
        stopRunning(STATUS_DEVICE_NOT_CONNECTED);
    return STATUS_SUCCESS;
}

void CardBus::pnpSurpriseRemoval()
{
    // Marked removed under the lock a request's start takes: no request
    // begins after the waiting ones end.
    _stEnd = STATUS_DEVICE_NOT_CONNECTED;
    synchronize(syncRemoved, this);
    completeEnded();
}

void CardBus::endLocked()
{
    _fEnded = 0;
    for (int i = 0; i < cChanBus; ++i) {
        ChanBus& cb = _mpChan[i];
        if (cb.isWaiting())
            cb.finish(_stEnd);
        if (cb.done(false))
            _fEnded |= 1u << i;
    }
}

void CardBus::completeEnded()
{
    ULONG fEnded = _fEnded;
    for (int i = 0; i < cChanBus; ++i) {
        if (!(fEnded & (1u << i)))
            continue;
        ChanBus& cb = _mpChan[i];
        NTSTATUS stDone = cb.status();
        log(fWmReq, "request ended driv=%d chan=%d stat=%x", static_cast<int>(cb.iDriver()),
            static_cast<int>(cb.iChan()), stDone);
        completeIrp(cb.detachIrp(szSrc, __LINE__), stDone, 0);
    }
}

// ---------------------------------------------------------------------------
// Channels

ChanBus* CardBus::chanAt(const ChanIter& it)
{
    if (it.iDriver() >= cDriverMax || it.iChanOfDriver() >= cChanMax)
        return nullptr;
    return &_mpChan[it.iDriver() * cChanMax + it.iChanOfDriver()];
}

int CardBus::initDriver(YekDriver* pud)
{
    DriverCall dc = {pud, 0};
    synchronize(syncInit, &dc);
    return dc._iResult;
}

void CardBus::finiDriver(YekDriver* pud)
{
    DriverCall dc = {pud, 0};
    synchronize(syncFini, &dc);
}

Chan* CardBus::open(ChanIter* pit)
{
    OpenLock lk(&_mtxOpen);
    ChanIter it = *pit;
    int iDrv = static_cast<int>(it.iDriver());
    int iChn = static_cast<int>(it.iChanOfDriver());
    ChanBus* pcn = chanAt(it);
    // Beyond the module's counts: a started board with a channel of the card
    // object at that entry.
    bool fUsable = pcn && pcn->isBound() && isState(eStarted) && !isRemoved();
    if (_fOpen == 0) {
        int i = openFirst(it);
        if (i == 0 && !fUsable) {
            closeAt(it);
            i = -4;
        }
        if (i) {
            log(fWmErr, "can't open (first) %d %d %d", iDrv, iChn, i);
            return nullptr;
        }
        i = initDriver(pcn->pDriver());
        if (i) {
            log(fWmErr, "can't init yek driver %d %d %d", iDrv, iChn, i);
            closeAt(it);
            return nullptr;
        }
    } else {
        int i = openNext(it);
        if (i == 0 && !fUsable) {
            closeAt(it);
            i = -4;
        }
        if (i) {
            log(fWmErr, "can't open (next) %d %d %d", iDrv, iChn, i);
            return nullptr;
        }
    }
    pcn->open();
    return pcn;
}

void CardBus::close(Chan* pcn)
{
    OpenLock lk(&_mtxOpen);
    auto* pcb = static_cast<ChanBus*>(pcn);
    pcn->close();
    closeAt(ChanIter(pcn->iDriver(), pcn->iChan()));
    if (_fOpen == 0 && pcb->pDriver())
        finiDriver(pcb->pDriver());
}

int CardBus::print(char* pch, long cch)
{
    if (cch <= 0)
        return 0;
    const YekAdapt* pad = this->pad();
    RtlStringCbPrintfA(pch, static_cast<size_t>(cch), szYekReadPciFmt, slot()->_wszKey, pad->_szAdaptName,
                       pad->_szOrg, pad->_szArch, cIntr(), cTimer());
    return static_cast<int>(strnlen(pch, static_cast<size_t>(cch)));
}
