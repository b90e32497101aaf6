#include "toolbox/intl/VUTIManager.h"

#include "platform/SharedMimeInfo.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VSharedMimeInfoReader.h"
#include "toolbox/intl/VUTIManagerXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace zorn
{

namespace
{

std::atomic<VUTIManager*> sSingleton{nullptr};

std::mutex& SingletonMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

} // namespace

const VString& VUTIManager::GetExtensionTagClass()
{
    static const VString sTagClass("public.filename-extension");
    return sTagClass;
}

const VString& VUTIManager::GetMIMETypeTagClass()
{
    static const VString sTagClass("public.mime-type");
    return sTagClass;
}

const VString& VUTIManager::GetOSTypeTagClass()
{
    static const VString sTagClass("com.apple.ostype");
    return sTagClass;
}

VUTIManager::VUTIManager() : fParser(std::make_unique<VXMLParser>())
{
    VXMLParser::Init();
    fRootHandler.Adopt(new VUTIManagerXMLHandler(this));
}

VUTIManager::~VUTIManager()
{
    fRootHandler = nullptr;
    fParser.reset();
    VXMLParser::DeInit();
    VUTIMap types;
    types.swap(fUTIs);
    for (const auto& [identifier, type] : types)
    {
        type->_Detach();
        type->Release();
    }
}

VUTIManager* VUTIManager::GetUTIManager()
{
    VUTIManager* manager = sSingleton.load(std::memory_order_acquire);
    if (manager == nullptr)
    {
        std::lock_guard<std::mutex> lock(SingletonMutex());
        manager = sSingleton.load(std::memory_order_relaxed);
        if (manager == nullptr)
        {
            manager = new VUTIManager();
            sSingleton.store(manager, std::memory_order_release);
        }
    }
    return manager;
}

bool VUTIManager::DeInit()
{
    VUTIManager* manager = nullptr;
    {
        std::lock_guard<std::mutex> lock(SingletonMutex());
        manager = sSingleton.exchange(nullptr, std::memory_order_acq_rel);
    }
    if (manager != nullptr)
    {
        manager->Release();
    }
    return true;
}

void VUTIManager::Delete()
{
    DeInit();
}

bool VUTIManager::AddNewUTI(VUTI* inType)
{
    if (inType == nullptr || inType->GetIdentifier().IsEmpty() || fUTIs.contains(inType->GetIdentifier()))
    {
        return false;
    }
    inType->Retain();
    fUTIs.emplace(inType->GetIdentifier(), inType);
    if (fAddedByParse != nullptr)
    {
        fAddedByParse->push_back(inType->GetIdentifier());
    }
    return true;
}

void VUTIManager::_RemoveUTI(const VString& inIdentifier)
{
    auto found = fUTIs.find(inIdentifier);
    if (found != fUTIs.end())
    {
        VUTI* type = found->second;
        fUTIs.erase(found);
        type->_Detach();
        type->Release();
    }
}

VUTI* VUTIManager::GetUTI(const VString& inIdentifier)
{
    _LoadSystemTypes();
    auto found = fUTIs.find(inIdentifier);
    return found == fUTIs.end() ? nullptr : found->second;
}

void VUTIManager::SetSystemTypesFile(VFile* inFile)
{
    fSystemTypesFileSet = true;
    fSystemTypesFile.Set(inFile);
}

void VUTIManager::_LoadSystemTypes()
{
    if (fSystemTypesRead)
    {
        return;
    }
    fSystemTypesRead = true;
    VRefPtr<VFile> file = fSystemTypesFile;
    if (!fSystemTypesFileSet)
    {
        const std::string path = platform::FindSharedMimeInfoDatabase();
        if (!path.empty())
        {
            file.Adopt(new VFile(VString(path.c_str()), FPS_POSIX));
        }
    }
    if (!file)
    {
        return;
    }
    std::vector<VRefPtr<VUTI>> types;
    {
        // The caller asked for a type, not for the system's file: its errors stay here.
        StErrorContextInstaller quiet(false, true);
        if (!VSharedMimeInfoReader::ReadTypes(file.Get(), types))
        {
            return;
        }
    }
    for (const VRefPtr<VUTI>& type : types)
    {
        if (AddNewUTI(type.Get()))
        {
            fSystemIdentifiers.insert(type->GetIdentifier());
        }
    }
    _LinkPlaceholders();
}

bool VUTIManager::_ParseDeclarations(IFile* inFile)
{
    if (inFile == nullptr)
    {
        return false;
    }
    fRootHandler->Reset();
    std::vector<VString> added;
    fAddedByParse = &added;
    const bool parsed = fParser->Parse(inFile, fRootHandler.Get(), XML_ValidationNever);
    fAddedByParse = nullptr;
    if (!parsed)
    {
        // All or nothing: a file that does not parse leaves the registry as it was.
        for (const VString& identifier : added)
        {
            _RemoveUTI(identifier);
        }
    }
    return parsed;
}

bool VUTIManager::LoadXMLFile(VFile* inFile)
{
    if (inFile == nullptr || !inFile->Exists())
    {
        return false;
    }
    _LoadSystemTypes();
    if (!_ParseDeclarations(inFile))
    {
        return false;
    }
    ProcessExtractedUTIs();
    return true;
}

bool VUTIManager::AnalyzeXMLFile(const VFile* inFile)
{
    _LoadSystemTypes();
    // The parser reads the file without changing it.
    _ParseDeclarations(const_cast<VFile*>(inFile));
    return false;
}

void VUTIManager::ProcessExtractedUTIs()
{
    _LinkPlaceholders();
    _RegisterFileKinds();
}

namespace
{

// The key under which identifiers that may be equal meet: printable ASCII identifiers by their
// lower-case text (EqualToString then compares them as ASCII without case), every other one under
// the empty key, which meets every identifier.
std::u16string MatchKey(const VString& inIdentifier)
{
    std::u16string key;
    for (int32_t i = 0; i < inIdentifier.GetLength(); ++i)
    {
        const UniChar c = inIdentifier.GetCPointer()[i];
        if (c < 0x20 || c > 0x7E)
        {
            return {};
        }
        key.push_back(static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
    }
    return key;
}

} // namespace

void VUTIManager::_LinkPlaceholders()
{
    // For every registered type A (identifier order) and every other registered type B (identifier
    // order) holding a placeholder parent named like A: B becomes A's child, unless B already
    // descends from A, A descends from B (a loop), or A conforms to a type of its own name. The candidates B
    // of each A are found through an index of the placeholders' names instead of a pass over every pair.
    std::unordered_map<const VUTI*, size_t> order;
    std::unordered_map<std::u16string, std::vector<VUTI*>> childrenByKey;
    std::vector<VUTI*> childrenOfOddNames; // placeholders whose names are not printable ASCII
    std::vector<VUTI*> allWithPlaceholders;
    for (const auto& [identifier, type] : fUTIs)
    {
        order.emplace(type, order.size());
        bool any = false;
        bool odd = false;
        std::unordered_set<std::u16string> keys;
        for (const auto& [parentID, parent] : type->GetParentUTIsMap())
        {
            if (parent != nullptr && parent->IsTemporary())
            {
                any = true;
                std::u16string key = MatchKey(parentID);
                if (key.empty())
                {
                    odd = true;
                }
                else if (keys.insert(key).second)
                {
                    childrenByKey[key].push_back(type);
                }
            }
        }
        if (any)
        {
            allWithPlaceholders.push_back(type);
        }
        if (odd)
        {
            childrenOfOddNames.push_back(type);
        }
    }
    if (allWithPlaceholders.empty())
    {
        return;
    }
    for (const auto& [identifier, parent] : fUTIs)
    {
        const std::u16string key = MatchKey(identifier);
        std::vector<VUTI*> candidates;
        if (key.empty())
        {
            candidates = allWithPlaceholders;
        }
        else
        {
            if (auto found = childrenByKey.find(key); found != childrenByKey.end())
            {
                candidates = found->second;
            }
            if (!childrenOfOddNames.empty())
            {
                candidates.insert(candidates.end(), childrenOfOddNames.begin(), childrenOfOddNames.end());
                std::sort(candidates.begin(), candidates.end(),
                          [&order](const VUTI* inA, const VUTI* inB) { return order[inA] < order[inB]; });
                candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
            }
        }
        for (VUTI* child : candidates)
        {
            if (child == parent)
            {
                continue;
            }
            for (const auto& [placeholderID, placeholder] : child->GetParentUTIsMap())
            {
                if (placeholder == nullptr || !placeholder->IsTemporary() ||
                    !UTTypeEqual(placeholderID, parent->GetIdentifier()))
                {
                    continue;
                }
                // Already a descendant of A: nothing to add. (A descendant of one of A's ancestors
                // is linked all the same: it declared that it conforms to A, and would not
                // otherwise, depending only on the order of the identifiers.)
                if (parent->IsChild(child) || parent->IsParent(placeholder) || parent->IsParent(child))
                {
                    continue;
                }
                child->RemoveTemporaryUTI(parent->GetIdentifier());
                parent->AddChildUTI(child);
                child->AddParentUTI(parent);
            }
        }
    }
}

void VUTIManager::_RegisterFileKinds()
{
    VFileKindManager* kinds = VFileKindManager::Get();
    if (kinds == nullptr || fUTIs.empty())
    {
        return;
    }
    for (const auto& [identifier, type] : fUTIs)
    {
        if (fSystemIdentifiers.contains(identifier))
        {
            continue;
        }
        VString description = type->GetDescription();
        if (fLocalizationManager != nullptr && !description.IsEmpty())
        {
            VString localized;
            if (fLocalizationManager->LocalizeStringWithDotStringsKey(description, localized))
            {
                description = localized;
            }
        }
        std::vector<VString> parents;
        for (const auto& [parentID, parent] : type->GetParentUTIsMap())
        {
            parents.push_back(parentID);
        }
        kinds->RegisterPrivateFileKind(identifier, type->GetOSTypesVector(), description,
                                       type->GetExtensionsVector(), parents);
    }
}

namespace
{

enum class ETagClass
{
    kExtension,
    kOSType,
    kMIMEType,
    kOther
};

ETagClass TagClassOf(const VString& inTagClass)
{
    if (inTagClass.EqualToString(VUTIManager::GetExtensionTagClass(), false))
    {
        return ETagClass::kExtension;
    }
    if (inTagClass.EqualToString(VUTIManager::GetOSTypeTagClass(), false))
    {
        return ETagClass::kOSType;
    }
    if (inTagClass.EqualToString(VUTIManager::GetMIMETypeTagClass(), false))
    {
        return ETagClass::kMIMEType;
    }
    return ETagClass::kOther;
}

// The type's lookup for the tag of that class, with a reference; null for another class.
VUTI* RetainHolderOfTag(VUTI& inType, ETagClass inClass, const VString& inTag)
{
    switch (inClass)
    {
    case ETagClass::kExtension:
        return inType.GetHighestParentThatConformsToExtension(inTag);
    case ETagClass::kOSType:
        return inType.GetHighestParentThatConformsToOSType(inTag);
    case ETagClass::kMIMEType:
        return inType.GetHighestParentThatConformsToMIMEType(inTag);
    case ETagClass::kOther:
        break;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<std::vector<VRefPtr<VUTI>>>
VUTIManager::UTTypeCreateAllIdentifiersForTag(const VString& inTagClass, const VString& inTag, const VString&)
{
    if (inTagClass.IsEmpty() || inTag.IsEmpty())
    {
        return nullptr;
    }
    _LoadSystemTypes();
    auto result = std::make_unique<std::vector<VRefPtr<VUTI>>>();
    const ETagClass tagClass = TagClassOf(inTagClass);
    if (tagClass == ETagClass::kOther)
    {
        return result;
    }
    for (const auto& [identifier, type] : fUTIs)
    {
        VRefPtr<VUTI> holder(RetainHolderOfTag(*type, tagClass, inTag), true);
        if (holder)
        {
            result->emplace_back(type);
        }
    }
    return result;
}

VUTI* VUTIManager::UTTypeCreatePreferredIdentifierForTag(const VString& inTagClass, const VString& inTag,
                                                         const VString& inConformingTo)
{
    if (inTagClass.IsEmpty() || inTag.IsEmpty())
    {
        return nullptr;
    }
    _LoadSystemTypes();
    const ETagClass tagClass = TagClassOf(inTagClass);
    if (tagClass == ETagClass::kOther)
    {
        return nullptr;
    }
    std::vector<VRefPtr<VUTI>> candidates;
    std::unordered_set<const VUTI*> present;
    bool anyPublic = false;
    bool anyPrivate = false;
    for (const auto& [identifier, type] : fUTIs)
    {
        VRefPtr<VUTI> candidate(RetainHolderOfTag(*type, tagClass, inTag), true);
        if (!candidate || present.contains(candidate.Get()) ||
            (!inConformingTo.IsEmpty() && !candidate->ConformsToIdentifier(inConformingTo)))
        {
            continue;
        }
        present.insert(candidate.Get());
        (candidate->IsPublic() ? anyPublic : anyPrivate) = true;
        candidates.push_back(std::move(candidate));
    }
    for (VRefPtr<VUTI>& candidate : candidates)
    {
        // Public types win over the others.
        if (!anyPublic || !anyPrivate || candidate->IsPublic())
        {
            return RetainRefCountable(candidate.Get());
        }
    }
    return nullptr;
}

bool VUTIManager::UTTypeConformsTo(VFile* inFile, const VString& inIdentifier)
{
    if (inFile == nullptr || inIdentifier.IsEmpty() || !inFile->Exists())
    {
        return false;
    }
    VRefPtr<VUTI> byExtension;
    VString extension;
    inFile->GetExtension(extension);
    if (!extension.IsEmpty())
    {
        byExtension.Adopt(
            UTTypeCreatePreferredIdentifierForTag(GetExtensionTagClass(), extension, VString()));
    }
    // No OS type on Linux: MAC_GetKind answers 0, which names no type.
    VRefPtr<VUTI> byOSType;
    uint32_t kind = 0;
    if (inFile->MAC_GetKind(&kind) == VE_OK && kind != 0)
    {
        VString tag;
        tag.FromOsType(kind);
        byOSType.Adopt(UTTypeCreatePreferredIdentifierForTag(GetOSTypeTagClass(), tag, VString()));
    }
    VUTI* chosen = byExtension.Get();
    if (!byExtension)
    {
        chosen = byOSType.Get();
    }
    else if (byOSType && !UTTypeEqual(byOSType->GetIdentifier(), byExtension->GetIdentifier()) &&
             byOSType->IsParent(byExtension.Get()))
    {
        // The OS type names a more specific type than the extension does.
        chosen = byOSType.Get();
    }
    return chosen != nullptr && chosen->ConformsToIdentifier(inIdentifier);
}

} // namespace zorn
