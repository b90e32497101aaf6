// What the benchmark programs that measure against a peer share. BenchRunTimes keeps one time per
// benchmark, gathered from what a reporter receives, so that a program can print the ratio of its
// own code's time to a peer's: the fastest repetition (the least disturbed by other work) when the
// individual runs are reported, the median when only the aggregates are
// (--benchmark_report_aggregates_only=true). TimesReporter is the console reporter that fills one;
// RunWithRatios is the main of a program that prints ratios at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zorn::bench
{

class BenchRunTimes
{
public:
    using Run = benchmark::BenchmarkReporter::Run;

    void Add(const Run& inRun)
    {
        if (inRun.error_occurred)
        {
            return;
        }
        const std::string name = inRun.run_name.str();
        const double time = inRun.GetAdjustedRealTime();
        if (inRun.run_type == Run::RT_Iteration)
        {
            auto [entry, added] = fFastest.emplace(name, time);
            if (!added && time < entry->second)
            {
                entry->second = time;
            }
        }
        else if (inRun.aggregate_name == "median")
        {
            fMedian[name] = time;
        }
    }

    // The time per iteration of the benchmark of that name ("BM_Decode_ICU/2"), or 0 if it did not
    // run.
    double Find(const std::string& inName) const
    {
        if (auto fastest = fFastest.find(inName); fastest != fFastest.end())
        {
            return fastest->second;
        }
        auto median = fMedian.find(inName);
        return median == fMedian.end() ? 0 : median->second;
    }

    // The time of the first benchmark divided by the second's; negative when either did not run.
    double Ratio(const std::string& inOurs, const std::string& inPeer) const
    {
        double ours = Find(inOurs);
        double peer = Find(inPeer);
        return ours <= 0 || peer <= 0 ? -1 : ours / peer;
    }

    // Every benchmark name that has a time, in order.
    template <typename Visit>
    void ForEachName(Visit inVisit) const
    {
        std::map<std::string, bool> names;
        for (const auto& [name, time] : fFastest)
        {
            names[name] = true;
        }
        for (const auto& [name, time] : fMedian)
        {
            names[name] = true;
        }
        for (const auto& [name, seen] : names)
        {
            inVisit(name);
        }
    }

private:
    std::map<std::string, double> fFastest;
    std::map<std::string, double> fMedian;
};

// The console output, and the times kept for the ratios.
class TimesReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& inRuns) override
    {
        ConsoleReporter::ReportRuns(inRuns);
        for (const Run& run : inRuns)
        {
            fTimes.Add(run);
        }
    }

    const BenchRunTimes& Times() const { return fTimes; }

private:
    BenchRunTimes fTimes;
};

// Prints one line "label ratio" of the peer's time over ours (above 1: ours is faster); nothing
// when either did not run.
inline void PrintSpeed(const BenchRunTimes& inTimes, const char* inLabel, const char* inOurs,
                       const char* inPeer)
{
    double ratio = inTimes.Ratio(inPeer, inOurs);
    if (ratio >= 0)
    {
        std::printf("  %-56s %.2f\n", inLabel, ratio);
    }
}

// Runs the registered benchmarks, five repetitions in random order by default so that a busy
// machine disturbs both sides alike (flags given on the command line come later and win), then
// hands the times to inPrintRatios. The program's exit status.
inline int RunWithRatios(int inArgc, char** inArgv,
                         const std::function<void(const BenchRunTimes&)>& inPrintRatios)
{
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments = {inArgv[0], repetitions.data(), interleaving.data()};
    arguments.insert(arguments.end(), inArgv + 1, inArgv + inArgc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
    {
        return 1;
    }
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    inPrintRatios(reporter.Times());
    benchmark::Shutdown();
    return 0;
}

} // namespace zorn::bench
