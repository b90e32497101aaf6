#include "toolbox/kernel/values/VPackedDictionary.h"

#include "toolbox/kernel/values/VValueInfo.h"

#include <cstring>

namespace zorn
{

namespace
{

// Cell counts of the hash index: the first row whose bound the key count is below. Primes
// growing by about 1.6, so a fresh index is at most about three quarters full.
struct HashSizeRow
{
    uint64_t fBound;
    uint64_t fCells;
};

constexpr HashSizeRow kHashSizes[] = {
    {5, 5},
    {9, 11},
    {18, 23},
    {30, 41},
    {48, 67},
    {77, 113},
    {124, 199},
    {200, 317},
    {323, 521},
    {522, 839},
    {844, 1361},
    {1365, 2207},
    {2208, 3571},
    {3572, 5779},
    {5779, 9349},
    {9350, 15121},
    {15128, 24473},
    {24477, 39607},
    {39604, 64081},
    {64080, 103681},
    {103683, 167759},
    {167762, 271429},
    {271444, 439199},
    {439205, 710641},
    {710648, 1149857},
    {1149852, 1860503},
    {1860499, 3010349},
    {3010350, 4870843},
    {4870848, 7881193},
    {7881197, 12752029},
    {12752044, 20633237},
    {20633240, 33385273},
    {33385283, 54018521},
    {54018522, 87403763},
    {87403804, 141422317},
    {141422325, 228826121},
    {228826128, 370248451},
    {370248452, 599074561},
    {599074579, 969323023},
    {969323030, 1568397599},
    {1568397608, 2537720629},
    {2537720637, 4106118251},
};

} // namespace

// _VHashKeyMap

size_t _VHashKeyMap::_ComputeHashVectorSize(size_t inCount)
{
    for (const HashSizeRow& row : kHashSizes)
    {
        if (inCount < row.fBound)
        {
            return static_cast<size_t>(row.fCells);
        }
    }
    return 0;
}

bool _VHashKeyMap::Rebuild(size_t inCount)
{
    Clear();
    size_t cells = _ComputeHashVectorSize(inCount);
    if (cells == 0)
    {
        return false;
    }
    try
    {
        fCells.assign(cells, tag_empty);
        return true;
    }
    catch (...)
    {
        Clear();
        return false;
    }
}

bool _VHashKeyMap::Rebuild(VStream* ioStream)
{
    Clear();
    int32_t field = 0;
    if (ioStream->GetLong(field) != VE_OK)
    {
        return false;
    }
    uint32_t count = static_cast<uint32_t>(field);
    if (count == 0 || uint64_t{count} * 4 > ioStream->GetBytesLeft())
    {
        return false;
    }
    try
    {
        fCells.resize(count);
    }
    catch (...)
    {
        Clear();
        return false;
    }
    int32_t read = static_cast<int32_t>(count);
    if (ioStream->GetLongs(reinterpret_cast<int32_t*>(fCells.data()), &read) != VE_OK ||
        read != static_cast<int32_t>(count))
    {
        Clear();
        return false;
    }
    return true;
}

bool _VHashKeyMap::Put(uint32_t inHash, uint32_t inSlotIndex)
{
    if (fCells.empty())
    {
        return false;
    }
    size_t cell = inHash % fCells.size();
    for (size_t probed = 0; probed < fCells.size(); ++probed)
    {
        if (fCells[cell] == tag_empty)
        {
            fCells[cell] = inSlotIndex;
            return true;
        }
        cell = cell + 1 == fCells.size() ? 0 : cell + 1;
    }
    return false;
}

VError _VHashKeyMap::WriteToStream(VStream* ioStream) const
{
    int32_t count = static_cast<int32_t>(fCells.size());
    ioStream->PutLongs(&count, 1);
    return ioStream->PutLongs(reinterpret_cast<const int32_t*>(fCells.data()), count);
}

// VPackedValue_VValueSingle

size_t VPackedValue_VValueSingle::GetPackedSize(const uint16_t* inEntry)
{
    uint16_t kind;
    std::memcpy(&kind, inEntry, sizeof(kind));
    switch (kind)
    {
    case VK_BOOLEAN:
    case VK_BYTE:
        return 3;
    case VK_WORD:
        return 4;
    case VK_LONG:
        return 6;
    case VK_LONG8:
    case VK_REAL:
    case VK_DURATION:
        return 10;
    default:
    {
        const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
        return info == nullptr ? 2 : info->GetSizeOfValueDataPtr(inEntry + 1) + 2;
    }
    }
}

void VPackedValue_VValueSingle::WriteEntry(const VValueSingle& inValue, uint16_t* outEntry)
{
    outEntry[0] = static_cast<uint16_t>(inValue.GetTrueValueKind());
    inValue.WriteToPtr(outEntry + 1);
}

bool VPackedValue_VValueSingle::SaveValueCheckSpace(const VValueSingle& inValue, void* ioEntry)
{
    uint16_t* entry = static_cast<uint16_t*>(ioEntry);
    if (GetPackedSize(inValue) != GetPackedSize(entry))
    {
        return false;
    }
    WriteEntry(inValue, entry);
    return true;
}

// VPackedDictionary_with_backstore

VPackedDictionary_with_backstore::VPackedDictionary_with_backstore(
    const VPackedDictionary_with_backstore& inOther)
    : VPackedDictionary_base()
{
    *this = inOther;
}

VPackedDictionary_with_backstore&
VPackedDictionary_with_backstore::operator=(const VPackedDictionary_with_backstore& inOther)
{
    if (this == &inOther)
    {
        return *this;
    }
    inOther.Repack();
    RemoveAll();
    try
    {
        fKeys = inOther.fKeys;
        fSlots = inOther.fSlots;
        fBackstore = inOther.fBackstore;
    }
    catch (...)
    {
        // A dictionary is whole or empty, never half copied.
        fSlots.clear();
        RemoveAll();
        return *this;
    }
    for (auto& slot : fSlots)
    {
        slot.fValue = nullptr;
    }
    // The index is copied only when it can be; without it lookups rebuild one.
    try
    {
        fHashIndex = inOther.fHashIndex;
    }
    catch (...)
    {
        fHashIndex.Clear();
    }
    return *this;
}

VPackedDictionary_with_backstore::~VPackedDictionary_with_backstore()
{
    _DeleteValues();
}

void VPackedDictionary_with_backstore::_DeleteValues()
{
    for (auto& slot : fSlots)
    {
        delete slot.fValue;
        slot.fValue = nullptr;
    }
}

void VPackedDictionary_with_backstore::RemoveAll()
{
    _DeleteValues();
    _EraseAll();
    std::vector<uint16_t>().swap(fBackstore);
    fNeedRepack = false;
}

bool VPackedDictionary_with_backstore::Append(const StPackedDictionaryKey& inKey, const VValueSingle& inValue)
{
    size_t units = (inValue.GetSpace() + 3) / 2;
    size_t index = fBackstore.size();
    if (inKey.IsRefused() || !detail::ReserveFor(fBackstore, index + units, kFirstBackstoreUnits))
    {
        return false;
    }
    _VPackedDictionary_with_backstore_slot slot;
    slot.fIndex = index;
    // The end is read after the append, which may move the slots.
    auto appended = _AppendKeyAndSlot(inKey, slot);
    if (appended == fSlots.end())
    {
        return false;
    }
    fBackstore.resize(index + units, 0);
    VPackedValue_VValueSingle::WriteEntry(inValue, fBackstore.data() + index);
    return true;
}

bool VPackedDictionary_with_backstore::SetExistingValue(const StPackedDictionaryKey& inKey,
                                                        const VValueSingle& inValue)
{
    auto slot = _Find(inKey);
    if (slot == fSlots.end())
    {
        return false;
    }
    if (slot->fValue == nullptr)
    {
        if (VPackedValue_VValueSingle::SaveValueCheckSpace(inValue, fBackstore.data() + slot->fIndex))
        {
            return true;
        }
        slot->fValue = static_cast<VValueSingle*>(inValue.Clone());
    }
    else if (slot->fValue != &inValue)
    {
        if (slot->fValue->GetTrueValueKind() == inValue.GetTrueValueKind())
        {
            slot->fValue->FromValueSameKind(&inValue);
        }
        else
        {
            delete slot->fValue;
            slot->fValue = static_cast<VValueSingle*>(inValue.Clone());
        }
    }
    fNeedRepack = true;
    return true;
}

bool VPackedDictionary_with_backstore::GetValue(const StPackedDictionaryKey& inKey,
                                                VValueSingle& outValue) const
{
    auto found = _Find(inKey);
    if (found == fSlots.end())
    {
        return false;
    }
    const auto& slot = *found;
    if (slot.fValue != nullptr)
    {
        slot.fValue->GetValue(outValue);
        return true;
    }
    const uint16_t* entry = fBackstore.data() + slot.fIndex;
    ValueKind kind = entry[0];
    if (kind == outValue.GetValueInfo()->GetTrueKind())
    {
        outValue.LoadFromPtr(entry + 1);
        return true;
    }
    if (const VValueSingle* value = _GetSlotValue(static_cast<size_t>(found - fSlots.begin())))
    {
        value->GetValue(outValue);
    }
    return true;
}

void VPackedDictionary_with_backstore::Clear(const StPackedDictionaryKey& inKey)
{
    auto slot = _Find(inKey);
    if (slot == fSlots.end())
    {
        return;
    }
    delete slot->fValue;
    slot->fValue = nullptr;
    size_t begin = slot->fIndex;
    size_t end = slot + 1 == fSlots.end() ? fBackstore.size() : (slot + 1)->fIndex;
    fBackstore.erase(fBackstore.begin() + static_cast<ptrdiff_t>(begin),
                     fBackstore.begin() + static_cast<ptrdiff_t>(end));
    for (auto later = slot + 1; later != fSlots.end(); ++later)
    {
        later->fIndex -= end - begin;
    }
    _EraseSlot(slot);
}

bool VPackedDictionary_with_backstore::Repack() const
{
    if (!fNeedRepack)
    {
        return true;
    }
    if (!_Pack())
    {
        return false;
    }
    fNeedRepack = false;
    return true;
}

bool VPackedDictionary_with_backstore::_Pack() const
{
    auto firstMisfit = fSlots.begin();
    for (; firstMisfit != fSlots.end(); ++firstMisfit)
    {
        if (firstMisfit->fValue != nullptr &&
            !VPackedValue_VValueSingle::SaveValueCheckSpace(*firstMisfit->fValue,
                                                            fBackstore.data() + firstMisfit->fIndex))
        {
            break;
        }
    }
    if (firstMisfit == fSlots.end())
    {
        return true;
    }
    std::vector<uint16_t> packed;
    std::vector<uint64_t> indices;
    try
    {
        packed.reserve(fBackstore.size());
        indices.reserve(fSlots.size());
        for (const auto& slot : fSlots)
        {
            size_t index = packed.size();
            indices.push_back(index);
            if (slot.fValue != nullptr)
            {
                packed.resize(index + (slot.fValue->GetSpace() + 3) / 2, 0);
                VPackedValue_VValueSingle::WriteEntry(*slot.fValue, packed.data() + index);
            }
            else
            {
                const uint16_t* entry = fBackstore.data() + slot.fIndex;
                size_t units = (VPackedValue_VValueSingle::GetPackedSize(entry) + 1) / 2;
                packed.insert(packed.end(), entry, entry + units);
            }
        }
    }
    catch (...)
    {
        return false;
    }
    auto& slots = const_cast<Slots&>(fSlots);
    for (size_t i = 0; i < slots.size(); ++i)
    {
        slots[i].fIndex = indices[i];
    }
    fBackstore.swap(packed);
    return true;
}

} // namespace zorn
