#include "toolbox/json/VStorageLocker.h"

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

namespace zorn
{

std::atomic<uint32_t> VStorageLocker::sNextID{1};
VCriticalSection StGraphLocker::sMutex;

// ------------------------------------------------------------------------------------------------
// Use and release

VStorageLocker::VStorageLocker(bool inClassInternal)
    : fID(sNextID.fetch_add(1, std::memory_order_relaxed)), fClassInternal(inClassInternal),
      fUnbound(!inClassInternal)
{
}

VStorageLocker::~VStorageLocker() = default;

bool VStorageLocker::_TakeIfPossible(int32_t inTaskID)
{
    if (fOwnerID != 0 && fOwnerID != inTaskID)
    {
        return false;
    }
    fOwnerID = inTaskID;
    ++fUseCount;
    return true;
}

bool VStorageLocker::Use()
{
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
    {
        return false;
    }
    const int32_t taskID = task->GetID();
    for (;;)
    {
        {
            StLocker<VCriticalSection> lock(&fSection);
            if (_TakeIfPossible(taskID))
            {
                return true;
            }
            fWaiters.insert(task);
        }
        // The critical section is not held here: the owner must be able to give the locker back.
        // A release between the unlock and the wait sets the event, which ends the wait at once.
        task->WaitAndExecuteMessages();
        {
            StLocker<VCriticalSection> lock(&fSection);
            fWaiters.erase(task);
        }
        if (VTask::IsDying(task))
        {
            return false;
        }
    }
}

bool VStorageLocker::TryToUse()
{
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !fSection.TryToLock())
    {
        return false;
    }
    const bool taken = _TakeIfPossible(task->GetID());
    fSection.Unlock();
    return taken;
}

void VStorageLocker::EndUse()
{
    VTask* task = VTask::GetCurrent();
    if (task == nullptr)
    {
        return;
    }
    StLocker<VCriticalSection> lock(&fSection);
    if (fOwnerID != task->GetID() || fUseCount <= 0)
    {
        return;
    }
    if (--fUseCount == 0)
    {
        fOwnerID = 0;
        for (VTask* waiter : fWaiters)
        {
            waiter->SetMessageQueueEvent();
        }
    }
}

bool VStorageLocker::IsUnbound() const
{
    StLocker<VCriticalSection> lock(&fSection);
    return fUnbound;
}

void VStorageLocker::Bind()
{
    StLocker<VCriticalSection> lock(&fSection);
    fUnbound = false;
}

int32_t VStorageLocker::GetOwnerID() const
{
    StLocker<VCriticalSection> lock(&fSection);
    return fOwnerID;
}

bool VStorageLocker::IsInUseByCurrentTask() const
{
    const int32_t task = VTaskMgr::GetCurrentTaskID();
    StLocker<VCriticalSection> lock(&fSection);
    return fUseCount > 0 && task != 0 && fOwnerID == task;
}

int32_t VStorageLocker::GetUseCount() const
{
    StLocker<VCriticalSection> lock(&fSection);
    return fUseCount;
}

// ------------------------------------------------------------------------------------------------
// Assigning values to shared containers

namespace
{

bool IsSharableNative(const VStorageLocker::Container& inValue)
{
    VJSONObject* const* object = std::get_if<VJSONObject*>(&inValue);
    if (object == nullptr || *object == nullptr || (*object)->GetImplementation() == nullptr)
    {
        return false;
    }
    bool sharable = false;
    return (*object)->GetImplementation()->IJSON_IsSharable(*object, sharable);
}

void SetLocker(const VStorageLocker::Container& inContainer, VStorageLocker* inLocker)
{
    std::visit([inLocker](auto* inTarget) { inTarget->SetStorageLocker(inLocker); }, inContainer);
}

} // namespace

bool VStorageLocker::Assign(Container inTarget, VStorageLocker* inTargetLocker, Container inValue,
                            VStorageLocker* inValueLocker)
{
    if (inTargetLocker == nullptr)
    {
        return true;
    }
    if (inValueLocker == nullptr)
    {
        if (IsSharableNative(inValue))
        {
            return true;
        }
        _ThrowError(VE_JSON_NOT_SHARED);
        return false;
    }
    if (inTargetLocker->fClassInternal || inValueLocker == inTargetLocker)
    {
        return true;
    }
    // Both critical sections are read one at a time: the flags of two lockers are never locked
    // together, so two stores in opposite directions cannot deadlock.
    const bool valueUnbound = inValueLocker->IsUnbound();
    if (!valueUnbound)
    {
        if (!inTargetLocker->IsUnbound())
        {
            _ThrowError(std::holds_alternative<VJSONObject*>(inValue) ? VE_JSON_OBJECT_IN_OTHER_GRAPH
                                                                      : VE_JSON_ARRAY_IN_OTHER_GRAPH);
            return false;
        }
        SetLocker(inTarget, inValueLocker);
        return true;
    }
    VTask* task = VTask::GetCurrent();
    {
        StLocker<VCriticalSection> lock(&inValueLocker->fSection);
        const int32_t owner = inValueLocker->fOwnerID;
        if (owner != 0 && (task == nullptr || owner != task->GetID()))
        {
            _ThrowError(VE_JSON_SHARED_VALUE_IN_USE);
            return false;
        }
        inValueLocker->fUnbound = false;
    }
    SetLocker(inValue, inTargetLocker);
    return true;
}

// ------------------------------------------------------------------------------------------------
// VJSONUser

VJSONUser::VJSONUser(VRefPtr<VStorageLocker>&& inLocker, bool inTryOnly) : fLocker(std::move(inLocker))
{
    if (fLocker)
    {
        fInUse = inTryOnly ? fLocker->TryToUse() : fLocker->Use();
    }
}

VJSONUser::VJSONUser(const VJSONObject* inObject, bool inTryOnly)
    : VJSONUser(inObject != nullptr ? inObject->GetStorageLocker() : nullptr, inTryOnly)
{
}

VJSONUser::VJSONUser(const VJSONArray* inArray, bool inTryOnly)
    : VJSONUser(inArray != nullptr ? inArray->GetStorageLocker() : nullptr, inTryOnly)
{
}

VJSONUser::VJSONUser(const VJSONValue& inValue, bool inTryOnly)
    : VJSONUser(StorageLockerOf(inValue), inTryOnly)
{
}

VJSONUser::~VJSONUser()
{
    if (fInUse && fLocker)
    {
        fLocker->EndUse();
    }
}

} // namespace zorn
