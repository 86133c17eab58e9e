// The 8-byte FIFO line of the time-interval hardware: event count (bytes 0-1,
// low byte first), tap pattern and edge index (bytes 2-3), flags and carry bits
// (byte 4), 24-bit coarse clock count (bytes 5-7, low byte first). The host
// reads a line as four 16-bit words, word j holding byte 2j in its low half.
#pragma once

#include <array>
#include <cstdint>

namespace KVdepSim100 {

using FifoLine = std::array<uint8_t, 8>;

enum FifoFlag : uint8_t {
    FIFO_OFLOW = 0x80,
    FIFO_ARM = 0x40,
    FIFO_EPOCH = 0x20,
    FIFO_FIRST = 0x10,
    FIFO_WRAP = 0x08,
    FIFO_ECAP = 0x18,  // both hit bits: an event capture
};

// The count the event counter shows when it wraps; it counts 0 to 65534.
const uint32_t cEventWrap = 65535;
const uint32_t cClockMask = 0xFFFFFF;  // the coarse clock field

inline FifoLine fifoLine(uint32_t cEc, uint32_t uPattern, uint32_t iEdge, uint8_t fFlags, uint64_t cClock)
{
    return FifoLine{static_cast<uint8_t>(cEc),
                    static_cast<uint8_t>(cEc >> 8),
                    static_cast<uint8_t>(uPattern),
                    static_cast<uint8_t>(((uPattern >> 8) & 0x0F) | ((iEdge & 0x0F) << 4)),
                    fFlags,
                    static_cast<uint8_t>(cClock),
                    static_cast<uint8_t>(cClock >> 8),
                    static_cast<uint8_t>(cClock >> 16)};
}

// The lines the measuring model writes: a capture of the event count, the wrap
// of the event counter (count 65535) and the epoch mark of the coarse clock.
inline FifoLine ecapLine(uint32_t cEc, uint64_t cClock) { return fifoLine(cEc, 0, 0, FIFO_ECAP, cClock); }
inline FifoLine wrapLine(uint64_t cClock) { return fifoLine(cEventWrap, 0, 0, FIFO_WRAP, cClock); }
inline FifoLine epochLine(uint32_t cEc) { return fifoLine(cEc, 0, 0, FIFO_EPOCH, 0); }

inline uint16_t fifoWord(const FifoLine& line, int j)
{
    return static_cast<uint16_t>(line[2 * j] | (line[2 * j + 1] << 8));
}

}  // namespace KVdepSim100
