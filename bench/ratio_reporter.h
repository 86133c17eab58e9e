// Runs the registered benchmarks with the console report and then prints how
// many times slower each measured benchmark is than its baseline, from the
// CPU time per iteration of each (the median when repeated).
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
        for (const Run& r : reports) {
            bool fMedian = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if ((r.run_type == Run::RT_Iteration && r.iterations > 0) || fMedian)
                _mps[r.run_name.str()] = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        }
        ConsoleReporter::ReportRuns(reports);
    }
    // CPU seconds per iteration: the median of the repetitions when there
    // are several; 0 when not run.
    double seconds(const std::string& sgName) const
    {
        auto it = _mps.find(sgName);
        return it == _mps.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> _mps;
};

// A benchmark compared with its baseline, what the comparison shows and the
// goal: at most rGoalMax times the baseline. The baseline is another
// benchmark, or a fixed time in seconds when sBaseline is set (sgBaseline
// then names it).
struct Ratio {
    std::string sgMeasured;
    std::string sgBaseline;
    std::string sgText;
    double rGoalMax = 0;
    double sBaseline = 0;
};

// Returns the process's exit status: 0 when every goal measured holds, 1 when
// one does not.
inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& vratio)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    int rc = 0;
    for (const Ratio& r : vratio) {
        double sMeasured = rep.seconds(r.sgMeasured);
        double sBase = r.sBaseline > 0 ? r.sBaseline : rep.seconds(r.sgBaseline);
        if (sMeasured <= 0 || sBase <= 0)
            continue;
        double rTimes = sMeasured / sBase;
        bool fMet = rTimes <= r.rGoalMax;
        std::printf("%s: %.1f times the time of %s (%s)\n", r.sgMeasured.c_str(), rTimes, r.sgBaseline.c_str(),
                    r.sgText.c_str());
        std::printf("%s: goal, a ratio of at most %g: %s\n", r.sgMeasured.c_str(), r.rGoalMax, fMet ? "met" : "not met");
        if (!fMet)
            rc = 1;
    }
    benchmark::Shutdown();
    return rc;
}

}  // namespace kvbench
