// Failures on the road to the board: a missing board, a board that goes
// away during a burst, refused opens and loads, and FIFO reads that make no
// sense. Each ends in -1 and a status, never in a hang or a crash.
#include <gtest/gtest.h>

#include "hix_burst.h"
#include "hix_rig.h"

namespace {

using KVdepSim100::Fault;
using KVdepSim100::InputSignal;

const int eQirRead = 7, eQirWrite = 8, eVaqInit = 6, eQirCmd = 11;

class HixNoBoard : public hixtest::HixRig {
protected:
    HixNoBoard() : HixRig(false) {}
};

TEST_F(HixNoBoard, InitFailsWithTheChannelsStatus)
{
    EXPECT_EQ(hix_burst_init(0, 0), -1);
    EXPECT_EQ(hix_failed(0), 1);
    EXPECT_STREQ(hix_errortext(0), "qir");
    EXPECT_EQ(hix_diagcode(0), 265);
    EXPECT_EQ(hix_errorcode(0), 0x716972);
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_STREQ(hix_errortext(0), "qir") << "a failed instance refuses at once";
    hixtest::setDefaults(0);
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_STREQ(hix_errortext(0), "not initialized");
    EXPECT_EQ(hix_burst_fini(0), 0);
    EXPECT_EQ(hix_failed(0), 0);
}

class HixFailure : public hixtest::HixRig {
protected:
    void SetUp() override
    {
        HixRig::SetUp();
        board().setSignal(0, InputSignal::hertz(500000));
    }
};

TEST_F(HixFailure, UnplugInTheMiddleOfABurst)
{
    _fExpectCleanTeardown = false;  // the board is gone
    setStep(1000);                  // many passes before the second capture
    init();
    ASSERT_EQ(hix_burst_arm(0), 0);
    ASSERT_EQ(hix_burst_trigger(0), 0);
    EXPECT_EQ(hix_burst_loop(0), 1);
    board().injectFault(Fault::unplug(eQirRead).skip(3));
    EXPECT_EQ(loop(0, 100), -1);
    EXPECT_EQ(hix_failed(0), 1);
    EXPECT_STREQ(hix_errortext(0), "DeviceIoControl(get) failed");
    EXPECT_NE(hix_diagcode(0), 0);
    EXPECT_EQ(hix_burst_loop(0), -1);
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_EQ(hix_burst_fini(0), 0);
}

TEST_F(HixFailure, UnplugDuringArmOrTrigger)
{
    _fExpectCleanTeardown = false;
    init();
    board().injectFault(Fault::unplug(eQirWrite).skip(10));
    EXPECT_EQ(hix_burst_arm(0), -1);
    EXPECT_EQ(hix_failed(0), 1);
    EXPECT_STREQ(hix_errortext(0), "DeviceIoControl(get) failed");
    // The eleventh write found the board gone.
    EXPECT_EQ(writes().size(), 10u);
    hixtest::setDefaults(0);
    EXPECT_EQ(hix_burst_trigger(0), -1);
    EXPECT_EQ(hix_failed(0), 1);
}

TEST_F(HixFailure, UnplugAtTheTrigger)
{
    _fExpectCleanTeardown = false;
    init();
    ASSERT_EQ(hix_burst_arm(0), 0);
    board().injectFault(Fault::unplug(eQirWrite));
    EXPECT_EQ(hix_burst_trigger(0), -1);
    EXPECT_STREQ(hix_errortext(0), "DeviceIoControl(get) failed");
}

TEST_F(HixFailure, TheBoardRefusesTheOpenExchange)
{
    board().injectFault(Fault::errorCode(eVaqInit, 5));
    EXPECT_EQ(hix_burst_init(0, 0), -1);
    EXPECT_STREQ(hix_errortext(0), "QirPlex open failed");
    EXPECT_EQ(hix_diagcode(0), 0);
    EXPECT_EQ(hix_burst_trigger(0), -1) << "the instance stays closed";
    EXPECT_STREQ(hix_errortext(0), "not initialized");
}

TEST_F(HixFailure, TheBoardRefusesTheConfiguration)
{
    board().injectFault(Fault::errorCode(eQirCmd, 3));
    EXPECT_EQ(hix_burst_init(0, 0), -1);
    EXPECT_STREQ(hix_errortext(0), "config process failed");
    EXPECT_EQ(hix_diagcode(0), 0);
}

TEST_F(HixFailure, AnUnknownModelIsLoadedAndStaysOpen)
{
    board().setIdentity(KVdepSim100::boardIdentity(0x7303));
    EXPECT_EQ(hix_burst_init(0, 0), -1);
    EXPECT_EQ(hix_failed(0), 1);
    EXPECT_STREQ(hix_errortext(0), "incompatible device model");
    ASSERT_TRUE(board().qir());
    EXPECT_EQ(board().qir()->cConfigLoads(), 1);
    // The board is open: once the status is cleared it measures.
    hixtest::setDefaults(0);
    ASSERT_EQ(burst(), 0) << hix_errortext(0);
    int n = 0;
    EXPECT_EQ(hix_burst_get_count(0, &n), 0);
    EXPECT_EQ(n, 250);
}

TEST_F(HixFailure, ASecondOpenOfTheBoardIsRefused)
{
    init();
    EXPECT_EQ(hix_burst_init(1, 0), -1);
    EXPECT_STREQ(hix_errortext(1), "qir");
    EXPECT_EQ(hix_diagcode(1), 265);
    EXPECT_EQ(hix_failed(0), 0);
    ASSERT_EQ(hix_burst_fini(0), 0);
    ASSERT_EQ(hix_burst_init(1, 0), 0) << hix_errortext(1);
    ASSERT_EQ(burst(1), 0);
    int n = 0, m = 0;
    EXPECT_EQ(hix_burst_get_counts(1, &n, &m), 0);
    EXPECT_EQ(n, 250);
    EXPECT_EQ(m, -1);
}

TEST_F(HixFailure, FillCountsThatAreNoNumberOfLines)
{
    // A count of -1 from the board: read until the counter is complete.
    init();
    board().forceFillCount(0, 0xFFFFFFFF);
    ASSERT_EQ(burst(0, 10), 0) << hix_errortext(0);
    int n = 0;
    EXPECT_EQ(hix_burst_get_count(0, &n), 0);
    EXPECT_EQ(n, 250);
    // Far more lines than a FIFO holds, and none there: the words of an
    // empty FIFO make an overflow line; the pass ends.
    board().forceFillCount(0, 0x7FFFFFFF);
    ASSERT_EQ(hix_burst_set_param_double(0, "T1", 1.0), 0);
    EXPECT_EQ(burst(0, 10), -1);
    EXPECT_STREQ(hix_errortext(0), "fifo overflow");
    EXPECT_EQ(hix_diagcode(0), 0);
}

TEST_F(HixFailure, WordsOfAllOnesAreAnOverflow)
{
    board().forceFifoWord(0, 0xFFFF);
    init();
    EXPECT_EQ(burst(0, 10), -1);
    EXPECT_STREQ(hix_errortext(0), "fifo overflow");
    EXPECT_EQ(hix_diagcode(0), 0);
    EXPECT_EQ(static_cast<unsigned>(hix_errorcode(0)), 0x6669666Fu);
}

}  // namespace
