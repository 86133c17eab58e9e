// The data cursor and the moves between a cursor and streams, strings or memory.
#include "yek.h"

#include <algorithm>

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek";

size_t cDataOf(const YekMemStruct& m)
{
    // The record may come from the driver or the host: compare the addresses
    // as numbers, a limit below the base is no data.
    uintptr_t uBase = reinterpret_cast<uintptr_t>(m._pchBase);
    uintptr_t uLim = reinterpret_cast<uintptr_t>(m._pchLimDat);
    return uLim > uBase ? static_cast<size_t>(uLim - uBase) : 0;
}

void YekBuf::setLimit(size_t s)
{
    // The count can come from the driver or the host: never past the area.
    _pch = pchBase();
    _pchLimDat = pchBase() + std::min(s, cMax());
}

void YekBuf::setSize(const YekMemStruct& m)
{
    setLimit(cDataOf(m));
}

#ifndef KV_KERNEL
size_t getbuf(std::streambuf* psb, YekBuf* pug)
{
    size_t c = 0;
    while (pug->sgetc() != -1) {
        psb->sputc(static_cast<char>(pug->sbumpc_checked()));
        ++c;
    }
    return c;
}
#endif

size_t getbuf(char* pchBase, size_t sMax, YekBuf* pug)
{
    size_t cMax = std::min(sMax, SZ_DATA_MAX);
    size_t c = 0;
    while (c < cMax && pug->sgetc() != -1)
        pchBase[c++] = static_cast<char>(pug->sbumpc_checked());
    return c;
}

#ifndef KV_KERNEL
size_t putbuf(YekBuf* pup, const std::string& sg)
{
    size_t cMax = std::min(sg.size(), SZ_DATA_MAX);
    for (size_t k = 0; k < cMax; ++k) {
        FEX_ASSERT(pup->canput(), "pup->canput()", szSrc, 96);
        pup->sputc(sg[k]);
    }
    return cMax;
}
#endif

size_t putbuf(YekBuf* pup, const char* pchBase, size_t s)
{
    size_t cMax = std::min(s, SZ_DATA_MAX);
    for (size_t k = 0; k < cMax; ++k) {
        FEX_ASSERT(pup->canput(), "pup->canput()", szSrc, 116);
        pup->sputc(pchBase[k]);
    }
    return cMax;
}

}  // namespace KVdepYek100
