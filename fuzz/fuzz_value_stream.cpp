// Reads values from arbitrary bytes: the stream forms of the registered kinds (in either byte
// order), stored arbitrary-precision decimals, and the XML texts of reals and booleans with the
// radix text of what was read. The first byte chooses the form.

#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <cstdint>
#include <memory>

using namespace zorn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const uint8_t mode = data[0];
    ++data;
    --size;
    switch (mode % 3)
    {
    case 0:
    {
        VConstPtrStream stream(data, size);
        stream.SetNeedSwap((mode & 0x80) != 0);
        if (stream.OpenReading() != VE_OK)
        {
            return 0;
        }
        while (std::unique_ptr<VValue> value{stream.GetValue()})
        {
            if (const VValueSingle* single = value->IsVValueSingle())
            {
                VString text;
                single->GetString(text);
            }
        }
        stream.CloseReading();
        break;
    }
    case 1:
        (void)VReal::MAPM_FloatToReal(data, size);
        break;
    default:
    {
        VString text(data, size & ~size_t{1}, CharSet::VTC_UTF_16);
        VReal real;
        real.FromXMLString(text);
        (void)real.ToString(2 + (mode / 3) % 35);
        VBoolean boolean;
        boolean.FromXMLString(text);
        break;
    }
    }
    return 0;
}
