#include "toolbox/json/VJSONValue.h"

#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <cmath>
#include <vector>

namespace zorn
{

// The constants take the first five stamps, in this order; values made afterwards continue from
// there. All are constant-initialised, so they are valid before any static initialiser runs.
constinit const VJSONValue VJSONValue::sUndefined(Constant{}, JSON_undefined, 1);
constinit const VJSONValue VJSONValue::sNull(Constant{}, JSON_null, 2);
constinit const VJSONValue VJSONValue::sTrue(Constant{}, JSON_true, 3);
constinit const VJSONValue VJSONValue::sFalse(Constant{}, JSON_false, 4);
constinit const VJSONValue VJSONValue::sLastType(Constant{}, static_cast<JSONType>(9), 5);
constinit std::atomic<uint32_t> VJSONValue::sStamp{5};

const VString& VJSONValue::UndefinedString()
{
    static const CVSTR_struct sText(u"undefined");
    return sText;
}

const VString& VJSONValue::NullString()
{
    static const CVSTR_struct sText(u"null");
    return sText;
}

const VString& VJSONValue::TrueString()
{
    static const CVSTR_struct sText(u"true");
    return sText;
}

const VString& VJSONValue::FalseString()
{
    static const CVSTR_struct sText(u"false");
    return sText;
}

const VString& VJSONValue::ObjectString()
{
    static const CVSTR_struct sText(u"[object Object]");
    return sText;
}

// Construction

VJSONValue::VJSONValue(JSONType inType) : fType(inType), fStamp(NextStamp())
{
    switch (inType)
    {
    case JSON_string:
        fPayload.fText = {nullptr, 0, 0};
        break;
    case JSON_object:
        fPayload.fObject = new VJSONObject();
        break;
    case JSON_array:
        fPayload.fArray = new VJSONArray();
        break;
    case JSON_date:
        fPayload.fDate = 0;
        break;
    default:
        fPayload.fNumber = 0;
        break;
    }
}

VJSONValue::VJSONValue(VJSONObject* inObject) : fType(JSON_null), fStamp(NextStamp())
{
    fPayload.fNumber = 0;
    SetObject(inObject);
}

VJSONValue::VJSONValue(VJSONArray* inArray) : fType(JSON_null), fStamp(NextStamp())
{
    fPayload.fNumber = 0;
    SetArray(inArray);
}

VJSONValue::VJSONValue(const VString& inString) : fType(JSON_null), fStamp(NextStamp())
{
    fPayload.fNumber = 0;
    SetString(inString);
}

VJSONValue::VJSONValue(const VInlineString& inString) : fType(JSON_null), fStamp(NextStamp())
{
    fPayload.fNumber = 0;
    SetString(inString);
}

VJSONValue::VJSONValue(double inNumber) : fType(JSON_number), fStamp(NextStamp())
{
    fPayload.fNumber = inNumber;
}

VJSONValue::VJSONValue(const VJSONValue& inOther) : fType(inOther.fType), fStamp(NextStamp())
{
    _CopyPayloadFrom(inOther);
}

VJSONValue& VJSONValue::operator=(const VJSONValue& inOther)
{
    if (this != &inOther)
    {
        // The other value may be owned by this one's payload (a property of the object held
        // here): keep a reference on it until the copy is made.
        VJSONValue old(std::move(*this));
        fType = inOther.fType;
        _CopyPayloadFrom(inOther);
        fStamp = NextStamp();
    }
    return *this;
}

VJSONValue& VJSONValue::operator=(VJSONValue&& inOther) noexcept
{
    if (this != &inOther)
    {
        VJSONValue old(std::move(*this));
        fType = inOther.fType;
        fStamp = inOther.fStamp;
        fPayload = inOther.fPayload;
        inOther._LosePayload();
    }
    return *this;
}

void VJSONValue::_CopyPayloadFrom(const VJSONValue& inOther)
{
    fPayload = inOther.fPayload;
    switch (fType)
    {
    case JSON_object:
        fPayload.fObject->Retain();
        break;
    case JSON_array:
        fPayload.fArray->Retain();
        break;
    case JSON_string:
        _Inline().Retain();
        break;
    default:
        break;
    }
}

void VJSONValue::_ReleasePayload()
{
    switch (fType)
    {
    case JSON_object:
        fPayload.fObject->Release();
        break;
    case JSON_array:
        fPayload.fArray->Release();
        break;
    case JSON_string:
        if (fPayload.fText.fString != nullptr)
        {
            VInlineString text = _Inline();
            text.Release();
        }
        break;
    default:
        break;
    }
}

VString VJSONValue::_Text() const
{
    return VString(_Inline(), true);
}

// Setters

void VJSONValue::SetNull()
{
    _ReleasePayload();
    fType = JSON_null;
    fPayload.fNumber = 0;
}

void VJSONValue::SetUndefined()
{
    _ReleasePayload();
    fType = JSON_undefined;
    fPayload.fNumber = 0;
}

void VJSONValue::SetBool(bool inValue)
{
    _ReleasePayload();
    fType = inValue ? JSON_true : JSON_false;
    fPayload.fNumber = 0;
}

void VJSONValue::SetNumber(double inNumber)
{
    _ReleasePayload();
    fType = JSON_number;
    fPayload.fNumber = inNumber;
}

void VJSONValue::_SetStringPayload(UniChar* inRetainedBuffer, int32_t inLength, int32_t inCapacity)
{
    _ReleasePayload();
    fType = JSON_string;
    fPayload.fText = {inRetainedBuffer, inLength, inCapacity};
}

void VJSONValue::SetString(const VString& inString)
{
    if (inString.IsNull())
    {
        SetNull();
        return;
    }
    if (fType == JSON_string && fPayload.fText.fString != nullptr &&
        fPayload.fText.fString == inString.GetCPointer())
    {
        fPayload.fText.fLength = inString.GetLength();
        return;
    }
    int32_t length = 0;
    int32_t capacity = 0;
    UniChar* buffer = inString.RetainBuffer(length, capacity);
    _SetStringPayload(buffer, length, capacity);
}

void VJSONValue::SetString(const VInlineString& inString)
{
    if (fType == JSON_string && fPayload.fText.fString != nullptr &&
        fPayload.fText.fString == inString.fString)
    {
        fPayload.fText.fLength = inString.fLength;
        return;
    }
    inString.Retain();
    _SetStringPayload(inString.fString, inString.fString == nullptr ? 0 : inString.fLength,
                      inString.fString == nullptr ? 0 : inString.fMaxLength);
}

void VJSONValue::SetObject(VJSONObject* inObject)
{
    if (inObject == nullptr)
    {
        SetNull();
        return;
    }
    if (fType == JSON_object && fPayload.fObject == inObject)
    {
        return;
    }
    inObject->Retain();
    _ReleasePayload();
    fType = JSON_object;
    fPayload.fObject = inObject;
}

void VJSONValue::SetArray(VJSONArray* inArray)
{
    if (inArray == nullptr)
    {
        SetNull();
        return;
    }
    if (fType == JSON_array && fPayload.fArray == inArray)
    {
        return;
    }
    inArray->Retain();
    _ReleasePayload();
    fType = JSON_array;
    fPayload.fArray = inArray;
}

void VJSONValue::AdoptObject(VJSONObject* inObject)
{
    if (inObject == nullptr)
    {
        SetNull();
        return;
    }
    if (fType == JSON_object && fPayload.fObject == inObject)
    {
        inObject->Release();
        return;
    }
    _ReleasePayload();
    fType = JSON_object;
    fPayload.fObject = inObject;
}

void VJSONValue::AdoptArray(VJSONArray* inArray)
{
    if (inArray == nullptr)
    {
        SetNull();
        return;
    }
    if (fType == JSON_array && fPayload.fArray == inArray)
    {
        inArray->Release();
        return;
    }
    _ReleasePayload();
    fType = JSON_array;
    fPayload.fArray = inArray;
}

void VJSONValue::SetDate(short inYear, short inMonth, short inDay)
{
    _ReleasePayload();
    fType = JSON_date;
    fPayload.fDate = (static_cast<uint32_t>(static_cast<uint16_t>(inYear)) << 16) +
                     (static_cast<uint32_t>(static_cast<uint16_t>(inMonth)) << 8) +
                     static_cast<uint32_t>(static_cast<uint16_t>(inDay));
}

void VJSONValue::Clear()
{
    switch (fType)
    {
    case JSON_true:
        fType = JSON_false;
        break;
    case JSON_string:
        _SetStringPayload(nullptr, 0, 0);
        break;
    case JSON_number:
        fPayload.fNumber = 0;
        break;
    case JSON_object:
    case JSON_array:
        SetNull();
        break;
    case JSON_date:
        fPayload.fDate = 0;
        break;
    default:
        break;
    }
}

// Getters

bool VJSONValue::GetBool() const
{
    switch (fType)
    {
    case JSON_true:
    case JSON_object:
    case JSON_array:
        return true;
    case JSON_string:
        return fPayload.fText.fString != nullptr;
    case JSON_number:
        return fPayload.fNumber != 0;
    case JSON_date:
        return fPayload.fDate != 0;
    default:
        return false;
    }
}

double VJSONValue::GetNumber() const
{
    switch (fType)
    {
    case JSON_number:
        return fPayload.fNumber;
    case JSON_true:
        return 1.0;
    case JSON_string:
    {
        VString text = _Text();
        if (text.GetLength() >= 2 && text.GetUniChar(1) == u'0' &&
            (text.GetUniChar(2) == u'x' || text.GetUniChar(2) == u'X'))
        {
            return static_cast<double>(static_cast<uint64_t>(text.GetHexLong()));
        }
        return text.GetReal();
    }
    default:
        return 0.0;
    }
}

VError VJSONValue::GetString(VString& outString, std::unordered_set<const VJSONArray*>* ioVisited) const
{
    switch (fType)
    {
    case JSON_false:
        outString = FalseString();
        return VE_OK;
    case JSON_true:
        outString = TrueString();
        return VE_OK;
    case JSON_string:
        outString.FromString(_Inline());
        return VE_OK;
    case JSON_number:
        return VReal(fPayload.fNumber).GetJSONString(outString, 0);
    case JSON_object:
        outString = ObjectString();
        return VE_OK;
    case JSON_array:
        return fPayload.fArray->GetString(outString, ioVisited);
    case JSON_date:
        return _GetDateString(outString);
    default:
        outString.Clear();
        return VE_OK;
    }
}

bool VJSONValue::GetDate(short* outYear, short* outMonth, short* outDay) const
{
    bool isDate = fType == JSON_date;
    uint32_t date = isDate ? fPayload.fDate : 0;
    if (outYear != nullptr)
    {
        *outYear = static_cast<short>(static_cast<uint16_t>(date >> 16));
    }
    if (outMonth != nullptr)
    {
        *outMonth = static_cast<short>((date >> 8) & 0xFF);
    }
    if (outDay != nullptr)
    {
        *outDay = static_cast<short>(date & 0xFF);
    }
    return isDate;
}

VJSONObject* VJSONValue::RetainObject() const
{
    return RetainRefCountable(GetObject());
}

VJSONArray* VJSONValue::RetainArray() const
{
    return RetainRefCountable(GetArray());
}

VValueSingle* VJSONValue::CreateVValue(bool inWithMarkers) const
{
    auto marker = [inWithMarkers](UniChar inLast) -> VValueSingle*
    {
        if (!inWithMarkers)
        {
            return new VString(true);
        }
        const UniChar units[] = {1, 2, 3, inLast};
        return new VString(units, 4);
    };
    switch (fType)
    {
    case JSON_false:
    case JSON_true:
        return new VBoolean(fType == JSON_true);
    case JSON_string:
        return new VString(_Inline());
    case JSON_number:
        return new VReal(fPayload.fNumber);
    case JSON_object:
        if (IJSONObject* implementation = fPayload.fObject->GetImplementation())
        {
            if (VValueSingle* value = implementation->IJSON_CreateVValue())
            {
                return value;
            }
        }
        return marker(1);
    case JSON_array:
        return marker(2);
    case JSON_date:
        return _CreateTime();
    default:
        return new VString(true);
    }
}

// Properties

VJSONValue VJSONValue::GetProperty(const VString& inName) const
{
    return fType == JSON_object ? fPayload.fObject->GetProperty(inName) : sUndefined;
}

void VJSONValue::SetProperty(const VString& inName, const VJSONValue& inValue) const
{
    if (fType == JSON_object)
    {
        fPayload.fObject->SetProperty(inName, inValue);
    }
}

bool VJSONValue::GetBoolByPath(const VJSONValue& inValue, const VString& inPath)
{
    return inValue.IsObject() && inValue.GetObject()->GetPropertyWithPath(inPath).GetType() == JSON_true;
}

int32_t VJSONValue::GetLongByPath(const VJSONValue& inValue, const VString& inPath)
{
    if (!inValue.IsObject())
    {
        return 0;
    }
    VJSONValue found = inValue.GetObject()->GetPropertyWithPath(inPath);
    if (!found.IsNumber())
    {
        return 0;
    }
    // Truncated toward zero; NaN and numbers beyond 32 bits give 0 rather than an undefined cast.
    double number = std::trunc(found.GetNumber());
    return number >= INT32_MIN && number <= INT32_MAX ? static_cast<int32_t>(number) : 0;
}

bool VJSONValue::GetStringByPath(const VJSONValue& inValue, const VString& inPath, VString& outString)
{
    if (!inValue.IsObject())
    {
        return false;
    }
    VJSONValue found = inValue.GetObject()->GetPropertyWithPath(inPath);
    if (!found.IsString())
    {
        return false;
    }
    found.GetString(outString);
    return true;
}

// Comparison

CompareResult VJSONValue::CompareTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const
{
    if (fType != inOther.fType)
    {
        auto isVoid = [](JSONType inType) { return inType == JSON_null || inType == JSON_undefined; };
        if (isVoid(fType) && isVoid(inOther.fType))
        {
            return CR_EQUAL;
        }
        return fType < inOther.fType ? CR_SMALLER : CR_BIGGER;
    }
    auto byAddress = [](const void* inA, const void* inB)
    { return inA == inB ? CR_EQUAL : (std::less<const void*>()(inA, inB) ? CR_SMALLER : CR_BIGGER); };
    switch (fType)
    {
    case JSON_string:
    {
        // The string comparison of the value model: like patterns, begins-with, diacritical and
        // the options' international manager (the current task's when none).
        VString other = inOther._Text();
        return _Text().CompareToSameKindWithOptions(&other, inOptions);
    }
    case JSON_number:
        return VReal::Info().CompareTwoPtrToDataWithOptions(&fPayload.fNumber, &inOther.fPayload.fNumber,
                                                            inOptions);
    case JSON_object:
        return byAddress(fPayload.fObject, inOther.fPayload.fObject);
    case JSON_array:
        return byAddress(fPayload.fArray, inOther.fPayload.fArray);
    case JSON_date:
    {
        auto a = static_cast<int32_t>(fPayload.fDate);
        auto b = static_cast<int32_t>(inOther.fPayload.fDate);
        return a == b ? CR_EQUAL : (a < b ? CR_SMALLER : CR_BIGGER);
    }
    default:
        return CR_EQUAL;
    }
}

bool VJSONValue::DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions) const
{
    VJSONVisitedPairs path;
    return DeepEqualTo(inOther, inOptions, path);
}

bool VJSONValue::DeepEqualTo(const VJSONValue& inOther, const VCompareOptions& inOptions,
                             VJSONVisitedPairs& ioPath) const
{
    if (fType != inOther.fType)
    {
        return false;
    }
    if (fType == JSON_array)
    {
        return fPayload.fArray->DeepEqualTo(inOther.fPayload.fArray, inOptions, ioPath);
    }
    if (fType == JSON_object)
    {
        return fPayload.fObject->DeepEqualTo(inOther.fPayload.fObject, inOptions, ioPath);
    }
    return CompareTo(inOther, inOptions) == CR_EQUAL;
}

// Change stamps of trees

void VJSONValue::CheckAndUpdateJsonStamp(const VJSONValue& inValue, VJSONStamp* inStamp)
{
    if (inStamp == nullptr)
    {
        return;
    }
    inStamp->Increment();
    VJSONStamp* current = inValue.IsObject()  ? inValue.GetObject()->GetJSONStamp()
                          : inValue.IsArray() ? inValue.GetArray()->GetJSONStamp()
                                              : inStamp;
    if (current != inStamp)
    {
        _ChangeJSONStamp(inValue, inStamp);
    }
}

void VJSONValue::_ChangeJSONStamp(const VJSONValue& inValue, VJSONStamp* inStamp)
{
    // A walk with its own stack of containers still to visit, so that a tree of any depth gets
    // its new stamp without recursion. Each container is retained while it waits: giving the
    // stamp to one runs no code of the tree's, but the containers are the caller's to change.
    std::vector<VJSONValue> pending;
    std::unordered_set<const void*> visited;
    auto push = [&](const VJSONValue& inChild)
    {
        const void* container = inChild.IsObject()  ? static_cast<const void*>(inChild.GetObject())
                                : inChild.IsArray() ? static_cast<const void*>(inChild.GetArray())
                                                    : nullptr;
        if (container != nullptr && visited.insert(container).second)
        {
            pending.push_back(inChild);
        }
    };
    push(inValue);
    while (!pending.empty())
    {
        VJSONValue value(std::move(pending.back()));
        pending.pop_back();
        if (VJSONArray* array = value.GetArray())
        {
            array->SetJSONStamp(inStamp);
            for (const VJSONValue& element : array->GetElements())
            {
                push(element);
            }
        }
        else if (VJSONObject* object = value.GetObject())
        {
            object->SetJSONStamp(inStamp);
            for (const VJSONObject::OwnProperty& property : object->GetOwnProperties())
            {
                push(property.fValue);
            }
        }
    }
}

} // namespace zorn
static_assert(sizeof(zorn::VJSONValue) == 24, "a value is a type, a stamp and a 16-byte payload");
