#include "toolbox/json/VJSONIter.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/json/VStorageLocker.h"

#include <algorithm>
#include <limits>

namespace zorn
{

VJSONIter::VJSONIter(VJSONObject* inObject, int inStart, int inEnd, bool inFlag) : fObject(inObject)
{
    if (inObject == nullptr)
    {
        return;
    }
    if (IJSONObject* implementation = inObject->GetImplementation())
    {
        fNativeIterator.reset(
            implementation->IJSON_MakeIterator(inObject, static_cast<size_t>(std::max(inStart, 0)),
                                               static_cast<size_t>(std::max(inEnd, 0)), inFlag));
    }
    if (fNativeIterator == nullptr)
    {
        for (VJSONPropertyConstOrderedIterator i(inObject, 0); i.IsValid(); ++i)
        {
            fNames.push_back(i.GetName());
        }
    }
}

VJSONIter::VJSONIter(VJSONArray* inArray, int inStart, int inEnd, bool inToEnd) : fArray(inArray)
{
    if (inArray == nullptr)
    {
        return;
    }
    // Counts beyond int32 are walked up to the largest int32 position.
    const auto count = static_cast<int64_t>(
        std::min<size_t>(inArray->GetCount(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
    const int64_t start = inStart < 0 ? inStart + count : inStart;
    fStart = static_cast<int32_t>(std::max<int64_t>(start, 0));
    int64_t end = count;
    if (!inToEnd)
    {
        end = inEnd < 0 ? inEnd + count : std::min<int64_t>(inEnd, count);
    }
    fEnd = static_cast<int32_t>(end);
}

VJSONIter::~VJSONIter() = default;

bool VJSONIter::NextValue(VJSONValue& outValue)
{
    outValue.SetUndefined();
    if (fArray != nullptr)
    {
        VJSONUser user(fArray.Get());
        if (fStart < fEnd && static_cast<size_t>(fStart) < fArray->GetCount())
        {
            fArray->GetAt(static_cast<size_t>(fStart), outValue);
            ++fStart;
            return true;
        }
        return false;
    }
    if (fNativeIterator != nullptr)
    {
        return fNativeIterator->NextValue(outValue);
    }
    if (fNamePosition < fNames.size())
    {
        outValue.SetString(fNames[fNamePosition++]);
        return true;
    }
    return false;
}

} // namespace zorn
