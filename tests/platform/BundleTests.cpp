#include "platform/Bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace zorn::platform;
namespace fs = std::filesystem;

namespace
{

TEST(Bundle, FolderOfExecutable)
{
    struct Row
    {
        const char* fWhat;
        const char* fExecutable;
        const char* fFolder;
        bool fInside;
    };
    const Row rows[] = {
        {"inside an app", "/opt/Tools/Updater.app/Contents/MacOS/Updater", "/opt/Tools/Updater.app", true},
        {"bundle at the root", "/Contents/MacOS/tool", "/", true},
        {"plain program", "/usr/local/bin/tool", "/usr/local/bin", false},
        {"MacOS without Contents", "/opt/X.app/Other/MacOS/tool", "/opt/X.app/Other/MacOS", false},
        {"names compare exactly", "/opt/X.app/contents/macos/tool", "/opt/X.app/contents/macos", false},
        {"program at the root", "/tool", "/", false},
    };
    for (const Row& row : rows)
    {
        bool inside = !row.fInside;
        EXPECT_EQ(BundleFolderOfExecutable(row.fExecutable, inside), row.fFolder) << row.fWhat;
        EXPECT_EQ(inside, row.fInside) << row.fWhat;
    }
}

class BundleOverride : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFolder = fs::temp_directory_path() /
                  ("zorn-bundle-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".app");
        fs::create_directories(fFolder / "Contents" / "MacOS");
    }
    void TearDown() override
    {
        SetMainBundleFolderForTests("");
        fs::remove_all(fFolder);
    }
    void WriteInfoPlist(const std::string& inText)
    {
        std::ofstream(fFolder / "Contents" / "Info.plist", std::ios::binary) << inText;
    }

    fs::path fFolder;
};

TEST_F(BundleOverride, ReadsInfoPlistOfTheTestBundle)
{
    WriteInfoPlist("<plist><dict><key>CFBundleName</key><string>Updater</string>"
                   "<key>Flag</key><true/></dict></plist>");
    SetMainBundleFolderForTests(fFolder.string() + "/");
    EXPECT_EQ(GetMainBundleFolder(), fFolder.string()) << "trailing '/' dropped";
    EXPECT_TRUE(IsMainBundleInsideBundle());
    EXPECT_EQ(GetMainBundleInfoString("CFBundleName"), "Updater");
    EXPECT_EQ(GetMainBundleInfoString("Flag"), std::nullopt) << "not a string";
    ASSERT_TRUE(GetMainBundleInfoValue("Flag").has_value());
    EXPECT_TRUE(GetMainBundleInfoValue("Flag")->GetBoolean());
    EXPECT_EQ(GetMainBundleInfoString("Missing"), std::nullopt);

    // The file is read once: a change shows only after the bundle is set again.
    WriteInfoPlist("<plist><dict><key>CFBundleName</key><string>Other</string></dict></plist>");
    EXPECT_EQ(GetMainBundleInfoString("CFBundleName"), "Updater");
    SetMainBundleFolderForTests(fFolder.string());
    EXPECT_EQ(GetMainBundleInfoString("CFBundleName"), "Other");
}

TEST_F(BundleOverride, MissingMalformedOrNonDictInfoPlistGivesNoValues)
{
    const char* const texts[] = {nullptr, "<plist><dict><key>A</key></dict></plist>",
                                 "<plist><array><string>A</string></array></plist>"};
    for (const char* text : texts)
    {
        if (text != nullptr)
        {
            WriteInfoPlist(text);
        }
        SetMainBundleFolderForTests(fFolder.string());
        EXPECT_EQ(GetMainBundleInfoValue("A"), std::nullopt) << (text ? text : "no file");
        EXPECT_EQ(GetMainBundleFolder(), fFolder.string());
    }
}

TEST_F(BundleOverride, RunningProgramOutsideABundleUsesItsFolder)
{
    std::string executable = GetMainExecutablePath();
    ASSERT_FALSE(executable.empty());
    EXPECT_TRUE(fs::equivalent(executable, "/proc/self/exe"));
    SetMainBundleFolderForTests("");
    EXPECT_EQ(GetMainBundleFolder(), fs::path(executable).parent_path().string());
    EXPECT_FALSE(IsMainBundleInsideBundle());
    EXPECT_EQ(GetMainBundleInfoString("CFBundleName"), std::nullopt);
}

} // namespace
