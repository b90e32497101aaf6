// Locale settings, pattern formats, calendar names and elapsed times of the international manager.

#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TimeZoneTestSupport.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/linux/XLinuxIntlMgr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>
#include <unicode/datefmt.h>
#include <unicode/timezone.h>

#include <memory>
#include <string>

using namespace zorn;
using zorn::test::U;
using zorn::test::Utf8;

namespace
{

VRefPtr<VIntlMgr> Make(uint32_t inDialect)
{
    return VRefPtr<VIntlMgr>(VIntlMgr::Create(inDialect, inDialect), true);
}

VTime UTC(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour, int16_t inMinute, int16_t inSecond)
{
    VTime time;
    time.FromUTCTime(inYear, inMonth, inDay, inHour, inMinute, inSecond, 0);
    return time;
}

bool Holds(const VString& inText, const char* inPart)
{
    return Utf8(inText).find(inPart) != std::string::npos;
}

} // namespace

// The settings come from ICU's data: their structure is asserted, not ICU's exact texts.
TEST(IntlMgrFormats, LocaleSettings)
{
    struct Row
    {
        uint32_t fDialect;
        uint32_t fDateOrder;
        const char* fDateSeparator;
        const char* fTimeSeparator;
        bool fTwelveHour;
        const char* fDecimal;
        const char* fCurrency;
    };
    const Row rows[] = {
        {1033, 0, "/", ":", true, ".", "$"},
        {1036, 1, "/", ":", false, ",", "€"},
        {1031, 1, ".", ":", false, ",", "€"},
        {1041, 2, "/", ":", false, ".", "￥"},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VIntlMgr> manager = Make(row.fDialect);
        ASSERT_TRUE(manager);
        EXPECT_EQ(manager->GetDateOrder(), row.fDateOrder) << row.fDialect;
        EXPECT_EQ(Utf8(manager->GetDateSeparator()), row.fDateSeparator) << row.fDialect;
        EXPECT_EQ(Utf8(manager->GetTimeSeparator()), row.fTimeSeparator) << row.fDialect;
        EXPECT_EQ(manager->UseTwelveHourClock(), row.fTwelveHour) << row.fDialect;
        EXPECT_EQ(Utf8(manager->GetDecimalSeparator()), row.fDecimal) << row.fDialect;
        EXPECT_EQ(Utf8(manager->GetCurrencySymbol()), row.fCurrency) << row.fDialect;
        EXPECT_EQ(manager->GetThousandsSeparator().GetLength(), 1) << row.fDialect;
        EXPECT_FALSE(manager->GetAMSymbol().IsEmpty()) << row.fDialect;
        EXPECT_FALSE(manager->GetPMSymbol().EqualToStringRaw(manager->GetAMSymbol())) << row.fDialect;
        for (int32_t style = 0; style < 4; ++style)
        {
            // Every date pattern shows the year, every time pattern the minutes; long and full
            // times name the zone, the full date the weekday.
            EXPECT_TRUE(Holds(manager->GetDatePattern(style), "y")) << row.fDialect << " " << style;
            EXPECT_TRUE(Holds(manager->GetTimePattern(style), "mm")) << row.fDialect << " " << style;
            EXPECT_EQ(Holds(manager->GetTimePattern(style), "z"), style >= 2) << row.fDialect << " " << style;
        }
        EXPECT_TRUE(Holds(manager->GetDatePattern(3), "EEEE")) << row.fDialect;
        EXPECT_EQ(Holds(manager->GetTimePattern(0), "a"), row.fTwelveHour) << row.fDialect;
        EXPECT_TRUE(manager->GetDatePattern(4).IsEmpty());

        VRefPtr<VIntlMgr> clone(manager->Clone(), true);
        EXPECT_EQ(clone->GetDateOrder(), row.fDateOrder);
        EXPECT_TRUE(clone->GetDatePattern(3).EqualToStringRaw(manager->GetDatePattern(3)));
    }
    // A locale without a currency of its own shows the euro, not the generic sign.
    EXPECT_EQ(Utf8(Make(1)->GetCurrencySymbol()), "€");
}

TEST(IntlMgrFormats, PatternLetters)
{
    VRefPtr<VIntlMgr> english = Make(1033);
    const VTime night = UTC(2026, 1, 5, 0, 30, 7); // a Monday
    const VTime day = UTC(2026, 1, 5, 13, 5, 9);
    struct Row
    {
        const char* fPattern;
        const char* fNight;
        const char* fDay;
    };
    const Row rows[] = {
        {"yyyy-MM-dd", "2026-01-05", "2026-01-05"},
        {"y Y yy yyyyy", "2026 2026 2026 02026", "2026 2026 2026 02026"}, // the year is never cut
        {"M MM MMM MMMM MMMMM MMMMMMMM", "1 01 Jan January J J", "1 01 Jan January J J"},
        {"LLL", "Jan", "Jan"},
        {"d dd ddd", "5 05 05", "5 05 05"},
        {"D DD DDD DDDD", "5 05 005 005", "5 05 005 005"},
        {"E EE EEE EEEE EEEEE EEEEEE EEEEEEEE", "Mon Mon Mon Monday M Mo Mo", "Mon Mon Mon Monday M Mo Mo"},
        {"G GGG GGGG GGGGG GGGGGG", "AD AD Anno Domini A A", "AD AD Anno Domini A A"},
        {"H HH K KK", "0 00 0 00", "13 13 1 01"},
        {"h hh k kk", "12 12 24 24", "1 01 13 13"},
        {"m mm s ss", "30 30 7 07", "5 05 9 09"},
        {"a aa", "AM AM", "PM PM"},
        {"g", "2461045", "2461045"}, // VTime::ComputeJulianDay of the date
        {"gggggggg", "02461045", "02461045"},
        {"AFQSVWZcequvwz|", "|", "|"},                                // letters that show nothing
        {"yyyy-MM-ddTHH:mm", "2026-01-05T00:30", "2026-01-05T13:05"}, // other letters are copied
        {"bb [x] \u00e9'", "bb [x] \u00e9'", "bb [x] \u00e9'"},
        {"", "", ""},
    };
    for (const Row& row : rows)
    {
        VString pattern(row.fPattern);
        VString text("stale");
        english->FormatDateTimeWithPattern(night, pattern, true, nullptr, text);
        EXPECT_EQ(Utf8(text), row.fNight) << row.fPattern;
        english->FormatDateTimeWithPattern(day, pattern, true, nullptr, text);
        EXPECT_EQ(Utf8(text), row.fDay) << row.fPattern;
    }

    // A given month name stands for the locale's in the name forms only.
    VString text;
    VString month("janvier");
    english->FormatDateTimeWithPattern(night, VString("MM MMM MMMM MMMMM"), true, &month, text);
    EXPECT_EQ(Utf8(text), "01 janvier janvier j");
    Make(1036)->FormatDateTimeWithPattern(night, VString("EEEE d MMMM"), true, nullptr, text);
    EXPECT_EQ(Utf8(text), "lundi 5 janvier");

    // Widths taken from the pattern stop at 999.
    english->FormatDateTimeWithPattern(night, VString(std::string(1500, 'y').c_str()), true, nullptr, text);
    EXPECT_EQ(text.GetLength(), 999);
    EXPECT_EQ(Utf8(text).substr(995), "2026");
    english->FormatDateTimeWithPattern(night, VString(std::string(1000, 'g').c_str()), true, nullptr, text);
    EXPECT_EQ(text.GetLength(), 999);

    // A null time has no month: its name is empty.
    VTime null;
    null.SetNull(true);
    english->FormatDateTimeWithPattern(null, VString("[MMM][MMMM][MM]"), true, nullptr, text);
    EXPECT_EQ(Utf8(text), "[][][00]");
}

class IntlMgrLocalFormats : public zorn::test::TimeZoneTest
{
};

// Local parts follow the zone across a change of daylight saving time.
TEST_F(IntlMgrLocalFormats, PatternInTheLocalZone)
{
    UseZone("America/New_York"); // daylight saving time from 2026-03-08 07:00 UTC
    VRefPtr<VIntlMgr> manager = Make(1033);
    struct Row
    {
        VTime fTime;
        const char* fLocal;
    };
    const Row rows[] = {
        {UTC(2026, 1, 5, 0, 30, 7), "2026-01-04 19:30 Sunday"},
        {UTC(2026, 3, 8, 6, 59, 0), "2026-03-08 01:59 Sunday"},
        {UTC(2026, 3, 8, 7, 0, 0), "2026-03-08 03:00 Sunday"},
        {UTC(2026, 1, 5, 13, 5, 9), "2026-01-05 08:05 Monday"},
    };
    for (const Row& row : rows)
    {
        VString text;
        manager->FormatDateTimeWithPattern(row.fTime, VString("yyyy-MM-dd HH:mm EEEE"), false, nullptr, text);
        EXPECT_EQ(Utf8(text), row.fLocal);
    }
    VString text;
    manager->GetPlatform().FormatVTime(rows[2].fTime, text, 0, 1, false);
    EXPECT_TRUE(Holds(text, "3:00")) << Utf8(text);
}

TEST(IntlMgrFormats, NamesAndBackEndForms)
{
    VRefPtr<VIntlMgr> english = Make(1033);
    VRefPtr<VIntlMgr> french = Make(1036);
    struct Row
    {
        const VIntlMgr* fManager;
        bool fMonth;
        int32_t fIndex;
        bool fAbbreviated;
        const char* fName;
    };
    const Row rows[] = {
        {english.Get(), true, 1, true, "Jan"},       {english.Get(), true, 12, false, "December"},
        {french.Get(), true, 12, false, "décembre"}, {english.Get(), false, 0, false, "Sunday"},
        {english.Get(), false, 6, true, "Sat"},      {french.Get(), false, 1, false, "lundi"},
        {english.Get(), true, 0, false, ""},         {english.Get(), true, 13, false, ""},
        {english.Get(), false, -1, false, ""},       {english.Get(), false, 7, false, ""},
    };
    for (const Row& row : rows)
    {
        VString name("stale");
        if (row.fMonth)
        {
            row.fManager->GetMonthName(row.fIndex, row.fAbbreviated, name);
        }
        else
        {
            row.fManager->GetWeekDayName(row.fIndex, row.fAbbreviated, name);
        }
        EXPECT_EQ(Utf8(name), row.fName) << row.fIndex;
    }

    const VTime time = UTC(2026, 1, 5, 13, 5, 9);
    VString text;
    english->GetPlatform().FormatVTimeWithTemplate(time, text, VString("yMMMd"), true);
    EXPECT_EQ(Utf8(text), "Jan 5, 2026");
    french->GetPlatform().FormatVTimeWithTemplate(time, text, VString("yMMMd"), true);
    EXPECT_EQ(Utf8(text), "5 janv. 2026");
    english->GetPlatform().FormatVTime(time, text, 4, 0, true);
    EXPECT_EQ(Utf8(text), "Monday, January 5, 2026");
    english->GetPlatform().FormatVTime(time, text, 0, 0, true);
    EXPECT_TRUE(text.IsEmpty());
    english->GetPlatform().FormatVTime(time, text, 5, 1, true);
    EXPECT_TRUE(text.IsEmpty());
}

// The kept formatters (their own calendar, GMT from the zone data) write what a formatter made for
// the call writes with ICU's built-in GMT zone: every style pair, several locales, instants in an
// order that would show a calendar keeping anything from the previous one.
TEST(IntlMgrFormats, KeptFormattersWriteWhatAFreshFormatterWrites)
{
    static const icu::DateFormat::EStyle kStyles[] = {icu::DateFormat::kNone, icu::DateFormat::kShort,
                                                      icu::DateFormat::kMedium, icu::DateFormat::kLong,
                                                      icu::DateFormat::kFull};
    const VTime instants[] = {UTC(2026, 1, 5, 13, 5, 9), UTC(1999, 12, 31, 23, 59, 59),
                              UTC(2026, 1, 5, 13, 5, 9), UTC(1600, 2, 29, 0, 0, 0),
                              UTC(9999, 12, 31, 12, 0, 1)};
    for (uint32_t dialect : {1033u, 1036u, 1041u, 1025u, 1028u})
    {
        VRefPtr<VIntlMgr> manager = Make(dialect);
        const icu::Locale locale(manager->GetPlatform().GetLocaleName().c_str());
        for (int date = 0; date < 5; ++date)
        {
            for (int time = date == 0 ? 1 : 0; time < 5; ++time)
            {
                std::unique_ptr<icu::DateFormat> fresh(
                    icu::DateFormat::createDateTimeInstance(kStyles[date], kStyles[time], locale));
                ASSERT_NE(fresh, nullptr);
                fresh->adoptTimeZone(icu::TimeZone::getGMT()->clone());
                for (const VTime& instant : instants)
                {
                    int16_t y, mo, d, h, mi, sec, ms;
                    instant.GetUTCTime(y, mo, d, h, mi, sec, ms);
                    icu::UnicodeString expected;
                    fresh->format(VIntlMgr::MillisecondsOfUTCParts({y, mo, d, h, mi, sec}), expected);
                    VString text;
                    manager->GetPlatform().FormatVTime(instant, text, date, time, true);
                    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text.GetCPointer()),
                                             static_cast<size_t>(text.GetLength())),
                              std::u16string(expected.getBuffer(), static_cast<size_t>(expected.length())))
                        << dialect << " styles " << date << "/" << time << " year " << y;
                }
            }
        }
    }
}

// Elapsed times: hours never wrap into days, no AM/PM marker, the locale's numeric form.
TEST(IntlMgrFormats, Durations)
{
    struct Row
    {
        int64_t fMilliseconds;
        const char* fHours;
        const char* fMinutes;
        const char* fSeconds;
    };
    const Row rows[] = {
        {0, "0", "00", "00"},
        {59'999, "0", "00", "59"},
        {3'600'000, "1", "00", "00"},
        {25 * 3'600'000, "25", "00", "00"},
        {100 * 3'600'000 + 61'000, "100", "01", "01"},
    };
    for (uint32_t dialect : {1033u, 1036u, 1031u})
    {
        VRefPtr<VIntlMgr> manager = Make(dialect);
        const std::string separator = Utf8(manager->GetTimeSeparator());
        for (const Row& row : rows)
        {
            VDuration duration(row.fMilliseconds);
            VString text;
            manager->FormatDuration(duration, text, eOS_MEDIUM_FORMAT);
            EXPECT_EQ(Utf8(text),
                      std::string(row.fHours) + separator + row.fMinutes + separator + row.fSeconds)
                << dialect << " " << row.fMilliseconds;
            EXPECT_FALSE(Holds(text, Utf8(manager->GetPMSymbol()).c_str())) << dialect;
            manager->FormatDuration(duration, text, eOS_SHORT_FORMAT);
            EXPECT_EQ(Utf8(text), std::string(row.fHours) + separator + row.fMinutes) << dialect;
            manager->GetPlatform().FormatVDuration(duration, text, 0, 4);
            EXPECT_EQ(Utf8(text),
                      std::string(row.fHours) + separator + row.fMinutes + separator + row.fSeconds)
                << dialect;
        }
    }
    VRefPtr<VIntlMgr> english = Make(1033);
    VString text;
    english->FormatDuration(VDuration(-3'600'000), text, eOS_LONG_FORMAT);
    EXPECT_EQ(Utf8(text), "-1:00:00");
    english->FormatDuration(VDuration(1000), text, static_cast<EOSFormats>(3));
    EXPECT_TRUE(text.IsEmpty());
}
