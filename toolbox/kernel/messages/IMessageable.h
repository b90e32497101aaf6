// IMessageable: something that receives messages (a task, the process object, a notifier). Its
// messages run on the task that owns it, which by default is the task that created it.
//
// VMessagingContext is how messages reach their target: a reference-counted record of the target,
// the ID of the task that owns it and whether it takes messages now. Every pending message holds a
// reference to it, so a target that goes away only clears the record: messages still on their way
// then find no target and run no handler.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <atomic>
#include <cstdint>

namespace zorn
{

class IMessageable;
class VMessage;

class VMessagingContext : public VObject, public IRefCountable
{
public:
    // Count 1, active, for inTarget owned by the task inTaskID.
    VMessagingContext(IMessageable* inTarget, int32_t inTaskID);
    VMessagingContext(const VMessagingContext&) = delete;
    VMessagingContext& operator=(const VMessagingContext&) = delete;

    // Null once the target is destroyed.
    IMessageable* GetTarget() const { return fTarget.load(std::memory_order_acquire); }
    int32_t GetTaskID() const { return fTaskID.load(std::memory_order_acquire); }
    bool IsActive() const { return fActive.load(std::memory_order_acquire); }

private:
    friend class IMessageable;

    std::atomic<IMessageable*> fTarget;
    std::atomic<int32_t> fTaskID;
    std::atomic<bool> fActive{true};
};

class IMessageable
{
public:
    // Takes messages at once, on the calling task.
    IMessageable();
    // Messages still pending find no target from here on.
    virtual ~IMessageable();
    IMessageable(const IMessageable&) = delete;
    IMessageable& operator=(const IMessageable&) = delete;

    // While stopped, posts and sends to this target fail and leave the message idle; messages
    // already queued still run.
    void StartMessaging();
    void StopMessaging();
    bool IsMessagingStarted() const { return fContext->IsActive(); }

    // The task whose message queue receives this target's messages.
    int32_t GetMessagingTask() const { return fContext->GetTaskID(); }
    void SetMessagingTask(int32_t inTaskID);

    VMessagingContext* RetainMessagingContext() const;
    // Not retained: valid while the target lives.
    VMessagingContext* GetMessagingContext() const { return fContext; }

    // Handles a message that does not do its own work. The default does nothing.
    virtual void DoMessage(VMessage& inMessage);

private:
    VMessagingContext* fContext; // one reference
};

} // namespace zorn
