// VCriticalSection: the toolbox's common lock. Recursive and owned by a task (by task ID, not by
// thread): the owner may lock again and must unlock as often. Built from a spin-lock guard and a
// wait event that is created only when some task actually has to wait, and dropped on the full
// release that wakes the waiters (they then compete again, and one wins).
#pragma once

#include "toolbox/kernel/locks/SpinLock.h"

#include <cstdint>

namespace zorn
{

class VSyncEvent;

class VCriticalSection
{
public:
    VCriticalSection() = default;
    // Unlocks while the recursion count is above 0.
    ~VCriticalSection();
    VCriticalSection(const VCriticalSection&) = delete;
    VCriticalSection& operator=(const VCriticalSection&) = delete;

    // Waits until the current task holds the lock; true.
    bool Lock();
    // Takes the lock when it is free or already the caller's; false at once otherwise.
    bool TryToLock();
    // Drops one level; the last one frees the lock and wakes the waiters. Does not check that the
    // caller is the owner. True.
    bool Unlock();

    uint32_t GetOwnerID() const;
    int32_t GetRecursionCount() const;

private:
    // Guarded by fGuard.
    VSyncEvent* fWaitEvent = nullptr;
    uint32_t fOwner = 0;
    int32_t fCount = 0;
    mutable SpinLockWord fGuard{0};
};

// Holds a lock for its scope.
template <class TLock>
class StLocker
{
public:
    explicit StLocker(TLock* inLock) : fLock(inLock)
    {
        if (fLock != nullptr)
        {
            fLock->Lock();
        }
    }
    ~StLocker()
    {
        if (fLock != nullptr)
        {
            fLock->Unlock();
        }
    }
    StLocker(const StLocker&) = delete;
    StLocker& operator=(const StLocker&) = delete;

private:
    TLock* fLock;
};

} // namespace zorn
