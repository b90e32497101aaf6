#include "toolbox/kernel/errors/ILogger.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>

namespace zorn
{

namespace
{
std::atomic<int64_t> sSequenceNumber{0};
} // namespace

int64_t ILogger::GetSequenceNumber()
{
    return sSequenceNumber.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ILogger::LogErrorIfNecessary(VErrorBase* inError)
{
    if (inError == nullptr || !ShouldLog(EML_Error))
    {
        return;
    }
    if (detail::ErrorRecordWriter writer = detail::KernelHooks().fErrorRecordWriter.load())
    {
        writer(*this, inError);
    }
}

void ILogger::LogAssertIfNecessary(const char* inMessage, const char* inFileName, int inLineNumber)
{
    if (!ShouldLog(EML_Assert))
    {
        return;
    }
    if (detail::AssertRecordWriter writer = detail::KernelHooks().fAssertRecordWriter.load())
    {
        writer(*this, inMessage, inFileName, inLineNumber);
    }
}

void ILogger::LogDebugMessageIfNecessary(const VString& inMessage)
{
    if (!ShouldLog(EML_Debug))
    {
        return;
    }
    if (detail::DebugMessageRecordWriter writer = detail::KernelHooks().fDebugMessageRecordWriter.load())
    {
        const int32_t length = inMessage.GetLength();
        if (length > 0 && inMessage.GetCPointer()[length - 1] == '\n')
        {
            writer(*this, VString(inMessage.GetCPointer(), length - 1));
        }
        else
        {
            writer(*this, inMessage);
        }
    }
}

} // namespace zorn
