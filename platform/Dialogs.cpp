#include "platform/Dialogs.h"

#include "platform/Bundle.h"
#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zorn::platform
{

namespace
{

constexpr uint32_t kButtonSetMask = 15;
constexpr uint32_t kDefaultFirst = 16;
constexpr uint32_t kDefaultSecond = 32;
constexpr uint32_t kWarningIcon = 512;
// What is kept of a dialog program's standard output: enough for any button label.
constexpr size_t kMaxOutput = 4096;
constexpr auto kTerminationGrace = std::chrono::seconds(3);

struct Button
{
    const char* fLabel = nullptr;
    int32_t fAnswer = 0;
};

// zenity's question: the OK-labelled button (exit 0), the cancel-labelled one (exit 1, also a
// closed window) and an optional extra button.
struct ZenityLayout
{
    Button fOK;
    Button fCancel;
    Button fExtra; // null label: none
    bool fDefaultCancel = false;
};

const Button kOK{"OK", kDialogAnswerOK};
const Button kCancel{"Cancel", kDialogAnswerCancel};
const Button kYes{"Yes", kDialogAnswerYes};
const Button kNo{"No", kDialogAnswerNo};
const Button kRetry{"Retry", kDialogAnswerRetry};
const Button kIgnore{"Ignore", kDialogAnswerIgnore};
const Button kAbort{"Abort", kDialogAnswerAbort};
const Button kNoButton{nullptr, kDialogAnswerNone};

// The question layouts of the button sets; false for the sets that show one button.
bool GetZenityLayout(uint32_t inFlags, ZenityLayout& outLayout)
{
    bool defaultFirst = (inFlags & kDefaultFirst) != 0;
    switch (inFlags & kButtonSetMask)
    {
    case 1:
        outLayout = {kOK, kCancel, kNoButton, !defaultFirst};
        return true;
    case 2:
        outLayout = {kYes, kNo, kNoButton, !defaultFirst};
        return true;
    case 4:
        switch (inFlags & (kDefaultFirst | kDefaultSecond))
        {
        case kDefaultFirst: // default Yes
            outLayout = {kYes, kCancel, kNo, false};
            break;
        case kDefaultSecond: // default No: it takes the cancel slot, Cancel the extra one
            outLayout = {kYes, kNo, kCancel, true};
            break;
        default: // default Cancel
            outLayout = {kYes, kCancel, kNo, true};
            break;
        }
        return true;
    case 5:
        outLayout = {kRetry, kAbort, kIgnore, false};
        return true;
    default:
        return false;
    }
}

void AddTitleAndIcon(DialogProgram inProgram, std::string_view inTitle, std::string_view inIconPath,
                     DialogCommand& ioCommand)
{
    if (!inTitle.empty())
    {
        ioCommand.fArguments.push_back("--title=" + std::string(inTitle));
    }
    if (!inIconPath.empty())
    {
        const char* option = inProgram == DialogProgram::kZenity ? "--window-icon=" : "--icon=";
        ioCommand.fArguments.push_back(option + std::string(inIconPath));
    }
}

DialogCommand BuildZenityCommand(std::string_view inMessage, uint32_t inFlags)
{
    DialogCommand command;
    std::vector<std::string>& args = command.fArguments;
    ZenityLayout layout;
    bool question = GetZenityLayout(inFlags, layout);
    args.emplace_back(question ? "--question" : "--info");
    args.push_back("--text=" + std::string(inMessage));
    args.emplace_back("--no-markup");
    if (question)
    {
        args.push_back(std::string("--ok-label=") + layout.fOK.fLabel);
        args.push_back(std::string("--cancel-label=") + layout.fCancel.fLabel);
        command.fAnswerForExit[0] = layout.fOK.fAnswer;
        command.fAnswerForExit[1] = layout.fCancel.fAnswer;
        if (layout.fExtra.fLabel != nullptr)
        {
            args.push_back(std::string("--extra-button=") + layout.fExtra.fLabel);
            command.fExtraLabel = layout.fExtra.fLabel;
            command.fExtraAnswer = layout.fExtra.fAnswer;
        }
        if (layout.fDefaultCancel)
        {
            args.emplace_back("--default-cancel");
        }
    }
    else
    {
        command.fAnswerForExit[0] = kDialogAnswerOK;
    }
    if ((inFlags & kWarningIcon) != 0)
    {
        args.emplace_back("--icon-name=dialog-warning");
    }
    return command;
}

DialogCommand BuildKDialogCommand(std::string_view inMessage, uint32_t inFlags)
{
    DialogCommand command;
    std::vector<std::string>& args = command.fArguments;
    bool warning = (inFlags & kWarningIcon) != 0;
    Button yes;
    Button no;
    Button cancel = kNoButton;
    switch (inFlags & kButtonSetMask)
    {
    case 1:
        yes = kOK;
        no = kCancel;
        break;
    case 2:
        yes = kYes;
        no = kNo;
        break;
    case 4:
        yes = kYes;
        no = kNo;
        cancel = kCancel;
        break;
    case 5:
        yes = kRetry;
        no = kIgnore;
        cancel = kAbort;
        break;
    default:
        args.push_back((warning ? "--sorry=" : "--msgbox=") + std::string(inMessage));
        command.fAnswerForExit[0] = kDialogAnswerOK;
        return command;
    }
    const char* kind = cancel.fLabel != nullptr ? (warning ? "--warningyesnocancel=" : "--yesnocancel=")
                                                : (warning ? "--warningyesno=" : "--yesno=");
    args.push_back(kind + std::string(inMessage));
    args.push_back(std::string("--yes-label=") + yes.fLabel);
    args.push_back(std::string("--no-label=") + no.fLabel);
    command.fAnswerForExit[0] = yes.fAnswer;
    command.fAnswerForExit[1] = no.fAnswer;
    if (cancel.fLabel != nullptr)
    {
        args.push_back(std::string("--cancel-label=") + cancel.fLabel);
        command.fAnswerForExit[2] = cancel.fAnswer;
    }
    return command;
}

bool HasDisplay()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != 0) || (wayland != nullptr && *wayland != 0);
}

// The main bundle's icon file, or empty.
std::string FindBundleIcon()
{
    if (!IsMainBundleInsideBundle())
    {
        return {};
    }
    std::optional<std::string> name = GetMainBundleInfoString("CFBundleIconFile");
    if (!name || name->empty() || name->find('/') != std::string::npos)
    {
        return {};
    }
    std::string path = GetMainBundleFolder() + "/Contents/Resources/" + *name;
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? path : std::string();
}

// Reads a pipe to its end, keeping the first kMaxOutput bytes.
std::string DrainPipe(int inDescriptor)
{
    std::string output;
    char buffer[1024];
    for (;;)
    {
        ssize_t count = ::read(inDescriptor, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            break;
        }
        size_t keep = std::min(static_cast<size_t>(count), kMaxOutput - output.size());
        output.append(buffer, keep);
    }
    return output;
}

int ExitCodeOf(int inWaitStatus)
{
    return inWaitStatus >= 0 && WIFEXITED(inWaitStatus) ? WEXITSTATUS(inWaitStatus) : -1;
}

// The asynchronous dialogs still open. A pid stays here until its reaper has seen it end, and the
// reaper takes it out (under the mutex) before it reaps it: while listed, the pid and its process
// group cannot have been reused, so signalling a listed pid reaches the dialog and nothing else.
struct PendingDialogs
{
    std::mutex fMutex;
    std::condition_variable fChanged;
    std::vector<pid_t> fPids;

    bool IsPending(pid_t inPid) const { return std::find(fPids.begin(), fPids.end(), inPid) != fPids.end(); }
};

// Never destroyed: reaper threads may still run while the program exits.
PendingDialogs& ThePendingDialogs()
{
    static auto* sPending = new PendingDialogs;
    return *sPending;
}

void ReapPendingDialog(pid_t inPid)
{
    siginfo_t info;
    // WNOWAIT: the child stays a zombie, its pid reserved, until it is off the list.
    while (::waitid(P_PID, static_cast<id_t>(inPid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR)
    {
    }
    PendingDialogs& pending = ThePendingDialogs();
    std::lock_guard lock(pending.fMutex);
    std::erase(pending.fPids, inPid);
    WaitForChild(inPid);
    pending.fChanged.notify_all();
}

bool ShowAsynchronously(const std::string& inProgram, const DialogCommand& inCommand)
{
    SpawnSettings settings;
    settings.fNewProcessGroup = true;
    PendingDialogs& pending = ThePendingDialogs();
    std::lock_guard lock(pending.fMutex);
    pid_t pid = SpawnProgram(inProgram, inCommand.fArguments, settings);
    if (pid < 0)
    {
        return false;
    }
    pending.fPids.push_back(pid);
    try
    {
        std::thread(ReapPendingDialog, pid).detach();
    }
    catch (...)
    {
        // Nothing would ever reap it: end it now rather than leave it untracked.
        std::erase(pending.fPids, pid);
        ::kill(-pid, SIGKILL);
        WaitForChild(pid);
        return false;
    }
    return true;
}

bool ShowSynchronously(const std::string& inProgram, const DialogCommand& inCommand, int32_t& outAnswer)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
    {
        return false;
    }
    SpawnSettings settings;
    settings.fStandardOutput = pipeEnds[1];
    pid_t pid = SpawnProgram(inProgram, inCommand.fArguments, settings);
    ::close(pipeEnds[1]);
    if (pid < 0)
    {
        ::close(pipeEnds[0]);
        return false;
    }
    std::string output = DrainPipe(pipeEnds[0]);
    ::close(pipeEnds[0]);
    outAnswer = ReadDialogAnswer(inCommand, ExitCodeOf(WaitForChild(pid)), output);
    return true;
}

} // namespace

DialogCommand BuildDialogCommand(DialogProgram inProgram, std::string_view inTitle,
                                 std::string_view inMessage, uint32_t inFlags, std::string_view inIconPath)
{
    DialogCommand command = inProgram == DialogProgram::kZenity ? BuildZenityCommand(inMessage, inFlags)
                                                                : BuildKDialogCommand(inMessage, inFlags);
    AddTitleAndIcon(inProgram, inTitle, inIconPath, command);
    return command;
}

int32_t ReadDialogAnswer(const DialogCommand& inCommand, int inExitCode, std::string_view inOutput)
{
    if (inExitCode == 1 && !inCommand.fExtraLabel.empty())
    {
        std::string_view firstLine = inOutput.substr(0, inOutput.find('\n'));
        if (firstLine == inCommand.fExtraLabel)
        {
            return inCommand.fExtraAnswer;
        }
    }
    if (inExitCode >= 0 && inExitCode <= 2)
    {
        return inCommand.fAnswerForExit[inExitCode];
    }
    return kDialogAnswerCancelled;
}

bool ShowDialog(std::string_view inTitle, std::string_view inMessage, uint32_t inFlags, int32_t* outAnswer)
{
    if (outAnswer != nullptr)
    {
        *outAnswer = kDialogAnswerNone;
    }
    std::string program;
    DialogProgram kind = DialogProgram::kZenity;
    if (HasDisplay())
    {
        program = SearchExecutable("zenity");
        if (program.empty())
        {
            kind = DialogProgram::kKDialog;
            program = SearchExecutable("kdialog");
        }
    }
    bool shown = false;
    if (!program.empty())
    {
        DialogCommand command = BuildDialogCommand(kind, inTitle, inMessage, inFlags, FindBundleIcon());
        shown = outAnswer != nullptr ? ShowSynchronously(program, command, *outAnswer)
                                     : ShowAsynchronously(program, command);
    }
    if (!shown && outAnswer != nullptr)
    {
        // Nothing was shown: the caller reads "cancelled", never an answer left unwritten.
        *outAnswer = kDialogAnswerCancelled;
    }
    return shown;
}

void CancelAllDialogs()
{
    PendingDialogs& pending = ThePendingDialogs();
    std::unique_lock lock(pending.fMutex);
    std::vector<pid_t> signalled = pending.fPids;
    auto anyLeft = [&]
    {
        return std::any_of(signalled.begin(), signalled.end(),
                           [&](pid_t pid) { return pending.IsPending(pid); });
    };
    for (pid_t pid : signalled)
    {
        ::kill(-pid, SIGTERM);
    }
    if (!pending.fChanged.wait_for(lock, kTerminationGrace, [&] { return !anyLeft(); }))
    {
        for (pid_t pid : signalled)
        {
            if (pending.IsPending(pid))
            {
                ::kill(-pid, SIGKILL);
            }
        }
        pending.fChanged.wait(lock, [&] { return !anyLeft(); });
    }
}

size_t CountPendingDialogs()
{
    PendingDialogs& pending = ThePendingDialogs();
    std::lock_guard lock(pending.fMutex);
    return pending.fPids.size();
}

} // namespace zorn::platform
