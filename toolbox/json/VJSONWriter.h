// VJSONWriter: writes a JSON value with its objects and arrays as JSON text, compact by default
// and tab-indented with option 0x8. By option it refuses or marks what plain JSON cannot carry.
//
// Choices and limits:
// - Options (one word, fixed at construction; the whole word goes on to string escaping and to
//   the time's JSON text, which read their own bits): 0x1 quotes strings and names (without it
//   {"a":"x"} is written {a:x}); 0x8 pretty form (one member or element per line, tabs, ": ");
//   0x10 strings raw; 0x80 dates as local dates; 0x100 a native object with a binary signature
//   fails with 'zorn' 911; 0x200 and 0x1000 read by the time text; 0x400 escapes & and ';
//   0x2000 an object met again while open is written "\"[circular]\"" instead of 'zorn' 900;
//   0x4000 stops after about 512 characters and appends "..." once; 0x8000 an object that is not
//   generic fails with 'zorn' 914; 0x10000 an object written twice fails with 'zorn' 916. Arrays
//   met again while open always fail with 900.
// - Null and undefined write "null"; a null container pointer writes "undefined"; numbers go
//   through VReal::RealToJSONString (non-finite numbers are "null"); a date is written as the
//   time of 00:00 UTC of its day (local midnight with 0x80).
// - Every Stringify call replaces its output. The text is written into chunks of growing size (at
//   most 64 KB each, never moved), with strings escaped and numbers formatted straight into them,
//   then joined into the output string with one copy. On any error (running out of memory
//   included: 'zorn' 107) the output is left as it was and the open path and level are restored.
// - The stop of 0x4000: each container adds the length of every member or element text it wrote
//   (nested texts are counted again by their container), an array stops after the element at
//   which 513 or more were already counted, an object after the member at which more than 512
//   were. The open containers stay unclosed and "..." follows once, at the innermost stop.
// - Native implementations are asked first (IJSON_Stringify) and may use the level operations
//   below to indent their own text.
// - Members come from the ordered property iterator with option 0: the implementation's names,
//   the own properties in insertion order, then the class's getters (which run). An object with
//   no implementation, no getters and no locker, for which that walk is its own properties in
//   order, is read in place without building an iterator (twice as fast on documents of many
//   small objects). An object is "{}" when IsEmpty says so.
// - Locks: the writer holds none of its own. Plain containers are read in place; a shared one
//   (with a storage locker) is read one member or element at a time under its read lock
//   (GetProperty, GetAt), so another task holding its locker may change it meanwhile: the text is
//   then made of the values as each was read, never of freed ones.
// - Depth is bounded by StJSONNestingGuard: too deep a value gives 'zorn' 108.
// - A writer is meant for one value and one task at a time: the open path, the seen set, the
//   character count and the ellipsis flag carry over between calls on the same writer.
#pragma once

#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <set>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zorn
{

class VDBLanguageContext;
class VJSONObject;
class VJSONArray;
class IFile;

class VJSONWriter : public VObject
{
public:
    static constexpr uint32_t kQuoted = 0x1;
    static constexpr uint32_t kPretty = 0x8;
    static constexpr uint32_t kRaw = 0x10;
    static constexpr uint32_t kLocalDates = 0x80;
    static constexpr uint32_t kRefuseBinary = 0x100;
    static constexpr uint32_t kShortTimes = 0x200;
    static constexpr uint32_t kEscapeAmpersandApostrophe = 0x400;
    // VJSONValue::Stringify only: what the text cannot carry goes in the compact form, in Base64.
    static constexpr uint32_t kBinaryFallback = 0x800;
    static constexpr uint32_t kDateMarkers = 0x1000;
    static constexpr uint32_t kCircularText = 0x2000;
    static constexpr uint32_t kTruncate = 0x4000;
    static constexpr uint32_t kGenericOnly = 0x8000;
    static constexpr uint32_t kRefuseRepeats = 0x10000;
    // The number of characters after which option 0x4000 stops.
    static constexpr uint32_t kTruncateCount = 512;

    VJSONWriter(VDBLanguageContext* inContext, uint32_t inOptions);
    explicit VJSONWriter(uint32_t inOptions) : VJSONWriter(nullptr, inOptions) {}
    ~VJSONWriter() override;

    VError StringifyValue(const VJSONValue& inValue, VString& outText);
    VError StringifyObject(const VJSONObject* inObject, VString& outText);
    VError StringifyArray(const VJSONArray* inArray, VString& outText);

    // Writes the value into the file as UTF-8 with a writer of these options and no language
    // context. A null file does nothing and succeeds. When the writer fails its error is returned
    // and the file is not written (an existing file keeps its content); otherwise the result of
    // storing the text. Built with the file back end.
    static VError StringifyValueToFile(IFile* inFile, const VJSONValue& inValue, uint32_t inOptions);

    // One more open level; in the pretty form the line prefix grows by the indent unit.
    void IncrementLevel();
    void DecrementLevel();
    // In the pretty form, the line prefix (a line feed and one tab per open level) at the front or
    // the end of ioText; nothing otherwise.
    void InsertIndentString(VString& ioText) const;
    void AppendIndentString(VString& ioText) const;

    uint32_t GetOptions() const { return fOptions; }
    int32_t GetLevel() const { return fLevel; }
    VDBLanguageContext* GetLanguageContext() const { return fContext; }

private:
    // The text being written (defined in the source).
    class TextOut;

    // Append the text of one value or container to ioOut. On an error ioOut may hold a partial
    // text; the public operations write into a separate buffer and drop it. Running out of memory
    // while the text grows throws std::bad_alloc, which the public operations turn into 'zorn' 107.
    VError _AppendValue(const VJSONValue& inValue, TextOut& ioOut);
    VError _AppendObject(const VJSONObject* inObject, TextOut& ioOut);
    VError _AppendArray(const VJSONArray* inArray, TextOut& ioOut);
    // inPlain: the object has no implementation, no getters and no locker, so its members are its
    // own properties, read in place.
    VError _AppendMembers(const VJSONObject* inObject, bool inPlain, TextOut& ioOut, bool& outTruncated);
    VError _AppendMember(std::u16string_view inName, const VJSONValue& inValue, TextOut& ioOut,
                         bool& outTruncated);
    void _AppendJSONString(std::u16string_view inUnits, TextOut& ioOut) const;
    VError _AppendDate(const VJSONValue& inValue, TextOut& ioOut);
    // Counts a written member or element text; true when the writing must stop after it.
    bool _CountAndCheckStop(size_t inLength, uint32_t inThreshold);
    void _CloseContainer(TextOut& ioOut, bool inTruncated, UniChar inClose);
    bool _IsOpen(const void* inContainer) const;
    void _PushOpen(const void* inContainer);
    void _PopOpen();
    template <class TWrite>
    VError _WriteAndReplace(TWrite&& inWrite, VString& outText);
    void _AppendIndent(TextOut& ioOut) const;
    // The pretty form's line prefix: a line feed and one tab per open level.
    VString _GetLinePrefix() const;

    VDBLanguageContext* fContext;
    uint32_t fOptions;
    int32_t fLevel = 0;
    std::vector<const void*> fOpen;
    // Mirrors fOpen once the path is deep, so that a membership test stays constant.
    std::unordered_set<const void*> fOpenSet;
    std::set<const VJSONObject*> fSeen;
    uint32_t fCharacterCount = 0;
    bool fEllipsisWritten = false;
};

} // namespace zorn
