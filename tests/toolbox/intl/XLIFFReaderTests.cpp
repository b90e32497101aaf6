#include "tests/toolbox/intl/LocalizationTestSupport.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VLocalizationXMLHandler.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

VRefPtr<VLocalizationManager> NewManager(uint32_t inDialect = 1033)
{
    return VRefPtr<VLocalizationManager>(new VLocalizationManager(inDialect), true);
}

std::string GroupTexts(VLocalizationManager& inManager, const char* inResName)
{
    std::vector<VString> texts;
    inManager.GetOrderedStringsOfGroup(VString(inResName), texts);
    std::string joined;
    for (const VString& text : texts)
    {
        joined += (joined.empty() ? "" : "|") + Utf8(text);
    }
    return joined;
}

std::string BagString(const VValueBag& inBag, const char* inName)
{
    VString value;
    return inBag.GetString(VValueBag::StKey(inName), value) ? Utf8(value) : std::string("<none>");
}

class XLIFFTest : public LocalizationTest
{
protected:
    // Writes the body into an XLIFF file for the language and loads it.
    void Load(VLocalizationManager& inManager, const std::string& inLanguage, const std::string& inBody,
              bool inAvoidLanguageChecking = false)
    {
        const std::string name = "f" + std::to_string(fFiles++) + ".xlf";
        WriteBytes(name, XliffText(inLanguage, inBody));
        EXPECT_EQ(inManager.LoadFile(File(name).Get(), inAvoidLanguageChecking), VE_OK);
    }

    int fFiles = 0;
};

TEST_F(XLIFFTest, UnitTexts)
{
    struct Row
    {
        const char* fWhat;
        const char* fUnit;
        const char* fText; // of the key "k"
    };
    const Row rows[] = {
        {"target over source", "<source>S</source><target>T</target>", "T"},
        {"empty target element: the source", "<source>S</source><target/>", "S"},
        {"target read in several chunks", "<source>S</source><target>a<![CDATA[<b>]]>c</target>", "a<b>c"},
        {"text around inline markup is kept", "<target>one <g id=\"1\">two</g> three<x id=\"2\"/>!</target>",
         "one  three!"},
        {"no text at all: nothing under the key", "<note>n</note>", "<none>"},
    };
    for (const Row& row : rows)
    {
        auto manager = NewManager();
        Load(*manager, "en",
             std::string("<trans-unit id=\"1\" resname=\"k\">") + row.fUnit + "</trans-unit>");
        EXPECT_EQ(Lookup(*manager, "k"), row.fText) << row.fWhat;
    }
}

TEST_F(XLIFFTest, NestedGroups)
{
    auto manager = NewManager();
    Load(*manager, "en",
         "<group resname=\"[Menus]\"><group resname=\"File\">"
         "<trans-unit id=\"3\" resname=\"Open\"><source>Open...</source></trans-unit>"
         "</group></group>");
    EXPECT_EQ(Lookup(*manager, "[Menus]#}[{@File#}[{@Open"), "Open...");
    EXPECT_EQ(Lookup(*manager, "Open"), "<none>");
    EXPECT_EQ(GroupTexts(*manager, "File"), "");

    auto plain = NewManager();
    Load(*plain, "en",
         "<group resname=\"Menus\" id=\"9\"><group resname=\"File\">"
         "<trans-unit id=\"3\" resname=\"Open\"><source>Open...</source></trans-unit>"
         "<trans-unit id=\"1\"><source>New</source></trans-unit>"
         "</group></group>");
    EXPECT_EQ(Lookup(*plain, "Open"), "Open...");
    EXPECT_EQ(GroupTexts(*plain, "File"), "New|Open...");
    EXPECT_EQ(GroupTexts(*plain, "Menus"), "New|Open...");
    std::vector<VString> texts;
    EXPECT_TRUE(plain->LocalizeGroupOfStringsWithAStrSharpID(9, texts)) << "the group id of the outer level";
    EXPECT_EQ(texts.size(), 1U) << "units 1 then a gap at 2";
}

TEST_F(XLIFFTest, PlatformTags)
{
    struct Row
    {
        const char* fWhat;
        const char* fWord;
        const char* fValue;
        bool fInclude;
        bool fExcluded;
    };
    const Row rows[] = {
        {"includeIf naming this platform", "linux", "win linux", true, false},
        {"includeIf mac only", "linux", "mac", true, true},
        {"includeIf win only", "linux", "win", true, true},
        {"excludeIf another platform", "linux", "win", false, false},
        {"excludeIf this platform", "linux", "linux", false, true},
        {"includeIf with no platform word", "linux", "ios android", true, false},
        {"words compared without case, extra spaces", "linux", "  WIN   Linux ", true, false},
        {"designed word: includeIf win linux", "mac", "win linux", true, true},
        {"designed word: excludeIf win", "mac", "win", false, false},
        {"designed word: includeIf unknown words", "mac", "amiga beos", true, false},
    };
    for (const Row& row : rows)
    {
        bool excluded = false;
        VLocalizationTransUnitHandler::CheckPlatformTag(VString(row.fValue), row.fInclude, &excluded,
                                                        VString(row.fWord));
        EXPECT_EQ(excluded, row.fExcluded) << row.fWhat;
    }
    // Through a file, with this build's word.
    auto manager = NewManager();
    Load(*manager, "en",
         "<trans-unit id=\"1\" resname=\"mac\" qz:includeIf=\"mac\"><source>M</source></trans-unit>"
         "<trans-unit id=\"2\" resname=\"linux\" qz:includeIf=\"linux win\"><source>L</source></trans-unit>"
         "<trans-unit id=\"3\" resname=\"notlinux\" qz:excludeIf=\"linux\"><source>N</source></trans-unit>");
    EXPECT_EQ(Lookup(*manager, "mac"), "<none>");
    EXPECT_EQ(Lookup(*manager, "linux"), "L");
    EXPECT_EQ(Lookup(*manager, "notlinux"), "<none>");
}

TEST_F(XLIFFTest, TargetLanguage)
{
    auto manager = NewManager(2057); // en-gb
    Load(*manager, "en-GB", "<trans-unit id=\"1\" resname=\"k\"><source>british</source></trans-unit>");
    Load(*manager, "en",
         "<trans-unit id=\"1\" resname=\"k\"><source>generic</source></trans-unit>"
         "<trans-unit id=\"2\" resname=\"new\"><source>added</source></trans-unit>");
    EXPECT_EQ(Lookup(*manager, "k"), "british") << "a region-only match replaces nothing";
    EXPECT_EQ(Lookup(*manager, "new"), "added");
    Load(*manager, "fr",
         "<trans-unit id=\"3\" resname=\"fr\"><source>fran\xC3\xA7\x61is</source></trans-unit>");
    EXPECT_EQ(Lookup(*manager, "fr"), "<none>") << "another language contributes nothing";
    Load(*manager, "fr", "<trans-unit id=\"3\" resname=\"fr\"><source>avoided</source></trans-unit>", true);
    EXPECT_EQ(Lookup(*manager, "fr"), "avoided") << "unless language checking is avoided";
}

// A file without "target-language" loads the same whatever file was read before it.
TEST_F(XLIFFTest, LanguageFlagsStartAnewForEachFile)
{
    const std::string bare = "<?xml version=\"1.0\"?><xliff version=\"1.2\"><file original=\"x\"><body>"
                             "<trans-unit id=\"1\" resname=\"bare\"><source>B</source></trans-unit>"
                             "</body></file></xliff>";
    WriteBytes("bare.xlf", bare);
    WriteBytes("french.xlf",
               XliffText("fr", "<trans-unit id=\"1\" resname=\"fr\"><source>F</source></trans-unit>"));
    WriteBytes("english.xlf",
               XliffText("en", "<trans-unit id=\"1\" resname=\"en\"><source>E</source></trans-unit>"));
    for (const char* before : {"french.xlf", "english.xlf"})
    {
        auto manager = NewManager();
        manager->LoadFile(File(before).Get());
        manager->LoadFile(File("bare.xlf").Get());
        EXPECT_EQ(Lookup(*manager, "bare"), "<none>") << "after " << before;
    }
}

TEST_F(XLIFFTest, GroupBagsAndAlternatives)
{
    auto manager = NewManager();
    Load(*manager, "en",
         "<group resname=\"Toolbar\" restype=\"x-menu\" id=\"5\" extra=\"e\">"
         "<trans-unit id=\"1\" resname=\"a\" note=\"n\"><source>A</source>"
         "<alt-trans origin=\"memory\"><target>Alt A</target></alt-trans></trans-unit>"
         "<trans-unit id=\"2\"><source>B</source></trans-unit>"
         "</group>"
         "<group resname=\"Plain\"><trans-unit id=\"1\" resname=\"p\"><source>P</source>"
         "<alt-trans><target>ignored</target></alt-trans></trans-unit></group>");
    VRefPtr<const VValueBag> bag(manager->RetainGroupBag(VString("toolbar")), true);
    ASSERT_NE(bag, nullptr);
    EXPECT_EQ(BagString(*bag, "resname"), "Toolbar");
    EXPECT_EQ(BagString(*bag, "restype"), "x-menu");
    EXPECT_EQ(BagString(*bag, "extra"), "e");
    const VBagArray* units = bag->GetElements(VValueBag::StKey("trans-unit"));
    ASSERT_NE(units, nullptr);
    ASSERT_EQ(units->GetCount(), 2);
    EXPECT_EQ(BagString(*units->GetNth(1), "target"), "A");
    EXPECT_EQ(BagString(*units->GetNth(1), "note"), "n");
    EXPECT_EQ(BagString(*units->GetNth(2), "target"), "B");
    const VBagArray* alternatives = units->GetNth(1)->GetElements(VValueBag::StKey("alt-trans"));
    ASSERT_NE(alternatives, nullptr);
    ASSERT_EQ(alternatives->GetCount(), 1);
    EXPECT_EQ(BagString(*alternatives->GetNth(1), "target"), "Alt A");
    EXPECT_EQ(BagString(*alternatives->GetNth(1), "origin"), "memory");
    EXPECT_EQ(Lookup(*manager, "a"), "A") << "an alternative stores nothing";

    std::vector<VRefPtr<const VValueBag>> bags;
    manager->RetainGroupBagsByRestype(VString("x-menu"), bags);
    ASSERT_EQ(bags.size(), 1U);
    EXPECT_EQ(bags[0].Get(), bag.Get());
    EXPECT_EQ(manager->RetainGroupBag(VString("Plain")), nullptr)
        << "a group without resource type has no bag";
    VString text;
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes({5, 2}, text));
    EXPECT_EQ(Utf8(text), "B");
}

// A file as translation tools write it: namespace, header and notes, states, preserved spaces,
// CRLF line ends, a byte-order mark, an empty target and inline markup.
TEST_F(XLIFFTest, TranslatorFile)
{
    auto manager = NewManager(1036);
    VRefPtr<VFile> file(new VFile(VString(ZORN_XLIFF_FIXTURES "/translator_fr.xlf"), FPS_POSIX), true);
    EXPECT_EQ(manager->LoadFile(file.Get()), VE_OK);
    EXPECT_EQ(Lookup(*manager, "Save"), "Enregistrer");
    EXPECT_EQ(Lookup(*manager, "Cancel"), "Cancel");
    EXPECT_EQ(Lookup(*manager, "Spaced"), "  deux  espaces  ");
    EXPECT_EQ(Lookup(*manager, "Welcome"), "Bienvenue,  ! Fin");
    EXPECT_EQ(Lookup(*manager, "Accents"), "Caf\xC3\xA9 cr\xC3\xA8me");
}

TEST_F(XLIFFTest, UpdaterTexts)
{
    auto manager = NewManager(1033);
    VRefPtr<VFile> file(new VFile(VString(ZORN_UPDATER_XLIFF), FPS_POSIX), true);
    EXPECT_EQ(manager->LoadFile(file.Get()), VE_OK);
    for (int number : {1, 2, 3, 4, 8, 11, 12, 13, 14, 41, 100, 101, 120})
    {
        const std::string key = "ERR_UPZq_" + std::to_string(number);
        EXPECT_NE(Lookup(*manager, key.c_str()), "<none>") << key;
    }
    EXPECT_EQ(Lookup(*manager, "MoreInformationsAvailableInLogFile"),
              "More information is available in the log file '{LogFilePath}'");

    VErrorBase::RegisterLocalizer(kCOMPONENT_UPDATER, manager.Get());
    VRefPtr<VErrorBase> error(new VErrorBase(MakeVError(kCOMPONENT_UPDATER, 13)), true);
    error->SetString(VString("from"), VString("/tmp/New.app"));
    error->SetString(VString("to"), VString("/Applications/App.app"));
    VString description;
    error->GetErrorDescription(description);
    VErrorBase::RegisterLocalizer(kCOMPONENT_UPDATER, nullptr);
    EXPECT_EQ(Utf8(description),
              "The updated application could not be copied from '/tmp/New.app' to '/Applications/App.app'.");
}

} // namespace
