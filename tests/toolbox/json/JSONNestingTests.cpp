// Deep trees: every walk either finishes or stops with 'zorn' 108, and dropping a tree of any
// depth never recurses, on the main task and on a task with a small stack.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

enum class Shape
{
    kArrays,
    kObjects,
    kAlternating,
};

// A chain of inDepth containers, each holding the next as its only member; outLeaf is the last.
VJSONValue Chain(Shape inShape, size_t inDepth, VJSONValue& outLeaf)
{
    auto typeAt = [inShape](size_t inLevel)
    {
        if (inShape == Shape::kAlternating)
        {
            return inLevel % 2 == 0 ? JSON_array : JSON_object;
        }
        return inShape == Shape::kArrays ? JSON_array : JSON_object;
    };
    static const CVSTR_struct sName(u"next");
    VJSONValue root(typeAt(0));
    VJSONValue cursor = root;
    for (size_t level = 1; level < inDepth; ++level)
    {
        VJSONValue child(typeAt(level));
        if (VJSONArray* array = cursor.GetArray())
        {
            array->Push(child);
        }
        else
        {
            cursor.GetObject()->SetProperty(sName, child);
        }
        cursor = std::move(child);
    }
    outLeaf = cursor;
    return root;
}

// Runs every walk over chains of each shape, inDepth deep; failures are reported with the case.
// With inSmallStack, a walk that is shallow may still stop with 'zorn' 108: the free-stack check
// counts what the thread really has left (a sanitizer's thread state can take much of it).
void WalkDeepChains(size_t inDepth, bool inSmallStack)
{
    struct Row
    {
        const char* fWhat;
        Shape fShape;
    };
    const Row rows[] = {
        {"arrays", Shape::kArrays},
        {"objects", Shape::kObjects},
        {"arrays and objects alternating", Shape::kAlternating},
    };
    for (const Row& row : rows)
    {
        std::string what = std::string(row.fWhat) + " nested " + std::to_string(inDepth) + " deep";
        VJSONValue leaf;
        VJSONValue chain = Chain(row.fShape, inDepth, leaf);
        // The container two levels down: of the same type as the top, and as deep within 2.
        VJSONValue other = chain;
        for (int level = 0; level < 2; ++level)
        {
            other =
                other.IsArray() ? other.GetArray()->GetAt(0) : other.GetObject()->GetProperty(Str("next"));
        }
        VCompareOptions options;
        {
            StErrorContextInstaller errors;
            VJSONCloner cloner;
            VJSONValue clone = chain;
            EXPECT_EQ(cloner.CloneValue(clone), VE_JSON_NESTING_TOO_DEEP) << what;
            EXPECT_EQ(errors.GetLastError(), VE_JSON_NESTING_TOO_DEEP) << what;
        }
        {
            StErrorContextInstaller errors;
            EXPECT_FALSE(chain.DeepEqualTo(other, options)) << what << ": too deep to tell";
            EXPECT_EQ(errors.GetLastError(), VE_JSON_NESTING_TOO_DEEP) << what;
            EXPECT_TRUE(chain.DeepEqualTo(chain, options)) << what << ": the same tree";
            EXPECT_NE(chain.CompareTo(other, options), CR_EQUAL) << what;
        }
        {
            StErrorContextInstaller errors;
            VString text;
            VError error = chain.GetString(text);
            // An array's text walks its elements; an object's text is "[object Object]".
            VError expected =
                chain.IsArray() && row.fShape == Shape::kArrays ? VE_JSON_NESTING_TOO_DEEP : VE_OK;
            auto expectText = [&](VError inError)
            {
                if (inSmallStack && expected == VE_OK && inError == VE_JSON_NESTING_TOO_DEEP)
                {
                    return;
                }
                EXPECT_EQ(inError, expected) << what;
            };
            expectText(error);
            if (chain.IsArray())
            {
                expectText(chain.GetArray()->JoinAsString(Str(","), text, false, true));
            }
        }
        // Storing the chain in a tree with a change stamp gives the stamp to every container.
        VJSONValue holder(JSON_array);
        VJSONStamp* stamp = new VJSONStamp();
        holder.GetArray()->SetJSONStamp(stamp);
        holder.GetArray()->Push(chain);
        VJSONStamp* leafStamp =
            leaf.IsArray() ? leaf.GetArray()->GetJSONStamp() : leaf.GetObject()->GetJSONStamp();
        EXPECT_EQ(leafStamp, stamp) << what;
        stamp->Release();
        EXPECT_EQ(StJSONNestingGuard::GetDepth(), 0u) << what;
        // Dropping the chains (the last references are here) must not overflow the stack.
        holder.SetNull();
        chain.SetNull();
        other.SetNull();
        leaf.SetNull();
    }
}

class JSONNesting : public TaskManagerTest
{
};

// One case per depth, so that each stays short under the sanitizers: the shallowest chain on
// which every walk meets the nesting guard (the comparison with the chain two levels shorter
// stops at its end, a level past the guard's), and ten and a hundred times its depth: nothing
// recurses, so what holds there holds at any depth.
class JSONDeepChains : public TaskManagerTest, public ::testing::WithParamInterface<size_t>
{
};

TEST_P(JSONDeepChains, OnTheMainTask)
{
    WalkDeepChains(GetParam(), false);
}

TEST_P(JSONDeepChains, OnATaskWithASmallStack)
{
    size_t depth = GetParam();
    VRefPtr<VTask> task(new VTask(512 * 1024, eTaskStylePreemptive, [depth] { WalkDeepChains(depth, true); }),
                        true);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(600000));
}

INSTANTIATE_TEST_SUITE_P(Depths, JSONDeepChains, ::testing::Values(1004, 10000, 100000));

TEST_F(JSONNesting, TreesWithinTheCapWalkWhole)
{
    // 900 levels (under the cap) clone, compare and print like any tree.
    VJSONValue leaf;
    VJSONValue chain = Chain(Shape::kAlternating, 900, leaf);
    leaf.GetObject()->SetProperty(Str("end"), VJSONValue(1.0));
    StErrorContextInstaller errors;
    VJSONCloner cloner;
    VJSONValue clone = chain;
    ASSERT_EQ(cloner.CloneValue(clone), VE_OK);
    EXPECT_NE(clone.GetArray(), chain.GetArray());
    EXPECT_TRUE(chain.DeepEqualTo(clone, VCompareOptions()));
    leaf.GetObject()->SetProperty(Str("end"), VJSONValue(2.0));
    EXPECT_FALSE(chain.DeepEqualTo(clone, VCompareOptions())) << "the difference at the bottom is seen";
    EXPECT_EQ(errors.GetLastError(), VE_OK);
}

} // namespace
