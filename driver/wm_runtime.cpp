// What the kernel has in place of the C++ library's allocation and
// pure-virtual report.
#include "wm.h"

static const char szSrc[] = "wm";

namespace {

const ULONG uTagNew = 0x6E71766B;  // 'kvqn'

}  // namespace

void* wmNew(size_t cb)
{
    return ExAllocatePoolWithTag(ePoolWm, cb, uTagNew);
}

void wmDelete(void* pv)
{
    // The kernel stops on a free of null; delete of null does nothing.
    if (pv)
        ExFreePoolWithTag(pv, uTagNew);
}

void wmPureVirtual()
{
    wmAssert("pure virtual call", szSrc, __LINE__);
}
