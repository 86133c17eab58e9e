// The digital I/O over the whole road: an application linked with libpyl,
// the Win32 stand-in, the driver with the sio card module, the USB stand-in
// and a simulated PYL-2817. Named output bits are written and seen on the
// board's port 0, the board's inputs are read back through the bit client.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "../e2e_world.h"
#include "dap.h"
#include "kv_world.h"
#include "sim/sim_boards.h"

using namespace KVdepDev100;
using KVdepDino100::BitHandle;
using KVdepDino100::DinoPlexSync;
using KVdepSim100::Fault;
using KVdepYek100::RunIo;

namespace {

using e2e::szDev;
using e2e::text;

const char* const mpszOut[] = {"O01", "O02", "O03", "O04", "O05", "O06",
                               "O07", "O08", "O09", "O10", "O11", "O12"};
const char* const mpszIn[] = {"I01", "I02", "I03", "I04", "I05", "I06",
                              "I07", "I08", "I09", "I10", "I11", "I12"};
// The bit of port 0 that each output and input is on.
const int mpiOutBit[] = {0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13};
const int mpiInBit[] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12};

// A board plugged into the driver with the sio card module (adapter 0, the
// PYL-2817). Objects that hold handles go before the teardown.
struct DigitalWorld : ::testing::Test {
    std::unique_ptr<KVdepSim100::EzUsbBoard> board = KVdepSim100::makePyl2817();
    std::unique_ptr<kvworld::World> pw;

    void SetUp() override
    {
        pw.reset(new kvworld::World);
        pw->plug(*board);
        ASSERT_EQ(pw->loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        kvworld::Report r = pw->teardown();
        EXPECT_TRUE(r.clean()) << r.text();
        pw.reset();
    }
    std::vector<int> requestTypes() const
    {
        std::vector<int> v;
        for (const KVdepSim100::RequestRecord& rq : board->requests())
            v.push_back(rq._mpbCtrl.empty() ? -1 : rq._mpbCtrl[0]);
        return v;
    }
};

// The application's side: the initializer, the pump on its device channel,
// the client multiplexer with the board's channel "board".
struct Application {
    PylLocalInitializer ini{szDev};
    RunIo rio;
    std::unique_ptr<DinoPlexSync> pdps;

    Application()
    {
        if (!ini.isGood())
            return;
        rio.add(ini.puc());
        pdps.reset(new DinoPlexSync(&rio));
        ini.initDinoUser("board", pdps.get());
    }
    // The client multiplexer goes before the initializer.
    ~Application() { pdps.reset(); }
};

TEST_F(DigitalWorld, NamedOutputsReachPort0AndInputsComeBack)
{
    {
        Application app;
        ASSERT_TRUE(app.ini.isGood()) << text(app.ini);
        EXPECT_EQ(board->runningImage(), "sio_firmware");
        DinoPlexSync& dps = *app.pdps;

        BitHandle mpbhOut[12], mpbhIn[12];
        for (int i = 0; i < 12; ++i) {
            mpbhOut[i] = dps.callOpen(std::string("board/") + mpszOut[i]);
            mpbhIn[i] = dps.callOpen(std::string("board/") + mpszIn[i]);
            ASSERT_NE(mpbhOut[i], 0) << mpszOut[i] << " " << text(dps);
            ASSERT_NE(mpbhIn[i], 0) << mpszIn[i];
        }
        EXPECT_EQ(mpbhOut[6], 0x00020001) << "O07";
        EXPECT_EQ(requestTypes(), std::vector<int>{KVdepVaq100::eVaqInit}) << "opens need no board request";

        // Each output alone, then all of them.
        for (int i = 0; i < 12; ++i) {
            dps.setBit(mpbhOut[i]);
            ASSERT_EQ(dps.callSync(), 0) << text(dps);
            EXPECT_EQ(board->sio()->outputs(), 1u << mpiOutBit[i]) << mpszOut[i];
            dps.clrBit(mpbhOut[i]);
        }
        for (BitHandle bh : mpbhOut)
            dps.setBit(bh);
        ASSERT_EQ(dps.callSync(), 0);
        EXPECT_EQ(board->sio()->outputs(), 0x3F3F);

        // Each input alone.
        for (int i = 0; i < 12; ++i) {
            board->setSioInputs(static_cast<uint16_t>(1u << mpiInBit[i]));
            ASSERT_EQ(dps.callSync(), 0);
            for (int k = 0; k < 12; ++k)
                EXPECT_EQ(dps.getBit(mpbhIn[k]), k == i) << mpszIn[i] << " set, " << mpszIn[k] << " read";
        }
        board->setSioInputs(0x9F35);
        ASSERT_EQ(dps.callSync(), 0);
        std::ostringstream os;
        dps.print(os);
        EXPECT_EQ(os.str(), "o=003f3f00 i=3500009f\n");

        // Every sync is one write and one read of port 0.
        std::vector<int> v = requestTypes();
        ASSERT_EQ(v.size(), 1u + 2 * 26);
        for (size_t k = 1; k < v.size(); k += 2) {
            EXPECT_EQ(v[k], KVdepSio100::eSioWrite);
            EXPECT_EQ(v[k + 1], KVdepSio100::eSioRead);
        }
        for (const KVdepSim100::PortAccess& pa : board->sio()->reads())
            EXPECT_EQ(pa._iPort, 0);
    }
    EXPECT_EQ(board->runningImage(), "gid_firmware") << "the last close restores the idle firmware";
}

TEST_F(DigitalWorld, InputsWiredToTheOutputsFollowThemInOneSync)
{
    board->setSioLoopback(true);
    Application app;
    ASSERT_TRUE(app.ini.isGood()) << text(app.ini);
    DinoPlexSync& dps = *app.pdps;
    BitHandle bhO03 = dps.callOpen("board/O03"), bhO10 = dps.callOpen("board/O10");
    BitHandle bhI03 = dps.callOpen("board/I03"), bhI10 = dps.callOpen("board/I10");
    BitHandle bhI04 = dps.callOpen("board/I04");
    dps.setBit(bhO03);
    dps.setBit(bhO10);
    ASSERT_EQ(dps.callSync(), 0);
    EXPECT_TRUE(dps.getBit(bhI03));
    EXPECT_TRUE(dps.getBit(bhI10));
    EXPECT_FALSE(dps.getBit(bhI04));
    dps.clrBit(bhO03);
    ASSERT_EQ(dps.callSync(), 0);
    EXPECT_FALSE(dps.getBit(bhI03));
    EXPECT_TRUE(dps.getBit(bhI10));
}

TEST_F(DigitalWorld, UnknownPortsAndChannels)
{
    Application app;
    ASSERT_TRUE(app.ini.isGood());
    DinoPlexSync& dps = *app.pdps;
    EXPECT_EQ(dps.callOpen("board/X99"), 0);
    EXPECT_EQ(text(dps), "stat=fail (invalid bit) 0");
    EXPECT_EQ(dps.callOpen("board/o07"), 0);
    EXPECT_EQ(dps.callOpen("other/O07"), 0);
    EXPECT_EQ(text(dps), "stat=fail (can't find port) 0");
    EXPECT_EQ(dps.callOpen("board/O07/extra"), 0x00020001);
    EXPECT_TRUE(dps.isGood());
}

// The device channel of an initializer whose board did not open stays in
// the pump beside a good board's, failed with nothing under way: the good
// board opens and syncs as if it were alone.
TEST_F(DigitalWorld, GoodBoardBesideAChannelThatNeverOpened)
{
    for (bool fNoneFirst : {true, false}) {
        SCOPED_TRACE(fNoneFirst ? "the channel that never opened pumped first" : "pumped second");
        PylLocalInitializer iniNone("\\\\.\\ZEDOZ_EVU_1");
        ASSERT_EQ(text(iniNone), "stat=fail (can't open) 2");
        PylLocalInitializer ini(szDev);
        ASSERT_TRUE(ini.isGood()) << text(ini);
        RunIo rio;
        if (fNoneFirst)
            rio.add(iniNone.puc());
        rio.add(ini.puc());
        rio.add(iniNone.puc());
        DinoPlexSync dps(&rio);
        ASSERT_EQ(ini.initDinoUser("a", &dps), 0);
        BitHandle bh = dps.callOpen("a/O01");
        EXPECT_EQ(bh, 0x00010001) << text(dps);
        dps.setBit(bh);
        board->setSioInputs(0x9F35);
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        EXPECT_EQ(board->sio()->outputs(), 0x0001u);
        std::ostringstream os;
        dps.print(os);
        EXPECT_EQ(os.str(), "o=00010000 i=3500009f\n");
    }
}

// Boards a and b (PYL-2817s on slots 0 and 1) in a world of their own, their
// initializers, and the application's pump and client multiplexer over them.
struct TwoDigitalBoards {
    std::unique_ptr<KVdepSim100::EzUsbBoard> boardA = KVdepSim100::makePyl2817();
    std::unique_ptr<KVdepSim100::EzUsbBoard> boardB = KVdepSim100::makePyl2817(1);
    std::unique_ptr<kvworld::World> pw;
    std::unique_ptr<PylLocalInitializer> piniA, piniB;
    std::unique_ptr<RunIo> prio;
    std::unique_ptr<DinoPlexSync> pdps;

    TwoDigitalBoards()
    {
        pw.reset(new kvworld::World);
        pw->plug(*boardA);
        pw->plug(*boardB);
        EXPECT_EQ(pw->loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
        piniA.reset(new PylLocalInitializer(szDev));
        piniB.reset(new PylLocalInitializer("\\\\.\\ZEDOZ_EVU_1"));
        EXPECT_TRUE(piniA->isGood()) << text(*piniA);
        EXPECT_TRUE(piniB->isGood()) << text(*piniB);
    }
    ~TwoDigitalBoards()
    {
        pdps.reset();
        piniA.reset();
        piniB.reset();
        kvworld::Report r = pw->teardown();
        EXPECT_TRUE(r.clean()) << r.text();
        pw.reset();
    }
    bool isReady() const { return piniA->isGood() && piniB->isGood(); }
    // A new pump on the device channels of the boards named ("ab", "b", ""),
    // and a new client multiplexer with the boards named as channels a and b.
    DinoPlexSync& application(const std::string& sgPumped, const std::string& sgRegistered)
    {
        pdps.reset();
        prio.reset(new RunIo);
        for (char c : sgPumped)
            prio->add(ini(c).puc());
        pdps.reset(new DinoPlexSync(prio.get()));
        for (char c : sgRegistered)
            EXPECT_GE(ini(c).initDinoUser(std::string(1, c), pdps.get()), 0);
        return *pdps;
    }
    PylLocalInitializer& ini(char c) { return c == 'a' ? *piniA : *piniB; }
    // The application's pump carries the board's device channel from now on.
    void pumpToo(char c) { prio->add(ini(c).puc()); }
};

// An exchange of board b is cut while its server is busy with a sync that
// was cut before: once b is pumped again, the next exchange gets its own
// answer. Two ways to get there: b's device channel joins the pump late, or
// board a goes away beside b and the application goes on with b alone.
TEST(EndToEndPyl, ExchangeAfterACutGetsItsOwnAnswer)
{
    enum Next { syncOwnInputs, openI09, openO01 };
    struct Row {
        const char* szWhat;
        bool fRecovery;
        Next next;
    };
    const Row mp[] = {
        {"b joins the pump late, then a sync", false, syncOwnInputs},
        {"b joins the pump late, then an open", false, openI09},
        {"b alone after a went away, then an open", true, openO01},
        {"b alone after a went away, then a sync", true, syncOwnInputs},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        TwoDigitalBoards tb;
        ASSERT_TRUE(tb.isReady());
        tb.boardB->setSioInputs(0x1111);
        if (!r.fRecovery) {
            DinoPlexSync& dps = tb.application("", "b");
            ASSERT_EQ(dps.callOpen("b/O01"), 0x00010001) << text(dps);
            EXPECT_EQ(dps.callSync(), -1);
            EXPECT_EQ(text(dps), "stat=fail (exchange not finished) 0");
            // The open comes while b's server is still on that sync.
            EXPECT_EQ(dps.callOpen("b/O01"), 0x00010001) << text(dps);
            tb.pumpToo('b');
        } else {
            DinoPlexSync& dps = tb.application("ab", "ab");
            ASSERT_EQ(dps.callOpen("b/O01"), 0x01010001) << text(dps);
            // a's write goes out, then b's; a goes away before its answer.
            tb.boardA->injectFault(Fault::unplug(KVdepSio100::eSioWrite));
            EXPECT_EQ(dps.callSync(), -1);
            EXPECT_EQ(dps.callOpen("b/I09"), 0);
            tb.application("b", "b");
        }
        DinoPlexSync& dps = *tb.pdps;
        tb.boardB->setSioInputs(0x9F35);
        switch (r.next) {
        case syncOwnInputs: {
            EXPECT_EQ(dps.callSync(), 0) << text(dps);
            std::ostringstream os;
            dps.print(os);
            EXPECT_EQ(os.str(), "o=00000000 i=3500009f\n");
            break;
        }
        case openI09:
            EXPECT_EQ(dps.callOpen("b/I09"), 0x00030080) << text(dps);
            break;
        case openO01:
            EXPECT_EQ(dps.callOpen("b/O01"), 0x00010001) << text(dps);
            break;
        }
    }
}

// Board a goes away in the middle of a sync beside board b; the syncs that
// follow on that pump fail at once. When the application goes on with b
// alone, b is written the outputs of the sync that succeeds, and none of the
// syncs it saw fail: neither the one cut (when its write had not gone out)
// nor those that followed it.
TEST(EndToEndPyl, OutputsOfFailedSyncsAreNotWrittenLater)
{
    struct Row {
        const char* szWhat;
        Fault fault;  // of board a, pumped first
        std::vector<uint32_t> vuWrittenWhenCut;
    };
    const Row mp[] = {
        {"a goes away after b's write went out", Fault::unplug(KVdepSio100::eSioWrite), {0x0001}},
        {"a goes away before b's write went out", Fault::unplug(KVdepSio100::eSioWrite, 0, false), {}},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        TwoDigitalBoards tb;
        ASSERT_TRUE(tb.isReady());
        DinoPlexSync& dps = tb.application("ab", "ab");
        BitHandle mpbh[5];
        for (int i = 0; i < 5; ++i)
            mpbh[i] = dps.callOpen("b/" + std::string(mpszOut[i]));
        tb.boardA->injectFault(r.fault);
        for (int i = 0; i < 4; ++i) {
            for (BitHandle bh : mpbh)
                dps.setBit(bh, bh == mpbh[i]);
            EXPECT_EQ(dps.callSync(), -1) << mpszOut[i];
        }
        auto writes = [&] {
            std::vector<uint32_t> v;
            for (const KVdepSim100::PortAccess& pa : tb.boardB->sio()->writes())
                v.push_back(pa._uVal);
            return v;
        };
        EXPECT_EQ(writes(), r.vuWrittenWhenCut);

        DinoPlexSync& dpsB = tb.application("b", "b");
        dpsB.setBit(KVdepDino100::bitHandle(0, 1, 0x10));  // O05, b being channel 0 now
        ASSERT_EQ(dpsB.callSync(), 0) << text(dpsB);
        std::vector<uint32_t> vuWant = r.vuWrittenWhenCut;
        vuWant.push_back(0x0010);
        EXPECT_EQ(writes(), vuWant);
        EXPECT_EQ(tb.boardB->sio()->outputs(), 0x0010u);
    }
}

TEST(EndToEndPyl, CounterBoardIsNotSupported)
{
    auto board = KVdepSim100::makeHix5316();
    {
        kvworld::World w;
        w.plug(*board);
        ASSERT_EQ(w.loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
        {
            PylLocalInitializer ini(szDev);
            EXPECT_EQ(text(ini), "stat=fail (device model not supported) 21270, stat=good () 0");
            EXPECT_EQ(ini.iErr(), 0x5316);
            EXPECT_EQ(ini.ptm(), nullptr);
            RunIo rio;
            DinoPlexSync dps(&rio);
            EXPECT_EQ(ini.initDinoUser("board", &dps), -1);
        }
        kvworld::Report r = w.teardown();
        EXPECT_TRUE(r.clean()) << r.text();
    }
}

TEST(EndToEndPyl, NoBoard)
{
    {
        kvworld::World w;
        ASSERT_EQ(w.loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
        {
            PylLocalInitializer ini(szDev);
            EXPECT_EQ(text(ini), "stat=fail (can't open) 2");
            EXPECT_EQ(ini.ptm(), nullptr);
        }
        kvworld::Report r = w.teardown();
        EXPECT_TRUE(r.clean()) << r.text();
    }
}

TEST(EndToEndPyl, DriverAsBuiltHasNoSioDriver)
{
    auto board = KVdepSim100::makePyl2817();
    kvworld::World w;
    w.plug(*board);
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    {
        PylLocalInitializer ini(szDev);
        EXPECT_EQ(text(ini), "stat=fail (can't open) 55");
    }
    EXPECT_TRUE(w.kernel().log().contains("no driver for sio\\0"));
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
}

TEST(EndToEndPyl, BoardThatGoesAwayMidExchange)
{
    struct Row {
        const char* szWhat;
        Fault fault;
    };
    const Row mp[] = {
        {"during the read's answer", Fault::unplug(KVdepSio100::eSioRead)},
        {"during the write's data", Fault::unplug(KVdepSio100::eSioWrite, 0, false)},
        {"after the write", Fault::unplug(KVdepSio100::eSioWrite)},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        auto board = KVdepSim100::makePyl2817();
        {
            kvworld::World w;
            w.plug(*board);
            ASSERT_EQ(w.loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
            {
                Application app;
                ASSERT_TRUE(app.ini.isGood()) << text(app.ini);
                DinoPlexSync& dps = *app.pdps;
                BitHandle bh = dps.callOpen("board/O05");
                dps.setBit(bh);
                ASSERT_EQ(dps.callSync(), 0);
                EXPECT_EQ(board->sio()->outputs(), 0x10u);
                board->injectFault(r.fault);
                EXPECT_EQ(dps.callSync(), -1);
                EXPECT_TRUE(dps.isBad()) << text(dps);
                EXPECT_EQ(std::string(dps.szErr()).rfind("DeviceIoControl(", 0), 0u) << text(dps);
                // The application goes on calling: every sync fails, nothing
                // stops on the exchange that was cut.
                dps.clrBit(bh);
                EXPECT_EQ(dps.callSync(), -1);
                EXPECT_EQ(dps.callSync(), -1);
            }
            kvworld::Report rep = w.teardown();
            EXPECT_TRUE(rep.clean()) << rep.text();
        }
    }
}

// Two boards on one pump; the second goes away in the middle of a sync while
// the first's exchange is under way (its read waiting to be sent, its write
// sent and not yet answered, or its read sent and not yet answered). The
// application goes on with the first board alone: its syncs give the inputs
// of their own time and write their own outputs, and no answer of the sync
// that was cut takes the place of one.
TEST(EndToEndPyl, BoardThatGoesAwayLeavesNoAnswerOnTheOther)
{
    struct Row {
        const char* szWhat;
        bool fFailingFirst;
        int eTypeUnplug;  // the failing board's request that it goes away at
        size_t cReadsA;   // of the first board
    };
    // One read for each sync that returned, and the cut sync's when it went
    // out before the cut; one asked for and not sent yet when the pump failed
    // never goes out.
    const Row mp[] = {
        {"failing board pumped second, at its write", false, KVdepSio100::eSioWrite, 4},
        {"failing board pumped first, at its write", true, KVdepSio100::eSioWrite, 4},
        {"failing board pumped first, at its read", true, KVdepSio100::eSioRead, 5},
    };
    for (const Row& row : mp) {
        SCOPED_TRACE(row.szWhat);
        const bool fFailingFirst = row.fFailingFirst;
        auto boardA = KVdepSim100::makePyl2817();
        auto boardB = KVdepSim100::makePyl2817();
        {
            kvworld::World w;
            w.plug(*boardA);
            w.plug(*boardB);
            ASSERT_EQ(w.loadDriver(KAVORQIR_SIO_MODULE), STATUS_SUCCESS);
            {
                PylLocalInitializer iniA(szDev);
                ASSERT_TRUE(iniA.isGood()) << text(iniA);
                std::unique_ptr<PylLocalInitializer> piniB(new PylLocalInitializer("\\\\.\\ZEDOZ_EVU_1"));
                ASSERT_TRUE(piniB->isGood()) << text(*piniB);
                {
                    RunIo rio;
                    if (fFailingFirst)
                        rio.add(piniB->puc());
                    rio.add(iniA.puc());
                    rio.add(piniB->puc());
                    DinoPlexSync dps(&rio);
                    ASSERT_EQ(iniA.initDinoUser("a", &dps), 0);
                    ASSERT_EQ(piniB->initDinoUser("b", &dps), 1);
                    BitHandle bh = dps.callOpen("a/O05");
                    dps.setBit(bh);
                    boardA->setSioInputs(0x1111);
                    ASSERT_EQ(dps.callSync(), 0) << text(dps);
                    EXPECT_EQ(boardA->sio()->outputs(), 0x10u);
                    boardB->injectFault(Fault::unplug(row.eTypeUnplug));
                    boardA->setSioInputs(0x2222);
                    dps.clrBit(bh);
                    EXPECT_EQ(dps.callSync(), -1);
                    EXPECT_TRUE(dps.isBad()) << text(dps);
                }
                piniB.reset();

                RunIo rio;
                rio.add(iniA.puc());
                DinoPlexSync dps(&rio);
                ASSERT_EQ(iniA.initDinoUser("a", &dps), 0);
                BitHandle bh = dps.callOpen("a/O05");
                const uint16_t mpuIn[] = {0x3333, 0x4444, 0x5555};
                for (int k = 0; k < 3; ++k) {
                    SCOPED_TRACE(k);
                    boardA->setSioInputs(mpuIn[k]);
                    dps.setBit(bh, k % 2 == 0);
                    ASSERT_EQ(dps.callSync(), 0) << text(dps);
                    std::ostringstream os;
                    dps.print(os);
                    char szWant[40];
                    std::snprintf(szWant, sizeof szWant, "o=00%02x0000 i=%02x0000%02x\n", k % 2 == 0 ? 0x10 : 0,
                                  mpuIn[k] & 0xFF, mpuIn[k] >> 8);
                    EXPECT_EQ(os.str(), szWant);
                    EXPECT_EQ(boardA->sio()->outputs(), k % 2 == 0 ? 0x10u : 0u);
                }
                EXPECT_EQ(boardA->sio()->reads().size(), row.cReadsA);
            }
            kvworld::Report rep = w.teardown();
            EXPECT_TRUE(rep.clean()) << rep.text();
        }
    }
}
}  // namespace
