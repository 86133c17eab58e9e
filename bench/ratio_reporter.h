// Runs the registered benchmarks with the console report and then prints how
// many times slower each measured benchmark is than its baseline, from the
// CPU time per iteration of each (the median when repeated).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kvbench {

// Exit statuses of a benchmark program.
enum : int {
    kGoalsMet = 0,     // every goal measured holds
    kGoalMissed = 1,   // one does not
    kNotJudged = 2,    // an argument was refused, or a goal could not be judged
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RecordingReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& r : reports) {
            if (r.error_occurred) {
                _sgFailed.insert(r.run_name.str());
                continue;
            }
            bool fMedian = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if ((r.run_type == Run::RT_Iteration && r.iterations > 0) || fMedian)
                _mps[r.run_name.str()] = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        }
        ConsoleReporter::ReportRuns(reports);
    }
    // CPU seconds per iteration: the median of the repetitions when there
    // are several; 0 when not run or failed.
    double seconds(const std::string& sgName) const
    {
        auto it = _mps.find(sgName);
        return it == _mps.end() || failed(sgName) ? 0.0 : it->second;
    }
    bool failed(const std::string& sgName) const { return _sgFailed.count(sgName) != 0; }

private:
    std::map<std::string, double> _mps;
    std::set<std::string> _sgFailed;
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

// A ratio as it is printed (two decimals), and whether that printed value
// meets the goal.
struct Verdict {
    char szTimes[32];
    bool fMet;
};

inline Verdict judge(double rTimes, double rGoalMax)
{
    Verdict v{};
    std::snprintf(v.szTimes, sizeof v.szTimes, "%.2f", rTimes);
    v.fMet = std::strtod(v.szTimes, nullptr) <= rGoalMax;
    return v;
}

// Prints the ratio and the verdict of each goal; returns the process's exit
// status (kGoalsMet, kGoalMissed, kNotJudged). A goal whose measured
// benchmark ran without its baseline, or one of whose benchmarks failed, is
// not judged, and says so; one whose measured benchmark a filter left out is
// not judged either, silently.
inline int judgeRatios(const RecordingReporter& rep, const std::vector<Ratio>& vratio)
{
    int rc = kGoalsMet;
    auto notJudged = [&](const Ratio& r, const std::string& sgWhy) {
        std::printf("%s: goal not judged: %s\n", r.sgMeasured.c_str(), sgWhy.c_str());
        rc = kNotJudged;
    };
    for (const Ratio& r : vratio) {
        if (rep.failed(r.sgMeasured) || rep.failed(r.sgBaseline)) {
            notJudged(r, (rep.failed(r.sgMeasured) ? r.sgMeasured : r.sgBaseline) + " failed");
            continue;
        }
        double sMeasured = rep.seconds(r.sgMeasured);
        double sBase = r.sBaseline > 0 ? r.sBaseline : rep.seconds(r.sgBaseline);
        if (sMeasured <= 0)
            continue;  // not asked for
        if (sBase <= 0) {
            notJudged(r, "its baseline " + r.sgBaseline + " was not run");
            continue;
        }
        Verdict v = judge(sMeasured / sBase, r.rGoalMax);
        std::printf("%s: %s times the time of %s (%s)\n", r.sgMeasured.c_str(), v.szTimes, r.sgBaseline.c_str(),
                    r.sgText.c_str());
        std::printf("%s: goal, a ratio of at most %g: %s\n", r.sgMeasured.c_str(), r.rGoalMax, v.fMet ? "met" : "not met");
        if (!v.fMet && rc == kGoalsMet)
            rc = kGoalMissed;
    }
    return rc;
}

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& vratio)
{
    benchmark::Initialize(&argc, argv);
    int rc = kNotJudged;
    if (!benchmark::ReportUnrecognizedArguments(argc, argv)) {
        RecordingReporter rep;
        // None run: the filter matched nothing (the library says so).
        if (benchmark::RunSpecifiedBenchmarks(&rep) != 0)
            rc = judgeRatios(rep, vratio);
    }
    benchmark::Shutdown();
    return rc;
}

}  // namespace kvbench
