// Portable files use the C and C++ libraries and ICU only; system calls, /proc and glibc
// extensions live in this linux/ back end.
#include "toolbox/process/linux/XLinuxFileSystemNotification.h"

#include "toolbox/files/linux/XLinuxErrno.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zorn
{

namespace
{

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW;

// Reads of the inotify descriptor per wake, so that a steady stream of events cannot keep the
// thread from delivering.
constexpr int kReadsPerWake = 16;
constexpr size_t kEventBufferSize = 64 * 1024;

int KeepEntry(const struct dirent* inEntry)
{
    const char* name = inEntry->d_name;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && std::strcmp(name, ".DS_Store") != 0;
}

bool StartsWith(const std::string& inText, const std::string& inPrefix)
{
    return inText.compare(0, inPrefix.size(), inPrefix) == 0;
}

} // namespace

// Watches

XLinuxFileSystemNotification::XLinuxChangeData::XLinuxChangeData(
    const VFilePath& inPath, VFileSystemNotifier::EventKind inMask,
    VFileSystemNotifier::IEventHandler* inHandler, VTask* inTask, XLinuxFileSystemNotification* inBackEnd,
    std::string inPosixRoot, int32_t inLatencyMs)
    : VChangeData(inPath, inMask, inHandler, inTask, inBackEnd), fPosixRoot(std::move(inPosixRoot)),
      fLatencyMs(std::max<int32_t>(inLatencyMs, 0))
{
}

// Life

XLinuxFileSystemNotification::XLinuxFileSystemNotification(VFileSystemNotifier* inOwner) : fOwner(inOwner) {}

XLinuxFileSystemNotification::~XLinuxFileSystemNotification()
{
    Shutdown();
    // Closing the descriptor removes the kernel's watches.
    if (fInotify >= 0)
    {
        ::close(fInotify);
    }
    if (fWakeEvent >= 0)
    {
        ::close(fWakeEvent);
    }
}

void XLinuxFileSystemNotification::Shutdown()
{
    std::thread thread;
    {
        // The thread may have been started by another task.
        std::lock_guard lock(fMutex);
        thread = std::move(fThread);
    }
    if (thread.joinable())
    {
        fStopping.store(true, std::memory_order_release);
        _WakeThread();
        thread.join();
    }
}

bool XLinuxFileSystemNotification::IsRunning() const
{
    std::lock_guard lock(fMutex);
    return fInotify >= 0 && fThread.joinable();
}

XLinuxFileSystemNotification::Usage XLinuxFileSystemNotification::GetUsage() const
{
    std::lock_guard lock(fMutex);
    Usage usage;
    for (const auto& watch : fListening)
    {
        usage.fFolders += watch->fSnapshot.size();
        for (const auto& listing : watch->fSnapshot)
        {
            usage.fEntries += listing.second.size();
        }
    }
    usage.fDescriptors = fDescriptors.size();
    return usage;
}

VError XLinuxFileSystemNotification::_StartThread()
{
    fInotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fInotify < 0)
    {
        return xlinux::LastErrno();
    }
    fWakeEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int failure = fWakeEvent < 0 ? errno : 0;
    if (failure == 0)
    {
        try
        {
            fThread = std::thread([this] { _Run(); });
            // Named here, before the first watch returns, so that it can be told apart in /proc
            // and in debuggers from the moment it exists.
            ::pthread_setname_np(fThread.native_handle(), "FS notifier");
        }
        catch (const std::system_error& inError)
        {
            failure = inError.code().value() != 0 ? inError.code().value() : EAGAIN;
        }
    }
    if (failure != 0)
    {
        ::close(fInotify);
        fInotify = -1;
        if (fWakeEvent >= 0)
        {
            ::close(fWakeEvent);
            fWakeEvent = -1;
        }
        return xlinux::Errno(failure);
    }
    return VE_OK;
}

void XLinuxFileSystemNotification::_WakeThread() const
{
    if (fWakeEvent >= 0)
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(fWakeEvent, &one, sizeof(one));
    }
}

// Starting and stopping watches

VError XLinuxFileSystemNotification::StartWatchingForChanges(const VFilePath& inFolder,
                                                             VFileSystemNotifier::EventKind inMask,
                                                             VFileSystemNotifier::IEventHandler* inHandler,
                                                             int32_t inLatencyMs)
{
    std::string root = XLinuxFile::AllocatePosixPathFromFilePath(inFolder);
    if (root.empty())
    {
        return VE_INVALID_PARAMETER;
    }
    if (root.back() != '/')
    {
        root.push_back('/');
    }
    VRefPtr<XLinuxChangeData> watch(
        new XLinuxChangeData(inFolder, inMask, inHandler, VTask::GetCurrent(), this, root, inLatencyMs),
        true);

    std::lock_guard lock(fMutex);
    if (fInotify < 0)
    {
        if (VError error = _StartThread(); error != VE_OK)
        {
            return error;
        }
    }
    if (VError error = _AddTree(watch.Get(), root, nullptr, true); error != VE_OK)
    {
        _StopListening(watch.Get());
        watch->fSnapshot.clear();
        return error;
    }
    fListening.push_back(watch);
    fOwner->PushChangeData(watch.Get());
    return VE_OK;
}

VError XLinuxFileSystemNotification::StopWatchingForChanges(VFileSystemNotifier::VChangeData* inWatch)
{
    auto* watch = static_cast<XLinuxChangeData*>(inWatch);
    std::lock_guard lock(fMutex);
    _StopListening(watch);
    watch->fSnapshot.clear();
    watch->fChangedFolders.clear();
    watch->fWrittenFiles.clear();
    std::erase_if(fListening,
                  [watch](const VRefPtr<XLinuxChangeData>& inListed) { return inListed.Get() == watch; });
    return VE_OK;
}

// Snapshots

int XLinuxFileSystemNotification::ListFolder(const std::string& inFolder, Listing& outListing)
{
    outListing.clear();
    struct dirent** entries = nullptr;
    const int count = ::scandir(inFolder.c_str(), &entries, KeepEntry, nullptr);
    if (count < 0)
    {
        return errno;
    }
    std::string path = inFolder;
    for (int index = 0; index < count; ++index)
    {
        path.resize(inFolder.size());
        path += entries[index]->d_name;
        struct stat status;
        // An entry that went between the listing and lstat is left out.
        if (::lstat(path.c_str(), &status) == 0)
        {
            outListing[entries[index]->d_name] =
                FileInfo{status.st_mtim.tv_sec, status.st_mtim.tv_nsec, S_ISDIR(status.st_mode)};
        }
        std::free(entries[index]);
    }
    std::free(entries);
    return 0;
}

int XLinuxFileSystemNotification::_WatchFolder(XLinuxChangeData* inWatch, const std::string& inFolder)
{
    if (fWatchesLeft == 0)
    {
        return ENOSPC;
    }
    // A folder watched again (replaced under its name) first gives up its old watch: adding the
    // same inode again would return the descriptor that removing the old one then takes away.
    _UnwatchFolder(inWatch, inFolder, true);
    // Without its final '/', which would follow a link in the folder's place.
    std::string path = inFolder;
    if (path.size() > 1)
    {
        path.pop_back();
    }
    const int descriptor = ::inotify_add_watch(fInotify, path.c_str(), kWatchMask);
    if (descriptor < 0)
    {
        return errno;
    }
    if (fWatchesLeft > 0)
    {
        --fWatchesLeft;
    }
    inWatch->fWatchedFolders[inFolder] = descriptor;
    fDescriptors[descriptor].push_back(WatchEntry{inWatch, inFolder});
    return 0;
}

void XLinuxFileSystemNotification::_UnwatchFolder(XLinuxChangeData* inWatch, const std::string& inFolder,
                                                  bool inRemoveDescriptor)
{
    auto watched = inWatch->fWatchedFolders.find(inFolder);
    if (watched == inWatch->fWatchedFolders.end())
    {
        return;
    }
    const int descriptor = watched->second;
    inWatch->fWatchedFolders.erase(watched);
    auto entries = fDescriptors.find(descriptor);
    if (entries == fDescriptors.end())
    {
        return;
    }
    std::erase_if(entries->second, [&](const WatchEntry& inEntry)
                  { return inEntry.fWatch == inWatch && inEntry.fFolder == inFolder; });
    if (entries->second.empty())
    {
        fDescriptors.erase(entries);
        if (inRemoveDescriptor)
        {
            ::inotify_rm_watch(fInotify, descriptor);
        }
    }
}

void XLinuxFileSystemNotification::_StopListening(XLinuxChangeData* inWatch)
{
    inWatch->fListening = false;
    while (!inWatch->fWatchedFolders.empty())
    {
        const std::string folder = inWatch->fWatchedFolders.begin()->first;
        _UnwatchFolder(inWatch, folder, true);
    }
}

VError XLinuxFileSystemNotification::_AddTree(XLinuxChangeData* inWatch, const std::string& inFolder,
                                              ChangeList* ioCreated, bool inFailOnLimit)
{
    // Breadth first, so that a folder's entries are reported before those of its subfolders.
    std::vector<std::string> pending{inFolder};
    for (size_t next = 0; next < pending.size(); ++next)
    {
        const std::string folder = pending[next];
        const bool isRoot = folder == inWatch->fPosixRoot;
        // Watched before it is listed, so that what appears meanwhile is in the listing or in an event.
        int failure = _WatchFolder(inWatch, folder);
        if (failure != 0 && (isRoot || (failure == ENOSPC && inFailOnLimit)))
        {
            return xlinux::Errno(failure);
        }
        Listing listing;
        failure = ListFolder(folder, listing);
        if (failure != 0)
        {
            if (isRoot)
            {
                return xlinux::Errno(failure);
            }
            _UnwatchFolder(inWatch, folder, true);
            continue;
        }
        for (const auto& [name, info] : listing)
        {
            if (ioCreated != nullptr)
            {
                _AddChangeToList(inWatch, folder + name, info.fIsFolder, VFileSystemNotifier::eCreated,
                                 *ioCreated);
            }
            if (info.fIsFolder)
            {
                pending.push_back(folder + name + "/");
            }
        }
        inWatch->fSnapshot[folder] = std::move(listing);
    }
    return VE_OK;
}

void XLinuxFileSystemNotification::_DropTree(XLinuxChangeData* inWatch, const std::string& inFolder)
{
    for (auto listing = inWatch->fSnapshot.lower_bound(inFolder);
         listing != inWatch->fSnapshot.end() && StartsWith(listing->first, inFolder);)
    {
        listing = inWatch->fSnapshot.erase(listing);
    }
    for (auto names = inWatch->fWrittenFiles.lower_bound(inFolder);
         names != inWatch->fWrittenFiles.end() && StartsWith(names->first, inFolder);)
    {
        names = inWatch->fWrittenFiles.erase(names);
    }
    for (auto watched = inWatch->fWatchedFolders.lower_bound(inFolder);
         watched != inWatch->fWatchedFolders.end() && StartsWith(watched->first, inFolder);)
    {
        const std::string folder = watched->first;
        ++watched;
        _UnwatchFolder(inWatch, folder, true);
    }
}

void XLinuxFileSystemNotification::_AddChangeToList(XLinuxChangeData* inWatch, const std::string& inPath,
                                                    bool inIsFolder, VFileSystemNotifier::EventKind inKind,
                                                    ChangeList& ioChanges) const
{
    if ((inWatch->GetMask() & inKind) == 0)
    {
        return;
    }
    // Bytes that are not UTF-8 come back escaped, so the path names the same file.
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(inPath.c_str(), inIsFolder, path);
    ioChanges.emplace_back(path, inKind);
}

bool XLinuxFileSystemNotification::_BuildChangeList(XLinuxChangeData* inWatch, const std::string& inFolder,
                                                    ChangeList& ioChanges)
{
    auto stored = inWatch->fSnapshot.find(inFolder);
    if (stored == inWatch->fSnapshot.end())
    {
        // A folder without a listing reports nothing, and its written names go with it.
        inWatch->fWrittenFiles.erase(inFolder);
        return false;
    }
    Listing fresh;
    const int failure = ListFolder(inFolder, fresh);
    const bool gone = failure == ENOENT || failure == ENOTDIR;
    if (failure != 0 && !gone)
    {
        // Not readable now (out of descriptors, say): compared again at its next change.
        return false;
    }
    const size_t before = ioChanges.size();
    const Listing old = std::move(stored->second);
    std::set<std::string> written;
    if (auto names = inWatch->fWrittenFiles.find(inFolder); names != inWatch->fWrittenFiles.end())
    {
        written = std::move(names->second);
        inWatch->fWrittenFiles.erase(names);
    }

    // Deletions first: a folder renamed within the tree gives up its inotify watch before its new
    // name takes it.
    for (const auto& [name, info] : old)
    {
        auto now = fresh.find(name);
        if (now != fresh.end() && now->second.fIsFolder == info.fIsFolder)
        {
            continue;
        }
        if (info.fIsFolder)
        {
            _DropTree(inWatch, inFolder + name + "/");
        }
        _AddChangeToList(inWatch, inFolder + name, info.fIsFolder, VFileSystemNotifier::eDeleted, ioChanges);
    }
    for (const auto& [name, info] : fresh)
    {
        auto then = old.find(name);
        if (then == old.end() || then->second.fIsFolder != info.fIsFolder)
        {
            _AddChangeToList(inWatch, inFolder + name, info.fIsFolder, VFileSystemNotifier::eCreated,
                             ioChanges);
            if (info.fIsFolder)
            {
                _AddTree(inWatch, inFolder + name + "/", &ioChanges, false);
            }
        }
        else if (info.fIsFolder)
        {
            // A folder that lost its watch (replaced under the same name, or unwatchable before)
            // is taken up again; what it holds is new to the watch.
            const std::string folder = inFolder + name + "/";
            if (inWatch->fWatchedFolders.count(folder) == 0)
            {
                _DropTree(inWatch, folder);
                _AddTree(inWatch, folder, &ioChanges, false);
            }
        }
        else if (written.count(name) != 0 || info.fSeconds != then->second.fSeconds ||
                 info.fNanoseconds != then->second.fNanoseconds)
        {
            _AddChangeToList(inWatch, inFolder + name, false, VFileSystemNotifier::eModified, ioChanges);
        }
    }
    if (gone && inFolder != inWatch->fPosixRoot)
    {
        // Its parent drops it; keeping an empty listing would leave a stale folder behind.
        inWatch->fSnapshot.erase(inFolder);
    }
    else
    {
        inWatch->fSnapshot[inFolder] = std::move(fresh);
    }
    return ioChanges.size() > before;
}

// Events

void XLinuxFileSystemNotification::_MarkChanged(XLinuxChangeData* inWatch, const std::string& inFolder)
{
    if (!inWatch->fListening)
    {
        return;
    }
    if (inWatch->fChangedFolders.empty())
    {
        inWatch->fDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(inWatch->fLatencyMs);
    }
    inWatch->fChangedFolders.insert(inFolder);
}

void XLinuxFileSystemNotification::_HandleOverflow()
{
    // Events were dropped: each watch compares its root's top level.
    for (const auto& watch : fListening)
    {
        _MarkChanged(watch.Get(), watch->fPosixRoot);
    }
}

void XLinuxFileSystemNotification::_HandleEvent(int inDescriptor, uint32_t inMask, const char* inName)
{
    if ((inMask & IN_Q_OVERFLOW) != 0)
    {
        _HandleOverflow();
        return;
    }
    auto found = fDescriptors.find(inDescriptor);
    if (found == fDescriptors.end())
    {
        return;
    }
    // A copy: what follows changes the table.
    const std::vector<WatchEntry> entries = found->second;
    for (const WatchEntry& entry : entries)
    {
        XLinuxChangeData* watch = entry.fWatch;
        const bool isRoot = entry.fFolder == watch->fPosixRoot;
        if ((inMask & IN_IGNORED) != 0)
        {
            _UnwatchFolder(watch, entry.fFolder, false);
        }
        else if ((inMask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0)
        {
            // A subfolder's deletion or move shows in its parent's events.
            if (!isRoot || !watch->fListening)
            {
                continue;
            }
            struct stat status;
            if (::stat(watch->fPosixRoot.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            {
                _MarkChanged(watch, watch->fPosixRoot);
            }
            else
            {
                // Gone: what was collected is still compared, then the root's deletion reported.
                if (watch->fChangedFolders.empty())
                {
                    watch->fDeadline =
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(watch->fLatencyMs);
                }
                _StopListening(watch);
                watch->fRootGone = true;
            }
        }
        else
        {
            if ((inMask & (IN_MODIFY | IN_CLOSE_WRITE)) != 0 && (inMask & IN_ISDIR) == 0 &&
                inName != nullptr && *inName != 0 && watch->fListening)
            {
                watch->fWrittenFiles[entry.fFolder].insert(inName);
            }
            _MarkChanged(watch, entry.fFolder);
        }
    }
}

void XLinuxFileSystemNotification::_ReadEvents(bool inDrop)
{
    if (fBuffer.empty())
    {
        fBuffer.resize(kEventBufferSize);
    }
    for (int reads = 0; reads < kReadsPerWake; ++reads)
    {
        const ssize_t length = ::read(fInotify, fBuffer.data(), fBuffer.size());
        if (length < 0 && errno == EINTR)
        {
            continue;
        }
        if (length <= 0)
        {
            return;
        }
        for (size_t offset = 0;
             !inDrop && offset + sizeof(struct inotify_event) <= static_cast<size_t>(length);)
        {
            struct inotify_event event;
            std::memcpy(&event, fBuffer.data() + offset, sizeof(event));
            if (offset + sizeof(event) + event.len > static_cast<size_t>(length))
            {
                break;
            }
            // The name is padded with zero bytes up to len (len 0: the event is about the folder).
            const char* name = event.len > 0 ? fBuffer.data() + offset + sizeof(event) : nullptr;
            _HandleEvent(event.wd, event.mask, name);
            offset += sizeof(event) + event.len;
        }
    }
}

int XLinuxFileSystemNotification::_DeliverDue()
{
    struct Delivery
    {
        VRefPtr<XLinuxChangeData> fWatch;
        ChangeList fChanges;
    };
    std::vector<Delivery> deliveries;
    int64_t wait = -1;
    {
        std::lock_guard lock(fMutex);
        const auto now = std::chrono::steady_clock::now();
        for (const auto& watch : fListening)
        {
            const bool rootToReport = watch->fRootGone && !watch->fRootReported;
            if (watch->fChangedFolders.empty() && !rootToReport)
            {
                continue;
            }
            if (watch->fDeadline > now)
            {
                const int64_t due =
                    std::chrono::ceil<std::chrono::milliseconds>(watch->fDeadline - now).count();
                wait = wait < 0 ? due : std::min(wait, due);
                continue;
            }
            ChangeList changes;
            const std::set<std::string> folders = std::move(watch->fChangedFolders);
            watch->fChangedFolders.clear();
            for (const std::string& folder : folders)
            {
                _BuildChangeList(watch.Get(), folder, changes);
            }
            if (rootToReport)
            {
                watch->fRootReported = true;
                _AddChangeToList(watch.Get(), watch->fPosixRoot, true, VFileSystemNotifier::eDeleted,
                                 changes);
                watch->fSnapshot.clear();
            }
            if (!changes.empty())
            {
                deliveries.push_back(Delivery{watch, std::move(changes)});
            }
        }
    }
    // Without the mutex: the owner's lock comes first.
    for (Delivery& delivery : deliveries)
    {
        fOwner->AddChanges(delivery.fWatch.Get(), std::move(delivery.fChanges));
        fOwner->SignalChange(delivery.fWatch.Get());
    }
    return static_cast<int>(std::min<int64_t>(wait, INT_MAX));
}

void XLinuxFileSystemNotification::_Run()
{
    int wait = -1;
    for (;;)
    {
        struct pollfd descriptors[2] = {
            {fWakeEvent, POLLIN, 0},
            {fInotify, static_cast<short>(fHeld.load(std::memory_order_acquire) ? 0 : POLLIN), 0},
        };
        const int ready = ::poll(descriptors, 2, wait);
        if (fStopping.load(std::memory_order_acquire))
        {
            return;
        }
        if (ready > 0 && (descriptors[0].revents & POLLIN) != 0)
        {
            uint64_t count;
            [[maybe_unused]] ssize_t length = ::read(fWakeEvent, &count, sizeof(count));
        }
        if (ready > 0 && (descriptors[1].revents & POLLIN) != 0)
        {
            std::lock_guard lock(fMutex);
            // Checked under the mutex, so that nothing made after a hold is read.
            if (!fHeld.load(std::memory_order_acquire))
            {
                _ReadEvents(false);
            }
        }
        wait = _DeliverDue();
    }
}

// Tests

void XLinuxFileSystemNotification::FeedTestCondition(ETestCondition inCondition, int inCount)
{
    {
        std::lock_guard lock(fMutex);
        switch (inCondition)
        {
        case ETestCondition::eHoldQueue:
            fHeld.store(true, std::memory_order_release);
            break;
        case ETestCondition::eQueueOverflow:
            // What the kernel does when its queue is full: the waiting events are lost and an
            // overflow notice takes their place.
            if (fInotify >= 0)
            {
                _ReadEvents(true);
            }
            _HandleOverflow();
            fHeld.store(false, std::memory_order_release);
            break;
        case ETestCondition::eWatchLimit:
            fWatchesLeft = std::max(inCount, 0);
            break;
        case ETestCondition::eNoWatchLimit:
            fWatchesLeft = -1;
            break;
        }
    }
    _WakeThread();
}

} // namespace zorn
