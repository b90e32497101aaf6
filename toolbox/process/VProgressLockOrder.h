// VProgressLockOrder: takes and drops the locks of the progress classes in their one order, the
// progress manager's lock, then an indicator's state lock, then its snapshot lock, then the metrics
// manager's lock. A task may take a lock it already holds again; it may not take a lock of a lower
// rank than one it holds, which could deadlock against a task that takes them the right way.
// Debug builds record the locks each thread holds and stop on a reversal (assert); release builds
// only lock.
#pragma once

#include "toolbox/kernel/locks/VCriticalSection.h"

namespace zorn
{

class VProgressLockOrder
{
public:
    enum ERank : int
    {
        eRank_Manager = 1,
        eRank_State = 2,
        eRank_Snapshot = 3,
        eRank_Metrics = 4
    };

    static bool Lock(VCriticalSection& ioLock, ERank inRank);
    // Never waits, so it cannot deadlock: the order is not checked, but the lock is recorded.
    static bool TryToLock(VCriticalSection& ioLock, ERank inRank);
    static bool Unlock(VCriticalSection& ioLock);
    // The locks the calling thread holds through this class (debug builds; 0 otherwise).
    static int GetHeldCount();
};

// Holds one ranked lock for its scope.
class StProgressLocker
{
public:
    StProgressLocker(VCriticalSection& ioLock, VProgressLockOrder::ERank inRank) : fLock(ioLock)
    {
        VProgressLockOrder::Lock(fLock, inRank);
    }
    ~StProgressLocker() { VProgressLockOrder::Unlock(fLock); }
    StProgressLocker(const StProgressLocker&) = delete;
    StProgressLocker& operator=(const StProgressLocker&) = delete;

private:
    VCriticalSection& fLock;
};

} // namespace zorn
