#include "toolbox/json/VJSONBinaryImporter.h"

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBinaryWriter.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONKey.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONObjectFactory.h"
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <bit>
#include <cstring>
#include <span>

namespace zorn
{

static_assert(std::endian::native == std::endian::little, "the compact form is read as it lies in memory");

namespace
{

// The UTF-16 units at inData: in place when aligned, else copied into ioScratch (records follow
// one another without padding).
std::u16string_view Units(const uint8_t* inData, size_t inCount, std::u16string& ioScratch)
{
    if (reinterpret_cast<uintptr_t>(inData) % alignof(char16_t) == 0)
    {
        return {reinterpret_cast<const char16_t*>(inData), inCount};
    }
    ioScratch.resize(inCount);
    std::memcpy(ioScratch.data(), inData, inCount * 2);
    return ioScratch;
}

} // namespace

VJSONBinaryImporter::VJSONBinaryImporter(const void* inData, size_t inSize, VJSONStamp* inStamp)
    : fData(static_cast<const uint8_t*>(inData)), fSize(inData != nullptr ? inSize : 0), fStamp(inStamp)
{
    if (fStamp != nullptr)
    {
        fStamp->Retain();
    }
}

VJSONBinaryImporter::~VJSONBinaryImporter()
{
    if (fResolver != nullptr)
    {
        fResolver->Release();
    }
    if (fStamp != nullptr)
    {
        fStamp->Release();
    }
}

VError VJSONBinaryImporter::ReadValue(const void* inData, size_t inSize, VJSONValue& outValue)
{
    VJSONBinaryImporter importer(inData, inSize);
    return importer.GetValue(outValue);
}

bool VJSONBinaryImporter::_Read(void* outData, size_t inSize)
{
    if (inSize > _Left())
    {
        return false;
    }
    std::memcpy(outData, fData + fPosition, inSize);
    fPosition += inSize;
    return true;
}

void VJSONBinaryImporter::_Stamp(VJSONValue& ioValue) const
{
    if (fStamp == nullptr)
    {
        return;
    }
    if (VJSONObject* object = ioValue.GetObject())
    {
        object->SetJSONStamp(fStamp);
    }
    else if (VJSONArray* array = ioValue.GetArray())
    {
        array->SetJSONStamp(fStamp);
    }
}

VError VJSONBinaryImporter::GetValue(VJSONValue& outValue)
{
    outValue.SetUndefined();
    if (fSize == 0)
    {
        return VE_OK;
    }
    bool container = false;
    uint32_t count = 0;
    VError error = _GetValue(outValue, container, count);
    if (fResolver == nullptr)
    {
        // Pointer texts reach only this value: no folder, so no other document.
        fResolver = new VJSONPointerResolver(outValue, nullptr, nullptr, nullptr);
    }
    if (error == VE_OK && container)
    {
        error = _GetContents(outValue.GetObject(), outValue.GetArray(), count);
    }
    return error;
}

VError VJSONBinaryImporter::_GetValue(VJSONValue& outValue, bool& outContainer, uint32_t& outCount)
{
    outContainer = false;
    outCount = 0;
    fReferenceRead = false;
    while (true)
    {
        uint8_t tag = 0;
        if (!_Read(&tag, 1))
        {
            return _ThrowError(VE_STREAM_EOF);
        }
        switch (tag)
        {
        case json_compact::kNull:
            outValue = fBuilder.Null();
            return VE_OK;
        case json_compact::kFalse:
            outValue = fBuilder.Bool(false);
            return VE_OK;
        case json_compact::kTrue:
            outValue = fBuilder.Bool(true);
            return VE_OK;
        case json_compact::kUndefined:
            outValue.SetUndefined();
            return VE_OK;
        case json_compact::kString:
        {
            uint32_t length = 0;
            if (!_Read(&length, 4) || length > _Left() / 2)
            {
                return _ThrowError(VE_STREAM_EOF);
            }
            outValue = fBuilder.String(Units(fData + fPosition, length, fScratch));
            fPosition += static_cast<size_t>(length) * 2;
            return VE_OK;
        }
        case json_compact::kNumber:
        {
            double number = 0;
            if (!_Read(&number, 8))
            {
                fPosition = fSize;
                return VE_OK;
            }
            outValue = fBuilder.Number(number);
            return VE_OK;
        }
        case json_compact::kDate:
        {
            int64_t milliseconds = 0;
            if (!_Read(&milliseconds, 8))
            {
                fPosition = fSize;
                return VE_OK;
            }
            VTime time;
            time.FromMilliseconds(milliseconds);
            outValue.SetTime(time);
            return VE_OK;
        }
        case json_compact::kObject:
        {
            uint16_t next = 0;
            if (_Left() >= 2 &&
                (std::memcpy(&next, fData + fPosition, 2), next == json_compact::kSkippedMarker))
            {
                // Undefined, the marker left to be read next.
                outValue.SetUndefined();
                return VE_OK;
            }
            outValue = fBuilder.Object();
            _Stamp(outValue);
            outContainer = true;
            return VE_OK;
        }
        case json_compact::kArray:
        {
            uint32_t count = 0;
            if (!_Read(&count, 4))
            {
                return _ThrowError(VE_STREAM_EOF);
            }
            if (count == json_compact::kUndefinedArrayCount)
            {
                outValue.SetUndefined();
                return VE_OK;
            }
            // Every element takes at least one byte.
            if (count > _Left())
            {
                return _ThrowError(VE_STREAM_EOF);
            }
            outValue = fBuilder.Array();
            _Stamp(outValue);
            outContainer = true;
            outCount = count;
            return VE_OK;
        }
        case json_compact::kReference:
            fReferenceRead = true;
            return _GetReference(outValue);
        default:
        {
            // A reserved record: its size word counts itself.
            uint32_t size = 0;
            if (!_Read(&size, 4) || size < 4 || size - 4 > _Left())
            {
                return _ThrowError(VE_STREAM_EOF);
            }
            fPosition += size - 4;
            break;
        }
        }
    }
}

VError VJSONBinaryImporter::_GetContents(VJSONObject* ioObject, VJSONArray* ioArray, uint32_t inCount)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    if (ioObject != nullptr)
    {
        return _GetObjectContents(ioObject);
    }
    if (ioArray != nullptr)
    {
        return _GetArrayContents(ioArray, inCount);
    }
    return _ThrowError(VE_STREAM_EOF);
}

VError VJSONBinaryImporter::_GetArrayContents(VJSONArray* ioArray, uint32_t inCount)
{
    fOpen.push_back({nullptr, ioArray, fElements.size()});
    VError error = VE_OK;
    for (uint32_t i = 0; i < inCount && error == VE_OK; ++i)
    {
        VJSONValue element;
        bool container = false;
        uint32_t count = 0;
        error = _GetValue(element, container, count);
        if (container)
        {
            // Gathered before its contents, which may refer to it; the gathered value holds it.
            VJSONObject* object = element.GetObject();
            VJSONArray* array = element.GetArray();
            fElements.push_back(std::move(element));
            error = _GetContents(object, array, count);
        }
        else if (fReferenceRead && (element.IsObject() || element.IsArray()))
        {
            // A container met again is stored by the setter, which links a cycle into the graph.
            if (!_SettleAll() || !ioArray->Push(element))
            {
                error = _ThrowError(VE_MEMORY_FULL);
            }
        }
        else
        {
            fElements.push_back(std::move(element));
        }
    }
    const size_t first = fOpen.back().fFirst;
    fOpen.pop_back();
    if (!_Settle(ioArray, first, fElements.size()) && error == VE_OK)
    {
        error = _ThrowError(VE_MEMORY_FULL);
    }
    fElements.resize(first);
    return error;
}

VError VJSONBinaryImporter::_GetObjectContents(VJSONObject* ioObject)
{
    fOpen.push_back({ioObject, nullptr, fMembers.size()});
    VError error = VE_OK;
    bool signature = false;
    uint32_t signatureCode = 0;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
    while (error == VE_OK)
    {
        uint16_t header = 0;
        if (!_Read(&header, 2))
        {
            error = _ThrowError(VE_STREAM_EOF);
            break;
        }
        if (header <= json_compact::kMaxNameLength)
        {
            if (header > _Left() / 2)
            {
                error = _ThrowError(VE_STREAM_EOF);
                break;
            }
            VJSONKey name = fBuilder.Key(Units(fData + fPosition, header, fScratch));
            fPosition += static_cast<size_t>(header) * 2;
            VJSONValue value;
            bool container = false;
            uint32_t count = 0;
            error = _GetValue(value, container, count);
            if (container)
            {
                // Gathered before its contents, which may refer to it; the gathered value holds it.
                VJSONObject* object = value.GetObject();
                VJSONArray* array = value.GetArray();
                fMembers.push_back({std::move(name), std::move(value)});
                error = _GetContents(object, array, count);
            }
            else if (value.IsUndefined() || (fReferenceRead && (value.IsObject() || value.IsArray())))
            {
                // The setter removes a member set to undefined, and links a container met again
                // (a cycle) into the graph.
                if (!_SettleAll())
                {
                    error = _ThrowError(VE_MEMORY_FULL);
                    break;
                }
                ioObject->SetProperty(name.GetString(), value);
            }
            else
            {
                fMembers.push_back({std::move(name), std::move(value)});
            }
        }
        else if (header == json_compact::kPlainTrailer)
        {
            break;
        }
        else if (header == json_compact::kSignatureTrailer)
        {
            uint64_t length = 0;
            if (!_Read(&signatureCode, 4) || !_Read(&length, 8) || length > _Left())
            {
                error = _ThrowError(VE_STREAM_EOF);
                break;
            }
            payload = fData + fPosition;
            payloadSize = static_cast<size_t>(length);
            fPosition += payloadSize;
            signature = true;
            break;
        }
        // Any other marker is skipped.
    }
    const size_t first = fOpen.back().fFirst;
    fOpen.pop_back();
    if (!_Settle(ioObject, first, fMembers.size()) && error == VE_OK)
    {
        error = _ThrowError(VE_MEMORY_FULL);
    }
    fMembers.resize(first);
    if (error == VE_OK && signature)
    {
        error = _ApplySignature(ioObject, signatureCode, payload, payloadSize);
    }
    return error;
}

bool VJSONBinaryImporter::_Settle(VJSONObject* ioObject, size_t inFirst, size_t inEnd)
{
    if (inFirst == inEnd)
    {
        return true;
    }
    std::span<VJSONObject::OwnProperty> members = std::span(fMembers).subspan(inFirst, inEnd - inFirst);
    if (ioObject->GetOwnCount() == 0)
    {
        ioObject->AssignOwn(members);
        return true;
    }
    for (VJSONObject::OwnProperty& member : members)
    {
        ioObject->AppendOwn(std::move(member.fKey), std::move(member.fValue));
    }
    return true;
}

bool VJSONBinaryImporter::_Settle(VJSONArray* ioArray, size_t inFirst, size_t inEnd)
{
    if (inFirst == inEnd)
    {
        return true;
    }
    std::span<VJSONValue> elements = std::span(fElements).subspan(inFirst, inEnd - inFirst);
    if (ioArray->GetCount() == 0)
    {
        return ioArray->AssignValues(elements);
    }
    for (VJSONValue& element : elements)
    {
        if (!ioArray->AppendOwn(std::move(element)))
        {
            return false;
        }
    }
    return true;
}

bool VJSONBinaryImporter::_SettleAll()
{
    bool settled = true;
    size_t membersEnd = fMembers.size();
    size_t elementsEnd = fElements.size();
    for (auto open = fOpen.rbegin(); open != fOpen.rend(); ++open)
    {
        if (open->fObject != nullptr)
        {
            settled = _Settle(open->fObject, open->fFirst, membersEnd) && settled;
            membersEnd = open->fFirst;
        }
        else
        {
            settled = _Settle(open->fArray, open->fFirst, elementsEnd) && settled;
            elementsEnd = open->fFirst;
        }
        open->fFirst = 0;
    }
    fMembers.clear();
    fElements.clear();
    return settled;
}

namespace
{

// A uint16 length and its units within the payload; empty when they do not fit.
VString PayloadString(const uint8_t* inPayload, size_t inSize, size_t& ioPosition)
{
    uint16_t length = 0;
    if (inSize - ioPosition < 2)
    {
        ioPosition = inSize;
        return VString();
    }
    std::memcpy(&length, inPayload + ioPosition, 2);
    ioPosition += 2;
    if (static_cast<size_t>(length) * 2 > inSize - ioPosition)
    {
        ioPosition = inSize;
        return VString();
    }
    std::u16string scratch;
    std::u16string_view units = Units(inPayload + ioPosition, length, scratch);
    VString text(reinterpret_cast<const UniChar*>(units.data()), static_cast<int32_t>(units.size()));
    ioPosition += static_cast<size_t>(length) * 2;
    return text;
}

} // namespace

VError VJSONBinaryImporter::_ApplySignature(VJSONObject* ioObject, uint32_t inSignature,
                                            const uint8_t* inPayload, size_t inPayloadSize)
{
    if (inSignature == json_compact::kClassSignature)
    {
        size_t position = 0;
        VString storeName = PayloadString(inPayload, inPayloadSize, position);
        VString className = PayloadString(inPayload, inPayloadSize, position);
        // The process's class store is the one store a class can be found in.
        VJSONClassStore* store = VJSONClassStore::GetProcessStore();
        if (store != nullptr && store->GetName().EqualToStringRaw(storeName))
        {
            VRefPtr<VJSONObject> classObject = store->GetClassObject(className);
            if (VJSONClass* objectClass = VJSONClass::CastClassObject(classObject.Get()))
            {
                ioObject->_SetClass(objectClass, static_cast<uint32_t>(objectClass->GetDepth()));
            }
        }
        return VE_OK;
    }
    VRefPtr<VJSONObject> classObject;
    VError error = VE_OK;
    IJSONObject* implementation = VJSONObjectFactory::Get().CreateForSignature(
        ioObject, inSignature, inPayload, inPayloadSize, classObject, &error);
    if (implementation != nullptr)
    {
        ioObject->fImplementation = implementation;
        implementation->IJSON_DoConnectDependencies(ioObject);
    }
    if (VJSONClass* objectClass = VJSONClass::CastClassObject(classObject.Get()))
    {
        ioObject->_SetClass(objectClass, static_cast<uint32_t>(objectClass->GetDepth()));
    }
    return implementation == nullptr ? error : VE_OK;
}

VError VJSONBinaryImporter::_GetReference(VJSONValue& outValue)
{
    uint32_t length = 0;
    if (!_Read(&length, 4) || length > _Left() / 2)
    {
        return _ThrowError(VE_STREAM_EOF);
    }
    // The pointer walks the tree: it must hold everything read so far.
    if (!_SettleAll())
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    std::u16string_view units = Units(fData + fPosition, length, fScratch);
    VString text(reinterpret_cast<const UniChar*>(units.data()), static_cast<int32_t>(units.size()));
    fPosition += static_cast<size_t>(length) * 2;
    outValue.SetUndefined();
    // Only pointers into this value: a document part would name a file.
    if (fResolver == nullptr || text.IsEmpty() || text.GetCPointer()[0] != u'#')
    {
        return VE_OK;
    }
    VRefPtr<VJSONObject> reference(new VJSONObject(), true);
    reference->SetProperty(VString(reinterpret_cast<const UniChar*>(VJSONPointerResolver::sRefPropertyName)),
                           VJSONValue(text));
    VJSONValue target;
    if (fResolver->ResolveOnePointer(reference.Get(), false, target) && target.GetObject() != reference.Get())
    {
        outValue = target;
    }
    return VE_OK;
}

} // namespace zorn
