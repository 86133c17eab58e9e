// What the PCI board tests share: a world with the driver linked in and the
// pio card module, a simulated S5920 board on the PCI bus, handles closed at
// the end, requests that wait on a thread of their own, and the check that
// nothing stays allocated.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

#include "drv_support.h"
#include "kv_clock.h"
#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_world.h"
#include "pio_module.h"
#include "sim/pci_s5920.h"
#include "wmbus.h"

namespace drvtest {

// A device control request on a thread of its own, for requests that wait.
// One still waiting when the scope is left (a test that failed and returned)
// is cancelled until it comes back, so that the thread ends, or ended by
// release when one is given (a USB board's request, which no cancel ends).
class AsyncIoctl {
public:
    AsyncIoctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb = cbYekIoc, std::function<void()> release = {});
    AsyncIoctl(const AsyncIoctl&) = delete;
    AsyncIoctl& operator=(const AsyncIoctl&) = delete;

    bool isDone() const { return _fDone.load(); }
    // Waits (bounded) for the request to come back; STATUS_PENDING when it
    // did not.
    NTSTATUS result();

private:
    void cancelUntilDone();

    HANDLE _h;
    std::atomic<bool> _fDone{false};
    std::atomic<NTSTATUS> _st{STATUS_PENDING};
    kvtest::JoiningThread _t;
};

class PciTest : public ::testing::Test {
protected:
    PciTest();
    ~PciTest() override;
    void TearDown() override;

    // The card module the driver is given.
    virtual const YekMod* cardModule() const { return &ykPio; }

    kstub::Kernel& k() { return world.kernel(); }
    kstub::Log& log() { return k().log(); }
    bool logHas(const std::string& s) { return log().contains(s); }
    // The board's log line: "kqir0: " and the text.
    bool boardLogs(const std::string& s) { return logHas("kqir0: " + s); }

    NTSTATUS loadDriver();
    // The board plugged and the driver loaded: added and started.
    pcistub::PciDevice& plugAndLoad(pcistub::PciProps props = pcistub::PciProps{});
    // The board plugged, the driver loaded and the device added, not started.
    pcistub::PciDevice& plugAndAdd(pcistub::PciProps props = pcistub::PciProps{});
    NTSTATUS start() { return k().pnp().start(pdev->pdo()); }

    PDEVICE_OBJECT fdo();
    CardBus* card();

    NTSTATUS open(HANDLE* ph, const std::string& sgRest = "\\pio\\0");
    HANDLE openOk(const std::string& sgRest = "\\pio\\0");
    NTSTATUS close(HANDLE h);
    NTSTATUS ioctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb = cbYekIoc);
    NTSTATUS ioctl(HANDLE h, ULONG uCode, YekIoc& ioc) { return ioctl(h, uCode, &ioc, cbYekIoc); }
    // The read text of a channel (a read of 1024 bytes).
    std::string readText(HANDLE h);
    // Waits until the driver has left n requests pending.
    bool waitPended(size_t n) { return kvtest::eventually([&] { return log().count("pend (") >= n; }); }

    // The answer in a block's control-up buffer.
    const PioResp& resp(const Bufs& b) const { return *reinterpret_cast<const PioResp*>(b.ctrlUp); }

    // Closes the handles, tears the world down and checks that nothing is left.
    void finish();

    kvclock::ManualClock clock{1000};
    KVdepSim100::S5920Board board;
    kvworld::World world;
    pcistub::PciDevice* pdev = nullptr;

private:
    OpenHandles _handles;
    bool _fFinished = false;
};

}  // namespace drvtest
