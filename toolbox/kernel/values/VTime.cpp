#include "toolbox/kernel/values/VTime.h"

#include "toolbox/kernel/base/ByteSwap.h"
#include "toolbox/kernel/streams/VStream.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VDuration.h"

#include <cstring>
#include <ctime>

namespace zorn
{

namespace
{

constexpr int64_t kDayMilliseconds = 86400000;

// Days of each month (February 29; the leap rule is checked apart), and the days before each month
// in a year that starts on 1 March. Index 0 is unused.
constexpr int16_t kDaysInMonth[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int16_t kDaysBeforeMonth[13] = {0, 306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};

int64_t FloorDiv(int64_t inA, int64_t inB)
{
    int64_t quotient = inA / inB;
    return (inA % inB != 0 && (inA < 0) != (inB < 0)) ? quotient - 1 : quotient;
}

struct Date
{
    int64_t fYear;
    int32_t fMonth;
    int32_t fDay;
};

// The Gregorian date of a day number (the floors of the design's double arithmetic, taken exactly).
Date DateFromDayNumber(int64_t inDayNumber)
{
    // Far beyond year 32767 either way (and before the products below could overflow): no date.
    if (inDayNumber < -1000000000 || inDayNumber > 1000000000)
    {
        return {-1, 1, 1};
    }
    int64_t a = FloorDiv(inDayNumber * 100 - 172111825, 3652425);
    int64_t b = inDayNumber + a - FloorDiv(a, 4);
    int64_t year = FloorDiv(b * 100 - 172111825, 36525);
    int64_t e = (b - 365 * year - 1721118) - FloorDiv(year, 4);
    auto month = static_cast<int32_t>((5 * e + 456) / 153);
    auto day = static_cast<int32_t>(e - (153 * month - 457) / 5);
    if (month >= 13)
    {
        ++year;
        month -= 12;
    }
    return {year, month, day};
}

uint64_t LoadStamp(const void* inData)
{
    uint64_t stamp;
    std::memcpy(&stamp, inData, sizeof(stamp));
    return stamp;
}

template <class T>
CompareResult Compare(T inA, T inB)
{
    return inA < inB ? CR_SMALLER : (inB < inA ? CR_BIGGER : CR_EQUAL);
}

} // namespace

// Construction and fields

const VTime_info& VTime::Info()
{
    static const VTime_info sInfo;
    return sInfo;
}

VTime::VTime(VTimeInitParam inParam)
{
    if (inParam == eInitWithCurrentTime)
    {
        int16_t parts[7];
        VSystem::GetSystemUTCTime(parts);
        FromUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    }
}

VTime::VTime(const uint64_t* inData, bool inUseDefault)
{
    if (!inUseDefault && inData != nullptr)
    {
        FromStamp(LoadStamp(inData));
    }
}

void VTime::Clear()
{
    fYear = 0;
    fMonth = 0;
    fDay = 0;
    fMilliseconds = 0;
    SetNull(false);
    SetDirty(true);
}

void VTime::DoNullChanged()
{
    if (IsNull())
    {
        fYear = 0;
        fMonth = 0;
        fDay = 0;
        fMilliseconds = 0;
    }
}

void VTime::FromSystemTime()
{
    int16_t parts[7];
    VSystem::GetSystemUTCTime(parts);
    fYear = parts[0];
    fMonth = static_cast<uint8_t>(parts[1]);
    fDay = static_cast<uint8_t>(parts[2]);
    fMilliseconds = parts[3] * 3600000 + parts[4] * 60000 + parts[5] * 1000 + parts[6];
    SetNull(false);
    SetDirty(true);
}

void VTime::NullIfZero()
{
    if (fYear == 0 && fMonth == 0 && fDay == 0)
    {
        SetNull(true);
    }
}

void VTime::FromUTCTime(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour, int16_t inMinute,
                        int16_t inSecond, int16_t inMillisecond)
{
    const bool zeroDate = inYear == 0 && inMonth == 0 && inDay == 0;
    // Compared as unsigned, so that negative parts fail.
    auto below = [](int16_t inPart, uint16_t inLimit) { return static_cast<uint16_t>(inPart) < inLimit; };
    const bool dateOK = zeroDate || (CheckDate(inYear, inMonth, inDay));
    const bool timeOK = zeroDate || (below(inMillisecond, 1000) && below(inSecond, 60) &&
                                     below(inMinute, 60) && below(inHour, 24));
    if (!dateOK || !timeOK)
    {
        Clear();
        SetNull(true);
        return;
    }
    fYear = inYear;
    fMonth = static_cast<uint8_t>(inMonth);
    fDay = static_cast<uint8_t>(inDay);
    // Unchecked parts of the zero date may reach past 32 bits: formed in 64, kept modulo 2^32.
    fMilliseconds = static_cast<int32_t>(int64_t{inHour} * 3600000 + int64_t{inMinute} * 60000 +
                                         int64_t{inSecond} * 1000 + inMillisecond);
    SetNull(false);
    SetDirty(true);
}

void VTime::GetUTCTime(int16_t& outYear, int16_t& outMonth, int16_t& outDay, int16_t& outHour,
                       int16_t& outMinute, int16_t& outSecond, int16_t& outMillisecond) const
{
    // A null time holds zeros in every field.
    outYear = fYear;
    outMonth = fMonth;
    outDay = fDay;
    outHour = static_cast<int16_t>(fMilliseconds / 3600000);
    outMinute = static_cast<int16_t>((fMilliseconds % 3600000) / 60000);
    outSecond = static_cast<int16_t>((fMilliseconds % 60000) / 1000);
    outMillisecond = static_cast<int16_t>(fMilliseconds % 1000);
}

void VTime::FromTime(const VTime& inTime)
{
    fYear = inTime.fYear;
    fMonth = inTime.fMonth;
    fDay = inTime.fDay;
    fMilliseconds = inTime.fMilliseconds;
    SetNull(inTime.IsNull());
    SetDirty(true);
}

void VTime::FromValue(const VValueSingle& inValue)
{
    inValue.GetTime(*this);
    SetNull(inValue.IsNull());
    SetDirty(true);
}

bool VTime::FromValueSameKind(const VValue* inValue)
{
    FromTime(*static_cast<const VTime*>(inValue));
    return true;
}

uint64_t VTime::GetStamp() const
{
    return (uint64_t{static_cast<uint16_t>(fYear)} << 48) | (uint64_t{fMonth} << 40) |
           (uint64_t{fDay} << 32) | static_cast<uint32_t>(fMilliseconds);
}

void VTime::FromStamp(uint64_t inStamp)
{
    fYear = static_cast<int16_t>(inStamp >> 48);
    fMonth = static_cast<uint8_t>(inStamp >> 40);
    fDay = static_cast<uint8_t>(inStamp >> 32);
    fMilliseconds = static_cast<int32_t>(static_cast<uint32_t>(inStamp));
    SetNull(false);
    SetDirty(true);
}

int64_t VTime::GetMilliseconds() const
{
    if (IsNull())
    {
        return -1;
    }
    if (fYear == 0 && fMonth == 0 && fDay == 0)
    {
        return 0;
    }
    return int64_t{ComputeJulianDay(fYear, fMonth, fDay)} * kDayMilliseconds + fMilliseconds;
}

void VTime::_SetDate(int64_t inYear, int32_t inMonth, int32_t inDay, int32_t inMilliseconds)
{
    if (inYear < 0 || inYear > 32767)
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    fYear = static_cast<int16_t>(inYear);
    fMonth = static_cast<uint8_t>(inMonth);
    fDay = static_cast<uint8_t>(inDay);
    fMilliseconds = inMilliseconds;
    SetNull(false);
    SetDirty(true);
}

void VTime::FromMilliseconds(int64_t inMilliseconds)
{
    if (inMilliseconds == 0)
    {
        Clear();
        return;
    }
    if (inMilliseconds == -1)
    {
        SetNull(true);
        SetDirty(true);
        return;
    }
    int64_t dayNumber = inMilliseconds / kDayMilliseconds;
    Date date = DateFromDayNumber(dayNumber);
    _SetDate(date.fYear, date.fMonth, date.fDay,
             static_cast<int32_t>(inMilliseconds - dayNumber * kDayMilliseconds));
}

// Calendar

bool VTime::IsLeapYear(int32_t inYear)
{
    return (inYear % 4 == 0 && inYear % 100 != 0) || inYear % 400 == 0;
}

bool VTime::CheckDate(int32_t inYear, int32_t inMonth, int32_t inDay)
{
    return inYear >= 0 && inMonth >= 1 && inMonth <= 12 && inDay >= 1 && inDay <= kDaysInMonth[inMonth] &&
           (inMonth != 2 || inDay != 29 || IsLeapYear(inYear));
}

int32_t VTime::ComputeJulianDay(int32_t inYear, int32_t inMonth, int32_t inDay)
{
    int64_t year = inMonth == 1 || inMonth == 2 ? inYear - 1 : inYear;
    int64_t before = inMonth >= 1 && inMonth <= 12 ? kDaysBeforeMonth[inMonth] : 0;
    return static_cast<int32_t>(FloorDiv(year, 4) + 365 * year + before + inDay - FloorDiv(year, 100) +
                                FloorDiv(year, 400) + 1721118);
}

int32_t VTime::ComputeWeekDay(int32_t inYear, int32_t inMonth, int32_t inDay)
{
    int64_t shifted = int64_t{ComputeJulianDay(inYear, inMonth, inDay)} + 2;
    return static_cast<int32_t>(shifted - 7 * FloorDiv(shifted, 7));
}

int32_t VTime::ComputeYearDay(int32_t inYear, int32_t inMonth, int32_t inDay)
{
    return ComputeJulianDay(inYear, inMonth, inDay) - ComputeJulianDay(inYear, 1, 1) + 1;
}

int32_t VTime::GetJulianDay() const
{
    return IsNull() ? -1 : ComputeJulianDay(fYear, fMonth, fDay);
}

int32_t VTime::GetWeekDay() const
{
    return IsNull() ? -1 : ComputeWeekDay(fYear, fMonth, fDay);
}

int32_t VTime::GetYearDay() const
{
    return IsNull() ? -1 : ComputeYearDay(fYear, fMonth, fDay);
}

void VTime::FromJulianDay(int64_t inDayNumber)
{
    Date date = DateFromDayNumber(inDayNumber);
    _SetDate(date.fYear, date.fMonth, date.fDay, 0);
}

void VTime::GetJulianDate(int32_t& outYear, int32_t& outMonth, int32_t& outDay) const
{
    if (IsNull())
    {
        outYear = outMonth = outDay = 0;
        return;
    }
    int64_t dayNumber = ComputeJulianDay(fYear, fMonth, fDay);
    int64_t year = FloorDiv(dayNumber * 100 - 172111625, 36525);
    int64_t e = (dayNumber - 365 * year - 1721116) - FloorDiv(year, 4);
    auto month = static_cast<int32_t>((5 * e + 456) / 153);
    outDay = static_cast<int32_t>(e - (153 * month - 457) / 5);
    if (month >= 13)
    {
        ++year;
        month -= 12;
    }
    outYear = static_cast<int32_t>(year);
    outMonth = month;
}

void VTime::FromJulianDate(int32_t inYear, int32_t inMonth, int32_t inDay)
{
    if (inMonth < 1 || inMonth > 12 || inDay < 1 || inDay > kDaysInMonth[inMonth] ||
        (inMonth == 2 && inDay == 29 && inYear % 4 != 0))
    {
        SetNull(true);
        return;
    }
    FromJulianDay(ComputeJulianDay(inYear, inMonth, inDay));
}

// Arithmetic

void VTime::AddMilliseconds(int64_t inMilliseconds)
{
    int64_t sum;
    if (__builtin_add_overflow(GetMilliseconds(), inMilliseconds, &sum))
    {
        SetNull(true);
        return;
    }
    FromMilliseconds(sum);
}

void VTime::Add(const VDuration& inDuration)
{
    AddMilliseconds(inDuration.ConvertToMilliseconds());
}

void VTime::Substract(const VDuration& inDuration)
{
    int64_t count = inDuration.ConvertToMilliseconds();
    int64_t difference;
    if (__builtin_sub_overflow(GetMilliseconds(), count, &difference))
    {
        SetNull(true);
        return;
    }
    FromMilliseconds(difference);
}

void VTime::Substract(const VTime& inOther, VDuration& outDifference) const
{
    outDifference.FromNbMilliseconds(GetMilliseconds() - inOther.GetMilliseconds());
}

void VTime::AddYears(int32_t inYears)
{
    int64_t year = int64_t{fYear} + inYears;
    if (year < 0 || year > 32767)
    {
        SetNull(true);
        return;
    }
    fYear = static_cast<int16_t>(year);
}

void VTime::AddMonths(int32_t inMonths)
{
    int64_t months = int64_t{fMonth} - 1 + inMonths;
    int64_t year = fYear + FloorDiv(months, 12);
    if (year < 0 || year > 32767)
    {
        SetNull(true);
        return;
    }
    fYear = static_cast<int16_t>(year);
    fMonth = static_cast<uint8_t>(months - 12 * FloorDiv(months, 12) + 1);
}

// Local time

void VTime::GetLocalTime(int16_t& outYear, int16_t& outMonth, int16_t& outDay, int16_t& outHour,
                         int16_t& outMinute, int16_t& outSecond, int16_t& outMillisecond) const
{
    int16_t parts[7];
    GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    VSystem::UTCToLocalTime(parts);
    outYear = parts[0];
    outMonth = parts[1];
    outDay = parts[2];
    outHour = parts[3];
    outMinute = parts[4];
    outSecond = parts[5];
    outMillisecond = parts[6];
}

int16_t VTime::_LocalPart(int inIndex) const
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    return parts[inIndex];
}

void VTime::GetLocalDurationSinceMidnight(VDuration& outDuration) const
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    outDuration.FromNbMilliseconds(int64_t{parts[3]} * 3600000 + parts[4] * 60000 + parts[5] * 1000 +
                                   parts[6]);
}

void VTime::_FromLocalParts(int16_t (&ioParts)[7])
{
    VSystem::LocalToUTCTime(ioParts);
    FromUTCTime(ioParts[0], ioParts[1], ioParts[2], ioParts[3], ioParts[4], ioParts[5], ioParts[6]);
}

void VTime::FromLocalTime(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour, int16_t inMinute,
                          int16_t inSecond, int16_t inMillisecond)
{
    int16_t parts[7] = {inYear, inMonth, inDay, inHour, inMinute, inSecond, inMillisecond};
    _FromLocalParts(parts);
}

void VTime::FromToday(int32_t inMilliseconds)
{
    int16_t parts[7];
    VSystem::GetSystemLocalTime(parts);
    parts[3] = parts[4] = parts[5] = parts[6] = 0;
    _FromLocalParts(parts);
    AddMilliseconds(inMilliseconds);
}

void VTime::_MoveParts(int16_t (&ioParts)[7], int64_t inMilliseconds)
{
    int64_t count = int64_t{ComputeJulianDay(ioParts[0], ioParts[1], ioParts[2])} * kDayMilliseconds +
                    int64_t{ioParts[3]} * 3600000 + ioParts[4] * 60000 + ioParts[5] * 1000 + ioParts[6] +
                    inMilliseconds;
    int64_t dayNumber = FloorDiv(count, kDayMilliseconds);
    int64_t ofDay = count - dayNumber * kDayMilliseconds;
    Date date = DateFromDayNumber(dayNumber);
    // A year outside 16 bits is given as -1 and fails the validation that follows.
    ioParts[0] = date.fYear < 0 || date.fYear > 32767 ? int16_t{-1} : static_cast<int16_t>(date.fYear);
    ioParts[1] = static_cast<int16_t>(date.fMonth);
    ioParts[2] = static_cast<int16_t>(date.fDay);
    ioParts[3] = static_cast<int16_t>(ofDay / 3600000);
    ioParts[4] = static_cast<int16_t>((ofDay % 3600000) / 60000);
    ioParts[5] = static_cast<int16_t>((ofDay % 60000) / 1000);
    ioParts[6] = static_cast<int16_t>(ofDay % 1000);
}

void VTime::SetLocalYear(int16_t inYear)
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    parts[0] = inYear;
    _FromLocalParts(parts);
}

void VTime::SetLocalMonth(int16_t inMonth)
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    int64_t carry = FloorDiv(int64_t{inMonth} - 1, 12);
    int64_t year = parts[0] + carry;
    parts[0] = year < 0 || year > 32767 ? int16_t{-1} : static_cast<int16_t>(year);
    parts[1] = static_cast<int16_t>(inMonth - 12 * carry);
    _FromLocalParts(parts);
}

void VTime::SetLocalDay(int16_t inDay)
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    _MoveParts(parts, (int64_t{inDay} - parts[2]) * kDayMilliseconds);
    _FromLocalParts(parts);
}

void VTime::_SetLocalTimePart(int inIndex, int64_t inUnit, int16_t inValue)
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    parts[inIndex] = 0;
    _MoveParts(parts, inValue * inUnit);
    _FromLocalParts(parts);
}

void VTime::SetLocalHour(int16_t inHour)
{
    _SetLocalTimePart(3, 3600000, inHour);
}

void VTime::SetLocalMinute(int16_t inMinute)
{
    _SetLocalTimePart(4, 60000, inMinute);
}

void VTime::SetLocalSecond(int16_t inSecond)
{
    _SetLocalTimePart(5, 1000, inSecond);
}

void VTime::SetLocalMillisecond(int16_t inMillisecond)
{
    _SetLocalTimePart(6, 1, inMillisecond);
}

int64_t VTime::GetLocalUnixTime(bool inWithMilliseconds) const
{
    int16_t parts[7];
    GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    std::tm local{};
    local.tm_year = parts[0] - 1900;
    local.tm_mon = parts[1] - 1;
    local.tm_mday = parts[2];
    local.tm_hour = parts[3];
    local.tm_min = parts[4];
    local.tm_sec = parts[5];
    local.tm_isdst = -1;
    auto seconds = static_cast<int64_t>(std::mktime(&local));
    return inWithMilliseconds ? seconds * 1000 + parts[6] : seconds;
}

// Comparisons

CompareResult VTime::CompareTo(const VTime& inOther) const
{
    if (fYear != inOther.fYear)
    {
        return Compare(fYear, inOther.fYear);
    }
    // The month and day bytes compare as signed numbers.
    if (fMonth != inOther.fMonth)
    {
        return Compare(static_cast<int8_t>(fMonth), static_cast<int8_t>(inOther.fMonth));
    }
    if (fDay != inOther.fDay)
    {
        return Compare(static_cast<int8_t>(fDay), static_cast<int8_t>(inOther.fDay));
    }
    return Compare(fMilliseconds, inOther.fMilliseconds);
}

CompareResult VTime::CompareTo(const VValueSingle& inValue, bool) const
{
    VTime other;
    inValue.GetTime(other);
    other.SetNull(inValue.IsNull());
    return CompareTo(other);
}

CompareResult VTime::CompareToSameKind(const VValue* inValue, bool) const
{
    return CompareTo(*static_cast<const VTime*>(inValue));
}

bool VTime::EqualToSameKind(const VValue* inValue, bool) const
{
    return CompareToSameKind(inValue) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareTo(VTime(LoadStamp(inPtrToValueData)));
}

bool VTime::EqualToSameKindPtr(const void* inPtrToValueData, bool) const
{
    return CompareToSameKindPtr(inPtrToValueData) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return CompareToSameKind(inValue);
}

bool VTime::EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions&) const
{
    return EqualToSameKind(inValue);
}

CompareResult VTime::CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                     const VCompareOptions&) const
{
    return CompareToSameKindPtr(inPtrToValueData);
}

bool VTime::EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions&) const
{
    return EqualToSameKindPtr(inPtrToValueData);
}

// Raw memory and streams

const void* VTime::LoadFromPtr(const void* inData, bool)
{
    FromStamp(LoadStamp(inData));
    return static_cast<const char*>(inData) + 8;
}

void* VTime::WriteToPtr(void* ioData, bool, size_t) const
{
    uint64_t stamp = GetStamp();
    std::memcpy(ioData, &stamp, sizeof(stamp));
    return static_cast<char*>(ioData) + sizeof(stamp);
}

VError VTime::WriteToStream(VStream* ioStream, int32_t) const
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    const bool swap = ioStream->NeedSwap();
    unsigned char bytes[8];
    int16_t year = swap ? ByteSwapped(fYear) : fYear;
    int32_t milliseconds = swap ? ByteSwapped(fMilliseconds) : fMilliseconds;
    std::memcpy(bytes, &year, 2);
    bytes[2] = fMonth;
    bytes[3] = fDay;
    std::memcpy(bytes + 4, &milliseconds, 4);
    ioStream->PutData(bytes, sizeof(bytes));
    return ioStream->GetLastError();
}

VError VTime::ReadFromStream(VStream* ioStream, int32_t)
{
    if (ioStream == nullptr)
    {
        return VE_OK;
    }
    unsigned char bytes[8];
    size_t count = 0;
    if (ioStream->GetData(bytes, sizeof(bytes), &count) == VE_OK && count == sizeof(bytes))
    {
        const bool swap = ioStream->NeedSwap();
        int16_t year;
        int32_t milliseconds;
        std::memcpy(&year, bytes, 2);
        std::memcpy(&milliseconds, bytes + 4, 4);
        fYear = swap ? ByteSwapped(year) : year;
        fMonth = bytes[2];
        fDay = bytes[3];
        fMilliseconds = swap ? ByteSwapped(milliseconds) : milliseconds;
    }
    return ioStream->GetLastError();
}

} // namespace zorn
