#include "toolbox/kernel/linux/XLinuxTaskMgr.h"

#include "toolbox/kernel/VString.h"
#include "toolbox/kernel/linux/XLinuxTask.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zorn
{

namespace
{

constexpr size_t kStackSizeWithoutLimit = 1048576;

thread_local VTask* tCurrentTask = nullptr;

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUTF8(std::string& ioText, const UniChar* inUnits, int32_t inLength)
{
    for (int32_t i = 0; i < inLength; ++i)
    {
        uint32_t c = inUnits[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < inLength && inUnits[i + 1] >= 0xDC00 &&
            inUnits[i + 1] <= 0xDFFF)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (inUnits[++i] - 0xDC00u);
        }
        else if (c >= 0xD800 && c <= 0xDFFF)
        {
            c = 0xFFFD;
        }
        if (c < 0x80)
        {
            ioText += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            ioText += static_cast<char>(0xC0 | (c >> 6));
            ioText += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            ioText += static_cast<char>(0xE0 | (c >> 12));
            ioText += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            ioText += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            ioText += static_cast<char>(0xF0 | (c >> 18));
            ioText += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            ioText += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            ioText += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

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
    return nullptr;
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
    std::string name;
    AppendUTF8(name, inName.GetCPointer(), inName.GetLength());
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
