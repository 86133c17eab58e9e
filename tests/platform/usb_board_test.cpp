// The bus stand-in with a simulated EZ-USB board, driven as the driver does:
// configure, download the operating image with vendor writes, then one
// request and its answer over the bulk pipes, and an answer held back so that
// the bulk IN waits for the board's notify.
#include <gtest/gtest.h>

#include <thread>

#include "fwgen.h"
#include "kv_eventually.h"
#include "kv_usbbus.h"
#include "sim/sim_boards.h"
#include "submit_urb.h"
#include "usbdi.h"
#include "usbdlib.h"

namespace {

struct BoardOnBus : ::testing::Test {
    kstub::Kernel k;
    std::unique_ptr<KVdepSim100::EzUsbBoard> board = KVdepSim100::makeHix5316();
    usbstub::UsbBus bus{k};
    usbstub::UsbDevice* pd = nullptr;
    std::vector<uint8_t> cfg;
    USBD_PIPE_HANDLE pipes[6] = {};

    void SetUp() override { pd = &bus.plug(*board); }

    NTSTATUS send(PURB urb) { return submitUrb(pd->pdo(), urb); }

    NTSTATUS vendor(uint16_t addr, const uint8_t* p, ULONG cb)
    {
        URB urb;
        UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_DEVICE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                              0, 0, 0xA0, addr, 0, const_cast<uint8_t*>(p), nullptr, cb, nullptr);
        return send(&urb);
    }

    NTSTATUS bulk(int iPipe, void* p, ULONG cb, ULONG flags, ULONG* pcb)
    {
        URB urb;
        UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                               pipes[iPipe], p, nullptr, cb, flags, nullptr);
        NTSTATUS st = send(&urb);
        if (pcb)
            *pcb = urb.UrbBulkOrInterruptTransfer.TransferBufferLength;
        return st;
    }

    void configureAndDownload(const std::string& image)
    {
        USB_CONFIGURATION_DESCRIPTOR head{};
        URB urb;
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &head, nullptr, 9, nullptr);
        ASSERT_EQ(send(&urb), STATUS_SUCCESS);
        cfg.resize(head.wTotalLength);
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, cfg.data(), nullptr,
                                     ULONG(cfg.size()), nullptr);
        ASSERT_EQ(send(&urb), STATUS_SUCCESS);
        auto* pc = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(cfg.data());
        PUSB_INTERFACE_DESCRIPTOR pid = USBD_ParseConfigurationDescriptorEx(pc, pc, 0, 1, -1, -1, -1);
        ASSERT_NE(pid, nullptr);
        ASSERT_EQ(pid->bNumEndpoints, 6);
        USBD_INTERFACE_LIST_ENTRY list[2] = {{pid, nullptr}, {nullptr, nullptr}};
        PURB sel = USBD_CreateConfigurationRequestEx(pc, list);
        ASSERT_EQ(send(sel), STATUS_SUCCESS);
        for (int i = 0; i < 6; ++i)
            pipes[i] = list[0].Interface->Pipes[i].PipeHandle;
        ExFreePool(sel);
        uint8_t one = 1, zero = 0;
        ASSERT_EQ(vendor(0xE600, &one, 1), STATUS_SUCCESS);
        for (const KVdepFw100::FwRecord& r : KVdepFw100::fwImage(image)) {
            if (r._addr == KVdepFw100::addrEnd)
                break;
            ASSERT_EQ(vendor(r._addr, r._mpbData.data(), r._cData), STATUS_SUCCESS);
        }
        ASSERT_EQ(vendor(0xE600, &zero, 1), STATUS_SUCCESS);
    }
};

TEST_F(BoardOnBus, OpenExchangeOverTheBulkPipes)
{
    configureAndDownload("qir_firmware");
    EXPECT_EQ(board->programKind(), KVdepSim100::ProgramKind::Operating);
    uint8_t ctrl[1] = {0x06};  // VaqInit
    ASSERT_EQ(bulk(2, ctrl, 1, 0, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(bulk(2, nullptr, 0, 0, nullptr), STATUS_SUCCESS);
    uint8_t data[512], up[128];
    ULONG cb = 0;
    ASSERT_EQ(bulk(4, data, sizeof data, 3, &cb), STATUS_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(data, data + cb), board->identity());
    ASSERT_EQ(bulk(4, up, sizeof up, 3, &cb), STATUS_SUCCESS);
    ASSERT_GE(cb, 1u);
    EXPECT_EQ(up[0], 0x04);  // VaqResp
    EXPECT_EQ(k.irpsOutstanding(), 0u);
}

TEST_F(BoardOnBus, HeldAnswerKeepsTheBulkInWaitingUntilTheBoardLetsGo)
{
    configureAndDownload("qir_firmware");
    board->holdAnswers(true);
    uint8_t ctrl[1] = {0x06};
    ASSERT_EQ(bulk(2, ctrl, 1, 0, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(bulk(2, nullptr, 0, 0, nullptr), STATUS_SUCCESS);
    uint8_t data[512];
    ULONG cb = 0;
    NTSTATUS st = STATUS_PENDING;
    std::thread t([&] { st = bulk(4, data, sizeof data, 3, &cb); });
    EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
    EXPECT_EQ(st, STATUS_PENDING);
    board->holdAnswers(false);  // the board notifies the bus
    t.join();
    EXPECT_EQ(st, STATUS_SUCCESS);
    EXPECT_EQ(cb, board->identity().size());
}

TEST_F(BoardOnBus, IdleBoardNeverAnswersAndRemovalEndsTheWait)
{
    configureAndDownload("gid_firmware");
    EXPECT_EQ(board->programKind(), KVdepSim100::ProgramKind::Idle);
    uint8_t data[512];
    NTSTATUS st = STATUS_PENDING;
    std::thread t([&] { st = bulk(4, data, sizeof data, 3, nullptr); });
    EXPECT_TRUE(kvtest::eventually([&] { return pd->pendingIn() != 0; }));
    bus.unplug(*pd);
    t.join();
    EXPECT_EQ(st, STATUS_DEVICE_NOT_CONNECTED);
}

}  // namespace
