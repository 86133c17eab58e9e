// Pieces every protocol's message code shares: views by type range, the
// printed field, the type byte and building a message in place from the wire.
// Header only: each deliverable that carries a protocol compiles its own.
#pragma once

#include <cstdint>
#include <new>
#ifndef KV_KERNEL
#include <ostream>
#endif

#include "yek.h"

namespace KVdepYek100 {
namespace ProtoKit {

// puc as a T when its type lies in [eLow, eHigh], else null.
template <typename T>
T* viewOf(YekControl* puc, int eLow, int eHigh)
{
    return puc && puc->eType() >= eLow && puc->eType() <= eHigh ? static_cast<T*>(puc) : nullptr;
}

#ifndef KV_KERNEL
// A blank, the stream back in decimal (the header leaves it in hex), the label
// and the value.
inline std::ostream& field(std::ostream& os, const char* szLabel, uint32_t u)
{
    return os << ' ' << std::dec << szLabel << u;
}
#endif

// The type byte, as the message core writes a header.
inline xostream& typeByte(xostream& xo, const YekControl& uc)
{
    return xmarshal(xo, uc);
}

// Builds the class T of type e at out, with its own size, and reads its
// fields behind the type byte.
template <typename T>
xistream& readAt(xistream& xi, int e, YekControl* out)
{
    return xunmarsh(xi, *new (out) T(e, sizeof(T)));
}

}  // namespace ProtoKit
}  // namespace KVdepYek100
