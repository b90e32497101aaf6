// VProcessLauncher: starts a child program without a shell, feeds its standard input, collects
// its standard output and error, waits for it or kills it (alone or with its process group) and
// reports its exit status. A facade over the POSIX back end (XPosixProcessLauncher.h, which lists
// the system choices); the static ExecuteCommandLine and ExecuteArguments do a whole run in one call.
//
// Splitting a command line (CreateArgumentsFromFullCommandLine, ExecuteCommandLine), on its UTF-8
// form, with no fixed-size buffer:
// - Blanks (spaces only; a tab is an ordinary character) separate arguments.
// - An argument starting with '"' or '\'' runs to the next unescaped same quote or to the end of
//   the text; the quotes are dropped, the other quote and blanks inside are ordinary. The character
//   right after a closing quote is dropped too (normally the separating blank), so one glued to it
//   is lost. '' gives an empty argument.
// - A backslash escapes the next character (it is removed, the character kept as it is), but only
//   from an argument's third character on (inside the quotes for a quoted one): "a\ b" gives "a\"
//   and "b", "ab\ c" gives "ab c". An escaping backslash at the end of the text is removed.
// - The first argument is the program: a name without '/' is searched on PATH only.
//
// Exit status: the exit code (0-255), -127 when a signal ended the child.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/process/posix/XPosixProcessLauncher.h"

#include <memory>
#include <vector>

namespace zorn
{

class VFilePath;

class VProcessLauncher : public VObject
{
public:
    // Option of ExecuteCommandLine and ExecuteArguments: return once the child started, without
    // waiting for it or reading its output (a child still running is reaped by a later start).
    static constexpr uint32_t kDontWait = 2;

    VProcessLauncher();
    ~VProcessLauncher() override;
    VProcessLauncher(const VProcessLauncher&) = delete;
    VProcessLauncher& operator=(const VProcessLauncher&) = delete;

    void SetDefaultDirectory(const VFilePath& inFolder);
    void SetEnvironmentVariable(const VString& inName, const VString& inValue);
    void SetEnvironmentVariables(const EnvVarNamesAndValuesMap& inVariables);
    void SetBinaryPath(const VString& inBinaryPath);
    void CreateArgumentsFromFullCommandLine(const VString& inCommandLine);
    // With inQuote the argument is wrapped in double quotes, which reach the child as they are.
    void AddArgument(const VString& inArgument, bool inQuote = false);
    void ClearArguments();
    const std::vector<VString>& GetArguments() const;
    void SetWaitClosingChildProcess(int32_t inMilliseconds);
    void SetRedirectStandardInput(bool inRedirect);
    void SetRedirectStandardOutput(bool inRedirect);
    void SetQuoteArgumentsIfNeeded(bool inQuote);
    void EnableProcessTreeKill();

    int32_t Start();
    int32_t Start(const EnvVarNamesAndValuesMap& inEnvironment);
    void CloseStandardInput();
    int32_t WriteToChild(const void* inData, uint32_t inLength, bool inCloseAfter = false);
    int32_t WaitForData();
    int32_t ReadFromChild(char* outBuffer, uint32_t inLength);
    int32_t ReadErrorFromChild(char* outBuffer, uint32_t inLength);
    int32_t ReadFromChildAndShutdown(ProcessReadCallback inOutput, ProcessReadCallback inError);
    // Appends the child's output and error, read in pieces of up to 4096 bytes, until both end. Both
    // pipes are drained together, so a child writing much to one never blocks; the bytes of a
    // stream without a buffer are dropped, and so is a piece that a buffer cannot take.
    void ReadStd(VMemoryBuffer<>* outOutput, VMemoryBuffer<>* outError);

    int32_t GetPid() const;
    bool IsRunning();
    int32_t Shutdown(bool inKill = false, bool inTreeKill = false);
    int32_t GetExitStatus() const;
    static bool KillProcess(int32_t inPid);

    // Runs a command line: split, started, fed with inInput (its standard input is then closed),
    // output and error read into the buffers given, then Shutdown without kill. Every pointer may
    // be null. *outExitStatus is 0 at once and the child's status once the run succeeded.
    // *outLauncher receives the launcher (also after a failed start), else it is deleted. 0, or
    // the error of Start.
    static int32_t ExecuteCommandLine(const VString& inCommandLine, uint32_t inOptions,
                                      const VMemoryBuffer<>* inInput, VMemoryBuffer<>* outOutput,
                                      VMemoryBuffer<>* outError, const EnvVarNamesAndValuesMap* inEnvironment,
                                      const VFilePath* inWorkingDirectory, int32_t* outExitStatus,
                                      VProcessLauncher** outLauncher,
                                      const std::vector<VString>* inExtraArguments = nullptr,
                                      bool inQuoteArguments = true, bool inTreeKill = false);
    // The same for a program and its arguments (after argument 0) as they stand: nothing is split,
    // quoted or dropped, empty arguments included.
    static int32_t ExecuteArguments(const VString& inBinaryPath, const std::vector<VString>& inArguments,
                                    uint32_t inOptions, const VMemoryBuffer<>* inInput,
                                    VMemoryBuffer<>* outOutput, VMemoryBuffer<>* outError,
                                    const EnvVarNamesAndValuesMap* inEnvironment,
                                    const VFilePath* inWorkingDirectory, int32_t* outExitStatus,
                                    VProcessLauncher** outLauncher, bool inTreeKill = false);

private:
    // The steps of a run after the arguments are set.
    static int32_t _Execute(std::unique_ptr<VProcessLauncher> inLauncher, uint32_t inOptions,
                            const VMemoryBuffer<>* inInput, VMemoryBuffer<>* outOutput,
                            VMemoryBuffer<>* outError, const EnvVarNamesAndValuesMap* inEnvironment,
                            const VFilePath* inWorkingDirectory, int32_t* outExitStatus,
                            VProcessLauncher** outLauncher, bool inTreeKill);

    std::unique_ptr<XPosixProcessLauncher> fLauncher;
};

} // namespace zorn
