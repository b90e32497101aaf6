// Opening a file in the application the desktop associates with it (xdg-open), the way a user
// double-clicks it: the opener runs detached, and the caller does not wait for it.
#pragma once

#include <string>

namespace zorn::platform
{

// Starts "xdg-open <path>" (found on PATH) in a new session with its standard streams on
// /dev/null, and returns at once; a reaper thread collects it when it ends. False when xdg-open is
// not installed or could not be started. What the opened application does is not reported.
bool OpenInDefaultApplication(const std::string& inPath);

} // namespace zorn::platform
