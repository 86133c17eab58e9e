// The edge lists of every 12-bit tap pattern, worked out at build time, so
// that decoding a FIFO line copies its list instead of walking the bits. The
// table stays inside the libraries that carry the decoder: applications
// decode through the exported constructors.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "tico.h"

namespace KVdepMoru100 {

// One edge list in the layout of Fracts: six entries, unused ones
// Fracts::iInvalid, and the count.
struct EdgeList {
    int32_t _mpFracts[Fracts::ccFracts];
    int32_t _c;
    int32_t _iPad;  // a power-of-two size for the index
};

// The rising edges of each pattern (bits 0-11 of the index) after a low
// (bit 12 clear) or high (bit 12 set) level before bit 11.
extern const std::array<EdgeList, 2 * 4096> aelRising;

// The edge list of a pattern in either direction. A falling edge of a pattern
// is a rising edge of its complement, with the level before it inverted.
inline const EdgeList& edgeList(int fCarry, int f0, int fEdgeRise)
{
    unsigned i = (fCarry != 0 ? 0x1000u : 0u) | (static_cast<unsigned>(f0) & 0xFFFu);
    return aelRising[fEdgeRise ? i : i ^ 0x1FFFu];
}

// Fills fr with the edge list of the pattern.
inline void copyEdges(Fracts& fr, int fCarry, int f0, int fEdgeRise)
{
    const EdgeList& el = edgeList(fCarry, f0, fEdgeRise);
    std::memcpy(fr._mpFracts, el._mpFracts, sizeof fr._mpFracts);
    fr._c = el._c;
}

}  // namespace KVdepMoru100
