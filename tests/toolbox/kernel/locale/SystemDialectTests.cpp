// The system dialect is read from the environment once per process: each test sets the
// environment first and needs a process of its own (CTest runs every test alone).

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    if (!SetEnvironment("sr_RS:en", "de_DE.UTF-8"))
    {
        GTEST_SKIP() << "the system dialect was read before; run this test alone";
    }
    // No table row has the sub-tag "rs": the likely script of sr-RS, Cyrillic, names the dialect.
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 3098u);
    VRefPtr<VIntlMgr> system(VIntlMgr::Create(0, 0), true);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->GetICULocaleName(), "sr_RS"); // the user's German locale is another language
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
