// The remote exchange of an indicator: pictures of its sessions, mirroring a remote indicator's
// sessions, and the identity a viewer needs.
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/ProgressBagKeys.h"
#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VProgressLockOrder.h"
#include "toolbox/process/VRemoteProgressSessionInfo.h"

namespace zorn
{

namespace
{

using Picture = VRemoteProgressSessionInfo;

// Whether version a came before version b, across the wrap of the 32-bit counter.
bool IsOlderVersion(uint32_t inA, uint32_t inB)
{
    return static_cast<int32_t>(inA - inB) < 0;
}

} // namespace

void VProgressIndicator::GetSessions(std::deque<VProgressIndicatorInfo>& outSessions) const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    outSessions = fOuterSessions;
    if (fSessionCount != 0)
    {
        outSessions.push_back(fCurrent);
    }
}

int32_t VProgressIndicator::GetMirroringBase() const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    return fMirroringBase;
}

uint32_t VProgressIndicator::GetRemoteSessionVersion() const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    return fRemoteSessionVersion;
}

// Taking a picture

bool VProgressIndicator::GetProgressInfo(VRemoteProgressSessionInfo& outInfo,
                                         const VRemoteProgressSessionInfo* inPrevious) const
{
    if (!VProgressLockOrder::TryToLock(fStateLock, VProgressLockOrder::eRank_State))
    {
        return false;
    }
    struct Unlocker
    {
        VCriticalSection& fLock;
        ~Unlocker() { VProgressLockOrder::Unlock(fLock); }
    } unlocker{fStateLock};
    const uint32_t changes = GetChangeCounter();
    if (inPrevious != nullptr && inPrevious->GetChangesVersion() == changes)
    {
        outInfo.SetFlags(0);
        return false;
    }
    const int32_t count = fSessionCount;
    const uint32_t sessionVersion = GetSessionVersion();
    const bool userAbort = IsUserAborted();
    const bool canInterrupt = GetDefaultCanInterrupt();
    uint32_t flags = 0;
    if (inPrevious == nullptr || inPrevious->IsUserAbort() != userAbort)
    {
        flags |= Picture::eFlag_UserAbort;
    }
    if (inPrevious == nullptr || inPrevious->CanInterrupt() != canInterrupt)
    {
        flags |= Picture::eFlag_CanInterrupt;
    }
    bool whole = inPrevious == nullptr || inPrevious->GetSessionCount() != count ||
                 inPrevious->GetSessionVersion() != sessionVersion;
    if (!whole && count != 0)
    {
        const auto& previousStack = inPrevious->GetSessionStack();
        whole = previousStack.empty() || previousStack.back().GetStartTime() != fCurrent.GetStartTime();
    }
    if (whole)
    {
        flags |= Picture::eFlag_SessionStack;
    }
    else if (count != 0)
    {
        flags |= Picture::eFlag_Current;
    }
    // The picture is built aside: the previous one may be the same object.
    Picture picture;
    picture.SetFlags(flags);
    picture.SetUserAbort(userAbort);
    picture.SetCanInterrupt(canInterrupt);
    picture.FromProgressInfo(count, changes, sessionVersion, fMirroring != 0 ? fRemoteSessionVersion : 0,
                             fOuterSessions, count != 0 ? &fCurrent : nullptr);
    outInfo = picture;
    return true;
}

// Applying a picture

bool VProgressIndicator::UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& inInfo)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    const uint32_t flags = inInfo.GetFlags();
    const auto& remote = inInfo.GetSessionStack();
    const int32_t remoteCount = inInfo.GetSessionCount();
    const bool withStack = (flags & Picture::eFlag_SessionStack) != 0;
    const bool withCurrent = (flags & Picture::eFlag_Current) != 0;
    // A picture made by hand may not hold what its flags say; LoadFromBag refuses such bags.
    if ((withStack && static_cast<size_t>(remoteCount) != remote.size()) || (withCurrent && remote.empty()) ||
        remoteCount < 0)
    {
        return false;
    }

    if ((flags & Picture::eFlag_UserAbort) != 0 && fUserAbort == 0)
    {
        fUserAbort = inInfo.IsUserAbort() ? 1 : 0;
    }
    if ((flags & Picture::eFlag_CanInterrupt) != 0)
    {
        fDefaultCanInterrupt = inInfo.CanInterrupt();
    }

    if (fMirroring == 0)
    {
        if (withStack && remoteCount != 0)
        {
            fMirroring = 1;
            fMirroringBase = fSessionCount;
            fRemoteSessionVersion = inInfo.GetSessionVersion();
            if (fSessionCount == 0)
            {
                fSessionVersion = inInfo.GetSessionVersion();
            }
            fChangeCounter = inInfo.GetChangesVersion();
            _PushRemoteSessions(remote, 0);
            return true;
        }
        return !withCurrent; // a delta of sessions that are not mirrored
    }

    if ((flags & Picture::eFlag_SessionVersion) != 0 &&
        IsOlderVersion(inInfo.GetSessionVersion(), fRemoteSessionVersion))
    {
        return false; // a late picture of a session that is over
    }
    if (remoteCount == 0)
    {
        _CloseMirroredSessions();
        fMirroring = 0;
        return true;
    }
    if (fMirroringBase != 0 && inInfo.GetMasterSessionVersion() != fSessionVersion)
    {
        // The remote no longer works for this indicator's session.
        _CloseMirroredSessions();
        fMirroring = 0;
        return true;
    }

    const bool changed = inInfo.GetChangesVersion() != fChangeCounter;
    if (withCurrent && changed)
    {
        if (remoteCount != fSessionCount - fMirroringBase)
        {
            return false; // a delta of another stack
        }
        fCurrent.UpdateFromRemoteInfo(remote.back(), inInfo.GetCurrentUpdateFlags());
    }
    if (withStack)
    {
        if (inInfo.GetSessionVersion() != fRemoteSessionVersion)
        {
            _CloseMirroredSessions();
            fRemoteSessionVersion = inInfo.GetSessionVersion();
            if (fMirroringBase == 0)
            {
                fSessionVersion = inInfo.GetSessionVersion();
            }
            _PushRemoteSessions(remote, 0);
        }
        else if (changed)
        {
            _SyncRemoteSessions(remote);
            if (fMirroringBase == 0)
            {
                // Cleaned sessions closed the last one, which counts a version of its own.
                fSessionVersion = fRemoteSessionVersion;
            }
        }
    }
    fChangeCounter = inInfo.GetChangesVersion();
    return true;
}

void VProgressIndicator::_PushRemoteSessions(const std::deque<VProgressIndicatorInfo>& inSessions,
                                             size_t inFrom)
{
    for (size_t index = inFrom; index < inSessions.size(); ++index)
    {
        if (fSessionCount != 0)
        {
            fOuterSessions.push_back(fCurrent);
        }
        fCurrent = inSessions[index];
        int32_t count = ++fSessionCount;
        DoBeginSession(count);
    }
}

void VProgressIndicator::_SyncRemoteSessions(const std::deque<VProgressIndicatorInfo>& inSessions)
{
    const auto wanted = static_cast<int32_t>(inSessions.size());
    for (int32_t mirrored = fSessionCount - fMirroringBase; mirrored > wanted; --mirrored)
    {
        _CloseOneSession();
    }
    const auto mirrored = static_cast<size_t>(fSessionCount - fMirroringBase);
    _PushRemoteSessions(inSessions, mirrored);
    // Now the queue holds the base's sessions, then every remote record but the last.
    const auto base = static_cast<size_t>(fMirroringBase);
    for (size_t index = 0; index + 1 < inSessions.size(); ++index)
    {
        fOuterSessions[base + index] = inSessions[index];
    }
    fCurrent = inSessions.back();
}

void VProgressIndicator::_CloseRemoteSession()
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    if (fMirroring != 0)
    {
        _CloseMirroredSessions();
        fMirroring = 0;
    }
}

void VProgressIndicator::_CleanRemoteSession()
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    // Without mirroring the base is stale, and every open session is the indicator's own.
    if (fMirroring != 0)
    {
        _CloseMirroredSessions();
    }
}

// Identity

VError VProgressIndicator::WriteInfoForRemote(VValueBag& ioBag, VString& outKind) const
{
    ioBag.SetVUUID(VValueBag::uuid(), fID);
    ioBag.SetLong(ProgressBagKeys::Version(), static_cast<int32_t>(GetSessionVersion()));
    outKind = VString("VProgressIndicator");
    return VE_OK;
}

VError VProgressIndicator::WriteInfoForRemote(VStream* ioStream) const
{
    ioStream->PutWord(1);
    ioStream->PutValue(fID);
    const auto version = static_cast<int32_t>(GetSessionVersion());
    return ioStream->PutLongs(&version, 1);
}

VError VProgressIndicator::ReadInfoForRemote(VStream* ioStream, VUUID& outID, uint32_t& outSessionVersion)
{
    uint16_t mark = 0;
    VError error = ioStream->GetWord(mark);
    if (error != VE_OK)
    {
        return error;
    }
    if (mark == 0x0100)
    {
        ioStream->SetNeedSwap(!ioStream->NeedSwap());
    }
    else if (mark != 1)
    {
        return _ThrowError(VE_STREAM_BAD_SIGNATURE);
    }
    // The id as PutValue wrote it: its 16-bit kind, then its stream form.
    uint16_t kind = 0;
    error = ioStream->GetWord(kind);
    if (error != VE_OK)
    {
        return error;
    }
    if (kind != VK_UUID)
    {
        const VString what("a progress identity holds no id");
        return _ThrowError(VE_PROGRESS_BAG_INVALID, &what);
    }
    VUUID id;
    error = id.ReadFromStream(ioStream);
    if (error != VE_OK)
    {
        return error;
    }
    int32_t version = 0;
    error = ioStream->GetLong(version);
    if (error != VE_OK)
    {
        return error;
    }
    outID = id;
    outSessionVersion = static_cast<uint32_t>(version);
    return VE_OK;
}

} // namespace zorn
