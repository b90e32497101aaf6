#include "tests/toolbox/intl/XMLTestSupport.h"
#include "toolbox/files/VFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include <unistd.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

class XMLParser : public XMLTest
{
};

struct HandlerCase
{
    const char* what;
    const char* document;
    uint32_t flags;
    bool ok;
    CallLog calls;
};

// The handler stack: what calls a document produces, in order, and whether the parse succeeds.
TEST_F(XMLParser, HandlerStackCallsInDocumentOrder)
{
    const std::string kDefaulted =
        "<!DOCTYPE r [<!ELEMENT r EMPTY><!ATTLIST r a CDATA #IMPLIED d CDATA \"def\">]><r a=\"1\"/>";
    const HandlerCase cases[] = {
        {"an empty element: start, its attribute, end at once",
         "<e a=\"x\"/>",
         0,
         true,
         {"start e", "attr a=x", "end e"}},
        {"nested elements with text between",
         "<r><c>t</c></r>",
         0,
         true,
         {"start r", "start c", "text t", "end c", "end r"}},
        {"a DTD-defaulted attribute is not passed without flag 16",
         kDefaulted.c_str(),
         0,
         true,
         {"start r", "attr a=1", "end r"}},
        {"a DTD-defaulted attribute is passed with flag 16",
         kDefaulted.c_str(),
         16,
         true,
         {"start r", "attr a=1", "attr d=def", "end r"}},
        {"text in several chunks, CDATA included, one SetText per chunk",
         "<r>a<![CDATA[<b>]]>c&amp;d</r>",
         0,
         true,
         {"start r", "text a", "text <b>", "text c", "text &d", "end r"}},
        {"an ignored subtree gets no calls, its siblings do",
         "<r><skip><x a=\"1\">t</x></skip><y/></r>",
         0,
         true,
         {"start r", "start y", "end y", "end r"}},
        {"an ignored empty element pushes nothing",
         "<r><skip/><y/></r>",
         0,
         true,
         {"start r", "start y", "end y", "end r"}},
        {"the xml-stylesheet pseudo-attributes",
         "<?xml-stylesheet href='a.xsl' type=\"text/xsl\"?><r/>",
         0,
         true,
         {"sheet", "sheet href=a.xsl", "sheet type=text/xsl", "sheet end", "start r", "end r"}},
        {"another processing instruction is ignored",
         "<?other href='a.xsl'?><r/>",
         0,
         true,
         {"start r", "end r"}},
        {"comments are ignored", "<r><!-- c --></r>", 0, true, {"start r", "end r"}},
    };
    for (const HandlerCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto* handler = new RecordingHandler(log, {"skip"});
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        EXPECT_EQ(parser.Parse(c.document, std::strlen(c.document), handler, c.flags), c.ok);
        EXPECT_EQ(*log, c.calls);
        EXPECT_EQ(errors.GetLastError(), VE_OK);
        handler->Release();
    }
}

TEST_F(XMLParser, RootHandlerReturningNullGetsNoCallsAndSucceeds)
{
    auto log = std::make_shared<CallLog>();
    auto* handler = new RecordingHandler(log, {"r"});
    VXMLParser parser;
    EXPECT_TRUE(parser.Parse(VString("<r a=\"1\"><x>t</x></r>"), handler, 0));
    EXPECT_TRUE(log->empty());
    handler->Release();
}

// Flags: validation and schema switches observed through what they make the parser report.
TEST_F(XMLParser, FlagsChooseValidationNamespacesAndSchema)
{
    struct Case
    {
        const char* what;
        const char* document;
        uint32_t flags;
        bool ok;
    };
    const Case cases[] = {
        {"no namespaces: an undeclared prefix is a plain name", "<a:b/>", 0, true},
        {"flag 4: namespaces on, the undeclared prefix is an error", "<a:b/>", 4, false},
        {"flag 32: schema processing forces namespaces on", "<a:b/>", 32, false},
        {"flags 34: neither schema processing nor namespaces", "<a:b/>", 34, true},
        {"flag 32 validates only 'auto': no grammar, no error", "<r/>", 32, true},
        {"flag 1: validation always, no grammar is an error", "<r/>", 1, false},
        {"flag 2: validation never", "<!DOCTYPE r [<!ELEMENT r EMPTY>]><r><x/></r>", 2, true},
        {"no flag: 'auto' validates against an internal DTD", "<!DOCTYPE r [<!ELEMENT r EMPTY>]><r><x/></r>",
         0, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        auto* handler = new VNullXMLHandler;
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        EXPECT_EQ(parser.Parse(VString(c.document), handler, c.flags), c.ok);
        EXPECT_EQ(errors.GetLastError() == VE_OK, c.ok);
        handler->Release();
    }
}

TEST_F(XMLParser, MalformedDocumentGivesFatalErrorWithPosition)
{
    auto* handler = new VNullXMLHandler;
    StErrorContextInstaller errors(false, true);
    VXMLParser parser;
    EXPECT_FALSE(parser.Parse(VString("<r>\n  <x></r>"), handler, 0));
    VErrorBase* error = errors.Find(VE_XML_FATAL_ERROR);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(ErrorNumber(error, "line"), 2);
    EXPECT_GT(ErrorNumber(error, "column"), 0);
    EXPECT_FALSE(ErrorString(error, "message").empty());
    EXPECT_EQ(ErrorString(error, "systemID"), "frommem");
    handler->Release();
}

// The three sources: a string (UTF-16), a memory block, a VFile read by the library from its path.
TEST_F(XMLParser, ParsesStringsBlocksAndFiles)
{
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r t=\"\xc3\xa9\xe2\x82\xac\"/>";
    CallLog expected = {"start r", "attr t=\xc3\xa9\xe2\x82\xac", "end r"};
    VXMLParser parser;

    auto fromBlock = std::make_shared<CallLog>();
    auto* handler = new RecordingHandler(fromBlock);
    EXPECT_TRUE(parser.Parse(document.data(), document.size(), handler, 0));
    handler->Release();
    EXPECT_EQ(*fromBlock, expected);

    // The string's declaration names UTF-8, but its units are UTF-16: the units win.
    auto fromString = std::make_shared<CallLog>();
    handler = new RecordingHandler(fromString);
    EXPECT_TRUE(parser.Parse(VString(document.data(), document.size(), CharSet::VTC_UTF_8), handler, 0));
    handler->Release();
    EXPECT_EQ(*fromString, expected);

    char path[] = "/tmp/zorn-xml-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(path, std::ios::binary) << document;
    auto fromFile = std::make_shared<CallLog>();
    handler = new RecordingHandler(fromFile);
    auto* file = new VFile(VString(path), FPS_POSIX);
    EXPECT_TRUE(parser.Parse(file, handler, 0));
    handler->Release();
    EXPECT_EQ(*fromFile, expected);

    // A file that does not exist is an error, not a crash.
    StErrorContextInstaller errors(false, true);
    ::unlink(path);
    auto* none = new VNullXMLHandler;
    EXPECT_FALSE(parser.Parse(file, none, 0));
    EXPECT_NE(errors.GetLastError(), VE_OK);
    none->Release();
    file->Release();
}

TEST(XMLHandlerStatics, CharacterClasses)
{
    EXPECT_TRUE(IXMLHandler::IsXMLChar(u'a'));
    EXPECT_TRUE(IXMLHandler::IsXMLChar(0x09));
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0x01));
    EXPECT_FALSE(IXMLHandler::IsXMLChar(0xFFFE));
    for (UniChar c : {0x20, 0x09, 0x0A, 0x0C, 0x0D})
    {
        EXPECT_TRUE(IXMLHandler::WCharIsSpace(c)) << c;
    }
    EXPECT_FALSE(IXMLHandler::WCharIsSpace(0xA0));
}

} // namespace
