// What the benchmark programs that measure against a peer share. BenchRunTimes keeps the times of
// each benchmark, gathered from what a reporter receives, so that a program can print the ratio of
// its own code's time to a peer's, twice: from the fastest repetition (the least disturbed by other
// work) and from the medians. TimesReporter is the console reporter that fills one; RunWithRatios
// is the main of a program that prints its ratio tables at the end.
// Choices and limits:
// - --benchmark_report_aggregates_only and --benchmark_display_aggregates_only are taken by
//   RunWithRatios rather than by the library, so that the reporter still sees every repetition
//   (the fastest needs them); the console then shows only the aggregates, and a --benchmark_out
//   file gets every repetition.
// - With one repetition there are no medians: the median table is left out.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
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

    // Which time of a benchmark Find gives.
    enum class Basis
    {
        kFastest,
        kMedian
    };

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

    // The same times, read on the other basis.
    BenchRunTimes WithBasis(Basis inBasis) const
    {
        BenchRunTimes times = *this;
        times.fBasis = inBasis;
        return times;
    }

    Basis GetBasis() const { return fBasis; }
    bool HasMedians() const { return !fMedian.empty(); }

    // The time per iteration of the benchmark of that name ("BM_Decode_ICU/2") on this basis, or 0
    // if it did not run.
    double Find(const std::string& inName) const
    {
        const std::map<std::string, double>& times = Times();
        auto found = times.find(inName);
        return found == times.end() ? 0 : found->second;
    }

    // The time of the first benchmark divided by the second's; negative when either did not run.
    double Ratio(const std::string& inOurs, const std::string& inPeer) const
    {
        double ours = Find(inOurs);
        double peer = Find(inPeer);
        return ours <= 0 || peer <= 0 ? -1 : ours / peer;
    }

    // Every benchmark name that has a time on this basis, in order.
    template <typename Visit>
    void ForEachName(Visit inVisit) const
    {
        for (const auto& [name, time] : Times())
        {
            inVisit(name);
        }
    }

private:
    const std::map<std::string, double>& Times() const
    {
        return fBasis == Basis::kFastest ? fFastest : fMedian;
    }

    std::map<std::string, double> fFastest;
    std::map<std::string, double> fMedian;
    Basis fBasis = Basis::kFastest;
};

// The console output, and the times kept for the ratios.
class TimesReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& inRuns) override
    {
        for (const Run& run : inRuns)
        {
            fTimes.Add(run);
        }
        if (!fAggregatesOnly)
        {
            ConsoleReporter::ReportRuns(inRuns);
            return;
        }
        // A repetition of a repeated benchmark is left out (its aggregates follow); a benchmark run
        // once is shown, having no aggregates.
        std::vector<Run> shown;
        for (const Run& run : inRuns)
        {
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1)
            {
                shown.push_back(run);
            }
        }
        if (!shown.empty())
        {
            ConsoleReporter::ReportRuns(shown);
        }
    }

    // Shows only the aggregates of repeated benchmarks while still keeping every repetition's time.
    void SetAggregatesOnly(bool inAggregatesOnly) { fAggregatesOnly = inAggregatesOnly; }

    const BenchRunTimes& Times() const { return fTimes; }

private:
    BenchRunTimes fTimes;
    bool fAggregatesOnly = false;
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

// Calls inPrintRatios on the fastest repetitions, then on the medians when there are any, each
// under a heading that names its basis.
inline void PrintRatioTables(const BenchRunTimes& inTimes,
                             const std::function<void(const BenchRunTimes&)>& inPrintRatios)
{
    std::printf("\n== Ratios from the fastest repetition ==\n");
    inPrintRatios(inTimes.WithBasis(BenchRunTimes::Basis::kFastest));
    if (inTimes.HasMedians())
    {
        std::printf("\n== Ratios from the medians ==\n");
        inPrintRatios(inTimes.WithBasis(BenchRunTimes::Basis::kMedian));
    }
    std::fflush(stdout);
}

// Takes the aggregates-only flags out of the arguments (see above): whether one asked for them.
inline bool TakeAggregatesOnly(std::vector<char*>& ioArguments)
{
    bool aggregatesOnly = false;
    for (auto argument = ioArguments.begin() + 1; argument != ioArguments.end();)
    {
        const char* text = *argument;
        const char* value = nullptr;
        for (const char* flag : {"--benchmark_report_aggregates_only", "--benchmark_display_aggregates_only"})
        {
            size_t length = std::strlen(flag);
            if (std::strncmp(text, flag, length) == 0 && (text[length] == '\0' || text[length] == '='))
            {
                value = text[length] == '=' ? text + length + 1 : "true";
            }
        }
        if (value == nullptr)
        {
            ++argument;
            continue;
        }
        // The library's own reading of a flag's truth: empty, or starting t, y, 1 or "on".
        aggregatesOnly = *value == '\0' || std::strchr("tTyY1", *value) != nullptr ||
                         std::strncmp(value, "on", 2) == 0 || std::strncmp(value, "ON", 2) == 0;
        argument = ioArguments.erase(argument);
    }
    return aggregatesOnly;
}

// Initializes the library with five repetitions in random order by default, so that a busy
// machine disturbs both sides alike (flags given on the command line come later and win). False
// when an argument is not understood.
inline bool InitializeRepeated(int inArgc, char** inArgv, TimesReporter& ioReporter)
{
    static std::string repetitions = "--benchmark_repetitions=5";
    static std::string interleaving = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments = {inArgv[0], repetitions.data(), interleaving.data()};
    arguments.insert(arguments.end(), inArgv + 1, inArgv + inArgc);
    ioReporter.SetAggregatesOnly(TakeAggregatesOnly(arguments));
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    return !benchmark::ReportUnrecognizedArguments(count, arguments.data());
}

// Runs the registered benchmarks (see InitializeRepeated), then prints the ratio tables with
// inPrintRatios. The program's exit status.
inline int RunWithRatios(int inArgc, char** inArgv,
                         const std::function<void(const BenchRunTimes&)>& inPrintRatios)
{
    TimesReporter reporter;
    if (!InitializeRepeated(inArgc, inArgv, reporter))
    {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatioTables(reporter.Times(), inPrintRatios);
    benchmark::Shutdown();
    return 0;
}

} // namespace zorn::bench
