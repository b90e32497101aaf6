#include "toolbox/kernel/streams/VConstPtrStream.h"

#include <cstring>

namespace zorn
{

VError VConstPtrStream::DoPutData(const void*, size_t)
{
    return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoGetData(void* outData, size_t* ioCount)
{
    size_t wanted = *ioCount;
    size_t position = static_cast<size_t>(GetPos());
    size_t available = position < fSize ? fSize - position : 0;
    size_t count = wanted < available ? wanted : available;
    if (count > 0)
    {
        std::memcpy(outData, static_cast<const char*>(fData) + position, count);
    }
    *ioCount = count;
    return count < wanted ? _ThrowError(VE_STREAM_EOF) : VE_OK;
}

VError VConstPtrStream::DoSetSize(int64_t)
{
    return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
}

VError VConstPtrStream::DoSetPos(int64_t inPosition)
{
    return static_cast<uint64_t>(inPosition) > fSize ? _ThrowError(VE_STREAM_EOF) : VE_OK;
}

} // namespace zorn
