// The attribute dictionary's value objects and its stream form.
#include "toolbox/kernel/values/VPackedDictionary.h"

#include "toolbox/kernel/values/VValueInfo.h"

#include <cstring>
#include <memory>

namespace zorn
{

namespace
{

uint16_t Swapped16(uint16_t inValue)
{
    return static_cast<uint16_t>((inValue >> 8) | (inValue << 8));
}

uint32_t Load32(const uint16_t* inUnits)
{
    uint32_t value;
    std::memcpy(&value, inUnits, sizeof(value));
    return value;
}

// The bytes of an entry's data, found without trusting them: the kind must be registered, and
// strings and blobs, whose size comes from their leading 32-bit length, must have that length
// within inAvailable bytes (inSwapped: the length is in the other byte order). 0 and false when
// the entry does not fit or its kind is unknown.
bool CheckedDataSize(uint16_t inKind, const uint16_t* inData, size_t inAvailable, bool inSwapped,
                     size_t& outSize)
{
    const VValueInfo* info = VValue::ValueInfoFromValueKind(inKind);
    if (info == nullptr)
    {
        return false;
    }
    switch (inKind)
    {
    case VK_STRING:
    case VK_BLOB:
    {
        if (inAvailable < 4)
        {
            return false;
        }
        uint32_t length = Load32(inData);
        if (inSwapped)
        {
            length = __builtin_bswap32(length);
        }
        if (inKind == VK_STRING)
        {
            // A negative length is an empty string (the string's own reading of it).
            outSize = 4 + 2 * static_cast<size_t>(std::max(static_cast<int32_t>(length), 0));
        }
        else
        {
            outSize = 4 + size_t{length};
        }
        break;
    }
    default:
    {
        // Every other kind the kernel registers has a fixed size, which its info gives without
        // reading the data; a kind registered later that reads a length is refused rather than
        // trusted.
        static const uint8_t kZeros[16] = {};
        static const uint8_t kOnes[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        size_t size = info->GetSizeOfValueDataPtr(kZeros);
        if (size != info->GetSizeOfValueDataPtr(kOnes))
        {
            return false;
        }
        outSize = size;
        break;
    }
    }
    return outSize <= inAvailable;
}

} // namespace

VValueSingle* VPackedDictionary_with_backstore::_GetSlotValue(size_t inIndex) const
{
    // The cached value object is part of the dictionary's state, not of its value.
    auto& slot = const_cast<_VPackedDictionary_with_backstore_slot&>(fSlots[inIndex]);
    if (slot.fValue == nullptr)
    {
        const uint16_t* entry = fBackstore.data() + slot.fIndex;
        const VValueInfo* info = VValue::ValueInfoFromValueKind(entry[0]);
        if (info == nullptr)
        {
            return nullptr;
        }
        std::unique_ptr<VValue> loaded(info->LoadFromPtr(entry + 1, false));
        if (loaded == nullptr || loaded->IsVValueSingle() == nullptr)
        {
            return nullptr;
        }
        slot.fValue = loaded.release()->IsVValueSingle();
    }
    return slot.fValue;
}

void VPackedDictionary_with_backstore::_ReplaceSlotValue(size_t inIndex, VValueSingle* inValue)
{
    auto& slot = fSlots[inIndex];
    if (slot.fValue != inValue)
    {
        delete slot.fValue;
        slot.fValue = inValue;
    }
    fNeedRepack = true;
}

VError VPackedDictionary_with_backstore::WriteToStream(VStream* ioStream, bool inWithHashIndex) const
{
    Repack();
    _WriteKeysToStream(ioStream, inWithHashIndex);
    int32_t units = static_cast<int32_t>(fBackstore.size());
    ioStream->PutLongs(&units, 1);
    if (fBackstore.empty())
    {
        return ioStream->GetLastError();
    }
    if (!ioStream->NeedSwap())
    {
        return ioStream->PutData(fBackstore.data(), fBackstore.size() * 2);
    }
    // A swapped copy goes out; the dictionary itself is never half converted.
    std::vector<uint16_t> swapped;
    try
    {
        swapped = fBackstore;
    }
    catch (...)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    for (const auto& slot : fSlots)
    {
        uint16_t* entry = swapped.data() + slot.fIndex;
        const VValueInfo* info = VValue::ValueInfoFromValueKind(entry[0]);
        if (info != nullptr)
        {
            info->ByteSwapPtr(entry + 1, true);
        }
        entry[0] = Swapped16(entry[0]);
    }
    return ioStream->PutData(swapped.data(), swapped.size() * 2);
}

VError VPackedDictionary_with_backstore::ReadFromStream(VStream* ioStream)
{
    RemoveAll();
    VError error = _ReadKeysFromStream(ioStream);
    if (error != VE_OK)
    {
        return error;
    }
    int32_t field = 0;
    error = ioStream->GetLong(field);
    const uint32_t units = static_cast<uint32_t>(field);
    if (error == VE_OK && (uint64_t{units} * 2 > ioStream->GetBytesLeft() || !_HasUniqueKeys()))
    {
        error = VE_PACKED_DATA_INVALID;
    }
    if (error == VE_OK)
    {
        try
        {
            fBackstore.resize(units);
        }
        catch (...)
        {
            error = VE_MEMORY_FULL;
        }
    }
    if (error == VE_OK && units > 0)
    {
        error = ioStream->GetData(fBackstore.data(), size_t{units} * 2);
    }
    const bool swap = ioStream->NeedSwap();
    size_t index = 0;
    for (size_t i = 0; error == VE_OK && i < fSlots.size(); ++i)
    {
        // Every entry holds at least its kind word, and its data stay inside the backstore.
        size_t dataSize = 0;
        if (index >= fBackstore.size())
        {
            error = VE_PACKED_DATA_INVALID;
            break;
        }
        uint16_t* entry = fBackstore.data() + index;
        uint16_t kind = swap ? Swapped16(entry[0]) : entry[0];
        size_t available = (fBackstore.size() - index - 1) * 2;
        if (!CheckedDataSize(kind, entry + 1, available, swap, dataSize))
        {
            error = VE_PACKED_DATA_INVALID;
            break;
        }
        if (swap)
        {
            entry[0] = kind;
            VValue::ValueInfoFromValueKind(kind)->ByteSwapPtr(entry + 1, false);
        }
        fSlots[i].fIndex = index;
        fSlots[i].fValue = nullptr;
        index += (dataSize + 2 + 1) / 2;
    }
    if (error == VE_OK && index != fBackstore.size())
    {
        error = VE_PACKED_DATA_INVALID;
    }
    if (error != VE_OK)
    {
        RemoveAll();
        if (error == VE_PACKED_DATA_INVALID || error == VE_MEMORY_FULL)
        {
            _ThrowError(error);
        }
    }
    return error;
}

} // namespace zorn
