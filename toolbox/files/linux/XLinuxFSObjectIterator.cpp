// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxFSObjectIterator.h"
#include "toolbox/files/linux/XLinuxFd.h"

#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zorn
{

namespace
{

std::atomic<bool> sIgnoreEntryTypes{false};

// The real path of an open descriptor; empty when the system does not tell (a path longer than
// a page, for instance).
std::string RealPathOfDescriptor(int inFd)
{
    const std::string link = "/proc/self/fd/" + std::to_string(inFd);
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<size_t>(length) >= text.size() || text[0] != '/')
    {
        return {};
    }
    text.resize(static_cast<size_t>(length));
    return text;
}

unsigned char TypeOfMode(mode_t inMode)
{
    if (S_ISDIR(inMode))
    {
        return DT_DIR;
    }
    if (S_ISREG(inMode))
    {
        return DT_REG;
    }
    return S_ISLNK(inMode) ? DT_LNK : DT_UNKNOWN;
}

bool NameIsInvisible(const std::string& inPath)
{
    const size_t slash = inPath.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < inPath.size() && inPath[start] == '.';
}

} // namespace

void XLinuxFSObjectIterator::SetIgnoreEntryTypesForTests(bool inIgnore)
{
    sIgnoreEntryTypes = inIgnore;
}

XLinuxFSObjectIterator::XLinuxFSObjectIterator(const std::string& inPosixPath, const VFilePath& inPath,
                                               const VFilePath* inRoot, uint32_t inOptions)
    : fOptions(inOptions), fConfined(inRoot != nullptr)
{
    if (fConfined)
    {
        fRoot = *inRoot;
    }
    if (!inPath.IsFolder())
    {
        return;
    }
    const std::string& given = inPosixPath;
    XLinuxFd opened(XLinuxFolder::OpenPath(given, O_RDONLY | O_DIRECTORY));
    if (!opened.IsOpen())
    {
        return;
    }
    fStream = ::fdopendir(opened.Get());
    if (fStream == nullptr)
    {
        return;
    }
    const int fd = opened.Release(); // the stream owns it now
    fRealPath = RealPathOfDescriptor(fd);
    if (fRealPath.empty())
    {
        fRealPath = given;
        fFolderPath = inPath;
    }
    else
    {
        XLinuxFile::GetFilePathFromPosixPath(fRealPath.c_str(), true, fFolderPath);
    }
    if (fRealPath.back() != '/')
    {
        fRealPath += '/';
    }
    if (fConfined)
    {
        std::string root;
        if (XLinuxFile::RealPath(XLinuxFile::AllocatePosixPathFromFilePath(fRoot), true, root) &&
            !root.empty())
        {
            while (root.size() > 1 && root.back() == '/')
            {
                root.pop_back();
            }
            fRootRealPath = root == "/" ? std::string() : root;
            fHasRootPath = true;
        }
    }
}

XLinuxFSObjectIterator::~XLinuxFSObjectIterator()
{
    if (fStream != nullptr)
    {
        ::closedir(fStream);
    }
}

bool XLinuxFSObjectIterator::_IsConfined(const std::string& inRealPath) const
{
    // The root's real path is kept without its final '/' ("" for "/"): an item lies inside when it
    // is the root, or the root followed by '/' begins its path.
    const size_t length = fRootRealPath.size();
    if (inRealPath.compare(0, length, fRootRealPath) != 0)
    {
        return false;
    }
    return inRealPath.size() == length || inRealPath[length] == '/';
}

bool XLinuxFSObjectIterator::GetNextPath(VFilePath& outPath, std::string& outPosixPath, bool& outIsFolder)
{
    if (fStream == nullptr)
    {
        return false;
    }
    for (;;)
    {
        errno = 0;
        const dirent* entry = ::readdir(fStream);
        if (entry == nullptr)
        {
            return false;
        }
        if (_Accept(*entry, outPath, outPosixPath, outIsFolder))
        {
            return true;
        }
    }
}

bool XLinuxFSObjectIterator::_Accept(const dirent& inEntry, VFilePath& outPath, std::string& outPosixPath,
                                     bool& outIsFolder)
{
    const char* name = inEntry.d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
    {
        return false;
    }
    unsigned char type = sIgnoreEntryTypes ? static_cast<unsigned char>(DT_UNKNOWN) : inEntry.d_type;
    if (type != DT_UNKNOWN && type != DT_DIR && type != DT_REG && type != DT_LNK)
    {
        return false;
    }
    const bool invisibleAllowed = (fOptions & kInvisible) != 0;
    if (!invisibleAllowed && name[0] == '.')
    {
        return false;
    }
    struct stat status = {};
    if (type == DT_UNKNOWN)
    {
        if (::fstatat(::dirfd(fStream), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        {
            return false;
        }
        type = TypeOfMode(status.st_mode);
        if (type == DT_UNKNOWN)
        {
            return false;
        }
    }
    outPosixPath = fRealPath + name;
    bool resolved = false;
    if ((fOptions & kResolveLinks) != 0 && type == DT_LNK)
    {
        // realpath follows the whole chain without opening anything: a loop or a dangling link
        // fails, and a FIFO at the end is never opened.
        std::unique_ptr<char, decltype(&std::free)> target(::realpath(outPosixPath.c_str(), nullptr),
                                                           &std::free);
        if (target == nullptr || ::lstat(target.get(), &status) != 0)
        {
            return false;
        }
        outPosixPath = target.get();
        type = TypeOfMode(status.st_mode);
        if (type != DT_DIR && type != DT_REG)
        {
            return false;
        }
        if (!invisibleAllowed && NameIsInvisible(outPosixPath))
        {
            return false;
        }
        resolved = true;
    }
    outIsFolder = type == DT_DIR;
    if ((outIsFolder && (fOptions & kFolders) == 0) || (!outIsFolder && (fOptions & kFiles) == 0))
    {
        return false;
    }
    if (fHasRootPath && !_IsConfined(outPosixPath))
    {
        return false;
    }
    if (resolved)
    {
        XLinuxFile::GetFilePathFromPosixPath(outPosixPath.c_str(), outIsFolder, outPath);
    }
    else
    {
        VString text;
        XLinuxFile::DecodeNameBytes(name, std::strlen(name), text);
        // The colon form holds a name's ':' as '/'.
        text.Exchange(u':', u'/');
        outPath = fFolderPath;
        if (!(outIsFolder ? outPath.ToSubFolder(text) : outPath.ToSubFile(text)))
        {
            return false;
        }
    }
    if (!outPath.IsValid())
    {
        return false;
    }
    if (outIsFolder)
    {
        outPosixPath += '/';
    }
    return !fConfined || fHasRootPath || outPath.IsChildOf(fRoot);
}

} // namespace zorn
