#include "stats.h"

#include <climits>
#include <cstdint>

#include "fexassert.h"

static const char szSrc[] = "vtrans";

namespace {

// Products of dimension sizes are taken in 64 bits and held within
// [-2^31, 2^31]: past every int value a product only has to stay out of
// range, and it never overflows.
const int64_t cMaxProduct = int64_t(INT_MAX) + 1;

int64_t times(int64_t d, int iDim)
{
    int64_t p = d * iDim;
    if (p > cMaxProduct)
        return cMaxProduct;
    if (p < -cMaxProduct)
        return -cMaxProduct;
    return p;
}

}  // namespace

int ltrans(const int* piDim, const int* pi, int cDim)
{
    uint64_t iLin = 0;  // wraps instead of overflowing
    int64_t d = 1;
    for (int i = 0; i < cDim; ++i) {
        FEX_ASSERT(pi[i] < piDim[i], "pi[i]<piDim[i]", szSrc, 10);
        iLin += static_cast<uint64_t>(pi[i]) * static_cast<uint64_t>(d);
        d = times(d, piDim[i]);
    }
    return static_cast<int>(iLin);
}

int ltransr(const int* piDim, const int* pi, int cDim)
{
    uint64_t iLin = 0;  // wraps instead of overflowing
    int64_t d = 1;
    for (int i = cDim - 1; i >= 0; --i) {
        FEX_ASSERT(pi[i] < piDim[i], "pi[i]<piDim[i]", szSrc, 23);
        iLin += static_cast<uint64_t>(pi[i]) * static_cast<uint64_t>(d);
        d = times(d, piDim[i]);
    }
    return static_cast<int>(iLin);
}

void vtrans(int* pi, const int* piDim, int iLin, int cDim)
{
    // The range is checked first: a zero size would divide by zero.
    int64_t d = 1;
    for (int i = 0; i < cDim; ++i)
        d = times(d, piDim[i]);
    FEX_ASSERT(iLin >= 0 && iLin < d, "iLin >= 0 && iLin<d", szSrc, 40);
    d = 1;
    for (int i = 0; i < cDim; ++i) {
        int64_t dNext = times(d, piDim[i]);
        pi[i] = static_cast<int>((iLin % dNext) / d);
        d = dNext;
    }
}

int lcnt(const int* piDim, int cDim)
{
    int64_t p = 1;
    for (int i = 0; i < cDim; ++i) {
        p = times(p, piDim[i]);
        // A product past the int range is an overflow as well.
        FEX_ASSERT(p > 0 && p <= INT_MAX, "p>0", szSrc, 48);
    }
    return static_cast<int>(p);
}

int inc(int* pi, const int* piDim, int cDim)
{
    for (int i = 0; i < cDim; ++i) {
        if (pi[i] + 1 < piDim[i]) {
            ++pi[i];
            return i;
        }
        pi[i] = 0;
    }
    return cDim;
}

void copy(int* piDst, const int* piSrc, int cDim)
{
    for (int i = 0; i < cDim; ++i)
        piDst[i] = piSrc[i];
}

int eq(int* piL, int* piR, int cDim)
{
    for (int i = 0; i < cDim; ++i) {
        if (piL[i] != piR[i])
            return 0;
    }
    return 1;
}

const int* min(const int* piL, const int* piR, const int*, int cDim)
{
    for (int i = cDim - 1; i >= 0; --i) {
        if (piL[i] != piR[i])
            return piL[i] < piR[i] ? piL : piR;
    }
    return piL;
}

const int* max(const int* piL, const int* piR, const int*, int cDim)
{
    for (int i = cDim - 1; i >= 0; --i) {
        if (piL[i] != piR[i])
            return piL[i] > piR[i] ? piL : piR;
    }
    return piL;
}

void floor(int* pi, int c, const int*, int cDim)
{
    FEX_ASSERT(c <= cDim, "c <= cDim", szSrc, 115);
    for (int i = 0; i < c; ++i)
        pi[i] = 0;
}

void ceill(int* pi, int c, const int* piDim, int cDim)
{
    FEX_ASSERT(c <= cDim, "c <= cDim", szSrc, 125);
    for (int i = 0; i < c; ++i)
        pi[i] = piDim[i] - 1;
}
