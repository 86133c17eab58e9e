// The burst-counter demo: boots the stand-in platform with one simulated
// HIX-5316 in slot 0, loads the kavorqir driver and runs burst measurements
// through the flat interface of hix_burst alone.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hix_burst.h"
#include "hixburst_options.h"
#include "kv_world.h"
#include "sim/sim_boards.h"

namespace {

using hixburst::FaultKind;
using hixburst::Options;

// Passes of one burst before the demo gives up on it.
const long cPassesMax = 10000000;

// The request type of a register read, where the unplug fault strikes.
const int eTypeQirRead = 7;
// The request type of the open exchange, which the error fault answers.
const int eTypeVaqInit = 6;

// Every failure ends the run with one line "error: TEXT (code N)".
int fail(const std::string& sgText, const std::string& sgCode)
{
    std::printf("error: %s (code %s)\n", sgText.c_str(), sgCode.c_str());
    return 1;
}

int fail(int i) { return fail(hix_errortext(i), std::to_string(hix_diagcode(i))); }

// The driver did not load: the loader's reason, kept among the kernel's
// problems, and its status.
int failDriver(kvworld::World& world, std::size_t cProblemsBefore, NTSTATUS st)
{
    std::vector<std::string> vsgProblem = world.kernel().problems();
    std::string sgReason = vsgProblem.size() > cProblemsBefore ? vsgProblem[cProblemsBefore] : "its entry failed";
    char szCode[16];
    std::snprintf(szCode, sizeof szCode, "0x%08X", static_cast<unsigned>(st));
    return fail("the driver did not load: " + sgReason, szCode);
}

std::string rate(uint64_t hz) { return hz ? std::to_string(hz) + " Hz" : "none"; }

int setParams(const Options& opt)
{
    for (const hixburst::ParamValue& p : opt.params) {
        int r = p.fDouble ? hix_burst_set_param_double(0, p.sgName.c_str(), p.rd)
                          : hix_burst_set_param_int(0, p.sgName.c_str(), p.n);
        if (r != 0)
            return -1;
    }
    return 0;
}

int runBursts(const Options& opt, KVdepSim100::EzUsbBoard& board)
{
    if (hix_burst_init(0, opt.fSim ? 1 : 0) != 0)
        return fail(0);
    if (setParams(opt) != 0)
        return fail(0);
    for (int k = 1; k <= opt.cBursts; ++k) {
        if (hix_burst_arm(0) != 0 || hix_burst_trigger(0) != 0)
            return fail(0);
        if (k == 1 && opt.eFault == FaultKind::Unplug)
            board.injectFault(KVdepSim100::Fault::unplug(eTypeQirRead).skip(2));
        int r = 1;
        long cPass = 0;
        while (r == 1 && cPass++ < cPassesMax)
            r = hix_burst_loop(0);
        if (r < 0)
            return fail(0);
        if (r != 0)
            return fail("burst not complete after " + std::to_string(cPassesMax) + " passes", std::to_string(k));
        int n0 = -1, n1 = -1;
        if (hix_burst_get_counts(0, &n0, &n1) != 0)
            return fail(0);
        std::printf("burst %d: count0=%d count1=%d\n", k, n0, n1);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    std::string sgError;
    if (!hixburst::parseOptions(std::vector<std::string>(argv + 1, argv + argc), &opt, &sgError)) {
        std::fprintf(stderr, "hixburst: %s\n%s", sgError.c_str(), hixburst::szUsage);
        return 2;
    }
    if (opt.fHelp) {
        std::fputs(hixburst::szUsage, stdout);
        return 0;
    }

    // The board outlives the world, and the world the board's connections.
    std::unique_ptr<KVdepSim100::EzUsbBoard> pboard = KVdepSim100::makeHix5316();
    pboard->setSignal(0, KVdepSim100::InputSignal::hertz(opt.input0Hz));
    pboard->setSignal(1, KVdepSim100::InputSignal::hertz(opt.input1Hz));
    if (opt.eFault == FaultKind::Error)
        pboard->injectFault(KVdepSim100::Fault::errorCode(eTypeVaqInit, 5));
    if (opt.eFault == FaultKind::Model)
        pboard->setIdentity(KVdepSim100::boardIdentity(0x7303));
    if (opt.eFault == FaultKind::Overflow)
        pboard->forceFifoWord(0, 0xFFFF);

    // Nothing here reads the stand-ins' logs: they keep none, so that a long
    // run stays flat (their counts and the problems are still kept).
    pboard->setLogCapacity(0);
    kvworld::World world;
    world.setLogCapacity(0);
    world.plug(*pboard);
    std::size_t cProblems = world.kernel().problems().size();
    NTSTATUS st = world.loadDriver(opt.sgDriver.empty() ? KV_KAVORQIR_MODULE : opt.sgDriver);
    if (st != STATUS_SUCCESS)
        return failDriver(world, cProblems, st);
    std::vector<uint8_t> mpbId = pboard->identity();
    std::printf("board: %s in slot 0, model 0x%02x%02x\n", pboard->model().c_str(), mpbId.size() > 4 ? mpbId[4] : 0,
                mpbId.size() > 3 ? mpbId[3] : 0);
    std::printf("inputs: input0=%s input1=%s\n", rate(opt.input0Hz).c_str(), rate(opt.input1Hz).c_str());
    std::printf("params: %s%s\n", hixburst::paramText(opt.params).c_str(), opt.fSim ? " (simulation on)" : "");
    std::fflush(stdout);

    // Instance 0 is the only one the demo opens, and the one it finishes.
    int rc = runBursts(opt, *pboard);
    hix_burst_fini(0);
    world.teardown();
    return rc;
}
