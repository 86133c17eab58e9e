// Waiting in a test for what another thread is to do: on the condition, with
// a generous bound, never a fixed sleep.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kvtest {

// The bound of a wait for what another thread is to do: generous for the
// sanitizer builds on a loaded machine (a wait that holds ends at once), and
// below the stand-in kernel's wait watchdog (10 s), so that a wait that fails
// while another thread waits in the kernel fails the test instead of the
// watchdog ending the program.
constexpr std::chrono::seconds kWaitBound{5};

// Polls f, a millisecond apart, until it holds or the bound has passed;
// whether it held.
inline bool eventually(const std::function<bool()>& f, std::chrono::milliseconds bound = kWaitBound)
{
    const auto tEnd = std::chrono::steady_clock::now() + bound;
    while (!f()) {
        if (std::chrono::steady_clock::now() >= tEnd)
            return f();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kvtest
