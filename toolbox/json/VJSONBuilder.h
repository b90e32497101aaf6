// VJSONBuilder: makes the values of documents read by the JSON readers (the text importer, the
// compact stream reader) at the lowest cost the object model allows. Each value takes one stamp,
// from blocks of kStampBlock consecutive stamps taken with one increment of the process-wide
// counter; names are interned, so the objects of one document share one
// key block per distinct name; containers are carved from the document's slabs (VJSONSlab) and
// filled by move (VJSONObject::AppendOwn and
// AssignOwn, VJSONArray::AppendOwn and AssignValues). A builder belongs to one task at a time;
// the values it makes are ordinary values and outlive it.
//
// Use, for a reader that gathers a container's members before making it:
//     VJSONBuilder builder;
//     std::vector<VJSONObject::OwnProperty> members; // key, value pairs read so far
//     members.push_back({builder.Key(u"name"), builder.String(u"zorn")});
//     VJSONValue object = builder.Object(members.size());
//     object.GetObject()->AssignOwn(members);
#pragma once

#include "toolbox/json/VJSONKey.h"
#include "toolbox/json/VJSONSlab.h"
#include "toolbox/json/VJSONValue.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace zorn
{

class VJSONBuilder
{
public:
    static constexpr uint32_t kStampBlock = 256;

    VJSONBuilder() = default;
    // Settles the references of the keys it lent.
    ~VJSONBuilder();
    VJSONBuilder(const VJSONBuilder&) = delete;
    VJSONBuilder& operator=(const VJSONBuilder&) = delete;

    // The key for the units: a copy of the builder's interned key, made on first use. The copies
    // are lent: each interned key carries kLendReserve references from its making, and the builder
    // counts the copies it hands out and gives back the unused part of the reserve once, when it
    // ends. A name met n times costs two atomic operations instead of n; a lent copy is an
    // ordinary key (released by its holder, on any task), and the reserve keeps its block alive
    // until the builder has settled.
    VJSONKey Key(std::u16string_view inUnits);

    VJSONValue Null() { return _Make(JSON_null); }
    VJSONValue Bool(bool inValue) { return _Make(inValue ? JSON_true : JSON_false); }
    VJSONValue Number(double inNumber);
    // A string holding a copy of the units in a counted buffer; the empty string has no buffer.
    // Null when the buffer cannot be allocated.
    VJSONValue String(std::u16string_view inUnits);
    // A new empty object or array, held by the returned value alone. With inRoom, the container is
    // made with room for that many members in its own block, which AssignOwn / AssignValues then
    // fill without another allocation. Null when memory runs out.
    VJSONValue Object(size_t inRoom = 0);
    VJSONValue Array(size_t inRoom = 0);

    // The number of distinct names interned.
    size_t GetKeyCount() const { return fKeys.size(); }

private:
    // An interned key and the number of copies lent.
    struct Entry
    {
        VJSONKey fKey;
        mutable uint32_t fLent = 0;
    };
    struct KeyHash
    {
        using is_transparent = void;
        size_t operator()(const Entry& inEntry) const { return inEntry.fKey.GetHash(); }
        size_t operator()(std::u16string_view inUnits) const { return VJSONKey::HashOf(inUnits); }
    };
    struct KeyEqual
    {
        using is_transparent = void;
        bool operator()(const Entry& inA, const Entry& inB) const { return inA.fKey == inB.fKey; }
        bool operator()(std::u16string_view inA, const Entry& inB) const
        {
            return inB.fKey.GetUnits() == inA;
        }
        bool operator()(const Entry& inA, std::u16string_view inB) const
        {
            return inA.fKey.GetUnits() == inB;
        }
    };
    // Far above the copies one document can lend, far below the count's limit.
    static constexpr uint32_t kLendReserve = uint32_t{1} << 30;
    static VJSONKey _Lend(const Entry& inEntry);

    VJSONValue _Make(JSONType inType);
    static size_t _RecentSlot(std::u16string_view inUnits);
    uint32_t _NextStamp();

    // The containers of the document are carved from its slabs.
    VJSONSlabCursor fSlabs;
    uint32_t fNextStamp = 0;
    uint32_t fStampsLeft = 0;
    std::unordered_set<Entry, KeyHash, KeyEqual> fKeys;
    // Documents repeat their names: the last key met in each of 2^kRecentBits slots, chosen by a
    // cheap mix of the name's length and first and last four units, answers most lookups with one
    // comparison and no full hash (made on the first name).
    static constexpr int kRecentBits = 10;
    std::unique_ptr<const Entry*[]> fRecent;
};

} // namespace zorn
