// BenchRunTimes: one time per benchmark, gathered from what a reporter receives, so that a program
// can print the ratio of its own code's time to a peer's. It keeps the fastest repetition (the least
// disturbed by other work) when the individual runs are reported, and the median when only the
// aggregates are (--benchmark_report_aggregates_only=true).
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

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

} // namespace zorn::bench
