#include "toolbox/kernel/streams/VBlobStream.h"

#include "toolbox/kernel/values/VBlob.h"

#include <climits>
#include <vector>

namespace zorn
{

VBlobStream::VBlobStream(VBlob* inBlob)
    : fBlob(inBlob == nullptr ? new VBlobWithPtr() : inBlob), fOwnsBlob(inBlob == nullptr)
{
}

VBlobStream::~VBlobStream()
{
    if (fOwnsBlob)
    {
        delete fBlob;
    }
}

VError VBlobStream::_CheckEnd(int64_t inEnd)
{
    return inEnd < 0 || inEnd > INT32_MAX ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
}

VError VBlobStream::DoPutData(const void* inData, size_t inCount)
{
    int64_t position = GetPos();
    if (inCount > static_cast<size_t>(INT32_MAX))
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    if (VError error = _CheckEnd(position + static_cast<int64_t>(inCount)); error != VE_OK)
    {
        return error;
    }
    VError error = fBlob->PutData(inData, inCount, static_cast<size_t>(position));
    return error == VE_OK ? VE_OK : _ThrowError(error);
}

VError VBlobStream::DoGetData(void* outData, size_t* ioCount)
{
    int64_t position = GetPos();
    if (position > INT32_MAX)
    {
        *ioCount = 0;
        return _ThrowError(VE_MEMORY_FULL);
    }
    size_t got = 0;
    VError error = fBlob->GetData(outData, *ioCount, static_cast<size_t>(position), &got);
    *ioCount = got;
    return error == VE_OK ? VE_OK : _ThrowError(error);
}

int64_t VBlobStream::DoGetSize()
{
    return static_cast<int64_t>(fBlob->GetSize());
}

VError VBlobStream::DoSetSize(int64_t inSize)
{
    if (VError error = _CheckEnd(inSize); error != VE_OK)
    {
        return error;
    }
    VError error = fBlob->SetSize(static_cast<size_t>(inSize));
    return error == VE_OK ? VE_OK : _ThrowError(error);
}

VError VBlobStream::DoSetPos(int64_t inPosition)
{
    if (inPosition < 0 || inPosition > INT32_MAX)
    {
        return _ThrowError(VE_INVALID_PARAMETER);
    }
    if (static_cast<size_t>(inPosition) <= fBlob->GetSize())
    {
        return VE_OK;
    }
    // Zero bytes up to the new position, written explicitly: a blob's SetSize leaves new bytes
    // uninitialised.
    size_t oldSize = fBlob->GetSize();
    std::vector<char> zeros(static_cast<size_t>(inPosition) - oldSize, 0);
    VError error = fBlob->PutData(zeros.data(), zeros.size(), oldSize);
    return error == VE_OK ? VE_OK : _ThrowError(error);
}

} // namespace zorn
