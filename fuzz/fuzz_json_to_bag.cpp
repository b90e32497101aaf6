// JSON text read straight into a value bag, on arbitrary input (valid UTF-8 as text, anything
// else two bytes a UTF-16 unit). Oracles:
// - nothing breaks at any depth (the sanitizers watch), and a failure is always 'zorn' 550;
// - round trip: a bag read successfully is written (GetJSONString) and read again into a bag
//   whose text is the same. Numbers are written with 14 significant digits, so comparing the
//   texts compares them by value within that precision (an integral real comes back an integer).
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <cstdlib>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

VError Read(const VString& inText, VValueBag& ioBag, uint32_t inOptions)
{
    StErrorContextInstaller errors(false);
    VJSONImporter importer(inText, inOptions);
    VError err = importer.JSONObjectToBag(ioBag);
    Check(err == VE_OK || err == VE_JSON_MALFORMED);
    return err;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartTasks();
    const VString text = zorn::fuzz::TextOfInput(data, size);
    VValueBag strict;
    Read(text, strict, VJSONImporter::kStrict | 512);
    VValueBag bag;
    if (Read(text, bag, 0) != VE_OK)
    {
        return 0;
    }
    VString written;
    bag.GetJSONString(written, 0);
    VValueBag again;
    Check(Read(written, again, 0) == VE_OK);
    VString rewritten;
    again.GetJSONString(rewritten, 0);
    Check(written.EqualToStringRaw(rewritten));
    return 0;
}
