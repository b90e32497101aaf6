#include "toolbox/intl/VUTI.h"

#include <algorithm>

namespace zorn
{

VUTI::~VUTI()
{
    _Detach();
}

bool VUTI::IsPublic() const
{
    return fIdentifier.BeginsWith(VString("public"), false);
}

void VUTI::_AddTag(std::vector<VString>& ioTags, const VString& inTag)
{
    if (std::none_of(ioTags.begin(), ioTags.end(),
                     [&inTag](const VString& inPresent) { return inPresent.EqualToString(inTag, false); }))
    {
        ioTags.push_back(inTag);
    }
}

bool VUTI::_AddToMap(VUTIMap& ioMap, VUTI* inType)
{
    if (inType == nullptr || inType->GetIdentifier().IsEmpty() || ioMap.contains(inType->GetIdentifier()))
    {
        return false;
    }
    inType->Retain();
    ioMap.emplace(inType->GetIdentifier(), inType);
    return true;
}

void VUTI::_ReplaceMap(VUTIMap& ioMap, const VUTIMap& inNew)
{
    // Retain the new ones first: the two maps may share types.
    for (const auto& [identifier, type] : inNew)
    {
        if (type != nullptr)
        {
            type->Retain();
        }
    }
    VUTIMap old;
    old.swap(ioMap);
    ioMap = inNew;
    _ReleaseAll(old);
}

void VUTI::_ReleaseAll(VUTIMap& ioMap)
{
    VUTIMap held;
    held.swap(ioMap);
    for (const auto& [identifier, type] : held)
    {
        if (type != nullptr)
        {
            type->Release();
        }
    }
}

void VUTI::_Detach()
{
    _ReleaseAll(fParents);
    _ReleaseAll(fChildren);
}

} // namespace zorn
