#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemCppImpl.h"
#include "toolbox/kernel/memory/VMemStats.h"
#include "toolbox/kernel/memory/VMemThreadImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace zorn;

namespace
{

constexpr int kTag = MakeOsType('t', 'e', 's', 't');
constexpr size_t kLargeHeader = sizeof(VMemImplBlock);

// One back end used on its own, without a manager.
class OwnBackEnd : public ::testing::Test
{
protected:
    void SetUp() override { fBackEnd.Init(nullptr); }

    void* Alloc(size_t inSize) { return fBackEnd.Malloc(inSize, 0, 0, kTag); }
    // A large block of exactly inBlockSize bytes: a multiple of 1024 from 9 KiB up to 1 MiB, of 8
    // above.
    void* Large(size_t inBlockSize) { return Alloc(inBlockSize - kLargeHeader); }
    size_t Used()
    {
        size_t total = 0;
        size_t used = 0;
        fBackEnd.GetMemUsageInfo(total, used);
        return used;
    }
    VMemStats Stats()
    {
        VMemStats stats;
        fBackEnd.GetStats(stats, 0);
        return stats;
    }
    // The first page with room of the small blocks that serve a request of inSize bytes.
    VPageAllocationImpl* FirstPage(size_t inSize)
    {
        size_t granularity = 0;
        return fBackEnd.GetSmallBlocks().GetFirstPage(
            VMemThreadImpl::GetStepFromSize(inSize + sizeof(VMemImplSmallBlock), granularity));
    }

    VMemCppImpl fBackEnd{0};
};

// The same with auto-allocation on, as the manager sets its back ends: regions come and go.
class AutoBackEnd : public OwnBackEnd
{
protected:
    void SetUp() override
    {
        OwnBackEnd::SetUp();
        fBackEnd.SetAutoAllocationState(true);
    }
};

TEST(OwnAllocatorSteps, TablesAtTheirBorders)
{
    struct LargeRow
    {
        const char* fWhat;
        size_t fSize;
        int fStep;
        size_t fStepSize;
        int fExactStep;
    };
    const LargeRow large[] = {
        {"0 bytes", 0, 0, 1024, 0},
        {"1 byte", 1, 1, 1024, 0},
        {"one KiB less 1", 1023, 1, 1024, 0},
        {"one KiB", 1024, 1, 1024, 1},
        {"one KiB and 1", 1025, 2, 1024, 1},
        {"1 MiB", 1048576, 1024, 1024, 1024},
        {"1 MiB and 1", 1048577, 1025, 0, 1025},
    };
    for (const LargeRow& row : large)
    {
        size_t stepSize = 99;
        EXPECT_EQ(VMemCppImpl::GetStepFromSize(row.fSize, stepSize), row.fStep) << row.fWhat;
        EXPECT_EQ(stepSize, row.fStepSize) << row.fWhat;
        EXPECT_EQ(VMemCppImpl::GetExactStepFromSize(row.fSize), row.fExactStep) << row.fWhat;
    }

    // Requests of n bytes, the 8-byte header included.
    struct SmallRow
    {
        const char* fWhat;
        size_t fSize;
        int fStep;
        size_t fBlockSize;
        size_t fPageSize;
    };
    const SmallRow small[] = {
        {"smallest", 8, 1, 16, 8168},
        {"16", 16, 1, 16, 8168},
        {"17", 17, 2, 32, 8168},
        {"last of the 8 KiB pages", 240, 15, 240, 8168},
        {"first of the 16 KiB pages", 241, 16, 256, 16360},
        {"last step of 16", 1024, 64, 1024, 65512},
        {"first step of 64 (65 is never used)", 1025, 66, 1088, 65512},
        {"1088", 1088, 66, 1088, 65512},
        {"1089", 1089, 67, 1152, 65512},
        {"last step of 64", 4096, 113, 4096, 131048},
        {"first step of 256 (114 is never used)", 4097, 115, 4352, 131048},
        {"largest small request", 8199, 131, 8448, 131048},
    };
    for (const SmallRow& row : small)
    {
        size_t granularity = 0;
        EXPECT_EQ(VMemThreadImpl::GetStepFromSize(row.fSize, granularity), row.fStep) << row.fWhat;
        EXPECT_EQ(VMemThreadImpl::GetBlockSize(row.fSize), row.fBlockSize) << row.fWhat;
        EXPECT_EQ(VMemThreadImpl::GetPageSize(row.fBlockSize), row.fPageSize) << row.fWhat;
    }
}

TEST(OwnAllocatorSteps, LargeBlockSizes)
{
    struct Row
    {
        const char* fWhat;
        size_t fRequest;
        size_t fBlockSize;
        int fStep;
    };
    const Row rows[] = {
        {"1000 bytes take 1 KiB", 1000, 1024, 1},
        {"1001 bytes take 2 KiB", 1001, 2048, 2},
        {"8168 bytes: an 8 KiB page", 8168, 8192, 8},
        {"1048552 bytes: the last KiB step", 1048552, 1048576, 1024},
        {"1048553 bytes: step 1025, multiple of 8", 1048553, 1048584, 1025},
        {"largest request", 2147481598, 2147481624, 1025},
    };
    for (const Row& row : rows)
    {
        int step = 0;
        EXPECT_EQ(VMemCppImpl::GetBlockSizeForRequest(row.fRequest, step), row.fBlockSize) << row.fWhat;
        EXPECT_EQ(step, row.fStep) << row.fWhat;
    }
}

TEST_F(AutoBackEnd, BlockSizesServed)
{
    struct Row
    {
        const char* fWhat;
        size_t fRequest;
        size_t fUsable; // GetPtrSize
    };
    const Row rows[] = {
        {"8192 bytes: a large block", 8192, 9216 - 24},
        {"8191 bytes: a small block of 8448", 8191, 8448 - 8},
        {"1 byte: a small block of 16", 1, 16 - 8},
        {"0 bytes: a small block of 16", 0, 16 - 8},
        {"1048553 bytes: a multiple of 8", 1048553, 1048584 - 24},
        {"largest request", 2147481598, 2147481624 - 24},
    };
    for (const Row& row : rows)
    {
        void* block = Alloc(row.fRequest);
        ASSERT_NE(block, nullptr) << row.fWhat;
        EXPECT_EQ(fBackEnd.GetPtrSize(block), row.fUsable) << row.fWhat;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << row.fWhat;
        fBackEnd.Free(block);
        EXPECT_TRUE(fBackEnd.Check(nullptr)) << row.fWhat;
    }
    EXPECT_EQ(Alloc(2147481599), nullptr) << "above the largest request";
    EXPECT_EQ(Alloc(SIZE_MAX), nullptr) << "no wrap-around";
    EXPECT_EQ(fBackEnd.Malloc(SIZE_MAX - 10, 1, 0, kTag), nullptr);
    EXPECT_EQ(fBackEnd.CountAllocations(), 1) << "one empty region kept";
    EXPECT_EQ(fBackEnd.GetTotalAllocation(), 20u << 20) << "the one of 2 GiB released once empty";
}

TEST_F(OwnBackEnd, TailCarving)
{
    EXPECT_FALSE(fBackEnd.AddAllocation(65535, nullptr, 0)) << "below 64 KiB";
    ASSERT_TRUE(fBackEnd.AddAllocation(65536, nullptr, 0));
    VMemImplAllocation* region = fBackEnd.GetFirstRegion();
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(region->fUsableSize, 65536u - 64);
    size_t usedTotal = 0;
    VMemImplBlock* first = region->AllocateAtTheEnd(4096, usedTotal, 0, 0, kTag);
    ASSERT_EQ(first, region->GetFirstBlock());
    EXPECT_EQ(first->fPreviousSize, 0u);
    VMemImplBlock* second = region->AllocateAtTheEnd(1024, usedTotal, 1, 0, kTag);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->fPreviousSize, 4096u);
    EXPECT_EQ(second->fState, 1024 + 1) << "virtual";
    EXPECT_EQ(region->fLastBlockSize, 1024u) << "replaced, not added to";
    EXPECT_TRUE(region->IsLastBlock(second));
    EXPECT_FALSE(region->IsLastBlock(first));

    size_t tail = region->GetTailSize();
    EXPECT_EQ(region->AllocateAtTheEnd(tail + 1, usedTotal, 0, 0, kTag), nullptr) << "one byte short";
    EXPECT_EQ(region->GetTailSize(), tail) << "nothing changed";
    VMemImplBlock* last = region->AllocateAtTheEnd(tail, usedTotal, 0, 1, kTag);
    ASSERT_NE(last, nullptr) << "a tail of exactly the size";
    EXPECT_EQ(last->fState, static_cast<int32_t>(tail) + 2);
    EXPECT_EQ(region->GetTailSize(), 0u);
    EXPECT_EQ(usedTotal, 65536u - 64);
    EXPECT_TRUE(region->Contains(last));
    EXPECT_FALSE(region->Contains(region->GetCarvedEnd()));

    region->ReduceFrom(second);
    EXPECT_EQ(region->fUsedOffset, 4096u);
    EXPECT_EQ(region->fLastBlockSize, 4096u);
    region->ReduceFrom(reinterpret_cast<VMemImplBlock*>(region)); // before the first block
    EXPECT_EQ(region->fUsedOffset, 4096u);
}

TEST_F(OwnBackEnd, SplitOnlyWhen8192BytesRemain)
{
    struct Row
    {
        const char* fWhat;
        size_t fFreed; // the block freed, then asked again for 9 KiB
        bool fSplit;
    };
    const Row rows[] = {
        {"17 KiB block: 8192 bytes remain", 17408, true},
        {"16 KiB block: 7168 bytes remain", 16384, false},
    };
    for (const Row& row : rows)
    {
        VMemCppImpl backEnd(1);
        backEnd.Init(nullptr);
        // A region that the freed block and a guard after it fill exactly: no tail serves.
        ASSERT_TRUE(backEnd.AddAllocation(64 + row.fFreed + 65536, nullptr, 0));
        void* freed = backEnd.Malloc(row.fFreed - kLargeHeader, 0, 0, kTag);
        void* guard = backEnd.Malloc(65536 - kLargeHeader, 0, 0, kTag);
        ASSERT_NE(guard, nullptr) << row.fWhat;
        EXPECT_EQ(backEnd.GetFirstRegion()->GetTailSize(), 0u) << row.fWhat;
        backEnd.Free(freed);

        void* taken = backEnd.Malloc(9216 - kLargeHeader, 0, 0, kTag);
        EXPECT_EQ(taken, freed) << row.fWhat;
        EXPECT_EQ(backEnd.GetPtrSize(taken), (row.fSplit ? 9216 : row.fFreed) - kLargeHeader) << row.fWhat;
        EXPECT_TRUE(backEnd.Check(nullptr)) << row.fWhat;
        VMemStats stats;
        backEnd.GetStats(stats, 0);
        EXPECT_EQ(stats.fNbBigBlocks, row.fSplit ? 3 : 2) << row.fWhat;
        EXPECT_EQ(stats.fBigBlockMap[8192].fFreeOrPartial, row.fSplit ? 1 : 0)
            << row.fWhat << ": the rest is free";
        backEnd.Free(taken);
        backEnd.Free(guard);
        EXPECT_TRUE(backEnd.Check(nullptr)) << row.fWhat;
        EXPECT_EQ(backEnd.GetFirstRegion()->fUsedOffset, 0u) << row.fWhat << ": all back to the tail";
    }
}

TEST_F(OwnBackEnd, FreedNeighboursMerge)
{
    ASSERT_TRUE(fBackEnd.AddAllocation(1 << 20, nullptr, 0));
    // Freed in three orders, the middle block always last or first.
    const int orders[][3] = {{0, 2, 1}, {1, 0, 2}, {1, 2, 0}};
    for (const auto& order : orders)
    {
        void* blocks[3] = {Large(16384), Large(32768), Large(10240)};
        void* guard = Large(9216);
        for (int index : order)
        {
            fBackEnd.Free(blocks[index]);
            ASSERT_TRUE(fBackEnd.Check(nullptr));
        }
        VMemStats stats = Stats();
        EXPECT_EQ(stats.fNbFreeBigBlocks, 1)
            << "one merged block, order " << order[0] << order[1] << order[2];
        EXPECT_EQ(stats.fBigBlockMap[16384 + 32768 + 10240].fFreeOrPartial, 1);
        void* again = Large(16384 + 32768 + 10240);
        EXPECT_EQ(again, blocks[0]) << "the lower address keeps the header";
        fBackEnd.Free(again);
        fBackEnd.Free(guard);
        ASSERT_TRUE(fBackEnd.Check(nullptr));
        EXPECT_EQ(fBackEnd.GetFirstRegion()->fUsedOffset, 0u) << "the last block took the free ones with it";
        EXPECT_EQ(fBackEnd.CountAllocations(), 1) << "without auto-allocation the region stays";
    }
    EXPECT_EQ(Used(), 0u);
}

TEST_F(OwnBackEnd, NoMergePast2GiB)
{
    // Two free neighbours whose sum would not fit the signed 32-bit state stay apart. Only their
    // headers are touched, so the region costs address space, not memory.
    const size_t half = 1200u << 20;
    ASSERT_TRUE(fBackEnd.AddAllocation(2 * half + (1 << 20), nullptr, 0));
    void* a = Large(half);
    void* b = Large(half);
    void* guard = Large(9216);
    ASSERT_NE(guard, nullptr);
    fBackEnd.Free(a);
    fBackEnd.Free(b);
    EXPECT_TRUE(fBackEnd.Check(nullptr));
    VMemStats stats = Stats();
    EXPECT_EQ(stats.fNbFreeBigBlocks, 2);
    EXPECT_EQ(stats.fBiggestFreeBlock, half);
    fBackEnd.Free(guard);
    EXPECT_TRUE(fBackEnd.Check(nullptr));
    EXPECT_EQ(fBackEnd.GetFirstRegion()->fUsedOffset, 0u);
}

TEST_F(AutoBackEnd, EmptyRegionsReleasedButOne)
{
    constexpr size_t kRegion = 20u << 20;
    void* block = Alloc(100000);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fBackEnd.CountAllocations(), 1);
    EXPECT_EQ(fBackEnd.GetTotalAllocation(), kRegion) << "at least 20 MiB";
    void* big = Alloc(30u << 20);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(fBackEnd.CountAllocations(), 2) << "a region sized for the request";
    fBackEnd.Free(big);
    EXPECT_EQ(fBackEnd.CountAllocations(), 1) << "a region above 20 MiB is released once empty";
    fBackEnd.Free(block);
    EXPECT_EQ(fBackEnd.CountAllocations(), 1) << "the last empty region of 20 MiB is kept";
    EXPECT_EQ(Used(), 0u);

    // Two regions of 20 MiB, each filled by one block: the one that empties second goes.
    void* first = Large(15u << 20);
    EXPECT_EQ(fBackEnd.GetTotalAllocation(), kRegion) << "the kept region serves";
    void* second = Large(15u << 20);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(fBackEnd.CountAllocations(), 2);
    fBackEnd.Free(first);
    EXPECT_EQ(fBackEnd.CountAllocations(), 2) << "one empty region: kept";
    fBackEnd.Free(second);
    EXPECT_EQ(fBackEnd.CountAllocations(), 1) << "a second empty region: released";
    EXPECT_EQ(Large(15u << 20), first) << "the kept region serves again";
    EXPECT_TRUE(fBackEnd.Check(nullptr));
    fBackEnd.Free(first);
    EXPECT_EQ(fBackEnd.GetTotalAllocation(), kRegion);
    EXPECT_EQ(Used(), 0u);
}

TEST_F(AutoBackEnd, SmallBlocksReuseAndPageRelease)
{
    void* a = Alloc(20);
    void* b = Alloc(20);
    void* c = Alloc(20);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 32) << "blocks of 32 bytes, carved in turn";
    const size_t pageSlack = 8192 - (8168 - 56) / 32 * 32;
    EXPECT_EQ(Used(), pageSlack + 3 * 32) << "the page's slack counts as used";
    VPageAllocationImpl* page = FirstPage(20);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->fBlockCount, (8168 - 56) / 32);

    fBackEnd.Free(a);
    fBackEnd.Free(b);
    EXPECT_TRUE(page->IsBlockFree(reinterpret_cast<VMemImplSmallBlock*>(static_cast<char*>(a) - 8)));
    EXPECT_FALSE(page->IsBlockFree(reinterpret_cast<VMemImplSmallBlock*>(static_cast<char*>(c) - 8)));
    EXPECT_EQ(Alloc(20), b) << "last freed, first served";
    EXPECT_EQ(Alloc(20), a);
    EXPECT_TRUE(fBackEnd.Check(nullptr));

    fBackEnd.Free(a);
    fBackEnd.Free(b);
    fBackEnd.Free(c);
    EXPECT_EQ(FirstPage(20), nullptr) << "the empty page is released at once";
    EXPECT_EQ(Used(), 0u);
    EXPECT_EQ(fBackEnd.GetFirstRegion()->fUsedOffset, 0u) << "its large block too";
}

TEST_F(AutoBackEnd, FreedVirtualBlockKeepsItsOffset)
{
    void* keep = Alloc(40); // keeps the page
    void* object = fBackEnd.Malloc(40, 0, 1, kTag);
    auto* header = reinterpret_cast<VMemImplSmallBlock*>(static_cast<char*>(object) - 8);
    const uint32_t offset = header->GetOffset();
    EXPECT_TRUE(header->IsVirtual());
    fBackEnd.Free(object);
    EXPECT_EQ(header->GetOffset(), offset) << "only the virtual mark is cleared";
    EXPECT_TRUE(fBackEnd.Check(nullptr)) << "every carved block holds its own offset";
    EXPECT_EQ(Alloc(40), object) << "served again, as a plain block";
    EXPECT_FALSE(header->IsVirtual());
    EXPECT_EQ(header->GetOffset(), offset);
    EXPECT_TRUE(fBackEnd.Check(nullptr));
    fBackEnd.Free(object);
    fBackEnd.Free(keep);
}

TEST_F(AutoBackEnd, FullPageLeavesItsListAndComesBack)
{
    const size_t count = (131048 - 56) / 8448;
    std::vector<void*> blocks;
    for (size_t i = 0; i < count; ++i)
    {
        blocks.push_back(Alloc(8000));
    }
    EXPECT_EQ(FirstPage(8000), nullptr) << "a full page leaves the list";
    fBackEnd.Free(blocks[3]);
    EXPECT_NE(FirstPage(8000), nullptr) << "and comes back with room";
    EXPECT_EQ(Alloc(8000), blocks[3]);
    for (void* block : blocks)
    {
        fBackEnd.Free(block);
    }
    EXPECT_TRUE(fBackEnd.Check(nullptr));
    EXPECT_EQ(fBackEnd.GetFirstRegion()->fUsedOffset, 0u) << "the page went back to the region";
}

TEST_F(AutoBackEnd, DamagedPagesFailTheirCheck)
{
    char* a = static_cast<char*>(Alloc(40));
    char* b = static_cast<char*>(Alloc(40));
    char* c = static_cast<char*>(Alloc(40));
    fBackEnd.Free(b);
    auto* page = reinterpret_cast<VPageAllocationImpl*>(a - 8 - 56);
    ASSERT_TRUE(page->Check(nullptr));
    auto* freeBlock = reinterpret_cast<VMemImplSmallBlock*>(b - 8);
    auto* usedBlock = reinterpret_cast<VMemImplSmallBlock*>(c - 8);

    struct Row
    {
        const char* fWhat;
        void (*fDamage)(VPageAllocationImpl*, VMemImplSmallBlock*, VMemImplSmallBlock*);
    };
    const Row rows[] = {
        {"free-list entry outside the page",
         [](VPageAllocationImpl*, VMemImplSmallBlock* inFree, VMemImplSmallBlock*)
         { inFree->NextFree() = reinterpret_cast<VMemImplSmallBlock*>(0x1000); }},
        {"free-listed count differs from the list", [](VPageAllocationImpl* inPage, VMemImplSmallBlock*,
                                                       VMemImplSmallBlock*) { inPage->fFreeCount = 2; }},
        {"free-listed count 0 with a list", [](VPageAllocationImpl* inPage, VMemImplSmallBlock*,
                                               VMemImplSmallBlock*) { inPage->fFreeCount = 0; }},
        {"used count negative", [](VPageAllocationImpl* inPage, VMemImplSmallBlock*, VMemImplSmallBlock*)
         { inPage->fUsedCount = 0xFFFF; }},
        {"used count above the block count",
         [](VPageAllocationImpl* inPage, VMemImplSmallBlock*, VMemImplSmallBlock*)
         { inPage->fUsedCount = static_cast<uint16_t>(inPage->fBlockCount + 1); }},
        {"carved block holding another offset",
         [](VPageAllocationImpl*, VMemImplSmallBlock*, VMemImplSmallBlock* inUsed)
         { inUsed->fOffsetWord -= 48; }},
    };
    for (const Row& row : rows)
    {
        VPageAllocationImpl savedPage = *page;
        VMemImplSmallBlock* savedLink = freeBlock->NextFree();
        int32_t savedWord = usedBlock->fOffsetWord;
        row.fDamage(page, freeBlock, usedBlock);
        EXPECT_FALSE(page->Check(nullptr)) << row.fWhat;
        EXPECT_FALSE(fBackEnd.Check(nullptr)) << row.fWhat << ": the back end's walk reaches the page";
        *page = savedPage;
        freeBlock->NextFree() = savedLink;
        usedBlock->fOffsetWord = savedWord;
        EXPECT_TRUE(page->Check(nullptr)) << row.fWhat << ": repaired";
    }
    freeBlock->NextFree() = reinterpret_cast<VMemImplSmallBlock*>(0x1000);
    EXPECT_TRUE(page->IsBlockFree(usedBlock)) << "a walk that leaves the page answers free";
    freeBlock->NextFree() = nullptr;
    EXPECT_TRUE(fBackEnd.GetSmallBlocks().Check(nullptr));
    fBackEnd.Free(a);
    fBackEnd.Free(c);
}

TEST_F(AutoBackEnd, ForeignAndRepeatedFreesAreRefused)
{
    char* small = static_cast<char*>(Alloc(100));
    char* keep = static_cast<char*>(Alloc(100));
    char* large = static_cast<char*>(Alloc(20000));
    char* keepLarge = static_cast<char*>(Alloc(20000));
    ASSERT_NE(keepLarge, nullptr);
    std::unique_ptr<char[]> heap(new char[64]);
    uint64_t stack[4] = {};
    fBackEnd.Free(small);
    fBackEnd.Free(large);
    size_t used = Used();

    struct Row
    {
        const char* fWhat;
        void* fPointer;
    };
    const Row rows[] = {
        {"a block of the C library", heap.get()},
        {"a stack address", &stack[2]},
        {"small block freed already", small},
        {"large block freed already", large},
        {"the middle of a large block", keepLarge + 1024},
        {"the middle of a small block", keep + 16},
        {"misaligned", keep + 1},
        {"a small-block page", keep - 8 - 56 - 112},
        {"a region header", fBackEnd.GetFirstRegion()},
        {"a null pointer", nullptr},
    };
    for (const Row& row : rows)
    {
        fBackEnd.Free(row.fPointer);
        EXPECT_EQ(Used(), used) << row.fWhat;
        EXPECT_TRUE(fBackEnd.Check(nullptr)) << row.fWhat;
        EXPECT_FALSE(fBackEnd.CheckPtr(row.fPointer)) << row.fWhat;
        EXPECT_EQ(fBackEnd.GetPtrSize(row.fPointer), 0u) << row.fWhat;
        EXPECT_EQ(fBackEnd.GetAllocationBlockNumber(row.fPointer), -1) << row.fWhat;
        EXPECT_EQ(fBackEnd.Realloc(row.fPointer, 10), nullptr) << row.fWhat;
    }
    EXPECT_TRUE(fBackEnd.CheckPtr(keep));
    EXPECT_TRUE(fBackEnd.CheckPtr(keepLarge));
    fBackEnd.Free(keep);
    fBackEnd.Free(keepLarge);
    EXPECT_EQ(Used(), 0u);
}

// A manager in own-allocator mode over the real back ends.
class OwnManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fManager.reset(new VCppMemMgr(VCppMemMgr::eAllocatorOwn));
        ASSERT_NE(fManager, nullptr);
        ASSERT_FALSE(fManager->IsStdLibMode());
        ASSERT_NE(dynamic_cast<VMemCppImpl*>(fManager->GetBackEnd(0)), nullptr);
    }

    size_t Used()
    {
        size_t total = 0;
        size_t used = 0;
        fManager->GetMemUsageInfo(total, used);
        EXPECT_EQ(fManager->GetAllocatedMem(), total);
        return used;
    }
    // Once every block is freed: sound back ends, nothing used, and no region left but the one
    // empty region of 20 MiB each back end may keep.
    void ExpectAllFreed()
    {
        EXPECT_TRUE(fManager->CheckBackEnds());
        EXPECT_EQ(Used(), 0u);
        EXPECT_LE(fManager->CountVirtualAllocations(), VCppMemMgr::kOwnBackEndCount);
        EXPECT_LE(fManager->GetAllocatedMem(), VCppMemMgr::kOwnBackEndCount * (20u << 20));
    }

    std::unique_ptr<VCppMemMgr> fManager;
};

TEST_F(OwnManager, BlocksOfAnyBackEndFreedThroughTheFirst)
{
    void* blocks[4];
    for (int i = 0; i < 4; ++i)
    {
        blocks[i] = fManager->Malloc(i % 2 == 0 ? 50 : 50000, false, kTag, i);
        ASSERT_NE(blocks[i], nullptr);
        EXPECT_EQ(fManager->GetAllocationBlockNumber(blocks[i]), i) << "the preferred back end served";
    }
    EXPECT_EQ(fManager->CountVirtualAllocations(), 4);
    // A page's slack (its header and what its blocks leave) counts as used.
    const size_t pageSlack = 8192 - (8168 - 56) / 64 * 64;
    EXPECT_EQ(Used(), 2 * (pageSlack + 64) + 2 * 50176);
    for (void* block : blocks)
    {
        fManager->Free(block);
    }
    ExpectAllFreed();
    EXPECT_EQ(fManager->CountVirtualAllocations(), 4) << "each back end keeps its emptied region";

    int local = 0;
    fManager->Free(&local);
    EXPECT_EQ(fManager->Realloc(&local, 100), nullptr) << "a foreign block is not moved";
    EXPECT_EQ(Used(), 0u) << "nor anything allocated for it";
    EXPECT_EQ(fManager->Malloc(size_t{1} << 31, false, kTag), nullptr);
}

class Probe : public VObject
{
public:
    int fValue = 7;
};

TEST_F(OwnManager, CheckVObjectReadsTheBlockHeader)
{
    struct Row
    {
        const char* fWhat;
        size_t fSize;
    };
    const Row rows[] = {{"small block", sizeof(Probe)}, {"large block", 9000}};
    // Keeps the region, and the page of the small blocks, alive.
    void* keep = fManager->Malloc(sizeof(Probe), false, kTag);
    for (const Row& row : rows)
    {
        void* memory = fManager->Malloc(row.fSize, true, kTag);
        ASSERT_NE(memory, nullptr);
        Probe* object = new (memory) Probe();
        EXPECT_TRUE(fManager->CheckVObject(object)) << row.fWhat;
        EXPECT_FALSE(fManager->CheckVObject(reinterpret_cast<char*>(object) + 8)) << row.fWhat << ": inside";
        object->~Probe();
        fManager->Free(memory);
        EXPECT_FALSE(fManager->CheckVObject(memory)) << row.fWhat << ": freed";

        void* plain = fManager->Malloc(row.fSize, false, kTag);
        EXPECT_FALSE(fManager->CheckVObject(plain)) << row.fWhat << ": not asked for as virtual";
        fManager->Free(plain);
    }
    fManager->Free(keep);
    Probe onStack;
    EXPECT_TRUE(fManager->CheckVObject(&onStack)) << "outside the back ends: only the form is checked";
    EXPECT_FALSE(fManager->CheckVObject(nullptr));
    EXPECT_FALSE(fManager->CheckVObject(reinterpret_cast<char*>(&onStack) + 1));
}

// ---- randomized runs against a shadow map ----

struct Shadow
{
    size_t fSize;
    uint64_t fSeed;
};

// The byte a stamp puts at inIndex of a block.
char StampByte(uint64_t inSeed, size_t inIndex)
{
    return static_cast<char>(static_cast<char>(inSeed >> (inIndex % 8 * 8)) ^ static_cast<char>(inIndex));
}

// Visits the stamped bytes of a block, its first 16 and, when it has 32 or more, its last 16,
// until inVisit answers false; true when it never did.
template <typename Visit>
bool VisitStamped(size_t inSize, Visit inVisit)
{
    for (size_t i = 0; i < std::min<size_t>(inSize, 16); ++i)
    {
        if (!inVisit(i))
        {
            return false;
        }
    }
    for (size_t i = inSize >= 32 ? inSize - 16 : inSize; i < inSize; ++i)
    {
        if (!inVisit(i))
        {
            return false;
        }
    }
    return true;
}

void Stamp(char* inBlock, size_t inSize, uint64_t inSeed)
{
    VisitStamped(inSize,
                 [&](size_t inIndex)
                 {
                     inBlock[inIndex] = StampByte(inSeed, inIndex);
                     return true;
                 });
}

bool HasStamp(const char* inBlock, size_t inSize, uint64_t inSeed)
{
    return VisitStamped(inSize,
                        [&](size_t inIndex) { return inBlock[inIndex] == StampByte(inSeed, inIndex); });
}

// Runs inSteps random malloc / realloc / free requests of 1 B to 4 MiB on the manager, checking
// every block against its shadow and the back ends every 1000 steps. Returns the failures found.
int RunRandomSteps(VCppMemMgr& ioManager, uint32_t inSeed, int inSteps)
{
    std::mt19937_64 random(inSeed);
    std::unordered_map<char*, Shadow> live;
    std::vector<char*> order;
    int failures = 0;
    auto fail = [&failures, inSeed](const char* inWhat)
    {
        ++failures;
        ADD_FAILURE() << inWhat << " (seed " << inSeed << ")";
    };
    // Mostly small blocks, as callers ask; the larger ones spread evenly over the powers of two,
    // so that the copies of Realloc stay affordable.
    auto pickSize = [&random]() -> size_t
    {
        uint64_t kind = random() % 100;
        if (kind < 75)
        {
            return 1 + random() % 8191;
        }
        int bits = kind < 97 ? 13 + static_cast<int>(random() % 7) : 20 + static_cast<int>(random() % 2);
        size_t base = size_t{1} << bits;
        return base + random() % base; // 8 KiB to 1 MiB, then the sized list up to 4 MiB
    };
    auto forget = [&](size_t inIndex)
    {
        order[inIndex] = order.back();
        order.pop_back();
    };
    for (int step = 1; step <= inSteps; ++step)
    {
        uint64_t action = random() % 100;
        bool grow = order.size() < 64 || (order.size() < 500 && action < 45);
        if (grow)
        {
            size_t size = pickSize();
            auto* block = static_cast<char*>(ioManager.Malloc(size, false, kTag));
            if (block == nullptr || ioManager.GetPtrSize(block) < size || live.count(block) != 0)
            {
                fail("allocation failed or gave a live block");
                continue;
            }
            uint64_t seed = random();
            Stamp(block, size, seed);
            live[block] = {size, seed};
            order.push_back(block);
        }
        else
        {
            size_t index = random() % order.size();
            char* block = order[index];
            Shadow shadow = live[block];
            if (!HasStamp(block, shadow.fSize, shadow.fSeed))
            {
                fail("stamp lost before a free or realloc");
            }
            live.erase(block);
            forget(index);
            if (action < 70)
            {
                size_t size = pickSize();
                auto* moved = static_cast<char*>(ioManager.Realloc(block, size));
                if (moved == nullptr || live.count(moved) != 0)
                {
                    fail("realloc failed or gave a live block");
                    continue;
                }
                // The content moved with the block: the first bytes are the old stamp's.
                if (!HasStamp(moved, std::min<size_t>({size, shadow.fSize, 16}), shadow.fSeed))
                {
                    fail("realloc lost the content");
                }
                uint64_t seed = random();
                Stamp(moved, size, seed);
                live[moved] = {size, seed};
                order.push_back(moved);
            }
            else
            {
                ioManager.Free(block);
            }
        }
        if (step % 1000 == 0)
        {
            if (!ioManager.CheckBackEnds())
            {
                fail("back ends failed their check");
            }
            // Every block keeps its stamp and its size; a few go through the full pointer check,
            // which walks their page's free list.
            size_t checked = 0;
            for (const auto& [block, shadow] : live)
            {
                if (!HasStamp(block, shadow.fSize, shadow.fSeed) ||
                    ioManager.GetPtrSize(block) < shadow.fSize ||
                    (++checked % 32 == 0 && !ioManager.CheckPtr(block)))
                {
                    fail("a live block lost its stamp");
                }
            }
        }
        if (failures > 10)
        {
            break;
        }
    }
    for (char* block : order)
    {
        ioManager.Free(block);
    }
    return failures;
}

// The step count: a million where it runs fast enough, fewer under ThreadSanitizer.
int RandomStepCount()
{
#if defined(__SANITIZE_THREAD__)
    return 60000;
#else
    return 1000000;
#endif
}

TEST_F(OwnManager, RandomStepsAgainstAShadowMap)
{
    EXPECT_EQ(RunRandomSteps(*fManager, 20261211, RandomStepCount()), 0);
    ExpectAllFreed();
}

TEST_F(OwnManager, RandomStepsFromFourThreads)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
    {
        threads.emplace_back([&, t]
                             { failures += RunRandomSteps(*fManager, 77 + t, RandomStepCount() / 4); });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    ExpectAllFreed();
}

} // namespace
