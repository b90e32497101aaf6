#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/values/VArrayOf.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zorn;

namespace
{

std::vector<int> Elements(const VArrayOf<int>& inArray)
{
    std::vector<int> result;
    VArrayIteratorOf<int> iterator(inArray);
    while (iterator.HasMore())
    {
        result.push_back(iterator.Next());
    }
    return result;
}

TEST(ArrayOf, PositionsFromOne)
{
    struct Row
    {
        const char* fWhat;
        int32_t fPos;
        std::vector<int> fResult;
    };
    const Row rows[] = {
        {"at 1", 1, {9, 1, 2, 3}},
        {"in the middle", 3, {1, 2, 9, 3}},
        {"just past the end", 4, {1, 2, 3, 9}},
        {"far past the end", 100, {1, 2, 3, 9}},
        {"below 1", -5, {9, 1, 2, 3}},
    };
    for (const Row& row : rows)
    {
        VArrayOf<int> array(0, 2);
        for (int value : {1, 2, 3})
        {
            array.AddTail(value);
        }
        ASSERT_TRUE(array.AddNth(9, row.fPos));
        EXPECT_EQ(Elements(array), row.fResult) << row.fWhat;
    }

    VArrayOf<int> array;
    for (int value : {5, 6, 7, 6, 8})
    {
        array.AddTail(value);
    }
    EXPECT_EQ(array.FindPos(6), 2);
    EXPECT_EQ(array.FindPos(4), 0);
    EXPECT_EQ(array.GetNth(0), 0);
    EXPECT_EQ(array.GetNth(6), 0);
    array.DeleteNths(2, 3);
    EXPECT_EQ(Elements(array), (std::vector<int>{5, 6, 8}));
    array.DeleteNths(3, 50);
    EXPECT_EQ(Elements(array), (std::vector<int>{5, 6}));
    EXPECT_TRUE(array.Delete(5));
    EXPECT_FALSE(array.Delete(5));
    EXPECT_EQ(Elements(array), (std::vector<int>{6}));
}

class Counted : public IRefCountable
{
};

TEST(ArrayOf, RetainedElementsAreReleased)
{
    // Each object is created with one reference, handed to the array and released here: the
    // array's references are the only ones left, and LeakSanitizer reports any it fails to drop.
    VArrayRetainedPtrOf<Counted> array;
    for (int i = 0; i < 5; ++i)
    {
        Counted* object = new Counted;
        array.AddTail(object);
        EXPECT_EQ(object->GetRefCount(), 2u);
        object->Release();
    }
    Counted* kept = array.GetNth(1);
    kept->Retain();
    array.DeleteNth(1);
    EXPECT_EQ(kept->GetRefCount(), 1u);
    {
        VArrayRetainedPtrOf<Counted> copy(array);
        EXPECT_EQ(copy.GetNth(1)->GetRefCount(), 2u);
    }
    array.SetNth(kept, 2);
    kept->Release();
    array.DeleteNths(3, 4);
    EXPECT_EQ(array.GetCount(), 2);
    // The rest goes with the array.
}

} // namespace
