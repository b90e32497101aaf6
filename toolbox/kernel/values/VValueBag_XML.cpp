// The XML text of a bag: one element per bag, attributes in the start tag, child lists as child
// elements, the "<>" character data as element content.
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <array>

namespace zorn
{

namespace
{

constexpr int32_t kMaxIndentation = 100;

bool IsHighSurrogate(UniChar inUnit)
{
    return inUnit >= 0xD800 && inUnit <= 0xDBFF;
}

bool IsLowSurrogate(UniChar inUnit)
{
    return inUnit >= 0xDC00 && inUnit <= 0xDFFF;
}

// Whether the unit at inIndex starts a well-formed surrogate pair.
bool StartsPair(const UniChar* inUnits, int32_t inLength, int32_t inIndex)
{
    return IsHighSurrogate(inUnits[inIndex]) && inIndex + 1 < inLength &&
           IsLowSurrogate(inUnits[inIndex + 1]);
}

// Units that XML 1.0 can carry as themselves (a pair's units are checked by the caller).
bool IsXMLChar(UniChar inUnit)
{
    return inUnit == 0x9 || inUnit == 0xA || inUnit == 0xD || (inUnit >= 0x20 && inUnit <= 0xD7FF) ||
           (inUnit >= 0xE000 && inUnit <= 0xFFFD);
}

bool IsLineControl(UniChar inUnit)
{
    return inUnit == 0x9 || inUnit == 0xA || inUnit == 0xD;
}

// The JSON-form markers never appear in XML.
bool IsMarkerName(const VString& inName)
{
    return inName.EqualToUSASCIICString("____objectunic") ||
           inName.EqualToUSASCIICString("____property_name_in_jsarray");
}

bool IsCDataName(const VString& inName)
{
    return inName.EqualToUSASCIICString("<>");
}

// The escaped attribute text with tab, LF and CR as character references; false when the text
// holds a character XML 1.0 cannot carry at all.
bool AppendAttributeText(VString& ioOut, const VString& inText)
{
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    for (int32_t i = 0; i < length; ++i)
    {
        const UniChar unit = units[i];
        if (StartsPair(units, length, i))
        {
            ioOut.AppendUniChars(units + i, 2);
            ++i;
        }
        else if (!IsXMLChar(unit) || IsHighSurrogate(unit) || IsLowSurrogate(unit))
        {
            return false;
        }
        else if (unit == 0x9)
        {
            ioOut.AppendCString("&#x9;");
        }
        else if (unit == 0xA)
        {
            ioOut.AppendCString("&#xA;");
        }
        else if (unit == 0xD)
        {
            ioOut.AppendCString("&#xD;");
        }
        else
        {
            ioOut.AppendUniChar(unit);
        }
    }
    return true;
}

// The text without the units XML 1.0 cannot carry; tab, LF and CR are kept when inKeepLineControls.
VString XMLCharsOnly(const VString& inText, bool inKeepLineControls)
{
    VString result;
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    for (int32_t i = 0; i < length; ++i)
    {
        const UniChar unit = units[i];
        if (StartsPair(units, length, i))
        {
            result.AppendUniChars(units + i, 2);
            ++i;
        }
        else if (IsXMLChar(unit) && !IsHighSurrogate(unit) && !IsLowSurrogate(unit) &&
                 (inKeepLineControls || !IsLineControl(unit)))
        {
            result.AppendUniChar(unit);
        }
    }
    return result;
}

bool HasChildren(const VValueBag& inBag)
{
    return inBag.GetElementNamesCount() > 0;
}

} // namespace

void VValueBag::DumpXMLIndentation(VString& ioOut, int32_t inLevel)
{
    for (int32_t i = 0; i < std::min(inLevel, kMaxIndentation); ++i)
    {
        ioOut.AppendUniChar(0x9);
    }
}

bool VValueBag::NeedsEscapeSequence(const VString& inText, const UniChar* inBegin, const UniChar* inEnd)
{
    const UniChar* units = inText.GetCPointer();
    const int32_t length = inText.GetLength();
    if (length == 0)
    {
        return false;
    }
    bool lineControl = false;
    bool other = false;
    for (int32_t i = 0; i < length; ++i)
    {
        if (inBegin != nullptr && std::find(inBegin, inEnd, units[i]) != inEnd)
        {
            return true;
        }
        if (IsLineControl(units[i]))
        {
            lineControl = true;
        }
        else if (units[i] != ' ')
        {
            other = true;
        }
    }
    return lineControl && other;
}

VError VValueBag::DumpXMLAttributes(VString& ioOut, const VString& inElementName) const
{
    ioOut.AppendUniChar('<');
    ioOut.AppendString(inElementName);
    bool hasCData = false;
    VString name;
    VString text;
    for (int32_t i = 1; i <= GetAttributesCount(); ++i)
    {
        const VValueSingle* value = GetNthAttribute(i, &name);
        if (IsCDataName(name))
        {
            hasCData = true;
            continue;
        }
        if (IsMarkerName(name))
        {
            continue;
        }
        text.Clear();
        if (value != nullptr)
        {
            value->GetXMLString(text, 1);
        }
        ioOut.AppendUniChar(' ');
        ioOut.AppendString(name);
        ioOut.AppendCString("=\"");
        if (!AppendAttributeText(ioOut, text))
        {
            VString message;
            message.AppendCString("The XML attribute \"");
            message.AppendString(name);
            message.AppendCString("\" holds a character that XML 1.0 cannot carry.");
            return vThrowUserGeneratedError(VE_BAG_XML_INVALID_ATTRIBUTE_CHAR, message);
        }
        ioOut.AppendUniChar('"');
    }
    if (!HasChildren(*this) && !hasCData)
    {
        ioOut.AppendUniChar('/');
    }
    ioOut.AppendUniChar('>');
    return VE_OK;
}

bool VValueBag::DumpXMLCData(VString& ioOut) const
{
    VString raw;
    if (!GetString(CDataAttributeName(), raw))
    {
        return true;
    }
    // Characters XML cannot carry are dropped before anything else, so that dropping one never
    // joins "]]" and ">" into a section end.
    static constexpr std::array<UniChar, 5> kSpecial = {'&', '<', '>', '"', '\''};
    VString text = XMLCharsOnly(raw, true);
    if (!NeedsEscapeSequence(text, kSpecial.data(), kSpecial.data() + kSpecial.size()))
    {
        text = XMLCharsOnly(text, false);
        ioOut.AppendString(text);
        return text.GetLength() == 0;
    }
    static constexpr std::array<UniChar, 3> kSectionEnd = {']', ']', '>'};
    const UniChar* units = text.GetCPointer();
    const int32_t length = text.GetLength();
    ioOut.AppendCString("<![CDATA[");
    int32_t pos = 1;
    while (pos <= length)
    {
        const int32_t rel = VString::FindRawString(units + pos - 1, length - pos + 1, kSectionEnd.data(), 3);
        const int32_t found = rel > 0 ? pos + rel - 1 : 0;
        if (found == 0)
        {
            ioOut.AppendUniChars(units + pos - 1, length - pos + 1);
            break;
        }
        // The text's own "]]>" closes the section; "]]" goes outside and '>' opens the next one.
        ioOut.AppendUniChars(units + pos - 1, found + 2 - pos + 1);
        ioOut.AppendCString("]]<![CDATA[>");
        pos = found + 3;
    }
    ioOut.AppendCString("]]>");
    return false;
}

VError VValueBag::_DumpXML(VString& ioOut, const VString& inElementName, int32_t inLevel) const
{
    if (inLevel > 0)
    {
        DumpXMLIndentation(ioOut, inLevel);
    }
    const bool hasCData = AttributeExists(CDataAttributeName());
    VError err = DumpXMLAttributes(ioOut, inElementName);
    if (err != VE_OK)
    {
        return err;
    }
    const bool hasChildren = HasChildren(*this);
    if (!hasChildren && !hasCData)
    {
        return VE_OK;
    }
    const int32_t childLevel = inLevel < 0 ? -1 : inLevel + 1;
    VString name;
    for (int32_t i = 1; i <= GetElementNamesCount() && err == VE_OK; ++i)
    {
        const VBagArray* list = GetNthElementName(i, &name);
        for (int32_t j = 1; list != nullptr && j <= list->GetCount() && err == VE_OK; ++j)
        {
            // Each child starts on its own line, indented or not.
            ioOut.AppendUniChar(0xA);
            err = list->GetNth(j)->_DumpXML(ioOut, name, childLevel);
        }
    }
    if (err != VE_OK)
    {
        return err;
    }
    const bool wroteNothing = hasCData ? DumpXMLCData(ioOut) : true;
    if (inLevel >= 0 && ((hasChildren && !hasCData) || (hasCData && wroteNothing)))
    {
        ioOut.AppendUniChar(0xA);
        DumpXMLIndentation(ioOut, inLevel);
    }
    ioOut.AppendCString("</");
    ioOut.AppendString(inElementName);
    ioOut.AppendUniChar('>');
    return VE_OK;
}

VError VValueBag::DumpXML(VString& ioOut, const VString& inElementName, bool inIndent) const
{
    const int32_t start = ioOut.GetLength();
    VError err = _DumpXML(ioOut, inElementName, inIndent ? 0 : -1);
    if (err != VE_OK)
    {
        ioOut.Truncate(start);
    }
    return err;
}

} // namespace zorn
