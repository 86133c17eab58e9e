// The runtime library's calls that the system uses and the C library of this
// machine does not have under these names.
#pragma once

#ifdef KERNEL32_EXPORTS
#define KV_CRTAPI extern "C" __attribute__((visibility("default")))
#else
#define KV_CRTAPI extern "C"
#endif

// A copy of sz in memory from malloc (release it with free); null for null.
KV_CRTAPI char* _strdup(const char* sz);
// Console keyboard poll: non-zero while a key press waits (set by tests
// through kv_win32_test.h; no key ever waits otherwise).
KV_CRTAPI int _kbhit(void);
