// VFileSystemNotifier: watches folders, with all their subfolders, for created, modified and
// deleted items, and tells a handler about them on the task that started the watch. The back end
// (XLinuxFileSystemNotification, on inotify) learns which folders changed and compares each one
// with a snapshot of the tree; the changes found are appended to the watch and delivered by a
// VChangeMessage posted to the watch's task, where the handler receives them in runs of one kind.
//
// Choices and limits:
// - Instance() is the notifier of the process: the first one built registers itself until it is
//   destroyed (the process object owns it). Building one costs nothing: the inotify descriptor and
//   the notifier thread are made with the first watch and live until the notifier is destroyed.
// - A watch is identified by its folder's path and its handler. Paths compare exactly, as Linux
//   file systems compare names.
// - Delivery takes the watch's pending changes in order and cuts them into runs of one kind; a
//   path equal to the last one of its run is not repeated. The handler is called once per run,
//   with the notifier's lock held, so it must not wait for another task that uses the notifier.
// - After StopWatchingForChanges returns, its handler is not called again, even for changes
//   already posted. Changes whose task no longer takes messages (or with no task at all) are
//   dropped instead of piling up.
// - Errors are returned, not raised: ('zorn', 659) for a watch that exists, ('zorn', 650) for
//   stopping one that does not, ('POSX', errno) from the back end (ENOSPC when the system's
//   number of inotify watches is used up).
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/messages/VMessage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace zorn
{

class VFolder;
class VTask;
class XLinuxFileSystemNotification;

constexpr VError VE_FS_NOTIFIER_ALREADY_WATCHING = MakeVError(kCOMPONENT_ZORN, 659);

class VFileSystemNotifier : public VObject
{
public:
    // A bit set; a watch reports only the kinds of its mask, and each delivery carries one bit.
    enum EventKind : uint32_t
    {
        eModified = 1,
        eCreated = 2,
        eDeleted = 4,
        eAllKinds = 7
    };

    class IEventHandler
    {
    public:
        virtual ~IEventHandler() = default;
        // One run of changes of one kind, in the order they were found. A folder's path ends with
        // ':'; a name that is not valid UTF-8 is kept with its bytes escaped, as the file layer
        // reads and writes it.
        virtual void HandleFileSystemEvent(const std::vector<VFilePath>& inPaths, EventKind inKind) = 0;
    };

    using Change = std::pair<VFilePath, EventKind>;

    // One watch: the folder, the kinds, the handler (not owned), the task to notify (retained, null
    // when the task manager does not run) and the changes waiting for delivery (guarded by the
    // notifier's lock). The back end derives its own watch from it.
    class VChangeData : public VObject, public IRefCountable
    {
    public:
        VChangeData(const VFilePath& inPath, EventKind inMask, IEventHandler* inHandler, VTask* inTask,
                    XLinuxFileSystemNotification* inBackEnd);
        VChangeData(const VChangeData&) = delete;
        VChangeData& operator=(const VChangeData&) = delete;

        const VFilePath& GetPath() const { return fPath; }
        EventKind GetMask() const { return fMask; }
        IEventHandler* GetHandler() const { return fHandler; }
        VTask* GetTask() const { return fTask.Get(); }
        XLinuxFileSystemNotification* GetBackEnd() const { return fBackEnd; }
        bool IsStopped() const { return fStopped.load(std::memory_order_acquire); }
        void SetStopped() { fStopped.store(true, std::memory_order_release); }

        // With the notifier's lock held.
        std::vector<Change>& GetPendingChanges() { return fPending; }

    protected:
        ~VChangeData() override;

    private:
        VFilePath fPath;
        EventKind fMask;
        IEventHandler* fHandler;
        VRefPtr<VTask> fTask;
        std::vector<Change> fPending;
        XLinuxFileSystemNotification* fBackEnd;
        std::atomic<bool> fStopped{false};
    };

    // Delivers a watch's pending changes on the watch's task.
    class VChangeMessage : public VMessage
    {
    public:
        // Retains the watch.
        VChangeMessage(VFileSystemNotifier* inNotifier, VChangeData* inWatch);

    protected:
        ~VChangeMessage() override = default;
        void DoExecute() override;

    private:
        VFileSystemNotifier* fNotifier;
        VRefPtr<VChangeData> fWatch;
    };

    VFileSystemNotifier();
    ~VFileSystemNotifier() override;
    VFileSystemNotifier(const VFileSystemNotifier&) = delete;
    VFileSystemNotifier& operator=(const VFileSystemNotifier&) = delete;

    // The process's notifier, null when there is none.
    static VFileSystemNotifier* Instance();

    // Starts watching inFolder and its subfolders for the kinds of inMask; changes are collected
    // for inLatencyMs milliseconds before they are compared. 0, ('zorn', 659) when the same
    // folder is watched for the same handler, or the back end's error.
    VError StartWatchingForChanges(const VFolder& inFolder, EventKind inMask, IEventHandler* inHandler,
                                   int32_t inLatencyMs);
    // 0, or ('zorn', 650) when no such watch exists.
    VError StopWatchingForChanges(const VFolder& inFolder, IEventHandler* inHandler);

    // Called by the back end, with the lock held: lists the watch (one reference).
    void PushChangeData(VChangeData* inWatch);
    // Called by the back end: appends changes to a watch's pending list, under the lock.
    void AddChanges(VChangeData* inWatch, std::vector<Change>&& inChanges);
    // Posts a VChangeMessage for the watch to its task, not waiting. When the post is refused (no
    // task, or one that takes no messages now) the pending changes are dropped.
    void SignalChange(VChangeData* inWatch);
    // Delivers the pending changes (see above); nothing for a stopped watch.
    void EventSignaledCallback(VChangeData* inWatch);

    size_t CountWatches() const;
    XLinuxFileSystemNotification* GetBackEnd() const { return fBackEnd.get(); }
    VCriticalSection& GetLock() const { return fLock; }

    using VObject::DebugDump;
    // The number of watches and their folders.
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

private:
    // The index of the watch of that folder and handler in fWatches, or -1; with the lock held.
    ptrdiff_t _FindWatch(const VFilePath& inPath, IEventHandler* inHandler) const;

    std::unique_ptr<XLinuxFileSystemNotification> fBackEnd;
    mutable VCriticalSection fLock;
    std::vector<VChangeData*> fWatches; // one reference each
};

} // namespace zorn
