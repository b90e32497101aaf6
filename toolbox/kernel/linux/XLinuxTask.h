// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxTask: the platform half of a task on Linux. XLinuxTask_preemptive runs its task on a
// POSIX thread of its own and sleeps and wakes on a semaphore of its own (sem_t; timed waits use
// CLOCK_MONOTONIC). The main task's platform task wraps the thread that started the task manager
// and has a semaphore as well, so the main task sleeps and is woken like any other task.
//
// A task's thread is created with the task: it records its kernel thread id (the task's ID) and
// stack bounds, then waits on the semaphore until VTask::Run posts it. A WakeUp that comes before
// Run does not start the task. The thread is joinable and destroying the platform task joins it,
// so no thread outlives the task it runs.
//
// XLinuxTask_fiber runs a cooperative task on a fiber (XLinuxFiber) made by Run: the caller's
// fiber (its task's, made for its thread on first need) becomes the parent, and control passes to
// the new fiber at once; from then on the installed fiber scheduler hands control around, and the
// finished fiber hands it back to its parent. A fiber task sleeps, freezes and is woken through
// the scheduler, on its task's wake flag. Its ID is the task manager's (fiber tasks share no
// thread id with anything), and its CPU times are those of its fiber's thread.
#pragma once

#include "toolbox/kernel/base/VObject.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

namespace zorn
{

class VTask;
class XLinuxFiber;

class XLinuxTask : public VObject
{
public:
    explicit XLinuxTask(VTask* inTask);
    ~XLinuxTask() override;
    XLinuxTask(const XLinuxTask&) = delete;
    XLinuxTask& operator=(const XLinuxTask&) = delete;

    // Starts the task; whether it could.
    virtual bool Run() = 0;
    // Ends a Sleep early; without one, the next Sleep returns at once.
    virtual void WakeUp() = 0;
    // Waits until woken.
    virtual void Freeze() = 0;
    // Waits up to inMs milliseconds, or until woken.
    virtual void Sleep(int inMs) = 0;
    // Whether system events wait for the task; Linux tasks receive none.
    virtual bool CheckSystemMessages() = 0;
    // The ID the platform gives the task; 0 lets the task manager number it.
    virtual int32_t GetValueForVTaskID() const { return 0; }
    // The CPU share the thread has used over its life (1.0: one processor all the time).
    virtual bool GetCPUUsage(double& outUsage) const;
    // CPU seconds the thread has spent in user and in system mode.
    virtual bool GetCPUTimes(double& outUser, double& outSystem) const;

    VTask* GetTask() const { return fTask; }
    // The kernel thread id; 0 while the thread has not recorded it.
    pid_t GetSystemThreadID() const { return fThreadID.load(std::memory_order_acquire); }
    // Bytes of stack left below the caller's position; meaningful on the task's own thread.
    size_t GetFreeStackSize() const;

    // The task's fiber (owned), null until it has one; the fiber that started it (null for a
    // thread's own fiber).
    XLinuxFiber* GetFiber() const { return fFiber.get(); }
    XLinuxFiber* GetParentFiber() const { return fParentFiber; }
    // On the task's own thread: its fiber, made for the thread when it has none (null when that
    // fails), so that the fibers it starts can hand control back to it.
    XLinuxFiber* GetOrMakeFiberForThread();

    // inSize raised to whole pages, and at least the system's least thread stack.
    static size_t RoundStackSize(size_t inSize);

protected:
    // Records the calling thread's kernel id and stack bounds.
    void _RecordCurrentThread();

    VTask* fTask;
    std::atomic<pid_t> fThreadID{0};
    uintptr_t fStackLow = 0; // the lowest address of the stack (stacks grow down)
    size_t fStackSize = 0;
    std::unique_ptr<XLinuxFiber> fFiber;
    XLinuxFiber* fParentFiber = nullptr;
};

class XLinuxTask_preemptive : public XLinuxTask
{
public:
    // Wraps the calling thread. Null when the semaphore cannot be made (the error is raised).
    static XLinuxTask_preemptive* CreateForCurrentThread(VTask* inTask);
    // Creates the task's thread with inStackSize bytes of stack, raised to whole pages. Null when
    // the semaphore or the thread cannot be made; the error ('POSX', errno) is raised.
    static XLinuxTask_preemptive* CreateWithThread(VTask* inTask, size_t inStackSize);
    ~XLinuxTask_preemptive() override;

    // Lets the waiting thread run the task; whether there is a thread of ours to start.
    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int inMs) override;
    bool CheckSystemMessages() override { return false; }
    // The thread's kernel id, waiting for a new thread to record it.
    int32_t GetValueForVTaskID() const override;

private:
    explicit XLinuxTask_preemptive(VTask* inTask) : XLinuxTask(inTask) {}
    bool _InitSemaphore();
    bool _CreateThread(size_t inStackSize);
    static void* _ThreadProc(void* inSelf);
    void _ThreadMain();

    sem_t fSemaphore{};
    bool fHasSemaphore = false;
    pthread_t fThread{};
    bool fOwnsThread = false; // a thread created here, joined on destruction
    std::atomic<bool> fAbandoned{false};
};

class XLinuxTask_fiber : public XLinuxTask
{
public:
    explicit XLinuxTask_fiber(VTask* inTask) : XLinuxTask(inTask) {}
    ~XLinuxTask_fiber() override = default;

    // Makes the task's fiber (replacing any earlier one), makes the calling fiber its parent and
    // yields to it; returns once control comes back to the caller. Whether the fiber was made.
    bool Run() override;
    // Raises the task's wake flag, tells the scheduler, then yields.
    void WakeUp() override;
    // Waits through the scheduler until the wake flag changes.
    void Freeze() override;
    // The same, at most inMs milliseconds.
    void Sleep(int inMs) override;
    bool CheckSystemMessages() override { return false; }

private:
    // The fiber's function: runs the task, marks it dead and hands control to the parent.
    void _FiberMain();
};

} // namespace zorn
