// IIdleable: work done when a task is idle. Once started on a task, the idler's DoIdle is called
// each time that task idles, that is when it executes its messages and finds none (at most once
// per tick, or per the task's idle period), until StopIdling.
//
// An idler is called on its task only. StopIdling from another thread has the task itself drop
// the idler and waits until it did, so that after StopIdling returns the idler is not called
// again; the destructor stops as a last resort, but a subclass whose DoIdle uses its own members
// must stop before they go.
#pragma once

#include <atomic>
#include <memory>

namespace zorn
{

class VTask;

class IIdleable
{
public:
    IIdleable();
    virtual ~IIdleable();
    IIdleable(const IIdleable&) = delete;
    IIdleable& operator=(const IIdleable&) = delete;

    // Starts idling on the calling task, or on inTask (retained while idling). Nothing when
    // idling already, or without a task.
    void StartIdling();
    void StartIdling(VTask* inTask);
    void StopIdling();
    bool IsIdling() const { return fIdling.load(std::memory_order_acquire); }
    // Not retained; null when not idling.
    VTask* GetIdlingTask() const { return fTask; }

    // Calls DoIdle while idling.
    void Idle();

    // The idler while it exists, null once its destruction began: what messages that call it
    // later (XIdleMessage) hold instead of the idler itself.
    using Handle = std::shared_ptr<std::atomic<IIdleable*>>;
    const Handle& GetHandle() const { return fHandle; }

protected:
    virtual void DoIdle() {}

private:
    Handle fHandle;
    VTask* fTask = nullptr; // one reference while idling
    std::atomic<bool> fIdling{false};
};

} // namespace zorn
