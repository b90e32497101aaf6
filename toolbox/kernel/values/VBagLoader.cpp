#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

VBagLoader::VBagLoader(bool inRegenerateUUIDs, bool inWithReferentialIntegrity)
    : fRegenerateUUIDs(inRegenerateUUIDs), fWithReferentialIntegrity(inWithReferentialIntegrity)
{
}

bool VBagLoader::GetUUID(const VValueBag& inBag, VUUID& outUUID)
{
    if (!fRegenerateUUIDs)
    {
        if (inBag.GetVUUID(VValueBag::uuid(), outUUID))
        {
            return true;
        }
        outUUID.Regenerate();
        return false;
    }
    VUUID old;
    if (!inBag.GetVUUID(VValueBag::uuid(), old) || old.IsNull())
    {
        outUUID.Regenerate();
        return false;
    }
    if (auto found = fMap.find(old); found != fMap.end())
    {
        outUUID = found->second;
        return true;
    }
    outUUID.Regenerate();
    try
    {
        fMap.emplace(old, outUUID);
    }
    catch (...)
    {
        return false;
    }
    return true;
}

bool VBagLoader::ResolveUUID(VUUID& ioUUID) const
{
    if (!fRegenerateUUIDs)
    {
        return true;
    }
    auto found = fMap.find(ioUUID);
    if (found == fMap.end())
    {
        return false;
    }
    ioUUID = found->second;
    return true;
}

} // namespace zorn
