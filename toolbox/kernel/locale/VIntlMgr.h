// VIntlMgr: the international settings of one dialect, on ICU. It answers the locale questions
// of the toolbox: which locale a dialect code names, its decimal separator, character classes,
// case mapping in the dialect's locale, date and time formats, and every collated string
// comparison through the collator it owns (VCollator).
//
// A dialect code is a 32-bit Windows language identifier: the low 10 bits are the primary
// language, the bits above the sub-language; (code & 1023) | 1024 is the primary language's
// default dialect; 1033 (English, United States) is the fallback everywhere; -2, -1 and 0 mean
// the system dialect, which comes from the environment (LANGUAGE, then LC_ALL, LC_MESSAGES,
// LANG). A dialect's locale is its BCP 47 code from the dialect table (1036 is fr-FR, 1028
// zh-TW), except that the system dialect takes the user's own locale (LC_ALL, LC_MESSAGES,
// LANG) when it is of the same language, so that regional settings such as fr_CH apply.
//
// Managers are reference-counted; their settings are fixed by Create, except the collator's wild
// character. The collated operations of the calling task go through GetCurrent().
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/strings/VString.h"

#include <memory>
#include <string>

namespace zorn
{

class VCompareOptions;
class VTime;

// Format styles of dates and times.
enum EOSFormats
{
    eOS_SHORT_FORMAT = 0,
    eOS_MEDIUM_FORMAT = 1,
    eOS_LONG_FORMAT = 2 // full for dates, long for times
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

    // Dialect codes. ResolveDialectCode maps -2..0 to the system dialect (computed once) and
    // leaves every other code as it is.
    static uint32_t ResolveDialectCode(uint32_t inDialectCode);
    static bool IsDialectCode(uint32_t inDialectCode);
    // The ISO 639-1 code of the dialect's first table row, or null for an unknown code.
    static const char* GetISO6391LanguageCode(uint32_t inDialectCode);
    // "en-US", "zh-TW", "ar" (no region): the ISO 639-1 code, then "-" and the ISO 3166 region
    // when the row has one. Clears the output and returns false for an unknown code.
    static bool GetBCP47LanguageCode(uint32_t inDialectCode, VString& outCode);
    // The dialect of a language code "en", "en-GB" or "en_GB" (language and sub-tag as in the
    // dialect table, compared without case). Without a row for the sub-tag, fallBackToLanguage
    // takes the language's row without sub-tag; defaultSubLanguage gives that language's default
    // dialect rather than the row's own. False (and -2 in outCode) when nothing fits.
    static bool GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32_t& outDialectCode,
                                                         bool inFallBackToLanguage,
                                                         bool inDefaultSubLanguage);
    // The ICU locale name of a dialect's BCP 47 code ("fr_CH"); "en_US" for an unknown code.
    static std::string GetICULocaleNameForDialect(uint32_t inDialectCode);

    uint32_t GetDialectCode() const { return fDialectCode; }
    uint32_t GetCollationDialectCode() const { return fCollationDialectCode; }
    // The ICU locale this manager formats and maps case in.
    const std::string& GetICULocaleName() const { return fLocaleName; }
    const VString& GetDecimalSeparator() const { return fDecimalSeparator; }
    VCollator* GetCollator() const { return fCollator; }

    // Character classes from the Unicode properties of one UTF-16 unit (a surrogate is none of
    // them). IsDigit: decimal digits of any script; IsAlpha: letters; IsSpace: U+0020, U+00A0,
    // U+2000..U+200B and U+3000 (the flag is not used).
    bool IsAlpha(UniChar inUnit) const;
    bool IsDigit(UniChar inUnit) const;
    bool IsPunctuation(UniChar inUnit) const;
    bool IsSpace(UniChar inUnit, bool inFlag = false) const;

    // Maps the string's case in place by the rules of the dialect's locale (Turkish maps "i" to
    // U+0130); the result may be longer than the text ("ß" gives "SS"). The first flag is not
    // used. The string is left as it was when the mapping fails.
    void ToUpperLowerCase(VString& ioText, bool inFlag, bool inUpper) const;
    // The same by the rules that hold for every locale, for code that has no manager.
    static void ToUpperLowerCaseNoDialect(VString& ioText, bool inUpper);

    // The date part (short, medium or full) or the time part (short, medium or long) of a UTC
    // date, in the manager's locale; gmt true shows it in UTC, false in the local time zone.
    // Other styles give an empty text.
    void FormatDate(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const;
    void FormatTime(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const;
    // The same for a time value; a null time gives an empty text. The formatters are opened once
    // per style and time-zone choice and kept by the manager (a clone takes copies); a local one
    // is opened again after VSystem::SystemDateTimeChanged. Calls on one manager are serialised.
    void FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const;
    void FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const;

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

    VIntlMgr(const VIntlMgr&) = delete;
    VIntlMgr& operator=(const VIntlMgr&) = delete;
    ~VIntlMgr() override;

private:
    VIntlMgr(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions);

    void _LoadLocaleVariables();
    // inTimeOfDay selects the time formats over the date formats; inStyle is 0 to 2.
    void _FormatDateTime(const DateTimeParts& inDate, VString& outText, bool inTimeOfDay, int inStyle,
                         bool inGMT) const;

    struct DateFormatCache;

    uint32_t fDialectCode;
    uint32_t fCollationDialectCode;
    uint8_t fOptions;
    VCollator* fCollator = nullptr; // owned: one reference
    std::string fLocaleName;
    VString fDecimalSeparator;
    std::unique_ptr<DateFormatCache> fDateFormats;
};

} // namespace zorn
