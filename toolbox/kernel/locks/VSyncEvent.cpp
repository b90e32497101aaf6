#include "toolbox/kernel/locks/VSyncEvent.h"

#include <chrono>

namespace zorn
{

bool VSyncEvent::Lock()
{
    if (IsSet())
    {
        return true;
    }
    // Cooperative tasks wait through the fiber scheduler; none exist until fibers are enabled.
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
    fStamp.fetch_add(1, std::memory_order_acq_rel);
    // Outside the mutex: the caller keeps the event alive for the call (its owners hold a
    // reference while they set it).
    if (wake)
    {
        fCondition.notify_all();
    }
    // Fiber waiters watch the stamp; the task manager's event polling wakes them once fibers exist.
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
