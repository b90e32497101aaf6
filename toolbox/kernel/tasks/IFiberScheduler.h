// IFiberScheduler: how cooperative (fiber) tasks give up the processor and wait. The task manager
// forwards its fiber calls to the installed scheduler; preemptive tasks never reach it.
//
// VScheduler_void is the scheduler the task manager installs: every operation returns at once,
// so a cooperative wait through it never blocks its thread but spins, trying its condition again
// and again, until the condition holds. A process that enables fibers (with them its main task
// is cooperative) is expected to install a scheduler that really hands control from fiber to
// fiber (VTaskMgr::YieldToFiber) and blocks when none of its fibers can go on, until told that
// something changed (WakeUpSystemEventPolling, called when an event that a cooperative task
// waits on is set and when a cooperative task is woken).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

namespace zorn
{

class VTask;

class IFiberScheduler : public IRefCountable
{
public:
    // Lets another fiber run when this one's time slice is used up; YieldNow switches at once.
    virtual void Yield() = 0;
    virtual void YieldNow() = 0;
    // Waits while *inFlag equals inValue (with a time-out in milliseconds).
    virtual void WaitFlag(int* inFlag, int inValue) = 0;
    virtual void WaitFlagWithTimeout(int* inFlag, int inValue, int inMs) = 0;
    virtual void SetSystemEventPolling(bool inPolling) = 0;
    virtual bool WithSystemEventPolling() const = 0;
    virtual void PollAndExecuteUpdateEvent() = 0;
    virtual void SetDirectUpdate(bool inDirect) = 0;
    virtual void WakeUpSystemEventPolling() = 0;
    virtual bool RequiresSystemEventPolling() = 0;
    // Starts a fiber task. A scheduler that starts it itself clears *ioHandled and returns
    // whether the task started; otherwise the task starts the usual way.
    virtual bool RunFiber(VTask* inTask, bool* ioHandled) = 0;
    virtual void SetSystemCallCFRunloop(bool inCall) = 0;
    virtual void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool inAllowed) = 0;
};

class VScheduler_void : public VObject, public IFiberScheduler
{
public:
    void Yield() override {}
    void YieldNow() override {}
    void WaitFlag(int*, int) override {}
    void WaitFlagWithTimeout(int*, int, int) override {}
    void SetSystemEventPolling(bool) override {}
    bool WithSystemEventPolling() const override { return true; }
    void PollAndExecuteUpdateEvent() override {}
    void SetDirectUpdate(bool) override {}
    void WakeUpSystemEventPolling() override {}
    bool RequiresSystemEventPolling() override { return false; }
    bool RunFiber(VTask*, bool*) override { return false; }
    void SetSystemCallCFRunloop(bool) override {}
    void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}
};

} // namespace zorn
