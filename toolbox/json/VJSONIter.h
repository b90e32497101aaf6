// VJSONIter: walks the elements of a JSON array, or the property names of a JSON object, one value
// per NextValue call. Reference-counted (one reference, the creator's); it holds a reference on the
// container it walks.
//
// Choices and limits:
// - Arrays: the range is fixed when the iterator is made. A negative start counts from the end
//   (start + count, at least 0); with inToEnd the walk goes to the last element, otherwise a
//   negative end counts from the end (end + count) and an end past the count is the count. Each
//   step reads under the array's storage locker (VJSONUser) and also stops at the array's current
//   count, so elements removed during the walk are never read past the end; later elements then
//   move down, and the walk goes on from its position.
// - Objects: a native implementation may supply its own iterator (IJSONObject::IJSON_MakeIterator,
//   which alone receives the start, end and flag); otherwise the property names are listed in the
//   object's order when the iterator is made (VJSONPropertyConstOrderedIterator: implementation
//   names, own properties, class getters) and all are visited, as strings, even those removed
//   since.
#pragma once

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zorn
{

class VJSONArray;
class VJSONObject;

class VJSONIter : public VObject, public IRefCountable
{
public:
    VJSONIter(VJSONObject* inObject, int inStart, int inEnd, bool inFlag);
    VJSONIter(VJSONArray* inArray, int inStart, int inEnd, bool inToEnd);
    VJSONIter(const VJSONIter&) = delete;
    VJSONIter& operator=(const VJSONIter&) = delete;

    // The next element or name in outValue (undefined first, and after the last): false after the
    // last.
    bool NextValue(VJSONValue& outValue);

protected:
    ~VJSONIter() override;

private:
    VRefPtr<VJSONObject> fObject;
    VRefPtr<VJSONArray> fArray;
    std::vector<VString> fNames;
    size_t fNamePosition = 0;
    int32_t fStart = 0;
    int32_t fEnd = 0;
    std::unique_ptr<IJSONNativeIterator> fNativeIterator;
};

} // namespace zorn
