// VCriticalSection: the toolbox's common lock. Recursive and owned by a task (by task ID, not by
// thread): the owner may lock again and must unlock as often.
//
// Taking a free lock is one compare-and-swap of a state word (free, locked, locked with waiters)
// and locking again is the owner check alone. A task that finds the lock taken marks it as waited
// for and sleeps on the state word (a futex); the release that finds waiters wakes one, which
// competes again. IDs are never 0, so an owner of 0 means free. A cooperative task (a fiber, or
// the main task of a process with fibers) never blocks its thread on a held lock, whose holder may
// be a fiber of its own group: it waits through the fiber scheduler and retries each millisecond.
//
// Each thread counts the sections it holds (first lock to last unlock): VTaskMgr::Init refuses to
// turn a thread that holds one into the main task, since the thread's ID, and with it the owner
// the section records, changes there.
#pragma once

#include <atomic>
#include <cstdint>

namespace zorn
{

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
    // Drops one level; the last one frees the lock and wakes a waiter. Does not check that the
    // caller is the owner. True.
    bool Unlock();

    // Snapshots for the owner itself and for tests: another task may see 0 for a moment after the
    // lock was taken.
    uint32_t GetOwnerID() const { return fOwner.load(std::memory_order_relaxed); }
    int32_t GetRecursionCount() const { return fCount.load(std::memory_order_relaxed); }

    // Sections the calling thread holds.
    static int32_t GetHeldCountOfCurrentThread();

private:
    static constexpr uint32_t kFree = 0;
    static constexpr uint32_t kLocked = 1;
    static constexpr uint32_t kLockedWithWaiters = 2;

    // Waits until the state word is taken; inState: the state last seen.
    void _LockContended(uint32_t inState);

    std::atomic<uint32_t> fState{kFree};
    std::atomic<uint32_t> fOwner{0}; // the owner's ID, stored by the owner after taking fState
    std::atomic<int32_t> fCount{0};  // written by the owner only
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
