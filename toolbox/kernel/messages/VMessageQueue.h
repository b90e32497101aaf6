// VMessageQueue: the queue of messages waiting to run on one task, oldest first, with an event
// that is set while the queue holds messages or was woken (SetEvent). Only the owning task takes
// messages from it; any thread adds, cancels, wakes or counts.
//
// Choices: a message whose coalescing signature is not 0 is offered to the first queued message of
// the same signature that is still pending for the same target, which may absorb it
// (VMessage::DoCoalesce). A wake is remembered until a wait consumes it, so a wake that comes
// while nobody waits ends the next wait at once. Cancelling removes the messages under the lock and
// aborts them after it, so that waking their senders never nests two queue locks. A closed queue
// (its task has ended) refuses messages, and the refusal reaches the poster or sender.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace zorn
{

class IMessageable;
class VMessage;
class VSyncEvent;

class VMessageQueue : public VObject, public IRefCountable
{
public:
    VMessageQueue();
    VMessageQueue(const VMessageQueue&) = delete;
    VMessageQueue& operator=(const VMessageQueue&) = delete;

    // Appends the message (retained) unless a queued message absorbed it or the queue is closed;
    // whether it was appended.
    bool AddMessage(VMessage* inMessage);
    // The oldest message with the queue's reference, or null when empty.
    VMessage* RetainMessage();
    // Waits up to inMs milliseconds for a message or a wake. A wake is consumed and gives null with
    // *outTimedOut false; a time-out gives null with *outTimedOut true.
    VMessage* RetainMessageWithTimeout(int inMs, bool* outTimedOut);
    // Waits the same way without taking a message, consuming a wake; whether the event was set.
    bool Wait(int inMs);
    // Wakes the waiter (or the next wait).
    void SetEvent();

    // Removes and aborts every queued message, or those addressed to inTarget.
    void CancelMessages();
    void CancelMessages(IMessageable* inTarget);
    // Cancels every queued message and refuses messages from now on.
    void Close();
    bool IsClosed() const;
    // Removes the message without aborting it; whether it was queued.
    bool RemoveMessage(VMessage* inMessage);

    int32_t CountMessages() const;
    bool IsEmpty() const;
    // Changes at every add and every wake.
    uint32_t GetStamp() const;

protected:
    ~VMessageQueue() override;

private:
    // Under the lock, after a removal: the event stays set only while a message or a wake waits.
    void _ResetEventWhenIdle();
    // Outside the lock.
    static void _AbortAll(std::vector<VMessage*>& ioMessages);

    mutable VCriticalSection fLock;
    std::deque<VMessage*> fMessages; // retained
    VSyncEvent* fEvent;              // one reference
    uint32_t fStamp = 0;
    bool fWoken = false;
    bool fClosed = false;
};

} // namespace zorn
