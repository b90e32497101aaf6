// POSIX back end of the process framework: the termination signals of a command-line process.
//
// XPosixProcessIPC turns SIGTERM, SIGINT and SIGQUIT into an orderly quit of the process object
// (VProcess::QuitAsynchronously), so that its main loop ends and the normal shut-down runs.
// Choices and limits:
// - Init installs one handler for the three signals, in that order, and stops at the first
//   failure: SIGTERM blocks SIGINT and SIGQUIT while it runs, SIGINT blocks SIGQUIT and SIGTERM,
//   SIGQUIT blocks SIGINT and SIGTERM; all restart interrupted calls, and SIGQUIT is reset to its
//   default action on delivery, so a second SIGQUIT ends the process.
// - The handler does only async-signal-safe work: with no process object it does nothing; for
//   SIGINT it writes "\n (ctrl-c has been received - quit)\n\n" to standard output with write(2);
//   then it writes the signal number to a self-pipe. A watcher thread, started by the first Init,
//   reads the pipe and asks the process object to quit, so the message always comes first.
// - Not signalfd: that needs the signals blocked in every thread, threads exist before Init.
// - The handlers, the pipe and the watcher stay for the life of the process. The watcher asks for
//   a quit only while an object whose Init succeeded is alive: the destructor waits for a quit in
//   progress and none starts after it, so a signal that comes while the process shuts down (a
//   second SIGTERM, say) never reaches a process object or a task being destroyed.
#pragma once

#include "toolbox/kernel/base/VObject.h"

#include <cstdint>

namespace zorn
{

class XPosixProcessIPC : public VObject
{
public:
    XPosixProcessIPC() = default;
    ~XPosixProcessIPC() override;
    XPosixProcessIPC(const XPosixProcessIPC&) = delete;
    XPosixProcessIPC& operator=(const XPosixProcessIPC&) = delete;

    // Whether all three handlers are installed.
    bool Init();

    // The calling process's ID.
    static int32_t GetSystemID();
    // Whether a process of that ID exists: a signal 0 reaches it or fails for another reason than
    // its absence (a process of another user).
    static bool IsProcessRunning(int32_t inProcessID);

private:
    bool fArmed = false; // counted among the objects the watcher serves
};

} // namespace zorn
