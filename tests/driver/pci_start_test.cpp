// The PCI board's construction and start: memory blocks, resources, the
// bridge set-up, the register dump, the card object and its channels, the
// interrupt and the periodic timer; failures of each; the counts in the read
// text; stop and removal.
#include <gtest/gtest.h>

#include <functional>

#include "pci_support.h"

namespace {

using drvtest::PciTest;
using drvtest::pioKnobs;
using drvtest::pioSeen;
using KVdepSim100::S5920Board;
using kstub::formatString;

class PciStartTest : public PciTest {};

TEST_F(PciStartTest, StartLogsResourcesSetsUpTheBridgeAndStartsTheTimer)
{
    plugAndLoad();
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::Started);
    unsigned uOp = pdev->ioBase(S5920Board::iBarOperation);
    unsigned uRegs = pdev->ioBase(S5920Board::iBarAddOn);
    std::vector<std::string> mpsz = {
        "requesting 2 blocks of memory",
        "CardBus::pnpStartDevice",
        formatString("port: 0x%08X Length: 128 Flag=1", uOp),
        formatString("port: 0x%08X Length: 16 Flag=2", uRegs),
        formatString("intr lvl:0x9 vct:0x%X mode:lvlSens sh:1", pdev->vector()),
        formatString("AMCC5920 configured %x", uOp),
        "ioregs 0x4b 0x56 0x20 0x59 0x1 0x0 0x1 0x0",
        "Yek: new card ",
        "Yek: new chan pio 0",
        "Yek: new chan pio 1",
        "IoConnectInterrupt: 0x0",
        "timer(1, 0)",
        "timer period 100 ms",
    };
    std::vector<std::string> lines = log().lines();
    size_t iLine = 0;
    for (const std::string& sz : mpsz) {
        while (iLine < lines.size() && lines[iLine].find("kqir0: " + sz) == std::string::npos)
            ++iLine;
        EXPECT_LT(iLine, lines.size()) << "missing, or out of order: " << sz;
    }
    // The bridge's two set-up writes, in order, and nothing else.
    EXPECT_EQ(board.operationWrites(), (std::vector<std::pair<uint32_t, uint8_t>>{{0x60, 0x87}, {0x39, 0x2C}}));
    // The register dump reads base + 7 down to base + 0.
    std::vector<uint16_t> mpPort;
    for (const kstub::PortAccess& a : pdev->accesses())
        if (!a.fWrite && a.port < uRegs + 8)
            mpPort.push_back(a.port);
    ASSERT_GE(mpPort.size(), 8u);
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(mpPort[i], uRegs + 7 - i);
    // The factory: the block table, the adapter's argument and the register base.
    EXPECT_EQ(pioSeen().cFactory, 1);
    EXPECT_EQ(pioSeen().cmi, 2);
    EXPECT_EQ(pioSeen().pArg, &drvtest::g_iPioArg);
    EXPECT_EQ(pioSeen().ioBase, static_cast<long>(uRegs));
    EXPECT_NE(pioSeen().mpp[0], nullptr);
    EXPECT_NE(pioSeen().mpp[1], nullptr);
    EXPECT_EQ(pioSeen().mps[1], 256u);
    EXPECT_TRUE(boardLogs(formatString("requested 256 bytes = %p", pioSeen().mpp[1])));
    // The first expiry is at once; the card object saw it.
    EXPECT_EQ(pioSeen().cTimers, 1u);
    ASSERT_NE(card(), nullptr);
    EXPECT_EQ(card()->cTimer(), 1u);
    EXPECT_TRUE(card()->isState(CardBus::eStarted));
}

TEST_F(PciStartTest, WithoutOperationRegionsTheBridgeGetsNoWritesAndTheStartSucceeds)
{
    pcistub::PciProps props;
    props.omitBars = {S5920Board::iBarOperation};
    plugAndLoad(props);
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::Started);
    EXPECT_TRUE(board.operationWrites().empty());
    EXPECT_FALSE(logHas("AMCC5920 configured"));
    EXPECT_TRUE(boardLogs("ioregs 0xff 0xff 0xff 0xff 0xff 0xff 0xff 0xff")) << "the add-on bus stays closed";
}

TEST_F(PciStartTest, RegionWithBothFlagsIsTheBoardRegisterRegion)
{
    pcistub::PciProps props;
    props.cardType = 1u;
    plugAndLoad(props);
    EXPECT_TRUE(boardLogs(formatString("port: 0x%08X Length: 16 Flag=3", pdev->ioBase(S5920Board::iBarAddOn))));
    EXPECT_EQ(pioSeen().ioBase, static_cast<long>(pdev->ioBase(S5920Board::iBarAddOn)));
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::Started);
}

TEST_F(PciStartTest, OtherResourcesAreLoggedAndTheStartGoesOn)
{
    pcistub::PciProps props;
    props.fLatched = true;
    props.fShared = false;
    kstub::Resource mem;
    mem.kind = kstub::Resource::Memory;
    mem.start = 0xFE001000;
    mem.length = 4096;
    kstub::Resource priv;
    priv.kind = kstub::Resource::DevicePrivate;
    priv.data[0] = 1;
    priv.data[1] = 2;
    priv.data[2] = 0x30;
    kstub::Resource odd;
    odd.kind = kstub::Resource::Port;
    odd.start = 0xD000;
    odd.length = 8;
    odd.flags = CM_RESOURCE_PORT_IO;
    props.extra = {mem, priv, odd};
    plugAndLoad(props);
    EXPECT_TRUE(boardLogs(formatString("intr lvl:0x9 vct:0x%X mode:latched sh:0", pdev->vector())));
    EXPECT_TRUE(boardLogs("mem: 0xFE001000 Length: 4096"));
    EXPECT_TRUE(boardLogs("private: 0x1 0x2 0x30"));
    EXPECT_TRUE(boardLogs("port: 0x0000D000 Length: 8 Flag=0"));
    EXPECT_TRUE(boardLogs("no region to setup"));
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::Started);
}

// A start that fails: its line and status; the device is removed again and
// nothing of the board stays.
struct StartFailure {
    const char* szName;
    std::function<void(pcistub::PciProps&, kstub::Kernel&)> setUp;
    NTSTATUS st;
    const char* szLine;
};

void PrintTo(const StartFailure& c, std::ostream* pos) { *pos << c.szName; }

class PciStartFailureTest : public PciTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(PciStartFailureTest, FailsWithItsLineAndStatus)
{
    pcistub::PciProps props;
    GetParam().setUp(props, k());
    plugAndAdd(props);
    EXPECT_EQ(start(), GetParam().st);
    EXPECT_TRUE(boardLogs(GetParam().szLine)) << log().text();
    EXPECT_EQ(fdo(), nullptr) << "a device that fails to start is removed";
    EXPECT_TRUE(logHas("kqir0: dtCardBus"));
    k().advanceMs(500);
    EXPECT_EQ(pioSeen().cTimers, 0u) << "no timer runs";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PciStartFailureTest,
    ::testing::Values(
        StartFailure{"NoResources", [](pcistub::PciProps& p, kstub::Kernel&) { p.fNoResources = true; },
                     STATUS_INSUFFICIENT_RESOURCES, "kgpStartDevice: no resources!"},
        StartFailure{"NoBoardRegion",
                     [](pcistub::PciProps& p, kstub::Kernel&) { p.omitBars = {S5920Board::iBarAddOn}; },
                     STATUS_INSUFFICIENT_RESOURCES, "no i/o region"},
        StartFailure{"NoInterrupt", [](pcistub::PciProps& p, kstub::Kernel&) { p.fInterrupt = false; },
                     STATUS_INSUFFICIENT_RESOURCES, "no interrupt resource"},
        StartFailure{"NoCardObject", [](pcistub::PciProps&, kstub::Kernel&) { pioKnobs().fNoCard = true; },
                     STATUS_INSUFFICIENT_RESOURCES, "Card start failed"},
        StartFailure{"InterruptNotConnected",
                     [](pcistub::PciProps&, kstub::Kernel& k) {
                         k.failNext(kstub::Fault::ConnectInterrupt, 1, STATUS_INSUFFICIENT_RESOURCES);
                     },
                     STATUS_INSUFFICIENT_RESOURCES, "IoConnectInterrupt: 0xc000009a"}),
    [](const ::testing::TestParamInfo<StartFailure>& i) { return std::string(i.param.szName); });

// A card object with a channel past the board's table of four a driver:
// the start fails before the interrupt and the timer, so no callback of that
// channel can come.
class PciStartPastTheTableTest : public PciTest {
protected:
    const YekMod* cardModule() const override { return &drvtest::ykPio5; }
};

TEST_F(PciStartPastTheTableTest, FifthChannelOfADriverFailsTheStart)
{
    plugAndAdd();
    EXPECT_EQ(start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(boardLogs("Yek: new chan pio 4"));
    EXPECT_TRUE(boardLogs("Yek: chan 0 4 past the board's table"));
    EXPECT_TRUE(boardLogs("Card start failed"));
    EXPECT_FALSE(logHas("IoConnectInterrupt"));
    EXPECT_EQ(pioSeen().cTimers, 0u);
    EXPECT_EQ(fdo(), nullptr) << "a device that fails to start is removed";
    k().advanceMs(500);
    EXPECT_EQ(pioSeen().cTimers, 0u) << "no timer runs";
}

// Construction failures refuse the device at AddDevice; nothing stays allocated.
class PciConstructionTest : public PciTest {
protected:
    void addRefused(const char* szWhy)
    {
        k().pnp().setAutoEnumerate(false);
        pdev = &world.plugPci(board);
        ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
        EXPECT_EQ(k().pnp().addDevice(pdev->pdo()), STATUS_NO_SUCH_DEVICE) << szWhy;
        EXPECT_TRUE(logHas("kqir0: Card construction failed (stat=1 (wmbus ")) << szWhy;
        EXPECT_EQ(fdo(), nullptr);
        EXPECT_EQ(k().pool().outstanding(), 0u) << szWhy << ": " << k().pool().describeOutstanding();
    }
};

TEST_F(PciConstructionTest, NegativeMemoryRequest)
{
    pioKnobs().fAnswerMemory = true;
    pioKnobs().iMemAnswer = -1;
    addRefused("negative");
    EXPECT_TRUE(logHas("kqir0: requesting -1 blocks of memory"));
}

TEST_F(PciConstructionTest, MoreBlocksThanTheTableHolds)
{
    pioKnobs().fAnswerMemory = true;
    pioKnobs().iMemAnswer = 65;
    addRefused("65 blocks");
    EXPECT_FALSE(logHas("requested ")) << "none is allocated";
}

TEST_F(PciConstructionTest, AllocationThatFailsEndsTheLoopAndFreesTheOthers)
{
    k().pool().failSize(256);
    addRefused("second block");
    EXPECT_TRUE(logHas("requested 256 bytes = 0000000000000000"));
    EXPECT_EQ(log().count("released "), 1u);
}

class PciTicksModuleTest : public PciConstructionTest, public ::testing::WithParamInterface<int> {
protected:
    const YekMod* cardModule() const override { return &_um; }
    YekMod _um = drvtest::ykPio;
};

TEST_P(PciTicksModuleTest, TicksPerSecondOutOfRange)
{
    _um._tps = GetParam();
    addRefused("ticks a second");
    EXPECT_TRUE(logHas(formatString("timer ticks per second %d out of range", GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Ticks, PciTicksModuleTest, ::testing::Values(0, -5, 1001));

// Timer periods: 1000 / ticks per second, the remainder dropped.
class PciTimerTest : public PciTest, public ::testing::WithParamInterface<std::pair<int, unsigned>> {
protected:
    const YekMod* cardModule() const override { return &_um; }
    YekMod _um = drvtest::ykPio;
};

TEST_P(PciTimerTest, PeriodAndSteps)
{
    _um._tps = GetParam().first;
    unsigned ms = GetParam().second;
    plugAndLoad();
    EXPECT_TRUE(boardLogs(formatString("timer period %u ms", ms)));
    k().advanceMs(300);
    EXPECT_EQ(card()->cTimer(), 1 + 300 / ms) << "the first step at once, then one a period";
    EXPECT_EQ(pioSeen().cTimers, card()->cTimer());
}

INSTANTIATE_TEST_SUITE_P(Periods, PciTimerTest,
                         ::testing::Values(std::make_pair(10, 100u), std::make_pair(1000, 1u),
                                           std::make_pair(300, 3u)));

TEST_F(PciStartTest, ReadTextCountsInterruptsAndTimerSteps)
{
    plugAndLoad();
    HANDLE h = openOk();
    // Two interrupts of the board and one that is not its own.
    board.raiseEvent(1);
    EXPECT_TRUE(pdev->interrupt());
    board.raiseEvent(2);
    EXPECT_TRUE(pdev->interrupt());
    EXPECT_FALSE(k().raiseInterrupt(pdev->vector()));
    k().advanceMs(1900);
    std::string sg = readText(h);
    EXPECT_EQ(sg.rfind("did=kqir vers=", 0), 0u) << sg;
    std::string sgKey = kstub::narrow(std::u16string(reinterpret_cast<const char16_t*>(card()->slot()->_wszKey)));
    std::string sgBoard = "id=" + sgKey + " name=PIO-5920 org=kavor arch=pci cintr=3 ctimer=20\n";
    ASSERT_GE(sg.size(), sgBoard.size());
    EXPECT_EQ(sg.substr(sg.size() - sgBoard.size()), sgBoard);
}

TEST_F(PciStartTest, InterruptThatIsNotTheBoardsIsForwarded)
{
    plugAndLoad();
    log().clear();
    EXPECT_FALSE(k().raiseInterrupt(pdev->vector()));
    EXPECT_TRUE(boardLogs("intr() forward"));
    EXPECT_FALSE(logHas("dpcForIsr"));
    EXPECT_EQ(card()->cIntr(), 1u);
}

TEST_F(PciStartTest, ModuleAddressesInTheBlockTableAreNotTakenForTheBoards)
{
    pioKnobs().fScribbleBlocks = true;
    plugAndLoad();
    EXPECT_EQ(k().pnp().state(pdev->pdo()), kstub::DevState::Started);
    EXPECT_NE(pioSeen().mpp[0], reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A)));
    finish();  // the board frees its own blocks only
}

TEST_F(PciStartTest, StopAndStartAgainRunOneInterruptAndOneTimer)
{
    plugAndLoad();
    HANDLE hKept = openOk("\\pio\\1");
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_EQ(pioSeen().cFactory, 2) << "a new card object";
    EXPECT_EQ(log().count("IoConnectInterrupt: 0x0"), 2u);
    ULONG cTimer = card()->cTimer();
    k().advanceMs(100);
    EXPECT_EQ(card()->cTimer(), cTimer + 1) << "one timer";
    board.raiseEvent(7);
    ULONG cIntr = card()->cIntr();
    EXPECT_TRUE(pdev->interrupt());
    EXPECT_EQ(card()->cIntr(), cIntr + 1) << "one interrupt routine";
    // The channel open over the restart works on the new card object, whose
    // driver was started for it.
    EXPECT_EQ(pioSeen().cInit, 2u);
    drvtest::Bufs b;
    drvtest::PioWrite w(3, 33);
    EXPECT_EQ(ioctl(hKept, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_SUCCESS);
    EXPECT_EQ(board.reg(3), 33u);
    HANDLE h = openOk();
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(&w, sizeof w)), STATUS_SUCCESS);
    close(hKept);
    close(h);
    EXPECT_EQ(pioSeen().cFini, 1u);
}

// A handle kept open over a stop and a start: its waiting request ends at
// the start (the stop passes down), and the same channel entry then carries
// requests that the new card object answers from its timer step and from
// the board's interrupt.
TEST_F(PciStartTest, RestartKeepsAnOpenChannelWorkingOnTheNewCardObject)
{
    plugAndLoad();
    HANDLE h = openOk();
    ChanBus* pcbKept = &card()->_mpChan[0];
    drvtest::Bufs b;
    b.get();
    drvtest::AsyncIoctl g(h, IOCTL_YEK_GET, &b.ioc);
    ASSERT_TRUE(waitPended(1));
    ASSERT_EQ(k().pnp().stop(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_FALSE(g.isDone());
    ASSERT_EQ(k().pnp().start(pdev->pdo()), STATUS_SUCCESS);
    EXPECT_EQ(g.result(), STATUS_CANCELLED);
    EXPECT_TRUE(boardLogs(formatString("request ended driv=0 chan=0 stat=%x", unsigned(STATUS_CANCELLED))));
    EXPECT_EQ(pioSeen().cFactory, 2);
    EXPECT_EQ(static_cast<Chan*>(kstub::io::fileObject(h)->FsContext), pcbKept) << "the entry stays";
    EXPECT_TRUE(pcbKept->isBound());
    EXPECT_TRUE(pcbKept->isState(ChanBus::S_IDLE));
    EXPECT_EQ(pcbKept->_cOpen, 1u);
    drvtest::PioWait w(2);
    b.xch(&w, sizeof w);
    drvtest::AsyncIoctl x(h, IOCTL_YEK_XCH, &b.ioc);
    ASSERT_TRUE(waitPended(2));
    k().advanceMs(200);
    ASSERT_EQ(x.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._eReq, drvtest::ePioWait);
    board.setReg(6, 0x66);
    drvtest::PioRead r(6);
    b.xch(&r, sizeof r);
    drvtest::AsyncIoctl xr(h, IOCTL_YEK_XCH, &b.ioc);
    ASSERT_TRUE(waitPended(3));
    EXPECT_TRUE(pdev->interrupt());
    ASSERT_EQ(xr.result(), STATUS_SUCCESS);
    EXPECT_EQ(resp(b)._uVal, 0x66u);
    EXPECT_EQ(close(h), STATUS_SUCCESS);
    EXPECT_EQ(pioSeen().cFini, 1u);
}

TEST_F(PciStartTest, RemovalStopsTheBoardAndReleasesItsBlocks)
{
    plugAndLoad();
    void* pv0 = pioSeen().mpp[0];
    log().clear();
    world.pci().unplug(*pdev);
    EXPECT_TRUE(boardLogs("pnpStopDevice"));
    EXPECT_TRUE(boardLogs("dtCardBus"));
    EXPECT_TRUE(boardLogs(formatString("released %d bytes at %p", static_cast<int>(pioSeen().mps[0]), pv0)));
    EXPECT_EQ(log().count("released "), 2u);
    EXPECT_EQ(k().pool().outstanding(), 0u) << k().pool().describeOutstanding();
    unsigned cTimers = pioSeen().cTimers;
    k().advanceMs(1000);
    EXPECT_EQ(pioSeen().cTimers, cTimers) << "no timer after removal";
}

}  // namespace
