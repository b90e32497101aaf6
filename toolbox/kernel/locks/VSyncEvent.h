// VSyncEvent: a reference-counted manual-reset event. Waiters pass while it is set; its owners
// (critical sections, condition variables, message queues, tasks) set and reset it in place.
// Threads wait on a condition variable with monotonic time-outs; cooperative tasks (fibers, and
// the main task of a process with fibers) wait through the fiber scheduler for the change stamp
// to move instead of blocking their thread, and setting an event that such tasks wait on tells
// the scheduler (VTaskMgr::WakeUpSystemEventPolling), so that a group whose fibers all wait goes
// on. The state is also an atomic flag: a wait on a set event, a reset of a reset one and IsSet
// take no lock, and setting wakes threads only when one waits, after the mutex is let go (so the
// woken thread does not run into it). A cooperative wait ends by the set flag, not the stamp: a
// set and reset that come and go while it waits are missed, as by a waiting thread.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zorn
{

// Common base of the waitable objects; no operations of its own.
class VSyncObject
{
};

class VSyncEvent : public VSyncObject, public IRefCountable
{
public:
    VSyncEvent() = default;
    ~VSyncEvent() override = default;
    VSyncEvent(const VSyncEvent&) = delete;
    VSyncEvent& operator=(const VSyncEvent&) = delete;

    // Waits until the event is set; true.
    bool Lock();
    // Waits at most inTimeoutMs milliseconds (spurious wake-ups wait again until the deadline);
    // whether the event is set. 0 or less only checks.
    bool Lock(int inTimeoutMs);

    // Sets the event: every waiter passes until it is reset.
    void Unlock();
    void Reset();

    bool IsSet() const { return fSet.load(std::memory_order_acquire); }
    // Moves at every set.
    uint32_t GetStamp() const { return static_cast<uint32_t>(_Stamp().load(std::memory_order_acquire)); }
    // Cooperative tasks waiting now.
    int32_t GetFiberWaiterCount() const { return fFiberWaiters.load(std::memory_order_acquire); }

private:
    // Whether the caller waits through the scheduler.
    static bool _IsCooperativeCaller();
    // The stamp as the scheduler's wait flag (an int it reads atomically).
    std::atomic_ref<int> _Stamp() const { return std::atomic_ref<int>(fStamp); }

    mutable std::mutex fMutex;
    std::condition_variable fCondition;
    std::atomic<bool> fSet{false}; // changed under fMutex
    int32_t fWaiters = 0;          // thread waiters; guarded by fMutex
    std::atomic<int32_t> fFiberWaiters{0};
    alignas(std::atomic_ref<int>::required_alignment) mutable int fStamp = 0;
};

} // namespace zorn
