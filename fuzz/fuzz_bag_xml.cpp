// Loads a value bag from arbitrary bytes (UTF-8 text) with LoadBagFromXML. Loading the same text
// twice must give equal bags; and when the bag can be written back as XML, loading what was
// written must give the same string attributes and elements again, but for the line feeds the
// writer puts between child elements.

#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition, int inLine = __builtin_LINE())
{
    if (!inCondition)
    {
        std::fprintf(stderr, "check failed at line %d\n", inLine);
        std::abort();
    }
}

using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;

std::u16string UnitsOf(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

// The attributes as name and string value, in order. With inLayoutBlind the character data ("<>")
// loses its tabs, line feeds and carriage returns, and goes when nothing else is left: the writer
// puts a line feed before each child element, which the reader keeps as text, and drops those
// controls from text it writes without a CDATA section.
Attributes AttributesOf(const VValueBag& inBag, bool inLayoutBlind)
{
    Attributes out;
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        VString name;
        VString text;
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (value != nullptr)
        {
            value->GetString(text);
        }
        std::u16string units = UnitsOf(text);
        if (inLayoutBlind && UnitsOf(name) == u"<>")
        {
            std::erase_if(units, [](char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r'; });
            if (units.empty())
            {
                continue;
            }
        }
        out.emplace_back(UnitsOf(name), units);
    }
    return out;
}

// Same attributes (see above) and element lists, recursively.
bool SameBags(const VValueBag& inA, const VValueBag& inB, bool inLayoutBlind)
{
    if (inA.GetElementNamesCount() != inB.GetElementNamesCount() ||
        AttributesOf(inA, inLayoutBlind) != AttributesOf(inB, inLayoutBlind))
    {
        return false;
    }
    for (int32_t i = 1; i <= inA.GetElementNamesCount(); ++i)
    {
        VString nameA;
        VString nameB;
        VBagArray* a = inA.GetNthElementName(i, &nameA);
        VBagArray* b = inB.GetNthElementName(i, &nameB);
        if (a == nullptr || b == nullptr || !nameA.EqualToStringRaw(nameB) || a->GetCount() != b->GetCount())
        {
            return false;
        }
        for (int32_t j = 1; j <= a->GetCount(); ++j)
        {
            if (!SameBags(*a->GetNth(j), *b->GetNth(j), inLayoutBlind))
            {
                return false;
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    static const bool sInited = VXMLParser::Init();
    (void)sInited;
    VString text(inData, inSize, CharSet::VTC_UTF_8);
    VValueBag first;
    VValueBag second;
    VError error = LoadBagFromXML(text, VString(), first, 0);
    Check(LoadBagFromXML(text, VString(), second, 0) == error);
    Check(SameBags(first, second, false));
    if (error != VE_OK)
    {
        return 0;
    }
    VPtrStream stream;
    stream.OpenWriting();
    if (WriteBagToStreamInXML(first, &stream) != VE_OK)
    {
        return 0; // the bag cannot be written as XML
    }
    stream.CloseWriting();
    stream.OpenReading();
    VValueBag again;
    Check(ReadBagFromStreamInXML(again, &stream) == VE_OK);
    Check(SameBags(first, again, true));
    return 0;
}
