// JSON text read straight into value bags, and bags through JSON values and back.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Key = VValueBag::StKey;

class BagFromJSON : public TaskManagerTest
{
protected:
    // The error codes pushed while reading, by number, space-separated.
    static std::string Read(const char* inText, VValueBag& ioBag, uint32_t inOptions = 0)
    {
        StErrorContextInstaller errors;
        VJSONImporter importer(VString(inText), inOptions);
        importer.JSONObjectToBag(ioBag);
        std::string codes;
        for (VErrorBase* error : errors.GetContext()->GetErrorList())
        {
            codes += (codes.empty() ? "" : " ") + std::to_string(NumberOfVError(error->GetError()));
        }
        return codes;
    }
    // The bag's JSON text, the common way to compare bags here.
    static std::string JSON(const VValueBag& inBag)
    {
        VString text;
        inBag.GetJSONString(text, 0);
        return Ascii(text);
    }
};

TEST_F(BagFromJSON, ReadsObjectsArraysAndScalars)
{
    struct Case
    {
        const char* fWhat;
        const char* fText;
        const char* fJSON; // the bag written back
    } cases[] = {
        {"nested objects keep the one-object marker", R"({"a":{"b":{"c":1}}})", R"({"a":{"b":{"c":1}}})"},
        {"arrays of objects", R"({"l":[{"x":1},{"x":2}]})", R"({"l":[{"x":1},{"x":2}]})"},
        {"array of one object stays an array", R"({"l":[{"x":1}]})", R"({"l":[{"x":1}]})"},
        {"arrays of scalars", R"({"s":["t",true,12,1.5]})", R"({"s":["t",true,12,1.5]})"},
        {"__CDATA is the character data", R"({"__CDATA":"text","a":"b"})", R"({"__CDATA":"text","a":"b"})"},
        {"lenient names and words", R"({a:1, b:word})", R"({"a":1,"b":"word"})"},
        {"empty object", "{}", "{}"},
        {"arrays inside arrays, empty ones too", R"({"m":[[1,[2,"x"]],[],{"o":[[true],{}]}]})",
         R"({"m":[[1,[2,"x"]],[],{"o":[[true],{}]}]})"},
    };
    for (const Case& c : cases)
    {
        Bag bag;
        EXPECT_EQ("", Read(c.fText, *bag)) << c.fWhat;
        EXPECT_EQ(c.fJSON, JSON(*bag)) << c.fWhat;
    }
}

TEST_F(BagFromJSON, NumbersAreTypedByTheirText)
{
    Bag bag;
    ASSERT_EQ("", Read(R"({"i":12,"e":1e5,"E":2E-1,"r":1.5,"big":99999999999999999999,"n":-7})", *bag));
    int64_t integer = 0;
    double real = 0;
    EXPECT_TRUE(bag->GetLong8(Key("i"), integer));
    EXPECT_EQ(12, integer);
    const VValueSingle* value = bag->GetNthAttribute(2, nullptr);
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(VK_REAL, value->GetValueKind());
    EXPECT_TRUE(bag->GetReal(Key("e"), real));
    EXPECT_EQ(100000.0, real);
    EXPECT_TRUE(bag->GetReal(Key("E"), real));
    EXPECT_DOUBLE_EQ(0.2, real);
    EXPECT_EQ(VK_REAL, bag->GetNthAttribute(5, nullptr)->GetValueKind());
    EXPECT_TRUE(bag->GetReal(Key("big"), real));
    EXPECT_DOUBLE_EQ(1e20, real);
    EXPECT_TRUE(bag->GetLong8(Key("n"), integer));
    EXPECT_EQ(-7, integer);
    // Scalars in arrays follow the same rules.
    Bag list;
    ASSERT_EQ("", Read(R"({"a":[1e5, null]})", *list));
    VBagArray* elements = list->GetElements(Key("a"));
    ASSERT_NE(nullptr, elements);
    ASSERT_EQ(2, elements->GetCount());
    EXPECT_TRUE(elements->GetNth(1)->GetReal(Key("____FakeArrayElement"), real));
    EXPECT_EQ(100000.0, real);
    EXPECT_TRUE(elements->GetNth(2)->AttributeExists(Key("____FakeArrayElement")));
}

TEST_F(BagFromJSON, Dates)
{
    VTime time;
    Bag iso;
    ASSERT_EQ("", Read(R"({"d":"2024-03-05","m":"!!2024-03-05!!"})", *iso));
    EXPECT_EQ(VK_TIME, iso->GetNthAttribute(1, nullptr)->GetValueKind());
    EXPECT_EQ(VK_STRING, iso->GetNthAttribute(2, nullptr)->GetValueKind());
    Bag marked;
    ASSERT_EQ("", Read(R"({"d":"2024-03-05","m":"!!2024-03-05!!"})", *marked, 512));
    EXPECT_EQ(VK_STRING, marked->GetNthAttribute(1, nullptr)->GetValueKind());
    EXPECT_EQ(VK_TIME, marked->GetNthAttribute(2, nullptr)->GetValueKind());
    EXPECT_TRUE(marked->GetTime(Key("m"), time));
    EXPECT_TRUE(iso->GetTime(Key("d"), time));
}

TEST_F(BagFromJSON, SyntaxErrors)
{
    struct Case
    {
        const char* fText;
        const char* fCodes;
    } cases[] = {
        {R"({"a" 1})", "551 550"},    // missing ':'
        {R"({:1})", "551 550"},       // missing name
        {R"({"a":1,:2})", "551 550"}, // missing name after a member
        {R"([1])", "551 550"},        // not an object
        {R"({"a":})", "551 550"},     // no value
    };
    for (const Case& c : cases)
    {
        Bag bag;
        EXPECT_EQ(c.fCodes, Read(c.fText, *bag)) << c.fText;
    }
    // Deep nesting is refused by the guard, never by a stack overflow.
    std::string deep;
    for (int i = 0; i < 100000; ++i)
    {
        deep += "{\"a\":";
    }
    Bag bag;
    EXPECT_EQ("108 550", Read(deep.c_str(), *bag));
    std::string deepArrays = "{";
    for (int i = 0; i < 100000; ++i)
    {
        deepArrays += "\"a\":[{";
    }
    Bag arrays;
    EXPECT_EQ("108 550", Read(deepArrays.c_str(), *arrays));
    std::string nestedArrays = "{\"a\":";
    nestedArrays.append(100000, '[');
    Bag nested;
    EXPECT_EQ("108 550", Read(nestedArrays.c_str(), *nested));
}

TEST_F(BagFromJSON, ThroughJSONValuesAndBack)
{
    Bag bag;
    bag->SetString(Key("s"), "text");
    bag->SetLong(Key("n"), 5);
    Bag child;
    child->SetBool(Key("b"), true);
    bag->AddElement(Key("c"), child);
    bag->AddElement(Key("c"), child);
    VJSONValue value;
    ASSERT_EQ(VE_OK, bag->GetJSONValue(value));
    ASSERT_TRUE(value.IsObject());
    Bag back;
    ASSERT_EQ(VE_OK, back->FromJSONValue(value));
    EXPECT_EQ(JSON(*bag), JSON(*back));
    VError err = VE_OK;
    VJSONObject* object = bag->BuildJSONObject(err);
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(VE_OK, err);
    object->Release();
    // FromJSONString reads the text the same way.
    Bag fromText;
    ASSERT_EQ(VE_OK, fromText->FromJSONString(VString(R"({"s":"text","n":5,"c":[{"b":true},{"b":true}]})")));
    EXPECT_EQ(JSON(*bag), JSON(*fromText));
}

} // namespace
