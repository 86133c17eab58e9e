// A world for tests and programs: a fresh stand-in kernel with its USB bus,
// the driver's registry values, plugged device models, the driver loaded
// from its module (or linked in and given by its entry), the devices started,
// and the teardown in order with a report of what was left allocated.
//
//   kvworld::World w;                       // service "kavorqir"
//   w.setDebug(0x303);                      // optional: the service value "Debug"
//   auto board = KVdepSim100::makeHix5316();
//   w.plug(*board);                         // "CardType" 0 in its hardware key
//   ASSERT_EQ(w.loadDriver(pathOfKavorqir), STATUS_SUCCESS);  // AddDevice and start follow
//   ... CreateFileA("\\\\.\\ZEDOZ_EVU_0\\qir\\0", ...) ...
//   auto report = w.teardown();             // close handles first
//   EXPECT_TRUE(report.clean()) << report.text();
//
// The device models must outlive the world's teardown: declare them before
// the World (or call teardown() before they go).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kv_kernel.h"
#include "kv_pcibus.h"
#include "kv_usbbus.h"

namespace kvworld {

struct Report {
    std::size_t poolOutstanding = 0;
    std::size_t poolBytes = 0;
    std::string poolBlocks;  // tag and size of each block left
    std::size_t irps = 0, mdls = 0;
    std::size_t devices = 0;  // device objects left (physical ones included)
    std::size_t handles = 0;  // handles still open
    std::vector<std::string> problems;
    bool clean() const;
    std::string text() const;
};

class World {
public:
    explicit World(const std::string& service = "kavorqir");
    ~World();  // tears down when that was not done
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    kstub::Kernel& kernel() { return *_pk; }
    usbstub::UsbBus& usb() { return *_pbus; }
    pcistub::PciBus& pci() { return *_ppci; }
    const std::string& service() const { return _service; }
    std::string servicePath() const { return kstub::servicePath(_service); }

    // Service key values, read by the driver's entry.
    void setDebug(uint32_t mask);
    void setServiceValue(const kstub::RegValue& v);

    // Plugs a device model into the bus. cardType (none: no value) goes into
    // its hardware key as "CardType"; an empty driver key makes one up. With
    // the driver loaded the device is added and started at once.
    usbstub::UsbDevice& plug(usbsim::UsbDeviceModel& model, std::optional<uint32_t> cardType = 0u,
                             const std::u16string& driverKey = u"");
    // Plugs a PCI board model into the PCI bus, for the world's driver.
    pcistub::PciDevice& plugPci(pcisim::PciDeviceModel& model, pcistub::PciProps props = pcistub::PciProps{});

    // Loads the driver: its entry runs, then the devices present are added
    // and started. The module is a shared object (entry FxDriverEntry or
    // DriverEntry); a linked driver is given by its entry function.
    NTSTATUS loadDriver(const std::string& modulePath);
    NTSTATUS loadDriver(PDRIVER_INITIALIZE entry);

    // Adds and starts every plugged device (USB and PCI) that is not started; the first
    // failure is returned.
    NTSTATUS startDevices();

    std::vector<usbstub::UsbDevice*> devices() { return _pbus->devices(); }

    // Every log of the kernel and the USB bus keeps its last n entries
    // (default kstub::kDefaultLogCapacity; 0 keeps none, counts go on).
    void setLogCapacity(std::size_t n);

    // Removes every device (a removal refused because handles are open
    // becomes a surprise removal, and is reported), unplugs them, unloads the
    // driver and reports what is left. Close your handles before.
    Report teardown();

private:
    std::string _service;
    std::unique_ptr<kstub::Kernel> _pk;
    std::unique_ptr<usbstub::UsbBus> _pbus;
    std::unique_ptr<pcistub::PciBus> _ppci;
    bool _fTornDown = false;
};

}  // namespace kvworld
