// VJSONSuper and VJSONSuperMember: the objects behind a script's super.name(...). The super object
// answers any name with a super-member object of that name; calling that object runs the member
// of the calling class's superclass chain, found on the prototypes from the superclass upward,
// with the caller's scope this object as its this. Both refuse writes (-10705).
//
// Errors of the call: no scope class (not called from a class function) -10736; no superclass,
// or no prototype up the chain has the name, -10729; the member found is not a native function
// -10707.
#pragma once

#include "toolbox/json/IJSONObject.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

constexpr VError VE_JSON_SUPER_READ_ONLY = MakeVError(kCOMPONENT_SCRIPT, -10705);

class VJSONSuper : public VObject, public IJSONObject
{
public:
    // A new non-shared super object (the caller's reference).
    static VJSONObject* CreateObject();

    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& ioCloner, VJSONValue& outClone,
                            VError* outError) override;
};

class VJSONSuperMember : public VObject, public IJSONObject
{
public:
    // A new non-shared super-member object for inName (the caller's reference).
    static VJSONObject* CreateObject(const VString& inName);

    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& ioCloner, VJSONValue& outClone,
                            VError* outError) override;
    EJSONStatus IJSON_CallAsFunction(const VJSONObject* inObject, IJSONFunctionContext* ioContext) override;

private:
    explicit VJSONSuperMember(const VString& inName) : fName(inName) {}

    VString fName;
};

} // namespace zorn
