#include "toolbox/json/VJSONArray.h"

#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONStamp.h"

#include <string>

namespace zorn
{

VJSONArray::~VJSONArray()
{
    ReleaseRefCountable(&fStamp);
}

VJSONValue VJSONArray::GetAt(size_t inIndex) const
{
    return inIndex < fValues.size() ? fValues[inIndex] : VJSONValue(JSON_undefined);
}

bool VJSONArray::GetAt(size_t inIndex, VJSONValue& outValue) const
{
    if (inIndex >= fValues.size())
    {
        outValue.SetUndefined();
        return false;
    }
    outValue = fValues[inIndex];
    return true;
}

uint32_t VJSONArray::GetStampAt(size_t inIndex) const
{
    return inIndex < fValues.size() ? fValues[inIndex].GetStamp() : 0;
}

void VJSONArray::TouchStampAt(size_t inIndex)
{
    if (inIndex < fValues.size())
    {
        fValues[inIndex].TakeNewStamp();
    }
}

void VJSONArray::_CountTreeChange()
{
    if (fStamp != nullptr)
    {
        fStamp->Increment();
    }
}

bool VJSONArray::SetAt(size_t inIndex, const VJSONValue& inValue, bool inGrow)
{
    if (inGrow && inIndex >= fValues.size())
    {
        Resize(inIndex + 1, JSON_null);
    }
    if (inIndex >= fValues.size())
    {
        _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
        return false;
    }
    VJSONValue::CheckAndUpdateJsonStamp(inValue, fStamp);
    fValues[inIndex] = inValue;
    return true;
}

bool VJSONArray::Resize(size_t inCount, JSONType inFill)
{
    _CountTreeChange();
    if (inCount < fValues.size())
    {
        // The removed values are released after the vector no longer holds them.
        std::vector<VJSONValue> removed(
            std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(inCount)),
            std::make_move_iterator(fValues.end()));
        fValues.resize(inCount);
        return true;
    }
    fValues.reserve(inCount);
    while (fValues.size() < inCount)
    {
        // Each new element gets its own value, so object and array fills never share a container.
        fValues.emplace_back(inFill);
    }
    return true;
}

VError VJSONArray::GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited) const
{
    if (fValues.empty())
    {
        outString.Clear();
        return VE_OK;
    }
    std::unordered_set<const VJSONArray*> ownVisited;
    std::unordered_set<const VJSONArray*>& visited = ioVisited != nullptr ? *ioVisited : ownVisited;
    if (!visited.insert(this).second)
    {
        return _ThrowError(VE_JSON_CIRCULAR_ARRAY);
    }
    std::u16string joined;
    VError error = VE_OK;
    VString text;
    for (size_t i = 0; i < fValues.size() && error == VE_OK; ++i)
    {
        error = fValues[i].GetString(text, &visited);
        if (i > 0)
        {
            joined += u',';
        }
        joined.append(reinterpret_cast<const char16_t*>(text.GetCPointer()),
                      static_cast<size_t>(text.GetLength()));
    }
    // Only a real cycle fails: the same array may appear twice side by side.
    visited.erase(this);
    if (error == VE_OK)
    {
        outString.FromUniCString(reinterpret_cast<const UniChar*>(joined.data()),
                                 static_cast<int32_t>(joined.size()));
    }
    return error;
}

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
    if (inOther == nullptr || fValues.size() != inOther->fValues.size())
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
    // In the share-shared mode a locked array is shared here once storage lockers exist.
    VRefPtr<VJSONArray> clone(new VJSONArray(), true);
    // The clone is in place before the elements are copied, so that an element leading back to
    // this array finds it.
    outClone.SetArray(clone.Get());
    clone->fValues.reserve(fValues.size());
    for (const VJSONValue& element : fValues)
    {
        VJSONValue value(element);
        VError error = ioCloner.CloneValue(value);
        if (error != VE_OK)
        {
            return error;
        }
        clone->fValues.push_back(std::move(value));
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
