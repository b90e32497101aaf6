// The script-class branches of VJSONObject: class identity, member functions and getters for
// names the object lacks, setters for writes, and calling a function object.
#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONObject.h"

namespace zorn
{

void VJSONObject::_SetClass(VJSONClass* inClass, uint32_t inLevel)
{
    if (inClass != nullptr)
    {
        inClass->UseClassObject();
    }
    VJSONClass* old = fClass;
    fClass = inClass;
    fConstructionLevel = inLevel;
    if (old != nullptr)
    {
        old->UnuseClassObject();
    }
}

bool VJSONObject::IsGenericObject() const
{
    return fClass == nullptr || fClass->GetDepth() == 0;
}

VJSONObject* VJSONObject::GetClassObject() const
{
    return fClass == nullptr ? nullptr : fClass->GetClassObject();
}

VJSONObject* VJSONObject::_GetPrototype() const
{
    return fClass == nullptr ? nullptr : fClass->GetPrototype();
}

bool VJSONObject::IsInstanceOf(const VJSONClass* inClass) const
{
    for (const VJSONClass* current = fClass; current != nullptr; current = current->GetSuperclass())
    {
        if (current == inClass)
        {
            return true;
        }
    }
    return false;
}

bool VJSONObject::IsInstanceOf(const VJSONObject* inClassObject) const
{
    const VJSONClass* theClass = VJSONClass::CastClassObject(inClassObject);
    if (theClass == nullptr)
    {
        _ThrowError(VE_JSON_NOT_A_CLASS_INSTANCE_OF);
        return false;
    }
    return IsInstanceOf(theClass);
}

EJSONStatus VJSONObject::CallAsFunction(IJSONFunctionContext* ioContext) const
{
    if (fImplementation == nullptr)
    {
        return eJSONStatusNotHandled;
    }
    return fImplementation->IJSON_CallAsFunction(this, ioContext);
}

bool VJSONObject::_GetClassProperty(const VString& inName, VJSONValue& outValue,
                                    VDBLanguageContext* inContext) const
{
    if (VJSONObject* function = fClass->FindFunction(inName))
    {
        outValue.SetObject(function);
        return true;
    }
    VJSONObject* getter = fClass->FindGetter(inName);
    if (getter == nullptr)
    {
        return false;
    }
    // The getter sees this object as its this; the object is not changed by the call.
    VJSONFunctionContext context(const_cast<VJSONObject*>(this), nullptr, nullptr, nullptr, inContext);
    if (getter->CallAsFunction(&context) == eJSONStatusDone)
    {
        context.GetResult(outValue);
    }
    return true;
}

bool VJSONObject::_CallClassSetter(const VString& inName, const VJSONValue& inValue, bool& outDone)
{
    if (fClass == nullptr || !fClass->HasSetters())
    {
        return false;
    }
    VJSONObject* setter = fClass->FindSetter(inName);
    if (setter == nullptr)
    {
        return false;
    }
    std::vector<VJSONValue> arguments{inValue};
    VJSONFunctionContext context(this, nullptr, &arguments, nullptr, nullptr);
    EJSONStatus status = setter->CallAsFunction(&context);
    // A setter that did not handle the write leaves it to the own properties.
    if (status == eJSONStatusNotHandled)
    {
        return false;
    }
    outDone = status == eJSONStatusDone;
    return true;
}

} // namespace zorn
