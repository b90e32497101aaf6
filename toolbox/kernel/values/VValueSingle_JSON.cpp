#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VValue.h"

namespace zorn
{

VValueSingle* VValueSingle::ConvertVValueToJSONScalar(const VValueSingle& inValue,
                                                      bool inDurationsInMilliseconds)
{
    switch (inValue.GetValueKind())
    {
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 16:
    {
        VReal* real = new VReal(inValue.GetReal());
        real->SetNull(inValue.IsNull());
        return real;
    }
    case 13:
    case 14:
    case 17:
    case 19:
    case 20:
    {
        VString* text = new VString();
        text->FromValue(inValue);
        return text;
    }
    case VK_DURATION:
    {
        int64_t milliseconds = inValue.GetLong8OrMilliSeconds();
        VReal* real = new VReal(inDurationsInMilliseconds ? static_cast<double>(milliseconds)
                                                          : static_cast<double>(milliseconds) / 1000.0);
        real->SetNull(inValue.IsNull());
        return real;
    }
    default:
    {
        VValue* copy = inValue.Clone();
        VValueSingle* single = copy == nullptr ? nullptr : copy->IsVValueSingle();
        if (single == nullptr)
        {
            delete copy;
        }
        return single;
    }
    }
}

} // namespace zorn
