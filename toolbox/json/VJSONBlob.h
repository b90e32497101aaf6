// VJSONBlob: the native implementation of the script class "Blob", an immutable run of bytes.
// A blob views [begin, end) of a retained SharedBuffer (none for an empty blob); slices share
// that buffer, so slicing never copies and a slice keeps its bytes alive after its source goes.
//
// Choices and limits:
// - The class is built once, on first use, and registered visible in the process class store
//   (when there is one; without a store it has no superclass). The class object lives as long as
//   the process.
// - Blobs are sharable between tasks without a storage locker (their bytes never change), and a
//   clone is the blob itself.
// - Property "size" (the byte count) and indexes 0..size-1 (each byte as a number) are read-only:
//   writes fail with 'ZqRT' -10702, an index past the end with -10713.
// - The compact form carries a blob under the signature 'JBlb': a u64 byte count, then the bytes.
//   The JSON text form has no blob: text written with the compact fallback carries it.
// - Value blobs (VBlob) turn into "Blob" objects holding a copy of their bytes and back.
#pragma once

#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/kernel/base/SharedBuffer.h"
#include "toolbox/kernel/base/VObject.h"

#include <cstddef>
#include <cstdint>

namespace zorn
{

class VBlob;

// The blob constructor was given more than one parameter.
constexpr VError VE_JSON_TOO_MANY_PARAMETERS = MakeVError(kCOMPONENT_SCRIPT, 58);

class VJSONBlob : public VObject, public IJSONObject
{
public:
    static constexpr uint32_t kSignature = 0x4A426C62; // 'JBlb'

    // A new "Blob" object (the caller's reference) holding a copy of the bytes; size 0 gives a
    // blob without buffer. Null, with 'zorn' 100 thrown, when the bytes cannot be allocated.
    static VJSONObject* Create(const void* inData, size_t inSize);
    // A new "Blob" object viewing [start, end) of this blob's bytes, sharing the buffer. A
    // negative index counts from the end; both are clamped to [0, size]; end <= start gives an
    // empty blob.
    VJSONObject* CreateSlice(int64_t inStart, int64_t inEnd) const;

    // The implementation of an object when it is a blob, else null.
    static VJSONBlob* CastJSONObject(const VJSONObject* inObject);
    static VJSONBlob* GetThis(const IJSONFunctionContext* inContext);
    // The "Blob" class object (not retained: it lives as long as the process).
    static VJSONObject* GetClass();
    // The compact reader's creator for 'JBlb': a new implementation (the caller's reference)
    // holding a copy of the payload, and the class object; null with 'zorn' 100 (thrown and
    // stored in *outError) when the bytes cannot be allocated.
    static IJSONObject* CreateIJSONObject(VJSONObject* inObject, uint32_t inSignature, const void* inData,
                                          size_t inSize, VRefPtr<VJSONObject>& outClassObject,
                                          VError* outError);
    // The bytes of a blob object, for parameter accessors (IJSONFunctionContext::GetBlobParam).
    static bool GetView(const VJSONObject* inObject, VJSONBlobView& outView);

    // Value blobs as JSON: a new "Blob" object with a copy of the bytes; and the bytes of a "Blob"
    // object put into a value blob (false when the value is no blob object).
    static void BlobToJSON(const VBlob& inBlob, VJSONValue& outValue);
    static bool BlobFromJSON(const VJSONValue& inValue, VBlob& ioBlob);
    // A value blob's JSON text: the "Blob" object written with the compact fallback, the quoted
    // "__PRIVATE_BINARY_OBJECT" object that the JSON readers turn back into a blob.
    static void BlobToJSONText(const VBlob& inBlob, VString& outText);

    // The property name "size".
    // NOLINTNEXTLINE(readability-identifier-naming): the name script hosts know it by
    static const VString& key_size();

    // The instantiator and member function; their do_ names are the ones script hosts know.
    // NOLINTNEXTLINE(readability-identifier-naming)
    static VJSONObject* do_instantiate(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    // NOLINTNEXTLINE(readability-identifier-naming)
    static EJSONStatus do_slice(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);

    const uint8_t* GetData() const;
    size_t GetSize() const { return static_cast<size_t>(fEnd - fBegin); }

    // IJSONObject
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override;
    EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* inObject, size_t inIndex,
                                         VJSONValue& outValue) override;
    EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* inObject, size_t* outCount) override;
    bool IJSON_IsSharable(const VJSONObject* inObject, bool& ioSharable) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& ioCloner, VJSONValue& outClone,
                            VError* outError) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    uint32_t IJSON_GetBinarySignature() override;
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError* outError) override;

protected:
    ~VJSONBlob() override;

private:
    // Retains the buffer (may be null for an empty view).
    VJSONBlob(const SharedBuffer* inBuffer, uint64_t inBegin, uint64_t inEnd);
    // A new object of the class "Blob" with this implementation (adopted).
    static VJSONObject* _NewObject(VJSONBlob* inImplementation);
    // A new implementation with a copy of the bytes; null (and 'zorn' 100 thrown) on failure.
    static VJSONBlob* _NewCopy(const void* inData, size_t inSize, VError* outError);

    const SharedBuffer* fBuffer = nullptr; // retained
    uint64_t fBegin = 0;
    uint64_t fEnd = 0;
};

} // namespace zorn
