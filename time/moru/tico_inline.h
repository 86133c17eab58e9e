// The FIFO-line decoder in the caller's own code, for the decode paths of the
// libraries that carry the decoder (the analyzer's modes, the burst
// counter's scan): a ScanLine whose edge list is copied from the table
// without a call, and the pieces it shares with ScanLine's own constructor.
// Not exported: applications use ScanLine itself.
#pragma once

#include "edge_table.h"
#include "tico.h"

namespace KVdepMoru100 {

// The line's three carry bits and its 12-bit tap pattern.
inline int carryOf(const char* mpch)
{
    return lineByte(mpch, 4) & 7;
}
inline int patternOf(const char* mpch)
{
    return lineWord<uint16_t>(mpch + 2) & 0xFFF;
}

// The trace of the line: its bytes, its carry and pattern, its flags (no line end).
void traceLine(std::ostream& os, const ScanLine& sl);

class InlineScanLine : public ScanLine {
public:
    // As ScanLine's constructor.
    InlineScanLine(const char* mpch, int fEdgeRise, int fModeFilt, std::ostream* pos) : ScanLine(mpch, pos)
    {
        static_cast<void>(fModeFilt);
        copyEdges(*this, carryOf(mpch), patternOf(mpch), fEdgeRise);
        if (isDebug())
            traceLine(os(), *this);
    }
};

}  // namespace KVdepMoru100
