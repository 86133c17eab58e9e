// The probe's fault guard: a SIGSEGV/SIGBUS handler, installed at the first
// probe, that jumps back into a probe whose touch faulted, as the platform's
// probe returns through its exception handler. It owns only the faults of the
// touches themselves: a touch is one instruction of its own, so a fault is a
// touch's when it was caused (not sent) at that instruction, and the
// registers there say which byte and which probe. Any other fault, and any
// fault signal that was sent, gets what was there before the guard, as
// without it. Nothing of a probe is kept: a handler that jumps out of one
// leaves nothing behind. The touches need the fault signals let through,
// and only the kernel knows whether the thread blocks them: a probe asks
// (one system call, which also lets them through), but in a request of user
// mode only the first one does, while the kernel says no handler has run.
// That rests on the kernel clearing the thread's restartable-sequence field
// (rseq_cs) at every signal delivery and preemption. A change of the mask by
// the request's own code between two probes is not seen: one that blocks
// SIGSEGV or SIGBUS makes a later probe of a bad page end the process, and a
// later refused probe puts back the mask the first one found, undoing it.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/rseq.h>
#include <ucontext.h>

#include <cerrno>
#include <cstddef>

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
// After the signature the kernel looks for before a restartable sequence's
// abort address.
__attribute__((visibility("hidden"))) extern const char kvProbeAnswerMark[];
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
    .pushsection .rodata
    .p2align 2
    .long 0x53053053
    .globl kvProbeAnswerMark
    .hidden kvProbeAnswerMark
kvProbeAnswerMark:
    .long 0
    .popsection
)");
static_assert(RSEQ_SIG == 0x53053053, "the signature before the mark");

namespace {

// What a probe's touches jump back to, and the caller's mask to give back.
struct Slot {
    sigjmp_buf jb;
    sigset_t maskCaller;  // the thread's mask before the probe let faults through
};

struct sigaction g_saOldSegv, g_saOldBus;

// The answer a request's first probe got: the thread's mask, which lets
// fault signals through. It holds while the thread's restartable-sequence
// field still points at g_csAnswer, a sequence of no instructions: the
// kernel clears the field when it delivers a signal to the thread or
// preempts it outside the sequence, that is, always.
const struct rseq_cs g_csAnswer = {0, 0, reinterpret_cast<uintptr_t>(kvProbeAnswerMark), 0,
                                   reinterpret_cast<uintptr_t>(kvProbeAnswerMark)};
thread_local bool t_fInRequest = false, t_fAnswered = false;
thread_local sigset_t t_maskAnswer;

// The thread's restartable-sequence field; null when it has none, or when
// the kernel does not know it (its registration failed: a negative cpu_id),
// and so would never clear it.
using SequenceField = decltype(rseq::rseq_cs);
SequenceField* sequenceField()
{
    if (__rseq_size < offsetof(struct rseq, rseq_cs) + sizeof(SequenceField))
        return nullptr;
    auto* prs = reinterpret_cast<struct rseq*>(static_cast<char*>(__builtin_thread_pointer()) + __rseq_offset);
    if (static_cast<int32_t>(__atomic_load_n(&prs->cpu_id, __ATOMIC_RELAXED)) < 0)
        return nullptr;
    return &prs->rseq_cs;
}

// True while nothing can have changed the thread's mask since the request
// began: the kernel has not cleared the field the request set.
bool requestUndisturbed()
{
    SequenceField* pcs = sequenceField();
    return t_fInRequest && pcs &&
           __atomic_load_n(pcs, __ATOMIC_RELAXED) == reinterpret_cast<uintptr_t>(&g_csAnswer);
}

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
// With fAsk false, slot.maskCaller is known already and lets them through.
__attribute__((noinline)) bool touchArmed(Slot& slot, uintptr_t lo, uintptr_t hi, bool fWrite, bool fAsk)
{
    if (sigsetjmp(slot.jb, 0) != 0)
        return false;  // the guard jumped back
    if (fAsk) {
        sigset_t faults = faultSignals();
        countedCall(pthread_sigmask(SIG_UNBLOCK, &faults, &slot.maskCaller));
    }
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
    bool fUndisturbed = requestUndisturbed();
    bool fAsk = !(fUndisturbed && t_fAnswered);
    if (fAsk)
        sigemptyset(&slot.maskCaller);
    else
        slot.maskCaller = t_maskAnswer;
    bool fOk = touchArmed(slot, lo, hi, fWrite, fAsk);
    bool fBlocked = sigismember(&slot.maskCaller, SIGSEGV) || sigismember(&slot.maskCaller, SIGBUS);
    // After a jump back the mask is the one the guard was reached with, to
    // which a handler that handed it the fault may have added its own.
    if (!fOk || fBlocked)
        countedCall(pthread_sigmask(SIG_SETMASK, &slot.maskCaller, nullptr));
    else if (fAsk && fUndisturbed) {
        t_maskAnswer = slot.maskCaller;
        t_fAnswered = true;
    }
    return fOk;
}

UserRequestScope::UserRequestScope()
{
    t_fInRequest = true;
    t_fAnswered = false;
    if (SequenceField* pcs = sequenceField())
        __atomic_store_n(pcs, reinterpret_cast<uintptr_t>(&g_csAnswer), __ATOMIC_RELAXED);
}

UserRequestScope::~UserRequestScope()
{
    t_fInRequest = false;
    t_fAnswered = false;
    SequenceField* pcs = sequenceField();
    SequenceField csMine = reinterpret_cast<uintptr_t>(&g_csAnswer);
    if (pcs)
        __atomic_compare_exchange_n(pcs, &csMine, 0, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
}

#else

bool faultGuardInstalled() { return false; }

bool touchUnderGuard(uintptr_t, uintptr_t, bool) { return false; }

UserRequestScope::UserRequestScope() = default;
UserRequestScope::~UserRequestScope() = default;

#endif

}  // namespace kstub::detail
