// Sample counter with overflow detection, and functions on index vectors: an
// index vector is an array of cDim indices into a cDim-dimensional array
// whose dimension sizes are given by piDim (dimension 0 first).
#pragma once

#include <cstdint>
#include <iosfwd>

#include "kvexport.h"

class FEXROL_API Counter {
public:
    Counter() : _fOverflow(false), _c(0), _n(0) {}

    // Adds a sample of value n; once the sum or the count has wrapped the
    // counter is overflowed and ignores every further sample.
    void sample(unsigned n);
    bool isOverflow() const { return _fOverflow; }
    uint32_t sum() const { return _c; }
    uint32_t count() const { return _n; }

private:
    void setOverflow() { _fOverflow = true; }

    bool _fOverflow;
    uint32_t _c;
    uint32_t _n;
};

// "####" when overflowed, else sum/count and, with samples, the mean in
// parentheses: 7/3(2.33333).
FEXROL_API std::ostream& operator<<(std::ostream& os, const Counter& cnt);

// Linear index with dimension 0 varying fastest.
FEXROL_API int ltrans(const int* piDim, const int* pi, int cDim);
// Linear index with the last dimension varying fastest.
FEXROL_API int ltransr(const int* piDim, const int* pi, int cDim);
// Inverse of ltrans.
FEXROL_API void vtrans(int* pi, const int* piDim, int iLin, int cDim);
// Number of elements: the product of all dimension sizes.
FEXROL_API int lcnt(const int* piDim, int cDim);
// Odometer step, dimension 0 fastest: returns the dimension incremented, or
// cDim when every index wrapped to 0.
FEXROL_API int inc(int* pi, const int* piDim, int cDim);
FEXROL_API void copy(int* piDst, const int* piSrc, int cDim);
FEXROL_API int eq(int* piL, int* piR, int cDim);
// The smaller (greater) vector, the last dimension most significant; piL
// when both are equal. piDim is not used.
FEXROL_API const int* min(const int* piL, const int* piR, const int* piDim, int cDim);
FEXROL_API const int* max(const int* piL, const int* piR, const int* piDim, int cDim);
// The first c indices to 0 (floor) or to their highest value (ceill).
FEXROL_API void floor(int* pi, int c, const int* piDim, int cDim);
FEXROL_API void ceill(int* pi, int c, const int* piDim, int cDim);
