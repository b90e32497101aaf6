#include "toolbox/files/VFileSystemNamespace.h"

#include "toolbox/files/IFile.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"

namespace zorn
{

namespace
{

bool EndsWith(const VString& inText, UniChar inChar)
{
    return !inText.IsEmpty() && inText.GetUniChar(inText.GetLength()) == inChar;
}

// Items bound to a file system are handed out only when they lie under its root by their real
// paths too: a link inside the root may lead anywhere.
template <class T>
T* Confined(T* inItem)
{
    if (inItem != nullptr && inItem->GetFileSystem() != nullptr &&
        !inItem->GetFileSystem()->IsRealPathAuthorized(inItem->GetPath()))
    {
        inItem->Release();
        return nullptr;
    }
    return inItem;
}

IFile* RetainFullPathFile(const VString& inPath)
{
    VFilePath path(inPath, FPS_POSIX);
    return path.IsFile() ? new VFile(path) : nullptr;
}

IFolder* RetainFullPathFolder(const VString& inPath)
{
    VFilePath path(inPath, FPS_POSIX);
    return path.IsFolder() ? new VFolder(path) : nullptr;
}

VString WithFinalSlash(const VString& inPath)
{
    VString path(inPath);
    if (!path.IsEmpty() && !EndsWith(path, u'/'))
    {
        path.AppendUniChar(u'/');
    }
    return path;
}

// A member of the definition object as a string; another type counts as absent (empty).
VString StringMember(const VJSONObject& inObject, const char* inName)
{
    VString text;
    VJSONValue value = inObject.GetProperty(VString(inName));
    if (value.IsString())
    {
        value.GetString(text);
    }
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Registration

VFileSystemNamespace::VFileSystemNamespace(VFileSystemNamespace* inParent)
    : fParent(RetainRefCountable(inParent))
{
    fMap.max_load_factor(1.0F);
}

VFileSystemNamespace::~VFileSystemNamespace()
{
    fMap.clear();
    ReleaseRefCountable(&fParent);
}

void VFileSystemNamespace::RegisterFileSystem(VFileSystem* inFileSystem)
{
    if (inFileSystem == nullptr)
    {
        return;
    }
    VRefPtr<VFileSystem> replaced;
    {
        StLocker<VCriticalSection> lock(&fLock);
        VRefPtr<VFileSystem>& entry = fMap[inFileSystem->GetName()];
        replaced = std::move(entry);
        entry = VRefPtr<VFileSystem>(inFileSystem);
    }
    // A replaced file system that deletes its root does so outside the lock.
}

VError VFileSystemNamespace::RegisterFileSystem(const VString& inName, IFolder* inRoot, uint32_t inOptions)
{
    VError error = VE_OK;
    VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(inName, inRoot, inOptions, 0, 0, &error), true);
    RegisterFileSystem(fileSystem.Get());
    return error;
}

void VFileSystemNamespace::UnregisterFileSystem(const VString& inName)
{
    VRefPtr<VFileSystem> removed;
    StLocker<VCriticalSection> lock(&fLock);
    auto found = fMap.find(inName);
    if (found != fMap.end())
    {
        removed = std::move(found->second);
        fMap.erase(found);
    }
}

// ---------------------------------------------------------------------------------------------
// Look-ups

VFileSystem* VFileSystemNamespace::RetainFileSystem(const VString& inName, uint32_t inLookup) const
{
    for (const VFileSystemNamespace* space = this; space != nullptr;
         space = (inLookup & kSearchParents) != 0 ? space->fParent : nullptr)
    {
        StLocker<VCriticalSection> lock(&space->fLock);
        auto found = space->fMap.find(inName);
        if (found != space->fMap.end())
        {
            VFileSystem* fileSystem = found->second.Get();
            if ((inLookup & kExcludePrivate) != 0 && (fileSystem->GetOptions() & VFileSystem::kPrivate) != 0)
            {
                return nullptr;
            }
            return RetainRefCountable(fileSystem);
        }
    }
    return nullptr;
}

IFolder* VFileSystemNamespace::RetainFileSystemRootFolder(const VString& inName, uint32_t inLookup) const
{
    VRefPtr<VFileSystem> fileSystem(RetainFileSystem(inName, inLookup), true);
    return fileSystem.Get() != nullptr ? fileSystem->RetainRootFolder() : nullptr;
}

void VFileSystemNamespace::RetainMapOfFileSystems(FileSystemMap& ioMap, uint32_t inLookup) const
{
    if ((inLookup & kSearchParents) != 0 && fParent != nullptr)
    {
        fParent->RetainMapOfFileSystems(ioMap, inLookup);
    }
    StLocker<VCriticalSection> lock(&fLock);
    for (const auto& [name, fileSystem] : fMap)
    {
        if ((inLookup & kExcludePrivate) != 0 && (fileSystem->GetOptions() & VFileSystem::kPrivate) != 0)
        {
            continue;
        }
        ioMap[name] = fileSystem;
    }
}

bool VFileSystemNamespace::ParsePathWithFileSystem(const VString& inPath, VRefPtr<VFileSystem>& outFileSystem,
                                                   VString& outRelative, uint32_t inLookup) const
{
    if (inPath.IsEmpty() || inPath.GetUniChar(1) != u'/')
    {
        return false;
    }
    const int32_t second = inPath.FindUniChar(u'/', 2);
    if (second <= 0)
    {
        return false;
    }
    VString name;
    VString relative;
    inPath.GetSubString(2, second - 2, name);
    inPath.GetSubString(second + 1, inPath.GetLength() - second, relative);

    VRefPtr<VFileSystem> fileSystem(RetainFileSystem(name, inLookup), true);
    if (fileSystem.Get() == nullptr)
    {
        return false;
    }
    // The relative part may not leave the root: neither ".." above it nor a full path.
    const VFilePath root = fileSystem->GetRoot();
    const VFilePath joined(root, relative, FPS_POSIX, true);
    VString normalised;
    if (!joined.IsValid() || !joined.IsSameOrChildOf(root) || !joined.GetRelativePosixPath(root, normalised))
    {
        return false;
    }
    outFileSystem = std::move(fileSystem);
    outRelative = normalised;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files and folders by path

IFile* VFileSystemNamespace::RetainFile(const VString& inPath, IFolder* inBase, uint32_t inLookup,
                                        bool inAllowFullPath) const
{
    if (inPath.IsEmpty())
    {
        return nullptr;
    }
    if (inPath.GetUniChar(1) != u'/')
    {
        if (inBase != nullptr)
        {
            return Confined(inBase->_RetainRelativeIFile(inPath, FPS_POSIX));
        }
        return inAllowFullPath ? RetainFullPathFile(inPath) : nullptr;
    }
    VRefPtr<VFileSystem> fileSystem;
    VString relative;
    if (ParsePathWithFileSystem(inPath, fileSystem, relative, inLookup) && !relative.IsEmpty() &&
        !EndsWith(relative, u'/'))
    {
        VRefPtr<IFolder> root(fileSystem->RetainRootFolder(), true);
        return root.Get() != nullptr ? Confined(root->_RetainRelativeIFile(relative, FPS_POSIX)) : nullptr;
    }
    return inAllowFullPath && inBase == nullptr ? RetainFullPathFile(inPath) : nullptr;
}

IFolder* VFileSystemNamespace::RetainFolder(const VString& inPath, IFolder* inBase, uint32_t inLookup,
                                            bool inAllowFullPath) const
{
    if (inPath.IsEmpty())
    {
        return nullptr;
    }
    const VString path = WithFinalSlash(inPath);
    if (path.GetUniChar(1) != u'/')
    {
        if (inBase != nullptr)
        {
            return Confined(inBase->RetainRelativeFolder(path, FPS_POSIX, nullptr));
        }
        return inAllowFullPath ? RetainFullPathFolder(path) : nullptr;
    }
    VRefPtr<VFileSystem> fileSystem;
    VString relative;
    if (ParsePathWithFileSystem(path, fileSystem, relative, inLookup))
    {
        VRefPtr<IFolder> root(fileSystem->RetainRootFolder(), true);
        return root.Get() != nullptr ? Confined(root->RetainRelativeFolder(relative, FPS_POSIX, nullptr))
                                     : nullptr;
    }
    return inAllowFullPath && inBase == nullptr ? RetainFullPathFolder(path) : nullptr;
}

IFile* VFileSystemNamespace::RetainFile(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                        IFolder* inBase, uint32_t inLookup, bool inAllowFullPath)
{
    if (inNamespace != nullptr)
    {
        return inNamespace->RetainFile(inPath, inBase, inLookup, inAllowFullPath);
    }
    if (inPath.IsEmpty())
    {
        return nullptr;
    }
    return inBase != nullptr ? Confined(inBase->_RetainRelativeIFile(inPath, FPS_POSIX))
                             : RetainFullPathFile(inPath);
}

IFolder* VFileSystemNamespace::RetainFolder(const VFileSystemNamespace* inNamespace, const VString& inPath,
                                            IFolder* inBase, uint32_t inLookup, bool inAllowFullPath)
{
    if (inNamespace != nullptr)
    {
        return inNamespace->RetainFolder(inPath, inBase, inLookup, inAllowFullPath);
    }
    if (inPath.IsEmpty())
    {
        return nullptr;
    }
    return inBase != nullptr ? Confined(inBase->RetainRelativeFolder(inPath, FPS_POSIX, nullptr))
                             : RetainFullPathFolder(inPath);
}

// ---------------------------------------------------------------------------------------------
// Definitions

VError VFileSystemNamespace::LoadFromDefinitionFile(IFile* inFile)
{
    if (inFile == nullptr)
    {
        return _ThrowError(VE_UNKNOWN_ERROR);
    }
    VJSONValue definitions;
    const VError error = VJSONImporter::ParseFile(inFile, definitions, 0);
    if (error != VE_OK)
    {
        auto* failure = new VErrorBase(VE_FS_BAD_DEFINITION_FILE);
        VString path;
        inFile->GetPlatformPath(path, FPS_NATIVE);
        failure->SetString(VString("path"), path);
        _PushRetainedError(failure);
        return error;
    }
    if (definitions.IsArray())
    {
        LoadFromJSONArray(definitions.GetArray());
    }
    return VE_OK;
}

void VFileSystemNamespace::LoadFromJSONArray(const VJSONArray* inArray)
{
    if (inArray == nullptr)
    {
        return;
    }
    StLocker<VCriticalSection> lock(&fLock);
    for (size_t index = 0; index < inArray->GetCount(); ++index)
    {
        const VJSONValue element = inArray->GetAt(index);
        const VJSONObject* definition = element.GetObject();
        if (definition == nullptr)
        {
            continue;
        }
        const VString name = StringMember(*definition, "name");
        VString path = StringMember(*definition, "path");
        const VString parentName = StringMember(*definition, "parent");
        const VJSONValue writable = definition->GetProperty(VString("writable"));
        if (!path.IsEmpty() && !EndsWith(path, u'/') && !EndsWith(path, u'\\'))
        {
            path.AppendUniChar(u'/');
        }

        VRefPtr<IFolder> root;
        if (!parentName.IsEmpty())
        {
            VRefPtr<VFileSystem> parent(RetainFileSystem(parentName, kSearchParents), true);
            VRefPtr<IFolder> parentRoot(parent.Get() != nullptr ? parent->RetainRootFolder() : nullptr, true);
            if (parentRoot.Get() == nullptr)
            {
                continue;
            }
            root.Adopt(Confined(parentRoot->RetainRelativeFolder(path, FPS_POSIX, nullptr)));
        }
        else
        {
            root.Adopt(RetainFullPathFolder(path));
        }
        if (root.Get() == nullptr)
        {
            continue;
        }
        // A bad name has its error pushed by the registration; the next element follows.
        RegisterFileSystem(name, root.Get(),
                           writable.IsBool() && writable.GetBool() ? VFileSystem::kWritable : 0);
    }
}

} // namespace zorn
