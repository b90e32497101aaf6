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
    VTC_US_ASCII = 9,
    VTC_FIRST_LEGACY = 100
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
