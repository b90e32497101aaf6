// VJSONBinaryWriter: writes a JSON value in the compact stream form, the byte form that carries
// what JSON text cannot: containers met more than once (and cycles), script classes and native
// objects with a payload of their own. VJSONBinaryImporter reads it back.
//
// The form: one value record, no header; integers and doubles little-endian, strings UTF-16
// little-endian without terminator. A record is a tag byte and its fields: 0x00 null, 0x01 false,
// 0x02 true, 0x03 string (uint32 unit count, units), 0x04 number (double), 0x05 object (members,
// then a trailer), 0x06 array (uint32 count, count records), 0x07 undefined, 0x08 date (int64
// milliseconds of the date at 00:00 UTC), 0xFF reference (uint32 unit count, the JSON pointer text
// of the container's first occurrence), 0x09-0xFE reserved (uint32 n, then n - 4 bytes). A member
// is a uint16 name length (below 0x8000), the name's units and the value record. The trailer is
// 0xFFFF for a plain object, or 0xFFFD, a uint32 signature, a uint64 payload length and the
// payload: '****' for an instance of a script class (uint16 length and units of the store's name,
// then of the class name), any other signature for a native implementation's own payload.
//
// Choices and limits:
// - Only containers held by more than one reference are entered in the table of those written
//   (with their pointer text, built from the path of the walk): a container held once cannot be
//   met again, and most containers of a tree are.
// - Pointer texts are "#", then "/" and the member name (with "~" as "~0", then "/" as "~1") or
//   the decimal index per step. The container given to StreamValue, StreamObject or StreamArray
//   is "#", so a reference back to it is written as one.
// - Member names (and class and store names) of 0x8000 units or more cannot be written: 'zorn' 3
//   with the name, nothing of the value is kept.
// - Every failure ('zorn' 100 when the buffer cannot grow, 108 too deep, 3, an implementation's
//   own error) leaves the buffer as it was before the call.
// - The depth is bounded by StJSONNestingGuard, like every other walk of JSON containers.
// - The option word is kept and changes nothing in the output.
#pragma once

#include "toolbox/json/VJSONKey.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace zorn
{

class VJSONArray;
class VJSONObject;
class VJSONValue;

// Record tags and trailer markers of the compact stream form.
namespace json_compact
{
constexpr uint8_t kNull = 0x00;
constexpr uint8_t kFalse = 0x01;
constexpr uint8_t kTrue = 0x02;
constexpr uint8_t kString = 0x03;
constexpr uint8_t kNumber = 0x04;
constexpr uint8_t kObject = 0x05;
constexpr uint8_t kArray = 0x06;
constexpr uint8_t kUndefined = 0x07;
constexpr uint8_t kDate = 0x08;
constexpr uint8_t kReference = 0xFF;
constexpr uint16_t kPlainTrailer = 0xFFFF;
constexpr uint16_t kSkippedMarker = 0xFFFE;
constexpr uint16_t kSignatureTrailer = 0xFFFD;
constexpr uint16_t kMaxNameLength = 0x7FFF;
constexpr uint32_t kUndefinedArrayCount = 0xFFFFFFFE;
constexpr uint32_t kClassSignature = 0x2A2A2A2A; // '****'
} // namespace json_compact

class VJSONBinaryWriter : public VObject
{
public:
    using Buffer = VMemoryBuffer<1024, 2, 1048576>;

    // A step of the path from the written value down to a container.
    struct PathPart
    {
        const PathPart* fParent = nullptr;
        const VJSONKey* fName = nullptr; // null for an element
        size_t fIndex = 0;
    };

    explicit VJSONBinaryWriter(uint32_t inOptions = 0) : fOptions(inOptions) {}
    ~VJSONBinaryWriter() override = default;
    VJSONBinaryWriter(const VJSONBinaryWriter&) = delete;
    VJSONBinaryWriter& operator=(const VJSONBinaryWriter&) = delete;

    uint32_t GetOptions() const { return fOptions; }

    // Append the record of the value (object, array) to the buffer.
    VError StreamValue(const VJSONValue& inValue, Buffer& ioBuffer);
    VError StreamObject(const VJSONObject* inObject, Buffer& ioBuffer);
    VError StreamArray(const VJSONArray* inArray, Buffer& ioBuffer);

    // The pointer text of a path ("#" for none).
    static void BuildPathPointerString(const PathPart* inPart, VString& outText);

private:
    VError _StreamValue(const VJSONValue& inValue, Buffer& ioBuffer, const PathPart* inPart);
    VError _StreamObject(const VJSONObject* inObject, Buffer& ioBuffer, const PathPart* inPart);
    VError _StreamArray(const VJSONArray* inArray, Buffer& ioBuffer, const PathPart* inPart);
    VError _StreamTrailer(const VJSONObject* inObject, uint32_t inSignature, Buffer& ioBuffer);
    VError _WriteName(std::u16string_view inName, Buffer& ioBuffer);
    bool _Put(Buffer& ioBuffer, const void* inData, size_t inSize);
    template <class T>
    bool _PutInteger(Buffer& ioBuffer, T inValue);

    uint32_t fOptions;
    // The pointer texts of the containers written so far that hold more than one reference: a
    // container held once cannot be met again.
    std::unordered_map<const void*, VString> fWritten;
    bool fFailed = false;
};

} // namespace zorn
