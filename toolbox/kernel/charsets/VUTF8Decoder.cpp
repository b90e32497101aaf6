#include "toolbox/kernel/charsets/VUTF8Decoder.h"

#include <array>
#include <cstdint>
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
// The same over 64 bytes at a time with 64-byte stores, where the processor has AVX-512BW: the
// stores, twice the loads, are what bound the widening, and wide stores halve them. After a first
// block the stores are aligned to 64 bytes (a store across two cache lines costs two), rewriting
// up to 31 units of the first block with the same values.
__attribute__((target("avx2,avx512f,avx512bw"))) inline uint64_t WidenBlock64(const uint8_t* inSource,
                                                                              UniChar* outTarget)
{
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inSource));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inSource + 32));
    _mm512_storeu_si512(outTarget, _mm512_cvtepu8_epi16(low));
    _mm512_storeu_si512(outTarget + 32, _mm512_cvtepu8_epi16(high));
    return static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
           (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32);
}

__attribute__((target("avx2,avx512f,avx512bw"))) size_t
WidenAsciiBlocks512(const uint8_t* inSource, size_t inBytes, UniChar* outTarget, size_t inRoom)
{
    // The caller gives at least 64 bytes and 64 units of room.
    if (const uint64_t nonAscii = WidenBlock64(inSource, outTarget); nonAscii != 0)
    {
        return static_cast<size_t>(__builtin_ctzll(nonAscii));
    }
    const size_t head = ((64 - (reinterpret_cast<uintptr_t>(outTarget) & 63)) & 63) / sizeof(UniChar);
    size_t done = head == 0 ? 64 : head;
    while (inBytes - done >= 64 && inRoom - done >= 64)
    {
        if (const uint64_t nonAscii = WidenBlock64(inSource + done, outTarget + done); nonAscii != 0)
        {
            return done + static_cast<size_t>(__builtin_ctzll(nonAscii));
        }
        done += 64;
    }
    return done;
}

bool ProcessorHasAVX512BW()
{
    static const bool sHas = []
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
    }();
    return sHas;
}

__attribute__((target("avx2"))) size_t WidenAsciiBlocksAVX2(const uint8_t* inSource, size_t inBytes,
                                                            UniChar* outTarget, size_t inRoom)
{
    size_t done = 0;
    if (inBytes >= 64 && inRoom >= 64 && ProcessorHasAVX512BW())
    {
        done = WidenAsciiBlocks512(inSource, inBytes, outTarget, inRoom);
        if (done < inBytes && done < inRoom && inSource[done] >= 0x80)
        {
            return done;
        }
    }
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
__attribute__((always_inline)) inline bool DecodeCharacters(const uint8_t*& s, const uint8_t* end,
                                                            const uint8_t* inStop, UniChar*& d, UniChar* dEnd,
                                                            UniChar inSubstitute, bool& clean)
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
            *d++ = inSubstitute;
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
            *d++ = inSubstitute;
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

constexpr size_t kBlock = 32;
constexpr size_t kBlockReach = kBlock + 2; // the bytes a block reads
constexpr size_t kMaxByCharacters = 256;

// A 64-bit quarter of a vector of one byte or one 16-bit unit repeated.
constexpr long long ByteLane(uint8_t inByte)
{
    return static_cast<long long>(inByte * 0x0101010101010101ull);
}
constexpr long long UnitLane(uint16_t inUnit)
{
    return static_cast<long long>(inUnit * 0x0001000100010001ull);
}
// The vectors of constants that a block uses, read from memory: the compiler would otherwise
// build each from an immediate, in three instructions, in every block. Reached through a pointer
// the compiler cannot see through (Launder), so that it keeps them as operands in memory.
struct BlockConstants
{
    __m256i fLow6{UnitLane(0x3F), UnitLane(0x3F), UnitLane(0x3F), UnitLane(0x3F)};
    __m256i fLow11{UnitLane(0x7FF), UnitLane(0x7FF), UnitLane(0x7FF), UnitLane(0x7FF)};
    __m256i fUnitDF{UnitLane(0xDF), UnitLane(0xDF), UnitLane(0xDF), UnitLane(0xDF)};
    __m256i fUnit7F{UnitLane(0x7F), UnitLane(0x7F), UnitLane(0x7F), UnitLane(0x7F)};
    __m256i fByteA0{ByteLane(0xA0), ByteLane(0xA0), ByteLane(0xA0), ByteLane(0xA0)};
    __m256i fByteEF{ByteLane(0xEF), ByteLane(0xEF), ByteLane(0xEF), ByteLane(0xEF)};
    __m256i fByteFE{ByteLane(0xFE), ByteLane(0xFE), ByteLane(0xFE), ByteLane(0xFE)};
    __m256i fByteC0{ByteLane(0xC0), ByteLane(0xC0), ByteLane(0xC0), ByteLane(0xC0)};
    __m256i fByteE0{ByteLane(0xE0), ByteLane(0xE0), ByteLane(0xE0), ByteLane(0xE0)};
    __m256i fByteED{ByteLane(0xED), ByteLane(0xED), ByteLane(0xED), ByteLane(0xED)};
    __m256i fByteDF{ByteLane(0xDF), ByteLane(0xDF), ByteLane(0xDF), ByteLane(0xDF)};
};
constexpr BlockConstants kBlockConstants;

inline const BlockConstants* Launder(const BlockConstants* inConstants)
{
    asm("" : "+r"(inConstants));
    return inConstants;
}

// One lane of eight units packed to the front by the starts among its eight bits; the units
// written (sixteen bytes are stored).
__attribute__((target("avx2,popcnt"))) inline size_t PackEight(__m128i inUnits, uint32_t inStarts,
                                                               UniChar* outTarget)
{
    const __m128i shuffle =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPackShuffles.fShuffle[inStarts].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(outTarget), _mm_shuffle_epi8(inUnits, shuffle));
    return static_cast<size_t>(__builtin_popcount(inStarts));
}

// Sixteen lanes decoded as if a character started in each, from the zero-extended bytes at the
// lane, one after and two after. The bits above a character's own fall off the 16-bit lanes, or
// are masked off for two-byte characters.
__attribute__((target("avx2"))) inline __m256i DecodeLanes(__m256i inFirst, __m256i inSecond, __m256i inThird,
                                                           const BlockConstants& inConstants)
{
    const __m256i low6 = inConstants.fLow6;
    const __m256i firstTwo = _mm256_or_si256(_mm256_slli_epi16(inFirst, 6), _mm256_and_si256(inSecond, low6));
    const __m256i two = _mm256_and_si256(firstTwo, inConstants.fLow11);
    const __m256i three = _mm256_or_si256(_mm256_slli_epi16(firstTwo, 6), _mm256_and_si256(inThird, low6));
    const __m256i isThree = _mm256_cmpgt_epi16(inFirst, inConstants.fUnitDF);
    const __m256i isOther = _mm256_cmpgt_epi16(inFirst, inConstants.fUnit7F);
    return _mm256_blendv_epi8(inFirst, _mm256_blendv_epi8(two, three, isThree), isOther);
}

// A block as the decoder reads it: the 32 bytes from its start, from one past it and from two
// past it (the bytes that may end its last characters).
struct Block
{
    __m256i fBytes;
    __m256i fNext;
    __m256i fAfter;
};

__attribute__((target("avx2"))) inline Block LoadBlock(const uint8_t* inBytes)
{
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(inBytes)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inBytes + 1)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inBytes + 2))};
}

// 32 zero bytes, then 32 bytes of FF: the 32 from (32 - k) keep the bytes from k on.
struct KeepFrom
{
    std::array<uint8_t, 2 * kBlock> fMask{};
    constexpr KeepFrom()
    {
        for (size_t i = kBlock; i < fMask.size(); ++i)
        {
            fMask[i] = 0xFF;
        }
    }
};
constexpr KeepFrom kKeepFrom;

__attribute__((target("avx2"))) inline __m256i KeepBytesFrom(__m256i inBytes, unsigned inFrom)
{
    return _mm256_and_si256(inBytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(
                                         kKeepFrom.fMask.data() + kBlock - inFrom)));
}

// The block of the 32 bytes that end at inEnd, with the bytes before inFirst (1..31 bytes into
// it) made zeros (ASCII, which never continues a sequence) and zeros after inEnd: the bytes one
// and two further are moved down across the halves of the vector.
__attribute__((target("avx2"))) inline Block LoadEndBlock(const uint8_t* inEnd, unsigned inFirst)
{
    const __m256i bytes =
        KeepBytesFrom(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(inEnd - kBlock)), inFirst);
    const __m256i upper = _mm256_permute2x128_si256(bytes, bytes, 0x81); // the high half, then zeros
    return {bytes, _mm256_alignr_epi8(upper, bytes, 1), _mm256_alignr_epi8(upper, bytes, 2)};
}

// The characters that start at lanes inFirst to inLast - 1 (of 32) of the block, when every
// character of the block is a well-formed one-, two- or three-byte character: decoded to
// outTarget (room for the lanes' units and 8 more), their count in outProduced; the bytes they
// take (up to two past the last lane) returned. 0 when the block holds anything else. Bytes
// outside the lanes are zeros, but for the two after a block's last lane.
__attribute__((target("avx2,popcnt"))) inline size_t DecodeBlock(const Block& inBlock, unsigned inFirst,
                                                                 unsigned inLast, UniChar* outTarget,
                                                                 size_t& outProduced,
                                                                 const BlockConstants& inConstants)
{
    const __m256i bytes = inBlock.fBytes;
    const __m256i next = inBlock.fNext;
    const __m256i after = inBlock.fAfter;

    // Bytes that start no character of one to three bytes: C0, C1 (overlong two-byte forms) and
    // F0..FF. After E0 a byte below A0 makes an overlong form, after ED one above 9F a surrogate.
    const __m256i lowNext = _mm256_cmpgt_epi8(inConstants.fByteA0, next); // 80..9F
    const __m256i refused = _mm256_or_si256(
        _mm256_or_si256(_mm256_subs_epu8(bytes, inConstants.fByteEF),
                        _mm256_cmpeq_epi8(_mm256_and_si256(bytes, inConstants.fByteFE), inConstants.fByteC0)),
        _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(bytes, inConstants.fByteE0), lowNext),
                        _mm256_andnot_si256(lowNext, _mm256_cmpeq_epi8(bytes, inConstants.fByteED))));

    // Bit i of each mask tells of byte i; the continuation mask runs over 34 bytes, since the
    // characters of the last two bytes may end in the next two.
    const __m256i contLimit = inConstants.fByteC0; // below: 80..BF
    const auto nonAscii = static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
    const uint64_t cont = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(contLimit, bytes))) |
                          (static_cast<uint64_t>(static_cast<uint32_t>(
                               _mm256_movemask_epi8(_mm256_cmpgt_epi8(contLimit, after))))
                           << 2);
    const uint64_t leads3 =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(bytes, inConstants.fByteDF))) & nonAscii;
    const uint64_t leads = nonAscii & ~static_cast<uint32_t>(cont);
    const uint64_t expected = (leads << 1) | (leads3 << 2);
    // Continuation bytes exactly where the leads want them: in the block, and in the two bytes
    // after it where the last characters end.
    const uint64_t wrongCont = expected ^ (cont & (expected | 0xFFFFFFFFu));
    if (wrongCont != 0 || _mm256_testz_si256(refused, refused) == 0)
    {
        return 0;
    }

    const __m256i low = DecodeLanes(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes)),
                                    _mm256_cvtepu8_epi16(_mm256_castsi256_si128(next)),
                                    _mm256_cvtepu8_epi16(_mm256_castsi256_si128(after)), inConstants);
    const __m256i high = DecodeLanes(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1)),
                                     _mm256_cvtepu8_epi16(_mm256_extracti128_si256(next, 1)),
                                     _mm256_cvtepu8_epi16(_mm256_extracti128_si256(after, 1)), inConstants);
    const uint64_t starts = ~cont & ((uint64_t{1} << inLast) - (uint64_t{1} << inFirst));
    // Groups of eight lanes past the last hold no start and are not stored.
    size_t produced = 0;
    if (inFirst < 8)
    {
        produced = PackEight(_mm256_castsi256_si128(low), starts & 0xFF, outTarget);
    }
    if (inFirst < 16 && inLast > 8)
    {
        produced += PackEight(_mm256_extracti128_si256(low, 1), (starts >> 8) & 0xFF, outTarget + produced);
    }
    if (inFirst < 24 && inLast > 16)
    {
        produced += PackEight(_mm256_castsi256_si128(high), (starts >> 16) & 0xFF, outTarget + produced);
    }
    if (inLast > 24)
    {
        produced += PackEight(_mm256_extracti128_si256(high, 1), (starts >> 24) & 0xFF, outTarget + produced);
    }
    outProduced = produced;
    return inLast - inFirst + static_cast<size_t>(__builtin_popcountll(expected >> 32));
}

__attribute__((target("avx2,popcnt"))) bool DecodeByBlocks(const uint8_t*& ioSource, const uint8_t* inEnd,
                                                           UniChar*& ioTarget, UniChar* inTargetEnd,
                                                           UniChar inSubstitute)
{
    const uint8_t* const begin = ioSource;
    const uint8_t* s = ioSource;
    UniChar* d = ioTarget;
    bool clean = true;
    size_t byCharacters = kBlock;
    const BlockConstants& constants = *Launder(&kBlockConstants);
    while (s < inEnd)
    {
        const auto left = static_cast<size_t>(inEnd - s);
        const auto room = static_cast<size_t>(inTargetEnd - d);
        if (left >= kBlockReach && room >= kBlock)
        {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
            if (_mm256_movemask_epi8(bytes) == 0)
            {
                // ASCII: a run of 32-byte blocks.
                size_t widened = WidenAsciiBlocksAVX2(s, left, d, room);
                s += widened;
                d += widened;
                continue;
            }
            size_t produced = 0;
            if (size_t taken = DecodeBlock(LoadBlock(s), 0, kBlock, d, produced, constants); taken != 0)
            {
                s += taken;
                d += produced;
                byCharacters = kBlock;
                continue;
            }
        }
        else if (left < kBlockReach)
        {
            // The last bytes: as the end of a block of the source's last 32 bytes, or alone in a
            // block padded with zeros (ASCII, which never continues a sequence) when the source is
            // shorter. Their units go through a block of their own when the room is short.
            Block block;
            unsigned first = 0;
            unsigned last = 0;
            if (left < kBlock && s - begin >= static_cast<ptrdiff_t>(kBlock - left))
            {
                first = static_cast<unsigned>(kBlock - left);
                last = kBlock;
                block = LoadEndBlock(inEnd, first);
            }
            else
            {
                alignas(32) std::array<uint8_t, 2 * kBlock> padded{};
                std::memcpy(padded.data(), s, left);
                block = LoadBlock(padded.data());
                last = static_cast<unsigned>(left < kBlock ? left : kBlock);
            }
            size_t produced = 0;
            size_t taken = 0;
            if (room >= left + 8)
            {
                taken = DecodeBlock(block, first, last, d, produced, constants);
            }
            else
            {
                alignas(32) std::array<UniChar, kBlock + 8> units;
                taken = DecodeBlock(block, first, last, units.data(), produced, constants);
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
        // What the blocks do not take goes by characters, a block's worth, and twice as many
        // after each block refused in a row (text of four-byte characters), up to 256 bytes.
        const uint8_t* source = s;
        UniChar* target = d;
        const bool stopped = DecodeCharacters(source, inEnd, left < byCharacters ? inEnd : s + byCharacters,
                                              target, inTargetEnd, inSubstitute, clean);
        s = source;
        d = target;
        if (stopped)
        {
            break;
        }
        byCharacters = byCharacters < kMaxByCharacters ? byCharacters * 2 : kMaxByCharacters;
    }
    ioSource = s;
    ioTarget = d;
    return clean;
}

#endif

} // namespace

bool VUTF8Decoder::DecodeByCharacters(const uint8_t*& ioSource, const uint8_t* inEnd, UniChar*& ioTarget,
                                      UniChar* inTargetEnd, UniChar inSubstitute)
{
    const uint8_t* s = ioSource;
    UniChar* d = ioTarget;
    bool clean = true;
    DecodeCharacters(s, inEnd, inEnd, d, inTargetEnd, inSubstitute, clean);
    ioSource = s;
    ioTarget = d;
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
                          UniChar* inTargetEnd, UniChar inSubstitute)
{
#if defined(ZORN_UTF8_AVX2)
    if (ProcessorHasAVX2())
    {
        return DecodeByBlocks(ioSource, inEnd, ioTarget, inTargetEnd, inSubstitute);
    }
#endif
    return DecodeByCharacters(ioSource, inEnd, ioTarget, inTargetEnd, inSubstitute);
}

} // namespace zorn
