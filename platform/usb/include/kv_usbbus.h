// The USB bus stand-in: the bus driver under a function driver, with one
// physical device object per plugged device model (platform/usb/
// usb_device_model.h). It serves IOCTL_INTERNAL_USB_SUBMIT_URB: descriptor
// reads, select configuration (and deconfigure), vendor requests to the
// device, bulk transfers both ways, and the abort of a pipe. A bulk IN the
// model cannot answer yet waits (the request pends) until the model has
// something: the bus asks again after every later call into the model and
// whenever the model calls the notify function it was given; an abort of its
// pipe ends it (STATUS_CANCELLED), also after the device went away. The last
// request blocks are logged; any kind can be made to fail; a device can be
// surprise-removed.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kv_kernel.h"
#include "kv_ring.h"
#include "platform/usb/usb_device_model.h"
#include "usb.h"

#ifdef USBD_EXPORTS
#define USBSTUB_API __attribute__((visibility("default")))
#else
#define USBSTUB_API
#endif

namespace usbstub {

enum class UrbKind {
    GetDescriptor,        // GET_DESCRIPTOR_FROM_DEVICE
    SelectConfiguration,  // SELECT_CONFIGURATION with a descriptor
    Deconfigure,          // SELECT_CONFIGURATION without one
    VendorOut,            // VENDOR_DEVICE, host to device
    BulkOut,
    BulkIn,
    AbortPipe,            // ABORT_PIPE: the pipe's waiting transfers end
    Other,                // any other function (refused as not supported)
};
constexpr int kUrbKindCount = int(UrbKind::Other) + 1;

// One request block as the bus saw it, in submission order. A bulk IN that
// waited is completed in place (fPended stays true).
struct UrbRecord {
    UrbKind kind;
    USHORT function;
    USHORT length;           // the header's Length
    uint8_t endpoint = 0;    // bulk, abort: the pipe's endpoint address
    int pipeIndex = -1;      // bulk, abort: the pipe's index in the interface
    ULONG flags = 0;         // TransferFlags
    ULONG cbRequested = 0;   // TransferBufferLength given
    ULONG cbDone = 0;        // TransferBufferLength returned
    bool fMdl = false;       // the data went through an MDL
    uint8_t descriptorType = 0, descriptorIndex = 0;
    uint8_t request = 0;     // vendor
    uint16_t value = 0, index = 0;
    uint8_t configurationValue = 0;  // select
    bool fPended = false;
    bool fDone = false;
    NTSTATUS status = STATUS_PENDING;
    USBD_STATUS usbdStatus = USBD_STATUS_PENDING;
    std::vector<uint8_t> data;  // bytes sent (OUT, vendor) or received (IN, descriptors)
};

// What a test gives a plugged device. cardType goes into the device's
// hardware key as the DWORD value "CardType".
struct DeviceProps {
    std::u16string driverKey;  // empty: one is made up ("{...}\NNNN", unique per bus)
    std::optional<uint32_t> cardType;
    std::vector<kstub::RegValue> deviceValues;
    std::string service;  // its function driver; empty: the driver loaded
};

class USBSTUB_API UsbDevice {
public:
    PDEVICE_OBJECT pdo() const { return _pdo; }
    usbsim::UsbDeviceModel& model() const { return *_pmodel; }

    // The nth request block of the kind from now (1 = the next) fails with
    // the statuses, count times (0: every one from then on). It does not
    // reach the model.
    void failUrb(UrbKind kind, unsigned nth = 1, NTSTATUS st = STATUS_UNSUCCESSFUL,
                 USBD_STATUS usbd = USBD_STATUS_REQUEST_FAILED, unsigned count = 1);
    void clearFaults();

    std::vector<UrbRecord> urbLog() const;  // the last request blocks, oldest first
    void clearUrbLog();
    // The log keeps the last n request blocks (default kstub::kDefaultLogCapacity, 0: none).
    void setUrbLogCapacity(std::size_t n);
    uint64_t urbCount() const;  // request blocks since the device was plugged, logged or not
    std::size_t pendingIn() const;  // bulk INs waiting for the model
    bool isGone() const;

    // The device went away: waiting and later request blocks fail with
    // STATUS_DEVICE_NOT_CONNECTED, and the plug-and-play manager is told
    // (surprise removal; removal once the last handle on it is closed).
    void surpriseRemove();

    // Asks the model again for waiting bulk INs (what its notify does).
    void poll();

    UsbDevice(kstub::Kernel& k, usbsim::UsbDeviceModel& model);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    struct Impl;
    Impl& impl() { return *_pi; }

private:
    friend class UsbBus;
    kstub::Kernel& _k;
    usbsim::UsbDeviceModel* _pmodel;
    PDEVICE_OBJECT _pdo = nullptr;
    std::unique_ptr<Impl> _pi;
};

class USBSTUB_API UsbBus {
public:
    explicit UsbBus(kstub::Kernel& k);
    ~UsbBus();  // unplugs what is still plugged
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // Plugs the model in: its physical device object appears, and with a
    // function driver loaded (and automatic enumeration on) AddDevice and
    // start follow at once. The model must outlive its device's removal.
    UsbDevice& plug(usbsim::UsbDeviceModel& model, const DeviceProps& props = DeviceProps{});
    // Pulls the device out: surprise removal, then the physical device object
    // goes (after the last handle on it is closed).
    void unplug(UsbDevice& dev);
    std::vector<UsbDevice*> devices() const;  // plugged and not yet unplugged
    UsbDevice* find(PDEVICE_OBJECT pdo) const;
    // The URB log capacity of every device plugged and to be plugged.
    void setUrbLogCapacity(std::size_t n);

private:
    kstub::Kernel& _k;
    mutable std::mutex _mtx;
    std::vector<std::unique_ptr<UsbDevice>> _devices;
    unsigned _cPlugged = 0;
    std::size_t _cUrbLog = kstub::kDefaultLogCapacity;
};

}  // namespace usbstub
