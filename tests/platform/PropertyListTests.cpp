#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn::platform;
using namespace std::string_literals;

namespace
{

std::string Wrap(const std::string& inBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           inBody + "\n</plist>\n";
}

TEST(PropertyList, ReadsATypicalInfoPlist)
{
    std::string xml = Wrap(R"(<dict>
    <key>CFBundleName</key>
    <string>Updater</string>
    <!-- a comment between entries -->
    <key>CFBundleShortVersionString</key>
    <string>  2.0 build 12.345 </string>
    <key>MemoryAllocator</key><string>ZORN</string>
    <key>LSUIElement</key><true/>
    <key>NSHighResolutionCapable</key><false></false>
    <key>Count</key><integer> -42 </integer>
    <key>Ratio</key><real>2.5e3</real>
    <key>Built</key><date>2024-01-02T03:04:05Z</date>
    <key>Blob</key><data>
        AAEC
        Aw==
    </data>
    <key>CFBundleLocalizations</key>
    <array><string>en</string><string>fr</string></array>
    <key>UTExportedTypeDeclarations</key>
    <array><dict><key>UTTypeIdentifier</key><string>com.example.doc</string></dict></array>
    <key>Empty</key><string/>
</dict>)");
    PlistValue root;
    std::string error;
    ASSERT_TRUE(ParsePropertyList(xml, root, &error)) << error;
    ASSERT_EQ(root.GetType(), PlistValue::Type::Dict);
    EXPECT_EQ(root.Find("CFBundleName")->GetText(), "Updater");
    EXPECT_EQ(root.Find("CFBundleShortVersionString")->GetText(), "  2.0 build 12.345 ") << "kept exactly";
    EXPECT_EQ(root.Find("MemoryAllocator")->GetText(), "ZORN");
    EXPECT_TRUE(root.Find("LSUIElement")->GetBoolean());
    EXPECT_EQ(root.Find("NSHighResolutionCapable")->GetType(), PlistValue::Type::Boolean);
    EXPECT_FALSE(root.Find("NSHighResolutionCapable")->GetBoolean());
    EXPECT_EQ(root.Find("Count")->GetInteger(), -42);
    EXPECT_DOUBLE_EQ(root.Find("Ratio")->GetReal(), 2500.0);
    EXPECT_EQ(root.Find("Built")->GetType(), PlistValue::Type::Date);
    EXPECT_EQ(root.Find("Built")->GetText(), "2024-01-02T03:04:05Z");
    EXPECT_EQ(root.Find("Blob")->GetText(), "AAECAw==");
    const PlistValue::Array& languages = root.Find("CFBundleLocalizations")->GetArray();
    ASSERT_EQ(languages.size(), 2u);
    EXPECT_EQ(languages[1].GetText(), "fr");
    const PlistValue& declaration = root.Find("UTExportedTypeDeclarations")->GetArray().at(0);
    EXPECT_EQ(declaration.Find("UTTypeIdentifier")->GetText(), "com.example.doc");
    EXPECT_EQ(root.Find("Empty")->GetText(), "");
    EXPECT_EQ(root.Find("Missing"), nullptr);
    EXPECT_EQ(root.GetDict().size(), 12u) << "document order, one entry per key";
    EXPECT_EQ(root.GetDict().front().first, "CFBundleName");
}

TEST(PropertyList, DecodesTextEscapes)
{
    struct Row
    {
        const char* fWhat;
        const char* fXML;
        const char* fText;
    };
    const Row rows[] = {
        {"predefined entities", "<string>&lt;a&gt; &amp; &quot;b&quot; &apos;</string>", "<a> & \"b\" '"},
        {"decimal reference", "<string>&#233;t&#233;</string>", "\xC3\xA9t\xC3\xA9"},
        {"hex reference beyond the BMP", "<string>&#x1F600;</string>", "\xF0\x9F\x98\x80"},
        {"CDATA kept raw", "<string><![CDATA[a <b> &amp;]]></string>", "a <b> &amp;"},
        {"UTF-8 passes through", "<string>\xE2\x82\xAC 5</string>", "\xE2\x82\xAC 5"},
        {"comment inside text", "<string>a<!-- x -->b</string>", "ab"},
    };
    for (const Row& row : rows)
    {
        PlistValue root;
        std::string error;
        ASSERT_TRUE(ParsePropertyList(Wrap(row.fXML), root, &error)) << row.fWhat << ": " << error;
        EXPECT_EQ(root.GetText(), row.fText) << row.fWhat;
    }
}

TEST(PropertyList, RepeatedKeyKeepsTheLastValue)
{
    PlistValue root;
    ASSERT_TRUE(ParsePropertyList(
        Wrap("<dict><key>a</key><string>1</string><key>b</key><true/><key>a</key><string>2</string></dict>"),
        root));
    ASSERT_EQ(root.GetDict().size(), 2u);
    EXPECT_EQ(root.Find("a")->GetText(), "2");
}

TEST(PropertyList, RefusesMalformedInput)
{
    struct Row
    {
        const char* fWhat;
        std::string fXML;
    };
    std::string deep;
    for (int i = 0; i < 300; ++i)
    {
        deep += "<array>";
    }
    for (int i = 0; i < 300; ++i)
    {
        deep += "</array>";
    }
    const Row rows[] = {
        {"empty input", ""},
        {"no plist root", "<?xml version=\"1.0\"?><dict></dict>"},
        {"empty plist", "<plist/>"},
        {"two root values", Wrap("<string>a</string><string>b</string>")},
        {"truncated", Wrap("<dict><key>a</key><string>b</string>").substr(0, 80)},
        {"mismatched end tag", Wrap("<dict><key>a</key><string>b</dict></string>")},
        {"key without value", Wrap("<dict><key>a</key></dict>")},
        {"value without key", Wrap("<dict><string>a</string></dict>")},
        {"key outside dict", Wrap("<key>a</key>")},
        {"unknown element", Wrap("<dict><key>a</key><foo/></dict>")},
        {"element inside string", Wrap("<string>a<b/>c</string>")},
        {"text inside true", Wrap("<true>yes</true>")},
        {"text inside dict", Wrap("<dict>stray</dict>")},
        {"unknown entity", Wrap("<string>&nbsp;</string>")},
        {"unterminated entity", Wrap("<string>&amp</string>")},
        {"reference to NUL", Wrap("<string>&#0;</string>")},
        {"reference to a surrogate", Wrap("<string>&#xD800;</string>")},
        {"reference beyond Unicode", Wrap("<string>&#x110000;</string>")},
        {"integer with letters", Wrap("<integer>12a</integer>")},
        {"integer too large", Wrap("<integer>9223372036854775808</integer>")},
        {"empty integer", Wrap("<integer/>")},
        {"real not a number", Wrap("<real>1,5</real>")},
        {"data with a bad character", Wrap("<data>AA*A</data>")},
        {"invalid UTF-8", Wrap("<string>\xC3\x28</string>")},
        {"overlong UTF-8", Wrap("<string>\xC0\xAF</string>")},
        {"control character", Wrap("<string>a\x01</string>")},
        {"NUL byte", Wrap("<string>a\0b</string>"s)},
        {"other encoding", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><true/></plist>"},
        {"internal DTD subset", "<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><string>&x;</string></plist>"},
        {"unterminated comment", Wrap("<!-- <string>a</string>")},
        {"attribute without value", "<plist version><true/></plist>"},
        {"unquoted attribute", "<plist version=1.0><true/></plist>"},
        {"content after root", Wrap("<true/>") + "<true/>"},
        {"nesting too deep", Wrap(deep)},
    };
    for (const Row& row : rows)
    {
        PlistValue root = PlistValue::MakeString("untouched");
        std::string error;
        EXPECT_FALSE(ParsePropertyList(row.fXML, root, &error)) << row.fWhat;
        EXPECT_FALSE(error.empty()) << row.fWhat;
        EXPECT_EQ(root.GetText(), "untouched") << row.fWhat << ": the result is left alone on failure";
    }
}

TEST(PropertyList, AcceptsByteOrderMarkAndBareDocument)
{
    PlistValue root;
    ASSERT_TRUE(ParsePropertyList("\xEF\xBB\xBF<plist><integer>+7</integer></plist>", root));
    EXPECT_EQ(root.GetInteger(), 7);
    EXPECT_FALSE(ParsePropertyList(std::string(kMaxPropertyListSize + 1, ' '), root)) << "size limit";
}

} // namespace
