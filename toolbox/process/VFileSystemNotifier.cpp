#include "toolbox/process/VFileSystemNotifier.h"

#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/process/linux/XLinuxFileSystemNotification.h"

namespace zorn
{

namespace
{

std::atomic<VFileSystemNotifier*> sInstance{nullptr};

} // namespace

// Watches

VFileSystemNotifier::VChangeData::VChangeData(const VFilePath& inPath, EventKind inMask,
                                              IEventHandler* inHandler, VTask* inTask,
                                              XLinuxFileSystemNotification* inBackEnd)
    : fPath(inPath), fMask(inMask), fHandler(inHandler), fTask(inTask), fBackEnd(inBackEnd)
{
}

VFileSystemNotifier::VChangeData::~VChangeData() = default;

VFileSystemNotifier::VChangeMessage::VChangeMessage(VFileSystemNotifier* inNotifier, VChangeData* inWatch)
    : fNotifier(inNotifier), fWatch(inWatch)
{
}

void VFileSystemNotifier::VChangeMessage::DoExecute()
{
    // A stopped watch may belong to a notifier that is gone: it is not touched then.
    if (!fWatch->IsStopped())
    {
        fNotifier->EventSignaledCallback(fWatch.Get());
    }
}

// The notifier

VFileSystemNotifier::VFileSystemNotifier() : fBackEnd(std::make_unique<XLinuxFileSystemNotification>(this))
{
    VFileSystemNotifier* none = nullptr;
    sInstance.compare_exchange_strong(none, this, std::memory_order_acq_rel);
}

VFileSystemNotifier::~VFileSystemNotifier()
{
    VFileSystemNotifier* self = this;
    sInstance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    // The thread may be waiting for the lock to hand over changes: it is stopped first.
    fBackEnd->Shutdown();
    StLocker<VCriticalSection> lock(&fLock);
    for (VChangeData* watch : fWatches)
    {
        watch->SetStopped();
        fBackEnd->StopWatchingForChanges(watch);
        watch->Release();
    }
    fWatches.clear();
}

VFileSystemNotifier* VFileSystemNotifier::Instance()
{
    return sInstance.load(std::memory_order_acquire);
}

ptrdiff_t VFileSystemNotifier::_FindWatch(const VFilePath& inPath, IEventHandler* inHandler) const
{
    VString wanted;
    inPath.GetPath(wanted);
    for (size_t index = 0; index < fWatches.size(); ++index)
    {
        const VChangeData* watch = fWatches[index];
        if (watch->GetHandler() != inHandler)
        {
            continue;
        }
        VString path;
        watch->GetPath().GetPath(path);
        if (path.EqualToStringRaw(wanted))
        {
            return static_cast<ptrdiff_t>(index);
        }
    }
    return -1;
}

VError VFileSystemNotifier::StartWatchingForChanges(const VFolder& inFolder, EventKind inMask,
                                                    IEventHandler* inHandler, int32_t inLatencyMs)
{
    if (inHandler == nullptr || !inFolder.GetPath().IsFolder())
    {
        return VE_INVALID_PARAMETER;
    }
    StLocker<VCriticalSection> lock(&fLock);
    if (_FindWatch(inFolder.GetPath(), inHandler) >= 0)
    {
        return VE_FS_NOTIFIER_ALREADY_WATCHING;
    }
    return fBackEnd->StartWatchingForChanges(inFolder.GetPath(), inMask, inHandler, inLatencyMs);
}

VError VFileSystemNotifier::StopWatchingForChanges(const VFolder& inFolder, IEventHandler* inHandler)
{
    StLocker<VCriticalSection> lock(&fLock);
    const ptrdiff_t index = _FindWatch(inFolder.GetPath(), inHandler);
    if (index < 0)
    {
        return VE_FOLDER_NOT_FOUND;
    }
    VChangeData* watch = fWatches[static_cast<size_t>(index)];
    fWatches.erase(fWatches.begin() + index);
    watch->SetStopped();
    watch->GetPendingChanges().clear();
    fBackEnd->StopWatchingForChanges(watch);
    watch->Release();
    return VE_OK;
}

void VFileSystemNotifier::PushChangeData(VChangeData* inWatch)
{
    StLocker<VCriticalSection> lock(&fLock);
    inWatch->Retain();
    fWatches.push_back(inWatch);
}

void VFileSystemNotifier::AddChanges(VChangeData* inWatch, std::vector<Change>&& inChanges)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (inWatch->IsStopped())
    {
        return;
    }
    std::vector<Change>& pending = inWatch->GetPendingChanges();
    if (pending.empty())
    {
        pending = std::move(inChanges);
    }
    else
    {
        pending.insert(pending.end(), std::make_move_iterator(inChanges.begin()),
                       std::make_move_iterator(inChanges.end()));
    }
}

void VFileSystemNotifier::SignalChange(VChangeData* inWatch)
{
    VRefPtr<VChangeMessage> message(new VChangeMessage(this, inWatch), true);
    if (!message->PostTo(inWatch->GetTask()))
    {
        // Nobody will ever deliver them.
        StLocker<VCriticalSection> lock(&fLock);
        inWatch->GetPendingChanges().clear();
    }
}

void VFileSystemNotifier::EventSignaledCallback(VChangeData* inWatch)
{
    StLocker<VCriticalSection> lock(&fLock);
    if (inWatch->IsStopped())
    {
        return;
    }
    std::vector<Change> pending = std::move(inWatch->GetPendingChanges());
    inWatch->GetPendingChanges().clear();

    IEventHandler* handler = inWatch->GetHandler();
    std::vector<VFilePath> run;
    EventKind runKind = eModified;
    VString last;
    VString path;
    for (const Change& change : pending)
    {
        if (!run.empty() && change.second != runKind)
        {
            handler->HandleFileSystemEvent(run, runKind);
            run.clear();
        }
        runKind = change.second;
        change.first.GetPath(path);
        if (!run.empty() && path.EqualToStringRaw(last))
        {
            continue;
        }
        run.push_back(change.first);
        last = path;
    }
    if (!run.empty())
    {
        handler->HandleFileSystemEvent(run, runKind);
    }
}

size_t VFileSystemNotifier::CountWatches() const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fWatches.size();
}

CharSet VFileSystemNotifier::DebugDump(char* ioBuffer, int& ioSize) const
{
    VString text;
    StLocker<VCriticalSection> lock(&fLock);
    text.AppendLong(static_cast<int32_t>(fWatches.size()));
    text.AppendCString(" watches");
    for (const VChangeData* watch : fWatches)
    {
        VString path;
        watch->GetPath().GetPath(path);
        text.AppendCString(", ");
        text.AppendString(path);
    }
    return text.DebugDump(ioBuffer, ioSize);
}

} // namespace zorn
