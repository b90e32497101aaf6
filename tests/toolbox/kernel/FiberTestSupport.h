// Fibers under a real scheduler, for the tests of the cooperative paths. RoundRobinScheduler runs
// one group: the host (the task that installs it, the main task of a process with fibers, itself
// cooperative) and the fiber tasks it starts. Control passes in turn to the next member that can
// go on: one that yielded, or whose awaited flag moved, or whose wait timed out. When no member
// can, the one that holds control blocks its thread until the scheduler is told that something
// changed (WakeUpSystemEventPolling), a deadline comes, or a short poll ends (a flag may be moved
// by code that tells nobody). A fiber whose task died is dropped from the group.
#pragma once

#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zorn::test
{

class RoundRobinScheduler : public VObject, public IFiberScheduler
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPoll{10};

    // The calling task is the host.
    RoundRobinScheduler()
    {
        auto host = std::make_unique<Member>();
        host->fTask = VTask::GetCurrent();
        fMembers.push_back(std::move(host));
    }

    void Yield() override { _Switch(nullptr, 0, std::nullopt); }
    void YieldNow() override { _Switch(nullptr, 0, std::nullopt); }
    void WaitFlag(int* inFlag, int inValue) override
    {
        while (Load(inFlag) == inValue)
        {
            _Switch(inFlag, inValue, std::nullopt);
        }
    }
    void WaitFlagWithTimeout(int* inFlag, int inValue, int inMs) override
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(inMs);
        while (Load(inFlag) == inValue && Clock::now() < deadline)
        {
            _Switch(inFlag, inValue, deadline);
        }
    }
    void SetSystemEventPolling(bool) override {}
    bool WithSystemEventPolling() const override { return true; }
    void PollAndExecuteUpdateEvent() override {}
    void SetDirectUpdate(bool) override {}
    void WakeUpSystemEventPolling() override
    {
        {
            std::lock_guard lock(fMutex);
            ++fWakes;
        }
        fCondition.notify_all();
    }
    bool RequiresSystemEventPolling() override { return false; }
    // Joins the task to the group; the task then starts the usual way (its fiber gets control).
    bool RunFiber(VTask* inTask, bool* /*ioHandled*/) override
    {
        std::lock_guard lock(fMutex);
        if (_Find(inTask) == nullptr)
        {
            auto member = std::make_unique<Member>();
            member->fTask = inTask;
            member->fHold = VRefPtr<VTask>(inTask);
            fMembers.push_back(std::move(member));
        }
        return false;
    }
    void SetSystemCallCFRunloop(bool) override {}
    void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}

    // Drops a member (not the calling one) for good: the task manager is told, and it dies.
    void StopScheduling(VTask* inTask)
    {
        VRefPtr<VTask> dropped;
        {
            std::lock_guard lock(fMutex);
            auto found = std::find_if(fMembers.begin(), fMembers.end(),
                                      [inTask](const auto& m) { return m->fTask == inTask; });
            if (found == fMembers.end() || inTask == VTask::GetCurrent())
            {
                return;
            }
            dropped = (*found)->fHold;
            fMembers.erase(found);
        }
        VTaskMgr::Get()->FiberStoppedBeingScheduled(inTask);
    }

    // Hand-offs so far, and members (the host included).
    int64_t CountSwitches() const { return fSwitches.load(); }
    size_t CountMembers() const
    {
        std::lock_guard lock(fMutex);
        return fMembers.size();
    }

    static int Load(int* inFlag) { return std::atomic_ref<int>(*inFlag).load(); }

private:
    struct Member
    {
        VTask* fTask = nullptr;
        VRefPtr<VTask> fHold; // none for the host, which outlives the scheduler's use
        int* fFlag = nullptr; // what it waits on, null when it only yielded or runs
        int fValue = 0;
        std::optional<Clock::time_point> fDeadline;
    };

    Member* _Find(VTask* inTask) const
    {
        for (const auto& member : fMembers)
        {
            if (member->fTask == inTask)
            {
                return member.get();
            }
        }
        return nullptr;
    }

    static bool _Started(const Member& inMember)
    {
        const uint32_t state = inMember.fTask->GetState();
        return state == TaskState_Running || state == TaskState_Dying;
    }

    static bool _CanGoOn(const Member& inMember, Clock::time_point inNow)
    {
        if (!_Started(inMember))
        {
            return false;
        }
        if (inMember.fFlag == nullptr || Load(inMember.fFlag) != inMember.fValue)
        {
            return true;
        }
        return inMember.fDeadline.has_value() && inNow >= *inMember.fDeadline;
    }

    // Lets the next member that can go on run, or (waiting, when none can) blocks until
    // something changes. Returns when the caller has control again.
    void _Switch(int* inFlag, int inValue, std::optional<Clock::time_point> inDeadline)
    {
        std::vector<VRefPtr<VTask>> dead;
        std::unique_lock lock(fMutex);
        Member* me = _Find(VTask::GetCurrent());
        if (me == nullptr)
        {
            // Not of the group: waits like a thread.
            if (inFlag != nullptr)
            {
                const uint64_t wakes = fWakes;
                fCondition.wait_until(
                    lock, std::min(Clock::now() + kPoll, inDeadline.value_or(Clock::time_point::max())),
                    [&] { return fWakes != wakes; });
            }
            return;
        }
        me->fFlag = inFlag;
        me->fValue = inValue;
        me->fDeadline = inDeadline;
        for (;;)
        {
            // The dead leave the group (released below, outside the lock).
            for (auto it = fMembers.begin(); it != fMembers.end();)
            {
                if ((*it)->fTask->GetState() == TaskState_Dead)
                {
                    dead.push_back(std::move((*it)->fHold));
                    it = fMembers.erase(it);
                }
                else
                {
                    ++it;
                }
            }
            const uint64_t wakes = fWakes;
            const Clock::time_point now = Clock::now();
            if (inFlag != nullptr && _CanGoOn(*me, now))
            {
                break;
            }
            // The next that can go on, in turn after the caller.
            const size_t mine =
                static_cast<size_t>(std::find_if(fMembers.begin(), fMembers.end(),
                                                 [me](const auto& m) { return m.get() == me; }) -
                                    fMembers.begin());
            Member* next = nullptr;
            for (size_t step = 1; step < fMembers.size() && next == nullptr; ++step)
            {
                Member* candidate = fMembers[(mine + step) % fMembers.size()].get();
                if (_CanGoOn(*candidate, now))
                {
                    next = candidate;
                }
            }
            if (next != nullptr)
            {
                VTask* target = next->fTask;
                lock.unlock();
                ++fSwitches;
                VTaskMgr::Get()->YieldToFiber(target);
                lock.lock();
                break;
            }
            if (inFlag == nullptr)
            {
                break;
            }
            // Nobody can go on: wait for news, the earliest deadline or the poll.
            Clock::time_point until = now + kPoll;
            for (const auto& member : fMembers)
            {
                if (member->fFlag != nullptr && member->fDeadline.has_value())
                {
                    until = std::min(until, *member->fDeadline);
                }
            }
            fCondition.wait_until(lock, until, [&] { return fWakes != wakes; });
        }
        me->fFlag = nullptr;
        me->fDeadline.reset();
        lock.unlock();
        dead.clear();
    }

    mutable std::mutex fMutex;
    std::condition_variable fCondition;
    std::vector<std::unique_ptr<Member>> fMembers; // the host first
    uint64_t fWakes = 0;
    std::atomic<int64_t> fSwitches{0};
};

class FiberProcess : public BareProcess
{
public:
    bool IsFibersEnabled() const override { return true; }
};

// The task manager of a process with fibers, with a round-robin scheduler whose host is the
// test's thread (the main task).
class FiberTaskTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IProcessServices::Set(&fProcess);
        ASSERT_TRUE(VTaskMgr::Get()->Init(&fProcess));
        fScheduler = VRefPtr<RoundRobinScheduler>(new RoundRobinScheduler(), true);
        VTaskMgr::Get()->SetFiberScheduler(fScheduler.Get());
    }
    void TearDown() override
    {
        if (VTaskMgr::IsInited())
        {
            EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000)) << "a task outlived its test";
            VTaskMgr::Get()->DeInit();
        }
        fScheduler = nullptr;
        IProcessServices::Set(nullptr);
    }

    static VTask* Main() { return VTaskMgr::Get()->GetMainTask(); }

    // A fiber task running inBody, not started.
    static VRefPtr<VTask> NewFiber(std::function<void()> inBody)
    {
        return VRefPtr<VTask>(new VTask(0, eTaskStyleFiber, std::move(inBody)), true);
    }
    static VRefPtr<VTask> NewThreadTask(std::function<void()> inBody)
    {
        return VRefPtr<VTask>(new VTask(0, eTaskStylePreemptive, std::move(inBody)), true);
    }

    FiberProcess fProcess;
    VRefPtr<RoundRobinScheduler> fScheduler;
};

} // namespace zorn::test
