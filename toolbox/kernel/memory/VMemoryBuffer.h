// VMemoryBuffer: the toolbox's growable byte block (output of Base64, line-ending conversion and
// the compact JSON form, payload of blobs, storage of memory streams). It owns one block from a
// memory manager (the process's by default) and keeps the bytes in use apart from the bytes
// allocated, so that appending grows the block in amortized steps.
//
// Growth rule (_EnlargeAmortized): for a need of n bytes the block becomes
// n + min(n / kDivisor, kMaxIncrement) bytes rounded up to a multiple of kGranularity; when that
// cannot be had, exactly n bytes; when that fails too nothing changes. Blocks carry the tag 'memb'.
//
// The memory manager type is a parameter so that a manager with a limit can stand in for the
// process's one; it needs Malloc (size, virtual, tag), Realloc and Free as VCppMemMgr has them.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zorn
{

constexpr OsType kTagMemoryBuffer = MakeOsType('m', 'e', 'm', 'b');

template <size_t kGranularity = 1024, size_t kDivisor = 2, size_t kMaxIncrement = 1048576,
          class TMemMgr = VCppMemMgr>
class VMemoryBuffer
{
    static_assert(kGranularity > 0 && kDivisor > 0);

public:
    // A null manager means the process's memory manager.
    explicit VMemoryBuffer(TMemMgr* inMemMgr = nullptr)
        : fMemMgr(inMemMgr != nullptr ? inMemMgr : _DefaultMemMgr())
    {
    }
    virtual ~VMemoryBuffer() { Clear(); }
    VMemoryBuffer(const VMemoryBuffer&) = delete;
    VMemoryBuffer& operator=(const VMemoryBuffer&) = delete;

    TMemMgr* GetMemMgr() const { return fMemMgr; }
    void* GetDataPtr() { return fDataPtr; }
    const void* GetDataPtr() const { return fDataPtr; }
    // Bytes in use, and bytes allocated (never fewer than those in use).
    size_t GetDataSize() const { return fDataSize; }
    size_t GetAllocatedSize() const { return fAllocatedSize; }

    // The size the growth rule asks for a need of inNeeded bytes; 0 when it is not representable.
    static constexpr size_t ComputeAmortizedSize(size_t inNeeded)
    {
        size_t increment = inNeeded / kDivisor < kMaxIncrement ? inNeeded / kDivisor : kMaxIncrement;
        if (inNeeded > SIZE_MAX - increment)
        {
            return 0;
        }
        size_t size = inNeeded + increment;
        size_t remainder = size % kGranularity;
        if (remainder != 0)
        {
            if (size > SIZE_MAX - (kGranularity - remainder))
            {
                return 0;
            }
            size += kGranularity - remainder;
        }
        return size;
    }

    // Makes room for inNeeded bytes by the growth rule. The bytes in use are kept; their count
    // does not change. False, with nothing changed, when neither size can be allocated.
    bool _EnlargeAmortized(size_t inNeeded)
    {
        if (inNeeded <= fAllocatedSize)
        {
            return true;
        }
        size_t amortized = ComputeAmortizedSize(inNeeded);
        if (amortized != 0 && _Reallocate(amortized))
        {
            return true;
        }
        return _Reallocate(inNeeded);
    }

    // Appends bytes after those in use, growing first.
    bool AddData(const void* inData, size_t inSize)
    {
        if (inSize == 0)
        {
            return true;
        }
        if (inSize > SIZE_MAX - fDataSize || !_EnlargeAmortized(fDataSize + inSize))
        {
            return false;
        }
        std::memcpy(static_cast<char*>(fDataPtr) + fDataSize, inData, inSize);
        fDataSize += inSize;
        return true;
    }

    // Gives the block exactly inSize bytes (0 frees it); the bytes in use are cut to the new size.
    // False, with nothing changed, when the allocation fails.
    bool SetAllocatedSize(size_t inSize)
    {
        if (inSize == fAllocatedSize)
        {
            return true;
        }
        if (inSize == 0)
        {
            Clear();
            return true;
        }
        if (!_Reallocate(inSize))
        {
            return false;
        }
        if (fDataSize > inSize)
        {
            fDataSize = inSize;
        }
        return true;
    }

    // Sets the count of bytes in use; false when it exceeds the allocated size.
    bool SetDataSize(size_t inSize)
    {
        if (inSize > fAllocatedSize)
        {
            return false;
        }
        fDataSize = inSize;
        return true;
    }

    // Frees the block.
    void Clear()
    {
        if (fDataPtr != nullptr && fMemMgr != nullptr)
        {
            fMemMgr->Free(fDataPtr);
        }
        fDataPtr = nullptr;
        fDataSize = 0;
        fAllocatedSize = 0;
    }

private:
    static TMemMgr* _DefaultMemMgr()
    {
        if constexpr (std::is_same_v<TMemMgr, VCppMemMgr>)
        {
            return VObject::sCppMemMgr;
        }
        else
        {
            return nullptr;
        }
    }

    bool _Reallocate(size_t inSize)
    {
        if (fMemMgr == nullptr)
        {
            return false;
        }
        void* block = fDataPtr == nullptr ? fMemMgr->Malloc(inSize, false, kTagMemoryBuffer)
                                          : fMemMgr->Realloc(fDataPtr, inSize);
        if (block == nullptr)
        {
            return false;
        }
        fDataPtr = block;
        fAllocatedSize = inSize;
        return true;
    }

    TMemMgr* fMemMgr;
    void* fDataPtr = nullptr;
    size_t fDataSize = 0;
    size_t fAllocatedSize = 0;
};

} // namespace zorn
