// The toolbox's own converters for the Unicode encodings, and the void pair for a character set
// that no converter serves.
//
// Choices, where an encoding allows several:
// - UTF-8 is decoded strictly: overlong forms, encoded surrogates (ED A0..BF), code points above
//   U+10FFFF, bytes C0, C1, F5..FF and stray continuation bytes are malformed. Each maximal
//   ill-formed subsequence becomes one '?' and the result is false. A valid but incomplete
//   sequence at the end of the source is left unconsumed.
// - A lone surrogate in UTF-16 text has no UTF-8 or UTF-32 form: it is written as U+FFFD and
//   the result is false.
// - UTF-32 units that are surrogates or above U+10FFFF become '?'; the raw UTF-32 pair copies
//   each 32-bit unit to one 16-bit unit and back without surrogate pairs, and a raw unit above
//   U+FFFF becomes '?'. Trailing bytes short of a whole unit are left unconsumed.
// - No byte-order mark is read or written here (VTextConverters::ParseBOM and GetBOMForCharSet).
//
// All of them hold no state, so one instance serves every thread.
#pragma once

#include "toolbox/kernel/charsets/VTextConverter.h"

namespace zorn
{

// UTF-16 in the machine's byte order: a copy.
class VToUnicodeConverter_Null : public VToUnicodeConverter
{
public:
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
    int32_t GetCharSize() const override { return 2; }
};

class VFromUnicodeConverter_Null : public VFromUnicodeConverter
{
public:
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    int32_t GetCharSize() const override { return 2; }
};

// UTF-16 in the other byte order: a copy with each unit byte-swapped.
class VToUnicodeConverter_Swap : public VToUnicodeConverter
{
public:
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
    int32_t GetCharSize() const override { return 2; }
};

class VFromUnicodeConverter_Swap : public VFromUnicodeConverter
{
public:
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    int32_t GetCharSize() const override { return 2; }
};

// UTF-32; inSwap reads and writes the other byte order than the machine's.
class VToUnicodeConverter_UTF32 : public VToUnicodeConverter
{
public:
    explicit VToUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
    int32_t GetCharSize() const override { return 4; }

private:
    bool fSwap;
};

class VFromUnicodeConverter_UTF32 : public VFromUnicodeConverter
{
public:
    explicit VFromUnicodeConverter_UTF32(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    int32_t GetCharSize() const override { return 4; }

private:
    bool fSwap;
};

// 32-bit units, one per UTF-16 unit, surrogates passed through as they are.
class VToUnicodeConverter_UTF32_Raw : public VToUnicodeConverter
{
public:
    explicit VToUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
    int32_t GetCharSize() const override { return 4; }

protected:
    size_t GetMaxUnits(size_t inSourceBytes) const override { return inSourceBytes / 4; }

private:
    bool fSwap;
};

class VFromUnicodeConverter_UTF32_Raw : public VFromUnicodeConverter
{
public:
    explicit VFromUnicodeConverter_UTF32_Raw(bool inSwap) : fSwap(inSwap) {}
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    int32_t GetCharSize() const override { return 4; }

private:
    bool fSwap;
};

class VToUnicodeConverter_UTF8 : public VToUnicodeConverter
{
public:
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
};

class VFromUnicodeConverter_UTF8 : public VFromUnicodeConverter
{
public:
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    int32_t GetCharSize() const override { return 3; }

    // The same from 32-bit wide characters (code points; surrogates and values above U+10FFFF
    // become U+FFFD).
    bool ConvertFrom_wchar(const wchar_t* inSource, int32_t inSourceChars, int32_t* outConsumed,
                           void* outTarget, size_t inMaxBytes, size_t* outProduced);
};

// For a character set that has no converter: invalid, converts nothing, answers false.
class VToUnicodeConverter_Void : public VToUnicodeConverter
{
public:
    bool IsValid() const override { return false; }
    bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                       VString& ioString) override;
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
};

class VFromUnicodeConverter_Void : public VFromUnicodeConverter
{
public:
    bool IsValid() const override { return false; }
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
};

} // namespace zorn
