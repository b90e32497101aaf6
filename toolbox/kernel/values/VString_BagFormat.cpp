// VString::Format with a value bag: placeholders replaced by the bag's attributes.
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

namespace zorn
{

VString& VString::Format(const VValueBag* inBag, bool inRemoveAbsent)
{
    if (inBag == nullptr || inBag->IsEmpty())
    {
        return *this;
    }
    // GetString makes the value object from its packed form through the kind's descriptor.
    return _FormatPlaceholders([inBag](const VString& inName, VString& outText)
                               { return inBag->GetString(VValueBag::StKey(inName), outText); },
                               inRemoveAbsent);
}

} // namespace zorn
