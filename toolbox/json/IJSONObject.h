// IJSONObject: the native implementation behind a VJSONObject (class objects, blobs, vectors,
// class stores...). The object asks its implementation first for property access, cloning,
// comparison and text; each hook answers with an EJSONStatus, and "not handled" lets the object
// go on with its generic behaviour. Implementations override only what they handle; the defaults
// here handle nothing. Implementations are reference counted; the object holds one reference.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VString;
class VJSONValue;
class VJSONObject;
class VJSONCloner;
class VJSONStamp;
class VJSONWriter;
class VJSONClass;
class IJSONFunctionContext;
class VValueSingle;
// Contexts of a script host, passed through to native code untouched.
class VDBLanguageContext;

// Result of the IJSONObject hooks and of native member functions.
enum EJSONStatus : int32_t
{
    eJSONStatusDone = 0,
    // The caller goes on with its generic behaviour.
    eJSONStatusNotHandled = 1,
    // An error is on the task's error context.
    eJSONStatusFailed = 2,
};

// The iterator a native implementation supplies for walking its object (IJSON_MakeIterator): each
// call gives the next value, false after the last. Owned by the caller, who deletes it.
class IJSONNativeIterator
{
public:
    virtual ~IJSONNativeIterator() = default;
    virtual bool NextValue(VJSONValue& outValue) = 0;
};

class IJSONObject : public IRefCountable
{
public:
    IJSONObject() = default;
    ~IJSONObject() override = default;

    virtual EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName,
                                          VJSONValue& outValue, VDBLanguageContext* inContext);
    virtual EJSONStatus IJSON_BeginChangeProperties();
    virtual EJSONStatus IJSON_EndChangeProperties();
    virtual EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName,
                                          const VJSONValue& inValue, VDBLanguageContext* inContext);
    virtual EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName);
    // Whether the implementation cleared its own properties; the default has none: true.
    virtual bool IJSON_Clear(VJSONObject* inObject);
    // The default: true when IJSON_GetPropertyNames yields no name.
    virtual bool IJSON_IsEmpty(const VJSONObject* inObject);
    virtual EJSONStatus IJSON_Stringify(const VJSONObject* inObject, VJSONWriter& ioWriter, VString& outText,
                                        VError* outError);
    // Makes the implementation of a clone; *outShared asks for the clone to be shared.
    virtual EJSONStatus IJSON_CloneImpl(const VJSONObject* inObject, VJSONCloner& ioCloner,
                                        VRefPtr<IJSONObject>& outImplementation, bool* outShared,
                                        VError* outError);
    // Makes the whole clone.
    virtual EJSONStatus IJSON_Clone(const VJSONObject* inObject, VJSONCloner& ioCloner, VJSONValue& outClone,
                                    VError* outError);
    // The signature of the implementation's own compact form; 0 for none.
    virtual uint32_t IJSON_GetBinarySignature();
    virtual void IJSON_GetValueToWriteToBuffer(VJSONValue& outValue);
    // The default raises 'zorn' 915, stores it in *outError and fails.
    virtual EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError* outError);
    virtual EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames);
    // A new typed value standing for the object, owned by the caller; null for none.
    virtual VValueSingle* IJSON_CreateVValue();
    virtual EJSONStatus IJSON_GetPropertyStamp(const VString& inName, uint32_t* outStamp);
    virtual EJSONStatus IJSON_TouchPropertyStamp(const VString& inName);
    virtual EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText);
    virtual EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* inObject, size_t inIndex,
                                                 VJSONValue& outValue);
    virtual EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* inObject, size_t* outCount);
    // A new iterator over the object from inStart to inEnd (the flag is the implementation's);
    // null, the default, lets the caller walk the object's property names.
    virtual IJSONNativeIterator* IJSON_MakeIterator(const VJSONObject* inObject, size_t inStart, size_t inEnd,
                                                    bool inFlag);
    virtual EJSONStatus IJSON_GetClassName(const VJSONObject* inObject, VString& outName);
    virtual EJSONStatus IJSON_DeepEqualTo(const VJSONObject* inObject, const VJSONObject* inOther,
                                          bool* outEqual);
    // Whether objects with this implementation may be shared between tasks (the answer is also
    // written to ioSharable). The default: false.
    virtual bool IJSON_IsSharable(const VJSONObject* inObject, bool& ioSharable);
    virtual EJSONStatus IJSON_CallAsFunction(const VJSONObject* inObject, IJSONFunctionContext* ioContext);
    virtual VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* inObject);
    virtual EJSONStatus IJSON_SetJSONStamp(VJSONStamp* inStamp);
    // Called when an object takes or gives up this implementation.
    virtual void IJSON_DoConnectDependencies(VJSONObject* inObject);
    virtual void IJSON_DoDisconnectDependencies(VJSONObject* inObject);

protected:
    // For IJSON_WriteToBuffer: a payload as the compact form carries it, a u64 byte count, then the
    // bytes. When the buffer cannot grow: 'zorn' 100 raised and stored in *outError, and failure.
    static EJSONStatus _WritePayload(VMemoryBuffer<>& ioBuffer, const void* inData, uint64_t inSize,
                                     VError* outError);
};

} // namespace zorn
