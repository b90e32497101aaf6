// The updater run as a process, the way an application starts it: Hello.app 1.0 installed in a
// scratch folder is replaced by Hello.app 2.0. Each case checks the exit status, what the caller
// reads on the updater's standard output, the log file's lines, the installed bundle, where the
// backup went and what the (fake) dialog program and xdg-open were given.
//
// The scratch folder holds: Apps/Hello.app (installed), New/Hello.app (the update), logs/ (the log
// folder), data/ (XDG_DATA_HOME, so data/Trash is the Trash), bin/ (fake zenity, kdialog and
// xdg-open, first on PATH) and records/ (what they were started with). The caller is a
// "sleep" process the test ends once the updater has said "waitquit".
#include "tests/FakeProgramSupport.h"
#include "tests/TestTime.h"
#include "tests/updater/TreeManifest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zorn::test
{
namespace
{

namespace fs = std::filesystem;

// Every line the updater's own logging functions write.
const std::regex
    kUpdaterLine(R"(^\d+ \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \[Updater\.ZqUP\] (INFO|ERROR) - .* \(\)$)");

std::string BundleVersion(const std::string& inBundle)
{
    const std::string plist = ReadWholeFile(inBundle + "/Contents/Info.plist");
    const size_t key = plist.find("CFBundleShortVersionString");
    const size_t start = plist.find("<string>", key);
    if (key == std::string::npos || start == std::string::npos)
    {
        return {};
    }
    const size_t end = plist.find("</string>", start);
    return plist.substr(start + 8, end - start - 8);
}

bool WaitForExit(pid_t inPid, int& outStatus, std::chrono::seconds inTimeout)
{
    const auto deadline = DeadlineIn(inTimeout);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (::waitpid(inPid, &outStatus, WNOHANG) == inPid)
        {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct UpdaterResult
{
    int fExitCode = -1;
    std::string fOut;                    // the updater's standard output, to its end
    bool fOutEndedEarly = false;         // end of file came while the caller was still running
    std::vector<std::string> fFdTargets; // /proc/<pid>/fd/0..2 while it waited for the caller
    std::vector<std::string> fLog;       // the log file's lines (empty: no file)
    std::string fLogFile;
};

class UpdaterProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fRoot = MakeTemporaryFolder();
        ASSERT_FALSE(fRoot.empty());
        ::chmod(fRoot.c_str(), 0755);
        for (const char* folder : {"Apps", "New", "data", "bin", "records", "home"})
        {
            fs::create_directory(fRoot + "/" + folder);
        }
        fs::copy(HELLO_1_BUNDLE, fRoot + "/Apps/Hello.app", fs::copy_options::recursive);
        fs::copy(HELLO_2_BUNDLE, fRoot + "/New/Hello.app", fs::copy_options::recursive);
        const std::string dialog = FakeDialogScript(fRoot + "/records");
        WriteScript(fRoot + "/bin/zenity", dialog);
        WriteScript(fRoot + "/bin/kdialog", dialog);
        WriteScript(fRoot + "/bin/xdg-open",
                    "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + fRoot + "/records/xdg-open.args'\n");
        fUpdater = std::string(UPDATER_BUNDLE) + "/Contents/MacOS/updater";
    }

    void TearDown() override
    {
        // A failed case shows what its last updater run printed and logged.
        if (HasFailure())
        {
            std::string log;
            for (const std::string& line : fLastRun.fLog)
            {
                log += line + "\n";
            }
            std::cout << "Last updater run: exit " << fLastRun.fExitCode << "\n-- standard output:\n"
                      << fLastRun.fOut << "\n-- standard error:\n"
                      << ReadWholeFile(fRoot + "/records/stderr.txt") << "\n-- log " << fLastRun.fLogFile
                      << ":\n"
                      << log;
        }
        // The restarted application runs until told to stop.
        for (pid_t pid : StartedHelloPids())
        {
            ::kill(pid, SIGTERM);
        }
        std::error_code ignored;
        fs::remove_all(fRoot, ignored);
    }

    std::string Installed() const { return fRoot + "/Apps/Hello.app"; }
    std::string Update() const { return fRoot + "/New/Hello.app"; }
    std::string Logs() const { return fRoot + "/logs"; }
    std::string Trashed(const std::string& inName) const { return fRoot + "/data/Trash/files/" + inName; }

    std::vector<pid_t> StartedHelloPids() const
    {
        std::vector<pid_t> pids;
        std::ifstream marker(fRoot + "/Apps/hello-marker.txt");
        std::string version;
        std::string started;
        int pid = 0;
        while (marker >> version >> started >> pid)
        {
            pids.push_back(pid);
        }
        return pids;
    }

    // The fake dialog program's arguments (its name first); empty when no dialog ran.
    std::vector<std::string> DialogArguments() const
    {
        return ReadRecordedArguments(fRoot + "/records/last.args");
    }

    // The updater's environment: the sanitizers' settings, a fake desktop under the test's root,
    // then inSettings, which replace the defaults of the same name (a shell keeps the last of two
    // same names, the C library the first). The dialog answers No unless a setting says otherwise.
    std::vector<std::string> Environment(const std::vector<std::string>& inSettings = {}) const
    {
        std::vector<std::string> environment;
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        {
            if (const char* value = std::getenv(name))
            {
                environment.push_back(std::string(name) + "=" + value);
            }
        }
        environment.insert(environment.end(), {"PATH=" + fRoot + "/bin:/usr/bin:/bin", "DISPLAY=:99",
                                               "XDG_DATA_HOME=" + fRoot + "/data", "HOME=" + fRoot + "/home",
                                               "LANG=C.UTF-8", "FAKE_DIALOG_EXIT=1"});
        for (const std::string& setting : inSettings)
        {
            const std::string name = setting.substr(0, setting.find('=') + 1);
            std::erase_if(environment, [&](const std::string& entry) { return entry.rfind(name, 0) == 0; });
            environment.push_back(setting);
        }
        return environment;
    }

    // Starts the updater with no caller to wait for and its standard streams as the test's own.
    pid_t Spawn(std::vector<std::string> inArguments) const
    {
        std::vector<std::string> environment = Environment();
        std::vector<char*> envp;
        for (std::string& entry : environment)
        {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::string program = fUpdater;
        std::vector<char*> argv{program.data()};
        for (std::string& argument : inArguments)
        {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
        return pid;
    }

    // Runs the updater with the arguments ("{pid}" stands for the caller's pid) and the extra
    // environment, as the caller: reads its output, ends the caller once it said "waitquit"
    // (unless inCallerQuits is false), and waits for the updater's end. inOnStart, when given, is
    // called with the updater's pid as soon as it runs.
    UpdaterResult Run(std::vector<std::string> inArguments,
                      const std::vector<std::string>& inEnvironment = {}, uid_t inUser = 0,
                      bool inCallerQuits = true, const std::function<void(pid_t)>& inOnStart = nullptr)
    {
        UpdaterResult result;
        // The caller: a process that would run for long.
        pid_t caller = -1;
        const char* sleepArgs[] = {"/bin/sleep", "600", nullptr};
        EXPECT_EQ(
            ::posix_spawn(&caller, "/bin/sleep", nullptr, nullptr, const_cast<char**>(sleepArgs), environ),
            0);
        for (std::string& argument : inArguments)
        {
            if (const size_t at = argument.find("{pid}"); at != std::string::npos)
            {
                argument.replace(at, 5, std::to_string(caller));
            }
        }
        std::vector<std::string> environment = Environment(inEnvironment);
        std::vector<char*> envp;
        for (std::string& entry : environment)
        {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        const std::string program = fUpdater;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& argument : inArguments)
        {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const std::string errFile = fRoot + "/records/stderr.txt";
        const pid_t updater = ::fork();
        if (updater == 0)
        {
            ::dup2(out[1], STDOUT_FILENO);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, STDERR_FILENO);
            if (inUser != 0 && (::setgid(inUser) != 0 || ::setuid(inUser) != 0))
            {
                ::_exit(126);
            }
            if (!fWorkingFolder.empty() && ::chdir(fWorkingFolder.c_str()) != 0)
            {
                ::_exit(125);
            }
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        if (inOnStart)
        {
            inOnStart(updater);
        }

        // Read until end of file; once "waitquit" came, look at the updater's descriptors, then
        // end the caller so that the updater goes on.
        bool callerEnded = false;
        bool ended = false;
        char buffer[512];
        const auto deadline = DeadlineIn(std::chrono::seconds(90));
        while (std::chrono::steady_clock::now() < deadline)
        {
            pollfd poller{out[0], POLLIN, 0};
            const int ready = ::poll(&poller, 1, 200);
            if (ready > 0)
            {
                const ssize_t got = ::read(out[0], buffer, sizeof(buffer));
                if (got <= 0)
                {
                    ended = true;
                    result.fOutEndedEarly = !callerEnded;
                }
                else
                {
                    result.fOut.append(buffer, static_cast<size_t>(got));
                }
            }
            if (!callerEnded && result.fFdTargets.empty() &&
                result.fOut.find("waitquit,") != std::string::npos && ended)
            {
                // The pipe ended after the handshake: the updater has let go of its standard
                // streams (output last) and waits for the caller.
                for (int fd = 0; fd <= 2; ++fd)
                {
                    std::error_code error;
                    result.fFdTargets.push_back(
                        fs::read_symlink("/proc/" + std::to_string(updater) + "/fd/" + std::to_string(fd),
                                         error)
                            .string());
                }
                if (inCallerQuits)
                {
                    ::kill(caller, SIGTERM);
                    callerEnded = true;
                }
            }
            if (ended)
            {
                break;
            }
        }
        ::close(out[0]);
        int status = 0;
        if (!callerEnded && inCallerQuits)
        {
            ::kill(caller, SIGTERM);
        }
        if (WaitForExit(updater, status, std::chrono::seconds(90)))
        {
            result.fExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        else
        {
            ::kill(updater, SIGKILL);
            ::waitpid(updater, &status, 0);
        }
        ::kill(caller, SIGTERM);
        ::waitpid(caller, &status, 0);
        ReadLog(result);
        fLastRun = result;
        return result;
    }

    // The environment that preloads the fault shim with these settings.
    static std::vector<std::string> Shim(const std::vector<std::string>& inSettings)
    {
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> environment{std::string("LD_PRELOAD=") + FAULTSHIM_LIBRARY,
                                             std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                                                 ":verify_asan_link_order=0"};
        environment.insert(environment.end(), inSettings.begin(), inSettings.end());
        return environment;
    }

    void ReadLog(UpdaterResult& ioResult) const
    {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(Logs(), error))
        {
            const std::string name = entry.path().filename().string();
            if (name.size() > 10 && name.compare(name.size() - 10, 10, "_log_1.txt") == 0)
            {
                ioResult.fLogFile = entry.path().string();
            }
        }
        if (ioResult.fLogFile.empty())
        {
            return;
        }
        std::ifstream file(ioResult.fLogFile);
        for (std::string line; std::getline(file, line);)
        {
            ioResult.fLog.push_back(line);
        }
    }

    std::string fRoot;
    std::string fUpdater;
    std::string fWorkingFolder; // the updater's working folder (empty: the test's own)
    UpdaterResult fLastRun;     // what TearDown shows when the case failed
};

// The updater's own lines, in order, each checked against the line format; the lines logged by
// the debug manager for errors passed on to the main task (after "Update failed") are skipped.
std::vector<std::string> UpdaterMessages(const std::vector<std::string>& inLog)
{
    std::vector<std::string> messages;
    for (const std::string& line : inLog)
    {
        if (line.find("[Updater.ZqUP]") == std::string::npos)
        {
            continue;
        }
        EXPECT_TRUE(std::regex_match(line, kUpdaterLine)) << line;
        const size_t dash = line.find(" - ");
        messages.push_back(line.substr(dash + 3, line.size() - dash - 3 - 3));
    }
    return messages;
}

bool StartsWith(const std::string& inText, const std::string& inPrefix)
{
    return inText.compare(0, inPrefix.size(), inPrefix) == 0;
}

// The index of the first message starting with inPrefix, or -1.
int FindMessage(const std::vector<std::string>& inMessages, const std::string& inPrefix)
{
    for (size_t i = 0; i < inMessages.size(); ++i)
    {
        if (StartsWith(inMessages[i], inPrefix))
        {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Waits until a staging folder appears in the watched folder; false at the timeout.
bool WaitForStaging(int inWatch, std::chrono::milliseconds inTimeout)
{
    const auto deadline = DeadlineIn(inTimeout);
    alignas(inotify_event) char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline)
    {
        pollfd poller{inWatch, POLLIN, 0};
        if (::poll(&poller, 1, 50) <= 0)
        {
            continue;
        }
        const ssize_t got = ::read(inWatch, buffer, sizeof(buffer));
        for (ssize_t at = 0; at < got;)
        {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && std::string(event->name).find(".partial-") != std::string::npos)
            {
                return true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

TEST_F(UpdaterProcess, SuccessReplacesRestartsAndTrashes)
{
    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--log-dir=" + Logs(), Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 0);
    EXPECT_NE(result.fOut.find("waitquit,-1\n"), std::string::npos) << result.fOut;
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    EXPECT_TRUE(fs::is_directory(Trashed("Hello_old0001.app")));
    EXPECT_EQ(BundleVersion(Trashed("Hello_old0001.app")), "1.0");
    EXPECT_FALSE(fs::exists(fRoot + "/Apps/Hello_old0001.app"));
    EXPECT_NE(ReadWholeFile(fRoot + "/data/Trash/info/Hello_old0001.app.trashinfo")
                  .find("Path=" + fRoot + "/Apps/Hello_old0001.app\n"),
              std::string::npos);
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
    EXPECT_NE(ReadWholeFile(fRoot + "/Apps/hello-marker.txt").find("2.0 started "), std::string::npos);
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    ASSERT_FALSE(messages.empty()) << "no log file in " << Logs();
    EXPECT_TRUE(StartsWith(messages.front(), "Updater starting - ")) << messages.front();
    EXPECT_TRUE(StartsWith(messages.back(), "Update successful - ")) << messages.back();
    EXPECT_TRUE(DialogArguments().empty());
    // Standard streams: the caller's pipe ended while the updater waited for it, and the updater
    // waited with 0-2 on /dev/null.
    EXPECT_TRUE(result.fOutEndedEarly);
    EXPECT_EQ(result.fFdTargets, (std::vector<std::string>{"/dev/null", "/dev/null", "/dev/null"}));
}

// Failures before anything is touched: the installed bundle stays, nothing is trashed, and the
// notification shows unless asked not to (or the log could not be opened).
TEST_F(UpdaterProcess, FailuresLogAndNotify)
{
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments; // after --pid and --caller-log
        int fExitCode;
        bool fDialog;          // the fake dialog program ran
        bool fLogLineInDialog; // its text names the log file
        bool fLogFile;         // a log file was written
        const char* fError;    // a part of the newest error's text (in the log and the dialog)
    };
    const std::string missing = fRoot + "/New/Missing.app";
    const std::vector<Row> rows = {
        {"up-to-date bundle missing",
         {"--log-dir=" + Logs(), Installed(), missing},
         2,
         true,
         true,
         true,
         "Missing.app"},
        {"outdated bundle missing",
         {"--log-dir=" + Logs(), fRoot + "/Apps/Gone.app", Update()},
         2,
         true,
         true,
         true,
         "Gone.app"},
        {"silent: logged, no dialog",
         {"--silent", "--log-dir=" + Logs(), Installed(), missing},
         2,
         false,
         false,
         true,
         "Missing.app"},
        {"no log folder: no file, no log line in the dialog",
         {Installed(), missing},
         2,
         true,
         false,
         false,
         "Missing.app"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        std::error_code ignored;
        fs::remove_all(Logs(), ignored);
        fs::remove(fRoot + "/records/last.args", ignored);
        std::vector<std::string> arguments{"--pid={pid}", "--caller-log=1"};
        arguments.insert(arguments.end(), row.fArguments.begin(), row.fArguments.end());
        const UpdaterResult result = Run(arguments);
        EXPECT_EQ(result.fExitCode, row.fExitCode);
        // The handshake comes only after the checks.
        EXPECT_EQ(result.fOut.find("waitquit"), std::string::npos) << result.fOut;
        EXPECT_EQ(BundleVersion(Installed()), "1.0");
        EXPECT_FALSE(fs::exists(fRoot + "/data/Trash/files"));
        EXPECT_EQ(!result.fLogFile.empty(), row.fLogFile);
        if (row.fLogFile)
        {
            const std::vector<std::string> messages = UpdaterMessages(result.fLog);
            ASSERT_GE(messages.size(), 3u);
            EXPECT_TRUE(StartsWith(messages.front(), "Updater starting - "));
            const int failed = FindMessage(messages, "Update failed - ");
            ASSERT_GE(failed, 2);
            EXPECT_NE(messages[static_cast<size_t>(failed) - 1].find(row.fError), std::string::npos);
            EXPECT_NE(result.fLog.front().find("] INFO - Updater starting"), std::string::npos);
        }
        const std::vector<std::string> dialog = DialogArguments();
        EXPECT_EQ(!dialog.empty(), row.fDialog);
        std::string text;
        for (const std::string& argument : dialog)
        {
            text += argument + "\n";
        }
        if (row.fDialog)
        {
            EXPECT_NE(text.find(row.fError), std::string::npos) << text;
            EXPECT_NE(text.find("--question"), std::string::npos) << text;
        }
        const std::string hint = "More information is available in the log file '" + result.fLogFile + "'";
        EXPECT_EQ(text.find("More information is available in the log file") != std::string::npos,
                  row.fLogLineInDialog)
            << text;
        if (row.fLogLineInDialog)
        {
            EXPECT_NE(text.find(hint), std::string::npos) << text;
        }
        EXPECT_FALSE(fs::exists(fRoot + "/records/xdg-open.args"));
    }
}

TEST_F(UpdaterProcess, LogFolderThatCannotBeMadeDoesNotStopTheUpdate)
{
    std::ofstream(fRoot + "/a-file") << "not a folder";
    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--log-dir=" + fRoot + "/a-file/logs", Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 0);
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    EXPECT_TRUE(fs::is_directory(Trashed("Hello_old0001.app")));
    EXPECT_TRUE(DialogArguments().empty());
}

TEST_F(UpdaterProcess, UnwritableLogFolderFailsBeforeTouchingAnythingAndNotifiesDespiteSilent)
{
    fs::create_directory(Logs());
    ::chmod(Logs().c_str(), 0555);
    // Root writes anywhere: the updater then runs as "nobody", for whom the folder is read-only.
    // That user may not reach the build tree (a checkout in a private folder): it runs a copy of
    // Updater.app in the scratch folder.
    const uid_t user = ::geteuid() == 0 ? 65534 : 0;
    ::chmod((fRoot + "/records").c_str(), 0777);
    fs::copy(UPDATER_BUNDLE, fRoot + "/Updater.app", fs::copy_options::recursive);
    fUpdater = fRoot + "/Updater.app/Contents/MacOS/updater";
    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--silent", "--log-dir=" + Logs(), Installed(), Update()}, {},
            user);
    EXPECT_EQ(result.fExitCode, 2) << ReadWholeFile(fRoot + "/records/stderr.txt");
    EXPECT_EQ(result.fOut.find("waitquit"), std::string::npos);
    EXPECT_TRUE(result.fLogFile.empty());
    EXPECT_EQ(BundleVersion(Installed()), "1.0");
    EXPECT_FALSE(fs::exists(fRoot + "/data/Trash/files"));
    const std::vector<std::string> dialog = DialogArguments();
    ASSERT_FALSE(dialog.empty());
    std::string text;
    for (const std::string& argument : dialog)
    {
        text += argument + "\n";
    }
    EXPECT_EQ(text.find("More information"), std::string::npos) << text;
}

// The answer to the notification: Yes opens the log file with xdg-open; No, or a dialog closed
// without an answer, opens nothing.
TEST_F(UpdaterProcess, AnswerYesOpensTheLogFile)
{
    struct Row
    {
        const char* fWhat;
        const char* fDialogExit;
        bool fOpened;
    };
    const std::vector<Row> rows = {
        {"Yes", "0", true},
        {"No", "1", false},
        {"the dialog killed: no answer", "kill", false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        std::error_code ignored;
        fs::remove_all(Logs(), ignored);
        fs::remove(fRoot + "/records/xdg-open.args", ignored);
        const UpdaterResult result =
            Run({"--pid={pid}", "--log-dir=" + Logs(), Installed(), fRoot + "/New/Missing.app"},
                {std::string("FAKE_DIALOG_EXIT=") + row.fDialogExit});
        EXPECT_EQ(result.fExitCode, 2);
        ASSERT_FALSE(DialogArguments().empty());
        if (row.fOpened)
        {
            // Detached: the opener may still be on its way.
            ASSERT_TRUE(WaitForFile(fRoot + "/records/xdg-open.args"));
            std::vector<std::string> opened;
            for (int i = 0; i < 100 && opened.empty(); ++i)
            {
                opened = ReadRecordedArguments(fRoot + "/records/xdg-open.args");
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            EXPECT_EQ(opened, std::vector<std::string>{result.fLogFile});
        }
        else
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_FALSE(fs::exists(fRoot + "/records/xdg-open.args"));
        }
    }
}

// A copy of Updater.app whose opener fails: the new bundle is in place but not restarted, the run
// fails, and the backup is kept where it is.
TEST_F(UpdaterProcess, OpenerFailureKeepsTheBackup)
{
    const std::string copy = fRoot + "/Updater.app";
    fs::copy(UPDATER_BUNDLE, copy, fs::copy_options::recursive);
    fs::remove(copy + "/Contents/MacOS/zq-open");
    WriteScript(copy + "/Contents/MacOS/zq-open", "#!/bin/sh\necho 'zq-open: cannot start' >&2\nexit 1\n");
    fUpdater = copy + "/Contents/MacOS/updater";
    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--silent", "--log-dir=" + Logs(), Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 2);
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    EXPECT_TRUE(fs::is_directory(fRoot + "/Apps/Hello_old0001.app"));
    EXPECT_EQ(BundleVersion(fRoot + "/Apps/Hello_old0001.app"), "1.0");
    EXPECT_FALSE(fs::exists(Trashed("Hello_old0001.app")));
    EXPECT_FALSE(fs::exists(fRoot + "/Apps/hello-marker.txt"));
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(StartsWith(messages.back(), "Update failed - ")) << messages.back();
}

TEST_F(UpdaterProcess, ClientInformationCustomizesTheInstalledBundle)
{
    const std::string info = fRoot + "/client.json";
    std::ofstream(info)
        << R"({"ServerPlatform": "Linux", "BuildIPAdress": "10.0.0.5", "BuildIPPort": "19813",)"
        << R"( "PublishName": "Sales"})";
    const UpdaterResult result = Run({"--pid={pid}", "--caller-log=1", "--log-dir=" + Logs(),
                                      "--client-info=" + info, Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 0);
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    const std::string link = ReadWholeFile(Installed() + "/Contents/Database/EnginedServer.Zqlink");
    EXPECT_NE(link.find("server_path=\"10.0.0.5:19813\""), std::string::npos) << link;
    EXPECT_NE(link.find("server_database_name=\"Sales\""), std::string::npos) << link;
}

// Errors are dumped newest first, and the notification shows the newest.
TEST_F(UpdaterProcess, SeveralErrorsAreLoggedNewestFirst)
{
    const UpdaterResult result =
        Run({"--log-dir=" + Logs(), fRoot + "/Apps/Gone.app", fRoot + "/New/Missing.app"});
    EXPECT_EQ(result.fExitCode, 2);
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    const int failed = FindMessage(messages, "Update failed - ");
    ASSERT_GE(failed, 3);
    // "Updater starting", the up-to-date bundle's error (raised last), the outdated one's.
    EXPECT_NE(messages[1].find("Missing.app"), std::string::npos) << messages[1];
    EXPECT_NE(messages[2].find("Gone.app"), std::string::npos) << messages[2];
    std::string text;
    for (const std::string& argument : DialogArguments())
    {
        text += argument + "\n";
    }
    EXPECT_NE(text.find("Missing.app"), std::string::npos) << text;
    EXPECT_EQ(text.find("Gone.app"), std::string::npos) << text;
}

// Command lines that stop before the run end with their status and nothing else: no log file, no
// handshake, nothing touched, and no report of a sanitizer (whose own status would take the
// place of the expected one): the process's tasks stop before the engine is destroyed.
TEST_F(UpdaterProcess, CommandLinesThatStopBeforeTheRunEndCleanly)
{
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        int fExitCode;
    };
    const std::vector<Row> rows = {
        {"an unknown option", {"--bogus", "--log-dir=" + Logs(), Installed(), Update()}, 1},
        {"one bundle", {"--log-dir=" + Logs(), Installed()}, 1},
        {"an empty bundle path", {"--log-dir=" + Logs(), "--outdated-app=", Update()}, 1},
        {"the version", {"--version", "--log-dir=" + Logs()}, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const UpdaterResult result = Run(row.fArguments);
        EXPECT_EQ(result.fExitCode, row.fExitCode) << ReadWholeFile(fRoot + "/records/stderr.txt");
        EXPECT_TRUE(result.fLogFile.empty());
        EXPECT_EQ(result.fOut.find("waitquit"), std::string::npos);
        EXPECT_EQ(BundleVersion(Installed()), "1.0");
        EXPECT_EQ(ReadWholeFile(fRoot + "/records/stderr.txt").find("Sanitizer"), std::string::npos);
    }
}

// A Trash that cannot be made: the backup is deleted instead, and the update, installed and
// restarted, still succeeds, with the backup's fate in the log.
TEST_F(UpdaterProcess, UnusableTrashDeletesTheBackupAndSucceeds)
{
    fs::create_directories(fRoot + "/data");
    std::ofstream(fRoot + "/data/Trash") << "not a folder";
    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--log-dir=" + Logs(), Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 0);
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    EXPECT_FALSE(fs::exists(fRoot + "/Apps/Hello_old0001.app"));
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    const int restarted = FindMessage(messages, "Up-to-date application restarted");
    const std::string backup = fRoot + "/Apps/Hello_old0001.app";
    const int refused = FindMessage(messages, "The backup " + backup + " could not be moved to the Trash");
    const int deleted = FindMessage(messages, "Backup " + backup + " deleted");
    EXPECT_NE(restarted, -1);
    EXPECT_GT(refused, restarted);
    EXPECT_GT(deleted, refused);
    EXPECT_NE(FindMessage(messages, "Update successful - "), -1);
    EXPECT_TRUE(DialogArguments().empty());
}

// A Trash that cannot be made and a backup that cannot be deleted either: the failed delete is
// logged and left in place, and the update, installed and restarted, still succeeds. The delete
// fails at the removal of the backup's folder itself, the last remove() of a run (counted first).
TEST_F(UpdaterProcess, AFailedDeleteOfTheBackupIsLoggedAndTheUpdateStillSucceeds)
{
    std::ofstream(fRoot + "/data/Trash") << "not a folder";
    const std::vector<std::string> arguments{"--pid={pid}", "--caller-log=1", "--log-dir=" + Logs(),
                                             Installed(), Update()};
    const std::string counts = fRoot + "/records/counts.txt";
    ASSERT_EQ(Run(arguments, Shim({"FAULTSHIM_COUNT_FILE=" + counts})).fExitCode, 0);
    int removals = 0;
    {
        std::ifstream countFile(counts);
        std::string name;
        int count = 0;
        while (countFile >> name >> count)
        {
            removals = name == "remove" ? count : removals;
        }
    }
    ASSERT_GT(removals, 0) << ReadWholeFile(counts);
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
    for (pid_t pid : StartedHelloPids())
    {
        ::kill(pid, SIGTERM);
    }
    std::error_code ignored;
    fs::remove(fRoot + "/Apps/hello-marker.txt", ignored);
    fs::remove_all(Logs(), ignored);
    fs::remove_all(Installed(), ignored);
    fs::copy(HELLO_1_BUNDLE, Installed(), fs::copy_options::recursive);

    const UpdaterResult result =
        Run(arguments, Shim({"FAULTSHIM_FUNCTION=remove", "FAULTSHIM_CALL=" + std::to_string(removals),
                             "FAULTSHIM_ACTION=EACCES"}));
    EXPECT_EQ(result.fExitCode, 0);
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
    EXPECT_NE(ReadWholeFile(fRoot + "/Apps/hello-marker.txt").find("2.0 started "), std::string::npos);
    const std::string backup = fRoot + "/Apps/Hello_old0001.app";
    EXPECT_TRUE(fs::is_directory(backup));
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    const int restarted = FindMessage(messages, "Up-to-date application restarted");
    const int refused = FindMessage(messages, "The backup " + backup + " could not be moved to the Trash");
    const int failed =
        FindMessage(messages, "The backup " + backup + " could not be deleted; it stays in place");
    EXPECT_NE(restarted, -1);
    EXPECT_GT(refused, restarted);
    EXPECT_GT(failed, refused) << ::testing::PrintToString(messages);
    EXPECT_EQ(FindMessage(messages, "Backup " + backup + " deleted"), -1);
    EXPECT_TRUE(StartsWith(messages.back(), "Update successful - ")) << messages.back();
    EXPECT_TRUE(DialogArguments().empty());
}

// A regular user's bundle on a mount whose top folder the user cannot write: no Trash can be made
// there, and the home Trash, on another mount, cannot take it. The backup is deleted, the run
// succeeds with the new bundle running, and the log says what became of the backup.
TEST_F(UpdaterProcess, NoTrashOnAMountWithAReadOnlyTopFolderDeletesTheBackupAndSucceeds)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    const std::string mount = fRoot + "/mnt";
    fs::create_directory(mount);
    if (std::system(("mount -t tmpfs -o size=16m,mode=0755 tmpfs '" + mount + "' 2>/dev/null").c_str()) != 0)
    {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    struct Unmount
    {
        std::string fMount;
        ~Unmount() { (void)std::system(("umount -l '" + fMount + "'").c_str()); }
    } unmount{mount};
    // "nobody" owns the folder of the installed bundle and the bundle; the mount's top folder
    // stays root's, read-only for the user.
    const uid_t user = 65534;
    const std::string apps = mount + "/Apps";
    const std::string installed = apps + "/Hello.app";
    fs::create_directory(apps);
    fs::copy(HELLO_1_BUNDLE, installed, fs::copy_options::recursive);
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + apps + "'").c_str()), 0);
    for (const char* folder : {"records", "data", "home"})
    {
        ::chmod((fRoot + "/" + folder).c_str(), 0777);
    }
    fs::create_directory(Logs());
    ::chmod(Logs().c_str(), 0777);
    // That user may not reach the build tree (a checkout in a private folder): it runs a copy of
    // Updater.app in the scratch folder.
    fs::copy(UPDATER_BUNDLE, fRoot + "/Updater.app", fs::copy_options::recursive);
    fUpdater = fRoot + "/Updater.app/Contents/MacOS/updater";

    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--log-dir=" + Logs(), installed, Update()}, {}, user);
    EXPECT_EQ(result.fExitCode, 0) << ReadWholeFile(fRoot + "/records/stderr.txt");
    EXPECT_EQ(BundleVersion(installed), "2.0");
    const std::string backup = apps + "/Hello_old0001.app";
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(mount + "/.Trash-65534"));
    ASSERT_TRUE(WaitForFile(apps + "/hello-marker.txt"));
    EXPECT_NE(ReadWholeFile(apps + "/hello-marker.txt").find("2.0 started "), std::string::npos);
    {
        std::ifstream marker(apps + "/hello-marker.txt");
        std::string version;
        std::string started;
        int pid = 0;
        while (marker >> version >> started >> pid)
        {
            ::kill(pid, SIGTERM);
        }
    }
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    const int restarted = FindMessage(messages, "Up-to-date application restarted");
    const int refused = FindMessage(messages, "The backup " + backup + " could not be moved to the Trash");
    const int deleted = FindMessage(messages, "Backup " + backup + " deleted");
    EXPECT_NE(restarted, -1);
    EXPECT_GT(refused, restarted) << ::testing::PrintToString(messages);
    EXPECT_GT(deleted, refused);
    EXPECT_TRUE(StartsWith(messages.back(), "Update successful - ")) << messages.back();
    EXPECT_TRUE(DialogArguments().empty());
}

// An item that cannot be copied fails the update with the old bundle in place, and the log
// names the item.
TEST_F(UpdaterProcess, AnItemThatCannotBeCopiedIsNamedInTheLog)
{
    const std::string socketPath = Update() + "/Contents/socket";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(listener);
    const std::string oldManifest = Manifest(Installed());

    const UpdaterResult result =
        Run({"--pid={pid}", "--caller-log=1", "--silent", "--log-dir=" + Logs(), Installed(), Update()});
    EXPECT_EQ(result.fExitCode, 2);
    EXPECT_EQ(Manifest(Installed()), oldManifest);
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(),
                            [&](const std::string& message) {
                                return message.find("'" + socketPath + "' could not be copied") !=
                                       std::string::npos;
                            }))
        << ::testing::PrintToString(messages);
    // Every error line is a sentence, not a bare code.
    for (const std::string& message : messages)
    {
        EXPECT_EQ(message.find("Error code:"), std::string::npos) << message;
    }
}

// Relative paths are taken from the updater's working folder, not the caller's (an empty one is
// refused by the command line: see the command-line tests).
TEST_F(UpdaterProcess, RelativePathsResolveAgainstTheWorkingFolder)
{
    fWorkingFolder = fRoot + "/home";
    const UpdaterResult result = Run({"--pid={pid}", "--caller-log=1", "--log-dir=../logs",
                                      "../Apps/./Hello.app", "../data/../New/Hello.app/"});
    EXPECT_EQ(result.fExitCode, 0) << ReadWholeFile(fRoot + "/records/stderr.txt");
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    EXPECT_EQ(BundleVersion(Trashed("Hello_old0001.app")), "1.0");
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
    EXPECT_FALSE(result.fLog.empty()) << "no log file in " << Logs();
}

// Two runs started together on one installed bundle: exactly one installs and restarts, the other
// finds the install location taken and fails having changed nothing, for the same new bundle and
// for two different ones. Twenty rounds, shared out among shards of two, one test each, so that
// each stays short on a slow machine and the shards run side by side.
constexpr int kTwoRunsShards = 10;
constexpr int kTwoRunsRoundsPerShard = 2;

class UpdaterTwoRuns : public UpdaterProcess, public ::testing::WithParamInterface<int>
{
};

TEST_P(UpdaterTwoRuns, AtOnceOnOneBundleLetOneWin)
{
    fs::copy(HELLO_2_BUNDLE, fRoot + "/New/Other.app", fs::copy_options::recursive);
    {
        const std::string plistPath = fRoot + "/New/Other.app/Contents/Info.plist";
        std::string plist = ReadWholeFile(plistPath);
        const size_t key = plist.find("CFBundleShortVersionString");
        const size_t at = plist.find("2.0", key);
        ASSERT_NE(at, std::string::npos);
        plist.replace(at, 3, "3.0");
        std::ofstream(plistPath, std::ios::trunc) << plist;
    }
    const std::string newBundles[2][2] = {{Update(), Update()}, {Update(), fRoot + "/New/Other.app"}};
    for (int round = GetParam() * kTwoRunsRoundsPerShard; round < (GetParam() + 1) * kTwoRunsRoundsPerShard;
         ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string* bundles = newBundles[round % 2];
        const std::string oldManifest = Manifest(fRoot + "/Apps/Hello.app");
        std::error_code ignored;
        fs::remove(fRoot + "/Apps/hello-marker.txt", ignored);
        fs::remove_all(Logs(), ignored);

        // Both wait for one caller; the run that holds the lock waits for it, the other must end
        // on its own, and only then does the caller quit: the two runs overlap however slow the
        // machine.
        pid_t caller = -1;
        const char* sleepArgs[] = {"/bin/sleep", "600", nullptr};
        ASSERT_EQ(
            ::posix_spawn(&caller, "/bin/sleep", nullptr, nullptr, const_cast<char**>(sleepArgs), environ),
            0);
        pid_t pids[2];
        for (int i = 0; i < 2; ++i)
        {
            pids[i] = Spawn({"--silent", "--pid=" + std::to_string(caller),
                             "--log-dir=" + Logs() + "/" + std::to_string(i), Installed(), bundles[i]});
        }
        int codes[2] = {-1, -1};
        int first = -1;
        const auto deadline = DeadlineIn(std::chrono::seconds(50));
        while (first < 0 && std::chrono::steady_clock::now() < deadline)
        {
            for (int i = 0; i < 2 && first < 0; ++i)
            {
                int status = 0;
                if (::waitpid(pids[i], &status, WNOHANG) == pids[i])
                {
                    codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                    first = i;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(caller, SIGTERM);
        int callerStatus = 0;
        ::waitpid(caller, &callerStatus, 0);
        ASSERT_GE(first, 0) << "neither run ended while the caller ran";
        {
            int status = 0;
            ASSERT_TRUE(WaitForExit(pids[1 - first], status, std::chrono::seconds(50)));
            codes[1 - first] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ASSERT_EQ(std::count(codes, codes + 2, 0), 1) << codes[0] << " " << codes[1];
        const int winner = codes[0] == 0 ? 0 : 1;
        EXPECT_EQ(codes[1 - winner], 2);
        EXPECT_EQ(Manifest(Installed()), Manifest(bundles[winner]));
        EXPECT_TRUE(StagingLeftIn(fRoot + "/Apps").empty());
        ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
        EXPECT_EQ(StartedHelloPids().size(), 1U);
        for (pid_t pid : StartedHelloPids())
        {
            ::kill(pid, SIGTERM);
        }

        UpdaterResult loser;
        const std::string loserLogs = Logs() + "/" + std::to_string(1 - winner);
        for (const auto& entry : fs::directory_iterator(loserLogs, ignored))
        {
            std::ifstream file(entry.path());
            for (std::string line; std::getline(file, line);)
            {
                loser.fLog.push_back(line);
            }
        }
        const std::vector<std::string> messages = UpdaterMessages(loser.fLog);
        EXPECT_NE(FindMessage(messages, "Another update of " + Installed() + " is running"), -1)
            << "exit codes " << codes[0] << " " << codes[1] << ", the other run's log:\n"
            << ::testing::PrintToString(loser.fLog);
        EXPECT_EQ(FindMessage(messages, "Proceeding with"), -1);

        // The next round starts from the old bundle again.
        fs::remove_all(Installed(), ignored);
        fs::copy(HELLO_1_BUNDLE, Installed(), fs::copy_options::recursive);
        ASSERT_EQ(Manifest(Installed()), oldManifest);
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, UpdaterTwoRuns, ::testing::Range(0, kTwoRunsShards));

// The designed minute of waiting, seen from outside: a caller that quits after 45 s is waited for,
// and the update then completes. A shorter limit in the program fails this case. Giving up at the
// limit with nothing touched is checked on the engine (ApplyTests), whose designed limit is checked
// there too; a whole minute here would make this the one case over a minute.
TEST_F(UpdaterProcess, SlowACallerThatQuitsLateIsWaitedFor)
{
    pid_t caller = -1;
    const char* sleepArgs[] = {"/bin/sleep", "45", nullptr};
    ASSERT_EQ(::posix_spawn(&caller, "/bin/sleep", nullptr, nullptr, const_cast<char**>(sleepArgs), environ),
              0);
    const auto start = std::chrono::steady_clock::now();
    const UpdaterResult result =
        Run({"--pid=" + std::to_string(caller), "--silent", "--log-dir=" + Logs(), Installed(), Update()});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    int status = 0;
    ::waitpid(caller, &status, 0);
    EXPECT_GE(elapsed, std::chrono::seconds(45));
    EXPECT_EQ(result.fExitCode, 0) << ReadWholeFile(fRoot + "/records/stderr.txt");
    EXPECT_EQ(BundleVersion(Installed()), "2.0");
    const std::vector<std::string> messages = UpdaterMessages(result.fLog);
    EXPECT_NE(FindMessage(messages, "Process " + std::to_string(caller) + " has quit. Proceeding."), -1)
        << ::testing::PrintToString(messages);
    EXPECT_EQ(FindMessage(messages, "External process wait failed"), -1);
    ASSERT_TRUE(WaitForFile(fRoot + "/Apps/hello-marker.txt"));
}

// ---------------------------------------------------------------------------------------------
// Data at stake: runs cut short or starved at every step that touches the disk
// ---------------------------------------------------------------------------------------------

// The updater copy's opener only records that it ran, so that no application is left running.
// After each cut the installed bundle must be whole (version 1.0 or 2.0, byte for byte), the old
// tree must still exist somewhere (in place, as a backup, as a staging folder or in the Trash),
// and a second run with the same arguments must complete the update.
class UpdaterCrash : public UpdaterProcess
{
protected:
    void SetUp() override
    {
        UpdaterProcess::SetUp();
        const std::string copy = fRoot + "/Updater.app";
        fs::copy(UPDATER_BUNDLE, copy, fs::copy_options::recursive);
        fs::remove(copy + "/Contents/MacOS/zq-open");
        WriteScript(copy + "/Contents/MacOS/zq-open", "#!/bin/sh\ntouch '" + fRoot + "/records/opened'\n");
        fUpdater = copy + "/Contents/MacOS/updater";
        fOld = Manifest(Installed());
        fNew = Manifest(Update());
    }

    std::vector<std::string> Arguments() const
    {
        return {"--silent", "--log-dir=" + Logs(), Installed(), Update()};
    }

    // Where each item beside the installed bundle and in the Trash holds the old tree.
    bool OldTreeExistsSomewhere() const
    {
        std::vector<std::string> places{Installed()};
        std::error_code error;
        for (const std::string& folder : {fRoot + "/Apps", fRoot + "/data/Trash/files"})
        {
            for (const auto& entry : fs::directory_iterator(folder, error))
            {
                places.push_back(entry.path().string());
            }
        }
        return std::any_of(places.begin(), places.end(),
                           [&](const std::string& place) { return Manifest(place) == fOld; });
    }

    // The checks after a cut run, then the second run, then version 1.0 back in place.
    void ExpectWholeAndCompletedByASecondRun()
    {
        const std::string installed = Manifest(Installed());
        EXPECT_TRUE(installed == fOld || installed == fNew) << "the installed bundle is partial or missing";
        EXPECT_TRUE(OldTreeExistsSomewhere()) << "the old bundle is lost";
        const UpdaterResult second = Run(Arguments());
        EXPECT_EQ(second.fExitCode, 0) << ReadWholeFile(fRoot + "/records/stderr.txt");
        EXPECT_EQ(Manifest(Installed()), fNew);
        ReinstallTheOldBundle();
    }

    // Version 1.0 alone in place again, with an empty Trash and no log.
    void ReinstallTheOldBundle()
    {
        std::error_code ignored;
        fs::remove_all(fRoot + "/Apps", ignored);
        fs::remove_all(fRoot + "/data", ignored);
        fs::remove_all(Logs(), ignored);
        fs::create_directories(fRoot + "/Apps");
        fs::create_directories(fRoot + "/data");
        fs::copy(HELLO_1_BUNDLE, Installed(), fs::copy_options::recursive);
    }

    std::string fOld;
    std::string fNew;
};

#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "a data test, with runs too slow under ThreadSanitizer"
#else
#define SKIP_UNDER_THREAD_SANITIZER() (void)0
#endif

// The cuts at every call are shared out among shards, one test each, so that each shard stays
// short on a slow machine and the shards run side by side: shard k takes the k-th cut of every
// kCutShards. Each shard counts the calls of a whole run; the first also checks that run.
constexpr int kCutShards = 8;

class UpdaterCrashCuts : public UpdaterCrash, public ::testing::WithParamInterface<int>
{
};

TEST_P(UpdaterCrashCuts, KilledBeforeAndAfterEveryCallThatTouchesTheDisk)
{
    SKIP_UNDER_THREAD_SANITIZER();
    const int shard = GetParam();
    // How many calls of each function a whole run makes.
    const std::string counts = fRoot + "/records/counts.txt";
    const UpdaterResult clean = Run(Arguments(), Shim({"FAULTSHIM_COUNT_FILE=" + counts}));
    ASSERT_EQ(clean.fExitCode, 0);
    std::map<std::string, int> calls;
    std::ifstream countFile(counts);
    std::string name;
    int count = 0;
    while (countFile >> name >> count)
    {
        calls[name] = count;
    }
    ASSERT_GT(calls["renameat2"], 0);
    if (shard == 0)
    {
        ExpectWholeAndCompletedByASecondRun();
    }
    else
    {
        ReinstallTheOldBundle();
    }

    int index = 0;
    int cuts = 0;
    for (const auto& [function, total] : calls)
    {
        for (const char* when : {"before", "after"})
        {
            for (int call = 1; call <= total; ++call)
            {
                if (index++ % kCutShards != shard)
                {
                    continue;
                }
                SCOPED_TRACE(function + " #" + std::to_string(call) + " " + when);
                const UpdaterResult cut =
                    Run(Arguments(),
                        Shim({"FAULTSHIM_FUNCTION=" + function, "FAULTSHIM_CALL=" + std::to_string(call),
                              std::string("FAULTSHIM_WHEN=") + when, "FAULTSHIM_ACTION=kill"}));
                EXPECT_EQ(cut.fExitCode, 128 + SIGKILL);
                ExpectWholeAndCompletedByASecondRun();
                ++cuts;
                if (HasFailure())
                {
                    return;
                }
            }
        }
    }
    EXPECT_GT(index, 10) << "fewer calls than a whole run makes";
    EXPECT_GE(cuts, index / kCutShards);
}

INSTANTIATE_TEST_SUITE_P(Shards, UpdaterCrashCuts, ::testing::Range(0, kCutShards));

// SIGKILL at a random moment shortly after the copy into the staging folder began.
// Five shards of six rounds, run side by side, so that each stays short on a slow machine.
class UpdaterCrashRandomKills : public UpdaterCrash, public ::testing::WithParamInterface<int>
{
};

TEST_P(UpdaterCrashRandomKills, KilledAtRandomDuringTheSwap)
{
    SKIP_UNDER_THREAD_SANITIZER();
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 4; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const int delayMs = std::uniform_int_distribution<int>(0, 50)(random);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, (fRoot + "/Apps").c_str(), IN_CREATE | IN_MOVED_TO), 0);
        std::thread killer;
        const UpdaterResult cut =
            Run(Arguments(), {}, 0, true,
                [&](pid_t inUpdater)
                {
                    killer = std::thread(
                        [=]
                        {
                            WaitForStaging(watch, std::chrono::seconds(20));
                            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                            ::kill(inUpdater, SIGKILL);
                        });
                });
        killer.join();
        ::close(watch);
        ExpectWholeAndCompletedByASecondRun();
        if (HasFailure())
        {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, UpdaterCrashRandomKills, ::testing::Range(0, 5));

// Quit signals during the copy: a SIGTERM, and two SIGQUITs (the second of which ends the process
// at once).
TEST_F(UpdaterCrash, QuitSignalsDuringTheCopy)
{
    struct Row
    {
        const char* fWhat;
        std::vector<int> fSignals;
    };
    const std::vector<Row> rows = {{"SIGTERM", {SIGTERM}}, {"SIGQUIT twice", {SIGQUIT, SIGQUIT}}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, (fRoot + "/Apps").c_str(), IN_CREATE | IN_MOVED_TO), 0);
        std::thread signaller;
        Run(Arguments(), {}, 0, true,
            [&](pid_t inUpdater)
            {
                signaller = std::thread(
                    [=, signals = row.fSignals]
                    {
                        WaitForStaging(watch, std::chrono::seconds(20));
                        for (int signal : signals)
                        {
                            ::kill(inUpdater, signal);
                        }
                    });
            });
        signaller.join();
        ::close(watch);
        ExpectWholeAndCompletedByASecondRun();
    }
}

// No room, or no right, to write beside the installed bundle: the run fails before the swap with
// the old bundle intact and no staging folder left.
TEST_F(UpdaterCrash, NoSpaceLeftFailsWithTheOldBundleIntact)
{
    SKIP_UNDER_THREAD_SANITIZER();
    const UpdaterResult result =
        Run(Arguments(),
            Shim({"FAULTSHIM_FUNCTION=copy_file_range", "FAULTSHIM_CALL=1", "FAULTSHIM_ACTION=ENOSPC"}));
    EXPECT_EQ(result.fExitCode, 2);
    EXPECT_EQ(Manifest(Installed()), fOld);
    EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
    ExpectWholeAndCompletedByASecondRun();
}

TEST_F(UpdaterCrash, AFullFileSystemFailsWithTheOldBundleIntact)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    // A tmpfs holding the installed bundle with 1 MiB to spare, then filled up but for 64 KiB.
    const std::string mount = fRoot + "/small";
    fs::create_directory(mount);
    uintmax_t bundleBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(HELLO_1_BUNDLE))
    {
        bundleBytes += entry.is_regular_file() ? (entry.file_size() + 4095) / 4096 * 4096 + 4096 : 4096;
    }
    const std::string size = "size=" + std::to_string(bundleBytes / 1024 + 1024) + "k";
    const std::string command = "mount -t tmpfs -o " + size + " tmpfs '" + mount + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
    {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    struct Unmount
    {
        std::string fMount;
        ~Unmount() { (void)std::system(("umount '" + fMount + "'").c_str()); }
    } unmount{mount};
    const std::string installed = mount + "/Hello.app";
    fs::copy(HELLO_1_BUNDLE, installed, fs::copy_options::recursive);
    const fs::space_info space = fs::space(mount);
    {
        std::ofstream filler(mount + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (uintmax_t written = 0; written + 65536 < space.available; written += block.size())
        {
            filler << block;
        }
    }
    const std::string old = Manifest(installed);
    const UpdaterResult result = Run({"--silent", "--log-dir=" + Logs(), installed, Update()});
    EXPECT_EQ(result.fExitCode, 2);
    EXPECT_EQ(Manifest(installed), old);
    EXPECT_EQ(StagingLeftIn(mount), std::vector<std::string>{});
    // Room for both versions: the second run completes the update.
    fs::remove(mount + "/filler");
    const std::string grow =
        "mount -o remount,size=" + std::to_string(bundleBytes * 3 / 1024 + 1024) + "k '" + mount + "'";
    ASSERT_EQ(std::system(grow.c_str()), 0);
    const UpdaterResult second = Run({"--silent", "--log-dir=" + Logs(), installed, Update()});
    EXPECT_EQ(second.fExitCode, 0);
    EXPECT_EQ(Manifest(installed), fNew);
}

TEST_F(UpdaterCrash, AReadOnlyParentFailsWithTheOldBundleIntact)
{
    // Root writes anywhere whatever the modes: the updater then runs as "nobody", for whom the
    // folder of the installed bundle is read-only.
    const uid_t user = ::geteuid() == 0 ? 65534 : 0;
    ::chmod((fRoot + "/Apps").c_str(), 0555);
    for (const char* folder : {"records", "data"})
    {
        ::chmod((fRoot + "/" + folder).c_str(), 0777);
    }
    fs::create_directory(Logs());
    ::chmod(Logs().c_str(), 0777);
    const UpdaterResult result = Run(Arguments(), {}, user);
    EXPECT_EQ(result.fExitCode, 2) << ReadWholeFile(fRoot + "/records/stderr.txt");
    EXPECT_EQ(Manifest(Installed()), fOld);
    EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
    ::chmod((fRoot + "/Apps").c_str(), 0755);
    ExpectWholeAndCompletedByASecondRun();
}

} // namespace
} // namespace zorn::test
