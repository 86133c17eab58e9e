// The FIFO-line decoder in the caller's own code, for the decode paths of the
// libraries that carry the decoder (the analyzer's modes, the burst
// counter's scan): a ScanLine whose edge list is copied from the table
// without a call. Not exported: applications use ScanLine itself.
#pragma once

#include "edge_table.h"
#include "tico.h"

namespace KVdepMoru100 {

class InlineScanLine : public ScanLine {
public:
    // As ScanLine's constructor.
    InlineScanLine(const char* mpch, int fEdgeRise, int fModeFilt, std::ostream* pos) : ScanLine(mpch, pos)
    {
        static_cast<void>(fModeFilt);
        copyEdges(*this, carryOf(mpch), patternOf(mpch), fEdgeRise);
        if (isDebug())
            trace();
    }
};

}  // namespace KVdepMoru100
