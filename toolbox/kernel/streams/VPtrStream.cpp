#include "toolbox/kernel/streams/VPtrStream.h"

#include <cstring>

namespace zorn
{

VError VPtrStream::DoPutData(const void* inData, size_t inCount)
{
    size_t position = static_cast<size_t>(GetPos());
    if (inCount > SIZE_MAX - position)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    size_t end = position + inCount;
    if (end > fBuffer.GetAllocatedSize() && !fBuffer._EnlargeAmortized(end))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    if (inCount > 0)
    {
        std::memcpy(static_cast<char*>(fBuffer.GetDataPtr()) + position, inData, inCount);
    }
    if (end > fBuffer.GetDataSize())
    {
        fBuffer.SetDataSize(end);
    }
    return VE_OK;
}

VError VPtrStream::DoGetData(void* outData, size_t* ioCount)
{
    size_t wanted = *ioCount;
    size_t position = static_cast<size_t>(GetPos());
    size_t available = position < fBuffer.GetDataSize() ? fBuffer.GetDataSize() - position : 0;
    size_t count = wanted < available ? wanted : available;
    if (count > 0)
    {
        std::memcpy(outData, static_cast<const char*>(fBuffer.GetDataPtr()) + position, count);
    }
    *ioCount = count;
    return count < wanted ? _ThrowError(VE_STREAM_EOF) : VE_OK;
}

VError VPtrStream::DoSetSize(int64_t inSize)
{
    size_t size = static_cast<size_t>(inSize);
    size_t oldSize = fBuffer.GetDataSize();
    if (size != fBuffer.GetAllocatedSize() && !fBuffer.SetAllocatedSize(size))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    // Bytes that extend the stream read as zeros, never as what the block held before.
    if (size > oldSize)
    {
        std::memset(static_cast<char*>(fBuffer.GetDataPtr()) + oldSize, 0, size - oldSize);
    }
    fBuffer.SetDataSize(size);
    return VE_OK;
}

VError VPtrStream::DoSetPos(int64_t inPosition)
{
    return static_cast<size_t>(inPosition) > fBuffer.GetDataSize() ? DoSetSize(inPosition) : VE_OK;
}

} // namespace zorn
