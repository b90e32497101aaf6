// The JSON text writer: exact texts for every form and option, the refusals (cycles, repeats,
// native objects) with the output left as it was, the 0x4000 stop, and depth.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "tests/toolbox/kernel/TimeZoneTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

using namespace zorn;
using namespace zorn::test;

namespace
{

class JSONWriterText : public TimeZoneTest
{
};

std::u16string Write(const VJSONValue& inValue, uint32_t inOptions)
{
    VString text;
    EXPECT_EQ(VE_OK, inValue.Stringify(text, inOptions));
    return Text(text);
}

VJSONValue Date(short inYear, short inMonth, short inDay)
{
    VJSONValue date(JSON_date);
    date.SetDate(inYear, inMonth, inDay);
    return date;
}

TEST_F(JSONWriterText, ExactTexts)
{
    // Local dates are read in a zone east of UTC, so local midnight is the previous UTC day.
    UseZone("Asia/Tokyo");
    const double twoTo53 = 9007199254740992.0;
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        uint32_t fOptions;
        const char16_t* fExpected;
    };
    const Row rows[] = {
        {"undefined is written as null", VJSONValue(), 1, u"null"},
        {"null", VJSONValue(JSON_null), 1, u"null"},
        {"booleans", MakeArray({VJSONValue(JSON_true), VJSONValue(JSON_false)}), 1, u"[true,false]"},
        {"NaN", VJSONValue(std::nan("")), 1, u"null"},
        {"+inf", VJSONValue(std::numeric_limits<double>::infinity()), 1, u"null"},
        {"-inf", VJSONValue(-std::numeric_limits<double>::infinity()), 1, u"null"},
        {"3.0 as an integer", VJSONValue(3.0), 1, u"3"},
        {"2^53 in full", VJSONValue(twoTo53), 1, u"9007199254740992"},
        {"-0 keeps its sign", VJSONValue(-0.0), 1, u"-0"},
        {"the shortest text that reads back", VJSONValue(0.1 + 0.2), 1, u"0.30000000000000004"},
        {"2^53-1 as an integer", VJSONValue(twoTo53 - 1), 1, u"9007199254740991"},
        {"without 0x1 nothing is quoted", MakeObject({{"a", VJSONValue(Str("x"))}}), 0, u"{a:x}"},
        {"with 0x1 names and strings are quoted", MakeObject({{"a", VJSONValue(Str("x"))}}), 1,
         u"{\"a\":\"x\"}"},
        {"escaping", VJSONValue(Str("q\"b\\n\n&'")), 1, u"\"q\\\"b\\\\n\\n&'\""},
        {"0x10 raw", MakeObject({{"n\"", VJSONValue(Str("q\"\n"))}}), 0x11, u"{\"n\"\":\"q\"\n\"}"},
        {"0x400 escapes & and '", VJSONValue(Str("&'")), 0x401, u"\"\\u0026\\u0027\""},
        {"a date at 00:00 UTC", Date(2026, 12, 9), 1, u"\"2026-12-09T00:00:00.000Z\""},
        {"0x200 short date", Date(2026, 12, 9), 0x201, u"\"2026-12-09\""},
        {"0x1000 date markers", Date(2026, 12, 9), 0x1001, u"\"!!2026-12-09T00:00:00.000Z!!\""},
        {"0x80 local midnight", Date(2026, 12, 9), 0x81, u"\"2026-12-08T15:00:00.000Z\""},
        {"empty object, pretty", VJSONValue(JSON_object), 9, u"{}"},
        {"empty array, pretty", VJSONValue(JSON_array), 9, u"[]"},
        {"empty containers inside, pretty", MakeArray({VJSONValue(JSON_object), VJSONValue(JSON_array)}), 9,
         u"[\n\t{},\n\t[]\n]"},
        {"compact nesting",
         MakeObject({{"a", VJSONValue(1.0)}, {"b", MakeArray({VJSONValue(1.0), VJSONValue(2.0)})}}), 1,
         u"{\"a\":1,\"b\":[1,2]}"},
        {"three levels, pretty",
         MakeObject({{"a", VJSONValue(1.0)},
                     {"b", MakeArray({VJSONValue(1.0), MakeObject({{"c", VJSONValue(Str("d"))}})})},
                     {"e", VJSONValue(JSON_null)}}),
         9, u"{\n\t\"a\": 1,\n\t\"b\": [\n\t\t1,\n\t\t{\n\t\t\t\"c\": \"d\"\n\t\t}\n\t],\n\t\"e\": null\n}"},
        {"five levels, pretty (tabs written in groups of four)",
         MakeArray({MakeArray({MakeArray({MakeArray({MakeArray({VJSONValue(1.0)})})})})}), 9,
         u"[\n\t[\n\t\t[\n\t\t\t[\n\t\t\t\t[\n\t\t\t\t\t1\n\t\t\t\t]\n\t\t\t]\n\t\t]\n\t]\n]"},
        {"insertion order is kept", MakeObject({{"z", VJSONValue(1.0)}, {"a", VJSONValue(2.0)}}), 1,
         u"{\"z\":1,\"a\":2}"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(std::u16string(row.fExpected), Write(row.fValue, row.fOptions)) << row.fWhat;
    }

    VJSONWriter writer(1);
    VString text;
    EXPECT_EQ(VE_OK, writer.StringifyObject(nullptr, text));
    EXPECT_EQ(u"undefined", Text(text)) << "a null object pointer";
    EXPECT_EQ(VE_OK, writer.StringifyArray(nullptr, text));
    EXPECT_EQ(u"undefined", Text(text)) << "a null array pointer";
    VJSONValue withNull = MakeObject({{"a", VJSONValue(1.0)}});
    EXPECT_EQ(VE_OK, writer.StringifyValue(withNull, text));
    EXPECT_EQ(VE_OK, writer.StringifyValue(VJSONValue(2.0), text));
    EXPECT_EQ(u"2", Text(text)) << "every call replaces the output";
}

// A native implementation with a compact form of its own, that also writes its own text when
// fText is set.
class NativeImpl : public IJSONObject
{
public:
    uint32_t fSignature = 0;
    bool fWritesText = false;
    VError fError = VE_OK;

    uint32_t IJSON_GetBinarySignature() override { return fSignature; }
    EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter& ioWriter, VString& outText,
                                VError* outError) override
    {
        if (fError != VE_OK)
        {
            *outError = fError;
            return eJSONStatusFailed;
        }
        if (!fWritesText)
        {
            return eJSONStatusNotHandled;
        }
        outText.FromCString("<native>");
        ioWriter.AppendIndentString(outText);
        return eJSONStatusDone;
    }
};

VJSONValue NativeObject(uint32_t inSignature, bool inWritesText, VError inError = VE_OK)
{
    VRefPtr<NativeImpl> impl(new NativeImpl, true);
    impl->fSignature = inSignature;
    impl->fWritesText = inWritesText;
    impl->fError = inError;
    VJSONValue value;
    value.AdoptObject(new VJSONObject(impl.Get()));
    value.GetObject()->SetProperty(Str("p"), VJSONValue(1.0));
    return value;
}

TEST(JSONWriterNative, ItsOwnTextIsUsedOrTheGenericForm)
{
    EXPECT_EQ(u"[<native>,1]", Write(MakeArray({NativeObject(0, true), VJSONValue(1.0)}), 1));
    EXPECT_EQ(u"{\"p\":1}", Write(NativeObject(7, false), 1)) << "not handled: the generic form";
}

TEST(JSONWriterErrors, RefusalsLeaveTheOutputAndTheWriterAsTheyWere)
{
    VJSONValue selfObject = MakeObject({{"a", VJSONValue(1.0)}});
    selfObject.GetObject()->SetProperty(Str("me"), selfObject);
    VJSONValue selfArray = MakeArray({VJSONValue(1.0)});
    selfArray.GetArray()->Push(selfArray);
    VJSONValue shared = MakeObject({{"x", VJSONValue(1.0)}});
    VJSONValue twice = MakeArray({shared, shared});
    const VError kCustom = MakeVError(kCOMPONENT_ZORN, 4242);
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        uint32_t fOptions;
        VError fError;
        const char16_t* fText; // on success
    };
    const Row rows[] = {
        {"an object containing itself", selfObject, 1, VE_JSON_CIRCULAR_ARRAY, nullptr},
        {"0x2000 marks it at the inner place", selfObject, 0x2001, VE_OK, u"{\"a\":1,\"me\":\"[circular]\"}"},
        {"an array containing itself", selfArray, 1, VE_JSON_CIRCULAR_ARRAY, nullptr},
        {"arrays have no circular form", selfArray, 0x2001, VE_JSON_CIRCULAR_ARRAY, nullptr},
        {"a cycle deeper down", MakeArray({VJSONValue(2.0), selfObject}), 1, VE_JSON_CIRCULAR_ARRAY, nullptr},
        {"the same object twice is no cycle", twice, 1, VE_OK, u"[{\"x\":1},{\"x\":1}]"},
        {"0x10000 refuses it", twice, 0x10001, VE_JSON_OBJECT_REPEATED, nullptr},
        {"0x100 refuses a binary native", MakeArray({NativeObject(7, true)}), 0x101, VE_JSON_BINARY_OBJECT,
         nullptr},
        {"0x100 takes a native without signature", NativeObject(0, true), 0x101, VE_OK, u"<native>"},
        {"the native's error is returned", MakeArray({NativeObject(0, true, kCustom)}), 1, kCustom, nullptr},
    };
    for (const Row& row : rows)
    {
        VJSONWriter writer(row.fOptions);
        VString out("before");
        EXPECT_EQ(row.fError, writer.StringifyValue(row.fValue, out)) << row.fWhat;
        EXPECT_EQ(row.fText != nullptr ? std::u16string(row.fText) : u"before", Text(out)) << row.fWhat;
        EXPECT_EQ(0, writer.GetLevel()) << row.fWhat;
        // The writer can write again: its open path is empty.
        EXPECT_EQ(VE_OK, writer.StringifyValue(VJSONValue(1.0), out)) << row.fWhat;
    }
    // Break the cycles so the values are freed.
    selfObject.GetObject()->Clear();
    selfArray.GetArray()->Clear();
}

TEST(JSONWriterErrors, NonGenericObjects)
{
    // Every object is generic until script classes exist: 0x8000 changes nothing yet.
    EXPECT_EQ(u"{\"a\":1}", Write(MakeObject({{"a", VJSONValue(1.0)}}), 0x8001));
}

TEST(JSONWriterTruncate, StopsAfterTheElementAtWhich513WereCounted)
{
    // Elements of 22 characters: before element i, 22 * i were counted; 22 * 24 = 528 is the
    // first count of 513 or more, so elements 0 to 24 are written.
    VJSONValue array(JSON_array);
    std::u16string element = u"\"" + std::u16string(20, u'x') + u"\"";
    for (int i = 0; i < 100; ++i)
    {
        array.GetArray()->Push(VJSONValue(Str(std::string(20, 'x').c_str())));
    }
    std::u16string expected = u"[";
    for (int i = 0; i < 25; ++i)
    {
        expected += (i > 0 ? u"," : u"") + element;
    }
    expected += u"...";
    EXPECT_EQ(expected, Write(array, 0x4001));

    // Nested: the inner array stops, the outer stops with it, "..." once at the inner stop.
    VJSONValue outer = MakeArray({array, array});
    std::u16string nested = Write(outer, 0x4001);
    EXPECT_EQ(u"[" + expected, nested);

    // Objects stop after the member at which more than 512 were counted.
    VJSONValue object(JSON_object);
    for (int i = 0; i < 100; ++i)
    {
        object.GetObject()->SetProperty(VString(std::to_string(100 + i).c_str()),
                                        VJSONValue(Str("xxxxxxxxxxxxxxxx")));
    }
    std::u16string text = Write(object, 0x4001);
    // Members "1nn":"xxxxxxxxxxxxxxxx" are 24 characters: 24 * 22 = 528 is the first above 512.
    EXPECT_EQ(size_t(1 + 23 * 25 - 1 + 3), text.size()) << "23 members, 22 commas, '{' and '...'";
    EXPECT_EQ(u"...", text.substr(text.size() - 3));
    EXPECT_EQ(std::u16string::npos, text.find(u'}'));

    VString description;
    object.GetObject()->GetDescription(description, true);
    EXPECT_EQ(text, Text(description)) << "a truncated description is the same text";
}

// Texts longer than a string's escaping chunk (4096 units) and than the writer's first block:
// escapes on both sides of the chunk boundaries, and a text handed over as the output string's
// own buffer, which copies share, writes copy and the last owner frees.
TEST(JSONWriterLongTexts, AreWrittenWholeIntoAStringOfTheirOwn)
{
    std::u16string units(10000, u'a');
    const std::pair<size_t, char16_t> specials[] = {{0, u'"'},      {4095, u'\n'}, {4096, u'&'},
                                                    {8191, u'\\'},  {8192, u'\''}, {5000, u'\u00E9'},
                                                    {9999, u'\x01'}};
    for (auto [at, unit] : specials)
    {
        units[at] = unit;
    }
    const VString string(reinterpret_cast<const UniChar*>(units.data()), static_cast<int32_t>(units.size()));
    for (uint32_t options : {0x1U, 0x401U, 0x0U})
    {
        VString expected;
        ASSERT_EQ(VE_OK, string.GetJSONString(expected, options));
        EXPECT_EQ(Text(expected), Write(VJSONValue(string), options)) << "options " << options;
    }

    VJSONValue array(JSON_array);
    std::u16string expected = u"[";
    for (int i = 0; i < 3000; ++i)
    {
        array.GetArray()->Push(VJSONValue(static_cast<double>(i)));
        expected += Text(VString(std::to_string(i).c_str())) + u",";
    }
    array.GetArray()->Push(VJSONValue(Str("end")));
    expected += u"\"end\"]";
    VJSONWriter writer(1);
    VString text;
    ASSERT_EQ(VE_OK, writer.StringifyValue(array, text));
    EXPECT_EQ(expected, Text(text));
    VString copy(text);
    copy.AppendUniChar('!');
    EXPECT_EQ(expected + u"!", Text(copy));
    EXPECT_EQ(expected, Text(text)) << "a write to a copy leaves the text as it was";
    text.AppendString(copy);
    EXPECT_EQ(expected + expected + u"!", Text(text));
}

class JSONWriterDepth : public TaskManagerTest
{
};

void WriteDeepArrays()
{
    VJSONValue root(JSON_array);
    VJSONValue cursor = root;
    for (int level = 1; level < 100000; ++level)
    {
        VJSONValue child(JSON_array);
        cursor.GetArray()->Push(child);
        cursor = std::move(child);
    }
    cursor.GetArray()->Push(VJSONValue(1.0));
    VJSONWriter writer(1);
    VString out("before");
    EXPECT_EQ(VE_JSON_NESTING_TOO_DEEP, writer.StringifyValue(root, out));
    EXPECT_EQ(u"before", Text(out));
    EXPECT_EQ(0, writer.GetLevel());
}

TEST_F(JSONWriterDepth, TooDeepGives108OnTheMainThreadAndOnATask)
{
    WriteDeepArrays();
    VRefPtr<VTask> task(new VTask(0, eTaskStylePreemptive, [] { WriteDeepArrays(); }), true);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(600000));
}

} // namespace
