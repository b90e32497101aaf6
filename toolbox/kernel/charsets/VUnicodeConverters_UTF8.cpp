// UTF-8 to and from UTF-16. Decoding is VUTF8Decoder's. In encoding, runs of ASCII are narrowed
// sixteen units at a time with SSE2 where the machine has it, and units below U+0800 go sixteen at
// a time without a branch on their length; everything else goes one character at a time.

#include "toolbox/kernel/charsets/VUnicodeConverters.h"

#include "toolbox/kernel/charsets/VUTF8Decoder.h"

#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorn
{

bool VToUnicodeConverter_UTF8::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                       UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    const auto* s = static_cast<const uint8_t*>(inSource);
    UniChar* d = outTarget;
    const bool clean =
        VUTF8Decoder::Decode(s, s + inSourceBytes, d, outTarget + (inMaxUnits > 0 ? inMaxUnits : 0));
    const auto consumed = static_cast<size_t>(s - static_cast<const uint8_t*>(inSource));
    if (outConsumed != nullptr)
    {
        *outConsumed = consumed;
    }
    if (outProduced != nullptr)
    {
        *outProduced = static_cast<int32_t>(d - outTarget);
    }
    return clean && consumed == inSourceBytes;
}

namespace
{

// The two UTF-8 bytes of a unit of U+0080..U+07FF, first byte lowest.
inline uint16_t TwoBytes(uint32_t inUnit)
{
    return static_cast<uint16_t>((0xC0 | (inUnit >> 6)) | ((0x80 | (inUnit & 0x3F)) << 8));
}

// A UTF-16 unit of U+0800..U+FFFF that is not a surrogate.
inline bool IsThreeByte(uint32_t inUnit)
{
    return inUnit >= 0x800 && (inUnit < 0xD800 || inUnit > 0xDFFF);
}

// Its three UTF-8 bytes in the low 24 bits, first byte lowest (for a little-endian store).
inline uint32_t ThreeBytes(uint32_t inUnit)
{
    return (0xE0 | (inUnit >> 12)) | ((0x80 | ((inUnit >> 6) & 0x3F)) << 8) |
           ((0x80 | (inUnit & 0x3F)) << 16);
}

// Writes one code point; false when its bytes do not fit.
bool PutUTF8(uint32_t inCode, uint8_t*& ioTarget, const uint8_t* inEnd)
{
    if (inCode < 0x80)
    {
        if (ioTarget == inEnd)
        {
            return false;
        }
        *ioTarget++ = static_cast<uint8_t>(inCode);
    }
    else if (inCode < 0x800)
    {
        if (inEnd - ioTarget < 2)
        {
            return false;
        }
        *ioTarget++ = static_cast<uint8_t>(0xC0 | (inCode >> 6));
        *ioTarget++ = static_cast<uint8_t>(0x80 | (inCode & 0x3F));
    }
    else if (inCode < 0x10000)
    {
        if (inEnd - ioTarget < 3)
        {
            return false;
        }
        *ioTarget++ = static_cast<uint8_t>(0xE0 | (inCode >> 12));
        *ioTarget++ = static_cast<uint8_t>(0x80 | ((inCode >> 6) & 0x3F));
        *ioTarget++ = static_cast<uint8_t>(0x80 | (inCode & 0x3F));
    }
    else
    {
        if (inEnd - ioTarget < 4)
        {
            return false;
        }
        *ioTarget++ = static_cast<uint8_t>(0xF0 | (inCode >> 18));
        *ioTarget++ = static_cast<uint8_t>(0x80 | ((inCode >> 12) & 0x3F));
        *ioTarget++ = static_cast<uint8_t>(0x80 | ((inCode >> 6) & 0x3F));
        *ioTarget++ = static_cast<uint8_t>(0x80 | (inCode & 0x3F));
    }
    return true;
}

} // namespace

bool VFromUnicodeConverter_UTF8::Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed,
                                         void* outTarget, size_t inMaxBytes, size_t* outProduced)
{
    const UniChar* s = inSource;
    const UniChar* const end = inSource + (inSourceUnits > 0 ? inSourceUnits : 0);
    uint8_t* d = static_cast<uint8_t*>(outTarget);
    uint8_t* const dBegin = d;
    const uint8_t* const dEnd = d + inMaxBytes;
    bool clean = true;

    while (s < end)
    {
        uint32_t c = *s;

        // Blocks of sixteen units below U+0800 with room for two bytes each: sixteen ASCII
        // units in one vector, else one or two bytes per unit without a branch on the length
        // (accented text changes length too often for a branch to guess it).
        if (c < 0x800 && end - s >= 16 && dEnd - d >= 32)
        {
#if defined(__SSE2__)
            __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
            __m128i high =
                _mm_and_si128(_mm_or_si128(first, second), _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF)
            {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(first, second));
                s += 16;
                d += 16;
                continue;
            }
#endif
            const UniChar* blockEnd = s + 16;
            do
            {
                c = *s;
                if (c >= 0x800)
                {
                    break;
                }
                uint16_t bytes = c < 0x80 ? static_cast<uint16_t>(c) : TwoBytes(c);
                std::memcpy(d, &bytes, 2);
                d += c < 0x80 ? 1 : 2;
                ++s;
            } while (s < blockEnd);
            continue;
        }

        // Room for any character: no check per byte, and the bytes go out in one little-endian
        // store (what is written past them is written over next or lies in the spare room).
        if (dEnd - d >= 4)
        {
            if (IsThreeByte(c))
            {
                // Runs of three-byte characters (CJK text) go two at a time.
                uint32_t bytes = ThreeBytes(c);
                while (end - s >= 2 && dEnd - d >= 8 && IsThreeByte(s[1]))
                {
                    uint64_t pair = bytes | (static_cast<uint64_t>(ThreeBytes(s[1])) << 24);
                    std::memcpy(d, &pair, 8);
                    d += 6;
                    s += 2;
                    if (s == end || !IsThreeByte(*s))
                    {
                        break;
                    }
                    bytes = ThreeBytes(*s);
                }
                if (s < end && IsThreeByte(*s) && dEnd - d >= 4)
                {
                    bytes = ThreeBytes(*s);
                    std::memcpy(d, &bytes, 4);
                    d += 3;
                    ++s;
                }
                continue;
            }
            if (c < 0x800)
            {
                uint16_t bytes = c < 0x80 ? static_cast<uint16_t>(c) : TwoBytes(c);
                std::memcpy(d, &bytes, 2);
                d += c < 0x80 ? 1 : 2;
                ++s;
                continue;
            }
            if (c <= 0xDBFF && end - s >= 2 && s[1] >= 0xDC00 && s[1] <= 0xDFFF)
            {
                uint32_t code = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00u);
                uint32_t bytes = (0xF0 | (code >> 18)) | ((0x80 | ((code >> 12) & 0x3F)) << 8) |
                                 ((0x80 | ((code >> 6) & 0x3F)) << 16) | ((0x80 | (code & 0x3F)) << 24);
                std::memcpy(d, &bytes, 4);
                d += 4;
                s += 2;
                continue;
            }
        }

        int take = 1;
        if (c >= 0xD800 && c <= 0xDFFF)
        {
            if (c <= 0xDBFF && end - s >= 2 && s[1] >= 0xDC00 && s[1] <= 0xDFFF)
            {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00u);
                take = 2;
            }
            else
            {
                c = 0xFFFD;
                clean = false;
            }
        }
        if (!PutUTF8(c, d, dEnd))
        {
            break;
        }
        s += take;
    }

    if (outConsumed != nullptr)
    {
        *outConsumed = static_cast<int32_t>(s - inSource);
    }
    if (outProduced != nullptr)
    {
        *outProduced = static_cast<size_t>(d - dBegin);
    }
    return clean && s == end;
}

bool VFromUnicodeConverter_UTF8::ConvertFrom_wchar(const wchar_t* inSource, int32_t inSourceChars,
                                                   int32_t* outConsumed, void* outTarget, size_t inMaxBytes,
                                                   size_t* outProduced)
{
    uint8_t* d = static_cast<uint8_t*>(outTarget);
    uint8_t* const dBegin = d;
    const uint8_t* const dEnd = d + inMaxBytes;
    bool clean = true;
    int32_t read = 0;
    for (; read < inSourceChars; ++read)
    {
        uint32_t c = static_cast<uint32_t>(inSource[read]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        {
            c = 0xFFFD;
            clean = false;
        }
        if (!PutUTF8(c, d, dEnd))
        {
            break;
        }
    }
    if (outConsumed != nullptr)
    {
        *outConsumed = read;
    }
    if (outProduced != nullptr)
    {
        *outProduced = static_cast<size_t>(d - dBegin);
    }
    return clean && read == inSourceChars;
}

} // namespace zorn
