// What a fiber hand-off costs. A fiber is a thread and a semaphore: a round trip (hand control to
// a fiber, which hands it straight back) is two semaphore posts and two thread wake-ups. The
// peers do the same round trip with a pair of threads taking turns on one mutex and condition
// variable, and with two user-space contexts (swapcontext, no kernel thread switch). The table at
// the end gives the peer's time divided by ours (below 1: the peer is faster).

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/linux/XLinuxFiber.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <ucontext.h>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kStackSize = 256 * 1024;

void BM_RoundTrip_Fiber(benchmark::State& state)
{
    std::unique_ptr<XLinuxFiber> self(XLinuxFiber::CreateFiberForThread());
    XLinuxFiber* other = nullptr;
    bool stop = false; // ordered by the hand-offs
    std::unique_ptr<XLinuxFiber> echo(XLinuxFiber::Create(kStackSize,
                                                          [&]
                                                          {
                                                              while (!stop)
                                                              {
                                                                  other->YieldTo(self.get());
                                                              }
                                                              self->WakeUp();
                                                          }));
    other = echo.get();
    for (auto _ : state)
    {
        self->YieldTo(other);
    }
    stop = true;
    self->YieldTo(other);
}

void BM_RoundTrip_CondVar(benchmark::State& state)
{
    std::mutex mutex;
    std::condition_variable turn;
    int owner = 0; // 0: the benchmark's thread, 1: the echo thread, -1: stop
    std::thread echo(
        [&]
        {
            std::unique_lock lock(mutex);
            for (;;)
            {
                turn.wait(lock, [&] { return owner != 0; });
                if (owner < 0)
                {
                    return;
                }
                owner = 0;
                turn.notify_all();
            }
        });
    {
        std::unique_lock lock(mutex);
        for (auto _ : state)
        {
            owner = 1;
            turn.notify_all();
            turn.wait(lock, [&] { return owner == 0; });
        }
        owner = -1;
    }
    turn.notify_all();
    echo.join();
}

ucontext_t gMain;
ucontext_t gEcho;

void EchoContext()
{
    for (;;)
    {
        ::swapcontext(&gEcho, &gMain);
    }
}

void BM_RoundTrip_Swapcontext(benchmark::State& state)
{
    std::vector<char> stack(kStackSize);
    ::getcontext(&gEcho);
    gEcho.uc_stack.ss_sp = stack.data();
    gEcho.uc_stack.ss_size = stack.size();
    gEcho.uc_link = &gMain;
    ::makecontext(&gEcho, &EchoContext, 0);
    for (auto _ : state)
    {
        ::swapcontext(&gMain, &gEcho);
    }
    // The echo context is left suspended on its stack, which goes with this function.
}

BENCHMARK(BM_RoundTrip_Fiber)->UseRealTime();
BENCHMARK(BM_RoundTrip_CondVar)->UseRealTime();
BENCHMARK(BM_RoundTrip_Swapcontext)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return zorn::bench::RunWithRatios(
        argc, argv,
        [](const zorn::bench::BenchRunTimes& inTimes)
        {
            std::printf("\ntime ratio (peer / fiber; below 1: the peer is faster)\n");
            zorn::bench::PrintSpeed(inTimes, "fiber vs threads on a condition variable",
                                    "BM_RoundTrip_Fiber/real_time", "BM_RoundTrip_CondVar/real_time");
            zorn::bench::PrintSpeed(inTimes, "fiber vs swapcontext", "BM_RoundTrip_Fiber/real_time",
                                    "BM_RoundTrip_Swapcontext/real_time");
        });
}
