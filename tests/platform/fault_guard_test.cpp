// The probe's fault guard owns only the faults of its own touches: a fault
// signal that was sent, or a fault of other code, gets what was there before
// the guard, as it would without it; probes refuse bad pages whatever the
// thread blocks, also in a signal handler that interrupts a probe.
//
// Every case runs in a child process, so that a kill is observed, and the
// program itself never probes: each child installs the guard afresh, after
// the dispositions the case gives.
#include <gtest/gtest.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "kv_kernel.h"
#include "user_probe.h"

namespace {

using kvtest::probe;

#if defined(__SANITIZE_THREAD__)
constexpr bool kGuardBuild = false;  // these builds probe through memory calls
#else
constexpr bool kGuardBuild = true;
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerHandler = true;  // a sanitizer's handler is there before the guard
#else
constexpr bool kSanitizerHandler = false;
#endif

// Exit codes of the children that say what went wrong; a sanitizer's own
// exit codes lie below them.
enum : int { kAccepted = 101, kSurvived, kCount, kStillGuarded, kMask, kInHandler, kReached };

// True when the child ended as a fault signal ends a process: by the signal,
// or where a sanitizer's handler was there before the guard, by that handler.
bool endedBy(int status, int sig)
{
    if (WIFSIGNALED(status) && WTERMSIG(status) == sig)
        return true;
    return kSanitizerHandler &&
           (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) < kAccepted));
}

// A page whose touch raises sig: no access (SIGSEGV), or past the end of its
// file (SIGBUS).
char* faultingPage(int sig)
{
    if (sig == SIGSEGV)
        return static_cast<char*>(mmap(nullptr, PAGE_SIZE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    int fd = memfd_create("kvtest-empty", MFD_CLOEXEC);
    void* p = mmap(nullptr, PAGE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return static_cast<char*>(p);
}

bool refused(const void* p) { return !probe(p, 1, UserMode, IoReadAccess); }

void setMask(int how, std::initializer_list<int> sigs)
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : sigs)
        sigaddset(&set, s);
    pthread_sigmask(how, &set, nullptr);
}

sigset_t currentMask()
{
    sigset_t set;
    sigemptyset(&set);
    pthread_sigmask(SIG_SETMASK, nullptr, &set);
    return set;
}

bool sameSignals(const sigset_t& a, const sigset_t& b)
{
    for (int sig = 1; sig < NSIG; ++sig)
        if (sigismember(&a, sig) != sigismember(&b, sig))
            return false;
    return true;
}

// An alternate signal stack for the calling thread, as crash reporters set.
void giveAlternateStack()
{
    static char s_stack[1 << 16];
    stack_t st{};
    st.ss_sp = s_stack;
    st.ss_size = sizeof s_stack;
    sigaltstack(&st, nullptr);
}

volatile sig_atomic_t g_cHandled = 0;
volatile sig_atomic_t g_fInnerRefused = 0;
char* g_pBad = nullptr;
char* g_pBadBus = nullptr;
char g_good[64];

void countingAction(int, siginfo_t*, void*) { ++g_cHandled; }
void countingHandler(int) { ++g_cHandled; }

TEST(PlatformFaultGuardDeathTest, ASentFaultSignalEndsTheProcessAsWithoutTheGuard)
{
    struct Sender {
        const char* what;
        int sig;
        void (*send)(int);
    };
    const Sender senders[] = {
        {"raise SIGSEGV", SIGSEGV, [](int s) { raise(s); }},
        {"raise SIGBUS", SIGBUS, [](int s) { raise(s); }},
        {"kill", SIGSEGV, [](int s) { kill(getpid(), s); }},
        {"pthread_kill", SIGBUS, [](int s) { pthread_kill(pthread_self(), s); }},
        {"sigqueue", SIGSEGV, [](int s) { sigqueue(getpid(), s, sigval{}); }},
    };
    for (const Sender& r : senders) {
        EXPECT_EXIT(
            {
                kstub::Kernel k;
                if (!refused(faultingPage(r.sig)))
                    std::_Exit(kAccepted);
                r.send(r.sig);
                std::_Exit(kSurvived);  // the signal was lost
            },
            [&](int status) { return endedBy(status, r.sig); }, "")
            << r.what;
    }
}

// A sent signal reaches the handler that was there, or is ignored when it
// was ignored; either way the guard stays, and later probes still refuse
// their bad pages without handing their own faults on.
TEST(PlatformFaultGuardDeathTest, ASentSignalGetsTheDispositionThatWasThereAndTheGuardStays)
{
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    struct Row {
        const char* what;
        int sig;
        void (*install)(struct sigaction&);
        int cWant;
    };
    const Row rows[] = {
        {"handler with information", SIGSEGV,
         [](struct sigaction& sa) {
             sa.sa_sigaction = countingAction;
             sa.sa_flags = SA_SIGINFO;
         },
         1},
        {"plain handler", SIGBUS, [](struct sigaction& sa) { sa.sa_handler = countingHandler; }, 1},
        {"ignored SIGSEGV", SIGSEGV, [](struct sigaction& sa) { sa.sa_handler = SIG_IGN; }, 0},
        {"ignored SIGBUS", SIGBUS, [](struct sigaction& sa) { sa.sa_handler = SIG_IGN; }, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EXIT(
            {
                struct sigaction sa {};
                r.install(sa);
                sigaction(r.sig, &sa, nullptr);
                kstub::Kernel k;
                char* pBad = faultingPage(r.sig);
                if (!refused(pBad))
                    std::_Exit(kAccepted);
                raise(r.sig);
                if (g_cHandled != r.cWant)
                    std::_Exit(kCount);
                if (!refused(pBad))
                    std::_Exit(kStillGuarded);
                if (g_cHandled != r.cWant)
                    std::_Exit(kCount);  // the probe's own fault was handed on
                std::_Exit(0);
            },
            ::testing::ExitedWithCode(0), "")
            << r.what;
    }
}

void probeInHandler(int)
{
    ++g_cHandled;
    g_fInnerRefused = refused(g_pBad) && refused(g_pBadBus) && probe(g_good, sizeof g_good, UserMode, IoModifyAccess);
}

// A thread that blocks every signal, and a handler whose mask is full, probe
// as any other: bad pages are refused, good ones accepted, and the mask is
// the caller's again afterwards.
TEST(PlatformFaultGuardDeathTest, ProbesRefuseBadPagesWhateverTheThreadBlocks)
{
    EXPECT_EXIT(
        {
            kstub::Kernel k;
            g_pBad = faultingPage(SIGSEGV);
            g_pBadBus = faultingPage(SIGBUS);
            sigset_t all;
            sigfillset(&all);
            pthread_sigmask(SIG_SETMASK, &all, nullptr);
            if (!refused(g_pBad) || !refused(g_pBadBus))
                std::_Exit(kAccepted);
            if (!probe(g_good, sizeof g_good, UserMode, IoModifyAccess))
                std::_Exit(kStillGuarded);
            sigset_t now;
            pthread_sigmask(SIG_SETMASK, nullptr, &now);
            if (!sigismember(&now, SIGSEGV) || !sigismember(&now, SIGBUS))
                std::_Exit(kMask);
            // In a handler; not in the builds that probe through memory
            // calls, which no mask concerns (and whose sanitizer reports the
            // probe's allocations in a handler).
            if (kGuardBuild) {
                struct sigaction sa {};
                sa.sa_handler = probeInHandler;
                sigfillset(&sa.sa_mask);
                sigaction(SIGUSR1, &sa, nullptr);
                setMask(SIG_UNBLOCK, {SIGUSR1});
                raise(SIGUSR1);
                if (g_cHandled != 1 || !g_fInnerRefused)
                    std::_Exit(kInHandler);
            }
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

void faultOfItsOwn(int)
{
    ++g_cHandled;
    *reinterpret_cast<volatile char*>(g_pBad) = 1;
}

// A SIGBUS for pfn, sent while the thread blocks it: it waits for the next
// probe (the first one installs the guard, after pfn).
void pendBusFor(void (*pfn)(int))
{
    struct sigaction sa {};
    sa.sa_handler = pfn;
    sigaction(SIGBUS, &sa, nullptr);
    g_pBad = faultingPage(SIGSEGV);
    g_pBadBus = faultingPage(SIGBUS);
    setMask(SIG_BLOCK, {SIGBUS});
    raise(SIGBUS);
}

// A fault signal sent while the thread blocks it arrives when a probe lets
// fault signals through, with the probe's guard armed: its handler runs
// inside the probe. A probe in that handler leaves the outer probe guarded;
// a fault of the handler's own is not taken for the probe's, not even inside
// the range the probe touches.
TEST(PlatformFaultGuardDeathTest, AHandlerThatInterruptsAProbeMayProbeButItsOwnFaultIsItsOwn)
{
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    EXPECT_EXIT(
        {
            kstub::Kernel k;
            kvtest::Pages pg(2);
            mprotect(pg.p + PAGE_SIZE, PAGE_SIZE, PROT_NONE);
            pendBusFor(probeInHandler);
            if (probe(pg.p, 2 * PAGE_SIZE, UserMode, IoReadAccess))
                std::_Exit(kAccepted);  // the outer probe lost its guard
            if (g_cHandled != 1 || !g_fInnerRefused)
                std::_Exit(kInHandler);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    for (bool fInRange : {false, true}) {
        EXPECT_EXIT(
            {
                kstub::Kernel k;
                pendBusFor(faultOfItsOwn);
                probe(fInRange ? g_pBad : g_good, 1, UserMode, IoReadAccess);
                std::_Exit(g_cHandled == 1 ? kSurvived : kInHandler);
            },
            [](int status) { return endedBy(status, SIGSEGV); }, "")
            << (fInRange ? "inside the probe's range" : "outside the probe's range");
    }
}

#if defined(__x86_64__)
// An instruction of the program's that reads a byte as a probe's touch does:
// the byte's address in the first argument register, anything in the second.
extern "C" {
__attribute__((visibility("hidden"))) void kvTestReadLikeATouch(uintptr_t p, void* pv);
}
asm(R"(
    .pushsection .text
    .p2align 4
    .globl kvTestReadLikeATouch
    .hidden kvTestReadLikeATouch
    .type kvTestReadLikeATouch, @function
kvTestReadLikeATouch:
    .cfi_startproc
    movb (%rdi), %al
    ret
    .cfi_endproc
    .size kvTestReadLikeATouch, . - kvTestReadLikeATouch
    .popsection
)");
#endif

sigjmp_buf g_jbLikeASlot;  // where a fault taken for a touch's would jump back to

void exitReached(int) { std::_Exit(kReached); }

// A fault of another instruction is not a touch's, even at an instruction
// that reads as a touch does, with the byte in the register a touch has it
// in and what could be a probe's slot in the next: it reaches the program's
// handler instead of jumping back anywhere.
TEST(PlatformFaultGuardDeathTest, AFaultOfAnotherInstructionShapedAsATouchIsNotTheGuards)
{
#if defined(__x86_64__)
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    EXPECT_EXIT(
        {
            struct sigaction sa {};
            sa.sa_handler = exitReached;
            sigaction(SIGSEGV, &sa, nullptr);
            kstub::Kernel k;
            char* pBad = faultingPage(SIGSEGV);
            if (!refused(pBad))
                std::_Exit(kAccepted);  // the first probe installs the guard
            if (sigsetjmp(g_jbLikeASlot, 1) != 0)
                std::_Exit(kAccepted);  // the fault was taken for a touch's
            kvTestReadLikeATouch(reinterpret_cast<uintptr_t>(pBad), &g_jbLikeASlot);
            std::_Exit(kSurvived);
        },
        ::testing::ExitedWithCode(kReached), "");
#else
    GTEST_SKIP() << "the touches are x86-64 instructions";
#endif
}

// A program that installs its own fault handler after the first probe and
// hands on what it does not handle itself (crash reporters do): a probe's
// fault reaches the guard through it, and the probe is refused with the
// caller's mask as it was, whatever that handler's mask and flags, so that a
// later real fault reaches the handler again.
struct sigaction g_saGuard;
volatile sig_atomic_t g_fProbed = 0;

void chainingHandler(int sig, siginfo_t* psi, void* pctx)
{
    if (g_fProbed)
        std::_Exit(kReached);
    g_saGuard.sa_sigaction(sig, psi, pctx);
    std::_Exit(kInHandler);  // the guard handed the probe's own fault on
}

TEST(PlatformFaultGuardDeathTest, ARefusedProbeLeavesTheMaskOfAHandlerThatChainsToTheGuard)
{
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    struct Row {
        const char* what;
        bool fFullMask;
        int flags;
    };
    const Row rows[] = {
        {"full mask", true, 0},
        {"full mask, SA_NODEFER", true, SA_NODEFER},
        {"empty mask", false, 0},
        {"empty mask, SA_NODEFER", false, SA_NODEFER},
    };
    for (const Row& r : rows) {
        EXPECT_EXIT(
            {
                kstub::Kernel k;
                g_pBad = faultingPage(SIGSEGV);
                if (!probe(g_good, sizeof g_good, UserMode, IoReadAccess))
                    std::_Exit(kStillGuarded);  // the first probe installs the guard
                struct sigaction sa {};
                sa.sa_sigaction = chainingHandler;
                sa.sa_flags = SA_SIGINFO | r.flags;
                if (r.fFullMask)
                    sigfillset(&sa.sa_mask);
                sigaction(SIGSEGV, &sa, &g_saGuard);
                const sigset_t before = currentMask();
                if (!refused(g_pBad))
                    std::_Exit(kAccepted);
                if (!sameSignals(currentMask(), before))
                    std::_Exit(kMask);
                g_fProbed = 1;
                *reinterpret_cast<volatile char*>(g_pBad) = 1;
                std::_Exit(kSurvived);
            },
            ::testing::ExitedWithCode(kReached), "")
            << r.what;
    }
}

// A handler that jumps out of a probe (siglongjmp) leaves nothing of it
// behind: a later real fault inside the range that probe was touching, at
// the depth of the probe or deeper, reaches the program's handler. The
// handler runs on an alternate stack, so that nothing overwrites what the
// probe left on its own.
sigjmp_buf g_jbOut;
volatile sig_atomic_t g_fJumpedOut = 0;

void jumpOutOnce(int)
{
    if (g_fJumpedOut)
        std::_Exit(kReached);
    g_fJumpedOut = 1;
    siglongjmp(g_jbOut, 1);
}

void jumpOutOnceThenChain(int sig, siginfo_t* psi, void* pctx)
{
    if (!g_fJumpedOut) {
        g_fJumpedOut = 1;
        siglongjmp(g_jbOut, 1);
    }
    g_saGuard.sa_sigaction(sig, psi, pctx);
    std::_Exit(kInHandler);  // the program's handler was not reached
}

__attribute__((noinline)) void faultDeeper(char* p, int depth)
{
    volatile char pad[256];
    pad[0] = char(depth);
    if (depth > 0)
        faultDeeper(p, depth - 1);
    else
        *reinterpret_cast<volatile char*>(p) = pad[0];
}

// The child of one case: a probe of a good page and a no-access one that a
// handler jumps out of, then a real fault on the no-access page, depth frames
// further down.
__attribute__((noinline)) void jumpOutThenFault(bool fAfterGuard, int depth)
{
    giveAlternateStack();
    struct sigaction sa {};
    sa.sa_handler = jumpOutOnce;
    sa.sa_flags = SA_ONSTACK;
    sigaction(SIGSEGV, &sa, nullptr);  // the program's handler, there before the guard
    sigaction(SIGBUS, &sa, nullptr);
    kstub::Kernel k;
    kvtest::Pages pg(2);
    mprotect(pg.p + PAGE_SIZE, PAGE_SIZE, PROT_NONE);
    if (!probe(g_good, sizeof g_good, UserMode, IoReadAccess))
        std::_Exit(kStillGuarded);
    if (fAfterGuard) {
        struct sigaction saAfter {};
        saAfter.sa_sigaction = jumpOutOnceThenChain;
        saAfter.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigaction(SIGSEGV, &saAfter, &g_saGuard);
    } else {
        setMask(SIG_BLOCK, {SIGBUS});
        raise(SIGBUS);  // arrives when the probe lets fault signals through
    }
    if (sigsetjmp(g_jbOut, 1) == 0) {
        probe(pg.p, 2 * PAGE_SIZE, UserMode, IoReadAccess);
        std::_Exit(kSurvived);  // the handler did not jump out
    }
    faultDeeper(pg.p + PAGE_SIZE, depth);
    std::_Exit(kAccepted);  // the real fault was taken for the probe's
}

TEST(PlatformFaultGuardDeathTest, AHandlerThatJumpsOutOfAProbeLeavesNothingBehind)
{
    if (!kGuardBuild)
        GTEST_SKIP() << "no fault guard in this build";
    struct Row {
        const char* what;
        bool fAfterGuard;  // the jump is made by a handler installed after the guard
        int depth;         // frames below the probe's caller the real fault is made at
    };
    const Row rows[] = {
        {"a handler before the guard, reached by a signal the probe lets through", false, 0},
        {"the same, the real fault made deeper", false, 8},
        {"a handler after the guard, reached by the probe's own fault", true, 0},
        {"the same, the real fault made deeper", true, 8},
    };
    for (const Row& r : rows)
        EXPECT_EXIT(jumpOutThenFault(r.fAfterGuard, r.depth), ::testing::ExitedWithCode(kReached), "") << r.what;
}

}  // namespace
