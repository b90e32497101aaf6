#include "toolbox/kernel/memory/VMemThreadImpl.h"

#include "toolbox/kernel/memory/VMemCppImpl.h"
#include "toolbox/kernel/memory/VMemStats.h"

#include <unordered_set>

namespace zorn
{

size_t VMemThreadImpl::GetBlockSize(size_t inSize)
{
    size_t granularity = 0;
    GetStepFromSize(inSize, granularity);
    return (inSize + granularity - 1) & ~(granularity - 1);
}

size_t VMemThreadImpl::GetPageSize(size_t inBlockSize)
{
    // 8, 16, 64 and 128 KiB less the large block's header.
    if (inBlockSize < 256)
    {
        return 8168;
    }
    if (inBlockSize < 1024)
    {
        return 16360;
    }
    if (inBlockSize < 4096)
    {
        return 65512;
    }
    return 131048;
}

VPageAllocationImpl* VMemThreadImpl::_NewPage(int inStep, size_t inBlockSize)
{
    size_t pageSize = GetPageSize(inBlockSize);
    VMemImplBlock* large = fBackEnd._MallocLarge(pageSize, 1, 0, 0);
    if (large == nullptr)
    {
        return nullptr;
    }
    auto* page = reinterpret_cast<VPageAllocationImpl*>(large->GetData());
    page->fAllocator = this;
    page->fFreeList = nullptr;
    page->fNext = nullptr;
    page->fPrevious = nullptr;
    page->fSize = pageSize;
    page->fTailOffset = VPageAllocationImpl::kHeaderSize;
    page->fFreeCount = 0;
    page->fUsedCount = 0;
    page->fBlockCount = static_cast<uint16_t>((pageSize - VPageAllocationImpl::kHeaderSize) / inBlockSize);
    page->fBlockSize = static_cast<uint16_t>(inBlockSize);
    // The used total counts the page's blocks as they are served, not the page itself.
    fUsedTotal -= static_cast<size_t>(page->fBlockCount) * inBlockSize;
    fSteps[inStep] = page;
    return page;
}

void VMemThreadImpl::_Unlink(VPageAllocationImpl* inPage)
{
    if (inPage->fPrevious != nullptr)
    {
        inPage->fPrevious->fNext = inPage->fNext;
    }
    else
    {
        size_t granularity = 0;
        int step = GetStepFromSize(inPage->fBlockSize, granularity);
        if (fSteps[step] == inPage)
        {
            fSteps[step] = inPage->fNext;
        }
    }
    if (inPage->fNext != nullptr)
    {
        inPage->fNext->fPrevious = inPage->fPrevious;
    }
    inPage->fNext = nullptr;
    inPage->fPrevious = nullptr;
}

void VMemThreadImpl::_MarkPageAsFull(VPageAllocationImpl* inPage)
{
    _Unlink(inPage);
}

void VMemThreadImpl::_MarkPageAsNotFull(VPageAllocationImpl* inPage)
{
    size_t granularity = 0;
    int step = GetStepFromSize(inPage->fBlockSize, granularity);
    inPage->fPrevious = nullptr;
    inPage->fNext = fSteps[step];
    if (inPage->fNext != nullptr)
    {
        inPage->fNext->fPrevious = inPage;
    }
    fSteps[step] = inPage;
}

void VMemThreadImpl::_RemovePage(VPageAllocationImpl* inPage)
{
    _Unlink(inPage);
    fUsedTotal += static_cast<size_t>(inPage->fBlockCount) * inPage->fBlockSize;
    VMemImplBlock* large =
        reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(inPage) - sizeof(VMemImplBlock));
    fBackEnd._FreeLarge(large);
}

bool VMemThreadImpl::Check(void*) const
{
    for (int step = 0; step < kStepCount; ++step)
    {
        for (const VPageAllocationImpl* page = fSteps[step]; page != nullptr; page = page->fNext)
        {
            if (!page->Check(nullptr))
            {
                return false;
            }
        }
        if (fSteps[step] != nullptr)
        {
            for (int later = step + 1; later < kStepCount; ++later)
            {
                if (fSteps[later] == fSteps[step])
                {
                    return false;
                }
            }
        }
    }
    return true;
}

bool VPageAllocationImpl::Check(void*) const
{
    if (static_cast<int16_t>(fUsedCount) < 0 || fUsedCount > fBlockCount)
    {
        return false;
    }
    if (static_cast<int16_t>(fFreeCount) < 0 || fFreeCount > fBlockCount)
    {
        return false;
    }
    size_t listed = 0;
    for (const VMemImplSmallBlock* entry = fFreeList; entry != nullptr;
         entry = const_cast<VMemImplSmallBlock*>(entry)->NextFree())
    {
        if (!ContainsAddress(entry) || ++listed > fBlockCount)
        {
            return false;
        }
    }
    if (listed != fFreeCount)
    {
        return false;
    }
    if (fBlockSize == 0 || fTailOffset > fSize)
    {
        return false;
    }
    for (size_t offset = kHeaderSize; offset + fBlockSize <= fTailOffset; offset += fBlockSize)
    {
        if (GetBlockAt(offset)->GetOffset() != offset)
        {
            return false;
        }
    }
    return true;
}

bool VPageAllocationImpl::IsBlockFree(const VMemImplSmallBlock* inBlock) const
{
    if (!ContainsAddress(inBlock))
    {
        return true;
    }
    // The list is at most the block count long in a sound page; the bound keeps a looping list
    // from hanging the walk.
    size_t steps = 0;
    for (const VMemImplSmallBlock* entry = fFreeList; entry != nullptr;
         entry = const_cast<VMemImplSmallBlock*>(entry)->NextFree())
    {
        if (entry == inBlock || !ContainsAddress(entry) || ++steps > fBlockCount)
        {
            return true;
        }
    }
    return false;
}

void VPageAllocationImpl::GetStats(VMemStats& ioStats, bool& outFull) const
{
    uint64_t capacity = static_cast<uint64_t>(fBlockCount) * fBlockSize;
    ioStats.fUsedMem -= capacity;
    ioStats.fFreeMem += capacity;
    outFull = fUsedCount == fBlockCount;
    VMemBlockCounts& counts = ioStats.fSmallBlockMap[fBlockSize];
    counts.fFreeOrPartial += fBlockCount - fUsedCount;
    counts.fUsedOrFull += fUsedCount;

    std::unordered_set<const VMemImplSmallBlock*> freeBlocks;
    size_t steps = 0;
    for (const VMemImplSmallBlock* entry = fFreeList;
         entry != nullptr && ContainsAddress(entry) && steps <= fBlockCount;
         entry = const_cast<VMemImplSmallBlock*>(entry)->NextFree(), ++steps)
    {
        freeBlocks.insert(entry);
    }
    for (size_t offset = kHeaderSize; offset + fBlockSize <= fTailOffset; offset += fBlockSize)
    {
        VMemImplSmallBlock* block = GetBlockAt(offset);
        ++ioStats.fNbSmallBlocks;
        if (freeBlocks.count(block) != 0)
        {
            ++ioStats.fNbFreeSmallBlocks;
            if (ioStats.fBiggestFreeBlock < fBlockSize)
            {
                ioStats.fBiggestFreeBlock = fBlockSize;
            }
        }
        else
        {
            ioStats.fFreeMem -= fBlockSize;
            ioStats.fUsedMem += fBlockSize;
            ++ioStats.fNbUsedSmallBlocks;
            VMemCppImpl::CountUsedBlock(ioStats, block->GetData(), fBlockSize, block->IsVirtual(),
                                        block->fTag);
        }
    }
}

} // namespace zorn
