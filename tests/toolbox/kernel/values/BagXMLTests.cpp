// The XML text of value bags: exact output, and every output read back by Xerces-C.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;
namespace xc = xercesc;

namespace
{

using Key = VValueBag::StKey;

VString Units(const std::u16string& inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

// What Xerces reads from a document: its root element's attributes and its text content.
struct Parsed
{
    bool fOk = false;
    std::u16string fText;
    std::vector<std::pair<std::u16string, std::u16string>> fAttributes;
};

Parsed ParseXML(const VString& inDocument)
{
    static const bool sInited = []
    {
        xc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)sInited;
    std::u16string units = Text(inDocument);
    xc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(units.data()), units.size() * 2, "bag");
    source.setEncoding(u"UTF-16LE");
    xc::XercesDOMParser parser;
    xc::HandlerBase handler;
    parser.setErrorHandler(&handler);
    Parsed out;
    try
    {
        parser.parse(source);
    }
    catch (...)
    {
        return out;
    }
    if (parser.getErrorCount() != 0)
    {
        return out;
    }
    xc::DOMElement* root = parser.getDocument()->getDocumentElement();
    out.fOk = root != nullptr;
    if (root != nullptr)
    {
        out.fText = root->getTextContent();
        xc::DOMNamedNodeMap* attributes = root->getAttributes();
        for (XMLSize_t i = 0; i < attributes->getLength(); ++i)
        {
            xc::DOMNode* node = attributes->item(i);
            out.fAttributes.emplace_back(node->getNodeName(), node->getNodeValue());
        }
    }
    return out;
}

struct XMLCase
{
    const char* fWhat;
    std::function<void(VValueBag&)> fFill;
    bool fIndent;
    const char* fExpected;
};

TEST(BagXML, WritesTheExactText)
{
    const XMLCase cases[] = {
        {"one attribute self-closes", [](VValueBag& b) { b.SetLong(Key("n"), 42); }, false, "<e n=\"42\"/>"},
        {"markers and escaping in attributes",
         [](VValueBag& b)
         {
             b.SetString(Key("____objectunic"), "x");
             b.SetString(Key("s"), "a<\"&'>");
             b.SetString(Key("____property_name_in_jsarray"), "y");
         },
         true, "<e s=\"a&lt;&quot;&amp;&apos;&gt;\"/>"},
        {"character data ]]> is split", [](VValueBag& b) { b.SetString(Key("<>"), "a]]>b"); }, false,
         "<e><![CDATA[a]]>]]<![CDATA[>b]]></e>"},
        {"plain words stay bare", [](VValueBag& b) { b.SetString(Key("<>"), "plain words"); }, true,
         "<e>plain words</e>"},
        {"a line feed among letters gives CDATA", [](VValueBag& b) { b.SetString(Key("<>"), "a\nb"); }, true,
         "<e><![CDATA[a\nb]]></e>"},
        {"spaces and line controls only: spaces alone",
         [](VValueBag& b) { b.SetString(Key("<>"), " \t\n "); }, false, "<e>  </e>"},
        {"empty character data at level 0 closes on its own line",
         [](VValueBag& b) { b.SetString(Key("<>"), ""); }, true, "<e>\n</e>"},
        {"two levels with a list, indented",
         [](VValueBag& b)
         {
             b.SetString(Key("a"), "1");
             Bag child1, child2, grand;
             child1->SetLong(Key("i"), 1);
             grand->SetString(Key("<>"), "t");
             child2->AddElement(Key("g"), grand);
             b.AddElement(Key("c"), child1);
             b.AddElement(Key("c"), child2);
         },
         true, "<e a=\"1\">\n\t<c i=\"1\"/>\n\t<c>\n\t\t<g>t</g>\n\t</c>\n</e>"},
        {"two levels with a list, flat: each child on its own line, no tabs",
         [](VValueBag& b)
         {
             Bag child1, child2;
             child1->SetLong(Key("i"), 1);
             child2->SetLong(Key("i"), 2);
             b.AddElement(Key("c"), child1);
             b.AddElement(Key("c"), child2);
             b.SetString(Key("<>"), "x");
         },
         false, "<e>\n<c i=\"1\"/>\n<c i=\"2\"/>x</e>"},
    };
    for (const XMLCase& c : cases)
    {
        Bag bag;
        c.fFill(*bag);
        VString out("prefix");
        EXPECT_EQ(VE_OK, bag->DumpXML(out, "e", c.fIndent)) << c.fWhat;
        EXPECT_EQ("prefix" + std::string(c.fExpected), Ascii(out)) << c.fWhat;
        out.Remove(1, 6);
        EXPECT_TRUE(ParseXML(out).fOk) << c.fWhat;
    }
}

TEST(BagXML, CharacterDataReadsBackTheSameText)
{
    const char16_t* texts[] = {u"a]]>b",  u"]]>]]>",           u"x]]]>>y",
                               u"<&>\"'", u"line1\r\n\tline2", u"\U0001F600 é"};
    for (const char16_t* text : texts)
    {
        Bag bag;
        bag->SetString(Key("<>"), Units(text));
        VString out;
        ASSERT_EQ(VE_OK, bag->DumpXML(out, "e", false));
        Parsed parsed = ParseXML(out);
        ASSERT_TRUE(parsed.fOk) << Ascii(out);
        // Xerces normalises CR LF to LF in content, as every XML reader must.
        std::u16string expected(text);
        if (auto pos = expected.find(u"\r\n"); pos != std::u16string::npos)
        {
            expected.erase(pos, 1);
        }
        EXPECT_EQ(expected, parsed.fText) << Ascii(out);
    }
}

TEST(BagXML, AttributeLineControlsReadBackUnchanged)
{
    Bag bag;
    bag->SetString(Key("v"), Units(u"a\tb\nc\rd \U0001F600"));
    VString out;
    ASSERT_EQ(VE_OK, bag->DumpXML(out, "e", true));
    EXPECT_EQ("<e v=\"a&#x9;b&#xA;c&#xD;d ", Ascii(out).substr(0, 26));
    Parsed parsed = ParseXML(out);
    ASSERT_TRUE(parsed.fOk);
    ASSERT_EQ(1u, parsed.fAttributes.size());
    EXPECT_EQ(u"a\tb\nc\rd \U0001F600", parsed.fAttributes[0].second);
}

// Errors go to the task's error context, hence the running task manager.
class BagXMLErrors : public TaskManagerTest
{
};

TEST_F(BagXMLErrors, CharactersXMLCannotCarry)
{
    const char16_t refused[] = {0x0, 0x1, 0x8, 0xB, 0xC, 0xE, 0x1F, 0xFFFE, 0xFFFF, 0xD800, 0xDC00};
    for (char16_t unit : refused)
    {
        std::u16string text = u"a";
        text += unit;
        text += u"b";
        // In an attribute: refused, with the error, and nothing appended.
        {
            Bag bag;
            Bag child;
            child->SetString(Key("v"), Units(text));
            bag->AddElement(Key("c"), child);
            StErrorContextInstaller errors;
            VString out("keep");
            EXPECT_EQ(VE_BAG_XML_INVALID_ATTRIBUTE_CHAR, bag->DumpXML(out, "e", true)) << int(unit);
            EXPECT_EQ("keep", Ascii(out));
            EXPECT_EQ(VE_BAG_XML_INVALID_ATTRIBUTE_CHAR, errors.GetLastError());
        }
        // In character data: dropped.
        {
            Bag bag;
            bag->SetString(Key("<>"), Units(text));
            VString out;
            EXPECT_EQ(VE_OK, bag->DumpXML(out, "e", false));
            EXPECT_EQ("<e>ab</e>", Ascii(out)) << int(unit);
            text += u"&";
            bag->SetString(Key("<>"), Units(text));
            out.Clear();
            EXPECT_EQ(VE_OK, bag->DumpXML(out, "e", false));
            EXPECT_EQ("<e><![CDATA[ab&]]></e>", Ascii(out)) << int(unit);
        }
    }
    // Dropping a character never joins "]]" and ">" into a section end.
    Bag bag;
    bag->SetString(Key("<>"), Units(u"]]\x01>&"));
    VString out;
    bag->DumpXML(out, "e", false);
    Parsed parsed = ParseXML(out);
    ASSERT_TRUE(parsed.fOk) << Ascii(out);
    EXPECT_EQ(u"]]>&", parsed.fText);
}

TEST(BagXML, IndentationStopsAtOneHundredTabs)
{
    for (auto [level, tabs] : {std::pair{0, 0}, {-3, 0}, {7, 7}, {100, 100}, {150, 100}})
    {
        VString out;
        VValueBag::DumpXMLIndentation(out, level);
        EXPECT_EQ(std::string(static_cast<size_t>(tabs), '\t'), Ascii(out)) << level;
    }
}

TEST(BagXML, NeedsEscapeSequence)
{
    const UniChar list[] = {'&'};
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString(""), list, list + 1));
    EXPECT_TRUE(VValueBag::NeedsEscapeSequence(VString("a&b"), list, list + 1));
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString("a b"), nullptr, nullptr));
    EXPECT_FALSE(VValueBag::NeedsEscapeSequence(VString(" \t\n"), nullptr, nullptr));
    EXPECT_TRUE(VValueBag::NeedsEscapeSequence(VString("a\tb"), list, list));
}

// The typed value of an attribute text: its kind, and its text (a real: its number).
TEST(BagXML, ParseXMLValue)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const std::u16string longNumber = u"0." + std::u16string(200, u'0') + u"1";
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        ValueKind fKind;
        std::u16string fShown; // GetString, for every kind but VReal
        double fReal = 0;
    };
    const Row rows[] = {
        {"small integer", u"42", VK_LONG, u"42"},
        {"spaces around are ignored", u" 42 ", VK_LONG, u"42"},
        {"integer of 2^31 and more", u"3000000000", VK_LONG8, u"3000000000"},
        {"-2^31 + 1 is a VLong", u"-2147483647", VK_LONG, u"-2147483647"},
        {"-2^31 is not below 2^31 in magnitude", u"-2147483648", VK_LONG8, u"-2147483648"},
        {"-2^63", u"-9223372036854775808", VK_LONG8, u"-9223372036854775808"},
        {"2^63 overflows: text", u"9223372036854775808", VK_STRING, u"9223372036854775808"},
        {"exponent", u"1.5e3", VK_REAL, u"", 1500},
        {"minus signs U+2212 before the number and the exponent", u"\u22122.5E\u22122", VK_REAL, u"", -0.025},
        {"a '.' without decimals", u"7.", VK_REAL, u"", 7},
        {"out of range: text", u"1e999", VK_STRING, u"1e999"},
        {"exponent without digits: text", u"1e", VK_STRING, u"1e"},
        {"two points: text", u"1.5.2", VK_STRING, u"1.5.2"},
        {"longer than 199 units: text", longNumber, VK_STRING, longNumber},
        {"true", u"true", VK_BOOLEAN, u"true"},
        {"false", u"false", VK_BOOLEAN, u"false"},
        {"True is text", u"True", VK_STRING, u"True"},
        {"a signed word is text", u"-true", VK_STRING, u"-true"},
        {"INF", u"INF", VK_REAL, u"", kInf},
        {"-INF", u"-INF", VK_REAL, u"", -kInf},
        {"U+2212 INF", u"\u2212INF", VK_REAL, u"", -kInf},
        {"+INF is text", u"+INF", VK_STRING, u"+INF"},
        {"-NaN is text", u"-NaN", VK_STRING, u"-NaN"},
        {"UUID starting with a digit", u"0123456789abcdef0123456789ABCDEF", VK_UUID,
         u"0123456789ABCDEF0123456789ABCDEF"},
        {"UUID starting with 'a', dashed, in braces", u"{a1234567-89ab-cdef-0123-456789abcdef}", VK_UUID,
         u"A123456789ABCDEF0123456789ABCDEF"},
        {"UUID starting with 'f'", u"f1234567\u221289ab-cdef-0123-456789abcdef", VK_UUID,
         u"F123456789ABCDEF0123456789ABCDEF"},
        {"UUID with two dashes in a row: text", u"a1234567--89abcdef0123456789abcdef", VK_STRING,
         u"a1234567--89abcdef0123456789abcdef"},
        {"UUID with a '{' and no '}': text", u"{a123456789abcdef0123456789abcdef", VK_STRING,
         u"{a123456789abcdef0123456789abcdef"},
        {"33 digits: text", u"a123456789abcdef0123456789abcdef0", VK_STRING,
         u"a123456789abcdef0123456789abcdef0"},
        {"signed UUID: text", u"-a123456789abcdef0123456789abcdef", VK_STRING,
         u"-a123456789abcdef0123456789abcdef"},
        {"plain word keeps its spaces", u" hello ", VK_STRING, u" hello "},
        {"empty", u"", VK_STRING, u""},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValueSingle> value(VValueBag::ParseXMLValue(Units(row.fText)));
        ASSERT_NE(nullptr, value) << row.fWhat;
        EXPECT_EQ(row.fKind, value->GetValueKind()) << row.fWhat;
        if (row.fKind == VK_REAL)
        {
            EXPECT_EQ(row.fReal, value->GetReal()) << row.fWhat;
            continue;
        }
        VString shown;
        value->GetString(shown);
        EXPECT_EQ(row.fShown, Text(shown)) << row.fWhat;
    }

    std::unique_ptr<VValueSingle> nan(VValueBag::ParseXMLValue(Units(u"NaN")));
    ASSERT_EQ(VK_REAL, nan->GetValueKind());
    EXPECT_TRUE(std::isnan(nan->GetReal()));
    std::unique_ptr<VValueSingle> zero(
        VValueBag::ParseXMLValue(Units(u"00000000-0000-0000-0000-000000000000")));
    ASSERT_EQ(VK_UUID, zero->GetValueKind());
    EXPECT_TRUE(zero->IsNull()) << "all zero is the null UUID";
}

} // namespace
