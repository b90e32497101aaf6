#include "tests/toolbox/intl/XMLTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/IXMLDomWrapper.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/intl/VXMLSecurity.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

std::string Repeat(const std::string& inText, size_t inCount)
{
    std::string out;
    out.reserve(inText.size() * inCount);
    for (size_t i = 0; i < inCount; ++i)
    {
        out += inText;
    }
    return out;
}

// One 40,000-character entity, used 8,000 times in the body (content or an attribute).
std::string LongEntity(bool inInAttribute)
{
    std::string head = "<!DOCTYPE r [<!ENTITY e \"" + std::string(40000, 'x') + "\">]>\n";
    std::string uses = Repeat("&e;", 8000);
    return head + (inInAttribute ? "<r a=\"" + uses + "\"/>" : "<r>" + uses + "</r>");
}

// The same entity used 8,000 times in a default attribute value of the document type.
std::string LongEntityInDefault()
{
    return "<!DOCTYPE r [<!ENTITY e \"" + std::string(40000, 'x') + "\">\n<!ATTLIST r a CDATA \"" +
           Repeat("&e;", 8000) + "\">]><r/>";
}

// Ten levels of parameter entities, each ten references to the one below.
std::string ParameterEntityBomb()
{
    std::string document = "<!DOCTYPE r [\n<!ENTITY % p0 \"<!ENTITY x 'y'>\">\n";
    for (int i = 1; i <= 8; ++i)
    {
        document += "<!ENTITY % p" + std::to_string(i) + " \"" +
                    Repeat("%p" + std::to_string(i - 1) + ";", 10) + "\">\n";
    }
    return document + "%p8;]><r/>";
}

std::string BillionLaughs()
{
    std::string document = "<!DOCTYPE r [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i)
    {
        document +=
            "<!ENTITY l" + std::to_string(i) + " \"" + Repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    }
    return document + "]><r>&l10;</r>";
}

// inDepth nested elements, one a line, with a namespace declared at the top.
std::string Nested(size_t inDepth)
{
    return "<r xmlns=\"urn:x\">\n" + Repeat("<e>\n", inDepth) + Repeat("</e>", inDepth) + "</r>";
}

// A temporary tree: TMP/ents/ is the entities folder (holding ok.ent, in.dtd and sub/deep.ent);
// TMP/secret and TMP/outside.dtd lie beside it, outside; TMP/ents/link points at TMP/secret.
class XMLHostile : public XMLTest
{
protected:
    void SetUp() override
    {
        XMLTest::SetUp();
        char folder[] = "/tmp/zorn-xml-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        fRoot = folder;
        ASSERT_EQ(std::system(("mkdir -p " + fRoot + "/ents/sub").c_str()), 0);
        Write("ents/ok.ent", "inside");
        Write("ents/sub/deep.ent", "deeper");
        Write("ents/in.dtd", "<!ELEMENT r EMPTY><!ATTLIST r d CDATA \"from-inside\">");
        Write("secret", "SECRET");
        Write("b", "SECRET");
        Write("outside.dtd", "<!ELEMENT r EMPTY><!ATTLIST r d CDATA \"from-outside\">");
        ASSERT_EQ(::symlink((fRoot + "/secret").c_str(), (fRoot + "/ents/link").c_str()), 0);
        fFolder = new VFolder(VString((fRoot + "/ents/").c_str()), FPS_POSIX);
    }
    void TearDown() override
    {
        fFolder->Release();
        ASSERT_EQ(std::system(("rm -rf " + fRoot).c_str()), 0);
        XMLTest::TearDown();
    }
    void Write(const std::string& inName, const std::string& inBytes) const
    {
        std::ofstream(fRoot + "/" + inName, std::ios::binary) << inBytes;
    }

    // Parses a document whose root holds one external entity with the system ID; the text seen.
    bool ParseEntity(const std::string& inSystemID, std::string& outText, VError& outError,
                     std::string& outRefusedID) const
    {
        std::string document = "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + inSystemID + "\">]><r>&e;</r>";
        auto log = std::make_shared<CallLog>();
        auto* handler = new RecordingHandler(log);
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        parser.SetEntitiesLocalFolder(VString("http://example.org/ents/"), fFolder);
        bool ok = parser.Parse(VString(document.c_str()), handler, XML_ValidationNever);
        handler->Release();
        outText.clear();
        for (const std::string& call : *log)
        {
            if (call.rfind("text ", 0) == 0)
            {
                outText += call.substr(5);
            }
        }
        outError = errors.GetLastError();
        VErrorBase* refused = errors.Find(VE_XML_ERROR);
        outRefusedID = refused != nullptr ? ErrorString(refused, "systemID") : "";
        return ok;
    }

    std::string fRoot;
    VFolder* fFolder = nullptr;
};

// Only a file inside the entities folder, named under the base URL, is ever read.
TEST_F(XMLHostile, ExternalEntitiesResolveOnlyInsideTheFolder)
{
    struct Case
    {
        const char* what;
        std::string systemID;
        bool accepted;
        const char* text;
    };
    const Case cases[] = {
        {"a file inside, under the base URL", "http://example.org/ents/ok.ent", true, "inside"},
        {"a file in a subfolder", "http://example.org/ents/sub/deep.ent", true, "deeper"},
        {"a network scheme", "http://127.0.0.1:9/x", false, ""},
        {"a file URL to a system file", "file:///etc/passwd", false, ""},
        {"an absolute path", "/etc/passwd", false, ""},
        {"a relative path without the base URL", "ok.ent", false, ""},
        {"climbing out with ..", "http://example.org/ents/../secret", false, ""},
        {"a double slash that once climbed to the parent", "http://example.org/ents/a//b", false, ""},
        {"a leading double slash", "http://example.org/ents//b", false, ""},
        {"a link inside the folder that points outside", "http://example.org/ents/link", false, ""},
        {"a file that does not exist", "http://example.org/ents/none.ent", false, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::string text;
        std::string refusedID;
        VError error = VE_OK;
        EXPECT_EQ(ParseEntity(c.systemID, text, error, refusedID), c.accepted);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(text.find("SECRET"), std::string::npos);
        EXPECT_EQ(text.find("root:"), std::string::npos);
        if (!c.accepted)
        {
            EXPECT_EQ(error, VE_XML_ERROR);
            EXPECT_EQ(refusedID, c.systemID);
        }
    }
}

// A network system ID opens no connection: a listener on the loopback sees nobody.
TEST_F(XMLHostile, NetworkEntityOpensNoConnection)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.dtd";

    std::string text;
    std::string refusedID;
    VError error = VE_OK;
    EXPECT_FALSE(ParseEntity(url, text, error, refusedID));
    EXPECT_EQ(refusedID, url);
    // An external DTD by URL, with external DTDs on, is refused the same way.
    std::string document = "<!DOCTYPE r SYSTEM \"" + url + "\"><r/>";
    auto* handler = new VNullXMLHandler;
    {
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        EXPECT_FALSE(parser.Parse(VString(document.c_str()), handler, XML_LoadExternalDTD));
    }
    handler->Release();
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0);
    EXPECT_EQ(errno, EAGAIN);
    ::close(listener);
}

// Flag 8 loads an external DTD only from inside the entities folder.
TEST_F(XMLHostile, ExternalDTDLoadsOnlyFromInsideTheFolder)
{
    struct Case
    {
        const char* what;
        std::string systemID;
        bool ok;
        CallLog calls;
    };
    const Case cases[] = {
        {"inside: loaded, its default reaches the handler",
         "http://example.org/ents/in.dtd",
         true,
         {"start r", "attr d=from-inside", "end r"}},
        {"outside, by absolute path: refused", fRoot + "/outside.dtd", false, {"start r", "end r"}},
        {"outside, by climbing: refused",
         "http://example.org/ents/../outside.dtd",
         false,
         {"start r", "end r"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::string document = "<!DOCTYPE r SYSTEM \"" + c.systemID + "\"><r/>";
        auto log = std::make_shared<CallLog>();
        auto* handler = new RecordingHandler(log);
        StErrorContextInstaller errors(false, true);
        VXMLParser parser;
        parser.SetEntitiesLocalFolder(VString("http://example.org/ents/"), fFolder);
        EXPECT_EQ(parser.Parse(VString(document.c_str()), handler,
                               XML_LoadExternalDTD | XML_PassUnspecifiedAttributes),
                  c.ok);
        EXPECT_EQ(*log, c.calls);
        handler->Release();
    }
}

// The top handler's own folder answers first (here for the external DTD, read while the root
// handler is on top); a handler override that returns a file outside its folder is refused.
TEST_F(XMLHostile, HandlerResolverIsHeldToItsFolder)
{
    class Cheating : public RecordingHandler
    {
    public:
        Cheating(std::shared_ptr<CallLog> inLog, std::string inPath)
            : RecordingHandler(std::move(inLog)), fPath(std::move(inPath))
        {
        }
        VFile* ResolveEntity(const VString& /*inSystemID*/) override
        {
            return new VFile(VString(fPath.c_str()), FPS_POSIX);
        }

    private:
        std::string fPath;
    };
    const uint32_t flags = XML_LoadExternalDTD | XML_PassUnspecifiedAttributes;
    StErrorContextInstaller errors(false, true);
    VXMLParser parser;

    auto own = std::make_shared<CallLog>();
    auto* plain = new RecordingHandler(own);
    plain->SetEntitiesLocalFolder(VString("x:"), fFolder);
    EXPECT_TRUE(parser.Parse(VString("<!DOCTYPE r SYSTEM \"x:in.dtd\"><r/>"), plain, flags));
    EXPECT_EQ(*own, (CallLog{"start r", "attr d=from-inside", "end r"}));
    plain->Release();

    auto log = std::make_shared<CallLog>();
    auto* cheating = new Cheating(log, fRoot + "/outside.dtd");
    cheating->SetEntitiesLocalFolder(VString("x:"), fFolder);
    EXPECT_FALSE(parser.Parse(VString("<!DOCTYPE r SYSTEM \"x:in.dtd\"><r/>"), cheating, flags));
    EXPECT_EQ(*log, (CallLog{"start r", "end r"}));
    cheating->Release();
}

// Exponential entity expansion stops at the cap, quickly and with an error.
TEST_F(XMLHostile, BillionLaughsStopsAtTheExpansionCap)
{
    std::string document = BillionLaughs();
    auto log = std::make_shared<CallLog>();
    auto* handler = new RecordingHandler(log);
    StErrorContextInstaller errors(false, true);
    VXMLParser parser;
    EXPECT_FALSE(parser.Parse(VString(document.c_str()), handler, 0));
    EXPECT_NE(errors.Find(VE_XML_FATAL_ERROR), nullptr);
    // At most one "ha" per allowed expansion reached the handler.
    EXPECT_LE(log->size(), VXMLParser::kEntityExpansionLimit + 2);
    handler->Release();
}

// -----------------------------------------------------------------------------------------------
// Small files built to stall the parser, each refused with an error naming its line, or read in
// bounded work. (Their speed in the release build is measured by hand; here a wide deadline only
// guards against a hang.)
// -----------------------------------------------------------------------------------------------

TEST_F(XMLHostile, SmallHostileFilesAreRefusedOrBounded)
{
    enum class Reader
    {
        kSAX,   // VXMLParser with the row's flags
        kBag,   // LoadBagFromXML
        kXLIFF, // the localization manager, from a file
        kDOM,   // IXMLDomWrapper::CreateNodeDocumentFromBuffer
    };
    struct Case
    {
        const char* what;
        std::string document;
        Reader reader;
        uint32_t flags;
        bool accepted;
        const char* message; // a part of the error's message, or "" when accepted
        int64_t line;        // the line the error names, or -1 to skip
    };
    const Case cases[] = {
        {"a long entity used 8,000 times in content", LongEntity(false), Reader::kSAX, XML_ValidationNever,
         false, "xpansion", -1},
        {"the same in an attribute value", LongEntity(true), Reader::kSAX, XML_ValidationNever, false,
         "xpansion", -1},
        {"the same in a default attribute value", LongEntityInDefault(), Reader::kSAX, XML_ValidationNever,
         false, "", -1},
        {"a parameter entity bomb in the internal subset", ParameterEntityBomb(), Reader::kSAX,
         XML_ValidationNever, false, "parameter entity \"p0\"", 2},
        {"billion laughs", BillionLaughs(), Reader::kSAX, XML_ValidationNever, false, "xpansion", -1},
        {"200,000 nested elements with namespaces", Nested(200000), Reader::kSAX,
         XML_ValidationNever | XML_DoNamespaces, false, "deeper than 1000", 1001},
        {"1,000 nested elements are accepted", Nested(999), Reader::kSAX,
         XML_ValidationNever | XML_DoNamespaces, true, "", -1},
        {"a short entity used 2,000 times is accepted",
         "<!DOCTYPE r [<!ENTITY e \"" + std::string(100, 'x') + "\">]><r a=\"&e;\">" + Repeat("&e;", 2000) +
             "</r>",
         Reader::kSAX, XML_ValidationNever, true, "", -1},
        {"an external DTD named, validation auto: read without it",
         "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>", Reader::kSAX, 0, true, "", -1},
        {"an external DTD named, validation never: read without it",
         "<!DOCTYPE r PUBLIC \"-//x//DTD r//EN\" \"r.dtd\"><r/>", Reader::kSAX, XML_ValidationNever, true, "",
         -1},
        {"an internal subset where none is accepted", "<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>",
         Reader::kSAX, XML_RefuseInternalSubset, false, "internal subset", 1},
        {"a bag with the long entity", LongEntity(true), Reader::kBag, 0, false, "internal subset", -1},
        {"a bag 100,000 levels deep", Nested(100000), Reader::kBag, 0, false, "deeper than 1000", -1},
        {"the DOM: a long entity used 8,000 times in content", LongEntity(false), Reader::kDOM, 0, false,
         "xpansion", -1},
        {"the DOM: the same in an attribute value", LongEntity(true), Reader::kDOM, 0, false, "", -1},
        {"the DOM: a parameter entity bomb", ParameterEntityBomb(), Reader::kDOM, 0, false,
         "parameter entity \"p0\"", 2},
        {"the DOM: 200,000 nested elements", Nested(200000), Reader::kDOM, 0, false, "deeper than 1000",
         1001},
        {"the DOM: an external DTD named", "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/r.dtd\"><r/>",
         Reader::kDOM, 0, true, "", -1},
        {"the DOM: an external entity", "<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>",
         Reader::kDOM, 0, false, "", -1},
        {"an XLIFF file with the long entity",
         "<!DOCTYPE xliff [<!ENTITY e \"" + std::string(40000, 'x') +
             "\">]><xliff><file target-language=\"en\"><body><trans-unit resname=\"k\"><source>" +
             Repeat("&e;", 8000) + "</source></trans-unit></body></file></xliff>",
         Reader::kXLIFF, 0, false, "", -1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        auto start = std::chrono::steady_clock::now();
        StErrorContextInstaller errors(false, true);
        bool ok = false;
        size_t delivered = 0;
        switch (c.reader)
        {
        case Reader::kSAX:
        {
            class Counting : public VObject, public IXMLHandler
            {
            public:
                explicit Counting(size_t& ioUnits) : fUnits(ioUnits) {}
                IXMLHandler* StartElement(const VString& /*inName*/) override
                {
                    Retain();
                    return this;
                }
                void SetAttribute(const VString& /*inName*/, const VString& inValue) override
                {
                    fUnits += static_cast<size_t>(inValue.GetLength());
                }
                void SetText(const VString& inText) override
                {
                    fUnits += static_cast<size_t>(inText.GetLength());
                }

            private:
                size_t& fUnits;
            };
            auto* handler = new Counting(delivered);
            VXMLParser parser;
            ok = parser.Parse(c.document.data(), c.document.size(), handler, c.flags);
            handler->Release();
            break;
        }
        case Reader::kBag:
        {
            VValueBag bag;
            VError error = LoadBagFromXML(VString(c.document.c_str()), VString(), bag, c.flags);
            ok = error == VE_OK;
            EXPECT_EQ(error, c.accepted ? VE_OK : VE_XML_FATAL_ERROR);
            break;
        }
        case Reader::kDOM:
        {
            VXMLDOMDocument_opaque* document =
                IXMLDomWrapper::CreateNodeDocumentFromBuffer(c.document.data(), c.document.size(), nullptr);
            ok = document != nullptr;
            IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::FromDocument(document));
            break;
        }
        case Reader::kXLIFF:
        {
            Write("hostile.xlf", c.document);
            VRefPtr<VLocalizationManager> manager(new VLocalizationManager(1033), true);
            VRefPtr<VFile> file(new VFile(VString((fRoot + "/hostile.xlf").c_str()), FPS_POSIX), true);
            EXPECT_EQ(manager->LoadFile(file.Get(), true), VE_OK);
            VString text;
            ok = manager->LocalizeStringWithKey(VString("k"), text);
            break;
        }
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(ok, c.accepted);
        EXPECT_LT(seconds, 30.0);
        EXPECT_LE(delivered, c.document.size() + VXMLSecurity::CharacterLimitFor(c.document.size()));
        if (!c.accepted && (c.reader == Reader::kSAX || c.reader == Reader::kDOM))
        {
            VErrorBase* error = errors.Find(VE_XML_FATAL_ERROR);
            ASSERT_NE(error, nullptr);
            EXPECT_NE(ErrorString(error, "message").find(c.message), std::string::npos)
                << ErrorString(error, "message");
            if (c.line >= 0)
            {
                EXPECT_EQ(ErrorNumber(error, "line"), static_cast<double>(c.line));
            }
        }
    }
}

} // namespace
