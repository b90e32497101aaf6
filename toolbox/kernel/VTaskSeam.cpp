#include "toolbox/kernel/VTaskSeam.h"

#include "toolbox/kernel/VString.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorn::detail
{

bool GetCurrentTaskIdentity(int32_t& outID, VString& outName)
{
    outID = 0;
    outName.Clear();
    return false;
}

VErrorTaskContext* GetCurrentTaskErrorContext(bool /*inCreate*/)
{
    return nullptr;
}

void PushErrorOnCurrentTask(VErrorBase* /*inError*/)
{
    // Without a current task a raised error is dropped.
}

bool IsErrorFilteredOnCurrentTask(uint64_t /*inError*/)
{
    return false;
}

uint32_t CurrentLockOwnerID()
{
    // Cached: gettid is a system call and locks ask for the ID on every acquire.
    thread_local const uint32_t sForeignID = static_cast<uint32_t>(::syscall(SYS_gettid));
    return sForeignID;
}

void YieldCurrentTask()
{
    ::sched_yield();
}

void SleepCurrentTask(int /*inMs*/)
{
    // No task runs yet: a sleep without a task only yields.
    ::sched_yield();
}

bool CurrentTaskIsCooperative()
{
    return false;
}

int32_t CountTasks()
{
    return 0;
}

} // namespace zorn::detail
