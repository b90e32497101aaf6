// The records of progress sessions: VProgressIndicatorInfo describes one session of a
// VProgressIndicator (message, value, maximum, start, user attributes, the details a collector
// gave); VRefCountedSessionInfo is the immutable snapshot of an indicator's open sessions that other
// threads read; VProgressSessionInfo is a reader's summary of it. IProgressInfoCollector is asked,
// on the worker's thread, for the details of the work inside a session.
//
// Choices made where several were possible:
// - A record's start is a millisecond tick (VSystem::GetCurrentTime); its date is now minus the
//   elapsed time, in GetMessage's "startTime" as in the JSON form's.
// - A copy starts with metrics pending off (it describes a session measured elsewhere); an
//   assignment keeps the target's metrics-pending and remote flags, so a session that takes over
//   its parent's record is still measured as itself. Both clone the extra-info bag and share the
//   collected object, which nobody changes once a collector returned it.
// - The message is formatted with VString::Format over a JSON object of "maxValue", "curValue",
//   "rateValue", "startTime" and "duration": placeholders are "{name}".
// - Bag form (kind "VProgressIndicatorInfo", keys in ProgressBagKeys): "fUpdateFlags" says which
//   fields follow, 1024 for all of them. The user attributes travel as the element "ExtraInfo",
//   written and read under that one name; a delta whose attributes version changed always carries
//   it, empty when the record has no attributes left (read back as none), so that a receiver never
//   keeps attributes the sender dropped. A record bag is outside input: a flagged field that is
//   missing, or a flagged "ExtraInfo" that is not exactly one element, is refused with
//   VE_PROGRESS_BAG_INVALID and the record is left as it was. The uuid, the task id, the collector
//   and the collected details do not travel.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VUUID.h"

#include <cstdint>
#include <vector>

namespace zorn
{

// A progress record or picture bag does not hold what its flags announce.
constexpr VError VE_PROGRESS_BAG_INVALID = MakeVError(kCOMPONENT_ZORN, 1020);

class VJSONObject;
class VProgressIndicator;
class VValueBag;
class VValueSingle;

class IProgressInfoCollector
{
public:
    virtual ~IProgressInfoCollector() = default;
    // The details of the work inside the session (one reference, the caller's), or null.
    // inOutermost is true for the indicator's outermost session only.
    virtual VJSONObject* CollectInfo(VProgressIndicator* inIndicator, bool inOutermost) = 0;
};

class VProgressIndicatorInfo : public VObject
{
public:
    // The fields a record bag or a remote update carries.
    enum EUpdateFlags : uint32_t
    {
        eUpdate_Message = 1,
        eUpdate_Value = 2,
        eUpdate_Max = 4,
        eUpdate_StartTime = 8,
        eUpdate_CanInterrupt = 16,
        eUpdate_ExtraInfoVersion = 32,
        eUpdate_ExtraInfo = 64,
        eUpdate_All = 1024
    };

    // Value and max 0, no message, started now, metrics pending, interruptible, a new uuid.
    VProgressIndicatorInfo();
    VProgressIndicatorInfo(const VProgressIndicatorInfo& inOther);
    VProgressIndicatorInfo& operator=(const VProgressIndicatorInfo& inOther);
    ~VProgressIndicatorInfo() override;

    // Back to a new session's state (uuid and task id stay); drops the extra info (its version
    // grows), the collector and the collected info.
    void Reset();
    // Starts the session's clock again and marks it for measuring.
    void _ResetStartTime();
    // Cleared as a summary slot is: value, max and start 0, no message, interruptible, extra info
    // version 0, no extra info, collector or collected info (uuid and task id stay).
    void _Clear();

    uint32_t GetTaskID() const { return fTaskID; }
    const VUUID& GetUUID() const { return fUUID; }
    const VString& GetMessageText() const { return fMessage; }
    void SetMessageText(const VString& inMessage) { fMessage = inMessage; }
    int64_t GetValue() const { return fValue; }
    void SetValue(int64_t inValue) { fValue = inValue; }
    int64_t GetMax() const { return fMax; }
    void SetMax(int64_t inMax) { fMax = inMax; }
    uint32_t GetStartTime() const { return fStartTime; }
    bool IsMetricsPending() const { return fMetricsPending; }
    void SetMetricsPending(bool inPending) { fMetricsPending = inPending; }
    bool CanInterrupt() const { return fCanInterrupt; }
    void SetCanInterrupt(bool inCanInterrupt) { fCanInterrupt = inCanInterrupt; }
    bool IsRemote() const { return fRemote; }
    uint32_t GetExtraInfoVersion() const { return fExtraInfoVersion; }
    IProgressInfoCollector* GetCollector() const { return fCollector; }
    void SetCollector(IProgressInfoCollector* inCollector) { fCollector = inCollector; }
    // The last details of the collector (not retained for the caller), or null.
    VJSONObject* GetCollectedInfo() const { return fCollectedInfo; }
    // Takes over the caller's reference (null clears); the previous object is released.
    void AdoptCollectedInfo(VJSONObject* inInfo);

    // User attributes of the session; each change makes the extra-info version grow.
    void SetAttribute(const VString& inName, const VValueSingle& inValue);
    void RemoveAttribute(const VString& inName);
    // The attributes' bag with a reference, or null when none was set.
    VValueBag* RetainExtraInfoBag() const;

    // The message with its placeholders filled (empty for an empty message).
    void GetMessage(VString& outMessage) const;
    // The JSON form: "message", "maxValue", "currentValue", "interruptible", "remote", "uuid",
    // "taskId", "startTime", "duration", then a deep copy of the collected object merged in.
    void GetJSONObject(VJSONObject& ioObject) const;
    // The milliseconds since the session's start.
    uint32_t GetElapsedMs() const;

    // Bag form. Without a previous record every field is written ("fUpdateFlags" 1024, the
    // attributes "ExtraInfo" when there are any); with one only what differs from it (the
    // attributes, maybe empty, when their version differs). Names the kind "VProgressIndicatorInfo"; 0.
    VError SaveToBag(VValueBag& ioBag, VString& outKind,
                     const VProgressIndicatorInfo* inPrevious = nullptr) const;
    // Takes the fields the bag's "fUpdateFlags" announces (all of them for 1024; the attributes are
    // dropped when a full bag has none). Refused bags change nothing (see above).
    VError LoadFromBag(const VValueBag& inBag);
    // The bag's "fUpdateFlags" (0 when missing).
    static uint32_t GetUpdateFlags(const VValueBag& inBag);
    // Takes the flagged fields of a remote record: 1 message, 2 value, 4 max, 16 can interrupt, 32
    // extra info version, 64 the attributes; 1024 the whole record as an assignment does. The start
    // tick only comes with a whole record.
    void UpdateFromRemoteInfo(const VProgressIndicatorInfo& inInfo, uint32_t inFlags);
    // The extra info replaced by a copy of the bag (null drops it); the version is not changed.
    void _SetExtraInfoBag(const VValueBag* inBag);
    void _SetStartTime(uint32_t inStartTime) { fStartTime = inStartTime; }
    void _SetExtraInfoVersion(uint32_t inVersion) { fExtraInfoVersion = inVersion; }

private:
    void _CopyFrom(const VProgressIndicatorInfo& inOther);

    uint32_t fTaskID = 0;
    VUUID fUUID;
    VString fMessage;
    int64_t fValue = 0;
    int64_t fMax = 0;
    uint32_t fStartTime = 0;
    bool fMetricsPending = true;
    bool fCanInterrupt = true;
    bool fRemote = false;
    VValueBag* fExtraInfo = nullptr; // owned
    uint32_t fExtraInfoVersion = 0;
    IProgressInfoCollector* fCollector = nullptr; // not owned
    VJSONObject* fCollectedInfo = nullptr;        // one reference
};

// The open sessions of an indicator as they were when the worker built the snapshot, outermost
// first. Never changed once published.
class VRefCountedSessionInfo : public VObject, public IRefCountable
{
public:
    explicit VRefCountedSessionInfo(std::vector<VProgressIndicatorInfo*>&& inSessions);
    ~VRefCountedSessionInfo() override;
    VRefCountedSessionInfo(const VRefCountedSessionInfo&) = delete;
    VRefCountedSessionInfo& operator=(const VRefCountedSessionInfo&) = delete;

    const std::vector<VProgressIndicatorInfo*>& GetSessions() const { return fSessions; }

private:
    std::vector<VProgressIndicatorInfo*> fSessions; // owned
};

// A reader's summary: the outermost session, the parent of the innermost and the innermost (with
// one session only the first slot is filled, with two the first two), the count, the fraction done
// and the indicator's change counter.
struct VProgressSessionInfo
{
    VProgressIndicatorInfo fSlots[3];
    int32_t fSessionCount = 0;
    uint32_t fFilledSlots = 0;
    float fPercentDone = 0;
    uint32_t fChangeCounter = 0;
};

// The fraction done of a stack of sessions, outermost first: 0 for none; the innermost's raw value
// when its max is 0 or less; 0 when an outer max is 0 or less; else
// value(c) / (max(c) * prod max(s_i)) + sum value(s_i) / prod max(s_1..s_i), in 32-bit floats.
float ComputeSessionsPercentDone(const VProgressIndicatorInfo* const* inSessions, size_t inCount);

} // namespace zorn
