// The USB board's start and its firmware: the descriptors and the
// configuration, the idle image at start, the operating image at the first
// open and the idle image at the last close, and the download's checks.
#include <gtest/gtest.h>

#include <thread>

#include "drv_support.h"
#include "ezusb_fw.h"
#include "qirc.h"
#include "sim/usb_descriptors.h"
#include "test_modules.h"
#include "wmusb.h"

namespace {

using drvtest::DriverTest;
using usbstub::UrbKind;

// The vendor writes of a download of the image: hold, the records, run.
std::vector<std::pair<uint16_t, std::vector<uint8_t>>> downloadOf(const ezusb_hex_record* phr)
{
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> r{{addrEzusbCpuCs, {1}}};
    for (; phr->_addr != addrEzusbEnd; ++phr)
        r.push_back({phr->_addr, std::vector<uint8_t>(phr->_data, phr->_data + phr->_cData)});
    r.push_back({addrEzusbCpuCs, {0}});
    return r;
}

std::vector<std::pair<uint16_t, std::vector<uint8_t>>> writesOf(const std::vector<usbstub::UrbRecord>& urbs)
{
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> r;
    for (const usbstub::UrbRecord& u : urbs) {
        EXPECT_EQ(u.request, uEzusbRequestWrite);
        r.push_back({u.value, u.data});
    }
    return r;
}

class UsbStartTest : public DriverTest {};

TEST_F(UsbStartTest, StartReadsTheDescriptorsSelectsTheConfigurationAndRunsTheIdleImage)
{
    plugAndLoad();
    std::vector<usbstub::UrbRecord> log = pdev->urbLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].kind, UrbKind::GetDescriptor);
    EXPECT_EQ(log[0].descriptorType, 1);
    EXPECT_EQ(log[0].cbRequested, 18u);
    EXPECT_EQ(log[1].descriptorType, 2);
    EXPECT_EQ(log[1].cbRequested, 9u);
    EXPECT_EQ(log[2].descriptorType, 2);
    EXPECT_EQ(log[2].cbRequested, board->configurationDescriptor(0).size());
    EXPECT_EQ(log[3].kind, UrbKind::SelectConfiguration);
    EXPECT_EQ(writesOf(urbs(UrbKind::VendorOut)), downloadOf(gid_firmware));
    EXPECT_EQ(board->runningImage(), "gid_firmware");
    EXPECT_EQ(board->alternateSetting(), 1);
    for (const char* sz : {"kqir0: CardUsb::pnpStartDevice", "kqir0: man=0x1 prod=0x2 sn=0x3",
                           "kqir0: ep 2: addr=0x2 attr=0x2 size=512", "kqir0: ep 5: addr=0x88 attr=0x2 size=512",
                           "kqir0: if=0 as=1 ", "np=6", "kqir0: pi=5 ad=0x88 ", "kqir0: download firmware (idle)"})
        EXPECT_TRUE(logHas(sz)) << sz;
    EXPECT_FALSE(logHas("ep 1:")) << "only the 3rd to 6th endpoints are logged";
    EXPECT_EQ(k().pool().outstanding(), 1u) << "the configuration descriptor is kept";
}

TEST_F(UsbStartTest, FiveEndpointsFailTheStartAndFreeEverything)
{
    auto eps = KVdepSim100::boardEndpoints();
    eps.pop_back();
    board->overrideConfigurationDescriptor(KVdepSim100::configurationDescriptorBytes(eps));
    plugAndAdd();
    EXPECT_EQ(start(), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(logHas("kqir0: 5 is the wrong number of endpoints"));
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
    EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
}

TEST_F(UsbStartTest, SevenEndpointsFailTheStart)
{
    auto eps = KVdepSim100::boardEndpoints();
    eps.push_back(eps[0]);
    board->overrideConfigurationDescriptor(KVdepSim100::configurationDescriptorBytes(eps));
    plugAndAdd();
    EXPECT_EQ(start(), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(logHas("kqir0: 7 is the wrong number of endpoints"));
    EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
}

TEST_F(UsbStartTest, NoAlternateSettingOneFailsTheStart)
{
    board->overrideConfigurationDescriptor(KVdepSim100::configurationDescriptorBytes(KVdepSim100::boardEndpoints(), false));
    plugAndAdd();
    EXPECT_EQ(start(), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(logHas("kqir0: No interface for device"));
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

TEST_F(UsbStartTest, EachFailingStepOfTheStartHasItsLineAndStatusAndLeavesNothing)
{
    struct Case {
        UrbKind kind;
        unsigned nth;
        const char* line;
    } cases[] = {
        {UrbKind::GetDescriptor, 1, "Error 0xc0000001 trying to read device descriptor"},
        {UrbKind::GetDescriptor, 2, "error 0xc0000001 trying to read configuration descriptor 1"},
        {UrbKind::GetDescriptor, 3, "Error 0xC0000001 trying to read configuration descriptor 1"},
        {UrbKind::SelectConfiguration, 1, "Error 0xC0000001 trying to select configuration"},
    };
    plugAndAdd();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        log().clear();
        pdev->failUrb(c.kind, c.nth);
        EXPECT_EQ(start(), STATUS_UNSUCCESSFUL);
        EXPECT_TRUE(logHas(c.line));
        EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
        // The failed start removed the device; it comes back for the next case.
        ASSERT_EQ(k().pnp().addDevice(pdev->pdo()), STATUS_SUCCESS);
    }
    EXPECT_EQ(start(), STATUS_SUCCESS);
}

TEST_F(UsbStartTest, PoolFailuresOfTheStartAreInsufficientResources)
{
    size_t cbConfig = board->configurationDescriptor(0).size();
    size_t cbSelect = sizeof(struct _URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION) +
                      GET_USBD_INTERFACE_SIZE(6);
    struct Case {
        size_t cb;
        std::string line;
    } cases[] = {
        {cbConfig, "Unable to allocate " + std::to_string(cbConfig) + " bytes for configuration descriptor"},
        {cbSelect, "Unable to create configuration request"},
    };
    plugAndAdd();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        k().pool().failSize(c.cb);
        EXPECT_EQ(start(), STATUS_INSUFFICIENT_RESOURCES);
        k().pool().clearFaults();
        EXPECT_TRUE(logHas(c.line));
        EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
        ASSERT_EQ(k().pnp().addDevice(pdev->pdo()), STATUS_SUCCESS);
    }
}

TEST_F(UsbStartTest, UnreadableConfigurationLengthsFailBeforeAnyWalk)
{
    std::vector<uint8_t> d = board->configurationDescriptor(0);
    d[2] = 4;  // wTotalLength below a configuration descriptor
    d[3] = 0;
    board->overrideConfigurationDescriptor(d);
    plugAndAdd();
    EXPECT_EQ(start(), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(logHas("kqir0: configuration sizes=4"));
    EXPECT_TRUE(logHas("Error 0xC0000182 trying to read configuration descriptor 1"));
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

TEST_F(UsbStartTest, FailedIdleDownloadAtStartStillStartsTheBoard)
{
    plugAndAdd();
    pdev->failUrb(UrbKind::VendorOut, 2);
    EXPECT_EQ(start(), STATUS_SUCCESS);
    EXPECT_TRUE(logHas("kqir0: Error 0xc0000001 trying write ezusb memory"));
    auto writes = urbs(UrbKind::VendorOut);
    ASSERT_EQ(writes.size(), 2u) << "the download stops at the failed write";
    EXPECT_EQ(writes[1].status, STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(board->isCpuHeld());
}

TEST_F(UsbStartTest, RestartAfterAStopKeepsOneConfigurationBlock)
{
    plugAndLoad();
    ASSERT_EQ(k().pool().outstanding(), 1u);
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    EXPECT_EQ(k().pool().outstanding(), 1u) << k().pool().describeOutstanding();
}

TEST_F(UsbStartTest, StopDeconfiguresAndAFailedDeconfigureIsOnlyLogged)
{
    world.setDebug(fWmDebugDefault | fWmUsb);
    plugAndLoad();
    pdev->failUrb(UrbKind::Deconfigure);
    ASSERT_EQ(k().pnp().remove(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_TRUE(logHas("kqir0: Error 0xc0000001 trying to deconfigure device"));
    EXPECT_TRUE(logHas("kqir0: dtCardUsb"));
    EXPECT_EQ(urbs(UrbKind::Deconfigure).size(), 1u);
}

class UsbOpenTest : public DriverTest {};

TEST_F(UsbOpenTest, FirstOpenRunsTheOperatingImageAndLastCloseTheIdleOne)
{
    plugAndLoad();
    pdev->clearUrbLog();
    HANDLE h0 = openOk("\\qir\\0");
    EXPECT_EQ(board->runningImage(), "qir_firmware");
    EXPECT_EQ(writesOf(urbs(UrbKind::VendorOut)), downloadOf(qir_firmware));
    EXPECT_EQ(k().delays(), (std::vector<LONGLONG>{-10})) << "a relative microsecond after the download";
    EXPECT_TRUE(logHas("kqir0: usb download done"));
    HANDLE h1 = openOk("\\qir\\1");
    size_t cWrites = urbs(UrbKind::VendorOut).size();
    close(h0);
    EXPECT_EQ(urbs(UrbKind::VendorOut).size(), cWrites) << "one channel is still open";
    EXPECT_EQ(board->runningImage(), "qir_firmware");
    close(h1);
    EXPECT_EQ(board->runningImage(), "gid_firmware");
    EXPECT_TRUE(logHas("kqir0: close chan 0 1 f=0x0"));
}

TEST_F(UsbOpenTest, ClosingTheFirstOpenedChannelLastDownloadsTheIdleImageOnce)
{
    plugAndLoad();
    HANDLE h0 = openOk("\\qir\\0");
    HANDLE h1 = openOk("\\qir\\1");
    close(h1);
    pdev->clearUrbLog();
    close(h0);
    EXPECT_EQ(writesOf(urbs(UrbKind::VendorOut)), downloadOf(gid_firmware));
    EXPECT_TRUE(logHas("kqir0: close, cOpen=1"));
    EXPECT_TRUE(logHas("kqir0: close chan 0 0 f=0x0"));
}

TEST_F(UsbOpenTest, FailedOperatingDownloadRefusesTheOpenAndTheNextOpenDownloadsAgain)
{
    plugAndLoad();
    pdev->failUrb(UrbKind::VendorOut, 5);
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(board->isCpuHeld());
    EXPECT_TRUE(logHas("kqir0: can't open qir\\0"));
    openOk();
    EXPECT_EQ(board->runningImage(), "qir_firmware");
}

class TwoDriverTest : public DriverTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykTwo; }
};

TEST_F(TwoDriverTest, AnotherDriverIsRefusedWithItsLineAndABusyBitSilently)
{
    plugAndLoad();
    openOk("\\qir\\0");
    log().clear();
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\vaq\\1"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: Attempt to open different driver 1 while open &d"));
    log().clear();
    EXPECT_EQ(open(&h, "\\vaq\\0"), STATUS_NO_SUCH_DEVICE);
    EXPECT_FALSE(logHas("Attempt to open")) << "channel 0's bit is set";
    EXPECT_TRUE(logHas("kqir0: can't open vaq\\0"));
}

class WideModuleTest : public DriverTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykWide; }
};

TEST_F(WideModuleTest, IndexesPastTheBoardsTablesAreRefusedLikeInvalidOnes)
{
    plugAndLoad();
    pdev->clearUrbLog();
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h, "\\qir\\2"), STATUS_NO_SUCH_DEVICE) << "the module has 3 channels, the board 2 pipes";
    EXPECT_EQ(open(&h, "\\ta4\\0"), STATUS_NO_SUCH_DEVICE) << "driver index 4: 4 firmware entries";
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
    EXPECT_TRUE(logHas("kqir0: open chan 4 0"));
    EXPECT_FALSE(logHas("download firmware (operation)"));
    openOk("\\ta3\\1");
    EXPECT_EQ(board->runningImage(), "qir_firmware");
}

class ImageTest : public DriverTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykImages; }
};

TEST_F(ImageTest, ImageOfOnlyTheEndRecordIsTwoWritesToTheControlRegister)
{
    plugAndAdd(0u);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    EXPECT_EQ(writesOf(urbs(UrbKind::VendorOut)),
              (std::vector<std::pair<uint16_t, std::vector<uint8_t>>>{{0xE600, {1}}, {0xE600, {0}}}));
}

TEST_F(ImageTest, RecordOfNoBytesIsAZeroLengthWrite)
{
    world.setDebug(fWmDebugDefault | fWmUsb);
    plugAndAdd(3u);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    pdev->clearUrbLog();
    openOk();
    EXPECT_EQ(writesOf(urbs(UrbKind::VendorOut)), downloadOf(drvtest::mphrZeroLength));
    EXPECT_TRUE(logHas("kqir0: ezusbWriteMem 0x100, 0"));
}

TEST_F(ImageTest, RecordThatWouldOverReadItsDataIsNotSent)
{
    plugAndAdd(1u);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    pdev->clearUrbLog();
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: bad firmware record 0x10, 17"));
    EXPECT_EQ(urbs(UrbKind::VendorOut).size(), 2u) << "the hold and the good record before";
    EXPECT_TRUE(board->isCpuHeld());
}

TEST_F(ImageTest, RecordPastTheMemoryIsNotSent)
{
    plugAndAdd(2u);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    pdev->clearUrbLog();
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: bad firmware record 0xfff8, 16"));
    EXPECT_EQ(urbs(UrbKind::VendorOut).size(), 1u);
    EXPECT_TRUE(board->isCpuHeld());
}

TEST_F(ImageTest, DriverWithoutAnOperatingImageIsRefused)
{
    plugAndAdd(4u);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    pdev->clearUrbLog();
    HANDLE h = nullptr;
    EXPECT_EQ(open(&h), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: Unable to find firmware for driver 0"));
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
}

TEST(ImageTables, EveryImageEndsAndKeepsItsRecordsInTheControllersMemory)
{
    struct Case {
        const ezusb_hex_record* phr;
        size_t cRec;
    } cases[] = {{qir_firmware, cRecQirFirmware}, {sio_firmware, cRecSioFirmware}, {wex_firmware, cRecWexFirmware},
                 {gid_firmware, cRecGidFirmware}, {gdc_firmware, cRecGdcFirmware}};
    for (const Case& c : cases) {
        size_t n = 0;
        for (const ezusb_hex_record* p = c.phr; p->_addr != addrEzusbEnd; ++p, ++n) {
            ASSERT_LT(n, c.cRec);
            EXPECT_GE(p->_cData, 1);
            EXPECT_LE(p->_cData, 16);
            EXPECT_LE(p->_addr + p->_cData, 0x10000);
        }
        EXPECT_EQ(n + 1, c.cRec);
    }
}

class UsbPrintTest : public DriverTest {};

TEST_F(UsbPrintTest, BoardPartIsCutToTheRoomItIsGiven)
{
    pdev = &world.plug(*board, 0u, u"{36fc9e60-c465-11cf-8056-444553540000}\\0007");
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    Card* pca = static_cast<Card*>(fdo()->DeviceExtension);
    char mpch[200];
    int n = pca->print(mpch, sizeof mpch);
    std::string sg = "id={36fc9e60-c465-11cf-8056-444553540000}\\0007 name=HIX-5316 org=kavor arch=\n";
    EXPECT_EQ(std::string(mpch), sg);
    EXPECT_EQ(n, static_cast<int>(sg.size()));
    std::memset(mpch, 'x', sizeof mpch);
    EXPECT_EQ(pca->print(mpch, 10), 9);
    EXPECT_EQ(std::string(mpch), sg.substr(0, 9));
    EXPECT_EQ(mpch[10], 'x');
}

TEST_F(UsbOpenTest, OpensAndClosesOfOneBoardFromTwoThreadsNeverMixTwoDownloads)
{
    plugAndLoad();
    auto loop = [this](const char* szRest) {
        for (int i = 0; i < 6; ++i) {
            HANDLE h = nullptr;
            if (kstub::io::create((std::string("\\\\.\\ZEDOZ_EVU_0") + szRest).c_str(), &h) == STATUS_SUCCESS)
                kstub::io::close(h);
        }
    };
    std::thread t0(loop, "\\qir\\0");
    std::thread t1(loop, "\\qir\\1");
    t0.join();
    t1.join();
    for (const KVdepSim100::Download& d : board->downloads())
        EXPECT_FALSE(d._sgImage.empty()) << "a download of " << d._cWrites << " writes mixed two images";
    EXPECT_EQ(board->runningImage(), "gid_firmware");
}

}  // namespace
