// Packed dictionaries: ordered maps from short UTF-8 keys (StPackedDictionaryKey) to values, kept
// in a few flat vectors so that a value bag with many attributes costs few allocations and goes to
// a stream almost as it lies in memory.
//
// Layout:
// - key block: per key, in slot order, one length byte and the key's bytes;
// - slots: in insertion order, each starting with the offset of its key's length byte;
// - hash index (_VHashKeyMap): cells holding slot indices, free cells tag_empty; built on the
//   first lookup of a dictionary of 6 or more keys, with a prime cell count from a fixed table
//   (11 cells up to 8 keys, then 23, 41 ...) and linear probing; when an append finds no free cell
//   the index is rebuilt for the new count.
// - attribute dictionary (VPackedDictionary_with_backstore): a backstore of 16-bit units holding,
//   per slot in slot order, the value's registered kind and its packed form, padded to an even
//   byte count. A slot may also hold a value object, which then is the current value; the repack
//   flag says that some backstore entry is stale, and _Pack brings the backstore up to date.
// - element dictionary (VPackedDictionary<T>): one reference on a T (a bag list) per slot.
//
// Choices made where several were possible:
// - Lookups with an index follow the probe sequence from the key's home cell until a free cell:
//   every key sits on the probe path of its home cell (that is how Put placed it), so this finds
//   the same slot as a scan of all slots would, without one. Keys are compared by length and
//   bytes; equal hashes are only a hint.
// - Keys longer than 255 bytes (and keys whose copy could not be allocated) are refused: Append
//   and SetValue store nothing and lookups find nothing.
// - Allocation failures are caught where they happen: an append leaves the dictionary as it was,
//   a failed index build leaves lookups to the linear scan, a failed repack keeps the old
//   backstore. Nothing is raised for them.
// - The key table read from a stream is outside input and checked before use: counts and lengths
//   against the bytes that are left, every key inside the key block, the block used up exactly,
//   the index flag 0 or 1, a cell count of at least 1, every cell free or naming a slot, and every
//   key reachable from its home cell. Anything else is refused with VE_PACKED_DATA_INVALID
//   ('zorn' 213, raised and returned) and leaves the dictionary empty.
// - No locks: GetValue (which caches a value object), _Pack and lookups (which build the index)
//   change a dictionary that is const; one dictionary is not shared by two tasks without a lock.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/values/StPackedDictionaryKey.h"
#include "toolbox/kernel/values/VValue.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace zorn
{

// Stored dictionary data that does not hold together (a count, length or index cell that
// points outside its block). 221, as 213 is VFileDesc's "cannot get the position".
constexpr VError VE_PACKED_DATA_INVALID = MakeVError(kCOMPONENT_ZORN, 221);

// The hash index of a dictionary.
class _VHashKeyMap
{
public:
    static constexpr uint32_t tag_empty = 0xFFFFFFFF;

    bool IsEmpty() const { return fCells.empty(); }
    size_t GetCellCount() const { return fCells.size(); }
    const std::vector<uint32_t>& GetCells() const { return fCells; }
    void Clear() { std::vector<uint32_t>().swap(fCells); }

    // Sizes the index for inCount keys, all cells free. False, with the index empty, when the
    // cells cannot be had (or the count is beyond the table).
    bool Rebuild(size_t inCount);
    // Reads a cell count and the cells. False, with the index empty, on a stream error, a count
    // of 0 or a count beyond the bytes left in the stream; the cells themselves are the
    // caller's to check.
    bool Rebuild(VStream* ioStream);
    // Stores the slot index in the first free cell from the hash's home cell; false when every
    // cell is taken.
    bool Put(uint32_t inHash, uint32_t inSlotIndex);
    // The cell count and the cells.
    VError WriteToStream(VStream* ioStream) const;

    // The cell count for inCount keys; 0 beyond the table.
    static size_t _ComputeHashVectorSize(size_t inCount);

private:
    std::vector<uint32_t> fCells;
};

namespace detail
{
// Grows a vector to hold inNeeded elements, amortized, and to at least inFirst elements on its
// first growth (a bag's record-sized dictionary then grows once, not at every doubling); false
// when it cannot.
template <class T>
bool ReserveFor(std::vector<T>& ioVector, size_t inNeeded, size_t inFirst = 0) noexcept
{
    if (inNeeded <= ioVector.capacity())
    {
        return true;
    }
    try
    {
        ioVector.reserve(std::max({inNeeded, ioVector.capacity() * 2, inFirst}));
        return true;
    }
    catch (...)
    {
        try
        {
            ioVector.reserve(inNeeded);
            return true;
        }
        catch (...)
        {
            return false;
        }
    }
}
} // namespace detail

// The keys, slots and index common to both dictionaries. TSlot starts with uint64_t fKeyOffset.
template <class TSlot>
class VPackedDictionary_base : public VObject
{
public:
    using Slots = std::vector<TSlot>;
    using iterator = typename Slots::iterator;
    using const_iterator = typename Slots::const_iterator;

    VPackedDictionary_base() = default;
    // Keys and slots as they are; the index is not copied. Without room the copy is empty.
    VPackedDictionary_base(const VPackedDictionary_base& inOther)
    {
        try
        {
            fKeys = inOther.fKeys;
            fSlots = inOther.fSlots;
        }
        catch (...)
        {
            _EraseAll();
        }
    }
    VPackedDictionary_base& operator=(const VPackedDictionary_base&) = delete;

    size_t GetCount() const { return fSlots.size(); }
    bool IsEmpty() const { return fSlots.empty(); }
    // The bytes of the key of slot inIndex (not terminated) and their count.
    const char* GetKeyAt(size_t inIndex, size_t* outLength) const
    {
        size_t offset = fSlots[inIndex].fKeyOffset;
        *outLength = fKeys[offset];
        return reinterpret_cast<const char*>(fKeys.data() + offset + 1);
    }
    const std::vector<uint8_t>& GetKeyBlock() const { return fKeys; }
    const _VHashKeyMap& GetHashIndex() const { return fHashIndex; }
    bool Contains(const StPackedDictionaryKey& inKey) const { return _Find(inKey) != fSlots.end(); }

    // The slot of the key, or the end. Builds the index of a dictionary of 6 or more keys first.
    const_iterator _Find(const StPackedDictionaryKey& inKey) const
    {
        if (inKey.IsRefused())
        {
            return fSlots.end();
        }
        if (fHashIndex.IsEmpty() && fSlots.size() >= kIndexedCount)
        {
            _BuildHashIndex();
        }
        const std::vector<uint32_t>& cells = fHashIndex.GetCells();
        if (cells.empty())
        {
            for (auto slot = fSlots.begin(); slot != fSlots.end(); ++slot)
            {
                if (_KeyEquals(*slot, inKey))
                {
                    return slot;
                }
            }
            return fSlots.end();
        }
        // The cell counts fit in 32 bits (the table ends below 2^32), and 32-bit division is quicker.
        size_t cell = inKey.GetHash() % static_cast<uint32_t>(cells.size());
        for (size_t probed = 0; probed < cells.size(); ++probed)
        {
            uint32_t index = cells[cell];
            if (index == _VHashKeyMap::tag_empty)
            {
                break;
            }
            if (_KeyEquals(fSlots[index], inKey))
            {
                return fSlots.begin() + index;
            }
            cell = cell + 1 == cells.size() ? 0 : cell + 1;
        }
        return fSlots.end();
    }
    iterator _Find(const StPackedDictionaryKey& inKey)
    {
        return fSlots.begin() + (std::as_const(*this)._Find(inKey) - fSlots.cbegin());
    }

    // Appends the key and the slot (whose key offset it sets) and enters the slot in the index when
    // there is one. No check for an existing key. The end on failure, with nothing changed.
    iterator _AppendKeyAndSlot(const StPackedDictionaryKey& inKey, TSlot inSlot)
    {
        size_t length = inKey.GetKeyLength();
        if (inKey.IsRefused() || !detail::ReserveFor(fKeys, fKeys.size() + 1 + length, kFirstKeyBytes) ||
            !detail::ReserveFor(fSlots, fSlots.size() + 1, kFirstSlots))
        {
            return fSlots.end();
        }
        inSlot.fKeyOffset = fKeys.size();
        fKeys.push_back(static_cast<uint8_t>(length));
        fKeys.insert(fKeys.end(), inKey.GetKey(), inKey.GetKey() + length);
        fSlots.push_back(inSlot);
        uint32_t index = static_cast<uint32_t>(fSlots.size() - 1);
        if (!fHashIndex.IsEmpty() && !fHashIndex.Put(inKey.GetHash(), index))
        {
            _BuildHashIndex();
        }
        return fSlots.end() - 1;
    }

    // The key table: count, key block length, key block, index flag, then the index when the flag
    // is 1 (built first when inWithHashIndex asks for it and the dictionary has 6 or more keys).
    VError _WriteKeysToStream(VStream* ioStream, bool inWithHashIndex) const;
    // Reads a key table into this dictionary, which must hold no keys; slots other than their key
    // offsets are zero. On failure the dictionary is left empty.
    VError _ReadKeysFromStream(VStream* ioStream);
    // Whether every key finds its own slot, that is, no key is stored twice (stored data is
    // checked with it).
    bool _HasUniqueKeys() const
    {
        for (size_t i = 0; i < fSlots.size(); ++i)
        {
            size_t length;
            const char* key = GetKeyAt(i, &length);
            if (_Find(StPackedDictionaryKey(key, length)) != fSlots.begin() + static_cast<ptrdiff_t>(i))
            {
                return false;
            }
        }
        return true;
    }

protected:
    static constexpr size_t kIndexedCount = 6;
    // First room of a dictionary that grows: enough for a typical log record or bag.
    static constexpr size_t kFirstKeyBytes = 128;
    static constexpr size_t kFirstSlots = 8;

    // Removes the slot's key and the slot (the caller has dealt with what the slot holds), moves
    // the later keys down and empties the index.
    void _EraseSlot(iterator inSlot)
    {
        size_t offset = inSlot->fKeyOffset;
        size_t removed = size_t{fKeys[offset]} + 1;
        fKeys.erase(fKeys.begin() + static_cast<ptrdiff_t>(offset),
                    fKeys.begin() + static_cast<ptrdiff_t>(offset + removed));
        for (auto later = inSlot + 1; later != fSlots.end(); ++later)
        {
            later->fKeyOffset -= removed;
        }
        fSlots.erase(inSlot);
        fHashIndex.Clear();
    }
    // Empties keys, slots and index (the caller has dealt with what the slots hold).
    void _EraseAll()
    {
        std::vector<uint8_t>().swap(fKeys);
        Slots().swap(fSlots);
        fHashIndex.Clear();
    }
    // Sizes the index for the slots and puts every slot; empty when that fails.
    void _BuildHashIndex() const
    {
        if (!fHashIndex.Rebuild(fSlots.size()))
        {
            return;
        }
        for (size_t i = 0; i < fSlots.size(); ++i)
        {
            size_t length;
            const char* key = GetKeyAt(i, &length);
            if (!fHashIndex.Put(StPackedDictionaryKey::GetHashCode(key, length), static_cast<uint32_t>(i)))
            {
                fHashIndex.Clear();
                return;
            }
        }
    }
    // Keys are short and often share a prefix ("attribute_1", "attribute_2"): the length and the
    // last byte reject most others before the bytes are compared in words.
    bool _KeyEquals(const TSlot& inSlot, const StPackedDictionaryKey& inKey) const
    {
        const uint8_t* stored = fKeys.data() + inSlot.fKeyOffset;
        size_t length = *stored++;
        if (length != inKey.GetKeyLength())
        {
            return false;
        }
        const char* key = inKey.GetKey();
        if (length == 0)
        {
            return true;
        }
        if (static_cast<char>(stored[length - 1]) != key[length - 1])
        {
            return false;
        }
        for (; length >= 8; length -= 8, stored += 8, key += 8)
        {
            uint64_t a;
            uint64_t b;
            std::memcpy(&a, stored, 8);
            std::memcpy(&b, key, 8);
            if (a != b)
            {
                return false;
            }
        }
        for (; length > 0; --length, ++stored, ++key)
        {
            if (static_cast<char>(*stored) != *key)
            {
                return false;
            }
        }
        return true;
    }

    std::vector<uint8_t> fKeys;
    Slots fSlots;
    mutable _VHashKeyMap fHashIndex;

private:
    // Whether every cell is free or names a slot, and every key is on its home cell's probe path.
    bool _IsHashIndexSound() const;
};

// A value kept in an attribute dictionary's backstore: a 16-bit kind, then the packed form.
class VPackedValue_VValueSingle
{
public:
    // The bytes an entry takes, kind word included (an unregistered kind: 2).
    static size_t GetPackedSize(const uint16_t* inEntry);
    // The bytes a value's entry takes.
    static size_t GetPackedSize(const VValueSingle& inValue) { return inValue.GetSpace() + 2; }
    // Writes the kind and the packed form (the caller has made room).
    static void WriteEntry(const VValueSingle& inValue, uint16_t* outEntry);
    // Rewrites the entry with the value when both take the same bytes; false, nothing written,
    // otherwise.
    static bool SaveValueCheckSpace(const VValueSingle& inValue, void* ioEntry);
};

struct _VPackedDictionary_with_backstore_slot
{
    uint64_t fKeyOffset = 0;
    uint64_t fIndex = 0;            // of the entry in the backstore, in 16-bit units
    VValueSingle* fValue = nullptr; // owned; when present, the current value
};

// The attribute dictionary of a value bag.
class VPackedDictionary_with_backstore : public VPackedDictionary_base<_VPackedDictionary_with_backstore_slot>
{
public:
    VPackedDictionary_with_backstore() = default;
    // As assignment.
    VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& inOther);
    // Repacks the source when it needs it, then copies keys, slots, index and backstore; the copy
    // holds no value objects and needs no repack.
    VPackedDictionary_with_backstore& operator=(const VPackedDictionary_with_backstore& inOther);
    ~VPackedDictionary_with_backstore() override;

    // Appends the key and the value's entry; false, nothing changed, when there is no room or
    // the key is refused. No check for an existing key.
    bool Append(const StPackedDictionaryKey& inKey, const VValueSingle& inValue);
    // Replaces the value of an existing key (false when absent): in place when the new entry
    // takes the same bytes and the slot holds no object, else through a value object in the slot
    // and the repack flag.
    bool SetExistingValue(const StPackedDictionaryKey& inKey, const VValueSingle& inValue);
    // The key's value into outValue (false when absent): from the slot's object, or loaded from
    // the entry when outValue is of the stored kind, or converted through a value object of the
    // stored kind that the slot then keeps. An unregistered stored kind leaves outValue alone.
    bool GetValue(const StPackedDictionaryKey& inKey, VValueSingle& outValue) const;
    // Removes the key, its entry and its object.
    void Clear(const StPackedDictionaryKey& inKey);
    // Removes everything.
    void RemoveAll();

    // The value object of slot inIndex: the slot's own, or one made from the packed entry that the
    // slot keeps from then on; null for an unregistered kind.
    VValueSingle* _GetSlotValue(size_t inIndex) const;
    // Gives slot inIndex a new value object (owned from now on, the old one deleted) and sets the
    // repack flag.
    void _ReplaceSlotValue(size_t inIndex, VValueSingle* inValue);

    // Stream form (VPackedDictionary_Stream.cpp): the key table, the backstore length in 16-bit
    // units, then the backstore, every kind word and value in the stream's byte order. The writer
    // repacks first. The reader checks every entry against the backstore (a registered kind, the
    // whole entry inside, the block used up exactly) and refuses anything else with
    // VE_PACKED_DATA_INVALID; a failed read leaves the dictionary empty.
    VError WriteToStream(VStream* ioStream, bool inWithHashIndex) const;
    VError ReadFromStream(VStream* ioStream);

    bool NeedsRepack() const { return fNeedRepack; }
    // Brings the backstore up to date with the value objects (they stay in their slots) and clears
    // the repack flag; false, with nothing changed, when the new backstore cannot be had.
    bool Repack() const;
    // The repacking itself; the flag is the caller's.
    bool _Pack() const;

    const std::vector<uint16_t>& GetBackstore() const { return fBackstore; }
    const Slots& GetSlots() const { return fSlots; }

private:
    void _DeleteValues();

    // First room of a backstore that grows (units).
    static constexpr size_t kFirstBackstoreUnits = 128;

    mutable std::vector<uint16_t> fBackstore;
    mutable bool fNeedRepack = false;
};

template <class TValue>
struct _VPackedDictionary_slot
{
    uint64_t fKeyOffset = 0;
    TValue* fValue = nullptr; // one reference held
};

// The element dictionary of a value bag: one reference on a TValue (a bag list, with Retain and
// Release) per key.
template <class TValue>
class VPackedDictionary : public VPackedDictionary_base<_VPackedDictionary_slot<TValue>>
{
    using Base = VPackedDictionary_base<_VPackedDictionary_slot<TValue>>;

public:
    VPackedDictionary() = default;
    // Keys and slots as they are, each list shared (one more reference).
    VPackedDictionary(const VPackedDictionary& inOther) : Base(inOther)
    {
        for (auto& slot : this->fSlots)
        {
            RetainRefCountable(slot.fValue);
        }
    }
    ~VPackedDictionary() override { RemoveAll(); }

    // Stores the list under the key, appending the key when absent (nothing happens when that
    // fails or the key is refused); the old list is released.
    void SetValue(const StPackedDictionaryKey& inKey, TValue* inValue)
    {
        auto slot = this->_Find(inKey);
        if (slot == this->fSlots.end())
        {
            slot = this->_AppendKeyAndSlot(inKey, {});
            if (slot == this->fSlots.end())
            {
                return;
            }
        }
        if (slot->fValue != inValue)
        {
            RetainRefCountable(inValue);
            ReleaseRefCountable(&slot->fValue);
            slot->fValue = inValue;
        }
    }
    // The key's list (no reference added), or null.
    TValue* GetValue(const StPackedDictionaryKey& inKey) const
    {
        auto slot = this->_Find(inKey);
        return slot == this->fSlots.end() ? nullptr : slot->fValue;
    }
    // Releases the key's list and removes the key.
    void RemoveElements(const StPackedDictionaryKey& inKey)
    {
        auto slot = this->_Find(inKey);
        if (slot != this->fSlots.end())
        {
            ReleaseRefCountable(&slot->fValue);
            this->_EraseSlot(slot);
        }
    }
    // The list of slot inIndex (no reference added).
    TValue* GetNthValue(size_t inIndex) const { return this->fSlots[inIndex].fValue; }
    // Stores a list in slot inIndex, taking over the caller's reference; the old one is released.
    void _AdoptNthValue(size_t inIndex, TValue* inValue)
    {
        ReleaseRefCountable(&this->fSlots[inIndex].fValue);
        this->fSlots[inIndex].fValue = inValue;
    }
    void RemoveAll()
    {
        for (auto& slot : this->fSlots)
        {
            ReleaseRefCountable(&slot.fValue);
        }
        this->_EraseAll();
    }
};

// Key tables

template <class TSlot>
VError VPackedDictionary_base<TSlot>::_WriteKeysToStream(VStream* ioStream, bool inWithHashIndex) const
{
    if (inWithHashIndex && fHashIndex.IsEmpty() && fSlots.size() >= kIndexedCount)
    {
        _BuildHashIndex();
    }
    int32_t counts[2] = {static_cast<int32_t>(fSlots.size()), static_cast<int32_t>(fKeys.size())};
    ioStream->PutLongs(counts, 2);
    if (!fKeys.empty())
    {
        ioStream->PutData(fKeys.data(), fKeys.size());
    }
    bool withIndex = inWithHashIndex && !fHashIndex.IsEmpty();
    ioStream->Put(withIndex ? 1 : 0);
    if (withIndex)
    {
        return fHashIndex.WriteToStream(ioStream);
    }
    return ioStream->GetLastError();
}

template <class TSlot>
VError VPackedDictionary_base<TSlot>::_ReadKeysFromStream(VStream* ioStream)
{
    _EraseAll();
    if (VError error = ioStream->GetLastError(); error != VE_OK)
    {
        return error;
    }
    int32_t counts[2] = {0, 0};
    int32_t read = 2;
    if (VError error = ioStream->GetLongs(counts, &read); error != VE_OK)
    {
        return error;
    }
    uint32_t count = static_cast<uint32_t>(counts[0]);
    uint32_t blockLength = static_cast<uint32_t>(counts[1]);
    // Every key takes at least its length byte, and the block must be in the stream.
    VError error = VE_OK;
    if (blockLength > ioStream->GetBytesLeft() || count > blockLength)
    {
        error = VE_PACKED_DATA_INVALID;
    }
    else
    {
        try
        {
            fKeys.resize(blockLength);
            fSlots.resize(count);
        }
        catch (...)
        {
            error = VE_MEMORY_FULL;
        }
    }
    if (error == VE_OK && blockLength > 0)
    {
        error = ioStream->GetData(fKeys.data(), blockLength);
    }
    size_t offset = 0;
    for (size_t i = 0; error == VE_OK && i < count; ++i)
    {
        if (offset >= blockLength || offset + 1 + fKeys[offset] > blockLength)
        {
            error = VE_PACKED_DATA_INVALID;
            break;
        }
        fSlots[i].fKeyOffset = offset;
        offset += size_t{fKeys[offset]} + 1;
    }
    if (error == VE_OK && offset != blockLength)
    {
        error = VE_PACKED_DATA_INVALID;
    }
    uint8_t flag = 0;
    if (error == VE_OK)
    {
        error = ioStream->GetData(&flag, 1);
    }
    if (error == VE_OK)
    {
        if (flag == 1)
        {
            if (!fHashIndex.Rebuild(ioStream))
            {
                error = ioStream->GetLastError() != VE_OK ? ioStream->GetLastError() : VE_PACKED_DATA_INVALID;
            }
            else if (!_IsHashIndexSound())
            {
                error = VE_PACKED_DATA_INVALID;
            }
        }
        else if (flag != 0)
        {
            error = VE_PACKED_DATA_INVALID;
        }
        else if (fSlots.size() >= kIndexedCount)
        {
            _BuildHashIndex();
        }
    }
    if (error != VE_OK)
    {
        _EraseAll();
        if (error == VE_PACKED_DATA_INVALID)
        {
            _ThrowError(error);
        }
    }
    return error;
}

template <class TSlot>
bool VPackedDictionary_base<TSlot>::_IsHashIndexSound() const
{
    const std::vector<uint32_t>& cells = fHashIndex.GetCells();
    for (uint32_t cell : cells)
    {
        if (cell != _VHashKeyMap::tag_empty && cell >= fSlots.size())
        {
            return false;
        }
    }
    for (size_t i = 0; i < fSlots.size(); ++i)
    {
        size_t length;
        const char* key = GetKeyAt(i, &length);
        size_t cell = StPackedDictionaryKey::GetHashCode(key, length) % cells.size();
        size_t probed = 0;
        while (probed < cells.size() && cells[cell] != i && cells[cell] != _VHashKeyMap::tag_empty)
        {
            cell = cell + 1 == cells.size() ? 0 : cell + 1;
            ++probed;
        }
        if (probed == cells.size() || cells[cell] != i)
        {
            return false;
        }
    }
    return true;
}

} // namespace zorn
