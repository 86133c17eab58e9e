// Integer state holder of the small state machines.
#pragma once

#include <cstdint>

#include "kvexport.h"

class FEXROL_API SmM {
public:
    explicit SmM(int e) : _e(e) {}

    int eState() const { return _e; }
    bool isState(int e) const { return _e == e; }
    int setState(int e) { return _e = e; }
    // Sets eNew in any case; 1 when the state before was ePrev.
    int wasState(int eNew, int ePrev)
    {
        int f = _e == ePrev ? 1 : 0;
        _e = eNew;
        return f;
    }
    // Test and set: only from ePrev to eNew.
    int changeState(int eNew, int ePrev)
    {
        if (_e != ePrev)
            return 0;
        _e = eNew;
        return 1;
    }

    int32_t _e;
};
