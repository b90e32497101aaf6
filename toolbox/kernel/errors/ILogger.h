// ILogger: what the runtime asks of the process logger: whether a level is logged, and logging a
// record bag. The logger itself lives in the process layer (VProcess::GetLogger); kernel code
// reaches it through IProcessServices.
//
// LogErrorIfNecessary and LogAssertIfNecessary turn an error object or a failed assertion into a
// record bag. Record bags belong to a layer above the kernel, which installs the two writers in
// VKernelHooks (detail::SetLogRecordWriters) when it starts; until then both check the level and
// log nothing. LogDebugMessageIfNecessary does the same for the debug manager's messages through a
// writer of its own (detail::SetDebugMessageRecordWriter).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"

namespace zorn
{

class VValueBag;
class VErrorBase;
class VString;

// Levels of log records. A level is also a bit number of a logger's level mask.
enum EMessageLevel
{
    EML_Dump = 0,
    EML_Trace = 1,
    EML_Assert = 2,
    EML_Debug = 3,
    EML_Information = 4,
    EML_Warning = 5,
    EML_Error = 6,
    EML_Fatal = 7
};

class ILogger : public IRefCountable
{
public:
    // Whether records of the level are accepted.
    virtual bool ShouldLog(EMessageLevel inLevel) const = 0;
    // Logs one record. The logger may add attributes to it and retains it if it keeps it.
    virtual void LogBag(VValueBag* ioRecord) = 0;

    // When the logger accepts errors (level 6), logs a record of the error.
    void LogErrorIfNecessary(VErrorBase* inError);
    // When the logger accepts assertions (level 2), logs a record of the failed assertion.
    void LogAssertIfNecessary(const char* inMessage, const char* inFileName, int inLineNumber);
    // When the logger accepts debug messages (level 3), logs a record of the text without its
    // final newline.
    void LogDebugMessageIfNecessary(const VString& inMessage);
};

} // namespace zorn
