#include "toolbox/kernel/locks/VCriticalSection.h"

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
    uint32_t owner = 0;
    if (fOwner.compare_exchange_strong(owner, caller, std::memory_order_seq_cst))
    {
        fCount.store(1, std::memory_order_relaxed);
        ++tHeldSections;
    }
    else if (owner == caller)
    {
        fCount.store(fCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    else
    {
        _LockContended(caller);
    }
    return true;
}

void VCriticalSection::_LockContended(uint32_t inCaller)
{
    // Counted before the owner is read again: a release that frees the lock after this point
    // sees the waiter and wakes it (both sides are sequentially consistent).
    fWaiters.fetch_add(1, std::memory_order_seq_cst);
    for (;;)
    {
        uint32_t owner = 0;
        if (fOwner.compare_exchange_strong(owner, inCaller, std::memory_order_seq_cst))
        {
            break;
        }
        // Sleeps only while the owner is still the one just seen.
        fOwner.wait(owner, std::memory_order_seq_cst);
    }
    fWaiters.fetch_sub(1, std::memory_order_relaxed);
    fCount.store(1, std::memory_order_relaxed);
    ++tHeldSections;
}

bool VCriticalSection::TryToLock()
{
    const auto caller = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    uint32_t owner = 0;
    if (fOwner.compare_exchange_strong(owner, caller, std::memory_order_seq_cst))
    {
        fCount.store(1, std::memory_order_relaxed);
        ++tHeldSections;
        return true;
    }
    if (owner == caller)
    {
        fCount.store(fCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return true;
    }
    return false;
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
        fOwner.store(0, std::memory_order_seq_cst);
        if (fWaiters.load(std::memory_order_seq_cst) != 0)
        {
            fOwner.notify_one();
        }
    }
    return true;
}

} // namespace zorn
