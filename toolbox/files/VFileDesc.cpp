#include "toolbox/files/VFileDesc.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/linux/XLinuxFileDesc.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace zorn
{

VFileDesc::VFileDesc(const VFilePath& inPath, int inFd) : fPath(inPath), fImpl(inFd) {}

VFileDesc::VFileDesc(const VFile* inFile, int inFd, FileAccess inAccess)
    : fFile(RetainRefCountable(inFile)), fAccess(inAccess), fImpl(inFd)
{
    if (fFile != nullptr)
    {
        fPath = fFile->GetPath();
    }
}

int64_t VFileDesc::GetPos() const
{
    return fImpl->GetPos();
}

VFileDesc::~VFileDesc()
{
    // The descriptor (fImpl) closes after the file is released; neither depends on the other.
    if (fFile != nullptr)
    {
        fFile->Release();
    }
}

VError VFileDesc::_Report(VError inCode, VError inDefault, size_t inCount, int64_t inOffset) const
{
    auto addParameters = [&](VFileError& ioError)
    {
        ioError.SetLong(VString("count"), static_cast<int32_t>(std::min<size_t>(inCount, INT32_MAX)));
        ioError.SetLong8(VString("offset"), inOffset);
        int64_t size = 0;
        if (fImpl->GetSize(size) == VE_OK)
        {
            ioError.SetLong8(VString("size"), size);
        }
    };
    if (inCode == VE_STREAM_EOF)
    {
        auto* error = new VFileError(fPath, inCode);
        addParameters(*error);
        _PushRetainedError(error);
        return inCode;
    }
    return PushFileErrorForCode(fPath, inCode, inDefault, addParameters);
}

int64_t VFileDesc::GetSize() const
{
    int64_t size = 0;
    VError code = fImpl->GetSize(size);
    if (code != VE_OK)
    {
        PushFileErrorForCode(fPath, code, VE_FILE_CANNOT_GET_SIZE);
        return 0;
    }
    return size;
}

VError VFileDesc::SetSize(int64_t inSize) const
{
    return PushFileErrorForCode(fPath, fImpl->SetSize(inSize), VE_FILE_CANNOT_SET_SIZE,
                                [&](VFileError& ioError) { ioError.SetLong8(VString("size"), inSize); });
}

VError VFileDesc::GetData(void* outBuffer, size_t inCount, int64_t inPosition, size_t* outRead) const
{
    size_t count = inCount;
    VError code = fImpl->GetData(outBuffer, count, inPosition, true);
    if (outRead != nullptr)
    {
        *outRead = count;
    }
    return code == VE_OK ? VE_OK : _Report(code, VE_FILE_CANNOT_READ, inCount, inPosition);
}

VError VFileDesc::GetDataAtPos(void* outBuffer, size_t inCount, int64_t inOffset, size_t* outRead) const
{
    const int64_t offset = fImpl->GetPos() + inOffset;
    size_t count = inCount;
    VError code = fImpl->GetData(outBuffer, count, inOffset, false);
    if (outRead != nullptr)
    {
        *outRead = count;
    }
    if (code == VE_OK || code == VE_STREAM_EOF)
    {
        return code;
    }
    return _Report(code, VE_FILE_CANNOT_READ, inCount, offset);
}

VError VFileDesc::PutData(const void* inBuffer, size_t inCount, int64_t inPosition, size_t* outWritten) const
{
    size_t count = inCount;
    VError code = fImpl->PutData(inBuffer, count, inPosition, true);
    if (outWritten != nullptr)
    {
        *outWritten = count;
    }
    return code == VE_OK ? VE_OK : _Report(code, VE_FILE_CANNOT_WRITE, inCount, inPosition);
}

VError VFileDesc::PutDataAtPos(const void* inBuffer, size_t inCount, int64_t inOffset,
                               size_t* outWritten) const
{
    const int64_t offset = fImpl->GetPos() + inOffset;
    size_t count = inCount;
    VError code = fImpl->PutData(inBuffer, count, inOffset, false);
    if (outWritten != nullptr)
    {
        *outWritten = count;
    }
    return code == VE_OK ? VE_OK : _Report(code, VE_FILE_CANNOT_WRITE, inCount, offset);
}

VError VFileDesc::SetPos(int64_t inPosition, bool inFromStart) const
{
    fImpl->SetPos(inFromStart ? inPosition : fImpl->GetPos() + inPosition);
    return VE_OK;
}

VError VFileDesc::Flush() const
{
    return PushFileErrorForCode(fPath, fImpl->Flush(), VE_FILE_CANNOT_FLUSH);
}

} // namespace zorn
