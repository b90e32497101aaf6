#include "platform/DefaultApplication.h"

#include "platform/ChildProcess.h"

namespace zorn::platform
{

bool OpenInDefaultApplication(const std::string& inPath)
{
    std::string opener = SearchExecutable("xdg-open");
    if (opener.empty() || inPath.empty())
    {
        return false;
    }
    SpawnSettings settings;
    settings.fNewSession = true;
    pid_t pid = SpawnProgram(opener, {inPath}, settings);
    if (pid < 0)
    {
        return false;
    }
    ReapChildInBackground(pid);
    return true;
}

} // namespace zorn::platform
