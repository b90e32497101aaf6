#include "platform/ProcessSelf.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zorn::platform
{

int CurrentProcessId()
{
    return static_cast<int>(::getpid());
}

std::string CurrentWorkingFolder()
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof(buffer)) == nullptr || buffer[0] != '/')
    {
        return std::string();
    }
    return std::string(buffer);
}

bool DetachStandardStreams()
{
    std::fflush(nullptr);
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
    {
        return false;
    }
    bool replaced = true;
    // Standard output last: a caller that reads it takes its end of file as the sign that this
    // process has let go of all three, so none may still be its own when that comes.
    const int targets[] = {STDIN_FILENO, STDERR_FILENO, STDOUT_FILENO};
    for (int target : targets)
    {
        if (null == target)
        {
            // /dev/null took a free standard number: keep it there, open across exec like the
            // others.
            ::fcntl(target, F_SETFD, 0);
            continue;
        }
        while (::dup2(null, target) < 0)
        {
            if (errno != EINTR)
            {
                replaced = false;
                break;
            }
        }
    }
    if (null > 2)
    {
        ::close(null);
    }
    return replaced;
}

} // namespace zorn::platform
