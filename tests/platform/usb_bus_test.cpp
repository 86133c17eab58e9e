// The USB bus stand-in with a tiny device model: descriptors, the USBD
// helpers, select and deconfigure, vendor writes, bulk transfers (a bulk IN
// waits until the model has data), injected faults and surprise removal.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "fake_usb_device.h"
#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_usbbus.h"
#include "submit_urb.h"
#include "usbdi.h"
#include "usbdlib.h"

namespace {

using usbstub::UrbKind;

struct UsbBusTest : ::testing::Test {
    kstub::Kernel k;
    FakeUsbDevice dev;  // outlives the bus, which detaches from it last
    usbstub::UsbBus bus{k};
    usbstub::UsbDevice* pd = nullptr;
    std::vector<uint8_t> cfg;
    PURB select = nullptr;
    USBD_PIPE_HANDLE out = nullptr, in = nullptr, in2 = nullptr;

    void SetUp() override { pd = &bus.plug(dev); }
    void TearDown() override
    {
        if (select)
            ExFreePool(select);
    }

    NTSTATUS send(PURB urb) { return submitUrb(pd->pdo(), urb); }

    NTSTATUS getDescriptor(UCHAR type, void* buf, ULONG cb, PMDL mdl, ULONG* pcb)
    {
        URB urb;
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, 0, 0,
                                     mdl ? nullptr : buf, mdl, cb, nullptr);
        NTSTATUS st = send(&urb);
        *pcb = urb.UrbControlDescriptorRequest.TransferBufferLength;
        return st;
    }

    NTSTATUS bulk(USBD_PIPE_HANDLE h, void* buf, ULONG cb, ULONG flags, ULONG* pcb, PMDL mdl = nullptr)
    {
        URB urb;
        UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), h,
                                               mdl ? nullptr : buf, mdl, cb, flags, nullptr);
        NTSTATUS st = send(&urb);
        if (pcb)
            *pcb = urb.UrbBulkOrInterruptTransfer.TransferBufferLength;
        return st;
    }

    NTSTATUS abortPipe(USBD_PIPE_HANDLE h)
    {
        URB urb;
        std::memset(&urb, 0, sizeof urb);
        urb.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
        urb.UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
        urb.UrbPipeRequest.PipeHandle = h;
        return send(&urb);
    }

    void configure()
    {
        cfg = dev.configurationDescriptor(0);
        auto* pc = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(cfg.data());
        PUSB_INTERFACE_DESCRIPTOR pid = USBD_ParseConfigurationDescriptorEx(pc, pc, 0, 1, -1, -1, -1);
        ASSERT_NE(pid, nullptr);
        USBD_INTERFACE_LIST_ENTRY list[2] = {{pid, nullptr}, {nullptr, nullptr}};
        select = USBD_CreateConfigurationRequestEx(pc, list);
        ASSERT_NE(select, nullptr);
        ASSERT_EQ(send(select), STATUS_SUCCESS);
        PUSBD_INTERFACE_INFORMATION pii = list[0].Interface;
        ASSERT_EQ(pii->NumberOfPipes, 3u);
        out = pii->Pipes[0].PipeHandle;
        in = pii->Pipes[1].PipeHandle;
        in2 = pii->Pipes[2].PipeHandle;
    }
};

TEST_F(UsbBusTest, PluggingCreatesAPhysicalDeviceWithItsProperties)
{
    EXPECT_EQ(k.findDevice("\\Device\\USBPDO-0"), pd->pdo());
    EXPECT_EQ(k.pnp().state(pd->pdo()), kstub::DevState::Present);  // no driver loaded
    WCHAR key[160];
    ULONG cb = 0;
    EXPECT_EQ(IoGetDeviceProperty(pd->pdo(), DevicePropertyDriverKeyName, sizeof key, key, &cb),
              STATUS_SUCCESS);
    EXPECT_GT(cb, 2u);
    FakeUsbDevice dev2;
    usbstub::DeviceProps props;
    props.cardType = 1;
    props.driverKey = u"{x}\\0007";
    usbstub::UsbDevice& d2 = bus.plug(dev2, props);
    HANDLE h;
    ASSERT_EQ(IoOpenDeviceRegistryKey(d2.pdo(), PLUGPLAY_REGKEY_DEVICE, KEY_READ, &h), STATUS_SUCCESS);
    UNICODE_STRING us;
    RtlInitUnicodeString(&us, u"CardType");
    UCHAR buf[16];
    ASSERT_EQ(ZwQueryValueKey(h, &us, KeyValuePartialInformation, buf, sizeof buf, &cb), STATUS_SUCCESS);
    EXPECT_EQ(reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buf)->Data[0], 1);
    ZwClose(h);
    EXPECT_EQ(bus.devices().size(), 2u);
    EXPECT_EQ(bus.find(d2.pdo()), &d2);
    bus.unplug(d2);  // before its model goes
    EXPECT_EQ(bus.devices().size(), 1u);
}

TEST_F(UsbBusTest, DescriptorsThroughABufferAndThroughAnMdl)
{
    USB_DEVICE_DESCRIPTOR dd{};
    ULONG cb = 0;
    ASSERT_EQ(getDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, &dd, sizeof dd, nullptr, &cb), STATUS_SUCCESS);
    EXPECT_EQ(cb, 18u);
    EXPECT_EQ(dd.idVendor, 0x1234);
    EXPECT_EQ(dd.iSerialNumber, 3);
    USB_CONFIGURATION_DESCRIPTOR head{};
    ASSERT_EQ(getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, &head, 9, nullptr, &cb), STATUS_SUCCESS);
    EXPECT_EQ(cb, 9u);
    ASSERT_EQ(head.wTotalLength, 48);
    UCHAR whole[64] = {};
    PMDL mdl = IoAllocateMdl(whole, sizeof whole, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoWriteAccess);
    ASSERT_EQ(getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, whole, sizeof whole, mdl, &cb), STATUS_SUCCESS);
    EXPECT_EQ(cb, 48u);  // what the device has, not the room
    EXPECT_EQ(whole[18 + 3], 1);  // second interface descriptor: alternate setting 1
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    ASSERT_EQ(getDescriptor(USB_STRING_DESCRIPTOR_TYPE, whole, sizeof whole, nullptr, &cb), STATUS_UNSUCCESSFUL);
    auto log = pd->urbLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].kind, UrbKind::GetDescriptor);
    EXPECT_TRUE(log[2].fMdl);
    EXPECT_EQ(log[2].cbRequested, 64u);
    EXPECT_EQ(log[2].cbDone, 48u);
    EXPECT_EQ(log[3].usbdStatus, USBD_STATUS_STALL_PID);
}

TEST_F(UsbBusTest, ParsersStopAtBrokenDescriptorsAndTheRequestIsSizedByEndpoints)
{
    std::vector<uint8_t> v = dev.configurationDescriptor(0);
    auto* pc = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(v.data());
    PUSB_INTERFACE_DESCRIPTOR alt1 = USBD_ParseConfigurationDescriptorEx(pc, pc, 0, 1, -1, -1, -1);
    ASSERT_NE(alt1, nullptr);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(alt1) - v.data(), 18);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(pc, pc, 0, 2, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(pc, pc, -1, -1, 0xFF, 1, 2), alt1);
    auto* e1 = USBD_ParseDescriptors(pc, pc->wTotalLength, alt1, USB_ENDPOINT_DESCRIPTOR_TYPE);
    ASSERT_NE(e1, nullptr);
    EXPECT_EQ(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(e1)->bEndpointAddress, 0x02);
    auto* e3 = USBD_ParseDescriptors(pc, pc->wTotalLength, reinterpret_cast<uint8_t*>(e1) + 14,
                                     USB_ENDPOINT_DESCRIPTOR_TYPE);
    EXPECT_EQ(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(e3)->bEndpointAddress, 0x88);
    EXPECT_EQ(USBD_ParseDescriptors(pc, pc->wTotalLength, reinterpret_cast<uint8_t*>(e3) + 7,
                                    USB_ENDPOINT_DESCRIPTOR_TYPE),
              nullptr);
    // A descriptor of length 0 ends the walk instead of looping for ever;
    // so does a total length that cuts a descriptor.
    std::vector<uint8_t> broken = v;
    broken[27] = 0;  // first endpoint descriptor
    auto* pb = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(broken.data());
    EXPECT_EQ(USBD_ParseDescriptors(pb, pb->wTotalLength, pb, USB_ENDPOINT_DESCRIPTOR_TYPE), nullptr);
    EXPECT_EQ(USBD_ParseDescriptors(pc, 30, pc, USB_ENDPOINT_DESCRIPTOR_TYPE), nullptr);

    USBD_INTERFACE_LIST_ENTRY list[2] = {{alt1, nullptr}, {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(pc, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Length, 40 + GET_USBD_INTERFACE_SIZE(3));
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 3u);
    EXPECT_EQ(list[0].Interface->AlternateSetting, 1);
    EXPECT_EQ(k.pool().outstanding(), 1u);
    ExFreePool(urb);
    k.pool().failNth(1);
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(pc, list), nullptr);
    EXPECT_EQ(k.pool().outstanding(), 0u);
}

// What a deconfigure or a new configuration left of a pipe: transfers and
// aborts on it are refused as on a pipe the bus never knew.
void expectPipeRefused(UsbBusTest& t, USBD_PIPE_HANDLE h)
{
    UCHAR b = 0;
    EXPECT_EQ(t.bulk(h, &b, 1, USBD_TRANSFER_DIRECTION_OUT, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(t.pd->urbLog().back().usbdStatus, USBD_STATUS_INVALID_PIPE_HANDLE);
    EXPECT_EQ(t.abortPipe(h), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(t.pd->urbLog().back().usbdStatus, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(UsbBusTest, SelectFillsThePipesAndDeconfigureInvalidatesThem)
{
    configure();
    EXPECT_EQ(dev.configs, std::vector<uint8_t>{1});
    EXPECT_EQ(dev.interfaces, (std::vector<std::pair<uint8_t, uint8_t>>{{0, 1}}));
    PUSBD_INTERFACE_INFORMATION pii = &select->UrbSelectConfiguration.Interface;
    EXPECT_EQ(pii->Class, 0xFF);
    EXPECT_EQ(pii->SubClass, 1);
    EXPECT_EQ(pii->Protocol, 2);
    EXPECT_EQ(pii->Pipes[0].EndpointAddress, 0x02);
    EXPECT_EQ(pii->Pipes[1].EndpointAddress, 0x86);
    EXPECT_EQ(pii->Pipes[2].MaximumPacketSize, 64);
    EXPECT_EQ(pii->Pipes[2].Interval, 1);
    EXPECT_EQ(pii->Pipes[0].PipeType, UsbdPipeTypeBulk);
    EXPECT_TRUE(out && in && in2 && out != in && in != in2);
    EXPECT_NE(select->UrbSelectConfiguration.ConfigurationHandle, nullptr);

    URB dc;
    UsbBuildSelectConfigurationRequest(&dc, sizeof(struct _URB_SELECT_CONFIGURATION), nullptr);
    EXPECT_EQ(send(&dc), STATUS_SUCCESS);
    EXPECT_EQ(dev.configs, (std::vector<uint8_t>{1, 0}));
    UCHAR b = 0;
    EXPECT_EQ(bulk(out, &b, 1, USBD_TRANSFER_DIRECTION_OUT, nullptr), STATUS_INVALID_PARAMETER);
    auto log = pd->urbLog();
    EXPECT_EQ(log[0].kind, UrbKind::SelectConfiguration);
    EXPECT_EQ(log[0].configurationValue, 1);
    EXPECT_EQ(log[1].kind, UrbKind::Deconfigure);
    EXPECT_EQ(log[2].usbdStatus, USBD_STATUS_INVALID_PIPE_HANDLE);
    for (USBD_PIPE_HANDLE h : {out, in, in2}) {
        SCOPED_TRACE("after the deconfigure");
        expectPipeRefused(*this, h);
    }
}

// A new configuration replaces the pipes of the one before: those are
// refused, whatever the request, and the new ones serve.
TEST_F(UsbBusTest, ANewConfigurationInvalidatesThePipesOfTheOneBefore)
{
    configure();
    const USBD_PIPE_HANDLE mphBefore[] = {out, in, in2};
    ExFreePool(select);
    select = nullptr;
    configure();
    for (USBD_PIPE_HANDLE h : mphBefore) {
        SCOPED_TRACE("a pipe of the configuration before");
        expectPipeRefused(*this, h);
    }
    UCHAR b = 0;
    EXPECT_EQ(bulk(out, &b, 1, USBD_TRANSFER_DIRECTION_OUT, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(abortPipe(in), STATUS_SUCCESS);
}

TEST_F(UsbBusTest, VendorWritesReachTheModelAndTheNthFails)
{
    pd->failUrb(UrbKind::VendorOut, 2, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID);
    UCHAR hold = 1, data[3] = {0x10, 0x20, 0x30};
    URB urb;
    struct W {
        USHORT addr;
        UCHAR* p;
        ULONG cb;
        NTSTATUS st;
    };
    const W ws[] = {{0xE600, &hold, 1, STATUS_SUCCESS},
                    {0x0000, data, 3, STATUS_UNSUCCESSFUL},
                    {0x0010, data, 0, STATUS_SUCCESS}};
    for (const W& w : ws) {
        UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE,
                              sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0, 0, 0xA0, w.addr, 0,
                              w.p, nullptr, w.cb, nullptr);
        EXPECT_EQ(send(&urb), w.st) << w.addr;
    }
    ASSERT_EQ(dev.vendors.size(), 2u);  // the failed one never reached the device
    EXPECT_EQ(dev.vendors[0].value, 0xE600);
    EXPECT_EQ(dev.vendors[0].data, std::vector<uint8_t>{1});
    EXPECT_EQ(dev.vendors[1].value, 0x0010);
    EXPECT_TRUE(dev.vendors[1].data.empty());
    dev.stallVendor = true;
    UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                          0, 0, 0xA0, 0, 0, data, nullptr, 1, nullptr);
    EXPECT_EQ(send(&urb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_STALL_PID);
    auto log = pd->urbLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].request, 0xA0);
    EXPECT_EQ(log[0].value, 0xE600);
    EXPECT_EQ(log[0].data, std::vector<uint8_t>{1});
}

TEST_F(UsbBusTest, BulkOutByBufferMdlAndZeroLength)
{
    configure();
    UCHAR ctrl[5] = {0x08, 1, 0, 0x12, 0x34};
    ULONG cb = 0;
    EXPECT_EQ(bulk(out, ctrl, 5, 0, &cb), STATUS_SUCCESS);
    EXPECT_EQ(cb, 5u);
    UCHAR data[300];
    std::memset(data, 0x5A, sizeof data);
    PMDL mdl = IoAllocateMdl(data, sizeof data, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, UserMode, IoReadAccess);
    EXPECT_EQ(bulk(out, nullptr, 300, 0, &cb, mdl), STATUS_SUCCESS);
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    EXPECT_EQ(bulk(out, nullptr, 0, 0, &cb), STATUS_SUCCESS);  // a zero-length packet
    ASSERT_EQ(dev.outs.size(), 3u);
    EXPECT_EQ(dev.outs[0].second, std::vector<uint8_t>(ctrl, ctrl + 5));
    EXPECT_EQ(dev.outs[1].second.size(), 300u);
    EXPECT_TRUE(dev.outs[2].second.empty());
    EXPECT_EQ(dev.outs[2].first, 0x02);
    // The direction flag must match the pipe.
    EXPECT_EQ(bulk(out, ctrl, 5, USBD_TRANSFER_DIRECTION_IN, &cb), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(bulk(in, ctrl, 5, 0, &cb), STATUS_INVALID_PARAMETER);
}

TEST_F(UsbBusTest, BulkInWaitsUntilTheModelHasData)
{
    configure();
    UCHAR buf[512];
    ULONG cb = 0;
    NTSTATUS st = STATUS_PENDING;
    std::thread t([&] { st = bulk(in, buf, sizeof buf, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, &cb); });
    EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
    EXPECT_EQ(st, STATUS_PENDING);
    dev.push(0, {1, 2, 3});
    t.join();
    EXPECT_EQ(st, STATUS_SUCCESS);
    EXPECT_EQ(cb, 3u);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(pd->pendingIn(), 0u);
    auto log = pd->urbLog().back();
    EXPECT_TRUE(log.fPended);
    EXPECT_EQ(log.kind, UrbKind::BulkIn);
    EXPECT_EQ(log.cbDone, 3u);
    EXPECT_EQ(log.data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(k.irpsOutstanding(), 0u);
}

TEST_F(UsbBusTest, WaitingInIsAnsweredAfterALaterCallIntoTheModel)
{
    configure();
    dev.echo = true;  // what goes out on 0x02 comes back on 0x86, without a notify
    UCHAR buf[512];
    ULONG cb = 0;
    NTSTATUS st = STATUS_PENDING;
    std::thread t([&] { st = bulk(in, buf, sizeof buf, 3, &cb); });
    EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
    UCHAR msg[2] = {0x0C, 0x00};
    EXPECT_EQ(bulk(out, msg, 2, 0, nullptr), STATUS_SUCCESS);
    t.join();
    EXPECT_EQ(st, STATUS_SUCCESS);
    EXPECT_EQ(cb, 2u);
}

TEST_F(UsbBusTest, ShortBabbleAndInjectedBulkFaults)
{
    configure();
    UCHAR buf[64];
    ULONG cb = 99;
    dev.push(0, {7, 7});
    EXPECT_EQ(bulk(in, buf, 64, USBD_TRANSFER_DIRECTION_IN, &cb), STATUS_UNSUCCESSFUL);  // short, not allowed
    EXPECT_EQ(cb, 2u);
    dev.push(1, std::vector<uint8_t>(65, 1));
    EXPECT_EQ(bulk(in2, buf, 64, 3, &cb), STATUS_UNSUCCESSFUL);  // more than the room
    EXPECT_EQ(pd->urbLog().back().usbdStatus, USBD_STATUS_BABBLE_DETECTED);
    dev.push(1, {});
    EXPECT_EQ(bulk(in2, buf, 64, 3, &cb), STATUS_SUCCESS);  // a zero-length packet
    EXPECT_EQ(cb, 0u);
    pd->failUrb(UrbKind::BulkOut, 1, STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEV_NOT_RESPONDING);
    EXPECT_EQ(bulk(out, buf, 4, 0, &cb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(dev.outs.size(), 0u);
    pd->failUrb(UrbKind::BulkIn, 1, STATUS_UNSUCCESSFUL, USBD_STATUS_REQUEST_FAILED, 0);
    dev.push(0, {1});
    EXPECT_EQ(bulk(in, buf, 64, 3, &cb), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(bulk(in, buf, 64, 3, &cb), STATUS_UNSUCCESSFUL);
    pd->clearFaults();
    EXPECT_EQ(bulk(in, buf, 64, 3, &cb), STATUS_SUCCESS);
    EXPECT_EQ(cb, 1u);
}

TEST_F(UsbBusTest, SurpriseRemovalFailsTheWaitingInAndEveryLaterRequest)
{
    configure();
    UCHAR buf[64];
    NTSTATUS st = STATUS_PENDING;
    std::thread t([&] { st = bulk(in, buf, 64, 3, nullptr); });
    EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
    pd->surpriseRemove();
    t.join();
    EXPECT_EQ(st, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(pd->isGone());
    EXPECT_EQ(bulk(out, buf, 4, 0, nullptr), STATUS_DEVICE_NOT_CONNECTED);
    ULONG cb;
    EXPECT_EQ(getDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, buf, 18, nullptr, &cb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(pd->urbLog().back().usbdStatus, USBD_STATUS_DEVICE_GONE);
    bus.unplug(*pd);
    EXPECT_TRUE(bus.devices().empty());
    EXPECT_EQ(k.findDevice("\\Device\\USBPDO-0"), nullptr);
}

// An abort ends the transfers waiting on its pipe, cancelled, and leaves
// those of the other pipe waiting; it is carried out after the device went
// away too, and a pipe the bus does not know is refused.
TEST_F(UsbBusTest, AbortEndsTheWaitingTransfersOfItsPipeOnly)
{
    configure();
    UCHAR buf[2][64];
    std::atomic<NTSTATUS> st[2] = {{STATUS_PENDING}, {STATUS_PENDING}};
    USBD_PIPE_HANDLE mph[2] = {in, in2};
    auto waitOn = [&](int i) { st[i] = bulk(mph[i], buf[i], 64, 3, nullptr); };
    kvtest::JoiningThread t0([&] { waitOn(0); }, [&] { pd->surpriseRemove(); });
    kvtest::JoiningThread t1([&] { waitOn(1); }, [&] { pd->surpriseRemove(); });
    ASSERT_TRUE(kvtest::eventually([&] { return pd->pendingIn() == 2; }));
    EXPECT_EQ(abortPipe(in), STATUS_SUCCESS);
    t0.join();
    EXPECT_EQ(st[0].load(), STATUS_CANCELLED);
    EXPECT_EQ(pd->pendingIn(), 1u);
    EXPECT_EQ(st[1].load(), STATUS_PENDING);
    usbstub::UrbRecord rec = pd->urbLog().back();
    EXPECT_EQ(rec.kind, UrbKind::AbortPipe);
    EXPECT_EQ(rec.pipeIndex, 1);
    EXPECT_EQ(rec.status, STATUS_SUCCESS);
    EXPECT_EQ(abortPipe(buf[0]), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(pd->urbLog().back().usbdStatus, USBD_STATUS_INVALID_PIPE_HANDLE);
    pd->surpriseRemove();
    t1.join();
    EXPECT_EQ(st[1].load(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(abortPipe(in2), STATUS_SUCCESS) << "carried out after the device went away";
    EXPECT_EQ(k.irpsOutstanding(), 0u);
}

TEST_F(UsbBusTest, MalformedRequestsAreRefused)
{
    URB urb;
    UCHAR buf[18];
    UsbBuildGetDescriptorRequest(&urb, 100, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, buf, nullptr, 18, nullptr);
    EXPECT_EQ(send(&urb), STATUS_INVALID_PARAMETER);  // shorter than the request
    std::memset(&urb, 0, sizeof urb);
    urb.UrbHeader.Length = sizeof urb;
    urb.UrbHeader.Function = URB_FUNCTION_CONTROL_TRANSFER;
    EXPECT_EQ(send(&urb), STATUS_NOT_SUPPORTED);
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), 1, 0, 0, nullptr,
                                 nullptr, 18, nullptr);
    EXPECT_EQ(send(&urb), STATUS_INVALID_PARAMETER);  // no memory for 18 bytes
    EXPECT_EQ(pd->urbLog().size(), 3u);
    EXPECT_EQ(pd->urbLog()[1].kind, UrbKind::Other);
}

// How much the log keeps changes nothing the driver sees: statuses and
// lengths, short and babbling INs, a waiting IN whose entry newer ones
// pushed out of the log.
TEST_F(UsbBusTest, WhatTheLogKeepsChangesNoAnswer)
{
    configure();
    for (std::size_t cap : {std::size_t(0), std::size_t(1), std::size_t(2), kstub::kDefaultLogCapacity}) {
        SCOPED_TRACE("log capacity " + std::to_string(cap));
        pd->clearUrbLog();
        pd->setUrbLogCapacity(cap);
        uint64_t cBefore = pd->urbCount();
        UCHAR buf[64];
        ULONG cb = 99;
        dev.push(0, {7, 7});
        EXPECT_EQ(bulk(in, buf, 64, USBD_TRANSFER_DIRECTION_IN, &cb), STATUS_UNSUCCESSFUL);  // short
        EXPECT_EQ(cb, 2u);
        dev.push(1, std::vector<uint8_t>(65, 1));
        EXPECT_EQ(bulk(in2, buf, 64, 3, &cb), STATUS_UNSUCCESSFUL);  // babble
        EXPECT_EQ(cb, 0u);
        UCHAR ctrl[3] = {1, 2, 3};
        EXPECT_EQ(bulk(out, ctrl, 3, 0, &cb), STATUS_SUCCESS);
        EXPECT_EQ(cb, 3u);
        // A waiting IN, then more requests than the log keeps.
        NTSTATUS st = STATUS_PENDING;
        ULONG cbIn = 0;
        std::thread t([&] { st = bulk(in, buf, sizeof buf, 3, &cbIn); });
        EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(bulk(out, ctrl, 1, 0, &cb), STATUS_SUCCESS);
        dev.push(0, {4, 5, 6, 7});
        t.join();
        EXPECT_EQ(st, STATUS_SUCCESS);
        EXPECT_EQ(cbIn, 4u);
        EXPECT_EQ(buf[3], 7);
        EXPECT_EQ(pd->urbCount() - cBefore, 7u) << "every request counted";
        std::vector<usbstub::UrbRecord> log = pd->urbLog();
        ASSERT_EQ(log.size(), std::min<std::size_t>(cap, 7));
        if (!log.empty()) {
            EXPECT_EQ(log.back().kind, UrbKind::BulkOut);
            EXPECT_EQ(log.back().cbDone, 1u);
        }
        if (cap >= 7) {
            EXPECT_EQ(log[3].kind, UrbKind::BulkIn);
            EXPECT_TRUE(log[3].fPended);
            EXPECT_EQ(log[3].cbDone, 4u);
            EXPECT_EQ(log[3].data, (std::vector<uint8_t>{4, 5, 6, 7}));
        }
        dev.outs.clear();
    }
    EXPECT_EQ(k.irpsOutstanding(), 0u);
}

TEST_F(UsbBusTest, TheBusSetsTheLogCapacityOfDevicesPluggedAndToBePlugged)
{
    bus.setUrbLogCapacity(1);
    FakeUsbDevice dev2;
    usbstub::UsbDevice& d2 = bus.plug(dev2);
    for (usbstub::UsbDevice* p : {pd, &d2}) {
        UCHAR buf[18];
        URB urb;
        for (int i = 0; i < 3; ++i) {
            UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                         USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, buf, nullptr, 18, nullptr);
            EXPECT_EQ(submitUrb(p->pdo(), &urb), STATUS_SUCCESS);
        }
        EXPECT_EQ(p->urbLog().size(), 1u);
        EXPECT_EQ(p->urbCount(), 3u);
    }
    bus.unplug(d2);
}

}  // namespace
