// VFolder: the reference-counted handle on one folder named by a path ending with ':'. Through it
// the toolbox tests, creates, deletes, renames, moves, copies and trashes folders, lists their
// contents and derives related files and folders. Every operation goes to the Linux back end
// (XLinuxFolder, held in place and named here only by declaration); native failures become pushed VFileErrors
// by the file layer's rule (PushFileErrorForCode) with a default code per operation:
//   652 Create; 655 MakeWritableByAll and permission writes; 653 Delete and DeleteForced (651 a
//   folder not empty); 661 MoveToTrash; 657 Rename ("newname") and Move; 656 RevealInFinder; 608
//   SetTimeAttributes; 654 reads of times, volume space, permissions and owner. 650 is a missing
//   source, 660 a destination that is the source or lies inside it ("destination"), 618 an alias
//   that leads to no folder and 611 one that cannot be resolved.
//
// Choices made where several were possible:
// - Option bits of the listing and copying operations: 1 recursive; 2 folders, 4 files, 8
//   invisible items, 16 links resolved (the walker's, see VFSObjectIterator); for copies 4
//   replaces an existing target, 8 goes on after an error, 16 skips invisible items.
// - CopyTo refuses a destination that is the source or lies inside it by path and also by its
//   real path (a destination reached through a link into the source).
// - CopyTo with option 4 over an existing target copies into a hidden staging sibling and
//   exchanges it with the target (renameat2 RENAME_EXCHANGE) once whole; the old tree is then
//   deleted. A failed copy removes the staging sibling and leaves the old target as it was.
//   Without an existing target, the staged native copy is tried, then an item-by-item copy.
// - IsSameFolder and the containment tests compare paths exactly.
// - GetURL gives the file URL of the path (VURL::GetAbsoluteURL).
#pragma once

#include "toolbox/files/IFile.h"
#include "toolbox/files/VBackEndStorage.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VSystemFolderKind.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <vector>

namespace zorn
{

class VFile;
class VFolderTrail;
class VFSObjectWalk;
class XLinuxFolder;

constexpr VError VE_FOLDER_NOT_EMPTY = MakeVError(kCOMPONENT_ZORN, 651);
constexpr VError VE_FOLDER_CANNOT_CREATE = MakeVError(kCOMPONENT_ZORN, 652);
constexpr VError VE_FOLDER_CANNOT_DELETE = MakeVError(kCOMPONENT_ZORN, 653);
constexpr VError VE_FOLDER_CANNOT_GET_ATTRIBUTES = MakeVError(kCOMPONENT_ZORN, 654);
constexpr VError VE_FOLDER_CANNOT_SET_ATTRIBUTES = MakeVError(kCOMPONENT_ZORN, 655);
constexpr VError VE_FOLDER_CANNOT_REVEAL = MakeVError(kCOMPONENT_ZORN, 656);
constexpr VError VE_FOLDER_CANNOT_RENAME = MakeVError(kCOMPONENT_ZORN, 657);
constexpr VError VE_FOLDER_DESTINATION_IN_SOURCE = MakeVError(kCOMPONENT_ZORN, 660);
constexpr VError VE_FOLDER_CANNOT_TRASH = MakeVError(kCOMPONENT_ZORN, 661);
constexpr VError VE_FOLDER_ALIAS_NOT_FOLDER = MakeVError(kCOMPONENT_ZORN, 618);

class VFolder : public VObject, public IFolder
{
public:
    // Copy options.
    static constexpr uint32_t kCopyReplace = 4;
    static constexpr uint32_t kCopyGoOnAfterError = 8;
    static constexpr uint32_t kCopySkipInvisible = 16;

    explicit VFolder(const VFilePath& inPath, VFileSystem* inFileSystem = nullptr);
    VFolder(const VString& inFullPath, FilePathStyle inStyle = FPS_NATIVE);
    // Relative to the parent, with its file system unless the result leaves the system's root; the
    // style's separator is appended to a relative text that lacks it.
    VFolder(const VFolder& inParent, const VString& inRelativePath, FilePathStyle inStyle);
    // The back end uses this POSIX path as it is instead of computing one from inPath.
    VFolder(const char* inPosixPath, const VFilePath& inPath, VFileSystem* inFileSystem);
    VFolder(const VFolder& inOther);
    VFolder& operator=(const VFolder&) = delete;
    ~VFolder() override;

    // IFileSystemObject
    VFilePath GetPath() const override { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const override;
    VString GetPathWithFileSystem() const override;
    IFolder* RetainParentFolder(bool inStayInFileSystem) const override;
    bool Exists() const override;
    VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const override;

    // IFolder
    VFolder* RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                  VFileSystem* inFileSystem = nullptr) const override;
    void GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders,
                     bool inIncludeInvisible) const override;
    bool IterateFiles(const FileCallback& inCallback, uint32_t inOptions) const override;
    bool IterateFolders(const FolderCallback& inCallback, uint32_t inOptions) const override;
    IFile* _RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const override;

    const VFilePath& GetPathRef() const { return fPath; }

    // What files and folders share: a path's platform form (FPS_POSIX, FPS_NATIVE, else empty);
    // "/" + the file system's name + "/" + the path below its root, else inPosixPath; a new folder
    // for the parent: bound to the file system when it authorises it, else null with
    // inStayInFileSystem, else without file system.
    static void GetPlatformPathOf(const VFilePath& inPath, FilePathStyle inStyle, VString& outPath);
    static VString PathWithFileSystem(const VFilePath& inPath, const VFileSystem* inFileSystem,
                                      const VString& inPosixPath);
    static IFolder* RetainParentOf(const VFilePath& inPath, VFileSystem* inFileSystem,
                                   bool inStayInFileSystem);

    // Creation and deletion.
    VError Create() const;
    // The missing ancestors first; with inMakeWritableByAll each created level is made so.
    VError CreateRecursive(bool inMakeWritableByAll = false) const;
    VError MakeWritableByAll() const;
    // True when the folder is missing or holds nothing, invisible items included.
    bool IsEmpty() const;
    VError DeleteContents(bool inRecursive) const;
    VError Delete(bool inRecursive) const;
    VError DeleteForced() const;
    // 0 without doing anything when the folder is missing.
    VError MoveToTrash() const;

    // Names and places. outNew, when given, receives the new folder, else null.
    VError Rename(const VString& inNewName, VFolder** outNew = nullptr) const;
    VError Move(const VFolder& inDestination, VFolder** outNew = nullptr) const;
    VError Move(const VFolder& inDestination, const VString& inNewName, VFolder** outNew = nullptr) const;
    VError CopyTo(const VFolder& inDestination, VFolder** outNew = nullptr, uint32_t inOptions = 0) const;
    VError CopyTo(const VFolder& inDestination, const VString& inNewName, VFolder** outNew = nullptr,
                  uint32_t inOptions = 0) const;
    VError CopyContentsTo(const VFolder& inDestination, uint32_t inOptions = 0) const;
    // Swaps this folder and inOther in one step (renameat2 RENAME_EXCHANGE): each path names the
    // other's tree afterwards and neither is ever missing. Both must exist on one file system. A
    // failure pushes the native code and a 657 for this folder.
    // Busy items are tried again as inRetry says (the file layer's own short retries when null).
    // Where the file system cannot exchange (FAT, exFAT, some FUSE and network file systems), two
    // renames do it, inOther's path briefly naming nothing between them.
    VError ExchangeWith(const VFolder& inOther, const VBusyRetry* inRetry = nullptr) const;
    // A copy of this tree made whole beside inTarget (in its parent folder) under a staging name,
    // for putting in place with ExchangeWith or Move: a new folder for it in *outStaging (one
    // reference). What killed processes left there is removed first; a failed copy leaves
    // nothing and pushes the file error of the item it failed on.
    VError StageCopyBeside(const VFolder& inTarget, VFolder** outStaging) const;
    bool RevealInFinder(bool inSelectContent = false) const;

    // Attributes.
    VError SetTimeAttributes(const VTime* inModified, const VTime* inCreated, const VTime* inAccessed) const;
    VError GetVolumeCapacity(int64_t* outTotal) const;
    VError GetVolumeFreeSpace(int64_t* outFree, bool inWithQuotas = true) const;
    VError MAC_SetPermissions(uint16_t inMode) const;
    VError MAC_GetPermissions(uint16_t* outMode) const;
    VError Mac_GetOwner(uint32_t& outUid, uint32_t& outGid) const;
    // The back end's codes as they stand, pushing nothing.
    VError GetFolderAttributes(uint32_t& outAttributes) const;
    VError SetFolderAttributes(uint32_t inAttributes) const;
    VError IsHidden(bool& outHidden) const;
    bool IsWritableByAll() const;
    bool MAC_IsPackage() const;

    // The folder of a system kind (one reference), or null; where each kind lies is
    // XLinuxFolder's.
    static VFolder* RetainSystemFolder(ESystemFolderKind inKind, bool inCreate = false);

    // Contents, appended to the vectors (never cleared), in the walkers' order.
    void GetContents(std::vector<VRefPtr<VFile>>* outFiles, std::vector<VRefPtr<VFolder>>* outFolders) const;
    VFile* RetainRelativeFile(const VString& inRelativePath, FilePathStyle inStyle = FPS_NATIVE) const;

    // The file URL of the path (VURL::GetAbsoluteURL); always 0.
    VError GetURL(VString& outURL, bool inEncoded) const;
    // The same, less inBase's URL when it begins with it.
    VError GetRelativeURL(const VFolder* inBase, VString& outURL, bool inEncoded) const;

    // Aliases are symbolic links. Replaces *ioFolder, when its path is a link, by the folder the
    // link leads to.
    static VError ResolveAliasFolder(VFolder** ioFolder, bool inDeleteIfBroken);
    static VFolder* CreateAndResolveAlias(const VFolder& inParent, const VString& inName);

private:
    // A recursive walk's trail asks each folder its identity (device, inode); a listing starts
    // from the folder's POSIX path.
    friend class VFolderTrail;
    friend class VFSObjectWalk;

    // Gives the back end the POSIX path of fPath.
    void _BindPath();
    // The path of inName (this folder's name when empty) in inDestination; false for a bad name.
    bool _TargetIn(const VFolder& inDestination, const VString& inName, VFilePath& outTarget) const;
    // A staged copy of the tree as inDestination:inName, which must not exist.
    VError _CopyInto(const VFolder& inDestination, const VString& inName) const;
    // The file layer's rule for this folder.
    VError _Report(VError inCode, VError inDefault) const;
    // Pushes a plain folder error with no native code; returns it.
    VError _Push(VError inCode) const;
    // 660 when inDestination is this folder or inside it (by path or real path), else 0.
    VError _CheckDestination(const VFolder& inDestination, VFolder** outNew) const;
    VError _DeleteBackEnd() const;
    VError _ReplaceTarget(const VFolder& inDestination, const VFolder& inTarget, uint32_t inOptions) const;

    VBackEndStorage<XLinuxFolder, 32, alignof(void*)> fImpl;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
};

} // namespace zorn
