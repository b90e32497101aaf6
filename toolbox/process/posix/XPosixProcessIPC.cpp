// POSIX back end of the process framework: the termination signals (see the header).
#include "toolbox/process/posix/XPosixProcessIPC.h"

#include "toolbox/process/VProcess.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace zorn
{

namespace
{

// The write end of the self-pipe, -1 until the watcher runs. Read by the handler.
std::atomic<int> sSignalPipe{-1};

constexpr char kInterruptText[] = "\n (ctrl-c has been received - quit)\n\n";

void HandleSignal(int inSignal)
{
    const int savedErrno = errno;
    if (VProcess::Get() != nullptr)
    {
        if (inSignal == SIGINT)
        {
            [[maybe_unused]] ssize_t written = ::write(1, kInterruptText, sizeof(kInterruptText) - 1);
        }
        if (inSignal == SIGTERM || inSignal == SIGINT || inSignal == SIGQUIT)
        {
            const unsigned char number = static_cast<unsigned char>(inSignal);
            [[maybe_unused]] ssize_t written =
                ::write(sSignalPipe.load(std::memory_order_relaxed), &number, 1);
        }
    }
    errno = savedErrno;
}

// Held by the watcher while it asks for a quit, and by an object's destruction: the quit's task
// references are released before the process goes on shutting down.
std::mutex sQuitLock;
int sArmed = 0; // live objects whose Init succeeded; the watcher asks for a quit only then

void WatchSignals(int inReadEnd)
{
    unsigned char number;
    for (;;)
    {
        ssize_t count = ::read(inReadEnd, &number, 1);
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            return;
        }
        std::lock_guard<std::mutex> lock(sQuitLock);
        if (sArmed == 0)
        {
            continue;
        }
        if (VProcess* process = VProcess::Get())
        {
            process->QuitAsynchronously(nullptr);
        }
    }
}

// Makes the pipe and starts the watcher once; whether they run.
bool StartWatcher()
{
    static std::once_flag sOnce;
    static bool sRunning = false;
    std::call_once(sOnce,
                   []
                   {
                       int ends[2];
                       if (::pipe2(ends, O_CLOEXEC) != 0)
                       {
                           return;
                       }
                       // A full pipe drops the signal rather than block the handler.
                       ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
                       try
                       {
                           std::thread(WatchSignals, ends[0]).detach();
                       }
                       catch (const std::system_error&)
                       {
                           ::close(ends[0]);
                           ::close(ends[1]);
                           return;
                       }
                       sSignalPipe.store(ends[1]);
                       sRunning = true;
                   });
    return sRunning;
}

} // namespace

XPosixProcessIPC::~XPosixProcessIPC()
{
    if (fArmed)
    {
        std::lock_guard<std::mutex> lock(sQuitLock);
        --sArmed;
    }
}

bool XPosixProcessIPC::Init()
{
    if (!StartWatcher())
    {
        return false;
    }
    struct Setting
    {
        int fSignal;
        int fBlocked[2];
        unsigned int fFlags;
    };
    const Setting settings[] = {
        {SIGTERM, {SIGINT, SIGQUIT}, SA_RESTART},
        {SIGINT, {SIGQUIT, SIGTERM}, SA_RESTART},
        {SIGQUIT, {SIGINT, SIGTERM}, SA_RESTART | SA_RESETHAND},
    };
    for (const Setting& setting : settings)
    {
        struct sigaction action = {};
        action.sa_handler = HandleSignal;
        sigemptyset(&action.sa_mask);
        sigaddset(&action.sa_mask, setting.fBlocked[0]);
        sigaddset(&action.sa_mask, setting.fBlocked[1]);
        action.sa_flags = static_cast<int>(setting.fFlags);
        if (::sigaction(setting.fSignal, &action, nullptr) != 0)
        {
            return false;
        }
    }
    if (!fArmed)
    {
        std::lock_guard<std::mutex> lock(sQuitLock);
        ++sArmed;
        fArmed = true;
    }
    return true;
}

int32_t XPosixProcessIPC::GetSystemID()
{
    return static_cast<int32_t>(::getpid());
}

bool XPosixProcessIPC::IsProcessRunning(int32_t inProcessID)
{
    return ::kill(static_cast<pid_t>(inProcessID), 0) == 0 || errno != ESRCH;
}

} // namespace zorn
