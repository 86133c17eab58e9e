// Status objects: the status every fallible object of the system carries, and
// a status that also records the chain of statuses that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#endif

#include "kvexport.h"

// The platform's error header defines E_FAIL as an HRESULT, which the system
// never uses: the state below takes the name back (kvwindows.h does the same
// for units that include windows.h after this header).
#ifdef E_FAIL
#undef E_FAIL
#endif

class FEXROL_API Failable {
public:
    enum StatE : uint32_t { E_OK = 0, E_FAIL = 1, E_BAD = 2, E_NEXT = 4 };

    Failable() : _iErr(0), _szErr(nullptr), _eStat(E_OK) {}
    Failable(const char* sz, int i) : _iErr(i), _szErr(sz), _eStat(E_FAIL) {}

    Failable& setFailed(const char* sz, int i) { return setStat(E_FAIL, sz, i); }

    bool isGood() const { return _eStat == E_OK; }
    bool isFail() const { return (_eStat & (E_FAIL | E_BAD)) != 0; }
    bool isBad() const { return (_eStat & E_BAD) != 0; }
    bool operator!() const { return isFail(); }
    operator const void*() const { return isFail() ? nullptr : this; }

    int iErr() const { return _iErr; }
    const char* szErr() const { return _szErr; }
    StatE eStat() const { return _eStat; }

    // "stat=%x (%s %d)"; stores at most size bytes including the terminating
    // zero and returns the length of the whole formatted text.
    int print(char* sz, unsigned size) const;

protected:
    Failable& setStat(StatE e, const char* sz, int i)
    {
        _eStat = e;
        _szErr = sz;
        _iErr = i;
        return *this;
    }
    Failable& setStat(const Failable& fa) { return setStat(fa._eStat, fa._szErr, fa._iErr); }

    // Start of an operation: a bad status skips it (true); anything else is
    // reset to good (false).
    bool entry();

public:
    int32_t _iErr;
    const char* _szErr;
    StatE _eStat;
};

class FEXROL_API Failables : public Failable {
public:
    static const int ccFa = 5;

    Failables() : _c(0) {}

    Failables& set(StatE e, const char* sz, int i, const Failable* pfa);
    Failables& set(StatE e, const char* sz, int i, const Failables* pfa);
    // A null cause: the recorded causes stay, only the own status is set.
    Failables& set(StatE e, const char* sz, int i, std::nullptr_t);

    using Failable::setFailed;
    Failables& setFailed(const char* sz, int i, const Failable* pfa) { return set(E_FAIL, sz, i, pfa); }
    Failables& setFailed(const char* sz, int i, const Failables* pfa) { return set(E_FAIL, sz, i, pfa); }
    Failables& setFailed(const char* sz, int i, std::nullptr_t) { return set(E_FAIL, sz, i, nullptr); }
    Failables& setBad(const char* sz, int i, const Failables* pfa) { return set(E_BAD, sz, i, pfa); }
    Failables& setBad(const char* sz, int i, std::nullptr_t) { return set(E_BAD, sz, i, nullptr); }
    Failables& clear();

    int c() const { return _c; }
    const Failable& cause(int k) const { return _mpfa[k]; }

    int32_t _c;
    Failable _mpfa[ccFa];
};

// The stream forms; the kernel build has no streams.
#ifndef KV_KERNEL
FEXROL_API std::ostream& operator<<(std::ostream& os, const Failable& fa);
FEXROL_API std::ostream& operator<<(std::ostream& os, const Failables& fa);
#endif
