#include "toolbox/kernel/memory/VMemCppImpl.h"

#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemStats.h"
#include "toolbox/kernel/system/VSystem.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

namespace zorn
{

// ---- regions ----

void VMemImplAllocation::Init(VMemCppImpl* inOwner, size_t inSize, bool inPhysical)
{
    fOwner = inOwner;
    fNext = nullptr;
    fPrevious = nullptr;
    fUsableSize = inSize - kHeaderSize;
    fUsedOffset = 0;
    fLastBlockSize = 0;
    fPhysical = inPhysical;
    fReserved = 0;
}

VMemImplBlock* VMemImplAllocation::AllocateAtTheEnd(size_t inSize, size_t& ioUsedTotal,
                                                    unsigned char inVirtual, unsigned char inFlag, int inTag)
{
    if (GetTailSize() < inSize)
    {
        return nullptr;
    }
    VMemImplBlock* block = reinterpret_cast<VMemImplBlock*>(GetCarvedEnd());
    block->fRegion = this;
    block->fState = static_cast<int32_t>(inSize + (inVirtual != 0 ? VMemImplBlock::kStateVirtual : 0) +
                                         (inFlag != 0 ? VMemImplBlock::kStatePage : 0));
    block->fPreviousSize = static_cast<uint32_t>(fLastBlockSize);
    block->fTag = inTag;
    fLastBlockSize = inSize;
    fUsedOffset += inSize;
    ioUsedTotal += inSize;
    return block;
}

bool VMemImplAllocation::IsLastBlock(const VMemImplBlock* inBlock) const
{
    return reinterpret_cast<const char*>(inBlock) + inBlock->GetSize() == GetCarvedEnd();
}

bool VMemImplAllocation::Contains(const void* inAddress) const
{
    const char* address = static_cast<const char*>(inAddress);
    const char* first = reinterpret_cast<const char*>(GetFirstBlock());
    return address >= first && address < first + fUsableSize;
}

void VMemImplAllocation::ReduceFrom(const VMemImplBlock* inBlock)
{
    const char* first = reinterpret_cast<const char*>(GetFirstBlock());
    const char* block = reinterpret_cast<const char*>(inBlock);
    if (block < first)
    {
        return;
    }
    fUsedOffset = static_cast<size_t>(block - first);
    fLastBlockSize = inBlock->fPreviousSize;
}

// ---- the back end ----

VMemCppImpl::VMemCppImpl(int inIndex) : IMemCppImpl(inIndex), fSmallBlocks(*this, fUsedTotal)
{
    fSiblings[0] = this;
    fSiblingCount = 1;
}

VMemCppImpl::~VMemCppImpl()
{
    while (fRegions != nullptr)
    {
        _ReleaseRegion(fRegions);
    }
}

int VMemCppImpl::GetStepFromSize(size_t inSize, size_t& outStepSize)
{
    if (inSize <= 1048576)
    {
        outStepSize = 1024;
        return static_cast<int>((inSize + 1023) / 1024);
    }
    outStepSize = 0;
    return kStepCount - 1;
}

int VMemCppImpl::GetExactStepFromSize(size_t inSize)
{
    return inSize <= 1048576 ? static_cast<int>(inSize / 1024) : kStepCount - 1;
}

size_t VMemCppImpl::GetBlockSizeForRequest(size_t inSize, int& outStep)
{
    if (inSize < 1048553)
    {
        outStep = static_cast<int>((inSize + 1047) / 1024);
        return (inSize + sizeof(VMemImplBlock) + 1023) & ~size_t{1023};
    }
    outStep = kStepCount - 1;
    return (inSize + sizeof(VMemImplBlock) + 7) & ~size_t{7};
}

void VMemCppImpl::Init(VCppMemMgr* inManager)
{
    fManager = inManager;
    fSiblings[0] = this;
    fSiblingCount = 1;
    if (inManager == nullptr)
    {
        return;
    }
    for (int i = 0; i < inManager->GetBackEndCount() && fSiblingCount < 4; ++i)
    {
        auto* sibling = dynamic_cast<VMemCppImpl*>(inManager->GetBackEnd(i));
        if (sibling != nullptr && sibling != this)
        {
            fSiblings[fSiblingCount++] = sibling;
        }
    }
}

void VMemCppImpl::_AddRegion(void* inMemory, size_t inSize, bool inPhysical)
{
    auto* region = static_cast<VMemImplAllocation*>(inMemory);
    region->Init(this, inSize, inPhysical);
    region->fNext = fRegions;
    if (fRegions != nullptr)
    {
        fRegions->fPrevious = region;
    }
    fRegions = region;
    fRegionTotal += inSize;
}

void VMemCppImpl::_ReleaseRegion(VMemImplAllocation* inRegion)
{
    if (inRegion->fPrevious != nullptr)
    {
        inRegion->fPrevious->fNext = inRegion->fNext;
    }
    else
    {
        fRegions = inRegion->fNext;
    }
    if (inRegion->fNext != nullptr)
    {
        inRegion->fNext->fPrevious = inRegion->fPrevious;
    }
    size_t size = inRegion->fUsableSize + VMemImplAllocation::kHeaderSize;
    fRegionTotal -= size;
    VSystem::VirtualFree(inRegion, size, inRegion->fPhysical);
}

bool VMemCppImpl::_KeepsEmptyRegion(const VMemImplAllocation* inRegion) const
{
    if (inRegion->fUsableSize + VMemImplAllocation::kHeaderSize > kAutoRegionBlock + kAutoRegionExtra)
    {
        return false;
    }
    for (const VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
    {
        if (region != inRegion && region->fUsedOffset == 0)
        {
            return false;
        }
    }
    return true;
}

bool VMemCppImpl::AddAllocation(size_t inSize, const void* inAddress, unsigned char inPhysical)
{
    if (inSize < kMinAllocation)
    {
        return false;
    }
    void* memory = inPhysical != 0 ? VSystem::VirtualAllocPhysicalMemory(inSize, inAddress, nullptr)
                                   : VSystem::VirtualAlloc(inSize, inAddress);
    if (memory == nullptr)
    {
        return false;
    }
    _AddRegion(memory, inSize, inPhysical != 0);
    return true;
}

bool VMemCppImpl::AddAlreadyAllocatedMem(void* inBlock, size_t inSize, bool inPhysical)
{
    if (inBlock == nullptr || inSize < kMinAllocation)
    {
        return false;
    }
    _AddRegion(inBlock, inSize, inPhysical);
    return true;
}

int32_t VMemCppImpl::CountAllocations()
{
    int32_t count = 0;
    for (VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
    {
        ++count;
    }
    return count;
}

void VMemCppImpl::GetMemUsageInfo(size_t& outTotal, size_t& outUsed)
{
    outTotal = fRegionTotal;
    outUsed = fUsedTotal;
}

// ---- free lists ----

void VMemCppImpl::_PushFree(VMemImplBlock* inBlock, uint32_t inSize)
{
    inBlock->fState = -static_cast<int32_t>(inSize);
    int step = GetExactStepFromSize(inSize);
    VMemImplBlock*& head = fFreeLists[step];
    fNonEmptySteps[step / 64] |= uint64_t{1} << (step % 64);
    inBlock->NextFree() = head;
    inBlock->PreviousFree() = nullptr;
    if (head != nullptr)
    {
        head->PreviousFree() = inBlock;
    }
    head = inBlock;
}

void VMemCppImpl::RemoveBlockFromChainList(VMemImplBlock* inBlock)
{
    VMemImplBlock* next = inBlock->NextFree();
    VMemImplBlock* previous = inBlock->PreviousFree();
    if (previous != nullptr)
    {
        previous->NextFree() = next;
    }
    else
    {
        int step = GetExactStepFromSize(inBlock->GetSize());
        fFreeLists[step] = next;
        if (next == nullptr)
        {
            fNonEmptySteps[step / 64] &= ~(uint64_t{1} << (step % 64));
        }
    }
    if (next != nullptr)
    {
        next->PreviousFree() = previous;
    }
    if (fHint == inBlock)
    {
        fHint = nullptr;
    }
}

void VMemCppImpl::_UpdateNextPreviousSize(VMemImplBlock* inBlock)
{
    VMemImplAllocation* region = inBlock->fRegion;
    VMemImplBlock* next = inBlock->GetNext();
    if (reinterpret_cast<char*>(next) < region->GetCarvedEnd())
    {
        next->fPreviousSize = inBlock->GetSize();
    }
    else
    {
        region->fLastBlockSize = inBlock->GetSize();
    }
}

VMemImplBlock* VMemCppImpl::MergeContiguousFreeBlock(VMemImplBlock* inBlock)
{
    VMemImplAllocation* region = inBlock->fRegion;
    VMemImplBlock* block = inBlock;
    uint64_t size = block->GetSize();
    if (block != region->GetFirstBlock() && block->fPreviousSize != 0)
    {
        VMemImplBlock* previous = block->GetPrevious();
        if (!previous->IsUsed() && previous->GetSize() + size <= kMaxBlockSize)
        {
            RemoveBlockFromChainList(previous);
            size += previous->GetSize();
            block = previous;
            block->fState = -static_cast<int32_t>(size);
        }
    }
    VMemImplBlock* next = block->GetNext();
    if (reinterpret_cast<char*>(next) < region->GetCarvedEnd() && !next->IsUsed() &&
        next->GetSize() + size <= kMaxBlockSize)
    {
        RemoveBlockFromChainList(next);
        size += next->GetSize();
        block->fState = -static_cast<int32_t>(size);
    }
    _UpdateNextPreviousSize(block);
    return block;
}

// ---- allocation ----

void VMemCppImpl::_MarkUsed(VMemImplBlock* inBlock, uint32_t inSize, unsigned char inVirtual,
                            unsigned char inFlag, int inTag)
{
    inBlock->fState = static_cast<int32_t>(inSize + (inVirtual != 0 ? VMemImplBlock::kStateVirtual : 0) +
                                           (inFlag != 0 ? VMemImplBlock::kStatePage : 0));
    inBlock->fTag = inTag;
    fUsedTotal += inSize;
}

int VMemCppImpl::_HighestNonEmptyStepAbove(int inStep) const
{
    for (int word = (kStepCount - 1) / 64; word >= 0 && (word + 1) * 64 - 1 > inStep; --word)
    {
        uint64_t bits = fNonEmptySteps[word];
        int low = inStep + 1 - word * 64; // the lowest bit of this word that counts
        if (low > 0)
        {
            bits &= ~uint64_t{0} << low;
        }
        if (bits != 0)
        {
            return word * 64 + 63 - __builtin_clzll(bits);
        }
    }
    return -1;
}

VMemImplBlock* VMemCppImpl::_TakeFromList(VMemImplBlock* inBlock, size_t inBlockSize)
{
    RemoveBlockFromChainList(inBlock);
    uint32_t size = inBlock->GetSize();
    if (size >= inBlockSize + kMinSplitRest)
    {
        auto* rest = reinterpret_cast<VMemImplBlock*>(reinterpret_cast<char*>(inBlock) + inBlockSize);
        uint32_t restSize = size - static_cast<uint32_t>(inBlockSize);
        rest->fRegion = inBlock->fRegion;
        rest->fPreviousSize = static_cast<uint32_t>(inBlockSize);
        rest->fTag = 0;
        rest->fState = -static_cast<int32_t>(restSize);
        _UpdateNextPreviousSize(rest);
        _PushFree(rest, restSize);
        fHint = rest;
        inBlock->fState = -static_cast<int32_t>(inBlockSize);
    }
    return inBlock;
}

VMemImplBlock* VMemCppImpl::_CarveFromTails(size_t inBlockSize, unsigned char inVirtual, unsigned char inFlag,
                                            int inTag)
{
    for (VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
    {
        if (VMemImplBlock* block =
                region->AllocateAtTheEnd(inBlockSize, fUsedTotal, inVirtual, inFlag, inTag))
        {
            return block;
        }
    }
    return nullptr;
}

VMemImplBlock* VMemCppImpl::_MallocLarge(size_t inSize, unsigned char inFlag, unsigned char inVirtual,
                                         int inTag)
{
    if (inSize > kMaxRequest)
    {
        return nullptr;
    }
    int step = 0;
    size_t blockSize = GetBlockSizeForRequest(inSize, step);

    VMemImplBlock* taken = nullptr;
    if (step < kStepCount - 1 && fFreeLists[step] != nullptr)
    {
        taken = _TakeFromList(fFreeLists[step], blockSize);
    }
    else if (step == kStepCount - 1)
    {
        VMemImplBlock* best = nullptr;
        for (VMemImplBlock* block = fFreeLists[step]; block != nullptr; block = block->NextFree())
        {
            uint32_t size = block->GetSize();
            if (size >= blockSize && (best == nullptr || size < best->GetSize()))
            {
                best = block;
                if (size == blockSize)
                {
                    break;
                }
            }
        }
        if (best != nullptr)
        {
            taken = _TakeFromList(best, blockSize);
        }
    }
    if (taken == nullptr)
    {
        if (VMemImplBlock* carved = _CarveFromTails(blockSize, inVirtual, inFlag, inTag))
        {
            return carved;
        }
        if (fHint != nullptr && fHint->GetSize() >= blockSize)
        {
            taken = _TakeFromList(fHint, blockSize);
        }
        else
        {
            int higher = _HighestNonEmptyStepAbove(step);
            if (higher != -1 && fFreeLists[higher]->GetSize() >= blockSize)
            {
                taken = _TakeFromList(fFreeLists[higher], blockSize);
            }
        }
    }
    if (taken == nullptr)
    {
        if (!fAutoAllocation ||
            !AddAllocation(std::max(blockSize, kAutoRegionBlock) + kAutoRegionExtra, nullptr, 0))
        {
            return nullptr;
        }
        return fRegions->AllocateAtTheEnd(blockSize, fUsedTotal, inVirtual, inFlag, inTag);
    }
    _MarkUsed(taken, taken->GetSize(), inVirtual, inFlag, inTag);
    return taken;
}

// ---- freeing and finding blocks ----

VMemImplAllocation* VMemCppImpl::_FindRegion(const void* inAddress) const
{
    for (int i = 0; i < fSiblingCount; ++i)
    {
        for (VMemImplAllocation* region = fSiblings[i]->fRegions; region != nullptr; region = region->fNext)
        {
            if (region->Contains(inAddress))
            {
                return region;
            }
        }
    }
    return nullptr;
}

bool VMemCppImpl::_Locate(const void* inPointer, Located& outWhere, bool inWalkFreeList)
{
    uintptr_t address = reinterpret_cast<uintptr_t>(inPointer);
    if (address % 8 != 0 || address < sizeof(VMemImplBlock))
    {
        return false;
    }
    // Both kinds of header end with a 32-bit word and the tag; the word is negative in a small
    // block (minus its offset) and a previous size below 2^31 in a large one.
    const char* word = reinterpret_cast<const char*>(inPointer) - sizeof(VMemImplSmallBlock);
    VMemImplAllocation* region = _FindRegion(word);
    if (region == nullptr || word >= region->GetCarvedEnd())
    {
        return false;
    }
    const char* first = reinterpret_cast<const char*>(region->GetFirstBlock());
    int32_t value = 0;
    std::memcpy(&value, word, sizeof(value));
    if (value < 0)
    {
        auto* small = reinterpret_cast<VMemImplSmallBlock*>(const_cast<char*>(word));
        uint32_t offset = small->GetOffset();
        if (offset < VPageAllocationImpl::kHeaderSize || offset >= 131048 ||
            static_cast<size_t>(word - first) < offset + sizeof(VMemImplBlock))
        {
            return false;
        }
        // The page lies inside the region, so its header can be read; naming this back end's
        // small-block allocator is what tells a page from other bytes.
        auto* page = reinterpret_cast<VPageAllocationImpl*>(const_cast<char*>(word) - offset);
        VMemCppImpl* owner = region->fOwner;
        if (page->fAllocator != &owner->fSmallBlocks || page->fBlockSize == 0 ||
            (offset - VPageAllocationImpl::kHeaderSize) % page->fBlockSize != 0 ||
            offset + page->fBlockSize > page->fTailOffset || page->fTailOffset > page->fSize)
        {
            return false;
        }
        if ((inWalkFreeList || small->fTag == VMemImplSmallBlock::kFreeTag) && page->IsBlockFree(small))
        {
            return false;
        }
        outWhere.fOwner = owner;
        outWhere.fSmall = small;
        outWhere.fPage = page;
        return true;
    }
    auto* block = reinterpret_cast<VMemImplBlock*>(
        const_cast<char*>(reinterpret_cast<const char*>(inPointer)) - sizeof(VMemImplBlock));
    const char* start = reinterpret_cast<const char*>(block);
    if (start < first || block->fRegion != region || !block->IsUsed() ||
        (block->fState & VMemImplBlock::kStatePage) != 0)
    {
        return false;
    }
    uint32_t size = block->GetSize();
    if (size < sizeof(VMemImplBlock) || size > static_cast<size_t>(region->GetCarvedEnd() - start) ||
        block->fPreviousSize > static_cast<size_t>(start - first) ||
        (block->fPreviousSize == 0) != (start == first))
    {
        return false;
    }
    outWhere.fOwner = region->fOwner;
    outWhere.fLarge = block;
    return true;
}

void VMemCppImpl::_FreeLarge(VMemImplBlock* inBlock)
{
    VMemImplAllocation* region = inBlock->fRegion;
    uint32_t size = inBlock->GetSize();
    fUsedTotal -= size;
    inBlock->fState = -static_cast<int32_t>(size);
    VMemImplBlock* block = MergeContiguousFreeBlock(inBlock);
    if (region->IsLastBlock(block))
    {
        // Back to the tail, with every free block just before it.
        VMemImplBlock* first = region->GetFirstBlock();
        while (block != first)
        {
            VMemImplBlock* previous = block->GetPrevious();
            if (previous->IsUsed())
            {
                break;
            }
            RemoveBlockFromChainList(previous);
            block = previous;
        }
        region->ReduceFrom(block);
        if (region->fUsedOffset == 0 && fAutoAllocation && !_KeepsEmptyRegion(region))
        {
            _ReleaseRegion(region);
        }
        return;
    }
    _PushFree(block, block->GetSize());
    fHint = block;
}

void VMemCppImpl::Free(void* inBlock)
{
    Located where;
    if (!_Locate(inBlock, where, false))
    {
        return; // not a live block of this manager: refused
    }
    if (where.fSmall != nullptr)
    {
        where.fOwner->fSmallBlocks.Free(where.fPage, where.fSmall);
    }
    else
    {
        where.fOwner->_FreeLarge(where.fLarge);
    }
}

void* VMemCppImpl::Realloc(void* inBlock, size_t inSize)
{
    Located where;
    if (!_Locate(inBlock, where, false))
    {
        return nullptr;
    }
    bool isVirtual = where.fSmall != nullptr ? where.fSmall->IsVirtual()
                                             : (where.fLarge->fState & VMemImplBlock::kStateVirtual) != 0;
    int tag = where.fSmall != nullptr ? where.fSmall->fTag : where.fLarge->fTag;
    size_t oldSize = GetPtrSize(inBlock);
    void* block = Malloc(inSize, 0, isVirtual ? 1 : 0, tag);
    if (block == nullptr)
    {
        return nullptr;
    }
    std::memcpy(block, inBlock, std::min(oldSize, inSize));
    Free(inBlock);
    return block;
}

size_t VMemCppImpl::GetPtrSize(const void* inBlock)
{
    Located where;
    if (!_Locate(inBlock, where, false))
    {
        return 0;
    }
    if (where.fSmall != nullptr)
    {
        return where.fPage->fBlockSize - sizeof(VMemImplSmallBlock);
    }
    return where.fLarge->GetSize() - sizeof(VMemImplBlock);
}

bool VMemCppImpl::CheckPtr(const void* inBlock)
{
    Located where;
    return _Locate(inBlock, where, true);
}

bool VMemCppImpl::IsLiveVirtualBlock(const void* inObject)
{
    Located where;
    if (!_Locate(inObject, where, true))
    {
        return false;
    }
    return where.fSmall != nullptr ? where.fSmall->IsVirtual()
                                   : (where.fLarge->fState & VMemImplBlock::kStateVirtual) != 0;
}

int32_t VMemCppImpl::GetAllocationBlockNumber(const void* inBlock)
{
    Located where;
    return _Locate(inBlock, where, false) ? where.fOwner->GetIndex() : -1;
}

// ---- checks and statistics ----

bool VMemCppImpl::Check(void*)
{
    size_t freeBlocks = 0;
    for (VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
    {
        if (region->fOwner != this || region->fUsedOffset > region->fUsableSize)
        {
            return false;
        }
        char* end = region->GetCarvedEnd();
        uint32_t previousSize = 0;
        VMemImplBlock* block = region->GetFirstBlock();
        while (reinterpret_cast<char*>(block) < end)
        {
            uint32_t size = block->GetSize();
            if (block->fRegion != region || block->fPreviousSize != previousSize ||
                size < sizeof(VMemImplBlock) || size % 8 != 0 ||
                size > static_cast<size_t>(end - reinterpret_cast<char*>(block)))
            {
                return false;
            }
            if (!block->IsUsed())
            {
                ++freeBlocks;
            }
            else if ((block->fState & VMemImplBlock::kStatePage) != 0 &&
                     !reinterpret_cast<VPageAllocationImpl*>(block->GetData())->Check(nullptr))
            {
                return false;
            }
            previousSize = size;
            block = block->GetNext();
        }
        if (reinterpret_cast<char*>(block) != end || region->fLastBlockSize != previousSize)
        {
            return false;
        }
    }
    // Every free block is on the list of its step, and only free blocks are.
    size_t listed = 0;
    for (int step = 0; step < kStepCount; ++step)
    {
        if (((fNonEmptySteps[step / 64] >> (step % 64)) & 1) != (fFreeLists[step] != nullptr ? 1 : 0))
        {
            return false;
        }
        VMemImplBlock* previous = nullptr;
        for (VMemImplBlock* block = fFreeLists[step]; block != nullptr; block = block->NextFree())
        {
            if (block->IsUsed() || GetExactStepFromSize(block->GetSize()) != step ||
                block->PreviousFree() != previous || ++listed > freeBlocks)
            {
                return false;
            }
            previous = block;
        }
    }
    return listed == freeBlocks && fSmallBlocks.Check(nullptr);
}

void VMemCppImpl::CountUsedBlock(VMemStats& ioStats, const char* inData, uint32_t inSize, bool inVirtual,
                                 int inTag)
{
    if (inVirtual)
    {
        ++ioStats.fNbObjects;
        const void* table = nullptr;
        std::memcpy(&table, inData, sizeof(table));
        if (table != nullptr)
        {
            // The type information of a class sits in the word just before its virtual table.
            const std::type_info* type = nullptr;
            std::memcpy(&type, static_cast<const char*>(table) - sizeof(void*), sizeof(type));
            VObjectInfo& info = ioStats.fClassMap[type];
            ++info.fCount;
            info.fTotalSize += inSize;
            ioStats.fVirtualTableMap[table] = type;
            return;
        }
    }
    VObjectInfo& info = ioStats.fTagMap[inTag];
    ++info.fCount;
    info.fTotalSize += inSize;
}

void VMemCppImpl::GetStats(VMemStats& ioStats, short inIndex)
{
    for (VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
    {
        ioStats.fBlockMap.push_back({reinterpret_cast<uint64_t>(region->GetFirstBlock()), -2, inIndex});
        char* end = region->GetCarvedEnd();
        for (VMemImplBlock* block = region->GetFirstBlock(); reinterpret_cast<char*>(block) < end;
             block = block->GetNext())
        {
            uint32_t size = block->GetSize();
            if (size == 0)
            {
                break; // a damaged header: the walk cannot go on
            }
            ioStats.fBiggestBlock = std::max<uint64_t>(ioStats.fBiggestBlock, size);
            ++ioStats.fNbBigBlocks;
            if (!block->IsUsed())
            {
                ioStats.fBiggestFreeBlock = std::max<uint64_t>(ioStats.fBiggestFreeBlock, size);
                ++ioStats.fNbFreeBigBlocks;
                ioStats.fFreeMem += size;
                ++ioStats.fBigBlockMap[size].fFreeOrPartial;
                ioStats.fBlockMap.push_back({size, 0, 0});
                continue;
            }
            ++ioStats.fNbUsedBigBlocks;
            ioStats.fUsedMem += size;
            if ((block->fState & VMemImplBlock::kStatePage) != 0)
            {
                ++ioStats.fNbPages;
                auto* page = reinterpret_cast<VPageAllocationImpl*>(block->GetData());
                bool full = false;
                page->GetStats(ioStats, full);
                VMemBlockCounts& pages = ioStats.fPageMap[size];
                ++(full ? pages.fUsedOrFull : pages.fFreeOrPartial);
                ioStats.fBlockMap.push_back(
                    {size, static_cast<int16_t>(page->fBlockSize), static_cast<int16_t>(page->fUsedCount)});
            }
            else
            {
                ++ioStats.fBigBlockMap[size].fUsedOrFull;
                ioStats.fBlockMap.push_back({size, -1, 0});
                CountUsedBlock(ioStats, block->GetData(), size,
                               (block->fState & VMemImplBlock::kStateVirtual) != 0, block->fTag);
            }
        }
        size_t tail = region->GetTailSize();
        if (tail != 0)
        {
            ioStats.fBlockMap.push_back({tail, 0, 0});
            ioStats.fBiggestBlock = std::max<uint64_t>(ioStats.fBiggestBlock, tail);
            ioStats.fBiggestFreeBlock = std::max<uint64_t>(ioStats.fBiggestFreeBlock, tail);
            ioStats.fFreeMem += tail;
        }
    }
}

} // namespace zorn
