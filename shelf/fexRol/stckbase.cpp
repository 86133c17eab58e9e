#include "stckbase.h"

#include "fexassert.h"

static const char szSrc[] = "stckbase";

int StackBase::iPop(int* pfWasFull)
{
    FEX_ASSERT(!stEmpty(), "!stEmpty()", szSrc, 9);
    if (pfWasFull)
        *pfWasFull = stFull();
    return --_iSp;
}

int StackBase::iPop()
{
    FEX_ASSERT(!stEmpty(), "!stEmpty()", szSrc, 19);
    return --_iSp;
}

int StackBase::iPush(int* pfWasEmpty)
{
    FEX_ASSERT(!stFull(), "!stFull()", szSrc, 27);
    if (pfWasEmpty)
        *pfWasEmpty = stEmpty();
    return _iSp++;
}

int StackBase::iPush()
{
    FEX_ASSERT(!stFull(), "!stFull()", szSrc, 36);
    return _iSp++;
}

StackBase::StackBase(int c) : _iSp(0), _cElMax(c)
{
    // A negative capacity would never be full and hand out slots without end.
    FEX_ASSERT(c > 0, "c", szSrc, 50);
}
