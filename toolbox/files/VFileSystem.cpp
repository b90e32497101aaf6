#include "toolbox/files/VFileSystem.h"

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <string>

namespace zorn
{

VFileSystem* VFileSystem::Create(const VString& inName, IFolder* inRoot, uint32_t inOptions, size_t inQuota,
                                 size_t inUsed, VError* outError)
{
    if (inName.IsNull() || inName.GetLength() == 0 || inName.FindUniChar(u'/') > 0)
    {
        auto* error = new VErrorBase(VE_FS_BAD_NAME);
        error->SetString(VString("name"), inName);
        _PushRetainedError(error);
        if (outError != nullptr)
        {
            *outError = VE_FS_BAD_NAME;
        }
        return nullptr;
    }
    if (outError != nullptr)
    {
        *outError = VE_OK;
    }
    return new VFileSystem(inName, inRoot, inOptions, inQuota, inUsed);
}

VFileSystem::VFileSystem(const VString& inName, IFolder* inRoot, uint32_t inOptions, size_t inQuota,
                         size_t inUsed)
    : fName(inName), fRoot(RetainRefCountable(inRoot)), fQuota(inQuota), fOptions(inOptions),
      fRemaining(inQuota > inUsed ? inQuota - inUsed : 0)
{
    if ((inOptions & kAttributesCache) != 0)
    {
        VFileSystem* rootSystem = inRoot != nullptr ? inRoot->GetFileSystem() : nullptr;
        if (rootSystem != nullptr && rootSystem->GetAttributesCache() != nullptr)
        {
            fCache = VRefPtr<VFileAttributesCache>(rootSystem->GetAttributesCache());
        }
        else
        {
            fCache = VRefPtr<VFileAttributesCache>(new VFileAttributesCache, true);
        }
    }
}

VFileSystem::~VFileSystem()
{
    if ((fOptions & kDeleteRootOnClose) != 0)
    {
        // A temporary root goes with its contents; what cannot be deleted stays, silently: a
        // destructor has no caller to report to.
        auto* folder = dynamic_cast<VFolder*>(fRoot);
        if (folder != nullptr && folder->Exists())
        {
            StErrorContextInstaller nothingKept(false, true);
            folder->Delete(true);
        }
    }
    ReleaseRefCountable(&fRoot);
}

VFilePath VFileSystem::GetRoot() const
{
    return fRoot != nullptr ? fRoot->GetPath() : VFilePath();
}

IFolder* VFileSystem::RetainRootFolder() const
{
    if (fRoot == nullptr)
    {
        return nullptr;
    }
    return new VFolder(fRoot->GetPath(), const_cast<VFileSystem*>(this));
}

bool VFileSystem::IsAuthorized(const VFilePath& inPath) const
{
    return inPath.IsSameOrChildOf(GetRoot());
}

bool VFileSystem::IsRealPathAuthorized(const VFilePath& inPath) const
{
    return IsAuthorized(inPath) && IsRealPathInside(inPath, GetRoot());
}

bool VFileSystem::IsRealPathInside(const VFilePath& inPath, const VFilePath& inFolder)
{
    std::string root;
    std::string item;
    if (!XLinuxFile::RealPath(XLinuxFile::AllocatePosixPathFromFilePath(inFolder), false, root) ||
        !XLinuxFile::RealPath(XLinuxFile::AllocatePosixPathFromFilePath(inPath), false, item) ||
        root.empty() || item.empty())
    {
        return false;
    }
    while (root.size() > 1 && root.back() == '/')
    {
        root.pop_back();
    }
    while (item.size() > 1 && item.back() == '/')
    {
        item.pop_back();
    }
    if (root == "/")
    {
        return true;
    }
    return item.compare(0, root.size(), root) == 0 &&
           (item.size() == root.size() || item[root.size()] == '/');
}

VError VFileSystem::Request(size_t inBytes)
{
    if ((fOptions & kWritable) == 0)
    {
        return VE_FS_NOT_WRITABLE;
    }
    if (fQuota == 0)
    {
        return VE_OK;
    }
    std::lock_guard lock(fMutex);
    if (fRemaining < inBytes)
    {
        return VE_FS_QUOTA_EXCEEDED;
    }
    fRemaining -= inBytes;
    return VE_OK;
}

VError VFileSystem::Relinquish(size_t inBytes)
{
    if ((fOptions & kWritable) == 0)
    {
        return VE_FS_NOT_WRITABLE;
    }
    if (fQuota != 0)
    {
        // Giving back more than was taken never makes room beyond the quota.
        std::lock_guard lock(fMutex);
        fRemaining = inBytes >= fQuota - fRemaining ? fQuota : fRemaining + inBytes;
    }
    return VE_OK;
}

} // namespace zorn
