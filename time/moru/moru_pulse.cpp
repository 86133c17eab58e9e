// The pulse queue and its 6-byte pulse records.
#include "fexassert.h"
#include "moru.h"
#include "moru_texts.h"

namespace KVdepMoru100 {

void PulseMode::pulse(char* mpch, const TiCore* ptc)
{
    FEX_ASSERT(size(), "size()", szSrcMoru, 505);
    PulseLine pl = front();
    pop_front();
    // The tick conversion only asserts against durations it cannot convert.
    if (!fitsTicks(pl)) {
        setFailed(szPulseRange, static_cast<int>(pl.tv_sec));
        return;
    }
    uint32_t t = ticks(pl, ptc);
    if (t != 0)
        --t;
    mpch[0] = 0;
    mpch[1] = pl.fChip() ? 1 : 0;
    mpch[2] = static_cast<char>(t >> 24);
    mpch[3] = static_cast<char>(t >> 16);
    mpch[4] = static_cast<char>(t >> 8);
    mpch[5] = static_cast<char>(t);
}

}  // namespace KVdepMoru100
