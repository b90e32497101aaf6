// VTextConverters: the process-wide source of character-set converters. It hands out a converter
// per CharSet, recognises byte-order marks, guesses the encoding of unmarked text, and translates
// between CharSet values, IANA names and MIBenum numbers.
//
// The Unicode encodings (CharSet 1 to 7) are converted by the toolbox's own code
// (VUnicodeConverters.h); every other set goes through ICU (XLinuxTextConverter.h), and a set that
// ICU does not have gets the void converter. CharSet -2 is the C library's character set: the
// codeset of the LC_CTYPE locale, where the C locale's plain ASCII is read as UTF-8.
#pragma once

#include "toolbox/kernel/charsets/VTextConverter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace zorn
{

class VString;

class VTextConverters : public VObject
{
public:
    // The singleton, built on first use and kept until exit.
    static VTextConverters* Get();

    // Start-up: sets the C library's LC_CTYPE locale from the environment (LC_ALL, LC_CTYPE,
    // LANG) and points the C-library converters at its codeset. LC_NUMERIC is never set. The
    // process calls it once on the main thread before other threads run; later calls only
    // refresh the converters.
    static void InitCharacterLocale();

    // A converter with one reference for the caller: -2 the C library's; 0 a new void converter;
    // 1 to 7 the toolbox's own (shared for 1, 2, 4, 6, 7, new for 3 and 5); any other value a
    // new ICU converter, or a new void converter when ICU has none for the set.
    VToUnicodeConverter* RetainToUnicodeConverter(CharSet inCharSet);
    VFromUnicodeConverter* RetainFromUnicodeConverter(CharSet inCharSet);

    // The C library's converters, without a reference: valid as long as the singleton.
    VToUnicodeConverter* GetStdLibToUnicodeConverter() const { return fStdLibToUnicode.load(); }
    VFromUnicodeConverter* GetStdLibFromUnicodeConverter() const { return fStdLibFromUnicode.load(); }

    // One-shot conversions through a converter retained and released for the call.
    bool ConvertToVString(const void* inSource, size_t inSourceBytes, CharSet inCharSet, VString& outString);
    bool ConvertFromVString(const VString& inString, int32_t* outConsumed, void* outBuffer,
                            size_t inBufferSize, size_t* outProduced, CharSet inCharSet);

    // Byte-order marks. ParseBOM answers whether the bytes begin with one, giving its size and
    // set (0 and VTC_UNKNOWN otherwise); FF FE 00 00 is read as UTF-32 before FF FE as UTF-16.
    static bool ParseBOM(const void* inBytes, size_t inSize, size_t& outBOMSize, CharSet& outCharSet);
    // The mark of CharSet 1 to 7 (none for the raw UTF-32 sets 5 and 6): null and 0 otherwise.
    static const uint8_t* GetBOMForCharSet(CharSet inCharSet, size_t& outSize);

    // Whether the whole text is well-formed UTF-8; false for an empty text.
    static bool DetectUTF8(const void* inBytes, size_t inSize);
    // Guesses the set of unmarked text: the zero pattern of the first four bytes gives UTF-16
    // little- or big-endian; otherwise, when inCheckUTF8, the first 2048 bytes give UTF-8 when
    // they hold no malformed sequence. Without a guess ioCharSet is left as it was. Answers
    // whether a guess was made.
    static bool GuessCharsetWithNoBom(const void* inBytes, size_t inSize, CharSet& ioCharSet,
                                      bool inCheckUTF8);

    // Look-ups in the names table, each taking the first matching row; a miss gives 0 or an
    // empty name. Names compare without regard to case or accents.
    static void GetNameFromCharSet(CharSet inCharSet, VString& outName);
    static CharSet GetCharSetFromName(const VString& inName);
    static int32_t GetMIBEnumFromCharSet(CharSet inCharSet);
    static int32_t GetMIBEnumFromName(const VString& inName);
    static CharSet GetCharSetFromMIBEnum(int32_t inMIBEnum);
    static void GetNameFromMIBEnum(int32_t inMIBEnum, VString& outName);
    // One name per run of consecutive rows with the same set, in table order.
    static void EnumCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets);
    // The rows offered to web content.
    static void EnumWebCharsets(std::vector<VString>& outNames, std::vector<CharSet>& outCharSets);

    // The converters for a locale codeset as nl_langinfo(CODESET) names it, with one reference
    // each: the toolbox's UTF-8 pair for UTF-8 and plain ASCII, an ICU pair otherwise, the void
    // pair when ICU does not know the codeset.
    VToUnicodeConverter* RetainConverterForCodeset(const char* inCodeset, VFromUnicodeConverter** outFrom);

private:
    VTextConverters();
    ~VTextConverters() override;
    VTextConverters(const VTextConverters&) = delete;
    VTextConverters& operator=(const VTextConverters&) = delete;

    void _SetStdLibConverters();

    std::atomic<VToUnicodeConverter*> fStdLibToUnicode{nullptr};
    std::atomic<VFromUnicodeConverter*> fStdLibFromUnicode{nullptr};
    // Converters that the C-library pair replaced: callers may still hold them without a
    // reference, so they live as long as the singleton.
    std::mutex fRetiredMutex;
    std::vector<IRefCountable*> fRetired;

    VToUnicodeConverter* fNullToUnicode;
    VFromUnicodeConverter* fNullFromUnicode;
    VToUnicodeConverter* fSwapToUnicode;
    VFromUnicodeConverter* fSwapFromUnicode;
    VToUnicodeConverter* fUTF32RawToUnicode;
    VFromUnicodeConverter* fUTF32RawFromUnicode;
    VToUnicodeConverter* fUTF32ToUnicode;
    VFromUnicodeConverter* fUTF32FromUnicode;
    VToUnicodeConverter* fUTF8ToUnicode;
    VFromUnicodeConverter* fUTF8FromUnicode;
};

namespace detail
{
// One row of the names table; the table ends with a row whose name is null.
struct CharSetName
{
    CharSet fCharSet;
    int32_t fMIBEnum;
    const char* fName;
    bool fWeb;
};
const CharSetName* CharSetNames();
} // namespace detail

} // namespace zorn
