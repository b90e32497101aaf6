// ILogger: the logging interface of the process logger.
#pragma once

namespace zorn
{

class VErrorBase;

class ILogger
{
public:
    virtual ~ILogger() = default;
    // Logs the error as an error record when the logger accepts that level.
    virtual void LogErrorIfNecessary(const VErrorBase* inError) = 0;
};

} // namespace zorn
