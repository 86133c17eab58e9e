// Slot arithmetic of a circular FIFO over an array that the caller owns.
#pragma once

#include <cstdint>

#include "kvexport.h"

struct FifoIter {
    int32_t _c;  // elements still to visit
    int32_t _i;  // slot index
};

class FEXROL_API FifoBase {
public:
    // Empty, capacity c (above 0), oldest slot 0.
    explicit FifoBase(int c);

    int ffEmpty() const { return _cElCur == 0; }
    int ffFull() const { return _cElCur == _cElMax; }

    // The slot to write; *pfWasEmpty (when given) tells whether it was empty.
    int iPut(int* pfWasEmpty = nullptr);
    // The slot to read, the oldest; *pfWasFull tells whether it was full.
    int iGet(int* pfWasFull = nullptr);
    // Takes the newest element back and returns its slot.
    int iUnput(int* pfWasFull = nullptr);

    void strtIterHT(FifoIter* pit) const;
    void strtIterTH(FifoIter* pit) const { strtIterHT(pit); }
    // Oldest to newest; -1 at the end.
    int iterHT(FifoIter* pit) const;
    // Newest to oldest; -1 at the end.
    int iterTH(FifoIter* pit) const;

    int cEl() const { return _cElCur; }
    int cElMax() const { return _cElMax; }

private:
    int slot(int iOffset) const;

    int32_t _cElCur;
    int32_t _cElMax;
    int32_t _iData;
};
