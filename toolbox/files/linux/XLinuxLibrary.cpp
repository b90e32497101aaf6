// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/files/linux/XLinuxLibrary.h"
#include "toolbox/files/linux/XLinuxFd.h"

#include "platform/Bundle.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace zorn
{

namespace
{

// Every module's symbols are global, resolved when first called.
constexpr int kOpenFlags = RTLD_LAZY | RTLD_GLOBAL;

constexpr std::string_view kFrameworkExtension = ".framework";

void PushLoadError(const VFilePath& inPath, const std::string& inReason)
{
    VFileError* error = new VFileError(inPath, VE_LIBRARY_CANNOT_LOAD);
    if (!inReason.empty())
    {
        error->SetString(VString("reason"), VString(inReason.data(), inReason.size(), CharSet::VTC_UTF_8));
    }
    _PushRetainedError(error);
}

// Adds mode bits to a module; a failure is pushed as the file layer's and the loading goes on.
void WidenMode(const std::string& inPosixPath, const VFilePath& inPath, mode_t inMode)
{
    PushFileErrorForCode(inPath, XLinuxFile(inPosixPath).SetPermissions(static_cast<uint16_t>(inMode)),
                         VE_FILE_CANNOT_SET_ATTRIBUTES);
}

VFilePath FilePathOfPosix(const std::string& inPosixPath, bool inIsFolder)
{
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(inPosixPath.c_str(), inIsFolder, path);
    return path;
}

// The folder's last component without its trailing '/'.
std::string_view LastComponent(std::string_view inFolder)
{
    while (inFolder.size() > 1 && inFolder.back() == '/')
    {
        inFolder.remove_suffix(1);
    }
    size_t slash = inFolder.rfind('/');
    return slash == std::string_view::npos ? inFolder : inFolder.substr(slash + 1);
}

// Reads a regular file of at most kMaxXSymStubSize bytes without following a final link; false
// for anything else.
bool ReadSmallFile(const std::string& inPath, std::string& outContent)
{
    const XLinuxFd fd(::open(inPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsOpen())
    {
        return false;
    }
    struct stat status = {};
    bool ok = ::fstat(fd.Get(), &status) == 0 && S_ISREG(status.st_mode) &&
              static_cast<uint64_t>(status.st_size) <= XLinuxLibrary::kMaxXSymStubSize;
    outContent.clear();
    char buffer[4096];
    while (ok && outContent.size() <= XLinuxLibrary::kMaxXSymStubSize)
    {
        ssize_t count = ::read(fd.Get(), buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            ok = count == 0;
            break;
        }
        outContent.append(buffer, static_cast<size_t>(count));
    }
    return ok && outContent.size() <= XLinuxLibrary::kMaxXSymStubSize;
}

// Replaces the file at inPath by a symbolic link to inTarget: the link is made under a hidden
// sibling name and renamed over the file.
VError ReplaceWithLink(const std::string& inPath, const std::string& inTarget)
{
    static std::atomic<uint32_t> sCounter{0};
    size_t slash = inPath.rfind('/');
    std::string temporary = inPath.substr(0, slash + 1) + "." + inPath.substr(slash + 1) + ".xsym-" +
                            std::to_string(::getpid()) + "-" + std::to_string(sCounter.fetch_add(1));
    if (::symlink(inTarget.c_str(), temporary.c_str()) != 0)
    {
        return xlinux::LastErrno();
    }
    if (::rename(temporary.c_str(), inPath.c_str()) != 0)
    {
        VError error = xlinux::LastErrno();
        ::unlink(temporary.c_str());
        return error;
    }
    return VE_OK;
}

} // namespace

// Stubs

XLinuxLibrary::EXSymStub XLinuxLibrary::ReadXSymStub(std::string_view inContent,
                                                     std::string_view inEntryFolder, std::string& outTarget)
{
    outTarget.clear();
    if (!inContent.starts_with("XSym"))
    {
        return EXSymStub::kNotAStub;
    }
    // The fourth '\n'-separated line.
    size_t start = 0;
    for (int line = 0; line < 3; ++line)
    {
        size_t newline = inContent.find('\n', start);
        if (newline == std::string_view::npos)
        {
            return EXSymStub::kDamaged;
        }
        start = newline + 1;
    }
    size_t end = inContent.find('\n', start);
    std::string_view target = inContent.substr(start, end == std::string_view::npos ? end : end - start);
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string_view::npos)
    {
        return EXSymStub::kOutside;
    }
    // Resolved lexically from the entry's folder, the target must stay below the framework folder.
    size_t depth = 0;
    auto walk = [&depth](std::string_view inPath)
    {
        while (!inPath.empty())
        {
            size_t slash = inPath.find('/');
            std::string_view part = inPath.substr(0, slash);
            inPath = slash == std::string_view::npos ? std::string_view() : inPath.substr(slash + 1);
            if (part.empty() || part == ".")
            {
                continue;
            }
            if (part == "..")
            {
                if (depth == 0)
                {
                    return false;
                }
                --depth;
            }
            else
            {
                ++depth;
            }
        }
        return true;
    };
    if (!walk(inEntryFolder) || !walk(target) || depth == 0)
    {
        return EXSymStub::kOutside;
    }
    outTarget.assign(target);
    return EXSymStub::kTarget;
}

VError XLinuxLibrary::RepairFrameworkLinks(const std::string& inFrameworkFolder)
{
    std::string folder = inFrameworkFolder;
    if (folder.empty() || folder.back() != '/')
    {
        folder += '/';
    }
    std::string_view name = LastComponent(folder);
    if (name.ends_with(kFrameworkExtension))
    {
        name.remove_suffix(kFrameworkExtension.size());
    }
    const std::pair<std::string, std::string> entries[] = {
        {"Versions/Current", "Versions"}, {"Resources", ""}, {std::string(name), ""}};
    for (const auto& [entry, entryFolder] : entries)
    {
        if (entry.empty())
        {
            continue;
        }
        const std::string path = folder + entry;
        struct stat status = {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        {
            continue; // missing, a real link or a real folder: nothing to repair
        }
        std::string content;
        std::string target;
        if (!ReadSmallFile(path, content))
        {
            continue;
        }
        EXSymStub kind = ReadXSymStub(content, entryFolder, target);
        if (kind == EXSymStub::kNotAStub)
        {
            continue;
        }
        const VFilePath stubPath = FilePathOfPosix(path, false);
        if (kind != EXSymStub::kTarget)
        {
            _PushRetainedError(new VFileError(stubPath, VE_LIBRARY_BAD_XSYM_STUB));
            return VE_LIBRARY_BAD_XSYM_STUB;
        }
        VError error = ReplaceWithLink(path, target);
        if (error != VE_OK)
        {
            return PushFileErrorForCode(stubPath, error, VE_FILE_CANNOT_CREATE_ALIAS);
        }
    }
    return VE_OK;
}

// Loading

bool XLinuxLibrary::Load(const VFilePath& inPath)
{
    Unload();
    if (inPath.IsFolder())
    {
        return _LoadBundle(inPath);
    }
    if (!inPath.IsFile())
    {
        return false;
    }
    const std::string posix = XLinuxFile::AllocatePosixPathFromFilePath(inPath);
    struct stat status = {};
    if (::stat(posix.c_str(), &status) == 0 && (status.st_mode & 0555) != 0555)
    {
        WidenMode(posix, inPath, (status.st_mode & 07777) | 0555);
    }
    return _Open(posix, inPath);
}

bool XLinuxLibrary::_LoadBundle(const VFilePath& inPath)
{
    std::string folder = XLinuxFile::AllocatePosixPathFromFilePath(inPath);
    if (folder.empty() || folder.back() != '/')
    {
        folder += '/';
    }
    struct stat status = {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    {
        PushLoadError(inPath, "not a bundle folder: " + folder);
        return false;
    }
    const std::string_view name = LastComponent(folder);
    const bool isFramework = name.size() > kFrameworkExtension.size() && name.ends_with(kFrameworkExtension);
    std::string executable;
    if (isFramework)
    {
        // A damaged stub is reported by the repair and does not stop the loading.
        RepairFrameworkLinks(folder);
        executable = folder + std::string(name.substr(0, name.size() - kFrameworkExtension.size()));
        if (::stat(executable.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        {
            PushLoadError(inPath, "no framework executable: " + executable);
            return false;
        }
        if ((status.st_mode & 0500) != 0500)
        {
            WidenMode(executable, FilePathOfPosix(executable, false), (status.st_mode & 07777) | 0500);
        }
    }
    else
    {
        std::string reason;
        executable = platform::GetBundleExecutablePath(folder.substr(0, folder.size() - 1), &reason);
        if (executable.empty())
        {
            PushLoadError(inPath, reason);
            return false;
        }
    }
    if (!_Open(executable, inPath))
    {
        return false;
    }
    fHasBundle = true;
    fIsFramework = isFramework;
    fBundleFolder = std::move(folder);
    fExecutablePath = std::move(executable);
    return true;
}

bool XLinuxLibrary::_Open(const std::string& inPosixPath, const VFilePath& inReportedPath)
{
    ::dlerror();
    fHandle = ::dlopen(inPosixPath.c_str(), kOpenFlags);
    if (fHandle == nullptr)
    {
        const char* reason = ::dlerror();
        PushLoadError(inReportedPath, reason == nullptr ? std::string() : std::string(reason));
        return false;
    }
    return true;
}

void XLinuxLibrary::Unload()
{
    if (fHandle != nullptr)
    {
        ::dlclose(fHandle);
        fHandle = nullptr;
    }
    fHasBundle = false;
    fIsFramework = false;
    fBundleFolder.clear();
    fExecutablePath.clear();
}

void* XLinuxLibrary::GetProcAddress(const VString& inName) const
{
    if (fHandle == nullptr)
    {
        return nullptr;
    }
    // The name's UTF-8 form is as long as it needs, whatever its characters.
    const std::string name = to_string(inName);
    return ::dlsym(fHandle, name.c_str());
}

std::string XLinuxLibrary::GetBundleFolderPosixPath(uint32_t inKind) const
{
    if (!fHasBundle)
    {
        return {};
    }
    const std::string contents = fIsFramework ? fBundleFolder : fBundleFolder + "Contents/";
    switch (inKind)
    {
    case 1:
        return fBundleFolder;
    case 2:
        return fExecutablePath.substr(0, fExecutablePath.rfind('/') + 1);
    case 3:
        return contents + "Resources/";
    case 5:
        return contents + "PlugIns/";
    case 6:
        return contents + "Frameworks/";
    case 7:
        return contents + "SharedSupport/";
    default:
        return {};
    }
}

} // namespace zorn
