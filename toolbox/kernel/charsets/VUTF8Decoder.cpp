#include "toolbox/kernel/charsets/VUTF8Decoder.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZORN_UTF8_AVX2 1
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

#if defined(ZORN_UTF8_AVX2)
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

bool ProcessorHasAVX2()
{
    static const bool sHasAVX2 = []
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return sHasAVX2;
}
#endif

// The character path from ioSource while it is below inStop; a character that starts below
// inStop is decoded whole, and runs of ASCII may go past it. True when it stopped for good: the
// target is full or the source ends inside a sequence.
inline bool DecodeCharacters(const uint8_t*& s, const uint8_t* end, const uint8_t* inStop, UniChar*& d,
                             UniChar* dEnd, bool& clean)
{
    while (s < inStop)
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
#if defined(ZORN_UTF8_AVX2)
            // Long runs (ASCII text) by 32 units at a time.
            if (end - s >= 64 && dEnd - d >= 64 && ProcessorHasAVX2())
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
                return true;
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
                return true;
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
            return true;
        }
        if (taken <= info.fTrailing)
        {
            // The lead byte and the continuation bytes that fitted form one ill-formed piece.
            if (d == dEnd)
            {
                return true;
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
                return true;
            }
            code -= 0x10000;
            *d++ = static_cast<UniChar>(0xD800 + (code >> 10));
            *d++ = static_cast<UniChar>(0xDC00 + (code & 0x3FF));
        }
        else
        {
            if (d == dEnd)
            {
                return true;
            }
            *d++ = static_cast<UniChar>(code);
        }
        s += taken;
    }
    return false;
}

#if defined(ZORN_UTF8_AVX2)

// For each byte mask of eight 16-bit lanes, the shuffle that moves the lanes of the mask to the
// front, in order.
struct PackShuffles
{
    std::array<std::array<uint8_t, 16>, 256> fShuffle{};
    constexpr PackShuffles()
    {
        for (unsigned mask = 0; mask < 256; ++mask)
        {
            unsigned out = 0;
            for (unsigned lane = 0; lane < 8; ++lane)
            {
                if ((mask & (1u << lane)) != 0)
                {
                    fShuffle[mask][out * 2] = static_cast<uint8_t>(lane * 2);
                    fShuffle[mask][out * 2 + 1] = static_cast<uint8_t>(lane * 2 + 1);
                    ++out;
                }
            }
            for (; out < 8; ++out)
            {
                fShuffle[mask][out * 2] = 0x80;
                fShuffle[mask][out * 2 + 1] = 0x80;
            }
        }
    }
};
constexpr PackShuffles kPackShuffles;

// Shuffle indices that move a vector down by k (0..32) bytes, zeros coming in: the sixteen
// bytes from k.
struct ShiftDown
{
    std::array<uint8_t, 48> fIndex{};
    constexpr ShiftDown()
    {
        for (size_t i = 0; i < fIndex.size(); ++i)
        {
            fIndex[i] = i < 16 ? static_cast<uint8_t>(i) : 0x80;
        }
    }
};
constexpr ShiftDown kShiftDown;

constexpr size_t kBlock = 16;
constexpr size_t kBlockReach = kBlock + 2; // the bytes a block reads

// A block as the decoder reads it: the bytes from its start, from one past it and from two past
// it (the bytes that may end its last characters).
struct Block
{
    __m128i fBytes;
    __m128i fNext;
    __m128i fAfter;
};

// The characters that start in the first inAvailable (1..16) bytes of the block, when every one
// of them is a well-formed one-, two- or three-byte character: decoded to outTarget (room for 16
// units), their count in outProduced; the bytes they take (up to 18) returned. 0 when the block
// holds anything else. Bytes from inAvailable on are zeros when the block is the source's tail.
__attribute__((target("avx2,popcnt"))) inline size_t DecodeBlock(const Block& inBlock, unsigned inAvailable,
                                                                 UniChar* outTarget, size_t& outProduced)
{
    const __m128i bytes = inBlock.fBytes;
    // Bit i of each mask tells of byte i; the continuation mask runs over 18 bytes, since the
    // characters of the last two bytes may end in the next two.
    const auto nonAscii = static_cast<uint32_t>(_mm_movemask_epi8(bytes));
    const auto fromC2 =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-63)))) & nonAscii;
    const auto fromE0 =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-33)))) & nonAscii;
    const auto fromF0 =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-17)))) & nonAscii;
    const __m128i contLimit = _mm_set1_epi8(-64); // below: 80..BF
    const uint32_t cont =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(bytes, contLimit))) |
        (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(inBlock.fAfter, contLimit))) << 2);
    const uint32_t leads = fromC2 & ~fromF0;  // C2..EF
    const uint32_t leads3 = fromE0 & ~fromF0; // E0..EF
    const uint32_t expected = (leads << 1) | (leads3 << 2);
    // Bytes C0, C1 and F0..FF, and continuation bytes anywhere but where the leads want them.
    const uint32_t wrongBytes =
        (nonAscii & ~cont & ~leads) | ((expected ^ cont) & 0xFFFF) | (expected & ~cont);

    // Every lane decoded as if a character started there; the lanes of continuation bytes are
    // dropped by the packing.
    const __m256i b0 = _mm256_cvtepu8_epi16(bytes);
    const __m256i b1 = _mm256_and_si256(_mm256_cvtepu8_epi16(inBlock.fNext), _mm256_set1_epi16(0x3F));
    const __m256i b2 = _mm256_and_si256(_mm256_cvtepu8_epi16(inBlock.fAfter), _mm256_set1_epi16(0x3F));
    const __m256i two =
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x1F)), 6), b1);
    const __m256i three =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(b0, 12), _mm256_slli_epi16(b1, 6)), b2);
    const __m256i isThree = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xDF));
    const __m256i isAscii = _mm256_cmpgt_epi16(_mm256_set1_epi16(0x80), b0);
    // A three-byte character below U+0800 is overlong (after E0, a byte below A0); one in
    // D800..DFFF is an encoded surrogate (after ED, a byte above 9F).
    const __m256i top = _mm256_and_si256(three, _mm256_set1_epi16(static_cast<short>(0xF800)));
    const __m256i wrongThree = _mm256_and_si256(
        isThree, _mm256_or_si256(_mm256_cmpeq_epi16(top, _mm256_setzero_si256()),
                                 _mm256_cmpeq_epi16(top, _mm256_set1_epi16(static_cast<short>(0xD800)))));
    if ((wrongBytes | static_cast<uint32_t>(_mm256_movemask_epi8(wrongThree))) != 0)
    {
        return 0;
    }
    const __m256i units = _mm256_blendv_epi8(_mm256_blendv_epi8(two, three, isThree), b0, isAscii);

    const uint32_t starts = ~cont & ((1u << inAvailable) - 1);
    const uint32_t lowStarts = starts & 0xFF;
    const uint32_t highStarts = (starts >> 8) & 0xFF;
    const __m128i low = _mm_shuffle_epi8(
        _mm256_castsi256_si128(units),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPackShuffles.fShuffle[lowStarts].data())));
    const __m128i high = _mm_shuffle_epi8(
        _mm256_extracti128_si256(units, 1),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPackShuffles.fShuffle[highStarts].data())));
    const auto lowCount = static_cast<size_t>(__builtin_popcount(lowStarts));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget + lowCount), high);
    outProduced = lowCount + static_cast<size_t>(__builtin_popcount(highStarts));
    return inAvailable + static_cast<size_t>(__builtin_popcount(expected >> 16));
}

__attribute__((target("avx2"))) inline __m128i Load(const uint8_t* inBytes)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(inBytes));
}

// The sixteen bytes from inStart + inOffset of a tail of inLeft bytes, zeros after its end, from
// the sixteen bytes that end the tail (inLast): byte (kBlock - inLeft + inOffset) of inLast on.
__attribute__((target("avx2"))) inline __m128i MovedDown(__m128i inLast, const uint8_t* inStart,
                                                         size_t inLeft, size_t inOffset)
{
    if (inLeft >= kBlock + inOffset)
    {
        return Load(inStart + inOffset); // wholly inside the source
    }
    return _mm_shuffle_epi8(inLast, Load(kShiftDown.fIndex.data() + (kBlock - inLeft + inOffset)));
}

// The block of the last inLeft (< 18) bytes, zeros after them, without reading past the source:
// from the sixteen bytes that end it, moved down into place, or from a
// padded copy when the source is shorter than that.
__attribute__((target("avx2"))) inline Block TailBlock(const uint8_t* inStart, size_t inLeft,
                                                       const uint8_t* inSourceBegin)
{
    const uint8_t* end = inStart + inLeft;
    if (end - inSourceBegin >= static_cast<ptrdiff_t>(kBlock))
    {
        const __m128i last = Load(end - kBlock);
        return {MovedDown(last, inStart, inLeft, 0), MovedDown(last, inStart, inLeft, 1),
                MovedDown(last, inStart, inLeft, 2)};
    }
    alignas(32) std::array<uint8_t, 2 * kBlock> padded{};
    std::memcpy(padded.data(), inStart, inLeft);
    return {Load(padded.data()), Load(padded.data() + 1), Load(padded.data() + 2)};
}

__attribute__((target("avx2,popcnt"))) bool DecodeByBlocks(const uint8_t*& ioSource, const uint8_t* inEnd,
                                                           UniChar*& ioTarget, UniChar* inTargetEnd)
{
    const uint8_t* const begin = ioSource;
    const uint8_t* s = ioSource;
    UniChar* d = ioTarget;
    bool clean = true;
    while (s < inEnd)
    {
        const auto left = static_cast<size_t>(inEnd - s);
        const auto room = static_cast<size_t>(inTargetEnd - d);
        if (left >= kBlockReach && room >= kBlock)
        {
            const __m128i bytes = Load(s);
            if (_mm_movemask_epi8(bytes) == 0)
            {
                // ASCII: long runs 32 bytes at a time, else these sixteen.
                if (left >= 64 && room >= 64)
                {
                    size_t widened = WidenAsciiBlocksAVX2(s, left, d, room);
                    s += widened;
                    d += widened;
                    continue;
                }
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_cvtepu8_epi16(bytes));
                s += kBlock;
                d += kBlock;
                continue;
            }
            size_t produced = 0;
            if (size_t taken = DecodeBlock({bytes, Load(s + 1), Load(s + 2)}, kBlock, d, produced);
                taken != 0)
            {
                s += taken;
                d += produced;
                continue;
            }
        }
        else if (left < kBlockReach)
        {
            // The last bytes; their units go through a block of their own when the room is short.
            const Block tail = TailBlock(s, left, begin);
            const auto available = static_cast<unsigned>(left < kBlock ? left : kBlock);
            size_t produced = 0;
            size_t taken = 0;
            if (room >= kBlock)
            {
                taken = DecodeBlock(tail, available, d, produced);
            }
            else
            {
                alignas(32) std::array<UniChar, kBlock> units;
                taken = DecodeBlock(tail, available, units.data(), produced);
                if (taken != 0 && produced <= room)
                {
                    std::memcpy(d, units.data(), produced * sizeof(UniChar));
                }
                else
                {
                    taken = 0;
                }
            }
            if (taken != 0)
            {
                s += taken;
                d += produced;
                continue;
            }
        }
        // What the blocks do not take goes by characters, sixteen bytes' worth.
        if (DecodeCharacters(s, inEnd, left < kBlock ? inEnd : s + kBlock, d, inTargetEnd, clean))
        {
            break;
        }
    }
    ioSource = s;
    ioTarget = d;
    return clean;
}

#endif

} // namespace

bool VUTF8Decoder::DecodeByCharacters(const uint8_t*& ioSource, const uint8_t* inEnd, UniChar*& ioTarget,
                                      UniChar* inTargetEnd)
{
    bool clean = true;
    DecodeCharacters(ioSource, inEnd, inEnd, ioTarget, inTargetEnd, clean);
    return clean;
}

bool VUTF8Decoder::HasBlockPath()
{
#if defined(ZORN_UTF8_AVX2)
    return ProcessorHasAVX2();
#else
    return false;
#endif
}

bool VUTF8Decoder::Decode(const uint8_t*& ioSource, const uint8_t* inEnd, UniChar*& ioTarget,
                          UniChar* inTargetEnd)
{
#if defined(ZORN_UTF8_AVX2)
    if (ProcessorHasAVX2())
    {
        return DecodeByBlocks(ioSource, inEnd, ioTarget, inTargetEnd);
    }
#endif
    return DecodeByCharacters(ioSource, inEnd, ioTarget, inTargetEnd);
}

} // namespace zorn
