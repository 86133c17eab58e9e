// What the PCI bus stand-in sees of a board plugged into it: its I/O regions
// (one per base address register, in BAR order), the port accesses that reach
// them, and its interrupt line. A simulated board implements this interface
// and sees nothing else of the system.
//
// The bus calls a model from one thread at a time (it holds the device's lock
// around every call). The model reports its interrupt line through the
// function the bus installed with attach(); the bus never calls the kernel's
// interrupt routines from inside an access, it delivers the interrupt when a
// test asks it to (PciDevice::interrupt, kv_pcibus.h), as long as the line is
// asserted.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace pcisim {

class PciDeviceModel {
public:
    virtual ~PciDeviceModel() = default;

    // The bus installs this when the board is plugged in and clears it (an
    // empty function) when the board goes. The model calls it with the new
    // level of its interrupt line whenever that changes.
    virtual void attach(std::function<void(bool fAsserted)> line) = 0;

    // Vendor and device identifier of the board's configuration space.
    virtual uint16_t vendorId() const = 0;
    virtual uint16_t deviceId() const = 0;

    // The lengths in bytes of its I/O regions, in BAR order.
    virtual std::vector<uint32_t> ioRegions() const = 0;

    // An access of 1, 2 or 4 bytes at an offset of a region.
    virtual uint32_t ioRead(int iBar, uint32_t uOffset, uint8_t cbSize) = 0;
    virtual void ioWrite(int iBar, uint32_t uOffset, uint8_t cbSize, uint32_t uValue) = 0;
};

}  // namespace pcisim
