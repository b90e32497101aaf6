// Alerts shown through a desktop dialog program, for a process that has no user interface of its
// own: zenity when a display is set, else kdialog, each found on PATH and started with an argument
// vector (never a shell). VSystem::DisplayNotification is built on these.
//
// Choices and limits:
// - Without DISPLAY and WAYLAND_DISPLAY, or with neither program installed, nothing is shown: the
//   call returns false and a given answer place gets kDialogAnswerCancelled.
// - Flags: the button set is flags & 15, the default button is chosen by flags 16 and 32, flag 512
//   asks for the warning icon. Sets 1 (OK/Cancel), 2 (Yes/No), 4 (Yes/No/Cancel) and 5
//   (Retry/Ignore/Abort) ask a question; every other set shows one button answering
//   kDialogAnswerOK.
// - zenity has two buttons that can be the default (the OK- and the cancel-labelled one) and an
//   extra button that prints its label and exits 1. Three-button sets place the default button on
//   one of the first two. A closed window cannot be told from the cancel-labelled button, so it
//   answers as that button; an information window that is closed answers kDialogAnswerCancelled.
//   kdialog's yes/no/cancel buttons exit 0, 1 and 2; it cannot choose a default button.
// - Texts: the title is the window title; with an empty title the message alone is shown. Each
//   text is one argument of the form --text=<message>, and zenity gets --no-markup, so "&", "<"
//   and a leading "-" show as typed. kdialog has no switch to turn rich text off: a message that
//   looks like HTML is rendered as such there.
// - The icon is the main bundle's "CFBundleIconFile" in Contents/Resources, when that file exists.
// - Any exit the layout does not name (zenity's 5 and -1, a signal) answers kDialogAnswerCancelled.
// - A synchronous dialog (an answer place given) blocks the calling thread until the program ends.
//   An asynchronous one runs in its own process group and stays on the pending list until it ends
//   (a reaper thread per dialog reaps it) or CancelAllDialogs ends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorn::platform
{

// The answers, as VSystem's ENotificationResponse numbers them.
constexpr int32_t kDialogAnswerNone = 0;
constexpr int32_t kDialogAnswerOK = 1;
constexpr int32_t kDialogAnswerCancel = 2;
constexpr int32_t kDialogAnswerYes = 3;
constexpr int32_t kDialogAnswerNo = 4;
constexpr int32_t kDialogAnswerAbort = 5;
constexpr int32_t kDialogAnswerRetry = 6;
constexpr int32_t kDialogAnswerIgnore = 7;
constexpr int32_t kDialogAnswerCancelled = 8;

enum class DialogProgram
{
    kZenity,
    kKDialog
};

// The arguments of one dialog and how the program's end reads as an answer.
struct DialogCommand
{
    std::vector<std::string> fArguments; // after argv[0]
    int32_t fAnswerForExit[3] = {kDialogAnswerCancelled, kDialogAnswerCancelled, kDialogAnswerCancelled};
    std::string fExtraLabel; // zenity's extra button, empty when there is none
    int32_t fExtraAnswer = kDialogAnswerCancelled;
};

DialogCommand BuildDialogCommand(DialogProgram inProgram, std::string_view inTitle,
                                 std::string_view inMessage, uint32_t inFlags, std::string_view inIconPath);

// The answer of a program that ended: inExitCode is its exit status (0-255), or -1 when a signal
// ended it; inOutput is what it wrote on its standard output.
int32_t ReadDialogAnswer(const DialogCommand& inCommand, int inExitCode, std::string_view inOutput);

// Shows a dialog (UTF-8 texts). With an answer place the call waits and writes the answer there
// (0 first); without, it returns once the program started. True when a dialog program started.
bool ShowDialog(std::string_view inTitle, std::string_view inMessage, uint32_t inFlags, int32_t* outAnswer);

// Ends every asynchronous dialog still open (SIGTERM to its process group; SIGKILL to one that is
// still there after a few seconds) and returns once each is reaped.
void CancelAllDialogs();

// The asynchronous dialogs still open.
size_t CountPendingDialogs();

} // namespace zorn::platform
