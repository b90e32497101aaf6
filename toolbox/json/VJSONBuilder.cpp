#include "toolbox/json/VJSONBuilder.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"

#include <cstring>

namespace zorn
{

size_t VJSONBuilder::_RecentSlot(std::u16string_view inUnits)
{
    const size_t length = inUnits.size();
    uint64_t head = 0;
    uint64_t tail = 0;
    if (length >= 4)
    {
        std::memcpy(&head, inUnits.data(), sizeof(head));
        std::memcpy(&tail, inUnits.data() + length - 4, sizeof(tail));
    }
    else
    {
        std::memcpy(&head, inUnits.data(), length * sizeof(char16_t));
    }
    uint64_t mix = (head * 0x9E3779B97F4A7C15ULL) ^ (tail * 0xC2B2AE3D27D4EB4FULL) ^ length;
    return static_cast<size_t>((mix ^ (mix >> 29)) * 0x94D049BB133111EBULL >> (64 - kRecentBits));
}

VJSONBuilder::~VJSONBuilder()
{
    for (const Entry& entry : fKeys)
    {
        entry.fKey._RemoveReferences(kLendReserve - entry.fLent);
    }
}

VJSONKey VJSONBuilder::_Lend(const Entry& inEntry)
{
    if (inEntry.fLent == kLendReserve)
    {
        return inEntry.fKey; // the reserve is spent: an ordinary copy
    }
    ++inEntry.fLent;
    return VJSONKey(VJSONKey::Lent{}, inEntry.fKey);
}

VJSONKey VJSONBuilder::Key(std::u16string_view inUnits)
{
    if (inUnits.empty())
    {
        return VJSONKey();
    }
    if (fRecent == nullptr)
    {
        fRecent = std::make_unique<const Entry*[]>(size_t{1} << kRecentBits);
    }
    const Entry*& recent = fRecent[_RecentSlot(inUnits)];
    if (recent != nullptr && recent->fKey.HasUnits(inUnits))
    {
        return _Lend(*recent);
    }
    auto found = fKeys.find(inUnits);
    if (found == fKeys.end())
    {
        found = fKeys.insert(Entry{VJSONKey(inUnits)}).first;
        found->fKey._AddReferences(kLendReserve);
    }
    // Set elements stay in place when the set grows.
    recent = &*found;
    return _Lend(*found);
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
    value.fPayload.fText = {buffer, length, capacity};
    value.fType = JSON_string;
    return value;
}

VJSONValue VJSONBuilder::Object(size_t inRoom)
{
    VJSONValue value = _Make(JSON_null);
    VJSONObject* object = VJSONObject::NewWithRoom(inRoom, &fSlabs);
    if (object != nullptr)
    {
        value.fPayload.fObject = object;
        value.fType = JSON_object;
    }
    return value;
}

VJSONValue VJSONBuilder::Array(size_t inRoom)
{
    VJSONValue value = _Make(JSON_null);
    VJSONArray* array = VJSONArray::NewWithRoom(inRoom, &fSlabs);
    if (array != nullptr)
    {
        value.fPayload.fArray = array;
        value.fType = JSON_array;
    }
    return value;
}

} // namespace zorn
