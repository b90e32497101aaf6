#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

VArrayLong Longs(const std::vector<int32_t>& inValues)
{
    VArrayLong array;
    for (int32_t value : inValues)
    {
        array.AppendLong(value);
    }
    return array;
}

std::vector<int32_t> Values(const VArrayLong& inArray)
{
    return std::vector<int32_t>(inArray.Data(), inArray.Data() + inArray.GetCount());
}

VArrayString Strings(const std::vector<const char*>& inValues)
{
    VArrayString array(static_cast<int32_t>(inValues.size()));
    for (size_t i = 0; i < inValues.size(); ++i)
    {
        if (inValues[i] != nullptr)
        {
            array.FromString(VString(inValues[i]), static_cast<int32_t>(i + 1));
        }
    }
    return array;
}

std::string Text(const VArrayString& inArray, int32_t inElement)
{
    VString text;
    inArray.GetString(text, inElement);
    std::string result;
    for (int32_t i = 0; i < text.GetLength(); ++i)
    {
        result += static_cast<char>(text.GetCPointer()[i]);
    }
    return result;
}

TEST(ArraySort, TypedSortBounds)
{
    struct Row
    {
        const char* fWhat;
        std::vector<int32_t> fElements;
        int32_t fFirst;
        int32_t fLast;
        bool fDescending;
        bool fAccepted;
        std::vector<int32_t> fResult;
    };
    const Row rows[] = {
        {"ascending", {3, 1, 2}, 1, 3, false, true, {1, 2, 3}},
        {"descending", {3, 1, 2}, 1, 3, true, true, {3, 2, 1}},
        {"one element", {3, 1, 2}, 2, 2, false, true, {3, 1, 2}},
        {"two elements", {3, 2, 1}, 2, 3, false, true, {3, 1, 2}},
        {"inner range", {9, 5, 4, 3, 0}, 2, 4, false, true, {9, 3, 4, 5, 0}},
        {"last past the end", {3, 1, 2}, 1, 4, false, false, {3, 1, 2}},
        {"first 0 (0-based caller)", {3, 1, 2}, 0, 2, false, false, {3, 1, 2}},
        {"first above last", {3, 1, 2}, 3, 1, false, false, {3, 1, 2}},
        {"empty array", {}, 1, 1, false, false, {}},
    };
    for (const Row& row : rows)
    {
        VArrayLong array = Longs(row.fElements);
        EXPECT_EQ(array.Sort(row.fFirst, row.fLast, row.fDescending), row.fAccepted) << row.fWhat;
        EXPECT_EQ(Values(array), row.fResult) << row.fWhat;
    }
    // The multi-criteria Sort counts from 0 and refuses bounds past the end alike.
    VArrayString strings = Strings({"c", "a", "b"});
    EXPECT_FALSE(strings.Sort(1, 3));
    EXPECT_TRUE(strings.Sort(0, 2));
    EXPECT_EQ(Text(strings, 1) + Text(strings, 2) + Text(strings, 3), "abc");
    EXPECT_FALSE(strings.Sort(-1, 1));
}

TEST(ArraySort, SelectionAndQuicksortAgree)
{
    for (int32_t count : {9, 10, 11, 50})
    {
        std::vector<int32_t> values(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i)
        {
            values[static_cast<size_t>(i)] = (i * 7919) % 101;
        }
        for (bool descending : {false, true})
        {
            VArrayLong typed = Longs(values);
            ASSERT_TRUE(typed.Sort(1, count, descending));
            // The multi-criteria path of the base class, on the same data.
            VArrayLong multi = Longs(values);
            ASSERT_TRUE(multi.VArrayValue::Sort(0, count - 1, descending));
            std::vector<int32_t> expected = values;
            std::sort(expected.begin(), expected.end());
            if (descending)
            {
                std::reverse(expected.begin(), expected.end());
            }
            EXPECT_EQ(Values(typed), expected) << count;
            EXPECT_EQ(Values(multi), expected) << count;
        }
    }
}

TEST(ArraySort, SynchronizedAndMultiCriteria)
{
    VArrayLong keys = Longs({2, 1});
    VArrayString names = Strings({"b", "a"});
    ASSERT_TRUE(VArrayValue::SynchronizedSort(false, &keys, {&names}));
    EXPECT_EQ(Values(keys), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Text(names, 1) + Text(names, 2), "ab");
    VArrayString shorter = Strings({"x"});
    EXPECT_FALSE(VArrayValue::SynchronizedSort(false, &keys, {&shorter}));

    // Twelve rows on (city ascending, age descending); the id column follows.
    const std::vector<const char*> cityValues = {"Oslo", "Lyon", "Oslo", "Bern", "Lyon", "Bern",
                                                 "Oslo", "Lyon", "Bern", "Oslo", "Lyon", "Bern"};
    const std::vector<int32_t> ageValues = {30, 25, 41, 18, 25, 60, 30, 70, 33, 12, 40, 18};
    VArrayString cities = Strings(cityValues);
    VArrayLong ages = Longs(ageValues);
    VArrayLong ids;
    for (int32_t i = 0; i < 12; ++i)
    {
        ids.AppendLong(i);
    }
    ISortable* arrays[] = {&cities, &ages, &ids, nullptr};
    const uint8_t descending[] = {0, 1};
    ISortable::MultiCriteriaQSort(arrays, descending, 2, 0, 11);
    for (int32_t row = 1; row <= 12; ++row)
    {
        // Each row still holds its own city and age.
        const size_t id = static_cast<size_t>(ids.GetLong(row));
        EXPECT_EQ(Text(cities, row), cityValues[id]);
        EXPECT_EQ(ages.GetLong(row), ageValues[id]);
        if (row > 1)
        {
            const int order = Text(cities, row - 1).compare(Text(cities, row));
            EXPECT_LE(order, 0) << row;
            if (order == 0)
            {
                EXPECT_GE(ages.GetLong(row - 1), ages.GetLong(row)) << row;
            }
        }
    }
    EXPECT_EQ(Text(cities, 1), "Bern");
    EXPECT_EQ(ages.GetLong(1), 60);
}

TEST(ArraySort, BooleansKeepTheirSetBits)
{
    VArrayBoolean bits(13);
    for (int32_t i : {2, 5, 9, 13})
    {
        bits.FromBoolean(true, i);
    }
    ASSERT_TRUE(bits.Sort(1, 13));
    for (int32_t i = 1; i <= 13; ++i)
    {
        EXPECT_EQ(bits.GetBoolean(i), i > 9) << i;
    }
    ASSERT_TRUE(bits.Sort(1, 13, true));
    for (int32_t i = 1; i <= 13; ++i)
    {
        EXPECT_EQ(bits.GetBoolean(i), i <= 4) << i;
    }
    // A part goes through the element compare, in the same order, 1-based like the whole.
    ASSERT_TRUE(bits.Sort(3, 6));
    EXPECT_TRUE(bits.GetBoolean(1));
    EXPECT_TRUE(bits.GetBoolean(2));
    EXPECT_FALSE(bits.GetBoolean(3));
    EXPECT_FALSE(bits.GetBoolean(4));
    EXPECT_TRUE(bits.GetBoolean(5));
    EXPECT_TRUE(bits.GetBoolean(6));
    EXPECT_FALSE(bits.Sort(0, 13));
}

TEST(ArraySort, UnsortIsAFixedPermutation)
{
    std::vector<int32_t> ordered(37);
    for (size_t i = 0; i < ordered.size(); ++i)
    {
        ordered[i] = static_cast<int32_t>(i);
    }
    VArrayLong first = Longs(ordered);
    VArrayLong second = Longs(ordered);
    first.Unsort();
    second.Unsort();
    EXPECT_EQ(Values(first), Values(second));
    EXPECT_NE(Values(first), ordered);
    std::vector<int32_t> back = Values(first);
    std::sort(back.begin(), back.end());
    EXPECT_EQ(back, ordered);
    VArrayLong one = Longs({4});
    one.Unsort();
    EXPECT_EQ(Values(one), (std::vector<int32_t>{4}));
}

// Random arrays of every kind, duplicates included, sort to the order std::sort gives.
template <class TArray, class TMake>
void ExpectSortsLikeStdSort(const char* inWhat, TMake inMake, bool inOneBased)
{
    std::mt19937 random(12345);
    for (int32_t count : {0, 1, 2, 9, 10, 33, 500})
    {
        for (int32_t distinct : {3, 1000})
        {
            for (bool descending : {false, true})
            {
                TArray array;
                std::vector<typename TArray::Type> expected;
                for (int32_t i = 0; i < count; ++i)
                {
                    auto value = inMake(static_cast<int32_t>(random() % static_cast<uint32_t>(distinct)) -
                                        distinct / 2);
                    array.AppendLong8(0);
                    array.SetElement(value, array.GetCount());
                    expected.push_back(value);
                }
                const bool accepted =
                    inOneBased ? array.Sort(1, count, descending) : array.Sort(0, count - 1, descending);
                EXPECT_EQ(accepted, count > 0) << inWhat;
                std::sort(expected.begin(), expected.end());
                if (descending)
                {
                    std::reverse(expected.begin(), expected.end());
                }
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), array.Data()))
                    << inWhat << " count " << count << " distinct " << distinct << " descending "
                    << descending;
            }
        }
    }
}

TEST(ArraySort, EveryKindSortsLikeStdSort)
{
    ExpectSortsLikeStdSort<VArrayByte>(
        "byte", [](int32_t v) { return static_cast<int8_t>(v); }, true);
    ExpectSortsLikeStdSort<VArrayWord>(
        "word", [](int32_t v) { return static_cast<int16_t>(v * 37); }, true);
    ExpectSortsLikeStdSort<VArrayLong>(
        "long", [](int32_t v) { return v * 1000003; }, true);
    ExpectSortsLikeStdSort<VArrayLong8>(
        "long8", [](int32_t v) { return int64_t{v} << 33; }, true);
    ExpectSortsLikeStdSort<VArrayReal>(
        "real", [](int32_t v) { return v / 7.0; }, true);
    ExpectSortsLikeStdSort<VArrayTime>(
        "time", [](int32_t v) { return uint64_t{0x8000000000000000} + v; }, false);
    ExpectSortsLikeStdSort<VArrayDuration>(
        "duration", [](int32_t v) { return int64_t{v} * 86400000; }, false);

    // Strings (missing ones first), blobs and booleans through their element order.
    std::mt19937 random(7);
    for (int32_t count : {2, 9, 10, 300})
    {
        VArrayString strings(count);
        VArrayBlob blobs(count);
        VArrayBoolean bits(count);
        std::vector<std::string> expectedStrings;
        std::vector<std::string> expectedBlobs;
        int32_t set = 0;
        for (int32_t i = 1; i <= count; ++i)
        {
            const uint32_t draw = random() % 40;
            if (draw != 0)
            {
                const std::string text(1 + draw % 3, static_cast<char>('a' + draw % 5));
                strings.FromString(VString(text.c_str()), i);
                expectedStrings.push_back(text);
            }
            const std::string bytes(draw % 4, static_cast<char>(draw % 3 == 0 ? '\xF0' : '\x01'));
            blobs.FromValue(VBlobWithPtr(bytes.data(), bytes.size()), i);
            expectedBlobs.push_back(bytes);
            bits.FromBoolean(draw % 2 == 0, i);
            set += draw % 2 == 0 ? 1 : 0;
        }
        ASSERT_TRUE(strings.Sort(0, count - 1));
        ASSERT_TRUE(blobs.Sort(0, count - 1));
        ASSERT_TRUE(bits.Sort(2, count));
        std::sort(expectedStrings.begin(), expectedStrings.end());
        std::sort(expectedBlobs.begin(), expectedBlobs.end(),
                  [](const std::string& a, const std::string& b)
                  {
                      return std::lexicographical_compare(
                          a.begin(), a.end(), b.begin(), b.end(),
                          [](char x, char y) { return static_cast<uint8_t>(x) < static_cast<uint8_t>(y); });
                  });
        const int32_t missing = count - static_cast<int32_t>(expectedStrings.size());
        for (int32_t i = 1; i <= count; ++i)
        {
            if (i <= missing)
            {
                EXPECT_EQ(strings.GetObject(i), nullptr);
            }
            else
            {
                EXPECT_EQ(Text(strings, i), expectedStrings[static_cast<size_t>(i - missing - 1)]);
            }
            const VBlob* blob = blobs.GetObject(i);
            EXPECT_EQ(std::string(static_cast<const char*>(blob->GetDataPtr()), blob->GetSize()),
                      expectedBlobs[static_cast<size_t>(i - 1)]);
            if (i > 2)
            {
                EXPECT_LE(bits.GetBoolean(i - 1), bits.GetBoolean(i));
            }
        }
    }
}

TEST(ArraySort, InconsistentCompareStaysInsideTheRange)
{
    // NaN compares equal to everything and breaks the ordering; the sort must still only touch
    // the range (ASan watches the block) and keep every element.
    VArrayReal reals;
    std::mt19937 random(3);
    for (int32_t i = 0; i < 1000; ++i)
    {
        reals.AppendReal(random() % 5 == 0 ? std::nan("") : static_cast<double>(random() % 100));
    }
    ASSERT_TRUE(reals.Sort(1, 1000));
    EXPECT_EQ(reals.GetCount(), 1000);

    // A compare that answers at random.
    std::vector<int32_t> values(2000);
    for (size_t i = 0; i < values.size(); ++i)
    {
        values[i] = static_cast<int32_t>(i);
    }
    detail::QuickSortRange(
        0, 1999,
        [&](int32_t a, int32_t b)
        {
            EXPECT_TRUE(a >= 0 && a < 2000 && b >= 0 && b < 2000);
            return static_cast<int>(random() % 3) - 1;
        },
        [&](int32_t a, int32_t b)
        {
            ASSERT_TRUE(a >= 0 && a < 2000 && b >= 0 && b < 2000);
            std::swap(values[static_cast<size_t>(a)], values[static_cast<size_t>(b)]);
        });
    std::sort(values.begin(), values.end());
    for (size_t i = 0; i < values.size(); ++i)
    {
        ASSERT_EQ(values[i], static_cast<int32_t>(i));
    }
}

} // namespace
