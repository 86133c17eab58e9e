// The burst log on the whole road to a simulated board: the exact lines of a
// burst with their tick counts, repeated lines of the polling loop collapsed,
// and the unload, which closes the boards before it frees the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "log_rig.h"
#include "sim/fifo_line.h"

namespace hixlogtest {
namespace {

// The tick count in front of a line written at ms.
std::string tick(uint64_t ms)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "%07u ", static_cast<unsigned>(ms));
    return sz;
}

class LogBurst : public LogRig {
protected:
    void SetUp() override
    {
        LogRig::SetUp();
        boot();
        write(cwdLog());
        testing::internal::CaptureStderr();
        ASSERT_TRUE(lib.load());
    }
    void TearDown() override
    {
        lib.unload();
        testing::internal::GetCapturedStderr();
        LogRig::TearDown();
    }
    // Lines only from the script: two captures of channel 0, visible at the
    // 10th and 15th fill-count read (a read moves the clock on 100 ticks).
    void scriptTwoCaptures()
    {
        KVdepSim100::FpgaOptions opt = _pboard->fpgaOptions();
        opt._cStep = 100;
        opt._fCaptures = opt._fWraps = opt._fEpochs = false;
        _pboard->setFpgaOptions(opt);
        _pboard->scriptLine(0, 1000, KVdepSim100::ecapLine(100, 1000));
        _pboard->scriptLine(0, 1500, KVdepSim100::ecapLine(350, 1500));
    }
};

TEST_F(LogBurst, LinesOfABurst)
{
    scriptTwoCaptures();
    EXPECT_EQ(callAt(1234, [&] { return lib.fini(0); }), 0);
    ASSERT_EQ(callAt(2000, [&] { return lib.init(0, 0); }), 0) << lib.errortext(0);
    const uint64_t msOpen = kvclock::nowMs();  // after the board's start-up
    EXPECT_EQ(callAt(2100, [&] { return lib.setInt(1, "CCH", 2); }), 0);
    EXPECT_EQ(callAt(3000, [&] { return lib.arm(0); }), 0);
    EXPECT_EQ(callAt(3001, [&] { return lib.trigger(0); }), 0);
    int r = 1;
    for (int k = 1; k <= 15; ++k) {
        r = callAt(3100 + k, [&] { return lib.loop(0); });
        ASSERT_EQ(r, k < 15 ? 1 : 0) << "pass " << k << ": " << lib.errortext(0);
    }
    int n = 0, m = 0;
    EXPECT_EQ(callAt(4000, [&] { return lib.getCounts(0, &n, &m); }), 0);
    EXPECT_EQ(n, 250);
    EXPECT_EQ(m, -1);
    EXPECT_EQ(callAt(5000, [&] { return lib.fini(0); }), 0);
    const uint64_t msFini = kvclock::nowMs();  // after the board's close
    kvclock::setManualMs(6000);
    lib.unload();

    const std::string sgLoop0 = "[0] hix_loop : count=0 0 \n";
    const std::string sgLoop1 = "[0] hix_loop : count=1 0 \n";
    EXPECT_EQ(read(cwdLog()),
              tick(1234) + "[0] hix_fini -> stat=good () 0\n" +
              // The fini of the open repeats the line before: its notice
              // comes with the next line.
              tick(msOpen) + "last line repeated 1 times\n" +
              tick(msOpen) + "[0] hix_init : device : \\\\.\\ZEDOZ_EVU_0 local-data\n" +
              tick(msOpen) + "[0] hix_init -> stat=good () 0\n" +
              tick(2100) + "[1] set_param_int -> stat=good () 0\n" +
              tick(3000) + "[0] hix_arm -> stat=good () 0\n" +
              tick(3001) + "[0] hix_trigger -> stat=good () 0\n" +
              tick(3101) + sgLoop0 +
              tick(3110) + "last line repeated 8 times\n" +
              tick(3110) + sgLoop1 +
              tick(3110) + "64000000.18e80300 000.000000000000  ECAP 100 s=1 c=-1 p=100 w=0\n" +
              tick(3111) + sgLoop0 +
              tick(3115) + "last line repeated 3 times\n" +
              tick(3115) + sgLoop1 +
              tick(3115) + "5e010000.18dc0500 000.000000000000  ECAP 350 s=2 c=350 p=100 w=0 t=250\n" +
              tick(4000) + "[0] hix_get_counts -> stat=good () 0\n" +
              tick(msFini) + "[0] hix_fini -> stat=good () 0\n" +
              tick(6000));
}

TEST_F(LogBurst, ATimeoutEndsTheTraceLineBeforeTheStatus)
{
    // No input and no captures: only epoch marks, one every 2^24 ticks.
    KVdepSim100::FpgaOptions opt = _pboard->fpgaOptions();
    opt._cStep = 1 << 24;
    opt._fCaptures = opt._fWraps = false;
    _pboard->setFpgaOptions(opt);
    ASSERT_EQ(callAt(1000, [&] { return lib.init(0, 0); }), 0) << lib.errortext(0);
    ASSERT_EQ(callAt(2000, [&] { return lib.arm(0); }), 0);
    ASSERT_EQ(callAt(2001, [&] { return lib.trigger(0); }), 0);
    EXPECT_EQ(callAt(2002, [&] { return lib.loop(0); }), 1);
    EXPECT_EQ(callAt(2003, [&] { return lib.loop(0); }), -1);
    EXPECT_STREQ(lib.errortext(0), "timeout");
    kvclock::setManualMs(3000);
    lib.unload();
    std::string sg = read(cwdLog());
    size_t iFrom = sg.find(tick(2002));
    ASSERT_NE(iFrom, std::string::npos) << sg;
    EXPECT_EQ(sg.substr(iFrom),
              tick(2002) + "[0] hix_loop : count=1 0 \n" +
              tick(2002) + "00000000.20000000 000.000000000000  EPOCH\n" +
              // The second pass repeats both lines; the status breaks the run.
              tick(2003) + "last 2 lines repeated 1 times\n" +
              tick(2003) + "[0] proceed -> stat=fail (timeout) 0\n" +
              tick(3000));
}

// At unload both instances close their boards first, then the log is freed:
// the repeat still pending and the last bare prefix come after the close.
class LogUnload : public LogBurst, public ::testing::WithParamInterface<int> {
};

TEST_P(LogUnload, TheBoardIsClosedBeforeTheLogIsFreed)
{
    const int i = GetParam();
    ASSERT_EQ(callAt(1000, [&] { return lib.init(i, 0); }), 0) << lib.errortext(i);
    const uint64_t msOpen = kvclock::nowMs();
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(callAt(1100 + k, [&] { return lib.getCounts(i, nullptr, nullptr); }), 0);

    bool fClosed = false, fLogOpenAtClose = false;
    std::string sgAtClose;
    _pboard->onVendorOut = [&] {
        if (fClosed)
            return;
        fClosed = true;
        fLogOpenAtClose = isOpen(cwdLog());
        sgAtClose = read(cwdLog());
    };
    EXPECT_TRUE(isOpen(cwdLog()));
    kvclock::setManualMs(2000);
    lib.unload();
    const uint64_t msUnload = kvclock::nowMs();
    _pboard->onVendorOut = nullptr;

    const std::string sgIdx = "[" + std::to_string(i) + "] ";
    const std::string sgBefore = tick(1000) + "[" + std::to_string(i) + "] hix_fini -> stat=good () 0\n" +
                                 tick(msOpen) + sgIdx + "hix_init : device : \\\\.\\ZEDOZ_EVU_0 local-data\n" +
                                 tick(msOpen) + sgIdx + "hix_init -> stat=good () 0\n" +
                                 tick(1100) + sgIdx + "hix_get_counts -> stat=good () 0\n";
    EXPECT_TRUE(fClosed) << "the unload closes the board";
    EXPECT_EQ(_pboard->programKind(), KVdepSim100::ProgramKind::Idle);
    EXPECT_TRUE(fLogOpenAtClose) << "the log is still there while the board closes";
    EXPECT_EQ(sgAtClose, sgBefore);
    EXPECT_EQ(read(cwdLog()), sgBefore + tick(msUnload) + "last line repeated 3 times\n" + tick(msUnload));
    EXPECT_FALSE(isOpen(cwdLog())) << "the log file is closed at unload";
}

INSTANTIATE_TEST_SUITE_P(EachInstance, LogUnload, ::testing::Values(0, 1));

}  // namespace
}  // namespace hixlogtest
