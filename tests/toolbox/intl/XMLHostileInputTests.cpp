#include "tests/toolbox/intl/XMLTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

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
    std::string document = "<!DOCTYPE r [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i)
    {
        std::string previous = "&l" + std::to_string(i - 1) + ";";
        std::string value;
        for (int j = 0; j < 10; ++j)
        {
            value += previous;
        }
        document += "<!ENTITY l" + std::to_string(i) + " \"" + value + "\">";
    }
    document += "]><r>&l10;</r>";
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

} // namespace
