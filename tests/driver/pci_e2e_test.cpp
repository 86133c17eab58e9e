// From user mode to the PCI board and back: CreateFileA, DeviceIoControl and
// ReadFile through kavorqir, the board's channel scheduler and the card
// object on the simulated S5920 board.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "pci_support.h"

namespace {

using drvtest::Bufs;
using drvtest::PciTest;
using drvtest::PioRead;
using drvtest::PioResp;
using drvtest::PioWrite;

class PciEndToEndTest : public PciTest {
protected:
    BOOL control(HANDLE h, DWORD uCode, YekIoc& ioc)
    {
        DWORD cb = 0;
        return DeviceIoControl(h, uCode, &ioc, sizeof ioc, &ioc, sizeof ioc, &cb, nullptr);
    }
};

TEST_F(PciEndToEndTest, RegisterWriteAndReadThroughTheBoard)
{
    world.setDebug(0x303);
    plugAndLoad();
    HANDLE h = CreateFileA("\\\\.\\ZEDOZ_EVU_0\\pio\\0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Bufs b;
    EXPECT_TRUE(control(h, IOCTL_YEK_PROCHK, b.prochk("pio 1")));
    PioWrite w(12, 0xA5A50F0F);
    ASSERT_TRUE(control(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)));
    EXPECT_EQ(board.reg(12), 0xA5A50F0Fu);
    // The read waits in DeviceIoControl until the board's interrupt.
    PioRead r(12);
    b.xch(&r, sizeof r);
    std::atomic<BOOL> fRead{FALSE};
    std::atomic<bool> fBack{false};
    // A request that did not come back is cancelled, so the thread ends.
    kvtest::JoiningThread t(
        [&] {
            fRead = control(h, IOCTL_YEK_XCH, b.ioc);
            fBack = true;
        },
        [&] {
            kvtest::eventually([&] {
                kstub::io::cancel(h);
                return fBack.load();
            });
        });
    ASSERT_TRUE(kvtest::eventually([&] { return board.isLineAsserted(); }));
    // The request has reached the board; the interrupt completes it.
    ASSERT_TRUE(kvtest::eventually([&] { return pdev->interrupt() || !board.isLineAsserted(); }));
    ASSERT_TRUE(kvtest::eventually([&] { return fBack.load(); }));
    t.join();
    ASSERT_TRUE(fRead);
    EXPECT_EQ(reinterpret_cast<const PioResp*>(b.ctrlUp)->_uVal, 0xA5A50F0Fu);
    // A control the driver's buffers cannot hold.
    b.xch(&w, sizeof w);
    b.ioc._cd = drvtest::record(b.ctrlDown, 129, 129);
    EXPECT_FALSE(control(h, IOCTL_YEK_XCH, b.ioc));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    char mpch[1024] = {};
    DWORD cb = 0;
    ASSERT_TRUE(ReadFile(h, mpch, sizeof mpch, &cb, nullptr));
    std::string sg(mpch, cb);
    EXPECT_NE(sg.find("name=PIO-5920 org=kavor arch=pci cintr=1 ctimer=1\n"), std::string::npos) << sg;
    EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
