// VIntlMgr: dates and times shown by a pattern of letters.

#include "toolbox/kernel/locale/VIntlMgr.h"

#include "toolbox/kernel/values/VTime.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zorn
{

namespace
{

// Widths of numbers are taken from the pattern, which may come from outside: they stop here.
constexpr int32_t kMaxWidth = 999;

void AppendNumber(VString& ioText, int64_t inValue, int32_t inWidth)
{
    char buffer[kMaxWidth + 32];
    int length =
        std::snprintf(buffer, sizeof(buffer), "%0*lld", static_cast<int>(std::min(inWidth, kMaxWidth)),
                      static_cast<long long>(inValue));
    if (length > 0)
    {
        ioText.AppendCString(buffer);
    }
}

// The first units of a name (all of it when it is shorter).
void AppendPrefix(VString& ioText, const VString& inName, int32_t inUnits)
{
    ioText.AppendUniChars(inName.GetCPointer(), std::min(inUnits, inName.GetLength()));
}

} // namespace

void VIntlMgr::FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC,
                                         const VString* inMonthName, VString& outText) const
{
    int16_t parts[7];
    if (inUTC)
    {
        inTime.GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    }
    else
    {
        inTime.GetLocalTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    }
    const int32_t year = parts[0];
    const int32_t month = parts[1];
    const int32_t day = parts[2];
    const int32_t hour = parts[3];
    const int32_t minute = parts[4];
    const int32_t second = parts[5];

    VString work;
    VString name;
    const UniChar* units = inPattern.GetCPointer();
    const int32_t length = inPattern.GetLength();
    for (int32_t i = 0; i < length;)
    {
        const UniChar unit = units[i];
        if (unit < u'A' || unit > u'z')
        {
            work.AppendUniChar(unit);
            ++i;
            continue;
        }
        if (std::strchr("AFQSVWZcequvwz", static_cast<char>(unit)) != nullptr)
        {
            ++i; // fields this pattern language does not show
            continue;
        }
        int32_t run = 1;
        while (i + run < length && units[i + run] == unit)
        {
            ++run;
        }
        const UniChar* runStart = units + i;
        i += run;
        const int32_t count = std::min(run, kMaxWidth);
        const int32_t width = count == 1 ? 1 : 2;
        switch (unit)
        {
        case u'D':
            AppendNumber(work, VTime::ComputeYearDay(year, month, day), std::min(count, 3));
            break;
        case u'E':
        {
            int32_t weekDay = VTime::ComputeWeekDay(year, month, day);
            GetWeekDayName(weekDay, count <= 3, name);
            if (count <= 4)
            {
                work.AppendString(name);
            }
            else
            {
                AppendPrefix(work, name, count == 5 ? 1 : 2);
            }
            break;
        }
        case u'G':
            work.AppendCString(count <= 3 ? "AD" : count == 4 ? "Anno Domini" : "A");
            break;
        case u'H':
            AppendNumber(work, hour, width);
            break;
        case u'K':
            AppendNumber(work, hour % 12, width);
            break;
        case u'h':
            AppendNumber(work, hour % 12 == 0 ? 12 : hour % 12, width);
            break;
        case u'k':
            AppendNumber(work, hour == 0 ? 24 : hour, width);
            break;
        case u'm':
            AppendNumber(work, minute, width);
            break;
        case u's':
            AppendNumber(work, second, width);
            break;
        case u'd':
            AppendNumber(work, day, width);
            break;
        case u'M':
        case u'L':
            if (count <= 2)
            {
                AppendNumber(work, month, count);
                break;
            }
            if (inMonthName != nullptr)
            {
                name = *inMonthName;
            }
            else
            {
                GetMonthName(month, count == 3, name);
            }
            if (count <= 4)
            {
                work.AppendString(name);
            }
            else
            {
                AppendPrefix(work, name, 1);
            }
            break;
        case u'y':
        case u'Y':
            AppendNumber(work, year, count == 1 ? 0 : count);
            break;
        case u'a':
            work.AppendCString(hour > 11 ? "PM" : "AM");
            break;
        case u'g':
            AppendNumber(work, VTime::ComputeJulianDay(year, month, day), count);
            break;
        default:
            work.AppendUniChars(runStart, run);
            break;
        }
    }
    outText.FromString(work);
}

} // namespace zorn
