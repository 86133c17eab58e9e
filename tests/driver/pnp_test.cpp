// Plug and play: card slots and device names, "CardType", the unwinding of
// a failed AddDevice, start and removal, and the names of minor codes.
#include <gtest/gtest.h>

#include "drv_support.h"
#include "sioc.h"
#include "test_modules.h"
#include "wmpnp.h"

namespace {

using drvtest::DriverTest;

std::u16string key(int n)
{
    return u"{4d36e97d-e325-11ce-bfc1-08002be10318}\\000" + std::u16string(1, char16_t(u'0' + n));
}

class PnpTest : public DriverTest {
protected:
    std::vector<std::unique_ptr<KVdepSim100::EzUsbBoard>> boards;
    KVdepSim100::EzUsbBoard& newBoard()
    {
        boards.push_back(KVdepSim100::makeHix5316(uint16_t(boards.size() + 1)));
        return *boards.back();
    }
    PDEVICE_OBJECT plugNew(int n)
    {
        return world.plug(newBoard(), 0u, key(n)).pdo();
    }
};

TEST_F(PnpTest, BoardsGetSlotsThatStayWithTheirDriverKeys)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    PDEVICE_OBJECT a = plugNew(1);
    plugNew(2);
    EXPECT_NE(fdo(0), nullptr);
    EXPECT_NE(fdo(1), nullptr);
    EXPECT_EQ(k().linkTarget("\\DosDevices\\ZEDOZ_EVU_1"), std::optional<std::string>("\\Device\\ZEDOZ_EVU_1"));
    EXPECT_TRUE(logHas("kqir: driver key(" + kstub::narrow(key(2)) + "), index=1"));
    EXPECT_TRUE(logHas("kqir: AddDevice: SUCCESS: "));
    ASSERT_EQ(k().pnp().remove(a), STATUS_SUCCESS);
    EXPECT_EQ(fdo(0), nullptr) << "the device object goes";
    EXPECT_TRUE(k().linkTarget("\\DosDevices\\ZEDOZ_EVU_0").has_value()) << "the link stays";
    log().clear();
    ASSERT_EQ(k().pnp().enumerate(a), STATUS_SUCCESS);
    EXPECT_NE(fdo(0), nullptr) << "the same key gets its slot again";
    EXPECT_TRUE(logHas("kqir: try known driver key 0 (" + kstub::narrow(key(1)) + ")"));
    plugNew(3);
    EXPECT_NE(fdo(2), nullptr);
}

TEST_F(PnpTest, NinthBoardFindsNoFreeSlot)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    for (int n = 0; n < 8; ++n)
        plugNew(n);
    EXPECT_NE(fdo(7), nullptr);
    log().clear();
    PDEVICE_OBJECT p9 = plugNew(8);
    EXPECT_TRUE(logHas("kqir: no free card slot\n"));
    EXPECT_EQ(k().pnp().state(p9), kstub::DevState::Present);
    EXPECT_EQ(k().pnp().addDevice(p9), STATUS_NO_SUCH_DEVICE);
}

TEST_F(PnpTest, CardTypeMissingOrWithoutAdapterCreatesNothing)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    k().pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT pNone = world.plug(newBoard(), std::nullopt, key(1)).pdo();
    EXPECT_EQ(k().pnp().addDevice(pNone), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir: \"CardType\" value not found\n"));
    PDEVICE_OBJECT pOne = world.plug(newBoard(), 1u, key(2)).pdo();
    EXPECT_EQ(k().pnp().addDevice(pOne), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir: CardType=1\n"));
    EXPECT_TRUE(logHas("kqir: CardType 1=(-nil-)\n"));
    EXPECT_FALSE(logHas("try slot")) << "no slot is claimed without an adapter";
    PDEVICE_OBJECT pHuge = world.plug(newBoard(), 0x7FFFFFFFu, key(3)).pdo();
    EXPECT_EQ(k().pnp().addDevice(pHuge), STATUS_NO_SUCH_DEVICE) << "the value is walked to, never indexed";
    EXPECT_EQ(k().deviceCount(), 3u) << "only the physical device objects";
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

TEST_F(PnpTest, EmptyDriverKeyClaimsNoSlot)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    k().pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT p = world.plug(newBoard(), 0u, std::u16string(1, u'\0')).pdo();
    EXPECT_EQ(k().pnp().addDevice(p), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir: no driver key "));
    EXPECT_EQ(wmCardSlots()[0]._wszKey[0], 0);
}

TEST_F(PnpTest, FailuresOfAddDeviceUnwindAndTheSlotKeepsItsKey)
{
    struct Case {
        kstub::Fault fault;
        NTSTATUS st;
        const char* line;
    } cases[] = {
        {kstub::Fault::OpenDeviceRegistryKey, STATUS_NO_SUCH_DEVICE, "kqir: IoOpenDeviceRegistryKey=c0000001"},
        {kstub::Fault::GetDeviceProperty, STATUS_NO_SUCH_DEVICE, "kqir: no driver key c0000001"},
        {kstub::Fault::CreateDevice, STATUS_UNSUCCESSFUL, "kqir: IoCreateDevice(ZEDOZ_EVU_0) failed(c0000001)"},
        {kstub::Fault::CreateSymbolicLink, STATUS_UNSUCCESSFUL, "kqir: cant't create link(c0000001)"},
        {kstub::Fault::AttachDevice, STATUS_NO_SUCH_DEVICE, "kqir0: IoAttachDevice failed, calling RemoveDevice()"},
    };
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    k().pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT p = world.plug(*board, 0u, key(5)).pdo();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        log().clear();
        k().failNext(c.fault);
        EXPECT_EQ(k().pnp().addDevice(p), c.st);
        EXPECT_TRUE(logHas(c.line)) << log().text();
        EXPECT_EQ(fdo(0), nullptr);
        EXPECT_EQ(k().deviceCount(), 1u);
        EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
    }
    EXPECT_EQ(k().pnp().enumerate(p), STATUS_SUCCESS);
    EXPECT_NE(fdo(0), nullptr) << "the slot kept its key";
}

TEST_F(PnpTest, ExistingLinkOfAnEarlierDriverIsTakenOver)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    PDEVICE_OBJECT p = plugNew(1);
    ASSERT_EQ(k().pnp().remove(p), STATUS_SUCCESS);
    k().unloadDriver("kavorqir");
    // The image comes again with free slots; the link is still there.
    wmImageLoad();
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    EXPECT_EQ(k().pnp().enumerate(p), STATUS_SUCCESS);
    EXPECT_NE(fdo(0), nullptr);
}

TEST_F(PnpTest, StartOfALowerDriverThatFailsDoesNotStartTheBoard)
{
    k().pnp().setAutoEnumerate(false);
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    PDEVICE_OBJECT p = plugNew(1);
    ASSERT_EQ(k().pnp().addDevice(p), STATUS_SUCCESS);
    k().pnp().setStartStatus(p, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(k().pnp().start(p), STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(logHas("kqir0: pnp 0x0 (IRP_MN_START_DEVICE)"));
    EXPECT_FALSE(logHas("CardUsb::pnpStartDevice"));
    // A lower driver that finishes the start later is waited for.
    k().pnp().setStartStatus(p, STATUS_SUCCESS);
    k().pnp().setPendStart(p, true);
    ASSERT_EQ(k().pnp().addDevice(p), STATUS_SUCCESS);
    EXPECT_EQ(k().pnp().start(p), STATUS_SUCCESS);
    EXPECT_TRUE(logHas("CardUsb::pnpStartDevice"));
}

TEST_F(PnpTest, RemovalRunsInItsOrderAndOtherRequestsPassDown)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    PDEVICE_OBJECT p = plugNew(1);
    log().clear();
    EXPECT_EQ(k().pnp().sendMinor(p, 0x0E), STATUS_NOT_SUPPORTED) << "passed down with its status";
    EXPECT_TRUE(logHas("kqir0: pnp 0xe (IRP_MN_????" "?)"));
    log().clear();
    ASSERT_EQ(k().pnp().remove(p), STATUS_SUCCESS);
    std::vector<std::string> order;
    for (const std::string& sg : log().lines())
        for (const char* sz : {"pnp 0x2 ", "Error 0x", "kwmRemoveDevice", "pnp removal"})
            if (sg.find(sz) != std::string::npos)
                order.push_back(sz);
    EXPECT_EQ(order, (std::vector<std::string>{"pnp 0x2 ", "kwmRemoveDevice", "pnp removal"}));
    EXPECT_EQ(k().pnp().state(p), kstub::DevState::Removed);
}

TEST(PnpMinorNames, AreThePlatformsConstantsAndUnknownOnesAreMarked)
{
    struct Case {
        UCHAR u;
        const char* sz;
    } cases[] = {{0x00, "IRP_MN_START_DEVICE"},         {0x02, "IRP_MN_REMOVE_DEVICE"},
                 {0x0D, "IRP_MN_FILTER_RESOURCE_REQUIREMENTS"}, {0x0E, "IRP_MN_?????"},
                 {0x0F, "IRP_MN_READ_CONFIG"},          {0x17, "IRP_MN_SURPRISE_REMOVAL"},
                 {0x18, "IRP_MN_?????"},                {0xFF, "IRP_MN_?????"}};
    for (const Case& c : cases)
        EXPECT_STREQ(pnpMinorName(c.u), c.sz) << int(c.u);
}

class SioPnpTest : public PnpTest {
protected:
    const YekMod* cardModule() const override { return &ykSio; }
};

TEST_F(SioPnpTest, ChangedCardTypeOfAKnownDeviceIsRefusedWithoutStoppingTheSystem)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    boards.push_back(KVdepSim100::makePyl2817());
    KVdepSim100::EzUsbBoard* pyl = boards.back().get();
    usbstub::UsbDevice& dev = world.plug(*pyl, 0u, key(1));
    ASSERT_NE(fdo(0), nullptr);
    world.usb().unplug(dev);
    ASSERT_EQ(fdo(0), nullptr);
    // The same device comes back with another "CardType" in its hardware key.
    log().clear();
    k().pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT p = world.plug(*pyl, 1u, key(1)).pdo();
    EXPECT_EQ(k().pnp().addDevice(p), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir: CardType 1=(VUZ-2958)"));
    EXPECT_TRUE(logHas("kqir: CardType of slot 0 changed from (PYL-2817) to (VUZ-2958)"));
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

class PciPnpTest : public PnpTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykPci; }
};

TEST_F(PciPnpTest, PciAdapterIsRefusedCleanlyByThisBuild)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    k().pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT p = world.plug(*board, 0u, key(1)).pdo();
    EXPECT_EQ(k().pnp().addDevice(p), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: Card construction failed (stat=1 (wmbus "));
    EXPECT_EQ(fdo(0), nullptr);
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

}  // namespace
