// The process launcher: splitting command lines, and running the small child program of
// programs/launcher_child.cpp (its path comes from the build as LAUNCHER_CHILD).
#include "tests/FakeProgramSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/process/VProcessLauncher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zorn
{
namespace
{

using test::ReadWholeFile;
using test::WaitFor;

const std::string kChild = LAUNCHER_CHILD;

std::string Text(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

std::vector<std::string> Utf8(const std::vector<VString>& inStrings)
{
    std::vector<std::string> result;
    for (const VString& item : inStrings)
    {
        result.push_back(to_string(item));
    }
    return result;
}

// The state letter of /proc/<pid>/stat ('R', 'S', 'T', 'Z'...), 0 when the process is gone.
char ProcessState(pid_t inPid)
{
    std::string stat = ReadWholeFile("/proc/" + std::to_string(inPid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

int CountOpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        ++count;
    }
    return count;
}

// Reads output until it holds inText (the child announces it is ready).
bool ReadUntil(VProcessLauncher& ioLauncher, const std::string& inText)
{
    std::string seen;
    char buffer[256];
    while (seen.find(inText) == std::string::npos)
    {
        int32_t count = ioLauncher.ReadFromChild(buffer, sizeof(buffer));
        if (count < 0)
        {
            return false;
        }
        if (count == 0)
        {
            ioLauncher.WaitForData();
        }
        seen.append(buffer, static_cast<size_t>(std::max(count, 0)));
    }
    return true;
}

TEST(LauncherSplit, CommandLines)
{
    struct Case
    {
        const char* fWhat;
        const char* fLine;
        std::vector<std::string> fArguments;
    };
    const Case cases[] = {
        {"plain words", "ls -l", {"ls", "-l"}},
        {"blanks only", "   ", {}},
        {"tabs are ordinary", "a\tb c", {"a\tb", "c"}},
        {"unterminated quote runs to the end", "x \"a b", {"x", "a b"}},
        {"second character never escapes", "a\\ b", {"a\\", "b"}},
        {"escaped blank from the third character on", "ab\\ c", {"ab c"}},
        {"single-quoted path with a blank", "open -a '/Apps/My App.app'", {"open", "-a", "/Apps/My App.app"}},
        {"escaped blank in a path", "open -a /Apps/My\\ App.app", {"open", "-a", "/Apps/My App.app"}},
        {"other quote inside quotes", "\"it's\" x", {"it's", "x"}},
        {"character glued to a closing quote is lost", "'ab'cd e", {"ab", "d", "e"}},
        {"closing quote at the very end", "'ab'", {"ab"}},
        {"empty quotes", "'' x", {"", "x"}},
        {"escaped quote inside quotes", "\"ab\\\"c\" d", {"ab\"c", "d"}},
        {"trailing backslash removed", "abc\\", {"abc"}},
        {"quotes inside a word are ordinary", "a'b\"c", {"a'b\"c"}},
        {"euro signs, an escape from the third one on",
         "\xE2\x82\xAC\xE2\x82\xAC\\ x",
         {"\xE2\x82\xAC\xE2\x82\xAC x"}},
        {"CJK, second character literal", "\xE6\xBC\xA2\\ \xE5\xAD\x97", {"\xE6\xBC\xA2\\", "\xE5\xAD\x97"}},
        {"glued multibyte character is lost whole",
         "'a'\xE2\x82\xAC"
         "b",
         {"a", "b"}},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(XPosixProcessLauncher::SplitCommandLine(c.fLine), c.fArguments) << c.fWhat;
        // The same through the launcher's own strings (UTF-16 and back).
        VProcessLauncher launcher;
        VString line;
        line.FromBlock(c.fLine, std::strlen(c.fLine), CharSet::VTC_UTF_8);
        launcher.CreateArgumentsFromFullCommandLine(line);
        EXPECT_EQ(Utf8(launcher.GetArguments()), c.fArguments) << c.fWhat;
    }
}

TEST(LauncherSplit, QuotedAddArgumentReachesTheChildWithItsQuotes)
{
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString(kChild.c_str()));
    launcher.AddArgument(VString("args"));
    launcher.AddArgument(VString("x y"), true);
    launcher.AddArgument(VString(""));
    ASSERT_EQ(launcher.Start(), 0);
    VMemoryBuffer<> output;
    launcher.ReadStd(&output, nullptr);
    EXPECT_EQ(launcher.Shutdown(), 0);
    EXPECT_EQ(Text(output), std::string("\"x y\"\0", 6)) << "the empty argument is dropped";
}

TEST(Launcher, FindsTheProgramOnPathAndPassesTheArguments)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString("ls -l"));
    ASSERT_EQ(launcher.Start(), 0);
    VMemoryBuffer<> output;
    launcher.ReadStd(&output, nullptr);
    launcher.Shutdown();
    EXPECT_EQ(launcher.GetExitStatus(), 0);
    EXPECT_EQ(Utf8(launcher.GetArguments()), (std::vector<std::string>{"ls", "-l"}));
    EXPECT_NE(Text(output).find("total"), std::string::npos) << Text(output);
}

TEST(Launcher, ExitStatusEncoding)
{
    struct Case
    {
        const char* fWhat;
        std::vector<VString> fArguments;
        int fSignal; // sent after the start, 0 for none
        int32_t fStatus;
    };
    const Case cases[] = {
        {"exit 0", {VString("exit"), VString("0")}, 0, 0},
        {"exit 3", {VString("exit"), VString("3")}, 0, 3},
        {"exit 255", {VString("exit"), VString("255")}, 0, 255},
        {"killed", {VString("pidfile"), VString("/dev/null"), VString("30000")}, SIGKILL, -127},
    };
    for (const Case& c : cases)
    {
        VProcessLauncher* launcher = nullptr;
        int32_t status = 77;
        ASSERT_EQ(VProcessLauncher::ExecuteArguments(VString(kChild.c_str()), c.fArguments, 0, nullptr,
                                                     nullptr, nullptr, nullptr, nullptr, &status, &launcher),
                  0);
        std::unique_ptr<VProcessLauncher> owned(launcher);
        if (c.fSignal != 0)
        {
            ::kill(launcher->GetPid(), c.fSignal);
        }
        EXPECT_EQ(launcher->Shutdown(), 0);
        EXPECT_EQ(launcher->GetExitStatus(), c.fStatus) << c.fWhat;
    }
}

TEST(Launcher, ExecuteCommandLineReportsStatusAndClearsItOnFailure)
{
    int32_t status = 77;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString((kChild + " exit 3").c_str()), 0, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, &status, nullptr),
              0);
    EXPECT_EQ(status, 3);
    status = 77;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString("/nonexistent/program"), 0, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, &status, nullptr),
              ENOENT);
    EXPECT_EQ(status, 0) << "set on entry, not left stale";
}

TEST(Launcher, ArgumentVectorAndInputReachTheChildAsTheyStand)
{
    VMemoryBuffer<> output;
    int32_t status = 1;
    std::vector<VString> arguments = {VString("args"), VString("a b"), VString(""), VString("'q'"),
                                      VString("\xE2\x82\xAC \xE6\xBC\xA2")};
    // The euro sign and CJK reach the child in UTF-8; empty arguments stay.
    arguments[4].FromBlock("\xE2\x82\xAC \xE6\xBC\xA2", 7, CharSet::VTC_UTF_8);
    ASSERT_EQ(VProcessLauncher::ExecuteArguments(VString(kChild.c_str()), arguments, 0, nullptr, &output,
                                                 nullptr, nullptr, nullptr, &status, nullptr),
              0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Text(output), std::string("a b\0\0'q'\0\xE2\x82\xAC \xE6\xBC\xA2\0", 17));

    // Input is written, then standard input closed, so cat ends.
    VMemoryBuffer<> input;
    input.AddData("fed to cat", 10);
    VMemoryBuffer<> echoed;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString("cat"), 0, &input, &echoed, nullptr, nullptr,
                                                   nullptr, &status, nullptr),
              0);
    EXPECT_EQ(Text(echoed), "fed to cat");
}

TEST(Launcher, WorkingFolderAndEnvironmentReachTheChild)
{
    std::string folder = test::MakeTemporaryFolder();
    VFilePath where(VString((folder + "/").c_str()), FPS_POSIX);
    EnvVarNamesAndValuesMap environment = {{VString("ZORN_ONLY"), VString("\xE2\x82\xAC")}};
    environment.begin()->second.FromBlock("\xE2\x82\xAC", 3, CharSet::VTC_UTF_8);
    VMemoryBuffer<> output;
    int32_t status = 1;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString("sh -c 'pwd;env'"), 0, nullptr, &output, nullptr,
                                                   &environment, &where, &status, nullptr),
              0);
    EXPECT_EQ(status, 0);
    std::string text = Text(output);
    EXPECT_EQ(text.substr(0, folder.size() + 1), folder + "\n");
    EXPECT_NE(text.find("ZORN_ONLY=\xE2\x82\xAC\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("HOME="), std::string::npos) << "the map replaces the process's environment";
    std::filesystem::remove_all(folder);
}

TEST(Launcher, OneMebibyteOnEachStreamIsReadWithoutDeadlock)
{
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString(kChild.c_str()));
    launcher.AddArgument(VString("write"));
    launcher.AddArgument(VString("1048576"));
    // The watchdog: a deadlock would end in the time limit's kill, with short buffers.
    launcher.SetWaitClosingChildProcess(60000);
    ASSERT_EQ(launcher.Start(), 0);
    VMemoryBuffer<> output;
    VMemoryBuffer<> error;
    launcher.ReadStd(&output, &error);
    launcher.Shutdown();
    EXPECT_EQ(output.GetDataSize(), 1048576u);
    EXPECT_EQ(error.GetDataSize(), 1048576u);
    EXPECT_EQ(launcher.GetExitStatus(), 0);

    // With only one buffer the other stream is drained too.
    VMemoryBuffer<> alone;
    int32_t status = 1;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString((kChild + " write 200000").c_str()), 0, nullptr,
                                                   &alone, nullptr, nullptr, nullptr, &status, nullptr),
              0);
    EXPECT_EQ(alone.GetDataSize(), 200000u);
    EXPECT_EQ(status, 0);
}

TEST(Launcher, ReadFromChildAndShutdownDeliversBothStreams)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString((kChild + " write 100000").c_str()));
    ASSERT_EQ(launcher.Start(), 0);
    size_t outputBytes = 0;
    size_t errorBytes = 0;
    EXPECT_EQ(
        launcher.ReadFromChildAndShutdown([&](const char*, size_t inLength) { outputBytes += inLength; },
                                          [&](const char*, size_t inLength) { errorBytes += inLength; }),
        0);
    EXPECT_EQ(outputBytes, 100000u);
    EXPECT_EQ(errorBytes, 100000u);
    EXPECT_EQ(launcher.GetExitStatus(), 0);
}

TEST(Launcher, WritingToAChildThatClosedItsInputFailsWithEPIPE)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString((kChild + " closein").c_str()));
    ASSERT_EQ(launcher.Start(), 0);
    ASSERT_TRUE(ReadUntil(launcher, "closed\n"));
    errno = 0;
    EXPECT_EQ(launcher.WriteToChild("data", 4), -1);
    EXPECT_EQ(errno, EPIPE);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "no SIGPIPE left for later";
    launcher.SetWaitClosingChildProcess(0);
    launcher.Shutdown(true);
    EXPECT_EQ(launcher.GetExitStatus(), -127);
}

TEST(Launcher, DontWaitReturnsAtOnceAndALaterStartReapsTheChild)
{
    std::string folder = test::MakeTemporaryFolder();
    std::string pidFile = folder + "/pid";
    int32_t status = 77;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString((kChild + " pidfile " + pidFile + " 300").c_str()),
                                                   VProcessLauncher::kDontWait, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, &status, nullptr),
              0);
    ASSERT_TRUE(test::WaitForFile(pidFile));
    pid_t pid = 0;
    ASSERT_TRUE(WaitFor([&] { return (pid = std::atoi(ReadWholeFile(pidFile).c_str())) > 0; }));
    EXPECT_NE(ProcessState(pid), 'Z') << "returned before the child ended";
    ASSERT_TRUE(WaitFor([&] { return ProcessState(pid) == 'Z'; })) << "ended, left to be reaped";
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString((kChild + " exit 0").c_str()), 0, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(ProcessState(pid), 0) << "reaped by the later start";
    std::filesystem::remove_all(folder);
}

class LauncherWithTasks : public test::TaskManagerTest
{
};

TEST_F(LauncherWithTasks, TimeLimitKillsTheGroupAndShutdownRaises)
{
    std::string folder = test::MakeTemporaryFolder();
    std::string pidFile = folder + "/grandchild";
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString((kChild + " grandchild " + pidFile).c_str()));
    launcher.SetWaitClosingChildProcess(500);
    ASSERT_EQ(launcher.Start(), 0);
    ASSERT_TRUE(test::WaitForFile(pidFile));
    pid_t grandchild = 0;
    ASSERT_TRUE(WaitFor([&] { return (grandchild = std::atoi(ReadWholeFile(pidFile).c_str())) > 0; }));
    StErrorContextInstaller errors;
    EXPECT_EQ(launcher.Shutdown(), 0);
    EXPECT_EQ(errors.GetLastError(), MakeVError(kCOMPONENT_ZORN, 8));
    EXPECT_EQ(launcher.GetExitStatus(), -127);
    EXPECT_TRUE(WaitFor(
        [&]
        {
            char state = ProcessState(grandchild);
            return state == 0 || state == 'Z';
        }))
        << "the grandchild died with the group";
    std::filesystem::remove_all(folder);
}

TEST(Launcher, KillEscalatesPastAnIgnoredSIGTERM)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString((kChild + " ignoreterm").c_str()));
    ASSERT_EQ(launcher.Start(), 0);
    ASSERT_TRUE(ReadUntil(launcher, "ready\n"));
    launcher.SetWaitClosingChildProcess(0);
    EXPECT_EQ(launcher.Shutdown(true), 0);
    EXPECT_EQ(launcher.GetExitStatus(), -127) << "ended by SIGQUIT";
    EXPECT_FALSE(launcher.IsRunning());
}

TEST(Launcher, AStoppedChildIsStillRunning)
{
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine(VString((kChild + " stop").c_str()));
    ASSERT_EQ(launcher.Start(), 0);
    pid_t pid = launcher.GetPid();
    ASSERT_TRUE(WaitFor([&] { return ProcessState(pid) == 'T'; }));
    EXPECT_TRUE(launcher.IsRunning());
    EXPECT_EQ(launcher.GetPid(), pid);
    ::kill(pid, SIGCONT);
    launcher.Shutdown();
    EXPECT_EQ(launcher.GetExitStatus(), 0);
    EXPECT_EQ(ProcessState(pid), 0) << "reaped";
}

TEST(Launcher, ChildInheritsOnlyTheStandardDescriptors)
{
    int leaky = ::open("/dev/null", O_RDONLY); // not close-on-exec
    ASSERT_GE(leaky, 3);
    VMemoryBuffer<> output;
    int32_t status = 1;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(VString((kChild + " fds").c_str()), 0, nullptr, &output,
                                                   nullptr, nullptr, nullptr, &status, nullptr),
              0);
    ::close(leaky);
    EXPECT_EQ(Text(output), "0 1 2");
}

TEST(Launcher, AProgramInTheWorkingFolderButNotOnPathIsNotRun)
{
    std::string folder = test::MakeTemporaryFolder();
    test::WriteScript(folder + "/zorn-only-here", "#!/bin/sh\nexit 0\n");
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(::chdir(folder.c_str()), 0);
    int32_t bare = VProcessLauncher::ExecuteCommandLine(VString("zorn-only-here"), 0, nullptr, nullptr,
                                                        nullptr, nullptr, nullptr, nullptr, nullptr);
    int32_t dotted = VProcessLauncher::ExecuteCommandLine(VString("./zorn-only-here"), 0, nullptr, nullptr,
                                                          nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(bare, ENOENT);
    EXPECT_EQ(dotted, 0) << "a relative path with '/' is the caller's choice";
    std::filesystem::remove_all(folder);
}

TEST_F(LauncherWithTasks, ManyTasksLaunchingLeakNoDescriptorAndNoZombie)
{
    int before = CountOpenDescriptors();
    std::atomic<int> failures{0};
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < 8; ++t)
    {
        tasks.push_back(NewTask(
            [&failures, t]
            {
                for (int i = 0; i < 200; ++i)
                {
                    VMemoryBuffer<> output;
                    int32_t status = -1;
                    std::string line = kChild + " exit " + std::to_string((t + i) % 7);
                    if (VProcessLauncher::ExecuteCommandLine(VString(line.c_str()), 0, nullptr, &output,
                                                             &output, nullptr, nullptr, &status,
                                                             nullptr) != 0 ||
                        status != (t + i) % 7)
                    {
                        ++failures;
                    }
                }
            }));
        ASSERT_TRUE(tasks.back()->Run());
    }
    for (auto& task : tasks)
    {
        EXPECT_TRUE(task->WaitForDeath(300000));
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(CountOpenDescriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child left, zombie or not";
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
} // namespace zorn
