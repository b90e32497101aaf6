#include "tests/toolbox/files/SmallTmpfs.h"
#include "tests/toolbox/files/TreeTestSupport.h"
#include "tests/toolbox/kernel/FiberTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

bool HasStagingSibling(const std::string& inFolder)
{
    for (const std::string& name : List(inFolder))
    {
        if (name.find(".partial-") != std::string::npos)
        {
            return true;
        }
    }
    return false;
}

// A bound Unix socket at inPath (closed; the name stays).
bool MakeSocket(const std::string& inPath)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, inPath.c_str(), sizeof(address.sun_path) - 1);
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

class CopyEngine : public test::TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-copy-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
    }
    void TearDown() override
    {
        XLinuxCopyEngine::ResetCalls();
        ASSERT_EQ(std::system(("chmod -R u+w " + fFolder + " 2>/dev/null; rm -rf " + fFolder).c_str()), 0);
        TaskManagerTest::TearDown();
    }

    std::string PathOf(const std::string& inName) const { return fFolder + "/" + inName; }

    // A small tree holding every kind of item the engine keeps: see the fidelity test.
    void MakeFixture(const std::string& inRoot)
    {
        ASSERT_EQ(::mkdir(inRoot.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((inRoot + "/Versions").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((inRoot + "/Versions/A").c_str(), 0750), 0);
        Write(inRoot + "/Versions/A/tool", "#!/bin/sh\necho hi\n");
        ASSERT_EQ(::chmod((inRoot + "/Versions/A/tool").c_str(), 0755), 0);
        ASSERT_EQ(::symlink("A", (inRoot + "/Versions/Current").c_str()), 0);
        ASSERT_EQ(::symlink("Versions/Current/tool", (inRoot + "/tool").c_str()), 0);
        ASSERT_EQ(::symlink((inRoot + "/Versions/A/tool").c_str(), (inRoot + "/absolute").c_str()), 0);
        ASSERT_EQ(::symlink("/etc/hostname", (inRoot + "/outside").c_str()), 0);
        Write(inRoot + "/secret", "s");
        ASSERT_EQ(::chmod((inRoot + "/secret").c_str(), 0600), 0);
        Write(inRoot + "/.hidden", "h");
        ASSERT_EQ(::mkdir((inRoot + "/empty").c_str(), 0700), 0);
        ASSERT_EQ(::mkfifo((inRoot + "/fifo").c_str(), 0640), 0);
        Write(inRoot + "/bad\xff\xfename", "invalid UTF-8");
        Write(inRoot + "/a:b", "colon");
        Write(inRoot + "/first", std::string(300000, 'x'));
        ASSERT_EQ(::link((inRoot + "/first").c_str(), (inRoot + "/Versions/A/second").c_str()), 0);
        ASSERT_EQ(::setxattr((inRoot + "/secret").c_str(), "user.note", "kept", 4, 0), 0);
        if (::geteuid() == 0)
        {
            Write(inRoot + "/owned", "o");
            ASSERT_EQ(::chown((inRoot + "/owned").c_str(), 1234, 5678), 0);
        }
        for (const char* name :
             {"/secret", "/first", "/tool", "/fifo", "/Versions/A/tool", "/Versions/A", "/empty"})
        {
            SetMtime(inRoot + name, 1000000000);
        }
    }

    std::string fFolder;
};

// ---------------------------------------------------------------------------------------------
// Fidelity
// ---------------------------------------------------------------------------------------------

TEST_F(CopyEngine, TreeCopyMatchesCpArchive)
{
    const std::string source = PathOf("source");
    MakeFixture(source);
    const std::string reference = PathOf("reference");
    ASSERT_EQ(std::system(("cp -a " + source + " " + reference).c_str()), 0);
    const std::string copy = PathOf("copy");
    ASSERT_EQ(XLinuxCopyEngine::Copy(source, copy, false), VE_OK);

    const bool owners = ::geteuid() == 0;
    EXPECT_EQ(Describe(copy, owners), Describe(reference, owners));
    // The link to outside the tree is a link, not the file it names.
    struct stat status = {};
    ASSERT_EQ(::lstat((copy + "/outside").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_FALSE(HasStagingSibling(fFolder));
}

TEST_F(CopyEngine, RefusesWhatCannotBeCopied)
{
    // A socket in the tree: refused with its path, nothing left behind.
    const std::string source = PathOf("source");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    Write(source + "/a", "a");
    const std::string socketPath = source + "/socket";
    ASSERT_TRUE(MakeSocket(socketPath));
    std::string failed;
    EXPECT_EQ(XLinuxCopyEngine::Copy(source, PathOf("copy"), false, &failed), MakeVErrorFromErrno(ENOTSUP));
    EXPECT_EQ(failed, socketPath);
    EXPECT_FALSE(Exists(PathOf("copy")));
    EXPECT_FALSE(HasStagingSibling(fFolder));
    ::unlink(socketPath.c_str());

    // Into the source itself or one of its sub-folders (also through a link to it).
    ASSERT_EQ(::mkdir((source + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(source.c_str(), PathOf("alias").c_str()), 0);
    for (const std::string& target : {source + "/copy", source + "/sub/copy", PathOf("alias") + "/sub/copy"})
    {
        EXPECT_EQ(XLinuxCopyEngine::Copy(source, target, false), MakeVErrorFromErrno(EINVAL)) << target;
        EXPECT_FALSE(Exists(target));
    }
    EXPECT_FALSE(HasStagingSibling(source));
}

// ---------------------------------------------------------------------------------------------
// Replacing and moving
// ---------------------------------------------------------------------------------------------

TEST_F(CopyEngine, ExistingDestinationIsReplacedOnlyWithOption)
{
    Write(PathOf("new"), "new");
    Write(PathOf("old"), "old");
    EXPECT_EQ(XLinuxCopyEngine::Copy(PathOf("new"), PathOf("old"), false), MakeVErrorFromErrno(EEXIST));
    EXPECT_EQ(Read(PathOf("old")), "old");
    EXPECT_EQ(XLinuxCopyEngine::Copy(PathOf("new"), PathOf("old"), true), VE_OK);
    EXPECT_EQ(Read(PathOf("old")), "new");

    // A move in one folder never replaces without the option (it used to, with rename()).
    Write(PathOf("other"), "other");
    EXPECT_EQ(XLinuxCopyEngine::Move(PathOf("other"), PathOf("old"), false), MakeVErrorFromErrno(EEXIST));
    EXPECT_EQ(Read(PathOf("old")), "new");
    EXPECT_EQ(Read(PathOf("other")), "other");
    EXPECT_EQ(XLinuxCopyEngine::Move(PathOf("other"), PathOf("old"), true), VE_OK);
    EXPECT_EQ(Read(PathOf("old")), "other");
    EXPECT_FALSE(Exists(PathOf("other")));
}

TEST_F(CopyEngine, MoveAcrossFileSystems)
{
    test::SmallTmpfs tmpfs(4 << 20);
    if (!tmpfs.IsMounted())
    {
        GTEST_SKIP() << "no tmpfs: the kernel refuses unprivileged namespaces";
    }
    // A tree from the work disk to the tmpfs: copied whole, then the source goes.
    const std::string source = PathOf("tree");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    Write(source + "/a", "a");
    ASSERT_EQ(::symlink("a", (source + "/link").c_str()), 0);
    EXPECT_EQ(XLinuxCopyEngine::Move(source, tmpfs.PathOf("tree"), false), VE_OK);
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(Read(tmpfs.PathOf("tree/a")), "a");

    // Back, onto a destination that exists: it is left alone, and so is the source.
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    Write(source + "/mine", "mine");
    EXPECT_EQ(XLinuxCopyEngine::Move(tmpfs.PathOf("tree"), source, false), MakeVErrorFromErrno(EEXIST));
    EXPECT_EQ(Read(source + "/mine"), "mine");
    EXPECT_EQ(Read(tmpfs.PathOf("tree/a")), "a");

    // A copy that fails on the way leaves the source where it was.
    Write(PathOf("big"), std::string(6 << 20, 'b'));
    EXPECT_NE(XLinuxCopyEngine::Move(PathOf("big"), tmpfs.PathOf("big"), false), VE_OK);
    EXPECT_EQ(Read(PathOf("big")).size(), size_t{6} << 20);
    EXPECT_FALSE(Exists(tmpfs.PathOf("big")));
    EXPECT_EQ(List(tmpfs.PathOf("")), std::vector<std::string>{"tree"});
}

// ---------------------------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------------------------

// Fails the Nth call of one system call with one errno; the others pass through.
struct Fault
{
    const char* fCall;
    int fNth;
    int fErrno;
};

Fault sFault;
int sCount = 0;
bool sFired = false;

bool Hit(const char* inCall)
{
    if (std::strcmp(inCall, sFault.fCall) == 0 && ++sCount == sFault.fNth)
    {
        errno = sFault.fErrno;
        sFired = true;
        return true;
    }
    return false;
}

XLinuxCopyCalls FaultyCalls()
{
    XLinuxCopyCalls calls = XLinuxCopyEngine::GetSystemCalls();
    calls.fFiclone = [](int, int)
    {
        errno = EOPNOTSUPP;
        return -1;
    };
    calls.fCopyFileRange =
        [](int inIn, loff_t* inInOff, int inOut, loff_t* inOutOff, size_t, unsigned inFlags)
    {
        // The "write" rows need the read/write path; small chunks make several calls per file.
        if (std::strcmp(sFault.fCall, "write") == 0)
        {
            errno = EXDEV;
            return ssize_t{-1};
        }
        return Hit("copy_file_range") ? ssize_t{-1}
                                      : ::copy_file_range(inIn, inInOff, inOut, inOutOff, 4096, inFlags);
    };
    calls.fWrite = [](int inFd, const void* inData, size_t inSize)
    { return Hit("write") ? ssize_t{-1} : ::write(inFd, inData, std::min<size_t>(inSize, 4096)); };
    calls.fMkdirat = [](int inDir, const char* inName, mode_t inMode)
    { return Hit("mkdirat") ? -1 : ::mkdirat(inDir, inName, inMode); };
    calls.fFsetxattr = [](int inFd, const char* inName, const void* inValue, size_t inSize, int inFlags)
    { return Hit("fsetxattr") ? -1 : ::fsetxattr(inFd, inName, inValue, inSize, inFlags); };
    calls.fRenameat2 = [](int inFromDir, const char* inFrom, int inToDir, const char* inTo, unsigned inFlags)
    { return Hit("renameat2") ? -1 : ::renameat2(inFromDir, inFrom, inToDir, inTo, inFlags); };
    calls.fSyncfs = [](int inFd) { return Hit("syncfs") ? -1 : ::syncfs(inFd); };
    return calls;
}

TEST_F(CopyEngine, FaultsLoseNothing)
{
    const std::string source = PathOf("source");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    for (const char* folder : {"/a", "/b", "/b/c"})
    {
        ASSERT_EQ(::mkdir((source + folder).c_str(), 0755), 0);
    }
    for (const char* file : {"/a/one", "/b/two", "/b/c/three"})
    {
        Write(source + file, std::string(10000, 'd'));
        ASSERT_EQ(::setxattr((source + file).c_str(), "user.k", "v", 1, 0), 0);
    }
    Write(PathOf("file"), std::string(10000, 'n'));
    ASSERT_EQ(::setxattr(PathOf("file").c_str(), "user.k", "v", 1, 0), 0);

    const Fault faults[] = {
        {"copy_file_range", 1, ENOSPC}, // the first data block
        {"copy_file_range", 5, EIO},    // a later block of a later file
        {"write", 1, ENOSPC},           // the read/write path
        {"write", 4, EIO},
        {"mkdirat", 1, EACCES}, // the staging folder itself
        {"mkdirat", 3, ENOSPC}, // a nested folder
        {"fsetxattr", 2, EIO},
        {"syncfs", 1, EIO},
        {"renameat2", 1, EACCES}, // the final rename
    };
    for (const Fault& fault : faults)
    {
        SCOPED_TRACE(std::string(fault.fCall) + " #" + std::to_string(fault.fNth) + " " +
                     std::strerror(fault.fErrno));
        sFault = fault;
        XLinuxCopyEngine::SetCalls(FaultyCalls());

        // A tree to a new name: nothing under the name, no sibling.
        sCount = 0;
        sFired = false;
        EXPECT_EQ(XLinuxCopyEngine::Copy(source, PathOf("copy"), false), MakeVErrorFromErrno(fault.fErrno));
        EXPECT_TRUE(sFired);
        EXPECT_FALSE(Exists(PathOf("copy")));
        // A file over an old one: the old one intact when the fault strikes (a single file may
        // make fewer calls than the tree, and then it is simply copied).
        sCount = 0;
        sFired = false;
        Write(PathOf("old"), "old");
        const VError code = XLinuxCopyEngine::Copy(PathOf("file"), PathOf("old"), true);
        EXPECT_EQ(code, sFired ? MakeVErrorFromErrno(fault.fErrno) : VE_OK);
        EXPECT_TRUE(Read(PathOf("old")) == (sFired ? "old" : std::string(10000, 'n')));
        EXPECT_FALSE(HasStagingSibling(fFolder));
        XLinuxCopyEngine::ResetCalls();
    }
    // And without faults the same calls succeed.
    XLinuxCopyEngine::SetCalls(FaultyCalls());
    sFault = {"none", 0, 0};
    EXPECT_EQ(XLinuxCopyEngine::Copy(source, PathOf("copy"), false), VE_OK);
    EXPECT_EQ(Read(PathOf("copy/b/c/three")), std::string(10000, 'd'));
}

TEST_F(CopyEngine, FullDiskLosesNothing)
{
    test::SmallTmpfs tmpfs(1 << 20);
    if (!tmpfs.IsMounted())
    {
        GTEST_SKIP() << "no tmpfs: the kernel refuses unprivileged namespaces";
    }
    Write(tmpfs.PathOf("old"), "old");
    Write(PathOf("big"), std::string(2 << 20, 'b'));
    EXPECT_EQ(XLinuxCopyEngine::Copy(PathOf("big"), tmpfs.PathOf("old"), true), MakeVErrorFromErrno(ENOSPC));
    EXPECT_EQ(Read(tmpfs.PathOf("old")), "old");
    EXPECT_EQ(List(tmpfs.PathOf("")), std::vector<std::string>{"old"});
}

TEST_F(CopyEngine, ReadOnlyFolderRefusesUnprivilegedCopy)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to drop to another user";
    }
    Write(PathOf("file"), "f");
    ASSERT_EQ(::chmod(fFolder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(PathOf("file").c_str(), 0644), 0);
    pid_t child = ::fork();
    if (child == 0)
    {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
        {
            ::_exit(2);
        }
        VError code = XLinuxCopyEngine::Copy(PathOf("file"), PathOf("copy"), false);
        ::_exit(code == MakeVErrorFromErrno(EACCES) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(Exists(PathOf("copy")));
}

// ---------------------------------------------------------------------------------------------
// Interruption
// ---------------------------------------------------------------------------------------------

TEST_F(CopyEngine, KilledCopyLeavesNothingHalfDone)
{
    const std::string source = PathOf("source");
    ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
    for (int folder = 0; folder < 10; ++folder)
    {
        const std::string sub = source + "/f" + std::to_string(folder);
        ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
        for (int file = 0; file < 30; ++file)
        {
            Write(sub + "/" + std::to_string(file), std::string(static_cast<size_t>(file) * 512, 'c'));
        }
    }
    const auto expected = Describe(source, false);
    const std::string destination = PathOf("copy");
    std::mt19937 random(12345);
    for (int round = 0; round < 30; ++round)
    {
        pid_t child = ::fork();
        if (child == 0)
        {
            ::_exit(XLinuxCopyEngine::Copy(source, destination, false) == VE_OK ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 50000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (Exists(destination))
        {
            EXPECT_EQ(Describe(destination, false), expected) << "round " << round;
            ASSERT_EQ(XLinuxCopyEngine::RemoveTree(destination), VE_OK);
        }
    }
    // The next copy takes away what the killed ones left.
    ASSERT_EQ(XLinuxCopyEngine::Copy(source, destination, false), VE_OK);
    EXPECT_FALSE(HasStagingSibling(fFolder));
    EXPECT_EQ(Describe(destination, false), expected);

    // A process that already copied into the folder still cleans what a later crash leaves: a
    // sibling of a gone process appears after this process's copy (past a clock tick, so the
    // folder's time changes), and the next copy into the folder removes it.
    pid_t gone = ::fork();
    if (gone == 0)
    {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string left = fFolder + "/.copy.partial-" + std::to_string(gone) + "-1";
    ASSERT_EQ(::mkdir(left.c_str(), 0755), 0);
    Write(left + "/half", "h");
    ASSERT_EQ(XLinuxCopyEngine::Copy(source + "/f0/1", PathOf("one"), false), VE_OK);
    EXPECT_FALSE(Exists(left));
}

// ---------------------------------------------------------------------------------------------
// Trash
// ---------------------------------------------------------------------------------------------

// $XDG_DATA_HOME set for the scope, restored after.
class StDataHome
{
public:
    explicit StDataHome(const std::string& inFolder)
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        fHad = old != nullptr;
        fOld = fHad ? old : "";
        ::setenv("XDG_DATA_HOME", inFolder.c_str(), 1);
    }
    ~StDataHome()
    {
        if (fHad)
        {
            ::setenv("XDG_DATA_HOME", fOld.c_str(), 1);
        }
        else
        {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
    StDataHome(const StDataHome&) = delete;
    StDataHome& operator=(const StDataHome&) = delete;

private:
    bool fHad;
    std::string fOld;
};

std::string InfoOf(const std::string& inTrash, const std::string& inName)
{
    return Read(inTrash + "/info/" + inName + ".trashinfo");
}

TEST_F(CopyEngine, HomeTrashFollowsTheSpecification)
{
    const std::string data = PathOf("data");
    StDataHome dataHome(data);

    ASSERT_EQ(::mkdir(PathOf("one").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("two").c_str(), 0755), 0);
    Write(PathOf("one/report.txt"), "1");
    Write(PathOf("two/report.txt"), "2");
    ASSERT_EQ(::mkdir(PathOf("folder").c_str(), 0755), 0);
    Write(PathOf("folder/inside"), "i");
    const std::string odd = "my f\xc3\xa9te 100%";
    Write(PathOf(odd), "odd");
    for (const std::string& item :
         {PathOf("one/report.txt"), PathOf("two/report.txt"), PathOf("folder"), PathOf(odd)})
    {
        EXPECT_EQ(XLinuxCopyEngine::MoveToTrash(item), VE_OK) << item;
        EXPECT_FALSE(Exists(item));
    }

    const std::string trash = data + "/Trash";
    struct stat status = {};
    ASSERT_EQ(::stat((trash + "/info").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(List(trash + "/files"),
              (std::vector<std::string>{"folder", odd, "report.txt", "report.txt.2"}));
    EXPECT_EQ(Read(trash + "/files/report.txt.2"), "2");
    EXPECT_EQ(Read(trash + "/files/folder/inside"), "i");

    const std::string info = InfoOf(trash, "report.txt.2");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + PathOf("two/report.txt") + "\nDeletionDate=", 0), 0u)
        << info;
    EXPECT_NE(InfoOf(trash, odd).find("/my%20f%C3%A9te%20100%25\n"), std::string::npos) << InfoOf(trash, odd);
    // DeletionDate=YYYY-MM-DDThh:mm:ss
    const std::string date = info.substr(info.find("DeletionDate=") + 13);
    EXPECT_EQ(date.size(), 20u);
    EXPECT_EQ(date[10], 'T');
}

// The output of a shell command.
std::string Output(const std::string& inCommand)
{
    std::string text;
    if (FILE* pipe = ::popen(inCommand.c_str(), "r"))
    {
        char buffer[4096];
        while (size_t count = std::fread(buffer, 1, sizeof(buffer), pipe))
        {
            text.append(buffer, count);
        }
        ::pclose(pipe);
    }
    return text;
}

TEST_F(CopyEngine, TrashToolsSeeAndRestoreWhatIsTrashed)
{
    if (std::system("command -v trash-list >/dev/null && command -v trash-restore >/dev/null") != 0)
    {
        GTEST_SKIP() << "trash-cli is not installed";
    }
    const std::string data = PathOf("data");
    StDataHome dataHome(data);

    // Each item alone in its folder, so that restoring by folder picks it.
    struct Item
    {
        std::string fFolder;
        std::string fName;
    };
    const Item items[] = {
        {"one", "report.txt"},
        {"two", "report.txt"}, // the same name again
        {"three", "folder"},
        {"four", "my f\xc3\xaate"}, // spaces and non-ASCII
    };
    for (const Item& item : items)
    {
        ASSERT_EQ(::mkdir(PathOf(item.fFolder).c_str(), 0755), 0);
        const std::string path = PathOf(item.fFolder + "/" + item.fName);
        if (item.fName == "folder")
        {
            ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
            Write(path + "/inside", item.fFolder);
        }
        else
        {
            Write(path, item.fFolder);
        }
        ASSERT_EQ(XLinuxCopyEngine::MoveToTrash(path), VE_OK);
    }
    const std::string listed = Output("trash-list 2>&1");
    for (const Item& item : items)
    {
        EXPECT_NE(listed.find(" " + PathOf(item.fFolder + "/" + item.fName) + "\n"), std::string::npos)
            << listed;
    }
    for (const Item& item : items)
    {
        const std::string folder = PathOf(item.fFolder);
        Output("cd '" + folder + "' && echo 0 | trash-restore '" + folder + "' 2>&1");
        const std::string path = PathOf(item.fFolder + "/" + item.fName);
        EXPECT_EQ(Read(item.fName == "folder" ? path + "/inside" : path), item.fFolder) << item.fName;
    }
    EXPECT_TRUE(List(data + "/Trash/files").empty());
}

// gio prints an original path with each byte outside printable ASCII, and the backslash, as "\xNN"
// (for items it trashed itself too): the path as it is on disk is the text decoded.
static std::string DecodeGioEscapes(const std::string& inText)
{
    std::string decoded;
    for (size_t i = 0; i < inText.size(); ++i)
    {
        if (inText[i] == '\\' && i + 3 < inText.size() && inText[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(inText[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(inText[i + 3])))
        {
            decoded += static_cast<char>(std::stoi(inText.substr(i + 2, 2), nullptr, 16));
            i += 3;
        }
        else
        {
            decoded += inText[i];
        }
    }
    return decoded;
}

TEST(CopyEngineGio, EscapesDecodeToThePathOnDisk)
{
    struct Case
    {
        const char* fPrinted;
        const char* fPath;
        const char* fWhat;
    };
    const Case cases[] = {
        {"/a/plain name", "/a/plain name", "ASCII stands as it is"},
        {"/a/my f\\xc3\\xaate", "/a/my f\xc3\xaate", "UTF-8 bytes escaped one by one"},
        {"/a/back\\x5cslash", "/a/back\\slash", "the backslash itself is escaped"},
        {"/a/\\xzz", "/a/\\xzz", "not an escape: kept"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(DecodeGioEscapes(c.fPrinted), c.fPath) << c.fWhat;
    }
}

TEST_F(CopyEngine, GioListsWhatIsTrashed)
{
    // scripts/setup installs gvfs, so CI runs this; a machine without it skips.
    if (std::system("command -v gio >/dev/null && command -v dbus-run-session >/dev/null && "
                    "test -x /usr/libexec/gvfsd") != 0)
    {
        GTEST_SKIP() << "gio, dbus-run-session or gvfs is not installed";
    }
    const std::string data = PathOf("data");
    StDataHome dataHome(data);
    ASSERT_EQ(::mkdir(PathOf("one").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("two").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("one/folder").c_str(), 0755), 0);
    Write(PathOf("one/folder/inside"), "i");
    const std::vector<std::string> items = {PathOf("one/report.txt"), PathOf("two/report.txt"),
                                            PathOf("one/folder"), PathOf("one/my f\xc3\xaate"),
                                            PathOf("two/100% back\\slash")};
    for (const std::string& item : items)
    {
        if (item.find("folder") == std::string::npos)
        {
            Write(item, "x");
        }
        ASSERT_EQ(XLinuxCopyEngine::MoveToTrash(item), VE_OK) << item;
    }
    // gio reads the trash through gvfs, started on a session bus of its own (which passes
    // $XDG_DATA_HOME on). Each line: the item's trash:// URI, a tab, its original path.
    const std::string listed =
        Output("timeout 120 dbus-run-session -- gio trash --list 2>&1; echo \"exit $?\"");
    ASSERT_NE(listed.find("exit 0\n"), std::string::npos) << "gio trash --list failed: " << listed;
    const std::string decoded = DecodeGioEscapes(listed);
    for (const std::string& item : items)
    {
        EXPECT_NE(decoded.find("\t" + item + "\n"), std::string::npos) << listed;
    }
}

TEST(CopyEngineTrash, TopdirTrashOnAnotherDevice)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    char folder[] = "/tmp/zorn-topdir-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string mount = folder;
    // In a child with a mount namespace of its own: a tmpfs is the item's $topdir.
    pid_t child = ::fork();
    if (child == 0)
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder, "tmpfs", 0, "size=1m") != 0)
        {
            ::_exit(77);
        }
        int failures = 0;
        auto check = [&](bool inOk) { failures += inOk ? 0 : 1; };
        const std::string uid = std::to_string(::getuid());
        struct Case
        {
            const char* fShared; // what .Trash is
            std::string fTrash;  // where the item must land
        };
        const Case cases[] = {
            {"sticky", mount + "/.Trash/" + uid},
            {"plain", mount + "/.Trash-" + uid},
            {"link", mount + "/.Trash-" + uid},
        };
        int index = 0;
        for (const Case& c : cases)
        {
            ::system(("rm -rf " + mount + "/.Trash " + mount + "/.Trash-" + uid + " " + mount + "/elsewhere")
                         .c_str());
            if (std::strcmp(c.fShared, "link") == 0)
            {
                ::mkdir((mount + "/elsewhere").c_str(), 01777);
                ::chmod((mount + "/elsewhere").c_str(), 01777);
                ::symlink("elsewhere", (mount + "/.Trash").c_str());
            }
            else
            {
                ::mkdir((mount + "/.Trash").c_str(), 0777);
                ::chmod((mount + "/.Trash").c_str(), std::strcmp(c.fShared, "sticky") == 0 ? 01777 : 0777);
            }
            ::mkdir((mount + "/sub").c_str(), 0755);
            const std::string name = "item" + std::to_string(++index);
            Write(mount + "/sub/" + name, "x");
            check(XLinuxCopyEngine::MoveToTrash(mount + "/sub/" + name) == VE_OK);
            check(Read(c.fTrash + "/files/" + name) == "x");
            // The path is relative to the topdir.
            check(InfoOf(c.fTrash, name).find("\nPath=sub/" + name + "\n") != std::string::npos);
        }
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::rmdir(folder);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
    {
        GTEST_SKIP() << "no mount namespace";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks";
}

// A bind mount of a folder of the same file system hides the device boundary: a rename from it to
// the mount above fails (EXDEV) although both lie on one device. The trash stays on the item's
// mount: its own $topdir, not the home trash nor the device's top.
TEST(CopyEngineTrash, BindMountIsItsOwnTopdir)
{
    char folder[] = "/tmp/zorn-bind-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string top = folder;
    const int result = RunWithTmpfsMounted(
        top, "1m",
        [&]
        {
            int failures = 0;
            auto check = [&](bool inOk) { failures += inOk ? 0 : 1; };
            for (const char* name : {"/src", "/bind", "/data"})
            {
                ::mkdir((top + name).c_str(), 0755);
            }
            if (::mount((top + "/src").c_str(), (top + "/bind").c_str(), nullptr, MS_BIND, nullptr) != 0)
            {
                return 77;
            }
            // The home trash lies on the same device, on the mount above the bind mount.
            ::setenv("XDG_DATA_HOME", (top + "/data").c_str(), 1);
            const std::string uid = std::to_string(::getuid());
            struct Case
            {
                const char* fWhat;
                std::string fItem;
                std::string fTrash;
                const char* fPath; // the "Path=" line
            };
            const Case cases[] = {
                {"under the bind mount", top + "/bind/inside", top + "/bind/.Trash-" + uid, "inside"},
                {"beside it, on the home trash's mount", top + "/src/beside", top + "/data/Trash", nullptr},
            };
            for (const Case& c : cases)
            {
                Write(c.fItem, "x");
                const std::string name = c.fItem.substr(c.fItem.rfind('/') + 1);
                check(XLinuxCopyEngine::MoveToTrash(c.fItem) == VE_OK);
                check(Read(c.fTrash + "/files/" + name) == "x");
                const std::string path = c.fPath != nullptr ? std::string(c.fPath) : c.fItem;
                check(InfoOf(c.fTrash, name).find("\nPath=" + path + "\n") != std::string::npos);
            }
            ::umount((top + "/bind").c_str());
            return failures;
        });
    ::rmdir(folder);
    if (result == 77)
    {
        GTEST_SKIP() << "the kernel refuses a mount namespace with a tmpfs and a bind mount here";
    }
    EXPECT_EQ(result, 0) << "failed checks";
}

// ---------------------------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------------------------

TEST_F(CopyEngine, FileOperationsReportTheirErrors)
{
    Write(PathOf("a"), "a");
    Write(PathOf("b"), "b");
    ASSERT_EQ(::mkdir(PathOf("sub").c_str(), 0755), 0);
    VFile file(VString(PathOf("a").c_str()), FPS_POSIX);
    VFile other(VString(PathOf("b").c_str()), FPS_POSIX);
    VFolder sub(VString(PathOf("sub/").c_str()), FPS_POSIX);

    // Into a folder: the file's name, the new file handed back.
    VFile* copied = nullptr;
    EXPECT_EQ(file.CopyTo(sub, &copied), VE_OK);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(Read(PathOf("sub/a")), "a");
    copied->Release();

    // Onto an existing file: a file error for the source naming the destination; option 4
    // replaces. CopyFrom names the source too.
    {
        StErrorContextInstaller scope;
        EXPECT_NE(other.CopyFrom(file), VE_OK);
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_EQ(errors.size(), 2U);
        EXPECT_EQ(errors[0]->GetError(), MakeVErrorFromErrno(EEXIST));
        const auto* error = dynamic_cast<const VFileError*>(errors[1]);
        ASSERT_NE(error, nullptr);
        EXPECT_TRUE(
            error->GetFilePath().GetPath(FPS_NATIVE).EqualToStringRaw(file.GetPathRef().GetPath(FPS_NATIVE)));
        VString destination;
        error->GetParameters()->GetProperty(VString("destination")).GetString(destination);
        EXPECT_TRUE(destination.EqualToStringRaw(other.GetPathRef().GetPath(FPS_NATIVE)));
    }
    EXPECT_EQ(Read(PathOf("b")), "b");
    EXPECT_EQ(other.CopyFrom(file, VFile::kCopyReplace), VE_OK);
    EXPECT_EQ(Read(PathOf("b")), "a");

    // A socket named in the error as the item that could not be copied.
    {
        const std::string socketPath = PathOf("socket");
        ASSERT_TRUE(MakeSocket(socketPath));
        VFile socketFile(VString(socketPath.c_str()), FPS_POSIX);
        StErrorContextInstaller scope;
        EXPECT_NE(socketFile.CopyTo(sub), VE_OK);
        const auto& errors = scope.GetContext()->GetErrorList();
        ASSERT_EQ(errors.size(), 2U);
        EXPECT_EQ(Parameter(errors[1], "item"), socketPath);
    }

    // Move keeps what is there without the option.
    Write(PathOf("sub/b"), "there");
    {
        StErrorContextInstaller scope;
        EXPECT_NE(other.Move(sub), VE_OK);
        EXPECT_EQ(scope.GetContext()->GetErrorList().size(), 2U);
    }
    EXPECT_TRUE(other.Exists());
    VFile* moved = nullptr;
    EXPECT_EQ(other.Move(sub.GetPathRef(), &moved, VFile::kCopyReplace), VE_OK);
    ASSERT_NE(moved, nullptr);
    EXPECT_FALSE(other.Exists());
    EXPECT_EQ(Read(PathOf("sub/b")), "a");
    moved->Release();

    // Trash: a missing file gives 0 and pushes nothing.
    StErrorContextInstaller scope;
    EXPECT_EQ(other.MoveToTrash(), VE_OK);
    EXPECT_TRUE(scope.GetContext()->GetErrorList().empty());
}

TEST_F(CopyEngine, BlockingWorkRunsInlineOutsideFibers)
{
    // The main task and preemptive tasks run it on their own thread.
    std::thread::id ran;
    XLinuxCopyEngine::RunBlockingOffFiber([&] { ran = std::this_thread::get_id(); });
    EXPECT_EQ(ran, std::this_thread::get_id());
    std::thread::id taskThread;
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            taskThread = std::this_thread::get_id();
            XLinuxCopyEngine::RunBlockingOffFiber([&] { ran = std::this_thread::get_id(); });
        });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(ran, taskThread);
}

class CopyEngineOnFibers : public FiberTaskTest
{
};

TEST_F(CopyEngineOnFibers, BlockingWorkRunsOffTheFibersThreadWhileTheGroupGoesOn)
{
    // The work waits for another fiber of the caller's group, which could never run if the
    // caller held its thread (and with it the group's turn) during the work.
    std::atomic<bool> otherRan{false};
    std::thread::id ran;
    std::thread::id fiberThread;
    VRefPtr<VTask> caller = NewFiber(
        [&]
        {
            fiberThread = std::this_thread::get_id();
            XLinuxCopyEngine::RunBlockingOffFiber(
                [&]
                {
                    ran = std::this_thread::get_id();
                    EXPECT_TRUE(WaitFor([&] { return otherRan.load(); }));
                });
        });
    VRefPtr<VTask> other = NewFiber([&] { otherRan = true; });
    ASSERT_TRUE(caller->Run());
    ASSERT_TRUE(other->Run());
    ASSERT_TRUE(caller->WaitForDeath(20000));
    ASSERT_TRUE(other->WaitForDeath(20000));
    EXPECT_TRUE(otherRan);
    EXPECT_NE(ran, fiberThread);
}

} // namespace
