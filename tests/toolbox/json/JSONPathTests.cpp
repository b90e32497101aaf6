#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Path errors go to the task's error context, so these tests run on the main task.
class JSONPaths : public TaskManagerTest
{
};

std::u16string Joined(const std::vector<VString>& inParts)
{
    std::u16string joined;
    for (const VString& part : inParts)
    {
        joined += (joined.empty() ? u"" : u"|") + Text(part);
    }
    return joined;
}

TEST_F(JSONPaths, ExtractPath)
{
    struct Row
    {
        const char* fPath;
        VError fError;
        std::u16string fParts; // parts joined with "|"
    };
    const Row rows[] = {
        {"a.b[2][0].c", VE_OK, u"a|b|2|0|c"},     {"a[01]", VE_OK, u"a|01"},
        {" a . b c ", VE_OK, u"a|b c"},           {"a[x]", VE_OK, u"a|x"},
        {"a..b", VE_JSON_PATH_EMPTY_PART, u"a|"}, {"a[1", VE_JSON_PATH_UNCLOSED_INDEX, u"a|1"},
        {"a[]", VE_JSON_PATH_EMPTY_PART, u"a|"},  {"a[1]x.b", VE_JSON_PATH_UNCLOSED_INDEX, u"a|1]x"},
        {"[1]", VE_JSON_PATH_EMPTY_PART, u""},    {"", VE_JSON_PATH_EMPTY_PART, u""},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        std::vector<VString> parts;
        EXPECT_EQ(VJSONObject::ExtractPath(Str(row.fPath), parts), row.fError) << row.fPath;
        EXPECT_EQ(Joined(parts), row.fParts) << row.fPath;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fPath << ": the error is raised too";
    }
}

TEST_F(JSONPaths, GetPropertyWithPath)
{
    VJSONValue root = MakeObject({
        {"list",
         MakeArray({VJSONValue(1.0), VJSONValue(2.0), MakeObject({{"deep", VJSONValue(Str("yes"))}})})},
        {"name", VJSONValue(Str("abc"))},
        {"flag", VJSONValue::sTrue},
    });
    struct Row
    {
        const char* fPath;
        JSONType fType;
        std::u16string fText;
    };
    const Row rows[] = {
        {"list.length", JSON_number, u"3"},
        {"list[1]", JSON_number, u"2"},
        {"list.1", JSON_number, u"2"},
        {"list[2].deep", JSON_string, u"yes"},
        {"list.5", JSON_undefined, u""},
        {"list[-1]", JSON_undefined, u""},
        {"list[99999999999]", JSON_undefined, u""}, // beyond 32 bits: past the end, not element 0
        {"name.length", JSON_undefined, u""},
        {"missing.x", JSON_undefined, u""},
        {"a..b", JSON_undefined, u""},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors(false);
        VJSONValue found = root.GetObject()->GetPropertyWithPath(Str(row.fPath));
        EXPECT_EQ(found.GetType(), row.fType) << row.fPath;
        EXPECT_EQ(TextOf(found), row.fText) << row.fPath;
    }
    EXPECT_TRUE(VJSONValue::GetBoolByPath(root, Str("flag")));
    EXPECT_FALSE(VJSONValue::GetBoolByPath(root, Str("name")));
    EXPECT_EQ(VJSONValue::GetLongByPath(root, Str("list[1]")), 2);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, Str("name")), 0);
    VString text;
    EXPECT_TRUE(VJSONValue::GetStringByPath(root, Str("list[2].deep"), text));
    EXPECT_EQ(Text(text), u"yes");
    EXPECT_FALSE(VJSONValue::GetStringByPath(VJSONValue(1.0), Str("name"), text)) << "not an object";
    EXPECT_EQ(root.GetObject()->GetPropertyWithPath(std::vector<VString>{}).GetObject(), root.GetObject())
        << "no parts give the object itself";
}

TEST_F(JSONPaths, SetPropertyWithPathCreatesObjectsAndArrays)
{
    VJSONValue root(JSON_object);
    VJSONObject* object = root.GetObject();
    ASSERT_TRUE(object->SetPropertyWithPath(Str("a.b[2].c"), VJSONValue(1.0)));
    VJSONValue a = object->GetProperty(Str("a"));
    ASSERT_TRUE(a.IsObject());
    VJSONValue b = a.GetObject()->GetProperty(Str("b"));
    ASSERT_TRUE(b.IsArray());
    ASSERT_EQ(b.GetArray()->GetCount(), 3u);
    EXPECT_TRUE(b.GetArray()->GetAt(0).IsNull());
    EXPECT_TRUE(b.GetArray()->GetAt(1).IsNull());
    EXPECT_EQ(object->GetPropertyWithPath(Str("a.b[2].c")).GetNumber(), 1);

    // Existing containers are walked, null steps replaced, arrays grown.
    object->SetProperty(Str("n"), VJSONValue(JSON_null));
    EXPECT_TRUE(object->SetPropertyWithPath(Str("n.0.x"), VJSONValue(Str("v"))));
    EXPECT_TRUE(object->GetProperty(Str("n")).IsArray()) << "a digits part after a null makes an array";
    EXPECT_TRUE(object->SetPropertyWithPath(Str("a.b[4]"), VJSONValue(5.0)));
    EXPECT_EQ(b.GetArray()->GetCount(), 5u);
    EXPECT_EQ(object->GetPropertyWithPath(Str("a.b[2].c")).GetNumber(), 1) << "the walk kept what was there";

    // A negative index changes no array.
    EXPECT_TRUE(object->SetPropertyWithPath(Str("a.b[-1]"), VJSONValue(7.0)));
    EXPECT_TRUE(object->SetPropertyWithPath(Str("a.b[-1].z"), VJSONValue(7.0)));
    EXPECT_EQ(b.GetArray()->GetCount(), 5u);

    EXPECT_TRUE(
        object->SetPropertiesWithPaths({{Str("p.q"), VJSONValue(1.0)}, {Str("p.r"), VJSONValue(2.0)}}));
    EXPECT_EQ(NamesOf(object->GetProperty(Str("p")).GetObject()), u"q,r");
    EXPECT_TRUE(object->SetPropertiesWithPaths({}));
}

// Walking into a number or a string is a failure: the error is on the context and the result is
// false, so that a list of paths stops there.
TEST_F(JSONPaths, SetPropertyWithPathThroughAScalarFails)
{
    struct Row
    {
        const char* fPath;
        VError fError;
    };
    const Row rows[] = {
        {"a.b", VE_JSON_PATH_NAME_IN_SCALAR},
        {"a.0", VE_JSON_PATH_INDEX_IN_SCALAR},
        {"a[0]", VE_JSON_PATH_INDEX_IN_SCALAR},
        {"s.x.y", VE_JSON_PATH_NAME_IN_SCALAR},
    };
    for (const Row& row : rows)
    {
        VJSONValue root = MakeObject({{"a", VJSONValue(5.0)}, {"s", VJSONValue(Str("text"))}});
        StErrorContextInstaller errors;
        EXPECT_FALSE(root.GetObject()->SetPropertyWithPath(Str(row.fPath), VJSONValue(1.0))) << row.fPath;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fPath;
        VErrorBase* error = errors.GetContext()->GetLast();
        ASSERT_NE(error, nullptr);
        VJSONValue p1 = VJSONValue(error->GetParameters()).GetProperty(Str("p1"));
        EXPECT_EQ(TextOf(p1), std::u16string(1, static_cast<char16_t>(row.fPath[0])))
            << row.fPath << ": the parameter is the part before the scalar";
        EXPECT_EQ(root.GetObject()->GetProperty(Str("a")).GetNumber(), 5) << "the scalar is left alone";
    }

    VJSONValue root = MakeObject({{"a", VJSONValue(5.0)}});
    StErrorContextInstaller errors;
    EXPECT_FALSE(root.GetObject()->SetPropertiesWithPaths(
        {{Str("x"), VJSONValue(1.0)}, {Str("a.b"), VJSONValue(2.0)}, {Str("y"), VJSONValue(3.0)}}));
    EXPECT_TRUE(root.GetObject()->HasOwnProperty(Str("x")));
    EXPECT_FALSE(root.GetObject()->HasOwnProperty(Str("y"))) << "the list stops at the failed path";
}

// An index far past the end would make the array allocate that many elements: growth by path is
// capped, and an index too large for 32 bits never falls back to element 0.
TEST_F(JSONPaths, PathIndexPastTheCapIsRefused)
{
    struct Row
    {
        const char* fPath;
        bool fAccepted;
        size_t fCount;
    };
    const Row rows[] = {
        {"a[99999999]", false, 1},    {"a[99999999].x", false, 1},
        {"a[99999999999]", false, 1}, {"a[18446744073709551616]", false, 1},
        {"a[999999]", true, 1000000},
    };
    for (const Row& row : rows)
    {
        VJSONValue root = MakeObject({{"a", MakeArray({VJSONValue(Str("first"))})}});
        StErrorContextInstaller errors;
        EXPECT_EQ(root.GetObject()->SetPropertyWithPath(Str(row.fPath), VJSONValue(1.0)), row.fAccepted)
            << row.fPath;
        VJSONArray* array = root.GetObject()->GetProperty(Str("a")).GetArray();
        EXPECT_EQ(array->GetCount(), row.fCount) << row.fPath;
        EXPECT_EQ(TextOf(array->GetAt(0)), u"first") << row.fPath << ": element 0 untouched";
        EXPECT_EQ(errors.GetLastError(), row.fAccepted ? VE_OK : VE_INVALID_PARAMETER) << row.fPath;
    }
}

TEST_F(JSONPaths, StampsByPath)
{
    VJSONValue root =
        MakeObject({{"o", MakeObject({{"x", VJSONValue(1.0)}})}, {"l", MakeArray({VJSONValue(1.0)})}});
    VJSONObject* object = root.GetObject();
    uint32_t x = object->GetPropertyStampWithPath(Str("o.x"));
    EXPECT_NE(x, 0u);
    object->TouchPropertyStampWithPath(Str("o.x"));
    EXPECT_GT(object->GetPropertyStampWithPath(Str("o.x")), x);
    uint32_t element = object->GetPropertyStampWithPath(Str("l[0]"));
    EXPECT_NE(element, 0u);
    object->TouchPropertyStampWithPath(Str("l[0]"));
    EXPECT_GT(object->GetPropertyStampWithPath(Str("l[0]")), element);
    EXPECT_EQ(object->GetPropertyStampWithPath(Str("l.length")), 1u);
    EXPECT_EQ(object->GetPropertyStampWithPath(Str("l[3]")), 0u);
    EXPECT_EQ(object->GetPropertyStampWithPath(Str("o")), object->GetPropertyStamp(Str("o")));
    StErrorContextInstaller errors(false);
    EXPECT_EQ(object->GetPropertyStampWithPath(Str("a..b")), 0u);
}

} // namespace
