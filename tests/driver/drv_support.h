// What the driver tests share: a world with the driver linked in (entered
// through the framework stub, with the card module a test chooses), a
// simulated board, handles that are closed at the end, control blocks over
// caller buffers, and the check that nothing stays allocated.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kv_kernel.h"
#include "kv_kmdf_stub.h"
#include "kv_world.h"
#include "sim/sim_boards.h"
#include "wm.h"
#include "yek_devif.h"

namespace drvtest {

// A record over a buffer: cbBuf bytes of room, cbData bytes of data.
YekMemStruct record(void* pv, size_t cbBuf, size_t cbData);

// The caller side of one control request: the buffers and the block.
struct Bufs {
    alignas(8) char ctrlDown[136] = {};
    char dataDown[1024] = {};
    alignas(8) char ctrlUp[128] = {};
    char dataUp[512] = {};
    char sig[2100] = {};
    YekIoc ioc = {};

    // The control's own bytes down, cbData bytes of dataDown after it.
    YekIoc& put(const void* pvCtrl, size_t cbCtrl, size_t cbData = 0);
    YekIoc& get();
    YekIoc& xch(const void* pvCtrl, size_t cbCtrl, size_t cbData = 0);
    // The signature with its zero (or cb bytes of sig) as data down.
    YekIoc& prochk(const std::string& sgSig);
    YekIoc& prochkBytes(size_t cb);

    size_t cbDataUp() const { return static_cast<size_t>(ioc._du._pchLimDat - ioc._du._pchBase); }
    size_t cbCtrlUp() const { return static_cast<size_t>(ioc._cu._pchLimDat - ioc._cu._pchBase); }
};

// The bytes of a qir register write and read controls (built with the
// protocol classes; the board reads them with its own tables).
std::vector<char> qirWrite(unsigned uPort, unsigned uVal);
std::vector<char> qirRead(unsigned uPort);

// The handles a test opened on the driver's devices: close() forgets one,
// closeAll() closes those still open.
class OpenHandles {
public:
    NTSTATUS open(const std::string& sgPath, HANDLE* ph);
    NTSTATUS close(HANDLE h);
    void closeAll();

private:
    std::vector<HANDLE> _mph;
};

// A device control request with the block as its input and its output.
NTSTATUS ioctlInOut(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb);

// Holds the first thread that passes a named point of the driver (after
// cPass passes let through) until the test releases it (or the bounded wait
// ends); later ones pass. One hold at a time; it sets the driver's hook
// while it lives.
class PointHold {
public:
    explicit PointHold(WmPoint ePoint, int cPass = 0);
    // Releases, removes the hook and waits (bounded) until no thread is in it.
    ~PointHold();
    PointHold(const PointHold&) = delete;
    PointHold& operator=(const PointHold&) = delete;

    // Waits (bounded) until a thread is held; whether one is.
    bool waitHeld() const;
    void release() { _fRelease = true; }

private:
    static void atPoint(WmPoint ePoint);

    const WmPoint _ePoint;
    std::atomic<int> _cPass;
    std::atomic<bool> _fArmed{true};
    std::atomic<bool> _fHeld{false};
    std::atomic<bool> _fRelease{false};
};

// Runs held on a thread of its own until it is held at the point, then
// beside on another; once beside has returned or waits on the mutex (a
// board's open/close lock), releases the hold and joins both. Whether beside
// waited on the mutex.
bool besideHeld(kstub::Kernel& k, WmPoint ePoint, const KMUTEX* pmtx, std::function<void()> held,
                std::function<void()> beside);

// Tears the world down and checks that nothing is left: no problem in the
// report and no pool block.
void expectCleanTeardown(kvworld::World& world);

class DriverTest : public ::testing::Test {
protected:
    DriverTest();
    ~DriverTest() override;
    void TearDown() override;

    // The card module the driver is given (null: the one it carries).
    virtual const YekMod* cardModule() const { return nullptr; }

    kstub::Kernel& k() { return world.kernel(); }
    kstub::Log& log() { return k().log(); }
    bool logHas(const std::string& s) { return log().contains(s); }

    // The driver linked into the test, entered through the framework stub.
    NTSTATUS loadDriver();
    // A HIX-5316 (or the given board) plugged with "CardType" 0, and the driver.
    usbstub::UsbDevice& plugAndLoad(KVdepSim100::EzUsbBoard* pboard = nullptr);

    // The board plugged, the driver loaded and the device added but not
    // started (automatic enumeration off), for tests that set faults first.
    usbstub::UsbDevice& plugAndAdd(std::optional<uint32_t> cardType = 0u,
                                   const std::u16string& driverKey = u"");
    NTSTATUS start() { return k().pnp().start(pdev->pdo()); }
    // The bulk transfers and vendor writes the bus saw.
    std::vector<usbstub::UrbRecord> urbs(usbstub::UrbKind kind) const;
    std::vector<usbstub::UrbRecord> bulk() const;
    // The board's device object and the board object in its extension.
    PDEVICE_OBJECT fdo(int iSlot = 0);

    NTSTATUS open(HANDLE* ph, const std::string& sgRest = "\\qir\\0", int iSlot = 0);
    HANDLE openOk(const std::string& sgRest = "\\qir\\0", int iSlot = 0);
    NTSTATUS close(HANDLE h);
    NTSTATUS ioctl(HANDLE h, ULONG uCode, void* pvBlock, ULONG cb = cbYekIoc);
    NTSTATUS ioctl(HANDLE h, ULONG uCode, YekIoc& ioc) { return ioctl(h, uCode, &ioc, cbYekIoc); }

    // Removes the devices, unloads the driver and checks that nothing is left.
    void finish();

    std::unique_ptr<KVdepSim100::EzUsbBoard> board;
    kvworld::World world;
    usbstub::UsbDevice* pdev = nullptr;

private:
    OpenHandles _handles;
    bool _fFinished = false;
};

}  // namespace drvtest
