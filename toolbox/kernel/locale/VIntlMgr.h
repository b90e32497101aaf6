// VIntlMgr: the international settings of one dialect, on ICU. It answers the locale questions
// of the toolbox: which dialect a language code names, the ISO, RFC 3066bis and BCP 47 codes of a
// dialect, the system dialect, the locale's separators, symbols, date order and date and time
// patterns, formatted dates, times and durations and calendar names (through its ICU back end,
// XLinuxIntlMgr), character classes, case mapping, word boundaries, whole-word and word-bounded
// search, and every collated string comparison through the collator it owns (VCollator).
//
// A dialect code is a 32-bit Windows language identifier: the low 10 bits are the primary
// language, the bits above the sub-language; (code & 1023) | 1024 is the primary language's
// default dialect; 1033 (English, United States) is the fallback everywhere; -2, -1 and 0 mean
// the system dialect: the first of the user's preferred languages (platform/PreferredLanguages.h:
// LANGUAGE, then LC_ALL, LC_MESSAGES, LANG), read once. A dialect's locale is its BCP 47 code
// from the dialect table (1036 is fr-FR, 1028 zh-TW), except that the system dialect takes the
// user's own locale when it is of the same language, so that regional settings such as fr_CH
// apply.
//
// The dialect table has 154 rows in a fixed order; a code may stand in several rows (1044, 1050,
// 1065) and every look-up by code takes the first (1050 gives "hr", not "sr").
//
// Choices made:
// - The locale settings come from ICU's symbols and formatter patterns; the time separator, the
//   twelve-hour flag, the date separator and the date order are read from the short patterns
//   (text between quotes skipped). A lone generic currency sign U+00A4 becomes the euro sign.
// - FormatDateTimeWithPattern reads its own letter table (below), not ICU's pattern language; a
//   run of one letter longer than 999 counts as 999, so no width taken from input is unbounded.
// - Searches that resume after a match (FindWord, FindStrings) move on by at least one unit, even
//   after a match of no length (a pattern of ignorable characters), so they always end.
//
// Managers are reference-counted; their settings are fixed by Create, except the collator's wild
// character. The collated operations of the calling task go through GetCurrent(). One manager
// may format for several tasks at once (the back end serialises its formatters).
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/linux/XLinuxIntlMgr.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/strings/VString.h"

#include <string>
#include <utility>
#include <vector>

namespace zorn
{

class VCompareOptions;
class VDuration;
class VTime;

// Format styles of dates and times.
enum EOSFormats : int
{
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2 // full for dates, long for times
};

// How FindStrings treats a match against the text's words; other values accept every match.
enum EFindStringMode : int
{
    eFindStringAnywhere = 0,
    eFindStringWholeWords = 3, // neither the start nor the end of the match lies inside a word
    eFindStringWordStarts = 5, // the match does not start inside a word
    eFindStringWordEnds = 6    // the match does not end inside a word
};

// One run of text at one embedding level (positions 0-based from the text's start).
struct VBidiRun
{
    int32_t fStart = 0;
    int32_t fLength = 0;
    uint32_t fReserved = 0;
    int32_t fLevel = 0;
};

// No manager can be made for the dialect (unknown even after fallback, or no collator for it).
constexpr VError VE_INTL_MGR_CREATE_FAILED = MakeVError(kCOMPONENT_ZORN, 0x131);

class VIntlMgr : public VObject, public IRefCountable
{
public:
    // A date and time of day in UTC, in the parts that dates hand over for formatting (month
    // 1..12; milliseconds are not shown). Years are proleptic Gregorian.
    struct DateTimeParts
    {
        int32_t fYear = 1970;
        int32_t fMonth = 1;
        int32_t fDay = 1;
        int32_t fHour = 0;
        int32_t fMinute = 0;
        int32_t fSecond = 0;
    };

    // Word options: bit 0 selects the manager's own word rules (and the "AlphaNum" keyword
    // signature), bit 2 the word-by-word path of FindWord. Managers are made with bit 0 alone.
    static constexpr uint32_t kWordOptionOwnRules = 1;
    static constexpr uint32_t kWordOptionCompareWords = 4;

    // A new manager (one reference for the caller). An unknown dialect falls back to its primary
    // language's default dialect, then to 1033; so does the collation dialect, where Hungarian
    // (1038) and Thai (1054) collate as 1033. When the calling task's manager has the same
    // settings, the result is a clone of it. Null, with VE_INTL_MGR_CREATE_FAILED raised, when no
    // manager can be made.
    static VIntlMgr* Create(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions = 0);
    // A new manager with the same settings and a clone of the collator; null when that fails.
    VIntlMgr* Clone() const;
    // Resets the collator's settings (the wild character).
    void Reset();

    // The manager of the calling task (VTask::GetCurrentIntlManager: the task's own, else the
    // process's), not retained; null when there is none.
    static VIntlMgr* GetCurrent();
    // The collator of GetCurrent(), or VCollator::GetBinaryCollator() while there is no manager:
    // collated string operations then compare code units.
    static VCollator* GetCurrentCollator();

    // Dialect codes. ResolveDialectCode maps -2..0 to the system dialect (computed once, the
    // dialect of the first preferred language, 1033 when there is none or it names none) and
    // leaves every other code as it is.
    static uint32_t ResolveDialectCode(uint32_t inDialectCode);
    // The dialect of each preferred language, in order, read anew at each call (1033 for an
    // entry that names none; {1033} when there is no entry); the first of them.
    static void GetSystemUIDialectCodes(std::vector<uint32_t>& outDialectCodes);
    static uint32_t GetSystemUIDialectCode();
    // The dialect of one entry of the user's language settings, a POSIX locale name or a
    // language code ("fr_CH.UTF-8" 4108, "C" 1033, "zh_TW" 1028); 1033 when it names none.
    static uint32_t GetDialectCodeWithSystemLanguage(const std::string& inLanguage);
    // Whether the system UI dialect is Chinese, Japanese or Korean.
    static bool IsSystemUIDialectIdeographic();
    static bool IsDialectCode(uint32_t inDialectCode);
    // Arabic, Hebrew, Persian and Urdu (primary languages 1, 13, 32, 41) of the resolved code.
    static bool IsRightToLeftDialect(uint32_t inDialectCode);
    // Every row's code in table order, duplicates included (154 codes).
    static void GetAllDialects(std::vector<uint32_t>& outDialectCodes);
    // (ISO 639-1 code, code) for every row's code in table order.
    static void GetDialectsHavingCollator(std::vector<std::pair<VString, uint32_t>>& outDialects);
    // The script system of a dialect, 0 (Western European) to 16 (Turkish); 0xFFFFFFFF otherwise.
    static uint32_t DialectCodeToScriptCode(uint32_t inDialectCode);

    // Table look-ups by code (first row). Each clears the text and returns whether it is not
    // empty; the forms without a text return the table's text, or null for an unknown code.
    static const char* GetISO6391LanguageCode(uint32_t inDialectCode);
    static const char* GetISO3166RegionCode(uint32_t inDialectCode);
    static bool GetISO6391LanguageCode(uint32_t inDialectCode, VString& outCode);
    static bool GetISO6392LanguageCode(uint32_t inDialectCode, VString& outCode);
    // The lower-case English name column ("english", "india" for Hindi).
    static bool GetISOLanguageName(uint32_t inDialectCode, VString& outName);
    static bool GetISO3166RegionCode(uint32_t inDialectCode, VString& outCode);
    static bool GetRFC3066BisSubTagRegionCode(uint32_t inDialectCode, VString& outSubTag);
    // "en-US", "zh-TW", "ar" (no region): the ISO 639-1 code, then "-" and the ISO 3166 region
    // when the row has one.
    static bool GetBCP47LanguageCode(uint32_t inDialectCode, VString& outCode);
    // The ISO 639-1 code, then the separator and the RFC 3066bis sub-tag when the row has one:
    // 1028 "zh-Hant", 2057 "en-gb" or "en_gb", 1033 "en".
    static bool GetRFC3066BisLanguageCodeWithDialectCode(uint32_t inDialectCode, VString& outCode,
                                                         char inSeparator = '-');
    // The dialect of a language code "en", "en-GB" or "en_GB" (language and sub-tag as in the
    // dialect table, compared without case). Without a row for the sub-tag, fallBackToLanguage
    // takes the language's row without sub-tag and gives its default dialect; a language alone
    // gives the default dialect when defaultSubLanguage is set, else the row's own. False (and -2
    // in outCode) when nothing fits, and for any other shape ("zh-Hans-CN", "a-b_c").
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32_t& outDialectCode,
                                                         bool inFallBackToLanguage,
                                                         bool inDefaultSubLanguage);
    // The same with the language and the sub-tag (null or empty: none) apart.
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inSubTag,
                                                         uint32_t& outDialectCode, bool inFallBackToLanguage,
                                                         bool inDefaultSubLanguage);
    // The default dialect of the first row with that English name and no sub-tag ("spanish"
    // 1110); false (out unchanged) when none.
    static bool GetDialectCodeWithISOLanguageName(const VString& inName, uint32_t& outDialectCode);
    // How two language codes relate: 4 the same text; 3 the first is a region or script of the
    // second's language ("fr-CH" and "fr"); 2 the reverse; 1 two codes of one language ("fr-CH",
    // "fr-BE"); 0 otherwise, and whenever either names no dialect. Case does not count.
    static int32_t Compare2RFC3066LanguageCodes(const VString& inCode1, const VString& inCode2);
    // The ICU locale name of a dialect (XLinuxIntlMgr::MakeLocaleName).
    static std::string GetICULocaleNameForDialect(uint32_t inDialectCode);

    uint32_t GetDialectCode() const { return fDialectCode; }
    uint32_t GetCollationDialectCode() const { return fCollationDialectCode; }
    // The ICU locale this manager formats and maps case in.
    const std::string& GetICULocaleName() const { return fPlatform.GetLocaleName(); }
    const XLinuxIntlMgr& GetPlatform() const { return fPlatform; }
    VCollator* GetCollator() const { return fCollator; }
    uint32_t GetWordOptions() const { return fWordOptions; }

    // Locale settings, fixed by Create. Patterns are ICU's, indexed by style 0 short, 1 medium,
    // 2 long, 3 full (another index gives an empty text). The date order tells in which order
    // the short date shows month, day and year: 0 "Mdy", 1 "dMy", 2 "yMd", 3 "Myd", 4 "dyM",
    // 5 "ydM" (0 when the pattern shows another).
    const VString& GetDecimalSeparator() const { return fDecimalSeparator; }
    const VString& GetThousandsSeparator() const { return fThousandsSeparator; }
    const VString& GetCurrencySymbol() const { return fCurrencySymbol; }
    const VString& GetAMSymbol() const { return fAMSymbol; }
    const VString& GetPMSymbol() const { return fPMSymbol; }
    const VString& GetDateSeparator() const { return fDateSeparator; }
    const VString& GetTimeSeparator() const { return fTimeSeparator; }
    bool UseTwelveHourClock() const { return fTwelveHourClock; }
    uint32_t GetDateOrder() const { return fDateOrder; }
    const VString& GetDatePattern(int32_t inStyle) const;
    const VString& GetTimePattern(int32_t inStyle) const;

    // Character classes from the Unicode properties of one UTF-16 unit (a surrogate is none of
    // them). IsDigit: decimal digits of any script; IsAlpha: letters; IsSpace: U+0020, U+00A0,
    // U+2000..U+200B and U+3000 (the flag is not used).
    bool IsAlpha(UniChar inUnit) const;
    bool IsDigit(UniChar inUnit) const;
    bool IsPunctuation(UniChar inUnit) const;
    bool IsSpace(UniChar inUnit, bool inFlag = false) const;
    // 0..9 for "0".."9", else 0xFFFFFFFF.
    static uint32_t CharDigitValue(UniChar inUnit);
    // Classes of a Mac Roman byte: 0 printable (with tab and return), 1 identifier character
    // (letters, digits, "_", accented letters 128..159 and a few ligatures), 2 the same without
    // digits, 3 ASCII letter, digit or "_", 4 ASCII letter or "_", 5 digit; false for other kinds.
    static bool IsAMacCharacter(uint8_t inChar, uint8_t inKind);

    // Maps the string's case in place by the rules of the dialect's locale (Turkish maps "i" to
    // U+0130); the result may be longer than the text ("ß" gives "SS"). The first flag is not
    // used. The string is left as it was when the mapping fails.
    void ToUpperLowerCase(VString& ioText, bool inFlag, bool inUpper) const;
    // The same by the rules that hold for every locale, for code that has no manager.
    static void ToUpperLowerCaseNoDialect(VString& ioText, bool inUpper);
    // A buffer mapped by the rules that hold for every locale (XLinuxIntlMgr::ToUpperLowerCase).
    static bool ToUpperLowerCase(const UniChar* inSource, int32_t inSourceLength, UniChar* outDestination,
                                 int32_t& ioDestinationLength, bool inUpper)
    {
        return XLinuxIntlMgr::ToUpperLowerCase(inSource, inSourceLength, outDestination, ioDestinationLength,
                                               inUpper);
    }
    // A debugging aid that converts nothing: with both character sets the same it copies as many
    // bytes as both sizes allow, sets ioDestinationBytes to that and returns true; else false.
    static bool DebugConvertString(const void* inSource, int32_t inSourceBytes, CharSet inSourceCharSet,
                                   void* outDestination, int32_t& ioDestinationBytes,
                                   CharSet inDestinationCharSet);

    // The date part (short, medium or full) or the time part (short, medium or long) of a UTC
    // date, in the manager's locale; gmt true shows it in UTC, false in the local time zone.
    // Other styles give an empty text.
    void FormatDate(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const;
    void FormatTime(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const;
    // The same for a time value, through the back end; a null time gives an empty text.
    void FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const;
    void FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const;
    // An elapsed time in hours, minutes and seconds (XLinuxIntlMgr::FormatDuration).
    void FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inStyle) const;
    // Names of month 1..12 and weekday 0..6 (0 Sunday); the text is cleared out of range.
    void GetMonthName(int32_t inMonth, bool inAbbreviated, VString& outName) const;
    void GetWeekDayName(int32_t inDay, bool inAbbreviated, VString& outName) const;
    // A time by a pattern of letters, each run of one letter standing for a field:
    //   D day of year (width 1 to 3); E weekday (1-3 letters abbreviated, 4 full, 5 its first
    //   character, 6 its first two); G era ("AD", 4 letters "Anno Domini", 5 "A"); H hour 0-23,
    //   K hour 0-11, h hour 1-12, k hour 1-24, m minute, s second, d day (width 1, or 2 for two
    //   letters or more); M and L month (width 1 or 2, 3 letters abbreviated name, 4 full name,
    //   5 its first character; monthName, when given, stands for the name); y and Y year (one
    //   letter plain, n letters at least n digits; never cut); a "AM" or "PM"; g Julian day
    //   (width = letters). A F Q S V W Z c e q u v w z show nothing; other letters and every
    //   other unit are copied. Runs longer than a field's longest form read as that form; widths
    //   stop at 999. The parts are those of the time in UTC (utc) or in the local zone.
    void FormatDateTimeWithPattern(const VTime& inTime, const VString& inPattern, bool inUTC,
                                   const VString* inMonthName, VString& outText) const;
    // Not supported: clears the text and returns 0.
    int32_t CustomFormatTime(const VTime& inTime, const VString& inPattern, VString& outText) const;

    // Words: with options bit 0, a word is a maximal run of letters and digits (units below 32
    // are never part of one); each word goes to outWords as (1-based start, length). An empty
    // text gives true and no words; without bit 0, false and no words.
    bool GetWordBoundariesWithOptions(const VString& inText,
                                      std::vector<std::pair<int32_t, int32_t>>& outWords,
                                      uint32_t inOptions) const;
    // Splits the word range at full stops: each non-empty piece is appended, and each dot as a
    // range of one when asked. Returns whether the range held a dot.
    static bool SplitWordAtDots(const VString& inText, std::pair<int32_t, int32_t> inRange,
                                std::vector<std::pair<int32_t, int32_t>>& ioRanges, bool inWithDots);
    // Whether a range of at least four units has an apostrophe (U+0027 or U+2019) in its second
    // unit followed by a vowel or "h" or "y" (an elision: "l'homme", "d'accord").
    static bool HasElisionApostrophe(const VString& inText, std::pair<int32_t, int32_t> inRange);
    // Whether the text holds the word: word by word through "like" equality when the options ask
    // for it and the word holds the wild character (or word option bit 2 is set), else a
    // collated search whose match must stand between non-word units.
    bool FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const;
    // Every collated match of the pattern (or the first when findAll is false) that the mode
    // accepts, as (1-based start, length).
    void FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode,
                     bool inDiacritical, std::vector<std::pair<int32_t, int32_t>>& outMatches,
                     bool inFindAll) const;
    // No bidirectional reordering is done: true only for an empty text or a lone carriage return.
    bool TextLogicalToVisual(VString& ioText, int32_t inDirection) const;
    // One run over the whole text (less a final carriage return when asked) at level
    // baseLevel & 1, visual order {0}; returns that level.
    int32_t GetBidiRuns(const UniChar* inText, int32_t inLength, std::vector<VBidiRun>& outRuns,
                        std::vector<int32_t>& outVisualOrder, int32_t inBaseLevel,
                        bool inIgnoreTrailingCR) const;
    // "AlphaNum" with word option bit 0; unchanged with only bits 1 or 2; else cleared.
    void GetKewordAlgorithmSignature(VString& outSignature) const;

    // Collated comparisons through the collator (VCollator describes them).
    CompareResult CompareString(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                int32_t inLength2, bool inDiacritical) const
    {
        return fCollator->CompareString(inText1, inLength1, inText2, inLength2, inDiacritical);
    }
    // The pattern form when the options ask for it, with the options' diacritical flag.
    CompareResult CompareString(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                int32_t inLength2, const VCompareOptions& inOptions) const;
    CompareResult CompareString_Like(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                     int32_t inLength2, bool inDiacritical) const
    {
        return fCollator->CompareString_Like(inText1, inLength1, inText2, inLength2, inDiacritical);
    }
    bool EqualString(const UniChar* inText1, int32_t inLength1, const UniChar* inText2, int32_t inLength2,
                     bool inDiacritical) const
    {
        return fCollator->EqualString(inText1, inLength1, inText2, inLength2, inDiacritical);
    }
    bool EqualString_Like(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                          int32_t inLength2, bool inDiacritical) const
    {
        return fCollator->EqualString_Like(inText1, inLength1, inText2, inLength2, inDiacritical);
    }
    UniChar GetWildChar() const;
    void GetStringComparisonAlgorithmSignature(VString& outSignature) const;

    // Milliseconds from 1970-01-01 00:00 UTC to proleptic Gregorian UTC parts.
    static double MillisecondsOfUTCParts(const DateTimeParts& inDate);

    VIntlMgr(const VIntlMgr&) = delete;
    VIntlMgr& operator=(const VIntlMgr&) = delete;
    ~VIntlMgr() override;

private:
    VIntlMgr(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions);
    VIntlMgr(const VIntlMgr& inOther, VCollator* inCollator);

    void _LoadLocaleVariables();
    bool _IsDeadChar(UniChar inUnit) const;

    XLinuxIntlMgr fPlatform;
    uint32_t fWordOptions = kWordOptionOwnRules;
    uint32_t fDialectCode;
    uint32_t fCollationDialectCode;
    uint8_t fOptions;
    VCollator* fCollator = nullptr; // owned: one reference
    VString fAMSymbol;
    VString fPMSymbol;
    bool fTwelveHourClock = false;
    VString fDecimalSeparator;
    VString fThousandsSeparator;
    VString fDateSeparator;
    VString fTimeSeparator;
    VString fCurrencySymbol;
    VString fDatePatterns[4];
    VString fTimePatterns[4];
    uint32_t fDateOrder = 0;
};

} // namespace zorn
