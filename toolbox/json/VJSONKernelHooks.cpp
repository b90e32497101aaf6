// The kernel's entries into the JSON layer: error parameters live in VJSONObjects, strings fill
// placeholders from them, and the scalar kinds and strings read and write VJSONValues. They are
// installed before main in every program linked with this library (the library's link options pull
// this file in even when the program names nothing of it), and again, to the same effect, by the
// first JSON object.
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VJSONBlob.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/values/VBlob.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cmath>
#include <unordered_set>
#include <vector>

namespace zorn
{

namespace
{

VJSONObject* CreateObject()
{
    return new VJSONObject();
}

VJSONObject* CloneDeep(const VJSONObject* inObject)
{
    if (inObject == nullptr)
    {
        return nullptr;
    }
    VJSONCloner cloner;
    VJSONValue clone;
    cloner.CloneObject(inObject, clone);
    return clone.RetainObject();
}

void RetainObject(const VJSONObject* inObject)
{
    inObject->Retain();
}

void ReleaseObject(const VJSONObject* inObject)
{
    inObject->Release();
}

void SetString(VJSONObject* ioObject, const VString& inName, const VString& inValue)
{
    ioObject->SetProperty(inName, VJSONValue(inValue));
}

void SetNumber(VJSONObject* ioObject, const VString& inName, double inValue)
{
    ioObject->SetProperty(inName, VJSONValue(inValue));
}

bool GetString(const VJSONObject* inObject, const VString& inName, VString& outValue)
{
    VJSONValue value = inObject->GetProperty(inName);
    if (!value.IsString())
    {
        return false;
    }
    value.GetString(outValue);
    return true;
}

bool GetNumber(const VJSONObject* inObject, const VString& inName, double& outValue)
{
    VJSONValue value = inObject->GetProperty(inName);
    if (!value.IsNumber())
    {
        return false;
    }
    outValue = value.GetNumber();
    return true;
}

// The text of a value that is neither undefined nor null.
bool TextOf(const VJSONValue& inValue, VString& outText)
{
    if (inValue.IsUndefined() || inValue.IsNull())
    {
        return false;
    }
    inValue.GetString(outText);
    return true;
}

bool GetText(const VJSONObject* inObject, const VString& inName, VString& outText)
{
    return TextOf(inObject->GetProperty(inName), outText);
}

bool CopyProperty(const VJSONObject* inFrom, VJSONObject* ioTo, const VString& inName)
{
    VJSONValue value = inFrom->GetProperty(inName);
    if (value.IsUndefined())
    {
        return false;
    }
    ioTo->SetProperty(inName, value);
    return true;
}

bool IsEmpty(const VJSONObject* inObject)
{
    return inObject->IsEmpty();
}

bool GetTextWithPath(const VJSONObject* inObject, const VString& inPath, VString& outText)
{
    return TextOf(inObject->GetPropertyWithPath(inPath), outText);
}

void SetBool(VJSONObject* ioObject, const VString& inName, bool inValue)
{
    ioObject->SetProperty(inName, inValue ? VJSONValue::sTrue : VJSONValue::sFalse);
}

bool GetBool(const VJSONObject* inObject, const VString& inName, bool& outValue)
{
    VJSONValue value = inObject->GetProperty(inName);
    if (!value.IsBool())
    {
        return false;
    }
    outValue = value.GetBool();
    return true;
}

void SetObject(VJSONObject* ioObject, const VString& inName, VJSONObject* inValue)
{
    ioObject->SetProperty(inName, VJSONValue(inValue));
}

void SetObjectArray(VJSONValue& ioValue, VJSONObject* const* inObjects, size_t inCount);

void SetObjectArrayProperty(VJSONObject* ioObject, const VString& inName, VJSONObject* const* inValues,
                            size_t inCount)
{
    VJSONValue array;
    SetObjectArray(array, inValues, inCount);
    ioObject->SetProperty(inName, array);
}

constexpr detail::VJSONObjectAccess kObjectAccess = {
    CreateObject, CloneDeep, RetainObject, ReleaseObject,          SetString, SetNumber,
    GetString,    GetNumber, GetText,      CopyProperty,           IsEmpty,   GetTextWithPath,
    SetBool,      GetBool,   SetObject,    SetObjectArrayProperty,
};

void GetScalar(const VJSONValue& inValue, detail::JSONScalar& outScalar)
{
    outScalar.fIsNull = inValue.IsNull();
    outScalar.fNumber = inValue.GetNumber();
    outScalar.fBool = inValue.GetBool();
}

void SetObjectArray(VJSONValue& ioValue, VJSONObject* const* inObjects, size_t inCount)
{
    VJSONArray* array = new VJSONArray();
    for (size_t i = 0; i < inCount; ++i)
    {
        array->Push(VJSONValue(inObjects[i]));
    }
    ioValue.SetArray(array);
    array->Release();
}

void GetStringOrNull(const VJSONValue& inValue, VString& outString)
{
    if (inValue.IsNull())
    {
        outString.SetNull(true);
    }
    else
    {
        inValue.GetString(outString);
    }
}

VError TextToBag(const VString& inText, VValueBag& ioBag, uint32_t inImporterOptions)
{
    VJSONImporter importer(inText, inImporterOptions);
    return importer.JSONObjectToBag(ioBag);
}

VJSONObject* ParseObject(const VString& inText, VError& outError)
{
    VJSONValue value;
    outError = value.ParseFromString(inText);
    return outError == VE_OK ? value.RetainObject() : nullptr;
}

void SetObjectOrUndefined(VJSONValue& ioValue, VJSONObject* inObject)
{
    if (inObject == nullptr)
    {
        ioValue.SetUndefined();
    }
    else
    {
        ioValue.SetObject(inObject);
    }
}

VError ObjectToBag(const VJSONObject* inObject, VValueBag& ioBag);

bool IsBlob(const VJSONValue& inValue)
{
    return inValue.IsObject() && VJSONBlob::CastJSONObject(inValue.GetObject()) != nullptr;
}

// One scalar as JSONObjectToBag stores it, but without reading dates out of strings: a string
// stays a string, a number is a VLong8 when integral within 64 bits, a JSON date a VTime, a
// "Blob" object a blob.
void ScalarToBag(const VJSONValue& inValue, const VValueBag::StKey& inKey, VValueBag& ioBag)
{
    if (IsBlob(inValue))
    {
        VBlobWithPtr blob;
        blob.FromJSONValue(inValue);
        ioBag.SetValue(inKey, blob);
    }
    else if (inValue.IsString())
    {
        VString text;
        inValue.GetString(text);
        ioBag.SetString(inKey, text);
    }
    else if (inValue.IsNumber())
    {
        const double number = inValue.GetNumber();
        // -0 stays a real: as an integer it would lose its sign.
        if (std::trunc(number) == number && number >= -0x1p63 && number < 0x1p63 &&
            !(number == 0 && std::signbit(number)))
        {
            ioBag.SetLong8(inKey, static_cast<int64_t>(number));
        }
        else
        {
            ioBag.SetReal(inKey, number);
        }
    }
    else if (inValue.IsBool())
    {
        ioBag.SetBool(inKey, inValue.GetBool());
    }
    else if (inValue.IsDate())
    {
        VTime time;
        inValue.GetTime(time);
        ioBag.SetTime(inKey, time);
    }
    else if (inValue.IsNull())
    {
        ioBag.SetString(inKey, VString(true));
    }
}

// An array as a list of the name: objects as bags, scalars as "____FakeArrayElement" bags, an
// array inside the array as a bag marked with the name, holding its elements under that name.
VError ArrayToBag(const VJSONArray& inArray, const VString& inName, VValueBag& ioBag)
{
    static const VValueBag::StKey sFakeElement("____FakeArrayElement");
    static const VValueBag::StKey sArrayMarker(VValueBag::kJSONArrayMarker);
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return VE_JSON_NESTING_TOO_DEEP;
    }
    const VValueBag::StKey key(inName);
    for (size_t i = 0; i < inArray.GetCount(); ++i)
    {
        const VJSONValue element = inArray.GetAt(i);
        VRefPtr<VValueBag> child(new VValueBag(), true);
        if (element.IsObject() && !IsBlob(element))
        {
            if (VError err = ObjectToBag(element.GetObject(), *child); err != VE_OK)
            {
                return err;
            }
        }
        else if (element.IsArray())
        {
            child->SetString(sArrayMarker, inName);
            if (VError err = ArrayToBag(*element.GetArray(), inName, *child); err != VE_OK)
            {
                return err;
            }
        }
        else
        {
            ScalarToBag(element, sFakeElement, *child);
        }
        ioBag.AddElement(key, child.Get());
    }
    return VE_OK;
}

// The object as JSONObjectToBag reads its text ("__CDATA" as the character data, objects as
// single elements marked "____objectunic"), walked directly so that nothing is re-read.
VError ObjectToBag(const VJSONObject* inObject, VValueBag& ioBag)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return VE_JSON_NESTING_TOO_DEEP;
    }
    for (const VJSONObject::OwnProperty& property : inObject->GetOwnProperties())
    {
        const VString name = property.fKey.GetString();
        const VValueBag::StKey key(name);
        const VJSONValue& value = property.fValue;
        VError err = VE_OK;
        if (value.IsObject() && !IsBlob(value))
        {
            VRefPtr<VValueBag> child(new VValueBag(), true);
            child->SetBool(VValueBag::StKey("____objectunic"), true);
            err = ObjectToBag(value.GetObject(), *child);
            if (err == VE_OK)
            {
                ioBag.AddElement(key, child.Get());
            }
        }
        else if (value.IsArray())
        {
            err = ArrayToBag(*value.GetArray(), name, ioBag);
        }
        else
        {
            ScalarToBag(value, name.EqualToUSASCIICString("__CDATA") ? VValueBag::CDataAttributeName() : key,
                        ioBag);
        }
        if (err != VE_OK)
        {
            return err;
        }
    }
    return VE_OK;
}

// The bag read back as the JSON value its text stands for (VValueBag::_GetJSONString), without
// the text: scalars that the text would round (reals) or re-read come across directly.
VError BagToValue(const VValueBag& inBag, bool inListElement, VJSONValue& outValue);

// One attribute value as the JSON value its text stands for.
VJSONValue ScalarFromBag(const VValueSingle* inValue)
{
    if (inValue == nullptr || inValue->IsNull())
    {
        return VJSONValue(JSON_null);
    }
    switch (inValue->GetValueKind())
    {
    case VK_STRING:
    {
        VString text;
        inValue->GetString(text);
        return VJSONValue(text);
    }
    case VK_BOOLEAN:
        return VJSONValue(inValue->GetBoolean() ? JSON_true : JSON_false);
    case VK_BYTE:
    case VK_WORD:
    case VK_LONG:
    case VK_LONG8:
    case VK_REAL:
        return VJSONValue(inValue->GetReal());
    case VK_BLOB:
    {
        VJSONValue value;
        inValue->GetJSONValue(value);
        return value;
    }
    default:
    {
        // Other kinds (times, UUIDs, durations...) as their text reads.
        VString text;
        inValue->GetJSONString(text, 513);
        VJSONValue value;
        StErrorContextInstaller quiet(false, true);
        if (value.ParseFromString(text) != VE_OK)
        {
            value = VJSONValue(text);
        }
        return value;
    }
    }
}

VError ListToArray(const VBagArray* inList, VJSONValue& outValue)
{
    VJSONArray* array = new VJSONArray();
    outValue.AdoptArray(array);
    for (int32_t i = 1; inList != nullptr && i <= inList->GetCount(); ++i)
    {
        VJSONValue element;
        if (VError err = BagToValue(*inList->GetNth(i), true, element); err != VE_OK)
        {
            return err;
        }
        array->Push(std::move(element));
    }
    return VE_OK;
}

VError BagToValue(const VValueBag& inBag, bool inListElement, VJSONValue& outValue)
{
    static const VValueBag::StKey sFakeElement("____FakeArrayElement");
    static const VValueBag::StKey sObjectMarker("____objectunic");
    static const VValueBag::StKey sArrayMarker(VValueBag::kJSONArrayMarker);
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return VE_JSON_NESTING_TOO_DEEP;
    }
    VString name;
    if (inBag.AttributeExists(sFakeElement))
    {
        for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
        {
            const VValueSingle* value = inBag.GetNthAttribute(i, &name);
            if (name.EqualToUSASCIICString("____FakeArrayElement"))
            {
                outValue = ScalarFromBag(value);
                return VE_OK;
            }
        }
    }
    if (VString listName; inListElement && inBag.GetString(sArrayMarker, listName))
    {
        return ListToArray(inBag.GetElements(VValueBag::StKey(listName)), outValue);
    }
    VJSONObject* object = new VJSONObject();
    outValue.AdoptObject(object);
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (name.EqualToUSASCIICString("____objectunic") ||
            name.EqualToUSASCIICString(VValueBag::kJSONArrayMarker))
        {
            continue;
        }
        object->SetProperty(name.EqualToUSASCIICString("<>") ? VString("__CDATA") : name,
                            ScalarFromBag(value));
    }
    for (int32_t i = 1; i <= inBag.GetElementNamesCount(); ++i)
    {
        const VBagArray* list = inBag.GetNthElementName(i, &name);
        const VValueBag* only = list != nullptr && list->GetCount() == 1 ? list->GetNth(1) : nullptr;
        VJSONValue value;
        VError err = only != nullptr && only->AttributeExists(sObjectMarker) ? BagToValue(*only, false, value)
                                                                             : ListToArray(list, value);
        if (err != VE_OK)
        {
            return err;
        }
        object->SetProperty(name, value);
    }
    return VE_OK;
}

VJSONObject* BagToObject(const VValueBag& inBag, VError& outError)
{
    VJSONValue value;
    outError = BagToValue(inBag, false, value);
    return outError == VE_OK ? value.RetainObject() : nullptr;
}

// Calls inVisit on each object or array the value holds (itself included), each once, through
// own members and elements, until inVisit returns true; whether it did. Too deep a value is walked
// down to the nesting limit (its text fails there anyway).
template <class Visit>
bool AnyContainer(const VJSONValue& inValue, std::unordered_set<const void*>& ioSeen, const Visit& inVisit)
{
    StJSONNestingGuard guard;
    const void* container = inValue.IsObject() ? static_cast<const void*>(inValue.GetObject())
                                               : static_cast<const void*>(inValue.GetArray());
    if (guard.Failed() || container == nullptr || !ioSeen.insert(container).second)
    {
        return false;
    }
    if (inVisit(inValue))
    {
        return true;
    }
    if (const VJSONArray* array = inValue.GetArray())
    {
        for (const VJSONValue& element : array->GetElements())
        {
            if (AnyContainer(element, ioSeen, inVisit))
            {
                return true;
            }
        }
        return false;
    }
    for (const VJSONObject::OwnProperty& property : inValue.GetObject()->GetOwnProperties())
    {
        if (AnyContainer(property.fValue, ioSeen, inVisit))
        {
            return true;
        }
    }
    return false;
}

// The value's text for VValueBag::FromJSONValue: the text of VJSONValue::Stringify, but with
// every "Blob" object written as the "__PRIVATE_BINARY_OBJECT" object that carries it (in a
// copy of the value), so that the bag's reader makes a blob of it instead of a child bag.
VError StringifyForBag(const VJSONValue& inValue, VString& outText, uint32_t inOptions)
{
    std::unordered_set<const void*> seen;
    if (!AnyContainer(inValue, seen, IsBlob))
    {
        return inValue.Stringify(outText, inOptions);
    }
    VError error = VE_OK;
    const auto carry = [&error](const VJSONValue& inBlob, VJSONValue& outCarrier)
    {
        if (error == VE_OK)
        {
            error = VJSONBinaryObject::EncodeValue(inBlob, outCarrier);
        }
    };
    VJSONValue copy = inValue;
    if (IsBlob(inValue))
    {
        carry(inValue, copy);
    }
    else if (VJSONCloner cloner; (error = cloner.CloneValue(copy)) != VE_OK)
    {
        return error;
    }
    seen.clear();
    AnyContainer(copy, seen,
                 [&carry](const VJSONValue& inContainer)
                 {
                     if (VJSONArray* array = inContainer.GetArray())
                     {
                         for (size_t i = 0; i < array->GetCount(); ++i)
                         {
                             if (const VJSONValue element = array->GetAt(i); IsBlob(element))
                             {
                                 VJSONValue carrier;
                                 carry(element, carrier);
                                 array->SetAt(i, carrier, false);
                             }
                         }
                     }
                     else if (!IsBlob(inContainer))
                     {
                         VJSONObject* object = inContainer.GetObject();
                         std::vector<VString> names;
                         for (const VJSONObject::OwnProperty& property : object->GetOwnProperties())
                         {
                             if (IsBlob(property.fValue))
                             {
                                 names.push_back(property.fKey.GetString());
                             }
                         }
                         for (const VString& name : names)
                         {
                             VJSONValue carrier;
                             carry(object->GetOwnProperty(name), carrier);
                             object->SetOwnProperty(name, carrier);
                         }
                     }
                     return false;
                 });
    return error != VE_OK ? error : copy.Stringify(outText, inOptions);
}

constexpr detail::VBagJSONAccess kBagJSONAccess = {
    TextToBag, StringifyForBag, ParseObject, SetObjectOrUndefined, ObjectToBag, BagToObject,
};

// Runs before main in every program linked with the library.
[[maybe_unused]] const bool sInstalledBeforeMain = (VJSONValue::InstallKernelHooks(), true);

} // namespace

void VJSONValue::InstallKernelHooks()
{
    detail::VKernelHooks& hooks = detail::KernelHooks();
    hooks.fSetJSONUndefined.store([](VJSONValue& ioValue) { ioValue.SetUndefined(); });
    hooks.fSetJSONNull.store([](VJSONValue& ioValue) { ioValue.SetNull(); });
    hooks.fSetJSONNumber.store([](VJSONValue& ioValue, double inNumber) { ioValue.SetNumber(inNumber); });
    hooks.fSetJSONBool.store([](VJSONValue& ioValue, bool inBool) { ioValue.SetBool(inBool); });
    hooks.fGetJSONScalar.store(GetScalar);
    hooks.fSetJSONObjectArray.store(SetObjectArray);
    hooks.fSetJSONString.store([](VJSONValue& ioValue, const VString& inString)
                               { ioValue.SetString(inString); });
    hooks.fGetJSONString.store(GetStringOrNull);
    hooks.fBlobToJSON.store(VJSONBlob::BlobToJSON);
    hooks.fBlobFromJSON.store(VJSONBlob::BlobFromJSON);
    hooks.fBlobToJSONText.store(VJSONBlob::BlobToJSONText);
    hooks.fSetJSONTime.store([](VJSONValue& ioValue, const VTime& inTime) { ioValue.SetTime(inTime); });
    hooks.fJSONObjectAccess.store(&kObjectAccess, std::memory_order_release);
    hooks.fBagJSONAccess.store(&kBagJSONAccess, std::memory_order_release);
}

} // namespace zorn

// Named by the library's link options, so that the linker takes this file into every program.
extern "C" const bool zorn_json_kernel_hooks_anchor = true;
