// VMemMgrLock: the memory manager's lock in own-allocator mode. Recursive and owned by a thread,
// so that a purge handler may allocate and free from within the manager's own call.
//
// Every allocation and every free takes it once, so the free case is kept short: one
// compare-and-swap of a state word (free, locked, locked with waiters) to take it, one exchange
// to let go, and no call out of line. Locking again is the owner check alone. A thread that finds
// it taken spins briefly (the manager's sections are a few dozen instructions long), then marks it
// as waited for and sleeps on the state word (a futex); the release that finds waiters wakes one.
//
// Limits: owned by a thread, not by a task: fibers that share a thread share it (the manager
// never switches tasks while it holds it). Unlock does not check that the caller is the owner.
#pragma once

#include <atomic>
#include <cstdint>

namespace zorn
{

class VMemMgrLock
{
public:
    VMemMgrLock() = default;
    VMemMgrLock(const VMemMgrLock&) = delete;
    VMemMgrLock& operator=(const VMemMgrLock&) = delete;

    void Lock()
    {
        const void* caller = _CurrentThread();
        // Only the owner stores its own ID, and clears it before it lets go: a thread reads its
        // own ID here only while it holds the lock.
        if (fOwner.load(std::memory_order_relaxed) == caller)
        {
            ++fDepth;
            return;
        }
        uint32_t state = kFree;
        if (!fState.compare_exchange_strong(state, kLocked, std::memory_order_acquire,
                                            std::memory_order_relaxed))
        {
            _LockContended();
        }
        fOwner.store(caller, std::memory_order_relaxed);
        fDepth = 1;
    }

    // Drops one level; the last one frees the lock and wakes a waiter.
    void Unlock()
    {
        if (--fDepth != 0)
        {
            return;
        }
        fOwner.store(nullptr, std::memory_order_relaxed);
        if (fState.exchange(kFree, std::memory_order_release) == kLockedWithWaiters)
        {
            _WakeOne();
        }
    }

    // Whether the calling thread holds the lock.
    bool IsHeldByCurrentThread() const { return fOwner.load(std::memory_order_relaxed) == _CurrentThread(); }

private:
    static constexpr uint32_t kFree = 0;
    static constexpr uint32_t kLocked = 1;
    static constexpr uint32_t kLockedWithWaiters = 2;

    // A mark of the calling thread, read without a call: the address of its own byte.
    static const void* _CurrentThread() { return &tThreadMark; }
    void _LockContended();
    void _WakeOne();

    std::atomic<uint32_t> fState{kFree};
    static inline thread_local char tThreadMark = 0;

    std::atomic<const void*> fOwner{nullptr};
    int32_t fDepth = 0; // read and written by the owner only
};

} // namespace zorn
