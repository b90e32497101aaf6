// VTime: the value kind 8, a date and a time of day in UTC with millisecond precision, held as
// calendar fields: year (16 bits), month, day, and the milliseconds since midnight. It lives in
// the kernel beside the scalars because tasks, errors and JSON values need it.
//
// Choices and limits:
// - The zero date (year, month and day 0) is a valid, non-null state: a time without a date. Day
//   number operations count it as 0. A null time has all fields 0.
// - Day numbers follow the proleptic Gregorian calendar on a scale where 1 January 2000 is
//   2451544 (1 January 1970 is 2440587); the week day is (day number + 2) mod 7, 0 Sunday.
// - FromUTCTime validates (a bad date or time makes the time null); FromStamp, LoadFromPtr,
//   FromSystemTime, AddYears, AddMonths and ReadFromStream store what they are given.
// - A computed year outside 0 to 32767 (FromMilliseconds, FromJulianDay, AddYears, AddMonths)
//   makes the time null rather than wrapping the 16-bit year. AddMonths and SetLocalMonth divide
//   by floor, so the month stays in 1 to 12 when moving backwards.
// - The stamp: year in bits 48-63, month 40-47, day 32-39, milliseconds of the day 0-31; stamps of
//   valid times order chronologically. It is the pointer form. The stream form is 8 bytes: year
//   (16 bits), month, day, milliseconds (32 bits), the multi-byte fields in the stream's order.
// - Local time goes through VSystem's time-zone conversions.
// - Text forms (VTime_Text.cpp): RFC 3339 (also the XML and JSON text, "!!" markers telling a
//   date from a plain string), RFC 822 in GMT, a loose numeric reader with a day!month!year form,
//   display text through the task's international manager, and the compiler's build date. The
//   readers take outside input: numbers are range-checked (a field that overflows makes the time
//   null), a text over 255 UTF-8 bytes is refused, and they report failure only through the null
//   flag and, for the RFC 3339 and XML readers, the returned bool. The writers never fail.
// - Comparisons never look at the null flags.
#pragma once

#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <cstdint>

namespace zorn
{

class VTime;
class VDuration;
using VTime_info = VValueInfo_scalar<VTime, VK_TIME, uint64_t>;

enum VTimeInitParam
{
    eInitWithZero = 0,
    eInitWithCurrentTime = 1,
};

class VTime : public VValueSingle
{
public:
    VTime() = default;
    // eInitWithCurrentTime: now (UTC); anything else: the zero date.
    explicit VTime(VTimeInitParam inParam);
    VTime(const VTime& inOther) = default;
    explicit VTime(uint64_t inStamp) { FromStamp(inStamp); }
    // From the stamp at inData, or the zero date when inUseDefault; not null.
    VTime(const uint64_t* inData, bool inUseDefault);
    VTime operator=(const VTime& inOther)
    {
        FromTime(inOther);
        return *this;
    }
    ~VTime() override = default;

    static const VTime_info& Info();
    const VValueInfo* GetValueInfo() const override { return &Info(); }
    VValue* Clone() const override { return new VTime(*this); }
    bool CanBeEvaluated() const override { return true; }
    // The zero date with 0 ms, not null.
    void Clear() override;

    static void Now(VTime& outTime) { outTime.FromSystemTime(); }
    // The current UTC time, stored without validation.
    void FromSystemTime();
    void NullIfZero();

    // Validating setter (see the header comment); year, month and day all 0 store the time of day
    // unchecked.
    void FromUTCTime(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour, int16_t inMinute,
                     int16_t inSecond, int16_t inMillisecond);
    // The fields; zeros for a null time.
    void GetUTCTime(int16_t& outYear, int16_t& outMonth, int16_t& outDay, int16_t& outHour,
                    int16_t& outMinute, int16_t& outSecond, int16_t& outMillisecond) const;
    void FromTime(const VTime& inTime) override;
    void GetTime(VTime& outTime) const override { outTime.FromTime(*this); }
    void GetValue(VValueSingle& outValue) const override { outValue.FromTime(*this); }
    void FromValue(const VValueSingle& inValue) override;
    bool FromValueSameKind(const VValue* inValue) override;

    uint64_t GetStamp() const;
    void FromStamp(uint64_t inStamp);
    double GetReal() const override { return static_cast<double>(GetStamp()); }
    // -1 for a null time, 0 for the zero date, else day number x 86400000 + milliseconds.
    int64_t GetMilliseconds() const;
    int64_t GetLong8OrMilliSeconds() const override { return GetMilliseconds(); }
    // 0: the zero date; -1: null; else the date of n / 86400000 and the rest as the time of day.
    void FromMilliseconds(int64_t inMilliseconds);

    int16_t GetYear() const { return fYear; }
    int16_t GetMonth() const { return fMonth; }
    int16_t GetDay() const { return fDay; }
    int32_t GetMillisecondsOfDay() const { return fMilliseconds; }

    // Calendar.
    static bool IsLeapYear(int32_t inYear);
    static bool CheckDate(int32_t inYear, int32_t inMonth, int32_t inDay);
    static int32_t ComputeJulianDay(int32_t inYear, int32_t inMonth, int32_t inDay);
    static int32_t ComputeWeekDay(int32_t inYear, int32_t inMonth, int32_t inDay);
    static int32_t ComputeYearDay(int32_t inYear, int32_t inMonth, int32_t inDay);
    // The members give -1 for a null time.
    int32_t GetJulianDay() const;
    int32_t GetWeekDay() const;
    int32_t GetYearDay() const;
    void FromJulianDay(int64_t inDayNumber);
    // The stored day as a date of the Julian calendar; zeros for a null time.
    void GetJulianDate(int32_t& outYear, int32_t& outMonth, int32_t& outDay) const;
    // Stores the date (with the Julian leap rule checked), 0 ms; an impossible date only sets null.
    void FromJulianDate(int32_t inYear, int32_t inMonth, int32_t inDay);

    // Arithmetic through the millisecond count.
    void Add(const VDuration& inDuration);
    void Substract(const VDuration& inDuration);
    void Substract(const VTime& inOther, VDuration& outDifference) const;
    void AddDays(int32_t inDays) { AddMilliseconds(int64_t{inDays} * 86400000); }
    void AddHours(int32_t inHours) { AddMilliseconds(int64_t{inHours} * 3600000); }
    void AddMinutes(int32_t inMinutes) { AddMilliseconds(int64_t{inMinutes} * 60000); }
    void AddSeconds(int32_t inSeconds) { AddMilliseconds(int64_t{inSeconds} * 1000); }
    void AddMilliseconds(int64_t inMilliseconds);
    // Move the year or month fields (carrying whole years); the day is not clamped.
    void AddYears(int32_t inYears);
    void AddMonths(int32_t inMonths);

    // Local time (the system's time zone).
    void GetLocalTime(int16_t& outYear, int16_t& outMonth, int16_t& outDay, int16_t& outHour,
                      int16_t& outMinute, int16_t& outSecond, int16_t& outMillisecond) const;
    int16_t GetLocalYear() const { return _LocalPart(0); }
    int16_t GetLocalMonth() const { return _LocalPart(1); }
    int16_t GetLocalDay() const { return _LocalPart(2); }
    int16_t GetLocalHour() const { return _LocalPart(3); }
    int16_t GetLocalMinute() const { return _LocalPart(4); }
    int16_t GetLocalSecond() const { return _LocalPart(5); }
    int16_t GetLocalMillisecond() const { return _LocalPart(6); }
    void GetLocalDurationSinceMidnight(VDuration& outDuration) const;
    void FromLocalTime(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour, int16_t inMinute,
                       int16_t inSecond, int16_t inMillisecond);
    // Today's local midnight, moved forward by inMilliseconds.
    void FromToday(int32_t inMilliseconds);
    void SetLocalYear(int16_t inYear);
    void SetLocalMonth(int16_t inMonth);
    void SetLocalDay(int16_t inDay);
    void SetLocalHour(int16_t inHour);
    void SetLocalMinute(int16_t inMinute);
    void SetLocalSecond(int16_t inSecond);
    void SetLocalMillisecond(int16_t inMillisecond);
    // The local parts through the C library's mktime: seconds, or milliseconds.
    int64_t GetLocalUnixTime(bool inWithMilliseconds = false) const;

    // Comparisons: year, month, day, then milliseconds.
    CompareResult CompareTo(const VTime& inOther) const;
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                       bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;
    bool operator==(const VTime& inOther) const { return CompareTo(inOther) == CR_EQUAL; }
    bool operator!=(const VTime& inOther) const { return CompareTo(inOther) != CR_EQUAL; }
    bool operator<(const VTime& inOther) const { return CompareTo(inOther) == CR_SMALLER; }
    bool operator<=(const VTime& inOther) const { return CompareTo(inOther) != CR_BIGGER; }
    bool operator>(const VTime& inOther) const { return CompareTo(inOther) == CR_BIGGER; }
    bool operator>=(const VTime& inOther) const { return CompareTo(inOther) != CR_SMALLER; }

    // Option flags of GetRfc3339String (and GetXMLString).
    enum : uint32_t
    {
        eRfc3339_UTC = 1,            // UTC with "Z"; else local time
        eRfc3339_NoOffset = 2,       // local time without offset
        eRfc3339_TimeOnly = 4,       // the time of day alone
        eRfc3339_DateOnly = 8,       // the date alone
        eRfc3339_ZeroDate = 16,      // year, month and day written as 0
        eRfc3339_NoMilliseconds = 32 // UTC and no-offset forms without milliseconds
    };
    // Option flags of GetJSONString; the other bits are ignored.
    enum : uint32_t
    {
        eJSON_Quoted = 0x1,      // in double quotes
        eJSON_ShortDate = 0x200, // the date alone when the milliseconds of the day are 0
        eJSON_Markers = 0x1000   // between "!!" markers
    };

    // RFC 3339. A null time writes "0000-00-00T00:00:00Z" whatever the options. The local form with
    // an offset never has milliseconds; its offset is the zone's at that instant (summer or winter
    // time, past rules), today's only for a time without a date.
    void GetRfc3339String(VString& outText, uint32_t inOptions) const;
    // Full form ("2026-12-09T10:30:05.250Z", an offset, or local without either), the date alone
    // (UTC: shorter than 11 characters), a time alone ("10:30", the zero date with that time), or a
    // count of seconds since midnight. False, with a null time, for an empty, unreadable, too long
    // or overflowing text; "0000-00-00T00:00:00Z" and an impossible date give a null time and true.
    // A date alone followed by an offset is refused. Times without a date ignore 'Z' and offsets.
    // A full form with an offset is the instant at that offset from UTC, whatever the zone here.
    bool FromRfc3339String(const VString& inText);
    void GetXMLString(VString& outValue, JSONStringOptions inOptions = 0) const override
    {
        GetRfc3339String(outValue, inOptions);
    }
    // "!!text!!" and a text without '!' are read as RFC 3339; any other text by FromString (true).
    bool FromXMLString(const VString& inValue) override;

    // JSON text: the full UTC form (see the eJSON_ flags); read as FromXMLString. Both return 0.
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
    // A null time gives the JSON null; option 1 a JSON date (the UTC day only), else a JSON string
    // of the full UTC form. Nothing while the JSON layer is not installed.
    VError GetJSONValue(VJSONValue& outJSONValue) const override { return GetJSONValue(outJSONValue, 0); }
    VError GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions inOptions) const;
    // The JSON null gives a null time; any other value is read as FromXMLString of its text.
    VError FromJSONValue(const VJSONValue& inJSONValue) override;

    // "Wed, 09 Dec 2026 10:30:05 GMT".
    void GetRfc822String(VString& outText) const;
    // Day, month name, year, hour, minute, second as runs of digits and letters, taken as UTC; the
    // week day and zone are ignored; a missing part is 0. The month is its three-letter name, its
    // full English name, or a beginning of that of at least three letters ("Sept"), in any case;
    // any other word gives month 0.
    void FromRfc822String(const VString& inText);

    // Up to seven numbers (year, month, day, hour, minute, second, millisecond) in UTC, or
    // "9!12!2026" (day!month!year) at midnight UTC; an impossible date gives a null time.
    void FromString(const VString& inValue) override;
    // "9!12!2026"; a null time gives a null string.
    void toSimpleDateString(VString& outText) const;

    // Display text in the current task's international manager, short styles: the date, then the
    // time; joined with a blank by the first form. GetString is FormatByOS(out, true).
    void GetString(VString& outValue) const override { FormatByOS(outValue, true); }
    void FormatByOS(VString& outText, bool inGMT) const;
    void FormatByOS(VString& outDate, VString& outTime, bool inGMT) const;
    // Local time for logs: "2026-12-09 11:30:05:250"; empty for a null time.
    void GetStringLocalTime(VString& outText) const;
    // The compiler's __DATE__ ("Dec  9 2026") and __TIME__ ("10:30:05"), taken as local time.
    void FromCompilerDateTime(const char* inDate, const char* inTime);

    // Raw memory and streams.
    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t /*inMax*/ = 0) const override { return 8; }
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;

protected:
    void DoNullChanged() override;

private:
    // Stores a valid date (or null when the year is outside 0 to 32767) with the time of day.
    void _SetDate(int64_t inYear, int32_t inMonth, int32_t inDay, int32_t inMilliseconds);
    int16_t _LocalPart(int inIndex) const;
    // Replaces the local parts by inParts (local), converted to UTC and validated.
    void _FromLocalParts(int16_t (&ioParts)[7]);
    // Moves local parts by inMilliseconds through the day-number scale.
    static void _MoveParts(int16_t (&ioParts)[7], int64_t inMilliseconds);
    // Sets the local part at inIndex (hour to millisecond) to inValue units, carrying over.
    void _SetLocalTimePart(int inIndex, int64_t inUnit, int16_t inValue);

    int16_t fYear = 0;
    uint8_t fMonth = 0;
    uint8_t fDay = 0;
    int32_t fMilliseconds = 0;
};

} // namespace zorn
