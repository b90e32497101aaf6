// VString to and from byte blocks in a character set, and line-ending conversion.

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/charsets/VUTF8Decoder.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

namespace
{

constexpr uint32_t kCR = 0x0D;
constexpr uint32_t kLF = 0x0A;

bool IsASCII(const char* inText, size_t inLength)
{
    // No early exit: the whole text is or-ed together, a loop the compiler vectorises (texts are
    // mostly ASCII, so an exit would rarely be taken anyway).
    unsigned char seen = 0;
    for (size_t i = 0; i < inLength; ++i)
    {
        seen |= static_cast<unsigned char>(inText[i]);
    }
    return (seen & 0x80) == 0;
}

// An array of 1-, 2- or 4-byte units in a byte block, in either byte order.
class UnitArray
{
public:
    UnitArray(uint8_t* inBytes, size_t inWidth, bool inSwap) : fBytes(inBytes), fWidth(inWidth), fSwap(inSwap)
    {
    }

    uint32_t Get(size_t inIndex) const
    {
        const uint8_t* unit = fBytes + inIndex * fWidth;
        if (fWidth == 1)
        {
            return *unit;
        }
        if (fWidth == 2)
        {
            uint16_t value;
            std::memcpy(&value, unit, 2);
            return fSwap ? __builtin_bswap16(value) : value;
        }
        uint32_t value;
        std::memcpy(&value, unit, 4);
        return fSwap ? __builtin_bswap32(value) : value;
    }

    void Set(size_t inIndex, uint32_t inValue)
    {
        uint8_t* unit = fBytes + inIndex * fWidth;
        if (fWidth == 1)
        {
            *unit = static_cast<uint8_t>(inValue);
        }
        else if (fWidth == 2)
        {
            uint16_t value = static_cast<uint16_t>(inValue);
            value = fSwap ? __builtin_bswap16(value) : value;
            std::memcpy(unit, &value, 2);
        }
        else
        {
            uint32_t value = fSwap ? __builtin_bswap32(inValue) : inValue;
            std::memcpy(unit, &value, 4);
        }
    }

private:
    uint8_t* fBytes;
    size_t fWidth;
    bool fSwap;
};

// The length of the text once its line endings follow the mode, and whether any unit changes.
size_t CountConverted(const UnitArray& inUnits, size_t inLength, ECarriageReturnMode inMode, bool& outChanges)
{
    size_t length = inLength;
    outChanges = false;
    for (size_t i = 0; i < inLength; ++i)
    {
        uint32_t c = inUnits.Get(i);
        if (c != kCR && c != kLF)
        {
            continue;
        }
        bool pair = c == kCR && i + 1 < inLength && inUnits.Get(i + 1) == kLF;
        switch (inMode)
        {
        case eCRM_CRLF:
            if (pair)
            {
                ++i;
            }
            else
            {
                ++length;
                outChanges = true;
            }
            break;
        case eCRM_CR:
        case eCRM_LF:
            if (pair)
            {
                --length;
                ++i;
                outChanges = true;
            }
            else if (c != (inMode == eCRM_CR ? kCR : kLF))
            {
                outChanges = true;
            }
            break;
        default:
            break;
        }
    }
    return length;
}

// Rewrites the line endings in place; the array has room for inNewLength units, the length that
// CountConverted gave. CR LF mode works from the end so that every unit moves once; the other
// modes only shrink and work from the start.
void ConvertInPlace(UnitArray& ioUnits, size_t inLength, size_t inNewLength, ECarriageReturnMode inMode)
{
    if (inMode == eCRM_CRLF)
    {
        // A unit is read before any write reaches its position: the writes for unit i land at
        // i or after it, and the unit after i was read (into next) before its own writes.
        size_t out = inNewLength;
        bool hasNext = false;
        uint32_t next = 0;
        for (size_t i = inLength; i-- > 0;)
        {
            uint32_t c = ioUnits.Get(i);
            bool lone = (c == kLF && (i == 0 || ioUnits.Get(i - 1) != kCR)) ||
                        (c == kCR && (!hasNext || next != kLF));
            if (lone)
            {
                ioUnits.Set(--out, kLF);
                ioUnits.Set(--out, kCR);
            }
            else
            {
                ioUnits.Set(--out, c);
            }
            next = c;
            hasNext = true;
        }
        return;
    }
    uint32_t ending = inMode == eCRM_CR ? kCR : kLF;
    size_t out = 0;
    for (size_t i = 0; i < inLength; ++i)
    {
        uint32_t c = ioUnits.Get(i);
        if (c == kCR && i + 1 < inLength && ioUnits.Get(i + 1) == kLF)
        {
            ++i;
            c = ending;
        }
        else if (c == kCR || c == kLF)
        {
            c = ending;
        }
        ioUnits.Set(out++, c);
    }
}

bool IsKnownMode(ECarriageReturnMode inMode)
{
    return inMode == eCRM_CRLF || inMode == eCRM_CR || inMode == eCRM_LF;
}

} // namespace

// From bytes

void VString::FromCString(const char* inCString)
{
    if (inCString == nullptr)
    {
        Clear();
        return;
    }
    size_t length = std::strlen(inCString);
    if (!IsASCII(inCString, length))
    {
        FromBlock(inCString, length, CharSet::VTC_StdLib_char);
        return;
    }
    if (length > INT32_MAX || !_EnsureWritable(static_cast<int32_t>(length), false))
    {
        return;
    }
    // Through a local pointer: a store through fString could change fString itself as far as the
    // compiler knows (the source is char), which keeps the loop from being vectorised.
    UniChar* units = fString;
    for (size_t i = 0; i < length; ++i)
    {
        units[i] = static_cast<UniChar>(static_cast<unsigned char>(inCString[i]));
    }
    fLength = static_cast<int32_t>(length);
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::AppendCString(const char* inCString)
{
    if (inCString == nullptr)
    {
        return;
    }
    size_t length = std::strlen(inCString);
    if (!IsASCII(inCString, length))
    {
        AppendBlock(inCString, length, CharSet::VTC_StdLib_char);
        return;
    }
    int64_t newLength = static_cast<int64_t>(fLength) + static_cast<int64_t>(length);
    if (newLength > INT32_MAX || !_EnsureWritable(static_cast<int32_t>(newLength), true))
    {
        return;
    }
    for (size_t i = 0; i < length; ++i)
    {
        fString[fLength + static_cast<int32_t>(i)] =
            static_cast<UniChar>(static_cast<unsigned char>(inCString[i]));
    }
    fLength = static_cast<int32_t>(newLength);
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

bool VString::FromBlock(const void* inBuffer, size_t inNbBytes, CharSet inCharSet)
{
    if (inBuffer == nullptr)
    {
        inNbBytes = 0;
    }
    if (inCharSet == CharSet::VTC_UTF_16)
    {
        size_t units = inNbBytes / 2;
        if (units > INT32_MAX || !_EnsureWritable(static_cast<int32_t>(units), false))
        {
            return false;
        }
        if (units > 0)
        {
            std::memcpy(fString, inBuffer, units * 2);
        }
        fLength = static_cast<int32_t>(units);
        fString[fLength] = 0;
        fFlags &= static_cast<uint8_t>(~kNull);
        SetDirty(true);
        // An odd last byte is half a unit: not text, and reported as such.
        return units * 2 == inNbBytes;
    }
    if (inCharSet == CharSet::VTC_UTF_8 && inNbBytes <= static_cast<size_t>(INT32_MAX) - 16 &&
        _EnsureWritable(static_cast<int32_t>(inNbBytes), false))
    {
        // UTF-8 is most of the text that comes in, often in short pieces: decoded here without
        // the registry's retain and release or a virtual call, into the whole capacity of the
        // buffer, so that the decoder's vector stores may run past the text. A byte never gives
        // more than one unit, so the text always fits.
        const auto* source = static_cast<const uint8_t*>(inBuffer);
        UniChar* target = fString;
        bool ok = inNbBytes == 0 ||
                  (VUTF8Decoder::Decode(source, source + inNbBytes, target, fString + fMaxLength) &&
                   source == static_cast<const uint8_t*>(inBuffer) + inNbBytes);
        fLength = static_cast<int32_t>(target - fString);
        fString[fLength] = 0;
        fFlags &= static_cast<uint8_t>(~kNull);
        SetDirty(true);
        return ok;
    }
    VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(inCharSet), true);
    bool ok = converter->ConvertString(inBuffer, inNbBytes, nullptr, *this);
    SetDirty(true);
    return ok;
}

bool VString::AppendBlock(const void* inBuffer, size_t inNbBytes, CharSet inCharSet)
{
    if (IsEmpty())
    {
        return FromBlock(inBuffer, inNbBytes, inCharSet);
    }
    VString tail;
    bool ok = tail.FromBlock(inBuffer, inNbBytes, inCharSet);
    int64_t newLength = static_cast<int64_t>(fLength) + tail.fLength;
    if (newLength > INT32_MAX || !_EnsureWritable(static_cast<int32_t>(newLength), true))
    {
        return false;
    }
    std::memcpy(fString + fLength, tail.fString, static_cast<size_t>(tail.fLength) * sizeof(UniChar));
    fLength = static_cast<int32_t>(newLength);
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
    return ok;
}

CharSet VString::FromBlockWithOptionalBOM(const void* inBuffer, size_t inNbBytes, CharSet inCharSet)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(inBuffer);
    size_t markSize = 0;
    CharSet charSet = CharSet::VTC_UNKNOWN;
    if (!VTextConverters::ParseBOM(bytes, inNbBytes, markSize, charSet))
    {
        charSet = inCharSet;
        VTextConverters::GuessCharsetWithNoBom(bytes, inNbBytes, charSet, true);
    }
    FromBlock(bytes == nullptr ? nullptr : bytes + markSize, inNbBytes - markSize, charSet);
    return charSet;
}

// To bytes

size_t VString::ToBlock(void* outBuffer, size_t inBufferSize, CharSet inCharSet, bool inWithTrailingZero,
                        bool inWithLengthPrefix) const
{
    uint8_t* buffer = static_cast<uint8_t*>(outBuffer);
    // Set 2 counts its prefix and terminator in units, the other sets in bytes.
    size_t fieldSize = inCharSet == CharSet::VTC_UTF_16 ? 2 : 1;
    size_t reserved = (inWithLengthPrefix ? fieldSize : 0) + (inWithTrailingZero ? fieldSize : 0);
    if (buffer == nullptr || inBufferSize < reserved)
    {
        return 0;
    }
    uint8_t* text = buffer + (inWithLengthPrefix ? fieldSize : 0);
    size_t room = inBufferSize - reserved;
    size_t produced = 0;
    if (inCharSet == CharSet::VTC_UTF_16)
    {
        size_t units = std::min(static_cast<size_t>(fLength), room / 2);
        std::memcpy(text, fString, units * 2);
        produced = units * 2;
    }
    else
    {
        VTextConverters::Get()->ConvertFromVString(*this, nullptr, text, room, &produced, inCharSet);
    }
    if (inWithTrailingZero)
    {
        std::memset(text + produced, 0, fieldSize);
    }
    if (inWithLengthPrefix)
    {
        if (inCharSet == CharSet::VTC_UTF_16)
        {
            UniChar count = produced < 131072 ? static_cast<UniChar>(produced / 2) : 0;
            std::memcpy(buffer, &count, 2);
            return count == 0 ? 0 : produced;
        }
        buffer[0] = produced < 256 ? static_cast<uint8_t>(produced) : 0;
        return buffer[0] == 0 ? 0 : produced;
    }
    return produced;
}

bool VString::ToBuffer(VMemoryBuffer<>& ioBuffer, CharSet inCharSet) const
{
    VRefPtr<VFromUnicodeConverter> converter(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet),
                                             true);
    return converter->IsValid() && converter->ConvertToBuffer(fString, fLength, ioBuffer);
}

// Line endings

ECarriageReturnMode VString::GetCarriageReturnMode(ECarriageReturnMode inDefault) const
{
    for (int32_t i = 0; i < fLength; ++i)
    {
        if (fString[i] == kLF)
        {
            return eCRM_LF;
        }
        if (fString[i] == kCR)
        {
            return i + 1 < fLength && fString[i + 1] == kLF ? eCRM_CRLF : eCRM_CR;
        }
    }
    return inDefault;
}

bool VString::ConvertCarriageReturns(ECarriageReturnMode inMode)
{
    if (!IsKnownMode(inMode) || fLength == 0)
    {
        return true;
    }
    // Counted first on the present units: a shared or borrowed buffer is copied only when a
    // line ending really changes, and CR LF mode knows its final length before it writes.
    bool changes = false;
    UnitArray current(reinterpret_cast<uint8_t*>(fString), 2, false);
    size_t newLength = CountConverted(current, static_cast<size_t>(fLength), inMode, changes);
    if (!changes)
    {
        return true;
    }
    int32_t oldLength = fLength;
    if (newLength > INT32_MAX ||
        !_EnsureWritable(static_cast<int32_t>(std::max<size_t>(newLength, oldLength)), true))
    {
        return false;
    }
    UnitArray units(reinterpret_cast<uint8_t*>(fString), 2, false);
    ConvertInPlace(units, static_cast<size_t>(oldLength), newLength, inMode);
    fLength = static_cast<int32_t>(newLength);
    fString[fLength] = 0;
    SetDirty(true);
    return true;
}

bool VString::ConvertCarriageReturns(VMemoryBuffer<>& ioBuffer, CharSet inCharSet, ECarriageReturnMode inMode)
{
    size_t width = 1;
    bool bigEndian = false;
    switch (inCharSet)
    {
    case CharSet::VTC_UNKNOWN:
        return true;
    case CharSet::VTC_UTF_16_BIGENDIAN:
    case CharSet::VTC_UTF_16:
        width = 2;
        bigEndian = inCharSet == CharSet::VTC_UTF_16_BIGENDIAN;
        break;
    case CharSet::VTC_UTF_32_BIGENDIAN:
    case CharSet::VTC_UTF_32:
    case CharSet::VTC_UTF_32_RAW_BIGENDIAN:
    case CharSet::VTC_UTF_32_RAW:
        width = 4;
        bigEndian =
            inCharSet == CharSet::VTC_UTF_32_BIGENDIAN || inCharSet == CharSet::VTC_UTF_32_RAW_BIGENDIAN;
        break;
    default:
        break;
    }
    if (!IsKnownMode(inMode) || ioBuffer.GetDataPtr() == nullptr)
    {
        return true;
    }
    // The machine is little-endian (see VTextConverters.cpp): big-endian units are swapped.
    size_t dataSize = ioBuffer.GetDataSize();
    size_t length = dataSize / width;
    size_t tail = dataSize % width; // bytes short of a whole unit, kept after the text
    bool changes = false;
    size_t newLength = CountConverted(
        UnitArray(static_cast<uint8_t*>(ioBuffer.GetDataPtr()), width, bigEndian), length, inMode, changes);
    if (!changes)
    {
        return true;
    }
    size_t needed = std::max(newLength, length) * width + tail;
    if (!ioBuffer._EnlargeAmortized(needed))
    {
        return false;
    }
    uint8_t* bytes = static_cast<uint8_t*>(ioBuffer.GetDataPtr());
    UnitArray units(bytes, width, bigEndian);
    // The tail moves out of the way before the text grows, and after it shrank.
    if (newLength > length && tail > 0)
    {
        std::memmove(bytes + newLength * width, bytes + length * width, tail);
    }
    ConvertInPlace(units, length, newLength, inMode);
    if (newLength < length && tail > 0)
    {
        std::memmove(bytes + newLength * width, bytes + length * width, tail);
    }
    ioBuffer.SetDataSize(newLength * width + tail);
    return true;
}

} // namespace zorn
