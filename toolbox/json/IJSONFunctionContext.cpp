#include "toolbox/json/IJSONFunctionContext.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONBlob.h"
#include "toolbox/json/VJSONObject.h"

#include <cmath>

namespace zorn
{

// ---------------------------------------------------------------------------------------------
// IJSONFunctionContext

EJSONStatus IJSONFunctionContext::GetParameterList(void** /*outList*/, int* /*outCount*/, void** /*outExtra*/,
                                                   bool* /*outFlag*/)
{
    return eJSONStatusNotHandled;
}

VJSONClass* IJSONFunctionContext::GetScopeClass() const
{
    VJSONObject* function = GetScopeFunctionObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
        return nullptr;
    return function->GetImplementation()->IJSON_GetFunctionClassOwner(function);
}

void IJSONFunctionContext::_Invalid(VError inError)
{
    fParametersValid = false;
    _ThrowError(inError);
}

double IJSONFunctionContext::GetNumberParam(int inIndex)
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsNumber())
        _Invalid(VE_JSON_NUMBER_PARAM_EXPECTED);
    return value.GetNumber();
}

int32_t IJSONFunctionContext::GetLongParam(int inIndex)
{
    double number = GetNumberParam(inIndex);
    // Truncated toward zero; out of range (and NaN) would be undefined behaviour in the cast.
    if (!(number > -2147483649.0 && number < 2147483648.0))
        return std::isnan(number) ? 0 : (number < 0 ? INT32_MIN : INT32_MAX);
    return static_cast<int32_t>(number);
}

bool IJSONFunctionContext::GetNumberOptParam(int inIndex, double* outNumber)
{
    VJSONValue value = GetParam(inIndex);
    if (value.IsNumber())
    {
        *outNumber = value.GetNumber();
        return true;
    }
    if (value.IsUndefined())
        fParametersValid = false;
    else
        _Invalid(VE_JSON_NUMBER_PARAM_EXPECTED);
    return false;
}

bool IJSONFunctionContext::GetBoolParam(int inIndex)
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsBool())
        _Invalid(VE_JSON_BOOL_PARAM_EXPECTED);
    return value.GetBool();
}

VString IJSONFunctionContext::GetStringParam(int inIndex)
{
    VJSONValue value = GetParam(inIndex);
    VString text;
    if (value.IsString())
        value.GetString(text);
    else
        _Invalid(VE_JSON_STRING_PARAM_EXPECTED);
    return text;
}

VRefPtr<VJSONObject> IJSONFunctionContext::GetObjectParam(int inIndex)
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsObject())
    {
        _Invalid(VE_JSON_OBJECT_PARAM_EXPECTED);
        return nullptr;
    }
    return VRefPtr<VJSONObject>(value.GetObject());
}

VRefPtr<VJSONArray> IJSONFunctionContext::GetArrayParam(int inIndex)
{
    VJSONValue value = GetParam(inIndex);
    if (!value.IsArray())
    {
        _Invalid(VE_JSON_OBJECT_PARAM_EXPECTED);
        return nullptr;
    }
    return VRefPtr<VJSONArray>(value.GetArray());
}

VJSONBlobView IJSONFunctionContext::GetBlobParam(int inIndex, bool inOptional)
{
    VJSONBlobView view;
    VJSONValue value = GetParam(inIndex);
    if (value.IsObject() && VJSONBlob::GetView(value.GetObject(), view))
    {
        return view;
    }
    view = VJSONBlobView();
    if (!inOptional)
        _Invalid(VE_JSON_OBJECT_PARAM_EXPECTED);
    return view;
}

// ---------------------------------------------------------------------------------------------
// VJSONFunctionContext

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray,
                                           IJSONFunctionContext* inParent)
    : fThisObject(inThisObject), fThisArray(inThisArray), fBaseContext(inParent->GetBaseContext()),
      fLanguageContext(inParent->GetLanguageContext()), fParent(inParent)
{
}

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray,
                                           std::vector<VJSONValue>* inParameters, void* inBaseContext,
                                           VDBLanguageContext* inLanguageContext, bool inResultExpected)
    : fThisObject(inThisObject), fThisArray(inThisArray), fParameters(inParameters),
      fResultExpected(inResultExpected), fBaseContext(inBaseContext), fLanguageContext(inLanguageContext)
{
}

void VJSONFunctionContext::SetResult(const VJSONValue& inValue, uint8_t inLegacyKind)
{
    if (fParent != nullptr)
    {
        fParent->SetResult(inValue, kResultKindJSON);
        return;
    }
    fResult = inValue;
    fLegacyKind = inLegacyKind;
}

void VJSONFunctionContext::GetResult(VJSONValue& outValue) const
{
    if (fParent != nullptr)
        fParent->GetResult(outValue);
    else
        outValue = fResult;
}

EJSONStatus VJSONFunctionContext::GetParametersAsJSONValues(std::vector<VJSONValue>** outParameters)
{
    if (fParent != nullptr)
        return fParent->GetParametersAsJSONValues(outParameters);
    *outParameters = fParameters;
    return eJSONStatusDone;
}

EJSONStatus VJSONFunctionContext::GetParameterList(void** outList, int* outCount, void** outExtra,
                                                   bool* outFlag)
{
    if (fParent != nullptr)
        return fParent->GetParameterList(outList, outCount, outExtra, outFlag);
    return eJSONStatusNotHandled;
}

int VJSONFunctionContext::GetParamCount() const
{
    if (fParent != nullptr)
        return fParent->GetParamCount();
    return fParameters == nullptr ? 0 : static_cast<int>(fParameters->size());
}

VJSONValue VJSONFunctionContext::GetParam(int inIndex) const
{
    if (fParent != nullptr)
        return fParent->GetParam(inIndex);
    if (inIndex <= 0 || inIndex > GetParamCount())
        return VJSONValue();
    return (*fParameters)[static_cast<size_t>(inIndex - 1)];
}

VJSONObject* VJSONFunctionContext::GetScopeThisObject() const
{
    return fParent != nullptr ? fParent->GetScopeThisObject() : nullptr;
}

VJSONObject* VJSONFunctionContext::GetScopeFunctionObject() const
{
    return fParent != nullptr ? fParent->GetScopeFunctionObject() : nullptr;
}

} // namespace zorn
