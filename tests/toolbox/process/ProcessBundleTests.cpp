// What the process object tells of its bundle: product values, folders by kind, the product's
// folders in system folders, and the version parts; also the boot log listener's bound and the
// grace period of activity tokens.
#include "platform/Bundle.h"
#include "tests/FakeProgramSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/tasks/VActivityToken.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VBootLogListener.h"
#include "toolbox/process/VProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

using namespace zorn;
using test::ScopedEnvironmentVariable;

namespace
{

std::string PosixPathOf(const VFolder* inFolder)
{
    VString path;
    inFolder->GetPath().GetPosixPath(path);
    return to_string(path);
}

TEST(ProcessVersion, PartsOfTheProductVersion)
{
    struct Case
    {
        const char* fWhat;
        const char* fVersion;
        const char* fBuild;
        int32_t fChangeList;
        const char* fShort;
        const char* fMain;
    };
    const Case cases[] = {
        {"version and build with change list", "1.2 build 34.5", "34.5", 5, "1.2", "1"},
        {"build without change list", "2.0.1 build 77", "77", 0, "2.0.1", "2"},
        {"no build", "3.4", "", 0, "3.4", "3"},
        {"no dot at all", "  7  ", "", 0, "7", "7"},
        {"white space around the build", "1.2   build  9.10 ", "9.10", 10, "1.2", "1"},
        {"empty", "", "", 0, "", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        VString build;
        VString shortVersion;
        VString mainVersion;
        VProcess::GetBuildNumber(VString(c.fVersion), build);
        VProcess::GetShortProductVersion(VString(c.fVersion), shortVersion);
        VProcess::GetMainProductVersion(VString(c.fVersion), mainVersion);
        EXPECT_EQ(to_string(build), c.fBuild);
        EXPECT_EQ(VProcess::GetChangeListNumber(VString(c.fVersion)), c.fChangeList);
        EXPECT_EQ(to_string(shortVersion), c.fShort);
        EXPECT_EQ(to_string(mainVersion), c.fMain);
    }
}

// A bundle made for the test, made the main bundle: its Info.plist names the product.
class ProcessBundle : public testing::Test
{
protected:
    void SetUp() override
    {
        fRoot = test::MakeTemporaryFolder();
        std::filesystem::create_directories(fRoot + "/Tool.app/Contents");
        std::ofstream(fRoot + "/Tool.app/Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>CFBundleName</key><string>Zorn Tool</string>"
               "<key>CFBundleShortVersionString</key><string>4.5 build 61.2</string>"
               "</dict></plist>\n";
        platform::SetMainBundleFolderForTests(fRoot + "/Tool.app");
    }
    void TearDown() override
    {
        platform::SetMainBundleFolderForTests("");
        std::filesystem::remove_all(fRoot);
    }

    std::string fRoot;
};

TEST_F(ProcessBundle, ProductValuesComeFromTheBundle)
{
    VProcess process;
    EXPECT_EQ(to_string(process.GetProductName()), "Zorn Tool");
    EXPECT_EQ(to_string(process.GetLogSourceIdentifier()), "Zorn Tool");
    EXPECT_EQ(to_string(process.GetProductFolderName()), "Zorn Tool");
    EXPECT_EQ(process.GetChangeListNumber(), 2);
    VString version;
    process.GetMainProductVersion(version);
    EXPECT_EQ(to_string(version), "4");
}

// The product's folder in each system folder; the common kinds fall back to the user kinds when
// their folder cannot be made (here: the common folder lies under a plain file).
TEST_F(ProcessBundle, ProductSystemFolders)
{
    const std::string blocked = fRoot + "/plain-file";
    std::ofstream(blocked) << "x";
    ScopedEnvironmentVariable dataHome("XDG_DATA_HOME", fRoot + "/data");
    ScopedEnvironmentVariable cacheHome("XDG_CACHE_HOME", fRoot + "/cache");
    ScopedEnvironmentVariable tmp("TMPDIR", fRoot + "/tmp");
    std::filesystem::create_directory(fRoot + "/tmp");
    VProcess process;
    struct Case
    {
        const char* fWhat;
        ESystemFolderKind fKind;
        bool fCreate;
        std::string fDataDirs;
        std::string fExpected; // empty: null
    };
    const Case cases[] = {
        {"user data, missing, not made", eFK_UserApplicationData, false, "", ""},
        {"user data, made", eFK_UserApplicationData, true, "", fRoot + "/data/Zorn Tool/"},
        {"user data, found", eFK_UserApplicationData, false, "", fRoot + "/data/Zorn Tool/"},
        {"temporary, made", eFK_Temporary, true, "", fRoot + "/tmp/Zorn Tool/"},
        {"common data, made", eFK_CommonApplicationData, true, fRoot + "/common",
         fRoot + "/common/Zorn Tool/"},
        {"common preferences, falls back to the user's", eFK_CommonPreferences, true, blocked + "/share",
         fRoot + "/data/Zorn Tool/"},
        {"common data, missing, not made: no fallback", eFK_CommonApplicationData, false, blocked + "/share",
         ""},
        {"another kind: the system folder itself", eFK_Applications, false, "", "/opt/"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ScopedEnvironmentVariable dataDirs("XDG_DATA_DIRS",
                                           c.fDataDirs.empty() ? std::optional<std::string>() : c.fDataDirs);
        VRefPtr<VFolder> folder(process.RetainProductSystemFolder(c.fKind, c.fCreate), true);
        EXPECT_EQ(folder ? PosixPathOf(folder.Get()) : std::string(), c.fExpected);
        if (folder)
        {
            EXPECT_EQ(folder->Exists(), c.fKind != eFK_Applications || std::filesystem::exists("/opt"));
        }
    }
    // A link of the product's name leads to its folder.
    std::filesystem::create_directory(fRoot + "/elsewhere");
    std::filesystem::create_directories(fRoot + "/cache");
    std::filesystem::create_directory_symlink(fRoot + "/elsewhere", fRoot + "/cache/Zorn Tool");
    VRefPtr<VFolder> linked(process.RetainProductSystemFolder(eFK_UserCache, false), true);
    ASSERT_TRUE(linked);
    EXPECT_EQ(PosixPathOf(linked.Get()), fRoot + "/elsewhere/");
}

// Every folder kind, from the folder of the executable; an unknown kind gives null.
TEST(Process, FolderKinds)
{
    std::string executable = platform::GetMainExecutablePath();
    std::string exec = executable.substr(0, executable.rfind('/') + 1);
    std::string contents = exec.substr(0, exec.rfind('/', exec.size() - 2) + 1);
    std::string bundle = contents.substr(0, contents.rfind('/', contents.size() - 2) + 1);
    struct Case
    {
        uint32_t fKind;
        std::string fExpected; // empty: null
    };
    const Case cases[] = {
        {VProcess::kFolderExecutable, exec},
        {VProcess::kFolderContents, contents},
        {VProcess::kFolderBundle, bundle},
        {VProcess::kFolderResources, contents + "Resources/"},
        {VProcess::kFolderNativeComponents, contents + "Native Components/"},
        {VProcess::kFolderDTDs, contents + "Resources/DTD/"},
        {VProcess::kFolderXSDs, contents + "Resources/XSD/"},
        {VProcess::kFolderXSLs, contents + "Resources/XSL/"},
        {VProcess::kFolderJSONSchemas, contents + "Resources/JSONSchemas/"},
        {0x4A534E74, ""}, // 'JSNt': unknown
        {0, ""},
    };
    VProcess process;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fKind);
        VRefPtr<VFolder> folder(process.RetainFolder(c.fKind), true);
        EXPECT_EQ(folder ? PosixPathOf(folder.Get()) : std::string(), c.fExpected);
    }
    VFilePath executablePath;
    process.GetExecutableFilePath(executablePath);
    EXPECT_EQ(to_string(executablePath.GetPath(FPS_POSIX)), executable);
    VRefPtr<VFile> executableFile(process.RetainExecutableFile(), true);
    ASSERT_TRUE(executableFile);
    EXPECT_TRUE(executableFile->Exists());
    VFilePath executableFolder;
    process.GetExecutableFolderPath(executableFolder);
    EXPECT_EQ(to_string(executableFolder.GetPath(FPS_POSIX)), exec);
    // A file in the resources folder, which this test program lacks: nothing there, nor in a
    // fallback kind without the file.
    EXPECT_EQ(
        process.RetainFile(VProcess::kFolderResources, VString("fileSystems.json"), VProcess::kFolderXSDs),
        nullptr);
}

TEST(Process, TokensHaveAOneSecondGracePeriod)
{
    VProcess process;
    auto* token = new VActivityToken(VString("work"));
    token->Release();
    EXPECT_TRUE(process.HasSomeActivityTokens(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(process.HasSomeActivityTokens(1000)) << "within the second";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(process.HasSomeActivityTokens(1000)) << "after it";
}

// The boot listener keeps the first records only, each retained until it goes.
TEST(BootLogListener, KeepsTheFirstRecords)
{
    VRefPtr<VValueBag> record(new VValueBag, true);
    VRefPtr<VBootLogListener> listener(new VBootLogListener, true);
    std::vector<const VValueBag*> batch(600, record.Get());
    listener->Put(batch);
    listener->Put(batch);
    EXPECT_EQ(listener->GetRecords().size(), VBootLogListener::kMaxRecords);
    EXPECT_EQ(listener->GetDroppedCount(), 200u);
    EXPECT_EQ(record->GetRefCount(), 1u + VBootLogListener::kMaxRecords);
    listener.Clear();
    EXPECT_EQ(record->GetRefCount(), 1u);
}

} // namespace
