// An exclusive lock on a folder, held for as long as the object lives, that tells two processes
// working on the same folder apart: flock on a read-only descriptor of the folder.
//
// Choices and limits:
// - The lock belongs to the open descriptor (flock, not fcntl): the kernel lets it go when the
//   process ends, however it ends, so a killed holder never leaves it held.
// - Never waits: a lock held elsewhere is reported at once.
// - The descriptor is close-on-exec, so programs started while it is held do not keep it.
// - Advisory: only processes that take the same lock are kept out.
#pragma once

#include <string>

namespace zorn::platform
{

class FolderLock
{
public:
    enum class Outcome
    {
        kLocked, // this object holds the lock
        kHeld,   // another open descriptor (another process) holds it
        kFailed  // the folder could not be opened or locked; see Errno()
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Opens the folder and tries once to lock it; a lock this object already holds is let go first.
    Outcome TryLock(const std::string& inFolder);
    void Unlock();
    int Errno() const { return fErrno; }

private:
    int fDescriptor = -1;
    int fErrno = 0;
};

} // namespace zorn::platform
