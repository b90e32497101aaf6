#include "toolbox/json/VJSONImporter.h"

#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/HexDigit.h"
#include "toolbox/kernel/values/VTime.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zorn
{

namespace
{

// The units that end a bare word without being part of it: below 33 (consumed with the word) and
// the delimiters " , : [ ] { } (left for the next token).
constexpr bool IsWordStop(UniChar inUnit)
{
    return inUnit < 33 || inUnit == u'"' || inUnit == u',' || inUnit == u':' || inUnit == u'[' ||
           inUnit == u']' || inUnit == u'{' || inUnit == u'}';
}

struct WordStops
{
    bool fStop[128];
    constexpr WordStops() : fStop()
    {
        for (UniChar unit = 0; unit < 128; ++unit)
        {
            fStop[unit] = IsWordStop(unit);
        }
    }
};
constexpr WordStops kWordStops;

// The white space of the strict grammar.
constexpr bool IsStrictBlank(UniChar inUnit)
{
    return inUnit == u' ' || inUnit == u'\t' || inUnit == u'\n' || inUnit == u'\r';
}

bool IsDigit(UniChar inUnit)
{
    return inUnit >= u'0' && inUnit <= u'9';
}

constexpr UniChar kMinusSign = 0x2212;
constexpr UniChar kByteOrderMark = 0xFEFF;
constexpr UChar32 kReplacementCharacter = 0xFFFD;

constexpr std::u16string_view kBinaryObjectName(VJSONBinaryObject::sPropertyName);

// UTF-8 to UTF-16 into a buffer of at least inSize units; the units written. Runs of ASCII, the
// bulk of JSON text, are widened sixteen bytes at a time; any other sequence goes through ICU's
// U8_NEXT, so an ill-formed one becomes one U+FFFD per maximal part (counted in ioSubstitutions),
// exactly as u_strFromUTF8WithSub gives it. An ASCII byte never belongs to a longer sequence, so
// the two paths never split one.
int32_t WidenUTF8(const uint8_t* inBytes, int32_t inSize, UniChar* outUnits, int32_t& ioSubstitutions)
{
    int32_t offset = 0;
    int32_t length = 0;
    while (offset < inSize)
    {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        while (inSize - offset >= 16)
        {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inBytes + offset));
            const auto high = static_cast<uint32_t>(_mm_movemask_epi8(chunk));
            if (high != 0)
            {
                // The ASCII bytes before the first other one, then that sequence below.
                const int32_t ascii = std::countr_zero(high);
                for (int32_t i = 0; i < ascii; ++i)
                {
                    outUnits[length++] = inBytes[offset++];
                }
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outUnits + length), _mm_unpacklo_epi8(chunk, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outUnits + length + 8),
                             _mm_unpackhi_epi8(chunk, zero));
            offset += 16;
            length += 16;
        }
        if (offset == inSize)
        {
            break;
        }
#endif
        if (inBytes[offset] < 0x80)
        {
            outUnits[length++] = inBytes[offset++];
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(inBytes, offset, inSize, c);
        if (c < 0)
        {
            c = kReplacementCharacter;
            ++ioSubstitutions;
        }
        U16_APPEND_UNSAFE(outUnits, length, c);
    }
    return length;
}

// A number's text, checked already, as the double VString::GetReal gives for it. The text is made
// ASCII (U+2212 becomes '-'); from_chars rounds correctly, as strtod does.
double ReadRealText(const UniChar* inUnits, size_t inLength)
{
    char stackUnits[128];
    std::string heapUnits;
    char* bytes = stackUnits;
    if (inLength >= sizeof(stackUnits))
    {
        heapUnits.resize(inLength + 1);
        bytes = heapUnits.data();
    }
    size_t i = 0;
#if defined(__SSE2__)
    // Eight units at a time while they are ASCII (a U+2212 saturates and is taken below).
    for (; inLength - i >= 8; i += 8)
    {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits + i));
        const __m128i narrow = _mm_packus_epi16(units, units);
        if (_mm_movemask_epi8(narrow) != 0)
        {
            break;
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + i), narrow);
    }
#endif
    for (; i < inLength; ++i)
    {
        bytes[i] = inUnits[i] == kMinusSign ? '-' : static_cast<char>(inUnits[i]);
    }
    bytes[inLength] = '\0';
    double number = 0;
    auto [end, status] = std::from_chars(bytes, bytes + inLength, number);
    if (status != std::errc())
    {
        // Out of range: the C library gives the same zero, subnormal or infinity as GetReal.
        number = VString(bytes).GetReal();
    }
    return number;
}

// Eight units that are all ASCII digits, as their value; false when one is not a digit. The
// digits are combined in pairs, then fours, by multiply-adds.
inline bool ReadEightDigits(const UniChar* inUnits, uint32_t& outValue)
{
#if defined(__SSE2__)
    const __m128i digits =
        _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnits)), _mm_set1_epi16(u'0'));
    // A digit is at most 9 as an unsigned unit; any other unit wrapped or is larger.
    const __m128i excess = _mm_subs_epu16(digits, _mm_set1_epi16(9));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(excess, _mm_setzero_si128())) != 0xFFFF)
    {
        return false;
    }
    const __m128i pairs = _mm_madd_epi16(digits, _mm_set_epi16(1, 10, 1, 10, 1, 10, 1, 10));
    const __m128i fours =
        _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), _mm_set_epi16(0, 0, 0, 0, 1, 100, 1, 100));
    const auto both = static_cast<uint64_t>(_mm_cvtsi128_si64(fours));
    outValue = static_cast<uint32_t>(both) * 10000 + static_cast<uint32_t>(both >> 32);
    return true;
#else
    uint32_t value = 0;
    for (int i = 0; i < 8; ++i)
    {
        if (inUnits[i] < u'0' || inUnits[i] > u'9')
        {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(inUnits[i] - u'0');
    }
    outValue = value;
    return true;
#endif
}

// The digits from inUnit on, appended to ioValue (which wraps past 19 digits); returns the first
// unit that is no digit.
inline const UniChar* ReadDigits(const UniChar* inUnit, const UniChar* inEnd, uint64_t& ioValue)
{
    uint32_t eight = 0;
    while (inEnd - inUnit >= 8 && ReadEightDigits(inUnit, eight))
    {
        ioValue = ioValue * 100000000 + eight;
        inUnit += 8;
    }
    for (; inUnit != inEnd && *inUnit >= u'0' && *inUnit <= u'9'; ++inUnit)
    {
        ioValue = ioValue * 10 + static_cast<uint64_t>(*inUnit - u'0');
    }
    return inUnit;
}

// The powers of ten a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The first unit from inUnit on that a string cannot take as it is (a quote, a backslash or a unit
// below 0x20), or inEnd; eight units at a time.
inline const UniChar* SkipPlainUnits(const UniChar* inUnit, const UniChar* inEnd)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    const __m128i control = _mm_set1_epi16(0x1F);
    const __m128i zero = _mm_setzero_si128();
    while (inEnd - inUnit >= 8)
    {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(inUnit));
        __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, backslash)),
                         _mm_cmpeq_epi16(_mm_subs_epu16(units, control), zero));
        auto mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
        if (mask != 0)
        {
            return inUnit + std::countr_zero(mask) / 2;
        }
        inUnit += 8;
    }
#endif
    for (; inUnit != inEnd; ++inUnit)
    {
        if (*inUnit == u'"' || *inUnit == u'\\' || *inUnit < 0x20)
        {
            break;
        }
    }
    return inUnit;
}

// "U+XXXX" for a control unit, so that a report never carries invisible text.
void AppendVisible(std::u16string& ioText, std::u16string_view inUnits)
{
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    for (char16_t unit : inUnits)
    {
        if (unit < 0x20)
        {
            ioText += u"U+00";
            ioText += kHex[unit >> 4];
            ioText += kHex[unit & 0xF];
        }
        else
        {
            ioText += unit;
        }
    }
}

// One more open container for a scope.
class StLevel
{
public:
    explicit StLevel(int32_t& ioLevel) : fLevel(ioLevel) { ++fLevel; }
    ~StLevel() { --fLevel; }
    StLevel(const StLevel&) = delete;
    StLevel& operator=(const StLevel&) = delete;

private:
    int32_t& fLevel;
};

// A borrowed VString over units that the caller keeps alive.
VString Borrowed(std::u16string_view inUnits)
{
    return VString(const_cast<UniChar*>(reinterpret_cast<const UniChar*>(inUnits.data())),
                   static_cast<int32_t>(inUnits.size()), SIZE_MAX);
}

} // namespace

VJSONImporter::VJSONImporter(const VString& inText, uint32_t inOptions)
    : fText(inText), fOptions(inOptions), fTextLength(fText.GetLength()), fCursor(fText.GetCPointer()),
      fTextStart(fCursor), fTokenStart(fCursor), fLineStart(fCursor),
      fMarkedDatesOnly((inOptions & kMarkedDatesOnly) != 0), fTextEnd(fCursor + fTextLength)
{
    // A byte-order mark opens the text; it is no part of the value, nor of the first line.
    if (fCursor != fTextEnd && *fCursor == kByteOrderMark)
    {
        ++fCursor;
        fTextStart = fTokenStart = fLineStart = fCursor;
    }
    if ((fOptions & kPathsAndLines) != 0)
    {
        fPathTable = new VJSONObject();
    }
}

VError VJSONImporter::DecodeUTF8(const void* inBytes, size_t inSize, uint32_t inOptions,
                                 const VString& inSourceName, VString& outText)
{
    // A leading byte-order mark stays: the importer skips it (once) whatever the text came from.
    const auto* bytes = static_cast<const char*>(inBytes);
    // A string holds at most 0x7FFFFFFC units, and UTF-8 has at least one byte a unit.
    if (inSize > 0x7FFFFFFC)
    {
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    }
    const auto size = static_cast<int32_t>(inSize);
    UniChar* units = outText.GetCPointerForWrite(size);
    if (units == nullptr)
    {
        return VE_STRING_ALLOC_FAILED; // raised by the string
    }
    int32_t substitutions = 0;
    outText.Validate(WidenUTF8(reinterpret_cast<const uint8_t*>(bytes), size, units, substitutions));
    if (substitutions == 0 || (inOptions & kStrict) == 0)
    {
        return VE_OK;
    }
    // Strict: the first ill-formed sequence is reported where it stands in the decoded text, its
    // bytes as found. Each U+FFFD before it decoded a U+FFFD of the input, not a bad sequence.
    int32_t offset = 0;
    int32_t position = 0;
    while (offset < size)
    {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(reinterpret_cast<const uint8_t*>(bytes), offset, size, c);
        if (c < 0)
        {
            std::u16string found;
            for (int32_t i = start; i < offset; ++i)
            {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "%s0x%02X", i == start ? "" : " ",
                              static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
                found.append(hex, hex + std::strlen(hex));
            }
            VJSONImporter importer(VString(units, position), inOptions & ~kQuiet);
            importer.SetSourceName(inSourceName);
            importer.fTokenStart = importer.fTextEnd;
            importer._ThrowErrorInvalidToken(found, kExpectedUTF8);
            outText.Clear();
            return VE_JSON_MALFORMED;
        }
        position += U16_LENGTH(c);
    }
    return VE_OK;
}

VJSONImporter::~VJSONImporter()
{
    if (fPathTable != nullptr)
    {
        fPathTable->Release();
    }
}

const char16_t* VJSONImporter::GetTokenText(JsonToken inToken)
{
    static constexpr const char16_t* kTexts[] = {u"", u"{", u"}", u"[", u"]", u",", u":", u"\"", u"!"};
    return inToken >= jsonEnd && inToken <= jsonNotProduced ? kTexts[inToken] : u"";
}

// ---- Tokens ----

void VJSONImporter::_CountLineBreak(const UniChar* inUnit)
{
    if (*inUnit == u'\n' || (inUnit + 1 == fTextEnd || inUnit[1] != u'\n'))
    {
        ++fLine;
        fLineStart = inUnit + 1;
    }
}

JsonToken VJSONImporter::_NextToken(VError* outError)
{
    fTokenUnits = nullptr;
    fTokenLength = 0;
    fTokenIsString = false;
    fTokenIsNumber = false;
    fTokenStart = fCursor;
    const bool strict = (fOptions & kStrict) != 0;
    const UniChar* unit = fCursor;
    for (;; ++unit)
    {
        if (unit == fTextEnd)
        {
            fCursor = unit;
            return jsonEnd;
        }
        if (*unit >= 33)
        {
            break;
        }
#if defined(__SSE2__)
        // Indentation: runs of spaces and tabs, eight units at a time.
        if (*unit == u' ' || *unit == u'\t')
        {
            const __m128i space = _mm_set1_epi16(u' ');
            const __m128i tab = _mm_set1_epi16(u'\t');
            while (fTextEnd - unit >= 9)
            {
                __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(unit + 1));
                auto blanks = static_cast<uint32_t>(_mm_movemask_epi8(
                    _mm_or_si128(_mm_cmpeq_epi16(units, space), _mm_cmpeq_epi16(units, tab))));
                if (blanks != 0xFFFF)
                {
                    unit += std::countr_one(blanks) / 2;
                    break;
                }
                unit += 8;
            }
            continue;
        }
#endif
        if (*unit == u'\n' || *unit == u'\r')
        {
            _CountLineBreak(unit);
        }
        else if (strict && *unit != u' ' && *unit != u'\t')
        {
            break; // strict: a control unit is no blank and starts a word that cannot be valid
        }
    }
    fCursor = unit + 1;
    switch (*unit)
    {
    case u'{':
        return jsonBeginObject;
    case u'}':
        return jsonEndObject;
    case u'[':
        return jsonBeginArray;
    case u']':
        return jsonEndArray;
    case u',':
        return jsonComma;
    case u':':
        return jsonColon;
    case u'"':
        return _ScanString(outError);
    default:
        fCursor = unit;
        if ((*unit == u'-' || IsDigit(*unit)) && _ScanNumber(unit))
        {
            return jsonString;
        }
        _ScanWord();
        return jsonString;
    }
}

bool VJSONImporter::_ScanNumber(const UniChar* inStart)
{
    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?, the digits gathered on the way.
    const UniChar* const end = fTextEnd;
    const UniChar* unit = inStart;
    const bool negative = *unit == u'-';
    if (negative)
    {
        ++unit;
    }
    if (unit == end || !IsDigit(*unit))
    {
        return false;
    }
    uint64_t mantissa = 0; // exact while there are at most 19 digits
    const UniChar* digitsStart = unit;
    if (*unit == u'0')
    {
        ++unit;
    }
    else
    {
        unit = ReadDigits(unit, end, mantissa);
    }
    ptrdiff_t digits = unit - digitsStart;
    ptrdiff_t fractionDigits = 0;
    if (unit != end && *unit == u'.')
    {
        const UniChar* fractionStart = ++unit;
        unit = ReadDigits(unit, end, mantissa);
        fractionDigits = unit - fractionStart;
        if (fractionDigits == 0)
        {
            return false;
        }
        digits += fractionDigits;
    }
    int32_t exponent = 0;
    if (unit != end && (*unit == u'e' || *unit == u'E'))
    {
        ++unit;
        bool negativeExponent = false;
        if (unit != end && (*unit == u'+' || *unit == u'-'))
        {
            negativeExponent = *unit == u'-';
            ++unit;
        }
        const UniChar* exponentStart = unit;
        for (; unit != end && IsDigit(*unit); ++unit)
        {
            if (exponent < 100000) // far past any double; the slow path reads the rest
            {
                exponent = exponent * 10 + (*unit - u'0');
            }
        }
        if (unit == exponentStart)
        {
            return false;
        }
        if (negativeExponent)
        {
            exponent = -exponent;
        }
    }
    // The word must end here, as _ScanWord would end it.
    if (unit != end && (*unit >= 128 || !kWordStops.fStop[*unit] ||
                        (*unit < 33 && (fOptions & kStrict) != 0 && !IsStrictBlank(*unit))))
    {
        return false;
    }
    fTokenUnits = inStart;
    fTokenLength = static_cast<int32_t>(unit - inStart);
    fTokenIsNumber = true;
    if (unit != end && *unit < 33)
    {
        if (*unit == u'\n' || *unit == u'\r')
        {
            _CountLineBreak(unit);
        }
        fCursor = unit + 1;
    }
    else
    {
        fCursor = unit;
    }
    // Exact when the digits make at most 2^53 and the power of ten is exact: one rounding, that of
    // the product or quotient (an integer needs none).
    constexpr uint64_t kExactLimit = uint64_t{1} << 53;
    const int32_t power = exponent - static_cast<int32_t>(fractionDigits);
    if (digits <= 19 && mantissa <= kExactLimit && power >= -22 && power <= 22)
    {
        double number = static_cast<double>(mantissa);
        number = power >= 0 ? number * kExactPowersOfTen[power] : number / kExactPowersOfTen[-power];
        fTokenNumber = negative ? -number : number;
        return true;
    }
    fTokenNumber = ReadRealText(inStart, static_cast<size_t>(unit - inStart));
    return true;
}

JsonToken VJSONImporter::_ScanString(VError* outError)
{
    fTokenIsString = true;
    const UniChar* start = fCursor;
    const UniChar* unit = SkipPlainUnits(start, fTextEnd);
    for (; unit != fTextEnd; ++unit)
    {
        UniChar c = *unit;
        if (c == u'"')
        {
            fTokenUnits = start;
            fTokenLength = static_cast<int32_t>(unit - start);
            fCursor = unit + 1;
            return jsonString;
        }
        if (c == u'\\' || c < 0x20)
        {
            return _ScanEscapedString(unit, outError);
        }
    }
    fTokenUnits = start;
    fTokenLength = static_cast<int32_t>(fTextEnd - start);
    return _UnterminatedString(outError);
}

JsonToken VJSONImporter::_ScanEscapedString(const UniChar* inRunEnd, VError* outError)
{
    const bool strict = (fOptions & kStrict) != 0;
    fScratch.assign(reinterpret_cast<const char16_t*>(fCursor), reinterpret_cast<const char16_t*>(inRunEnd));
    auto fail = [&](std::u16string_view inFound, const char16_t* inExpected)
    {
        VError error = _ThrowErrorInvalidToken(inFound, inExpected);
        if (outError != nullptr)
        {
            *outError = error;
        }
        fTokenUnits = nullptr;
        fTokenLength = 0;
        return jsonEnd;
    };
    const UniChar* unit = inRunEnd;
    while (unit != fTextEnd)
    {
        // The run up to the next quote, backslash or control unit goes in whole.
        if (const UniChar* stop = SkipPlainUnits(unit, fTextEnd); stop != unit)
        {
            fScratch.append(reinterpret_cast<const char16_t*>(unit), reinterpret_cast<const char16_t*>(stop));
            unit = stop;
            if (unit == fTextEnd)
            {
                break;
            }
        }
        UniChar c = *unit;
        if (c == u'"')
        {
            fTokenUnits = reinterpret_cast<const UniChar*>(fScratch.data());
            fTokenLength = static_cast<int32_t>(fScratch.size());
            fCursor = unit + 1;
            return jsonString;
        }
        if (c == u'\\')
        {
            if (fTextEnd - unit < 2)
            {
                break;
            }
            UniChar escaped = unit[1];
            switch (escaped)
            {
            case u'b':
                fScratch += u'\b';
                break;
            case u'f':
                fScratch += u'\f';
                break;
            case u'n':
                fScratch += u'\n';
                break;
            case u'r':
                fScratch += u'\r';
                break;
            case u't':
                fScratch += u'\t';
                break;
            case u'u':
            {
                if (fTextEnd - unit < 6)
                {
                    fCursor = fTextEnd;
                    fTokenUnits = reinterpret_cast<const UniChar*>(fScratch.data());
                    fTokenLength = static_cast<int32_t>(fScratch.size());
                    return _UnterminatedString(outError);
                }
                const UniChar* digits = unit + 2;
                if (strict)
                {
                    for (int i = 0; i < 4; ++i)
                    {
                        if (HexDigitValue(digits[i]) < 0)
                        {
                            std::u16string found;
                            AppendVisible(found, {reinterpret_cast<const char16_t*>(unit), 6});
                            return fail(found, kExpectedHexDigit);
                        }
                    }
                }
                // A first unit that is no digit counts as 0; a later one is skipped.
                int first = HexDigitValue(digits[0]);
                uint32_t value = first < 0 ? 0 : static_cast<uint32_t>(first);
                for (int i = 1; i < 4; ++i)
                {
                    int digit = HexDigitValue(digits[i]);
                    if (digit >= 0)
                    {
                        value = value * 16 + static_cast<uint32_t>(digit);
                    }
                }
                fScratch += static_cast<char16_t>(value);
                unit += 6;
                continue;
            }
            default:
                if (strict && escaped != u'"' && escaped != u'\\' && escaped != u'/')
                {
                    std::u16string found(u"\\");
                    AppendVisible(found, {reinterpret_cast<const char16_t*>(&escaped), 1});
                    return fail(found, kExpectedEscape);
                }
                if (escaped == u'\n' || escaped == u'\r')
                {
                    _CountLineBreak(unit + 1);
                }
                fScratch += static_cast<char16_t>(escaped);
                break;
            }
            unit += 2;
            continue;
        }
        if (c < 0x20)
        {
            if (strict)
            {
                std::u16string found;
                AppendVisible(found, {reinterpret_cast<const char16_t*>(unit), 1});
                return fail(found, kExpectedEscape);
            }
            if (c == 0)
            {
                ++unit; // a raw NUL is dropped
                continue;
            }
            if (c == u'\n' || c == u'\r')
            {
                _CountLineBreak(unit);
            }
        }
        fScratch += static_cast<char16_t>(c);
        ++unit;
    }
    fTokenUnits = reinterpret_cast<const UniChar*>(fScratch.data());
    fTokenLength = static_cast<int32_t>(fScratch.size());
    return _UnterminatedString(outError);
}

JsonToken VJSONImporter::_UnterminatedString(VError* outError)
{
    fCursor = fTextEnd;
    if ((fOptions & kStrict) == 0)
    {
        return jsonString; // the string as read
    }
    VError error = _ThrowErrorWithToken(VE_JSON_UNTERMINATED_STRING, u"\"");
    if (outError != nullptr)
    {
        *outError = error;
    }
    fTokenUnits = nullptr;
    fTokenLength = 0;
    return jsonEnd;
}

void VJSONImporter::_ScanWord()
{
    const bool strict = (fOptions & kStrict) != 0;
    const UniChar* start = fCursor;
    const UniChar* unit = start;
    for (; unit != fTextEnd; ++unit)
    {
        UniChar c = *unit;
        if (c >= 128 || !kWordStops.fStop[c])
        {
            continue;
        }
        if (c >= 33)
        {
            break; // a delimiter, left for the next token
        }
        if (strict && !IsStrictBlank(c))
        {
            continue; // strict: part of a word that cannot be valid
        }
        fTokenUnits = start;
        fTokenLength = static_cast<int32_t>(unit - start);
        if (c == u'\n' || c == u'\r')
        {
            _CountLineBreak(unit);
        }
        fCursor = unit + 1;
        return;
    }
    fTokenUnits = start;
    fTokenLength = static_cast<int32_t>(unit - start);
    fCursor = unit;
}

JsonToken VJSONImporter::GetNextJSONToken(VString& outToken, bool* outIsString, VError* outError)
{
    VError error = VE_OK;
    JsonToken token = _NextToken(&error);
    outToken.Clear();
    if (token == jsonString && fTokenLength > 0)
    {
        outToken.FromUniCString(fTokenUnits, fTokenLength);
    }
    if (outIsString != nullptr)
    {
        *outIsString = fTokenIsString;
    }
    if (outError != nullptr)
    {
        *outError = error;
    }
    return token;
}

JsonToken VJSONImporter::GetNextJSONToken(VError* outError)
{
    VError error = VE_OK;
    JsonToken token = _NextToken(&error);
    if (outError != nullptr)
    {
        *outError = error;
    }
    return token;
}

// ---- Values ----

VError VJSONImporter::ParseString(const VString& inText, VJSONValue& outValue, uint32_t inOptions)
{
    VJSONImporter importer(inText, inOptions);
    return importer.Parse(outValue);
}

VError VJSONImporter::Parse(VJSONValue& outValue)
{
    VError error = VE_OK;
    // The value goes on the element stack, as an array's elements do.
    const size_t first = fElements.size();
    JsonToken token = _NextToken(&error);
    if (error == VE_OK)
    {
        error = _ParseValue(token, kExpectedValue, nullptr);
    }
    VJSONValue value = fElements.size() > first ? std::move(fElements.back()) : VJSONValue();
    fElements.resize(first);
    if (error == VE_OK && fPathTable != nullptr && value.IsObject())
    {
        VString path = fCurrentPath;
        fCurrentPath = CVSTR_struct(u"}");
        _RecordPath(static_cast<int32_t>(fCursor - fLineStart) - 1);
        fCurrentPath = path;
    }
    if (error == VE_OK && (fOptions & kStrict) != 0)
    {
        token = _NextToken(&error);
        if (error == VE_OK && token != jsonEnd)
        {
            error = _ThrowErrorInvalidToken(_FoundAtTokenStart(), kExpectedEndOfText);
        }
    }
    if (error != VE_OK && (fOptions & kUndefinedOnError) != 0)
    {
        value.SetUndefined();
    }
    outValue = std::move(value);
    return error;
}

void VJSONImporter::_Emit(VJSONKey* ioKey, VJSONValue&& inValue)
{
    if (ioKey != nullptr)
    {
        fMembers.push_back({std::move(*ioKey), std::move(inValue)});
    }
    else
    {
        fElements.push_back(std::move(inValue));
    }
}

VJSONKey VJSONImporter::_Key(std::u16string_view inName)
{
    return fBuilder.Key(inName);
}

VError VJSONImporter::_ParseValue(JsonToken inToken, const char16_t* inExpected, VJSONKey* ioKey)
{
    switch (inToken)
    {
    case jsonBeginObject:
        return _ParseObject(ioKey);
    case jsonBeginArray:
        return _ParseArray(ioKey);
    case jsonString:
        return _StringToValue(inExpected, ioKey);
    default:
        return _ThrowErrorInvalidToken(_FoundToken(inToken), inExpected);
    }
}

VError VJSONImporter::_ParseObject(VJSONKey* ioKey)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return _ThrowErrorMalformed();
    }
    StLevel level(fLevel);
    const bool strict = (fOptions & kStrict) != 0;
    const bool paths = fPathTable != nullptr;
    const size_t first = fMembers.size();
    const int32_t pathLength = fCurrentPath.GetLength();
    bool hasMember = false;
    bool hasBinaryName = false;
    VError error = VE_OK;
    for (;;)
    {
        JsonToken token = _NextToken(&error);
        if (error != VE_OK)
        {
            break;
        }
        if (token == jsonEndObject)
        {
            if (hasMember)
            {
                error = _ThrowErrorWithToken(VE_JSON_TRAILING_COMMA, u"}");
            }
            break;
        }
        if (token != jsonString)
        {
            error =
                _ThrowErrorInvalidToken(_FoundToken(token), hasMember ? kExpectedName : kExpectedNameOrEnd);
            break;
        }
        if (strict && !fTokenIsString)
        {
            error = _ThrowErrorInvalidToken(_FoundToken(token), kExpectedName);
            break;
        }
        std::u16string_view name(reinterpret_cast<const char16_t*>(fTokenUnits),
                                 static_cast<size_t>(fTokenLength));
        if (paths)
        {
            if (!name.empty())
            {
                if (fCurrentPath.GetLength() > 0 && name.front() != u'[')
                {
                    fCurrentPath.AppendUniChar(u'.');
                }
                fCurrentPath.AppendUniChars(fTokenUnits, fTokenLength);
            }
            _RecordPath(static_cast<int32_t>(fCursor - fLineStart) - fTokenLength - 2);
        }
        VJSONKey key = _Key(name);
        hasBinaryName = hasBinaryName || name == kBinaryObjectName;
        token = _NextToken(&error);
        if (error != VE_OK)
        {
            break;
        }
        if (token != jsonColon)
        {
            error = _ThrowErrorInvalidToken(_FoundAtTokenStart(), kExpectedColon);
            break;
        }
        token = _NextToken(&error);
        if (error != VE_OK)
        {
            break;
        }
        error = _ParseValue(token, kExpectedValue, &key);
        if (error != VE_OK)
        {
            break;
        }
        hasMember = true;
        if (paths)
        {
            fCurrentPath.Truncate(pathLength);
        }
        if (!_NextAfterItem(jsonEndObject, kExpectedObjectNext, error))
        {
            break;
        }
    }
    if (paths)
    {
        fCurrentPath.Truncate(pathLength);
    }
    VJSONValue object = fBuilder.Object();
    if (fMembers.size() > first)
    {
        object.GetObject()->AssignOwn(std::span(fMembers).subspan(first));
        fMembers.resize(first);
    }
    _GiveLocker(object.GetObject(), nullptr);
    if (error == VE_OK && hasBinaryName)
    {
        error = _DecodeBinaryObject(object);
    }
    // A container that failed is dropped, unless it is the outermost: the caller then receives
    // it as read so far.
    if (error == VE_OK || fLevel == 1)
    {
        _Emit(ioKey, std::move(object));
    }
    return error;
}

bool VJSONImporter::_NextAfterItem(JsonToken inClose, const char16_t* inExpected, VError& outError)
{
    JsonToken token = _NextToken(&outError);
    if (outError != VE_OK || token == inClose)
    {
        return false;
    }
    if (token != jsonComma)
    {
        outError = _ThrowErrorInvalidToken(_FoundAtTokenStart(), inExpected);
        return false;
    }
    return true;
}

VError VJSONImporter::_ParseArray(VJSONKey* ioKey)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return _ThrowErrorMalformed();
    }
    StLevel level(fLevel);
    const bool paths = fPathTable != nullptr;
    const size_t first = fElements.size();
    const int32_t pathLength = fCurrentPath.GetLength();
    size_t index = 0;
    VError error = VE_OK;
    for (;;)
    {
        if (paths)
        {
            fCurrentPath.AppendUniChar(u'[');
            fCurrentPath.AppendLong8(static_cast<int64_t>(index));
            fCurrentPath.AppendUniChar(u']');
        }
        JsonToken token = _NextToken(&error);
        if (error != VE_OK)
        {
            break;
        }
        if (token == jsonEndArray)
        {
            if (index > 0)
            {
                error = _ThrowErrorWithToken(VE_JSON_TRAILING_COMMA, u"]");
            }
            break;
        }
        if (token != jsonBeginObject && token != jsonBeginArray && token != jsonString)
        {
            error =
                _ThrowErrorInvalidToken(_FoundToken(token), index == 0 ? kExpectedElement : kExpectedValue);
            break;
        }
        if (paths)
        {
            int32_t column = static_cast<int32_t>(fCursor - fLineStart);
            if (token == jsonString)
            {
                column -= fTokenLength + (fCursor[-1] == u'"' ? 2 : 0);
            }
            else
            {
                column -= 1;
            }
            _RecordPath(column);
        }
        error = _ParseValue(token, kExpectedElement, nullptr);
        if (error != VE_OK)
        {
            break;
        }
        ++index;
        if (paths)
        {
            fCurrentPath.Truncate(pathLength);
        }
        if (!_NextAfterItem(jsonEndArray, kExpectedArrayNext, error))
        {
            break;
        }
    }
    if (paths)
    {
        fCurrentPath.Truncate(pathLength);
    }
    VJSONValue array = fBuilder.Array();
    if (fElements.size() > first)
    {
        if (!array.GetArray()->AssignValues(std::span(fElements).subspan(first)) && error == VE_OK)
        {
            error = VE_MEMORY_FULL;
        }
        fElements.resize(first);
    }
    _GiveLocker(nullptr, array.GetArray());
    if (error == VE_OK || fLevel == 1)
    {
        _Emit(ioKey, std::move(array));
    }
    return error;
}

VError VJSONImporter::_StringToValue(const char16_t* inExpected, VJSONKey* ioKey)
{
    std::u16string_view units(reinterpret_cast<const char16_t*>(fTokenUnits),
                              static_cast<size_t>(fTokenLength));
    if (fTokenIsString)
    {
        if ((fOptions & (kMarkedDates | kISODates)) == 0 || !_ReadDate(units, ioKey))
        {
            _Emit(ioKey, fBuilder.String(units));
        }
        return VE_OK;
    }
    if (fTokenIsNumber)
    {
        _Emit(ioKey, fBuilder.Number(fTokenNumber));
        return VE_OK;
    }
    if (units == u"null")
    {
        _Emit(ioKey, fBuilder.Null());
        return VE_OK;
    }
    if (units == u"true" || units == u"false")
    {
        _Emit(ioKey, fBuilder.Bool(units.size() == 4));
        return VE_OK;
    }
    if (units.front() == u'-' || IsDigit(units.front()))
    {
        return _ReadNumber(units, ioKey);
    }
    if ((fOptions & kStrict) != 0)
    {
        return _ThrowErrorInvalidToken(_FoundToken(jsonString), inExpected);
    }
    _Emit(ioKey, fBuilder.String(units));
    return VE_OK;
}

VError VJSONImporter::_ReadNumber(std::u16string_view inWord, VJSONKey* ioKey)
{
    // The syntax: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-U+2212]? [0-9]+)?
    const size_t length = inWord.size();
    size_t at = 0;
    bool negative = inWord[0] == u'-';
    if (negative)
    {
        ++at;
    }
    const size_t firstDigit = at;
    bool valid = at < length && IsDigit(inWord[at]);
    if (valid && inWord[at++] != u'0')
    {
        while (at < length && IsDigit(inWord[at]))
        {
            ++at;
        }
    }
    const size_t integerDigits = at - firstDigit;
    bool simple = true;
    bool minusSign = false;
    if (valid && at < length && inWord[at] == u'.')
    {
        simple = false;
        valid = ++at < length && IsDigit(inWord[at]);
        while (at < length && IsDigit(inWord[at]))
        {
            ++at;
        }
    }
    if (valid && at < length && (inWord[at] == u'e' || inWord[at] == u'E'))
    {
        simple = false;
        ++at;
        if (at < length && (inWord[at] == u'+' || inWord[at] == u'-' || inWord[at] == kMinusSign))
        {
            minusSign = inWord[at] == kMinusSign;
            ++at;
        }
        valid = at < length && IsDigit(inWord[at]);
        while (at < length && IsDigit(inWord[at]))
        {
            ++at;
        }
    }
    if (!valid || at != length || (minusSign && (fOptions & kStrict) != 0))
    {
        return _ThrowErrorInvalidToken(_FoundToken(jsonString), kExpectedNumber);
    }
    double number;
    if (simple && integerDigits <= 15)
    {
        // Exact: fifteen digits stay below 2^53.
        uint64_t magnitude = 0;
        for (size_t i = firstDigit; i < length; ++i)
        {
            magnitude = magnitude * 10 + static_cast<uint64_t>(inWord[i] - u'0');
        }
        number = static_cast<double>(magnitude);
        if (negative)
        {
            number = -number;
        }
    }
    else
    {
        number = ReadRealText(reinterpret_cast<const UniChar*>(inWord.data()), length);
    }
    _Emit(ioKey, fBuilder.Number(number));
    return VE_OK;
}

bool VJSONImporter::_ReadDate(std::u16string_view inUnits, VJSONKey* ioKey)
{
    auto readAsDate = [this, ioKey](std::u16string_view inText)
    {
        VTime time;
        // A text the time reader refuses stays a string rather than becoming null.
        if (!time.FromXMLString(Borrowed(inText)))
        {
            return false;
        }
        _Emit(ioKey, VJSONValue(time));
        return true;
    };
    const size_t length = inUnits.size();
    if ((fOptions & kMarkedDates) != 0)
    {
        if (fMarkedDatesOnly)
        {
            if (length == 14 && Borrowed(inUnits).IsNonAmbigousDate() && readAsDate(inUnits))
            {
                return true;
            }
        }
        else if (length >= 4 && inUnits.starts_with(u"!!") && inUnits.ends_with(u"!!") &&
                 readAsDate(inUnits.substr(2, length - 4)))
        {
            return true;
        }
    }
    return (fOptions & kISODates) != 0 && length == 10 && Borrowed(inUnits).IsISODate() &&
           readAsDate(inUnits);
}

VError VJSONImporter::_DecodeBinaryObject(VJSONValue& ioValue)
{
    const VJSONValue* member =
        ioValue.GetObject()->FindOwnProperty(CVSTR_struct(VJSONBinaryObject::sPropertyName));
    if (member == nullptr || !member->IsString())
    {
        return VE_OK;
    }
    bool decoded = false;
    VString text = Borrowed(member->GetStringUnits());
    VJSONValue value;
    VError error = VJSONBinaryObject::DecodeText(text, value, &decoded);
    if (decoded)
    {
        ioValue = std::move(value);
    }
    return error;
}

void VJSONImporter::_GiveLocker(VJSONObject* inObject, VJSONArray* inArray)
{
    if ((fOptions & kStorageLocker) == 0)
    {
        return;
    }
    if (fStorageLocker == nullptr)
    {
        fStorageLocker = VRefPtr<VStorageLocker>(new VStorageLocker(), true);
    }
    if (inObject != nullptr)
    {
        inObject->SetStorageLocker(fStorageLocker.Get());
    }
    else
    {
        inArray->SetStorageLocker(fStorageLocker.Get());
    }
}

void VJSONImporter::_RecordPath(int32_t inOffset)
{
    // The table and its records are fresh plain objects: they are filled on the builder path.
    VJSONObject::OwnProperty fields[] = {
        {_Key(sLineKey), fBuilder.Number(fLine)},
        {_Key(sOffsetKey), fBuilder.Number(inOffset)},
    };
    VJSONValue record = fBuilder.Object();
    record.GetObject()->AssignOwn(fields);
    fPathTable->AppendOwn(VJSONKey(fCurrentPath), std::move(record));
}

// ---- Errors ----

VError VJSONImporter::_ThrowErrorMalformed()
{
    // The report points at the failing token's first unit that is not a blank.
    const bool strict = (fOptions & kStrict) != 0;
    const UniChar* at = fTokenStart;
    while (at != fTextEnd && *at < 33 && (!strict || IsStrictBlank(*at)))
    {
        ++at;
    }
    int32_t lineFeeds = 0;
    int32_t returns = 0;
    const UniChar* lastLineFeed = nullptr;
    const UniChar* lastReturn = nullptr;
    for (const UniChar* unit = fTextStart; unit != at; ++unit)
    {
        if (*unit == u'\n')
        {
            ++lineFeeds;
            lastLineFeed = unit;
        }
        else if (*unit == u'\r')
        {
            ++returns;
            lastReturn = unit;
        }
    }
    const UniChar* lastBreak = lineFeeds > returns ? lastLineFeed : lastReturn;
    const UniChar* lineFirst = lastBreak == nullptr ? fTextStart : lastBreak + 1;
    auto* error = new VErrorBase(VE_JSON_MALFORMED);
    VString source = fSourceName;
    if (!source.IsEmpty())
    {
        source.AppendCString(", ");
    }
    error->SetString(CVSTR_struct(kParamSource), source);
    error->SetLong(CVSTR_struct(kParamLine), 1 + std::max(lineFeeds, returns));
    error->SetLong(CVSTR_struct(kParamPosition), 1 + static_cast<int32_t>(at - lineFirst));
    _PushRetainedError(error);
    return VE_JSON_MALFORMED;
}

VError VJSONImporter::_ThrowErrorInvalidToken(std::u16string_view inFound, const char16_t* inExpected)
{
    if ((fOptions & kQuiet) == 0)
    {
        auto* error = new VErrorBase(inFound.empty() ? VE_JSON_UNEXPECTED_END : VE_JSON_INVALID_TOKEN);
        error->SetString(CVSTR_struct(kParamFound), Borrowed(inFound));
        error->SetString(CVSTR_struct(kParamExpected), CVSTR_struct(inExpected));
        _PushRetainedError(error);
        _ThrowErrorMalformed();
    }
    return VE_JSON_MALFORMED;
}

VError VJSONImporter::_ThrowErrorWithToken(VError inError, const char16_t* inToken)
{
    auto* error = new VErrorBase(inError);
    error->SetString(CVSTR_struct(kParamToken), CVSTR_struct(inToken));
    _PushRetainedError(error);
    return _ThrowErrorMalformed();
}

std::u16string VJSONImporter::_FoundAtTokenStart() const
{
    const bool strict = (fOptions & kStrict) != 0;
    const UniChar* at = fTokenStart;
    while (at != fTextEnd && *at < 33 && (!strict || IsStrictBlank(*at)))
    {
        ++at;
    }
    std::u16string found;
    if (at != fTextEnd)
    {
        AppendVisible(found, {reinterpret_cast<const char16_t*>(at), 1});
    }
    return found;
}

std::u16string VJSONImporter::_FoundToken(JsonToken inToken) const
{
    std::u16string found;
    if (inToken == jsonString && !fTokenIsString)
    {
        AppendVisible(found,
                      {reinterpret_cast<const char16_t*>(fTokenUnits), static_cast<size_t>(fTokenLength)});
    }
    else
    {
        found = GetTokenText(inToken);
    }
    return found;
}

// ---- The value's entry ----

VError VJSONValue::ParseFromString(const VString& inText, bool inDates, bool inMarkedDatesOnly)
{
    uint32_t options = 0;
    if (inDates)
    {
        options = inMarkedDatesOnly ? VJSONImporter::kMarkedDates | VJSONImporter::kMarkedDatesOnly
                                    : VJSONImporter::kMarkedDates | VJSONImporter::kISODates;
    }
    return VJSONImporter::ParseString(inText, *this, options);
}

} // namespace zorn
