// Linux back end of the kernel, its only folder that calls the system: portable kernel files use
// the C and C++ libraries and ICU only; system calls, /proc, glibc extensions and ABI calls live here.
//
// XLinuxToUnicodeConverter and XLinuxFromUnicodeConverter: the system converters, for the legacy
// character sets and for the C library's codeset, over ICU converters (ucnv).
//
// A converter is built for a CharSet (the ICU converter that opens under one of the set's names
// in the names table, tried in table order) or for a converter name that ICU knows (a locale's
// codeset). IsValid answers whether ICU had one.
//
// Choices:
// - An unmappable character becomes '?' in the target set (ICU's own substitute where the set has
//   no '?'); malformed or unassigned bytes become ICU's substitute (U+FFFD or U+001A). Either
//   makes the result false.
// - Each call converts a whole text, flushing at its end: an incomplete multi-byte sequence at
//   the end of the source is malformed, not left over.
// - When the target is too small the conversion ends before the character that did not fit
//   (found from ICU's offsets), so the caller can go on from the consumed count.
// - An ICU converter keeps state while it converts: a mutex makes the calls on one object take
//   turns, so a shared converter (the C library's) may be used from any thread.
#pragma once

#include "toolbox/kernel/charsets/VTextConverter.h"

#include <mutex>

struct UConverter;

namespace zorn
{

class XLinuxToUnicodeConverter : public VToUnicodeConverter
{
public:
    explicit XLinuxToUnicodeConverter(CharSet inCharSet);
    explicit XLinuxToUnicodeConverter(const char* inConverterName);
    ~XLinuxToUnicodeConverter() override;
    XLinuxToUnicodeConverter(const XLinuxToUnicodeConverter&) = delete;
    XLinuxToUnicodeConverter& operator=(const XLinuxToUnicodeConverter&) = delete;

    bool IsValid() const override { return fConverter != nullptr; }
    bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outConsumed,
                       VString& ioString) override;
    bool Convert(const void* inSource, size_t inSourceBytes, size_t* outConsumed, UniChar* outTarget,
                 int32_t inMaxUnits, int32_t* outProduced) override;
    int32_t GetCharSize() const override;

private:
    void _Open(const char* inConverterName);

    std::mutex fMutex;
    UConverter* fConverter = nullptr;
    bool fSubstituted = false; // set by the ICU callback during a call
};

class XLinuxFromUnicodeConverter : public VFromUnicodeConverter
{
public:
    explicit XLinuxFromUnicodeConverter(CharSet inCharSet);
    explicit XLinuxFromUnicodeConverter(const char* inConverterName);
    ~XLinuxFromUnicodeConverter() override;
    XLinuxFromUnicodeConverter(const XLinuxFromUnicodeConverter&) = delete;
    XLinuxFromUnicodeConverter& operator=(const XLinuxFromUnicodeConverter&) = delete;

    bool IsValid() const override { return fConverter != nullptr; }
    bool Convert(const UniChar* inSource, int32_t inSourceUnits, int32_t* outConsumed, void* outTarget,
                 size_t inMaxBytes, size_t* outProduced) override;
    // The encoding's maximum bytes per UTF-16 unit.
    int32_t GetCharSize() const override;

private:
    void _Open(const char* inConverterName);

    std::mutex fMutex;
    UConverter* fConverter = nullptr;
    bool fSubstituted = false;
};

} // namespace zorn
