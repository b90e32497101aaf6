#include "toolbox/kernel/locks/VSyncEvent.h"

#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <chrono>

namespace zorn
{

bool VSyncEvent::_IsCooperativeCaller()
{
    VTask* current = VTaskMgr::GetCurrentTask();
    return current != nullptr && !current->IsPreemptive();
}

bool VSyncEvent::Lock()
{
    if (IsSet())
    {
        return true;
    }
    if (_IsCooperativeCaller())
    {
        // Counted before the stamp is read: a set that the count misses moves the stamp after.
        fFiberWaiters.fetch_add(1);
        int stamp = _Stamp().load();
        while (!IsSet())
        {
            VTaskMgr::CurrentFiberWaitFlag(&fStamp, stamp);
            stamp = _Stamp().load();
        }
        fFiberWaiters.fetch_sub(1);
        return true;
    }
    std::unique_lock lock(fMutex);
    ++fWaiters;
    fCondition.wait(lock, [this] { return fSet.load(std::memory_order_relaxed); });
    --fWaiters;
    return true;
}

bool VSyncEvent::Lock(int inTimeoutMs)
{
    if (IsSet() || inTimeoutMs < 1)
    {
        return IsSet();
    }
    if (_IsCooperativeCaller())
    {
        fFiberWaiters.fetch_add(1);
        const uint32_t start = VSystem::GetCurrentTime();
        int stamp = _Stamp().load();
        // Waits again while time is left: a scheduler may return before the stamp moved.
        while (!IsSet())
        {
            const uint32_t elapsed = VSystem::GetCurrentTime() - start;
            if (elapsed >= static_cast<uint32_t>(inTimeoutMs))
            {
                break;
            }
            VTaskMgr::CurrentFiberWaitFlagWithTimeout(
                &fStamp, stamp, static_cast<int>(static_cast<uint32_t>(inTimeoutMs) - elapsed));
            stamp = _Stamp().load();
        }
        fFiberWaiters.fetch_sub(1);
        // A set that came with the deadline counts.
        return IsSet();
    }
    // A deadline on the monotonic clock: a wake-up that finds the event still reset waits for
    // the rest of the time instead of reporting a time-out early.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(inTimeoutMs);
    std::unique_lock lock(fMutex);
    ++fWaiters;
    const bool set =
        fCondition.wait_until(lock, deadline, [this] { return fSet.load(std::memory_order_relaxed); });
    --fWaiters;
    return set;
}

void VSyncEvent::Unlock()
{
    bool wake = false;
    {
        std::lock_guard lock(fMutex);
        fSet.store(true, std::memory_order_release);
        wake = fWaiters > 0;
    }
    _Stamp().fetch_add(1);
    // Outside the mutex: the caller keeps the event alive for the call (its owners hold a
    // reference while they set it).
    if (wake)
    {
        fCondition.notify_all();
    }
    // Fiber waiters watch the stamp; a scheduler whose fibers all wait is told to look again.
    if (fFiberWaiters.load() > 0)
    {
        VTaskMgr::Get()->WakeUpSystemEventPolling();
    }
}

void VSyncEvent::Reset()
{
    if (!IsSet())
    {
        return;
    }
    std::lock_guard lock(fMutex);
    fSet.store(false, std::memory_order_release);
}

} // namespace zorn
