// Knobs of the Win32 stand-in for tests. The clock has its own header,
// kv_clock.h.
#pragma once

#ifdef KERNEL32_EXPORTS
#define KV_W32TEST_API __attribute__((visibility("default")))
#else
#define KV_W32TEST_API
#endif

namespace kvwin32 {

// _kbhit returns v from now on (0: no key waits).
KV_W32TEST_API void setKbhit(int v);
// _kbhit returns 0 for the next n calls and 1 from then on.
KV_W32TEST_API void setKbhitAfter(unsigned n);

}  // namespace kvwin32
