// VTask: a unit of work of the toolbox, run on a thread of its own (preemptive) or as a fiber.
// A task runs either a function object or, without one, the DoRun loop of a subclass; it is
// killed by request (the task notices through IsDying or the end of its DoRun loop), and other
// tasks can wait for its death. Per-task state that the rest of the toolbox reaches through the
// current task: the error-context stack, the international settings, per-task data and the
// message queue. A task is also a message target (IMessageable): its messages, and those of the
// targets it owns, run on it whenever it executes its messages: between two turns of the DoRun
// loop, and while it waits for an answer, for a message or for another task's death.
//
// States move forward only, by compare-and-swap: created (0), starting (1, Run), running (2, on
// the task's own thread; the main task is created running), dying (3, Kill or the end of the
// task's work), dead (4, once the task's thread has finished with it). A wait reason (sleeping,
// waiting for a message or an answer, waiting for a death) is set only when none is set, and
// cleared by the call that set it.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/messages/IMessageable.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VDebugContext.h"
#include "toolbox/kernel/values/VTime.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace zorn
{

class VErrorBase;
class VErrorContext;
class VErrorTaskContext;
class IIdleable;
class VIntlMgr;
class VJSONObject;
class VMessage;
class VMessageQueue;
class VTaskMgr;
class XLinuxTask;

enum ETaskStyle : int32_t
{
    eTaskStylePreemptive = 1,
    eTaskStyleFiber = 3
};

enum ETaskState : uint32_t
{
    TaskState_Created = 0,
    TaskState_Starting = 1,
    TaskState_Running = 2,
    TaskState_Dying = 3,
    TaskState_Dead = 4
};

enum ETaskWaitReason : uint32_t
{
    eTaskWaitReason_None = 0,
    eTaskWaitReason_Sleep = 1,
    eTaskWaitReason_Message = 4,
    eTaskWaitReason_MessageAnswer = 5,
    eTaskWaitReason_Death = 8
};

// A per-task data key: 1 and up; 0 is no key.
using VTaskDataKey = uint32_t;

class VTask : public VObject, public IMessageable, public IRefCountable
{
public:
    // A task of the style that runs inFunction (when empty, the DoRun loop), with inStackSize
    // bytes of stack (0: the task manager's default). The task is not started: call Run. When its
    // thread cannot be made, the error is raised and Run returns false.
    VTask(size_t inStackSize, ETaskStyle inStyle, std::function<void()>&& inFunction);
    // The same for a procedure called with the task. The owner is not kept.
    VTask(VObject* inOwner, size_t inStackSize, ETaskStyle inStyle, int (*inProc)(VTask*));
    ~VTask() override;
    VTask(const VTask&) = delete;
    VTask& operator=(const VTask&) = delete;

    // The calling thread's task, null when it runs none or the task manager is not running.
    static VTask* GetCurrent();
    // Whether the calling thread runs the main task.
    static bool IsCurrentMain();

    // The calling task's international settings, else the process's, else null.
    static VIntlMgr* GetCurrentIntlManager();
    // Makes inManager the calling task's settings (retained; the previous ones released).
    // Nothing for a null manager, the present one, or a thread without a task.
    static void SetCurrentIntlManager(VIntlMgr* inManager);
    // Gives the calling task new settings for the dialect (VIntlMgr::Create with the dialect as
    // collation dialect and the options); false when they cannot be made or there is no task.
    static bool SetCurrentDialectCode(uint32_t inDialectCode, uint8_t inOptions = 0);
    // The dialect of the current settings; 0 (the system dialect) without any.
    static uint32_t GetDialectCode();
    // The wild character of the current settings' collation; '@' without any.
    static UniChar GetWildChar();
    // The task's own settings, not retained: a clone of the process's when the task was made
    // (null when the process had none), until the task sets others.
    VIntlMgr* GetIntlMgr() const { return fIntlMgr; }
    // When the task object was made (UTC); fixed for its life.
    const VTime& GetCreationTime() const { return fCreationTime; }

    // Starts the task: from created to starting, registered with the task manager, its thread
    // let go. False when the task has no platform task, was started before, or cannot start.
    bool Run();
    // Asks the task to die: a running task becomes dying and is woken from WaitAndExecuteMessages
    // and Sleep. From another task, waits first while the task is still starting.
    void Kill();
    // Whether the task is dying or dead; outTicksSinceKill gets the ticks (1/60 s) since the kill
    // request (0 when not dying).
    bool IsDying(int* outTicksSinceKill = nullptr) const;
    // The same for inTask, or for the calling task when null (false on a thread without a task).
    // A bare nullptr would also match the form above: pass a typed null (VTask* or GetCurrent()).
    static bool IsDying(const VTask* inTask);
    // Waits up to inTimeoutMs milliseconds for the task's death; whether it is dead. False at once
    // when the task waits for itself.
    bool WaitForDeath(int inTimeoutMs);
    // Sleeps the calling task up to inMs milliseconds, or until WakeUp; with 0 or less, or on a
    // thread without a task, only yields.
    static void Sleep(int inMs);
    // Ends the task's current sleep; without one, its next sleep returns at once.
    void WakeUp();

    int32_t GetID() const { return fID; }
    ETaskStyle GetStyle() const { return fStyle; }
    uint32_t GetState() const { return fState.load(std::memory_order_acquire); }
    uint32_t GetWaitReason() const { return fWaitReason.load(std::memory_order_acquire); }
    bool IsFiber() const { return fFiber; }
    bool IsPreemptive() const { return fPreemptive; }
    bool IsMain() const;
    VTaskMgr* GetManager() const { return fManager; }
    XLinuxTask* GetPlatformTask() const { return fPlatformTask; }
    // The debug manager's state for the task; only the task's own thread may use it.
    VDebugContext& GetDebugContext() { return fDebugContext; }

    // A four-character code that tells what the task is for ('LOGG' for the logger task); 0 when
    // none was given.
    void SetKind(OsType inKind) { fKind.store(inKind, std::memory_order_relaxed); }
    OsType GetKind() const { return fKind.load(std::memory_order_relaxed); }

    // The calling task gives up its activity token, so that it no longer keeps the process busy.
    // Nothing on a thread without a task.
    static void ReleaseCurrentActivityToken();

    // The task's full name (the system keeps only the first 15 bytes of a thread's name).
    void SetName(const VString& inName);
    void GetName(VString& outName) const;
    // The stack size in bytes; 0 at creation means the main-task size for the main task and the
    // manager's default for the others, fixed on first use.
    size_t GetStackSize();
    // The kernel id of the task's thread; 0 without one.
    int32_t GetSystemID() const;
    bool GetCPUUsage(double& outUsage) const;
    bool GetCPUTimes(double& outUser, double& outSystem) const;

    // Error contexts: the task's stack of error scopes, created on first need when inCreate.
    VErrorTaskContext* GetErrorContext(bool inCreate);
    // Pushes the error (retained) on the innermost context and, unless a context filtered it,
    // reports it; false when it could not be pushed.
    bool PushError(VErrorBase* inError);
    // The same with the caller's reference, which is released.
    void PushRetainedError(VErrorBase* inError);
    void PushErrors(const VErrorContext* inContext);
    void FlushErrors();
    VError GetLastError() const;
    bool FailedForMemory() const;

    // Where errors that no context filtered are reported. The debug manager installs itself here
    // when it starts; until then errors are only collected. Null removes the reporter.
    using ErrorReporter = void (*)(VErrorBase* inError);
    static void SetErrorReporter(ErrorReporter inReporter);

    // Per-task data of the calling task; null for key 0, an unset key or without a task.
    static void* GetCurrentData(VTaskDataKey inKey);
    // False for key 0 or without a task.
    static bool SetCurrentData(VTaskDataKey inKey, void* inData);

    // JSON objects to be told when their task ends, with the function that tells them.
    using JSONObjectTerminator = std::function<void(VJSONObject* inObject, void* inContext)>;
    void RegisterJSONObject(VJSONObject* inObject, JSONObjectTerminator&& inTerminator);
    void UnregisterJSONObject(VJSONObject* inObject);
    void TerminateJSONObjects(void* inContext);

    // An application-level object attached to the task (retained); detached when the task ends.
    void SetZqTask(IRefCountable* inTask);
    IRefCountable* RetainZqTask() const;

    // Messages. The queue is made on first use; the task closes it when it ends, cancelling what
    // is left and refusing more.
    // Queues the message; false when absorbed by a queued one or the task has ended.
    bool AddMessage(VMessage* inMessage);
    // The queue with a reference for the caller (made when missing).
    VMessageQueue* RetainMessageQueue();
    // Not retained; null until first use.
    VMessageQueue* GetMessageQueue() const { return fMessageQueue.load(std::memory_order_acquire); }
    // Wakes the task's message wait: WaitAndExecuteMessages returns.
    void SetMessageQueueEvent();
    // On the task itself: runs the queued messages, or (inIdle) idles when there are none; whether
    // a message ran. The timed form first waits up to inMs milliseconds for one. False at once on
    // another thread.
    bool ExecuteMessages(bool inIdle);
    bool ExecuteMessagesWithTimeout(int inMs, bool inIdle);
    // On the task itself: runs messages and idles for inMs milliseconds, until SetMessageQueueEvent
    // or the task is dying; false when it is dying (or on another thread). *outTimedOut tells
    // whether the whole time passed. The form without a time waits until woken or dying. A wake
    // meant for an earlier wait (an answer or a death that came after it ended) also ends it.
    bool WaitAndExecuteMessages(int inMs, bool* outTimedOut = nullptr);
    bool WaitAndExecuteMessages();
    bool IsAnyMessagePending() const;
    // Changes at every message added and every wake; 0 without a queue.
    uint32_t GetMessageQueueStamp() const;
    void CancelMessages(IMessageable* inTarget);
    // Whether the task executed its messages less than a second ago.
    bool IsResponding() const;

    // Idling: when the task executes its messages and finds none, at most once per idle period
    // (ticks; 0: once per tick), it calls DoIdle, its registered idlers and posts the delayed
    // messages whose time has come.
    void SetIdlePeriod(uint32_t inTicks) { fIdlePeriod.store(inTicks, std::memory_order_relaxed); }
    uint32_t GetIdlePeriod() const { return fIdlePeriod.load(std::memory_order_relaxed); }
    // Adds an idler (once). Cuts short a pass of the idlers in progress.
    void RegisterIdler(IIdleable* inIdler);
    // On the task itself only (so that no pass is calling the idler meanwhile); whether it did.
    bool UnregisterIdler(IIdleable* inIdler);
    // On the task itself: calls Idle on each registered idler.
    void CallIdlers();

protected:
    // Hooks of the DoRun loop: DoInit once, DoRun until it returns false or the task is dying,
    // then DoDeInit. DoPrepareToDie is called when the task is asked to die.
    virtual void DoInit() {}
    virtual void DoDeInit() {}
    virtual bool DoRun() { return false; }
    virtual void DoIdle() {}
    virtual void DoPrepareToDie() {}

private:
    friend class VTaskMgr;
    friend class VMessage;
    friend class XLinuxTask_preemptive;
    friend class XLinuxTask_fiber;

    struct MainTaskTag
    {
    };
    // The main task: the calling thread, running, stack size given.
    VTask(MainTaskTag, VTaskMgr* inManager, size_t inStackSize, bool inFiber);

    void _Construct();
    bool _ChangeState(uint32_t inFrom, uint32_t inTo);
    bool _SetWaitReason(uint32_t inReason);
    void _ClearWaitReason(bool inWasSet);
    // On the task's own thread: runs the function or the DoRun loop, then _Exit.
    void _Run();
    void _Exit();
    // After _Run: dying to dead, waking the tasks that wait for this death.
    void _SetStateDead();
    void _RecordKill();
    // After the move to dying: ends the task's message wait and its sleep.
    void _WakeForDeath();
    // How a cooperative task sleeps and is woken: the wake flag counts wakes; a wait (through the
    // scheduler, inMs milliseconds or, when negative, without limit) lasts while the flag still
    // has the value the task last saw, so a wake that came before the wait ends it at once, as a
    // semaphore would.
    void _RaiseWakeFlag();
    void _WaitOnWakeFlag(int inMs);
    void _SetActivityToken(IRefCountable* inToken);
    // Runs inMessage (taken from the queue, or null) and every message queued after it, each in an
    // error context of its own; without one, idles when inIdle. Whether a message ran.
    bool _ExecuteMessages(VMessage* inMessage, bool inIdle);
    // Idles when the idle period has passed since the last time.
    void _CheckIdleEvents();
    // Waits up to inMs milliseconds for a message of the task's queue (wait reason 4).
    VMessage* _RetainMessageWithTimeout(int inMs, bool* outTimedOut);
    // The queue, made when missing, without a reference: the task keeps it as long as it lives,
    // so callers that hold the task (or are it) may use it.
    VMessageQueue* _GetOrMakeMessageQueue();
    // Closes the queue at the task's end.
    void _CloseMessageQueue();

    int32_t fID = 0;
    bool fIDFromPlatform = false;
    ETaskStyle fStyle;
    VTaskMgr* fManager;
    XLinuxTask* fPlatformTask = nullptr; // owned
    std::atomic<uint32_t> fState{TaskState_Created};
    std::atomic<uint32_t> fWaitReason{eTaskWaitReason_None};
    std::atomic<uint32_t> fKillTick{0};
    std::atomic<bool> fKillRequested{false};
    std::function<void()> fFunction;
    VString fName; // guarded by the manager mutex
    const VTime fCreationTime{eInitWithCurrentTime};
    std::atomic<VMessageQueue*> fMessageQueue{nullptr}; // one reference, made on first use
    std::atomic<uint32_t> fWakeCount{0};                // + 1 at each SetMessageQueueEvent
    std::atomic<uint32_t> fLastExecutionTime{0};        // ms, at the last _ExecuteMessages
    // Idling, on the task's own thread except the period.
    uint32_t fLastIdleTick = 0;
    bool fHasIdled = false;
    bool fIdling = false;
    std::atomic<uint32_t> fIdlePeriod{0};
    std::vector<IIdleable*> fIdlers; // guarded by the manager mutex
    bool fCallingIdlers = false;     // guarded by the manager mutex
    size_t fStackSize;
    std::atomic<VErrorTaskContext*> fErrorContext{nullptr}; // owned, one reference
    bool fFiber = false;
    bool fPreemptive = true;
    int fFiberWakeFlag = 0;   // what a cooperative sleep waits on (atomic_ref)
    int fFiberWakeSeen = 0;   // its value at the task's last wake; the task's own thread only
    std::vector<void*> fData; // indexed by key - 1; the task's own thread only
    // One reference; only the task's own thread changes it.
    VIntlMgr* fIntlMgr = nullptr;
    std::vector<VMessageQueue*> fDeathWaiters; // retained; guarded by the manager mutex
    IRefCountable* fActivityToken = nullptr;
    std::map<VJSONObject*, JSONObjectTerminator> fJSONObjects;
    IRefCountable* fZqTask = nullptr; // guarded by the manager mutex
    VDebugContext fDebugContext;
    std::atomic<OsType> fKind{0};
};

} // namespace zorn
