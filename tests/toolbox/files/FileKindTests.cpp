// File kinds: the manager's look-ups and stores, the labels, conformance through the type table's
// links and through registered kinds, and the kinds of files and folders on disk.
#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileKind.h"
#include "toolbox/files/VFileKindManager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace zorn
{
namespace
{

using test::StIntlTestProcess;

class FileKindTest : public ::testing::Test
{
protected:
    // Each test starts with a new, empty manager.
    void SetUp() override { VFileKindManager::DeInit(); }
    void TearDown() override { VFileKindManager::DeInit(); }

    static VFileKindManager& Manager() { return *VFileKindManager::Get(); }
    static VRefPtr<VFileKind> Kind(const char* inID)
    {
        return VRefPtr<VFileKind>(Manager().RetainFileKind(VString(inID)), true);
    }
    static std::string IDOf(const VFileKind* inKind)
    {
        return inKind != nullptr ? to_string(inKind->GetID()) : std::string();
    }

    StIntlTestProcess fProcess{1033};
};

TEST_F(FileKindTest, APublicKindForAnExtensionIsMadeOnceAndStored)
{
    VRefPtr<VFileKind> first(Manager().RetainFirstFileKindMatchingWithExtension(VString("xlf")), true);
    ASSERT_TRUE(first);
    EXPECT_EQ(IDOf(first.Get()), "org.oasis-open.xliff");
    EXPECT_TRUE(first->IsPublic());
    // The second look-up, in other case, finds the stored kind; so does the look-up by ID.
    VRefPtr<VFileKind> second(Manager().RetainFirstFileKindMatchingWithExtension(VString("XLF")), true);
    EXPECT_EQ(second.Get(), first.Get());
    EXPECT_EQ(Kind("org.oasis-open.xliff").Get(), first.Get());
    // An extension the table does not know gives nothing, each time.
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithExtension(VString("zzq")), nullptr);
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithExtension(VString("zzq")), nullptr);
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithExtension(VString()), nullptr);
    EXPECT_FALSE(Kind("com.example.unknown"));
}

TEST_F(FileKindTest, RegisteredKindsAreFoundByExtensionAndOsKind)
{
    Manager().RegisterPrivateFileKind(VString("com.example.notes"), {VString("TEXT")}, VString("Notes"),
                                      {VString("note"), VString("xml")}, {VString("public.xml")});
    VRefPtr<VFileKind> byExtension(Manager().RetainFirstFileKindMatchingWithExtension(VString("XML")), true);
    // In ID order the private kind comes before public.xml, which is not even stored.
    EXPECT_EQ(IDOf(byExtension.Get()), "com.example.notes");
    EXPECT_FALSE(byExtension->IsPublic());
    VRefPtr<VFileKind> byOsKind(Manager().RetainFirstFileKindMatchingWithOsKind(VString("TEXT")), true);
    EXPECT_EQ(byOsKind.Get(), byExtension.Get());
    // OS kinds compare with case counting, and the table knows none.
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithOsKind(VString("text")), nullptr);
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithOsKind(VString("ABCD")), nullptr);

    // Registering the ID again replaces the kind.
    Manager().RegisterPrivateFileKind(VString("com.example.notes"), VString("Notes 2"), {VString("note2")},
                                      {});
    VRefPtr<VFileKind> replaced = Kind("com.example.notes");
    ASSERT_TRUE(replaced);
    EXPECT_NE(replaced.Get(), byExtension.Get());
    EXPECT_TRUE(replaced->MatchExtension(VString("NOTE2")));
    EXPECT_FALSE(replaced->MatchExtension(VString("note")));
    EXPECT_EQ(Manager().RetainFirstFileKindMatchingWithOsKind(VString("TEXT")), nullptr);
}

TEST_F(FileKindTest, PreferredExtensionAndOsKind)
{
    VString out("left over");
    EXPECT_FALSE(Kind("public.folder")->GetPreferredExtension(out));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(Kind("public.jpeg")->GetPreferredExtension(out));
    EXPECT_TRUE(out.EqualToStringRaw(VString("jpg")));
    out = VString("left over");
    EXPECT_FALSE(Kind("public.jpeg")->GetPreferredOsKind(out));
    EXPECT_TRUE(out.IsEmpty());
    std::vector<VString> parents{VString("stale")};
    EXPECT_FALSE(Kind("public.item")->GetParentIDs(parents));
    EXPECT_TRUE(parents.empty());
}

TEST_F(FileKindTest, LabelsChangeOnlyForANonEmptyTextOfLabelZeroOrOne)
{
    struct Case
    {
        const char* fWhat;
        long fWhich;
        const char* fText;
        const char* fAll;
        const char* fAllReadable;
    };
    const Case cases[] = {
        {"the defaults", -1, "", "All", "All readable documents"},
        {"an empty text keeps the label", 1, "", "All", "All readable documents"},
        {"label 0 replaced", 0, "Tout", "Tout", "All readable documents"},
        {"label 1 replaced", 1, "Lisibles", "Tout", "Lisibles"},
        {"another label changes nothing", 2, "Autre", "Tout", "Lisibles"},
    };
    for (const Case& c : cases)
    {
        Manager().RegisterLocalizedString(c.fWhich, VString(c.fText));
        VString all;
        VString readable;
        Manager().GetLocalizedString(0, all);
        Manager().GetLocalizedString(1, readable);
        EXPECT_TRUE(all.EqualToStringRaw(VString(c.fAll))) << c.fWhat;
        EXPECT_TRUE(readable.EqualToStringRaw(VString(c.fAllReadable))) << c.fWhat;
    }
    VString untouched("x");
    Manager().GetLocalizedString(7, untouched);
    EXPECT_TRUE(untouched.EqualToStringRaw(VString("x")));
}

TEST_F(FileKindTest, ConformanceFollowsTheLinks)
{
    Manager().RegisterPrivateFileKind(VString("com.example.a"), VString("A"), {}, {VString("public.json")});
    Manager().RegisterPrivateFileKind(VString("com.example.b"), VString("B"), {}, {VString("com.example.a")});
    // A loop of links ends.
    Manager().RegisterPrivateFileKind(VString("com.example.c1"), VString("C1"), {},
                                      {VString("com.example.c2")});
    Manager().RegisterPrivateFileKind(VString("com.example.c2"), VString("C2"), {},
                                      {VString("com.example.c1")});
    struct Case
    {
        const char* fKind;
        const char* fTarget;
        bool fConforms;
    };
    const Case cases[] = {
        {"public.xml", "public.xml", true},                            // itself
        {"public.utf8-plain-text", "public.text", true},               // two levels
        {"public.utf8-plain-text", "public.item", true},               // four levels
        {"org.oasis-open.xliff", "public.content", true},              // through the second parent of text
        {"com.apple.application-bundle", "public.directory", true},    // bundle, package, directory
        {"com.apple.application-bundle", "public.executable", true},   // second parent
        {"com.apple.framework", "com.apple.package", true},            //
        {"com.apple.xml-property-list", "public.property-list", true}, //
        {"public.xml", "public.plain-text", false},                    // a sibling
        {"public.text", "public.xml", false},                          // not downwards
        {"public.png", "public.text", false},                          //
        {"public.folder", "com.apple.package", false},                 //
        {"com.example.b", "public.text", true},                        // private, private, table
        {"com.example.b", "public.image", false},                      //
        {"com.example.c1", "public.data", false},                      // the loop
        {"com.example.c1", "com.example.c2", true},                    //
    };
    for (const Case& c : cases)
    {
        VRefPtr<VFileKind> kind = Kind(c.fKind);
        VRefPtr<VFileKind> target = Kind(c.fTarget);
        ASSERT_TRUE(kind && target) << c.fKind << " " << c.fTarget;
        EXPECT_EQ(kind->ConformsTo(*target), c.fConforms) << c.fKind << " to " << c.fTarget;
        EXPECT_EQ(kind->ConformsTo(VString(c.fTarget)), c.fConforms) << c.fKind << " to " << c.fTarget;
    }
    EXPECT_FALSE(Kind("public.xml")->ConformsTo(VString("com.example.unknown")));
}

TEST_F(FileKindTest, FilesAndFoldersOnDisk)
{
    char folder[] = "/tmp/zorn-kinds-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string root = folder;
    for (const char* name : {"a.xlf", "b.XLF", "c.unknown", "noext", "x.zdoc"})
    {
        std::ofstream(root + "/" + name) << "x";
    }
    for (const char* name : {"D.app", "plain", "Pkg", "Pkg/Contents", "dir.xml"})
    {
        ASSERT_EQ(::mkdir((root + "/" + name).c_str(), 0755), 0) << name;
    }
    std::ofstream(root + "/Pkg/Contents/Info.plist") << "<plist/>";
    ASSERT_EQ(::symlink("a.xlf", (root + "/link.txt").c_str()), 0);
    Manager().RegisterPrivateFileKind(VString("com.example.zdoc"), VString("Z document"), {VString("zdoc")},
                                      {VString("public.xml")});

    struct Case
    {
        const char* fName;
        const char* fKind;
        bool fConforms;
    };
    const Case cases[] = {
        {"a.xlf", "public.xml", true},                   // by the extension's type
        {"a.xlf", "public.text", true},                  //
        {"a.xlf", "public.image", false},                //
        {"b.XLF", "org.oasis-open.xliff", true},         // extensions ignore case
        {"c.unknown", "public.data", true},              // an unknown extension is data
        {"c.unknown", "public.text", false},             //
        {"noext", "public.data", true},                  //
        {"link.txt", "public.xml", false},               // the link's own name counts
        {"link.txt", "public.plain-text", true},         //
        {"D.app", "com.apple.application-bundle", true}, // a bundle folder
        {"D.app", "com.apple.package", true},            //
        {"D.app", "public.folder", false},               //
        {"plain", "public.folder", true},                //
        {"plain", "com.apple.package", false},           //
        {"Pkg", "com.apple.package", true},              // a package by its Info.plist
        {"dir.xml", "public.folder", true},              //
        {"dir.xml", "public.xml", true},                 // the extension decides at last
        {"x.zdoc", "com.example.zdoc", true},            // a private kind: the extension only
        {"a.xlf", "com.example.zdoc", false},            //
        {"missing.xml", "public.xml", false},            // no item: an error, false
    };
    for (const Case& c : cases)
    {
        VFile file(VString((root + "/" + c.fName).c_str()), FPS_POSIX);
        EXPECT_EQ(file.ConformsTo(VString(c.fKind)), c.fConforms) << c.fName << " to " << c.fKind;
    }
    VFile file(VString((root + "/a.xlf").c_str()), FPS_POSIX);
    EXPECT_FALSE(file.ConformsTo(VString("com.example.unknown")));
    std::system(("rm -rf " + root).c_str());
}

} // namespace
} // namespace zorn
