// User memory seen from the kernel: whether pages can be read or written, and
// copies that fail instead of faulting. A probe touches one byte of each page
// itself under a fault guard (a SIGSEGV/SIGBUS handler that jumps back into
// the probe), as the platform's probe does under its exception handler; a
// fault outside a probe goes to the handler that was there before. The copies
// go through the process's own memory calls (process_vm_readv and
// process_vm_writev), which report a missing or protected page as an error.
// Where those calls are not allowed, the process's map is read instead.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

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

// One memory call over n pieces; the count of bytes moved, or -1 with errno.
ssize_t vmCall(bool fWrite, iovec* local, iovec* remote, unsigned long n)
{
    static const pid_t pid = ::getpid();
    return fWrite ? ::process_vm_writev(pid, local, n, remote, n, 0)
                  : ::process_vm_readv(pid, local, n, remote, n, 0);
}

// The fault guard: the jump target of the probe running on this thread.
thread_local sigjmp_buf* t_pjbProbe = nullptr;
struct sigaction g_saOldSegv, g_saOldBus;
std::once_flag g_onceGuard;
bool g_fGuard = false;

void onFault(int sig, siginfo_t* psi, void* pctx)
{
    if (sigjmp_buf* pjb = t_pjbProbe) {
        t_pjbProbe = nullptr;
        siglongjmp(*pjb, 1);
    }
    // Not a probe: what was there before handles it.
    struct sigaction& old = sig == SIGSEGV ? g_saOldSegv : g_saOldBus;
    if ((old.sa_flags & SA_SIGINFO) && old.sa_sigaction) {
        old.sa_sigaction(sig, psi, pctx);
        return;
    }
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
        old.sa_handler(sig);
        return;
    }
    ::sigaction(sig, &old, nullptr);  // the fault comes again, with the old disposition
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

// The touches under the guard; false when one faulted.
bool touchPages(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    sigjmp_buf jb;
    if (sigsetjmp(jb, 0) != 0)
        return false;  // the guard jumped back and cleared itself
    t_pjbProbe = &jb;
    touchEachPage(lo, hi, fWrite);
    t_pjbProbe = nullptr;
    return true;
}

}  // namespace

bool userPagesAccessible(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    if (hi <= lo)
        return true;
    if (guardInstalled())
        return touchPages(lo, hi, fWrite);
    if (!vmUsable())
        return mappedInProcess(lo, hi, fWrite);
    // One byte of the range in each of its pages: its first byte, then the
    // first byte of every later page.
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
        // Writing back the byte just read changes nothing the caller sees,
        // and fails on a page without write access.
        if (fWrite && vmCall(true, local, remote, n) != ssize_t(n))
            return false;
        if (pos == 0)
            break;
    }
    return true;
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
