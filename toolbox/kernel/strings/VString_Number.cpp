// Numbers, booleans and four-character codes to and from a VString's text.
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace zorn
{

namespace
{

// The unit that ends GetLong8's scan: the current task's decimal separator ('.' without
// international settings).
UniChar DecimalSeparator()
{
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    UniChar separator = manager == nullptr ? 0 : manager->GetDecimalSeparator().GetUniChar(1);
    return separator == 0 ? u'.' : separator;
}

// A locale whose numeric conventions are the C locale's, built once, so that reading a real never
// depends on the process's or the task's locale.
locale_t CNumericLocale()
{
    static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

} // namespace

int64_t VString::GetHexLong() const
{
    uint64_t value = 0;
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        uint64_t digit;
        if (unit >= u'0' && unit <= u'9')
        {
            digit = unit - u'0';
        }
        else if (unit >= u'A' && unit <= u'F')
        {
            digit = unit - u'A' + 10;
        }
        else if (unit >= u'a' && unit <= u'f')
        {
            digit = unit - u'a' + 10;
        }
        else
        {
            continue;
        }
        value = value * 16 + digit;
    }
    return static_cast<int64_t>(value);
}

int64_t VString::GetLong8() const
{
    // Unsigned arithmetic wraps by definition; the design reads no overflow.
    uint64_t value = 0;
    bool negative = false;
    const UniChar separator = DecimalSeparator();
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        if (unit >= u'0' && unit <= u'9')
        {
            value = value * 10 + (unit - u'0');
        }
        else if (unit == separator)
        {
            break;
        }
        else if (unit == u'-' && value == 0)
        {
            negative = true;
        }
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

int32_t VString::GetLong() const
{
    int64_t value = GetLong8();
    return value >= INT32_MIN && value <= INT32_MAX ? static_cast<int32_t>(value) : 0;
}

double VString::GetReal() const
{
    return GetRealCheckOverflow(nullptr);
}

double VString::GetRealCheckOverflow(bool* outOverflow) const
{
    // Only ASCII can be part of a number in the C locale, so every other unit becomes a byte that
    // ends the scan: the result is the one the UTF-8 text would give.
    std::string bytes(static_cast<size_t>(fLength), '\0');
    for (int32_t i = 0; i < fLength; ++i)
    {
        UniChar unit = fString[i];
        bytes[static_cast<size_t>(i)] = unit < 0x80 ? static_cast<char>(unit) : '\x7F';
    }
    errno = 0;
    double result = strtod_l(bytes.c_str(), nullptr, CNumericLocale());
    if (outOverflow != nullptr)
    {
        *outOverflow = errno == ERANGE && (result == 0 || std::isinf(result));
    }
    return result;
}

// Writers

namespace
{

// Room for the digits of any 64-bit number with its sign.
constexpr int kDigitRoom = 24;

// Writes the decimal digits of inMagnitude (with a leading '-' when inNegative) at the end of
// ioUnits and returns the first unit written.
UniChar* DecimalDigits(uint64_t inMagnitude, bool inNegative, UniChar (&ioUnits)[kDigitRoom])
{
    UniChar* first = ioUnits + kDigitRoom;
    do
    {
        *--first = static_cast<UniChar>(u'0' + inMagnitude % 10);
        inMagnitude /= 10;
    } while (inMagnitude != 0);
    if (inNegative)
    {
        *--first = u'-';
    }
    return first;
}

// The magnitude of a signed value as unsigned, so that the least value needs no special case.
uint64_t Magnitude(int64_t inValue)
{
    return inValue < 0 ? 0 - static_cast<uint64_t>(inValue) : static_cast<uint64_t>(inValue);
}

} // namespace

bool VString::AppendLong(int32_t inValue)
{
    return AppendLong8(inValue);
}

bool VString::AppendLong8(int64_t inValue)
{
    UniChar units[kDigitRoom];
    UniChar* first = DecimalDigits(Magnitude(inValue), inValue < 0, units);
    return AppendUniChars(first, static_cast<int32_t>(units + kDigitRoom - first));
}

bool VString::AppendULong8(uint64_t inValue)
{
    UniChar units[kDigitRoom];
    UniChar* first = DecimalDigits(inValue, false, units);
    return AppendUniChars(first, static_cast<int32_t>(units + kDigitRoom - first));
}

bool VString::AppendReal(double inValue)
{
    char text[255];
    int length = std::snprintf(text, sizeof(text), "%.14G", inValue);
    UniChar units[sizeof(text)];
    length = std::clamp(length, 0, static_cast<int>(sizeof(text)) - 1);
    for (int i = 0; i < length; ++i)
    {
        units[i] = static_cast<unsigned char>(text[i]);
    }
    return AppendUniChars(units, length);
}

void VString::_EmptyForFormat()
{
    if (!IsInline() && (fMaxLength >= 33 || !_IsWritable(0)))
    {
        _Clear();
    }
    else
    {
        fLength = 0;
        fString[0] = 0;
    }
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::FromLong(int32_t inValue)
{
    _EmptyForFormat();
    AppendLong(inValue);
}

void VString::FromWord(int16_t inValue)
{
    _EmptyForFormat();
    AppendLong(inValue);
}

void VString::FromByte(int8_t inValue)
{
    _EmptyForFormat();
    AppendLong(inValue);
}

void VString::FromLong8(int64_t inValue)
{
    _EmptyForFormat();
    AppendLong8(inValue);
}

void VString::FromULong8(uint64_t inValue)
{
    _EmptyForFormat();
    AppendULong8(inValue);
}

void VString::FromReal(double inValue)
{
    _EmptyForFormat();
    AppendReal(inValue);
}

void VString::FromBoolean(bool inValue)
{
    *this = inValue ? CVSTR("true") : CVSTR("false");
}

namespace
{

// Upper-case hexadecimal digits of the low inBits bits of inValue into outText: the fewest digits,
// or with inPrefixed "0x" and every digit of the width.
void HexDigits(uint64_t inValue, int inBits, bool inPrefixed, VString& outText)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    UniChar units[2 + 16];
    int count = 0;
    int digits = inBits / 4;
    if (inPrefixed)
    {
        units[count++] = u'0';
        units[count++] = u'x';
    }
    else
    {
        while (digits > 1 && ((inValue >> ((digits - 1) * 4)) & 0xF) == 0)
        {
            --digits;
        }
    }
    for (int i = digits - 1; i >= 0; --i)
    {
        units[count++] = static_cast<UniChar>(kDigits[(inValue >> (i * 4)) & 0xF]);
    }
    if (UniChar* buffer = outText.GetCPointerForWrite(count))
    {
        std::copy(units, units + count, buffer);
        outText.Validate(count);
    }
    else
    {
        outText.Clear();
    }
}

} // namespace

void VString::FromHexLong(long long inValue, bool inPrefixed)
{
    HexDigits(static_cast<uint64_t>(inValue), 64, inPrefixed, *this);
}

void VString::FromHexLong(int inValue, bool inPrefixed)
{
    HexDigits(static_cast<uint32_t>(inValue), 32, inPrefixed, *this);
}

void VString::FromHexLong(unsigned char inValue, bool inPrefixed)
{
    HexDigits(inValue, 8, inPrefixed, *this);
}

void VString::FromHexLong(char inValue, bool inPrefixed)
{
    HexDigits(static_cast<unsigned char>(inValue), 8, inPrefixed, *this);
}

bool VString::AppendOsType(OsType inCode)
{
    UniChar units[4];
    int32_t count = 0;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        UniChar byte = static_cast<UniChar>((inCode >> shift) & 0xFF);
        if (byte >= 0x20 && byte <= 0x7E)
        {
            units[count++] = byte;
        }
    }
    return AppendUniChars(units, count);
}

void VString::FromOsType(OsType inCode)
{
    Clear();
    AppendOsType(inCode);
}

bool VString::AppendValue(const VValueSingle& inValue)
{
    VStr<255> text;
    inValue.GetString(text);
    return AppendString(text);
}

VOsTypeString::VOsTypeString(OsType inCode)
{
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(inCode >> 24), static_cast<unsigned char>(inCode >> 16),
        static_cast<unsigned char>(inCode >> 8), static_cast<unsigned char>(inCode)};
    FromBlock(bytes, sizeof(bytes), CharSet::VTC_UTF_8);
}

VString ToString(int inValue)
{
    VString text;
    text.AppendLong8(inValue);
    return text;
}

VString ToString(long long inValue)
{
    VString text;
    text.AppendLong8(inValue);
    return text;
}

VString ToString(unsigned long long inValue)
{
    VString text;
    text.AppendULong8(inValue);
    return text;
}

VString ToString(unsigned long inValue)
{
    VString text;
    text.AppendULong8(inValue);
    return text;
}

std::string to_string(const VString& inString)
{
    // A UTF-16 unit never takes more than three UTF-8 bytes (a pair of them takes four).
    constexpr int32_t kShortUnits = 256;
    const int32_t length = inString.GetLength();
    if (length == 0)
    {
        return {};
    }
    size_t produced = 0;
    if (length < kShortUnits)
    {
        char buffer[3 * kShortUnits];
        VTextConverters::Get()->ConvertFromVString(inString, nullptr, buffer, sizeof(buffer), &produced,
                                                   CharSet::VTC_UTF_8);
        return std::string(buffer, produced);
    }
    std::string bytes(3 * static_cast<size_t>(length), '\0');
    VTextConverters::Get()->ConvertFromVString(inString, nullptr, bytes.data(), bytes.size(), &produced,
                                               CharSet::VTC_UTF_8);
    bytes.resize(produced);
    return bytes;
}

// Readers

int16_t VString::GetWord() const
{
    int32_t value = GetLong();
    return value >= INT16_MIN && value <= INT16_MAX ? static_cast<int16_t>(value) : 0;
}

bool VString::GetBoolean() const
{
    static const UniChar kTrue[] = {u't', u'r', u'u', u'e'};
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    if (manager == nullptr)
    {
        // Without international settings only the exact word counts.
        return fLength == 4 && std::equal(kTrue, kTrue + 4, fString);
    }
    return manager->EqualString(fString, fLength, kTrue, 4, false);
}

double VString::ParseInt(int32_t inRadix) const
{
    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    if (IsNull())
    {
        return kNaN;
    }
    VString text(*this);
    text.Trim(true, false);
    const UniChar* unit = text.GetCPointer();
    const UniChar* end = unit + text.GetLength();
    if (unit == end)
    {
        return kNaN;
    }
    bool negative = false;
    if (*unit == u'+' || *unit == u'-')
    {
        negative = *unit == u'-';
        ++unit;
    }
    auto skipHexPrefix = [&]
    {
        if (end - unit >= 2 && unit[0] == u'0' && (unit[1] == u'x' || unit[1] == u'X'))
        {
            unit += 2;
            return true;
        }
        return false;
    };
    if (inRadix == 0)
    {
        inRadix = skipHexPrefix() ? 16 : 10;
    }
    else if (inRadix == 16)
    {
        skipHexPrefix();
    }
    else if (inRadix < 2 || inRadix > 36)
    {
        return kNaN;
    }
    auto digitValue = [](UniChar inUnit) -> int32_t
    {
        if (inUnit >= u'0' && inUnit <= u'9')
        {
            return inUnit - u'0';
        }
        if (inUnit >= u'a' && inUnit <= u'z')
        {
            return inUnit - u'a' + 10;
        }
        if (inUnit >= u'A' && inUnit <= u'Z')
        {
            return inUnit - u'A' + 10;
        }
        return 99;
    };
    if (unit == end || digitValue(*unit) >= inRadix)
    {
        return kNaN;
    }
    double value = 0;
    for (; unit != end && digitValue(*unit) < inRadix; ++unit)
    {
        value = value * inRadix + digitValue(*unit);
    }
    return negative ? -value : value;
}

OsType VString::GetOsType() const
{
    if (fLength > 4)
    {
        return 0;
    }
    unsigned char bytes[16] = {};
    size_t produced = 0;
    VTextConverters::Get()->ConvertFromVString(*this, nullptr, bytes, sizeof(bytes), &produced,
                                               CharSet::VTC_UTF_8);
    if (produced > 4)
    {
        return 0;
    }
    std::fill(bytes + produced, bytes + 4, ' ');
    return MakeOsType(static_cast<char>(bytes[0]), static_cast<char>(bytes[1]), static_cast<char>(bytes[2]),
                      static_cast<char>(bytes[3]));
}

// Durations

void VString::GetDuration(VDuration& outValue) const
{
    outValue.FromString(*this);
}

void VString::FromDuration(const VDuration& inValue)
{
    inValue.GetString(*this);
}

void VString::GetTime(VTime& outValue) const
{
    outValue.FromString(*this);
}

void VString::FromTime(const VTime& inValue)
{
    inValue.GetString(*this);
}

} // namespace zorn
