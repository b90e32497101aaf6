#include "toolbox/kernel/VTaskSeam.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorn::detail
{

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
