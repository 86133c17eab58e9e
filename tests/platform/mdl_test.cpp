// The probe refuses what the platform's kernel would refuse, and never touches
// the memory it looks at (an unreadable page here would end the test).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_kernel.h"
#include "user_probe.h"

namespace {

using kvtest::Pages;
using kvtest::probe;

TEST(PlatformProbe, RefusesWhatTheKernelWouldRefuse)
{
    kstub::Kernel k;
    Pages pg(4);
    ASSERT_NE(pg.p, MAP_FAILED);
    char* p = pg.p;
    ASSERT_EQ(mprotect(p + 1 * PAGE_SIZE, PAGE_SIZE, PROT_READ), 0);  // page 1 read-only
    ASSERT_EQ(mprotect(p + 2 * PAGE_SIZE, PAGE_SIZE, PROT_NONE), 0);  // page 2 no access
    char stack[64];
    struct Row {
        const char* what;
        uintptr_t va;
        ULONG cb;
        LOCK_OPERATION op;
        bool fOk;
    };
    auto a = [](const void* q) { return reinterpret_cast<uintptr_t>(q); };
    const Row rows[] = {
        {"stack buffer, modify", a(stack), sizeof stack, IoModifyAccess, true},
        {"mapped page, write", a(p), PAGE_SIZE, IoWriteAccess, true},
        {"read-only page, read", a(p + PAGE_SIZE), 16, IoReadAccess, true},
        {"read-only page, write", a(p + PAGE_SIZE), 16, IoWriteAccess, false},
        {"read-only page, modify", a(p + PAGE_SIZE), 16, IoModifyAccess, false},
        {"writable into read-only", a(p + PAGE_SIZE - 8), 16, IoModifyAccess, false},
        {"no-access page", a(p + 2 * PAGE_SIZE), 1, IoReadAccess, false},
        {"null page", 0x10, 4, IoReadAccess, false},
        {"below 64 KiB", 0xFFF0, 4, IoReadAccess, false},
        {"kernel half", 0xFFFF800000001000ull, 16, IoReadAccess, false},
        {"just past the user half", 0x800000000000ull, 16, IoReadAccess, false},
        {"wraps around", 0xFFFFFFFFFFFFFFF0ull, 0x100, IoReadAccess, false},
        {"sign-extended 32-bit", 0xFFFFFFFF80000000ull, 16, IoReadAccess, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(probe(reinterpret_cast<void*>(r.va), r.cb, UserMode, r.op), r.fOk) << r.what;
    // An unmapped page, and a range that runs from a mapped page into it.
    ASSERT_EQ(mprotect(p + 2 * PAGE_SIZE, PAGE_SIZE, PROT_READ | PROT_WRITE), 0);
    ASSERT_TRUE(pg.unmap(3));
    unsigned char vec;
    ASSERT_NE(mincore(p + 3 * PAGE_SIZE, PAGE_SIZE, &vec), 0);  // still a hole
    EXPECT_FALSE(probe(p + 3 * PAGE_SIZE, 1, UserMode, IoReadAccess));
    EXPECT_FALSE(probe(p + 3 * PAGE_SIZE - 8, 16, UserMode, IoReadAccess));
    EXPECT_TRUE(probe(p + 2 * PAGE_SIZE, PAGE_SIZE, UserMode, IoModifyAccess));
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
}

// Between the user half and the kernel half lies a hole that no page can
// fill: a touch there is no page fault but a protection fault, which says no
// address. A range that reaches it is refused before anything is touched or
// asked, whoever the caller: one in it, one that runs into it from either
// side, and one that wraps around the end.
TEST(PlatformProbe, ARangeThatReachesTheHoleBetweenTheHalvesIsRefusedUntouched)
{
    kstub::Kernel k;
    static char s_data[16];
    ASSERT_TRUE(probe(s_data, sizeof s_data, KernelMode, IoReadAccess));  // what a first probe sets up
    struct Row {
        const char* what;
        uintptr_t va;
        ULONG cb;
    };
    const Row rows[] = {
        {"its first byte", 0x0000800000000000ull, 1},
        {"its last bytes", 0xFFFF7FFFFFFFFFF0ull, 16},
        {"its middle", 0x00FF00FF00FF0000ull, 0x2000},
        {"from below into it", 0x00007FFFFFFFFFF8ull, 16},
        {"from it into the kernel half", 0xFFFF7FFFFFFFFFF8ull, 16},
        {"around the end of the address space", 0xFFFFFFFFFFFFFFF8ull, 16},
    };
    for (KPROCESSOR_MODE mode : {KernelMode, UserMode})
        for (LOCK_OPERATION op : {IoReadAccess, IoModifyAccess})
            for (const Row& r : rows) {
                SCOPED_TRACE(std::string(r.what) + (mode == KernelMode ? ", kernel mode" : ", user mode") +
                             (op == IoReadAccess ? ", read" : ", modify"));
                std::size_t cCalls = k.memory().systemCalls();
                EXPECT_FALSE(probe(reinterpret_cast<void*>(r.va), r.cb, mode, op));
                EXPECT_EQ(k.memory().systemCalls(), cCalls) << "nothing was asked or touched";
                EXPECT_FALSE(kstub::Memory::reachableWithoutTouch(reinterpret_cast<void*>(r.va), r.cb,
                                                                  op != IoReadAccess));
                EXPECT_EQ(k.memory().systemCalls(), cCalls);
            }
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
}

TEST(PlatformProbe, TestRegisteredRangesAndInjectedFailures)
{
    kstub::Kernel k;
    static char buf[256];
    k.memory().readOnly(buf + 128, 16);
    k.memory().forbid(buf + 200, 8);
    EXPECT_TRUE(probe(buf, 128, UserMode, IoModifyAccess));
    EXPECT_TRUE(probe(buf + 120, 16, UserMode, IoReadAccess));
    EXPECT_FALSE(probe(buf + 120, 16, UserMode, IoModifyAccess));
    EXPECT_FALSE(probe(buf + 190, 16, UserMode, IoReadAccess));
    k.memory().clear();
    EXPECT_TRUE(probe(buf + 190, 16, UserMode, IoReadAccess));
    k.failNext(kstub::Fault::ProbeAndLockPages);
    EXPECT_FALSE(probe(buf, 4, UserMode, IoReadAccess));
    EXPECT_TRUE(probe(buf, 4, UserMode, IoReadAccess));
    k.failNext(kstub::Fault::AllocateMdl);
    EXPECT_EQ(IoAllocateMdl(buf, 4, FALSE, FALSE, nullptr), nullptr);
    k.failNext(kstub::Fault::MapLockedPages);
    PMDL m = IoAllocateMdl(buf, 4, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(m, UserMode, IoReadAccess);
    EXPECT_EQ(MmGetSystemAddressForMdlSafe(m, NormalPagePriority), nullptr);
    MmUnlockPages(m);
    IoFreeMdl(m);
    EXPECT_EQ(k.memory().refusals(), 3u);
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
}

// Fills cb bytes at p with a pattern; returns what they hold.
std::vector<char> patterned(char* p, std::size_t cb)
{
    for (std::size_t i = 0; i < cb; ++i)
        p[i] = char(i * 7 + 3);
    return std::vector<char>(p, p + cb);
}

// The probe's touches leave every byte as it was, and probes on several
// threads at once each see their own refusals.
TEST(PlatformProbe, TouchesChangeNothingAndEachThreadSeesItsOwnRefusals)
{
    kstub::Kernel k;
    Pages pg(4);
    ASSERT_NE(pg.p, MAP_FAILED);
    char* p = pg.p;
    const std::vector<char> before = patterned(p, 2 * PAGE_SIZE);
    EXPECT_TRUE(probe(p + 5, ULONG(2 * PAGE_SIZE - 10), UserMode, IoModifyAccess));
    EXPECT_EQ(std::memcmp(before.data(), p, before.size()), 0);
    // No-access pages (a hole could be filled by the threads' own mappings).
    ASSERT_EQ(mprotect(p + 2 * PAGE_SIZE, 2 * PAGE_SIZE, PROT_NONE), 0);
    std::vector<std::thread> threads;
    std::vector<int> cWrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (probe(p + (2 + (i + t) % 2) * PAGE_SIZE, 1, UserMode, IoReadAccess))
                    ++cWrong[t];
                if (!probe(p + PAGE_SIZE * (i % 2), 8, UserMode, IoModifyAccess))
                    ++cWrong[t];
            }
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(cWrong, std::vector<int>(4, 0));
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
}

// The start of the main thread's stack, from the process's map.
uintptr_t mainStackStart()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("[stack]") != std::string::npos)
            return std::stoull(line, nullptr, 16);
    return 0;
}

bool isHole(uintptr_t va)
{
    unsigned char vec;
    return mincore(reinterpret_cast<void*>(va), PAGE_SIZE, &vec) != 0 && errno == ENOMEM;
}

// Below the main stack lies a hole that a touch would fill by growing the
// stack: the probe refuses it without touching it.
TEST(PlatformProbe, TheHoleBelowTheMainStackIsRefusedAndStaysAHole)
{
    kstub::Kernel k;
    uintptr_t start = mainStackStart();
    ASSERT_NE(start, 0u);
    uintptr_t below = start - PAGE_SIZE;
    ASSERT_TRUE(isHole(below));
    EXPECT_FALSE(probe(reinterpret_cast<void*>(below), 16, UserMode, IoReadAccess));
    EXPECT_FALSE(probe(reinterpret_cast<void*>(below + PAGE_SIZE - 8), 16, UserMode, IoModifyAccess));
    EXPECT_TRUE(isHole(below));
    EXPECT_EQ(mainStackStart(), start);
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kGuardBuild = false;  // these builds probe through memory calls
#else
constexpr bool kGuardBuild = true;
#endif

// The system calls of one probe on the calling thread, which the stand-in
// counts.
std::size_t callsOfProbe(kstub::Kernel& k, const void* va, ULONG cb, LOCK_OPERATION op, bool fOk)
{
    std::size_t cBefore = k.memory().systemCalls();
    EXPECT_EQ(probe(va, cb, UserMode, op), fOk);
    return k.memory().systemCalls() - cBefore;
}

// What a probe costs in system calls. Ordinary memory (mapped and accessible,
// away from the hole below the main stack, fault signals not blocked) costs
// one: the call that lets fault signals through the touches and tells
// whether the caller blocks them (the builds without the fault guard: the
// memory call, and for write access the call that finds it). A caller that
// blocks them, or a touch that faults, adds the call that puts the caller's
// mask back; a range in the hole below the main stack is asked about first.
TEST(PlatformProbe, TheSystemCallsOfAProbeAreCounted)
{
    kstub::Kernel k;
    Pages pg(3);
    ASSERT_NE(pg.p, MAP_FAILED);
    ASSERT_EQ(mprotect(pg.p + PAGE_SIZE, PAGE_SIZE, PROT_READ), 0);
    ASSERT_EQ(mprotect(pg.p + 2 * PAGE_SIZE, PAGE_SIZE, PROT_NONE), 0);
    std::vector<char> heap(3 * PAGE_SIZE);
    static char s_data[64];
    char stack[64] = {};
    int fd = memfd_create("kvtest-file", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, PAGE_SIZE), 0);
    void* file = mmap(nullptr, PAGE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(file, MAP_FAILED);
    EXPECT_TRUE(probe(s_data, 1, UserMode, IoReadAccess));  // what a first probe sets up
    struct Row {
        const char* what;
        const void* va;
        ULONG cb;
        LOCK_OPERATION op;
        bool fOk;
        std::size_t cGuard, cMemoryCalls;  // 0: not pinned
    };
    const uintptr_t below = mainStackStart() - PAGE_SIZE;
    const Row rows[] = {
        {"heap, three pages, read", heap.data(), ULONG(heap.size()), IoReadAccess, true, 1, 1},
        {"heap, three pages, modify", heap.data(), ULONG(heap.size()), IoModifyAccess, true, 1, 2},
        {"static data, write", s_data, sizeof s_data, IoWriteAccess, true, 1, 2},
        {"the caller's stack, modify", stack, sizeof stack, IoModifyAccess, true, 1, 2},
        {"fresh page, read", pg.p, PAGE_SIZE, IoReadAccess, true, 1, 1},
        {"fresh page, write", pg.p, PAGE_SIZE, IoWriteAccess, true, 1, 2},
        {"shared file page, modify", file, PAGE_SIZE, IoModifyAccess, true, 1, 2},
        {"read-only page, read", pg.p + PAGE_SIZE, 16, IoReadAccess, true, 1, 1},
        {"read-only page, write", pg.p + PAGE_SIZE, 16, IoWriteAccess, false, 2, 0},
        {"no-access page", pg.p + 2 * PAGE_SIZE, 1, IoReadAccess, false, 2, 1},
        {"below the main stack", reinterpret_cast<void*>(below), 16, IoReadAccess, false, 1, 1},
    };
    for (const Row& r : rows) {
        std::size_t cWant = kGuardBuild ? r.cGuard : r.cMemoryCalls;
        std::size_t c = callsOfProbe(k, r.va, r.cb, r.op, r.fOk);
        if (cWant != 0) {
            EXPECT_EQ(c, cWant) << r.what;
        }
    }
    // On a thread of its own.
    std::size_t cThread = 0;
    kvtest::JoiningThread([&] {
        char local[64] = {};
        cThread = callsOfProbe(k, local, sizeof local, IoModifyAccess, true);
    }).join();
    EXPECT_EQ(cThread, kGuardBuild ? 1u : 2u);
    // A caller that blocks fault signals gets its mask back.
    sigset_t faults, before;
    sigemptyset(&faults);
    sigaddset(&faults, SIGSEGV);
    pthread_sigmask(SIG_BLOCK, &faults, &before);
    std::size_t cBlocked = callsOfProbe(k, heap.data(), 16, IoReadAccess, true);
    sigset_t now;
    sigemptyset(&now);
    pthread_sigmask(SIG_SETMASK, &before, &now);
    EXPECT_TRUE(sigismember(&now, SIGSEGV));
    EXPECT_EQ(cBlocked, kGuardBuild ? 2u : 1u);
    munmap(file, PAGE_SIZE);
}

// The probe without touches, which the builds without the fault guard use,
// refuses what the guard refuses, called here in every build: it reads a
// byte of each page through the memory calls and finds write access without
// writing (the kernel makes the pages writable, or, where it cannot say, the
// process's map decides).
TEST(PlatformProbe, TheProbeWithoutTouchesRefusesWhatTheGuardRefuses)
{
    Pages pg(4);
    ASSERT_NE(pg.p, MAP_FAILED);
    char* p = pg.p;
    const std::vector<char> before = patterned(p, 2 * PAGE_SIZE);
    ASSERT_EQ(mprotect(p + PAGE_SIZE, PAGE_SIZE, PROT_READ), 0);
    ASSERT_EQ(mprotect(p + 2 * PAGE_SIZE, PAGE_SIZE, PROT_NONE), 0);
    const uintptr_t below = mainStackStart() - PAGE_SIZE;
    // Last, so that no allocation maps memory into the hole.
    ASSERT_TRUE(pg.unmap(3));
    ASSERT_TRUE(isHole(reinterpret_cast<uintptr_t>(p + 3 * PAGE_SIZE)));
    struct Row {
        const char* what;
        const void* va;
        std::size_t cb;
        bool fWrite, fOk;
    };
    const Row rows[] = {
        {"writable page, read", p, PAGE_SIZE, false, true},
        {"writable page, write", p + 8, 16, true, true},
        {"read-only page, read", p + PAGE_SIZE, PAGE_SIZE, false, true},
        {"read-only page, write", p + PAGE_SIZE, 16, true, false},
        {"writable into read-only, write", p + PAGE_SIZE - 8, 16, true, false},
        {"writable into read-only, read", p + PAGE_SIZE - 8, 16, false, true},
        {"no-access page, read", p + 2 * PAGE_SIZE, 1, false, false},
        {"no-access page, write", p + 2 * PAGE_SIZE, 1, true, false},
        {"unmapped page", p + 3 * PAGE_SIZE, 1, false, false},
        {"read-only into unmapped, read", p + 3 * PAGE_SIZE - 8, 16, false, false},
        {"null page", reinterpret_cast<void*>(0x10), 4, false, false},
        {"below the main stack", reinterpret_cast<void*>(below), 16, false, false},
        {"below the main stack, write", reinterpret_cast<void*>(below + PAGE_SIZE - 8), 16, true, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(kstub::Memory::reachableWithoutTouch(r.va, r.cb, r.fWrite), r.fOk) << r.what;
    EXPECT_EQ(std::memcmp(before.data(), p, before.size()), 0);
    EXPECT_TRUE(isHole(below));
}

// A write probe changes nothing another thread writes at the same time: a
// counter that one thread increments while another probes its page for write
// loses no increment.
TEST(PlatformProbe, AWriteProbeLosesNoWriteOfAnotherThread)
{
    kstub::Kernel k;
    Pages pg(2);
    ASSERT_NE(pg.p, MAP_FAILED);
    auto* pc = reinterpret_cast<uint64_t*>(pg.p);
    std::atomic<bool> fStop{false};
    uint64_t cAdded = 0;
    kvtest::JoiningThread adder(
        [&] {
            while (!fStop.load(std::memory_order_relaxed)) {
                __atomic_fetch_add(pc, 1, __ATOMIC_RELAXED);
                ++cAdded;
            }
        },
        [&] { fStop = true; });
    ASSERT_TRUE(kvtest::eventually([&] { return __atomic_load_n(pc, __ATOMIC_RELAXED) > 0; }));
    int cRefused = 0;
    for (int i = 0; i < 2000; ++i)
        if (!probe(pc, sizeof *pc, UserMode, IoModifyAccess))
            ++cRefused;
    fStop = true;
    adder.join();
    EXPECT_EQ(cRefused, 0);
    EXPECT_EQ(__atomic_load_n(pc, __ATOMIC_RELAXED), cAdded);
}

// The probe's fault guard catches only the probe's own touches: any other
// fault still ends the process (by the fault's signal, or a sanitizer's
// handler).
TEST(PlatformProbeDeathTest, AFaultOutsideAProbeStillEndsTheProcess)
{
    EXPECT_EXIT(
        {
            kstub::Kernel k;
            Pages pg(4);
            ASSERT_EQ(mprotect(pg.p, PAGE_SIZE, PROT_NONE), 0);
            if (probe(pg.p, 1, UserMode, IoReadAccess))
                std::_Exit(3);  // the probe should have refused it
            *reinterpret_cast<volatile char*>(pg.p) = 1;
            std::_Exit(4);
        },
        [](int status) {
            // A sanitizer's handler may end the process with an exit code of
            // its own instead of the signal.
            return WIFSIGNALED(status) ||
                   (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3 &&
                    WEXITSTATUS(status) != 4);
        },
        "");
}

TEST(PlatformProbeDeathTest, FreeingALockedMdlStopsTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            static char buf[16];
            PMDL m = IoAllocateMdl(buf, sizeof buf, FALSE, FALSE, nullptr);
            MmProbeAndLockPages(m, UserMode, IoReadAccess);
            IoFreeMdl(m);
        },
        "still locked");
}

}  // namespace
