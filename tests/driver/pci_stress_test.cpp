// The PCI board under concurrency: requests on four channels from several
// threads with cancels, the timer and the board's interrupts running, while
// the board is started again and again and finally removed; and a cancel
// that races the start of a request that would wait. Counts are bounded;
// KV_STRESS_DIVISOR (an integer above 1) divides them for slow builds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

#include "pci_support.h"

namespace {

using drvtest::AsyncIoctl;
using drvtest::Bufs;
using drvtest::PciTest;
using drvtest::PioEcho;
using drvtest::PioRead;
using drvtest::PioWait;
using drvtest::PioWrite;
using kstub::formatString;
using kvtest::eventually;
using kvtest::JoiningThread;

const ULONG fOverlapped = 0x40000000u;

// The open path of a channel of the board in slot 0.
std::string pioPath(int iChan)
{
    return "\\\\.\\ZEDOZ_EVU_0\\pio\\" + std::to_string(iChan);
}

int scaled(int n)
{
    const char* sz = std::getenv("KV_STRESS_DIVISOR");
    int d = sz ? std::atoi(sz) : 1;
    return d > 1 ? (n + d - 1) / d : n;
}

// What the requests ended with, and those that ended otherwise than a
// restart, a cancel, a removal or a busy channel allow.
class Outcomes {
public:
    void add(const char* szWhat, NTSTATUS st)
    {
        std::lock_guard<std::mutex> lk(_mtx);
        ++_mpc[st];
        ++_c;
        if (!isAllowed(st))
            _mpszUnexpected.push_back(formatString("%s: 0x%08X", szWhat, unsigned(st)));
    }
    unsigned count() const
    {
        std::lock_guard<std::mutex> lk(_mtx);
        return _c;
    }
    unsigned count(NTSTATUS st) const
    {
        std::lock_guard<std::mutex> lk(_mtx);
        auto it = _mpc.find(st);
        return it == _mpc.end() ? 0 : it->second;
    }
    std::vector<std::string> unexpected() const
    {
        std::lock_guard<std::mutex> lk(_mtx);
        return _mpszUnexpected;
    }
    std::string text() const
    {
        std::lock_guard<std::mutex> lk(_mtx);
        std::ostringstream os;
        for (const auto& [st, c] : _mpc)
            os << formatString("0x%08X", unsigned(st)) << " x" << c << "; ";
        return os.str();
    }

private:
    static bool isAllowed(NTSTATUS st)
    {
        return st == STATUS_SUCCESS || st == STATUS_CANCELLED || st == STATUS_DEVICE_NOT_CONNECTED ||
               st == STATUS_NO_SUCH_DEVICE;  // a channel busy with the other thread's request
    }

    mutable std::mutex _mtx;
    std::map<NTSTATUS, unsigned> _mpc;
    std::vector<std::string> _mpszUnexpected;
    unsigned _c = 0;
};

// One request of a random kind on the handle: a register write answered at
// once, a wait answered by a timer step, a load answered at the board's
// interrupt, a put, a get of whatever is queued (or an event), an echo.
void oneRequest(HANDLE h, std::mt19937& rng, Outcomes& out)
{
    Bufs b;
    uint32_t uReg = rng() % 16;
    const char* szWhat = "";
    ULONG uCode = IOCTL_YEK_XCH;
    switch (rng() % 6) {
    case 0: {
        PioWrite w(uReg, rng());
        b.xch(&w, sizeof w);
        szWhat = "write";
        break;
    }
    case 1: {
        PioWait w(1 + rng() % 3);
        b.xch(&w, sizeof w);
        szWhat = "wait";
        break;
    }
    case 2: {
        PioRead r(uReg);
        b.xch(&r, sizeof r);
        szWhat = "read";
        break;
    }
    case 3: {
        PioWrite w(uReg, rng());
        b.put(&w, sizeof w);
        uCode = IOCTL_YEK_PUT;
        szWhat = "put";
        break;
    }
    case 4:
        b.get();
        uCode = IOCTL_YEK_GET;
        szWhat = "get";
        break;
    default: {
        PioEcho e;
        size_t cb = rng() % 200;
        b.xch(&e, sizeof e, cb);
        szWhat = "echo";
        break;
    }
    }
    out.add(szWhat, drvtest::ioctlInOut(h, uCode, &b.ioc, cbYekIoc));
}

// Threads beside a test that run until fStop is set, which the test does
// before it joins them; a test that leaves early sets it as they go.
using Beside = std::deque<JoiningThread>;

void runBeside(Beside& mpt, std::atomic<bool>& fStop, std::function<void()> f)
{
    mpt.emplace_back(std::move(f), [&fStop] { fStop = true; });
}

void stopBeside(Beside& mpt, std::atomic<bool>& fStop)
{
    fStop = true;
    for (JoiningThread& t : mpt)
        t.join();
}

// The clock, one timer step an advance; the board's interrupts, every one
// its line asks for and events now and then (they answer the gets of
// channel 0). Interrupts keep coming while a restart or the removal
// disconnects.
void runClockAndBoard(Beside& bg, std::atomic<bool>& fStop, kstub::Kernel& k, KVdepSim100::S5920Board& board,
                      pcistub::PciDevice& dev)
{
    runBeside(bg, fStop, [&k, &fStop] {
        while (!fStop)
            k.advanceMs(100);
    });
    runBeside(bg, fStop, [&board, &dev, &fStop] {
        std::mt19937 rng(7);
        while (!fStop) {
            if (rng() % 16 == 0 && !dev.isGone())
                board.raiseEvent(static_cast<uint8_t>(rng()));
            dev.interrupt();
        }
    });
}

class PciStressTest : public PciTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykPio4; }

    // Error lines only: thousands of requests.
    PciStressTest() { world.setDebug(1); }

    void TearDown() override
    {
        closeChannels();
        PciTest::TearDown();
    }

    // Channels 0 and 1 serialise their requests; 2 and 3 take requests of
    // two threads at once, so that one may find the channel busy.
    // Channels 0 and 1, then 2 and 3 for overlapped I/O, up to c of them.
    void openChannels(int c = 4)
    {
        for (int i = 0; i < c; ++i) {
            HANDLE h = nullptr;
            ASSERT_EQ(kstub::io::create(pioPath(i).c_str(), &h, i >= 2 ? fOverlapped : 0), STATUS_SUCCESS) << i;
            _mph.push_back(h);
        }
    }

    void closeChannels()
    {
        for (HANDLE h : _mph)
            EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
        _mph.clear();
    }

    // Runs at least cPerThread requests on every worker, and more until
    // fBeside has returned (it may wait for their progress): one thread on
    // each of the first two channels, two on each of the others.
    void runWorkers(int cPerThread, unsigned uSeed, const std::function<void()>& fBeside)
    {
        std::atomic<bool> fBesideDone{false};
        std::vector<std::thread> mpt;
        for (int i = 0; i < 6; ++i) {
            HANDLE h = _mph[i < 2 ? i : 2 + (i - 2) / 2];
            mpt.emplace_back([this, h, cPerThread, uSeed, i, &fBesideDone] {
                std::mt19937 rng(uSeed + static_cast<unsigned>(i));
                for (int n = 0; n < cPerThread || !fBesideDone; ++n)
                    oneRequest(h, rng, _out);
            });
        }
        fBeside();
        fBesideDone = true;
        for (std::thread& t : mpt)
            t.join();
    }

    // Waits (bounded) until the requests ended have grown by c.
    void awaitProgress(unsigned c)
    {
        unsigned cFrom = _out.count();
        eventually([&] { return _out.count() >= cFrom + c; });
    }

    std::vector<HANDLE> _mph;
    Outcomes _out;
};

TEST_F(PciStressTest, RequestsTimerAndInterruptsBesideRestartsAndRemovalEachEndOnce)
{
    plugAndLoad();
    openChannels();
    ASSERT_EQ(_mph.size(), 4u);
    std::atomic<bool> fStopBg{false};
    Beside bg;
    runClockAndBoard(bg, fStopBg, k(), board, *pdev);
    // Cancels of whatever a channel has in flight.
    runBeside(bg, fStopBg, [this, &fStop = fStopBg] {
        std::mt19937 rng(11);
        while (!fStop) {
            kstub::io::cancel(_mph[rng() % 4]);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Restarts with every channel open and busy.
    const int cRestarts = scaled(12);
    int cStarted = 0;
    runWorkers(scaled(400), 1, [&] {
        for (int i = 0; i < cRestarts; ++i) {
            awaitProgress(20);
            EXPECT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
            NTSTATUS st = k().pnp().start(pdev->pdo());
            EXPECT_EQ(st, STATUS_SUCCESS) << "restart " << i;
            if (st != STATUS_SUCCESS)
                break;
            ++cStarted;
        }
    });
    ASSERT_EQ(cStarted, cRestarts);
    EXPECT_EQ(drvtest::pioSeen().cFactory, 1 + cRestarts);
    // Every channel works on the newest card object; the cancels still
    // running may end an exchange, which is then tried again.
    for (int i = 0; i < 4; ++i) {
        NTSTATUS st = STATUS_CANCELLED;
        for (int cTry = 0; cTry < 100 && st == STATUS_CANCELLED; ++cTry) {
            Bufs b;
            PioWrite w(static_cast<uint32_t>(i), 0x1000u + static_cast<uint32_t>(i));
            st = drvtest::ioctlInOut(_mph[i], IOCTL_YEK_XCH, &b.xch(&w, sizeof w), cbYekIoc);
        }
        EXPECT_EQ(st, STATUS_SUCCESS) << i;
        EXPECT_EQ(board.reg(i), 0x1000u + static_cast<uint32_t>(i));
    }

    // Surprise removal while requests run; the removal itself comes at the
    // last close, with the timer still firing.
    runWorkers(scaled(100), 2, [&] {
        awaitProgress(20);
        pdev->surpriseRemove();
    });
    closeChannels();
    EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
    unsigned cTimersRemoved = drvtest::pioSeen().cTimers;
    stopBeside(bg, fStopBg);
    EXPECT_EQ(drvtest::pioSeen().cTimers, cTimersRemoved) << "a timer step ran on past the removal";

    EXPECT_TRUE(_out.unexpected().empty()) << ::testing::PrintToString(_out.unexpected());
    EXPECT_GT(_out.count(STATUS_SUCCESS), 0u) << _out.text();
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
    finish();
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

// Opens, closes and reads of the identification text on two channels while
// two others carry requests, the clock and the board's interrupts run, and
// the board is restarted again and again, then surprise-removed: the
// board's state, its removed flag and its counters are read beside their
// changes (the ThreadSanitizer build sees every such read).
TEST_F(PciStressTest, OpensClosesAndReadsBesideRestartsAndASurpriseRemoval)
{
    world.setDebug(fWmDebugDefault);
    plugAndLoad();
    openChannels(2);
    ASSERT_EQ(_mph.size(), 2u);
    std::atomic<bool> fStopBg{false};
    Beside bg;
    runClockAndBoard(bg, fStopBg, k(), board, *pdev);
    // Cancels end the gets of channel 1.
    runBeside(bg, fStopBg, [this, &fStop = fStopBg] {
        while (!fStop) {
            kstub::io::cancel(_mph[1]);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::atomic<unsigned> cOpens{0};
    Outcomes outOpen;
    std::atomic<bool> fStopUsers{false};
    Beside users;
    for (int i = 2; i < 4; ++i)
        runBeside(users, fStopUsers, [&, i, &fStop = fStopUsers] {
            const std::string sg = pioPath(i);
            while (!fStop) {
                HANDLE h = nullptr;
                NTSTATUS st = kstub::io::create(sg.c_str(), &h);
                if (!NT_SUCCESS(st)) {
                    // A board that is not started refuses it, and so does
                    // a device that is going.
                    if (st != STATUS_DELETE_PENDING)
                        outOpen.add("open", st);
                    continue;
                }
                for (int n = 0; n < 2; ++n) {
                    char mpch[1024];
                    ULONG_PTR cb = 0;
                    outOpen.add("read", kstub::io::read(h, mpch, sizeof mpch, &cb));
                }
                outOpen.add("close", kstub::io::close(h));
                ++cOpens;
            }
        });
    for (int i = 0; i < 4; ++i)
        runBeside(users, fStopUsers, [this, i, &fStop = fStopUsers] {
            std::mt19937 rng(200 + static_cast<unsigned>(i));
            while (!fStop)
                oneRequest(_mph[i % 2], rng, _out);
        });
    for (int i = 0; i < scaled(6); ++i) {
        unsigned cFrom = cOpens;
        awaitProgress(20);
        eventually([&] { return cOpens >= cFrom + 3; });
        EXPECT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
        EXPECT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS) << "restart " << i;
    }
    awaitProgress(20);
    pdev->surpriseRemove();
    awaitProgress(20);
    stopBeside(users, fStopUsers);
    closeChannels();
    EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
    stopBeside(bg, fStopBg);
    EXPECT_TRUE(_out.unexpected().empty()) << ::testing::PrintToString(_out.unexpected());
    EXPECT_TRUE(outOpen.unexpected().empty()) << ::testing::PrintToString(outOpen.unexpected());
    EXPECT_GT(cOpens.load(), 0u);
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

// A restart that fails while two handles carry requests of four threads, the
// clock and the board's interrupts running: the device is surprise-removed,
// every request ends once, the board refuses what comes after, and the
// removal at the last close frees everything.
struct FailedRestart {
    const char* szName;
    std::function<void(kstub::Kernel&)> arm;
    const char* szLine;
};

void PrintTo(const FailedRestart& c, std::ostream* pos)
{
    *pos << c.szName;
}

class PciFailedRestartTest : public PciTest, public ::testing::WithParamInterface<FailedRestart> {
protected:
    PciFailedRestartTest() { world.setDebug(fWmDebugDefault); }
};

TEST_P(PciFailedRestartTest, EndsEveryRequestOnceAndTheRemovalWaitsForTheLastClose)
{
    plugAndLoad();
    HANDLE mph[2] = {};
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kstub::io::create(pioPath(i).c_str(), &mph[i], fOverlapped), STATUS_SUCCESS) << i;
    std::atomic<bool> fStopBg{false};
    Beside bg;
    runClockAndBoard(bg, fStopBg, k(), board, *pdev);
    Outcomes out;
    std::atomic<bool> fFailed{false};
    std::atomic<unsigned> cAfter{0};
    std::atomic<bool> fStopWorkers{false};
    Beside workers;
    for (int i = 0; i < 4; ++i)
        runBeside(workers, fStopWorkers, [&, i, &fStop = fStopWorkers] {
            std::mt19937 rng(100 + static_cast<unsigned>(i));
            while (!fStop) {
                bool fAfter = fFailed;
                oneRequest(mph[i / 2], rng, out);
                if (fAfter)
                    ++cAfter;
            }
        });
    eventually([&] { return out.count() >= 40; });
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    GetParam().arm(k());
    // The threads beside log on: the start's line may leave the ring first.
    const std::string line = std::string("kqir0: ") + GetParam().szLine;
    log().watch(line);
    EXPECT_EQ(k().pnp().start(pdev->pdo()), STATUS_INSUFFICIENT_RESOURCES);
    fFailed = true;
    EXPECT_EQ(log().seen(line), 1u);
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::SurpriseRemoved);
    EXPECT_NE(fdo(), nullptr) << "handles are open: the removal waits";
    EXPECT_TRUE(eventually([&] { return cAfter >= 40; })) << "requests go on reaching the board";
    stopBeside(workers, fStopWorkers);
    // Whatever comes now is refused by the board itself; no new open.
    for (HANDLE h : mph) {
        Bufs b;
        PioWrite w(1, 2);
        EXPECT_EQ(drvtest::ioctlInOut(h, IOCTL_YEK_XCH, &b.xch(&w, sizeof w), cbYekIoc), STATUS_DEVICE_NOT_CONNECTED);
    }
    HANDLE h2 = nullptr;
    EXPECT_EQ(kstub::io::create(pioPath(1).c_str(), &h2, 0), STATUS_DELETE_PENDING);
    for (HANDLE h : mph)
        EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
    EXPECT_EQ(fdo(), nullptr) << "removed at the last close";
    stopBeside(bg, fStopBg);
    EXPECT_TRUE(out.unexpected().empty()) << ::testing::PrintToString(out.unexpected());
    EXPECT_GT(out.count(STATUS_DEVICE_NOT_CONNECTED), 0u) << out.text();
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
    finish();
    EXPECT_EQ(k().pool().outstanding(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciFailedRestartTest,
    ::testing::Values(FailedRestart{"NoCardObject", [](kstub::Kernel&) { drvtest::pioKnobs().fNoCard = true; },
                                    "Card start failed"},
                      FailedRestart{"InterruptNotConnected",
                                    [](kstub::Kernel& k) {
                                        k.failNext(kstub::Fault::ConnectInterrupt, 1, STATUS_INSUFFICIENT_RESOURCES);
                                    },
                                    "IoConnectInterrupt: 0xc000009a"}),
    [](const ::testing::TestParamInfo<FailedRestart>& i) { return std::string(i.param.szName); });

// A deferred call that another processor runs while the board stops: the
// stop waits for it before the board goes on (its timer step or interrupt
// call may be that one). The call here is the test's own, held until the
// board has gone ahead or a moment has passed.
struct StopCase {
    const char* szName;
    std::function<NTSTATUS(kstub::Kernel&, PDEVICE_OBJECT pdo)> stop;
    const char* szAhead;  // the line of the board going ahead
};

struct HeldCall {
    KDPC dpc;
    std::atomic<bool> fEntered{false};
    std::atomic<bool> fRelease{false};
};

VOID heldCall(PKDPC, PVOID pv, PVOID, PVOID)
{
    auto* phc = static_cast<HeldCall*>(pv);
    phc->fEntered = true;
    eventually([phc] { return phc->fRelease.load(); });
}

void PrintTo(const StopCase& c, std::ostream* pos)
{
    *pos << c.szName;
}

class PciStopWaitsTest : public PciTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(PciStopWaitsTest, ForADeferredCallRunningOnAnotherThread)
{
    plugAndLoad();
    HeldCall hc;
    KeInitializeDpc(&hc.dpc, heldCall, &hc);
    size_t cAhead = log().count(GetParam().szAhead);
    JoiningThread runner([&] { KeInsertQueueDpc(&hc.dpc, nullptr, nullptr); }, [&] { hc.fRelease = true; });
    ASSERT_TRUE(eventually([&] { return hc.fEntered.load(); }));
    std::atomic<NTSTATUS> st{STATUS_PENDING};
    std::thread stopper([&] { st = GetParam().stop(k(), pdev->pdo()); });
    // A board that does not wait goes ahead at once.
    bool fAhead = eventually([&] { return log().count(GetParam().szAhead) > cAhead; }, std::chrono::milliseconds(100));
    hc.fRelease = true;
    stopper.join();
    runner.join();
    EXPECT_FALSE(fAhead) << "the board went ahead while a deferred call ran";
    EXPECT_EQ(st.load(), STATUS_SUCCESS);
    EXPECT_GT(log().count(GetParam().szAhead), cAhead);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciStopWaitsTest,
    ::testing::Values(
        StopCase{"Removal", [](kstub::Kernel& k, PDEVICE_OBJECT pdo) { return k.pnp().remove(pdo); },
                 "kqir0: dtCardBus"},
        StopCase{"Restart",
                 [](kstub::Kernel& k, PDEVICE_OBJECT pdo) {
                     NTSTATUS st = k.pnp().stop(pdo);
                     return NT_SUCCESS(st) ? k.pnp().start(pdo) : st;
                 },
                 "kqir0: Yek: new card"}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.szName); });

// A request that would wait, cancelled once as soon as the dispatch has
// taken it: the cancel comes before or after its cancel routine is set, and
// either way the request ends cancelled.
TEST_F(PciStressTest, CancelRacingTheStartOfAWaitingRequestEndsItCancelled)
{
    plugAndLoad();
    HANDLE h = openOk("\\pio\\1");
    ChanBus& cb = card()->_mpChan[1];
    const int cRounds = scaled(300);
    for (int i = 0; i < cRounds; ++i) {
        Bufs b;
        b.get();
        AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
        // A busy wait: the dispatch takes a few microseconds to the start.
        auto tEnd = std::chrono::steady_clock::now() + kvtest::kWaitBound;
        while (!cb.pIrp() && std::chrono::steady_clock::now() < tEnd) {
        }
        ASSERT_NE(cb.pIrp(), nullptr) << i;
        ASSERT_EQ(kstub::io::cancel(h), STATUS_SUCCESS);
        NTSTATUS st = g.result();
        if (st == STATUS_PENDING) {
            ADD_FAILURE() << "round " << i << ": the cancelled request still waits";
            kstub::io::cancel(h);
            g.result();
            break;
        }
        ASSERT_EQ(st, STATUS_CANCELLED) << i;
    }
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_TRUE(k().problems().empty()) << ::testing::PrintToString(k().problems());
}

}  // namespace
