#include "toolbox/kernel/locks/VConditionVariable.h"

#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/locks/VSyncEvent.h"

namespace zorn
{

VConditionVariable::~VConditionVariable()
{
    if (fEvent != nullptr)
    {
        fEvent->Release();
    }
}

bool VConditionVariable::_Wait(VCriticalSection* inLock, bool inWithTimeout, int inTimeoutMs)
{
    VSyncEvent* event = nullptr;
    {
        StSpinLocker guard(&fGuard);
        if (fWaiters > 0 && fLock != inLock)
        {
            return false;
        }
        if (++fWaiters == 1)
        {
            if (fEvent != nullptr)
            {
                fEvent->Reset();
            }
            else
            {
                fEvent = new VSyncEvent();
            }
            fBroadcasts = 0;
            fLock = inLock;
        }
        event = fEvent;
        event->Retain();
    }

    inLock->Unlock();
    if (inWithTimeout)
    {
        event->Lock(inTimeoutMs);
    }
    else
    {
        event->Lock();
    }
    event->Release();
    inLock->Lock();

    StSpinLocker guard(&fGuard);
    bool broadcast = fBroadcasts >= 1;
    if (--fWaiters == 0)
    {
        fLock = nullptr;
    }
    return broadcast;
}

bool VConditionVariable::Broadcast()
{
    VSyncEvent* event = nullptr;
    {
        StSpinLocker guard(&fGuard);
        if (fEvent != nullptr)
        {
            ++fBroadcasts;
            event = fEvent;
            event->Retain();
        }
    }
    if (event != nullptr)
    {
        event->Unlock();
        event->Release();
    }
    return true;
}

} // namespace zorn
