// Messages between tasks against a std::mutex + std::condition_variable queue of std::function
// served by a std::thread (its send waits on a mutex and condition variable of its own per call):
// a round trip (send and wait for the answer), and posting N messages then waiting for the last.
// The tables at the end give the peer's time divided by ours (above 1: ours is faster).

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/messages/VFunctionMessage.h"
#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using namespace zorn;

namespace
{

constexpr int kPostCount = 1000;

// The peer: one server thread and its queue.
class StdServer
{
public:
    StdServer()
        : fThread(
              [this]
              {
                  std::unique_lock lock(fMutex);
                  for (;;)
                  {
                      fCondition.wait(lock, [this] { return fStop || !fJobs.empty(); });
                      if (fJobs.empty())
                      {
                          return;
                      }
                      std::function<void()> job = std::move(fJobs.front());
                      fJobs.pop_front();
                      lock.unlock();
                      job();
                      lock.lock();
                  }
              })
    {
    }
    ~StdServer()
    {
        {
            std::lock_guard lock(fMutex);
            fStop = true;
        }
        fCondition.notify_one();
        fThread.join();
    }
    void Post(std::function<void()>&& inJob)
    {
        {
            std::lock_guard lock(fMutex);
            fJobs.push_back(std::move(inJob));
        }
        fCondition.notify_one();
    }
    void Send(std::function<void()>&& inJob)
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        Post(
            [&]
            {
                inJob();
                std::lock_guard lock(mutex);
                finished = true;
                done.notify_one();
            });
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return finished; });
    }

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    std::deque<std::function<void()>> fJobs;
    bool fStop = false;
    std::thread fThread;
};

// Ours: a task that serves its messages until it dies.
VTask* gServer = nullptr;
int64_t gCounter = 0;

class CountMessage : public VMessage
{
protected:
    void DoExecute() override { ++gCounter; }
};

void BM_RoundTrip_SendTo(benchmark::State& state)
{
    VRefPtr<CountMessage> message(new CountMessage(), true);
    for (auto _ : state)
    {
        message->SendTo(gServer);
    }
}

void BM_RoundTrip_PostToAndWait(benchmark::State& state)
{
    for (auto _ : state)
    {
        VFunctionMessage::PostToAndWait(gServer, [] { ++gCounter; });
    }
}

void BM_RoundTrip_Std(benchmark::State& state)
{
    StdServer server;
    for (auto _ : state)
    {
        server.Send([] { ++gCounter; });
    }
}

void BM_PostNThenWait_Zorn(benchmark::State& state)
{
    for (auto _ : state)
    {
        for (int i = 0; i < kPostCount; ++i)
        {
            VFunctionMessage::PostFunctionTo(gServer, [] { ++gCounter; });
        }
        VFunctionMessage::PostToAndWait(gServer, [] { ++gCounter; });
    }
    state.SetItemsProcessed(state.iterations() * kPostCount);
}

void BM_PostNThenWait_Std(benchmark::State& state)
{
    StdServer server;
    for (auto _ : state)
    {
        for (int i = 0; i < kPostCount; ++i)
        {
            server.Post([] { ++gCounter; });
        }
        server.Send([] { ++gCounter; });
    }
    state.SetItemsProcessed(state.iterations() * kPostCount);
}

BENCHMARK(BM_RoundTrip_SendTo)->UseRealTime();
BENCHMARK(BM_RoundTrip_PostToAndWait)->UseRealTime();
BENCHMARK(BM_RoundTrip_Std)->UseRealTime();
BENCHMARK(BM_PostNThenWait_Zorn)->UseRealTime();
BENCHMARK(BM_PostNThenWait_Std)->UseRealTime();

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("Speed relative to the std queue (its time / ours; above 1 is faster):\n");
    bench::PrintSpeed(inTimes, "round trip, SendTo", "BM_RoundTrip_SendTo/real_time",
                      "BM_RoundTrip_Std/real_time");
    bench::PrintSpeed(inTimes, "round trip, PostToAndWait", "BM_RoundTrip_PostToAndWait/real_time",
                      "BM_RoundTrip_Std/real_time");
    bench::PrintSpeed(inTimes, "post 1000 then wait", "BM_PostNThenWait_Zorn/real_time",
                      "BM_PostNThenWait_Std/real_time");
}

} // namespace

int main(int argc, char** argv)
{
    bench::TimesReporter reporter;
    if (!bench::InitializeRepeated(argc, argv, reporter))
    {
        return 1;
    }
    if (!VTaskMgr::Get()->Init(nullptr))
    {
        return 1;
    }
    VRefPtr<VTask> server(new VTask(0, eTaskStylePreemptive,
                                    []
                                    {
                                        while (!VTask::GetCurrent()->IsDying())
                                        {
                                            VTask::GetCurrent()->WaitAndExecuteMessages();
                                        }
                                    }),
                          true);
    gServer = server.Get();
    server->Run();
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bench::PrintRatioTables(reporter.Times(), PrintRatios);
    benchmark::Shutdown();
    VTaskMgr::Get()->KillAllTasks(10000);
    VTaskMgr::Get()->DeInit();
    return 0;
}
