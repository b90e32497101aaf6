// Lock and unlock of VCriticalSection and SpinLock against std::mutex and std::recursive_mutex,
// uncontended (one thread) and contended (several threads on one lock).

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/locks/SpinLock.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <mutex>
#include <string>

using namespace zorn;

namespace
{

struct SpinLockAdapter
{
    SpinLockWord fWord{0};
    void lock() { SpinLock::Lock(&fWord); }
    void unlock() { SpinLock::Unlock(&fWord); }
};

struct CriticalSectionAdapter
{
    VCriticalSection fSection;
    void lock() { fSection.Lock(); }
    void unlock() { fSection.Unlock(); }
};

template <class TLock>
void BM_LockUnlock(benchmark::State& state)
{
    static TLock* sLock = nullptr;
    if (state.thread_index() == 0)
    {
        sLock = new TLock();
    }
    int64_t counter = 0;
    for (auto _ : state)
    {
        sLock->lock();
        benchmark::DoNotOptimize(++counter);
        sLock->unlock();
    }
    if (state.thread_index() == 0)
    {
        delete sLock;
        sLock = nullptr;
    }
}

} // namespace

BENCHMARK_TEMPLATE(BM_LockUnlock, CriticalSectionAdapter)->ThreadRange(1, 4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_LockUnlock, SpinLockAdapter)->ThreadRange(1, 4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_LockUnlock, std::mutex)->ThreadRange(1, 4)->UseRealTime();
BENCHMARK_TEMPLATE(BM_LockUnlock, std::recursive_mutex)->ThreadRange(1, 4)->UseRealTime();

int main(int argc, char** argv)
{
    return bench::RunWithRatios(
        argc, argv,
        [](const bench::BenchRunTimes& inTimes)
        {
            std::printf("Speed relative to the std lock (its time / ours; above 1 is faster):\n");
            for (const char* threads : {"1", "2", "4"})
            {
                auto name = [threads](const char* inLock)
                { return std::string("BM_LockUnlock<") + inLock + ">/real_time/threads:" + threads; };
                std::string label = std::string(" (") + threads + " threads)";
                bench::PrintSpeed(inTimes, ("VCriticalSection vs std::recursive_mutex" + label).c_str(),
                                  name("CriticalSectionAdapter").c_str(),
                                  name("std::recursive_mutex").c_str());
                bench::PrintSpeed(inTimes, ("SpinLock vs std::mutex" + label).c_str(),
                                  name("SpinLockAdapter").c_str(), name("std::mutex").c_str());
            }
        });
}
