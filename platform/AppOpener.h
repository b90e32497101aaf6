// The work of the opener program that restarts an application after an update:
// "zq-open -a <bundle> [--args argument ...]" starts the bundle's executable and returns.
//
// Choices and limits:
// - The executable is <bundle>/Contents/MacOS/<CFBundleExecutable> as GetBundleExecutablePath
//   accepts it (a plain name of a regular file, never a link), and it must be executable by the
//   effective user.
// - It runs in a new session with standard input, output and error on /dev/null and no other
//   inherited descriptor, so it outlives the updater and holds none of the updater's pipes or
//   files. Its arguments are those after "--args", passed exactly as given (no shell, no
//   re-splitting); argv[0] is the executable's path.
// - Success means the program's exec succeeded; the opener does not wait for it.
// - Anything else on the command line (a missing bundle, an option other than "--args" after the
//   bundle) is a usage error.
#pragma once

#include <string>
#include <vector>

namespace zorn::platform
{

// Runs the opener with the arguments after the program name. 0 once the program runs; otherwise
// 1 and one line of explanation (without a line feed) in outMessage.
int RunAppOpener(const std::vector<std::string>& inArguments, std::string& outMessage);

} // namespace zorn::platform
