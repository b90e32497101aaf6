// VSyncEvent: a reference-counted manual-reset event. Waiters pass while it is set; its owners
// (critical sections, condition variables, message queues, tasks) set and reset it in place.
// Threads wait on a condition variable with monotonic time-outs; cooperative (fiber) tasks wait
// through the fiber scheduler on the change stamp instead of blocking their thread. The state is
// also an atomic flag: a wait on a set event, a reset of a reset one and IsSet take no lock, and
// setting wakes only when someone waits, after the mutex is let go (so the woken thread does not
// run into it).
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
    uint32_t GetStamp() const { return fStamp.load(std::memory_order_acquire); }

private:
    mutable std::mutex fMutex;
    std::condition_variable fCondition;
    std::atomic<bool> fSet{false}; // changed under fMutex
    int32_t fWaiters = 0;          // guarded by fMutex
    std::atomic<uint32_t> fStamp{0};
};

} // namespace zorn
