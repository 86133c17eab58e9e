// Slot arithmetic of a stack over an array that the caller owns.
#pragma once

#include <cstdint>

#include "kvexport.h"

class FEXROL_API StackBase {
public:
    struct Iter {
        int32_t _i;  // next slot
    };

    // Empty, capacity c (above 0).
    explicit StackBase(int c);

    int stEmpty() const { return _iSp == 0; }
    int stFull() const { return _iSp == _cElMax; }

    // The slot to write; *pfWasEmpty tells whether the stack was empty.
    int iPush(int* pfWasEmpty);
    int iPush();
    // The slot to read, the top; *pfWasFull tells whether it was full.
    int iPop(int* pfWasFull);
    int iPop();

    void strtIterBT(Iter* pit) const { pit->_i = 0; }
    // Bottom to top; -1 at the end.
    int iterBT(Iter* pit) const { return pit->_i < _iSp ? pit->_i++ : -1; }

    int cEl() const { return _iSp; }
    int cElMax() const { return _cElMax; }

private:
    int32_t _iSp;
    int32_t _cElMax;
};
