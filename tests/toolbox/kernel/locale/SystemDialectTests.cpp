// The system dialect is read from the environment once per process: each test sets the
// environment first and needs a process of its own (CTest runs every test alone).

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace zorn;

namespace
{

bool sResolved = false;

// Sets the locale environment, or tells that the system dialect was already read.
bool SetEnvironment(const char* inLanguage, const char* inLocale)
{
    if (sResolved)
    {
        return false;
    }
    sResolved = true;
    if (inLanguage == nullptr)
    {
        unsetenv("LANGUAGE");
    }
    else
    {
        setenv("LANGUAGE", inLanguage, 1);
    }
    setenv("LC_ALL", inLocale, 1);
    return true;
}

} // namespace

TEST(SystemDialect, UserLocaleOfTheSameLanguageApplies)
{
    if (!SetEnvironment(nullptr, "en_IN.UTF-8"))
    {
        GTEST_SKIP() << "the system dialect was read before; run this test alone";
    }
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 1033u);
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(static_cast<uint32_t>(-2)), 1033u);
    VRefPtr<VIntlMgr> system(VIntlMgr::Create(0, 0), true);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->GetDialectCode(), 1033u);
    EXPECT_EQ(system->GetICULocaleName(), "en_IN");
    VRefPtr<VIntlMgr> french(VIntlMgr::Create(1036, 1036), true);
    EXPECT_EQ(french->GetICULocaleName(), "fr_FR");
}

TEST(SystemDialect, LanguageListComesFirst)
{
    if (!SetEnvironment("de_CH:en", "fr_FR.UTF-8"))
    {
        GTEST_SKIP() << "the system dialect was read before; run this test alone";
    }
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 2055u);
    VRefPtr<VIntlMgr> system(VIntlMgr::Create(0, 0), true);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->GetICULocaleName(), "de_CH"); // the user's French locale is another language
}

TEST(SystemDialect, ScriptNamesChineseDialects)
{
    if (!SetEnvironment("zh_TW", "C"))
    {
        GTEST_SKIP() << "the system dialect was read before; run this test alone";
    }
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 1028u);
}

TEST(SystemDialect, CLocaleIsEnglish)
{
    if (!SetEnvironment(nullptr, "C"))
    {
        GTEST_SKIP() << "the system dialect was read before; run this test alone";
    }
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 1033u);
}

// The language list is read anew at each call: one test walks through the environments.
TEST(SystemDialect, EnvironmentTextsToDialects)
{
    struct Row
    {
        const char* fWhat;
        const char* fLanguage; // LANGUAGE, null: unset
        const char* fLocale;   // LC_ALL, null: unset
        std::vector<uint32_t> fDialects;
    };
    const Row rows[] = {
        {"codeset stripped, region kept", nullptr, "fr_CH.UTF-8", {4108}},
        {"modifier stripped, no row for the region", nullptr, "de_DE@euro", {1031}},
        {"C is English", nullptr, "C", {1033}},
        {"POSIX is English", nullptr, "POSIX", {1033}},
        {"mainland Chinese is simplified", nullptr, "zh_CN.GB18030", {2052}},
        {"Taiwanese Chinese is traditional", nullptr, "zh_TW", {1028}},
        {"Hong Kong Chinese is traditional", nullptr, "zh_HK.Big5", {1028}},
        {"region without a row: the language's default", nullptr, "pt_PT", {1046}},
        {"every entry of the list, then the locale", "en_GB:fr", "it_IT.UTF-8", {2057, 1036, 1040}},
        {"the locale already in the list is not repeated", "de:it_IT", "it_IT.UTF-8", {1031, 1040}},
        {"an entry naming no dialect is English", "xx_YY:fr", nullptr, {1033, 1036}},
        {"empty entries are skipped", "::es", nullptr, {1034}},
        {"nothing set", nullptr, nullptr, {1033}},
    };
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    for (const Row& row : rows)
    {
        for (auto [name, value] : {std::pair{"LANGUAGE", row.fLanguage}, std::pair{"LC_ALL", row.fLocale}})
        {
            if (value == nullptr)
            {
                unsetenv(name);
            }
            else
            {
                setenv(name, value, 1);
            }
        }
        std::vector<uint32_t> dialects;
        VIntlMgr::GetSystemUIDialectCodes(dialects);
        EXPECT_EQ(dialects, row.fDialects) << row.fWhat;
        EXPECT_EQ(VIntlMgr::GetSystemUIDialectCode(), row.fDialects.front()) << row.fWhat;
    }
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    EXPECT_TRUE(VIntlMgr::IsSystemUIDialectIdeographic());
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_FALSE(VIntlMgr::IsSystemUIDialectIdeographic());
}
