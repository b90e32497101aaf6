// A process with a minimal process object and the termination-signal handlers, for the signal
// tests. It prints "ready" on standard output once the handlers are in place, serves its main
// task's messages until the process is asked to quit, then prints "quit" (its DoQuit). Modes:
//   normal    as above
//   devnull   standard output goes to /dev/null after "ready"; "quit" goes to standard error
//   hold      the process object answers a quit request with "quit requested" and goes on
//   early     the handlers are installed before the process object exists; after "ready" it
//             reads one line of input, then makes the process object, serves messages for
//             300 ms and prints "alive" unless it was asked to quit
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/process/VProcess.h"
#include "toolbox/process/posix/XPosixProcessIPC.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace zorn;

namespace
{
void Say(int inFd, const char* inText)
{
    [[maybe_unused]] ssize_t written = ::write(inFd, inText, std::strlen(inText));
}

class TestProcess : public VProcess
{
public:
    bool fHold = false;
    void QuitAsynchronously(const VString* inReason) override
    {
        if (fHold)
        {
            Say(1, "quit requested\n");
            return;
        }
        VProcess::QuitAsynchronously(inReason);
    }
};
} // namespace

int main(int argc, char** argv)
{
    rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const std::string mode = argc > 1 ? argv[1] : "normal";
    XPosixProcessIPC signals;
    if (mode == "early")
    {
        if (!signals.Init())
        {
            return 2;
        }
        Say(1, "ready\n");
        char line[16];
        if (::read(0, line, sizeof(line)) <= 0)
        {
            return 3;
        }
    }
    auto process = std::make_unique<TestProcess>();
    process->fHold = mode == "hold";
    if (!VTaskMgr::Get()->Init(process.get()))
    {
        return 4;
    }
    if (mode != "early")
    {
        if (!signals.Init())
        {
            return 2;
        }
    }
    int markerFd = 1;
    if (mode == "devnull")
    {
        // Standard output is on /dev/null before "ready" goes out on the original one.
        int original = ::dup(1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
        Say(original, "ready\n");
        ::close(original);
        markerFd = 2;
    }
    else if (mode != "early")
    {
        Say(1, "ready\n");
    }
    VTask* main = VTaskMgr::Get()->GetMainTask();
    int turns = 0;
    while (!main->IsDying())
    {
        main->WaitAndExecuteMessages(100);
        if (mode == "early" && ++turns == 3)
        {
            Say(markerFd, "alive\n");
            break;
        }
    }
    if (main->IsDying())
    {
        Say(markerFd, "quit\n");
    }
    VTaskMgr::Get()->DeInit();
    return 0;
}
