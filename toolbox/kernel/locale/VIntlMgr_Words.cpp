// VIntlMgr: words, word-bounded searches and the (non-)reordering of bidirectional text.

#include "toolbox/kernel/locale/VIntlMgr.h"

#include "toolbox/kernel/values/VCompareOptions.h"

#include <unicode/uchar.h>

#include <algorithm>

namespace zorn
{

namespace
{

using Ranges = std::vector<std::pair<int32_t, int32_t>>;

// Whether a 1-based position lies in a word but not at its first unit (atStart false), or not at
// its last unit (atStart true: the position is a match's last unit). Words are in order.
bool IsInsideWord(const Ranges& inWords, int32_t inPosition, bool inAsEnd)
{
    auto after = std::upper_bound(inWords.begin(), inWords.end(), inPosition,
                                  [](int32_t inValue, const std::pair<int32_t, int32_t>& inWord)
                                  { return inValue < inWord.first; });
    if (after == inWords.begin())
    {
        return false;
    }
    const std::pair<int32_t, int32_t>& word = *(after - 1);
    int32_t last = word.first + word.second - 1;
    return inAsEnd ? inPosition >= word.first && inPosition < last
                   : inPosition > word.first && inPosition <= last;
}

} // namespace

bool VIntlMgr::_IsDeadChar(UniChar inUnit) const
{
    return inUnit < 32 || !(IsAlpha(inUnit) || IsDigit(inUnit));
}

bool VIntlMgr::GetWordBoundariesWithOptions(const VString& inText, Ranges& outWords, uint32_t inOptions) const
{
    outWords.clear();
    if (inText.IsEmpty())
    {
        return true;
    }
    if ((inOptions & kWordOptionOwnRules) == 0)
    {
        return false;
    }
    const UniChar* units = inText.GetCPointer();
    int32_t start = 0; // 1-based start of the current word, 0 outside words
    for (int32_t i = 0; i < inText.GetLength(); ++i)
    {
        bool dead = _IsDeadChar(units[i]);
        if (!dead && start == 0)
        {
            start = i + 1;
        }
        else if (dead && start != 0)
        {
            outWords.emplace_back(start, i + 1 - start);
            start = 0;
        }
    }
    if (start != 0)
    {
        outWords.emplace_back(start, inText.GetLength() + 1 - start);
    }
    return true;
}

bool VIntlMgr::SplitWordAtDots(const VString& inText, std::pair<int32_t, int32_t> inRange, Ranges& ioRanges,
                               bool inWithDots)
{
    int32_t first = std::max(inRange.first, 1);
    int32_t end = std::min(inRange.first + inRange.second, inText.GetLength() + 1); // 1-based, excluded
    bool hadDot = false;
    int32_t pieceStart = first;
    for (int32_t position = first; position <= end; ++position)
    {
        if (position < end && inText.GetCPointer()[position - 1] != u'.')
        {
            continue;
        }
        if (position > pieceStart)
        {
            ioRanges.emplace_back(pieceStart, position - pieceStart);
        }
        if (position < end)
        {
            hadDot = true;
            if (inWithDots)
            {
                ioRanges.emplace_back(position, 1);
            }
        }
        pieceStart = position + 1;
    }
    return hadDot;
}

bool VIntlMgr::HasElisionApostrophe(const VString& inText, std::pair<int32_t, int32_t> inRange)
{
    if (inRange.second < 4 || inRange.first < 1 || inRange.first + 2 > inText.GetLength())
    {
        return false;
    }
    const UniChar* units = inText.GetCPointer() + inRange.first - 1;
    if (units[1] != 0x2019 && units[1] != u'\'')
    {
        return false;
    }
    UChar32 next = u_tolower(units[2]);
    return next == u'a' || next == u'e' || next == u'i' || next == u'o' || next == u'u' || next == u'h' ||
           next == u'y';
}

bool VIntlMgr::FindWord(const VString& inText, const VString& inWord, const VCompareOptions& inOptions) const
{
    const UniChar* text = inText.GetCPointer();
    const UniChar* word = inWord.GetCPointer();
    const int32_t textLength = inText.GetLength();
    const int32_t wordLength = inWord.GetLength();
    const bool diacritical = inOptions.IsDiacritical();
    if ((inOptions.IsLike() && inWord.FindUniChar(GetWildChar()) > 0) ||
        (fWordOptions & kWordOptionCompareWords) != 0)
    {
        Ranges words;
        GetWordBoundariesWithOptions(inText, words, fWordOptions);
        return std::ranges::any_of(words,
                                   [&](const std::pair<int32_t, int32_t>& inRange)
                                   {
                                       return fCollator->EqualString_Like(text + inRange.first - 1,
                                                                          inRange.second, word, wordLength,
                                                                          diacritical);
                                   });
    }
    if ((fWordOptions & kWordOptionOwnRules) == 0 || wordLength == 0)
    {
        return false;
    }
    for (int32_t position = 1; position <= textLength;)
    {
        int32_t foundLength = 0;
        int32_t found = fCollator->FindString(text + position - 1, textLength - position + 1, word,
                                              wordLength, diacritical, &foundLength);
        if (found == 0)
        {
            return false;
        }
        int32_t start = position + found - 1;
        int32_t end = start + foundLength; // 1-based position of the unit after the match
        if ((start == 1 || _IsDeadChar(text[start - 2])) && (end > textLength || _IsDeadChar(text[end - 1])))
        {
            return true;
        }
        position = start + std::max(foundLength, 1); // a match of no length still moves on
    }
    return false;
}

void VIntlMgr::FindStrings(const VString& inText, const VString& inPattern, EFindStringMode inMode,
                           bool inDiacritical, Ranges& outMatches, bool inFindAll) const
{
    outMatches.clear();
    if (inPattern.IsEmpty())
    {
        return;
    }
    const bool byWords =
        inMode == eFindStringWholeWords || inMode == eFindStringWordStarts || inMode == eFindStringWordEnds;
    Ranges words;
    if (byWords)
    {
        GetWordBoundariesWithOptions(inText, words, fWordOptions);
    }
    const UniChar* text = inText.GetCPointer();
    const int32_t textLength = inText.GetLength();
    for (int32_t position = 1; position <= textLength;)
    {
        int32_t foundLength = 0;
        int32_t found =
            fCollator->FindString(text + position - 1, textLength - position + 1, inPattern.GetCPointer(),
                                  inPattern.GetLength(), inDiacritical, &foundLength);
        if (found == 0)
        {
            return;
        }
        int32_t start = position + found - 1;
        int32_t last = start + foundLength - 1;
        bool startsInside = byWords && inMode != eFindStringWordEnds && IsInsideWord(words, start, false);
        bool endsInside = byWords && inMode != eFindStringWordStarts && IsInsideWord(words, last, true);
        if (!startsInside && !endsInside)
        {
            outMatches.emplace_back(start, foundLength);
            if (!inFindAll)
            {
                return;
            }
        }
        position = start + std::max(foundLength, 1); // a match of no length still moves on
    }
}

bool VIntlMgr::TextLogicalToVisual(VString& ioText, int32_t /*inDirection*/) const
{
    return ioText.IsEmpty() || (ioText.GetLength() == 1 && ioText.GetCPointer()[0] == u'\r');
}

int32_t VIntlMgr::GetBidiRuns(const UniChar* inText, int32_t inLength, std::vector<VBidiRun>& outRuns,
                              std::vector<int32_t>& outVisualOrder, int32_t inBaseLevel,
                              bool inIgnoreTrailingCR) const
{
    outRuns.clear();
    outVisualOrder.clear();
    int32_t length = std::max(inLength, 0);
    if (inIgnoreTrailingCR && length > 0 && inText != nullptr && inText[length - 1] == u'\r')
    {
        --length;
    }
    int32_t level = inBaseLevel & 1;
    outRuns.push_back({0, length, 0, level});
    outVisualOrder.push_back(0);
    return level;
}

void VIntlMgr::GetKewordAlgorithmSignature(VString& outSignature) const
{
    if ((fWordOptions & kWordOptionOwnRules) != 0)
    {
        outSignature.FromCString("AlphaNum");
    }
    else if ((fWordOptions & 6) == 0)
    {
        outSignature.Clear();
    }
}

} // namespace zorn
