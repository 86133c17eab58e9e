#include "kv_clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <thread>

namespace kvclock {
namespace {

std::atomic<bool> g_fManual{false};
std::atomic<uint64_t> g_tManual{0};

uint64_t machine100ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 10000000u + uint64_t(ts.tv_nsec) / 100u;
}

}  // namespace

uint64_t now100ns()
{
    return g_fManual.load() ? g_tManual.load() : machine100ns();
}

void setManual100ns(uint64_t t)
{
    g_tManual.store(t);
    g_fManual.store(true);
}

void advance100ns(uint64_t dt)
{
    if (g_fManual.load())
        g_tManual.fetch_add(dt);
}

void useMachine() { g_fManual.store(false); }

bool isManual() { return g_fManual.load(); }

void delay100ns(uint64_t dt)
{
    if (g_fManual.load()) {
        g_tManual.fetch_add(dt);
        std::this_thread::yield();
        return;
    }
    timespec ts{};
    ts.tv_sec = time_t(dt / 10000000u);
    ts.tv_nsec = long(dt % 10000000u) * 100;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace kvclock
