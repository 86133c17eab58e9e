// The board multiplexer of the digital-I/O board on the in-process board:
// the port map, opens answered from it, syncs as one sio write and one sio
// read of port 0, and the broken invariants of its requests.
#include "dim.h"
#include "dino.h"
#include "sio_board.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace KVdepDev100;
using KVdepDino100::BitHandle;
using KVdepDino100::DinoPlexSync;
using KVdepYek100::RunIo;
using sio_test::PortWrite;
using sio_test::SioInprocBoard;

namespace {

std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

TEST(PortMap, TwelveInputsAndTwelveOutputs)
{
    MpSgBi mp = mpSgBi2817();
    EXPECT_EQ(mp.size(), 24u);
    struct Row {
        const char* szName;
        int iByte, fMask;
        int iSioBit;  // the bit of the 16-bit port value it reaches
    };
    const Row rows[] = {
        {"I01", 0, 0x80, 7},  {"I02", 0, 0x40, 6},  {"I03", 0, 0x20, 5},  {"I04", 0, 0x10, 4},
        {"I05", 0, 0x08, 3},  {"I06", 0, 0x04, 2},  {"I07", 0, 0x02, 1},  {"I08", 0, 0x01, 0},
        {"I09", 3, 0x80, 15}, {"I10", 3, 0x40, 14}, {"I11", 3, 0x20, 13}, {"I12", 3, 0x10, 12},
        {"O01", 1, 0x01, 0},  {"O02", 1, 0x02, 1},  {"O03", 1, 0x04, 2},  {"O04", 1, 0x08, 3},
        {"O05", 1, 0x10, 4},  {"O06", 1, 0x20, 5},  {"O07", 2, 0x01, 8},  {"O08", 2, 0x02, 9},
        {"O09", 2, 0x04, 10}, {"O10", 2, 0x08, 11}, {"O11", 2, 0x10, 12}, {"O12", 2, 0x20, 13},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(mp.count(r.szName), 1u) << r.szName;
        EXPECT_EQ(mp[r.szName], std::make_pair(r.iByte, r.fMask)) << r.szName;
        // Inputs come from the read as byte 0 = low byte, byte 3 = high byte;
        // outputs go to the write as byte 1 = low byte, byte 2 = high byte.
        bool fIn = r.szName[0] == 'I';
        int iByteOfBit = fIn ? (r.iSioBit < 8 ? 0 : 3) : (r.iSioBit < 8 ? 1 : 2);
        EXPECT_EQ(r.iByte, iByteOfBit) << r.szName;
        EXPECT_EQ(r.fMask, 1 << (r.iSioBit % 8)) << r.szName;
    }
}

// The multiplexer on the in-process board, its client multiplexer on the
// pair; the board answers inside the sends, so the pump has nothing to do.
struct PylMuxTest : ::testing::Test {
    SioInprocBoard board;
    vaq_test::InprocRig rig{board, &KVdepSio100::theSio_sio_Proto};
    PylMux mux{rig.puc()};
    KVdepYek100::LocalChannelPair lc;
    RunIo rio;
    DinoPlexSync dps{&rio};

    void SetUp() override
    {
        ASSERT_TRUE(lc.init(&mux, "dinoUser", &theDino_dino_Proto).isGood());
        ASSERT_EQ(dps.init("board", lc.pucClient()), 0);
    }
    void TearDown() override { EXPECT_TRUE(mux.isGood()); }

    int sync(const std::string& sgOut)
    {
        std::copy(sgOut.begin(), sgOut.end(), dps._vcbi[0]._mpucOut);
        return dps.callSync();
    }
    std::string queues() const
    {
        std::ostringstream os;
        rig.puc()->printQueues(os);
        return os.str();
    }
    std::string inputs() const { return std::string(reinterpret_cast<const char*>(dps.pbi(0)->_mpucIn), 4); }
};

TEST_F(PylMuxTest, OpensAreAnsweredFromThePortMap)
{
    EXPECT_EQ(mux.cPortTypes(), 1);
    EXPECT_EQ(mux.pucDev(), rig.puc());
    EXPECT_EQ(dps.callOpen("board/O07"), 0x00020001);
    EXPECT_EQ(dps.callOpen("board/I09"), 0x00030080);
    EXPECT_EQ(dps.callOpen("board/o07"), 0);
    EXPECT_EQ(text(dps), "stat=fail (invalid bit) 0");
    EXPECT_EQ(dps.callOpen("board/"), 0);
    EXPECT_TRUE(board.requests().empty()) << "an open needs no board request";
}

TEST_F(PylMuxTest, SyncWritesTheOutputsAndReadsTheInputsOfPort0)
{
    struct Row {
        std::string sgOut;
        uint32_t uWritten;
        uint16_t uInputs;
        std::string sgIn;
    };
    const Row mp[] = {
        {std::string("\x00\x21\x0a\x00", 4), 0x0A21, 0x9F35, std::string("\x35\x00\x00\x9f", 4)},
        {std::string("\x00\x80\x01\x00", 4), 0x0180, 0x0001, std::string("\x01\x00\x00\x00", 4)},
        // Bytes 0 and 3 of the output image carry no port.
        {std::string("\xff\x3f\x3f\xff", 4), 0x3F3F, 0xF0FF, std::string("\xff\x00\x00\xf0", 4)},
    };
    for (const Row& r : mp) {
        board.clearRequests();
        board.setInputs(r.uInputs);
        EXPECT_EQ(sync(r.sgOut), 0) << text(dps);
        EXPECT_EQ(board.requestTypes(), (std::vector<int>{KVdepSio100::eSioWrite, KVdepSio100::eSioRead}));
        EXPECT_EQ(board.writes().back(), (PortWrite{0, r.uWritten}));
        EXPECT_EQ(board.requests()[1].as<KVdepSio100::SioRead>().iPort(), 0u);
        EXPECT_EQ(inputs(), r.sgIn);
    }
    EXPECT_EQ(mux._mpPo[0].pta(), nullptr) << "the request's task is gone";
    EXPECT_EQ(queues(), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4");
}

TEST_F(PylMuxTest, NamedBitsReachTheBoard)
{
    BitHandle bhO07 = dps.callOpen("board/O07");
    BitHandle bhO01 = dps.callOpen("board/O01");
    BitHandle bhI12 = dps.callOpen("board/I12");
    BitHandle bhI01 = dps.callOpen("board/I01");
    dps.setBit(bhO07);
    dps.setBit(bhO01);
    board.setInputs(0x1080);
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(board.port(0), 0x0101u);
    EXPECT_TRUE(dps.getBit(bhI12));
    EXPECT_TRUE(dps.getBit(bhI01));
    dps.clrBit(bhO01);
    board.setInputs(0);
    EXPECT_EQ(dps.callSync(), 0);
    EXPECT_EQ(board.port(0), 0x0100u);
    EXPECT_FALSE(dps.getBit(bhI12));
}

TEST_F(PylMuxTest, ShortOutputImageCountsAsZeros)
{
    dps._vcbi[0]._sOut = 2;
    EXPECT_EQ(sync(std::string("\x00\x21\x0a\x00", 4)), 0);
    EXPECT_EQ(board.writes().back(), (PortWrite{0, 0x0021}));
    dps._vcbi[0]._sOut = 0;
    EXPECT_EQ(sync(std::string("\x00\x21\x0a\x00", 4)), 0);
    EXPECT_EQ(board.writes().back(), (PortWrite{0, 0}));
}

TEST_F(PylMuxTest, BoardAnswerOfAnotherTypeIsAnsweredAsAFailedSync)
{
    EXPECT_EQ(sync(std::string("\x00\x01\x00\x00", 4)), 0);
    board.setInputs(0x1234);
    board.setHook([](const vaq_test::BoardRequest& rq) -> std::optional<std::vector<vaq_test::BoardReply>> {
        if (rq.eType != KVdepSio100::eSioRead)
            return std::nullopt;
        return std::vector<vaq_test::BoardReply>{vaq_test::BoardReply::of(KVdepVaq100::VaqResp())};
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(sync(std::string("\x00\x02\x00\x00", 4)), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(text(dps), "stat=fail (DinoResp) 1");
    EXPECT_EQ(inputs(), std::string(4, '\0')) << "the inputs stay as they were";
    board.setHook(nullptr);
    EXPECT_EQ(sync(std::string("\x00\x02\x00\x00", 4)), 0);
    EXPECT_EQ(inputs(), std::string("\x34\x00\x00\x12", 4));
}

// The server end of a pair whose up buffers the test keeps, as a client
// that holds every answer they carried would: the server's answer waits.
class ServerEndKeepingUpBuffers : public KVdepYek100::YekChanLocal {
public:
    ServerEndKeepingUpBuffers() : YekChanLocal(&theDino_dino_Proto) {}
    ~ServerEndKeepingUpBuffers() override { pcnYkuPool()->import(&_cnKept); }

    void keepUpBuffers() { _cnKept.import(pcnYkuPool()); }
    void giveBackUpBuffers()
    {
        while (Link* pl = _cnKept.head()) {
            pcnYkuUser()->import(pl);
            releaseUpBuf(0, pmbOf(pl));
        }
    }

    ChainRaw _cnKept;
};

// An exchange whose answer waits for an up buffer is given up, and a sync
// comes; the buffers come back while that sync is at the board. The exchange
// given up gets no answer, and the sync gets its own.
TEST(PylMuxSupersede, ExchangeGivenUpWhileItsAnswerWaitsForABuffer)
{
    for (bool fOpen : {false, true}) {
        SCOPED_TRACE(fOpen ? "an open given up" : "a sync given up");
        SioInprocBoard board;
        vaq_test::InprocRig rig{board, &KVdepSio100::theSio_sio_Proto};
        PylMux mux{rig.puc()};
        ServerEndKeepingUpBuffers a;
        KVdepYek100::YekChanLocal b(&theDino_dino_Proto);
        a.initPeer(&b);
        b.initPeer(&a);
        ASSERT_EQ(mux.openChannel("dinoUser", &a), 0);
        RunIo rio;
        DinoPlexSync dps{&rio};
        ASSERT_EQ(dps.init("board", &b), 0);

        a.keepUpBuffers();
        board.setInputs(0x1111);
        if (fOpen) {
            EXPECT_EQ(dps.callOpen("board/O07"), 0);
        } else {
            EXPECT_EQ(dps.callSync(), -1);
        }
        EXPECT_EQ(text(dps), "stat=fail (exchange not finished) 0");
        EXPECT_EQ(board.writes().size(), fOpen ? 0u : 1u);

        board.setHook([&](const vaq_test::BoardRequest& rq) -> std::optional<std::vector<vaq_test::BoardReply>> {
            if (rq.eType == KVdepSio100::eSioWrite)
                a.giveBackUpBuffers();
            return std::nullopt;
        });
        board.setInputs(0x2222);
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(dps.pbi(0)->_mpucIn), 4),
                  std::string("\x22\x00\x00\x22", 4));
        std::ostringstream os;
        b.printQueues(os);
        EXPECT_EQ(os.str(), "dq=0 dd=0 du=0 dp=4  uq=0 ud=0 uu=0 up=4") << "no answer left waiting";
        board.setHook(nullptr);
        mux.closeChannel(0);
    }
}

TEST(PylMuxDeath, BrokenInvariants)
{
    SioInprocBoard board;
    EXPECT_DEATH(
        {
            vaq_test::InprocRig rig(board, &KVdepVaq100::theVaq_vaq_Proto);
            PylMux mux(rig.puc());
        },
        "Assertion failed: \\*\\(pucSio->pup\\(\\)\\) == KVdepSio100::theSio_sio_Proto, file dim, line 132");
    EXPECT_DEATH(
        {
            vaq_test::InprocRig rig(board, &KVdepSio100::theSio_sio_Proto);
            PylMux mux(rig.puc());
            KVdepYek100::LocalChannelPair lc;
            lc.init(&mux, "dinoUser", &theDino_dino_Proto);
            KVdepYek100::YekChannel* pcn = lc.pucClient();
            struct Quiet : KVdepYek100::YekPlex {
                Quiet() : YekPlex("quiet") {}
                void sigDown(int, KVdepYek100::YekChannel*, int) override {}
            } quiet;
            pcn->initPlex(&quiet, 0, 0);
            KVdepYek100::Pmu pmu = pcn->allocUp(512);
            new (pmu->puc()) KVdepDino100::DinoResp();
            pcn->putUp(0, pmu, true);
        },
        "Assertion failed: 0, file dim, line 119");
}

}  // namespace
