#include "tests/toolbox/files/TreeTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

VFolder* FolderAt(const std::string& inPosixPath)
{
    return new VFolder(VString((inPosixPath.back() == '/' ? inPosixPath : inPosixPath + "/").c_str()),
                       FPS_POSIX);
}

// The copy engine's calls failing from the inNth call of copy_file_range on with EIO (reflinks
// refused so that data goes through it).
int sFailAt = 0;
int sCalls = 0;
XLinuxCopyCalls FailingCalls(int inNth)
{
    sFailAt = inNth;
    sCalls = 0;
    XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
    calls.fFiclone = [](int, int)
    {
        errno = EOPNOTSUPP;
        return -1;
    };
    calls.fCopyFileRange = [](int inIn, loff_t* inInOff, int inOut, loff_t* inOutOff, size_t inSize,
                              unsigned inFlags) -> ssize_t
    {
        if (++sCalls >= sFailAt)
        {
            errno = EIO;
            return -1;
        }
        return ::copy_file_range(inIn, inInOff, inOut, inOutOff, inSize, inFlags);
    };
    return calls;
}

// The folder errors pushed in a scope, by code.
std::vector<VError> Codes(const StErrorContextInstaller& inScope)
{
    std::vector<VError> codes;
    for (const VErrorBase* error : inScope.GetContext()->GetErrorList())
    {
        codes.push_back(error->GetError());
    }
    return codes;
}

class Folder : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-vfolder-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
        ASSERT_EQ(::mkdir(PathOf("outside").c_str(), 0755), 0);
        Write(PathOf("outside/shared"), "shared");
    }
    void TearDown() override
    {
        XLinuxCopyEngine::ResetCalls();
        std::system(("chmod -R u+rwx " + fFolder + " 2>/dev/null; rm -rf " + fFolder).c_str());
        TaskManagerTest::TearDown();
    }
    std::string PathOf(const std::string& inName) const { return fFolder + "/" + inName; }

    // An application bundle as the updater meets it.
    void MakeBundle(const std::string& inRoot, const std::string& inVersion)
    {
        ASSERT_EQ(std::system(("mkdir -p " + inRoot.substr(0, inRoot.find_last_of('/'))).c_str()), 0);
        for (const char* folder :
             {"", "/Contents", "/Contents/MacOS", "/Contents/Resources", "/Contents/Resources/en.lproj",
              "/Contents/Frameworks", "/Contents/Frameworks/F.framework",
              "/Contents/Frameworks/F.framework/Versions", "/Contents/Frameworks/F.framework/Versions/A"})
        {
            ASSERT_EQ(::mkdir((inRoot + folder).c_str(), 0755), 0);
        }
        Write(inRoot + "/Contents/Info.plist",
              "<plist><dict><key>V</key><string>" + inVersion + "</string></dict>");
        Write(inRoot + "/Contents/MacOS/my", "#!/bin/sh\necho " + inVersion + "\n");
        ASSERT_EQ(::chmod((inRoot + "/Contents/MacOS/my").c_str(), 0755), 0);
        Write(inRoot + "/Contents/Resources/en.lproj/Localizable.strings",
              std::string(200000, 's') + inVersion);
        Write(inRoot + "/Contents/Frameworks/F.framework/Versions/A/F", std::string(100000, 'f') + inVersion);
        ASSERT_EQ(::symlink("A", (inRoot + "/Contents/Frameworks/F.framework/Versions/Current").c_str()), 0);
        ASSERT_EQ(::symlink("Versions/Current/F", (inRoot + "/Contents/Frameworks/F.framework/F").c_str()),
                  0);
        Write(inRoot + "/Contents/.hidden", "h" + inVersion);
        Write(inRoot + "/Contents/readonly", "r" + inVersion);
        ASSERT_EQ(::chmod((inRoot + "/Contents/readonly").c_str(), 0444), 0);
        ASSERT_EQ(::symlink(PathOf("outside").c_str(), (inRoot + "/Contents/outside").c_str()), 0);
    }

    std::string fFolder;
};

// ---------------------------------------------------------------------------------------------
// The updater's sequences
// ---------------------------------------------------------------------------------------------

TEST_F(Folder, BackupRenameNeverReplaces)
{
    MakeBundle(PathOf("My.app"), "1");
    const std::vector<std::string> before = Describe(PathOf("My.app"), false);
    VRefPtr<VFolder> app(FolderAt(PathOf("My.app")), true);

    VFilePath backupPath(app->GetPath());
    ASSERT_TRUE(backupPath.SetFolderName(VString("My_old0001"), false));
    VString backupName;
    backupPath.GetName(backupName);
    EXPECT_TRUE(backupName.EqualToStringRaw(VString("My_old0001.app")));

    // The name is taken: refused, reported with the name, nothing moved.
    ASSERT_EQ(::mkdir(PathOf("My_old0001.app").c_str(), 0755), 0);
    {
        StErrorContextInstaller scope;
        VFolder* renamed = reinterpret_cast<VFolder*>(1);
        EXPECT_EQ(app->Rename(backupName, &renamed), VE_FOLDER_CANNOT_RENAME);
        EXPECT_EQ(renamed, nullptr);
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(Parameter(errors.back(), "newname"), "My_old0001.app");
    }
    EXPECT_EQ(Describe(PathOf("My.app"), false), before);
    ASSERT_EQ(::rmdir(PathOf("My_old0001.app").c_str()), 0);

    VFolder* backup = nullptr;
    EXPECT_EQ(app->Rename(backupName, &backup), VE_OK);
    ASSERT_NE(backup, nullptr);
    EXPECT_FALSE(app->Exists());
    EXPECT_TRUE(backup->Exists());
    EXPECT_EQ(Describe(PathOf("My_old0001.app"), false), before);
    backup->Release();
}

TEST_F(Folder, InstallCopyMatchesTheSourceAndCpArchive)
{
    MakeBundle(PathOf("new/My.app"), "2");
    ASSERT_EQ(
        ::link(PathOf("new/My.app/Contents/MacOS/my").c_str(), PathOf("new/My.app/Contents/my-too").c_str()),
        0);
    ASSERT_EQ(::setxattr(PathOf("new/My.app/Contents/Info.plist").c_str(), "user.note", "kept", 4, 0), 0);
    SetMtime(PathOf("new/My.app/Contents/Info.plist"), 1000000000);
    ASSERT_EQ(std::system(("cp -a " + PathOf("new/My.app") + " " + PathOf("reference")).c_str()), 0);

    VRefPtr<VFolder> source(FolderAt(PathOf("new/My.app")), true);
    VRefPtr<VFolder> parent(FolderAt(PathOf("Applications/Tools/Mine")), true);
    EXPECT_EQ(parent->CreateRecursive(), VE_OK);
    VFolder* installed = nullptr;
    EXPECT_EQ(source->CopyTo(*parent, VString("My.app"), &installed, VFolder::kCopyReplace), VE_OK);
    ASSERT_NE(installed, nullptr);
    EXPECT_TRUE(installed->Exists());
    installed->Release();

    const bool owners = ::geteuid() == 0;
    const std::string copy = PathOf("Applications/Tools/Mine/My.app");
    EXPECT_EQ(Describe(copy, owners), Describe(PathOf("new/My.app"), owners));
    EXPECT_EQ(Describe(copy, owners), Describe(PathOf("reference"), owners));
    EXPECT_EQ(std::system(("diff -r --no-dereference " + copy + " " + PathOf("reference")).c_str()), 0);
    EXPECT_EQ(List(PathOf("Applications/Tools/Mine")), std::vector<std::string>{"My.app"})
        << "no staging left";
}

TEST_F(Folder, FailedInstallRollsBackToTheOriginal)
{
    MakeBundle(PathOf("Apps/My.app"), "1");
    MakeBundle(PathOf("new/My.app"), "2");
    const std::vector<std::string> original = Describe(PathOf("Apps/My.app"), true);
    const std::vector<std::string> outside = Describe(PathOf("outside"), true);

    VRefPtr<VFolder> installed(FolderAt(PathOf("Apps/My.app")), true);
    VRefPtr<VFolder> apps(FolderAt(PathOf("Apps")), true);
    VRefPtr<VFolder> source(FolderAt(PathOf("new/My.app")), true);
    VFolder* backup = nullptr;
    ASSERT_EQ(installed->Rename(VString("My_old0001.app"), &backup), VE_OK);
    VRefPtr<VFolder> backupFolder(backup, true);

    // The copy fails half-way, both the native copy and the item-by-item one.
    XLinuxCopyEngine::SetCalls(FailingCalls(2));
    {
        StErrorContextInstaller scope;
        EXPECT_NE(source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyReplace), VE_OK);
    }
    XLinuxCopyEngine::ResetCalls();
    // Roll back: the install location goes, the backup takes its name again.
    if (installed->Exists())
    {
        EXPECT_EQ(installed->Delete(true), VE_OK);
    }
    EXPECT_EQ(backupFolder->Rename(VString("My.app")), VE_OK);

    EXPECT_EQ(Describe(PathOf("Apps/My.app"), true), original);
    EXPECT_EQ(Describe(PathOf("outside"), true), outside);
    EXPECT_EQ(List(PathOf("Apps")), std::vector<std::string>{"My.app"});
}

TEST_F(Folder, ReplacingCopyKeepsTheOldTargetWhenItFails)
{
    MakeBundle(PathOf("Apps/My.app"), "1");
    MakeBundle(PathOf("new/My.app"), "2");
    const std::vector<std::string> original = Describe(PathOf("Apps/My.app"), true);
    VRefPtr<VFolder> apps(FolderAt(PathOf("Apps")), true);
    VRefPtr<VFolder> source(FolderAt(PathOf("new/My.app")), true);

    for (int nth : {1, 3})
    {
        SCOPED_TRACE(nth);
        XLinuxCopyEngine::SetCalls(FailingCalls(nth));
        StErrorContextInstaller scope;
        EXPECT_NE(source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyReplace), VE_OK);
        XLinuxCopyEngine::ResetCalls();
        EXPECT_EQ(Describe(PathOf("Apps/My.app"), true), original);
        EXPECT_EQ(List(PathOf("Apps")), std::vector<std::string>{"My.app"}) << "no staging left";
    }
    // Without a failure the old tree is replaced whole (no merge): an item only the old one has
    // is gone.
    Write(PathOf("Apps/My.app/Contents/only-old"), "o");
    EXPECT_EQ(source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyReplace), VE_OK);
    EXPECT_EQ(Describe(PathOf("Apps/My.app"), true), Describe(PathOf("new/My.app"), true));
    EXPECT_EQ(List(PathOf("Apps")), std::vector<std::string>{"My.app"});
    // Without option 4 the contents are merged into the existing target.
    Write(PathOf("Apps/My.app/Contents/only-old"), "o");
    ASSERT_EQ(std::system(("rm -rf " + PathOf("Apps/My.app/Contents/Resources")).c_str()), 0);
    {
        StErrorContextInstaller scope;
        source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyGoOnAfterError);
    }
    EXPECT_EQ(Read(PathOf("Apps/My.app/Contents/only-old")), "o");
    EXPECT_TRUE(Exists(PathOf("Apps/My.app/Contents/Resources/en.lproj/Localizable.strings")));
}

TEST_F(Folder, KilledReplacingCopyLeavesTheOldTargetOrTheNew)
{
    // A bundle of some 300 files, so that a random kill lands before, inside or after the copy.
    MakeBundle(PathOf("new/My.app"), "2");
    for (int folder = 0; folder < 10; ++folder)
    {
        const std::string sub = PathOf("new/My.app/Contents/Resources/r" + std::to_string(folder));
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
        for (int file = 0; file < 30; ++file)
        {
            Write(sub + "/" + std::to_string(file), std::string(static_cast<size_t>(file) * 512, 'r'));
        }
    }
    MakeBundle(PathOf("old/My.app"), "1");
    const std::vector<std::string> oldTree = Describe(PathOf("old/My.app"), false);
    const std::vector<std::string> newTree = Describe(PathOf("new/My.app"), false);
    ASSERT_EQ(::mkdir(PathOf("Apps").c_str(), 0755), 0);
    const std::string target = PathOf("Apps/My.app");
    VRefPtr<VFolder> apps(FolderAt(PathOf("Apps")), true);
    VRefPtr<VFolder> source(FolderAt(PathOf("new/My.app")), true);
    const std::string restore =
        "rm -rf '" + target + "' && cp -a '" + PathOf("old/My.app") + "' '" + target + "'";
    ASSERT_EQ(std::system(restore.c_str()), 0);
    // A child that makes the replacing copy; it says when it begins, since a fork of this
    // process is slow to get going and the kills are to fall inside the copy itself.
    auto startCopy = [&]
    {
        int ready[2] = {-1, -1};
        EXPECT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        if (child == 0)
        {
            ::close(ready[0]);
            const bool told = ::write(ready[1], "r", 1) == 1;
            const VError code = source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyReplace);
            ::_exit(told && code == VE_OK ? 0 : 1);
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        return child;
    };
    // One whole copy gives the span over which the kills are spread (and a quarter beyond).
    pid_t child = startCopy();
    const auto started = std::chrono::steady_clock::now();
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto span =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(Describe(target, false), newTree);
    ASSERT_EQ(std::system(restore.c_str()), 0);
    std::mt19937 random(4242);
    for (int round = 0; round < 15; ++round)
    {
        child = startCopy();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() * 5 / 4 + 1)));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        const std::vector<std::string> found = Describe(target, false);
        EXPECT_TRUE(found == oldTree || found == newTree)
            << "round " << round << ": a mixed or missing target";
        if (found != oldTree)
        {
            ASSERT_EQ(std::system(restore.c_str()), 0);
        }
    }
    // The next replacing copy takes away what the killed ones left beside the target.
    EXPECT_EQ(source->CopyTo(*apps, VString("My.app"), nullptr, VFolder::kCopyReplace), VE_OK);
    EXPECT_EQ(Describe(target, false), newTree);
    EXPECT_EQ(List(PathOf("Apps")), std::vector<std::string>{"My.app"}) << "no staging left";
}

TEST_F(Folder, BackupGoesToTheTrashOrIsDeletedByForce)
{
    // The home trash, on this device.
    const std::string data = PathOf("data");
    ASSERT_EQ(::mkdir(data.c_str(), 0700), 0);
    const char* oldData = ::getenv("XDG_DATA_HOME");
    const std::string savedData = oldData != nullptr ? oldData : "";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    MakeBundle(PathOf("My_old0001.app"), "1");
    const std::vector<std::string> original = Describe(PathOf("My_old0001.app"), false);
    VRefPtr<VFolder> backup(FolderAt(PathOf("My_old0001.app")), true);
    EXPECT_EQ(backup->MoveToTrash(), VE_OK);
    EXPECT_FALSE(backup->Exists());
    EXPECT_EQ(Describe(data + "/Trash/files/My_old0001.app", false), original);
    EXPECT_TRUE(Exists(data + "/Trash/info/My_old0001.app.trashinfo"));
    EXPECT_EQ(backup->MoveToTrash(), VE_OK) << "a missing folder is no error";
    if (oldData != nullptr)
    {
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    }
    else
    {
        ::unsetenv("XDG_DATA_HOME");
    }

    // On another device: its topdir trash; where that cannot be made, the updater deletes.
    const std::string mount = PathOf("mnt");
    ASSERT_EQ(::mkdir(mount.c_str(), 0755), 0);
    const int result = RunWithTmpfsMounted(
        mount, "4m",
        [&]
        {
            int failures = 0;
            const std::string uid = std::to_string(::getuid());
            MakeBundle(mount + "/My_old0001.app", "1");
            VRefPtr<VFolder> onDevice(FolderAt(mount + "/My_old0001.app"), true);
            failures += onDevice->MoveToTrash() == VE_OK ? 0 : 1;
            failures +=
                Exists(mount + "/.Trash-" + uid + "/files/My_old0001.app/Contents/Info.plist") ? 0 : 2;
            // No usable trash: .Trash-<uid> is a file.
            std::system(("rm -rf " + mount + "/.Trash-" + uid).c_str());
            Write(mount + "/.Trash-" + uid, "not a folder");
            MakeBundle(mount + "/My_old0002.app", "1");
            VRefPtr<VFolder> second(FolderAt(mount + "/My_old0002.app"), true);
            {
                StErrorContextInstaller scope;
                failures += second->MoveToTrash() == VE_FOLDER_CANNOT_TRASH ? 0 : 4;
            }
            failures += second->DeleteForced() == VE_OK && !Exists(mount + "/My_old0002.app") ? 0 : 8;
            return failures;
        });
    if (result == 77)
    {
        GTEST_SKIP() << "the kernel refuses a mount namespace here";
    }
    EXPECT_EQ(result, 0) << "1, 2: the topdir trash; 4: the failed trash; 8: the forced delete";
}

// ---------------------------------------------------------------------------------------------
// Edge cases
// ---------------------------------------------------------------------------------------------

TEST_F(Folder, CreateAndDelete)
{
    VRefPtr<VFolder> one(FolderAt(PathOf("one")), true);
    EXPECT_EQ(one->Create(), VE_OK);
    EXPECT_EQ(one->Create(), VE_OK) << "an existing folder";
    VRefPtr<VFolder> three(FolderAt(PathOf("one/two/three")), true);
    EXPECT_EQ(three->CreateRecursive(), VE_OK);
    EXPECT_TRUE(three->Exists());

    Write(PathOf("one/two/three/.hidden"), "h");
    EXPECT_FALSE(three->IsEmpty());
    {
        StErrorContextInstaller scope;
        EXPECT_EQ(three->Delete(false), VE_FOLDER_NOT_EMPTY);
        EXPECT_EQ(Codes(scope), std::vector<VError>{VE_FOLDER_NOT_EMPTY});
    }
    EXPECT_TRUE(Exists(PathOf("one/two/three/.hidden")));
    EXPECT_EQ(one->Delete(true), VE_OK);
    EXPECT_FALSE(one->Exists());
    {
        StErrorContextInstaller scope;
        EXPECT_EQ(one->Delete(true), VE_FILE_NOT_FOUND) << "a missing folder";
    }

    // A file path is no folder: not there, nothing to trash.
    Write(PathOf("file"), "f");
    VFolder asFile(VString(PathOf("file").c_str()), FPS_POSIX);
    EXPECT_FALSE(asFile.Exists());
    EXPECT_EQ(asFile.MoveToTrash(), VE_OK);
    EXPECT_EQ(Read(PathOf("file")), "f");
}

// Programs that make folders below one missing parent at once (two runs making their log folders
// under one new folder) all succeed: a parent made by another between the look and the creation is
// there, as asked. Children released together by closing one pipe; many rounds, since each
// crossing is a matter of timing.
TEST_F(Folder, CreateRecursiveByManyProcessesAtOnce)
{
    constexpr int kChildren = 6;
    for (int round = 0; round < 20; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        int gate[2] = {-1, -1};
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kChildren; ++i)
        {
            const std::string path = PathOf("race" + std::to_string(round) + "/a/b/c/" + std::to_string(i));
            const pid_t child = ::fork();
            if (child == 0)
            {
                ::close(gate[1]);
                char byte = 0;
                const bool released = ::read(gate[0], &byte, 1) == 0;
                VRefPtr<VFolder> folder(FolderAt(path), true);
                ::_exit(released && folder->CreateRecursive() == VE_OK && folder->Exists() ? 0 : 1);
            }
            ASSERT_GT(child, 0);
            children.push_back(child);
        }
        ::close(gate[0]);
        ::close(gate[1]);
        int failed = 0;
        for (pid_t child : children)
        {
            int status = -1;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        }
        ASSERT_EQ(failed, 0);
    }
}

TEST_F(Folder, CopyRefusesADestinationInsideTheSource)
{
    ASSERT_EQ(::mkdir(PathOf("src").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("src/sub").c_str(), 0755), 0);
    Write(PathOf("src/sub/f"), "f");
    ASSERT_EQ(::symlink(PathOf("src/sub").c_str(), PathOf("into-source").c_str()), 0);
    VRefPtr<VFolder> source(FolderAt(PathOf("src")), true);

    struct Case
    {
        const char* fWhat;
        std::string fDestination;
        uint32_t fOptions;
    };
    const std::vector<Case> cases = {
        {"itself", PathOf("src"), 0},
        {"a descendant", PathOf("src/sub"), 0},
        {"a missing descendant", PathOf("src/sub/new"), VFolder::kCopyReplace},
        {"through a link", PathOf("into-source"), 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        VRefPtr<VFolder> destination(FolderAt(c.fDestination), true);
        StErrorContextInstaller scope;
        VFolder* copied = reinterpret_cast<VFolder*>(1);
        EXPECT_EQ(source->CopyTo(*destination, &copied, c.fOptions), VE_FOLDER_DESTINATION_IN_SOURCE);
        EXPECT_EQ(copied, nullptr);
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_EQ(errors.size(), 1U);
        VString expected;
        destination->GetPath().GetPath(expected);
        std::string expectedBytes;
        XLinuxFile::EncodeNameBytes(expected, expectedBytes);
        EXPECT_EQ(Parameter(errors[0], "destination"), expectedBytes);
    }
    EXPECT_EQ(List(PathOf("src/sub")), std::vector<std::string>{"f"});

    // A missing source.
    VRefPtr<VFolder> missing(FolderAt(PathOf("missing")), true);
    StErrorContextInstaller scope;
    EXPECT_EQ(missing->CopyContentsTo(*source), VE_FOLDER_NOT_FOUND);
    EXPECT_EQ(Codes(scope), std::vector<VError>{VE_FOLDER_NOT_FOUND});
}

TEST_F(Folder, IterationRecursesOnlyWhereAsked)
{
    ASSERT_EQ(::mkdir(PathOf("t").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("t/a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("t/a/b").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("t/c").c_str(), 0755), 0);
    Write(PathOf("t/top"), "1");
    Write(PathOf("t/a/mid"), "2");
    Write(PathOf("t/a/b/deep"), "3");
    VRefPtr<VFolder> root(FolderAt(PathOf("t")), true);

    auto files = [&](uint32_t inOptions)
    {
        std::set<std::string> names;
        root->IterateFiles(
            [&](IFile* inFile, IFileAttributeAccessor* inAccessor)
            {
                VString name;
                inFile->GetName(name);
                names.insert(to_string(name));
                EXPECT_EQ(inAccessor->GetTime(nullptr, nullptr, nullptr), VE_OK);
                return true;
            },
            inOptions);
        return names;
    };
    EXPECT_EQ(files(1), (std::set<std::string>{"top"})) << "1 alone lists no sub-folders";
    EXPECT_EQ(files(3), (std::set<std::string>{"top", "mid", "deep"}));

    // Folders in pre-order; a false answer stops everything.
    std::vector<std::string> order;
    root->IterateFolders(
        [&](IFolder* inFolder, IFileAttributeAccessor*)
        {
            VString name;
            inFolder->GetName(name);
            order.push_back(to_string(name));
            return true;
        },
        1);
    ASSERT_EQ(order.size(), 3U);
    const auto a = std::find(order.begin(), order.end(), "a");
    ASSERT_NE(a, order.end());
    EXPECT_EQ(*(a + 1), "b") << "a folder comes right before its contents";
    int calls = 0;
    EXPECT_FALSE(root->IterateFolders([&](IFolder*, IFileAttributeAccessor*) { return ++calls > 5; }, 1));
    EXPECT_EQ(calls, 1);

    std::vector<VRefPtr<VFile>> fileList;
    std::vector<VRefPtr<VFolder>> folderList;
    root->GetContents(&fileList, &folderList);
    EXPECT_EQ(fileList.size(), 1U);
    EXPECT_EQ(folderList.size(), 2U);
}

// Links resolved (option 16) can make a folder its own descendant: the walk skips a folder it is
// already inside. A tree deeper than the descriptors allowed is walked whole.
TEST_F(Folder, RecursiveWalksSkipCyclesAndGoToAnyDepth)
{
    ASSERT_EQ(::mkdir(PathOf("t").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("t/a").c_str(), 0755), 0);
    Write(PathOf("t/a/file"), "f");
    ASSERT_EQ(::symlink(".", PathOf("t/self").c_str()), 0);
    ASSERT_EQ(::symlink("..", PathOf("t/a/up").c_str()), 0);
    ASSERT_EQ(::symlink("a", PathOf("t/other").c_str()), 0); // no cycle: "a" once more, by its real path
    std::string deep = PathOf("t/deep");
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    for (int level = 1; level < 600; ++level)
    {
        deep += "/d";
        ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0) << level;
    }
    Write(deep + "/bottom", "b");
    VRefPtr<VFolder> root(FolderAt(PathOf("t")), true);

    struct rlimit old = {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    struct rlimit lowered = old;
    lowered.rlim_cur = 128;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    int folders = 0;
    std::multiset<std::string> files;
    const bool foldersDone = root->IterateFolders(
        [&](IFolder*, IFileAttributeAccessor*)
        {
            ++folders;
            return folders < 10000;
        },
        1 | 2 | 8 | 16);
    const bool filesDone = root->IterateFiles(
        [&](IFile* inFile, IFileAttributeAccessor*)
        {
            VString name;
            inFile->GetName(name);
            files.insert(to_string(name));
            return files.size() < 10000;
        },
        1 | 2 | 8 | 16);
    ::setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_TRUE(foldersDone);
    EXPECT_TRUE(filesDone);
    // "a", "other" (a again), the 600 levels; "self" and "up" are the walk's own ancestors.
    EXPECT_EQ(folders, 602);
    EXPECT_EQ(files, (std::multiset<std::string>{"bottom", "file", "file"}));
}

TEST_F(Folder, RelativesStayInTheirFileSystem)
{
    ASSERT_EQ(::mkdir(PathOf("fs").c_str(), 0755), 0);
    VRefPtr<VFolder> rootFolder(FolderAt(PathOf("fs")), true);
    VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(VString("data"), rootFolder.Get(), 0), true);
    ASSERT_NE(fileSystem.Get(), nullptr);
    VRefPtr<VFolder> root(new VFolder(rootFolder->GetPath(), fileSystem.Get()), true);

    EXPECT_EQ(root->RetainParentFolder(true), nullptr);
    VRefPtr<IFolder> parent(root->RetainParentFolder(false), true);
    ASSERT_NE(parent.Get(), nullptr);
    EXPECT_EQ(parent->GetFileSystem(), nullptr);

    VRefPtr<VFolder> sub(root->RetainRelativeFolder(VString("a/b"), FPS_POSIX), true);
    ASSERT_NE(sub.Get(), nullptr);
    EXPECT_EQ(sub->GetFileSystem(), fileSystem.Get());
    EXPECT_TRUE(sub->GetPathWithFileSystem().EqualToStringRaw(VString("/data/a/b/")));
    EXPECT_EQ(root->RetainRelativeFolder(VString("../x"), FPS_POSIX), nullptr) << "outside the root";
    VFolder outside(*root, VString("../x"), FPS_POSIX);
    EXPECT_EQ(outside.GetFileSystem(), nullptr);
    VFolder inside(*root, VString("in"), FPS_POSIX);
    EXPECT_EQ(inside.GetFileSystem(), fileSystem.Get());
    EXPECT_EQ(PosixPathOf(inside), PathOf("fs/in/"));

    // Identity is exact: Linux file systems tell case apart.
    VFolder same(VString(PathOf("fs/").c_str()), FPS_POSIX);
    VFolder upper(VString(PathOf("FS/").c_str()), FPS_POSIX);
    EXPECT_TRUE(root->IsSameFolder(&same));
    EXPECT_FALSE(root->IsSameFolder(&upper));
    EXPECT_FALSE(root->IsSameFolder(nullptr));

    VString text;
    root->GetPlatformPath(text, static_cast<FilePathStyle>(2));
    EXPECT_TRUE(text.IsEmpty());
    ASSERT_EQ(::mkdir(PathOf("fs/sp ace").c_str(), 0755), 0);
    VFolder spaced(*root, VString("sp ace"), FPS_POSIX);
    spaced.GetURL(text, true);
    EXPECT_TRUE(text.EqualToStringRaw(VString(("file://" + PathOf("fs/sp%20ace/")).c_str())));
    spaced.GetRelativeURL(root.Get(), text, true);
    EXPECT_TRUE(text.EqualToStringRaw(VString("sp%20ace/")));

    // A link to a folder stands for the folder.
    ASSERT_EQ(::symlink(PathOf("fs/sp ace").c_str(), PathOf("fs/alias").c_str()), 0);
    VRefPtr<VFolder> resolved(VFolder::CreateAndResolveAlias(*root, VString("alias")), true);
    ASSERT_NE(resolved.Get(), nullptr);
    EXPECT_EQ(PosixPathOf(*resolved), PathOf("fs/sp ace/"));
}

} // namespace
