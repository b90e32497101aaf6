// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFile: the file layer's Linux back end, held in place by each VFile. It knows the file by
// its POSIX path alone, carries out the file's operations with system calls on it and returns
// 64-bit codes ('POSX' + errno for system failures, 'zorn' for the toolbox's own) and plain values
// (descriptors, paths), never pushing errors and never building files or descriptors: the file
// layer wraps what it returns. It
// also holds the conversions between the toolbox's colon path form and POSIX paths, and the coding
// of file names at the system boundary, which paths, URLs, files and folders share.
//
// Operations (choices and limits):
// - Open: O_CLOEXEC always; O_NOFOLLOW unless option 0x80 (Linux has no way to open a link
//   itself: a final link without 0x80 fails with ELOOP); option 2 creates (0644), 4 truncates;
//   access 1 and 2 open read-write and take flock(LOCK_EX / LOCK_SH | LOCK_NB), a lock held
//   elsewhere giving EACCES at once; access 3 tries 1, then 0; option 8 advises sequential reading,
//   0x20/0x40 advise dropping the cache after the open (no O_DIRECT); option 1 (a resource fork)
//   gives ENOTSUP.
// - Rename never replaces: renameat2(RENAME_NOREPLACE), with XLinuxStaging's fallbacks where the
//   file system refuses the flag. Its calls, and SetContent's, are the copy engine's table
//   (XLinuxCopyEngine::SetCalls), the one fault seam of the back ends.
// - SetContent replaces the file whole: the bytes go to a staging item beside it (XLinuxStaging,
//   whose short names fit beside a name of any legal length, and whose leftovers from killed
//   writers go with the next write to the folder), which is synced and then renamed over the file
//   (through a final link, over the link's target). A failure removes the staging item and leaves
//   the old file as it was. A file that another descriptor holds locked is refused with EACCES,
//   as opening it for writing would be. The rename makes a new inode: other hard links to the old
//   file keep the old content. The new file takes the old one's mode, extended attributes and
//   ACLs that the caller may set, its owner when running as root, else its group when the caller
//   belongs to that group.
//   A writable file in a folder where the caller cannot make the staging item (EACCES, EPERM) is
//   rewritten in place instead: that write is not crash-safe, a crash midway leaving a mixed file.
// - CreateSymbolicLink makes the link under a temporary sibling name and renames it over the
//   link path, so a failure never leaves neither the old item nor the new link.
// - Times: statx (a null creation time where the file system records none); setting a creation
//   time is ignored. Attribute bit 1 is the immutable flag (FS_IOC_GETFLAGS), bit 2 a name
//   beginning with '.' (setting it succeeds and changes nothing).
// - Aliases are symbolic links; RevealInFinder opens the parent folder with xdg-open, detached.
//
// Choices and limits:
// - Linux has one volume: the root "/", named kRootVolumeName in the colon form ("Root:a:b" is
//   "/a/b"). Other mounts are folders under it. The conversion is lexical: no statfs, no volume
//   table, no look at the disk. A colon path whose first component is another name stands for the
//   folder of that name at the root ("Data:a" is "/Data/a").
// - File names are bytes. They pass through as UTF-8 without Unicode composition or
//   decomposition, because Linux file systems compare bytes and another form names another file.
//   A byte that is not part of well-formed UTF-8 (decoded strictly, as the toolbox's converters
//   do: overlong forms, encoded surrogates, code points past U+10FFFF and truncated sequences are
//   ill-formed) becomes the lone unit U+DC00 + byte (U+DC80..U+DCFF) and goes back to that byte,
//   so every file can be named. Going back refuses (empty result) a text that no byte string
//   gives: one holding a NUL, a lone surrogate outside U+DC80..U+DCFF, or escaped bytes that
//   would themselves form well-formed UTF-8. Texts and byte strings therefore map one to one.
// - Path forms are std::string or VString of any length: no fixed buffers.
#pragma once

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace zorn
{

class VFileKind;
class VFilePath;
class VTime;
enum FileAccess : int32_t;

class XLinuxFile
{
public:
    // Open options.
    static constexpr uint32_t kOpenResourceFork = 0x1;
    static constexpr uint32_t kOpenCreate = 0x2;
    static constexpr uint32_t kOpenTruncate = 0x4;
    static constexpr uint32_t kOpenReadAhead = 0x8;
    static constexpr uint32_t kOpenNoCache = 0x20;
    static constexpr uint32_t kOpenNoCacheToo = 0x40;
    static constexpr uint32_t kOpenFollowLink = 0x80;
    // Create option: replace an existing file.
    static constexpr uint32_t kCreateReplace = 0x4;

    XLinuxFile() = default;
    // The file at this POSIX path (bytes, as the system takes them).
    explicit XLinuxFile(std::string inPosixPath) : fPosixPath(std::move(inPosixPath)) {}
    XLinuxFile(const XLinuxFile&) = delete;
    XLinuxFile& operator=(const XLinuxFile&) = delete;

    void SetPosixPathBytes(std::string inPosixPath) { fPosixPath = std::move(inPosixPath); }
    const std::string& GetPosixPathBytes() const { return fPosixPath; }
    VError GetPosixPath(VString& outPath) const;

    // A new descriptor in *outFd (-1 on failure), for the file layer to wrap; access 3 (FA_MAX)
    // tries read-write, then read only.
    VError Open(FileAccess inAccess, uint32_t inOptions, int* outFd) const;
    VError Create(uint32_t inOptions) const;
    VError Delete() const;
    // Renames a POSIX path without ever replacing what is at inTo.
    static VError RenamePath(const char* inFrom, const char* inTo);
    // Renames the file to the POSIX path inTo (RenamePath).
    VError RenameTo(const std::string& inTo) const { return RenamePath(fPosixPath.c_str(), inTo.c_str()); }

    bool Exists() const;
    VError GetSize(int64_t* outSize) const;
    VError GetResourceForkSize(int64_t* outSize) const;
    bool HasResourceFork() const { return false; }
    // Linux files have no resource fork, so there is no path to one: always null (as
    // GetResourceForkSize answers 0).
    char* AllocResourceForkPath() const { return nullptr; }
    // Linux keeps no hidden-extension flag: a name shows its extension, whatever is asked.
    void SetExtensionVisible(bool /*inVisible*/) const {}
    bool IsSymbolicLink() const;
    VError ReadSymbolicLink(VString& outText) const;

    static VError GetTimeAttributes(const char* inPath, bool inFollow, VTime* outModified, VTime* outCreated,
                                    VTime* outAccessed);
    VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const;
    static VError SetTimeAttributes(const char* inPath, const VTime* inModified, const VTime* inCreated,
                                    const VTime* inAccessed);
    VError SetTimeAttributes(const VTime* inModified, const VTime* inCreated, const VTime* inAccessed) const;

    static VError GetPathAttributes(const char* inPath, bool inFollow, uint32_t& outAttributes);
    static VError SetPathAttributes(const char* inPath, bool inFollow, uint32_t inAttributes);
    VError GetFileAttributes(uint32_t& outAttributes) const;
    VError SetFileAttributes(uint32_t inAttributes) const;
    // r = 4, w = 2, x = 1 for the calling process.
    static VError GetEffectivePermission(const char* inPath, uint32_t& outPermission);
    static VError UnlockPath(const char* inPath, bool inFollow);
    VError Unlock() const { return UnlockPath(fPosixPath.c_str(), true); }

    VError GetPermissions(uint16_t* outMode) const;
    VError SetPermissions(uint16_t inMode) const;
    VError MakeWritableByAll() const;
    bool IsWritableByAll() const;
    VError GetOwner(uint32_t& outUid, uint32_t& outGid) const;
    VError GetKind(uint32_t* outKind) const;

    // With a descriptor (inFd not -1), its file system; else the path's, or its parent's when it
    // is missing.
    static VError GetVolumeFreeSpace(const char* inPath, int64_t* outFree, int64_t* outTotal,
                                     bool inWithQuotas, int inFd);

    VError RevealInFinder() const;
    // Opens a path with xdg-open, detached in a session of its own and not waited for.
    static void OpenDetached(const std::string& inPath);

    bool IsAliasFile() const { return IsSymbolicLink(); }
    // The target of a link; a non-link gives 'zorn' 611 (kNotAnAlias), pushed by the caller.
    static constexpr VError kNotAnAlias = MakeVError(kCOMPONENT_ZORN, 611);
    VError ResolveAlias(VFilePath& outTarget) const;
    // A link to inTarget: relative to the folder inFolder (the link's own folder) when given,
    // else absolute.
    VError CreateSymbolicLink(const VFilePath& inTarget, const VFilePath* inFolder) const;
    VError CreateAlias(const VFilePath& inTarget, const VFilePath* inRelativeTo) const;

    // What folders need until their own back end: a folder (a final link followed) is there;
    // mkdir with mode 0755, an existing folder giving 0.
    static bool FolderExists(const char* inPath);
    static VError MakeFolder(const char* inPath);

    // Replaces the whole content (above).
    VError SetContent(const void* inData, size_t inSize) const;

    // Copy option: replace an existing destination once the copy is whole.
    static constexpr uint32_t kCopyReplace = 0x4;
    // Copy and move through the engine (XLinuxCopyEngine) to the POSIX path inTo (the new item's
    // full path); off the fibers' thread when the caller is a fiber task. outFailedItem receives
    // the POSIX path of the item a failure concerns (empty when none).
    VError Copy(const std::string& inTo, uint32_t inOptions, std::string* outFailedItem) const;
    VError Move(const std::string& inTo, uint32_t inOptions, std::string* outFailedItem) const;
    VError MoveToTrash() const;

    // File kinds from the built-in type table (XLinuxFile_Kinds.cpp): a new public kind (one
    // reference) of an identifier, or of the table's first identifier for an extension; null when
    // the table has none. The table has no OS types: the OS-kind form always gives null.
    static VFileKind* CreatePublicFileKind(const VString& inID);
    static VFileKind* CreatePublicFileKindFromExtension(const VString& inExtension);
    static VFileKind* CreatePublicFileKindFromOsKind(const VString& inOsKind);
    // Whether inKind is inOther or reaches it through its conforms-to links.
    static bool IsFileKindConformsTo(const VFileKind& inKind, const VFileKind& inOther);
    // The identifier of the item's type, a final link followed: a folder is the bundle type of its
    // extension, else com.apple.package when it is a package (XLinuxFolder::IsPackage), else
    // public.folder; any other item the table's type of its extension, else public.data. A missing
    // item gives its errno.
    VError GetUTIString(VString& outID) const;
    // The same identifier as a new string owned by the caller; null (with *outError, when given,
    // set to the failure) when it cannot be had.
    VString* RetainUTIString(VError* outError = nullptr) const;
    // For a private kind, whether the extension is one of the kind's; for a public kind, whether
    // the item's type conforms to it, else whether the extension is one of the kind's. The type's
    // failure is returned, with *outResult false.
    VError ConformsTo(const VFileKind& inKind, bool* outResult) const;

    // The name of the one volume, the root "/", in the colon form. It holds no ':'.
    static constexpr const char16_t* kRootVolumeName = u"Root";

    // File names at the system boundary (above).
    // Decodes inSize bytes of a name or path into outText (replaced).
    static void DecodeNameBytes(const char* inBytes, size_t inSize, VString& outText);
    // Encodes a text into outBytes (replaced); false, with outBytes empty, for a text that no byte
    // string gives.
    static bool EncodeNameBytes(const VString& inText, std::string& outBytes);

    // The bytes of a POSIX path text, empty when the text cannot be encoded.
    static std::string AllocatePosixPathFromString(const VString& inPosixPath);
    // The bytes of a path's POSIX form; empty for an invalid path.
    static std::string AllocatePosixPathFromFilePath(const VFilePath& inPath);
    // A path from the bytes of a full POSIX path; with inIsFolder a '/' is added when missing.
    // A null text clears the path.
    static void GetFilePathFromPosixPath(const char* inPosixPath, bool inIsFolder, VFilePath& outPath);

    // Whether the last component (a trailing '/' ignored) begins with '.'; false for texts shorter
    // than 2 bytes.
    static bool PosixNameBeginsWithDot(const char* inPosixPath);

    // The colon form of a full POSIX text: the root volume's name, then ':' when anything follows
    // the root or the text ends with '/', then the components with '/' and ':' swapped. Empty
    // components and "." vanish, ".." becomes an empty component ("::", one level up), and a text
    // ending in "/", "/." or "/.." (or any text with inIsDirectory) gives a folder path, ending
    // with ':'. False, outHFS empty, when the text does not begin with '/'.
    static bool PosixFullPathToHFS(const VString& inPosixPath, bool inIsDirectory, VString& outHFS);
    // The same from the bytes of a POSIX path, decoded as above; false as well for a null text.
    static bool PosixFullPathToHFS(const char* inPosixPath, bool inIsDirectory, VString& outHFS);
    // The POSIX form of a colon path: the root volume's name gives "/" followed by the rest, any
    // other first component "/" + that name, then '/' and the rest; '/' and ':' are swapped in the
    // names; an empty component ("::") becomes "..". A colon path without ':' names no folder
    // after its volume ("Root" gives "/").
    static void HFSFullPathToPosix(const VString& inHFSPath, VString& outPosix);

    // The canonical absolute form of a POSIX path (realpath(3)), a trailing '/' kept. With
    // inMustExist false, a path that cannot be resolved is resolved up to its longest ancestor
    // that can, and the remaining components are appended ("." dropped, ".." taking off the last
    // component). An empty path gives an empty result. False, with outPath empty, when the path
    // must exist and does not, or when no ancestor resolves (a relative text without '/').
    static bool RealPath(const std::string& inPath, bool inMustExist, std::string& outPath);

private:
    VError _Open(FileAccess inAccess, uint32_t inOptions, int* outFd) const;
    VError _CopyOrMove(bool inCopy, const std::string& inTo, uint32_t inOptions,
                       std::string* outFailedItem) const;

    std::string fPosixPath;
};

} // namespace zorn
