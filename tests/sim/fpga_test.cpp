// The measuring FPGA of the HIX-5316 as the burst counter drives it: the arm
// sequence and pulse programs, FIFO lines in their 8-byte form, fill counts,
// the virtual clock, epochs, capacity, and counts that come out exactly as
// the described input signals predict.
#include <gtest/gtest.h>

#include <random>

#include "sim_test_util.h"

namespace {

using namespace KVdepSim100;
using simtest::Bytes;
using simtest::UsbXfer;

// The event counting of the burst counter (an interval runs from one capture
// to the next; wrap lines add what the counter lost), as its host side does it.
struct HostCounter {
    bool fCont = false;
    int eState = 0;  // 0 waiting for the first capture, 1 for the second, 2 done, 3 failed
    int iCur = -1, iPrev = -1, cWrap = 0;

    void capt(int n)
    {
        if (eState == 0) {
            iPrev = n;
            cWrap = 0;  // wraps before the interval do not belong to it
            eState = 1;
        } else if (eState == 1) {
            iCur = n;
            eState = 2;
        } else {
            eState = 3;
        }
    }
    void wrap(int n)
    {
        cWrap += n - iPrev;
        iPrev = 0;
    }
    bool isDone() const { return eState == 2; }
    int c()
    {
        if (eState != 2)
            return -1;
        int r = iCur - iPrev + cWrap;
        iPrev = iCur;
        iCur = -1;
        cWrap = 0;
        eState = fCont ? 1 : 0;
        return r;
    }
};

enum PassResult { PASS_MORE = 1, PASS_DONE = 0, PASS_OVERFLOW = -1, PASS_TIMEOUT = -2 };

class Fpga : public simtest::BoardTest {
protected:
    void SetUp() override { start(makeHix5316(), "qir_firmware"); }

    // The capture program as the burst counter writes it.
    static std::vector<uint16_t> captureProgram(bool fSingle, uint32_t d1, uint32_t d2)
    {
        int s = fSingle ? 1 : 0;
        std::vector<uint16_t> mpw;
        for (PulseEntry e : {PulseEntry{8 + s, 0, 0}, PulseEntry{s, 0, d1}, PulseEntry{2 + s, 0, 0},
                             PulseEntry{1, 0, d2}, PulseEntry{3, 0, 0}}) {
            mpw.push_back(static_cast<uint16_t>(e._fOpc << 12 | e._iChip));
            mpw.push_back(static_cast<uint16_t>(e._uDelay >> 16));
            mpw.push_back(static_cast<uint16_t>(e._uDelay));
        }
        return mpw;
    }

    // The 30 writes of an arm without the simulator, then the trigger.
    void armAndTrigger(bool fSingle, uint32_t d1, uint32_t d2)
    {
        write(31, 0x0001);
        write(31, 0x05FF);
        for (uint16_t w : captureProgram(fSingle, d1, d2))
            write(2, w);
        for (auto pw : std::vector<std::pair<uint8_t, uint16_t>>{
                 {23, 0xC010}, {31, 0x05F0}, {9, 0x7FFF}, {30, 0x8003}, {11, 0x0F00}, {10, 0x000F}, {8, 0x1001},
                 {11, 0x8F00}, {10, 0x800F}, {8, 0x9001}, {30, 0x0003}, {31, 0x0403}, {12, 0x0000}})
            write(pw.first, pw.second);
        write(31, 0x0201);
        _mpcnt[0] = HostCounter{!fSingle};
        _mpcnt[1] = HostCounter{!fSingle};
        _tmEpoch = 0;
    }

    FifoLine readLine(int iChan)
    {
        FifoLine line{};
        for (int j = 0; j < 4; ++j) {
            uint32_t w = read(static_cast<uint8_t>(6 + iChan));
            line[2 * j] = static_cast<uint8_t>(w);
            line[2 * j + 1] = static_cast<uint8_t>(w >> 8);
        }
        return line;
    }

    // One polling pass as the burst counter makes it.
    PassResult pass(bool fBoth)
    {
        int mpc[2] = {static_cast<int>(read(14)), fBoth ? static_cast<int>(read(15)) : 0};
        for (int ch = 0; ch < 2; ++ch) {
            while (mpc[ch]-- != 0 && !_mpcnt[ch].isDone()) {
                FifoLine line = readLine(ch);
                int fHit = line[4] & FIFO_ECAP;
                int cEc = line[0] | line[1] << 8;
                if (line[4] & FIFO_OFLOW)
                    return PASS_OVERFLOW;
                if (ch == 0 && (line[4] & FIFO_EPOCH)) {
                    if (_tmEpoch != 0)
                        return PASS_TIMEOUT;
                    _tmEpoch += int64_t(1) << 24;
                }
                if (fHit == FIFO_WRAP || fHit == FIFO_FIRST) {
                    _tmEpoch = 0;
                    _mpcnt[ch].wrap(cEc);
                } else if (fHit == FIFO_ECAP) {
                    _tmEpoch = 0;
                    _mpcnt[ch].capt(cEc);
                }
            }
        }
        return !_mpcnt[0].isDone() || (fBoth && !_mpcnt[1].isDone()) ? PASS_MORE : PASS_DONE;
    }

    PassResult loopToEnd(bool fBoth)
    {
        for (int i = 0; i < 100000; ++i) {
            PassResult r = pass(fBoth);
            if (r != PASS_MORE)
                return r;
        }
        return PASS_MORE;
    }

    HostCounter _mpcnt[2];
    int64_t _tmEpoch = 0;
};

TEST_F(Fpga, TakesTheArmSequenceAndItsPulseProgram)
{
    armAndTrigger(true, 0, 15000);
    auto pqir = board().qir();
    const MeasuringFpga& fpga = pqir->fpga();
    std::vector<PulseEntry> mpent = fpga.pulseProgram(0);
    ASSERT_EQ(mpent.size(), 5u);
    EXPECT_EQ(mpent[0]._fOpc, 9);
    EXPECT_EQ(mpent[3]._fOpc, 1);
    EXPECT_EQ(mpent[3]._uDelay, 15000u);
    EXPECT_EQ(fpga.pulseWords(0),
              (std::vector<uint16_t>{0x9000, 0, 0, 0x1000, 0, 0, 0x3000, 0, 0, 0x1000, 0, 0x3A98, 0x3000, 0, 0}));
    EXPECT_TRUE(fpga.pulseWords(1).empty());
    EXPECT_EQ(pqir->writes().size(), 31u);
    EXPECT_EQ(pqir->reg(8), 0x9001u);
    EXPECT_EQ(pqir->writesTo(31).size(), 5u);
    EXPECT_EQ(fpga.cResets(), 1);
    EXPECT_EQ(fpga.cTriggers(), 1);
    EXPECT_TRUE(fpga.isRunning());
}

TEST_F(Fpga, WritesTheCaptureLinesInTheirByteForm)
{
    board().setSignal(0, InputSignal::hertz(500000));
    armAndTrigger(true, 0, 15000);
    EXPECT_EQ(read(14), 2u);  // both captures are due after the first step of the clock
    auto pqir = board().qir();
    std::vector<FifoLine> mpline = pqir->fpga().lines(0);
    ASSERT_EQ(mpline.size(), 2u);
    EXPECT_EQ(mpline[0], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00}));
    EXPECT_EQ(mpline[1], (FifoLine{0xFA, 0x00, 0x00, 0x00, 0x18, 0x98, 0x3A, 0x00}));
    readLine(0);
    std::vector<uint32_t> mpw;
    for (int j = 0; j < 4; ++j)
        mpw.push_back(read(6));
    EXPECT_EQ(mpw, (std::vector<uint32_t>{0x00FA, 0x0000, 0x9818, 0x003A}));
    EXPECT_EQ(read(14), 0u);
    EXPECT_EQ(read(6), 0xFFFFu);  // an empty FIFO
    EXPECT_EQ(pqir->fpga().cUnderflows(0), 1u);
    EXPECT_EQ(read(15), 2u);  // channel 1 got its own captures (count 0: no signal)
    EXPECT_EQ(pqir->fpga().lines(1)[1], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x18, 0x98, 0x3A, 0x00}));
}

TEST_F(Fpga, FillCountsFollowTheClockStep)
{
    FpgaOptions opt;
    opt._cStep = 5000;
    board().setFpgaOptions(opt);
    board().setSignal(0, InputSignal::hertz(500000));
    armAndTrigger(true, 0, 15000);
    EXPECT_EQ(pass(false), PASS_MORE);  // the capture at 0
    EXPECT_EQ(board().qir()->fpga().now(), 5000u);
    EXPECT_EQ(pass(false), PASS_MORE);
    EXPECT_EQ(pass(false), PASS_DONE);  // the capture at 15000
    EXPECT_EQ(_mpcnt[0].c(), 250);
    EXPECT_EQ(read(15), 2u);  // channel 1's captures; reading its count does not move the clock
    EXPECT_EQ(board().qir()->fpga().now(), 15000u);
    board().advanceClock(1000);
    EXPECT_EQ(board().qir()->fpga().now(), 16000u);
}

TEST_F(Fpga, ResetEmptiesTheFifosAndStopsTheClock)
{
    board().setSignal(0, InputSignal::hertz(1000000));
    armAndTrigger(false, 0, 3000);
    EXPECT_GT(read(14), 0u);
    write(31, 0x0001);
    auto pqir = board().qir();
    EXPECT_FALSE(pqir->fpga().isRunning());
    EXPECT_EQ(pqir->fpga().cLines(0), 0u);
    EXPECT_EQ(pqir->fpga().cLines(1), 0u);
    EXPECT_TRUE(pqir->fpga().pulseWords(0).empty());
    EXPECT_EQ(read(14), 0u);
    EXPECT_EQ(pqir->fpga().now(), 0u);
    write(31, 0x05FF);  // other control values change nothing
    EXPECT_FALSE(pqir->fpga().isRunning());
}

TEST_F(Fpga, CountsComeOutAsTheSignalsPredict)
{
    // The expected counts are the edges of the signal in [c1, c2), worked out by hand.
    struct Case {
        const char* szWhat;
        InputSignal sig0, sig1;
        uint32_t d1, d2;
        int c0, c1;
    } mpcase[] = {
        {"defaults, 500 kHz and 200 kHz", InputSignal::hertz(500000), InputSignal::hertz(200000), 0, 15000, 250, 100},
        {"1 ms at 1 MHz", InputSignal::hertz(1000000), InputSignal(), 0, 30000, 1000, 0},
        {"2 ms delay, 1.5 ms at 2 MHz", InputSignal::hertz(2000000), InputSignal(), 60000, 45000, 3000, 0},
        {"a wrap on the edge at the second capture", InputSignal::periodic(15, 1), InputSignal(), 0, 983010, 65534,
         0},
        {"1 s at 500 kHz: seven wraps and an epoch", InputSignal::hertz(500000), InputSignal::hertz(70001), 0,
         30000000, 500000, 70001},
        {"a period of 4285 5/7 ticks", InputSignal::hertz(7000), InputSignal::hertz(7000, 999), 1000, 3000000, 700,
         700},
        {"a train of 65535 edges ending before the interval", InputSignal::periodic(10, 1).limit(65535),
         InputSignal::periodic(10, 1).limit(65536), 700000, 3000, 0, 0},
    };
    for (const Case& c : mpcase) {
        SCOPED_TRACE(c.szWhat);
        board().setSignal(0, c.sig0);
        board().setSignal(1, c.sig1);
        armAndTrigger(true, c.d1, c.d2);
        ASSERT_EQ(loopToEnd(true), PASS_DONE);
        EXPECT_EQ(_mpcnt[0].c(), c.c0);
        EXPECT_EQ(_mpcnt[1].c(), c.c1);
    }
}

TEST_F(Fpga, CountsAnIrregularEdgeListAcrossWraps)
{
    std::mt19937 rng(5316);
    std::vector<uint64_t> mpt;
    uint64_t t = 0;
    for (int i = 0; i < 200000; ++i)
        mpt.push_back(t += 1 + rng() % 40);
    const uint32_t d1 = 12345, d2 = 3500000;
    int cExpected = 0;
    for (uint64_t te : mpt)
        cExpected += te >= d1 && te < d1 + d2;
    board().setSignal(0, InputSignal::edges(mpt));
    armAndTrigger(true, d1, d2);
    ASSERT_EQ(loopToEnd(false), PASS_DONE);
    EXPECT_GT(cExpected, 2 * 65535);
    EXPECT_EQ(_mpcnt[0].c(), cExpected);
}

TEST_F(Fpga, ContinuousCountingChainsTheIntervals)
{
    board().setSignal(0, InputSignal::hertz(1000000));
    armAndTrigger(false, 100, 3000);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(loopToEnd(false), PASS_DONE);
        EXPECT_EQ(_mpcnt[0].c(), 100) << "interval " << i;
    }
}

TEST_F(Fpga, MarksEpochsAndWrapsTheClockField)
{
    // Captures 5 ticks after the first epoch and 15000 later; no signal.
    armAndTrigger(true, (1u << 24) + 5, 15000);
    board().advanceClock((1u << 24) + 20000);
    std::vector<FifoLine> mpline = board().qir()->fpga().lines(0);
    ASSERT_EQ(mpline.size(), 3u);
    EXPECT_EQ(mpline[0], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}));
    EXPECT_EQ(mpline[1], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x18, 0x05, 0x00, 0x00}));
    EXPECT_EQ(mpline[2], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x18, 0x9D, 0x3A, 0x00}));
    // Without input and with the first capture past the second epoch, the
    // host sees two epoch marks without a hit.
    armAndTrigger(true, 33555000, 15000);
    EXPECT_EQ(loopToEnd(false), PASS_TIMEOUT);
}

TEST_F(Fpga, StoresCaptureThenWrapThenEpochAtOneTick)
{
    // The 65535th edge falls on tick 2^24, where the capture and the epoch are too.
    std::vector<uint64_t> mpt;
    for (uint64_t i = 0; i < 65535; ++i)
        mpt.push_back((1u << 24) - 65534 + i);
    board().setSignal(0, InputSignal::edges(mpt));
    armAndTrigger(true, 1u << 24, 100);
    board().advanceClock((1u << 24) + 100);
    std::vector<FifoLine> mpline = board().qir()->fpga().lines(0);
    ASSERT_EQ(mpline.size(), 4u);
    EXPECT_EQ(mpline[0], (FifoLine{0xFE, 0xFF, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00}));  // 65534 edges before
    EXPECT_EQ(mpline[1], (FifoLine{0xFF, 0xFF, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));  // the wrap
    EXPECT_EQ(mpline[2], (FifoLine{0xFE, 0xFF, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}));  // the epoch
    EXPECT_EQ(mpline[3], (FifoLine{0x00, 0x00, 0x00, 0x00, 0x18, 0x64, 0x00, 0x00}));
    ASSERT_EQ(loopToEnd(false), PASS_DONE);
    EXPECT_EQ(_mpcnt[0].c(), 1);  // the one edge at the first capture
}

TEST_F(Fpga, DropsLinesBeyondTheCapacityAndFlagsTheOverflow)
{
    FpgaOptions opt;
    opt._cCapacity = 4;
    board().setFpgaOptions(opt);
    armAndTrigger(false, 0, 100);
    EXPECT_EQ(read(14), 4u);
    auto pqir = board().qir();
    std::vector<FifoLine> mpline = pqir->fpga().lines(0);
    EXPECT_EQ(mpline[2][4], FIFO_ECAP);
    EXPECT_EQ(mpline[3][4], FIFO_ECAP | FIFO_OFLOW);
    EXPECT_EQ(pqir->fpga().cDropped(0), 301u - 4u);  // captures at 0, 100, ..., 30000
    EXPECT_EQ(pqir->fpga().cDropped(1), 301u - 4u);
    EXPECT_EQ(loopToEnd(false), PASS_DONE);  // the first two lines come before the flagged one
    EXPECT_EQ(_mpcnt[0].c(), 0);
    EXPECT_EQ(pass(false), PASS_DONE);
    EXPECT_EQ(_mpcnt[0].c(), 0);
    EXPECT_EQ(pass(false), PASS_OVERFLOW);
}

TEST_F(Fpga, ForcedAnswersReplaceTheFifo)
{
    board().setSignal(0, InputSignal::hertz(500000));
    armAndTrigger(true, 0, 15000);
    board().forceFillCount(0, 0xFFFFFFFF);
    board().forceFifoWord(0, 0xFFFF);
    EXPECT_EQ(read(14), 0xFFFFFFFFu);
    EXPECT_EQ(readLine(0), (FifoLine{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    board().clearForced();
    EXPECT_EQ(read(14), 2u);  // the lines are all still there
}

TEST_F(Fpga, ReleasesScriptedLinesAtTheirTimeAfterEachTrigger)
{
    FpgaOptions opt;
    opt._fCaptures = false;
    board().setFpgaOptions(opt);
    board().scriptLine(0, 0, ecapLine(60000, 0));
    board().scriptLine(0, 45000, ecapLine(200, 45000));
    board().scriptLine(0, 40000, wrapLine(40000));
    for (int iRun = 0; iRun < 2; ++iRun) {
        armAndTrigger(true, 0, 15000);
        EXPECT_EQ(pass(false), PASS_MORE);
        EXPECT_EQ(board().qir()->fpga().cLines(0), 0u);
        EXPECT_EQ(pass(false), PASS_DONE);  // the wrap, then the capture
        EXPECT_EQ(_mpcnt[0].c(), 5735);
    }
    // A line added during a run whose time has passed comes at once.
    board().scriptLine(1, 10, fifoLine(7, 0x0F0, 0, FIFO_FIRST, 10));
    EXPECT_EQ(read(15), 1u);
    EXPECT_EQ(readLine(1), (FifoLine{0x07, 0x00, 0xF0, 0x00, 0x10, 0x0A, 0x00, 0x00}));
}

}  // namespace
