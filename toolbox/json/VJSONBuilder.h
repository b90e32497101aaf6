// VJSONBuilder: makes the values of documents read by the JSON readers (the text importer, the
// compact stream reader) at the lowest cost the object model allows. Each value takes one stamp,
// from blocks of kStampBlock consecutive stamps taken with one increment of the process-wide
// counter; names are interned, so the objects of one document share one
// key block per distinct name; containers are filled by move (VJSONObject::AppendOwn and
// AssignOwn, VJSONArray::AppendOwn and AssignValues). A builder belongs to one task at a time;
// the values it makes are ordinary values and outlive it.
//
// Use, for a reader that gathers a container's members before making it:
//     VJSONBuilder builder;
//     std::vector<VJSONObject::OwnProperty> members; // key, value pairs read so far
//     members.push_back({builder.Key(u"name"), builder.String(u"zorn")});
//     VJSONValue object = builder.Object();
//     object.GetObject()->AssignOwn(members);
#pragma once

#include "toolbox/json/VJSONKey.h"
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
    VJSONBuilder(const VJSONBuilder&) = delete;
    VJSONBuilder& operator=(const VJSONBuilder&) = delete;

    // The key for the units: the builder's interned copy, made on first use.
    VJSONKey Key(std::u16string_view inUnits);

    VJSONValue Null() { return _Make(JSON_null); }
    VJSONValue Bool(bool inValue) { return _Make(inValue ? JSON_true : JSON_false); }
    VJSONValue Number(double inNumber);
    // A string holding a copy of the units in a counted buffer; the empty string has no buffer.
    // Null when the buffer cannot be allocated.
    VJSONValue String(std::u16string_view inUnits);
    // A new empty object or array, held by the returned value alone.
    VJSONValue Object();
    VJSONValue Array();

    // The number of distinct names interned.
    size_t GetKeyCount() const { return fKeys.size(); }

private:
    struct KeyHash
    {
        using is_transparent = void;
        size_t operator()(const VJSONKey& inKey) const { return inKey.GetHash(); }
        size_t operator()(std::u16string_view inUnits) const { return VJSONKey::HashOf(inUnits); }
    };
    struct KeyEqual
    {
        using is_transparent = void;
        bool operator()(const VJSONKey& inA, const VJSONKey& inB) const { return inA == inB; }
        bool operator()(std::u16string_view inA, const VJSONKey& inB) const { return inB.GetUnits() == inA; }
        bool operator()(const VJSONKey& inA, std::u16string_view inB) const { return inA.GetUnits() == inB; }
    };

    VJSONValue _Make(JSONType inType);
    static size_t _RecentSlot(std::u16string_view inUnits);
    uint32_t _NextStamp();

    uint32_t fNextStamp = 0;
    uint32_t fStampsLeft = 0;
    std::unordered_set<VJSONKey, KeyHash, KeyEqual> fKeys;
    // Documents repeat their names: the last key met in each of 2^kRecentBits slots, chosen by a
    // cheap mix of the name's length and first and last four units, answers most lookups with one
    // comparison and no full hash (made on the first name).
    static constexpr int kRecentBits = 10;
    std::unique_ptr<VJSONKey[]> fRecent;
};

} // namespace zorn
