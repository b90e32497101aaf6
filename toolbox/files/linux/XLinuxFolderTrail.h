// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFolderTrail: the folders from a starting point down to where a tree walk stands, each
// opened relative to its parent, with at most kOpenLevels of them open at once. A walk of any
// depth therefore needs a bounded number of descriptors: a folder whose descriptor was closed to
// make room is opened again, by name, from the nearest ancestor still open when the walk comes
// back up to it.
//
// Choices and limits:
// - Every folder is opened with O_NOFOLLOW | O_DIRECTORY (the first one as the caller asks), and
//   a folder opened again must be the same one (device and inode) as when first entered: a tree
//   changed under the walk gives ESTALE rather than a walk of some other folder.
// - The walk keeps the identities of all the folders on its trail, so it can tell a folder that
//   is its own ancestor (a cycle through links followed by the caller).
// - The start descriptor is the caller's (AT_FDCWD or an open folder) and is never closed.
// - Not shared between threads.
#pragma once

#include "toolbox/files/linux/XLinuxFd.h"

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zorn
{

class XLinuxFolderTrail
{
public:
    static constexpr size_t kOpenLevels = 32;

    explicit XLinuxFolderTrail(int inStart) : fStart(inStart) {}

    // Opens inName in the current folder (the start when the trail is empty) and makes it the
    // current folder; 0, else the errno. inFlags are added to O_RDONLY | O_DIRECTORY | O_CLOEXEC.
    // inOpen, when given, replaces openat (a fault seam of the caller's).
    using OpenCall = int (*)(int, const char*, int, mode_t);
    int Enter(const std::string& inName, int inFlags = O_NOFOLLOW, OpenCall inOpen = nullptr);
    // Leaves the current folder for its parent.
    void Leave();
    // The descriptor of the current folder (the start when the trail is empty), opened again
    // when it was closed; -1 with errno set when it cannot be.
    int Current();
    size_t GetDepth() const { return fLevels.size(); }
    // Names in the folder open at inFd (read through a duplicate, so inFd keeps its offset), "." and
    // ".." left out; 0 or the errno.
    static int ListNames(int inFd, std::vector<std::string>& outNames);
    // Whether a folder of that device and inode is on the trail.
    bool Holds(dev_t inDevice, ino_t inInode) const;

private:
    struct Level
    {
        std::string fName;
        int fFlags;
        XLinuxFd fFd;
        dev_t fDevice;
        ino_t fInode;
    };
    int _Reopen(size_t inIndex);
    void _CloseOldest();

    int fStart;
    std::vector<Level> fLevels;
    size_t fOpen = 0;
};

} // namespace zorn
