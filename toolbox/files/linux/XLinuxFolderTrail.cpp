// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxFolderTrail.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace zorn
{

int XLinuxFolderTrail::Enter(const std::string& inName, int inFlags, OpenCall inOpen)
{
    const int parent = Current();
    if (parent < 0 && parent != AT_FDCWD)
    {
        return errno;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | inFlags;
    XLinuxFd fd(inOpen != nullptr ? inOpen(parent, inName.c_str(), flags, 0)
                                  : ::openat(parent, inName.c_str(), flags));
    if (!fd.IsOpen())
    {
        return errno;
    }
    struct stat status = {};
    if (::fstat(fd.Get(), &status) != 0)
    {
        return errno;
    }
    fLevels.push_back(Level{inName, inFlags, std::move(fd), status.st_dev, status.st_ino});
    ++fOpen;
    _CloseOldest();
    return 0;
}

void XLinuxFolderTrail::Leave()
{
    if (fLevels.empty())
    {
        return;
    }
    if (fLevels.back().fFd.IsOpen())
    {
        --fOpen;
    }
    fLevels.pop_back();
}

int XLinuxFolderTrail::Current()
{
    if (fLevels.empty())
    {
        return fStart;
    }
    if (fLevels.back().fFd.IsOpen())
    {
        return fLevels.back().fFd.Get();
    }
    const int failure = _Reopen(fLevels.size() - 1);
    if (failure != 0)
    {
        errno = failure;
        return -1;
    }
    return fLevels.back().fFd.Get();
}

int XLinuxFolderTrail::ListNames(int inFd, std::vector<std::string>& outNames)
{
    outNames.clear();
    XLinuxFd copy(::fcntl(inFd, F_DUPFD_CLOEXEC, 0));
    if (!copy.IsOpen())
    {
        return errno;
    }
    DIR* dir = ::fdopendir(copy.Get());
    if (dir == nullptr)
    {
        return errno;
    }
    copy.Release(); // the stream owns it now
    ::rewinddir(dir);
    errno = 0;
    while (const dirent* entry = ::readdir(dir))
    {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        {
            outNames.emplace_back(entry->d_name);
        }
        errno = 0;
    }
    int failure = errno;
    ::closedir(dir);
    return failure;
}

bool XLinuxFolderTrail::Holds(dev_t inDevice, ino_t inInode) const
{
    for (const Level& level : fLevels)
    {
        if (level.fDevice == inDevice && level.fInode == inInode)
        {
            return true;
        }
    }
    return false;
}

int XLinuxFolderTrail::_Reopen(size_t inIndex)
{
    // Down from the nearest ancestor still open (or the start), opening every level on the way:
    // the deepest ones stay open, so that coming back up needs no new walk for a while.
    size_t first = inIndex;
    while (first > 0 && !fLevels[first - 1].fFd.IsOpen())
    {
        --first;
    }
    for (size_t index = first; index <= inIndex; ++index)
    {
        const int parent = index == 0 ? fStart : fLevels[index - 1].fFd.Get();
        Level& level = fLevels[index];
        XLinuxFd fd(::openat(parent, level.fName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | level.fFlags));
        if (!fd.IsOpen())
        {
            return errno;
        }
        struct stat status = {};
        if (::fstat(fd.Get(), &status) != 0)
        {
            return errno;
        }
        if (status.st_dev != level.fDevice || status.st_ino != level.fInode)
        {
            return ESTALE;
        }
        level.fFd = std::move(fd);
        ++fOpen;
        _CloseOldest();
    }
    return 0;
}

void XLinuxFolderTrail::_CloseOldest()
{
    // The deepest levels are the ones in use: the oldest open ones make room.
    for (size_t index = 0; fOpen > kOpenLevels && index < fLevels.size(); ++index)
    {
        if (fLevels[index].fFd.IsOpen())
        {
            fLevels[index].fFd.Reset();
            --fOpen;
        }
    }
}

} // namespace zorn
