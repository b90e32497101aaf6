#include "toolbox/json/IJSONObject.h"

#include "toolbox/json/VJSONErrors.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

EJSONStatus IJSONObject::IJSON_GetProperty(const VJSONObject*, const VString&, VJSONValue&,
                                           VDBLanguageContext*)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_BeginChangeProperties()
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_EndChangeProperties()
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&,
                                           VDBLanguageContext*)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    return eJSONStatusNotHandled;
}

bool IJSONObject::IJSON_Clear(VJSONObject*)
{
    return true;
}

bool IJSONObject::IJSON_IsEmpty(const VJSONObject*)
{
    std::vector<VString> names;
    IJSON_GetPropertyNames(names);
    return names.empty();
}

EJSONStatus IJSONObject::IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString&, VError*)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>&, bool*,
                                         VError*)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, VError*)
{
    return eJSONStatusNotHandled;
}

uint32_t IJSONObject::IJSON_GetBinarySignature()
{
    return 0;
}

void IJSONObject::IJSON_GetValueToWriteToBuffer(VJSONValue&) {}

EJSONStatus IJSONObject::IJSON_WriteToBuffer(VMemoryBuffer<>&, VError* outError)
{
    VError error = _ThrowError(VE_JSON_NO_BINARY_FORM);
    if (outError != nullptr)
    {
        *outError = error;
    }
    return eJSONStatusFailed;
}

EJSONStatus IJSONObject::_WritePayload(VMemoryBuffer<>& ioBuffer, const void* inData, uint64_t inSize,
                                       VError* outError)
{
    if (!ioBuffer.AddData(&inSize, sizeof(inSize)) || !ioBuffer.AddData(inData, inSize))
    {
        VError error = _ThrowError(VE_MEMORY_FULL);
        if (outError != nullptr)
        {
            *outError = error;
        }
        return eJSONStatusFailed;
    }
    return eJSONStatusDone;
}

EJSONStatus IJSONObject::IJSON_GetPropertyNames(std::vector<VString>&)
{
    return eJSONStatusNotHandled;
}

VValueSingle* IJSONObject::IJSON_CreateVValue()
{
    return nullptr;
}

EJSONStatus IJSONObject::IJSON_GetPropertyStamp(const VString&, uint32_t*)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_TouchPropertyStamp(const VString&)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_GetDescription(const VJSONObject*, VString&)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_GetPropertyByIndex(const VJSONObject*, size_t, VJSONValue&)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t*)
{
    return eJSONStatusNotHandled;
}

IJSONNativeIterator* IJSONObject::IJSON_MakeIterator(const VJSONObject*, size_t, size_t, bool)
{
    return nullptr;
}

EJSONStatus IJSONObject::IJSON_GetClassName(const VJSONObject*, VString&)
{
    return eJSONStatusNotHandled;
}

EJSONStatus IJSONObject::IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject*, bool*)
{
    return eJSONStatusNotHandled;
}

bool IJSONObject::IJSON_IsSharable(const VJSONObject*, bool& ioSharable)
{
    ioSharable = false;
    return false;
}

EJSONStatus IJSONObject::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext*)
{
    return eJSONStatusNotHandled;
}

VJSONClass* IJSONObject::IJSON_GetFunctionClassOwner(const VJSONObject*)
{
    return nullptr;
}

EJSONStatus IJSONObject::IJSON_SetJSONStamp(VJSONStamp*)
{
    return eJSONStatusNotHandled;
}

void IJSONObject::IJSON_DoConnectDependencies(VJSONObject*) {}

void IJSONObject::IJSON_DoDisconnectDependencies(VJSONObject*) {}

} // namespace zorn
