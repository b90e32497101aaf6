#include "toolbox/json/VJSONCloner.h"

#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VStorageLocker.h"

#include <new>

namespace zorn
{

VJSONCloner::~VJSONCloner()
{
    ReleaseRefCountable(&fLocker);
}

VStorageLocker* VJSONCloner::GetStorageLockerAndAssignIfNecessary()
{
    if (fLocker == nullptr)
    {
        fLocker = new VStorageLocker();
    }
    return fLocker;
}

void VJSONCloner::SetStorageLocker(VStorageLocker* inLocker)
{
    if (inLocker != fLocker)
    {
        RetainRefCountable(inLocker);
        ReleaseRefCountable(&fLocker);
        fLocker = inLocker;
    }
}

VError VJSONCloner::CloneValue(VJSONValue& ioValue)
{
    if (VJSONObject* object = ioValue.GetObject())
    {
        return CloneObject(object, ioValue);
    }
    if (VJSONArray* array = ioValue.GetArray())
    {
        return CloneArray(array, ioValue);
    }
    return VE_OK;
}

VError VJSONCloner::CloneObject(const VJSONObject* inSource, VJSONValue& outValue)
{
    return _CloneContainer(inSource, outValue);
}

VError VJSONCloner::CloneArray(const VJSONArray* inSource, VJSONValue& outValue)
{
    return _CloneContainer(inSource, outValue);
}

uint32_t VJSONCloner::TakeStamps(uint32_t inCount)
{
    if (inCount > fStampsLeft)
    {
        if (inCount >= kStampBlock)
        {
            return VJSONValue::NextStamps(inCount);
        }
        fNextStamp = VJSONValue::NextStamps(kStampBlock);
        fStampsLeft = kStampBlock;
    }
    uint32_t first = fNextStamp;
    fNextStamp += inCount;
    fStampsLeft -= inCount;
    return first;
}

VError VJSONCloner::CloneMember(const VJSONValue& inSource, VJSONValue& outValue)
{
    fTookCopyAgain = false;
    if (const VJSONObject* object = inSource.GetObject())
    {
        return CloneObject(object, outValue);
    }
    if (const VJSONArray* array = inSource.GetArray())
    {
        return CloneArray(array, outValue);
    }
    outValue = VJSONValue(inSource, outValue.GetStamp());
    return VE_OK;
}

template <class T>
VError VJSONCloner::_CloneContainer(const T* inSource, VJSONValue& outValue)
{
    if (inSource == nullptr)
    {
        outValue.SetUndefined();
        return VE_OK;
    }
    try
    {
        if (inSource->GetRefCount() == 1)
        {
            StJSONNestingGuard guard;
            if (guard.Failed())
            {
                outValue.SetUndefined();
                return guard.GetError();
            }
            VError error = inSource->Clone(outValue, *this);
            fTookCopyAgain = false; // the members' copies set it meanwhile
            return error;
        }
        auto found = fCopies.find(inSource);
        if (found != fCopies.end())
        {
            fTookCopyAgain = true;
            outValue = found->second.fCopy;
            return VE_OK;
        }
        StJSONNestingGuard guard;
        if (guard.Failed())
        {
            outValue.SetUndefined();
            return guard.GetError();
        }
        // The entry exists (undefined) while the source is copied, and the copy is put in it before
        // the source's members are, so that members leading back to the source meet the copy. The
        // map's nodes stay in place while it grows.
        Copy& entry = fCopies
                          .try_emplace(inSource, Copy{VJSONValue(JSON_undefined),
                                                      VRefPtr<const IRefCountable>(inSource)})
                          .first->second;
        VError error = inSource->Clone(entry.fCopy, *this);
        fTookCopyAgain = false;
        outValue = entry.fCopy;
        return error;
    }
    catch (const std::bad_alloc&)
    {
        outValue.SetUndefined();
        return _ThrowError(VE_MEMORY_FULL);
    }
}

} // namespace zorn
