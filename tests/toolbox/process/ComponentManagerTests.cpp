#include "platform/Bundle.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/process/VComponentManager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr uint32_t kNoDialect = static_cast<uint32_t>(-2);
constexpr uint32_t kPluginTypeA = 0x506C6741;  // 'PlgA'
constexpr uint32_t kPluginTypeB = 0x506C6742;  // 'PlgB'
constexpr uint32_t kPluginFamily = 0x46616D31; // 'Fam1'

std::string MakeTempFolder()
{
    char pattern[] = "/tmp/zorn_components_XXXXXX";
    EXPECT_NE(::mkdtemp(pattern), nullptr);
    return pattern;
}

void MakeFolders(const std::string& inRoot, const std::vector<std::string>& inNames)
{
    for (const std::string& name : inNames)
    {
        std::system(("mkdir -p '" + inRoot + "/" + name + "'").c_str());
    }
}

VFilePath PathOf(const std::string& inPosix, bool inFolder)
{
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(inPosix.c_str(), inFolder, path);
    return path;
}

// A component of the program with a requirement block of its own.
class TestComponent : public CComponent
{
public:
    TestComponent(uint32_t inType, std::vector<int32_t> inBlock) : fType(inType), fBlock(std::move(inBlock))
    {
    }
    uint32_t GetComponentType() const override { return fType; }
    std::vector<int32_t> GetRequirementBlock() const override { return fBlock; }

private:
    uint32_t fType;
    std::vector<int32_t> fBlock;
};

// A block of version inVersion with the given (type, minimum version) pairs.
std::vector<int32_t> Block(int32_t inVersion, std::vector<std::pair<uint32_t, int32_t>> inRequirements = {})
{
    std::vector<int32_t> block = {
        65536, 100, 0, 0, 0, inVersion, 0, 0, 0, 0, static_cast<int32_t>(inRequirements.size())};
    for (const auto& [type, version] : inRequirements)
    {
        block.push_back(static_cast<int32_t>(type));
        block.push_back(version);
    }
    return block;
}

constexpr uint32_t kTypeOld = 0x4F6C6431;      // 'Old1': version 1
constexpr uint32_t kTypeNew = 0x4E657733;      // 'New3': version 3
constexpr uint32_t kTypeMissing = 0x4D697373;  // 'Miss': never registered
constexpr uint32_t kTypeNeedsNew = 0x52657131; // 'Req1': needs New3 at version 2
constexpr uint32_t kTypeNeedsOld = 0x52657132; // 'Req2': needs Old1 at version 2
constexpr uint32_t kTypeNeedsMissing = 0x52657133;
constexpr uint32_t kTypeHuge = 0x48756765;   // 'Huge': a block claiming 1,000,000 requirements
constexpr uint32_t kTypeCycleA = 0x43796341; // 'CycA' and 'CycB' need each other
constexpr uint32_t kTypeCycleB = 0x43796342;

CComponent* CreateTestComponent(uint32_t inType, uint32_t)
{
    switch (inType)
    {
    case kTypeOld:
        return new TestComponent(inType, Block(1));
    case kTypeNew:
        return new TestComponent(inType, Block(3));
    case kTypeNeedsNew:
        return new TestComponent(inType, Block(1, {{kTypeNew, 2}}));
    case kTypeNeedsOld:
        return new TestComponent(inType, Block(1, {{kTypeOld, 2}}));
    case kTypeNeedsMissing:
        return new TestComponent(inType, Block(1, {{kTypeMissing, -1}}));
    case kTypeCycleA:
        return new TestComponent(inType, Block(2, {{kTypeCycleB, 2}}));
    case kTypeCycleB:
        return new TestComponent(inType, Block(2, {{kTypeCycleA, 1}}));
    case kTypeHuge:
    {
        std::vector<int32_t> block = Block(1);
        block[10] = 1000000;
        return new TestComponent(inType, block);
    }
    default:
        return nullptr;
    }
}

CComponent* OtherCreator(uint32_t inType, uint32_t)
{
    return new TestComponent(inType, Block(9));
}

using ComponentManagerTests = zorn::test::TaskManagerTest;

TEST_F(ComponentManagerTests, WithoutInitNothingIsRegistered)
{
    VComponentManager::DeInit();
    TestComponent component('Tst1', Block(1));
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(&component), VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    EXPECT_EQ(VComponentManager::RetainComponent('Tst1'), nullptr);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator('Tst1', CreateTestComponent),
              VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(COMPONENT_PLUGIN, false)),
              VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    EXPECT_NE(errors.Find(VE_COMPONENT_MANAGER_NOT_INITIALIZED), nullptr) << "recorded too";
}

class ComponentRegistryTests : public zorn::test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        ASSERT_TRUE(VComponentManager::Init());
    }
    void TearDown() override
    {
        VComponentManager::DeInit();
        TaskManagerTest::TearDown();
    }
};

TEST_F(ComponentRegistryTests, CreatorsAndInstances)
{
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeOld, CreateTestComponent), VE_OK);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeOld, OtherCreator),
              VE_COMPONENT_ALREADY_REGISTERED);
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeOld));
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTypeMissing));

    CComponent* first = VComponentManager::RetainComponent(kTypeOld);
    ASSERT_NE(first, nullptr);
    CComponent* second = VComponentManager::RetainComponent(kTypeOld, 0);
    EXPECT_EQ(second, first) << "the registered instance of that family is shared";
    second->Release();
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(first), VE_COMPONENT_ALREADY_REGISTERED);
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(first), VE_OK);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(first), VE_COMPONENT_INSTANCE_UNKNOWN);
    first->Release();

    // Replacing the creator makes new components come from the new one.
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeOld, OtherCreator, true), VE_OK);
    CComponent* replaced = VComponentManager::RetainUniqueComponent(kTypeOld);
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->GetRequirementBlock()[5], 9);
    replaced->Release();

    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeOld, CreateTestComponent),
              VE_COMPONENT_NOT_FOUND);
    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeOld, OtherCreator), VE_OK);
    EXPECT_EQ(VComponentManager::UnRegisterComponentType(kTypeOld), VE_COMPONENT_NOT_FOUND);
    EXPECT_EQ(VComponentManager::RetainUniqueComponent(kTypeOld), nullptr);
}

TEST_F(ComponentRegistryTests, RequirementChecks)
{
    for (uint32_t type : {kTypeOld, kTypeNew, kTypeNeedsNew, kTypeNeedsOld, kTypeNeedsMissing, kTypeHuge,
                          kTypeCycleA, kTypeCycleB})
    {
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(type, CreateTestComponent), VE_OK);
    }
    struct Row
    {
        const char* fWhat;
        uint32_t fType;
        bool fAvailable;
    } rows[] = {
        {"no requirements", kTypeOld, true},
        {"a requirement met in a high enough version", kTypeNeedsNew, true},
        {"a requirement found in too low a version", kTypeNeedsOld, false},
        {"a requirement not registered", kTypeNeedsMissing, false},
        {"a block claiming a million requirements", kTypeHuge, false},
        {"two types that need each other", kTypeCycleA, true},
    };
    for (const Row& row : rows)
    {
        CComponent* component =
            VComponentManager::RetainUniqueComponent(row.fType, VComponentManager::kAnyFamily, true);
        ASSERT_NE(component, nullptr) << row.fWhat;
        EXPECT_EQ(VComponentManager::CheckComponentRequirements(component, true), row.fAvailable)
            << row.fWhat;
        EXPECT_EQ(VComponentManager::CheckComponentRequirements(component), row.fAvailable)
            << row.fWhat << ": the recorded answer";
        component->Release();
        CComponent* checked = VComponentManager::RetainUniqueComponent(row.fType);
        EXPECT_EQ(checked != nullptr, row.fAvailable) << row.fWhat << ": a checked creation";
        if (checked != nullptr)
        {
            checked->Release();
        }
    }
}

TEST(ComponentRequirementBlockTests, MalformedBlocksAreRefused)
{
    struct Row
    {
        const char* fWhat;
        std::vector<int32_t> fBlock;
        bool fAccepted;
        size_t fCount;
    } rows[] = {
        {"no requirements", Block(4), true, 0},
        {"two requirements", Block(4, {{1, -1}, {2, 5}}), true, 2},
        {"no block", {}, false, 0},
        {"shorter than its header", std::vector<int32_t>(10, 65536), false, 0},
        {"a format number below 65536", {65535, 100, 0, 0, 0, 1, 0, 0, 0, 0, 0}, false, 0},
        {"word 1 at 0", {65536, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, false, 0},
        {"word 1 at 51", {65536, 51, 0, 0, 0, 1, 0, 0, 0, 0, 0}, false, 0},
        {"word 1 negative", {65536, -1, 0, 0, 0, 1, 0, 0, 0, 0, 0}, true, 0},
        {"a negative count", {65536, 100, 0, 0, 0, 1, 0, 0, 0, 0, -1}, false, 0},
        {"a count past the block's end", {65536, 100, 0, 0, 0, 1, 0, 0, 0, 0, 1, 7}, false, 0},
        {"a count above 4096", {65536, 100, 0, 0, 0, 1, 0, 0, 0, 0, 1000000}, false, 0},
    };
    for (const Row& row : rows)
    {
        // An exact-size copy on the heap, so that a read past the end is caught.
        std::unique_ptr<int32_t[]> words(new int32_t[row.fBlock.size() + 1]);
        std::copy(row.fBlock.begin(), row.fBlock.end(), words.get());
        int32_t version = 0;
        std::vector<VComponentManager::Requirement> requirements;
        EXPECT_EQ(VComponentManager::ReadRequirementBlock(row.fBlock.empty() ? nullptr : words.get(),
                                                          row.fBlock.size(), version, requirements),
                  row.fAccepted)
            << row.fWhat;
        EXPECT_EQ(requirements.size(), row.fCount) << row.fWhat;
    }
    std::vector<int32_t> big = Block(2);
    big[10] = 4097;
    big.resize(11 + 2 * 4097);
    int32_t version = 0;
    std::vector<VComponentManager::Requirement> requirements;
    EXPECT_FALSE(VComponentManager::ReadRequirementBlock(big.data(), big.size(), version, requirements))
        << "more than 4096 requirements, even within the block";
}

TEST_F(ComponentRegistryTests, PluginLibraryRegistersItsTypes)
{
    const VFilePath plugin = PathOf(COMPONENT_PLUGIN, false);
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(plugin), VE_OK);
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kPluginTypeA));
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kPluginTypeB));
    {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(VComponentManager::RegisterComponentLibrary(plugin), VE_COMPONENT_ALREADY_REGISTERED);
    }

    CComponent* component = VComponentManager::RetainComponent(kPluginTypeA, kPluginFamily);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->GetComponentType(), kPluginTypeA);
    CComponent* same = VComponentManager::RetainComponent(kPluginTypeA);
    EXPECT_EQ(same, component) << "any family finds the registered instance";
    same->Release();
    // Another family is no match for the registered instance: a second one is made and kept.
    CComponent* other = VComponentManager::RetainComponent(kPluginTypeA, 'Othr');
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, component);
    other->Release();
    component->Release();

    std::vector<CComponent*> family;
    EXPECT_TRUE(VComponentManager::RetainComponentsOfFamily(kPluginFamily, family));
    EXPECT_EQ(family.size(), 2U);
    for (CComponent* member : family)
    {
        member->Release();
    }

    // The registered instances outlive the library's registration: their code stays loaded until
    // they are released (at DeInit here).
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(plugin), VE_OK);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kPluginTypeA));
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(plugin), VE_COMPONENT_NOT_FOUND);
}

TEST_F(ComponentRegistryTests, BadPluginLibraries)
{
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf(INCOMPLETE_COMPONENT_PLUGIN, false)),
              VE_COMPONENT_LIBRARY_ENTRY_MISSING);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kPluginTypeA));

    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(PathOf("/nonexistent/plugin.so", false)),
              VE_MEMORY_FULL);
    EXPECT_NE(errors.Find(VE_COMPONENT_LIBRARY_LOAD_FAILED), nullptr);
}

// Language of a bundle

class LocalizationLanguageTests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fRoot = MakeTempFolder();
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        {
            const char* value = ::getenv(name);
            fSaved.emplace_back(name, value == nullptr ? std::nullopt : std::optional<std::string>(value));
            ::unsetenv(name);
        }
    }
    void TearDown() override
    {
        platform::SetMainBundleFolderForTests("");
        for (const auto& [name, value] : fSaved)
        {
            if (value)
            {
                ::setenv(name.c_str(), value->c_str(), 1);
            }
            else
            {
                ::unsetenv(name.c_str());
            }
        }
        std::system(("rm -rf '" + fRoot + "'").c_str());
    }

    uint32_t Ask(const std::string& inFolder, bool inInsideBundle, uint32_t inDialect)
    {
        VRefPtr<VFolder> folder(new VFolder(PathOf(inFolder, true)), true);
        return VComponentManager::GetLocalizationLanguage(folder.Get(), inInsideBundle, inDialect);
    }

    std::string fRoot;
    std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

TEST_F(LocalizationLanguageTests, SearchesTheLprojFolders)
{
    struct Row
    {
        const char* fWhat;
        std::vector<std::string> fFolders;
        uint32_t fDialect;
        uint32_t fExpected;
    } rows[] = {
        {"French asked, English and French present", {"en.lproj", "fr.lproj"}, 1036, 1036},
        {"German asked, English and French present", {"en.lproj", "fr.lproj"}, 1031, 1033},
        {"German asked, only French present", {"fr.lproj"}, 1031, 1036},
        {"no .lproj folder", {"Images", "lproj"}, 1031, kNoDialect},
        {"an English name", {"French.lproj"}, 1036, 1036},
        {"a region", {"fr_CA.lproj"}, 3084, 3084},
        {"a region, not the one asked", {"fr_CA.lproj"}, 1031, 3084},
        {"an unrecognised name", {"zz.lproj"}, 1031, kNoDialect},
        {"an unrecognised name beside a French one", {"zz.lproj", "fr.lproj"}, 1031, 1036},
        {"a name cut at its first .lproj", {"de.lproj.lproj"}, 1031, 1031},
        {"a file is no folder", {}, 1031, kNoDialect},
    };
    int index = 0;
    for (const Row& row : rows)
    {
        const std::string bundle = fRoot + "/App" + std::to_string(index++) + ".app";
        MakeFolders(bundle + "/Contents/Resources", row.fFolders);
        std::ofstream(bundle + "/Contents/Resources/de.lproj") << "a file";
        EXPECT_EQ(Ask(bundle, true, row.fDialect), row.fExpected) << row.fWhat;
        EXPECT_EQ(Ask(bundle + "/Contents/Resources", false, row.fDialect), row.fExpected)
            << row.fWhat << ": the folder itself";
    }
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(nullptr, true, 1036), kNoDialect);
    EXPECT_EQ(Ask(fRoot + "/Missing.app", true, 1036), kNoDialect);
}

TEST_F(LocalizationLanguageTests, DialectZeroTakesTheMainBundlesPreference)
{
    // The folder asked about holds only German: dialect 0 never searches it.
    const std::string asked = fRoot + "/Asked.app";
    MakeFolders(asked + "/Contents/Resources", {"de.lproj"});

    struct Row
    {
        const char* fWhat;
        std::vector<std::pair<const char*, const char*>> fEnvironment;
        std::vector<std::string> fLocalizations;
        const char* fDevelopmentRegion;
        uint32_t fExpected;
    } rows[] = {
        {"LANGUAGE lists German first, only French present",
         {{"LANGUAGE", "de:fr"}},
         {"en.lproj", "fr.lproj"},
         nullptr,
         1036},
        {"LANG in French of France", {{"LANG", "fr_FR.UTF-8"}}, {"en.lproj", "fr.lproj"}, nullptr, 1036},
        {"LANG with a matching region",
         {{"LANG", "fr_CA.UTF-8"}},
         {"fr.lproj", "fr_CA.lproj"},
         nullptr,
         3084},
        {"LC_ALL=C means English",
         {{"LC_ALL", "C"}, {"LANG", "fr_FR.UTF-8"}},
         {"en.lproj", "fr.lproj"},
         nullptr,
         1033},
        {"nothing set, no development region", {}, {"en.lproj", "fr.lproj"}, nullptr, 1033},
        {"nothing set, a development region", {}, {"de.lproj", "fr.lproj"}, "fr", 1036},
        {"no match, a development region", {{"LANG", "ja_JP.UTF-8"}}, {"de.lproj", "fr.lproj"}, "fr", 1036},
        {"no match, no development region: the first",
         {{"LANG", "ja_JP.UTF-8"}},
         {"fr.lproj", "it.lproj"},
         nullptr,
         1036},
        {"an English localization name",
         {{"LANGUAGE", "fr"}},
         {"English.lproj", "French.lproj"},
         nullptr,
         1036},
        {"a main bundle without localizations: the folder is searched for English",
         {{"LANG", "fr_FR.UTF-8"}},
         {},
         nullptr,
         1031},
    };
    int index = 0;
    for (const Row& row : rows)
    {
        const std::string main = fRoot + "/Main" + std::to_string(index++) + ".app";
        MakeFolders(main + "/Contents/MacOS", {});
        MakeFolders(main + "/Contents/Resources", row.fLocalizations);
        std::string plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        if (row.fDevelopmentRegion != nullptr)
        {
            plist += std::string("<key>CFBundleDevelopmentRegion</key><string>") + row.fDevelopmentRegion +
                     "</string>";
        }
        std::ofstream(main + "/Contents/Info.plist") << plist << "</dict></plist>\n";
        platform::SetMainBundleFolderForTests(main);
        for (const auto& [name, value] : row.fEnvironment)
        {
            ::setenv(name, value, 1);
        }
        EXPECT_EQ(Ask(asked, true, 0), row.fExpected) << row.fWhat;
        for (const auto& [name, value] : row.fEnvironment)
        {
            ::unsetenv(name);
        }
    }
}

} // namespace
