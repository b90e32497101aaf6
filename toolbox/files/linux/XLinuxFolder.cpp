// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxFolder.h"

#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFd.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxStaging.h"

#include <fcntl.h>
#include <fts.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zorn
{

namespace
{

using xlinux::Errno;
using xlinux::LastErrno;

// The path without its final '/' (the root stays "/").
std::string WithoutFinalSlash(const std::string& inPath)
{
    std::string path = inPath;
    while (path.size() > 1 && path.back() == '/')
    {
        path.pop_back();
    }
    return path;
}

std::string ParentOf(const std::string& inPath)
{
    const std::string path = WithoutFinalSlash(inPath);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
    {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& inPath)
{
    const std::string path = WithoutFinalSlash(inPath);
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EqualsIgnoringAsciiCase(const std::string& inLeft, const char* inRight)
{
    size_t i = 0;
    for (; i < inLeft.size() && inRight[i] != 0; ++i)
    {
        const auto lower = [](char inChar)
        { return inChar >= 'A' && inChar <= 'Z' ? char(inChar + 32) : inChar; };
        if (lower(inLeft[i]) != lower(inRight[i]))
        {
            return false;
        }
    }
    return i == inLeft.size() && inRight[i] == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The object
// ---------------------------------------------------------------------------------------------

XLinuxFolder::XLinuxFolder(std::string inPosixPath) : fPosixPath(std::move(inPosixPath))
{
    if (!fPosixPath.empty() && fPosixPath.back() != '/')
    {
        fPosixPath += '/';
    }
}

// ---------------------------------------------------------------------------------------------
// Creation, deletion, names
// ---------------------------------------------------------------------------------------------

VError XLinuxFolder::Create() const
{
    return ::mkdir(fPosixPath.c_str(), 0755) == 0 ? VE_OK : LastErrno();
}

VError XLinuxFolder::Delete() const
{
    return ::rmdir(fPosixPath.c_str()) == 0 ? VE_OK : LastErrno();
}

int XLinuxFolder::OpenPath(const std::string& inPath, int inFlags)
{
    int fd = ::open(inPath.c_str(), inFlags | O_CLOEXEC);
    if (fd >= 0 || errno != ENAMETOOLONG || inPath.empty() || inPath[0] != '/')
    {
        return fd;
    }
    const std::string path = WithoutFinalSlash(inPath);
    const size_t last = path.find_last_of('/');
    XLinuxFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (size_t start = 1; folder.IsOpen() && start <= last;)
    {
        const size_t slash = path.find('/', start);
        if (slash > start)
        {
            folder = XLinuxFd(::openat(folder.Get(), path.substr(start, slash - start).c_str(),
                                       O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        start = slash + 1;
    }
    if (!folder.IsOpen())
    {
        return -1;
    }
    // The folder's descriptor closes with errno kept, as the caller reads it.
    return ::openat(folder.Get(), last + 1 < path.size() ? path.c_str() + last + 1 : ".",
                    inFlags | O_CLOEXEC);
}

bool XLinuxFolder::Exists(bool inFollowLinks) const
{
    if (fPosixPath.empty())
    {
        return false;
    }
    struct stat status = {};
    // The final '/' would make lstat follow a final link: it is taken off.
    const std::string path = WithoutFinalSlash(fPosixPath);
    int result = inFollowLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
    if (result != 0 && errno == ENAMETOOLONG)
    {
        const XLinuxFd fd(OpenPath(path, O_PATH | (inFollowLinks ? 0 : O_NOFOLLOW)));
        result = fd.IsOpen() ? ::fstat(fd.Get(), &status) : -1;
    }
    return result == 0 && S_ISDIR(status.st_mode);
}

bool XLinuxFolder::GetIdentity(uint64_t& outDevice, uint64_t& outInode) const
{
    struct stat status = {};
    int result = ::stat(fPosixPath.c_str(), &status);
    if (result != 0 && errno == ENAMETOOLONG)
    {
        XLinuxFd fd(OpenPath(fPosixPath, O_PATH));
        result = fd.IsOpen() ? ::fstat(fd.Get(), &status) : -1;
    }
    if (result != 0)
    {
        return false;
    }
    outDevice = status.st_dev;
    outInode = status.st_ino;
    return true;
}

VError XLinuxFolder::IsHidden(bool& outHidden) const
{
    outHidden = false;
    struct stat status = {};
    if (::stat(fPosixPath.c_str(), &status) != 0)
    {
        return LastErrno();
    }
    outHidden = XLinuxFile::PosixNameBeginsWithDot(fPosixPath.c_str());
    return VE_OK;
}

VError XLinuxFolder::RenameTo(const std::string& inTo) const
{
    return XLinuxFile::RenamePath(WithoutFinalSlash(fPosixPath).c_str(), WithoutFinalSlash(inTo).c_str());
}

VError XLinuxFolder::Move(const std::string& inTo) const
{
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&]
        { code = XLinuxCopyEngine::Move(WithoutFinalSlash(fPosixPath), WithoutFinalSlash(inTo), false); });
    return code;
}

VError XLinuxFolder::CopyTo(const std::string& inTo, std::string* outFailedItem) const
{
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&]
        {
            code = XLinuxCopyEngine::Copy(WithoutFinalSlash(fPosixPath), WithoutFinalSlash(inTo), false,
                                          outFailedItem);
        });
    return code;
}

VError XLinuxFolder::MoveToTrash() const
{
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&] { code = XLinuxCopyEngine::MoveToTrash(WithoutFinalSlash(fPosixPath)); });
    return code;
}

VError XLinuxFolder::RevealInFinder() const
{
    XLinuxFile::OpenDetached(fPosixPath);
    return VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Times, volume, permissions, attributes
// ---------------------------------------------------------------------------------------------

VError XLinuxFolder::SetTimeAttributes(const VTime* inModified, const VTime* inCreated,
                                       const VTime* inAccessed) const
{
    return XLinuxFile::SetTimeAttributes(fPosixPath.c_str(), inModified, inCreated, inAccessed);
}

VError XLinuxFolder::GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const
{
    return XLinuxFile::GetTimeAttributes(fPosixPath.c_str(), true, outModified, outCreated, outAccessed);
}

VError XLinuxFolder::GetVolumeCapacity(int64_t* outTotal) const
{
    return XLinuxFile::GetVolumeFreeSpace(fPosixPath.c_str(), nullptr, outTotal, false, -1);
}

VError XLinuxFolder::GetVolumeFreeSpace(int64_t* outFree, bool inWithQuotas) const
{
    return XLinuxFile::GetVolumeFreeSpace(fPosixPath.c_str(), outFree, nullptr, inWithQuotas, -1);
}

VError XLinuxFolder::GetPosixPath(VString& outPath) const
{
    XLinuxFile::DecodeNameBytes(fPosixPath.data(), fPosixPath.size(), outPath);
    return VE_OK;
}

VError XLinuxFolder::MakeWritableByAll() const
{
    return ::chmod(fPosixPath.c_str(), 0777) == 0 ? VE_OK : LastErrno();
}

VError XLinuxFolder::GetPermissions(uint16_t* outMode) const
{
    struct stat status = {};
    const bool ok = ::stat(fPosixPath.c_str(), &status) == 0;
    const int failure = errno;
    if (outMode != nullptr)
    {
        *outMode = ok ? static_cast<uint16_t>(status.st_mode & 0777) : 0;
    }
    return ok ? VE_OK : Errno(failure);
}

VError XLinuxFolder::SetPermissions(uint16_t inMode) const
{
    return ::chmod(fPosixPath.c_str(), inMode & 0777) == 0 ? VE_OK : LastErrno();
}

bool XLinuxFolder::IsWritableByAll() const
{
    struct stat status = {};
    return ::stat(fPosixPath.c_str(), &status) == 0 && (status.st_mode & S_IWOTH) != 0;
}

bool XLinuxFolder::IsTraversable() const
{
    uint32_t permission = 0;
    return XLinuxFile::GetEffectivePermission(fPosixPath.c_str(), permission) == VE_OK &&
           (permission & 1) != 0;
}

VError XLinuxFolder::GetFolderAttributes(uint32_t& outAttributes) const
{
    return XLinuxFile::GetPathAttributes(fPosixPath.c_str(), true, outAttributes);
}

VError XLinuxFolder::SetFolderAttributes(uint32_t inAttributes) const
{
    return XLinuxFile::SetPathAttributes(fPosixPath.c_str(), true, inAttributes);
}

bool XLinuxFolder::IsPackage() const
{
    const std::string name = NameOf(fPosixPath);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
    {
        const std::string extension = name.substr(dot + 1);
        for (const char* package : {"app", "bundle", "framework", "plugin"})
        {
            if (EqualsIgnoringAsciiCase(extension, package))
            {
                return true;
            }
        }
    }
    struct stat status = {};
    return ::stat((fPosixPath + "Contents/Info.plist").c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

VError XLinuxFolder::GetOwner(uint32_t& outUid, uint32_t& outGid) const
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

// ---------------------------------------------------------------------------------------------
// Forced deletion
// ---------------------------------------------------------------------------------------------

namespace
{

// Removes an entry of the walk; a locked or protected one is unlocked and removed again.
VError RemoveEntry(const char* inPath)
{
    if (::remove(inPath) == 0 || errno == 0)
    {
        return VE_OK;
    }
    XLinuxFile::UnlockPath(inPath, false);
    return ::remove(inPath) == 0 ? VE_OK : LastErrno();
}

VError WalkAndRemove(const std::string& inPath)
{
    std::string root = WithoutFinalSlash(inPath);
    char* roots[] = {root.data(), nullptr};
    FTS* walk = ::fts_open(roots, FTS_PHYSICAL | FTS_XDEV | FTS_NOCHDIR, nullptr);
    if (walk == nullptr)
    {
        return LastErrno();
    }
    VError code = VE_OK;
    while (code == VE_OK)
    {
        errno = 0;
        FTSENT* entry = ::fts_read(walk);
        if (entry == nullptr)
        {
            // The end of the walk, or a failure of the walk itself.
            code = LastErrno();
            break;
        }
        switch (entry->fts_info)
        {
        case FTS_D:
            // A folder before its contents: made enterable and writable so its items can go.
            XLinuxFile::UnlockPath(entry->fts_path, false);
            break;
        case FTS_DC:
        case FTS_F:
        case FTS_SL:
        case FTS_SLNONE:
        case FTS_DEFAULT:
            code = RemoveEntry(entry->fts_path);
            break;
        case FTS_DP:
            code = ::remove(entry->fts_path) == 0 ? VE_OK : LastErrno();
            break;
        case FTS_DNR:
        case FTS_ERR:
        case FTS_NS:
            code = Errno(entry->fts_errno);
            break;
        default:
            break;
        }
    }
    ::fts_close(walk);
    return code;
}

} // namespace

VError XLinuxFolder::DeleteForced(VError* outRestoreFailure) const
{
    const std::string parent = ParentOf(fPosixPath);
    uint32_t attributes = 0;
    VError code = XLinuxFile::GetPathAttributes(parent.c_str(), true, attributes);
    if (code != VE_OK)
    {
        return code;
    }
    const bool unlockParent = (attributes & 1) != 0;
    if (unlockParent)
    {
        code = XLinuxFile::SetPathAttributes(parent.c_str(), true, attributes & ~1U);
        if (code != VE_OK)
        {
            return code;
        }
    }
    struct stat status = {};
    bool widened = false;
    if (::stat(parent.c_str(), &status) != 0)
    {
        code = LastErrno();
    }
    else if ((status.st_mode & 0700) != 0700 && ::geteuid() == status.st_uid && ::geteuid() != 0)
    {
        widened = ::chmod(parent.c_str(), (status.st_mode | 0700) & 07777) == 0;
        if (!widened)
        {
            code = LastErrno();
        }
    }
    if (code == VE_OK)
    {
        code = WalkAndRemove(fPosixPath);
    }
    // The parent is restored whatever became of the walk.
    VError restore = VE_OK;
    if (widened && ::chmod(parent.c_str(), status.st_mode & 07777) != 0)
    {
        restore = LastErrno();
    }
    if (unlockParent && restore == VE_OK)
    {
        restore = XLinuxFile::SetPathAttributes(parent.c_str(), true, attributes);
    }
    if (outRestoreFailure != nullptr)
    {
        *outRestoreFailure = restore;
    }
    return code;
}

bool XLinuxFolder::ContainsRealPath(const std::string& inPosixPath) const
{
    std::string mine;
    std::string theirs;
    if (!XLinuxFile::RealPath(WithoutFinalSlash(fPosixPath), true, mine) ||
        !XLinuxFile::RealPath(WithoutFinalSlash(inPosixPath), false, theirs))
    {
        return false;
    }
    mine = WithoutFinalSlash(mine);
    theirs = WithoutFinalSlash(theirs);
    if (mine == "/")
    {
        return true;
    }
    return theirs.compare(0, mine.size(), mine) == 0 &&
           (theirs.size() == mine.size() || theirs[mine.size()] == '/');
}

VError XLinuxFolder::ExchangePaths(const std::string& inFirst, const std::string& inSecond, int inAttempts,
                                   const std::function<void(int)>& inBeforeRetry)
{
    // Through the copy engine's calls, so that tests can make the exchange fail as its copies do.
    const XLinuxStaging::Retry retry{inAttempts, inBeforeRetry};
    return Errno(XLinuxStaging::Place(
        XLinuxCopyEngine::GetCalls(), AT_FDCWD, WithoutFinalSlash(inFirst).c_str(), AT_FDCWD,
        WithoutFinalSlash(inSecond).c_str(), XLinuxStaging::Placement::kExchange, &retry));
}

VError XLinuxFolder::StageCopy(const std::string& inSource, const std::string& inFolder,
                               std::string& outStaging, std::string* outFailedItem)
{
    outStaging = WithoutFinalSlash(inFolder) + "/" + XLinuxStaging::MakeName();
    VError code = VE_OK;
    XLinuxCopyEngine::RunBlockingOffFiber(
        [&]
        { code = XLinuxCopyEngine::Copy(WithoutFinalSlash(inSource), outStaging, false, outFailedItem); });
    if (code != VE_OK)
    {
        outStaging.clear();
    }
    return code;
}

VError XLinuxFolder::RemoveTree(const std::string& inPosixPath)
{
    return XLinuxCopyEngine::RemoveTree(WithoutFinalSlash(inPosixPath));
}

// ---------------------------------------------------------------------------------------------
// Symbolic links
// ---------------------------------------------------------------------------------------------

VError XBSDSystem::CreateSymbolicLink(const char* inTarget, const char* inLinkPath)
{
    if (::symlink(inTarget, inLinkPath) == 0 || errno == 0)
    {
        return VE_OK;
    }
    return _ThrowError(LastErrno());
}

} // namespace zorn
