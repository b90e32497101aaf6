// ILocalizer: the localization interface. Error descriptions are looked up through it, per
// error component (VErrorBase::RegisterLocalizer) or through the process's localizer, and so are
// texts by key (LocalizeString). The localization manager of the intl layer implements it.
//
// Choices made:
// - Only LocalizeErrorMessage must be written by every localizer; the other look-ups answer
//   "nothing known" by default (false, null, the fallback dialect 1033), so that a localizer
//   that serves error texts alone need not write them.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <cstdint>

namespace zorn
{

class VString;
class VValueBag;

class ILocalizer
{
public:
    virtual ~ILocalizer() = default;

    // The dialect code of the texts.
    virtual uint32_t GetLocalizationLanguage() { return 1033; }
    // True with outText filled when a message is known for the code. The text may hold
    // placeholders ({name}) that the caller fills from the error's parameters.
    virtual bool LocalizeErrorMessage(VError inError, VString& outText) = 0;
    // True with outText filled when a text is known for the key; outText untouched otherwise.
    virtual bool LocalizeStringWithKey(const VString& /*inKey*/, VString& /*outText*/) { return false; }
    virtual bool LocalizeStringWithDotStringsKey(const VString& /*inKey*/, VString& /*outText*/)
    {
        return false;
    }
    // The bag describing a whole group of texts, retained; null when none.
    virtual const VValueBag* RetainGroupBag(const VString& /*inResName*/) { return nullptr; }
};

} // namespace zorn
