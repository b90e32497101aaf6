#include "toolbox/kernel/locale/VCollator_system.h"

#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <unicode/coll.h>
#include <unicode/ucol.h>
#include <unicode/usearch.h>
#include <unicode/uset.h>

#include <algorithm>
#include <memory>
#include <string>

namespace zorn
{

namespace
{

// The searches kept per strength.
constexpr size_t kKeptSearches = 8;

const UChar* AsUChars(const UniChar* inUnits)
{
    return reinterpret_cast<const UChar*>(inUnits);
}

UCollator* OpenCollator(const char* inLocale, UCollationStrength inStrength)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(inLocale, &status);
    if (U_FAILURE(status))
    {
        return nullptr;
    }
    ucol_setStrength(collator, inStrength);
    // Texts may come in any normalization form: canonical equivalents must compare equal.
    ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    if (U_FAILURE(status))
    {
        ucol_close(collator);
        return nullptr;
    }
    return collator;
}

UCollator* CloneCollator(const UCollator* inCollator)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* clone = ucol_clone(inCollator, &status);
    if (U_FAILURE(status))
    {
        ucol_close(clone);
        return nullptr;
    }
    return clone;
}

// Whether the collation orders plain ASCII by its units, case aside: no tailoring touches an
// ASCII character (contractions such as Danish "aa" or Hungarian "cs" do), punctuation is not
// ignorable, there is no case level and digits are not read as numbers.
bool OrdersAsciiByUnits(const UCollator* inCollator)
{
    UErrorCode status = U_ZERO_ERROR;
    if (ucol_getAttribute(inCollator, UCOL_ALTERNATE_HANDLING, &status) != UCOL_NON_IGNORABLE ||
        ucol_getAttribute(inCollator, UCOL_CASE_LEVEL, &status) != UCOL_OFF ||
        ucol_getAttribute(inCollator, UCOL_NUMERIC_COLLATION, &status) != UCOL_OFF || U_FAILURE(status))
    {
        return false;
    }
    USet* tailored = ucol_getTailoredSet(inCollator, &status);
    if (U_FAILURE(status))
    {
        uset_close(tailored);
        return false;
    }
    bool touchesAscii = false;
    int32_t count = uset_getItemCount(tailored);
    for (int32_t i = 0; i < count && !touchesAscii; ++i)
    {
        UChar32 start = 0;
        UChar32 end = 0;
        UChar text[64];
        UErrorCode itemStatus = U_ZERO_ERROR;
        int32_t length = uset_getItem(tailored, i, &start, &end, text, 64, &itemStatus);
        if (length == 0)
        {
            touchesAscii = start < 128;
        }
        else
        {
            // A string too long for the buffer is counted as touching ASCII: the fast path is
            // only an optimisation.
            touchesAscii = U_FAILURE(itemStatus);
            for (int32_t k = 0; k < length && k < 64 && !touchesAscii; ++k)
            {
                touchesAscii = text[k] < 128;
            }
        }
    }
    uset_close(tailored);
    return !touchesAscii;
}

} // namespace

VCollator_system::VCollator_system(uint32_t inDialectCode, UCollator* inPrimary, UCollator* inTertiary)
    : VCollator(inDialectCode, OrdersAsciiByUnits(inPrimary)), fPrimary(inPrimary), fTertiary(inTertiary)
{
}

VCollator_system::VCollator_system(const VCollator_system& inOther, UCollator* inPrimary,
                                   UCollator* inTertiary)
    : VCollator(inOther), fPrimary(inPrimary), fTertiary(inTertiary)
{
}

VCollator_system::CachedSearch::~CachedSearch()
{
    usearch_close(fSearch);
}

VCollator_system::~VCollator_system()
{
    ucol_close(fPrimary);
    ucol_close(fTertiary);
}

VCollator_system* VCollator_system::Create(uint32_t inDialectCode, const VIntlMgr* inIntlMgr)
{
    std::string locale = inIntlMgr != nullptr ? inIntlMgr->GetICULocaleName()
                                              : VIntlMgr::GetICULocaleNameForDialect(inDialectCode);
    UCollator* primary = OpenCollator(locale.c_str(), UCOL_PRIMARY);
    UCollator* tertiary = OpenCollator(locale.c_str(), UCOL_TERTIARY);
    if (primary == nullptr || tertiary == nullptr)
    {
        ucol_close(primary);
        ucol_close(tertiary);
        return nullptr;
    }
    return new VCollator_system(inDialectCode, primary, tertiary);
}

VCollator* VCollator_system::Clone() const
{
    UCollator* primary = CloneCollator(fPrimary);
    UCollator* tertiary = CloneCollator(fTertiary);
    if (primary == nullptr || tertiary == nullptr)
    {
        ucol_close(primary);
        ucol_close(tertiary);
        return nullptr;
    }
    return new VCollator_system(*this, primary, tertiary);
}

CompareResult VCollator_system::CompareString(const UniChar* inText, int32_t inTextLength,
                                              const UniChar* inPattern, int32_t inPatternLength,
                                              bool inDiacritical) const
{
    if (inTextLength <= 0)
    {
        return inPatternLength <= 0 ? CR_EQUAL : CR_SMALLER;
    }
    if (inPatternLength <= 0)
    {
        return CR_BIGGER;
    }
    // The C++ entry point: ucol_strcoll adds tracing hooks around the same call.
    UErrorCode status = U_ZERO_ERROR;
    switch (icu::Collator::fromUCollator(_GetICUCollator(inDiacritical))
                ->compare(AsUChars(inText), inTextLength, AsUChars(inPattern), inPatternLength, status))
    {
    case UCOL_LESS:
        return CR_SMALLER;
    case UCOL_GREATER:
        return CR_BIGGER;
    default:
        return CR_EQUAL;
    }
}

bool VCollator_system::EqualString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                   int32_t inPatternLength, bool inDiacritical) const
{
    return ucol_equal(_GetICUCollator(inDiacritical), AsUChars(inText), std::max(inTextLength, 0),
                      AsUChars(inPattern), std::max(inPatternLength, 0)) != 0;
}

int32_t VCollator_system::_Search(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                  int32_t inPatternLength, bool inDiacritical, bool inLast,
                                  int32_t* outFoundLength) const
{
    int32_t found = 0;
    int32_t length = 0;
    if (inTextLength > 0 && inPatternLength <= 0)
    {
        found = 1;
    }
    else if (inTextLength > 0)
    {
        std::vector<std::unique_ptr<CachedSearch>>& kept = fSearches[inDiacritical ? 1 : 0];
        const std::u16string_view pattern(reinterpret_cast<const char16_t*>(inPattern),
                                          static_cast<size_t>(inPatternLength));
        std::unique_ptr<CachedSearch> search;
        {
            std::lock_guard lock(fSearchesLock);
            auto match = std::find_if(kept.begin(), kept.end(),
                                      [&](const std::unique_ptr<CachedSearch>& inSearch)
                                      { return inSearch->fPattern == pattern; });
            if (match == kept.end() && kept.size() >= kKeptSearches)
            {
                match = kept.end() - 1;
            }
            if (match != kept.end())
            {
                search = std::move(*match);
                kept.erase(match);
            }
        }
        UErrorCode status = U_ZERO_ERROR;
        if (search == nullptr)
        {
            search = std::make_unique<CachedSearch>();
            search->fPattern = pattern;
            // ICU reads the collator only; its signature is not const.
            search->fSearch = usearch_openFromCollator(
                search->fPattern.data(), inPatternLength, AsUChars(inText), inTextLength,
                const_cast<UCollator*>(_GetICUCollator(inDiacritical)), nullptr, &status);
        }
        else
        {
            if (search->fPattern != pattern)
            {
                search->fPattern = pattern;
                usearch_setPattern(search->fSearch, search->fPattern.data(), inPatternLength, &status);
            }
            usearch_setText(search->fSearch, AsUChars(inText), inTextLength, &status);
        }
        if (U_SUCCESS(status))
        {
            UStringSearch* handle = search->fSearch;
            int32_t index = USEARCH_DONE;
            // With overlap, the match that starts last, even where it overlaps an earlier one.
            usearch_setAttribute(handle, USEARCH_OVERLAP, inLast ? USEARCH_ON : USEARCH_OFF, &status);
            index = inLast ? usearch_last(handle, &status) : usearch_first(handle, &status);
            if (U_SUCCESS(status) && index != USEARCH_DONE)
            {
                found = index + 1;
                length = usearch_getMatchedLength(handle);
            }
        }
        if (U_SUCCESS(status))
        {
            // Handed back, first in the list; the least recently used goes beyond the limit.
            std::lock_guard lock(fSearchesLock);
            kept.insert(kept.begin(), std::move(search));
            if (kept.size() > kKeptSearches)
            {
                kept.pop_back();
            }
        }
    }
    if (outFoundLength != nullptr)
    {
        *outFoundLength = length;
    }
    return found;
}

int32_t VCollator_system::FindString(const UniChar* inText, int32_t inTextLength, const UniChar* inPattern,
                                     int32_t inPatternLength, bool inDiacritical,
                                     int32_t* outFoundLength) const
{
    return _Search(inText, inTextLength, inPattern, inPatternLength, inDiacritical, false, outFoundLength);
}

int32_t VCollator_system::ReversedFindString(const UniChar* inText, int32_t inTextLength,
                                             const UniChar* inPattern, int32_t inPatternLength,
                                             bool inDiacritical, int32_t* outFoundLength) const
{
    return _Search(inText, inTextLength, inPattern, inPatternLength, inDiacritical, true, outFoundLength);
}

void VCollator_system::GetStringComparisonAlgorithmSignature(VString& outSignature) const
{
    UVersionInfo version;
    ucol_getVersion(fTertiary, version);
    char text[U_MAX_VERSION_STRING_LENGTH + 8] = "system:";
    u_versionToString(version, text + 7);
    outSignature.FromCString(text);
}

} // namespace zorn
