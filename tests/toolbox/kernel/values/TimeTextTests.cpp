#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TimeZoneTestSupport.h"
#include "tests/toolbox/kernel/values/TimeTestSupport.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace zorn;
using zorn::test::Describe;
using zorn::test::StIntlTestProcess;
using zorn::test::TimeZoneTest;
using zorn::test::Utf8;

namespace
{

// 9 December 2026 10:30:05.250 UTC.
VTime Reference()
{
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 250);
    return time;
}

VTime NullTime()
{
    VTime time;
    time.SetNull(true);
    return time;
}

std::string Rfc3339(const VTime& inTime, uint32_t inOptions)
{
    VString text;
    inTime.GetRfc3339String(text, inOptions);
    return Utf8(text);
}

// "+01:00" for the current offset of the zone in force, as the local writer puts it.
std::string CurrentOffset()
{
    int32_t offset = VSystem::GetGMTOffset(true);
    int32_t magnitude = offset < 0 ? -offset : offset;
    char text[16];
    std::snprintf(text, sizeof(text), "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 3600,
                  (magnitude % 3600) / 60);
    return text;
}

// One reading of a text by a loose reader, from the reference time.
struct Reading
{
    const char* fWhat;
    const char* fText;
    const char* fExpected;
};

template <size_t N>
void ExpectReadings(const Reading (&inRows)[N], void (VTime::*inReader)(const VString&))
{
    for (const Reading& row : inRows)
    {
        VTime time = Reference();
        (time.*inReader)(VString(row.fText));
        EXPECT_EQ(Describe(time), row.fExpected) << row.fWhat;
    }
}

using TimeText = TimeZoneTest;

TEST_F(TimeText, Rfc3339Writer)
{
    struct Row
    {
        const char* fWhat;
        VTime fTime;
        uint32_t fOptions;
        const char* fExpected;
    };
    const Row rows[] = {
        {"UTC", Reference(), 1, "2026-12-09T10:30:05.250Z"},
        {"UTC without milliseconds", Reference(), 1 + 32, "2026-12-09T10:30:05Z"},
        {"UTC date alone, no Z", Reference(), 1 + 8, "2026-12-09"},
        {"UTC time alone", Reference(), 1 + 4, "10:30:05Z"},
        {"UTC with the date zeroed", Reference(), 1 + 16, "0000-00-00T10:30:05.250Z"},
        {"a null time, whatever the options", NullTime(), 2 + 8, "0000-00-00T00:00:00Z"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Rfc3339(row.fTime, row.fOptions), row.fExpected) << row.fWhat;
    }
}

// The local form carries the offset in force at the time written, not today's: July in Paris is
// summer time whenever it is written (it gave "14:00:00+01:00" for 12:00Z when written in winter).
// The text reads back as the same instant.
TEST_F(TimeText, Rfc3339LocalForms)
{
    struct Row
    {
        const char* fZone;
        VTime fTime;
        const char* fLocal; // without milliseconds
        const char* fOffset;
    };
    auto utc = [](int16_t inMonth, int16_t inHour)
    {
        VTime time;
        time.FromUTCTime(2026, inMonth, 1, inHour, 0, 0, 250);
        return time;
    };
    const Row rows[] = {
        {"Europe/Paris", Reference(), "2026-12-09T11:30:05", "+01:00"},
        {"Europe/Paris", utc(7, 12), "2026-07-01T14:00:00", "+02:00"},
        {"Europe/Paris", utc(1, 12), "2026-01-01T13:00:00", "+01:00"},
        {"Europe/Paris", utc(7, 23), "2026-07-02T01:00:00", "+02:00"},
        {"America/New_York", Reference(), "2026-12-09T05:30:05", "-05:00"},
        {"America/New_York", utc(7, 2), "2026-06-30T22:00:00", "-04:00"},
        {"Asia/Kolkata", utc(7, 12), "2026-07-01T17:30:00", "+05:30"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.fZone) + " " + row.fLocal);
        UseZone(row.fZone);
        const std::string local = row.fLocal;
        EXPECT_EQ(Rfc3339(row.fTime, 0), local + row.fOffset);
        EXPECT_EQ(Rfc3339(row.fTime, 0 + 4), local.substr(11) + row.fOffset);
        EXPECT_EQ(Rfc3339(row.fTime, 2), local + ".250");
        EXPECT_EQ(Rfc3339(row.fTime, 2 + 32), local);
        EXPECT_EQ(Rfc3339(row.fTime, 2 + 8), local.substr(0, 10));
        VString text;
        row.fTime.GetRfc3339String(text, 0);
        VTime back;
        ASSERT_TRUE(back.FromRfc3339String(text));
        // The local form with an offset has no milliseconds.
        VTime whole;
        whole.FromMilliseconds(row.fTime.GetMilliseconds() - row.fTime.GetMilliseconds() % 1000);
        EXPECT_EQ(Describe(back), Describe(whole)) << "the same instant";
    }
    // A time without a date has no instant: the zone's offset now.
    UseZone("Europe/Paris");
    VTime timeOnly;
    timeOnly.FromUTCTime(0, 0, 0, 10, 30, 5, 0);
    EXPECT_EQ(Rfc3339(timeOnly, 4), "10:30:05" + CurrentOffset());
}

TEST_F(TimeText, Rfc3339Reader)
{
    UseZone("UTC");
    struct Row
    {
        const char* fWhat;
        std::string fText;
        const char* fExpected;
        bool fResult;
    };
    const Row rows[] = {
        {"full UTC form", "2026-12-09T10:30:05.250Z", "2026-12-09 10:30:05.250", true},
        {"decimal milliseconds read as written", "2026-12-09T10:30:05.123Z", "2026-12-09 10:30:05.123", true},
        {"an offset east", "2026-12-09T10:30:05+01:00", "2026-12-09 09:30:05.000", true},
        {"an offset west", "2026-12-09T10:30:05.5-05:30", "2026-12-09 16:00:05.500", true},
        {"local without offset", "2026-12-09T10:30:05", "2026-12-09 10:30:05.000", true},
        {"the date alone is UTC midnight", "2026-12-09", "2026-12-09 00:00:00.000", true},
        {"a time alone has the zero date", "10:30", "0-00-00 10:30:00.000", true},
        {"a time alone ignores an offset", "10:30:05.250+01:00", "0-00-00 10:30:05.250", true},
        {"seconds since midnight", "3600", "0-00-00 01:00:00.000", true},
        {"the zero date with a time (options 17)", "0000-00-00T10:30:05.250Z", "0-00-00 10:30:05.250", true},
        {"the null text", "0000-00-00T00:00:00Z", "null", true},
        {"month 13", "2026-13-09T00:00:00Z", "null", true},
        {"30 February in the date form", "2026-02-30", "null", true},
        {"hour 25", "2026-12-09T25:00:00Z", "null", true},
        {"hour 25 with milliseconds stays null", "2026-12-09T25:00:00.500Z", "null", true},
        // Year 22001 cannot stand in the four-digit field: the text has no date shape and its
        // leading number is read as seconds (22001 s is 06:06:41, seconds dropped).
        {"year 22001", "22001-12-09T10:30:05Z", "0-00-00 06:06:00.000", true},
        {"a date alone with an offset", "2026-12-09-05:00", "null", false},
        {"a full form cut short", "2026-12-09T10", "null", false},
        {"an offset that cannot be read", "2026-12-09T10:30:05+1", "null", false},
        {"no number", "noon", "null", false},
        {"empty", "", "null", false},
        {"a 20-digit number", "12345678901234567890", "null", false},
        {"a 20-digit hour", "12345678901234567890:30", "null", false},
        {"seconds beyond 16 bits", "2026-12-09T10:30:99999", "null", false},
        {"infinite seconds", "2026-12-09T10:30:inf", "null", false},
        {"300 characters", "2026-12-09T10:30:05.250Z" + std::string(276, ' '), "null", false},
    };
    for (const Row& row : rows)
    {
        VTime time = Reference();
        VString text(row.fText.c_str());
        EXPECT_EQ(time.FromRfc3339String(text), row.fResult) << row.fWhat;
        EXPECT_EQ(Describe(time), row.fExpected) << row.fWhat;
    }

    VTime time;
    ASSERT_TRUE(time.FromRfc3339String(VString("10:30")));
    EXPECT_EQ(time.GetMillisecondsOfDay(), 37800000);
    EXPECT_FALSE(time.IsNull());
}

TEST_F(TimeText, XMLForms)
{
    UseZone("UTC");
    VTime bare;
    VTime marked;
    ASSERT_TRUE(bare.FromRfc3339String(VString("2026-12-09T10:30:05.250Z")));
    ASSERT_TRUE(marked.FromXMLString(VString("!!2026-12-09T10:30:05.250Z!!")));
    EXPECT_EQ(Describe(marked), Describe(bare));
    EXPECT_FALSE(marked.IsNull());

    // "!!" and one character: the markers overlap and nothing is read.
    EXPECT_FALSE(marked.FromXMLString(VString("!!x")));
    EXPECT_TRUE(marked.IsNull());
    // Any other '!' goes to the loose reader, which always succeeds.
    EXPECT_TRUE(marked.FromXMLString(VString("9!12!2026")));
    EXPECT_EQ(Describe(marked), "2026-12-09 00:00:00.000");

    VString text;
    Reference().GetXMLString(text, 1);
    EXPECT_EQ(Utf8(text), "2026-12-09T10:30:05.250Z");
}

TEST_F(TimeText, JSONString)
{
    VTime midnight;
    midnight.FromUTCTime(2026, 12, 9, 0, 0, 0, 0);
    struct Row
    {
        const char* fWhat;
        VTime fTime;
        uint32_t fOptions;
        const char* fExpected;
    };
    const Row rows[] = {
        {"plain", Reference(), 0, "2026-12-09T10:30:05.250Z"},
        {"quoted with markers", Reference(), 1 + 4096, "\"!!2026-12-09T10:30:05.250Z!!\""},
        {"markers alone", Reference(), 4096, "!!2026-12-09T10:30:05.250Z!!"},
        {"short form at midnight", midnight, 512, "2026-12-09"},
        {"short form asked, not midnight", Reference(), 512, "2026-12-09T10:30:05.250Z"},
        {"other bits ignored (local dates 0x80)", Reference(), 0x80 | 0x2 | 0x1,
         "\"2026-12-09T10:30:05.250Z\""},
        {"null", NullTime(), 1, "\"0000-00-00T00:00:00Z\""},
    };
    for (const Row& row : rows)
    {
        VString text;
        EXPECT_EQ(row.fTime.GetJSONString(text, row.fOptions), VE_OK);
        EXPECT_EQ(Utf8(text), row.fExpected) << row.fWhat;
    }

    VTime read;
    EXPECT_EQ(read.FromJSONString(VString("!!2026-12-09T10:30:05.250Z!!")), VE_OK);
    EXPECT_EQ(Describe(read), "2026-12-09 10:30:05.250");
}

TEST_F(TimeText, JSONValues)
{
    VJSONValue json;
    ASSERT_EQ(Reference().GetJSONValue(json, 1), VE_OK);
    short year = 0, month = 0, day = 0;
    EXPECT_TRUE(json.GetDate(&year, &month, &day)) << "option 1 gives a JSON date";
    EXPECT_EQ(year * 10000 + month * 100 + day, 20261209);

    ASSERT_EQ(Reference().GetJSONValue(json), VE_OK);
    ASSERT_TRUE(json.IsString());
    VString text;
    json.GetString(text);
    EXPECT_EQ(Utf8(text), "2026-12-09T10:30:05.250Z");

    ASSERT_EQ(NullTime().GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNull());

    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        const char* fExpected;
    };
    VJSONValue date;
    date.SetDate(2026, 12, 9);
    const Row rows[] = {
        {"a string", VJSONValue(VString("2026-12-09T10:30:05.250Z")), "2026-12-09 10:30:05.250"},
        {"a marked string", VJSONValue(VString("!!2026-12-09T10:30:05.250Z!!")), "2026-12-09 10:30:05.250"},
        {"a date", date, "2026-12-09 00:00:00.000"},
        {"null", VJSONValue(JSON_null), "null"},
    };
    for (const Row& row : rows)
    {
        VTime time = Reference();
        EXPECT_EQ(time.FromJSONValue(row.fValue), VE_OK);
        EXPECT_EQ(Describe(time), row.fExpected) << row.fWhat;
    }
}

TEST_F(TimeText, Rfc822)
{
    StIntlTestProcess process(1033);
    VString text;
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 0);
    time.GetRfc822String(text);
    EXPECT_EQ(Utf8(text), "Wed, 09 Dec 2026 10:30:05 GMT");
    NullTime().GetRfc822String(text);
    EXPECT_EQ(Utf8(text), ", 00  0000 00:00:00 GMT");

    const Reading rows[] = {
        {"the writer's text", "Wed, 09 Dec 2026 10:30:05 GMT", "2026-12-09 10:30:05.000"},
        {"a zone is ignored", "Wed, 09 Dec 2026 10:30:05 +0100", "2026-12-09 10:30:05.000"},
        {"a named zone is ignored", "9 Dec 2026 10:30:05 EST", "2026-12-09 10:30:05.000"},
        {"parts missing at the end", "9 Dec 2026", "2026-12-09 00:00:00.000"},
        {"no digits: every part 0", "Wednesday", "0-00-00 00:00:00.000"},
        {"a full month name", "1 January 2026", "2026-01-01 00:00:00.000"},
        {"a full month name in another case, with its week day", "Wednesday, 09 DECEMBER 2026 10:30:05",
         "2026-12-09 10:30:05.000"},
        {"a longer beginning of the name", "30 Sept 2026", "2026-09-30 00:00:00.000"},
        {"a beginning shorter than three letters is no month", "09 De 2026 10:30:05", "null"},
        {"a name longer than the month's", "09 Decembers 2026 10:30:05", "null"},
        {"an unknown month", "09 Dez 2026 10:30:05", "null"},
        {"a day beyond the int range", "99999999999 Dec 2026", "null"},
        {"a year beyond 16 bits", "09 Dec 65537", "null"},
    };
    ExpectReadings(rows, &VTime::FromRfc822String);
}

TEST_F(TimeText, LooseReaderAndDayMonthYear)
{
    const Reading rows[] = {
        {"day!month!year", "9!12!2026", "2026-12-09 00:00:00.000"},
        {"31 February", "31!2!2026", "null"},
        {"29 February of a leap year", "29!2!2024", "2024-02-29 00:00:00.000"},
        {"all zero: the zero date", "0!0!0", "0-00-00 00:00:00.000"},
        {"six numbers", "2026-12-09 10:30:00", "2026-12-09 10:30:00.000"},
        {"seven numbers", "2026-12-09 10:30:05 250", "2026-12-09 10:30:05.250"},
        {"an eighth number is ignored", "2026/12/09 10:30:05 250 7", "2026-12-09 10:30:05.250"},
        {"a later '!' ends the numbers", "2026-12-09!10:30", "2026-12-09 00:00:00.000"},
        {"an impossible time", "2026-12-09 24:00", "null"},
        {"a number beyond the int range", "2026-12-99999999999", "null"},
    };
    ExpectReadings(rows, &VTime::FromString);

    VString text;
    Reference().toSimpleDateString(text);
    EXPECT_EQ(Utf8(text), "9!12!2026");
    NullTime().toSimpleDateString(text);
    EXPECT_TRUE(text.IsNull());
}

TEST_F(TimeText, CompilerDateTime)
{
    struct Row
    {
        const char* fZone;
        const char* fDate;
        const char* fTime;
        const char* fExpected;
    };
    const Row rows[] = {
        {"UTC", "Dec  9 2026", "10:30:05", "2026-12-09 10:30:05.000"},
        {"Europe/Paris", "Dec  9 2026", "10:30:05", "2026-12-09 09:30:05.000"},
        {"UTC", "dec 9, 2026", "10:30", "2026-12-09 10:30:00.000"},
        {"UTC", "Foo  9 2026", "10:30:05", "null"},
        {"UTC", "Dec 99999999999 2026", "10:30:05", "null"},
        {"UTC", "Dec 9 2026", "99999:00:00", "null"},
        {"UTC", nullptr, nullptr, "0-00-00 00:00:00.000"},
    };
    for (const Row& row : rows)
    {
        UseZone(row.fZone);
        VTime time;
        time.FromCompilerDateTime(row.fDate, row.fTime);
        EXPECT_EQ(Describe(time), row.fExpected) << row.fZone << " " << (row.fDate ? row.fDate : "null");
    }
}

TEST_F(TimeText, DisplayThroughTheIntlManager)
{
    UseZone("Europe/Paris");
    struct Row
    {
        uint32_t fDialect;
        bool fGMT;
        const char* fDate;
        const char* fTime;
    };
    const Row rows[] = {
        {1033, true, "12/9/26", "10:30"},
        {1033, false, "12/9/26", "11:30"},
        {1036, true, "09/12/2026", "10:30"},
        {1036, false, "09/12/2026", "11:30"},
    };
    for (const Row& row : rows)
    {
        StIntlTestProcess process(row.fDialect);
        VString date;
        VString time;
        Reference().FormatByOS(date, time, row.fGMT);
        EXPECT_EQ(Utf8(date), row.fDate) << row.fDialect;
        EXPECT_EQ(time.Find(VString(row.fTime)), 1) << row.fDialect << " " << Utf8(time);
        VString both;
        Reference().FormatByOS(both, row.fGMT);
        EXPECT_EQ(Utf8(both), Utf8(date) + " " + Utf8(time));
    }
    StIntlTestProcess process(1033);
    VString text("stale");
    NullTime().GetString(text);
    EXPECT_TRUE(text.IsEmpty());
    Reference().GetString(text);
    EXPECT_EQ(text.Find(VString("12/9/26 10:30")), 1) << Utf8(text);

    Reference().GetStringLocalTime(text);
    EXPECT_EQ(Utf8(text), "2026-12-09 11:30:05:250");
    NullTime().GetStringLocalTime(text);
    EXPECT_TRUE(text.IsEmpty());
}

} // namespace
