// The probe and lock of a user buffer under an exception handler: the
// kernel's MmProbeAndLockPages raises an exception on a range it refuses.
#pragma once

#include <wdm.h>

// MmProbeAndLockPages of the MDL: STATUS_SUCCESS when the pages are locked,
// else the failure status of the exception it raised (nothing is locked).
// The kernel image has it as a routine of its own with a structured
// exception handler (wm_probe_x64.S); the stand-in build catches the
// stand-in's exception (wm_probe.cpp).
extern "C" NTSTATUS wmProbeAndLock(PMDL pmdl, KPROCESSOR_MODE mode, LOCK_OPERATION op);
