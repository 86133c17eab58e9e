#include "stdapic.h"

#include <cmath>
#include <cstring>
#include <ostream>

StdApiC::StdApiC(Param* ppa, const ParamT* ppaT, int ccParam)
    : _i(0), _pos(nullptr), _ppaT(ppaT), _ccParam(ccParam), _ppa(ppa)
{
}

void StdApiC::init(int i, std::ostream* pos)
{
    clear();
    _pos = pos;
    _i = i;
}

const Failable& StdApiC::checkParam(int, const Param&) { return *this; }

int StdApiC::iParam(const char* sz) const
{
    if (sz == nullptr)
        return -1;
    for (int e = 0; e < _ccParam; ++e)
        if (std::strcmp(_ppaT[e]._sz, sz) == 0)
            return e;
    return -1;
}

bool StdApiC::fitsInt32(double rd)
{
    // trunc(rd) lies in [-2^31, 2^31 - 1] exactly when rd lies in (-2^31 - 1, 2^31).
    return rd > -2147483649.0 && rd < 2147483648.0;
}

bool StdApiC::refuseValue(const char* szFunc, int e, double rd)
{
    const ParamT& pt = _ppaT[e];
    bool fOk = !std::isnan(rd);
    if (fOk && pt._e == ceReal && pt._rdUnit > 0)
        fOk = fitsInt32(rd / pt._rdUnit);
    if (fOk && pt._e == ceInt)
        fOk = fitsInt32(rd);
    if (fOk)
        return false;
    _setStatus(szFunc, Failable("bad parameter", e));
    return true;
}

int StdApiC::set_param_int(const char* sz, int n)
{
    const char* szFunc = "set_param_int";
    int e = iParam(sz);
    if (e < 0)
        return _setStatus(szFunc, Failable("param not found", -1));
    Param pa;
    switch (_ppaT[e]._e) {
    case ceReal: pa = Param(static_cast<double>(n)); break;
    case ceInt: pa = Param(n); break;
    default: return _setStatus(szFunc, Failable("stdapic", 106));
    }
    const Failable& fa = checkParam(e, pa);
    if (fa.isFail())
        return _setStatus(szFunc, static_cast<const Failables&>(*this));
    if (_ppaT[e]._e == ceReal && refuseValue(szFunc, e, pa.rd()))
        return -1;
    _ppa[e] = pa;
    return _setStatus(szFunc, faOk);
}

int StdApiC::set_param_double(const char* sz, double rd)
{
    const char* szFunc = "set_param_double";
    int e = iParam(sz);
    if (e < 0)
        return _setStatus(szFunc, Failable("param not found", -1));
    if (_ppaT[e]._e != ceReal && _ppaT[e]._e != ceInt)
        return _setStatus(szFunc, Failable("stdapic", 123));
    if (refuseValue(szFunc, e, rd))
        return -1;
    _ppa[e] = _ppaT[e]._e == ceReal ? Param(rd) : Param(static_cast<int>(rd));
    return _setStatus(szFunc, faOk);
}

int StdApiC::_setStatus(const char* szFunc, const Failable& fa)
{
    setStat(fa);
    logStatus(szFunc);
    return isGood() ? 0 : -1;
}

int StdApiC::_setStatus(const char* szFunc, const Failables& fa)
{
    if (&fa != this)
        static_cast<Failables&>(*this) = fa;
    logStatus(szFunc);
    return isGood() ? 0 : -1;
}

void StdApiC::logStatus(const char* szFunc)
{
    if (_pos)
        *_pos << '[' << _i << "] " << szFunc << " -> " << static_cast<const Failables&>(*this) << std::endl;
}

void StdApiC::_logFunc(const char* szFunc, const char* sz)
{
    if (_pos)
        *_pos << '[' << _i << "] " << szFunc << " : " << sz << std::endl;
}

void StdApiC::_logFunc(const char* szFunc, const std::string& sg) { _logFunc(szFunc, sg.c_str()); }
