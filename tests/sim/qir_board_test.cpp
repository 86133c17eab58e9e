// The HIX-5316's operating program: its answers byte for byte, the register
// file, and the FPGA configuration stream.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::be32;
using simtest::Bytes;
using simtest::cat;
using simtest::qirCmd;
using simtest::qirRead;
using simtest::qirResp;
using simtest::qirWrite;
using simtest::UsbXfer;
using simtest::vaqInit;

class QirBoard : public simtest::BoardTest {
protected:
    void SetUp() override { start(makeHix5316(), "qir_firmware"); }
};

TEST_F(QirBoard, AnswersTheIdentityExchange)
{
    Bytes mpbData;
    EXPECT_EQ(ask(vaqInit(), {}, &mpbData), cat({{0x04}, be32(0), be32(0), be32(0)}));
    EXPECT_EQ(mpbData, (Bytes{0x00, 0xB4, 0x04, 0x16, 0x53, 0x00, 0x00}));
    EXPECT_EQ(ask(vaqInit(), {}, &mpbData, 1).size(), 13u);  // channel 1 answers as well
    EXPECT_EQ(mpbData.size(), 7u);
}

TEST_F(QirBoard, ASecondBoardOfTheKindHasOtherIdentityBytes)
{
    start(makeHix5316(1), "qir_firmware");
    Bytes mpbData;
    ask(vaqInit(), {}, &mpbData);
    EXPECT_EQ(mpbData, (Bytes{0x00, 0xB4, 0x04, 0x16, 0x53, 0x01, 0x00}));
    board().setIdentity({0x00, 0xB4, 0x04, 0x02, 0x73, 0x00, 0x00});  // another model
    ask(vaqInit(), {}, &mpbData);
    EXPECT_EQ(mpbData[4] * 256 + mpbData[3], 0x7302);
}

TEST_F(QirBoard, WritesAndReadsRegistersAndLogsThem)
{
    EXPECT_EQ(ask(qirWrite(5, 0x1234)), qirResp(0, 0, 0));
    EXPECT_EQ(ask(qirRead(5)), qirResp(0, 0x1234, 0));
    EXPECT_EQ(ask(qirRead(5), {}, nullptr, 1), qirResp(0, 0x1234, 0));  // one register file for both channels
    EXPECT_EQ(ask(qirRead(9)), qirResp(0, 0, 0));
    Bytes mpbData{0x55};
    ask(qirRead(5), {}, &mpbData);
    EXPECT_TRUE(mpbData.empty());  // the register answers carry no data
    auto pqir = board().qir();
    ASSERT_TRUE(pqir);
    ASSERT_EQ(pqir->writes().size(), 1u);
    EXPECT_EQ(pqir->writes()[0], (PortAccess{0, 5, 0x1234}));
    EXPECT_EQ(pqir->reads().size(), 4u);
    EXPECT_EQ(pqir->reads()[1]._iChan, 1);
}

TEST_F(QirBoard, AnswersThePortSelfTest)
{
    EXPECT_EQ(read(20), 0xA55Au);
    write(20, 0xD000);
    EXPECT_EQ(read(20), 0xA55Au);  // reads do not give back what was written
    write(0, 0xABEE);
    EXPECT_EQ(read(4), 0xABEEu);
}

TEST_F(QirBoard, ReceivesTheConfigurationStreamAndAnswersOnceAtTheEnd)
{
    std::vector<uint8_t> mpbImage(131018);
    for (size_t i = 0; i < mpbImage.size(); ++i)
        mpbImage[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    size_t cbSent = 0;
    int cMsg = 0;
    while (cbSent < mpbImage.size()) {
        size_t cb = std::min<size_t>(512, mpbImage.size() - cbSent);
        bool fLast = cbSent + cb == mpbImage.size();
        Bytes mpb(mpbImage.begin() + cbSent, mpbImage.begin() + cbSent + cb);
        ASSERT_EQ(host().put(0, qirCmd(fLast), mpb), UsbXfer::Ok);
        cbSent += cb;
        ++cMsg;
        if (!fLast) {
            ASSERT_EQ(board().cPacketsWaiting(0), 0u) << "answer before the last message " << cMsg;
        }
    }
    EXPECT_EQ(cMsg, 256);
    auto pqir = board().qir();
    EXPECT_TRUE(pqir->isConfigured());
    EXPECT_EQ(pqir->configImage(), mpbImage);
    EXPECT_EQ(pqir->cConfigMessages(), 256);
    Bytes mpbData, mpbCtrl;
    ASSERT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Ok);
    EXPECT_TRUE(mpbData.empty());
    EXPECT_EQ(mpbCtrl, cat({{0x0D}, be32(0), be32(0), be32(0), be32(256)}));
    EXPECT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Pending);  // nothing more
}

TEST_F(QirBoard, KeepsAPartialImageApartFromTheLastWholeOne)
{
    ASSERT_EQ(ask(qirCmd(true), Bytes(458, 0x11)), cat({{0x0D}, be32(0), be32(0), be32(0), be32(1)}));
    ASSERT_EQ(host().put(0, qirCmd(false), Bytes(512, 0x22)), UsbXfer::Ok);
    auto pqir = board().qir();
    EXPECT_EQ(pqir->configImage(), Bytes(458, 0x11));
    EXPECT_EQ(pqir->configPartial(), Bytes(512, 0x22));
    EXPECT_EQ(pqir->cConfigPartialMessages(), 1);
    EXPECT_EQ(pqir->cConfigLoads(), 1);
}

TEST_F(QirBoard, IgnoresWhatItCannotReadAndRecordsIt)
{
    struct Case {
        Bytes mpbCtrl;
        const char* szWhat;
    } mpcase[] = {
        {{0x0F}, "unknown message type"},
        {{0x08, 0x05}, "control too short"},
        {{0x07, 0x05, 0x00}, "control too long"},
        {{}, "empty control"},
        {qirResp(0, 0, 0), "answer type sent to the board"},
    };
    for (const Case& c : mpcase) {
        board().clearLogs();
        ASSERT_EQ(host().put(0, c.mpbCtrl), UsbXfer::Ok);
        EXPECT_EQ(board().cPacketsWaiting(0), 0u) << c.szWhat;
        ASSERT_EQ(board().protocolErrors().size(), 1u) << c.szWhat;
        EXPECT_EQ(board().protocolErrors()[0]._sgWhat, c.szWhat);
        EXPECT_EQ(board().protocolErrors()[0]._mpbCtrl, c.mpbCtrl);
        EXPECT_EQ(board().requests().size(), 1u);
    }
    EXPECT_EQ(ask(qirRead(20)), qirResp(0, 0xA55A, 0));  // the channel goes on
}

TEST_F(QirBoard, EachStartBeginsAfreshAndTheLastProgramStaysInspectable)
{
    write(9, 0x7FFF);
    auto pqirOld = board().qir();
    ASSERT_EQ(host().download("gid_firmware"), UsbXfer::Ok);
    EXPECT_EQ(board().qir(), pqirOld);
    EXPECT_EQ(pqirOld->reg(9), 0x7FFFu);
    ASSERT_EQ(host().download("qir_firmware"), UsbXfer::Ok);
    EXPECT_NE(board().qir(), pqirOld);
    EXPECT_EQ(read(9), 0u);
    EXPECT_EQ(pqirOld->writes().size(), 1u);
}

}  // namespace
