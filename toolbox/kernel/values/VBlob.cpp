#include "toolbox/kernel/values/VBlob.h"

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/streams/VStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zorn
{

namespace
{

// A write on a view of somebody else's bytes.
constexpr VError kReadOnlyBlob = VE_STREAM_NOT_OPENED_FOR_WRITING;

uint32_t LoadLength(const void* inData)
{
    uint32_t length;
    std::memcpy(&length, inData, sizeof(length));
    return length;
}

// GetData over contiguous bytes.
VError CopyOut(const void* inBytes, size_t inSize, void* outBuffer, size_t inLength, size_t inOffset,
               size_t* outGot)
{
    size_t count = inOffset < inSize ? std::min(inLength, inSize - inOffset) : 0;
    if (count > 0)
    {
        std::memcpy(outBuffer, static_cast<const char*>(inBytes) + inOffset, count);
    }
    if (outGot != nullptr)
    {
        *outGot = count;
    }
    return count == inLength ? VE_OK : VE_STREAM_EOF;
}

} // namespace

// VBlob

const VBlob_info& VBlob::Info()
{
    static const VBlob_info sInfo;
    return sInfo;
}

const VValueInfo* VBlob::GetValueInfo() const
{
    return &Info();
}

VError VBlob::FromData(const void* inData, size_t inSize)
{
    VError error = SetSize(inSize);
    if (error == VE_OK && inSize != 0)
    {
        error = PutData(inData, inSize, 0);
    }
    return error;
}

CompareResult VBlob::CompareTo(const VValueSingle&, bool) const
{
    return CR_UNRELEVANT;
}

bool VBlob::EqualToSameKind(const VValue* inValue, bool) const
{
    const VBlob* other = dynamic_cast<const VBlob*>(inValue);
    if (other == nullptr || other->IsNull() || IsNull() || other->GetSize() != GetSize())
    {
        return false;
    }
    return GetSize() == 0 || std::memcmp(GetDataPtr(), other->GetDataPtr(), GetSize()) == 0;
}

bool VBlob::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue);
}

VError VBlob::FromJSONValue(const VJSONValue& inJSONValue)
{
    Clear();
    auto reader = detail::KernelHooks().fBlobFromJSON.load();
    if (reader == nullptr || !reader(inJSONValue, *this))
    {
        SetNull(true);
    }
    return VE_OK;
}

VError VBlob::GetJSONValue(VJSONValue& outJSONValue) const
{
    if (auto writer = detail::KernelHooks().fBlobToJSON.load())
    {
        writer(*this, outJSONValue);
    }
    return VE_OK;
}

VError VBlob::GetJSONString(VString& outJSONString, JSONStringOptions inOptions) const
{
    if (auto writer = detail::KernelHooks().fBlobToJSONText.load())
    {
        writer(*this, outJSONString);
        return VE_OK;
    }
    return VValueSingle::GetJSONString(outJSONString, inOptions);
}

uint32_t VBlob::GetPackedLength() const
{
    return static_cast<uint32_t>(std::min<size_t>(GetSize(), std::numeric_limits<uint32_t>::max()));
}

void VBlob::DoNullChanged()
{
    if (IsNull())
    {
        SetSize(0);
    }
}

void* VBlob::_WritePacked(void* ioData) const
{
    uint32_t length = GetPackedLength();
    std::memcpy(ioData, &length, sizeof(length));
    char* bytes = static_cast<char*>(ioData) + sizeof(length);
    GetData(bytes, length, 0);
    return bytes + length;
}

VError VBlob::_WriteStream(VStream* ioStream) const
{
    uint32_t length = GetPackedLength();
    uint32_t field = ioStream->NeedSwap() ? ByteSwapped(length) : length;
    if (VError error = ioStream->PutData(&field, sizeof(field)); error != VE_OK)
    {
        return error;
    }
    if (length > 0)
    {
        ioStream->PutData(GetDataPtr(), length);
    }
    return ioStream->GetLastError();
}

// VBlobWithPtr

VBlobWithPtr::VBlobWithPtr(const void* inData, size_t inSize)
{
    if (inSize > 0 && fBuffer.SetAllocatedSize(inSize))
    {
        std::memcpy(fBuffer.GetDataPtr(), inData, inSize);
        fBuffer.SetDataSize(inSize);
    }
}

VBlobWithPtr::VBlobWithPtr(const VBlobWithPtr& inOther) : VBlob(inOther), fBuffer(inOther.fBuffer.GetMemMgr())
{
    fFlags |= kDirty;
    size_t size = inOther.GetSize();
    if (size > 0 && fBuffer.SetAllocatedSize(size))
    {
        std::memcpy(fBuffer.GetDataPtr(), inOther.GetDataPtr(), size);
        fBuffer.SetDataSize(size);
    }
}

VBlobWithPtr::VBlobWithPtr(const VBlob& inOther) : VBlob(inOther)
{
    fFlags |= kDirty;
    if (!inOther.IsNull() && SetSize(inOther.GetSize()) == VE_OK)
    {
        inOther.GetData(fBuffer.GetDataPtr(), GetSize(), 0);
    }
}

VError VBlobWithPtr::SetSize(size_t inSize)
{
    if (fBuffer.GetAllocatedSize() != inSize && !fBuffer.SetAllocatedSize(inSize))
    {
        return VE_MEMORY_FULL;
    }
    fBuffer.SetDataSize(inSize);
    return VE_OK;
}

VError VBlobWithPtr::GetData(void* outBuffer, size_t inLength, size_t inOffset, size_t* outGot) const
{
    return CopyOut(GetDataPtr(), GetSize(), outBuffer, inLength, inOffset, outGot);
}

VError VBlobWithPtr::PutData(const void* inData, size_t inLength, size_t inOffset)
{
    if (inOffset > std::numeric_limits<size_t>::max() - inLength ||
        !fBuffer._EnlargeAmortized(inOffset + inLength))
    {
        SetNull(false);
        SetDirty(true);
        return VE_MEMORY_FULL;
    }
    char* bytes = static_cast<char*>(fBuffer.GetDataPtr());
    size_t size = GetSize();
    if (inOffset > size)
    {
        std::memset(bytes + size, 0, inOffset - size);
    }
    if (inLength > 0)
    {
        std::memmove(bytes + inOffset, inData, inLength);
    }
    fBuffer.SetDataSize(std::max(size, inOffset + inLength));
    SetNull(false);
    SetDirty(true);
    return VE_OK;
}

VError VBlobWithPtr::FromData(const void* inData, size_t inSize)
{
    // A source inside this blob's own block survives the reallocation only by a copy.
    if (inSize > 0 && fBuffer.GetDataPtr() != nullptr && inData >= fBuffer.GetDataPtr() &&
        inData < static_cast<const char*>(fBuffer.GetDataPtr()) + fBuffer.GetAllocatedSize())
    {
        VBlobWithPtr copy(inData, inSize);
        if (copy.GetSize() != inSize)
        {
            return VE_MEMORY_FULL;
        }
        return FromData(copy.GetDataPtr(), inSize);
    }
    if (!fBuffer.SetAllocatedSize(inSize))
    {
        SetNull(false);
        SetDirty(true);
        return VE_MEMORY_FULL;
    }
    if (inSize > 0)
    {
        std::memcpy(fBuffer.GetDataPtr(), inData, inSize);
    }
    fBuffer.SetDataSize(inSize);
    SetNull(false);
    SetDirty(true);
    return VE_OK;
}

bool VBlobWithPtr::FromValueSameKind(const VValue* inValue)
{
    const VBlobWithPtr* other = dynamic_cast<const VBlobWithPtr*>(inValue);
    if (other == nullptr || other == this)
    {
        return other != nullptr;
    }
    bool copied = SetSize(other->GetSize()) == VE_OK;
    if (copied && other->GetSize() > 0)
    {
        std::memcpy(fBuffer.GetDataPtr(), other->GetDataPtr(), other->GetSize());
    }
    // The null flag last: setting it empties the blob.
    fFlags = static_cast<uint8_t>((fFlags & ~kNull) | kDirty);
    SetNull(other->IsNull());
    return copied;
}

void VBlobWithPtr::GetValue(VValueSingle& outValue) const
{
    if (outValue.GetValueKind() == VK_BLOB)
    {
        static_cast<VBlob&>(outValue).FromData(GetDataPtr(), GetSize());
    }
}

void VBlobWithPtr::FromValue(const VValueSingle& inValue)
{
    Clear();
    if (const VBlobWithPtr* other = dynamic_cast<const VBlobWithPtr*>(&inValue);
        other != nullptr && other != this)
    {
        PutData(other->GetDataPtr(), other->GetSize(), 0);
    }
}

const void* VBlobWithPtr::LoadFromPtr(const void* inData, bool)
{
    uint32_t length = LoadLength(inData);
    const char* bytes = static_cast<const char*>(inData) + sizeof(length);
    FromData(length > 0 ? bytes : nullptr, length);
    return bytes + length;
}

void* VBlobWithPtr::WriteToPtr(void* ioData, bool, size_t) const
{
    return _WritePacked(ioData);
}

size_t VBlobWithPtr::GetSpace(size_t) const
{
    return size_t{GetPackedLength()} + sizeof(uint32_t);
}

VError VBlobWithPtr::ReadFromStream(VStream* ioStream, int32_t)
{
    int32_t field = 0;
    if (VError error = ioStream->GetLong(field); error != VE_OK)
    {
        return error;
    }
    uint32_t length = static_cast<uint32_t>(field);
    // Outside input: never allocate for bytes the stream cannot deliver.
    if (ioStream->GetBytesLeft() < length)
    {
        SetSize(0);
        return _ThrowError(VE_STREAM_EOF);
    }
    if (VError error = SetSize(length); error != VE_OK)
    {
        return error;
    }
    if (length > 0)
    {
        ioStream->GetData(fBuffer.GetDataPtr(), length);
    }
    return ioStream->GetLastError();
}

VError VBlobWithPtr::WriteToStream(VStream* ioStream, int32_t) const
{
    return _WriteStream(ioStream);
}

// VConstBlobWithPtr

VConstBlobWithPtr::VConstBlobWithPtr(const void* inData, size_t inSize) : fData(inData), fSize(inSize) {}

VConstBlobWithPtr::VConstBlobWithPtr(const VConstBlobWithPtr& inOther)
    : VBlob(inOther), fData(inOther.fData), fSize(inOther.fSize)
{
    fFlags |= kDirty;
}

VError VConstBlobWithPtr::SetSize(size_t)
{
    return kReadOnlyBlob;
}

VError VConstBlobWithPtr::GetData(void* outBuffer, size_t inLength, size_t inOffset, size_t* outGot) const
{
    return CopyOut(fData, fSize, outBuffer, inLength, inOffset, outGot);
}

VError VConstBlobWithPtr::PutData(const void*, size_t, size_t)
{
    return kReadOnlyBlob;
}

VError VConstBlobWithPtr::FromData(const void*, size_t)
{
    return kReadOnlyBlob;
}

bool VConstBlobWithPtr::FromValueSameKind(const VValue* inValue)
{
    const VConstBlobWithPtr* other = dynamic_cast<const VConstBlobWithPtr*>(inValue);
    if (other == nullptr)
    {
        return false;
    }
    fData = other->fData;
    fSize = other->fSize;
    fFlags = static_cast<uint8_t>((fFlags & ~kNull) | (other->fFlags & kNull) | kDirty);
    return true;
}

void VConstBlobWithPtr::GetValue(VValueSingle& outValue) const
{
    if (outValue.GetValueKind() == VK_BLOB)
    {
        static_cast<VBlob&>(outValue).FromData(fData, fSize);
    }
}

void* VConstBlobWithPtr::WriteToPtr(void* ioData, bool, size_t) const
{
    return _WritePacked(ioData);
}

size_t VConstBlobWithPtr::GetSpace(size_t) const
{
    return size_t{GetPackedLength()} + sizeof(uint32_t);
}

VError VConstBlobWithPtr::ReadFromStream(VStream*, int32_t)
{
    return kReadOnlyBlob;
}

VError VConstBlobWithPtr::WriteToStream(VStream* ioStream, int32_t) const
{
    return _WriteStream(ioStream);
}

// VBlob_info

size_t VBlob_info::GetSizeOfValueDataPtr(const void* inPtr) const
{
    return size_t{LoadLength(inPtr)} + sizeof(uint32_t);
}

void* VBlob_info::ByteSwapPtr(void* inData, bool) const
{
    uint32_t length = ByteSwapped(LoadLength(inData));
    std::memcpy(inData, &length, sizeof(length));
    return static_cast<char*>(inData) + sizeof(length);
}

} // namespace zorn
