// The IPC process in a real program (programs/ipc_app.cpp), started from copies of its bundle
// (IPC_APP_BUNDLE, made by the build): start-up in several places, the command line's text under
// two locales, and the quit on SIGTERM.
#include "tests/FakeProgramSupport.h"
#include "tests/TestTime.h"
#include "toolbox/process/VProcessLauncher.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/vfs.h>

namespace zorn
{
namespace
{

using test::ScopedEnvironmentVariable;

constexpr long kTmpfsMagic = 0x01021994;

std::string Hex(const std::string& inBytes)
{
    std::string hex;
    char digits[3];
    for (unsigned char byte : inBytes)
    {
        std::snprintf(digits, sizeof(digits), "%02x", byte);
        hex += digits;
    }
    return hex;
}

std::string Text(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

struct AppRun
{
    std::string fOutput;
    std::string fError; // the app's standard error, shown when a check fails
    int32_t fStatus = -1;
};

// Copies the app's bundle into inFolder (without its resources folder when asked), starts it with
// the argument, waits for "ready", sends SIGTERM and collects what it printed until it ended.
AppRun RunCopy(const std::string& inFolder, bool inWithResources, const std::string& inArgument)
{
    const std::string bundle = inFolder + "/IpcApp.app";
    std::filesystem::copy(IPC_APP_BUNDLE, bundle, std::filesystem::copy_options::recursive);
    if (!inWithResources)
    {
        std::filesystem::remove_all(bundle + "/Contents/Resources");
    }
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString((bundle + "/Contents/MacOS/ipc_app").c_str()));
    VString argument;
    argument.FromBlock(inArgument.data(), inArgument.size(), CharSet::VTC_UTF_8);
    launcher.AddArgument(argument);
    launcher.AddArgument(VString("-psn_0_42"));
    launcher.SetWaitClosingChildProcess(
        static_cast<uint32_t>(test::Scaled(std::chrono::seconds(60)).count()));
    AppRun run;
    if (launcher.Start() != 0)
    {
        return run;
    }
    char buffer[256];
    while (run.fOutput.find("ready\n") == std::string::npos)
    {
        int32_t count = launcher.ReadFromChild(buffer, sizeof(buffer));
        if (count < 0)
        {
            break;
        }
        if (count == 0)
        {
            launcher.WaitForData();
        }
        run.fOutput.append(buffer, static_cast<size_t>(count > 0 ? count : 0));
    }
    ::kill(launcher.GetPid(), SIGTERM);
    VMemoryBuffer<> output;
    VMemoryBuffer<> error;
    launcher.ReadStd(&output, &error);
    launcher.Shutdown();
    run.fOutput += Text(output);
    run.fError = Text(error);
    run.fStatus = launcher.GetExitStatus();
    return run;
}

bool IsTmpfs(const char* inPath)
{
    struct statfs info = {};
    return ::statfs(inPath, &info) == 0 && info.f_type == kTmpfsMagic;
}

// Start-up in bundles at several places; SIGTERM ends the message loop and DoQuit runs.
TEST(IpcProcess, StartsInBundlesAndQuitsOnSIGTERM)
{
    struct Case
    {
        const char* fWhat;
        std::string fParent; // empty: the temporary folder
        bool fWithResources;
    };
    const Case cases[] = {
        {"a bundle with its resources folder", "", true},
        {"a bundle on a case-sensitive tmpfs folder", "/dev/shm", true},
        {"a bundle whose resources folder is missing", "", false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        if (!c.fParent.empty() && !IsTmpfs(c.fParent.c_str()))
        {
            ADD_FAILURE() << c.fParent << " is not a tmpfs here";
            continue;
        }
        std::string folder = c.fParent.empty() ? test::MakeTemporaryFolder() : c.fParent + "/zorn-ipc-XXXXXX";
        if (!c.fParent.empty())
        {
            ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        }
        AppRun run = RunCopy(folder, c.fWithResources, "x");
        EXPECT_EQ(run.fStatus, 0) << run.fOutput << run.fError;
        EXPECT_NE(run.fOutput.find(std::string("resources ") + (c.fWithResources ? "yes" : "no") + "\n"),
                  std::string::npos)
            << run.fOutput;
        EXPECT_NE(run.fOutput.find("ready\nquit\n"), std::string::npos) << run.fOutput;
        std::filesystem::remove_all(folder);
    }
}

// A non-ASCII argument reaches the parse intact whatever the locale; start-up sets the character
// locale from the environment.
TEST(IpcProcess, NonASCIIArgumentsUnderEitherLocale)
{
    const std::string argument = "r\xc3\xa9sum\xc3\xa9-\xe2\x98\x83"; // résumé-☃
    struct Case
    {
        const char* fWhat;
        std::optional<std::string> fLang;
        const char* fLocale;
    };
    const Case cases[] = {
        {"LANG=C.UTF-8", std::string("C.UTF-8"), "C.UTF-8"},
        {"LANG unset", std::nullopt, "C"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ScopedEnvironmentVariable lang("LANG", c.fLang);
        ScopedEnvironmentVariable all("LC_ALL", std::nullopt);
        ScopedEnvironmentVariable ctype("LC_CTYPE", std::nullopt);
        std::string folder = test::MakeTemporaryFolder();
        AppRun run = RunCopy(folder, true, argument);
        EXPECT_EQ(run.fStatus, 0) << run.fOutput << run.fError;
        EXPECT_EQ(run.fOutput.substr(0, run.fOutput.find("resources")),
                  "arg " + Hex(argument) + "\nlocale " + c.fLocale + "\n")
            << "the -psn_ argument is left out";
        std::filesystem::remove_all(folder);
    }
}

} // namespace
} // namespace zorn
