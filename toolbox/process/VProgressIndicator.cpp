#include "toolbox/process/VProgressIndicator.h"

#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/ProgressBagKeys.h"
#include "toolbox/process/VMetricsManager.h"
#include "toolbox/process/VProcess.h"
#include "toolbox/process/VProgressLockOrder.h"
#include "toolbox/process/VProgressManager.h"

#include <algorithm>
#include <vector>

namespace zorn
{

namespace
{

// What streams call (VStream::SetProgressIndicator): installed by the first indicator.
const detail::VProgressAccess kStreamProgressAccess{
    [](VProgressIndicator* inIndicator) { inIndicator->Retain(); },
    [](VProgressIndicator* inIndicator) { inIndicator->Release(); },
    [](VProgressIndicator* inIndicator, int64_t inMax, const VString& inTitle)
    { inIndicator->BeginSession(inMax, inTitle); },
    [](VProgressIndicator* inIndicator, int64_t inValue) { return inIndicator->Progress(inValue); },
    [](VProgressIndicator* inIndicator) { inIndicator->EndSession(); },
};

void InstallStreamAccess()
{
    const detail::VProgressAccess* expected = nullptr;
    detail::KernelHooks().fProgressAccess.compare_exchange_strong(expected, &kStreamProgressAccess,
                                                                  std::memory_order_acq_rel);
}

} // namespace

// Construction

VProgressIndicator::VProgressIndicator() : fID(true)
{
    InstallStreamAccess();
    VProgressManager::RegisterProgress(this);
}

VProgressIndicator::VProgressIndicator(const VUUID& inID, int32_t inSessionVersion)
    : fID(inID), fSessionVersion(static_cast<uint32_t>(inSessionVersion))
{
    InstallStreamAccess();
    VProgressManager::RegisterProgress(this);
}

VProgressIndicator::~VProgressIndicator()
{
    VProgressManager::UnregisterProgress(this);
    ReleaseRefCountable(&fSnapshot);
}

void VProgressIndicator::DoOnRefCountZero()
{
    if (VProgressManager::_UnregisterReleased(this))
    {
        delete this;
    }
}

void VProgressIndicator::_Init()
{
    fSessionCount = 0;
    fMirroring = 0;
    fMirroringBase = 0;
    fSessionVersion = 0;
    fUserAbort = 0;
    fChangeCounter = 0;
    fDefaultCanInterrupt = true;
    fDefaultCollector = nullptr;
    StProgressLocker locker(fSnapshotLock, VProgressLockOrder::eRank_Snapshot);
    ReleaseRefCountable(&fSnapshot);
}

bool VProgressIndicator::Lock() const
{
    return VProgressLockOrder::Lock(fStateLock, VProgressLockOrder::eRank_State);
}

bool VProgressIndicator::Unlock() const
{
    return VProgressLockOrder::Unlock(fStateLock);
}

// Sessions

void VProgressIndicator::BeginSession(int64_t inMax, int64_t inValue, const VString& inTitle,
                                      bool inCanInterrupt, IProgressInfoCollector* inCollector)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    ++fChangeCounter;
    IProgressInfoCollector* collector = inCollector;
    if (fSessionCount == 0)
    {
        ++fSessionVersion;
        if (collector == nullptr)
        {
            collector = fDefaultCollector;
        }
    }
    else
    {
        fOuterSessions.push_back(fCurrent);
    }
    // The uuid, task id and extra info stay: a nested session starts from its parent's record.
    fCurrent.SetMessageText(inTitle);
    fCurrent.SetValue(inValue);
    fCurrent.SetMax(inMax);
    fCurrent.SetCanInterrupt(inCanInterrupt);
    fCurrent._ResetStartTime();
    fCurrent.SetCollector(collector);
    fCurrent.AdoptCollectedInfo(nullptr);
    int32_t count = ++fSessionCount;
    DoBeginSession(count);
}

void VProgressIndicator::BeginSession(int64_t inMax, const VString& inTitle)
{
    BeginSession(inMax, 0, inTitle, GetDefaultCanInterrupt(), fDefaultCollector);
}

void VProgressIndicator::BeginSession(int64_t inMax, const VString& inTitle,
                                      IProgressInfoCollector* inCollector)
{
    BeginSession(inMax, 0, inTitle, GetDefaultCanInterrupt(), inCollector);
}

void VProgressIndicator::BeginSession(int64_t inMax, const VString& inTitle, bool inCanInterrupt,
                                      IProgressInfoCollector* inCollector)
{
    BeginSession(inMax, 0, inTitle, inCanInterrupt, inCollector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& inTitle)
{
    BeginUndeterminedSession(inTitle, GetDefaultCanInterrupt(), fDefaultCollector);
}

void VProgressIndicator::BeginUndeterminedSession(const VString& inTitle, bool inCanInterrupt,
                                                  IProgressInfoCollector* inCollector)
{
    BeginSession(-1, 0, inTitle, inCanInterrupt, inCollector);
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    UpdateSessionsInfos();
    _CheckCollectInfo();
}

void VProgressIndicator::EndSession()
{
    if (fMirroring != 0)
    {
        _CloseMirroredSessions();
        fMirroring = 0;
    }
    _CloseOneSession();
}

void VProgressIndicator::_CloseMirroredSessions()
{
    for (int32_t count = fSessionCount - fMirroringBase; count > 0; --count)
    {
        _CloseOneSession();
    }
}

void VProgressIndicator::_CloseOneSession()
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    int32_t count = fSessionCount;
    if (count == 0)
    {
        return;
    }
    _CheckCollectInfo();
    ++fChangeCounter;
    if (!fOuterSessions.empty())
    {
        fCurrent = fOuterSessions.back(); // keeps the closing session's metrics-pending flag
        fOuterSessions.pop_back();
    }
    DoEndSession(count);
    if (--fSessionCount == 0)
    {
        ++fSessionVersion;
    }
    DoMetrics();
}

void VProgressIndicator::Reset(const VString& inTitle, int64_t inMax, int64_t inValue)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    if (fSessionCount == 0)
    {
        return;
    }
    fCurrent.SetMessageText(inTitle);
    fCurrent.SetMax(inMax);
    fCurrent.SetValue(inValue);
    fCurrent.SetCanInterrupt(true);
    fCurrent._ResetStartTime();
    fCurrent.SetCollector(nullptr);
    fCurrent.AdoptCollectedInfo(nullptr);
}

// Values

bool VProgressIndicator::DoProgress()
{
    VTaskMgr::Yield();
    return fUserAbort.load(std::memory_order_relaxed) != 1;
}

bool VProgressIndicator::_CheckTask(bool inGoOn) const
{
    if (inGoOn && GetDefaultCanInterrupt())
    {
        const VTask* task = VTask::GetCurrent();
        if (task != nullptr && task->GetState() >= TaskState_Dying)
        {
            return false;
        }
    }
    return inGoOn;
}

bool VProgressIndicator::_Report(const VString* inMessage, EValueStep inStep, int64_t inOperand,
                                 bool inCheckTask)
{
    _CheckCollectInfo();
    if (fSessionCount == 0)
    {
        return true;
    }
    ++fChangeCounter;
    if (inMessage != nullptr)
    {
        fCurrent.SetMessageText(*inMessage);
    }
    int64_t value = fCurrent.GetValue();
    switch (inStep)
    {
    case eValueStep_Set:
        value = inOperand;
        break;
    case eValueStep_Add:
        value += inOperand;
        break;
    case eValueStep_Subtract:
        value -= inOperand;
        break;
    }
    fCurrent.SetValue(value);
    bool goOn = DoProgress();
    return inCheckTask ? _CheckTask(goOn) : goOn;
}

bool VProgressIndicator::Progress(int64_t inValue)
{
    return _Report(nullptr, eValueStep_Set, inValue, true);
}

bool VProgressIndicator::Increment(int64_t inDelta)
{
    return _Report(nullptr, eValueStep_Add, inDelta, true);
}

bool VProgressIndicator::Decrement(int64_t inDelta)
{
    return _Report(nullptr, eValueStep_Subtract, inDelta, true);
}

bool VProgressIndicator::SetMessageAndValue(const VString& inMessage, int64_t inValue)
{
    return _Report(&inMessage, eValueStep_Set, inValue, false);
}

bool VProgressIndicator::SetMessageAndIncrementValue(const VString& inMessage, int64_t inDelta)
{
    return _Report(&inMessage, eValueStep_Add, inDelta, false);
}

void VProgressIndicator::SetMessage(const VString& inMessage)
{
    _CheckCollectInfo();
    if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent.SetMessageText(inMessage);
    }
}

void VProgressIndicator::SetMaxValue(int64_t inMax)
{
    if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent.SetMax(inMax);
    }
}

int64_t VProgressIndicator::GetMaxValue() const
{
    return fSessionCount != 0 ? fCurrent.GetMax() : 0;
}

int64_t VProgressIndicator::GetCurrentValue() const
{
    return fCurrent.GetValue();
}

void VProgressIndicator::SetCanInterrupt(bool inCanInterrupt, bool inCurrentSession)
{
    if (!inCurrentSession)
    {
        fDefaultCanInterrupt = inCanInterrupt;
    }
    else if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent.SetCanInterrupt(inCanInterrupt);
    }
}

void VProgressIndicator::SetAttribute(const VString& inName, const VValueSingle& inValue)
{
    if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent.SetAttribute(inName, inValue);
    }
}

void VProgressIndicator::RemoveAttribute(const VString& inName)
{
    if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent.RemoveAttribute(inName);
    }
}

void VProgressIndicator::GetMessage(VString& outMessage) const
{
    if (fSessionCount != 0)
    {
        fCurrent.GetMessage(outMessage);
    }
    else
    {
        outMessage.Clear();
    }
}

void VProgressIndicator::SetProgressInfoCollector(IProgressInfoCollector* inCollector,
                                                  IProgressInfoCollector** outPrevious)
{
    if (fSessionCount != 0)
    {
        if (outPrevious != nullptr)
        {
            *outPrevious = fCurrent.GetCollector();
        }
        fCurrent.SetCollector(inCollector);
    }
}

void VProgressIndicator::SetProgressInfo(const VProgressIndicatorInfo& inInfo)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    if (fSessionCount != 0)
    {
        ++fChangeCounter;
        fCurrent = inInfo;
    }
}

bool VProgressIndicator::GetProgressInfo(const VUUID& inSessionID, VProgressIndicatorInfo& outInfo) const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    if (fCurrent.GetUUID() == inSessionID)
    {
        outInfo = fCurrent;
        return true;
    }
    auto found = std::find_if(fOuterSessions.begin(), fOuterSessions.end(),
                              [&](const VProgressIndicatorInfo& inSession)
                              { return inSession.GetUUID() == inSessionID; });
    if (found == fOuterSessions.end())
    {
        return false;
    }
    outInfo = *found;
    return true;
}

// Snapshots

void VProgressIndicator::_CheckCollectInfo()
{
    uint32_t requested = fRequestedStamp.load(std::memory_order_acquire);
    if (requested == fServedStamp || fSessionCount == 0)
    {
        return;
    }
    std::vector<VProgressIndicatorInfo*> sessions;
    sessions.reserve(fOuterSessions.size() + 1);
    bool outermost = true;
    auto collect = [&](VProgressIndicatorInfo& ioSession)
    {
        // Collectors run here, on the worker's thread.
        if (IProgressInfoCollector* collector = ioSession.GetCollector())
        {
            ioSession.AdoptCollectedInfo(collector->CollectInfo(this, outermost));
        }
        outermost = false;
        sessions.push_back(new VProgressIndicatorInfo(ioSession));
    };
    for (VProgressIndicatorInfo& session : fOuterSessions)
    {
        collect(session);
    }
    collect(fCurrent);
    auto* snapshot = new VRefCountedSessionInfo(std::move(sessions));
    {
        StProgressLocker locker(fSnapshotLock, VProgressLockOrder::eRank_Snapshot);
        std::swap(fSnapshot, snapshot);
    }
    ReleaseRefCountable(&snapshot);
    fServedStamp = requested;
}

void VProgressIndicator::UpdateSessionsInfos()
{
    if (fSessionCount != 0)
    {
        fRequestedStamp.fetch_add(1, std::memory_order_acq_rel);
    }
}

VRefCountedSessionInfo* VProgressIndicator::RetainSessionsInfos() const
{
    StProgressLocker locker(fSnapshotLock, VProgressLockOrder::eRank_Snapshot);
    return RetainRefCountable(fSnapshot);
}

void VProgressIndicator::_FillSummary(const VProgressIndicatorInfo* const* inSessions, size_t inCount,
                                      VProgressSessionInfo& outInfo)
{
    for (VProgressIndicatorInfo& slot : outInfo.fSlots)
    {
        slot._Clear();
    }
    outInfo.fSessionCount = static_cast<int32_t>(inCount);
    outInfo.fFilledSlots = static_cast<uint32_t>(std::min<size_t>(inCount, 3));
    if (inCount >= 1)
    {
        outInfo.fSlots[0] = *inSessions[0];
    }
    if (inCount == 2)
    {
        outInfo.fSlots[1] = *inSessions[1];
    }
    else if (inCount >= 3)
    {
        outInfo.fSlots[1] = *inSessions[inCount - 2];
        outInfo.fSlots[2] = *inSessions[inCount - 1];
    }
    outInfo.fPercentDone = ComputeSessionsPercentDone(inSessions, inCount);
}

bool VProgressIndicator::GetProgressInfo(VProgressSessionInfo& outInfo)
{
    if (fMirroring == 0)
    {
        UpdateSessionsInfos();
        VRefPtr<VRefCountedSessionInfo> snapshot(RetainSessionsInfos(), true);
        if (!snapshot)
        {
            return false;
        }
        const auto& sessions = snapshot->GetSessions();
        _FillSummary(sessions.data(), sessions.size(), outInfo);
        if (fSessionCount == 0)
        {
            outInfo.fPercentDone = 0;
        }
        outInfo.fChangeCounter = GetChangeCounter();
        return true;
    }
    if (!VProgressLockOrder::TryToLock(fStateLock, VProgressLockOrder::eRank_State))
    {
        return false;
    }
    bool filled = fSessionCount != 0;
    if (filled)
    {
        std::vector<const VProgressIndicatorInfo*> sessions;
        for (const VProgressIndicatorInfo& session : fOuterSessions)
        {
            sessions.push_back(&session);
        }
        sessions.push_back(&fCurrent);
        _FillSummary(sessions.data(), sessions.size(), outInfo);
        outInfo.fChangeCounter = GetChangeCounter();
    }
    VProgressLockOrder::Unlock(fStateLock);
    return filled;
}

float VProgressIndicator::ComputePercentDone() const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    return _ComputePercentDone();
}

float VProgressIndicator::_ComputePercentDone() const
{
    if (fSessionCount == 0)
    {
        return 0;
    }
    std::vector<const VProgressIndicatorInfo*> sessions;
    sessions.reserve(fOuterSessions.size() + 1);
    for (const VProgressIndicatorInfo& session : fOuterSessions)
    {
        sessions.push_back(&session);
    }
    sessions.push_back(&fCurrent);
    return ComputeSessionsPercentDone(sessions.data(), sessions.size());
}

// Identity and bag form

void VProgressIndicator::SetTitle(const VString& inTitle)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    fTitle = inTitle;
}

void VProgressIndicator::GetTitle(VString& outTitle) const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    outTitle = fTitle;
}

void VProgressIndicator::SetUserInfo(const VString& inUserInfo)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    fUserInfo = inUserInfo;
}

void VProgressIndicator::GetUserInfo(VString& outUserInfo) const
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    outUserInfo = fUserInfo;
}

VError VProgressIndicator::SaveInfoToBag(VValueBag& ioBag)
{
    StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
    ioBag.SetString(ProgressBagKeys::UserInfo(), fUserInfo);
    ioBag.SetLong(ProgressBagKeys::IndicatorSessionCount(), fSessionCount);
    ioBag.SetString(ProgressBagKeys::Title(), fTitle);
    ioBag.SetBool(ProgressBagKeys::DefaultCanInterrupt(), GetDefaultCanInterrupt());
    VString kind;
    auto addSession = [&](const VProgressIndicatorInfo& inSession)
    {
        VRefPtr<VValueBag> record(new VValueBag(), true);
        inSession.SaveToBag(*record, kind);
        ioBag.AddElement(ProgressBagKeys::SessionInfo(), record.Get());
    };
    for (const VProgressIndicatorInfo& session : fOuterSessions)
    {
        addSession(session);
    }
    if (fSessionCount != 0)
    {
        addSession(fCurrent);
    }
    return VE_OK;
}

// Metrics

void VProgressIndicator::DoMetrics()
{
    if (!fCurrent.IsMetricsPending())
    {
        return;
    }
    uint32_t duration = fCurrent.GetElapsedMs();
    VProcess* process = VProcess::Get();
    VMetricsManager* metrics = process != nullptr ? process->GetMetricsManager() : nullptr;
    if (metrics == nullptr || !metrics->IsKindEnabled(eMetricsKind_Progress))
    {
        return;
    }
    VRefPtr<VJSONObject> description(new VJSONObject(), true);
    fCurrent.GetJSONObject(*description);
    VString text;
    {
        StProgressLocker locker(fStateLock, VProgressLockOrder::eRank_State);
        text = fTitle;
    }
    description->SetProperty(VString("title"), VJSONValue(text));
    fCurrent.GetMessage(text);
    description->SetProperty(VString("infoMessage"), VJSONValue(text));
    if (VRefPtr<VValueBag> extraInfo(fCurrent.RetainExtraInfoBag(), true); extraInfo)
    {
        VError err = VE_OK;
        if (VRefPtr<VJSONObject> extraObject(extraInfo->BuildJSONObject(err), true); extraObject)
        {
            description->SetProperty(VString("extraInfo"), VJSONValue(extraObject.Get()));
        }
    }
    if (VJSONObject* collected = fCurrent.GetCollectedInfo())
    {
        VJSONCloner cloner;
        VJSONValue copy;
        cloner.CloneObject(collected, copy);
        description->SetProperty(VString("subOperations"), std::move(copy));
    }
    metrics->Push(eMetricsKind_Progress, duration, description.Get());
    if (fSessionCount == 0)
    {
        // The last session is recorded: leaving the manager must not record it again.
        fCurrent.SetMetricsPending(false);
    }
}

} // namespace zorn
