// Runs the registered benchmarks with the console report and then prints how
// many times slower each measured benchmark is than its baseline, from the
// real time per iteration of each.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kvbench {

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RecordingReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& r : reports)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                _mpt[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(reports);
    }
    // Real time per iteration, in the benchmark's time unit; 0 when not run.
    double time(const std::string& sgName) const
    {
        auto it = _mpt.find(sgName);
        return it == _mpt.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> _mpt;
};

// pairs: {measured, baseline, text}. Returns the process's exit status.
inline int runWithRatios(int argc, char** argv,
                         const std::vector<std::pair<std::pair<std::string, std::string>, std::string>>& pairs)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    for (const auto& p : pairs) {
        double tMeasured = rep.time(p.first.first), tBase = rep.time(p.first.second);
        if (tMeasured > 0 && tBase > 0)
            std::printf("%s: %.1f times the time of %s (%s)\n", p.first.first.c_str(), tMeasured / tBase,
                        p.first.second.c_str(), p.second.c_str());
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace kvbench
