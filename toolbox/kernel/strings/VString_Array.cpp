#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VArrayValue.h"

#include <vector>

namespace zorn
{

namespace
{

void FillArray(const std::vector<VString>& inPieces, VArrayString& outStrings)
{
    outStrings.SetCount(0);
    if (!outStrings.SetCount(static_cast<int32_t>(inPieces.size())))
    {
        return;
    }
    for (size_t i = 0; i < inPieces.size(); ++i)
    {
        outStrings.FromString(inPieces[i], static_cast<int32_t>(i + 1));
    }
}

} // namespace

bool VString::GetSubStrings(UniChar inSeparator, VArrayString& outStrings, bool inKeepEmpty,
                            bool inTrimSpaces) const
{
    std::vector<VString> pieces;
    const bool found = GetSubStrings(inSeparator, pieces, inKeepEmpty, inTrimSpaces);
    FillArray(pieces, outStrings);
    return found;
}

bool VString::GetSubStrings(const VString& inSeparator, VArrayString& outStrings, bool inKeepEmpty,
                            bool inTrimSpaces, bool inDiacritical) const
{
    std::vector<VString> pieces;
    const bool found = GetSubStrings(inSeparator, pieces, inKeepEmpty, inTrimSpaces, inDiacritical);
    FillArray(pieces, outStrings);
    return found;
}

} // namespace zorn
