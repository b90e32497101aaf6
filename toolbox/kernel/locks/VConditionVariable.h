// VConditionVariable: a broadcast-only condition tied to one VCriticalSection at a time. A waiter
// must hold the section exactly once; the wait releases it, sleeps until a Broadcast (or the
// time-out) and takes it again. Waiters on another section than the current waiters' are refused.
#pragma once

#include "toolbox/kernel/locks/SpinLock.h"

#include <cstdint>

namespace zorn
{

class VCriticalSection;
class VSyncEvent;

class VConditionVariable
{
public:
    VConditionVariable() = default;
    ~VConditionVariable();
    VConditionVariable(const VConditionVariable&) = delete;
    VConditionVariable& operator=(const VConditionVariable&) = delete;

    // True when a Broadcast happened while the caller waited; false on time-out or when other
    // tasks already wait with another critical section.
    bool Wait(VCriticalSection* inLock) { return _Wait(inLock, false, 0); }
    bool Wait(VCriticalSection* inLock, int inTimeoutMs) { return _Wait(inLock, true, inTimeoutMs); }

    // Wakes every current waiter; true.
    bool Broadcast();

private:
    bool _Wait(VCriticalSection* inLock, bool inWithTimeout, int inTimeoutMs);

    // Guarded by fGuard.
    VSyncEvent* fEvent = nullptr;
    VCriticalSection* fLock = nullptr;
    uint16_t fWaiters = 0;
    uint16_t fBroadcasts = 0;
    SpinLockWord fGuard{0};
};

} // namespace zorn
