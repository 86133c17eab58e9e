#include "yek_c.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using KVdepYek100::YekProto;

namespace {

const char szBase[] = "(//)(/Int4:u_int/)";
const char szExt[] = "(//)(/Int4:u_int/)(/Int1:bool/)";

TEST(ModuleDescriptor, DriverDescriptorsEndAtTheirCount)
{
    YekProto pro(szExt, "ext");
    YekDriverDesc mpudd[] = {{2, &pro}};
    const YekMod um{1, 10, nullptr, nullptr, 1, mpudd, 0, nullptr, nullptr, nullptr};
    EXPECT_EQ(YekMod_getDriverDesc(&um, 0), &mpudd[0]);
    EXPECT_EQ(YekMod_getDriverDesc(&um, 1), nullptr);
    EXPECT_EQ(YekMod_getDriverDesc(&um, ~0u), nullptr);
    const YekMod umNone{1, 10, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr};
    EXPECT_EQ(YekMod_getDriverDesc(&umNone, 0), nullptr);
}

TEST(ModuleDescriptor, MemoryRequestAsksForNothing)
{
    YekMemInfo mi{7, &mi};
    EXPECT_EQ(KVdepYek100::YekMod_getMem(nullptr, &mi, 1), 0);
    EXPECT_EQ(mi._s, 7u);
    EXPECT_EQ(mi._p, &mi);
}

TEST(ModuleDescriptor, IterationBlockHoldsAnAlignedIterator)
{
    EXPECT_EQ(sizeof(YekIter), 64u);
    EXPECT_EQ(alignof(YekIter) % alignof(void*), 0u);
}

// Region lookup by class letter.
struct RegionTest : ::testing::Test {
    YekAdaptPci adPci{{'p', "pci", "", "", ""}, nullptr, {1, 2}, {3, 4}, {{0, 256, 0}, {0, 64, 2}}};
    YekAdaptIsa adIsa{{'i', "isa", "", "", ""}, nullptr, nullptr, {0, 32, 0}};
    YekAdaptPcm adPcm{{'P', "pcm", "", "", ""}, nullptr, {0, 16, 1}};
    YekAdaptUsb adUsb{{'u', "usb", "", "", ""}, 0, 0, "ezusb", nullptr, nullptr, {nullptr, nullptr, nullptr, nullptr}};
};

TEST_F(RegionTest, PciTakesTheFirstRegionOfTheLength)
{
    EXPECT_EQ(getRegionBySize(&adPci._ad, 64), &adPci._mprd[1]);
    EXPECT_EQ(getRegionBySize(&adPci._ad, 256), &adPci._mprd[0]);
    EXPECT_EQ(getRegionBySize(&adPci._ad, 128), nullptr);
    adPci._mprd[1]._l = 256;
    EXPECT_EQ(getRegionBySize(&adPci._ad, 256), &adPci._mprd[0]);
}

TEST_F(RegionTest, SingleRegionClassesOnlyOnEqualLength)
{
    EXPECT_EQ(getRegionBySize(&adIsa._ad, 32), &adIsa._rd);
    EXPECT_EQ(getRegionBySize(&adIsa._ad, 16), nullptr);
    EXPECT_EQ(getRegionBySize(&adPcm._ad, 16), &adPcm._rd);
    EXPECT_EQ(getRegionBySize(&adPcm._ad, 32), nullptr);
}

TEST_F(RegionTest, UsbAndUnknownClassesHaveNoRegions)
{
    for (unsigned len : {0u, 16u, 32u, 64u, 256u})
        EXPECT_EQ(getRegionBySize(&adUsb._ad, len), nullptr) << len;
    // Any letter but 'p', 'i' and 'P' gives nothing.
    adPcm._ad._eClass = 'x';
    EXPECT_EQ(getRegionBySize(&adPcm._ad, 16), nullptr);
    EXPECT_EQ(getRegionBySize(nullptr, 16), nullptr);
}

TEST(FlatProto, MatchIgnoresTheLength)
{
    YekProto base(szBase, "bas"), ext(szExt, "ext");
    EXPECT_STREQ(YekProto_szProto(&ext), szExt);
    EXPECT_STREQ(YekProto_szName(&ext), "ext");
    for (size_t cch : {size_t(0), size_t(1), std::strlen(szBase), std::strlen(szBase) + 1, size_t(4096)}) {
        EXPECT_EQ(YekProto_match(&ext, szBase, cch), 1) << cch;
        EXPECT_EQ(YekProto_match(&ext, szExt, cch), 1) << cch;
        EXPECT_EQ(YekProto_match(&base, szExt, cch), 0) << cch;
        EXPECT_EQ(YekProto_match(&base, "", cch), 1) << cch;
        EXPECT_EQ(YekProto_match(&base, "(//)(/Int2", cch), 0) << cch;
    }
}

}  // namespace
