#include "toolbox/kernel/messages/VMessage.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/messages/IMessageable.h"
#include "toolbox/kernel/messages/VMessageQueue.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <utility>

namespace zorn
{

namespace
{

// The messages running on this thread, innermost first, each with the context it runs with. A
// message no longer holds its context while it runs (it may even be posted again meanwhile), so
// DoExecute finds its target here.
struct ExecutingFrame
{
    const VMessage* fMessage;
    VMessagingContext* fContext;
    ExecutingFrame* fOuter;
};
thread_local ExecutingFrame* tExecuting = nullptr;

// The task that owns the context's target, retained, when the target takes messages now.
VTask* RetainReceivingTask(VMessagingContext* inContext)
{
    if (!inContext->IsActive() || inContext->GetTarget() == nullptr || !VTaskMgr::IsInited())
    {
        return nullptr;
    }
    const int32_t taskID = inContext->GetTaskID();
    return taskID == 0 ? nullptr : VTaskMgr::Get()->RetainTaskByID(taskID);
}

// Runs inMessage's DoExecute through inCall, with inContext as the message's running context.
template <class TCall>
void RunWithContext(const VMessage* inMessage, VMessagingContext* inContext, TCall&& inCall)
{
    ExecutingFrame frame{inMessage, inContext, tExecuting};
    tExecuting = &frame;
    inCall();
    tExecuting = frame.fOuter;
}

} // namespace

VMessage::~VMessage()
{
    if (VMessagingContext* context = _TakeContext())
    {
        context->Release();
    }
    ReleaseRefCountable(&fWaitEvent);
    ReleaseRefCountable(&fSenderQueue);
}

// Posting and sending

bool VMessage::PostTo(IMessageable* inTarget, bool inExecuteNowIfCurrent, int inDelayMs)
{
    if (inTarget == nullptr)
    {
        return false;
    }
    if (IsPending())
    {
        return true;
    }
    VMessagingContext* context = inTarget->RetainMessagingContext();
    return inDelayMs > 0 ? _PostDelayed(context, inDelayMs) : _Post(context, inExecuteNowIfCurrent);
}

bool VMessage::SendTo(IMessageable* inTarget, int inTimeoutMs)
{
    if (inTarget == nullptr || IsPending())
    {
        return false;
    }
    return _Send(inTarget->RetainMessagingContext(), inTimeoutMs, false);
}

bool VMessage::SendTo(IMessageable* inTarget)
{
    if (inTarget == nullptr || IsPending())
    {
        return false;
    }
    return _Send(inTarget->RetainMessagingContext(), 0, true);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* inTarget, int inTimeoutMs)
{
    return _PostAndWait(inTarget, inTimeoutMs, false);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* inTarget)
{
    return _PostAndWait(inTarget, 0, true);
}

bool VMessage::SendOrPostTo(VMessagingContext* inContext, int inDelayMs, bool inExecuteNowIfCurrent,
                            bool inSend, int inTimeoutMs)
{
    if (inContext == nullptr)
    {
        return false;
    }
    inContext->Retain();
    if (inDelayMs > 0)
    {
        return _PostDelayed(inContext, inDelayMs);
    }
    return inSend ? _Send(inContext, inTimeoutMs, false) : _Post(inContext, inExecuteNowIfCurrent);
}

bool VMessage::_Install(VMessagingContext* inContext)
{
    VMessagingContext* none = nullptr;
    return fContext.compare_exchange_strong(none, inContext, std::memory_order_acq_rel);
}

VMessage::EArm VMessage::_Arm(VMessagingContext* inContext, VRefPtr<VTask>& outTask)
{
    outTask.Adopt(RetainReceivingTask(inContext));
    if (!outTask)
    {
        inContext->Release();
        return EArm::eRefused;
    }
    // Cleared before the message can be seen pending: an abort from then on must stick.
    fAnswered.store(false, std::memory_order_relaxed);
    fAborted.store(false, std::memory_order_relaxed);
    if (!_Install(inContext))
    {
        // Another thread posted it meanwhile: it is pending.
        inContext->Release();
        return EArm::eAlreadyPending;
    }
    return EArm::eInstalled;
}

bool VMessage::_Post(VMessagingContext* inContext, bool inExecuteNowIfCurrent)
{
    VRefPtr<VTask> task;
    if (EArm armed = _Arm(inContext, task); armed != EArm::eInstalled)
    {
        return armed == EArm::eAlreadyPending;
    }
    if (inExecuteNowIfCurrent && task.Get() == VTask::GetCurrent())
    {
        // The caller is the target's task and is not waiting: nobody is to be woken.
        if (VMessagingContext* context = _TakeContext())
        {
            RunWithContext(this, context, [this] { DoExecute(); });
            fAnswered.store(true, std::memory_order_release);
            context->Release();
        }
        return true;
    }
    if (task->AddMessage(this))
    {
        return true;
    }
    if (VMessagingContext* context = _TakeContext())
    {
        context->Release();
    }
    return false;
}

bool VMessage::_PostDelayed(VMessagingContext* inContext, int inDelayMs)
{
    VRefPtr<VTask> task;
    if (EArm armed = _Arm(inContext, task); armed != EArm::eInstalled)
    {
        return armed == EArm::eAlreadyPending;
    }
    VTaskMgr::Get()->RegisterDelayedMessage(this, inDelayMs);
    return true;
}

bool VMessage::_Send(VMessagingContext* inContext, int inTimeoutMs, bool inWithoutTimeout)
{
    VRefPtr<VTask> task(RetainReceivingTask(inContext), true);
    if (!task)
    {
        inContext->Release();
        return false;
    }
    VTask* caller = VTask::GetCurrent();
    const bool toSelf = task.Get() == caller;
    fAnswered.store(false, std::memory_order_relaxed);
    fAborted.store(false, std::memory_order_relaxed);
    if (!toSelf)
    {
        // Ready before the message can be seen pending: whoever settles it signals this event.
        if (fWaitEvent == nullptr)
        {
            fWaitEvent = new VSyncEvent();
        }
        else
        {
            fWaitEvent->Reset();
        }
    }
    if (!_Install(inContext))
    {
        inContext->Release();
        return false;
    }
    if (toSelf)
    {
        if (VMessagingContext* context = _TakeContext())
        {
            RunWithContext(this, context, [this] { DoExecute(); });
            fAnswered.store(true, std::memory_order_release);
            context->Release();
        }
        return Answered();
    }
    if (!task->AddMessage(this))
    {
        if (VMessagingContext* context = _TakeContext())
        {
            context->Release();
        }
        return false;
    }
    const bool reasonSet = caller != nullptr && caller->_SetWaitReason(eTaskWaitReason_MessageAnswer);
    const bool settled = inWithoutTimeout ? fWaitEvent->Lock() : fWaitEvent->Lock(inTimeoutMs);
    if (!settled)
    {
        if (VMessagingContext* context = _TakeContext())
        {
            // Taken before the target's task got to it: it will never run.
            fAborted.store(true, std::memory_order_release);
            context->Release();
        }
        else
        {
            // The target's task (or an abort) has it: its end is near and sure.
            fWaitEvent->Lock();
        }
    }
    if (caller != nullptr)
    {
        caller->_ClearWaitReason(reasonSet);
    }
    return Answered();
}

bool VMessage::_PostAndWait(IMessageable* inTarget, int inTimeoutMs, bool inWithoutTimeout)
{
    if (inTarget == nullptr || IsPending())
    {
        return false;
    }
    VTask* caller = VTask::GetCurrent();
    if (caller == nullptr)
    {
        // No queue of its own to run: the caller can only block.
        return _Send(inTarget->RetainMessagingContext(), inTimeoutMs, inWithoutTimeout);
    }
    VMessageQueue* senderQueue = caller->RetainMessageQueue();
    if (VMessageQueue* previous = std::exchange(fSenderQueue, senderQueue))
    {
        previous->Release();
    }
    const uint32_t start = VSystem::GetCurrentTime();
    // Only a message that was queued can be waited for: a refused one would never be settled.
    if (_Post(inTarget->RetainMessagingContext(), true) && !Answered())
    {
        for (;;)
        {
            if (Answered() || IsAborted() || caller->GetState() >= TaskState_Dying)
            {
                break;
            }
            int slice = 1000;
            if (!inWithoutTimeout)
            {
                const uint32_t elapsed = VSystem::GetCurrentTime() - start;
                if (inTimeoutMs <= 0 || elapsed >= static_cast<uint32_t>(inTimeoutMs))
                {
                    break;
                }
                slice =
                    static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(inTimeoutMs) - elapsed, 1000));
            }
            const bool reasonSet = caller->_SetWaitReason(eTaskWaitReason_MessageAnswer);
            caller->ExecuteMessagesWithTimeout(slice, true);
            caller->_ClearWaitReason(reasonSet);
        }
        if (VMessagingContext* context = _TakeContext())
        {
            fAborted.store(true, std::memory_order_release);
            context->Release();
        }
        else
        {
            while (!Answered() && !IsAborted())
            {
                VTask::Sleep(10);
            }
        }
    }
    ReleaseRefCountable(&fSenderQueue);
    return Answered();
}

// Settling

void VMessage::Execute()
{
    if (VMessagingContext* context = _TakeContext())
    {
        _ExecuteWith(context);
    }
}

void VMessage::_ExecuteWith(VMessagingContext* inContext)
{
    _Settle(inContext,
            [this, inContext]
            {
                RunWithContext(this, inContext, [this] { DoExecute(); });
                fAnswered.store(true, std::memory_order_release);
            });
}

template <class F>
void VMessage::_Settle(VMessagingContext* inContext, F&& inSettle)
{
    // Taken before the answer: once answered or aborted, the sender may drop or replace them.
    VSyncEvent* waitEvent = RetainRefCountable(fWaitEvent);
    VMessageQueue* senderQueue = RetainRefCountable(fSenderQueue);
    inSettle();
    if (waitEvent != nullptr)
    {
        waitEvent->Unlock();
        waitEvent->Release();
    }
    if (senderQueue != nullptr)
    {
        senderQueue->SetEvent();
        senderQueue->Release();
    }
    inContext->Release();
}

void VMessage::_ExecuteOnTask(VTask* inTask)
{
    VMessagingContext* context = _TakeContext();
    if (context == nullptr)
    {
        return;
    }
    if (context->GetTaskID() != inTask->GetID())
    {
        // Left behind in this queue by a post that gave up, or its target moved to another task
        // since: it runs where its target's messages run now.
        _RePostWith(context);
        return;
    }
    _ExecuteWith(context);
}

void VMessage::Abort()
{
    if (VMessagingContext* context = _TakeContext())
    {
        _AbortWith(context);
    }
}

void VMessage::_AbortWith(VMessagingContext* inContext)
{
    _Settle(inContext, [this] { fAborted.store(true, std::memory_order_release); });
}

void VMessage::RePost()
{
    if (VMessagingContext* context = _TakeContext())
    {
        _RePostWith(context);
    }
}

void VMessage::_RePostWith(VMessagingContext* inContext)
{
    VRefPtr<VTask> task(RetainReceivingTask(inContext), true);
    if (!task)
    {
        _AbortWith(inContext);
        return;
    }
    if (!_Install(inContext))
    {
        // Posted again while it was in hand here: that post stands for it.
        inContext->Release();
        return;
    }
    if (!task->AddMessage(this))
    {
        if (VMessagingContext* context = _TakeContext())
        {
            _AbortWith(context);
        }
    }
}

bool VMessage::ActivateContext(IMessageable* inTarget)
{
    if (inTarget == nullptr)
    {
        return false;
    }
    fAnswered.store(false, std::memory_order_relaxed);
    fAborted.store(false, std::memory_order_relaxed);
    VMessagingContext* context = inTarget->RetainMessagingContext();
    if (!_Install(context))
    {
        context->Release();
        return false;
    }
    return true;
}

// Work

IMessageable* VMessage::GetTarget() const
{
    for (ExecutingFrame* frame = tExecuting; frame != nullptr; frame = frame->fOuter)
    {
        if (frame->fMessage == this)
        {
            return frame->fContext->GetTarget();
        }
    }
    return nullptr;
}

void VMessage::DoExecute()
{
    if (IMessageable* target = GetTarget())
    {
        target->DoMessage(*this);
    }
}

bool VMessage::DoCoalesce(const VMessage& /*inNewMessage*/)
{
    return true;
}

} // namespace zorn
