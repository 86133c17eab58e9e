#include <cstring>

#include "dag.h"
#include "fexassert.h"

static const char szSrc[] = "sort";

int uniq(void* pBase, size_t cElem, size_t s, int (*pFCmp)(const void*, const void*), void (*pFDel)(void*))
{
    if (cElem == 0)
        return 0;
    FEX_ASSERT(pBase && s > 0 && pFCmp, "pBase && s>0 && pFCmp", szSrc, 13);
    char* pchBase = static_cast<char*>(pBase);
    char* pchLast = pchBase;
    for (size_t i = 1; i < cElem; ++i) {
        char* pchNext = pchBase + i * s;
        if (pFCmp(pchNext, pchLast) == 0) {
            if (pFDel)
                pFDel(pchNext);
            continue;
        }
        pchLast += s;
        if (pchLast != pchNext)
            std::memcpy(pchLast, pchNext, s);
    }
    return static_cast<int>((pchLast - pchBase) / s + 1);
}
