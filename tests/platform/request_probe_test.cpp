// The probes of a request of user mode: the first asks whether the thread
// lets fault signals through and the others take the answer, while no
// signal handler has run on the thread since (the kernel says so): a handler
// inside the request, or one that jumps out of it, leaves the probes after
// it asking again, so that they refuse bad pages whatever the thread blocks.
//
// The cases with handlers run in child processes, so that a kill is seen.
#include <gtest/gtest.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/rseq.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "kv_joining_thread.h"
#include "kv_kernel.h"
#include "test_driver.h"
#include "user_probe.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kGuardBuild = false;  // these builds probe through memory calls
#else
constexpr bool kGuardBuild = true;
#endif

// Exit codes of the children that say what went wrong.
enum : int { kRequestFailed = 101, kAccepted, kNotJumped };

struct RequestProbeTest : ::testing::Test {
    kstub::Kernel k;
    HANDLE h = INVALID_HANDLE_VALUE;
    char in[16] = {};
    char out[16] = {};
    void SetUp() override
    {
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    bool request()
    {
        DWORD cb = 0;
        return DeviceIoControl(h, testdrv::kIoctlProbeBoth, in, sizeof in, out, sizeof out, &cb, nullptr);
    }
};
using RequestProbeDeathTest = RequestProbeTest;

// Two probes, one question: the fewest system calls of five requests (the
// answer is asked again after the thread was preempted). Builds without the
// fault guard read a byte of each page and find write access with a call of
// its own; threads without a restartable-sequence field ask at every probe.
TEST_F(RequestProbeTest, ARequestAsksOnceForItsProbes)
{
    ASSERT_TRUE(request());  // what a first probe sets up
    std::size_t cFewest = SIZE_MAX;
    for (int i = 0; i < 5; ++i) {
        std::size_t cBefore = k.memory().systemCalls();
        EXPECT_TRUE(request());
        cFewest = std::min(cFewest, k.memory().systemCalls() - cBefore);
    }
    const bool fSequence = __rseq_size >= 16;
    EXPECT_EQ(cFewest, kGuardBuild ? (fSequence ? 1u : 2u) : 3u);
}

// The calling thread's restartable-sequence area, or null when the kernel
// does not know it (no registration, or a failed one: a negative cpu_id).
struct rseq* registeredSequenceArea()
{
    if (__rseq_size < offsetof(struct rseq, rseq_cs) + sizeof(rseq::rseq_cs))
        return nullptr;
    auto* prs = reinterpret_cast<struct rseq*>(static_cast<char*>(__builtin_thread_pointer()) + __rseq_offset);
    return static_cast<int32_t>(__atomic_load_n(&prs->cpu_id, __ATOMIC_RELAXED)) < 0 ? nullptr : prs;
}

// The kernel forgets the calling thread's area, as if its registration had
// failed (it then marks the area so: cpu_id -1). False when it knew none.
bool forgetSequenceArea()
{
    struct rseq* prs = registeredSequenceArea();
    if (!prs)
        return false;
    for (unsigned cb : {unsigned(sizeof(struct rseq)), unsigned(__rseq_size)})
        if (syscall(SYS_rseq, prs, cb, RSEQ_FLAG_UNREGISTER, RSEQ_SIG) == 0)
            return true;
    return false;
}

// A thread whose restartable-sequence registration failed has a field that
// the kernel never clears, so no probe of its requests may take an answer
// from another: each asks.
TEST_F(RequestProbeTest, AThreadWhoseSequenceRegistrationFailedAsksAtEveryProbe)
{
    ASSERT_TRUE(request());  // what a first probe sets up
    bool fForgotten = false;
    std::size_t cFewest = SIZE_MAX;
    kvtest::JoiningThread([&] {
        fForgotten = forgetSequenceArea();
        if (!fForgotten)
            return;
        for (int i = 0; i < 5; ++i) {
            std::size_t cBefore = k.memory().systemCalls();
            EXPECT_TRUE(request());
            cFewest = std::min(cFewest, k.memory().systemCalls() - cBefore);
        }
    }).join();
    if (!fForgotten)
        GTEST_SKIP() << "the kernel knows no restartable-sequence area of a new thread here";
    EXPECT_EQ(cFewest, kGuardBuild ? 2u : 3u);
}

void noteSignal(int) {}

// What the one question of a request rests on: the kernel clears the
// thread's restartable-sequence field when it delivers a signal to it (as it
// does when it preempts it), whatever sequence of no instructions the field
// points at, so that no answer outlives a handler that could have changed
// the thread's mask.
TEST(KernelPremise, TheKernelClearsTheRestartableSequenceFieldAtASignal)
{
    struct rseq* prs = registeredSequenceArea();
    if (!prs)
        GTEST_SKIP() << "no restartable-sequence area: probes ask at every one";
    // The kernel checks the signature before the abort address.
    alignas(4) static const uint32_t s_mpuMark[2] = {RSEQ_SIG, 0};
    static const struct rseq_cs s_cs = {0, 0, 0, 0, reinterpret_cast<uintptr_t>(&s_mpuMark[1])};
    const auto csMine = reinterpret_cast<uintptr_t>(&s_cs);
    struct sigaction sa {}, saBefore {};
    sa.sa_handler = noteSignal;
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &saBefore), 0);
    // A preemption between the store and the look clears it too: again.
    bool fSet = false;
    for (int i = 0; i < 100 && !fSet; ++i) {
        __atomic_store_n(&prs->rseq_cs, csMine, __ATOMIC_RELAXED);
        fSet = __atomic_load_n(&prs->rseq_cs, __ATOMIC_RELAXED) == csMine;
    }
    ASSERT_TRUE(fSet);
    raise(SIGUSR1);
    const uint64_t csAfter = __atomic_load_n(&prs->rseq_cs, __ATOMIC_RELAXED);
    __atomic_store_n(&prs->rseq_cs, 0, __ATOMIC_RELAXED);
    sigaction(SIGUSR1, &saBefore, nullptr);
    EXPECT_EQ(csAfter, 0u) << "the kernel did not clear the restartable-sequence field at a signal";
}

char* g_pBad = nullptr;
volatile sig_atomic_t g_fRefusedInHandler = 0;
sigjmp_buf g_jbOut;

bool refused(const void* p) { return !kvtest::probe(p, 1, UserMode, IoReadAccess); }

void probeBad(int) { g_fRefusedInHandler = refused(g_pBad); }
void jumpOut(int) { siglongjmp(g_jbOut, 1); }

// A handler whose mask blocks every signal runs between the two probes of a
// request, and probes a bad page itself: it is refused, and so are bad pages
// after a handler that jumped out of a request, with fault signals blocked.
TEST_F(RequestProbeDeathTest, AHandlerInARequestMakesItsProbesAskAgain)
{
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    g_pBad = static_cast<char*>(mmap(nullptr, PAGE_SIZE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(g_pBad, MAP_FAILED);
    EXPECT_EXIT(
        {
            struct sigaction sa {};
            sa.sa_handler = probeBad;
            sigfillset(&sa.sa_mask);
            sigaction(SIGUSR1, &sa, nullptr);
            testdrv::record().onProbes = [] { raise(SIGUSR1); };
            if (!request())
                std::_Exit(kRequestFailed);
            std::_Exit(g_fRefusedInHandler ? 0 : kAccepted);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            struct sigaction sa {};
            sa.sa_handler = jumpOut;
            sigaction(SIGUSR1, &sa, nullptr);
            testdrv::record().onProbes = [] { raise(SIGUSR1); };
            if (sigsetjmp(g_jbOut, 1) == 0) {
                request();
                std::_Exit(kNotJumped);
            }
            sigset_t faults;
            sigemptyset(&faults);
            sigaddset(&faults, SIGSEGV);
            sigaddset(&faults, SIGBUS);
            pthread_sigmask(SIG_BLOCK, &faults, nullptr);
            std::_Exit(refused(g_pBad) ? 0 : kAccepted);
        },
        ::testing::ExitedWithCode(0), "");
    munmap(g_pBad, PAGE_SIZE);
}

}  // namespace
