// What the driver's build has in place of the C++ library: the print of a
// status without the C library, operator new and delete on the driver's
// pool. (The byte window is in mdl_test.cpp, the assertion in frame_test.cpp;
// tests/shelf/fexRol pins the print and the window to their user-mode twins.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "failable.h"
#include "kv_kernel.h"
#include "wm.h"

namespace {

struct Status : Failable {
    Status(StatE e, const char* sz, int i) { setStat(e, sz, i); }
};

TEST(KernelStatusPrint, FormatsStateTextAndNumberAndCutsToTheRoom)
{
    struct Row {
        Status fa;
        unsigned size;
        const char* sz;
        int c;
    };
    const Row mp[] = {
        {{Failable::E_BAD, "can't open", 2}, 80, "stat=2 (can't open 2)", 21},
        {{Failable::E_OK, nullptr, 0}, 80, "stat=0 (-nil- 0)", 16},
        {{Failable::E_FAIL, "wire", 59}, 80, "stat=1 (wire 59)", 16},
        {{Failable::E_NEXT, nullptr, 0}, 80, "stat=4 (-nil- 0)", 16},
        {{Failable::E_FAIL, "wmmdl", -2147483647 - 1}, 80, "stat=1 (wmmdl -2147483648)", 26},
        {{Failable::E_FAIL, "wire", 59}, 9, "stat=1 (", 16},
        {{Failable::E_FAIL, "wire", 59}, 1, "", 16},
    };
    for (const Row& r : mp) {
        char sz[96];
        std::memset(sz, '#', sizeof sz);
        EXPECT_EQ(r.fa.print(sz, r.size), r.c) << r.sz;
        EXPECT_STREQ(sz, r.sz);
        EXPECT_EQ(sz[r.size], '#') << "nothing past the room: " << r.sz;
    }
    EXPECT_EQ(Status(Failable::E_FAIL, "wire", 59).print(nullptr, 80), 16) << "no buffer: the length only";
}

TEST(KernelNewAndDelete, TakeANonExecutableBlockOfThePoolAndGiveItBack)
{
    kstub::Kernel k;
    void* pv = wmNew(24);
    ASSERT_NE(pv, nullptr);
    EXPECT_EQ(k.pool().outstanding(), 1u);
    EXPECT_EQ(k.pool().describeOutstanding(), "'kvqn' 24 bytes\n");
    EXPECT_EQ(k.pool().executableAllocations(), 0u);
    wmDelete(pv);
    EXPECT_EQ(k.pool().outstanding(), 0u);
    wmDelete(nullptr);  // the kernel would stop on a free of null
    k.pool().failNth(1);
    EXPECT_EQ(wmNew(8), nullptr) << "no block: null, for the checked new of the kernel build";
}

}  // namespace
