#include "toolbox/kernel/tasks/VTaskMgr.h"

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/linux/XLinuxTask.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"
#include "toolbox/kernel/locks/SpinLock.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/messages/VMessageQueue.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"

#include <algorithm>
#include <sched.h>

namespace zorn
{

namespace
{
constexpr size_t kMaxDefaultStackSize = 1048576;
constexpr size_t kFallbackMainStackSize = 65536;
} // namespace

std::atomic<bool> VTaskMgr::sInstanceInited{false};

VTaskMgr* VTaskMgr::Get()
{
    // Never destroyed: task threads may still ask for it while static objects are torn down.
    static VTaskMgr* sInstance = new VTaskMgr();
    return sInstance;
}

VTaskMgr::VTaskMgr() : fPlatform(std::make_unique<XLinuxTaskMgr>()) {}

VTaskMgr::~VTaskMgr() = default;

// Init and DeInit

bool VTaskMgr::Init(IProcessServices* inProcess)
{
    // A section the thread holds records the thread's foreign ID, which stops being the thread's
    // ID once it runs the main task: the owner could never lock it again, nor be told it owns it.
    if (IsInited() || VCriticalSection::GetHeldCountOfCurrentThread() > 0)
    {
        return false;
    }
    bool done = _Init(inProcess);
    sInstanceInited.store(done, std::memory_order_release);
    SpinLock::Configure();
    return done;
}

bool VTaskMgr::_Init(IProcessServices* inProcess)
{
    Locker lock(fMutex);
    fScheduler = new VScheduler_void();
    bool fibers = inProcess != nullptr && inProcess->IsFibersEnabled();
    fPlatform->SetFibersEnabled(fibers);
    VTask* main = new VTask(VTask::MainTaskTag{}, this, GetStackSizeForMainTask(), fibers);
    if (main->fPlatformTask == nullptr)
    {
        main->Release();
        ReleaseRefCountable(&fScheduler);
        return false;
    }
    main->Retain(); // the list's reference
    fTasks.insert(fTasks.begin(), main);
    fMainTask.store(main, std::memory_order_release);
    VString name;
    main->GetName(name);
    XLinuxTaskMgr::SetCurrentThreadName(name, main->GetID());
    return true;
}

bool VTaskMgr::DeInit()
{
    // As for Init: the main task's ID is the owner a held section records.
    if (!IsInited() || VCriticalSection::GetHeldCountOfCurrentThread() > 0)
    {
        return false;
    }
    _DeInit();
    return true;
}

void VTaskMgr::_DeInit()
{
    PurgeDeadTasks();
    VTask* main = GetMainTask();
    main->_CloseMessageQueue();
    _AbortDelayedMessages();
    _DisposeData(main);
    main->fState.exchange(TaskState_Dead, std::memory_order_acq_rel);
    sInstanceInited.store(false, std::memory_order_release);
    if (XLinuxTaskMgr::GetCurrentTask() == main)
    {
        XLinuxTaskMgr::SetCurrentTask(nullptr);
    }
    {
        Locker lock(fMutex);
        auto found = std::find(fTasks.begin(), fTasks.end(), main);
        if (found != fTasks.end())
        {
            fTasks.erase(found);
            main->Release();
        }
        fMainTask.store(nullptr, std::memory_order_release);
        ReleaseRefCountable(&fScheduler);
        fPlatform->SetFibersEnabled(false);
    }
    main->Release();
}

// Current task

VTask* VTaskMgr::GetCurrentTask()
{
    return IsInited() ? XLinuxTaskMgr::GetCurrentTask() : nullptr;
}

int32_t VTaskMgr::GetCurrentTaskID()
{
    if (VTask* current = GetCurrentTask())
    {
        return current->GetID();
    }
    return XLinuxTaskMgr::GetCurrentForeignTaskID();
}

// IDs and the task list

int32_t VTaskMgr::_GetNewTaskID(VTask* inTask, bool& outFromPlatform)
{
    // Asked outside the mutex: a new thread's id may take a moment to arrive.
    int32_t platformID = inTask->fPlatformTask == nullptr ? 0 : inTask->fPlatformTask->GetValueForVTaskID();
    Locker lock(fMutex);
    // A listed task that died keeps its ID until purged, though the kernel may already have given
    // its thread id to the new thread.
    if (platformID != 0 && std::none_of(fTasks.begin(), fTasks.end(),
                                        [platformID](VTask* t) { return t->GetID() == platformID; }))
    {
        outFromPlatform = true;
        return platformID;
    }
    outFromPlatform = false;
    if (!fFreeIDs.empty())
    {
        int32_t id = fFreeIDs.back();
        fFreeIDs.pop_back();
        return id;
    }
    return --fIDCounter;
}

void VTaskMgr::_RegisterTask(VTask* inTask)
{
    inTask->Retain();
    Locker lock(fMutex);
    fTasks.push_back(inTask);
}

int32_t VTaskMgr::GetTaskCount(bool inAliveOnly) const
{
    Locker lock(fMutex);
    if (!inAliveOnly)
    {
        return static_cast<int32_t>(fTasks.size());
    }
    return static_cast<int32_t>(std::count_if(fTasks.begin(), fTasks.end(),
                                              [](VTask* t) { return t->GetState() < TaskState_Dying; }));
}

VTask* VTaskMgr::RetainTaskByID(int32_t inID) const
{
    Locker lock(fMutex);
    return RetainRefCountable(GetTaskByID(inID));
}

VTask* VTaskMgr::GetTaskByID(int32_t inID) const
{
    Locker lock(fMutex);
    auto found = std::find_if(fTasks.begin(), fTasks.end(), [inID](VTask* t) { return t->GetID() == inID; });
    return found == fTasks.end() ? nullptr : *found;
}

void VTaskMgr::GetTasks(std::vector<VRefPtr<VTask>>& outTasks) const
{
    Locker lock(fMutex);
    outTasks.clear();
    for (VTask* task : fTasks)
    {
        outTasks.emplace_back(task);
    }
}

void VTaskMgr::PurgeDeadTasks()
{
    if (!fDeadTasksToPurge.load(std::memory_order_acquire))
    {
        return;
    }
    std::vector<VTask*> purged;
    {
        Locker lock(fMutex);
        // Cleared before the walk and set under the same mutex as the state: no death is missed.
        fDeadTasksToPurge.store(false, std::memory_order_relaxed);
        VTask* main = GetMainTask();
        for (auto it = fTasks.begin(); it != fTasks.end();)
        {
            VTask* task = *it;
            if (task != main && task->GetState() == TaskState_Dead)
            {
                if (!task->fIDFromPlatform)
                {
                    fFreeIDs.push_back(task->GetID());
                }
                purged.push_back(task);
                it = fTasks.erase(it);
            }
            else
            {
                ++it;
            }
        }
        fPurgedCount.fetch_add(static_cast<int32_t>(purged.size()), std::memory_order_relaxed);
    }
    // Outside the mutex: the last release joins the task's thread.
    for (VTask* task : purged)
    {
        task->Release();
    }
}

bool VTaskMgr::KillAllTasks(int inTimeoutMs)
{
    VTask* main = GetMainTask();
    if (main == nullptr || GetCurrentTask() != main)
    {
        return GetTaskCount() == 1;
    }
    constexpr int kSliceMs = 5;
    const uint32_t start = VSystem::GetCurrentTime();
    const uint32_t timeout = static_cast<uint32_t>(std::max(inTimeoutMs, 0));
    // Each task is told to prepare once; held here so that a purged task is not mistaken for a
    // new one at the same address.
    std::vector<VRefPtr<VTask>> prepared;
    for (;;)
    {
        std::vector<VRefPtr<VTask>> tasks;
        GetTasks(tasks);
        // Outside the mutex: DoPrepareToDie is the task's own code and may use the manager.
        for (VRefPtr<VTask>& task : tasks)
        {
            const uint32_t state = task->GetState();
            if (task.Get() == main || state < TaskState_Running)
            {
                continue;
            }
            if (std::find(prepared.begin(), prepared.end(), task) == prepared.end())
            {
                prepared.push_back(task);
                if (state < TaskState_Dead)
                {
                    task->DoPrepareToDie();
                }
            }
            if (task->_ChangeState(TaskState_Running, TaskState_Dying))
            {
                task->_RecordKill();
                task->_WakeForDeath();
            }
        }
        tasks.clear();
        PurgeDeadTasks();
        if (GetTaskCount() == 1)
        {
            return true;
        }
        const uint32_t elapsed = VSystem::GetCurrentTime() - start;
        if (elapsed >= timeout)
        {
            return false;
        }
        // Waits a short slice on the main task's queue, running what arrives meanwhile.
        bool timedOut = false;
        const int slice = static_cast<int>(std::min<uint32_t>(timeout - elapsed, kSliceMs));
        main->_ExecuteMessages(main->_RetainMessageWithTimeout(slice, &timedOut), false);
    }
}

// Yields and the fiber scheduler

IFiberScheduler* VTaskMgr::_RetainScheduler() const
{
    Locker lock(fMutex);
    return RetainRefCountable(fScheduler);
}

void VTaskMgr::Yield()
{
    VTask* current = GetCurrentTask();
    if (current != nullptr && current->IsFiber())
    {
        if (IFiberScheduler* scheduler = Get()->_RetainScheduler())
        {
            scheduler->Yield();
            scheduler->Release();
        }
    }
}

void VTaskMgr::YieldNow()
{
    VTask* current = GetCurrentTask();
    if (current != nullptr && current->IsFiber())
    {
        if (IFiberScheduler* scheduler = Get()->_RetainScheduler())
        {
            scheduler->YieldNow();
            scheduler->Release();
            return;
        }
    }
    ::sched_yield();
}

void VTaskMgr::CurrentFiberWaitFlag(int* inFlag, int inValue)
{
    if (IFiberScheduler* scheduler = Get()->_RetainScheduler())
    {
        scheduler->WaitFlag(inFlag, inValue);
        scheduler->Release();
    }
}

void VTaskMgr::CurrentFiberWaitFlagWithTimeout(int* inFlag, int inValue, int inMs)
{
    if (IFiberScheduler* scheduler = Get()->_RetainScheduler())
    {
        scheduler->WaitFlagWithTimeout(inFlag, inValue, inMs);
        scheduler->Release();
    }
}

void VTaskMgr::SetFiberScheduler(IFiberScheduler* inScheduler)
{
    RetainRefCountable(inScheduler);
    IFiberScheduler* previous = nullptr;
    {
        Locker lock(fMutex);
        previous = std::exchange(fScheduler, inScheduler);
    }
    if (previous != nullptr)
    {
        previous->Release();
    }
}

IFiberScheduler* VTaskMgr::RetainFiberScheduler() const
{
    return _RetainScheduler();
}

void VTaskMgr::WakeUpSystemEventPolling()
{
    if (IFiberScheduler* scheduler = _RetainScheduler())
    {
        scheduler->WakeUpSystemEventPolling();
        scheduler->Release();
    }
}

void VTaskMgr::SetSystemEventPolling(bool inPolling)
{
    if (IFiberScheduler* scheduler = _RetainScheduler())
    {
        scheduler->SetSystemEventPolling(inPolling);
        scheduler->Release();
    }
}

void VTaskMgr::PollAndExecuteUpdateEvent()
{
    if (IFiberScheduler* scheduler = _RetainScheduler())
    {
        scheduler->PollAndExecuteUpdateEvent();
        scheduler->Release();
    }
}

void VTaskMgr::SetDirectUpdate(bool inDirect)
{
    if (IFiberScheduler* scheduler = _RetainScheduler())
    {
        scheduler->SetDirectUpdate(inDirect);
        scheduler->Release();
    }
}

bool VTaskMgr::YieldToFiber(VTask* inTask)
{
    return fPlatform->YieldToFiber(inTask);
}

void VTaskMgr::FiberStoppedBeingScheduled(VTask* inTask)
{
    if (inTask == nullptr || !inTask->IsFiber() || inTask == GetCurrentTask() ||
        inTask->GetState() == TaskState_Dead)
    {
        return;
    }
    // Dead moves only from dying: a fiber stopped while it was running or starting (it never ran
    // to its end) would otherwise stay alive for good, and those waiting for its death with it.
    if (inTask->_ChangeState(TaskState_Running, TaskState_Dying) ||
        inTask->_ChangeState(TaskState_Starting, TaskState_Dying))
    {
        inTask->_RecordKill();
    }
    // Its own thread will not close its queue: senders to it are released now.
    inTask->_CloseMessageQueue();
    inTask->_SetStateDead();
}

// Delayed messages

void VTaskMgr::RegisterDelayedMessage(VMessage* inMessage, int inDelayMs)
{
    if (inMessage == nullptr)
    {
        return;
    }
    // In 64 bits: a delay of days in milliseconds times 60 does not fit in 32.
    const int64_t delayTicks = static_cast<int64_t>(std::max(inDelayMs, 0)) * 60 / 1000;
    inMessage->Retain();
    Locker lock(fMutex);
    fDelayedMessages.push_back({inMessage, VSystem::GetCurrentTicks() + static_cast<uint32_t>(delayTicks)});
}

int32_t VTaskMgr::CountDelayedMessages() const
{
    Locker lock(fMutex);
    return static_cast<int32_t>(fDelayedMessages.size());
}

void VTaskMgr::_CheckDelayedMessages()
{
    const uint32_t now = VSystem::GetCurrentTicks();
    for (;;)
    {
        VMessage* due = nullptr;
        {
            Locker lock(fMutex);
            auto found = std::find_if(fDelayedMessages.begin(), fDelayedMessages.end(),
                                      [now](const DelayedMessage& d)
                                      { return VSystem::Delta32(now, d.fDueTick) > 0; });
            if (found == fDelayedMessages.end())
            {
                return;
            }
            due = found->fMessage;
            fDelayedMessages.erase(found);
        }
        // Outside the mutex: posting takes queue locks.
        due->RePost();
        due->Release();
    }
}

void VTaskMgr::_AbortDelayedMessages()
{
    std::vector<DelayedMessage> dropped;
    {
        Locker lock(fMutex);
        dropped.swap(fDelayedMessages);
    }
    for (DelayedMessage& delayed : dropped)
    {
        delayed.fMessage->Abort();
        delayed.fMessage->Release();
    }
}

void VTaskMgr::MAC_BeginHandlingUpdateEventsOnly()
{
    bool first = false;
    {
        Locker lock(fMutex);
        first = ++fUpdateEventsOnlyCount == 1;
    }
    if (first)
    {
        SetSystemEventPolling(false);
    }
}

void VTaskMgr::MAC_StopHandlingUpdateEventsOnly()
{
    bool last = false;
    {
        Locker lock(fMutex);
        if (fUpdateEventsOnlyCount > 0)
        {
            last = --fUpdateEventsOnlyCount == 0;
        }
    }
    if (last)
    {
        SetSystemEventPolling(true);
    }
}

void VTaskMgr::MAC_RunLoopTimerCallback()
{
    Yield();
    Get()->PollAndExecuteUpdateEvent();
}

// Stack sizes

size_t VTaskMgr::GetDefaultStackSize()
{
    Locker lock(fMutex);
    if (fDefaultStackSize == 0)
    {
        fDefaultStackSize = std::min(GetStackSizeForMainTask(), kMaxDefaultStackSize);
    }
    return fDefaultStackSize;
}

void VTaskMgr::SetDefaultStackSize(size_t inSize)
{
    Locker lock(fMutex);
    fDefaultStackSize = inSize;
}

size_t VTaskMgr::GetStackSizeForMainTask()
{
    Locker lock(fMutex);
    if (fMainTaskStackSize == 0)
    {
        fMainTaskStackSize = XLinuxTaskMgr::ComputeMainTaskStackSize();
        if (fMainTaskStackSize == 0)
        {
            fMainTaskStackSize = kFallbackMainStackSize;
        }
    }
    return fMainTaskStackSize;
}

size_t VTaskMgr::GetCurrentFreeStackSize()
{
    return XLinuxTaskMgr::GetCurrentFreeStackSize();
}

// Per-task data keys

VTaskDataKey VTaskMgr::CreateDataKey(void (*inDestructor)(void* inData))
{
    Locker lock(fMutex);
    for (size_t i = 0; i < fDataKeys.size(); ++i)
    {
        if (fDataKeys[i].fDeleted)
        {
            fDataKeys[i] = {inDestructor, false};
            return static_cast<VTaskDataKey>(i + 1);
        }
    }
    fDataKeys.push_back({inDestructor, false});
    return static_cast<VTaskDataKey>(fDataKeys.size());
}

void VTaskMgr::DeleteDataKey(VTaskDataKey inKey)
{
    Locker lock(fMutex);
    if (inKey >= 1 && inKey <= fDataKeys.size())
    {
        fDataKeys[inKey - 1].fDeleted = true;
    }
}

bool VTaskMgr::CheckDataKey(VTaskDataKey inKey) const
{
    Locker lock(fMutex);
    return inKey >= 1 && inKey <= fDataKeys.size() && !fDataKeys[inKey - 1].fDeleted;
}

void VTaskMgr::_DisposeData(VTask* inTask)
{
    std::vector<void*> data;
    data.swap(inTask->fData);
    for (size_t i = 0; i < data.size(); ++i)
    {
        if (data[i] == nullptr)
        {
            continue;
        }
        void (*destructor)(void*) = nullptr;
        {
            Locker lock(fMutex);
            if (i < fDataKeys.size() && !fDataKeys[i].fDeleted)
            {
                destructor = fDataKeys[i].fDestructor;
            }
        }
        // Outside the mutex: a destructor may use tasks itself.
        if (destructor != nullptr)
        {
            destructor(data[i]);
        }
    }
}

} // namespace zorn
