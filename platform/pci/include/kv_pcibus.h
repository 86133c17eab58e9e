// The PCI bus stand-in: one physical device object per plugged board model
// (platform/pci/pci_device_model.h), started with the resources a PCI bus
// gives such a board: one I/O port range per region of the model, an
// interrupt, and whatever further resources a test adds. The port ranges are
// mapped into the kernel's port space, so the driver's port accesses reach the
// model; the model's interrupt line is delivered when a test asks for it.
//
//   auto board = ...;                          // a pcisim::PciDeviceModel
//   pcistub::PciDevice& dev = world.pci().plug(*board);
//   ... the driver starts it; the board asserts its line ...
//   dev.interrupt();                           // the kernel calls the connected routines
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kv_kernel.h"
#include "platform/pci/pci_device_model.h"

namespace pcistub {

// What a test gives a plugged board.
struct PciProps {
    std::u16string driverKey;  // empty: one is made up (unique per bus)
    std::optional<uint32_t> cardType = 0u;  // "CardType" of its hardware key; none: no value
    std::vector<kstub::RegValue> deviceValues;
    std::string service;  // its function driver; empty: the driver loaded

    // The interrupt resource: vector 0 lets the bus choose one.
    bool fInterrupt = true;
    uint32_t uVector = 0;
    uint32_t uLevel = 9;
    uint64_t uAffinity = 1;
    bool fLatched = false;
    bool fShared = true;

    // Regions (BAR indexes) whose port range is not handed to the driver.
    std::vector<int> omitBars;
    // Further resources, after the ports and the interrupt.
    std::vector<kstub::Resource> extra;
    // No resource list at all with the start request.
    bool fNoResources = false;
};

class PciDevice {
public:
    PDEVICE_OBJECT pdo() const { return _pdo; }
    pcisim::PciDeviceModel& model() const { return *_pmodel; }

    // The port base the bus gave a region, and the board's interrupt vector.
    uint16_t ioBase(int iBar) const;
    uint32_t vector() const { return _uVector; }
    // The resources handed with the start request.
    const std::vector<kstub::Resource>& resources() const { return _mpres; }

    // The board's interrupt line as the model last set it.
    bool isAsserted() const { return _fLine.load(); }
    // While the line is asserted: raises the vector once (the kernel calls
    // the connected routines, then the deferred calls they queued) and
    // returns whether a routine claimed it. False, and nothing raised, when
    // the line is not asserted or the board is gone.
    bool interrupt();

    // The port accesses of the board's ranges that the kernel's port log keeps, in order.
    std::vector<kstub::PortAccess> accesses() const;

    // The board went away: its ports read as all ones and take no writes,
    // its line is not delivered, and the plug-and-play manager is told.
    void surpriseRemove();
    bool isGone() const;

    PciDevice(kstub::Kernel& k, pcisim::PciDeviceModel& model);
    ~PciDevice();
    PciDevice(const PciDevice&) = delete;
    PciDevice& operator=(const PciDevice&) = delete;

    struct Impl;

private:
    friend class PciBus;
    kstub::Kernel& _k;
    pcisim::PciDeviceModel* _pmodel;
    PDEVICE_OBJECT _pdo = nullptr;
    uint32_t _uVector = 0;
    std::vector<uint16_t> _mpuBase;
    std::vector<uint32_t> _mpcb;  // region lengths
    std::vector<kstub::Resource> _mpres;
    std::atomic<bool> _fLine{false};
    std::shared_ptr<Impl> _pi;
};

class PciBus {
public:
    explicit PciBus(kstub::Kernel& k);
    ~PciBus();  // unplugs what is still plugged
    PciBus(const PciBus&) = delete;
    PciBus& operator=(const PciBus&) = delete;

    // Plugs the board in: its ports are mapped, its physical device object
    // appears, and with a function driver loaded (and automatic enumeration
    // on) AddDevice and start follow at once. The model must outlive its
    // device's removal.
    PciDevice& plug(pcisim::PciDeviceModel& model, const PciProps& props = PciProps{});
    // Pulls the board out: surprise removal, then the physical device object
    // goes (after the last handle on it is closed).
    void unplug(PciDevice& dev);
    std::vector<PciDevice*> devices() const;  // plugged and not yet unplugged

private:
    kstub::Kernel& _k;
    mutable std::mutex _mtx;
    std::vector<std::unique_ptr<PciDevice>> _devices;
    unsigned _cPlugged = 0;
    uint32_t _uPortNext = 0xC000;
};

}  // namespace pcistub
