// The path setters (every constructor form of VJSONAlter) and the value iterator over arrays,
// plain objects and objects whose implementation iterates.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONAlter.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONIter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Path errors go to the task's error context.
class JSONAlterIter : public TaskManagerTest
{
};

// The compact text with quoted names and strings, one byte per unit (every unit here is below 256).
std::string JSONText(const VJSONValue& inValue)
{
    VString text;
    EXPECT_EQ(VE_OK, inValue.Stringify(text, 1));
    return Ascii(text);
}

TEST_F(JSONAlterIter, EachFormSetsItsValue)
{
    const UniChar utf16[] = {u'\u00E9', u't', u'\u00E9', 0};
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 250);
    VString timeText;
    time.GetJSONString(timeText, 0);
    struct Row
    {
        const char* fWhat;
        std::function<void(VJSONValue&)> fAlter;
        std::string fText;
    };
    const Row rows[] = {
        {"true", [](VJSONValue& v) { VJSONAlter(v, Str("a"), true); }, R"({"a":true})"},
        {"false", [](VJSONValue& v) { VJSONAlter(v, Str("a"), false); }, R"({"a":false})"},
        {"an int", [](VJSONValue& v) { VJSONAlter(v, Str("a"), -3); }, R"({"a":-3})"},
        {"a double", [](VJSONValue& v) { VJSONAlter(v, Str("a"), 1.25); }, R"({"a":1.25})"},
        {"a string", [](VJSONValue& v) { VJSONAlter(v, Str("a"), Str("s\"t")); }, R"({"a":"s\"t"})"},
        {"a C string", [](VJSONValue& v) { VJSONAlter(v, Str("a"), "c"); }, R"({"a":"c"})"},
        {"a UTF-16 text", [&](VJSONValue& v) { VJSONAlter(v, Str("a"), utf16); }, "{\"a\":\"\xE9t\xE9\"}"},
        {"a value", [](VJSONValue& v) { VJSONAlter(v, Str("a"), MakeArray({VJSONValue(1.0)})); },
         R"({"a":[1]})"},
        {"a new object", [](VJSONValue& v) { VJSONAlter(v, Str("a"), JSON_object); }, R"({"a":{}})"},
        {"a new null", [](VJSONValue& v) { VJSONAlter(v, Str("a"), JSON_null); }, R"({"a":null})"},
        {"a time as its JSON text", [&](VJSONValue& v) { VJSONAlter(v, Str("a"), time); },
         "{\"a\":\"" + Ascii(timeText) + "\"}"},
        {"missing levels are made", [](VJSONValue& v) { VJSONAlter(v, Str("a.b.c"), 1); },
         R"({"a":{"b":{"c":1}}})"},
        {"an index makes an array", [](VJSONValue& v) { VJSONAlter(v, Str("a[2].b"), 1); },
         R"({"a":[null,null,{"b":1}]})"},
        {"the value alone becomes an object", [](VJSONValue& v) { VJSONAlter{v}; }, "{}"},
    };
    // Each form on a value that is no object (a number) and on undefined.
    for (const Row& row : rows)
    {
        for (VJSONValue value : {VJSONValue(5.0), VJSONValue()})
        {
            StErrorContextInstaller errors;
            row.fAlter(value);
            EXPECT_EQ(row.fText, JSONText(value)) << row.fWhat;
            EXPECT_EQ(VE_OK, errors.GetLastError()) << row.fWhat;
        }
    }
}

TEST_F(JSONAlterIter, AnObjectIsChangedInPlace)
{
    VJSONValue value = MakeObject({{"a", MakeObject({{"x", VJSONValue(1.0)}})}, {"a.b", VJSONValue(2.0)}});
    const VJSONObject* object = value.GetObject();
    const VJSONObject* inner = value.GetObject()->GetProperty(Str("a")).GetObject();
    VJSONAlter(value, Str("a.y"), 0.5);
    VJSONAlter{value};
    EXPECT_EQ(object, value.GetObject());
    EXPECT_EQ(inner, value.GetObject()->GetProperty(Str("a")).GetObject());
    EXPECT_EQ(R"({"a":{"x":1,"y":0.5},"a.b":2})", JSONText(value));

    // The new array is handed out: it is the one now in the tree.
    VJSONArray* array = reinterpret_cast<VJSONArray*>(1);
    VJSONAlter(value, Str("list"), JSON_array, &array);
    ASSERT_NE(nullptr, array);
    EXPECT_EQ(array, value.GetObject()->GetProperty(Str("list")).GetArray());
    array->Push(VJSONValue(3.0));
    VJSONAlter(value, Str("n"), JSON_number, &array);
    EXPECT_EQ(nullptr, array) << "no array for another type";
    EXPECT_EQ(R"({"a":{"x":1,"y":0.5},"a.b":2,"list":[3],"n":0})", JSONText(value));
}

TEST_F(JSONAlterIter, TheRemovingFormTakesTheNameAsItIs)
{
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        const char* fName;
        std::string fText;
    };
    const Row rows[] = {
        {"a dotted name is one name",
         MakeObject({{"a", MakeObject({{"b", VJSONValue(1.0)}})}, {"a.b", VJSONValue(2.0)}}), "a.b",
         R"({"a":{"b":1}})"},
        {"a missing name changes nothing", MakeObject({{"a", VJSONValue(1.0)}}), "b", R"({"a":1})"},
        {"a value that is no object stays as it is", VJSONValue(4.0), "a", "4"},
    };
    for (const Row& row : rows)
    {
        VJSONValue value = row.fValue;
        VJSONAlter(value, VString(row.fName));
        EXPECT_EQ(row.fText, JSONText(value)) << row.fWhat;
    }
}

TEST_F(JSONAlterIter, APathThroughAScalarIsRefused)
{
    struct Row
    {
        const char* fWhat;
        const char* fPath;
        VError fError;
    };
    const Row rows[] = {
        {"a name inside a number", "a.b", VE_JSON_PATH_NAME_IN_SCALAR},
        {"an index inside a number", "a[0]", VE_JSON_PATH_INDEX_IN_SCALAR},
        {"an empty part", "a..b", VE_JSON_PATH_EMPTY_PART},
    };
    for (const Row& row : rows)
    {
        VJSONValue value = MakeObject({{"a", VJSONValue(1.0)}});
        VJSONArray* array = reinterpret_cast<VJSONArray*>(1);
        StErrorContextInstaller errors(false);
        VJSONAlter(value, VString(row.fPath), JSON_array, &array);
        EXPECT_EQ(row.fError, errors.GetLastError()) << row.fWhat;
        EXPECT_EQ(nullptr, array) << row.fWhat << ": no array that the tree does not hold";
        EXPECT_EQ(R"({"a":1})", JSONText(value)) << row.fWhat;
    }
}

std::vector<std::string> Walk(VJSONIter* inIter, const std::function<void(size_t)>& inAfterStep = nullptr)
{
    std::vector<std::string> seen;
    VJSONValue value(5.0);
    while (inIter->NextValue(value))
    {
        seen.push_back(JSONText(value));
        if (inAfterStep)
        {
            inAfterStep(seen.size());
        }
    }
    EXPECT_TRUE(value.IsUndefined()) << "the value after the last is undefined";
    EXPECT_FALSE(inIter->NextValue(value)) << "and stays at the end";
    inIter->Release();
    return seen;
}

TEST_F(JSONAlterIter, ArrayRanges)
{
    using Seen = std::vector<std::string>;
    struct Row
    {
        const char* fWhat;
        int fStart;
        int fEnd;
        bool fToEnd;
        Seen fSeen;
    };
    const Row rows[] = {
        {"start 1, end 1 from the end", 1, -1, false, {"1", "2", "3"}},
        {"the whole array", 0, 5, false, {"0", "1", "2", "3", "4"}},
        {"an end past the count is the count", 3, 99, false, {"3", "4"}},
        {"to the end, whatever the end says", 2, 0, true, {"2", "3", "4"}},
        {"a start from the end", -2, 0, true, {"3", "4"}},
        {"a start before the first is the first", -9, 2, false, {"0", "1"}},
        {"an end before the first gives nothing", 0, -9, false, {}},
        {"a start past the end gives nothing", 7, 0, true, {}},
        {"an empty range", 2, 2, false, {}},
    };
    VJSONValue array =
        MakeArray({VJSONValue(0.0), VJSONValue(1.0), VJSONValue(2.0), VJSONValue(3.0), VJSONValue(4.0)});
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fSeen, Walk(new VJSONIter(array.GetArray(), row.fStart, row.fEnd, row.fToEnd)))
            << row.fWhat;
    }
}

TEST_F(JSONAlterIter, ChangesDuringTheWalk)
{
    using Seen = std::vector<std::string>;
    // Elements removed during the walk are never read past the array's end; those that move down
    // are read from where the walk stands.
    VJSONValue array =
        MakeArray({VJSONValue(0.0), VJSONValue(1.0), VJSONValue(2.0), VJSONValue(3.0), VJSONValue(4.0)});
    VJSONArray* elements = array.GetArray();
    EXPECT_EQ((Seen{"0", "1"}), Walk(new VJSONIter(elements, 0, 0, true),
                                     [&](size_t inSeen)
                                     {
                                         if (inSeen == 2)
                                             elements->RemoveAt(2, 3);
                                     }));
    EXPECT_EQ((Seen{"0", "1"}), Walk(new VJSONIter(elements, 0, 0, true),
                                     [&](size_t inSeen)
                                     {
                                         if (inSeen == 1)
                                             elements->Push(VJSONValue(9.0));
                                     }))
        << "the range is fixed when the iterator is made";

    // The iterator holds the array it walks.
    VJSONIter* iter = nullptr;
    {
        VJSONValue held = MakeArray({VJSONValue(Str("kept"))});
        iter = new VJSONIter(held.GetArray(), 0, 0, true);
    }
    EXPECT_EQ((Seen{R"("kept")"}), Walk(iter));

    // Object names are listed when the iterator is made; all are visited.
    VJSONValue object = MakeObject({{"a", VJSONValue(1.0)}, {"b", VJSONValue(2.0)}, {"c", VJSONValue(3.0)}});
    EXPECT_EQ((Seen{R"("a")", R"("b")", R"("c")"}),
              Walk(new VJSONIter(object.GetObject(), 0, 0, false),
                   [&](size_t inSeen)
                   {
                       if (inSeen == 1)
                       {
                           object.GetObject()->RemoveProperty(Str("c"));
                           object.GetObject()->SetProperty(Str("d"), VJSONValue(4.0));
                       }
                   }));
    EXPECT_EQ(Seen{}, Walk(new VJSONIter(static_cast<VJSONObject*>(nullptr), 0, 0, false)));
    EXPECT_EQ(Seen{}, Walk(new VJSONIter(static_cast<VJSONArray*>(nullptr), 0, 0, true)));
}

// An implementation that iterates itself: the numbers from start to end, and the flag.
class CountingImplementation : public IJSONObject
{
public:
    class Iterator : public IJSONNativeIterator
    {
    public:
        Iterator(size_t inStart, size_t inEnd, bool inFlag) : fNext(inStart), fEnd(inEnd), fFlag(inFlag) {}
        bool NextValue(VJSONValue& outValue) override
        {
            if (fNext > fEnd)
                return false;
            outValue =
                fNext == fEnd && fFlag ? VJSONValue(JSON_true) : VJSONValue(static_cast<double>(fNext));
            ++fNext;
            return true;
        }

    private:
        size_t fNext;
        size_t fEnd;
        bool fFlag;
    };
    IJSONNativeIterator* IJSON_MakeIterator(const VJSONObject*, size_t inStart, size_t inEnd,
                                            bool inFlag) override
    {
        return new Iterator(inStart, inEnd, inFlag);
    }
};

TEST_F(JSONAlterIter, AnImplementationWalksItsOwnObject)
{
    using Seen = std::vector<std::string>;
    VRefPtr<CountingImplementation> implementation(new CountingImplementation(), true);
    VRefPtr<VJSONObject> object(new VJSONObject(implementation.Get()), true);
    object->SetOwnProperty(Str("own"), VJSONValue(1.0));
    EXPECT_EQ((Seen{"2", "3", "true"}), Walk(new VJSONIter(object.Get(), 2, 4, true)));
    EXPECT_EQ((Seen{"0", "1"}), Walk(new VJSONIter(object.Get(), -5, 1, false))) << "a negative start is 0";

    // Without an iterator of the implementation's: the names, not the values.
    VJSONValue plain = MakeObject({{"x", VJSONValue(7.0)}, {"y", MakeObject({})}});
    EXPECT_EQ((Seen{R"("x")", R"("y")"}), Walk(new VJSONIter(plain.GetObject(), 5, 9, true)));
}

} // namespace
