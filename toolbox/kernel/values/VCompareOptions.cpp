#include "toolbox/kernel/values/VCompareOptions.h"

#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

namespace
{

const VString& DiacriticalName()
{
    static const CVSTR_struct sName(u"diacritical");
    return sName;
}

} // namespace

VError VCompareOptions::ToJSON(VJSONObject* ioObject) const
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    if (ioObject != nullptr && json != nullptr)
    {
        json->fSetBool(ioObject, DiacriticalName(), fIsDiacritical);
    }
    return VE_OK;
}

VError VCompareOptions::FromJSON(const VJSONObject* inObject)
{
    const detail::VJSONObjectAccess* json = detail::JSONObjects();
    bool diacritical = false;
    if (inObject != nullptr && json != nullptr && json->fGetBool(inObject, DiacriticalName(), diacritical))
    {
        fIsDiacritical = diacritical;
    }
    return VE_OK;
}

} // namespace zorn
