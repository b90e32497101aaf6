// POSIX back end of the process launcher, the only folder of the process layer that calls the
// system for it: the portable facade (VProcessLauncher) uses the C and C++ libraries only.
//
// XPosixProcessLauncher starts one child program at a time without a shell, with posix_spawn, and
// talks to it through pipes. Choices and limits:
// - The child leads a new process group, starts with an empty signal mask and inherits no
//   descriptor beyond 0-2. Every pipe is made close-on-exec; the parent's read ends are
//   non-blocking, its write end to the child's input is blocking.
// - A program name without '/' is searched on PATH only (empty entries skipped: never the current
//   folder); when it is not there Start gives ENOENT. A name with '/' is used as it stands, a
//   relative one from the working folder.
// - The program path and the arguments go to the system as file names do (XLinuxFile's name
//   bytes): a path holding bytes that are not UTF-8 reaches the child as those bytes.
// - The exit is watched through a pidfd; reaping asks for ended children only (a stopped child is
//   still running). Exit status: the exit code (0-255), -127 for a child ended by a signal, -1 when
//   the child was reaped elsewhere (SIGCHLD ignored) and its status is lost.
// - Group signals (tree kill, time limit) go to the stored group only while the child is unreaped,
//   so a reused group is never hit. With tree kill enabled an ended child stays unreaped until
//   Shutdown (or destruction), so that its group can still be killed then.
// - The time limit runs on a thread of its own that waits on a condition variable; Shutdown and
//   the destructor cancel it. Asynchronous reading runs on one thread that calls both callbacks.
// - Writing to a child that closed its input returns -1 with EPIPE; SIGPIPE is held back in the
//   calling thread only, the process's disposition is not changed.
// Used by one task at a time; the watch set of children to reap later is process-wide.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zorn
{

// Orders strings by their UTF-16 units (no collation): environment names are compared as bytes.
struct VStringLessCompareStrict
{
    bool operator()(const VString& inA, const VString& inB) const
    {
        return inA.CompareToStringRaw(inB) == CR_SMALLER;
    }
};

using EnvVarNamesAndValuesMap = std::map<VString, VString, VStringLessCompareStrict>;

// Receives each chunk read from a child's output or error stream.
using ProcessReadCallback = std::function<void(const char* inData, size_t inLength)>;

class XPosixProcessLauncher : public VObject
{
public:
    static constexpr int32_t kNoTimeLimit = 0x7FFFFFFF;
    // WaitForData's bits.
    static constexpr int32_t kOutputReadable = 1;
    static constexpr int32_t kErrorReadable = 2;
    static constexpr int32_t kChildGone = 4;

    XPosixProcessLauncher();
    ~XPosixProcessLauncher() override;
    XPosixProcessLauncher(const XPosixProcessLauncher&) = delete;
    XPosixProcessLauncher& operator=(const XPosixProcessLauncher&) = delete;

    // A UTF-8 POSIX path; empty keeps the parent's folder.
    void SetDefaultDirectory(const std::string& inPosixPath);
    // Empty names are ignored.
    void SetEnvironmentVariable(const VString& inName, const VString& inValue);
    void SetEnvironmentVariables(const EnvVarNamesAndValuesMap& inVariables);
    // Stores the path and makes it argument 0.
    void SetBinaryPath(const VString& inBinaryPath);
    // Splits the text (SplitCommandLine) into the arguments; the first becomes the binary path.
    void CreateArgumentsFromFullCommandLine(const VString& inCommandLine);
    // Appends an argument; an empty one is ignored.
    void AddArgument(const VString& inArgument);
    // The binary path and every argument as given, empty ones included (argument vectors).
    void SetArgumentVector(const VString& inBinaryPath, const std::vector<VString>& inArguments);
    void ClearArguments();
    const std::vector<VString>& GetArguments() const { return fArguments; }
    const std::string& GetBinaryPath() const { return fBinaryPath; }

    // Milliseconds: 0 does not wait for the child in Shutdown; kNoTimeLimit waits without limit;
    // anything else kills the child's group that long after Start.
    void SetWaitClosingChildProcess(int32_t inMilliseconds) { fWaitTime = inMilliseconds; }
    void SetRedirectStandardInput(bool inRedirect) { fRedirectStandardInput = inRedirect; }
    // Covers standard output and standard error together.
    void SetRedirectStandardOutput(bool inRedirect) { fRedirectStandardOutput = inRedirect; }
    // Stored only: no shell runs, so arguments are never quoted here.
    void SetQuoteArgumentsIfNeeded(bool inQuote) { fQuoteArguments = inQuote; }
    void EnableProcessTreeKill() { fTreeKill = true; }

    // Spawns the child with the launcher's environment (empty: the process's own), or with
    // inEnvironment. 0, -1 when a pipe cannot be made or the start is not confirmed, else the
    // error number of the spawn.
    int32_t Start();
    int32_t Start(const EnvVarNamesAndValuesMap& inEnvironment);

    void CloseStandardInput();
    // One write; -1 without data, child or input pipe (errno EPIPE once the child closed it).
    int32_t WriteToChild(const void* inData, uint32_t inLength, bool inCloseAfter);
    // Waits until output or error is readable or the child is gone: kOutputReadable,
    // kErrorReadable, kChildGone (the child ended; its status is recorded). 0 on failure.
    int32_t WaitForData();
    // Waits until the output or error pipe is readable or at its end; false when both are closed.
    bool WaitForPipes();
    // One non-blocking read: the byte count, 0 when nothing is ready, -1 at the end, on error, or
    // for a closed pipe, a null buffer or a 0 length.
    int32_t ReadFromChild(char* outBuffer, uint32_t inLength);
    int32_t ReadErrorFromChild(char* outBuffer, uint32_t inLength);
    // Reads output and error on a thread that calls the callbacks (an empty one drops its bytes),
    // then Shutdown without kill.
    int32_t ReadFromChildAndShutdown(ProcessReadCallback inOutput, ProcessReadCallback inError);

    int32_t GetPid() const { return fPid; }
    int32_t GetExitStatus() const { return fExitStatus; }
    // Reaps the child without blocking when it has ended.
    bool IsRunning();
    // Ends the work with the child (waiting, then closing, then killing with inKill or leaving it
    // to be reaped later); raises ('zorn', 8) when the time limit killed it. 0.
    int32_t Shutdown(bool inKill, bool inTreeKill);

    // SIGTERM to the pid; false when it cannot be sent or the pid is not positive (0 and -1
    // would signal a whole group).
    static bool KillProcess(int32_t inPid);

    // Splits a UTF-8 command line as the launcher does (see VProcessLauncher.h for the rules).
    static std::vector<std::string> SplitCommandLine(const std::string& inText);

private:
    class TimeLimit;
    class Reader;
    class WaitGroup;

    // Finds a name without '/' on PATH; false when it is not there (nothing is started then).
    bool _ResolveBinaryPath();
    int32_t _Spawn(const EnvVarNamesAndValuesMap& inEnvironment);
    void _CloseAllPipes();
    // Records the exit of the unreaped child when it has ended; reaps it unless tree kill keeps it.
    // Whether it has ended. Never blocks.
    bool _CheckEnded();
    // Reaps a child kept unreaped (tree kill), and forgets it.
    void _ReapKept();
    // SIGKILL or another signal to the stored group, while the child is unreaped.
    void _SignalGroup(int inSignal);
    // Sends the signal (to the group in tree mode) and waits up to inLimitMs for the end.
    bool _TerminateWithSignal(int inSignal, int inLimitMs, bool inTreeMode);
    // Waits without limit for the child's exit (without reaping).
    void _WaitForExit();
    void _CancelTimeLimit();
    void _CloseChannels(bool inStopAtOnce);
    void _EndRun();

    std::string fWorkingDirectory;
    EnvVarNamesAndValuesMap fEnvironment;
    std::string fBinaryPath;
    std::vector<VString> fArguments;
    bool fIsRunning = false;
    int32_t fExitStatus = 0;
    int32_t fPid = 0;
    int32_t fWaitTime = kNoTimeLimit;
    int fInput[2] = {-1, -1};
    int fOutput[2] = {-1, -1};
    int fError[2] = {-1, -1};
    int fPidFd = -1;
    bool fRedirectStandardInput = true;
    bool fRedirectStandardOutput = true;
    bool fQuoteArguments = true;
    bool fTreeKill = false;
    // Shared with the time-limit thread: the unreaped child (0 once reaped) and its group target.
    std::mutex fReapMutex;
    int32_t fUnreapedPid = 0;
    int32_t fNegatedPid = 0;
    std::shared_ptr<std::atomic<bool>> fTimedOut;
    std::unique_ptr<TimeLimit> fTimeLimit;
    std::unique_ptr<WaitGroup> fGroup; // made on first need
    std::unique_ptr<Reader> fReader;
};

} // namespace zorn
