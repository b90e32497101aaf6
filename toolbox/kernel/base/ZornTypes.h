// Basic types shared by the whole toolbox: UTF-16 units, value kinds, comparison results,
// four-character codes, the character-set enumeration and the line-ending modes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorn
{

// One UTF-16 code unit. Strings are sequences of these, in the machine's byte order.
using UniChar = uint16_t;

// A four-character code: four ASCII letters, the first in the high byte ('str ' is 0x73747220).
using OsType = uint32_t;

constexpr OsType MakeOsType(char inA, char inB, char inC, char inD)
{
    return (static_cast<OsType>(static_cast<unsigned char>(inA)) << 24) |
           (static_cast<OsType>(static_cast<unsigned char>(inB)) << 16) |
           (static_cast<OsType>(static_cast<unsigned char>(inC)) << 8) |
           static_cast<OsType>(static_cast<unsigned char>(inD));
}

// Three-way result of every comparison of values, strings and dates.
using CompareResult = int32_t;
constexpr CompareResult CR_SMALLER = -1;
constexpr CompareResult CR_EQUAL = 0;
constexpr CompareResult CR_BIGGER = 1;
// What a multiple value answers to a scalar comparison.
constexpr CompareResult CR_UNRELEVANT = -1000;

// Kind of a typed value, the key of the value-info registry.
using ValueKind = uint16_t;
enum : ValueKind
{
    VK_EMPTY = 0,
    VK_BOOLEAN = 1,
    VK_BYTE = 2,
    VK_WORD = 3,
    VK_LONG = 4,
    VK_LONG8 = 5,
    VK_REAL = 6,
    VK_TIME = 8,
    VK_DURATION = 9,
    VK_STRING = 10,
    VK_BLOB = 11,
    VK_UUID = 13,
    VK_ARRAY_FIRST = 100,
    VK_ARRAY_LAST = 111,
    VK_BAG = 200,
    // The kind of a value that names no kind of its own.
    VK_UNDEFINED = 65535
};

// Character sets for conversion to and from VString; the legacy sets start at 100.
enum class CharSet : int32_t
{
    VTC_StdLib_char = -2, // the C library's current set
    VTC_UNKNOWN = 0,
    VTC_UTF_16_BIGENDIAN = 1,
    VTC_UTF_16 = 2, // native byte order
    VTC_UTF_32_BIGENDIAN = 3,
    VTC_UTF_32 = 4,               // native byte order
    VTC_UTF_32_RAW_BIGENDIAN = 5, // code units copied without surrogate handling
    VTC_UTF_32_RAW = 6,           // the same, native byte order
    VTC_UTF_8 = 7,
    VTC_UTF_7 = 8,
    VTC_US_ASCII = 9,
    VTC_EBCDIC_037 = 10,
    VTC_IBM437 = 11,
    VTC_FIRST_LEGACY = 100,
    // Mac and Windows code pages.
    VTC_MacRoman = 100,
    VTC_Win1252 = 101,
    VTC_MacCentralEurRoman = 102,
    VTC_Win1250 = 103,
    VTC_MacCyrillic = 104,
    VTC_Win1251 = 105,
    VTC_MacGreek = 106,
    VTC_Win1253 = 107,
    VTC_MacTurkish = 108,
    VTC_Win1254 = 109,
    VTC_MacArabic = 110,
    VTC_Win1256 = 111,
    VTC_MacHebrew = 112,
    VTC_Win1255 = 113,
    VTC_MacBaltic = 114, // its only name is x-mac-ce: converted as Mac Central European
    VTC_Win1257 = 115,
    VTC_MacSimplifiedChinese = 116,
    VTC_GBK = 117,
    VTC_MacJapanese = 120,
    // ISO, Unix and East Asian sets.
    VTC_ShiftJIS = 1000,
    VTC_ISO_2022_JP = 1001,
    VTC_Big5 = 1002,
    VTC_EUC_KR = 1003,
    VTC_KOI8R = 1004,
    VTC_ISO_8859_1 = 1005,
    VTC_ISO_8859_2 = 1006,
    VTC_ISO_8859_3 = 1007,
    VTC_ISO_8859_4 = 1008,
    VTC_ISO_8859_5 = 1009,
    VTC_ISO_8859_6 = 1010,
    VTC_ISO_8859_7 = 1011,
    VTC_ISO_8859_8 = 1012,
    VTC_ISO_8859_9 = 1013,
    VTC_ISO_8859_10 = 1014,
    VTC_ISO_8859_13 = 1015,
    VTC_GB2312 = 1016,
    VTC_GB2312_80 = 1017,
    VTC_ISO_8859_15 = 1018,
    VTC_Windows31J = 1019
};

// How line endings are written when text is converted to bytes.
enum ECarriageReturnMode : int32_t
{
    eCRM_NONE = 1, // kept as they are
    eCRM_CRLF = 2,
    eCRM_CR = 3,
    eCRM_LF = 4
};

} // namespace zorn
