// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxCopyEngine: the one engine that copies, moves and trashes files and folder trees for the
// file and folder back ends. It never loses what is already on disk: whatever it writes goes
// under a hidden staging sibling of the destination, which takes the real name in one rename
// once it is whole. It returns 'POSX' + errno codes and pushes nothing.
//
// Copy (choices and limits):
// - File data: ioctl(FICLONE) (a reflink), else a copy_file_range loop, else read/write. Then the
//   owner (only when running as root, fchownat without following, before the mode so set-id bits
//   survive), extended attributes (ENOTSUP/EOPNOTSUPP ignored), the mode (07777) and the access
//   and modification times. Folders get mode and times after their contents.
// - A symbolic link is copied as a link, never followed; a FIFO is re-created with mkfifoat, never
//   opened (so it carries no extended attributes); device and socket files are refused with
//   ENOTSUP and the item's path in outFailedItem.
// - Inside one copy, names of one inode (st_nlink > 1) stay hard links to the first copy.
// - Trees are walked relative to open descriptors (openat with O_NOFOLLOW | O_DIRECTORY), so
//   neither path length nor a link leads the walk out of the tree. A destination inside the
//   source (compared by device and inode of the destination's ancestors) is refused with EINVAL.
// - Staging (XLinuxStaging): the copy is made under a staging name in the destination folder,
//   syncfs once, then put in place without replacing, or with a plain (atomic) rename over the
//   destination with inReplace. A failure removes the staged item. Before every copy, the
//   leftovers of processes that are gone are removed from the destination folder.
// - Files with holes keep them (SEEK_DATA / SEEK_HOLE, as cp --sparse=auto); the walk keeps a
//   bounded number of descriptors open (XLinuxFolderTrail), so no depth is too deep for it.
// - Replacing an existing folder is not done here (a rename cannot replace a non-empty folder,
//   ENOTEMPTY): the folder layer copies the new tree under a sibling named with
//   MakeStagingName, exchanges the two and removes the old one, so a killed replace leaves only
//   siblings that the next copy removes.
//
// Move: renameat2(RENAME_NOREPLACE) (a plain rename with inReplace); on EXDEV a staged copy, and
// the source is removed only once the copy is in place.
//
// Trash (freedesktop.org Trash specification 1.0):
// - The home trash is $XDG_DATA_HOME/Trash (an absolute $XDG_DATA_HOME, else
//   $HOME/.local/share/Trash); it takes items on the device of $XDG_DATA_HOME's folder. $HOME and
//   $XDG_DATA_HOME are used as given, also under sudo with the user's HOME, as desktop trash tools
//   do: root-owned items then land in that user's trash.
// - Other items go to the trash of their $topdir (the highest ancestor on the item's device):
//   $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit, else $topdir/.Trash-$uid.
// - A rename cannot leave a mount, and a bind mount of a folder of the same file system shows no
//   device boundary. So the home trash takes only items whose folder is on its own mount (statx
//   mount IDs), and $topdir is never above the mount point of the item's folder (the mount table,
//   XLinuxVolumes, read again when it does not know that mount yet).
// - "info/NAME.trashinfo" is created exclusively first ("Path=" percent-encoded, absolute in the
//   home trash, relative to $topdir otherwise; "DeletionDate=" in local time), then the item is
//   renamed to "files/NAME" without replacing; the info file goes when that fails. Taken names
//   give "NAME.2", "NAME.3", ... Nothing is copied across devices: EXDEV is a failure.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace zorn
{

// The system calls the file back ends make where a fault matters (the engine's copies, moves and
// removals, the staging's placing, an open file's transfers): the one table tests replace to
// inject faults (SetCalls; Reset restores the system's). Each keeps the signature of the call it
// stands for.
struct XLinuxCopyCalls
{
    int (*fFiclone)(int inDest, int inSource);
    ssize_t (*fCopyFileRange)(int, loff_t*, int, loff_t*, size_t, unsigned int);
    ssize_t (*fRead)(int, void*, size_t);
    ssize_t (*fWrite)(int, const void*, size_t);
    int (*fMkdirat)(int, const char*, mode_t);
    int (*fFsetxattr)(int, const char*, const void*, size_t, int);
    int (*fRenameat2)(int, const char*, int, const char*, unsigned int);
    int (*fSyncfs)(int);
    int (*fLinkat)(int, const char*, int, const char*, int);
    int (*fSymlinkat)(const char*, int, const char*);
    int (*fOpenat)(int, const char*, int, mode_t);
    int (*fUnlinkat)(int, const char*, int);             // removing trees
    ssize_t (*fPread)(int, void*, size_t, off_t);        // an open file's reads
    ssize_t (*fPwrite)(int, const void*, size_t, off_t); // an open file's writes
};

class XLinuxCopyEngine
{
public:
    // Copies the item at inSource (a file, link, FIFO or folder tree; a final link is copied as a
    // link) to inDestination (the full path of the new item). With inReplace an existing
    // destination file is replaced atomically once the copy is whole; without it an existing
    // destination fails with EEXIST. outFailedItem, when given, receives the path of the item
    // the copy failed on (empty when the failure concerns no single item).
    static VError Copy(const std::string& inSource, const std::string& inDestination, bool inReplace,
                       std::string* outFailedItem = nullptr);
    // Moves the item (above).
    static VError Move(const std::string& inSource, const std::string& inDestination, bool inReplace,
                       std::string* outFailedItem = nullptr);
    static VError MoveToTrash(const std::string& inItem);

    // Removes a tree (or a file or link) without following links; 0 when it is absent.
    static VError RemoveTree(const std::string& inPath);

    // Copies the extended attributes (ACLs among them) of the open item inFrom to inTo, leaving
    // out those the caller may not set, as the copies do; 0 or the errno.
    static int CopyExtendedAttributes(int inFrom, int inTo);
    // Removes inName in the folder open at inDir (a tree with all it holds); 0 when it is absent.
    static VError RemoveTreeAt(int inDir, const char* inName);

    // A new staging name for an item beside its destination (XLinuxStaging::MakeName), so that
    // what a killed process leaves is found and removed before the next staging into the folder.
    static std::string MakeStagingName();

    // Runs inFunction inline, unless the caller is a fiber task: then on a worker thread while
    // the fiber waits on a VSyncEvent, so that a long file operation does not hold the fibers'
    // thread. inFunction must not touch the calling task's error context.
    static void RunBlockingOffFiber(const std::function<void()>& inFunction);

    // A snapshot of the table: a test swapping it changes no operation already under way.
    static XLinuxCopyCalls GetCalls();
    static void SetCalls(const XLinuxCopyCalls& inCalls);
    static void ResetCalls();
    static XLinuxCopyCalls GetSystemCalls();
};

} // namespace zorn
