// HexDigitValue: the value of one hexadecimal digit unit, shared by every reader of hexadecimal
// text (escapes, percent coding, UUIDs), inline because tokenizers call it per unit.
#pragma once

#include "toolbox/kernel/base/ZornTypes.h"

namespace zorn
{

// 0-15 for '0'-'9', 'A'-'F' and 'a'-'f'; -1 for any other unit.
constexpr int HexDigitValue(UniChar inUnit)
{
    if (inUnit >= u'0' && inUnit <= u'9')
    {
        return inUnit - u'0';
    }
    if (inUnit >= u'A' && inUnit <= u'F')
    {
        return inUnit - u'A' + 10;
    }
    if (inUnit >= u'a' && inUnit <= u'f')
    {
        return inUnit - u'a' + 10;
    }
    return -1;
}

} // namespace zorn
