// The digital-I/O initializer through a small driver of the device interface
// that plays a digital-I/O board: the model check, the failures of the open,
// and whole syncs over the device channel with the pump.
#include "dap.h"
#include "devio_testdrv.h"
#include "sio_board.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <memory>
#include <sstream>
#include <thread>

#include "kv_eventually.h"

using namespace KVdepDev100;
using namespace devio_test;
using KVdepDino100::BitHandle;
using KVdepDino100::DinoPlexSync;
using KVdepYek100::RunIo;

namespace {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";

std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

// What a board on one channel of the device has seen and answers.
struct Board {
    uint16_t uInputs = 0;
    std::vector<uint32_t> vuWrites;
    int cReads = 0;
    int cSioAnswers = INT_MAX;  // the sio requests it still answers

    bool takeAnswer()
    {
        if (cSioAnswers <= 0)
            return false;
        --cSioAnswers;
        return true;
    }
};

// The board on each channel: VaqInit with its identity, SioWrite stored,
// SioRead of port 0 with the inputs.
struct PylInitTest : ::testing::Test {
    kstub::Kernel k;
    TestBoardDriver& drv = TestBoardDriver::the();
    std::string sgIdent = sio_test::SioInprocBoard::sgPyl2817;
    uint32_t eErrOpen = 0;
    Board mpbd[2];
    uint16_t& uInputs = mpbd[0].uInputs;
    std::vector<uint32_t>& vuWrites = mpbd[0].vuWrites;

    PylInitTest()
    {
        drv.reset({DrvProto{"sio", KVdepSio100::theSio_sio_Proto.szProto()}});
        EXPECT_EQ(k.loadDriver(DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        drv.setOnPut([this](const Msg& m) {
            KVdepYek100::YekControlBuf ucb;
            std::memcpy(static_cast<void*>(&ucb), m.sgCtrl.data(), std::min(m.sgCtrl.size(), sizeof ucb));
            Board& bd = mpbd[m.iChan];
            switch (m.eType()) {
            case KVdepVaq100::eVaqInit:
                drv.answer(m.iChan, KVdepVaq100::VaqResp().eErr(eErrOpen), sgIdent);
                break;
            case KVdepSio100::eSioWrite:
                bd.vuWrites.push_back(KVdepSio100::pSioWrite(&ucb)->iVal());
                if (bd.takeAnswer())
                    drv.answer(m.iChan, KVdepSio100::SioResp());
                break;
            case KVdepSio100::eSioRead:
                ++bd.cReads;
                if (bd.takeAnswer())
                    drv.answer(m.iChan, KVdepSio100::SioResp().fStat(bd.uInputs));
                break;
            }
        });
    }
    ~PylInitTest() override { k.unloadDriver("devtest"); }
};

// The port value of channel i's input image.
uint16_t inputsOf(const DinoPlexSync& dps, int i)
{
    const unsigned char* pb = dps.pbi(i)->_mpucIn;
    return static_cast<uint16_t>(pb[3] << 8 | pb[0]);
}

TEST_F(PylInitTest, OpensChecksAndServesTheBoard)
{
    {
        PylLocalInitializer ini(szDev);
        ASSERT_TRUE(ini.isGood()) << text(ini);
        EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\sio\\0"});
        ASSERT_NE(ini.ptm(), nullptr);
        EXPECT_EQ(ini.puc()->pux(), ini.ptm()) << "the device channel is the multiplexer's";

        RunIo rio;
        rio.add(ini.puc());
        DinoPlexSync dps(&rio);
        EXPECT_EQ(ini.initDinoUser("board", &dps), 0);
        EXPECT_EQ(ini.initDinoUser("again", &dps), -1) << "the client end is registered already";

        KVdepDino100::BitHandle bhO12 = dps.callOpen("board/O12");
        KVdepDino100::BitHandle bhI09 = dps.callOpen("board/I09");
        EXPECT_EQ(bhO12, 0x00020020);
        dps.setBit(bhO12);
        uInputs = 0x8000;
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        EXPECT_EQ(vuWrites, std::vector<uint32_t>{0x2000});
        EXPECT_TRUE(dps.getBit(bhI09));
        EXPECT_EQ(dps.callSync(), 0);
        EXPECT_EQ(vuWrites.size(), 2u);
        EXPECT_EQ(k.openHandles(), 1u);
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

TEST_F(PylInitTest, FailuresOfTheOpen)
{
    struct Row {
        const char* szWhat;
        const char* szDev;
        std::string sgIdent;
        uint32_t eErrOpen;
        const char* szStatus;
    };
    const Row mp[] = {
        {"no board", "\\\\.\\ZEDOZ_EVU_3", sio_test::SioInprocBoard::sgPyl2817, 0, "stat=fail (can't open) 2"},
        {"counter board", szDev, std::string("\x00\xb4\x04\x16\x53\x00\x00", 7), 0,
         "stat=fail (device model not supported) 21270, stat=good () 0"},
        {"refused open exchange", szDev, sio_test::SioInprocBoard::sgPyl2817, 5,
         "stat=fail (dap) 15, stat=fail (vaq) 215, stat=fail (request failed) 5"},
        {"identity too short for a model", szDev, std::string("\x00\xb4\x04\x17\x28", 5), 0,
         "stat=fail (device model not supported) -1, stat=good () 0"},
        {"no identity", szDev, "", 0, "stat=fail (device model not supported) -1, stat=good () 0"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        sgIdent = r.sgIdent;
        eErrOpen = r.eErrOpen;
        {
            PylLocalInitializer ini(r.szDev);
            EXPECT_EQ(text(ini), r.szStatus);
            EXPECT_EQ(ini.ptm(), nullptr) << "no multiplexer is built";
            EXPECT_NE(ini.puc(), nullptr);
            RunIo rio;
            DinoPlexSync dps(&rio);
            EXPECT_EQ(ini.initDinoUser("board", &dps), -1);
        }
        EXPECT_EQ(k.openHandles(), 0u);
    }
}

TEST_F(PylInitTest, HandedOverChannel)
{
    {
        PylLocalInitializer ini(new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, szDev, "0"));
        EXPECT_TRUE(ini.isGood()) << text(ini);
        EXPECT_NE(ini.ptm(), nullptr);
    }
    // A channel that did not open is reported, not run.
    PylLocalInitializer ini(new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, "\\\\.\\ZEDOZ_EVU_7", "0"));
    EXPECT_EQ(text(ini), "stat=fail (can't open) 2");
    EXPECT_EQ(ini.ptm(), nullptr);
}

TEST_F(PylInitTest, BoardThatGoesAwayDuringASync)
{
    PylLocalInitializer ini(szDev);
    ASSERT_TRUE(ini.isGood()) << text(ini);
    RunIo rio;
    rio.add(ini.puc());
    DinoPlexSync dps(&rio);
    ini.initDinoUser("board", &dps);
    KVdepDino100::BitHandle bhO01 = dps.callOpen("board/O01");
    EXPECT_EQ(dps.callSync(), 0);

    drv.failNext(IOCTL_YEK_GET, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(get) failed) 1167");
    // Later calls fail too, and nothing stops on the exchange that was cut.
    dps.setBit(bhO01);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(dps.callOpen("board/O02"), 0);
}

// A sync on a pump that does not carry the device channel yet is cut; the
// server's request for it must not answer a later sync in its place.
TEST_F(PylInitTest, CutSyncLeavesNoAnswerForTheNextOne)
{
    PylLocalInitializer ini(szDev);
    ASSERT_TRUE(ini.isGood()) << text(ini);
    RunIo rio;
    DinoPlexSync dps(&rio);
    ini.initDinoUser("board", &dps);
    KVdepDino100::BitHandle bhO01 = dps.callOpen("board/O01");
    ASSERT_NE(bhO01, KVdepDino100::bhNil) << text(dps);

    uInputs = 0x1111;
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=fail (exchange not finished) 0");

    // The device channel registered late: every sync from now on gives the
    // inputs of its own time and writes its own outputs last.
    rio.add(ini.puc());
    const uint16_t mpuIn[] = {0x2222, 0x3333, 0x4444};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        uInputs = mpuIn[k];
        dps.setBit(bhO01, k % 2 == 0);
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        const unsigned char* pb = dps.pbi(0)->_mpucIn;
        EXPECT_EQ(pb[0], mpuIn[k] & 0xFF);
        EXPECT_EQ(pb[3], mpuIn[k] >> 8);
        ASSERT_FALSE(vuWrites.empty());
        EXPECT_EQ(vuWrites.back(), k % 2 == 0 ? 1u : 0u);
    }
    // The cut sync's server saw the next request once its write was done,
    // and read nothing from the board.
    EXPECT_EQ(mpbd[0].cReads, 3);
}

// Boards a and b on channels 0 and 1 of the device, both served through one
// client multiplexer; the pump carries the device channels added to it.
struct TwoBoards {
    PylLocalInitializer iniA{szDev};
    PylLocalInitializer iniB{new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, szDev, "1")};
    RunIo rio;
    std::unique_ptr<DinoPlexSync> pdps{new DinoPlexSync(&rio)};
    DinoPlexSync& dps = *pdps;
    RunIo rioB;
    std::unique_ptr<DinoPlexSync> pdpsB;

    TwoBoards()
    {
        EXPECT_TRUE(iniA.isGood()) << text(iniA);
        EXPECT_TRUE(iniB.isGood()) << text(iniB);
        EXPECT_EQ(iniA.initDinoUser("a", &dps), 0);
        EXPECT_EQ(iniB.initDinoUser("b", &dps), 1);
    }
    // The device channels of the boards named, in that order.
    void pump(const std::string& sgBoards)
    {
        for (char c : sgBoards)
            rio.add(c == 'a' ? iniA.puc() : iniB.puc());
    }
    // Board b alone from now on, as an application goes on without a board
    // that failed: a client multiplexer and a pump of its own.
    DinoPlexSync& bAlone()
    {
        pdps.reset();
        rioB.add(iniB.puc());
        pdpsB.reset(new DinoPlexSync(&rioB));
        EXPECT_EQ(iniB.initDinoUser("b", pdpsB.get()), 0);
        return *pdpsB;
    }
};

// Syncs of board b are cut while its device channel is not in the pump
// (enough of them, in the last row, to use up the client's up buffers). When
// it joins, the pump of an open on board a carries b's cut exchanges to their
// end, and b's server answers the last of them. No later sync takes that
// answer: each gets the inputs of its own time, whatever order the pump runs
// the boards in.
TEST_F(PylInitTest, CutSyncOfOneBoardLeavesNoAnswerForTheNext)
{
    struct Row {
        const char* szWhat;
        const char* szBefore;  // the boards in the pump while b's syncs are cut
        const char* szAfter;   // the boards that join it then
        int cCut;
    };
    const Row mp[] = {
        {"b joins after a", "a", "b", 1},
        {"both join, b first", "", "ba", 1},
        {"b's up buffers used up", "a", "b", 5},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        mpbd[0] = Board();
        mpbd[1] = Board();
        mpbd[1].uInputs = 0x1111;
        TwoBoards tb;
        tb.pump(r.szBefore);
        for (int i = 0; i < r.cCut; ++i) {
            EXPECT_EQ(tb.dps.callSync(), -1);
            EXPECT_EQ(text(tb.dps), "stat=fail (exchange not finished) 0");
        }
        tb.pump(r.szAfter);
        BitHandle bhO01 = tb.dps.callOpen("a/O01");
        ASSERT_EQ(bhO01, 0x00010001) << text(tb.dps);

        const uint16_t mpuIn[] = {0x9F35, 0x2222, 0x4444};
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(k);
            mpbd[1].uInputs = mpuIn[k];
            mpbd[0].uInputs = static_cast<uint16_t>(~mpuIn[k]);
            tb.dps.setBit(bhO01, k % 2 == 0);
            ASSERT_EQ(tb.dps.callSync(), 0) << text(tb.dps);
            EXPECT_EQ(inputsOf(tb.dps, 1), mpuIn[k]);
            EXPECT_EQ(inputsOf(tb.dps, 0), static_cast<uint16_t>(~mpuIn[k]));
            EXPECT_EQ(mpbd[0].vuWrites.back(), k % 2 == 0 ? 1u : 0u);
        }
    }
}

// Board a's get fails: its write went out and its server still awaits the
// answer. A pump that carries board b and then a's failed channel fails
// before any transfer, and says why: b is asked nothing.
TEST_F(PylInitTest, AFailedChannelWhoseAnswerIsAwaitedFailsALaterPumpBeforeAnyTransfer)
{
    PylLocalInitializer iniA(szDev);
    PylLocalInitializer iniB(new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, szDev, "1"));
    ASSERT_TRUE(iniA.isGood()) << text(iniA);
    ASSERT_TRUE(iniB.isGood()) << text(iniB);
    RunIo rioA;
    rioA.add(iniA.puc());
    DinoPlexSync dpsA(&rioA);
    ASSERT_EQ(iniA.initDinoUser("a", &dpsA), 0);
    drv.failNext(IOCTL_YEK_GET, STATUS_DEVICE_NOT_CONNECTED, 0);
    ASSERT_EQ(dpsA.callSync(), -1);
    ASSERT_FALSE(iniA.puc()->isYkuUser()) << "a's write went out";
    ASSERT_TRUE(iniA.ptm()->isAwaitingDev()) << "a's answer is awaited";

    RunIo rio;
    rio.add(iniB.puc());
    rio.add(iniA.puc());
    DinoPlexSync dps(&rio);
    ASSERT_EQ(iniB.initDinoUser("b", &dps), 0);
    const std::size_t cPuts = drv.puts().size();
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(rio.pcuFailed(), iniA.puc());
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(get) failed) 1167");
    EXPECT_EQ(drv.puts().size(), cPuts) << "board b was asked";
    EXPECT_TRUE(mpbd[1].vuWrites.empty());
}

// Runs cCalls syncs on another thread. A get that waits for a board that
// never answers is a call that hangs: it fails the test and is ended as the
// board going away would end it, so that the calls return.
std::vector<int> syncsThatMustNotHang(TestBoardDriver& drv, DinoPlexSync& dps, int cCalls)
{
    std::vector<int> vr;
    std::atomic<bool> fDone{false};
    std::thread th([&] {
        for (int i = 0; i < cCalls; ++i)
            vr.push_back(dps.callSync());
        fDone = true;
    });
    int cHangs = 0;
    while (!fDone.load()) {
        kvtest::eventually([&] { return fDone.load() || drv.isGetWaiting(); });
        if (drv.failWaitingGet(STATUS_DEVICE_NOT_CONNECTED))
            ++cHangs;
    }
    th.join();
    EXPECT_EQ(cHangs, 0) << "a sync waited for a board that never answers";
    return vr;
}

// Board a fails in the middle of a sync while board b, which never answers,
// has its exchange under way: the sync, and the next, return -1 without
// waiting on b. When b is back, alone on a pump of its own, its syncs give
// its inputs of their time: what it was asked before is received and not
// taken for an answer.
TEST_F(PylInitTest, FailedSyncReturnsWithoutWaitingOnTheOtherBoard)
{
    struct Row {
        const char* szWhat;
        const char* szPump;
        ULONG uCodeFailing;   // of a's request that fails
        int cSioAnswersB;     // what b answers before it stops
        int cOwedB;           // b's requests sent and not answered
    };
    const Row mp[] = {
        {"a's write does not go out", "ab", IOCTL_YEK_PUT, 0, 0},
        {"a's write is not answered", "ab", IOCTL_YEK_GET, 0, 1},
        {"a's write is not answered after b's was", "ba", IOCTL_YEK_GET, 1, 0},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        mpbd[0] = Board();
        mpbd[1] = Board();
        TwoBoards tb;
        tb.pump(r.szPump);
        mpbd[1].cSioAnswers = r.cSioAnswersB;
        drv.failNext(r.uCodeFailing, STATUS_DEVICE_NOT_CONNECTED, 0);
        EXPECT_EQ(syncsThatMustNotHang(drv, tb.dps, 2), (std::vector<int>{-1, -1}));
        EXPECT_EQ(text(tb.dps), r.uCodeFailing == IOCTL_YEK_PUT ? "stat=bad (DeviceIoControl(put) failed) 1167"
                                                               : "stat=bad (DeviceIoControl(get) failed) 1167");

        // b is back and answers what it was asked before.
        mpbd[1].cSioAnswers = INT_MAX;
        for (int i = 0; i < r.cOwedB; ++i)
            drv.answer(1, KVdepSio100::SioResp().fStat(0x0BAD));
        DinoPlexSync& dpsB = tb.bAlone();
        for (uint16_t uIn : {0x5A5A, 0x0F0F}) {
            mpbd[1].uInputs = uIn;
            ASSERT_EQ(dpsB.callSync(), 0) << text(dpsB);
            EXPECT_EQ(inputsOf(dpsB, 0), uIn);
        }
    }
}

}  // namespace
