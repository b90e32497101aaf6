// A base for test loggers that only accept levels and take records: the rest of ILogger (start,
// level switches, listeners) answers as a logger without any of them would.
#pragma once

#include "toolbox/kernel/errors/ILogger.h"

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

} // namespace zorn::test
