// The dino client multiplexer, its bit client and the pump, against scripted
// dino servers.
#include "dino_rig.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace dino_test;
using KVdepYek100::RunIo;

namespace {

TEST(BitHandle, Encoding)
{
    EXPECT_EQ(bitHandle(1, 2, 0x20), 0x01020020);
    EXPECT_EQ(bitHandle(0, 0, 0), bhNil);
}

TEST(MultiPlex, RegistrationAndPaths)
{
    InprocDinoServer a, b;
    DinoPlex dp;
    EXPECT_EQ(dp.init("board", a.pucClient()), 0);
    EXPECT_EQ(dp.init("", b.pucClient()), 1);
    EXPECT_EQ(a.pucClient()->pux(), &dp);
    EXPECT_EQ(b.pucClient()->hChan(), 1);
    EXPECT_EQ(dp.szName(), std::string("mp"));

    struct Row {
        const char* szPath;
        int i;
        const char* szPort;
    };
    const Row mp[] = {
        {"board/O07", 0, "O07"}, {"board/O07/extra", 0, "O07"}, {"board/", 0, ""},
        {"O07", 1, "O07"},       {"/I01", 1, "I01"},            {"other/O07", -1, "unchanged"},
        {"Board/O07", -1, "unchanged"},
    };
    for (const Row& r : mp) {
        std::string sgPort = "unchanged";
        EXPECT_EQ(dp.findPort(&sgPort, r.szPath), r.i) << r.szPath;
        EXPECT_EQ(sgPort, r.szPort) << r.szPath;
    }
    EXPECT_THROW(dp.pta(2), std::out_of_range);
}

TEST(MultiPlex, ChannelsGoWithTheMultiplexer)
{
    InprocDinoServer a;
    {
        DinoPlex dp;
        dp.init("board", a.pucClient());
    }
    EXPECT_EQ(a.pucClient()->pux(), nullptr);
    EXPECT_EQ(a.pucClient()->hChan(), -1);
}

TEST(MultiPlexDeath, RegistrationRules)
{
    static const KVdepYek100::YekProto other("(//)(/Int4:u_int/)", "oth");
    EXPECT_DEATH(
        {
            KVdepYek100::YekChanLocal end(&other);
            DinoPlex dp;
            dp.init("board", &end);
        },
        "Assertion failed: \\*\\(pcn->pup\\(\\)\\) == \\*_pup, file dino, line 194");
    EXPECT_DEATH(
        {
            InprocDinoServer a;
            InprocDinoServer b;
            DinoPlex dp;
            dp.init("board", a.pucClient());
            dp.init("board", b.pucClient());
        },
        "Assertion failed: _mpsi.find\\(sg\\) == _mpsi.end\\(\\), file dino, line 196");
}

struct BitClientTest : ::testing::Test {
    InprocDinoServer server;
    RunIo rio;
    DinoPlexSync dps{&rio};

    void SetUp() override { ASSERT_EQ(dps.init("board", server.pucClient()), 0); }
};

TEST_F(BitClientTest, OpenFindsTheBitOfANamedPort)
{
    EXPECT_EQ(dps.callOpen("board/O07"), 0x00020001);
    EXPECT_TRUE(dps.isGood()) << text(dps);
    ASSERT_EQ(server.vrq.size(), 1u);
    EXPECT_EQ(server.vrq[0].eType, eDinoOpen);
    EXPECT_EQ(server.vrq[0].sgData, "O07");
    EXPECT_EQ(dps.callOpen("board/I01"), 0x00000080);
}

TEST_F(BitClientTest, OpensThatFindNoBit)
{
    struct Row {
        const char* szWhat;
        const char* szPath;
        std::function<void(DinoScript&)> fnSetup;
        const char* szStatus;
        size_t cRequests;  // that reached the server
    };
    const Row mp[] = {
        {"unknown port", "board/X99", [](DinoScript&) {}, "stat=fail (invalid bit) 0", 1},
        {"unknown channel", "other/O07", [](DinoScript&) {}, "stat=fail (can't find port) 0", 0},
        {"server refuses", "board/O07", [](DinoScript& s) { s.eErrOpen = 3; }, "stat=fail (DinoOpenResp) 3", 1},
        {"answer of another type", "board/O07", [](DinoScript& s) { s.eTypeWrong = eDinoResp; },
         "stat=fail (unexpected response) 4", 1},
        {"byte beyond the images", "board/BIG", [](DinoScript& s) { s.mpPort["BIG"] = {16, 1}; },
         "stat=fail (invalid bit) 0", 1},
        {"mask beyond a byte", "board/WIDE", [](DinoScript& s) { s.mpPort["WIDE"] = {1, 0x100}; },
         "stat=fail (invalid bit) 0", 1},
        {"no answer", "board/O07", [](DinoScript& s) { s.fSilent = true; }, "stat=fail (exchange not finished) 0", 1},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        DinoScript& s = server;
        s = DinoScript();
        r.fnSetup(s);
        EXPECT_EQ(dps.callOpen(r.szPath), bhNil);
        EXPECT_EQ(text(dps), r.szStatus);
        EXPECT_EQ(server.vrq.size(), r.cRequests);
        // The next open on the channel works.
        s = DinoScript();
        EXPECT_EQ(dps.callOpen("board/O07"), 0x00020001);
        EXPECT_TRUE(dps.isGood());
    }
}

// A handle holds the channel index in one byte: the 257th channel's bit
// would come back as the first channel's.
TEST(DinoPlex, ChannelsBeyondWhatAHandleHoldsHaveNoBit)
{
    std::vector<std::unique_ptr<InprocDinoServer>> vps;
    RunIo rio;
    DinoPlexSync dps(&rio);
    for (int i = 0; i < 257; ++i) {
        vps.emplace_back(new InprocDinoServer);
        ASSERT_EQ(dps.init("c" + std::to_string(i), vps.back()->pucClient()), i);
    }
    EXPECT_EQ(dps.callOpen("c0/O07"), 0x00020001);
    EXPECT_EQ(static_cast<uint32_t>(dps.callOpen("c255/O07")), 0xFF020001u);
    EXPECT_TRUE(dps.isGood()) << text(dps);
    BitHandle bh = dps.callOpen("c256/O07");
    EXPECT_EQ(bh, bhNil);
    EXPECT_EQ(text(dps), "stat=fail (invalid bit) 0");
    EXPECT_EQ(vps[256]->vrq.size(), 1u) << "the server was asked";
    dps.setBit(bh);
    EXPECT_EQ(image(dps.pbi(0)->_mpucOut), std::string(4, '\0')) << "channel 0 is untouched";
}

TEST_F(BitClientTest, SyncSendsTheOutputsAndKeepsTheInputs)
{
    BitHandle bhOut = dps.callOpen("board/O07");
    server.mpPort["I03"] = {0, 0x20};
    BitHandle bhIn = dps.callOpen("board/I03");
    BitHandle bhIn1 = dps.callOpen("board/I01");
    EXPECT_TRUE(dps.isBit(bhOut));
    EXPECT_FALSE(dps.isBit(bhNil));
    EXPECT_FALSE(dps.isBit(bitHandle(1, 2, 1))) << "no channel 1";

    dps.setBit(bhOut);
    EXPECT_EQ(dps.callSync(), 0);
    ASSERT_EQ(server.vrq.back().eType, eDinoSync);
    EXPECT_EQ(server.vrq.back().sgData, std::string("\x00\x00\x01\x00", 4));
    EXPECT_EQ(image(dps.pbi(0)->_mpucIn), std::string("\x35\x00\x00\x9f", 4));
    EXPECT_TRUE(dps.getBit(bhIn));
    EXPECT_FALSE(dps.getBit(bhIn1));
    EXPECT_FALSE(dps.getBit(bhOut)) << "an output is not in the input image";

    dps.clrBit(bhOut);
    dps.setBit(bhIn1, true);  // any named bit of the output image
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(server.vrq.back().sgData, std::string("\x80\x00\x00\x00", 4));
}

TEST_F(BitClientTest, RefusedSyncLeavesTheInputsAndFails)
{
    EXPECT_EQ(dps.callSync(), 0);
    server.sgInputs = std::string("\x01\x02\x03\x04", 4);
    server.eErrSync = 2;
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=fail (DinoResp) 2");
    EXPECT_EQ(image(dps.pbi(0)->_mpucIn), std::string("\x35\x00\x00\x9f", 4));
    server.eErrSync = 0;
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(image(dps.pbi(0)->_mpucIn), std::string("\x01\x02\x03\x04", 4));
}

// Answers of exchanges given up before may wait on the channel when the next
// exchange starts, however many: it takes its own answer, not one of them.
TEST_F(BitClientTest, AnswersWaitingBeforeAnExchangeAreNotTakenForItsOwn)
{
    auto sendUnasked = [&](const auto& msg, const std::string& sgData) {
        KVdepYek100::YekChannel* pcn = server._pair.pucA();
        KVdepYek100::Pmu pmu = pcn->allocUp(KVdepYek100::SZ_DATA_MAX);
        Answer a;
        a.ucb = msg;
        a.sgData = sgData;
        fill(YekChannel::pmbOf(pmu), a);
        pcn->putUp(0, pmu, true);
    };
    for (int i = 0; i < 2; ++i)
        sendUnasked(DinoResp(), std::string(4, static_cast<char>(0x11 * (i + 1))));
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(image(dps.pbi(0)->_mpucIn), server.sgInputs);

    for (int i = 0; i < 2; ++i)
        sendUnasked(DinoOpenResp().iByte(3).fBit(0x80 >> i), "");
    EXPECT_EQ(dps.callOpen("board/O07"), 0x00020001);
    EXPECT_EQ(server.vrq.size(), 2u);
}

TEST(DinoPlex, PrintOfTheImages)
{
    InprocDinoServer a, b;
    {
        DinoPlex dp;
        std::ostringstream os;
        dp.print(os);
        EXPECT_EQ(os.str(), "\n");
        dp.startSync();
        EXPECT_EQ(dp.doneSync(), 0);
    }
    DinoPlex dp;
    dp.init("a", a.pucClient());
    dp.init("b", b.pucClient());
    std::ostringstream os;
    dp.print(os);
    EXPECT_EQ(os.str(), "o=00000000 i=00000000, o=00000000 i=00000000\n");
    dp._vcbi[1]._sIn = 8;
    dp._vcbi[1]._mpucIn[5] = 0xAB;
    os.str("");
    dp.print(os);
    EXPECT_EQ(os.str(), "o=00000000 i=00000000, o=00000000 i=00000000.00ab0000\n");
}

TEST(DinoPlex, PlainMultiplexerReportsEachFinishedExchange)
{
    InprocDinoServer a;
    DinoPlex dp;
    dp.init("board", a.pucClient());
    testing::internal::CaptureStderr();
    int i = dp.startOpen("board/O07");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TaskUser::done\n");
    EXPECT_EQ(dp.doneOpen(i), 0x00020001);
    testing::internal::CaptureStderr();
    dp.startSync();
    EXPECT_EQ(dp.doneSync(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TaskUser::done\n");

    RunIo rio;
    InprocDinoServer b;
    DinoPlexSync dps(&rio);
    dps.init("board", b.pucClient());
    testing::internal::CaptureStderr();
    dps.callOpen("board/O07");
    dps.callSync();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(DinoPlexDeath, BrokenInvariants)
{
    EXPECT_DEATH(
        {
            InprocDinoServer a;
            a.fSilent = true;
            DinoPlex dp;
            dp.init("board", a.pucClient());
            dp.startSync();
            dp.startSync();
        },
        "Assertion failed: 0, file dino, line 262");
    EXPECT_DEATH(
        {
            InprocDinoServer a;
            DinoPlex dp;
            dp.init("board", a.pucClient());
            dp.startSync();
            dp.doneOpen(0);
        },
        "Assertion failed: ptf, file dino, line 241");
    EXPECT_DEATH(
        {
            InprocDinoServer a;
            DinoPlex dp;
            dp.init("board", a.pucClient());
            dp.startOpen("board/O07");
            dp.doneSync();
        },
        "Assertion failed: ptf, file dino, line 277");
}

TEST(RunIo, ChannelsAndAnEmptyPump)
{
    std::vector<std::string> vsgLog;
    LoopIo a("a", &vsgLog);
    RunIo rio;
    EXPECT_EQ(rio.run(), 0);
    EXPECT_EQ(rio.add(&a), 0);
    EXPECT_EQ(rio.add(&a), 0);
    EXPECT_EQ(rio.add(nullptr), -1);
    EXPECT_EQ(rio.pucIo(0), &a);
    EXPECT_EQ(rio.pucIo(1), nullptr);
    EXPECT_EQ(rio.run(), 0) << "nothing pending";
    EXPECT_TRUE(vsgLog.empty());

    RunIo rioEmpty;
    DinoPlexSync dps(&rioEmpty);
    EXPECT_EQ(dps.callSync(), 0);
}

struct PumpTest : ::testing::Test {
    std::vector<std::string> vsgLog;
    LoopIo a{"a", &vsgLog};
    LoopIo b{"b", &vsgLog};
    RunIo rio;
    DinoPlexSync dps{&rio};

    void SetUp() override
    {
        rio.add(&a);
        rio.add(&b);
        dps.init("a", &a);
        dps.init("b", &b);
        b.sgInputs = std::string("\x11\x22\x33\x44", 4);
    }
};

TEST_F(PumpTest, EverySendGoesOutBeforeAnyReceive)
{
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(vsgLog, (std::vector<std::string>{"send a", "send b", "recv a", "recv b"}));
    EXPECT_EQ(image(dps.pbi(0)->_mpucIn), std::string("\x35\x00\x00\x9f", 4));
    EXPECT_EQ(image(dps.pbi(1)->_mpucIn), std::string("\x11\x22\x33\x44", 4));
    vsgLog.clear();
    EXPECT_EQ(dps.callOpen("b/O07"), 0x01020001);
    EXPECT_EQ(vsgLog, (std::vector<std::string>{"send b", "recv b"}));
}

TEST_F(PumpTest, FailedTransferFailsTheCallAndTheNextStartsAfresh)
{
    struct Row {
        const char* szWhat;
        std::function<void(LoopIo&)> fnBreak;
        const char* szStatus;
    };
    const Row mp[] = {
        {"put", [](LoopIo& io) { io._cFailSend = 1; }, "stat=bad (DeviceIoControl(put) failed) 1167"},
        {"get", [](LoopIo& io) { io.fSilent = true; }, "stat=bad (DeviceIoControl(get) failed) 1167"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        std::vector<std::string> vsgLogRow;
        LoopIo c("c", &vsgLogRow), d("d", &vsgLogRow);
        RunIo rioRow;
        rioRow.add(&c);
        rioRow.add(&d);
        DinoPlexSync dpsRow(&rioRow);
        dpsRow.init("c", &c);
        dpsRow.init("d", &d);
        r.fnBreak(c);
        EXPECT_EQ(dpsRow.callSync(), -1);
        EXPECT_EQ(rioRow.pcuFailed(), &c);
        EXPECT_EQ(text(dpsRow), r.szStatus);
        // The exchanges that could not finish are gone: the next start does
        // not stop on them, and the broken channel fails it again.
        EXPECT_EQ(dpsRow.callSync(), -1);
        EXPECT_EQ(dpsRow.callOpen("d/O07"), bhNil);
        EXPECT_FALSE(dpsRow.pta(0)->isRunning());
        EXPECT_FALSE(dpsRow.pta(1)->isRunning());
    }
}

// A channel that fails ends the run at once: nothing more is sent to or
// received from the others, and a later run fails before any transfer.
TEST_F(PumpTest, FailedChannelEndsTheRunAtOnce)
{
    a.fSilent = true;
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(get) failed) 1167");
    EXPECT_EQ(vsgLog, (std::vector<std::string>{"send a", "send b", "recv a"}));
    EXPECT_EQ(b._dqAnswer.size(), 1u) << "b's answer is not waited for";
    EXPECT_EQ(image(dps.pbi(1)->_mpucIn), std::string(4, '\0'));
    vsgLog.clear();
    EXPECT_EQ(dps.callSync(), -1) << "the failed channel fails every call";
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(get) failed) 1167");
    EXPECT_TRUE(vsgLog.empty());
}

// A channel that failed on another pump with its request still waiting to
// be sent joins a pump behind a good one: the run fails before any transfer,
// on the good channel too, and says why.
TEST(RunIo, AFailedChannelWithARequestWaitingFailsARunBeforeAnyTransfer)
{
    std::vector<std::string> vsgLog;
    LoopIo good("good", &vsgLog), failed("failed", &vsgLog);
    RunIo rioBefore;
    rioBefore.add(&failed);
    DinoPlexSync dpsBefore(&rioBefore);
    dpsBefore.init("failed", &failed);
    failed._cFailSend = 1;
    ASSERT_EQ(dpsBefore.callSync(), -1);
    ASSERT_TRUE(failed.isYkuUser()) << "the request that did not go out waits";

    RunIo rio;
    rio.add(&good);
    rio.add(&failed);
    DinoPlexSync dps(&rio);
    dps.init("good", &good);
    vsgLog.clear();
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(rio.pcuFailed(), &failed);
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(put) failed) 1167");
    EXPECT_TRUE(vsgLog.empty()) << ::testing::PrintToString(vsgLog);
}

}  // namespace
