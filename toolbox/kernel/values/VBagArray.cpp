#include "toolbox/kernel/values/VBagArray.h"

#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <new>

namespace zorn
{

VBagArray::VBagArray(const VBagArray& inOther) : VObject(inOther), IRefCountable()
{
    if (!detail::ReserveFor(fBags, inOther.fBags.size()))
    {
        return;
    }
    for (const VValueBag* bag : inOther.fBags)
    {
        fBags.push_back(new VValueBag(*bag));
    }
}

VBagArray::~VBagArray()
{
    Destroy();
}

VValueBag* VBagArray::GetNth(int32_t inIndex) const
{
    return inIndex >= 1 && inIndex <= GetCount() ? fBags[static_cast<size_t>(inIndex - 1)] : nullptr;
}

bool VBagArray::AddTail(VValueBag* inBag)
{
    return AddNth(inBag, GetCount() + 1);
}

bool VBagArray::AddNth(VValueBag* inBag, int32_t inIndex)
{
    if (inBag == nullptr || !detail::ReserveFor(fBags, fBags.size() + 1))
    {
        return false;
    }
    size_t at = static_cast<size_t>(std::clamp(inIndex, 1, GetCount() + 1) - 1);
    fBags.insert(fBags.begin() + static_cast<ptrdiff_t>(at), inBag);
    inBag->Retain();
    return true;
}

void VBagArray::SetNth(VValueBag* inBag, int32_t inIndex)
{
    if (inBag == nullptr || inIndex < 1 || inIndex > GetCount())
    {
        return;
    }
    VValueBag*& slot = fBags[static_cast<size_t>(inIndex - 1)];
    if (slot != inBag)
    {
        inBag->Retain();
        ReleaseRefCountable(&slot);
        slot = inBag;
    }
}

VValueBag* VBagArray::RetainNth(int32_t inIndex) const
{
    VValueBag* bag = GetNth(inIndex);
    return bag != nullptr ? RetainRefCountable(bag) : new VValueBag();
}

void VBagArray::DeleteNth(int32_t inIndex)
{
    if (inIndex < 1 || inIndex > GetCount())
    {
        return;
    }
    auto at = fBags.begin() + (inIndex - 1);
    VValueBag* bag = *at;
    fBags.erase(at);
    ReleaseRefCountable(&bag);
}

void VBagArray::Delete(const VValueBag* inBag)
{
    if (int32_t at = Find(inBag); at > 0)
    {
        DeleteNth(at);
    }
}

int32_t VBagArray::Find(const VValueBag* inBag) const
{
    auto found = std::find(fBags.begin(), fBags.end(), inBag);
    return found == fBags.end() ? 0 : static_cast<int32_t>(found - fBags.begin()) + 1;
}

void VBagArray::Destroy()
{
    std::vector<VValueBag*> bags;
    bags.swap(fBags);
    for (VValueBag* bag : bags)
    {
        ReleaseRefCountable(&bag);
    }
}

} // namespace zorn
