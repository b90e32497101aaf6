// VMemThreadImpl: the small-block allocator of one own back end (VMemCppImpl), for requests below
// 8192 bytes, and its pages (VPageAllocationImpl) of equal-sized blocks.
//
// Choices and limits:
//  - A request of n bytes (the caller's size + the 8-byte block header) falls in one of 132 size
//    steps: multiples of 16 up to 1024 bytes, of 64 up to 4096, of 256 above. Each step keeps a
//    list of its pages that still have room.
//  - A page is a large block of the back end (8, 16, 64 or 128 KiB with its header, by block
//    size) with a 56-byte page header, then its blocks, carved on demand. The last block freed is
//    the first served again. A page whose blocks are all free is released at once.
//  - A small block's header holds minus its offset in the page (minus 1 more for a block asked
//    for as virtual) and its tag. A freed block keeps its offset and takes a marker tag, so that
//    a second Free of it is found (the marker alone never decides: the page's free list does).
//  - The checks look and report; they repair nothing and follow the links only inside a page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VMemCppImpl;
class VMemThreadImpl;
class VMemStats;

// The header of a small block.
struct VMemImplSmallBlock
{
    // The tag a block takes while it is free.
    static constexpr int32_t kFreeTag = 0x7F7E7D7C;

    uint32_t GetOffset() const { return static_cast<uint32_t>(-static_cast<int64_t>(fOffsetWord)) & ~1u; }
    bool IsVirtual() const { return (fOffsetWord & 1) != 0; }
    char* GetData() { return reinterpret_cast<char*>(this) + sizeof(VMemImplSmallBlock); }
    // The link of a free block to the next one on its page's list.
    VMemImplSmallBlock*& NextFree() { return *reinterpret_cast<VMemImplSmallBlock**>(GetData()); }

    int32_t fOffsetWord;
    int32_t fTag;
};
static_assert(sizeof(VMemImplSmallBlock) == 8);

// A page of small blocks: this header, then its blocks.
class VPageAllocationImpl
{
public:
    static constexpr uint32_t kHeaderSize = 56;

    // A sound page: counts in range, a free list inside the page as long as its count, and every
    // carved block holding its own offset.
    bool Check(void* inUnused) const;
    // True when the block lies outside the page, is on its free list, or the walk meets an entry
    // outside the page; false when the list ends without meeting it.
    bool IsBlockFree(const VMemImplSmallBlock* inBlock) const;
    // Adds the page's figures; outFull tells whether every block is in use.
    void GetStats(VMemStats& ioStats, bool& outFull) const;

    VMemImplSmallBlock* GetBlockAt(size_t inOffset) const
    {
        return reinterpret_cast<VMemImplSmallBlock*>(reinterpret_cast<uintptr_t>(this) + inOffset);
    }
    bool ContainsAddress(const void* inAddress) const
    {
        uintptr_t address = reinterpret_cast<uintptr_t>(inAddress);
        uintptr_t start = reinterpret_cast<uintptr_t>(this);
        return address > start && address < start + fSize;
    }

    VMemThreadImpl* fAllocator;
    VMemImplSmallBlock* fFreeList;
    VPageAllocationImpl* fNext;
    VPageAllocationImpl* fPrevious;
    size_t fSize;
    size_t fTailOffset;
    uint16_t fFreeCount;
    uint16_t fUsedCount;
    uint16_t fBlockCount;
    uint16_t fBlockSize;
};
static_assert(sizeof(VPageAllocationImpl) == VPageAllocationImpl::kHeaderSize);

class VMemThreadImpl
{
public:
    static constexpr int kStepCount = 132;

    // ioUsedTotal: the back end's used total, which the small blocks keep up to date.
    VMemThreadImpl(VMemCppImpl& inBackEnd, size_t& ioUsedTotal) : fBackEnd(inBackEnd), fUsedTotal(ioUsedTotal)
    {
    }

    // The step of a request of inSize bytes (header included) and its granularity (16, 64, 256).
    static int GetStepFromSize(size_t inSize, size_t& outGranularity)
    {
        if (inSize <= 1024)
        {
            outGranularity = 16;
            return static_cast<int>((inSize + 15) / 16);
        }
        if (inSize <= 4096)
        {
            outGranularity = 64;
            return static_cast<int>(((inSize - 961) >> 6) + 65);
        }
        outGranularity = 256;
        return static_cast<int>(((inSize - 3841) >> 8) + 114);
    }
    // The block size of a request of inSize bytes (header included).
    static size_t GetBlockSize(size_t inSize);
    // The size of the pages that hold blocks of inBlockSize bytes.
    static size_t GetPageSize(size_t inBlockSize);

    // A block for a request of inSize bytes, header included (at most 8199); null when no page
    // can be had. Returns the caller's address. Inline, as every small request passes here.
    void* Malloc(size_t inSize, unsigned char inVirtual, int inTag)
    {
        size_t granularity = 0;
        int step = GetStepFromSize(inSize, granularity);
        VPageAllocationImpl* page = fSteps[step];
        if (page == nullptr)
        {
            page = _NewPage(step, (inSize + granularity - 1) & ~(granularity - 1));
            if (page == nullptr)
            {
                return nullptr;
            }
        }
        VMemImplSmallBlock* block = page->fFreeList;
        if (block != nullptr)
        {
            // A freed block keeps its offset, with the virtual mark cleared.
            page->fFreeList = block->NextFree();
            --page->fFreeCount;
            block->fOffsetWord -= inVirtual != 0 ? 1 : 0;
        }
        else
        {
            block = page->GetBlockAt(page->fTailOffset);
            block->fOffsetWord = -static_cast<int32_t>(page->fTailOffset) - (inVirtual != 0 ? 1 : 0);
            page->fTailOffset += page->fBlockSize;
        }
        block->fTag = inTag;
        fUsedTotal += page->fBlockSize;
        if (++page->fUsedCount == page->fBlockCount)
        {
            _MarkPageAsFull(page);
        }
        return block->GetData();
    }

    // Frees a live block of one of this allocator's pages.
    void Free(VPageAllocationImpl* inPage, VMemImplSmallBlock* inBlock)
    {
        if (inPage->fUsedCount == inPage->fBlockCount)
        {
            _MarkPageAsNotFull(inPage);
        }
        inBlock->fTag = VMemImplSmallBlock::kFreeTag;
        if (inBlock->IsVirtual())
        {
            ++inBlock->fOffsetWord; // minus the offset alone
        }
        inBlock->NextFree() = inPage->fFreeList;
        inPage->fFreeList = inBlock;
        ++inPage->fFreeCount;
        --inPage->fUsedCount;
        fUsedTotal -= inPage->fBlockSize;
        if (inPage->fUsedCount == 0)
        {
            _RemovePage(inPage);
        }
    }

    // Walks the 132 step lists: every page must pass its check, and no page may head the lists
    // of two steps.
    bool Check(void* inUnused) const;

    VPageAllocationImpl* GetFirstPage(int inStep) const { return fSteps[inStep]; }
    VMemCppImpl& GetBackEnd() const { return fBackEnd; }

private:
    friend class VMemCppImpl;

    // A new page for blocks of inBlockSize bytes at the head of the step's list; null when the
    // back end has no room for it.
    VPageAllocationImpl* _NewPage(int inStep, size_t inBlockSize);
    void _MarkPageAsFull(VPageAllocationImpl* inPage);
    void _MarkPageAsNotFull(VPageAllocationImpl* inPage);
    void _RemovePage(VPageAllocationImpl* inPage);
    void _Unlink(VPageAllocationImpl* inPage);

    VMemCppImpl& fBackEnd;
    size_t& fUsedTotal;
    VPageAllocationImpl* fSteps[kStepCount] = {};
};

} // namespace zorn
