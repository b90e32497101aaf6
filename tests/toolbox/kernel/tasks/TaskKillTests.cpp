// Ending tasks: a kill wakes the task from its waits, KillAllTasks prepares each task once and
// waits without spinning, and the task operations the process layer uses.
#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/tasks/VActivityToken.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/resource.h>
#include <thread>

using namespace zorn;
using namespace zorn::test;
using namespace std::chrono_literals;

namespace
{

class TaskKills : public TaskManagerTest
{
};

// Takes a while to clean up once asked to die.
class SlowToDieTask : public VTask
{
public:
    SlowToDieTask() : VTask(0, eTaskStylePreemptive, {}) {}
    std::atomic<int> fPrepareToDie{0};

protected:
    bool DoRun() override
    {
        VTask::Sleep(1);
        return true;
    }
    void DoDeInit() override { std::this_thread::sleep_for(60ms); }
    void DoPrepareToDie() override { ++fPrepareToDie; }
};

double ThreadCPUSeconds()
{
    struct rusage usage
    {
    };
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CountingTokensProcess : public BareProcess
{
public:
    void RegisterActivityToken(VActivityToken*) override { ++fTokens; }
    void UnregisterActivityToken(VActivityToken*) override { --fTokens; }
    std::atomic<int> fTokens{0};
};

} // namespace

TEST_F(TaskKills, AKilledTaskWakesFromItsMessageWaitAndItsSleep)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fWaitReason;
        std::function<void()> fWait;
    };
    const Row rows[] = {
        {"WaitAndExecuteMessages(10000)", eTaskWaitReason_Message,
         [] { VTask::GetCurrent()->WaitAndExecuteMessages(10000); }},
        {"Sleep(10000)", eTaskWaitReason_Sleep, [] { VTask::Sleep(10000); }},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VTask> task = NewTask(row.fWait);
        ASSERT_TRUE(task->Run());
        ASSERT_TRUE(WaitFor([&] { return task->GetWaitReason() == row.fWaitReason; })) << row.fWhat;
        const auto start = Clock::now();
        task->Kill();
        ASSERT_TRUE(task->WaitForDeath(10000)) << row.fWhat;
        EXPECT_LT(MillisecondsSince(start), 50) << row.fWhat;
    }
}

TEST_F(TaskKills, KillAllTasksPreparesEachTaskOnceAndWaitsForItsDeath)
{
    VRefPtr<SlowToDieTask> task(new SlowToDieTask(), true);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return task->GetState() == TaskState_Running; }));
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
    EXPECT_EQ(task->GetState(), TaskState_Dead);
    EXPECT_EQ(task->fPrepareToDie.load(), 1) << "the task took several turns of the wait to die";
}

TEST_F(TaskKills, KillAllTasksAgainstAStubbornTaskLeavesTheProcessorAlone)
{
    std::atomic<bool> release{false};
    VRefPtr<VTask> stubborn = NewTask(
        [&]
        {
            while (!release.load())
            {
                std::this_thread::sleep_for(2ms);
            }
        });
    ASSERT_TRUE(stubborn->Run());
    ASSERT_TRUE(WaitFor([&] { return stubborn->GetState() == TaskState_Running; }));
    const double cpuBefore = ThreadCPUSeconds();
    const auto start = Clock::now();
    EXPECT_FALSE(VTaskMgr::Get()->KillAllTasks(1000));
    const double wall = static_cast<double>(MillisecondsSince(start)) / 1000;
    EXPECT_GE(wall, 0.99);
    EXPECT_LT(ThreadCPUSeconds() - cpuBefore, 0.1 * wall) << "under 10 % of a core while waiting";
    release = true;
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
}

TEST(TaskManagerInit, InitAndDeInitRefusedWhileTheCallingThreadHoldsACriticalSection)
{
    BareProcess process;
    IProcessServices::Set(&process);
    VCriticalSection section;
    section.Lock();
    EXPECT_FALSE(VTaskMgr::Get()->Init(&process)) << "the section's owner would be lost";
    EXPECT_FALSE(VTaskMgr::IsInited());
    section.Unlock();

    // Held by another thread, a section does not stand in the way.
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder(
        [&]
        {
            section.Lock();
            held = true;
            while (!release)
            {
                std::this_thread::sleep_for(1ms);
            }
            section.Unlock();
        });
    ASSERT_TRUE(WaitFor([&] { return held.load(); }));
    ASSERT_TRUE(VTaskMgr::Get()->Init(&process));
    release = true;
    holder.join();

    section.Lock();
    EXPECT_EQ(section.GetOwnerID(), static_cast<uint32_t>(VTaskMgr::Get()->GetMainTask()->GetID()));
    EXPECT_TRUE(section.TryToLock()) << "the main task owns it";
    section.Unlock();

    // Stopping is refused the same way, at any depth: the section records the main task's ID,
    // which stops being the thread's ID with DeInit.
    EXPECT_FALSE(VTaskMgr::Get()->DeInit()) << "the section's owner would be lost";
    EXPECT_TRUE(VTaskMgr::IsInited());
    EXPECT_EQ(VTask::GetCurrent(), VTaskMgr::Get()->GetMainTask());
    section.Unlock();
    EXPECT_TRUE(VTaskMgr::Get()->DeInit());
    EXPECT_FALSE(VTaskMgr::IsInited());
    EXPECT_FALSE(VTaskMgr::Get()->DeInit()) << "not running";
    IProcessServices::Set(nullptr);
}

TEST_F(TaskKills, IsDyingOfATaskOrTheCurrentOneTheKindAndGivingUpTheActivityToken)
{
    CountingTokensProcess process;
    IProcessServices::Set(&process);
    std::atomic<bool> dyingSeen{false};
    std::atomic<bool> tokenGiven{false};
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            EXPECT_FALSE(VTask::IsDying(static_cast<VTask*>(nullptr)));
            VTask::ReleaseCurrentActivityToken();
            tokenGiven = true;
            while (!VTask::IsDying(static_cast<VTask*>(nullptr)))
            {
                VTask::Sleep(1);
            }
            dyingSeen = true;
        });
    task->SetKind(MakeOsType('L', 'O', 'G', 'G'));
    EXPECT_EQ(task->GetKind(), MakeOsType('L', 'O', 'G', 'G'));
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(WaitFor([&] { return tokenGiven.load(); }));
    EXPECT_EQ(process.fTokens.load(), 0) << "the task no longer keeps the process busy";
    EXPECT_FALSE(VTask::IsDying(task.Get()));
    task->Kill();
    EXPECT_TRUE(VTask::IsDying(task.Get()));
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_TRUE(dyingSeen.load());
    bool onForeignThread = true;
    std::thread([&] { onForeignThread = VTask::IsDying(static_cast<VTask*>(nullptr)); }).join();
    EXPECT_FALSE(onForeignThread) << "no task, not dying";
    IProcessServices::Set(&fProcess);
}
