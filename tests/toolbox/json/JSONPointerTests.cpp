#include "tests/toolbox/json/JSONPointerTestSupport.h"
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

class JSONPointer : public TaskManagerTest
{
protected:
    static VJSONValue Parse(const char16_t* inText)
    {
        VJSONValue value;
        EXPECT_EQ(value.ParseFromString(VString(reinterpret_cast<const UniChar*>(inText))), VE_OK);
        return value;
    }
    static VJSONValue Reference(const char16_t* inPointer)
    {
        return MakeObject({{"$ref", VJSONValue(VString(reinterpret_cast<const UniChar*>(inPointer)))}});
    }
};

TEST_F(JSONPointer, OnePointerTable)
{
    const VJSONValue root = Parse(u"{\"list\":[1,2,3],\"a/b\":[\"x\"],\"n\":5,\"t~\":{\"u\":true}}");
    struct Case
    {
        const char16_t* fPointer;
        const char16_t* fResult; // JSON text, or "undefined"
        const char* fCodes;
        const char* fWhy;
    };
    const Case cases[] = {
        {u"#", nullptr, "", "'#' alone is the root"},
        {u"", nullptr, "", "an empty text is the root too"},
        {u"#/a~1b/0", u"\"x\"", "", "~1 is '/' in a name"},
        {u"#/t~0/u", u"true", "", "~0 is '~'"},
        {u"#/a~1b/%30", u"\"x\"", "", "the fragment is percent-decoded"},
        {u"  #/n", u"5", "", "spaces around the document part go"},
        {u"#/list/01", u"undefined", "907", "leading zero"},
        {u"#/list/", u"undefined", "907", "empty index"},
        {u"#/list/1x", u"undefined", "907", "non-digit index"},
        {u"#/list/-", u"undefined", "909", "the element after the last"},
        {u"#/list/99", u"undefined", "906", "past the end"},
        {u"#/list/99999999999999999999999", u"undefined", "906", "more digits than any count"},
        {u"#/missing", u"undefined", "906", "no such member"},
        {u"#/n/x", u"undefined", "910", "a step into a number"},
        {u"#list", u"undefined", "907", "a fragment without '/'"},
        {u"http:x.json#/a", u"undefined", "909", "remote documents are refused"},
        {u"HTTPS://h/x.json#/a", u"undefined", "909", "the scheme's case does not matter"},
        {u"file:/etc/x.json#/a", u"undefined", "909", "file URLs too"},
        {u"other.json#/x", u"undefined", "913", "without the file layer no document is found"},
    };
    for (const Case& c : cases)
    {
        VJSONPointerResolver resolver(root, nullptr, nullptr, nullptr);
        VJSONValue reference = Reference(c.fPointer);
        VJSONValue result;
        EXPECT_TRUE(resolver.ResolveOnePointer(reference.GetObject(), true, result)) << c.fWhy;
        if (c.fResult == nullptr)
        {
            EXPECT_EQ(result.GetObject(), root.GetObject()) << c.fWhy;
        }
        else
        {
            EXPECT_EQ(Written(result), std::u16string(c.fResult)) << c.fWhy;
        }
        EXPECT_EQ(Codes(resolver), c.fCodes) << c.fWhy;
    }
}

TEST_F(JSONPointer, ErrorRecordsNameThePointer)
{
    VJSONPointerResolver resolver(Parse(u"{\"list\":[]}"), nullptr, nullptr, nullptr);
    VJSONValue reference = Reference(u"#/list/0");
    VJSONValue result;
    resolver.ResolveOnePointer(reference.GetObject(), false, result);
    ASSERT_NE(resolver.GetErrors(), nullptr);
    VJSONValue record = resolver.GetErrors()->GetAt(0);
    EXPECT_EQ(record.GetProperty(Str("code")).GetNumber(), 906);
    EXPECT_EQ(TextOf(record.GetProperty(Str("component"))), u"zorn");
    EXPECT_EQ(TextOf(record.GetProperty(Str("pointerURI"))), u"#/list/0");
    EXPECT_TRUE(record.GetProperty(Str("message")).IsString());
    EXPECT_TRUE(record.GetProperty(Str("referredPath")).IsUndefined());
}

TEST_F(JSONPointer, AnObjectWithoutReferenceIsLeftAlone)
{
    VJSONValue object = MakeObject({{"$ref", VJSONValue(1.0)}});
    VJSONPointerResolver resolver(object, nullptr, nullptr, nullptr);
    VJSONValue result;
    EXPECT_FALSE(resolver.ResolveOnePointer(object.GetObject(), true, result));
    EXPECT_EQ(result.GetObject(), object.GetObject());
}

TEST_F(JSONPointer, PatchMergesTheReferenceWithItsTarget)
{
    const char16_t* text = u"{\"base\":{\"k\":1,\"extra\":0},\"ref\":{\"$ref\":\"#/base\",\"extra\":2},"
                           u"\"plain\":{\"$ref\":\"#/base\"}}";
    VJSONValue patched = Parse(text);
    VJSONPointerResolver patching(patched, nullptr, nullptr, nullptr);
    patching.ResolveRecursively(patched, true, nullptr);
    EXPECT_EQ(Written(patched.GetProperty(Str("ref"))), u"{\"k\":1,\"extra\":2}");
    EXPECT_EQ(Written(patched.GetProperty(Str("base"))), u"{\"k\":1,\"extra\":0}")
        << "the target is not changed";
    EXPECT_EQ(patched.GetProperty(Str("plain")).GetObject(), patched.GetProperty(Str("base")).GetObject())
        << "a reference with no other member is replaced";

    VJSONValue replaced = Parse(text);
    VJSONPointerResolver replacing(replaced, nullptr, nullptr, nullptr);
    replacing.ResolveRecursively(replaced, false, nullptr);
    EXPECT_EQ(replaced.GetProperty(Str("ref")).GetObject(), replaced.GetProperty(Str("base")).GetObject());
    EXPECT_EQ(Codes(patching) + Codes(replacing), "");
}

TEST_F(JSONPointer, RecursiveResolutionGoesOnAfterFailures)
{
    VJSONValue value =
        Parse(u"{\"a\":{\"$ref\":\"#/b/x\"},\"b\":{\"$ref\":\"#/a/y\"},"
              u"\"list\":[{\"$ref\":\"#/nothing\"},{\"$ref\":\"#/c/0\"}],\"c\":[7],"
              u"\"chain\":{\"$ref\":\"#/d/e\"},\"d\":{\"$ref\":\"#/f\"},\"f\":{\"e\":\"end\"}}");
    VJSONPointerResolver resolver(value, nullptr, nullptr, nullptr);
    resolver.ResolveRecursively(value, false, nullptr);
    const std::string codes = Codes(resolver);
    EXPECT_NE(codes.find("908"), std::string::npos) << "a and b refer to each other: " << codes;
    EXPECT_EQ(Written(value.GetProperty(Str("list"))), u"[null,7]") << "a failed element becomes undefined";
    EXPECT_TRUE(value.GetProperty(Str("a")).GetObject()->HasOwnProperty(Str("$ref")))
        << "a failed member keeps its reference";
    EXPECT_EQ(Written(value.GetProperty(Str("chain"))), u"\"end\"") << "references on the way are followed";
}

TEST_F(JSONPointer, ChainsOfReferencesAreFollowedToTheirEnd)
{
    VJSONValue chain = Parse(u"{\"p\":{\"$ref\":\"#/q\"},\"q\":{\"$ref\":\"#/r\"},\"r\":1}");
    VJSONPointerResolver resolver(chain, nullptr, nullptr, nullptr);
    resolver.ResolveRecursively(chain, false, nullptr);
    EXPECT_EQ(Written(chain), u"{\"p\":1,\"q\":1,\"r\":1}") << "p does not keep q's reference";
    EXPECT_EQ(Codes(resolver), "");

    VJSONValue loop = Parse(u"{\"x\":{\"$ref\":\"#/y\"},\"y\":{\"$ref\":\"#/x\"}}");
    VJSONPointerResolver looping(loop, nullptr, nullptr, nullptr);
    looping.ResolveRecursively(loop, false, nullptr);
    EXPECT_NE(Codes(looping).find("908"), std::string::npos);
    EXPECT_TRUE(loop.GetProperty(Str("x")).GetObject()->HasOwnProperty(Str("$ref")));
}

// A chain of n references {"r0":{"$ref":"#/r1"},...,"r(n-1)":{"$ref":"#/end"}}: every member
// comes to the end, each link being followed once (this took O(n^3), 22 s for 1,000 links); a
// chain that ends nowhere gives each member its record, as a walk from each member would.
std::u16string ChainText(int inLinks, const char* inEnd)
{
    std::string text = "{";
    for (int i = 0; i < inLinks; ++i)
    {
        text += "\"r" + std::to_string(i) + "\":{\"$ref\":\"#/" +
                (i + 1 < inLinks ? "r" + std::to_string(i + 1) : std::string(inEnd)) + "\"},";
    }
    text += "\"end\":\"the end\"}";
    return std::u16string(text.begin(), text.end());
}

TEST_F(JSONPointer, LongChainsResolveOnceEach)
{
    constexpr int kLinks = 10000;
    VJSONValue chain = Parse(ChainText(kLinks, "end").c_str());
    VJSONPointerResolver resolver(chain, nullptr, nullptr, nullptr);
    resolver.ResolveRecursively(chain, false, nullptr);
    EXPECT_EQ(Codes(resolver), "");
    for (int i : {0, 1, kLinks / 2, kLinks - 1})
    {
        const VString name(("r" + std::to_string(i)).c_str());
        EXPECT_EQ(Written(chain.GetProperty(name)), u"\"the end\"") << i;
    }

    constexpr int kBroken = 1000;
    VJSONValue broken = Parse(ChainText(kBroken, "nowhere").c_str());
    VJSONPointerResolver brokenResolver(broken, nullptr, nullptr, nullptr);
    brokenResolver.ResolveRecursively(broken, false, nullptr);
    ASSERT_NE(brokenResolver.GetErrors(), nullptr);
    EXPECT_EQ(brokenResolver.GetErrors()->GetCount(), static_cast<size_t>(kBroken)) << "one 906 per member";
    EXPECT_EQ(Codes(brokenResolver).substr(0, 8), "906,906,");
    const VJSONValue last = brokenResolver.GetErrors()->GetAt(kBroken - 1);
    EXPECT_EQ(Written(last.GetProperty(Str("pointerURI"))), u"\"#/nowhere\"");
    EXPECT_TRUE(broken.GetProperty(Str("r0")).GetObject()->HasOwnProperty(Str("$ref")));

    // A ring: each member meets the cycle.
    VJSONValue ring = Parse(u"{\"a\":{\"$ref\":\"#/b\"},\"b\":{\"$ref\":\"#/c\"},\"c\":{\"$ref\":\"#/a\"}}");
    VJSONPointerResolver ringResolver(ring, nullptr, nullptr, nullptr);
    ringResolver.ResolveRecursively(ring, false, nullptr);
    EXPECT_EQ(Codes(ringResolver), "908,908,908");
}

TEST_F(JSONPointer, SharedAndCyclicArraysAreWalkedOnce)
{
    VJSONValue list = MakeArray({Reference(u"#/x")});
    list.GetArray()->SetAt(1, list, true);
    VJSONValue value = MakeObject({{"x", VJSONValue(1.0)}, {"l1", list}, {"l2", list}});
    VJSONPointerResolver resolver(value, nullptr, nullptr, nullptr);
    resolver.ResolveRecursively(value, false, nullptr);
    EXPECT_EQ(list.GetArray()->GetAt(0).GetNumber(), 1);
    EXPECT_EQ(Codes(resolver), "");
    list.GetArray()->SetAt(1, VJSONValue(), false);
}

TEST_F(JSONPointer, PercentDecoding)
{
    struct Case
    {
        const char* fText;
        const char16_t* fDecoded;
    };
    const Case cases[] = {
        {"a%20b", u"a b"},     {"%C3%A9", u"\u00e9"}, {"e%CC%81", u"\u00e9"},
        {"100%", u"100%"},     {"x%4", u"x%4"},       {"%zz", u"%zz"},
        {"%FF%FE", u"%FF%FE"}, {"+", u"+"},           {"%2f%2F", u"//"},
    };
    for (const Case& c : cases)
    {
        VString text(c.fText);
        VJSONPointerResolver::DecodeURIText(text);
        EXPECT_EQ(Text(text), std::u16string(c.fDecoded)) << c.fText;
    }
}

} // namespace
