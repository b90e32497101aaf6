#include "toolbox/kernel/locale/VCollator.h"

#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstring>

namespace zorn
{

namespace
{

// Units that the ASCII path of "like" equality handles itself: TAB, LF, VT, FF and the printable
// range. Other controls are ignorable in collation, CR followed by LF is one character to the
// search (a match may not start or end between them), and DEL and everything above 127 need the
// collation rules: texts holding them take the general path.
bool IsPlainAscii(UniChar inUnit)
{
    return (inUnit >= 9 && inUnit <= 12) || (inUnit >= 32 && inUnit <= 126);
}

UniChar FoldAscii(UniChar inUnit, bool inDiacritical)
{
    return !inDiacritical && inUnit >= 'a' && inUnit <= 'z' ? static_cast<UniChar>(inUnit - 'a' + 'A')
                                                            : inUnit;
}

bool SameAscii(UniChar inA, UniChar inB, bool inDiacritical)
{
    return FoldAscii(inA, inDiacritical) == FoldAscii(inB, inDiacritical);
}

bool AsciiEqual(const UniChar* inA, int32_t inLengthA, const UniChar* inB, int32_t inLengthB,
                bool inDiacritical)
{
    if (inLengthA != inLengthB)
    {
        return false;
    }
    for (int32_t i = 0; i < inLengthA; ++i)
    {
        if (!SameAscii(inA[i], inB[i], inDiacritical))
        {
            return false;
        }
    }
    return true;
}

// 0-based position of the first occurrence of the pattern, or -1.
int32_t AsciiFind(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                  int32_t inPatternLength, bool inDiacritical)
{
    for (int32_t at = 0; at + inPatternLength <= inTextLength; ++at)
    {
        if (AsciiEqual(inText + at, inPatternLength, inPattern, inPatternLength, inDiacritical))
        {
            return at;
        }
    }
    return -1;
}

// "Like" equality of plain ASCII texts, the same answers as the collated rules give for them
// under a collation that orders ASCII by its units.
bool AsciiLike(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern, int32_t inPatternLength,
               UniChar inWild, bool inDiacritical, bool inOnlyAtEnds)
{
    if (inOnlyAtEnds)
    {
        bool first = inPatternLength > 0 && inPattern[0] == inWild;
        bool last = inPatternLength > 0 && inPattern[inPatternLength - 1] == inWild;
        if (first && last && inPatternLength <= 2)
        {
            return true;
        }
        const UniChar* core = inPattern + (first ? 1 : 0);
        int32_t coreLength = inPatternLength - (first ? 1 : 0) - (last ? 1 : 0);
        if (first && last)
        {
            return AsciiFind(inText, inTextLength, core, coreLength, inDiacritical) >= 0;
        }
        if (last)
        {
            return coreLength <= inTextLength &&
                   AsciiEqual(inText, coreLength, core, coreLength, inDiacritical);
        }
        if (first)
        {
            return coreLength <= inTextLength && AsciiEqual(inText + inTextLength - coreLength, coreLength,
                                                            core, coreLength, inDiacritical);
        }
        return AsciiEqual(inText, inTextLength, core, coreLength, inDiacritical);
    }

    // Wild characters anywhere: the usual backtracking match, where only the latest wild
    // character needs to be retried.
    int32_t t = 0;
    int32_t p = 0;
    int32_t starP = -1;
    int32_t starT = 0;
    while (t < inTextLength)
    {
        if (p < inPatternLength && inPattern[p] == inWild)
        {
            starP = p++;
            starT = t;
        }
        else if (p < inPatternLength && SameAscii(inPattern[p], inText[t], inDiacritical))
        {
            ++p;
            ++t;
        }
        else if (starP >= 0)
        {
            p = starP + 1;
            t = ++starT;
        }
        else
        {
            return false;
        }
    }
    while (p < inPatternLength && inPattern[p] == inWild)
    {
        ++p;
    }
    return p == inPatternLength;
}

// Collation by code units, for the time when no international manager is reachable.
class VCollator_binary final : public VCollator
{
public:
    VCollator_binary() : VCollator(0, false) {}

    CompareResult CompareString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                int32_t inPatternLength, bool /*inDiacritical*/) const override
    {
        int32_t common = std::min(inTextLength, inPatternLength);
        for (int32_t i = 0; i < common; ++i)
        {
            if (inText[i] != inPattern[i])
            {
                return inText[i] < inPattern[i] ? CR_SMALLER : CR_BIGGER;
            }
        }
        return inTextLength == inPatternLength ? CR_EQUAL
                                               : (inTextLength < inPatternLength ? CR_SMALLER : CR_BIGGER);
    }

    bool EqualString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                     int32_t inPatternLength, bool inDiacritical) const override
    {
        return CompareString(inText, inTextLength, inPattern, inPatternLength, inDiacritical) == CR_EQUAL;
    }

    int32_t FindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                       int32_t inPatternLength, bool /*inDiacritical*/,
                       int32_t* outFoundLength) const override
    {
        int32_t found = 0;
        if (inTextLength > 0)
        {
            found = inPatternLength <= 0
                        ? 1
                        : VString::FindRawString(inText, inTextLength, inPattern, inPatternLength);
        }
        if (outFoundLength != nullptr)
        {
            *outFoundLength = found > 0 ? std::max(inPatternLength, 0) : 0;
        }
        return found;
    }

    int32_t ReversedFindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                               int32_t inPatternLength, bool /*inDiacritical*/,
                               int32_t* outFoundLength) const override
    {
        int32_t found = 0;
        if (inTextLength > 0 && inPatternLength <= 0)
        {
            found = 1;
        }
        else if (inTextLength > 0)
        {
            for (int32_t at = inTextLength - inPatternLength; at >= 0 && found == 0; --at)
            {
                if (std::memcmp(inText + at, inPattern,
                                static_cast<size_t>(inPatternLength) * sizeof(UniChar)) == 0)
                {
                    found = at + 1;
                }
            }
        }
        if (outFoundLength != nullptr)
        {
            *outFoundLength = found > 0 ? std::max(inPatternLength, 0) : 0;
        }
        return found;
    }

    VCollator* Clone() const override { return new VCollator_binary(*this); }

    void GetStringComparisonAlgorithmSignature(VString& outSignature) const override
    {
        outSignature.FromCString("binary");
    }
};

} // namespace

VCollator::VCollator(uint32_t inDialectCode, bool inAsciiFastPath)
    : fDialectCode(inDialectCode), fAsciiFastPath(inAsciiFastPath)
{
}

VCollator* VCollator::GetBinaryCollator()
{
    // Never released: collated operations may run during static destruction.
    static VCollator* const sBinary = new VCollator_binary();
    return sBinary;
}

bool VCollator::BeginsWithString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                 int32_t inPatternLength, bool inDiacritical, int32_t* outLength) const
{
    int32_t length = 0;
    bool begins = inPatternLength <= 0 ||
                  FindString(inText, inTextLength, inPattern, inPatternLength, inDiacritical, &length) == 1;
    if (outLength != nullptr)
    {
        *outLength = begins ? length : 0;
    }
    return begins;
}

bool VCollator::EndsWithString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                               int32_t inPatternLength, bool inDiacritical, int32_t* outLength) const
{
    bool ends = inPatternLength <= 0;
    int32_t length = 0;
    if (!ends)
    {
        int32_t found =
            ReversedFindString(inText, inTextLength, inPattern, inPatternLength, inDiacritical, nullptr);
        if (found > 0)
        {
            int32_t at = found - 1;
            ends = EqualString(inText + at, inTextLength - at, inPattern, inPatternLength, inDiacritical);
            length = ends ? inTextLength - at : 0;
        }
    }
    if (outLength != nullptr)
    {
        *outLength = length;
    }
    return ends;
}

CompareResult VCollator::CompareString_Like(const UniChar* inText, int32_t inTextLength,
                                            const UniChar* inPattern, int32_t inPatternLength,
                                            bool inDiacritical) const
{
    if ((fOptions & kOptionWildCharOnlyAtEnds) != 0)
    {
        return _CompareString_Like_IgnoreWildCharInMiddle(inText, inTextLength, inPattern, inPatternLength,
                                                          inDiacritical);
    }
    return _CompareString_Like_SupportWildCharInMiddle(inText, inTextLength, inPattern, inPatternLength,
                                                       inDiacritical);
}

bool VCollator::EqualString_Like(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                 int32_t inPatternLength, bool inDiacritical) const
{
    if (fAsciiFastPath)
    {
        UniChar wild = fWildChar;
        bool plain = std::all_of(inText, inText + std::max(inTextLength, 0), IsPlainAscii) &&
                     std::all_of(inPattern, inPattern + std::max(inPatternLength, 0),
                                 [wild](UniChar inUnit) { return inUnit == wild || IsPlainAscii(inUnit); });
        if (plain)
        {
            return AsciiLike(inText, std::max(inTextLength, 0), inPattern, std::max(inPatternLength, 0), wild,
                             inDiacritical, (fOptions & kOptionWildCharOnlyAtEnds) != 0);
        }
    }
    return CompareString_Like(inText, inTextLength, inPattern, inPatternLength, inDiacritical) == CR_EQUAL;
}

bool VCollator::IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern,
                                                              int32_t inPatternLength) const
{
    for (int32_t i = 0; i < inPatternLength; ++i)
    {
        UniChar unit = inPattern[i];
        bool kana = (unit >= 0x3040 && unit <= 0x3094) || (unit >= 0x309D && unit <= 0x309E) ||
                    (unit >= 0x30A1 && unit <= 0x30FE) || (unit >= 0xFF65 && unit <= 0xFF9F);
        if (kana || (unit == fWildChar && i != inPatternLength - 1))
        {
            return false;
        }
    }
    return true;
}

CompareResult VCollator::_CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText,
                                                                    int32_t inTextLength,
                                                                    const UniChar* inPattern,
                                                                    int32_t inPatternLength,
                                                                    bool inDiacritical) const
{
    bool first = inPatternLength > 0 && inPattern[0] == fWildChar;
    bool last = inPatternLength > 0 && inPattern[inPatternLength - 1] == fWildChar;
    CompareResult notFound = inTextLength > inPatternLength ? CR_BIGGER : CR_SMALLER;
    if (!first && !last)
    {
        return CompareString(inText, inTextLength, inPattern, inPatternLength, inDiacritical);
    }
    if (first && last)
    {
        if (inPatternLength <= 2)
        {
            return CR_EQUAL;
        }
        return FindString(inText, inTextLength, inPattern + 1, inPatternLength - 2, inDiacritical, nullptr) >
                       0
                   ? CR_EQUAL
                   : notFound;
    }
    if (last)
    {
        if (BeginsWithString(inText, inTextLength, inPattern, inPatternLength - 1, inDiacritical, nullptr))
        {
            return CR_EQUAL;
        }
        return CompareString(inText, inTextLength, inPattern, inPatternLength - 1, inDiacritical);
    }
    return EndsWithString(inText, inTextLength, inPattern + 1, inPatternLength - 1, inDiacritical, nullptr)
               ? CR_EQUAL
               : notFound;
}

CompareResult VCollator::_CompareString_Like_SupportWildCharInMiddle(const UniChar* inText,
                                                                     int32_t inTextLength,
                                                                     const UniChar* inPattern,
                                                                     int32_t inPatternLength,
                                                                     bool inDiacritical) const
{
    const UniChar wild = fWildChar;
    const UniChar* patternEnd = inPattern + std::max(inPatternLength, 0);
    const UniChar* piece = std::find(inPattern, patternEnd, wild);
    if (piece == patternEnd)
    {
        return CompareString(inText, inTextLength, inPattern, inPatternLength, inDiacritical);
    }

    // The piece before the first wild character must begin the text.
    int32_t textPos = 0;
    if (piece != inPattern)
    {
        int32_t length = 0;
        if (!BeginsWithString(inText, inTextLength, inPattern, static_cast<int32_t>(piece - inPattern),
                              inDiacritical, &length))
        {
            return CR_SMALLER;
        }
        textPos = length;
    }

    for (;;)
    {
        piece = std::find_if(piece, patternEnd, [wild](UniChar inUnit) { return inUnit != wild; });
        if (piece == patternEnd)
        {
            return CR_EQUAL; // a trailing wild character takes whatever text is left
        }
        const UniChar* pieceEnd = std::find(piece, patternEnd, wild);
        int32_t pieceLength = static_cast<int32_t>(pieceEnd - piece);
        const UniChar* rest = inText + textPos;
        int32_t restLength = inTextLength - textPos;
        int32_t length = 0;
        if (pieceEnd == patternEnd)
        {
            // The last piece must end the text: its last occurrence in what is left decides.
            int32_t found = ReversedFindString(rest, restLength, piece, pieceLength, inDiacritical, nullptr);
            if (found == 0)
            {
                return CR_SMALLER;
            }
            int32_t at = found - 1;
            return CompareString(rest + at, restLength - at, piece, pieceLength, inDiacritical) == CR_EQUAL
                       ? CR_EQUAL
                       : CR_SMALLER;
        }
        // A piece between two wild characters: its first occurrence after the previous match.
        int32_t found = FindString(rest, restLength, piece, pieceLength, inDiacritical, &length);
        if (found == 0)
        {
            return CR_SMALLER;
        }
        textPos += found - 1 + length;
        piece = pieceEnd;
    }
}

} // namespace zorn
