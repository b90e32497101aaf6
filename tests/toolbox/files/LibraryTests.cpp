#include "tests/toolbox/files/TreeTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/VLibrary.h"
#include "toolbox/files/linux/XLinuxLibrary.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

class LibraryTests : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char pattern[] = "/tmp/zorn_library_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = pattern;
    }
    void TearDown() override
    {
        std::system(("rm -rf '" + fRoot + "'").c_str());
        TaskManagerTest::TearDown();
    }

    // A copy of the test plug-in at inRelative, with inMode.
    std::string CopyPlugin(const std::string& inRelative, mode_t inMode = 0755)
    {
        const std::string path = fRoot + "/" + inRelative;
        std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
        Write(path, Read(LIBRARY_PLUGIN));
        ::chmod(path.c_str(), inMode);
        return path;
    }

    // A bundle folder Name.bundle with the plug-in as its executable and the given
    // CFBundleExecutable.
    std::string MakeBundle(const std::string& inName, const std::string& inExecutable = "plugin")
    {
        const std::string bundle = fRoot + "/" + inName;
        CopyPlugin(inName + "/Contents/MacOS/plugin");
        Write(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleExecutable</key><string>" +
                  inExecutable + "</string></dict></plist>\n");
        return bundle;
    }

    // A framework Foo.framework whose executable is Versions/A/Foo, reached through the links
    // Foo -> Versions/Current/Foo and Versions/Current (written by the caller).
    std::string MakeFramework()
    {
        const std::string framework = fRoot + "/Foo.framework";
        CopyPlugin("Foo.framework/Versions/A/Foo");
        std::system(("mkdir -p '" + framework + "/Versions/A/Resources'").c_str());
        EXPECT_EQ(::symlink("Versions/Current/Foo", (framework + "/Foo").c_str()), 0);
        return framework;
    }

    static VFilePath FilePath(const std::string& inPosix, bool inFolder)
    {
        VFilePath path;
        XLinuxFile::GetFilePathFromPosixPath(inPosix.c_str(), inFolder, path);
        return path;
    }

    static std::string PosixOf(const IFileSystemObject* inObject)
    {
        VString path;
        inObject->GetPlatformPath(path, FPS_POSIX);
        return to_string(path);
    }

    std::string fRoot;
};

using AnswerFunction = int (*)();

TEST_F(LibraryTests, PlainLibraryLoadsOnceAndAgainAfterUnload)
{
    VRefPtr<VLibrary> library(new VLibrary(FilePath(CopyPlugin("plugin.so"), false)), true);
    EXPECT_EQ(library->GetProcAddress(VString("zorn_test_library_answer")), nullptr) << "not loaded yet";

    ASSERT_TRUE(library->Load());
    auto answer =
        reinterpret_cast<AnswerFunction>(library->GetProcAddress(VString("zorn_test_library_answer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    auto* loads = static_cast<int*>(library->GetProcAddress(VString("zorn_test_library_loads")));
    ASSERT_NE(loads, nullptr);
    EXPECT_EQ(*loads, 1);

    EXPECT_TRUE(library->Load()) << "a second Load answers true";
    EXPECT_EQ(*loads, 1) << "without loading again";
    EXPECT_EQ(library->RetainExecutableFile(), nullptr) << "a plain library has no bundle";
    EXPECT_EQ(library->RetainFolder(kBUNDLE_FOLDER), nullptr);

    library->Unload();
    EXPECT_EQ(library->GetProcAddress(VString("zorn_test_library_answer")), nullptr);
    ASSERT_TRUE(library->Load());
    loads = static_cast<int*>(library->GetProcAddress(VString("zorn_test_library_loads")));
    ASSERT_NE(loads, nullptr);
    EXPECT_EQ(*loads, 1) << "a fresh load runs the initialisers again";
}

TEST_F(LibraryTests, LoadAddsReadAndExecuteForEveryone)
{
    const std::string path = CopyPlugin("private.so", 0600);
    VRefPtr<VLibrary> library(new VLibrary(FilePath(path, false)), true);
    ASSERT_TRUE(library->Load());
    struct stat status = {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755U);
}

TEST_F(LibraryTests, NonASCIISymbolNamesAreLookedUpWhole)
{
    VRefPtr<VLibrary> library(new VLibrary(FilePath(CopyPlugin("plugin.so"), false)), true);
    ASSERT_TRUE(library->Load());
    // Each character takes two to four bytes in UTF-8: the name's byte form is longer than its
    // length in characters.
    EXPECT_EQ(library->GetProcAddress(VString(u"zorn_\u00E9\u00E8\u65E5\u672C\u8A9E\U0001F600")), nullptr);
    EXPECT_EQ(library->GetProcAddress(VString(u"\u65E5\u672C\u8A9E\u65E5\u672C\u8A9E\u65E5\u672C\u8A9E")),
              nullptr);
}

TEST_F(LibraryTests, LoadFailuresPushTheLoaderReason)
{
    Write(fRoot + "/garbage.so", "not an object file");
    const std::string outside = CopyPlugin("outside.so", 0600);
    const std::string bad = MakeBundle("Bad.bundle", "../../../outside.so");
    struct Row
    {
        const char* fWhat;
        VFilePath fPath;
    } rows[] = {
        {"a file that is no shared object", FilePath(fRoot + "/garbage.so", false)},
        {"a missing file", FilePath(fRoot + "/missing.so", false)},
        {"a bundle whose executable name leaves its MacOS folder", FilePath(bad, true)},
        {"a missing bundle", FilePath(fRoot + "/Missing.bundle", true)},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors(true, true);
        VRefPtr<VLibrary> library(new VLibrary(row.fPath), true);
        EXPECT_FALSE(library->Load()) << row.fWhat;
        VErrorBase* error = errors.Find(VE_LIBRARY_CANNOT_LOAD);
        ASSERT_NE(error, nullptr) << row.fWhat;
        EXPECT_FALSE(Parameter(error, "reason").empty()) << row.fWhat;
        EXPECT_EQ(library->GetProcAddress(VString("zorn_test_library_answer")), nullptr) << row.fWhat;
    }
    struct stat status = {};
    ASSERT_EQ(::stat(outside.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600U) << "a file outside the bundle is never touched";
}

TEST_F(LibraryTests, BundleGivesItsFolders)
{
    const std::string bundle = MakeBundle("Plug.bundle");
    VRefPtr<VLibrary> library(new VLibrary(FilePath(bundle, true)), true);
    EXPECT_EQ(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER), nullptr) << "not loaded yet";
    ASSERT_TRUE(library->Load());
    EXPECT_NE(library->GetProcAddress(VString("zorn_test_library_answer")), nullptr);

    struct Row
    {
        uint32_t fKind;
        const char* fExpected; // below the bundle; null: no folder
    } rows[] = {
        {0, nullptr},
        {1, "/"},
        {2, "/Contents/MacOS/"},
        {3, "/Contents/Resources/"},
        {4, nullptr},
        {5, "/Contents/PlugIns/"},
        {6, "/Contents/Frameworks/"},
        {7, "/Contents/SharedSupport/"},
        {8, nullptr},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VFolder> folder(library->RetainFolder(static_cast<BundleFolderKind>(row.fKind)), true);
        if (row.fExpected == nullptr)
        {
            EXPECT_EQ(folder.Get(), nullptr) << "kind " << row.fKind;
        }
        else
        {
            ASSERT_NE(folder.Get(), nullptr) << "kind " << row.fKind;
            EXPECT_EQ(PosixOf(folder.Get()), bundle + row.fExpected) << "kind " << row.fKind;
        }
    }
    VRefPtr<VFile> executable(library->RetainExecutableFile(), true);
    ASSERT_NE(executable.Get(), nullptr);
    EXPECT_EQ(PosixOf(executable.Get()), bundle + "/Contents/MacOS/plugin");

    EXPECT_EQ(library->RetainResourceFile(), nullptr);
    EXPECT_TRUE(library->WasResourceFileRequested());
    EXPECT_TRUE(library->IsSameFile(FilePath(bundle, true)));
    EXPECT_FALSE(library->IsSameFile(FilePath(fRoot + "/plug.bundle", true))) << "names compare exactly";
}

TEST_F(LibraryTests, FrameworkStubBecomesALink)
{
    const std::string framework = MakeFramework();
    Write(framework + "/Versions/Current",
          "XSym\n0001\n0cc175b9c0f1b6a831c399e269772661\nA\n" + std::string(40, ' '));
    Write(framework + "/Resources",
          "XSym\n0028\n00000000000000000000000000000000\nVersions/Current/Resources\n");

    VRefPtr<VLibrary> library(new VLibrary(FilePath(framework, true)), true);
    StErrorContextInstaller errors(true, true);
    ASSERT_TRUE(library->Load());
    EXPECT_EQ(errors.GetLastError(), VE_OK);

    char target[256] = {};
    ASSERT_GT(::readlink((framework + "/Versions/Current").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "A");
    std::fill(std::begin(target), std::end(target), '\0');
    ASSERT_GT(::readlink((framework + "/Resources").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "Versions/Current/Resources");
    EXPECT_NE(library->GetProcAddress(VString("zorn_test_library_answer")), nullptr);

    VRefPtr<VFolder> resources(library->RetainFolder(kBUNDLE_RESOURCES_FOLDER), true);
    ASSERT_NE(resources.Get(), nullptr);
    EXPECT_EQ(PosixOf(resources.Get()), framework + "/Resources/");
    EXPECT_TRUE(resources->Exists());
}

TEST_F(LibraryTests, StubsThatCannotBeRepairedAreLeftWith617)
{
    struct Row
    {
        const char* fWhat;
        std::string fStub;
    } rows[] = {
        {"a target climbing out of the framework", "XSym\n0009\nhash\n../../etc\n"},
        {"an absolute target", "XSym\n0004\nhash\n/etc\n"},
        {"fewer than four lines", "XSym\n0001\nhash"},
    };
    for (const Row& row : rows)
    {
        const std::string framework = MakeFramework();
        Write(framework + "/Versions/Current", row.fStub);
        {
            StErrorContextInstaller errors(true, true);
            VRefPtr<VLibrary> library(new VLibrary(FilePath(framework, true)), true);
            EXPECT_FALSE(library->Load()) << row.fWhat << ": the executable stays unreachable";
            EXPECT_NE(errors.Find(VE_LIBRARY_BAD_XSYM_STUB), nullptr) << row.fWhat;
        }
        struct stat status = {};
        ASSERT_EQ(::lstat((framework + "/Versions/Current").c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode)) << row.fWhat << ": the stub is left as it was";
        EXPECT_EQ(Read(framework + "/Versions/Current"), row.fStub) << row.fWhat;
        std::system(("rm -rf '" + framework + "'").c_str());
    }
}

TEST(XSymStubTests, ReadsTheFourthLineAsATargetInsideTheFramework)
{
    using Kind = XLinuxLibrary::EXSymStub;
    struct Row
    {
        const char* fWhat;
        std::string fContent;
        const char* fEntryFolder;
        Kind fKind;
        const char* fTarget;
    } rows[] = {
        {"a version folder beside Current", "XSym\n1\nh\nA\npadding", "Versions", Kind::kTarget, "A"},
        {"a target without final newline", "XSym\n1\nh\nA", "Versions", Kind::kTarget, "A"},
        {"a path through the current version", "XSym\n1\nh\nVersions/Current/Foo\n", "", Kind::kTarget,
         "Versions/Current/Foo"},
        {"'..' that stays inside", "XSym\n1\nh\n../Versions/A\n", "Versions", Kind::kTarget, "../Versions/A"},
        {"not a stub", "Xsym\n1\nh\nA\n", "", Kind::kNotAStub, ""},
        {"an empty file", "", "", Kind::kNotAStub, ""},
        {"three lines", "XSym\n1\nh\n", "Versions", Kind::kOutside, ""},
        {"two lines", "XSym\n1\nh", "Versions", Kind::kDamaged, ""},
        {"'..' out of the framework", "XSym\n1\nh\n../../etc\n", "Versions", Kind::kOutside, ""},
        {"'..' out of the top level", "XSym\n1\nh\n../Other.framework\n", "", Kind::kOutside, ""},
        {"out and back in", "XSym\n1\nh\n../../Foo.framework/A\n", "Versions", Kind::kOutside, ""},
        {"the framework folder itself", "XSym\n1\nh\n..\n", "Versions", Kind::kOutside, ""},
        {"an absolute target", "XSym\n1\nh\n/usr/lib\n", "", Kind::kOutside, ""},
        {"a NUL in the target", std::string("XSym\n1\nh\nA\0B\n", 13), "", Kind::kOutside, ""},
    };
    for (const Row& row : rows)
    {
        std::string target = "stale";
        EXPECT_EQ(XLinuxLibrary::ReadXSymStub(row.fContent, row.fEntryFolder, target), row.fKind)
            << row.fWhat;
        EXPECT_EQ(target, row.fTarget) << row.fWhat;
    }
}

} // namespace
