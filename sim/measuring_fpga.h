// The measuring FPGA of the simulated HIX-5316, in virtual time.
//
// The clock counts 30 MHz ticks; it stands still until a trigger (0x0201 or
// 0x0203 written to port 31) starts it at 0, and every read of the channel-0
// fill count (port 14) first moves a running clock on by a fixed step. A FIFO
// line becomes visible when its time is at or before the clock. A reset
// (0x0001 to port 31) empties both FIFOs and both pulse programs and stops the
// clock.
//
// Lines come from what the test bench describes (HixBench):
//  - every capture of the capture program (pulse unit 0, port 2) writes an
//    event capture with each channel's event count into both FIFOs;
//  - each channel's event counter counts the edges of its input signal
//    strictly before the moment of reading and wraps after 65,535 counts:
//    when it wraps, a wrap line with the count 65535 goes into that channel's
//    FIFO at the time of the edge; so the host's counting (end - start plus
//    65535 - start per wrap) gives the true number of edges;
//  - an epoch mark with the event count goes into both FIFOs whenever the
//    24-bit coarse clock completes (every 2^24 ticks);
//  - scripted lines go into their channel's FIFO at their release time.
// At one and the same tick the order is: scripted lines, capture, wrap, epoch.
// A FIFO holds a fixed number of lines; a line that does not fit is dropped
// and the newest stored line gets the overflow flag.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/fifo_line.h"
#include "sim/input_signal.h"
#include "sim/pulse_program.h"

namespace KVdepSim100 {

struct ScriptedLine {
    uint64_t _tRelease;  // ticks after the trigger
    FifoLine _line;
};

struct FpgaOptions {
    uint32_t _cStep = 30000;      // ticks a read of port 14 moves a running clock on
    size_t _cCapacity = 4096;     // lines a FIFO holds (at least 1)
    bool _fCaptures = true;       // lines from the capture program
    bool _fWraps = true;          // wrap lines from the input signals
    bool _fEpochs = true;         // epoch marks of the coarse clock
};

// What a test wires to the board. It outlives downloads and resets; signals
// and scripts are taken over at each trigger (a scripted line added during a
// run also goes into that run).
struct HixBench {
    InputSignal _mpSignal[2];
    std::vector<ScriptedLine> _mpScript[2];
    FpgaOptions _opt;
    std::optional<uint32_t> _mpFillForced[2];  // fill count answered instead
    std::optional<uint16_t> _mpWordForced[2];  // FIFO word answered instead
};

class MeasuringFpga {
public:
    static const int cChan = 2;
    static const uint64_t cTicksPerEpoch = uint64_t(1) << 24;

    explicit MeasuringFpga(const HixBench* pbench);

    // Register traffic the board's program hands on.
    void writePulse(int iUnit, uint16_t w);  // ports 2 (unit 0) and 3 (unit 1)
    void writeControl(uint16_t w);           // port 31
    uint32_t readFill(int iChan);            // ports 14 and 15
    uint16_t readData(int iChan);            // ports 6 and 7

    bool isRunning() const { return _fRunning; }
    uint64_t now() const { return _tNow; }
    // Moves a running clock on by cTicks (a stopped clock stays).
    void advance(uint64_t cTicks);
    // A scripted line added while the clock runs.
    void injectScripted(int iChan, const ScriptedLine& sl);

    // Inspection.
    const std::vector<uint16_t>& pulseWords(int iUnit) const { return _mpmpwPulse[iUnit & 1]; }
    std::vector<PulseEntry> pulseProgram(int iUnit) const { return pulseEntries(pulseWords(iUnit)); }
    std::vector<FifoLine> lines(int iChan) const;  // stored lines, head first
    size_t cLines(int iChan) const { return _mpfifo[iChan & 1]._lines.size(); }
    uint64_t cUnderflows(int iChan) const { return _mpfifo[iChan & 1]._cUnder; }
    uint64_t cDropped(int iChan) const { return _mpfifo[iChan & 1]._cDropped; }
    int cResets() const { return _cResets; }
    int cTriggers() const { return _cTriggers; }

private:
    struct Fifo {
        std::deque<FifoLine> _lines;
        int _iWord = 0;                  // words read of the head line
        uint64_t _iCapt = 0;             // next capture
        uint64_t _mWrap = 1;             // next wrap of the event counter
        uint64_t _mEpoch = 1;            // next epoch mark
        size_t _iScript = 0;             // next scripted line
        std::vector<ScriptedLine> _script;
        InputSignal _sig;
        uint64_t _cUnder = 0, _cDropped = 0;
    };
    enum Source { SRC_SCRIPT, SRC_CAPTURE, SRC_WRAP, SRC_EPOCH, SRC_NONE };

    void reset();
    void trigger();
    void generateTo(uint64_t t);
    Source nextEvent(const Fifo& fifo, uint64_t* pt) const;
    void dropUpTo(Fifo& fifo, uint64_t t);

    const HixBench* _pbench;
    std::vector<uint16_t> _mpmpwPulse[2];
    CaptureSchedule _sched;
    Fifo _mpfifo[cChan];
    bool _fRunning = false;
    uint64_t _tNow = 0;
    uint64_t _tNextGen = 0;  // events before this tick are in the FIFOs
    int _cResets = 0, _cTriggers = 0;
};

}  // namespace KVdepSim100
