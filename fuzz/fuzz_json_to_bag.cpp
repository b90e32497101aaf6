// JSON text read straight into a value bag, on arbitrary input (valid UTF-8 as text, anything
// else two bytes a UTF-16 unit). Oracles:
// - nothing breaks at any depth (the sanitizers watch), and a failure is always 'zorn' 550, or the
//   compact-form decoder's error when the text has a "__PRIVATE_BINARY_OBJECT" member;
// - round trip: a bag read successfully is written (GetJSONString) and read again into a bag
//   whose text reads as the same JSON value, numbers compared by value: a bag keeps a number as an
//   integer or a real by its text, so 2.0 comes back as the integer 2 and -0.0 as 0, but no
//   digit is lost (the 14-digit writer turned 900719925474090.1 into 900719925474090); a text of
//   the date form may come back as another date text. A third trip changes nothing.
#include "fuzz/FuzzJSONText.h"
#include "fuzz/FuzzTasks.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

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
    Check(err == VE_OK || err == VE_JSON_MALFORMED || zorn::fuzz::HasBinaryObjectMember(inText));
    return err;
}

bool LooksLikeDate(std::u16string_view inText)
{
    if (inText.size() != 10)
    {
        return false;
    }
    for (size_t i = 0; i < 10; ++i)
    {
        const bool dash = i == 4 || i == 7;
        if (dash ? inText[i] != u'-' : (inText[i] < u'0' || inText[i] > u'9'))
        {
            return false;
        }
    }
    return true;
}

// Two JSON values equal with numbers compared by value (so -0 equals 0).
bool SameByValue(const VJSONValue& inFirst, const VJSONValue& inSecond)
{
    if (inFirst.GetType() != inSecond.GetType())
    {
        return false;
    }
    switch (inFirst.GetType())
    {
    case JSON_number:
        return inFirst.GetNumber() == inSecond.GetNumber() ||
               (std::isnan(inFirst.GetNumber()) && std::isnan(inSecond.GetNumber()));
    case JSON_string:
        // A text of the form dddd-dd-dd reads back as a date (the bag's rule), which an impossible
        // date such as 2042-03-85 turns into the zero date: the form, not the digits, is kept.
        return inFirst.GetStringUnits() == inSecond.GetStringUnits() ||
               (LooksLikeDate(inFirst.GetStringUnits()) && LooksLikeDate(inSecond.GetStringUnits()));
    case JSON_array:
    {
        auto first = inFirst.GetArray()->GetElements();
        auto second = inSecond.GetArray()->GetElements();
        return std::equal(first.begin(), first.end(), second.begin(), second.end(), SameByValue);
    }
    case JSON_object:
    {
        auto first = inFirst.GetObject()->GetOwnProperties();
        auto second = inSecond.GetObject()->GetOwnProperties();
        return std::equal(first.begin(), first.end(), second.begin(), second.end(),
                          [](const VJSONObject::OwnProperty& inA, const VJSONObject::OwnProperty& inB) {
                              return inA.fKey.GetUnits() == inB.fKey.GetUnits() &&
                                     SameByValue(inA.fValue, inB.fValue);
                          });
    }
    default:
        return true;
    }
}

VJSONValue ValueOf(const VString& inText)
{
    StErrorContextInstaller errors(false);
    VJSONValue value;
    Check(VJSONImporter::ParseString(inText, value, 0) == VE_OK);
    return value;
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
    if (Read(written, again, 0) != VE_OK)
    {
        // A bare word read as the binary member's text is written quoted, and then decoded.
        Check(zorn::fuzz::HasBinaryObjectMember(written));
        return 0;
    }
    VString rewritten;
    again.GetJSONString(rewritten, 0);
    Check(SameByValue(ValueOf(written), ValueOf(rewritten)));
    VValueBag third;
    Check(Read(rewritten, third, 0) == VE_OK);
    VString thirdText;
    third.GetJSONString(thirdText, 0);
    Check(thirdText.EqualToStringRaw(rewritten));
    return 0;
}
