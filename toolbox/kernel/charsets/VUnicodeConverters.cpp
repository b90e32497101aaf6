#include "toolbox/kernel/charsets/VUnicodeConverters.h"

#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

namespace
{

void SetCounts(size_t* outConsumed, size_t inConsumed, int32_t* outProduced, int32_t inProduced)
{
    if (outConsumed != nullptr)
    {
        *outConsumed = inConsumed;
    }
    if (outProduced != nullptr)
    {
        *outProduced = inProduced;
    }
}

void SetCounts(int32_t* outConsumed, int32_t inConsumed, size_t* outProduced, size_t inProduced)
{
    if (outConsumed != nullptr)
    {
        *outConsumed = inConsumed;
    }
    if (outProduced != nullptr)
    {
        *outProduced = inProduced;
    }
}

uint32_t Load32(const uint8_t* inBytes, bool inSwap)
{
    uint32_t value;
    std::memcpy(&value, inBytes, 4);
    return inSwap ? __builtin_bswap32(value) : value;
}

void Store32(uint8_t* outBytes, uint32_t inValue, bool inSwap)
{
    uint32_t value = inSwap ? __builtin_bswap32(inValue) : inValue;
    std::memcpy(outBytes, &value, 4);
}

bool IsHighSurrogate(uint32_t inUnit)
{
    return inUnit >= 0xD800 && inUnit <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t inUnit)
{
    return inUnit >= 0xDC00 && inUnit <= 0xDFFF;
}

// Copies whole UTF-16 units between a byte block and a unit array, swapping them when asked.
size_t CopyUnits(void* outTarget, const void* inSource, size_t inUnits, bool inSwap)
{
    if (!inSwap)
    {
        std::memcpy(outTarget, inSource, inUnits * 2);
        return inUnits;
    }
    const uint8_t* source = static_cast<const uint8_t*>(inSource);
    uint8_t* target = static_cast<uint8_t*>(outTarget);
    for (size_t i = 0; i < inUnits; ++i)
    {
        target[2 * i] = source[2 * i + 1];
        target[2 * i + 1] = source[2 * i];
    }
    return inUnits;
}

bool UTF16ToUnicode(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                    int32_t inMaxUnits, int32_t* outProduced, bool inSwap)
{
    size_t units = std::min(inSourceBytes / 2, static_cast<size_t>(std::max(inMaxUnits, 0)));
    if (units > 0)
    {
        CopyUnits(outTarget, inSource, units, inSwap);
    }
    SetCounts(outConsumed, units * 2, outProduced, static_cast<int32_t>(units));
    return units * 2 == inSourceBytes;
}

bool UnicodeToUTF16(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                    size_t inMaxBytes, size_t* outProduced, bool inSwap)
{
    size_t units = std::min(static_cast<size_t>(std::max(inSourceUnits, 0)), inMaxBytes / 2);
    if (units > 0)
    {
        CopyUnits(outTarget, inSource, units, inSwap);
    }
    SetCounts(outConsumed, static_cast<int32_t>(units), outProduced, units * 2);
    return static_cast<int32_t>(units) == inSourceUnits;
}

} // namespace

// UTF-16

bool VToUnicodeConverter_Null::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                       UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    return UTF16ToUnicode(inSource, inSourceBytes, outConsumed, outTarget, inMaxUnits, outProduced, false);
}

bool VFromUnicodeConverter_Null::Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed,
                                         void* outTarget, size_t inMaxBytes, size_t* outProduced)
{
    return UnicodeToUTF16(inSource, inSourceUnits, outConsumed, outTarget, inMaxBytes, outProduced, false);
}

bool VToUnicodeConverter_Swap::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                       UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    return UTF16ToUnicode(inSource, inSourceBytes, outConsumed, outTarget, inMaxUnits, outProduced, true);
}

bool VFromUnicodeConverter_Swap::Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed,
                                         void* outTarget, size_t inMaxBytes, size_t* outProduced)
{
    return UnicodeToUTF16(inSource, inSourceUnits, outConsumed, outTarget, inMaxBytes, outProduced, true);
}

// UTF-32

bool VToUnicodeConverter_UTF32::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                        UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    const uint8_t* source = static_cast<const uint8_t*>(inSource);
    size_t read = 0;
    int32_t written = 0;
    bool clean = true;
    while (inSourceBytes - read >= 4)
    {
        uint32_t c = Load32(source + read, fSwap);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        {
            c = '?';
            clean = false;
        }
        int32_t need = c > 0xFFFF ? 2 : 1;
        if (inMaxUnits - written < need)
        {
            break;
        }
        if (need == 2)
        {
            c -= 0x10000;
            outTarget[written++] = static_cast<UniChar>(0xD800 + (c >> 10));
            outTarget[written++] = static_cast<UniChar>(0xDC00 + (c & 0x3FF));
        }
        else
        {
            outTarget[written++] = static_cast<UniChar>(c);
        }
        read += 4;
    }
    SetCounts(outConsumed, read, outProduced, written);
    return clean && read == inSourceBytes;
}

bool VFromUnicodeConverter_UTF32::Convert(const UniChar* inSource, int32_t inSourceUnits,
                                          int32_t* outConsumed, void* outTarget, size_t inMaxBytes,
                                          size_t* outProduced)
{
    uint8_t* target = static_cast<uint8_t*>(outTarget);
    int32_t read = 0;
    size_t written = 0;
    bool clean = true;
    while (read < inSourceUnits && inMaxBytes - written >= 4)
    {
        uint32_t c = inSource[read];
        int32_t take = 1;
        if (IsHighSurrogate(c) && read + 1 < inSourceUnits && IsLowSurrogate(inSource[read + 1]))
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (inSource[read + 1] - 0xDC00u);
            take = 2;
        }
        else if (IsHighSurrogate(c) || IsLowSurrogate(c))
        {
            c = 0xFFFD;
            clean = false;
        }
        Store32(target + written, c, fSwap);
        written += 4;
        read += take;
    }
    SetCounts(outConsumed, read, outProduced, written);
    return clean && read == inSourceUnits;
}

bool VToUnicodeConverter_UTF32_Raw::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                            UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    const uint8_t* source = static_cast<const uint8_t*>(inSource);
    size_t units = std::min(inSourceBytes / 4, static_cast<size_t>(std::max(inMaxUnits, 0)));
    bool clean = true;
    for (size_t i = 0; i < units; ++i)
    {
        uint32_t c = Load32(source + 4 * i, fSwap);
        if (c > 0xFFFF)
        {
            c = '?';
            clean = false;
        }
        outTarget[i] = static_cast<UniChar>(c);
    }
    SetCounts(outConsumed, units * 4, outProduced, static_cast<int32_t>(units));
    return clean && units * 4 == inSourceBytes;
}

bool VFromUnicodeConverter_UTF32_Raw::Convert(const UniChar* inSource, int32_t inSourceUnits,
                                              int32_t* outConsumed, void* outTarget, size_t inMaxBytes,
                                              size_t* outProduced)
{
    uint8_t* target = static_cast<uint8_t*>(outTarget);
    size_t units = std::min(static_cast<size_t>(std::max(inSourceUnits, 0)), inMaxBytes / 4);
    for (size_t i = 0; i < units; ++i)
    {
        Store32(target + 4 * i, inSource[i], fSwap);
    }
    SetCounts(outConsumed, static_cast<int32_t>(units), outProduced, units * 4);
    return static_cast<int32_t>(units) == inSourceUnits;
}

// Void

bool VToUnicodeConverter_Void::ConvertString(const void* /*inSource*/, size_t /*inSourceBytes*/,
                                             size_t* outConsumed, VString& ioString)
{
    if (outConsumed != nullptr)
    {
        *outConsumed = 0;
    }
    ioString.Clear();
    return false;
}

bool VToUnicodeConverter_Void::Convert(const void* /*inSource*/, size_t /*inSourceBytes*/,
                                       size_t* outConsumed, UniChar* /*outTarget*/, int32_t /*inMaxUnits*/,
                                       int32_t* outProduced)
{
    SetCounts(outConsumed, 0, outProduced, 0);
    return false;
}

bool VFromUnicodeConverter_Void::Convert(const UniChar* /*inSource*/, int32_t /*inSourceUnits*/,
                                         int32_t* outConsumed, void* /*outTarget*/, size_t /*inMaxBytes*/,
                                         size_t* outProduced)
{
    SetCounts(outConsumed, 0, outProduced, 0);
    return false;
}

} // namespace zorn
