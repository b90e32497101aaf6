#include "toolbox/kernel/linux/XLinuxIntlMgr.h"

#include "platform/PreferredLanguages.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"

#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace zorn
{

namespace
{

// The system formatter styles 1..4 (0 is none).
constexpr icu::DateFormat::EStyle kStyles[] = {icu::DateFormat::kNone, icu::DateFormat::kShort,
                                               icu::DateFormat::kMedium, icu::DateFormat::kLong,
                                               icu::DateFormat::kFull};
constexpr int kStyleCount = 5;
// Templates kept per object: callers use a few, and an unbounded cache would grow with input.
constexpr size_t kMaxTemplates = 8;

bool IsStyle(int inStyle)
{
    return inStyle >= 0 && inStyle < kStyleCount;
}

void ToVString(const icu::UnicodeString& inText, VString& outText)
{
    outText.FromUniCString(reinterpret_cast<const UniChar*>(inText.getBuffer()), inText.length());
}

icu::UnicodeString ToUnicodeString(const VString& inText)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(inText.GetCPointer()), inText.GetLength());
}

// The time's UTC parts read as GMT, without milliseconds.
double MillisecondsOf(const VTime& inTime)
{
    int16_t parts[7];
    inTime.GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    return VIntlMgr::MillisecondsOfUTCParts({parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]});
}

// GMT as the zone data has it: its offsets come from a table, where the built-in GMT zone
// (TimeZone::getGMT, a SimpleTimeZone) works each one out from the calendar fields again. Both
// have the ID "GMT" and give the same texts. The built-in one stands in when the data has none.
icu::TimeZone* NewGMT()
{
    icu::TimeZone* zone = icu::TimeZone::createTimeZone(UNICODE_STRING_SIMPLE("GMT"));
    if (zone != nullptr && *zone == icu::TimeZone::getUnknown())
    {
        delete zone;
        zone = nullptr;
    }
    return zone != nullptr ? zone : icu::TimeZone::getGMT()->clone();
}

// The date's parts are proleptic Gregorian: so must the formatter's calendar be, where the
// locale's calendar is the Gregorian one (ICU switches to the Julian calendar before 1582). The
// zone is GMT or the default one.
void PrepareFormatter(icu::DateFormat& ioFormat, bool inUTC)
{
    const auto* gregorian = dynamic_cast<const icu::GregorianCalendar*>(ioFormat.getCalendar());
    if (gregorian != nullptr && std::strcmp(gregorian->getType(), "gregorian") == 0)
    {
        icu::GregorianCalendar* proleptic = gregorian->clone();
        UErrorCode status = U_ZERO_ERROR;
        proleptic->setGregorianChange(-8.64e15, status);
        if (U_SUCCESS(status))
        {
            ioFormat.adoptCalendar(proleptic);
        }
        else
        {
            delete proleptic;
        }
    }
    ioFormat.adoptTimeZone(inUTC ? NewGMT() : icu::TimeZone::createDefault());
}

uint32_t ZoneGeneration(bool inUTC)
{
    return inUTC ? 0 : VSystem::GetTimeZoneGeneration();
}

} // namespace

struct XLinuxIntlMgr::Caches
{
    struct Formatter
    {
        std::unique_ptr<icu::DateFormat> fFormat;
        // A copy of the formatter's calendar (its zone included), set to each time formatted.
        // DateFormat::format(UDate) copies the calendar, its time zone with it, at every call;
        // formatting with a calendar of our own spares that (the mutex keeps it to one caller).
        std::unique_ptr<icu::Calendar> fCalendar;
        uint32_t fZoneGeneration = 0; // VSystem's, when the formatter is in the local zone
    };
    struct TemplateFormatter
    {
        icu::UnicodeString fTemplate;
        bool fUTC = false;
        Formatter fFormatter;
    };

    // The formatter of a slot, opened again when the zone it holds is stale; null when ICU has
    // none.
    template <typename Open>
    Formatter* Use(Formatter& ioSlot, bool inUTC, Open&& inOpen)
    {
        uint32_t generation = ZoneGeneration(inUTC);
        if (ioSlot.fFormat != nullptr && ioSlot.fZoneGeneration != generation)
        {
            ioSlot.fFormat.reset();
        }
        if (ioSlot.fFormat == nullptr)
        {
            ioSlot.fFormat = inOpen();
            if (ioSlot.fFormat == nullptr)
            {
                return nullptr;
            }
            PrepareFormatter(*ioSlot.fFormat, inUTC);
            ioSlot.fCalendar.reset(ioSlot.fFormat->getCalendar()->clone());
            if (ioSlot.fCalendar == nullptr)
            {
                ioSlot.fFormat.reset();
                return nullptr;
            }
            ioSlot.fZoneGeneration = generation;
        }
        return &ioSlot;
    }

    // The text of the instant with the slot's formatter, as DateFormat::format(UDate) makes it.
    static void Format(Formatter& ioSlot, double inMilliseconds, VString& outText)
    {
        UErrorCode status = U_ZERO_ERROR;
        ioSlot.fCalendar->setTime(inMilliseconds, status);
        if (U_FAILURE(status))
        {
            outText.Clear();
            return;
        }
        icu::UnicodeString text;
        icu::FieldPosition position(icu::FieldPosition::DONT_CARE);
        ToVString(ioSlot.fFormat->format(*ioSlot.fCalendar, text, position), outText);
    }

    icu::DateFormatSymbols* Symbols(const std::string& inLocaleName)
    {
        if (fSymbols == nullptr)
        {
            UErrorCode status = U_ZERO_ERROR;
            fSymbols = std::make_unique<icu::DateFormatSymbols>(icu::Locale(inLocaleName.c_str()), status);
            if (U_FAILURE(status))
            {
                fSymbols.reset();
            }
        }
        return fSymbols.get();
    }

    std::mutex fMutex;
    // [date style][time style][local, GMT]
    Formatter fStyled[kStyleCount][kStyleCount][2];
    std::vector<TemplateFormatter> fTemplates; // most recently added last
    std::unique_ptr<icu::DateTimePatternGenerator> fGenerator;
    std::unique_ptr<icu::DateFormatSymbols> fSymbols;
    std::unique_ptr<icu::MeasureFormat> fDurationFormat;
};

XLinuxIntlMgr::XLinuxIntlMgr(uint32_t inDialectCode)
    : fDialectCode(inDialectCode), fLocaleName(MakeLocaleName(inDialectCode)),
      fCaches(std::make_unique<Caches>())
{
}

XLinuxIntlMgr::XLinuxIntlMgr(const XLinuxIntlMgr& inOther)
    : fDialectCode(inOther.fDialectCode), fLocaleName(inOther.fLocaleName),
      fCaches(std::make_unique<Caches>())
{
}

XLinuxIntlMgr::~XLinuxIntlMgr() = default;

std::string XLinuxIntlMgr::MakeLocaleName(uint32_t inDialectCode)
{
    VString code;
    std::string tag = "en-US";
    if (VIntlMgr::GetBCP47LanguageCode(inDialectCode, code))
    {
        tag.clear();
        for (int32_t i = 0; i < code.GetLength(); ++i)
        {
            tag.push_back(static_cast<char>(code.GetCPointer()[i]));
        }
    }
    char name[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_forLanguageTag(tag.c_str(), name, sizeof(name), nullptr, &status);
    std::string localeName = U_SUCCESS(status) && *name != 0 ? std::string(name) : std::string("en_US");

    // The system dialect takes the user's own locale when it is of the same language.
    const char* language = VIntlMgr::GetISO6391LanguageCode(inDialectCode);
    if (language != nullptr && inDialectCode == VIntlMgr::ResolveDialectCode(0))
    {
        std::string user = platform::GetUserLocaleName();
        char canonical[ULOC_FULLNAME_CAPACITY] = "";
        char userLanguage[ULOC_LANG_CAPACITY] = "";
        status = U_ZERO_ERROR;
        uloc_canonicalize(user.c_str(), canonical, sizeof(canonical), &status);
        uloc_getLanguage(canonical, userLanguage, sizeof(userLanguage), &status);
        if (U_SUCCESS(status) && !user.empty() && std::strcmp(userLanguage, language) == 0)
        {
            localeName = canonical;
        }
    }
    return localeName;
}

void XLinuxIntlMgr::LoadLocaleData(LocaleData& outData) const
{
    icu::Locale locale(fLocaleName.c_str());
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols numbers(locale, status);
    if (U_SUCCESS(status))
    {
        ToVString(numbers.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol),
                  outData.fDecimalSeparator);
        ToVString(numbers.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol),
                  outData.fGroupingSeparator);
        ToVString(numbers.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol), outData.fCurrencySymbol);
    }
    status = U_ZERO_ERROR;
    icu::DateFormatSymbols dates(locale, status);
    int32_t count = 0;
    const icu::UnicodeString* amPm = U_SUCCESS(status) ? dates.getAmPmStrings(count) : nullptr;
    if (amPm != nullptr && count >= 2)
    {
        ToVString(amPm[0], outData.fAMSymbol);
        ToVString(amPm[1], outData.fPMSymbol);
    }
    for (int style = 0; style < 4; ++style)
    {
        std::unique_ptr<icu::DateFormat> date(
            icu::DateFormat::createDateInstance(kStyles[style + 1], locale));
        std::unique_ptr<icu::DateFormat> time(
            icu::DateFormat::createTimeInstance(kStyles[style + 1], locale));
        icu::UnicodeString pattern;
        if (const auto* simple = dynamic_cast<const icu::SimpleDateFormat*>(date.get()))
        {
            ToVString(simple->toPattern(pattern), outData.fDatePatterns[style]);
        }
        pattern.remove();
        if (const auto* simple = dynamic_cast<const icu::SimpleDateFormat*>(time.get()))
        {
            ToVString(simple->toPattern(pattern), outData.fTimePatterns[style]);
        }
    }
}

// Dates and times

void XLinuxIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inUTC) const
{
    static constexpr int kDateStyles[] = {1, 2, 4};
    if (inStyle < 0 || inStyle > 2)
    {
        outText.Clear(); // no date style: nothing to show
        return;
    }
    FormatVTime(inTime, outText, kDateStyles[inStyle], 0, inUTC);
}

void XLinuxIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inUTC) const
{
    static constexpr int kTimeStyles[] = {1, 2, 3};
    FormatVTime(inTime, outText, 0, inStyle >= 0 && inStyle <= 2 ? kTimeStyles[inStyle] : 0, inUTC);
}

void XLinuxIntlMgr::FormatVTime(const VTime& inTime, VString& outText, int inDateStyle, int inTimeStyle,
                                bool inUTC) const
{
    if (inTime.IsNull())
    {
        outText.Clear();
        return;
    }
    FormatMilliseconds(MillisecondsOf(inTime), outText, inDateStyle, inTimeStyle, inUTC);
}

void XLinuxIntlMgr::FormatMilliseconds(double inMilliseconds, VString& outText, int inDateStyle,
                                       int inTimeStyle, bool inUTC) const
{
    // The text replaces the output's content only at the end, so that a string used again keeps
    // its buffer; it is cleared where nothing is written.
    if (!IsStyle(inDateStyle) || !IsStyle(inTimeStyle) || (inDateStyle == 0 && inTimeStyle == 0))
    {
        outText.Clear();
        return;
    }
    std::lock_guard lock(fCaches->fMutex);
    Caches::Formatter* formatter =
        fCaches->Use(fCaches->fStyled[inDateStyle][inTimeStyle][inUTC ? 1 : 0], inUTC,
                     [&]
                     {
                         return std::unique_ptr<icu::DateFormat>(icu::DateFormat::createDateTimeInstance(
                             kStyles[inDateStyle], kStyles[inTimeStyle], icu::Locale(fLocaleName.c_str())));
                     });
    if (formatter == nullptr)
    {
        outText.Clear();
        return;
    }
    Caches::Format(*formatter, inMilliseconds, outText);
}

void XLinuxIntlMgr::FormatVTime(const VTime& inTime, VString& outText, icu::DateFormat& ioFormatter,
                                bool inUTC) const
{
    outText.Clear();
    if (inTime.IsNull())
    {
        return;
    }
    ioFormatter.adoptTimeZone(inUTC ? NewGMT() : icu::TimeZone::createDefault());
    icu::UnicodeString text;
    ToVString(ioFormatter.format(MillisecondsOf(inTime), text), outText);
}

void XLinuxIntlMgr::FormatVTimeWithTemplate(const VTime& inTime, VString& outText, const VString& inTemplate,
                                            bool inUTC) const
{
    if (inTime.IsNull())
    {
        outText.Clear();
        return;
    }
    icu::UnicodeString skeleton = ToUnicodeString(inTemplate);
    std::lock_guard lock(fCaches->fMutex);
    std::vector<Caches::TemplateFormatter>& templates = fCaches->fTemplates;
    auto found = std::find_if(templates.begin(), templates.end(),
                              [&](const Caches::TemplateFormatter& inEntry)
                              { return inEntry.fUTC == inUTC && inEntry.fTemplate == skeleton; });
    if (found == templates.end())
    {
        if (templates.size() == kMaxTemplates)
        {
            templates.erase(templates.begin());
        }
        templates.push_back({skeleton, inUTC, {}});
        found = templates.end() - 1;
    }
    Caches::Formatter* formatter = fCaches->Use(
        found->fFormatter, inUTC,
        [&]() -> std::unique_ptr<icu::DateFormat>
        {
            icu::Locale locale(fLocaleName.c_str());
            UErrorCode status = U_ZERO_ERROR;
            if (fCaches->fGenerator == nullptr)
            {
                fCaches->fGenerator.reset(icu::DateTimePatternGenerator::createInstance(locale, status));
                if (U_FAILURE(status))
                {
                    fCaches->fGenerator.reset();
                    return nullptr;
                }
            }
            icu::UnicodeString pattern = fCaches->fGenerator->getBestPattern(skeleton, status);
            auto simple = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
            return U_SUCCESS(status) ? std::move(simple) : nullptr;
        });
    if (formatter == nullptr)
    {
        templates.erase(found);
        outText.Clear();
        return;
    }
    Caches::Format(*formatter, MillisecondsOf(inTime), outText);
}

// Durations

void XLinuxIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inStyle) const
{
    static constexpr int kTimeStyles[] = {1, 2, 3};
    FormatVDuration(inDuration, outText, 0, inStyle >= 0 && inStyle <= 2 ? kTimeStyles[inStyle] : 0);
}

void XLinuxIntlMgr::FormatVDuration(const VDuration& inDuration, VString& outText, int inDateStyle,
                                    int inTimeStyle) const
{
    outText.Clear();
    if (!IsStyle(inDateStyle) || !IsStyle(inTimeStyle) || (inDateStyle == 0 && inTimeStyle == 0))
    {
        return;
    }
    int64_t milliseconds = inDuration.ConvertToMilliseconds();
    bool negative = milliseconds < 0;
    // The size of the most negative count does not fit: one millisecond less makes no visible change.
    uint64_t size =
        negative ? static_cast<uint64_t>(-(milliseconds + 1)) + 1 : static_cast<uint64_t>(milliseconds);
    uint64_t seconds = size / 1000;
    bool withSeconds = inTimeStyle != 1;

    std::lock_guard lock(fCaches->fMutex);
    UErrorCode status = U_ZERO_ERROR;
    if (fCaches->fDurationFormat == nullptr)
    {
        fCaches->fDurationFormat = std::make_unique<icu::MeasureFormat>(icu::Locale(fLocaleName.c_str()),
                                                                        UMEASFMT_WIDTH_NUMERIC, status);
        if (U_FAILURE(status))
        {
            fCaches->fDurationFormat.reset();
            return;
        }
    }
    icu::Measure measures[] = {
        icu::Measure(icu::Formattable(static_cast<int64_t>(seconds / 3600)),
                     icu::MeasureUnit::createHour(status), status),
        icu::Measure(icu::Formattable(static_cast<int32_t>(seconds / 60 % 60)),
                     icu::MeasureUnit::createMinute(status), status),
        icu::Measure(icu::Formattable(static_cast<int32_t>(seconds % 60)),
                     icu::MeasureUnit::createSecond(status), status),
    };
    icu::UnicodeString text;
    if (negative)
    {
        text.append(u'-');
    }
    icu::FieldPosition position;
    fCaches->fDurationFormat->formatMeasures(measures, withSeconds ? 3 : 2, text, position, status);
    if (U_SUCCESS(status))
    {
        ToVString(text, outText);
    }
}

// Case

bool XLinuxIntlMgr::ToUpperLowerCase(const UniChar* inSource, int32_t inSourceLength, UniChar* outDestination,
                                     int32_t& ioDestinationLength, bool inUpper)
{
    if (inSourceLength <= 0)
    {
        ioDestinationLength = 0;
        return true;
    }
    // Mapped whole first: ICU leaves a destination that is too small undefined.
    icu::UnicodeString text(reinterpret_cast<const UChar*>(inSource), inSourceLength);
    if (inUpper)
    {
        text.toUpper(icu::Locale::getRoot());
    }
    else
    {
        text.toLower(icu::Locale::getRoot());
    }
    int32_t length = text.isBogus() ? 0 : text.length();
    int32_t copied = std::min(length, std::max(ioDestinationLength, 0));
    if (copied > 0)
    {
        text.extract(0, copied, reinterpret_cast<UChar*>(outDestination));
    }
    ioDestinationLength = length;
    return length != 0;
}

// Calendar names

void XLinuxIntlMgr::GetMonthName(int32_t inMonth, bool inAbbreviated, VString& outName) const
{
    if (inMonth >= 1 && inMonth <= 12)
    {
        _GetCalendarName(false, inMonth - 1, inAbbreviated, outName);
    }
}

void XLinuxIntlMgr::GetWeekDayName(int32_t inDay, bool inAbbreviated, VString& outName) const
{
    // ICU's weekdays are numbered from 1 (Sunday); entry 0 is empty.
    if (inDay >= 0 && inDay <= 6)
    {
        _GetCalendarName(true, inDay + 1, inAbbreviated, outName);
    }
}

void XLinuxIntlMgr::_GetCalendarName(bool inWeekDay, int32_t inIndex, bool inAbbreviated,
                                     VString& outName) const
{
    std::lock_guard lock(fCaches->fMutex);
    icu::DateFormatSymbols* symbols = fCaches->Symbols(fLocaleName);
    if (symbols == nullptr)
    {
        return;
    }
    const auto width = inAbbreviated ? icu::DateFormatSymbols::ABBREVIATED : icu::DateFormatSymbols::WIDE;
    int32_t count = 0;
    const icu::UnicodeString* names = inWeekDay
                                          ? symbols->getWeekdays(count, icu::DateFormatSymbols::FORMAT, width)
                                          : symbols->getMonths(count, icu::DateFormatSymbols::FORMAT, width);
    if (names != nullptr && inIndex < count)
    {
        ToVString(names[inIndex], outName);
    }
}

} // namespace zorn
