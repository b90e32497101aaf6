// VBagArray: the list of child bags under one element name of a value bag. Positions are 1-based;
// the list holds one reference on every bag in it.
//
// Choices made where several were possible:
// - Delete (by bag) releases the list's reference like DeleteNth: a removed bag the list no
//   longer holds must not keep a count that nobody will drop.
// - ReadFromStreamMinimal is a reader of outside input: a bag count larger than the bytes left
//   is refused (every bag takes at least its flags byte) before room is reserved.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VValueBag;
class VStream;
class VString;

class VBagArray : public VObject, public IRefCountable
{
public:
    VBagArray() = default;
    // Deep copy: every bag copied.
    VBagArray(const VBagArray& inOther);
    VBagArray& operator=(const VBagArray&) = delete;
    ~VBagArray() override;

    int32_t GetCount() const { return static_cast<int32_t>(fBags.size()); }
    bool IsEmpty() const { return fBags.empty(); }
    // The n-th bag (no reference added), null out of range.
    VValueBag* GetNth(int32_t inIndex) const;
    VValueBag* operator[](int32_t inIndex) const { return GetNth(inIndex); }

    // False for null or without room; appends and retains.
    bool AddTail(VValueBag* inBag);
    // Inserts before position n (at the front below 1, at the end past the count) and retains.
    bool AddNth(VValueBag* inBag, int32_t inIndex);
    // Stores a different non-null bag at an existing position, releasing the old one.
    void SetNth(VValueBag* inBag, int32_t inIndex);
    // The n-th bag retained; out of range (or null there), a new empty bag. Never null.
    VValueBag* RetainNth(int32_t inIndex) const;
    // Appends the list as a JSON array of its bags' objects (VValueBag::_GetJSONString).
    void _GetJSONString(VString& ioOut, int32_t& ioLevel, bool inPretty, uint32_t inOptions) const;
    // Releases and removes the n-th bag.
    void DeleteNth(int32_t inIndex);
    // Removes (and releases) the first entry that is this bag.
    void Delete(const VValueBag* inBag);
    // 1-based position of the first entry that is this bag, 0 when absent.
    int32_t Find(const VValueBag* inBag) const;
    // Releases every bag.
    void Destroy();

    // The bag count, then every bag's body with its hash index.
    VError WriteToStreamMinimal(VStream* ioStream) const;
    // Replaces the content with the bags read; on failure the list is left empty. inDepth is the
    // nesting depth of the bags read (see VValueBag::kMaxStreamDepth).
    VError ReadFromStreamMinimal(VStream* ioStream, int32_t inDepth = 1);

private:
    std::vector<VValueBag*> fBags;
};

// The element dictionary holds references on lists directly.
using VPackedValue_VBagArray = VBagArray;

} // namespace zorn
