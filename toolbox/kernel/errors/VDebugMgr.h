// VDebugMgr: the process-wide sink for failed assertions, debug messages and reported errors. It
// writes them to the assert file beside the application bundle, hands them to the process logger,
// echoes them to standard error when asked, and asks an installable message handler what to do
// next: go on, stop the program, break into the debugger, or ignore this assertion or error code
// (or all of them) from now on.
//
// Choices and limits:
// - Reports pass three gates: messages enabled (Init enables them), a current task, and that task
//   neither in low-level mode nor already inside a report (so a report that fails an assertion or
//   raises an error does not report again). Reports never raise errors of their own; an assert
//   file that cannot be opened drops the text.
// - Errors are reported only when no error context filtered them (VTask::SetErrorReporter, which
//   Init installs).
// - The assert file is the bundle's path with the extension of its last component removed,
//   followed by "_asserts.txt" ("/opt/App.app" gives "/opt/App_asserts.txt"). Its first write in
//   a run re-creates it; once it holds 0xA00001 bytes or more it is renamed with a counter (0, 1,
//   ...) appended and begun again. Each write opens and closes the file.
// - "Debugger present" is read from the system at each use (a tracer of the process). Without
//   one, Break does nothing, and the handler's "break" ends the program like "quit"; the program
//   ends with exit status 1 (never 0, which would tell callers that it succeeded). Standard-error
//   echo needs only the log-in-debugger flag.
// - Ignoring all assertions (or errors) stops asking the handler and breaking; such reports still
//   reach the assert file and the logger. Ignoring one assertion (its file-and-line key) or one
//   error code ends its later reports before anything is written.
// - The flags, lists, handler and assert file are locked, so reports from several tasks may run at
//   once; a report's text reaches the file whole. The handler is called outside the locks.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zorn
{

class VDebugContext;
class VErrorBase;
class VString;

// The answers of a message handler; any other number means "continue".
enum EDebugResponse : int32_t
{
    eDebugResponse_Continue = 0,
    eDebugResponse_Break = 1,      // break into the debugger; without one, end the program
    eDebugResponse_Quit = 2,       // end the program
    eDebugResponse_IgnoreThis = 3, // ignore this assertion (file and line) or this error code
    eDebugResponse_IgnoreAll = 4   // ignore all assertions, or all errors
};

// Asked by the debug manager what to do after a failed assertion or a reported error.
class IDebugMessageHandler : public IRefCountable
{
public:
    virtual int32_t AssertFailed(VDebugContext& ioContext, const char* inMessage, const char* inFileName,
                                 int inLineNumber) = 0;
    virtual int32_t ErrorThrown(VDebugContext& ioContext, VErrorBase* inError) = 0;
};

// A handler that asks the user through a system notification ("Assert Failed", "Error Thrown").
// Built with the system notifications.
class VNotificationDebugMessageHandler : public VObject, public IDebugMessageHandler
{
public:
    int32_t AssertFailed(VDebugContext& ioContext, const char* inMessage, const char* inFileName,
                         int inLineNumber) override;
    int32_t ErrorThrown(VDebugContext& ioContext, VErrorBase* inError) override;
};

class VDebugMgr
{
public:
    static constexpr int kExitStatus = 1;
    static constexpr long kAssertFileRotationSize = 0xA00001;

    // The instance, built on first use and never destroyed.
    static VDebugMgr* Get();

    // Enables messages and starts receiving the errors no context filtered; call after
    // VTaskMgr::Init. True.
    bool Init();
    // Stops receiving errors, releases the handler, disables messages and the assert file (the
    // next one starts afresh) and forgets the ignored assertions and codes.
    void DeInit();

    // Retains the new handler and releases the old one; null removes it.
    void SetDebugMessageHandler(IDebugMessageHandler* inHandler);

    // Each setter returns the previous value.
    bool SetBreakOnAssert(bool inSet) { return fBreakOnAssert.exchange(inSet); }
    bool GetBreakOnAssert() const { return fBreakOnAssert.load(); }
    bool SetBreakOnDebugMsg(bool inSet) { return fBreakOnDebugMsg.exchange(inSet); }
    bool GetBreakOnDebugMsg() const { return fBreakOnDebugMsg.load(); }
    bool SetBreakOnError(bool inSet) { return fBreakOnError.exchange(inSet); }
    bool GetBreakOnError() const { return fBreakOnError.load(); }
    bool SetMessagesEnabled(bool inSet) { return fMessagesEnabled.exchange(inSet); }
    bool GetMessagesEnabled() const { return fMessagesEnabled.load(); }
    // Echo of reports to standard error.
    bool SetLogInDebugger(bool inSet) { return fLogInDebugger.exchange(inSet); }
    bool GetLogInDebugger() const { return fLogInDebugger.load(); }
    bool SetWriteToAssertFile(bool inSet) { return fWriteToAssertFile.exchange(inSet); }
    bool GetWriteToAssertFile() const { return fWriteToAssertFile.load(); }

    // Raise and lower the calling task's low-level counter (nothing without a task).
    void StartLowLevelMode();
    void StopLowLevelMode();

    // Reports a failed assertion; true tells the caller to call Break.
    bool AssertFailed(const char* inMessage, const char* inFileName, int inLineNumber);
    // Reports an error that no context filtered.
    void ErrorThrown(VErrorBase* inError);
    // Reports a debug message; the printf form formats it first.
    void DebugMsg(const VString& inText);
    void DebugMsg(const char* inFormat, ...) __attribute__((format(printf, 2, 3)));

    // Appends the text (as UTF-8) to the assert file, after a time stamp and a crawl of the
    // caller's stack when asked.
    void WriteToAssertFile(const VString& inText, bool inStamp, bool inStack);
    // The assert file of the main bundle, and that of a bundle path.
    std::string GetAssertFilePath() const;
    static std::string BuildAssertFilePath(const std::string& inBundlePath);

    // Stops in the debugger, unless none is attached or the calling task's no-break counter is set.
    void Break();
    // Ends the program at once with exit status 1.
    [[noreturn]] void Abort();
    // The kind of debugger support: 2. True.
    static bool _GetDebuggerType(int32_t& outType);

    VDebugMgr(const VDebugMgr&) = delete;
    VDebugMgr& operator=(const VDebugMgr&) = delete;

private:
    VDebugMgr() = default;
    ~VDebugMgr() = default;

    // The calling task's debug context when a report may go on: messages enabled, a task not in
    // low-level mode and not inside a report. The caller then owns the report until LeaveReport.
    VDebugContext* _EnterReport() const;
    IDebugMessageHandler* _RetainHandler() const;
    // Acts on a handler's response; whether it asks to break. inKey: the assertion's key, or empty
    // for an error of inError's code.
    bool _ApplyResponse(int32_t inResponse, const std::string& inKey, VError inError);
    // With fFileMutex held: opens the assert file for appending (see the header comment), writes
    // the stamp and the stack lines; null when it cannot be opened.
    FILE* _OpenAssertFile(bool inStamp, bool inStack);

    std::atomic<bool> fMessagesEnabled{false};
    std::atomic<bool> fBreakOnAssert{false};
    std::atomic<bool> fBreakOnDebugMsg{false};
    std::atomic<bool> fBreakOnError{false};
    std::atomic<bool> fLogInDebugger{false};
    std::atomic<bool> fWriteToAssertFile{false};

    mutable std::mutex fMutex;                // the handler and the ignored assertions and codes
    IDebugMessageHandler* fHandler = nullptr; // one reference
    std::vector<std::string> fIgnoredAsserts;
    std::set<VError> fIgnoredErrors;
    bool fIgnoreAllAsserts = false;
    bool fIgnoreAllErrors = false;

    std::mutex fFileMutex; // the assert file and its state
    std::string fAssertFilePath;
    bool fAssertFileOpened = false;
    uint32_t fRotationCount = 0;
};

} // namespace zorn
