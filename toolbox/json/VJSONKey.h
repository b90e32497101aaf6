// VJSONKey: the name of an object's own property, kept compact: one pointer to a shared, counted
// block of UTF-16 units (immutable once made), with the units' hash and count cached beside it,
// 16 bytes in all. Copies share the block (an atomic count, since trees of JSON containers may
// move between tasks); the empty name has no block. Keys compare by their exact units, as the
// property names of an object do: no collation, no case folding.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zorn
{

class VJSONKey
{
public:
    VJSONKey() : fBlock(nullptr), fHash(EmptyHash()), fLength(0) {}
    // A new block holding a copy of the units; with no units, the empty name.
    explicit VJSONKey(std::u16string_view inUnits);
    explicit VJSONKey(const VString& inName) : VJSONKey(Units(inName)) {}
    VJSONKey(const VJSONKey& inOther) noexcept
        : fBlock(inOther.fBlock), fHash(inOther.fHash), fLength(inOther.fLength)
    {
        if (fBlock != nullptr)
        {
            fBlock->fReferences.fetch_add(1, std::memory_order_relaxed);
        }
    }
    VJSONKey(VJSONKey&& inOther) noexcept
        : fBlock(inOther.fBlock), fHash(inOther.fHash), fLength(inOther.fLength)
    {
        inOther.fBlock = nullptr;
        inOther.fLength = 0;
        inOther.fHash = EmptyHash();
    }
    VJSONKey& operator=(const VJSONKey& inOther) noexcept
    {
        VJSONKey copy(inOther);
        Swap(copy);
        return *this;
    }
    VJSONKey& operator=(VJSONKey&& inOther) noexcept
    {
        VJSONKey moved(std::move(inOther));
        Swap(moved);
        return *this;
    }
    ~VJSONKey() { _Release(); }

    void Swap(VJSONKey& ioOther) noexcept
    {
        std::swap(fBlock, ioOther.fBlock);
        std::swap(fHash, ioOther.fHash);
        std::swap(fLength, ioOther.fLength);
    }

    std::u16string_view GetUnits() const { return {fBlock != nullptr ? fBlock->fUnits : u"", fLength}; }
    uint32_t GetHash() const { return fHash; }
    uint32_t GetLength() const { return fLength; }
    // A new string with a copy of the units.
    VString GetString() const
    {
        return VString(reinterpret_cast<const UniChar*>(GetUnits().data()), static_cast<int32_t>(fLength));
    }

    // Whether the key holds exactly these units, whose hash is inHash.
    bool Equals(std::u16string_view inUnits, uint32_t inHash) const
    {
        return fHash == inHash && HasUnits(inUnits);
    }
    // Whether the key holds exactly these units (a byte comparison, not a unit loop).
    bool HasUnits(std::u16string_view inUnits) const
    {
        return fLength == inUnits.size() &&
               (fLength == 0 || std::memcmp(fBlock->fUnits, inUnits.data(), fLength * sizeof(char16_t)) == 0);
    }
    bool operator==(const VJSONKey& inOther) const
    {
        return fBlock == inOther.fBlock ? fLength == inOther.fLength
                                        : Equals(inOther.GetUnits(), inOther.fHash);
    }

    static uint32_t HashOf(std::u16string_view inUnits)
    {
        size_t hash = std::hash<std::u16string_view>()(inUnits);
        return static_cast<uint32_t>(hash ^ (hash >> 32));
    }
    // The hash of the empty name, computed once: moves and empty keys take it without hashing.
    static uint32_t EmptyHash()
    {
        static const uint32_t sEmptyHash = HashOf({});
        return sEmptyHash;
    }
    static std::u16string_view Units(const VString& inName)
    {
        return {reinterpret_cast<const char16_t*>(inName.GetCPointer()),
                static_cast<size_t>(inName.GetLength())};
    }

private:
    friend class VJSONBuilder;

    struct Block
    {
        std::atomic<uint32_t> fReferences;
        char16_t fUnits[1]; // the allocation extends past the declared unit
    };
    void _Release() noexcept;
    // For a builder that lends copies of its interned keys (see VJSONBuilder::Key): a copy that
    // takes no reference, the lender accounting for it; and a change of the reference count by a
    // whole lot of such copies at once.
    struct Lent
    {
    };
    VJSONKey(Lent, const VJSONKey& inOther) noexcept
        : fBlock(inOther.fBlock), fHash(inOther.fHash), fLength(inOther.fLength)
    {
    }
    void _AddReferences(uint32_t inCount) const noexcept
    {
        if (fBlock != nullptr)
        {
            fBlock->fReferences.fetch_add(inCount, std::memory_order_relaxed);
        }
    }
    // Never takes the count to zero: the caller holds a reference of its own.
    void _RemoveReferences(uint32_t inCount) const noexcept
    {
        if (fBlock != nullptr)
        {
            fBlock->fReferences.fetch_sub(inCount, std::memory_order_release);
        }
    }

    Block* fBlock;
    uint32_t fHash;
    uint32_t fLength;
};

} // namespace zorn
