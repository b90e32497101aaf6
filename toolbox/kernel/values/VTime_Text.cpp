// The text forms of VTime: RFC 3339 (with its XML and JSON uses), RFC 822, the loose numeric
// reader, display text and the compiler's build date.
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VTime.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zorn
{

namespace
{

constexpr int32_t kReaderBufferSize = 256;

// Text writer

// Formats into a small array of units, the way "%0*d" would, then hands the whole text to the
// string at once: dates are written for every JSON date and every log line.
class DateWriter
{
public:
    DateWriter& Number(int64_t inValue, int inWidth)
    {
        uint64_t magnitude = static_cast<uint64_t>(inValue);
        if (inValue < 0)
        {
            fUnits[fLength++] = u'-';
            magnitude = 0 - magnitude;
            --inWidth;
        }
        UniChar digits[20];
        int count = 0;
        do
        {
            digits[count++] = static_cast<UniChar>(u'0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        for (int pad = count; pad < inWidth; ++pad)
        {
            fUnits[fLength++] = u'0';
        }
        while (count > 0)
        {
            fUnits[fLength++] = digits[--count];
        }
        return *this;
    }
    DateWriter& Char(char inChar)
    {
        fUnits[fLength++] = static_cast<UniChar>(inChar);
        return *this;
    }
    DateWriter& Text(const char* inText)
    {
        while (*inText != 0)
        {
            Char(*inText++);
        }
        return *this;
    }
    // "YYYY-MM-DD"
    DateWriter& Date(int inYear, int inMonth, int inDay)
    {
        return Number(inYear, 4).Char('-').Number(inMonth, 2).Char('-').Number(inDay, 2);
    }
    // "hh:mm:ss"
    DateWriter& Time(int inHour, int inMinute, int inSecond)
    {
        return Number(inHour, 2).Char(':').Number(inMinute, 2).Char(':').Number(inSecond, 2);
    }
    void Into(VString& outText) const { outText.FromUniCString(fUnits, fLength); }

private:
    UniChar fUnits[96];
    int32_t fLength = 0;
};

// RFC 3339 reader

// The reader's view of sscanf over a NUL-terminated buffer, with range checks: a number beyond
// the int range sets the overflow flag instead of giving an undefined value. As in sscanf, the
// first conversion or literal that fails ends the scan; Converted counts the conversions made.
class Scanner
{
public:
    explicit Scanner(const char* inText) : fPos(inText) {}

    bool Overflowed() const { return fOverflow; }
    int Converted() const { return fConverted; }

    // "%<width>d" (width 0: unbounded; the sign counts in the width, as in sscanf).
    bool Int(int& outValue, int inWidth = 0)
    {
        if (fStopped)
        {
            return false;
        }
        _SkipSpaces();
        const char* p = fPos;
        int left = inWidth > 0 ? inWidth : INT_MAX;
        bool negative = false;
        if ((*p == '-' || *p == '+') && left > 0)
        {
            negative = *p == '-';
            ++p;
            --left;
        }
        int64_t value = 0;
        const char* digits = p;
        while (left > 0 && *p >= '0' && *p <= '9')
        {
            if (value <= int64_t{INT_MAX} + 1)
            {
                value = value * 10 + (*p - '0');
            }
            ++p;
            --left;
        }
        if (p == digits)
        {
            return _Stop();
        }
        value = negative ? -value : value;
        if (value > INT_MAX || value < INT_MIN)
        {
            fOverflow = true;
            value = 0;
        }
        outValue = static_cast<int>(value);
        fPos = p;
        ++fConverted;
        return true;
    }
    // "%lf" in decimal notation. Infinities, NaN and magnitudes beyond the int range overflow.
    bool Real(double& outValue)
    {
        if (fStopped)
        {
            return false;
        }
        _SkipSpaces();
        const char* p = fPos;
        bool negative = false;
        if (*p == '-' || *p == '+')
        {
            negative = *p == '-';
            ++p;
        }
        double value = 0;
        auto [end, error] = std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
        if (end == p || (error != std::errc() && error != std::errc::result_out_of_range))
        {
            return _Stop();
        }
        if (error != std::errc() || !std::isfinite(value) || value >= 2147483648.0)
        {
            fOverflow = true;
            value = 0;
        }
        outValue = negative ? -value : value;
        fPos = end;
        ++fConverted;
        return true;
    }
    // A literal character of the format.
    bool Literal(char inChar)
    {
        if (fStopped || *fPos != inChar)
        {
            return _Stop();
        }
        ++fPos;
        return true;
    }

private:
    bool _Stop()
    {
        fStopped = true;
        return false;
    }
    void _SkipSpaces()
    {
        while (*fPos == ' ' || (*fPos >= '\t' && *fPos <= '\r'))
        {
            ++fPos;
        }
    }

    const char* fPos;
    int fConverted = 0;
    bool fStopped = false;
    bool fOverflow = false;
};

// The 1-based position of the first inChar of the buffer, or 0.
int32_t FirstPosition(const char* inText, int32_t inLength, char inChar)
{
    const void* found = std::memchr(inText, inChar, static_cast<size_t>(inLength));
    return found == nullptr ? 0 : static_cast<int32_t>(static_cast<const char*>(found) - inText) + 1;
}

// The text as UTF-8 in outBuffer (unpaired surrogates as U+FFFD); false when it does not fit.
bool ToReaderBuffer(const VString& inText, char (&outBuffer)[kReaderBufferSize], int32_t& outLength)
{
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(outBuffer, kReaderBufferSize, &outLength,
                       reinterpret_cast<const UChar*>(inText.GetCPointer()), inText.GetLength(), 0xFFFD,
                       nullptr, &status);
    // A text filling the buffer exactly leaves no room for the terminator and is refused too.
    return U_SUCCESS(status) && status != U_STRING_NOT_TERMINATED_WARNING && outLength < kReaderBufferSize;
}

bool IsValidReaderDate(int inYear, int inMonth, int inDay)
{
    if (inMonth < 1 || inMonth > 12 || inYear > 22000 || inDay < 1)
    {
        return false;
    }
    static constexpr int kLengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int length = inMonth == 2 && VTime::IsLeapYear(inYear) ? 29 : kLengths[inMonth];
    return inDay <= length;
}

// A part for the 16-bit setters; a value outside their range becomes -1, which they refuse
// rather than a wrapped value they might accept.
int16_t Part16(int64_t inValue)
{
    return inValue < INT16_MIN || inValue > INT16_MAX ? int16_t{-1} : static_cast<int16_t>(inValue);
}

// Loose readers

// Accumulates a run of decimal digits into an int; a run beyond the int range overflows.
struct DigitRun
{
    int64_t fValue = 0;
    bool fHasDigits = false;
    bool fOverflow = false;

    void Add(int inDigit)
    {
        fHasDigits = true;
        fValue = fValue * 10 + inDigit;
        if (fValue > INT_MAX)
        {
            fOverflow = true;
            fValue = INT_MAX;
        }
    }
};

// Character classes of the RFC 822 reader: the current task's manager, else the same Unicode
// properties directly.
bool IsDigitUnit(const VIntlMgr* inManager, UniChar inUnit)
{
    return inManager != nullptr ? inManager->IsDigit(inUnit)
                                : (!U16_IS_SURROGATE(inUnit) && u_isdigit(inUnit));
}
bool IsAlphaUnit(const VIntlMgr* inManager, UniChar inUnit)
{
    return inManager != nullptr ? inManager->IsAlpha(inUnit)
                                : (!U16_IS_SURROGATE(inUnit) && u_isalpha(inUnit));
}

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// What the RFC 822 reader also takes: the full English names, and their beginnings from three
// letters on ("Sept").
constexpr const char* kFullMonthNames[12] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
constexpr const char* kWeekDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

} // namespace

// RFC 3339

namespace
{

// The offset of local parts from UTC parts (year, month, day, hour, minute, second), in seconds.
int64_t LocalOffsetSeconds(const int16_t (&inUTC)[7], const int16_t (&inLocal)[7])
{
    auto seconds = [](const int16_t(&inParts)[7])
    {
        using namespace std::chrono;
        const sys_days day{year{inParts[0]} / month{static_cast<unsigned>(inParts[1])} /
                           std::chrono::day{static_cast<unsigned>(inParts[2])}};
        return int64_t{day.time_since_epoch().count()} * 86400 + inParts[3] * 3600 + inParts[4] * 60 +
               inParts[5];
    };
    return seconds(inLocal) - seconds(inUTC);
}

} // namespace

void VTime::GetRfc3339String(VString& outText, uint32_t inOptions) const
{
    DateWriter text;
    if (IsNull())
    {
        text.Date(0, 0, 0).Char('T').Time(0, 0, 0).Char('Z').Into(outText);
        return;
    }
    const bool timeOnly = (inOptions & eRfc3339_TimeOnly) != 0;
    const bool dateOnly = (inOptions & eRfc3339_DateOnly) != 0;
    const bool zeroDate = (inOptions & eRfc3339_ZeroDate) != 0;
    const bool withMilliseconds = (inOptions & eRfc3339_NoMilliseconds) == 0;
    int16_t parts[7];
    GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    int16_t utcParts[7];
    std::copy(std::begin(parts), std::end(parts), std::begin(utcParts));
    if ((inOptions & eRfc3339_UTC) == 0)
    {
        VSystem::UTCToLocalTime(parts);
    }
    if (zeroDate && !timeOnly && !dateOnly)
    {
        parts[0] = parts[1] = parts[2] = 0;
    }

    if ((inOptions & eRfc3339_UTC) != 0 || (inOptions & eRfc3339_NoOffset) != 0)
    {
        bool utc = (inOptions & eRfc3339_UTC) != 0;
        if (timeOnly)
        {
            text.Time(parts[3], parts[4], parts[5]);
        }
        else if (dateOnly)
        {
            text.Date(parts[0], parts[1], parts[2]);
            utc = false; // the date alone has no "Z"
        }
        else
        {
            text.Date(parts[0], parts[1], parts[2]).Char('T').Time(parts[3], parts[4], parts[5]);
            if (withMilliseconds)
            {
                text.Char('.').Number(parts[6], 3);
            }
        }
        if (utc)
        {
            text.Char('Z');
        }
        text.Into(outText);
        return;
    }

    // Local time with the offset in force at that instant (summer or winter time, or a past rule
    // of the zone): the local fields less the UTC ones, so that the text names the same instant. A
    // time without a date (the zero date) has no instant: the zone's offset now.
    const bool hasDate = utcParts[0] != 0 || utcParts[1] != 0 || utcParts[2] != 0;
    const int64_t offset = hasDate ? LocalOffsetSeconds(utcParts, parts) : VSystem::GetGMTOffset(true);
    const int64_t magnitude = offset < 0 ? -offset : offset;
    if (timeOnly)
    {
        text.Time(parts[3], parts[4], parts[5]);
    }
    else if (dateOnly)
    {
        text.Date(parts[0], parts[1], parts[2]);
    }
    else
    {
        text.Date(parts[0], parts[1], parts[2]).Char('T').Time(parts[3], parts[4], parts[5]);
    }
    text.Char(offset < 0 ? '-' : '+')
        .Number(magnitude / 3600, 2)
        .Char(':')
        .Number((magnitude % 3600) / 60, 2);
    text.Into(outText);
}

bool VTime::FromRfc3339String(const VString& inText)
{
    char buffer[kReaderBufferSize];
    int32_t length = 0;
    if (inText.IsNull() || inText.GetLength() == 0 || !ToReaderBuffer(inText, buffer, length))
    {
        SetNull(true);
        SetDirty(true);
        return false;
    }
    auto fail = [this](bool inResult)
    {
        SetNull(true);
        SetDirty(true);
        return inResult;
    };

    enum class Shape
    {
        kFull,
        kTime,
        kDate,
        kNumber
    };
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    double seconds = 0;
    Shape shape;
    Scanner scan(buffer);
    const int32_t colon = FirstPosition(buffer, length, ':');
    if (FirstPosition(buffer, length, 'T') == 11)
    {
        shape = Shape::kFull;
        // "%4d-%2d-%2dT%2d:%2d:%lf"
        scan.Int(year, 4) && scan.Literal('-') && scan.Int(month, 2) && scan.Literal('-') &&
            scan.Int(day, 2) && scan.Literal('T') && scan.Int(hour, 2) && scan.Literal(':') &&
            scan.Int(minute, 2) && scan.Literal(':') && scan.Real(seconds);
    }
    else if (colon >= 3 && colon <= 5)
    {
        shape = Shape::kTime;
        // "%d:%2d:%lf"
        scan.Int(hour) && scan.Literal(':') && scan.Int(minute, 2) && scan.Literal(':') && scan.Real(seconds);
    }
    else if (FirstPosition(buffer, length, '-') == 5)
    {
        shape = Shape::kDate;
        // "%4d-%2d-%2d"
        scan.Int(year, 4) && scan.Literal('-') && scan.Int(month, 2) && scan.Literal('-') && scan.Int(day, 2);
    }
    else
    {
        shape = Shape::kNumber;
        // "%d", seconds since midnight
        int count = 0;
        if (scan.Int(count))
        {
            hour = count / 3600;
            minute = (count % 3600) / 60;
        }
    }
    const int fields = shape == Shape::kNumber && scan.Converted() == 1 ? 3 : scan.Converted();
    if (scan.Overflowed())
    {
        return fail(false);
    }

    const double wholeSeconds = std::trunc(seconds);
    // The fraction is rounded to the microsecond before it is truncated to the millisecond, so
    // that a decimal fraction (".123", inexact in binary) reads as written.
    const int milliseconds =
        static_cast<int>(std::trunc(std::nearbyint((seconds - wholeSeconds) * 1000000.0) / 1000.0));
    const auto whole = static_cast<int64_t>(wholeSeconds);

    const bool utc = length < 11 || std::memchr(buffer, 'Z', static_cast<size_t>(length)) != nullptr;
    const char* sign = std::strrchr(buffer, '+');
    if (sign == nullptr)
    {
        sign = std::strrchr(buffer, '-');
        if (sign != nullptr && sign - buffer + 1 < 11)
        {
            sign = nullptr;
        }
    }

    const int expected = shape == Shape::kFull   ? 6
                         : shape == Shape::kDate ? 3
                         : shape == Shape::kTime ? 2
                                                 : 3;
    if (fields < expected)
    {
        return fail(false);
    }
    const bool hasDate = year != 0 || month != 0 || day != 0;
    if (hasDate && !IsValidReaderDate(year, month, day))
    {
        // An impossible date is a null time, and reading it succeeded: in the full form as in the
        // date form (which would otherwise leave the zero date, a valid time, behind).
        return fail(true);
    }
    // Seconds are handed on in 16 bits; local times carry what is out of range, so a value that
    // does not fit must not be narrowed into one that does.
    if (whole < INT16_MIN || whole > INT16_MAX)
    {
        return fail(false);
    }
    if (shape == Shape::kFull && !hasDate && hour == 0 && minute == 0 && whole == 0 && milliseconds == 0)
    {
        return fail(true); // "0000-00-00T00:00:00Z" is the text of a null time
    }

    if (!hasDate)
    {
        // A time of day without a date: 'Z' and offsets do not apply. Formed in 64 bits and kept
        // modulo 2^32, as the zero date's unchecked parts are.
        fYear = 0;
        fMonth = 0;
        fDay = 0;
        fMilliseconds = static_cast<int32_t>(static_cast<uint32_t>(
            int64_t{hour} * 3600000 + int64_t{minute} * 60000 + whole * 1000 + milliseconds));
        SetNull(false);
        SetDirty(true);
        return true;
    }

    const bool full = shape == Shape::kFull;
    const int16_t h = full ? Part16(hour) : int16_t{0};
    const int16_t mi = full ? Part16(minute) : int16_t{0};
    const int16_t s = full ? Part16(whole) : int16_t{0};
    if (utc)
    {
        FromUTCTime(Part16(year), Part16(month), Part16(day), h, mi, s, 0);
    }
    else if (sign != nullptr)
    {
        if (!full)
        {
            return fail(false); // a date alone with an offset is not read
        }
        Scanner offsetScan(sign + 1);
        int offsetHours = 0;
        int offsetMinutes = 0;
        if (!(offsetScan.Int(offsetHours, 2) && offsetScan.Literal(':') && offsetScan.Int(offsetMinutes, 2)))
        {
            return fail(false);
        }
        if (*sign == '-')
        {
            offsetHours = -offsetHours;
            offsetMinutes = -offsetMinutes;
        }
        // The fields are the time at that offset from UTC, whatever the zone in force here (going
        // through this zone's local time and today's offset gave another instant whenever the
        // date's offset differs from today's).
        FromUTCTime(Part16(year), Part16(month), Part16(day), h, mi, s, 0);
        if (!IsNull())
        {
            AddSeconds(-(offsetHours * 60 + offsetMinutes) * 60);
        }
    }
    else
    {
        FromLocalTime(Part16(year), Part16(month), Part16(day), h, mi, s, 0);
    }
    // Only a time that was set takes the milliseconds: added to a null time (-1 ms) they would
    // make a date near the start of the day scale.
    if (milliseconds != 0 && !IsNull())
    {
        FromMilliseconds(GetMilliseconds() + milliseconds);
    }
    return true;
}

// XML and JSON

bool VTime::FromXMLString(const VString& inValue)
{
    const UniChar* units = inValue.GetCPointer();
    const int32_t length = inValue.GetLength();
    if (length >= 3 && units[0] == u'!' && units[1] == u'!')
    {
        // "!!" and three characters would overlap the two markers: nothing is left between them.
        VString inner;
        if (length > 4)
        {
            inner.FromUniCString(units + 2, length - 4);
        }
        return FromRfc3339String(inner);
    }
    for (int32_t i = 0; i < length; ++i)
    {
        if (units[i] == u'!')
        {
            FromString(inValue);
            return true;
        }
    }
    return FromRfc3339String(inValue);
}

VError VTime::GetJSONString(VString& outJSONString, JSONStringOptions inOptions) const
{
    const bool shortDate = (inOptions & eJSON_ShortDate) != 0 && fMilliseconds == 0;
    GetRfc3339String(outJSONString, shortDate ? eRfc3339_UTC | eRfc3339_DateOnly : eRfc3339_UTC);
    const bool quoted = (inOptions & eJSON_Quoted) != 0;
    const bool markers = (inOptions & eJSON_Markers) != 0;
    if (quoted || markers)
    {
        VString text;
        if (quoted)
        {
            text.AppendUniChar(u'"');
        }
        if (markers)
        {
            text.AppendCString("!!");
        }
        text.AppendString(outJSONString);
        if (markers)
        {
            text.AppendCString("!!");
        }
        if (quoted)
        {
            text.AppendUniChar(u'"');
        }
        outJSONString = text;
    }
    return VE_OK;
}

VError VTime::FromJSONString(const VString& inJSONString, JSONStringOptions)
{
    FromXMLString(inJSONString);
    return VE_OK;
}

VError VTime::GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions inOptions) const
{
    if (IsNull())
    {
        detail::SetJSONNull(outJSONValue);
    }
    else if ((inOptions & 1) != 0)
    {
        detail::SetJSONTime(outJSONValue, *this);
    }
    else
    {
        VString text;
        GetJSONString(text, 0);
        detail::SetJSONString(outJSONValue, text);
    }
    return VE_OK;
}

VError VTime::FromJSONValue(const VJSONValue& inJSONValue)
{
    detail::JSONScalar scalar;
    if (!detail::GetJSONScalar(inJSONValue, scalar))
    {
        return VE_OK;
    }
    if (scalar.fIsNull)
    {
        SetNull(true);
        SetDirty(true);
        return VE_OK;
    }
    VString text;
    detail::GetJSONString(inJSONValue, text);
    FromXMLString(text);
    return VE_OK;
}

// RFC 822

void VTime::GetRfc822String(VString& outText) const
{
    outText.Clear();
    DateWriter text;
    int16_t parts[7];
    GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    if (!IsNull())
    {
        const int32_t weekDay = GetWeekDay();
        if (weekDay >= 0 && weekDay < 7)
        {
            text.Text(kWeekDayNames[weekDay]);
        }
    }
    text.Text(", ").Number(parts[2], 2).Char(' ');
    if (!IsNull() && parts[1] >= 1 && parts[1] <= 12)
    {
        text.Text(kMonthNames[parts[1] - 1]);
    }
    text.Char(' ').Number(parts[0], 4).Char(' ').Time(parts[3], parts[4], parts[5]).Text(" GMT");
    text.Into(outText);
}

void VTime::FromRfc822String(const VString& inText)
{
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    int32_t pos = 0;
    bool overflow = false;
    // The next run of digits, or 0 when the text ends first.
    auto nextNumber = [&]() -> int64_t
    {
        while (pos < length && !IsDigitUnit(manager, units[pos]))
        {
            ++pos;
        }
        DigitRun run;
        while (pos < length && IsDigitUnit(manager, units[pos]))
        {
            run.Add(u_charDigitValue(units[pos]));
            ++pos;
        }
        overflow = overflow || run.fOverflow;
        return run.fValue;
    };

    int64_t parts[6] = {}; // day, month, year, hour, minute, second
    parts[0] = nextNumber();
    while (pos < length && !IsAlphaUnit(manager, units[pos]))
    {
        ++pos;
    }
    const int32_t nameStart = pos;
    while (pos < length && IsAlphaUnit(manager, units[pos]))
    {
        ++pos;
    }
    if (pos > nameStart)
    {
        const int32_t nameLength = pos - nameStart;
        VString name(units + nameStart, nameLength);
        for (int month = 0; month < 12; ++month)
        {
            VString full(kFullMonthNames[month]);
            if (nameLength > full.GetLength())
            {
                continue;
            }
            full.Truncate(std::max<int32_t>(nameLength, 3));
            if (name.EqualToString(full, false))
            {
                parts[1] = month + 1;
                break;
            }
        }
    }
    for (int i = 2; i < 6; ++i)
    {
        parts[i] = nextNumber();
    }
    if (overflow)
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    FromUTCTime(Part16(parts[2]), Part16(parts[1]), Part16(parts[0]), Part16(parts[3]), Part16(parts[4]),
                Part16(parts[5]), 0);
}

// Loose reader and the day!month!year form

void VTime::FromString(const VString& inValue)
{
    const UniChar* units = inValue.GetCPointer();
    const int32_t length = inValue.GetLength();
    int64_t numbers[7] = {};
    int count = 0;
    bool marked = false;
    bool overflow = false;
    DigitRun run;
    for (int32_t i = 0; i <= length && count < 7; ++i)
    {
        const UniChar unit = i < length ? units[i] : 0;
        if (i < length && unit >= u'0' && unit <= u'9')
        {
            run.Add(unit - u'0');
            continue;
        }
        // A '!' within the first number marks the day!month!year form; a later one ends a text
        // that is not of that form, after the number it closes.
        const bool stop = unit == u'!' && i < length && count > 0 && !marked;
        if (unit == u'!' && i < length && count == 0)
        {
            marked = true;
        }
        if (run.fHasDigits)
        {
            overflow = overflow || run.fOverflow;
            numbers[count++] = run.fValue;
            run = DigitRun();
        }
        if (stop)
        {
            break;
        }
    }
    if (overflow)
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    if (!marked)
    {
        FromUTCTime(Part16(numbers[0]), Part16(numbers[1]), Part16(numbers[2]), Part16(numbers[3]),
                    Part16(numbers[4]), Part16(numbers[5]), Part16(numbers[6]));
        return;
    }
    const int64_t day = numbers[0];
    const int64_t month = numbers[1];
    const int64_t year = numbers[2];
    if (day == 0 && month == 0 && year == 0)
    {
        Clear();
        return;
    }
    const bool valid =
        day >= 1 && month >= 1 && month <= 12 && year <= INT16_MAX &&
        CheckDate(static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day));
    if (!valid)
    {
        Clear();
        SetNull(true);
        return;
    }
    fYear = static_cast<int16_t>(year);
    fMonth = static_cast<uint8_t>(month);
    fDay = static_cast<uint8_t>(day);
    fMilliseconds = 0;
    SetNull(false);
    SetDirty(true);
}

void VTime::toSimpleDateString(VString& outText) const
{
    if (IsNull())
    {
        outText.SetNull(true);
        return;
    }
    DateWriter text;
    text.Number(fDay, 1).Char('!').Number(fMonth, 1).Char('!').Number(fYear, 1).Into(outText);
}

// Display

void VTime::FormatByOS(VString& outDate, VString& outTime, bool inGMT) const
{
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    if (IsNull() || manager == nullptr)
    {
        outDate.Clear();
        outTime.Clear();
        return;
    }
    manager->FormatDate(*this, outDate, eOS_SHORT_FORMAT, inGMT);
    manager->FormatTime(*this, outTime, eOS_SHORT_FORMAT, inGMT);
}

void VTime::FormatByOS(VString& outText, bool inGMT) const
{
    if (IsNull())
    {
        outText.Clear();
        return;
    }
    VString time;
    FormatByOS(outText, time, inGMT);
    outText.AppendUniChar(u' ');
    outText.AppendString(time);
}

void VTime::GetStringLocalTime(VString& outText) const
{
    outText.Clear();
    if (IsNull())
    {
        return;
    }
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    DateWriter text;
    text.Date(parts[0], parts[1], parts[2]).Char(' ').Time(parts[3], parts[4], parts[5]).Char(':');
    text.Number(parts[6], 3).Into(outText);
}

void VTime::FromCompilerDateTime(const char* inDate, const char* inTime)
{
    // The two texts are joined with a blank and cut at blanks, commas and colons.
    char buffer[kReaderBufferSize];
    const size_t dateLength = inDate != nullptr ? std::strlen(inDate) : 0;
    const size_t timeLength = inTime != nullptr ? std::strlen(inTime) : 0;
    if (dateLength + 1 + timeLength >= sizeof(buffer))
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    if (dateLength > 0)
    {
        std::memcpy(buffer, inDate, dateLength);
    }
    buffer[dateLength] = ' ';
    if (timeLength > 0)
    {
        std::memcpy(buffer + dateLength + 1, inTime, timeLength);
    }
    buffer[dateLength + 1 + timeLength] = 0;

    int64_t parts[7] = {}; // year, month, day, hour, minute, second, millisecond
    // Tokens after the month: day, year, hour, minute, second.
    static constexpr int kOrder[5] = {2, 0, 3, 4, 5};
    int token = 0;
    bool overflow = false;
    char* rest = buffer;
    while (token < 6)
    {
        const size_t skip = std::strspn(rest, " ,:");
        rest += skip;
        if (*rest == 0)
        {
            break;
        }
        const size_t size = std::strcspn(rest, " ,:");
        if (token == 0)
        {
            for (int month = 0; month < 12; ++month)
            {
                const char* name = kMonthNames[month];
                // "Dec" or "dec"
                if (size == 3 && (rest[0] == name[0] || rest[0] == name[0] + ('a' - 'A')) &&
                    rest[1] == name[1] && rest[2] == name[2])
                {
                    parts[1] = month + 1;
                }
            }
        }
        else
        {
            // atoi: leading blanks are separators here, then an optional sign and digits.
            int value = 0;
            const char* start = rest + (rest[0] == '+' ? 1 : 0);
            auto [end, error] = std::from_chars(start, rest + size, value);
            if (error == std::errc::result_out_of_range)
            {
                overflow = true;
            }
            else if (end != start)
            {
                parts[kOrder[token - 1]] = value;
            }
        }
        rest += size;
        ++token;
    }
    // Local parts are carried when out of range: an unknown month (0) would become December of
    // the year before, and a number beyond 16 bits would be narrowed into a plausible one.
    if (token > 0 && parts[1] == 0)
    {
        overflow = true;
    }
    int16_t local[7];
    for (int i = 0; i < 7; ++i)
    {
        if (parts[i] < INT16_MIN || parts[i] > INT16_MAX)
        {
            overflow = true;
        }
        local[i] = static_cast<int16_t>(parts[i]);
    }
    if (overflow)
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    VSystem::LocalToUTCTime(local);
    FromUTCTime(local[0], local[1], local[2], local[3], local[4], local[5], local[6]);
}

} // namespace zorn
