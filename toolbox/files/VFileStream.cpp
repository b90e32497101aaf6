#include "toolbox/files/VFileStream.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileDesc.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

namespace
{

constexpr OsType kTagFileStream = MakeOsType('s', 't', 'm', 'f');
constexpr size_t kLargestBuffer = 0x7FFFFFFF;
constexpr int64_t kLargeFile = int64_t{1} << 31;
constexpr uint32_t kOptionReadAhead = 8;

} // namespace

VFileStream::VFileStream(const VFile* inFile, uint32_t inOpenOptions)
    : fFile(RetainRefCountable(inFile)), fOpenOptions(inOpenOptions)
{
}

VFileStream::~VFileStream()
{
    ReleaseBuffer();
    _CloseDesc();
    if (fFile != nullptr)
    {
        fFile->Release();
    }
}

void VFileStream::_CloseDesc()
{
    delete fDesc;
    fDesc = nullptr;
}

void VFileStream::ReleaseBuffer()
{
    VMemory::DisposePtr(fBuffer);
    fBuffer = nullptr;
    fBufferOffset = 0;
    fBufferCount = 0;
    fBufferSize = 0;
}

void VFileStream::_AllocateBuffer(size_t inSize)
{
    ReleaseBuffer();
    for (size_t size = inSize; size > 0; size /= 2)
    {
        fBuffer = static_cast<char*>(VMemory::NewPtr(size, kTagFileStream));
        if (fBuffer != nullptr)
        {
            fBufferSize = size;
            return;
        }
    }
}

size_t VFileStream::_BufferSizeToAllocate() const
{
    const size_t capped = std::min(fWantedBufferSize, kLargestBuffer);
    if (IsWriting() || fFileSize >= kLargeFile)
    {
        return capped;
    }
    return std::min(capped, static_cast<size_t>(fFileSize));
}

VError VFileStream::SetBufferSize(size_t inSize)
{
    VError error = VE_OK;
    if (IsWriting() && fDesc != nullptr)
    {
        error = _WriteBack();
    }
    ReleaseBuffer();
    fWantedBufferSize = inSize;
    if (fDesc != nullptr)
    {
        _AllocateBuffer(_BufferSizeToAllocate());
        fBufferOffset = GetPos();
    }
    return error;
}

VError VFileStream::DoOpenReading()
{
    if (fFile == nullptr)
    {
        return _ThrowError(VE_STREAM_CANNOT_FIND_SOURCE);
    }
    if (fDesc == nullptr)
    {
        VError error = fFile->Open(FA_READ, &fDesc, kOptionReadAhead);
        if (error != VE_OK)
        {
            return error;
        }
    }
    fFileSize = fDesc->GetSize();
    // A file under 2 GiB gets a buffer of its own size when that is smaller than the wanted one.
    size_t size = std::min(fWantedBufferSize, kLargestBuffer);
    if (fFileSize > 0 && fFileSize < kLargeFile && static_cast<size_t>(fFileSize) <= fWantedBufferSize)
    {
        size = static_cast<size_t>(fFileSize);
    }
    _AllocateBuffer(size);
    return VE_OK;
}

VError VFileStream::DoOpenWriting()
{
    if (fFile == nullptr)
    {
        return _ThrowError(VE_STREAM_CANNOT_FIND_SOURCE);
    }
    if (fDesc != nullptr)
    {
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    VError error = fFile->Open(FA_SHARED, &fDesc, fOpenOptions);
    if (error != VE_OK)
    {
        return error;
    }
    fFileSize = fDesc->GetSize();
    fWrittenEnd = 0;
    _AllocateBuffer(std::min(fWantedBufferSize, kLargestBuffer));
    return VE_OK;
}

VError VFileStream::DoCloseReading()
{
    ReleaseBuffer();
    _CloseDesc();
    return VE_OK;
}

VError VFileStream::DoCloseWriting(bool inSetSize)
{
    ReleaseBuffer();
    VError error = VE_OK;
    // After a failure the file is not cut: what the session could not write stays as it was.
    if (inSetSize && fDesc != nullptr && fWrittenEnd < fFileSize && GetLastError() == VE_OK)
    {
        error = fDesc->SetSize(fWrittenEnd);
        if (error == VE_OK)
        {
            fFileSize = fWrittenEnd;
        }
    }
    _CloseDesc();
    return error;
}

VError VFileStream::_WriteBack()
{
    if (fBufferCount == 0)
    {
        return VE_OK;
    }
    VError error = fDesc->PutData(fBuffer, fBufferCount, fBufferOffset);
    SetWrittenToStorage(true);
    if (error == VE_OK)
    {
        fBufferCount = 0;
    }
    return error;
}

VError VFileStream::_Refill(int64_t inPosition)
{
    fBufferOffset = inPosition;
    fBufferCount = 0;
    const int64_t left = fFileSize - inPosition;
    if (left <= 0)
    {
        return VE_OK;
    }
    const size_t fill = std::min(fBufferSize, static_cast<size_t>(std::min<int64_t>(left, kLargestBuffer)));
    return fDesc->GetData(fBuffer, fill, inPosition, &fBufferCount);
}

VError VFileStream::DoPeekData(const void** outData, size_t* outCount)
{
    *outData = nullptr;
    *outCount = 0;
    if (!IsReading() || fBuffer == nullptr)
    {
        return VE_OK;
    }
    const int64_t position = GetPos();
    if (position < fBufferOffset || position >= fBufferOffset + static_cast<int64_t>(fBufferCount))
    {
        // A file that shrank gives the end of data here: what was read is still shown.
        if (VError error = _Refill(position); error != VE_OK && error != VE_STREAM_EOF)
        {
            return error;
        }
    }
    if (position >= fBufferOffset && position < fBufferOffset + static_cast<int64_t>(fBufferCount))
    {
        const auto at = static_cast<size_t>(position - fBufferOffset);
        *outData = fBuffer + at;
        *outCount = fBufferCount - at;
    }
    return VE_OK;
}

VError VFileStream::DoGetData(void* outData, size_t* ioCount)
{
    const size_t wanted = *ioCount;
    auto* out = static_cast<char*>(outData);
    int64_t position = GetPos();
    size_t delivered = 0;
    VError error = VE_OK;

    // What the buffer already holds at the position.
    if (position >= fBufferOffset && position < fBufferOffset + static_cast<int64_t>(fBufferCount))
    {
        const auto at = static_cast<size_t>(position - fBufferOffset);
        delivered = std::min(wanted, fBufferCount - at);
        std::memcpy(out, fBuffer + at, delivered);
        position += static_cast<int64_t>(delivered);
    }
    const size_t rest = wanted - delivered;
    if (rest > 0 && rest <= fBufferSize)
    {
        // Refill from the position with what the file holds there, then copy.
        error = _Refill(position);
        const size_t copied = std::min(rest, fBufferCount);
        std::memcpy(out + delivered, fBuffer, copied);
        delivered += copied;
    }
    else if (rest > 0)
    {
        size_t read = 0;
        error = fDesc->GetData(out + delivered, rest, position, &read);
        delivered += read;
    }
    *ioCount = delivered;
    if (delivered == wanted)
    {
        // The descriptor's end of data with every byte delivered is no failure.
        return error == VE_STREAM_EOF ? VE_OK : error;
    }
    if (error == VE_OK)
    {
        error = _ThrowError(VE_STREAM_EOF);
    }
    return error;
}

VError VFileStream::DoPutData(const void* inData, size_t inCount)
{
    auto* in = static_cast<const char*>(inData);
    const int64_t start = GetPos();
    const int64_t end = start + static_cast<int64_t>(inCount);
    int64_t position = start;
    size_t count = inCount;

    // Within or just after the unwritten bytes: into the buffer as far as it goes.
    if (fBufferCount > 0 && position >= fBufferOffset &&
        position <= fBufferOffset + static_cast<int64_t>(fBufferCount))
    {
        const auto at = static_cast<size_t>(position - fBufferOffset);
        const size_t fit = std::min(count, fBufferSize - at);
        std::memcpy(fBuffer + at, in, fit);
        fBufferCount = std::max(fBufferCount, at + fit);
        in += fit;
        count -= fit;
        position += static_cast<int64_t>(fit);
    }
    VError error = VE_OK;
    if (count > 0)
    {
        error = _WriteBack();
        if (error == VE_OK && count < fBufferSize)
        {
            std::memcpy(fBuffer, in, count);
            fBufferOffset = position;
            fBufferCount = count;
        }
        else if (error == VE_OK)
        {
            error = fDesc->PutData(in, count, position);
            SetWrittenToStorage(true);
        }
    }
    if (error == VE_OK)
    {
        fFileSize = std::max(fFileSize, end);
        fWrittenEnd = std::max(fWrittenEnd, end);
    }
    return error;
}

VError VFileStream::DoSetPos(int64_t inPosition)
{
    if (IsWriting())
    {
        if (inPosition < fBufferOffset || inPosition > fBufferOffset + static_cast<int64_t>(fBufferCount))
        {
            VError error = _WriteBack();
            if (error != VE_OK)
            {
                return error;
            }
        }
        if (inPosition > fFileSize)
        {
            VError error = fDesc->SetSize(inPosition);
            if (error != VE_OK)
            {
                return error;
            }
            fFileSize = inPosition;
        }
        fWrittenEnd = std::max(fWrittenEnd, inPosition);
        return VE_OK;
    }
    if (inPosition > fFileSize)
    {
        return _ThrowError(VE_STREAM_EOF);
    }
    return VE_OK;
}

VError VFileStream::DoSetSize(int64_t inSize)
{
    if (fBufferOffset + static_cast<int64_t>(fBufferCount) > inSize)
    {
        fBufferCount = inSize > fBufferOffset ? static_cast<size_t>(inSize - fBufferOffset) : 0;
    }
    VError error = fDesc->SetSize(inSize);
    if (error == VE_OK)
    {
        fFileSize = inSize;
        fWrittenEnd = inSize;
    }
    return error;
}

VError VFileStream::DoFlush()
{
    VError error = _WriteBack();
    VError flushed = fDesc->Flush();
    if (error == VE_OK)
    {
        error = flushed;
    }
    fBufferOffset = GetPos();
    fBufferCount = 0;
    return error;
}

} // namespace zorn
