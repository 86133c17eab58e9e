// The base of an object behind a flat function interface: its chained status,
// its instance index, an optional log stream and a table of named parameters
// of kind real or int, set by name as an int or as a double.
#pragma once

#include <iosfwd>
#include <string>

#include "failable.h"

class StdApiC : public Failables {
public:
    enum { ceReal = 0, ceInt = 1, ccTypes = 2 };

    // A parameter: its name (compared byte for byte) and kind. A real
    // parameter that the device turns into a signed 32-bit count of _rdUnit
    // (above 0) per count is refused when the count would not fit.
    struct ParamT {
        const char* _sz;
        int _e;
        double _rdUnit;
    };

    // A parameter value, read with the accessor of its descriptor's kind.
    union Param {
        Param() : _rd(0.0) {}
        explicit Param(double rd) : _rd(rd) {}
        explicit Param(int i) : _rd(0.0) { _i = i; }  // the other bytes stay zero
        double rd() const { return _rd; }
        int i() const { return _i; }

        double _rd;
        int _i;
    };

    StdApiC(Param* ppa, const ParamT* ppaT, int ccParam);

    // Status cleared (good, no text, no causes), the log stream and index set.
    void init(int i, std::ostream* pos);
    std::ostream* pos() const { return _pos; }
    int iInst() const { return _i; }

    // Checks the value pa for parameter e and returns the instance status;
    // the base accepts everything.
    virtual const Failable& checkParam(int e, const Param& pa);

    int set_param_int(const char* sz, int n);
    int set_param_double(const char* sz, double rd);

    // Copies fa's number, text and state (the recorded causes stay), or fa
    // whole with its causes; writes the status line; 0 when now good, else -1.
    int _setStatus(const char* szFunc, const Failable& fa);
    int _setStatus(const char* szFunc, const Failables& fa);
    void _logFunc(const char* szFunc, const char* sz);
    void _logFunc(const char* szFunc, const std::string& sg);

    // True when rd truncated toward zero is a signed 32-bit number (NaN is not).
    static bool fitsInt32(double rd);

    // The descriptor index of a name; -1 for none (a null name is none).
    int iParam(const char* sz) const;
    const Param& param(int e) const { return _ppa[e]; }

    int _i;
    const Failable faOk;
    std::ostream* _pos;
    const ParamT* _ppaT;
    const int _ccParam;
    Param* _ppa;

private:
    // The value test of both setters: NaN, a real value whose count does not
    // fit, an int value out of range. Sets "bad parameter" with the index.
    bool refuseValue(const char* szFunc, int e, double rd);
    void logStatus(const char* szFunc);
};
