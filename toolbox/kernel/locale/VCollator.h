// VCollator: compares, searches and pattern-matches UTF-16 texts by the collation rules of one
// dialect. Every international manager (VIntlMgr) owns one, and every collated string operation
// of the toolbox goes through the current task's collator.
//
// This class holds the logic shared by every collator: prefix and suffix tests built on
// FindString, and the "like" comparison, in which a wild character ('@' by default) stands for
// any run of text. VCollator_system (VCollator_system.h) supplies comparison and search over ICU.
//
// Texts are (pointer, int32 length) pairs of UTF-16 units; positions are 1-based, 0 meaning "not
// found". The diacritical flag asks for a comparison in which accents and case count.
//
// Choices made where several were possible:
// - a match found by FindString may differ in length from the pattern (a decomposed accent,
//   "ß" against "ss"); its length in the text is reported through outFoundLength;
// - ReversedFindString gives the occurrence that starts last, even where it overlaps an earlier
//   one ("aa" in "aaa" is found at 2);
// - "like" patterns have no escape: the wild character always stands for a run of text.
//
// A collator holds no lock and keeps nothing between calls besides its settings: several tasks
// may compare through one collator at the same time, but its settings must not change meanwhile.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

namespace zorn
{

class VCollator : public VObject, public IRefCountable
{
public:
    static constexpr UniChar sDefaultWildChar = '@';
    // Option bit choosing the "like" rule that honours the wild character only at the two ends
    // of a pattern; without it a wild character may stand anywhere.
    static constexpr uint8_t kOptionWildCharOnlyAtEnds = 2;

    VCollator& operator=(const VCollator&) = delete;
    ~VCollator() override = default;

    uint32_t GetDialectCode() const { return fDialectCode; }
    UniChar GetWildChar() const { return fWildChar; }
    uint8_t GetOptions() const { return fOptions; }
    void SetOptions(uint8_t inOptions) { fOptions = inOptions; }

    // Three-way comparison: an empty text is equal to an empty pattern and smaller than any
    // other; a non-empty text is bigger than an empty pattern.
    virtual CompareResult CompareString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                        int32_t inPatternLength, bool inDiacritical) const = 0;
    virtual bool EqualString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                             int32_t inPatternLength, bool inDiacritical) const = 0;
    // The 1-based position of the first match, 0 when none; outFoundLength (when not null) gets
    // the length of the matched text. An empty pattern is found at 1 in a non-empty text with a
    // length of 0; an empty text holds nothing.
    virtual int32_t FindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                               int32_t inPatternLength, bool inDiacritical,
                               int32_t* outFoundLength) const = 0;
    // The same for the match that starts last.
    virtual int32_t ReversedFindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                       int32_t inPatternLength, bool inDiacritical,
                                       int32_t* outFoundLength) const = 0;
    // Whether the text begins (ends) with the pattern; outLength gets the length of the text that
    // matched it. An empty pattern begins and ends every text, with a length of 0.
    virtual bool BeginsWithString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                  int32_t inPatternLength, bool inDiacritical, int32_t* outLength) const;
    virtual bool EndsWithString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                int32_t inPatternLength, bool inDiacritical, int32_t* outLength) const;
    // A new, independent collator with the same dialect and settings (one reference for the caller).
    virtual VCollator* Clone() const = 0;
    virtual void SetWildChar(UniChar inWildChar) { fWildChar = inWildChar; }
    // A text that names the comparison algorithm and its version: strings ordered by one
    // algorithm stay in order only while the signature stays the same.
    virtual void GetStringComparisonAlgorithmSignature(VString& outSignature) const = 0;
    // Gives the wild character its default back.
    virtual void Reset() { fWildChar = sDefaultWildChar; }

    // The pattern is read with the wild character: 0 when the text matches it, else -1 (or 1,
    // see the rule that honours wild characters at the ends only). A pattern without a wild
    // character gives the plain comparison.
    CompareResult CompareString_Like(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                     int32_t inPatternLength, bool inDiacritical) const;
    bool EqualString_Like(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                          int32_t inPatternLength, bool inDiacritical) const;

    // Whether an index can serve the pattern by ordered comparison (a binary search over sorted
    // keys): true for an empty pattern; false when the wild character stands anywhere but at the
    // last unit, or when the pattern holds Japanese kana (hiragana U+3040-U+3094 and
    // U+309D-U+309E, katakana U+30A1-U+30FE, half-width katakana U+FF65-U+FF9F), whose collated
    // order does not follow their prefixes.
    bool IsPatternCompatibleWithDichotomyAndDiacritics(const UniChar* inPattern,
                                                       int32_t inPatternLength) const;

    // The collator that collated operations use while no international manager is reachable: it
    // compares code units (the diacritical flag makes no difference) and is shared by the whole
    // process, so its settings must not be changed.
    static VCollator* GetBinaryCollator();

protected:
    VCollator(uint32_t inDialectCode, bool inAsciiFastPath);
    // For Clone: the same dialect and settings, a reference count of its own.
    VCollator(const VCollator&) = default;

    // The two "like" rules. Wild characters in the middle: the pattern is cut at runs of the wild
    // character and the pieces are found in order. Only at the ends: a wild character anywhere
    // else is an ordinary character.
    virtual CompareResult _CompareString_Like_IgnoreWildCharInMiddle(const UniChar* inText,
                                                                     int32_t inTextLength,
                                                                     const UniChar* inPattern,
                                                                     int32_t inPatternLength,
                                                                     bool inDiacritical) const;
    virtual CompareResult _CompareString_Like_SupportWildCharInMiddle(const UniChar* inText,
                                                                      int32_t inTextLength,
                                                                      const UniChar* inPattern,
                                                                      int32_t inPatternLength,
                                                                      bool inDiacritical) const;

    // Whether two texts of plain ASCII compare as their units do (case aside when not
    // diacritical). A collator sets this when its rules treat ASCII that way; "like" equality
    // then skips the collation for such texts.
    void _SetAsciiFastPath(bool inSet) { fAsciiFastPath = inSet; }

private:
    uint32_t fDialectCode;
    UniChar fWildChar = sDefaultWildChar;
    uint8_t fOptions = 1;
    bool fAsciiFastPath;
};

} // namespace zorn
