// VJSONBinaryImporter: reads a value written in the compact stream form (see VJSONBinaryWriter
// for the form). References are rebuilt through a JSON pointer resolver over the value being read,
// so a container met twice is one container; script classes come from the process's class store
// and native implementations from VJSONObjectFactory.
//
// The data is outside input, read with every length checked against the bytes left:
// - A record that runs past the end of the data is 'zorn' 200: a missing tag; a string, reference,
//   reserved record, member header or name, trailer, payload length or payload cut short. A
//   number or date cut short leaves the value undefined without an error (the end of the data).
// - A count is checked against the bytes left before anything is allocated (every element takes at
//   least one byte), so no count can make the reader allocate more than the data could fill; an
//   array that cannot be allocated is 'zorn' 100.
// - Reserved records (tags 0x09 to 0xFE) are skipped; a size word below 4 is 'zorn' 200.
// - A reference reaches only the value being read: a pointer text that does not begin with "#"
//   names another document and reads as undefined; the reader never opens a file.
// - A reference that does not resolve reads as undefined and is no error.
// - Nesting is bounded by StJSONNestingGuard ('zorn' 108).
// Errors are pushed without parameters; reading stops at the first, and what was read so far
// stays in the result.
//
// The importer reads the data in place and does not own it.
#pragma once

#include "toolbox/json/VJSONBuilder.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorn
{

class VJSONArray;
class VJSONObject;
class VJSONPointerResolver;
class VJSONStamp;
class VJSONValue;

class VJSONBinaryImporter : public VObject
{
public:
    // inStamp, when given, goes to every container read.
    VJSONBinaryImporter(const void* inData, size_t inSize, VJSONStamp* inStamp = nullptr);
    ~VJSONBinaryImporter() override;
    VJSONBinaryImporter(const VJSONBinaryImporter&) = delete;
    VJSONBinaryImporter& operator=(const VJSONBinaryImporter&) = delete;

    // Reads one value record with everything under it; no data gives undefined.
    VError GetValue(VJSONValue& outValue);

    // The reader of the "__PRIVATE_BINARY_OBJECT" member of JSON text (VJSONBinaryObject).
    static VError ReadValue(const void* inData, size_t inSize, VJSONValue& outValue);

private:
    size_t _Left() const { return fSize - fPosition; }
    bool _Read(void* outData, size_t inSize);
    // Reads one record; outContainer is true for an object or array whose contents follow.
    VError _GetValue(VJSONValue& outValue, bool& outContainer, uint32_t& outCount);
    // The contents of the object or array just read (held by the caller).
    VError _GetContents(VJSONObject* ioObject, VJSONArray* ioArray, uint32_t inCount);
    VError _GetObjectContents(VJSONObject* ioObject);
    VError _GetArrayContents(VJSONArray* ioArray, uint32_t inCount);
    VError _ApplySignature(VJSONObject* ioObject, uint32_t inSignature, const uint8_t* inPayload,
                           size_t inPayloadSize);
    VError _GetReference(VJSONValue& outValue);
    void _Stamp(VJSONValue& ioValue) const;
    // Stores what was gathered for the open containers (see fMembers), from the innermost out.
    bool _SettleAll();
    bool _Settle(VJSONObject* ioObject, size_t inFirst, size_t inEnd);
    bool _Settle(VJSONArray* ioArray, size_t inFirst, size_t inEnd);

    const uint8_t* fData;
    size_t fSize;
    size_t fPosition = 0;
    VJSONStamp* fStamp = nullptr;              // retained
    VJSONPointerResolver* fResolver = nullptr; // retained
    bool fReferenceRead = false;               // the last record read was a reference
    VJSONBuilder fBuilder;                     // stamps, interned names
    std::u16string fScratch;                   // units of a record that is not aligned
    // The members and elements of the open containers, gathered until each container ends, so
    // that it is filled with one exact-size allocation. A container is gathered into its parent
    // before its contents are read; before a reference is resolved or a member goes through the
    // setter, everything gathered is stored, so the tree then holds all that was read.
    struct Open
    {
        VJSONObject* fObject; // or
        VJSONArray* fArray;
        size_t fFirst; // its first member in fMembers or element in fElements
    };
    std::vector<Open> fOpen;
    std::vector<VJSONObject::OwnProperty> fMembers;
    std::vector<VJSONValue> fElements;
};

} // namespace zorn
