#include "toolbox/files/VLibrary.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxLibrary.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

VLibrary::VLibrary(const VFilePath& inPath)
{
    fPath.FromFilePath(inPath);
}

VLibrary::~VLibrary()
{
    Unload();
}

bool VLibrary::Load()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (!fLoaded)
    {
        fLoaded = fImpl->Load(fPath);
    }
    return fLoaded;
}

void VLibrary::Unload()
{
    StLocker<VCriticalSection> lock(&fLock);
    if (fLoaded)
    {
        fImpl->Unload();
        fLoaded = false;
        fResourceFileRequested = false;
    }
}

bool VLibrary::IsLoaded() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fLoaded;
}

void* VLibrary::GetProcAddress(const VString& inName) const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fLoaded ? fImpl->GetProcAddress(inName) : nullptr;
}

bool VLibrary::IsSameFile(const VFilePath& inPath) const
{
    StLocker<VCriticalSection> lock(&fLock);
    VString mine;
    VString theirs;
    fPath.GetPath(mine);
    inPath.GetPath(theirs);
    return mine.EqualToStringRaw(theirs);
}

VFolder* VLibrary::RetainFolder(BundleFolderKind inKind) const
{
    StLocker<VCriticalSection> lock(&fLock);
    if (!fLoaded)
    {
        return nullptr;
    }
    if (inKind == kBUNDLE_FOLDER)
    {
        return fImpl->HasBundle() ? new VFolder(fPath) : nullptr;
    }
    const std::string posix = fImpl->GetBundleFolderPosixPath(inKind);
    if (posix.empty())
    {
        return nullptr;
    }
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(posix.c_str(), true, path);
    return path.IsValid() ? new VFolder(path) : nullptr;
}

VFile* VLibrary::RetainExecutableFile() const
{
    StLocker<VCriticalSection> lock(&fLock);
    if (!fLoaded || !fImpl->HasBundle())
    {
        return nullptr;
    }
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(fImpl->GetExecutablePosixPath().c_str(), false, path);
    return path.IsValid() ? new VFile(path) : nullptr;
}

VFile* VLibrary::RetainResourceFile()
{
    StLocker<VCriticalSection> lock(&fLock);
    fResourceFileRequested = true;
    return nullptr;
}

bool VLibrary::WasResourceFileRequested() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fResourceFileRequested;
}

} // namespace zorn
