// VJSONImporter: reads JSON text (UTF-16, in a VString) into a VJSONValue with its objects and
// arrays. Lenient by default (unquoted names, bare words as strings, unterminated strings),
// strict by option; each syntax error is a specific error followed by 'zorn' 550 with the source
// name, line and position.
//
// Choices and limits:
// - Options: 0x1 a failed parse gives undefined (else the top container as read up to the error,
//   without the member or element that failed); 0x2 strict (below); 0x4 quiet: 551 and 554 with
//   their 550 are not pushed (the result is still 550); 0x8 records the line and column of every
//   property path in the path table (GetPathsLines), with the end of the outermost object under
//   "}"; 0x40 quoted "!!...!!" texts become dates (with 0x200 only "!!dddd-dd-dd!!"); 0x80 quoted
//   "dddd-dd-dd" texts become dates; 0x100 every object and array read gets the importer's one
//   storage locker.
// - Lenient tokens: every unit below 33 separates tokens; a bare word runs up to such a unit or
//   to one of " , : [ ] { }. Escapes \b \f \n \r \t and \u (four units: a first non-hex unit
//   counts as 0, a later one is skipped); any other escaped unit is itself. A raw NUL inside a
//   string is dropped. A bare word that begins with "-" or a digit must be a number in JSON's
//   form (U+2212 may sign the exponent) in every mode, else 551 with expected "+- 0-9 eE".
// - Strict (0x2) accepts exactly the RFC 8259 grammar: besides unterminated strings (552), bare
//   words other than null, true, false and numbers, and unquoted names (551), it refuses white
//   space other than space, tab, LF and CR; units U+0000-U+001F inside strings; escapes other than
//   \" \\ \/ \b \f \n \r \t and \u with four hexadecimal digits; U+2212 in numbers; anything but
//   white space after the value; and the empty text. Each gives 551 (554 at the end of the text)
//   with "found" and "expected", then 550. Lone surrogate escapes are admitted, as the grammar
//   admits them. Control units are shown in "found" as U+XXXX.
// - Lines: LF, CR LF and a lone CR each end a line. The 550 report counts from the first unit
//   above a space of the failing token: line = 1 + the larger of the LF and CR counts before it,
//   position = 1 + the units since the last LF (when LFs outnumber CRs) or else the last CR, so
//   a CR LF text reports one position more than its LF twin.
// - Numbers: a bare word in JSON's ASCII form is checked and converted in the scan that finds it
//   (digits eight at a time). When its digits make at most 2^53 and its power of ten is within
//   +-22, the value is that integer times or divided by an exact power of ten, one rounding;
//   any other number goes through std::from_chars, and through strtod in the C locale where that
//   reports a range error (so underflow gives 0 or a subnormal and overflow an infinity). Either
//   way the same double, bit for bit, as VString::GetReal gives for the text. Words of any other
//   shape (U+2212 in the exponent, errors) take the general word path.
// - Nesting: each container level holds a StJSONNestingGuard; too deep a text gives 'zorn' 108,
//   then 550, never a crash.
// - Speed: the text is scanned in place; names are interned per importer and every value is made
//   by VJSONBuilder, containers being filled at their end from the members gathered so far.
// - An object whose "__PRIVATE_BINARY_OBJECT" member is a string is replaced by the value that
//   VJSONBinaryObject decodes from it, when a compact stream reader is registered; a reader's error
//   is the parse result.
// - A byte-order mark (U+FEFF) at the start of the text is skipped by every entry point, in every
//   mode: it is never a value, and lines and positions count from behind it. Bytes come in through
//   DecodeUTF8 (files): ill-formed UTF-8 is refused in strict mode, with its position, and
//   becomes U+FFFD otherwise.
// - An importer reads one text once, on one task.
#pragma once

#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zorn
{

class IFile;
class VStorageLocker;

// The general syntax error, pushed after each of the four below; "source", "line", "position".
constexpr VError VE_JSON_MALFORMED = MakeVError(kCOMPONENT_ZORN, 550);
// A token that does not fit; "found", "expected".
constexpr VError VE_JSON_INVALID_TOKEN = MakeVError(kCOMPONENT_ZORN, 551);
// Strict: a string not closed before the end of the text; "token".
constexpr VError VE_JSON_UNTERMINATED_STRING = MakeVError(kCOMPONENT_ZORN, 552);
// A comma directly before "}" or "]"; "token".
constexpr VError VE_JSON_TRAILING_COMMA = MakeVError(kCOMPONENT_ZORN, 553);
// The end of the text where a token was expected; "found" (empty), "expected".
constexpr VError VE_JSON_UNEXPECTED_END = MakeVError(kCOMPONENT_ZORN, 554);

// The tokens; the codes are those of the error texts' table (VJSONImporter::GetTokenText).
enum JsonToken : int32_t
{
    jsonEnd = 0,
    jsonBeginObject = 1,
    jsonEndObject = 2,
    jsonBeginArray = 3,
    jsonEndArray = 4,
    jsonComma = 5,
    jsonColon = 6,
    jsonString = 7, // a quoted string or a bare word
    jsonNotProduced = 8,
};

class VJSONImporter : public VObject
{
public:
    static constexpr uint32_t kUndefinedOnError = 0x1;
    static constexpr uint32_t kStrict = 0x2;
    static constexpr uint32_t kQuiet = 0x4;
    static constexpr uint32_t kPathsAndLines = 0x8;
    static constexpr uint32_t kMarkedDates = 0x40;
    static constexpr uint32_t kISODates = 0x80;
    static constexpr uint32_t kStorageLocker = 0x100;
    static constexpr uint32_t kMarkedDatesOnly = 0x200;

    // Parameter names of the errors.
    static constexpr const char16_t* kParamSource = u"source";
    static constexpr const char16_t* kParamLine = u"line";
    static constexpr const char16_t* kParamPosition = u"position";
    static constexpr const char16_t* kParamFound = u"found";
    static constexpr const char16_t* kParamExpected = u"expected";
    static constexpr const char16_t* kParamToken = u"token";
    // The "expected" texts.
    static constexpr const char16_t* kExpectedValue = u"\" 0-9 null true false { [";
    static constexpr const char16_t* kExpectedElement = u"\" 0-9 null true false { [ ]";
    static constexpr const char16_t* kExpectedNumber = u"+- 0-9 eE";
    static constexpr const char16_t* kExpectedName = u"\"";
    static constexpr const char16_t* kExpectedNameOrEnd = u"\" }";
    static constexpr const char16_t* kExpectedColon = u":";
    static constexpr const char16_t* kExpectedObjectNext = u"} ,";
    static constexpr const char16_t* kExpectedArrayNext = u"] ,";
    // Strict mode's own: the escapes, the digits of \u, and the end of the text.
    static constexpr const char16_t* kExpectedEscape = u"\" \\ / b f n r t u";
    static constexpr const char16_t* kExpectedHexDigit = u"0-9 A-F a-f";
    static constexpr const char16_t* kExpectedEndOfText = u"end of text";
    static constexpr const char16_t* kExpectedUTF8 = u"UTF-8";

    // The name under which a caller may attach the path table to a result, and the keys of a path
    // record.
    static constexpr const char16_t* sNameOfThePropertyWithPathsAndLines = u"__symbols";
    static constexpr const char16_t* sLineKey = u"line";
    static constexpr const char16_t* sOffsetKey = u"offset";
    // The attribute name of scalar array elements in value bags.
    static constexpr const char16_t* sFakeArrayElementName = u"____FakeArrayElement";

    // Copies the text (sharing its buffer); option 8 creates the empty path table.
    VJSONImporter(const VString& inText, uint32_t inOptions);
    ~VJSONImporter() override;
    VJSONImporter(const VJSONImporter&) = delete;
    VJSONImporter& operator=(const VJSONImporter&) = delete;

    // Reads one value. Without option 2 the text after it is not read.
    VError Parse(VJSONValue& outValue);
    static VError ParseString(const VString& inText, VJSONValue& outValue, uint32_t inOptions);
    // A null file sets undefined and succeeds; otherwise the file's content (a read error is
    // returned unchanged) decoded by DecodeUTF8 with these options (line endings kept; a decoding
    // error gives undefined), parsed as by Parse with the file's POSIX path as the source name.
    // Built with the file back end.
    static VError ParseFile(IFile* inFile, VJSONValue& outValue, uint32_t inOptions);
    // The text of UTF-8 bytes for the importer (a leading byte-order mark is kept as U+FEFF, which
    // the importer skips, once, as it does in every text). Each ill-formed
    // sequence (its maximal part, as ICU and the Unicode standard take it) becomes U+FFFD; with
    // option 2 (strict) the first one is refused instead: 551 with "found" (its bytes, as
    // "0xC3 0x28") and "expected" "UTF-8", then 550 at its line and position in the decoded text,
    // outText left empty. Pushes nothing on success.
    static VError DecodeUTF8(const void* inBytes, size_t inSize, uint32_t inOptions,
                             const VString& inSourceName, VString& outText);

    // Reads one object straight into the bag (VJSONImporter_Bag.cpp): members become attributes
    // ("__CDATA" the character data), objects child bags marked "____objectunic", arrays lists of
    // child bags (scalars in "____FakeArrayElement"; an array inside an array a child bag whose
    // VValueBag::kJSONArrayMarker names the list, under the array's own name, of its elements). Bare words
    // with '.', 'e' or 'E', and integers beyond int64, are reals; other words that are no number are strings
    // (strict: 551). Nesting is guarded as Parse's: 108, then 550. An object carrying a "Blob" object
    // ("__PRIVATE_BINARY_OBJECT", decoded as Parse decodes it) becomes a blob attribute (in an array, a
    // "____FakeArrayElement" blob); the outermost object keeps it under "__PRIVATE_BINARY_OBJECT".
    VError JSONObjectToBag(class VValueBag& ioBag);

    // The tokenizer: the next token, with its text (quoted strings unescaped) and whether it was
    // quoted. A failure (strict: an unterminated string) gives jsonEnd with 550 in *outError.
    JsonToken GetNextJSONToken(VString& outToken, bool* outIsString, VError* outError);
    JsonToken GetNextJSONToken(VError* outError);

    // The path table (option 8; null otherwise), owned by the importer.
    VJSONObject* GetPathsLines() const { return fPathTable; }

    // The names errors give the source ("" for none); the path of a file.
    void SetSourceName(const VString& inName) { fSourceName = inName; }
    const VString& GetSourceName() const { return fSourceName; }

    // The text of a token in error reports.
    static const char16_t* GetTokenText(JsonToken inToken);

private:
    // The tokenizer: leaves the token's units in fTokenUnits/fTokenLength (into the text, or into
    // fScratch when the string had escapes).
    JsonToken _NextToken(VError* outError);
    JsonToken _ScanString(VError* outError);
    void _ScanWord();
    // Decodes a string with escapes from fCursor (just behind the first backslash's run start
    // inRunStart) into fScratch; the cursor ends behind the closing quote.
    JsonToken _ScanEscapedString(const UniChar* inRunStart, VError* outError);
    JsonToken _UnterminatedString(VError* outError);
    // A bare word that is a number in JSON's ASCII form, scanned and converted in one pass: true
    // with the word in fTokenUnits and its value in fTokenNumber; false, nothing consumed, for any
    // other word (which _ScanWord and _ReadNumber then take, errors included).
    bool _ScanNumber(const UniChar* inStart);
    void _CountLineBreak(const UniChar* inUnit);

    // Values read go on the stacks: a member's (with the name in ioKey, moved from) or, with a null
    // ioKey, an element's. A value that failed is not put, except the outermost container.
    VError _ParseValue(JsonToken inToken, const char16_t* inExpected, VJSONKey* ioKey);
    VError _ParseObject(VJSONKey* ioKey);
    VError _ParseArray(VJSONKey* ioKey);
    VError _StringToValue(const char16_t* inExpected, VJSONKey* ioKey);
    VError _ReadNumber(std::u16string_view inWord, VJSONKey* ioKey);
    bool _ReadDate(std::u16string_view inUnits, VJSONKey* ioKey);
    void _Emit(VJSONKey* ioKey, VJSONValue&& inValue);
    // After a member or an element: true when a comma announces another; false at inClose or on
    // an error (in outError, the invalid token's expected text inExpected).
    bool _NextAfterItem(JsonToken inClose, const char16_t* inExpected, VError& outError);
    // The interned key of a name.
    VJSONKey _Key(std::u16string_view inName);
    VError _DecodeBinaryObject(VJSONValue& ioValue);
    VError _ReadBagMembers(class VValueBag& ioBag);
    VError _ReadBagArray(class VValueBag& ioBag, const VString& inName);
    VError _BagScalar(class VValueBag& ioBag, const VString& inName, const VString& inToken, bool inIsString);
    void _GiveLocker(VJSONObject* inObject, VJSONArray* inArray);
    void _RecordPath(int32_t inOffset);

    // Errors.
    VError _ThrowErrorMalformed();
    VError _ThrowErrorInvalidToken(std::u16string_view inFound, const char16_t* inExpected);
    VError _ThrowErrorWithToken(VError inError, const char16_t* inToken);
    // The first unit above a space at the token start, as text (empty at the end of the text).
    std::u16string _FoundAtTokenStart() const;
    // The token's text for "found": a bare word's units (control units as U+XXXX), else the text
    // of the token's code.
    std::u16string _FoundToken(JsonToken inToken) const;

    // The fields of the importer.
    VString fText;
    uint32_t fOptions;
    int32_t fTextLength;
    const UniChar* fCursor;
    const UniChar* fTextStart;
    const UniChar* fTokenStart;
    VString fSourceName;
    int32_t fBagDepth = 0;     // the value-bag reader's nesting
    bool fBagReadBlob = false; // the object just read into a bag carried a blob
    VString fCurrentPath;
    VJSONObject* fPathTable = nullptr; // one reference
    int32_t fLine = 1;
    const UniChar* fLineStart;
    VRefPtr<VStorageLocker> fStorageLocker;
    bool fMarkedDatesOnly;

    // The scan.
    const UniChar* fTextEnd;
    const UniChar* fTokenUnits = nullptr;
    int32_t fTokenLength = 0;
    bool fTokenIsString = false;
    bool fTokenIsNumber = false; // a bare word already converted by _ScanNumber
    double fTokenNumber = 0;
    std::u16string fScratch;
    // The builder, and the members and elements of the open containers, gathered until each
    // container ends.
    VJSONBuilder fBuilder;
    std::vector<VJSONObject::OwnProperty> fMembers;
    std::vector<VJSONValue> fElements;
    // The containers open in this parse.
    int32_t fLevel = 0;
};

} // namespace zorn
