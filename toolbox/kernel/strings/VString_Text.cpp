// VString in XML and JSON text, the date shapes of the JSON layer, script identifiers, and the
// Base64 forms of a string's bytes.

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/memory/VCppMemMgr.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/Base64Coder.h"
#include "toolbox/kernel/strings/HexDigit.h"
#include "toolbox/kernel/strings/VString.h"

#include <array>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorn
{

namespace
{

constexpr JSONStringOptions kJSONQuoted = 0x1;
constexpr JSONStringOptions kJSONRaw = 0x10;
constexpr JSONStringOptions kJSONEscapeAmpersandApostrophe = 0x400;

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

bool IsDigit(UniChar inUnit)
{
    return inUnit >= '0' && inUnit <= '9';
}

// Sets the string to ASCII bytes widened to units.
bool FromASCII(VString& ioString, const char* inBytes, size_t inCount)
{
    if (inCount > static_cast<size_t>(INT32_MAX))
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    int32_t length = static_cast<int32_t>(inCount);
    if (!ioString.EnsureSize(length, false))
    {
        return false;
    }
    UniChar* units = ioString.GetCPointerForWrite(length);
    for (int32_t i = 0; i < length; ++i)
    {
        units[i] = static_cast<unsigned char>(inBytes[i]);
    }
    return ioString.Validate(length);
}

// XML

bool NeedsXMLEscape(UniChar inUnit, bool inEscapeControls)
{
    switch (inUnit)
    {
    case '"':
    case '&':
    case '\'':
    case '<':
    case '>':
        return true;
    default:
        return inEscapeControls &&
               ((inUnit < 0x20 && inUnit != '\t' && inUnit != '\n' && inUnit != '\r') || inUnit == 0x7F);
    }
}

bool AppendXMLEscape(VString& ioResult, UniChar inUnit)
{
    switch (inUnit)
    {
    case '"':
        return ioResult.AppendString(CVSTR("&quot;"));
    case '&':
        return ioResult.AppendString(CVSTR("&amp;"));
    case '\'':
        return ioResult.AppendString(CVSTR("&apos;"));
    case '<':
        return ioResult.AppendString(CVSTR("&lt;"));
    case '>':
        return ioResult.AppendString(CVSTR("&gt;"));
    default:
    {
        // Only control units reach here: two digits are always enough.
        const UniChar escape[] = {'&',
                                  '#',
                                  'x',
                                  static_cast<UniChar>(kHexDigits[(inUnit >> 4) & 0xF]),
                                  static_cast<UniChar>(kHexDigits[inUnit & 0xF]),
                                  ';'};
        return ioResult.AppendUniChars(escape, 6);
    }
    }
}

// Whether the units at inText (inCount of them) begin with the ASCII word.
bool StartsWith(const UniChar* inText, int32_t inCount, const char* inWord, int32_t inWordLength)
{
    if (inCount < inWordLength)
    {
        return false;
    }
    for (int32_t i = 0; i < inWordLength; ++i)
    {
        if (inText[i] != static_cast<UniChar>(inWord[i]))
        {
            return false;
        }
    }
    return true;
}

// The entity that starts at inText[0] ('&'): its length in units and the one or two units it
// stands for; 0 when it is not one that is decoded.
int32_t MatchXMLEntity(const UniChar* inText, int32_t inCount, UniChar outUnits[2], int32_t& outUnitCount)
{
    struct Named
    {
        const char* fText;
        int32_t fLength;
        UniChar fUnit;
    };
    static constexpr Named kNamed[] = {
        {"&amp;", 5, '&'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&lt;", 4, '<'}, {"&apos;", 6, '\''},
    };
    for (const Named& named : kNamed)
    {
        if (StartsWith(inText, inCount, named.fText, named.fLength))
        {
            outUnits[0] = named.fUnit;
            outUnitCount = 1;
            return named.fLength;
        }
    }
    if (!StartsWith(inText, inCount, "&#x", 3))
    {
        return 0;
    }
    uint32_t value = 0;
    bool tooLarge = false;
    int32_t i = 3;
    for (; i < inCount && HexDigitValue(inText[i]) >= 0; ++i)
    {
        value = (value << 4) | static_cast<uint32_t>(HexDigitValue(inText[i]));
        tooLarge = tooLarge || value > 0x10FFFF;
        if (tooLarge)
        {
            value = 0x110000; // stays out of range whatever digits follow
        }
    }
    if (i == 3 || i == inCount || inText[i] != ';' || tooLarge || value == 0 ||
        (value >= 0xD800 && value <= 0xDFFF))
    {
        return 0;
    }
    if (value > 0xFFFF)
    {
        outUnits[0] = static_cast<UniChar>(0xD800 + ((value - 0x10000) >> 10));
        outUnits[1] = static_cast<UniChar>(0xDC00 + ((value - 0x10000) & 0x3FF));
        outUnitCount = 2;
    }
    else
    {
        outUnits[0] = static_cast<UniChar>(value);
        outUnitCount = 1;
    }
    return i + 1;
}

// JSON

// For each unit below 0x80: 0 when written as it is, else the letter after the backslash ('u' for
// the \u00XX form).
using JSONEscapeTable = std::array<char, 128>;

constexpr JSONEscapeTable MakeJSONEscapes(bool inAmpersandApostrophe)
{
    JSONEscapeTable table{};
    for (int c = 0; c < 0x20; ++c)
    {
        table[c] = 'u';
    }
    table[0x7F] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    if (inAmpersandApostrophe)
    {
        table['&'] = 'u';
        table['\''] = 'u';
    }
    return table;
}

constexpr JSONEscapeTable kJSONEscapes = MakeJSONEscapes(false);
constexpr JSONEscapeTable kJSONEscapesWithAmpersand = MakeJSONEscapes(true);

// Writes one unit in its JSON form; returns the end.
inline UniChar* WriteJSONUnit(UniChar inUnit, UniChar* outText, const JSONEscapeTable& inEscapes)
{
    char escape = inUnit < 0x80 ? inEscapes[inUnit] : 0;
    if (escape == 0)
    {
        *outText++ = inUnit;
        return outText;
    }
    *outText++ = '\\';
    *outText++ = static_cast<UniChar>(escape);
    if (escape == 'u')
    {
        *outText++ = '0';
        *outText++ = '0';
        *outText++ = static_cast<UniChar>(kHexDigits[inUnit >> 4]);
        *outText++ = static_cast<UniChar>(kHexDigits[inUnit & 0xF]);
    }
    return outText;
}

// Writes the JSON form of the units at outText, which has room for 6 units each; returns the end.
UniChar* WriteJSONEscaped(const UniChar* inUnits, int32_t inCount, UniChar* outText,
                          const JSONEscapeTable& inEscapes, bool inEscapeAmpersandApostrophe)
{
    UniChar* d = outText;
    const UniChar* s = inUnits;
    const UniChar* const end = inUnits + inCount;
#if defined(__SSE2__)
    // Eight units at a time: a block without a unit to escape is copied whole, any other block is
    // written unit by unit.
    const __m128i zero = _mm_setzero_si128();
    const __m128i lastControl = _mm_set1_epi16(0x1F);
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    const __m128i del = _mm_set1_epi16(0x7F);
    const __m128i ampersand = _mm_set1_epi16(inEscapeAmpersandApostrophe ? '&' : '"');
    const __m128i apostrophe = _mm_set1_epi16(inEscapeAmpersandApostrophe ? '\'' : '"');
    // Two mask bits per unit to escape.
    auto specials = [&](__m128i inBlock)
    {
        __m128i special = _mm_cmpeq_epi16(_mm_subs_epu16(inBlock, lastControl), zero); // below U+0020
        special = _mm_or_si128(special, _mm_cmpeq_epi16(inBlock, quote));
        special = _mm_or_si128(special, _mm_cmpeq_epi16(inBlock, backslash));
        special = _mm_or_si128(special, _mm_cmpeq_epi16(inBlock, del));
        special = _mm_or_si128(special, _mm_cmpeq_epi16(inBlock, ampersand));
        special = _mm_or_si128(special, _mm_cmpeq_epi16(inBlock, apostrophe));
        return _mm_movemask_epi8(special);
    };
    for (; end - s >= 8; s += 8)
    {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        if (specials(units) == 0)
        {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), units);
            d += 8;
            continue;
        }
        for (int i = 0; i < 8; ++i)
        {
            d = WriteJSONUnit(s[i], d, inEscapes);
        }
    }
    // The last units without a loop where they need no escape: the block of the last eight units
    // (those before s in it were then written as they are, so it is rewritten whole over them), or
    // for four to seven units in all, the first and the last four.
    const ptrdiff_t rest = end - s;
    if (rest > 0 && inCount >= 8)
    {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 8));
        if (specials(units) == 0)
        {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d - (8 - rest)), units);
            return d + rest;
        }
    }
    else if (rest >= 4)
    {
        __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
        __m128i last = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(end - 4));
        if (specials(_mm_unpacklo_epi64(first, last)) == 0)
        {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d), first);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + rest - 4), last);
            return d + rest;
        }
    }
#else
    (void)inEscapeAmpersandApostrophe;
#endif
    for (; s != end; ++s)
    {
        d = WriteJSONUnit(*s, d, inEscapes);
    }
    return d;
}

bool IsDateShape(const UniChar* inUnits)
{
    for (int32_t i = 0; i < 10; ++i)
    {
        bool dash = i == 4 || i == 7;
        if (dash ? inUnits[i] != '-' : !IsDigit(inUnits[i]))
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

// XML

void VString::TranscodeToXML(bool inEscapeControls)
{
    const UniChar* units = fString;
    const int32_t length = fLength;
    int32_t i = 0;
    while (i < length && !NeedsXMLEscape(units[i], inEscapeControls))
    {
        ++i;
    }
    if (i == length)
    {
        return; // nothing to escape: the string is not touched
    }
    VString result;
    int32_t runStart = 0;
    for (; i < length; ++i)
    {
        if (!NeedsXMLEscape(units[i], inEscapeControls))
        {
            continue;
        }
        if (!result.AppendUniChars(units + runStart, i - runStart) || !AppendXMLEscape(result, units[i]))
        {
            return;
        }
        runStart = i + 1;
    }
    if (!result.AppendUniChars(units + runStart, length - runStart))
    {
        return;
    }
    *this = std::move(result);
}

void VString::TranscodeFromXML()
{
    const UniChar* units = fString;
    const int32_t length = fLength;
    VString result;
    bool changed = false;
    int32_t runStart = 0;
    for (int32_t i = 0; i < length;)
    {
        UniChar decoded[2];
        int32_t decodedCount = 0;
        int32_t entityLength =
            units[i] == '&' ? MatchXMLEntity(units + i, length - i, decoded, decodedCount) : 0;
        if (entityLength == 0)
        {
            ++i;
            continue;
        }
        if (!result.AppendUniChars(units + runStart, i - runStart) ||
            !result.AppendUniChars(decoded, decodedCount))
        {
            return;
        }
        changed = true;
        i += entityLength;
        runStart = i;
    }
    if (!changed || !result.AppendUniChars(units + runStart, length - runStart))
    {
        return;
    }
    *this = std::move(result);
}

void VString::GetXMLString(VString& outValue, JSONStringOptions) const
{
    outValue.FromString(*this);
    outValue.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& inValue)
{
    FromString(inValue);
    TranscodeFromXML();
    return true;
}

// JSON

VError VString::GetJSONString(VString& outJSONString, JSONStringOptions inOptions) const
{
    const bool quoted = (inOptions & kJSONQuoted) != 0;
    if ((inOptions & kJSONRaw) != 0)
    {
        if (!quoted)
        {
            outJSONString.FromString(*this);
            return VE_OK;
        }
        VString result(static_cast<UniChar>('"'));
        if (!result.AppendString(*this) || !result.AppendUniChar('"'))
        {
            return VE_STRING_ALLOC_FAILED;
        }
        outJSONString = std::move(result);
        return VE_OK;
    }
    // Sized in 64 bits: 6 x 0x15555555 + 4 would wrap in 32.
    const int64_t room = 6 * static_cast<int64_t>(fLength) + 4;
    if (room > 0x7FFFFFFF)
    {
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    }
    // Written in place in the output unless it is this very string.
    VString separate;
    VString& target = &outJSONString == this ? separate : outJSONString;
    if (!target.EnsureSize(static_cast<int32_t>(room), false))
    {
        return VE_STRING_ALLOC_FAILED; // raised by EnsureSize
    }
    UniChar* begin = target.GetCPointerForWrite(static_cast<int32_t>(room));
    UniChar* d = begin;
    if (quoted)
    {
        *d++ = '"';
    }
    const JSONEscapeTable& escapes =
        (inOptions & kJSONEscapeAmpersandApostrophe) != 0 ? kJSONEscapesWithAmpersand : kJSONEscapes;
    d = WriteJSONEscaped(fString, fLength, d, escapes, &escapes == &kJSONEscapesWithAmpersand);
    if (quoted)
    {
        *d++ = '"';
    }
    target.Validate(static_cast<int32_t>(d - begin));
    if (&target != &outJSONString)
    {
        outJSONString = std::move(target);
    }
    return VE_OK;
}

UniChar* VString::WriteJSONEscapedUnits(const UniChar* inUnits, int32_t inCount, UniChar* outText,
                                        JSONStringOptions inOptions)
{
    const bool ampersand = (inOptions & kJSONEscapeAmpersandApostrophe) != 0;
    return WriteJSONEscaped(inUnits, inCount, outText, ampersand ? kJSONEscapesWithAmpersand : kJSONEscapes,
                            ampersand);
}

VError VString::FromJSONString(const VString& inJSONString, JSONStringOptions inOptions)
{
    const UniChar* units = inJSONString.GetCPointer();
    const int32_t length = inJSONString.GetLength();
    int32_t first = 0;
    while (first < length && units[first] != '\\')
    {
        ++first;
    }
    if ((inOptions & kJSONRaw) != 0 || first == length)
    {
        FromString(inJSONString);
        return VE_OK;
    }
    VString result;
    if (!result.EnsureSize(length, false))
    {
        return VE_OK; // raised by EnsureSize; the string stays as it was
    }
    UniChar* begin = result.GetCPointerForWrite(length);
    UniChar* d = begin;
    for (int32_t i = 0; i < length; ++i)
    {
        UniChar c = units[i];
        if (c != '\\')
        {
            *d++ = c;
            continue;
        }
        if (++i == length)
        {
            break; // a final lone backslash is dropped
        }
        c = units[i];
        switch (c)
        {
        case 'b':
            *d++ = 0x08;
            break;
        case 'f':
            *d++ = 0x0C;
            break;
        case 'n':
            *d++ = 0x0A;
            break;
        case 'r':
            *d++ = 0x0D;
            break;
        case 't':
            *d++ = 0x09;
            break;
        case 'u':
        {
            int32_t value = 0;
            int32_t digits = 0;
            while (digits < 4 && i + 1 + digits < length && HexDigitValue(units[i + 1 + digits]) >= 0)
            {
                value = (value << 4) | HexDigitValue(units[i + 1 + digits]);
                ++digits;
            }
            if (digits == 4)
            {
                *d++ = static_cast<UniChar>(value);
                i += 4;
            }
            else
            {
                *d++ = 'u'; // the units after it are read as text
            }
            break;
        }
        default:
            *d++ = c;
            break;
        }
    }
    result.Validate(static_cast<int32_t>(d - begin));
    *this = std::move(result);
    return VE_OK;
}

VError VString::GetJSONValue(VJSONValue& outJSONValue) const
{
    if (IsNull())
    {
        detail::SetJSONNull(outJSONValue);
    }
    else
    {
        detail::SetJSONString(outJSONValue, *this);
    }
    return VE_OK;
}

VError VString::FromJSONValue(const VJSONValue& inJSONValue)
{
    detail::GetJSONString(inJSONValue, *this);
    return VE_OK;
}

// Date shapes and script names

bool VString::IsISODate() const
{
    return fLength == 10 && IsDateShape(fString);
}

bool VString::IsNonAmbigousDate() const
{
    return fLength == 14 && fString[0] == '!' && fString[1] == '!' && fString[12] == '!' &&
           fString[13] == '!' && IsDateShape(fString + 2);
}

void VString::GetCleanJSName(VString& outName) const
{
    VString name; // built apart: outName may be this string
    if (fLength > 0 && IsDigit(fString[0]))
    {
        name.AppendUniChar('_');
    }
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar c = fString[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '$')
        {
            name.AppendUniChar(c);
        }
    }
    outName = std::move(name);
}

// Base64

bool VString::EncodeBase64(const void* inBytes, size_t inSize, bool inURL)
{
    VMemoryBuffer<> text;
    if (!Base64Coder::_Encode(inBytes, inSize, text, 0, inURL))
    {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    return FromASCII(*this, static_cast<const char*>(text.GetDataPtr()), text.GetDataSize());
}

bool VString::EncodeBase64(CharSet inCharSet, bool inURL)
{
    if (IsNull() || IsEmpty())
    {
        return true;
    }
    VMemoryBuffer<> bytes;
    return ToBuffer(bytes, inCharSet) && EncodeBase64(bytes.GetDataPtr(), bytes.GetDataSize(), inURL);
}

bool VString::DecodeBase64(VMemoryBuffer<>& outBuffer, bool inURL) const
{
    const size_t length = static_cast<size_t>(fLength);
    std::unique_ptr<char, FreeBlock> bytes;
    if (length > 0)
    {
        bytes.reset(static_cast<char*>(VMemory::NewPtr(length, kTagMemoryBuffer)));
        if (bytes == nullptr)
        {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
    }
    for (size_t i = 0; i < length; ++i)
    {
        if (fString[i] >= 0x80)
        {
            _ThrowError(VE_BASE64_NOT_ASCII);
            return false;
        }
        bytes.get()[i] = static_cast<char>(fString[i]);
    }
    return Base64Coder::Decode(bytes.get(), length, outBuffer, inURL, false);
}

bool VString::DecodeBase64(CharSet inCharSet, bool inURL)
{
    if (IsNull() || IsEmpty())
    {
        return true;
    }
    VMemoryBuffer<> bytes;
    return DecodeBase64(bytes, inURL) && FromBlock(bytes.GetDataPtr(), bytes.GetDataSize(), inCharSet);
}

} // namespace zorn
