// Pool accounting and injected failures: every leak check of later tests
// relies on these counts.
#include <gtest/gtest.h>

#include "kv_kernel.h"

namespace {

TEST(PlatformPool, CountsBlocksAndBytesUntilFreed)
{
    kstub::Kernel k;
    void* a = ExAllocatePoolWithTag(NonPagedPool, 100, 0x74736554);
    void* b = ExAllocatePool2(POOL_FLAG_NON_PAGED, 20, 0x74736554);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(k.pool().outstanding(), 2u);
    EXPECT_EQ(k.pool().outstandingBytes(), 120u);
    EXPECT_EQ(static_cast<unsigned char*>(a)[99], 0xA5);  // never handed out zeroed
    EXPECT_EQ(static_cast<unsigned char*>(b)[19], 0);     // ExAllocatePool2 zeroes
    ExFreePool(a);
    EXPECT_EQ(k.pool().outstanding(), 1u);
    EXPECT_EQ(k.pool().outstandingBytes(), 20u);
    ExFreePoolWithTag(b, 0x74736554);
    EXPECT_EQ(k.pool().outstanding(), 0u);
    EXPECT_EQ(k.pool().allocations(), 2u);
}

TEST(PlatformPool, CountsAllocationsFromExecutablePool)
{
    kstub::Kernel k;
    struct Row {
        const char* szWhat;
        void* (*pfn)();
        std::size_t cExecutable;
    };
    const Row mp[] = {
        {"non-paged, not executable", [] { return ExAllocatePoolWithTag(NonPagedPoolNx, 8, 0x74736554); }, 0},
        {"ExAllocatePool2", [] { return ExAllocatePool2(POOL_FLAG_NON_PAGED, 8, 0x74736554); }, 0},
        {"non-paged, executable", [] { return ExAllocatePoolWithTag(NonPagedPool, 8, 0x74736554); }, 1},
        {"without a tag", [] { return ExAllocatePool(NonPagedPool, 8); }, 1},
    };
    for (const Row& r : mp) {
        std::size_t cBefore = k.pool().executableAllocations();
        void* p = r.pfn();
        ASSERT_NE(p, nullptr) << r.szWhat;
        EXPECT_EQ(k.pool().executableAllocations() - cBefore, r.cExecutable) << r.szWhat;
        ExFreePool(p);
    }
}

TEST(PlatformPool, FailsTheNthAllocationAndAllocationsOfOneSize)
{
    kstub::Kernel k;
    k.pool().failNth(2);
    void* a = ExAllocatePool(NonPagedPool, 8);
    void* b = ExAllocatePool(NonPagedPool, 8);
    void* c = ExAllocatePool(NonPagedPool, 8);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    k.pool().failSize(64);
    EXPECT_EQ(ExAllocatePool(NonPagedPool, 64), nullptr);
    EXPECT_EQ(ExAllocatePool(NonPagedPool, 64), nullptr);
    void* d = ExAllocatePool(NonPagedPool, 63);
    EXPECT_NE(d, nullptr);
    k.pool().clearFaults();
    void* e = ExAllocatePool(NonPagedPool, 64);
    EXPECT_NE(e, nullptr);
    EXPECT_EQ(k.pool().failures(), 3u);
    EXPECT_EQ(k.pool().outstanding(), 4u);
    for (void* p : {a, c, d, e})
        ExFreePool(p);
    EXPECT_EQ(k.pool().outstanding(), 0u);
}

TEST(PlatformPool, StringConversionsAllocateFromThePool)
{
    kstub::Kernel k;
    ANSI_STRING as;
    RtlInitAnsiString(&as, "\\Device\\ZEDOZ_EVU_3");
    UNICODE_STRING us;
    ASSERT_EQ(RtlAnsiStringToUnicodeString(&us, &as, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(us.Length, 2 * 19);
    EXPECT_EQ(std::u16string(us.Buffer), u"\\Device\\ZEDOZ_EVU_3");
    EXPECT_EQ(k.pool().outstanding(), 1u);
    RtlFreeUnicodeString(&us);
    EXPECT_EQ(k.pool().outstanding(), 0u);
    k.pool().failNth(1);
    EXPECT_EQ(RtlAnsiStringToUnicodeString(&us, &as, TRUE), STATUS_NO_MEMORY);
    EXPECT_EQ(k.pool().outstanding(), 0u);
}

TEST(PlatformPoolDeathTest, DoubleAndUnknownFreesStopTheTest)
{
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            void* p = ExAllocatePool(NonPagedPool, 4);
            ExFreePool(p);
            ExFreePool(p);
        },
        "freed twice");
    EXPECT_DEATH(
        {
            kstub::Kernel k;
            int x = 0;
            ExFreePool(&x);
        },
        "not allocated");
}

}  // namespace
