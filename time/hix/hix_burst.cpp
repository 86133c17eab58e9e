// The thirteen exported functions: each takes the instance index first and
// works on that instance alone.
#include "hix_burst.h"

#include <cstdint>

#include "libinit.h"

namespace {

const char* const szBadIndex = "index out of range";

}  // namespace

int hix_burst_init(int i, int fSim) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_init(fSim); }

int hix_burst_fini(int i) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_fini(); }

int hix_burst_set_param_int(int i, const char* sz, int n)
{
    return LibInitializer::bad_index(i) ? -1 : pta(i)->set_param_int(sz, n);
}

int hix_burst_set_param_double(int i, const char* sz, double rd)
{
    return LibInitializer::bad_index(i) ? -1 : pta(i)->set_param_double(sz, rd);
}

int hix_burst_arm(int i) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_arm(); }

int hix_burst_trigger(int i) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_trigger(); }

int hix_burst_loop(int i) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_loop(); }

int hix_burst_get_count(int i, int* pn) { return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_get_count(pn); }

int hix_burst_get_counts(int i, int* pn, int* pm)
{
    return LibInitializer::bad_index(i) ? -1 : pta(i)->hix_get_counts(pn, pm);
}

int hix_failed(int i)
{
    if (LibInitializer::bad_index(i))
        return -1;
    return pta(i)->isFail() ? 1 : 0;
}

const char* hix_errortext(int i)
{
    if (LibInitializer::bad_index(i))
        return szBadIndex;
    const char* sz = pta(i)->szErr();
    return sz ? sz : "";
}

int hix_errorcode(int i)
{
    if (LibInitializer::bad_index(i))
        return -1;
    // Up to four characters shifted in from the right, as unsigned bytes.
    const char* sz = pta(i)->szErr();
    uint32_t u = 0;
    for (int k = 0; sz && k < 4 && sz[k] != '\0'; ++k)
        u = u << 8 | static_cast<unsigned char>(sz[k]);
    return static_cast<int>(u);
}

int hix_diagcode(int i) { return LibInitializer::bad_index(i) ? -1 : pta(i)->iErr(); }
