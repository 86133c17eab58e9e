// The registry forms the driver reads: partial information and its
// too-small statuses, missing keys and values, device keys and properties.
#include <gtest/gtest.h>

#include "kv_kernel.h"

namespace {

struct RegistryTest : ::testing::Test {
    kstub::Kernel k;
    const std::string svc = kstub::servicePath("kavorqir");

    NTSTATUS open(const std::string& path, HANDLE* ph)
    {
        std::u16string w = kstub::widen(path);
        UNICODE_STRING us;
        RtlInitUnicodeString(&us, w.c_str());
        OBJECT_ATTRIBUTES oa;
        InitializeObjectAttributes(&oa, &us, 0, nullptr, nullptr);
        return ZwOpenKey(ph, GENERIC_READ, &oa);
    }

    NTSTATUS query(HANDLE h, const char16_t* name, ULONG cb, UCHAR* buf, ULONG* pcb)
    {
        UNICODE_STRING us;
        RtlInitUnicodeString(&us, name);
        return ZwQueryValueKey(h, &us, KeyValuePartialInformation, buf, cb, pcb);
    }
};

TEST_F(RegistryTest, MissingKeyAndMissingValue)
{
    HANDLE h = nullptr;
    EXPECT_EQ(open(svc, &h), STATUS_OBJECT_NAME_NOT_FOUND);
    k.registry().createKey(svc);
    ASSERT_EQ(open(svc, &h), STATUS_SUCCESS);
    UCHAR buf[16];
    ULONG cb = 0;
    EXPECT_EQ(query(h, u"Debug", sizeof buf, buf, &cb), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(h), STATUS_INVALID_HANDLE);
}

TEST_F(RegistryTest, PartialInformationFormsBySize)
{
    struct Row {
        std::vector<uint8_t> data;
        ULONG cbBuf;
        NTSTATUS st;
        ULONG cbNeeded;
        bool fDataCopied;
    };
    const Row rows[] = {
        {{0x03, 0x03, 0, 0}, 16, STATUS_SUCCESS, 16, true},
        {{0x07}, 16, STATUS_SUCCESS, 13, true},
        {{1, 2, 3, 4, 5}, 16, STATUS_BUFFER_OVERFLOW, 17, false},
        {{0x03, 0x03, 0, 0}, 15, STATUS_BUFFER_OVERFLOW, 16, false},
        {{0x03, 0x03, 0, 0}, 12, STATUS_BUFFER_OVERFLOW, 16, false},
        {{0x03, 0x03, 0, 0}, 11, STATUS_BUFFER_TOO_SMALL, 16, false},
        {{}, 12, STATUS_SUCCESS, 12, true},
    };
    for (const Row& r : rows) {
        k.registry().setValue(svc, kstub::RegValue::bytes("Debug", REG_DWORD, r.data));
        HANDLE h = nullptr;
        ASSERT_EQ(open(svc, &h), STATUS_SUCCESS);
        UCHAR buf[32];
        std::memset(buf, 0xEE, sizeof buf);
        ULONG cb = 0;
        EXPECT_EQ(query(h, u"debug", r.cbBuf, buf, &cb), r.st) << r.data.size() << "/" << r.cbBuf;
        EXPECT_EQ(cb, r.cbNeeded);
        auto* pi = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buf);
        if (r.st != STATUS_BUFFER_TOO_SMALL) {
            EXPECT_EQ(pi->Type, ULONG(REG_DWORD));
            EXPECT_EQ(pi->DataLength, r.data.size());
        }
        if (r.fDataCopied && !r.data.empty()) {
            EXPECT_EQ(std::memcmp(pi->Data, r.data.data(), r.data.size()), 0);
        }
        if (!r.fDataCopied) {
            EXPECT_EQ(buf[12], 0xEE);
        }
        ZwClose(h);
    }
}

TEST_F(RegistryTest, DeviceKeyAndDriverKeyPropertyOfAPhysicalDevice)
{
    kstub::PdoProps props;
    props.driverKey = u"{36fc9e60-c465-11cf-8056-444553540000}\\0003";
    props.deviceValues = {kstub::RegValue::dword("CardType", 0)};
    PDEVICE_OBJECT pdo = k.pnp().createPdo(props);

    HANDLE h = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &h), STATUS_SUCCESS);
    UCHAR buf[16] = {};
    ULONG cb = 0;
    ASSERT_EQ(query(h, u"CardType", sizeof buf, buf, &cb), STATUS_SUCCESS);
    EXPECT_EQ(reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buf)->DataLength, 4u);
    ZwClose(h);

    WCHAR key[160];
    ULONG cbKey = 0;
    ASSERT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, sizeof key, key, &cbKey),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(key), props.driverKey);
    EXPECT_EQ(cbKey, (props.driverKey.size() + 1) * 2);
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, 8, key, &cbKey),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(cbKey, (props.driverKey.size() + 1) * 2);

    k.failNext(kstub::Fault::OpenDeviceRegistryKey, 1, STATUS_ACCESS_DENIED);
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &h), STATUS_ACCESS_DENIED);
    k.failNext(kstub::Fault::GetDeviceProperty, 1, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, sizeof key, key, &cbKey),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, sizeof key, key, &cbKey),
              STATUS_SUCCESS);
}

}  // namespace
