#include "toolbox/kernel/charsets/VTextConverters.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VUnicodeConverters.h"
#include "toolbox/kernel/linux/XLinuxTextConverter.h"
#include "toolbox/kernel/strings/VString.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unorm2.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <clocale>
#include <cstring>
#include <iterator>
#include <langinfo.h>
#include <string>

namespace zorn
{

// The shared converters are chosen for a little-endian machine: UTF-16 big-endian is the swap
// converter and the "native" UTF-32 sets are little-endian.
static_assert(std::endian::native == std::endian::little, "converter table assumes a little-endian machine");

namespace detail
{

namespace
{
constexpr CharSet CS(int32_t inValue)
{
    return static_cast<CharSet>(inValue);
}

// CharSet, IANA MIBenum, name, offered to web content.
const CharSetName kCharSetNames[] = {
    {CS(4), 1017, "UCS4", false},
    {CS(4), 1017, "UCS_4", false},
    {CS(4), 1017, "UCS-4", false},
    {CS(4), 1017, "UTF-32", false},
    {CS(3), 1018, "UCS4BE", false},
    {CS(3), 1018, "UCS_4BE", false},
    {CS(3), 1018, "UCS-4BE", false},
    {CS(3), 1018, "UTF-32BE", false},
    {CS(4), 1019, "UCS4LE", false},
    {CS(4), 1019, "UCS_4LE", false},
    {CS(4), 1019, "UCS-4LE", false},
    {CS(4), 1019, "UTF-32LE", false},
    {CS(2), 1015, "UTF-16", false},
    {CS(1), 1013, "UTF-16BE", false},
    {CS(2), 1014, "UTF-16LE", false},
    {CS(7), 106, "UTF-8", true},
    {CS(8), 1012, "UTF-7", true},
    {CS(8), 103, "UNICODE-1-1-UTF-7", true},
    {CS(9), 3, "US-ASCII", false},
    {CS(9), 3, "ANSI_X3.4-1968", false},
    {CS(9), 3, "ANSI_X3.4-1986", false},
    {CS(9), 3, "ASCII", false},
    {CS(9), 3, "cp367", false},
    {CS(9), 3, "csASCII", false},
    {CS(9), 3, "IBM367", false},
    {CS(9), 3, "iso-ir-6", false},
    {CS(9), 3, "ISO_646.irv:1991", false},
    {CS(9), 3, "ISO646-US", false},
    {CS(9), 3, "us", false},
    {CS(11), 2011, "IBM437", false},
    {CS(11), 2011, "cp437", false},
    {CS(11), 2011, "437", false},
    {CS(11), 2011, "csPC8CodePage437", false},
    {CS(10), 2028, "ebcdic-cp-us", false},
    {CS(10), 2028, "cp037", false},
    {CS(10), 2028, "csIBM037", false},
    {CS(10), 2028, "ebcdic-cp-ca", false},
    {CS(10), 2028, "ebcdic-cp-nl", false},
    {CS(10), 2028, "ebcdic-cp-wt", false},
    {CS(10), 2028, "IBM037", false},
    {CS(100), 2027, "MacRoman", false},
    {CS(100), 2027, "x-mac-roman", false},
    {CS(100), 2027, "mac", false},
    {CS(100), 2027, "macintosh", false},
    {CS(100), 2027, "csMacintosh", false},
    {CS(101), 2252, "windows-1252", false},
    {CS(102), 1250, "MacCE", false},
    {CS(102), 1250, "x-mac-ce", false},
    {CS(103), 2250, "windows-1250", false},
    {CS(104), 1251, "x-mac-cyrillic", false},
    {CS(105), 2251, "windows-1251", false},
    {CS(106), 1253, "x-mac-greek", false},
    {CS(107), 2253, "windows-1253", false},
    {CS(108), 1254, "x-mac-turkish", false},
    {CS(109), 2254, "windows-1254", false},
    {CS(110), 1256, "x-mac-arabic", false},
    {CS(111), 2256, "windows-1256", false},
    {CS(112), 1255, "x-mac-hebrew", false},
    {CS(113), 2255, "windows-1255", false},
    {CS(114), 1257, "x-mac-ce", false},
    {CS(115), 2257, "windows-1257", false},
    {CS(1000), 17, "Shift_JIS", true},
    {CS(1000), 17, "csShiftJIS", false},
    {CS(1000), 17, "MS_Kanji", false},
    {CS(1000), 17, "Shift-JIS", false},
    {CS(120), 1258, "x-mac-japanese", false},
    {CS(1019), 2024, "Windows-31J", false},
    {CS(1019), 2024, "csWindows31J", false},
    {CS(1001), 39, "ISO-2022-JP", false},
    {CS(1001), 39, "csISO2022JP", false},
    {CS(1002), 2026, "Big5", true},
    {CS(1002), 2026, "csBig5", false},
    {CS(1003), 38, "EUC-KR", true},
    {CS(1003), 38, "csEUCKR", false},
    {CS(1004), 2084, "KOI8-R", true},
    {CS(1004), 2084, "csKOI8R", false},
    {CS(1005), 4, "ISO-8859-1", true},
    {CS(1005), 4, "CP819", false},
    {CS(1005), 4, "csISOLatin1", false},
    {CS(1005), 4, "IBM819", false},
    {CS(1005), 4, "iso-ir-100", false},
    {CS(1005), 4, "ISO_8859-1", false},
    {CS(1005), 4, "ISO_8859-1:1987", false},
    {CS(1005), 4, "l1", false},
    {CS(1005), 4, "latin1", false},
    {CS(1006), 5, "ISO-8859-2", true},
    {CS(1006), 5, "csISOLatin2", false},
    {CS(1006), 5, "iso-ir-101", false},
    {CS(1006), 5, "ISO_8859-2", false},
    {CS(1006), 5, "ISO_8859-2:1987", false},
    {CS(1006), 5, "l2", false},
    {CS(1006), 5, "latin2", false},
    {CS(1007), 6, "ISO-8859-3", true},
    {CS(1007), 6, "csISOLatin3", false},
    {CS(1007), 6, "ISO-8859-3:1988", false},
    {CS(1007), 6, "iso-ir-109", false},
    {CS(1007), 6, "ISO_8859-3", false},
    {CS(1007), 6, "l3", false},
    {CS(1007), 6, "latin3", false},
    {CS(1008), 7, "ISO-8859-4", true},
    {CS(1008), 7, "csISOLatin4", false},
    {CS(1008), 7, "ISO-8859-4:1988", false},
    {CS(1008), 7, "iso-ir-110", false},
    {CS(1008), 7, "ISO_8859-4", false},
    {CS(1008), 7, "l4", false},
    {CS(1008), 7, "latin4", false},
    {CS(1009), 8, "ISO-8859-5", true},
    {CS(1009), 8, "csISOLatinCyrillic", false},
    {CS(1009), 8, "cyrillic", false},
    {CS(1009), 8, "ISO-8859-5:1988", false},
    {CS(1009), 8, "iso-ir-144", false},
    {CS(1009), 8, "ISO_8859-5", false},
    {CS(1010), 9, "ISO-8859-6", true},
    {CS(1010), 9, "arabic", false},
    {CS(1010), 9, "ASMO-708", false},
    {CS(1010), 9, "csISOLatinArabic", false},
    {CS(1010), 9, "ECMA-114", false},
    {CS(1010), 9, "ISO-8859-6:1987", false},
    {CS(1010), 9, "iso-ir-127", false},
    {CS(1010), 9, "ISO_8859-6", false},
    {CS(1011), 10, "ISO-8859-7", true},
    {CS(1011), 10, "csISOLatinGreek", false},
    {CS(1011), 10, "ECMA-118", false},
    {CS(1011), 10, "ELOT_928", false},
    {CS(1011), 10, "greek", false},
    {CS(1011), 10, "greek8", false},
    {CS(1011), 10, "iso-ir-126", false},
    {CS(1011), 10, "ISO_8859-7", false},
    {CS(1011), 10, "ISO_8859-7:1987", false},
    {CS(1012), 11, "ISO-8859-8", true},
    {CS(1012), 11, "csISOLatinHebrew", false},
    {CS(1012), 11, "hebrew", false},
    {CS(1012), 11, "iso-ir-138", false},
    {CS(1012), 11, "ISO_8859-8", false},
    {CS(1012), 11, "ISO_8859-8:1988", false},
    {CS(1013), 12, "ISO-8859-9", true},
    {CS(1013), 12, "csISOLatin5", false},
    {CS(1013), 12, "iso-ir-148", false},
    {CS(1013), 12, "ISO_8859-9", false},
    {CS(1013), 12, "ISO_8859-9:1989", false},
    {CS(1013), 12, "l5", false},
    {CS(1013), 12, "latin5", false},
    {CS(1014), 13, "ISO-8859-10", true},
    {CS(1014), 13, "csISOLatin6", false},
    {CS(1014), 13, "iso-ir-157", false},
    {CS(1014), 13, "ISO_8859-10", false},
    {CS(1014), 13, "ISO_8859-10:1992", false},
    {CS(1014), 13, "l6", false},
    {CS(1014), 13, "latin6", false},
    {CS(1015), 109, "ISO-8859-13", true},
    {CS(1018), 111, "ISO-8859-15", true},
    {CS(1018), 111, "Latin-9", false},
    {CS(1016), 2025, "GB2312", true},
    {CS(1016), 2025, "csGB2312", false},
    {CS(1016), 2025, "x-mac-chinesesimp", false},
    {CS(116), 2025, "x-mac-chinesesimp", false},
    {CS(1017), 57, "GB_2312-80", false},
    {CS(1017), 57, "csISO58GB231280", false},
    {CS(117), 113, "GBK", true},
    {CS(117), 113, "CP936", false},
    {CS(117), 113, "MS936", false},
    {CS(117), 113, "windows-936", false},
    {CS(0), 0, nullptr, false},
};
static_assert(std::size(kCharSetNames) == 162 + 1); // 162 names and the end row
} // namespace

const CharSetName* CharSetNames()
{
    return kCharSetNames;
}

} // namespace detail

namespace
{

using detail::CharSetName;

// The validating UTF-8 automaton of Bjoern Hoehrmann: the first 256 entries give each byte's
// class, the rest the next state for state * 16 + class. State 0 accepts, state 1 rejects; the
// others wait for continuation bytes, with the bounds that exclude overlong forms, surrogates
// and code points above U+10FFFF.
constexpr uint8_t kUTF8Accept = 0;
constexpr uint8_t kUTF8Reject = 1;
// clang-format off
const uint8_t kUTF8Automaton[] = {
    // 00..7F
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    // 80..8F, 90..9F, A0..BF
    1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1, 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,
    7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7, 7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,
    // C0..C1, C2..DF
    8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2, 2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,
    // E0, E1..EC, ED, EE..EF, F0, F1..F3, F4, F5..FF
    10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3, 11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8,
    // transitions of states 0 to 8
    0,1,2,3,5,8,7,1,1,1,4,6,1,1,1,1, 1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,
    1,0,1,1,1,1,1,0,1,0,1,1,1,1,1,1, 1,2,1,1,1,1,1,2,1,2,1,1,1,1,1,1,
    1,1,1,1,1,1,1,2,1,1,1,1,1,1,1,1, 1,2,1,1,1,1,1,1,1,2,1,1,1,1,1,1,
    1,1,1,1,1,1,1,3,1,3,1,1,1,1,1,1, 1,3,1,1,1,1,1,3,1,3,1,1,1,1,1,1,
    1,3,1,1,1,1,1,1,1,1,1,1,1,1,1,1,
};
// clang-format on
static_assert(std::size(kUTF8Automaton) == 256 + 9 * 16);

// Runs the automaton over the bytes; the final state, or kUTF8Reject as soon as it is reached.
uint8_t RunUTF8Automaton(const uint8_t* inBytes, size_t inSize)
{
    uint8_t state = kUTF8Accept;
    for (size_t i = 0; i < inSize; ++i)
    {
        state = kUTF8Automaton[256 + state * 16 + kUTF8Automaton[inBytes[i]]];
        if (state == kUTF8Reject)
        {
            break;
        }
    }
    return state;
}

const uint8_t kBOM_UTF16BE[] = {0xFE, 0xFF};
const uint8_t kBOM_UTF16LE[] = {0xFF, 0xFE};
const uint8_t kBOM_UTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
const uint8_t kBOM_UTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
const uint8_t kBOM_UTF8[] = {0xEF, 0xBB, 0xBF};

bool StartsWith(const uint8_t* inBytes, size_t inSize, const uint8_t* inMark, size_t inMarkSize)
{
    return inSize >= inMarkSize && std::memcmp(inBytes, inMark, inMarkSize) == 0;
}

// The name in plain lower-case ASCII with accents taken off (decomposed, marks dropped); false
// when a character is left that no table name can hold.
bool FoldName(const VString& inName, std::string& outFolded)
{
    outFolded.clear();
    const UChar* units = reinterpret_cast<const UChar*>(inName.GetCPointer());
    int32_t length = inName.GetLength();
    std::u16string decomposed;
    bool ascii = true;
    for (int32_t i = 0; i < length; ++i)
    {
        ascii = ascii && units[i] < 0x80;
    }
    if (!ascii)
    {
        UErrorCode error = U_ZERO_ERROR;
        const UNormalizer2* nfd = unorm2_getNFDInstance(&error);
        if (U_FAILURE(error))
        {
            return false;
        }
        int32_t needed = unorm2_normalize(nfd, units, length, nullptr, 0, &error);
        error = U_ZERO_ERROR;
        decomposed.resize(static_cast<size_t>(needed));
        unorm2_normalize(nfd, units, length, decomposed.data(), needed, &error);
        if (U_FAILURE(error))
        {
            return false;
        }
        units = decomposed.data();
        length = needed;
    }
    for (int32_t i = 0; i < length; ++i)
    {
        UChar32 c = units[i];
        if (c < 0x80)
        {
            outFolded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
        else if (u_charType(c) != U_NON_SPACING_MARK)
        {
            return false;
        }
    }
    return true;
}

const CharSetName* FindRowByName(const VString& inName)
{
    std::string folded;
    if (!FoldName(inName, folded) || folded.empty())
    {
        return nullptr;
    }
    for (const CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (folded.size() == std::strlen(row->fName) &&
            std::equal(folded.begin(), folded.end(), row->fName,
                       [](char inA, char inB)
                       { return inA == std::tolower(static_cast<unsigned char>(inB)); }))
        {
            return row;
        }
    }
    return nullptr;
}

template <class Match>
const CharSetName* FindRow(Match inMatch)
{
    for (const CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (inMatch(*row))
        {
            return row;
        }
    }
    return nullptr;
}

void SetName(const CharSetName* inRow, VString& outName)
{
    if (inRow == nullptr)
    {
        outName.Clear();
    }
    else
    {
        outName.FromCString(inRow->fName);
    }
}

} // namespace

// Singleton

VTextConverters* VTextConverters::Get()
{
    // Never destroyed: converters may be used by statics destroyed at exit.
    static VTextConverters* sInstance = new VTextConverters();
    return sInstance;
}

VTextConverters::VTextConverters()
    : fNullToUnicode(new VToUnicodeConverter_Null()), fNullFromUnicode(new VFromUnicodeConverter_Null()),
      fSwapToUnicode(new VToUnicodeConverter_Swap()), fSwapFromUnicode(new VFromUnicodeConverter_Swap()),
      fUTF32RawToUnicode(new VToUnicodeConverter_UTF32_Raw(false)),
      fUTF32RawFromUnicode(new VFromUnicodeConverter_UTF32_Raw(false)),
      fUTF32ToUnicode(new VToUnicodeConverter_UTF32(false)),
      fUTF32FromUnicode(new VFromUnicodeConverter_UTF32(false)),
      fUTF8ToUnicode(new VToUnicodeConverter_UTF8()), fUTF8FromUnicode(new VFromUnicodeConverter_UTF8())
{
    _SetStdLibConverters();
}

VTextConverters::~VTextConverters()
{
    for (IRefCountable* converter : fRetired)
    {
        converter->Release();
    }
    const IRefCountable* owned[] = {
        fStdLibToUnicode.load(), fStdLibFromUnicode.load(), fNullToUnicode,     fNullFromUnicode,
        fSwapToUnicode,          fSwapFromUnicode,          fUTF32RawToUnicode, fUTF32RawFromUnicode,
        fUTF32ToUnicode,         fUTF32FromUnicode,         fUTF8ToUnicode,     fUTF8FromUnicode};
    for (const IRefCountable* converter : owned)
    {
        converter->Release();
    }
}

void VTextConverters::InitCharacterLocale()
{
    // A locale that the environment names but the system lacks leaves the C locale in place.
    std::setlocale(LC_CTYPE, "");
    Get()->_SetStdLibConverters();
}

void VTextConverters::_SetStdLibConverters()
{
    VFromUnicodeConverter* from = nullptr;
    VToUnicodeConverter* to = RetainConverterForCodeset(nl_langinfo(CODESET), &from);
    VToUnicodeConverter* oldTo = fStdLibToUnicode.exchange(to);
    VFromUnicodeConverter* oldFrom = fStdLibFromUnicode.exchange(from);
    std::lock_guard<std::mutex> lock(fRetiredMutex);
    if (oldTo != nullptr)
    {
        fRetired.push_back(oldTo);
    }
    if (oldFrom != nullptr)
    {
        fRetired.push_back(oldFrom);
    }
}

VToUnicodeConverter* VTextConverters::RetainConverterForCodeset(const char* inCodeset,
                                                                VFromUnicodeConverter** outFrom)
{
    const char* codeset = inCodeset == nullptr ? "" : inCodeset;
    // The C locale's codeset is plain ASCII; text in it is read as UTF-8, its superset.
    bool utf8 = *codeset == 0 || ucnv_compareNames(codeset, "UTF-8") == 0 ||
                ucnv_compareNames(codeset, "ANSI_X3.4-1968") == 0 ||
                ucnv_compareNames(codeset, "US-ASCII") == 0 || ucnv_compareNames(codeset, "ASCII") == 0;
    VToUnicodeConverter* to = nullptr;
    VFromUnicodeConverter* from = nullptr;
    if (utf8)
    {
        to = RetainRefCountable(fUTF8ToUnicode);
        from = RetainRefCountable(fUTF8FromUnicode);
    }
    else
    {
        to = new XLinuxToUnicodeConverter(codeset);
        from = new XLinuxFromUnicodeConverter(codeset);
        if (!to->IsValid() || !from->IsValid())
        {
            to->Release();
            from->Release();
            to = new VToUnicodeConverter_Void();
            from = new VFromUnicodeConverter_Void();
        }
    }
    if (outFrom != nullptr)
    {
        *outFrom = from;
    }
    else
    {
        from->Release();
    }
    return to;
}

// Converters

VToUnicodeConverter* VTextConverters::RetainToUnicodeConverter(CharSet inCharSet)
{
    switch (inCharSet)
    {
    case CharSet::VTC_StdLib_char:
        return RetainRefCountable(GetStdLibToUnicodeConverter());
    case CharSet::VTC_UNKNOWN:
        return new VToUnicodeConverter_Void();
    case CharSet::VTC_UTF_16_BIGENDIAN:
        return RetainRefCountable(fSwapToUnicode);
    case CharSet::VTC_UTF_16:
        return RetainRefCountable(fNullToUnicode);
    case CharSet::VTC_UTF_32_BIGENDIAN:
        return new VToUnicodeConverter_UTF32(true);
    case CharSet::VTC_UTF_32:
        return RetainRefCountable(fUTF32ToUnicode);
    case CharSet::VTC_UTF_32_RAW_BIGENDIAN:
        return new VToUnicodeConverter_UTF32_Raw(true);
    case CharSet::VTC_UTF_32_RAW:
        return RetainRefCountable(fUTF32RawToUnicode);
    case CharSet::VTC_UTF_8:
        return RetainRefCountable(fUTF8ToUnicode);
    default:
        break;
    }
    VToUnicodeConverter* converter = new XLinuxToUnicodeConverter(inCharSet);
    if (!converter->IsValid())
    {
        converter->Release();
        converter = new VToUnicodeConverter_Void();
    }
    return converter;
}

VFromUnicodeConverter* VTextConverters::RetainFromUnicodeConverter(CharSet inCharSet)
{
    switch (inCharSet)
    {
    case CharSet::VTC_StdLib_char:
        return RetainRefCountable(GetStdLibFromUnicodeConverter());
    case CharSet::VTC_UNKNOWN:
        return new VFromUnicodeConverter_Void();
    case CharSet::VTC_UTF_16_BIGENDIAN:
        return RetainRefCountable(fSwapFromUnicode);
    case CharSet::VTC_UTF_16:
        return RetainRefCountable(fNullFromUnicode);
    case CharSet::VTC_UTF_32_BIGENDIAN:
        return new VFromUnicodeConverter_UTF32(true);
    case CharSet::VTC_UTF_32:
        return RetainRefCountable(fUTF32FromUnicode);
    case CharSet::VTC_UTF_32_RAW_BIGENDIAN:
        return new VFromUnicodeConverter_UTF32_Raw(true);
    case CharSet::VTC_UTF_32_RAW:
        return RetainRefCountable(fUTF32RawFromUnicode);
    case CharSet::VTC_UTF_8:
        return RetainRefCountable(fUTF8FromUnicode);
    default:
        break;
    }
    VFromUnicodeConverter* converter = new XLinuxFromUnicodeConverter(inCharSet);
    if (!converter->IsValid())
    {
        converter->Release();
        converter = new VFromUnicodeConverter_Void();
    }
    return converter;
}

bool VTextConverters::ConvertToVString(const void* inSource, size_t inSourceBytes, CharSet inCharSet,
                                       VString& outString)
{
    VRefPtr<VToUnicodeConverter> converter(RetainToUnicodeConverter(inCharSet), true);
    return converter->ConvertString(inSource, inSourceBytes, nullptr, outString);
}

bool VTextConverters::ConvertFromVString(const VString& inString, int32_t* outConsumed, void* outBuffer,
                                         size_t inBufferSize, size_t* outProduced, CharSet inCharSet)
{
    VRefPtr<VFromUnicodeConverter> converter(RetainFromUnicodeConverter(inCharSet), true);
    return converter->Convert(inString.GetCPointer(), inString.GetLength(), outConsumed, outBuffer,
                              inBufferSize, outProduced);
}

// Byte-order marks and guessing

bool VTextConverters::ParseBOM(const void* inBytes, size_t inSize, size_t& outBOMSize, CharSet& outCharSet)
{
    struct Mark
    {
        const uint8_t* fBytes;
        size_t fSize;
        CharSet fCharSet;
    };
    // UTF-32 little-endian before UTF-16 little-endian, whose mark is its beginning.
    const Mark marks[] = {
        {kBOM_UTF8, sizeof(kBOM_UTF8), CharSet::VTC_UTF_8},
        {kBOM_UTF32BE, sizeof(kBOM_UTF32BE), CharSet::VTC_UTF_32_BIGENDIAN},
        {kBOM_UTF32LE, sizeof(kBOM_UTF32LE), CharSet::VTC_UTF_32},
        {kBOM_UTF16BE, sizeof(kBOM_UTF16BE), CharSet::VTC_UTF_16_BIGENDIAN},
        {kBOM_UTF16LE, sizeof(kBOM_UTF16LE), CharSet::VTC_UTF_16},
    };
    const uint8_t* bytes = static_cast<const uint8_t*>(inBytes);
    for (const Mark& mark : marks)
    {
        if (bytes != nullptr && StartsWith(bytes, inSize, mark.fBytes, mark.fSize))
        {
            outBOMSize = mark.fSize;
            outCharSet = mark.fCharSet;
            return true;
        }
    }
    outBOMSize = 0;
    outCharSet = CharSet::VTC_UNKNOWN;
    return false;
}

const uint8_t* VTextConverters::GetBOMForCharSet(CharSet inCharSet, size_t& outSize)
{
    const uint8_t* mark = nullptr;
    outSize = 0;
    switch (inCharSet)
    {
    case CharSet::VTC_UTF_16_BIGENDIAN:
        mark = kBOM_UTF16BE;
        outSize = sizeof(kBOM_UTF16BE);
        break;
    case CharSet::VTC_UTF_16:
        mark = kBOM_UTF16LE;
        outSize = sizeof(kBOM_UTF16LE);
        break;
    case CharSet::VTC_UTF_32_BIGENDIAN:
        mark = kBOM_UTF32BE;
        outSize = sizeof(kBOM_UTF32BE);
        break;
    case CharSet::VTC_UTF_32:
        mark = kBOM_UTF32LE;
        outSize = sizeof(kBOM_UTF32LE);
        break;
    case CharSet::VTC_UTF_8:
        mark = kBOM_UTF8;
        outSize = sizeof(kBOM_UTF8);
        break;
    default:
        break;
    }
    return mark;
}

bool VTextConverters::DetectUTF8(const void* inBytes, size_t inSize)
{
    return inBytes != nullptr && inSize > 0 &&
           RunUTF8Automaton(static_cast<const uint8_t*>(inBytes), inSize) == kUTF8Accept;
}

bool VTextConverters::GuessCharsetWithNoBom(const void* inBytes, size_t inSize, CharSet& ioCharSet,
                                            bool inCheckUTF8)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(inBytes);
    if (bytes == nullptr)
    {
        return false;
    }
    if (inSize >= 4)
    {
        if (bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0)
        {
            ioCharSet = CharSet::VTC_UTF_16;
            return true;
        }
        if (bytes[0] == 0 && bytes[1] != 0 && bytes[2] == 0 && bytes[3] != 0)
        {
            ioCharSet = CharSet::VTC_UTF_16_BIGENDIAN;
            return true;
        }
    }
    // A sequence cut by the 2048-byte limit is not held against the text.
    if (inCheckUTF8 && RunUTF8Automaton(bytes, std::min<size_t>(inSize, 2048)) != kUTF8Reject)
    {
        ioCharSet = CharSet::VTC_UTF_8;
        return true;
    }
    return false;
}

// Names

void VTextConverters::GetNameFromCharSet(CharSet inCharSet, VString& outName)
{
    SetName(FindRow([inCharSet](const CharSetName& inRow) { return inRow.fCharSet == inCharSet; }), outName);
}

CharSet VTextConverters::GetCharSetFromName(const VString& inName)
{
    const CharSetName* row = FindRowByName(inName);
    return row == nullptr ? CharSet::VTC_UNKNOWN : row->fCharSet;
}

int32_t VTextConverters::GetMIBEnumFromCharSet(CharSet inCharSet)
{
    const CharSetName* row =
        FindRow([inCharSet](const CharSetName& inRow) { return inRow.fCharSet == inCharSet; });
    return row == nullptr ? 0 : row->fMIBEnum;
}

int32_t VTextConverters::GetMIBEnumFromName(const VString& inName)
{
    const CharSetName* row = FindRowByName(inName);
    return row == nullptr ? 0 : row->fMIBEnum;
}

CharSet VTextConverters::GetCharSetFromMIBEnum(int32_t inMIBEnum)
{
    const CharSetName* row =
        FindRow([inMIBEnum](const CharSetName& inRow) { return inRow.fMIBEnum == inMIBEnum; });
    return row == nullptr ? CharSet::VTC_UNKNOWN : row->fCharSet;
}

void VTextConverters::GetNameFromMIBEnum(int32_t inMIBEnum, VString& outName)
{
    SetName(FindRow([inMIBEnum](const CharSetName& inRow) { return inRow.fMIBEnum == inMIBEnum; }), outName);
}

void VTextConverters::EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets)
{
    outNames.clear();
    outCharSets.clear();
    const CharSetName* previous = nullptr;
    for (const CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (previous == nullptr || previous->fCharSet != row->fCharSet)
        {
            outNames.emplace_back(row->fName);
            outCharSets.push_back(row->fCharSet);
        }
        previous = row;
    }
}

void VTextConverters::EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets)
{
    outNames.clear();
    outCharSets.clear();
    for (const CharSetName* row = detail::CharSetNames(); row->fName != nullptr; ++row)
    {
        if (row->fWeb)
        {
            outNames.emplace_back(row->fName);
            outCharSets.push_back(row->fCharSet);
        }
    }
}

} // namespace zorn
