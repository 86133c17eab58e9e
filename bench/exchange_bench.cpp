// One register exchange through the whole stack (hix_burst, the Win32
// stand-in, the kavorqir module, the USB stand-in, the simulated board)
// against the same exchange handed to the simulated board directly: what our
// layers cost per exchange.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "hix_burst.h"
#include "ratio_reporter.h"
#include "sim/direct_host.h"
#include "stack_world.h"

namespace {

// Without a trigger the board's FIFOs stay empty, so a polling pass with one
// channel is exactly one register read: the fill count.
void BM_ExchangeThroughTheStack(benchmark::State& state)
{
    for (auto _ : state)
        if (hix_burst_loop(0) != 1)
            state.SkipWithError(hix_errortext(0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExchangeThroughTheStack);

KVdepSim100::DirectHost* pdirect = nullptr;

void BM_ExchangeWithTheBoardDirectly(benchmark::State& state)
{
    const std::vector<uint8_t> mpbRead = {0x07, 14};  // the read of the fill count on the wire
    for (auto _ : state) {
        std::vector<uint8_t> mpbAnswer = pdirect->exchange(0, mpbRead);
        if (mpbAnswer.empty())
            state.SkipWithError("no answer");
        benchmark::DoNotOptimize(mpbAnswer.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExchangeWithTheBoardDirectly);

}  // namespace

int main(int argc, char** argv)
{
    // The boards outlive the world, the world the library's connection.
    std::unique_ptr<KVdepSim100::EzUsbBoard> pboardDirect = KVdepSim100::makeHix5316(1);
    KVdepSim100::DirectHost direct(*pboardDirect);
    if (direct.configure() != usbsim::UsbXfer::Ok || direct.download("qir_firmware") != usbsim::UsbXfer::Ok) {
        std::fprintf(stderr, "the directly driven board did not start\n");
        return kvbench::kNotJudged;
    }
    pdirect = &direct;
    kvbench::StackWorld stack;
    if (!stack.start())
        return kvbench::kNotJudged;
    if (hix_burst_init(0, 0) != 0) {
        std::fprintf(stderr, "the board did not open: %s\n", hix_errortext(0));
        return kvbench::kNotJudged;
    }
    int rc = kvbench::runWithRatios(argc, argv,
                                    {{"BM_ExchangeThroughTheStack", "BM_ExchangeWithTheBoardDirectly",
                                      "one register read with and without our layers", 20}});
    hix_burst_fini(0);
    stack.finish();
    return rc;
}
