#include "dag.h"

#include "fexassert.h"
#include "fifobase.h"

static const char szSrc[] = "dag";

namespace {

// The index of a successor named by pFi; it must be an element of the array.
int index(const void* pBase, size_t s, int c, const void* pObj)
{
    const char* pch = static_cast<const char*>(pObj);
    const char* pchBase = static_cast<const char*>(pBase);
    bool fIn = pch >= pchBase && pch < pchBase + size_t(c) * s && size_t(pch - pchBase) % s == 0;
    FEX_ASSERT(fIn, "successor inside the array", szSrc, 17);
    return static_cast<int>(size_t(pch - pchBase) / s);
}

}  // namespace

int tsort(void* pBase, size_t s, int* pList, int* pInd, int c, PF_TSSI pFs, PF_TSIT pFi, void* pIter)
{
    // Nothing to order.
    if (c <= 0)
        return 0;
    char* pchBase = static_cast<char*>(pBase);
    auto pElem = [&](int i) { return static_cast<void*>(pchBase + size_t(i) * s); };

    for (int i = 0; i < c; ++i)
        pInd[i] = 0;
    for (int i = 0; i < c; ++i) {
        pFs(pElem(i), pIter, -1, -1);
        while (void* pSucc = pFi(pElem(i), pIter))
            ++pInd[index(pBase, s, c, pSucc)];
    }

    // Each index enters the FIFO once and the FIFO starts at slot 0, so pList
    // ends up holding the order.
    FifoBase ff(c);
    for (int j = 0; j < c; ++j) {
        pFs(pElem(j), nullptr, -1, pInd[j]);
        if (pInd[j] == 0)
            pList[ff.iPut()] = j;
    }
    int n = 0;
    while (!ff.ffEmpty()) {
        int j = pList[ff.iGet()];
        pFs(pElem(j), pIter, n, -1);
        while (void* pSucc = pFi(pElem(j), pIter)) {
            int k = index(pBase, s, c, pSucc);
            if (pInd[k]-- == 1)
                pList[ff.iPut()] = k;
        }
        ++n;
    }
    return n != c ? 1 : 0;
}
