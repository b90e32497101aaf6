#include "toolbox/json/VJSONObject.h"

#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONReleaseQueue.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <algorithm>
#include <new>
#include <optional>

namespace zorn
{

std::atomic<uint32_t> VJSONObject::sTaskToMonitor{0};
std::atomic<uint32_t> VJSONObject::sTaskCounter{0};

namespace
{

bool IsLockerIDName(const VString& inName)
{
    return inName.GetLength() == 10 && inName.EqualToUSASCIICString("__LockerID");
}

bool IsMonitoredTask()
{
    uint32_t task = VJSONObject::sTaskToMonitor.load(std::memory_order_relaxed);
    return task != 0 && static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()) == task;
}

} // namespace

// Construction

VJSONObject::VJSONObject(IJSONObject* inImplementation)
    : VJSONObject(inImplementation, static_cast<VStorageLocker*>(nullptr), false)
{
}

VJSONObject::VJSONObject(IJSONObject* inImplementation, bool inShared)
    : VJSONObject(inImplementation,
                  inShared ? VRefPtr<VStorageLocker>(new VStorageLocker(), true).Get() : nullptr, false)
{
}

VJSONObject::VJSONObject(IJSONObject* inImplementation, VStorageLocker* inLocker, bool inUnmonitored)
    : VJSONObject(nullptr, inImplementation, inLocker, inUnmonitored)
{
}

VJSONObject::VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, bool inShared)
    : VJSONObject(inClassObject, inImplementation,
                  inShared ? VRefPtr<VStorageLocker>(new VStorageLocker(), true).Get() : nullptr, false)
{
}

VJSONObject::VJSONObject(VJSONObject* inClassObject, IJSONObject* inImplementation, VStorageLocker* inLocker,
                         bool inUnmonitored)
    : fImplementation(RetainRefCountable(inImplementation)), fLocker(RetainRefCountable(inLocker)),
      fUnmonitored(inUnmonitored)
{
    // The root "Object" class is cached by the store: a plain object pays one relaxed counter.
    fClass = inClassObject != nullptr ? VJSONClass::CastClassObject(inClassObject)
                                      : VJSONClassStore::GetProcessObjectClass();
    if (fClass != nullptr)
    {
        fClass->UseClassObject();
    }
    // The first object of a program that reached no other JSON code yet connects the kernel.
    static const bool sHooksInstalled = (VJSONValue::InstallKernelHooks(), true);
    (void)sHooksInstalled;
    if (!fUnmonitored && IsMonitoredTask())
    {
        sTaskCounter.fetch_add(1, std::memory_order_relaxed);
    }
    if (fImplementation != nullptr)
    {
        fImplementation->IJSON_DoConnectDependencies(this);
    }
}

VJSONObject* VJSONObject::NewWithRoom(size_t inCount, VJSONSlabCursor* ioSlabs)
{
    if (inCount > VJSONInlineVector<OwnProperty>::kMaxSize)
    {
        return nullptr;
    }
    size_t bytes = sizeof(VJSONObject) + inCount * sizeof(OwnProperty);
    void* memory =
        ioSlabs != nullptr ? ioSlabs->Allocate(bytes) : VJSONSlabCursor::AllocateOnHeap(bytes, std::nothrow);
    if (memory == nullptr)
    {
        return nullptr;
    }
    VJSONObject* object = new (memory) VJSONObject();
    object->fProperties.SetInlineCapacity(static_cast<uint32_t>(inCount));
    return object;
}

VJSONObject::~VJSONObject()
{
    if (fImplementation != nullptr)
    {
        fImplementation->IJSON_DoDisconnectDependencies(this);
    }
    if (fClass != nullptr)
    {
        fClass->UnuseClassObject();
    }
    // The references of the properties are no longer counted in the graph, and the object leaves
    // it; the values themselves are released below.
    if (GetGraph() != nullptr)
    {
        VJSONGraph::Leave(this);
    }
    // A shared container's locker goes with it; no other container can reach this one now.
    if (VStorageLocker* locker = fLocker.load(std::memory_order_relaxed))
    {
        locker->Release();
    }
    if (!fUnmonitored && IsMonitoredTask())
    {
        sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
    }
    ReleaseRefCountable(&fImplementation);
    ReleaseRefCountable(&fStamp);
    VJSONReleaseQueue::StScope scope;
    for (OwnProperty& property : fProperties)
    {
        VJSONReleaseQueue::Defer(property.fValue);
    }
}

uint32_t VJSONObject::Retain(const char* inDebugInfo) const
{
    return VJSONGraph::RetainMember(this, inDebugInfo);
}

uint32_t VJSONObject::Release(const char* inDebugInfo) const
{
    return VJSONGraph::ReleaseMember(this, inDebugInfo);
}

void VJSONObject::ConnectImplementationProperty(const VJSONValue& inValue)
{
    VJSONGraph::Connect(this, nullptr, inValue, false);
}

void VJSONObject::DisconnectImplementationProperty(const VJSONValue& inValue)
{
    VJSONGraph::Disconnect(GetGraph(), inValue);
}

void VJSONObject::DisconnectAll()
{
    StGraphLockerIf lock(IsSharedGraph());
    if (VJSONGraph* graph = GetGraph())
    {
        for (const OwnProperty& property : fProperties)
        {
            VJSONGraph::Uncount(graph, property.fValue);
        }
    }
}

void VJSONObject::ClearFromGraph()
{
    DisconnectAll();
    _EmptyForGraph();
}

void VJSONObject::_EmptyForGraph()
{
    std::vector<OwnProperty> old;
    fProperties.swap(old);
    std::vector<uint32_t>().swap(fIndex);
    ++fRemovals;
    _CountTreeChange();
    // old goes last: the values are released after the object no longer holds them.
}

// Storage

size_t VJSONObject::_Find(std::u16string_view inUnits, uint32_t inHash) const
{
    size_t count = fProperties.size();
    if (fIndex.empty())
    {
        for (size_t i = 0; i < count; ++i)
        {
            if (fProperties[i].fKey.Equals(inUnits, inHash))
            {
                return i;
            }
        }
        return count;
    }
    size_t mask = fIndex.size() - 1;
    for (size_t slot = inHash & mask;; slot = (slot + 1) & mask)
    {
        uint32_t position = fIndex[slot];
        if (position == kNoEntry)
        {
            return count;
        }
        if (fProperties[position].fKey.Equals(inUnits, inHash))
        {
            return position;
        }
    }
}

size_t VJSONObject::_Find(const VString& inName) const
{
    std::u16string_view units = VJSONKey::Units(inName);
    return _Find(units, VJSONKey::HashOf(units));
}

void VJSONObject::_Index(size_t inPosition)
{
    size_t count = fProperties.size();
    if (fIndex.empty() && count <= kLinearLimit)
    {
        return;
    }
    // At most half full, so that probes stay short and always end on a free slot.
    if (fIndex.size() < 2 * count)
    {
        _RebuildIndex(count);
        return;
    }
    size_t mask = fIndex.size() - 1;
    size_t slot = fProperties[inPosition].fKey.GetHash() & mask;
    while (fIndex[slot] != kNoEntry)
    {
        slot = (slot + 1) & mask;
    }
    fIndex[slot] = static_cast<uint32_t>(inPosition);
}

void VJSONObject::_RebuildIndex(size_t inRoomFor)
{
    size_t count = fProperties.size();
    if (inRoomFor <= kLinearLimit)
    {
        if (!fIndex.empty())
        {
            std::vector<uint32_t>().swap(fIndex);
        }
        return;
    }
    size_t size = 64;
    while (size < 2 * inRoomFor)
    {
        size *= 2;
    }
    fIndex.assign(size, kNoEntry);
    size_t mask = size - 1;
    for (size_t i = 0; i < count; ++i)
    {
        size_t slot = fProperties[i].fKey.GetHash() & mask;
        while (fIndex[slot] != kNoEntry)
        {
            slot = (slot + 1) & mask;
        }
        fIndex[slot] = static_cast<uint32_t>(i);
    }
}

void VJSONObject::_Append(VJSONKey&& inKey, VJSONValue&& inValue)
{
    fProperties.push_back(OwnProperty{std::move(inKey), std::move(inValue)});
    _Index(fProperties.size() - 1);
}

const VJSONValue* VJSONObject::FindOwnProperty(const VString& inName) const
{
    size_t position = _Find(inName);
    return position < fProperties.size() ? &fProperties[position].fValue : nullptr;
}

void VJSONObject::AppendOwn(VJSONKey&& inKey, VJSONValue&& inValue)
{
    if (GetGraph() != nullptr || HasStorageLocker())
    {
        // Not a fresh object of a reader: the store links the value and checks the locker.
        _SetOwnProperty(inKey.GetString(), std::move(inValue));
        return;
    }
    if (fStamp != nullptr)
    {
        VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
    }
    size_t position = _Find(inKey);
    if (position < fProperties.size())
    {
        fProperties[position].fValue = std::move(inValue);
        return;
    }
    _Append(std::move(inKey), std::move(inValue));
}

void VJSONObject::AssignOwn(std::span<OwnProperty> inProperties)
{
    // A reader's fresh object has nothing to clear and no tree to tell.
    if (!fProperties.empty() || fStamp != nullptr || GetGraph() != nullptr || HasStorageLocker())
    {
        ClearInternalProperties();
    }
    fProperties.reserve(inProperties.size());
    // The index is made once, with room for every member.
    _RebuildIndex(inProperties.size());
    for (OwnProperty& property : inProperties)
    {
        AppendOwn(std::move(property.fKey), std::move(property.fValue));
    }
}

// Properties

VJSONValue VJSONObject::GetProperty(const VString& inName, VDBLanguageContext* inContext) const
{
    if (fImplementation != nullptr)
    {
        VJSONValue result(JSON_undefined);
        if (fImplementation->IJSON_GetProperty(this, inName, result, inContext) != eJSONStatusNotHandled)
        {
            return result;
        }
    }
    // A shared object answers its locker's id under this name, which no property can take.
    if (IsLockerIDName(inName))
    {
        if (int32_t id = GetSharedID(); id != 0)
        {
            return VJSONValue(static_cast<double>(id));
        }
    }
    VJSONValue value = GetOwnProperty(inName);
    if (value.IsUndefined() && fClass != nullptr)
    {
        _GetClassProperty(inName, value, inContext);
    }
    return value;
}

VJSONValue VJSONObject::GetOwnProperty(const VString& inName) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    const VJSONValue* found = FindOwnProperty(inName);
    return found != nullptr ? *found : VJSONValue(JSON_undefined);
}

bool VJSONObject::HasProperty(const VString& inName, VDBLanguageContext* inContext) const
{
    if (fImplementation != nullptr)
    {
        VJSONValue scratch(JSON_undefined);
        EJSONStatus status = fImplementation->IJSON_GetProperty(this, inName, scratch, inContext);
        if (status == eJSONStatusDone && !scratch.IsUndefined())
        {
            return true;
        }
        if (status == eJSONStatusNotHandled && HasOwnProperty(inName))
        {
            return true;
        }
        // Status done with undefined, or failed: the question goes to the class's prototype.
    }
    else if (HasOwnProperty(inName))
    {
        return true;
    }
    // The class's functions and getters include its superclasses', which its prototype lacks.
    if (fClass != nullptr &&
        (fClass->FindFunction(inName) != nullptr || fClass->FindGetter(inName) != nullptr))
    {
        return true;
    }
    VJSONObject* prototype = _GetPrototype();
    return prototype != nullptr && prototype != this && prototype->HasProperty(inName);
}

bool VJSONObject::HasOwnProperty(const VString& inName) const
{
    if (HasStorageLocker() && IsLockerIDName(inName))
    {
        return true;
    }
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    return _Find(inName) < fProperties.size();
}

bool VJSONObject::SetProperty(const VString& inName, const VJSONValue& inValue, VDBLanguageContext* inContext)
{
    if (inValue.IsUndefined())
    {
        RemoveProperty(inName);
        return true;
    }
    if (fImplementation != nullptr)
    {
        EJSONStatus status = fImplementation->IJSON_SetProperty(this, inName, inValue, inContext);
        if (status != eJSONStatusNotHandled)
        {
            return status == eJSONStatusDone;
        }
    }
    if (bool done = false; _CallClassSetter(inName, inValue, done))
    {
        return done;
    }
    return _SetOwnProperty(inName, inValue);
}

bool VJSONObject::SetProperty(const VString& inName, VJSONValue&& inValue, VDBLanguageContext* inContext)
{
    if (inValue.IsUndefined() || fImplementation != nullptr || (fClass != nullptr && fClass->HasSetters()))
    {
        return SetProperty(inName, static_cast<const VJSONValue&>(inValue), inContext);
    }
    inValue.TakeNewStamp();
    return _SetOwnProperty(inName, std::move(inValue));
}

bool VJSONObject::SetOwnProperty(const VString& inName, const VJSONValue& inValue)
{
    if (inValue.IsUndefined())
    {
        RemoveOwnProperty(inName);
        return true;
    }
    return _SetOwnProperty(inName, inValue);
}

template <class TValue>
bool VJSONObject::_SetOwnProperty(const VString& inName, TValue&& inValue)
{
    std::u16string_view units = VJSONKey::Units(inName);
    uint32_t hash = VJSONKey::HashOf(units);
    StJSONChangeLock lock(this, &inValue);
    if (VStorageLocker* locker = lock.GetLocker())
    {
        if (IsLockerIDName(inName))
        {
            return false;
        }
        if (!lock.MayChange(VE_JSON_OBJECT_NOT_IN_USE) || !lock.MayStore(this, inValue))
        {
            return false;
        }
        if (locker->IsClassInternal() && !inValue.IsObject() && !inValue.IsArray() && !inValue.IsNull() &&
            !inValue.IsUndefined())
        {
            _ThrowError(VE_JSON_SCALAR_IN_CLASS_INTERNAL);
            return false;
        }
    }
    _StoreOwnProperty(units, hash, std::forward<TValue>(inValue));
    return true;
}

template <class TValue>
void VJSONObject::_StoreOwnProperty(std::u16string_view inUnits, uint32_t inHash, TValue&& inValue)
{
    VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
    size_t position = _Find(inUnits, inHash);
    VJSONGraph* graph = GetGraph();
    if (position >= fProperties.size())
    {
        _Append(VJSONKey(inUnits), VJSONValue(std::forward<TValue>(inValue)));
        VJSONGraph::Connect(this, nullptr, fProperties.back().fValue);
    }
    else if (graph == nullptr && !fProperties[position].fValue.IsObject() &&
             !fProperties[position].fValue.IsArray())
    {
        // Assignment releases the old value only once the new one is stored.
        fProperties[position].fValue = std::forward<TValue>(inValue);
        VJSONGraph::Connect(this, nullptr, fProperties[position].fValue);
    }
    else
    {
        // The value is taken first: it may be the very value it replaces. The old value is unlinked
        // once the new one is linked, and released last.
        VJSONValue value(std::forward<TValue>(inValue));
        VJSONValue old(std::move(fProperties[position].fValue));
        fProperties[position].fValue = std::move(value);
        VJSONGraph::Connect(this, nullptr, fProperties[position].fValue);
        VJSONGraph::Disconnect(graph, old);
    }
}

bool VJSONObject::SetProperties(const NamedValues& inValues, VDBLanguageContext* inContext)
{
    if (inValues.empty())
    {
        return true;
    }
    bool ok = true;
    if (fImplementation != nullptr && fImplementation->IJSON_BeginChangeProperties() == eJSONStatusFailed)
    {
        ok = false;
    }
    for (const auto& [name, value] : inValues)
    {
        if (!SetProperty(name, value, inContext))
        {
            ok = false;
            break;
        }
    }
    if (fImplementation != nullptr && fImplementation->IJSON_EndChangeProperties() == eJSONStatusFailed)
    {
        ok = false;
    }
    return ok;
}

void VJSONObject::RemoveProperty(const VString& inName)
{
    if (fImplementation != nullptr &&
        fImplementation->IJSON_RemoveProperty(this, inName) != eJSONStatusNotHandled)
    {
        return;
    }
    RemoveOwnProperty(inName);
}

void VJSONObject::RemoveOwnProperty(const VString& inName)
{
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_OBJECT_NOT_IN_USE))
    {
        return;
    }
    _CountTreeChange();
    size_t position = _Find(inName);
    if (position < fProperties.size())
    {
        _RemoveInternalProperty(position);
    }
}

void VJSONObject::_RemoveInternalProperty(size_t inPosition)
{
    // The value is released after the object no longer holds it, so that a container it frees
    // never sees this object half changed.
    OwnProperty removed(std::move(fProperties[inPosition]));
    fProperties.erase(fProperties.begin() + inPosition);
    ++fRemovals;
    _RebuildIndex(fProperties.size());
    VJSONGraph::Disconnect(GetGraph(), removed.fValue);
}

bool VJSONObject::ClearProperty(const VString& inName, VDBLanguageContext* inContext)
{
    VJSONValue value = GetProperty(inName, inContext);
    if (value.IsUndefined())
    {
        return true;
    }
    value.Clear();
    return SetProperty(inName, value, inContext);
}

void VJSONObject::Clear()
{
    if (fImplementation != nullptr)
    {
        fImplementation->IJSON_Clear(this);
    }
    ClearInternalProperties();
}

void VJSONObject::ClearInternalProperties()
{
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_OBJECT_NOT_IN_USE))
    {
        return;
    }
    if (VJSONGraph* graph = GetGraph())
    {
        for (const OwnProperty& property : fProperties)
        {
            VJSONGraph::Uncount(graph, property.fValue);
        }
    }
    std::vector<OwnProperty> old;
    fProperties.swap(old);
    std::vector<uint32_t>().swap(fIndex);
    if (!old.empty())
    {
        ++fRemovals;
    }
    _CountTreeChange();
    // old goes last, for the same reason as in _RemoveInternalProperty.
}

bool VJSONObject::IsEmpty() const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (!fProperties.empty())
    {
        return false;
    }
    if (fImplementation != nullptr && !fImplementation->IJSON_IsEmpty(this))
    {
        return false;
    }
    // An object whose class has getters is not empty.
    return fClass == nullptr || !fClass->HasGetters();
}

VJSONObject::NamedValues VJSONObject::GetInternalProperties() const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    NamedValues values;
    values.reserve(fProperties.size());
    for (const OwnProperty& property : fProperties)
    {
        values.emplace_back(property.fKey.GetString(), property.fValue);
    }
    return values;
}

VJSONValue VJSONObject::GetPropertyByIndex(size_t inIndex, EJSONStatus* outStatus) const
{
    VJSONValue result(JSON_undefined);
    EJSONStatus status = eJSONStatusNotHandled;
    if (fImplementation != nullptr)
    {
        status = fImplementation->IJSON_GetPropertyByIndex(this, inIndex, result);
    }
    if (outStatus != nullptr)
    {
        *outStatus = status;
    }
    return result;
}

size_t VJSONObject::GetCountPropertiesByIndex(EJSONStatus* outStatus) const
{
    size_t count = 0;
    EJSONStatus status = eJSONStatusNotHandled;
    if (fImplementation != nullptr)
    {
        status = fImplementation->IJSON_GetCountPropertiesByIndex(this, &count);
        if (status == eJSONStatusNotHandled)
        {
            count = 0;
        }
    }
    if (outStatus != nullptr)
    {
        *outStatus = status;
    }
    return count;
}

void VJSONObject::GetClassName(VString& outName) const
{
    outName.Clear();
    if (fImplementation != nullptr)
    {
        fImplementation->IJSON_GetClassName(this, outName);
    }
    // A class other than the root "Object" names the object; a plain shared object stays a
    // "Shared Object".
    if ((outName.IsNull() || outName.IsEmpty()) && fClass != nullptr && fClass->GetDepth() > 0)
    {
        outName = fClass->GetName();
    }
    if ((outName.IsNull() || outName.IsEmpty()) && GetStorageLocker())
    {
        outName = VString("Shared Object");
    }
    if (outName.IsNull() || outName.IsEmpty())
    {
        outName = VString("Object");
    }
}

void VJSONObject::GetString(VString& outString) const
{
    outString = VJSONValue::ObjectString();
}

// Stamps

void VJSONObject::_CountTreeChange()
{
    if (fStamp != nullptr)
    {
        fStamp->Increment();
    }
}

uint32_t VJSONObject::GetPropertyStamp(const VString& inName) const
{
    if (fImplementation != nullptr)
    {
        uint32_t stamp = 0;
        if (fImplementation->IJSON_GetPropertyStamp(inName, &stamp) != eJSONStatusNotHandled)
        {
            return stamp;
        }
    }
    if (fClass != nullptr && fClass->HasGetters() && fClass->FindGetter(inName) != nullptr)
    {
        // A computed property changes with anything in the tree: the tree's change counter.
        StJSONChangeLock lock(this, nullptr);
        if (fStamp == nullptr)
        {
            VRefPtr<VJSONStamp> created(new VJSONStamp, true);
            const_cast<VJSONObject*>(this)->SetJSONStamp(created.Get());
        }
        return fStamp->GetValue();
    }
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    const VJSONValue* found = FindOwnProperty(inName);
    return found == nullptr ? 0 : found->GetStamp();
}

void VJSONObject::TouchPropertyStamp(const VString& inName)
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (fImplementation != nullptr &&
        fImplementation->IJSON_TouchPropertyStamp(inName) != eJSONStatusNotHandled)
    {
        return;
    }
    _CountTreeChange();
    size_t position = _Find(inName);
    if (position < fProperties.size())
    {
        fProperties[position].fValue.TakeNewStamp();
    }
}

void VJSONObject::SetJSONStamp(VJSONStamp* inStamp)
{
    if (inStamp != fStamp)
    {
        RetainRefCountable(inStamp);
        ReleaseRefCountable(&fStamp);
        fStamp = inStamp;
    }
    if (fImplementation != nullptr)
    {
        fImplementation->IJSON_SetJSONStamp(inStamp);
    }
}

// Copying and comparing

void VJSONObject::MergeWith(const VJSONObject* inOther, bool inOnlyMissing)
{
    if (inOther == nullptr)
    {
        return;
    }
    NamedValues values;
    for (const OwnProperty& property : inOther->fProperties)
    {
        if (!inOnlyMissing || _Find(property.fKey) >= fProperties.size())
        {
            values.emplace_back(property.fKey.GetString(), property.fValue);
        }
    }
    for (const auto& [name, value] : values)
    {
        SetProperty(name, value);
    }
}

VError VJSONObject::Clone(VJSONValue& outClone, VJSONCloner& ioCloner) const
{
    if (ioCloner.GetMode() == VJSONCloner::eShareShared)
    {
        bool sharable = false;
        if (GetStorageLocker() ||
            (fImplementation != nullptr && fImplementation->IJSON_IsSharable(this, sharable)))
        {
            outClone.SetObject(const_cast<VJSONObject*>(this));
            return VE_OK;
        }
    }
    VRefPtr<VJSONObject> clone;
    if (fImplementation != nullptr)
    {
        VRefPtr<IJSONObject> implementation;
        bool shared = false;
        VError error = VE_OK;
        EJSONStatus status =
            fImplementation->IJSON_CloneImpl(this, ioCloner, implementation, &shared, &error);
        if (status == eJSONStatusDone)
        {
            // The clone keeps the class (a native class's functions); one asked to be shared gets a
            // storage locker of its own once lockers exist.
            clone.Adopt(new VJSONObject(GetClassObject(), implementation.Get(), nullptr, false));
        }
        else if (status == eJSONStatusNotHandled)
        {
            status = fImplementation->IJSON_Clone(this, ioCloner, outClone, &error);
            if (status != eJSONStatusNotHandled)
            {
                return error;
            }
        }
        else
        {
            // The implementation failed to copy itself: a copy without it would pass for a
            // success.
            outClone.SetUndefined();
            return error != VE_OK ? error : VE_UNKNOWN_ERROR;
        }
    }
    if (!clone)
    {
        // The copies of the properties go into the room the clone is made with.
        clone.Adopt(NewWithRoom(fProperties.size(), ioCloner.GetSlabs()));
        if (!clone)
        {
            outClone.SetUndefined();
            return _ThrowError(VE_MEMORY_FULL);
        }
    }
    clone->fConstructionLevel = fConstructionLevel;
    if (ioCloner.GetMode() == VJSONCloner::eAssignLocker)
    {
        clone->SetStorageLocker(ioCloner.GetStorageLockerAndAssignIfNecessary());
    }
    // The clone is in place before its properties are copied, so that a property leading back to
    // this object finds it.
    VJSONObject* target = clone.Get();
    outClone.AdoptObject(clone.Forget());
    // A clone with the cloner's locker is filled while this task holds that locker.
    std::optional<VJSONUser> user;
    if (target->HasStorageLocker())
    {
        user.emplace(target);
    }
    return CloneProperties(ioCloner, target);
}

VError VJSONObject::CloneProperties(VJSONCloner& ioCloner, VJSONObject* ioTarget) const
{
    if (ioTarget == nullptr)
    {
        return VE_OK;
    }
    // A target that is not this object and that nothing else watches (the new clone) takes the
    // copies directly: the names are this object's, so they are distinct, and the index is built
    // once at the end.
    bool direct = ioTarget != this && ioTarget->fStamp == nullptr && ioTarget->fImplementation == nullptr &&
                  ioTarget->GetGraph() == nullptr && !ioTarget->HasStorageLocker();
    if (!direct || !ioTarget->fProperties.empty())
    {
        ioTarget->ClearInternalProperties();
    }
    size_t count = fProperties.size();
    if (direct)
    {
        ioTarget->fProperties.reserve(count);
    }
    // The copies take their stamps at once.
    uint32_t stamp = ioCloner.TakeStamps(static_cast<uint32_t>(count));
    VError error = VE_OK;
    // By position up to the count taken first: a property's clone may lead back to this object.
    for (size_t i = 0; i < count && i < fProperties.size() && error == VE_OK; ++i)
    {
        const VJSONValue& source = fProperties[i].fValue;
        bool container = source.IsObject() || source.IsArray();
        VJSONValue value(container ? VJSONValue::sNull : source, stamp + static_cast<uint32_t>(i));
        if (container)
        {
            error = ioCloner.CloneMember(source, value);
        }
        if (error != VE_OK || value.IsUndefined())
        {
            continue;
        }
        if (direct)
        {
            // A copy met before (the source is held twice, or in a cycle) links the clone into a
            // graph; from then on the clone's other members are linked as they come.
            bool link = ioCloner.TookCopyAgain() || ioTarget->GetGraph() != nullptr;
            ioTarget->fProperties.emplace_back(fProperties[i].fKey, std::move(value));
            if (link)
            {
                VJSONGraph::Connect(ioTarget, nullptr, ioTarget->fProperties.back().fValue);
            }
        }
        else
        {
            ioTarget->SetOwnProperty(fProperties[i].fKey.GetString(), value);
        }
    }
    if (direct)
    {
        ioTarget->_RebuildIndex(ioTarget->fProperties.size());
    }
    return error;
}

bool VJSONObject::DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions) const
{
    VJSONVisitedPairs path;
    return DeepEqualTo(inOther, inOptions, path);
}

bool VJSONObject::DeepEqualTo(const VJSONObject* inOther, const VCompareOptions& inOptions,
                              VJSONVisitedPairs& ioPath) const
{
    if (inOther == this)
    {
        return true;
    }
    if (inOther == nullptr)
    {
        return false;
    }
    // Both read locks, this object's first, for the whole comparison (the locks are recursive).
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    StJSONChangeLock otherLock(inOther, StJSONChangeLock::ReadOnly());
    if (fImplementation != nullptr)
    {
        bool equal = false;
        if (fImplementation->IJSON_DeepEqualTo(this, inOther, &equal) != eJSONStatusNotHandled)
        {
            return equal;
        }
    }
    if (fProperties.size() != inOther->fProperties.size())
    {
        return false;
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return false;
    }
    // A pair met again on the current path is a cycle: the comparison in progress decides it.
    auto pair = ioPath.emplace(this, inOther);
    if (!pair.second)
    {
        return true;
    }
    bool equal = true;
    for (const OwnProperty& property : fProperties)
    {
        size_t other = inOther->_Find(property.fKey);
        if (other >= inOther->fProperties.size() ||
            !property.fValue.DeepEqualTo(inOther->fProperties[other].fValue, inOptions, ioPath))
        {
            equal = false;
            break;
        }
    }
    ioPath.erase(pair.first);
    return equal;
}

} // namespace zorn
