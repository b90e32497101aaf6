#include "toolbox/files/VFolder.h"

#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VURL.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFolder.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

namespace zorn
{

namespace
{

constexpr VError kNotImplemented = MakeVError(kCOMPONENT_ZORN, 2);
constexpr VError kCannotSetTimes = MakeVError(kCOMPONENT_ZORN, 608);
constexpr VError kCannotResolveAlias = MakeVError(kCOMPONENT_ZORN, 611);

// Walker options.
constexpr uint32_t kRecursive = 1;
constexpr uint32_t kWalkFolders = 2;
constexpr uint32_t kWalkFiles = 4;
constexpr uint32_t kWalkInvisible = 8;
constexpr uint32_t kWalkResolve = 16;

// A relative text ends with its style's separator, so that it names a folder.
VString WithSeparator(const VString& inRelativePath, FilePathStyle inStyle)
{
    VString text(inRelativePath);
    const UniChar separator = inStyle == FPS_POSIX ? u'/' : u':';
    if (!text.IsEmpty() && text.GetUniChar(text.GetLength()) != separator)
    {
        text.AppendUniChar(separator);
    }
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------------------------

VFolder::VFolder(const VFilePath& inPath, VFileSystem* inFileSystem)
    : fPath(inPath), fFileSystem(RetainRefCountable(inFileSystem))
{
    _BindPath();
}

VFolder::VFolder(const VString& inFullPath, FilePathStyle inStyle) : fPath(inFullPath, inStyle)
{
    _BindPath();
}

VFolder::VFolder(const VFolder& inParent, const VString& inRelativePath, FilePathStyle inStyle)
    : fPath(inParent.GetPathRef(), WithSeparator(inRelativePath, inStyle), inStyle,
            inParent.GetFileSystem() != nullptr),
      fFileSystem(RetainRefCountable(inParent.GetFileSystem()))
{
    if (fFileSystem != nullptr && !fPath.IsSameOrChildOf(fFileSystem->GetRoot()))
    {
        ReleaseRefCountable(&fFileSystem);
    }
    _BindPath();
}

VFolder::VFolder(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem)
    : fImpl(std::string(inPosixPath != nullptr ? inPosixPath : "")), fPath(inPath),
      fFileSystem(RetainRefCountable(inFileSystem))
{
    if (inPosixPath == nullptr)
    {
        _BindPath();
    }
}

VFolder::VFolder(const VFolder& inOther)
    : VObject(inOther), IFolder(inOther), fPath(inOther.fPath),
      fFileSystem(RetainRefCountable(inOther.fFileSystem))
{
    _BindPath();
}

void VFolder::_BindPath()
{
    fImpl->SetPosixPathBytes(XLinuxFile::AllocatePosixPathFromFilePath(fPath));
}

VFolder::~VFolder()
{
    ReleaseRefCountable(&fFileSystem);
}

VError VFolder::_Report(VError inCode, VError inDefault) const
{
    return PushFileErrorForCode(fPath, inCode, inDefault);
}

VError VFolder::_Push(VError inCode) const
{
    _PushRetainedError(new VFileError(fPath, inCode));
    return inCode;
}

// ---------------------------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------------------------

void VFolder::GetPlatformPathOf(const VFilePath& inPath, FilePathStyle inStyle, VString& outPath)
{
    if (inStyle == FPS_POSIX)
    {
        inPath.GetPosixPath(outPath);
    }
    else if (inStyle == FPS_NATIVE)
    {
        inPath.GetPath(outPath);
    }
    else
    {
        outPath.Clear();
    }
}

VString VFolder::PathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem,
                                    const VString& inPosixPath)
{
    VString relative;
    if (inFileSystem != nullptr && inPath.IsSameOrChildOf(inFileSystem->GetRoot()) &&
        inPath.GetRelativePosixPath(inFileSystem->GetRoot(), relative))
    {
        return VString("/") + inFileSystem->GetName() + VString("/") + relative;
    }
    return inPosixPath;
}

IFolder* VFolder::RetainParentOf(const VFilePath& inPath, VFileSystem* inFileSystem, bool inStayInFileSystem)
{
    VFilePath parent;
    if (!inPath.GetParent(parent))
    {
        return nullptr;
    }
    if (inFileSystem == nullptr || inFileSystem->IsAuthorized(parent))
    {
        return new VFolder(parent, inFileSystem);
    }
    return inStayInFileSystem ? nullptr : new VFolder(parent);
}

void VFolder::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    if (inStyle == FPS_POSIX && !fImpl->GetPosixPathBytes().empty())
    {
        fImpl->GetPosixPath(outPath);
        return;
    }
    GetPlatformPathOf(fPath, inStyle, outPath);
}

VString VFolder::GetPathWithFileSystem() const
{
    VString posix;
    GetPlatformPath(posix, FPS_POSIX);
    return PathWithFileSystem(fPath, fFileSystem, posix);
}

IFolder* VFolder::RetainParentFolder(bool inStayInFileSystem) const
{
    return RetainParentOf(fPath, fFileSystem, inStayInFileSystem);
}

VFolder* VFolder::RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                       VFileSystem* inFileSystem) const
{
    VFileSystem* fileSystem = inFileSystem != nullptr ? inFileSystem : fFileSystem;
    VFilePath path(fPath, WithSeparator(inRelativePath, inStyle), inStyle, fileSystem != nullptr);
    if (!path.IsFolder() || (fileSystem != nullptr && !fileSystem->IsAuthorized(path)))
    {
        return nullptr;
    }
    return new VFolder(path, fileSystem);
}

VFile* VFolder::RetainRelativeFile(const VString& inRelativePath, FilePathStyle inStyle) const
{
    VFilePath path(fPath, inRelativePath, inStyle, fFileSystem != nullptr);
    if (!path.IsFile() || (fFileSystem != nullptr && !fFileSystem->IsAuthorized(path)))
    {
        return nullptr;
    }
    return new VFile(path, fFileSystem);
}

IFile* VFolder::_RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const
{
    return RetainRelativeFile(inRelativePath, inStyle);
}

VError VFolder::GetURL(VString& outURL, bool inEncoded) const
{
    VURL(fPath).GetAbsoluteURL(outURL, inEncoded);
    return VE_OK;
}

VError VFolder::GetRelativeURL(const VFolder* inBase, VString& outURL, bool inEncoded) const
{
    VURL::GetURLRelativeTo(fPath, inBase, outURL, inEncoded);
    return VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Existence, creation, deletion
// ---------------------------------------------------------------------------------------------

bool VFolder::Exists() const
{
    return fPath.IsFolder() && fImpl->Exists(true);
}

VError VFolder::Create() const
{
    if (fImpl->Exists(true))
    {
        return VE_OK;
    }
    const VError made = fImpl->Create();
    // Another process may make the folder between the look and the creation (two programs making
    // one log folder's parents at once): it is there, as asked.
    if (made == MakeVErrorFromErrno(EEXIST) && fImpl->Exists(true))
    {
        return VE_OK;
    }
    return _Report(made, VE_FOLDER_CANNOT_CREATE);
}

VError VFolder::CreateRecursive(bool inMakeWritableByAll) const
{
    if (Exists())
    {
        return VE_OK;
    }
    VRefPtr<IFolder> parent(RetainParentFolder(false), true);
    if (parent.Get() != nullptr)
    {
        VError code = static_cast<VFolder*>(parent.Get())->CreateRecursive(inMakeWritableByAll);
        if (code != VE_OK)
        {
            return code;
        }
    }
    VError code = Create();
    if (code == VE_OK && inMakeWritableByAll)
    {
        code = MakeWritableByAll();
    }
    return code;
}

VError VFolder::MakeWritableByAll() const
{
    return _Report(fImpl->MakeWritableByAll(), VE_FOLDER_CANNOT_SET_ATTRIBUTES);
}

bool VFolder::IsEmpty() const
{
    if (!Exists())
    {
        return true;
    }
    constexpr uint32_t kEverything = kWalkFolders | kWalkFiles | kWalkInvisible;
    return !VFolderIterator(this, kEverything).IsValid() && !VFileIterator(this, kEverything).IsValid();
}

VError VFolder::DeleteContents(bool inRecursive) const
{
    VError code = VE_OK;
    if (inRecursive)
    {
        // Bit 32 is carried as the callers always have; no walker reads it.
        for (VFolderIterator folder(this, kWalkFolders | kWalkInvisible | 32);
             folder.IsValid() && code == VE_OK; ++folder)
        {
            code = folder->DeleteContents(true);
            VTaskMgr::Yield();
            if (code == VE_OK)
            {
                code = folder->Delete(false);
            }
        }
    }
    if (code == VE_OK)
    {
        for (VFileIterator file(this, kWalkFiles | kWalkInvisible | 32); file.IsValid() && code == VE_OK;
             ++file)
        {
            code = file->Delete();
        }
    }
    return code;
}

VError VFolder::_DeleteBackEnd() const
{
    return _Report(fImpl->Delete(), VE_FOLDER_CANNOT_DELETE);
}

VError VFolder::Delete(bool inRecursive) const
{
    if (IsEmpty())
    {
        return _DeleteBackEnd();
    }
    if (!inRecursive)
    {
        return _Push(VE_FOLDER_NOT_EMPTY);
    }
    VError code = DeleteContents(true);
    return code == VE_OK ? _DeleteBackEnd() : code;
}

VError VFolder::DeleteForced() const
{
    VError restore = VE_OK;
    VError code = fImpl->DeleteForced(&restore);
    // The parent's flags and mode, opened up for the walk, could not be put back.
    PushFileErrorForCode(fPath, restore, VE_FOLDER_CANNOT_SET_ATTRIBUTES);
    if (code == kNotImplemented)
    {
        code = DeleteContents(true);
        return code == VE_OK ? _DeleteBackEnd() : code;
    }
    return _Report(code, VE_FOLDER_CANNOT_DELETE);
}

VError VFolder::MoveToTrash() const
{
    if (!fImpl->Exists(true))
    {
        return VE_OK;
    }
    return _Report(fImpl->MoveToTrash(), VE_FOLDER_CANNOT_TRASH);
}

// ---------------------------------------------------------------------------------------------
// Rename, move, copy
// ---------------------------------------------------------------------------------------------

VError VFolder::Rename(const VString& inNewName, VFolder** outNew) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    VFilePath newPath(fPath);
    if (!newPath.SetName(inNewName))
    {
        return VE_FILE_BAD_NAME;
    }
    const VError code = fImpl->RenameTo(XLinuxFile::AllocatePosixPathFromFilePath(newPath));
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFolder(newPath, fFileSystem);
    }
    return PushFileErrorForCode(fPath, code, VE_FOLDER_CANNOT_RENAME,
                                [&](VFileError& ioError)
                                { ioError.SetString(VString("newname"), inNewName); });
}

bool VFolder::_TargetIn(const VFolder& inDestination, const VString& inName, VFilePath& outTarget) const
{
    outTarget = inDestination.fPath;
    VString name(inName);
    if (name.IsEmpty())
    {
        fPath.GetName(name);
    }
    return outTarget.ToSubFolder(name);
}

VError VFolder::Move(const VFolder& inDestination, VFolder** outNew) const
{
    return Move(inDestination, VString(), outNew);
}

VError VFolder::Move(const VFolder& inDestination, const VString& inNewName, VFolder** outNew) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    VFilePath target;
    if (!_TargetIn(inDestination, inNewName, target))
    {
        return VE_FILE_BAD_NAME;
    }
    const VError code = fImpl->Move(XLinuxFile::AllocatePosixPathFromFilePath(target));
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFolder(target, inDestination.fFileSystem);
    }
    return _Report(code, VE_FOLDER_CANNOT_RENAME);
}

VError VFolder::_CopyInto(const VFolder& inDestination, const VString& inName) const
{
    VFilePath target;
    if (!_TargetIn(inDestination, inName, target))
    {
        return VE_FILE_BAD_NAME;
    }
    return fImpl->CopyTo(XLinuxFile::AllocatePosixPathFromFilePath(target));
}

VError VFolder::_CheckDestination(const VFolder& inDestination, VFolder** outNew) const
{
    if (!IsSameFolder(&inDestination) && !inDestination.GetPathRef().IsChildOf(fPath) &&
        !fImpl->ContainsRealPath(inDestination.fImpl->GetPosixPathBytes()))
    {
        return VE_OK;
    }
    auto* error = new VFileError(fPath, VE_FOLDER_DESTINATION_IN_SOURCE);
    VString destination;
    inDestination.GetPathRef().GetPath(destination);
    error->SetString(VString("destination"), destination);
    _PushRetainedError(error);
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    return VE_FOLDER_DESTINATION_IN_SOURCE;
}

VError VFolder::CopyTo(const VFolder& inDestination, VFolder** outNew, uint32_t inOptions) const
{
    VString name;
    GetName(name);
    return CopyTo(inDestination, name, outNew, inOptions);
}

VError VFolder::CopyTo(const VFolder& inDestination, const VString& inNewName, VFolder** outNew,
                       uint32_t inOptions) const
{
    VError code = _CheckDestination(inDestination, outNew);
    if (code != VE_OK)
    {
        return code;
    }
    VRefPtr<VFolder> target(new VFolder(inDestination, inNewName, FPS_NATIVE), true);
    if ((inOptions & kCopyReplace) != 0 && target->Exists())
    {
        code = _ReplaceTarget(inDestination, *target, inOptions);
    }
    else if ((inOptions & kCopyReplace) != 0)
    {
        code = _CopyInto(inDestination, inNewName);
        if (code != VE_OK)
        {
            // The staged copy left nothing under the real name; should anything be there, it goes
            // before the copy is made again item by item.
            code = target->Exists() ? target->Delete(true) : VE_OK;
            if (code == VE_OK)
            {
                code = CopyContentsTo(*target, inOptions);
            }
        }
    }
    else
    {
        code = CopyContentsTo(*target, inOptions);
    }
    if (outNew != nullptr)
    {
        *outNew = target.Get();
        target->Retain();
    }
    return code;
}

VError VFolder::ExchangeWith(const VFolder& inOther, const VBusyRetry* inRetry) const
{
    const VBusyRetry standard;
    const VBusyRetry& retry = inRetry != nullptr ? *inRetry : standard;
    return _Report(XLinuxFolder::ExchangePaths(fImpl->GetPosixPathBytes(), inOther.fImpl->GetPosixPathBytes(),
                                               retry.fAttempts, retry.fBeforeRetry),
                   VE_FOLDER_CANNOT_RENAME);
}

VError VFolder::StageCopyBeside(const VFolder& inTarget, VFolder** outStaging) const
{
    *outStaging = nullptr;
    VFilePath parent;
    if (!inTarget.GetPathRef().GetParent(parent))
    {
        return _Push(VE_FILE_BAD_NAME);
    }
    std::string staging;
    std::string failedItem;
    const VError code = XLinuxFolder::StageCopy(
        fImpl->GetPosixPathBytes(), XLinuxFile::AllocatePosixPathFromFilePath(parent), staging, &failedItem);
    if (code != VE_OK)
    {
        VFilePath failed;
        XLinuxFile::GetFilePathFromPosixPath(failedItem.c_str(), false, failed);
        return PushFileErrorForCode(failedItem.empty() ? fPath : failed, code, VE_FILE_CANNOT_COPY);
    }
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(staging.c_str(), true, path);
    *outStaging = new VFolder(staging.c_str(), path, fFileSystem);
    return VE_OK;
}

VError VFolder::_ReplaceTarget(const VFolder& inDestination, const VFolder& inTarget,
                               uint32_t inOptions) const
{
    // The new tree is made whole under a hidden sibling, then exchanged with the old one, so a
    // failed copy never costs the old target.
    VString stagingName(XLinuxCopyEngine::MakeStagingName().c_str());
    VRefPtr<VFolder> staging(new VFolder(inDestination, stagingName, FPS_NATIVE), true);
    VError code = _CopyInto(inDestination, stagingName);
    if (code != VE_OK)
    {
        XLinuxFolder::RemoveTree(staging->fImpl->GetPosixPathBytes());
        code = CopyContentsTo(*staging, inOptions & ~kCopyReplace);
    }
    if (code == VE_OK)
    {
        code = _Report(XLinuxFolder::ExchangePaths(staging->fImpl->GetPosixPathBytes(),
                                                   inTarget.fImpl->GetPosixPathBytes()),
                       VE_FOLDER_CANNOT_RENAME);
    }
    // After the exchange the staging name holds the old tree; after a failure, the partial copy.
    VError removal = XLinuxFolder::RemoveTree(staging->fImpl->GetPosixPathBytes());
    if (code == VE_OK)
    {
        code = staging->_Report(removal, VE_FOLDER_CANNOT_DELETE);
    }
    return code;
}

VError VFolder::CopyContentsTo(const VFolder& inDestination, uint32_t inOptions) const
{
    if (!Exists())
    {
        return _Push(VE_FOLDER_NOT_FOUND);
    }
    VError code = VE_OK;
    if (inDestination.Exists())
    {
        code = _CheckDestination(inDestination, nullptr);
    }
    else
    {
        code = inDestination.Create();
    }
    if (code != VE_OK)
    {
        return code;
    }
    const bool goOn = (inOptions & kCopyGoOnAfterError) != 0;
    const uint32_t invisible = (inOptions & kCopySkipInvisible) != 0 ? 0 : kWalkInvisible;
    VError first = VE_OK;
    bool stopped = false;
    for (VFolderIterator folder(this, kWalkFolders | invisible); folder.IsValid(); ++folder)
    {
        VString name;
        folder->GetName(name);
        code = folder->CopyTo(inDestination, name, nullptr, inOptions);
        if (code != VE_OK && first == VE_OK)
        {
            first = code;
        }
        if (code != VE_OK && !goOn)
        {
            stopped = true;
            break;
        }
    }
    if (!stopped)
    {
        for (VFileIterator file(this, kWalkFiles | invisible); file.IsValid(); ++file)
        {
            code = file->CopyTo(inDestination, nullptr, inOptions);
            if (code != VE_OK && first == VE_OK)
            {
                first = code;
            }
            if (code != VE_OK && !goOn)
            {
                break;
            }
        }
    }
    return first;
}

bool VFolder::RevealInFinder(bool inSelectContent) const
{
    if (inSelectContent)
    {
        VFileIterator file(this, kWalkFiles | kWalkResolve);
        if (file.IsValid())
        {
            if (file->RevealInFinder())
            {
                return true;
            }
        }
        else
        {
            VFolderIterator folder(this, kWalkFolders | kWalkResolve);
            if (folder.IsValid() && folder->RevealInFinder(false))
            {
                return true;
            }
        }
    }
    return _Report(fImpl->RevealInFinder(), VE_FOLDER_CANNOT_REVEAL) == VE_OK;
}

// ---------------------------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------------------------

VError VFolder::GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const
{
    return _Report(fImpl->GetTimeAttributes(outModified, outCreated, outAccessed),
                   VE_FOLDER_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::SetTimeAttributes(const VTime* inModified, const VTime* inCreated,
                                  const VTime* inAccessed) const
{
    return _Report(fImpl->SetTimeAttributes(inModified, inCreated, inAccessed), kCannotSetTimes);
}

VError VFolder::GetVolumeCapacity(int64_t* outTotal) const
{
    return _Report(fImpl->GetVolumeCapacity(outTotal), VE_FOLDER_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::GetVolumeFreeSpace(int64_t* outFree, bool inWithQuotas) const
{
    return _Report(fImpl->GetVolumeFreeSpace(outFree, inWithQuotas), VE_FOLDER_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::MAC_SetPermissions(uint16_t inMode) const
{
    return _Report(fImpl->SetPermissions(inMode), VE_FOLDER_CANNOT_SET_ATTRIBUTES);
}

VError VFolder::MAC_GetPermissions(uint16_t* outMode) const
{
    return _Report(fImpl->GetPermissions(outMode), VE_FOLDER_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::Mac_GetOwner(uint32_t& outUid, uint32_t& outGid) const
{
    return _Report(fImpl->GetOwner(outUid, outGid), VE_FOLDER_CANNOT_GET_ATTRIBUTES);
}

VError VFolder::GetFolderAttributes(uint32_t& outAttributes) const
{
    return fImpl->GetFolderAttributes(outAttributes);
}

VError VFolder::SetFolderAttributes(uint32_t inAttributes) const
{
    return fImpl->SetFolderAttributes(inAttributes);
}

VError VFolder::IsHidden(bool& outHidden) const
{
    return fImpl->IsHidden(outHidden);
}

bool VFolder::IsWritableByAll() const
{
    return fImpl->IsWritableByAll();
}

bool VFolder::MAC_IsPackage() const
{
    return fImpl->IsPackage();
}

VFolder* VFolder::RetainSystemFolder(ESystemFolderKind inKind, bool inCreate)
{
    const std::string posix = XLinuxFolder::GetSystemFolderPosixPath(inKind, inCreate);
    if (posix.empty())
    {
        return nullptr;
    }
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(posix.c_str(), true, path);
    return path.IsValid() ? new VFolder(path) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Contents and iteration
// ---------------------------------------------------------------------------------------------

void VFolder::GetContents(std::vector<VRefPtr<VFile>>* outFiles,
                          std::vector<VRefPtr<VFolder>>* outFolders) const
{
    if (!Exists())
    {
        return;
    }
    if (outFiles != nullptr)
    {
        for (VFileIterator file(this, kWalkFiles); file.IsValid(); ++file)
        {
            outFiles->emplace_back(file.Current());
        }
    }
    if (outFolders != nullptr)
    {
        for (VFolderIterator folder(this, kWalkFolders); folder.IsValid(); ++folder)
        {
            outFolders->emplace_back(folder.Current());
        }
    }
}

void VFolder::GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders,
                          bool inIncludeInvisible) const
{
    if (!Exists())
    {
        return;
    }
    const uint32_t invisible = inIncludeInvisible ? kWalkInvisible : 0;
    if (outFiles != nullptr)
    {
        for (VFileIterator file(this, kWalkFiles | invisible); file.IsValid(); ++file)
        {
            outFiles->emplace_back(static_cast<IFile*>(file.Current()));
        }
    }
    if (outFolders != nullptr)
    {
        for (VFolderIterator folder(this, kWalkFolders | invisible); folder.IsValid(); ++folder)
        {
            outFolders->emplace_back(static_cast<IFolder*>(folder.Current()));
        }
    }
}

// The identities (device, inode) of the folders from where a recursive walk began down to where
// it stands: a folder met again through a link or a mount is skipped, not walked again.
class VFolderTrail
{
public:
    // Enters inFolder on the trail; false when it is already there (a cycle).
    bool Enter(const VFolder& inFolder)
    {
        std::pair<uint64_t, uint64_t> identity;
        if (!inFolder.fImpl->GetIdentity(identity.first, identity.second))
        {
            identity = {~uint64_t{0}, fFolders.size()}; // unreachable: walked once, as an empty folder
        }
        if (std::find(fFolders.begin(), fFolders.end(), identity) != fFolders.end())
        {
            return false;
        }
        fFolders.push_back(identity);
        return true;
    }
    void Leave() { fFolders.pop_back(); }

private:
    std::vector<std::pair<uint64_t, uint64_t>> fFolders;
};

namespace
{

// A folder's times, for a callback handed a folder taken out of a finished listing.
class FolderTimes : public IFileAttributeAccessor
{
public:
    explicit FolderTimes(const VFolder& inFolder) : fFolder(inFolder) {}
    VError GetTime(VTime* outModified, VTime* outCreated, VTime* outAccessed) const override
    {
        return fFolder.GetTimeAttributes(outModified, outCreated, outAccessed);
    }

private:
    const VFolder& fFolder;
};

// The sub-folders of inFolder, listed whole before any is walked: a walk holds no listing open
// while it goes down, so its depth is not limited by descriptors.
std::vector<VRefPtr<VFolder>> SubFolders(const VFolder& inFolder, uint32_t inOptions)
{
    std::vector<VRefPtr<VFolder>> folders;
    for (VFolderIterator folder(&inFolder, inOptions); folder.IsValid(); ++folder)
    {
        folders.emplace_back(folder.Current());
    }
    return folders;
}

bool IterateFilesIn(const VFolder& inFolder, const IFolder::FileCallback& inCallback, uint32_t inOptions,
                    VFolderTrail& ioTrail)
{
    bool result = true;
    for (VFileIterator file(&inFolder, inOptions | kWalkFiles); file.IsValid() && result; ++file)
    {
        result = inCallback(file.Current(), &file);
    }
    if ((inOptions & kRecursive) == 0 || !result)
    {
        return result;
    }
    // The folder walker drops bit 4: sub-folders are listed only when the options hold 2.
    for (const VRefPtr<VFolder>& folder : SubFolders(inFolder, inOptions | kWalkFiles))
    {
        if (ioTrail.Enter(*folder))
        {
            result = IterateFilesIn(*folder, inCallback, inOptions | kWalkFiles, ioTrail);
            ioTrail.Leave();
            if (!result)
            {
                break;
            }
        }
    }
    return result;
}

bool IterateFoldersIn(const VFolder& inFolder, const IFolder::FolderCallback& inCallback, uint32_t inOptions,
                      VFolderTrail& ioTrail)
{
    if ((inOptions & kRecursive) == 0)
    {
        bool result = true;
        for (VFolderIterator folder(&inFolder, inOptions | kWalkFolders); folder.IsValid() && result;
             ++folder)
        {
            result = inCallback(folder.Current(), &folder);
        }
        return result;
    }
    for (const VRefPtr<VFolder>& folder : SubFolders(inFolder, inOptions | kWalkFolders))
    {
        if (!ioTrail.Enter(*folder))
        {
            continue;
        }
        FolderTimes times(*folder);
        bool result = inCallback(folder.Get(), &times);
        if (result)
        {
            result = IterateFoldersIn(*folder, inCallback, inOptions | kWalkFolders, ioTrail);
        }
        ioTrail.Leave();
        if (!result)
        {
            return false;
        }
    }
    return true;
}

} // namespace

bool VFolder::IterateFiles(const FileCallback& inCallback, uint32_t inOptions) const
{
    if (!Exists())
    {
        return true;
    }
    VFolderTrail trail;
    trail.Enter(*this);
    return IterateFilesIn(*this, inCallback, inOptions, trail);
}

bool VFolder::IterateFolders(const FolderCallback& inCallback, uint32_t inOptions) const
{
    if (!Exists())
    {
        return true;
    }
    VFolderTrail trail;
    trail.Enter(*this);
    return IterateFoldersIn(*this, inCallback, inOptions, trail);
}

// ---------------------------------------------------------------------------------------------
// Aliases
// ---------------------------------------------------------------------------------------------

VError VFolder::ResolveAliasFolder(VFolder** ioFolder, bool inDeleteIfBroken)
{
    if (ioFolder == nullptr || *ioFolder == nullptr || !(*ioFolder)->fPath.IsFolder() ||
        (*ioFolder)->fImpl->Exists(false))
    {
        return VE_OK;
    }
    VString text;
    (*ioFolder)->fPath.GetPath(text);
    text.Truncate(text.GetLength() - 1);
    VFile alias(text, FPS_NATIVE);
    if (!alias.IsAliasFile())
    {
        return VE_OK;
    }
    VFilePath target;
    VError code =
        XLinuxFile(XLinuxFile::AllocatePosixPathFromFilePath(alias.GetPathRef())).ResolveAlias(target);
    if (code == VE_OK && target.IsFolder())
    {
        VFolder* resolved = new VFolder(target);
        (*ioFolder)->Release();
        *ioFolder = resolved;
        return VE_OK;
    }
    if (inDeleteIfBroken)
    {
        return alias.Delete();
    }
    if (code == VE_OK)
    {
        return (*ioFolder)->_Push(VE_FOLDER_ALIAS_NOT_FOLDER);
    }
    return PushFileErrorForCode(alias.GetPathRef(), code, kCannotResolveAlias);
}

VFolder* VFolder::CreateAndResolveAlias(const VFolder& inParent, const VString& inName)
{
    VFolder* folder = inParent.RetainRelativeFolder(inName, FPS_NATIVE, nullptr);
    if (ResolveAliasFolder(&folder, true) != VE_OK && folder != nullptr)
    {
        folder->Release();
        folder = nullptr;
    }
    return folder;
}

} // namespace zorn
