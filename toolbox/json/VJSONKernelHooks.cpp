// The kernel's entries into the JSON layer: error parameters live in VJSONObjects, and the scalar
// kinds read and write VJSONValues. They are installed before main in every program linked with
// this library (the library's link options pull this file in even when the program names nothing
// of it), and again, to the same effect, by the first JSON object.
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

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

bool GetText(const VJSONObject* inObject, const VString& inName, VString& outText)
{
    VJSONValue value = inObject->GetProperty(inName);
    if (value.IsUndefined() || value.IsNull())
    {
        return false;
    }
    value.GetString(outText);
    return true;
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

constexpr detail::VJSONObjectAccess kObjectAccess = {
    CreateObject, CloneDeep, RetainObject, ReleaseObject, SetString, SetNumber,
    GetString,    GetNumber, GetText,      CopyProperty,  SetBool,   GetBool,
};

void GetScalar(const VJSONValue& inValue, detail::JSONScalar& outScalar)
{
    outScalar.fIsNull = inValue.IsNull();
    outScalar.fNumber = inValue.GetNumber();
    outScalar.fBool = inValue.GetBool();
}

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
    hooks.fJSONObjectAccess.store(&kObjectAccess, std::memory_order_release);
}

} // namespace zorn

// Named by the library's link options, so that the linker takes this file into every program.
extern "C" const bool zorn_json_kernel_hooks_anchor = true;
