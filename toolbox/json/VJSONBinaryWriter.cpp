#include "toolbox/json/VJSONBinaryWriter.h"

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/values/VTime.h"

#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace zorn
{

namespace
{

static_assert(std::endian::native == std::endian::little, "the compact form is written as it lies in memory");

// One step of a pointer text: "/" and the name with "~" as "~0", then "/" as "~1", or the index.
void AppendStep(std::u16string& ioText, std::u16string_view inName, bool inIsElement, size_t inIndex)
{
    ioText.push_back(u'/');
    if (inIsElement)
    {
        std::string digits = std::to_string(inIndex);
        ioText.append(digits.begin(), digits.end());
        return;
    }
    for (char16_t unit : inName)
    {
        if (unit == u'~')
        {
            ioText.append(u"~0");
        }
        else if (unit == u'/')
        {
            ioText.append(u"~1");
        }
        else
        {
            ioText.push_back(unit);
        }
    }
}

VString ToVString(const std::u16string& inUnits)
{
    return VString(reinterpret_cast<const UniChar*>(inUnits.data()), static_cast<int32_t>(inUnits.size()));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Entry points

VError VJSONBinaryWriter::StreamValue(const VJSONValue& inValue, Buffer& ioBuffer)
{
    size_t start = ioBuffer.GetDataSize();
    fFailed = false;
    VError error = _StreamValue(inValue, ioBuffer, nullptr);
    if (error != VE_OK)
    {
        // No half record stays behind.
        ioBuffer.SetDataSize(start);
    }
    return error;
}

VError VJSONBinaryWriter::StreamObject(const VJSONObject* inObject, Buffer& ioBuffer)
{
    VJSONValue value(JSON_null);
    if (inObject != nullptr)
    {
        value.SetObject(const_cast<VJSONObject*>(inObject));
    }
    return StreamValue(value, ioBuffer);
}

VError VJSONBinaryWriter::StreamArray(const VJSONArray* inArray, Buffer& ioBuffer)
{
    VJSONValue value(JSON_null);
    if (inArray != nullptr)
    {
        value.SetArray(const_cast<VJSONArray*>(inArray));
    }
    return StreamValue(value, ioBuffer);
}

void VJSONBinaryWriter::BuildPathPointerString(const PathPart* inPart, VString& outText)
{
    std::vector<const PathPart*> parts;
    for (const PathPart* part = inPart; part != nullptr; part = part->fParent)
    {
        parts.push_back(part);
    }
    std::u16string text(u"#");
    for (auto i = parts.rbegin(); i != parts.rend(); ++i)
    {
        const PathPart* part = *i;
        AppendStep(text, part->fName != nullptr ? part->fName->GetUnits() : std::u16string_view(),
                   part->fName == nullptr, part->fIndex);
    }
    outText = ToVString(text);
}

// ---------------------------------------------------------------------------------------------
// Records

bool VJSONBinaryWriter::_Put(Buffer& ioBuffer, const void* inData, size_t inSize)
{
    if (!fFailed && !ioBuffer.AddData(inData, inSize))
    {
        fFailed = true;
    }
    return !fFailed;
}

template <class T>
bool VJSONBinaryWriter::_PutInteger(Buffer& ioBuffer, T inValue)
{
    return _Put(ioBuffer, &inValue, sizeof(inValue));
}

VError VJSONBinaryWriter::_WriteName(std::u16string_view inName, Buffer& ioBuffer)
{
    if (inName.size() > json_compact::kMaxNameLength)
    {
        VString name(reinterpret_cast<const UniChar*>(inName.data()), static_cast<int32_t>(inName.size()));
        return _ThrowError(VE_INVALID_PARAMETER, &name);
    }
    _PutInteger(ioBuffer, static_cast<uint16_t>(inName.size()));
    _Put(ioBuffer, inName.data(), inName.size() * 2);
    return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
}

VError VJSONBinaryWriter::_StreamValue(const VJSONValue& inValue, Buffer& ioBuffer, const PathPart* inPart)
{
    JSONType type = inValue.GetType();
    const IRefCountable* container =
        type == JSON_object  ? static_cast<const IRefCountable*>(inValue.GetObject())
        : type == JSON_array ? static_cast<const IRefCountable*>(inValue.GetArray())
                             : nullptr;
    if (container != nullptr)
    {
        // The start is always entered; below it, a container held only by its parent cannot be
        // met again.
        if (inPart == nullptr || container->GetRefCount() > 1)
        {
            auto [entry, inserted] = fWritten.try_emplace(container);
            if (!inserted)
            {
                const VString& pointer = entry->second;
                _PutInteger(ioBuffer, json_compact::kReference);
                _PutInteger(ioBuffer, static_cast<uint32_t>(pointer.GetLength()));
                _Put(ioBuffer, pointer.GetCPointer(), static_cast<size_t>(pointer.GetLength()) * 2);
                return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
            }
            BuildPathPointerString(inPart, entry->second);
        }
        return type == JSON_object ? _StreamObject(inValue.GetObject(), ioBuffer, inPart)
                                   : _StreamArray(inValue.GetArray(), ioBuffer, inPart);
    }
    switch (type)
    {
    case JSON_string:
    {
        std::u16string_view units = inValue.GetStringUnits();
        _PutInteger(ioBuffer, json_compact::kString);
        _PutInteger(ioBuffer, static_cast<uint32_t>(units.size()));
        _Put(ioBuffer, units.data(), units.size() * 2);
        break;
    }
    case JSON_number:
    {
        double number = inValue.GetNumber();
        _PutInteger(ioBuffer, json_compact::kNumber);
        _Put(ioBuffer, &number, sizeof(number));
        break;
    }
    case JSON_date:
    {
        VTime time;
        inValue.GetTime(time);
        _PutInteger(ioBuffer, json_compact::kDate);
        _PutInteger(ioBuffer, static_cast<int64_t>(time.GetMilliseconds()));
        break;
    }
    case JSON_object:
    case JSON_array: // a null container
        _PutInteger(ioBuffer, json_compact::kNull);
        break;
    default: // null, false, true, undefined: the type is the tag
        _PutInteger(ioBuffer, static_cast<uint8_t>(type));
        break;
    }
    return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
}

VError VJSONBinaryWriter::_StreamArray(const VJSONArray* inArray, Buffer& ioBuffer, const PathPart* inPart)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    std::span<const VJSONValue> elements = inArray->GetElements();
    _PutInteger(ioBuffer, json_compact::kArray);
    _PutInteger(ioBuffer, static_cast<uint32_t>(elements.size()));
    if (fFailed)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    for (size_t i = 0; i < elements.size(); ++i)
    {
        const PathPart part{inPart, nullptr, i};
        if (VError error = _StreamValue(elements[i], ioBuffer, &part); error != VE_OK)
        {
            return error;
        }
    }
    return VE_OK;
}

VError VJSONBinaryWriter::_StreamObject(const VJSONObject* inObject, Buffer& ioBuffer, const PathPart* inPart)
{
    IJSONObject* implementation = inObject->GetImplementation();
    if (implementation != nullptr)
    {
        // The implementation may stand for another value in the compact form.
        VJSONValue replacement;
        replacement.SetObject(const_cast<VJSONObject*>(inObject));
        implementation->IJSON_GetValueToWriteToBuffer(replacement);
        if (replacement.GetObject() != inObject)
        {
            // Written in the object's place, under the object's own path.
            fWritten.erase(inObject);
            return _StreamValue(replacement, ioBuffer, inPart);
        }
    }
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return guard.GetError();
    }
    uint32_t signature = implementation != nullptr ? implementation->IJSON_GetBinarySignature() : 0;
    _PutInteger(ioBuffer, json_compact::kObject);
    if (fFailed)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    if (implementation == nullptr && !inObject->HasStorageLocker())
    {
        // A plain object's own properties, read in place.
        for (const VJSONObject::OwnProperty& property : inObject->GetOwnProperties())
        {
            if (VError error = _WriteName(property.fKey.GetUnits(), ioBuffer); error != VE_OK)
            {
                return error;
            }
            const PathPart part{inPart, &property.fKey, 0};
            if (VError error = _StreamValue(property.fValue, ioBuffer, &part); error != VE_OK)
            {
                return error;
            }
        }
    }
    else
    {
        uint32_t options = signature != 0 ? VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly
                                          : VJSONPropertyConstOrderedIterator::eNoClassGetters;
        for (VJSONPropertyConstOrderedIterator i(inObject, options); i.IsValid(); ++i)
        {
            VJSONKey name(i.GetName());
            if (VError error = _WriteName(name.GetUnits(), ioBuffer); error != VE_OK)
            {
                return error;
            }
            const PathPart part{inPart, &name, 0};
            if (VError error = _StreamValue(i.GetValue(), ioBuffer, &part); error != VE_OK)
            {
                return error;
            }
        }
    }
    return _StreamTrailer(inObject, signature, ioBuffer);
}

VError VJSONBinaryWriter::_StreamTrailer(const VJSONObject* inObject, uint32_t inSignature, Buffer& ioBuffer)
{
    IJSONObject* implementation = inObject->GetImplementation();
    if (inSignature != 0)
    {
        _PutInteger(ioBuffer, json_compact::kSignatureTrailer);
        _PutInteger(ioBuffer, inSignature);
        if (fFailed)
        {
            return _ThrowError(VE_MEMORY_FULL);
        }
        VError error = VE_OK;
        EJSONStatus status = implementation->IJSON_WriteToBuffer(ioBuffer, &error);
        if (status == eJSONStatusFailed)
        {
            return error != VE_OK ? error : _ThrowError(VE_JSON_NO_BINARY_FORM);
        }
        if (status == eJSONStatusNotHandled)
        {
            _PutInteger(ioBuffer, static_cast<uint64_t>(0));
        }
        return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
    }
    const VJSONClass* objectClass = inObject->GetClass();
    bool plain = objectClass == nullptr || implementation != nullptr ||
                 (objectClass->GetDepth() == 0 && objectClass->GetName().EqualToUSASCIICString("Object"));
    if (plain)
    {
        _PutInteger(ioBuffer, json_compact::kPlainTrailer);
        return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
    }
    const VString& store = objectClass->GetStoreName();
    const VString& name = objectClass->GetName();
    _PutInteger(ioBuffer, json_compact::kSignatureTrailer);
    _PutInteger(ioBuffer, json_compact::kClassSignature);
    _PutInteger(ioBuffer, static_cast<uint64_t>(store.GetLength() + name.GetLength()) * 2 + 4);
    for (const VString* text : {&store, &name})
    {
        std::u16string_view units(reinterpret_cast<const char16_t*>(text->GetCPointer()),
                                  static_cast<size_t>(text->GetLength()));
        if (VError error = _WriteName(units, ioBuffer); error != VE_OK)
        {
            return error;
        }
    }
    return fFailed ? _ThrowError(VE_MEMORY_FULL) : VE_OK;
}

} // namespace zorn
