// Deadlines for tests that wait on another process or task. A deadline is a limit that a correct
// run never comes near: it only decides how long a broken run takes to fail. On a slow or busy
// machine (sanitizers on two loaded cores) a run may still need more: ZQ_TEST_TIME_FACTOR (a
// positive number, default 1) multiplies every deadline taken from here.
#pragma once

#include <chrono>
#include <cstdlib>

namespace zorn::test
{

// ZQ_TEST_TIME_FACTOR as read once; 1 when unset or not a positive number.
inline double TestTimeFactor()
{
    static const double factor = []
    {
        const char* text = std::getenv("ZQ_TEST_TIME_FACTOR");
        const double value = text != nullptr ? std::strtod(text, nullptr) : 1.0;
        return value > 0 ? value : 1.0;
    }();
    return factor;
}

// inTimeout scaled by the factor.
inline std::chrono::milliseconds Scaled(std::chrono::milliseconds inTimeout)
{
    return std::chrono::milliseconds(
        static_cast<long long>(static_cast<double>(inTimeout.count()) * TestTimeFactor()));
}

// A deadline inTimeout (scaled) from now.
inline std::chrono::steady_clock::time_point DeadlineIn(std::chrono::milliseconds inTimeout)
{
    return std::chrono::steady_clock::now() + Scaled(inTimeout);
}

} // namespace zorn::test
