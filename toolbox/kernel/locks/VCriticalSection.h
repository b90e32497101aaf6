// VCriticalSection: the toolbox's common lock. Recursive and owned by a task (by task ID, not by
// thread): the owner may lock again and must unlock as often.
//
// The owner word is the lock: taking a free lock is one compare-and-swap of the caller's ID into
// it, and locking again is the owner check alone. A task that must wait counts itself among the
// waiters and sleeps on the owner word (std::atomic wait, a futex on Linux); the release that frees
// the lock wakes one waiter when there are any. IDs are never 0, so 0 means free.
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

    uint32_t GetOwnerID() const { return fOwner.load(std::memory_order_relaxed); }
    int32_t GetRecursionCount() const { return fCount.load(std::memory_order_relaxed); }

    // Sections the calling thread holds.
    static int32_t GetHeldCountOfCurrentThread();

private:
    void _LockContended(uint32_t inCaller);

    std::atomic<uint32_t> fOwner{0};
    std::atomic<int32_t> fCount{0}; // written by the owner only
    std::atomic<uint32_t> fWaiters{0};
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
