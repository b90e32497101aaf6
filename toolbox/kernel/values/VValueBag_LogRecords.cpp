// The log records that ILogger and the debug manager hand to the process logger: an error, a
// failed assertion and a debug message become record bags here. The writers are installed in the
// kernel's hook table before main in every program linked with the kernel (the library's link
// options pull this file in even when the program names no bag).
//
// Record keys are the logger's vocabulary: "level" (a VLong; 6 error, 2 assertion, 3 debug),
// "message", "component_signature" (the high 32 bits of an error code, when not 0), "file_name" and
// "line_number" (an assertion's place), "stack_crawl" (one line: frames joined by " <- ").
// An error record also carries "source", the process's log source identifier. The error's own
// fields join it once errors save themselves into bags.
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/linux/XLinuxStackCrawl.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstring>
#include <string>

namespace zorn
{

namespace
{

void RemoveAll(std::u16string& ioText, const std::u16string& inPart)
{
    for (size_t at = ioText.find(inPart); at != std::u16string::npos; at = ioText.find(inPart, at))
    {
        ioText.erase(at, inPart.size());
    }
}

} // namespace

void CondenseStackCrawl(const VString& inCrawl, VString& outLine)
{
    std::u16string text(reinterpret_cast<const char16_t*>(inCrawl.GetCPointer()),
                        static_cast<size_t>(inCrawl.GetLength()));
    std::u16string line;
    std::u16string result;
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
        {
            end = text.size();
        }
        line = text.substr(start, end - start);
        size_t open = line.find(u'(');
        size_t close = line.find(u')');
        if (open != std::u16string::npos && close != std::u16string::npos && close > open)
        {
            line.erase(open, close - open + 1);
        }
        RemoveAll(line, u"zorn::");
        RemoveAll(line, u"non-virtual thunk to ");
        if (size_t at = line.find(u" const"); at != std::u16string::npos && at + 6 == line.size())
        {
            line.erase(at);
        }
        if (!line.empty())
        {
            result += result.empty() ? u"" : u" <- ";
            result += line;
        }
        start = end + 1;
    }
    outLine = VString(reinterpret_cast<const UniChar*>(result.data()), static_cast<int32_t>(result.size()));
}

namespace
{

// The process's log source identifier, empty without a process.
VString LogSource()
{
    IProcessServices* process = IProcessServices::Get();
    return process != nullptr ? process->GetLogSourceIdentifier() : VString();
}

// Stores the crawl in one line when it is not empty.
void SetCondensedCrawl(VValueBag& ioRecord, const VString& inCrawl)
{
    VString condensed;
    CondenseStackCrawl(inCrawl, condensed);
    if (!condensed.IsEmpty())
    {
        ioRecord.SetString(ILoggerBagKeys::stack_crawl(), condensed);
    }
}

void WriteErrorRecord(ILogger& ioLogger, VErrorBase* inError)
{
    auto* record = new VValueBag();
    record->SetLong(ILoggerBagKeys::level(), EML_Error);
    inError->SaveToBag(*record);
    VString text;
    inError->GetErrorDescription(text);
    record->SetString(ILoggerBagKeys::message(), text);
    if (uint32_t component = static_cast<uint32_t>(inError->GetError() >> 32); component != 0)
    {
        // The four characters as an unsigned number stored in a VLong.
        record->SetLong(ILoggerBagKeys::component_signature(), static_cast<int32_t>(component));
    }
    record->SetString(ILoggerBagKeys::source(), LogSource());
    inError->GetStackCrawlNames(text);
    SetCondensedCrawl(*record, text);
    ioLogger.LogBag(record);
    record->Release();
}

void WriteAssertRecord(ILogger& ioLogger, const char* inMessage, const char* inFileName, int inLineNumber)
{
    auto* record = new VValueBag();
    record->SetLong(ILoggerBagKeys::level(), EML_Assert);
    const char* file = inFileName == nullptr ? "" : inFileName;
    if (const char* slash = std::strrchr(file, '/'))
    {
        file = slash + 1;
    }
    record->SetString(ILoggerBagKeys::file_name(), VString(file));
    record->SetLong(ILoggerBagKeys::line_number(), inLineNumber);
    record->SetString(ILoggerBagKeys::message(), VString(inMessage == nullptr ? "" : inMessage));
    XLinuxStackCrawl crawl;
    crawl.LoadFrames(2, 8);
    VString text;
    crawl.DumpNames(text);
    SetCondensedCrawl(*record, text);
    ioLogger.LogBag(record);
    record->Release();
}

void WriteDebugMessageRecord(ILogger& ioLogger, const VString& inMessage)
{
    auto* record = new VValueBag();
    record->SetString(ILoggerBagKeys::message(), inMessage);
    record->SetLong(ILoggerBagKeys::level(), EML_Debug);
    ioLogger.LogBag(record);
    record->Release();
}

void InstallLogRecordWriters()
{
    // The bag kind joins the registry with the writers, so stored bags find it from the start.
    (void)VValueBag::Info();
    detail::SetLogRecordWriters(WriteErrorRecord, WriteAssertRecord);
    detail::SetDebugMessageRecordWriter(WriteDebugMessageRecord);
}

[[maybe_unused]] const bool sInstalledBeforeMain = (InstallLogRecordWriters(), true);

} // namespace

} // namespace zorn

// Named by the kernel's link options, so that the linker takes this file into every program.
extern "C" const bool zorn_bag_log_records_anchor = true;
