#include <cstdint>
#include <ostream>

#include "stdapihix.h"

namespace {

// Sums that a very long interval could push past the int range stay at its end.
int clampedSum(int64_t n)
{
    if (n > INT32_MAX)
        return INT32_MAX;
    if (n < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(n);
}

// The interval's count from the two captures and the wraps between them.
int interval(const StdApiHixBurst::ChanCount& cc) { return clampedSum(int64_t(cc._iEcCur) - cc._iEcPrev + cc._cWrap); }

}  // namespace

StdApiHixBurst::ChanCount::ChanCount() : SmM(ceInit) { reset(0); }

void StdApiHixBurst::ChanCount::reset(int fCont)
{
    setState(ceInit);
    _fCont = fCont;
    _iEcCur = -1;
    _iEcPrev = -1;
    _cWrap = 0;
}

void StdApiHixBurst::ChanCount::capt(int n)
{
    switch (eState()) {
    case ceInit:
        // The interval starts here: wraps seen before it are not part of it.
        _iEcPrev = n;
        _cWrap = 0;
        setState(ceWait);
        break;
    case ceWait:
        _iEcCur = n;
        setState(ceDone);
        break;
    default:
        setState(ceFail);
        break;
    }
}

void StdApiHixBurst::ChanCount::wrap(int n)
{
    _cWrap = clampedSum(int64_t(_cWrap) + n - _iEcPrev);
    _iEcPrev = 0;
}

int StdApiHixBurst::ChanCount::c()
{
    if (!isDone())
        return -1;
    int n = interval(*this);
    _iEcPrev = _iEcCur;
    _iEcCur = -1;
    _cWrap = 0;
    setState(_fCont ? ceWait : ceInit);
    return n;
}

std::ostream& operator<<(std::ostream& os, const StdApiHixBurst::ChanCount& cc)
{
    os << "s=" << cc.eState() << " c=" << cc._iEcCur << " p=" << cc._iEcPrev << " w=" << cc._cWrap;
    if (cc.isDone())
        os << " t=" << interval(cc);
    return os;
}
