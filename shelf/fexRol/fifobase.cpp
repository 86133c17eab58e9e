#include "fifobase.h"

#include "fexassert.h"

static const char szSrc[] = "fifobase";

int FifoBase::iGet(int* pfWasFull)
{
    FEX_ASSERT(!ffEmpty(), "!ffEmpty()", szSrc, 9);
    int i = _iData;
    _iData = slot(1);
    if (pfWasFull)
        *pfWasFull = ffFull();
    --_cElCur;
    return i;
}

int FifoBase::iUnput(int* pfWasFull)
{
    FEX_ASSERT(!ffEmpty(), "!ffEmpty()", szSrc, 19);
    if (pfWasFull)
        *pfWasFull = ffFull();
    --_cElCur;
    return slot(_cElCur);
}

int FifoBase::iPut(int* pfWasEmpty)
{
    FEX_ASSERT(!ffFull(), "!ffFull()", szSrc, 31);
    if (pfWasEmpty)
        *pfWasEmpty = ffEmpty();
    return slot(_cElCur++);
}

void FifoBase::strtIterHT(FifoIter* pit) const
{
    pit->_c = _cElCur;
    pit->_i = _iData;
}

int FifoBase::iterHT(FifoIter* pit) const
{
    if (pit->_c <= 0)
        return -1;
    int i = pit->_i;
    pit->_i = static_cast<int>((int64_t(i) + 1) % _cElMax);
    --pit->_c;
    return i;
}

int FifoBase::iterTH(FifoIter* pit) const
{
    if (pit->_c <= 0)
        return -1;
    --pit->_c;
    return static_cast<int>((int64_t(pit->_i) + pit->_c) % _cElMax);
}

int FifoBase::slot(int iOffset) const
{
    // In 64 bits: oldest slot plus count may pass the int range.
    return static_cast<int>((int64_t(_iData) + iOffset) % _cElMax);
}

FifoBase::FifoBase(int c) : _cElCur(0), _cElMax(c), _iData(0)
{
    // A negative capacity would never be full and hand out slots without end.
    FEX_ASSERT(c > 0, "c", szSrc, 68);
}
