#include "platform/AppOpener.h"

#include "platform/Bundle.h"
#include "platform/ChildProcess.h"

#include <cstring>

namespace zorn::platform
{

int RunAppOpener(const std::vector<std::string>& inArguments, std::string& outMessage)
{
    outMessage.clear();
    if (inArguments.size() < 2 || inArguments[0] != "-a" || inArguments[1].empty() ||
        (inArguments.size() > 2 && inArguments[2] != "--args"))
    {
        outMessage = "usage: zq-open -a <bundle> [--args argument ...]";
        return 1;
    }
    std::string reason;
    const std::string executable = GetBundleExecutablePath(inArguments[1], &reason);
    if (executable.empty())
    {
        outMessage = reason;
        return 1;
    }
    // SearchExecutable resolves a path holding '/' and checks its execute permission.
    if (SearchExecutable(executable).empty())
    {
        outMessage = "not an executable file: " + executable;
        return 1;
    }
    std::vector<std::string> arguments;
    if (inArguments.size() > 3)
    {
        arguments.assign(inArguments.begin() + 3, inArguments.end());
    }
    SpawnSettings settings;
    settings.fNewSession = true;
    int failure = 0;
    if (SpawnProgram(executable, arguments, settings, &failure) < 0)
    {
        outMessage = "cannot start " + executable + ": " + std::strerror(failure);
        return 1;
    }
    return 0;
}

} // namespace zorn::platform
