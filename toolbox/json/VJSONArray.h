// VJSONArray: the reference-counted JSON array, an ordered vector of VJSONValues (copies, each with
// its own stamp) sharing the change stamp of its tree. Like objects, plain arrays belong to one task
// at a time and take no lock. A locked array (one with a storage locker) is changed only by the
// task holding the locker: every change refuses with 'ZqRT' -10720 otherwise, leaving the array as
// it was, and a container stored into it is first brought under its locker (VStorageLocker::Assign).
// Stored containers are linked into the object graph (VJSONGraph), removed ones unlinked; the
// builder path (AppendOwn, AssignValues) links only in an array that is already in a graph.
//
// Every operation that changes the elements counts a change of its tree's stamp; one that refuses
// or has nothing to do (an index past the end, nothing to remove or append) counts none, and
// touching an element's stamp changes that stamp alone. Values leaving the array are released only
// after the array no longer holds them, so a container they free never sees it half changed.
//
// An array holds at most kMaxCount elements (2^32 - 1, the longest array of the scripts that
// share these values). Growing past that, or by more than memory allows, fails with 'zorn' 100
// (VE_MEMORY_FULL) and leaves the array as it was; no exception leaves an operation.
//
// Storage: the elements live in a VJSONInlineVector; an array made for a known count
// (NewWithRoom: readers, clones) holds them in its own block, carved from the document's slabs
// when a builder or cloner makes it (VJSONSlab), and moves them to the heap only when it grows past
// that room.
//
// The builder path (VJSONBuilder, the readers) stores by move: AppendOwn keeps the value's stamp,
// AssignValues fills the array from a span with one exact-size allocation. GetElements reads the
// elements by reference. Dropping an array never recurses into the containers it held last (see
// VJSONReleaseQueue); its text and deep comparison are bounded by StJSONNestingGuard.
//
// Sorting orders an index permutation by the caller's comparator with a merge sort whose loops are
// bounded by the indexes alone: a comparator that is not a strict weak ordering gives some order of
// the same elements, never a read outside the array. The sort is stable. A comparator that throws
// leaves the order as it was ('zorn' 917).
#pragma once

#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONInlineVector.h"
#include "toolbox/json/VJSONSlab.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

namespace zorn
{

class VJSONCloner;
class VJSONGraph;
class VStorageLocker;
class VCompareOptions;

// The caller's order for VJSONArray::Sort.
class IJSONValueComparator
{
public:
    virtual ~IJSONValueComparator() = default;
    // Whether inA must come before inB. May throw to abandon the sort.
    virtual bool CompareValues(const VJSONValue& inA, const VJSONValue& inB) = 0;
};

class VJSONArray : public VObject, public IRefCountable
{
public:
    // The most elements an array holds.
    static constexpr size_t kMaxCount = UINT32_MAX;

    // An empty array; one reference, the creator's.
    VJSONArray();
    // A locked array: with the locker (retained; null for a plain array), or with a new locker of
    // its own (inLocked, unbound) that it alone holds.
    explicit VJSONArray(VStorageLocker* inLocker);
    explicit VJSONArray(bool inLocked);
    // A new empty plain array with room for inCount elements in its own block (one allocation for
    // the array and those elements), carved from the slabs of ioSlabs when given (see VJSONSlab);
    // null when memory runs out or inCount is past kMaxCount.
    static VJSONArray* NewWithRoom(size_t inCount, VJSONSlabCursor* ioSlabs = nullptr);
    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    // Debugging aid: while a task id is set, arrays built and destroyed on that task are counted.
    static std::atomic<uint32_t> sTaskToMonitor;
    static std::atomic<uint32_t> sTaskCounter;

    // Reading.
    size_t GetCount() const { return fValues.size(); }
    // A copy of the element (new stamp); undefined past the end.
    VJSONValue GetAt(size_t inIndex) const;
    // Copy-assigns the element; past the end outValue becomes undefined and the result is false.
    bool GetAt(size_t inIndex, VJSONValue& outValue) const;
    // Copies of all elements.
    void GetValues(std::vector<VJSONValue>& outValues) const;
    // The elements by reference: valid until the array next changes.
    std::span<const VJSONValue> GetElements() const { return fValues; }
    // The stored element's stamp, 0 past the end; touching gives it the next stamp.
    uint32_t GetStampAt(size_t inIndex) const;
    void TouchStampAt(size_t inIndex);
    // The first element from inStart on that compares equal to inValue (VJSONValue::CompareTo);
    // its index goes to outIndex when given. False when there is none.
    bool Find(const VJSONValue& inValue, const VCompareOptions& inOptions, size_t inStart = 0,
              size_t* outIndex = nullptr) const;

    // Writing.
    // Appends a copy; false with 'zorn' 100 when the array cannot grow.
    bool Push(const VJSONValue& inValue);
    // Appends the value by move; the stored value takes a new stamp, as a stored copy does.
    bool Push(VJSONValue&& inValue);
    // The builder path: appends the value by move, keeping its stamp.
    bool AppendOwn(VJSONValue&& inValue);
    // The builder path: replaces the elements by the span's, moved out of it (keeping their
    // stamps), with one allocation. False with 'zorn' 100, the array unchanged, when it cannot.
    bool AssignValues(std::span<VJSONValue> inValues);
    // Stores a copy at inIndex. With inGrow an index past the end first grows the array with
    // nulls; without it such an index fails with 'ZqRT' -10713. An index the array cannot grow to
    // fails with 'zorn' 100.
    bool SetAt(size_t inIndex, const VJSONValue& inValue, bool inGrow);
    // Grows with new values of inFill (a new container for each element when inFill is object or
    // array, in this array's tree) or shrinks. A count the array cannot grow to gives false with
    // 'zorn' 100 and changes nothing.
    bool Resize(size_t inCount, JSONType inFill);
    // Removes up to inCount elements from inIndex on; nothing (and no change counted) when inIndex
    // is past the end.
    void RemoveAt(size_t inIndex, size_t inCount = 1);
    void Clear();
    // Appends copies of inOther's elements (containers are shared, not copied); inOther may be this
    // array. The appended containers keep their own tree's stamp.
    bool Concatenate(const VJSONArray& inOther);
    // Exchanges the elements with ioValues: the array takes the caller's values (and gives them its
    // tree's stamp), the caller gets the array's previous ones.
    void SwapValues(std::vector<VJSONValue>& ioValues);
    // Reorders the elements by the comparator (see the header comment). 'zorn' 917 when the
    // comparator throws or changes the array's count; the order is then kept. A change of the tree
    // is counted either way.
    VError Sort(IJSONValueComparator* inComparator);

    // Text.
    // The elements' texts joined with ","; 'zorn' 900 when the array contains itself, directly or
    // through other arrays (ioVisited: the arrays being written), 'zorn' 107 when the text would be
    // too long.
    VError GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited = nullptr) const;
    // The elements' texts with inSeparator between them. Null and undefined are written as "null"
    // with inNullAsText and skipped otherwise; other elements whose text is empty are skipped unless
    // inKeepEmpty. The first element whose text fails ends the join with its error and an empty
    // outString.
    VError JoinAsString(const VString& inSeparator, VString& outString, bool inKeepEmpty,
                        bool inNullAsText) const;
    // The runs of consecutive elements found in inSelection (an array; an object element matches
    // only the very same object, other elements compare with epsilon 1e-6 in the current task's
    // international settings): {"ranges": [{"start": first, "end": last}, ...]}, end inclusive,
    // in index order. A selection that is not an array gives no range.
    VJSONValue GetSelectedRows(const VJSONValue& inSelection) const;

    // Comparing and copying.
    bool DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions) const;
    bool DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions,
                     VJSONVisitedPairs& ioPath) const;
    // A new array whose elements are the cloner's copies of these.
    VError Clone(VJSONValue& outClone, VJSONCloner& ioCloner) const;

    // The tree's change stamp (retained; null for none).
    void SetJSONStamp(VJSONStamp* inStamp);
    VJSONStamp* GetJSONStamp() const { return fStamp; }

    // Sharing between tasks. The storage locker with a reference for the caller, null for a plain
    // container (read under StGraphLocker::sMutex).
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    // Replaces the locker under StGraphLocker::sMutex (the new one retained, the old released).
    void SetStorageLocker(VStorageLocker* inLocker);
    // 0 without a locker; else the locker's id, negated for a class-internal or unbound locker.
    int32_t GetSharedID() const;
    bool HasStorageLocker() const { return fLocker.load(std::memory_order_relaxed) != nullptr; }
    // A locker, or a graph with a shared member.
    bool IsSharedGraph() const
    {
        VJSONGraph* graph = GetGraph();
        return HasStorageLocker() || (graph != nullptr && graph->IsShared());
    }
    void MakeGraphShared();
    // As VJSONObject::MakeValueSharedIfNecessary.
    void MakeValueSharedIfNecessary(VJSONValue& ioValue);

    // Reference counting with the object graph, as for VJSONObject.
    uint32_t Retain(const char* inDebugInfo = nullptr) const override;
    uint32_t Release(const char* inDebugInfo = nullptr) const override;
    // The object graph (see VJSONGraph): null until the array is linked with another container.
    VJSONGraph* GetGraph() const { return fGraph.load(std::memory_order_acquire); }
    // The references of the elements from inFrom on are no longer counted in the graph.
    void DisconnectAll(size_t inFrom = 0);
    // Takes the elements out of the graph's counts and removes them all.
    void ClearFromGraph();

    // Every array is a container block (VJSONSlab): on the heap, or in a slab for NewWithRoom.
    static void* operator new(size_t inSize) { return VJSONSlabCursor::AllocateOnHeap(inSize); }
    static void operator delete(void* inMemory) noexcept { VJSONSlabCursor::Free(inMemory); }

protected:
    ~VJSONArray() override;

private:
    friend class VJSONGraph;

    static void* operator new(size_t, void* inPlace) noexcept { return inPlace; }
    static void operator delete(void*, void*) noexcept {}

    // Empties the elements of a member being collected (no counting: the graph does that).
    void _EmptyForGraph();
    // Links the element at inIndex into the graph when it is an object or array.
    void _Connect(size_t inIndex);
    void _CountTreeChange();
    // Whether the array can hold inCount elements: reserves room for them, else raises 'zorn' 100.
    bool _Reserve(size_t inCount);
    // inLink: link a container value into the graph (the builder path links only in an array
    // that is already in a graph).
    template <class TValue>
    bool _Push(TValue&& inValue, bool inLink);

    uint32_t fContainerCount = 0;             // references counted in the graph (VJSONGraph)
    std::atomic<VJSONGraph*> fGraph{nullptr}; // retained; see VJSONGraph
    // Retained; changed under StGraphLocker::sMutex (atomic so that the plain-array test of the
    // unlocked paths is a plain load).
    std::atomic<VStorageLocker*> fLocker{nullptr};
    VJSONStamp* fStamp = nullptr; // retained
    // Last: the room of NewWithRoom follows it.
    VJSONInlineVector<VJSONValue> fValues;
};

} // namespace zorn
