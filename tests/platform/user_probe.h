// Probing user pages as a driver does, and pages to probe.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <vector>

#include "kv_kernel.h"

namespace kvtest {

// n fresh read-write pages (p is MAP_FAILED when they could not be had),
// unmapped when the scope ends, but for those the test unmapped itself.
struct Pages {
    char* p;
    std::size_t cb;
    std::vector<bool> mapped;
    explicit Pages(std::size_t n) : cb(n * PAGE_SIZE), mapped(n, true)
    {
        p = static_cast<char*>(mmap(nullptr, cb, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;
    // Unmaps page i now: a hole where a page was.
    bool unmap(std::size_t i)
    {
        mapped.at(i) = false;
        return munmap(p + i * PAGE_SIZE, PAGE_SIZE) == 0;
    }
    ~Pages()
    {
        if (p == MAP_FAILED)
            return;
        for (std::size_t i = 0; i < mapped.size(); ++i)
            if (mapped[i])
                munmap(p + i * PAGE_SIZE, PAGE_SIZE);
    }
};

// True when the probe accepted the range (the MDL is then locked and mapped).
inline bool probe(const void* va, ULONG cb, KPROCESSOR_MODE mode, LOCK_OPERATION op)
{
    PMDL m = IoAllocateMdl(const_cast<void*>(va), cb, FALSE, FALSE, nullptr);
    EXPECT_NE(m, nullptr);
    bool fOk = true;
    KV_TRY
    {
        MmProbeAndLockPages(m, mode, op);
    }
    KV_EXCEPT
    {
        fOk = false;
    }
    if (fOk) {
        void* sys = MmGetSystemAddressForMdlSafe(m, NormalPagePriority);
        EXPECT_EQ(sys, va);
        EXPECT_EQ(MmGetMdlByteCount(m), cb);
        MmUnlockPages(m);
    }
    IoFreeMdl(m);
    return fOk;
}

}  // namespace kvtest
