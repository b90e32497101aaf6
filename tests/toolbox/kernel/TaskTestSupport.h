// Shared pieces of the task tests: a process object without services, a fixture that runs the
// task manager for each test, and a wait for a condition that another thread makes true.
#pragma once

#include "tests/TestTime.h"

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace zorn::test
{

class BareProcess : public IProcessServices
{
public:
    VIntlMgr* GetIntlMgr() const override { return nullptr; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }
};

// Runs the task manager (the test's thread is the main task) with a registered process.
class TaskManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IProcessServices::Set(&fProcess);
        ASSERT_TRUE(VTaskMgr::Get()->Init(&fProcess));
    }
    void TearDown() override
    {
        if (VTaskMgr::IsInited())
        {
            EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000)) << "a task outlived its test";
            VTaskMgr::Get()->DeInit();
        }
        VTask::SetErrorReporter(nullptr);
        IProcessServices::Set(nullptr);
    }

    static VTask* Main() { return VTaskMgr::Get()->GetMainTask(); }

    // A preemptive task running inBody, not started.
    static VRefPtr<VTask> NewTask(std::function<void()> inBody)
    {
        return VRefPtr<VTask>(new VTask(0, eTaskStylePreemptive, std::move(inBody)), true);
    }

    BareProcess fProcess;
};

// Polls until inCondition holds or inLimit has passed; whether it holds.
using Clock = std::chrono::steady_clock;

inline int64_t MillisecondsSince(Clock::time_point inStart)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - inStart).count();
}

inline bool WaitFor(const std::function<bool()>& inCondition,
                    std::chrono::milliseconds inLimit = std::chrono::seconds(10))
{
    auto deadline = test::DeadlineIn(inLimit);
    while (!inCondition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zorn::test
