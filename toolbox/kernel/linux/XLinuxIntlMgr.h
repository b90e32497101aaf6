// XLinuxIntlMgr: the ICU half of an international manager (VIntlMgr), a value member of each.
// It names the manager's ICU locale, formats dates, times and durations with ICU formatters,
// gives the locale's calendar names, and hands the manager the raw locale data (symbols and the
// formatters' patterns) that VIntlMgr reads its settings from.
//
// Choices made:
// - The locale is the dialect's BCP 47 code ("en-US", "zh-TW") read by ICU, except for the system
//   dialect: the user's own locale (LC_ALL, LC_MESSAGES, LANG) is taken when it is of the same
//   language, so that regional settings such as fr_CH apply. An unknown dialect gets en_US.
// - Date styles are those of the system's formatter styles: 0 none, 1 short, 2 medium, 3 long,
//   4 full (ICU's kShort to kFull). EOSFormats map to them as follows: a date 0→1, 1→2, 2→4
//   (other styles write nothing); a time 0→1, 1→2, 2→3 (other styles: no time part, so nothing).
// - A time's UTC parts are read as GMT and shown in GMT when utc is true, else in the default
//   time zone (TZ, /etc/localtime; VSystem::SystemDateTimeChanged re-reads it). Calendars are
//   proleptic Gregorian where the locale's calendar is the Gregorian one.
// - Durations show elapsed hours, minutes and seconds in the locale's numeric form ("25:00:00" in
//   en-US), hours never wrapping into days and no AM/PM marker. A short time style drops the
//   seconds; with no style at all nothing is written. A negative duration is shown as its size
//   after a minus sign.
// - Formatters are costly to open (tens of microseconds) and cheap to use: each is opened on first
//   use and kept (per style pair and zone choice, per template, and the duration and name data);
//   a local one is opened again after a change of time zone. A mutex serialises the calls on one
//   object, because ICU formatters are not safe to use from two threads at once and a process's
//   manager serves every task that has none of its own. A copy keeps the dialect and locale and
//   starts with no formatter.
#pragma once

#include "toolbox/kernel/strings/VString.h"

#include <unicode/uversion.h>

#include <memory>
#include <string>

U_NAMESPACE_BEGIN
class DateFormat;
U_NAMESPACE_END

namespace zorn
{

class VDuration;
class VTime;
enum EOSFormats : int;

class XLinuxIntlMgr
{
public:
    // The locale data a manager's settings come from. Patterns are indexed by style 0 short,
    // 1 medium, 2 long, 3 full; a text ICU does not give stays empty.
    struct LocaleData
    {
        VString fDecimalSeparator;
        VString fGroupingSeparator;
        VString fCurrencySymbol;
        VString fAMSymbol;
        VString fPMSymbol;
        VString fDatePatterns[4];
        VString fTimePatterns[4];
    };

    explicit XLinuxIntlMgr(uint32_t inDialectCode);
    XLinuxIntlMgr(const XLinuxIntlMgr& inOther);
    XLinuxIntlMgr& operator=(const XLinuxIntlMgr&) = delete;
    virtual ~XLinuxIntlMgr();

    // The ICU locale name of a dialect (see the choices above).
    static std::string MakeLocaleName(uint32_t inDialectCode);

    uint32_t GetDialectCode() const { return fDialectCode; }
    const std::string& GetLocaleName() const { return fLocaleName; }

    void LoadLocaleData(LocaleData& outData) const;

    // A time formatted by EOSFormats (mapping above); a null time gives an empty text.
    void FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inUTC) const;
    void FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inUTC) const;
    // A time with a date style and a time style, 0 to 4 each (both 0: empty text).
    void FormatVTime(const VTime& inTime, VString& outText, int inDateStyle, int inTimeStyle,
                     bool inUTC) const;
    // A time with the caller's formatter, whose time zone is set to GMT (utc) or the default zone.
    void FormatVTime(const VTime& inTime, VString& outText, icu::DateFormat& ioFormatter, bool inUTC) const;
    // A time with the locale's best pattern for a skeleton template ("yMMMd", "jmm").
    void FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate,
                                 bool inUTC) const;
    // Milliseconds since 1970-01-01 UTC with a date and a time style (0 to 4 each).
    void FormatMilliseconds(double inMilliseconds, VString& outText, int inDateStyle, int inTimeStyle,
                            bool inUTC) const;

    // A duration with an EOSFormats time style (0→1, 1→2, 2→3; others write nothing).
    void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inStyle) const;
    // A duration with a date and a time style, 0 to 4 each (see the choices above).
    void FormatVDuration(const VDuration& inDuration, VString& outText, int inDateStyle,
                         int inTimeStyle) const;

    // Month 1..12 and weekday 0..6 (0 Sunday), full or abbreviated, as the locale names them in
    // dates; nothing is written for an index out of range.
    void GetMonthName(int32_t inMonth, bool inAbbreviated, VString& outName) const;
    void GetWeekDayName(int32_t inDay, bool inAbbreviated, VString& outName) const;

    // Maps the case of a buffer by the rules that hold for every locale: the result's length goes
    // to ioDestinationLength after as much of it as fits (the length on entry) was copied. True
    // when the source is empty or the result is not.
    static bool ToUpperLowerCase(const UniChar* inSource, int32_t inSourceLength, UniChar* outDestination,
                                 int32_t& ioDestinationLength, bool inUpper);

private:
    struct Caches;

    // Entry inIndex of ICU's weekday (1 Sunday .. 7) or month (0 .. 11) names.
    void _GetCalendarName(bool inWeekDay, int32_t inIndex, bool inAbbreviated, VString& outName) const;

    uint32_t fDialectCode;
    std::string fLocaleName;
    std::unique_ptr<Caches> fCaches;
};

} // namespace zorn
