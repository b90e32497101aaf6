#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "tests/StringTestSupport.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
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

VString U16(const char16_t* inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText));
}

// A task that runs the DoRun loop, sleeping 1 ms per turn, and counts what the loop calls.
class LoopTask : public VTask
{
public:
    LoopTask() : VTask(0, eTaskStylePreemptive, {}) {}
    std::atomic<int> fTurns{0};
    std::atomic<int> fPrepareToDie{0};
    std::atomic<bool> fInited{false};
    std::atomic<bool> fDeInited{false};

protected:
    void DoInit() override { fInited = true; }
    bool DoRun() override
    {
        ++fTurns;
        VTask::Sleep(1);
        return true;
    }
    void DoDeInit() override { fDeInited = true; }
    void DoPrepareToDie() override { ++fPrepareToDie; }
};

// The task manager does not run: threads have foreign IDs and sleeping only yields.

TEST(TasksWithoutManager, ThreadsHaveStableForeignIDsAndSleepOnlyYields)
{
    ASSERT_FALSE(VTaskMgr::IsInited());
    int32_t mine = VTaskMgr::GetCurrentTaskID();
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), mine) << "stable";
    EXPECT_NE(mine, 0);
    EXPECT_EQ(mine & XLinuxTaskMgr::kForeignIDBit, XLinuxTaskMgr::kForeignIDBit);
    int32_t other = 0;
    std::thread([&] { other = VTaskMgr::GetCurrentTaskID(); }).join();
    EXPECT_NE(other, 0);
    EXPECT_NE(other, mine) << "each thread has its own";
    EXPECT_EQ(VTask::GetCurrent(), nullptr);

    auto start = Clock::now();
    VTask::Sleep(5000);
    EXPECT_LT(MillisecondsSince(start), 2500) << "no task: only yields";
}

class Tasks : public TaskManagerTest
{
};

TEST_F(Tasks, InitMakesTheCallingThreadTheMainTask)
{
    VTask* main = Main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(VTask::GetCurrent(), main);
    EXPECT_TRUE(VTask::IsCurrentMain());
    EXPECT_EQ(main->GetState(), TaskState_Running);
    EXPECT_EQ(main->GetID(), static_cast<int32_t>(::gettid()));
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), main->GetID());
    EXPECT_EQ(main->GetSystemID(), static_cast<int32_t>(::gettid()));
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    EXPECT_FALSE(VTaskMgr::Get()->Init(&fProcess)) << "already running";

    EXPECT_GT(main->GetStackSize(), 0u);
    EXPECT_LE(VTaskMgr::Get()->GetDefaultStackSize(), 1048576u);
    EXPECT_EQ(VTaskMgr::Get()->GetDefaultStackSize(),
              std::min<size_t>(VTaskMgr::Get()->GetStackSizeForMainTask(), 1048576));
    size_t free = VTaskMgr::GetCurrentFreeStackSize();
    EXPECT_GT(free, 0u);
    EXPECT_LT(free, main->GetStackSize());

    double user = -1;
    double system = -1;
    EXPECT_TRUE(main->GetCPUTimes(user, system));
    EXPECT_GE(user, 0);
    EXPECT_GE(system, 0);
    double usage = -1;
    EXPECT_TRUE(main->GetCPUUsage(usage));
    EXPECT_GE(usage, 0);

    // The main thread's system name is the process's name: naming the main task leaves it.
    char before[32] = {};
    char after[32] = {};
    ::pthread_getname_np(::pthread_self(), before, sizeof(before));
    main->SetName(U16(u"Main"));
    ::pthread_getname_np(::pthread_self(), after, sizeof(after));
    EXPECT_STREQ(before, after);

    // The no-op scheduler: everything returns at once; a fiber start is left to the task.
    IFiberScheduler* scheduler = VTaskMgr::Get()->RetainFiberScheduler();
    ASSERT_NE(scheduler, nullptr);
    bool handled = true;
    EXPECT_FALSE(scheduler->RunFiber(main, &handled));
    EXPECT_TRUE(handled);
    EXPECT_TRUE(scheduler->WithSystemEventPolling());
    scheduler->Release();
}

TEST_F(Tasks, TaskRunsIsKilledAndWaitedFor)
{
    VTime before(eInitWithCurrentTime);
    VRefPtr<LoopTask> task(new LoopTask(), true);
    VTime after(eInitWithCurrentTime);
    EXPECT_FALSE(task->GetCreationTime().IsNull());
    EXPECT_TRUE(before <= task->GetCreationTime() && task->GetCreationTime() <= after)
        << "made with the task";
    const int32_t id = task->GetID();
    EXPECT_NE(id, 0);
    EXPECT_EQ(id & XLinuxTaskMgr::kForeignIDBit, 0) << "task IDs are apart from foreign IDs";
    EXPECT_NE(id, Main()->GetID());
    EXPECT_EQ(VTaskMgr::Get()->GetTaskByID(id), nullptr) << "listed only once started";

    ASSERT_TRUE(task->Run());
    EXPECT_FALSE(task->Run()) << "a second Run";
    ASSERT_TRUE(WaitFor([&] { return task->fTurns > 0; }));
    EXPECT_TRUE(task->fInited);
    EXPECT_EQ(task->GetState(), TaskState_Running);
    EXPECT_EQ(task->GetSystemID(), id);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskByID(id), task.Get());
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 2);
    int ticks = -1;
    EXPECT_FALSE(task->IsDying(&ticks));
    EXPECT_EQ(ticks, 0);

    task->Kill();
    EXPECT_EQ(task->fPrepareToDie, 1);
    EXPECT_TRUE(task->IsDying());
    EXPECT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(task->GetState(), TaskState_Dead);
    EXPECT_TRUE(task->fDeInited);
    EXPECT_TRUE(task->IsDying(&ticks));
    EXPECT_GE(ticks, 0);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(true), 1) << "alive: only the main task";

    int32_t purgedBefore = VTaskMgr::Get()->GetPurgedTaskCount();
    VTaskMgr::Get()->PurgeDeadTasks();
    EXPECT_EQ(VTaskMgr::Get()->GetPurgedTaskCount(), purgedBefore + 1);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    EXPECT_EQ(VTaskMgr::Get()->RetainTaskByID(id), nullptr);
    EXPECT_EQ(task->GetRefCount(), 1u) << "the manager dropped its reference";
}

TEST_F(Tasks, StateEdges)
{
    // Kill before Run changes nothing; a WakeUp before Run does not start the task either.
    std::atomic<bool> ran{false};
    VRefPtr<VTask> waiting = NewTask([&] { ran = true; });
    waiting->Kill();
    EXPECT_EQ(waiting->GetState(), TaskState_Created);
    waiting->WakeUp();
    EXPECT_FALSE(waiting->WaitForDeath(50)) << "never started: the wait times out";
    EXPECT_FALSE(ran);
    EXPECT_EQ(waiting->GetState(), TaskState_Created);
    ASSERT_TRUE(waiting->Run());
    EXPECT_TRUE(waiting->WaitForDeath(10000)) << "a function task dies when its function returns";
    EXPECT_TRUE(ran);

    // A task never run is destroyed with its waiting thread.
    VRefPtr<VTask> neverRun = NewTask([] {});
    neverRun = nullptr;

    // Without fibers a fiber task has no platform task: it cannot run and the manager numbers it.
    VRefPtr<VTask> fiber(new VTask(0, eTaskStyleFiber, [] {}), true);
    EXPECT_EQ(fiber->GetPlatformTask(), nullptr);
    EXPECT_LT(fiber->GetID(), 0);
    EXPECT_FALSE(fiber->Run());
    EXPECT_EQ(fiber->GetState(), TaskState_Created);
}

TEST_F(Tasks, WaitingForDeath)
{
    // A task waiting for itself is told no at once.
    std::atomic<int> self{-1};
    std::atomic<int64_t> selfMs{-1};
    VRefPtr<VTask> loner = NewTask(
        [&]
        {
            auto start = Clock::now();
            self = VTask::GetCurrent()->WaitForDeath(60000) ? 1 : 0;
            selfMs = MillisecondsSince(start);
        });
    ASSERT_TRUE(loner->Run());
    ASSERT_TRUE(loner->WaitForDeath(10000));
    EXPECT_EQ(self, 0);
    EXPECT_LT(selfMs, 5000);

    // The main task waits (reason 8) until a task dies; the death ends the wait.
    VTask* main = Main();
    VRefPtr<VTask> watcher =
        NewTask([main] { WaitFor([main] { return main->GetWaitReason() == eTaskWaitReason_Death; }); });
    ASSERT_TRUE(watcher->Run());
    auto start = Clock::now();
    EXPECT_TRUE(watcher->WaitForDeath(60000));
    EXPECT_LT(MillisecondsSince(start), 30000);
    EXPECT_EQ(main->GetWaitReason(), eTaskWaitReason_None);
    EXPECT_TRUE(watcher->WaitForDeath(0)) << "already dead";
}

TEST_F(Tasks, KillAllTasksOnlyFromTheMainTask)
{
    VRefPtr<VTask> worker = NewTask(
        []
        {
            while (!VTask::GetCurrent()->IsDying())
            {
                VTask::Sleep(1);
            }
        });
    ASSERT_TRUE(worker->Run());
    ASSERT_TRUE(WaitFor([&] { return worker->GetState() == TaskState_Running; }));
    std::atomic<int> fromTask{-1};
    VRefPtr<VTask> killer = NewTask([&] { fromTask = VTaskMgr::Get()->KillAllTasks(0) ? 1 : 0; });
    ASSERT_TRUE(killer->Run());
    ASSERT_TRUE(killer->WaitForDeath(10000));
    EXPECT_EQ(fromTask, 0) << "not alone, and not the main task";
    EXPECT_EQ(worker->GetState(), TaskState_Running) << "nothing was killed";

    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
    EXPECT_EQ(worker->GetState(), TaskState_Dead);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
}

struct DataLog
{
    std::atomic<int> fDestroyed{0};
    std::atomic<void*> fLast{nullptr};
};
DataLog gKeptKey;
DataLog gDeletedKey;

TEST_F(Tasks, DataKeyDestructorsRunAtTaskExit)
{
    gKeptKey.fDestroyed = 0;
    gDeletedKey.fDestroyed = 0;
    VTaskMgr* manager = VTaskMgr::Get();
    VTaskDataKey kept = manager->CreateDataKey(
        [](void* inData)
        {
            ++gKeptKey.fDestroyed;
            gKeptKey.fLast = inData;
        });
    VTaskDataKey deleted = manager->CreateDataKey([](void*) { ++gDeletedKey.fDestroyed; });
    VTaskDataKey plain = manager->CreateDataKey(nullptr);
    EXPECT_GE(kept, 1u);
    EXPECT_TRUE(manager->CheckDataKey(plain));
    EXPECT_FALSE(manager->CheckDataKey(0));

    static int value = 0;
    static int other = 0;
    std::atomic<bool> readBack{false};
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            EXPECT_EQ(VTask::GetCurrentData(kept), nullptr) << "unset";
            EXPECT_TRUE(VTask::SetCurrentData(plain, &other));
            EXPECT_TRUE(VTask::SetCurrentData(kept, &value));
            EXPECT_TRUE(VTask::SetCurrentData(deleted, &other));
            EXPECT_FALSE(VTask::SetCurrentData(0, &value));
            readBack = VTask::GetCurrentData(kept) == &value && VTask::GetCurrentData(plain) == &other &&
                       VTask::GetCurrentData(0) == nullptr && VTask::GetCurrentData(plain + 50) == nullptr;
            VTaskMgr::Get()->DeleteDataKey(deleted);
        });
    EXPECT_EQ(VTask::GetCurrentData(kept), nullptr) << "the main task's data is its own";
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_TRUE(readBack);
    EXPECT_EQ(gKeptKey.fDestroyed, 1);
    EXPECT_EQ(gKeptKey.fLast, &value);
    EXPECT_EQ(gDeletedKey.fDestroyed, 0) << "a deleted key's destructor does not run";

    // A deleted key is handed out again.
    EXPECT_FALSE(manager->CheckDataKey(deleted));
    EXPECT_EQ(manager->CreateDataKey(nullptr), deleted);
    manager->DeleteDataKey(deleted);
    manager->DeleteDataKey(plain);

    // The main task's data is disposed of by DeInit.
    EXPECT_TRUE(VTask::SetCurrentData(kept, &other));
    EXPECT_TRUE(manager->KillAllTasks(10000));
    manager->DeInit();
    EXPECT_EQ(gKeptKey.fDestroyed, 2);
    EXPECT_EQ(gKeptKey.fLast, &other);
    manager->DeleteDataKey(kept);
}

// The main task has a semaphore of its own: it really sleeps, and WakeUp ends the sleep early.
TEST_F(Tasks, MainTaskSleepsAndWakeUpCutsItShort)
{
    VTask* main = Main();
    auto start = Clock::now();
    VTask::Sleep(200);
    EXPECT_GE(MillisecondsSince(start), 190);
    EXPECT_EQ(main->GetWaitReason(), eTaskWaitReason_None);

    std::thread waker(
        [main]
        {
            if (WaitFor([main] { return main->GetWaitReason() == eTaskWaitReason_Sleep; }))
            {
                main->WakeUp();
            }
        });
    start = Clock::now();
    VTask::Sleep(60000);
    EXPECT_LT(MillisecondsSince(start), 30000);
    waker.join();
    EXPECT_EQ(main->GetWaitReason(), eTaskWaitReason_None);
}

TEST_F(Tasks, ThreadNames)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fName;
        int32_t fID;
        const char* fFull;
        const char* fSystem;
    };
    const Row rows[] = {
        {"the system keeps 15 bytes", u"Worker", 12, "Worker (id = 12)", "Worker (id = 12"},
        {"short enough", u"Log", 7, "Log (id = 7)", "Log (id = 7)"},
        {"no name", u"", 5, " (id = 5)", " (id = 5)"},
        {"cut before a character that does not fit", u"abcdefghijklmn\u00e9", 1,
         "abcdefghijklmn\xC3\xA9 (id = 1)", "abcdefghijklmn"},
        {"a pair of surrogates is one character", u"\U0001F600", 3, "\xF0\x9F\x98\x80 (id = 3)",
         "\xF0\x9F\x98\x80 (id = 3)"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        std::string full = XLinuxTaskMgr::BuildThreadName(U16(row.fName), row.fID);
        EXPECT_EQ(full, row.fFull);
        EXPECT_EQ(XLinuxTaskMgr::CutToSystemThreadName(full), row.fSystem);
    }

    // A task's thread carries the cut name; the task keeps the full one.
    const VString longName = U16(u"A rather long task name");
    ASSERT_GT(longName.GetLength(), 15);
    std::string seen;
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            char name[32] = {};
            ::pthread_getname_np(::pthread_self(), name, sizeof(name));
            seen = name;
        });
    task->SetName(longName);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(seen,
              XLinuxTaskMgr::CutToSystemThreadName(XLinuxTaskMgr::BuildThreadName(longName, task->GetID())));
    VString kept;
    task->GetName(kept);
    EXPECT_EQ(Text(kept), u"A rather long task name");
}

TEST_F(Tasks, TaskStackAndForeignThreads)
{
    std::atomic<size_t> free{0};
    std::atomic<int32_t> seenID{0};
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            free = VTaskMgr::GetCurrentFreeStackSize();
            seenID = VTaskMgr::GetCurrentTaskID();
        });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_GT(free.load(), 0u);
    EXPECT_LE(free.load(), task->GetStackSize());
    EXPECT_EQ(seenID, task->GetID());

    // A plain thread keeps a foreign ID while the manager runs.
    int32_t foreign = 0;
    VTask* current = Main();
    std::thread(
        [&]
        {
            foreign = VTaskMgr::GetCurrentTaskID();
            current = VTask::GetCurrent();
        })
        .join();
    EXPECT_EQ(current, nullptr);
    EXPECT_EQ(foreign & XLinuxTaskMgr::kForeignIDBit, XLinuxTaskMgr::kForeignIDBit);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskByID(foreign), nullptr);
}

// 64 tasks, half looping in DoRun and half in a function, are created, run, killed (some while
// still starting, some one by one, the rest all at once) and purged, round after round. Every
// task object must be gone at the end of each round: its thread joined, nothing leaked.
std::atomic<int> gLiveStressTasks{0};

class StressTask : public VTask
{
public:
    explicit StressTask(std::function<void()>&& inBody) : VTask(0, eTaskStylePreemptive, std::move(inBody))
    {
        ++gLiveStressTasks;
    }
    ~StressTask() override { --gLiveStressTasks; }

protected:
    bool DoRun() override
    {
        VTask::Sleep(1);
        return true;
    }
};

TEST_F(Tasks, ManyTasksCreatedRunKilledAndPurgedRepeatedly)
{
    constexpr int kTasks = 64;
    constexpr int kRounds = 6;
    VTaskMgr* manager = VTaskMgr::Get();
    const int32_t purgedBefore = manager->GetPurgedTaskCount();
    for (int round = 0; round < kRounds; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<VRefPtr<VTask>> tasks;
        std::set<int32_t> ids;
        for (int i = 0; i < kTasks; ++i)
        {
            std::function<void()> body;
            if (i % 2 == 0)
            {
                body = []
                {
                    while (!VTask::GetCurrent()->IsDying())
                    {
                        VTask::Sleep(1);
                    }
                };
            }
            tasks.emplace_back(new StressTask(std::move(body)), true);
            ids.insert(tasks.back()->GetID());
        }
        EXPECT_EQ(ids.size(), static_cast<size_t>(kTasks)) << "IDs are unique";
        EXPECT_EQ(ids.count(0), 0u);
        for (int i = 0; i < kTasks; ++i)
        {
            ASSERT_TRUE(tasks[i]->Run());
            if (i % 4 == 1)
            {
                tasks[i]->Kill(); // very likely still starting
            }
        }
        EXPECT_EQ(manager->GetTaskCount(false), kTasks + 1);
        for (int i = 0; i < kTasks / 2; ++i)
        {
            tasks[i]->Kill();
            EXPECT_TRUE(tasks[i]->WaitForDeath(10000));
        }
        tasks.clear();
        EXPECT_TRUE(manager->KillAllTasks(20000));
        EXPECT_EQ(manager->GetTaskCount(false), 1);
        EXPECT_EQ(gLiveStressTasks, 0) << "every task object is gone";
    }
    EXPECT_EQ(manager->GetPurgedTaskCount() - purgedBefore, kTasks * kRounds);
}

} // namespace
