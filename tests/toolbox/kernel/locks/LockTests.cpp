#include "toolbox/kernel/locks/SpinLock.h"
#include "toolbox/kernel/locks/VConditionVariable.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace zorn;
using namespace std::chrono_literals;

namespace
{

// Runs inBody on another thread (another lock owner) and returns its result.
template <class F>
auto OnOtherThread(F inBody)
{
    return std::async(std::launch::async, inBody).get();
}

class SpinLockSettings : public ::testing::Test
{
protected:
    void TearDown() override { SpinLock::ResetSettings(); }
};

TEST_F(SpinLockSettings, DefaultsSpinOnceThenYield)
{
    SpinLock::ResetSettings();
    EXPECT_EQ(SpinLock::GetAcquireProc(), &SpinLock::AcquireMaxSpinsThenLoopYields);
    EXPECT_EQ(SpinLock::GetMaxSpins(), 1);
    EXPECT_FALSE(SpinLock::GetYieldAfterCheckEvent());
}

TEST_F(SpinLockSettings, ApplySettingsTable)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fMode; // null: no "mode"
        double fMaxSpins;
        bool fYield;
        SpinLock::AcquireProc fExpectedProc;
        int32_t fExpectedSpins;
    };
    const Row rows[] = {
        {"always sleep", u"alwaysSleep", 5, true, &SpinLock::AcquireAlwaysSleep, 5},
        {"loop of spins and yields", u"loopMaxSpinsAndYields", 3, false,
         &SpinLock::AcquireLoopMaxSpinsAndYields, 3},
        {"unknown mode still sets the numbers", u"fastest", 7, true, &SpinLock::AcquireMaxSpinsThenLoopYields,
         7},
        {"max spins truncated", nullptr, 2.9, false, &SpinLock::AcquireMaxSpinsThenLoopYields, 2},
        {"huge max spins saturates", nullptr, 1e300, false, &SpinLock::AcquireMaxSpinsThenLoopYields,
         INT32_MAX},
    };
    for (const Row& row : rows)
    {
        SpinLock::ResetSettings();
        VString mode;
        if (row.fMode != nullptr)
        {
            mode = CVSTR_struct(row.fMode);
        }
        SpinLock::ApplySettings(row.fMode != nullptr ? &mode : nullptr, &row.fMaxSpins, &row.fYield);
        EXPECT_EQ(SpinLock::GetAcquireProc(), row.fExpectedProc) << row.fWhat;
        EXPECT_EQ(SpinLock::GetMaxSpins(), row.fExpectedSpins) << row.fWhat;
        EXPECT_EQ(SpinLock::GetYieldAfterCheckEvent(), row.fYield) << row.fWhat;
    }
}

TEST_F(SpinLockSettings, ReleaseKeepsOtherBits)
{
    SpinLockWord word{0x1234};
    SpinLock::Lock(&word);
    EXPECT_EQ(word.load(), 0x1234u | SpinLock::kHeldBit);
    EXPECT_FALSE(SpinLock::TryAcquire(&word));
    SpinLock::Unlock(&word);
    EXPECT_EQ(word.load(), 0x1234u);
}

// Every strategy keeps a shared counter exact under contention.
TEST_F(SpinLockSettings, StrategiesExcludeUnderContention)
{
    const SpinLock::AcquireProc strategies[] = {&SpinLock::AcquireMaxSpinsThenLoopYields,
                                                &SpinLock::AcquireLoopMaxSpinsAndYields,
                                                &SpinLock::AcquireAlwaysSleep};
    for (SpinLock::AcquireProc acquire : strategies)
    {
        SpinLockWord word{0};
        int64_t counter = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
        {
            threads.emplace_back(
                [&]
                {
                    for (int i = 0; i < 5000; ++i)
                    {
                        acquire(&word);
                        ++counter;
                        SpinLock::Release(&word);
                    }
                });
        }
        for (auto& thread : threads)
        {
            thread.join();
        }
        EXPECT_EQ(counter, 8 * 5000);
    }
}

TEST(CriticalSection, RecursiveLockNeedsAsManyUnlocks)
{
    VCriticalSection section;
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_TRUE(section.Lock());
    }
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_FALSE(OnOtherThread([&] { return section.TryToLock(); })) << "after " << i << " unlocks";
        section.Unlock();
    }
    EXPECT_TRUE(OnOtherThread(
        [&]
        {
            bool taken = section.TryToLock();
            section.Unlock();
            return taken;
        }));
    EXPECT_EQ(section.GetRecursionCount(), 0);
}

TEST(CriticalSection, ManyThreadsKeepCounterExact)
{
    VCriticalSection section;
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
    {
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < 3000; ++i)
                {
                    StLocker<VCriticalSection> locker(&section);
                    StLocker<VCriticalSection> again(&section); // recursion inside the same owner
                    ++counter;
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(counter, 16 * 3000);
    EXPECT_EQ(section.GetOwnerID(), 0u);
}

TEST(CriticalSection, WaiterGetsLockAfterRelease)
{
    VCriticalSection section;
    section.Lock();
    std::atomic<bool> acquired{false};
    std::thread waiter(
        [&]
        {
            section.Lock();
            acquired = true;
            section.Unlock();
        });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(acquired.load());
    section.Unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

TEST(SyncEvent, WaitsAndTimeOuts)
{
    VSyncEvent event;
    EXPECT_FALSE(event.Lock(0)); // reset: answers at once

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Lock(150));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms); // waited its whole time

    std::thread setter(
        [&]
        {
            std::this_thread::sleep_for(10ms);
            event.Unlock();
        });
    EXPECT_TRUE(event.Lock(10000));
    setter.join();
    EXPECT_TRUE(event.Lock());
    EXPECT_EQ(event.GetStamp(), 1u);
    event.Reset();
    EXPECT_FALSE(event.Lock(0));
}

TEST(ConditionVariable, BroadcastWrongLockAndTimeOut)
{
    VConditionVariable condition;
    VCriticalSection section;
    VCriticalSection other;

    section.Lock();
    EXPECT_FALSE(condition.Wait(&section, 30)); // time-out
    section.Unlock();

    std::atomic<bool> waiting{false};
    std::promise<bool> result;
    std::thread waiter(
        [&]
        {
            section.Lock();
            waiting = true;
            result.set_value(condition.Wait(&section));
            section.Unlock();
        });
    while (!waiting.load())
    {
        std::this_thread::yield();
    }
    // The waiter holds `section` until its wait has registered and released it: once this thread
    // gets the section, the waiter is known to be waiting.
    section.Lock();
    section.Unlock();
    // While that task waits with `section`, a wait with another lock is refused at once.
    other.Lock();
    EXPECT_FALSE(condition.Wait(&other));
    other.Unlock();

    // The waiter may not have reached its wait yet: broadcast until it reports.
    auto future = result.get_future();
    while (future.wait_for(5ms) != std::future_status::ready)
    {
        condition.Broadcast();
    }
    EXPECT_TRUE(future.get());
    waiter.join();
}

} // namespace
