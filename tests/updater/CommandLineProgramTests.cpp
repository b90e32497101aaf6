// The built updater program (UPDATER_PROGRAM, inside the build's Updater.app) run on the command
// lines that end before any update starts: its exit status, exactly what it prints, and that it
// leaves no log file behind.
#include "tests/ChildOutput.h"
#include "tests/FakeProgramSupport.h"
#include "tests/TestTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace zorn::test
{
namespace
{

struct RunResult
{
    int fExitCode = -1; // -1: killed, or did not end in time
    std::string fOut;
    std::string fErr;
};

// Runs the updater in inFolder with inArguments and no display (so no alert can wait for an
// answer), reading its standard output and error until it ends. A program still running after
// 60 s (a command line that was accepted: the run waits for its caller) is killed.
RunResult RunUpdater(const std::string& inFolder, const std::vector<std::string>& inArguments)
{
    RunResult result;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    {
        return result;
    }
    std::vector<char*> argv{const_cast<char*>(UPDATER_PROGRAM)};
    for (const std::string& argument : inArguments)
    {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        if (std::strncmp(*entry, "DISPLAY=", 8) != 0 && std::strncmp(*entry, "WAYLAND_DISPLAY=", 16) != 0)
        {
            envp.push_back(*entry);
        }
    }
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (::chdir(inFolder.c_str()) == 0)
        {
            ::execve(UPDATER_PROGRAM, argv.data(), envp.data());
        }
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    // A child still writing, or still holding its pipes, at the deadline is killed.
    const bool killed = !ReadChildOutput(out[0], err[0], result.fOut, result.fErr,
                                         test::DeadlineIn(std::chrono::seconds(60)));
    if (killed)
    {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.fExitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Everything below inFolder, as paths relative to it.
std::vector<std::string> ListTree(const std::string& inFolder)
{
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(inFolder))
    {
        entries.push_back(std::filesystem::relative(entry.path(), inFolder).string());
    }
    return entries;
}

// Each row runs the program in a fresh folder holding an empty "logs" folder; "@log" in the
// arguments stands for "--log-dir=<that folder>". Afterwards the folder must hold nothing else
// (no log file in the log folder nor in the working folder).
TEST(UpdaterProgram, CommandLinesThatStopBeforeTheRun)
{
    const std::string log = "@log";
    const std::string help = ReadWholeFile(std::string(ZORN_UPDATER_GOLDEN) + "/updater_help.txt");
    ASSERT_FALSE(help.empty());
    const std::string invalidPid = "invalid value for argument '--pid' got ";
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        int fExitCode;
        std::string fOut;
        std::string fErr;
    } rows[] = {
        {"the version, without any bundle",
         {log, "--version"},
         0,
         std::string(ZORN_PROJECT_VERSION) + "\n",
         ""},
        {"the version wins over bundle errors",
         {log, "--version", "/A"},
         0,
         std::string(ZORN_PROJECT_VERSION) + "\n",
         ""},
        {"the help, every option in order", {log, "--help"}, 0, help, ""},
        {"an unknown option", {log, "--bogus", "/A", "/B"}, 1, "", "error: unknown option `bogus`\n"},
        {"no arguments: both bundle lines, the up-to-date one first",
         {},
         1,
         "",
         "mismatched value for option --uptodate-app\n\nmismatched value for option --outdated-app\n\n"},
        {"one positional",
         {log, "/A"},
         1,
         "",
         "not enough arguments from the command line (required <dest> <src>)\n\n"},
        {"three positionals", {log, "/A", "/B", "/C"}, 1, "", "two many arguments from the command line\n"},
        {"an outdated option that the first positional contradicts",
         {log, "--outdated-app=/A", "/B", "/C"},
         1,
         "",
         "mismatched value for option --outdated-app\n\n"},
        {"only the outdated option",
         {log, "--outdated-app=/A"},
         1,
         "",
         "mismatched value for option --uptodate-app\n\n"},
        {"a pid that is no number",
         {log, "--pid", "abc", "/A", "/B"},
         1,
         "",
         invalidPid + "\"abc\" expected a signed integral\n"},
        {"a pid beyond 32 bits is refused, not truncated",
         {log, "--pid=3000000000", "/A", "/B"},
         1,
         "",
         invalidPid + "\"3000000000\" expected a signed integral\n"},
        {"a value given to a flag",
         {log, "--silent=1", "/A", "/B"},
         1,
         "",
         "error: a value for option `silent` is not required\n"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const std::string folder = MakeTemporaryFolder();
        ASSERT_FALSE(folder.empty());
        std::filesystem::create_directory(folder + "/logs");
        std::vector<std::string> arguments;
        for (const std::string& argument : row.fArguments)
        {
            arguments.push_back(argument == log ? "--log-dir=" + folder + "/logs" : argument);
        }
        const RunResult result = RunUpdater(folder, arguments);
        EXPECT_EQ(result.fExitCode, row.fExitCode);
        EXPECT_EQ(result.fOut, row.fOut);
        EXPECT_EQ(result.fErr, row.fErr);
        EXPECT_EQ(ListTree(folder), std::vector<std::string>{"logs"});
        std::filesystem::remove_all(folder);
    }
}

} // namespace
} // namespace zorn::test
