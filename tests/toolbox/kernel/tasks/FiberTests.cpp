// Cooperative tasks under a round-robin scheduler: one fiber of a group at a time, events waited
// and set across fibers and threads, sleeps, a fiber the scheduler drops, and the platform side
// (fiber threads, their names and CPU times).
#include "tests/toolbox/kernel/FiberTestSupport.h"

#include "toolbox/kernel/linux/XLinuxFiber.h"
#include "toolbox/kernel/linux/XLinuxTask.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/messages/VFunctionMessage.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>
#include <pthread.h>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zorn;
using namespace zorn::test;
using namespace std::chrono_literals;

namespace
{

class Fibers : public FiberTaskTest
{
protected:
    // The host lets the group run until inCondition holds (through the scheduler, never blocking
    // its thread outside it); whether it held within 10 s.
    static bool YieldUntil(const std::function<bool()>& inCondition)
    {
        auto deadline = Clock::now() + 10s;
        while (!inCondition())
        {
            if (Clock::now() >= deadline)
            {
                return false;
            }
            VTask::Sleep(1);
        }
        return true;
    }
};

double CPUSeconds(VTask* inTask)
{
    double user = 0;
    double system = 0;
    return inTask->GetCPUTimes(user, system) ? user + system : -1;
}

// Keeps the calling thread busy for inSeconds of its own processor time.
void Burn(double inSeconds)
{
    timespec start{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    volatile uint64_t sink = 0;
    for (;;)
    {
        for (int i = 0; i < 100000; ++i)
        {
            sink = sink + static_cast<uint64_t>(i);
        }
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        if (static_cast<double>(now.tv_sec - start.tv_sec) +
                static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9 >=
            inSeconds)
        {
            return;
        }
    }
}

// A fiber task of the DoRun loop that sleeps long on every turn.
class SleepyFiber : public VTask
{
public:
    SleepyFiber() : VTask(0, eTaskStyleFiber, {}) {}
    int fTurns = 0;
    bool fDeInited = false;

protected:
    bool DoRun() override
    {
        ++fTurns;
        VTask::Sleep(20000);
        return true;
    }
    void DoDeInit() override { fDeInited = true; }
};

} // namespace

TEST_F(Fibers, KillAllTasksEndsSleepingFiberLoops)
{
    std::vector<VRefPtr<SleepyFiber>> fibers;
    for (int i = 0; i < 2; ++i)
    {
        fibers.emplace_back(new SleepyFiber(), true);
        ASSERT_TRUE(fibers.back()->Run());
    }
    ASSERT_TRUE(YieldUntil(
        [&]
        {
            return std::all_of(fibers.begin(), fibers.end(),
                               [](auto& f) { return f->GetWaitReason() == eTaskWaitReason_Sleep; });
        }));
    auto start = Clock::now();
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
    EXPECT_LT(MillisecondsSince(start), 10000) << "the kill cuts the sleeps short";
    for (auto& fiber : fibers)
    {
        EXPECT_EQ(fiber->GetState(), TaskState_Dead);
        EXPECT_EQ(fiber->fTurns, 1);
        EXPECT_TRUE(fiber->fDeInited);
    }
}

TEST_F(Fibers, OneFiberOfAGroupRunsAtATime)
{
    constexpr int kFibers = 3;
    constexpr int kTurns = 300;
    // Touched without locks: only the hand-offs order the fibers' accesses.
    int counter = 0;
    int inside = 0;
    bool overlapped = false;
    std::set<pthread_t> threads;
    std::vector<VRefPtr<VTask>> fibers;
    for (int f = 0; f < kFibers; ++f)
    {
        fibers.push_back(NewFiber(
            [&]
            {
                threads.insert(::pthread_self());
                for (int turn = 0; turn < kTurns; ++turn)
                {
                    overlapped = overlapped || ++inside != 1;
                    counter = counter + 1;
                    --inside;
                    VTaskMgr::Yield();
                }
            }));
    }
    for (auto& fiber : fibers)
    {
        EXPECT_TRUE(fiber->IsFiber());
        EXPECT_FALSE(fiber->IsPreemptive());
        ASSERT_NE(dynamic_cast<XLinuxTask_fiber*>(fiber->GetPlatformTask()), nullptr);
        EXPECT_LT(fiber->GetID(), 0) << "numbered by the manager";
        ASSERT_TRUE(fiber->Run());
        EXPECT_FALSE(fiber->Run()) << "a second Run";
    }
    EXPECT_FALSE(Main()->IsPreemptive()) << "with fibers, the main task is cooperative too";
    for (auto& fiber : fibers)
    {
        ASSERT_TRUE(fiber->WaitForDeath(20000));
    }
    EXPECT_EQ(counter, kFibers * kTurns);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(threads.size(), static_cast<size_t>(kFibers)) << "a thread per fiber";
    EXPECT_FALSE(threads.count(::pthread_self()));
    EXPECT_GE(fScheduler->CountSwitches(), kFibers * kTurns);
    EXPECT_TRUE(YieldUntil([&] { return fScheduler->CountMembers() == 1; })) << "the dead leave the group";
}

TEST_F(Fibers, EventsWaitAndWakeBetweenFibers)
{
    VRefPtr<VSyncEvent> event(new VSyncEvent(), true);
    std::vector<std::string> steps;
    bool waiterSawSet = false;
    VRefPtr<VTask> waiter = NewFiber(
        [&]
        {
            steps.push_back("wait");
            waiterSawSet = event->Lock() && event->IsSet();
            steps.push_back("woken");
        });
    VRefPtr<VTask> setter = NewFiber(
        [&]
        {
            // The waiter has the baton only through the scheduler: it waits cooperatively.
            while (event->GetFiberWaiterCount() == 0)
            {
                VTaskMgr::Yield();
            }
            steps.push_back("set");
            event->Unlock();
        });
    ASSERT_TRUE(waiter->Run());
    ASSERT_TRUE(setter->Run());
    ASSERT_TRUE(waiter->WaitForDeath(10000));
    ASSERT_TRUE(setter->WaitForDeath(10000));
    EXPECT_EQ(steps, (std::vector<std::string>{"wait", "set", "woken"}));
    EXPECT_TRUE(waiterSawSet);
    EXPECT_EQ(event->GetFiberWaiterCount(), 0);

    // Timed waits: one ended by a set, one by its time.
    VRefPtr<VSyncEvent> never(new VSyncEvent(), true);
    VRefPtr<VSyncEvent> soon(new VSyncEvent(), true);
    int64_t timedOutMs = -1;
    bool timedOut = true;
    bool got = false;
    int64_t gotMs = -1;
    VRefPtr<VTask> timed = NewFiber(
        [&]
        {
            auto start = Clock::now();
            timedOut = never->Lock(80);
            timedOutMs = MillisecondsSince(start);
            start = Clock::now();
            got = soon->Lock(20000);
            gotMs = MillisecondsSince(start);
        });
    ASSERT_TRUE(timed->Run());
    ASSERT_TRUE(YieldUntil([&] { return soon->GetFiberWaiterCount() == 1; }));
    soon->Unlock(); // by the host, another member of the group
    ASSERT_TRUE(timed->WaitForDeath(10000));
    EXPECT_FALSE(timedOut);
    EXPECT_GE(timedOutMs, 79);
    EXPECT_TRUE(got);
    EXPECT_LT(gotMs, 10000);
    EXPECT_FALSE(never->Lock(0)) << "0 only checks";
}

TEST_F(Fibers, EventsWaitAndWakeBetweenAFiberAndAThread)
{
    // The fiber waits while every member of the group waits too (the host waits for its death):
    // only the thread's set, told to the scheduler, lets the group go on.
    VRefPtr<VSyncEvent> toFiber(new VSyncEvent(), true);
    VRefPtr<VSyncEvent> toThread(new VSyncEvent(), true);
    std::atomic<bool> fiberWoken{false};
    std::atomic<bool> threadWoken{false};
    VRefPtr<VTask> fiber = NewFiber(
        [&]
        {
            toFiber->Lock();
            fiberWoken = true;
            toThread->Unlock();
        });
    VRefPtr<VTask> thread = NewThreadTask(
        [&]
        {
            // A preemptive task waits on its thread.
            EXPECT_TRUE(WaitFor([&] { return toFiber->GetFiberWaiterCount() == 1; }));
            toFiber->Unlock();
            threadWoken = toThread->Lock(20000);
        });
    ASSERT_TRUE(fiber->Run());
    ASSERT_TRUE(thread->Run());
    ASSERT_TRUE(fiber->WaitForDeath(20000));
    ASSERT_TRUE(thread->WaitForDeath(20000));
    EXPECT_TRUE(fiberWoken);
    EXPECT_TRUE(threadWoken);

    // Messages between the two kinds: a thread task sends to a fiber, which answers on its turn.
    std::atomic<int32_t> ranOn{0};
    VRefPtr<VTask> server = NewFiber(
        []
        {
            while (!VTask::GetCurrent()->IsDying())
            {
                VTask::GetCurrent()->WaitAndExecuteMessages();
            }
        });
    ASSERT_TRUE(server->Run());
    std::atomic<bool> answered{false};
    VRefPtr<VTask> client = NewThreadTask(
        [&] {
            answered =
                VFunctionMessage::PostToAndWait(server.Get(), [&] { ranOn = VTaskMgr::GetCurrentTaskID(); });
        });
    ASSERT_TRUE(client->Run());
    ASSERT_TRUE(client->WaitForDeath(20000));
    EXPECT_TRUE(answered);
    EXPECT_EQ(ranOn, server->GetID());

    // And a fiber of the same group, whose wait for the answer lets the server run.
    ranOn = 0;
    answered = false;
    VRefPtr<VTask> fiberClient = NewFiber(
        [&] {
            answered =
                VFunctionMessage::PostToAndWait(server.Get(), [&] { ranOn = VTaskMgr::GetCurrentTaskID(); });
        });
    ASSERT_TRUE(fiberClient->Run());
    ASSERT_TRUE(fiberClient->WaitForDeath(20000));
    EXPECT_TRUE(answered);
    EXPECT_EQ(ranOn, server->GetID());
    server->Kill();
    EXPECT_TRUE(server->WaitForDeath(20000)) << "a kill wakes the fiber's message wait";
}

TEST_F(Fibers, ACriticalSectionHeldByAnotherFiberIsWaitedForCooperatively)
{
    // A blocked thread would keep the holder, a fiber of the same group, from ever running.
    VCriticalSection section;
    std::vector<std::string> steps;
    bool trying = false;
    VRefPtr<VTask> holder = NewFiber(
        [&]
        {
            section.Lock();
            steps.push_back("held");
            while (!trying)
            {
                VTaskMgr::Yield();
            }
            for (int i = 0; i < 3; ++i)
            {
                VTaskMgr::Yield();
            }
            steps.push_back("released");
            section.Unlock();
        });
    VRefPtr<VTask> contender = NewFiber(
        [&]
        {
            trying = true;
            section.Lock();
            steps.push_back("taken");
            EXPECT_EQ(section.GetOwnerID(), static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()));
            section.Unlock();
        });
    ASSERT_TRUE(holder->Run());
    ASSERT_TRUE(contender->Run());
    ASSERT_TRUE(holder->WaitForDeath(20000));
    ASSERT_TRUE(contender->WaitForDeath(20000));
    EXPECT_EQ(steps, (std::vector<std::string>{"held", "released", "taken"}));
    EXPECT_EQ(section.GetRecursionCount(), 0);
}

TEST_F(Fibers, SleepEndsWithItsTimeOrAWakeUp)
{
    int64_t shortMs = -1;
    int64_t longMs = -1;
    VRefPtr<VTask> sleeper = NewFiber(
        [&]
        {
            auto start = Clock::now();
            VTask::Sleep(60);
            shortMs = MillisecondsSince(start);
            start = Clock::now();
            VTask::Sleep(20000);
            longMs = MillisecondsSince(start);
        });
    ASSERT_TRUE(sleeper->Run());
    ASSERT_TRUE(
        YieldUntil([&] { return shortMs >= 0 && sleeper->GetWaitReason() == eTaskWaitReason_Sleep; }));
    sleeper->WakeUp();
    ASSERT_TRUE(sleeper->WaitForDeath(10000));
    EXPECT_GE(shortMs, 59);
    EXPECT_LT(longMs, 10000) << "cut short by WakeUp";
    EXPECT_EQ(sleeper->GetWaitReason(), eTaskWaitReason_None);

    // A wake that comes before the sleep ends it at once, as for a thread's semaphore.
    int64_t afterWakeMs = -1;
    bool woken = false;
    VRefPtr<VTask> early = NewFiber(
        [&]
        {
            while (!woken)
            {
                VTaskMgr::Yield();
            }
            auto start = Clock::now();
            VTask::Sleep(20000);
            afterWakeMs = MillisecondsSince(start);
        });
    ASSERT_TRUE(early->Run());
    woken = true;
    early->WakeUp();
    ASSERT_TRUE(early->WaitForDeath(10000));
    EXPECT_LT(afterWakeMs, 10000);
}

TEST_F(Fibers, AFiberThatStopsBeingScheduledDies)
{
    VRefPtr<VSyncEvent> never(new VSyncEvent(), true);
    bool passed = false;
    VRefPtr<VTask> stuck = NewFiber(
        [&]
        {
            never->Lock();
            passed = true;
        });
    ASSERT_TRUE(stuck->Run());
    ASSERT_TRUE(YieldUntil([&] { return never->GetFiberWaiterCount() == 1; }));
    EXPECT_EQ(stuck->GetState(), TaskState_Running);

    // The calling task itself is never declared dead.
    VTaskMgr::Get()->FiberStoppedBeingScheduled(Main());
    EXPECT_EQ(Main()->GetState(), TaskState_Running);

    fScheduler->StopScheduling(stuck.Get());
    EXPECT_EQ(stuck->GetState(), TaskState_Dead);
    EXPECT_TRUE(stuck->IsDying());
    EXPECT_TRUE(stuck->WaitForDeath(10000));
    EXPECT_FALSE(VFunctionMessage::PostFunctionTo(stuck.Get(), [] {})) << "its queue is closed";
    EXPECT_FALSE(VFunctionMessage::PostToAndWait(
        stuck.Get(), [] {}, 10000))
        << "a sender is not kept waiting";
    VTaskMgr::Get()->PurgeDeadTasks();
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(), 1);
    // The fiber's thread stays parked; the set it waited for never reaches it.
    never->Unlock();
    EXPECT_FALSE(passed);
    stuck = nullptr;
}

TEST_F(Fibers, PlatformTasksNamesAndCPUTimes)
{
    // Style 3 has a fiber platform task only in a process with fibers; style 1 a thread.
    XLinuxTaskMgr platform;
    VRefPtr<VTask> probe = NewFiber([] {});
    struct Case
    {
        const char* fWhat;
        bool fFibersEnabled;
        ETaskStyle fStyle;
        bool fFiberTask;
    };
    const Case cases[] = {
        {"fibers enabled, fiber style", true, eTaskStyleFiber, true},
        {"fibers off, fiber style: none", false, eTaskStyleFiber, false},
        {"fibers off, an unknown style: none", false, static_cast<ETaskStyle>(2), false},
        {"fibers enabled, an unknown style: none", true, static_cast<ETaskStyle>(2), false},
    };
    for (const Case& c : cases)
    {
        platform.SetFibersEnabled(c.fFibersEnabled);
        std::unique_ptr<XLinuxTask> made(platform.Create(probe.Get(), c.fStyle));
        EXPECT_EQ(dynamic_cast<XLinuxTask_fiber*>(made.get()) != nullptr, c.fFiberTask) << c.fWhat;
        EXPECT_EQ(made != nullptr, c.fFiberTask) << c.fWhat;
    }

    // A fiber's thread is named after its task; CPU times rise with work, for both kinds.
    std::string name;
    double before = -1;
    double after = -1;
    double usage = -1;
    VRefPtr<VTask> worker = NewFiber(
        [&]
        {
            char buffer[32] = {};
            ::pthread_getname_np(::pthread_self(), buffer, sizeof(buffer));
            name = buffer;
            VTask* self = VTask::GetCurrent();
            before = CPUSeconds(self);
            Burn(0.1);
            after = CPUSeconds(self);
            self->GetCPUUsage(usage);
        });
    worker->SetName(VString("Worker"));
    ASSERT_TRUE(worker->Run());
    ASSERT_TRUE(worker->WaitForDeath(20000));
    EXPECT_EQ(name, XLinuxTaskMgr::CutToSystemThreadName(
                        XLinuxTaskMgr::BuildThreadName(VString("Worker"), worker->GetID())));
    EXPECT_EQ(name.rfind("Worker (id = -", 0), 0u) << name;
    EXPECT_GE(before, 0);
    EXPECT_GE(after, before + 0.05);
    EXPECT_GT(usage, 0);

    double threadBefore = -1;
    double threadAfter = -1;
    VRefPtr<VTask> thread = NewThreadTask(
        [&]
        {
            threadBefore = CPUSeconds(VTask::GetCurrent());
            Burn(0.1);
            threadAfter = CPUSeconds(VTask::GetCurrent());
        });
    ASSERT_TRUE(thread->Run());
    ASSERT_TRUE(thread->WaitForDeath(20000));
    EXPECT_GE(threadBefore, 0);
    EXPECT_GE(threadAfter, threadBefore + 0.05);

    // Control passes only within a group: not to a thread task, a fiber that never ran, a
    // finished one, nobody or oneself.
    VRefPtr<VTask> unstarted = NewFiber([] {});
    EXPECT_FALSE(VTaskMgr::Get()->YieldToFiber(thread.Get()));
    EXPECT_FALSE(VTaskMgr::Get()->YieldToFiber(unstarted.Get()));
    EXPECT_FALSE(VTaskMgr::Get()->YieldToFiber(worker.Get()));
    EXPECT_FALSE(VTaskMgr::Get()->YieldToFiber(nullptr));
    EXPECT_FALSE(VTaskMgr::Get()->YieldToFiber(Main()));
}

TEST(FiberObjects, StacksAreWholePages)
{
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t least = XLinuxTask::RoundStackSize(0);
    EXPECT_GE(least, static_cast<size_t>(PTHREAD_STACK_MIN));
    EXPECT_EQ(least % page, 0u);
    EXPECT_EQ(XLinuxTask::RoundStackSize(1), least);
    EXPECT_EQ(XLinuxTask::RoundStackSize(64 * page), 64 * page);
    EXPECT_EQ(XLinuxTask::RoundStackSize(64 * page + 1), 65 * page);
}

TEST(FiberObjects, HandOffsBetweenThreadsAndFibersThatNeverRan)
{
    constexpr size_t kStack = 256 * 1024;
    // Two fibers and the test's thread pass control around a ring; one fiber is never started.
    std::unique_ptr<XLinuxFiber> self(XLinuxFiber::CreateFiberForThread());
    ASSERT_NE(self, nullptr);
    std::vector<int> order;
    XLinuxFiber* second = nullptr;
    std::unique_ptr<XLinuxFiber> first(
        XLinuxFiber::Create(kStack,
                            [&]
                            {
                                order.push_back(1);
                                second->WakeUp(); // finishing: hands over without waiting
                            }));
    std::unique_ptr<XLinuxFiber> secondOwner(XLinuxFiber::Create(kStack + 1,
                                                                 [&]
                                                                 {
                                                                     order.push_back(2);
                                                                     self->WakeUp();
                                                                 }));
    second = secondOwner.get();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(first->IsFinished());
    self->YieldTo(first.get());
    order.push_back(3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    self->YieldTo(self.get()); // to itself: returns at once
    self->YieldTo(nullptr);
    first.reset();
    secondOwner.reset();

    bool ran = false;
    std::unique_ptr<XLinuxFiber> idle(XLinuxFiber::Create(kStack, [&] { ran = true; }));
    idle.reset(); // its thread ends without running the function
    EXPECT_FALSE(ran);
}
