#include "toolbox/kernel/base/SharedBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace zorn
{

SharedBuffer* SharedBuffer::Create(size_t inSize)
{
    // Size, count and the bytes; the few bytes of slack keep the block at least object-sized.
    if (inSize > SIZE_MAX - 15)
    {
        return nullptr;
    }
    static_assert(sizeof(SharedBuffer) <= 16);
    void* block = std::malloc(inSize + 15 < sizeof(SharedBuffer) ? sizeof(SharedBuffer) : inSize + 15);
    if (block == nullptr)
    {
        return nullptr;
    }
    SharedBuffer* buffer = new (block) SharedBuffer();
    buffer->fSize = inSize;
    return buffer;
}

SharedBuffer* SharedBuffer::Create(const void* inData, size_t inSize)
{
    SharedBuffer* buffer = Create(inSize);
    if (buffer != nullptr && inSize > 0)
    {
        std::memcpy(buffer->GetData(), inData, inSize);
    }
    return buffer;
}

void SharedBuffer::Retain() const
{
    fRefCount.fetch_add(1, std::memory_order_seq_cst);
}

void SharedBuffer::Release() const
{
    if (fRefCount.fetch_sub(1, std::memory_order_seq_cst) == 1)
    {
        SharedBuffer* self = const_cast<SharedBuffer*>(this);
        self->~SharedBuffer();
        std::free(self);
    }
}

} // namespace zorn
