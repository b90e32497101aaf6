// Starting helper programs of the desktop (dialog programs, xdg-open) and finding programs on PATH.
// The layers above use these so that no helper is ever run through a shell: a program is found by
// the POSIX rules and started with an argument vector, each argument passed as it stands.
//
// Choices and limits:
// - A child starts with standard input and standard error on /dev/null, standard output on the
//   given descriptor or /dev/null, no other inherited descriptor, an empty signal mask and every
//   signal at its default action, so that what the caller blocks or ignores does not leak into it.
// - Searching PATH skips empty elements (which POSIX reads as the current folder): a helper is
//   never picked up from wherever the process happens to run.
// - A file qualifies when it is a regular file whose owner, group or other x bit allows the
//   effective user: the owner's bit when the effective user owns it, else the group's bit when its
//   group is the effective group, else the others' bit.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace zorn::platform
{

// The path of an executable: a name holding '/' is resolved (realpath) and checked; any other
// name is tried in each folder of PATH in order (candidates longer than 1,024 bytes are skipped).
// Empty when nothing qualifies.
std::string SearchExecutable(std::string_view inName);

struct SpawnSettings
{
    bool fNewSession = false;      // the child leads a new session (setsid)
    bool fNewProcessGroup = false; // the child leads a new process group, whose id is its pid
    int fStandardOutput = -1;      // the child's standard output; -1 for /dev/null
};

// Starts inProgram (a path) with inArguments after argv[0], in this process's environment.
// The child's pid once the program runs (its exec succeeded), or -1 when it could not be started,
// with the reason as an errno value in outError when given.
pid_t SpawnProgram(const std::string& inProgram, const std::vector<std::string>& inArguments,
                   const SpawnSettings& inSettings, int* outError = nullptr);

// Waits for a child of this process to end and reaps it (interruptions are retried). Its wait
// status, or -1 when it is no child of this process.
int WaitForChild(pid_t inPid);

// Reaps the child on a thread of its own once it ends, so that a program started and not waited
// for leaves no zombie.
void ReapChildInBackground(pid_t inPid);

} // namespace zorn::platform
