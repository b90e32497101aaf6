// VJSONSlab: the memory of JSON containers (VJSONObject, VJSONArray). Every container block
// carries, in the 8 bytes before it, the slab it was carved from, or null for a block of its own
// from the heap, so one Free serves both kinds.
//
// A reader or a cloner makes the containers of one document through a VJSONSlabCursor: they are
// carved one after the other from slabs (2 KiB first, doubling up to 64 KiB), with no per-block
// heap header and no rounding beyond 8 bytes, and no heap call per container. A slab counts the
// blocks still alive in it and goes back to the heap when the last one dies, so the slabs of a
// document are released in bulk when its whole tree dies.
//
// Choices and limits:
//  - A slab lives as long as any of its blocks: one container kept from a dropped document keeps
//    its slab (at most 64 KiB) alive. Blocks above kMaxSlabBlock bytes always take the heap.
//  - The live count is atomic (containers may die on any task), but carving costs none: each slab
//    starts with a reserve of kReserve counts, and the cursor gives back the unused part once, when
//    it leaves the slab. A container's death costs one atomic decrement.
//  - A cursor belongs to one task at a time; the blocks it made are ordinary containers.
//  - Blocks are aligned to 8 bytes (the containers' alignment).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zorn
{

class VJSONSlabCursor
{
public:
    // Blocks above this many bytes take the heap.
    static constexpr size_t kMaxSlabBlock = 8 * 1024;

    VJSONSlabCursor() = default;
    // Leaves the current slab (see the header comment).
    ~VJSONSlabCursor();
    VJSONSlabCursor(const VJSONSlabCursor&) = delete;
    VJSONSlabCursor& operator=(const VJSONSlabCursor&) = delete;

    // A container block of inSize bytes: from the current slab, or a new one; from the heap when
    // inSize is above kMaxSlabBlock. Null when memory runs out.
    void* Allocate(size_t inSize) noexcept;

    // A container block of its own from the heap; throws std::bad_alloc as operator new does.
    static void* AllocateOnHeap(size_t inSize);
    // The same, null when memory runs out.
    static void* AllocateOnHeap(size_t inSize, const std::nothrow_t&) noexcept;
    // Frees a block of either kind.
    static void Free(void* inBlock) noexcept;

private:
    struct Slab
    {
        std::atomic<uint64_t> fLive;
    };
    static constexpr uint64_t kReserve = uint64_t{1} << 48;
    static constexpr size_t kFirstSlab = 2 * 1024;
    static constexpr size_t kLastSlab = 64 * 1024;

    // Gives back the unused reserve of the current slab.
    void _Leave() noexcept;

    Slab* fSlab = nullptr;
    char* fNext = nullptr;
    char* fEnd = nullptr;
    uint64_t fCarved = 0; // blocks carved from fSlab
    size_t fNextSlabSize = kFirstSlab;
};

} // namespace zorn
