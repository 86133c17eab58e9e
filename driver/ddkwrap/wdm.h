// The toolchain's <ddk/wdm.h> for the kernel image, in C++. The toolchain's
// compiler intrinsics (intrin.h, which wdm.h includes) define
// InterlockedBitTestAndSet and InterlockedBitTestAndReset with another
// linkage than wdm.h's own inline versions: the intrinsics' are left out, so
// that wdm.h's stand. ReadAcquire and ReadPointerAcquire, which the driver
// reads shared words with, are missing from it: on x64 a load is an acquire.
#pragma once

#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ddk/wdm.h>

FORCEINLINE LONG ReadAcquire(LONG const volatile* Source)
{
    return __atomic_load_n(Source, __ATOMIC_ACQUIRE);
}

FORCEINLINE PVOID ReadPointerAcquire(PVOID const volatile* Source)
{
    return __atomic_load_n(Source, __ATOMIC_ACQUIRE);
}
