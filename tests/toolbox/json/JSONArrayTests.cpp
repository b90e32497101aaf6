#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Array errors go to the task's error context, so these tests run on the main task.
class JSONArrays : public TaskManagerTest
{
};

// An array of the numbers 0 .. inCount-1 with a stamp of its own (owned by the array).
VJSONValue Numbers(size_t inCount)
{
    VJSONValue array(JSON_array);
    VJSONStamp* stamp = new VJSONStamp();
    array.GetArray()->SetJSONStamp(stamp);
    stamp->Release();
    for (size_t i = 0; i < inCount; ++i)
    {
        array.GetArray()->Push(VJSONValue(static_cast<double>(i)));
    }
    return array;
}

std::u16string TextOfArray(const VJSONArray* inArray)
{
    VString text;
    EXPECT_EQ(inArray->GetString(text), VE_OK);
    return Text(text);
}

uint32_t TreeStamp(const VJSONArray* inArray)
{
    return inArray->GetJSONStamp()->GetValue();
}

TEST_F(JSONArrays, SetAtWithAndWithoutGrow)
{
    struct Row
    {
        const char* fWhat;
        size_t fCount;
        size_t fIndex;
        bool fGrow;
        VError fError;
        std::u16string fText; // 9 is the value stored
    };
    const Row rows[] = {
        {"grow from empty fills with nulls", 0, 5, true, VE_OK, u",,,,,9"},
        {"past the end of an empty array without grow", 0, 5, false, VE_JSON_INDEX_OUT_OF_RANGE, u""},
        {"inside without grow", 3, 1, false, VE_OK, u"0,9,2"},
        {"inside with grow changes no count", 3, 0, true, VE_OK, u"9,1,2"},
        {"just past the end with grow", 3, 3, true, VE_OK, u"0,1,2,9"},
        {"just past the end without grow", 3, 3, false, VE_JSON_INDEX_OUT_OF_RANGE, u"0,1,2"},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        VJSONValue holder = Numbers(row.fCount);
        VJSONArray* array = holder.GetArray();
        uint32_t before = TreeStamp(array);
        bool ok = array->SetAt(row.fIndex, VJSONValue(9.0), row.fGrow);
        EXPECT_EQ(ok, row.fError == VE_OK) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        EXPECT_EQ(TextOfArray(array), row.fText) << row.fWhat;
        EXPECT_EQ(TreeStamp(array) != before, ok) << row.fWhat << ": only a change is counted";
        if (ok && row.fGrow && row.fIndex >= row.fCount)
        {
            for (size_t i = row.fCount; i < row.fIndex; ++i)
            {
                EXPECT_TRUE(array->GetAt(i).IsNull()) << row.fWhat << ": element " << i;
            }
        }
    }

    VJSONValue holder = Numbers(1);
    VJSONValue out(1.0);
    EXPECT_FALSE(holder.GetArray()->GetAt(1, out));
    EXPECT_TRUE(out.IsUndefined()) << "GetAt past the end gives undefined";
    EXPECT_TRUE(holder.GetArray()->GetAt(7).IsUndefined());
}

TEST_F(JSONArrays, RemoveAt)
{
    struct Row
    {
        const char* fWhat;
        size_t fIndex;
        size_t fCount;
        std::u16string fText;
    };
    const Row rows[] = {
        {"a count past the end stops at the end", 1, 100, u"0"},
        {"an index at the end removes nothing", 3, 1, u"0,1,2"},
        {"an index far past the end removes nothing", 100, 1, u"0,1,2"},
        {"the first", 0, 1, u"1,2"},
        {"the middle", 1, 1, u"0,2"},
        {"a count of zero", 1, 0, u"0,1,2"},
        {"the largest count does not overflow", 2, SIZE_MAX, u"0,1"},
        {"everything", 0, SIZE_MAX, u""},
    };
    for (const Row& row : rows)
    {
        VJSONValue holder = Numbers(3);
        VJSONArray* array = holder.GetArray();
        uint32_t before = TreeStamp(array);
        array->RemoveAt(row.fIndex, row.fCount);
        EXPECT_EQ(TextOfArray(array), row.fText) << row.fWhat;
        EXPECT_EQ(TreeStamp(array) != before, row.fIndex < 3) << row.fWhat;
    }
}

// Each operation either counts a change of the tree or, refused, leaves the stamp as it was.
TEST_F(JSONArrays, ChangesCountOnTheTreeStamp)
{
    struct Row
    {
        const char* fWhat;
        std::function<void(VJSONArray*)> fChange;
        bool fCounted;
        std::u16string fText;
    };
    VJSONValue empty(JSON_array);
    VJSONValue other = MakeArray({VJSONValue(7.0)});
    const Row rows[] = {
        {"Push", [](VJSONArray* a) { a->Push(VJSONValue(3.0)); }, true, u"0,1,2,3"},
        {"Clear", [](VJSONArray* a) { a->Clear(); }, true, u""},
        {"Resize down", [](VJSONArray* a) { a->Resize(1, JSON_null); }, true, u"0"},
        {"Resize up", [](VJSONArray* a) { a->Resize(4, JSON_true); }, true, u"0,1,2,true"},
        {"Concatenate", [&](VJSONArray* a) { a->Concatenate(*other.GetArray()); }, true, u"0,1,2,7"},
        {"Concatenate with itself", [](VJSONArray* a) { a->Concatenate(*a); }, true, u"0,1,2,0,1,2"},
        {"Concatenate nothing", [&](VJSONArray* a) { a->Concatenate(*empty.GetArray()); }, false, u"0,1,2"},
        {"TouchStampAt changes only the element's stamp", [](VJSONArray* a) { a->TouchStampAt(0); }, false,
         u"0,1,2"},
        {"SetAt refused", [](VJSONArray* a) { a->SetAt(9, VJSONValue(1.0), false); }, false, u"0,1,2"},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        VJSONValue holder = Numbers(3);
        VJSONArray* array = holder.GetArray();
        uint32_t before = TreeStamp(array);
        row.fChange(array);
        EXPECT_EQ(TreeStamp(array) != before, row.fCounted) << row.fWhat;
        EXPECT_EQ(TextOfArray(array), row.fText) << row.fWhat;
    }
}

TEST_F(JSONArrays, ContainersAreSharedAndEachFillGetsItsOwn)
{
    VJSONValue holder = Numbers(0);
    VJSONArray* array = holder.GetArray();
    ASSERT_TRUE(array->Resize(3, JSON_object));
    VJSONObject* first = array->GetAt(0).GetObject();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(array->GetAt(1).GetObject(), first) << "one container per element";
    EXPECT_NE(array->GetAt(2).GetObject(), array->GetAt(1).GetObject());
    EXPECT_EQ(first->GetRefCount(), 1u) << "held by the array alone";
    EXPECT_EQ(first->GetJSONStamp(), array->GetJSONStamp()) << "the new containers join the tree";
    uint32_t before = TreeStamp(array);
    first->SetProperty(Str("x"), VJSONValue(1.0));
    EXPECT_NE(TreeStamp(array), before) << "so their changes count";

    VJSONValue child(JSON_object);
    VJSONValue source = MakeArray({child});
    array->Concatenate(*source.GetArray());
    EXPECT_EQ(array->GetAt(3).GetObject(), child.GetObject()) << "concatenation shares, not copies";
    EXPECT_EQ(child.GetObject()->GetRefCount(), 3u);
    array->RemoveAt(3);
    EXPECT_EQ(child.GetObject()->GetRefCount(), 2u) << "a removed element is released";
    array->Push(child);
    array->Clear();
    EXPECT_EQ(child.GetObject()->GetRefCount(), 2u);

    std::vector<VJSONValue> values;
    source.GetArray()->GetValues(values);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].GetObject(), child.GetObject());
    EXPECT_NE(values[0].GetStamp(), source.GetArray()->GetStampAt(0)) << "copies with stamps of their own";
}

TEST_F(JSONArrays, SwapValuesExchangesBothWays)
{
    VJSONValue kept(JSON_object);
    VJSONValue incoming(JSON_array);
    VJSONValue holder = Numbers(0);
    VJSONArray* array = holder.GetArray();
    array->Push(kept);
    array->Push(VJSONValue(Str("old")));
    uint32_t keptStamp = array->GetStampAt(0);
    std::vector<VJSONValue> values{incoming, VJSONValue(Str("new"))};
    uint32_t before = TreeStamp(array);

    array->SwapValues(values);
    EXPECT_EQ(TextOfArray(array), u",new");
    EXPECT_EQ(array->GetAt(0).GetArray(), incoming.GetArray());
    EXPECT_EQ(incoming.GetArray()->GetJSONStamp(), array->GetJSONStamp())
        << "incoming containers join the tree";
    EXPECT_NE(TreeStamp(array), before);
    ASSERT_EQ(values.size(), 2u) << "the caller gets the previous values";
    EXPECT_EQ(values[0].GetObject(), kept.GetObject());
    EXPECT_EQ(values[0].GetStamp(), keptStamp) << "moved, not copied";
    EXPECT_EQ(TextOf(values[1]), u"old");
    EXPECT_EQ(kept.GetObject()->GetRefCount(), 2u) << "one reference each for the holder and the caller";
    EXPECT_EQ(incoming.GetArray()->GetRefCount(), 2u);

    holder.SetNull(); // the array goes
    EXPECT_EQ(incoming.GetArray()->GetRefCount(), 1u);
    EXPECT_EQ(kept.GetObject()->GetRefCount(), 2u) << "what the caller holds stays alive";
}

TEST_F(JSONArrays, Find)
{
    VJSONValue object(JSON_object);
    VJSONValue holder = MakeArray({VJSONValue(Str("a")), VJSONValue(1.0), VJSONValue(JSON_null), object,
                                   VJSONValue(Str("a")), VJSONValue(Str("A"))});
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        size_t fStart;
        bool fFound;
        size_t fIndex;
    };
    const Row rows[] = {
        {"the first match", VJSONValue(Str("a")), 0, true, 0},
        {"from a start on", VJSONValue(Str("a")), 1, true, 4},
        {"a start past the end", VJSONValue(Str("a")), 9, false, 0},
        {"a number within the epsilon", VJSONValue(1.0000001), 0, true, 1},
        {"undefined matches null", VJSONValue(JSON_undefined), 0, true, 2},
        {"an object by identity", object, 0, true, 3},
        {"another object does not match", VJSONValue(JSON_object), 0, false, 0},
        {"a missing number", VJSONValue(2.0), 0, false, 0},
    };
    VCompareOptions options;
    for (const Row& row : rows)
    {
        size_t index = 99;
        EXPECT_EQ(holder.GetArray()->Find(row.fValue, options, row.fStart, &index), row.fFound) << row.fWhat;
        EXPECT_EQ(index, row.fFound ? row.fIndex : 99u) << row.fWhat;
    }
}

TEST_F(JSONArrays, TextOfElements)
{
    VJSONValue nested =
        MakeArray({MakeArray({VJSONValue(1.0), VJSONValue(2.0)}), MakeArray({VJSONValue(3.0)})});
    EXPECT_EQ(TextOfArray(nested.GetArray()), u"1,2,3");

    struct Row
    {
        const char* fWhat;
        VJSONValue fArray;
        bool fKeepEmpty;
        bool fNullAsText;
        std::u16string fText;
    };
    auto mixed = [] {
        return MakeArray({VJSONValue(Str("a")), VJSONValue(Str("")), VJSONValue(JSON_null), VJSONValue(1.0)});
    };
    const Row rows[] = {
        {"no flag skips empty texts and nulls", mixed(), false, false, u"a, 1"},
        {"keep empty", mixed(), true, false, u"a, , 1"},
        {"keep empty and null as text", mixed(), true, true, u"a, , null, 1"},
        {"null as text alone", mixed(), false, true, u"a, null, 1"},
        {"undefined is written as null", MakeArray({VJSONValue(JSON_undefined), VJSONValue(JSON_true)}),
         false, true, u"null, true"},
        {"nested arrays give their joined text", nested, false, false, u"1,2, 3"},
        {"an empty nested array is an empty text", MakeArray({VJSONValue(JSON_array), VJSONValue(2.0)}),
         false, false, u"2"},
        {"objects", MakeArray({VJSONValue(JSON_object)}), false, false, u"[object Object]"},
        {"an empty array", VJSONValue(JSON_array), true, true, u""},
    };
    for (const Row& row : rows)
    {
        VString text(Str("stale"));
        EXPECT_EQ(row.fArray.GetArray()->JoinAsString(Str(", "), text, row.fKeepEmpty, row.fNullAsText),
                  VE_OK)
            << row.fWhat;
        EXPECT_EQ(Text(text), row.fText) << row.fWhat;
    }
}

TEST_F(JSONArrays, ASelfContainingArrayHasNoText)
{
    struct Row
    {
        const char* fWhat;
        bool fThroughAnother;
    };
    const Row rows[] = {{"directly", false}, {"through another array", true}};
    for (const Row& row : rows)
    {
        VJSONValue outer = MakeArray({VJSONValue(1.0)});
        VJSONValue inner = MakeArray({VJSONValue(2.0)});
        if (row.fThroughAnother)
        {
            outer.GetArray()->Push(inner);
            inner.GetArray()->Push(outer);
        }
        else
        {
            outer.GetArray()->Push(outer);
        }
        {
            StErrorContextInstaller errors;
            VString text(Str("stale"));
            EXPECT_EQ(outer.GetArray()->GetString(text), VE_JSON_CIRCULAR_ARRAY) << row.fWhat;
            EXPECT_EQ(errors.GetLastError(), VE_JSON_CIRCULAR_ARRAY) << row.fWhat;
            EXPECT_EQ(outer.GetArray()->JoinAsString(Str("-"), text, false, false), VE_JSON_CIRCULAR_ARRAY)
                << row.fWhat;
            EXPECT_EQ(Text(text), u"") << row.fWhat << ": no partial text";
        }
        // The cycles are broken so the arrays can be freed.
        outer.GetArray()->Clear();
        inner.GetArray()->Clear();
    }
}

std::u16string RangesOf(const VJSONValue& inRows)
{
    std::u16string text;
    VJSONArray* ranges = inRows.GetProperty(Str("ranges")).GetArray();
    EXPECT_NE(ranges, nullptr);
    for (size_t i = 0; ranges != nullptr && i < ranges->GetCount(); ++i)
    {
        VJSONValue range = ranges->GetAt(i);
        text += (text.empty() ? u"" : u" ") + TextOf(range.GetProperty(Str("start"))) + u"-" +
                TextOf(range.GetProperty(Str("end")));
    }
    return text;
}

TEST_F(JSONArrays, GetSelectedRows)
{
    auto numbers = [](std::initializer_list<double> inNumbers)
    {
        VJSONValue array(JSON_array);
        for (double n : inNumbers)
        {
            array.GetArray()->Push(VJSONValue(n));
        }
        return array;
    };
    VJSONValue rowsArray = numbers({10, 11, 12, 13, 14});
    VJSONValue object(JSON_object);
    VJSONValue objects = MakeArray({MakeObject({}), object, VJSONValue(Str("x")), object});
    struct Row
    {
        const char* fWhat;
        const VJSONValue& fArray;
        VJSONValue fSelection;
        std::u16string fRanges;
    };
    const Row rows[] = {
        {"runs of consecutive rows", rowsArray, numbers({11, 12, 14}), u"1-2 4-4"},
        {"the selection's order does not count", rowsArray, numbers({14, 12, 11}), u"1-2 4-4"},
        {"everything is one run", rowsArray, numbers({10, 11, 12, 13, 14, 99}), u"0-4"},
        {"nothing selected", rowsArray, numbers({}), u""},
        {"numbers within the epsilon", rowsArray, numbers({10.0000001}), u"0-0"},
        {"a selection that is not an array", rowsArray, VJSONValue(11.0), u""},
        {"objects match only themselves", objects, MakeArray({object, MakeObject({})}), u"1-1 3-3"},
        {"strings", objects, MakeArray({VJSONValue(Str("x"))}), u"2-2"},
    };
    for (const Row& row : rows)
    {
        VJSONValue selected = row.fArray.GetArray()->GetSelectedRows(row.fSelection);
        ASSERT_TRUE(selected.IsObject()) << row.fWhat;
        EXPECT_EQ(RangesOf(selected), row.fRanges) << row.fWhat;
    }
}

// Orders numbers; optionally throws at the given call.
class NumberOrder : public IJSONValueComparator
{
public:
    explicit NumberOrder(int inThrowAt = -1) : fThrowAt(inThrowAt) {}
    bool CompareValues(const VJSONValue& inA, const VJSONValue& inB) override
    {
        if (fCalls++ == fThrowAt)
        {
            throw std::runtime_error("comparison failed");
        }
        return inA.GetNumber() < inB.GetNumber();
    }

private:
    int fThrowAt;
    int fCalls = 0;
};

TEST_F(JSONArrays, SortOrdersByTheComparatorAndKeepsTheElements)
{
    VJSONValue holder = MakeArray({VJSONValue(3.0), VJSONValue(Str("1")), VJSONValue(2.0), VJSONValue(1.0)});
    VJSONArray* array = holder.GetArray();
    uint32_t stampOfThree = array->GetStampAt(0);
    NumberOrder order;
    EXPECT_EQ(array->Sort(&order), VE_OK);
    EXPECT_EQ(TextOfArray(array), u"1,1,2,3") << "equal elements keep their order";
    EXPECT_TRUE(array->GetAt(0).IsString()) << "the string 1 came first";
    EXPECT_EQ(array->GetStampAt(3), stampOfThree) << "elements move with their stamps";
}

TEST_F(JSONArrays, AFailingComparatorKeepsTheOrder)
{
    struct Row
    {
        const char* fWhat;
        int fThrowAt;
    };
    const Row rows[] = {{"at the first comparison", 0}, {"half way", 15}};
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        VJSONValue holder = Numbers(0);
        VJSONArray* array = holder.GetArray();
        for (double n : {5, 3, 9, 1, 7, 2, 8, 4, 6, 0, 11, 10})
        {
            array->Push(VJSONValue(n));
        }
        uint32_t before = TreeStamp(array);
        NumberOrder order(row.fThrowAt);
        EXPECT_EQ(array->Sort(&order), VE_JSON_SORT_COMPARATOR_FAILED) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), VE_JSON_SORT_COMPARATOR_FAILED) << row.fWhat;
        EXPECT_EQ(TextOfArray(array), u"5,3,9,1,7,2,8,4,6,0,11,10") << row.fWhat;
        EXPECT_NE(TreeStamp(array), before) << row.fWhat << ": the attempt still counts";
    }
}

// Comparators that are no strict weak ordering. The standard library's sorts may walk out of the
// range with these; the array's sort must end with the same elements in some order.
class Inconsistent : public IJSONValueComparator
{
public:
    explicit Inconsistent(std::function<bool(const VJSONValue&, const VJSONValue&)> inAnswer)
        : fAnswer(std::move(inAnswer))
    {
    }
    bool CompareValues(const VJSONValue& inA, const VJSONValue& inB) override { return fAnswer(inA, inB); }

private:
    std::function<bool(const VJSONValue&, const VJSONValue&)> fAnswer;
};

TEST_F(JSONArrays, AnInconsistentComparatorDoesNotCrash)
{
    std::mt19937 random(42);
    struct Row
    {
        const char* fWhat;
        std::function<bool(const VJSONValue&, const VJSONValue&)> fAnswer;
    };
    const Row rows[] = {
        {"always before", [](const VJSONValue&, const VJSONValue&) { return true; }},
        {"never before", [](const VJSONValue&, const VJSONValue&) { return false; }},
        {"less or equal",
         [](const VJSONValue& a, const VJSONValue& b) { return a.GetNumber() <= b.GetNumber(); }},
        {"random", [&random](const VJSONValue&, const VJSONValue&) { return (random() & 1) != 0; }},
    };
    for (const Row& row : rows)
    {
        for (size_t count : {0u, 1u, 2u, 17u, 100u, 1000u})
        {
            VJSONValue holder = Numbers(count);
            VJSONArray* array = holder.GetArray();
            // Many equal elements: the cases where an unguarded loop overruns.
            for (size_t i = 0; i < count; ++i)
            {
                array->SetAt(i, VJSONValue(static_cast<double>(i % 3)), false);
            }
            Inconsistent comparator(row.fAnswer);
            EXPECT_EQ(array->Sort(&comparator), VE_OK) << row.fWhat << ", " << count;
            ASSERT_EQ(array->GetCount(), count) << row.fWhat << ", " << count;
            size_t perValue[3] = {0, 0, 0};
            for (size_t i = 0; i < count; ++i)
            {
                ++perValue[static_cast<size_t>(array->GetAt(i).GetNumber())];
            }
            for (size_t v = 0; v < 3; ++v)
            {
                EXPECT_EQ(perValue[v], count / 3 + (v < count % 3 ? 1 : 0))
                    << row.fWhat << ", " << count << ": the same elements";
            }
        }
    }
}

TEST_F(JSONArrays, AComparatorThatChangesTheArray)
{
    StErrorContextInstaller errors;
    VJSONValue holder = MakeArray({VJSONValue(3.0), VJSONValue(1.0), VJSONValue(2.0)});
    VJSONArray* array = holder.GetArray();
    Inconsistent growing(
        [array](const VJSONValue& a, const VJSONValue& b)
        {
            array->Push(VJSONValue(JSON_object)); // reallocates the elements under the sort
            return a.GetNumber() < b.GetNumber();
        });
    EXPECT_EQ(array->Sort(&growing), VE_JSON_SORT_COMPARATOR_FAILED);
    EXPECT_EQ(array->GetAt(0).GetNumber(), 3) << "the order is kept";
    EXPECT_GT(array->GetCount(), 3u);

    VJSONValue again = MakeArray({VJSONValue(3.0), VJSONValue(1.0), VJSONValue(2.0)});
    VJSONArray* second = again.GetArray();
    Inconsistent replacing(
        [second](const VJSONValue& a, const VJSONValue& b)
        {
            second->SetAt(0, VJSONValue(Str("replaced")), false);
            return a.GetNumber() < b.GetNumber();
        });
    EXPECT_EQ(second->Sort(&replacing), VE_OK) << "the comparator sees the values as they were";
    EXPECT_EQ(TextOfArray(second), u"1,2,replaced");
}

TEST(JSONArrayCounter, CountsArraysOfTheMonitoredTask)
{
    VJSONArray::sTaskToMonitor = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
    uint32_t before = VJSONArray::sTaskCounter;
    {
        VJSONValue a(JSON_array);
        VJSONValue b(JSON_array);
        EXPECT_EQ(VJSONArray::sTaskCounter - before, 2u);
    }
    EXPECT_EQ(VJSONArray::sTaskCounter, before);
    VJSONArray::sTaskToMonitor = 0;
    VJSONValue c(JSON_array);
    EXPECT_EQ(VJSONArray::sTaskCounter, before) << "off";
}

} // namespace
