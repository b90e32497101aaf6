// The bag form of a session record and the remote update of a record by its flags.
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/ProgressBagKeys.h"
#include "toolbox/process/VProgressIndicatorInfo.h"

namespace zorn
{

namespace
{

using Keys = ProgressBagKeys;

VError ThrowInvalidRecord(const char* inWhat)
{
    const VString what(inWhat);
    return _ThrowError(VE_PROGRESS_BAG_INVALID, &what);
}

// The only "ExtraInfo" element, or null when there is none or more than one.
VValueBag* UniqueExtraInfo(const VValueBag& inBag, int32_t& outCount)
{
    VBagArray* list = inBag.GetElements(Keys::ExtraInfo());
    outCount = list != nullptr ? list->GetCount() : 0;
    return outCount == 1 ? list->GetNth(1) : nullptr;
}

} // namespace

VError VProgressIndicatorInfo::SaveToBag(VValueBag& ioBag, VString& outKind,
                                         const VProgressIndicatorInfo* inPrevious) const
{
    uint32_t flags = eUpdate_All;
    if (inPrevious != nullptr)
    {
        auto flagIf = [](bool inDiffers, uint32_t inFlag) -> uint32_t { return inDiffers ? inFlag : 0; };
        flags = flagIf(!fMessage.EqualToStringRaw(inPrevious->fMessage), eUpdate_Message) |
                flagIf(fValue != inPrevious->fValue, eUpdate_Value) |
                flagIf(fMax != inPrevious->fMax, eUpdate_Max) |
                flagIf(fStartTime != inPrevious->fStartTime, eUpdate_StartTime) |
                flagIf(fCanInterrupt != inPrevious->fCanInterrupt, eUpdate_CanInterrupt);
        if (fExtraInfoVersion != inPrevious->fExtraInfoVersion)
        {
            // The attributes go even when the record has none left, as an empty element: without
            // it the receiver would keep the attributes it had.
            flags |= eUpdate_ExtraInfoVersion | eUpdate_ExtraInfo;
        }
    }
    const bool all = flags == eUpdate_All;
    ioBag.SetLong(Keys::UpdateFlags(), static_cast<int32_t>(flags));
    if (all || (flags & eUpdate_Message) != 0)
    {
        ioBag.SetString(Keys::Message(), fMessage);
    }
    if (all || (flags & eUpdate_Value) != 0)
    {
        ioBag.SetLong8(Keys::Value(), fValue);
    }
    if (all || (flags & eUpdate_Max) != 0)
    {
        ioBag.SetLong8(Keys::Max(), fMax);
    }
    if (all || (flags & eUpdate_StartTime) != 0)
    {
        ioBag.SetLong(Keys::StartTime(), static_cast<int32_t>(fStartTime));
    }
    if (all || (flags & eUpdate_CanInterrupt) != 0)
    {
        ioBag.SetBool(Keys::CanInterrupt(), fCanInterrupt);
    }
    if (all || (flags & eUpdate_ExtraInfoVersion) != 0)
    {
        ioBag.SetLong(Keys::ExtraInfoBagVersion(), static_cast<int32_t>(fExtraInfoVersion));
    }
    if ((fExtraInfo != nullptr && all) || (flags & eUpdate_ExtraInfo) != 0)
    {
        VRefPtr<VValueBag> copy(fExtraInfo != nullptr ? new VValueBag(*fExtraInfo) : new VValueBag(), true);
        ioBag.ReplaceElement(Keys::ExtraInfo(), copy.Get());
    }
    outKind = VString("VProgressIndicatorInfo");
    return VE_OK;
}

uint32_t VProgressIndicatorInfo::GetUpdateFlags(const VValueBag& inBag)
{
    int32_t flags = 0;
    inBag.GetLong(Keys::UpdateFlags(), flags);
    return static_cast<uint32_t>(flags);
}

VError VProgressIndicatorInfo::LoadFromBag(const VValueBag& inBag)
{
    const uint32_t flags = GetUpdateFlags(inBag);
    const bool all = (flags & eUpdate_All) != 0;
    auto wanted = [&](uint32_t inFlag) { return all || (flags & inFlag) != 0; };

    // Everything is read first: a refused bag leaves the record as it was.
    VString message;
    int64_t value = 0;
    int64_t max = 0;
    int32_t startTime = 0;
    bool canInterrupt = true;
    int32_t extraInfoVersion = 0;
    if ((wanted(eUpdate_Message) && !inBag.GetString(Keys::Message(), message)) ||
        (wanted(eUpdate_Value) && !inBag.GetLong8(Keys::Value(), value)) ||
        (wanted(eUpdate_Max) && !inBag.GetLong8(Keys::Max(), max)) ||
        (wanted(eUpdate_StartTime) && !inBag.GetLong(Keys::StartTime(), startTime)) ||
        (wanted(eUpdate_CanInterrupt) && !inBag.GetBool(Keys::CanInterrupt(), canInterrupt)) ||
        (wanted(eUpdate_ExtraInfoVersion) && !inBag.GetLong(Keys::ExtraInfoBagVersion(), extraInfoVersion)))
    {
        return ThrowInvalidRecord("a session record lacks a field its update flags announce");
    }
    int32_t extraCount = 0;
    const VValueBag* extraInfo = UniqueExtraInfo(inBag, extraCount);
    if (((flags & eUpdate_ExtraInfo) != 0 && extraInfo == nullptr) || extraCount > 1)
    {
        return ThrowInvalidRecord("a session record holds no single \"ExtraInfo\" element");
    }

    if (wanted(eUpdate_Message))
    {
        fMessage = message;
    }
    if (wanted(eUpdate_Value))
    {
        fValue = value;
    }
    if (wanted(eUpdate_Max))
    {
        fMax = max;
    }
    if (wanted(eUpdate_StartTime))
    {
        fStartTime = static_cast<uint32_t>(startTime);
    }
    if (wanted(eUpdate_CanInterrupt))
    {
        fCanInterrupt = canInterrupt;
    }
    if (wanted(eUpdate_ExtraInfoVersion))
    {
        fExtraInfoVersion = static_cast<uint32_t>(extraInfoVersion);
    }
    if (all || (flags & eUpdate_ExtraInfo) != 0)
    {
        // An empty element stands for no attributes.
        _SetExtraInfoBag(extraInfo != nullptr && !extraInfo->IsEmpty() ? extraInfo : nullptr);
    }
    return VE_OK;
}

void VProgressIndicatorInfo::UpdateFromRemoteInfo(const VProgressIndicatorInfo& inInfo, uint32_t inFlags)
{
    if ((inFlags & eUpdate_All) != 0)
    {
        *this = inInfo;
        return;
    }
    if ((inFlags & eUpdate_Message) != 0)
    {
        fMessage = inInfo.fMessage;
    }
    if ((inFlags & eUpdate_Value) != 0)
    {
        fValue = inInfo.fValue;
    }
    if ((inFlags & eUpdate_Max) != 0)
    {
        fMax = inInfo.fMax;
    }
    if ((inFlags & eUpdate_CanInterrupt) != 0)
    {
        fCanInterrupt = inInfo.fCanInterrupt;
    }
    if ((inFlags & eUpdate_ExtraInfoVersion) != 0)
    {
        fExtraInfoVersion = inInfo.fExtraInfoVersion;
    }
    if ((inFlags & eUpdate_ExtraInfo) != 0)
    {
        _SetExtraInfoBag(inInfo.fExtraInfo);
    }
}

void VProgressIndicatorInfo::_SetExtraInfoBag(const VValueBag* inBag)
{
    VValueBag* copy = inBag != nullptr ? new VValueBag(*inBag) : nullptr;
    ReleaseRefCountable(&fExtraInfo);
    fExtraInfo = copy;
}

} // namespace zorn
