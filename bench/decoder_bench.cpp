// The FIFO-line decoder in lines per second, against a plain read of the
// same bytes: what decoding a line costs beyond touching its 8 bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "ratio_reporter.h"
#include "tico_inline.h"

namespace {

const int cLines = 4096;

// Lines close to a real burst: mostly hit lines whose pattern is one run of
// ones, some scan and epoch lines, few captures, no overflow (it would end a
// real pass).
std::vector<char> makeLines()
{
    std::mt19937 rng(20240611);
    std::vector<char> mpch(cLines * 8);
    for (int i = 0; i < cLines; ++i) {
        char* b = &mpch[i * 8];
        unsigned k = rng() % 100;
        unsigned fFlags = k < 70 ? 0x08 : k < 80 ? 0x10 : k < 90 ? 0x00 : k < 97 ? 0x20 : 0x18;
        unsigned iStart = rng() % 11, cRun = 1 + rng() % (11 - iStart);
        unsigned uPattern = ((1u << cRun) - 1) << (11 - iStart - cRun + 1);
        uint32_t uEc = rng() & 0xFFFF, uCt = rng() & 0xFFFFFF;
        b[0] = static_cast<char>(uEc);
        b[1] = static_cast<char>(uEc >> 8);
        b[2] = static_cast<char>(uPattern);
        b[3] = static_cast<char>((uPattern >> 8) & 0x0F);  // edge index 0
        b[4] = static_cast<char>(fFlags | (rng() & 1));
        b[5] = static_cast<char>(uCt);
        b[6] = static_cast<char>(uCt >> 8);
        b[7] = static_cast<char>(uCt >> 16);
    }
    return mpch;
}

const std::vector<char>& lines()
{
    static const std::vector<char> s = makeLines();
    return s;
}

// What the burst counter reads of each line, decoded as it decodes them.
void BM_DecodeLine(benchmark::State& state)
{
    const std::vector<char>& mpch = lines();
    uint64_t uSum = 0;
    for (auto _ : state) {
        for (int i = 0; i < cLines; ++i) {
            KVdepMoru100::InlineScanLine sl(&mpch[i * 8], 1, 0, nullptr);
            uSum += sl.isOverflow() + sl.isEpoch() + sl.isWrap() + sl.isFirst() + sl.isEcap() + sl.cEc() +
                    sl.cCt() + sl.iFract(sl.iOffs()) + sl.cFract();
        }
        benchmark::DoNotOptimize(uSum);
    }
    state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_DecodeLine);

// The same bytes, read as one 8-byte word a line.
void BM_PlainRead(benchmark::State& state)
{
    const std::vector<char>& mpch = lines();
    uint64_t uSum = 0;
    for (auto _ : state) {
        for (int i = 0; i < cLines; ++i) {
            uint64_t u;
            std::memcpy(&u, &mpch[i * 8], sizeof u);
            benchmark::DoNotOptimize(u);
            uSum += u;
        }
        benchmark::DoNotOptimize(uSum);
    }
    state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_PlainRead);

}  // namespace

int main(int argc, char** argv)
{
    return kvbench::runWithRatios(argc, argv,
                                  {{"BM_DecodeLine", "BM_PlainRead", "decoding lines against reading their bytes", 8}});
}
