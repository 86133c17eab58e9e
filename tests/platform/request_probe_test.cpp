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
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

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
