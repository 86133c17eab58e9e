// User memory seen from the kernel: whether pages can be read or written, and
// copies that fail instead of faulting. A probe touches one byte of each page
// itself under the fault guard (faultguard.cpp), as the platform's probe does
// under its exception handler: a page outside every mapping faults and is
// refused, but for the hole below the main stack, where a touch would grow
// the stack instead; a page there is refused before anything touches it, as
// is a range that reaches the hole between the user and the kernel half. The
// copies go through the process's own memory calls (process_vm_readv and
// process_vm_writev), which report a missing or protected page as an error.
// Where those calls are not allowed, the process's map is read instead.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace kstub::detail {

namespace {

// 0 not tried yet, 1 the memory calls work, 2 they are refused here.
std::atomic<int> g_eVm{0};

// The field after the one at q (fields of the map are separated by spaces).
const char* nextField(const char* q)
{
    while (*q && *q != ' ')
        ++q;
    while (*q == ' ')
        ++q;
    return q;
}

// Calls f(start, end, perms, name) for each mapping of the process, in
// address order, until f returns false. Reads the process's map without
// allocating, so that the look itself cannot map memory into a hole it is
// about to judge.
template <class F>
void forEachMapping(F f)
{
    int fd = countedCall(::open("/proc/self/maps", O_RDONLY | O_CLOEXEC));
    if (fd < 0)
        fatal("cannot read /proc/self/maps");
    char buf[8192];
    std::size_t cb = 0;
    bool fGoOn = true, fEof = false;
    while (fGoOn) {
        char* nl = static_cast<char*>(std::memchr(buf, '\n', cb));
        if (!nl) {
            if (fEof || cb == sizeof buf)
                break;
            ssize_t n = countedCall(::read(fd, buf + cb, sizeof buf - cb));
            if (n <= 0)
                fEof = true;
            else
                cb += std::size_t(n);
            continue;
        }
        *nl = 0;
        // "start-end perms offset dev inode name"
        char* q = buf;
        uintptr_t a = std::strtoull(q, &q, 16);
        uintptr_t b = *q == '-' ? std::strtoull(q + 1, &q, 16) : 0;
        const char* perms = nextField(q);
        const char* name = nextField(nextField(nextField(nextField(perms))));
        fGoOn = f(a, b, perms, name);
        std::size_t used = std::size_t(nl + 1 - buf);
        std::memmove(buf, nl + 1, cb - used);
        cb -= used;
    }
    countedCall(::close(fd));
}

// True when every page of [lo, hi) is mapped, readable, and writable when
// fWrite, as the process's map says.
bool mappedInProcess(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    uintptr_t pos = lo & ~uintptr_t(PAGE_SIZE - 1);
    bool fOk = false;
    forEachMapping([&](uintptr_t a, uintptr_t b, const char* perms, const char*) {
        if (b <= pos)
            return true;
        if (a > pos || perms[0] != 'r' || (fWrite && perms[1] != 'w'))
            return false;  // a hole, or a page without the access
        pos = b;
        fOk = pos >= hi;
        return !fOk;
    });
    return fOk;
}

// Where a touch of a page outside every mapping would not fault but grow the
// main stack: from the end of the mapping below the stack to the stack's
// start, as the first probe finds them (the stack only grows down).
// Everywhere when the map shows no stack.
struct Hole {
    uintptr_t lo = 0, hi = UINTPTR_MAX;
};

Hole findHoleBelowStack()
{
    Hole hole;
    uintptr_t endBelow = 0;
    forEachMapping([&](uintptr_t a, uintptr_t b, const char*, const char* name) {
        if (std::strcmp(name, "[stack]") == 0) {
            hole = Hole{endBelow, a};
            return false;
        }
        endBelow = b;
        return true;
    });
    return hole;
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
            r = countedCall(::mincore(reinterpret_cast<void*>(page * PAGE_SIZE), n * PAGE_SIZE, resident));
        while (r != 0 && errno == EAGAIN);
        if (r != 0)
            return false;
        page += n;
    }
    return true;
}

// True when a page of [lo, hi) in the hole below the main stack is outside
// every mapping: it is refused before anything touches it (the memory calls
// of older kernels grow the stack too). Elsewhere such a page faults.
bool inHoleBelowStack(uintptr_t lo, uintptr_t hi)
{
    static const Hole s_hole = findHoleBelowStack();
    uintptr_t a = std::max(lo, s_hole.lo), b = std::min(hi, s_hole.hi);
    return a < b && !insideMappings(a, b);
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
        r = countedCall(::madvise(start, cb, MADV_POPULATE_WRITE));
    while (r != 0 && (errno == EAGAIN || errno == EINTR));
    return r == 0 || (errno == EINVAL && mappedInProcess(lo, hi, true));
}

// One memory call over n pieces; the count of bytes moved, or -1 with errno.
ssize_t vmCall(bool fWrite, iovec* local, iovec* remote, unsigned long n)
{
    static const pid_t pid = ::getpid();
    return countedCall(fWrite ? ::process_vm_writev(pid, local, n, remote, n, 0)
                              : ::process_vm_readv(pid, local, n, remote, n, 0));
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

// The probe without touches, through the memory calls: one byte of the
// range in each of its pages is read (its first byte, then the first byte of
// every later page), and write access is found without writing (a write of
// any kind could undo another thread's).
bool reachableByMemoryCalls(uintptr_t lo, uintptr_t hi, bool fWrite)
{
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

}  // namespace

bool userPagesAccessible(uintptr_t lo, uintptr_t hi, bool fWrite, bool fTouch)
{
    if (hi <= lo)
        return true;
    // No page can be in the hole between the halves, and a touch there
    // faults without an address that the guard could know as its own.
    if (lo < kKernelHalfStart && hi > kUserHalfEnd)
        return false;
    if (inHoleBelowStack(lo, hi))
        return false;
    if (fTouch && faultGuardInstalled())
        return touchUnderGuard(lo, hi, fWrite);
    return vmUsable() ? reachableByMemoryCalls(lo, hi, fWrite) : mappedInProcess(lo, hi, fWrite);
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
