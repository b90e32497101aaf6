// The object graph: cycles of containers are freed once nothing outside holds them, and nothing
// still reachable is freed. Live containers are counted by the objects' and arrays' task counters.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Counts the objects and arrays made and freed on this thread while it lives.
class StLiveContainers
{
public:
    StLiveContainers()
    {
        const auto task = static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID());
        VJSONObject::sTaskToMonitor = task;
        VJSONArray::sTaskToMonitor = task;
        fObjects = VJSONObject::sTaskCounter;
        fArrays = VJSONArray::sTaskCounter;
    }
    ~StLiveContainers()
    {
        VJSONObject::sTaskToMonitor = 0;
        VJSONArray::sTaskToMonitor = 0;
    }
    StLiveContainers(const StLiveContainers&) = delete;
    StLiveContainers& operator=(const StLiveContainers&) = delete;

    uint32_t Count() const
    {
        return VJSONObject::sTaskCounter - fObjects + VJSONArray::sTaskCounter - fArrays;
    }

private:
    uint32_t fObjects;
    uint32_t fArrays;
};

VJSONGraph* GraphOf(const VJSONValue& inValue)
{
    return inValue.GetObject() != nullptr ? inValue.GetObject()->GetGraph() : inValue.GetArray()->GetGraph();
}

// a.b = b and b.a = a; b's holder is dropped, so a alone is held from outside.
VJSONValue MakeMutualPair()
{
    VJSONValue a(JSON_object);
    VJSONValue b(JSON_object);
    a.GetObject()->SetProperty(Str("b"), b);
    b.GetObject()->SetProperty(Str("a"), a);
    return a;
}

TEST(JSONGraph, CyclesAreFreedAndTheRestIsKept)
{
    struct Row
    {
        const char* fWhat;
        // Builds the case with the values it is given, checks what holds while they live, and
        // leaves them to be dropped; every container must then be gone.
        std::function<void(StLiveContainers&)> fCase;
    };
    const Row rows[] = {
        {"two objects referring to each other",
         [](StLiveContainers& ioLive)
         {
             VJSONValue a = MakeMutualPair();
             EXPECT_EQ(ioLive.Count(), 2U) << "a holds b";
             EXPECT_TRUE(GraphOf(a)->HasCycle());
         }},
        {"an object stored into itself",
         [](StLiveContainers&)
         {
             VJSONValue a(JSON_object);
             a.GetObject()->SetProperty(Str("self"), a);
             EXPECT_TRUE(GraphOf(a)->HasCycle());
         }},
        {"an array that contains itself, through an object",
         [](StLiveContainers&)
         {
             VJSONValue list(JSON_array);
             VJSONValue item(JSON_object);
             item.GetObject()->SetProperty(Str("list"), list);
             list.GetArray()->Push(item);
             list.GetArray()->Push(list);
         }},
        {"a chain never sets the cycle flag",
         [](StLiveContainers& ioLive)
         {
             VJSONValue a(JSON_object);
             VJSONValue b(JSON_array);
             VJSONValue c(JSON_object);
             b.GetArray()->Push(c);
             a.GetObject()->SetProperty(Str("b"), b);
             ASSERT_NE(GraphOf(a), nullptr);
             EXPECT_EQ(GraphOf(a), GraphOf(c));
             EXPECT_FALSE(GraphOf(a)->HasCycle());
             b.SetNull();
             c.SetNull();
             a.GetObject()->RemoveProperty(Str("b"));
             EXPECT_EQ(ioLive.Count(), 1U) << "the chain's links are freed by their counts";
         }},
        {"joining two graphs merges them",
         [](StLiveContainers&)
         {
             VJSONValue first = MakeObject({{"x", MakeObject({})}});
             VJSONValue second = MakeArray({MakeArray({})});
             ASSERT_NE(GraphOf(first), GraphOf(second));
             VJSONValue child = first.GetObject()->GetProperty(Str("x"));
             child.GetObject()->SetProperty(Str("y"), second);
             EXPECT_EQ(GraphOf(first), GraphOf(second));
             EXPECT_EQ(GraphOf(first), GraphOf(second.GetArray()->GetAt(0)));
             EXPECT_EQ(GraphOf(first)->GetMemberCount(), 4U);
             second.GetArray()->Push(first); // and a cycle through both
         }},
        {"a Disconnect with an outside reference left frees nothing",
         [](StLiveContainers& ioLive)
         {
             VJSONValue a = MakeMutualPair();
             VJSONValue held = a.GetObject()->GetProperty(Str("b"));
             held.GetObject()->RemoveProperty(Str("a"));
             EXPECT_EQ(ioLive.Count(), 2U);
             EXPECT_TRUE(a.GetObject()->GetProperty(Str("b")).IsObject());
         }},
        {"a cycle cut loose from a live tree is freed at once",
         [](StLiveContainers& ioLive)
         {
             VJSONValue root(JSON_object);
             {
                 VJSONValue a(JSON_object);
                 VJSONValue b(JSON_array);
                 a.GetObject()->SetProperty(Str("b"), b);
                 b.GetArray()->Push(a);
                 root.GetObject()->SetProperty(Str("a"), a);
             }
             EXPECT_EQ(ioLive.Count(), 3U);
             root.GetObject()->RemoveProperty(Str("a"));
             EXPECT_EQ(ioLive.Count(), 1U) << "only the root is left";
         }},
        {"a cycle made of a tree read by the builder path",
         [](StLiveContainers&)
         {
             VJSONBuilder builder;
             VJSONValue root = builder.Object();
             VJSONValue list = builder.Array();
             list.GetArray()->AppendOwn(builder.Object());
             root.GetObject()->AppendOwn(builder.Key(u"list"), VJSONValue(list));
             EXPECT_EQ(GraphOf(root), nullptr) << "the builder path makes no graph";
             list.GetArray()->GetAt(0).GetObject()->SetProperty(Str("root"), root);
             EXPECT_NE(GraphOf(root), nullptr);
             EXPECT_EQ(GraphOf(root), GraphOf(list));
         }},
        {"the clone of a cycle",
         [](StLiveContainers&)
         {
             VJSONValue a(JSON_object);
             VJSONValue b(JSON_array);
             a.GetObject()->SetProperty(Str("b"), b);
             b.GetArray()->Push(a);
             b.SetNull();
             VJSONValue copy;
             VJSONCloner cloner;
             ASSERT_EQ(cloner.CloneValue(copy = a), VE_OK);
             EXPECT_NE(copy.GetObject(), a.GetObject());
             EXPECT_EQ(copy.GetObject()->GetProperty(Str("b")).GetArray()->GetAt(0).GetObject(),
                       copy.GetObject());
         }},
        {"replacing a property by itself and dropping it from a cycle",
         [](StLiveContainers& ioLive)
         {
             VJSONValue a = MakeMutualPair();
             a.GetObject()->SetProperty(Str("b"), *a.GetObject()->FindOwnProperty(Str("b")));
             EXPECT_EQ(ioLive.Count(), 2U);
             a.GetObject()->GetProperty(Str("b")).GetObject()->SetProperty(Str("a"), VJSONValue(1.0));
             EXPECT_EQ(ioLive.Count(), 2U);
         }},
    };
    for (const Row& row : rows)
    {
        StLiveContainers live;
        row.fCase(live);
        EXPECT_EQ(live.Count(), 0U) << row.fWhat;
    }
}

// A model of the containers: which container each slot refers to, and how many references the
// test holds from outside. Whatever the model reaches must be alive (the test reads it, so an
// early free is a use after free); at the end everything must be gone.
TEST(JSONGraph, RandomLinksAndReleasesAgainstAModelOfReachability)
{
    constexpr int kContainers = 200;
    constexpr int kSteps = 6000;
    StLiveContainers live;
    std::mt19937 random(20261210);
    struct Node
    {
        VJSONObject* fObject = nullptr; // not held: the model says when it is alive
        VJSONArray* fArray = nullptr;
        std::map<int, int> fSlots; // key or index -> node
        std::vector<VJSONValue> fHeld;
    };
    std::vector<Node> nodes(kContainers);
    for (int i = 0; i < kContainers; ++i)
    {
        VJSONValue value(i % 3 == 0 ? JSON_array : JSON_object);
        nodes[i].fObject = value.GetObject();
        nodes[i].fArray = value.GetArray();
        nodes[i].fHeld.push_back(value);
    }
    auto valueOf = [&](int inNode)
    {
        return nodes[inNode].fObject != nullptr ? VJSONValue(nodes[inNode].fObject)
                                                : VJSONValue(nodes[inNode].fArray);
    };
    auto reachable = [&]
    {
        std::set<int> seen;
        std::vector<int> pending;
        for (int i = 0; i < kContainers; ++i)
        {
            if (!nodes[i].fHeld.empty())
            {
                pending.push_back(i);
            }
        }
        while (!pending.empty())
        {
            int node = pending.back();
            pending.pop_back();
            if (seen.insert(node).second)
            {
                for (const auto& [slot, child] : nodes[node].fSlots)
                {
                    pending.push_back(child);
                }
            }
        }
        return std::vector<int>(seen.begin(), seen.end());
    };
    auto pick = [&](const std::vector<int>& inFrom) { return inFrom[random() % inFrom.size()]; };
    for (int step = 0; step < kSteps; ++step)
    {
        std::vector<int> alive = reachable();
        if (alive.empty())
        {
            break;
        }
        // Every reachable container is alive and holds what the model says.
        for (int node : alive)
        {
            size_t count = nodes[node].fObject != nullptr ? nodes[node].fObject->GetOwnCount()
                                                          : nodes[node].fArray->GetCount();
            ASSERT_EQ(count, nodes[node].fSlots.size()) << "step " << step;
        }
        int from = pick(alive);
        Node& node = nodes[from];
        switch (random() % 8)
        {
        case 0:
        case 1:
        case 2: // store a reachable container into another (or the same)
        {
            int to = pick(alive);
            if (node.fObject != nullptr)
            {
                int key = static_cast<int>(random() % 6);
                node.fObject->SetProperty(VString(("k" + std::to_string(key)).c_str()), valueOf(to));
                node.fSlots[key] = to;
            }
            else if (!node.fSlots.empty() && random() % 2 == 0)
            {
                int index = static_cast<int>(random() % node.fSlots.size());
                node.fArray->SetAt(static_cast<size_t>(index), valueOf(to), false);
                node.fSlots[index] = to;
            }
            else
            {
                node.fArray->Push(valueOf(to));
                node.fSlots[static_cast<int>(node.fSlots.size())] = to;
            }
            break;
        }
        case 3:
        case 4: // remove one reference
        {
            if (node.fSlots.empty())
            {
                break;
            }
            auto slot = std::next(node.fSlots.begin(), static_cast<long>(random() % node.fSlots.size()));
            if (node.fObject != nullptr)
            {
                node.fObject->RemoveProperty(VString(("k" + std::to_string(slot->first)).c_str()));
                node.fSlots.erase(slot);
            }
            else
            {
                // Removing shifts the later elements down.
                int index = slot->first;
                node.fArray->RemoveAt(static_cast<size_t>(index));
                std::map<int, int> shifted;
                for (const auto& [at, child] : node.fSlots)
                {
                    if (at != index)
                    {
                        shifted[at > index ? at - 1 : at] = child;
                    }
                }
                node.fSlots = std::move(shifted);
            }
            break;
        }
        case 5: // hold one more reference from outside
            node.fHeld.push_back(valueOf(from));
            break;
        default: // drop an outside reference
            if (!node.fHeld.empty())
            {
                node.fHeld.pop_back();
            }
            break;
        }
    }
    for (Node& node : nodes)
    {
        node.fHeld.clear();
    }
    EXPECT_EQ(live.Count(), 0U) << "everything is freed once nothing outside holds it";
}

} // namespace
