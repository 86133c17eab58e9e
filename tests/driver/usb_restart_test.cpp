// The USB board over a stop and a start, and its surprise removal, with the
// other side held at a named point: transfers waiting on a silent board
// when the board goes (a restart that fails among the ways), a request
// while the removal is between its mark and its aborts, a channel open
// across a restart that succeeds, a start against an open inside its
// download, an open against a start that is downloading the idle firmware,
// and downloads that a removal comes into.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "pci_support.h"
#include "test_modules.h"
#include "wmusb.h"

namespace {

using drvtest::AsyncIoctl;
using drvtest::Bufs;
using drvtest::DriverTest;
using kvtest::eventually;
using kvtest::JoiningThread;
using usbstub::UrbKind;

class UsbRestartTest : public DriverTest {
protected:
    CardUsb* card() { return static_cast<CardUsb*>(static_cast<Card*>(fdo()->DeviceExtension)); }
    // Waits (bounded) until the bus holds n waiting bulk INs.
    bool waitPendingIn(size_t n)
    {
        return eventually([&] { return pdev->pendingIn() == n; });
    }
    // A request on a thread of its own; one still waiting when the test
    // leaves ends as the board going away at the bus ends it.
    std::unique_ptr<AsyncIoctl> onThread(HANDLE h, ULONG uCode, YekIoc& ioc)
    {
        return std::make_unique<AsyncIoctl>(h, uCode, &ioc, cbYekIoc, [this] { pdev->surpriseRemove(); });
    }
    NTSTATUS exchangeWrite(HANDLE h)
    {
        Bufs b;
        std::vector<char> w = drvtest::qirWrite(3, 1);
        return ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size()));
    }
};

// How the board goes while a get waits on one channel and an exchange on
// the other, with the board silent: whether the plug-and-play manager knows
// (then the last close brings the removal).
struct Going {
    const char* szName;
    std::function<void(kstub::Kernel&, usbstub::UsbDevice&)> go;
    bool fRemovedAtLastClose;
};

void PrintTo(const Going& c, std::ostream* pos)
{
    *pos << c.szName;
}

class UsbGoingTest : public UsbRestartTest, public ::testing::WithParamInterface<Going> {};

// A board that goes, whichever way, ends the transfers in flight: each
// request once, cancelled or not connected; later requests are refused and
// the last close brings the removal, which frees everything.
TEST_P(UsbGoingTest, EndsTheTransfersInFlightAndTheLastCloseRemovesIt)
{
    plugAndLoad();
    HANDLE h0 = openOk("\\qir\\0");
    HANDLE h1 = openOk("\\qir\\1");
    board->holdAnswers(true);
    Bufs bGet, bXch;
    std::vector<char> w = drvtest::qirWrite(3, 1);
    auto get = onThread(h0, IOCTL_YEK_GET, bGet.get());
    auto xch = onThread(h1, IOCTL_YEK_XCH, bXch.xch(w.data(), w.size()));
    ASSERT_TRUE(waitPendingIn(2));
    GetParam().go(k(), *pdev);
    ASSERT_TRUE(eventually([&] { return get->isDone() && xch->isDone(); })) << "the transfers in flight end";
    for (AsyncIoctl* pr : {get.get(), xch.get()}) {
        NTSTATUS st = pr->result();
        EXPECT_TRUE(st == STATUS_CANCELLED || st == STATUS_DEVICE_NOT_CONNECTED)
            << kstub::formatString("0x%08X", unsigned(st));
    }
    EXPECT_EQ(pdev->pendingIn(), 0u);
    EXPECT_EQ(exchangeWrite(h0), STATUS_DEVICE_NOT_CONNECTED);
    HANDLE h2 = nullptr;
    EXPECT_FALSE(NT_SUCCESS(open(&h2, "\\qir\\0")));
    close(h0);
    close(h1);
    if (GetParam().fRemovedAtLastClose) {
        EXPECT_EQ(log().count("(IRP_MN_REMOVE_DEVICE)"), 1u);
        EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
    }
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
    finish();
}

void restartFailing(kstub::Kernel& k, usbstub::UsbDevice& dev, UrbKind kind)
{
    ASSERT_EQ(k.pnp().stop(dev.pdo()), STATUS_SUCCESS);
    dev.failUrb(kind);
    EXPECT_EQ(k.pnp().start(dev.pdo()), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(k.pnp().state(dev.pdo()), kstub::DevState::SurpriseRemoved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbGoingTest,
    ::testing::Values(
        Going{"RestartFailsAtTheDeviceDescriptor",
              [](kstub::Kernel& k, usbstub::UsbDevice& d) { restartFailing(k, d, UrbKind::GetDescriptor); }, true},
        Going{"RestartFailsToSelectTheConfiguration",
              [](kstub::Kernel& k, usbstub::UsbDevice& d) { restartFailing(k, d, UrbKind::SelectConfiguration); },
              true},
        Going{"Unplugged", [](kstub::Kernel&, usbstub::UsbDevice& d) { d.surpriseRemove(); }, true},
        Going{"SurpriseRemovalTheBusHasNotSeen",
              [](kstub::Kernel& k, usbstub::UsbDevice& d) {
                  EXPECT_EQ(k.pnp().sendMinor(d.pdo(), IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
              },
              false}),
    [](const ::testing::TestParamInfo<Going>& i) { return std::string(i.param.szName); });

// A get that found the board there, held before its first transfer while
// a restart fails and the removal aborts the pipes: the transfer it then
// queues ends too, and the last close brings the removal.
TEST_F(UsbRestartTest, GetQueuedAfterTheRemovalAbortedThePipesEnds)
{
    plugAndLoad();
    HANDLE h = openOk("\\qir\\0");
    Bufs b;
    std::unique_ptr<AsyncIoctl> get;
    {
        drvtest::PointHold hold(eWmPointUsbRequest);
        get = onThread(h, IOCTL_YEK_GET, b.get());
        ASSERT_TRUE(hold.waitHeld());
        restartFailing(k(), *pdev, UrbKind::GetDescriptor);
    }
    NTSTATUS st = get->result();
    EXPECT_TRUE(st == STATUS_CANCELLED || st == STATUS_DEVICE_NOT_CONNECTED)
        << kstub::formatString("0x%08X", unsigned(st));
    close(h);
    EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

// A get that comes while the stack's own surprise removal (the board still
// attached) is held between marking the board removed and aborting its
// pipes is refused at once: no transfer is queued that the aborts would
// leave waiting.
TEST_F(UsbRestartTest, RequestBetweenTheRemovalsMarkAndItsAbortsIsRefusedAtOnce)
{
    plugAndLoad();
    HANDLE h = openOk("\\qir\\0");
    std::atomic<NTSTATUS> stRemoval{STATUS_PENDING};
    {
        drvtest::PointHold hold(eWmPointUsbRemoval);
        JoiningThread remover([&] { stRemoval = k().pnp().sendMinor(pdev->pdo(), IRP_MN_SURPRISE_REMOVAL); },
                              [&] { hold.release(); });
        ASSERT_TRUE(hold.waitHeld());
        Bufs b;
        auto get = onThread(h, IOCTL_YEK_GET, b.get());
        EXPECT_EQ(get->result(), STATUS_DEVICE_NOT_CONNECTED) << "while the removal is held";
        get.reset();
        hold.release();
        remover.join();
    }
    EXPECT_EQ(stRemoval.load(), STATUS_SUCCESS);
    EXPECT_EQ(pdev->pendingIn(), 0u);
    close(h);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

// A channel open across a restart that succeeds: the restart gave the board
// new pipes and the idle firmware. The channel's requests, one waiting at
// the restart among them, fail with STATUS_DEVICE_NOT_CONNECTED, the later
// ones at once; a new open is a first open again, and the channel left
// behind closes without a download.
TEST_F(UsbRestartTest, ChannelOpenAcrossARestartIsNotConnectedAndANewOpenDownloadsAgain)
{
    plugAndLoad();
    HANDLE h0 = openOk("\\qir\\0");
    ASSERT_EQ(exchangeWrite(h0), STATUS_SUCCESS);
    Bufs bGet;
    auto get = onThread(h0, IOCTL_YEK_GET, bGet.get());
    ASSERT_TRUE(waitPendingIn(1));
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    EXPECT_EQ(get->result(), STATUS_DEVICE_NOT_CONNECTED) << "the get waiting at the restart";
    ASSERT_EQ(board->runningImage(), "gid_firmware");
    pdev->clearUrbLog();
    Bufs b;
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(ioctl(h0, IOCTL_YEK_PUT, b.put(w.data(), w.size())), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h0, IOCTL_YEK_GET, b.get()), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(exchangeWrite(h0), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(bulk().empty()) << "refused before anything is sent";
    EXPECT_TRUE(logHas("kqir0: chan 0 0 was opened before the last start"));
    char mpch[1024];
    ULONG_PTR cb = 0;
    EXPECT_EQ(kstub::io::read(h0, mpch, sizeof mpch, &cb), STATUS_SUCCESS);
    EXPECT_GT(cb, 0u) << "the read still answers";

    HANDLE h1 = openOk("\\qir\\1");
    ASSERT_EQ(board->runningImage(), "qir_firmware") << "a new open downloads the operating image";
    EXPECT_EQ(exchangeWrite(h1), STATUS_SUCCESS);
    size_t cWrites = urbs(UrbKind::VendorOut).size();
    close(h0);
    EXPECT_EQ(urbs(UrbKind::VendorOut).size(), cWrites) << "the channel left behind downloads nothing";
    EXPECT_EQ(exchangeWrite(h1), STATUS_SUCCESS);
    close(h1);
    EXPECT_EQ(board->runningImage(), "gid_firmware");
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

// The only channel open is one a restart left behind: its close downloads
// nothing (the restart ran the idle firmware already).
TEST_F(UsbRestartTest, ClosingTheOnlyChannelLeftBehindDownloadsNothing)
{
    plugAndLoad();
    HANDLE h = openOk("\\qir\\1");
    ASSERT_EQ(exchangeWrite(h), STATUS_SUCCESS);
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    pdev->clearUrbLog();
    close(h);
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
    EXPECT_TRUE(logHas("kqir0: close chan 0 1 f=0x0"));
    EXPECT_EQ(board->runningImage(), "gid_firmware");
}

// A restart against an open held inside its operating download: the start
// waits for the open/close lock before it looks at the open channels, so
// the channel the open makes is left behind.
TEST_F(UsbRestartTest, StartWaitsForAnOpenInsideItsDownloadAndLeavesItsChannelBehind)
{
    plugAndLoad();
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    NTSTATUS stStart = STATUS_PENDING, stOpen = STATUS_PENDING;
    HANDLE h = nullptr;
    EXPECT_TRUE(drvtest::besideHeld(
        k(), eWmPointUsbDownload, &card()->_mtxOpen,
        [&] { stOpen = kstub::io::create("\\\\.\\ZEDOZ_EVU_0\\qir\\0", &h); }, [&] { stStart = start(); }))
        << "the start waits";
    ASSERT_EQ(stOpen, STATUS_SUCCESS);
    ASSERT_EQ(stStart, STATUS_SUCCESS);
    pdev->clearUrbLog();
    EXPECT_EQ(exchangeWrite(h), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(logHas("kqir0: chan 0 0 was opened before the last start"));
    EXPECT_TRUE(bulk().empty());
    HANDLE h1 = openOk("\\qir\\1");
    Bufs b;
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(onThread(h1, IOCTL_YEK_XCH, b.xch(w.data(), w.size()))->result(), STATUS_SUCCESS);
    close(h1);
    EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
    EXPECT_EQ(board->runningImage(), "gid_firmware");
}

// An open while a restart holds the open/close lock to download the idle
// firmware: the open waits for the start, then downloads the operating
// firmware and takes the new pipes; the two downloads do not mix.
TEST_F(UsbRestartTest, OpenWaitsForAStartInsideItsIdleDownload)
{
    plugAndLoad();
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    size_t cDownloads = board->downloads().size();
    CardUsb* pcu = card();
    std::atomic<NTSTATUS> stStart{STATUS_PENDING}, stOpen{STATUS_PENDING};
    HANDLE h = nullptr;
    {
        drvtest::PointHold hold(eWmPointUsbIdleDownload);
        kvtest::JoiningThread starter([&] { stStart = start(); }, [&] { hold.release(); });
        ASSERT_TRUE(hold.waitHeld());
        size_t cOpenLines = log().count("kqir0: open chan 0 0");
        kvtest::JoiningThread opener([&] { stOpen = kstub::io::create("\\\\.\\ZEDOZ_EVU_0\\qir\\0", &h); },
                                     [&] { hold.release(); });
        EXPECT_TRUE(eventually([&] { return k().waitersOn(&pcu->_mtxOpen) == 1; })) << "the open waits";
        EXPECT_EQ(log().count("kqir0: open chan 0 0"), cOpenLines);
        hold.release();
        starter.join();
        opener.join();
    }
    EXPECT_EQ(stStart.load(), STATUS_SUCCESS);
    ASSERT_EQ(stOpen.load(), STATUS_SUCCESS);
    std::vector<KVdepSim100::Download> mpd = board->downloads();
    ASSERT_EQ(mpd.size(), cDownloads + 2);
    EXPECT_EQ(mpd[cDownloads]._sgImage, "gid_firmware");
    EXPECT_EQ(mpd[cDownloads + 1]._sgImage, "qir_firmware");
    EXPECT_EQ(pcu->_mpChan[0].pipeDown(), pcu->_mpPipeDown[0]);
    EXPECT_EQ(pcu->_mpChan[0].pipeUp(), pcu->_mpPipeUp[0]);
    EXPECT_EQ(exchangeWrite(h), STATUS_SUCCESS);
    EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
}

// A download that the stack's own surprise removal comes into (the board
// still attached): nothing more is sent once the board is marked removed.
// The last close's idle download stops; an open's operating download stops
// and the open is refused.
struct DownloadCut {
    const char* szName;
    bool fOpen;  // the download of a first open, else of the last close
};

void PrintTo(const DownloadCut& c, std::ostream* pos)
{
    *pos << c.szName;
}

class UsbDownloadCutTest : public UsbRestartTest, public ::testing::WithParamInterface<DownloadCut> {};

TEST_P(UsbDownloadCutTest, StopsOnceTheBoardIsMarkedRemoved)
{
    plugAndLoad();
    HANDLE h = GetParam().fOpen ? nullptr : openOk("\\qir\\0");
    pdev->clearUrbLog();
    std::atomic<NTSTATUS> st{STATUS_PENDING};
    {
        drvtest::PointHold hold(eWmPointUsbDownload);
        JoiningThread t(
            [&] { st = GetParam().fOpen ? kstub::io::create("\\\\.\\ZEDOZ_EVU_0\\qir\\0", &h) : close(h); },
            [&] { hold.release(); });
        ASSERT_TRUE(hold.waitHeld());
        EXPECT_EQ(k().pnp().sendMinor(pdev->pdo(), IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
        hold.release();
        t.join();
    }
    std::vector<usbstub::UrbRecord> mpw = urbs(UrbKind::VendorOut);
    ASSERT_EQ(mpw.size(), 1u) << "only the hold of the CPU, written before the removal";
    EXPECT_EQ(mpw[0].value, addrEzusbCpuCs);
    EXPECT_TRUE(board->isCpuHeld());
    EXPECT_EQ(st.load(), GetParam().fOpen ? STATUS_NO_SUCH_DEVICE : STATUS_SUCCESS);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbDownloadCutTest,
                         ::testing::Values(DownloadCut{"IdleDownloadOfTheLastClose", false},
                                           DownloadCut{"OperatingDownloadOfTheFirstOpen", true}),
                         [](const ::testing::TestParamInfo<DownloadCut>& i) { return std::string(i.param.szName); });

class UsbRestartTwoDriverTest : public UsbRestartTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykTwo; }
};

// While the only channels open are channels a restart left behind, another
// driver is still refused: the board serves one driver at a time until they
// close.
TEST_F(UsbRestartTwoDriverTest, AnotherDriverIsRefusedWhileOnlyChannelsLeftBehindAreOpen)
{
    plugAndLoad();
    HANDLE h = openOk("\\qir\\0");
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(start(), STATUS_SUCCESS);
    log().clear();
    HANDLE hVaq = nullptr;
    EXPECT_EQ(open(&hVaq, "\\vaq\\1"), STATUS_NO_SUCH_DEVICE);
    EXPECT_TRUE(logHas("kqir0: Attempt to open different driver 1 while open &d"));
    close(h);
    openOk("\\vaq\\1");
}

}  // namespace
