#include "tests/toolbox/kernel/TimeZoneTestSupport.h"
#include "tests/toolbox/kernel/values/TimeTestSupport.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>

using namespace zorn;
using zorn::test::Describe;
using zorn::test::TimeZoneTest;

namespace
{

VTime UTC(int16_t inYear, int16_t inMonth, int16_t inDay, int16_t inHour = 0, int16_t inMinute = 0)
{
    VTime time;
    time.FromUTCTime(inYear, inMonth, inDay, inHour, inMinute, 0, 0);
    return time;
}

TEST(Times, Calendar)
{
    struct Row
    {
        const char* fWhat;
        int16_t fParts[7];
        const char* fExpected;
    };
    const Row rows[] = {
        {"29 February of a leap year", {2024, 2, 29, 23, 59, 59, 999}, "2024-02-29 23:59:59.999"},
        {"29 February of 2023", {2023, 2, 29, 0, 0, 0, 0}, "null"},
        {"29 February of 1900", {1900, 2, 29, 0, 0, 0, 0}, "null"},
        {"29 February of 2000", {2000, 2, 29, 0, 0, 0, 0}, "2000-02-29 00:00:00.000"},
        {"the zero date keeps any time unchecked", {0, 0, 0, 25, 0, 0, 0}, "0-00-00 25:00:00.000"},
        {"hour 24", {2024, 1, 1, 24, 0, 0, 0}, "null"},
        {"a negative minute", {2024, 1, 1, 0, -1, 0, 0}, "null"},
        {"31 April", {2024, 4, 31, 0, 0, 0, 0}, "null"},
        {"month 13", {2024, 13, 1, 0, 0, 0, 0}, "null"},
        {"year 0", {0, 1, 1, 0, 0, 0, 0}, "0-01-01 00:00:00.000"},
        {"year 9999", {9999, 12, 31, 23, 59, 59, 999}, "9999-12-31 23:59:59.999"},
        {"15 October 1582", {1582, 10, 15, 0, 0, 0, 0}, "1582-10-15 00:00:00.000"},
    };
    for (const Row& row : rows)
    {
        VTime time;
        const int16_t* p = row.fParts;
        time.FromUTCTime(p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
        EXPECT_EQ(Describe(time), row.fExpected) << row.fWhat;
    }
    VTime zeroTime;
    zeroTime.FromUTCTime(0, 0, 0, 25, 0, 0, 0);
    EXPECT_EQ(zeroTime.GetMillisecondsOfDay(), 90000000);

    EXPECT_EQ(VTime::ComputeJulianDay(2000, 1, 1), 2451544);
    EXPECT_EQ(VTime::ComputeJulianDay(1970, 1, 1), 2440587);
    EXPECT_EQ(VTime::ComputeWeekDay(2000, 1, 1), 6) << "Saturday";
    EXPECT_EQ(VTime::ComputeWeekDay(2026, 12, 10), 4) << "Thursday";
    EXPECT_EQ(VTime::ComputeYearDay(2024, 12, 31), 366);
    EXPECT_EQ(VTime::ComputeYearDay(2023, 12, 31), 365);
    VTime day;
    day.FromJulianDay(2461383);
    EXPECT_EQ(Describe(day), "2026-12-09 00:00:00.000");
    day.FromJulianDay(std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(day.IsNull()) << "no date that far";
    day.FromJulianDay(1000);
    EXPECT_TRUE(day.IsNull()) << "before year 0";
    VTime unchecked;
    unchecked.FromUTCTime(0, 0, 0, 32767, 32767, 32767, 32767); // no overflow on the way
    EXPECT_FALSE(unchecked.IsNull());
    int32_t y, mo, d;
    UTC(2000, 1, 1).GetJulianDate(y, mo, d);
    EXPECT_EQ(y * 10000 + mo * 100 + d, 19991219);
    UTC(1582, 10, 15).GetJulianDate(y, mo, d);
    EXPECT_EQ(y * 10000 + mo * 100 + d, 15821005) << "the first Gregorian day was 5 October (Julian)";
    VTime julian;
    julian.FromJulianDate(1900, 2, 29);
    EXPECT_EQ(Describe(julian), "1900-03-01 00:00:00.000") << "the Julian leap rule passes it";
    julian.FromJulianDate(2001, 2, 29);
    EXPECT_TRUE(julian.IsNull());

    VTime null;
    null.SetNull(true);
    EXPECT_EQ(null.GetMilliseconds(), -1);
    EXPECT_EQ(null.GetJulianDay(), -1);
    EXPECT_EQ(VTime().GetMilliseconds(), 0) << "the zero date";
}

TEST(Times, EveryDayOfYears0To9999RoundTrips)
{
    VTime time;
    for (int32_t year = 0; year <= 9999; ++year)
    {
        for (int32_t month = 1; month <= 12; ++month)
        {
            for (int32_t day = 1; VTime::CheckDate(year, month, day); ++day)
            {
                time.FromJulianDay(VTime::ComputeJulianDay(year, month, day));
                if (time.GetYear() != year || time.GetMonth() != month || time.GetDay() != day)
                {
                    FAIL() << year << "-" << month << "-" << day << " gives " << Describe(time);
                }
            }
        }
    }
}

TEST(Times, Arithmetic)
{
    struct Row
    {
        const char* fWhat;
        VTime fStart;
        std::function<void(VTime&)> fChange;
        const char* fExpected;
    };
    const Row rows[] = {
        {"AddDays across a new year", UTC(2024, 12, 31, 12), [](VTime& t) { t.AddDays(1); },
         "2025-01-01 12:00:00.000"},
        {"AddHours back across a new year", UTC(2025, 1, 1, 12), [](VTime& t) { t.AddHours(-13); },
         "2024-12-31 23:00:00.000"},
        {"AddMinutes", UTC(2024, 2, 28, 23, 59), [](VTime& t) { t.AddMinutes(1); },
         "2024-02-29 00:00:00.000"},
        {"AddMonths keeps day 31", UTC(2024, 1, 31), [](VTime& t) { t.AddMonths(1); },
         "2024-02-31 00:00:00.000"},
        {"AddMonths 12", UTC(2024, 3, 1), [](VTime& t) { t.AddMonths(12); }, "2025-03-01 00:00:00.000"},
        {"AddMonths -13 stays in 1 to 12", UTC(2024, 3, 1), [](VTime& t) { t.AddMonths(-13); },
         "2023-02-01 00:00:00.000"},
        {"AddMonths -3 into the year before", UTC(2024, 2, 1), [](VTime& t) { t.AddMonths(-3); },
         "2023-11-01 00:00:00.000"},
        {"AddYears", UTC(2024, 2, 29), [](VTime& t) { t.AddYears(-24); }, "2000-02-29 00:00:00.000"},
        {"AddYears beyond 32767", UTC(2024, 1, 1), [](VTime& t) { t.AddYears(40000); }, "null"},
        {"AddMonths before year 0", UTC(0, 1, 1), [](VTime& t) { t.AddMonths(-1); }, "null"},
        {"Add a duration", UTC(2024, 1, 1), [](VTime& t) { t.Add(VDuration(VDuration::kDay + 1)); },
         "2024-01-02 00:00:00.001"},
        {"Substract a duration", UTC(2024, 1, 1), [](VTime& t) { t.Substract(VDuration(1)); },
         "2023-12-31 23:59:59.999"},
        {"FromMilliseconds 0", UTC(2024, 1, 1), [](VTime& t) { t.FromMilliseconds(0); },
         "0-00-00 00:00:00.000"},
        {"FromMilliseconds -1", UTC(2024, 1, 1), [](VTime& t) { t.FromMilliseconds(-1); }, "null"},
        {"FromMilliseconds INT64_MAX", UTC(2024, 1, 1),
         [](VTime& t) { t.FromMilliseconds(std::numeric_limits<int64_t>::max()); }, "null"},
        {"FromMilliseconds of a date", VTime(),
         [](VTime& t) { t.FromMilliseconds(int64_t{2451544} * 86400000 + 5); }, "2000-01-01 00:00:00.005"},
    };
    for (const Row& row : rows)
    {
        VTime time(row.fStart);
        row.fChange(time);
        EXPECT_EQ(Describe(time), row.fExpected) << row.fWhat;
    }
    VDuration difference;
    UTC(2024, 3, 1).Substract(UTC(2024, 2, 28), difference);
    EXPECT_EQ(difference.ConvertToMilliseconds(), 2 * VDuration::kDay);
}

TEST(Times, StampStreamAndComparisons)
{
    VTime noon = UTC(2026, 12, 9, 12);
    const uint64_t stamp = (uint64_t{2026} << 48) | (uint64_t{12} << 40) | (uint64_t{9} << 32) | 43200000;
    EXPECT_EQ(noon.GetStamp(), stamp);
    EXPECT_EQ(Describe(VTime(stamp)), "2026-12-09 12:00:00.000");
    EXPECT_LT(UTC(2026, 12, 9).GetStamp(), noon.GetStamp());

    for (bool swap : {false, true})
    {
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        EXPECT_EQ(noon.WriteToStream(&stream), VE_OK);
        EXPECT_EQ(stream.PutValue(noon), VE_OK);
        stream.CloseWriting();
        ASSERT_EQ(stream.GetSize(), 8 + 2 + 8);
        const unsigned char* bytes = static_cast<const unsigned char*>(stream.GetDataPtr());
        EXPECT_EQ(bytes[swap ? 1 : 0], 2026 & 0xFF) << "year in the stream's order";
        EXPECT_EQ(bytes[2], 12);
        EXPECT_EQ(bytes[3], 9);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        stream.SetNeedSwap(swap);
        VTime read;
        EXPECT_EQ(read.ReadFromStream(&stream), VE_OK);
        EXPECT_EQ(read, noon);
        std::unique_ptr<VValue> value(stream.GetValue());
        ASSERT_NE(value, nullptr);
        ASSERT_EQ(value->GetValueKind(), VK_TIME);
        EXPECT_EQ(*static_cast<VTime*>(value.get()), noon);
        stream.CloseReading();
    }

    std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(VK_TIME));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(Describe(*static_cast<VTime*>(made.get())), "0-00-00 00:00:00.000");
    unsigned char data[8];
    noon.WriteToPtr(data);
    EXPECT_EQ(noon.CompareToSameKindPtr(data), CR_EQUAL);
    EXPECT_EQ(UTC(2027, 1, 1).CompareToSameKindPtr(data), CR_BIGGER);
    EXPECT_EQ(VTime::Info().CompareTwoPtrToData(data, data), CR_EQUAL);

    VTime zero;
    zero.SetNull(true);
    EXPECT_EQ(zero.CompareTo(VTime()), CR_EQUAL) << "null flags are not compared";
    EXPECT_TRUE(UTC(2024, 1, 1) < UTC(2024, 1, 2));
    EXPECT_TRUE(UTC(2024, 1, 1, 1) > UTC(2024, 1, 1));
}

TEST(Times, ConversionsWithStringsAndValues)
{
    // A kind without times clears the target; the copy keeps the null flag.
    VTime target = UTC(2024, 1, 1);
    VDuration().GetTime(target);
    EXPECT_EQ(Describe(target), "0-00-00 00:00:00.000");
    VTime copy;
    copy.FromValue(UTC(2024, 5, 6));
    EXPECT_EQ(Describe(copy), "2024-05-06 00:00:00.000");
    VTime null;
    null.SetNull(true);
    copy.FromValue(null);
    EXPECT_TRUE(copy.IsNull());
    // Times and durations meet in milliseconds.
    EXPECT_EQ(UTC(2000, 1, 1).GetLong8OrMilliSeconds(), int64_t{2451544} * 86400000);
}

TEST_F(TimeZoneTest, LocalTime)
{
    UseZone("Europe/Paris");
    struct Row
    {
        const char* fWhat;
        std::function<void(VTime&)> fSet;
        const char* fUTC;
    };
    const Row rows[] = {
        {"FromLocalTime before the spring change",
         [](VTime& t) { t.FromLocalTime(2026, 3, 29, 1, 30, 0, 0); }, "2026-03-29 00:30:00.000"},
        {"FromLocalTime after the spring change", [](VTime& t) { t.FromLocalTime(2026, 3, 29, 3, 30, 0, 0); },
         "2026-03-29 01:30:00.000"},
        {"FromLocalTime after the autumn change", [](VTime& t) { t.FromLocalTime(2026, 10, 25, 4, 0, 0, 0); },
         "2026-10-25 03:00:00.000"},
        {"SetLocalHour across the spring change",
         [](VTime& t)
         {
             t.FromLocalTime(2026, 3, 29, 0, 15, 0, 0);
             t.SetLocalHour(5);
         },
         "2026-03-29 03:15:00.000"},
        {"SetLocalHour across the autumn change",
         [](VTime& t)
         {
             t.FromLocalTime(2026, 10, 25, 0, 0, 0, 0);
             t.SetLocalHour(12);
         },
         "2026-10-25 11:00:00.000"},
        {"SetLocalHour 25 carries into the next day",
         [](VTime& t)
         {
             t.FromLocalTime(2026, 1, 10, 8, 0, 0, 0);
             t.SetLocalHour(25);
         },
         "2026-01-11 00:00:00.000"},
        {"SetLocalMonth 0 is December of the year before",
         [](VTime& t)
         {
             t.FromLocalTime(2026, 1, 10, 8, 0, 0, 0);
             t.SetLocalMonth(0);
         },
         "2025-12-10 07:00:00.000"},
        {"SetLocalDay 32 runs into the next month",
         [](VTime& t)
         {
             t.FromLocalTime(2026, 1, 10, 8, 0, 0, 0);
             t.SetLocalDay(32);
         },
         "2026-02-01 07:00:00.000"},
    };
    for (const Row& row : rows)
    {
        VTime time;
        row.fSet(time);
        EXPECT_EQ(Describe(time), row.fUTC) << row.fWhat;
    }

    VTime summer = UTC(2026, 7, 1, 10);
    EXPECT_EQ(summer.GetLocalHour(), 12);
    VDuration sinceMidnight;
    summer.GetLocalDurationSinceMidnight(sinceMidnight);
    EXPECT_EQ(sinceMidnight.ConvertToMilliseconds(), 12 * VDuration::kHour);
    // 2026-07-01 10:00 UTC is 1782900000 seconds after 1970.
    EXPECT_EQ(summer.GetLocalUnixTime(), 1782900000);
    EXPECT_EQ(UTC(2026, 1, 1).GetLocalUnixTime(true), int64_t{1767225600} * 1000);
}

} // namespace
