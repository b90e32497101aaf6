// VString: editing, searching, replacing, trimming, splitting and joining. Every in-place editor
// decides on its range first (doing nothing outside the bounds it accepts), then makes the
// buffer writable for the final length keeping the content, then moves the tail and copies the
// new units in (_Splice).

#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace zorn
{

namespace
{

bool IsHighSurrogate(UniChar inUnit)
{
    return inUnit >= 0xD800 && inUnit <= 0xDBFF;
}

// The white space that Trim removes.
bool IsTrimSpace(UniChar inUnit)
{
    switch (inUnit)
    {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
    case 0xFEFF:
        return true;
    default:
        return inUnit >= 0x2000 && inUnit <= 0x200A;
    }
}

void CopyUnits(UniChar* outDest, const UniChar* inSource, int32_t inCount)
{
    if (inCount > 0)
    {
        std::memmove(outDest, inSource, static_cast<size_t>(inCount) * sizeof(UniChar));
    }
}

bool PointsInto(const UniChar* inUnits, const UniChar* inBuffer, int32_t inCapacity)
{
    auto address = reinterpret_cast<uintptr_t>(inUnits);
    auto begin = reinterpret_cast<uintptr_t>(inBuffer);
    return address >= begin && address <= begin + static_cast<uintptr_t>(inCapacity) * sizeof(UniChar);
}

// Counts the units that the predicate accepts at the chosen ends of a text.
template <class Predicate>
void CountEnds(const UniChar* inUnits, int32_t inLength, bool inLeading, bool inTrailing, Predicate inIsSpace,
               int32_t& outLeading, int32_t& outTrailing)
{
    outLeading = 0;
    outTrailing = 0;
    if (inLeading)
    {
        while (outLeading < inLength && inIsSpace(inUnits[outLeading]))
        {
            ++outLeading;
        }
    }
    if (inTrailing)
    {
        while (outTrailing < inLength - outLeading && inIsSpace(inUnits[inLength - 1 - outTrailing]))
        {
            ++outTrailing;
        }
    }
}

// Appends one piece of a split, trimmed of U+0020 when asked; empty pieces only when kept.
void AppendPiece(std::vector<VString>& ioStrings, const UniChar* inUnits, int32_t inLength, bool inKeepEmpty,
                 bool inTrimSpaces)
{
    VString piece(inUnits, inLength);
    if (inTrimSpaces)
    {
        piece.TrimUniChar(' ');
    }
    if (inKeepEmpty || !piece.IsEmpty())
    {
        ioStrings.push_back(std::move(piece));
    }
}

} // namespace

bool VString::_Splice(int32_t inPos, int32_t inRemove, const UniChar* inUnits, int32_t inCount)
{
    int64_t newLength = static_cast<int64_t>(fLength) - inRemove + inCount;
    if (newLength > INT32_MAX)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (inCount > 0 && PointsInto(inUnits, fString, fMaxLength))
    {
        // The units would move or go with the buffer: take them out first.
        VString copy(inUnits, inCount);
        return copy.fLength == inCount && _Splice(inPos, inRemove, copy.fString, inCount);
    }
    int32_t tail = fLength - inPos - inRemove;
    // Writable for the longer of the two lengths, so that a copied buffer keeps the tail to move.
    if (!_EnsureWritable(std::max(fLength, static_cast<int32_t>(newLength)), true))
    {
        return false;
    }
    if (inCount != inRemove)
    {
        CopyUnits(fString + inPos + inCount, fString + inPos + inRemove, tail);
    }
    CopyUnits(fString + inPos, inUnits, inCount);
    fLength = static_cast<int32_t>(newLength);
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
    return true;
}

// Appending and inserting

bool VString::AppendUniChar(UniChar inUniChar)
{
    return _Splice(fLength, 0, &inUniChar, 1);
}

bool VString::AppendUniChars(const UniChar* inUniChars, int32_t inCount)
{
    if (inUniChars == nullptr || inCount <= 0)
    {
        return true;
    }
    return _Splice(fLength, 0, inUniChars, inCount);
}

bool VString::AppendUniCString(const UniChar* inUniCString)
{
    return inUniCString == nullptr || AppendUniChars(inUniCString, UniCStringLength(inUniCString));
}

bool VString::AppendString(const VString& inString)
{
    return AppendUniChars(inString.fString, inString.fLength);
}

VString operator+(const VString& inFirst, const VString& inSecond)
{
    VString result(inFirst);
    result.AppendString(inSecond);
    return result;
}

void VString::Insert(UniChar inUniChar, int32_t inPos)
{
    if (inPos < 1 || inUniChar == 0)
    {
        return;
    }
    _Splice(std::min(inPos - 1, fLength), 0, &inUniChar, 1);
}

void VString::Insert(const VString& inString, int32_t inPos)
{
    if (inPos < 1 || inString.fLength == 0)
    {
        return;
    }
    _Splice(std::min(inPos - 1, fLength), 0, inString.fString, inString.fLength);
}

// Replacing, removing, cutting

void VString::Replace(const VString& inText, int32_t inPos, int32_t inCount)
{
    if (inPos < 1 || inCount < 1 || inPos > fLength)
    {
        return;
    }
    _Splice(inPos - 1, std::min(inCount, fLength - inPos + 1), inText.fString, inText.fLength);
}

void VString::Remove(int32_t inPos, int32_t inCount)
{
    if (inPos < 1 || inPos > fLength || inCount <= 0)
    {
        return;
    }
    _Splice(inPos - 1, std::min(inCount, fLength - inPos + 1), nullptr, 0);
}

void VString::Truncate(int32_t inLength, bool inKeepSurrogatePairs)
{
    if (inKeepSurrogatePairs && inLength >= 1 && inLength <= fLength &&
        IsHighSurrogate(fString[inLength - 1]))
    {
        --inLength;
    }
    inLength = std::max(inLength, 0);
    if (inLength >= fLength)
    {
        return;
    }
    bool inPlace = IsInline() || ((fFlags & kBorrowed) != 0 && (fFlags & kCallerWritable) != 0);
    bool ownHeap = !IsInline() && (fFlags & kBorrowed) == 0 && _IsWritable(fLength);
    if (ownHeap && fMaxLength > inLength + inLength / 8 + 32)
    {
        // Give back a buffer far larger than the text; on failure the old length stays.
        if (!_ReallocBuffer(inLength, true))
        {
            return;
        }
    }
    else if (!inPlace && !ownHeap)
    {
        // A shared or read-only buffer: a copy of the new length.
        if (!_ReallocBuffer(inLength, true))
        {
            return;
        }
    }
    fLength = inLength;
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::SubString(int32_t inPos, int32_t inCount)
{
    if (inPos < 1 || inCount < 1 || inPos > fLength)
    {
        _Splice(0, fLength, nullptr, 0);
        return;
    }
    inCount = std::min(inCount, fLength - inPos + 1);
    if (!_EnsureWritable(fLength, true))
    {
        return;
    }
    CopyUnits(fString, fString + inPos - 1, inCount);
    fLength = inCount;
    fString[fLength] = 0;
    fFlags &= static_cast<uint8_t>(~kNull);
    SetDirty(true);
}

void VString::GetSubString(int32_t inPos, int32_t inCount, VString& outResult) const
{
    if (inPos < 1 || inCount < 1 || inPos > fLength)
    {
        outResult.Clear();
        return;
    }
    outResult.FromUniCString(fString + inPos - 1, std::min(inCount, fLength - inPos + 1));
}

VString VString::Before(int32_t inPos) const
{
    if (inPos < 1)
    {
        return VString();
    }
    if (inPos <= fLength)
    {
        return VString(fString, inPos - 1);
    }
    return VString(*this);
}

VString VString::After(int32_t inPos) const
{
    if (inPos < 1)
    {
        return VString(*this);
    }
    if (inPos < fLength)
    {
        return VString(fString + inPos, fLength - inPos);
    }
    return VString();
}

void VString::FromUniString(const UniChar* inUniChars, int32_t inCount)
{
    FromUniCString(inUniChars, std::max(inCount, 0));
}

// Trimming and case

void VString::TrimUniChar(UniChar inUniChar)
{
    int32_t leading = 0;
    int32_t trailing = 0;
    CountEnds(
        fString, fLength, true, true, [inUniChar](UniChar inUnit) { return inUnit == inUniChar; }, leading,
        trailing);
    if (leading == fLength && fLength > 0)
    {
        Clear();
        return;
    }
    Remove(fLength - trailing + 1, trailing);
    Remove(1, leading);
}

void VString::Trim(bool inLeading, bool inTrailing)
{
    int32_t leading = 0;
    int32_t trailing = 0;
    CountEnds(fString, fLength, inLeading, inTrailing, IsTrimSpace, leading, trailing);
    // A cut at the end must not leave half of a surrogate pair behind.
    if (trailing > 0 && fLength - trailing > leading && IsHighSurrogate(fString[fLength - trailing - 1]))
    {
        ++trailing;
    }
    Remove(fLength - trailing + 1, trailing);
    Remove(1, leading);
}

void VString::RemoveWhiteSpaces(bool inLeading, bool inTrailing, int32_t* outLeadingCount,
                                int32_t* outTrailingCount, const VIntlMgr* inIntlMgr, bool inFlag)
{
    int32_t leading = 0;
    int32_t trailing = 0;
    if (inIntlMgr != nullptr)
    {
        CountEnds(
            fString, fLength, inLeading, inTrailing,
            [inIntlMgr, inFlag](UniChar inUnit) { return inIntlMgr->IsSpace(inUnit, inFlag); }, leading,
            trailing);
    }
    else
    {
        CountEnds(
            fString, fLength, inLeading, inTrailing,
            [](UniChar inUnit) { return inUnit == 0x0020 || inUnit == 0x0009; }, leading, trailing);
    }
    Remove(fLength - trailing + 1, trailing);
    Remove(1, leading);
    if (outLeadingCount != nullptr)
    {
        *outLeadingCount = leading;
    }
    if (outTrailingCount != nullptr)
    {
        *outTrailingCount = trailing;
    }
}

void VString::ToUpperCase(bool inFlag)
{
    if (VIntlMgr* manager = VIntlMgr::GetCurrent())
    {
        manager->ToUpperLowerCase(*this, inFlag, true);
    }
    else
    {
        VIntlMgr::ToUpperLowerCaseNoDialect(*this, true);
    }
}

void VString::ToLowerCase(bool inFlag)
{
    if (VIntlMgr* manager = VIntlMgr::GetCurrent())
    {
        manager->ToUpperLowerCase(*this, inFlag, false);
    }
    else
    {
        VIntlMgr::ToUpperLowerCaseNoDialect(*this, false);
    }
}

// Searching

int32_t VString::FindUniChar(UniChar inUniChar, int32_t inStart, bool inBackward) const
{
    if (fLength == 0 || inStart > fLength)
    {
        return 0;
    }
    int32_t from = std::max(inStart, 1) - 1;
    if (inBackward)
    {
        for (int32_t i = from; i >= 0; --i)
        {
            if (fString[i] == inUniChar)
            {
                return i + 1;
            }
        }
        return 0;
    }
    const UniChar* found = std::find(fString + from, fString + fLength, inUniChar);
    return found == fString + fLength ? 0 : static_cast<int32_t>(found - fString) + 1;
}

int32_t VString::FindRawString(const VString& inPattern, int32_t inStart) const
{
    if (inStart < 1 || static_cast<int64_t>(fLength) - inStart + 1 < inPattern.fLength)
    {
        return 0;
    }
    int32_t found =
        FindRawString(fString + inStart - 1, fLength - inStart + 1, inPattern.fString, inPattern.fLength);
    return found == 0 ? 0 : inStart + found - 1;
}

int32_t VString::FindRawString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                               int32_t inPatternLength)
{
    if (inPatternLength <= 0)
    {
        return 1;
    }
    if (inTextLength < inPatternLength)
    {
        return 0;
    }
    // The prefix table: for each pattern length j, the length of the longest proper prefix of
    // the pattern's first j units that is also their suffix (-1 for j = 0).
    int32_t stackTable[256];
    std::unique_ptr<int32_t[]> heapTable;
    int32_t* table = stackTable;
    if (inPatternLength >= 256)
    {
        heapTable.reset(new (std::nothrow) int32_t[static_cast<size_t>(inPatternLength) + 1]);
        table = heapTable.get();
    }
    if (table == nullptr)
    {
        // No room for the table: a plain search finds the same position.
        const UniChar* found =
            std::search(inText, inText + inTextLength, inPattern, inPattern + inPatternLength);
        return found == inText + inTextLength ? 0 : static_cast<int32_t>(found - inText) + 1;
    }
    table[0] = -1;
    for (int32_t j = 0, k = -1; j < inPatternLength;)
    {
        while (k >= 0 && inPattern[k] != inPattern[j])
        {
            k = table[k];
        }
        table[++j] = ++k;
    }
    for (int32_t i = 0, j = 0; i < inTextLength;)
    {
        while (j >= 0 && inPattern[j] != inText[i])
        {
            j = table[j];
        }
        ++i;
        if (++j == inPatternLength)
        {
            return i - inPatternLength + 1;
        }
    }
    return 0;
}

bool VString::BeginsWithRawString(const VString& inPrefix) const
{
    return inPrefix.fLength <= fLength &&
           std::equal(inPrefix.fString, inPrefix.fString + inPrefix.fLength, fString);
}

bool VString::EndsWithRawString(const VString& inSuffix) const
{
    return inSuffix.fLength <= fLength && std::equal(inSuffix.fString, inSuffix.fString + inSuffix.fLength,
                                                     fString + fLength - inSuffix.fLength);
}

int32_t VString::Find(const VString& inPattern, int32_t inStart, bool inDiacritical) const
{
    if (inStart < 1 || inStart > fLength)
    {
        return 0;
    }
    int32_t found = VIntlMgr::GetCurrentCollator()->FindString(fString + inStart - 1, fLength - inStart + 1,
                                                               inPattern.fString, inPattern.fLength,
                                                               inDiacritical, nullptr);
    return found == 0 ? 0 : inStart + found - 1;
}

bool VString::BeginsWith(const VString& inPrefix, bool inDiacritical) const
{
    // A prefix that matches is at most a little longer than the pattern (an accent decomposed,
    // an ignorable unit): the search need not run through the whole text.
    int32_t length =
        static_cast<int32_t>(std::min<int64_t>(fLength, static_cast<int64_t>(inPrefix.fLength) + 16));
    return VIntlMgr::GetCurrentCollator()->BeginsWithString(fString, length, inPrefix.fString,
                                                            inPrefix.fLength, inDiacritical, nullptr);
}

bool VString::EndsWith(const VString& inSuffix, bool inDiacritical) const
{
    return VIntlMgr::GetCurrentCollator()->EndsWithString(fString, fLength, inSuffix.fString,
                                                          inSuffix.fLength, inDiacritical, nullptr);
}

// Replacing occurrences

void VString::Exchange(UniChar inOld, UniChar inNew, int32_t inStart, int32_t inMaxCount)
{
    if (fLength == 0 || IsNull() || inStart < 1 || inMaxCount < 1)
    {
        return;
    }
    int32_t count = 0;
    for (int32_t i = inStart - 1; i < fLength && count < inMaxCount; ++i)
    {
        if (fString[i] == inOld)
        {
            if (count == 0 && !_EnsureWritable(fLength, true))
            {
                return;
            }
            fString[i] = inNew;
            ++count;
        }
    }
    if (count > 0)
    {
        SetDirty(true);
    }
}

void VString::ExchangeRawString(const VString& inPattern, const VString& inReplacement, int32_t inStart,
                                int32_t inMaxCount, int32_t* outCount)
{
    int32_t count = 0;
    if (outCount != nullptr)
    {
        *outCount = 0;
    }
    // An empty pattern would be found again and again at the same place.
    if (inMaxCount < 1 || inStart < 1 || inStart > fLength || inPattern.fLength == 0)
    {
        return;
    }
    // A pattern or replacement in this string's own storage would change under the writes.
    VString patternCopy;
    VString replacementCopy;
    const VString* pattern = &inPattern;
    const VString* replacement = &inReplacement;
    if (PointsInto(inPattern.fString, fString, fMaxLength))
    {
        patternCopy.FromUniCString(inPattern.fString, inPattern.fLength);
        pattern = &patternCopy;
    }
    if (PointsInto(inReplacement.fString, fString, fMaxLength))
    {
        replacementCopy.FromUniCString(inReplacement.fString, inReplacement.fLength);
        replacement = &replacementCopy;
    }
    const int32_t patternLength = pattern->fLength;
    const int32_t replacementLength = replacement->fLength;
    if (patternLength != inPattern.fLength || replacementLength != inReplacement.fLength)
    {
        return; // a copy failed
    }
    auto findFrom = [this, pattern, patternLength](int32_t inPos)
    {
        int32_t found = FindRawString(fString + inPos, fLength - inPos, pattern->fString, patternLength);
        return found == 0 ? -1 : inPos + found - 1;
    };

    if (replacementLength == patternLength)
    {
        // Same length: overwrite in place.
        for (int32_t at = findFrom(inStart - 1); at >= 0 && count < inMaxCount;
             at = findFrom(at + patternLength))
        {
            if (count == 0 && !_EnsureWritable(fLength, true))
            {
                return;
            }
            CopyUnits(fString + at, replacement->fString, replacementLength);
            ++count;
        }
    }
    else if (replacementLength < patternLength)
    {
        // Shorter: compact from left to right; writes never overtake the unread text.
        int32_t read = inStart - 1;
        int32_t write = read;
        for (int32_t at = findFrom(read); at >= 0 && count < inMaxCount; at = findFrom(read))
        {
            if (count == 0)
            {
                if (!_EnsureWritable(fLength, true))
                {
                    return;
                }
                write = at;
            }
            else
            {
                CopyUnits(fString + write, fString + read, at - read);
                write += at - read;
            }
            CopyUnits(fString + write, replacement->fString, replacementLength);
            write += replacementLength;
            read = at + patternLength;
            ++count;
        }
        if (count > 0)
        {
            CopyUnits(fString + write, fString + read, fLength - read);
            fLength = write + fLength - read;
            fString[fLength] = 0;
        }
    }
    else
    {
        // Longer: find every occurrence first, make room once, then rebuild from the end.
        std::vector<int32_t> positions;
        positions.reserve(1024);
        for (int32_t at = findFrom(inStart - 1);
             at >= 0 && static_cast<int32_t>(positions.size()) < inMaxCount;
             at = findFrom(at + patternLength))
        {
            positions.push_back(at);
        }
        if (positions.empty())
        {
            return;
        }
        int64_t newLength =
            fLength + static_cast<int64_t>(positions.size()) * (replacementLength - patternLength);
        if (newLength > INT32_MAX)
        {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return;
        }
        if (!_EnsureWritable(static_cast<int32_t>(newLength), true))
        {
            return;
        }
        int32_t source = fLength;
        int32_t dest = static_cast<int32_t>(newLength);
        for (auto at = positions.rbegin(); at != positions.rend(); ++at)
        {
            int32_t tail = source - (*at + patternLength);
            dest -= tail;
            CopyUnits(fString + dest, fString + *at + patternLength, tail);
            dest -= replacementLength;
            CopyUnits(fString + dest, replacement->fString, replacementLength);
            source = *at;
        }
        fLength = static_cast<int32_t>(newLength);
        fString[fLength] = 0;
        count = static_cast<int32_t>(positions.size());
    }
    if (count > 0)
    {
        fFlags &= static_cast<uint8_t>(~kNull);
        SetDirty(true);
    }
    if (outCount != nullptr)
    {
        *outCount = count;
    }
}

void VString::Exchange(const VString& inPattern, const VString& inReplacement, int32_t inStart,
                       int32_t inMaxCount, bool inDiacritical, const VCollator* inCollator)
{
    // An empty pattern would be found again and again at the same place.
    if (inMaxCount < 1 || inStart < 1 || inStart > fLength || inPattern.fLength == 0)
    {
        return;
    }
    const VCollator* collator = inCollator != nullptr ? inCollator : VIntlMgr::GetCurrentCollator();
    VString result;
    int32_t copied = 0;
    int32_t pos = inStart - 1;
    int32_t count = 0;
    while (count < inMaxCount && pos < fLength)
    {
        int32_t length = 0;
        int32_t found = collator->FindString(fString + pos, fLength - pos, inPattern.fString,
                                             inPattern.fLength, inDiacritical, &length);
        // A pattern of ignorable units matches nothing that could be replaced.
        if (found == 0 || length <= 0)
        {
            break;
        }
        int32_t at = pos + found - 1;
        if (!result.AppendUniChars(fString + copied, at - copied) || !result.AppendString(inReplacement))
        {
            return;
        }
        pos = copied = at + length;
        ++count;
    }
    if (count == 0 || !result.AppendUniChars(fString + copied, fLength - copied))
    {
        return;
    }
    FromString(result);
}

// Splitting and joining

bool VString::GetSubStrings(UniChar inSeparator, std::vector<VString>& outStrings, bool inKeepEmpty,
                            bool inTrimSpaces) const
{
    outStrings.clear();
    if (IsNull() || fLength == 0)
    {
        if (inKeepEmpty)
        {
            outStrings.emplace_back();
        }
        return false;
    }
    bool found = false;
    int32_t begin = 0;
    for (int32_t i = 0; i <= fLength; ++i)
    {
        if (i == fLength || fString[i] == inSeparator)
        {
            found = found || i < fLength;
            AppendPiece(outStrings, fString + begin, i - begin, inKeepEmpty, inTrimSpaces);
            begin = i + 1;
        }
    }
    return found;
}

bool VString::GetSubStrings(const VString& inSeparator, std::vector<VString>& outStrings, bool inKeepEmpty,
                            bool inTrimSpaces, bool inDiacritical) const
{
    outStrings.clear();
    if (IsNull() || fLength == 0)
    {
        return false;
    }
    if (inSeparator.IsNull() || inSeparator.fLength == 0)
    {
        AppendPiece(outStrings, fString, fLength, inKeepEmpty, inTrimSpaces);
        return false;
    }
    const VCollator* collator = VIntlMgr::GetCurrentCollator();
    bool found = false;
    int32_t pos = 0;
    while (pos < fLength)
    {
        int32_t length = 0;
        int32_t at = collator->FindString(fString + pos, fLength - pos, inSeparator.fString,
                                          inSeparator.fLength, inDiacritical, &length);
        if (at == 0 || length <= 0)
        {
            break;
        }
        AppendPiece(outStrings, fString + pos, at - 1, inKeepEmpty, inTrimSpaces);
        pos += at - 1 + length;
        found = true;
    }
    AppendPiece(outStrings, fString + pos, fLength - pos, inKeepEmpty, inTrimSpaces);
    return found;
}

bool VString::Join(const std::vector<VString>& inStrings, UniChar inSeparator)
{
    return Join(inStrings, VString(&inSeparator, 1));
}

bool VString::Join(const std::vector<VString>& inStrings, const VString& inSeparator)
{
    if (inStrings.empty())
    {
        Clear();
        return true;
    }
    int64_t total = static_cast<int64_t>(inSeparator.fLength) * static_cast<int64_t>(inStrings.size() - 1);
    for (const VString& piece : inStrings)
    {
        total += piece.fLength;
    }
    if (total >= 0x7FFFFFFF)
    {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    // Built apart: a piece may be this very string, or share its storage.
    VString result;
    UniChar* units = result.GetCPointerForWrite(static_cast<int32_t>(total));
    if (units == nullptr)
    {
        return false;
    }
    int32_t at = 0;
    for (size_t i = 0; i < inStrings.size(); ++i)
    {
        if (i > 0)
        {
            CopyUnits(units + at, inSeparator.fString, inSeparator.fLength);
            at += inSeparator.fLength;
        }
        CopyUnits(units + at, inStrings[i].fString, inStrings[i].fLength);
        at += inStrings[i].fLength;
    }
    result.Validate(at);
    *this = std::move(result);
    return true;
}

} // namespace zorn
