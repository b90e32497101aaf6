// VStorageLocker: the lock of a shared JSON graph. It is owned by a task (not a thread), taken
// again freely by its owner (each use given back once), and waited for through the waiting task's
// message queue, so that the messages posted to a waiting task still run. VJSONUser takes a
// container's locker for the current task for a scope; Assign decides what happens to lockers
// when a value is stored into a shared container.
//
// Choices and limits:
// - Lock order: StGraphLocker::sMutex first (it guards every container's locker pointer), then a
//   locker's own critical section. Neither is ever held while a task waits for a locker: Use
//   drops the critical section before it waits, and callers read a locker under sMutex, retain
//   it, leave sMutex and only then Use it (VJSONUser does exactly that).
// - Use, TryToUse and EndUse act for the calling task; on a thread without a task they fail
//   (Use and TryToUse return false, EndUse does nothing).
// - Use returns false, without an error, when the waiting task is dying or dead; the caller then
//   works without the locker.
// - Each waiting task is woken once per release (the waiters form a set); all race for the
//   locker and the losers wait again.
// - Ids come from a process-wide counter and start at 1.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <atomic>
#include <cstdint>
#include <set>
#include <variant>

namespace zorn
{

class VJSONArray;
class VJSONObject;
class VJSONValue;
class VTask;

class VStorageLocker : public VObject, public IRefCountable
{
public:
    // A locker for a shared object (unbound until that object is stored into another shared
    // graph), or for class-internal objects (inClassInternal: bound, accepts any shared value).
    explicit VStorageLocker(bool inClassInternal = false);
    ~VStorageLocker() override;
    VStorageLocker(const VStorageLocker&) = delete;
    VStorageLocker& operator=(const VStorageLocker&) = delete;

    // Takes the locker for the calling task, waiting while another task owns it; false only when
    // the calling task is dying or dead (or is no task).
    bool Use();
    // Takes the locker only when that is possible at once.
    bool TryToUse();
    // Gives one use back; nothing when the calling task is not the owner.
    void EndUse();

    using Container = std::variant<VJSONObject*, VJSONArray*>;
    // Called before inValue is stored into inTarget: whether the store may go on. It may make the
    // target adopt the value's locker or the value adopt the target's. A refusal raises 'ZqRT'
    // -10721, -10724, -10725 or -10753 and changes nothing.
    static bool Assign(Container inTarget, VStorageLocker* inTargetLocker, Container inValue,
                       VStorageLocker* inValueLocker);

    uint32_t GetID() const { return fID; }
    bool IsClassInternal() const { return fClassInternal; }
    bool IsUnbound() const;
    // Marks the locker bound: its graph has been stored into another shared graph. A bound locker
    // never becomes unbound again.
    void Bind();
    // The owning task's id (0 when free) and its use count, read under the critical section.
    int32_t GetOwnerID() const;
    int32_t GetUseCount() const;
    // Whether the calling task holds the locker (a container it guards may be changed).
    bool IsInUseByCurrentTask() const;
    VCriticalSection& GetCriticalSection() const { return fSection; }

    static std::atomic<uint32_t> sNextID;

private:
    // Under fSection: takes a use when the locker is free or already the task's.
    bool _TakeIfPossible(int32_t inTaskID);

    std::set<VTask*> fWaiters;
    mutable VCriticalSection fSection;
    int32_t fOwnerID = 0;
    int32_t fUseCount = 0;
    const uint32_t fID;
    const bool fClassInternal;
    bool fUnbound;
};

// Takes a container's locker for the current task for a scope (nothing to take: in use at once).
class VJSONUser : public VObject
{
public:
    explicit VJSONUser(VRefPtr<VStorageLocker>&& inLocker, bool inTryOnly = false);
    explicit VJSONUser(const VJSONObject* inObject, bool inTryOnly = false);
    explicit VJSONUser(const VJSONArray* inArray, bool inTryOnly = false);
    // Objects and arrays give their container's locker; other values none.
    explicit VJSONUser(const VJSONValue& inValue, bool inTryOnly = false);
    ~VJSONUser() override;
    VJSONUser(const VJSONUser&) = delete;
    VJSONUser& operator=(const VJSONUser&) = delete;

    // Whether the locker was taken, or there was none to take.
    bool IsInUse() const { return fInUse; }
    VStorageLocker* GetLocker() const { return fLocker.Get(); }

private:
    VRefPtr<VStorageLocker> fLocker;
    bool fInUse = true;
};

// The process-wide lock under which a container's locker pointer (and a shared graph) is read or
// changed. Never held while waiting for a locker.
class StGraphLocker
{
public:
    StGraphLocker() { sMutex.Lock(); }
    ~StGraphLocker() { sMutex.Unlock(); }
    StGraphLocker(const StGraphLocker&) = delete;
    StGraphLocker& operator=(const StGraphLocker&) = delete;

    static VCriticalSection sMutex;
};

// Takes StGraphLocker::sMutex for a scope when asked to (the lock of shared graphs; plain ones
// take none).
class StGraphLockerIf
{
public:
    explicit StGraphLockerIf(bool inNeeded) : fLocked(inNeeded)
    {
        if (fLocked)
        {
            StGraphLocker::sMutex.Lock();
        }
    }
    ~StGraphLockerIf()
    {
        if (fLocked)
        {
            StGraphLocker::sMutex.Unlock();
        }
    }
    StGraphLockerIf(const StGraphLockerIf&) = delete;
    StGraphLockerIf& operator=(const StGraphLockerIf&) = delete;

private:
    bool fLocked;
};

// Holds a locker's critical section for a scope (nothing for a null locker).
class VSharedObjectLocker
{
public:
    explicit VSharedObjectLocker(const VStorageLocker* inLocker) : fLocker(inLocker)
    {
        if (fLocker != nullptr)
        {
            fLocker->GetCriticalSection().Lock();
        }
    }
    ~VSharedObjectLocker()
    {
        if (fLocker != nullptr)
        {
            fLocker->GetCriticalSection().Unlock();
        }
    }
    VSharedObjectLocker(const VSharedObjectLocker&) = delete;
    VSharedObjectLocker& operator=(const VSharedObjectLocker&) = delete;

private:
    const VStorageLocker* fLocker;
};

} // namespace zorn
