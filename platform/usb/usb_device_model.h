// What the USB bus stand-in sees of a device plugged into it. A simulated
// board implements this interface and sees nothing but what crosses the bus:
// standard descriptors, the selected configuration, vendor control requests and
// bulk transfers on its endpoints.
//
// The bus calls a model from one thread at a time (it holds the device's lock
// around every call). A bulk IN for which the model has nothing yet answers
// UsbXfer::Pending; the bus keeps the transfer waiting and asks again after any
// later call into the model and whenever the model (or a test acting on it)
// calls the notify function the bus installed with attach().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace usbsim {

enum class UsbXfer {
    Ok,         // done; for IN transfers *pcb holds the byte count
    Pending,    // bulk IN only: nothing to send yet, ask again later
    Stall,      // the endpoint or the control request stalled
    NoResponse, // the device did not answer (as when it went away)
    Babble,     // bulk IN only: the device had more bytes than the transfer's length
};

class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;

    // The bus installs this when the device is plugged in and clears it (an
    // empty function) when the device is removed. A model calls it when it has
    // something new for a waiting bulk IN outside of a bus call.
    virtual void attach(std::function<void()> notify) = 0;

    // Standard descriptors as their bytes on the bus: the 18-byte device
    // descriptor, and the whole configuration descriptor of index iConfig
    // (configuration, interface and endpoint descriptors, wTotalLength long).
    virtual std::vector<uint8_t> deviceDescriptor() = 0;
    virtual std::vector<uint8_t> configurationDescriptor(uint8_t iConfig) = 0;

    // SET_CONFIGURATION with bConfigurationValue (0 deconfigures), then
    // SET_INTERFACE with the interface and alternate setting the host chose.
    virtual UsbXfer setConfiguration(uint8_t bConfigurationValue) = 0;
    virtual UsbXfer setInterface(uint8_t bInterface, uint8_t bAlternate) = 0;

    // A vendor control request to the device, host to device (bmRequestType
    // 0x40), with its data stage.
    virtual UsbXfer vendorOut(uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                              const uint8_t* pData, std::size_t cb) = 0;

    // A bulk OUT transfer on the endpoint with address bEndpoint (0x01..0x0F);
    // cb may be 0 (a zero-length packet).
    virtual UsbXfer bulkOut(uint8_t bEndpoint, const uint8_t* pData, std::size_t cb) = 0;

    // A bulk IN transfer on the endpoint with address bEndpoint (0x81..0x8F)
    // of at most cbMax bytes. A device sends one transfer's worth at a time: a
    // shorter transfer (a short packet, possibly of 0 bytes) ends it.
    virtual UsbXfer bulkIn(uint8_t bEndpoint, uint8_t* pBuf, std::size_t cbMax, std::size_t* pcb) = 0;
};

}  // namespace usbsim
