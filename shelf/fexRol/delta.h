// Version numbers from two alternating sets, so that any two live versions
// can be ordered: set 0 hands out even versions, set 1 odd versions.
#pragma once

#include <cstdint>

#include "kvexport.h"

typedef int32_t vers_t;

const vers_t VERS_NIL = -1;     // no version: alloc found none left
const vers_t VERS_ABOVE = -2;   // a version above every other
const vers_t VERS_BELOW = -3;   // a version below every other

class FEXROL_API VersPool {
public:
    struct Set {
        int32_t _i;     // next version to hand out
        int32_t _iLim;  // end of the set
        int32_t _c;     // versions of this set in use
    };

    // cMaxInUse (at least 1) versions per set.
    explicit VersPool(int cMaxInUse);

    // _psCur points into the pool's own sets.
    VersPool(const VersPool&) = delete;
    VersPool& operator=(const VersPool&) = delete;

    // A new version, newer than every live one; VERS_NIL when none is left.
    vers_t alloc();
    // Gives v back; the special (negative) versions are not handed out and
    // are ignored.
    void free(vers_t v);
    // 1 when vsL is older than vsR.
    int lt(vers_t vsL, vers_t vsR);

    Set _mpSet[2];
    Set* _psCur;

private:
    Set* set(vers_t v) { return &_mpSet[v & 1]; }
};
