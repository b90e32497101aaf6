// Loads a value bag from arbitrary bytes (UTF-8 text) with LoadBagFromXML. Loading the same text
// twice must give equal bags; and when the bag can be written back as XML, loading what was
// written must give the same string attributes and elements again.

#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

// Same attribute names and string values in order, same element lists, recursively.
bool SameBags(const VValueBag& inA, const VValueBag& inB)
{
    if (inA.GetAttributesCount() != inB.GetAttributesCount() ||
        inA.GetElementNamesCount() != inB.GetElementNamesCount())
    {
        return false;
    }
    for (int32_t i = 1; i <= inA.GetAttributesCount(); ++i)
    {
        VString nameA;
        VString nameB;
        const VValueSingle* a = inA.GetNthAttribute(i, &nameA);
        const VValueSingle* b = inB.GetNthAttribute(i, &nameB);
        if (a == nullptr || b == nullptr || !nameA.EqualToStringRaw(nameB))
        {
            return false;
        }
        VString textA;
        VString textB;
        a->GetString(textA);
        b->GetString(textB);
        if (!textA.EqualToStringRaw(textB))
        {
            return false;
        }
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
            if (!SameBags(*a->GetNth(j), *b->GetNth(j)))
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
    Check(SameBags(first, second));
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
    Check(SameBags(first, again));
    return 0;
}
