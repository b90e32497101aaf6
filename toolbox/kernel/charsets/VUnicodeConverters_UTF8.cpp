// UTF-8 to and from UTF-16. Runs of ASCII are widened and narrowed sixteen (or eight) units at a
// time with SSE2 where the machine has it; long runs are widened 32 units at a time with AVX2 when
// the processor has it (chosen at run time: the build targets plain x86-64). Everything else goes
// one character at a time.

#include "toolbox/kernel/charsets/VUnicodeConverters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZORN_WIDEN_AVX2 1
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

#if defined(ZORN_WIDEN_AVX2)
// Widens whole blocks of 32 ASCII bytes while the source and the room (in units) both hold one;
// stops at the block that holds a non-ASCII byte, after widening its ASCII prefix. The bytes
// consumed (as many units were written). Widening all 32 of the last block is harmless: the room
// is there and only the ASCII prefix is counted.
__attribute__((target("avx2"))) size_t WidenAsciiBlocksAVX2(const uint8_t* inSource, size_t inBytes,
                                                            UniChar* outTarget, size_t inRoom)
{
    size_t done = 0;
    while (inBytes - done >= 32 && inRoom - done >= 32)
    {
        __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inSource + done));
        __m256i low = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes));
        __m256i high = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outTarget + done), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outTarget + done + 16), high);
        auto nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
        if (nonAscii != 0)
        {
            return done + static_cast<size_t>(__builtin_ctz(nonAscii));
        }
        done += 32;
    }
    return done;
}

// Whether the processor runs AVX2, asked once.
bool HasAVX2()
{
    static const bool sHasAVX2 = []
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return sHasAVX2;
}
#endif

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
            // A lone ASCII character between others (spaces and digits in CJK text) is not worth
            // a vector load.
            if (end - s >= 2 && s[1] >= 0x80 && d != dEnd)
            {
                *d++ = c;
                ++s;
                continue;
            }
#if defined(ZORN_WIDEN_AVX2)
            // Long runs (ASCII text) by 32 units at a time.
            if (end - s >= 64 && dEnd - d >= 64 && HasAVX2())
            {
                size_t widened =
                    WidenAsciiBlocksAVX2(s, static_cast<size_t>(end - s), d, static_cast<size_t>(dEnd - d));
                s += widened;
                d += widened;
                if (s == end || *s >= 0x80)
                {
                    continue;
                }
            }
#endif
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

        // Well-formed two- and three-byte characters with room to spare, the common non-ASCII
        // text: decoded without the checks for the end of either buffer, runs of three-byte
        // characters (CJK text) in a loop of their own. Overlong forms and surrogates are told
        // by the code point they give; anything unusual goes to the general case.
        if (end - s >= 3 && dEnd - d >= 1)
        {
            if ((c & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80 && c >= 0xC2)
            {
                *d++ = static_cast<UniChar>(((c & 0x1F) << 6) | (s[1] & 0x3F));
                s += 2;
                continue;
            }
            if ((c & 0xF0) == 0xE0)
            {
                const uint8_t* runStart = s;
                for (;;)
                {
                    if (*s < 0x80)
                    {
                        // A lone ASCII character inside the run (spaces, digits, punctuation).
                        *d++ = *s++;
                    }
                    else
                    {
                        uint32_t b1 = s[1];
                        uint32_t b2 = s[2];
                        if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80)
                        {
                            break;
                        }
                        uint32_t code =
                            ((static_cast<uint32_t>(*s) & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
                        if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))
                        {
                            break;
                        }
                        *d++ = static_cast<UniChar>(code);
                        s += 3;
                    }
                    // The run goes on over three-byte characters and over single ASCII characters
                    // followed by one; longer ASCII runs go to the vector loop.
                    if (end - s < 3 || d == dEnd ||
                        !((*s & 0xF0) == 0xE0 || (*s < 0x80 && (s[1] & 0xF0) == 0xE0)))
                    {
                        break;
                    }
                }
                if (s != runStart)
                {
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
