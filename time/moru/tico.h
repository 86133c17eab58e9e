// Time core of the time-interval hardware and the decoder of its 8-byte FIFO
// lines: coarse clock counts and tap-chain fractions turned into time, the
// fixed conversion of a time into clock ticks, the tap-pattern edge list and
// the line accessors with their one-line trace.
#pragma once

#include <cstdint>
#include <cstring>
#include <iosfwd>

#include "dbg.h"
#include "moruexport.h"
#include "yek.h"

namespace KVdepMoru100 {

// Signed count of fraction units from the start of a measurement.
typedef int64_t Timer;
// Signed event count.
typedef int64_t Counter;

// The constants of one time base; _ccEpochs * _ccFracts fits in 32 bits.
struct MORU_API TiCore {
    uint32_t _ccEpochs;    // coarse clocks per epoch
    uint32_t _ccFracts;    // fractions per clock
    uint32_t _ccScaleMax;  // largest prescaler value
    double _crdFreq;       // coarse clock frequency, Hz

    Timer fractsPerEpoch() const { return Timer(_ccEpochs) * _ccFracts; }
    Timer fracts(unsigned c) const { return Timer(c) * _ccFracts; }
    double rdSecs(Timer t) const { return (1.0 / (_crdFreq * _ccFracts)) * t; }
    double rdPeriod(Timer tmPrev, Timer tmCur, unsigned nCyc) const;
    double rdFreq(Timer tmPrev, Timer tmCur, unsigned nCyc) const;
};

// 30 MHz coarse clock, 2^24 clocks an epoch, 12 fractions a clock.
MORU_API extern const TiCore tc2n5;

MORU_API unsigned ccFracts(const TiCore* ptc);

// Ticks of the 30 MHz clock for a time; the conversion is fixed (ptc is not
// used). A result of 2^30 ticks or more (35.791390555 s and above) is a broken
// precondition: callers refuse such times first (fitsTicks).
MORU_API uint32_t ticks(const KVdepYek100::Time& ti, const TiCore* ptc);
// True when ticks() of ti stays below 2^30.
MORU_API bool fitsTicks(const KVdepYek100::Time& ti);

// The edge list of one 12-bit tap pattern: the positions (0 for bit 11 up to
// 11 for bit 0) where the level changes in the chosen direction.
class MORU_API Fracts {
public:
    static constexpr int ccFracts = 6;
    static constexpr int32_t iInvalid = -1515870811;  // an entry of bytes 0xA5

    // Decodes the pattern; fModeFilt has no effect.
    Fracts(int fCarry, int f0, int fEdgeRise, int fModeFilt);

    int cFract() const { return _c; }
    // Entry i; an index outside the valid entries gives iInvalid and never
    // reads outside the list.
    int32_t iFract(int i) const { return hasFract(i) ? _mpFracts[i] : iInvalid; }
    bool hasFract(int i) const { return i >= 0 && i < _c; }

    // The three carry bits (2, 1, 0), '.', the pattern bits 11 down to 0.
    static std::ostream& print(std::ostream& os, int fCarry, int f0);

    int32_t _mpFracts[ccFracts];
    int32_t _c;

protected:
    // The list is the deriving decoder's to fill.
    Fracts() {}
};

// Byte i of a FIFO line.
inline unsigned lineByte(const char* mpch, int i)
{
    return static_cast<unsigned char>(mpch[i]);
}

// A little-endian word of a FIFO line, read with one load where the host is
// little-endian.
template <typename U>
U lineWord(const char* pch)
{
    U u = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&u, pch, sizeof u);
#else
    for (size_t i = sizeof u; i-- > 0;)
        u = U(u << 8 | static_cast<unsigned char>(pch[i]));
#endif
    return u;
}

// One FIFO line, decoded in place: the caller's 8 bytes must outlive it.
class MORU_API ScanLine : public Fracts, public DebugLog {
public:
    enum Flag { OFLOW = 128, ARM = 64, EPOCH = 32, FIRST = 16, WRAP = 8 };

    // With a trace stream, writes the line's trace (no line end).
    ScanLine(const char* mpch, int fEdgeRise, int fModeFilt, std::ostream* pos);

    unsigned cEc() const { return lineWord<uint16_t>(_mpch); }
    // Bytes 4 to 7 as one word, the flag byte shifted out.
    unsigned cCt() const { return lineWord<uint32_t>(_mpch + 4) >> 8; }
    int iOffs() const { return lineByte(_mpch, 3) >> 4; }
    int isOverflow() const { return lineByte(_mpch, 4) & OFLOW; }
    int isArm() const { return lineByte(_mpch, 4) & ARM; }
    int isEpoch() const { return lineByte(_mpch, 4) & EPOCH; }
    int isFirst() const { return (lineByte(_mpch, 4) & (FIRST | WRAP)) == FIRST; }
    int isWrap() const { return (lineByte(_mpch, 4) & (FIRST | WRAP)) == WRAP; }
    int isEcap() const { return (lineByte(_mpch, 4) & (FIRST | WRAP)) == (FIRST | WRAP); }
    int isHit() const { return isFirst() || isWrap(); }
    // The edge index names a valid entry of this line's edge list.
    bool isValidOffs() const { return hasFract(iOffs()); }

    const char* _mpch;

protected:
    // The line kept and the trace stream set; the deriving decoder fills the
    // edge list and writes the trace.
    ScanLine(const char* mpch, std::ostream* pos) : DebugLog(pos), _mpch(mpch) {}
};

}  // namespace KVdepMoru100
