// URL texts from outside (links, command lines, documents) through VURL. Besides the sanitizers'
// checks:
// - the encoded absolute URL, and the encoded URL rebuilt from the parts, read again as encoded
//   give the same conformity and the same parts;
// - decoding an encoded text gives the text back, composed;
// - escaped bytes that are no UTF-8 survive that round trip as the file layer's byte units;
// - a local file path found in a URL gives a file URL that names the same path.
//
// Input: byte 0 holds the flags (bit 0 the text is read as encoded, bit 1 the rest is UTF-16LE
// units rather than UTF-8 bytes); the rest is the text.

#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VURL.h"

#include <unicode/utf8.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

std::u16string Units(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

struct Parts
{
    bool fConform;
    std::u16string fTexts[6];
    bool operator==(const Parts& inOther) const = default;
};

Parts PartsOf(const VURL& inURL)
{
    VString texts[6];
    inURL.GetScheme(texts[0], false);
    inURL.GetNetworkLocation(texts[1], false);
    inURL.GetPath(texts[2], eURL_POSIX_STYLE, false);
    inURL.GetParameters(texts[3], false);
    inURL.GetQuery(texts[4], false);
    inURL.GetFragment(texts[5], false);
    Parts parts{inURL.IsConform(), {}};
    for (int i = 0; i < 6; ++i)
    {
        parts.fTexts[i] = Units(texts[i]);
    }
    return parts;
}

// Whether the text holds an unpaired surrogate; with inBesidesBytes, one other than a run of byte
// escapes U+DC80..U+DCFF whose bytes hold no UTF-8 character, which URLs carry as the bytes they
// stand for. Other lone surrogates are encoded as U+FFFD: no round trip for them.
bool HoldsLoneSurrogate(const std::u16string& inUnits, bool inBesidesBytes)
{
    std::string run;
    auto runIsBytes = [&run]()
    {
        const auto size = static_cast<int32_t>(run.size());
        int32_t i = 0;
        while (i < size)
        {
            UChar32 c;
            U8_NEXT(reinterpret_cast<const uint8_t*>(run.data()), i, size, c);
            if (c >= 0)
            {
                return false;
            }
        }
        run.clear();
        return true;
    };
    for (size_t i = 0; i < inUnits.size(); ++i)
    {
        const bool lead = inUnits[i] >= 0xD800 && inUnits[i] <= 0xDBFF;
        const bool trail = inUnits[i] >= 0xDC00 && inUnits[i] <= 0xDFFF;
        if (lead && i + 1 < inUnits.size() && inUnits[i + 1] >= 0xDC00 && inUnits[i + 1] <= 0xDFFF)
        {
            ++i;
        }
        else if (inBesidesBytes && inUnits[i] >= 0xDC80 && inUnits[i] <= 0xDCFF)
        {
            run.push_back(static_cast<char>(inUnits[i] - 0xDC00));
            continue;
        }
        else if (lead || trail)
        {
            return true;
        }
        if (!runIsBytes())
        {
            return true;
        }
    }
    return !runIsBytes();
}

// Whether a part holds what its encoded form cannot carry back.
bool HoldsLoneSurrogate(const Parts& inParts)
{
    for (const std::u16string& text : inParts.fTexts)
    {
        if (HoldsLoneSurrogate(text, true))
        {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize == 0)
    {
        return 0;
    }
    const uint8_t flags = inData[0];
    const uint8_t* data = inData + 1;
    const size_t size = inSize - 1;
    VString text;
    if ((flags & 2) != 0)
    {
        std::vector<UniChar> units(size / 2);
        if (!units.empty())
        {
            std::memcpy(units.data(), data, units.size() * sizeof(UniChar));
        }
        text.FromUniString(units.data(), static_cast<int32_t>(units.size()));
    }
    else
    {
        text.FromBlock(data, size, CharSet::VTC_UTF_8);
    }

    const VURL url(text, (flags & 1) != 0);
    const Parts parts = PartsOf(url);
    const bool lone = HoldsLoneSurrogate(parts);

    VString encoded;
    url.GetAbsoluteURL(encoded, true);
    Check(lone || PartsOf(VURL(encoded, true)) == parts);
    url.GetRelativeURL(encoded, true);
    Check(lone || PartsOf(VURL(encoded, true)) == parts);

    // Every getter and path operation on whatever was parsed.
    VString scratch;
    url.GetResourceSpecifier(scratch, true);
    url.GetLastPathComponent(scratch, true);
    url.GetHostName(scratch, true);
    url.GetPassword(scratch, true);
    url.GetPath(scratch, eURL_HFS_STYLE, true);
    (void)url.GetPortNumber();
    (void)url.IsRoot();
    VURL changed(url);
    changed.SetQuery(text, (flags & 1) != 0);
    changed.ToParent();
    changed.ToSubFolder(text);
    changed.GetAbsoluteURL(encoded, true);
    const Parts changedParts = PartsOf(changed);
    Check(HoldsLoneSurrogate(changedParts) || PartsOf(VURL(encoded, true)) == changedParts);

    if (!HoldsLoneSurrogate(Units(text), false))
    {
        VString coded(text);
        VURL::Encode(coded, false, false, true, false);
        VURL::Decode(coded);
        VString composed(text);
        composed.Compose();
        Check(Units(coded) == Units(composed));
    }

    VFilePath path;
    if (url.GetFilePath(path))
    {
        Check(path.IsValid());
        VFilePath again;
        Check(VURL(path).GetFilePath(again));
        Check(Units(again.GetPath(FPS_NATIVE)) == Units(path.GetPath(FPS_NATIVE)));
    }
    return 0;
}
