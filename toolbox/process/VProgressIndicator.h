// VProgressIndicator: the toolbox's nested progress object. A long operation opens a session with
// a maximum and a title, reports values while it works and closes the session; an operation called
// from inside it opens a nested session on the same indicator, so one indicator carries a stack of
// sessions and one fraction done. Every value call answers whether to go on: false when the user
// stopped, or (with the default can-interrupt flag on) when the calling task is dying. Other
// threads read the indicator through snapshots that the worker's own thread builds on request, so
// no reader walks the live stack of a busy worker. Each indicator is registered with the
// VProgressManager for its whole life.
//
// Choices made where several were possible:
// - Only the worker (the thread that opens the sessions) reports values, messages and sessions;
//   those calls take no lock for the value. Readers on other threads use UpdateSessionsInfos,
//   RetainSessionsInfos and GetProgressInfo(VProgressSessionInfo&), which touch only the
//   snapshot, the requested stamp and a few atomic counters.
// - A summary's fraction done is computed from the snapshot it reports, not from the live stack,
//   which the worker changes without a lock: the slots and the fraction always agree.
// - The closing of the last session records it as a metric once: DoMetrics then clears the
//   session's metrics-pending flag, so unregistering the indicator does not record it again.
// - The title, the user info and the default collector have setters (SetTitle, SetUserInfo,
//   SetDefaultProgressInfoCollector); the user info is what the manager finds indicators by.
// - The bag form (SaveInfoToBag) writes the indicator's own attributes ("UserInfo",
//   "SessionCount", "Title", "CanInterrupt") and one full session record "SessionInfo" per open
//   session, outermost first.
// - Remote exchange: the worker takes pictures of itself (GetProgressInfo with the previous
//   picture), a viewer applies them to its own indicator (UpdateFromRemoteInfo), which then
//   mirrors the worker's sessions above its own (the mirroring base). Pictures are taken with a
//   try-lock; the worker's value calls write the current session without a lock, so a picture is
//   consistent when the worker's own thread takes it.
// - A mirror refuses (false, nothing changed) a picture from an older remote session version than
//   the one it mirrors (wrap-safe comparison), which a late picture of a closed session is, and a
//   current-session delta that does not match the mirrored stack (its count differs, or nothing is
//   mirrored): applying either would show sessions the worker no longer has.
// - A picture goes whole also when the session version changed since the previous picture: a
//   session closed and reopened within one millisecond tick keeps its count and start tick.
// - Mirrored sessions follow the worker's stack in place: a nested session the worker opens or
//   closes is pushed or closed on the mirror; records are then copied one by one.
// - Locks: the progress manager's lock, then the state lock, then the snapshot lock, then the
//   metrics manager's lock (VProgressLockOrder checks the order in debug builds).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VUUID.h"
#include "toolbox/process/VProgressIndicatorInfo.h"

#include <atomic>
#include <cstdint>
#include <deque>

namespace zorn
{

class VRemoteProgressSessionInfo;
class VStream;
class VValueBag;
class VValueSingle;

class VProgressIndicator : public VObject, public IRefCountable
{
public:
    // A new id; registered with the progress manager when it exists.
    VProgressIndicator();
    // The given id and first session version.
    VProgressIndicator(const VUUID& inID, int32_t inSessionVersion);
    ~VProgressIndicator() override;
    VProgressIndicator(const VProgressIndicator&) = delete;
    VProgressIndicator& operator=(const VProgressIndicator&) = delete;

    const VUUID& GetID() const { return fID; }
    // The state lock (session stack and current session).
    bool Lock() const;
    bool Unlock() const;

    // Sessions. The short forms take value 0, the default can-interrupt flag and, where they have
    // no collector argument, the default collector.
    void BeginSession(int64_t inMax, int64_t inValue, const VString& inTitle, bool inCanInterrupt,
                      IProgressInfoCollector* inCollector);
    void BeginSession(int64_t inMax, const VString& inTitle);
    void BeginSession(int64_t inMax, const VString& inTitle, IProgressInfoCollector* inCollector);
    void BeginSession(int64_t inMax, const VString& inTitle, bool inCanInterrupt,
                      IProgressInfoCollector* inCollector);
    // A session without a maximum (-1); its snapshot is built at once.
    void BeginUndeterminedSession(const VString& inTitle);
    void BeginUndeterminedSession(const VString& inTitle, bool inCanInterrupt,
                                  IProgressInfoCollector* inCollector);
    // Closes the innermost session (after any mirrored ones); nothing when none is open.
    void EndSession();
    // Restarts the current session in place.
    void Reset(const VString& inTitle, int64_t inMax, int64_t inValue);
    int32_t GetSessionCount() const { return fSessionCount.load(std::memory_order_acquire); }
    uint32_t GetSessionVersion() const { return fSessionVersion.load(std::memory_order_acquire); }
    uint32_t GetChangeCounter() const { return fChangeCounter.load(std::memory_order_relaxed); }

    // Values: true to go on, false to stop. Without a session they change nothing (true).
    bool Progress(int64_t inValue);
    bool Increment(int64_t inDelta = 1);
    bool Decrement(int64_t inDelta = 1);
    // These do not look at the task's death.
    bool SetMessageAndValue(const VString& inMessage, int64_t inValue);
    bool SetMessageAndIncrementValue(const VString& inMessage, int64_t inDelta = 1);
    void SetMessage(const VString& inMessage);
    void SetMaxValue(int64_t inMax);
    // 0 without a session.
    int64_t GetMaxValue() const;
    int64_t GetCurrentValue() const;
    // With inCurrentSession, the current session's flag (when one is open); else the default.
    void SetCanInterrupt(bool inCanInterrupt, bool inCurrentSession);
    bool GetDefaultCanInterrupt() const { return fDefaultCanInterrupt.load(std::memory_order_relaxed); }
    void SetAttribute(const VString& inName, const VValueSingle& inValue);
    void RemoveAttribute(const VString& inName);
    // The current session's message with its placeholders filled; empty without a session.
    void GetMessage(VString& outMessage) const;
    // Sets the current session's collector, handing back the previous one when asked.
    void SetProgressInfoCollector(IProgressInfoCollector* inCollector,
                                  IProgressInfoCollector** outPrevious = nullptr);
    // The collector an outermost session gets when its opener gives none (not owned).
    void SetDefaultProgressInfoCollector(IProgressInfoCollector* inCollector)
    {
        fDefaultCollector = inCollector;
    }
    // The current session becomes a copy of the record.
    void SetProgressInfo(const VProgressIndicatorInfo& inInfo);
    // The open session with that uuid (the current one first); false when none.
    bool GetProgressInfo(const VUUID& inSessionID, VProgressIndicatorInfo& outInfo) const;

    // Readers on other threads.
    // Asks the worker for a fresh snapshot (when a session is open).
    void UpdateSessionsInfos();
    // The last snapshot with a reference, null before the first.
    VRefCountedSessionInfo* RetainSessionsInfos() const;
    // The summary of the last snapshot (asking for a fresh one); false when there is none yet, or,
    // while mirrored sessions are open, when the indicator is busy or idle.
    bool GetProgressInfo(VProgressSessionInfo& outInfo);
    // The fraction done of the live stack (the worker's, or under the state lock).
    float ComputePercentDone() const;
    float _ComputePercentDone() const;

    // Identity for owners and viewers.
    void SetTitle(const VString& inTitle);
    void GetTitle(VString& outTitle) const;
    void SetUserInfo(const VString& inUserInfo);
    void GetUserInfo(VString& outUserInfo) const;
    bool IsUserAborted() const { return fUserAbort.load(std::memory_order_relaxed) != 0; }

    // The open sessions, outermost first (copies, under the state lock).
    void GetSessions(std::deque<VProgressIndicatorInfo>& outSessions) const;

    // Remote exchange.
    // A picture of the sessions, against the previous picture when given: false when the state
    // lock is busy (try again later) or, with a previous picture, when nothing changed since.
    bool GetProgressInfo(VRemoteProgressSessionInfo& outInfo,
                         const VRemoteProgressSessionInfo* inPrevious) const;
    // Applies a picture (see the header's notes); false when it was refused.
    bool UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& inInfo);
    // Closes the mirrored sessions down to the base and ends mirroring. Both do nothing when the
    // indicator mirrors nothing: its sessions are then all its own.
    void _CloseRemoteSession();
    // Closes the mirrored sessions down to the base; mirroring goes on (the next whole picture
    // pushes the remote sessions again).
    void _CleanRemoteSession();
    bool IsMirroring() const { return fMirroring.load(std::memory_order_acquire) != 0; }
    int32_t GetMirroringBase() const;
    uint32_t GetRemoteSessionVersion() const;
    // The identity a viewer needs: "uuid" and "version" (the session version), kind
    // "VProgressIndicator"; in a stream, a 16-bit byte-order mark reading 1 in the stream's order,
    // the id as a value with its kind and the session version as a 32-bit integer.
    VError WriteInfoForRemote(VValueBag& ioBag, VString& outKind) const;
    VError WriteInfoForRemote(VStream* ioStream) const;
    // Reads the stream form back; the mark sets the stream's byte order. A mark that reads neither
    // 1 nor 1 swapped gives VE_STREAM_BAD_SIGNATURE, a value that is no id VE_PROGRESS_BAG_INVALID.
    static VError ReadInfoForRemote(VStream* ioStream, VUUID& outID, uint32_t& outSessionVersion);

    // "UserInfo", "SessionCount", "Title", "CanInterrupt", then a "SessionInfo" per open session,
    // under the state lock; 0.
    virtual VError SaveInfoToBag(VValueBag& ioBag);
    virtual bool IsManagerValid() const { return true; }
    // Records the current session as a metric when it is pending and the process records progress.
    void DoMetrics();

protected:
    // Hooks: after a session opened (the new count), before one closes (the count before).
    virtual void DoBeginSession(int32_t /*inSessionCount*/) {}
    virtual void DoEndSession(int32_t /*inSessionCount*/) {}
    // Yields the task; false when the user stopped.
    virtual bool DoProgress();
    // Leaves the manager before the object goes, so that no lookup can find it while it dies.
    void DoOnRefCountZero() override;

    // Sets the counters and flags back to their construction values (sessions untouched).
    void _Init();

private:
    enum EValueStep
    {
        eValueStep_Set,
        eValueStep_Add,
        eValueStep_Subtract
    };

    // The steps of every value call: serve a snapshot request; with a session open, count the
    // change, store the message (when given) and the value, ask DoProgress and, with inCheckTask,
    // the task's state.
    bool _Report(const VString* inMessage, EValueStep inStep, int64_t inOperand, bool inCheckTask);
    // Builds and publishes a snapshot when one was asked for and a session is open.
    void _CheckCollectInfo();
    void _CloseOneSession();
    // Closes the mirrored sessions down to the base.
    void _CloseMirroredSessions();
    // Under the state lock: pushes the records as new sessions, outermost first.
    void _PushRemoteSessions(const std::deque<VProgressIndicatorInfo>& inSessions, size_t inFrom);
    // Under the state lock: the mirrored sessions become the records (sessions closed or pushed
    // until the counts match, then copied).
    void _SyncRemoteSessions(const std::deque<VProgressIndicatorInfo>& inSessions);
    // The task's death stops a value call when the default can-interrupt flag is on.
    bool _CheckTask(bool inGoOn) const;
    // Fills the summary from a stack of sessions, outermost first.
    static void _FillSummary(const VProgressIndicatorInfo* const* inSessions, size_t inCount,
                             VProgressSessionInfo& outInfo);

    VUUID fID;
    mutable VCriticalSection fStateLock;
    std::deque<VProgressIndicatorInfo> fOuterSessions;
    VProgressIndicatorInfo fCurrent;
    std::atomic<int32_t> fSessionCount{0};
    std::atomic<int32_t> fMirroring{0};
    uint32_t fRemoteSessionVersion = 0;
    int32_t fMirroringBase = 0;
    std::atomic<bool> fDefaultCanInterrupt{true};
    VString fTitle;    // under the state lock
    VString fUserInfo; // under the state lock
    std::atomic<uint32_t> fSessionVersion{0};
    std::atomic<int32_t> fUserAbort{0};
    std::atomic<uint32_t> fChangeCounter{0};
    IProgressInfoCollector* fDefaultCollector = nullptr;
    mutable VCriticalSection fSnapshotLock;
    VRefCountedSessionInfo* fSnapshot = nullptr; // one reference, under the snapshot lock
    uint32_t fServedStamp = 0xFFFFFFFF;
    std::atomic<uint32_t> fRequestedStamp{0};
};

} // namespace zorn
