#include "toolbox/process/VRemoteProgressSessionInfo.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/ProgressBagKeys.h"

#include <type_traits>

namespace zorn
{

namespace
{

using Keys = ProgressBagKeys;

VError ThrowInvalidPicture(const char* inWhat)
{
    const VString what(inWhat);
    return _ThrowError(VE_PROGRESS_BAG_INVALID, &what);
}

// A record as a picture holds it: the worker's collector and its details stay behind.
void AppendRecord(std::deque<VProgressIndicatorInfo>& ioStack, const VProgressIndicatorInfo& inRecord)
{
    ioStack.push_back(inRecord);
    ioStack.back().SetCollector(nullptr);
    ioStack.back().AdoptCollectedInfo(nullptr);
}

// Reads the attribute when its flag is set; false when the flag is set and the attribute missing.
template <class TKey, class TNative>
bool ReadFlagged(const VValueBag& inBag, uint32_t inFlags, uint32_t inFlag, const TKey& inKey,
                 TNative& outValue)
{
    if ((inFlags & inFlag) == 0)
    {
        return true;
    }
    if constexpr (std::is_same_v<TNative, bool>)
    {
        return inBag.GetBool(inKey, outValue);
    }
    else
    {
        int32_t value = 0;
        if (!inBag.GetLong(inKey, value))
        {
            return false;
        }
        outValue = static_cast<TNative>(value);
        return true;
    }
}

} // namespace

VRemoteProgressSessionInfo::VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo* inOther)
{
    if (inOther != nullptr)
    {
        *this = *inOther;
    }
}

void VRemoteProgressSessionInfo::Reset()
{
    fSessionCount = 0;
    fSessionStack.clear();
    fChangesVersion = 0;
    fMasterSessionVersion = 0;
    fSessionVersion = 0;
    fUserAbort = false;
    fCanInterrupt = false;
    fFlags = 0;
    fCurrentUpdateFlags = 0;
}

void VRemoteProgressSessionInfo::FromProgressInfo(int32_t inSessionCount, uint32_t inChangesVersion,
                                                  uint32_t inSessionVersion, uint32_t inMasterSessionVersion,
                                                  const std::deque<VProgressIndicatorInfo>& inOuterSessions,
                                                  const VProgressIndicatorInfo* inCurrent)
{
    fFlags |= eFlag_SessionCount | eFlag_ChangesVersion | eFlag_SessionVersion | eFlag_MasterSessionVersion;
    fSessionCount = inSessionCount;
    fChangesVersion = inChangesVersion;
    fSessionVersion = inSessionVersion;
    fMasterSessionVersion = inMasterSessionVersion;
    fSessionStack.clear();
    if ((fFlags & eFlag_SessionStack) != 0)
    {
        for (const VProgressIndicatorInfo& session : inOuterSessions)
        {
            AppendRecord(fSessionStack, session);
        }
    }
    if (inCurrent != nullptr && (fFlags & (eFlag_SessionStack | eFlag_Current)) != 0)
    {
        AppendRecord(fSessionStack, *inCurrent);
    }
    fCurrentUpdateFlags = VProgressIndicatorInfo::eUpdate_All;
}

// Bag form

VError VRemoteProgressSessionInfo::SaveToBag(VValueBag& ioBag, VString& outKind,
                                             const VRemoteProgressSessionInfo* inPrevious) const
{
    ioBag.SetLong(Keys::Flags(), static_cast<int32_t>(fFlags));
    if ((fFlags & eFlag_SessionCount) != 0)
    {
        ioBag.SetLong(Keys::SessionCount(), fSessionCount);
    }
    if ((fFlags & eFlag_ChangesVersion) != 0)
    {
        ioBag.SetLong(Keys::ChangesVersion(), static_cast<int32_t>(fChangesVersion));
    }
    if ((fFlags & eFlag_SessionVersion) != 0)
    {
        ioBag.SetLong(Keys::SessionVersion(), static_cast<int32_t>(fSessionVersion));
    }
    if ((fFlags & eFlag_MasterSessionVersion) != 0)
    {
        ioBag.SetLong(Keys::MasterSessionVersion(), static_cast<int32_t>(fMasterSessionVersion));
    }
    if ((fFlags & eFlag_UserAbort) != 0)
    {
        ioBag.SetBool(Keys::UserAbort(), fUserAbort);
    }
    if ((fFlags & eFlag_CanInterrupt) != 0)
    {
        ioBag.SetBool(Keys::CanInterrupt(), fCanInterrupt);
    }
    VString kind;
    if ((fFlags & eFlag_Current) != 0 && !fSessionStack.empty())
    {
        const VProgressIndicatorInfo* previous = nullptr;
        if (inPrevious != nullptr && inPrevious->fSessionCount == fSessionCount &&
            !inPrevious->fSessionStack.empty())
        {
            previous = &inPrevious->fSessionStack.back();
        }
        VRefPtr<VValueBag> current(new VValueBag(), true);
        fSessionStack.back().SaveToBag(*current, kind, previous);
        ioBag.AddElement(Keys::Current(), current.Get());
    }
    if ((fFlags & eFlag_SessionStack) != 0)
    {
        for (const VProgressIndicatorInfo& session : fSessionStack)
        {
            VRefPtr<VValueBag> record(new VValueBag(), true);
            session.SaveToBag(*record, kind);
            ioBag.AddElement(Keys::SessionStack(), record.Get());
        }
    }
    outKind = VString("DistantSessionInfo");
    return VE_OK;
}

VError VRemoteProgressSessionInfo::LoadFromBag(const VValueBag& inBag)
{
    Reset();
    VError error = _LoadFromBag(inBag);
    if (error != VE_OK)
    {
        Reset();
    }
    return error;
}

VError VRemoteProgressSessionInfo::_LoadFromBag(const VValueBag& inBag)
{
    int32_t flags = 0;
    if (!inBag.GetLong(Keys::Flags(), flags))
    {
        return ThrowInvalidPicture("a progress picture has no \"fFlags\"");
    }
    fFlags = static_cast<uint32_t>(flags);
    if (!ReadFlagged(inBag, fFlags, eFlag_SessionCount, Keys::SessionCount(), fSessionCount) ||
        !ReadFlagged(inBag, fFlags, eFlag_ChangesVersion, Keys::ChangesVersion(), fChangesVersion) ||
        !ReadFlagged(inBag, fFlags, eFlag_SessionVersion, Keys::SessionVersion(), fSessionVersion) ||
        !ReadFlagged(inBag, fFlags, eFlag_MasterSessionVersion, Keys::MasterSessionVersion(),
                     fMasterSessionVersion) ||
        !ReadFlagged(inBag, fFlags, eFlag_UserAbort, Keys::UserAbort(), fUserAbort) ||
        !ReadFlagged(inBag, fFlags, eFlag_CanInterrupt, Keys::CanInterrupt(), fCanInterrupt))
    {
        return ThrowInvalidPicture("a progress picture lacks a field its flags announce");
    }
    if (fSessionCount < 0)
    {
        return ThrowInvalidPicture("a progress picture has a negative session count");
    }
    const bool current = (fFlags & eFlag_Current) != 0;
    const bool stack = (fFlags & eFlag_SessionStack) != 0;
    if (current && stack)
    {
        return ThrowInvalidPicture("a progress picture holds both the current session and the stack");
    }
    if (current)
    {
        VBagArray* list = inBag.GetElements(Keys::Current());
        if (list == nullptr || list->GetCount() != 1 || fSessionCount == 0)
        {
            return ThrowInvalidPicture("a progress picture holds no single \"fCurrent\" of an open session");
        }
        const VValueBag& bag = *list->GetNth(1);
        fSessionStack.emplace_back();
        VError error = fSessionStack.back().LoadFromBag(bag);
        if (error != VE_OK)
        {
            return error;
        }
        fCurrentUpdateFlags = VProgressIndicatorInfo::GetUpdateFlags(bag);
    }
    if (stack)
    {
        VBagArray* list = inBag.GetElements(Keys::SessionStack());
        const int32_t count = list != nullptr ? list->GetCount() : 0;
        if (count != fSessionCount)
        {
            return ThrowInvalidPicture("a progress picture's stack is not as long as its session count");
        }
        for (int32_t index = 1; index <= count; ++index)
        {
            const VValueBag& bag = *list->GetNth(index);
            if ((VProgressIndicatorInfo::GetUpdateFlags(bag) & VProgressIndicatorInfo::eUpdate_All) == 0)
            {
                return ThrowInvalidPicture("a progress picture's stack holds a partial session record");
            }
            fSessionStack.emplace_back();
            VError error = fSessionStack.back().LoadFromBag(bag);
            if (error != VE_OK)
            {
                return error;
            }
        }
    }
    return VE_OK;
}

// Stream form

VError VRemoteProgressSessionInfo::WriteToStream(VStream* ioStream,
                                                 const VRemoteProgressSessionInfo* inPrevious) const
{
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    VString kind;
    SaveToBag(*bag, kind, inPrevious);
    return bag->WriteToStream(ioStream);
}

VError VRemoteProgressSessionInfo::ReadFromStream(VStream* ioStream)
{
    Reset();
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    VError error = bag->ReadFromStream(ioStream);
    return error != VE_OK ? error : LoadFromBag(*bag);
}

} // namespace zorn
