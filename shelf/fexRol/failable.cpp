#include "failable.h"

#include <algorithm>
#ifdef KV_KERNEL
#include "statfmt.h"
#else
#include <cstdio>
#include <ostream>
#endif

int Failable::print(char* sz, unsigned size) const
{
    char szDummy[1];
    if (size == 0 || sz == nullptr) {
        // Nothing may be stored; the length is still wanted.
        sz = szDummy;
        size = 0;
    }
#ifdef KV_KERNEL
    int c = fexPrintStat(sz, size, static_cast<unsigned>(_eStat), _szErr ? _szErr : "-nil-",
                         static_cast<int>(_iErr));
#else
    int c = std::snprintf(sz, size, "stat=%x (%s %d)", static_cast<unsigned>(_eStat),
                          _szErr ? _szErr : "-nil-", static_cast<int>(_iErr));
#endif
    return c;
}

bool Failable::entry()
{
    if (_eStat == E_BAD)
        return true;
    setStat(E_OK, nullptr, 0);
    return false;
}

Failables& Failables::set(StatE e, const char* sz, int i, const Failable* pfa)
{
    if (pfa) {
        _mpfa[0] = *pfa;
        _c = 1;
    }
    setStat(e, sz, i);
    return *this;
}

Failables& Failables::set(StatE e, const char* sz, int i, const Failables* pfa)
{
    if (pfa) {
        _c = std::min<int32_t>(pfa->_c, ccFa - 1) + 1;
        // Descending, so that a status may name itself as its cause.
        for (int k = _c - 1; k >= 1; --k)
            _mpfa[k] = pfa->_mpfa[k - 1];
        _mpfa[0] = static_cast<const Failable&>(*pfa);
    }
    setStat(e, sz, i);
    return *this;
}

Failables& Failables::set(StatE e, const char* sz, int i, std::nullptr_t)
{
    setStat(e, sz, i);
    return *this;
}

Failables& Failables::clear()
{
    _c = 0;
    setStat(E_OK, nullptr, 0);
    return *this;
}

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const Failable& fa)
{
    os << "stat=";
    switch (fa._eStat) {
    case Failable::E_OK: os << "good"; break;
    case Failable::E_FAIL: os << "fail"; break;
    case Failable::E_BAD: os << "bad"; break;
    default: os << std::hex << static_cast<unsigned>(fa._eStat); break;
    }
    os << " (";
    if (fa._szErr)
        os << fa._szErr;
    os << ") " << std::dec << fa._iErr;
    return os;
}

std::ostream& operator<<(std::ostream& os, const Failables& fa)
{
    os << static_cast<const Failable&>(fa);
    for (int k = 0; k < fa._c && k < Failables::ccFa; ++k)
        os << ", " << fa._mpfa[k];
    return os;
}
#endif
