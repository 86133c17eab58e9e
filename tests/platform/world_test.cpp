// The world: a driver module loaded as the plug-and-play manager would
// (framework stub, AddDevice and start of the devices present), devices
// plugged later, registry values, and the teardown report.
#include <gtest/gtest.h>
#include <windows.h>

#include "fake_usb_device.h"
#include "kv_world.h"
#include "test_driver.h"

namespace {

TEST(PlatformWorld, ModuleThroughTheFrameworkStubWithDevicesPluggedBefore)
{
    kvworld::World w("testdrv");
    FakeUsbDevice a, b;
    w.plug(a);
    w.plug(b, 1u);
    EXPECT_EQ(w.kernel().pnp().state(w.devices()[0]->pdo()), kstub::DevState::Present);
    ASSERT_EQ(w.loadDriver(KV_TEST_DRIVER_MODULE), STATUS_SUCCESS);
    EXPECT_EQ(w.kernel().frameworkBinds(), std::vector<std::string>{"bind 1.15"});
    for (usbstub::UsbDevice* d : w.devices())
        EXPECT_EQ(w.kernel().pnp().state(d->pdo()), kstub::DevState::Started);
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_1\\sio\\1", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[32] = {};
    DWORD cb = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &cb, nullptr));
    EXPECT_EQ(std::string(buf, cb), "test driver text");
    CloseHandle(h);
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
    EXPECT_EQ(w.kernel().frameworkBinds(), (std::vector<std::string>{"bind 1.15", "unbind 1.15"}));
    EXPECT_FALSE(w.kernel().isLoaded("testdrv"));
}

TEST(PlatformWorld, LinkedDriverRegistryValuesAndDevicesPluggedAfter)
{
    testdrv::reset();
    kvworld::World w("testdrv");
    w.setDebug(0x303);
    auto v = w.kernel().registry().value(w.servicePath(), "Debug");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->data, (std::vector<uint8_t>{0x03, 0x03, 0, 0}));
    ASSERT_EQ(w.loadDriver(testdrv::DriverEntry), STATUS_SUCCESS);
    EXPECT_TRUE(w.kernel().frameworkBinds().empty());
    FakeUsbDevice a;
    usbstub::UsbDevice& d = w.plug(a, std::nullopt, u"{k}\\0001");
    EXPECT_EQ(w.kernel().pnp().state(d.pdo()), kstub::DevState::Started);
    EXPECT_EQ(testdrv::record().cStart, 1);
    EXPECT_EQ(w.startDevices(), STATUS_SUCCESS);  // nothing left to start
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
    EXPECT_EQ(testdrv::record().cRemove, 1);
    EXPECT_EQ(testdrv::record().cUnload, 1);
}

TEST(PlatformWorld, TeardownWithAHandleOpenIsReported)
{
    testdrv::reset();
    kvworld::World w("testdrv");
    FakeUsbDevice a;
    w.plug(a);
    ASSERT_EQ(w.loadDriver(testdrv::DriverEntry), STATUS_SUCCESS);
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    kvworld::Report r = w.teardown();
    EXPECT_FALSE(r.clean());
    EXPECT_FALSE(r.problems.empty()) << r.text();
    EXPECT_EQ(r.poolOutstanding, 0u);
    EXPECT_EQ(r.handles, 0u);  // the unload closed it
    EXPECT_EQ(testdrv::record().cRemove, 1);
}

TEST(PlatformWorld, AMissingModuleIsAFailedLoad)
{
    kvworld::World w("testdrv");
    EXPECT_FALSE(NT_SUCCESS(w.loadDriver("/nonexistent/driver.so")));
    EXPECT_FALSE(w.kernel().problems().empty());
}

}  // namespace
