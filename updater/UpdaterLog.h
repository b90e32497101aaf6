// The updater's logging functions. Each formats a C format (with "%S" taking a VString*, as
// VString::VPrintf does) into a record {message, level, component 'ZqUP'} for the process
// logger, which files it (and a started file logger writes it). Without a process logger the
// text is dropped; the logger filters levels, not these functions.
#pragma once

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/ILogger.h"

#include <cstdarg>

namespace zorn
{

class VErrorBase;
class VErrorContext;

void Log(EMessageLevel inLevel, const char* inFormat, va_list inArgs);
void LogError(const char* inFormat, ...);
void LogInfo(const char* inFormat, ...);
void LogDebug(const char* inFormat, ...);

// Logs each error of the context as an error line: its description, or its error string when the
// description is empty; newest first when asked. A null or empty context logs nothing.
void DumpErrorStack(const VErrorContext* inContext, bool inNewestFirst);
// Logs one error the same way.
void _LogError(const VRefPtr<VErrorBase>& inError);

} // namespace zorn
