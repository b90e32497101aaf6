#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

VJSONValue Date(short inYear, short inMonth, short inDay)
{
    VJSONValue date;
    date.SetDate(inYear, inMonth, inDay);
    return date;
}

VJSONValue Bool(bool inValue)
{
    VJSONValue value;
    value.SetBool(inValue);
    return value;
}

TEST(JSONValue, ConstructionSettersAndClear)
{
    struct Row
    {
        const char* fWhat;
        std::function<VJSONValue()> fMake;
        JSONType fType;
        bool fBool;
    };
    const Row rows[] = {
        {"default", [] { return VJSONValue(); }, JSON_undefined, false},
        {"null VString", [] { return VJSONValue(VString(true)); }, JSON_null, false},
        {"empty VString", [] { return VJSONValue(VString("")); }, JSON_string, false},
        {"string type: no buffer", [] { return VJSONValue(JSON_string); }, JSON_string, false},
        {"text", [] { return VJSONValue(Str("abc")); }, JSON_string, true},
        {"null object pointer", [] { return VJSONValue(static_cast<VJSONObject*>(nullptr)); }, JSON_null,
         false},
        {"object type makes an object", [] { return VJSONValue(JSON_object); }, JSON_object, true},
        {"array type makes an array", [] { return VJSONValue(JSON_array); }, JSON_array, true},
        {"SetBool(true)", [] { return Bool(true); }, JSON_true, true},
        {"SetBool(false)", [] { return Bool(false); }, JSON_false, false},
        {"number 0", [] { return VJSONValue(0.0); }, JSON_number, false},
        {"number NaN", [] { return VJSONValue(std::nan("")); }, JSON_number, true},
        {"date", [] { return Date(2024, 3, 5); }, JSON_date, true},
        {"date 0", [] { return VJSONValue(JSON_date); }, JSON_date, false},
        {"Clear of true",
         []
         {
             auto v = Bool(true);
             v.Clear();
             return v;
         },
         JSON_false, false},
        {"Clear of text",
         []
         {
             VJSONValue v(Str("abc"));
             v.Clear();
             return v;
         },
         JSON_string, false},
        {"Clear of an object",
         []
         {
             VJSONValue v(JSON_object);
             v.Clear();
             return v;
         },
         JSON_null, false},
        {"Clear of a number",
         []
         {
             VJSONValue v(4.0);
             v.Clear();
             return v;
         },
         JSON_number, false},
        {"Clear of undefined",
         []
         {
             VJSONValue v;
             v.Clear();
             return v;
         },
         JSON_undefined, false},
        {"SetString(null VString)",
         []
         {
             VJSONValue v(1.0);
             v.SetString(VString(true));
             return v;
         },
         JSON_null, false},
    };
    for (const Row& row : rows)
    {
        VJSONValue value = row.fMake();
        EXPECT_EQ(value.GetType(), row.fType) << row.fWhat;
        EXPECT_EQ(value.GetBool(), row.fBool) << row.fWhat;
    }
    short year = 0, month = 0, day = 0;
    EXPECT_TRUE(Date(-44, 3, 15).GetDate(&year, &month, &day));
    EXPECT_EQ(year, -44) << "the year is signed";
    EXPECT_EQ(month, 3);
    EXPECT_EQ(day, 15);
    EXPECT_FALSE(VJSONValue(1.0).GetDate(&year, &month, &day));
    EXPECT_EQ(year + month + day, 0);
}

TEST(JSONValue, GetNumber)
{
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        double fExpected;
    };
    const Row rows[] = {
        {"hex 0x1F", VJSONValue(Str("0x1F")), 31},
        {"hex 0X10", VJSONValue(Str("0X10")), 16},
        {"hex is unsigned 64-bit", VJSONValue(Str("0xFFFFFFFFFFFFFFFF")), 18446744073709551615.0},
        {"exponent", VJSONValue(Str("1e3")), 1000},
        {"real with blanks", VJSONValue(Str("  2.5")), 2.5},
        {"not a number", VJSONValue(Str("abc")), 0},
        {"true", Bool(true), 1},
        {"false", Bool(false), 0},
        {"date", Date(2024, 3, 5), 0},
        {"null", VJSONValue(JSON_null), 0},
        {"object", VJSONValue(JSON_object), 0},
        {"number", VJSONValue(-7.5), -7.5},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fValue.GetNumber(), row.fExpected) << row.fWhat;
    }
}

TEST(JSONValue, GetString)
{
    VJSONValue nested =
        MakeArray({MakeArray({VJSONValue(1.0), VJSONValue(2.0)}), MakeArray({VJSONValue(3.0)})});
    VJSONValue twice = MakeArray({VJSONValue(1.0)});
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        std::u16string fExpected;
    };
    const Row rows[] = {
        {"null", VJSONValue(JSON_null), u""},
        {"undefined", VJSONValue(), u""},
        {"false", Bool(false), u"false"},
        {"true", Bool(true), u"true"},
        {"string", VJSONValue(Str("a b")), u"a b"},
        {"integer", VJSONValue(3.0), u"3"},
        {"real", VJSONValue(0.1), u"0.1"},
        {"NaN", VJSONValue(std::nan("")), u"null"},
        {"object", VJSONValue(JSON_object), u"[object Object]"},
        {"array with null", MakeArray({VJSONValue(1.0), VJSONValue(JSON_null), VJSONValue(Str("a"))}),
         u"1,,a"},
        {"nested arrays", nested, u"1,2,3"},
        {"one array twice side by side", MakeArray({twice, twice}), u"1,1"},
        {"empty array", VJSONValue(JSON_array), u""},
    };
    for (const Row& row : rows)
    {
        VString text(true);
        EXPECT_EQ(row.fValue.GetString(text), VE_OK) << row.fWhat;
        EXPECT_EQ(Text(text), row.fExpected) << row.fWhat;
        EXPECT_FALSE(text.IsNull()) << row.fWhat;
    }

    VJSONValue cyclic = MakeArray({VJSONValue(1.0)});
    ASSERT_TRUE(cyclic.GetArray()->SetAt(1, cyclic, true));
    VString text;
    EXPECT_EQ(cyclic.GetString(text), VE_JSON_CIRCULAR_ARRAY);
    cyclic.GetArray()->Resize(0, JSON_null); // breaks the cycle so the array can be freed

    EXPECT_EQ(Date(2024, 3, 5).GetString(text), VE_OK);
    EXPECT_EQ(Text(text), u"2024-03-05") << "the JSON text of that day at midnight UTC";
}

TEST(JSONValue, DatesAsTimes)
{
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 250);
    VJSONValue date(time);
    ASSERT_TRUE(date.IsDate()) << "the UTC day of the time";
    VString text;
    ASSERT_EQ(date.GetString(text), VE_OK);
    VTime back;
    ASSERT_EQ(back.FromJSONString(text), VE_OK);
    VTime midnight;
    midnight.FromUTCTime(2026, 12, 9, 0, 0, 0, 0);
    EXPECT_TRUE(back == midnight) << "the date comes back, the time of day dropped";

    std::unique_ptr<VValueSingle> value(date.CreateVValue(false));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->GetValueKind(), VK_TIME);
    EXPECT_FALSE(value->IsNull());
    EXPECT_TRUE(static_cast<VTime&>(*value) == midnight);

    VTime null;
    null.SetNull(true);
    EXPECT_TRUE(VJSONValue(null).IsNull());
    date.SetTime(null);
    EXPECT_TRUE(date.IsNull());

    // GetTime: a date at midnight UTC, a string by the loose reader, anything else null.
    VJSONValue string(VString("9!12!2026"));
    string.GetTime(back);
    EXPECT_TRUE(back == midnight);
    VJSONValue(2.5).GetTime(back);
    EXPECT_TRUE(back.IsNull());
}

TEST(JSONValue, CompareToOrdersByTypeThenContent)
{
    VCompareOptions options;
    VJSONValue object(JSON_object);
    VJSONValue other(JSON_object);
    struct Row
    {
        const char* fWhat;
        VJSONValue fA;
        VJSONValue fB;
        CompareResult fExpected;
    };
    const Row rows[] = {
        {"null vs undefined", VJSONValue(JSON_null), VJSONValue(), CR_EQUAL},
        {"undefined vs null", VJSONValue(), VJSONValue(JSON_null), CR_EQUAL},
        {"string 1 before number 1", VJSONValue(Str("1")), VJSONValue(1.0), CR_SMALLER},
        {"number after string", VJSONValue(1.0), VJSONValue(Str("1")), CR_BIGGER},
        {"false before true", Bool(false), Bool(true), CR_SMALLER},
        {"null before false", VJSONValue(JSON_null), Bool(false), CR_SMALLER},
        {"undefined after an object", VJSONValue(), object, CR_BIGGER},
        {"strings", VJSONValue(Str("a")), VJSONValue(Str("b")), CR_SMALLER},
        {"equal strings, different buffers", VJSONValue(Str("same")), VJSONValue(Str("same")), CR_EQUAL},
        {"numbers within epsilon", VJSONValue(1.0), VJSONValue(1.0 + 1e-9), CR_EQUAL},
        {"numbers", VJSONValue(2.0), VJSONValue(1.0), CR_BIGGER},
        {"same object", object, object, CR_EQUAL},
        {"dates", Date(2024, 3, 5), Date(2024, 3, 6), CR_SMALLER},
        {"dates with a negative year", Date(-1, 1, 1), Date(1, 1, 1), CR_SMALLER},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fA.CompareTo(row.fB, options), row.fExpected) << row.fWhat;
    }
    CompareResult objects = object.CompareTo(other, options);
    EXPECT_NE(objects, CR_EQUAL) << "different objects";
    EXPECT_EQ(other.CompareTo(object, options), VValue::InvertCompResult(objects)) << "ordered by address";

    EXPECT_FALSE(VJSONValue(JSON_null).DeepEqualTo(VJSONValue(), options)) << "types differ";
    EXPECT_TRUE(VJSONValue(Str("x")).DeepEqualTo(VJSONValue(Str("x")), options));
}

TEST(JSONValue, StampsOnCopyMoveAndSet)
{
    EXPECT_EQ(VJSONValue::sUndefined.GetStamp(), 1u);
    EXPECT_EQ(VJSONValue::sLastType.GetStamp(), 5u);
    EXPECT_EQ(static_cast<int>(VJSONValue::sLastType.GetType()), 9);

    VJSONValue original(Str("text"));
    uint32_t stamp = original.GetStamp();
    EXPECT_EQ(stamp, VJSONValue::GetLastStamp());

    VJSONValue copy(original);
    EXPECT_EQ(copy.GetStamp(), stamp + 1) << "a copy takes the next stamp";
    VJSONValue assigned;
    assigned = original;
    EXPECT_EQ(assigned.GetStamp(), VJSONValue::GetLastStamp()) << "copy assignment takes a new stamp";
    EXPECT_GT(assigned.GetStamp(), copy.GetStamp());

    VJSONValue moved(std::move(copy));
    EXPECT_EQ(moved.GetStamp(), stamp + 1) << "a move keeps the stamp";
    VJSONValue moveAssigned;
    moveAssigned = std::move(moved);
    EXPECT_EQ(moveAssigned.GetStamp(), stamp + 1);
    EXPECT_EQ(TextOf(moveAssigned), u"text");

    uint32_t kept = moveAssigned.GetStamp();
    moveAssigned.SetNumber(2);
    moveAssigned.SetString(Str("other"));
    moveAssigned.SetObject(VJSONValue(JSON_object).GetObject());
    moveAssigned.Clear();
    EXPECT_EQ(moveAssigned.GetStamp(), kept) << "setters and Clear keep the stamp";

    // A moved-from container value is null, not an object without an object.
    VJSONValue object(JSON_object);
    VJSONValue taken(std::move(object));
    EXPECT_TRUE(object.IsNull()); // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(taken.IsObject());
    EXPECT_TRUE(object.GetProperty(Str("a")).IsUndefined());
}

TEST(JSONValue, StringsShareTheBuffer)
{
    VString source("shared text");
    uint32_t before = source.GetBufferRefCount();
    {
        VJSONValue value(source);
        EXPECT_EQ(source.GetBufferRefCount(), before + 1);
        VJSONValue copy(value);
        EXPECT_EQ(source.GetBufferRefCount(), before + 2);
        VString out;
        copy.GetString(out);
        EXPECT_EQ(out.GetCPointer(), source.GetCPointer()) << "no text copied";
        value.SetString(source);
        EXPECT_EQ(source.GetBufferRefCount(), before + 3) << "same buffer: no new reference";
    }
    EXPECT_EQ(source.GetBufferRefCount(), before);
}

// Several tasks making values at once must never share a stamp: the counter is atomic.
TEST(JSONValue, StampsStayDistinctAcrossThreads)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 5000;
    VJSONValue text(Str("shared by every thread"));
    std::vector<std::vector<uint32_t>> stamps(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [&text, &out = stamps[static_cast<size_t>(t)]]
            {
                for (int i = 0; i < kPerThread; ++i)
                {
                    VJSONValue copy(text); // also takes a string tag and a buffer reference
                    out.push_back(copy.GetStamp());
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    std::set<uint32_t> all;
    for (const auto& list : stamps)
    {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
}

class ValueImplementation : public IJSONObject
{
public:
    VValueSingle* IJSON_CreateVValue() override { return new VLong(7); }
};

TEST(JSONValue, CreateVValue)
{
    auto stringOf = [](const VValueSingle& inValue)
    {
        VString text;
        inValue.GetString(text);
        return Text(text);
    };
    const std::u16string objectMarker = {1, 2, 3, 1};
    const std::u16string arrayMarker = {1, 2, 3, 2};
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        bool fMarkers;
        ValueKind fKind;
        bool fNull;
        std::u16string fText;
    };
    const Row rows[] = {
        {"true", Bool(true), false, VK_BOOLEAN, false, u"true"},
        {"string", VJSONValue(Str("abc")), false, VK_STRING, false, u"abc"},
        {"number", VJSONValue(2.5), false, VK_REAL, false, u"2.5"},
        {"object with markers", VJSONValue(JSON_object), true, VK_STRING, false, objectMarker},
        {"object without", VJSONValue(JSON_object), false, VK_STRING, true, u""},
        {"array with markers", VJSONValue(JSON_array), true, VK_STRING, false, arrayMarker},
        {"null", VJSONValue(JSON_null), true, VK_STRING, true, u""},
        {"undefined", VJSONValue(), false, VK_STRING, true, u""},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValueSingle> value(row.fValue.CreateVValue(row.fMarkers));
        ASSERT_NE(value, nullptr) << row.fWhat;
        EXPECT_EQ(value->GetValueKind(), row.fKind) << row.fWhat;
        EXPECT_EQ(value->IsNull(), row.fNull) << row.fWhat;
        EXPECT_EQ(stringOf(*value), row.fText) << row.fWhat;
    }
    auto* implementation = new ValueImplementation();
    VJSONObject* native = new VJSONObject(implementation);
    implementation->Release();
    std::unique_ptr<VValueSingle> value(VJSONValue(native).CreateVValue(false));
    native->Release();
    EXPECT_EQ(value->GetValueKind(), VK_LONG) << "the implementation's value";
}

// The scalar kinds of the kernel read and write JSON values through the hooks this library
// installs.
TEST(JSONValue, ScalarKindsConvertThroughTheKernelHooks)
{
    VJSONValue json;
    ASSERT_EQ(VReal(2.5).GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNumber());
    EXPECT_EQ(json.GetNumber(), 2.5);
    VBoolean(true).GetJSONValue(json);
    EXPECT_EQ(json.GetType(), JSON_true);
    VLong nullLong;
    nullLong.SetNull(true);
    nullLong.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());

    VLong number;
    number.FromJSONValue(VJSONValue(3.7));
    EXPECT_EQ(number.GetLong(), 3);
    number.FromJSONValue(VJSONValue(Str("0x10")));
    EXPECT_EQ(number.GetLong(), 16);
    number.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(number.IsNull());
    VBoolean flag;
    flag.FromJSONValue(VJSONValue(Str("x")));
    EXPECT_TRUE(flag.GetBoolean()) << "a string with text is true";
}

} // namespace
