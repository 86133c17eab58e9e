// The probe's fault guard: a SIGSEGV/SIGBUS handler, installed at the first
// probe, that jumps back into a probe whose touch faulted, as the platform's
// probe returns through its exception handler. It owns only the faults of the
// touches themselves: a touch is one instruction of its own, so a fault is a
// touch's when it was caused (not sent) at that instruction, and the
// registers there say which byte and which probe. Any other fault, and any
// fault signal that was sent, gets what was there before the guard, as
// without it. Nothing is kept per thread: a handler that jumps out of a probe
// leaves nothing behind.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <ucontext.h>

#include <cerrno>

#include "state.h"

namespace kstub::detail {

// ThreadSanitizer takes the fault signals for itself and does not hand a
// fault in the probe back to it, so its builds probe with the memory calls;
// so do machines without the touches below.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)

// The touches: touch(p, ps) reads the byte at p, or ors zero into it
// atomically (which changes nothing but needs a writable page), as its first
// instruction, with p and the probe's slot ps in the argument registers.
extern "C" {
__attribute__((visibility("hidden"))) void kvProbeTouchRead(uintptr_t p, void* ps);
__attribute__((visibility("hidden"))) void kvProbeTouchWrite(uintptr_t p, void* ps);
}
asm(R"(
    .pushsection .text
    .p2align 4
    .globl kvProbeTouchRead
    .hidden kvProbeTouchRead
    .type kvProbeTouchRead, @function
kvProbeTouchRead:
    .cfi_startproc
    movb (%rdi), %al
    ret
    .cfi_endproc
    .size kvProbeTouchRead, . - kvProbeTouchRead
    .globl kvProbeTouchWrite
    .hidden kvProbeTouchWrite
    .type kvProbeTouchWrite, @function
kvProbeTouchWrite:
    .cfi_startproc
    lock orb $0, (%rdi)
    ret
    .cfi_endproc
    .size kvProbeTouchWrite, . - kvProbeTouchWrite
    .popsection
)");

namespace {

// What a probe's touches jump back to, and the caller's mask to give back.
struct Slot {
    sigjmp_buf jb;
    sigset_t maskCaller;  // the thread's mask before the probe let faults through
};

struct sigaction g_saOldSegv, g_saOldBus;

// A fault signal that was sent (kill, raise, sigqueue...), not caused.
bool wasSent(const siginfo_t* psi) { return !psi || psi->si_code <= 0; }

// The slot of the probe whose touch caused the fault; null when the fault
// is not a touch's.
Slot* slotOfTouch(const siginfo_t* psi, const void* pctx)
{
    if (wasSent(psi) || !pctx)
        return nullptr;
    const greg_t* reg = static_cast<const ucontext_t*>(pctx)->uc_mcontext.gregs;
    auto pc = uintptr_t(reg[REG_RIP]);
    if (pc != reinterpret_cast<uintptr_t>(&kvProbeTouchRead) && pc != reinterpret_cast<uintptr_t>(&kvProbeTouchWrite))
        return nullptr;
    if (reinterpret_cast<uintptr_t>(psi->si_addr) != uintptr_t(reg[REG_RDI]))
        return nullptr;
    return reinterpret_cast<Slot*>(reg[REG_RSI]);
}

sigset_t faultSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGSEGV);
    sigaddset(&set, SIGBUS);
    return set;
}

// What was there before the guard gets the signal, as if the guard were not
// there: a handler runs with its own mask (on the stack the guard runs on); a
// sent signal that was ignored is ignored; else the process ends by the
// signal (a fault comes again once the default is back, a sent signal is
// sent again).
void passOn(int sig, siginfo_t* psi, void* pctx)
{
    const struct sigaction& old = sig == SIGSEGV ? g_saOldSegv : g_saOldBus;
    if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
        sigset_t mask = old.sa_mask, maskBefore;
        if (!(old.sa_flags & SA_NODEFER))
            sigaddset(&mask, sig);
        countedCall(pthread_sigmask(SIG_BLOCK, &mask, &maskBefore));
        if (old.sa_flags & SA_SIGINFO)
            old.sa_sigaction(sig, psi, pctx);
        else
            old.sa_handler(sig);
        countedCall(pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr));
        return;
    }
    if (old.sa_handler == SIG_IGN && wasSent(psi))
        return;  // a fault cannot be ignored: it ends the process below
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    countedCall(::sigaction(sig, &dfl, nullptr));
    if (wasSent(psi)) {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        countedCall(pthread_sigmask(SIG_UNBLOCK, &one, nullptr));
        countedCall(::raise(sig));
    }
}

void onFault(int sig, siginfo_t* psi, void* pctx)
{
    if (Slot* ps = slotOfTouch(psi, pctx))
        siglongjmp(ps->jb, 1);
    int e = errno;
    passOn(sig, psi, pctx);
    errno = e;
}

// The touches of one byte of [lo, hi) in each page; false when one faulted.
// Fault signals are let through (whatever the thread blocks) once the jump
// target is set: one that was sent while they were blocked arrives then and
// is handed on as at any other time.
__attribute__((noinline)) bool touchArmed(Slot& slot, uintptr_t lo, uintptr_t hi, bool fWrite)
{
    if (sigsetjmp(slot.jb, 0) != 0)
        return false;  // the guard jumped back
    sigset_t faults = faultSignals();
    countedCall(pthread_sigmask(SIG_UNBLOCK, &faults, &slot.maskCaller));
    uintptr_t pos = lo;
    while (pos < hi) {
        if (fWrite)
            kvProbeTouchWrite(pos, &slot);
        else
            kvProbeTouchRead(pos, &slot);
        pos = (pos & ~uintptr_t(PAGE_SIZE - 1)) + PAGE_SIZE;
        if (pos == 0)
            break;  // the last page of the address space
    }
    return true;
}

bool installGuard()
{
    struct sigaction sa {};
    sa.sa_sigaction = onFault;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    return countedCall(::sigaction(SIGSEGV, &sa, &g_saOldSegv)) == 0 &&
           countedCall(::sigaction(SIGBUS, &sa, &g_saOldBus)) == 0;
}

}  // namespace

bool faultGuardInstalled()
{
    static const bool s_fGuard = installGuard();
    return s_fGuard;
}

bool touchUnderGuard(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    Slot slot;
    sigemptyset(&slot.maskCaller);
    bool fOk = touchArmed(slot, lo, hi, fWrite);
    // After a jump back the mask is the one the guard was reached with, to
    // which a handler that handed it the fault may have added its own.
    if (!fOk || sigismember(&slot.maskCaller, SIGSEGV) || sigismember(&slot.maskCaller, SIGBUS))
        countedCall(pthread_sigmask(SIG_SETMASK, &slot.maskCaller, nullptr));
    return fOk;
}

#else

bool faultGuardInstalled() { return false; }

bool touchUnderGuard(uintptr_t, uintptr_t, bool) { return false; }

#endif

}  // namespace kstub::detail
