// The host's callback table and the environment that forwards to it.
#pragma once

#include "yek_driver.h"

// Host callbacks, in this order: the absolute time of the host's next clock
// tick, up messages waiting on the host channel with a handle, and room for
// down messages on it.
struct YekEnvC {
    void (*_pFtiNextTick)(YekTimespec* pts);
    void (*_pFsigGet)(int iCtx, void* h);
    void (*_pFsigPut)(int iCtx, void* h);
};

namespace KVdepYek100 {

// A host environment made of the callback table (not owned). A missing table
// or callback does nothing; the host time then stays zero.
class YEKC_API YekEnvRed : public YekEnv {
public:
    explicit YekEnvRed(const YekEnvC* pueC) : _pueC(pueC) {}

    // The host's next tick plus ti.
    Time tiNext(const Time& ti) override;
    void sigGet(int iCtx, YekChanKern* pcn) override;
    void sigPut(int iCtx, YekChanKern* pcn) override;

    const YekEnvC* _pueC;
};

}  // namespace KVdepYek100
