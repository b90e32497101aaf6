#include "toolbox/kernel/VTask.h"

#include "toolbox/kernel/IFiberScheduler.h"
#include "toolbox/kernel/IProcessServices.h"
#include "toolbox/kernel/VActivityToken.h"
#include "toolbox/kernel/VErrorBase.h"
#include "toolbox/kernel/VErrorContext.h"
#include "toolbox/kernel/VIntlMgr.h"
#include "toolbox/kernel/VKernelHooks.h"
#include "toolbox/kernel/VSyncEvent.h"
#include "toolbox/kernel/VSystem.h"
#include "toolbox/kernel/VTaskMgr.h"
#include "toolbox/kernel/linux/XLinuxTask.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"

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
}

void VTask::_Construct()
{
    // The stack size is fixed before the thread is made with it.
    GetStackSize();
    fIntlMgr = CloneProcessIntlMgr();
    fPlatformTask = fManager->_GetPlatform()->Create(this, fStyle);
    fID = fManager->_GetNewTaskID(this, fIDFromPlatform);
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
            // With messaging, the task's pending messages run here between two DoRun calls.
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
    // With messaging, the task's messaging stops and its queued messages are cancelled first.
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
    std::vector<VRefPtr<VSyncEvent>> waiters;
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        waiters.swap(fDeathWaiters);
        _ChangeState(TaskState_Dying, TaskState_Dead);
        fManager->fDeadTasksToPurge.store(true, std::memory_order_release);
    }
    // The task may be purged and destroyed from here on: only the local list is touched.
    for (VRefPtr<VSyncEvent>& waiter : waiters)
    {
        waiter->Unlock();
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
    }
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

bool VTask::WaitForDeath(int inTimeoutMs)
{
    VTask* caller = GetCurrent();
    if (caller == this)
    {
        return false;
    }
    // The death sets this event; with messaging, the caller's queue event serves instead so that
    // its messages run while it waits.
    VRefPtr<VSyncEvent> event(new VSyncEvent(), true);
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        if (GetState() != TaskState_Dead)
        {
            fDeathWaiters.push_back(event);
        }
    }
    bool reasonSet = caller != nullptr && caller->_SetWaitReason(eTaskWaitReason_Death);
    const uint32_t start = VSystem::GetCurrentTime();
    while (GetState() != TaskState_Dead)
    {
        uint32_t elapsed = static_cast<uint32_t>(VSystem::GetCurrentTime() - start);
        if (inTimeoutMs <= 0 || elapsed >= static_cast<uint32_t>(inTimeoutMs))
        {
            break;
        }
        event->Lock(static_cast<int>(static_cast<uint32_t>(inTimeoutMs) - elapsed));
    }
    if (caller != nullptr)
    {
        caller->_ClearWaitReason(reasonSet);
    }
    {
        VTaskMgr::Locker lock(fManager->fMutex);
        auto found = std::find(fDeathWaiters.begin(), fDeathWaiters.end(), event);
        if (found != fDeathWaiters.end())
        {
            fDeathWaiters.erase(found);
        }
    }
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
        int value = std::atomic_ref<int>(current->fFiberWakeFlag).load();
        VTaskMgr::CurrentFiberWaitFlagWithTimeout(&current->fFiberWakeFlag, value, inMs);
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
        std::atomic_ref<int>(fFiberWakeFlag).fetch_add(1);
        VTaskMgr::YieldNow();
    }
    else if (fPlatformTask != nullptr)
    {
        fPlatformTask->WakeUp();
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
