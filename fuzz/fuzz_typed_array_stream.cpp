// Reads a typed value array from arbitrary bytes. The first byte chooses the kind (its low bits)
// and the byte order (its high bit). A successful read must write and read back to the same
// array: the second write must give the same bytes as the first.

#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace zorn;

namespace
{

constexpr ValueKind kKinds[] = {VK_ARRAY_BOOLEAN, VK_ARRAY_BYTE, VK_ARRAY_WORD, VK_ARRAY_LONG,
                                VK_ARRAY_LONG8,   VK_ARRAY_REAL, VK_ARRAY_TIME, VK_ARRAY_DURATION,
                                VK_ARRAY_STRING,  VK_ARRAY_BLOB};

std::vector<uint8_t> Written(const VArrayValue& inArray, bool inSwap)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    if (stream.OpenWriting() != VE_OK || inArray.WriteToStream(&stream) != VE_OK)
    {
        std::abort();
    }
    stream.CloseWriting();
    const uint8_t* bytes = static_cast<const uint8_t*>(stream.GetDataPtr());
    return std::vector<uint8_t>(bytes, bytes + stream.GetDataSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const ValueKind kind = kKinds[(data[0] & 0x7F) % std::size(kKinds)];
    const bool swap = (data[0] & 0x80) != 0;
    std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
    VArrayValue* array = static_cast<VArrayValue*>(value.get());
    VConstPtrStream stream(data + 1, size - 1);
    stream.SetNeedSwap(swap);
    if (stream.OpenReading() != VE_OK)
    {
        return 0;
    }
    const VError error = array->ReadFromStream(&stream);
    stream.CloseReading();
    if (error != VE_OK)
    {
        // A failed read leaves nothing behind.
        if (array->GetCount() != 0)
        {
            std::abort();
        }
        return 0;
    }
    const std::vector<uint8_t> first = Written(*array, swap);
    std::unique_ptr<VValue> again(VValue::NewValueFromValueKind(kind));
    VConstPtrStream back(first.data(), first.size());
    back.SetNeedSwap(swap);
    if (back.OpenReading() != VE_OK || static_cast<VArrayValue*>(again.get())->ReadFromStream(&back) != VE_OK)
    {
        std::abort();
    }
    if (Written(*static_cast<VArrayValue*>(again.get()), swap) != first)
    {
        std::abort();
    }
    // Sorting what was read stays inside the array whatever the data.
    array->Sort(array->GetValueKind() <= VK_ARRAY_REAL ? 1 : 0,
                array->GetCount() - (array->GetValueKind() <= VK_ARRAY_REAL ? 0 : 1));
    return 0;
}
