#include "tests/toolbox/files/SmallTmpfs.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

// A fresh temporary folder, removed with its contents at the end. Runs with the task manager so
// that pushed errors reach the error contexts.
class Files : public test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-files-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
    }
    void TearDown() override
    {
        ASSERT_EQ(std::system(("chmod -R u+w " + fFolder + " && rm -rf " + fFolder).c_str()), 0);
        TaskManagerTest::TearDown();
    }

    std::string PathOf(const std::string& inName) const { return fFolder + "/" + inName; }
    static void Write(const std::string& inPath, const std::string& inBytes)
    {
        std::ofstream(inPath, std::ios::binary) << inBytes;
    }
    static std::string Read(const std::string& inPath)
    {
        std::ifstream stream(inPath, std::ios::binary);
        std::ostringstream bytes;
        bytes << stream.rdbuf();
        return bytes.str();
    }
    static VRefPtr<VFile> FileAt(const std::string& inPosixPath)
    {
        return VRefPtr<VFile>(new VFile(VString(inPosixPath.c_str()), FPS_POSIX), true);
    }
    // The names in the folder, for checking that no temporary sibling is left.
    static std::vector<std::string> Names(const std::string& inFolder)
    {
        std::vector<std::string> names;
        DIR* folder = ::opendir(inFolder.c_str());
        while (dirent* entry = folder != nullptr ? ::readdir(folder) : nullptr)
        {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
            {
                names.push_back(name);
            }
        }
        if (folder != nullptr)
        {
            ::closedir(folder);
        }
        return names;
    }

    std::string fFolder;
};

std::u16string U16(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

std::u16string Text(VErrorBase* inError, const char* inName)
{
    VString text;
    inError->GetParameters()->GetProperty(VString(inName)).GetString(text);
    return U16(text);
}

TEST_F(Files, OpenTable)
{
    Write(PathOf("regular"), "data");
    Write(PathOf("readonly"), "data");
    ASSERT_EQ(::chmod(PathOf("readonly").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("regular", PathOf("link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", PathOf("dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("fifo", PathOf("fifo-link").c_str()), 0);
    const bool root = ::geteuid() == 0; // root ignores the mode bits
    const int readOnlyWrite = root ? 0 : EACCES;

    struct Row
    {
        const char* fTarget;
        FileAccess fAccess;
        uint32_t fOptions;
        int fErrno; // 0: opens
        const char* fWhat;
    };
    const Row rows[] = {
        {"regular", FA_READ, 0, 0, "a regular file opens for reading"},
        {"regular", FA_READ_WRITE, 0, 0, "and for writing with a lock"},
        {"regular", FA_SHARED, 0, 0, "and with a shared lock"},
        {"regular", FA_MAX, 0, 0, "and with the best access"},
        {"regular", FA_READ, 0x1, ENOTSUP, "a resource fork is never there"},
        {"readonly", FA_READ, 0, 0, "a read-only file opens for reading"},
        {"readonly", FA_READ_WRITE, 0, readOnlyWrite, "but not for writing"},
        {"readonly", FA_MAX, 0, 0, "best access falls back to reading"},
        {"missing", FA_READ, 0, ENOENT, "a missing file does not open"},
        {"missing", FA_READ_WRITE, 0x2, 0, "unless created"},
        {"link", FA_READ, 0, ELOOP, "a final link is not followed by default"},
        {"link", FA_READ, 0x80, 0, "and is with option 0x80"},
        {"dangling", FA_READ, 0x80, ENOENT, "a link to nothing gives the missing target"},
        {"dangling", FA_READ, 0, ELOOP, "or the link itself without 0x80"},
        {"regular", FA_READ_WRITE, 0x4, 0, "truncating opens"},
        {"fifo-link", FA_READ, 0x80, ENXIO, "a FIFO behind a link is refused, without waiting for a writer"},
        {"fifo-link", FA_READ_WRITE, 0x80, ENXIO, "also for writing"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        auto file = FileAt(PathOf(row.fTarget));
        StErrorContextInstaller scope;
        VFileDesc* desc = nullptr;
        VError code = file->Open(row.fAccess, &desc, row.fOptions);
        if (row.fErrno == 0)
        {
            ASSERT_EQ(code, VE_OK);
            ASSERT_NE(desc, nullptr);
            EXPECT_EQ(desc->GetMode(), row.fAccess);
            EXPECT_EQ(desc->GetParentVFile(), file.Get());
            delete desc;
        }
        else
        {
            EXPECT_EQ(desc, nullptr);
            ASSERT_EQ(scope.GetContext()->GetErrorList().size(), 2U);
            EXPECT_EQ(scope.GetContext()->GetErrorList()[0]->GetError(), MakeVErrorFromErrno(row.fErrno));
            EXPECT_EQ(code, EncodedNativeErrorToVError(MakeVErrorFromErrno(row.fErrno), VE_FILE_CANNOT_OPEN));
        }
    }
    EXPECT_EQ(Read(PathOf("regular")), "") << "the truncating open emptied the file";
}

TEST_F(Files, LockHeldByAnotherProcessRefusesAtOnce)
{
    Write(PathOf("locked"), "data");
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    if (child == 0)
    {
        int fd = ::open(PathOf("locked").c_str(), O_RDWR);
        char byte = ::flock(fd, LOCK_EX) == 0 ? 1 : 0;
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    auto file = FileAt(PathOf("locked"));
    for (FileAccess access : {FA_READ_WRITE, FA_SHARED})
    {
        StErrorContextInstaller scope;
        VFileDesc* desc = nullptr;
        EXPECT_NE(file->Open(access, &desc), VE_OK);
        EXPECT_EQ(scope.GetContext()->GetErrorList()[0]->GetError(), MakeVErrorFromErrno(EACCES));
    }
    {
        StErrorContextInstaller scope;
        EXPECT_NE(file->SetContent("new", 3), VE_OK) << "a locked file is not replaced under its holder";
        EXPECT_EQ(scope.GetContext()->GetErrorList()[0]->GetError(), MakeVErrorFromErrno(EACCES));
        EXPECT_EQ(Read(PathOf("locked")), "data");
    }
    VFileDesc* desc = nullptr;
    EXPECT_EQ(file->Open(FA_MAX, &desc), VE_OK) << "best access reads instead";
    delete desc;
    (void)!::write(release[1], &byte, 1);
    ::waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
    {
        ::close(fd);
    }
}

// Each failing operation pushes its default code with the file's name and path, its own
// parameters and the native code, and resets its out-values.
TEST_F(Files, ErrorsCarryTheirParameters)
{
    Write(PathOf("there"), "data");
    Write(PathOf("other"), "other");
    auto missing = FileAt(PathOf("missing.txt"));
    auto there = FileAt(PathOf("there"));

    struct Row
    {
        const char* fWhat;
        std::function<VError()> fCall;
        VError fDefault;
        int fErrno;
        const char* fParameter;
    };
    int64_t size = 99;
    VTime modified;
    modified.FromUTCTime(2020, 1, 1, 0, 0, 0, 0);
    VFilePath target(VString("Root:x"));
    VTime toSet;
    toSet.FromUTCTime(2020, 1, 1, 0, 0, 0, 0);
    const Row rows[] = {
        {"open",
         [&]
         {
             VFileDesc* desc = nullptr;
             return missing->Open(FA_READ_WRITE, &desc, 0x10);
         },
         VE_FILE_CANNOT_OPEN, ENOENT, "options"},
        {"create", [&] { return there->Create(0); }, VE_FILE_CANNOT_CREATE, EEXIST, "options"},
        {"rename", [&] { return there->Rename(VString("other")); }, VE_FILE_CANNOT_RENAME, EEXIST, "newname"},
        {"size", [&] { return missing->GetSize(&size); }, VE_FILE_CANNOT_GET_ATTRIBUTES, ENOENT, nullptr},
        {"times", [&] { return missing->GetTimeAttributes(&modified, nullptr, nullptr); },
         VE_FILE_CANNOT_GET_ATTRIBUTES, ENOENT, nullptr},
        {"resolve", [&] { return missing->ResolveAlias(target); }, VE_FILE_CANNOT_RESOLVE_ALIAS, ENOENT,
         nullptr},
        {"set times", [&] { return missing->SetTimeAttributes(&toSet, nullptr, nullptr); },
         VE_FILE_CANNOT_GET_ATTRIBUTES, ENOENT, nullptr},
        {"set permissions", [&] { return missing->MAC_SetPermissions(0644); }, VE_FILE_CANNOT_SET_ATTRIBUTES,
         ENOENT, nullptr},
        {"owner",
         [&]
         {
             uint32_t uid = 0;
             uint32_t gid = 0;
             return missing->Mac_GetOwner(uid, gid);
         },
         VE_FILE_CANNOT_GET_ATTRIBUTES, ENOENT, nullptr},
        {"alias", [&] { return FileAt(PathOf("nowhere/alias"))->CreateAlias(there->GetPath(), nullptr); },
         VE_FILE_CANNOT_CREATE_ALIAS, ENOENT, nullptr},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        StErrorContextInstaller scope;
        VError code = row.fCall();
        EXPECT_EQ(code, EncodedNativeErrorToVError(MakeVErrorFromErrno(row.fErrno), row.fDefault));
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_EQ(errors.size(), 2U);
        EXPECT_EQ(errors[0]->GetError(), MakeVErrorFromErrno(row.fErrno));
        EXPECT_EQ(errors[1]->GetError(), code);
        EXPECT_NE(Text(errors[1], "name"), u"n/a");
        EXPECT_FALSE(Text(errors[1], "path").empty());
        if (row.fParameter != nullptr)
        {
            EXPECT_TRUE(errors[1]->GetParameters()->HasProperty(VString(row.fParameter)));
        }
    }
    EXPECT_EQ(size, 0) << "out-values are reset";
    EXPECT_TRUE(modified.IsNull());
    EXPECT_FALSE(target.IsValid());
    EXPECT_EQ(Read(PathOf("other")), "other") << "the rename replaced nothing";

    StErrorContextInstaller scope;
    EXPECT_EQ(missing->Delete(), VE_OK) << "deleting a missing file is no error";
    EXPECT_EQ(VFile(VFilePath()).Delete(), VE_FILE_CANNOT_DELETE) << "an invalid path is";
    EXPECT_EQ(scope.GetContext()->GetErrorList().size(), 1U);
}

TEST_F(Files, RenameNeverReplaces)
{
    Write(PathOf("a"), "A");
    Write(PathOf("b"), "B");
    for (bool withoutFlag : {false, true})
    {
        SCOPED_TRACE(withoutFlag ? "link + unlink" : "renameat2");
        if (withoutFlag)
        {
            XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
            calls.fRenameat2 =
                [](int inFromDir, const char* inFrom, int inToDir, const char* inTo, unsigned inFlags)
            {
                if (inFlags != 0)
                {
                    errno = EINVAL;
                    return -1;
                }
                return ::renameat(inFromDir, inFrom, inToDir, inTo);
            };
            XLinuxCopyEngine::SetCalls(calls);
        }
        auto file = FileAt(PathOf("a"));
        {
            StErrorContextInstaller scope;
            EXPECT_NE(file->Rename(VString("b")), VE_OK);
            EXPECT_EQ(scope.GetContext()->GetErrorList()[0]->GetError(), MakeVErrorFromErrno(EEXIST));
        }
        EXPECT_EQ(Read(PathOf("a")), "A");
        EXPECT_EQ(Read(PathOf("b")), "B");
        VFile* renamed = nullptr;
        ASSERT_EQ(file->Rename(VString("c"), &renamed), VE_OK);
        ASSERT_NE(renamed, nullptr);
        EXPECT_TRUE(renamed->Exists());
        EXPECT_FALSE(file->Exists());
        EXPECT_EQ(Read(PathOf("c")), "A");
        ASSERT_EQ(renamed->Rename(VString("a")), VE_OK);
        renamed->Release();
    }
    XLinuxCopyEngine::ResetCalls();
}

TEST_F(Files, TimesAndAttributes)
{
    // The test folder's file system, and tmpfs where it can be had.
    test::SmallTmpfs disk(64 * 1024);
    std::vector<std::string> places = {PathOf("timed")};
    if (disk.IsMounted())
    {
        places.push_back(disk.PathOf("timed"));
    }
    for (const std::string& place : places)
    {
        SCOPED_TRACE(place);
        Write(place, "x");
        auto timed = FileAt(place);
        VTime modified;
        modified.FromUTCTime(2021, 6, 15, 12, 30, 45, 250);
        ASSERT_EQ(timed->SetTimeAttributes(&modified, nullptr, nullptr), VE_OK);
        VTime readModified;
        VTime created;
        VTime accessed;
        ASSERT_EQ(timed->GetTimeAttributes(&readModified, &created, &accessed), VE_OK);
        EXPECT_EQ(readModified, modified);
        EXPECT_FALSE(accessed.IsNull());
        // A file system that records birth times gives the creation (after the time set above);
        // others give a null one.
        if (!created.IsNull())
        {
            EXPECT_GT(created, modified);
        }
    }
    auto file = FileAt(PathOf("timed"));
    uint32_t permission = 9;
    ASSERT_EQ(XLinuxFile::GetEffectivePermission(PathOf("timed").c_str(), permission), VE_OK);
    EXPECT_EQ(permission, ::geteuid() == 0 ? 7U : 6U) << "root may do all; the owner has rw-";

    uint32_t attributes = 9;
    ASSERT_EQ(file->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes, 0U);
    Write(PathOf(".hidden"), "x");
    ASSERT_EQ(FileAt(PathOf(".hidden"))->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes, 2U) << "a leading '.' is invisible";

    StErrorContextInstaller scope(false, true);
    if (file->SetFileAttributes(1) != VE_OK)
    {
        GTEST_SKIP() << "no CAP_LINUX_IMMUTABLE or no inode flags here: the locked bit is not tested";
    }
    ASSERT_EQ(file->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes, 1U);
    EXPECT_NE(::unlink(PathOf("timed").c_str()), 0) << "an immutable file cannot be removed";
    ASSERT_EQ(file->SetFileAttributes(0), VE_OK);
    ASSERT_EQ(file->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes, 0U);
}

TEST_F(Files, SymbolicLinksAreWrittenAsideAndClimbRelatively)
{
    ASSERT_EQ(::mkdir(PathOf("a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("b").c_str(), 0755), 0);
    Write(PathOf("a/target.txt"), "T");
    Write(PathOf("a/link"), "an old file stands here");
    VFilePath target;
    XLinuxFile::GetFilePathFromPosixPath(PathOf("a/target.txt").c_str(), false, target);

    struct Row
    {
        const char* fLink;
        const char* fText;
    };
    const Row rows[] = {{"a/link", "target.txt"}, {"b/link", "../a/target.txt"}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fLink);
        auto link = FileAt(PathOf(row.fLink));
        ASSERT_EQ(link->MAC_CreateSymbolicLink(target, false), VE_OK);
        VString text;
        ASSERT_EQ(XLinuxFile(PathOf(row.fLink)).ReadSymbolicLink(text), VE_OK);
        EXPECT_EQ(U16(text), U16(VString(row.fText)));
        EXPECT_TRUE(link->IsAliasFile());
        VFilePath resolved;
        ASSERT_EQ(link->ResolveAlias(resolved), VE_OK);
        EXPECT_EQ(U16(resolved.GetPath(FPS_POSIX)), U16(target.GetPath(FPS_POSIX)));
    }
    EXPECT_EQ(Names(PathOf("a")).size(), 2U) << "no temporary link left";

    // Resolving a file that is no link pushes 611; resolving the alias file replaces the object.
    StErrorContextInstaller scope;
    VFilePath none;
    EXPECT_EQ(FileAt(PathOf("a/target.txt"))->ResolveAlias(none), VE_FILE_CANNOT_RESOLVE_ALIAS);
    VFile* file = new VFile(VString(PathOf("b/link").c_str()), FPS_POSIX);
    ASSERT_EQ(VFile::ResolveAliasFile(&file, false), VE_OK);
    EXPECT_EQ(U16(file->GetPath().GetPath(FPS_POSIX)), U16(target.GetPath(FPS_POSIX)));
    file->Release();
}

TEST_F(Files, ContentRoundTrips)
{
    // SetContent of nothing creates the missing folders and an empty file.
    auto deep = FileAt(PathOf("x/y/empty.txt"));
    ASSERT_EQ(deep->SetContent(nullptr, 0), VE_OK);
    EXPECT_TRUE(deep->Exists());
    int64_t size = -1;
    ASSERT_EQ(deep->GetSize(&size), VE_OK);
    EXPECT_EQ(size, 0);

    auto file = FileAt(PathOf("text.txt"));
    ASSERT_EQ(file->SetContentAsString(VString("h\xC3\xA9llo"), CharSet::VTC_UTF_8, eCRM_NONE, true), VE_OK);
    EXPECT_EQ(Read(PathOf("text.txt")), "\xEF\xBB\xBFh\xC3\xA9llo");
    VString text;
    ASSERT_EQ(file->GetContentAsString(text, CharSet::VTC_UTF_16, eCRM_NONE), VE_OK);
    EXPECT_EQ(U16(text), u"h\u00E9llo") << "the mark overrides the set asked for";

    ASSERT_EQ(file->SetContentAsString(VString(""), CharSet::VTC_UTF_8, eCRM_NONE, true), VE_OK);
    EXPECT_EQ(Read(PathOf("text.txt")), "") << "no mark for empty text";
    {
        StErrorContextInstaller scope(false, true);
        EXPECT_EQ(file->SetContentAsString(VString("x"), CharSet(0x7FFF), eCRM_NONE, false),
                  VE_FILE_CANNOT_CONVERT_TEXT)
            << "a set without a converter";
        EXPECT_EQ(Read(PathOf("text.txt")), "");
    }

    ASSERT_EQ(file->AppendContent("ab", 2), VE_OK);
    ASSERT_EQ(file->AppendContent("cd", 2), VE_OK);
    VFileContentBuffer content;
    ASSERT_EQ(file->GetContent(content), VE_OK);
    EXPECT_EQ(std::string(static_cast<const char*>(content.GetDataPtr()), content.GetDataSize()), "abcd");
    EXPECT_TRUE(file->IsWritable());

    auto copy = FileAt(PathOf("copy.txt"));
    ASSERT_EQ(file->CopyContentTo(copy.Get()), VE_OK);
    EXPECT_EQ(Read(PathOf("copy.txt")), "abcd");

    VRefPtr<VFile> temporary(VFile::CreateTemporaryFile(), true);
    VRefPtr<VFile> other(VFile::CreateTemporaryFile(), true);
    ASSERT_TRUE(temporary && other);
    VString name;
    temporary->GetName(name);
    EXPECT_TRUE(name.BeginsWith(VString("zrn_")));
    EXPECT_FALSE(temporary->IsSameFile(other.Get()));
    EXPECT_EQ(temporary->Delete(), VE_OK);
    EXPECT_EQ(other->Delete(), VE_OK);
}

// SetContent replaces the file whole: other hard links keep the old bytes, the mode stays, and a
// final link has its target replaced.
TEST_F(Files, SetContentReplacesTheFileWhole)
{
    Write(PathOf("data"), "old");
    ASSERT_EQ(::chmod(PathOf("data").c_str(), 0600), 0);
    ASSERT_EQ(::link(PathOf("data").c_str(), PathOf("second").c_str()), 0);
    ASSERT_EQ(::symlink("data", PathOf("link").c_str()), 0);
    ASSERT_EQ(FileAt(PathOf("link"))->SetContent("new", 3), VE_OK);
    EXPECT_EQ(Read(PathOf("data")), "new");
    EXPECT_EQ(Read(PathOf("second")), "old");
    struct stat status = {};
    ASSERT_EQ(::lstat(PathOf("data").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600U);
    ASSERT_EQ(::lstat(PathOf("link").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link stays a link";
    EXPECT_EQ(Names(fFolder).size(), 3U) << "no temporary sibling left";
}

TEST_F(Files, SetContentOnAFullDiskKeepsTheOldContent)
{
    test::SmallTmpfs disk(768 * 1024);
    if (!disk.IsMounted())
    {
        GTEST_SKIP() << "no user and mount namespaces here";
    }
    const std::string path = disk.PathOf("big.bin");
    const std::string old(512 * 1024, 'o');
    Write(path, old); // 256 KiB left free
    auto file = FileAt(path);
    const std::string replacement(512 * 1024, 'n');
    StErrorContextInstaller scope;
    EXPECT_NE(file->SetContent(replacement.data(), replacement.size()), VE_OK);
    const auto& errors = scope.GetContext()->GetErrorList();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0]->GetError(), MakeVErrorFromErrno(ENOSPC));
    EXPECT_EQ(Read(path), old);
    std::string folder = path.substr(0, path.rfind('/'));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"big.bin"}) << "no sibling left";
}

TEST_F(Files, SetContentKilledMidwayLeavesOldOrNew)
{
    const std::string path = PathOf("killed.bin");
    const std::string first(1024 * 1024, 'a');
    const std::string second(1024 * 1024, 'b');
    Write(path, first);
    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round)
    {
        pid_t child = ::fork();
        if (child == 0)
        {
            VFile file(VString(path.c_str()), FPS_POSIX);
            for (int i = 0;; ++i)
            {
                const std::string& bytes = i % 2 == 0 ? second : first;
                file.SetContent(bytes.data(), bytes.size());
            }
        }
        ::usleep(random() % 50000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string now = Read(path);
        EXPECT_TRUE(now == first || now == second) << "round " << round << ": " << now.size() << " bytes";
    }
    // What the killed writers left goes with the next write to the folder.
    ASSERT_EQ(FileAt(path)->SetContent("end", 3), VE_OK);
    EXPECT_EQ(Names(fFolder), std::vector<std::string>{"killed.bin"});
}

// The rename that puts the new content in place fails or finds the file busy, through the back
// ends' one table of calls: a failure leaves the old content and nothing beside it.
TEST_F(Files, SetContentFaultsLeaveTheOldContent)
{
    struct Row
    {
        const char* fWhat;
        int fFailures; // renames that fail before the others pass
        int fErrno;
        bool fDone;
    };
    const Row rows[] = {
        {"the rename fails", 1, EIO, false},
        {"no space for the new name", 1, ENOSPC, false},
        {"busy twice, then free", 2, EBUSY, true},
        {"busy at every attempt", 100, ETXTBSY, false},
    };
    static int sFailures = 0;
    static int sErrno = 0;
    XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
    calls.fRenameat2 = [](int inFromDir, const char* inFrom, int inToDir, const char* inTo, unsigned inFlags)
    {
        if (sFailures > 0)
        {
            --sFailures;
            errno = sErrno;
            return -1;
        }
        return ::renameat2(inFromDir, inFrom, inToDir, inTo, inFlags);
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        Write(PathOf("data"), "old");
        sFailures = row.fFailures;
        sErrno = row.fErrno;
        XLinuxCopyEngine::SetCalls(calls);
        StErrorContextInstaller scope(false);
        const VError code = FileAt(PathOf("data"))->SetContent("new", 3);
        XLinuxCopyEngine::ResetCalls();
        EXPECT_EQ(code == VE_OK, row.fDone);
        EXPECT_EQ(Read(PathOf("data")), row.fDone ? "new" : "old");
        EXPECT_EQ(Names(fFolder), std::vector<std::string>{"data"});
    }
}

TEST_F(Files, SetContentTakesNamesOfAnyLegalLength)
{
    const std::string path = PathOf(std::string(255, 'n'));
    ASSERT_EQ(FileAt(path)->SetContent("new", 3), VE_OK);
    ASSERT_EQ(FileAt(path)->SetContent("again", 5), VE_OK);
    EXPECT_EQ(Read(path), "again");
    EXPECT_EQ(Names(fFolder).size(), 1U);
}

namespace
{

// A POSIX access ACL in the kernel's extended-attribute form: the owner rw, user 1234 r, the
// group rw, the mask rw, others r.
std::string SampleAccessACL()
{
    struct Entry
    {
        uint16_t fTag;
        uint16_t fPermissions;
        uint32_t fID;
    };
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFF},
                             {0x02, 4, 1234},
                             {0x04, 6, 0xFFFFFFFF},
                             {0x10, 6, 0xFFFFFFFF},
                             {0x20, 4, 0xFFFFFFFF}};
    const uint32_t version = 2;
    std::string bytes(reinterpret_cast<const char*>(&version), sizeof version);
    bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return bytes;
}

std::string Attribute(const std::string& inPath, const char* inName)
{
    char value[256] = {};
    const ssize_t length = ::getxattr(inPath.c_str(), inName, value, sizeof value);
    return length < 0 ? std::string() : std::string(value, static_cast<size_t>(length));
}

} // namespace

// A caller who is not root rewrites a file of another group it belongs to: group, extended
// attributes and ACL stay. A writable file in a folder the caller cannot write to is rewritten in
// place.
TEST_F(Files, SetContentKeepsWhatTheCallerMaySet)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to make files of another user and group";
    }
    ASSERT_EQ(::chmod(fFolder.c_str(), 0755), 0);
    const std::string shared = PathOf("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    const std::string data = shared + "/data";
    Write(data, "old");
    ASSERT_EQ(::chown(data.c_str(), 65534, 100), 0);
    ASSERT_EQ(::chmod(data.c_str(), 0664), 0);
    ASSERT_EQ(::setxattr(data.c_str(), "user.note", "kept", 4, 0), 0);
    const std::string acl = SampleAccessACL();
    const bool withACL = ::setxattr(data.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const std::string aclBefore = Attribute(data, "system.posix_acl_access");

    const std::string closed = PathOf("closed");
    ASSERT_EQ(::mkdir(closed.c_str(), 0555), 0);
    const std::string inside = closed + "/file";
    Write(inside, "old");
    ASSERT_EQ(::chown(inside.c_str(), 65534, 65534), 0);
    struct stat before = {};
    ASSERT_EQ(::stat(inside.c_str(), &before), 0);

    pid_t child = ::fork();
    if (child == 0)
    {
        const gid_t groups[] = {100};
        if (::setgroups(1, groups) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        {
            ::_exit(2);
        }
        StErrorContextInstaller scope;
        VFile first(VString(data.c_str()), FPS_POSIX);
        VFile second(VString(inside.c_str()), FPS_POSIX);
        ::_exit(first.SetContent("new", 3) == VE_OK && second.SetContent("new", 3) == VE_OK ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    struct stat after = {};
    ASSERT_EQ(::stat(data.c_str(), &after), 0);
    EXPECT_EQ(Read(data), "new");
    EXPECT_EQ(after.st_gid, 100U);
    EXPECT_EQ(after.st_mode & 07777, 0664U);
    EXPECT_EQ(Attribute(data, "user.note"), "kept");
    if (withACL)
    {
        EXPECT_EQ(Attribute(data, "system.posix_acl_access"), aclBefore);
    }
    EXPECT_EQ(Names(shared), std::vector<std::string>{"data"});

    ASSERT_EQ(::stat(inside.c_str(), &after), 0);
    EXPECT_EQ(Read(inside), "new");
    EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten in place";
    EXPECT_EQ(Names(closed), std::vector<std::string>{"file"});
}

TEST_F(Files, SetContentInAReadOnlyFolderIsRefused)
{
    ASSERT_EQ(::mkdir(PathOf("closed").c_str(), 0555), 0);
    if (::geteuid() == 0)
    {
        // Root ignores mode bits: a child without privileges tries it.
        pid_t child = ::fork();
        if (child == 0)
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            {
                ::_exit(2);
            }
            VFile file(VString(PathOf("closed/file").c_str()), FPS_POSIX);
            StErrorContextInstaller scope;
            file.SetContent("x", 1);
            ::_exit(scope.GetContext()->GetErrorList().empty()                                         ? 3
                    : scope.GetContext()->GetErrorList()[0]->GetError() == MakeVErrorFromErrno(EACCES) ? 0
                                                                                                       : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    else
    {
        StErrorContextInstaller scope;
        EXPECT_NE(FileAt(PathOf("closed/file"))->SetContent("x", 1), VE_OK);
        EXPECT_EQ(scope.GetContext()->GetErrorList()[0]->GetError(), MakeVErrorFromErrno(EACCES));
    }
    EXPECT_TRUE(Names(PathOf("closed")).empty());
}

TEST_F(Files, JSONWriterLeavesTheFileWhenItFails)
{
    auto file = FileAt(PathOf("value.json"));
    VJSONObject* object = new VJSONObject;
    VJSONValue value(object);
    object->Release();
    object->SetProperty(VString("a"), VJSONValue(1.0));
    ASSERT_EQ(value.SaveToFile(file.Get(), VJSONWriter::kQuoted), VE_OK);
    EXPECT_EQ(Read(PathOf("value.json")), "{\"a\":1}");

    object->SetProperty(VString("self"), value); // a cycle the writer refuses
    StErrorContextInstaller scope(false, true);
    EXPECT_NE(value.SaveToFile(file.Get(), VJSONWriter::kQuoted), VE_OK);
    EXPECT_EQ(Read(PathOf("value.json")), "{\"a\":1}");
    object->RemoveProperty(VString("self"));
}

// JSON files are read as UTF-8 with their line endings kept; a syntax error names the file by its
// POSIX path, and a missing file gives the file's error, not a JSON one.
TEST_F(Files, JSONFilesAreReadWithTheirPathInErrors)
{
    Write(PathOf("good.json"), "{\"a\": [1, \"\xC3\xA9\"]}\r\n");
    VJSONValue value;
    ASSERT_EQ(value.LoadFromFile(FileAt(PathOf("good.json")).Get()), VE_OK);
    VString accented;
    value.GetProperty(VString("a")).GetArray()->GetAt(1).GetString(accented);
    EXPECT_EQ(accented.GetLength(), 1);
    EXPECT_EQ(accented.GetUniChar(1), 0xE9);
    VJSONValue same;
    ASSERT_EQ(FileAt(PathOf("good.json"))->GetContentAsJSON(same, CharSet::VTC_UTF_8), VE_OK);
    VString text;
    VString sameText;
    value.Stringify(text, VJSONWriter::kQuoted);
    same.Stringify(sameText, VJSONWriter::kQuoted);
    EXPECT_TRUE(text.EqualToStringRaw(sameText));

    Write(PathOf("bad.json"), "[1,\n2,]");
    {
        StErrorContextInstaller scope(false, true);
        VJSONValue bad;
        EXPECT_EQ(VJSONImporter::ParseFile(FileAt(PathOf("bad.json")).Get(), bad, 0), VE_JSON_MALFORMED);
        VErrorBase* last = scope.GetContext()->GetErrorList().back();
        VString source;
        last->GetParameters()->GetProperty(VString("source")).GetString(source);
        EXPECT_TRUE(source.EqualToStringRaw(VString((PathOf("bad.json") + ", ").c_str())));
        EXPECT_EQ(last->GetParameters()->GetProperty(VString("line")).GetNumber(), 2);
    }
    {
        StErrorContextInstaller scope(false, true);
        VJSONValue missing;
        VError error = missing.LoadFromFile(FileAt(PathOf("missing.json")).Get());
        EXPECT_NE(error, VE_OK);
        EXPECT_NE(error, VE_JSON_MALFORMED);
    }
    VJSONValue none(1.0);
    EXPECT_EQ(VJSONImporter::ParseFile(nullptr, none, 0), VE_OK);
    EXPECT_TRUE(none.IsUndefined());
}

// A file's bytes: a byte-order mark is skipped, ill-formed UTF-8 is refused by a strict read at
// its place and becomes U+FFFD in the default read (never '?').
TEST_F(Files, JSONFilesRefuseOrReplaceIllFormedUTF8)
{
    Write(PathOf("marked.json"), "\xEF\xBB\xBF[1]");
    VJSONValue marked;
    ASSERT_EQ(VJSONImporter::ParseFile(FileAt(PathOf("marked.json")).Get(), marked, VJSONImporter::kStrict),
              VE_OK);
    EXPECT_EQ(marked.GetArray()->GetCount(), 1u);

    Write(PathOf("broken.json"), "[\"a\xFF"
                                 "b\"]");
    VJSONValue lenient;
    ASSERT_EQ(VJSONImporter::ParseFile(FileAt(PathOf("broken.json")).Get(), lenient, 0), VE_OK);
    VString text;
    lenient.GetArray()->GetAt(0).GetString(text);
    EXPECT_TRUE(text.EqualToStringRaw(VString(reinterpret_cast<const UniChar*>(u"a\uFFFDb"))));
    VJSONValue viaContent;
    ASSERT_EQ(FileAt(PathOf("broken.json"))->GetContentAsJSON(viaContent, CharSet::VTC_UTF_8), VE_OK);
    viaContent.GetArray()->GetAt(0).GetString(text);
    EXPECT_TRUE(text.EqualToStringRaw(VString(reinterpret_cast<const UniChar*>(u"a\uFFFDb"))));

    StErrorContextInstaller scope(false, true);
    VJSONValue strict(1.0);
    EXPECT_EQ(VJSONImporter::ParseFile(FileAt(PathOf("broken.json")).Get(), strict, VJSONImporter::kStrict),
              VE_JSON_MALFORMED);
    EXPECT_TRUE(strict.IsUndefined());
    VErrorBase* last = scope.GetContext()->GetErrorList().back();
    EXPECT_EQ(last->GetParameters()->GetProperty(VString("position")).GetNumber(), 4);
}

TEST_F(Files, FileSystemsAndFreeSpace)
{
    VRefPtr<VFolder> root(new VFolder(VString((fFolder + "/").c_str()), FPS_POSIX), true);
    {
        StErrorContextInstaller scope(false, true);
        VError error = VE_OK;
        EXPECT_EQ(VFileSystem::Create(VString("a/b"), root.Get(), 0, 0, 0, &error), nullptr);
        EXPECT_EQ(error, VE_FS_BAD_NAME);
    }
    VRefPtr<VFileSystem> system(
        VFileSystem::Create(VString("data"), root.Get(), VFileSystem::kWritable, 100, 40), true);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->Request(70), VE_FS_QUOTA_EXCEEDED);
    EXPECT_EQ(system->Request(60), VE_OK);
    EXPECT_EQ(system->Relinquish(10), VE_OK);
    EXPECT_EQ(system->Request(10), VE_OK);

    VFile inside(VFilePath(root->GetPath(), VString("sub:f.txt")), system.Get());
    EXPECT_EQ(U16(inside.GetPathWithFileSystem()), u"/data/sub/f.txt");
    EXPECT_EQ(VFile(*root, VString("f.txt")).GetFileSystem(), nullptr);

    int64_t freeBytes = 0;
    int64_t total = 0;
    ASSERT_EQ(inside.GetVolumeFreeSpace(&freeBytes, &total, true, 1000), VE_OK)
        << "a missing path measures its parent";
    EXPECT_GT(total, 0);
    EXPECT_LE(freeBytes, total);
}

// The stream-text fuzz corpus read back as text files, in each set the readers guess.
TEST_F(Files, FuzzCorpusReadsAsText)
{
    const std::string corpus = ZORN_STREAM_TEXT_CORPUS;
    std::vector<std::string> names = Names(corpus);
    ASSERT_FALSE(names.empty());
    auto file = FileAt(PathOf("corpus.txt"));
    for (const std::string& name : names)
    {
        SCOPED_TRACE(name);
        const std::string bytes = Read(corpus + "/" + name);
        Write(PathOf("corpus.txt"), bytes);
        for (CharSet set : {CharSet::VTC_UTF_8, CharSet::VTC_UTF_16, CharSet::VTC_UTF_16_BIGENDIAN})
        {
            VString text;
            StErrorContextInstaller scope(false, true);
            EXPECT_EQ(file->GetContentAsString(text, set, eCRM_LF), VE_OK);
            EXPECT_EQ(text.FindUniChar(u'\r'), 0) << "line ends are LF";
        }
    }
}

// A cached answer is reused within its age for the same quota choice: bytes written meanwhile do
// not show until the choice changes or the cache is not asked for.
TEST_F(Files, FreeSpaceCache)
{
    test::SmallTmpfs disk(1024 * 1024);
    if (!disk.IsMounted())
    {
        GTEST_SKIP() << "no user and mount namespaces here";
    }
    auto file = FileAt(disk.PathOf("measured"));
    int64_t before = 0;
    ASSERT_EQ(file->GetVolumeFreeSpace(&before, nullptr, true, 60000), VE_OK);
    Write(disk.PathOf("filler"), std::string(256 * 1024, 'f'));
    int64_t cached = 0;
    int64_t fresh = 0;
    int64_t otherChoice = 0;
    ASSERT_EQ(file->GetVolumeFreeSpace(&cached, nullptr, true, 60000), VE_OK);
    ASSERT_EQ(file->GetVolumeFreeSpace(&fresh, nullptr, true, 0), VE_OK);
    ASSERT_EQ(file->GetVolumeFreeSpace(&otherChoice, nullptr, false, 60000), VE_OK);
    EXPECT_EQ(cached, before);
    EXPECT_EQ(fresh, before - 256 * 1024);
    EXPECT_EQ(otherChoice, fresh) << "tmpfs has no reserve: with or without quotas alike";
}

} // namespace
