// ILocalizer: the localization interface. Error descriptions are looked up through it, per
// error component (VErrorBase::RegisterLocalizer) or through the process's localizer.
#pragma once

#include "toolbox/kernel/errors/VError.h"

namespace zorn
{

class VString;

class ILocalizer
{
public:
    virtual ~ILocalizer() = default;

    // True with outText filled when a message is known for the code. The text may hold
    // placeholders ({name}) that the caller fills from the error's parameters.
    virtual bool LocalizeErrorMessage(VError inError, VString& outText) = 0;
};

} // namespace zorn
