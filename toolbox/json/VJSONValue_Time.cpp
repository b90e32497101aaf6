// Dates of the JSON object model as VTime values.
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/values/VTime.h"

namespace zorn
{

VJSONValue::VJSONValue(const VTime& inTime) : VJSONValue(JSON_null)
{
    SetTime(inTime);
}

void VJSONValue::SetTime(const VTime& inTime)
{
    if (inTime.IsNull())
    {
        SetNull();
        return;
    }
    SetDate(inTime.GetYear(), inTime.GetMonth(), inTime.GetDay());
}

void VJSONValue::GetTime(VTime& outTime) const
{
    short year = 0;
    short month = 0;
    short day = 0;
    if (GetDate(&year, &month, &day))
    {
        outTime.FromUTCTime(year, month, day, 0, 0, 0, 0);
    }
    else if (IsString())
    {
        VString text;
        GetString(text);
        outTime.FromString(text);
    }
    else
    {
        outTime.Clear();
        outTime.SetNull(true);
    }
}

VError VJSONValue::_GetDateString(VString& outString) const
{
    VTime time;
    GetTime(time);
    return time.GetJSONString(outString, VTime::eJSON_ShortDate);
}

VValueSingle* VJSONValue::_CreateTime() const
{
    VTime* time = new VTime();
    GetTime(*time);
    return time;
}

} // namespace zorn
