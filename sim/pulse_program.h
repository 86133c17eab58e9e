// The pulse sequencer of the simulated counter board. The host writes a
// program into a pulse FIFO port as three words an entry: (opcode << 12 | chip),
// delay bits 31..16, delay bits 15..0. The delay is an unsigned 32-bit count of
// board clock ticks.
//
// How this board runs a program (its firmware's choice): from the trigger on,
// each entry first waits its delay, then, when its opcode has PET, captures the
// event counters. When the first entry has REC the program runs once;
// otherwise, after the last entry it repeats from the first later entry that
// has REC, for as long as the clock runs (a repeat section that takes no time
// or captures nothing does not repeat).
#pragma once

#include <cstdint>
#include <vector>

namespace KVdepSim100 {

enum PulseOpcode { PULSE_REC = 1, PULSE_PET = 2, PULSE_WAIT = 8 };

struct PulseEntry {
    int _fOpc;
    int _iChip;
    uint32_t _uDelay;
};

// The complete entries of the written words; a trailing partial entry is left out.
std::vector<PulseEntry> pulseEntries(const std::vector<uint16_t>& mpw);

// The capture times of a program, in ticks from the trigger, in order.
class CaptureSchedule {
public:
    CaptureSchedule() = default;  // no captures
    explicit CaptureSchedule(const std::vector<PulseEntry>& mpent);

    // Time of capture i; false when the program makes fewer captures.
    bool time(uint64_t i, uint64_t* pt) const;
    // Number of captures at or before tick t.
    uint64_t cUpTo(uint64_t t) const;
    bool repeats() const { return !_mptOffs.empty(); }

private:
    std::vector<uint64_t> _mptFirst;  // captures of the first run
    uint64_t _tEnd = 0;               // end of the first run
    std::vector<uint64_t> _mptOffs;   // captures of one repeat, from its start
    uint64_t _tPeriod = 0;            // length of one repeat
};

}  // namespace KVdepSim100
