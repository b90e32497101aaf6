#include "toolbox/kernel/errors/ILogger.h"

#include <atomic>

namespace zorn
{

namespace
{
struct LogRecordWriters
{
    std::atomic<detail::ErrorRecordWriter> fError{nullptr};
    std::atomic<detail::AssertRecordWriter> fAssert{nullptr};
};

LogRecordWriters& Writers()
{
    static LogRecordWriters sWriters;
    return sWriters;
}
} // namespace

void detail::SetLogRecordWriters(ErrorRecordWriter inErrorWriter, AssertRecordWriter inAssertWriter)
{
    Writers().fError.store(inErrorWriter);
    Writers().fAssert.store(inAssertWriter);
}

void ILogger::LogErrorIfNecessary(VErrorBase* inError)
{
    if (inError == nullptr || !ShouldLog(EML_Error))
    {
        return;
    }
    if (detail::ErrorRecordWriter writer = Writers().fError.load())
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
    if (detail::AssertRecordWriter writer = Writers().fAssert.load())
    {
        writer(*this, inMessage, inFileName, inLineNumber);
    }
}

} // namespace zorn
