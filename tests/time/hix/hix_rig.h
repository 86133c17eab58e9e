// The test rig of the burst library: a fresh stand-in platform per test with
// one simulated HIX-5316 in slot 0 (or none) and the kavorqir module loaded,
// reached by the library through the Win32 stand-in. Both instances get all
// five parameters at their defaults before a test and are finished after it,
// so that no test sees another's settings (the library keeps its instances
// for the whole process) and no connection outlives the platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "hix_burst.h"
#include "kv_world.h"
#include "sim/sim_boards.h"

namespace hixtest {

using PortValue = std::pair<int, uint32_t>;

// Sets all five parameters of instance i to the defaults; also clears its status.
void setDefaults(int i);

class HixRig : public ::testing::Test {
protected:
    // With fBoard false no board is plugged.
    explicit HixRig(bool fBoard = true) : _fBoard(fBoard) {}
    void SetUp() override;
    void TearDown() override;

    KVdepSim100::EzUsbBoard& board() { return *_pboard; }
    // The register writes and reads of the board's program since it started,
    // or since the mark.
    std::vector<PortValue> writes() const;
    std::vector<PortValue> reads() const;
    void mark();

    // Fill counts move the board clock on by this many ticks.
    void setStep(uint32_t cTicks);

    // Opens instance 0 and checks it.
    void init(int fSim = 0);
    // Polls until done or failed (at most cPasses passes); the result of the
    // last pass.
    int loop(int i = 0, long cPasses = 100000);
    // Arms, triggers and loops; the result of the last loop.
    int burst(int i = 0, long cPasses = 100000);

    std::unique_ptr<KVdepSim100::EzUsbBoard> _pboard;
    std::unique_ptr<kvworld::World> _pworld;
    bool _fBoard;
    bool _fExpectCleanTeardown = true;
    size_t _iWriteMark = 0, _iReadMark = 0;
};

// Edges of a periodic signal of hz pulses a second, first edge at 0, that lie
// strictly before tick t of the 30 MHz clock: the k >= 0 with k * 3e7 / hz < t.
inline uint64_t edgesBefore(uint64_t hz, uint64_t t) { return (t * hz + 30000000 - 1) / 30000000; }

}  // namespace hixtest
