// The sio program of the PYL-2817 and VUZ-2958: identity, port 0 carrying
// the outputs and the inputs, sync.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::be32;
using simtest::Bytes;
using simtest::cat;
using simtest::vaqInit;

Bytes sioResp(uint32_t eErr, uint32_t fStat) { return cat({{0x0A}, be32(eErr), be32(fStat)}); }

class SioBoard : public simtest::BoardTest {
protected:
    void SetUp() override { start(makePyl2817(), "sio_firmware"); }
};

TEST_F(SioBoard, AnswersTheIdentityOfEachBoard)
{
    Bytes mpbData;
    EXPECT_EQ(ask(vaqInit(), {}, &mpbData), cat({{0x04}, be32(0), be32(0), be32(0)}));
    EXPECT_EQ(mpbData, (Bytes{0x00, 0xB4, 0x04, 0x17, 0x28, 0x00, 0x00}));
    start(makeVuz2958(), "wex_firmware");
    ask(vaqInit(), {}, &mpbData);
    EXPECT_EQ(mpbData[4] * 256 + mpbData[3], 0x2958);
    // The sio program on a counter board answers with the counter board's identity.
    start(makeHix5316(), "sio_firmware");
    ask(vaqInit(), {}, &mpbData);
    EXPECT_EQ(mpbData[4] * 256 + mpbData[3], 0x5316);
    EXPECT_EQ(ask({0x07, 0x00}), sioResp(0, 0));  // type 7 is a sync here
}

TEST_F(SioBoard, PortZeroCarriesOutputsAndInputs)
{
    EXPECT_EQ(ask({0x09, 0x00, 0x0A, 0x21}), sioResp(0, 0));
    EXPECT_EQ(board().sio()->outputs(), 0x0A21);
    board().setSioInputs(0x9F35);
    EXPECT_EQ(ask({0x08, 0x00}), sioResp(0, 0x9F35));
    EXPECT_EQ(ask({0x08, 0x00}, {}, nullptr, 1), sioResp(0, 0x9F35));
    EXPECT_EQ(ask({0x09, 0x07, 0x01, 0xFF}), sioResp(0, 0));  // another port keeps its value
    EXPECT_EQ(ask({0x08, 0x07}), sioResp(0, 0x01FF));
    auto psio = board().sio();
    ASSERT_EQ(psio->writes().size(), 2u);
    EXPECT_EQ(psio->writes()[1], (PortAccess{0, 7, 0x01FF}));
    EXPECT_EQ(psio->reads().size(), 3u);
}

TEST_F(SioBoard, LoopbackWiresEachOutputToTheInputOfItsNumber)
{
    board().setSioLoopback(true);
    struct Case {
        uint16_t uOut;  // O01..O12 in bits 0-5 and 8-13
        uint16_t uIn;   // I08..I01 in bits 0..7, I12..I09 in bits 12..15
    } mpcase[] = {
        {0x0001, 0x0080},  // O01 -> I01
        {0x0020, 0x0004},  // O06 -> I06
        {0x0100, 0x0002},  // O07 -> I07
        {0x0200, 0x0001},  // O08 -> I08
        {0x0400, 0x8000},  // O09 -> I09
        {0x2000, 0x1000},  // O12 -> I12
        {0x3F3F, 0xF0FF},  // all twelve
        {0xC0C0, 0x0000},  // bits that carry no output
    };
    for (const Case& c : mpcase) {
        ask({0x09, 0x00, static_cast<uint8_t>(c.uOut >> 8), static_cast<uint8_t>(c.uOut)});
        EXPECT_EQ(ask({0x08, 0x00}), sioResp(0, c.uIn)) << std::hex << c.uOut;
    }
}

TEST_F(SioBoard, AnswersSyncAndLogsItsFlags)
{
    EXPECT_EQ(ask({0x07, 0x03}), sioResp(0, 0));
    ASSERT_EQ(board().sio()->syncs().size(), 1u);
    EXPECT_EQ(board().sio()->syncs()[0], 3u);
}

TEST_F(SioBoard, ReadsTheSioWireFormsOnly)
{
    ASSERT_EQ(host().put(0, {0x08, 0x00, 0x12, 0x34}), simtest::UsbXfer::Ok);  // a qir write form
    ASSERT_EQ(host().put(0, {0x0C}), simtest::UsbXfer::Ok);                     // not a sio type
    ASSERT_EQ(host().put(0, sioResp(0, 0)), simtest::UsbXfer::Ok);              // an answer
    EXPECT_EQ(board().cPacketsWaiting(0), 0u);
    std::vector<ProtocolError> mperr = board().protocolErrors();
    ASSERT_EQ(mperr.size(), 3u);
    EXPECT_EQ(mperr[0]._sgWhat, "control too long");
    EXPECT_EQ(mperr[1]._sgWhat, "unknown message type");
    EXPECT_EQ(mperr[2]._sgWhat, "answer type sent to the board");
}

}  // namespace
