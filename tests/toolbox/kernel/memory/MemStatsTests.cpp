#include "platform/Bundle.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VLeaksChecker.h"
#include "toolbox/kernel/memory/VMemCppImpl.h"
#include "toolbox/kernel/memory/VMemStats.h"
#include "toolbox/kernel/memory/VMemThreadImpl.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <regex>
#include <string>
#include <unistd.h>

using namespace zorn;
namespace fs = std::filesystem;

namespace
{

constexpr int kTag = MakeOsType('s', 't', 'a', 't');

class Probe : public VObject
{
public:
    int fValue = 7;
};

std::string StreamText(const VMemStats& inStats)
{
    VPtrStream stream;
    stream.OpenWriting();
    EXPECT_EQ(inStats.DumpToStream(&stream), VE_OK);
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

TEST(MemStats, EmptyRecordStreamedAsItsHeads)
{
    VMemStats stats;
    EXPECT_EQ(StreamText(stats),
              "Used Mem = 0\nFree Mem = 0\nBiggest Free Block = 0\n\n\nNb Objects = 0\n\n\n"
              "\n\nBlocks by Tags\n\n");
}

TEST(MemStats, TextFormsListTheMapsInKeyOrder)
{
    VMemStats stats;
    stats.fUsedMem = 4096;
    stats.fFreeMem = 100;
    stats.fBiggestFreeBlock = 64;
    stats.fBiggestBlock = 9216;
    stats.fNbObjects = 2;
    stats.fNbBigBlocks = 3;
    stats.fNbUsedBigBlocks = 2;
    stats.fNbFreeBigBlocks = 1;
    stats.fNbPages = 1;
    stats.fNbSmallBlocks = 5;
    stats.fNbUsedSmallBlocks = 4;
    stats.fNbFreeSmallBlocks = 1;
    stats.fClassMap[&typeid(Probe)] = {2, 9248};
    stats.fTagMap[MakeOsType('z', 'z', 'z', 'z')] = {1, 32};
    stats.fTagMap[MakeOsType('a', 'b', 'c', 'd')] = {3, 96};
    stats.fSmallBlockMap[64] = {4, 1};
    stats.fSmallBlockMap[32] = {0, 250};
    stats.fPageMap[8192] = {1, 2};
    stats.fBigBlockMap[9216] = {2, 1};
    stats.fBlockMap.push_back({1, 2, 3}); // never printed

    const std::string className = typeid(Probe).name();
    EXPECT_EQ(StreamText(stats),
              "Used Mem = 4096\nFree Mem = 100\nBiggest Free Block = 64\n\n\nNb Objects = 2\n\n\n" +
                  className +
                  " : 2   ,  mem = 9248\n\n\nBlocks by Tags\n\n"
                  "abcd : 3   ,  mem = 96\nzzzz : 1   ,  mem = 32\n");

    VString full;
    stats.GetDumpText(full);
    const std::string expected =
        "\nUsed Mem = 4096\nFree Mem = 100\nNb Big Blocks = 3\nNb Used Big Blocks = 2\n"
        "Nb Free Big Blocks = 1\nNb Pages containing small blocks = 1\nNb Small Blocks = 5\n"
        "Nb Used Small Blocks = 4\nNb Free Small Blocks = 1\nBiggest Block = 9216\n"
        "Biggest Free Block = 64\nNb Objects = 2\n" +
        className +
        " : 2   ,  mem = 9248\nBlocks by Tags\nabcd : 3   ,  mem = 96\n"
        "zzzz : 1   ,  mem = 32\nSmall Blocks\n32 : NbUsed = 0 , NbFree = 250\n"
        "64 : NbUsed = 4 , NbFree = 1\nAllocation Pages\n8192 : NbFull = 1 , NbPartial = 2\n"
        "Other Big Blocks\n9216 : NbUsed = 2 , NbFree = 1\n";
    EXPECT_EQ(to_string(full), expected);
}

TEST(MemStats, PageOfTenBlocksWithThreeUsed)
{
    // A page made by hand: 10 blocks of 64 bytes, 5 carved, 2 of them on the free list.
    alignas(16) char memory[VPageAllocationImpl::kHeaderSize + 10 * 64] = {};
    auto* page = reinterpret_cast<VPageAllocationImpl*>(memory);
    page->fSize = sizeof(memory);
    page->fBlockSize = 64;
    page->fBlockCount = 10;
    page->fTailOffset = VPageAllocationImpl::kHeaderSize + 5 * 64;
    page->fUsedCount = 3;
    page->fFreeCount = 2;
    for (size_t i = 0; i < 5; ++i)
    {
        VMemImplSmallBlock* block = page->GetBlockAt(VPageAllocationImpl::kHeaderSize + i * 64);
        block->fOffsetWord = -static_cast<int32_t>(VPageAllocationImpl::kHeaderSize + i * 64);
        block->fTag = kTag;
    }
    VMemImplSmallBlock* second = page->GetBlockAt(VPageAllocationImpl::kHeaderSize + 64);
    VMemImplSmallBlock* fourth = page->GetBlockAt(VPageAllocationImpl::kHeaderSize + 3 * 64);
    page->fFreeList = fourth;
    fourth->NextFree() = second;
    second->NextFree() = nullptr;
    ASSERT_TRUE(page->Check(nullptr));

    VMemStats stats;
    stats.fUsedMem = 8192; // the page's own large block, as the back end counts it first
    bool full = true;
    page->GetStats(stats, full);
    EXPECT_FALSE(full);
    EXPECT_EQ(stats.fSmallBlockMap[64].fUsedOrFull, 3);
    EXPECT_EQ(stats.fSmallBlockMap[64].fFreeOrPartial, 7) << "never-carved blocks count as free here";
    EXPECT_EQ(stats.fNbSmallBlocks, 5) << "only carved blocks";
    EXPECT_EQ(stats.fNbUsedSmallBlocks, 3);
    EXPECT_EQ(stats.fNbFreeSmallBlocks, 2);
    EXPECT_EQ(stats.fUsedMem, 8192u - 640 + 3 * 64);
    EXPECT_EQ(stats.fFreeMem, 640u - 3 * 64);
    EXPECT_EQ(stats.fBiggestFreeBlock, 64u);
    EXPECT_EQ(stats.fTagMap[kTag].fCount, 3);
    EXPECT_EQ(stats.fTagMap[kTag].fTotalSize, 3u * 64);
}

class BackEndStats : public ::testing::Test
{
protected:
    void SetUp() override { fBackEnd.Init(nullptr); }
    VMemCppImpl fBackEnd{0};
};

TEST_F(BackEndStats, TailIsFreeMemoryButNoBlock)
{
    ASSERT_TRUE(fBackEnd.AddAllocation(1 << 20, nullptr, 0));
    void* block = fBackEnd.Malloc(9000, 0, 0, kTag);
    ASSERT_NE(block, nullptr);
    VMemStats stats;
    fBackEnd.GetStats(stats, 2);
    const uint64_t tail = (1 << 20) - 64 - 9216;
    EXPECT_EQ(stats.fNbBigBlocks, 1);
    EXPECT_EQ(stats.fNbUsedBigBlocks, 1);
    EXPECT_EQ(stats.fNbFreeBigBlocks, 0);
    EXPECT_EQ(stats.fUsedMem, 9216u);
    EXPECT_EQ(stats.fFreeMem, tail);
    EXPECT_EQ(stats.fBiggestFreeBlock, tail);
    EXPECT_EQ(stats.fBiggestBlock, tail);
    ASSERT_EQ(stats.fBigBlockMap.size(), 1u) << "the tail is in no map";
    EXPECT_EQ(stats.fBigBlockMap[9216].fUsedOrFull, 1);
    ASSERT_EQ(stats.fBlockMap.size(), 3u);
    EXPECT_EQ(stats.fBlockMap[0].fValue,
              reinterpret_cast<uint64_t>(fBackEnd.GetFirstRegion()->GetFirstBlock()));
    EXPECT_EQ(stats.fBlockMap[0].fFirst, -2);
    EXPECT_EQ(stats.fBlockMap[0].fSecond, 2) << "the back end's number";
    EXPECT_EQ(stats.fBlockMap[1].fValue, 9216u);
    EXPECT_EQ(stats.fBlockMap[1].fFirst, -1);
    EXPECT_EQ(stats.fBlockMap[2].fValue, tail);
    EXPECT_EQ(stats.fBlockMap[2].fFirst, 0);
    EXPECT_EQ(stats.fTagMap[kTag].fCount, 1);
    fBackEnd.Free(block);
}

TEST_F(BackEndStats, ObjectsCountedByClassOrByTag)
{
    fBackEnd.SetAutoAllocationState(true);
    Probe* big = new (fBackEnd.Malloc(9000, 0, 1, kTag)) Probe();
    Probe* small = new (fBackEnd.Malloc(sizeof(Probe), 0, 1, kTag)) Probe();
    void* nullTable = fBackEnd.Malloc(40, 0, 1, kTag);
    std::memset(nullTable, 0, 40);
    void* plain = fBackEnd.Malloc(40, 0, 0, kTag);

    VMemStats stats;
    fBackEnd.GetStats(stats, 0);
    EXPECT_EQ(stats.fNbObjects, 3) << "every block asked for as virtual";
    ASSERT_EQ(stats.fClassMap.size(), 1u) << "one line for the class, big and small";
    const size_t smallBlock = VMemThreadImpl::GetBlockSize(sizeof(Probe) + 8);
    EXPECT_EQ(stats.fClassMap[&typeid(Probe)].fCount, 2);
    EXPECT_EQ(stats.fClassMap[&typeid(Probe)].fTotalSize, 9216u + smallBlock);
    EXPECT_EQ(stats.fTagMap[kTag].fCount, 2) << "the object without a table and the plain block";
    EXPECT_EQ(stats.fTagMap[kTag].fTotalSize, 2u * 48);
    ASSERT_EQ(stats.fVirtualTableMap.size(), 1u);
    EXPECT_EQ(stats.fVirtualTableMap.begin()->second, &typeid(Probe));
    EXPECT_EQ(stats.fNbPages, 2) << "a page for each small block size";
    EXPECT_EQ(stats.fPageMap[8192].fFreeOrPartial, 2);

    big->~Probe();
    small->~Probe();
    fBackEnd.Free(big);
    fBackEnd.Free(small);
    fBackEnd.Free(nullTable);
    fBackEnd.Free(plain);
}

TEST(MemStatsGathering, TwiceIntoOneRecordDoublesTheMaps)
{
    std::unique_ptr<VCppMemMgr> manager(new VCppMemMgr(VCppMemMgr::eAllocatorOwn));
    ASSERT_FALSE(manager->IsStdLibMode());
    void* blocks[] = {manager->Malloc(100, false, kTag), manager->Malloc(20000, false, kTag, 1),
                      manager->Malloc(30000, false, kTag, 1)};
    manager->Free(blocks[1]);

    VMemStats once;
    manager->GetStatistics(once, -1);
    VMemStats twice;
    manager->GetStatistics(twice, -1);
    manager->GetStatistics(twice, -1);
    EXPECT_EQ(twice.fUsedMem, once.fUsedMem) << "counters of one gathering";
    EXPECT_EQ(twice.fFreeMem, once.fFreeMem);
    EXPECT_EQ(twice.fNbBigBlocks, once.fNbBigBlocks);
    EXPECT_EQ(twice.fNbSmallBlocks, once.fNbSmallBlocks);
    EXPECT_EQ(twice.fBiggestFreeBlock, once.fBiggestFreeBlock);
    EXPECT_EQ(twice.fBlockMap.size(), 2 * once.fBlockMap.size());
    EXPECT_EQ(twice.fTagMap[kTag].fCount, 2 * once.fTagMap[kTag].fCount);
    EXPECT_EQ(twice.fBigBlockMap[20480].fFreeOrPartial, 2 * once.fBigBlockMap[20480].fFreeOrPartial);
    EXPECT_EQ(once.fBigBlockMap[20480].fFreeOrPartial, 1);
    EXPECT_EQ(twice.fSmallBlockMap[112].fUsedOrFull, 2);
    size_t total = 0;
    size_t used = 0;
    manager->GetMemUsageInfo(total, used);
    EXPECT_EQ(once.fUsedMem, used) << "the walk agrees with the running total";
    EXPECT_EQ(once.fUsedMem + once.fFreeMem, total - 2 * 64) << "all but the region headers";
    manager->Free(blocks[0]);
    manager->Free(blocks[2]);
}

// The leak report of a bundle Tool.app in a folder of its own.
class LeakReport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFolder = fs::temp_directory_path() / ("zorn-leaks-" + std::to_string(::getpid()));
        fs::create_directories(fFolder / "Tool.app" / "Contents");
        platform::SetMainBundleFolderForTests((fFolder / "Tool.app").string());
    }
    void TearDown() override
    {
        platform::SetMainBundleFolderForTests("");
        fs::remove_all(fFolder);
    }
    std::vector<std::string> ReportLines()
    {
        std::ifstream file(fFolder / "Tool.run.leaks");
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
        {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path fFolder;
};

TEST_F(LeakReport, HeadByNumberOfLeaks)
{
    EXPECT_EQ(VLeaksChecker::GetDumpFilePath("run"), (fFolder / "Tool.run.leaks").string());
    struct Row
    {
        const char* fWhat;
        bool fOwn;
        int fLeaks;
        const char* fHead;
    };
    const Row rows[] = {
        {"none", false, 0, "No memory leaks."},
        {"one", true, 1, "You have one leak:"},
        {"three", false, 3, "You have 3 leaks:"},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VCppMemMgr> manager(
            new VCppMemMgr(row.fOwn ? VCppMemMgr::eAllocatorOwn : VCppMemMgr::eAllocatorStdLib));
        void* before = manager->Malloc(10, false, kTag); // not recorded
        EXPECT_FALSE(manager->SetLeaksCheck(true));
        std::vector<void*> blocks;
        for (int i = 0; i < row.fLeaks + 1; ++i)
        {
            blocks.push_back(manager->Malloc(100, false, kTag));
        }
        blocks[0] = manager->Realloc(blocks[0], 200);
        manager->Free(blocks[0]); // freed: no leak
        manager->Free(before);
        EXPECT_EQ(manager->GetRecordedBlockCount(), row.fLeaks) << row.fWhat;
        ASSERT_TRUE(manager->DumpLeaks("run")) << row.fWhat;

        std::vector<std::string> lines = ReportLines();
        ASSERT_GE(lines.size(), 2u) << row.fWhat;
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("[A-Z][a-z]+day, [A-Z][a-z]+ \\d\\d, \\d{4} "
                                                          "\\d\\d:\\d\\d:\\d\\d [AP]M")))
            << lines[0];
        EXPECT_EQ(lines[1], row.fHead) << row.fWhat;
        if (row.fLeaks == 0)
        {
            EXPECT_EQ(lines.size(), 2u) << row.fWhat;
        }
        else
        {
            EXPECT_EQ(lines[2], "") << row.fWhat << ": an empty line after the head";
            EXPECT_TRUE(std::regex_match(lines[3], std::regex("Block 0x[0-9a-f]+, size 100, tag 'stat'")))
                << lines[3];
            EXPECT_EQ(lines[4].rfind("  :: frame ", 0), 0u) << "its call stack: " << lines[4];
        }
        EXPECT_TRUE(manager->SetLeaksCheck(false));
        for (size_t i = 1; i < blocks.size(); ++i)
        {
            manager->Free(blocks[i]);
        }
        EXPECT_EQ(manager->GetRecordedBlockCount(), 0) << row.fWhat << ": frees still counted when off";
    }
}

TEST(LeaksChecker, DisabledCheckerCountsNothing)
{
    VLeaksChecker checker;
    XLinuxStackCrawl crawl;
    checker.RegisterBlock(crawl);
    EXPECT_EQ(crawl.GetCount(), 0u);
    EXPECT_EQ(checker.GetRecordedBlockCount(), 0);
    checker.UnregisterBlock(crawl);
    EXPECT_EQ(checker.GetRecordedBlockCount(), 0);

    EXPECT_FALSE(checker.SetLeaksCheck(true));
    checker.SetStackFramesToSkip(0);
    checker.RegisterBlock(crawl);
    EXPECT_GE(crawl.GetCount(), 1u);
    EXPECT_LE(crawl.GetCount(), VLeaksChecker::kMaxFrames);
    EXPECT_EQ(checker.GetRecordedBlockCount(), 1);
    EXPECT_TRUE(checker.SetLeaksCheck(false));
    checker.UnregisterBlock(crawl);
    EXPECT_EQ(checker.GetRecordedBlockCount(), 0);
}

} // namespace
