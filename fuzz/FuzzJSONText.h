// What the JSON fuzz targets share: whether a text holds a member named "__PRIVATE_BINARY_OBJECT"
// (escaped or not), whose compact-form decoding error is a documented result of a read.
#pragma once

#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn::fuzz
{

inline bool HasBinaryObjectMember(const VString& inText)
{
    StErrorContextInstaller errors(false);
    VJSONImporter tokens(inText, 0);
    const VString name(reinterpret_cast<const UniChar*>(VJSONBinaryObject::sPropertyName));
    VString token;
    bool isString = false;
    VError error = VE_OK;
    while (tokens.GetNextJSONToken(token, &isString, &error) != jsonEnd)
    {
        if (isString && token.EqualToStringRaw(name))
        {
            return true;
        }
    }
    return false;
}

} // namespace zorn::fuzz
