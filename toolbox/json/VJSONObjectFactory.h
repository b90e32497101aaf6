// VJSONObjectFactory: the process-wide registry of native implementations by compact-form
// signature. The compact stream reader (VJSONBinaryImporter) asks it for the implementation of an
// object whose trailer carries a signature other than '****'. Built on first use, destroyed at
// exit; every operation takes the registry's lock, and a creator runs after it is released, so a
// creator may register or look up signatures itself.
//
// The factory starts with the creators of the blob and vector objects ('JBlb', 'JVec').
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/locks/VCriticalSection.h"

#include <cstddef>
#include <cstdint>
#include <map>

namespace zorn
{

class IJSONObject;
class VJSONObject;

class VJSONObjectFactory : public VObject
{
public:
    // Makes the native implementation (one reference for the caller) of inObject from the
    // payload; a class object it returns in outClassObject becomes the object's class. Null, with
    // *outError set, on failure.
    using Creator = IJSONObject* (*)(VJSONObject* inObject, uint32_t inSignature, const void* inPayload,
                                     size_t inPayloadSize, VRefPtr<VJSONObject>& outClassObject,
                                     VError* outError);

    static VJSONObjectFactory& Get();

    // Adds or replaces.
    void RegisterSignature(uint32_t inSignature, Creator inCreator);
    // Whether one was removed.
    bool UnRegisterSignature(uint32_t inSignature);
    bool IsSignatureSupported(uint32_t inSignature) const;
    // Null (without an error) for a signature that is not registered.
    IJSONObject* CreateForSignature(VJSONObject* inObject, uint32_t inSignature, const void* inPayload,
                                    size_t inPayloadSize, VRefPtr<VJSONObject>& outClassObject,
                                    VError* outError) const;

    VJSONObjectFactory(const VJSONObjectFactory&) = delete;
    VJSONObjectFactory& operator=(const VJSONObjectFactory&) = delete;

private:
    VJSONObjectFactory();
    ~VJSONObjectFactory() override = default;

    mutable VCriticalSection fLock;
    std::map<uint32_t, Creator> fCreators;
};

} // namespace zorn
