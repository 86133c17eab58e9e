// The fault knobs of the simulated boards and the test hooks.
#include <gtest/gtest.h>

#include <atomic>

#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::be32;
using simtest::Bytes;
using simtest::cat;
using simtest::qirCmd;
using simtest::qirRead;
using simtest::qirResp;
using simtest::UsbXfer;
using simtest::vaqInit;

class Faults : public simtest::BoardTest {
protected:
    void SetUp() override
    {
        start(makeHix5316(), "qir_firmware");
        board().attach([this] { ++_cNotify; });
    }
    std::atomic<int> _cNotify{0};
};

TEST_F(Faults, ChangeTheAnswerOfTheMatchingRequest)
{
    const Bytes vaqOk = cat({{0x04}, be32(0), be32(0), be32(0)});
    struct Case {
        const char* szWhat;
        Fault fault;
        Bytes mpbReq;
        Bytes mpbCtrl;
    } mpcase[] = {
        {"error code in VaqResp", Fault::errorCode(6, 5), vaqInit(), cat({{0x04}, be32(5), be32(0), be32(0)})},
        {"QirResp to VaqInit", Fault::wrongType(6, 12), vaqInit(), qirResp(0, 0, 0)},
        {"VaqResp to QirRead", Fault::wrongType(7, 4), qirRead(20), cat({{0x04}, be32(0), be32(0xA55A), be32(0)})},
        {"QirWrResp to QirRead", Fault::wrongType(7, 13), qirRead(20),
         cat({{0x0D}, be32(0), be32(0xA55A), be32(0), be32(0)})},
        {"a type qir does not know", Fault::wrongType(7, 0x33), qirRead(20), cat({{0x33}, be32(0), be32(0xA55A), be32(0)})},
        {"truncated control", Fault::truncateControl(6, 5), vaqInit(), {0x04, 0, 0, 0, 0}},
        {"empty control", Fault::truncateControl(6, 0), vaqInit(), {}},
        {"oversized control within the read", Fault::oversizeControl(6, 100), vaqInit(),
         cat({vaqOk, Bytes(87, 0)})},
        {"another request type is left alone", Fault::errorCode(7, 9), vaqInit(), vaqOk},
        {"another channel is left alone", Fault::errorCode(6, 9).onChannel(1), vaqInit(), vaqOk},
    };
    for (const Case& c : mpcase) {
        board().clearFaults();
        board().injectFault(c.fault);
        Bytes mpbData, mpbCtrl;
        ASSERT_EQ(host().put(0, c.mpbReq), UsbXfer::Ok);
        ASSERT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Ok) << c.szWhat;
        EXPECT_EQ(mpbCtrl, c.mpbCtrl) << c.szWhat;
    }
}

TEST_F(Faults, SkipAndTimesChooseTheRequests)
{
    board().injectFault(Fault::errorCode(7, 9).skip(1).times(2));
    std::vector<uint32_t> mpeErr;
    for (int i = 0; i < 5; ++i) {
        Bytes mpb = ask(qirRead(20));
        ASSERT_EQ(mpb.size(), 13u);
        mpeErr.push_back(mpb[4]);
    }
    EXPECT_EQ(mpeErr, (std::vector<uint32_t>{0, 9, 9, 0, 0}));
    board().injectFault(Fault::errorCode(-1, 3).times(-1));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ask(qirRead(20))[4], 3);
}

TEST_F(Faults, ErrorInTheConfigurationAnswer)
{
    board().injectFault(Fault::errorCode(11, 7));
    ASSERT_EQ(host().put(0, qirCmd(false), Bytes(512, 1)), UsbXfer::Ok);  // no answer, so not counted
    EXPECT_EQ(ask(qirCmd(true), Bytes(10, 2)), cat({{0x0D}, be32(7), be32(0), be32(0), be32(2)}));
}

TEST_F(Faults, NoAnswerLeavesTheInPending)
{
    board().injectFault(Fault::noAnswer(7));
    ASSERT_EQ(host().put(0, qirRead(20)), UsbXfer::Ok);
    Bytes mpbData, mpbCtrl;
    EXPECT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Pending);
    EXPECT_EQ(board().qir()->reads().size(), 1u);  // the request itself was served
    EXPECT_EQ(ask(qirRead(20)), qirResp(0, 0xA55A, 0));
}

TEST_F(Faults, OversizedAnswersBabble)
{
    board().injectFault(Fault::oversizeData(6, 600));
    ASSERT_EQ(host().put(0, vaqInit()), UsbXfer::Ok);
    Bytes mpb;
    EXPECT_EQ(host().in(epUp0, &mpb, 512), UsbXfer::Babble);
    EXPECT_EQ(board().cPacketsWaiting(0), 0u);  // the answer's control went with it
    EXPECT_EQ(ask(simtest::qirRead(20)), qirResp(0, 0xA55A, 0));
    board().injectFault(Fault::oversizeControl(6, 200));
    ASSERT_EQ(host().put(0, vaqInit()), UsbXfer::Ok);
    EXPECT_EQ(host().in(epUp0, &mpb, 512), UsbXfer::Ok);
    EXPECT_EQ(mpb.size(), 7u);
    EXPECT_EQ(host().in(epUp0, &mpb, 128), UsbXfer::Babble);
    EXPECT_EQ(ask(simtest::qirRead(20)), qirResp(0, 0xA55A, 0));
}

TEST_F(Faults, UnplugDuringARequest)
{
    // After the 100th configuration message, before anything is answered.
    board().injectFault(Fault::unplug(11, 99));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(host().put(0, qirCmd(false), Bytes(512, 3)), UsbXfer::Ok) << i;
    EXPECT_TRUE(board().isUnplugged());
    EXPECT_EQ(board().qir()->cConfigPartialMessages(), 99);
    Bytes mpbData, mpbCtrl;
    EXPECT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::NoResponse);
    EXPECT_EQ(host().put(0, qirRead(20)), UsbXfer::NoResponse);
    uint8_t b = 1;
    EXPECT_EQ(board().vendorOut(0xA0, 0xE600, 0, &b, 1), UsbXfer::NoResponse);
    // Right after the control: the data transfer of that request fails already.
    start(makeHix5316(), "qir_firmware");
    board().injectFault(Fault::unplug(8, 0, false));
    EXPECT_EQ(board().bulkOut(epDown0, simtest::qirWrite(9, 1).data(), 4), UsbXfer::Ok);
    EXPECT_EQ(board().bulkOut(epDown0, nullptr, 0), UsbXfer::NoResponse);
    EXPECT_TRUE(board().qir()->writes().empty());
}

TEST_F(Faults, UnplugFromTheTestWakesTheHost)
{
    ASSERT_EQ(host().put(0, simtest::qirWrite(1, 1)), UsbXfer::Ok);
    int cBefore = _cNotify;
    board().unplug();
    EXPECT_EQ(_cNotify, cBefore + 1);
    Bytes mpbData, mpbCtrl;
    EXPECT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::NoResponse);
}

TEST_F(Faults, HeldAnswersWaitUntilReleased)
{
    board().holdAnswers(true);
    ASSERT_EQ(host().put(0, qirRead(20)), UsbXfer::Ok);
    Bytes mpbData, mpbCtrl;
    EXPECT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Pending);
    int cBefore = _cNotify;
    board().holdAnswers(false);
    EXPECT_EQ(_cNotify, cBefore + 1);
    ASSERT_EQ(host().get(0, &mpbData, &mpbCtrl), UsbXfer::Ok);
    EXPECT_EQ(mpbCtrl, qirResp(0, 0xA55A, 0));
}

TEST_F(Faults, PushedAnswersAndRequestHooksGoOutAsTheyStand)
{
    board().pushAnswer(1, {0x0F, 1, 2}, Bytes(3, 9));
    Bytes mpbData, mpbCtrl;
    ASSERT_EQ(host().get(1, &mpbData, &mpbCtrl), UsbXfer::Ok);
    EXPECT_EQ(mpbData, Bytes(3, 9));
    EXPECT_EQ(mpbCtrl, (Bytes{0x0F, 1, 2}));
    board().setRequestHook([](int, const Bytes& mpbCtrlIn, const Bytes&) -> std::optional<RawAnswer> {
        if (mpbCtrlIn == qirRead(99))
            return RawAnswer{Bytes(600, 1), {0x0C}};
        if (mpbCtrlIn == qirRead(98))
            return RawAnswer{{}, {}, true};
        return std::nullopt;
    });
    ASSERT_EQ(host().put(0, qirRead(99)), UsbXfer::Ok);
    EXPECT_EQ(host().in(epUp0, &mpbData, 600), UsbXfer::Ok);
    EXPECT_EQ(mpbData.size(), 600u);
    ASSERT_EQ(host().put(0, qirRead(98)), UsbXfer::Ok);
    EXPECT_EQ(board().cPacketsWaiting(0), 1u);  // only the control of the answer before
    board().setRequestHook(nullptr);
    EXPECT_EQ(host().in(epUp0, &mpbCtrl, 128), UsbXfer::Ok);
    EXPECT_EQ(ask(qirRead(20)), qirResp(0, 0xA55A, 0));
}

}  // namespace
