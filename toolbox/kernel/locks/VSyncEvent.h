// VSyncEvent: a reference-counted manual-reset event. Waiters pass while it is set; its owners
// (critical sections, condition variables, message queues, tasks) set and reset it in place.
// Threads wait on a condition variable with monotonic time-outs; cooperative (fiber) tasks wait
// through the fiber scheduler on the change stamp instead of blocking their thread.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"

#include <condition_variable>
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

    bool IsSet() const;
    uint32_t GetStamp() const { return fStamp.load(std::memory_order_acquire); }

private:
    mutable std::mutex fMutex;
    std::condition_variable fCondition;
    bool fSet = false;
    std::atomic<uint32_t> fStamp{0};
};

} // namespace zorn
