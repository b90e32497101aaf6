// The builder path: values made by a builder, containers filled by move, interned names, and the
// stamps builders take in blocks.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONStamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

std::u16string Units(const std::string& inText)
{
    return std::u16string(inText.begin(), inText.end());
}

TEST(JSONBuilder, AppendOwnReplacesARepeatedNameInPlace)
{
    VJSONBuilder builder;
    VJSONValue holder = builder.Object();
    VJSONObject* object = holder.GetObject();
    VJSONValue first = builder.Number(1);
    uint32_t firstStamp = first.GetStamp();
    object->AppendOwn(builder.Key(u"a"), std::move(first));
    object->AppendOwn(builder.Key(u"b"), builder.String(u"text"));
    VJSONValue again = builder.Number(3);
    uint32_t againStamp = again.GetStamp();
    object->AppendOwn(builder.Key(u"a"), std::move(again));
    EXPECT_EQ(NamesOf(object), u"a,b");
    EXPECT_EQ(object->GetOwnProperty(Str("a")).GetNumber(), 3);
    EXPECT_EQ(TextOf(object->GetOwnProperty(Str("b"))), u"text");
    EXPECT_EQ(object->GetPropertyStamp(Str("a")), againStamp) << "the builder's stamp is kept";
    EXPECT_NE(againStamp, firstStamp);
    EXPECT_EQ(builder.GetKeyCount(), 2u) << "names are interned";
}

TEST(JSONBuilder, FillFromASpan)
{
    VJSONBuilder builder;
    // Enough members for the object to index them, one name repeated.
    std::vector<VJSONObject::OwnProperty> members;
    for (int i = 0; i < 40; ++i)
    {
        members.push_back({builder.Key(Units("m" + std::to_string(i % 30))), builder.Number(i)});
    }
    VJSONValue holder = builder.Object();
    VJSONObject* object = holder.GetObject();
    object->AssignOwn(members);
    ASSERT_EQ(object->GetOwnCount(), 30u);
    for (int i = 0; i < 30; ++i)
    {
        // m0 .. m9 were repeated: first place, last value.
        EXPECT_EQ(object->GetOwnProperties()[i].fKey.GetUnits(), Units("m" + std::to_string(i)));
        EXPECT_EQ(object->GetOwnProperty(VString(("m" + std::to_string(i)).c_str())).GetNumber(),
                  i < 10 ? i + 30 : i);
    }

    std::vector<VJSONValue> elements;
    elements.push_back(builder.Number(1));
    elements.push_back(builder.String(u""));
    elements.push_back(builder.Bool(true));
    elements.push_back(builder.Null());
    elements.push_back(std::move(holder));
    std::vector<uint32_t> stamps;
    for (const VJSONValue& element : elements)
    {
        stamps.push_back(element.GetStamp());
    }
    VJSONValue array = MakeArray({VJSONValue(9.0)});
    ASSERT_TRUE(array.GetArray()->AssignValues(elements));
    EXPECT_EQ(TextOf(array), u"1,,true,,[object Object]") << "the earlier element is replaced";
    for (size_t i = 0; i < stamps.size(); ++i)
    {
        EXPECT_EQ(array.GetArray()->GetStampAt(i), stamps[i]);
    }
    EXPECT_EQ(array.GetArray()->GetAt(4).GetObject(), object) << "moved, not copied";
}

TEST(JSONBuilder, ContainersMadeWithRoomGrowPastIt)
{
    VJSONBuilder builder;
    std::vector<VJSONObject::OwnProperty> members;
    members.push_back({builder.Key(u"a"), builder.Number(1)});
    members.push_back({builder.Key(u"b"), builder.String(u"two")});
    VJSONValue holder = builder.Object(members.size());
    VJSONObject* object = holder.GetObject();
    object->AssignOwn(members);
    // Past the room: the members move to the heap, then past the linear limit (indexed).
    for (int i = 0; i < 30; ++i)
    {
        ASSERT_TRUE(object->SetProperty(VString(("m" + std::to_string(i)).c_str()), VJSONValue(i * 1.0)));
    }
    object->RemoveProperty(Str("a"));
    EXPECT_EQ(object->GetOwnCount(), 31u);
    EXPECT_EQ(object->GetOwnProperties()[0].fKey.GetUnits(), u"b");
    EXPECT_EQ(object->GetProperty(Str("m29")).GetNumber(), 29);
    EXPECT_EQ(TextOf(object->GetProperty(Str("b"))), u"two");

    std::vector<VJSONValue> elements;
    elements.push_back(builder.Number(1));
    elements.push_back(builder.String(u"x"));
    VJSONValue list = builder.Array(elements.size());
    VJSONArray* array = list.GetArray();
    ASSERT_TRUE(array->AssignValues(elements));
    for (int i = 0; i < 10; ++i)
    {
        ASSERT_TRUE(array->Push(VJSONValue(i * 1.0)));
    }
    array->RemoveAt(0, 2);
    ASSERT_TRUE(array->Resize(12, JSON_null));
    EXPECT_EQ(TextOf(list), u"0,1,2,3,4,5,6,7,8,9,,");

    // More values than the room: the array takes them all.
    std::vector<VJSONValue> more;
    for (int i = 0; i < 5; ++i)
    {
        more.push_back(builder.Number(i));
    }
    VJSONValue small = builder.Array(3);
    ASSERT_TRUE(small.GetArray()->AssignValues(more));
    EXPECT_EQ(TextOf(small), u"0,1,2,3,4");
}

TEST(JSONBuilder, ContainersOutliveTheirBuilderAndDieOnAnyTask)
{
    // Many small containers from one builder fill several slabs. One of them is kept after the
    // tree and the builder are gone; others die on another thread while the builder still makes
    // more from the same slabs.
    VRefPtr<VJSONObject> kept;
    {
        VJSONBuilder builder;
        std::vector<VJSONValue> elements;
        for (int i = 0; i < 2000; ++i)
        {
            std::vector<VJSONObject::OwnProperty> members;
            members.push_back({builder.Key(u"n"), builder.Number(i)});
            VJSONValue object = builder.Object(1);
            object.GetObject()->AssignOwn(members);
            elements.push_back(std::move(object));
        }
        kept = VRefPtr<VJSONObject>(elements[1234].GetObject());
        std::thread dropper(
            [early = std::vector<VJSONValue>(std::make_move_iterator(elements.begin()),
                                             std::make_move_iterator(elements.begin() + 1000))]() mutable
            { early.clear(); });
        std::vector<VJSONValue> later;
        for (int i = 0; i < 2000; ++i)
        {
            later.push_back(builder.Array(0));
        }
        dropper.join();
        VJSONValue tree = builder.Array(elements.size());
        ASSERT_TRUE(tree.GetArray()->AssignValues(elements));
        VJSONCloner cloner;
        VJSONValue clone = tree;
        ASSERT_EQ(cloner.CloneValue(clone), VE_OK);
        std::thread([clone = std::move(clone)]() mutable { clone.SetNull(); }).join();
    }
    EXPECT_EQ(kept->GetOwnProperty(Str("n")).GetNumber(), 1234);
}

TEST(JSONBuilder, MoveOverloadsStoreTheContainerWithANewStamp)
{
    VJSONValue tree(JSON_object);
    VJSONStamp* stamp = new VJSONStamp();
    tree.GetObject()->SetJSONStamp(stamp);
    stamp->Release();

    VJSONValue child(JSON_array);
    VJSONArray* array = child.GetArray();
    uint32_t childStamp = child.GetStamp();
    ASSERT_TRUE(tree.GetObject()->SetProperty(Str("list"), std::move(child)));
    EXPECT_EQ(tree.GetObject()->GetProperty(Str("list")).GetArray(), array);
    EXPECT_NE(tree.GetObject()->GetPropertyStamp(Str("list")), childStamp) << "stored values take a stamp";
    EXPECT_EQ(array->GetJSONStamp(), stamp) << "the tree's stamp spreads";

    VJSONValue grandChild(JSON_object);
    VJSONObject* object = grandChild.GetObject();
    ASSERT_TRUE(array->Push(std::move(grandChild)));
    EXPECT_EQ(array->GetAt(0).GetObject(), object);
    EXPECT_EQ(object->GetJSONStamp(), stamp);
}

TEST(JSONBuilder, StampsFromBlocksNeverCollideAcrossTasks)
{
    // Builders on several threads, and single stamps between them: all stamps differ.
    constexpr int kThreads = 4;
    constexpr int kValues = 3 * VJSONBuilder::kStampBlock + 7;
    std::vector<std::vector<uint32_t>> stamps(kThreads + 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [&stamps, t]
            {
                VJSONBuilder builder;
                for (int i = 0; i < kValues; ++i)
                {
                    stamps[t].push_back(builder.Number(i).GetStamp());
                }
            });
    }
    for (int i = 0; i < kValues; ++i)
    {
        stamps[kThreads].push_back(VJSONValue(1.0).GetStamp());
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    std::set<uint32_t> all;
    for (const std::vector<uint32_t>& list : stamps)
    {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<size_t>((kThreads + 1) * kValues));
    // One builder's stamps run consecutively within a block.
    EXPECT_EQ(stamps[0][1], stamps[0][0] + 1);
}

} // namespace
