// FIFO lines for the mode tests, made from the line format itself: event
// count (bytes 0-1, low first), tap pattern (byte 2 and the low nibble of
// byte 3), edge index (high nibble of byte 3), flags and carry bits (byte 4),
// coarse clock count (bytes 5-7, low first).
//
// A time in fraction units is clock count x 12 + tap position. A hit line for
// a falling edge at position p has the taps high before p and low from p on
// (the carry bits make the level before the first tap high); one for a rising
// edge the reverse. feed() hands lines to a mode as one sample answer.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "moru.h"

namespace moru_test {

const int64_t fpe = int64_t(16777216) * 12;  // fractions an epoch
const int64_t fracsPerSecond = 360000000;

enum : unsigned { fOflow = 0x80, fArm = 0x40, fEpoch = 0x20, fFirst = 0x10, fWrap = 0x08, fEcap = 0x18 };

inline std::string line(unsigned cEc, unsigned uPattern, unsigned iOffs, unsigned uFlags, unsigned cCt)
{
    std::string sg(8, '\0');
    sg[0] = static_cast<char>(cEc & 0xFF);
    sg[1] = static_cast<char>(cEc >> 8 & 0xFF);
    sg[2] = static_cast<char>(uPattern & 0xFF);
    sg[3] = static_cast<char>((iOffs & 0x0F) << 4 | (uPattern >> 8 & 0x0F));
    sg[4] = static_cast<char>(uFlags);
    sg[5] = static_cast<char>(cCt & 0xFF);
    sg[6] = static_cast<char>(cCt >> 8 & 0xFF);
    sg[7] = static_cast<char>(cCt >> 16 & 0xFF);
    return sg;
}

// A plain line with flags only (an epoch line, an arm line, an overflow).
inline std::string flagLine(unsigned uFlags, unsigned cEc = 0) { return line(cEc, 0, 0, uFlags, 0); }

// A hit line whose one edge of the kind asked for lies tInEpoch fractions
// into the epoch (below one epoch).
inline std::string hitLine(int64_t tInEpoch, bool fRising, unsigned uFlags = fWrap)
{
    unsigned cCt = static_cast<unsigned>(tInEpoch / 12);
    unsigned p = static_cast<unsigned>(tInEpoch % 12);
    if (fRising)
        return line(0, (1u << (12 - p)) - 1, 0, uFlags, cCt);
    unsigned uHigh = p == 0 ? 0 : (0xFFFu << (12 - p)) & 0xFFF;
    return line(0, uHigh, 0, uFlags | 0x7, cCt);
}

// The lines of one FIFO for a stream of absolute stamps (fraction units since
// the start): an epoch line each time the coarse counter completes an epoch.
class FifoLines {
public:
    explicit FifoLines(bool fRising) : _fRising(fRising) {}

    FifoLines& at(int64_t t, unsigned uFlags = fWrap)
    {
        while (t >= (_cEpoch + 1) * fpe) {
            _sg += flagLine(fEpoch);
            ++_cEpoch;
        }
        _sg += hitLine(t - _cEpoch * fpe, _fRising, uFlags);
        return *this;
    }
    FifoLines& raw(const std::string& sg)
    {
        _sg += sg;
        return *this;
    }
    FifoLines& epoch()
    {
        _sg += flagLine(fEpoch);
        ++_cEpoch;
        return *this;
    }
    // The lines written so far, handed out and forgotten.
    std::string take()
    {
        std::string sg;
        sg.swap(_sg);
        return sg;
    }

private:
    bool _fRising;
    int64_t _cEpoch = 0;
    std::string _sg;
};

// The lines of FIFO 0 (falling edges) or FIFO 1 (rising edges) for the
// stamps of v.
inline std::string stampLines(bool fRising, const std::vector<int64_t>& v)
{
    FifoLines fl(fRising);
    for (int64_t t : v)
        fl.at(t);
    return fl.take();
}
inline std::string leading(const std::vector<int64_t>& v) { return stampLines(false, v); }
inline std::string trailing(const std::vector<int64_t>& v) { return stampLines(true, v); }

// One sample call of the mode on the lines, as from FIFO iFifo.
inline void feed(KVdepMoru100::MoruMode& m, const std::string& sgLines, int iFifo = 0)
{
    std::stringbuf sb(sgLines, std::ios::in | std::ios::out);
    m.sample(&sb, iFifo);
}

// The trace of each call: one with an overflow line, which fails the mode,
// then cLater more with a hit line each (a failed mode decodes nothing more).
inline std::vector<std::string> tracesAfterOverflow(KVdepMoru100::MoruMode& m, int cLater)
{
    std::ostringstream os;
    m._pos = &os;
    std::vector<std::string> v;
    for (int k = 0; k <= cLater; ++k) {
        os.str("");
        feed(m, k == 0 ? flagLine(fOflow) : hitLine(100, false));
        v.push_back(os.str());
    }
    m._pos = nullptr;
    return v;
}

}  // namespace moru_test
