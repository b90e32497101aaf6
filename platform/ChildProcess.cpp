#include "platform/ChildProcess.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zorn::platform
{

namespace
{

constexpr size_t kMaxCandidateLength = 1024;

bool IsExecutableFile(const std::string& inPath)
{
    struct stat info;
    if (::stat(inPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    {
        return false;
    }
    if (info.st_uid == ::geteuid())
    {
        return (info.st_mode & S_IXUSR) != 0;
    }
    if (info.st_gid == ::getegid())
    {
        return (info.st_mode & S_IXGRP) != 0;
    }
    return (info.st_mode & S_IXOTH) != 0;
}

// Owns the attributes and file actions of one spawn.
class SpawnPlan
{
public:
    SpawnPlan()
    {
        fAttributesReady = ::posix_spawnattr_init(&fAttributes) == 0;
        fActionsReady = ::posix_spawn_file_actions_init(&fActions) == 0;
    }
    ~SpawnPlan()
    {
        if (fAttributesReady)
        {
            ::posix_spawnattr_destroy(&fAttributes);
        }
        if (fActionsReady)
        {
            ::posix_spawn_file_actions_destroy(&fActions);
        }
    }
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    bool Prepare(const SpawnSettings& inSettings)
    {
        if (!fAttributesReady || !fActionsReady)
        {
            return false;
        }
        sigset_t noSignals;
        sigemptyset(&noSignals);
        sigset_t allSignals;
        sigfillset(&allSignals);
        sigdelset(&allSignals, SIGKILL);
        sigdelset(&allSignals, SIGSTOP);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (inSettings.fNewSession)
        {
            flags |= POSIX_SPAWN_SETSID;
        }
        else if (inSettings.fNewProcessGroup)
        {
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        bool ok = ::posix_spawnattr_setsigmask(&fAttributes, &noSignals) == 0 &&
                  ::posix_spawnattr_setsigdefault(&fAttributes, &allSignals) == 0 &&
                  ::posix_spawnattr_setpgroup(&fAttributes, 0) == 0 &&
                  ::posix_spawnattr_setflags(&fAttributes, flags) == 0;
        ok = ok && ::posix_spawn_file_actions_addopen(&fActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0;
        if (inSettings.fStandardOutput >= 0)
        {
            ok = ok && ::posix_spawn_file_actions_adddup2(&fActions, inSettings.fStandardOutput,
                                                          STDOUT_FILENO) == 0;
        }
        else
        {
            ok = ok &&
                 ::posix_spawn_file_actions_addopen(&fActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0;
        }
        ok =
            ok && ::posix_spawn_file_actions_addopen(&fActions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0;
        // Descriptors opened without close-on-exec by any thread (ours or a library's) stay out.
        return ok && ::posix_spawn_file_actions_addclosefrom_np(&fActions, STDERR_FILENO + 1) == 0;
    }

    // glibc's posix_spawn returns only once the child's exec has succeeded or failed, and then
    // returns the exec's error: a pid means the program runs.
    pid_t Spawn(const std::string& inProgram, const std::vector<std::string>& inArguments, int& outError)
    {
        std::vector<char*> argv;
        argv.reserve(inArguments.size() + 2);
        argv.push_back(const_cast<char*>(inProgram.c_str()));
        for (const std::string& argument : inArguments)
        {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        outError = ::posix_spawn(&pid, inProgram.c_str(), &fActions, &fAttributes, argv.data(), environ);
        return outError == 0 ? pid : -1;
    }

private:
    posix_spawnattr_t fAttributes;
    posix_spawn_file_actions_t fActions;
    bool fAttributesReady = false;
    bool fActionsReady = false;
};

} // namespace

std::string SearchExecutable(std::string_view inName)
{
    if (inName.empty())
    {
        return {};
    }
    std::string name(inName);
    if (name.find('\0') != std::string::npos)
    {
        return {};
    }
    if (name.find('/') != std::string::npos)
    {
        char resolved[PATH_MAX];
        if (::realpath(name.c_str(), resolved) == nullptr || !IsExecutableFile(resolved))
        {
            return {};
        }
        return resolved;
    }
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "";
    while (!folders.empty())
    {
        size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty())
        {
            continue;
        }
        std::string candidate(folder);
        if (candidate.back() != '/')
        {
            candidate += '/';
        }
        candidate += name;
        if (candidate.size() <= kMaxCandidateLength && IsExecutableFile(candidate))
        {
            return candidate;
        }
    }
    return {};
}

pid_t SpawnProgram(const std::string& inProgram, const std::vector<std::string>& inArguments,
                   const SpawnSettings& inSettings, int* outError)
{
    int failure = 0;
    SpawnPlan plan;
    pid_t pid = -1;
    if (inProgram.empty())
    {
        failure = ENOENT;
    }
    else if (!plan.Prepare(inSettings))
    {
        failure = ENOMEM;
    }
    else
    {
        pid = plan.Spawn(inProgram, inArguments, failure);
    }
    if (outError != nullptr)
    {
        *outError = failure;
    }
    return pid;
}

int WaitForChild(pid_t inPid)
{
    int status = 0;
    pid_t result;
    do
    {
        result = ::waitpid(inPid, &status, 0);
    } while (result < 0 && errno == EINTR);
    return result == inPid ? status : -1;
}

void ReapChildInBackground(pid_t inPid)
{
    try
    {
        std::thread([inPid] { WaitForChild(inPid); }).detach();
    }
    catch (...)
    {
        // Without a thread the child is reaped when it has ended already; otherwise it stays a
        // zombie until this process ends, which is all that is lost.
        ::waitpid(inPid, nullptr, WNOHANG);
    }
}

} // namespace zorn::platform
