#include "toolbox/intl/VLocalizationXMLHandler.h"

namespace zorn
{

IXMLHandler* VLocalizationXMLHandler::StartElement(const VString& inElementName)
{
    if (inElementName.EqualToStringRaw(VString("file")))
    {
        fLastElementName = inElementName;
    }
    else
    {
        fLastElementName.Clear();
    }
    Retain();
    return this;
}

} // namespace zorn
