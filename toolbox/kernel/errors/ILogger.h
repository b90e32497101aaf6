// ILogger: the process logger as every layer sees it: whether a level is logged, filing a record
// bag or a message, delivering the pending records to the listeners, the level switches and the
// listener list. The logger itself lives in the process layer (VLogger); kernel code reaches it
// through IProcessServices::GetLogger.
//
// LogErrorIfNecessary and LogAssertIfNecessary turn an error object or a failed assertion into a
// record bag through the two writers installed in VKernelHooks (detail::SetLogRecordWriters, done
// before main by the kernel's record file); until then both check the level and log nothing.
// LogDebugMessageIfNecessary does the same for the debug manager's messages through a writer of
// its own (detail::SetDebugMessageRecordWriter).
//
// ILogListener: what writes records somewhere. Put receives one batch of records in arrival
// order; a listener that keeps a record beyond the call retains it. The logger delivers through
// PutRecords, which hands each record's bag to Put; a listener that can write a record from its
// fields (VLogRecord) overrides PutRecords and spares the logger the bags of its messages.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VValueBag;
class VLogRecord;
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

class ILogListener : public IRefCountable
{
public:
    // One batch of records, oldest first. Never entered by two tasks at once.
    virtual void Put(const std::vector<const VValueBag*>& inRecords) = 0;
    // The same batch as the logger keeps it: by default Put with each record's bag (made from
    // the record's fields when it has none). Never entered by two tasks at once.
    virtual void PutRecords(const std::vector<const VLogRecord*>& inRecords);
};

class ILogger : public IRefCountable
{
public:
    // Lets ShouldLog accept levels (nothing is logged before).
    virtual void Start() = 0;
    // Stops the delivery task; records are still filed, and delivered by Flush.
    virtual void Stop() = 0;
    virtual bool IsStarted() const = 0;
    // Whether records of the level are accepted.
    virtual bool ShouldLog(EMessageLevel inLevel) const = 0;
    // Logs one record. The logger may add attributes to it and retains it if it keeps it.
    virtual void LogBag(VValueBag* ioRecord) = 0;
    // Builds and logs a record of the message; an empty source stands for the process's own.
    virtual void LogMessage(EMessageLevel inLevel, const VString& inMessage, const VString& inSource) = 0;
    // Delivers the pending records to the listeners now, on the calling task.
    virtual void Flush() = 0;
    // Each switches its level on or off and returns whether it was on.
    virtual bool WithTrace(bool inOn) = 0;
    virtual bool WithDump(bool inOn) = 0;
    virtual bool WithDebug(bool inOn) = 0;
    virtual bool WithWarning(bool inOn) = 0;
    virtual bool WithError(bool inOn) = 0;
    virtual bool WithFatal(bool inOn) = 0;
    virtual bool WithAssert(bool inOn) = 0;
    virtual bool WithInfo(bool inOn) = 0;
    // False for null or a listener already there; the listener is retained.
    virtual bool AddLogListener(ILogListener* inListener) = 0;
    // Flushes first, always; false for null or a listener not there; the listener is released.
    virtual bool RemoveLogListener(ILogListener* inListener) = 0;

    // A process-wide number, unique across tasks; the first one handed out is 1.
    static int64_t GetSequenceNumber();

    // When the logger accepts errors (level 6), logs a record of the error.
    void LogErrorIfNecessary(VErrorBase* inError);
    // When the logger accepts assertions (level 2), logs a record of the failed assertion.
    void LogAssertIfNecessary(const char* inMessage, const char* inFileName, int inLineNumber);
    // When the logger accepts debug messages (level 3), logs a record of the text without its
    // final newline.
    void LogDebugMessageIfNecessary(const VString& inMessage);
};

} // namespace zorn
