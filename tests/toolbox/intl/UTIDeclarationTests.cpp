#include "tests/toolbox/intl/UTITestSupport.h"
#include "toolbox/files/VFileKind.h"
#include "toolbox/files/VFileKindManager.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// An Info.plist as bundles carry it: its DOCTYPE names the network DTD, which is not fetched.
std::string Plist(const std::string& inBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n"
           "<key>CFBundleIdentifier</key><string>com.example.app</string>\n" +
           inBody + "</dict></plist>\n";
}

// One declaration dict.
std::string Declaration(const std::string& inIdentifier, const std::string& inMore = "")
{
    return "<dict><key>UTTypeIdentifier</key><string>" + inIdentifier + "</string>" + inMore + "</dict>\n";
}

std::string ConformsTo(std::initializer_list<const char*> inParents)
{
    std::string text = "<key>UTTypeConformsTo</key><array>";
    for (const char* parent : inParents)
    {
        text += std::string("<string>") + parent + "</string>";
    }
    return text + "</array>";
}

std::string Extensions(std::initializer_list<const char*> inExtensions)
{
    std::string text = "<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key><array>";
    for (const char* extension : inExtensions)
    {
        text += std::string("<string>") + extension + "</string>";
    }
    return text + "</array></dict>";
}

std::string Exported(const std::string& inDeclarations)
{
    return "<key>UTExportedTypeDeclarations</key><array>\n" + inDeclarations + "</array>\n";
}

std::string ParentsOf(const VUTI& inType, bool inTemporary)
{
    std::string joined;
    for (const auto& [identifier, parent] : inType.GetParentUTIsMap())
    {
        if (parent->IsTemporary() == inTemporary)
        {
            joined += (joined.empty() ? "" : ",") + Utf8(identifier);
        }
    }
    return joined;
}

class UTIDeclarationTest : public UTITest
{
protected:
    void SetUp() override
    {
        UTITest::SetUp();
        // The system's types have tests of their own (SystemTypesTests.cpp).
        fManager->SetSystemTypesFile(nullptr);
    }

    bool Load(const std::string& inContent)
    {
        const std::string name = "d" + std::to_string(fFiles++) + ".plist";
        WriteBytes(name, inContent);
        return fManager->LoadXMLFile(File(name).Get());
    }

    VUTI& Type(const char* inIdentifier)
    {
        VUTI* type = fManager->GetUTI(VString(inIdentifier));
        EXPECT_NE(type, nullptr) << inIdentifier;
        static VUTI sMissing;
        return type != nullptr ? *type : sMissing;
    }

    std::string All(const VString& inTagClass, const char* inTag)
    {
        auto types = fManager->UTTypeCreateAllIdentifiersForTag(inTagClass, VString(inTag), VString());
        if (!types)
        {
            return "<null>";
        }
        std::string joined;
        for (const VRefPtr<VUTI>& type : *types)
        {
            joined += (joined.empty() ? "" : ",") + Utf8(type->GetIdentifier());
        }
        return joined;
    }

    int fFiles = 0;
};

const VString& kExtension = VUTIManager::GetExtensionTagClass();
const VString& kMIME = VUTIManager::GetMIMETypeTagClass();
const VString& kOSType = VUTIManager::GetOSTypeTagClass();
const VString kOtherClass("public.other-class");

TEST_F(UTIDeclarationTest, ExportedAndImportedDeclarationsAreReadAndLinked)
{
    const std::string exported = Exported(
        // The identifier arrives in two pieces (text, then a CDATA section).
        "<dict><key>UTTypeIdentifier</key><string>com.example.<![CDATA[doc]]></string>"
        "<key>UTTypeDescription</key><string>Example document</string>"
        "<key>UTTypeIconFile</key><string>doc.icns</string>"
        "<key>UTTypeVersion</key><string>2.0</string>" +
        ConformsTo({"com.example.base", "public.data"}) +
        "<key>UTTypeTagSpecification</key><dict>"
        "<key>public.filename-extension</key><array><string>zdoc</string><string>zdc</string></array>"
        "<key>public.mime-type</key><string>application/x-zdoc</string>"
        "<key>com.apple.ostype</key><string>ZDOC</string>"
        // Not a tag class: the string goes to the class before it (OS types).
        "<key>com.example.other</key><string>ZDC2</string>"
        "</dict></dict>\n"
        // A second declaration of one identifier is ignored.
        "<dict><key>UTTypeIdentifier</key><string>com.example.doc</string>"
        "<key>UTTypeDescription</key><string>Second</string></dict>\n"
        // No identifier: dropped. A single-string conformance: ignored.
        "<dict><key>UTTypeDescription</key><string>Anonymous</string></dict>\n" +
        Declaration("com.example.single", "<key>UTTypeConformsTo</key><string>com.example.base</string>"));
    const std::string imported = "<key>UTImportedTypeDeclarations</key><array>\n" +
                                 Declaration("com.example.base", Extensions({"zbase"})) + "</array>\n";
    // Arrays that do not directly follow a declaration key are passed over.
    const std::string ignored = "<key>Other</key><array>" + Declaration("com.example.other-array") +
                                "</array><key>UTExportedTypeDeclarations</key><string>x</string><array>" +
                                Declaration("com.example.not-after-key") + "</array>";
    ASSERT_TRUE(Load(Plist(exported + ignored + imported)));

    EXPECT_EQ(fManager->GetUTICount(), 3U);
    EXPECT_EQ(fManager->GetUTI(VString("com.example.other-array")), nullptr);
    EXPECT_EQ(fManager->GetUTI(VString("com.example.not-after-key")), nullptr);

    VUTI& doc = Type("com.example.doc");
    EXPECT_EQ(Utf8(doc.GetDescription()), "Example document");
    EXPECT_EQ(Joined(doc.GetExtensionsVector()), "zdoc,zdc");
    EXPECT_EQ(Joined(doc.GetMIMETypesVector()), "application/x-zdoc");
    EXPECT_EQ(Joined(doc.GetOSTypesVector()), "ZDOC,ZDC2");
    // The base declared later in the file replaced its placeholder; "public.data" stays one.
    EXPECT_EQ(ParentsOf(doc, false), "com.example.base");
    EXPECT_EQ(ParentsOf(doc, true), "public.data");
    EXPECT_TRUE(Type("com.example.base").GetChildrenUTIsMap().contains(VString("com.example.doc")));
    EXPECT_TRUE(doc.ConformsToIdentifier(VString("COM.example.base"))) << "identifiers ignore case";
    EXPECT_TRUE(Type("com.example.single").GetParentUTIsMap().empty());

    std::vector<VString> extensions;
    doc.GetAllExtensionsVector(extensions);
    EXPECT_EQ(Joined(extensions), "zdoc,zdc,zbase");

    // Each declared type is a private file kind, with its parents.
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(VString("com.example.doc")), true);
    ASSERT_TRUE(kind);
    EXPECT_FALSE(kind->IsPublic());
    EXPECT_TRUE(kind->MatchExtension(VString("zdc")));
    std::vector<VString> parents;
    kind->GetParentIDs(parents);
    EXPECT_EQ(Joined(parents), "com.example.base,public.data");
}

TEST_F(UTIDeclarationTest, TemporaryEntriesAreSkippedInWalks)
{
    ASSERT_TRUE(Load(Plist(
        Exported(Declaration("com.example.leaf", ConformsTo({"com.example.mid", "com.example.gone"})) +
                 Declaration("com.example.mid", ConformsTo({"com.example.top"}) + Extensions({"zmid"})) +
                 Declaration("com.example.top", Extensions({"ztop"}))))));
    VUTI& leaf = Type("com.example.leaf");
    VUTI& top = Type("com.example.top");
    const VUTI gone(VString("com.example.gone"));

    // "com.example.gone" was never declared: its placeholder stays and no walk goes through it.
    EXPECT_FALSE(leaf.ConformsToIdentifier(VString("com.example.gone")));
    EXPECT_TRUE(leaf.ConformsToIdentifier(VString("com.example.top")));
    EXPECT_FALSE(leaf.IsParent(&gone));
    EXPECT_TRUE(leaf.CouldBeAParent(&gone)) << "the first level counts placeholders";
    EXPECT_TRUE(leaf.IsParent(&top));
    EXPECT_TRUE(top.IsChild(&leaf));
    EXPECT_TRUE(top.IsChildOrChildOfAParent(&leaf));

    // The nearest type carrying the tag, walking up.
    VRefPtr<VUTI> holder(leaf.GetHighestParentThatConformsToExtension(VString("ZTOP")), true);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder.Get(), &top);
    EXPECT_FALSE(leaf.ConformsToExtension(VString("zgone")));
    std::vector<VString> extensions;
    leaf.GetAllExtensionsVector(extensions);
    EXPECT_EQ(Joined(extensions), "zmid,ztop");

    leaf.RemoveTemporaryUTI(VString("com.example.gone"));
    leaf.RemoveTemporaryUTI(VString("com.example.mid")) /* not a placeholder: stays */;
    EXPECT_EQ(ParentsOf(leaf, true), "");
    EXPECT_EQ(ParentsOf(leaf, false), "com.example.mid");
}

TEST_F(UTIDeclarationTest, EveryDeclaredConformanceIsLinkedWhateverTheIdentifiersOrder)
{
    // "a-root" sorts first, so the document is linked under it before "b-base" is linked: the
    // document then descends from an ancestor of "b-base" but must still conform to "b-base".
    ASSERT_TRUE(Load(Plist(Exported(
        Declaration("com.example.z-doc", ConformsTo({"com.example.b-base", "com.example.a-root"})) +
        Declaration("com.example.b-base", ConformsTo({"com.example.a-root"}) + Extensions({"zbase"})) +
        Declaration("com.example.a-root")))));
    VUTI& doc = Type("com.example.z-doc");
    EXPECT_TRUE(doc.ConformsToIdentifier(VString("com.example.b-base")));
    EXPECT_TRUE(doc.ConformsToExtension(VString("zbase")));
    EXPECT_EQ(ParentsOf(doc, false), "com.example.a-root,com.example.b-base");
    EXPECT_EQ(ParentsOf(doc, true), "");
}

TEST_F(UTIDeclarationTest, DeclaredLoopsAreNotClosed)
{
    // Each conforms to the other, and one to itself: one link is made, the walks end.
    ASSERT_TRUE(
        Load(Plist(Exported(Declaration("com.example.a", ConformsTo({"com.example.b"}) + Extensions({"za"})) +
                            Declaration("com.example.b", ConformsTo({"com.example.a", "com.example.b"}))))));
    VUTI& a = Type("com.example.a");
    VUTI& b = Type("com.example.b");
    EXPECT_TRUE(b.ConformsToIdentifier(VString("com.example.a")));
    EXPECT_FALSE(a.ConformsToIdentifier(VString("com.example.b")));
    EXPECT_FALSE(a.IsParent(&a));
    EXPECT_FALSE(b.IsParent(&b));
    EXPECT_EQ(Preferred(kExtension, "za"), "com.example.a");
}

TEST_F(UTIDeclarationTest, PreferredIdentifierForATag)
{
    ASSERT_TRUE(Load(Plist(Exported(
        Declaration("com.example.b", Extensions({"zshared", "zprivate"})) +
        Declaration("com.example.a", Extensions({"zshared", "zprivate"}) + ConformsTo({"com.example.base"})) +
        Declaration("public.zshared", Extensions({"zshared"})) + Declaration("com.example.base") +
        // Carries no extension of its own: its lookup finds its parent's.
        Declaration("com.example.child", ConformsTo({"com.example.a"})) +
        Declaration("com.example.mime", "<key>UTTypeTagSpecification</key><dict><key>public.mime-type</key>"
                                        "<string>application/x-zz</string></dict>")))));

    struct Row
    {
        const char* fWhat;
        const VString& fTagClass;
        const char* fTag;
        const char* fConformingTo;
        const char* fPreferred;
    };
    const Row rows[] = {
        {"a public type wins over private ones", kExtension, "zshared", "", "public.zshared"},
        {"tags compare without case", kExtension, "ZSHARED", "", "public.zshared"},
        {"between private ones the first identifier", kExtension, "zprivate", "", "com.example.a"},
        {"conformingTo filters the candidates", kExtension, "zshared", "com.example.base", "com.example.a"},
        {"no candidate conforms", kExtension, "zshared", "com.example.none", "<none>"},
        {"MIME types", kMIME, "application/x-zz", "", "com.example.mime"},
        {"unknown tag", kExtension, "nothing", "", "<none>"},
        {"empty tag", kExtension, "", "", "<none>"},
        {"an OS type no type carries", kOSType, "zshared", "", "<none>"},
        {"another tag class", kOtherClass, "zshared", "", "<none>"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Preferred(row.fTagClass, row.fTag, row.fConformingTo), row.fPreferred) << row.fWhat;
    }

    EXPECT_EQ(All(kExtension, "zshared"), "com.example.a,com.example.b,com.example.child,public.zshared");
    EXPECT_EQ(All(kOtherClass, "zshared"), "") << "an empty vector, not null";
    EXPECT_EQ(All(kExtension, ""), "<null>");
}

TEST_F(UTIDeclarationTest, FileConformanceGoesByExtension)
{
    ASSERT_TRUE(Load(Plist(
        Exported(Declaration("com.example.base") +
                 Declaration("com.example.doc", Extensions({"zdoc"}) + ConformsTo({"com.example.base"}))))));
    WriteBytes("letter.ZDOC", "x");
    WriteBytes("plain", "x");
    struct Row
    {
        const char* fWhat;
        const char* fFile;
        const char* fIdentifier;
        bool fConforms;
    };
    const Row rows[] = {
        {"its own type", "letter.ZDOC", "com.example.doc", true},
        {"its parent", "letter.ZDOC", "com.example.base", true},
        {"another type", "letter.ZDOC", "com.example.other", false},
        {"empty identifier", "letter.ZDOC", "", false},
        {"a file that does not exist", "missing.zdoc", "com.example.doc", false},
        {"no extension", "plain", "com.example.base", false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(fManager->UTTypeConformsTo(File(row.fFile).Get(), VString(row.fIdentifier)), row.fConforms)
            << row.fWhat;
    }
    EXPECT_FALSE(fManager->UTTypeConformsTo(nullptr, VString("com.example.doc")));
}

TEST_F(UTIDeclarationTest, MalformedOrTruncatedFilesLeaveTheRegistryAsItWas)
{
    ASSERT_TRUE(Load(Plist(Exported(Declaration("com.example.base", Extensions({"zbase"}))))));
    const std::string good =
        Plist(Exported(Declaration("com.example.new1", ConformsTo({"com.example.base"})) +
                       Declaration("com.example.new2", Extensions({"znew"}))));
    const size_t secondDeclaration = good.find("<dict><key>UTTypeIdentifier</key><string>com.example.new2");
    ASSERT_NE(secondDeclaration, std::string::npos);

    struct Row
    {
        const char* fWhat;
        std::string fContent;
    };
    const Row rows[] = {
        {"truncated after a whole declaration", good.substr(0, secondDeclaration)},
        {"truncated inside a declaration", good.substr(0, secondDeclaration + 30)},
        {"truncated before the end of the document", good.substr(0, good.size() - 10)},
        {"tags that do not match", Plist(Exported(Declaration("com.example.new1")) + "</array>")},
        {"not XML", "UTExportedTypeDeclarations"},
        {"a raw '<' in a text",
         Plist(Exported(Declaration("com.example.new1") + Declaration("com.example.a<b")))},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(Load(row.fContent)) << row.fWhat;
        EXPECT_NE(errors.GetLastError(), VE_OK) << row.fWhat << ": the parser's error is reported";
        EXPECT_EQ(fManager->GetUTICount(), 1U) << row.fWhat;
        EXPECT_TRUE(Type("com.example.base").GetChildrenUTIsMap().empty()) << row.fWhat;
        VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(VString("com.example.new1")), true);
        EXPECT_FALSE(kind) << row.fWhat << ": no file kind";
    }

    {
        StErrorContextInstaller errors(false);
        EXPECT_FALSE(fManager->LoadXMLFile(File("missing.plist").Get()));
        EXPECT_FALSE(fManager->LoadXMLFile(nullptr));
        EXPECT_EQ(errors.GetLastError(), VE_OK);
    }
    // The whole file still loads afterwards.
    ASSERT_TRUE(Load(good));
    EXPECT_EQ(fManager->GetUTICount(), 3U);
    EXPECT_TRUE(Type("com.example.base").GetChildrenUTIsMap().contains(VString("com.example.new1")));
}

TEST_F(UTIDeclarationTest, AnalyzingReadsWithoutLinkingOrFileKinds)
{
    WriteBytes("a.plist", Plist(Exported(Declaration("com.example.base") +
                                         Declaration("com.example.doc", ConformsTo({"com.example.base"})))));
    EXPECT_FALSE(fManager->AnalyzeXMLFile(File("a.plist").Get()));
    EXPECT_EQ(fManager->GetUTICount(), 2U);
    EXPECT_EQ(ParentsOf(Type("com.example.doc"), true), "com.example.base");
    VRefPtr<VFileKind> kind(VFileKindManager::Get()->RetainFileKind(VString("com.example.doc")), true);
    EXPECT_FALSE(kind);

    fManager->ProcessExtractedUTIs();
    EXPECT_EQ(ParentsOf(Type("com.example.doc"), false), "com.example.base");
}

// A localization manager that knows one strings-file key (no loader fills that table).
class StringsKeyLocalizer : public VLocalizationManager
{
public:
    StringsKeyLocalizer() : VLocalizationManager(1033) {}
    bool LocalizeStringWithDotStringsKey(const VString& inKey, VString& outText) override
    {
        if (!inKey.EqualToUSASCIICString("DocKey"))
        {
            return false;
        }
        outText = VString("Localized document");
        return true;
    }
};

TEST_F(UTIDeclarationTest, FileKindDescriptionsAreLocalized)
{
    VRefPtr<VLocalizationManager> localizer(new StringsKeyLocalizer(), true);
    fManager->SetLocalizationManager(localizer.Get());
    ASSERT_TRUE(Load(Plist(Exported(
        Declaration("com.example.doc", "<key>UTTypeDescription</key><string>DocKey</string>") +
        Declaration("com.example.raw", "<key>UTTypeDescription</key><string>Untranslated</string>")))));
    fManager->SetLocalizationManager(nullptr);

    VRefPtr<VFileKind> doc(VFileKindManager::Get()->RetainFileKind(VString("com.example.doc")), true);
    VRefPtr<VFileKind> raw(VFileKindManager::Get()->RetainFileKind(VString("com.example.raw")), true);
    ASSERT_TRUE(doc && raw);
    EXPECT_EQ(Utf8(doc->GetDescription()), "Localized document");
    EXPECT_EQ(Utf8(raw->GetDescription()), "Untranslated");
    EXPECT_EQ(Utf8(Type("com.example.doc").GetDescription()), "DocKey") << "the type keeps its key";
}

} // namespace
