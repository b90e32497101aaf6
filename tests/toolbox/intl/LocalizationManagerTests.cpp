#include "tests/toolbox/intl/LocalizationTestSupport.h"
#include "toolbox/intl/LocalizationFolders.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// A manager for the dialect, released at the end of the scope.
VRefPtr<VLocalizationManager> NewManager(uint32_t inDialect = 1033)
{
    return VRefPtr<VLocalizationManager>(new VLocalizationManager(inDialect), true);
}

std::vector<std::string> Names(const std::vector<VString>& inNames)
{
    std::vector<std::string> out;
    for (const VString& name : inNames)
    {
        out.push_back(Utf8(name));
    }
    return out;
}

std::vector<std::string> FolderNames(const std::vector<VRefPtr<IFolder>>& inFolders)
{
    std::vector<std::string> out;
    for (const VRefPtr<IFolder>& folder : inFolders)
    {
        VString name;
        folder->GetName(name);
        out.push_back(Utf8(name));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Strings files
// ---------------------------------------------------------------------------------------------

TEST_F(LocalizationTest, StringsLines)
{
    struct Row
    {
        const char* fWhat;
        const char* fLine;
        const char* fKey; // null: the line gives no pair
        const char* fText;
    };
    const Row rows[] = {
        {"quoted key and text, spaces around =", "\"greeting\" = \"Hello\";", "greeting", "Hello"},
        {"text holding ';' and spaces", "\"k\"=\"a; b  \";", "k", "a; b  "},
        {"unquoted pieces are trimmed", "  plain   =   some text ;", "plain", "some text"},
        {"no final ';': the last character goes", "\"k\" = \"text\"", "k", "tex"},
        {"quotes inside a text stay", "\"k\" = \"say \"hi\"\";", "k", "say \"hi\""},
        {"'=' inside the text: ignored", "\"k\" = \"a=b\";", nullptr, nullptr},
        {"a comment", "/* a comment */", nullptr, nullptr},
        {"empty quoted key", "\"\" = \"text\";", nullptr, nullptr},
        {"only spaces as text", "\"k\" =    ;", nullptr, nullptr},
        {"a lone character", ";", nullptr, nullptr},
        {"doubled '=' is one split (empty piece dropped)", "a == b;", "a", "b"},
    };
    for (const Row& row : rows)
    {
        VString key("unchanged");
        VString text("unchanged");
        bool parsed = VLocalizationManager::ParseDotStringsLine(VString(row.fLine), key, text);
        EXPECT_EQ(parsed, row.fKey != nullptr) << row.fWhat;
        if (parsed && row.fKey != nullptr)
        {
            EXPECT_EQ(Utf8(key), row.fKey) << row.fWhat;
            EXPECT_EQ(Utf8(text), row.fText) << row.fWhat;
        }
    }
}

// Whole files: blank lines and comments are skipped and the last line for a key wins.
TEST_F(LocalizationTest, StringsTextLastDuplicateWins)
{
    auto manager = NewManager();
    manager->AnalyzeDotStringsText(
        VString("/* header */\n\n\"a\" = \"first\";\n\"b\" = \"B\";\n\n\"a\" = \"second\";\n"));
    EXPECT_EQ(Lookup(*manager, "a"), "second");
    EXPECT_EQ(Lookup(*manager, "b"), "B");
    EXPECT_EQ(Lookup(*manager, "/* header */"), "<none>");
}

TEST_F(LocalizationTest, StringsFileCharacterSets)
{
    const std::string content = "\"title\" = \"Caf\xC3\xA9\";\n\"other\" = \"x\";\n";
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
    };
    const Row rows[] = {
        {"UTF-16BE without mark", Utf16Bytes(content, true, false)},
        {"UTF-16BE with mark", Utf16Bytes(content, true, true)},
        {"UTF-16LE with mark", Utf16Bytes(content, false, true)},
        {"UTF-8 without mark", content},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + content},
        {"UTF-8 with CRLF line ends", "\"title\" = \"Caf\xC3\xA9\";\r\n\r\n\"other\" = \"x\";\r\n"},
        {"UTF-16BE with CRLF",
         Utf16Bytes("\"title\" = \"Caf\xC3\xA9\";\r\n\"other\" = \"x\";\r\n", true, false)},
    };
    int index = 0;
    for (const Row& row : rows)
    {
        const std::string name = "f" + std::to_string(index++) + ".strings";
        WriteBytes(name, row.fBytes);
        auto manager = NewManager();
        EXPECT_EQ(manager->LoadFile(File(name).Get()), VE_OK) << row.fWhat;
        EXPECT_EQ(Lookup(*manager, "title"), "Caf\xC3\xA9") << row.fWhat;
        EXPECT_EQ(Lookup(*manager, "other"), "x") << row.fWhat;
    }
}

// Bytes that are neither UTF-8 nor whole UTF-16 give an error and store nothing.
TEST_F(LocalizationTest, StringsFileThatDecodesInNeitherSet)
{
    WriteBytes("bad.strings", "\"k\" = \"v\xFF\";;\n"); // not UTF-8, an odd length for UTF-16
    auto manager = NewManager();
    manager->_InsertObjectURLAndString(VString("kept"), VString("yes"), true);
    EXPECT_EQ(manager->LoadFile(File("bad.strings").Get()), VE_FILE_CANNOT_CONVERT_TEXT);
    EXPECT_EQ(Lookup(*manager, "k"), "<none>");
    EXPECT_EQ(Lookup(*manager, "kept"), "yes");
}

TEST_F(LocalizationTest, LoadFileKinds)
{
    WriteBytes("notes.txt", "\"k\" = \"from txt\";\n");
    WriteBytes("good.strings", "\"k\" = \"from strings\";\n");
    auto manager = NewManager();
    EXPECT_EQ(manager->LoadFile(File("notes.txt").Get()), MakeVError(kCOMPONENT_ZORN, 613));
    EXPECT_EQ(Lookup(*manager, "k"), "<none>");
    EXPECT_EQ(manager->LoadFile(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(manager->LoadFile(File("missing.strings").Get()), VE_FILE_NOT_FOUND);
    EXPECT_EQ(manager->ScanAndLoadFolder(nullptr, true), VE_INVALID_PARAMETER);
    EXPECT_EQ(manager->ScanAndLoadFolder(Folder("nowhere").Get(), true), VE_FILE_NOT_FOUND);
    EXPECT_EQ(manager->LoadFile(File("good.strings").Get()), VE_OK);
    EXPECT_EQ(Lookup(*manager, "k"), "from strings");
}

// ---------------------------------------------------------------------------------------------
// Store operations and look-ups
// ---------------------------------------------------------------------------------------------

// A strings key and an XLIFF resource name are one entry of one map: whichever comes later
// replaces the other (the XLIFF side only when it is asked to).
TEST_F(LocalizationTest, StringsKeyAndResourceNameShareOneEntry)
{
    auto manager = NewManager();
    manager->AnalyzeDotStringsText(VString("\"Open\" = \"from strings\";\n"));
    manager->_InsertObjectURLAndString(VString("Open"), VString("from xliff, no replace"), false);
    EXPECT_EQ(Lookup(*manager, "Open"), "from strings");
    manager->_InsertObjectURLAndString(VString("Open"), VString("from xliff"), true);
    EXPECT_EQ(Lookup(*manager, "Open"), "from xliff");
    manager->AnalyzeDotStringsText(VString("\"Open\" = \"strings again\";\n"));
    EXPECT_EQ(Lookup(*manager, "Open"), "strings again");
    // Keys are exact: another case is another key.
    EXPECT_EQ(Lookup(*manager, "open"), "<none>");
}

TEST_F(LocalizationTest, ErrorMessageKeys)
{
    struct Row
    {
        const char* fWhat;
        VError fError;
        const char* fKey;
    };
    const Row rows[] = {
        {"toolbox error", MakeVError(kCOMPONENT_ZORN, 1000), "ERR_zorn_1000"},
        {"updater error", MakeVError(kCOMPONENT_UPDATER, 120), "ERR_UPZq_120"},
        {"key longer than 15 characters", MakeVError(kCOMPONENT_ZORN, 1234567), "ERR_zorn_1234567"},
        {"negative number", MakeVError(kCOMPONENT_ZORN, -42), "ERR_zorn_-42"},
        {"lowest number", MakeVError(kCOMPONENT_XML, INT32_MIN), "ERR_xmlc_-2147483648"},
    };
    auto manager = NewManager();
    // The key of 1234567 cut at 15 characters would find this message.
    manager->_InsertObjectURLAndString(VString("ERR_zorn_123456"), VString("decoy"), true);
    for (const Row& row : rows)
    {
        manager->_InsertObjectURLAndString(VString(row.fKey), VString(row.fWhat), true);
    }
    for (const Row& row : rows)
    {
        VString text;
        EXPECT_TRUE(manager->LocalizeErrorMessage(row.fError, text)) << row.fWhat;
        EXPECT_EQ(Utf8(text), row.fWhat);
    }
    VString untouched("untouched");
    EXPECT_FALSE(manager->LocalizeErrorMessage(MakeVError(kCOMPONENT_ZORN, 7), untouched));
    EXPECT_EQ(Utf8(untouched), "untouched");
}

TEST_F(LocalizationTest, NumericTextsAndGroups)
{
    auto manager = NewManager();
    manager->_InsertSTRSharpCodeAndString({7, 1}, VString("one"), false);
    manager->_InsertSTRSharpCodeAndString({7, 2}, VString("two"), false);
    manager->_InsertSTRSharpCodeAndString({7, 4}, VString("four"), false);
    manager->_InsertSTRSharpCodeAndString({7, 1}, VString("not replaced"), false);
    manager->_InsertSTRSharpCodeAndString({7, 2}, VString("TWO"), true);

    std::vector<VString> texts{VString("stale")};
    EXPECT_TRUE(manager->LocalizeGroupOfStringsWithAStrSharpID(7, texts));
    EXPECT_EQ(Names(texts), (std::vector<std::string>{"one", "TWO"})) << "stops at the first gap";
    EXPECT_FALSE(manager->LocalizeGroupOfStringsWithAStrSharpID(8, texts));
    EXPECT_TRUE(texts.empty());
    VString text;
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes({7, 4}, text));
    EXPECT_EQ(Utf8(text), "four");
    EXPECT_FALSE(manager->LocalizeStringWithSTRSharpCodes({4, 7}, text));

    manager->_InsertIDAndStringInAGroup(3, VString("c"), VString("Menu"), false);
    manager->_InsertIDAndStringInAGroup(1, VString("a"), VString("Menu"), false);
    manager->_InsertIDAndStringInAGroup(2, VString("old"), VString("Menu"), false);
    manager->_InsertIDAndStringInAGroup(2, VString("b"), VString("Menu"), false);
    EXPECT_TRUE(manager->GetOrderedStringsOfGroup(VString("Menu"), texts));
    EXPECT_EQ(Names(texts), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(manager->GetOrderedStringsOfGroup(VString("menu"), texts)) << "group names are exact";
    EXPECT_TRUE(texts.empty());
}

TEST_F(LocalizationTest, GroupBags)
{
    auto manager = NewManager();
    VRefPtr<VValueBag> first(new VValueBag, true);
    VRefPtr<VValueBag> second(new VValueBag, true);
    VRefPtr<VValueBag> unnamed(new VValueBag, true);
    manager->_InsertGroupBag(VString("Toolbar"), VString("menu"), first.Get());
    manager->_InsertGroupBag(VString("TOOLBAR"), VString("menu"), second.Get());
    manager->_InsertGroupBag(VString(), VString("menu"), unnamed.Get());

    VRefPtr<const VValueBag> found(manager->RetainGroupBag(VString("toolbar")), true);
    EXPECT_EQ(found.Get(), first.Get()) << "names compare without case; the first bag wins";
    EXPECT_EQ(manager->RetainGroupBag(VString("Statusbar")), nullptr);

    std::vector<VRefPtr<const VValueBag>> bags;
    manager->RetainGroupBagsByRestype(VString("menu"), bags);
    ASSERT_EQ(bags.size(), 3U);
    EXPECT_EQ(bags[0].Get(), first.Get());
    EXPECT_EQ(bags[1].Get(), second.Get());
    EXPECT_EQ(bags[2].Get(), unnamed.Get());
    manager->RetainGroupBagsByRestype(VString("Menu"), bags);
    EXPECT_EQ(bags.size(), 3U) << "resource types are exact";

    manager->ClearLocalizations();
    EXPECT_EQ(manager->RetainGroupBag(VString("Toolbar")), nullptr);
    bags.clear();
    manager->RetainGroupBagsByRestype(VString("menu"), bags);
    EXPECT_TRUE(bags.empty());
}

TEST_F(LocalizationTest, LocalizeStringThroughTheProcessLocalizer)
{
    EXPECT_EQ(Utf8(LocalizeString(VString("k"), "Caf\xC3\xA9 {x}")), "Caf\xC3\xA9 {x}") << "no localizer";
    auto manager = NewManager();
    manager->_InsertObjectURLAndString(VString("k"), VString("known"), true);
    fProcess.SetLocalizer(manager.Get());
    EXPECT_EQ(Utf8(LocalizeString(VString("k"), "default")), "known");
    EXPECT_EQ(Utf8(LocalizeString(VString("missing"), "default")), "default");
    EXPECT_EQ(Utf8(LocalizeString(VString("missing"))), "");
    fProcess.SetLocalizer(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Localization folders
// ---------------------------------------------------------------------------------------------

TEST_F(LocalizationTest, FolderCandidateNames)
{
    struct Row
    {
        uint32_t fDialect;
        std::vector<std::string> fNames;
    };
    const Row rows[] = {
        {2057, {"en-gb.lproj", "en_gb.lproj", "en.lproj", "en_GB.lproj", "English.lproj"}},
        {1033, {"en.lproj", "en_US.lproj", "English.lproj"}},
        {1028, {"zh-Hant.lproj", "zh_Hant.lproj", "zh.lproj", "zh_TW.lproj", "Chinese.lproj"}},
        {1036, {"fr.lproj", "fr_FR.lproj", "French.lproj"}},
    };
    for (const Row& row : rows)
    {
        std::vector<VString> names;
        GetLocalizationFolderNames(row.fDialect, names);
        EXPECT_EQ(Names(names), row.fNames) << row.fDialect;
    }
}

TEST_F(LocalizationTest, FoldersFoundInCandidateOrder)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fDialect;
        std::vector<std::string> fOnDisk;
        std::vector<std::string> fFound;
    };
    const Row rows[] = {
        {"only existing folders, in candidate order",
         2057,
         {"English.lproj", "en.lproj", "en-gb.lproj", "de.lproj", "fr.lproj"},
         {"en-gb.lproj", "en.lproj", "English.lproj"}},
        {"every candidate",
         1033,
         {"en.lproj", "en_US.lproj", "English.lproj"},
         {"en.lproj", "en_US.lproj", "English.lproj"}},
        {"found without regard to case, under its own name", 2057, {"en-GB.lproj"}, {"en-GB.lproj"}},
        {"the exact name wins over another case", 2057, {"en-GB.lproj", "en-gb.lproj"}, {"en-gb.lproj"}},
        {"one folder for two candidates is listed once", 2057, {"en_GB.lproj"}, {"en_GB.lproj"}},
        {"a file is no folder", 1036, {}, {}},
    };
    int index = 0;
    for (const Row& row : rows)
    {
        const std::string parent = "p" + std::to_string(index++) + "/";
        MakeFolder(parent);
        for (const std::string& name : row.fOnDisk)
        {
            MakeFolder(parent + name);
        }
        WriteBytes(parent + "fr.lproj.txt", "");
        WriteBytes(parent + "French.lproj", "not a folder");
        std::vector<VRefPtr<IFolder>> folders;
        EXPECT_EQ(GetLocalizationFoldersWithDialect(row.fDialect, Folder(parent).Get(), folders),
                  !row.fFound.empty())
            << row.fWhat;
        EXPECT_EQ(FolderNames(folders), row.fFound) << row.fWhat;
    }
}

TEST_F(LocalizationTest, LocalizationFilePrefersTheLastFolder)
{
    MakeFolder("p/en-gb.lproj");
    MakeFolder("p/English.lproj");
    WriteBytes("p/en-gb.lproj/Texts.strings", "gb");
    WriteBytes("p/en.lproj/Texts.strings", "en");
    WriteBytes("p/en-gb.lproj/Only.strings", "gb only");
    bool folderFound = false;
    VRefPtr<IFile> file(
        RetainLocalizationFile(Folder("p").Get(), VString("Texts.strings"), 2057, &folderFound), true);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(folderFound);
    VString posix;
    file->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_EQ(Utf8(posix), PathOf("p/en.lproj/Texts.strings"))
        << "English.lproj has none; en.lproj comes next";
    file = VRefPtr<IFile>(RetainLocalizationFile(Folder("p").Get(), VString("Only.strings"), 2057, nullptr),
                          true);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(RetainLocalizationFile(Folder("p").Get(), VString("None.strings"), 2057, &folderFound),
              nullptr);
    EXPECT_TRUE(folderFound);
    MakeFolder("empty");
    EXPECT_EQ(RetainLocalizationFile(Folder("empty").Get(), VString("Texts.strings"), 2057, &folderFound),
              nullptr);
    EXPECT_FALSE(folderFound);
}

// ---------------------------------------------------------------------------------------------
// Loading bundles and reloading
// ---------------------------------------------------------------------------------------------

TEST_F(LocalizationTest, LoadBundleFolders)
{
    WriteBytes("App.app/Contents/Info.plist", "<plist/>");
    WriteBytes("App.app/Contents/Resources/Common.strings", "\"common\" = \"C\";\n\"both\" = \"common\";\n");
    WriteBytes("App.app/Contents/Resources/en.lproj/Localizable.strings", "\"both\" = \"english\";\n");
    WriteBytes("App.app/Contents/Resources/fr.lproj/Localizable.strings", "\"both\" = \"french\";\n");
    auto manager = NewManager(1033);
    EXPECT_TRUE(manager->LoadDefaultLocalizationFoldersForComponentOrPlugin(Folder("App.app").Get()));
    EXPECT_EQ(Lookup(*manager, "common"), "C");
    EXPECT_EQ(Lookup(*manager, "both"), "english") << "the language folder is read after its parent";

    WriteBytes("Bare.app/Contents/Resources/Common.strings", "\"common\" = \"bare\";\n");
    auto bare = NewManager(1033);
    EXPECT_FALSE(bare->LoadDefaultLocalizationFoldersForComponentOrPlugin(Folder("Bare.app").Get()))
        << "no language folder";
    EXPECT_EQ(Lookup(*bare, "common"), "bare");
    EXPECT_FALSE(bare->LoadDefaultLocalizationFoldersForComponentOrPlugin(nullptr));
    EXPECT_FALSE(bare->LoadDefaultLocalizationFoldersForComponentOrPlugin(Folder("Missing.app").Get()));
}

TEST_F(LocalizationTest, UpdateIfNeeded)
{
    WriteBytes("res/en.lproj/a.xlf", XliffText("en"));
    WriteBytes("res/en.lproj/a.strings", "\"k\" = \"v1\";\n");
    SetModificationTime("res/en.lproj/a.xlf", 1);
    auto manager = NewManager(1033);
    ASSERT_TRUE(manager->LoadDefaultLocalizationFolders(Folder("res").Get()));
    EXPECT_EQ(Lookup(*manager, "k"), "v1");
    EXPECT_FALSE(manager->UpdateIfNeeded()) << "nothing changed";

    // A new strings file alone is not looked for.
    WriteBytes("res/en.lproj/b.strings", "\"k\" = \"ignored\";\n\"b\" = \"B\";\n");
    EXPECT_FALSE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "b"), "<none>");

    // A touched XLIFF file reloads every registered path.
    WriteBytes("res/en.lproj/a.strings", "\"k\" = \"v2\";\n");
    SetModificationTime("res/en.lproj/a.xlf", 2);
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "k"), "v2");
    EXPECT_EQ(Lookup(*manager, "b"), "B");
    EXPECT_FALSE(manager->UpdateIfNeeded());

    // So does a new XLIFF file in a scanned folder, also in the folder scanned without
    // language checks.
    WriteBytes("res/en.lproj/a.strings", "\"k\" = \"v3\";\n");
    WriteBytes("res/new.xlf", XliffText("en"));
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "k"), "v3");
    EXPECT_FALSE(manager->UpdateIfNeeded());

    // And a loaded XLIFF file that went away.
    std::filesystem::remove(PathOf("res/new.xlf"));
    WriteBytes("res/en.lproj/a.strings", "\"k\" = \"v4\";\n");
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "k"), "v4");
    EXPECT_FALSE(manager->UpdateIfNeeded());

    // Clearing keeps what to reload.
    manager->ClearLocalizations();
    EXPECT_EQ(Lookup(*manager, "k"), "<none>");
    SetModificationTime("res/en.lproj/a.xlf", 3);
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "k"), "v4");
}

// An XLIFF file loaded on its own is registered and reloaded as a file.
TEST_F(LocalizationTest, UpdateReloadsAFileLoadedOnItsOwn)
{
    WriteBytes("one/solo.xlf", XliffText("en"));
    SetModificationTime("one/solo.xlf", 1);
    WriteBytes("one/not-xliff.xlf", "this is no XML");
    auto manager = NewManager(1033);
    EXPECT_EQ(manager->LoadFile(File("one/solo.xlf").Get()), VE_OK);
    EXPECT_EQ(manager->LoadFile(File("one/not-xliff.xlf").Get()), VE_OK) << "parse problems are not reported";
    EXPECT_FALSE(manager->UpdateIfNeeded());
    manager->_InsertObjectURLAndString(VString("k"), VString("v"), true);
    SetModificationTime("one/solo.xlf", 2);
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Lookup(*manager, "k"), "<none>") << "cleared, then the files reloaded";
    EXPECT_FALSE(manager->UpdateIfNeeded());
}

} // namespace
