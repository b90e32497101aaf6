#include "toolbox/kernel/locale/VIntlMgr.h"

#include "platform/PreferredLanguages.h"
#include "toolbox/kernel/locale/VCollator_system.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VDuration.h"
#include "toolbox/kernel/values/VTime.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <strings.h>

namespace zorn
{

namespace
{

// One row of the dialect table: code, ISO 639-1, ISO 639-2, English name in lower case, ISO 3166
// region, RFC 3066bis sub-tag (a region in lower case, a script, or empty). A code may stand in
// several rows: every look-up by code takes the first.
struct DialectRow
{
    uint32_t fCode;
    const char* fISO6391;
    const char* fISO6392;
    const char* fName;
    const char* fRegion;
    const char* fSubTag;
};

constexpr DialectRow kDialects[] = {
    {1078, "af", "afr", "afrikaans", "ZA", ""},
    {1052, "sq", "alb", "albanian", "AL", ""},
    {94, "am", "amh", "amharic", "", ""},
    {1, "ar", "ara", "arabic", "", ""},
    {1025, "ar", "ara", "arabic", "SA", "sa"},
    {2049, "ar", "ara", "arabic", "IQ", "iq"},
    {3073, "ar", "ara", "arabic", "EG", "eg"},
    {4097, "ar", "ara", "arabic", "LY", "ly"},
    {5121, "ar", "ara", "arabic", "DZ", "dz"},
    {6145, "ar", "ara", "arabic", "MA", "ma"},
    {7169, "ar", "ara", "arabic", "TN", "tn"},
    {8193, "ar", "ara", "arabic", "OM", "om"},
    {9217, "ar", "ara", "arabic", "YE", "ye"},
    {10241, "ar", "ara", "arabic", "SY", "sy"},
    {11265, "ar", "ara", "arabic", "JO", "jo"},
    {12289, "ar", "ara", "arabic", "LB", "lb"},
    {13313, "ar", "ara", "arabic", "KW", "kw"},
    {14337, "ar", "ara", "arabic", "AE", "ae"},
    {15361, "ar", "ara", "arabic", "BH", "bh"},
    {16385, "ar", "ara", "arabic", "QA", "qa"},
    {1067, "hy", "hye", "armenian", "AM", ""},
    {44, "az", "aze", "azerbaijani", "", ""},
    {1069, "eu", "baq", "spanish", "ES", "es"},
    {1059, "be", "bel", "belarusian", "BY", ""},
    {1093, "bn", "ben", "bangladesh", "BD", "bd"},
    {1026, "bg", "bul", "bulgarian", "BG", ""},
    {1027, "ca", "cat", "catalan", "ES", ""},
    {1028, "zh", "chi", "chinese", "TW", "Hant"},
    {2052, "zh", "chi", "chinese", "CN", "Hans"},
    {3076, "zh", "chi", "chinese", "HK", "hk"},
    {4100, "zh", "chi", "chinese", "SG", "sg"},
    {1050, "hr", "scr", "croatian", "HR", ""},
    {1029, "cs", "cze", "czech", "CZ", ""},
    {1030, "da", "dan", "danish", "DK", ""},
    {1043, "nl", "dut", "dutch", "NL", ""},
    {2067, "nl", "dut", "dutch", "BE", "be"},
    {1122, "fy", "dut", "dutch", "NL", "nl"},
    {1033, "en", "eng", "english", "US", ""},
    {2057, "en", "eng", "english", "GB", "gb"},
    {3081, "en", "eng", "english", "AU", "au"},
    {4105, "en", "eng", "english", "CA", "ca"},
    {5129, "en", "eng", "english", "NZ", "nz"},
    {6153, "en", "eng", "english", "IE", "ie"},
    {7177, "en", "eng", "english", "ZA", "za"},
    {8201, "en", "eng", "english", "JM", "jm"},
    {9225, "en", "eng", "english", "CB", "cb"},
    {10249, "en", "eng", "english", "BZ", "bz"},
    {11273, "en", "eng", "english", "TT", "tt"},
    {18441, "en", "eng", "english", "SG", "sg"},
    {1061, "et", "est", "estonian", "EE", ""},
    {1080, "fo", "fao", "faorese", "FO", ""},
    {1065, "fa", "per", "persian", "IR", ""},
    {1035, "fi", "fin", "finnish", "FI", ""},
    {1036, "fr", "fre", "french", "FR", ""},
    {2060, "fr", "fre", "french", "BE", "be"},
    {3084, "fr", "fre", "french", "CA", "ca"},
    {4108, "fr", "fre", "french", "CH", "ch"},
    {5132, "fr", "fre", "french", "LU", "lu"},
    {8192, "fr", "fre", "french", "NC", ""},
    {11264, "fr", "fre", "french", "NC", ""},
    {1169, "gd", "eng", "english", "GB", ""},
    {1110, "gl", "spa", "spanish", "ES", ""},
    {1031, "de", "ger", "german", "DE", ""},
    {2055, "de", "ger", "german", "CH", "ch"},
    {3079, "de", "ger", "german", "AT", "at"},
    {4103, "de", "ger", "german", "LU", "lu"},
    {5127, "de", "ger", "german", "LI", "li"},
    {1032, "el", "gre", "greek", "GR", ""},
    {1095, "gu", "guj", "india", "IN", ""},
    {1037, "he", "heb", "hebrew", "IL", ""},
    {1081, "hi", "hin", "india", "IN", ""},
    {1038, "hu", "hun", "hungarian", "HU", ""},
    {1039, "is", "ice", "iceland", "IS", ""},
    {1057, "id", "ind", "indonesian", "ID", ""},
    {2108, "ga", "gle", "ireland", "IE", ""},
    {1040, "it", "ita", "italian", "IT", ""},
    {2064, "it", "ita", "italian", "CH", "ch"},
    {1041, "ja", "jpn", "japanese", "JP", ""},
    {83, "kh", "khm", "khmer", "", ""},
    {1159, "rw", "kin", "kinyarwanda", "RW", ""},
    {1089, "sw", "swk", "kiswahili", "KE", ""},
    {1042, "ko", "kor", "korean", "", ""},
    {2066, "ko", "kor", "korean", "", ""},
    {1062, "lv", "lav", "latvian", "LV", ""},
    {1063, "lt", "lit", "lithuanian", "LT", ""},
    {1134, "lb", "ltz", "luxembourg", "LU", "lu"},
    {1071, "mk", "mkd", "macedonian", "MK", ""},
    {1086, "ms", "may", "malaysian", "MY", "my"},
    {58, "mt", "mlt", "malte", "", ""},
    {129, "mi", "mao", "new zealand", "", ""},
    {1102, "mr", "mar", "india", "IN", ""},
    {1100, "ml", "mal", "india", "IN", ""},
    {1104, "mn", "mon", "mongolian", "MN", ""},
    {1121, "ne", "nep", "nepali", "NP", ""},
    {1044, "no", "nor", "norwegian", "NO", ""},
    {1044, "nb", "nob", "bokmal", "NO", "no"},
    {2068, "nn", "nno", "nynorsk", "NO", "no"},
    {1154, "oc", "oci", "french", "FR", "fr"},
    {72, "or", "ori", "oriya", "", ""},
    {1065, "fa", "peo", "persian", "IR", "ir"},
    {1045, "pl", "pol", "polish", "PL", ""},
    {2070, "pt", "por", "portuguese", "PT", ""},
    {1046, "pt", "por", "portuguese", "BR", "br"},
    {70, "pa", "pan", "punjabi", "", ""},
    {1131, "qu", "que", "bolivia", "BO", ""},
    {1048, "ro", "rum", "romanian", "RO", ""},
    {1049, "ru", "rus", "russian", "RU", ""},
    {1083, "se", "sme", "Sami", "", ""},
    {2107, "se", "sme", "Sami", "", ""},
    {3131, "se", "sme", "Sami", "", ""},
    {4155, "smj", "smj", "Sami", "", ""},
    {5179, "smj", "smj", "Sami", "", ""},
    {6203, "sma", "sma", "Sami", "", ""},
    {7227, "sma", "sma", "Sami", "", ""},
    {8251, "sms", "sms", "Sami", "", ""},
    {9275, "smn", "smn", "Sami", "", ""},
    {1050, "sr", "scc", "serbian", "", ""},
    {2074, "sr", "scc", "serbian", "RS", "Latn"},
    {3098, "sr", "scc", "serbian", "RS", "Cyrl"},
    {1074, "tn", "afr", "afrikaans", "ZA", ""},
    {1115, "si", "sin", "sri lanka", "LK", ""},
    {1051, "sk", "slo", "slovak", "SK", ""},
    {1060, "sl", "slv", "slovenian", "SI", ""},
    {1034, "es", "spa", "spanish", "ES", "es"},
    {2058, "es", "spa", "spanish", "MX", "mx"},
    {3082, "es", "spa", "spanish", "", ""},
    {4106, "es", "spa", "spanish", "GT", "gt"},
    {5130, "es", "spa", "spanish", "CR", "cr"},
    {6154, "es", "spa", "spanish", "PA", "pa"},
    {7178, "es", "spa", "spanish", "DO", "do"},
    {8202, "es", "spa", "spanish", "VE", "ve"},
    {9226, "es", "spa", "spanish", "CO", "co"},
    {10250, "es", "spa", "spanish", "PE", "pe"},
    {11274, "es", "spa", "spanish", "AR", "ar"},
    {12298, "es", "spa", "spanish", "EC", "ec"},
    {13322, "es", "spa", "spanish", "CL", "cl"},
    {14346, "es", "spa", "spanish", "UY", "uy"},
    {15370, "es", "spa", "spanish", "PY", "py"},
    {16394, "es", "spa", "spanish", "BO", "bo"},
    {17418, "es", "spa", "spanish", "SV", "sv"},
    {18442, "es", "spa", "spanish", "HN", "hn"},
    {19466, "es", "spa", "spanish", "NI", "ni"},
    {20490, "es", "spa", "spanish", "PR", "pr"},
    {1053, "sv", "swe", "swedish", "SE", ""},
    {2077, "sv", "swe", "swedish", "FI", "fi"},
    {73, "ta", "tam", "indian", "", ""},
    {1054, "th", "tha", "thai", "TH", ""},
    {1055, "tr", "tur", "turkish", "TR", ""},
    {1058, "uk", "ukr", "ukrainian", "UA", ""},
    {1056, "ur", "urd", "pakistan", "PK", "pk"},
    {1066, "vi", "vie", "vietnamese", "VN", ""},
    {1106, "cy", "wel", "english", "GB", "gb"},
    {1076, "xh", "xho", "afrikaans", "ZA", ""},
    {1077, "zu", "zul", "afrikaans", "ZA", ""},
};
static_assert(std::size(kDialects) == 154);

constexpr uint32_t kFallbackDialect = 1033;
constexpr uint32_t kUnresolved = 0xFFFFFFFE; // -2

const DialectRow* FindRow(uint32_t inCode)
{
    for (const DialectRow& row : kDialects)
    {
        if (row.fCode == inCode)
        {
            return &row;
        }
    }
    return nullptr;
}

uint32_t DefaultSubLanguage(uint32_t inCode)
{
    return (inCode & 1023) | 1024;
}

// An unknown code falls back to its primary language's default dialect, then to 1033.
uint32_t KnownDialect(uint32_t inCode, bool* outFound = nullptr)
{
    uint32_t code = VIntlMgr::ResolveDialectCode(inCode);
    bool found = true;
    if (FindRow(code) == nullptr)
    {
        code = DefaultSubLanguage(code);
        if (FindRow(code) == nullptr)
        {
            code = kFallbackDialect;
            found = false;
        }
    }
    if (outFound != nullptr)
    {
        *outFound = found;
    }
    return code;
}

// A column of the code's first row into a string; whether it is not empty.
bool ColumnText(uint32_t inCode, const char* DialectRow::*inColumn, VString& outText)
{
    outText.Clear();
    if (const DialectRow* row = FindRow(inCode))
    {
        outText.FromCString(row->*inColumn);
    }
    return !outText.IsEmpty();
}

// The text as ASCII, at most 255 bytes; false for any other unit.
bool ToASCII(const VString& inText, std::string& outText)
{
    outText.clear();
    for (int32_t i = 0; i < inText.GetLength() && i < 255; ++i)
    {
        UniChar unit = inText.GetCPointer()[i];
        if (unit == 0 || unit > 127)
        {
            return false;
        }
        outText.push_back(static_cast<char>(unit));
    }
    return true;
}

std::vector<std::string> SplitAt(const std::string& inText, char inSeparator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        size_t cut = inText.find(inSeparator, start);
        parts.push_back(inText.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
        if (cut == std::string::npos)
        {
            return parts;
        }
        start = cut + 1;
    }
}

// ICU maps case into a buffer; the result replaces the text only when the mapping succeeded.
void MapCase(VString& ioText, const char* inLocale, bool inUpper)
{
    int32_t length = ioText.GetLength();
    if (length == 0)
    {
        return;
    }
    VString result;
    int64_t capacity = length < 256 ? 512 : std::min<int64_t>(2 * static_cast<int64_t>(length), 0x7FFFFFF0);
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        UniChar* buffer = result.GetCPointerForWrite(static_cast<int32_t>(capacity));
        if (buffer == nullptr)
        {
            return;
        }
        UErrorCode status = U_ZERO_ERROR;
        UChar* dest = reinterpret_cast<UChar*>(buffer);
        const UChar* source = reinterpret_cast<const UChar*>(ioText.GetCPointer());
        int32_t mapped =
            inUpper ? u_strToUpper(dest, static_cast<int32_t>(capacity), source, length, inLocale, &status)
                    : u_strToLower(dest, static_cast<int32_t>(capacity), source, length, inLocale, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR)
        {
            capacity = mapped; // the whole result, however long, on the second attempt
            continue;
        }
        if (U_FAILURE(status) || !result.Validate(mapped))
        {
            return;
        }
        ioText.FromString(result);
        return;
    }
}

// What a short pattern tells, its quoted text skipped: whether it shows "a", the first unit that
// is not an ASCII letter, and the order in which "M", "d" and "y" first appear.
struct PatternScan
{
    bool fHasAMPM = false;
    UniChar fSeparator = 0;
    std::string fDateLetters;
};

PatternScan ScanPattern(const VString& inPattern)
{
    PatternScan scan;
    const UniChar* units = inPattern.GetCPointer();
    for (int32_t i = 0; i < inPattern.GetLength(); ++i)
    {
        UniChar unit = units[i];
        if (unit == u'\'' || unit == u'"')
        {
            while (++i < inPattern.GetLength() && units[i] != unit)
            {
            }
            continue;
        }
        bool letter = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
        if (unit == u'a')
        {
            scan.fHasAMPM = true;
        }
        else if ((unit == u'M' || unit == u'd' || unit == u'y') &&
                 scan.fDateLetters.find(static_cast<char>(unit)) == std::string::npos)
        {
            scan.fDateLetters.push_back(static_cast<char>(unit));
        }
        else if (!letter && scan.fSeparator == 0)
        {
            scan.fSeparator = unit;
        }
    }
    return scan;
}

} // namespace

// Creation

VIntlMgr::VIntlMgr(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions)
    : fPlatform(inDialectCode), fDialectCode(inDialectCode), fCollationDialectCode(inCollationDialectCode),
      fOptions(inOptions)
{
}

VIntlMgr::VIntlMgr(const VIntlMgr& inOther, VCollator* inCollator)
    : VObject(), IRefCountable(), fPlatform(inOther.fPlatform), fWordOptions(inOther.fWordOptions),
      fDialectCode(inOther.fDialectCode), fCollationDialectCode(inOther.fCollationDialectCode),
      fOptions(inOther.fOptions), fCollator(inCollator), fAMSymbol(inOther.fAMSymbol),
      fPMSymbol(inOther.fPMSymbol), fTwelveHourClock(inOther.fTwelveHourClock),
      fDecimalSeparator(inOther.fDecimalSeparator), fThousandsSeparator(inOther.fThousandsSeparator),
      fDateSeparator(inOther.fDateSeparator), fTimeSeparator(inOther.fTimeSeparator),
      fCurrencySymbol(inOther.fCurrencySymbol), fDateOrder(inOther.fDateOrder)
{
    std::copy(std::begin(inOther.fDatePatterns), std::end(inOther.fDatePatterns), std::begin(fDatePatterns));
    std::copy(std::begin(inOther.fTimePatterns), std::end(inOther.fTimePatterns), std::begin(fTimePatterns));
}

VIntlMgr::~VIntlMgr()
{
    ReleaseRefCountable(&fCollator);
}

VIntlMgr* VIntlMgr::Create(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions)
{
    uint32_t dialect = KnownDialect(inDialectCode);
    bool collationFound = false;
    uint32_t collationDialect = KnownDialect(inCollationDialectCode, &collationFound);
    // Hungarian and Thai collate as English.
    if (collationFound && (collationDialect == 1038 || collationDialect == 1054))
    {
        collationDialect = kFallbackDialect;
    }

    if (VIntlMgr* current = GetCurrent())
    {
        if (current->fDialectCode == dialect && current->fCollationDialectCode == collationDialect &&
            current->fOptions == inOptions)
        {
            if (VIntlMgr* clone = current->Clone())
            {
                clone->Reset();
                return clone;
            }
        }
    }

    VIntlMgr* manager = new VIntlMgr(dialect, collationDialect, inOptions);
    manager->fCollator =
        VCollator_system::Create(collationDialect, dialect == collationDialect ? manager : nullptr);
    if (manager->fCollator == nullptr)
    {
        manager->Release();
        _ThrowError(VE_INTL_MGR_CREATE_FAILED);
        return nullptr;
    }
    manager->_LoadLocaleVariables();
    return manager;
}

VIntlMgr* VIntlMgr::Clone() const
{
    VCollator* collator = fCollator->Clone();
    return collator != nullptr ? new VIntlMgr(*this, collator) : nullptr;
}

void VIntlMgr::Reset()
{
    fCollator->Reset();
}

void VIntlMgr::_LoadLocaleVariables()
{
    XLinuxIntlMgr::LocaleData data;
    fPlatform.LoadLocaleData(data);
    fDecimalSeparator = data.fDecimalSeparator;
    fThousandsSeparator = data.fGroupingSeparator;
    fCurrencySymbol = data.fCurrencySymbol;
    // The generic currency sign stands where a locale has no currency of its own.
    if (fCurrencySymbol.GetLength() == 1 && fCurrencySymbol.GetCPointer()[0] == 0x00A4)
    {
        fCurrencySymbol.FromUniChar(0x20AC);
    }
    fAMSymbol = data.fAMSymbol;
    fPMSymbol = data.fPMSymbol;
    std::copy(std::begin(data.fDatePatterns), std::end(data.fDatePatterns), std::begin(fDatePatterns));
    std::copy(std::begin(data.fTimePatterns), std::end(data.fTimePatterns), std::begin(fTimePatterns));

    PatternScan time = ScanPattern(fTimePatterns[0]);
    fTwelveHourClock = time.fHasAMPM;
    fTimeSeparator.Clear();
    if (time.fSeparator != 0)
    {
        fTimeSeparator.FromUniChar(time.fSeparator);
    }
    PatternScan date = ScanPattern(fDatePatterns[0]);
    fDateSeparator.Clear();
    if (date.fSeparator != 0)
    {
        fDateSeparator.FromUniChar(date.fSeparator);
    }
    static constexpr const char* kOrders[] = {"Mdy", "dMy", "yMd", "Myd", "dyM", "ydM"};
    fDateOrder = 0;
    for (uint32_t order = 0; order < std::size(kOrders); ++order)
    {
        if (date.fDateLetters == kOrders[order])
        {
            fDateOrder = order;
        }
    }
}

const VString& VIntlMgr::GetDatePattern(int32_t inStyle) const
{
    static const VString sEmpty;
    return inStyle >= 0 && inStyle < 4 ? fDatePatterns[inStyle] : sEmpty;
}

const VString& VIntlMgr::GetTimePattern(int32_t inStyle) const
{
    static const VString sEmpty;
    return inStyle >= 0 && inStyle < 4 ? fTimePatterns[inStyle] : sEmpty;
}

VIntlMgr* VIntlMgr::GetCurrent()
{
    return VTask::GetCurrentIntlManager();
}

VCollator* VIntlMgr::GetCurrentCollator()
{
    VIntlMgr* manager = GetCurrent();
    return manager != nullptr ? manager->fCollator : VCollator::GetBinaryCollator();
}

// System dialect

uint32_t VIntlMgr::ResolveDialectCode(uint32_t inDialectCode)
{
    if (static_cast<int32_t>(inDialectCode) < -2 || static_cast<int32_t>(inDialectCode) > 0)
    {
        return inDialectCode;
    }
    // Filled once, by the first caller; concurrent first callers wait for it.
    static const uint32_t sSystemDialect = GetSystemUIDialectCode();
    return sSystemDialect;
}

uint32_t VIntlMgr::GetDialectCodeWithSystemLanguage(const std::string& inLanguage)
{
    std::string language = platform::LanguageOfLocaleName(inLanguage);
    uint32_t dialect = kUnresolved;
    if (language.empty() ||
        !GetDialectCodeWithRFC3066BisLanguageCode(VString(language.c_str()), dialect, true, true))
    {
        dialect = kFallbackDialect;
    }
    return dialect;
}

void VIntlMgr::GetSystemUIDialectCodes(std::vector<uint32_t>& outDialectCodes)
{
    outDialectCodes.clear();
    for (const std::string& language : platform::GetPreferredLanguages())
    {
        outDialectCodes.push_back(GetDialectCodeWithSystemLanguage(language));
    }
    if (outDialectCodes.empty())
    {
        outDialectCodes.push_back(kFallbackDialect);
    }
}

uint32_t VIntlMgr::GetSystemUIDialectCode()
{
    std::vector<std::string> languages = platform::GetPreferredLanguages();
    return languages.empty() ? kFallbackDialect : GetDialectCodeWithSystemLanguage(languages.front());
}

bool VIntlMgr::IsSystemUIDialectIdeographic()
{
    static constexpr uint32_t kIdeographic[] = {1028, 1041, 1042, 2052, 2066, 3076, 4100};
    return std::ranges::find(kIdeographic, GetSystemUIDialectCode()) != std::end(kIdeographic);
}

// Dialect table

bool VIntlMgr::IsDialectCode(uint32_t inDialectCode)
{
    return FindRow(inDialectCode) != nullptr;
}

bool VIntlMgr::IsRightToLeftDialect(uint32_t inDialectCode)
{
    uint32_t primary = ResolveDialectCode(inDialectCode) & 1023;
    return primary == 1 || primary == 13 || primary == 32 || primary == 41;
}

void VIntlMgr::GetAllDialects(std::vector<uint32_t>& outDialectCodes)
{
    outDialectCodes.reserve(outDialectCodes.size() + std::size(kDialects));
    for (const DialectRow& row : kDialects)
    {
        outDialectCodes.push_back(row.fCode);
    }
}

void VIntlMgr::GetDialectsHavingCollator(std::vector<std::pair<VString, uint32_t>>& outDialects)
{
    for (const DialectRow& row : kDialects)
    {
        outDialects.emplace_back(VString(FindRow(row.fCode)->fISO6391), row.fCode);
    }
}

uint32_t VIntlMgr::DialectCodeToScriptCode(uint32_t inDialectCode)
{
    struct Script
    {
        uint32_t fScript;
        bool fRegionalVariants; // the table's other codes of the same primary language too
        std::initializer_list<uint32_t> fCodes;
    };
    static const Script kScripts[] = {
        {1, false, {1041}},
        {2, false, {1028, 4100}},
        {3, false, {2052, 3076}},
        {4, false, {1042, 2066}},
        {6, false, {1037}},
        {7, false, {1032}},
        {8, false, {1026, 1049, 1058, 1059, 1064, 1071, 1092, 1104, 2092, 2115, 3098, 7194}},
        {9, false, {1029, 1038, 1045, 1051, 1061, 1062, 1063, 1091, 2074}},
        {10, false, {1050, 1060}},
        {11, false, {1039, 1080}},
        {12, false, {1065}},
        {13, false, {1048}},
        {14, false, {1054}},
        {15, false, {1066}},
        {16, false, {1055}},
        {5, true, {1025}},
        {0, true, {1027, 1030, 1031, 1033, 1034, 1035, 1036, 1040, 1043, 1044, 1046, 1052,
                   1053, 1057, 1068, 1069, 1070, 1078, 1083, 1086, 1106, 1122, 1134}},
    };
    // Codes named outright first: 2074 and 3098 share Croatian's primary language.
    for (const Script& script : kScripts)
    {
        if (std::ranges::find(script.fCodes, inDialectCode) != script.fCodes.end())
        {
            return script.fScript;
        }
    }
    if (IsDialectCode(inDialectCode))
    {
        for (const Script& script : kScripts)
        {
            for (uint32_t code : script.fCodes)
            {
                if (script.fRegionalVariants && (code & 1023) == (inDialectCode & 1023))
                {
                    return script.fScript;
                }
            }
        }
    }
    return 0xFFFFFFFF;
}

const char* VIntlMgr::GetISO6391LanguageCode(uint32_t inDialectCode)
{
    const DialectRow* row = FindRow(inDialectCode);
    return row != nullptr ? row->fISO6391 : nullptr;
}

const char* VIntlMgr::GetISO3166RegionCode(uint32_t inDialectCode)
{
    const DialectRow* row = FindRow(inDialectCode);
    return row != nullptr ? row->fRegion : nullptr;
}

bool VIntlMgr::GetISO6391LanguageCode(uint32_t inDialectCode, VString& outCode)
{
    return ColumnText(inDialectCode, &DialectRow::fISO6391, outCode);
}

bool VIntlMgr::GetISO6392LanguageCode(uint32_t inDialectCode, VString& outCode)
{
    return ColumnText(inDialectCode, &DialectRow::fISO6392, outCode);
}

bool VIntlMgr::GetISOLanguageName(uint32_t inDialectCode, VString& outName)
{
    return ColumnText(inDialectCode, &DialectRow::fName, outName);
}

bool VIntlMgr::GetISO3166RegionCode(uint32_t inDialectCode, VString& outCode)
{
    return ColumnText(inDialectCode, &DialectRow::fRegion, outCode);
}

bool VIntlMgr::GetRFC3066BisSubTagRegionCode(uint32_t inDialectCode, VString& outSubTag)
{
    return ColumnText(inDialectCode, &DialectRow::fSubTag, outSubTag);
}

bool VIntlMgr::GetBCP47LanguageCode(uint32_t inDialectCode, VString& outCode)
{
    outCode.Clear();
    const DialectRow* row = FindRow(inDialectCode);
    if (row == nullptr)
    {
        return false;
    }
    std::string code(row->fISO6391);
    if (*row->fRegion != 0)
    {
        code.append("-").append(row->fRegion);
    }
    outCode.FromCString(code.c_str());
    return !outCode.IsEmpty();
}

bool VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(uint32_t inDialectCode, VString& outCode,
                                                        char inSeparator)
{
    outCode.Clear();
    const DialectRow* row = FindRow(inDialectCode);
    if (row == nullptr || *row->fISO6391 == 0)
    {
        return false;
    }
    std::string code(row->fISO6391);
    if (*row->fSubTag != 0)
    {
        code.append(1, inSeparator).append(row->fSubTag);
    }
    outCode.FromCString(code.c_str());
    return true;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const char* inLanguage, const char* inSubTag,
                                                        uint32_t& outDialectCode, bool inFallBackToLanguage,
                                                        bool inDefaultSubLanguage)
{
    outDialectCode = kUnresolved;
    if (inLanguage == nullptr)
    {
        return false;
    }
    if (inSubTag != nullptr && *inSubTag != 0)
    {
        for (const DialectRow& row : kDialects)
        {
            if (strcasecmp(row.fISO6391, inLanguage) == 0 && strcasecmp(row.fSubTag, inSubTag) == 0)
            {
                outDialectCode = row.fCode;
                return true;
            }
        }
        if (!inFallBackToLanguage)
        {
            return false;
        }
        inDefaultSubLanguage = true; // the fallback always names the language's default dialect
    }
    for (const DialectRow& row : kDialects)
    {
        if (strcasecmp(row.fISO6391, inLanguage) == 0 && *row.fSubTag == 0)
        {
            outDialectCode = inDefaultSubLanguage ? DefaultSubLanguage(row.fCode) : row.fCode;
            return true;
        }
    }
    return false;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32_t& outDialectCode,
                                                        bool inFallBackToLanguage, bool inDefaultSubLanguage)
{
    outDialectCode = kUnresolved;
    std::string text;
    if (!ToASCII(inCode, text))
    {
        return false; // names no dialect
    }
    std::vector<std::string> dashed = SplitAt(text, '-');
    std::vector<std::string> underscored = SplitAt(text, '_');
    if (dashed.size() == 1 && underscored.size() == 1)
    {
        return GetDialectCodeWithRFC3066BisLanguageCode(text.c_str(), nullptr, outDialectCode,
                                                        inFallBackToLanguage, inDefaultSubLanguage);
    }
    const std::vector<std::string>* parts = dashed.size() == 2 ? &dashed : &underscored;
    if (parts->size() != 2 || (parts == &dashed ? underscored.size() : dashed.size()) != 1)
    {
        return false; // "zh-Hans-CN", "a-b_c"
    }
    return GetDialectCodeWithRFC3066BisLanguageCode((*parts)[0].c_str(), (*parts)[1].c_str(), outDialectCode,
                                                    inFallBackToLanguage, inDefaultSubLanguage);
}

bool VIntlMgr::GetDialectCodeWithISOLanguageName(const VString& inName, uint32_t& outDialectCode)
{
    std::string name;
    if (!ToASCII(inName, name))
    {
        return false;
    }
    for (const DialectRow& row : kDialects)
    {
        if (strcasecmp(row.fName, name.c_str()) == 0 && *row.fSubTag == 0)
        {
            outDialectCode = (row.fCode & 255) | 1024;
            return true;
        }
    }
    return false;
}

int32_t VIntlMgr::Compare2RFC3066LanguageCodes(const VString& inCode1, const VString& inCode2)
{
    std::string code1;
    std::string code2;
    uint32_t dialect = 0;
    if (!ToASCII(inCode1, code1) || !ToASCII(inCode2, code2) ||
        !GetDialectCodeWithRFC3066BisLanguageCode(inCode1, dialect, true, true) ||
        !GetDialectCodeWithRFC3066BisLanguageCode(inCode2, dialect, true, true))
    {
        return 0;
    }
    std::ranges::transform(code1, code1.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    std::ranges::transform(code2, code2.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    if (code1 == code2)
    {
        return 4;
    }
    std::vector<std::string> parts1 = SplitAt(code1, '-');
    std::vector<std::string> parts2 = SplitAt(code2, '-');
    if (parts1.size() == 2 && parts2.size() == 1)
    {
        return parts1[0] == parts2[0] ? 3 : 0;
    }
    if (parts1.size() == 1 && parts2.size() == 2)
    {
        return parts1[0] == parts2[0] ? 2 : 0;
    }
    if (parts1.size() == 2 && parts2.size() == 2)
    {
        return parts1[0] == parts2[0] ? 1 : 0;
    }
    return 0;
}

std::string VIntlMgr::GetICULocaleNameForDialect(uint32_t inDialectCode)
{
    return XLinuxIntlMgr::MakeLocaleName(inDialectCode);
}

// Characters and case

bool VIntlMgr::IsAlpha(UniChar inUnit) const
{
    return !U16_IS_SURROGATE(inUnit) && u_isalpha(inUnit);
}

bool VIntlMgr::IsDigit(UniChar inUnit) const
{
    return !U16_IS_SURROGATE(inUnit) && u_isdigit(inUnit);
}

bool VIntlMgr::IsPunctuation(UniChar inUnit) const
{
    return !U16_IS_SURROGATE(inUnit) && u_ispunct(inUnit);
}

bool VIntlMgr::IsSpace(UniChar inUnit, bool /*inFlag*/) const
{
    return inUnit == 0x0020 || inUnit == 0x00A0 || (inUnit >= 0x2000 && inUnit <= 0x200B) || inUnit == 0x3000;
}

uint32_t VIntlMgr::CharDigitValue(UniChar inUnit)
{
    return inUnit >= u'0' && inUnit <= u'9' ? static_cast<uint32_t>(inUnit - u'0') : 0xFFFFFFFF;
}

bool VIntlMgr::IsAMacCharacter(uint8_t inChar, uint8_t inKind)
{
    bool letter = (inChar >= 'a' && inChar <= 'z') || (inChar >= 'A' && inChar <= 'Z');
    bool digit = inChar >= '0' && inChar <= '9';
    // Mac Roman accented letters (128..159) and the ligatures and letters 174, 190, 203..207.
    bool extended = (inChar >= 128 && inChar <= 159) || inChar == 174 || inChar == 190 ||
                    (inChar >= 203 && inChar <= 207);
    switch (inKind)
    {
    case 0:
        return inChar == 9 || inChar == 13 || (inChar >= 32 && inChar != 127);
    case 1:
        return letter || digit || extended || inChar == '_';
    case 2:
        return letter || extended || inChar == '_';
    case 3:
        return letter || digit || inChar == '_';
    case 4:
        return letter || inChar == '_';
    case 5:
        return digit;
    default:
        return false;
    }
}

void VIntlMgr::ToUpperLowerCase(VString& ioText, bool /*inFlag*/, bool inUpper) const
{
    MapCase(ioText, GetICULocaleName().c_str(), inUpper);
}

void VIntlMgr::ToUpperLowerCaseNoDialect(VString& ioText, bool inUpper)
{
    MapCase(ioText, "", inUpper);
}

bool VIntlMgr::DebugConvertString(const void* inSource, int32_t inSourceBytes, CharSet inSourceCharSet,
                                  void* outDestination, int32_t& ioDestinationBytes,
                                  CharSet inDestinationCharSet)
{
    if (inSourceCharSet != inDestinationCharSet)
    {
        return false;
    }
    int32_t bytes = std::max(std::min(inSourceBytes, ioDestinationBytes), 0);
    if (bytes > 0)
    {
        std::memcpy(outDestination, inSource, static_cast<size_t>(bytes));
    }
    ioDestinationBytes = bytes;
    return true;
}

// Dates and times

double VIntlMgr::MillisecondsOfUTCParts(const DateTimeParts& inDate)
{
    int64_t year = inDate.fYear;
    int64_t month = inDate.fMonth;
    year -= month <= 2 ? 1 : 0;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + inDate.fDay - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    int64_t days = era * 146097 + dayOfEra - 719468;
    return static_cast<double>(days) * 86400000.0 +
           ((static_cast<double>(inDate.fHour) * 60 + inDate.fMinute) * 60 + inDate.fSecond) * 1000.0;
}

void VIntlMgr::FormatDate(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    static constexpr int kDateStyles[] = {1, 2, 4};
    outText.Clear();
    if (inStyle >= eOS_SHORT_FORMAT && inStyle <= eOS_LONG_FORMAT)
    {
        fPlatform.FormatMilliseconds(MillisecondsOfUTCParts(inDate), outText, kDateStyles[inStyle], 0, inGMT);
    }
}

void VIntlMgr::FormatTime(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    static constexpr int kTimeStyles[] = {1, 2, 3};
    outText.Clear();
    if (inStyle >= eOS_SHORT_FORMAT && inStyle <= eOS_LONG_FORMAT)
    {
        fPlatform.FormatMilliseconds(MillisecondsOfUTCParts(inDate), outText, 0, kTimeStyles[inStyle], inGMT);
    }
}

void VIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    fPlatform.FormatDate(inTime, outText, inStyle, inGMT);
}

void VIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    fPlatform.FormatTime(inTime, outText, inStyle, inGMT);
}

void VIntlMgr::FormatDuration(const VDuration& inDuration, VString& outText, EOSFormats inStyle) const
{
    fPlatform.FormatDuration(inDuration, outText, inStyle);
}

void VIntlMgr::GetMonthName(int32_t inMonth, bool inAbbreviated, VString& outName) const
{
    outName.Clear();
    fPlatform.GetMonthName(inMonth, inAbbreviated, outName);
}

void VIntlMgr::GetWeekDayName(int32_t inDay, bool inAbbreviated, VString& outName) const
{
    outName.Clear();
    fPlatform.GetWeekDayName(inDay, inAbbreviated, outName);
}

int32_t VIntlMgr::CustomFormatTime(const VTime& /*inTime*/, const VString& /*inPattern*/,
                                   VString& outText) const
{
    outText.Clear();
    return 0;
}

// Comparison

CompareResult VIntlMgr::CompareString(const UniChar* inText1, int32_t inLength1, const UniChar* inText2,
                                      int32_t inLength2, const VCompareOptions& inOptions) const
{
    return inOptions.IsLike()
               ? fCollator->CompareString_Like(inText1, inLength1, inText2, inLength2,
                                               inOptions.IsDiacritical())
               : fCollator->CompareString(inText1, inLength1, inText2, inLength2, inOptions.IsDiacritical());
}

UniChar VIntlMgr::GetWildChar() const
{
    return fCollator->GetWildChar();
}

void VIntlMgr::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
    fCollator->GetStringComparisonAlgorithmSignature(outSignature);
}

} // namespace zorn
