// The sharing members of VJSONObject and VJSONArray: their storage locker pointer, which is read
// and changed under StGraphLocker::sMutex only.
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VStorageLocker.h"

namespace zorn
{

namespace
{

VRefPtr<VStorageLocker> RetainLocker(VStorageLocker* const& inSlot)
{
    StGraphLocker lock;
    return VRefPtr<VStorageLocker>(inSlot);
}

void ReplaceLocker(VStorageLocker*& ioSlot, VStorageLocker* inLocker)
{
    VStorageLocker* old = nullptr;
    {
        StGraphLocker lock;
        if (ioSlot == inLocker)
        {
            return;
        }
        old = ioSlot;
        ioSlot = RetainRefCountable(inLocker);
    }
    // Released outside the graph lock: a locker's last release frees it, which needs no lock.
    ReleaseRefCountable(&old);
}

int32_t SharedIDOf(VStorageLocker* const& inSlot)
{
    VRefPtr<VStorageLocker> locker = RetainLocker(inSlot);
    if (!locker)
    {
        return 0;
    }
    const auto id = static_cast<int32_t>(locker->GetID());
    return locker->IsClassInternal() || locker->IsUnbound() ? -id : id;
}

} // namespace

VRefPtr<VStorageLocker> VJSONObject::GetStorageLocker() const
{
    return RetainLocker(fLocker);
}

void VJSONObject::SetStorageLocker(VStorageLocker* inLocker)
{
    ReplaceLocker(fLocker, inLocker);
}

int32_t VJSONObject::GetSharedID() const
{
    return SharedIDOf(fLocker);
}

VRefPtr<VStorageLocker> VJSONArray::GetStorageLocker() const
{
    return RetainLocker(fLocker);
}

void VJSONArray::SetStorageLocker(VStorageLocker* inLocker)
{
    ReplaceLocker(fLocker, inLocker);
}

int32_t VJSONArray::GetSharedID() const
{
    return SharedIDOf(fLocker);
}

} // namespace zorn
