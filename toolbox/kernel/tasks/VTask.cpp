#include "toolbox/kernel/tasks/VTask.h"

#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxTask.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/messages/VMessageQueue.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"
#include "toolbox/kernel/tasks/IIdleable.h"
#include "toolbox/kernel/tasks/VActivityToken.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <string>
#include <utility>

namespace zorn
{

namespace
{

// A new task's international settings: a clone of the process's.
VIntlMgr* CloneProcessIntlMgr()
{
    IProcessServices* process = IProcessServices::Get();
    VIntlMgr* manager = process != nullptr ? process->GetIntlMgr() : nullptr;
    return manager != nullptr ? manager->Clone() : nullptr;
}

std::atomic<VTask::ErrorReporter>& Reporter()
{
    static std::atomic<VTask::ErrorReporter> sReporter{nullptr};
    return sReporter;
}

} // namespace

// Construction

VTask::VTask(size_t inStackSize, ETaskStyle inStyle, std::function<void()>&& inFunction)
    : fStyle(inStyle), fManager(VTaskMgr::Get()), fFunction(std::move(inFunction)), fStackSize(inStackSize),
      fFiber(inStyle == eTaskStyleFiber), fPreemptive(inStyle == eTaskStylePreemptive)
{
    _Construct();
}

VTask::VTask(VObject* /*inOwner*/, size_t inStackSize, ETaskStyle inStyle, int (*inProc)(VTask*))
    : VTask(inStackSize, inStyle, [inProc] { inProc(VTask::GetCurrent()); })
{
}

VTask::VTask(MainTaskTag, VTaskMgr* inManager, size_t inStackSize, bool inFiber)
    : fStyle(eTaskStylePreemptive), fManager(inManager), fStackSize(inStackSize), fFiber(inFiber),
      fPreemptive(!inFiber)
{
    fState.store(TaskState_Running, std::memory_order_relaxed);
    fIntlMgr = CloneProcessIntlMgr();
    fPlatformTask = fManager->_GetPlatform()->CreateMain(this);
    fID = fManager->_GetNewTaskID(this, fIDFromPlatform);
    SetMessagingTask(fID);
    fLastExecutionTime.store(VSystem::GetCurrentTime(), std::memory_order_relaxed);
}

void VTask::_Construct()
{
    // The stack size is fixed before the thread is made with it.
    GetStackSize();
    fIntlMgr = CloneProcessIntlMgr();
    fPlatformTask = fManager->_GetPlatform()->Create(this, fStyle);
    fID = fManager->_GetNewTaskID(this, fIDFromPlatform);
    SetMessagingTask(fID);
    fLastExecutionTime.store(VSystem::GetCurrentTime(), std::memory_order_relaxed);
}

VTask::~VTask()
{
    // First: joins a thread of ours, which may still be reading the task's state.
    delete fPlatformTask;
    fPlatformTask = nullptr;
    if (VErrorTaskContext* context = fErrorContext.exchange(nullptr))
    {
        context->Release();
    }
    _SetActivityToken(nullptr);
    ReleaseRefCountable(&fZqTask);
    ReleaseRefCountable(&fIntlMgr);
    if (VMessageQueue* queue = fMessageQueue.exchange(nullptr))
    {
        queue->Release();
    }
    for (VMessageQueue* waiter : fDeathWaiters)
    {
        waiter->Release();
    }
}

// Current task

VTask* VTask::GetCurrent()
{
    return VTaskMgr::GetCurrentTask();
}

bool VTask::IsCurrentMain()
{
    VTask* current = GetCurrent();
    return current != nullptr && current->IsMain();
}

bool VTask::IsMain() const
{
    return fManager->GetMainTask() == this;
}

VIntlMgr* VTask::GetCurrentIntlManager()
{
    if (VTask* current = GetCurrent(); current != nullptr && current->fIntlMgr != nullptr)
    {
        return current->fIntlMgr;
    }
    IProcessServices* process = IProcessServices::Get();
    return process == nullptr ? nullptr : process->GetIntlMgr();
}

void VTask::SetCurrentIntlManager(VIntlMgr* inManager)
{
    VTask* current = GetCurrent();
    if (current == nullptr || inManager == nullptr || inManager == current->fIntlMgr)
    {
        return;
    }
    inManager->Retain();
    VIntlMgr* previous = std::exchange(current->fIntlMgr, inManager);
    if (previous != nullptr)
    {
        previous->Release();
    }
}

bool VTask::SetCurrentDialectCode(uint32_t inDialectCode, uint8_t inOptions)
{
    if (GetCurrent() == nullptr)
    {
        return false;
    }
    VIntlMgr* manager = VIntlMgr::Create(inDialectCode, inDialectCode, inOptions);
    if (manager == nullptr)
    {
        return false;
    }
    SetCurrentIntlManager(manager);
    manager->Release();
    return true;
}

uint32_t VTask::GetDialectCode()
{
    VIntlMgr* manager = GetCurrentIntlManager();
    return manager != nullptr ? manager->GetDialectCode() : 0;
}

UniChar VTask::GetWildChar()
{
    VIntlMgr* manager = GetCurrentIntlManager();
    return manager != nullptr ? manager->GetWildChar() : VCollator::sDefaultWildChar;
}

// States

bool VTask::_ChangeState(uint32_t inFrom, uint32_t inTo)
{
    return fState.compare_exchange_strong(inFrom, inTo, std::memory_order_acq_rel);
}

bool VTask::_SetWaitReason(uint32_t inReason)
{
    uint32_t none = eTaskWaitReason_None;
    return fWaitReason.compare_exchange_strong(none, inReason, std::memory_order_acq_rel);
}

void VTask::_ClearWaitReason(bool inWasSet)
{
    if (inWasSet)
    {
        fWaitReason.store(eTaskWaitReason_None, std::memory_order_release);
    }
}

void VTask::_RecordKill()
{
    fKillTick.store(VSystem::GetCurrentTicks(), std::memory_order_relaxed);
    fKillRequested.store(true, std::memory_order_release);
}

void VTask::_SetActivityToken(IRefCountable* inToken)
{
    IRefCountable* previous = std::exchange(fActivityToken, inToken);
    if (previous != nullptr)
    {
        previous->Release();
    }
}

// Life cycle

bool VTask::Run()
{
    if (fPlatformTask == nullptr)
    {
        return false;
    }
    if (fFiber)
    {
        bool handled = true;
        bool started = false;
        if (IFiberScheduler* scheduler = fManager->_RetainScheduler())
        {
            started = scheduler->RunFiber(this, &handled);
            scheduler->Release();
        }
        if (!handled)
        {
            return started;
        }
    }
    if (!_ChangeState(TaskState_Created, TaskState_Starting))
    {
        return false;
    }
    {
        VString name;
        GetName(name);
        std::u16string text = u"Running task ";
        text.append(reinterpret_cast<const char16_t*>(name.GetCPointer()),
                    static_cast<size_t>(name.GetLength()));
        _SetActivityToken(new VActivityToken(
            VString(reinterpret_cast<const UniChar*>(text.data()), static_cast<int32_t>(text.size()))));
    }
    fManager->_RegisterTask(this);
    if (!fPlatformTask->Run())
    {
        _ChangeState(TaskState_Starting, TaskState_Dying);
        _SetStateDead();
        return false;
    }
    return true;
}

void VTask::_Run()
{
    if (!_ChangeState(TaskState_Starting, TaskState_Running))
    {
        return;
    }
    VString name;
    GetName(name);
    XLinuxTaskMgr::SetCurrentThreadName(name, fID);
    if (fFunction)
    {
        fFunction();
        _ChangeState(TaskState_Running, TaskState_Dying);
    }
    else
    {
        DoInit();
        for (;;)
        {
            if (fFiber)
            {
                VTaskMgr::Yield();
            }
            if (!DoRun())
            {
                Kill();
                DoDeInit();
                break;
            }
            VMessageQueue* queue = GetMessageQueue();
            _ExecuteMessages(queue == nullptr ? nullptr : queue->RetainMessage(), true);
            if (GetState() >= TaskState_Dying)
            {
                DoDeInit();
                break;
            }
        }
    }
    _Exit();
}

void VTask::_Exit()
{
    _CloseMessageQueue();
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        fJSONObjects.clear();
    }
    fManager->_DisposeData(this);
    // The function's captures go now, on the task's own thread, not whenever the task object dies.
    fFunction = nullptr;
    IRefCountable* zqTask = nullptr;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        zqTask = std::exchange(fZqTask, nullptr);
    }
    if (zqTask != nullptr)
    {
        zqTask->Release();
    }
}

void VTask::_SetStateDead()
{
    _SetActivityToken(nullptr);
    std::vector<VMessageQueue*> waiters;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        waiters.swap(fDeathWaiters);
        _ChangeState(TaskState_Dying, TaskState_Dead);
        fManager->fDeadTasksToPurge.store(true, std::memory_order_release);
    }
    // The task may be purged and destroyed from here on: only the local list is touched.
    for (VMessageQueue* waiter : waiters)
    {
        waiter->SetEvent();
        waiter->Release();
    }
}

void VTask::Kill()
{
    if (GetCurrent() != this)
    {
        while (GetState() == TaskState_Starting)
        {
            VTaskMgr::YieldNow();
        }
    }
    if (GetState() < TaskState_Dead)
    {
        DoPrepareToDie();
    }
    if (_ChangeState(TaskState_Running, TaskState_Dying))
    {
        _RecordKill();
        // A task that ends itself is not waiting; a wake would only cut short its next wait.
        if (GetCurrent() != this)
        {
            _WakeForDeath();
        }
    }
}

void VTask::_WakeForDeath()
{
    // A task waiting for messages or sleeping learns of its death now rather than at the end of
    // its wait.
    SetMessageQueueEvent();
    WakeUp();
}

bool VTask::IsDying(int* outTicksSinceKill) const
{
    bool dying = GetState() >= TaskState_Dying;
    if (outTicksSinceKill != nullptr)
    {
        *outTicksSinceKill = 0;
        if (dying && fKillRequested.load(std::memory_order_acquire))
        {
            uint32_t ticks =
                static_cast<uint32_t>(VSystem::GetCurrentTicks() - fKillTick.load(std::memory_order_relaxed));
            *outTicksSinceKill = static_cast<int>(std::min<uint32_t>(ticks, INT32_MAX));
        }
    }
    return dying;
}

bool VTask::IsDying(const VTask* inTask)
{
    const VTask* task = inTask != nullptr ? inTask : GetCurrent();
    return task != nullptr && task->IsDying();
}

void VTask::ReleaseCurrentActivityToken()
{
    if (VTask* current = GetCurrent())
    {
        current->_SetActivityToken(nullptr);
    }
}

bool VTask::WaitForDeath(int inTimeoutMs)
{
    VTask* caller = GetCurrent();
    if (caller == this)
    {
        return false;
    }
    // The death wakes this queue. A task runs its messages meanwhile; a thread without a task
    // only waits, on a queue of its own.
    VMessageQueue* queue = caller != nullptr ? caller->RetainMessageQueue() : new VMessageQueue();
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        if (GetState() != TaskState_Dead)
        {
            queue->Retain();
            fDeathWaiters.push_back(queue);
        }
    }
    const bool reasonSet = caller != nullptr && caller->_SetWaitReason(eTaskWaitReason_Death);
    const uint32_t start = VSystem::GetCurrentTime();
    while (GetState() != TaskState_Dead)
    {
        const uint32_t elapsed = VSystem::GetCurrentTime() - start;
        if (inTimeoutMs <= 0 || elapsed >= static_cast<uint32_t>(inTimeoutMs))
        {
            break;
        }
        const int remaining = static_cast<int>(static_cast<uint32_t>(inTimeoutMs) - elapsed);
        if (caller != nullptr)
        {
            bool timedOut = false;
            caller->_ExecuteMessages(caller->_RetainMessageWithTimeout(remaining, &timedOut), true);
        }
        else
        {
            queue->Wait(remaining);
        }
    }
    if (caller != nullptr)
    {
        caller->_ClearWaitReason(reasonSet);
    }
    bool removed = false;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        auto found = std::find(fDeathWaiters.begin(), fDeathWaiters.end(), queue);
        if (found != fDeathWaiters.end())
        {
            fDeathWaiters.erase(found);
            removed = true;
        }
    }
    if (removed)
    {
        queue->Release();
    }
    queue->Release();
    return GetState() == TaskState_Dead;
}

void VTask::Sleep(int inMs)
{
    VTask* current = GetCurrent();
    if (inMs <= 0 || current == nullptr)
    {
        VTaskMgr::YieldNow();
        return;
    }
    bool reasonSet = current->_SetWaitReason(eTaskWaitReason_Sleep);
    if (!current->fPreemptive)
    {
        // The main task of a process with fibers is cooperative too, on a thread of its own.
        current->_WaitOnWakeFlag(inMs);
    }
    else if (current->fPlatformTask != nullptr)
    {
        current->fPlatformTask->Sleep(inMs);
    }
    current->_ClearWaitReason(reasonSet);
}

void VTask::WakeUp()
{
    if (!fPreemptive)
    {
        _RaiseWakeFlag();
    }
    else if (fPlatformTask != nullptr)
    {
        fPlatformTask->WakeUp();
    }
}

void VTask::_RaiseWakeFlag()
{
    std::atomic_ref<int>(fFiberWakeFlag).fetch_add(1, std::memory_order_acq_rel);
    // A scheduler whose fibers all wait learns that one may go on.
    fManager->WakeUpSystemEventPolling();
    VTaskMgr::YieldNow();
}

void VTask::_WaitOnWakeFlag(int inMs)
{
    std::atomic_ref<int> flag(fFiberWakeFlag);
    if (flag.load(std::memory_order_acquire) == fFiberWakeSeen)
    {
        if (inMs < 0)
        {
            VTaskMgr::CurrentFiberWaitFlag(&fFiberWakeFlag, fFiberWakeSeen);
        }
        else
        {
            VTaskMgr::CurrentFiberWaitFlagWithTimeout(&fFiberWakeFlag, fFiberWakeSeen, inMs);
        }
    }
    fFiberWakeSeen = flag.load(std::memory_order_acquire);
}

// Messages

VMessageQueue* VTask::RetainMessageQueue()
{
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    if (queue == nullptr)
    {
        VMessageQueue* made = new VMessageQueue();
        if (fMessageQueue.compare_exchange_strong(queue, made, std::memory_order_acq_rel))
        {
            queue = made;
        }
        else
        {
            made->Release();
        }
    }
    queue->Retain();
    return queue;
}

VMessageQueue* VTask::_GetOrMakeMessageQueue()
{
    VMessageQueue* queue = GetMessageQueue();
    if (queue == nullptr)
    {
        queue = RetainMessageQueue();
        queue->Release();
    }
    return queue;
}

bool VTask::AddMessage(VMessage* inMessage)
{
    return _GetOrMakeMessageQueue()->AddMessage(inMessage);
}

void VTask::SetMessageQueueEvent()
{
    fWakeCount.fetch_add(1, std::memory_order_acq_rel);
    _GetOrMakeMessageQueue()->SetEvent();
}

void VTask::_CloseMessageQueue()
{
    StopMessaging();
    // Made if missing: a poster that slipped past the stop must find the queue refusing.
    VMessageQueue* queue = RetainMessageQueue();
    queue->Close();
    queue->Release();
}

bool VTask::IsAnyMessagePending() const
{
    VMessageQueue* queue = GetMessageQueue();
    return queue != nullptr && !queue->IsEmpty();
}

uint32_t VTask::GetMessageQueueStamp() const
{
    VMessageQueue* queue = GetMessageQueue();
    return queue == nullptr ? 0 : queue->GetStamp();
}

void VTask::CancelMessages(IMessageable* inTarget)
{
    if (VMessageQueue* queue = GetMessageQueue())
    {
        queue->CancelMessages(inTarget);
    }
}

bool VTask::IsResponding() const
{
    return VSystem::GetCurrentTime() - fLastExecutionTime.load(std::memory_order_relaxed) < 1000;
}

VMessage* VTask::_RetainMessageWithTimeout(int inMs, bool* outTimedOut)
{
    VMessageQueue* queue = _GetOrMakeMessageQueue();
    IFiberScheduler* scheduler = fManager->_RetainScheduler();
    if (scheduler != nullptr)
    {
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(true);
    }
    const bool reasonSet = _SetWaitReason(eTaskWaitReason_Message);
    VMessage* message = queue->RetainMessageWithTimeout(inMs, outTimedOut);
    _ClearWaitReason(reasonSet);
    if (scheduler != nullptr)
    {
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(false);
        scheduler->Release();
    }
    return message;
}

bool VTask::_ExecuteMessages(VMessage* inMessage, bool inIdle)
{
    bool executed = false;
    for (VMessage* message = inMessage; message != nullptr;)
    {
        {
            // Errors a message raises are its own business: they end with it.
            StErrorContextInstaller scope(false, false);
            message->_ExecuteOnTask(this);
        }
        message->Release();
        executed = true;
        VMessageQueue* queue = GetMessageQueue();
        message = queue == nullptr ? nullptr : queue->RetainMessage();
    }
    if (!executed && inIdle)
    {
        _CheckIdleEvents();
    }
    fLastExecutionTime.store(VSystem::GetCurrentTime(), std::memory_order_relaxed);
    return executed;
}

bool VTask::ExecuteMessages(bool inIdle)
{
    if (GetCurrent() != this)
    {
        return false;
    }
    VMessageQueue* queue = GetMessageQueue();
    return _ExecuteMessages(queue == nullptr ? nullptr : queue->RetainMessage(), inIdle);
}

bool VTask::ExecuteMessagesWithTimeout(int inMs, bool inIdle)
{
    if (GetCurrent() != this)
    {
        return false;
    }
    bool timedOut = false;
    return _ExecuteMessages(_RetainMessageWithTimeout(inMs, &timedOut), inIdle);
}

bool VTask::WaitAndExecuteMessages(int inMs, bool* outTimedOut)
{
    if (outTimedOut != nullptr)
    {
        *outTimedOut = false;
    }
    if (GetCurrent() != this)
    {
        return false;
    }
    if (inMs < 1)
    {
        if (outTimedOut != nullptr)
        {
            *outTimedOut = true;
        }
        return true;
    }
    const uint32_t wakeCount = fWakeCount.load(std::memory_order_acquire);
    const uint32_t start = VSystem::GetCurrentTime();
    uint32_t elapsed = 0;
    while (GetState() < TaskState_Dying)
    {
        if (fWakeCount.load(std::memory_order_acquire) != wakeCount)
        {
            return true;
        }
        // A kill wakes the wait, so it may last the whole remaining time.
        bool timedOut = false;
        VMessage* message =
            _RetainMessageWithTimeout(static_cast<int>(static_cast<uint32_t>(inMs) - elapsed), &timedOut);
        if (message == nullptr && !timedOut)
        {
            return true;
        }
        _ExecuteMessages(message, true);
        // One clock reading a turn.
        elapsed = VSystem::GetCurrentTime() - start;
        if (elapsed >= static_cast<uint32_t>(inMs))
        {
            if (outTimedOut != nullptr)
            {
                *outTimedOut = true;
            }
            return true;
        }
    }
    return false;
}

bool VTask::WaitAndExecuteMessages()
{
    if (GetCurrent() != this)
    {
        return false;
    }
    const uint32_t wakeCount = fWakeCount.load(std::memory_order_acquire);
    while (GetState() < TaskState_Dying)
    {
        if (fWakeCount.load(std::memory_order_acquire) != wakeCount)
        {
            return true;
        }
        bool timedOut = false;
        VMessage* message = _RetainMessageWithTimeout(1000, &timedOut);
        if (message == nullptr && !timedOut)
        {
            return true;
        }
        _ExecuteMessages(message, true);
    }
    return false;
}

// Idling

void VTask::_CheckIdleEvents()
{
    if (fIdling)
    {
        return;
    }
    // Elapsed ticks, counted from an earlier moment: exact across the counter's wrap.
    const uint32_t now = VSystem::GetCurrentTicks();
    if (fHasIdled && now - fLastIdleTick <= fIdlePeriod.load(std::memory_order_relaxed))
    {
        return;
    }
    fIdling = true;
    fHasIdled = true;
    fLastIdleTick = now;
    DoIdle();
    CallIdlers();
    fManager->_CheckDelayedMessages();
    fIdling = false;
}

void VTask::RegisterIdler(IIdleable* inIdler)
{
    if (inIdler == nullptr)
    {
        return;
    }
    VTaskMgr::Locker lock(fManager->fMutex);
    if (std::find(fIdlers.begin(), fIdlers.end(), inIdler) == fIdlers.end())
    {
        fIdlers.push_back(inIdler);
    }
    fCallingIdlers = false;
}

bool VTask::UnregisterIdler(IIdleable* inIdler)
{
    if (GetCurrent() != this)
    {
        return false;
    }
    VTaskMgr::Locker lock(fManager->fMutex);
    auto found = std::find(fIdlers.begin(), fIdlers.end(), inIdler);
    if (found == fIdlers.end())
    {
        return false;
    }
    fIdlers.erase(found);
    // A pass in progress may hold the idler: it stops here.
    fCallingIdlers = false;
    return true;
}

void VTask::CallIdlers()
{
    if (GetCurrent() != this)
    {
        return;
    }
    std::vector<IIdleable*> idlers;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        idlers = fIdlers;
        fCallingIdlers = true;
    }
    for (IIdleable* idler : idlers)
    {
        {
            VTaskMgr::Locker lock(fManager->fMutex);
            if (!fCallingIdlers)
            {
                break;
            }
        }
        idler->Idle();
    }
}

// Names, stack and CPU

void VTask::SetName(const VString& inName)
{
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        fName = inName;
    }
    if (GetCurrent() == this)
    {
        XLinuxTaskMgr::SetCurrentThreadName(inName, fID);
    }
}

void VTask::GetName(VString& outName) const
{
    VTaskMgr::Locker lock(fManager->fMutex);
    outName = fName;
}

size_t VTask::GetStackSize()
{
    if (fStackSize == 0)
    {
        fStackSize = IsMain() ? fManager->GetStackSizeForMainTask() : fManager->GetDefaultStackSize();
    }
    return fStackSize;
}

int32_t VTask::GetSystemID() const
{
    return fPlatformTask == nullptr ? 0 : fPlatformTask->GetSystemThreadID();
}

bool VTask::GetCPUUsage(double& outUsage) const
{
    outUsage = 0;
    return fPlatformTask != nullptr && fPlatformTask->GetCPUUsage(outUsage);
}

bool VTask::GetCPUTimes(double& outUser, double& outSystem) const
{
    outUser = 0;
    outSystem = 0;
    return fPlatformTask != nullptr && fPlatformTask->GetCPUTimes(outUser, outSystem);
}

// Errors

VErrorTaskContext* VTask::GetErrorContext(bool inCreate)
{
    VErrorTaskContext* context = fErrorContext.load(std::memory_order_acquire);
    if (context == nullptr && inCreate)
    {
        VErrorTaskContext* created = new VErrorTaskContext();
        if (fErrorContext.compare_exchange_strong(context, created, std::memory_order_acq_rel))
        {
            context = created;
        }
        else
        {
            created->Release();
        }
    }
    return context;
}

bool VTask::PushError(VErrorBase* inError)
{
    if (inError == nullptr)
    {
        return false;
    }
    VErrorTaskContext* context = GetErrorContext(true);
    bool filtered = false;
    if (context == nullptr || !context->PushError(inError, &filtered))
    {
        return false;
    }
    if (!filtered)
    {
        if (ErrorReporter reporter = Reporter().load(std::memory_order_acquire))
        {
            reporter(inError);
        }
    }
    return true;
}

void VTask::PushRetainedError(VErrorBase* inError)
{
    if (inError != nullptr)
    {
        PushError(inError);
        inError->Release();
    }
}

void VTask::PushErrors(const VErrorContext* inContext)
{
    // Errors that come from another context were reported when they were raised.
    if (inContext != nullptr)
    {
        if (VErrorTaskContext* context = GetErrorContext(true))
        {
            context->PushErrorsFromContext(inContext);
        }
    }
}

void VTask::FlushErrors()
{
    if (VErrorTaskContext* context = GetErrorContext(false))
    {
        context->Flush();
    }
}

VError VTask::GetLastError() const
{
    VErrorTaskContext* context = fErrorContext.load(std::memory_order_acquire);
    return context == nullptr ? VE_OK : context->GetLastError();
}

bool VTask::FailedForMemory() const
{
    VErrorTaskContext* context = fErrorContext.load(std::memory_order_acquire);
    return context != nullptr && context->FailedForMemory();
}

void VTask::SetErrorReporter(ErrorReporter inReporter)
{
    Reporter().store(inReporter, std::memory_order_release);
}

// Per-task data

void* VTask::GetCurrentData(VTaskDataKey inKey)
{
    VTask* current = GetCurrent();
    if (current == nullptr || inKey == 0 || inKey > current->fData.size())
    {
        return nullptr;
    }
    return current->fData[inKey - 1];
}

bool VTask::SetCurrentData(VTaskDataKey inKey, void* inData)
{
    VTask* current = GetCurrent();
    if (current == nullptr || inKey == 0)
    {
        return false;
    }
    if (current->fData.size() < inKey)
    {
        current->fData.resize(inKey, nullptr);
    }
    current->fData[inKey - 1] = inData;
    return true;
}

// JSON objects and the application-level task

void VTask::RegisterJSONObject(VJSONObject* inObject, JSONObjectTerminator&& inTerminator)
{
    VTaskMgr::Locker lock(fManager->fMutex);
    fJSONObjects[inObject] = std::move(inTerminator);
}

void VTask::UnregisterJSONObject(VJSONObject* inObject)
{
    VTaskMgr::Locker lock(fManager->fMutex);
    fJSONObjects.erase(inObject);
}

void VTask::TerminateJSONObjects(void* inContext)
{
    std::map<VJSONObject*, JSONObjectTerminator> objects;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        objects = fJSONObjects;
    }
    // Outside the mutex: a terminator may unregister its object.
    for (auto& [object, terminator] : objects)
    {
        if (terminator)
        {
            terminator(object, inContext);
        }
    }
}

void VTask::SetZqTask(IRefCountable* inTask)
{
    RetainRefCountable(inTask);
    IRefCountable* previous = nullptr;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        previous = std::exchange(fZqTask, inTask);
    }
    if (previous != nullptr)
    {
        previous->Release();
    }
}

IRefCountable* VTask::RetainZqTask() const
{
    VTaskMgr::Locker lock(fManager->fMutex);
    return RetainRefCountable(fZqTask);
}

} // namespace zorn
