// SharedBuffer: a minimal reference-counted block of raw bytes, allocated from the C library
// (not the memory manager) so that it can be used at any time, even before the manager exists.
// Layout: 64-bit size, 32-bit atomic count, then the bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zorn
{

class SharedBuffer
{
public:
    // An uninitialised buffer of inSize bytes with count 1; null when malloc fails.
    static SharedBuffer* Create(size_t inSize);
    // The same, filled with a copy of inData.
    static SharedBuffer* Create(const void* inData, size_t inSize);

    void Retain() const;
    // Frees the block when this drops the last reference.
    void Release() const;

    size_t GetSize() const { return fSize; }
    uint32_t GetRefCount() const { return fRefCount.load(std::memory_order_acquire); }
    void* GetData() { return reinterpret_cast<unsigned char*>(this) + kDataOffset; }
    const void* GetData() const { return reinterpret_cast<const unsigned char*>(this) + kDataOffset; }

    SharedBuffer(const SharedBuffer&) = delete;
    SharedBuffer& operator=(const SharedBuffer&) = delete;

private:
    SharedBuffer() = default;
    ~SharedBuffer() = default;

    uint64_t fSize = 0;
    mutable std::atomic<uint32_t> fRefCount{1};
    // The bytes follow the count directly, in the same block.
    static constexpr size_t kDataOffset = sizeof(uint64_t) + sizeof(uint32_t);
};

} // namespace zorn
