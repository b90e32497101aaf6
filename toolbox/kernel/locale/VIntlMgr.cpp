#include "toolbox/kernel/locale/VIntlMgr.h"

#include "toolbox/kernel/locale/VCollator_system.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VTime.h"

#include <unicode/ucal.h>
#include <unicode/uchar.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
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

// The dialect of a language and an optional sub-tag, compared without case. Without a row for
// the sub-tag, the fallback takes the language's row that has none.
bool DialectOfLanguage(const char* inLanguage, const char* inSubTag, bool inFallBackToLanguage,
                       bool inDefaultSubLanguage, uint32_t& outCode)
{
    outCode = kUnresolved;
    if (inSubTag != nullptr && *inSubTag != 0)
    {
        for (const DialectRow& row : kDialects)
        {
            if (strcasecmp(row.fISO6391, inLanguage) == 0 && strcasecmp(row.fSubTag, inSubTag) == 0)
            {
                outCode = row.fCode;
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
            outCode = inDefaultSubLanguage ? DefaultSubLanguage(row.fCode) : row.fCode;
            return true;
        }
    }
    return false;
}

// A locale name from the environment ("fr_CH.UTF-8@euro") without its character set and
// modifier; empty for the C and POSIX locales.
std::string StripLocaleName(const char* inName)
{
    std::string name(inName == nullptr ? "" : inName);
    name = name.substr(0, name.find_first_of(".@"));
    return name == "C" || name == "POSIX" ? std::string() : name;
}

const char* FirstSetVariable(std::initializer_list<const char*> inNames)
{
    for (const char* name : inNames)
    {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0)
        {
            return value;
        }
    }
    return nullptr;
}

// The user's own locale: LC_ALL, LC_MESSAGES, LANG.
std::string UserLocaleName()
{
    return StripLocaleName(FirstSetVariable({"LC_ALL", "LC_MESSAGES", "LANG"}));
}

// The preferred language: the first entry of LANGUAGE, else the user's locale.
std::string PreferredLanguageName()
{
    if (const char* languages = FirstSetVariable({"LANGUAGE"}))
    {
        std::string first(languages);
        first = StripLocaleName(first.substr(0, first.find(':')).c_str());
        if (!first.empty())
        {
            return first;
        }
    }
    return UserLocaleName();
}

// The dialect of a locale name: language and region ("fr_CH": 4108), else language and script
// (ICU's likely script: "zh_TW" is zh-Hant, 1028), else the language's default dialect ("en_IN":
// 1033); 1033 when the language is not in the table.
uint32_t DialectOfLocaleName(const std::string& inName)
{
    char canonical[ULOC_FULLNAME_CAPACITY] = "";
    char maximized[ULOC_FULLNAME_CAPACITY] = "";
    char language[ULOC_LANG_CAPACITY] = "";
    char region[ULOC_COUNTRY_CAPACITY] = "";
    char script[ULOC_SCRIPT_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_canonicalize(inName.c_str(), canonical, sizeof(canonical), &status);
    uloc_getLanguage(canonical, language, sizeof(language), &status);
    uloc_getCountry(canonical, region, sizeof(region), &status);
    uloc_addLikelySubtags(canonical, maximized, sizeof(maximized), &status);
    uloc_getScript(maximized, script, sizeof(script), &status);
    uint32_t code = kUnresolved;
    if (U_FAILURE(status) || inName.empty())
    {
        return kFallbackDialect;
    }
    if ((*region != 0 && DialectOfLanguage(language, region, false, true, code)) ||
        (*script != 0 && DialectOfLanguage(language, script, false, true, code)) ||
        DialectOfLanguage(language, nullptr, true, true, code))
    {
        return code;
    }
    return kFallbackDialect;
}

std::string LanguageOfLocaleName(const std::string& inName)
{
    char language[ULOC_LANG_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(inName.c_str(), language, sizeof(language), &status);
    return U_SUCCESS(status) ? std::string(language) : std::string();
}

std::string CanonicalLocaleName(const std::string& inName)
{
    char canonical[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_canonicalize(inName.c_str(), canonical, sizeof(canonical), &status);
    return U_SUCCESS(status) ? std::string(canonical) : std::string();
}

// Days from 1970-01-01 to a proleptic Gregorian date (month 1..12).
int64_t DaysFromCivil(int64_t inYear, int64_t inMonth, int64_t inDay)
{
    inYear -= inMonth <= 2 ? 1 : 0;
    int64_t era = (inYear >= 0 ? inYear : inYear - 399) / 400;
    int64_t yearOfEra = inYear - era * 400;
    int64_t dayOfYear = (153 * (inMonth + (inMonth > 2 ? -3 : 9)) + 2) / 5 + inDay - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
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

} // namespace

// Creation

// The date formatters of a manager, opened on first use: ICU takes some 30 µs to open one, and a
// few hundred nanoseconds to format with it. A formatter is not safe to use from two threads at
// once, and a process's manager serves every task without its own: the mutex serialises them.
struct VIntlMgr::DateFormatCache
{
    struct Slot
    {
        UDateFormat* fFormat = nullptr;
        uint32_t fZoneGeneration = 0; // VSystem's, when the formatter is in the local zone
    };

    DateFormatCache() = default;
    DateFormatCache(const DateFormatCache&) = delete;
    DateFormatCache& operator=(const DateFormatCache&) = delete;
    ~DateFormatCache()
    {
        for (Slot& slot : fSlots)
        {
            udat_close(slot.fFormat);
        }
    }
    // [date or time of day][style][local or GMT]
    static size_t Index(bool inTimeOfDay, int inStyle, bool inGMT)
    {
        return (inTimeOfDay ? 6u : 0u) + static_cast<size_t>(inStyle) * 2 + (inGMT ? 1u : 0u);
    }

    std::mutex fMutex;
    Slot fSlots[12];
};

VIntlMgr::VIntlMgr(uint32_t inDialectCode, uint32_t inCollationDialectCode, uint8_t inOptions)
    : fDialectCode(inDialectCode), fCollationDialectCode(inCollationDialectCode), fOptions(inOptions),
      fDateFormats(std::make_unique<DateFormatCache>())
{
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
    manager->fLocaleName = GetICULocaleNameForDialect(dialect);
    // The system dialect takes the user's own locale when it is of the same language.
    if (dialect == ResolveDialectCode(0))
    {
        std::string user = CanonicalLocaleName(UserLocaleName());
        const char* language = GetISO6391LanguageCode(dialect);
        if (!user.empty() && language != nullptr && LanguageOfLocaleName(user) == language)
        {
            manager->fLocaleName = user;
        }
    }
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
    if (collator == nullptr)
    {
        return nullptr;
    }
    VIntlMgr* clone = new VIntlMgr(fDialectCode, fCollationDialectCode, fOptions);
    clone->fCollator = collator;
    clone->fLocaleName = fLocaleName;
    clone->fDecimalSeparator = fDecimalSeparator;
    std::lock_guard lock(fDateFormats->fMutex);
    for (size_t i = 0; i < std::size(fDateFormats->fSlots); ++i)
    {
        const DateFormatCache::Slot& slot = fDateFormats->fSlots[i];
        if (slot.fFormat != nullptr)
        {
            UErrorCode status = U_ZERO_ERROR;
            UDateFormat* copy = udat_clone(slot.fFormat, &status);
            if (U_SUCCESS(status))
            {
                clone->fDateFormats->fSlots[i] = {copy, slot.fZoneGeneration};
            }
            else
            {
                udat_close(copy);
            }
        }
    }
    return clone;
}

void VIntlMgr::Reset()
{
    fCollator->Reset();
}

void VIntlMgr::_LoadLocaleVariables()
{
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, fLocaleName.c_str(), nullptr, &status);
    UChar separator[16];
    int32_t length = unum_getSymbol(format, UNUM_DECIMAL_SEPARATOR_SYMBOL, separator, 16, &status);
    if (U_SUCCESS(status))
    {
        fDecimalSeparator.FromUniCString(reinterpret_cast<const UniChar*>(separator), length);
    }
    unum_close(format);
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

// Dialect codes

uint32_t VIntlMgr::ResolveDialectCode(uint32_t inDialectCode)
{
    if (static_cast<int32_t>(inDialectCode) < -2 || static_cast<int32_t>(inDialectCode) > 0)
    {
        return inDialectCode;
    }
    // Computed once; concurrent first calls compute the same value.
    static std::atomic<uint32_t> sSystemDialect{kUnresolved};
    uint32_t dialect = sSystemDialect.load(std::memory_order_relaxed);
    if (dialect == kUnresolved)
    {
        dialect = DialectOfLocaleName(PreferredLanguageName());
        sSystemDialect.store(dialect, std::memory_order_relaxed);
    }
    return dialect;
}

bool VIntlMgr::IsDialectCode(uint32_t inDialectCode)
{
    return FindRow(inDialectCode) != nullptr;
}

const char* VIntlMgr::GetISO6391LanguageCode(uint32_t inDialectCode)
{
    const DialectRow* row = FindRow(inDialectCode);
    return row != nullptr ? row->fISO6391 : nullptr;
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

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& inCode, uint32_t& outDialectCode,
                                                        bool inFallBackToLanguage, bool inDefaultSubLanguage)
{
    outDialectCode = kUnresolved;
    // As ASCII, at most 255 bytes; anything else names no dialect.
    std::string text;
    for (int32_t i = 0; i < inCode.GetLength() && i < 255; ++i)
    {
        UniChar unit = inCode.GetCPointer()[i];
        if (unit == 0 || unit > 127)
        {
            return false;
        }
        text.push_back(static_cast<char>(unit));
    }
    size_t dashes = static_cast<size_t>(std::count(text.begin(), text.end(), '-'));
    size_t underscores = static_cast<size_t>(std::count(text.begin(), text.end(), '_'));
    if (dashes == 0 && underscores == 0)
    {
        return DialectOfLanguage(text.c_str(), nullptr, inFallBackToLanguage, inDefaultSubLanguage,
                                 outDialectCode);
    }
    char separator = dashes == 1 ? '-' : '_';
    if ((separator == '-' && underscores != 0) || (separator == '_' && (underscores != 1 || dashes != 0)))
    {
        return false; // "zh-Hans-CN", "a-b_c"
    }
    size_t cut = text.find(separator);
    std::string language = text.substr(0, cut);
    std::string subTag = text.substr(cut + 1);
    return DialectOfLanguage(language.c_str(), subTag.c_str(), inFallBackToLanguage, inDefaultSubLanguage,
                             outDialectCode);
}

std::string VIntlMgr::GetICULocaleNameForDialect(uint32_t inDialectCode)
{
    const DialectRow* row = FindRow(inDialectCode);
    std::string tag = row == nullptr ? std::string("en-US") : std::string(row->fISO6391);
    if (row != nullptr && *row->fRegion != 0)
    {
        tag.append("-").append(row->fRegion);
    }
    char name[ULOC_FULLNAME_CAPACITY] = "";
    UErrorCode status = U_ZERO_ERROR;
    uloc_forLanguageTag(tag.c_str(), name, sizeof(name), nullptr, &status);
    return U_SUCCESS(status) && *name != 0 ? std::string(name) : std::string("en_US");
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

void VIntlMgr::ToUpperLowerCase(VString& ioText, bool /*inFlag*/, bool inUpper) const
{
    MapCase(ioText, fLocaleName.c_str(), inUpper);
}

void VIntlMgr::ToUpperLowerCaseNoDialect(VString& ioText, bool inUpper)
{
    MapCase(ioText, "", inUpper);
}

// Dates and times

void VIntlMgr::FormatDate(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    if (inStyle < eOS_SHORT_FORMAT || inStyle > eOS_LONG_FORMAT)
    {
        outText.Clear();
        return;
    }
    _FormatDateTime(inDate, outText, false, inStyle, inGMT);
}

void VIntlMgr::FormatTime(const DateTimeParts& inDate, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    if (inStyle < eOS_SHORT_FORMAT || inStyle > eOS_LONG_FORMAT)
    {
        outText.Clear(); // neither a date nor a time style: nothing to show
        return;
    }
    _FormatDateTime(inDate, outText, true, inStyle, inGMT);
}

namespace
{

VIntlMgr::DateTimeParts PartsOf(const VTime& inTime)
{
    int16_t parts[7];
    inTime.GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    return {parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]};
}

// A formatter of the style for the locale, in GMT or in the default zone, with a proleptic
// Gregorian calendar; null when ICU cannot make one.
UDateFormat* OpenDateFormat(const char* inLocale, bool inTimeOfDay, int inStyle, bool inGMT)
{
    static constexpr UDateFormatStyle kDateStyles[] = {UDAT_SHORT, UDAT_MEDIUM, UDAT_FULL};
    static constexpr UDateFormatStyle kTimeStyles[] = {UDAT_SHORT, UDAT_MEDIUM, UDAT_LONG};
    static const UChar kGMT[] = u"GMT";
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(inTimeOfDay ? kTimeStyles[inStyle] : UDAT_NONE,
                                    inTimeOfDay ? UDAT_NONE : kDateStyles[inStyle], inLocale,
                                    inGMT ? kGMT : nullptr, inGMT ? 3 : -1, nullptr, 0, &status);
    if (U_FAILURE(status))
    {
        udat_close(format);
        return nullptr;
    }
    // The date's parts are proleptic Gregorian: so must the formatter's calendar be, where the
    // locale's calendar is the Gregorian one (ICU switches to the Julian calendar before 1582).
    const UCalendar* calendar = udat_getCalendar(format);
    const char* type = ucal_getType(calendar, &status);
    if (U_SUCCESS(status) && std::strcmp(type, "gregorian") == 0)
    {
        UCalendar* proleptic = ucal_clone(calendar, &status);
        ucal_setGregorianChange(proleptic, -8.64e15, &status);
        if (U_SUCCESS(status))
        {
            udat_setCalendar(format, proleptic);
        }
        ucal_close(proleptic);
    }
    return format;
}

} // namespace

void VIntlMgr::FormatDate(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    if (inTime.IsNull())
    {
        outText.Clear();
        return;
    }
    FormatDate(PartsOf(inTime), outText, inStyle, inGMT);
}

void VIntlMgr::FormatTime(const VTime& inTime, VString& outText, EOSFormats inStyle, bool inGMT) const
{
    if (inTime.IsNull())
    {
        outText.Clear();
        return;
    }
    FormatTime(PartsOf(inTime), outText, inStyle, inGMT);
}

void VIntlMgr::_FormatDateTime(const DateTimeParts& inDate, VString& outText, bool inTimeOfDay, int inStyle,
                               bool inGMT) const
{
    outText.Clear();
    double milliseconds =
        static_cast<double>(DaysFromCivil(inDate.fYear, inDate.fMonth, inDate.fDay)) * 86400000.0 +
        ((static_cast<double>(inDate.fHour) * 60 + inDate.fMinute) * 60 + inDate.fSecond) * 1000.0;

    std::lock_guard lock(fDateFormats->fMutex);
    DateFormatCache::Slot& slot = fDateFormats->fSlots[DateFormatCache::Index(inTimeOfDay, inStyle, inGMT)];
    // A local formatter holds the zone it was opened in: after a change of zone it is opened again.
    const uint32_t generation = inGMT ? 0 : VSystem::GetTimeZoneGeneration();
    if (slot.fFormat != nullptr && slot.fZoneGeneration != generation)
    {
        udat_close(slot.fFormat);
        slot.fFormat = nullptr;
    }
    if (slot.fFormat == nullptr)
    {
        slot.fFormat = OpenDateFormat(fLocaleName.c_str(), inTimeOfDay, inStyle, inGMT);
        slot.fZoneGeneration = generation;
        if (slot.fFormat == nullptr)
        {
            return;
        }
    }
    UDateFormat* format = slot.fFormat;
    UErrorCode status = U_ZERO_ERROR;
    UChar buffer[256];
    int32_t length = udat_format(format, milliseconds, buffer, 256, nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && length > 0)
    {
        status = U_ZERO_ERROR;
        UniChar* units = outText.GetCPointerForWrite(length);
        if (units != nullptr)
        {
            length =
                udat_format(format, milliseconds, reinterpret_cast<UChar*>(units), length, nullptr, &status);
            if (U_SUCCESS(status) || status == U_STRING_NOT_TERMINATED_WARNING)
            {
                outText.Validate(length);
            }
        }
    }
    else if (U_SUCCESS(status))
    {
        outText.FromUniCString(reinterpret_cast<const UniChar*>(buffer), length);
    }
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
