#include "tests/StringTestSupport.h"
#include "tests/toolbox/files/TreeTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/IFile.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

std::string PosixOf(const VFilePath& inPath)
{
    VString posix;
    inPath.GetPosixPath(posix);
    return Ascii(posix);
}

// A temporary tree:
//   docs/a/b.txt, docs/a/deep/c.txt, docs/in -> a (a link inside), docs/out -> outside (a link out)
//   docs2/x.txt, DOCS/x.txt (siblings sharing a prefix, differing in case), outside/secret.txt
// and a namespace holding "docs" (writable) and "hidden" (private), both rooted at docs/.
class FileSystems : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char pattern[] = "/tmp/zorn-file-systems-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fTemp = pattern;
        for (const char* folder : {"docs", "docs/a", "docs/a/deep", "docs2", "DOCS", "outside"})
        {
            ASSERT_EQ(::mkdir((fTemp + "/" + folder).c_str(), 0755), 0);
        }
        for (const char* file :
             {"docs/a/b.txt", "docs/a/deep/c.txt", "docs2/x.txt", "DOCS/x.txt", "outside/secret.txt"})
        {
            Write(fTemp + "/" + file, "text");
        }
        ASSERT_EQ(::symlink("a", (fTemp + "/docs/in").c_str()), 0);
        ASSERT_EQ(::symlink((fTemp + "/outside").c_str(), (fTemp + "/docs/out").c_str()), 0);

        fNamespace = VRefPtr<VFileSystemNamespace>(new VFileSystemNamespace(), true);
        ASSERT_EQ(
            fNamespace->RegisterFileSystem(VString("docs"), Folder("docs").Get(), VFileSystem::kWritable),
            VE_OK);
        ASSERT_EQ(
            fNamespace->RegisterFileSystem(VString("hidden"), Folder("docs").Get(), VFileSystem::kPrivate),
            VE_OK);
    }
    void TearDown() override
    {
        fNamespace = nullptr;
        std::filesystem::remove_all(fTemp);
        TaskManagerTest::TearDown();
    }

    VRefPtr<VFolder> Folder(const std::string& inRelative) const
    {
        return VRefPtr<VFolder>(new VFolder(VString((fTemp + "/" + inRelative + "/").c_str()), FPS_POSIX),
                                true);
    }
    VRefPtr<VFileSystem> Docs() const
    {
        return VRefPtr<VFileSystem>(fNamespace->RetainFileSystem(VString("docs"), 0), true);
    }
    // The item's POSIX path below the temporary folder ("docs/a/b.txt"), or "null".
    std::string Below(const IFileSystemObject* inItem) const
    {
        if (inItem == nullptr)
        {
            return "null";
        }
        const std::string path = PosixOf(inItem->GetPath());
        return path.compare(0, fTemp.size() + 1, fTemp + "/") == 0 ? path.substr(fTemp.size() + 1) : path;
    }

    std::string fTemp;
    VRefPtr<VFileSystemNamespace> fNamespace;
};

// ---------------------------------------------------------------------------------------------
// File systems

TEST_F(FileSystems, QuotaRequestsAndReturns)
{
    struct Step
    {
        bool fRequest; // else Relinquish
        size_t fBytes;
        VError fExpected;
    };
    struct Case
    {
        const char* fWhy;
        uint32_t fOptions;
        size_t fQuota;
        size_t fUsed;
        std::vector<Step> fSteps;
    };
    const Case cases[] = {
        {"60 of 100 used: 50 is refused and 40 are still there",
         VFileSystem::kWritable,
         100,
         60,
         {{true, 50, VE_FS_QUOTA_EXCEEDED}, {true, 40, VE_OK}, {true, 1, VE_FS_QUOTA_EXCEEDED}}},
        {"more used than the quota leaves nothing, not a wrapped-around count",
         VFileSystem::kWritable,
         100,
         150,
         {{true, 1, VE_FS_QUOTA_EXCEEDED}}},
        {"giving back more than was taken never makes room beyond the quota",
         VFileSystem::kWritable,
         100,
         0,
         {{false, 50, VE_OK}, {true, 101, VE_FS_QUOTA_EXCEEDED}, {true, 100, VE_OK}}},
        {"what is given back can be taken again",
         VFileSystem::kWritable,
         100,
         90,
         {{false, 30, VE_OK}, {true, 41, VE_FS_QUOTA_EXCEEDED}, {true, 40, VE_OK}}},
        {"no quota: any request", VFileSystem::kWritable, 0, 0, {{true, SIZE_MAX, VE_OK}}},
        {"read-only: neither", 0, 100, 0, {{true, 1, VE_FS_NOT_WRITABLE}, {false, 1, VE_FS_NOT_WRITABLE}}},
    };
    VRefPtr<VFolder> root = Folder("docs");
    for (const Case& c : cases)
    {
        VRefPtr<VFileSystem> system(
            VFileSystem::Create(VString("q"), root.Get(), c.fOptions, c.fQuota, c.fUsed), true);
        ASSERT_TRUE(system) << c.fWhy;
        for (size_t step = 0; step < c.fSteps.size(); ++step)
        {
            const Step& s = c.fSteps[step];
            EXPECT_EQ(s.fRequest ? system->Request(s.fBytes) : system->Relinquish(s.fBytes), s.fExpected)
                << c.fWhy << ", step " << step;
        }
    }
}

TEST_F(FileSystems, DeletingTheRootOnDestruction)
{
    std::filesystem::create_directories(fTemp + "/scratch/sub");
    Write(fTemp + "/scratch/sub/f.txt", "x");
    ASSERT_EQ(::symlink((fTemp + "/outside").c_str(), (fTemp + "/scratch/sub/link").c_str()), 0);
    {
        StErrorContextInstaller errors(true, true);
        VRefPtr<VFileSystem> keeping(VFileSystem::Create(VString("k"), Folder("scratch").Get(), 0), true);
        keeping = nullptr;
        EXPECT_TRUE(Exists(fTemp + "/scratch/sub/f.txt")) << "without option 4 the root stays";

        VRefPtr<VFileSystem> deleting(
            VFileSystem::Create(VString("d"), Folder("scratch").Get(), VFileSystem::kDeleteRootOnClose),
            true);
        EXPECT_TRUE(Exists(fTemp + "/scratch")) << "not before the file system goes";
        deleting = nullptr;
        EXPECT_FALSE(Exists(fTemp + "/scratch"));
        EXPECT_TRUE(Exists(fTemp + "/outside/secret.txt"))
            << "a link inside the root is removed, not followed";

        VRefPtr<VFileSystem> missing(
            VFileSystem::Create(VString("m"), Folder("scratch").Get(), VFileSystem::kDeleteRootOnClose),
            true);
        missing = nullptr;
        EXPECT_EQ(errors.GetLastError(), VE_OK) << "a missing root is no error, and nothing is kept";
    }
}

// ---------------------------------------------------------------------------------------------
// Look-ups

TEST_F(FileSystems, PathsWithFileSystems)
{
    struct Case
    {
        const char* fPath;
        bool fParses;
        const char* fRelative;
        const char* fWhy;
    };
    const Case cases[] = {
        {"/docs/a/b", true, "a/b", "name and relative part"},
        {"/docs/", true, "", "the root itself"},
        {"/docs/a/./deep/../b.txt", true, "a/b.txt", "normalised"},
        {"/docs", false, "", "no second '/'"},
        {"docs/a", false, "", "not beginning with '/'"},
        {"/nothing/a", false, "", "unknown name"},
        {"/docs/../docs2/x.txt", false, "", "'..' climbs out"},
        {"/docs//etc/hostname", false, "", "a full path after the name"},
    };
    for (const Case& c : cases)
    {
        VRefPtr<VFileSystem> system;
        VString relative("untouched");
        EXPECT_EQ(fNamespace->ParsePathWithFileSystem(VString(c.fPath), system, relative, 0), c.fParses)
            << c.fWhy;
        EXPECT_EQ(Ascii(relative), c.fParses ? c.fRelative : "untouched") << c.fWhy;
        EXPECT_EQ(system.Get() != nullptr, c.fParses) << c.fWhy;
    }

    VRefPtr<IFile> file(fNamespace->RetainFile(VString("/docs/a/b.txt"), nullptr, 0, false), true);
    EXPECT_EQ(Below(file.Get()), "docs/a/b.txt");
    EXPECT_EQ(file->GetFileSystem(), Docs().Get());
    EXPECT_EQ(Ascii(file->GetPathWithFileSystem()), "/docs/a/b.txt");
    EXPECT_EQ(fNamespace->RetainFile(VString("/docs/"), nullptr, 0, true), nullptr) << "no relative part";
    VRefPtr<IFolder> root(fNamespace->RetainFolder(VString("/docs"), nullptr, 0, false), true);
    EXPECT_EQ(Below(root.Get()), "docs/") << "a folder path gets its '/'";
    EXPECT_EQ(root->GetFileSystem(), Docs().Get());

    // Full paths only when allowed and without base; they give items without file system.
    const std::string full = fTemp + "/docs2/x.txt";
    EXPECT_EQ(fNamespace->RetainFile(VString(full.c_str()), nullptr, 0, false), nullptr);
    VRefPtr<IFile> plain(fNamespace->RetainFile(VString(full.c_str()), nullptr, 0, true), true);
    EXPECT_EQ(Below(plain.Get()), "docs2/x.txt");
    EXPECT_EQ(plain->GetFileSystem(), nullptr);
    EXPECT_EQ(fNamespace->RetainFile(VString(full.c_str()), Folder("docs").Get(), 0, true), nullptr);

    // Without namespace: relative to the base, else a full path.
    VRefPtr<IFile> relative(
        VFileSystemNamespace::RetainFile(nullptr, VString("a/b.txt"), Folder("docs").Get(), 0, false), true);
    EXPECT_EQ(Below(relative.Get()), "docs/a/b.txt");
    VRefPtr<IFolder> folder(
        VFileSystemNamespace::RetainFolder(nullptr, VString((fTemp + "/docs2/").c_str()), nullptr, 0, false),
        true);
    EXPECT_EQ(Below(folder.Get()), "docs2/");
    EXPECT_EQ(
        VFileSystemNamespace::RetainFile(nullptr, VString((fTemp + "/docs2/").c_str()), nullptr, 0, true),
        nullptr)
        << "a folder path is no file";
}

TEST_F(FileSystems, PrivateFileSystemsAndParents)
{
    struct Case
    {
        const char* fName;
        uint32_t fLookup;
        const char* fFoundIn; // "parent", "child" or "none"
        const char* fWhy;
    };
    VRefPtr<VFileSystemNamespace> child(new VFileSystemNamespace(fNamespace.Get()), true);
    ASSERT_EQ(child->RegisterFileSystem(VString("own"), Folder("docs2").Get(), 0), VE_OK);
    ASSERT_EQ(child->RegisterFileSystem(VString("docs"), Folder("docs2").Get(), VFileSystem::kPrivate),
              VE_OK);
    const Case cases[] = {
        {"own", 0, "child", "in the namespace itself"},
        {"hidden", 0, "none", "parents only with bit 2"},
        {"hidden", 2, "parent", "a private file system with look-up 2"},
        {"hidden", 3, "none", "a private file system with bit 1"},
        {"docs", 2, "child", "the nearer namespace wins"},
        {"docs", 3, "none", "a private match ends the search: the parent's public one stays unseen"},
    };
    for (const Case& c : cases)
    {
        VRefPtr<VFileSystem> found(child->RetainFileSystem(VString(c.fName), c.fLookup), true);
        const std::string where = found.Get() == nullptr                           ? "none"
                                  : PosixOf(found->GetRoot()) == fTemp + "/docs2/" ? "child"
                                                                                   : "parent";
        EXPECT_EQ(where, c.fFoundIn) << c.fWhy;
    }
    EXPECT_EQ(child->RetainFile(VString("/hidden/a/b.txt"), nullptr, 3, false), nullptr);
    VRefPtr<IFile> hidden(child->RetainFile(VString("/hidden/a/b.txt"), nullptr, 2, false), true);
    EXPECT_EQ(Below(hidden.Get()), "docs/a/b.txt");

    VFileSystemNamespace::FileSystemMap all;
    child->RetainMapOfFileSystems(all, 2);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(PosixOf(all[VString("docs")]->GetRoot()), fTemp + "/docs2/") << "nearer namespaces win";
    VFileSystemNamespace::FileSystemMap visible;
    child->RetainMapOfFileSystems(visible, 3);
    ASSERT_EQ(visible.size(), 2u) << "hidden and the child's docs are private";
    EXPECT_EQ(PosixOf(visible[VString("docs")]->GetRoot()), fTemp + "/docs/")
        << "the parent's docs is public";
    EXPECT_EQ(visible.count(VString("own")), 1u);

    VRefPtr<IFolder> root(child->RetainFileSystemRootFolder(VString("own"), 0), true);
    ASSERT_TRUE(root);
    EXPECT_EQ(Ascii(root->GetFileSystem()->GetName()), "own") << "the root is bound to its file system";

    // Unregistering leaves objects already bound to it working.
    VRefPtr<IFile> bound(child->RetainFile(VString("/own/x.txt"), nullptr, 0, false), true);
    child->UnregisterFileSystem(VString("own"));
    child->UnregisterFileSystem(VString("never"));
    EXPECT_EQ(child->RetainFileSystem(VString("own"), 2), nullptr);
    ASSERT_TRUE(bound);
    EXPECT_TRUE(bound->Exists());
    EXPECT_EQ(Ascii(bound->GetPathWithFileSystem()), "/own/x.txt");
}

// Each relative text is tried as "/docs/" + text and relative to the root folder bound to docs;
// both must agree.
TEST_F(FileSystems, ConfinementToTheRoot)
{
    struct Case
    {
        const char* fRelative;
        const char* fExpected; // below the temporary folder, or "null"
        const char* fWhy;
    };
    const Case files[] = {
        {"a/b.txt", "docs/a/b.txt", "inside"},
        {"a/../a/b.txt", "docs/a/b.txt", "'..' that stays inside"},
        {"./a/b.txt", "docs/a/b.txt", "'.'"},
        {"a/new.txt", "docs/a/new.txt", "a file still to be made"},
        {"..", "null", "'..' above the root"},
        {"../docs/a/b.txt", "docs/a/b.txt", "'..' out and back in ends inside"},
        {"a/../../x", "null", "'..' past the root"},
        {"../DOCS/x.txt", "null", "a sibling differing in case"},
        {"../docs2/x.txt", "null", "a sibling sharing the root's name as prefix"},
        {"out/secret.txt", "null", "through a link that leads outside"},
        {"out/new.txt", "null", "a missing file behind a link that leads outside"},
        {"in/b.txt", "docs/in/b.txt", "through a link that stays inside"},
        {"in/deep/c.txt", "docs/in/deep/c.txt", "deeper through a link that stays inside"},
    };
    VRefPtr<IFolder> root(fNamespace->RetainFileSystemRootFolder(VString("docs"), 0), true);
    ASSERT_TRUE(root);
    for (const Case& c : files)
    {
        VRefPtr<IFile> byName(
            fNamespace->RetainFile(VString((std::string("/docs/") + c.fRelative).c_str()), nullptr, 0, false),
            true);
        EXPECT_EQ(Below(byName.Get()), c.fExpected) << c.fWhy << " (file-system path)";
        VRefPtr<IFile> byBase(fNamespace->RetainFile(VString(c.fRelative), root.Get(), 0, false), true);
        EXPECT_EQ(Below(byBase.Get()), c.fExpected) << c.fWhy << " (relative to the root)";
    }

    const Case folders[] = {
        {"a/deep", "docs/a/deep/", "inside"},         {"in", "docs/in/", "a link that stays inside"},
        {"out", "null", "a link that leads outside"}, {"../docs2", "null", "a sibling sharing the prefix"},
        {"a/../..", "null", "'..' past the root"},
    };
    for (const Case& c : folders)
    {
        VRefPtr<IFolder> byName(
            fNamespace->RetainFolder(VString((std::string("/docs/") + c.fRelative).c_str()), nullptr, 0,
                                     false),
            true);
        EXPECT_EQ(Below(byName.Get()), c.fExpected) << c.fWhy << " (file-system path)";
        VRefPtr<IFolder> byBase(fNamespace->RetainFolder(VString(c.fRelative), root.Get(), 0, false), true);
        EXPECT_EQ(Below(byBase.Get()), c.fExpected) << c.fWhy << " (relative to the root)";
    }

    // The lexical test itself compares exactly.
    VRefPtr<VFileSystem> docs = Docs();
    EXPECT_TRUE(docs->IsAuthorized(VFilePath(VString((fTemp + "/docs/a/").c_str()), FPS_POSIX)));
    EXPECT_FALSE(docs->IsAuthorized(VFilePath(VString((fTemp + "/DOCS/x.txt").c_str()), FPS_POSIX)));
    EXPECT_FALSE(docs->IsAuthorized(VFilePath(VString((fTemp + "/docs2/x.txt").c_str()), FPS_POSIX)));
}

// ---------------------------------------------------------------------------------------------
// Definitions

TEST_F(FileSystems, DefinitionArrays)
{
    struct Case
    {
        const char* fWhy;
        std::string fJSON;
        // "name=root below the temporary folder[ w]" for each registered file system, in name order.
        std::vector<std::string> fRegistered;
        bool fBadName;
    };
    const std::string temp = fTemp;
    const Case cases[] = {
        {"a string element is skipped, the next object still read",
         R"(["x", {"name":"s","path":")" + temp + R"(/docs2"}])",
         {"s=docs2/"},
         false},
        {"an object without name is reported and skipped",
         R"([{"path":")" + temp + R"(/docs2"}, {"name":"n","path":")" + temp + R"(/docs2/"}])",
         {"n=docs2/"},
         true},
        {"a name holding '/' is reported and skipped",
         R"([{"name":"a/b","path":")" + temp + R"(/docs2"}])",
         {},
         true},
        {"a missing parent skips silently", R"([{"name":"m","parent":"nowhere","path":"a"}])", {}, false},
        {"a path leaving the parent's root is skipped",
         R"([{"name":"l","parent":"docs","path":"../docs2"}])",
         {},
         false},
        {"a path through a link leading out of the parent's root is skipped",
         R"([{"name":"l","parent":"docs","path":"out"}])",
         {},
         false},
        {"a parent from the namespace, a private one included",
         R"([{"name":"p","parent":"hidden","path":"a/deep"}])",
         {"p=docs/a/deep/"},
         false},
        {"a parent defined earlier in the same array",
         R"([{"name":"first","path":")" + temp +
             R"(/docs/a"}, {"name":"second","parent":"first","path":"deep/"}])",
         {"first=docs/a/", "second=docs/a/deep/"},
         false},
        {"a path ending in '\\' gets no '/': under a parent the folder keeps the name",
         R"([{"name":"b","parent":"docs","path":"a\\"}])",
         {"b=docs/a\\/"},
         false},
        {"a full path ending in '\\' names a file, not a folder: skipped",
         R"([{"name":"b","path":")" + temp + R"(/docs\\"}])",
         {},
         false},
        {"a relative path without parent is skipped", R"([{"name":"r","path":"docs2"}])", {}, false},
        {"writable only for JSON true; other types count as absent",
         R"([{"name":"w","path":")" + temp +
             R"(/docs2","writable":true},)"
             R"({"name":"y","path":")" +
             temp +
             R"(/docs2","writable":"yes"},)"
             R"({"name":"z","path":")" +
             temp + R"(/docs2","writable":false,"parent":7}])",
         {"w=docs2/ w", "y=docs2/", "z=docs2/"},
         false},
    };
    for (const Case& c : cases)
    {
        VJSONValue array;
        ASSERT_EQ(array.ParseFromString(VString(c.fJSON.c_str())), VE_OK) << c.fWhy;
        ASSERT_TRUE(array.IsArray()) << c.fWhy;
        VRefPtr<VFileSystemNamespace> space(new VFileSystemNamespace(fNamespace.Get()), true);
        StErrorContextInstaller errors(true, true);
        space->LoadFromJSONArray(array.GetArray());
        EXPECT_EQ(errors.Find(VE_FS_BAD_NAME) != nullptr, c.fBadName) << c.fWhy;

        VFileSystemNamespace::FileSystemMap map;
        space->RetainMapOfFileSystems(map, 0);
        std::vector<std::string> registered;
        for (const auto& [name, system] : map)
        {
            const std::string root = PosixOf(system->GetRoot());
            registered.push_back(Ascii(name) + "=" + root.substr(fTemp.size() + 1) +
                                 ((system->GetOptions() & VFileSystem::kWritable) != 0 ? " w" : ""));
        }
        EXPECT_EQ(registered, c.fRegistered) << c.fWhy;
    }
    fNamespace->LoadFromJSONArray(nullptr);
}

TEST_F(FileSystems, DefinitionFiles)
{
    {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(fNamespace->LoadFromDefinitionFile(nullptr), VE_UNKNOWN_ERROR);
    }
    struct Case
    {
        const char* fWhy;
        std::string fText; // "-": no file at all
        bool fParses;
        bool fRegisters;
    };
    const Case cases[] = {
        {"an array", R"([{"name":"def","path":")" + fTemp + R"(/docs2/"}])", true, true},
        {"an object at the top is ignored", R"({"name":"def","path":")" + fTemp + R"(/docs2/"})", true,
         false},
        {"not JSON", R"([{"name":"def",)", false, false},
        {"no file", "-", false, false},
    };
    for (const Case& c : cases)
    {
        const std::string path = fTemp + "/fileSystems.json";
        ::unlink(path.c_str());
        if (c.fText != "-")
        {
            Write(path, c.fText);
        }
        VRefPtr<VFileSystemNamespace> space(new VFileSystemNamespace(), true);
        VFile file(VString(path.c_str()), FPS_POSIX);
        StErrorContextInstaller errors(true, true);
        const VError error = space->LoadFromDefinitionFile(&file);
        EXPECT_EQ(error == VE_OK, c.fParses) << c.fWhy;
        VErrorBase* unreadable = errors.Find(VE_FS_BAD_DEFINITION_FILE);
        EXPECT_EQ(unreadable != nullptr, !c.fParses) << c.fWhy;
        if (unreadable != nullptr)
        {
            VString where;
            unreadable->GetParameters()->GetProperty(VString("path")).GetString(where);
            VString native;
            file.GetPlatformPath(native, FPS_NATIVE);
            EXPECT_EQ(Text(where), Text(native)) << c.fWhy;
            EXPECT_NE(error, VE_FS_BAD_DEFINITION_FILE) << "the parser's own error is returned";
        }
        VRefPtr<VFileSystem> def(space->RetainFileSystem(VString("def"), 0), true);
        EXPECT_EQ(def.Get() != nullptr, c.fRegisters) << c.fWhy;
    }
}

// ---------------------------------------------------------------------------------------------
// Several tasks at once

// Look-ups in a child namespace and its parent while other threads register, unregister and load
// definitions in both.
TEST_F(FileSystems, ParallelLookUpsAndRegistrations)
{
    VRefPtr<VFileSystemNamespace> child(new VFileSystemNamespace(fNamespace.Get()), true);
    VJSONValue definitions;
    ASSERT_EQ(definitions.ParseFromString(VString(R"([{"name":"loaded","parent":"docs","path":"a"}])")),
              VE_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int reader = 0; reader < 3; ++reader)
    {
        threads.emplace_back(
            [&]
            {
                while (!stop.load())
                {
                    VRefPtr<IFile> file(child->RetainFile(VString("/docs/a/b.txt"), nullptr, 3, false), true);
                    VRefPtr<IFolder> folder(child->RetainFolder(VString("/loaded/deep"), nullptr, 2, false),
                                            true);
                    VFileSystemNamespace::FileSystemMap map;
                    child->RetainMapOfFileSystems(map, 2);
                    if (file.Get() == nullptr || map.count(VString("docs")) == 0 ||
                        (folder.Get() != nullptr && PosixOf(folder->GetPath()) != fTemp + "/docs/a/deep/"))
                    {
                        ++failures;
                    }
                }
            });
    }
    threads.emplace_back(
        [&]
        {
            VRefPtr<VFolder> root = Folder("docs2");
            for (int round = 0; round < 200; ++round)
            {
                fNamespace->RegisterFileSystem(VString("temp"), root.Get(), 0);
                child->LoadFromJSONArray(definitions.GetArray());
                fNamespace->UnregisterFileSystem(VString("temp"));
                child->UnregisterFileSystem(VString("loaded"));
            }
        });
    threads.back().join();
    threads.pop_back();
    stop.store(true);
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
