#include "tests/toolbox/intl/XMLTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

using namespace zorn;
using namespace zorn::test;

namespace
{

class ValueBagXML : public XMLTest
{
};

std::string StringOf(const VValueBag& inBag, const char* inName)
{
    VString value;
    return inBag.GetString(VValueBag::StKey(inName), value) ? to_string(value) : "<none>";
}

TEST_F(ValueBagXML, LoadsAttributesChildrenAndText)
{
    VValueBag bag;
    const char* document = "<r a=\"x&lt;y\" n=\"5\"><item k=\"1\"/><item k=\"2\">t<![CDATA[u]]>v</item>"
                           "<other/></r>";
    EXPECT_EQ(LoadBagFromXML(VString(document), VString("r"), bag, 0), VE_OK);
    EXPECT_EQ(StringOf(bag, "a"), "x<y");
    // Every value reads back as a string.
    EXPECT_EQ(StringOf(bag, "n"), "5");
    VBagArray* items = bag.GetElements(VValueBag::StKey("item"));
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(items->GetCount(), 2);
    EXPECT_EQ(StringOf(*items->GetNth(1), "k"), "1");
    EXPECT_EQ(StringOf(*items->GetNth(2), "k"), "2");
    // The chunks of text join in the CDATA attribute.
    EXPECT_EQ(StringOf(*items->GetNth(2), "<>"), "tuv");
    ASSERT_NE(bag.GetElements(VValueBag::StKey("other")), nullptr);
}

TEST_F(ValueBagXML, RootNameDecidesWhatIsLoaded)
{
    struct Case
    {
        const char* what;
        const char* expected;
        bool filled;
    };
    const Case cases[] = {
        {"the expected name", "r", true},
        {"another name: empty bag, no error", "s", false},
        {"no name: any root", "", true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        VValueBag bag;
        EXPECT_EQ(LoadBagFromXML(VString("<r a=\"1\"><c/></r>"), VString(c.expected), bag, 0), VE_OK);
        EXPECT_EQ(!bag.IsEmpty(), c.filled);
        EXPECT_EQ(StringOf(bag, "a"), c.filled ? "1" : "<none>");
    }
}

// Depth: 1,000 levels load (and free); 100,000 are refused; a tree of 100,000 levels built in
// memory frees without recursing.
TEST_F(ValueBagXML, DeepTreesLoadOrAreRefusedAndFree)
{
    auto nested = [](int inDepth)
    {
        std::string text;
        for (int i = 0; i < inDepth; ++i)
        {
            text += "<e>";
        }
        for (int i = 0; i < inDepth; ++i)
        {
            text += "</e>";
        }
        return text;
    };
    {
        VValueBag bag;
        EXPECT_EQ(LoadBagFromXML(VString(nested(1000).c_str()), VString(), bag, 0), VE_OK);
        int depth = 1;
        for (VValueBag* at = &bag; at->GetElements(VValueBag::StKey("e")) != nullptr; ++depth)
        {
            at = at->GetElements(VValueBag::StKey("e"))->GetNth(1);
        }
        EXPECT_EQ(depth, 1000);
    }
    {
        VValueBag bag;
        EXPECT_EQ(LoadBagFromXML(VString(nested(100000).c_str()), VString(), bag, 0), VE_XML_FATAL_ERROR);
    }
    auto* root = new VValueBag;
    VValueBag* at = root;
    for (int i = 0; i < 100000; ++i)
    {
        auto* child = new VValueBag;
        at->AddElement(VValueBag::StKey("e"), child);
        child->Release();
        at = child;
    }
    root->Release();
}

// Text in 100,000 chunks (one per CDATA section) is gathered whole, once.
TEST_F(ValueBagXML, TextInManyChunksJoinsOnce)
{
    std::string document = "<r>";
    for (int i = 0; i < 100000; ++i)
    {
        document += "<![CDATA[ab]]>";
    }
    document += "<c>x</c>tail</r>";
    VValueBag bag;
    EXPECT_EQ(LoadBagFromXML(VString(document.c_str()), VString(), bag, 0), VE_OK);
    std::string text = StringOf(bag, "<>");
    EXPECT_EQ(text.size(), 200004u);
    EXPECT_EQ(text.substr(text.size() - 6), "abtail");
    EXPECT_EQ(StringOf(*bag.GetElements(VValueBag::StKey("c"))->GetNth(1), "<>"), "x");
}

TEST_F(ValueBagXML, LoadReturnsTheParseError)
{
    VValueBag bag;
    EXPECT_EQ(LoadBagFromXML(VString("<r><x></r>"), VString(), bag, 0), VE_XML_FATAL_ERROR);
}

// The stream form: version word 1, then the XML as a string.
TEST_F(ValueBagXML, StreamFormReadsVersionOneAndRefusesOthers)
{
    auto streamWith = [](int32_t inVersion, const char* inXML)
    {
        auto stream = std::make_unique<VPtrStream>();
        stream->OpenWriting();
        stream->PutLongs(&inVersion, 1);
        VString(inXML).WriteToStream(stream.get());
        stream->CloseWriting();
        stream->OpenReading();
        return stream;
    };
    const char* xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><bag a=\"1\"><c b=\"2\"/></bag>";

    VValueBag bag;
    auto good = streamWith(1, xml);
    EXPECT_EQ(ReadBagFromStreamInXML(bag, good.get()), VE_OK);
    EXPECT_EQ(StringOf(bag, "a"), "1");
    ASSERT_NE(bag.GetElements(VValueBag::StKey("c")), nullptr);

    VValueBag untouched;
    untouched.SetString(VValueBag::StKey("keep"), VString("me"));
    StErrorContextInstaller errors(false, true);
    auto later = streamWith(2, xml);
    EXPECT_EQ(ReadBagFromStreamInXML(untouched, later.get()), VE_STREAM_BAD_SIGNATURE);
    EXPECT_EQ(StringOf(untouched, "keep"), "me");
    EXPECT_EQ(StringOf(untouched, "a"), "<none>");
}

TEST_F(ValueBagXML, WritingToNoFileWritesNothing)
{
    VValueBag bag;
    EXPECT_EQ(WriteBagToFileInXML(bag, VString("r"), nullptr, false), VE_OK);
}

// The file form byte for byte: declaration without a line end, UTF-8 without a mark, LF only, no
// final line feed; a tab before each child when indented.
TEST_F(ValueBagXML, FileFormByteForByte)
{
    char folder[] = "/tmp/zorn-bagxml-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/bag.xml";
    VRefPtr<VFile> file(new VFile(VString(path.c_str()), FPS_POSIX), true);
    auto written = [&](const VValueBag& inBag, const char* inName, bool inIndent)
    {
        EXPECT_EQ(WriteBagToFileInXML(inBag, VString(inName), file.Get(), inIndent), VE_OK);
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

    VValueBag root;
    root.SetString(VValueBag::StKey("a"), VString("x<y"));
    root.SetLong(VValueBag::StKey("n"), 5);
    EXPECT_EQ(written(root, "r", false), declaration + "<r a=\"x&lt;y\" n=\"5\"/>") << "attributes only";

    for (const char* name : {"c1", "c2"})
    {
        VValueBag* child = new VValueBag;
        child->SetString(VValueBag::StKey("k"), VString(name));
        root.AddElement(VValueBag::StKey("c"), child);
        child->Release();
    }
    EXPECT_EQ(written(root, "r", false),
              declaration + "<r a=\"x&lt;y\" n=\"5\">\n<c k=\"c1\"/>\n<c k=\"c2\"/></r>")
        << "two children, no indentation";
    EXPECT_EQ(written(root, "r", true),
              declaration + "<r a=\"x&lt;y\" n=\"5\">\n\t<c k=\"c1\"/>\n\t<c k=\"c2\"/>\n</r>")
        << "indented";

    VValueBag link;
    link.SetString(VValueBag::StKey("name"), VString("App é"));
    link.SetString(VValueBag::StKey("path"), VString("/opt/a&b"));
    EXPECT_EQ(written(link, "database_shortcut", false),
              declaration + "<database_shortcut name=\"App \xC3\xA9\" path=\"/opt/a&amp;b\"/>")
        << "the link file's shape";
    std::remove(path.c_str());
    ::rmdir(folder);
}

// What the stream writer puts is what the stream reader takes.
TEST_F(ValueBagXML, StreamFormRoundTrip)
{
    VValueBag bag;
    bag.SetString(VValueBag::StKey("a"), VString("1 < 2"));
    VValueBag* child = new VValueBag;
    child->SetLong(VValueBag::StKey("b"), 2);
    bag.AddElement(VValueBag::StKey("c"), child);
    child->Release();

    VPtrStream stream;
    stream.OpenWriting();
    ASSERT_EQ(WriteBagToStreamInXML(bag, &stream), VE_OK);
    stream.CloseWriting();
    stream.OpenReading();
    VValueBag back;
    ASSERT_EQ(ReadBagFromStreamInXML(back, &stream), VE_OK);
    EXPECT_EQ(StringOf(back, "a"), "1 < 2");
    const VBagArray* children = back.GetElements(VValueBag::StKey("c"));
    ASSERT_NE(children, nullptr);
    EXPECT_EQ(StringOf(*children->GetNth(1), "b"), "2");
}

} // namespace
