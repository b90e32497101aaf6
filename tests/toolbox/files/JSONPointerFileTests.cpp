#include "tests/StringTestSupport.h"
#include "tests/toolbox/json/JSONPointerTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/IFile.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/json/VJSONValue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

// A temporary folder of JSON documents, and a resolver over main.json in it.
class JSONPointerFiles : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        char pattern[] = "/tmp/zorn-json-pointers-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fRoot = pattern;
        std::filesystem::create_directory(fRoot / "sub");
        Put("other.json", R"({"x":{"v":1},"back":{"$ref":"sub/third.json#/y"}})");
        Put("sub/third.json", R"({"y":"third","up":{"$ref":"../other.json#/x/v"}})");
        Put("bad.json", R"({"x":)");
        fFolder = VRefPtr<VFolder>(new VFolder(VString((fRoot.string() + "/").c_str()), FPS_POSIX), true);
    }
    void TearDown() override
    {
        fFolder = nullptr;
        std::filesystem::remove_all(fRoot);
        TaskManagerTest::TearDown();
    }
    void Put(const char* inName, const char* inText) const { std::ofstream(fRoot / inName) << inText; }

    static VJSONValue Parse(const char* inText)
    {
        VJSONValue value;
        EXPECT_EQ(value.ParseFromString(VString(inText)), VE_OK);
        return value;
    }

    std::filesystem::path fRoot;
    VRefPtr<VFolder> fFolder;
};

TEST_F(JSONPointerFiles, DocumentsAreReadRelativeToTheirFolderOncePerCache)
{
    VJSONValue value = Parse(R"({"a":{"$ref":"other.json#/x"},"b":{"$ref":"other.json#/x/v"},)"
                             R"("c":{"$ref":"other.json#/back"}})");
    VRefPtr<VJSONFileCache> cache(new VJSONFileCache(), true);
    VJSONPointerResolver resolver(value, fFolder.Get(), nullptr, cache.Get());
    std::vector<VRefPtr<IFile>> files;
    resolver.ResolveRecursively(value, false, &files);
    EXPECT_EQ(Codes(resolver), "");
    EXPECT_EQ(Written(value), u"{\"a\":{\"v\":1},\"b\":1,\"c\":\"third\"}");
    EXPECT_EQ(cache->GetCount(), 2u) << "other.json and sub/third.json, each parsed once";
    EXPECT_EQ(files.size(), 2u);

    // A later resolution with the same cache does not read the file again.
    Put("other.json", R"({"x":"changed"})");
    VJSONValue again = Parse(R"({"a":{"$ref":"other.json#/x/v"}})");
    VJSONPointerResolver second(again, fFolder.Get(), nullptr, cache.Get());
    second.ResolveRecursively(again, false, nullptr);
    EXPECT_EQ(Written(again), u"{\"a\":1}");
}

TEST_F(JSONPointerFiles, ReferencesInsideLoadedDocumentsUseTheirOwnFolder)
{
    Put("sub/deeper.json", R"({"z":{"$ref":"fourth.json#/w"}})");
    Put("sub/fourth.json", R"({"w":"fourth"})");
    VJSONValue value = Parse(R"({"t":{"$ref":"sub/third.json#"},"d":{"$ref":"sub/deeper.json#/z"}})");
    VJSONPointerResolver resolver(value, fFolder.Get(), nullptr, nullptr);
    resolver.ResolveRecursively(value, false, nullptr);
    EXPECT_EQ(Written(value.GetProperty(VString("d"))), u"\"fourth\"")
        << "fourth.json beside deeper.json, in sub/";
    EXPECT_TRUE(value.GetProperty(VString("t")).GetProperty(VString("up")).IsObject())
        << "../other.json leaves sub/: refused, the reference stays";
}

// A relative reference names a file inside the folder of the document that holds it, after links
// are resolved: ".." and links that lead out are refused (913) as full paths are, with or without a
// namespace. They used to read any file the process could.
TEST_F(JSONPointerFiles, RelativeReferencesStayInTheirDocumentsFolder)
{
    std::filesystem::create_directory(fRoot / "sub" / "inner");
    std::filesystem::create_directory(fRoot / "outside");
    Put("outside/secret.json", R"({"s":"secret"})");
    Put("sub/inner/ok.json", R"({"k":"inner"})");
    std::filesystem::create_symlink(fRoot / "outside" / "secret.json", fRoot / "sub" / "link.json");
    std::filesystem::create_symlink(fRoot / "outside", fRoot / "sub" / "linkdir");
    std::filesystem::create_symlink(fRoot / "sub" / "inner" / "ok.json", fRoot / "sub" / "inlink.json");
    VRefPtr<VFolder> sub(new VFolder(VString((fRoot.string() + "/sub/").c_str()), FPS_POSIX), true);
    VRefPtr<VFileSystemNamespace> space(new VFileSystemNamespace(nullptr), true);
    struct Case
    {
        const char* fPointer;
        const char* fCodes;
        const char* fWhy;
    };
    const Case cases[] = {
        {"inner/ok.json#/k", "", "a folder inside"},
        {"inner/../third.json#/y", "", "\"..\" that stays inside"},
        {"inlink.json#/k", "", "a link to a file inside"},
        {"../other.json#/x", "913", "\"..\" to the parent"},
        {"inner/../../outside/secret.json#/s", "913", "\"..\" through a folder inside"},
        {"link.json#/s", "913", "a link to a file outside"},
        {"linkdir/secret.json#/s", "913", "a link to a folder outside"},
    };
    for (VFileSystemNamespace* fileSystems : {static_cast<VFileSystemNamespace*>(nullptr), space.Get()})
    {
        for (const Case& c : cases)
        {
            SCOPED_TRACE(std::string(c.fWhy) + (fileSystems != nullptr ? ", through a namespace" : ""));
            VJSONValue reference = Parse((std::string(R"({"$ref":")") + c.fPointer + "\"}").c_str());
            VJSONPointerResolver resolver(reference, sub.Get(), fileSystems, nullptr);
            VJSONValue result;
            resolver.ResolveOnePointer(reference.GetObject(), true, result);
            EXPECT_EQ(Codes(resolver), c.fCodes);
            EXPECT_EQ(result.IsUndefined(), *c.fCodes != 0);
        }
    }
}

TEST_F(JSONPointerFiles, MissingUnreadableAndForbiddenDocuments)
{
    struct Case
    {
        const char* fPointer;
        const char* fCodes;
        const char* fWhy;
    };
    const Case cases[] = {
        {"missing.json#/x", "913", "no such file"},
        {"bad.json#/x", "912", "not JSON"},
        {"sub/#/x", "913", "a folder is no document"},
        {"/etc/hostname#", "913", "full paths name no document"},
    };
    for (const Case& c : cases)
    {
        VJSONValue reference = Parse((std::string(R"({"$ref":")") + c.fPointer + "\"}").c_str());
        VJSONPointerResolver resolver(reference, fFolder.Get(), nullptr, nullptr);
        VJSONValue result;
        EXPECT_TRUE(resolver.ResolveOnePointer(reference.GetObject(), true, result)) << c.fWhy;
        EXPECT_TRUE(result.IsUndefined()) << c.fWhy;
        EXPECT_EQ(Codes(resolver), c.fCodes) << c.fWhy;
        ASSERT_NE(resolver.GetErrors(), nullptr);
        EXPECT_TRUE(resolver.GetErrors()->GetAt(0).GetProperty(VString("referredPath")).IsString()) << c.fWhy;
    }

    // Without a base folder nothing is read.
    VJSONValue reference = Parse(R"({"$ref":"other.json#/x"})");
    VJSONPointerResolver resolver(reference, nullptr, nullptr, nullptr);
    VJSONValue result;
    resolver.ResolveOnePointer(reference.GetObject(), true, result);
    EXPECT_EQ(Codes(resolver), "913");
}

// With a namespace every document goes through it: relative paths in the base folder, "/" + file
// system + "/" + path in that file system, full paths never. One cache serves all the resolvers.
TEST_F(JSONPointerFiles, DocumentsThroughANamespace)
{
    Put("sub/bad.json", "not JSON");
    VRefPtr<VFolder> sub(new VFolder(VString((fRoot.string() + "/sub/").c_str()), FPS_POSIX), true);
    VRefPtr<VFileSystemNamespace> space(new VFileSystemNamespace(), true);
    ASSERT_EQ(space->RegisterFileSystem(VString("shared"), sub.Get(), 0), VE_OK);
    ASSERT_EQ(space->RegisterFileSystem(VString("hidden"), sub.Get(), VFileSystem::kPrivate), VE_OK);
    const std::string subPath = fRoot.string() + "/sub/";
    const std::string fullOther = fRoot.string() + "/other.json";

    struct Case
    {
        std::string fPointer;
        const char16_t* fResult;
        const char* fCodes;
        std::string fReferredPath; // of the error, when there is one
        const char* fWhy;
    };
    const Case cases[] = {
        {"other.json#/x", u"{\"v\":1}", "", "", "relative to the base folder"},
        {"/shared/third.json#/y", u"\"third\"", "", "", "in a file system"},
        {"/shared/third.json#/y", u"\"third\"", "", "", "the same document again, from the cache"},
        {fullOther + "#/x", u"undefined", "913", fullOther, "a full path is never read through a namespace"},
        {"/nowhere/x.json#", u"undefined", "913", "/nowhere/x.json", "an unknown file system"},
        {"/hidden/third.json#/y", u"undefined", "913", "/hidden/third.json", "a private file system"},
        {"/shared/../other.json#/x", u"undefined", "913", "/shared/../other.json", "out of the file system"},
        {"/shared/missing.json#", u"undefined", "913", subPath + "missing.json", "a missing file"},
        {"/shared/bad.json#", u"undefined", "912", subPath + "bad.json", "not JSON"},
    };
    VRefPtr<VJSONFileCache> cache(new VJSONFileCache(), true);
    for (const Case& c : cases)
    {
        VJSONValue reference = Parse((R"({"$ref":")" + c.fPointer + "\"}").c_str());
        VJSONPointerResolver resolver(reference, fFolder.Get(), space.Get(), cache.Get());
        VJSONValue result;
        EXPECT_TRUE(resolver.ResolveOnePointer(reference.GetObject(), true, result)) << c.fWhy;
        EXPECT_EQ(Written(result), c.fResult) << c.fWhy;
        EXPECT_EQ(Codes(resolver), c.fCodes) << c.fWhy;
        if (resolver.GetErrors() != nullptr)
        {
            VJSONValue record = resolver.GetErrors()->GetAt(0);
            VString pointer;
            VString referred;
            record.GetProperty(VString("pointerURI")).GetString(pointer);
            record.GetProperty(VString("referredPath")).GetString(referred);
            EXPECT_EQ(Text(pointer), Text(VString(c.fPointer.c_str()))) << c.fWhy;
            EXPECT_EQ(Text(referred), Text(VString(c.fReferredPath.c_str()))) << c.fWhy;
        }
    }
    EXPECT_EQ(cache->GetCount(), 2u) << "other.json and sub/third.json, each parsed once";

    // Throughout a value: each error leaves its member as it was and the next one is resolved; the
    // references inside a document of a file system stay confined to it.
    VJSONValue value = Parse(R"({"a":{"$ref":"/shared/bad.json#"},"b":{"$ref":"/shared/third.json#"},)"
                             R"("c":{"$ref":"/nowhere/x.json#"},"d":{"$ref":"other.json#/x/v"}})");
    VJSONPointerResolver resolver(value, fFolder.Get(), space.Get(), cache.Get());
    resolver.ResolveRecursively(value, false, nullptr);
    EXPECT_EQ(Codes(resolver), "912,913");
    EXPECT_EQ(Written(value),
              u"{\"a\":{\"$ref\":\"/shared/bad.json#\"},\"b\":{\"y\":\"third\",\"up\":"
              u"{\"$ref\":\"../other.json#/x/v\"}},\"c\":{\"$ref\":\"/nowhere/x.json#\"},\"d\":1}")
        << "../other.json leaves the file system of third.json";
}

} // namespace
