// VString: the toolbox's one string type, a sequence of UTF-16 units that is also a typed value
// (kind 10). Short text lives in an inline buffer inside the object (VStr<N> gives N units of it);
// longer text lives in a heap buffer from the memory manager that copies share copy-on-write
// through a reference count kept in the same block, after the terminator.
//
// Buffer kinds: inline; counted heap buffer (shared, atomic count); uncounted owned buffer (one
// owner, copied rather than shared); borrowed storage (a literal, a caller's buffer, another
// holder's buffer: never freed, and copied before the first write unless the caller lent it
// for writing with the caller-buffer constructor).
//
// Positions are 1-based; lengths and counts are int32. The text is always zero-terminated.
// Failures (negative lengths, sizes past 0x7FFFFFFC units, no memory) raise 'zorn' 107 and leave
// the string as it was.
#pragma once

#include "toolbox/kernel/values/VValue.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zorn
{

class VCppMemMgr;
class VString;
template <size_t kGranularity, size_t kDivisor, size_t kMaxIncrement, class TMemMgr>
class VMemoryBuffer;
class VCollator;
class VArrayString;
class VValueBag;

// A string buffer held without a VString: length, a counted buffer with one reference on it,
// capacity. A null buffer stands for the empty string. Fields are adjacent, as stored.
struct __attribute__((packed)) VInlineString
{
    int32_t fLength = 0;
    UniChar* fString = nullptr;
    int32_t fMaxLength = 0;

    // Drops the reference on the buffer (freeing it when it was the last) and empties the record.
    void Release();
    // Takes one more reference on the buffer (nothing for the empty string).
    void Retain() const;
};

// The value descriptor of kind 10.
class VString_info : public VValueInfo
{
public:
    VString_info() : VValueInfo(VK_STRING) {}
    VValue* Generate() const override;
    VValue* Generate(VBlob* inBlob) const override;
    VValue* LoadFromPtr(const void* inData, bool inRefOnly) const override;
    void* ByteSwapPtr(void* inData, bool inFromHost) const override;
    size_t GetSizeOfValueDataPtr(const void* inPtr) const override;
    size_t GetAvgSpace() const override { return 64; }

    // Stored forms compared through the current task's collation (VString_Compare.cpp).
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2,
                                      bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2,
                                           bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                   bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
};

class VString : public VValueSingle
{
public:
    // Flag bits of the string, beside the value model's null and dirty bits.
    static constexpr uint8_t kBorrowed = 16;       // the buffer is somebody else's: never freed
    static constexpr uint8_t kCallerWritable = 32; // a borrowed buffer lent for writing in place
    static constexpr uint8_t kUncounted = 64;      // one owner, no count: copied, never shared

    VString();
    explicit VString(bool inIsNull);
    VString(const VString& inOther);
    VString(VString&& inOther) noexcept;
    explicit VString(UniChar inUniChar);
    VString(const UniChar* inUniCString, int32_t inLength);
    VString(const UniChar* inUniCString);
    VString(const wchar_t* inWideCString);
    VString(const char* inCString);
    VString(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);
    // Writes into the caller's storage in place, without copying: inBufferSize is in bytes
    // (capacity = size / 2 - 1); SIZE_MAX means "not given", the capacity then being the length.
    // A null buffer gives an empty null string.
    VString(UniChar* inBuffer, int32_t inLength, size_t inBufferSize);
    // Shares the record's buffer (one more reference).
    explicit VString(const VInlineString& inInlineString);
    // Borrows the record's buffer without taking a reference.
    VString(const VInlineString& inInlineString, bool inBorrow);
    ~VString() override;

    VString& operator=(const VString& inOther)
    {
        FromString(inOther);
        return *this;
    }
    VString& operator=(VString&& inOther) noexcept;

    // A heap string object with inline room for inInlineCapacity units; release it with delete.
    static VString* NewString(int32_t inInlineCapacity);
    VString* Clone() const override;

    // The descriptor of kind 10, built and registered on first use.
    static const VString_info& Info();
    const VValueInfo* GetValueInfo() const override;
    // The empty, non-null string, built on first use.
    static const VString& GetEmptyString();

    // Assignment. A counted source buffer is shared; anything else is copied.
    void FromString(const VString& inString) override;
    void FromString(const VInlineString& inInlineString);
    // A zero-terminated byte string: ASCII is widened unit by unit, anything else is decoded from
    // the C library's character set.
    void FromCString(const char* inCString);
    void FromUniChar(UniChar inUniChar);
    void FromUniCString(const UniChar* inUniCString, int32_t inLength);
    // Decodes bytes of a character set. Returns false (string left empty) for a set that has no
    // converter in this program.
    bool FromBlock(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);

    // Byte blocks and line endings (VString_Convert.cpp). Set 2 (UTF-16, machine order) is copied
    // without a converter; every other set goes through VTextConverters. Results are false when
    // the text was not converted whole and clean (see VTextConverter.h).
    // Appends the bytes decoded from the set.
    bool AppendBlock(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);
    // Decodes in the set of a leading byte-order mark (skipped), else in the set guessed from the
    // bytes, else in inCharSet; returns the set used.
    CharSet FromBlockWithOptionalBOM(const void* inBuffer, size_t inNbBytes, CharSet inCharSet);
    // Appends a zero-terminated byte string: ASCII is widened, anything else decoded from the C
    // library's character set.
    void AppendCString(const char* inCString);
    // Encodes into the buffer and returns the bytes of text written. inWithLengthPrefix puts the
    // text's size first (one byte, or one unit for set 2), or 0 when it does not fit that field,
    // in which case 0 is returned; inWithTrailingZero writes a 0 byte (a 0 unit for set 2) after
    // the text. Room for both is set aside first.
    size_t ToBlock(void* outBuffer, size_t inBufferSize, CharSet inCharSet, bool inWithTrailingZero,
                   bool inWithLengthPrefix) const;
    // Appends the whole text encoded in the set to the buffer (VMemoryBuffer<>), substitutes
    // where the set has no form for a character; false when the set has no converter or the
    // buffer cannot grow.
    bool ToBuffer(VMemoryBuffer<1024, 2, 1048576, VCppMemMgr>& ioBuffer, CharSet inCharSet) const;
    // The mode of the first line ending: LF gives eCRM_LF, CR LF eCRM_CRLF, a lone CR eCRM_CR;
    // inDefault without one.
    ECarriageReturnMode GetCarriageReturnMode(ECarriageReturnMode inDefault) const;
    // Rewrites every line ending (LF, CR, CR LF) to the mode; eCRM_NONE keeps them. False, the
    // text unchanged, when the string cannot grow.
    bool ConvertCarriageReturns(ECarriageReturnMode inMode);
    // The same on encoded text in a byte buffer: units of 2 bytes for the UTF-16 sets, 4 for the
    // UTF-32 sets (big-endian where the set is), 1 for the other sets; nothing for set 0.
    static bool ConvertCarriageReturns(VMemoryBuffer<1024, 2, 1048576, VCppMemMgr>& ioBuffer,
                                       CharSet inCharSet, ECarriageReturnMode inMode);

    // The buffer with one reference for the caller, to fill a VInlineString. Inline and uncounted
    // buffers are copied into a new counted one. Empty or null strings, and allocation failure,
    // give null and 0, 0.
    UniChar* RetainBuffer(int32_t& outLength, int32_t& outCapacity) const;
    // The units a block needs beyond its text to be adopted: the terminator and the count.
    static constexpr int64_t kAdoptedBlockExtraUnits = 4;
    // Takes over inBlock, a block of inBlockUnits units from the process memory manager whose
    // first inLength units are the text, as this string's own counted buffer (not null, dirty),
    // so that a writer can hand over what it wrote without a copy. False, the block not taken
    // and the string unchanged, without a memory manager, with a null block, or when inLength is
    // negative, above 0x7FFFFFFC or leaves less than kAdoptedBlockExtraUnits in the block.
    bool AdoptBlock(UniChar* inBlock, int32_t inLength, int64_t inBlockUnits);

    void Swap(VString& ioOther);

    // Empties the string, returning to its inline buffer; not null, dirty.
    void Clear() override;

    // After the caller wrote units into the buffer (up to the capacity), sets the length;
    // false and no change when inLength is negative or above the capacity.
    bool Validate(int32_t inLength);
    // A writable buffer of at least inLength units, content kept; null on failure.
    UniChar* GetCPointerForWrite(int32_t inLength);
    bool EnsureSize(int32_t inLength, bool inKeepContent = true);

    // The unit at 1-based inPos; 0 outside 1..length or when null.
    UniChar GetUniChar(int32_t inPos) const;
    bool SetUniChar(int32_t inPos, UniChar inUniChar);

    bool IsStringValid() const;

    const UniChar* GetCPointer() const { return fString; }
    int32_t GetLength() const { return fLength; }
    int32_t GetCapacity() const { return fMaxLength; }
    int32_t GetInlineCapacity() const { return fInlineCapacity; }
    bool IsEmpty() const { return fLength == 0; }
    bool IsInline() const { return fString == fInlineBuffer; }

    // The allocation size in units (capacity + 3: terminator and count) for a buffer that grows
    // from inOldLength to inNewLength units; 0 when it would exceed the size limit.
    static int64_t ComputeProgressiveResize(int32_t inOldLength, int32_t inNewLength);

    using VObject::DebugDump;
    // The units as native UTF-16: min(2 x length, ioSize - 2) bytes.
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;

    // Value model.
    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;
    void GetString(VString& outValue) const override { outValue.FromString(*this); }
    void GetValue(VValueSingle& outValue) const override { outValue.FromString(*this); }
    void FromValue(const VValueSingle& inValue) override;
    // The UUID reads this text (VUUID::FromString); a UUID gives its text (32 zeros when null).
    void GetVUUID(VUUID& outValue) const override;
    void FromVUUID(const VUUID& inValue) override;
    bool FromValueSameKind(const VValue* inValue) override;
    const void* LoadFromPtr(const void* inData, bool inRefOnly = false) override;
    void* WriteToPtr(void* ioData, bool inRefOnly = false, size_t inMax = 0) const override;
    size_t GetSpace(size_t inMax = 0) const override;

    // The count of a counted buffer (for diagnostics and tests); 0 for other kinds.
    uint32_t GetBufferRefCount() const;

    // Editing, searching and splitting (VString_Edit.cpp). Positions are 1-based; a position or
    // count out of bounds is not an error: the operation does nothing, clips or appends, as each
    // says. A change leaves the string not null and dirty; a length that cannot be allocated
    // raises 'zorn' 107 and leaves the string unchanged (the appenders then return false).
    bool AppendUniChar(UniChar inUniChar);
    bool AppendUniChars(const UniChar* inUniChars, int32_t inCount);
    bool AppendUniCString(const UniChar* inUniCString);
    bool AppendString(const VString& inString);
    // Before the unit at inPos; appended when inPos is past the end; nothing when inPos < 1 (nor
    // for a unit 0).
    void Insert(UniChar inUniChar, int32_t inPos);
    void Insert(const VString& inString, int32_t inPos);
    // Replaces inCount units at inPos with the text; a range past the end replaces the whole tail.
    void Replace(const VString& inText, int32_t inPos, int32_t inCount);
    void Remove(int32_t inPos, int32_t inCount);
    // Cuts to inLength units (negative: empty). With inKeepSurrogatePairs a cut that would end on
    // a high surrogate cuts one unit earlier. An own heap buffer much larger than the new length
    // is given back.
    void Truncate(int32_t inLength, bool inKeepSurrogatePairs = false);
    // Keeps only the units that GetSubString would give.
    void SubString(int32_t inPos, int32_t inCount);
    // inCount units from inPos, clipped to the end; empty when inPos or inCount is out of bounds.
    void GetSubString(int32_t inPos, int32_t inCount, VString& outResult) const;
    // The units before inPos (the whole string from past the end), and after inPos (the whole
    // string before the start).
    VString Before(int32_t inPos) const;
    VString After(int32_t inPos) const;
    void FromUniString(const UniChar* inUniChars, int32_t inCount);

    // Removes every leading and trailing occurrence of the unit.
    void TrimUniChar(UniChar inUniChar);
    // Removes Unicode white space (TAB to CR, U+0020, U+00A0, U+1680, U+2000 to U+200A, U+2028,
    // U+2029, U+202F, U+205F, U+3000, U+FEFF) at the chosen ends.
    void Trim(bool inLeading = true, bool inTrailing = true);
    // Removes white space at the chosen ends: U+0020 and U+0009 without a manager, else what the
    // manager's IsSpace accepts. The counts removed go to the non-null out pointers.
    void RemoveWhiteSpaces(bool inLeading = true, bool inTrailing = true, int32_t* outLeadingCount = nullptr,
                           int32_t* outTrailingCount = nullptr, const VIntlMgr* inIntlMgr = nullptr,
                           bool inFlag = false);
    // Case mapping by the current task's international manager (without one, by the rules that
    // hold for every locale).
    void ToUpperCase(bool inFlag = false);
    void ToLowerCase(bool inFlag = false);
    // Unicode normalisation in place (VString_Normalize.cpp): NFC and NFD through ICU. Text already in
    // the form is not touched; a failure (no memory, ICU error) leaves the text as it was.
    void Compose();
    void Decompose();

    // Searches by units. 0 means not found.
    int32_t FindUniChar(UniChar inUniChar, int32_t inStart = 1, bool inBackward = false) const;
    int32_t FindRawString(const VString& inPattern, int32_t inStart = 1) const;
    // Knuth-Morris-Pratt search: the 1-based position of the first match, 1 for an empty pattern.
    static int32_t FindRawString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                 int32_t inPatternLength);
    bool BeginsWithRawString(const VString& inPrefix) const;
    bool EndsWithRawString(const VString& inSuffix) const;
    // Collated searches through the current task's collator.
    int32_t Find(const VString& inPattern, int32_t inStart = 1, bool inDiacritical = false) const;
    bool BeginsWith(const VString& inPrefix, bool inDiacritical = false) const;
    bool EndsWith(const VString& inSuffix, bool inDiacritical = false) const;

    // Replacing occurrences, from inStart on, at most inMaxCount of them. An empty pattern
    // replaces nothing.
    void Exchange(UniChar inOld, UniChar inNew, int32_t inStart = 1, int32_t inMaxCount = INT32_MAX);
    void ExchangeRawString(const VString& inPattern, const VString& inReplacement, int32_t inStart = 1,
                           int32_t inMaxCount = INT32_MAX, int32_t* outCount = nullptr);
    // Through a collator (the current task's when null); a match may differ in length from the
    // pattern, and the whole matched text is replaced.
    void Exchange(const VString& inPattern, const VString& inReplacement, int32_t inStart = 1,
                  int32_t inMaxCount = INT32_MAX, bool inDiacritical = false,
                  const VCollator* inCollator = nullptr);

    // Splits at each occurrence of the separator into outStrings (cleared first). Empty pieces
    // are kept only with inKeepEmpty; inTrimSpaces removes U+0020 around each piece first.
    // Returns whether the separator occurs.
    bool GetSubStrings(UniChar inSeparator, std::vector<VString>& outStrings, bool inKeepEmpty = false,
                       bool inTrimSpaces = false) const;
    // The separator is found through the current task's collator; an empty separator gives the
    // whole string as the only piece, an empty string no piece.
    bool GetSubStrings(const VString& inSeparator, std::vector<VString>& outStrings, bool inKeepEmpty = false,
                       bool inTrimSpaces = false, bool inDiacritical = false) const;
    // The same splits appended as the elements of a typed string array (cleared first).
    bool GetSubStrings(UniChar inSeparator, VArrayString& outStrings, bool inKeepEmpty = false,
                       bool inTrimSpaces = false) const;
    bool GetSubStrings(const VString& inSeparator, VArrayString& outStrings, bool inKeepEmpty = false,
                       bool inTrimSpaces = false, bool inDiacritical = false) const;
    // The pieces with the separator between them; false with 'zorn' 107 when the result would
    // be too long.
    bool Join(const std::vector<VString>& inStrings, UniChar inSeparator);
    bool Join(const std::vector<VString>& inStrings, const VString& inSeparator);

    // Comparison (VString_Compare.cpp). Raw comparisons work on the units; the others go through
    // the current task's international manager (or compare units while there is none). A null
    // string compares as the empty string. The diacritical flag makes accents and case count.
    bool EqualToStringRaw(const VString& inString) const;
    // Units as unsigned numbers, up to and including the first 0 unit of either string.
    CompareResult CompareToStringRaw(const VString& inString) const;
    // The same with A-Z folded to a-z, and nothing else folded.
    CompareResult CompareToStringRawCase(const VString& inString) const;
    // Each byte, as a signed char widened to 16 bits, against the unit at the same place.
    bool EqualToUSASCIICString(const char* inCString) const;
    // The longest common subsequence of the units, divided by this string's length (0..1).
    double SimilarToString(const VString& inString) const;
    CompareResult CompareToString(const VString& inString, bool inDiacritical = false) const;
    // inString is the pattern, with the wild character of the collation.
    CompareResult CompareToString_Like(const VString& inString, bool inDiacritical = false) const;
    bool EqualToString(const VString& inString, bool inDiacritical = false) const;
    bool EqualToString_Like(const VString& inString, bool inDiacritical = false) const;

    // Value-model comparisons of kind 10: other strings, and stored forms (an int32 length
    // followed by the units).
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData,
                                       bool inDiacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr(const void* inPtrToValueData,
                                            bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr(const void* inPtrToValueData,
                                               bool inDiacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr(const void* inPtrToValueData,
                                             bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKind_Like(const VValue* inValue,
                                                 bool inDiacritical = false) const override;
    bool EqualToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                            bool inDiacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                                 bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                    bool inDiacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                  bool inDiacritical = false) const override;
    bool EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData,
                                      bool inDiacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* inValue,
                                               const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData,
                                       const VCompareOptions& inOptions) const override;
    CompareResult Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                       const VCompareOptions& inOptions) const override;

    // ---- XML and JSON text forms, date shapes, script names, Base64 (VString_Text.cpp) ----
    // Both XML transcoders walk the whole string, 0 units included, and touch a string only when
    // something is escaped or decoded; on a failed allocation the string stays as it was.
    // Escapes " & ' < > as &quot; &amp; &apos; &lt; &gt;; with inEscapeControls also every unit
    // below U+0020 except TAB, LF and CR, and U+007F, as &#x followed by at least two upper-case
    // hexadecimal digits and ';'.
    void TranscodeToXML(bool inEscapeControls = false);
    // Decodes the five named entities above and "&#x<hex>;" (a value above U+FFFF gives a
    // surrogate pair). Left as written: anything cut off by the end, "&#x" without digits or
    // without ';', decimal references, and values that are 0, surrogates, above U+10FFFF or
    // overflowing.
    void TranscodeFromXML();
    // Value-model hooks: a copy escaped without control escapes (the options are not used), and
    // the text decoded.
    void GetXMLString(VString& outValue, JSONStringOptions inOptions = 0) const override;
    bool FromXMLString(const VString& inValue) override;
    // The JSON string form. Option bits: 1 quotes around the result; 16 no escaping (a copy);
    // 1024 also escapes & and ' as \u0026 and \u0027. Escapes \b \t \n \f \r \" \\, and
    // \u00XX (upper-case hex) for the other units below U+0020 and U+007F; '/' and every unit from
    // U+0080 up (lone surrogates too) are written as they are. 'zorn' 107, out unchanged, when
    // 6 x length + 4 units exceed 0x7FFFFFFF or cannot be allocated.
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    // The escaping of GetJSONString without quotes, for writers that append to a buffer of their
    // own: the units' JSON form (bit 1024 of inOptions read, the others not) written at outText,
    // which has room for 6 units per unit. Returns the end of what was written.
    static UniChar* WriteJSONEscapedUnits(const UniChar* inUnits, int32_t inCount, UniChar* outText,
                                          JSONStringOptions inOptions);
    // Decodes the JSON escapes (bit 16: a plain copy): \b \f \n \r \t, \u and four hex
    // digits (with fewer, or other units, the 'u' alone), any other escaped unit as itself; a
    // final lone backslash is dropped. Returns 0; a result that cannot be allocated raises
    // 'zorn' 107 and leaves the string as it was.
    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
    // Through the JSON layer's entries in VKernelHooks: a null string is the JSON null, any other
    // a JSON string sharing this buffer; reading takes null from a JSON null and any other value's
    // text. Without the JSON layer they do nothing and return 0.
    VError GetJSONValue(VJSONValue& outJSONValue) const override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    // Exactly "dddd-dd-dd" (d in 0-9), and exactly "!!dddd-dd-dd!!".
    bool IsISODate() const;
    bool IsNonAmbigousDate() const;
    // A script identifier from the text: '_' first when it starts with a digit, then the units
    // a-z, A-Z, 0-9, '_' and '$' in order; every other unit is dropped.
    void GetCleanJSName(VString& outName) const;
    // The string becomes the Base64 text (Base64Coder, no line breaks) of the bytes; inURL picks
    // the URL-safe alphabet. False when the text cannot be allocated.
    bool EncodeBase64(const void* inBytes, size_t inSize, bool inURL = false);
    // The text encoded in the set, then replaced by the Base64 text of those bytes; an empty or
    // null string is left and gives true.
    bool EncodeBase64(CharSet inCharSet, bool inURL = false);
    // Decodes the Base64 text into the buffer. A unit of 128 or more raises 'zorn' 210, a failed
    // allocation 'zorn' 100; malformed text gives false without an error.
    bool DecodeBase64(VMemoryBuffer<1024, 2, 1048576, VCppMemMgr>& outBuffer, bool inURL = false) const;
    // The string becomes the decoded bytes read in the set (false when they are not clean text of
    // the set); an empty or null string is left and gives true; text that does not decode leaves
    // the string as it was.
    bool DecodeBase64(CharSet inCharSet, bool inURL = false);
    // The CoreFoundation bridge (MAC_RetainCFStringCopy, MAC_FromCFString) has no Linux
    // counterpart and is not built.

    // ---- Stream form (VString_Stream.cpp) ----
    // int32 minus the length (0 when empty), in the stream's byte order, then the UTF-16 units;
    // no terminator. Returns the stream's error; the parameter is not used.
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    // Reads that form, or the older one with a positive length, a form code (1 or 2: length + 1
    // units follow, the last a terminator; other codes: length + 1 bytes, skipped, the string
    // left). A stream that ends early gives the units that could be read and its error. Lengths
    // are checked against what the stream can still deliver before anything is allocated; a
    // stream that cannot tell is read in bounded chunks. A string that cannot grow is cleared
    // (the older form: left, its record skipped) and 'zorn' 107 is returned when the stream
    // itself reports no error, so that the failure is not taken for success.
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
    // 2 x length + 10 for a non-empty string (6 bytes more than it writes: kept as designed, so it
    // over-reports), 4 for an empty one.
    size_t GetSizeInStream() const;

    // Count of units before the first 0 unit.
    static int32_t UniCStringLength(const UniChar* inString);

    // Numbers read from the text (VString_Number.cpp). Readers never fail: text without a number
    // gives 0.
    // Every unit 0-9, A-F, a-f is a hexadecimal digit (64 bits, wrapping); other units are skipped,
    // so "0x1F" gives 31.
    int64_t GetHexLong() const;
    // Every digit accumulates (64 bits, wrapping); a '-' met while the value is still 0 makes it
    // negative; the decimal separator ends the scan; other units are skipped ("12-3" gives 123).
    int64_t GetLong8() const override;
    // GetLong8 when it fits in 32 bits, else 0.
    int32_t GetLong() const override;
    // The C library's strtod in the C locale ('.' is the decimal separator whatever the locale).
    double GetReal() const override;
    // GetReal; *outOverflow (when given) tells whether the library reported a range error with a
    // zero or infinite result.
    double GetRealCheckOverflow(bool* outOverflow) const;

    // ---- Numbers, booleans and four-character codes as text (VString_Number.cpp) ----
    // Decimal writers build the digits in a small buffer and append them in one piece; they
    // fail only when the string cannot grow ('zorn' 107, false, string unchanged).
    bool AppendLong(int32_t inValue);
    bool AppendLong8(int64_t inValue);
    bool AppendULong8(uint64_t inValue);
    // The C library's "%.14G" ("NAN", "INF", "-INF" for the non-finite values).
    bool AppendReal(double inValue);
    // The setters empty the string first as Printf does (an own writable heap buffer below 33
    // units is kept, anything else is given up) and leave it not null.
    void FromLong(int32_t inValue) override;
    void FromWord(int16_t inValue) override;
    void FromByte(int8_t inValue) override;
    void FromLong8(int64_t inValue) override;
    virtual void FromULong8(uint64_t inValue);
    void FromReal(double inValue) override;
    // "true" or "false".
    void FromBoolean(bool inValue) override;
    // Upper-case hexadecimal digits of the value taken as unsigned 64, 32 or 8 bits: no leading
    // zeros ("0" for zero), or with inPrefixed "0x" and the digits padded with '0' to 16, 8 or 2.
    // The string is cleared when its buffer cannot be had.
    void FromHexLong(long long inValue, bool inPrefixed = false);
    void FromHexLong(int inValue, bool inPrefixed = false);
    void FromHexLong(unsigned char inValue, bool inPrefixed = false);
    void FromHexLong(char inValue, bool inPrefixed = false);
    // Appends the code's four bytes, most significant first, each as one unit when it is
    // printable ASCII (0x20 to 0x7E); other bytes are skipped.
    bool AppendOsType(OsType inCode);
    void FromOsType(OsType inCode);
    // Appends the text of any single value (its GetString).
    bool AppendValue(const VValueSingle& inValue);

    // Readers. GetWord is GetLong when it fits in 16 bits, else 0.
    int16_t GetWord() const override;
    // Whether the current task's international manager finds the text equal to "true", accents
    // not counting (case follows the manager's collation: "TRUE" is true); "1" is false.
    bool GetBoolean() const override;
    // ECMAScript's parseInt: leading white space is skipped, then a sign; radix 0 is 10 unless
    // "0x"/"0X" follows the sign (then 16, as radix 16 skips that prefix too); a radix outside 2 to
    // 36 gives NaN. Digits (0-9, a-z, A-Z below the radix) accumulate in a double up to the first
    // other unit; none gives NaN. "-0" gives -0.0.
    double ParseInt(int32_t inRadix = 0) const;
    // The text's UTF-8 bytes, padded with spaces to four, first byte most significant; 0 when the
    // text takes more than four bytes.
    OsType GetOsType() const;

    // ---- Durations and times as text (VString_Number.cpp) ----
    // The target parses the text by its own FromString; the From forms take the source's
    // GetString.
    void GetDuration(VDuration& outValue) const override;
    void FromDuration(const VDuration& inValue) override;
    void GetTime(VTime& outValue) const override;
    void FromTime(const VTime& inValue) override;

    // ---- printf formatting and placeholders (VString_Format.cpp) ----
    // printf formatting into the string, with three object conversions added: %S a VString, %A
    // any VValueSingle (its GetString), %V any VObject (its DebugDump). Flags, widths and
    // precisions before S, A and V are read (a '*' takes its argument) and ignored. Every other
    // conversion is the C library's; its arguments are taken by their real types (length
    // modifiers hh h l ll L j z t q), so object pointers are found after any mix of them.
    // An object pointer is checked by VCppMemMgr::CheckVObject: it must be non-null and aligned,
    // and, in own-allocator mode, a pointer into the manager's memory must be a live block asked
    // for as virtual; any other wild or dangling pointer is NOT caught and will crash. A null
    // pointer gives "@@invalid VObject@@"; an object of the wrong class "@@invalid VString@@" or
    // "@@invalid VValueSingle@@". %n is refused: it is copied as text, takes no argument and
    // writes nothing. Positional arguments ("%1$d", and "%*2d", which the C library would read
    // as one) are not supported: they are copied as text, as are unknown and unfinished
    // conversions. The bytes produced (object texts not counted) are cut
    // after 1023, at a UTF-8 character boundary, and nothing follows the cut; a zero byte
    // (%c of 0) ends the output as well. Bytes are decoded as AppendCString does.
    // Printf and VPrintf empty the string first (see FromLong); AppendPrintf appends. The
    // compiler cannot check these formats: for it %S and %A mean a wide string and a real.
    void Printf(const char* inFormat, ...);
    void VPrintf(const char* inFormat, va_list inArgs);
    VString& AppendPrintf(const char* inFormat, ...);
    // Replaces each placeholder "{name}" by the text of the object's property of that name. A
    // "{{" is skipped with its partner, as is a "}}"; a name holding a space is left as it is;
    // scanning resumes after an inserted text (no recursive expansion). A property that is
    // absent, null or undefined removes the placeholder with removeAbsent, else leaves it. A null
    // or empty object, or a string below two units, changes nothing; so does any object while no
    // JSON library is installed.
    VString& Format(const VJSONObject* inObject, bool inRemoveAbsent);
    // The same with a bag's attributes (each read as its text); a null bag or one with neither
    // attributes nor elements changes nothing. Defined with the bags (VString_BagFormat.cpp).
    VString& Format(const VValueBag* inBag, bool inRemoveAbsent);
    // Expands "{{path}}" markers of this template into outResult (appended): the path is read
    // with the object's GetPropertyWithPath; a value that is neither null nor undefined is
    // appended as its text, and the marker disappears otherwise. Pieces are found with the
    // collated GetSubStrings.
    void FormatWithTemplate(const VJSONObject* inObject, VString& outResult) const;

protected:
    // The printf engine: appends the formatted text (see Printf).
    void _Printf(const char* inFormat, va_list inArgs);
    // The placeholder scan of Format: inLookup gives a name's text, false when absent.
    VString& _FormatPlaceholders(const std::function<bool(const VString&, VString&)>& inLookup,
                                 bool inRemoveAbsent);
    // Empties the string before a numeric setter or Printf: an own writable heap buffer below 33
    // units is kept with length 0; any other heap buffer is given up for the inline one.
    void _EmptyForFormat();

    struct InlineStorage
    {
    };
    // For VStr and other classes with inline storage of their own: inInlineBuffer holds
    // inInlineCapacity units and the terminator, and its owner zero-fills it.
    VString(InlineStorage, UniChar* inInlineBuffer, int32_t inInlineCapacity);

    // Points the string at a buffer, releasing its present one; inBits says who owns the buffer and
    // how it may be used.
    void _SetBuffer(UniChar* inBuffer, int32_t inLength, int32_t inCapacity, uint8_t inBits);
    // Takes ioOther's (non-inline) buffer with inBits; ioOther returns to its inline buffer.
    void _TakeBuffer(VString& ioOther, uint8_t inBits);

    // Gives the string a buffer of its own for inNewLength units (keeping min(length, new length)
    // units when inKeepContent). False, with 'zorn' 107 raised, when that cannot be done.
    bool _ReallocBuffer(int32_t inNewLength, bool inKeepContent);
    // Whether the present buffer may be written in place for inNewLength units.
    bool _IsWritable(int32_t inNewLength) const;
    // Makes the buffer writable for inNewLength units, keeping the content.
    bool _EnsureWritable(int32_t inNewLength, bool inKeepContent = true);
    // Empties the string without touching the null and dirty flags.
    void _Clear();

    void DoNullChanged() override;

private:
    static constexpr uint8_t kBufferBits = kBorrowed | kCallerWritable | kUncounted;

    // A heap buffer with a count, whether this string holds a reference on it or borrows it.
    bool _HasCountedBuffer() const { return !IsInline() && (fFlags & kUncounted) == 0; }
    void _ReleaseBuffer();
    void _ResetToInline();
    // Takes over ioOther's content (a heap buffer with its bits, or a copy of inline text) and
    // leaves ioOther empty on its inline buffer. False, both unchanged, when the copy fails.
    bool _TakeContent(VString& ioOther);
    // Sets the text to a copy of the units (which may lie in this string's own buffer).
    bool _CopyUnits(const UniChar* inUnits, int32_t inLength);
    void _SetBufferBits(uint8_t inBits) { fFlags = static_cast<uint8_t>((fFlags & ~kBufferBits) | inBits); }
    // Replaces inRemove units at 0-based inPos with inCount units (which may lie in this
    // string's own buffer). False, unchanged, when the new length cannot be had.
    bool _Splice(int32_t inPos, int32_t inRemove, const UniChar* inUnits, int32_t inCount);

    UniChar* fString;
    int32_t fLength = 0;
    int32_t fMaxLength;
    int32_t fInlineCapacity;
    UniChar* fInlineBuffer;
    UniChar fOwnInline[1] = {0}; // inline storage of a plain VString: the terminator only
};

// A string with inline room for N units.
template <int N>
class VStr : public VString
{
    static_assert(N > 0);

public:
    VStr() : VString(InlineStorage{}, fBuffer, N) {}
    VStr(const VString& inOther) : VStr() { FromString(inOther); }
    VStr(const VStr& inOther) : VStr() { FromString(inOther); }
    VStr(const UniChar* inUniCString) : VStr() { FromUniCString(inUniCString, -1); }
    VStr(const char* inCString) : VStr() { FromCString(inCString); }
    VStr& operator=(const VString& inOther)
    {
        FromString(inOther);
        return *this;
    }
    VStr& operator=(const VStr& inOther)
    {
        FromString(inOther);
        return *this;
    }
    ~VStr() override = default;

private:
    UniChar fBuffer[N + 1] = {0};
};

// A copy of the first string with the units of the second appended.
VString operator+(const VString& inFirst, const VString& inSecond);

// ---- Numbers and four-character codes as strings (VString_Number.cpp) ----
// A string holding the four bytes of a code, most significant first, decoded as UTF-8.
class VOsTypeString : public VStr<4>
{
public:
    explicit VOsTypeString(OsType inCode);
};

// New strings with the decimal text of the number.
VString ToString(int inValue);
VString ToString(long long inValue);
VString ToString(unsigned long long inValue);
VString ToString(unsigned long inValue);
// The string's text in UTF-8; an empty string gives an empty byte string.
std::string to_string(const VString& inString);

// ---- printf formatting (VString_Format.cpp) ----
// A new string holding the formatted text (see VString::Printf).
VString Printf(const char* inFormat, ...);

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr50 = VStr<50>;
using VStr63 = VStr<63>;
using VStr80 = VStr<80>;
using VStr100 = VStr<100>;
using VStr255 = VStr<255>;
using VStr1000 = VStr<1000>;

// A string over a constant UTF-16 literal, borrowed and uncounted: no copy until a write.
class CVSTR_struct : public VString
{
public:
    explicit CVSTR_struct(const char16_t* inLiteral);
};

} // namespace zorn

// A VString over a UTF-16 literal: CVSTR("text").
#define CVSTR(text) ::zorn::CVSTR_struct(u"" text)
