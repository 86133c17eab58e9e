// A USB board beside plug and play: opens, closes and reads of the
// identification text while the board is restarted again and again, then
// exchanges, reads and opens while it is surprise-removed. The board's
// pipes, its removed flag and its open state are read beside their changes
// (the ThreadSanitizer build sees every such read); every request ends with
// a status a removal allows, and the removal at the last close frees
// everything.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pci_support.h"

namespace {

using drvtest::Bufs;
using kvtest::eventually;
using kvtest::JoiningThread;

std::string chanPath(int iSlot, int iChan)
{
    return "\\\\.\\ZEDOZ_EVU_" + std::to_string(iSlot) + "\\qir\\" + std::to_string(iChan);
}

class UsbPnpRaceTest : public drvtest::DriverTest {
protected:
    void SetUp() override
    {
        world.setDebug(fWmDebugDefault);
        plugAndLoad();
    }

    // Opens a channel, reads its text twice and closes it, again and again;
    // an open may be refused (the other thread has the channel, or the
    // device is going).
    void openAndRead(const std::string& sgPath, const std::atomic<bool>& fStop)
    {
        while (!fStop) {
            HANDLE h = nullptr;
            NTSTATUS st = kstub::io::create(sgPath.c_str(), &h);
            if (!NT_SUCCESS(st)) {
                if (st != STATUS_NO_SUCH_DEVICE && st != STATUS_DELETE_PENDING)
                    ++_cUnexpected;
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                char mpch[1024];
                ULONG_PTR cb = 0;
                if (kstub::io::read(h, mpch, sizeof mpch, &cb) != STATUS_SUCCESS)
                    ++_cUnexpected;
            }
            if (kstub::io::close(h) != STATUS_SUCCESS)
                ++_cUnexpected;
            ++_cOpens;
        }
    }

    // Register writes on the handle, answered at once by the board until it goes.
    void exchange(HANDLE h, const std::atomic<bool>& fStop)
    {
        std::vector<char> w = drvtest::qirWrite(3, 1);
        while (!fStop) {
            Bufs b;
            NTSTATUS st = drvtest::ioctlInOut(h, IOCTL_YEK_XCH, &b.xch(w.data(), w.size()), cbYekIoc);
            if (st != STATUS_SUCCESS && st != STATUS_DEVICE_NOT_CONNECTED)
                ++_cUnexpected;
            ++_cRequests;
        }
    }

    std::atomic<unsigned> _cOpens{0};
    std::atomic<unsigned> _cRequests{0};
    std::atomic<unsigned> _cUnexpected{0};
};

TEST_F(UsbPnpRaceTest, OpensClosesAndReadsBesideRestartsThenRequestsBesideASurpriseRemoval)
{
    std::atomic<bool> fStopOpeners{false};
    auto stopOpeners = [&] { fStopOpeners = true; };
    JoiningThread opener0([&] { openAndRead(chanPath(0, 0), fStopOpeners); }, stopOpeners);
    JoiningThread opener1([&] { openAndRead(chanPath(0, 1), fStopOpeners); }, stopOpeners);
    for (int i = 0; i < 5; ++i) {
        unsigned cFrom = _cOpens;
        ASSERT_TRUE(eventually([&] { return _cOpens >= cFrom + 5; })) << "restart " << i;
        ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
        ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS) << "restart " << i;
    }
    stopOpeners();
    opener0.join();
    opener1.join();

    // The removal of this board, then of three more, each in its own slot:
    // a request reads the removed flag at most once beside its change.
    std::vector<std::unique_ptr<KVdepSim100::EzUsbBoard>> mppb;
    for (int iSlot = 0; iSlot < 4; ++iSlot) {
        SCOPED_TRACE(iSlot);
        usbstub::UsbDevice* pd = pdev;
        if (iSlot > 0) {
            mppb.push_back(KVdepSim100::makeHix5316());
            pd = &world.plug(*mppb.back());
        }
        HANDLE mph[2] = {};
        for (int iChan = 0; iChan < 2; ++iChan)
            ASSERT_EQ(kstub::io::create(chanPath(iSlot, iChan).c_str(), &mph[iChan]), STATUS_SUCCESS);
        std::atomic<bool> fStopWorkers{false};
        auto stopWorkers = [&] { fStopWorkers = true; };
        JoiningThread exchanger0([&] { exchange(mph[0], fStopWorkers); }, stopWorkers);
        JoiningThread exchanger1([&] { exchange(mph[1], fStopWorkers); }, stopWorkers);
        JoiningThread reader(
            [&] {
                while (!fStopWorkers) {
                    char mpch[1024];
                    ULONG_PTR cb = 0;
                    if (kstub::io::read(mph[0], mpch, sizeof mpch, &cb) != STATUS_SUCCESS)
                        ++_cUnexpected;
                }
            },
            stopWorkers);
        unsigned cFrom = _cRequests;
        ASSERT_TRUE(eventually([&] { return _cRequests >= cFrom + 20; }));
        pd->surpriseRemove();
        cFrom = _cRequests;
        EXPECT_TRUE(eventually([&] { return _cRequests >= cFrom + 20; })) << "requests go on reaching the board";
        stopWorkers();
        exchanger0.join();
        exchanger1.join();
        reader.join();
        for (HANDLE h : mph)
            EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
        EXPECT_EQ(fdo(iSlot), nullptr) << "removed at the last close";
        if (iSlot > 0)
            world.usb().unplug(*pd);
    }
    EXPECT_EQ(_cUnexpected, 0u);
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

}  // namespace
