#include "toolbox/kernel/streams/VStream.h"

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValue.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>

namespace zorn
{

namespace
{

constexpr OsType kTagStreamSwap = MakeOsType('s', 't', 'm', ' ');

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

struct FreeBlock
{
    void operator()(void* inBlock) const { VMemory::DisposePtr(inBlock); }
};

} // namespace

VStream::~VStream()
{
    SetProgressIndicator(nullptr);
}

// Progress

void VStream::SetProgressIndicator(VProgressIndicator* inIndicator)
{
    if (inIndicator == fProgress)
    {
        return;
    }
    // An indicator exists only once the process layer installed the table.
    const detail::VProgressAccess* access = detail::ProgressIndicators();
    if (access == nullptr)
    {
        return;
    }
    _EndProgress();
    if (inIndicator != nullptr)
    {
        access->fRetain(inIndicator);
    }
    if (fProgress != nullptr)
    {
        access->fRelease(fProgress);
    }
    fProgress = inIndicator;
}

void VStream::_BeginProgress(bool inReading)
{
    if (fProgress == nullptr)
    {
        return;
    }
    const detail::VProgressAccess* access = detail::ProgressIndicators();
    if (inReading)
    {
        access->fBeginSession(fProgress, DoGetSize(), VString("Reading From Stream"));
    }
    else
    {
        access->fBeginSession(fProgress, -1, VString("Writing to Stream"));
    }
    fProgressSessionOpen = true;
}

bool VStream::_AdvanceProgress()
{
    if (!fProgressSessionOpen)
    {
        return true;
    }
    return detail::ProgressIndicators()->fProgress(fProgress, fPosition);
}

void VStream::_EndProgress()
{
    if (fProgressSessionOpen)
    {
        fProgressSessionOpen = false;
        detail::ProgressIndicators()->fEndSession(fProgress);
    }
}

// Errors

VError VStream::_ThrowStreamError(VError inError)
{
    _ThrowError(inError);
    return _KeepError(inError);
}

VError VStream::_KeepError(VError inError)
{
    if (fLastError == VE_OK)
    {
        fLastError = inError;
    }
    return fLastError;
}

bool VStream::_HasTextConverter(CharSet inCharSet)
{
    VRefPtr<VFromUnicodeConverter> converter(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet),
                                             true);
    return converter->IsValid();
}

void VStream::SetBigEndian()
{
    fNeedSwap = kLittleEndianHost;
}

void VStream::SetLittleEndian()
{
    fNeedSwap = !kLittleEndianHost;
}

VError VStream::OpenReading()
{
    if (fIsReading || fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_ALREADY_OPENED);
    }
    fLastError = VE_OK;
    if (fIsWriteOnly)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    if (!_HasTextConverter(fCharSet))
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    fPosition = 0;
    if (_KeepError(DoOpenReading()) == VE_OK)
    {
        fIsReading = true;
        _BeginProgress(true);
    }
    return fLastError;
}

VError VStream::OpenReading(uint32_t inSignature)
{
    if (OpenReading() != VE_OK)
    {
        return fLastError;
    }
    uint32_t word = 0;
    size_t count = 0;
    if (GetData(&word, sizeof(word), &count) != VE_OK)
    {
        return fLastError;
    }
    if (word == inSignature)
    {
        fNeedSwap = false;
    }
    else if (word == ByteSwapped(inSignature))
    {
        fNeedSwap = true;
    }
    else
    {
        SetPos(0);
        return _ThrowStreamError(VE_STREAM_BAD_SIGNATURE);
    }
    return VE_OK;
}

VError VStream::OpenWriting()
{
    if (fIsReading || fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_ALREADY_OPENED);
    }
    fLastError = VE_OK;
    if (fIsReadOnly)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    if (!_HasTextConverter(fCharSet))
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    fPosition = 0;
    fWrittenToStorage = false;
    if (_KeepError(DoOpenWriting()) == VE_OK)
    {
        fIsWriting = true;
        _BeginProgress(false);
    }
    return fLastError;
}

VError VStream::CloseReading()
{
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    _KeepError(DoCloseReading());
    _EndProgress();
    fIsReading = false;
    return fLastError;
}

VError VStream::CloseWriting(bool inSetSize)
{
    if (!fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    if (fLastError == VE_OK)
    {
        _KeepError(DoFlush());
    }
    _KeepError(DoCloseWriting(inSetSize));
    _EndProgress();
    fIsWriting = false;
    return fLastError;
}

VError VStream::Flush()
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    return _KeepError(DoFlush());
}

VError VStream::SetCharSet(CharSet inCharSet)
{
    fCharSet = inCharSet;
    if ((fIsReading || fIsWriting) && !_HasTextConverter(inCharSet))
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    return fLastError;
}

VError VStream::SetPos(int64_t inPosition)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading && !fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED);
    }
    if (inPosition < 0)
    {
        return _ThrowStreamError(VE_INVALID_PARAMETER);
    }
    if (_KeepError(DoSetPos(inPosition)) == VE_OK)
    {
        fPosition = inPosition;
    }
    return fLastError;
}

VError VStream::SetPosByOffset(int64_t inOffset)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading && !fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED);
    }
    if (inOffset < -fPosition || (inOffset > 0 && inOffset > INT64_MAX - fPosition))
    {
        return _ThrowStreamError(VE_INVALID_PARAMETER);
    }
    return SetPos(fPosition + inOffset);
}

VError VStream::SetSize(int64_t inSize)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    if (inSize < 0)
    {
        return _ThrowStreamError(VE_INVALID_PARAMETER);
    }
    if (_KeepError(DoSetSize(inSize)) == VE_OK && fPosition > inSize)
    {
        fPosition = inSize;
    }
    return fLastError;
}

VError VStream::PutData(const void* inData, size_t inCount)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    if (inCount > static_cast<uint64_t>(INT64_MAX - fPosition))
    {
        return _ThrowStreamError(VE_INVALID_PARAMETER);
    }
    if (_KeepError(DoPutData(inData, inCount)) != VE_OK)
    {
        return fLastError;
    }
    fPosition += static_cast<int64_t>(inCount);
    if (!_AdvanceProgress())
    {
        return _ThrowStreamError(VE_STREAM_USER_ABORTED);
    }
    return VE_OK;
}

VError VStream::GetData(void* outData, size_t inCount, size_t* outCount)
{
    if (outCount != nullptr)
    {
        *outCount = 0;
    }
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    size_t count = inCount;
    VError error = DoGetData(outData, &count);
    if (count > inCount)
    {
        count = inCount; // a hook never delivers more than was asked
    }
    fPosition += static_cast<int64_t>(count);
    if (outCount != nullptr)
    {
        *outCount = count;
    }
    if (_KeepError(error) == VE_OK && !_AdvanceProgress())
    {
        return _ThrowStreamError(VE_STREAM_USER_ABORTED);
    }
    return fLastError;
}

VError VStream::UngetData(const void* inData, size_t inCount)
{
    if (fLastError != VE_OK && fLastError != VE_STREAM_EOF)
    {
        return fLastError;
    }
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    if (inCount == 0)
    {
        return fLastError;
    }
    if (static_cast<uint64_t>(fPosition) < inCount)
    {
        _ThrowError(VE_STREAM_CANNOT_UNGET);
        fLastError = VE_STREAM_CANNOT_UNGET;
        return fLastError;
    }
    VError error = DoUngetData(inData, inCount);
    if (error != VE_OK)
    {
        fLastError = error;
        return error;
    }
    fPosition -= static_cast<int64_t>(inCount);
    return fLastError;
}

size_t VStream::_RemainingBytes()
{
    int64_t size = DoGetSize();
    return size > fPosition ? static_cast<size_t>(size - fPosition) : 0;
}

VError VStream::PutContentInto(VStream* inDestination)
{
    if (inDestination == nullptr || !inDestination->IsWriting())
    {
        return _ThrowError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    if (OpenReading() != VE_OK)
    {
        return fLastError;
    }
    std::array<char, 4096> block{};
    VError error = fLastError;
    for (size_t left = _RemainingBytes(); error == VE_OK && left > 0;)
    {
        size_t count = std::min<size_t>(4096, left);
        error = GetData(block.data(), count);
        if (error == VE_OK)
        {
            error = inDestination->PutData(block.data(), count);
        }
        left -= count;
    }
    VError closeError = CloseReading();
    return error != VE_OK ? error : closeError;
}

VError VStream::Put(uint8_t inByte)
{
    return PutData(&inByte, 1);
}

VError VStream::PutWord(int16_t inWord)
{
    int16_t word = fNeedSwap ? ByteSwapped(inWord) : inWord;
    return PutData(&word, sizeof(word));
}

template <class T>
VError VStream::_GetNumber(T& outValue)
{
    T value;
    size_t count = 0;
    if (GetData(&value, sizeof(value), &count) == VE_OK && count == sizeof(value))
    {
        outValue = fNeedSwap ? ByteSwapped(value) : value;
    }
    return fLastError;
}

VError VStream::GetWord(uint16_t& outWord)
{
    return _GetNumber(outWord);
}

VError VStream::GetLong(int32_t& outLong)
{
    return _GetNumber(outLong);
}

template <class T>
VError VStream::_PutArray(const T* inValues, int32_t inCount)
{
    if (fLastError != VE_OK || inCount <= 0)
    {
        return fLastError;
    }
    size_t bytes = static_cast<size_t>(inCount) * sizeof(T);
    if (!fNeedSwap)
    {
        return PutData(inValues, bytes);
    }
    std::unique_ptr<T, FreeBlock> copy(static_cast<T*>(VMemory::NewPtr(bytes, kTagStreamSwap)));
    if (copy == nullptr)
    {
        return _ThrowStreamError(VE_MEMORY_FULL);
    }
    std::memcpy(copy.get(), inValues, bytes);
    ByteSwapArray(copy.get(), static_cast<size_t>(inCount));
    return PutData(copy.get(), bytes);
}

template <class T>
VError VStream::_GetArray(T* outValues, int32_t* ioCount)
{
    if (fLastError != VE_OK || *ioCount <= 0)
    {
        *ioCount = 0;
        return fLastError;
    }
    size_t delivered = 0;
    GetData(outValues, static_cast<size_t>(*ioCount) * sizeof(T), &delivered);
    size_t items = delivered / sizeof(T);
    if (fNeedSwap)
    {
        ByteSwapArray(outValues, items);
    }
    *ioCount = static_cast<int32_t>(items);
    return fLastError;
}

VError VStream::PutWords(const int16_t* inValues, int32_t inCount)
{
    return _PutArray(inValues, inCount);
}

VError VStream::PutLongs(const int32_t* inValues, int32_t inCount)
{
    return _PutArray(inValues, inCount);
}

VError VStream::PutLong8s(const int64_t* inValues, int32_t inCount)
{
    return _PutArray(inValues, inCount);
}

VError VStream::PutReals(const double* inValues, int32_t inCount)
{
    return _PutArray(inValues, inCount);
}

VError VStream::GetWords(int16_t* outValues, int32_t* ioCount)
{
    return _GetArray(outValues, ioCount);
}

VError VStream::GetLongs(int32_t* outValues, int32_t* ioCount)
{
    return _GetArray(outValues, ioCount);
}

VError VStream::GetLong8s(int64_t* outValues, int32_t* ioCount)
{
    return _GetArray(outValues, ioCount);
}

VError VStream::GetReals(double* outValues, int32_t* ioCount)
{
    return _GetArray(outValues, ioCount);
}

VError VStream::PutValue(const VValue& inValue, bool inWithKind)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    // A value without a stream form would write its kind alone and derail every later read.
    if (!inValue.CanBeStreamed())
    {
        return _ThrowStreamError(VE_UNIMPLEMENTED);
    }
    if (inWithKind && PutWord(static_cast<int16_t>(inValue.GetValueKind())) != VE_OK)
    {
        return fLastError;
    }
    return inValue.WriteToStream(this, 0);
}

VValue* VStream::GetValue()
{
    uint16_t kind = 0;
    size_t count = 0;
    uint16_t word = 0;
    if (GetData(&word, sizeof(word), &count) != VE_OK || count != sizeof(word))
    {
        return nullptr;
    }
    kind = fNeedSwap ? ByteSwapped(word) : word;
    std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
    if (value != nullptr && !value->CanBeStreamed())
    {
        _ThrowStreamError(VE_UNIMPLEMENTED);
        return nullptr;
    }
    if (value == nullptr || value->ReadFromStream(this, 0) != VE_OK)
    {
        return nullptr;
    }
    return value.release();
}

VError VStream::PutText(const VString& inText)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsWriting)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_WRITING);
    }
    // The line endings are converted first, then the text is encoded; a character that the set
    // cannot hold is written as the converter's substitute.
    VRefPtr<VFromUnicodeConverter> converter(VTextConverters::Get()->RetainFromUnicodeConverter(fCharSet),
                                             true);
    if (!converter->IsValid())
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    VString text(inText);
    VMemoryBuffer<> encoded;
    if (!text.ConvertCarriageReturns(fCarriageReturnMode) ||
        !converter->ConvertToBuffer(text.GetCPointer(), text.GetLength(), encoded))
    {
        return _ThrowStreamError(VE_MEMORY_FULL);
    }
    return PutData(encoded.GetDataPtr(), encoded.GetDataSize());
}

} // namespace zorn
