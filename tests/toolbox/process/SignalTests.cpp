// Termination signals, in the process of programs/signal_app.cpp (its path comes from the build
// as SIGNAL_APP), started with the launcher.
#include "toolbox/process/VProcessLauncher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace zorn
{
namespace
{

const std::string kApp = SIGNAL_APP;
const std::string kInterruptText = "\n (ctrl-c has been received - quit)\n\n";

std::string Text(const VMemoryBuffer<>& inBuffer)
{
    return std::string(static_cast<const char*>(inBuffer.GetDataPtr()), inBuffer.GetDataSize());
}

// Reads the app's standard output until it holds inText; what was read.
std::string ReadUntil(VProcessLauncher& ioLauncher, const std::string& inText)
{
    std::string seen;
    char buffer[256];
    while (seen.find(inText) == std::string::npos)
    {
        int32_t count = ioLauncher.ReadFromChild(buffer, sizeof(buffer));
        if (count < 0)
        {
            break;
        }
        if (count == 0)
        {
            ioLauncher.WaitForData();
        }
        seen.append(buffer, static_cast<size_t>(count > 0 ? count : 0));
    }
    return seen;
}

// Waits (up to 5 s) until no signal is pending on the process: a process-wide signal may be taken
// by any of its threads, so one sent just before more input could otherwise be handled after it.
void WaitUntilSignalsAreTaken(pid_t inPid)
{
    const std::string path = "/proc/" + std::to_string(inPid) + "/status";
    for (int attempt = 0; attempt < 500; ++attempt)
    {
        std::ifstream status(path);
        std::string line;
        bool pending = false;
        while (std::getline(status, line))
        {
            if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
            {
                pending = pending || line.find_first_not_of("0\t ", 7) != std::string::npos;
            }
        }
        if (!pending)
        {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct AppRun
{
    std::string fOutput;
    std::string fError;
    int32_t fStatus = 0;
};

// Starts the app in the mode, waits for "ready", sends the signals (each after the app announced
// the one before through inAfterEach, when given), then collects everything until it ends.
AppRun SignalApp(const char* inMode, std::initializer_list<int> inSignals, const char* inAfterEach = nullptr,
                 const char* inInput = nullptr)
{
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString(kApp.c_str()));
    launcher.AddArgument(VString(inMode));
    launcher.SetWaitClosingChildProcess(60000); // the watchdog
    AppRun run;
    if (launcher.Start() != 0)
    {
        run.fStatus = 1000;
        return run;
    }
    run.fOutput = ReadUntil(launcher, "ready\n");
    for (int signal : inSignals)
    {
        ::kill(launcher.GetPid(), signal);
        if (inAfterEach != nullptr)
        {
            run.fOutput += ReadUntil(launcher, inAfterEach);
        }
    }
    if (inInput != nullptr)
    {
        WaitUntilSignalsAreTaken(launcher.GetPid());
        launcher.WriteToChild(inInput, static_cast<uint32_t>(std::strlen(inInput)));
    }
    VMemoryBuffer<> output;
    VMemoryBuffer<> error;
    launcher.ReadStd(&output, &error);
    launcher.Shutdown();
    run.fOutput += Text(output);
    run.fError = Text(error);
    run.fStatus = launcher.GetExitStatus();
    return run;
}

TEST(TerminationSignals, QuitThroughTheProcessObject)
{
    struct Case
    {
        const char* fWhat;
        const char* fMode;
        int fSignal;
        std::string fOutput;
        std::string fError;
    };
    const Case cases[] = {
        {"SIGINT prints the text and a blank line before the quit", "normal", SIGINT,
         "ready\n" + kInterruptText + "quit\n", ""},
        {"SIGTERM quits silently", "normal", SIGTERM, "ready\nquit\n", ""},
        {"SIGQUIT quits silently", "normal", SIGQUIT, "ready\nquit\n", ""},
        {"SIGINT with standard output on /dev/null does no harm", "devnull", SIGINT, "ready\n", "quit\n"},
    };
    for (const Case& c : cases)
    {
        AppRun run = SignalApp(c.fMode, {c.fSignal});
        EXPECT_EQ(run.fOutput, c.fOutput) << c.fWhat;
        EXPECT_EQ(run.fError, c.fError) << c.fWhat;
        EXPECT_EQ(run.fStatus, 0) << c.fWhat;
    }
}

TEST(TerminationSignals, ASecondSIGQUITTakesTheDefaultAction)
{
    AppRun run = SignalApp("hold", {SIGQUIT, SIGQUIT}, "quit requested\n");
    EXPECT_EQ(run.fOutput, "ready\nquit requested\n");
    EXPECT_EQ(run.fStatus, -127);
}

TEST(TerminationSignals, ASignalBeforeTheProcessObjectIsIgnored)
{
    AppRun run = SignalApp("early", {SIGINT}, nullptr, "go\n");
    EXPECT_EQ(run.fOutput, "ready\nalive\n");
    EXPECT_EQ(run.fStatus, 0);
}

} // namespace
} // namespace zorn
