// StJSONChangeLock: the locks of one change to a JSON object or array, or of one read of it. A plain
// container in a plain graph takes none. A shared one (a storage locker, or a graph with a shared member), or
// one receiving a shared value, takes StGraphLocker::sMutex and then its locker's critical section, in that
// order; neither is ever held while a task waits for a locker. A read takes them only for a container with a
// locker.
#pragma once

#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"

namespace zorn
{

// Whether the value is an object or array that is shared or in a shared graph.
bool IsSharedContainerValue(const VJSONValue& inValue);
// The storage locker of an object or array value (retained), null for other values.
VRefPtr<VStorageLocker> StorageLockerOf(const VJSONValue& inValue);

class StJSONChangeLock
{
public:
    // inContainer: a VJSONObject or VJSONArray; inValue: the value being stored, or null;
    // inSharedValues: the values being stored include shared ones.
    template <class TContainer>
    StJSONChangeLock(const TContainer* inContainer, const VJSONValue* inValue, bool inSharedValues = false)
        : fLocked(inSharedValues || inContainer->IsSharedGraph() ||
                  (inValue != nullptr && (inValue->IsObject() || inValue->IsArray()) &&
                   IsSharedContainerValue(*inValue)))
    {
        _Lock(inContainer);
    }
    // The lock of a read: taken only for a container with a locker.
    struct ReadOnly
    {
    };
    template <class TContainer>
    StJSONChangeLock(const TContainer* inContainer, ReadOnly) : fLocked(inContainer->HasStorageLocker())
    {
        _Lock(inContainer);
    }
    ~StJSONChangeLock()
    {
        if (fLocker)
        {
            fLocker->GetCriticalSection().Unlock();
        }
        if (fLocked)
        {
            StGraphLocker::sMutex.Unlock();
        }
    }
    StJSONChangeLock(const StJSONChangeLock&) = delete;
    StJSONChangeLock& operator=(const StJSONChangeLock&) = delete;

    // The container's locker (null for a plain container).
    VStorageLocker* GetLocker() const { return fLocker.Get(); }
    // Whether the calling task may change the container: it has no locker, or the task holds it.
    // Otherwise inError is raised.
    bool MayChange(VError inError) const { return !fLocker || _MayChange(inError); }
    // For a shared container: whether inValue may be stored (VStorageLocker::Assign for an object or
    // array; other values may). The error is raised when not.
    bool MayStore(VStorageLocker::Container inTarget, const VJSONValue& inValue) const
    {
        return !fLocker || !(inValue.IsObject() || inValue.IsArray()) || _MayStore(inTarget, inValue);
    }

private:
    bool _MayChange(VError inError) const;
    bool _MayStore(VStorageLocker::Container inTarget, const VJSONValue& inValue) const;
    template <class TContainer>
    void _Lock(const TContainer* inContainer)
    {
        if (fLocked)
        {
            StGraphLocker::sMutex.Lock();
            fLocker = inContainer->GetStorageLocker();
            if (fLocker)
            {
                fLocker->GetCriticalSection().Lock();
            }
        }
    }

    VRefPtr<VStorageLocker> fLocker;
    bool fLocked;
};

} // namespace zorn
