#include "delta.h"

#include <climits>

#include "fexassert.h"

static const char szSrc[] = "delta";

void VersPool::free(vers_t v)
{
    // VERS_NIL would otherwise count down the odd set.
    if (v < 0)
        return;
    Set* ps = set(v);
    FEX_ASSERT(ps->_c, "ps->_c", szSrc, 16);
    // A version its set has not handed out yet is not live: counting it
    // down would restart the set under a live one.
    if (v >= ps->_i)
        return;
    if (--ps->_c == 0)
        ps->_i = v & 1;  // free again: it may become current once the other is used up
}

vers_t VersPool::alloc()
{
    if (_psCur->_i >= _psCur->_iLim) {
        Set* psOther = _psCur == &_mpSet[0] ? &_mpSet[1] : &_mpSet[0];
        if (psOther->_i >= psOther->_iLim)
            return VERS_NIL;
        _psCur = psOther;
    }
    vers_t v = _psCur->_i;
    _psCur->_i += 2;
    ++_psCur->_c;
    return v;
}

int VersPool::lt(vers_t vsL, vers_t vsR)
{
    FEX_ASSERT(vsL != VERS_NIL && vsR != VERS_NIL, "vsL != VERS_NIL && vsR != VERS_NIL", szSrc, 42);
    if (vsL == vsR)
        return 0;
    if (vsL < 0 || vsR < 0)
        return vsL == VERS_BELOW || vsR == VERS_ABOVE ? 1 : 0;
    Set* psL = set(vsL);
    Set* psR = set(vsR);
    FEX_ASSERT(psL->_i > vsL && psR->_i > vsR, "psL->_i > vsL && psR->_i > vsR", szSrc, 56);
    if (psL == psR)
        return vsL < vsR ? 1 : 0;
    return psR == _psCur ? 1 : 0;
}

VersPool::VersPool(int cMaxInUse) : _psCur(&_mpSet[0])
{
    // Versions are ints: no set may reach past the int range.
    const int cMaxPerSet = (INT_MAX - 1) / 2;
    if (cMaxInUse > cMaxPerSet)
        cMaxInUse = cMaxPerSet;
    if (cMaxInUse < 0)
        cMaxInUse = 0;
    for (int k = 0; k < 2; ++k) {
        Set* ps = &_mpSet[k];
        ps->_i = k;
        ps->_iLim = 2 * cMaxInUse + k;
        ps->_c = 0;
        FEX_ASSERT(ps->_iLim > ps->_i, "ps->_iLim > ps->_i", szSrc, 69);
    }
}
