// IFileSystemObject, IFile and IFolder: the abstract file and folder interfaces that files,
// folders and the script and JSON layers share. The operations implemented here once for every
// implementation are the names (through GetPath) and the text and JSON content of files.
//
// Choices made where several were possible:
// - Each content operation runs in an error scope of its own that keeps its errors for the
//   caller's context, and returns the last error pushed in that scope (0 when none), which may
//   differ from the code the underlying call returned.
// - GetContentAsString: a byte-order mark at the start overrides the given set.
// - SetContentAsString: no converter for the set, or an invalid one, gives 'zorn' 208; an empty
//   text writes an empty file without a mark, even when a mark is asked for.
// - GetContentAsJSON: the text read with line endings kept, parsed by the JSON importer with
//   option 512 (lenient; no date conversion).
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zorn
{

class IFileAttributeAccessor;
class IFolder;
class VFileSystem;
class VJSONValue;
class VString;
class VTime;

constexpr VError VE_FILE_CANNOT_CONVERT_TEXT = MakeVError(kCOMPONENT_ZORN, 208);

using VFileContentBuffer = VMemoryBuffer<1024, 2, 1048576, VCppMemMgr>;

class IFileSystemObject : public IRefCountable
{
public:
    virtual VFilePath GetPath() const = 0;
    // The file system the object is bound to, null when none; not retained.
    virtual VFileSystem* GetFileSystem() const = 0;
    // FPS_POSIX: the POSIX path; FPS_NATIVE: the ':' path; any other style: empty.
    virtual void GetPlatformPath(VString& outPath, FilePathStyle inStyle) const = 0;
    // "/" + the file system's name + "/" + the path below its root, or the POSIX path.
    virtual VString GetPathWithFileSystem() const = 0;
    // A new folder for the parent (one reference for the caller), null when there is none or,
    // with inCheckAccess, when the file system refuses it.
    virtual IFolder* RetainParentFolder(bool inCheckAccess) const = 0;
    virtual bool Exists() const = 0;
    virtual void GetNameWithoutExtension(VString& outName) const = 0;
    // Null pointers are skipped; on failure each given time is made null.
    virtual VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const = 0;

    void GetName(VString& outName) const;
    void GetExtension(VString& outExtension) const;
    bool MatchExtension(const VString& inExtension) const;
};

class IFile : public IFileSystemObject
{
public:
    void GetNameWithoutExtension(VString& outName) const override;

    virtual VError GetContent(VFileContentBuffer& outContent) const = 0;
    virtual VError GetData(void* outBuffer, size_t inCount, size_t* outRead) const = 0;
    virtual VError SetContent(const void* inData, size_t inSize) const = 0;
    virtual VError AppendContent(const void* inData, size_t inSize) const = 0;
    virtual VError Delete() const = 0;
    virtual bool IsWritable() const = 0;
    virtual VError GetSize(int64_t* outSize) const = 0;

    VError GetContentAsString(VString& outText, CharSet inCharSet, ECarriageReturnMode inMode) const;
    VError GetContentAsJSON(VJSONValue& outValue, CharSet inCharSet) const;
    VError SetContentAsString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                              bool inWithBOM) const;
    VError SetContentAsJSON(const VJSONValue& inValue, CharSet inCharSet, ECarriageReturnMode inMode,
                            bool inWithBOM) const;
    // Writes this file's content into inDestination (nothing when null or when reading failed).
    VError CopyContentTo(const IFile* inDestination) const;
};

class IFolder : public IFileSystemObject
{
public:
    // Iteration callbacks: true goes on, false stops the walk.
    using FileCallback = std::function<bool(IFile*, IFileAttributeAccessor*)>;
    using FolderCallback = std::function<bool(IFolder*, IFileAttributeAccessor*)>;

    void GetNameWithoutExtension(VString& outName) const override;

    // A folder relative to this one (one reference), bound to inFileSystem, else to this folder's;
    // null when the result is no folder path or the file system refuses it.
    virtual IFolder* RetainRelativeFolder(const VString& inRelativePath, FilePathStyle inStyle,
                                          VFileSystem* inFileSystem) const = 0;
    // Appends the folder's files and sub-folders (retained) to the given vectors (null: not
    // listed), invisible items only with inIncludeInvisible.
    virtual void GetElements(std::vector<VRefPtr<IFile>>* outFiles, std::vector<VRefPtr<IFolder>>* outFolders,
                             bool inIncludeInvisible) const = 0;
    virtual bool IterateFiles(const FileCallback& inCallback, uint32_t inOptions) const = 0;
    virtual bool IterateFolders(const FolderCallback& inCallback, uint32_t inOptions) const = 0;
    virtual IFile* _RetainRelativeIFile(const VString& inRelativePath, FilePathStyle inStyle) const = 0;

    // False for null; else whether the two ':' path texts are equal, compared exactly (Linux file
    // systems tell case and accents apart).
    bool IsSameFolder(const IFolder* inOther) const;
};

} // namespace zorn
