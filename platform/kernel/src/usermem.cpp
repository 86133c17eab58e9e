// User memory seen from the kernel: whether pages can be read or written, and
// copies that fail instead of faulting. Each page is touched once through the
// process's own memory calls (process_vm_readv and process_vm_writev), which
// report a missing or protected page as an error, as the platform's probe does
// under its exception handler. Where those calls are not allowed, the
// process's map is read instead.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    return fWrite ? ::process_vm_writev(::getpid(), local, n, remote, n, 0)
                  : ::process_vm_readv(::getpid(), local, n, remote, n, 0);
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

}  // namespace

bool userPagesAccessible(uintptr_t lo, uintptr_t hi, bool fWrite)
{
    if (hi <= lo)
        return true;
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

bool copyFromUser(void* dst, const void* src, std::size_t cb)
{
    if (cb == 0)
        return true;
    if (!vmUsable()) {
        uintptr_t lo = reinterpret_cast<uintptr_t>(src);
        if (lo + cb < lo || !mappedInProcess(lo, lo + cb, false))
            return false;
        std::memcpy(dst, src, cb);
        return true;
    }
    return vmCopy(false, const_cast<void*>(src), dst, cb);
}

bool copyToUser(void* dst, const void* src, std::size_t cb)
{
    if (cb == 0)
        return true;
    if (!vmUsable()) {
        uintptr_t lo = reinterpret_cast<uintptr_t>(dst);
        if (lo + cb < lo || !mappedInProcess(lo, lo + cb, true))
            return false;
        std::memcpy(dst, src, cb);
        return true;
    }
    return vmCopy(true, dst, const_cast<void*>(src), cb);
}

}  // namespace kstub::detail
