// Text of any kind read as a duration: the ISO 8601 and seconds reader (FromXMLString) and the
// colon form (FromString). Besides the sanitizers' checks (no signed overflow in the products and
// sums of the parts): both readers always leave a duration that is not null, and the ISO text
// written back for it reads back to the same count when the count is whole seconds below a year.
//
// Input: UTF-8 text.

#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VDuration.h"

#include <cstdint>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    VString text(inData, inSize, CharSet::VTC_UTF_8);
    VDuration xml;
    xml.SetNull(true);
    Check(xml.FromXMLString(text));
    Check(!xml.IsNull());
    VDuration colon;
    colon.SetNull(true);
    colon.FromString(text);
    Check(!colon.IsNull());

    for (const VDuration* duration : {&xml, &colon})
    {
        int64_t count = duration->ConvertToMilliseconds();
        VString written;
        duration->GetXMLString(written, 1);
        VString formatted;
        duration->GetFormattedString(formatted);
        if (count % 1000 == 0 && count > -360 * VDuration::kDay && count < 360 * VDuration::kDay)
        {
            VDuration again;
            again.FromXMLString(written);
            Check(again.ConvertToMilliseconds() == count);
        }
    }
    return 0;
}
