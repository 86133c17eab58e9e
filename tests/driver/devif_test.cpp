#include "yek_devif.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(DeviceInterface, ControlCodesAreBuiltFromTypeFunctionMethodAndAccess)
{
    struct Case {
        uint32_t code;
        uint32_t function;
        uint32_t value;
    } cases[] = {
        {IOCTL_YEK_PROCHK, 0x800, 0x222003},
        {IOCTL_YEK_PUT, 0x801, 0x222007},
        {IOCTL_YEK_GET, 0x802, 0x22200B},
        {IOCTL_YEK_XCH, 0x803, 0x22200F},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.code, c.value);
        EXPECT_EQ(c.code >> 16, 0x22u) << "device type";
        EXPECT_EQ((c.code >> 14) & 3, 0u) << "any access";
        EXPECT_EQ((c.code >> 2) & 0xFFF, c.function);
        EXPECT_EQ(c.code & 3, 3u) << "method neither";
    }
}

TEST(DeviceInterface, BlockLayoutIsTwelveValuesInRecordOrder)
{
    // limit, data limit, base of _cd, _dd, _cu, _du: the order the driver
    // widens and writes back a 32-bit block in.
    char mpch[12];
    YekIoc ioc;
    YekMemStruct* mpum[] = {&ioc._cd, &ioc._dd, &ioc._cu, &ioc._du};
    for (int r = 0; r < 4; ++r)
        *mpum[r] = {mpch + 3 * r, mpch + 3 * r + 1, mpch + 3 * r + 2};
    char* mppch[cYekIocValues];
    static_assert(sizeof mppch == sizeof ioc, "no padding");
    std::memcpy(mppch, &ioc, sizeof ioc);
    for (size_t k = 0; k < cYekIocValues; ++k)
        EXPECT_EQ(mppch[k], mpch + k) << k;

    YekIoc32 ioc32{};
    ioc32._du._pchBase = 0x80000000u;
    uint32_t mpu[cYekIocValues];
    std::memcpy(mpu, &ioc32, sizeof ioc32);
    EXPECT_EQ(mpu[11], 0x80000000u);
}

TEST(DeviceInterface, NamesFormTheDevicePathsAndTheSixCharacterChannelName)
{
    char szName[80];
    std::snprintf(szName, sizeof szName, szYekDevNameFmt, szYekDevBaseName, 3);
    EXPECT_STREQ(szName, "ZEDOZ_EVU_3");
    EXPECT_EQ(std::string(szYekDevObjPrefix) + szName, "\\Device\\ZEDOZ_EVU_3");
    EXPECT_EQ(std::string(szYekDevLinkPrefix) + szName, "\\DosDevices\\ZEDOZ_EVU_3");

    std::string sgDev = std::string(szYekDevUserPrefix) + "ZEDOZ_EVU_0";
    EXPECT_EQ(sgDev, "\\\\.\\ZEDOZ_EVU_0");
    char szPath[260];
    std::snprintf(szPath, sizeof szPath, szYekChanPathFmt, sgDev.c_str(), "qir", "0");
    EXPECT_STREQ(szPath, "\\\\.\\ZEDOZ_EVU_0\\qir\\0");
    // What the driver receives is the rest behind the device name.
    std::string sgFile = std::string(szPath).substr(sgDev.size());
    EXPECT_EQ(sgFile, "\\qir\\0");
    EXPECT_EQ(sgFile.size(), cchYekChanFile);
}

TEST(DeviceInterface, StatusesHaveThePlatformValues)
{
    EXPECT_EQ(static_cast<uint32_t>(stYekSuccess), 0u);
    EXPECT_EQ(static_cast<uint32_t>(stYekUnsuccessful), 0xC0000001u);
    EXPECT_EQ(static_cast<uint32_t>(stYekNoSuchDevice), 0xC000000Eu);
    EXPECT_EQ(static_cast<uint32_t>(stYekInsufficientResources), 0xC000009Au);
    EXPECT_EQ(static_cast<uint32_t>(stYekCancelled), 0xC0000120u);
    EXPECT_EQ(static_cast<uint32_t>(stYekDeviceConfigurationError), 0xC0000182u);
    // Failures are negative, as the platform tests them.
    EXPECT_LT(stYekNoSuchDevice, 0);
}

}  // namespace
