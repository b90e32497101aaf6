#include "toolbox/json/VJSONObjectFactory.h"

#include "toolbox/json/VJSONBlob.h"
#include "toolbox/json/VJSONVector.h"

namespace zorn
{

VJSONObjectFactory::VJSONObjectFactory()
{
    fCreators[VJSONBlob::kSignature] = VJSONBlob::CreateIJSONObject;
    fCreators[VJSONVector::kSignature] = VJSONVector::CreateIJSONObject;
}

VJSONObjectFactory& VJSONObjectFactory::Get()
{
    static VJSONObjectFactory sFactory;
    return sFactory;
}

void VJSONObjectFactory::RegisterSignature(uint32_t inSignature, Creator inCreator)
{
    StLocker<VCriticalSection> locker(&fLock);
    fCreators[inSignature] = inCreator;
}

bool VJSONObjectFactory::UnRegisterSignature(uint32_t inSignature)
{
    StLocker<VCriticalSection> locker(&fLock);
    return fCreators.erase(inSignature) != 0;
}

bool VJSONObjectFactory::IsSignatureSupported(uint32_t inSignature) const
{
    StLocker<VCriticalSection> locker(&fLock);
    return fCreators.find(inSignature) != fCreators.end();
}

IJSONObject* VJSONObjectFactory::CreateForSignature(VJSONObject* inObject, uint32_t inSignature,
                                                    const void* inPayload, size_t inPayloadSize,
                                                    VRefPtr<VJSONObject>& outClassObject,
                                                    VError* outError) const
{
    Creator creator = nullptr;
    {
        StLocker<VCriticalSection> locker(&fLock);
        auto found = fCreators.find(inSignature);
        if (found != fCreators.end())
        {
            creator = found->second;
        }
    }
    if (creator == nullptr)
    {
        return nullptr;
    }
    return creator(inObject, inSignature, inPayload, inPayloadSize, outClassObject, outError);
}

} // namespace zorn
