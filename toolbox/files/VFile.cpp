#include "toolbox/files/VFile.h"

#include "toolbox/files/VFileKindManager.h"

#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/VURL.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/files/linux/XLinuxFileDesc.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VUUID.h"

#include <cstdlib>
#include <memory>

namespace zorn
{

// The option passes to the back end as it stands.
static_assert(VFile::kCopyReplace == XLinuxFile::kCopyReplace);

namespace
{

constexpr VError kMemoryFull = MakeVError(kCOMPONENT_ZORN, 100);

void AddInteger(VFileError& ioError, const char* inName, uint32_t inValue)
{
    ioError.SetLong(VString(inName), static_cast<int32_t>(inValue));
}

void ResetTimes(VTime* outModified, VTime* outCreated, VTime* outAccessed)
{
    for (VTime* time : {outModified, outCreated, outAccessed})
    {
        if (time != nullptr)
        {
            time->SetNull(true);
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------------------------

VFile::VFile(const VFilePath& inPath, VFileSystem* inFileSystem)
    : fPath(inPath), fFileSystem(RetainRefCountable(inFileSystem))
{
    _BindPath();
}

VFile::VFile(const VString& inFullPath, FilePathStyle inStyle) : fPath(inFullPath, inStyle)
{
    _BindPath();
}

VFile::VFile(const VFolder& inFolder, const VString& inRelativePath, FilePathStyle inStyle)
{
    fPath.FromRelativePath(inFolder.GetPathRef(), inRelativePath, inStyle);
    VFileSystem* fileSystem = inFolder.GetFileSystem();
    if (fileSystem != nullptr && fPath.IsChildOf(fileSystem->GetRoot()))
    {
        fFileSystem = RetainRefCountable(fileSystem);
    }
    _BindPath();
}

VFile::VFile(const VFilePath& inBase, const VString& inRelativePath, FilePathStyle inStyle)
    : fPath(inBase, inRelativePath, inStyle)
{
    _BindPath();
}

VFile::VFile(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem)
    : fImpl(std::string(inPosixPath != nullptr ? inPosixPath : "")), fPath(inPath),
      fFileSystem(RetainRefCountable(inFileSystem))
{
    if (inPosixPath == nullptr)
    {
        _BindPath();
    }
}

VFile::VFile(const VURL& inURL)
{
    inURL.GetFilePath(fPath);
    _BindPath();
}

VFile::VFile(const VFile& inOther)
    : VObject(inOther), IFile(inOther), fPath(inOther.fPath),
      fFileSystem(RetainRefCountable(inOther.fFileSystem))
{
    _BindPath();
}

void VFile::_BindPath()
{
    fImpl->SetPosixPathBytes(XLinuxFile::AllocatePosixPathFromFilePath(fPath));
}

VFile::~VFile()
{
    if (VVolumeInfo* info = fVolumeInfo.exchange(nullptr); info != nullptr)
    {
        info->Release();
    }
    ReleaseRefCountable(&fFileSystem);
}

VError VFile::GetURL(VString& outURL, bool inEncoded) const
{
    VURL(fPath).GetAbsoluteURL(outURL, inEncoded);
    return VE_OK;
}

VError VFile::GetRelativeURL(const VFolder* inBase, VString& outURL, bool inEncoded) const
{
    VURL::GetURLRelativeTo(fPath, inBase, outURL, inEncoded);
    return VE_OK;
}

VString VFile::GetTemporaryFolderPosixPath()
{
    const char* folder = std::getenv("TMPDIR");
    VString path(folder != nullptr && folder[0] != 0 ? folder : "/tmp/");
    if (path.GetUniChar(path.GetLength()) != u'/')
    {
        path.AppendUniChar(u'/');
    }
    return path;
}

VFile* VFile::CreateTemporaryFile()
{
    VString name;
    VUUID(true).GetString(name);
    VString posix = GetTemporaryFolderPosixPath() + VString("zrn_") + name;
    auto* file = new VFile(posix, FPS_POSIX);
    if (file->Create(0) != VE_OK)
    {
        file->Release();
        return nullptr;
    }
    return file;
}

// ---------------------------------------------------------------------------------------------
// Reporting
// ---------------------------------------------------------------------------------------------

VError VFile::_Report(VError inCode, VError inDefault, const std::function<void(VFileError&)>& inAdd) const
{
    return PushFileErrorForCode(fPath, inCode, inDefault, inAdd);
}

VError VFile::_Push(VError inCode) const
{
    _PushRetainedError(new VFileError(fPath, inCode));
    return inCode;
}

// ---------------------------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------------------------

void VFile::GetPlatformPath(VString& outPath, FilePathStyle inStyle) const
{
    if (inStyle == FPS_POSIX)
    {
        fImpl->GetPosixPath(outPath);
    }
    else
    {
        VFolder::GetPlatformPathOf(fPath, inStyle, outPath);
    }
}

VString VFile::GetPathWithFileSystem() const
{
    VString posix;
    fImpl->GetPosixPath(posix);
    return VFolder::PathWithFileSystem(fPath, fFileSystem, posix);
}

IFolder* VFile::RetainParentFolder(bool inCheckAccess) const
{
    return VFolder::RetainParentOf(fPath, fFileSystem, inCheckAccess);
}

bool VFile::Exists() const
{
    if (!fPath.IsFile())
    {
        return false;
    }
    if (fFileSystem != nullptr && fFileSystem->GetAttributesCache() != nullptr &&
        fFileSystem->GetAttributesCache()->FileExists(fPath))
    {
        return true;
    }
    return fImpl->Exists();
}

bool VFile::IsAliasFile() const
{
    return fImpl->IsAliasFile();
}

bool VFile::MAC_IsSymbolicLink() const
{
    return fImpl->IsSymbolicLink();
}

bool VFile::MAC_IsWritableByAll() const
{
    return fImpl->IsWritableByAll();
}

bool VFile::HasResourceFork() const
{
    return fImpl->HasResourceFork();
}

void VFile::MAC_SetExtensionVisible(bool inVisible) const
{
    fImpl->SetExtensionVisible(inVisible);
}

bool VFile::IsSameFile(const VFile* inOther) const
{
    if (inOther == nullptr)
    {
        return false;
    }
    VString mine;
    VString theirs;
    fPath.GetPath(mine);
    inOther->fPath.GetPath(theirs);
    return mine.EqualToString(theirs, false);
}

VError VFile::GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const
{
    if (fFileSystem != nullptr && fFileSystem->GetAttributesCache() != nullptr &&
        fFileSystem->GetAttributesCache()->GetTimeAttributes(fPath, outModified, outCreated, outAccessed))
    {
        return VE_OK;
    }
    VError code = _Report(fImpl->GetTimeAttributes(outModified, outCreated, outAccessed),
                          VE_FILE_CANNOT_GET_ATTRIBUTES);
    if (code != VE_OK)
    {
        ResetTimes(outModified, outCreated, outAccessed);
    }
    return code;
}

VError VFile::GetSize(int64_t* outSize) const
{
    VError code = _Report(fImpl->GetSize(outSize), VE_FILE_CANNOT_GET_ATTRIBUTES);
    if (code != VE_OK && outSize != nullptr)
    {
        *outSize = 0;
    }
    return code;
}

VError VFile::GetResourceForkSize(int64_t* outSize) const
{
    VError code = _Report(fImpl->GetResourceForkSize(outSize), VE_FILE_CANNOT_GET_ATTRIBUTES);
    if (code != VE_OK && outSize != nullptr)
    {
        *outSize = 0;
    }
    return code;
}

VError VFile::SetTimeAttributes(const VTime* inModified, const VTime* inCreated,
                                const VTime* inAccessed) const
{
    return _Report(fImpl->SetTimeAttributes(inModified, inCreated, inAccessed),
                   VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFile::GetFileAttributes(uint32_t& outAttributes) const
{
    VError code = _Report(fImpl->GetFileAttributes(outAttributes), VE_FILE_CANNOT_GET_ATTRIBUTES);
    if (code != VE_OK)
    {
        outAttributes = 0;
    }
    return code;
}

VError VFile::SetFileAttributes(uint32_t inAttributes) const
{
    return _Report(fImpl->SetFileAttributes(inAttributes), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

bool VFile::ConformsTo(const VFileKind& inKind) const
{
    bool result = false;
    return fImpl->ConformsTo(inKind, &result) == VE_OK && result;
}

bool VFile::ConformsTo(const VString& inKindID) const
{
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(inKindID), true);
    return kind && ConformsTo(*kind);
}

VError VFile::GetVolumeFreeSpace(int64_t* outFree, int64_t* outTotal, bool inWithQuotas, uint32_t inCacheMs,
                                 const VFileDesc* inDesc) const
{
    auto ask = [&](int64_t* outAskedFree, int64_t* outAskedTotal)
    {
        VError code =
            XLinuxFile::GetVolumeFreeSpace(fImpl->GetPosixPathBytes().c_str(), outAskedFree, outAskedTotal,
                                           inWithQuotas, inDesc != nullptr ? inDesc->fImpl->GetFd() : -1);
        return _Report(code, VE_FILE_CANNOT_GET_ATTRIBUTES);
    };
    int64_t freeBytes = 0;
    int64_t totalBytes = 0;
    VError code = VE_OK;
    if (inCacheMs == 0)
    {
        code = ask(&freeBytes, &totalBytes);
    }
    else
    {
        const uint32_t now = VSystem::GetCurrentTime();
        VRefPtr<VVolumeInfo> info(fVolumeInfo.exchange(nullptr), true);
        if (info)
        {
            // Wrap-safe distance either way.
            const uint32_t stamp = info->GetStamp();
            const uint32_t age = now - stamp < stamp - now ? now - stamp : stamp - now;
            if (age > inCacheMs || info->IsWithQuotas() != inWithQuotas)
            {
                info = nullptr;
            }
        }
        if (!info)
        {
            code = ask(&freeBytes, &totalBytes);
            if (code == VE_OK)
            {
                info = VRefPtr<VVolumeInfo>(new VVolumeInfo(now, inWithQuotas, freeBytes, totalBytes), true);
            }
        }
        if (info)
        {
            freeBytes = info->GetFree();
            totalBytes = info->GetTotal();
            // The cache keeps this record's reference; whatever another thread put there goes.
            if (VVolumeInfo* previous = fVolumeInfo.exchange(info.Forget()); previous != nullptr)
            {
                previous->Release();
            }
        }
    }
    if (code != VE_OK)
    {
        freeBytes = 0;
        totalBytes = 0;
    }
    if (outFree != nullptr)
    {
        *outFree = freeBytes;
    }
    if (outTotal != nullptr)
    {
        *outTotal = totalBytes;
    }
    return code;
}

VError VFile::MAC_GetKind(uint32_t* outKind) const
{
    return _Report(fImpl->GetKind(outKind), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFile::MAC_GetCreator(uint32_t* outCreator) const
{
    return _Report(fImpl->GetKind(outCreator), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFile::Mac_GetOwner(uint32_t& outUid, uint32_t& outGid) const
{
    return _Report(fImpl->GetOwner(outUid, outGid), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFile::MAC_GetPermissions(uint16_t* outMode) const
{
    return _Report(fImpl->GetPermissions(outMode), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

VError VFile::MAC_SetPermissions(uint16_t inMode) const
{
    return _Report(fImpl->SetPermissions(inMode), VE_FILE_CANNOT_SET_ATTRIBUTES);
}

VError VFile::MAC_MakeWritableByAll() const
{
    return _Report(fImpl->MakeWritableByAll(), VE_FILE_CANNOT_SET_ATTRIBUTES);
}

VError VFile::Unlock() const
{
    return _Report(fImpl->Unlock(), VE_FILE_CANNOT_SET_ATTRIBUTES);
}

// ---------------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------------

VError VFile::Open(FileAccess inAccess, VFileDesc** outDesc, uint32_t inOptions) const
{
    *outDesc = nullptr;
    int fd = -1;
    const VError code = fImpl->Open(inAccess, inOptions, &fd);
    if (code == VE_OK)
    {
        *outDesc = new VFileDesc(this, fd, inAccess);
        return VE_OK;
    }
    return _Report(code, VE_FILE_CANNOT_OPEN,
                   [&](VFileError& ioError)
                   {
                       AddInteger(ioError, "access", static_cast<uint32_t>(inAccess));
                       AddInteger(ioError, "options", inOptions);
                   });
}

VError VFile::Create(uint32_t inOptions) const
{
    return _Report(fImpl->Create(inOptions), VE_FILE_CANNOT_CREATE,
                   [&](VFileError& ioError) { AddInteger(ioError, "options", inOptions); });
}

VError VFile::Rename(const VString& inNewName, VFile** outNew) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    VFilePath newPath(fPath);
    if (inNewName.FindUniChar(u':') > 0 || !newPath.SetName(inNewName))
    {
        return VE_FILE_BAD_NAME;
    }
    const VError code = fImpl->RenameTo(XLinuxFile::AllocatePosixPathFromFilePath(newPath));
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFile(newPath, fFileSystem);
    }
    return _Report(code, VE_FILE_CANNOT_RENAME,
                   [&](VFileError& ioError) { ioError.SetString(VString("newname"), inNewName); });
}

VError VFile::Delete() const
{
    if (!fPath.IsValid())
    {
        return _Push(VE_FILE_CANNOT_DELETE);
    }
    if (!fImpl->Exists())
    {
        return VE_OK;
    }
    return _Report(fImpl->Delete(), VE_FILE_CANNOT_DELETE);
}

// ---------------------------------------------------------------------------------------------
// Copy, move, trash
// ---------------------------------------------------------------------------------------------

namespace
{

std::function<void(VFileError&)> CopyParameters(const VFilePath& inDestination, uint32_t inOptions,
                                                const std::string& inFailedItem)
{
    return [&inDestination, inOptions, &inFailedItem](VFileError& ioError)
    {
        VString destination;
        VFolder::GetPlatformPathOf(inDestination, FPS_NATIVE, destination);
        ioError.SetString(VString("destination"), destination);
        AddInteger(ioError, "options", inOptions);
        if (!inFailedItem.empty())
        {
            VString item;
            XLinuxFile::DecodeNameBytes(inFailedItem.data(), inFailedItem.size(), item);
            ioError.SetString(VString("item"), item);
        }
    };
}

} // namespace

std::string VFile::_TargetOf(const VFilePath& inDestination, VFilePath& outTarget) const
{
    outTarget = inDestination;
    if (!outTarget.IsFile())
    {
        VString name;
        fPath.GetName(name);
        outTarget.ToSubFile(name);
    }
    return XLinuxFile::AllocatePosixPathFromFilePath(outTarget);
}

VFileSystem* VFile::_FileSystemFor(const VFilePath& inDestination) const
{
    if (fFileSystem != nullptr && inDestination.IsSameOrChildOf(fFileSystem->GetRoot()))
    {
        return fFileSystem;
    }
    return nullptr;
}

VError VFile::_Copy(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                    uint32_t inOptions) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    if (!fPath.IsValid() || !inDestination.IsValid())
    {
        return _Push(VE_FILE_CANNOT_COPY);
    }
    std::string failedItem;
    VFilePath target;
    const VError code = fImpl->Copy(_TargetOf(inDestination, target), inOptions, &failedItem);
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFile(target, inFileSystem);
    }
    return _Report(code, VE_FILE_CANNOT_COPY, CopyParameters(inDestination, inOptions, failedItem));
}

VError VFile::_Move(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                    uint32_t inOptions) const
{
    if (outNew != nullptr)
    {
        *outNew = nullptr;
    }
    if (!inDestination.IsValid())
    {
        return _Push(VE_FILE_CANNOT_MOVE);
    }
    std::string failedItem;
    VFilePath target;
    const VError code = fImpl->Move(_TargetOf(inDestination, target), inOptions, &failedItem);
    if (code == VE_OK && outNew != nullptr)
    {
        *outNew = new VFile(target, inFileSystem);
    }
    return _Report(code, VE_FILE_CANNOT_MOVE, CopyParameters(inDestination, inOptions, failedItem));
}

VError VFile::CopyTo(const VFilePath& inDestination, VFile** outNew, uint32_t inOptions) const
{
    return _Copy(inDestination, _FileSystemFor(inDestination), outNew, inOptions);
}

VError VFile::CopyTo(const VFile& inDestination, uint32_t inOptions) const
{
    return _Copy(inDestination.GetPathRef(), nullptr, nullptr, inOptions);
}

VError VFile::CopyTo(const VFolder& inDestination, VFile** outNew, uint32_t inOptions) const
{
    return _Copy(inDestination.GetPathRef(), inDestination.GetFileSystem(), outNew, inOptions);
}

VError VFile::CopyFrom(const VFile& inSource, uint32_t inOptions) const
{
    return inSource._Copy(fPath, nullptr, nullptr, inOptions);
}

VError VFile::Move(const VFilePath& inDestination, VFile** outNew, uint32_t inOptions) const
{
    return _Move(inDestination, _FileSystemFor(inDestination), outNew, inOptions);
}

VError VFile::Move(const VFolder& inDestination, VFile** outNew, uint32_t inOptions) const
{
    return _Move(inDestination.GetPathRef(), inDestination.GetFileSystem(), outNew, inOptions);
}

VError VFile::Move(const VFile& inDestination, uint32_t inOptions) const
{
    return _Move(inDestination.GetPathRef(), inDestination.GetFileSystem(), nullptr, inOptions);
}

VError VFile::MoveToTrash() const
{
    if (!fPath.IsValid())
    {
        return _Push(VE_FILE_CANNOT_DELETE);
    }
    if (!fImpl->Exists())
    {
        return VE_OK;
    }
    return _Report(fImpl->MoveToTrash(), VE_FILE_CANNOT_DELETE);
}

VError VFile::MAC_CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const
{
    VFilePath folder;
    const bool relative = !inAbsolute && fPath.GetParent(folder);
    VError code = fImpl->CreateSymbolicLink(inTarget, relative ? &folder : nullptr);
    if (code != VE_OK)
    {
        _PushRetainedError(new VFileError(fPath, code));
    }
    return code;
}

VError VFile::CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const
{
    return _Report(fImpl->CreateAlias(inTarget, inRelativeTo), VE_FILE_CANNOT_CREATE_ALIAS);
}

VError VFile::ResolveAlias(VFilePath& outTarget) const
{
    VError code = fImpl->ResolveAlias(outTarget);
    if (code == XLinuxFile::kNotAnAlias)
    {
        _Push(code);
    }
    code = _Report(code, VE_FILE_CANNOT_RESOLVE_ALIAS);
    if (code != VE_OK)
    {
        outTarget.Clear();
    }
    return code;
}

bool VFile::RevealInFinder() const
{
    return _Report(fImpl->RevealInFinder(), VE_FILE_CANNOT_REVEAL) == VE_OK;
}

VError VFile::ResolveAliasFile(VFile** ioFile, bool inDeleteIfUnresolved)
{
    if (ioFile == nullptr || *ioFile == nullptr || !(*ioFile)->IsAliasFile())
    {
        return VE_OK;
    }
    VFile* alias = *ioFile;
    VFilePath target;
    VError code = VE_OK;
    {
        // The failure is reported below, as 611 or by deleting the alias.
        StErrorContextInstaller quiet(false, true);
        code = alias->fImpl->ResolveAlias(target);
    }
    if (code == VE_OK && target.IsFile())
    {
        *ioFile = new VFile(target);
        alias->Release();
        return VE_OK;
    }
    if (inDeleteIfUnresolved)
    {
        return alias->Delete();
    }
    if (code != VE_OK)
    {
        return alias->_Report(code, VE_FILE_CANNOT_RESOLVE_ALIAS);
    }
    return alias->_Push(VE_FILE_ALIAS_TO_FOLDER);
}

VError VFile::ResolveAliasFile(VRefPtr<VFile>& ioFile, bool inDeleteIfUnresolved)
{
    VFile* file = ioFile.Forget();
    VError code = ResolveAliasFile(&file, inDeleteIfUnresolved);
    ioFile.Adopt(file);
    return code;
}

VFile* VFile::CreateAndResolveAlias(const VFolder& inFolder, const VString& inRelativePath,
                                    FilePathStyle inStyle)
{
    auto* file = new VFile(inFolder, inRelativePath, inStyle);
    if (ResolveAliasFile(&file, true) != VE_OK)
    {
        ReleaseRefCountable(&file);
    }
    return file;
}

// ---------------------------------------------------------------------------------------------
// Whole content
// ---------------------------------------------------------------------------------------------

VError VFile::GetContent(VFileContentBuffer& outContent) const
{
    VFileDesc* desc = nullptr;
    VError code = Open(FA_READ, &desc, XLinuxFile::kOpenFollowLink);
    if (code != VE_OK)
    {
        return code;
    }
    std::unique_ptr<VFileDesc> owned(desc);
    const int64_t size = desc->GetSize();
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX ||
        !outContent.SetAllocatedSize(static_cast<size_t>(size)))
    {
        _PushRetainedError(new VFileError(fPath, kMemoryFull));
        return kMemoryFull;
    }
    outContent.SetDataSize(0);
    size_t read = 0;
    code = desc->GetData(outContent.GetDataPtr(), static_cast<size_t>(size), 0, &read);
    outContent.SetDataSize(read);
    return code;
}

VError VFile::GetData(void* outBuffer, size_t inCount, size_t* outRead) const
{
    if (outRead != nullptr)
    {
        *outRead = 0;
    }
    VFileDesc* desc = nullptr;
    VError code = Open(FA_READ, &desc, XLinuxFile::kOpenFollowLink);
    if (code != VE_OK)
    {
        return code;
    }
    std::unique_ptr<VFileDesc> owned(desc);
    return desc->GetData(outBuffer, inCount, 0, outRead);
}

VError VFile::_CreateParentFolders() const
{
    VFilePath parent;
    if (!fPath.GetParent(parent))
    {
        return VE_OK;
    }
    return VFolder(parent, fFileSystem).CreateRecursive();
}

VError VFile::SetContent(const void* inData, size_t inSize) const
{
    VError code = _CreateParentFolders();
    if (code != VE_OK)
    {
        return code;
    }
    return _Report(fImpl->SetContent(inData, inSize), VE_FILE_CANNOT_WRITE,
                   [&](VFileError& ioError)
                   {
                       ioError.SetLong(VString("count"),
                                       static_cast<int32_t>(std::min<size_t>(inSize, INT32_MAX)));
                       ioError.SetLong8(VString("offset"), 0);
                   });
}

VError VFile::AppendContent(const void* inData, size_t inSize) const
{
    VError code = _CreateParentFolders();
    if (code != VE_OK)
    {
        return code;
    }
    VFileDesc* desc = nullptr;
    code = Open(FA_READ_WRITE, &desc, XLinuxFile::kOpenFollowLink | XLinuxFile::kOpenCreate);
    if (code != VE_OK)
    {
        return code;
    }
    std::unique_ptr<VFileDesc> owned(desc);
    const int64_t end = desc->GetSize();
    return desc->PutData(inData, inSize, end);
}

bool VFile::IsWritable() const
{
    StErrorContextInstaller quiet(false, true);
    VFileDesc* desc = nullptr;
    if (Open(FA_READ_WRITE, &desc, XLinuxFile::kOpenFollowLink) != VE_OK)
    {
        return false;
    }
    delete desc;
    return true;
}

} // namespace zorn
