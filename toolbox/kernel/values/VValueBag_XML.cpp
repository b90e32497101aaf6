// The XML text of a bag: one element per bag, attributes in the start tag, child lists as child
// elements, the "<>" character data as element content.
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/HexDigit.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VUUID.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

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

// Typed values from attribute texts

namespace
{

constexpr UniChar kMinusSign = 0x2212;
constexpr size_t kMaxNumberLength = 199;

bool IsASCIIDigit(UniChar inUnit)
{
    return inUnit >= u'0' && inUnit <= u'9';
}

// The number that [inBegin, inEnd) wholly is, or null: an integer unless it has a '.' or an
// exponent. The ASCII copy given to the converters keeps the sign.
VValueSingle* ParseNumber(const UniChar* inBegin, const UniChar* inEnd, bool inNegative)
{
    std::string ascii;
    if (inNegative)
    {
        ascii.push_back('-');
    }
    const UniChar* at = inBegin;
    auto copyDigits = [&]
    {
        const UniChar* start = at;
        for (; at < inEnd && IsASCIIDigit(*at); ++at)
        {
            ascii.push_back(static_cast<char>(*at));
        }
        return at > start;
    };
    copyDigits();
    bool real = false;
    if (at < inEnd && *at == u'.')
    {
        real = true;
        ascii.push_back('.');
        ++at;
        copyDigits();
    }
    if (at < inEnd && (*at == u'e' || *at == u'E'))
    {
        real = true;
        ascii.push_back('E');
        ++at;
        if (at < inEnd && (*at == u'-' || *at == kMinusSign || *at == u'+'))
        {
            ascii.push_back(*at == u'+' ? '+' : '-');
            ++at;
        }
        if (!copyDigits())
        {
            return nullptr;
        }
    }
    if (at != inEnd || ascii.size() > kMaxNumberLength)
    {
        return nullptr;
    }
    const char* first = ascii.data();
    const char* last = ascii.data() + ascii.size();
    if (real)
    {
        double number = 0;
        auto [ptr, ec] = std::from_chars(first, last, number);
        if (ec != std::errc() || ptr != last)
        {
            return nullptr; // out of range either way, or nothing converted
        }
        return new VReal(number);
    }
    int64_t integer = 0;
    auto [ptr, ec] = std::from_chars(first, last, integer);
    if (ec != std::errc() || ptr != last)
    {
        return nullptr;
    }
    constexpr int64_t kLongLimit = int64_t{1} << 31;
    if (integer > -kLongLimit && integer < kLongLimit)
    {
        return new VLong(static_cast<int32_t>(integer));
    }
    return new VLong8(integer);
}

// The UUID that [inBegin, inEnd) is: 32 hexadecimal digits, '-' or U+2212 allowed after a digit
// and before the next one, optionally in braces. Null when it is none.
VValueSingle* ParseUUID(const UniChar* inBegin, const UniChar* inEnd)
{
    if (inEnd - inBegin < 32)
    {
        return nullptr;
    }
    if (*inBegin == u'{')
    {
        if (inEnd[-1] != u'}')
        {
            return nullptr;
        }
        ++inBegin;
        --inEnd;
    }
    VUUIDBuffer buffer;
    int digits = 0;
    bool afterDigit = false;
    for (const UniChar* at = inBegin; at < inEnd; ++at)
    {
        const int value = HexDigitValue(*at);
        if (value >= 0 && digits < 32)
        {
            buffer.fBytes[digits / 2] =
                static_cast<uint8_t>(buffer.fBytes[digits / 2] | (digits % 2 == 0 ? value << 4 : value));
            ++digits;
            afterDigit = true;
        }
        else if ((*at == u'-' || *at == kMinusSign) && afterDigit && digits < 32)
        {
            afterDigit = false;
        }
        else
        {
            return nullptr;
        }
    }
    return digits == 32 ? new VUUID(buffer) : nullptr;
}

bool Is(const UniChar* inBegin, const UniChar* inEnd, std::u16string_view inWord)
{
    return std::u16string_view(reinterpret_cast<const char16_t*>(inBegin),
                               static_cast<size_t>(inEnd - inBegin)) == inWord;
}

} // namespace

VValueSingle* VValueBag::ParseXMLValue(const VString& inText)
{
    const UniChar* begin = inText.GetCPointer();
    const UniChar* end = begin + inText.GetLength();
    const VIntlMgr* manager = VIntlMgr::GetCurrent();
    auto isSpace = [manager](UniChar inUnit)
    { return manager != nullptr ? manager->IsSpace(inUnit) : inUnit == u' '; };
    while (begin < end && isSpace(*begin))
    {
        ++begin;
    }
    while (end > begin && isSpace(end[-1]))
    {
        --end;
    }
    const UniChar sign =
        begin < end && (*begin == u'+' || *begin == u'-' || *begin == kMinusSign) ? *begin : 0;
    const bool negative = sign == u'-' || sign == kMinusSign;
    const UniChar* rest = sign != 0 ? begin + 1 : begin;
    VValueSingle* value = nullptr;
    if (rest < end)
    {
        const UniChar first = *rest;
        if (IsASCIIDigit(first))
        {
            value = ParseNumber(rest, end, negative);
        }
        else if (first == u'I' && Is(rest, end, u"INF") && sign != u'+')
        {
            value = new VReal(negative ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity());
        }
        else if (first == u'N' && sign == 0 && Is(rest, end, u"NaN"))
        {
            static const double sQuietNaN = std::numeric_limits<double>::quiet_NaN();
            value = new VReal(sQuietNaN);
        }
        else if (sign == 0 && (Is(rest, end, u"true") || Is(rest, end, u"false")))
        {
            value = new VBoolean(first == u't');
        }
        // A UUID that no reading above took; every hexadecimal start is tried, so a UUID reads back
        // as one whatever its first digit.
        if (value == nullptr && sign == 0 && (first == u'{' || HexDigitValue(first) >= 0))
        {
            value = ParseUUID(rest, end);
        }
    }
    return value != nullptr ? value : new VString(inText);
}

} // namespace zorn
