// How objects and arrays store their members: insertion order around the size where objects add
// an index, arrays that refuse counts they cannot hold, string comparison with every option, and
// the JSON form of comparison options.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

class JSONStorage : public TaskManagerTest
{
};

VString Name(const std::string& inName)
{
    return VString(inName.c_str());
}

std::u16string Joined(const std::vector<std::string>& inNames)
{
    std::u16string names;
    for (const std::string& name : inNames)
    {
        names += (names.empty() ? u"" : u",") + std::u16string(name.begin(), name.end());
    }
    return names;
}

// An object with the properties p0 .. p<inCount - 1> set to 0 .. inCount - 1; their names go to
// outNames.
VJSONValue Numbered(size_t inCount, std::vector<std::string>& outNames)
{
    VJSONValue holder(JSON_object);
    for (size_t i = 0; i < inCount; ++i)
    {
        outNames.push_back("p" + std::to_string(i));
        holder.GetObject()->SetProperty(Name(outNames.back()), VJSONValue(static_cast<double>(i)));
    }
    return holder;
}

TEST_F(JSONStorage, InsertionOrderAroundTheIndexThreshold)
{
    // Sizes on both sides of the size where objects start to index their properties.
    for (size_t count : {size_t{8}, VJSONObject::kLinearLimit, VJSONObject::kLinearLimit + 1, size_t{100}})
    {
        std::string what = std::to_string(count) + " properties";
        std::vector<std::string> expected;
        VJSONValue holder = Numbered(count, expected);
        VJSONObject* object = holder.GetObject();
        // Replacing a value keeps its place.
        object->SetProperty(Name("p0"), VJSONValue(-1.0));
        EXPECT_EQ(NamesOf(object), Joined(expected)) << what;

        std::string middle = "p" + std::to_string(count / 2);
        object->RemoveProperty(Name(middle));
        expected.erase(std::find(expected.begin(), expected.end(), middle));
        EXPECT_EQ(NamesOf(object), Joined(expected)) << what << ", middle removed";
        EXPECT_FALSE(object->HasOwnProperty(Name(middle))) << what;
        for (size_t i = 1; i < count; ++i)
        {
            std::string name = "p" + std::to_string(i);
            EXPECT_EQ(object->GetOwnProperty(Name(name)).GetNumber(),
                      name == middle ? 0 : static_cast<double>(i))
                << what << ": " << name << " after the removal";
        }

        object->SetProperty(Name(middle), VJSONValue(1000.0));
        expected.push_back(middle);
        EXPECT_EQ(NamesOf(object), Joined(expected)) << what << ", middle re-added at the end";
        EXPECT_EQ(object->GetOwnProperty(Name(middle)).GetNumber(), 1000.0) << what;
        EXPECT_EQ(object->GetOwnProperty(Name("p0")).GetNumber(), -1.0) << what;
        EXPECT_TRUE(object->GetOwnProperty(Name("absent")).IsUndefined()) << what;
    }
}

TEST_F(JSONStorage, WalkUnderRemovalAndRehash)
{
    for (size_t count : {size_t{8}, VJSONObject::kLinearLimit, VJSONObject::kLinearLimit + 1})
    {
        std::string what = std::to_string(count) + " properties";
        std::vector<std::string> names;
        VJSONValue holder = Numbered(count, names);
        VJSONObject* object = holder.GetObject();
        // Each step removes the property two places ahead and adds enough new ones to build or
        // grow the index: the walk visits what is left of the original properties, in order, with
        // their values, and none of the added ones.
        std::vector<std::string> visited;
        std::vector<std::string> expected;
        std::vector<bool> removed(count, false);
        size_t added = 0;
        size_t step = 0;
        for (VJSONPropertyConstOrderedIterator i(object,
                                                 VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly);
             i.IsValid(); ++i, ++step)
        {
            std::u16string name = Text(i.GetName());
            visited.emplace_back(name.begin(), name.end());
            size_t index = std::stoul(visited.back().substr(1));
            EXPECT_EQ(i.GetValue().GetNumber(), static_cast<double>(index)) << what;
            ASSERT_NE(i.GetOwnValue(), nullptr) << what;
            EXPECT_EQ(i.GetOwnValue()->GetNumber(), static_cast<double>(index)) << what;
            if (index + 2 < count)
            {
                object->RemoveProperty(Name(names[index + 2]));
                removed[index + 2] = true;
            }
            for (size_t k = 0; k < 2 * count; ++k)
            {
                object->SetProperty(Name("added" + std::to_string(added++)), VJSONValue(-1.0));
            }
        }
        for (size_t k = 0; k < count; ++k)
        {
            if (!removed[k])
            {
                expected.push_back(names[k]);
            }
        }
        std::u16string visitedText;
        for (const std::string& name : visited)
        {
            visitedText += (visitedText.empty() ? u"" : u",") + std::u16string(name.begin(), name.end());
        }
        EXPECT_EQ(visitedText, Joined(expected)) << what;
        EXPECT_EQ(object->GetOwnCount(), expected.size() + added) << what;
    }
}

TEST_F(JSONStorage, ArraysRefuseCountsTheyCannotHold)
{
    struct Row
    {
        const char* fWhat;
        bool (*fChange)(VJSONArray* ioArray);
    };
    const Row rows[] = {
        {"Resize(SIZE_MAX)", [](VJSONArray* a) { return a->Resize(SIZE_MAX, JSON_null); }},
        {"Resize(max_size() + 1)",
         [](VJSONArray* a) { return a->Resize(std::vector<VJSONValue>().max_size() + 1, JSON_null); }},
        {"Resize(2^40)", [](VJSONArray* a) { return a->Resize(size_t{1} << 40, JSON_object); }},
        {"Resize(kMaxCount + 1)",
         [](VJSONArray* a) { return a->Resize(VJSONArray::kMaxCount + 1, JSON_null); }},
        {"SetAt(SIZE_MAX - 1) with grow",
         [](VJSONArray* a) { return a->SetAt(SIZE_MAX - 1, VJSONValue(7.0), true); }},
        // One past would wrap to a count of 0 and empty the array.
        {"SetAt(SIZE_MAX) with grow",
         [](VJSONArray* a) { return a->SetAt(SIZE_MAX, VJSONValue(7.0), true); }},
        {"SetAt(kMaxCount) with grow",
         [](VJSONArray* a) { return a->SetAt(VJSONArray::kMaxCount, VJSONValue(7.0), true); }},
    };
    for (const Row& row : rows)
    {
        VJSONValue array = MakeArray({VJSONValue(0.0), VJSONValue(1.0), VJSONValue(2.0)});
        VJSONStamp* stamp = new VJSONStamp();
        array.GetArray()->SetJSONStamp(stamp);
        stamp->Release();
        uint32_t before = stamp->GetValue();
        StErrorContextInstaller errors;
        EXPECT_FALSE(row.fChange(array.GetArray())) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), VE_MEMORY_FULL) << row.fWhat;
        EXPECT_EQ(TextOf(array), u"0,1,2") << row.fWhat << ": the array is unchanged";
        EXPECT_EQ(stamp->GetValue(), before) << row.fWhat << ": no change counted";
    }
}

TEST_F(JSONStorage, StoringAnElementReadByReferenceIntoItsOwnArray)
{
    // GetElements hands out references into the array: storing one back must copy it before the
    // array grows (and moves its elements).
    VJSONValue array = MakeArray({VJSONValue(U(u"first"))});
    VJSONArray* elements = array.GetArray();
    for (int i = 0; i < 20; ++i)
    {
        ASSERT_TRUE(elements->Push(elements->GetElements()[0]));
    }
    ASSERT_TRUE(elements->SetAt(100, elements->GetElements()[0], true));
    EXPECT_EQ(elements->GetCount(), 101u);
    EXPECT_EQ(TextOf(elements->GetAt(20)), u"first");
    EXPECT_EQ(TextOf(elements->GetAt(100)), u"first");
    EXPECT_TRUE(elements->GetAt(50).IsNull());
}

// Finds inWhat in the array ["abc", "Abd", "élan", "I"] with the options; -1 when absent.
int FindIn(const char16_t* inWhat, const VCompareOptions& inOptions)
{
    VJSONValue array = MakeArray(
        {VJSONValue(U(u"abc")), VJSONValue(U(u"Abd")), VJSONValue(U(u"\u00e9lan")), VJSONValue(U(u"I"))});
    size_t index = 0;
    return array.GetArray()->Find(VJSONValue(U(inWhat)), inOptions, 0, &index) ? static_cast<int>(index) : -1;
}

TEST_F(JSONStorage, FindComparesStringsWithEveryOption)
{
    StIntlTestProcess english(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fWhatToFind;
        bool fLike;
        bool fBeginsWith;
        bool fDiacritical;
        int fIndex;
    };
    const Row rows[] = {
        {"like with a trailing wild character", u"a@", true, false, false, 0},
        {"like, the second match needs its own letters", u"a@d", true, false, false, 1},
        {"without like the wild character is a letter", u"a@", false, false, false, -1},
        {"begins-with", u"ab", false, true, false, 0},
        {"without begins-with a prefix is not equal", u"ab", false, false, false, -1},
        {"diacritical off: case and accents do not count", u"ELAN", false, false, false, 2},
        {"diacritical on: accents count", u"elan", false, false, true, -1},
        {"diacritical on: the exact text", u"\u00e9lan", false, false, true, 2},
        {"diacritical off: case does not count", u"abd", false, false, false, 1},
        {"diacritical on: case counts", u"abd", false, false, true, -1},
    };
    for (const Row& row : rows)
    {
        VCompareOptions options;
        options.SetLike(row.fLike);
        options.SetBeginsWith(row.fBeginsWith);
        options.SetDiacritical(row.fDiacritical);
        EXPECT_EQ(FindIn(row.fWhatToFind, options), row.fIndex) << row.fWhat;
    }

    // A task with Turkish settings: there the capital of "i" is "İ", so "i" no longer finds "I".
    EXPECT_EQ(FindIn(u"i", VCompareOptions()), 3) << "English settings";
    int turkish = -2;
    VRefPtr<VTask> task = NewTask(
        [&]
        {
            if (VTask::SetCurrentDialectCode(1055))
            {
                turkish = FindIn(u"i", VCompareOptions());
            }
        });
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(turkish, -1) << "Turkish settings";
}

TEST_F(JSONStorage, CompareOptionsJSONRoundTrip)
{
    struct Row
    {
        const char* fWhat;
        VJSONValue fDiacritical; // undefined: no property
        bool fBefore;
        bool fAfter;
    };
    const Row rows[] = {
        {"true", VJSONValue(JSON_true), false, true},
        {"false", VJSONValue(JSON_false), true, false},
        {"the string \"true\" is not a boolean", VJSONValue(VString("true")), false, false},
        {"no property", VJSONValue(JSON_undefined), true, true},
    };
    for (const Row& row : rows)
    {
        VJSONValue object(JSON_object);
        object.GetObject()->SetProperty(Str("diacritical"), row.fDiacritical);
        VCompareOptions options;
        options.SetDiacritical(row.fBefore);
        EXPECT_EQ(options.FromJSON(object.GetObject()), VE_OK) << row.fWhat;
        EXPECT_EQ(options.IsDiacritical(), row.fAfter) << row.fWhat;
    }
    for (bool diacritical : {false, true})
    {
        VCompareOptions options;
        options.SetDiacritical(diacritical);
        VJSONValue object(JSON_object);
        EXPECT_EQ(options.ToJSON(object.GetObject()), VE_OK);
        EXPECT_EQ(object.GetObject()->GetProperty(Str("diacritical")).GetType(),
                  diacritical ? JSON_true : JSON_false);
        VCompareOptions read;
        read.SetDiacritical(!diacritical);
        read.FromJSON(object.GetObject());
        EXPECT_EQ(read.IsDiacritical(), diacritical);
    }
}

} // namespace
