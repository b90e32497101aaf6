#include "tests/toolbox/files/TreeTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFSObjectIterator.h"
#include "toolbox/files/VFileAttributesCache.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFSObjectIterator.h"
#include "toolbox/files/linux/XLinuxFolder.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <fts.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

// When set, fts_open fails with this errno. The system's fails only when memory runs out or a root
// is empty, which no test can bring about safely; this program's definition comes before the C
// library's and hands every other call on to it.
static std::atomic<int> sFtsOpenFailure{0};

extern "C" FTS* fts_open(char* const* inRoots, int inOptions,
                         int (*inCompare)(const FTSENT**, const FTSENT**)) noexcept
{
    if (const int failure = sFtsOpenFailure.load())
    {
        errno = failure;
        return nullptr;
    }
    using Open = FTS* (*)(char* const*, int, int (*)(const FTSENT**, const FTSENT**));
    static const auto sSystemOpen = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "fts_open"));
    return sSystemOpen(inRoots, inOptions, inCompare);
}

namespace
{

mode_t ModeOf(const std::string& inPath)
{
    struct stat status = {};
    return ::lstat(inPath.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Sets or clears the immutable flag; false where the file system or the caller cannot.
bool SetImmutable(const std::string& inPath, bool inOn)
{
    int fd = ::open(inPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = inOn ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
    {
        ::close(fd);
    }
    return ok;
}

VFolder* FolderAt(const std::string& inPosixPath)
{
    std::string path = inPosixPath;
    if (path.back() != '/')
    {
        path += '/';
    }
    VFilePath folderPath;
    XLinuxFile::GetFilePathFromPosixPath(path.c_str(), true, folderPath);
    return new VFolder(folderPath);
}

class FolderBackEnd : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char folder[] = "/tmp/zorn-folder-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fFolder = folder;
    }
    void TearDown() override
    {
        XLinuxFSObjectIterator::SetIgnoreEntryTypesForTests(false);
        std::system(("chattr -R -i " + fFolder + " 2>/dev/null; chmod -R u+rwx " + fFolder +
                     " 2>/dev/null; rm -rf " + fFolder)
                        .c_str());
        TaskManagerTest::TearDown();
    }
    std::string PathOf(const std::string& inName) const { return fFolder + "/" + inName; }

    std::string fFolder;
};

// ---------------------------------------------------------------------------------------------
// Forced deletion
// ---------------------------------------------------------------------------------------------

TEST_F(FolderBackEnd, DeleteForcedRemovesLockedTreesAndKeepsWhatLinksLeadTo)
{
    const std::string parent = PathOf("parent");
    const std::string tree = parent + "/Backup.app";
    ASSERT_EQ(::mkdir(parent.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/readonly").c_str(), 0755), 0);
    Write(tree + "/readonly/file", "r");
    ASSERT_EQ(::chmod((tree + "/readonly").c_str(), 0500), 0);
    ASSERT_EQ(::mkdir((tree + "/closed").c_str(), 0755), 0);
    Write(tree + "/closed/file", "c");
    ASSERT_EQ(::chmod((tree + "/closed").c_str(), 0000), 0);
    ASSERT_EQ(::mkdir(PathOf("outside").c_str(), 0755), 0);
    Write(PathOf("outside/kept"), "kept");
    ASSERT_EQ(::symlink(PathOf("outside/kept").c_str(), (tree + "/to-file").c_str()), 0);
    ASSERT_EQ(::symlink(PathOf("outside").c_str(), (tree + "/to-folder").c_str()), 0);
    // The parent as its owner cannot write it (root is not held back by modes).
    const mode_t parentMode = ::geteuid() == 0 ? 0755 : 0555;
    ASSERT_EQ(::chmod(parent.c_str(), parentMode), 0);
    // Immutable items, where the test may set the flag: one inside, and the parent itself.
    Write(tree + "/locked", "l");
    const bool immutable = SetImmutable(tree + "/locked", true) && SetImmutable(parent, true);

    const XLinuxFolder folder(tree);
    EXPECT_EQ(folder.DeleteForced(), VE_OK);
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Read(PathOf("outside/kept")), "kept");
    EXPECT_EQ(ModeOf(parent), parentMode);
    if (immutable)
    {
        uint32_t attributes = 0;
        VRefPtr<VFolder> parentFolder(FolderAt(parent), true);
        EXPECT_EQ(parentFolder->GetFolderAttributes(attributes), VE_OK);
        EXPECT_EQ(attributes & 1, 1U) << "the parent's immutable flag is restored";
        SetImmutable(parent, false);
    }
    // A missing folder is an error, and the parent is left as it was.
    EXPECT_EQ(folder.DeleteForced(), MakeVErrorFromErrno(ENOENT));
    EXPECT_EQ(ModeOf(parent), parentMode);
}

TEST_F(FolderBackEnd, DeleteForcedRestoresTheParentsModeAfterAFailure)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to act as another user";
    }
    // Owned by an unprivileged user, who cannot write the parent (mode 0555): one tree only they
    // own, and one holding a folder of root's that they cannot empty.
    const uid_t user = 65534;
    const std::string parent = PathOf("parent");
    ASSERT_EQ(::chmod(fFolder.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(parent.c_str(), 0755), 0);
    for (const char* tree : {"/own", "/mixed"})
    {
        ASSERT_EQ(::mkdir((parent + tree).c_str(), 0755), 0);
        Write(parent + tree + "/file", "f");
        ASSERT_EQ(::chown((parent + tree + "/file").c_str(), user, user), 0);
        ASSERT_EQ(::chown((parent + tree).c_str(), user, user), 0);
    }
    ASSERT_EQ(::mkdir((parent + "/mixed/roots").c_str(), 0755), 0);
    Write(parent + "/mixed/roots/kept", "k");
    ASSERT_EQ(::chown(parent.c_str(), user, user), 0);
    ASSERT_EQ(::chmod(parent.c_str(), 0555), 0);

    pid_t child = ::fork();
    if (child == 0)
    {
        if (::setgid(user) != 0 || ::setuid(user) != 0)
        {
            ::_exit(77);
        }
        int failures = 0;
        const XLinuxFolder own(parent + "/own/");
        failures += own.DeleteForced() == VE_OK && !Exists(parent + "/own") ? 0 : 1;
        failures += ModeOf(parent) == 0555 ? 0 : 2;
        const XLinuxFolder mixed(parent + "/mixed/");
        failures += mixed.DeleteForced() == MakeVErrorFromErrno(EACCES) ? 0 : 4;
        failures += ModeOf(parent) == 0555 ? 0 : 8;
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the own tree; 2, 8: the parent's mode; 4: the failure";
    EXPECT_EQ(Read(parent + "/mixed/roots/kept"), "k");
}

TEST_F(FolderBackEnd, DeleteForcedReportsAWalkThatCannotStart)
{
    const std::string parent = PathOf("parent");
    const std::string tree = parent + "/Backup.app";
    ASSERT_EQ(::mkdir(parent.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    Write(tree + "/file", "f");
    const mode_t parentMode = ::geteuid() == 0 ? 0755 : 0555;
    ASSERT_EQ(::chmod(parent.c_str(), parentMode), 0);

    const XLinuxFolder folder(tree);
    sFtsOpenFailure = ENOMEM;
    const VError code = folder.DeleteForced();
    sFtsOpenFailure = 0;
    EXPECT_EQ(code, MakeVErrorFromErrno(ENOMEM));
    EXPECT_EQ(Read(tree + "/file"), "f");
    EXPECT_EQ(ModeOf(parent), parentMode) << "the parent is restored";
    EXPECT_EQ(folder.DeleteForced(), VE_OK);
    EXPECT_FALSE(Exists(tree));
}

TEST_F(FolderBackEnd, DeleteForcedNeverEntersAnotherFileSystem)
{
    const std::string tree = PathOf("tree");
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/mnt").c_str(), 0755), 0);
    Write(tree + "/plain", "p");
    const int result =
        RunWithTmpfsMounted(tree + "/mnt", "1m",
                            [&]
                            {
                                Write(tree + "/mnt/inside", "i");
                                const bool parentLocked = SetImmutable(fFolder, true);
                                const XLinuxFolder folder(tree + "/");
                                int failures = 0;
                                failures += folder.DeleteForced() == MakeVErrorFromErrno(EBUSY) ? 0 : 1;
                                failures += Read(tree + "/mnt/inside") == "i" ? 0 : 2;
                                uint32_t attributes = 0;
                                XLinuxFile::GetPathAttributes(fFolder.c_str(), true, attributes);
                                failures += !parentLocked || (attributes & 1) != 0 ? 0 : 4;
                                SetImmutable(fFolder, false);
                                return failures;
                            });
    if (result == 77)
    {
        GTEST_SKIP() << "the kernel refuses a mount namespace here";
    }
    EXPECT_EQ(result, 0) << "1: result, 2: the mounted file lost, 4: the parent's flag lost";
}

// ---------------------------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------------------------

TEST_F(FolderBackEnd, QueriesFollowTheFolderOrItsName)
{
    ASSERT_EQ(::mkdir(PathOf("Tool.app").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf(".hidden").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(PathOf(".hidden").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(PathOf("plain").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(PathOf("plain/Contents").c_str(), 0755), 0);
    Write(PathOf("plain/Contents/Info.plist"), "<plist/>");
    ASSERT_EQ(::symlink("Tool.app", PathOf("link").c_str()), 0);

    VRefPtr<VFolder> app(FolderAt(PathOf("Tool.app")), true);
    VRefPtr<VFolder> hidden(FolderAt(PathOf(".hidden")), true);
    VRefPtr<VFolder> plain(FolderAt(PathOf("plain")), true);
    VRefPtr<VFolder> link(FolderAt(PathOf("link")), true);
    VRefPtr<VFolder> missing(FolderAt(PathOf("missing")), true);

    EXPECT_TRUE(XLinuxFolder(PathOf("link")).Exists(true));
    EXPECT_FALSE(XLinuxFolder(PathOf("link")).Exists(false)) << "a link is no folder without following it";
    EXPECT_FALSE(XLinuxFolder(PathOf("missing")).Exists(true));
    bool isHidden = false;
    EXPECT_EQ(hidden->IsHidden(isHidden), VE_OK);
    EXPECT_TRUE(isHidden);
    EXPECT_EQ(missing->IsHidden(isHidden), MakeVErrorFromErrno(ENOENT));
    // The other-write bit alone makes a folder writable by all; 0755 does not.
    EXPECT_FALSE(app->IsWritableByAll());
    EXPECT_TRUE(hidden->IsWritableByAll());
    EXPECT_TRUE(app->MAC_IsPackage());
    EXPECT_TRUE(plain->MAC_IsPackage()) << "a Contents/Info.plist makes a package";
    EXPECT_FALSE(hidden->MAC_IsPackage());
    const XLinuxFolder appBackEnd(PathOf("Tool.app"));
    EXPECT_TRUE(appBackEnd.IsTraversable());
    uint16_t mode = 0;
    EXPECT_EQ(appBackEnd.GetPermissions(&mode), VE_OK);
    EXPECT_EQ(mode, 0755);
    EXPECT_EQ(appBackEnd.SetPermissions(0750), VE_OK);
    EXPECT_EQ(ModeOf(PathOf("Tool.app")), 0750U);
    int64_t total = 0;
    int64_t available = 0;
    EXPECT_EQ(appBackEnd.GetVolumeCapacity(&total), VE_OK);
    EXPECT_EQ(appBackEnd.GetVolumeFreeSpace(&available, true), VE_OK);
    EXPECT_GT(total, 0);
    EXPECT_LE(available, total);

    // A rename never replaces what is there.
    const XLinuxFolder plainBackEnd(PathOf("plain"));
    EXPECT_EQ(plainBackEnd.RenameTo(PathOf("Tool.app/")), MakeVErrorFromErrno(EEXIST));
    EXPECT_EQ(plainBackEnd.RenameTo(PathOf("Other/")), VE_OK);
    EXPECT_TRUE(Exists(PathOf("Other/Contents/Info.plist")));

    StErrorContextInstaller errors(true, false);
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("x", PathOf("link").c_str()), MakeVErrorFromErrno(EEXIST));
    EXPECT_EQ(errors.GetLastError(), MakeVErrorFromErrno(EEXIST)) << "the failure is thrown";
    EXPECT_EQ(XBSDSystem::CreateSymbolicLink("x", PathOf("new-link").c_str()), VE_OK);
}

// ---------------------------------------------------------------------------------------------
// System folders
// ---------------------------------------------------------------------------------------------

// Sets environment variables for the time of a test and puts the old values back.
class StEnvironment
{
public:
    ~StEnvironment()
    {
        for (auto it = fSaved.rbegin(); it != fSaved.rend(); ++it)
        {
            if (it->second)
            {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            }
            else
            {
                ::unsetenv(it->first.c_str());
            }
        }
    }
    void Set(const std::string& inName, const char* inValue)
    {
        const char* old = ::getenv(inName.c_str());
        fSaved.emplace_back(inName, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        if (inValue != nullptr)
        {
            ::setenv(inName.c_str(), inValue, 1);
        }
        else
        {
            ::unsetenv(inName.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

TEST_F(FolderBackEnd, SystemFoldersFollowTheEnvironment)
{
    const std::string home = PathOf("home");
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    const std::string config = PathOf("config");
    ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
    Write(config + "/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                      "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
                                      "XDG_DOCUMENTS_DIR=\"" +
                                          PathOf("docs") +
                                          "\"\n"
                                          "XDG_MUSIC_DIR=\"$HOME\"\n");
    const std::string exe = []
    {
        char text[PATH_MAX] = {};
        ssize_t length = ::readlink("/proc/self/exe", text, sizeof text - 1);
        std::string path(text, static_cast<size_t>(std::max<ssize_t>(length, 0)));
        return path.substr(0, path.find_last_of('/') + 1);
    }();

    struct Case
    {
        const char* fWhat;
        ESystemFolderKind fKind;
        std::vector<std::pair<const char*, std::string>> fEnvironment; // "-" unsets
        std::string fExpected;                                         // empty: no folder
    };
    const std::string h = home + "/";
    const std::vector<Case> cases = {
        {"executable", eFK_Executable, {}, exe},
        {"documents from user-dirs", eFK_UserDocuments, {{"XDG_CONFIG_HOME", config}}, PathOf("docs/")},
        {"documents without user-dirs",
         eFK_UserDocuments,
         {{"XDG_CONFIG_HOME", PathOf("none")}},
         h + "Documents/"},
        {"temporary from TMPDIR", eFK_Temporary, {{"TMPDIR", PathOf("tmp")}}, PathOf("tmp/")},
        {"temporary default", eFK_Temporary, {{"TMPDIR", "-"}}, "/tmp/"},
        {"none", eFK_None, {}, ""},
        {"past the last kind", static_cast<ESystemFolderKind>(14), {}, ""},
        {"common data, first entry", eFK_CommonPreferences, {{"XDG_DATA_DIRS", "/srv/a:/srv/b"}}, "/srv/a/"},
        {"common data twin", eFK_CommonApplicationData, {{"XDG_DATA_DIRS", "/srv/a:/srv/b"}}, "/srv/a/"},
        {"common data default", eFK_CommonPreferences, {{"XDG_DATA_DIRS", "-"}}, "/usr/local/share/"},
        {"user data", eFK_UserPreferences, {{"XDG_DATA_HOME", PathOf("data")}}, PathOf("data/")},
        {"user data twin", eFK_UserApplicationData, {{"XDG_DATA_HOME", PathOf("data")}}, PathOf("data/")},
        {"user data default", eFK_UserApplicationData, {{"XDG_DATA_HOME", "-"}}, h + ".local/share/"},
        {"user data relative ignored", eFK_UserPreferences, {{"XDG_DATA_HOME", "rel"}}, h + ".local/share/"},
        {"desktop with $HOME", eFK_Desktop, {{"XDG_CONFIG_HOME", config}}, h + "Bureau/"},
        {"desktop default", eFK_Desktop, {{"XDG_CONFIG_HOME", "-"}}, h + "Desktop/"},
        {"applications", eFK_Applications, {}, "/opt/"},
        {"common cache", eFK_CommonCache, {}, "/var/cache/"},
        {"user cache", eFK_UserCache, {{"XDG_CACHE_HOME", PathOf("cache")}}, PathOf("cache/")},
        {"user cache default", eFK_UserCache, {{"XDG_CACHE_HOME", "-"}}, h + ".cache/"},
        {"library", eFK_Library, {}, h + ".local/"},
        {"home", eFK_Home, {}, h},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        StEnvironment environment;
        environment.Set("HOME", home.c_str());
        for (const auto& [name, value] : c.fEnvironment)
        {
            environment.Set(name, value == "-" ? nullptr : value.c_str());
        }
        EXPECT_EQ(XLinuxFolder::GetSystemFolderPosixPath(c.fKind, false), c.fExpected);
        VRefPtr<VFolder> folder(VFolder::RetainSystemFolder(c.fKind, false), true);
        EXPECT_EQ(folder.Get() == nullptr ? std::string() : PosixPathOf(*folder), c.fExpected);
    }

    // Without create nothing is made, yet the folder is returned; with it the chain is made,
    // private to the user under the home folder.
    StEnvironment environment;
    environment.Set("HOME", home.c_str());
    environment.Set("XDG_CONFIG_HOME", nullptr);
    environment.Set("XDG_DATA_HOME", nullptr);
    VRefPtr<VFolder> documents(VFolder::RetainSystemFolder(eFK_UserDocuments, false), true);
    ASSERT_NE(documents.Get(), nullptr);
    EXPECT_FALSE(documents->Exists());
    documents = VRefPtr<VFolder>(VFolder::RetainSystemFolder(eFK_UserDocuments, true), true);
    EXPECT_TRUE(documents->Exists());
    EXPECT_EQ(ModeOf(home + "/Documents"), 0700U);
    VRefPtr<VFolder> data(VFolder::RetainSystemFolder(eFK_UserApplicationData, true), true);
    EXPECT_TRUE(data->Exists());
    EXPECT_EQ(ModeOf(home + "/.local"), 0700U);
    // $HOME unset: the password database's home.
    environment.Set("HOME", nullptr);
    EXPECT_FALSE(XLinuxFolder::GetSystemFolderPosixPath(eFK_Home, false).empty());
}

// ---------------------------------------------------------------------------------------------
// Iteration
// ---------------------------------------------------------------------------------------------

// The last component of a POSIX path (a folder's final '/' ignored).
std::string LastName(std::string inPath)
{
    if (inPath.size() > 1 && inPath.back() == '/')
    {
        inPath.pop_back();
    }
    return inPath.substr(inPath.find_last_of('/') + 1);
}

template <class Iterator>
std::multiset<std::string> Walk(const VFolder* inFolder, uint32_t inOptions)
{
    std::multiset<std::string> names;
    Iterator it(inFolder, inOptions);
    uint32_t count = 0;
    for (; it.IsValid(); ++it)
    {
        ++count;
        EXPECT_EQ(it.GetCount(), count);
        const std::string posix = PosixPathOf(*it);
        // The path and the POSIX path name the same item, and it is there.
        EXPECT_EQ(XLinuxFile::AllocatePosixPathFromFilePath(it->GetPath()), posix);
        EXPECT_TRUE(Exists(posix)) << posix;
        names.insert(LastName(posix));
    }
    VTime modified;
    EXPECT_EQ(it.GetTime(&modified, nullptr, nullptr), VE_ITERATOR_OVER);
    return names;
}

TEST_F(FolderBackEnd, IteratorsListByKindVisibilityAndLinks)
{
    const std::string root = PathOf("root");
    const std::string outside = PathOf("elsewhere");
    // A sibling whose name begins with the root's: outside the root all the same.
    const std::string sibling = root + "x";
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(sibling.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/dir").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/.hdir").c_str(), 0755), 0);
    Write(root + "/file", "f");
    Write(root + "/.hfile", "h");
    Write(root + "/a:b", "colon");
    Write(root + "/bad\xff", "invalid UTF-8");
    Write(outside + "/far", "far");
    Write(sibling + "/near", "near");
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
    for (const auto& [link, target] :
         std::vector<std::pair<std::string, std::string>>{{"lfile", "file"},
                                                          {"ldir", "dir"},
                                                          {"lfifo", "fifo"},
                                                          {"dangling", "nowhere"},
                                                          {"loop1", "loop2"},
                                                          {"loop2", "loop1"},
                                                          {"lout", outside},
                                                          {"loutfile", outside + "/far"},
                                                          {"lsibling", sibling},
                                                          {"lnear", sibling + "/near"},
                                                          {"lroot", root},
                                                          {".lhidden", "file"}})
    {
        ASSERT_EQ(::symlink(target.c_str(), (root + "/" + link).c_str()), 0);
    }
    VRefPtr<VFolder> rootFolder(FolderAt(root), true);
    VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(VString("fs"), rootFolder.Get(), 0), true);
    ASSERT_NE(fileSystem.Get(), nullptr);
    VRefPtr<VFolder> confined(new VFolder(rootFolder->GetPath(), fileSystem.Get()), true);

    using Names = std::multiset<std::string>;
    const Names files = {"file",  "a:b",   "bad\xff", "lfile",    "ldir",     "lfifo", "dangling",
                         "loop1", "loop2", "lout",    "loutfile", "lsibling", "lnear", "lroot"};
    Names filesWithHidden = files;
    filesWithHidden.insert({".hfile", ".lhidden"});
    struct Case
    {
        const char* fWhat;
        bool fFiles; // VFileIterator, else VFolderIterator
        uint32_t fOptions;
        bool fConfined;
        Names fExpected;
    };
    const std::vector<Case> cases = {
        {"files", true, 4, false, files},
        {"the file walker drops folders", true, 2, false, {}},
        {"files and folders: files", true, 2 | 4, false, files},
        {"invisible files", true, 4 | 8, false, filesWithHidden},
        {"resolved files, confined: neither outside nor in the sibling named like the root",
         true,
         4 | 16,
         true,
         {"file", "file", "a:b", "bad\xff"}},
        {"resolved files, free", true, 4 | 16, false, {"file", "file", "a:b", "bad\xff", "far", "near"}},
        {"folders", false, 2, false, {"dir"}},
        {"the folder walker drops files", false, 4, false, {}},
        {"folders and files: folders", false, 2 | 4, false, {"dir"}},
        {"invisible folders", false, 2 | 8, false, {"dir", ".hdir"}},
        {"resolved folders, confined: the root itself, not the sibling named like it",
         false,
         2 | 16,
         true,
         {"dir", "dir", "root"}},
        {"resolved folders, free", false, 2 | 16, false, {"dir", "dir", "elsewhere", "rootx", "root"}},
    };
    for (bool unknownTypes : {false, true})
    {
        XLinuxFSObjectIterator::SetIgnoreEntryTypesForTests(unknownTypes);
        for (const Case& c : cases)
        {
            SCOPED_TRACE(std::string(c.fWhat) + (unknownTypes ? " (DT_UNKNOWN)" : ""));
            const VFolder* folder = c.fConfined ? confined.Get() : rootFolder.Get();
            EXPECT_EQ(c.fFiles ? Walk<VFileIterator>(folder, c.fOptions)
                               : Walk<VFolderIterator>(folder, c.fOptions),
                      c.fExpected);
        }
    }
    XLinuxFSObjectIterator::SetIgnoreEntryTypesForTests(false);

    // An empty folder, a missing one and none at all are over at once.
    VRefPtr<VFolder> empty(FolderAt(root + "/dir"), true);
    VRefPtr<VFolder> missing(FolderAt(root + "/missing"), true);
    for (const VFolder* folder : std::vector<const VFolder*>{empty.Get(), missing.Get(), nullptr})
    {
        VFileIterator it(folder, 4 | 8);
        EXPECT_FALSE(it.IsValid());
        EXPECT_EQ(it.GetCount(), 0U);
    }
}

TEST_F(FolderBackEnd, IteratorsWalkPathsOfAnyLength)
{
    // Nested folders until the path is over 5,000 bytes, made relative to descriptors.
    std::string path = PathOf("deep");
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string name(200, 'n');
    while (path.size() < 5000)
    {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path += "/" + name;
    }
    int file = ::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    ::close(file);
    ASSERT_EQ(::mkdirat(fd, "sub", 0755), 0);
    ::close(fd);

    VRefPtr<VFolder> deep(FolderAt(path), true);
    VFileIterator files(deep.Get(), 4);
    ASSERT_TRUE(files.IsValid());
    EXPECT_EQ(PosixPathOf(*files), path + "/bottom");
    EXPECT_EQ(XLinuxFile::AllocatePosixPathFromFilePath(files->GetPath()), path + "/bottom");
    VFolderIterator folders(deep.Get(), 2);
    ASSERT_TRUE(folders.IsValid());
    EXPECT_EQ(PosixPathOf(*folders), path + "/sub/");
    // Recursion (options 1 and 2) reaches it from the top.
    VRefPtr<VFolder> top(FolderAt(PathOf("deep")), true);
    int count = 0;
    top->IterateFiles(
        [&](IFile* inFile, IFileAttributeAccessor*)
        {
            count += inFile->GetPath().IsValid() ? 1 : 0;
            return true;
        },
        1 | 2);
    EXPECT_EQ(count, 1);
}

TEST_F(FolderBackEnd, CollectsTheTimesOfAFoldersVisibleFiles)
{
    Write(PathOf("a"), "a");
    Write(PathOf("b"), "b");
    Write(PathOf(".hidden"), "h");
    ASSERT_EQ(::mkdir(PathOf("sub").c_str(), 0755), 0);
    Write(PathOf("sub/c"), "c");
    VRefPtr<VFolder> folder(FolderAt(fFolder), true);
    VFileAttributesCache::Map map;
    VFileAttributesCache::CollectFileAttributes(map, folder.Get());
    std::set<std::string> keys;
    for (const auto& [key, times] : map)
    {
        std::string bytes;
        XLinuxFile::EncodeNameBytes(key, bytes);
        keys.insert(bytes.substr(bytes.find_last_of(':') + 1));
        EXPECT_FALSE(times.fModified.IsNull());
    }
    EXPECT_EQ(keys, (std::set<std::string>{"a", "b"}));
}

} // namespace
