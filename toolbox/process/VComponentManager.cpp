#include "toolbox/process/VComponentManager.h"

#include "platform/Bundle.h"
#include "platform/PreferredLanguages.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/VLibrary.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/locks/VCriticalSection.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace zorn
{

namespace
{

constexpr uint32_t kNoDialect = static_cast<uint32_t>(-2);
constexpr uint32_t kEnglish = 1033;
constexpr size_t kRequirementHeaderWords = 11;

struct CheckRecord
{
    uint32_t fType = 0;
    bool fAvailable = false;
    bool fHasRequirements = false;
};

struct Registry
{
    // Parallel: index i describes one type.
    std::vector<uint32_t> fTypes;
    std::vector<ComponentCreator> fCreators;
    std::vector<VLibrary*> fLibraries;   // retained; null for a type with a creator only
    std::vector<CComponent*> fInstances; // retained
    // Parallel to fInstances: the library whose code made the instance (retained), null for the
    // program's own, so that the code stays loaded while the registry holds the instance.
    std::vector<VLibrary*> fInstanceLibraries;
    std::vector<CheckRecord> fChecked;
    std::vector<uint32_t> fChecking;
    VCriticalSection fAccessingTypes;
    VCriticalSection fAccessingInstances;
    VCriticalSection fAccessingChecked;
    VCriticalSection fAccessingChecking;
};

Registry& GetRegistry()
{
    static Registry sRegistry;
    return sRegistry;
}

std::atomic<bool> sIsInitialized{false};

void PushError(VError inError)
{
    _PushRetainedError(new VErrorBase(inError));
}

// Under fAccessingTypes.
size_t FindType(const Registry& inRegistry, uint32_t inType)
{
    auto found = std::find(inRegistry.fTypes.begin(), inRegistry.fTypes.end(), inType);
    return static_cast<size_t>(found - inRegistry.fTypes.begin());
}

// Forgets a type's check record; under fAccessingChecked.
void ForgetCheckRecord(Registry& ioRegistry, uint32_t inType)
{
    std::erase_if(ioRegistry.fChecked,
                  [inType](const CheckRecord& inRecord) { return inRecord.fType == inType; });
}

void* EntryPoint(VLibrary* inLibrary, const char* inName)
{
    return inLibrary == nullptr ? nullptr : inLibrary->GetProcAddress(VString(inName));
}

std::string NormalizedTag(std::string_view inTag)
{
    std::string tag(inTag);
    for (char& c : tag)
    {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tag;
}

std::string LanguageOfTag(const std::string& inNormalizedTag)
{
    return inNormalizedTag.substr(0, inNormalizedTag.find('-'));
}

// The dialect a language tag or an English language name stands for; false when none.
bool DialectOfLocalizationName(const VString& inName, bool inNameFirst, uint32_t& outDialect)
{
    uint32_t dialect = 0;
    if (inNameFirst && VIntlMgr::GetDialectCodeWithISOLanguageName(inName, dialect))
    {
        outDialect = dialect;
        return true;
    }
    if (VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(inName, dialect, true, true))
    {
        outDialect = dialect;
        return true;
    }
    if (!inNameFirst && VIntlMgr::GetDialectCodeWithISOLanguageName(inName, dialect))
    {
        outDialect = dialect;
        return true;
    }
    return false;
}

// The name before its first ".lproj", in UTF-8; empty when it holds none.
std::string LocalizationNameOf(const VString& inFolderName)
{
    const std::string name = to_string(inFolderName);
    const size_t cut = name.find(".lproj");
    return cut == std::string::npos ? std::string() : name.substr(0, cut);
}

// The main bundle's localizations: the names of its Contents/Resources/*.lproj folders, sorted.
std::vector<std::string> MainBundleLocalizations()
{
    std::vector<std::string> names;
    if (!platform::IsMainBundleInsideBundle())
    {
        return names;
    }
    const std::string resources = platform::GetMainBundleFolder() + "/Contents/Resources/";
    VFolder folder(VString(resources.data(), resources.size(), CharSet::VTC_UTF_8), FPS_POSIX);
    for (VFolderIterator item(&folder, 2); item.IsValid(); ++item)
    {
        VString name;
        item->GetName(name);
        std::string text = to_string(name);
        if (text.size() > 6 && text.ends_with(".lproj"))
        {
            text.resize(text.size() - 6);
            names.push_back(std::move(text));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// Life of the registry

bool VComponentManager::Init()
{
    if (!sIsInitialized.load(std::memory_order_acquire))
    {
        Registry& registry = GetRegistry();
        registry.fTypes.reserve(10);
        registry.fCreators.reserve(10);
        registry.fLibraries.reserve(10);
        registry.fInstances.reserve(10);
        sIsInitialized.store(true, std::memory_order_release);
    }
    return true;
}

void VComponentManager::DeInit()
{
    if (!sIsInitialized.exchange(false, std::memory_order_acq_rel))
    {
        return;
    }
    Registry& registry = GetRegistry();
    std::vector<CComponent*> instances;
    std::vector<VLibrary*> instanceLibraries;
    std::vector<VLibrary*> libraries;
    {
        StLocker<VCriticalSection> instancesLock(&registry.fAccessingInstances);
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        StLocker<VCriticalSection> checkingLock(&registry.fAccessingChecking);
        instances.swap(registry.fInstances);
        instanceLibraries.swap(registry.fInstanceLibraries);
        libraries.swap(registry.fLibraries);
        registry.fTypes.clear();
        registry.fCreators.clear();
        registry.fChecked.clear();
        registry.fChecking.clear();
    }
    for (CComponent* instance : instances)
    {
        instance->Release();
    }
    libraries.insert(libraries.end(), instanceLibraries.begin(), instanceLibraries.end());
    for (VLibrary* library : libraries)
    {
        if (library != nullptr)
        {
            library->Release();
        }
    }
}

bool VComponentManager::IsInitialized()
{
    return sIsInitialized.load(std::memory_order_acquire);
}

// Libraries and creators

VError VComponentManager::RegisterComponentLibrary(const VFilePath& inPath)
{
    if (!IsInitialized())
    {
        PushError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    Registry& registry = GetRegistry();
    {
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        for (VLibrary* library : registry.fLibraries)
        {
            if (library != nullptr && library->IsSameFile(inPath))
            {
                PushError(VE_COMPONENT_ALREADY_REGISTERED);
                return VE_COMPONENT_ALREADY_REGISTERED;
            }
        }
    }
    VRefPtr<VLibrary> library(new VLibrary(inPath), true);
    if (!library->Load())
    {
        _PushRetainedError(new VFileError(inPath, VE_COMPONENT_LIBRARY_LOAD_FAILED));
        return VE_MEMORY_FULL;
    }
    auto main = reinterpret_cast<ComponentLibraryMain>(EntryPoint(library.Get(), "Main"));
    auto getNthType =
        reinterpret_cast<ComponentLibraryGetNthType>(EntryPoint(library.Get(), "GetNthComponentType"));
    if (main == nullptr || getNthType == nullptr || EntryPoint(library.Get(), "CreateComponent") == nullptr)
    {
        library->Unload();
        return VE_COMPONENT_LIBRARY_ENTRY_MISSING;
    }
    StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
    StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
    main(kLibraryRegister, library.Get());
    uint32_t type = 0;
    for (int32_t n = 1; getNthType(n, &type); ++n)
    {
        size_t index = FindType(registry, type);
        if (index < registry.fTypes.size())
        {
            if (registry.fLibraries[index] != nullptr)
            {
                registry.fLibraries[index]->Release();
            }
            registry.fLibraries[index] = library.Get();
        }
        else
        {
            registry.fTypes.push_back(type);
            registry.fCreators.push_back(nullptr);
            registry.fLibraries.push_back(library.Get());
        }
        library->Retain();
        ForgetCheckRecord(registry, type);
    }
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentLibrary(const VFilePath& inPath)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    Registry& registry = GetRegistry();
    std::vector<VLibrary*> released;
    {
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        for (size_t i = registry.fTypes.size(); i-- > 0;)
        {
            VLibrary* library = registry.fLibraries[i];
            if (library == nullptr || !library->IsSameFile(inPath))
            {
                continue;
            }
            released.push_back(library);
            if (registry.fCreators[i] != nullptr)
            {
                registry.fLibraries[i] = nullptr;
            }
            else
            {
                ForgetCheckRecord(registry, registry.fTypes[i]);
                registry.fTypes.erase(registry.fTypes.begin() + static_cast<ptrdiff_t>(i));
                registry.fCreators.erase(registry.fCreators.begin() + static_cast<ptrdiff_t>(i));
                registry.fLibraries.erase(registry.fLibraries.begin() + static_cast<ptrdiff_t>(i));
            }
        }
    }
    if (released.empty())
    {
        return VE_COMPONENT_NOT_FOUND;
    }
    // Every entry held one reference on the same library; its "Main" hears once that it leaves.
    if (auto main = reinterpret_cast<ComponentLibraryMain>(EntryPoint(released.front(), "Main")))
    {
        main(kLibraryLeave, nullptr);
    }
    for (VLibrary* library : released)
    {
        library->Release();
    }
    return VE_OK;
}

VError VComponentManager::RegisterComponentCreator(uint32_t inType, ComponentCreator inCreator,
                                                   bool inReplace)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
    StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
    size_t index = FindType(registry, inType);
    if (index < registry.fTypes.size())
    {
        if (!inReplace && (registry.fCreators[index] != nullptr || registry.fLibraries[index] != nullptr))
        {
            return VE_COMPONENT_ALREADY_REGISTERED;
        }
        registry.fCreators[index] = inCreator;
    }
    else
    {
        registry.fTypes.push_back(inType);
        registry.fCreators.push_back(inCreator);
        registry.fLibraries.push_back(nullptr);
    }
    ForgetCheckRecord(registry, inType);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentCreator(uint32_t inType, ComponentCreator inCreator)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
    size_t index = FindType(registry, inType);
    if (index >= registry.fTypes.size() || registry.fCreators[index] != inCreator)
    {
        return VE_COMPONENT_NOT_FOUND;
    }
    return UnRegisterComponentType(inType);
}

VError VComponentManager::UnRegisterComponentType(uint32_t inType)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    Registry& registry = GetRegistry();
    VLibrary* library = nullptr;
    {
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        size_t index = FindType(registry, inType);
        if (index >= registry.fTypes.size())
        {
            return VE_COMPONENT_NOT_FOUND;
        }
        library = registry.fLibraries[index];
        const auto offset = static_cast<ptrdiff_t>(index);
        registry.fTypes.erase(registry.fTypes.begin() + offset);
        registry.fCreators.erase(registry.fCreators.begin() + offset);
        registry.fLibraries.erase(registry.fLibraries.begin() + offset);
        ForgetCheckRecord(registry, inType);
    }
    if (library != nullptr)
    {
        library->Release();
    }
    return VE_OK;
}

// Components

namespace
{

// A new component of the type, with the library whose code made it (retained, when asked and
// there is one); checked unless inSkipCheck.
CComponent* RetainNewComponent(uint32_t inType, uint32_t inFamily, bool inSkipCheck, VLibrary** outLibrary)
{
    if (!VComponentManager::IsInitialized())
    {
        return nullptr;
    }
    Registry& registry = GetRegistry();
    CComponent* component = nullptr;
    VLibrary* library = nullptr;
    {
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        size_t index = FindType(registry, inType);
        if (index >= registry.fTypes.size())
        {
            return nullptr;
        }
        if (registry.fCreators[index] != nullptr)
        {
            component = registry.fCreators[index](inType, inFamily);
        }
        else if (auto create = reinterpret_cast<ComponentLibraryCreate>(
                     EntryPoint(registry.fLibraries[index], "CreateComponent")))
        {
            component = create(inType, inFamily);
            library = registry.fLibraries[index];
        }
        if (component != nullptr && library != nullptr && outLibrary != nullptr)
        {
            library->Retain();
            *outLibrary = library;
        }
    }
    if (component != nullptr && !inSkipCheck &&
        !VComponentManager::CheckComponentRequirements(component, false))
    {
        component->Release();
        component = nullptr;
        if (outLibrary != nullptr && *outLibrary != nullptr)
        {
            (*outLibrary)->Release();
            *outLibrary = nullptr;
        }
    }
    return component;
}

} // namespace

CComponent* VComponentManager::RetainUniqueComponent(uint32_t inType, uint32_t inFamily, bool inSkipCheck)
{
    return RetainNewComponent(inType, inFamily, inSkipCheck, nullptr);
}

CComponent* VComponentManager::RetainComponent(uint32_t inType, uint32_t inFamily)
{
    if (!IsInitialized())
    {
        return nullptr;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> instancesLock(&registry.fAccessingInstances);
    for (CComponent* instance : registry.fInstances)
    {
        if (instance->GetComponentType() == inType &&
            (inFamily == kAnyFamily || instance->GetComponentFamily() == inFamily))
        {
            instance->Retain();
            return instance;
        }
    }
    VLibrary* library = nullptr;
    CComponent* component = RetainNewComponent(inType, inFamily, false, &library);
    if (component != nullptr)
    {
        component->Retain();
        registry.fInstances.push_back(component);
        registry.fInstanceLibraries.push_back(library);
    }
    return component;
}

bool VComponentManager::RetainComponentsOfFamily(uint32_t inFamily, std::vector<CComponent*>& outComponents)
{
    std::vector<uint32_t> types;
    if (IsInitialized())
    {
        Registry& registry = GetRegistry();
        StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
        types = registry.fTypes;
    }
    for (uint32_t type : types)
    {
        if (CComponent* component = RetainComponent(type, inFamily))
        {
            outComponents.push_back(component);
        }
    }
    return true;
}

VError VComponentManager::RegisterComponentInstance(CComponent* inComponent)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    if (inComponent == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> instancesLock(&registry.fAccessingInstances);
    if (std::find(registry.fInstances.begin(), registry.fInstances.end(), inComponent) !=
        registry.fInstances.end())
    {
        return VE_COMPONENT_ALREADY_REGISTERED;
    }
    inComponent->Retain();
    registry.fInstances.push_back(inComponent);
    registry.fInstanceLibraries.push_back(nullptr);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentInstance(CComponent* inComponent)
{
    if (!IsInitialized())
    {
        return VE_COMPONENT_MANAGER_NOT_INITIALIZED;
    }
    if (inComponent == nullptr)
    {
        return VE_INVALID_PARAMETER;
    }
    Registry& registry = GetRegistry();
    VLibrary* library = nullptr;
    {
        StLocker<VCriticalSection> instancesLock(&registry.fAccessingInstances);
        auto found = std::find(registry.fInstances.begin(), registry.fInstances.end(), inComponent);
        if (found == registry.fInstances.end())
        {
            return VE_COMPONENT_INSTANCE_UNKNOWN;
        }
        const auto index = found - registry.fInstances.begin();
        library = registry.fInstanceLibraries[static_cast<size_t>(index)];
        registry.fInstances.erase(found);
        registry.fInstanceLibraries.erase(registry.fInstanceLibraries.begin() + index);
    }
    inComponent->Release();
    if (library != nullptr)
    {
        library->Release();
    }
    return VE_OK;
}

bool VComponentManager::IsComponentAvailable(uint32_t inType)
{
    if (!IsInitialized())
    {
        return false;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> typesLock(&registry.fAccessingTypes);
    return FindType(registry, inType) < registry.fTypes.size();
}

// Requirements

bool VComponentManager::ReadRequirementBlock(const int32_t* inWords, size_t inCount, int32_t& outVersion,
                                             std::vector<Requirement>& outRequirements)
{
    outRequirements.clear();
    if (inWords == nullptr || inCount < kRequirementHeaderWords || inWords[0] < 65536 ||
        (inWords[1] >= 0 && inWords[1] <= 51))
    {
        return false;
    }
    const int32_t count = inWords[10];
    if (count < 0 || count > kMaxRequirements ||
        static_cast<size_t>(count) > (inCount - kRequirementHeaderWords) / 2)
    {
        return false;
    }
    outVersion = inWords[5];
    outRequirements.reserve(static_cast<size_t>(count));
    for (size_t i = 0; i < static_cast<size_t>(count); ++i)
    {
        const int32_t* pair = inWords + kRequirementHeaderWords + 2 * i;
        outRequirements.push_back({static_cast<uint32_t>(pair[0]), pair[1]});
    }
    return true;
}

bool VComponentManager::CheckComponentRequirements(CComponent* inComponent, bool inKeepFound)
{
    if (inComponent == nullptr || !IsInitialized())
    {
        return false;
    }
    Registry& registry = GetRegistry();
    const uint32_t type = inComponent->GetComponentType();
    {
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        for (const CheckRecord& record : registry.fChecked)
        {
            if (record.fType == type)
            {
                return record.fAvailable;
            }
        }
    }
    auto isChecked = [&registry](uint32_t inType)
    {
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        return std::any_of(registry.fChecked.begin(), registry.fChecked.end(),
                           [inType](const CheckRecord& inRecord) { return inRecord.fType == inType; });
    };
    auto isChecking = [&registry](uint32_t inType)
    {
        StLocker<VCriticalSection> checkingLock(&registry.fAccessingChecking);
        return std::find(registry.fChecking.begin(), registry.fChecking.end(), inType) !=
               registry.fChecking.end();
    };
    {
        StLocker<VCriticalSection> checkingLock(&registry.fAccessingChecking);
        registry.fChecking.push_back(type);
    }

    const std::vector<int32_t> block = inComponent->GetRequirementBlock();
    int32_t version = 0;
    std::vector<Requirement> requirements;
    bool available = ReadRequirementBlock(block.data(), block.size(), version, requirements);
    bool hasRequirements = false;
    std::vector<CComponent*> kept;
    for (size_t i = 0; available && i < requirements.size(); ++i)
    {
        const Requirement& requirement = requirements[i];
        if (requirement.fType == type)
        {
            continue;
        }
        hasRequirements = true;
        const bool known = isChecked(requirement.fType) || isChecking(requirement.fType);
        if (known && requirement.fMinimumVersion == -1)
        {
            continue;
        }
        CComponent* found = RetainUniqueComponent(requirement.fType, kAnyFamily, known);
        if (found == nullptr)
        {
            available = false;
            break;
        }
        if (requirement.fMinimumVersion != -1)
        {
            const std::vector<int32_t> foundBlock = found->GetRequirementBlock();
            int32_t foundVersion = 0;
            std::vector<Requirement> foundRequirements;
            available =
                ReadRequirementBlock(foundBlock.data(), foundBlock.size(), foundVersion, foundRequirements) &&
                foundVersion >= requirement.fMinimumVersion;
        }
        if (inKeepFound)
        {
            kept.push_back(found);
        }
        else
        {
            found->Release();
        }
    }
    {
        StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
        ForgetCheckRecord(registry, type);
        registry.fChecked.push_back({type, available, hasRequirements});
    }
    {
        StLocker<VCriticalSection> checkingLock(&registry.fAccessingChecking);
        auto found = std::find(registry.fChecking.begin(), registry.fChecking.end(), type);
        if (found != registry.fChecking.end())
        {
            registry.fChecking.erase(found);
        }
    }
    for (CComponent* component : kept)
    {
        component->Release();
    }
    return available;
}

void VComponentManager::ResetComponentRequirements(uint32_t inType, bool /*inUnused*/)
{
    if (!IsInitialized())
    {
        return;
    }
    Registry& registry = GetRegistry();
    StLocker<VCriticalSection> checkedLock(&registry.fAccessingChecked);
    ForgetCheckRecord(registry, inType);
}

// Language of a bundle

std::string VComponentManager::PreferredLocalization(const std::vector<std::string>& inLocalizations,
                                                     const std::vector<std::string>& inPreferredLanguages,
                                                     const std::string& inDevelopmentRegion)
{
    if (inLocalizations.empty())
    {
        return {};
    }
    // Each localization as a tag: an English language name ("French") stands for its code.
    std::vector<std::string> tags;
    for (const std::string& localization : inLocalizations)
    {
        uint32_t dialect = 0;
        VString code;
        if (VIntlMgr::GetDialectCodeWithISOLanguageName(
                VString(localization.data(), localization.size(), CharSet::VTC_UTF_8), dialect) &&
            VIntlMgr::GetISO6391LanguageCode(dialect, code))
        {
            tags.push_back(NormalizedTag(to_string(code)));
        }
        else
        {
            tags.push_back(NormalizedTag(localization));
        }
    }
    for (const std::string& language : inPreferredLanguages)
    {
        const std::string wanted = NormalizedTag(language);
        auto full = std::find(tags.begin(), tags.end(), wanted);
        if (full != tags.end())
        {
            return inLocalizations[static_cast<size_t>(full - tags.begin())];
        }
        const std::string wantedLanguage = LanguageOfTag(wanted);
        for (size_t i = 0; i < tags.size(); ++i)
        {
            if (tags[i] == wantedLanguage)
            {
                return inLocalizations[i];
            }
        }
    }
    if (!inDevelopmentRegion.empty())
    {
        const std::string region = NormalizedTag(inDevelopmentRegion);
        for (size_t i = 0; i < inLocalizations.size(); ++i)
        {
            if (NormalizedTag(inLocalizations[i]) == region)
            {
                return inLocalizations[i];
            }
        }
    }
    return inLocalizations.front();
}

uint32_t VComponentManager::GetLocalizationLanguage(VFolder* inFolder, bool inInsideBundle,
                                                    uint32_t inDialect)
{
    if (inFolder == nullptr || !inFolder->Exists())
    {
        return kNoDialect;
    }
    uint32_t wanted = inDialect;
    if (wanted == 0)
    {
        const std::vector<std::string> localizations = MainBundleLocalizations();
        if (!localizations.empty())
        {
            const std::string preferred = PreferredLocalization(
                localizations, platform::GetPreferredLanguages(),
                platform::GetMainBundleInfoString("CFBundleDevelopmentRegion").value_or(std::string()));
            uint32_t dialect = kEnglish;
            if (!DialectOfLocalizationName(VString(preferred.data(), preferred.size(), CharSet::VTC_UTF_8),
                                           true, dialect))
            {
                dialect = kEnglish;
            }
            return dialect;
        }
        wanted = kEnglish;
    }

    VFilePath searchedPath = inFolder->GetPath();
    if (inInsideBundle &&
        !(searchedPath.ToSubFolder(VString("Contents")) && searchedPath.ToSubFolder(VString("Resources"))))
    {
        return kNoDialect;
    }
    VFolder searched(searchedPath);
    bool foundWanted = false;
    bool sawEnglish = false;
    uint32_t last = kNoDialect;
    constexpr uint32_t kFoldersResolvingLinks = 2 | 16;
    for (VFolderIterator folder(&searched, kFoldersResolvingLinks); folder.IsValid(); ++folder)
    {
        VString folderName;
        folder->GetName(folderName);
        const std::string name = LocalizationNameOf(folderName);
        uint32_t dialect = 0;
        if (name.empty() ||
            !DialectOfLocalizationName(VString(name.data(), name.size(), CharSet::VTC_UTF_8), false, dialect))
        {
            continue;
        }
        last = dialect;
        if (dialect == kEnglish)
        {
            sawEnglish = true;
        }
        if (dialect == wanted)
        {
            foundWanted = true;
            break;
        }
    }
    if (foundWanted)
    {
        return wanted;
    }
    return sawEnglish ? kEnglish : last;
}

} // namespace zorn
