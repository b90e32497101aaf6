// VMemCppImpl: the own block allocator, one of the four back ends of the memory manager in
// own-allocator mode, with its regions (VMemImplAllocation) and large-block headers
// (VMemImplBlock). Requests below 8192 bytes go to its small-block allocator (VMemThreadImpl).
//
// Choices and limits:
//  - Regions come from virtual memory (VSystem::VirtualAlloc) and hold a 64-byte header, then
//    blocks carved one after the other; the part never carved yet (the tail) serves new blocks.
//  - A large block has a 24-byte header before the caller's bytes and is a multiple of 1024 bytes
//    up to 1 MiB (one free list per KiB step), a multiple of 8 above (one list for all). A free
//    block is split only when 8192 bytes or more would remain; freed neighbours merge as long as
//    the sum stays below 2^31; a block freed at the end of the carved part returns to the tail.
//  - Blocks are aligned to 8 bytes, not 16: the header sizes are fixed by the layout.
//  - With auto-allocation on, a region whose blocks are all free is released, except that a back
//    end keeps one empty region of at most the auto-allocation size (20 MiB): a region that
//    empties stays when no other region of the back end is empty. Without it, a program whose
//    live blocks come and go one at a time (a string made and dropped in a loop) would map a
//    region and fault its first pages in at every allocation and unmap it at every free. The
//    kept region's touched pages stay in memory; larger regions, and every emptied region beyond
//    the kept one, go back to the system at once.
//  - Requests above 2147481598 bytes are refused (the block size must fit a signed 32-bit state).
//  - Free, GetPtrSize, CheckPtr and GetAllocationBlockNumber of any back end accept the blocks of
//    its three siblings (the manager's other back ends). A pointer that lies in none of their
//    regions, or whose header does not read as a live block of one, is refused: Free does
//    nothing, GetPtrSize gives 0, CheckPtr false. A pointer into the middle of a live block can
//    only be told apart as well as its bytes differ from a header.
//  - Not thread-safe: the manager calls it under its lock only.
#pragma once

#include "toolbox/kernel/memory/IMemCppImpl.h"
#include "toolbox/kernel/memory/VMemThreadImpl.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VMemImplAllocation;
class VMemCppImpl;

// The header of a large block.
struct VMemImplBlock
{
    static constexpr uint32_t kStateVirtual = 1;
    static constexpr uint32_t kStatePage = 2;

    // The block's size read from its state: used blocks carry two flags in the low bits.
    uint32_t GetSize() const
    {
        return fState > 0 ? static_cast<uint32_t>(fState) & ~3u
                          : static_cast<uint32_t>(-static_cast<int64_t>(fState));
    }
    bool IsUsed() const { return fState > 0; }
    char* GetData() { return reinterpret_cast<char*>(this) + sizeof(VMemImplBlock); }
    VMemImplBlock* GetNext()
    {
        return reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(this) + GetSize());
    }
    VMemImplBlock* GetPrevious()
    {
        return reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(this) - fPreviousSize);
    }
    // The links of a free block in its step's list, kept in its first 16 bytes.
    VMemImplBlock*& NextFree() { return reinterpret_cast<VMemImplBlock**>(GetData())[0]; }
    VMemImplBlock*& PreviousFree() { return reinterpret_cast<VMemImplBlock**>(GetData())[1]; }

    VMemImplAllocation* fRegion;
    // Used: size + 1 (asked for as virtual) + 2 (a small-block page); free: minus the size.
    int32_t fState;
    uint32_t fReserved;
    uint32_t fPreviousSize;
    int32_t fTag;
};
static_assert(sizeof(VMemImplBlock) == 24);

// A region: its header, then its blocks.
class VMemImplAllocation
{
public:
    static constexpr size_t kHeaderSize = 64;

    void Init(VMemCppImpl* inOwner, size_t inSize, bool inPhysical);

    // Carves a block of inSize bytes from the tail; null, with nothing changed, when the tail is
    // shorter. ioUsedTotal grows by inSize.
    VMemImplBlock* AllocateAtTheEnd(size_t inSize, size_t& ioUsedTotal, unsigned char inVirtual,
                                    unsigned char inFlag, int inTag);
    // Whether the block ends exactly where the tail begins.
    bool IsLastBlock(const VMemImplBlock* inBlock) const;
    // Whether the block's address lies in the usable part.
    bool Contains(const void* inAddress) const;
    // Gives the tail back from inBlock on.
    void ReduceFrom(const VMemImplBlock* inBlock);

    VMemImplBlock* GetFirstBlock() const
    {
        return reinterpret_cast<VMemImplBlock*>(reinterpret_cast<uintptr_t>(this) + kHeaderSize);
    }
    // Where the tail begins.
    char* GetCarvedEnd() const { return reinterpret_cast<char*>(GetFirstBlock()) + fUsedOffset; }
    size_t GetTailSize() const { return fUsableSize - fUsedOffset; }

    VMemCppImpl* fOwner;
    VMemImplAllocation* fNext;
    VMemImplAllocation* fPrevious;
    size_t fUsableSize;
    size_t fUsedOffset;
    size_t fLastBlockSize;
    bool fPhysical;
    char fPadding[7];
    uint64_t fReserved;
};
static_assert(sizeof(VMemImplAllocation) == VMemImplAllocation::kHeaderSize);

class VMemCppImpl final : public IMemCppImpl
{
public:
    static constexpr int kStepCount = 1026;
    static constexpr size_t kSmallBlockLimit = 8192;
    static constexpr size_t kMaxRequest = 2147481598;
    static constexpr size_t kMinSplitRest = 8192;
    static constexpr size_t kMinAllocation = 65536;
    static constexpr size_t kAutoRegionBlock = 20970432;
    static constexpr size_t kAutoRegionExtra = 1088;
    static constexpr uint32_t kMaxBlockSize = 2147483647;

    explicit VMemCppImpl(int inIndex);
    ~VMemCppImpl() override;

    // Size steps: up to 1 MiB, the size in KiB taken upwards (step size 1024); above, 1025 (step
    // size 0). The exact step takes the KiB downwards: the list a free block of that size goes on.
    static int GetStepFromSize(size_t inSize, size_t& outStepSize);
    static int GetExactStepFromSize(size_t inSize);
    // The size of the large block that serves a request of inSize bytes (at most the largest
    // request), and its step: below 1048553 bytes, the size plus the header raised to whole KiB;
    // above, raised to a multiple of 8, in step 1025.
    static size_t GetBlockSizeForRequest(size_t inSize, int& outStep);

    void Init(VCppMemMgr* inManager) override;
    // inFlag set asks for a large block whatever its size (the small-block pages ask so). Inline,
    // so that the manager's calls reach the small blocks directly.
    void* Malloc(size_t inSize, unsigned char inFlag, unsigned char inVirtual, int inTag) override
    {
        if (inFlag == 0 && inSize < kSmallBlockLimit)
        {
            return fSmallBlocks.Malloc(inSize + sizeof(VMemImplSmallBlock), inVirtual, inTag);
        }
        VMemImplBlock* block = _MallocLarge(inSize, inFlag, inVirtual, inTag);
        return block == nullptr ? nullptr : block->GetData();
    }
    void Free(void* inBlock) override;
    void* Realloc(void* inBlock, size_t inSize) override;
    size_t GetPtrSize(const void* inBlock) override;
    bool CheckPtr(const void* inBlock) override;
    // Walks every region's blocks: each header must name its region and the size of the block
    // before it, the walk must end where the tail begins, and every small-block page must pass
    // its own check. Looks only; repairs nothing.
    bool Check(void* inUnused) override;
    // Refuses sizes below 65536.
    bool AddAllocation(size_t inSize, const void* inAddress, unsigned char inPhysical) override;
    bool AddAlreadyAllocatedMem(void* inBlock, size_t inSize, bool inPhysical) override;
    int32_t CountAllocations() override;
    // On, a request that nothing can serve adds a region of at least 20 MiB, and a region whose
    // blocks are all free is released, but for one kept empty region (see the head of the file).
    void SetAutoAllocationState(bool inOn) override { fAutoAllocation = inOn; }
    void GetStats(VMemStats& ioStats, short inIndex) override;
    size_t GetTotalAllocation() const override { return fRegionTotal; }
    // The region total and the bytes of used blocks (small blocks by their block size).
    void GetMemUsageInfo(size_t& outTotal, size_t& outUsed) override;
    // The owner's index; -1 for a pointer that is no live block.
    int32_t GetAllocationBlockNumber(const void* inBlock) override;

    // Whether the address lies in a region of this back end or of its siblings.
    bool OwnsAddress(const void* inAddress) const { return _FindRegion(inAddress) != nullptr; }
    // Whether inObject is the start of a live block asked for as virtual (a VObject's block).
    bool IsLiveVirtualBlock(const void* inObject);

    // Merges a free block with its free neighbours (what Free does), for blocks off their lists.
    VMemImplBlock* MergeContiguousFreeBlock(VMemImplBlock* inBlock);
    void RemoveBlockFromChainList(VMemImplBlock* inBlock);

    VMemThreadImpl& GetSmallBlocks() { return fSmallBlocks; }
    VMemImplAllocation* GetFirstRegion() const { return fRegions; }

    // Counts a used block by the class of the object it holds (asked for as virtual, with a
    // virtual table) or else by its tag, with inSize bytes.
    static void CountUsedBlock(VMemStats& ioStats, const char* inData, uint32_t inSize, bool inVirtual,
                               int inTag);

private:
    friend class VMemThreadImpl;

    // Where a live block's bytes sit, told apart from its pointer.
    struct Located
    {
        VMemCppImpl* fOwner = nullptr;
        VMemImplBlock* fLarge = nullptr;
        VMemImplSmallBlock* fSmall = nullptr;
        VPageAllocationImpl* fPage = nullptr;
    };
    // Finds the live block that starts at inPointer among this back end's and its siblings'
    // regions; false for anything else.
    // inWalkFreeList: a small block is looked for on its page's free list (else only when it
    // carries the free marker).
    bool _Locate(const void* inPointer, Located& outWhere, bool inWalkFreeList);
    void _MarkUsed(VMemImplBlock* inBlock, uint32_t inSize, unsigned char inVirtual, unsigned char inFlag,
                   int inTag);
    VMemImplAllocation* _FindRegion(const void* inAddress) const;

    VMemImplBlock* _MallocLarge(size_t inSize, unsigned char inFlag, unsigned char inVirtual, int inTag);
    VMemImplBlock* _TakeFromList(VMemImplBlock* inBlock, size_t inBlockSize);
    VMemImplBlock* _CarveFromTails(size_t inBlockSize, unsigned char inVirtual, unsigned char inFlag,
                                   int inTag);
    void _FreeLarge(VMemImplBlock* inBlock);
    void _PushFree(VMemImplBlock* inBlock, uint32_t inSize);
    // The highest step above inStep whose list is not empty; -1 when there is none.
    int _HighestNonEmptyStepAbove(int inStep) const;
    // Tells the block after inBlock (or the region, when inBlock is its last) inBlock's size.
    void _UpdateNextPreviousSize(VMemImplBlock* inBlock);
    void _AddRegion(void* inMemory, size_t inSize, bool inPhysical);
    void _ReleaseRegion(VMemImplAllocation* inRegion);
    // Whether a region that has just emptied stays: one of at most the auto-allocation size, when
    // no other region of this back end is empty.
    bool _KeepsEmptyRegion(const VMemImplAllocation* inRegion) const;

    VCppMemMgr* fManager = nullptr;
    VMemCppImpl* fSiblings[4] = {};
    int fSiblingCount = 0;
    VMemThreadImpl fSmallBlocks;
    VMemImplBlock* fFreeLists[kStepCount] = {};
    // One bit per step whose list is not empty, so that the highest such list is found at once.
    uint64_t fNonEmptySteps[(kStepCount + 63) / 64] = {};
    VMemImplAllocation* fRegions = nullptr;
    VMemImplBlock* fHint = nullptr;
    size_t fRegionTotal = 0;
    size_t fUsedTotal = 0;
    bool fAutoAllocation = false;
};

} // namespace zorn
