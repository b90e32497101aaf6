#include "toolbox/process/posix/XPosixTerminal.h"

#include <unistd.h>

namespace zorn
{

bool XPosixTerminal::IsStandardOutputTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

} // namespace zorn
