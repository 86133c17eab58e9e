// The PCI bus stand-in with the simulated S5920 board: the resources of the
// start request, port accesses that reach the board, interrupt delivery only
// while the line is asserted, surprise removal, and a clean teardown.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "kv_world.h"
#include "sim/pci_s5920.h"

namespace {

using KVdepSim100::S5920Board;

// A function driver that keeps what its start request carried.
struct Started {
    bool fList = false;
    ULONG cFull = 0;
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> mpprd;
} g_started;

NTSTATUS onPnp(PDEVICE_OBJECT dev, PIRP irp)
{
    PDEVICE_OBJECT lower = *static_cast<PDEVICE_OBJECT*>(dev->DeviceExtension);
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
    if (sl->MinorFunction == IRP_MN_START_DEVICE) {
        PCM_RESOURCE_LIST pl = sl->Parameters.StartDevice.AllocatedResourcesTranslated;
        g_started = Started{};
        g_started.fList = pl != nullptr;
        if (pl) {
            // The descriptors lie past the declared one-element arrays: reach
            // them by their offsets, not by indexing those arrays.
            g_started.cFull = pl->Count;
            const char* pch = reinterpret_cast<const char*>(pl) + offsetof(CM_RESOURCE_LIST, List) +
                              offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList);
            auto* pprl = reinterpret_cast<const CM_PARTIAL_RESOURCE_LIST*>(pch);
            auto* pprd = reinterpret_cast<const CM_PARTIAL_RESOURCE_DESCRIPTOR*>(
                pch + offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors));
            g_started.mpprd.assign(pprd, pprd + pprl->Count);
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    UCHAR uMinor = sl->MinorFunction;
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS st = IoCallDriver(lower, irp);
    if (uMinor == IRP_MN_REMOVE_DEVICE) {
        IoDetachDevice(lower);
        IoDeleteDevice(dev);
    }
    return st;
}

NTSTATUS onAddDevice(PDRIVER_OBJECT drv, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT dev = nullptr;
    NTSTATUS st = IoCreateDevice(drv, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &dev);
    if (!NT_SUCCESS(st))
        return st;
    *static_cast<PDEVICE_OBJECT*>(dev->DeviceExtension) = IoAttachDeviceToDeviceStack(dev, pdo);
    dev->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

NTSTATUS entry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->DriverExtension->AddDevice = onAddDevice;
    drv->MajorFunction[IRP_MJ_PNP] = onPnp;
    return STATUS_SUCCESS;
}

// An interrupt routine that clears the board's status bits.
struct Isr {
    uint16_t uBase = 0;
    int cCalls = 0;
};

BOOLEAN onInterrupt(PKINTERRUPT, PVOID pv)
{
    auto* p = static_cast<Isr*>(pv);
    ++p->cCalls;
    PUCHAR pStatus = reinterpret_cast<PUCHAR>(uintptr_t(p->uBase + S5920Board::offStatus));
    UCHAR b = READ_PORT_UCHAR(pStatus);
    if (b == 0 || b == 0xFF)
        return FALSE;
    WRITE_PORT_UCHAR(pStatus, b);
    return TRUE;
}

PUCHAR port(uint32_t u)
{
    return reinterpret_cast<PUCHAR>(uintptr_t(u));
}

class PciBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(w.loadDriver(entry), STATUS_SUCCESS); }

    // Opens the board's add-on bus and lets its interrupt through.
    void configure(pcistub::PciDevice& d)
    {
        uint16_t uOp = d.ioBase(S5920Board::iBarOperation);
        WRITE_PORT_UCHAR(port(uOp + S5920Board::offBusConfig), 0x87);
        WRITE_PORT_UCHAR(port(uOp + S5920Board::offIntControl), 0x2C);
    }

    // The models outlive the world's teardown.
    S5920Board board{0x1234};
    S5920Board other{2};
    kvworld::World w{"pcitest"};
};

TEST_F(PciBusTest, StartCarriesPortsInterruptAndExtrasInOrder)
{
    pcistub::PciProps props;
    props.uVector = 0x61;
    props.uLevel = 7;
    props.fLatched = true;
    kstub::Resource mem;
    mem.kind = kstub::Resource::Memory;
    mem.start = 0xFE000000;
    mem.length = 4096;
    props.extra.push_back(mem);
    pcistub::PciDevice& d = w.plugPci(board, props);
    EXPECT_EQ(w.kernel().pnp().state(d.pdo()), kstub::DevState::Started);
    ASSERT_TRUE(g_started.fList);
    EXPECT_EQ(g_started.cFull, 1u);
    ASSERT_EQ(g_started.mpprd.size(), 4u);
    const CM_PARTIAL_RESOURCE_DESCRIPTOR* p = g_started.mpprd.data();
    EXPECT_EQ(p[0].Type, CmResourceTypePort);
    EXPECT_EQ(p[0].Flags, CM_RESOURCE_PORT_IO);
    EXPECT_EQ(static_cast<LONGLONG>(p[0].u.Port.Start.QuadPart), d.ioBase(0));
    EXPECT_EQ(p[0].u.Port.Length, S5920Board::cbOperation);
    EXPECT_EQ(p[1].Type, CmResourceTypePort);
    EXPECT_EQ(static_cast<LONGLONG>(p[1].u.Port.Start.QuadPart), d.ioBase(1));
    EXPECT_EQ(p[1].u.Port.Length, S5920Board::cbAddOn);
    EXPECT_EQ(d.ioBase(0) % 128, 0) << "a range is aligned to its size";
    EXPECT_GE(d.ioBase(1), d.ioBase(0) + 128);
    EXPECT_EQ(p[2].Type, CmResourceTypeInterrupt);
    EXPECT_EQ(p[2].u.Interrupt.Vector, 0x61u);
    EXPECT_EQ(p[2].u.Interrupt.Level, 7u);
    EXPECT_EQ(p[2].Flags, CM_RESOURCE_INTERRUPT_LATCHED);
    EXPECT_EQ(p[2].ShareDisposition, CmResourceShareShared);
    EXPECT_EQ(p[3].Type, CmResourceTypeMemory);
    EXPECT_EQ(p[3].u.Memory.Length, 4096u);
}

TEST_F(PciBusTest, OmittedRegionsNoInterruptAndNoList)
{
    pcistub::PciProps props;
    props.omitBars = {0};
    props.fInterrupt = false;
    pcistub::PciDevice& d = w.plugPci(board, props);
    ASSERT_EQ(g_started.mpprd.size(), 1u);
    EXPECT_EQ(static_cast<LONGLONG>(g_started.mpprd[0].u.Port.Start.QuadPart), d.ioBase(1));
    pcistub::PciProps none;
    none.fNoResources = true;
    w.plugPci(other, none);
    EXPECT_FALSE(g_started.fList);
}

TEST_F(PciBusTest, PortsReachTheBoardOnlyOnceItsBusIsOpen)
{
    pcistub::PciDevice& d = w.plugPci(board);
    uint16_t uAddOn = d.ioBase(S5920Board::iBarAddOn);
    EXPECT_EQ(READ_PORT_UCHAR(port(uAddOn)), 0xFF) << "add-on bus closed";
    configure(d);
    EXPECT_TRUE(board.isBusOpen());
    EXPECT_TRUE(board.isInterruptEnabled());
    EXPECT_EQ(board.operationWrites(), (std::vector<std::pair<uint32_t, uint8_t>>{{0x60, 0x87}, {0x39, 0x2C}}));
    EXPECT_EQ(READ_PORT_UCHAR(port(uAddOn)), 'K');
    EXPECT_EQ(READ_PORT_UCHAR(port(uAddOn + 4)), 0x34) << "serial, low byte";
    WRITE_PORT_UCHAR(port(uAddOn + S5920Board::offIndex), 5);
    WRITE_PORT_ULONG(reinterpret_cast<PULONG>(uintptr_t(uAddOn + S5920Board::offData)), 0xCAFEF00D);
    WRITE_PORT_UCHAR(port(uAddOn + S5920Board::offCommand), S5920Board::cmdStore);
    EXPECT_EQ(board.reg(5), 0xCAFEF00Du);
    std::vector<kstub::PortAccess> v = d.accesses();
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.back().port, uAddOn + S5920Board::offCommand);
    EXPECT_TRUE(v.back().fWrite);
    EXPECT_TRUE(v.back().fHandled);
}

TEST_F(PciBusTest, InterruptIsDeliveredWhileTheLineIsAsserted)
{
    pcistub::PciDevice& d = w.plugPci(board);
    Isr isr{d.ioBase(S5920Board::iBarAddOn), 0};
    PKINTERRUPT pi = nullptr;
    ASSERT_EQ(IoConnectInterrupt(&pi, onInterrupt, &isr, nullptr, d.vector(), 9, 9, LevelSensitive, TRUE, 1, FALSE),
              STATUS_SUCCESS);
    board.raiseEvent(3);
    EXPECT_FALSE(d.isAsserted()) << "the bridge keeps the add-on interrupt off the bus";
    EXPECT_FALSE(d.interrupt());
    EXPECT_EQ(isr.cCalls, 0);
    configure(d);
    EXPECT_TRUE(d.isAsserted());
    EXPECT_TRUE(d.interrupt());
    EXPECT_EQ(isr.cCalls, 1);
    EXPECT_FALSE(d.isAsserted()) << "the routine cleared the status";
    EXPECT_FALSE(d.interrupt());
    EXPECT_EQ(isr.cCalls, 1);
    IoDisconnectInterrupt(pi);
}

TEST_F(PciBusTest, SurpriseRemovalCutsThePortsAndTeardownIsClean)
{
    pcistub::PciDevice& d = w.plugPci(board);
    configure(d);
    uint16_t uAddOn = d.ioBase(S5920Board::iBarAddOn);
    board.raiseEvent(1);
    d.surpriseRemove();
    EXPECT_TRUE(d.isGone());
    EXPECT_EQ(READ_PORT_UCHAR(port(uAddOn)), 0xFF);
    EXPECT_FALSE(d.interrupt());
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
    EXPECT_TRUE(w.pci().devices().empty());
}

}  // namespace
