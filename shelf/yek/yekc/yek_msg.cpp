// Caller data areas, pooled message buffers and the copies between them.
#include "yek_driver.h"

#include <algorithm>
#include <cstring>
#ifndef KV_KERNEL
#include <ostream>
#endif

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_driver";

// Bytes the area holds; a limit at or below the base is no room.
static size_t cRoomOf(const YekData& ud)
{
    return cDataOf(YekMemStruct{nullptr, ud._pchLimBuf, ud._pchBase});
}

void YekData::setSize(const YekMemStruct& m)
{
    _pchLimDat = _pchBase + std::min(cDataOf(m), cRoomOf(*this));
}

YekMsgBuf::YekMsgBuf() : YekBuf(_mpchData, sizeof _mpchData)
{
    std::memset(_mpchData, 0xA5, sizeof _mpchData);
    init(static_cast<YekControlBuf*>(this), static_cast<YekBuf*>(this));
}

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, YekMsgBuf& mb)
{
    return os << *mb.puc() << ' ' << static_cast<const void*>(mb.pub()) << '\n';
}
#endif

YekData* copy(YekData* pud, const YekMsgBuf* pmu)
{
    size_t c = pmu->cDone();
    if (c != 0) {
        FEX_ASSERT(pud->_pchBase && c <= cRoomOf(*pud),
                   "pud->_pchBase && c <= pud->_pchLimBuf-pud->_pchBase", szSrc, 28);
        std::memcpy(pud->_pchBase, pmu->pchBase(), c);
    }
    pud->_pchLimDat = pud->_pchBase + c;
    return pud;
}

YekBuf* copy(YekMsgBuf* pum, const YekData* pud)
{
    size_t c = pud->cData();
    FEX_ASSERT(pum->pchBase() && c <= pum->cMax(), "pum->pchBase() && c <= pum->cMax()", szSrc, 39);
    if (c != 0)
        std::memcpy(pum->pchBase(), pud->_pchBase, c);
    pum->setCount(c);
    return pum;
}

}  // namespace KVdepYek100
