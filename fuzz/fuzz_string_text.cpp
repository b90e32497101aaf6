// The string text readers on arbitrary UTF-16: XML entity decoding, JSON escape decoding, and the
// round trips through their writers. The first byte chooses the options; the rest, taken two bytes
// a unit, is the text.

#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <cstdlib>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    const uint8_t mode = data[0];
    ++data;
    --size;
    const VString text(data, size & ~size_t{1}, CharSet::VTC_UTF_16);

    // Readers: anything goes in, nothing breaks.
    VString fromXML(text);
    fromXML.TranscodeFromXML();
    Check(fromXML.GetLength() <= text.GetLength());
    VString fromJSON;
    Check(fromJSON.FromJSONString(text, (mode & 2) != 0 ? 0x10 : 0) == VE_OK);
    Check(fromJSON.GetLength() <= text.GetLength());

    // XML: escaping then decoding gives the text back. Control escapes make a 0 unit "&#x00;",
    // which decoding leaves as written, so they are tried only on text without one.
    bool hasZero = false;
    for (int32_t i = 1; i <= text.GetLength(); ++i)
    {
        hasZero = hasZero || text.GetUniChar(i) == 0;
    }
    VString xml(text);
    xml.TranscodeToXML((mode & 1) != 0 && !hasZero);
    xml.TranscodeFromXML();
    Check(xml.EqualToStringRaw(text) && xml.GetLength() == text.GetLength());

    // JSON: the same with every option word that escapes.
    VString json;
    Check(text.GetJSONString(json, (mode & 4) != 0 ? 0x400 : 0) == VE_OK);
    VString back;
    back.FromJSONString(json);
    Check(back.EqualToStringRaw(text) && back.GetLength() == text.GetLength());
    return 0;
}
