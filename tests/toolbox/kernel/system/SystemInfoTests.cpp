#include "tests/TestTime.h"
#include "toolbox/kernel/linux/XLinuxSystem.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zorn
{
namespace
{

// The first line a command prints.
std::string CommandOutput(const char* inCommand)
{
    std::string output;
    if (FILE* pipe = ::popen(inCommand, "r"))
    {
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output.substr(0, output.find('\n'));
}

bool Contains(const std::vector<int32_t>& inPIDs, pid_t inPID)
{
    return std::find(inPIDs.begin(), inPIDs.end(), inPID) != inPIDs.end();
}

TEST(SystemInfoTests, EveryMacOSVersionIsReached)
{
    for (int32_t version : {0, 10, 11, 22, 23, 1000})
    {
        EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(version)) << version;
    }
}

TEST(SystemInfoTests, OSTextsComeFromTheSystem)
{
    VString version;
    VSystem::GetOSVersionString(version);
    std::string versionText = to_string(version);
    EXPECT_FALSE(versionText.empty());
    EXPECT_EQ(versionText.find("macOS"), std::string::npos);
    VString full;
    VSystem::GetFullOSName(full);
    std::string release = CommandOutput("uname -r");
    EXPECT_EQ(to_string(full).rfind(versionText + " " + release + " (", 0), 0u) << to_string(full);
    VString build;
    VSystem::GetSystemBuildNumber(build);
    EXPECT_EQ(to_string(build), CommandOutput("uname -v"));
    EXPECT_GE(VSystem::MAC_GetSystemVersionDecimal(), 20000); // a kernel 2.x or later
}

TEST(SystemInfoTests, ProcessorTextIsCompactAndKept)
{
    VString text;
    VSystem::GetProcessorTypeString(text, true);
    std::string compact = to_string(text);
    ASSERT_FALSE(compact.empty());
    EXPECT_EQ(compact.find("  "), std::string::npos) << compact;
    EXPECT_NE(compact.front(), ' ');
    EXPECT_NE(compact.back(), ' ');
    // The first call's text serves every later call.
    VSystem::GetProcessorTypeString(text, false);
    EXPECT_EQ(to_string(text), compact);
    EXPECT_GE(VSystem::GetNumberOfPhysicalProcessors(), 1);
    EXPECT_LE(VSystem::GetNumberOfPhysicalProcessors(), VSystem::GetNumberOfLogicalProcessors());
}

TEST(SystemInfoTests, CPUInfoReaders)
{
    const std::string twoCoresFourThreads =
        "processor\t: 0\nmodel name\t:   Some  CPU @ 2.0GHz  \nphysical id\t: 0\n"
        "core id\t\t: 0\n\n"
        "processor\t: 1\nmodel name\t: other\nphysical id\t: 0\ncore id\t\t: 1\n\n"
        "processor\t: 2\nphysical id\t: 0\ncore id\t\t: 0\n\n"
        "processor\t: 3\nphysical id\t: 0\ncore id\t\t: 1\n";
    EXPECT_EQ(XLinuxSystem::ParseCPUModelName(twoCoresFourThreads), "Some  CPU @ 2.0GHz");
    EXPECT_EQ(XLinuxSystem::CountPhysicalCores(twoCoresFourThreads), 2);
    // Core 0 of a second package is another core.
    EXPECT_EQ(
        XLinuxSystem::CountPhysicalCores("physical id : 0\ncore id : 0\n\nphysical id : 1\ncore id : 0\n"),
        2);
    // Files that do not say.
    EXPECT_EQ(XLinuxSystem::ParseCPUModelName("processor : 0\nmodel name_x : no\nBogoMIPS : 50\n"), "");
    EXPECT_EQ(XLinuxSystem::CountPhysicalCores("processor : 0\nprocessor : 1\n"), 0);
}

TEST(SystemInfoTests, OSReleaseReader)
{
    struct Case
    {
        const char* fText;
        const char* fValue;
    };
    const Case cases[] = {
        {"NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='single quoted \\n as is'", "single quoted \\n as is"},
        {"PRETTY_NAME=Plain", "Plain"},
        {"PRETTY_NAME=\"say \\\"hi\\\" \\\\ \\$HOME\"", "say \"hi\" \\ $HOME"},
        {"# PRETTY_NAME=comment\nPRETTY_NAME_X=other\nXPRETTY_NAME=other\n", ""},
        {"PRETTY_NAME=\"unterminated", "\"unterminated"},
        {"PRETTY_NAME=", ""},
        {"", ""},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(XLinuxSystem::ParseOSReleaseValue(c.fText, "PRETTY_NAME"), c.fValue) << c.fText;
    }
}

TEST(SystemInfoTests, ProcessStateIsReadAfterTheLastParenthesis)
{
    struct Case
    {
        const char* fLine;
        char fState;
    };
    const Case cases[] = {
        {"42 (sleep) S 1 42 42 0 -1", 'S'},
        {"42 (a) Z (b) R 1 42", 'R'}, // the command name holds ") Z ("
        {"42 (x)) Z) S 1", 'S'},      // and parentheses of its own
        {"42 (a b) Z", 'Z'},          // the line may end after the state
        {"42 (sleep)", 0},            // no state
        {"42 (sleep)S 1", 0},         // no blank before it
        {"42 (sleep) SS 1", 0},       // not one letter
        {"42 sleep S 1", 0},          // no parenthesis
        {"", 0},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(XLinuxSystem::ParseProcessState(c.fLine), c.fState) << c.fLine;
    }
}

TEST(SystemInfoTests, ProcessesFromListToReaping)
{
    pid_t child = -1;
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, sleepPath, nullptr, nullptr, argv, environ), 0);

    std::vector<int32_t> pids{-5, -6};
    VSystem::GetProcessList(pids);
    ASSERT_GE(pids.size(), 4u);
    EXPECT_EQ(pids[0], -5);
    EXPECT_EQ(pids[1], -6);
    EXPECT_TRUE(Contains(pids, ::getpid()));
    EXPECT_TRUE(Contains(pids, child));

    VString name;
    EXPECT_TRUE(VSystem::GetProcessName(child, name));
    EXPECT_EQ(to_string(name), "sleep");
    VString path;
    EXPECT_TRUE(VSystem::GetProcessPath(child, path));
    EXPECT_EQ(to_string(path), CommandOutput("readlink -f /bin/sleep"));

    VSystem::EWFP_Reason reason{};
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::EWFP_NotEnded);
    EXPECT_FALSE(VSystem::IsProcessZombie(child));

    EXPECT_FALSE(VSystem::KillProcess(0));
    EXPECT_TRUE(VSystem::KillProcess(child));
    auto deadline = test::DeadlineIn(std::chrono::seconds(10));
    while (!VSystem::IsProcessZombie(child) && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Ended and not reaped: still listed, as a zombie.
    EXPECT_TRUE(VSystem::IsProcessZombie(child));
    pids.clear();
    VSystem::GetProcessList(pids);
    EXPECT_TRUE(Contains(pids, child));

    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, &reason));
    pids.clear();
    VSystem::GetProcessList(pids);
    EXPECT_FALSE(Contains(pids, child));
    EXPECT_FALSE(VSystem::IsProcessZombie(child));
    EXPECT_FALSE(VSystem::GetProcessName(child, name));

    // Process 1 is nobody's child here.
    reason = {};
    EXPECT_FALSE(VSystem::WaitForProcess(1, 0, &reason));
    EXPECT_EQ(reason, VSystem::EWFP_NotAChild);
}

TEST(SystemInfoTests, UserAndHostNamesMatchTheSystemTools)
{
    VString user;
    VSystem::GetCurrentUserName(user);
    EXPECT_EQ(to_string(user), CommandOutput("id -un"));
    VString host;
    VSystem::GetHostName(host);
    EXPECT_EQ(to_string(host), CommandOutput("hostname"));
    VString fullName;
    VSystem::GetLoginUserName(fullName);
    EXPECT_FALSE(fullName.IsEmpty());
}

TEST(SystemInfoTests, ClocksMoveForward)
{
    EXPECT_GT(VSystem::GetUptime(), 0.0);
    uint64_t stored = 0;
    uint64_t before = VSystem::GetProfilingCounter(&stored);
    EXPECT_EQ(stored, before);
    VSystem::Delay(20);
    uint64_t after = VSystem::GetProfilingCounter();
    EXPECT_GE(after - before, 20u * VSystem::GetProfilingFrequency() / 1000);
    VSystem::SetCenturyPivotYear(1950);
    EXPECT_EQ(VSystem::GetCenturyPivotYear(), 1950);
    VSystem::SetCenturyPivotYear(0);
}

} // namespace
} // namespace zorn
