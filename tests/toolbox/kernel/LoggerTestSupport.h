// A base for test loggers that only accept levels and take records: the rest of ILogger (start,
// level switches, listeners) answers as a logger without any of them would.
#pragma once

#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <map>
#include <string>
#include <vector>

namespace zorn::test
{

class StubLogger : public ILogger
{
public:
    void Start() override {}
    void Stop() override {}
    bool IsStarted() const override { return true; }
    void LogMessage(EMessageLevel, const VString&, const VString&) override {}
    void Flush() override {}
    bool WithTrace(bool) override { return false; }
    bool WithDump(bool) override { return false; }
    bool WithDebug(bool) override { return false; }
    bool WithWarning(bool) override { return false; }
    bool WithError(bool) override { return false; }
    bool WithFatal(bool) override { return false; }
    bool WithAssert(bool) override { return false; }
    bool WithInfo(bool) override { return false; }
    bool AddLogListener(ILogListener*) override { return false; }
    bool RemoveLogListener(ILogListener*) override { return false; }
};

// Accepts every level and keeps the text (UTF-8) of every attribute of every record it is given.
class RecordingLogger : public StubLogger
{
public:
    using Record = std::map<std::string, std::string>;

    bool ShouldLog(EMessageLevel) const override { return true; }
    void LogBag(VValueBag* ioRecord) override
    {
        Record record;
        VString name;
        VString text;
        for (int32_t i = 1; i <= ioRecord->GetAttributesCount(); ++i)
        {
            ioRecord->GetNthAttribute(i, &name)->GetString(text);
            record[to_string(name)] = to_string(text);
        }
        fRecords.push_back(record);
    }

    std::vector<Record> fRecords;
};

} // namespace zorn::test
