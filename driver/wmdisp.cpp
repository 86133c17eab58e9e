// Request dispatch: create, close, cleanup, read and device control.
#include "wmdisp.h"

#include <cstring>
#include <ntstrsafe.h>

#include "wmcard.h"
#include "yek_c.h"
#include "yek_devif.h"

static const char szSrc[] = "wmdisp";

namespace {

Card* cardOf(PDEVICE_OBJECT DeviceObject)
{
    return static_cast<Card*>(DeviceObject->DeviceExtension);
}

Chan* chanOf(PIRP Irp)
{
    PFILE_OBJECT pfo = IoGetCurrentIrpStackLocation(Irp)->FileObject;
    return pfo ? static_cast<Chan*>(pfo->FsContext) : nullptr;
}

// The file name as 8-bit text, at most 63 characters.
void fileNameText(PFILE_OBJECT pfo, char (&sz)[64])
{
    size_t n = 0;
    if (pfo && pfo->FileName.Buffer) {
        size_t cch = pfo->FileName.Length / sizeof(WCHAR);
        for (; n < cch && n < sizeof sz - 1; ++n) {
            WCHAR wc = pfo->FileName.Buffer[n];
            sz[n] = wc < 0x80 ? static_cast<char>(wc) : '?';
        }
    }
    sz[n] = 0;
}

// Holds the board for a dispatch routine: its removal waits until the
// routine has left it. A routine that comes once the removal has begun holds
// nothing, and must not touch the board, which may be destroyed already.
class BoardHold {
public:
    BoardHold(Card* pca, PIRP Irp) : _pca(pca), _Irp(Irp), _fHeld(NT_SUCCESS(IoAcquireRemoveLock(&pca->_rml, Irp)))
    {
        if (_fHeld)
            wmPoint(eWmPointDispatch);
    }
    ~BoardHold()
    {
        if (_fHeld)
            IoReleaseRemoveLock(&_pca->_rml, _Irp);
    }
    BoardHold(const BoardHold&) = delete;
    BoardHold& operator=(const BoardHold&) = delete;

    bool isHeld() const { return _fHeld; }

private:
    Card* _pca;
    PIRP _Irp;
    bool _fHeld;
};

// Every exit after the channel was entered leaves it again.
void leaveChan(Chan* pcn)
{
    pcn->busy().leave();
    WM_ASSERT(pcn->isIdle(), "(pcn)->isIdle()", szSrc);
}

// A request the dispatch ends itself: the channel is left before the
// request is detached, so its slot opens only once nobody works on the
// channel (a second request on the handle may take it at once).
NTSTATUS endIoctl(Chan* pcn, PIRP Irp, NTSTATUS st, int iLine)
{
    leaveChan(pcn);
    wmPoint(eWmPointIoctlEnd);
    pcn->detachIrp(szSrc, iLine);
    return completeIrp(Irp, st, 0);
}

// The end of a request whose buffer could not be mapped: logged, the
// channel left, the request detached (everything unmapped, the caller's line
// recorded) and completed with STATUS_INSUFFICIENT_RESOURCES.
NTSTATUS mapFailed(Chan* pcn, PIRP Irp, WmMdl* pmdl, const char* szWhat, int iLine)
{
    pcn->pca()->log(fWmErr, "can't map %s (%s, %d)", szWhat, pmdl->szErr() ? pmdl->szErr() : "-nil-",
                    static_cast<int>(pmdl->iErr()));
    return endIoctl(pcn, Irp, STATUS_INSUFFICIENT_RESOURCES, iLine);
}

ULONG low32(const void* pv)
{
    return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(pv));
}

}  // namespace

NTSTATUS kwmCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = cardOf(DeviceObject);
    BoardHold hold(pca, Irp);
    if (!hold.isHeld())
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    PFILE_OBJECT pfo = IoGetCurrentIrpStackLocation(Irp)->FileObject;
    char sz[64];
    fileNameText(pfo, sz);
    pca->log(fWmFlow, "kwmCreate(%d, %s)", pfo ? static_cast<int>(pfo->FileName.Length) : 0, sz);
    if (std::strlen(sz) != cchYekChanFile)
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    const YekMod* pum = pca->pum();
    const YekDriverDesc* pudd = nullptr;
    unsigned iDriver = 0;
    for (;; ++iDriver) {
        pudd = YekMod_getDriverDesc(pum, iDriver);
        if (!pudd)
            break;
        const char* szName = pudd->_pup ? YekProto_szName(pudd->_pup) : nullptr;
        if (szName && std::strncmp(szName, sz + 1, cchYekProtoName) == 0)
            break;
    }
    if (!pudd) {
        pca->log(fWmErr, "no driver for %s", sz + 1);
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    int iChan = sz[5] - '0';
    pca->log(fWmFlow, "driver %d (%s) chan %d", static_cast<int>(iDriver), YekProto_szName(pudd->_pup), iChan);
    ChanIter it(iDriver, static_cast<ULONG>(iChan));
    Chan* pcn = pca->open(&it);
    if (!pcn) {
        pca->log(fWmErr, "can't open %s", sz + 1);
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    pca->log(fWmIoc, "open: chan %d %d @ %p", static_cast<int>(pcn->iDriver()), static_cast<int>(pcn->iChan()), pfo);
    pfo->FsContext = pcn;
    return completeIrp(Irp, STATUS_SUCCESS, 0);
}

NTSTATUS kwmClose(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = cardOf(DeviceObject);
    BoardHold hold(pca, Irp);
    if (!hold.isHeld())
        return completeIrp(Irp, STATUS_SUCCESS, 0);
    pca->log(fWmFlow, "close chan @ %p", IoGetCurrentIrpStackLocation(Irp)->FileObject);
    if (Chan* pcn = chanOf(Irp))
        pca->close(pcn);
    return completeIrp(Irp, STATUS_SUCCESS, 0);
}

NTSTATUS kwmCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = cardOf(DeviceObject);
    BoardHold hold(pca, Irp);
    if (!hold.isHeld())
        return completeIrp(Irp, STATUS_SUCCESS, 0);
    Chan* pcn = chanOf(Irp);
    pca->log(fWmFlow, "cleanup chan, irp=%p", pcn ? pcn->pIrp() : nullptr);
    return completeIrp(Irp, STATUS_SUCCESS, 0);
}

NTSTATUS kwmRead(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = cardOf(DeviceObject);
    BoardHold hold(pca, Irp);
    if (!hold.isHeld())
        return completeIrp(Irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    Chan* pcn = chanOf(Irp);
    WM_ASSERT(pca && pcn && pca == pcn->pca(), "pca && pcn && pca == pcn->pca()", szSrc);
    ULONG cb = IoGetCurrentIrpStackLocation(Irp)->Parameters.Read.Length;
    pca->log(fWmFlow, "kwmRead(%d)", static_cast<int>(cb));
    if (cb < cbYekReadMin)
        return completeIrp(Irp, STATUS_SUCCESS, 0);
    if (pcn->toggleRead() != 0)
        return completeIrp(Irp, STATUS_SUCCESS, 0);
    char* pch = static_cast<char*>(Irp->AssociatedIrp.SystemBuffer);
    RtlStringCbPrintfA(pch, cb, szYekReadDriverFmt, pca->_pwm->_szDid, pca->_pwm->_szVers);
    // The board's part gets what the driver's part left, and the count is
    // what the buffer holds.
    size_t cchDriver = strnlen(pch, cb);
    size_t cchBoard = 0;
    if (cchDriver + 1 < cb) {
        pca->print(pch + cchDriver, static_cast<long>(cb - cchDriver));
        cchBoard = strnlen(pch + cchDriver, cb - cchDriver);
    }
    return completeIrp(Irp, STATUS_SUCCESS, cchDriver + cchBoard);
}

NTSTATUS kwmIoctl(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = cardOf(DeviceObject);
    BoardHold hold(pca, Irp);
    if (!hold.isHeld())
        return completeIrp(Irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    Chan* pcn = chanOf(Irp);
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(Irp);
    ULONG uCode = sl->Parameters.DeviceIoControl.IoControlCode;
    PVOID pvIn = sl->Parameters.DeviceIoControl.Type3InputBuffer;
    PVOID pvOut = Irp->UserBuffer;
    ULONG cbIn = sl->Parameters.DeviceIoControl.InputBufferLength;
    ULONG cbOut = sl->Parameters.DeviceIoControl.OutputBufferLength;
    pca->log(fWmIoc, "kwmIoctl(%x, drv=%d chan=%d, puIn=%x, cIn=%u, puOut=%x, cOut=%u)", uCode,
             pcn ? static_cast<int>(pcn->iDriver()) : -1, pcn ? static_cast<int>(pcn->iChan()) : -1, low32(pvIn),
             cbIn, low32(pvOut), cbOut);
    pca->log(fWmIoc, "pIrp=%p, current MDL=%x", Irp, low32(Irp->MdlAddress));
    if (!pcn || pvIn != pvOut || cbIn != cbOut || (cbIn != cbYekIoc && cbIn != cbYekIoc32)) {
        pca->log(fWmErr, "ioctl argument error, expected size=%d", static_cast<int>(cbYekIoc));
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    if (!pcn->attachIrp(Irp))
        return completeIrp(Irp, STATUS_NO_SUCH_DEVICE, 0);
    pcn->resetMappings();
    WM_ASSERT(pcn->isIdle(), "(pcn)->isIdle()", szSrc);
    pcn->busy().enter();
    KPROCESSOR_MODE mode = Irp->RequestorMode;
    if (!pcn->mdlIoc().map(pvIn, cbIn, mode, IoModifyAccess).require(cbIn))
        return mapFailed(pcn, Irp, &pcn->mdlIoc(), "ioctl argument", __LINE__);
    pcn->prepare(cbIn);
    YekIoc* pioc = pcn->ioc();
    if (uCode == IOCTL_YEK_PROCHK) {
        pca->log(fWmIoc, "protocol check");
        WmMdl& mdd = pcn->mdl(iRecDd);
        if (!mdd.mapRecord(&pioc->_dd, mode, IoReadAccess))
            return mapFailed(pcn, Irp, &mdd, "data down", __LINE__);
        pca->log(fWmIoc, "csa:%d", static_cast<int>(mdd.cb()));
        char mpch[cbYekProchkMax];
        size_t c = 0;
        if (!mdd.copyOut(mpch, sizeof mpch, &c)) {
            pca->log(fWmErr, "copyOut failed");
            return endIoctl(pcn, Irp, STATUS_INSUFFICIENT_RESOURCES, __LINE__);
        }
        pca->log(fWmIoc, "user protocol size:%d", static_cast<int>(c));
        bool fOk = c >= 1 && mpch[c - 1] == 0 && YekProto_match(pca->pup(), mpch, c) != 0;
        if (!fOk)
            pca->log(fWmErr, "protocol error");
        return endIoctl(pcn, Irp, fOk ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES, __LINE__);
    }
    if (pcn->setDown(uCode == IOCTL_YEK_PUT || uCode == IOCTL_YEK_XCH)) {
        pca->log(fWmIoc, "down");
        WmMdl& mcd = pcn->mdl(iRecCd);
        if (!mcd.mapRecord(&pioc->_cd, mode, IoReadAccess).copyControl(&pcn->controlDown()))
            return mapFailed(pcn, Irp, &mcd, "control down", __LINE__);
        WmMdl& mdd = pcn->mdl(iRecDd);
        if (!mdd.mapRecord(&pioc->_dd, mode, IoReadAccess))
            return mapFailed(pcn, Irp, &mdd, "data down", __LINE__);
    }
    if (pcn->setUp(uCode == IOCTL_YEK_GET || uCode == IOCTL_YEK_XCH)) {
        WmMdl& mcu = pcn->mdl(iRecCu);
        if (!mcu.mapRecord(&pioc->_cu, mode, IoModifyAccess).require(cbYekControlUp))
            return mapFailed(pcn, Irp, &mcu, "control up", __LINE__);
        WmMdl& mdu = pcn->mdl(iRecDu);
        if (!mdu.mapRecord(&pioc->_du, mode, IoModifyAccess))
            return mapFailed(pcn, Irp, &mdu, "data up", __LINE__);
    }
    leaveChan(pcn);
    WM_ASSERT(pcn->pIrp(), "pIrp", szSrc);
    WM_ASSERT(IoGetCurrentIrpStackLocation(pcn->pIrp()), "IoGetCurrentIrpStackLocation(pIrp)", szSrc);
    IoMarkIrpPending(Irp);
    pca->log(fWmReq, "startIrp");
    if (!pcn->start()) {
        // The channel's request may be completed and detached already.
        pca->log(fWmReq, "pend (%p)", Irp);
        return STATUS_PENDING;
    }
    pca->log(fWmReq, "done");
    NTSTATUS st = pcn->status();
    completeIrp(pcn->detachIrp(szSrc, __LINE__), st, 0);
    return STATUS_PENDING;
}
