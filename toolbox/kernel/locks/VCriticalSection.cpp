#include "toolbox/kernel/locks/VCriticalSection.h"

#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

namespace zorn
{

namespace
{
thread_local int32_t tHeldSections = 0;
} // namespace

VCriticalSection::~VCriticalSection()
{
    while (GetRecursionCount() > 0)
    {
        Unlock();
    }
}

int32_t VCriticalSection::GetHeldCountOfCurrentThread()
{
    return tHeldSections;
}

bool VCriticalSection::Lock()
{
    const auto caller = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    // Only the owner ever stores its own ID here, and clears it before it lets go: a task reads
    // its own ID only while it holds the lock.
    if (fOwner.load(std::memory_order_relaxed) == caller)
    {
        fCount.store(fCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return true;
    }
    uint32_t state = kFree;
    if (!fState.compare_exchange_strong(state, kLocked, std::memory_order_acquire, std::memory_order_relaxed))
    {
        _LockContended(state);
    }
    fOwner.store(caller, std::memory_order_relaxed);
    fCount.store(1, std::memory_order_relaxed);
    ++tHeldSections;
    return true;
}

void VCriticalSection::_LockContended(uint32_t inState)
{
    // A cooperative task may not block its thread: the holder may be a fiber of its own group,
    // which runs only when this one lets it. It waits through the scheduler, a millisecond at a
    // time, and tries again on each turn.
    VTask* current = VTaskMgr::GetCurrentTask();
    const bool cooperative = current != nullptr && !current->IsPreemptive();
    // Marks the lock as waited for, then sleeps until a release finds it free.
    if (inState != kLockedWithWaiters)
    {
        inState = fState.exchange(kLockedWithWaiters, std::memory_order_acquire);
    }
    while (inState != kFree)
    {
        if (cooperative)
        {
            int unchanged = 0;
            VTaskMgr::CurrentFiberWaitFlagWithTimeout(&unchanged, 0, 1);
        }
        else
        {
            XLinuxSystem::FutexWait(&fState, kLockedWithWaiters);
        }
        inState = fState.exchange(kLockedWithWaiters, std::memory_order_acquire);
    }
}

bool VCriticalSection::TryToLock()
{
    const auto caller = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    if (fOwner.load(std::memory_order_relaxed) == caller)
    {
        fCount.store(fCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return true;
    }
    uint32_t state = kFree;
    if (!fState.compare_exchange_strong(state, kLocked, std::memory_order_acquire, std::memory_order_relaxed))
    {
        return false;
    }
    fOwner.store(caller, std::memory_order_relaxed);
    fCount.store(1, std::memory_order_relaxed);
    ++tHeldSections;
    return true;
}

bool VCriticalSection::Unlock()
{
    const int32_t count = fCount.load(std::memory_order_relaxed);
    if (count <= 0)
    {
        return true;
    }
    fCount.store(count - 1, std::memory_order_relaxed);
    if (count == 1)
    {
        --tHeldSections;
        fOwner.store(0, std::memory_order_relaxed);
        if (fState.exchange(kFree, std::memory_order_release) == kLockedWithWaiters)
        {
            XLinuxSystem::FutexWake(&fState, 1);
        }
    }
    return true;
}

} // namespace zorn
