// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFolder: the folder layer's Linux back end, held in place by each VFolder. It knows the
// folder by its POSIX path (ending with '/') alone, carries out the folder's operations with
// system calls on it and returns 64-bit codes ('POSX' + errno) and plain values (paths, identities),
// never pushing errors and never building files or folders: the folder layer wraps what it
// returns. It also finds the system folders' paths (GetSystemFolderPosixPath).
//
// Operations (choices and limits):
// - Create is mkdir with mode 0755 (less the umask); Delete is rmdir (an empty folder only).
// - IsHidden: a name beginning with '.' (Linux has no hidden flag); a missing folder is an error.
// - Rename never replaces an existing item (XLinuxFile::RenamePath, RENAME_NOREPLACE).
// - Move, CopyToNonExistingFolder and MoveToTrash go through the copy engine
//   (XLinuxCopyEngine), off the fibers' thread when the caller is a fiber task.
// - IsWritableByAll: the other-write bit 0002, as for files (not any write bit).
// - Folder attributes: bit 1 is the immutable flag (FS_IOC_GETFLAGS through ioctl); there is no
//   hidden flag to set.
// - IsPackage: the extension app, bundle, framework or plugin (compared exactly, ASCII case
//   ignored), or a Contents/Info.plist inside.
// - RevealInFinder opens the folder itself with xdg-open, detached; always 0.
// - DeleteForced removes the folder and everything in it: the parent's immutable flag is cleared
//   and its owner's rwx bits widened (when the caller owns it and is not root) for the time of
//   the walk, and both are restored in every case, also after a failure. The walk (fts with
//   FTS_PHYSICAL | FTS_XDEV) removes links as links, never follows them, and never enters another
//   mounted file system: a mount point inside the tree makes the call fail (EBUSY) and is left.
//   The first entry that cannot be removed stops the walk. A restore failure is handed back apart
//   (the folder layer pushes it as 'zorn' 655); the result stays the walk's.
//
// System folders (GetSystemFolderPosixPath, kinds of ESystemFolderKind): the XDG base and user-dirs
// conventions stand in for the macOS domains:
//   0 the running executable's folder; 1 XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs,
//   else ~/Documents; 2 $TMPDIR, else /tmp; 3 none; 4 and 6 the first entry of $XDG_DATA_DIRS
//   (default /usr/local/share); 5 and 7 $XDG_DATA_HOME (default ~/.local/share); 8
//   XDG_DESKTOP_DIR, else ~/Desktop; 9 /opt; 10 /var/cache; 11 $XDG_CACHE_HOME (default
//   ~/.cache); 12 ~/.local; 13 $HOME, else the password database's home. Relative values of the
//   XDG variables are ignored, as the XDG convention says. With inCreate the missing folders of
//   kinds 1 and 4 to 12 are made (0700 for those under the home folder, 0755 elsewhere); the
//   folder is returned also when it does not exist. Kind 3, kinds 14 and above, and a failed
//   kind 0 give no folder and 0.
#pragma once

#include "toolbox/files/VSystemFolderKind.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace zorn
{

class VFilePath;
class VTime;

class XLinuxFolder
{
public:
    XLinuxFolder() = default;
    // The folder at this POSIX path; a '/' is added when it lacks one.
    explicit XLinuxFolder(std::string inPosixPath);
    ~XLinuxFolder() = default;
    XLinuxFolder(const XLinuxFolder&) = delete;
    XLinuxFolder& operator=(const XLinuxFolder&) = delete;

    // Taken as it stands (the file layer computes it with the final '/').
    void SetPosixPathBytes(std::string inPosixPath) { fPosixPath = std::move(inPosixPath); }
    const std::string& GetPosixPathBytes() const { return fPosixPath; }

    VError Create() const;
    VError Delete() const;
    bool Exists(bool inFollowLinks) const;
    // The device and inode of the folder, a final link followed: what tells a folder met again
    // through a link from a new one. False when the folder cannot be reached.
    bool GetIdentity(uint64_t& outDevice, uint64_t& outInode) const;
    VError IsHidden(bool& outHidden) const;
    // To the POSIX path inTo (a final '/' allowed), never replacing what is there.
    VError RenameTo(const std::string& inTo) const;
    // Moves the tree to the POSIX path inTo (the copy engine's move, without replacing).
    VError Move(const std::string& inTo) const;
    // A copy of the tree at the POSIX path inTo, which must not exist; staged, whole or nothing.
    VError CopyTo(const std::string& inTo, std::string* outFailedItem = nullptr) const;
    VError MoveToTrash() const;
    VError RevealInFinder() const;

    VError SetTimeAttributes(const VTime* inModified, const VTime* inCreated, const VTime* inAccessed) const;
    VError GetTimeAttributes(VTime* outModified, VTime* outCreated, VTime* outAccessed) const;
    VError GetVolumeCapacity(int64_t* outTotal) const;
    VError GetVolumeFreeSpace(int64_t* outFree, bool inWithQuotas) const;
    // The path as text (names decoded as at the system boundary); always 0.
    VError GetPosixPath(VString& outPath) const;

    VError MakeWritableByAll() const;
    VError GetPermissions(uint16_t* outMode) const;
    VError SetPermissions(uint16_t inMode) const;
    bool IsWritableByAll() const;
    bool IsTraversable() const;
    VError GetFolderAttributes(uint32_t& outAttributes) const;
    VError SetFolderAttributes(uint32_t inAttributes) const;
    bool IsPackage() const;
    VError GetOwner(uint32_t& outUid, uint32_t& outGid) const;

    // outRestoreFailure, when given, receives the failure to restore the parent (0 when none).
    VError DeleteForced(VError* outRestoreFailure = nullptr) const;

    // Whether inPosixPath, by its real path (links resolved, missing components taken as they
    // stand), is this folder or lies inside it.
    bool ContainsRealPath(const std::string& inPosixPath) const;
    // Exchanges two items atomically (renameat2 RENAME_EXCHANGE, through the copy engine's
    // replaceable calls); EINVAL where the file system cannot.
    // Busy items tried again inAttempts times in all, inBeforeRetry (when set) run between two
    // attempts; where the file system cannot exchange, two renames (XLinuxStaging).
    static VError ExchangePaths(const std::string& inFirst, const std::string& inSecond, int inAttempts = 5,
                                const std::function<void(int)>& inBeforeRetry = {});
    // A staged copy of the tree inSource in the folder inFolder, left under a staging name
    // (XLinuxStaging) returned in outStaging (a full POSIX path); whole or nothing.
    static VError StageCopy(const std::string& inSource, const std::string& inFolder, std::string& outStaging,
                            std::string* outFailedItem = nullptr);
    // open(2) with O_CLOEXEC; a path too long for one call is opened a component at a time (links
    // on the way followed), its last component with inFlags.
    static int OpenPath(const std::string& inPath, int inFlags);
    // Removes a tree without following links (the copy engine's); 0 when it is absent.
    static VError RemoveTree(const std::string& inPosixPath);

    // The POSIX path of a kind's folder, ending with '/'; empty when the kind names none. With
    // inCreate the missing folders are made.
    static std::string GetSystemFolderPosixPath(ESystemFolderKind inKind, bool inCreate);

private:
    std::string fPosixPath;
};

// What the BSD layer offers: a symbolic link at inLinkPath holding inTarget. A failure throws the
// 'POSX' errno code on the current task's error context and returns it.
class XBSDSystem
{
public:
    static VError CreateSymbolicLink(const char* inTarget, const char* inLinkPath);
};

} // namespace zorn
