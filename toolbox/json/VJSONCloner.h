// VJSONCloner: the context of one deep copy of JSON containers. It remembers each source object
// or array with its copy, so a container met twice is copied once and the copy keeps the
// source's sharing (and cycles) intact. It keeps a reference on every source it remembers, so a
// source freed during the copy can never be mistaken for a new one at the same address. A source
// with a single reference (its one holder being the container the cloner is copying) cannot be met
// again, through sharing or a cycle, and is copied without being remembered: most containers of
// a tree are. Each copy is made at once with room for all its members, carved from the cloner's
// slabs (VJSONSlab), so a clone makes no heap call per container.
//
// Modes: eShareShared shares, rather than copies, the objects that may be shared between tasks;
// eAssignLocker gives every copy the cloner's storage locker (made on first need).
//
// Nesting is bounded by StJSONNestingGuard: a source nested too deep gives 'zorn' 108, with the
// containers copied so far in place and the too-deep one undefined.
#pragma once

#include "toolbox/json/VJSONSlab.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <unordered_map>

namespace zorn
{

class VStorageLocker;

class VJSONCloner : public VObject
{
public:
    static constexpr uint32_t eShareShared = 1;
    static constexpr uint32_t eAssignLocker = 2;

    explicit VJSONCloner(uint32_t inMode = 0) : fMode(inMode) {}
    ~VJSONCloner() override;
    VJSONCloner(const VJSONCloner&) = delete;
    VJSONCloner& operator=(const VJSONCloner&) = delete;

    uint32_t GetMode() const { return fMode; }
    // The locker of the eAssignLocker copies (not retained for the caller), made on first need.
    VStorageLocker* GetStorageLockerAndAssignIfNecessary();
    // Replaces that locker (the new one retained, the old released).
    void SetStorageLocker(VStorageLocker* inLocker);

    // Replaces an object or array value by its copy; other values stay as they are (0).
    VError CloneValue(VJSONValue& ioValue);
    // The copy of the source (the same copy for a source met before); a null source gives
    // undefined. When memory runs out outValue becomes undefined and 'zorn' 100 is raised.
    VError CloneObject(const VJSONObject* inSource, VJSONValue& outValue);
    VError CloneArray(const VJSONArray* inSource, VJSONValue& outValue);
    // For the containers' Clone: outValue (which keeps its stamp) becomes the copy of inSource, a
    // member of the container being cloned. A copy of a scalar is a plain copy.
    VError CloneMember(const VJSONValue& inSource, VJSONValue& outValue);
    // Whether the last CloneMember gave a copy made before (its source is met a second time):
    // the container receiving it must link it into its graph.
    bool TookCopyAgain() const { return fTookCopyAgain; }
    // The first of inCount consecutive stamps for the copies of one container, from blocks the
    // cloner takes from the process-wide counter (VJSONValue::NextStamps).
    uint32_t TakeStamps(uint32_t inCount);
    // The slabs the copies are carved from (VJSONSlab).
    VJSONSlabCursor* GetSlabs() { return &fSlabs; }

private:
    struct Copy
    {
        VJSONValue fCopy;
        VRefPtr<const IRefCountable> fSource;
    };
    template <class T>
    VError _CloneContainer(const T* inSource, VJSONValue& outValue);

    static constexpr uint32_t kStampBlock = 256;

    uint32_t fMode;
    bool fTookCopyAgain = false;
    uint32_t fNextStamp = 0;
    uint32_t fStampsLeft = 0;
    std::unordered_map<const void*, Copy> fCopies;
    VStorageLocker* fLocker = nullptr; // retained; the storage locker of eAssignLocker
    VJSONSlabCursor fSlabs;
};

} // namespace zorn
