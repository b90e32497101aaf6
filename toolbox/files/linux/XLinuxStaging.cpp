// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxStaging.h"

#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFolderTrail.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace zorn
{

namespace
{

constexpr const char* kMarker = ".partial-";
constexpr size_t kMarkerLength = 9;

// A folder is known by device, inode and birth time (an inode number is reused once a folder is
// gone); "unchanged" means the same modification time as when it was last noted. A leftover made
// within the same clock tick as this process's own last change can be missed until the folder
// changes again; it is only a hidden leftover, never the destination.
class LeftoverWatch
{
public:
    static bool ChangedSinceNoted(int inDir)
    {
        Key key;
        Stamp stamp;
        if (!_Read(inDir, key, stamp))
        {
            return true;
        }
        std::lock_guard<std::mutex> lock(sMutex);
        auto found = sNoted.find(key);
        return found == sNoted.end() || found->second != stamp;
    }

    static void Note(int inDir)
    {
        Key key;
        Stamp stamp;
        if (_Read(inDir, key, stamp))
        {
            std::lock_guard<std::mutex> lock(sMutex);
            sNoted[key] = stamp;
        }
    }

private:
    using Key = std::tuple<uint32_t, uint32_t, uint64_t, int64_t, uint32_t>;
    using Stamp = std::pair<int64_t, uint32_t>;

    static bool _Read(int inDir, Key& outKey, Stamp& outStamp)
    {
        struct statx status = {};
        if (::statx(inDir, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME | STATX_MTIME, &status) != 0 ||
            (status.stx_mask & (STATX_BTIME | STATX_MTIME)) != (STATX_BTIME | STATX_MTIME))
        {
            return false;
        }
        outKey = Key(status.stx_dev_major, status.stx_dev_minor, status.stx_ino, status.stx_btime.tv_sec,
                     status.stx_btime.tv_nsec);
        outStamp = Stamp(status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec);
        return true;
    }

    static inline std::mutex sMutex;
    static inline std::map<Key, Stamp> sNoted;
};

bool IsBusy(int inErrno)
{
    return inErrno == EBUSY || inErrno == ETXTBSY || inErrno == EAGAIN || inErrno == EINTR;
}

bool IsFlagRefused(int inErrno)
{
    return inErrno == EINVAL || inErrno == ENOTSUP || inErrno == EOPNOTSUPP || inErrno == ENOSYS;
}

using Retry = XLinuxStaging::Retry;

// One rename, tried again while the item is busy (XLinuxStaging::Retry).
int Rename(const XLinuxCopyCalls& inCalls, const Retry& inRetry, int inFromDir, const char* inFrom,
           int inToDir, const char* inTo, unsigned int inFlags)
{
    auto pause = std::chrono::milliseconds(10);
    for (int attempt = 1;; ++attempt)
    {
        if (inCalls.fRenameat2(inFromDir, inFrom, inToDir, inTo, inFlags) == 0)
        {
            return 0;
        }
        const int failure = errno;
        if (!IsBusy(failure) || attempt >= inRetry.fAttempts)
        {
            return failure;
        }
        if (inRetry.fBeforeRetry)
        {
            inRetry.fBeforeRetry(attempt);
        }
        else
        {
            std::this_thread::sleep_for(pause);
            pause *= 2;
        }
    }
}

int PlaceWithoutReplacing(const XLinuxCopyCalls& inCalls, const Retry& inRetry, int inFromDir,
                          const char* inFrom, int inToDir, const char* inTo)
{
    int failure = Rename(inCalls, inRetry, inFromDir, inFrom, inToDir, inTo, RENAME_NOREPLACE);
    if (!IsFlagRefused(failure))
    {
        return failure;
    }
    struct stat status = {};
    if (::fstatat(inFromDir, inFrom, &status, AT_SYMLINK_NOFOLLOW) != 0)
    {
        return errno;
    }
    if (!S_ISDIR(status.st_mode))
    {
        // A second name never replaces an existing one.
        if (inCalls.fLinkat(inFromDir, inFrom, inToDir, inTo, 0) == 0)
        {
            ::unlinkat(inFromDir, inFrom, 0);
            return 0;
        }
        if (errno == EEXIST)
        {
            return EEXIST;
        }
    }
    // No hard links either (FAT, exFAT): looked at first, then renamed.
    if (::fstatat(inToDir, inTo, &status, AT_SYMLINK_NOFOLLOW) == 0)
    {
        return EEXIST;
    }
    if (errno != ENOENT)
    {
        return errno;
    }
    return Rename(inCalls, inRetry, inFromDir, inFrom, inToDir, inTo, 0);
}

int Exchange(const XLinuxCopyCalls& inCalls, const Retry& inRetry, int inFromDir, const char* inFrom,
             int inToDir, const char* inTo)
{
    int failure = Rename(inCalls, inRetry, inFromDir, inFrom, inToDir, inTo, RENAME_EXCHANGE);
    if (!IsFlagRefused(failure))
    {
        return failure;
    }
    // Two renames: the old item aside, the new one in, the old one to the staging name.
    // Beside inTo: in its folder when inTo is a path, else in inToDir.
    const std::string to = inTo;
    const size_t slash = to.rfind('/');
    const std::string aside =
        (slash == std::string::npos ? std::string() : to.substr(0, slash + 1)) + XLinuxStaging::MakeName();
    failure = Rename(inCalls, inRetry, inToDir, inTo, inToDir, aside.c_str(), 0);
    if (failure != 0)
    {
        return failure;
    }
    failure = Rename(inCalls, inRetry, inFromDir, inFrom, inToDir, inTo, 0);
    if (failure != 0)
    {
        Rename(inCalls, inRetry, inToDir, aside.c_str(), inToDir, inTo, 0);
        return failure;
    }
    // The new item is in place; an old item left under the aside name goes with the leftovers.
    Rename(inCalls, inRetry, inToDir, aside.c_str(), inFromDir, inFrom, 0);
    return 0;
}

} // namespace

std::string XLinuxStaging::MakeName()
{
    static std::atomic<uint32_t> sCounter{0};
    return kMarker + std::to_string(::getpid()) + "-" + std::to_string(++sCounter);
}

bool XLinuxStaging::IsStagingName(const std::string& inName, pid_t& outPid)
{
    // ".partial-<pid>-<n>", or the older ".<name>.partial-<pid>-<n>".
    const size_t marker = inName.rfind(kMarker);
    if (inName.empty() || inName[0] != '.' || marker == std::string::npos)
    {
        return false;
    }
    char* end = nullptr;
    const long pid = std::strtol(inName.c_str() + marker + kMarkerLength, &end, 10);
    if (pid <= 0 || end == nullptr || *end != '-' || end[1] == '\0' ||
        std::strspn(end + 1, "0123456789") != std::strlen(end + 1) ||
        !std::isdigit(static_cast<unsigned char>(inName[marker + kMarkerLength])))
    {
        return false;
    }
    outPid = static_cast<pid_t>(pid);
    return true;
}

void XLinuxStaging::RemoveLeftovers(int inDir)
{
    if (!LeftoverWatch::ChangedSinceNoted(inDir))
    {
        return;
    }
    std::vector<std::string> names;
    if (XLinuxFolderTrail::ListNames(inDir, names) != 0)
    {
        return;
    }
    for (const std::string& name : names)
    {
        pid_t pid = 0;
        if (IsStagingName(name, pid) && ::kill(pid, 0) != 0 && errno == ESRCH)
        {
            XLinuxCopyEngine::RemoveTreeAt(inDir, name.c_str());
        }
    }
    LeftoverWatch::Note(inDir);
}

void XLinuxStaging::NoteChanged(int inDir)
{
    LeftoverWatch::Note(inDir);
}

int XLinuxStaging::Place(const XLinuxCopyCalls& inCalls, int inFromDir, const char* inFrom, int inToDir,
                         const char* inTo, Placement inPlacement, const Retry* inRetry)
{
    const Retry standard;
    const Retry& retry = inRetry != nullptr ? *inRetry : standard;
    switch (inPlacement)
    {
    case Placement::kNoReplace:
        return PlaceWithoutReplacing(inCalls, retry, inFromDir, inFrom, inToDir, inTo);
    case Placement::kReplace:
        return Rename(inCalls, retry, inFromDir, inFrom, inToDir, inTo, 0);
    case Placement::kExchange:
        return Exchange(inCalls, retry, inFromDir, inFrom, inToDir, inTo);
    }
    return EINVAL;
}

} // namespace zorn
