#include "toolbox/intl/VUTI.h"

#include "toolbox/kernel/base/VRefPtr.h"

#include <algorithm>
#include <unordered_set>

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

bool VUTI::_HasTag(const std::vector<VString>& inTags, const VString& inTag)
{
    return std::any_of(inTags.begin(), inTags.end(),
                       [&inTag](const VString& inPresent) { return inPresent.EqualToString(inTag, false); });
}

const std::vector<VString>& VUTI::_TagsOf(ETagKind inKind) const
{
    switch (inKind)
    {
    case ETagKind::kOSType:
        return fOSTypes;
    case ETagKind::kMIMEType:
        return fMIMETypes;
    case ETagKind::kExtension:
        break;
    }
    return fExtensions;
}

template <class TMatch>
const VUTI* VUTI::_FindInWalk(bool inUp, bool inIncludeSelf, const TMatch& inMatch) const
{
    // Depth first in identifier order: the relatives of a type are pushed in reverse order so that
    // the first one is taken next. A type is expanded once.
    std::vector<const VUTI*> pending;
    std::unordered_set<const VUTI*> seen;
    auto pushRelatives = [&pending, inUp](const VUTI* inType)
    {
        const VUTIMap& relatives = inUp ? inType->fParents : inType->fChildren;
        for (auto it = relatives.rbegin(); it != relatives.rend(); ++it)
        {
            if (it->second != nullptr && !it->second->IsTemporary())
            {
                pending.push_back(it->second);
            }
        }
    };
    if (inIncludeSelf && inMatch(this))
    {
        return this;
    }
    pushRelatives(this);
    if (pending.empty())
    {
        return nullptr; // most types of a registry are leaves or roots: no set needed
    }
    seen.insert(this);
    while (!pending.empty())
    {
        const VUTI* type = pending.back();
        pending.pop_back();
        if (!seen.insert(type).second)
        {
            continue;
        }
        if (inMatch(type))
        {
            return type;
        }
        pushRelatives(type);
    }
    return nullptr;
}

bool VUTI::ConformsToIdentifier(const VString& inIdentifier) const
{
    if (inIdentifier.IsEmpty())
    {
        return false;
    }
    return _FindInWalk(true, true,
                       [&inIdentifier](const VUTI* inType)
                       { return inType->fIdentifier.EqualToString(inIdentifier, false); }) != nullptr;
}

VUTI* VUTI::_RetainHolderOfTag(ETagKind inKind, const VString& inTag) const
{
    const VUTI* found = _FindInWalk(
        true, true, [inKind, &inTag](const VUTI* inType) { return _HasTag(inType->_TagsOf(inKind), inTag); });
    if (found != nullptr)
    {
        found->Retain();
    }
    // The walk reaches only types of this graph, which callers may change.
    return const_cast<VUTI*>(found);
}

VUTI* VUTI::GetHighestParentThatConformsToExtension(const VString& inTag)
{
    return _RetainHolderOfTag(ETagKind::kExtension, inTag);
}

VUTI* VUTI::GetHighestParentThatConformsToOSType(const VString& inTag)
{
    return _RetainHolderOfTag(ETagKind::kOSType, inTag);
}

VUTI* VUTI::GetHighestParentThatConformsToMIMEType(const VString& inTag)
{
    return _RetainHolderOfTag(ETagKind::kMIMEType, inTag);
}

bool VUTI::ConformsToExtension(const VString& inTag) const
{
    VRefPtr<VUTI> found(_RetainHolderOfTag(ETagKind::kExtension, inTag), true);
    return found.Get() != nullptr;
}

bool VUTI::ConformsToOSType(const VString& inTag) const
{
    VRefPtr<VUTI> found(_RetainHolderOfTag(ETagKind::kOSType, inTag), true);
    return found.Get() != nullptr;
}

bool VUTI::ConformsToMIMEType(const VString& inTag) const
{
    VRefPtr<VUTI> found(_RetainHolderOfTag(ETagKind::kMIMEType, inTag), true);
    return found.Get() != nullptr;
}

void VUTI::GetAllExtensionsVector(std::vector<VString>& ioExtensions) const
{
    _FindInWalk(true, true,
                [&ioExtensions](const VUTI* inType)
                {
                    for (const VString& extension : inType->fExtensions)
                    {
                        if (!_HasTag(ioExtensions, extension))
                        {
                            ioExtensions.push_back(extension);
                        }
                    }
                    return false;
                });
}

bool VUTI::_HasRelative(const VUTIMap& inFirstLevel, bool inUp, const VUTI* inOther,
                        bool inCountTemporary) const
{
    if (inOther == nullptr)
    {
        return false;
    }
    const VString& identifier = inOther->fIdentifier;
    if (inCountTemporary)
    {
        for (const auto& [key, type] : inFirstLevel)
        {
            if (type != nullptr && type->IsTemporary() && type->fIdentifier.EqualToString(identifier, false))
            {
                return true;
            }
        }
    }
    return _FindInWalk(inUp, false,
                       [&identifier](const VUTI* inType)
                       { return inType->fIdentifier.EqualToString(identifier, false); }) != nullptr;
}

bool VUTI::IsParent(const VUTI* inOther) const
{
    return _HasRelative(fParents, true, inOther, false);
}

bool VUTI::IsChild(const VUTI* inOther) const
{
    return _HasRelative(fChildren, false, inOther, false);
}

bool VUTI::CouldBeAParent(const VUTI* inOther) const
{
    return _HasRelative(fParents, true, inOther, true);
}

bool VUTI::CouldBeAChild(const VUTI* inOther) const
{
    return _HasRelative(fChildren, false, inOther, true);
}

bool VUTI::IsChildOrChildOfAParent(const VUTI* inOther) const
{
    if (inOther == nullptr)
    {
        return false;
    }
    // The descendants of this type and of each of its ancestors: one walk down from all of them.
    std::vector<const VUTI*> ancestry;
    _FindInWalk(true, true,
                [&ancestry](const VUTI* inType)
                {
                    ancestry.push_back(inType);
                    return false;
                });
    const VString& identifier = inOther->fIdentifier;
    std::unordered_set<const VUTI*> seen;
    std::vector<const VUTI*> pending;
    for (auto it = ancestry.rbegin(); it != ancestry.rend(); ++it)
    {
        for (const auto& [key, child] : (*it)->fChildren)
        {
            if (child != nullptr && !child->IsTemporary())
            {
                pending.push_back(child);
            }
        }
    }
    while (!pending.empty())
    {
        const VUTI* type = pending.back();
        pending.pop_back();
        if (!seen.insert(type).second)
        {
            continue;
        }
        if (type->fIdentifier.EqualToString(identifier, false))
        {
            return true;
        }
        for (const auto& [key, child] : type->fChildren)
        {
            if (child != nullptr && !child->IsTemporary())
            {
                pending.push_back(child);
            }
        }
    }
    return false;
}

void VUTI::RemoveTemporaryUTI(const VString& inIdentifier)
{
    for (VUTIMap* map : {&fParents, &fChildren})
    {
        auto found = map->find(inIdentifier);
        if (found != map->end() && found->second != nullptr && found->second->IsTemporary())
        {
            VUTI* placeholder = found->second;
            map->erase(found);
            placeholder->Release();
        }
    }
}

void VUTI::_Detach()
{
    _ReleaseAll(fParents);
    _ReleaseAll(fChildren);
}

} // namespace zorn
