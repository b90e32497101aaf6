// VJSONValue: the value of the JSON object model. A small tagged value with no virtual functions:
// null, false, true, a string, a number (IEEE double), an object or an array (held by one
// reference), undefined, or a calendar date (the UTC day only, packed as year << 16 | month << 8 |
// day, year signed). Strings share the counted UTF-16 buffer of VString in its VInlineString form,
// so copying a string value copies no text; a string without a buffer is the empty string.
//
// Stamps: every value carries a 32-bit stamp from one process-wide counter. Constructors (the
// copy constructor too) and copy assignment take the next stamp; moves carry the source's stamp;
// the setters and Clear keep the value's stamp. Containers store copies, so the stamp of a stored
// property or element tells a reader whether it was replaced since it last looked. The counter
// wraps after 2^32 stamps and stamps are never identities. It is atomic, so tasks that make values
// at the same time never lose or share an increment.
//
// Size: 24 bytes (type, stamp, and an 8-byte payload or a string's buffer, length and capacity).
// A string keeps no tag of its own: nothing ever reads one, so the record holds just what its
// buffer needs.
//
// Order (CompareTo): values of one type compare by content (strings by the value model's string
// comparison with all the options: like patterns, begins-with, diacritical and the international
// manager, the current task's when the options name none; numbers within the options' epsilon, containers by
// identity and then address, dates by the packed value); null and undefined are equal to each other;
// otherwise the smaller type code is the smaller value. DeepEqualTo compares containers by content; different
// types are never deep-equal (null and undefined neither). On cyclic structures it ends: a pair of containers
// met again on the current path of the comparison counts as equal. Walks into nested containers (deep
// comparison, an array's text, cloning) are bounded by StJSONNestingGuard: too deep a tree gives
// 'zorn' 108 (false for a comparison) rather than exhausting the stack. Spreading a tree's change
// stamp and dropping a tree do not recurse at all.
//
// Builders (VJSONBuilder) give each value they make one stamp from a block taken with NextStamps,
// and store by move, so a value read by a parser costs one stamp in all.
//
// A moved-from value keeps its type and loses its payload: a string becomes the empty string, and
// an object or array value becomes null (a container type without a container would be unusable).
//
// Dates and times (VJSONValue_Time.cpp): a VTime stored as a date keeps its UTC day and drops the
// time of day; a date reads back as that day at 00:00:00.000 UTC, and its text is the time's JSON
// text of that moment ("2026-12-09").
//
// The text writer is VJSONWriter (Stringify); the importer and files are other layers.
#pragma once

#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <atomic>
#include <cstdint>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace zorn
{

class VJSONObject;
class VJSONArray;
class VJSONStamp;
class VCompareOptions;
class VValueSingle;
class VTime;
class IFile;

// The value types. The codes are stored in the compact stream form and ordered by CompareTo.
enum JSONType : int32_t
{
    JSON_null = 0,
    JSON_false = 1,
    JSON_true = 2,
    JSON_string = 3,
    JSON_number = 4,
    JSON_object = 5,
    JSON_array = 6,
    JSON_undefined = 7,
    JSON_date = 8,
};

// Pairs of containers (this side, other side) on the current path of a deep comparison.
using VJSONVisitedPairs = std::set<std::pair<const void*, const void*>>;

class VJSONValue
{
public:
    // Undefined.
    VJSONValue() : VJSONValue(JSON_undefined) {}
    // A value of the type with its default payload: the empty string (no buffer), 0, date 0, or a
    // new empty object or array that this value holds the only reference to.
    explicit VJSONValue(JSONType inType);
    // Retains the container; a null pointer gives null.
    explicit VJSONValue(VJSONObject* inObject);
    explicit VJSONValue(VJSONArray* inArray);
    // Null for a null VString, else a string sharing its buffer (inline text is copied once into a
    // counted buffer).
    explicit VJSONValue(const VString& inString);
    // A string taking one more reference on the record's buffer.
    explicit VJSONValue(const VInlineString& inString);
    explicit VJSONValue(double inNumber);
    // Null for a null time, else the date of its UTC day.
    explicit VJSONValue(const VTime& inTime);
    // Booleans are made with JSON_true / JSON_false or SetBool: a bool must not become a number.
    VJSONValue(bool) = delete;

    VJSONValue(const VJSONValue& inOther);
    // A copy with the given stamp, for containers that take stamps for all their copies at once
    // (NextStamps).
    VJSONValue(const VJSONValue& inOther, uint32_t inStamp)
        : fType(inOther.fType), fStamp(inStamp), fPayload(inOther.fPayload)
    {
        if (fType == JSON_string || fType == JSON_object || fType == JSON_array)
        {
            _CopyPayloadFrom(inOther);
        }
    }
    VJSONValue(VJSONValue&& inOther) noexcept
        : fType(inOther.fType), fStamp(inOther.fStamp), fPayload(inOther.fPayload)
    {
        inOther._LosePayload();
    }
    VJSONValue& operator=(const VJSONValue& inOther);
    VJSONValue& operator=(VJSONValue&& inOther) noexcept;
    ~VJSONValue()
    {
        if (_HoldsReference())
        {
            _ReleasePayload();
        }
    }

    // Constants, each with the stamp it took when the process started.
    static const VJSONValue sUndefined;
    static const VJSONValue sNull;
    static const VJSONValue sTrue;
    static const VJSONValue sFalse;
    static const VJSONValue sLastType; // type 9: one past the last type
    // Texts, built on first use.
    static const VString& UndefinedString(); // "undefined"
    static const VString& NullString();      // "null"
    static const VString& TrueString();      // "true"
    static const VString& FalseString();     // "false"
    static const VString& ObjectString();    // "[object Object]"

    // The last stamp handed out (the counter itself).
    static uint32_t GetLastStamp() { return sStamp.load(std::memory_order_relaxed); }

    JSONType GetType() const { return fType; }
    uint32_t GetStamp() const { return fStamp; }
    bool IsNull() const { return fType == JSON_null; }
    bool IsUndefined() const { return fType == JSON_undefined; }
    bool IsBool() const { return fType == JSON_true || fType == JSON_false; }
    bool IsString() const { return fType == JSON_string; }
    bool IsNumber() const { return fType == JSON_number; }
    bool IsObject() const { return fType == JSON_object; }
    bool IsArray() const { return fType == JSON_array; }
    bool IsDate() const { return fType == JSON_date; }
    // The held container without a new reference; null for other types.
    VJSONObject* GetObject() const { return fType == JSON_object ? fPayload.fObject : nullptr; }
    VJSONArray* GetArray() const { return fType == JSON_array ? fPayload.fArray : nullptr; }

    // Setters release the old payload and keep the stamp.
    void SetNull();
    void SetUndefined();
    void SetBool(bool inValue);
    void SetNumber(double inNumber);
    // A null VString makes the value null. A value that already shares that very buffer takes
    // only the length; otherwise the buffer is shared.
    void SetString(const VString& inString);
    void SetString(const VInlineString& inString);
    // A null pointer gives null; the container already held changes nothing.
    void SetObject(VJSONObject* inObject);
    void SetArray(VJSONArray* inArray);
    // The same, taking over the caller's reference instead of taking one.
    void AdoptObject(VJSONObject* inObject);
    void AdoptArray(VJSONArray* inArray);
    void SetDate(short inYear, short inMonth, short inDay);
    // A null time gives null, else the date of its UTC day.
    void SetTime(const VTime& inTime);
    // True becomes false, a string the empty string, a number 0, a date 0; an object or array is
    // released and the value becomes null; null, false and undefined stay.
    void Clear();

    // True for true, objects and arrays, a string with a buffer, a non-zero number or date.
    bool GetBool() const;
    // Numbers as they are; true 1; a string beginning with 0x or 0X read as hexadecimal (unsigned
    // 64 bits), any other string read as a real (VString::GetReal); every other type 0.
    double GetNumber() const;
    // The value's text: "" for null and undefined, "false", "true", the string, the JSON text of
    // a number, "[object Object]", an array's elements joined with "," ('zorn' 900 when an array
    // contains itself; inVisited is the arrays being written). Returns 0 except for numbers and
    // arrays, which return what their writer returns.
    VError GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited = nullptr) const;
    // A string's units without a copy, valid while this value holds them; empty for other types.
    std::u16string_view GetStringUnits() const
    {
        return fType == JSON_string && fPayload.fText.fString != nullptr
                   ? std::u16string_view(reinterpret_cast<const char16_t*>(fPayload.fText.fString),
                                         static_cast<size_t>(fPayload.fText.fLength))
                   : std::u16string_view();
    }
    // The parts of a date and true; zeros and false for any other type.
    bool GetDate(short* outYear, short* outMonth, short* outDay) const;
    // A date at 00:00:00.000 UTC; a string read by the time's loose reader (VTime::FromString);
    // any other type clears the time and makes it null.
    void GetTime(VTime& outTime) const;
    // The container with one reference for the caller, or null for another type.
    VJSONObject* RetainObject() const;
    VJSONArray* RetainArray() const;

    // A new typed value owned by the caller: VBoolean, VString, VReal; an object gives its
    // implementation's value when it makes one; otherwise objects and arrays give a VString
    // holding the marker U+0001 U+0002 U+0003 followed by U+0001 (object) or U+0002 (array) when
    // inWithMarkers, else an empty null VString, as do null and undefined. A date gives a VTime at
    // 00:00:00.000 UTC of that day.
    VValueSingle* CreateVValue(bool inWithMarkers) const;

    // The value's JSON text, written by VJSONWriter with these options (see there); returns the
    // writer's error, with outText unchanged on an error.
    VError Stringify(VString& outText, uint32_t inOptions = 0) const;
    // The value's JSON text stored in the file as UTF-8 (VJSONWriter::StringifyValueToFile); built
    // with the file layer.
    VError SaveToFile(IFile* inFile, uint32_t inOptions = 0) const;
    // Reads JSON text into this value (VJSONImporter, lenient) with importer options 0; with
    // inDates 192 (marked and ISO dates), with both flags 576 (only "!!dddd-dd-dd!!" dates).
    VError ParseFromString(const VString& inText, bool inDates = false, bool inMarkedDatesOnly = false);
    // The same from a file's UTF-8 text (VJSONImporter::ParseFile, options 0 or 192). Built with
    // the file layer.
    VError LoadFromFile(IFile* inFile, bool inDates = false);

    // The object's property (no language context); undefined when this is not an object.
    VJSONValue GetProperty(const VString& inName) const;
    // Sets the object's property; nothing when this is not an object.
    void SetProperty(const VString& inName, const VJSONValue& inValue) const;
    // Readers of a path in an object value; any other value gives the failure result.
    // True only when the path yields true.
    static bool GetBoolByPath(const VJSONValue& inValue, const VString& inPath);
    // The number truncated toward zero to 32 bits, or 0 when the path yields no number.
    static int32_t GetLongByPath(const VJSONValue& inValue, const VString& inPath);
    // True, with the text, when the path yields a string.
    static bool GetStringByPath(const VJSONValue& inValue, const VString& inPath, VString& outString);

    CompareResult CompareTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const;
    bool DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const;
    // The same, continuing a comparison whose path of container pairs is ioPath.
    bool DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions,
                     VJSONVisitedPairs& ioPath) const;

    // Called by every container operation that stores a value: counts a change of the tree
    // (inStamp's counter) and gives inStamp to every object and array reachable from inValue.
    // A null stamp does nothing.
    static void CheckAndUpdateJsonStamp(const VJSONValue& inValue, VJSONStamp* inStamp);

    // Connects the kernel's JSON entries (error parameters, scalar kinds' JSON values) to this
    // library. Runs before main in every program linked with the library, and on the first JSON
    // object; calling it again changes nothing.
    static void InstallKernelHooks();

    // The stamp counter, taken (incremented first) by every new value.
    static uint32_t NextStamp() { return sStamp.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The first of inCount consecutive stamps taken with one increment of the same counter (the
    // block may wrap past 0 like single stamps do).
    static uint32_t NextStamps(uint32_t inCount)
    {
        return sStamp.fetch_add(inCount, std::memory_order_relaxed) + 1;
    }
    // Gives the value the next stamp, as storing a new copy would.
    void TakeNewStamp() { fStamp = NextStamp(); }

private:
    friend class VJSONBuilder;

    struct Constant
    {
    };
    constexpr VJSONValue(Constant, JSONType inType, uint32_t inStamp)
        : fType(inType), fStamp(inStamp), fPayload{.fNumber = 0}
    {
    }

    // Dates as times (VJSONValue_Time.cpp): the text of the day at midnight UTC, and a new VTime.
    VError _GetDateString(VString& outString) const;
    VValueSingle* _CreateTime() const;

    // The fields of a string's VInlineString, ordered so that a value takes 24 bytes.
    struct StringPayload
    {
        UniChar* fString;
        int32_t fLength;
        int32_t fMaxLength;
    };
    union Payload
    {
        double fNumber;
        VJSONObject* fObject;
        VJSONArray* fArray;
        StringPayload fText;
        uint32_t fDate;
    };

    VInlineString _Inline() const
    {
        return {fPayload.fText.fLength, fPayload.fText.fString, fPayload.fText.fMaxLength};
    }
    // A borrowed VString over the string payload (no reference taken).
    VString _Text() const;
    // Whether the payload holds a reference (a string buffer or a container).
    bool _HoldsReference() const
    {
        return fType == JSON_object || fType == JSON_array ||
               (fType == JSON_string && fPayload.fText.fString != nullptr);
    }
    // What a moved-from value keeps (see the header comment).
    void _LosePayload()
    {
        if (fType == JSON_object || fType == JSON_array)
        {
            fType = JSON_null;
            fPayload.fNumber = 0;
        }
        else if (fType == JSON_string)
        {
            fPayload.fText = {nullptr, 0, 0};
        }
    }
    void _ReleasePayload();
    // Takes a reference on the other value's payload (same type) into this one.
    void _CopyPayloadFrom(const VJSONValue& inOther);
    void _SetStringPayload(UniChar* inRetainedBuffer, int32_t inLength, int32_t inCapacity);
    static void _ChangeJSONStamp(const VJSONValue& inValue, VJSONStamp* inStamp);

    static std::atomic<uint32_t> sStamp;

    JSONType fType;
    uint32_t fStamp;
    Payload fPayload;
};

} // namespace zorn
