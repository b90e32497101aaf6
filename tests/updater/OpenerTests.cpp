// The opener program, run as a process: its failures, and how the program it starts runs.
#include "tests/ChildOutput.h"
#include "tests/FakeProgramSupport.h"
#include "tests/TestTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zorn::test
{
namespace
{

struct RunResult
{
    int fExitCode = -1;
    std::string fOut;
    std::string fErr;
    bool fReachedEnd = false; // both pipes reached end of file
};

// Runs the opener with inArguments, reading its standard output and error until both reach end of
// file, then reaps it.
RunResult RunOpener(const std::vector<std::string>& inArguments)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    {
        return {};
    }
    std::vector<char*> argv{const_cast<char*>(ZQ_OPEN_PROGRAM)};
    for (const std::string& argument : inArguments)
    {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(ZQ_OPEN_PROGRAM, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    RunResult result;
    // Five quiet seconds mean a pipe held open by another process.
    result.fReachedEnd =
        ReadChildOutput(out[0], err[0], result.fOut, result.fErr, test::DeadlineIn(std::chrono::minutes(5)),
                        test::Scaled(std::chrono::seconds(5)));
    int status = 0;
    ::waitpid(child, &status, 0);
    result.fExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class Opener : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFolder = MakeTemporaryFolder();
        ASSERT_FALSE(fFolder.empty());
        fBundle = fFolder + "/Probe.app";
        std::filesystem::create_directories(fBundle + "/Contents/MacOS");
        std::filesystem::copy_file(ZQ_PROBE_PROGRAM, fBundle + "/Contents/MacOS/probe");
    }
    void TearDown() override
    {
        if (std::filesystem::exists(fFolder + "/ready"))
        {
            std::ofstream(fFolder + "/release") << "go";
            WaitForFile(fFolder + "/done");
        }
        std::filesystem::remove_all(fFolder);
    }

    void WriteInfo(const std::string& inExecutableEntry)
    {
        std::ofstream(fBundle + "/Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            << inExecutableEntry << "</dict></plist>\n";
    }

    std::string fFolder;
    std::string fBundle;
};

TEST_F(Opener, FailuresExitOneWithOneLine)
{
    const std::string bundle = "@"; // stands for the fixture's bundle
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fArguments;
        const char* fInfo; // Info.plist's content; nullptr for no file
        const char* fExpected;
    } rows[] = {
        {"no arguments", {}, "<key>CFBundleExecutable</key><string>probe</string>", "usage: "},
        {"not -a", {"-b", bundle}, "<key>CFBundleExecutable</key><string>probe</string>", "usage: "},
        {"-a without a bundle", {"-a"}, "<key>CFBundleExecutable</key><string>probe</string>", "usage: "},
        {"something else than --args",
         {"-a", bundle, "x"},
         "<key>CFBundleExecutable</key><string>probe</string>",
         "usage: "},
        {"no Info.plist", {"-a", bundle}, nullptr, "cannot read "},
        {"Info.plist malformed", {"-a", bundle}, "<key>CFBundleExecutable</key>", "without a value"},
        {"no executable key",
         {"-a", bundle},
         "<key>CFBundleName</key><string>probe</string>",
         "no CFBundleExecutable in "},
        {"a key of another type",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><integer>1</integer>",
         "no CFBundleExecutable in "},
        {"a name that climbs out",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>../../x</string>",
         "CFBundleExecutable is not a plain file name"},
        {"a dot-dot name",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>..</string>",
         "CFBundleExecutable is not a plain file name"},
        {"a symbolic link",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>link</string>",
         "not a regular file: "},
        {"a missing file",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>gone</string>",
         "not a regular file: "},
        {"no execute permission",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>plain</string>",
         "not an executable file: "},
        {"not a program the system runs",
         {"-a", bundle},
         "<key>CFBundleExecutable</key><string>garbage</string>",
         "cannot start "},
    };
    ::symlink((fBundle + "/Contents/MacOS/probe").c_str(), (fBundle + "/Contents/MacOS/link").c_str());
    std::ofstream(fBundle + "/Contents/MacOS/plain") << "#!/bin/sh\n";
    std::ofstream(fBundle + "/Contents/MacOS/garbage") << "\x7f\x45\x4c\x46 not really";
    ::chmod((fBundle + "/Contents/MacOS/garbage").c_str(), 0755);
    for (const Row& row : rows)
    {
        std::filesystem::remove(fBundle + "/Contents/Info.plist");
        if (row.fInfo != nullptr)
        {
            WriteInfo(row.fInfo);
        }
        std::vector<std::string> arguments = row.fArguments;
        for (std::string& argument : arguments)
        {
            argument = argument == bundle ? fBundle : argument;
        }
        const RunResult result = RunOpener(arguments);
        EXPECT_EQ(result.fExitCode, 1) << row.fWhat;
        EXPECT_EQ(result.fOut, "") << row.fWhat;
        EXPECT_EQ(result.fErr.rfind("zq-open: ", 0), 0u) << row.fWhat << ": " << result.fErr;
        EXPECT_NE(result.fErr.find(row.fExpected), std::string::npos) << row.fWhat << ": " << result.fErr;
        EXPECT_TRUE(!result.fErr.empty() && result.fErr.find('\n') == result.fErr.size() - 1)
            << row.fWhat << ": " << result.fErr;
    }
    EXPECT_FALSE(std::filesystem::exists(fFolder + "/ready")) << "nothing was started";
}

TEST_F(Opener, StartsTheProgramDetachedWithItsArgumentsAsGiven)
{
    WriteInfo("<key>CFBundleExecutable</key><string>probe</string>");
    ScopedEnvironmentVariable probeFolder("ZQ_PROBE_DIR", fFolder);
    const std::vector<std::string> given = {"two words", "\"quoted\"", "'single'",           "back\\slash",
                                            "",          "--args",     "\xff\xfe not UTF-8", "-a"};
    std::vector<std::string> arguments = {"-a", fBundle, "--args"};
    arguments.insert(arguments.end(), given.begin(), given.end());

    // The pipes reach end of file although the program keeps running: it holds none of them.
    const RunResult result = RunOpener(arguments);
    EXPECT_EQ(result.fExitCode, 0) << result.fErr;
    EXPECT_TRUE(result.fReachedEnd);
    EXPECT_EQ(result.fOut, "");
    EXPECT_EQ(result.fErr, "");
    ASSERT_TRUE(WaitForFile(fFolder + "/ready"));
    EXPECT_FALSE(std::filesystem::exists(fFolder + "/done")) << "the opener waited for the program";

    EXPECT_EQ(ReadRecordedArguments(fFolder + "/argv"), given);
    std::ifstream report(fFolder + "/report");
    std::string word;
    long pid = 0;
    long sid = 0;
    report >> word >> pid >> word >> sid;
    EXPECT_EQ(sid, pid) << "the program leads a session of its own";
    std::vector<std::string> descriptors;
    for (std::string line; std::getline(report, line);)
    {
        if (!line.empty())
        {
            descriptors.push_back(line);
        }
    }
    EXPECT_EQ(descriptors, (std::vector<std::string>{"fd 0 /dev/null", "fd 1 /dev/null", "fd 2 /dev/null"}));
}

} // namespace
} // namespace zorn::test
