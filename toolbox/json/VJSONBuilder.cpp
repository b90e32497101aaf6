#include "toolbox/json/VJSONBuilder.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"

namespace zorn
{

VJSONKey VJSONBuilder::Key(std::u16string_view inUnits)
{
    if (inUnits.empty())
    {
        return VJSONKey();
    }
    VJSONKey& recent = fRecent[_RecentSlot(inUnits)];
    if (recent.HasUnits(inUnits))
    {
        return recent;
    }
    auto found = fKeys.find(inUnits);
    if (found == fKeys.end())
    {
        found = fKeys.insert(VJSONKey(inUnits)).first;
    }
    recent = *found;
    return recent;
}

uint32_t VJSONBuilder::_NextStamp()
{
    if (fStampsLeft == 0)
    {
        fNextStamp = VJSONValue::NextStamps(kStampBlock);
        fStampsLeft = kStampBlock;
    }
    --fStampsLeft;
    return fNextStamp++;
}

VJSONValue VJSONBuilder::_Make(JSONType inType)
{
    return VJSONValue(VJSONValue::Constant{}, inType, _NextStamp());
}

VJSONValue VJSONBuilder::Number(double inNumber)
{
    VJSONValue value = _Make(JSON_number);
    value.fPayload.fNumber = inNumber;
    return value;
}

VJSONValue VJSONBuilder::String(std::u16string_view inUnits)
{
    VJSONValue value = _Make(JSON_null);
    int32_t length = 0;
    int32_t capacity = 0;
    UniChar* buffer = nullptr;
    if (!inUnits.empty())
    {
        // A borrowed view of the units: RetainBuffer copies them once into a counted buffer.
        VString units(const_cast<UniChar*>(reinterpret_cast<const UniChar*>(inUnits.data())),
                      static_cast<int32_t>(inUnits.size()), SIZE_MAX);
        buffer = units.RetainBuffer(length, capacity);
        if (buffer == nullptr)
        {
            return value;
        }
    }
    value.fPayload.fText = {length, buffer, capacity, VJSONValue::_NextTag()};
    value.fType = JSON_string;
    return value;
}

VJSONValue VJSONBuilder::Object()
{
    VJSONValue value = _Make(JSON_null);
    value.fPayload.fObject = new VJSONObject();
    value.fType = JSON_object;
    return value;
}

VJSONValue VJSONBuilder::Array()
{
    VJSONValue value = _Make(JSON_null);
    value.fPayload.fArray = new VJSONArray();
    value.fType = JSON_array;
    return value;
}

} // namespace zorn
