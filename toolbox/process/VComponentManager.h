// VComponentManager: the process-wide registry of components (CComponent): the known types with
// their creators (registered by the program) or plug-in libraries (VLibrary), the live instances,
// and the outcome of each type's requirement check. It also picks the user-interface language
// of a bundle from its ".lproj" folders (GetLocalizationLanguage), which needs no registry.
//
// Choices made:
// - The registry exists between Init and DeInit; before Init every operation answers 1000 (or
//   null, false). Init and DeInit are called by one task while no other uses the registry.
// - Types and creators are guarded by one lock (with the check records' lock while they change),
//   instances by another, the check records by two more; locks are taken in the order instances,
//   types, checked records, checking list.
// - The registry holds a reference on each registered instance and on each plug-in library; DeInit
//   releases them. An instance that a plug-in made also holds its library, so that unregistering
//   the library never unloads code that a registered instance still runs; components the caller
//   holds itself must be released before their library is unregistered.
// - A plug-in library exports "Main", "GetNthComponentType" and "CreateComponent"
//   (CComponent.h); one that lacks any of them is refused with 1004 and left unloaded.
// - Family 'BBBB' matches any family.
// - A requirement block is read only within its length: a block shorter than its header, whose
//   count is negative or above kMaxRequirements, or whose pairs run past its end fails the check.
// - GetLocalizationLanguage with dialect 0 takes the main bundle's preferred localization (its
//   Contents/Resources/*.lproj names against the user's preferred languages, see there) and
//   searches no folder; a main bundle without localizations makes it search for 1033.
#pragma once

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/process/CComponent.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorn
{

class VFilePath;
class VFolder;

constexpr VError VE_COMPONENT_MANAGER_NOT_INITIALIZED = MakeVError(kCOMPONENT_ZORN, 1000);
constexpr VError VE_COMPONENT_NOT_FOUND = MakeVError(kCOMPONENT_ZORN, 1001);
constexpr VError VE_COMPONENT_ALREADY_REGISTERED = MakeVError(kCOMPONENT_ZORN, 1002);
constexpr VError VE_COMPONENT_INSTANCE_UNKNOWN = MakeVError(kCOMPONENT_ZORN, 1003);
constexpr VError VE_COMPONENT_LIBRARY_ENTRY_MISSING = MakeVError(kCOMPONENT_ZORN, 1004);
constexpr VError VE_COMPONENT_LIBRARY_LOAD_FAILED = MakeVError(kCOMPONENT_ZORN, 1008);

class VComponentManager
{
public:
    // Any family, in RetainComponent and the requirement checks.
    static constexpr uint32_t kAnyFamily = 0x42424242; // 'BBBB'
    // The selectors of a library's "Main".
    static constexpr uint32_t kLibraryRegister = 0x72656773; // 'regs'
    static constexpr uint32_t kLibraryLeave = 0x6C656176;    // 'leav'
    static constexpr int32_t kMaxRequirements = 4096;

    static bool Init();
    static void DeInit();
    static bool IsInitialized();

    static VError RegisterComponentLibrary(const VFilePath& inPath);
    static VError UnRegisterComponentLibrary(const VFilePath& inPath);
    static VError RegisterComponentCreator(uint32_t inType, ComponentCreator inCreator,
                                           bool inReplace = false);
    static VError UnRegisterComponentCreator(uint32_t inType, ComponentCreator inCreator);
    static VError UnRegisterComponentType(uint32_t inType);

    // A new component of the type, checked unless inSkipCheck; null when none.
    static CComponent* RetainUniqueComponent(uint32_t inType, uint32_t inFamily = kAnyFamily,
                                             bool inSkipCheck = false);
    // A registered instance of the type and family, else a new one, registered.
    static CComponent* RetainComponent(uint32_t inType, uint32_t inFamily = kAnyFamily);
    // Appends one component of each known type in that family (retained).
    static bool RetainComponentsOfFamily(uint32_t inFamily, std::vector<CComponent*>& outComponents);

    static VError RegisterComponentInstance(CComponent* inComponent);
    static VError UnRegisterComponentInstance(CComponent* inComponent);

    static bool IsComponentAvailable(uint32_t inType);
    // Whether the component's requirements are met (recorded per type). inKeepFound keeps the
    // required components found during the check until it ends; otherwise each is released as
    // soon as it was examined.
    static bool CheckComponentRequirements(CComponent* inComponent, bool inKeepFound = false);
    // Forgets the type's check record (the flag is kept for callers and not used).
    static void ResetComponentRequirements(uint32_t inType, bool inUnused = false);

    // A requirement of a block.
    struct Requirement
    {
        uint32_t fType = 0;
        int32_t fMinimumVersion = -1; // -1: any version
    };
    // Reads a requirement block of inCount words; false when it is missing or malformed (rules
    // above). Fills the component's version (word 5) and its requirements.
    static bool ReadRequirementBlock(const int32_t* inWords, size_t inCount, int32_t& outVersion,
                                     std::vector<Requirement>& outRequirements);

    // The dialect a bundle's user interface should use; -2 (as unsigned) when none.
    // inFolder is the bundle (inInsideBundle: its Contents/Resources is searched) or the folder
    // holding the ".lproj" folders; inDialect the one wanted, 0 for the main bundle's preference.
    static uint32_t GetLocalizationLanguage(VFolder* inFolder, bool inInsideBundle, uint32_t inDialect);

    // The localization the main bundle prefers among inLocalizations (".lproj" names without the
    // extension), for the user's preferred languages (most preferred first): the first language
    // that one of them names in full, else by its language alone; else inDevelopmentRegion when
    // it is one of them; else the first. Case and '-' or '_' do not count. Empty for no
    // localization.
    static std::string PreferredLocalization(const std::vector<std::string>& inLocalizations,
                                             const std::vector<std::string>& inPreferredLanguages,
                                             const std::string& inDevelopmentRegion);
};

} // namespace zorn
