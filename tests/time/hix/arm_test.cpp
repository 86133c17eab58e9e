// The register writes of arming and triggering, as the board receives them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "hix_burst.h"
#include "hix_rig.h"

namespace {

using hixtest::PortValue;
using Seq = std::vector<PortValue>;

Seq cat(std::initializer_list<Seq> l)
{
    Seq s;
    for (const Seq& x : l)
        s.insert(s.end(), x.begin(), x.end());
    return s;
}

// Words of a pulse program written to one port.
Seq words(int iPort, std::initializer_list<uint32_t> l)
{
    Seq s;
    for (uint32_t u : l)
        s.emplace_back(iPort, u);
    return s;
}

// The capture program of the defaults (T1 0, T2 5e-4 = 15000 ticks, single).
const Seq seqCaptDefault =
    words(2, {0x9000, 0, 0, 0x1000, 0, 0, 0x3000, 0, 0, 0x1000, 0, 0x3A98, 0x3000, 0, 0});

// The simulator's program, single counting.
const Seq seqDetectorSingle = words(3, {0x9000, 0, 0,      0x3000, 0, 0,      0x3000, 0, 0x000A, 0x30F0, 0, 0,
                                        0x3000, 0, 0x0009, 0x30F0, 0, 0x0006, 0x3000, 0, 0x0009, 0x30F0, 0, 0x0006,
                                        0x3000, 0, 0x0009, 0x3000, 0, 0x000A, 0x1000, 0, 0});

const Seq seqReset = {{31, 0x0001}, {31, 0x05FF}};

Seq tail(uint32_t uTrm)
{
    return {{23, 0xC010}, {31, 0x05F0}, {9, 0x7FFF}, {30, 0x8003}, {11, 0x0F00}, {10, 0x000F},
            {8, 0x1001},  {11, 0x8F00}, {10, 0x800F}, {8, 0x9001}, {30, 0x0003}, {31, 0x0403}, {12, uTrm}};
}

class HixArm : public hixtest::HixRig {};

TEST_F(HixArm, InitWritesNothingAndLoadsTheImage)
{
    init();
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(reads().empty());
    auto pq = board().qir();
    ASSERT_TRUE(pq);
    EXPECT_EQ(pq->cConfigLoads(), 1);
    EXPECT_EQ(pq->cConfigMessages(), 256);
    EXPECT_EQ(pq->configImage().size(), 131018u);
    std::ifstream is(KV_RBF_FILE, std::ios::binary);
    std::vector<uint8_t> mpb((std::istreambuf_iterator<char>(is)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(pq->configImage() == mpb) << "the image linked into the library";
}

TEST_F(HixArm, AnOpenInstanceIsClosedBeforeItOpensAgain)
{
    init();
    init(1);
    EXPECT_EQ(board().qir()->cConfigLoads(), 1) << "the board's program restarted with the new open";
    ASSERT_EQ(hix_burst_arm(0), 0);
    EXPECT_EQ(writes().size(), 68u);
}

TEST_F(HixArm, DefaultsWithoutSimulation)
{
    init();
    ASSERT_EQ(hix_burst_arm(0), 0);
    Seq seq = cat({seqReset, seqCaptDefault, tail(0)});
    EXPECT_EQ(seq.size(), 30u);
    EXPECT_EQ(writes(), seq);
    mark();
    ASSERT_EQ(hix_burst_trigger(0), 0);
    EXPECT_EQ(writes(), (Seq{{31, 0x0201}}));
    EXPECT_EQ(hix_failed(0), 0);
}

TEST_F(HixArm, ChannelCountChangesNoWriteWithoutSimulation)
{
    init();
    ASSERT_EQ(hix_burst_set_param_int(0, "CCH", 2), 0);
    ASSERT_EQ(hix_burst_arm(0), 0);
    EXPECT_EQ(writes(), cat({seqReset, seqCaptDefault, tail(0)}));
}

TEST_F(HixArm, WithSimulation)
{
    struct Case {
        int cch;
        int trm;
        Seq sim;  // the simulator's set-up after its program
        Seq end;  // after the measured board's rows
    } cases[] = {
        {1, 's', {{22, 0xF004}, {22, 0xC006}, {20, 0x9000}}, {}},
        {2, 's', {{22, 0xF004}, {22, 0xE004}, {22, 0xC006}, {20, 0xD000}}, {}},
        {1, 'b', {{22, 0xF004}, {22, 0xC006}, {20, 0x9000}}, {{31, 0x0202}}},
    };
    for (const Case& c : cases) {
        init(1);
        ASSERT_EQ(hix_burst_set_param_int(0, "CCH", c.cch), 0);
        ASSERT_EQ(hix_burst_set_param_int(0, "TRM", c.trm), 0);
        mark();
        ASSERT_EQ(hix_burst_arm(0), 0);
        Seq seq = cat({seqReset, seqReset, seqDetectorSingle, c.sim, seqCaptDefault, tail(c.trm == 'b'), c.end});
        EXPECT_EQ(seq.size(), 68u + (c.cch == 2) + (c.trm == 'b'));
        EXPECT_EQ(writes(), seq) << "CCH " << c.cch << " TRM " << char(c.trm);
        mark();
        ASSERT_EQ(hix_burst_trigger(0), 0);
        EXPECT_EQ(writes(), (Seq{{31, 0x0203}}));
        ASSERT_EQ(hix_burst_fini(0), 0);
    }
}

TEST_F(HixArm, ContinuousWithSimulation)
{
    init(1);
    ASSERT_EQ(hix_burst_set_param_int(0, "CTM", 0), 0);
    ASSERT_EQ(hix_burst_arm(0), 0);
    Seq detector = seqDetectorSingle;
    detector[0].second = 0x8000;
    Seq capt = words(2, {0x8000, 0, 0, 0x0000, 0, 0, 0x2000, 0, 0, 0x1000, 0, 0x3A98, 0x3000, 0, 0});
    EXPECT_EQ(writes(), cat({seqReset, seqReset, detector, {{22, 0xF004}, {22, 0xC006}, {20, 0x9000}}, capt, tail(0)}));
}

TEST_F(HixArm, TriggerModeBWithoutSimulation)
{
    init();
    ASSERT_EQ(hix_burst_set_param_int(0, "TRM", 'b'), 0);
    ASSERT_EQ(hix_burst_arm(0), 0);
    EXPECT_EQ(writes(), cat({seqReset, seqCaptDefault, tail(1)}));
}

TEST_F(HixArm, CaptureProgramDelaysAndModes)
{
    struct Case {
        double t1, t2;
        int ctm;
        Seq capt;
    } cases[] = {
        // Continuous: opcodes 8 and 0 for the first two entries.
        {0.0, 5e-4, 0, words(2, {0x8000, 0, 0, 0x0000, 0, 0, 0x2000, 0, 0, 0x1000, 0, 0x3A98, 0x3000, 0, 0})},
        // 1 us is 29 ticks (truncated); 0.1 s is 3,000,000 = 0x2DC6C0.
        {1e-6, 0.1, 1, words(2, {0x9000, 0, 0, 0x1000, 0, 29, 0x3000, 0, 0, 0x1000, 0x002D, 0xC6C0, 0x3000, 0, 0})},
        // A negative delay: -15000 ticks.
        {-5e-4, 1e-3, -5, words(2, {0x9000, 0, 0, 0x1000, 0xFFFF, 0xC568, 0x3000, 0, 0, 0x1000, 0, 30000, 0x3000, 0, 0})},
        // The largest delay: 71.58 s is 2,147,400,000 ticks = 0x7FFEB940.
        {71.58, 0.0, 1, words(2, {0x9000, 0, 0, 0x1000, 0x7FFE, 0xB940, 0x3000, 0, 0, 0x1000, 0, 0, 0x3000, 0, 0})},
    };
    init();
    for (const Case& c : cases) {
        ASSERT_EQ(hix_burst_set_param_double(0, "T1", c.t1), 0);
        ASSERT_EQ(hix_burst_set_param_double(0, "T2", c.t2), 0);
        ASSERT_EQ(hix_burst_set_param_int(0, "CTM", c.ctm), 0);
        mark();
        ASSERT_EQ(hix_burst_arm(0), 0);
        EXPECT_EQ(writes(), cat({seqReset, c.capt, tail(0)})) << c.t1 << " " << c.t2 << " " << c.ctm;
    }
}

TEST_F(HixArm, RefusedWithoutWritesWhileFailedOrClosed)
{
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_STREQ(hix_errortext(0), "not initialized");
    EXPECT_EQ(hix_diagcode(0), 0);
    EXPECT_EQ(hix_burst_arm(1), -1);
    EXPECT_EQ(hix_diagcode(1), 1);
    init();
    ASSERT_EQ(hix_burst_set_param_int(0, "CCH", 9), -1);
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_STREQ(hix_errortext(0), "bad parameter") << "the status stays";
    EXPECT_TRUE(writes().empty());
    ASSERT_EQ(hix_burst_set_param_double(0, "CCH", 1), 0);
    EXPECT_EQ(hix_burst_arm(0), 0);
}

TEST_F(HixArm, TriggerAndLoopOnAClosedInstanceFail)
{
    for (int i : {0, 1}) {
        EXPECT_EQ(hix_burst_trigger(i), -1);
        EXPECT_EQ(hix_failed(i), 1);
        EXPECT_STREQ(hix_errortext(i), "not initialized");
        EXPECT_EQ(hix_diagcode(i), i);
        hixtest::setDefaults(i);
        EXPECT_EQ(hix_burst_loop(i), -1);
        EXPECT_STREQ(hix_errortext(i), "not initialized");
        EXPECT_EQ(hix_diagcode(i), i);
    }
    // With the simulation flag given to an init that failed before.
    EXPECT_EQ(hix_burst_fini(0), 0);
    EXPECT_EQ(hix_burst_trigger(0), -1);
}

}  // namespace
