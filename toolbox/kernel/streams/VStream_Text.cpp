// VStream's text reading and writing beyond PutText: whole, counted and line reads, the guess of
// a text's character set, byte-order marks, hexadecimal bytes and printf output.
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/charsets/VUTF8Decoder.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <algorithm>
#include <array>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorn
{

namespace
{

constexpr size_t kWholeTextBlock = 4096;
constexpr size_t kLineBlock = 512;
constexpr size_t kCountedTextBlock = 32;
constexpr size_t kUTF8DetectionBytes = 2048;
constexpr UniChar kLF = 10;
constexpr UniChar kCR = 13;
constexpr UniChar kTab = 9;

// How a set's line ends are found in its bytes: units of one, two or four bytes.
struct UnitShape
{
    size_t fSize = 1;
    bool fBigEndian = false;
};

UnitShape ShapeOf(CharSet inCharSet)
{
    constexpr bool kLittleHost = std::endian::native == std::endian::little;
    switch (inCharSet)
    {
    case CharSet::VTC_UTF_16_BIGENDIAN:
        return {2, true};
    case CharSet::VTC_UTF_16:
        return {2, !kLittleHost};
    case CharSet::VTC_UTF_32_BIGENDIAN:
    case CharSet::VTC_UTF_32_RAW_BIGENDIAN:
        return {4, true};
    case CharSet::VTC_UTF_32:
    case CharSet::VTC_UTF_32_RAW:
        return {4, !kLittleHost};
    default:
        return {1, false};
    }
}

uint32_t UnitAt(const uint8_t* inBytes, UnitShape inShape)
{
    uint32_t value = 0;
    for (size_t i = 0; i < inShape.fSize; ++i)
    {
        size_t index = inShape.fBigEndian ? i : inShape.fSize - 1 - i;
        value = (value << 8) | inBytes[index];
    }
    return value;
}

// The length of well-formed-looking UTF-8 that does not end inside a sequence: a block cut from
// a longer text must not fail detection because its last character was cut.
size_t WithoutCutUTF8Tail(const uint8_t* inBytes, size_t inSize)
{
    for (size_t back = 1; back <= 4 && back <= inSize; ++back)
    {
        uint8_t byte = inBytes[inSize - back];
        if ((byte & 0xC0) == 0x80)
        {
            continue;
        }
        size_t needed = (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 1;
        return needed > back ? inSize - back : inSize;
    }
    return inSize;
}

// The first of inCount bytes that is inFirst or inSecond, or null: one pass, sixteen bytes at a
// time where the machine has SSE2.
const uint8_t* FindEither(const uint8_t* inBytes, size_t inCount, uint8_t inFirst, uint8_t inSecond)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(inFirst));
    const __m128i second = _mm_set1_epi8(static_cast<char>(inSecond));
    for (; inCount - i >= 16; i += 16)
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inBytes + i));
        const int found =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second)));
        if (found != 0)
        {
            return inBytes + i + __builtin_ctz(static_cast<unsigned>(found));
        }
    }
#endif
    for (; i < inCount; ++i)
    {
        if (inBytes[i] == inFirst || inBytes[i] == inSecond)
        {
            return inBytes + i;
        }
    }
    return nullptr;
}

// A line's bytes (its end excluded) decoded into ioLine, replacing what it held. In UTF-8 each
// malformed piece becomes '?', and so does a sequence cut by the line's end: a line of bad text
// is still a line. False only when memory runs out.
bool DecodeLineBytes(VString& ioLine, const void* inBytes, size_t inCount, CharSet inCharSet)
{
    if (inCharSet != CharSet::VTC_UTF_8)
    {
        return ioLine.FromBlock(inBytes, inCount, inCharSet);
    }
    // The decoder's vector stores may run 40 units past the text.
    if (inCount > static_cast<size_t>(INT32_MAX) - 41)
    {
        return false;
    }
    // Emptied without giving back its buffer (which Truncate does for a large one).
    ioLine.Validate(0);
    UniChar* const buffer = ioLine.GetCPointerForWrite(static_cast<int32_t>(inCount + 41));
    if (buffer == nullptr)
    {
        return false;
    }
    const auto* source = static_cast<const uint8_t*>(inBytes);
    const uint8_t* const sourceEnd = source + inCount;
    UniChar* target = buffer;
    VUTF8Decoder::Decode(source, sourceEnd, target, buffer + inCount + 41);
    if (source != sourceEnd)
    {
        *target++ = u'?';
    }
    return ioLine.Validate(static_cast<int32_t>(target - buffer));
}

} // namespace

VError VStream::PutVPrintf(const char* inFormat, va_list inArgs)
{
    VString text;
    text.VPrintf(inFormat, inArgs);
    return PutText(text);
}

VError VStream::PutPrintf(const char* inFormat, ...)
{
    va_list args;
    va_start(args, inFormat);
    VError error = PutVPrintf(inFormat, args);
    va_end(args);
    return error;
}

VError VStream::PutHexBytes(const char* inBytes, size_t inCount)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < inCount && fLastError == VE_OK; ++i)
    {
        auto byte = static_cast<uint8_t>(inBytes[i]);
        std::array<char, 2> digits{kDigits[byte >> 4], kDigits[byte & 0x0F]};
        PutData(digits.data(), digits.size());
    }
    return fLastError;
}

VError VStream::WriteBOM()
{
    size_t size = 0;
    const uint8_t* mark = VTextConverters::GetBOMForCharSet(fCharSet, size);
    switch (fCharSet)
    {
    case CharSet::VTC_UTF_16_BIGENDIAN:
    case CharSet::VTC_UTF_16:
    case CharSet::VTC_UTF_32_BIGENDIAN:
    case CharSet::VTC_UTF_32:
    case CharSet::VTC_UTF_8:
        break;
    default:
        size = 0;
    }
    return size == 0 || mark == nullptr ? fLastError : PutData(mark, size);
}

VError VStream::GetText(VString& ioText)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(fCharSet), true);
    if (!converter->IsValid())
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    std::array<uint8_t, kWholeTextBlock> buffer{};
    size_t kept = 0;
    for (;;)
    {
        size_t wanted = std::min(buffer.size() - kept, _RemainingBytes());
        size_t got = 0;
        if (wanted > 0 && GetData(buffer.data() + kept, wanted, &got) != VE_OK)
        {
            return fLastError;
        }
        size_t available = kept + got;
        if (available == 0)
        {
            break;
        }
        // The converter answers false too for bytes left unconverted; what counts is what it
        // consumed (a memory failure consumes nothing and is on the error stack).
        VString chunk;
        size_t consumed = 0;
        converter->ConvertString(buffer.data(), available, &consumed, chunk);
        if (!ioText.AppendString(chunk))
        {
            return _ThrowStreamError(VE_MEMORY_FULL);
        }
        std::copy(buffer.begin() + static_cast<ptrdiff_t>(consumed),
                  buffer.begin() + static_cast<ptrdiff_t>(available), buffer.begin());
        kept = available - consumed;
        if (got == 0 || (consumed == 0 && kept == buffer.size()))
        {
            break;
        }
    }
    if (kept > 0)
    {
        // The bytes stay in the stream: a caller may read them another way.
        UngetData(buffer.data(), kept);
        VString text("unterminated unicode conversion.");
        _ThrowError(VE_STREAM_TEXT_CONVERSION_FAILURE, &text);
        return _KeepError(VE_STREAM_TEXT_CONVERSION_FAILURE);
    }
    return fLastError;
}

VError VStream::GetText(VString& ioText, int32_t inCount, bool inGiveBackCutChar)
{
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(fCharSet), true);
    if (!converter->IsValid())
    {
        return _ThrowStreamError(VE_STREAM_NO_TEXT_CONVERTER);
    }
    const bool isUTF16 = ShapeOf(fCharSet).fSize == 2;
    std::string pending;
    int32_t delivered = 0;
    bool atEnd = false;
    while (delivered < inCount)
    {
        auto wantedUnits = static_cast<size_t>(inCount - delivered);
        size_t block = isUTF16 ? wantedUnits * 2 : std::min(kCountedTextBlock, wantedUnits * 2 + 10);
        block = std::min(block, _RemainingBytes());
        if (block == 0)
        {
            atEnd = true;
            break;
        }
        size_t oldSize = pending.size();
        pending.resize(oldSize + block);
        size_t got = 0;
        if (GetData(pending.data() + oldSize, block, &got) != VE_OK)
        {
            return fLastError;
        }
        pending.resize(oldSize + got);
        VString chunk;
        size_t consumed = 0;
        converter->ConvertString(pending.data(), pending.size(), &consumed, chunk);
        if (static_cast<size_t>(chunk.GetLength()) > wantedUnits)
        {
            // Too many: decode growing prefixes to learn the bytes the wanted units take.
            for (size_t bytes = 1; bytes <= consumed; ++bytes)
            {
                size_t prefixConsumed = 0;
                converter->ConvertString(pending.data(), bytes, &prefixConsumed, chunk);
                if (static_cast<size_t>(chunk.GetLength()) >= wantedUnits)
                {
                    consumed = prefixConsumed;
                    break;
                }
            }
            chunk.Truncate(static_cast<int32_t>(wantedUnits));
        }
        if (!ioText.AppendString(chunk))
        {
            return _ThrowStreamError(VE_MEMORY_FULL);
        }
        delivered += chunk.GetLength();
        pending.erase(0, consumed);
    }
    if (!pending.empty() && (!atEnd || inGiveBackCutChar))
    {
        UngetData(pending.data(), pending.size());
    }
    if (delivered == 0 && inCount > 0 && atEnd)
    {
        return _ThrowStreamError(VE_STREAM_EOF);
    }
    return fLastError;
}

VError VStream::DoPeekData(const void** outData, size_t* outCount)
{
    *outData = nullptr;
    *outCount = 0;
    const VStreamUnderlyingData data = GetUnderlyingData();
    if (data.fValid && data.fData != nullptr && static_cast<uint64_t>(fPosition) < data.fSize)
    {
        *outData = static_cast<const uint8_t*>(data.fData) + fPosition;
        *outCount = data.fSize - static_cast<size_t>(fPosition);
    }
    return VE_OK;
}

VError VStream::_SkipPeeked(size_t inCount)
{
    fPosition += static_cast<int64_t>(inCount);
    if (!_AdvanceProgress())
    {
        return _ThrowStreamError(VE_STREAM_USER_ABORTED);
    }
    return VE_OK;
}

VError VStream::_GetTextLineFromPeeks(VString& outLine, bool inKeepLineEnd, uint8_t inSecondEnd,
                                      bool inJoinCRLF, bool* outDone)
{
    *outDone = true;
    // Bytes of a line that runs over several peeks; a line inside one peek is decoded in place.
    std::string pieces;
    bool first = true;
    while (true)
    {
        const void* peeked = nullptr;
        size_t count = 0;
        if (_KeepError(DoPeekData(&peeked, &count)) != VE_OK)
        {
            return fLastError;
        }
        if (count == 0)
        {
            if (first && _RemainingBytes() > 0)
            {
                *outDone = false;
                return VE_OK;
            }
            // The end of data ends the last line.
            if (pieces.empty())
            {
                return _ThrowStreamError(VE_STREAM_EOF);
            }
            if (!DecodeLineBytes(outLine, pieces.data(), pieces.size(), fCharSet))
            {
                return _ThrowStreamError(VE_MEMORY_FULL);
            }
            return fLastError;
        }
        first = false;
        const auto* bytes = static_cast<const uint8_t*>(peeked);
        const uint8_t* end = FindEither(bytes, count, kLF, inSecondEnd);
        if (end == nullptr)
        {
            pieces.append(reinterpret_cast<const char*>(bytes), count);
            if (_SkipPeeked(count) != VE_OK)
            {
                return fLastError;
            }
            continue;
        }
        const auto length = static_cast<size_t>(end - bytes);
        const uint8_t* lineBytes = bytes;
        size_t lineCount = length;
        if (!pieces.empty())
        {
            pieces.append(reinterpret_cast<const char*>(bytes), length);
            lineBytes = reinterpret_cast<const uint8_t*>(pieces.data());
            lineCount = pieces.size();
        }
        // The fast conversion refuses malformed text; the line is then decoded with substitutes.
        if (lineCount == 0)
        {
            outLine.Truncate(0);
        }
        else if (!outLine.FromBlock(lineBytes, lineCount, fCharSet) &&
                 !DecodeLineBytes(outLine, lineBytes, lineCount, fCharSet))
        {
            return _ThrowStreamError(VE_MEMORY_FULL);
        }
        const bool joinLF = inJoinCRLF && *end == kCR;
        size_t consumed = length + 1;
        const bool lfInPeek = joinLF && consumed < count;
        if (lfInPeek && bytes[consumed] == kLF)
        {
            ++consumed;
        }
        if (_SkipPeeked(consumed) != VE_OK)
        {
            return fLastError;
        }
        if (joinLF && !lfInPeek)
        {
            // The CR ended the peeked bytes: an LF starting the next ones belongs to the same end.
            if (_KeepError(DoPeekData(&peeked, &count)) != VE_OK)
            {
                return fLastError;
            }
            if (count > 0 && *static_cast<const uint8_t*>(peeked) == kLF && _SkipPeeked(1) != VE_OK)
            {
                return fLastError;
            }
        }
        if (inKeepLineEnd)
        {
            outLine.AppendUniChar(kCR);
        }
        return fLastError;
    }
}

VError VStream::GetTextLine(VString& outLine, bool inKeepLineEnd, UniChar* ioLineEnd)
{
    const UnitShape shape = ShapeOf(fCharSet);
    const bool customEnd = ioLineEnd != nullptr && *ioLineEnd != 0;
    const uint32_t secondEnd = customEnd ? *ioLineEnd : kCR;
    // Lines read from peeked bytes are decoded over outLine's units, so that a string reused for
    // every line keeps its buffer.
    const bool byPeeks = fLastError == VE_OK && fIsReading && shape.fSize == 1 && secondEnd <= 0xFF;
    if (!byPeeks)
    {
        outLine.Clear();
    }
    if (fLastError != VE_OK)
    {
        return fLastError;
    }
    if (!fIsReading)
    {
        return _ThrowStreamError(VE_STREAM_NOT_OPENED_FOR_READING);
    }
    if (byPeeks)
    {
        bool done = false;
        VError error =
            _GetTextLineFromPeeks(outLine, inKeepLineEnd, static_cast<uint8_t>(secondEnd), !customEnd, &done);
        if (done)
        {
            if (error != VE_OK)
            {
                outLine.Clear();
            }
            return error;
        }
        outLine.Clear();
    }
    std::string lineBytes;
    std::array<uint8_t, kLineBlock> block{};
    bool ended = false;
    bool checkLFAfterCR = false;
    while (!ended)
    {
        size_t wanted = std::min(block.size(), _RemainingBytes());
        if (wanted == 0)
        {
            break;
        }
        size_t got = 0;
        if (GetData(block.data(), wanted, &got) != VE_OK)
        {
            return fLastError;
        }
        size_t scanned = 0;
        size_t consumed = got;
        for (; scanned + shape.fSize <= got; scanned += shape.fSize)
        {
            uint32_t unit = UnitAt(block.data() + scanned, shape);
            if (unit != kLF && unit != secondEnd)
            {
                continue;
            }
            ended = true;
            consumed = scanned + shape.fSize;
            if (!customEnd && unit == kCR)
            {
                if (consumed + shape.fSize <= got)
                {
                    if (UnitAt(block.data() + consumed, shape) == kLF)
                    {
                        consumed += shape.fSize;
                    }
                }
                else
                {
                    checkLFAfterCR = true;
                }
            }
            break;
        }
        lineBytes.append(reinterpret_cast<const char*>(block.data()), ended ? scanned : got);
        if (consumed < got && UngetData(block.data() + consumed, got - consumed) != VE_OK)
        {
            return fLastError;
        }
        if (got == 0)
        {
            break;
        }
    }
    if (checkLFAfterCR && _RemainingBytes() >= shape.fSize)
    {
        // The CR ended a block: an LF starting the next one belongs to the same line end.
        std::array<uint8_t, 4> next{};
        if (GetData(next.data(), shape.fSize) != VE_OK)
        {
            return fLastError;
        }
        if (UnitAt(next.data(), shape) != kLF)
        {
            UngetData(next.data(), shape.fSize);
        }
    }
    if (!ended && lineBytes.empty())
    {
        return _ThrowStreamError(VE_STREAM_EOF);
    }
    if (!lineBytes.empty() && !DecodeLineBytes(outLine, lineBytes.data(), lineBytes.size(), fCharSet))
    {
        return _ThrowStreamError(VE_MEMORY_FULL);
    }
    if (ended && inKeepLineEnd)
    {
        outLine.AppendUniChar(kCR);
    }
    return fLastError;
}

VError VStream::GetTTRLine(VArrayString& outFields)
{
    outFields.Destroy();
    VString line;
    if (GetTextLine(line) != VE_OK)
    {
        return fLastError;
    }
    const UniChar* units = line.GetCPointer();
    int32_t start = 0;
    for (int32_t i = 0; i <= line.GetLength(); ++i)
    {
        if (line.GetLength() > 0 && (i == line.GetLength() || units[i] == kTab))
        {
            VString field;
            field.AppendUniChars(units + start, i - start);
            outFields.AppendString(field);
            start = i + 1;
        }
    }
    return fLastError;
}

CharSet VStream::GuessCharSetFromLeadingBytes(CharSet inDefault, bool inDetectUTF8, bool* outFoundBOM)
{
    CharSet result = inDefault;
    bool foundMark = false;
    if (fIsReading && fLastError == VE_OK)
    {
        StErrorContextInstaller silent(false, true);
        std::array<uint8_t, 4> lead{};
        size_t count = 0;
        GetData(lead.data(), std::min(lead.size(), _RemainingBytes()), &count);
        auto starts = [&](std::initializer_list<uint8_t> inMark)
        { return count >= inMark.size() && std::equal(inMark.begin(), inMark.end(), lead.begin()); };
        size_t markSize = 0;
        if (starts({0xEF, 0xBB, 0xBF}))
        {
            result = CharSet::VTC_UTF_8;
            markSize = 3;
        }
        else if (starts({0x00, 0x00, 0xFE, 0xFF}))
        {
            result = CharSet::VTC_UTF_32_BIGENDIAN;
            markSize = 4;
        }
        else if (starts({0xFF, 0xFE, 0x00, 0x00}))
        {
            result = CharSet::VTC_UTF_32;
            markSize = 4;
        }
        else if (starts({0xFE, 0xFF}))
        {
            result = CharSet::VTC_UTF_16_BIGENDIAN;
            markSize = 2;
        }
        else if (starts({0xFF, 0xFE}))
        {
            result = CharSet::VTC_UTF_16;
            markSize = 2;
        }
        foundMark = markSize > 0;
        UngetData(lead.data() + markSize, count - markSize);
        if (!foundMark)
        {
            bool ascii = count == 4 &&
                         std::all_of(lead.begin(), lead.end(), [](uint8_t b) { return b >= 1 && b <= 127; });
            if (count == 4 && lead[0] == 0 && lead[1] != 0 && lead[2] == 0 && lead[3] != 0)
            {
                result = CharSet::VTC_UTF_16_BIGENDIAN;
            }
            else if (count == 4 && lead[0] != 0 && lead[1] == 0 && lead[2] != 0 && lead[3] == 0)
            {
                result = CharSet::VTC_UTF_16;
            }
            else if (inDetectUTF8 && _LeadingBytesAreUTF8())
            {
                result = CharSet::VTC_UTF_8;
            }
            else if ((inDefault == CharSet::VTC_UTF_16_BIGENDIAN || inDefault == CharSet::VTC_UTF_16) &&
                     ascii)
            {
                result = CharSet::VTC_UTF_8;
            }
        }
        if (fLastError == VE_STREAM_EOF)
        {
            fLastError = VE_OK;
        }
    }
    if (outFoundBOM != nullptr)
    {
        *outFoundBOM = foundMark;
    }
    SetCharSet(result);
    return result;
}

bool VStream::_LeadingBytesAreUTF8()
{
    std::string bytes(std::min(kUTF8DetectionBytes, _RemainingBytes()), '\0');
    size_t count = 0;
    GetData(bytes.data(), bytes.size(), &count);
    UngetData(bytes.data(), count);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t checked = _RemainingBytes() > 0 ? WithoutCutUTF8Tail(data, count) : count;
    return VTextConverters::DetectUTF8(data, checked);
}

} // namespace zorn
