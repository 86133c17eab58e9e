// The probe under the stand-in kernel, whose refused probe throws its form
// of a structured exception.
#include "wm_probe.h"

extern "C" NTSTATUS wmProbeAndLock(PMDL pmdl, KPROCESSOR_MODE mode, LOCK_OPERATION op)
{
    KV_TRY
    {
        MmProbeAndLockPages(pmdl, mode, op);
    }
    KV_EXCEPT
    {
        return STATUS_ACCESS_VIOLATION;
    }
    return STATUS_SUCCESS;
}
