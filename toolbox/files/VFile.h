// VFile: the toolbox's reference-counted handle on one file (or symbolic link) named by a path.
// It holds no open descriptor: Open hands out a VFileDesc. Every operation goes to the Linux back
// end (XLinuxFile, held in place and named here only by declaration), whose native failures become pushed
// VFileErrors by the file layer's rule (PushFileErrorForCode), with a default code and parameters per
// operation:
//   Open 602 ("access", "options"), Create 607 ("options"), Rename 601 ("newname"), Delete 604,
//   queries 608, setters 609, CreateAlias 610, ResolveAlias 611, RevealInFinder 612.
//
// Choices made where several were possible:
// - Queries with out-values reset them on any failure (sizes 0, times null, the path cleared).
// - Delete of a missing file returns 0 and pushes nothing; an invalid path pushes 604.
// - GetContent sizes its buffer to the file exactly; a buffer that cannot grow gives 'zorn' 100.
// - SetContent creates the missing parent folders and replaces the file whole through a temporary
//   sibling (see XLinuxFile): a failure leaves the old content; other hard links to the file keep
//   the old content, the mode is kept, the owner only when running as root.
// - CreateTemporaryFile names files "zrn_" + a random UUID's text in $TMPDIR, else /tmp.
// - Copy and move go through the copy engine (XLinuxCopyEngine): the copy is staged under a
//   hidden sibling and takes the destination's name whole; option 4 (kCopyReplace) replaces an
//   existing destination only then, and without it an existing destination fails. A failure
//   concerning one item of what is copied carries that item's POSIX path as "item".
// - MoveToTrash follows the freedesktop.org trash (see XLinuxCopyEngine); like Delete it returns 0
//   for a missing file and pushes 604 for an invalid path.
// - File kinds come from the back end's type table (XLinuxFile::ConformsTo).
// - A file built from a URL takes the local path the URL names (VURL::GetFilePath): a URL that
//   names none (another scheme or host) gives an invalid path, on which operations fail.
#pragma once

#include "toolbox/files/IFile.h"
#include "toolbox/files/VBackEndStorage.h"
#include "toolbox/files/VFileDesc.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VVolumeInfo.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace zorn
{

class VFolder;
class VFileError;
class XLinuxFile;
class VFileKind;
class VURL;

class VFile : public VObject, public IFile
{
public:
    VFile(const VFilePath& inPath, VFileSystem* inFileSystem = nullptr);
    VFile(const VString& inFullPath, FilePathStyle inStyle = FPS_NATIVE);
    // Relative to the folder, taking its file system unless the result lies outside its root.
    VFile(const VFolder& inFolder, const VString& inRelativePath, FilePathStyle inStyle = FPS_NATIVE);
    VFile(const VFilePath& inBase, const VString& inRelativePath, FilePathStyle inStyle = FPS_NATIVE);
    // The back end uses this POSIX path as it is instead of computing one from inPath.
    VFile(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem);
    explicit VFile(const VURL& inURL);
    VFile(const VFile& inOther);
    VFile& operator=(const VFile&) = delete;
    ~VFile() override;

    // A new empty file "zrn_<uuid>" in the temporary folder (one reference for the caller), null
    // with the error pushed when it cannot be created.
    static VFile* CreateTemporaryFile();
    // The temporary folder's POSIX path: $TMPDIR when set and not empty, else "/tmp/"; ends with '/'.
    static VString GetTemporaryFolderPosixPath();

    // IFileSystemObject
    VFilePath GetPath() const override { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const override;
    VString GetPathWithFileSystem() const override;
    IFolder* RetainParentFolder(bool inCheckAccess) const override;
    bool Exists() const override;
    VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const override;

    // IFile
    VError GetContent(VFileContentBuffer& outContent) const override;
    VError GetData(void* outBuffer, size_t inCount, size_t* outRead) const override;
    VError SetContent(const void* inData, size_t inSize) const override;
    VError AppendContent(const void* inData, size_t inSize) const override;
    VError Delete() const override;
    bool IsWritable() const override;
    VError GetSize(int64_t* outSize) const override;

    const VFilePath& GetPathRef() const { return fPath; }
    // The file URL of the path (VURL::GetAbsoluteURL); always 0.
    VError GetURL(VString& outURL, bool inEncoded) const;
    // The same, less inBase's URL when it begins with it.
    VError GetRelativeURL(const VFolder* inBase, VString& outURL, bool inEncoded) const;
    bool IsSameFile(const VFile* inOther) const;
    bool IsAliasFile() const;
    bool MAC_IsSymbolicLink() const;
    bool MAC_IsWritableByAll() const;
    bool HasResourceFork() const;

    // The back end's answer (XLinuxFile::ConformsTo); false on error, which is not pushed.
    bool ConformsTo(const VFileKind& inKind) const;
    // Through the kind of that ID (VFileKindManager); false when there is none.
    bool ConformsTo(const VString& inKindID) const;

    VError Open(FileAccess inAccess, VFileDesc** outDesc, uint32_t inOptions = 0) const;
    VError Create(uint32_t inOptions = 0) const;
    VError Rename(const VString& inNewName, VFile** outNew = nullptr) const;

    // Copy option: replace an existing destination (once the copy is whole).
    static constexpr uint32_t kCopyReplace = 4;
    // A folder path as destination takes this file's name. outNew, when given, receives the new
    // file (bound to this file's file system when the destination lies under its root), else null.
    VError CopyTo(const VFilePath& inDestination, VFile** outNew = nullptr, uint32_t inOptions = 0) const;
    VError CopyTo(const VFile& inDestination, uint32_t inOptions = 0) const;
    // Bound to the folder's file system.
    VError CopyTo(const VFolder& inDestination, VFile** outNew = nullptr, uint32_t inOptions = 0) const;
    // Copies inSource to this file's path; the error names the source.
    VError CopyFrom(const VFile& inSource, uint32_t inOptions = 0) const;
    VError Move(const VFilePath& inDestination, VFile** outNew = nullptr, uint32_t inOptions = 0) const;
    VError Move(const VFolder& inDestination, VFile** outNew = nullptr, uint32_t inOptions = 0) const;
    VError Move(const VFile& inDestination, uint32_t inOptions = 0) const;
    VError MoveToTrash() const;
    VError GetResourceForkSize(int64_t* outSize) const;
    VError SetTimeAttributes(const VTime* inModified, const VTime* inCreated, const VTime* inAccessed) const;
    VError GetFileAttributes(uint32_t& outAttributes) const;
    VError SetFileAttributes(uint32_t inAttributes) const;
    // With inCacheMs > 0, an answer of at most that age (for the same inWithQuotas) is reused.
    VError GetVolumeFreeSpace(int64_t* outFree, int64_t* outTotal = nullptr, bool inWithQuotas = true,
                              uint32_t inCacheMs = 0, const VFileDesc* inDesc = nullptr) const;
    VError MAC_GetKind(uint32_t* outKind) const;
    VError MAC_GetCreator(uint32_t* outCreator) const;
    VError MAC_SetKind(uint32_t) const { return VE_OK; }
    VError MAC_SetCreator(uint32_t) const { return VE_OK; }
    // Forwards to the back end, which keeps no hidden-extension flag on Linux (nothing happens).
    void MAC_SetExtensionVisible(bool inVisible) const;
    VError Mac_GetOwner(uint32_t& outUid, uint32_t& outGid) const;
    VError MAC_GetPermissions(uint16_t* outMode) const;
    VError MAC_SetPermissions(uint16_t inMode) const;
    VError MAC_MakeWritableByAll() const;
    // Pushes its failure with the back end's code as it stands (no default code).
    VError MAC_CreateSymbolicLink(const VFilePath& inTarget, bool inAbsolute) const;
    VError CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const;
    VError ResolveAlias(VFilePath& outTarget) const;
    bool RevealInFinder() const;
    VError Unlock() const;

    // Replaces *ioFile by the file its alias names: 0 when it is null or no alias. A target that
    // is a folder, or one that cannot be resolved, deletes the alias with inDeleteIfUnresolved;
    // else pushes 617 or 611 for it and returns that.
    static VError ResolveAliasFile(VFile** ioFile, bool inDeleteIfUnresolved);
    static VError ResolveAliasFile(VRefPtr<VFile>& ioFile, bool inDeleteIfUnresolved);
    // The file, resolved as above; null (released) on error.
    static VFile* CreateAndResolveAlias(const VFolder& inFolder, const VString& inRelativePath,
                                        FilePathStyle inStyle = FPS_NATIVE);

private:
    // The file layer's rule for this file, with the parameters added by inAdd.
    VError _Report(VError inCode, VError inDefault, const std::function<void(VFileError&)>& inAdd = {}) const;
    // Pushes a plain file error with no native code; returns it.
    VError _Push(VError inCode) const;
    VError _CreateParentFolders() const;
    VError _Copy(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                 uint32_t inOptions) const;
    VError _Move(const VFilePath& inDestination, VFileSystem* inFileSystem, VFile** outNew,
                 uint32_t inOptions) const;
    // The file system handed on to a copy or move to inDestination: this one when the
    // destination lies under its root, else none.
    VFileSystem* _FileSystemFor(const VFilePath& inDestination) const;
    // Gives the back end the POSIX path of fPath.
    void _BindPath();
    // The POSIX path of a copy's or move's target: inDestination, with this file's name when it is
    // a folder path; outTarget receives that path.
    std::string _TargetOf(const VFilePath& inDestination, VFilePath& outTarget) const;

    VBackEndStorage<XLinuxFile, 32, alignof(void*)> fImpl;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
    mutable std::atomic<VVolumeInfo*> fVolumeInfo{nullptr}; // one reference, or null
};

} // namespace zorn
