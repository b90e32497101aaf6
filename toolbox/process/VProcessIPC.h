// VProcessIPC: the process object of a command-line program. On top of VProcess it parses the
// command line through a hook, keeps the exit code for main, installs the termination-signal
// handlers, the sleep notifier and (flag 64) the file-system change notifier, and its DoRun
// serves the main task's messages until the process is asked to quit (a signal, for one).
//
// Choices and limits:
// - The command line is the one main hands to SetCommandLine, kept by pointer: call it first
//   thing in main. Without it the argument list is empty.
// - Arguments whose first five bytes are "-psn_" (a process serial number some launchers add) are
//   left out; the others are converted from the character locale's encoding as UTF-8 (start-up
//   sets the locale from the environment), the program path first.
// - The exit code starts at 1 and becomes 0 after a parse that returns 0 or 2 (2: help or version
//   shown, the program ends successfully without running); anything else leaves 1.
// - Destruction order: change notifier, sleep notifier, signal handling, then the VProcess part.
#pragma once

#include "toolbox/process/VProcess.h"

#include <cstdint>
#include <memory>

namespace zorn
{

class VCommandLineParser;
class VFileSystemNotifier;
class VSleepNotifier;
class XPosixProcessIPC;

class VProcessIPC : public VProcess
{
public:
    VProcessIPC();
    ~VProcessIPC() override;
    VProcessIPC(const VProcessIPC&) = delete;
    VProcessIPC& operator=(const VProcessIPC&) = delete;

    // The IPC process, or null.
    static VProcessIPC* GetIPC();
    // Stores the command line main received in VProcess::sProcessCommandLineArgc and
    // sProcessCommandLineArgv (a null vector counts 0 arguments); the pointers must stay valid for
    // the process's life.
    static void SetCommandLine(int inArgc, char** inArgv);

    // Once: VProcess start-up, the command line's parse, the signal handlers, with flag 64 the
    // change notifier, the sleep notifier. Later calls return the first result. When a step after
    // the VProcess start-up fails (the process will not run), the logger's task is stopped before
    // returning, so that the destruction that follows races with no task of the process.
    bool Init(uint32_t inFlags) override;
    int32_t GetExitCode() const { return fExitCode; }

    VFileSystemNotifier* GetFileSystemNotifier() const { return fFileSystemNotifier.get(); }
    VSleepNotifier* GetSleepNotifier() const { return fSleepNotifier.get(); }

protected:
    // Registers the program's options and parses: 0 go on, 2 stop without error, anything else
    // an error (the parser has printed its message). Here: 0.
    virtual int32_t DoParseCommandLine(VCommandLineParser& ioParser);
    // Serves the main task's messages, 100 ms at a time, while the process runs.
    void DoRun() override;

private:
    bool fInitDone = false;
    bool fInitResult = false;
    std::unique_ptr<XPosixProcessIPC> fSignals;
    std::unique_ptr<VFileSystemNotifier> fFileSystemNotifier;
    std::unique_ptr<VSleepNotifier> fSleepNotifier;
    int32_t fExitCode = 1;
};

} // namespace zorn
