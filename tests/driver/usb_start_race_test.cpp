// Opens against a USB board's start held at a named point (before its
// select configuration, before its idle download): the first start, a
// first start that fails, a restart and a restart that fails, on either
// channel digit. A channel
// opened at any moment of a start works after it (the new pipes, the
// operating firmware) or is refused at once as a channel left behind, and
// no later open or request on the board waits.
#include <gtest/gtest.h>

#include <vector>

#include "pci_support.h"
#include "qirc.h"
#include "wmusb.h"
#include "yekpro_qir.h"

namespace {

using drvtest::AsyncIoctl;
using drvtest::Bufs;
using usbstub::UrbKind;

enum class StartKind { First, FailingFirst, Restart, FailingRestart };

struct StartRace {
    StartKind eKind;
    WmPoint ePoint;  // where the start is held while the open comes
    int iChan;       // the digit the open takes
};

bool isFailing(StartKind e)
{
    return e == StartKind::FailingFirst || e == StartKind::FailingRestart;
}

std::string nameOf(const StartRace& c)
{
    static const char* const mpszKind[] = {"FirstStart", "FailingFirstStart", "Restart", "FailingRestart"};
    return std::string(mpszKind[static_cast<int>(c.eKind)]) +
           (c.ePoint == eWmPointUsbSelectConfiguration ? "BeforeSelectConfiguration" : "BeforeIdleDownload") +
           std::to_string(c.iChan);
}

void PrintTo(const StartRace& c, std::ostream* pos)
{
    *pos << nameOf(c);
}

// Each start at each point, on either digit; a start that fails at its
// select configuration never reaches its idle download.
std::vector<StartRace> startRaces()
{
    std::vector<StartRace> r;
    for (StartKind e : {StartKind::First, StartKind::FailingFirst, StartKind::Restart, StartKind::FailingRestart})
        for (WmPoint ePoint : {eWmPointUsbSelectConfiguration, eWmPointUsbIdleDownload})
            for (int iChan : {0, 1})
                if (!isFailing(e) || ePoint == eWmPointUsbSelectConfiguration)
                    r.push_back(StartRace{e, ePoint, iChan});
    return r;
}

std::string chanPath(int iChan)
{
    return "\\\\.\\ZEDOZ_EVU_0\\qir\\" + std::to_string(iChan);
}

class UsbStartRaceTest : public drvtest::DriverTest {
protected:
    CardUsb* card() { return static_cast<CardUsb*>(static_cast<Card*>(fdo()->DeviceExtension)); }

    // A request on a thread of its own, waited for (bounded); one that does
    // not come back is ended by unplugging the board, and is STATUS_PENDING.
    NTSTATUS bounded(HANDLE h, ULONG uCode, YekIoc& ioc)
    {
        AsyncIoctl r(h, uCode, &ioc, cbYekIoc, [this] { pdev->surpriseRemove(); });
        return r.result();
    }
    NTSTATUS exchange(HANDLE h)
    {
        Bufs b;
        std::vector<char> w = drvtest::qirWrite(3, 1);
        return bounded(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size()));
    }
    // A put of a register write, then the get of its answer.
    NTSTATUS putThenGet(HANDLE h)
    {
        Bufs b;
        std::vector<char> w = drvtest::qirWrite(3, 1);
        NTSTATUS st = bounded(h, IOCTL_YEK_PUT, b.put(w.data(), w.size()));
        return NT_SUCCESS(st) ? bounded(h, IOCTL_YEK_GET, b.get()) : st;
    }
    NTSTATUS prochk(HANDLE h)
    {
        Bufs b;
        return bounded(h, IOCTL_YEK_PROCHK, b.prochk(ykQir._puDd[0]._pup->szProto()));
    }
    std::string readText(HANDLE h)
    {
        char mpch[1024];
        ULONG_PTR cb = 0;
        NTSTATUS st = kstub::io::read(h, mpch, sizeof mpch, &cb);
        return NT_SUCCESS(st) ? std::string(mpch, cb) : std::string();
    }
    // Every request kind of a channel that works: the exchange, the put and
    // the get, the protocol check and the read text.
    void expectWorks(HANDLE h)
    {
        EXPECT_EQ(exchange(h), STATUS_SUCCESS);
        EXPECT_EQ(putThenGet(h), STATUS_SUCCESS);
        EXPECT_EQ(prochk(h), STATUS_SUCCESS);
        EXPECT_FALSE(readText(h).empty());
    }
    // A channel refused at once: its transfers fail with
    // STATUS_DEVICE_NOT_CONNECTED before anything is sent.
    void expectRefusedAtOnce(HANDLE h)
    {
        pdev->clearUrbLog();
        EXPECT_EQ(exchange(h), STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(putThenGet(h), STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_TRUE(bulk().empty());
    }
};

class UsbOpenDuringStartTest : public UsbStartRaceTest, public ::testing::WithParamInterface<StartRace> {};

TEST_P(UsbOpenDuringStartTest, WorksAfterTheStartOrIsRefusedAtOnce)
{
    const StartRace& c = GetParam();
    if (c.eKind == StartKind::First || c.eKind == StartKind::FailingFirst) {
        plugAndAdd();
    } else {
        plugAndLoad();
        ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    }
    if (isFailing(c.eKind))
        pdev->failUrb(UrbKind::SelectConfiguration);
    CardUsb* pcu = card();
    NTSTATUS stStart = STATUS_PENDING, stOpen = STATUS_PENDING;
    HANDLE h = nullptr;
    std::string sgPath = chanPath(c.iChan);
    drvtest::besideHeld(
        k(), c.ePoint, &pcu->_mtxOpen, [&] { stStart = start(); },
        [&] { stOpen = kstub::io::create(sgPath.c_str(), &h); });
    // A first start that fails is followed by the removal at once, which
    // waits for the open: that open finds no start in force, loads nothing
    // and is left behind; its handle outlives the board, which the removal
    // deleted.
    if (c.eKind == StartKind::FailingFirst) {
        EXPECT_EQ(stStart, STATUS_UNSUCCESSFUL);
        ASSERT_EQ(stOpen, STATUS_SUCCESS);
        EXPECT_TRUE(urbs(UrbKind::VendorOut).empty()) << "nothing is loaded into a board whose start failed";
        EXPECT_EQ(fdo(), nullptr) << "removed after the failed start";
        pdev->clearUrbLog();
        EXPECT_EQ(exchange(h), STATUS_DELETE_PENDING);
        EXPECT_TRUE(bulk().empty());
        EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
        HANDLE hOther = nullptr;
        EXPECT_FALSE(NT_SUCCESS(open(&hOther, "\\qir\\" + std::to_string(1 - c.iChan))));
        EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
        return;
    }
    if (c.eKind == StartKind::FailingRestart) {
        EXPECT_EQ(stStart, STATUS_UNSUCCESSFUL);
        if (NT_SUCCESS(stOpen)) {
            expectRefusedAtOnce(h);
            EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
        }
        HANDLE hOther = nullptr;
        EXPECT_FALSE(NT_SUCCESS(open(&hOther, "\\qir\\" + std::to_string(1 - c.iChan))));
        EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
        return;
    }
    ASSERT_EQ(stStart, STATUS_SUCCESS);
    ASSERT_EQ(stOpen, STATUS_SUCCESS);
    EXPECT_EQ(board->runningImage(), "qir_firmware");
    EXPECT_EQ(pcu->_mpChan[c.iChan].pipeDown(), pcu->_mpPipeDown[c.iChan]) << "the start's new pipes";
    EXPECT_EQ(pcu->_mpChan[c.iChan].pipeUp(), pcu->_mpPipeUp[c.iChan]);
    expectWorks(h);
    HANDLE hOther = openOk("\\qir\\" + std::to_string(1 - c.iChan));
    expectWorks(hOther);
    close(hOther);
    EXPECT_EQ(exchange(h), STATUS_SUCCESS);
    EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
    EXPECT_EQ(board->runningImage(), "gid_firmware");
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

INSTANTIATE_TEST_SUITE_P(Cases, UsbOpenDuringStartTest, ::testing::ValuesIn(startRaces()),
                         [](const ::testing::TestParamInfo<StartRace>& i) { return nameOf(i.param); });

// An open before the board's first start: no pipes to give, and no firmware
// is loaded. The channel is left behind at once and stays so over the start;
// the first open after the start is a first open.
TEST_F(UsbStartRaceTest, OpenBeforeTheFirstStartIsLeftBehindAtOnce)
{
    plugAndAdd();
    HANDLE h = openOk("\\qir\\0");
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty()) << "nothing is loaded into a board not started";
    expectRefusedAtOnce(h);
    EXPECT_TRUE(logHas("kqir0: chan 0 0 was opened before the last start"));
    ASSERT_EQ(start(), STATUS_SUCCESS);
    expectRefusedAtOnce(h);
    HANDLE h1 = openOk("\\qir\\1");
    EXPECT_EQ(board->runningImage(), "qir_firmware");
    expectWorks(h1);
    pdev->clearUrbLog();
    close(h);
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
    close(h1);
    EXPECT_EQ(board->runningImage(), "gid_firmware");
}

// The board's own start failing, without the removal that the plug-and-play
// manager sends after it: the pipes of the start before are no longer the
// board's, so a channel opened now is left behind at once.
TEST_F(UsbStartRaceTest, OpenAfterAStartThatFailedIsLeftBehindAtOnce)
{
    plugAndLoad();
    pdev->failUrb(UrbKind::SelectConfiguration);
    ASSERT_EQ(card()->pnpStartDevice(fdo(), nullptr), STATUS_UNSUCCESSFUL);
    pdev->clearUrbLog();
    HANDLE h = openOk("\\qir\\1");
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
    expectRefusedAtOnce(h);
    EXPECT_TRUE(logHas("kqir0: chan 0 1 was opened before the last start"));
    close(h);
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty());
}

}  // namespace
