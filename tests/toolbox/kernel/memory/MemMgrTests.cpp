#include "platform/Bundle.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/IMemCppImpl.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemMgrLock.h"
#include "toolbox/kernel/memory/VMemStats.h"
#include "toolbox/kernel/memory/VMemoryHog.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zorn;
namespace fs = std::filesystem;

namespace
{

constexpr OsType kTagMemb = MakeOsType('m', 'e', 'm', 'b');

// State shared by the four test back ends of one manager. Each back end may hand out up to its
// quota of bytes; every block remembers its owner, so that any back end can free it.
struct TestArena
{
    struct Block
    {
        size_t fSize;
        int fOwner;
        int fTag;
    };
    size_t fQuota[4] = {1 << 20, 1 << 20, 1 << 20, 1 << 20};
    std::map<void*, Block> fBlocks;
    bool fAutoAllocation[4] = {};
    VCppMemMgr* fInitManager[4] = {};
    std::vector<std::pair<int, std::pair<void*, size_t>>> fRegions; // owner, region, size
    std::vector<int> fMallocOrder;                                  // back end asked, in order
    std::atomic<int> fMallocCalls{0};
    std::vector<int> fStatsCalls;
};

TestArena* gArena = nullptr;

class TestBackEnd : public IMemCppImpl
{
public:
    TestBackEnd(int inIndex, TestArena& ioArena) : IMemCppImpl(inIndex), fArena(ioArena) {}
    ~TestBackEnd() override
    {
        for (auto& [owner, region] : fArena.fRegions)
        {
            if (owner == GetIndex())
            {
                VSystem::VirtualFree(region.first, region.second, false);
            }
        }
    }

    void Init(VCppMemMgr* inManager) override { fArena.fInitManager[GetIndex()] = inManager; }
    void* Malloc(size_t inSize, unsigned char inFlag, unsigned char, int inTag) override
    {
        EXPECT_EQ(inFlag, 0) << "the manager always passes 0";
        fArena.fMallocOrder.push_back(GetIndex());
        fArena.fMallocCalls.fetch_add(1);
        if (inSize > fArena.fQuota[GetIndex()])
        {
            return nullptr;
        }
        void* block = std::malloc(inSize == 0 ? 1 : inSize);
        fArena.fQuota[GetIndex()] -= inSize;
        fArena.fBlocks[block] = {inSize, GetIndex(), inTag};
        return block;
    }
    void Free(void* inBlock) override
    {
        auto found = fArena.fBlocks.find(inBlock);
        ASSERT_NE(found, fArena.fBlocks.end()) << "freed a block the back ends do not know";
        fArena.fQuota[found->second.fOwner] += found->second.fSize;
        fArena.fBlocks.erase(found);
        std::free(inBlock);
    }
    void* Realloc(void*, size_t) override { return nullptr; }
    size_t GetPtrSize(const void* inBlock) override
    {
        auto found = fArena.fBlocks.find(const_cast<void*>(inBlock));
        return found == fArena.fBlocks.end() ? 0 : found->second.fSize;
    }
    bool CheckPtr(const void* inBlock) override
    {
        return fArena.fBlocks.count(const_cast<void*>(inBlock)) != 0;
    }
    bool Check(void*) override { return true; }
    bool AddAllocation(size_t, const void*, unsigned char) override { return false; }
    bool AddAlreadyAllocatedMem(void* inBlock, size_t inSize, bool) override
    {
        fArena.fRegions.push_back({GetIndex(), {inBlock, inSize}});
        return true;
    }
    int32_t CountAllocations() override
    {
        int32_t count = 0;
        for (auto& region : fArena.fRegions)
        {
            count += region.first == GetIndex() ? 1 : 0;
        }
        return count;
    }
    void SetAutoAllocationState(bool inOn) override { fArena.fAutoAllocation[GetIndex()] = inOn; }
    void GetStats(VMemStats& ioStats, short inIndex) override
    {
        fArena.fStatsCalls.push_back(inIndex);
        ioStats.fNbBigBlocks += 1;
        ioStats.fTagMap[inIndex].fCount += 1;
    }
    size_t GetTotalAllocation() const override { return 1000 + static_cast<size_t>(GetIndex()); }
    void GetMemUsageInfo(size_t& outTotal, size_t& outUsed) override
    {
        outTotal = 100;
        outUsed = static_cast<size_t>(GetIndex());
    }
    int32_t GetAllocationBlockNumber(const void* inBlock) override
    {
        auto found = fArena.fBlocks.find(const_cast<void*>(inBlock));
        return found == fArena.fBlocks.end() ? -1 : found->second.fOwner;
    }

private:
    TestArena& fArena;
};

IMemCppImpl* MakeTestBackEnd(int inIndex)
{
    return new TestBackEnd(inIndex, *gArena);
}

TEST(MemMgrCLibrary, ProcessManagerServesMallocBlocks)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    ASSERT_NE(manager, nullptr) << "built before main";
    if (!manager->IsStdLibMode())
    {
        GTEST_SKIP() << "the run chose the own allocator (ZORN_MEMORY_ALLOCATOR)";
    }

    void* block = VMemory::NewPtr(100, kTagMemb);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(VMemory::GetPtrSize(block), malloc_usable_size(block));
    EXPECT_GE(VMemory::GetPtrSize(block), 100u);
    EXPECT_TRUE(manager->CheckPtr(block));
    VMemory::DisposePtr(block);
    VMemory::DisposePtr(nullptr);

    auto* cleared = static_cast<unsigned char*>(VMemory::NewPtrClear(64, kTagMemb));
    ASSERT_NE(cleared, nullptr);
    EXPECT_TRUE(std::all_of(cleared, cleared + 64, [](unsigned char c) { return c == 0; }));
    VMemory::DisposePtr(cleared);
}

TEST(MemMgrCLibrary, ReallocRules)
{
    VCppMemMgr manager(VCppMemMgr::eAllocatorStdLib);
    char* block = static_cast<char*>(manager.Realloc(nullptr, 10));
    ASSERT_NE(block, nullptr) << "null block allocates";
    std::memcpy(block, "123456789", 10);
    char* grown = static_cast<char*>(manager.Realloc(block, 1000));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "123456789") << "content kept";
    char* shrunk = static_cast<char*>(manager.Realloc(grown, 4));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(std::memcmp(shrunk, "1234", 4), 0);
    EXPECT_EQ(manager.Realloc(shrunk, 0), nullptr) << "size 0 frees (AddressSanitizer sees a leak otherwise)";
}

TEST(MemMgrCLibrary, FiguresAndRefusals)
{
    VCppMemMgr manager(VCppMemMgr::eAllocatorStdLib, true, false);
    EXPECT_EQ(manager.GetMaxFree(), 0u);
    EXPECT_EQ(manager.GetAllocatedMem(), 1048576u);
    size_t total = 0;
    size_t used = 1;
    manager.GetMemUsageInfo(total, used);
    EXPECT_EQ(total, 1048576u);
    EXPECT_EQ(used, 0u);
    size_t figures[9];
    std::fill(std::begin(figures), std::end(figures), 7);
    manager.GetMemStatistics(figures[0], figures[1], figures[2], figures[3], figures[4], figures[5],
                             figures[6], figures[7], figures[8]);
    for (int i = 0; i < 9; ++i)
    {
        EXPECT_EQ(figures[i], i == 2 ? 1048576u : 0u) << "figure " << i;
    }
    EXPECT_FALSE(manager.AddVirtualAllocation(64 << 20, nullptr, false));
    EXPECT_EQ(manager.CountVirtualAllocations(), 0);
    EXPECT_EQ(manager.GetAllocationBlockNumber(nullptr), 0);
    EXPECT_EQ(manager.GetMaxObjectSize(), 2147483647u);

    auto* zeros = static_cast<unsigned char*>(manager.Calloc(8, 16, kTagMemb));
    ASSERT_NE(zeros, nullptr);
    EXPECT_TRUE(std::all_of(zeros, zeros + 128, [](unsigned char c) { return c == 0; }));
    manager.Free(zeros);
    EXPECT_EQ(manager.Calloc(-1, 16, kTagMemb), nullptr) << "negative count";
    EXPECT_EQ(manager.Calloc(4, SIZE_MAX / 2, kTagMemb), nullptr) << "product does not fit";
}

TEST(MemMgrCLibrary, ObjectLivesInVirtualMemory)
{
    std::unique_ptr<VCppMemMgr> manager(new VCppMemMgr(VCppMemMgr::eAllocatorStdLib));
    ASSERT_NE(manager, nullptr);
    // Blocks of the C library are not in the page that holds the manager itself.
    uintptr_t address = reinterpret_cast<uintptr_t>(manager.get());
    EXPECT_EQ((address - sizeof(size_t)) % VSystem::GetVMPageSize(), 0u) << "size header at the page start";
}

TEST(MemMgrLock, RecursiveAndExclusive)
{
    VMemMgrLock lock;
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    std::thread([&] { EXPECT_FALSE(lock.TryToLock()) << "held until the last level"; }).join();
    lock.Unlock();
    std::thread(
        [&]
        {
            EXPECT_TRUE(lock.TryToLock());
            lock.Unlock();
        })
        .join();

    // Four threads add to one counter under the lock, two of them taking it twice: the sum holds
    // only if no two threads held it at once (ThreadSanitizer sees any overlap as well).
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                for (int i = 0; i < 20000; ++i)
                {
                    lock.Lock();
                    if (t % 2 != 0)
                    {
                        lock.Lock();
                    }
                    int64_t value = counter;
                    counter = value + 1;
                    if (t % 2 != 0)
                    {
                        lock.Unlock();
                    }
                    lock.Unlock();
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(counter, 80000);
}

TEST(MemMgrHogs, RegisterAndUnregister)
{
    VCppMemMgr manager(VCppMemMgr::eAllocatorStdLib);
    VMemoryHog* first = manager.RegisterMemHog();
    VMemoryHog* second = manager.RegisterMemHog();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->GetOwnerTaskID(), static_cast<uint32_t>(VTaskMgr::GetCurrentTaskID()));
    first->Lock();
    EXPECT_TRUE(first->TryToLock()) << "recursive";
    std::thread([first] { EXPECT_FALSE(first->TryToLock()); }).join();
    first->Unlock();
    first->Unlock();
    EXPECT_TRUE(manager.UnRegisterMemHog(first));
    EXPECT_FALSE(manager.UnRegisterMemHog(first)) << "already gone";
    EXPECT_FALSE(manager.UnRegisterMemHog(nullptr));
    // The second is deleted by the manager's destructor.
}

// A folder standing for the main bundle, with an Info.plist whose "MemoryAllocator" is given.
class AllocatorChoice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFolder = fs::temp_directory_path() / ("zorn-memmgr-" + std::to_string(::getpid()) + ".app");
        fs::create_directories(fFolder / "Contents");
        fPreviousFactory = VCppMemMgr::SetBackEndFactory(&MakeTestBackEnd);
        gArena = &fArena;
        // A run in own-allocator mode sets the variable; these tests decide it themselves.
        if (const char* variable = std::getenv("ZORN_MEMORY_ALLOCATOR"))
        {
            fSavedVariable = variable;
        }
        ::unsetenv("ZORN_MEMORY_ALLOCATOR");
    }
    void TearDown() override
    {
        if (fSavedVariable)
        {
            ::setenv("ZORN_MEMORY_ALLOCATOR", fSavedVariable->c_str(), 1);
        }
        else
        {
            ::unsetenv("ZORN_MEMORY_ALLOCATOR");
        }
        VCppMemMgr::SetBackEndFactory(fPreviousFactory);
        gArena = nullptr;
        platform::SetMainBundleFolderForTests("");
        fs::remove_all(fFolder);
    }
    void UseInfoPlist(const std::string& inEntries)
    {
        std::ofstream(fFolder / "Contents" / "Info.plist")
            << "<plist><dict>" << inEntries << "</dict></plist>";
        platform::SetMainBundleFolderForTests(fFolder.string());
    }

    fs::path fFolder;
    VCppMemMgr::BackEndFactory fPreviousFactory = nullptr;
    TestArena fArena;
    std::optional<std::string> fSavedVariable;
};

TEST_F(AllocatorChoice, InfoPlistDecidesTheDefaultKind)
{
    struct Row
    {
        const char* fWhat;
        const char* fEntries;
        bool fStdLib;
    };
    const Row rows[] = {
        {"absent key", "<key>Other</key><string>zorn</string>", true},
        {"stdlib", "<key>MemoryAllocator</key><string>stdlib</string>", true},
        {"StdLib mixed case", "<key>MemoryAllocator</key><string>StdLib</string>", true},
        {"zorn", "<key>MemoryAllocator</key><string>zorn</string>", false},
        {"ZORN", "<key>MemoryAllocator</key><string>ZORN</string>", false},
        {"zOrN", "<key>MemoryAllocator</key><string>zOrN</string>", false},
        {"anything else", "<key>MemoryAllocator</key><string>jemalloc</string>", true},
        {"zorn with a space", "<key>MemoryAllocator</key><string>zorn </string>", true},
        {"not a string", "<key>MemoryAllocator</key><true/>", true},
    };
    for (const Row& row : rows)
    {
        UseInfoPlist(row.fEntries);
        VCppMemMgr manager(VCppMemMgr::eAllocatorDefault);
        EXPECT_EQ(manager.IsStdLibMode(), row.fStdLib) << row.fWhat;
        EXPECT_EQ(manager.GetBackEndCount(), row.fStdLib ? 0 : 4) << row.fWhat;
        EXPECT_EQ(VCppMemMgr::ResolveAllocatorKind(VCppMemMgr::eAllocatorDefault),
                  row.fStdLib ? VCppMemMgr::eAllocatorStdLib : VCppMemMgr::eAllocatorOwn)
            << row.fWhat;
    }
    EXPECT_EQ(VCppMemMgr::ResolveAllocatorKind(VCppMemMgr::eAllocatorStdLib), VCppMemMgr::eAllocatorStdLib)
        << "explicit kinds ignore Info.plist";
}

TEST_F(AllocatorChoice, EnvironmentVariableWinsOverInfoPlist)
{
    struct Row
    {
        const char* fWhat;
        const char* fPlist;
        const char* fVariable;
        VCppMemMgr::EAllocatorKind fKind;
    };
    const Row rows[] = {
        {"variable zorn over stdlib", "stdlib", "Zorn", VCppMemMgr::eAllocatorOwn},
        {"variable stdlib over zorn", "zorn", "stdlib", VCppMemMgr::eAllocatorStdLib},
        {"empty variable: Info.plist decides", "zorn", "", VCppMemMgr::eAllocatorOwn},
    };
    for (const Row& row : rows)
    {
        UseInfoPlist(std::string("<key>MemoryAllocator</key><string>") + row.fPlist + "</string>");
        ::setenv("ZORN_MEMORY_ALLOCATOR", row.fVariable, 1);
        EXPECT_EQ(VCppMemMgr::ResolveAllocatorKind(VCppMemMgr::eAllocatorDefault), row.fKind) << row.fWhat;
        EXPECT_EQ(VCppMemMgr::ResolveAllocatorKind(VCppMemMgr::eAllocatorStdLib),
                  VCppMemMgr::eAllocatorStdLib)
            << row.fWhat << ": explicit kinds ignore it";
    }
}

TEST_F(AllocatorChoice, OwnKindWithoutBackEndsFallsBackToCLibrary)
{
    UseInfoPlist("<key>MemoryAllocator</key><string>zorn</string>");
    VCppMemMgr::SetBackEndFactory(nullptr);
    VCppMemMgr manager(VCppMemMgr::eAllocatorDefault);
    EXPECT_TRUE(manager.IsStdLibMode());
    void* block = manager.Malloc(10, false, kTagMemb);
    EXPECT_NE(block, nullptr);
    manager.Free(block);
}

// A manager in own-allocator mode over four test back ends.
class OwnMode : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gArena = &fArena;
        fPreviousFactory = VCppMemMgr::SetBackEndFactory(&MakeTestBackEnd);
        fManager.reset(new VCppMemMgr(VCppMemMgr::eAllocatorOwn));
        ASSERT_NE(fManager, nullptr);
        ASSERT_FALSE(fManager->IsStdLibMode());
        sCalls.clear();
        sFreeOnPurge = {};
        fManager->SetPurgeHandlerProc(&RecordPurge);
    }
    void TearDown() override
    {
        fManager.reset();
        VCppMemMgr::SetBackEndFactory(fPreviousFactory);
        gArena = nullptr;
    }

    struct PurgeCall
    {
        int fIndex;
        size_t fSize;
        bool fFirst;
        bool operator==(const PurgeCall&) const = default;
    };
    static inline std::vector<PurgeCall> sCalls;
    // Bytes of quota the handler gives back, per back end purged.
    static inline std::map<int, size_t> sFreeOnPurge;

    static size_t RecordPurge(int inIndex, size_t inSize, bool inFirst)
    {
        sCalls.push_back({inIndex, inSize, inFirst});
        size_t freed = sFreeOnPurge.count(inIndex) != 0 ? sFreeOnPurge[inIndex] : 0;
        gArena->fQuota[inIndex] += freed;
        return freed;
    }

    void ExhaustAll()
    {
        for (size_t& quota : fArena.fQuota)
        {
            quota = 0;
        }
    }

    TestArena fArena;
    VCppMemMgr::BackEndFactory fPreviousFactory = nullptr;
    std::unique_ptr<VCppMemMgr> fManager;
};

TEST_F(OwnMode, AllocatesFromTheStartWithAutoAllocation)
{
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(fArena.fInitManager[i], fManager.get()) << "back end " << i;
        EXPECT_TRUE(fArena.fAutoAllocation[i]) << "back end " << i;
    }
    // No AddVirtualAllocation: the first request must still be served.
    void* block = fManager->Malloc(100, true, kTagMemb);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fArena.fBlocks[block].fTag, static_cast<int>(kTagMemb));
    EXPECT_EQ(fManager->GetPtrSize(block), 100u);
    EXPECT_TRUE(fManager->CheckPtr(block));
    EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 0);
    fManager->Free(block);
    fManager->Free(nullptr);
    EXPECT_TRUE(fArena.fBlocks.empty());
    EXPECT_EQ(fManager->Malloc(size_t{3} << 30, false, kTagMemb), nullptr) << "above the maximum object size";
}

TEST_F(OwnMode, PreferredBackEndAskedFirstAndBlocksFreedThroughTheFirst)
{
    fArena.fQuota[2] = 0;
    void* block = fManager->Malloc(10, false, kTagMemb, 2);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ((std::vector<int>{2, 0}), fArena.fMallocOrder) << "preferred, then the walk without it";
    EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 0);
    fArena.fQuota[2] = 100;
    void* other = fManager->Malloc(10, false, kTagMemb, 2);
    EXPECT_EQ(fArena.fBlocks[other].fOwner, 2);
    fManager->Free(other); // through back end 0, which accepts any block
    fManager->Free(block);
    EXPECT_EQ(fArena.fQuota[2], 100u);
}

TEST_F(OwnMode, ReallocFailureKeepsTheOldBlock)
{
    char* block = static_cast<char*>(fManager->Malloc(16, false, kTagMemb));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "kept", 5);
    ExhaustAll();
    EXPECT_EQ(fManager->Realloc(block, 1000), nullptr);
    EXPECT_TRUE(fManager->CheckPtr(block));
    EXPECT_STREQ(block, "kept");
    EXPECT_EQ(sCalls.size(), 4u) << "each back end purged once before giving up";

    fArena.fQuota[1] = 1000;
    char* moved = static_cast<char*>(fManager->Realloc(block, 1000));
    ASSERT_NE(moved, nullptr);
    EXPECT_STREQ(moved, "kept");
    EXPECT_EQ(fArena.fBlocks[moved].fTag, static_cast<int>(MakeOsType('g', 'r', 'o', 'w')));
    EXPECT_FALSE(fManager->CheckPtr(block)) << "old block freed";
    fManager->Free(moved);
}

TEST_F(OwnMode, PurgeHandlerCalledForEachBackEndInTurn)
{
    ExhaustAll();
    EXPECT_EQ(fManager->Malloc(500, false, kTagMemb), nullptr);
    const std::vector<PurgeCall> expected = {
        {0, 500, true}, {1, 500, false}, {2, 500, false}, {3, 500, false}};
    EXPECT_EQ(sCalls, expected);

    // The current back end has come round to 0 again; a handler that frees memory in back end 1
    // lets the second walk succeed there.
    sCalls.clear();
    sFreeOnPurge[1] = 600;
    void* block = fManager->Malloc(500, false, kTagMemb);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fArena.fBlocks[block].fOwner, 1);
    const std::vector<PurgeCall> twoCalls = {{0, 500, true}, {1, 500, false}};
    EXPECT_EQ(sCalls, twoCalls);

    // The next request starts its purges at back end 2.
    sCalls.clear();
    sFreeOnPurge.clear();
    EXPECT_EQ(fManager->Malloc(500, false, kTagMemb), nullptr);
    ASSERT_FALSE(sCalls.empty());
    EXPECT_EQ(sCalls.front(), (PurgeCall{2, 500, true}));

    sCalls.clear();
    EXPECT_EQ(fManager->TryToMalloc(500, false, kTagMemb), nullptr);
    EXPECT_TRUE(sCalls.empty()) << "TryToMalloc never purges";

    fManager->PurgeMem(-1);
    fManager->PurgeMem(3);
    const std::vector<PurgeCall> explicitCalls = {{0, 0, true}, {3, 0, true}};
    EXPECT_EQ(sCalls, explicitCalls);
    fManager->Free(block);
}

TEST_F(OwnMode, HandlerThatAllocatesDoesNotDeadlock)
{
    ExhaustAll();
    static VCppMemMgr* sManager;
    static int sNested;
    sManager = fManager.get();
    sNested = 0;
    fManager->SetPurgeHandlerProc(
        [](int, size_t, bool) -> size_t
        {
            // A nested request finds this thread's own purge running and gives up at once.
            if (sManager->Malloc(10, false, kTagMemb) == nullptr)
            {
                ++sNested;
            }
            sManager->PurgeMem(0);
            return 0;
        });
    EXPECT_EQ(fManager->Malloc(100, false, kTagMemb), nullptr);
    EXPECT_EQ(sNested, 4);
}

TEST_F(OwnMode, RequestWaitsForAnotherThreadsPurge)
{
    ExhaustAll();
    static std::atomic<int>* sMallocCalls;
    static std::atomic<int> sThreshold;
    static std::atomic<bool> sPurgeStarted;
    static VCppMemMgr* sManager;
    static void* sVictim;
    sMallocCalls = &fArena.fMallocCalls;
    sManager = fManager.get();
    sPurgeStarted = false;
    fArena.fQuota[0] = 64;
    sVictim = fManager->Malloc(64, false, kTagMemb);
    ASSERT_NE(sVictim, nullptr);
    sThreshold = fArena.fMallocCalls.load() + 3;

    // PurgeMem runs its handler outside the mutex. The handler waits until the request below has
    // asked the three back ends not being purged (it then waits for the purge), and frees a block
    // of back end 0, which the request gets once the purge is over.
    fManager->SetPurgeHandlerProc(
        [](int inIndex, size_t, bool) -> size_t
        {
            EXPECT_EQ(inIndex, 0);
            sPurgeStarted = true;
            while (sMallocCalls->load() < sThreshold.load())
            {
                std::this_thread::yield();
            }
            sManager->Free(sVictim);
            return 64;
        });
    std::thread purger([this] { fManager->PurgeMem(0); });
    while (!sPurgeStarted.load())
    {
        std::this_thread::yield();
    }
    void* block = fManager->Malloc(32, false, kTagMemb);
    purger.join();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(fManager->GetAllocationBlockNumber(block), 0);
    fManager->Free(block);
}

TEST_F(OwnMode, AddVirtualAllocation)
{
    EXPECT_TRUE(fManager->AddVirtualAllocation(8 << 20, nullptr, false)) << "below 10 MiB: accepted";
    EXPECT_EQ(fManager->CountVirtualAllocations(), 0) << "and ignored";
    EXPECT_TRUE(fArena.fRegions.empty());

    // A free stretch of address space to place the regions at.
    const size_t size = 40 << 20;
    void* place = VSystem::VirtualAlloc(size, nullptr);
    ASSERT_NE(place, nullptr);
    ASSERT_TRUE(VSystem::VirtualFree(place, size, false));
    ASSERT_TRUE(fManager->AddVirtualAllocation(size, place, false));
    EXPECT_EQ(fManager->CountVirtualAllocations(), 4);
    ASSERT_EQ(fArena.fRegions.size(), 4u);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(fArena.fRegions[i].first, i);
        EXPECT_EQ(fArena.fRegions[i].second.first, static_cast<char*>(place) + i * (size / 4))
            << "slices follow one another from the given address";
        EXPECT_EQ(fArena.fRegions[i].second.second, size / 4);
    }
    EXPECT_TRUE(fManager->AddVirtualAllocation(size, nullptr, true));
    EXPECT_EQ(fManager->CountVirtualAllocations(), 8);
    // The first slice's address is taken now: refused, nothing replaced.
    EXPECT_FALSE(fManager->AddVirtualAllocation(size, place, false));
    EXPECT_EQ(fManager->CountVirtualAllocations(), 8);
}

TEST_F(OwnMode, FiguresSumTheBackEnds)
{
    EXPECT_EQ(fManager->GetAllocatedMem(), 1000u + 1001u + 1002u + 1003u);
    size_t total = 0;
    size_t used = 0;
    fManager->GetMemUsageInfo(total, used);
    EXPECT_EQ(total, 400u);
    EXPECT_EQ(used, 0u + 1u + 2u + 3u);

    VMemStats stats;
    stats.fUsedMem = 99;
    stats.fTagMap[42].fCount = 1;
    fManager->GetStatistics(stats, -1);
    EXPECT_EQ(fArena.fStatsCalls, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(stats.fUsedMem, 0u) << "scalar counters cleared";
    EXPECT_EQ(stats.fNbBigBlocks, 4);
    EXPECT_EQ(stats.fTagMap[42].fCount, 1) << "collections kept";
    fArena.fStatsCalls.clear();
    fManager->GetStatistics(stats, 2);
    EXPECT_EQ(fArena.fStatsCalls, (std::vector<int>{2}));
    EXPECT_EQ(stats.fNbBigBlocks, 1);
    EXPECT_EQ(stats.fTagMap[2].fCount, 2) << "added to across gatherings";
}

} // namespace
