#include "updater/UpdaterLog.h"

#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "updater/UpdaterErrors.h"

#include <algorithm>
#include <vector>

namespace zorn
{

void Log(EMessageLevel inLevel, const char* inFormat, va_list inArgs)
{
    IProcessServices* process = IProcessServices::Get();
    ILogger* logger = process != nullptr ? process->GetLogger() : nullptr;
    if (logger == nullptr)
    {
        return;
    }
    VString message;
    message.VPrintf(inFormat, inArgs);
    VRefPtr<VValueBag> record(new VValueBag(), true);
    record->SetString(ILoggerBagKeys::message(), message);
    // The level is left out when it is the key's default (information), as the logger reads it.
    if (inLevel != ILoggerBagKeys::level().Get_Default())
    {
        record->SetLong(ILoggerBagKeys::level(), inLevel);
    }
    record->SetLong(ILoggerBagKeys::component_signature(), static_cast<int32_t>(kUpdaterLogSignature));
    logger->LogBag(record.Get());
}

void LogError(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    Log(EML_Error, inFormat, args);
    va_end(args);
}

void LogInfo(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    Log(EML_Information, inFormat, args);
    va_end(args);
}

void LogDebug(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    Log(EML_Debug, inFormat, args);
    va_end(args);
}

void _LogError(const VRefPtr<VErrorBase>& inError)
{
    if (!inError)
    {
        return;
    }
    VString text;
    inError->GetErrorDescription(text);
    if (text.IsEmpty())
    {
        inError->GetErrorString(text);
    }
    LogError("%S", &text);
}

void DumpErrorStack(const VErrorContext* inContext, bool inNewestFirst)
{
    if (inContext == nullptr || inContext->IsEmpty())
    {
        return;
    }
    // A copy of the list, each error retained: logging may run code that raises errors.
    std::vector<VRefPtr<VErrorBase>> errors;
    for (VErrorBase* error : inContext->GetErrorList())
    {
        errors.emplace_back(error);
    }
    if (inNewestFirst)
    {
        std::reverse(errors.begin(), errors.end());
    }
    for (const auto& error : errors)
    {
        _LogError(error);
    }
}

} // namespace zorn
