// The task system's clocks: a tick counter (60 ticks a second) for kill times and idle periods,
// and a millisecond counter for time-outs. Both are monotonic and read as 32-bit values that
// wrap; an elapsed time is the unsigned difference of two readings, which stays right across a
// wrap as long as the interval is shorter than the counter's range (about 2.3 years in ticks,
// 49 days in milliseconds).
#pragma once

#include <chrono>
#include <cstdint>

namespace zorn::detail
{

using Ticks = std::chrono::duration<int64_t, std::ratio<1, 60>>;

inline uint32_t CurrentTicks()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<Ticks>(now).count());
}

inline uint32_t CurrentMilliseconds()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The time from inStart to inNow in the counter's unit.
inline uint32_t Elapsed(uint32_t inStart, uint32_t inNow)
{
    return inNow - inStart;
}

} // namespace zorn::detail
