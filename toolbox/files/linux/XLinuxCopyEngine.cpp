// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxCopyEngine.h"

#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFd.h"
#include "toolbox/files/linux/XLinuxFolderTrail.h"
#include "toolbox/files/linux/XLinuxStaging.h"
#include "toolbox/files/linux/XLinuxVolumes.h"
#include "toolbox/kernel/locks/VSyncEvent.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// ---------------------------------------------------------------------------------------------
// The system calls and their seam
// ---------------------------------------------------------------------------------------------

int SystemFiclone(int inDest, int inSource)
{
    return ::ioctl(inDest, FICLONE, inSource);
}

int SystemOpenat(int inDir, const char* inName, int inFlags, mode_t inMode)
{
    return ::openat(inDir, inName, inFlags, inMode);
}

std::mutex& CallsMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

XLinuxCopyCalls& CurrentCalls()
{
    static XLinuxCopyCalls sCalls = XLinuxCopyEngine::GetSystemCalls();
    return sCalls;
}

// A snapshot of the calls, so that a test swapping them mid-operation changes nothing under way.
XLinuxCopyCalls TakeCalls()
{
    std::lock_guard<std::mutex> lock(CallsMutex());
    return CurrentCalls();
}

using xlinux::Errno;

using StFd = XLinuxFd;

int ListFolder(int inFd, std::vector<std::string>& outNames)
{
    return XLinuxFolderTrail::ListNames(inFd, outNames);
}

// Removes inName in the current folder of ioTrail, a folder with all it holds; no link is followed.
// Folders without owner write and search access get them first (a copied read-only folder must go
// too). The trail bounds the descriptors held, whatever the depth.
int RemoveIn(const XLinuxCopyCalls& inCalls, XLinuxFolderTrail& ioTrail, const char* inName)
{
    int dir = ioTrail.Current();
    if (dir < 0 && dir != AT_FDCWD)
    {
        return errno;
    }
    struct stat status = {};
    if (::fstatat(dir, inName, &status, AT_SYMLINK_NOFOLLOW) != 0)
    {
        return errno == ENOENT ? 0 : errno;
    }
    if (!S_ISDIR(status.st_mode))
    {
        return inCalls.fUnlinkat(dir, inName, 0) == 0 || errno == ENOENT ? 0 : errno;
    }
    int failure = ioTrail.Enter(inName);
    if (failure == EACCES && ::fchmodat(dir, inName, (status.st_mode & 07777) | 0700, 0) == 0)
    {
        failure = ioTrail.Enter(inName);
    }
    if (failure != 0)
    {
        return failure;
    }
    int fd = ioTrail.Current();
    if ((status.st_mode & 0300) != 0300)
    {
        ::fchmod(fd, (status.st_mode & 07777) | 0700);
    }
    std::vector<std::string> names;
    failure = ListFolder(fd, names);
    for (size_t index = 0; failure == 0 && index < names.size(); ++index)
    {
        failure = RemoveIn(inCalls, ioTrail, names[index].c_str());
    }
    ioTrail.Leave();
    if (failure != 0)
    {
        return failure;
    }
    dir = ioTrail.Current();
    if (dir < 0 && dir != AT_FDCWD)
    {
        return errno;
    }
    return inCalls.fUnlinkat(dir, inName, AT_REMOVEDIR) == 0 || errno == ENOENT ? 0 : errno;
}

int RemoveAt(const XLinuxCopyCalls& inCalls, int inDir, const char* inName)
{
    XLinuxFolderTrail trail(inDir);
    return RemoveIn(inCalls, trail, inName);
}

void SplitPath(const std::string& inPath, std::string& outParent, std::string& outName)
{
    std::string path = inPath;
    while (path.size() > 1 && path.back() == '/')
    {
        path.pop_back();
    }
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
    {
        outParent = ".";
        outName = path;
    }
    else
    {
        outParent = slash == 0 ? "/" : path.substr(0, slash);
        outName = path.substr(slash + 1);
    }
    if (outName == "." || outName == "..")
    {
        outName.clear();
    }
}

int RenameIn(const XLinuxCopyCalls& inCalls, int inFromDir, const char* inFrom, int inToDir, const char* inTo,
             bool inReplace)
{
    return XLinuxStaging::Place(inCalls, inFromDir, inFrom, inToDir, inTo,
                                inReplace ? XLinuxStaging::Placement::kReplace
                                          : XLinuxStaging::Placement::kNoReplace);
}

// ---------------------------------------------------------------------------------------------
// Copy
// ---------------------------------------------------------------------------------------------

struct CopyContext
{
    XLinuxCopyCalls fCalls;
    bool fAsRoot = false;
    int fRootDir = -1; // the destination's folder: hard links are made relative to it
    std::map<std::pair<dev_t, ino_t>, std::string> fLinked;
    std::string fFailedItem;
    // Set once the destination's file system has refused a reflink or an in-kernel copy, so that
    // the other files of the tree do not ask again.
    bool fNoClone = false;
    bool fNoCopyRange = false;
};

bool IsIgnoredXattrFailure(int inErrno, const char* inName)
{
    if (inErrno == ENOTSUP || inErrno == EOPNOTSUPP)
    {
        return true;
    }
    // Only root may set most namespaces other than user.*; like cp -a, a copy made by someone
    // else keeps what it may.
    return inErrno == EPERM && std::strncmp(inName, "user.", 5) != 0;
}

int CopyXattrs(const CopyContext& inContext, int inFrom, int inTo)
{
    ssize_t size = ::flistxattr(inFrom, nullptr, 0);
    if (size < 0)
    {
        return errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno;
    }
    std::vector<char> names(static_cast<size_t>(size) + 1);
    size = ::flistxattr(inFrom, names.data(), names.size());
    if (size < 0)
    {
        return errno;
    }
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1)
    {
        ssize_t length = ::fgetxattr(inFrom, name, nullptr, 0);
        if (length < 0)
        {
            if (errno == ENODATA)
            {
                continue;
            }
            return errno;
        }
        value.resize(static_cast<size_t>(length) + 1);
        length = ::fgetxattr(inFrom, name, value.data(), value.size());
        if (length < 0)
        {
            return errno;
        }
        if (inContext.fCalls.fFsetxattr(inTo, name, value.data(), static_cast<size_t>(length), 0) != 0 &&
            !IsIgnoredXattrFailure(errno, name))
        {
            return errno;
        }
    }
    return 0;
}

bool IsUnsupported(int inErrno)
{
    return inErrno == EXDEV || inErrno == ENOSYS || inErrno == EOPNOTSUPP || inErrno == EINVAL ||
           inErrno == ENOTTY;
}

// Copies inLength bytes (fewer when the source ends first) from the present offset of inFrom to
// the present offset of inTo: in the kernel where it can, else by reading and writing.
int CopySpan(CopyContext& ioContext, int inFrom, int inTo, off_t inLength)
{
    const XLinuxCopyCalls& calls = ioContext.fCalls;
    off_t copied = 0;
    while (!ioContext.fNoCopyRange && copied < inLength)
    {
        const auto chunk = static_cast<size_t>(std::min<off_t>(inLength - copied, off_t{1} << 30));
        ssize_t count = calls.fCopyFileRange(inFrom, nullptr, inTo, nullptr, chunk, 0);
        if (count > 0)
        {
            copied += count;
            continue;
        }
        if (count == 0)
        {
            return 0;
        }
        if (errno == EINTR)
        {
            continue;
        }
        // Nothing copied yet and the kernel cannot do it here: fall back to reading and writing.
        if (copied == 0 && IsUnsupported(errno))
        {
            ioContext.fNoCopyRange = true;
            break;
        }
        return errno;
    }
    if (copied >= inLength)
    {
        return 0;
    }
    std::vector<char> buffer(size_t{256} * 1024);
    while (copied < inLength)
    {
        const auto chunk = static_cast<size_t>(std::min<off_t>(inLength - copied, off_t(buffer.size())));
        ssize_t count = calls.fRead(inFrom, buffer.data(), chunk);
        if (count < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return errno;
        }
        if (count == 0)
        {
            return 0;
        }
        for (ssize_t done = 0; done < count;)
        {
            ssize_t written = calls.fWrite(inTo, buffer.data() + done, static_cast<size_t>(count - done));
            if (written < 0)
            {
                if (errno == EINTR)
                {
                    continue;
                }
                return errno;
            }
            done += written;
        }
        copied += count;
    }
    return 0;
}

// Copies only the data extents of a file with holes (SEEK_DATA / SEEK_HOLE, as cp --sparse=auto
// does), then sets the size, so the holes stay holes. ENOTSUP (to copy it whole) where the file
// system cannot tell.
int CopySparse(CopyContext& ioContext, int inFrom, int inTo, off_t inSize)
{
    off_t position = 0;
    while (position < inSize)
    {
        const off_t data = ::lseek(inFrom, position, SEEK_DATA);
        if (data < 0)
        {
            if (errno == ENXIO) // only a hole up to the end
            {
                break;
            }
            return position == 0 && (errno == EINVAL || errno == ENOTSUP) ? ENOTSUP : errno;
        }
        if (data >= inSize)
        {
            break;
        }
        off_t hole = ::lseek(inFrom, data, SEEK_HOLE);
        if (hole < 0)
        {
            return errno;
        }
        hole = std::min(hole, inSize);
        if (::lseek(inFrom, data, SEEK_SET) < 0 || ::lseek(inTo, data, SEEK_SET) < 0)
        {
            return errno;
        }
        if (int failure = CopySpan(ioContext, inFrom, inTo, hole - data); failure != 0)
        {
            return failure;
        }
        position = hole;
    }
    return ::ftruncate(inTo, inSize) == 0 ? 0 : errno;
}

int CopyData(CopyContext& ioContext, int inFrom, int inTo, const struct stat& inStatus)
{
    const XLinuxCopyCalls& calls = ioContext.fCalls;
    if (!ioContext.fNoClone)
    {
        if (calls.fFiclone(inTo, inFrom) == 0)
        {
            return 0;
        }
        ioContext.fNoClone = IsUnsupported(errno);
    }
    // Fewer blocks than the size needs: the file has holes. The size seen at the start is what is
    // copied; no call to find the end.
    if (static_cast<off_t>(inStatus.st_blocks) * 512 < inStatus.st_size)
    {
        const int failure = CopySparse(ioContext, inFrom, inTo, inStatus.st_size);
        if (failure != ENOTSUP)
        {
            return failure;
        }
        if (::lseek(inFrom, 0, SEEK_SET) < 0 || ::lseek(inTo, 0, SEEK_SET) < 0)
        {
            return errno;
        }
    }
    return CopySpan(ioContext, inFrom, inTo, inStatus.st_size);
}

// Owner (as root), extended attributes, mode and times of an open copy.
int FinishOpenItem(const CopyContext& inContext, int inFrom, int inTo, const struct stat& inStatus)
{
    if (inContext.fAsRoot && ::fchown(inTo, inStatus.st_uid, inStatus.st_gid) != 0)
    {
        return errno;
    }
    if (int failure = CopyXattrs(inContext, inFrom, inTo); failure != 0)
    {
        return failure;
    }
    if (::fchmod(inTo, inStatus.st_mode & 07777) != 0)
    {
        return errno;
    }
    const struct timespec times[2] = {inStatus.st_atim, inStatus.st_mtim};
    return ::futimens(inTo, times) == 0 ? 0 : errno;
}

int CopyNode(CopyContext& ioContext, XLinuxFolderTrail& ioFrom, const std::string& inFromName,
             const std::string& inFromPath, XLinuxFolderTrail& ioTo, const std::string& inToName,
             const std::string& inToRelative);

// The trail's current folder, -1 (errno set) when it cannot be opened again.
int CurrentOf(XLinuxFolderTrail& ioTrail)
{
    const int fd = ioTrail.Current();
    return fd >= 0 || fd == AT_FDCWD ? fd : -1;
}

// Leaves a trail's level at scope exit.
class StLeave
{
public:
    explicit StLeave(XLinuxFolderTrail& ioTrail) : fTrail(ioTrail) {}
    ~StLeave() { fTrail.Leave(); }
    StLeave(const StLeave&) = delete;
    StLeave& operator=(const StLeave&) = delete;

private:
    XLinuxFolderTrail& fTrail;
};

// A folder and what it holds. Both trails go one level down for the folder's contents; they keep
// a bounded number of descriptors open, so the depth of the tree is not limited by them.
int CopyFolder(CopyContext& ioContext, XLinuxFolderTrail& ioFrom, const std::string& inFromName,
               const std::string& inFromPath, XLinuxFolderTrail& ioTo, const std::string& inToName,
               const std::string& inToRelative, const struct stat& inStatus)
{
    const XLinuxCopyCalls& calls = ioContext.fCalls;
    if (int failure = ioFrom.Enter(inFromName, O_NOFOLLOW, calls.fOpenat); failure != 0)
    {
        return failure;
    }
    StLeave leaveFrom(ioFrom);
    const int toDir = CurrentOf(ioTo);
    if (toDir == -1)
    {
        return errno;
    }
    if (calls.fMkdirat(toDir, inToName.c_str(), 0700) != 0)
    {
        return errno;
    }
    if (int failure = ioTo.Enter(inToName, O_NOFOLLOW, calls.fOpenat); failure != 0)
    {
        return failure;
    }
    StLeave leaveTo(ioTo);
    std::vector<std::string> names;
    if (int failure = ListFolder(ioFrom.Current(), names); failure != 0)
    {
        return failure;
    }
    for (const std::string& name : names)
    {
        int failure =
            CopyNode(ioContext, ioFrom, name, inFromPath + "/" + name, ioTo, name, inToRelative + "/" + name);
        if (failure != 0)
        {
            return failure;
        }
    }
    const int from = CurrentOf(ioFrom);
    const int to = from == -1 ? -1 : CurrentOf(ioTo);
    if (to == -1)
    {
        return errno;
    }
    return FinishOpenItem(ioContext, from, to, inStatus);
}

int CopyFile(CopyContext& ioContext, int inFromDir, const char* inFromName, int inToDir, const char* inToName,
             const std::string& inToRelative, const struct stat& inStatus)
{
    const XLinuxCopyCalls& calls = ioContext.fCalls;
    const auto key = std::make_pair(inStatus.st_dev, inStatus.st_ino);
    if (inStatus.st_nlink > 1)
    {
        auto found = ioContext.fLinked.find(key);
        if (found != ioContext.fLinked.end())
        {
            return calls.fLinkat(ioContext.fRootDir, found->second.c_str(), inToDir, inToName, 0) == 0
                       ? 0
                       : errno;
        }
    }
    StFd from(calls.fOpenat(inFromDir, inFromName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0));
    if (from.Get() < 0)
    {
        return errno;
    }
    StFd to(calls.fOpenat(inToDir, inToName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (to.Get() < 0)
    {
        return errno;
    }
    if (int failure = CopyData(ioContext, from.Get(), to.Get(), inStatus); failure != 0)
    {
        return failure;
    }
    if (int failure = FinishOpenItem(ioContext, from.Get(), to.Get(), inStatus); failure != 0)
    {
        return failure;
    }
    if (inStatus.st_nlink > 1)
    {
        ioContext.fLinked.emplace(key, inToRelative);
    }
    return 0;
}

// Links and FIFOs: made by name, then owner, mode (FIFOs) and times, no link followed.
int CopySpecial(CopyContext& ioContext, int inFromDir, const char* inFromName, int inToDir,
                const char* inToName, const struct stat& inStatus)
{
    const XLinuxCopyCalls& calls = ioContext.fCalls;
    if (S_ISLNK(inStatus.st_mode))
    {
        std::vector<char> target(static_cast<size_t>(inStatus.st_size) + 2);
        for (;;)
        {
            ssize_t length = ::readlinkat(inFromDir, inFromName, target.data(), target.size());
            if (length < 0)
            {
                return errno;
            }
            if (static_cast<size_t>(length) < target.size())
            {
                target[static_cast<size_t>(length)] = '\0';
                break;
            }
            target.resize(target.size() * 2); // the link grew since lstat
        }
        if (calls.fSymlinkat(target.data(), inToDir, inToName) != 0)
        {
            return errno;
        }
    }
    else if (::mkfifoat(inToDir, inToName, 0600) != 0)
    {
        return errno;
    }
    if (ioContext.fAsRoot &&
        ::fchownat(inToDir, inToName, inStatus.st_uid, inStatus.st_gid, AT_SYMLINK_NOFOLLOW) != 0)
    {
        return errno;
    }
    if (S_ISFIFO(inStatus.st_mode) && ::fchmodat(inToDir, inToName, inStatus.st_mode & 07777, 0) != 0)
    {
        return errno;
    }
    const struct timespec times[2] = {inStatus.st_atim, inStatus.st_mtim};
    return ::utimensat(inToDir, inToName, times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int CopyNode(CopyContext& ioContext, XLinuxFolderTrail& ioFrom, const std::string& inFromName,
             const std::string& inFromPath, XLinuxFolderTrail& ioTo, const std::string& inToName,
             const std::string& inToRelative)
{
    struct stat status = {};
    int failure = 0;
    const int fromDir = CurrentOf(ioFrom);
    const int toDir = fromDir == -1 ? -1 : CurrentOf(ioTo);
    if (toDir == -1)
    {
        failure = errno;
    }
    else if (::fstatat(fromDir, inFromName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
    {
        failure = errno;
    }
    else if (S_ISDIR(status.st_mode))
    {
        failure = CopyFolder(ioContext, ioFrom, inFromName, inFromPath, ioTo, inToName, inToRelative, status);
    }
    else if (S_ISREG(status.st_mode))
    {
        failure =
            CopyFile(ioContext, fromDir, inFromName.c_str(), toDir, inToName.c_str(), inToRelative, status);
    }
    else if (S_ISLNK(status.st_mode) || S_ISFIFO(status.st_mode))
    {
        failure = CopySpecial(ioContext, fromDir, inFromName.c_str(), toDir, inToName.c_str(), status);
    }
    else
    {
        failure = ENOTSUP; // devices and sockets
    }
    if (failure != 0 && ioContext.fFailedItem.empty())
    {
        ioContext.fFailedItem = inFromPath;
    }
    return failure;
}

// Whether the folder open at inDir, or one of its ancestors, is the item inSource.
bool IsInside(int inDir, const struct stat& inSource)
{
    StFd current(::fcntl(inDir, F_DUPFD_CLOEXEC, 0));
    while (current.IsOpen())
    {
        struct stat status = {};
        if (::fstat(current.Get(), &status) != 0)
        {
            return false;
        }
        if (status.st_dev == inSource.st_dev && status.st_ino == inSource.st_ino)
        {
            return true;
        }
        StFd parent(::openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat parentStatus = {};
        const bool atRoot = !parent.IsOpen() || ::fstat(parent.Get(), &parentStatus) != 0 ||
                            (parentStatus.st_dev == status.st_dev && parentStatus.st_ino == status.st_ino);
        if (atRoot)
        {
            return false;
        }
        current = std::move(parent);
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Trash
// ---------------------------------------------------------------------------------------------

std::string PercentEncode(const std::string& inPath)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : inPath)
    {
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            std::strchr("-._~/", byte) != nullptr)
        {
            text += static_cast<char>(byte);
        }
        else
        {
            text += '%';
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        }
    }
    return text;
}

// Makes a folder (mode 0700) unless it exists; it must then be a folder and no link.
int MakePrivateFolder(const std::string& inPath)
{
    if (::mkdir(inPath.c_str(), 0700) != 0 && errno != EEXIST)
    {
        return errno;
    }
    struct stat status = {};
    if (::lstat(inPath.c_str(), &status) != 0)
    {
        return errno;
    }
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

int MakeFolderChain(const std::string& inPath)
{
    for (size_t slash = inPath.find('/', 1); slash != std::string::npos; slash = inPath.find('/', slash + 1))
    {
        ::mkdir(inPath.substr(0, slash).c_str(), 0700);
    }
    return ::mkdir(inPath.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

std::string HomeDataFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
    {
        return data;
    }
    const char* home = std::getenv("HOME");
    std::string base;
    if (home != nullptr && home[0] == '/')
    {
        base = home;
    }
    else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
    {
        base = entry->pw_dir;
    }
    else
    {
        return {};
    }
    return base + "/.local/share";
}

// The mount ID of a path, a final link followed; 0 when the system does not say.
uint64_t MountIDOf(const std::string& inPath)
{
    struct statx status = {};
    if (::statx(AT_FDCWD, inPath.c_str(), 0, STATX_MNT_ID, &status) == 0 &&
        (status.stx_mask & STATX_MNT_ID) != 0)
    {
        return status.stx_mnt_id;
    }
    return 0;
}

// The mount point of the mount inMountID that holds inPath, from the mount table; read again once
// when the table does not know that mount yet. Empty when it cannot be told.
std::string MountPointOf(const std::string& inPath, uint64_t inMountID)
{
    XLinuxVolumes& volumes = XLinuxVolumes::Get();
    XLinuxMountEntry entry;
    for (int attempt = 0; attempt < 2 && inMountID != 0; ++attempt)
    {
        if (attempt == 1 && !volumes.Reload())
        {
            break;
        }
        if (volumes.GetMountEntryOfPath(inPath, entry) && entry.fMountID == inMountID)
        {
            return entry.fMountPoint;
        }
    }
    return {};
}

// The trash folder for an item on device inDevice whose absolute path is inItem, with the
// "Path=" text; a code on failure. A rename cannot leave the mount of the item's folder, and a bind
// mount of the same file system shows no device boundary: the home trash serves only an item on
// its own mount, and $topdir is never above the mount point of the item's folder.
int FindTrash(const std::string& inItem, dev_t inDevice, std::string& outTrash, std::string& outPathText)
{
    const std::string folder = inItem.rfind('/') == 0 ? "/" : inItem.substr(0, inItem.rfind('/'));
    const uint64_t folderMount = MountIDOf(folder);
    std::string data = HomeDataFolder();
    if (!data.empty() && MakeFolderChain(data) == 0)
    {
        struct stat status = {};
        const uint64_t dataMount = MountIDOf(data);
        if (::stat(data.c_str(), &status) == 0 && status.st_dev == inDevice &&
            (folderMount == 0 || dataMount == 0 || folderMount == dataMount))
        {
            outTrash = data + "/Trash";
            outPathText = inItem;
            return MakePrivateFolder(outTrash);
        }
    }
    // The item's $topdir: the highest ancestor still on its device.
    std::string top = inItem.substr(0, inItem.rfind('/'));
    for (;;)
    {
        if (top.empty())
        {
            top = "/";
            break;
        }
        size_t slash = top.rfind('/');
        std::string up = slash == 0 ? "/" : top.substr(0, slash);
        struct stat status = {};
        if (::stat(up.c_str(), &status) != 0 || status.st_dev != inDevice)
        {
            break;
        }
        top = up;
        if (top == "/")
        {
            break;
        }
    }
    if (const std::string mountPoint = MountPointOf(folder, folderMount); mountPoint.size() > top.size())
    {
        top = mountPoint;
    }
    const std::string base = top == "/" ? "" : top;
    outPathText = inItem.substr(base.size() + 1);
    const std::string uid = std::to_string(::getuid());
    struct stat shared = {};
    const std::string sharedPath = base + "/.Trash";
    if (::lstat(sharedPath.c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0)
    {
        outTrash = sharedPath + "/" + uid;
        if (MakePrivateFolder(outTrash) == 0)
        {
            return 0;
        }
    }
    outTrash = base + "/.Trash-" + uid;
    return MakePrivateFolder(outTrash);
}

std::string TrashInfoText(const std::string& inPathText)
{
    std::time_t now = std::time(nullptr);
    struct tm local = {};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + PercentEncode(inPathText) + "\nDeletionDate=" + date + "\n";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The engine
// ---------------------------------------------------------------------------------------------

XLinuxCopyCalls XLinuxCopyEngine::GetSystemCalls()
{
    return XLinuxCopyCalls{&SystemFiclone, &::copy_file_range, &::read,   &::write,  &::mkdirat,
                           &::fsetxattr,   &::renameat2,       &::syncfs, &::linkat, &::symlinkat,
                           &SystemOpenat,  &::unlinkat,        &::pread,  &::pwrite};
}

XLinuxCopyCalls XLinuxCopyEngine::GetCalls()
{
    return TakeCalls();
}

void XLinuxCopyEngine::SetCalls(const XLinuxCopyCalls& inCalls)
{
    std::lock_guard<std::mutex> lock(CallsMutex());
    CurrentCalls() = inCalls;
}

void XLinuxCopyEngine::ResetCalls()
{
    SetCalls(GetSystemCalls());
}

VError XLinuxCopyEngine::Copy(const std::string& inSource, const std::string& inDestination, bool inReplace,
                              std::string* outFailedItem)
{
    if (outFailedItem != nullptr)
    {
        outFailedItem->clear();
    }
    std::string parent;
    std::string name;
    SplitPath(inDestination, parent, name);
    if (name.empty() || inSource.empty())
    {
        return Errno(EINVAL);
    }
    CopyContext context;
    context.fCalls = TakeCalls();
    context.fAsRoot = ::geteuid() == 0;
    StFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parentFd.Get() < 0)
    {
        return Errno(errno);
    }
    context.fRootDir = parentFd.Get();
    struct stat source = {};
    if (::lstat(inSource.c_str(), &source) != 0)
    {
        int failure = errno;
        if (outFailedItem != nullptr)
        {
            *outFailedItem = inSource;
        }
        return Errno(failure);
    }
    XLinuxStaging::RemoveLeftovers(parentFd.Get());
    if (S_ISDIR(source.st_mode) && IsInside(parentFd.Get(), source))
    {
        return Errno(EINVAL);
    }
    struct stat existing = {};
    if (!inReplace && ::fstatat(parentFd.Get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
    {
        return Errno(EEXIST);
    }
    const std::string staging = XLinuxStaging::MakeName();
    XLinuxFolderTrail fromTrail(AT_FDCWD);
    XLinuxFolderTrail toTrail(parentFd.Get());
    int failure = CopyNode(context, fromTrail, inSource, inSource, toTrail, staging, staging);
    if (failure == 0 && context.fCalls.fSyncfs(parentFd.Get()) != 0)
    {
        failure = errno;
    }
    if (failure == 0)
    {
        failure = RenameIn(context.fCalls, parentFd.Get(), staging.c_str(), parentFd.Get(), name.c_str(),
                           inReplace);
    }
    if (failure != 0)
    {
        RemoveAt(context.fCalls, parentFd.Get(), staging.c_str());
        if (outFailedItem != nullptr)
        {
            *outFailedItem = context.fFailedItem;
        }
    }
    XLinuxStaging::NoteChanged(parentFd.Get());
    return Errno(failure);
}

VError XLinuxCopyEngine::Move(const std::string& inSource, const std::string& inDestination, bool inReplace,
                              std::string* outFailedItem)
{
    if (outFailedItem != nullptr)
    {
        outFailedItem->clear();
    }
    struct stat source = {};
    if (::lstat(inSource.c_str(), &source) != 0)
    {
        return Errno(errno);
    }
    const XLinuxCopyCalls calls = TakeCalls();
    int failure = RenameIn(calls, AT_FDCWD, inSource.c_str(), AT_FDCWD, inDestination.c_str(), inReplace);
    if (failure != EXDEV)
    {
        return Errno(failure);
    }
    // Across file systems: the source goes only once its copy is in place.
    if (VError code = Copy(inSource, inDestination, inReplace, outFailedItem); code != VE_OK)
    {
        return code;
    }
    return RemoveTree(inSource);
}

std::string XLinuxCopyEngine::MakeStagingName()
{
    return XLinuxStaging::MakeName();
}

int XLinuxCopyEngine::CopyExtendedAttributes(int inFrom, int inTo)
{
    CopyContext context;
    context.fCalls = TakeCalls();
    return CopyXattrs(context, inFrom, inTo);
}

VError XLinuxCopyEngine::RemoveTreeAt(int inDir, const char* inName)
{
    return Errno(RemoveAt(TakeCalls(), inDir, inName));
}

VError XLinuxCopyEngine::RemoveTree(const std::string& inPath)
{
    return Errno(RemoveAt(TakeCalls(), AT_FDCWD, inPath.c_str()));
}

VError XLinuxCopyEngine::MoveToTrash(const std::string& inItem)
{
    std::string parent;
    std::string name;
    SplitPath(inItem, parent, name);
    if (name.empty())
    {
        return Errno(EINVAL);
    }
    char* real = ::realpath(parent.c_str(), nullptr);
    if (real == nullptr)
    {
        return Errno(errno);
    }
    const std::string item = std::string(std::strcmp(real, "/") == 0 ? "" : real) + "/" + name;
    std::free(real);
    struct stat status = {};
    if (::lstat(item.c_str(), &status) != 0)
    {
        return Errno(errno);
    }
    std::string trash;
    std::string pathText;
    if (int failure = FindTrash(item, status.st_dev, trash, pathText); failure != 0)
    {
        return Errno(failure);
    }
    if (int failure = MakePrivateFolder(trash + "/files"); failure != 0)
    {
        return Errno(failure);
    }
    if (int failure = MakePrivateFolder(trash + "/info"); failure != 0)
    {
        return Errno(failure);
    }
    StFd files(::open((trash + "/files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    StFd info(::open((trash + "/info").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (files.Get() < 0 || info.Get() < 0)
    {
        return Errno(errno);
    }
    const XLinuxCopyCalls calls = TakeCalls();
    const std::string text = TrashInfoText(pathText);
    for (unsigned number = 1;; ++number)
    {
        const std::string trashName = number == 1 ? name : name + "." + std::to_string(number);
        const std::string infoName = trashName + ".trashinfo";
        StFd fd(::openat(info.Get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.IsOpen())
        {
            if (errno == EEXIST)
            {
                continue;
            }
            return Errno(errno);
        }
        bool written = ::write(fd.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
        int writeFailure = written ? 0 : (errno != 0 ? errno : EIO);
        if (const int closing = fd.Close(); closing != 0 && written)
        {
            written = false;
            writeFailure = closing;
        }
        if (!written)
        {
            ::unlinkat(info.Get(), infoName.c_str(), 0);
            return Errno(writeFailure);
        }
        const int failure = XLinuxStaging::Place(calls, AT_FDCWD, item.c_str(), files.Get(),
                                                 trashName.c_str(), XLinuxStaging::Placement::kNoReplace);
        if (failure == 0)
        {
            return VE_OK;
        }
        ::unlinkat(info.Get(), infoName.c_str(), 0);
        if (failure != EEXIST && failure != ENOTEMPTY)
        {
            return Errno(failure);
        }
    }
}

void XLinuxCopyEngine::RunBlockingOffFiber(const std::function<void()>& inFunction)
{
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !task->IsFiber())
    {
        inFunction();
        return;
    }
    VSyncEvent done;
    std::thread worker(
        [&]
        {
            inFunction();
            done.Unlock();
        });
    done.Lock();
    worker.join();
}

} // namespace zorn
