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

#include <functional>
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

} // namespace
