// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxTaskMgr: the task manager's platform half on Linux: which task the calling thread runs,
// the foreign ID of a thread without a task, thread names, stack sizes, and the making of
// platform tasks.
//
// IDs: a preemptive task is numbered by its thread's kernel id (gettid). A thread that runs no
// task has a foreign ID: its kernel id with bit 30 set, computed once per thread. Kernel thread
// ids stay below 2^22 (the kernel's PID_MAX_LIMIT), so a foreign ID never equals a task ID (nor
// a negative fiber ID), and no ID is 0.
//
// Thread names: a task's thread is named after the task, followed by " (id = N)". The system keeps
// only 15 bytes of a thread's name, so the name is cut there at a UTF-8 character boundary; the
// task keeps its full name. The process's main thread is never renamed: on Linux its name is the
// process's own (what ps, top and pkill show).
#pragma once

#include "toolbox/kernel/tasks/VTask.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zorn
{

class VString;
class XLinuxFiber;
class XLinuxTask;

class XLinuxTaskMgr
{
public:
    static constexpr int32_t kForeignIDBit = 0x40000000;
    static constexpr size_t kSystemThreadNameBytes = 15;

    XLinuxTaskMgr() = default;
    virtual ~XLinuxTaskMgr() = default;
    XLinuxTaskMgr(const XLinuxTaskMgr&) = delete;
    XLinuxTaskMgr& operator=(const XLinuxTaskMgr&) = delete;

    // A platform task wrapping the calling thread, which then runs inTask.
    XLinuxTask* CreateMain(VTask* inTask);
    // A platform task of the style: a thread of its own for a preemptive task (null when it
    // cannot be made), a fiber task when the process enables fibers; none otherwise.
    XLinuxTask* Create(VTask* inTask, ETaskStyle inStyle);
    // The process's fiber setting, given by the task manager at Init.
    void SetFibersEnabled(bool inEnabled) { fFibersEnabled.store(inEnabled, std::memory_order_relaxed); }
    bool IsFibersEnabled() const { return fFibersEnabled.load(std::memory_order_relaxed); }

    // The task the calling thread runs (whether or not the manager is running), or null.
    static VTask* GetCurrentTask();
    static void SetCurrentTask(VTask* inTask);
    static int32_t GetCurrentForeignTaskID();

    // The main thread's stack size; 0 when the system gives none.
    static size_t ComputeMainTaskStackSize();
    // On a task, the bytes of stack below the caller's position; otherwise as the static form.
    static size_t GetCurrentFreeStackSize();
    // The stack limit (RLIMIT_STACK), or 1 MiB when there is none.
    static size_t GetCurrentFreeStackSizeStatic();

    // Names the calling thread inName + " (id = inTaskID)", cut to what the system keeps.
    static void SetCurrentThreadName(const VString& inName, int32_t inTaskID);
    // The full thread name in UTF-8, and the part of it the system keeps.
    static std::string BuildThreadName(const VString& inName, int32_t inTaskID);
    static std::string CutToSystemThreadName(const std::string& inName);

    // Hands control from the calling task's fiber to inTask's when both are of one group: they
    // share a parent, or one started the other. Whether it did (it returns once control comes
    // back).
    bool YieldToFiber(VTask* inTask);
    // The calling thread's own fiber when it runs no task (made on first need, kept for the
    // thread's life); null when it cannot be made.
    static XLinuxFiber* GetThreadFiber();

private:
    std::atomic<bool> fFibersEnabled{false};
};

} // namespace zorn
