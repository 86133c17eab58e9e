// The C++ runtime pieces the compiler calls and the kernel does not have:
// operator new and delete on the driver's pool, and the call of a pure
// virtual function. Only the driver image (and its stand-in module) carries
// them; tests that link the driver code keep their own.
#include "wm.h"

void* operator new(size_t cb)
{
    return wmNew(cb);
}

void* operator new[](size_t cb)
{
    return wmNew(cb);
}

void operator delete(void* pv) noexcept
{
    wmDelete(pv);
}

void operator delete[](void* pv) noexcept
{
    wmDelete(pv);
}

void operator delete(void* pv, size_t) noexcept
{
    wmDelete(pv);
}

void operator delete[](void* pv, size_t) noexcept
{
    wmDelete(pv);
}

extern "C" void __cxa_pure_virtual()
{
    wmPureVirtual();
}
