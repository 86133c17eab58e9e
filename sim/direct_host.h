// A minimal host that drives a simulated board straight through the USB device
// interface, without bus or driver: configure it, download an image the way
// the driver does (hold, one vendor write a record, release) and exchange one
// request (control and data down, data and control up). For tests of the
// boards themselves and for measuring the boards' own cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fwgen.h"
#include "platform/usb/usb_device_model.h"

namespace KVdepSim100 {

class DirectHost {
public:
    explicit DirectHost(usbsim::UsbDeviceModel& dev) : _dev(dev) {}

    // Configuration 1, interface 0 in alternate setting 1.
    usbsim::UsbXfer configure();
    // Writes each data record before the end record; the first failure stops
    // the download with the CPU still held.
    usbsim::UsbXfer download(const std::vector<KVdepFw100::FwRecord>& mprec);
    usbsim::UsbXfer download(const std::string& sgImage) { return download(KVdepFw100::fwImage(sgImage)); }
    usbsim::UsbXfer holdCpu(bool fHold);

    // The two OUT transfers of one request.
    usbsim::UsbXfer put(int iChan, const std::vector<uint8_t>& mpbCtrl, const std::vector<uint8_t>& mpbData = {});
    // The two IN transfers of one answer (512 and 128 bytes at most, as the driver reads).
    usbsim::UsbXfer get(int iChan, std::vector<uint8_t>* pmpbData, std::vector<uint8_t>* pmpbCtrl);
    // put then get; the answer's control, empty when anything failed.
    std::vector<uint8_t> exchange(int iChan, const std::vector<uint8_t>& mpbCtrl,
                                  const std::vector<uint8_t>& mpbData = {}, std::vector<uint8_t>* pmpbDataUp = nullptr);

    // One bulk IN of at most cbMax bytes.
    usbsim::UsbXfer in(uint8_t bEndpoint, std::vector<uint8_t>* pmpb, size_t cbMax);

private:
    usbsim::UsbDeviceModel& _dev;
};

}  // namespace KVdepSim100
