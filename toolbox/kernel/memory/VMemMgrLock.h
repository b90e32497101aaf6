// VMemMgrLock: the memory manager's lock in own-allocator mode: a recursive mutex owned by a
// thread, so that a purge handler may allocate and free from within the manager's own call, under
// the names the toolbox's scoped locker (StLocker) calls.
//
// Choices and limits:
//  - The C library's recursive mutex, not a lock of our own: a compare-and-swap lock with an owner
//    mark took fewer instructions per call but measured slower on the allocator's churn.
//  - Owned by a thread, not by a task: fibers that share a thread share it (the manager never
//    switches tasks while it holds it). Unlock does not check that the caller is the owner.
#pragma once

#include <mutex>

namespace zorn
{

class VMemMgrLock
{
public:
    VMemMgrLock() = default;
    VMemMgrLock(const VMemMgrLock&) = delete;
    VMemMgrLock& operator=(const VMemMgrLock&) = delete;

    void Lock() { fMutex.lock(); }
    // Takes the lock when it is free or already the caller's; false at once otherwise.
    bool TryToLock() { return fMutex.try_lock(); }
    // Drops one level; the last one frees the lock.
    void Unlock() { fMutex.unlock(); }

private:
    std::recursive_mutex fMutex;
};

} // namespace zorn
