// Runs the registered benchmarks with the console report and then prints how
// many times slower each measured benchmark is than its baseline, from the
// real time per iteration of each.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
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

// A benchmark compared with its baseline, and what the comparison shows.
struct Ratio {
    std::string sgMeasured;
    std::string sgBaseline;
    std::string sgText;
};

// Returns the process's exit status.
inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& vratio)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    for (const Ratio& r : vratio) {
        double tMeasured = rep.time(r.sgMeasured), tBase = rep.time(r.sgBaseline);
        if (tMeasured > 0 && tBase > 0)
            std::printf("%s: %.1f times the time of %s (%s)\n", r.sgMeasured.c_str(), tMeasured / tBase,
                        r.sgBaseline.c_str(), r.sgText.c_str());
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace kvbench
