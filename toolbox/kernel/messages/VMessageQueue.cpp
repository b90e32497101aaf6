#include "toolbox/kernel/messages/VMessageQueue.h"

#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/messages/IMessageable.h"
#include "toolbox/kernel/messages/VMessage.h"

#include <algorithm>

namespace zorn
{

VMessageQueue::VMessageQueue() : fEvent(new VSyncEvent()) {}

VMessageQueue::~VMessageQueue()
{
    std::vector<VMessage*> left(fMessages.begin(), fMessages.end());
    fMessages.clear();
    _AbortAll(left);
    fEvent->Release();
}

void VMessageQueue::_ResetEventWhenIdle()
{
    if (fMessages.empty() && !fWoken)
    {
        fEvent->Reset();
    }
}

void VMessageQueue::_AbortAll(std::vector<VMessage*>& ioMessages)
{
    for (VMessage* message : ioMessages)
    {
        message->Abort();
        message->Release();
    }
    ioMessages.clear();
}

bool VMessageQueue::AddMessage(VMessage* inMessage)
{
    if (inMessage == nullptr)
    {
        return false;
    }
    const uint32_t signature = inMessage->GetCoalescingSignature();
    StLocker<VCriticalSection> lock(&fLock);
    if (fClosed)
    {
        return false;
    }
    if (signature != 0)
    {
        // Only a message that will still run for the same target may absorb the new one: a
        // queued message that was aborted, or has been posted again elsewhere since, will not.
        VMessagingContext* context = inMessage->_PeekContext();
        for (VMessage* queued : fMessages)
        {
            if (queued != inMessage && queued->_PeekContext() == context &&
                queued->GetCoalescingSignature() == signature)
            {
                if (!queued->DoCoalesce(*inMessage))
                {
                    return false;
                }
                break;
            }
        }
    }
    const bool wasEmpty = fMessages.empty();
    ++fStamp;
    inMessage->Retain();
    fMessages.push_back(inMessage);
    if (wasEmpty)
    {
        fEvent->Unlock();
    }
    return true;
}

VMessage* VMessageQueue::RetainMessage()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fMessages.empty())
    {
        return nullptr;
    }
    VMessage* message = fMessages.front();
    fMessages.pop_front();
    _ResetEventWhenIdle();
    return message;
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int inMs, bool* outTimedOut)
{
    // Never under the lock: adders and wakers must get in.
    const bool signalled = fEvent->Lock(inMs);
    bool timedOut = !signalled;
    VMessage* message = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        if (fWoken)
        {
            fWoken = false;
            timedOut = false;
        }
        else if (signalled && !fMessages.empty())
        {
            message = fMessages.front();
            fMessages.pop_front();
        }
        _ResetEventWhenIdle();
    }
    if (outTimedOut != nullptr)
    {
        *outTimedOut = timedOut;
    }
    return message;
}

bool VMessageQueue::Wait(int inMs)
{
    const bool signalled = fEvent->Lock(inMs);
    StLocker<VCriticalSection> lock(&fLock);
    if (fWoken)
    {
        fWoken = false;
        _ResetEventWhenIdle();
    }
    return signalled;
}

void VMessageQueue::SetEvent()
{
    StLocker<VCriticalSection> lock(&fLock);
    ++fStamp;
    fWoken = true;
    fEvent->Unlock();
}

void VMessageQueue::CancelMessages()
{
    std::vector<VMessage*> cancelled;
    {
        StLocker<VCriticalSection> lock(&fLock);
        cancelled.assign(fMessages.begin(), fMessages.end());
        fMessages.clear();
        _ResetEventWhenIdle();
    }
    _AbortAll(cancelled);
}

void VMessageQueue::CancelMessages(IMessageable* inTarget)
{
    if (inTarget == nullptr)
    {
        return;
    }
    // Contexts are compared, never read: a queued message's context may be released meanwhile,
    // while the target's own one lives as long as the target.
    VMessagingContext* context = inTarget->GetMessagingContext();
    std::vector<VMessage*> cancelled;
    {
        StLocker<VCriticalSection> lock(&fLock);
        auto kept = std::stable_partition(fMessages.begin(), fMessages.end(),
                                          [context](VMessage* m) { return m->_PeekContext() != context; });
        cancelled.assign(kept, fMessages.end());
        fMessages.erase(kept, fMessages.end());
        _ResetEventWhenIdle();
    }
    _AbortAll(cancelled);
}

void VMessageQueue::Close()
{
    std::vector<VMessage*> cancelled;
    {
        StLocker<VCriticalSection> lock(&fLock);
        fClosed = true;
        cancelled.assign(fMessages.begin(), fMessages.end());
        fMessages.clear();
        _ResetEventWhenIdle();
    }
    _AbortAll(cancelled);
}

bool VMessageQueue::IsClosed() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fClosed;
}

bool VMessageQueue::RemoveMessage(VMessage* inMessage)
{
    VMessage* removed = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        auto found = std::find(fMessages.begin(), fMessages.end(), inMessage);
        if (found == fMessages.end())
        {
            return false;
        }
        removed = *found;
        fMessages.erase(found);
        _ResetEventWhenIdle();
    }
    removed->Release();
    return true;
}

int32_t VMessageQueue::CountMessages() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return static_cast<int32_t>(fMessages.size());
}

bool VMessageQueue::IsEmpty() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fMessages.empty();
}

uint32_t VMessageQueue::GetStamp() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fStamp;
}

} // namespace zorn
