// The machine's clock as the stand-in platform sees it: time since system
// start, in units of 100 ns. By default it follows the machine's monotonic
// clock. A test can switch it to a manual clock that stands still until the
// test (or a Sleep or a kernel delay) advances it, so that every
// time-dependent behaviour is deterministic.
//
// One clock serves the whole process: the Win32 time calls, Sleep and the
// stand-in kernel's tick count and delays all read it.
#pragma once

#include <cstdint>

#ifdef KVCLOCK_EXPORTS
#define KVCLOCK_API __attribute__((visibility("default")))
#else
#define KVCLOCK_API
#endif

namespace kvclock {

constexpr uint64_t kUnitsPerMs = 10000;  // 100 ns units in one millisecond

// Time since system start in 100 ns units (manual or machine clock).
KVCLOCK_API uint64_t now100ns();
inline uint64_t nowMs() { return now100ns() / kUnitsPerMs; }

// Switches to the manual clock, standing at the given time.
KVCLOCK_API void setManual100ns(uint64_t t);
inline void setManualMs(uint64_t ms) { setManual100ns(ms * kUnitsPerMs); }

// Moves the manual clock on; does nothing while the machine clock is in use.
KVCLOCK_API void advance100ns(uint64_t dt);
inline void advanceMs(uint64_t ms) { advance100ns(ms * kUnitsPerMs); }

// Back to the machine's monotonic clock.
KVCLOCK_API void useMachine();

KVCLOCK_API bool isManual();

// Lets the current thread wait dt: on the manual clock the clock is advanced
// and the thread only yields, on the machine clock it really sleeps.
KVCLOCK_API void delay100ns(uint64_t dt);

// A manual clock for the length of a scope (a test), then the machine clock.
class ManualClock {
public:
    explicit ManualClock(uint64_t ms = 0) { setManualMs(ms); }
    ~ManualClock() { useMachine(); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;
};

}  // namespace kvclock
