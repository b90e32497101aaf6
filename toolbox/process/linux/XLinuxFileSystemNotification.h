// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
//
// XLinuxFileSystemNotification: the file-system notifier's back end on inotify. It keeps, per
// watch, a snapshot of the watched tree (folder path ending with '/' -> entry name -> modification
// time and whether it is a folder) and an inotify watch on every folder of it. A notifier thread
// collects the folders that changed, per watch, for the watch's latency, then compares each of them
// with its stored listing and hands the changes to the owner (VFileSystemNotifier), which posts
// them to the watch's task.
//
// Choices and limits:
// - One inotify descriptor (IN_CLOEXEC | IN_NONBLOCK) and one eventfd (which wakes the thread to
//   stop it or to take a test condition) are made with the first watch, with the thread; until
//   then the back end holds no descriptor and runs no thread. Watches on the same folder share
//   the inotify watch, removed when the last of them goes.
// - Folders are watched with IN_CREATE, IN_DELETE, IN_MODIFY, IN_ATTRIB, IN_CLOSE_WRITE,
//   IN_MOVED_FROM, IN_MOVED_TO, IN_DELETE_SELF, IN_MOVE_SELF, IN_ONLYDIR and IN_DONT_FOLLOW.
//   Listings use scandir and lstat: symbolic links are entries, never followed; ".", ".." and
//   ".DS_Store" are left out, and so is an entry whose lstat fails. The watched folder itself
//   must not be a link either: a start on one fails with ('POSX', ENOTDIR).
// - Comparing a folder: a stored name missing from the fresh listing is a deletion, a new name a
//   creation; an entry that turned from file to folder or back is a deletion and a creation. A
//   file is modified when it was written (IN_MODIFY or IN_CLOSE_WRITE since the last comparison)
//   or its modification time changed (a touch, or writes whose events an overflow dropped): the
//   written names are kept per folder, since two writes within one tick of the file system's
//   clock leave the time as it was. A file is reported modified at most once per delivery, and
//   not when it is reported created or deleted in it. The fresh listing then replaces the
//   stored one, so a change is reported once. A folder that cannot be listed because it is gone
//   lists as empty; one that cannot be listed for another reason is compared later.
// - A folder that appears is snapshotted and watched with its subfolders (watch first, then list,
//   so nothing made meanwhile is missed), and what it holds is reported as created; a folder that
//   goes leaves the snapshot and loses its watches. Deletions are handled before creations, so a
//   folder renamed within the tree keeps its inotify watch under the new name.
// - IN_Q_OVERFLOW (events dropped): each watch compares its root folder. IN_DELETE_SELF or
//   IN_MOVE_SELF on a root: the root is compared when it still exists; otherwise its deletion is
//   reported once and the watch listens no more. IN_IGNORED retires a descriptor.
// - Running out of inotify watches (ENOSPC) fails the start of a watch with ('POSX', ENOSPC) and
//   leaves nothing behind; a folder that appears later and cannot be watched is still
//   snapshotted, but changes inside it are seen only through its parent.
// - Locks: the owner's lock, when both are taken, before the back end's mutex; the thread never
//   holds the mutex while it hands changes to the owner.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/process/VFileSystemNotifier.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zorn
{

class XLinuxFileSystemNotification : public VObject
{
public:
    struct FileInfo
    {
        int64_t fSeconds = 0;
        int64_t fNanoseconds = 0;
        bool fIsFolder = false;
    };
    // Entry name (bytes) -> its state.
    using Listing = std::map<std::string, FileInfo>;
    // Folder path (bytes, ending with '/') -> its listing.
    using Snapshot = std::map<std::string, Listing>;

    // A watch with its snapshot and its inotify watches; its members beyond the portable ones are
    // guarded by the back end's mutex.
    class XLinuxChangeData : public VFileSystemNotifier::VChangeData
    {
    public:
        XLinuxChangeData(const VFilePath& inPath, VFileSystemNotifier::EventKind inMask,
                         VFileSystemNotifier::IEventHandler* inHandler, VTask* inTask,
                         XLinuxFileSystemNotification* inBackEnd, std::string inPosixRoot,
                         int32_t inLatencyMs);

        const std::string& GetPosixRoot() const { return fPosixRoot; }

    private:
        friend class XLinuxFileSystemNotification;

        Snapshot fSnapshot;
        const std::string fPosixRoot;
        const int32_t fLatencyMs;
        std::map<std::string, int> fWatchedFolders;                 // folder path -> inotify watch descriptor
        std::set<std::string> fChangedFolders;                      // collected until fDeadline
        std::map<std::string, std::set<std::string>> fWrittenFiles; // folder -> names written
        std::chrono::steady_clock::time_point fDeadline;
        bool fRootGone = false;
        bool fRootReported = false;
        bool fListening = true;
    };

    // Test conditions that cannot be made without privileges (see FeedTestCondition).
    enum class ETestCondition
    {
        eHoldQueue,     // the thread stops reading inotify events: they wait in the kernel's queue
        eQueueOverflow, // the waiting events are dropped and an overflow is handled; reading goes on
        eWatchLimit,    // inCount more watches succeed, then each fails with ENOSPC
        eNoWatchLimit
    };

    explicit XLinuxFileSystemNotification(VFileSystemNotifier* inOwner);
    ~XLinuxFileSystemNotification() override;
    XLinuxFileSystemNotification(const XLinuxFileSystemNotification&) = delete;
    XLinuxFileSystemNotification& operator=(const XLinuxFileSystemNotification&) = delete;

    // With the owner's lock held: snapshots and watches the folder's tree and lists the watch with
    // the owner. 0, or ('POSX', errno) with nothing listed or left watched.
    VError StartWatchingForChanges(const VFilePath& inFolder, VFileSystemNotifier::EventKind inMask,
                                   VFileSystemNotifier::IEventHandler* inHandler, int32_t inLatencyMs);
    // Removes the watch's inotify watches and frees its snapshot; 0.
    VError StopWatchingForChanges(VFileSystemNotifier::VChangeData* inWatch);
    // Stops the thread (waiting for it). Called by the owner before it lets its watches go; the
    // owner's lock must not be held.
    void Shutdown();

    // Whether the inotify descriptor is open and the thread runs.
    bool IsRunning() const;
    // For tests: what the listening watches hold, counted under the mutex.
    struct Usage
    {
        size_t fFolders = 0;     // listings in the snapshots
        size_t fEntries = 0;     // entries in those listings
        size_t fDescriptors = 0; // inotify watches
    };
    Usage GetUsage() const;

    // Test entry (see ETestCondition). An overflow is handled on the calling thread.
    void FeedTestCondition(ETestCondition inCondition, int inCount = 0);

    // The listing of one folder (scandir and lstat, as above), replacing outListing. 0, or the errno
    // of a folder that cannot be listed.
    static int ListFolder(const std::string& inFolder, Listing& outListing);

private:
    struct WatchEntry
    {
        XLinuxChangeData* fWatch;
        std::string fFolder;
    };
    using ChangeList = std::vector<VFileSystemNotifier::Change>;

    // With the mutex held, unless said.
    VError _StartThread();
    void _Run();
    // Reads and handles the waiting inotify events; with inDrop, reads and drops them.
    void _ReadEvents(bool inDrop);
    // inName: the entry the event is about, null when it is about the watched folder itself.
    void _HandleEvent(int inDescriptor, uint32_t inMask, const char* inName);
    void _HandleOverflow();
    // Adds a folder to the collected ones of a listening watch and starts its latency.
    void _MarkChanged(XLinuxChangeData* inWatch, const std::string& inFolder);
    // Compares the due watches' collected folders, then (without the mutex) hands the changes to
    // the owner. Returns the time to wait for the next due watch in milliseconds, -1 for none.
    int _DeliverDue();
    // Compares one folder with its stored listing; whether it found a change of the mask.
    bool _BuildChangeList(XLinuxChangeData* inWatch, const std::string& inFolder, ChangeList& ioChanges);
    // Snapshots and watches a folder and its subfolders; with ioCreated, reports their entries
    // as created. ('POSX', ENOSPC) only when inFailOnLimit; other folders that cannot be watched or
    // listed are left out.
    VError _AddTree(XLinuxChangeData* inWatch, const std::string& inFolder, ChangeList* ioCreated,
                    bool inFailOnLimit);
    // Takes a folder and its subfolders out of the snapshot and out of watching.
    void _DropTree(XLinuxChangeData* inWatch, const std::string& inFolder);
    // Watches one folder for the watch; 0 or the errno.
    int _WatchFolder(XLinuxChangeData* inWatch, const std::string& inFolder);
    void _UnwatchFolder(XLinuxChangeData* inWatch, const std::string& inFolder, bool inRemoveDescriptor);
    // Stops listening: every inotify watch of the watch goes.
    void _StopListening(XLinuxChangeData* inWatch);
    void _AddChangeToList(XLinuxChangeData* inWatch, const std::string& inPath, bool inIsFolder,
                          VFileSystemNotifier::EventKind inKind, ChangeList& ioChanges) const;
    void _WakeThread() const;

    VFileSystemNotifier* const fOwner;
    mutable std::mutex fMutex;
    int fInotify = -1;
    int fWakeEvent = -1;
    std::thread fThread;
    std::atomic<bool> fStopping{false};
    std::atomic<bool> fHeld{false};
    int fWatchesLeft = -1; // before ENOSPC; -1: no limit of ours
    std::vector<VRefPtr<XLinuxChangeData>> fListening;
    std::unordered_map<int, std::vector<WatchEntry>> fDescriptors;
    std::vector<char> fBuffer; // inotify events, read under the mutex
};

} // namespace zorn
