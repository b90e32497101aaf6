// IGrowableBuffer: a growable block of bytes as the text conversions see it: the data, the bytes
// in use, the bytes allocated, and a way to grow. The toolbox's byte buffer (VMemoryBuffer) is
// handed to the conversions that fill or rewrite a byte buffer through it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorn
{

class IGrowableBuffer
{
public:
    virtual ~IGrowableBuffer() = default;

    // Null while nothing is allocated.
    virtual uint8_t* GetDataPtr() = 0;
    virtual size_t GetDataSize() const = 0;
    virtual size_t GetAllocatedSize() const = 0;
    // Sets the bytes in use; the caller never passes more than the allocated size.
    virtual void SetDataSize(size_t inSize) = 0;
    // Grows the allocation to at least inNeeded bytes, keeping the content and the data size.
    // False, with nothing changed, when the memory cannot be had.
    virtual bool Grow(size_t inNeeded) = 0;
};

} // namespace zorn
