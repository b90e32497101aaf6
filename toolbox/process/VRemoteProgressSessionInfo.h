// VRemoteProgressSessionInfo: a transferable picture of a progress indicator's sessions. The
// indicator that does the work takes pictures of itself (VProgressIndicator::GetProgressInfo, each
// against the previous one so that only what changed goes), a viewer in another task or process
// applies them to an indicator of its own (VProgressIndicator::UpdateFromRemoteInfo), which then
// mirrors the worker's sessions; the user's abort travels in the pictures too.
//
// Bag form (kind "DistantSessionInfo", keys in ProgressBagKeys): "fFlags" says which fields are
// meaningful; each flagged field is an attribute, the current session alone the element
// "fCurrent" (a session-record bag, a delta against the previous picture when the session count
// did not change), the whole stack the element list "fSessionStack" (full records, outermost
// first). The stream form is the bag's framed stream form.
//
// Choices made where several were possible:
// - A picture is outside input. Besides the bag stream reader's own checks (counts and lengths
//   against the bytes left, nesting cap), LoadFromBag refuses with VE_PROGRESS_BAG_INVALID a
//   flagged attribute that is missing, a negative session count, both stack flags at once, a
//   "fCurrent" that is not exactly one element or without an open session, a stack whose length
//   is not the session count, and a stack record that is not whole. A refused picture is left
//   empty (Reset), never half read, so a mirror never applies one.
// - A picture carries no collector and no collected details: those belong to the worker.
// - Pictures made in the process (FromProgressInfo) hold whole records, so their current update
//   flags say "all" (1024); a picture read from a bag takes the flags of its "fCurrent".
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/process/VProgressIndicatorInfo.h"

#include <cstdint>
#include <deque>

namespace zorn
{

class VStream;
class VString;
class VValueBag;

class VRemoteProgressSessionInfo : public VObject
{
public:
    // Which fields of the picture are meaningful.
    enum EFlags : uint32_t
    {
        eFlag_SessionCount = 1,
        eFlag_ChangesVersion = 2,
        eFlag_SessionVersion = 4,
        eFlag_MasterSessionVersion = 8,
        eFlag_UserAbort = 16,
        eFlag_CanInterrupt = 32,
        eFlag_Current = 64,
        eFlag_SessionStack = 128
    };

    // Everything zero, no session.
    VRemoteProgressSessionInfo() = default;
    // A copy of the picture; null gives the empty picture.
    explicit VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo* inOther);
    VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo& inOther) = default;
    VRemoteProgressSessionInfo& operator=(const VRemoteProgressSessionInfo& inOther) = default;
    ~VRemoteProgressSessionInfo() override = default;

    // Fields zero, stack emptied.
    void Reset();

    // Fills the picture from an indicator (its state lock held): flags 1, 2, 4 and 8 with the
    // values; with the stack flag already set, the outer sessions and the current one (when a
    // session is open), else with the current-session flag, the current one only.
    void FromProgressInfo(int32_t inSessionCount, uint32_t inChangesVersion, uint32_t inSessionVersion,
                          uint32_t inMasterSessionVersion,
                          const std::deque<VProgressIndicatorInfo>& inOuterSessions,
                          const VProgressIndicatorInfo* inCurrent);

    // Bag form (see above); against a previous picture with the same session count, "fCurrent" is
    // a delta. Names the kind "DistantSessionInfo"; 0.
    VError SaveToBag(VValueBag& ioBag, VString& outKind,
                     const VRemoteProgressSessionInfo* inPrevious = nullptr) const;
    // Replaces the picture with the bag's; a refused bag leaves it empty (see above).
    VError LoadFromBag(const VValueBag& inBag);
    // The bag form in the bag's framed stream form, and back.
    VError WriteToStream(VStream* ioStream, const VRemoteProgressSessionInfo* inPrevious = nullptr) const;
    VError ReadFromStream(VStream* ioStream);

    uint32_t GetFlags() const { return fFlags; }
    void SetFlags(uint32_t inFlags) { fFlags = inFlags; }
    int32_t GetSessionCount() const { return fSessionCount; }
    const std::deque<VProgressIndicatorInfo>& GetSessionStack() const { return fSessionStack; }
    uint32_t GetChangesVersion() const { return fChangesVersion; }
    uint32_t GetMasterSessionVersion() const { return fMasterSessionVersion; }
    uint32_t GetSessionVersion() const { return fSessionVersion; }
    bool IsUserAbort() const { return fUserAbort; }
    void SetUserAbort(bool inUserAbort) { fUserAbort = inUserAbort; }
    bool CanInterrupt() const { return fCanInterrupt; }
    void SetCanInterrupt(bool inCanInterrupt) { fCanInterrupt = inCanInterrupt; }
    uint32_t GetCurrentUpdateFlags() const { return fCurrentUpdateFlags; }

private:
    VError _LoadFromBag(const VValueBag& inBag);

    int32_t fSessionCount = 0;
    std::deque<VProgressIndicatorInfo> fSessionStack;
    uint32_t fChangesVersion = 0;
    uint32_t fMasterSessionVersion = 0;
    uint32_t fSessionVersion = 0;
    bool fUserAbort = false;
    bool fCanInterrupt = false;
    uint32_t fFlags = 0;
    uint32_t fCurrentUpdateFlags = 0;
};

} // namespace zorn
