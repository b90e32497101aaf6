#include "toolbox/intl/IXMLHandler.h"

#include "toolbox/files/VFile.h"
#include "toolbox/intl/VXMLParser.h"

#include <xercesc/util/XMLChar.hpp>

namespace zorn
{

IXMLHandler* IXMLHandler::StartElement(const VString& /*inElementName*/)
{
    return nullptr;
}

void IXMLHandler::EndElement(const VString& /*inElementName*/) {}

void IXMLHandler::SetAttribute(const VString& /*inName*/, const VString& /*inValue*/) {}

void IXMLHandler::SetText(const VString& /*inText*/) {}

VFile* IXMLHandler::ResolveEntity(const VString& inSystemID)
{
    return VXMLParser::ResolveEntityFromFolder(fEntitiesBaseURL, fEntitiesFolder.Get(), inSystemID);
}

void IXMLHandler::StartStyleSheet() {}

void IXMLHandler::SetStyleSheetAttribute(const VString& /*inName*/, const VString& /*inValue*/) {}

void IXMLHandler::EndStyleSheet() {}

void IXMLHandler::SetEntitiesLocalFolder(const VString& inBaseURL, VFolder* inFolder)
{
    fEntitiesFolder.Set(inFolder);
    fEntitiesBaseURL = inBaseURL;
}

bool IXMLHandler::IsXMLChar(UniChar inChar)
{
    return xercesc::XMLChar1_0::isXMLChar(static_cast<XMLCh>(inChar));
}

bool IXMLHandler::WCharIsSpace(UniChar inChar)
{
    return inChar == 0x20 || inChar == 0x09 || inChar == 0x0A || inChar == 0x0C || inChar == 0x0D;
}

namespace
{

// A value token loses a matching pair of quotes around it, then the white space around it.
void _UnquoteValue(VString& ioValue)
{
    int32_t length = ioValue.GetLength();
    if (length >= 2)
    {
        UniChar first = ioValue.GetUniChar(1);
        if ((first == u'"' || first == u'\'') && ioValue.GetUniChar(length) == first)
        {
            ioValue.Remove(length, 1);
            ioValue.Remove(1, 1);
        }
    }
    int32_t start = 0;
    int32_t end = ioValue.GetLength();
    const UniChar* units = ioValue.GetCPointer();
    while (start < end && IXMLHandler::WCharIsSpace(units[start]))
    {
        ++start;
    }
    while (end > start && IXMLHandler::WCharIsSpace(units[end - 1]))
    {
        --end;
    }
    ioValue = VString(units + start, end - start);
}

} // namespace

// The pseudo-attributes of an "xml-stylesheet" instruction: name=value pairs separated by white
// space, values in single or double quotes.
void IXMLHandler::processingInstruction(const VString& inTarget, const VString& inData)
{
    if (inTarget.IsNull() || inData.IsNull() || inTarget.IsEmpty() || inData.IsEmpty() ||
        !inTarget.EqualToStringRaw(VString("xml-stylesheet")))
    {
        return;
    }
    StartStyleSheet();
    VString name;
    VString token;
    bool inValue = false;
    auto endToken = [&]()
    {
        if (inValue)
        {
            _UnquoteValue(token);
            if (!name.IsEmpty())
            {
                SetStyleSheetAttribute(name, token);
            }
            inValue = false;
            name.Clear();
        }
        else if (!token.IsEmpty())
        {
            name = token;
        }
        token.Clear();
    };
    const UniChar* units = inData.GetCPointer();
    for (int32_t i = 0; i < inData.GetLength(); ++i)
    {
        UniChar c = units[i];
        if (c == u'=' && !inValue)
        {
            if (!token.IsEmpty())
            {
                name = token;
            }
            token.Clear();
            inValue = true;
        }
        else if (WCharIsSpace(c))
        {
            if (inValue && token.IsEmpty())
            {
                continue; // white space between "=" and the value
            }
            endToken();
        }
        else
        {
            token.AppendUniChar(c);
        }
    }
    if (inValue)
    {
        endToken();
    }
    EndStyleSheet();
}

IXMLHandler* VNullXMLHandler::StartElement(const VString& /*inElementName*/)
{
    Retain();
    return this;
}

} // namespace zorn
