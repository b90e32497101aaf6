// The sharing members of VJSONObject and VJSONArray: their storage locker pointer, which is read
// and changed under StGraphLocker::sMutex only, spreading a locker over a tree, and the checks of
// StJSONChangeLock.
#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VStorageLocker.h"

#include <vector>

namespace zorn
{

namespace
{

VRefPtr<VStorageLocker> RetainLocker(const std::atomic<VStorageLocker*>& inSlot)
{
    // A plain container has no locker, and never gets one while another task reads it.
    if (inSlot.load(std::memory_order_relaxed) == nullptr)
    {
        return nullptr;
    }
    StGraphLocker lock;
    return VRefPtr<VStorageLocker>(inSlot.load(std::memory_order_relaxed));
}

void ReplaceLocker(std::atomic<VStorageLocker*>& ioSlot, VStorageLocker* inLocker)
{
    VStorageLocker* old = nullptr;
    {
        StGraphLocker lock;
        if (ioSlot.load(std::memory_order_relaxed) == inLocker)
        {
            return;
        }
        old = ioSlot.exchange(RetainRefCountable(inLocker), std::memory_order_relaxed);
    }
    // Released outside the graph lock: a locker's last release frees it, which needs no lock.
    ReleaseRefCountable(&old);
}

int32_t SharedIDOf(const std::atomic<VStorageLocker*>& inSlot)
{
    VRefPtr<VStorageLocker> locker = RetainLocker(inSlot);
    if (!locker)
    {
        return 0;
    }
    const auto id = static_cast<int32_t>(locker->GetID());
    return locker->IsClassInternal() || locker->IsUnbound() ? -id : id;
}

bool IsSharableNative(const VJSONObject* inObject)
{
    IJSONObject* implementation = inObject->GetImplementation();
    bool sharable = false;
    return implementation != nullptr && implementation->IJSON_IsSharable(inObject, sharable);
}

VStorageLocker::Container ContainerOf(const VJSONValue& inValue)
{
    if (VJSONObject* object = inValue.GetObject())
    {
        return object;
    }
    return inValue.GetArray();
}

// Whether every container of the tree can take inLocker (see MakeValueSharedIfNecessary).
bool CanMakeShared(const VJSONValue& inRoot, const VStorageLocker* inLocker)
{
    std::vector<VJSONValue> pending{inRoot};
    std::unordered_set<const void*> seen;
    while (!pending.empty())
    {
        VJSONValue value = std::move(pending.back());
        pending.pop_back();
        const void* key = value.GetObject() != nullptr ? static_cast<const void*>(value.GetObject())
                                                       : static_cast<const void*>(value.GetArray());
        if (key == nullptr || !seen.insert(key).second)
        {
            continue;
        }
        VRefPtr<VStorageLocker> locker = StorageLockerOf(value);
        if (locker)
        {
            if (locker.Get() != inLocker && !locker->IsUnbound())
            {
                return false;
            }
            continue;
        }
        if (const VJSONObject* object = value.GetObject())
        {
            if (object->GetImplementation() != nullptr)
            {
                if (!IsSharableNative(object))
                {
                    return false;
                }
                continue;
            }
            for (const VJSONObject::OwnProperty& property : object->GetOwnProperties())
            {
                pending.push_back(property.fValue);
            }
        }
        else
        {
            for (const VJSONValue& element : value.GetArray()->GetElements())
            {
                pending.push_back(element);
            }
        }
    }
    return true;
}

// Gives every plain container of the tree inLocker (and a container with an unbound locker too).
void SetLockerDeep(const VJSONValue& inRoot, VStorageLocker* inLocker)
{
    std::vector<VJSONValue> pending{inRoot};
    while (!pending.empty())
    {
        VJSONValue value = std::move(pending.back());
        pending.pop_back();
        VRefPtr<VStorageLocker> locker = StorageLockerOf(value);
        if (locker.Get() == inLocker)
        {
            continue;
        }
        if (VJSONObject* object = value.GetObject())
        {
            if (object->GetImplementation() != nullptr && !locker)
            {
                continue; // a sharable native object goes in as it is
            }
            object->SetStorageLocker(inLocker);
            for (const VJSONObject::OwnProperty& property : object->GetOwnProperties())
            {
                pending.push_back(property.fValue);
            }
        }
        else if (VJSONArray* array = value.GetArray())
        {
            array->SetStorageLocker(inLocker);
            for (const VJSONValue& element : array->GetElements())
            {
                pending.push_back(element);
            }
        }
    }
}

// MakeValueSharedIfNecessary of objects and arrays.
template <class TContainer>
void ShareValueTree(const TContainer* inContainer, const VJSONValue& inValue)
{
    if (!inContainer->HasStorageLocker() || !(inValue.IsObject() || inValue.IsArray()))
    {
        return;
    }
    StGraphLocker lock;
    VRefPtr<VStorageLocker> locker = inContainer->GetStorageLocker();
    if (!locker)
    {
        return;
    }
    if (CanMakeShared(inValue, locker.Get()))
    {
        SetLockerDeep(inValue, locker.Get());
    }
    locker->Bind();
}

template <class TContainer>
void MakeGraphSharedOf(const TContainer* inContainer)
{
    StGraphLocker lock;
    if (VJSONGraph* graph = inContainer->GetGraph())
    {
        graph->MakeShared();
    }
}

} // namespace

VRefPtr<VStorageLocker> StorageLockerOf(const VJSONValue& inValue)
{
    if (const VJSONObject* object = inValue.GetObject())
    {
        return object->GetStorageLocker();
    }
    if (const VJSONArray* array = inValue.GetArray())
    {
        return array->GetStorageLocker();
    }
    return nullptr;
}

bool IsSharedContainerValue(const VJSONValue& inValue)
{
    if (const VJSONObject* object = inValue.GetObject())
    {
        return object->IsSharedGraph() || IsSharableNative(object);
    }
    if (const VJSONArray* array = inValue.GetArray())
    {
        return array->IsSharedGraph();
    }
    return false;
}

bool StJSONChangeLock::_MayChange(VError inError) const
{
    if (fLocker->IsInUseByCurrentTask())
    {
        return true;
    }
    _ThrowError(inError);
    return false;
}

bool StJSONChangeLock::_MayStore(VStorageLocker::Container inTarget, const VJSONValue& inValue) const
{
    VRefPtr<VStorageLocker> valueLocker = StorageLockerOf(inValue);
    return VStorageLocker::Assign(inTarget, fLocker.Get(), ContainerOf(inValue), valueLocker.Get());
}

// Objects

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

bool VJSONObject::IsShared() const
{
    return HasStorageLocker() || IsSharableNative(this);
}

void VJSONObject::MakeGraphShared()
{
    MakeGraphSharedOf(this);
}

void VJSONObject::MakeValueSharedIfNecessary(VJSONValue& ioValue)
{
    ShareValueTree(this, ioValue);
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

void VJSONArray::MakeGraphShared()
{
    MakeGraphSharedOf(this);
}

void VJSONArray::MakeValueSharedIfNecessary(VJSONValue& ioValue)
{
    ShareValueTree(this, ioValue);
}

} // namespace zorn
