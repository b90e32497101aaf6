// UTF-8 to and from UTF-16. Runs of ASCII are widened and narrowed sixteen (or eight) units at a
// time with SSE2 where the machine has it; everything else goes one character at a time.

#include "toolbox/kernel/VUnicodeConverters.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorn
{

namespace
{

// The range that the byte after a lead byte must fall in; the bytes after that are always
// 80..BF. These bounds are what rejects overlong forms (E0, F0), encoded surrogates (ED) and
// code points above U+10FFFF (F4).
struct LeadInfo
{
    uint8_t fTrailing; // 0: not a lead byte
    uint8_t fLow;
    uint8_t fHigh;
};

LeadInfo InfoForLead(uint8_t inLead)
{
    if (inLead >= 0xC2 && inLead <= 0xDF)
    {
        return {1, 0x80, 0xBF};
    }
    if (inLead >= 0xE0 && inLead <= 0xEF)
    {
        return {2, static_cast<uint8_t>(inLead == 0xE0 ? 0xA0 : 0x80),
                static_cast<uint8_t>(inLead == 0xED ? 0x9F : 0xBF)};
    }
    if (inLead >= 0xF0 && inLead <= 0xF4)
    {
        return {3, static_cast<uint8_t>(inLead == 0xF0 ? 0x90 : 0x80),
                static_cast<uint8_t>(inLead == 0xF4 ? 0x8F : 0xBF)};
    }
    return {0, 0, 0};
}

} // namespace

bool VToUnicodeConverter_UTF8::Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                                       UniChar* outTarget, int32_t inMaxUnits, int32_t* outProduced)
{
    const uint8_t* s = static_cast<const uint8_t*>(inSource);
    const uint8_t* const begin = s;
    const uint8_t* const end = s + inSourceBytes;
    UniChar* d = outTarget;
    UniChar* const dEnd = outTarget + (inMaxUnits > 0 ? inMaxUnits : 0);
    bool clean = true;

    while (s < end)
    {
        uint8_t c = *s;
        if (c < 0x80)
        {
#if defined(__SSE2__)
            const __m128i zero = _mm_setzero_si128();
            while (end - s >= 16 && dEnd - d >= 16)
            {
                __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                // Widening all sixteen is harmless when fewer are ASCII: the room is there and
                // only the ASCII prefix is counted.
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 8), _mm_unpackhi_epi8(bytes, zero));
                int high = _mm_movemask_epi8(bytes);
                if (high != 0)
                {
                    int ascii = __builtin_ctz(static_cast<unsigned>(high));
                    s += ascii;
                    d += ascii;
                    break;
                }
                s += 16;
                d += 16;
            }
            if (s == end || *s >= 0x80)
            {
                continue;
            }
            c = *s;
#endif
            if (d == dEnd)
            {
                break;
            }
            *d++ = c;
            ++s;
            continue;
        }

        // Well-formed two- and three-byte characters with room to spare: the common non-ASCII
        // text, decoded without the checks for the end of either buffer.
        if (end - s >= 3 && dEnd - d >= 1)
        {
            if (c >= 0xC2 && c <= 0xDF && (s[1] & 0xC0) == 0x80)
            {
                *d++ = static_cast<UniChar>(((c & 0x1F) << 6) | (s[1] & 0x3F));
                s += 2;
                continue;
            }
            if ((c & 0xF0) == 0xE0 && (s[2] & 0xC0) == 0x80)
            {
                uint8_t low = c == 0xE0 ? 0xA0 : 0x80;
                uint8_t high = c == 0xED ? 0x9F : 0xBF;
                if (s[1] >= low && s[1] <= high)
                {
                    *d++ = static_cast<UniChar>(((c & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F));
                    s += 3;
                    continue;
                }
            }
        }

        // General case: any length, malformed input, the end of either buffer.
        LeadInfo info = InfoForLead(c);
        if (info.fTrailing == 0)
        {
            if (d == dEnd)
            {
                break;
            }
            *d++ = '?';
            ++s;
            clean = false;
            continue;
        }
        uint32_t code = c & (0x3F >> info.fTrailing);
        int taken = 1;
        bool truncated = false;
        uint8_t low = info.fLow;
        uint8_t high = info.fHigh;
        for (; taken <= info.fTrailing; ++taken)
        {
            if (s + taken == end)
            {
                truncated = true;
                break;
            }
            uint8_t next = s[taken];
            if (next < low || next > high)
            {
                break;
            }
            code = (code << 6) | (next & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (truncated)
        {
            // A valid beginning cut by the end of the source: left for the caller's next block.
            break;
        }
        if (taken <= info.fTrailing)
        {
            // The lead byte and the continuation bytes that fitted form one ill-formed piece.
            if (d == dEnd)
            {
                break;
            }
            *d++ = '?';
            s += taken;
            clean = false;
            continue;
        }
        if (code > 0xFFFF)
        {
            if (dEnd - d < 2)
            {
                break;
            }
            code -= 0x10000;
            *d++ = static_cast<UniChar>(0xD800 + (code >> 10));
            *d++ = static_cast<UniChar>(0xDC00 + (code & 0x3FF));
        }
        else
        {
            if (d == dEnd)
            {
                break;
            }
            *d++ = static_cast<UniChar>(code);
        }
        s += taken;
    }

    if (outConsumed != nullptr)
    {
        *outConsumed = static_cast<size_t>(s - begin);
    }
    if (outProduced != nullptr)
    {
        *outProduced = static_cast<int32_t>(d - outTarget);
    }
    return clean && s == end;
}

namespace
{

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
#if defined(__SSE2__)
        if (c < 0x80)
        {
            const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFF80));
            const __m128i zero = _mm_setzero_si128();
            while (end - s >= 16 && dEnd - d >= 16)
            {
                __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
                __m128i high = _mm_and_si128(_mm_or_si128(first, second), mask);
                if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF)
                {
                    break;
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(first, second));
                s += 16;
                d += 16;
            }
            if (s == end)
            {
                break;
            }
            c = *s;
        }
#endif
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
                c = '?';
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
            c = '?';
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
