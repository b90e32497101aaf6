// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.

#include "toolbox/kernel/linux/XLinuxTaskMgr.h"

#include "toolbox/kernel/linux/XLinuxFiber.h"
#include "toolbox/kernel/linux/XLinuxTask.h"
#include "toolbox/kernel/strings/StStringConverter.h"
#include "toolbox/kernel/strings/VString.h"

#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zorn
{

namespace
{

constexpr size_t kStackSizeWithoutLimit = 1048576;

thread_local VTask* tCurrentTask = nullptr;

bool IsMainThread()
{
    return ::gettid() == ::getpid();
}

} // namespace

XLinuxTask* XLinuxTaskMgr::CreateMain(VTask* inTask)
{
    XLinuxTask* task = XLinuxTask_preemptive::CreateForCurrentThread(inTask);
    if (task != nullptr)
    {
        SetCurrentTask(inTask);
    }
    return task;
}

XLinuxTask* XLinuxTaskMgr::Create(VTask* inTask, ETaskStyle inStyle)
{
    if (inStyle == eTaskStylePreemptive)
    {
        return XLinuxTask_preemptive::CreateWithThread(inTask, inTask->GetStackSize());
    }
    if (inStyle == eTaskStyleFiber && IsFibersEnabled())
    {
        return new XLinuxTask_fiber(inTask);
    }
    return nullptr;
}

bool XLinuxTaskMgr::YieldToFiber(VTask* inTask)
{
    VTask* current = GetCurrentTask();
    if (inTask == nullptr || current == nullptr || inTask == current ||
        current->GetPlatformTask() == nullptr || inTask->GetPlatformTask() == nullptr)
    {
        return false;
    }
    XLinuxTask* from = current->GetPlatformTask();
    XLinuxTask* to = inTask->GetPlatformTask();
    XLinuxFiber* fromFiber = from->GetFiber();
    XLinuxFiber* toFiber = to->GetFiber();
    // A finished fiber's thread is gone: nothing would ever yield back.
    if (fromFiber == nullptr || toFiber == nullptr || toFiber->IsFinished())
    {
        return false;
    }
    const bool siblings = from->GetParentFiber() != nullptr && from->GetParentFiber() == to->GetParentFiber();
    const bool parentAndChild = from->GetParentFiber() == toFiber || to->GetParentFiber() == fromFiber;
    if (!siblings && !parentAndChild)
    {
        return false;
    }
    fromFiber->YieldTo(toFiber);
    return true;
}

XLinuxFiber* XLinuxTaskMgr::GetThreadFiber()
{
    thread_local std::unique_ptr<XLinuxFiber> tFiber;
    if (tFiber == nullptr)
    {
        tFiber.reset(XLinuxFiber::CreateFiberForThread());
    }
    return tFiber.get();
}

VTask* XLinuxTaskMgr::GetCurrentTask()
{
    return tCurrentTask;
}

void XLinuxTaskMgr::SetCurrentTask(VTask* inTask)
{
    tCurrentTask = inTask;
}

int32_t XLinuxTaskMgr::GetCurrentForeignTaskID()
{
    // Cached: locks ask for it on every acquire.
    thread_local const int32_t tForeignID = static_cast<int32_t>(::gettid()) | kForeignIDBit;
    return tForeignID;
}

size_t XLinuxTaskMgr::ComputeMainTaskStackSize()
{
    if (IsMainThread())
    {
        pthread_attr_t attributes;
        if (::pthread_getattr_np(::pthread_self(), &attributes) == 0)
        {
            void* address = nullptr;
            size_t size = 0;
            int result = ::pthread_attr_getstack(&attributes, &address, &size);
            ::pthread_attr_destroy(&attributes);
            return result == 0 ? size : 0;
        }
        return 0;
    }
    // Another thread: the main thread's stack grows up to the stack limit.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    {
        return static_cast<size_t>(limit.rlim_cur);
    }
    return 0;
}

size_t XLinuxTaskMgr::GetCurrentFreeStackSize()
{
    VTask* current = GetCurrentTask();
    if (current != nullptr && current->GetPlatformTask() != nullptr)
    {
        return current->GetPlatformTask()->GetFreeStackSize();
    }
    return GetCurrentFreeStackSizeStatic();
}

size_t XLinuxTaskMgr::GetCurrentFreeStackSizeStatic()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    {
        return static_cast<size_t>(limit.rlim_cur);
    }
    return kStackSizeWithoutLimit;
}

std::string XLinuxTaskMgr::BuildThreadName(const VString& inName, int32_t inTaskID)
{
    // UTF-8 for the system; an unpaired surrogate becomes U+FFFD.
    StStringConverter<char> converter(CharSet::VTC_UTF_8);
    const char* utf8 = converter.ConvertString(inName);
    std::string name(utf8 != nullptr ? utf8 : "", utf8 != nullptr ? converter.GetSize() : 0);
    name += " (id = " + std::to_string(inTaskID) + ")";
    return name;
}

std::string XLinuxTaskMgr::CutToSystemThreadName(const std::string& inName)
{
    if (inName.size() <= kSystemThreadNameBytes)
    {
        return inName;
    }
    size_t end = kSystemThreadNameBytes;
    // Back to the start of the character that does not fit whole.
    while (end > 0 && (static_cast<unsigned char>(inName[end]) & 0xC0) == 0x80)
    {
        --end;
    }
    return inName.substr(0, end);
}

void XLinuxTaskMgr::SetCurrentThreadName(const VString& inName, int32_t inTaskID)
{
    if (IsMainThread())
    {
        return;
    }
    std::string name = CutToSystemThreadName(BuildThreadName(inName, inTaskID));
    ::pthread_setname_np(::pthread_self(), name.c_str());
}

} // namespace zorn
