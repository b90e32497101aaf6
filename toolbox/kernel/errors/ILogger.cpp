#include "toolbox/kernel/errors/ILogger.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"

namespace zorn
{

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

} // namespace zorn
