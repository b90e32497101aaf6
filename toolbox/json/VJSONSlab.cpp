#include "toolbox/json/VJSONSlab.h"

#include <algorithm>
#include <new>

namespace zorn
{

namespace
{

constexpr size_t kHeader = sizeof(void*);

constexpr size_t RoundUp(size_t inSize)
{
    return (inSize + 7) & ~size_t{7};
}

// The block after its header, which names its slab (null: the heap).
void* Place(void* inMemory, void* inSlab)
{
    *static_cast<void**>(inMemory) = inSlab;
    return static_cast<char*>(inMemory) + kHeader;
}

} // namespace

VJSONSlabCursor::~VJSONSlabCursor()
{
    _Leave();
}

void VJSONSlabCursor::_Leave() noexcept
{
    if (fSlab == nullptr)
    {
        return;
    }
    uint64_t unused = kReserve - fCarved;
    if (fSlab->fLive.fetch_sub(unused, std::memory_order_acq_rel) == unused)
    {
        // Every block carved from it has died already.
        ::operator delete(fSlab);
    }
    fSlab = nullptr;
    fNext = nullptr;
    fEnd = nullptr;
    fCarved = 0;
}

void* VJSONSlabCursor::Allocate(size_t inSize) noexcept
{
    if (inSize > kMaxSlabBlock)
    {
        return AllocateOnHeap(inSize, std::nothrow);
    }
    size_t size = RoundUp(inSize + kHeader);
    if (fSlab == nullptr || static_cast<size_t>(fEnd - fNext) < size)
    {
        _Leave();
        size_t slabSize = std::max(fNextSlabSize, RoundUp(sizeof(Slab)) + size);
        void* memory = ::operator new(slabSize, std::nothrow);
        if (memory == nullptr)
        {
            return nullptr;
        }
        fSlab = ::new (memory) Slab{kReserve};
        fNext = static_cast<char*>(memory) + RoundUp(sizeof(Slab));
        fEnd = static_cast<char*>(memory) + slabSize;
        fNextSlabSize = std::min(2 * fNextSlabSize, kLastSlab);
    }
    void* block = fNext;
    fNext += size;
    ++fCarved;
    return Place(block, fSlab);
}

void* VJSONSlabCursor::AllocateOnHeap(size_t inSize)
{
    return Place(::operator new(inSize + kHeader), nullptr);
}

void* VJSONSlabCursor::AllocateOnHeap(size_t inSize, const std::nothrow_t&) noexcept
{
    void* memory = ::operator new(inSize + kHeader, std::nothrow);
    return memory == nullptr ? nullptr : Place(memory, nullptr);
}

void VJSONSlabCursor::Free(void* inBlock) noexcept
{
    if (inBlock == nullptr)
    {
        return;
    }
    void* memory = static_cast<char*>(inBlock) - kHeader;
    auto* slab = static_cast<Slab*>(*static_cast<void**>(memory));
    if (slab == nullptr)
    {
        ::operator delete(memory);
    }
    else if (slab->fLive.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        ::operator delete(slab);
    }
}

} // namespace zorn
