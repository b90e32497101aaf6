// Shared main of the benchmark programs that compare our code with a peer library: the fastest
// time of each benchmark over its repetitions, and a run that prints ratios of those times at the
// end.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zorn::bench
{

// Keeps the fastest time per iteration of every benchmark: the run least disturbed by other work.
class FastestTimes : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& inRuns) override
    {
        ConsoleReporter::ReportRuns(inRuns);
        for (const Run& run : inRuns)
        {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
            {
                auto [entry, added] = fTimes.emplace(run.benchmark_name(), run.GetAdjustedRealTime());
                if (!added && run.GetAdjustedRealTime() < entry->second)
                {
                    entry->second = run.GetAdjustedRealTime();
                }
            }
        }
    }

    // The time of the first benchmark divided by the second's; negative when either did not run.
    double Ratio(const std::string& inOurs, const std::string& inPeer) const
    {
        auto ours = fTimes.find(inOurs);
        auto peer = fTimes.find(inPeer);
        return ours == fTimes.end() || peer == fTimes.end() ? -1 : ours->second / peer->second;
    }

private:
    std::map<std::string, double> fTimes;
};

// Runs the registered benchmarks, five repetitions in random order by default so that a busy
// machine disturbs both sides alike (flags given on the command line come later and win), then
// hands the times to inPrintRatios.
inline int RunWithRatios(int argc, char** argv, const std::function<void(const FastestTimes&)>& inPrintRatios)
{
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments = {argv[0], repetitions.data(), interleaving.data()};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
    {
        return 1;
    }
    FastestTimes times;
    benchmark::RunSpecifiedBenchmarks(&times);
    inPrintRatios(times);
    benchmark::Shutdown();
    return 0;
}

} // namespace zorn::bench
