// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxTask.h"

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/linux/XLinuxFiber.h"
#include "toolbox/kernel/linux/XLinuxTaskMgr.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace zorn
{

namespace
{

// The fields of /proc/self/task/<tid>/stat that tell a thread's CPU use, in clock ticks.
struct ThreadTimes
{
    unsigned long long fUser = 0;
    unsigned long long fSystem = 0;
    unsigned long long fStart = 0; // since boot
};

bool ReadThreadTimes(pid_t inThreadID, ThreadTimes& outTimes)
{
    if (inThreadID == 0)
    {
        return false;
    }
    std::ifstream file("/proc/self/task/" + std::to_string(inThreadID) + "/stat");
    std::string line;
    if (!std::getline(file, line))
    {
        return false;
    }
    // The name in parentheses may hold spaces and parentheses: the fields follow the last ')'.
    size_t close = line.rfind(')');
    if (close == std::string::npos)
    {
        return false;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    // From the state (field 3) on: utime is field 14, stime 15, starttime 22.
    for (int number = 3; number <= 22 && fields >> field; ++number)
    {
        if (number == 14)
        {
            outTimes.fUser = std::stoull(field);
        }
        else if (number == 15)
        {
            outTimes.fSystem = std::stoull(field);
        }
        else if (number == 22)
        {
            outTimes.fStart = std::stoull(field);
            return true;
        }
    }
    return false;
}

double ClockTicksPerSecond()
{
    long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? static_cast<double>(ticks) : 100.0;
}

// A deadline inMs milliseconds from now on the monotonic clock.
timespec DeadlineIn(int inMs)
{
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += inMs / 1000;
    deadline.tv_nsec += static_cast<long>(inMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L)
    {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

} // namespace

// XLinuxTask

XLinuxTask::XLinuxTask(VTask* inTask) : fTask(inTask) {}

XLinuxTask::~XLinuxTask() = default;

XLinuxFiber* XLinuxTask::GetOrMakeFiberForThread()
{
    if (fFiber == nullptr)
    {
        fFiber.reset(XLinuxFiber::CreateFiberForThread());
    }
    return fFiber.get();
}

size_t XLinuxTask::RoundStackSize(size_t inSize)
{
    long page = ::sysconf(_SC_PAGESIZE);
    size_t pageSize = page > 0 ? static_cast<size_t>(page) : 4096;
    size_t size = std::max<size_t>(inSize, PTHREAD_STACK_MIN);
    return (size + pageSize - 1) / pageSize * pageSize;
}

void XLinuxTask::_RecordCurrentThread()
{
    pthread_attr_t attributes;
    if (::pthread_getattr_np(::pthread_self(), &attributes) == 0)
    {
        void* address = nullptr;
        size_t size = 0;
        if (::pthread_attr_getstack(&attributes, &address, &size) == 0)
        {
            fStackLow = reinterpret_cast<uintptr_t>(address);
            fStackSize = size;
        }
        ::pthread_attr_destroy(&attributes);
    }
    fThreadID.store(::gettid(), std::memory_order_release);
    fThreadID.notify_all();
}

size_t XLinuxTask::GetFreeStackSize() const
{
    char here = 0;
    auto position = reinterpret_cast<uintptr_t>(&here);
    if (fStackSize == 0 || position < fStackLow || position > fStackLow + fStackSize)
    {
        return XLinuxTaskMgr::GetCurrentFreeStackSizeStatic();
    }
    return position - fStackLow;
}

bool XLinuxTask::GetCPUTimes(double& outUser, double& outSystem) const
{
    outUser = 0;
    outSystem = 0;
    ThreadTimes times;
    if (!ReadThreadTimes(GetSystemThreadID(), times))
    {
        return false;
    }
    outUser = static_cast<double>(times.fUser) / ClockTicksPerSecond();
    outSystem = static_cast<double>(times.fSystem) / ClockTicksPerSecond();
    return true;
}

bool XLinuxTask::GetCPUUsage(double& outUsage) const
{
    outUsage = 0;
    ThreadTimes times;
    timespec now{};
    if (!ReadThreadTimes(GetSystemThreadID(), times) || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
    {
        return false;
    }
    double perSecond = ClockTicksPerSecond();
    double life = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 -
                  static_cast<double>(times.fStart) / perSecond;
    if (life > 0)
    {
        outUsage = static_cast<double>(times.fUser + times.fSystem) / perSecond / life;
    }
    return true;
}

// XLinuxTask_preemptive

XLinuxTask_preemptive* XLinuxTask_preemptive::CreateForCurrentThread(VTask* inTask)
{
    auto* task = new XLinuxTask_preemptive(inTask);
    if (!task->_InitSemaphore())
    {
        delete task;
        return nullptr;
    }
    task->_RecordCurrentThread();
    return task;
}

XLinuxTask_preemptive* XLinuxTask_preemptive::CreateWithThread(VTask* inTask, size_t inStackSize)
{
    auto* task = new XLinuxTask_preemptive(inTask);
    if (!task->_InitSemaphore() || !task->_CreateThread(inStackSize))
    {
        delete task;
        return nullptr;
    }
    return task;
}

XLinuxTask_preemptive::~XLinuxTask_preemptive()
{
    if (fOwnsThread)
    {
        if (::pthread_equal(fThread, ::pthread_self()))
        {
            ::pthread_detach(fThread);
        }
        else
        {
            // A thread still waiting for Run ends; one that ran its task is finishing.
            fAbandoned.store(true, std::memory_order_release);
            ::sem_post(&fSemaphore);
            ::pthread_join(fThread, nullptr);
        }
    }
    if (fHasSemaphore)
    {
        ::sem_destroy(&fSemaphore);
    }
}

bool XLinuxTask_preemptive::_InitSemaphore()
{
    if (::sem_init(&fSemaphore, 0, 0) != 0)
    {
        _ThrowError(MakeVErrorFromErrno(errno));
        return false;
    }
    fHasSemaphore = true;
    return true;
}

bool XLinuxTask_preemptive::_CreateThread(size_t inStackSize)
{
    size_t stackSize = RoundStackSize(inStackSize);
    pthread_attr_t attributes;
    int result = ::pthread_attr_init(&attributes);
    if (result == 0)
    {
        result = ::pthread_attr_setstacksize(&attributes, stackSize);
        if (result == 0)
        {
            result = ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
        }
        if (result == 0)
        {
            result = ::pthread_create(&fThread, &attributes, &_ThreadProc, this);
        }
        ::pthread_attr_destroy(&attributes);
    }
    if (result != 0)
    {
        _ThrowError(MakeVErrorFromErrno(result));
        return false;
    }
    fOwnsThread = true;
    return true;
}

void* XLinuxTask_preemptive::_ThreadProc(void* inSelf)
{
    static_cast<XLinuxTask_preemptive*>(inSelf)->_ThreadMain();
    return nullptr;
}

void XLinuxTask_preemptive::_ThreadMain()
{
    _RecordCurrentThread();
    VTask* task = fTask;
    // Waits for Run. A WakeUp that comes earlier finds the task still created and waits again.
    for (;;)
    {
        Freeze();
        if (fAbandoned.load(std::memory_order_acquire))
        {
            return;
        }
        if (task->GetState() != TaskState_Created)
        {
            break;
        }
    }
    if (task->GetState() != TaskState_Starting)
    {
        return;
    }
    XLinuxTaskMgr::SetCurrentTask(task);
    task->_Run();
    XLinuxTaskMgr::SetCurrentTask(nullptr);
    // From here on the task may be purged at any time; the thread touches it no more. Its
    // destruction joins this thread.
    task->_SetStateDead();
}

bool XLinuxTask_preemptive::Run()
{
    if (!fOwnsThread)
    {
        return false;
    }
    ::sem_post(&fSemaphore);
    return true;
}

void XLinuxTask_preemptive::WakeUp()
{
    ::sem_post(&fSemaphore);
}

void XLinuxTask_preemptive::Freeze()
{
    while (::sem_wait(&fSemaphore) != 0 && errno == EINTR)
    {
    }
}

void XLinuxTask_preemptive::Sleep(int inMs)
{
    timespec deadline = DeadlineIn(inMs);
    // A signal ends the wait early: wait again for the rest of the time.
    while (::sem_clockwait(&fSemaphore, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR)
    {
    }
}

int32_t XLinuxTask_preemptive::GetValueForVTaskID() const
{
    // A new thread records its id first thing; the creator waits for it here.
    fThreadID.wait(0, std::memory_order_acquire);
    return static_cast<int32_t>(fThreadID.load(std::memory_order_acquire));
}

// XLinuxTask_fiber

bool XLinuxTask_fiber::Run()
{
    // The caller's fiber: its task's, else one of the calling thread's own.
    XLinuxFiber* parent = nullptr;
    VTask* current = XLinuxTaskMgr::GetCurrentTask();
    if (current != nullptr && current->GetPlatformTask() != nullptr)
    {
        parent = current->GetPlatformTask()->GetOrMakeFiberForThread();
    }
    else
    {
        parent = XLinuxTaskMgr::GetThreadFiber();
    }
    if (parent == nullptr)
    {
        return false;
    }
    std::unique_ptr<XLinuxFiber> fiber(XLinuxFiber::Create(fTask->GetStackSize(), [this] { _FiberMain(); }));
    if (fiber == nullptr)
    {
        return false;
    }
    fFiber = std::move(fiber);
    fParentFiber = parent;
    parent->YieldTo(fFiber.get());
    return true;
}

void XLinuxTask_fiber::_FiberMain()
{
    _RecordCurrentThread();
    VTask* task = fTask;
    // Read now: once the task is dead it may be destroyed, and this object with it.
    XLinuxFiber* parent = fParentFiber;
    XLinuxTaskMgr::SetCurrentTask(task);
    task->_Run();
    XLinuxTaskMgr::SetCurrentTask(nullptr);
    task->_SetStateDead();
    parent->WakeUp();
}

void XLinuxTask_fiber::WakeUp()
{
    fTask->_RaiseWakeFlag();
}

void XLinuxTask_fiber::Freeze()
{
    fTask->_WaitOnWakeFlag(-1);
}

void XLinuxTask_fiber::Sleep(int inMs)
{
    fTask->_WaitOnWakeFlag(inMs);
}

} // namespace zorn
