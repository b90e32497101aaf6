#include "toolbox/json/VJSONArray.h"

#include "toolbox/json/StJSONChangeLock.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONReleaseQueue.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <optional>
#include <stdexcept>

namespace zorn
{

std::atomic<uint32_t> VJSONArray::sTaskToMonitor{0};
std::atomic<uint32_t> VJSONArray::sTaskCounter{0};

namespace
{

bool IsMonitoredTask()
{
    uint32_t task = VJSONArray::sTaskToMonitor.load(std::memory_order_relaxed);
    return task != 0 && static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()) == task;
}

bool IsContainer(const VJSONValue& inValue)
{
    return inValue.IsObject() || inValue.IsArray();
}

// {"start": inFirst, "end": inLast}
VJSONValue MakeRange(size_t inFirst, size_t inLast)
{
    VJSONValue range(JSON_object);
    range.GetObject()->SetProperty(VString("start"), VJSONValue(static_cast<double>(inFirst)));
    range.GetObject()->SetProperty(VString("end"), VJSONValue(static_cast<double>(inLast)));
    return range;
}

// Merge sort of the indexes 0 .. n-1 by inBefore(a, b) ("element a comes before element b").
// Every loop is bounded by the indexes, whatever the comparator answers, and each merge takes
// every index of its two runs exactly once, so the result is a permutation for any comparator.
// Equal elements keep their order: an element of the right run goes first only when it must.
template <class Before>
std::vector<size_t> SortedOrder(size_t inCount, Before&& inBefore)
{
    std::vector<size_t> order(inCount);
    std::iota(order.begin(), order.end(), size_t{0});
    std::vector<size_t> merged(inCount);
    for (size_t width = 1; width < inCount; width *= 2)
    {
        for (size_t low = 0; low < inCount; low += 2 * width)
        {
            size_t middle = std::min(low + width, inCount);
            size_t high = std::min(middle + width, inCount);
            size_t left = low;
            size_t right = middle;
            size_t out = low;
            while (left < middle && right < high)
            {
                merged[out++] = inBefore(order[right], order[left]) ? order[right++] : order[left++];
            }
            while (left < middle)
            {
                merged[out++] = order[left++];
            }
            while (right < high)
            {
                merged[out++] = order[right++];
            }
        }
        order.swap(merged);
    }
    return order;
}

} // namespace

VJSONArray::VJSONArray() : VJSONArray(static_cast<VStorageLocker*>(nullptr)) {}

VJSONArray::VJSONArray(bool inLocked)
    : VJSONArray(inLocked ? VRefPtr<VStorageLocker>(new VStorageLocker(), true).Get() : nullptr)
{
}

VJSONArray::VJSONArray(VStorageLocker* inLocker) : fLocker(RetainRefCountable(inLocker))
{
    if (IsMonitoredTask())
    {
        sTaskCounter.fetch_add(1, std::memory_order_relaxed);
    }
}

VJSONArray* VJSONArray::NewWithRoom(size_t inCount, VJSONSlabCursor* ioSlabs)
{
    if (inCount > kMaxCount)
    {
        return nullptr;
    }
    size_t bytes = sizeof(VJSONArray) + inCount * sizeof(VJSONValue);
    void* memory =
        ioSlabs != nullptr ? ioSlabs->Allocate(bytes) : VJSONSlabCursor::AllocateOnHeap(bytes, std::nothrow);
    if (memory == nullptr)
    {
        return nullptr;
    }
    VJSONArray* array = new (memory) VJSONArray();
    array->fValues.SetInlineCapacity(static_cast<uint32_t>(inCount));
    return array;
}

VJSONArray::~VJSONArray()
{
    // The references of the elements are no longer counted in the graph, and the array leaves
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
    if (IsMonitoredTask())
    {
        sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
    }
    ReleaseRefCountable(&fStamp);
    VJSONReleaseQueue::StScope scope;
    for (VJSONValue& value : fValues)
    {
        VJSONReleaseQueue::Defer(value);
    }
}

uint32_t VJSONArray::Retain(const char* inDebugInfo) const
{
    return VJSONGraph::RetainMember(this, inDebugInfo);
}

uint32_t VJSONArray::Release(const char* inDebugInfo) const
{
    return VJSONGraph::ReleaseMember(this, inDebugInfo);
}

void VJSONArray::DisconnectAll(size_t inFrom)
{
    StGraphLockerIf lock(IsSharedGraph());
    if (VJSONGraph* graph = GetGraph())
    {
        for (size_t i = inFrom; i < fValues.size(); ++i)
        {
            VJSONGraph::Uncount(graph, fValues[i]);
        }
    }
}

void VJSONArray::ClearFromGraph()
{
    DisconnectAll(0);
    _EmptyForGraph();
}

void VJSONArray::_EmptyForGraph()
{
    std::vector<VJSONValue> old;
    fValues.swap(old);
    _CountTreeChange();
    // From the back, after the array no longer holds them.
    while (!old.empty())
    {
        old.pop_back();
    }
}

void VJSONArray::_Connect(size_t inIndex)
{
    VJSONGraph::Connect(nullptr, this, fValues[inIndex]);
}

// Reading

VJSONValue VJSONArray::GetAt(size_t inIndex) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    return inIndex < fValues.size() ? fValues[inIndex] : VJSONValue(JSON_undefined);
}

bool VJSONArray::GetAt(size_t inIndex, VJSONValue& outValue) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (inIndex >= fValues.size())
    {
        outValue.SetUndefined();
        return false;
    }
    outValue = fValues[inIndex];
    return true;
}

void VJSONArray::GetValues(std::vector<VJSONValue>& outValues) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    outValues = fValues.ToVector();
}

uint32_t VJSONArray::GetStampAt(size_t inIndex) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    return inIndex < fValues.size() ? fValues[inIndex].GetStamp() : 0;
}

void VJSONArray::TouchStampAt(size_t inIndex)
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (inIndex < fValues.size())
    {
        fValues[inIndex].TakeNewStamp();
    }
}

bool VJSONArray::Find(const VJSONValue& inValue, const VCompareOptions& inOptions, size_t inStart,
                      size_t* outIndex) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    for (size_t i = inStart; i < fValues.size(); ++i)
    {
        if (fValues[i].CompareTo(inValue, inOptions) == CR_EQUAL)
        {
            if (outIndex != nullptr)
            {
                *outIndex = i;
            }
            return true;
        }
    }
    return false;
}

// Writing. A locked array is changed only by the task that holds its storage locker ('ZqRT'
// -10720 otherwise), stored containers are brought under that locker (VStorageLocker::Assign), and
// stored containers are linked into the graph and removed ones unlinked (VJSONGraph).

void VJSONArray::_CountTreeChange()
{
    if (fStamp != nullptr)
    {
        fStamp->Increment();
    }
}

bool VJSONArray::_Reserve(size_t inCount)
{
    if (inCount <= fValues.capacity())
    {
        return true;
    }
    if (inCount <= kMaxCount)
    {
        try
        {
            // Doubling, as push_back would, unless more is asked for at once.
            fValues.reserve(std::max(inCount, std::min(2 * fValues.capacity(), kMaxCount)));
            return true;
        }
        catch (const std::bad_alloc&)
        {
        }
        catch (const std::length_error&)
        {
        }
    }
    _ThrowError(VE_MEMORY_FULL);
    return false;
}

template <class TValue>
bool VJSONArray::_Push(TValue&& inValue, bool inLink)
{
    // The value is taken before room is made: it may be one of this array's elements.
    VJSONValue value(std::forward<TValue>(inValue));
    // A reader's fresh array (the builder path, no graph, no locker) takes no lock and checks
    // nothing.
    std::optional<StJSONChangeLock> lock;
    if (inLink || GetGraph() != nullptr || HasStorageLocker())
    {
        lock.emplace(this, &value);
        if (!lock->MayChange(VE_JSON_ARRAY_NOT_IN_USE) || !lock->MayStore(this, value))
        {
            return false;
        }
    }
    if (!_Reserve(fValues.size() + 1))
    {
        return false;
    }
    VJSONValue::CheckAndUpdateJsonStamp(value, fStamp);
    fValues.push_back(std::move(value));
    if (inLink || GetGraph() != nullptr)
    {
        _Connect(fValues.size() - 1);
    }
    return true;
}

bool VJSONArray::Push(const VJSONValue& inValue)
{
    return _Push(inValue, true);
}

bool VJSONArray::Push(VJSONValue&& inValue)
{
    inValue.TakeNewStamp();
    return _Push(std::move(inValue), true);
}

bool VJSONArray::AppendOwn(VJSONValue&& inValue)
{
    return _Push(std::move(inValue), false);
}

bool VJSONArray::AssignValues(std::span<VJSONValue> inValues)
{
    // A reader's fresh array (no graph, no locker) takes no lock and has nothing to check or link.
    const bool plain = GetGraph() == nullptr && !HasStorageLocker();
    std::optional<StJSONChangeLock> lock;
    if (!plain)
    {
        lock.emplace(this, nullptr);
        if (!lock->MayChange(VE_JSON_ARRAY_NOT_IN_USE) ||
            !std::all_of(inValues.begin(), inValues.end(),
                         [&](const VJSONValue& inValue) { return lock->MayStore(this, inValue); }))
        {
            return false;
        }
    }
    if (plain && fValues.empty())
    {
        // A reader's fresh array: the values move in, into the room it was made with
        // (VJSONBuilder::Array) or into one exact allocation.
        try
        {
            fValues.reserve(inValues.size());
        }
        catch (const std::exception&)
        {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        if (fStamp != nullptr)
        {
            for (const VJSONValue& value : inValues)
            {
                VJSONValue::CheckAndUpdateJsonStamp(value, fStamp);
            }
        }
        for (VJSONValue& value : inValues)
        {
            fValues.emplace_back(std::move(value));
        }
        _CountTreeChange();
        return true;
    }
    std::vector<VJSONValue> values;
    if (inValues.size() > kMaxCount)
    {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    try
    {
        values.reserve(inValues.size());
    }
    catch (const std::bad_alloc&)
    {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    if (fStamp != nullptr)
    {
        for (const VJSONValue& value : inValues)
        {
            VJSONValue::CheckAndUpdateJsonStamp(value, fStamp);
        }
    }
    values.assign(std::make_move_iterator(inValues.begin()), std::make_move_iterator(inValues.end()));
    _CountTreeChange();
    // The previous elements are released after the array no longer holds them. A fresh array of a
    // reader is in no graph: its elements are linked when it is.
    if (plain)
    {
        fValues.swap(values);
        return true;
    }
    DisconnectAll(0);
    fValues.swap(values);
    for (size_t i = 0; i < fValues.size(); ++i)
    {
        _Connect(i);
    }
    return true;
}

bool VJSONArray::SetAt(size_t inIndex, const VJSONValue& inValue, bool inGrow)
{
    // The copy (with its new stamp) is taken first: inValue may be one of this array's elements,
    // which growing moves.
    VJSONValue value(inValue);
    StJSONChangeLock lock(this, &value);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE) || !lock.MayStore(this, value))
    {
        return false;
    }
    if (inGrow && inIndex >= fValues.size())
    {
        // An index at kMaxCount or beyond cannot be reached (and inIndex + 1 would wrap for the
        // largest one).
        if (inIndex >= kMaxCount || !Resize(inIndex + 1, JSON_null))
        {
            if (inIndex >= kMaxCount)
            {
                _ThrowError(VE_MEMORY_FULL);
            }
            return false;
        }
    }
    if (inIndex >= fValues.size())
    {
        _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
        return false;
    }
    VJSONValue::CheckAndUpdateJsonStamp(value, fStamp);
    // The old value is unlinked once the new one is linked, and released last (after the array no
    // longer holds it).
    VJSONGraph* graph = GetGraph();
    VJSONValue old(std::move(fValues[inIndex]));
    fValues[inIndex] = std::move(value);
    _Connect(inIndex);
    VJSONGraph::Disconnect(graph, old);
    return true;
}

bool VJSONArray::Resize(size_t inCount, JSONType inFill)
{
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return false;
    }
    if (inCount > fValues.size() && !_Reserve(inCount))
    {
        return false;
    }
    _CountTreeChange();
    if (inCount < fValues.size())
    {
        DisconnectAll(inCount);
        // The removed values are released after the vector no longer holds them.
        std::vector<VJSONValue> removed(std::make_move_iterator(fValues.begin() + inCount),
                                        std::make_move_iterator(fValues.end()));
        fValues.resize(inCount);
        return true;
    }
    while (fValues.size() < inCount)
    {
        // Each new element gets its own value, so object and array fills never share a container;
        // a new container joins this array's tree.
        VJSONValue& added = fValues.emplace_back(inFill);
        if (VJSONObject* object = added.GetObject())
        {
            object->SetJSONStamp(fStamp);
        }
        else if (VJSONArray* array = added.GetArray())
        {
            array->SetJSONStamp(fStamp);
        }
        else
        {
            continue;
        }
        // A new empty container closes no cycle: it is linked only into a graph that exists.
        if (GetGraph() != nullptr || lock.GetLocker() != nullptr)
        {
            _Connect(fValues.size() - 1);
        }
    }
    return true;
}

void VJSONArray::RemoveAt(size_t inIndex, size_t inCount)
{
    if (inIndex >= fValues.size())
    {
        return;
    }
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return;
    }
    size_t end = inCount > fValues.size() - inIndex ? fValues.size() : inIndex + inCount;
    VJSONValue* first = fValues.begin() + inIndex;
    VJSONValue* last = fValues.begin() + end;
    std::vector<VJSONValue> removed(std::make_move_iterator(first), std::make_move_iterator(last));
    fValues.erase(first, last);
    _CountTreeChange();
    VJSONGraph* graph = GetGraph();
    for (const VJSONValue& value : removed)
    {
        VJSONGraph::Disconnect(graph, value);
    }
}

void VJSONArray::Clear()
{
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return;
    }
    _CountTreeChange();
    DisconnectAll(0);
    std::vector<VJSONValue> removed;
    fValues.swap(removed);
}

bool VJSONArray::Concatenate(const VJSONArray& inOther)
{
    size_t count = inOther.fValues.size();
    if (count == 0)
    {
        return true;
    }
    StJSONChangeLock lock(this, nullptr, inOther.IsSharedGraph());
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return false;
    }
    for (const VJSONValue& value : inOther.fValues)
    {
        if (!lock.MayStore(this, value))
        {
            return false;
        }
    }
    if (count > kMaxCount - fValues.size() || !_Reserve(fValues.size() + count))
    {
        if (count > kMaxCount - fValues.size())
        {
            _ThrowError(VE_MEMORY_FULL);
        }
        return false;
    }
    _CountTreeChange();
    // By index up to the count taken first: inOther may be this array.
    for (size_t i = 0; i < count; ++i)
    {
        fValues.push_back(inOther.fValues[i]);
        _Connect(fValues.size() - 1);
    }
    return true;
}

void VJSONArray::SwapValues(std::vector<VJSONValue>& ioValues)
{
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return;
    }
    for (const VJSONValue& value : ioValues)
    {
        if (!lock.MayStore(this, value))
        {
            return;
        }
    }
    _CountTreeChange();
    DisconnectAll(0);
    fValues.swap(ioValues);
    for (size_t i = 0; i < fValues.size(); ++i)
    {
        if (IsContainer(fValues[i]))
        {
            VJSONValue::CheckAndUpdateJsonStamp(fValues[i], fStamp);
            _Connect(i);
        }
    }
}

VError VJSONArray::Sort(IJSONValueComparator* inComparator)
{
    if (inComparator == nullptr)
    {
        return _ThrowError(VE_INVALID_PARAMETER);
    }
    StJSONChangeLock lock(this, nullptr);
    if (!lock.MayChange(VE_JSON_ARRAY_NOT_IN_USE))
    {
        return VE_JSON_ARRAY_NOT_IN_USE;
    }
    _CountTreeChange();
    size_t count = fValues.size();
    if (count < 2)
    {
        return VE_OK;
    }
    // The comparator sees copies: it may read or even change this array without pulling values
    // from under the sort.
    const std::vector<VJSONValue> values(fValues.ToVector());
    std::vector<size_t> order;
    try
    {
        order = SortedOrder(count, [&](size_t inA, size_t inB)
                            { return inComparator->CompareValues(values[inA], values[inB]); });
    }
    catch (...)
    {
        return _ThrowError(VE_JSON_SORT_COMPARATOR_FAILED);
    }
    if (fValues.size() != count)
    {
        return _ThrowError(VE_JSON_SORT_COMPARATOR_FAILED);
    }
    // The stored values move into their places and keep their stamps.
    std::vector<VJSONValue> sorted;
    sorted.reserve(count);
    for (size_t index : order)
    {
        sorted.push_back(std::move(fValues[index]));
    }
    fValues.swap(sorted);
    return VE_OK;
}

// Text

VError VJSONArray::GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited) const
{
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    if (fValues.empty())
    {
        outString.Clear();
        return VE_OK;
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        outString.Clear();
        return guard.GetError();
    }
    std::unordered_set<const VJSONArray*> ownVisited;
    std::unordered_set<const VJSONArray*>& visited = ioVisited != nullptr ? *ioVisited : ownVisited;
    if (!visited.insert(this).second)
    {
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    std::vector<VString> texts(fValues.size());
    VError error = VE_OK;
    for (size_t i = 0; i < fValues.size() && error == VE_OK; ++i)
    {
        error = fValues[i].GetString(texts[i], &visited);
    }
    // Only a real cycle fails: the same array may appear twice side by side.
    visited.erase(this);
    if (error == VE_OK && !outString.Join(texts, u','))
    {
        error = VE_STRING_ALLOC_FAILED;
    }
    return error;
}

VError VJSONArray::JoinAsString(const VString& inSeparator, VString& outString, bool inKeepEmpty,
                                bool inNullAsText) const
{
    outString.Clear();
    VJSONUser user(this);
    std::vector<VString> texts;
    texts.reserve(fValues.size());
    for (const VJSONValue& value : fValues)
    {
        if (value.IsNull() || value.IsUndefined())
        {
            if (inNullAsText)
            {
                texts.push_back(VJSONValue::NullString());
            }
            continue;
        }
        VString text;
        if (VError error = value.GetString(text); error != VE_OK)
        {
            return error;
        }
        if (inKeepEmpty || (!text.IsNull() && !text.IsEmpty()))
        {
            texts.push_back(std::move(text));
        }
    }
    if (!outString.Join(texts, inSeparator))
    {
        outString.Clear();
        return VE_STRING_ALLOC_FAILED;
    }
    return VE_OK;
}

VJSONValue VJSONArray::GetSelectedRows(const VJSONValue& inSelection) const
{
    VJSONValue ranges(JSON_array);
    VJSONValue result(JSON_object);
    result.GetObject()->SetProperty(VString("ranges"), ranges);
    const VJSONArray* selection = inSelection.GetArray();
    if (selection == nullptr)
    {
        return result;
    }
    VJSONUser user(this);
    VJSONUser selectionUser(selection);
    VCompareOptions options;
    options.SetIntlManager(VIntlMgr::GetCurrent());
    options.SetEpsilon(1e-06);
    auto isSelected = [&](const VJSONValue& inValue)
    {
        // Objects compare by identity, so an object matches only the very same object.
        return std::any_of(selection->fValues.begin(), selection->fValues.end(),
                           [&](const VJSONValue& inSelected)
                           { return inSelected.CompareTo(inValue, options) == CR_EQUAL; });
    };
    VJSONArray* out = ranges.GetArray();
    size_t count = fValues.size();
    for (size_t i = 0; i < count;)
    {
        if (!isSelected(fValues[i]))
        {
            ++i;
            continue;
        }
        size_t last = i;
        while (last + 1 < count && isSelected(fValues[last + 1]))
        {
            ++last;
        }
        out->Push(MakeRange(i, last));
        i = last + 1;
    }
    return result;
}

// Comparing and copying

bool VJSONArray::DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions) const
{
    VJSONVisitedPairs path;
    return DeepEqualTo(inOther, inOptions, path);
}

bool VJSONArray::DeepEqualTo(const VJSONArray* inOther, const VCompareOptions& inOptions,
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
    // Both read locks, this array's first, for the whole comparison (the locks are recursive).
    StJSONChangeLock lock(this, StJSONChangeLock::ReadOnly());
    StJSONChangeLock otherLock(inOther, StJSONChangeLock::ReadOnly());
    if (fValues.size() != inOther->fValues.size())
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
    for (size_t i = 0; i < fValues.size() && equal; ++i)
    {
        equal = fValues[i].DeepEqualTo(inOther->fValues[i], inOptions, ioPath);
    }
    ioPath.erase(pair.first);
    return equal;
}

VError VJSONArray::Clone(VJSONValue& outClone, VJSONCloner& ioCloner) const
{
    if (ioCloner.GetMode() == VJSONCloner::eShareShared && GetStorageLocker())
    {
        outClone.SetArray(const_cast<VJSONArray*>(this));
        return VE_OK;
    }
    // By index up to the count taken first, as the cloner may meet this array again. The copies
    // take their stamps at once and go into the room the clone was made with.
    size_t count = fValues.size();
    VJSONArray* clone = NewWithRoom(count, ioCloner.GetSlabs());
    if (clone == nullptr)
    {
        outClone.SetUndefined();
        return _ThrowError(VE_MEMORY_FULL);
    }
    if (ioCloner.GetMode() == VJSONCloner::eAssignLocker)
    {
        clone->SetStorageLocker(ioCloner.GetStorageLockerAndAssignIfNecessary());
    }
    // The clone is in place before the elements are copied, so that an element leading back to
    // this array finds it.
    outClone.AdoptArray(clone);
    uint32_t stamp = ioCloner.TakeStamps(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count && i < fValues.size(); ++i)
    {
        const VJSONValue& source = fValues[i];
        if (!source.IsObject() && !source.IsArray())
        {
            clone->fValues.emplace_back(source, stamp + static_cast<uint32_t>(i));
            continue;
        }
        VJSONValue value(VJSONValue::sNull, stamp + static_cast<uint32_t>(i));
        VError error = ioCloner.CloneMember(source, value);
        if (error != VE_OK)
        {
            return error;
        }
        // A copy met before (held twice, or in a cycle) links the clone into a graph; from then
        // on its other elements are linked as they come.
        bool link = ioCloner.TookCopyAgain() || clone->GetGraph() != nullptr;
        clone->fValues.push_back(std::move(value));
        if (link)
        {
            clone->_Connect(clone->fValues.size() - 1);
        }
    }
    return VE_OK;
}

void VJSONArray::SetJSONStamp(VJSONStamp* inStamp)
{
    if (inStamp != fStamp)
    {
        RetainRefCountable(inStamp);
        ReleaseRefCountable(&fStamp);
        fStamp = inStamp;
    }
}

} // namespace zorn
