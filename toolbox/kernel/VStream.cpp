#include "toolbox/kernel/VStream.h"

#include "toolbox/kernel/ByteSwap.h"
#include "toolbox/kernel/VCppMemMgr.h"
#include "toolbox/kernel/VMemoryBuffer.h"
#include "toolbox/kernel/VString.h"
#include "toolbox/kernel/VValue.h"

#include <bit>
#include <climits>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
#include <memory>

namespace zorn
{

namespace
{

constexpr OsType kTagStreamSwap = MakeOsType('s', 't', 'm', ' ');

// How text of a character set is encoded here.
enum class TextForm
{
    kNone,
    kUTF8,
    kUTF16LE,
    kUTF16BE,
    kUTF32LE,
    kUTF32BE,
    kASCII,
    kStdLibMultiByte // the C library's own conversion of the current locale (wcrtomb)
};

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

TextForm TextFormOf(CharSet inCharSet)
{
    switch (inCharSet)
    {
    case CharSet::VTC_UTF_16_BIGENDIAN:
        return TextForm::kUTF16BE;
    case CharSet::VTC_UTF_16:
        return kLittleEndianHost ? TextForm::kUTF16LE : TextForm::kUTF16BE;
    case CharSet::VTC_UTF_32_BIGENDIAN:
        return TextForm::kUTF32BE;
    case CharSet::VTC_UTF_32:
        return kLittleEndianHost ? TextForm::kUTF32LE : TextForm::kUTF32BE;
    case CharSet::VTC_UTF_8:
        return TextForm::kUTF8;
    case CharSet::VTC_US_ASCII:
        return TextForm::kASCII;
    case CharSet::VTC_StdLib_char:
    {
        // The locale's codeset; the C locale's plain ASCII is read as UTF-8.
        const char* codeset = nl_langinfo(CODESET);
        if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
            std::strcmp(codeset, "ANSI_X3.4-1968") == 0)
        {
            return TextForm::kUTF8;
        }
        return TextForm::kStdLibMultiByte;
    }
    default:
        return TextForm::kNone;
    }
}

// Appends one code point in the form; false when the buffer cannot grow.
bool AppendCodePoint(VMemoryBuffer<>& ioOut, TextForm inForm, char32_t inCodePoint, std::mbstate_t& ioState)
{
    unsigned char bytes[MB_LEN_MAX > 4 ? MB_LEN_MAX : 4];
    size_t count = 0;
    switch (inForm)
    {
    case TextForm::kUTF8:
        if (inCodePoint < 0x80)
        {
            bytes[count++] = static_cast<unsigned char>(inCodePoint);
        }
        else if (inCodePoint < 0x800)
        {
            bytes[count++] = static_cast<unsigned char>(0xC0 | (inCodePoint >> 6));
            bytes[count++] = static_cast<unsigned char>(0x80 | (inCodePoint & 0x3F));
        }
        else if (inCodePoint < 0x10000)
        {
            bytes[count++] = static_cast<unsigned char>(0xE0 | (inCodePoint >> 12));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((inCodePoint >> 6) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (inCodePoint & 0x3F));
        }
        else
        {
            bytes[count++] = static_cast<unsigned char>(0xF0 | (inCodePoint >> 18));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((inCodePoint >> 12) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((inCodePoint >> 6) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (inCodePoint & 0x3F));
        }
        break;
    case TextForm::kUTF16LE:
    case TextForm::kUTF16BE:
    {
        char16_t units[2];
        size_t unitCount = 1;
        if (inCodePoint >= 0x10000)
        {
            units[0] = static_cast<char16_t>(0xD800 + ((inCodePoint - 0x10000) >> 10));
            units[1] = static_cast<char16_t>(0xDC00 + ((inCodePoint - 0x10000) & 0x3FF));
            unitCount = 2;
        }
        else
        {
            units[0] = static_cast<char16_t>(inCodePoint);
        }
        for (size_t i = 0; i < unitCount; ++i)
        {
            unsigned char high = static_cast<unsigned char>(units[i] >> 8);
            unsigned char low = static_cast<unsigned char>(units[i] & 0xFF);
            bytes[count++] = inForm == TextForm::kUTF16BE ? high : low;
            bytes[count++] = inForm == TextForm::kUTF16BE ? low : high;
        }
        break;
    }
    case TextForm::kUTF32LE:
    case TextForm::kUTF32BE:
        for (int i = 0; i < 4; ++i)
        {
            int shift = inForm == TextForm::kUTF32BE ? 24 - 8 * i : 8 * i;
            bytes[count++] = static_cast<unsigned char>((inCodePoint >> shift) & 0xFF);
        }
        break;
    case TextForm::kASCII:
        bytes[count++] = inCodePoint < 0x80 ? static_cast<unsigned char>(inCodePoint) : '?';
        break;
    case TextForm::kStdLibMultiByte:
    {
        size_t written =
            std::wcrtomb(reinterpret_cast<char*>(bytes), static_cast<wchar_t>(inCodePoint), &ioState);
        if (written == static_cast<size_t>(-1))
        {
            ioState = std::mbstate_t{};
            bytes[0] = '?';
            written = 1;
        }
        count = written;
        break;
    }
    case TextForm::kNone:
        return false;
    }
    return ioOut.AddData(bytes, count);
}

// Encodes the text in the form with line endings converted to the mode. A lone surrogate is
// encoded as U+FFFD; a character the form cannot hold as '?'.
bool EncodeText(const VString& inText, TextForm inForm, ECarriageReturnMode inMode, VMemoryBuffer<>& ioOut)
{
    static_assert(sizeof(wchar_t) == 4, "the C library's wide characters are UTF-32 here");
    std::mbstate_t state{};
    const UniChar* units = inText.GetCPointer();
    int32_t length = inText.GetLength();
    for (int32_t i = 0; i < length; ++i)
    {
        UniChar unit = units[i];
        if (inMode != eCRM_NONE && (unit == '\r' || unit == '\n'))
        {
            if (unit == '\r' && i + 1 < length && units[i + 1] == '\n')
            {
                ++i;
            }
            bool ok = true;
            if (inMode == eCRM_CRLF || inMode == eCRM_CR)
            {
                ok = AppendCodePoint(ioOut, inForm, U'\r', state);
            }
            if (ok && (inMode == eCRM_CRLF || inMode == eCRM_LF))
            {
                ok = AppendCodePoint(ioOut, inForm, U'\n', state);
            }
            if (!ok)
            {
                return false;
            }
            continue;
        }
        char32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF)
        {
            codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        else if (unit >= 0xD800 && unit <= 0xDFFF)
        {
            codePoint = 0xFFFD;
        }
        if (!AppendCodePoint(ioOut, inForm, codePoint, state))
        {
            return false;
        }
    }
    return true;
}

struct FreeBlock
{
    void operator()(void* inBlock) const { VMemory::DisposePtr(inBlock); }
};

} // namespace

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
    return TextFormOf(inCharSet) != TextForm::kNone;
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
    if (!_AdvanceProgress(inCount))
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
    if (_KeepError(error) == VE_OK && !_AdvanceProgress(count))
    {
        return _ThrowStreamError(VE_STREAM_USER_ABORTED);
    }
    return fLastError;
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
    TextForm form = TextFormOf(fCharSet);
    if (form == TextForm::kNone)
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    VMemoryBuffer<> encoded;
    if (!EncodeText(inText, form, fCarriageReturnMode, encoded))
    {
        return _ThrowStreamError(VE_MEMORY_FULL);
    }
    return PutData(encoded.GetDataPtr(), encoded.GetDataSize());
}

} // namespace zorn
