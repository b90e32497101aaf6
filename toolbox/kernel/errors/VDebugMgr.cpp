#include "toolbox/kernel/errors/VDebugMgr.h"

#include "platform/Bundle.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/linux/XLinuxStackCrawl.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/strings/StStringConverter.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VDebugContext.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace zorn
{

namespace
{

std::string FormatV(const char* inFormat, va_list inArguments)
{
    va_list copy;
    va_copy(copy, inArguments);
    const int size = std::vsnprintf(nullptr, 0, inFormat, copy);
    va_end(copy);
    if (size <= 0)
    {
        return {};
    }
    std::string text(static_cast<size_t>(size), '\0');
    std::vsnprintf(text.data(), text.size() + 1, inFormat, inArguments);
    return text;
}

std::string Format(const char* inFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* inFormat, ...)
{
    va_list arguments;
    va_start(arguments, inFormat);
    std::string text = FormatV(inFormat, arguments);
    va_end(arguments);
    return text;
}

std::string ToUTF8(const VString& inText)
{
    StStringConverter<char> converter(CharSet::VTC_UTF_8);
    const char* text = converter.ConvertString(inText);
    return text == nullptr ? std::string() : std::string(text, converter.GetSize());
}

std::string LocalDateTime(const char* inFormat)
{
    std::tm local{};
    XLinuxSystem::GetLocalTime(std::time(nullptr), local);
    char buffer[128];
    const size_t size = std::strftime(buffer, sizeof(buffer), inFormat, &local);
    return std::string(buffer, size);
}

ILogger* ProcessLogger()
{
    IProcessServices* process = IProcessServices::Get();
    return process == nullptr ? nullptr : process->GetLogger();
}

void ReportError(VErrorBase* inError)
{
    VDebugMgr::Get()->ErrorThrown(inError);
}

[[noreturn]] void EndProgram()
{
    std::fflush(nullptr);
    // Not exit: other tasks still run, and static destructors would pull their world from under
    // them.
    std::_Exit(VDebugMgr::kExitStatus);
}

// Leaves the task's report when the scope ends.
class StReport
{
public:
    explicit StReport(VDebugContext* inContext) : fContext(inContext) {}
    ~StReport()
    {
        if (fContext != nullptr)
        {
            fContext->LeaveReport();
        }
    }
    StReport(const StReport&) = delete;
    StReport& operator=(const StReport&) = delete;

private:
    VDebugContext* fContext;
};

} // namespace

VDebugMgr* VDebugMgr::Get()
{
    // Never destroyed: tasks may report while static objects are torn down.
    static VDebugMgr* sInstance = new VDebugMgr();
    return sInstance;
}

// Start and end

bool VDebugMgr::Init()
{
    fMessagesEnabled.store(true);
    VTask::SetErrorReporter(&ReportError);
    return true;
}

void VDebugMgr::DeInit()
{
    VTask::SetErrorReporter(nullptr);
    fMessagesEnabled.store(false);
    fWriteToAssertFile.store(false);
    SetDebugMessageHandler(nullptr);
    {
        std::lock_guard lock(fMutex);
        fIgnoredAsserts.clear();
        fIgnoredErrors.clear();
        fIgnoreAllAsserts = false;
        fIgnoreAllErrors = false;
    }
    std::lock_guard lock(fFileMutex);
    fAssertFilePath.clear();
    fAssertFileOpened = false;
    fRotationCount = 0;
}

void VDebugMgr::SetDebugMessageHandler(IDebugMessageHandler* inHandler)
{
    RetainRefCountable(inHandler);
    IDebugMessageHandler* previous = nullptr;
    {
        std::lock_guard lock(fMutex);
        previous = std::exchange(fHandler, inHandler);
    }
    if (previous != nullptr)
    {
        previous->Release();
    }
}

IDebugMessageHandler* VDebugMgr::_RetainHandler() const
{
    std::lock_guard lock(fMutex);
    return RetainRefCountable(fHandler);
}

void VDebugMgr::StartLowLevelMode()
{
    if (VTask* task = VTask::GetCurrent())
    {
        task->GetDebugContext().StartLowLevelMode();
    }
}

void VDebugMgr::StopLowLevelMode()
{
    if (VTask* task = VTask::GetCurrent())
    {
        task->GetDebugContext().StopLowLevelMode();
    }
}

// Reports

VDebugContext* VDebugMgr::_EnterReport() const
{
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
    {
        return nullptr;
    }
    VDebugContext& context = task->GetDebugContext();
    if (context.IsLowLevelMode() || !context.EnterReport())
    {
        return nullptr;
    }
    return &context;
}

bool VDebugMgr::_ApplyResponse(int32_t inResponse, const std::string& inKey, VError inError)
{
    switch (inResponse)
    {
    case eDebugResponse_Break:
        if (!XLinuxSystem::IsDebuggerAttached())
        {
            EndProgram();
        }
        return true;
    case eDebugResponse_Quit:
        EndProgram();
    case eDebugResponse_IgnoreThis:
    {
        std::lock_guard lock(fMutex);
        if (inKey.empty())
        {
            fIgnoredErrors.insert(inError);
        }
        else if (std::find(fIgnoredAsserts.begin(), fIgnoredAsserts.end(), inKey) == fIgnoredAsserts.end())
        {
            fIgnoredAsserts.push_back(inKey);
        }
        return false;
    }
    case eDebugResponse_IgnoreAll:
    {
        std::lock_guard lock(fMutex);
        (inKey.empty() ? fIgnoreAllErrors : fIgnoreAllAsserts) = true;
        return false;
    }
    default:
        return false;
    }
}

bool VDebugMgr::AssertFailed(const char* inMessage, const char* inFileName, int inLineNumber)
{
    if (!fMessagesEnabled.load())
    {
        return false;
    }
    inMessage = inMessage != nullptr ? inMessage : "";
    inFileName = inFileName != nullptr ? inFileName : "";
    const std::string text = Format("Assert Failed: %s, %s, %d\n", inMessage, inFileName, inLineNumber);
    if (fLogInDebugger.load())
    {
        std::fputs(text.c_str(), stderr);
    }
    VDebugContext* context = _EnterReport();
    if (context == nullptr)
    {
        return false;
    }
    StReport report(context);
    const std::string key = Format("%s%d", inFileName, inLineNumber);
    bool ignoreAll = false;
    {
        std::lock_guard lock(fMutex);
        ignoreAll = fIgnoreAllAsserts;
        if (!ignoreAll &&
            std::find(fIgnoredAsserts.begin(), fIgnoredAsserts.end(), key) != fIgnoredAsserts.end())
        {
            return false;
        }
    }
    if (fWriteToAssertFile.load())
    {
        WriteToAssertFile(VString(text.c_str()), true, true);
    }
    if (ILogger* logger = ProcessLogger())
    {
        logger->LogAssertIfNecessary(inMessage, inFileName, inLineNumber);
    }
    if (ignoreAll)
    {
        return false;
    }
    bool breaks = false;
    if (IDebugMessageHandler* handler = _RetainHandler())
    {
        const int32_t response = handler->AssertFailed(*context, inMessage, inFileName, inLineNumber);
        handler->Release();
        breaks = _ApplyResponse(response, key, VE_OK);
    }
    return breaks || fBreakOnAssert.load();
}

void VDebugMgr::ErrorThrown(VErrorBase* inError)
{
    if (inError == nullptr || !fMessagesEnabled.load())
    {
        return;
    }
    VDebugContext* context = _EnterReport();
    if (context == nullptr)
    {
        return;
    }
    StReport report(context);
    bool ignoreAll = false;
    {
        std::lock_guard lock(fMutex);
        ignoreAll = fIgnoreAllErrors;
        if (!ignoreAll && fIgnoredErrors.count(inError->GetError()) != 0)
        {
            return;
        }
    }
    VString dump;
    inError->DumpToString(dump);
    VString text("Error: ");
    text.AppendString(dump);
    text.AppendCString("\n");
    if (fWriteToAssertFile.load())
    {
        WriteToAssertFile(text, true, true);
    }
    if (ILogger* logger = ProcessLogger())
    {
        logger->LogErrorIfNecessary(inError);
    }
    if (fLogInDebugger.load())
    {
        std::fputs(ToUTF8(text).c_str(), stderr);
    }
    if (ignoreAll)
    {
        return;
    }
    bool breaks = false;
    if (IDebugMessageHandler* handler = _RetainHandler())
    {
        const int32_t response = handler->ErrorThrown(*context, inError);
        handler->Release();
        breaks = _ApplyResponse(response, std::string(), inError->GetError());
    }
    if (breaks || fBreakOnError.load())
    {
        Break();
    }
}

void VDebugMgr::DebugMsg(const VString& inText)
{
    if (!fMessagesEnabled.load())
    {
        return;
    }
    VDebugContext* context = _EnterReport();
    if (context == nullptr)
    {
        return;
    }
    StReport report(context);
    if (fWriteToAssertFile.load())
    {
        WriteToAssertFile(inText, true, false);
    }
    if (ILogger* logger = ProcessLogger())
    {
        logger->LogDebugMessageIfNecessary(inText);
    }
    if (fLogInDebugger.load())
    {
        std::fputs(ToUTF8(inText).c_str(), stderr);
    }
    if (fBreakOnDebugMsg.load())
    {
        Break();
    }
}

void VDebugMgr::DebugMsg(const char* inFormat, ...)
{
    if (inFormat == nullptr || !fMessagesEnabled.load())
    {
        return;
    }
    va_list arguments;
    va_start(arguments, inFormat);
    const std::string text = FormatV(inFormat, arguments);
    va_end(arguments);
    DebugMsg(VString(text.c_str()));
}

// The assert file

std::string VDebugMgr::BuildAssertFilePath(const std::string& inBundlePath)
{
    const size_t slash = inBundlePath.rfind('/');
    const size_t dot = inBundlePath.rfind('.');
    const bool dotInLastComponent = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (dotInLastComponent ? inBundlePath.substr(0, dot) : inBundlePath) + "_asserts.txt";
}

std::string VDebugMgr::GetAssertFilePath() const
{
    return BuildAssertFilePath(platform::GetMainBundleFolder());
}

void VDebugMgr::WriteToAssertFile(const VString& inText, bool inStamp, bool inStack)
{
    const std::string text = ToUTF8(inText);
    std::lock_guard lock(fFileMutex);
    if (FILE* file = _OpenAssertFile(inStamp, inStack))
    {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

__attribute__((noinline)) FILE* VDebugMgr::_OpenAssertFile(bool inStamp, bool inStack)
{
    fAssertFilePath = GetAssertFilePath();
    const char* path = fAssertFilePath.c_str();
    const char* dateFormat = "%A, %B %d, %Y %I:%M:%S %p";
    FILE* file = nullptr;
    if (fAssertFileOpened)
    {
        file = std::fopen(path, "a");
        if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0 &&
            std::ftell(file) >= kAssertFileRotationSize)
        {
            std::fclose(file);
            std::rename(path, (fAssertFilePath + std::to_string(fRotationCount)).c_str());
            ++fRotationCount;
            file = std::fopen(path, "w");
            if (file != nullptr)
            {
                std::fprintf(file, "%u nth log opened on %s\n\n", fRotationCount + 1,
                             LocalDateTime(dateFormat).c_str());
            }
        }
    }
    else
    {
        file = std::fopen(path, "w");
        if (file != nullptr)
        {
            std::fprintf(file, "Zq log file opened on %s\n\n", LocalDateTime(dateFormat).c_str());
            fAssertFileOpened = true;
        }
    }
    if (file == nullptr)
    {
        return nullptr;
    }
    if (inStamp)
    {
        std::fprintf(file, "\n%s\n", LocalDateTime("%m/%d/%y, %X").c_str());
    }
    if (inStack)
    {
        std::fputs("\n", file);
        // The innermost four are this function, the write, the report and the assertion's helper.
        XLinuxStackCrawl crawl;
        crawl.LoadFrames(4, 8);
        std::fflush(file);
        crawl.Dump(file);
    }
    return file;
}

// Debugger

void VDebugMgr::Break()
{
    VTask* task = VTask::GetCurrent();
    if (task != nullptr && task->GetDebugContext().IsBreakDisabled())
    {
        return;
    }
    // Without a tracer the trap would end the program.
    if (XLinuxSystem::IsDebuggerAttached())
    {
        XLinuxSystem::BreakIntoDebugger();
    }
}

void VDebugMgr::Abort()
{
    EndProgram();
}

bool VDebugMgr::_GetDebuggerType(int32_t& outType)
{
    outType = 2;
    return true;
}

// The notification handler

namespace
{

// Asks with Retry/Ignore/Abort and waits. Retry breaks into the debugger when one is attached and
// ends the program otherwise; Ignore continues; Abort, a dismissed alert or none at all ignores
// this assertion or error from now on.
int32_t AskWithNotification(const VString& inTitle, const VString& inMessage)
{
    constexpr uint32_t kRetryIgnoreAbort = 5;
    ENotificationResponse response = eNotificationResponse_None;
    VSystem::DisplayNotification(inTitle, inMessage, kRetryIgnoreAbort, &response);
    switch (response)
    {
    case eNotificationResponse_Retry:
        return XLinuxSystem::IsDebuggerAttached() ? eDebugResponse_Break : eDebugResponse_Quit;
    case eNotificationResponse_Ignore:
        return eDebugResponse_Continue;
    default:
        return eDebugResponse_IgnoreThis;
    }
}

} // namespace

int32_t VNotificationDebugMessageHandler::AssertFailed(VDebugContext& /*ioContext*/, const char* inMessage,
                                                       const char* inFileName, int inLineNumber)
{
    return AskWithNotification(VString("Assert Failed"),
                               Printf("Condition: %s\nFile: %s, %d", inMessage != nullptr ? inMessage : "",
                                      inFileName != nullptr ? inFileName : "", inLineNumber));
}

int32_t VNotificationDebugMessageHandler::ErrorThrown(VDebugContext& /*ioContext*/, VErrorBase* inError)
{
    VString message("Error: ");
    if (inError != nullptr)
    {
        VString text;
        inError->GetErrorDescription(text);
        message.AppendString(text);
    }
    return AskWithNotification(VString("Error Thrown"), message);
}

} // namespace zorn
