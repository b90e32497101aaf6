// VTaskMgr: the process-wide task manager. Init turns the calling thread into the main task; the
// manager then numbers tasks, lists the started ones (the main task first), purges dead ones,
// keeps the per-task data keys, holds delayed messages until their time and holds the fiber
// scheduler. Usable between Init and DeInit; outside that span no thread runs a task and sleeping
// only yields.
//
// Task IDs: a preemptive task (the main task too) takes the kernel id of its thread. A task the
// platform does not number (a fiber), or whose thread id is still held by a listed task that has
// died (the kernel reuses thread ids), takes the most recently freed manager ID, else the next
// one of -1, -2, ...; purging gives such IDs back. A thread that runs no task has a foreign ID of
// its own (see XLinuxTaskMgr); IDs are never 0, so a lock owner is never mistaken for "free".
//
// The manager mutex is recursive per thread; it guards the task list, free IDs, death waiters,
// task names, idler lists, delayed messages, the scheduler pointer and the data-key table. Its
// users never wait on a task while holding it.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zorn
{

class IFiberScheduler;
class IProcessServices;
class VMessage;
class XLinuxTaskMgr;

class VTaskMgr : public VObject
{
public:
    // The manager, built on first use and never destroyed (task threads may outlive main).
    static VTaskMgr* Get();
    // Whether Init has run and DeInit has not.
    static bool IsInited() { return sInstanceInited.load(std::memory_order_acquire); }

    // Makes the calling thread the main task, installs the no-op fiber scheduler, then reads the
    // spin-lock settings. The process gives the fiber setting (null: no fibers). False when the
    // manager runs already, the main task cannot be made, or the calling thread holds a
    // VCriticalSection (the thread's ID changes to the main task's, so the section's owner would
    // be lost).
    bool Init(IProcessServices* inProcess);
    // Disposes of the main task's data, marks it dead and drops it; call on the thread that
    // called Init, after the other tasks are gone. Refused (false, nothing done) while the
    // calling thread holds a VCriticalSection: the section records the main task's ID, which
    // stops being the thread's ID here. Whether the manager was running and stopped.
    bool DeInit();

    VTask* GetMainTask() const { return fMainTask.load(std::memory_order_acquire); }
    // The calling thread's task; null outside Init..DeInit or on a thread without a task.
    static VTask* GetCurrentTask();
    // The calling task's ID, or the calling thread's foreign ID; never 0.
    static int32_t GetCurrentTaskID();

    // Number of listed tasks, the main task included; with inAliveOnly, those not yet dying.
    int32_t GetTaskCount(bool inAliveOnly = false) const;
    VTask* RetainTaskByID(int32_t inID) const;
    // The listed task with the ID, not retained: valid only while the caller knows it is listed.
    VTask* GetTaskByID(int32_t inID) const;
    void GetTasks(std::vector<VRefPtr<VTask>>& outTasks) const;

    // From the main task: asks every other task to die and purges the dead, until only the main
    // task is left or inTimeoutMs milliseconds have passed. Each task's DoPrepareToDie runs once,
    // outside the manager mutex; a task moved to dying is woken from its message wait or sleep;
    // meanwhile the main task waits on its queue in short slices, running its messages. From
    // another task: kills nothing. Either way, whether the main task is alone.
    bool KillAllTasks(int inTimeoutMs);
    // Unlists dead tasks (not the main task) and drops the manager's references to them.
    void PurgeDeadTasks();
    int32_t GetPurgedTaskCount() const { return fPurgedCount.load(std::memory_order_relaxed); }

    // Yield lets the scheduler switch when the caller is a fiber (nothing otherwise); YieldNow
    // switches at once (sched_yield for a thread).
    static void Yield();
    static void YieldNow();
    // Cooperative waits through the scheduler while *inFlag equals inValue.
    static void CurrentFiberWaitFlag(int* inFlag, int inValue);
    static void CurrentFiberWaitFlagWithTimeout(int* inFlag, int inValue, int inMs);

    // The installed scheduler (retained here); null outside Init..DeInit.
    void SetFiberScheduler(IFiberScheduler* inScheduler);
    IFiberScheduler* RetainFiberScheduler() const;
    void WakeUpSystemEventPolling();
    void SetSystemEventPolling(bool inPolling);
    void PollAndExecuteUpdateEvent();
    void SetDirectUpdate(bool inDirect);
    // Hands control from the calling fiber to inTask's, when both are of one group (see
    // XLinuxTaskMgr); whether it did.
    bool YieldToFiber(VTask* inTask);
    // A fiber task that its scheduler will not run again (not the calling one) dies at once: it
    // becomes dying, then dead, its queue refuses messages, and those waiting for its death are
    // woken. Its data keys' destructors do not run (they belong to its own thread).
    void FiberStoppedBeingScheduled(VTask* inTask);

    // Keeps a pending message (retained) until inDelayMs milliseconds, counted in whole ticks
    // (1/60 s, rounded down), have passed; the first task that idles after that tick re-posts it.
    void RegisterDelayedMessage(VMessage* inMessage, int inDelayMs);
    int32_t CountDelayedMessages() const;

    // On macOS these let the main thread's run loop drive fiber switches and update events with a
    // repeating timer. Linux has no such run loop: the calls are counted, the first Begin turns the
    // scheduler's event polling off and the last Stop turns it on again, and no timer is made. The
    // timer's callback, for a run loop that would call it: a fiber yields, then the scheduler polls.
    void MAC_BeginHandlingUpdateEventsOnly();
    void MAC_StopHandlingUpdateEventsOnly();
    static void MAC_RunLoopTimerCallback();

    // Stack sizes in bytes. The default for new tasks is min(main-task size, 1 MiB) unless set.
    size_t GetDefaultStackSize();
    void SetDefaultStackSize(size_t inSize);
    // The main thread's stack size (65536 when the system reports none).
    size_t GetStackSizeForMainTask();
    // Bytes of stack left to the caller: below its position on a task; the stack limit (or 1 MiB
    // when there is none) on a thread without a task.
    static size_t GetCurrentFreeStackSize();

    // Per-task data keys, each with an optional destructor that runs at task exit for every
    // non-null value of a live key. Keys start at 1; deleted keys are reused.
    VTaskDataKey CreateDataKey(void (*inDestructor)(void* inData));
    void DeleteDataKey(VTaskDataKey inKey);
    bool CheckDataKey(VTaskDataKey inKey) const;

    VTaskMgr(const VTaskMgr&) = delete;
    VTaskMgr& operator=(const VTaskMgr&) = delete;

private:
    friend class VTask;

    VTaskMgr();
    ~VTaskMgr() override;

    using Locker = std::lock_guard<std::recursive_mutex>;

    bool _Init(IProcessServices* inProcess);
    void _DeInit();
    // A new task's ID (see the header comment); outFromPlatform tells where it came from.
    int32_t _GetNewTaskID(VTask* inTask, bool& outFromPlatform);
    void _RegisterTask(VTask* inTask);
    // Runs the destructors of the task's data; on the task's own thread as it exits.
    void _DisposeData(VTask* inTask);
    XLinuxTaskMgr* _GetPlatform() const { return fPlatform.get(); }
    // The installed scheduler with a reference for the caller, or null.
    IFiberScheduler* _RetainScheduler() const;
    // Re-posts, in the order they were registered, the delayed messages whose tick has passed.
    void _CheckDelayedMessages();
    // Drops every delayed message, aborted.
    void _AbortDelayedMessages();

    static std::atomic<bool> sInstanceInited;

    struct DataKeyEntry
    {
        void (*fDestructor)(void*);
        bool fDeleted;
    };

    mutable std::recursive_mutex fMutex;
    std::unique_ptr<XLinuxTaskMgr> fPlatform;
    std::atomic<VTask*> fMainTask{nullptr}; // one reference, besides the list's
    size_t fMainTaskStackSize = 0;
    size_t fDefaultStackSize = 0;
    std::vector<VTask*> fTasks; // started tasks, the main task first; one reference each
    int32_t fIDCounter = 0;
    std::vector<int32_t> fFreeIDs;         // the last freed is reused first
    IFiberScheduler* fScheduler = nullptr; // one reference
    std::atomic<bool> fDeadTasksToPurge{false};
    std::atomic<int32_t> fPurgedCount{0};
    std::vector<DataKeyEntry> fDataKeys;

    struct DelayedMessage
    {
        VMessage* fMessage; // retained
        uint32_t fDueTick;
    };
    std::vector<DelayedMessage> fDelayedMessages; // in registration order
    int32_t fUpdateEventsOnlyCount = 0;
};

} // namespace zorn
