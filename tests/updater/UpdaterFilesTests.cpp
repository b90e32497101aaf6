// The updater's file helpers: copies that make their destination and report failures with their
// paths, the search by extension, and the debugging alert.
#include "tests/FakeProgramSupport.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/process/VProcess.h"
#include "updater/UpdaterErrors.h"
#include "updater/UpdaterFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zorn
{
namespace
{

namespace fs = std::filesystem;

VFilePath PosixPath(const std::string& inPath)
{
    return VFilePath(VString(inPath.c_str()), FPS_POSIX);
}

std::string Parameter(const VErrorBase* inError, const char* inName)
{
    VString text;
    VJSONValue(inError->GetParameters()).GetProperty(VString(inName)).GetString(text);
    return to_string(text);
}

std::string ReadFile(const std::string& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A started process for the program (errors need a task to go to); each test gets a folder.
class UpdaterFiles : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sProcess = new VProcess();
        ASSERT_TRUE(sProcess->Init(0));
    }
    static void TearDownTestSuite()
    {
        delete sProcess;
        sProcess = nullptr;
    }
    void SetUp() override
    {
        fFolder = test::MakeTemporaryFolder();
        ASSERT_FALSE(fFolder.empty());
    }
    void TearDown() override { fs::remove_all(fFolder); }

    static VProcess* sProcess;
    std::string fFolder;
};

VProcess* UpdaterFiles::sProcess = nullptr;

TEST_F(UpdaterFiles, CopyFileMakesTheDestinationFolder)
{
    std::ofstream(fFolder + "/a.txt") << "content";
    StErrorContextInstaller context(false);
    EXPECT_EQ(RobustCopyFile(PosixPath(fFolder + "/a.txt"), PosixPath(fFolder + "/x/y/b.txt"), 0), VE_OK);
    EXPECT_EQ(ReadFile(fFolder + "/x/y/b.txt"), "content");
    EXPECT_TRUE(context.GetContext()->IsEmpty());
}

TEST_F(UpdaterFiles, CopyFileFailures)
{
    std::ofstream(fFolder + "/a.txt") << "new";
    std::ofstream(fFolder + "/taken.txt") << "old";
    std::ofstream(fFolder + "/file") << "a file where a folder is wanted";
    {
        SCOPED_TRACE("a missing source");
        StErrorContextInstaller context(false);
        EXPECT_EQ(RobustCopyFile(PosixPath(fFolder + "/none"), PosixPath(fFolder + "/b.txt"), 0),
                  VE_UPDATER_FILE_COPY_FAILED);
        const VErrorBase* last = context.GetContext()->GetLast();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(Parameter(last, "srcPath"), fFolder + "/none");
        EXPECT_EQ(Parameter(last, "dstPath"), fFolder + "/b.txt");
        EXPECT_FALSE(fs::exists(fFolder + "/b.txt"));
    }
    {
        SCOPED_TRACE("an existing destination without the replace option, then with it");
        StErrorContextInstaller context(false);
        EXPECT_EQ(RobustCopyFile(PosixPath(fFolder + "/a.txt"), PosixPath(fFolder + "/taken.txt"), 0),
                  VE_UPDATER_FILE_COPY_FAILED);
        EXPECT_EQ(ReadFile(fFolder + "/taken.txt"), "old");
        EXPECT_EQ(RobustCopyFile(PosixPath(fFolder + "/a.txt"), PosixPath(fFolder + "/taken.txt"),
                                 VFolder::kCopyReplace),
                  VE_OK);
        EXPECT_EQ(ReadFile(fFolder + "/taken.txt"), "new");
    }
    {
        SCOPED_TRACE("a destination folder that cannot be made: its error, with its path");
        StErrorContextInstaller context(false);
        const VError error =
            RobustCopyFile(PosixPath(fFolder + "/a.txt"), PosixPath(fFolder + "/file/sub/b.txt"), 0);
        EXPECT_NE(error, VE_OK);
        EXPECT_NE(error, VE_UPDATER_FILE_COPY_FAILED);
        const VErrorBase* last = context.GetContext()->GetLast();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->GetError(), error);
        EXPECT_EQ(Parameter(last, "path"), fFolder + "/file/sub/");
    }
}

TEST_F(UpdaterFiles, CopyFolderContent)
{
    fs::create_directories(fFolder + "/src/inner");
    std::ofstream(fFolder + "/src/inner/f") << "f";
    std::ofstream(fFolder + "/file") << "x";
    {
        SCOPED_TRACE("into a destination that is made");
        StErrorContextInstaller context(false);
        EXPECT_TRUE(
            RobustCopyFolderContent(PosixPath(fFolder + "/src/"), PosixPath(fFolder + "/dst/new/"), 0));
        EXPECT_EQ(ReadFile(fFolder + "/dst/new/inner/f"), "f");
    }
    {
        SCOPED_TRACE("a missing source");
        StErrorContextInstaller context(false);
        EXPECT_FALSE(RobustCopyFolderContent(VFolder(PosixPath(fFolder + "/none/")),
                                             VFolder(PosixPath(fFolder + "/dst2/")), 0));
        const VErrorBase* last = context.GetContext()->GetLast();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->GetError(), VE_FOLDER_NOT_FOUND);
        EXPECT_EQ(Parameter(last, "path"), fFolder + "/none/");
        EXPECT_FALSE(fs::exists(fFolder + "/dst2"));
    }
    {
        SCOPED_TRACE("a destination that cannot be made");
        StErrorContextInstaller context(false);
        EXPECT_FALSE(
            RobustCopyFolderContent(PosixPath(fFolder + "/src/"), PosixPath(fFolder + "/file/d/"), 0));
        const VErrorBase* last = context.GetContext()->GetLast();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(Parameter(last, "path"), fFolder + "/file/d/");
    }
    {
        SCOPED_TRACE("a copy that fails: an item already in the destination");
        StErrorContextInstaller context(false);
        EXPECT_FALSE(
            RobustCopyFolderContent(PosixPath(fFolder + "/src/"), PosixPath(fFolder + "/dst/new/"), 0));
        const VErrorBase* last = context.GetContext()->GetLast();
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(Parameter(last, "path"), fFolder + "/dst/new/");
    }
}

TEST_F(UpdaterFiles, FindFileByExtension)
{
    fs::create_directories(fFolder + "/sub");
    std::ofstream(fFolder + "/notes.txt") << "";
    std::ofstream(fFolder + "/Data.ZQLINK") << "";
    std::ofstream(fFolder + "/sub/deep.plist") << "";
    struct Row
    {
        const char* fWhat;
        std::string fFolder; // POSIX
        const char* fExtension;
        VError fResult;
        std::string fFound; // POSIX, empty when none
    };
    const Row rows[] = {
        {"found", fFolder + "/", "txt", VE_OK, fFolder + "/notes.txt"},
        {"case ignored", fFolder + "/", "zqlink", VE_OK, fFolder + "/Data.ZQLINK"},
        {"only files directly in the folder", fFolder + "/", "plist", VE_FILE_NOT_FOUND, ""},
        {"a missing folder", fFolder + "/none/", "txt", VE_FILE_NOT_FOUND, ""},
        {"a file path is no folder path", fFolder + "/notes.txt", "txt", VE_INVALID_PARAMETER, ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        VFilePath found = PosixPath(fFolder + "/stale");
        EXPECT_EQ(FindFileByExt(PosixPath(row.fFolder), VString(row.fExtension), found), row.fResult);
        if (row.fResult != VE_INVALID_PARAMETER)
        {
            EXPECT_EQ(found.IsValid() ? to_string(found.GetPath(FPS_POSIX)) : std::string(), row.fFound);
        }
    }
}

TEST_F(UpdaterFiles, DisplayMessageShowsADebugAlert)
{
    test::FakeDialogFolder fake;
    DisplayMessage("caf\xc3\xa9 & more");
    ASSERT_TRUE(test::WaitForFile(fake.Folder() + "/last.args"));
    // The record may still be being written: wait until it names the title, its last argument.
    std::vector<std::string> arguments;
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        arguments = fake.LastArguments();
        if (std::find(arguments.begin(), arguments.end(), "--title=Debug") != arguments.end())
        {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(std::find(arguments.begin(), arguments.end(), "--text=caf\xc3\xa9 & more"), arguments.end());
    EXPECT_NE(std::find(arguments.begin(), arguments.end(), "--title=Debug"), arguments.end());
    VSystem::CancelAllPendingUserNotifications();
}

} // namespace
} // namespace zorn
