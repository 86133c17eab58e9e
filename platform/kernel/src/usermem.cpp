// User memory seen from the kernel: whether pages can be read or written, and
// copies that fail instead of faulting. A page outside every mapping is
// refused before anything touches it (a touch could grow the stack into it).
// Then a probe touches one byte of each page itself under a fault guard (a
// SIGSEGV/SIGBUS handler that jumps back into the probe), as the platform's
// probe does under its exception handler. The guard owns only the faults
// that the touches of a probe cause; any other fault, and any fault signal
// that was sent, gets what was there before the guard, as without it. The
// copies go through the process's own memory calls (process_vm_readv and
// process_vm_writev), which report a missing or protected page as an error.
// Where those calls are not allowed, the process's map is read instead.
#include <fcntl.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "state.h"

namespace kstub::detail {

namespace {

// 0 not tried yet, 1 the memory calls work, 2 they are refused here.
std::atomic<int> g_eVm{0};

// True when every page of [lo, hi) is mapped, readable, and writable when
// fWrite; read from the process's map without allocating, so that the look
// itself cannot map memory into a hole it is about to judge.
bool mappedInProcess(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fatal("cannot read /proc/self/maps");
    uintptr_t pos = lo & ~uintptr_t(PAGE_SIZE - 1);
    char buf[8192];
    std::size_t cb = 0;
    bool fOk = false, fStop = false, fEof = false;
    while (!fStop) {
        char* nl = static_cast<char*>(std::memchr(buf, '\n', cb));
        if (!nl) {
            if (fEof || cb == sizeof buf)
                break;
            ssize_t n = ::read(fd, buf + cb, sizeof buf - cb);
            if (n <= 0)
                fEof = true;
            else
                cb += std::size_t(n);
            continue;
        }
        *nl = 0;
        // "start-end perms ..."
        char* q = buf;
        uintptr_t a = std::strtoull(q, &q, 16);
        uintptr_t b = *q == '-' ? std::strtoull(q + 1, &q, 16) : 0;
        while (*q == ' ')
            ++q;
        char r = q[0], w = q[0] ? q[1] : 0;
        std::size_t used = std::size_t(nl + 1 - buf);
        std::memmove(buf, nl + 1, cb - used);
        cb -= used;
        if (b <= pos)
            continue;
        if (a > pos || r != 'r' || (fWrite && w != 'w')) {
            fStop = true;  // a hole, or a page without the access
            continue;
        }
        pos = b;
        if (pos >= hi) {
            fOk = true;
            fStop = true;
        }
    }
    ::close(fd);
    return fOk;
}

// False when a page of [lo, hi) lies outside every mapping. Asks which pages
// are resident, which touches none of them.
bool insideMappings(uintptr_t lo, uintptr_t hi)
{
    constexpr uintptr_t kPagesAtOnce = 256;
    unsigned char resident[kPagesAtOnce];
    uintptr_t page = lo / PAGE_SIZE;
    const uintptr_t last = (hi - 1) / PAGE_SIZE;
    while (page <= last) {
        uintptr_t n = std::min(last - page + 1, kPagesAtOnce);
        int r;
        do
            r = ::mincore(reinterpret_cast<void*>(page * PAGE_SIZE), n * PAGE_SIZE, resident);
        while (r != 0 && errno == EAGAIN);
        if (r != 0)
            return false;
        page += n;
    }
    return true;
}

// True when every page of [lo, hi) can be written, found without writing:
// the kernel makes the pages writable as a write would (MADV_POPULATE_WRITE)
// and writes nothing. Where it cannot say (older kernels, and pages without
// write access: EINVAL), the map decides.
bool writableInProcess(uintptr_t lo, uintptr_t hi)
{
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    void* start = reinterpret_cast<void*>(lo & ~uintptr_t(PAGE_SIZE - 1));
    std::size_t cb = hi - reinterpret_cast<uintptr_t>(start);
    int r;
    do
        r = ::madvise(start, cb, MADV_POPULATE_WRITE);
    while (r != 0 && (errno == EAGAIN || errno == EINTR));
    return r == 0 || (errno == EINVAL && mappedInProcess(lo, hi, true));
}

// One memory call over n pieces; the count of bytes moved, or -1 with errno.
ssize_t vmCall(bool fWrite, iovec* local, iovec* remote, unsigned long n)
{
    static const pid_t pid = ::getpid();
    return fWrite ? ::process_vm_writev(pid, local, n, remote, n, 0)
                  : ::process_vm_readv(pid, local, n, remote, n, 0);
}

// The fault guard. A probe arms a slot of its thread with its jump target and
// the range it touches; a probe in a signal handler that interrupts another
// arms its own over it and gives the outer one back when it ends.
struct Slot {
    sigjmp_buf jb;
    uintptr_t lo, hi;
    Slot* pOuter;
    sigset_t maskCaller;  // the thread's mask before the probe let faults through
};
thread_local Slot* t_pSlot = nullptr;
struct sigaction g_saOldSegv, g_saOldBus;
std::once_flag g_onceGuard;
bool g_fGuard = false;

// A fault signal that was sent (kill, raise, sigqueue...), not caused.
bool wasSent(const siginfo_t* psi) { return !psi || psi->si_code <= 0; }

// The probe's own: caused by a touch of the innermost probe, in its range.
bool ownedByProbe(const siginfo_t* psi, const Slot* ps)
{
    if (!ps || wasSent(psi))
        return false;
    uintptr_t a = reinterpret_cast<uintptr_t>(psi->si_addr);
    return a >= ps->lo && a < ps->hi;
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
// there: a handler runs with its own mask; a sent signal that was ignored is
// ignored; else the process ends by the signal (a fault comes again once the
// default is back, a sent signal is sent again).
void passOn(int sig, siginfo_t* psi, void* pctx)
{
    const struct sigaction& old = sig == SIGSEGV ? g_saOldSegv : g_saOldBus;
    if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
        sigset_t mask = old.sa_mask, maskBefore;
        if (!(old.sa_flags & SA_NODEFER))
            sigaddset(&mask, sig);
        pthread_sigmask(SIG_BLOCK, &mask, &maskBefore);
        if (old.sa_flags & SA_SIGINFO)
            old.sa_sigaction(sig, psi, pctx);
        else
            old.sa_handler(sig);
        pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
        return;
    }
    if (old.sa_handler == SIG_IGN && wasSent(psi))
        return;  // a fault cannot be ignored: it ends the process below
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    if (wasSent(psi)) {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(sig);
    }
}

void onFault(int sig, siginfo_t* psi, void* pctx)
{
    Slot* ps = t_pSlot;
    if (ownedByProbe(psi, ps))
        siglongjmp(ps->jb, 1);
    int e = errno;
    passOn(sig, psi, pctx);
    errno = e;
}

// ThreadSanitizer takes the fault signals for itself and does not hand a
// fault in the probe back to it, so its builds probe with the memory calls.
#if defined(__SANITIZE_THREAD__)
constexpr bool kGuardPossible = false;
#else
constexpr bool kGuardPossible = true;
#endif

bool guardInstalled()
{
    if (!kGuardPossible)
        return false;
    std::call_once(g_onceGuard, [] {
        struct sigaction sa {};
        sa.sa_sigaction = onFault;
        sa.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        g_fGuard = ::sigaction(SIGSEGV, &sa, &g_saOldSegv) == 0 && ::sigaction(SIGBUS, &sa, &g_saOldBus) == 0;
    });
    return g_fGuard;
}

bool vmUsable()
{
    int e = g_eVm.load(std::memory_order_relaxed);
    if (e == 0) {
        char probe = 1, into = 0;
        iovec l{&into, 1}, r{&probe, 1};
        e = vmCall(false, &l, &r, 1) == 1 && into == 1 ? 1 : 2;
        g_eVm.store(e, std::memory_order_relaxed);
    }
    return e == 1;
}

// Moves cb bytes between this side and the user side with the memory calls;
// false when any byte could not be moved.
bool vmCopy(bool fToUser, void* user, void* local, std::size_t cb)
{
    auto* pu = static_cast<char*>(user);
    auto* pl = static_cast<char*>(local);
    while (cb) {
        iovec l{pl, cb}, r{pu, cb};
        ssize_t n = vmCall(fToUser, &l, &r, 1);
        if (n <= 0)
            return false;
        pu += n;
        pl += n;
        cb -= std::size_t(n);
    }
    return true;
}

// Touches one byte of [lo, hi) in each page: read, or for write access an
// atomic or of zero, which changes nothing but needs a writable page.
__attribute__((noinline, no_sanitize_address)) void touchEachPage(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    uintptr_t pos = lo;
    while (pos < hi) {
        auto* p = reinterpret_cast<char*>(pos);
        if (fWrite)
            __atomic_fetch_or(p, char(0), __ATOMIC_RELAXED);
        else
            (void)*reinterpret_cast<volatile char*>(p);
        pos = (pos & ~uintptr_t(PAGE_SIZE - 1)) + PAGE_SIZE;
        if (pos == 0)
            break;  // the last page of the address space
    }
}

// The touches with the slot armed; false when one faulted. The slot is armed
// before the fault signals are let through (whatever the thread blocks): one
// that was sent while they were blocked arrives then and is handed on as at
// any other time.
__attribute__((noinline)) bool touchArmed(Slot& slot, bool fWrite)
{
    if (sigsetjmp(slot.jb, 0) != 0)
        return false;  // the guard jumped back
    t_pSlot = &slot;
    sigset_t faults = faultSignals();
    pthread_sigmask(SIG_UNBLOCK, &faults, &slot.maskCaller);
    touchEachPage(slot.lo, slot.hi, fWrite);
    return true;
}

bool touchPages(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    Slot slot;
    slot.lo = lo;
    slot.hi = hi;
    slot.pOuter = t_pSlot;
    sigemptyset(&slot.maskCaller);
    bool fOk = touchArmed(slot, fWrite);
    if (sigismember(&slot.maskCaller, SIGSEGV) || sigismember(&slot.maskCaller, SIGBUS))
        pthread_sigmask(SIG_SETMASK, &slot.maskCaller, nullptr);
    t_pSlot = slot.pOuter;
    return fOk;
}

}  // namespace

bool userPagesAccessible(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    if (hi <= lo)
        return true;
    if (!insideMappings(lo, hi))
        return false;
    if (guardInstalled())
        return touchPages(lo, hi, fWrite);
    if (!vmUsable())
        return mappedInProcess(lo, hi, fWrite);
    // One byte of the range in each of its pages is read: its first byte,
    // then the first byte of every later page. Write access is found without
    // writing: a write of any kind could undo another thread's.
    constexpr unsigned long kBatch = 64;
    char bytes[kBatch];
    iovec local[kBatch], remote[kBatch];
    uintptr_t pos = lo;
    while (pos < hi) {
        unsigned long n = 0;
        for (; n < kBatch && pos < hi; ++n) {
            local[n] = iovec{&bytes[n], 1};
            remote[n] = iovec{reinterpret_cast<void*>(pos), 1};
            pos = (pos & ~uintptr_t(PAGE_SIZE - 1)) + PAGE_SIZE;
            if (pos == 0)
                break;  // the last page of the address space
        }
        if (vmCall(false, local, remote, n) != ssize_t(n))
            return false;
        if (pos == 0)
            break;
    }
    return !fWrite || writableInProcess(lo, hi);
}

namespace {

// Moves cb bytes between the user side and this side, in the direction
// fToUser says; false when any byte could not be moved.
bool copyUser(bool fToUser, void* user, void* local, std::size_t cb)
{
    if (cb == 0)
        return true;
    if (!vmUsable()) {
        uintptr_t lo = reinterpret_cast<uintptr_t>(user);
        if (lo + cb < lo || !mappedInProcess(lo, lo + cb, fToUser))
            return false;
        std::memcpy(fToUser ? user : local, fToUser ? local : user, cb);
        return true;
    }
    return vmCopy(fToUser, user, local, cb);
}

}  // namespace

bool copyFromUser(void* dst, const void* src, std::size_t cb)
{
    return copyUser(false, const_cast<void*>(src), dst, cb);
}

bool copyToUser(void* dst, const void* src, std::size_t cb)
{
    return copyUser(true, dst, const_cast<void*>(src), cb);
}

}  // namespace kstub::detail
