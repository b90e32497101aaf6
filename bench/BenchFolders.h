// What the benchmark programs that work on trees on disk share: the folder their trees are made
// in ($ZORN_BENCH_DIR, else $TMPDIR, else /tmp), the median of a series of times, and the number of
// rounds of each side (one under the smoke run, $ZORN_BENCH_SMOKE set).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace zorn::bench
{

inline std::string BaseFolder()
{
    for (const char* name : {"ZORN_BENCH_DIR", "TMPDIR"})
    {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] == '/')
        {
            return value;
        }
    }
    return "/tmp";
}

inline int Rounds(int inFull)
{
    return std::getenv("ZORN_BENCH_SMOKE") != nullptr ? 1 : inFull;
}

inline double Median(std::vector<double> inTimes)
{
    std::sort(inTimes.begin(), inTimes.end());
    return inTimes[inTimes.size() / 2];
}

} // namespace zorn::bench
