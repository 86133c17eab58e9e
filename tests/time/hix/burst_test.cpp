// Whole bursts: the board measures described input signals (or plays
// scripted FIFO lines) and the library's counts are compared with numbers
// worked out here from the signal alone.
#include <gtest/gtest.h>

#include <vector>

#include "hix_burst.h"
#include "hix_rig.h"
#include "sim/fifo_line.h"

namespace {

using hixtest::edgesBefore;
using hixtest::PortValue;
using KVdepSim100::InputSignal;

const double rdTick = 1.0 / 30000000;

class HixBurst : public hixtest::HixRig {
protected:
    void params(double t1, double t2, int ctm, int cch)
    {
        ASSERT_EQ(hix_burst_set_param_double(0, "T1", t1), 0);
        ASSERT_EQ(hix_burst_set_param_double(0, "T2", t2), 0);
        ASSERT_EQ(hix_burst_set_param_int(0, "CTM", ctm), 0);
        ASSERT_EQ(hix_burst_set_param_int(0, "CCH", cch), 0);
    }
    std::pair<int, int> counts()
    {
        int n = -7, m = -7;
        EXPECT_EQ(hix_burst_get_counts(0, &n, &m), 0);
        return {n, m};
    }
    // Scripted lines only: the board's own captures, wraps and epochs off.
    void scriptOnly()
    {
        KVdepSim100::FpgaOptions opt = board().fpgaOptions();
        opt._fCaptures = opt._fWraps = opt._fEpochs = false;
        board().setFpgaOptions(opt);
    }
    void script(int iChan, uint64_t t, const KVdepSim100::FifoLine& line) { board().scriptLine(iChan, t, line); }
};

TEST_F(HixBurst, DefaultsCountTheEdgesOfOneInterval)
{
    board().setSignal(0, InputSignal::hertz(500000));
    init();
    mark();
    ASSERT_EQ(burst(), 0);
    EXPECT_EQ(counts(), std::make_pair(250, -1));
    // One pass: the fill count, then the two capture lines word by word: the
    // count 0 at tick 0 and the count 250 (0xFA) at tick 15000 (0x3A98).
    std::vector<PortValue> rd = {{14, 2}, {6, 0x0000}, {6, 0x0000}, {6, 0x0018}, {6, 0x0000},
                                 {6, 0x00FA}, {6, 0x0000}, {6, 0x9818}, {6, 0x003A}};
    EXPECT_EQ(reads(), rd);
    EXPECT_EQ(hix_failed(0), 0);
}

TEST_F(HixBurst, SingleIntervalsOfSignals)
{
    struct Case {
        double t1, t2;
        uint64_t hz0, hz1;
        int cch;
        const char* what;
    } cases[] = {
        {0.0, 1e-3, 1000000, 0, 1, "1 MHz for 1 ms"},
        {0.0, 5e-4, 500000, 200000, 2, "two channels"},
        {2e-3, 1.5e-3, 2000000, 0, 1, "a start delay"},
        {1e-4, 7e-4, 333333, 123457, 2, "rates that do not divide the clock"},
        {0.0, 0.1, 2000000, 1500000, 2, "wraps of the event counter inside the interval"},
        {0.1, 5e-4, 1000000, 0, 1, "a wrap before the first capture"},
        {0.0, 5e-4, 0, 0, 2, "no input"},
    };
    for (const Case& c : cases) {
        board().setSignal(0, InputSignal::hertz(c.hz0));
        board().setSignal(1, InputSignal::hertz(c.hz1));
        setStep(300000);
        init();
        params(c.t1, c.t2, 1, c.cch);
        ASSERT_EQ(burst(), 0) << c.what << ": " << hix_errortext(0);
        uint64_t d1 = uint64_t(c.t1 / rdTick + 1e-6), d2 = uint64_t(c.t2 / rdTick + 1e-6);
        int n0 = int(edgesBefore(c.hz0, d1 + d2) - edgesBefore(c.hz0, d1));
        int n1 = c.cch == 2 ? int(edgesBefore(c.hz1, d1 + d2) - edgesBefore(c.hz1, d1)) : -1;
        EXPECT_EQ(counts(), std::make_pair(n0, n1)) << c.what;
        ASSERT_EQ(hix_burst_fini(0), 0);
    }
}

TEST_F(HixBurst, SeveralSingleBurstsEachRearmed)
{
    board().setSignal(0, InputSignal::hertz(500000));
    board().setSignal(1, InputSignal::hertz(200000));
    init();
    params(0.0, 5e-5, 1, 2);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(burst(), 0);
        EXPECT_EQ(counts(), std::make_pair(25, 10)) << k;
    }
    // The counts were read: without a new arm no new interval is complete.
    EXPECT_EQ(counts(), std::make_pair(-1, -1));
}

TEST_F(HixBurst, RearmDropsLinesLeftInTheFifos)
{
    // With one channel, channel 1's capture lines stay in its FIFO.
    board().setSignal(0, InputSignal::hertz(500000));
    board().setSignal(1, InputSignal::hertz(200000));
    init();
    ASSERT_EQ(burst(), 0);
    EXPECT_EQ(counts(), std::make_pair(250, -1));
    ASSERT_EQ(hix_burst_set_param_int(0, "CCH", 2), 0);
    ASSERT_EQ(burst(), 0);
    EXPECT_EQ(counts(), std::make_pair(250, 100));
}

TEST_F(HixBurst, ContinuousIntervalsChainAcrossTheClockEpochs)
{
    // Captures at 0.5 s + k * 0.2 s: the 24-bit coarse clock completes its
    // epoch (2^24 ticks, 0.559 s) between the first two and again later.
    board().setSignal(0, InputSignal::hertz(700000));
    board().setSignal(1, InputSignal::hertz(30000));
    setStep(1000000);
    init();
    params(0.5, 0.2, 0, 2);
    ASSERT_EQ(hix_burst_arm(0), 0);
    ASSERT_EQ(hix_burst_trigger(0), 0);
    for (int k = 0; k < 6; ++k) {
        ASSERT_EQ(loop(0, 1000), 0) << k << ": " << hix_errortext(0);
        uint64_t c1 = 15000000 + uint64_t(k) * 6000000, c2 = c1 + 6000000;
        EXPECT_EQ(counts(), std::make_pair(int(edgesBefore(700000, c2) - edgesBefore(700000, c1)),
                                           int(edgesBefore(30000, c2) - edgesBefore(30000, c1))))
            << k;
    }
}

TEST_F(HixBurst, CapturesKeepAQuietInputFromTimingOut)
{
    setStep(1000000);
    init();
    params(0.3, 0.4, 0, 1);
    ASSERT_EQ(hix_burst_arm(0), 0);
    ASSERT_EQ(hix_burst_trigger(0), 0);
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(loop(0, 1000), 0) << k << ": " << hix_errortext(0);
        EXPECT_EQ(counts().first, 0);
    }
}

TEST_F(HixBurst, TwoEpochsWithoutAHitTimeOut)
{
    // No input: no wrap lines. The first capture at 33,555,000 ticks comes
    // after the second epoch mark (2^25 = 33,554,432).
    setStep(1000000);
    init();
    params(1.1185, 5e-4, 1, 1);
    EXPECT_EQ(burst(), -1);
    EXPECT_EQ(hix_failed(0), 1);
    EXPECT_STREQ(hix_errortext(0), "timeout");
    EXPECT_EQ(hix_diagcode(0), 0);
    EXPECT_EQ(static_cast<unsigned>(hix_errorcode(0)), 0x74696D65u);
    // A capture at the tick of the second epoch mark comes before it.
    hixtest::setDefaults(0);
    params(33554432 * rdTick, 5e-4, 1, 1);
    EXPECT_EQ(burst(), 0) << hix_errortext(0);
    EXPECT_EQ(counts().first, 0);
}

TEST_F(HixBurst, EveryPassReadsWhatItsFillCountSays)
{
    // Step 5000: the capture at tick 0 in the first pass, none in the
    // second, the capture at 15000 in the third.
    board().setSignal(0, InputSignal::hertz(500000));
    setStep(5000);
    init();
    ASSERT_EQ(hix_burst_arm(0), 0);
    ASSERT_EQ(hix_burst_trigger(0), 0);
    mark();
    EXPECT_EQ(hix_burst_loop(0), 1);
    EXPECT_EQ(hix_burst_loop(0), 1);
    EXPECT_EQ(hix_burst_loop(0), 0);
    std::vector<PortValue> rd = reads();
    ASSERT_EQ(rd.size(), 11u);
    EXPECT_EQ(rd[0], PortValue(14, 1));
    EXPECT_EQ(rd[5], PortValue(14, 0));
    EXPECT_EQ(rd[6], PortValue(14, 1));
    for (int k : {1, 2, 3, 4, 7, 8, 9, 10})
        EXPECT_EQ(rd[k].first, 6) << k;
    EXPECT_EQ(counts().first, 250);
}

TEST_F(HixBurst, CountsBeforeCompletionAreNotAvailable)
{
    init();
    ASSERT_EQ(hix_burst_arm(0), 0);
    int n = 5;
    EXPECT_EQ(hix_burst_get_count(0, &n), 0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(counts(), std::make_pair(-1, -1));
}

TEST_F(HixBurst, ScriptedLines)
{
    using namespace KVdepSim100;
    struct Line {
        int iChan;
        uint64_t t;
        FifoLine line;
    };
    struct Case {
        const char* what;
        int cch;
        std::vector<Line> lines;
        int r;
        int n0, n1;
        const char* text;
        int number;
    } cases[] = {
        {"two captures", 1, {{0, 0, ecapLine(100, 0)}, {0, 0, ecapLine(350, 9)}}, 0, 250, -1, "", 0},
        {"a wrap between", 1, {{0, 0, ecapLine(60000, 0)}, {0, 0, wrapLine(5)}, {0, 0, ecapLine(200, 9)}}, 0, 5735,
         -1, "", 0},
        {"a first line counts as a wrap", 1,
         {{0, 0, ecapLine(60000, 0)}, {0, 0, fifoLine(65535, 0, 0, FIFO_FIRST, 5)}, {0, 0, ecapLine(200, 9)}}, 0,
         5735, -1, "", 0},
        {"a wrap before the interval", 1, {{0, 0, wrapLine(1)}, {0, 0, ecapLine(10, 2)}, {0, 0, ecapLine(20, 3)}},
         0, 10, -1, "", 0},
        {"scan lines count nothing", 2,
         {{0, 0, ecapLine(1, 0)}, {0, 0, fifoLine(500, 0x0F0, 0, 0, 4)}, {0, 0, ecapLine(3, 9)},
          {1, 0, ecapLine(7, 0)}, {1, 0, ecapLine(9, 9)}},
         0, 2, 2, "", 0},
        {"two epoch marks", 1, {{0, 0, epochLine(0)}, {0, 0, epochLine(0)}}, -1, 0, 0, "timeout", 0},
        {"a hit between epoch marks", 1,
         {{0, 0, epochLine(0)}, {0, 0, wrapLine(1)}, {0, 0, epochLine(0)}, {0, 0, ecapLine(4, 1)},
          {0, 0, ecapLine(6, 2)}},
         0, 2, -1, "", 0},
        {"an epoch mark with a capture after an epoch", 1,
         {{0, 0, epochLine(0)}, {0, 0, fifoLine(5, 0, 0, FIFO_EPOCH | FIFO_ECAP, 0)}}, -1, 0, 0, "timeout", 0},
        {"channel 1 epochs are no clock", 2,
         {{1, 0, epochLine(0)}, {1, 0, epochLine(0)}, {1, 0, ecapLine(1, 1)}, {1, 0, ecapLine(2, 2)},
          {0, 0, ecapLine(1, 1)}, {0, 0, ecapLine(5, 2)}},
         0, 4, 1, "", 0},
        {"overflow on channel 1", 2,
         {{0, 0, ecapLine(1, 1)}, {1, 0, fifoLine(1, 0, 0, FIFO_ECAP | FIFO_OFLOW, 1)}}, -1, 0, 0, "fifo overflow",
         1},
        {"overflow on channel 0", 1, {{0, 0, fifoLine(1, 0, 0, FIFO_OFLOW, 1)}}, -1, 0, 0, "fifo overflow", 0},
        {"one channel: channel 1 is not read", 1,
         {{1, 0, fifoLine(1, 0, 0, FIFO_OFLOW, 1)}, {0, 0, ecapLine(1, 1)}, {0, 0, ecapLine(2, 2)}}, 0, 1, -1, "",
         0},
    };
    scriptOnly();
    for (const Case& c : cases) {
        board().clearScript(0);
        board().clearScript(1);
        for (const Line& l : c.lines)
            script(l.iChan, l.t, l.line);
        init();
        ASSERT_EQ(hix_burst_set_param_int(0, "CCH", c.cch), 0);
        mark();
        EXPECT_EQ(burst(0, 10), c.r) << c.what;
        EXPECT_STREQ(hix_errortext(0), c.text) << c.what;
        EXPECT_EQ(hix_diagcode(0), c.number) << c.what;
        if (c.r == 0) {
            EXPECT_EQ(counts(), std::make_pair(c.n0, c.n1)) << c.what;
        } else {
            int n = 3;
            EXPECT_EQ(hix_burst_get_count(0, &n), -1) << c.what;
            EXPECT_EQ(n, 3) << c.what;
        }
        if (c.cch == 1) {
            for (const PortValue& pv : reads())
                EXPECT_TRUE(pv.first != 15 && pv.first != 7) << c.what << ": read of port " << pv.first;
        }
        hixtest::setDefaults(0);
        ASSERT_EQ(hix_burst_fini(0), 0);
    }
}

TEST_F(HixBurst, ContinuousScriptedCaptures)
{
    scriptOnly();
    script(0, 0, KVdepSim100::ecapLine(10, 0));
    script(0, 0, KVdepSim100::ecapLine(20, 1));
    script(0, 100000, KVdepSim100::ecapLine(35, 2));
    init();
    ASSERT_EQ(hix_burst_set_param_int(0, "CTM", 0), 0);
    ASSERT_EQ(burst(0, 1), 0);
    EXPECT_EQ(counts().first, 10);
    EXPECT_EQ(hix_burst_loop(0), 1);  // the capture at tick 100000 is not there yet
    EXPECT_EQ(counts().first, -1);
    EXPECT_EQ(loop(0, 10), 0);
    EXPECT_EQ(counts().first, 15);
}

TEST_F(HixBurst, AFailedPassBlocksUntilTheStatusIsCleared)
{
    scriptOnly();
    script(0, 0, KVdepSim100::epochLine(0));
    script(0, 0, KVdepSim100::epochLine(0));
    init();
    ASSERT_EQ(burst(0, 10), -1);
    int n = 3;
    EXPECT_EQ(hix_burst_loop(0), -1);
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_EQ(hix_burst_get_count(0, &n), -1);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(hix_burst_set_param_int(0, "CCH", 1), -1);
    EXPECT_STREQ(hix_errortext(0), "timeout");
    // The trigger is a way out; so is a valid double parameter.
    EXPECT_EQ(hix_burst_trigger(0), 0);
    EXPECT_EQ(hix_failed(0), 0);
    board().clearScript(0);
    EXPECT_EQ(hix_burst_arm(0), 0);
}

}  // namespace
