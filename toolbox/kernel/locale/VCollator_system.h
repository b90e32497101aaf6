// VCollator_system: the collator of the system's collation service, ICU. It compares with an ICU
// collator of the dialect's locale and searches with ICU string search (usearch) over the same
// collation elements, which reports how long each match is in the text.
//
// Choices made:
// - diacritical false compares at ICU's primary strength (case, accents and width ignored);
//   diacritical true at tertiary strength (case and accents count; so do width variants such as
//   full-width letters, which ICU orders at that strength);
// - canonical equivalents are equal at both strengths (normalization is on): a precomposed "é"
//   equals "e" followed by U+0301;
// - a search match never ends inside a combining sequence: at tertiary strength "e" is not found
//   in a decomposed "é", at primary strength it is, with a matched length of 2;
// - the signature of the comparison algorithm is "system:" followed by ICU's version of the
//   collator (the version of the collation rules and of their tailoring for the locale).
//
// One ICU collator is kept per strength and neither is changed after construction, so one
// VCollator_system may be used by several threads at once. Opening an ICU search costs more than
// the search itself, and setting a pattern makes its collation elements again, so searches are
// kept for reuse, each with its pattern: up to eight per strength, the most recently used first.
// A call takes the one of its pattern (else the least recently used once eight are kept, its
// pattern then set again, else a new one), sets its text, and hands it back; a search is never
// used by two threads at once.
#pragma once

#include "toolbox/kernel/locale/VCollator.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct UCollator;
struct UStringSearch;

namespace zorn
{

class VIntlMgr;

class VCollator_system final : public VCollator
{
public:
    // A new collator for the dialect (one reference for the caller). With a manager, the
    // collator takes that manager's locale (the user's own locale where the manager uses it);
    // without, the dialect's locale. Null when ICU has no collator for it.
    static VCollator_system* Create(uint32_t inDialectCode, const VIntlMgr* inIntlMgr);

    ~VCollator_system() override;

    CompareResult CompareString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                int32_t inPatternLength, bool inDiacritical) const override;
    bool EqualString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                     int32_t inPatternLength, bool inDiacritical) const override;
    int32_t FindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                       int32_t inPatternLength, bool inDiacritical, int32_t* outFoundLength) const override;
    int32_t ReversedFindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                               int32_t inPatternLength, bool inDiacritical,
                               int32_t* outFoundLength) const override;
    VCollator* Clone() const override;
    void GetStringComparisonAlgorithmSignature(VString& outSignature) const override;

private:
    const UCollator* _GetICUCollator(bool inDiacritical) const
    {
        return inDiacritical ? fTertiary : fPrimary;
    }

    // An ICU search and the copy of the pattern it reads (ICU keeps a pointer to the pattern).
    struct CachedSearch
    {
        UStringSearch* fSearch = nullptr;
        std::u16string fPattern;
        ~CachedSearch();
    };

    VCollator_system(uint32_t inDialectCode, UCollator* inPrimary, UCollator* inTertiary);
    VCollator_system(const VCollator_system& inOther, UCollator* inPrimary, UCollator* inTertiary);

    int32_t _Search(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                    int32_t inPatternLength, bool inDiacritical, bool inLast, int32_t* outFoundLength) const;

    UCollator* fPrimary;
    UCollator* fTertiary;
    // The searches kept for reuse, primary then tertiary, the most recently used first; one taken
    // by a call is out of its list until the call hands it back.
    mutable std::mutex fSearchesLock;
    mutable std::vector<std::unique_ptr<CachedSearch>> fSearches[2];
};

} // namespace zorn
