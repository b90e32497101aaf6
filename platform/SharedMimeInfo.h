// Where the system declares its own file types: shared-mime-info's package file
// "mime/packages/freedesktop.org.xml" (the stand-in for the system's type database), looked for in
// each folder of XDG_DATA_DIRS in turn, "/usr/local/share/" and "/usr/share/" when the variable is
// unset or empty. Only absolute folders count; the first regular file found wins. The environment
// and the file system are read at each call.
#pragma once

#include <string>

namespace zorn::platform
{

// The POSIX path of the file, or empty when there is none.
std::string FindSharedMimeInfoDatabase();

} // namespace zorn::platform
