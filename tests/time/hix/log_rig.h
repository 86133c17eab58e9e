// The rig of the burst log's tests: hix_burst loaded and unloaded at run time
// (so that each test sees the library's load and its unload), a
// current directory and a profile directory of the test's own, the settable
// clock, and on demand the stand-in platform with a simulated HIX-5316 in
// slot 0.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hix_burst.h"
#include "kv_clock.h"
#include "kv_scratch_dir.h"
#include "kv_world.h"
#include "sim/sim_boards.h"

namespace hixlogtest {

namespace fs = std::filesystem;

// The library's flat functions, found in the loaded library.
class BurstLib {
public:
    BurstLib() = default;
    ~BurstLib() { unload(); }
    BurstLib(const BurstLib&) = delete;
    BurstLib& operator=(const BurstLib&) = delete;

    // False (and a failure) when the library cannot be loaded.
    bool load();
    // Unloads; a library that stays loaded is a failure.
    void unload();
    bool isLoaded() const { return _h != nullptr; }

    decltype(&::hix_burst_init) init = nullptr;
    decltype(&::hix_burst_fini) fini = nullptr;
    decltype(&::hix_burst_set_param_int) setInt = nullptr;
    decltype(&::hix_burst_arm) arm = nullptr;
    decltype(&::hix_burst_trigger) trigger = nullptr;
    decltype(&::hix_burst_loop) loop = nullptr;
    decltype(&::hix_burst_get_counts) getCounts = nullptr;
    decltype(&::hix_errortext) errortext = nullptr;

private:
    void* _h = nullptr;
};

// A HIX-5316 that tells the test when the controller's memory is written:
// closing the board's last channel puts the idle firmware back that way.
class WatchedBoard : public KVdepSim100::EzUsbBoard {
public:
    WatchedBoard();
    usbsim::UsbXfer vendorOut(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, const uint8_t* pData,
                              std::size_t cb) override;

    std::function<void()> onVendorOut;
};

class LogRig : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Both directories empty again; "USERPROFILE" set to the profile
    // directory (or unset).
    void freshDirs(bool fProfileSet = true);
    // The profile directory becomes one whose path is longer than 255 bytes.
    void longProfile();

    fs::path cwdLog() const { return _dirCwd / "kvdiag.log"; }
    fs::path profileLog() const { return _dirProfile / "kvdiag.log"; }
    static void write(const fs::path& p, const std::string& sg = "");
    static std::string read(const fs::path& p);
    // True when this process has a file descriptor open on p.
    static bool isOpen(const fs::path& p);

    // Boots the stand-in platform with the board and loads the driver.
    void boot();
    // Sets the clock to ms, then calls f.
    template <class F>
    auto callAt(uint64_t ms, F f)
    {
        kvclock::setManualMs(ms);
        return f();
    }

    kvclock::ManualClock _clock{1000};
    fs::path _dirBase, _dirCwd, _dirProfile;
    BurstLib lib;
    std::unique_ptr<WatchedBoard> _pboard;
    std::unique_ptr<kvworld::World> _pworld;

private:
    std::unique_ptr<kvtest::ScratchDir> _pdirBase;
    std::string _sgCwdBefore;
    std::optional<std::string> _osgProfileBefore;
};

}  // namespace hixlogtest
