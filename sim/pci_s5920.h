// A PCI board behind an S5920 bridge, as the PCI bus stand-in sees it: the
// bridge's operation registers (BAR 0) and the add-on board's registers
// (BAR 1), nothing but the port accesses that cross the bus, and the board's
// interrupt line.
//
// The bridge: a byte file of operation registers that keeps what is written.
// Bit 7 of byte 0x60 opens the add-on bus (until then the add-on registers
// read as all ones and take no writes); bit 5 of byte 0x39 lets the add-on's
// interrupt reach the PCI line. The driver's set-up (0x87 to 0x60, then 0x2C
// to 0x39) does both.
//
// The add-on board (16 bytes):
//   0x00-0x07  identity: 'K' 'V' 0x20 0x59, serial (little-endian), revision, 0
//   0x08       index of a board register (0 to 63)
//   0x09       command (write): 1 stores the data register into the indexed
//              register; 2 loads the indexed register into the data register
//              and reports "read done"
//   0x0A       status: bit 0 read done, bit 1 event; writing 1 bits clears them
//   0x0B       event code of the last event
//   0x0C-0x0F  data register (little-endian)
// The interrupt line is asserted while a status bit is set and the bridge
// lets the add-on interrupt through.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/common/include/kv_ring.h"
#include "platform/pci/pci_device_model.h"

namespace KVdepSim100 {

class S5920Board : public pcisim::PciDeviceModel {
public:
    static constexpr int iBarOperation = 0;
    static constexpr int iBarAddOn = 1;
    static constexpr uint32_t cbOperation = 128;
    static constexpr uint32_t cbAddOn = 16;
    static constexpr int cRegs = 64;

    // Operation registers the model gives a meaning.
    static constexpr uint32_t offBusConfig = 0x60;
    static constexpr uint8_t fBusOpen = 0x80;
    static constexpr uint32_t offIntControl = 0x39;
    static constexpr uint8_t fAddOnIntEnable = 0x20;

    // Add-on registers.
    static constexpr uint32_t offIdentity = 0x00;
    static constexpr uint32_t offIndex = 0x08;
    static constexpr uint32_t offCommand = 0x09;
    static constexpr uint32_t offStatus = 0x0A;
    static constexpr uint32_t offEvent = 0x0B;
    static constexpr uint32_t offData = 0x0C;
    static constexpr uint8_t cmdStore = 1;
    static constexpr uint8_t cmdLoad = 2;
    static constexpr uint8_t fStatReadDone = 0x01;
    static constexpr uint8_t fStatEvent = 0x02;

    explicit S5920Board(uint16_t uSerial = 1);

    void attach(std::function<void(bool)> line) override;
    uint16_t vendorId() const override { return 0x10E8; }
    uint16_t deviceId() const override { return 0x5920; }
    std::vector<uint32_t> ioRegions() const override { return {cbOperation, cbAddOn}; }
    uint32_t ioRead(int iBar, uint32_t uOffset, uint8_t cbSize) override;
    void ioWrite(int iBar, uint32_t uOffset, uint8_t cbSize, uint32_t uValue) override;

    // The board reports an event: status bit 1 and the code.
    void raiseEvent(uint8_t uCode);

    // Inspection.
    std::array<uint8_t, 8> identity() const;
    uint32_t reg(int i) const;
    void setReg(int i, uint32_t u);
    uint8_t status() const;
    bool isBusOpen() const;
    bool isInterruptEnabled() const;
    bool isLineAsserted() const;
    // The last bytes written to the operation registers: offset and value, in order.
    std::vector<std::pair<uint32_t, uint8_t>> operationWrites() const;
    void setLogCapacity(std::size_t n);  // default kvring::kDefaultCapacity
    unsigned cStores() const;
    unsigned cLoads() const;

private:
    uint8_t readByte(int iBar, uint32_t uOffset) const;
    void writeByte(int iBar, uint32_t uOffset, uint8_t b);
    void updateLine();

    mutable std::mutex _mtx;
    std::function<void(bool)> _line;
    bool _fLine = false;
    std::array<uint8_t, cbOperation> _mpbOp{};
    kvring::Ring<std::pair<uint32_t, uint8_t>> _mpOpWrites{kvring::kDefaultCapacity};
    std::array<uint8_t, 8> _mpbId{};
    std::array<uint32_t, cRegs> _mpuReg{};
    uint8_t _uIndex = 0;
    uint8_t _uStatus = 0;
    uint8_t _uEvent = 0;
    uint32_t _uData = 0;
    unsigned _cStores = 0;
    unsigned _cLoads = 0;
};

}  // namespace KVdepSim100
