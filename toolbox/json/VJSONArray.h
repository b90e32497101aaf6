// VJSONArray: the reference-counted JSON array, an ordered vector of VJSONValues (copies, each with
// its own stamp) sharing the change stamp of its tree. Like objects, arrays are plain until storage
// lockers and the object graph exist, and belong to one task at a time.
//
// Present here: element access by index, growth, stamps, text, deep comparison and cloning, as
// values, objects, paths and the cloner need them. Searching, removal, concatenation, sorting,
// joining and row selection join this class with the rest of the array operations.
#pragma once

#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/IRefCountable.h"
#include "toolbox/kernel/VObject.h"

#include <unordered_set>
#include <vector>

namespace zorn
{

class VJSONCloner;
class VJSONGraph;
class VStorageLocker;
class VCompareOptions;

class VJSONArray : public VObject, public IRefCountable
{
public:
    // An empty array; one reference, the creator's.
    VJSONArray() = default;
    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    size_t GetCount() const { return fValues.size(); }
    // A copy of the element (new stamp); undefined past the end.
    VJSONValue GetAt(size_t inIndex) const;
    // Copy-assigns the element; past the end outValue becomes undefined and the result is false.
    bool GetAt(size_t inIndex, VJSONValue& outValue) const;
    // The stored element's stamp, 0 past the end; touching gives it the next stamp.
    uint32_t GetStampAt(size_t inIndex) const;
    void TouchStampAt(size_t inIndex);

    // Stores a copy at inIndex. With inGrow an index past the end first grows the array with
    // nulls; without it such an index fails with 'ZqRT' -10713.
    bool SetAt(size_t inIndex, const VJSONValue& inValue, bool inGrow);
    // Grows with new values of inFill (a new container for each element when inFill is object or
    // array) or shrinks; one change of the tree.
    bool Resize(size_t inCount, JSONType inFill);

    // The elements' texts joined with ","; 'zorn' 900 when the array contains itself, directly or
    // through other arrays (ioVisited: the arrays being written).
    VError GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited = nullptr) const;

    bool DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions) const;
    bool DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions,
                     VJSONVisitedPairs& ioPath) const;
    // A new array whose elements are the cloner's copies of these.
    VError Clone(VJSONValue& outClone, VJSONCloner& ioCloner) const;

    void SetJSONStamp(VJSONStamp* inStamp);
    VJSONStamp* GetJSONStamp() const { return fStamp; }

protected:
    ~VJSONArray() override;

private:
    void _CountTreeChange();

    std::vector<VJSONValue> fValues;
    // The object graph and the storage locker attach here when they exist.
    [[maybe_unused]] VJSONGraph* fGraph = nullptr;
    [[maybe_unused]] uint32_t fContainerCount = 0;
    [[maybe_unused]] VStorageLocker* fLocker = nullptr;
    VJSONStamp* fStamp = nullptr; // retained
};

} // namespace zorn
