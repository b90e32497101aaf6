// VMessage: a unit of work addressed to an IMessageable and run on the task that owns it. A
// message is posted (fire and forget, possibly after a delay), sent (the sender blocks until it
// ran or the time-out ends), or posted while the sender goes on running its own task's messages
// until the answer comes. Subclasses do their work in DoExecute, or leave it to the target's
// DoMessage.
//
// A message is pending while it holds its target's context, from the post until it runs or is
// dropped. The context is taken atomically by whoever settles the message (the executing task, an
// abort or cancel, a sender that gave up waiting), so each post runs at most once, and a sender
// whose wait timed out knows for sure whether the message ran. A message may be posted again once
// it is no longer pending.
//
// Choices: a post or send that the target's queue refuses (absorbed by coalescing, or the target's
// task has ended) leaves the message idle and reports failure; a send or a post-and-wait to a task
// that ends before running the message returns false at once; a message whose target was given to
// another task while it was queued runs on that task. Time-outs and delays are milliseconds; a delay
// is kept as whole ticks of 1/60 s, rounded down, and the message is posted at the first check
// after its tick has passed.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <atomic>
#include <cstdint>

namespace zorn
{

class IMessageable;
class VMessageQueue;
class VMessagingContext;
class VSyncEvent;
class VTask;

class VMessage : public VObject, public IRefCountable
{
public:
    VMessage() = default;
    VMessage(const VMessage&) = delete;
    VMessage& operator=(const VMessage&) = delete;

    // Queues the message for inTarget's task; with inExecuteNowIfCurrent, runs it at once when
    // that task is the calling one; with a positive inDelayMs, queues it once the delay has
    // passed. True when posted (or run), and at once, doing nothing, when it is still pending;
    // false when there is no target or it takes no messages now.
    bool PostTo(IMessageable* inTarget, bool inExecuteNowIfCurrent = false, int inDelayMs = 0);
    // Queues the message and waits until it ran, at most inTimeoutMs milliseconds (the form
    // without one waits as long as it takes); runs it at once when the target's task is the
    // calling one. Whether it ran; false when it is pending already.
    bool SendTo(IMessageable* inTarget, int inTimeoutMs);
    bool SendTo(IMessageable* inTarget);
    // Posts the message (running it at once on the target's own task) and runs the calling task's
    // messages until it was answered, the time-out ends, it was aborted or the caller is dying.
    // Whether it was answered. On a thread without a task this is a send.
    bool PostToAndWaitExecutingMessages(IMessageable* inTarget, int inTimeoutMs);
    bool PostToAndWaitExecutingMessages(IMessageable* inTarget);
    // A delay posts after it; otherwise a send (with inTimeoutMs) or a post.
    bool SendOrPostTo(VMessagingContext* inContext, int inDelayMs, bool inExecuteNowIfCurrent, bool inSend,
                      int inTimeoutMs);

    // Runs a pending message on the calling thread and answers it; nothing when it is not pending.
    void Execute();
    // Drops a pending message without running it and releases its sender.
    void Abort();
    // Queues a pending message again for its target's task, or drops it when that task takes no
    // messages now. What the task manager does with a delayed message when its time has come.
    void RePost();
    // Makes the message pending for inTarget without queueing it, so that Execute runs it; false
    // when it is pending already.
    bool ActivateContext(IMessageable* inTarget);

    bool IsPending() const { return _PeekContext() != nullptr; }
    // Set once the message ran (or by AnswerIt); cleared by the next post.
    bool Answered() const { return fAnswered.load(std::memory_order_acquire); }
    void AnswerIt() { fAnswered.store(true, std::memory_order_release); }
    // Set when the message was dropped before running; cleared by the next post.
    bool IsAborted() const { return fAborted.load(std::memory_order_acquire); }

    // Messages of the same non-zero signature may coalesce in a queue (see DoCoalesce). 0, the
    // default, never coalesces.
    virtual uint32_t GetCoalescingSignature() const { return 0; }

protected:
    ~VMessage() override;

    // The work. The default hands the message to its target's DoMessage.
    virtual void DoExecute();
    // Called on a queued message with a newer one of the same signature for the same target;
    // whether the newer one must still be queued. The default keeps both.
    virtual bool DoCoalesce(const VMessage& inNewMessage);

    // During DoExecute, the target the message runs for (null when it is gone).
    IMessageable* GetTarget() const;

private:
    friend class VMessageQueue;
    friend class VTask;

    VMessagingContext* _PeekContext() const { return fContext.load(std::memory_order_acquire); }
    // Makes the message pending with inContext (whose reference it takes on success).
    bool _Install(VMessagingContext* inContext);
    VMessagingContext* _TakeContext() { return fContext.exchange(nullptr, std::memory_order_acq_rel); }
    enum class EArm
    {
        eRefused,        // no receiving task: the context was released
        eAlreadyPending, // another thread posted the message first
        eInstalled
    };
    // Finds the receiving task, resets the answer flags and installs the context (whose reference
    // the call takes over).
    EArm _Arm(VMessagingContext* inContext, VRefPtr<VTask>& outTask);
    // Each takes the caller's reference on inContext.
    bool _Post(VMessagingContext* inContext, bool inExecuteNowIfCurrent);
    bool _PostDelayed(VMessagingContext* inContext, int inDelayMs);
    bool _Send(VMessagingContext* inContext, int inTimeoutMs, bool inWithoutTimeout);
    bool _PostAndWait(IMessageable* inTarget, int inTimeoutMs, bool inWithoutTimeout);
    // Runs inSettle (which answers or aborts the message), wakes the sender and releases the
    // taken context.
    template <class F>
    void _Settle(VMessagingContext* inContext, F&& inSettle);
    // With the taken context: runs DoExecute, answers and releases the context.
    void _ExecuteWith(VMessagingContext* inContext);
    // With the taken context: queues the message again on the context's task, else aborts it.
    void _RePostWith(VMessagingContext* inContext);
    // With the taken context: marks the message aborted, wakes its sender, releases the context.
    void _AbortWith(VMessagingContext* inContext);
    // A message taken from inTask's queue: runs it when its target still belongs to inTask,
    // otherwise queues it for the task that owns the target now.
    void _ExecuteOnTask(VTask* inTask);

    std::atomic<VMessagingContext*> fContext{nullptr}; // one reference while pending
    // Set by the sender before the message is queued, read by whoever settles it, and dropped by
    // the sender once it knows the message settled.
    VSyncEvent* fWaitEvent = nullptr;      // one reference; made for a synchronous send
    VMessageQueue* fSenderQueue = nullptr; // one reference; a sender running its own messages
    std::atomic<bool> fAnswered{false};
    std::atomic<bool> fAborted{false};
};

} // namespace zorn
