#include "toolbox/kernel/locks/VCriticalSection.h"

#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <sched.h>

namespace zorn
{

VCriticalSection::~VCriticalSection()
{
    while (GetRecursionCount() > 0)
    {
        Unlock();
    }
}

bool VCriticalSection::Lock()
{
    const auto caller = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    SpinLock::Lock(&fGuard);
    for (;;)
    {
        if (fOwner == 0 || fOwner == caller)
        {
            fOwner = caller;
            ++fCount;
            SpinLock::Unlock(&fGuard);
            return true;
        }
        if (VSyncEvent* event = fWaitEvent)
        {
            event->Retain();
            SpinLock::Unlock(&fGuard);
            event->Lock();
            event->Release();
            SpinLock::Lock(&fGuard);
            continue;
        }
        // First contention: make the event outside the guard, then check again.
        SpinLock::Unlock(&fGuard);
        VSyncEvent* created = new VSyncEvent();
        SpinLock::Lock(&fGuard);
        if (fOwner == 0)
        {
            fOwner = caller;
            ++fCount;
            SpinLock::Unlock(&fGuard);
            created->Release();
            return true;
        }
        if (fWaitEvent == nullptr)
        {
            fWaitEvent = created; // the section keeps the creator's reference
            continue;
        }
        SpinLock::Unlock(&fGuard);
        created->Release();
        if (SpinLock::GetYieldAfterCheckEvent())
        {
            ::sched_yield();
        }
        SpinLock::Lock(&fGuard);
    }
}

bool VCriticalSection::TryToLock()
{
    const auto caller = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    StSpinLocker guard(&fGuard);
    if (fOwner == 0 || fOwner == caller)
    {
        fOwner = caller;
        ++fCount;
        return true;
    }
    return false;
}

bool VCriticalSection::Unlock()
{
    VSyncEvent* event = nullptr;
    SpinLock::Lock(&fGuard);
    if (fCount > 0 && --fCount == 0)
    {
        fOwner = 0;
        event = fWaitEvent;
        fWaitEvent = nullptr;
    }
    SpinLock::Unlock(&fGuard);
    if (event != nullptr)
    {
        event->Unlock();
        event->Release();
    }
    return true;
}

uint32_t VCriticalSection::GetOwnerID() const
{
    StSpinLocker guard(&fGuard);
    return fOwner;
}

int32_t VCriticalSection::GetRecursionCount() const
{
    StSpinLocker guard(&fGuard);
    return fCount;
}

} // namespace zorn
