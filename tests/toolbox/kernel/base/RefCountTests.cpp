#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/SharedBuffer.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zorn;

namespace
{

// Counts how often it is destroyed, so tests can see "deleted exactly once".
class Counted : public VObject, public IRefCountable
{
public:
    explicit Counted(std::atomic<int>* outDeletions) : fDeletions(outDeletions) {}
    ~Counted() override { fDeletions->fetch_add(1); }

private:
    std::atomic<int>* fDeletions;
};

// Returns itself to a "pool" instead of being deleted.
class Pooled : public VObject, public IRefCountable
{
public:
    int fReturnedToPool = 0;

protected:
    void DoOnRefCountZero() override { ++fReturnedToPool; }
};

TEST(RefCountable, CountsAndDeletesOnLastRelease)
{
    std::atomic<int> deletions{0};
    Counted* object = new Counted(&deletions);
    EXPECT_EQ(object->GetRefCount(), 1u);
    EXPECT_EQ(object->Retain(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(deletions.load(), 0);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(deletions.load(), 1);
}

TEST(RefCountable, OverriddenZeroHookKeepsObject)
{
    Pooled pooled;
    pooled.Retain(); // count 2, so the object on the stack can drop to 0 safely
    pooled.Release();
    EXPECT_EQ(pooled.Release(), 0u);
    EXPECT_EQ(pooled.fReturnedToPool, 1);
}

TEST(RefCountable, ReleasedAcrossThreadsDeletedExactlyOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    for (int round = 0; round < 20; ++round)
    {
        std::atomic<int> deletions{0};
        Counted* object = new Counted(&deletions);
        for (int i = 0; i < kThreads * kRounds; ++i)
        {
            object->Retain();
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
        {
            threads.emplace_back(
                [object]
                {
                    for (int i = 0; i < kRounds; ++i)
                    {
                        object->Release();
                    }
                });
        }
        for (auto& thread : threads)
        {
            thread.join();
        }
        EXPECT_EQ(deletions.load(), 0);
        object->Release();
        ASSERT_EQ(deletions.load(), 1) << "round " << round;
    }
}

TEST(RefPtr, HoldsAndReleasesOneReference)
{
    std::atomic<int> deletions{0};
    Counted* object = new Counted(&deletions);
    {
        VRefPtr<Counted> first(object, /*inAdopt*/ true);
        VRefPtr<Counted> second = first;
        EXPECT_EQ(object->GetRefCount(), 2u);
        VRefPtr<Counted> moved = std::move(second);
        EXPECT_EQ(object->GetRefCount(), 2u);
        EXPECT_FALSE(second);
        moved = nullptr;
        EXPECT_EQ(object->GetRefCount(), 1u);
    }
    EXPECT_EQ(deletions.load(), 1);
    VRefPtr<Counted> empty; // a null pointer releases nothing
}

TEST(VObject, DefaultDumpAndClassNameAreEmpty)
{
    VObject object;
    VString dump("not empty");
    object.DebugDump(dump);
    EXPECT_TRUE(dump.IsEmpty());
    VString name("x");
    object.DebugGetClassName(name);
    EXPECT_TRUE(name.IsEmpty());
}

TEST(SharedBuffer, CreatesCopiesAndFreesOnLastRelease)
{
    SharedBuffer* empty = SharedBuffer::Create("abc", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSize(), 0u);
    EXPECT_EQ(empty->GetRefCount(), 1u);
    empty->Release();

    const char data[] = "payload";
    SharedBuffer* buffer = SharedBuffer::Create(data, sizeof(data));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::memcmp(buffer->GetData(), data, sizeof(data)), 0);
    buffer->Retain();
    EXPECT_EQ(buffer->GetRefCount(), 2u);
    buffer->Release();
    buffer->Release(); // frees: AddressSanitizer reports a leak otherwise
}

} // namespace
