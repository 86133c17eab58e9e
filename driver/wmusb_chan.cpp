// The channel transfers of a USB board.
#include "wmusb.h"

namespace {
const ULONG fInShortOk = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
}

ChanUsb::ChanUsb()
    : Chan(nullptr, 0xFFFFFFFFu, 0xFFFFFFFFu), _mpchCtrl(), _hPipeDown(nullptr), _hPipeUp(nullptr), _fLeftBehind()
{
}

ChanUsb::ChanUsb(USBD_PIPE_HANDLE hPipeDown, USBD_PIPE_HANDLE hPipeUp, Card* pca, ULONG iDriver, ULONG iChan)
    : Chan(pca, iDriver, iChan), _mpchCtrl(), _hPipeDown(hPipeDown), _hPipeUp(hPipeUp), _fLeftBehind()
{
}

CardUsb* ChanUsb::pcu() const
{
    return static_cast<CardUsb*>(pca());
}

NTSTATUS ChanUsb::bulk(USBD_PIPE_HANDLE h, ULONG fFlags, PVOID pv, PMDL pmdl, ULONG cb, ULONG* pcbDone)
{
    URB urb;
    UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), h, pv, pmdl, cb,
                                           fFlags, nullptr);
    NTSTATUS st = pcu()->sendUrb(&urb, h);
    if (pcbDone)
        *pcbDone = urb.UrbBulkOrInterruptTransfer.TransferBufferLength;
    return st;
}

NTSTATUS ChanUsb::putDownCtrl()
{
    bool fOk = false;
    size_t n = marshalControl(pca()->pup(), _mpchCtrl, sizeof _mpchCtrl, &controlDown(), &fOk);
    // A control the protocol cannot write is refused before anything is sent.
    if (!fOk) {
        pca()->log(fWmErr, "can't marsh control h=%d l=%d", static_cast<int>(n), controlDown().eType());
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    pca()->log(fWmUsb, "usb put down ctrl, driv=%d, chan=%d, size=%u h=0x%x", static_cast<int>(iDriver()),
               static_cast<int>(iChan()), static_cast<ULONG>(n), static_cast<unsigned>(static_cast<UCHAR>(_mpchCtrl[0])));
    NTSTATUS st = bulk(_hPipeDown, USBD_TRANSFER_DIRECTION_OUT, _mpchCtrl, nullptr, static_cast<ULONG>(n), nullptr);
    if (!NT_SUCCESS(st))
        pca()->log(fWmErr, "Error 0x%x trying to write downstream message control", st);
    return st;
}

NTSTATUS ChanUsb::putDownData()
{
    WmMdl& m = mdl(iRecDd);
    ULONG n = m.cb();
    pca()->log(fWmUsb, "usb put down data, driv=%d, chan=%d, size=%u", static_cast<int>(iDriver()),
               static_cast<int>(iChan()), n);
    NTSTATUS st = bulk(_hPipeDown, USBD_TRANSFER_DIRECTION_OUT, nullptr, m.mdl(), n, nullptr);
    if (!NT_SUCCESS(st))
        pca()->log(fWmErr, "Error 0x%x trying to write downstream message data ", st);
    return st;
}

NTSTATUS ChanUsb::getUpData()
{
    WmMdl& m = mdl(iRecDu);
    ULONG r = 0;
    NTSTATUS st = bulk(_hPipeUp, fInShortOk, nullptr, m.mdl(), m.cb(), &r);
    if (!NT_SUCCESS(st)) {
        pca()->log(fWmErr, "Error 0x%x trying to read upstream message data", st);
        return st;
    }
    if (r > m.cb())
        r = m.cb();
    pca()->log(fWmUsb, "usb got up data, driv=%d, chan=%d, size=%u", static_cast<int>(iDriver()),
               static_cast<int>(iChan()), r);
    setDataLimit(iRecDu, r);
    return st;
}

NTSTATUS ChanUsb::getUpCtrl()
{
    ULONG r = 0;
    NTSTATUS st = bulk(_hPipeUp, fInShortOk, _mpchCtrl, nullptr, sizeof _mpchCtrl, &r);
    if (!NT_SUCCESS(st)) {
        pca()->log(fWmErr, "Error 0x%x trying to read upstream message control", st);
        return st;
    }
    if (r > sizeof _mpchCtrl)
        r = sizeof _mpchCtrl;
    pca()->log(fWmUsb, "usb got up ctrl, driv=%d, chan=%d, size=%u", static_cast<int>(iDriver()),
               static_cast<int>(iChan()), r);
    // Built in the driver's own buffer, then copied to the caller's room.
    KVdepYek100::YekControlBuf uc;
    size_t s = unmarshalControl(pca()->pup(), &uc, _mpchCtrl, r);
    WmMdl& mcu = mdl(iRecCu);
    if (s == 0 || s > mcu.cb() || s > sizeof uc) {
        pca()->log(fWmErr, "can't unmarsh control h=%d l=%d", static_cast<int>(r),
                   static_cast<int>(static_cast<UCHAR>(_mpchCtrl[0])));
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    RtlCopyMemory(mcu.pch(), static_cast<const void*>(&uc), s);
    setDataLimit(iRecCu, s);
    return st;
}

int ChanUsb::start()
{
    if (pca()->isRemoved()) {
        // The device is gone: nothing is sent.
        _iStat = STATUS_DEVICE_NOT_CONNECTED;
        return 1;
    }
    if (isLeftBehind()) {
        pca()->log(fWmErr, "chan %d %d was opened before the last start", static_cast<int>(iDriver()),
                   static_cast<int>(iChan()));
        _iStat = STATUS_DEVICE_NOT_CONNECTED;
        return 1;
    }
    wmPoint(eWmPointUsbRequest);
    NTSTATUS st = STATUS_SUCCESS;
    if (wantsDown()) {
        st = putDownCtrl();
        if (NT_SUCCESS(st))
            st = putDownData();
    }
    if (NT_SUCCESS(st) && wantsUp()) {
        st = getUpData();
        if (NT_SUCCESS(st))
            st = getUpCtrl();
        if (NT_SUCCESS(st))
            writeBack();
    }
    // A start that came while the request was under way ended it.
    if (!NT_SUCCESS(st) && isLeftBehind())
        st = STATUS_DEVICE_NOT_CONNECTED;
    _iStat = NT_SUCCESS(st) ? STATUS_SUCCESS : st;
    return 1;
}
