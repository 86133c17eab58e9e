// Byte helpers of the analyzer tests: marshal a control into its wire bytes,
// read wire bytes back through a protocol, and write bytes as hex.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>

#include "failable.h"
#include "wire.h"
#include "yek.h"

namespace moru_test {

// The wire bytes of a control as the protocol writes them; *pfa receives
// the stream's status.
inline std::string marshalled(const KVdepYek100::YekProto& pup, const KVdepYek100::YekControl& uc,
                              Failable* pfa = nullptr)
{
    std::stringbuf sb;
    xostream xo(&sb);
    pup.marshal(xo, &uc);
    if (pfa)
        *pfa = xo;
    return sb.str();
}

// Reads the type byte and the fields of sgWire into out as a receiver does;
// returns the stream's status and sets *pcLeft to the bytes not read.
inline Failable unmarshalled(const KVdepYek100::YekProto& pup, const std::string& sgWire,
                             KVdepYek100::YekControlBuf* out, size_t* pcLeft = nullptr)
{
    std::stringbuf sb(sgWire);
    xistream xi(&sb);
    KVdepYek100::xunmarsh(xi, *out);
    if (xi.isGood())
        pup.unmarsh(xi, *out, out);
    if (pcLeft)
        *pcLeft = static_cast<size_t>(sb.in_avail());
    return xi;
}

inline std::string hex(const std::string& sg)
{
    std::string sgOut;
    char sz[4];
    for (unsigned char c : sg) {
        std::snprintf(sz, sizeof sz, "%02x", c);
        sgOut += sz;
    }
    return sgOut;
}

inline std::string bytes(std::initializer_list<int> il)
{
    std::string sg;
    for (int i : il)
        sg += static_cast<char>(i);
    return sg;
}

inline std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

}  // namespace moru_test
