#include "toolbox/kernel/locks/VSyncEvent.h"

#include <chrono>

namespace zorn
{

bool VSyncEvent::Lock()
{
    // Cooperative tasks wait through the fiber scheduler; none exist until fibers are enabled.
    std::unique_lock lock(fMutex);
    fCondition.wait(lock, [this] { return fSet; });
    return true;
}

bool VSyncEvent::Lock(int inTimeoutMs)
{
    std::unique_lock lock(fMutex);
    if (inTimeoutMs < 1 || fSet)
    {
        return fSet;
    }
    // A deadline on the monotonic clock: a wake-up that finds the event still reset waits for
    // the rest of the time instead of reporting a time-out early.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(inTimeoutMs);
    return fCondition.wait_until(lock, deadline, [this] { return fSet; });
}

void VSyncEvent::Unlock()
{
    {
        std::lock_guard lock(fMutex);
        fSet = true;
        fCondition.notify_all();
    }
    fStamp.fetch_add(1, std::memory_order_acq_rel);
    // Fiber waiters watch the stamp; the task manager's event polling wakes them once fibers exist.
}

void VSyncEvent::Reset()
{
    std::lock_guard lock(fMutex);
    fSet = false;
}

bool VSyncEvent::IsSet() const
{
    std::lock_guard lock(fMutex);
    return fSet;
}

} // namespace zorn
