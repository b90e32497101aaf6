#include "toolbox/process/VProgressIndicatorInfo.h"

#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <cmath>

namespace zorn
{

namespace
{
uint32_t CurrentTaskID()
{
    const VTask* task = VTask::GetCurrent();
    return task != nullptr ? static_cast<uint32_t>(task->GetID()) : 0;
}

// The date of a start tick: now minus the time elapsed since it.
void StartDate(uint32_t inElapsedMs, VTime& outTime)
{
    VTime::Now(outTime);
    outTime.AddMilliseconds(-static_cast<int64_t>(inElapsedMs));
}
} // namespace

// Records

VProgressIndicatorInfo::VProgressIndicatorInfo()
    : fTaskID(CurrentTaskID()), fUUID(true), fStartTime(VSystem::GetCurrentTime())
{
}

VProgressIndicatorInfo::VProgressIndicatorInfo(const VProgressIndicatorInfo& inOther)
    : VObject(inOther), fMetricsPending(false), fRemote(inOther.fRemote)
{
    _CopyFrom(inOther);
}

VProgressIndicatorInfo& VProgressIndicatorInfo::operator=(const VProgressIndicatorInfo& inOther)
{
    if (this != &inOther)
    {
        _CopyFrom(inOther); // metrics pending and remote stay this record's
    }
    return *this;
}

VProgressIndicatorInfo::~VProgressIndicatorInfo()
{
    ReleaseRefCountable(&fExtraInfo);
    ReleaseRefCountable(&fCollectedInfo);
}

void VProgressIndicatorInfo::_CopyFrom(const VProgressIndicatorInfo& inOther)
{
    fTaskID = inOther.fTaskID;
    fUUID = inOther.fUUID;
    fMessage = inOther.fMessage;
    fValue = inOther.fValue;
    fMax = inOther.fMax;
    fStartTime = inOther.fStartTime;
    fCanInterrupt = inOther.fCanInterrupt;
    VValueBag* extraInfo = inOther.fExtraInfo != nullptr ? new VValueBag(*inOther.fExtraInfo) : nullptr;
    ReleaseRefCountable(&fExtraInfo);
    fExtraInfo = extraInfo;
    fExtraInfoVersion = inOther.fExtraInfoVersion;
    fCollector = inOther.fCollector;
    VJSONObject* collected = RetainRefCountable(inOther.fCollectedInfo);
    ReleaseRefCountable(&fCollectedInfo);
    fCollectedInfo = collected;
}

void VProgressIndicatorInfo::Reset()
{
    fValue = 0;
    fMax = 0;
    fMessage.Clear();
    _ResetStartTime();
    ReleaseRefCountable(&fExtraInfo);
    ++fExtraInfoVersion;
    fCollector = nullptr;
    ReleaseRefCountable(&fCollectedInfo);
}

void VProgressIndicatorInfo::_ResetStartTime()
{
    fStartTime = VSystem::GetCurrentTime();
    fMetricsPending = true;
}

void VProgressIndicatorInfo::_Clear()
{
    fValue = 0;
    fMax = 0;
    fStartTime = 0;
    fMessage.Clear();
    fCanInterrupt = true;
    fExtraInfoVersion = 0;
    ReleaseRefCountable(&fExtraInfo);
    fCollector = nullptr;
    ReleaseRefCountable(&fCollectedInfo);
}

void VProgressIndicatorInfo::AdoptCollectedInfo(VJSONObject* inInfo)
{
    VJSONObject* previous = fCollectedInfo;
    fCollectedInfo = inInfo;
    ReleaseRefCountable(&previous);
}

uint32_t VProgressIndicatorInfo::GetElapsedMs() const
{
    int32_t elapsed = VSystem::Delta32(VSystem::GetCurrentTime(), fStartTime);
    return elapsed > 0 ? static_cast<uint32_t>(elapsed) : 0;
}

// Attributes

void VProgressIndicatorInfo::SetAttribute(const VString& inName, const VValueSingle& inValue)
{
    if (fExtraInfo == nullptr)
    {
        fExtraInfo = new VValueBag();
    }
    fExtraInfo->SetValue(StPackedDictionaryKey(inName), inValue);
    ++fExtraInfoVersion;
}

void VProgressIndicatorInfo::RemoveAttribute(const VString& inName)
{
    if (fExtraInfo != nullptr)
    {
        fExtraInfo->RemoveAttribute(StPackedDictionaryKey(inName));
        ++fExtraInfoVersion;
    }
}

VValueBag* VProgressIndicatorInfo::RetainExtraInfoBag() const
{
    return RetainRefCountable(fExtraInfo);
}

// Texts

void VProgressIndicatorInfo::GetMessage(VString& outMessage) const
{
    outMessage.Clear();
    if (fMessage.IsEmpty())
    {
        return;
    }
    uint32_t elapsed = GetElapsedMs();
    // value * 100 / max, truncated; 0 when negative or without a max, held in the int64 range.
    double rate = fMax != 0 ? static_cast<double>(fValue) * 100.0 / static_cast<double>(fMax) : 0;
    rate = rate > 0 ? std::trunc(std::min(rate, 9.0e18)) : 0;
    VTime start;
    StartDate(elapsed, start);
    VString startText;
    start.GetStringLocalTime(startText);
    VString durationText;
    VDuration(elapsed).GetString(durationText);

    VRefPtr<VJSONObject> values(new VJSONObject(), true);
    values->SetProperty(VString("maxValue"), VJSONValue(static_cast<double>(fMax)));
    values->SetProperty(VString("curValue"), VJSONValue(static_cast<double>(fValue)));
    values->SetProperty(VString("rateValue"), VJSONValue(rate));
    values->SetProperty(VString("startTime"), VJSONValue(startText));
    values->SetProperty(VString("duration"), VJSONValue(durationText));
    outMessage = fMessage;
    outMessage.Format(values.Get(), false);
}

void VProgressIndicatorInfo::GetJSONObject(VJSONObject& ioObject) const
{
    uint32_t elapsed = GetElapsedMs();
    VTime start;
    StartDate(elapsed, start);
    VString startText;
    start.GetStringLocalTime(startText);
    VString uuidText;
    fUUID.GetString(uuidText);

    ioObject.SetProperty(VString("message"), VJSONValue(fMessage));
    ioObject.SetProperty(VString("maxValue"), VJSONValue(static_cast<double>(fMax)));
    ioObject.SetProperty(VString("currentValue"), VJSONValue(static_cast<double>(fValue)));
    ioObject.SetProperty(VString("interruptible"), VJSONValue(fCanInterrupt ? JSON_true : JSON_false));
    ioObject.SetProperty(VString("remote"), VJSONValue(fRemote ? JSON_true : JSON_false));
    ioObject.SetProperty(VString("uuid"), VJSONValue(uuidText));
    ioObject.SetProperty(VString("taskId"), VJSONValue(static_cast<double>(fTaskID)));
    ioObject.SetProperty(VString("startTime"), VJSONValue(startText));
    ioObject.SetProperty(VString("duration"), VJSONValue(static_cast<double>(elapsed)));
    if (fCollectedInfo != nullptr)
    {
        VJSONCloner cloner;
        VJSONValue copy;
        cloner.CloneObject(fCollectedInfo, copy);
        ioObject.MergeWith(copy.GetObject(), false);
    }
}

// Snapshots

VRefCountedSessionInfo::VRefCountedSessionInfo(std::vector<VProgressIndicatorInfo*>&& inSessions)
    : fSessions(std::move(inSessions))
{
}

VRefCountedSessionInfo::~VRefCountedSessionInfo()
{
    for (VProgressIndicatorInfo* session : fSessions)
    {
        delete session;
    }
}

// The fraction done

float ComputeSessionsPercentDone(const VProgressIndicatorInfo* const* inSessions, size_t inCount)
{
    if (inCount == 0)
    {
        return 0;
    }
    const VProgressIndicatorInfo& current = *inSessions[inCount - 1];
    if (current.GetMax() <= 0)
    {
        return static_cast<float>(current.GetValue());
    }
    float scale = 1;
    float sum = 0;
    for (size_t index = 0; index + 1 < inCount; ++index)
    {
        const VProgressIndicatorInfo& outer = *inSessions[index];
        if (outer.GetMax() <= 0)
        {
            return 0;
        }
        scale *= static_cast<float>(outer.GetMax());
        sum += static_cast<float>(outer.GetValue()) / scale;
    }
    return static_cast<float>(current.GetValue()) / (static_cast<float>(current.GetMax()) * scale) + sum;
}

} // namespace zorn
