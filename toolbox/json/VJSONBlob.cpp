#include "toolbox/json/VJSONBlob.h"

#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/values/VBlob.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zorn
{

static_assert(std::endian::native == std::endian::little, "the payload is written as it lies in memory");

namespace
{

// An index of the slice: negative counts from the end; the result lies in [0, inLength].
uint64_t SliceIndex(int64_t inIndex, uint64_t inLength)
{
    if (inIndex < 0)
    {
        const uint64_t back = inIndex == INT64_MIN ? uint64_t{1} << 63 : static_cast<uint64_t>(-inIndex);
        return back >= inLength ? 0 : inLength - back;
    }
    return std::min(static_cast<uint64_t>(inIndex), inLength);
}

} // namespace

const VString& VJSONBlob::key_size()
{
    static const VString sKey("size");
    return sKey;
}

VJSONBlob::VJSONBlob(const SharedBuffer* inBuffer, uint64_t inBegin, uint64_t inEnd)
    : fBuffer(inBuffer), fBegin(inBegin), fEnd(inEnd)
{
    if (fBuffer != nullptr)
    {
        fBuffer->Retain();
    }
}

VJSONBlob::~VJSONBlob()
{
    if (fBuffer != nullptr)
    {
        fBuffer->Release();
    }
}

const uint8_t* VJSONBlob::GetData() const
{
    return fBuffer == nullptr ? nullptr : static_cast<const uint8_t*>(fBuffer->GetData()) + fBegin;
}

VJSONObject* VJSONBlob::GetClass()
{
    static VJSONObject* const sClass =
        VJSONClass::CreateNativeClass(VString("Blob"), {{VString("slice"), do_slice, 0}}, do_instantiate);
    return sClass;
}

VJSONObject* VJSONBlob::_NewObject(VJSONBlob* inImplementation)
{
    VRefPtr<VJSONBlob> implementation(inImplementation, true);
    return new VJSONObject(GetClass(), implementation.Get(), false);
}

VJSONBlob* VJSONBlob::_NewCopy(const void* inData, size_t inSize, VError* outError)
{
    if (inSize == 0)
    {
        return new VJSONBlob(nullptr, 0, 0);
    }
    SharedBuffer* buffer = SharedBuffer::Create(inData, inSize);
    if (buffer == nullptr)
    {
        VError error = _ThrowError(VE_MEMORY_FULL);
        if (outError != nullptr)
        {
            *outError = error;
        }
        return nullptr;
    }
    VJSONBlob* blob = new VJSONBlob(buffer, 0, inSize);
    buffer->Release();
    return blob;
}

VJSONObject* VJSONBlob::Create(const void* inData, size_t inSize)
{
    VJSONBlob* implementation = _NewCopy(inData, inSize, nullptr);
    return implementation == nullptr ? nullptr : _NewObject(implementation);
}

VJSONObject* VJSONBlob::CreateSlice(int64_t inStart, int64_t inEnd) const
{
    const uint64_t length = fEnd - fBegin;
    const uint64_t start = SliceIndex(inStart, length);
    const uint64_t end = SliceIndex(inEnd, length);
    if (end <= start)
    {
        return _NewObject(new VJSONBlob(nullptr, 0, 0));
    }
    return _NewObject(new VJSONBlob(fBuffer, fBegin + start, fBegin + end));
}

VJSONBlob* VJSONBlob::CastJSONObject(const VJSONObject* inObject)
{
    return inObject == nullptr ? nullptr : dynamic_cast<VJSONBlob*>(inObject->GetImplementation());
}

VJSONBlob* VJSONBlob::GetThis(const IJSONFunctionContext* inContext)
{
    return CastJSONObject(inContext->GetThisObject());
}

IJSONObject* VJSONBlob::CreateIJSONObject(VJSONObject* /*inObject*/, uint32_t /*inSignature*/,
                                          const void* inData, size_t inSize,
                                          VRefPtr<VJSONObject>& outClassObject, VError* outError)
{
    VJSONBlob* implementation = _NewCopy(inData, inSize, outError);
    if (implementation != nullptr)
    {
        outClassObject.Set(GetClass());
    }
    return implementation;
}

bool VJSONBlob::GetView(const VJSONObject* inObject, VJSONBlobView& outView)
{
    const VJSONBlob* blob = CastJSONObject(inObject);
    if (blob == nullptr)
    {
        return false;
    }
    outView.fFound = 1;
    outView.fBytes = blob->GetData();
    outView.fSize = blob->GetSize();
    return true;
}

void VJSONBlob::BlobToJSON(const VBlob& inBlob, VJSONValue& outValue)
{
    VJSONObject* object = Create(inBlob.GetDataPtr(), inBlob.GetSize());
    if (object == nullptr)
    {
        outValue.SetUndefined();
        return;
    }
    outValue.AdoptObject(object);
}

void VJSONBlob::BlobToJSONText(const VBlob& inBlob, VString& outText)
{
    VJSONValue value;
    BlobToJSON(inBlob, value);
    if (value.Stringify(outText, VJSONWriter::kQuoted | VJSONWriter::kBinaryFallback) != VE_OK)
    {
        outText.FromCString("null");
    }
}

bool VJSONBlob::BlobFromJSON(const VJSONValue& inValue, VBlob& ioBlob)
{
    const VJSONBlob* blob = inValue.IsObject() ? CastJSONObject(inValue.GetObject()) : nullptr;
    if (blob == nullptr)
    {
        return false;
    }
    if (blob->GetSize() != 0)
    {
        ioBlob.PutData(blob->GetData(), blob->GetSize(), 0);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The class's functions

VJSONObject* VJSONBlob::do_instantiate(VJSONObject* /*inClassObject*/, IJSONFunctionContext* ioContext)
{
    const int count = ioContext == nullptr ? 0 : ioContext->GetParamCount();
    if (count == 0)
    {
        return Create(nullptr, 0);
    }
    if (count > 1)
    {
        _ThrowError(VE_JSON_TOO_MANY_PARAMETERS);
        return nullptr;
    }
    // Not a blob: the accessor raises the error and the result is an empty blob.
    VJSONBlobView view = ioContext->GetBlobParam(1, false);
    return Create(view.fBytes, view.fFound != 0 ? view.fSize : 0);
}

EJSONStatus VJSONBlob::do_slice(const VJSONObject* /*inFunctionObject*/, IJSONFunctionContext* ioContext)
{
    const VJSONBlob* blob = GetThis(ioContext);
    if (blob == nullptr)
    {
        return eJSONStatusFailed;
    }
    double start = 0;
    double end = static_cast<double>(blob->GetSize());
    ioContext->GetNumberOptParam(1, &start);
    ioContext->GetNumberOptParam(2, &end);
    // Out-of-range numbers (and NaN, which compares false) saturate instead of overflowing.
    auto toIndex = [](double inNumber, int64_t inNaN)
    {
        if (!(inNumber == inNumber))
        {
            return inNaN;
        }
        if (inNumber >= 0x1p63)
        {
            return INT64_MAX;
        }
        if (inNumber <= -0x1p63)
        {
            return INT64_MIN;
        }
        return static_cast<int64_t>(inNumber);
    };
    VJSONObject* slice = blob->CreateSlice(toIndex(start, 0), toIndex(end, 0));
    VJSONValue result;
    result.AdoptObject(slice);
    ioContext->SetResult(result);
    return eJSONStatusDone;
}

// ---------------------------------------------------------------------------------------------
// IJSONObject

EJSONStatus VJSONBlob::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                         VJSONValue& outValue, VDBLanguageContext* /*inContext*/)
{
    if (!inName.EqualToStringRaw(key_size()))
    {
        return eJSONStatusNotHandled;
    }
    outValue.SetNumber(static_cast<double>(GetSize()));
    return eJSONStatusDone;
}

EJSONStatus VJSONBlob::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                         const VJSONValue& /*inValue*/, VDBLanguageContext* /*inContext*/)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSONStatusFailed;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyNames(std::vector<VString>& outNames)
{
    outNames.push_back(key_size());
    return eJSONStatusDone;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyByIndex(const VJSONObject* /*inObject*/, size_t inIndex,
                                                VJSONValue& outValue)
{
    if (inIndex >= GetSize())
    {
        _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
        return eJSONStatusFailed;
    }
    outValue.SetNumber(GetData()[inIndex]);
    return eJSONStatusDone;
}

EJSONStatus VJSONBlob::IJSON_GetCountPropertiesByIndex(const VJSONObject* /*inObject*/, size_t* outCount)
{
    *outCount = GetSize();
    return eJSONStatusDone;
}

bool VJSONBlob::IJSON_IsSharable(const VJSONObject* /*inObject*/, bool& ioSharable)
{
    ioSharable = false;
    return true;
}

EJSONStatus VJSONBlob::IJSON_Clone(const VJSONObject* inObject, VJSONCloner& /*ioCloner*/,
                                   VJSONValue& outClone, VError* /*outError*/)
{
    // The bytes never change: the blob stands for its own copy.
    outClone.SetObject(const_cast<VJSONObject*>(inObject));
    return eJSONStatusDone;
}

EJSONStatus VJSONBlob::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText.Printf("%zu bytes", GetSize());
    return eJSONStatusDone;
}

uint32_t VJSONBlob::IJSON_GetBinarySignature()
{
    return kSignature;
}

EJSONStatus VJSONBlob::IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError* outError)
{
    return _WritePayload(ioBuffer, GetData(), GetSize(), outError);
}

} // namespace zorn
