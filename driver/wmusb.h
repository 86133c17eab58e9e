// The USB board with an EZ-USB controller and its channels: the board's
// start (descriptors, interface 0 in alternate setting 1 with six endpoints,
// the idle firmware), the open and close rules with the operating firmware,
// the firmware download, and the channel transfers over the bulk pipes.
#pragma once

#include <usbdi.h>
#include <usbdlib.h>
#include <wdm.h>

#include "ezusb_fw.h"
#include "wmcard.h"

class CardUsb;

// A channel of a USB board: each request is carried to its end in start().
class ChanUsb : public Chan {
public:
    ChanUsb();
    ChanUsb(USBD_PIPE_HANDLE hPipeDown, USBD_PIPE_HANDLE hPipeUp, Card* pca, ULONG iDriver, ULONG iChan);
    ~ChanUsb() = default;

    // Control down, data down, data up, control up; the first failure ends
    // the request. Always finishes at once.
    int start() override;
    // A start of the board (a restart) gave it new pipes and the idle
    // firmware: the channel open before it is left behind, and its requests
    // fail (STATUS_DEVICE_NOT_CONNECTED) until it is closed.
    void leaveBehind() { _fLeftBehind.set(1); }
    bool isLeftBehind() const { return _fLeftBehind.get() != 0; }
    NTSTATUS putDownCtrl();
    NTSTATUS putDownData();
    NTSTATUS getUpData();
    NTSTATUS getUpCtrl();

    USBD_PIPE_HANDLE pipeDown() const { return _hPipeDown; }
    USBD_PIPE_HANDLE pipeUp() const { return _hPipeUp; }

    char _mpchCtrl[cbYekControlUp];  // the wire form of one control
    USBD_PIPE_HANDLE _hPipeDown;
    USBD_PIPE_HANDLE _hPipeUp;
    SharedWord _fLeftBehind;  // set by a start while the channel is open

private:
    CardUsb* pcu() const;
    NTSTATUS bulk(USBD_PIPE_HANDLE h, ULONG fFlags, PVOID pv, PMDL pmdl, ULONG cb, ULONG* pcbDone);
};

// The EZ-USB constants: the download request, the CPU control register and
// its values.
const UCHAR uEzusbRequestWrite = 0xA0;
const USHORT addrEzusbCpuCs = 0xE600;

class CardUsb : public Card {
public:
    static const int cPipe = 2;  // pipes per direction: channels 0 and 1
    static const int cChanObj = 4;

    CardUsb(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
    ~CardUsb() override;

    Chan* open(ChanIter* pit) override;
    void close(Chan* pcn) override;
    int print(char* pch, long cch) override;
    NTSTATUS pnpStartDevice(PDEVICE_OBJECT pdo, PIRP pIrp) override;
    NTSTATUS pnpStopDevice(PDEVICE_OBJECT pdo, PIRP pIrp) override;
    // Nothing more is sent, and the transfers waiting on the pipes end: the
    // bus fails them when it lost the device, but after a restart that
    // failed the board is still attached.
    void pnpSurpriseRemoval() override;

    NTSTATUS downloadFirmware(const ezusb_hex_record* phr, const char* szName);
    NTSTATUS ezusbWriteMem(USHORT addr, const void* pv, USHORT c, UCHAR uRequest);
    NTSTATUS ezusbHoldCpu(UCHAR u);
    // Submits the request block to the lower device and waits for it. A
    // transfer gives its pipe: one that waits while the board is being
    // removed may have come after the removal aborted the pipes, and aborts
    // its pipe itself.
    NTSTATUS sendUrb(PURB purb, USBD_PIPE_HANDLE hPipe = nullptr);
    // Ends the transfers waiting on the pipe.
    NTSTATUS abortPipe(USBD_PIPE_HANDLE h);

    const YekAdaptUsb* padUsb() const { return reinterpret_cast<const YekAdaptUsb*>(pad()); }

    USB_DEVICE_DESCRIPTOR _devDesc;
    USBD_PIPE_HANDLE _mpPipeDown[cPipe];
    USBD_PIPE_HANDLE _mpPipeUp[cPipe];
    PUSB_CONFIGURATION_DESCRIPTOR _pConfigDesc;
    ChanUsb _mpChan[cChanObj];
    // The last start succeeded: the pipes and the firmware are its own.
    // Under the open/close lock.
    ULONG _fStarted;

private:
    NTSTATUS startConfigured(PUSB_CONFIGURATION_DESCRIPTOR pcd, ULONG cbTotal);
    Chan* openLocked(ChanIter* pit);
    // A channel is open that no start left behind (under the open/close lock).
    bool hasLiveChannel() const;
};
