// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// The file operations of XLinuxFile: opening, creating, renaming, deleting, times, attributes,
// permissions, free space, links and the whole-content replacement.
#include "toolbox/files/VFileAccess.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFd.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFolder.h"
#include "toolbox/files/linux/XLinuxStaging.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/values/VTime.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

extern char** environ;

namespace zorn
{

namespace
{

using xlinux::Errno;
using xlinux::LastErrno;

// The folder part of a POSIX path, with its final '/' ("/a/b" gives "/a/"; "b" gives "./").
std::string FolderOf(const std::string& inPath)
{
    size_t slash = inPath.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : inPath.substr(0, slash + 1);
}

std::string NameOf(const std::string& inPath)
{
    size_t slash = inPath.find_last_of('/');
    return slash == std::string::npos ? inPath : inPath.substr(slash + 1);
}

// A name no other process will pick: the hidden form of inName with a random suffix.
std::string TemporarySibling(const std::string& inPath)
{
    static thread_local std::mt19937_64 sRandom{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".zrn-%016llx", static_cast<unsigned long long>(sRandom()));
    return FolderOf(inPath) + "." + NameOf(inPath) + suffix;
}

// Follows final symbolic links (at most 40, as the kernel does); the path that is no link.
VError FollowFinalLinks(const std::string& inPath, std::string& outPath)
{
    outPath = inPath;
    for (int hops = 0; hops < 40; ++hops)
    {
        struct stat status = {};
        if (::lstat(outPath.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
        {
            return VE_OK;
        }
        std::vector<char> text(static_cast<size_t>(status.st_size) + 256);
        ssize_t length = ::readlink(outPath.c_str(), text.data(), text.size());
        if (length < 0)
        {
            return LastErrno();
        }
        std::string target(text.data(), static_cast<size_t>(length));
        outPath = !target.empty() && target[0] == '/' ? target : FolderOf(outPath) + target;
    }
    return Errno(ELOOP);
}

void TimeFromTimestamp(const statx_timestamp& inStamp, VTime* outTime)
{
    if (outTime == nullptr)
    {
        return;
    }
    struct tm parts = {};
    time_t seconds = inStamp.tv_sec;
    if (::gmtime_r(&seconds, &parts) == nullptr)
    {
        outTime->SetNull(true);
        return;
    }
    outTime->FromUTCTime(static_cast<int16_t>(parts.tm_year + 1900), static_cast<int16_t>(parts.tm_mon + 1),
                         static_cast<int16_t>(parts.tm_mday), static_cast<int16_t>(parts.tm_hour),
                         static_cast<int16_t>(parts.tm_min), static_cast<int16_t>(parts.tm_sec),
                         static_cast<int16_t>(inStamp.tv_nsec / 1000000));
}

timespec TimespecFromTime(const VTime* inTime)
{
    if (inTime == nullptr || inTime->IsNull())
    {
        return timespec{0, UTIME_OMIT};
    }
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t second = 0;
    int16_t millisecond = 0;
    inTime->GetUTCTime(year, month, day, hour, minute, second, millisecond);
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return timespec{::timegm(&parts), static_cast<long>(millisecond) * 1000000L};
}

// The inode flags; ENOTTY / EOPNOTSUPP where the file system has none.
int GetInodeFlags(const char* inPath, bool inFollow, int& outFlags)
{
    outFlags = 0;
    const XLinuxFd fd(::open(inPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (inFollow ? 0 : O_NOFOLLOW)));
    if (!fd.IsOpen())
    {
        return errno;
    }
    return ::ioctl(fd.Get(), FS_IOC_GETFLAGS, &outFlags) == 0 ? 0 : errno;
}

int SetInodeFlags(const char* inPath, bool inFollow, int inFlags)
{
    const XLinuxFd fd(::open(inPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (inFollow ? 0 : O_NOFOLLOW)));
    if (!fd.IsOpen())
    {
        return errno;
    }
    return ::ioctl(fd.Get(), FS_IOC_SETFLAGS, &inFlags) == 0 ? 0 : errno;
}

bool IsNotSupported(int inErrno)
{
    return inErrno == ENOTTY || inErrno == EOPNOTSUPP;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The object
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::GetPosixPath(VString& outPath) const
{
    DecodeNameBytes(fPosixPath.data(), fPosixPath.size(), outPath);
    return VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Opening and creating
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::_Open(FileAccess inAccess, uint32_t inOptions, int* outFd) const
{
    *outFd = -1;
    if ((inOptions & kOpenResourceFork) != 0)
    {
        return Errno(ENOTSUP);
    }
    int flags = O_CLOEXEC;
    if ((inOptions & kOpenFollowLink) == 0)
    {
        flags |= O_NOFOLLOW;
    }
    mode_t mode = 0;
    if ((inOptions & kOpenCreate) != 0)
    {
        flags |= O_CREAT;
        mode = 0644;
    }
    if ((inOptions & kOpenTruncate) != 0)
    {
        flags |= O_TRUNC;
    }
    const bool locking = inAccess == FA_READ_WRITE || inAccess == FA_SHARED;
    flags |= locking ? O_RDWR : O_RDONLY;
    // Opening never waits: a FIFO reached through a link would block until a writer came. A FIFO
    // is no file (Exists says so too) and is refused; anything else gets blocking reads back.
    XLinuxFd opened(::open(fPosixPath.c_str(), flags | O_NONBLOCK, mode));
    if (!opened.IsOpen())
    {
        return LastErrno();
    }
    struct stat status = {};
    if (::fstat(opened.Get(), &status) != 0)
    {
        return LastErrno();
    }
    if (S_ISFIFO(status.st_mode))
    {
        return Errno(ENXIO);
    }
    if (::fcntl(opened.Get(), F_SETFL, ::fcntl(opened.Get(), F_GETFL) & ~O_NONBLOCK) != 0)
    {
        return LastErrno();
    }
    if (locking && ::flock(opened.Get(), (inAccess == FA_READ_WRITE ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    {
        return Errno(errno == EWOULDBLOCK ? EACCES : errno);
    }
    const int fd = opened.Release();
    if ((inOptions & kOpenReadAhead) != 0)
    {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    if ((inOptions & (kOpenNoCache | kOpenNoCacheToo)) != 0)
    {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    *outFd = fd;
    return VE_OK;
}

VError XLinuxFile::Open(FileAccess inAccess, uint32_t inOptions, int* outFd) const
{
    if (inAccess != FA_MAX)
    {
        return _Open(inAccess, inOptions, outFd);
    }
    VError code = _Open(FA_READ_WRITE, inOptions, outFd);
    if (code != VE_OK)
    {
        code = _Open(FA_READ, inOptions, outFd);
    }
    return code;
}

VError XLinuxFile::Create(uint32_t inOptions) const
{
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if ((inOptions & kCreateReplace) != 0)
    {
        ::unlink(fPosixPath.c_str());
        flags |= O_TRUNC;
    }
    else
    {
        flags |= O_EXCL;
    }
    const XLinuxFd fd(::open(fPosixPath.c_str(), flags, 0644));
    return fd.IsOpen() ? VE_OK : LastErrno();
}

VError XLinuxFile::Delete() const
{
    return ::unlink(fPosixPath.c_str()) == 0 ? VE_OK : LastErrno();
}

VError XLinuxFile::RenamePath(const char* inFrom, const char* inTo)
{
    // Through the back ends' one table of calls, so that tests reach this rename as every other.
    return Errno(XLinuxStaging::Place(XLinuxCopyEngine::GetCalls(), AT_FDCWD, inFrom, AT_FDCWD, inTo,
                                      XLinuxStaging::Placement::kNoReplace));
}

// ---------------------------------------------------------------------------------------------
// Tests and sizes
// ---------------------------------------------------------------------------------------------

bool XLinuxFile::Exists() const
{
    struct stat status = {};
    return ::lstat(fPosixPath.c_str(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode));
}

VError XLinuxFile::GetSize(int64_t* outSize) const
{
    struct stat status = {};
    if (::lstat(fPosixPath.c_str(), &status) != 0)
    {
        if (outSize != nullptr)
        {
            *outSize = 0;
        }
        return LastErrno();
    }
    if (outSize != nullptr)
    {
        *outSize = status.st_size;
    }
    return VE_OK;
}

VError XLinuxFile::GetResourceForkSize(int64_t* outSize) const
{
    if (outSize != nullptr)
    {
        *outSize = 0;
    }
    return VE_OK;
}

bool XLinuxFile::IsSymbolicLink() const
{
    struct stat status = {};
    return ::lstat(fPosixPath.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

VError XLinuxFile::ReadSymbolicLink(VString& outText) const
{
    outText.Clear();
    struct stat status = {};
    if (::lstat(fPosixPath.c_str(), &status) != 0)
    {
        return LastErrno();
    }
    // A link may change between lstat and readlink: grow until the text is shorter than the buffer.
    std::vector<char> buffer(static_cast<size_t>(status.st_size) + 64);
    for (;;)
    {
        ssize_t length = ::readlink(fPosixPath.c_str(), buffer.data(), buffer.size());
        if (length < 0)
        {
            return LastErrno();
        }
        if (static_cast<size_t>(length) < buffer.size())
        {
            DecodeNameBytes(buffer.data(), static_cast<size_t>(length), outText);
            return VE_OK;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// ---------------------------------------------------------------------------------------------
// Times
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::GetTimeAttributes(const char* inPath, bool inFollow, VTime* outModified, VTime* outCreated,
                                     VTime* outAccessed)
{
    struct statx status = {};
    if (::statx(AT_FDCWD, inPath, inFollow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_ATIME | STATX_BTIME,
                &status) != 0)
    {
        return LastErrno();
    }
    TimeFromTimestamp(status.stx_mtime, outModified);
    TimeFromTimestamp(status.stx_atime, outAccessed);
    if ((status.stx_mask & STATX_BTIME) != 0)
    {
        TimeFromTimestamp(status.stx_btime, outCreated);
    }
    else if (outCreated != nullptr)
    {
        outCreated->SetNull(true);
    }
    return VE_OK;
}

VError XLinuxFile::GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const
{
    return GetTimeAttributes(fPosixPath.c_str(), false, outModified, outCreated, outAccessed);
}

VError XLinuxFile::SetTimeAttributes(const char* inPath, const VTime* inModified, const VTime*,
                                     const VTime* inAccessed)
{
    // Linux keeps no settable creation time: it is ignored.
    const timespec times[2] = {TimespecFromTime(inAccessed), TimespecFromTime(inModified)};
    return ::utimensat(AT_FDCWD, inPath, times, AT_SYMLINK_NOFOLLOW) == 0 ? VE_OK : LastErrno();
}

VError XLinuxFile::SetTimeAttributes(const VTime* inModified, const VTime* inCreated,
                                     const VTime* inAccessed) const
{
    return SetTimeAttributes(fPosixPath.c_str(), inModified, inCreated, inAccessed);
}

// ---------------------------------------------------------------------------------------------
// Attributes and permissions
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::GetPathAttributes(const char* inPath, bool inFollow, uint32_t& outAttributes)
{
    outAttributes = 0;
    struct stat status = {};
    if ((inFollow ? ::stat(inPath, &status) : ::lstat(inPath, &status)) != 0)
    {
        return LastErrno();
    }
    int flags = 0;
    // Links and special files have no inode flags to read: not locked.
    if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))
    {
        int failure = GetInodeFlags(inPath, inFollow, flags);
        if (failure != 0 && !IsNotSupported(failure))
        {
            return Errno(failure);
        }
    }
    if ((flags & FS_IMMUTABLE_FL) != 0)
    {
        outAttributes |= 1;
    }
    if (PosixNameBeginsWithDot(inPath))
    {
        outAttributes |= 2;
    }
    return VE_OK;
}

VError XLinuxFile::SetPathAttributes(const char* inPath, bool inFollow, uint32_t inAttributes)
{
    int flags = 0;
    int failure = GetInodeFlags(inPath, inFollow, flags);
    if (failure != 0)
    {
        // Without inode flags nothing is locked: clearing the bit succeeds, setting it fails.
        return IsNotSupported(failure) && (inAttributes & 1) == 0 ? VE_OK : Errno(failure);
    }
    const int wanted = (inAttributes & 1) != 0 ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    // Bit 2 (invisible) is the name's leading '.': nothing to set.
    if (wanted == flags)
    {
        return VE_OK;
    }
    return Errno(SetInodeFlags(inPath, inFollow, wanted));
}

VError XLinuxFile::GetFileAttributes(uint32_t& outAttributes) const
{
    return GetPathAttributes(fPosixPath.c_str(), false, outAttributes);
}

VError XLinuxFile::SetFileAttributes(uint32_t inAttributes) const
{
    return SetPathAttributes(fPosixPath.c_str(), false, inAttributes);
}

VError XLinuxFile::GetEffectivePermission(const char* inPath, uint32_t& outPermission)
{
    outPermission = 0;
    struct stat status = {};
    if (::stat(inPath, &status) != 0)
    {
        return LastErrno();
    }
    const uid_t user = ::geteuid();
    if (user == 0)
    {
        outPermission = 7;
        return VE_OK;
    }
    uint32_t attributes = 0;
    if (GetPathAttributes(inPath, true, attributes) == VE_OK && (attributes & 1) != 0)
    {
        return VE_OK;
    }
    if (status.st_uid == user)
    {
        outPermission = (status.st_mode >> 6) & 7;
        return VE_OK;
    }
    bool member = ::getegid() == status.st_gid;
    if (!member)
    {
        struct passwd entry = {};
        struct passwd* found = nullptr;
        std::vector<char> text(4096);
        if (::getpwuid_r(user, &entry, text.data(), text.size(), &found) == 0 && found != nullptr)
        {
            gid_t groups[100];
            int count = 100;
            if (::getgrouplist(found->pw_name, found->pw_gid, groups, &count) < 0)
            {
                count = 100;
            }
            for (int i = 0; i < count && !member; ++i)
            {
                member = groups[i] == status.st_gid;
            }
        }
    }
    outPermission = member ? (status.st_mode >> 3) & 7 : status.st_mode & 7;
    return VE_OK;
}

VError XLinuxFile::UnlockPath(const char* inPath, bool inFollow)
{
    uint32_t attributes = 0;
    VError code = GetPathAttributes(inPath, inFollow, attributes);
    if (code == VE_OK && (attributes & 1) != 0)
    {
        code = SetPathAttributes(inPath, inFollow, attributes & ~1U);
    }
    if (code != VE_OK)
    {
        return code;
    }
    struct stat status = {};
    if ((inFollow ? ::stat(inPath, &status) : ::lstat(inPath, &status)) != 0)
    {
        return LastErrno();
    }
    if (S_ISLNK(status.st_mode) || (::geteuid() != 0 && ::geteuid() != status.st_uid))
    {
        return VE_OK;
    }
    const mode_t wanted = status.st_mode | (S_ISDIR(status.st_mode) ? 0700 : 0600);
    if (wanted != status.st_mode && ::chmod(inPath, wanted & 07777) != 0)
    {
        return LastErrno();
    }
    return VE_OK;
}

VError XLinuxFile::GetPermissions(uint16_t* outMode) const
{
    struct stat status = {};
    if (::lstat(fPosixPath.c_str(), &status) != 0)
    {
        if (outMode != nullptr)
        {
            *outMode = 0;
        }
        return LastErrno();
    }
    if (outMode != nullptr)
    {
        *outMode = static_cast<uint16_t>(status.st_mode & 0777);
    }
    return VE_OK;
}

VError XLinuxFile::SetPermissions(uint16_t inMode) const
{
    // A link's own mode means nothing on Linux and cannot be set: left alone.
    if (::fchmodat(AT_FDCWD, fPosixPath.c_str(), inMode & 0777, AT_SYMLINK_NOFOLLOW) == 0)
    {
        return VE_OK;
    }
    return errno == EOPNOTSUPP && IsSymbolicLink() ? VE_OK : LastErrno();
}

VError XLinuxFile::MakeWritableByAll() const
{
    struct stat status = {};
    if (::lstat(fPosixPath.c_str(), &status) != 0)
    {
        return LastErrno();
    }
    if (S_ISLNK(status.st_mode))
    {
        return VE_OK;
    }
    return ::fchmodat(AT_FDCWD, fPosixPath.c_str(), (status.st_mode | 0666) & 07777, 0) == 0 ? VE_OK
                                                                                             : LastErrno();
}

bool XLinuxFile::IsWritableByAll() const
{
    struct stat status = {};
    return ::lstat(fPosixPath.c_str(), &status) == 0 && (status.st_mode & S_IWOTH) != 0;
}

VError XLinuxFile::GetOwner(uint32_t& outUid, uint32_t& outGid) const
{
    struct stat status = {};
    if (::stat(fPosixPath.c_str(), &status) != 0)
    {
        outUid = 0;
        outGid = 0;
        return LastErrno();
    }
    outUid = status.st_uid;
    outGid = status.st_gid;
    return VE_OK;
}

VError XLinuxFile::GetKind(uint32_t* outKind) const
{
    if (outKind != nullptr)
    {
        *outKind = 0;
    }
    return VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Volume space and the file manager
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::GetVolumeFreeSpace(const char* inPath, int64_t* outFree, int64_t* outTotal,
                                      bool inWithQuotas, int inFd)
{
    struct statvfs volume = {};
    int result = -1;
    if (inFd != -1)
    {
        result = ::fstatvfs(inFd, &volume);
    }
    else
    {
        // A missing path measures the nearest folder above it that exists.
        std::string path = inPath;
        result = ::statvfs(path.c_str(), &volume);
        while (result != 0 && errno == ENOENT && path.size() > 1)
        {
            if (path.back() == '/')
            {
                path.pop_back();
            }
            path = FolderOf(path);
            result = ::statvfs(path.c_str(), &volume);
        }
    }
    if (result != 0)
    {
        int failure = errno;
        for (int64_t* out : {outFree, outTotal})
        {
            if (out != nullptr)
            {
                *out = 0;
            }
        }
        return Errno(failure);
    }
    const auto blockSize = static_cast<int64_t>(volume.f_frsize);
    if (outFree != nullptr)
    {
        *outFree = blockSize * static_cast<int64_t>(inWithQuotas ? volume.f_bavail : volume.f_bfree);
    }
    if (outTotal != nullptr)
    {
        *outTotal = blockSize * static_cast<int64_t>(volume.f_blocks);
    }
    return VE_OK;
}

void XLinuxFile::OpenDetached(const std::string& inPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
    {
        ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    char program[] = "xdg-open";
    std::string path = inPath;
    char* arguments[] = {program, path.data(), nullptr};
    pid_t child = 0;
    // Not waited for: the opener runs detached in its own session; a failure to start is not
    // reported, as the design asks.
    if (::posix_spawnp(&child, program, &actions, &attributes, arguments, environ) == 0)
    {
        std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
    }
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
}

VError XLinuxFile::RevealInFinder() const
{
    OpenDetached(FolderOf(fPosixPath));
    return VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Links
// ---------------------------------------------------------------------------------------------

VError XLinuxFile::ResolveAlias(VFilePath& outTarget) const
{
    outTarget.Clear();
    struct stat status = {};
    if (::lstat(fPosixPath.c_str(), &status) != 0)
    {
        return LastErrno();
    }
    if (!S_ISLNK(status.st_mode))
    {
        return kNotAnAlias;
    }
    std::string resolved;
    if (!RealPath(fPosixPath, true, resolved))
    {
        return LastErrno();
    }
    struct stat target = {};
    if (::stat(resolved.c_str(), &target) != 0)
    {
        return LastErrno();
    }
    GetFilePathFromPosixPath(resolved.c_str(), S_ISDIR(target.st_mode), outTarget);
    return VE_OK;
}

VError XLinuxFile::CreateSymbolicLink(const VFilePath& inTarget, const VFilePath* inFolder) const
{
    std::string text = AllocatePosixPathFromFilePath(inTarget);
    if (inFolder != nullptr)
    {
        VFilePath folder(*inFolder);
        std::string climb;
        VString relative;
        for (;;)
        {
            if (inTarget.GetRelativePosixPath(folder, relative) && relative.GetLength() > 0 &&
                relative.GetUniChar(1) != u'/')
            {
                std::string bytes;
                if (EncodeNameBytes(relative, bytes))
                {
                    text = climb + bytes;
                }
                break;
            }
            if (!folder.ToParent())
            {
                break;
            }
            climb += "../";
        }
    }
    if (text.empty())
    {
        return Errno(EINVAL);
    }
    // Made aside, then renamed over the link path: the old item stays until the link is whole.
    std::string temporary = TemporarySibling(fPosixPath);
    if (::symlink(text.c_str(), temporary.c_str()) != 0)
    {
        return LastErrno();
    }
    if (::rename(temporary.c_str(), fPosixPath.c_str()) != 0)
    {
        int failure = errno;
        ::unlink(temporary.c_str());
        return Errno(failure);
    }
    return VE_OK;
}

VError XLinuxFile::CreateAlias(const VFilePath& inTarget, const VFilePath*) const
{
    // An alias is a symbolic link here; it names its target by its absolute path.
    return CreateSymbolicLink(inTarget, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Folders and whole content
// ---------------------------------------------------------------------------------------------

bool XLinuxFile::FolderExists(const char* inPath)
{
    struct stat status = {};
    return ::stat(inPath, &status) == 0 && S_ISDIR(status.st_mode);
}

VError XLinuxFile::MakeFolder(const char* inPath)
{
    if (::mkdir(inPath, 0755) == 0)
    {
        return VE_OK;
    }
    int failure = errno;
    return failure == EEXIST && FolderExists(inPath) ? VE_OK : Errno(failure);
}

namespace
{

// Writes all of inData at the descriptor's offset; 0 or the errno.
int WriteAll(int inFd, const void* inData, size_t inSize)
{
    const auto* bytes = static_cast<const char*>(inData);
    for (size_t done = 0; done < inSize;)
    {
        const ssize_t written = ::write(inFd, bytes + done, inSize - done);
        if (written < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return errno;
        }
        done += static_cast<size_t>(written);
    }
    return 0;
}

// The new content over the old one in the same file: for a writable file in a folder that cannot
// hold a sibling. A crash midway leaves a mixed file.
VError RewriteInPlace(const std::string& inTarget, const void* inData, size_t inSize)
{
    XLinuxFd fd(::open(inTarget.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.IsOpen())
    {
        return LastErrno();
    }
    int failure = WriteAll(fd.Get(), inData, inSize);
    if (failure == 0 && ::ftruncate(fd.Get(), static_cast<off_t>(inSize)) != 0)
    {
        failure = errno;
    }
    if (failure == 0 && ::fsync(fd.Get()) != 0)
    {
        failure = errno;
    }
    if (const int closing = fd.Close(); failure == 0)
    {
        failure = closing;
    }
    return Errno(failure);
}

// What the new file takes over from the old one: the owner as root, else the group where the
// caller belongs to it; extended attributes (ACLs among them) that the caller may set; the mode.
int TakeOverAttributes(int inOld, const struct stat& inStatus, int inNew)
{
    if (::geteuid() == 0)
    {
        if (::fchown(inNew, inStatus.st_uid, inStatus.st_gid) != 0)
        {
            return errno;
        }
    }
    else if (inStatus.st_gid != ::getegid())
    {
        ::fchown(inNew, static_cast<uid_t>(-1), inStatus.st_gid); // refused outside the group
    }
    if (inOld >= 0)
    {
        if (const int failure = XLinuxCopyEngine::CopyExtendedAttributes(inOld, inNew); failure != 0)
        {
            return failure;
        }
    }
    return ::fchmod(inNew, inStatus.st_mode & 07777) == 0 ? 0 : errno;
}

} // namespace

VError XLinuxFile::SetContent(const void* inData, size_t inSize) const
{
    std::string target;
    VError code = FollowFinalLinks(fPosixPath, target);
    if (code != VE_OK)
    {
        return code;
    }
    struct stat old = {};
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
    {
        return Errno(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    }
    // The old file is locked as an exclusive open would lock it, so that a file another descriptor
    // holds locked is refused (EACCES) rather than replaced under it.
    XLinuxFd oldFd;
    if (replacing)
    {
        oldFd.Reset(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (oldFd.IsOpen() && ::flock(oldFd.Get(), LOCK_EX | LOCK_NB) != 0)
        {
            return Errno(errno == EWOULDBLOCK ? EACCES : errno);
        }
    }
    XLinuxFd folder(XLinuxFolder::OpenPath(FolderOf(target), O_RDONLY | O_DIRECTORY));
    if (!folder.IsOpen())
    {
        return LastErrno();
    }
    XLinuxStaging::RemoveLeftovers(folder.Get());
    const std::string name = NameOf(target);
    const std::string staging = XLinuxStaging::MakeName();
    XLinuxFd fd(::openat(folder.Get(), staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.IsOpen())
    {
        const int failure = errno;
        if (replacing && (failure == EACCES || failure == EPERM) && ::access(target.c_str(), W_OK) == 0)
        {
            return RewriteInPlace(target, inData, inSize);
        }
        return Errno(failure);
    }
    int failure = replacing ? TakeOverAttributes(oldFd.Get(), old, fd.Get()) : 0;
    if (failure == 0)
    {
        failure = WriteAll(fd.Get(), inData, inSize);
    }
    if (failure == 0 && ::fsync(fd.Get()) != 0)
    {
        failure = errno;
    }
    if (const int closing = fd.Close(); failure == 0)
    {
        failure = closing;
    }
    if (failure == 0)
    {
        failure = XLinuxStaging::Place(XLinuxCopyEngine::GetCalls(), folder.Get(), staging.c_str(),
                                       folder.Get(), name.c_str(), XLinuxStaging::Placement::kReplace);
    }
    if (failure != 0)
    {
        ::unlinkat(folder.Get(), staging.c_str(), 0);
        return Errno(failure);
    }
    // The new name must survive a crash as well as the bytes.
    ::fsync(folder.Get());
    XLinuxStaging::NoteChanged(folder.Get());
    return VE_OK;
}

} // namespace zorn
