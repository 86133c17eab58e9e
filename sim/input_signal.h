// An input signal of the simulated counter board, as a test describes it: no
// edges, a list of edge times, or a periodic train. Times are ticks of the
// 30 MHz board clock counted from the trigger; a periodic train may have a
// fractional period (num/den ticks), so that any whole frequency in Hz is
// exact. The event counter at time t counts the edges strictly before t.
#pragma once

#include <cstdint>
#include <vector>

namespace KVdepSim100 {

const uint64_t cTicksPerSecond = 30000000;

class InputSignal {
public:
    InputSignal() = default;  // no edges

    static InputSignal none() { return InputSignal(); }
    // Edges at the given ticks (sorted here).
    static InputSignal edges(std::vector<uint64_t> mpt);
    // Edges at tPhase + k * num / den ticks, k = 0, 1, ...; num and den above 0.
    static InputSignal periodic(uint64_t num, uint64_t den, uint64_t tPhase = 0);
    // Edges at tPhase + k * 30,000,000 / hz ticks; 0 Hz is no signal.
    static InputSignal hertz(uint64_t hz, uint64_t tPhase = 0);
    // Keeps only the first c edges.
    InputSignal& limit(uint64_t c);

    // Number of edges before tick t.
    uint64_t cBefore(uint64_t t) const;
    // The tick in which edge k falls (its time rounded down); false when the
    // signal has fewer edges.
    bool edgeTick(uint64_t k, uint64_t* pt) const;

private:
    enum class Kind { None, List, Periodic };
    Kind _eKind = Kind::None;
    std::vector<uint64_t> _mpt;
    uint64_t _num = 1, _den = 1, _tPhase = 0;
    uint64_t _cMax = UINT64_MAX;
};

}  // namespace KVdepSim100
