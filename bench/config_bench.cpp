// Loading the burst counter's configuration image (131,018 bytes, 256
// messages) through the whole stack (board access library, Win32 stand-in,
// the kavorqir module, USB stand-in, simulated board) against the time a USB
// 2.0 high-speed bus needs for those bytes at its bulk maximum: what our
// layers cost beside the bus.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "qir.h"
#include "ratio_reporter.h"
#include "stack_world.h"

extern "C" const char _binary_04b453160000_0131_rbf_start[];
extern "C" const char _binary_04b453160000_0131_rbf_end[];

namespace {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";
// Bulk payload a high-speed bus carries at most: 13 packets of 512 bytes a
// 125 us microframe.
const double cbBusPerSecond = 53248000.0;

KVdepQir100::QirTaskPlex* prp = nullptr;
const KVdepSim100::EzUsbBoard* pboard = nullptr;

KVdepQir100::Dptr linkedImage()
{
    return KVdepQir100::Dptr{
        static_cast<size_t>(_binary_04b453160000_0131_rbf_end - _binary_04b453160000_0131_rbf_start),
        _binary_04b453160000_0131_rbf_start};
}

void BM_ConfigThroughTheStack(benchmark::State& state)
{
    const KVdepQir100::Dptr dp = linkedImage();
    int cLoads = pboard->qir()->cConfigLoads();
    for (auto _ : state)
        if (!prp->callQirInitData(reinterpret_cast<const char*>(&dp)).isGood())
            state.SkipWithError("the load failed");
    if (pboard->qir()->cConfigLoads() - cLoads != state.iterations() || pboard->qir()->cConfigMessages() != 256)
        state.SkipWithError("the board did not see every load in 256 messages");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(dp._s));
}
BENCHMARK(BM_ConfigThroughTheStack)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    kvbench::StackWorld stack;
    if (!stack.start())
        return kvbench::kNotJudged;
    int rc = kvbench::kNotJudged;
    {
        KVdepQir100::QirLocalTaskInitializer ini(szDev);
        if (!ini.isGood() || ini.prp() == nullptr) {
            std::fprintf(stderr, "the board did not open\n");
        } else {
            prp = ini.prp();
            pboard = stack.pboard.get();
            const double sBus = linkedImage()._s / cbBusPerSecond;
            char szText[96];
            std::snprintf(szText, sizeof szText, "the image through our layers against its bytes on the bus, %.2f ms",
                          sBus * 1000.0);
            rc = kvbench::runWithRatios(argc, argv, {{"BM_ConfigThroughTheStack", "the bus", szText, 1, sBus}});
        }
    }
    stack.finish();
    return rc;
}
