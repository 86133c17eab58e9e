// A USB board beside plug and play: opens, closes and reads of the
// identification text while the board is restarted again and again, the
// board used as an application uses it beside hundreds of restarts, then
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
#include "qirc.h"
#include "yekpro_qir.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRestarts = 300;
#else
constexpr int kRestarts = 500;
#endif

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

    // Uses a channel as an application does, again and again: open, protocol
    // check, an exchange, a put and the get of its answer, close. Every
    // request ends with its answer or, on a channel a restart left behind,
    // STATUS_DEVICE_NOT_CONNECTED; the open waits for a start under way.
    void useAsAnApplication(const std::string& sgPath, const std::atomic<bool>& fStop, std::atomic<unsigned>& cCycles)
    {
        std::string sgSig = ykQir._puDd[0]._pup->szProto();
        std::vector<char> w = drvtest::qirWrite(3, 1);
        auto expect = [this](NTSTATUS st, bool fMayBeLeftBehind) {
            if (st != STATUS_SUCCESS && !(fMayBeLeftBehind && st == STATUS_DEVICE_NOT_CONNECTED))
                ++_cUnexpected;
        };
        while (!fStop) {
            HANDLE h = nullptr;
            NTSTATUS st = kstub::io::create(sgPath.c_str(), &h);
            expect(st, false);
            if (!NT_SUCCESS(st))
                continue;
            Bufs b;
            expect(drvtest::ioctlInOut(h, IOCTL_YEK_PROCHK, &b.prochk(sgSig), cbYekIoc), false);
            expect(drvtest::ioctlInOut(h, IOCTL_YEK_XCH, &b.xch(w.data(), w.size()), cbYekIoc), true);
            st = drvtest::ioctlInOut(h, IOCTL_YEK_PUT, &b.put(w.data(), w.size()), cbYekIoc);
            expect(st, true);
            if (NT_SUCCESS(st))
                expect(drvtest::ioctlInOut(h, IOCTL_YEK_GET, &b.get(), cbYekIoc), true);
            expect(kstub::io::close(h), false);
            ++cCycles;
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

// Hundreds of restarts beside two threads that use the board as an
// application does, one on each channel digit; after each restart both go on
// (an open during a start works after it), and every request ends.
TEST_F(UsbPnpRaceTest, RequestsOfAnApplicationBesideRestartsAllEnd)
{
    std::atomic<bool> fStop{false};
    std::atomic<unsigned> mpcCycles[2] = {{0}, {0}};
    std::atomic<int> cRunning{2};
    // Stops the users; one stuck in a request is freed by unplugging the board.
    auto stopUsers = [&] {
        fStop = true;
        if (!eventually([&] { return cRunning == 0; }))
            pdev->surpriseRemove();
    };
    auto user = [&](int iChan) {
        useAsAnApplication(chanPath(0, iChan), fStop, mpcCycles[iChan]);
        --cRunning;
    };
    JoiningThread user0([&] { user(0); }, stopUsers);
    JoiningThread user1([&] { user(1); }, stopUsers);
    for (int i = 0; i < kRestarts; ++i) {
        ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
        ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS) << "restart " << i;
        unsigned mpcFrom[2] = {mpcCycles[0], mpcCycles[1]};
        if (!eventually([&] { return mpcCycles[0] >= mpcFrom[0] + 2 && mpcCycles[1] >= mpcFrom[1] + 2; })) {
            pdev->surpriseRemove();  // ends the request that waits
            FAIL() << "restart " << i << ": a request did not end";
        }
    }
    stopUsers();
    user0.join();
    user1.join();
    EXPECT_EQ(_cUnexpected, 0u);
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

}  // namespace
