#include "toolbox/json/VJSONSuper.h"

#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONObject.h"

namespace zorn
{

namespace
{

EJSONStatus Refuse()
{
    _ThrowError(VE_JSON_SUPER_READ_ONLY);
    return eJSONStatusFailed;
}

EJSONStatus Fail(VError inError)
{
    _ThrowError(inError);
    return eJSONStatusFailed;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// VJSONSuper

VJSONObject* VJSONSuper::CreateObject()
{
    VRefPtr<VJSONSuper> implementation(new VJSONSuper, true);
    return new VJSONObject(nullptr, implementation.Get(), false);
}

EJSONStatus VJSONSuper::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                          VJSONValue& outValue, VDBLanguageContext* /*inContext*/)
{
    VRefPtr<VJSONObject> member(VJSONSuperMember::CreateObject(inName), true);
    outValue = VJSONValue(member.Get());
    return eJSONStatusDone;
}

EJSONStatus VJSONSuper::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                          const VJSONValue& /*inValue*/, VDBLanguageContext* /*inContext*/)
{
    return Refuse();
}

EJSONStatus VJSONSuper::IJSON_RemoveProperty(VJSONObject* /*inObject*/, const VString& /*inName*/)
{
    return Refuse();
}

EJSONStatus VJSONSuper::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("<<Super>>");
    return eJSONStatusDone;
}

EJSONStatus VJSONSuper::IJSON_Clone(const VJSONObject* /*inObject*/, VJSONCloner& /*ioCloner*/,
                                    VJSONValue& outClone, VError* /*outError*/)
{
    VRefPtr<VJSONObject> clone(CreateObject(), true);
    outClone = VJSONValue(clone.Get());
    return eJSONStatusDone;
}

// ---------------------------------------------------------------------------------------------
// VJSONSuperMember

VJSONObject* VJSONSuperMember::CreateObject(const VString& inName)
{
    VRefPtr<VJSONSuperMember> implementation(new VJSONSuperMember(inName), true);
    return new VJSONObject(nullptr, implementation.Get(), false);
}

EJSONStatus VJSONSuperMember::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                                const VJSONValue& /*inValue*/,
                                                VDBLanguageContext* /*inContext*/)
{
    return Refuse();
}

EJSONStatus VJSONSuperMember::IJSON_RemoveProperty(VJSONObject* /*inObject*/, const VString& /*inName*/)
{
    return Refuse();
}

EJSONStatus VJSONSuperMember::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("<<Super member: ") + fName + VString(">>");
    return eJSONStatusDone;
}

EJSONStatus VJSONSuperMember::IJSON_Clone(const VJSONObject* /*inObject*/, VJSONCloner& /*ioCloner*/,
                                          VJSONValue& outClone, VError* /*outError*/)
{
    VRefPtr<VJSONObject> clone(CreateObject(fName), true);
    outClone = VJSONValue(clone.Get());
    return eJSONStatusDone;
}

EJSONStatus VJSONSuperMember::IJSON_CallAsFunction(const VJSONObject* /*inObject*/,
                                                   IJSONFunctionContext* ioContext)
{
    VJSONClass* scope = ioContext->GetScopeClass();
    if (scope == nullptr)
        return Fail(VE_JSON_SUPER_OUTSIDE_CLASS_FUNCTION);
    VJSONValue member;
    for (VJSONClass* current = scope->GetSuperclass(); current != nullptr && member.IsUndefined();
         current = current->GetSuperclass())
    {
        if (VJSONObject* prototype = current->GetPrototype())
            member = prototype->GetOwnProperty(fName);
    }
    if (member.IsUndefined())
        return Fail(VE_JSON_NOT_A_NATIVE_FUNCTION);
    VJSONObject* function = member.GetObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
        return Fail(VE_JSON_SUPER_MEMBER_NOT_NATIVE);
    VJSONFunctionContext context(ioContext->GetScopeThisObject(), nullptr, ioContext);
    return function->GetImplementation()->IJSON_CallAsFunction(function, &context);
}

} // namespace zorn
