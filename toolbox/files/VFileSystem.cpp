#include "toolbox/files/VFileSystem.h"

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

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
    // Deleting the root with its contents needs the folder back end; until then option 4 is kept
    // and not acted on.
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
        std::lock_guard lock(fMutex);
        fRemaining += inBytes;
    }
    return VE_OK;
}

} // namespace zorn
