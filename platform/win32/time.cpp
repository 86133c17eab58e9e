// Win32 time calls over the platform clock.
#include <windows.h>

#include "kv_clock.h"

DWORD WINAPI GetTickCount(void) { return DWORD(kvclock::nowMs()); }

ULONGLONG WINAPI GetTickCount64(void) { return kvclock::nowMs(); }

void WINAPI Sleep(DWORD dwMilliseconds)
{
    kvclock::delay100ns(uint64_t(dwMilliseconds) * kvclock::kUnitsPerMs);
}
