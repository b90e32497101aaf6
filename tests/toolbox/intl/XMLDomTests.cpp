#include "tests/toolbox/intl/XMLTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VURL.h"
#include "toolbox/intl/IXMLDomWrapper.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOM.hpp>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

namespace xml = XERCES_CPP_NAMESPACE;

class XMLDom : public XMLTest
{
protected:
    void TearDown() override
    {
        for (VXMLDOMDocument_opaque* document : fDocuments)
        {
            IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::FromDocument(document));
        }
        XMLTest::TearDown();
    }
    // A document from the text, released at the end of the test.
    VXMLDOMDocument_opaque* Load(const std::string& inText)
    {
        VXMLDOMDocument_opaque* document =
            IXMLDomWrapper::CreateNodeDocumentFromBuffer(inText.data(), inText.size(), nullptr);
        if (document != nullptr)
        {
            fDocuments.push_back(document);
        }
        return document;
    }
    VXMLDOMElement_opaque* Root(VXMLDOMDocument_opaque* inDocument)
    {
        return IXMLDomWrapper::GetRootNodeElement(IXMLDomWrapper::FromDocument(inDocument));
    }
    static std::string Serialize(VXMLDOMNode_opaque* inNode, bool inPretty)
    {
        VBlobWithPtr blob;
        size_t size = 0;
        EXPECT_TRUE(IXMLDomWrapper::SerializeToBlob(inNode, &blob, 0, size, inPretty));
        return std::string(static_cast<const char*>(blob.GetDataPtr()), size);
    }

    std::vector<VXMLDOMDocument_opaque*> fDocuments;
};

std::string StringOf(const VValueBag& inBag, const char* inName)
{
    VString value;
    return inBag.GetString(VValueBag::StKey(inName), value) ? to_string(value) : "<none>";
}

// A bag written into a DOM element, serialized, loaded again and read back is the same bag (every
// value read back as text, as XML gives it).
TEST_F(XMLDom, BagRoundTripsThroughTheDOM)
{
    VValueBag bag;
    bag.SetString(VValueBag::StKey("s"), VString("a<b & \"c\""));
    bag.SetLong(VValueBag::StKey("n"), 42);
    bag.SetBool(VValueBag::StKey("b"), true);
    bag.AppendToCData(VString("text & more"));
    for (const char* k : {"1", "2"})
    {
        auto* item = new VValueBag;
        item->SetString(VValueBag::StKey("k"), VString(k));
        auto* leaf = new VValueBag;
        leaf->SetString(VValueBag::StKey("deep"), VString(k));
        item->AddElement(VValueBag::StKey("leaf"), leaf);
        leaf->Release();
        bag.AddElement(VValueBag::StKey("item"), item);
        item->Release();
    }

    VXMLDOMDocument_opaque* document = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><root/>");
    ASSERT_NE(document, nullptr);
    std::vector<VXMLDOMNode_opaque*> created;
    EXPECT_EQ(WriteBagToDomXML(bag, IXMLDomWrapper::GetNodeFromNodeElement(Root(document)), &created), VE_OK);
    EXPECT_EQ(created.size(), 4u);

    std::string text = Serialize(IXMLDomWrapper::FromDocument(document), false);
    VXMLDOMDocument_opaque* again = Load(text);
    ASSERT_NE(again, nullptr) << text;
    VValueBag read;
    EXPECT_EQ(ReadBagFromDomXML(IXMLDomWrapper::GetNodeFromNodeElement(Root(again)), read), VE_OK);
    EXPECT_EQ(StringOf(read, "s"), "a<b & \"c\"");
    EXPECT_EQ(StringOf(read, "n"), "42");
    EXPECT_EQ(StringOf(read, "b"), "true");
    EXPECT_EQ(StringOf(read, "<>"), "text & more");
    VBagArray* items = read.GetElements(VValueBag::StKey("item"));
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(items->GetCount(), 2);
    EXPECT_EQ(StringOf(*items->GetNth(2), "k"), "2");
    VBagArray* leaves = items->GetNth(2)->GetElements(VValueBag::StKey("leaf"));
    ASSERT_NE(leaves, nullptr);
    EXPECT_EQ(StringOf(*leaves->GetNth(1), "deep"), "2");

    // The DOM forms want an element node.
    VValueBag ignored;
    EXPECT_EQ(WriteBagToDomXML(bag, IXMLDomWrapper::FromDocument(document), nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(ReadBagFromDomXML(IXMLDomWrapper::FromDocument(document), ignored), VE_XML_ERROR);
}

// Serialized documents end their lines with CR and carry no byte-order mark.
TEST_F(XMLDom, SerializedLinesEndWithCarriageReturns)
{
    VXMLDOMDocument_opaque* document = Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><a>x</a><b/></r>");
    ASSERT_NE(document, nullptr);
    std::string text = Serialize(IXMLDomWrapper::FromDocument(document), true);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.find("\r  <a>x</a>\r"), std::string::npos) << text;
}

// Attributes: prefixed names resolve to their namespace ("xml" without a declaration), IDs
// registered with or without a prefix are found, an empty value can remove an attribute.
TEST_F(XMLDom, AttributesNamespacesAndIDs)
{
    VXMLDOMDocument_opaque* document = Load("<r xmlns:x=\"urn:x\"><a id=\"one\"/><b x:id=\"two\"/><c/></r>");
    ASSERT_NE(document, nullptr);
    VXMLDOMNode_opaque* root = IXMLDomWrapper::GetNodeFromNodeElement(Root(document));
    IXMLDomWrapper::RegisterNodeIDs(root);
    VString name;
    IXMLDomWrapper::GetNodeElementName(IXMLDomWrapper::FindNodeElementByID(root, VString("one")), name);
    EXPECT_EQ(to_string(name), "a");
    IXMLDomWrapper::GetNodeElementName(IXMLDomWrapper::FindNodeElementByID(root, VString("two")), name);
    EXPECT_EQ(to_string(name), "b");

    VXMLDOMElement_opaque* c = IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(root, 2));
    ASSERT_NE(c, nullptr);
    bool isID = true;
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(c, VString("xml:lang"), VString("fr"), false, &isID));
    EXPECT_FALSE(isID);
    const XMLCh* lang = reinterpret_cast<xml::DOMElement*>(c)->getAttributeNS(
        u"http://www.w3.org/XML/1998/namespace", u"lang");
    EXPECT_EQ(to_string(VString(reinterpret_cast<const UniChar*>(lang))), "fr");

    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(c, VString("id"), VString("three"), false, &isID));
    EXPECT_TRUE(isID);
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(root, VString("three")), c);
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(c, VString("id"), VString(), true, &isID));
    EXPECT_FALSE(isID);
    VString value;
    EXPECT_FALSE(IXMLDomWrapper::GetNodeElementAttribute(c, VString("id"), value));
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementAttribute(c, VString("xml:lang"), value));
    EXPECT_EQ(to_string(value), "fr");
}

// Element values of each kind are written as text and read back.
TEST_F(XMLDom, ElementValues)
{
    VXMLDOMDocument_opaque* document = Load("<r/>");
    ASSERT_NE(document, nullptr);
    VXMLDOMElement_opaque* root = Root(document);
    EXPECT_EQ(IXMLDomWrapper::GetNodeElementValueLong(IXMLDomWrapper::AddNodeElement(root, VString("i"), 7)),
              7);
    EXPECT_TRUE(
        IXMLDomWrapper::GetNodeElementValueBoolean(IXMLDomWrapper::AddNodeElement(root, VString("b"), true)));
    EXPECT_EQ(
        IXMLDomWrapper::GetNodeElementValueReal(IXMLDomWrapper::AddNodeElement(root, VString("d"), 2.5)),
        2.5);
    VXMLDOMElement_opaque* s = IXMLDomWrapper::AddNodeElement(root, VString("s"), VString("first"));
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementValue(s, VString("second")));
    EXPECT_EQ(to_string(IXMLDomWrapper::GetNodeElementValueString(s)), "second");
    EXPECT_EQ(IXMLDomWrapper::GetNumberOfChildrenNodes(IXMLDomWrapper::GetNodeFromNodeElement(s)), 1);
    // An element without a text first child reads as empty.
    EXPECT_EQ(to_string(IXMLDomWrapper::GetNodeElementValueString(root)), "");
}

// A copy keeps the document's URI; a document written to a file replaces what was there.
TEST_F(XMLDom, CopiesAndFiles)
{
    const std::string text = "<r><a>x</a></r>";
    VString uri("file:///tmp/some%20where/doc.xml");
    VXMLDOMDocument_opaque* document =
        IXMLDomWrapper::CreateNodeDocumentFromBuffer(text.data(), text.size(), &uri);
    ASSERT_NE(document, nullptr);
    fDocuments.push_back(document);
    VXMLDOMDocument_opaque* copy = IXMLDomWrapper::CloneNodeDocument(IXMLDomWrapper::FromDocument(document));
    ASSERT_NE(copy, nullptr);
    fDocuments.push_back(copy);
    VURL url;
    EXPECT_TRUE(IXMLDomWrapper::GetDocumentURL(IXMLDomWrapper::FromDocument(copy), url));
    VString absolute;
    url.GetAbsoluteURL(absolute, true);
    EXPECT_EQ(to_string(absolute), "file:///tmp/some%20where/doc.xml");

    char folder[] = "/tmp/zorn-dom-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    std::string name = std::string(folder) + "/out.xml";
    std::ofstream(name) << "an older and longer content than the document";
    VFile file(VString(name.c_str()), FPS_POSIX);
    EXPECT_TRUE(IXMLDomWrapper::WriteToFile(IXMLDomWrapper::FromDocument(copy), file, true));
    std::ifstream in(name, std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, Serialize(IXMLDomWrapper::FromDocument(document), true));
    EXPECT_NE(written.find("<a>x</a>\r"), std::string::npos) << written;
    ::unlink(name.c_str());
    ::rmdir(folder);
}

// Walking a node into handlers: a refused child element fails the walk when it is the last
// element child; the walk goes on after it.
TEST_F(XMLDom, ParseWalksIntoHandlers)
{
    struct Case
    {
        const char* what;
        const char* document;
        bool result;
        CallLog calls;
    };
    const Case cases[] = {
        {"attributes, text and children in order",
         "<r a=\"1\">t<c>u</c><?pi data?></r>",
         true,
         {"start r", "attr a=1", "text t", "start c", "text u", "end c", "end r"}},
        {"a refused last child", "<r><c/><no/></r>", false, {"start r", "start c", "end c", "end r"}},
        {"a refused child followed by another",
         "<r><no/><c/></r>",
         true,
         {"start r", "start c", "end c", "end r"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        VXMLDOMDocument_opaque* document = Load(c.document);
        ASSERT_NE(document, nullptr);
        auto log = std::make_shared<CallLog>();
        auto* handler = new RecordingHandler(log, {"no"});
        EXPECT_EQ(IXMLDomWrapper::Parse(IXMLDomWrapper::FromDocument(document), handler), c.result);
        EXPECT_EQ(*log, c.calls);
        handler->Release();
    }
}

} // namespace
