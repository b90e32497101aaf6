// POSIX back end of the process launcher (see the header): spawning, pipes, reaping and killing.
#include "toolbox/process/posix/XPosixProcessLauncher.h"

#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace zorn
{

namespace
{

constexpr VError kTimedOut = MakeVError(kCOMPONENT_ZORN, 8);
constexpr int kTerminateWaitMs = 5000;

// The bytes of a program path or argument. Arguments are mostly paths, so they cross the system
// boundary as file names do: the units that stand for bytes that are not UTF-8 become those bytes
// again. A text that no byte string gives is sent as UTF-8.
std::string SystemBytes(const VString& inText)
{
    std::string bytes;
    return XLinuxFile::EncodeNameBytes(inText, bytes) ? bytes : to_string(inText);
}

// ---- descriptors ----

void CloseOne(int& ioFd)
{
    if (ioFd >= 0)
    {
        ::close(ioFd);
        ioFd = -1;
    }
}

void ClosePair(int (&ioPipe)[2])
{
    CloseOne(ioPipe[0]);
    CloseOne(ioPipe[1]);
}

// Moves a descriptor above 2 (keeping close-on-exec), so that duplicating the pipes onto 0-2 in
// the child never overwrites another of them; the process may run with a standard stream closed.
bool MoveAboveStandardStreams(int& ioFd)
{
    if (ioFd > 2)
    {
        return true;
    }
    int moved = ::fcntl(ioFd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0)
    {
        return false;
    }
    ::close(ioFd);
    ioFd = moved;
    return true;
}

bool MakePipe(int (&outPipe)[2])
{
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
    {
        outPipe[0] = outPipe[1] = -1;
        return false;
    }
    return MoveAboveStandardStreams(outPipe[0]) && MoveAboveStandardStreams(outPipe[1]);
}

bool SetNonBlocking(int inFd)
{
    int flags = ::fcntl(inFd, F_GETFL);
    return flags >= 0 && ::fcntl(inFd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One non-blocking read: the count, 0 when nothing is ready, -1 at the end or on failure.
int32_t ReadFromPipe(int inFd, char* outBuffer, uint32_t inLength)
{
    VTaskMgr::Yield();
    if (inFd < 0 || outBuffer == nullptr || inLength == 0)
    {
        return -1;
    }
    ssize_t count = ::read(inFd, outBuffer, inLength);
    if (count > 0)
    {
        return static_cast<int32_t>(count);
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    {
        return 0;
    }
    return -1;
}

int PollRetrying(pollfd* ioFds, nfds_t inCount, int inTimeoutMs)
{
    int result;
    do
    {
        result = ::poll(ioFds, inCount, inTimeoutMs);
    } while (result < 0 && errno == EINTR && inTimeoutMs < 0);
    return result;
}

constexpr short kReadable = POLLIN | POLLHUP | POLLERR;

// glibc 2.36 declares the pidfd calls without C linkage for C++: the system calls are made directly.
int OpenPidFd(pid_t inPid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, inPid, 0));
}

int SendSignalToPidFd(int inPidFd, int inSignal)
{
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, inPidFd, inSignal, nullptr, 0));
}

// ---- the program search ----

bool IsRegularFile(const std::string& inPath)
{
    struct stat info;
    return ::stat(inPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// ---- the watch set: children left running by Shutdown, reaped by later starts ----

struct WatchSet
{
    std::mutex fMutex;
    std::set<pid_t> fPids;
};

WatchSet& Watched()
{
    static WatchSet sWatched;
    return sWatched;
}

void ReapWatched()
{
    WatchSet& watched = Watched();
    std::lock_guard<std::mutex> lock(watched.fMutex);
    for (auto it = watched.fPids.begin(); it != watched.fPids.end();)
    {
        pid_t reaped = ::waitpid(*it, nullptr, WNOHANG);
        it = (reaped > 0 || (reaped < 0 && errno == ECHILD)) ? watched.fPids.erase(it) : std::next(it);
    }
}

void WatchChild(pid_t inPid)
{
    WatchSet& watched = Watched();
    std::lock_guard<std::mutex> lock(watched.fMutex);
    watched.fPids.insert(inPid);
}

} // namespace

// ---- helpers of the launcher ----

// Counts the work still running for Shutdown (the exit watch, the asynchronous reader) and sets
// the event given to Notify once the count is back to 0. The event is retained until then, so the
// waiter may let it go as soon as it passes.
class XPosixProcessLauncher::WaitGroup
{
public:
    void Enter()
    {
        std::lock_guard<std::mutex> lock(fMutex);
        ++fCount;
    }
    void Leave()
    {
        VSyncEvent* event = nullptr;
        {
            std::lock_guard<std::mutex> lock(fMutex);
            if (--fCount == 0)
            {
                event = std::exchange(fEvent, nullptr);
            }
        }
        if (event != nullptr)
        {
            event->Unlock();
            event->Release();
        }
    }
    void Notify(VSyncEvent* inEvent)
    {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            if (fCount != 0)
            {
                inEvent->Retain();
                fEvent = inEvent;
                return;
            }
        }
        inEvent->Unlock();
    }

private:
    std::mutex fMutex;
    int fCount = 0;
    VSyncEvent* fEvent = nullptr; // retained while set
};

// Kills the child's group when the time limit passes, unless cancelled first.
class XPosixProcessLauncher::TimeLimit
{
public:
    TimeLimit(int inMilliseconds, std::function<void()> inOnExpiry)
        : fDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(inMilliseconds)),
          fOnExpiry(std::move(inOnExpiry)), fThread([this] { _Run(); })
    {
    }
    ~TimeLimit()
    {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fCancelled = true;
        }
        fCondition.notify_all();
        fThread.join();
    }
    TimeLimit(const TimeLimit&) = delete;
    TimeLimit& operator=(const TimeLimit&) = delete;

private:
    void _Run()
    {
        std::unique_lock<std::mutex> lock(fMutex);
        if (!fCondition.wait_until(lock, fDeadline, [this] { return fCancelled; }))
        {
            fOnExpiry();
        }
    }

    std::chrono::steady_clock::time_point fDeadline;
    std::function<void()> fOnExpiry;
    std::mutex fMutex;
    std::condition_variable fCondition;
    bool fCancelled = false;
    std::thread fThread; // last: it starts once the fields above exist
};

// Reads the output and error pipes on one thread, handing every chunk to its callback, until both
// end or Stop. It owns the two descriptors and closes them when it ends.
class XPosixProcessLauncher::Reader
{
public:
    Reader(int inOutput, int inError, ProcessReadCallback inOnOutput, ProcessReadCallback inOnError,
           WaitGroup& ioGroup)
        : fFds{inOutput, inError}, fCallbacks{std::move(inOnOutput), std::move(inOnError)}, fGroup(ioGroup)
    {
        fGroup.Enter();
        fStop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fStop >= 0)
        {
            try
            {
                fThread = std::thread([this] { _Run(); });
                return;
            }
            catch (const std::system_error&)
            {
            }
        }
        ::syslog(LOG_ERR, "Channel creation failed");
        _Finish();
    }
    ~Reader()
    {
        if (fThread.joinable())
        {
            fThread.join();
        }
        CloseOne(fStop);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Ends the reading at once.
    void Stop()
    {
        if (fStop >= 0)
        {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t written = ::write(fStop, &one, sizeof(one));
        }
    }

private:
    void _Run()
    {
        char chunk[65536];
        while (fFds[0] >= 0 || fFds[1] >= 0)
        {
            pollfd fds[3] = {{fFds[0], POLLIN, 0}, {fFds[1], POLLIN, 0}, {fStop, POLLIN, 0}};
            if (PollRetrying(fds, 3, -1) < 0 || fds[2].revents != 0)
            {
                break;
            }
            for (int i = 0; i < 2; ++i)
            {
                if ((fds[i].revents & kReadable) == 0)
                {
                    continue;
                }
                ssize_t count = ::read(fFds[i], chunk, sizeof(chunk));
                if (count > 0)
                {
                    if (fCallbacks[i])
                    {
                        fCallbacks[i](chunk, static_cast<size_t>(count));
                    }
                }
                else if (count == 0 || (errno != EAGAIN && errno != EINTR))
                {
                    if (count < 0)
                    {
                        ::syslog(LOG_ERR, "Channel handler : %s", std::strerror(errno));
                    }
                    CloseOne(fFds[i]);
                }
            }
        }
        _Finish();
    }

    void _Finish()
    {
        CloseOne(fFds[0]);
        CloseOne(fFds[1]);
        fGroup.Leave();
    }

    int fFds[2];
    ProcessReadCallback fCallbacks[2];
    WaitGroup& fGroup;
    int fStop = -1;
    std::thread fThread;
};

// ---- construction and settings ----

XPosixProcessLauncher::XPosixProcessLauncher() : fTimedOut(std::make_shared<std::atomic<bool>>(false)) {}

XPosixProcessLauncher::~XPosixProcessLauncher()
{
    if (fIsRunning && fPid > 0)
    {
        if (_CheckEnded())
        {
            _EndRun();
        }
        else
        {
            Shutdown(false, false);
        }
    }
    _CloseChannels(false);
    _CancelTimeLimit();
    _ReapKept();
    _CloseAllPipes();
    CloseOne(fPidFd);
}

void XPosixProcessLauncher::SetDefaultDirectory(const std::string& inPosixPath)
{
    fWorkingDirectory = inPosixPath;
}

void XPosixProcessLauncher::SetEnvironmentVariable(const VString& inName, const VString& inValue)
{
    if (!inName.IsEmpty())
    {
        fEnvironment[inName] = inValue;
    }
}

void XPosixProcessLauncher::SetEnvironmentVariables(const EnvVarNamesAndValuesMap& inVariables)
{
    fEnvironment = inVariables;
}

void XPosixProcessLauncher::SetBinaryPath(const VString& inBinaryPath)
{
    fBinaryPath = SystemBytes(inBinaryPath);
    if (fArguments.empty())
    {
        fArguments.push_back(inBinaryPath);
    }
    else
    {
        fArguments[0] = inBinaryPath;
    }
}

void XPosixProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& inCommandLine)
{
    ClearArguments();
    if (inCommandLine.IsEmpty())
    {
        return;
    }
    for (const std::string& piece : SplitCommandLine(to_string(inCommandLine)))
    {
        VString argument;
        argument.FromBlock(piece.data(), piece.size(), CharSet::VTC_UTF_8);
        fArguments.push_back(argument);
    }
    if (!fArguments.empty())
    {
        SetBinaryPath(VString(fArguments[0]));
    }
}

void XPosixProcessLauncher::AddArgument(const VString& inArgument)
{
    if (!inArgument.IsEmpty())
    {
        fArguments.push_back(inArgument);
    }
}

void XPosixProcessLauncher::SetArgumentVector(const VString& inBinaryPath,
                                              const std::vector<VString>& inArguments)
{
    ClearArguments();
    SetBinaryPath(inBinaryPath);
    fArguments.insert(fArguments.end(), inArguments.begin(), inArguments.end());
}

void XPosixProcessLauncher::ClearArguments()
{
    fArguments.clear();
}

// ---- starting ----

int32_t XPosixProcessLauncher::Start()
{
    return Start(fEnvironment);
}

int32_t XPosixProcessLauncher::Start(const EnvVarNamesAndValuesMap& inEnvironment)
{
    if (fPid > 0 && IsRunning())
    {
        return -1; // one child at a time
    }
    // What a previous run left: its time limit, reader, kept child and descriptors.
    _CancelTimeLimit();
    _CloseChannels(true);
    _ReapKept();
    _CloseAllPipes();
    CloseOne(fPidFd);
    fTimedOut->store(false);
    fExitStatus = 0;
    if (!_ResolveBinaryPath())
    {
        return ENOENT; // never a same-named file of the current folder
    }
    return _Spawn(inEnvironment);
}

bool XPosixProcessLauncher::_ResolveBinaryPath()
{
    if (fBinaryPath.find('/') != std::string::npos)
    {
        return true; // a path is used as it stands (a relative one from the working folder)
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr)
    {
        path = std::getenv("path");
    }
    if (path == nullptr || fBinaryPath.empty())
    {
        return false;
    }
    std::string entries(path);
    size_t start = 0;
    while (start <= entries.size())
    {
        size_t end = entries.find(':', start);
        if (end == std::string::npos)
        {
            end = entries.size();
        }
        // An empty entry would mean the current folder: a program is never taken from there.
        if (end > start)
        {
            std::string candidate = entries.substr(start, end - start) + "/" + fBinaryPath;
            if (candidate.size() < PATH_MAX && IsRegularFile(candidate))
            {
                fBinaryPath = candidate;
                return true;
            }
        }
        start = end + 1;
    }
    return false;
}

int32_t XPosixProcessLauncher::_Spawn(const EnvVarNamesAndValuesMap& inEnvironment)
{
    int status[2] = {-1, -1};
    auto failPipes = [&]
    {
        ClosePair(status);
        _CloseAllPipes();
        return -1;
    };
    if (!MakePipe(status))
    {
        return failPipes();
    }
    if (fRedirectStandardInput && !MakePipe(fInput))
    {
        return failPipes();
    }
    if (fRedirectStandardOutput && (!MakePipe(fOutput) || !MakePipe(fError) || !SetNonBlocking(fOutput[0]) ||
                                    !SetNonBlocking(fError[0])))
    {
        return failPipes();
    }

    // The pipes are above 2 and close-on-exec; closing everything from 3 in the child also drops
    // whatever another thread of this process opens meanwhile without close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    int error = 0;
    auto check = [&error](int inResult)
    {
        if (error == 0)
        {
            error = inResult;
        }
    };
    if (fRedirectStandardInput)
    {
        check(::posix_spawn_file_actions_adddup2(&actions, fInput[0], 0));
    }
    if (fRedirectStandardOutput)
    {
        check(::posix_spawn_file_actions_adddup2(&actions, fOutput[1], 1));
        check(::posix_spawn_file_actions_adddup2(&actions, fError[1], 2));
    }
    if (!fWorkingDirectory.empty())
    {
        check(::posix_spawn_file_actions_addchdir_np(&actions, fWorkingDirectory.c_str()));
    }
    check(::posix_spawn_file_actions_addclosefrom_np(&actions, 3));
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    check(::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP));
    check(::posix_spawnattr_setpgroup(&attributes, 0));
    check(::posix_spawnattr_setsigmask(&attributes, &emptyMask));
    if (error != 0)
    {
        ::syslog(LOG_ERR, "init_pipes error");
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        failPipes();
        return error;
    }

    std::vector<std::string> arguments;
    for (const VString& argument : fArguments)
    {
        arguments.push_back(SystemBytes(argument));
    }
    if (arguments.empty())
    {
        arguments.push_back(fBinaryPath);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
    {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    ReapWatched();

    std::vector<std::string> variables;
    for (const auto& [name, value] : inEnvironment)
    {
        if (!name.IsEmpty())
        {
            variables.push_back(to_string(name) + "=" + to_string(value));
        }
    }
    std::vector<char*> envp;
    for (std::string& variable : variables)
    {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    fIsRunning = true;
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, fBinaryPath.c_str(), &actions, &attributes, argv.data(),
                                variables.empty() ? environ : envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    CloseOne(status[1]);
    if (spawned != 0)
    {
        fIsRunning = false;
        failPipes();
        return spawned;
    }
    fPid = pid;
    fNegatedPid = -pid;
    {
        std::lock_guard<std::mutex> lock(fReapMutex);
        fUnreapedPid = pid;
    }
    fPidFd = OpenPidFd(pid);
    CloseOne(fInput[0]);
    CloseOne(fOutput[1]);
    CloseOne(fError[1]);

    // The child's end of the status pipe closes at its exec: the end of file confirms the start.
    char data[4];
    ssize_t count;
    do
    {
        count = ::read(status[0], data, sizeof(data));
    } while (count < 0 && errno == EINTR);
    CloseOne(status[0]);
    if (count != 0)
    {
        return -1;
    }

    if (fWaitTime != 0 && fWaitTime != kNoTimeLimit)
    {
        try
        {
            fTimeLimit = std::make_unique<TimeLimit>(fWaitTime,
                                                     [this, timedOut = fTimedOut]
                                                     {
                                                         timedOut->store(true);
                                                         _SignalGroup(SIGKILL);
                                                     });
        }
        catch (const std::system_error&)
        {
            ::syslog(LOG_ERR, "Group creation failed");
        }
    }
    return 0;
}

void XPosixProcessLauncher::_CloseAllPipes()
{
    ClosePair(fInput);
    ClosePair(fOutput);
    ClosePair(fError);
}

// ---- exchanging data ----

void XPosixProcessLauncher::CloseStandardInput()
{
    CloseOne(fInput[1]);
}

int32_t XPosixProcessLauncher::WriteToChild(const void* inData, uint32_t inLength, bool inCloseAfter)
{
    if (inData == nullptr || !fIsRunning || fInput[1] < 0)
    {
        return -1;
    }
    VTaskMgr::Yield();
    // SIGPIPE is held back in this thread for the write; one that the write raises is taken off,
    // unless one was pending before, so the failure is only the EPIPE result.
    sigset_t pipeSignal;
    sigset_t previousMask;
    sigset_t pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigemptyset(&pending);
    ::sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    ssize_t written = ::write(fInput[1], inData, inLength);
    int writeError = errno;
    if (written < 0 && writeError == EPIPE && !wasPending)
    {
        timespec noWait{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR)
        {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    if (inCloseAfter)
    {
        CloseStandardInput();
    }
    errno = writeError;
    return static_cast<int32_t>(written);
}

int32_t XPosixProcessLauncher::WaitForData()
{
    int pidFd = fIsRunning && fPid > 0 ? fPidFd : -1;
    if (fOutput[0] < 0 && fError[0] < 0 && pidFd < 0)
    {
        return 0;
    }
    pollfd fds[3] = {{fOutput[0], POLLIN, 0}, {fError[0], POLLIN, 0}, {pidFd, POLLIN, 0}};
    if (PollRetrying(fds, 3, -1) <= 0)
    {
        return 0;
    }
    int32_t result = 0;
    if ((fds[0].revents & kReadable) != 0)
    {
        result |= kOutputReadable;
    }
    if ((fds[1].revents & kReadable) != 0)
    {
        result |= kErrorReadable;
    }
    if (fds[2].revents != 0 && _CheckEnded())
    {
        _EndRun();
        result |= kChildGone;
    }
    return result;
}

bool XPosixProcessLauncher::WaitForPipes()
{
    if (fOutput[0] < 0 && fError[0] < 0)
    {
        return false;
    }
    pollfd fds[2] = {{fOutput[0], POLLIN, 0}, {fError[0], POLLIN, 0}};
    return PollRetrying(fds, 2, -1) > 0;
}

int32_t XPosixProcessLauncher::ReadFromChild(char* outBuffer, uint32_t inLength)
{
    return ReadFromPipe(fOutput[0], outBuffer, inLength);
}

int32_t XPosixProcessLauncher::ReadErrorFromChild(char* outBuffer, uint32_t inLength)
{
    return ReadFromPipe(fError[0], outBuffer, inLength);
}

int32_t XPosixProcessLauncher::ReadFromChildAndShutdown(ProcessReadCallback inOutput,
                                                        ProcessReadCallback inError)
{
    if (fGroup == nullptr)
    {
        fGroup = std::make_unique<WaitGroup>();
    }
    _CloseChannels(true);
    if (fOutput[0] >= 0 || fError[0] >= 0)
    {
        fReader =
            std::make_unique<Reader>(fOutput[0], fError[0], std::move(inOutput), std::move(inError), *fGroup);
        fOutput[0] = -1;
        fError[0] = -1;
    }
    return Shutdown(false, false);
}

void XPosixProcessLauncher::_CloseChannels(bool inStopAtOnce)
{
    if (fReader != nullptr)
    {
        if (inStopAtOnce)
        {
            fReader->Stop();
        }
        fReader.reset();
    }
}

// ---- the child's end ----

bool XPosixProcessLauncher::_CheckEnded()
{
    std::lock_guard<std::mutex> lock(fReapMutex);
    if (fUnreapedPid == 0)
    {
        return true;
    }
    siginfo_t info;
    std::memset(&info, 0, sizeof(info));
    if (::waitid(P_PID, static_cast<id_t>(fUnreapedPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    {
        // Reaped elsewhere (SIGCHLD ignored): ended, its status lost.
        fExitStatus = -1;
        fUnreapedPid = 0;
        return true;
    }
    if (info.si_pid == 0)
    {
        return false;
    }
    fExitStatus = info.si_code == CLD_EXITED ? (info.si_status & 0xFF) : -127;
    if (!fTreeKill)
    {
        ::waitpid(fUnreapedPid, nullptr, WNOHANG);
        fUnreapedPid = 0;
    }
    return true;
}

void XPosixProcessLauncher::_ReapKept()
{
    std::lock_guard<std::mutex> lock(fReapMutex);
    if (fUnreapedPid != 0 && fPid == 0)
    {
        ::waitpid(fUnreapedPid, nullptr, WNOHANG);
        fUnreapedPid = 0;
    }
}

void XPosixProcessLauncher::_SignalGroup(int inSignal)
{
    std::lock_guard<std::mutex> lock(fReapMutex);
    if (fUnreapedPid != 0)
    {
        ::kill(fNegatedPid, inSignal);
    }
}

void XPosixProcessLauncher::_WaitForExit()
{
    {
        std::lock_guard<std::mutex> lock(fReapMutex);
        if (fUnreapedPid == 0)
        {
            return;
        }
    }
    if (fPidFd >= 0)
    {
        pollfd fd = {fPidFd, POLLIN, 0};
        PollRetrying(&fd, 1, -1);
        return;
    }
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(fPid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR)
    {
    }
}

bool XPosixProcessLauncher::_TerminateWithSignal(int inSignal, int inLimitMs, bool inTreeMode)
{
    int limit = inLimitMs > 0 ? inLimitMs : 30;
    int sent;
    if (inTreeMode)
    {
        std::lock_guard<std::mutex> lock(fReapMutex);
        sent = fUnreapedPid != 0 ? ::kill(fNegatedPid, inSignal) : (errno = ESRCH, -1);
    }
    else
    {
        sent = fPidFd >= 0 ? SendSignalToPidFd(fPidFd, inSignal) : ::kill(fPid, inSignal);
    }
    if (sent != 0)
    {
        return errno == ESRCH;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    while (!_CheckEnded())
    {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
        {
            return _CheckEnded();
        }
        pollfd fd = {fPidFd, POLLIN, 0};
        ::poll(fPidFd >= 0 ? &fd : nullptr, fPidFd >= 0 ? 1 : 0, fPidFd >= 0 ? static_cast<int>(left) : 30);
    }
    return true;
}

void XPosixProcessLauncher::_CancelTimeLimit()
{
    fTimeLimit.reset();
}

void XPosixProcessLauncher::_EndRun()
{
    fPid = 0;
    fIsRunning = false;
    CloseOne(fPidFd);
}

bool XPosixProcessLauncher::IsRunning()
{
    if (!fIsRunning)
    {
        return false;
    }
    if (fPid <= 0)
    {
        return true;
    }
    if (_CheckEnded())
    {
        _EndRun();
        return false;
    }
    return true;
}

int32_t XPosixProcessLauncher::Shutdown(bool inKill, bool inTreeKill)
{
    if (fWaitTime > 0)
    {
        if (fGroup == nullptr)
        {
            fGroup = std::make_unique<WaitGroup>();
        }
        VRefPtr<VSyncEvent> done(new VSyncEvent(), true);
        if (fIsRunning && fPid > 0)
        {
            fGroup->Enter();
            _WaitForExit();
            fGroup->Leave();
        }
        fGroup->Notify(done.Get());
        done->Lock();
        _CloseChannels(false);
    }
    _CancelTimeLimit();
    if (fTimedOut->load())
    {
        _ThrowError(kTimedOut);
    }
    const bool treeMode = inTreeKill && fTreeKill;
    if (!fIsRunning || fPid <= 0)
    {
        if (treeMode)
        {
            _SignalGroup(SIGKILL);
        }
        _ReapKept();
        return 0;
    }
    if (!_CheckEnded())
    {
        _CloseChannels(true);
        CloseOne(fOutput[0]);
        CloseOne(fError[0]);
        CloseOne(fInput[1]);
        if (inKill)
        {
            if (!_TerminateWithSignal(SIGTERM, kTerminateWaitMs, treeMode) &&
                !_TerminateWithSignal(SIGQUIT, kTerminateWaitMs, treeMode))
            {
                _TerminateWithSignal(SIGKILL, kTerminateWaitMs, treeMode);
            }
            _CheckEnded();
        }
        else
        {
            if (treeMode)
            {
                _SignalGroup(SIGKILL);
            }
            if (!_CheckEnded())
            {
                // Left to a later start to reap.
                std::lock_guard<std::mutex> lock(fReapMutex);
                WatchChild(fUnreapedPid);
                fUnreapedPid = 0;
            }
        }
    }
    if (treeMode)
    {
        _SignalGroup(SIGKILL);
    }
    _EndRun();
    _ReapKept();
    return 0;
}

bool XPosixProcessLauncher::KillProcess(int32_t inPid)
{
    return inPid > 0 && ::kill(inPid, SIGTERM) == 0;
}

} // namespace zorn
