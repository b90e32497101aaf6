// What a process does to itself that the toolbox offers no portable call for: knowing its own id,
// and letting go of its standard streams once its caller stops reading them.
#pragma once

#include <string>

namespace zorn::platform
{

// This process's id.
int CurrentProcessId();

// This process's working folder as an absolute path (getcwd), or empty when it cannot be known
// (removed, or beyond PATH_MAX).
std::string CurrentWorkingFolder();

// Flushes every C stream, then puts /dev/null on descriptors 0, 2 and 1 (dup2; standard output
// last, so that a caller reading it sees its end only once all three are let go), so that later
// writes to the standard streams go nowhere and no file opened afterwards can take one of those
// numbers. The streams themselves stay open. False when /dev/null could not be opened or put
// in place (the descriptors then stay as they were, or partly replaced).
bool DetachStandardStreams();

} // namespace zorn::platform
