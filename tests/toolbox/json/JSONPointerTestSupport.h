// What the tests of JSON pointers and of the compact form share: a value's JSON text, and the
// codes a resolver recorded.
#pragma once

#include "tests/StringTestSupport.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONPointerResolver.h"
#include "toolbox/json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>

namespace zorn::test
{

// The quoted JSON text of the value, or "undefined".
inline std::u16string Written(const VJSONValue& inValue)
{
    if (inValue.IsUndefined())
    {
        return u"undefined";
    }
    VString text;
    EXPECT_EQ(inValue.Stringify(text, 1), VE_OK);
    return Text(text);
}

// The codes of the resolver's error records in order, comma-separated.
inline std::string Codes(const VJSONPointerResolver& inResolver)
{
    std::string codes;
    if (VJSONArray* errors = inResolver.GetErrors())
    {
        for (const VJSONValue& record : errors->GetElements())
        {
            codes += (codes.empty() ? "" : ",") +
                     std::to_string(static_cast<int>(record.GetProperty(VString("code")).GetNumber()));
        }
    }
    return codes;
}

} // namespace zorn::test
