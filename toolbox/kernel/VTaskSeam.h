// What the locks need of the task system: the calling task's ID, yielding, sleeping and whether
// the caller is a cooperative (fiber) task. The task manager completes these; until it is
// running, a thread's ID is a foreign ID of its own (its kernel thread id, never 0, so that locks
// taken by different threads exclude each other), sleeping only yields, and no task is
// cooperative.
#pragma once

#include <cstdint>

namespace zorn
{
class VErrorBase;
class VErrorTaskContext;
class VString;
} // namespace zorn

namespace zorn::detail
{

// The current task's ID and name; false (0, empty) on a thread that runs no task.
bool GetCurrentTaskIdentity(int32_t& outID, VString& outName);
// The current task's error contexts, created when inCreate and missing; null without a task.
VErrorTaskContext* GetCurrentTaskErrorContext(bool inCreate);
// Pushes a raised error on the current task (retaining it); dropped without a task.
void PushErrorOnCurrentTask(VErrorBase* inError);
// Whether one of the current task's error contexts expects the code.
bool IsErrorFilteredOnCurrentTask(uint64_t inError);

// The ID that owns locks taken by the caller: never 0, the same on every call from one thread.
uint32_t CurrentLockOwnerID();
// Gives the processor to another thread (or fiber).
void YieldCurrentTask();
// Sleeps the current task for inMs milliseconds; 0 or less, or no task, only yields.
void SleepCurrentTask(int inMs);
// Whether the caller is a cooperative task, which must wait through the fiber scheduler.
bool CurrentTaskIsCooperative();
// Number of tasks the task manager counts (0 before it runs).
int32_t CountTasks();

} // namespace zorn::detail
