// The USB board: start, stop, open and close, firmware download, sendUrb.
#include <initializer_list>
#include <new>
#include <ntstrsafe.h>

#include "wmusb.h"

static const char szSrc[] = "wmusb";

namespace {

const ULONG uTagConfig = 0x7571766B;  // 'kvqu'
const int iPipeFirstDown = 2;         // pipes 2, 3 down and 4, 5 up
const int iPipeFirstUp = 4;
const UCHAR cEndpoints = 6;
const UCHAR cbEzusbMaxRecord = 16;

// The open mask's bit of a channel.
ULONG chanBit(int iChan)
{
    return ChanIter(0, static_cast<ULONG>(iChan)).bit();
}

}  // namespace

CardUsb::CardUsb(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
    : Card(pwm, pci, pdo), _devDesc(), _mpPipeDown(), _mpPipeUp(), _pConfigDesc(nullptr), _fStarted(0)
{
}

CardUsb::~CardUsb()
{
    log(fWmUsb, "dtCardUsb");
    // The channel objects go last to first with the array.
}

NTSTATUS CardUsb::sendUrb(PURB purb, USBD_PIPE_HANDLE hPipe)
{
    WM_ASSERT(KeGetCurrentIrql() == PASSIVE_LEVEL, "KeGetCurrentIrql() == PASSIVE_LEVEL", szSrc);
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb = {};
    PIRP pIrp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, lower(), nullptr, 0, nullptr, 0,
                                              TRUE, &ev, &iosb);
    if (!pIrp) {
        log(fWmErr, "Unable to allocate IRP for sending URB");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(pIrp)->Parameters.Others.Argument1 = purb;
    NTSTATUS st = IoCallDriver(lower(), pIrp);
    if (st == STATUS_PENDING) {
        if (hPipe && isRemoved())
            abortPipe(hPipe);
        KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
        st = iosb.Status;
    }
    return st;
}

NTSTATUS CardUsb::abortPipe(USBD_PIPE_HANDLE h)
{
    URB urb;
    RtlZeroMemory(&urb, sizeof(struct _URB_PIPE_REQUEST));
    urb.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
    urb.UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
    urb.UrbPipeRequest.PipeHandle = h;
    NTSTATUS st = sendUrb(&urb);
    if (!NT_SUCCESS(st))
        log(fWmErr, "Error 0x%x trying to abort pipe", st);
    return st;
}

void CardUsb::pnpSurpriseRemoval()
{
    // Set first: a transfer queued from here on aborts its pipe itself.
    setRemoved();
    wmPoint(eWmPointUsbRemoval);
    for (int i = 0; i < cPipe; ++i)
        for (USBD_PIPE_HANDLE h : {_mpPipeDown[i], _mpPipeUp[i]})
            if (h)
                abortPipe(h);
}

NTSTATUS CardUsb::ezusbWriteMem(USHORT addr, const void* pv, USHORT c, UCHAR uRequest)
{
    // Nothing more is sent to a board being removed: a download under way
    // stops at its next write.
    if (isRemoved())
        return STATUS_DEVICE_NOT_CONNECTED;
    log(fWmUsb, "ezusbWriteMem 0x%x, %d", static_cast<unsigned>(addr), static_cast<int>(c));
    URB urb;
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                          USBD_TRANSFER_DIRECTION_OUT, 0, uRequest, addr, 0, const_cast<void*>(pv), nullptr, c,
                          nullptr);
    NTSTATUS st = sendUrb(&urb);
    if (!NT_SUCCESS(st))
        log(fWmErr, "Error 0x%x trying write ezusb memory", st);
    else
        log(fWmUsb, "ezusbWriteMem done");
    return st;
}

NTSTATUS CardUsb::ezusbHoldCpu(UCHAR u)
{
    UCHAR b = u;
    return ezusbWriteMem(addrEzusbCpuCs, &b, 1, uEzusbRequestWrite);
}

NTSTATUS CardUsb::downloadFirmware(const ezusb_hex_record* phr, const char* szName)
{
    log(fWmFlow, "download firmware (%s)", szName);
    WM_ASSERT(phr, "phr", szSrc);
    NTSTATUS st = ezusbHoldCpu(1);
    if (!NT_SUCCESS(st))
        return st;
    wmPoint(eWmPointUsbDownload);
    for (; phr->_addr != addrEzusbEnd; ++phr) {
        // A record that would over-read its data or run past the controller's
        // memory is not sent: the download fails with the CPU held.
        if (phr->_cData > cbEzusbMaxRecord || phr->_addr + phr->_cData > 0x10000) {
            log(fWmErr, "bad firmware record 0x%x, %d", static_cast<unsigned>(phr->_addr),
                static_cast<int>(phr->_cData));
            return STATUS_DEVICE_CONFIGURATION_ERROR;
        }
        st = ezusbWriteMem(phr->_addr, phr->_data, phr->_cData, uEzusbRequestWrite);
        if (!NT_SUCCESS(st))
            return st;
    }
    return ezusbHoldCpu(0);
}

NTSTATUS CardUsb::pnpStartDevice(PDEVICE_OBJECT, PIRP)
{
    log(fWmFlow, "CardUsb::pnpStartDevice");
    // Opens and closes wait for the whole start: one in between would take
    // the pipes and the firmware the start is replacing, and its download
    // would mix with the idle one.
    OpenLock lk(&_mtxOpen);
    // The channels open now keep the pipes and the firmware of the start
    // before: they are left behind before anything is sent.
    _fStarted = 0;
    for (int i = 0; i < cPipe; ++i)
        if (_fOpen & chanBit(i))
            _mpChan[i].leaveBehind();
    // A start after a stop: the block of the earlier start goes first.
    if (_pConfigDesc) {
        ExFreePool(_pConfigDesc);
        _pConfigDesc = nullptr;
    }
    URB urb;
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), USB_DEVICE_DESCRIPTOR_TYPE, 0,
                                 0, &_devDesc, nullptr, sizeof _devDesc, nullptr);
    NTSTATUS st = sendUrb(&urb);
    if (!NT_SUCCESS(st)) {
        log(fWmErr, "Error 0x%x trying to read device descriptor", st);
        return st;
    }
    log(fWmFlow, "man=0x%x prod=0x%x sn=0x%x", static_cast<unsigned>(_devDesc.iManufacturer),
        static_cast<unsigned>(_devDesc.iProduct), static_cast<unsigned>(_devDesc.iSerialNumber));
    USB_CONFIGURATION_DESCRIPTOR cdHead = {};
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &cdHead, nullptr, sizeof cdHead, nullptr);
    st = sendUrb(&urb);
    if (!NT_SUCCESS(st)) {
        log(fWmErr, "error 0x%x trying to read configuration descriptor 1", st);
        return st;
    }
    ULONG cbTotal = cdHead.wTotalLength;
    log(fWmFlow, "configuration sizes=%d", static_cast<int>(cbTotal));
    // The device's lengths are checked before anything walks the block.
    if (urb.UrbControlDescriptorRequest.TransferBufferLength < sizeof cdHead || cbTotal < sizeof cdHead) {
        log(fWmErr, "Error 0x%X trying to read configuration descriptor 1", STATUS_DEVICE_CONFIGURATION_ERROR);
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    auto* pcd = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(ExAllocatePoolWithTag(ePoolWm, cbTotal, uTagConfig));
    if (!pcd) {
        log(fWmErr, "Unable to allocate %d bytes for configuration descriptor", static_cast<int>(cbTotal));
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, pcd, nullptr, cbTotal, nullptr);
    st = sendUrb(&urb);
    if (NT_SUCCESS(st) && (urb.UrbControlDescriptorRequest.TransferBufferLength < cbTotal ||
                           pcd->wTotalLength != cbTotal))
        st = STATUS_DEVICE_CONFIGURATION_ERROR;
    if (!NT_SUCCESS(st)) {
        log(fWmErr, "Error 0x%X trying to read configuration descriptor 1", st);
        ExFreePool(pcd);
        return st;
    }
    st = startConfigured(pcd, cbTotal);
    if (!NT_SUCCESS(st)) {
        ExFreePool(pcd);
        return st;
    }
    _pConfigDesc = pcd;
    return STATUS_SUCCESS;
}

NTSTATUS CardUsb::startConfigured(PUSB_CONFIGURATION_DESCRIPTOR pcd, ULONG cbTotal)
{
    PUSB_INTERFACE_DESCRIPTOR pid = USBD_ParseConfigurationDescriptorEx(pcd, pcd, 0, 1, -1, -1, -1);
    if (!pid) {
        log(fWmErr, "No interface for device");
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    USBD_INTERFACE_LIST_ENTRY mpile[2] = {{pid, nullptr}, {nullptr, nullptr}};
    PURB purbSel = USBD_CreateConfigurationRequestEx(pcd, mpile);
    if (!purbSel) {
        log(fWmErr, "Unable to create configuration request");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (pid->bNumEndpoints != cEndpoints) {
        log(fWmErr, "%d is the wrong number of endpoints", static_cast<int>(pid->bNumEndpoints));
        ExFreePool(purbSel);
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    PUCHAR pos = reinterpret_cast<PUCHAR>(pid);
    for (int k = 0; k < 7; ++k) {
        auto* ped = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
            USBD_ParseDescriptors(pcd, cbTotal, pos, USB_ENDPOINT_DESCRIPTOR_TYPE));
        if (!ped)
            break;
        if (k >= 2 && k <= 5)
            log(fWmFlow, "ep %d: addr=0x%x attr=0x%x size=%d", k, static_cast<unsigned>(ped->bEndpointAddress),
                static_cast<unsigned>(ped->bmAttributes), static_cast<int>(ped->wMaxPacketSize));
        pos = reinterpret_cast<PUCHAR>(ped) + sizeof(USB_ENDPOINT_DESCRIPTOR);
    }
    PUSBD_INTERFACE_INFORMATION pii = mpile[0].Interface;
    log(fWmFlow, "if=%d as=%d cl=0x%x sc=0x%x pr=0x%x np=%d", static_cast<int>(pii->InterfaceNumber),
        static_cast<int>(pii->AlternateSetting), static_cast<unsigned>(pii->Class),
        static_cast<unsigned>(pii->SubClass), static_cast<unsigned>(pii->Protocol),
        static_cast<int>(pii->NumberOfPipes));
    WM_ASSERT(pii->NumberOfPipes == pid->bNumEndpoints, "pii->NumberOfPipes == pid->bNumEndpoints", szSrc);
    wmPoint(eWmPointUsbSelectConfiguration);
    NTSTATUS st = sendUrb(purbSel);
    if (!NT_SUCCESS(st)) {
        log(fWmErr, "Error 0x%X trying to select configuration", st);
        ExFreePool(purbSel);
        return st;
    }
    for (ULONG i = 0; i < pii->NumberOfPipes; ++i) {
        const USBD_PIPE_INFORMATION& pi = pii->Pipes[i];
        log(fWmFlow, "pi=%d ad=0x%x iv=%d mps=%d, mts=%d", static_cast<int>(i),
            static_cast<unsigned>(pi.EndpointAddress), static_cast<int>(pi.Interval),
            static_cast<int>(pi.MaximumPacketSize), static_cast<int>(pi.MaximumTransferSize));
    }
    wmPoint(eWmPointUsbIdleDownload);
    downloadFirmware(static_cast<const ezusb_hex_record*>(padUsb()->_pfwIdle), "idle");
    for (int i = 0; i < cPipe; ++i) {
        _mpPipeDown[i] = pii->Pipes[iPipeFirstDown + i].PipeHandle;
        _mpPipeUp[i] = pii->Pipes[iPipeFirstUp + i].PipeHandle;
    }
    _fStarted = 1;
    ExFreePool(purbSel);
    return STATUS_SUCCESS;
}

NTSTATUS CardUsb::pnpStopDevice(PDEVICE_OBJECT, PIRP)
{
    URB urb;
    UsbBuildSelectConfigurationRequest(&urb, sizeof(struct _URB_SELECT_CONFIGURATION), nullptr);
    NTSTATUS st = sendUrb(&urb);
    if (!NT_SUCCESS(st))
        log(fWmErr, "Error 0x%x trying to deconfigure device", st);
    if (_pConfigDesc) {
        ExFreePool(_pConfigDesc);
        _pConfigDesc = nullptr;
    }
    return STATUS_SUCCESS;
}

Chan* CardUsb::open(ChanIter* pit)
{
    OpenLock lk(&_mtxOpen);
    return openLocked(pit);
}

Chan* CardUsb::openLocked(ChanIter* pit)
{
    ULONG iDriver = pit->iDriver();
    ULONG iChan = pit->iChanOfDriver();
    log(fWmFlow, "open chan %d %d", static_cast<int>(iDriver), static_cast<int>(iChan));
    // The module's counts, and the board's own tables: two pipes a
    // direction, four channel objects, four firmware entries.
    if (!valid(*pit) || iChan >= static_cast<ULONG>(cPipe) || iDriver >= 4 || (_fOpen & pit->bit()))
        return nullptr;
    if (isRemoved())
        return nullptr;
    if (_fOpen != 0 && static_cast<LONG>(iDriver) != _iDriver) {
        log(fWmErr, "Attempt to open different driver %d while open &d", static_cast<int>(iDriver));
        return nullptr;
    }
    // The first open since the board's start, channels left behind aside,
    // downloads the operating firmware. Without a start in force (none yet,
    // or the last one failed) there are no pipes to give: the channel is
    // left behind at once.
    if (_fStarted && !hasLiveChannel()) {
        const void* pfw = padUsb()->_mppfw[iDriver];
        if (!pfw) {
            log(fWmErr, "Unable to find firmware for driver %d", static_cast<int>(iDriver));
            return nullptr;
        }
        if (!NT_SUCCESS(downloadFirmware(static_cast<const ezusb_hex_record*>(pfw), "operation")))
            return nullptr;
        log(fWmFlow, "usb download done");
        LARGE_INTEGER li;
        li.QuadPart = -10;
        KeDelayExecutionThread(KernelMode, FALSE, &li);
    }
    // Requests of the channels open read it: set by the first open only (a
    // later one is of the same driver).
    if (_fOpen == 0)
        _iDriver = static_cast<LONG>(iDriver);
    _fOpen |= pit->bit();
    ChanUsb* pcn = &_mpChan[iChan];
    pcn->~ChanUsb();
    new (pcn) ChanUsb(_mpPipeDown[iChan], _mpPipeUp[iChan], this, iDriver, iChan);
    if (!_fStarted)
        pcn->leaveBehind();
    pcn->open();
    return pcn;
}

void CardUsb::close(Chan* pcn)
{
    OpenLock lk(&_mtxOpen);
    // A channel left behind leaves the firmware to the channels opened since.
    bool fLive = !static_cast<ChanUsb*>(pcn)->isLeftBehind();
    pcn->close();
    _fOpen &= ~ChanIter(pcn->iDriver(), pcn->iChan()).bit();
    if (_fOpen == 0)
        _iDriver = -1;
    if (fLive && !hasLiveChannel() && !isRemoved())
        downloadFirmware(static_cast<const ezusb_hex_record*>(padUsb()->_pfwIdle), "idle");
    log(fWmFlow, "close chan %d %d f=0x%x", static_cast<int>(pcn->iDriver()), static_cast<int>(pcn->iChan()),
        _fOpen);
}

bool CardUsb::hasLiveChannel() const
{
    for (int i = 0; i < cPipe; ++i)
        if ((_fOpen & chanBit(i)) && !_mpChan[i].isLeftBehind())
            return true;
    return false;
}

int CardUsb::print(char* pch, long cch)
{
    if (cch <= 0)
        return 0;
    const YekAdapt* pad = this->pad();
    RtlStringCbPrintfA(pch, static_cast<size_t>(cch), szYekReadUsbFmt, slot()->_wszKey, pad->_szAdaptName,
                       pad->_szOrg, pad->_szArch);
    return static_cast<int>(strnlen(pch, static_cast<size_t>(cch)));
}
