// Marshalling helpers shared by the protocol tests of vaq and of the
// protocols beside and above it.
#pragma once

#include "yek.h"

#include <initializer_list>
#include <sstream>
#include <string>

namespace wire_test {

using KVdepYek100::YekControl;
using KVdepYek100::YekControlBuf;
using KVdepYek100::YekProto;

inline std::string bytes(std::initializer_list<int> l)
{
    std::string s;
    for (int b : l)
        s += static_cast<char>(b);
    return s;
}

// The wire form, or "failed <module> <number>".
inline std::string marshalled(const YekProto& pro, const YekControl& uc)
{
    std::stringbuf sb;
    xostream xo(&sb);
    pro.marshal(xo, &uc);
    return xo.isGood() ? sb.str() : "failed " + std::string(xo.szErr()) + " " + std::to_string(xo.iErr());
}

// What the kernel driver does on receive: the type byte into a header, then
// the protocol builds the message in the receive area (the header itself).
struct Unmarshalled {
    YekControlBuf ucb;
    bool fGood;
    std::string sgErr;  // "<module> <number>" when failed
    bool fAllRead;
};

inline Unmarshalled unmarshalled(const YekProto& pro, const std::string& sgWire)
{
    std::stringbuf sb(sgWire);
    xistream xi(&sb);
    Unmarshalled r;
    KVdepYek100::xunmarsh(xi, r.ucb);
    pro.unmarsh(xi, r.ucb, &r.ucb);
    r.fGood = xi.isGood();
    r.sgErr = r.fGood ? "" : std::string(xi.szErr()) + " " + std::to_string(xi.iErr());
    r.fAllRead = sb.sgetc() == -1;
    return r;
}

template <typename T>
std::string printed(const T& m)
{
    std::ostringstream os;
    os << m;
    return os.str();
}

}  // namespace wire_test
