// Waiting in a test for what another thread is to do: on the condition, with
// a generous bound, never a fixed sleep.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kvtest {

// Polls f until it holds or the bound passes; returns f().
inline bool eventually(const std::function<bool()>& f, std::chrono::seconds bound = std::chrono::seconds(20))
{
    auto end = std::chrono::steady_clock::now() + bound;
    while (!f() && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    return f();
}

}  // namespace kvtest
