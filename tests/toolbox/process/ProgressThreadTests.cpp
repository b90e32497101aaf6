// Progress across threads: a dying task stops value calls, and readers take snapshots and the
// manager lists indicators while a worker reports at full speed.
#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VProgressLockOrder.h"
#include "toolbox/process/VProgressManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

class ProgressTasks : public TaskManagerTest
{
};

TEST_F(ProgressTasks, ADyingTaskStopsValueCallsOnlyWhenInterruptible)
{
    struct Results
    {
        bool fBeforeKill = false;
        bool fProgress = true;
        bool fIncrement = true;
        bool fMessageAndValue = false;
        bool fNotInterruptible = false;
    } results;
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            VProgressIndicator indicator;
            indicator.BeginSession(10, VString("work"));
            results.fBeforeKill = indicator.Progress(1);
            VTask::GetCurrent()->Kill();
            results.fProgress = indicator.Progress(2);
            results.fIncrement = indicator.Increment(1);
            results.fMessageAndValue = indicator.SetMessageAndValue(VString("still"), 4);
            indicator.SetCanInterrupt(false, false);
            results.fNotInterruptible = indicator.Progress(5);
            indicator.EndSession();
        });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_TRUE(results.fBeforeKill);
    EXPECT_FALSE(results.fProgress) << "a dying task is told to stop";
    EXPECT_FALSE(results.fIncrement);
    EXPECT_TRUE(results.fMessageAndValue) << "message calls do not look at the task";
    EXPECT_TRUE(results.fNotInterruptible)
        << "without the default can-interrupt flag the task is not checked";
}

// The worker's stack at any moment: an outer session over the steps and, inside it, a session
// "step" whose maximum is 10. A consistent snapshot shows exactly that.
void ExpectConsistent(const VRefCountedSessionInfo& inSnapshot, int64_t inSteps)
{
    const auto& sessions = inSnapshot.GetSessions();
    ASSERT_GE(sessions.size(), 1u);
    ASSERT_LE(sessions.size(), 2u);
    EXPECT_EQ(sessions[0]->GetMax(), inSteps);
    EXPECT_LE(sessions[0]->GetValue(), inSteps);
    if (sessions.size() == 2)
    {
        EXPECT_EQ(to_string(sessions[1]->GetMessageText()), std::string("step"));
        EXPECT_EQ(sessions[1]->GetMax(), 10);
        EXPECT_LE(sessions[1]->GetValue(), 10);
    }
}

TEST(ProgressThreads, ReadersSeeConsistentSnapshotsOfABusyWorker)
{
    VProgressManager::Init();
    constexpr int64_t kSteps = 3000;
    VRefPtr<VProgressIndicator> indicator(new VProgressIndicator(), true);
    std::atomic<bool> done{false};
    std::atomic<int> summaries{0};

    std::thread worker(
        [&]
        {
            indicator->BeginSession(kSteps, VString("all"));
            for (int64_t step = 0; step < kSteps; ++step)
            {
                indicator->Progress(step);
                indicator->BeginSession(10, VString("step"));
                for (int64_t value = 1; value <= 10; ++value)
                {
                    indicator->Progress(value);
                }
                indicator->EndSession();
            }
            indicator->EndSession();
            done = true;
        });
    auto reader = [&]
    {
        while (!done)
        {
            VProgressSessionInfo summary;
            if (indicator->GetProgressInfo(summary))
            {
                ++summaries;
                EXPECT_GE(summary.fPercentDone, 0.0f);
                EXPECT_LE(summary.fPercentDone, 1.0f);
            }
            VRefPtr<VRefCountedSessionInfo> snapshot(indicator->RetainSessionsInfos(), true);
            if (snapshot)
            {
                ExpectConsistent(*snapshot, kSteps);
            }
        }
    };
    std::thread reader1(reader);
    std::thread reader2(reader);
    std::thread lister(
        [&]
        {
            while (!done)
            {
                std::vector<VRefPtr<VRefCountedSessionInfo>> infos;
                VProgressManager::GetAllProgressInfo(infos);
                for (const auto& info : infos)
                {
                    ExpectConsistent(*info, kSteps);
                }
                VRefPtr<VProgressIndicator> found(VProgressManager::RetainProgress(indicator->GetID()), true);
                EXPECT_EQ(found.Get(), indicator.Get());
            }
            EXPECT_EQ(VProgressLockOrder::GetHeldCount(), 0);
        });
    worker.join();
    reader1.join();
    reader2.join();
    lister.join();
    EXPECT_GT(summaries.load(), 0);
    indicator.Clear();
    EXPECT_EQ(VProgressManager::Get()->GetCount(), 0u);
    VProgressManager::Deinit();
}

TEST(ProgressThreads, ALookupRacingTheLastReleaseNeverGetsADeadIndicator)
{
    VProgressManager::Init();
    for (int round = 0; round < 500; ++round)
    {
        auto* indicator = new VProgressIndicator();
        VUUID id = indicator->GetID();
        std::thread releaser([&] { indicator->Release(); });
        VRefPtr<VProgressIndicator> found(VProgressManager::RetainProgress(id), true);
        if (found)
        {
            EXPECT_EQ(found->GetID(), id);
        }
        releaser.join();
    }
    EXPECT_EQ(VProgressManager::Get()->GetCount(), 0u);
    VProgressManager::Deinit();
}

} // namespace
