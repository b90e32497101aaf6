// Arbitrary UTF-16 texts and patterns (a user's search or "like" query) through the collated
// operations: comparison, "like" under both rules, search in both directions, replacement and
// splitting, in several dialects. Besides the sanitizers' checks: positions and matched lengths
// stay inside the text, "like" equality agrees with the "like" comparison, and nothing loops.
//
// Input: byte 0 holds the flags (bit 0 diacritical, bit 1 wild character only at the ends,
// bits 2-3 the dialect), byte 1 where the units split into text and pattern, then UTF-16LE units.

#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorn;

namespace
{

class FuzzProcess final : public IProcessServices
{
public:
    VIntlMgr* fManager = nullptr;
    VIntlMgr* GetIntlMgr() const override { return fManager; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return nullptr; }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }
};

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

void CheckMatch(int32_t inPosition, int32_t inLength, int32_t inTextLength)
{
    Check(inPosition >= 0 && inPosition <= inTextLength + 1 && inLength >= 0);
    Check(inPosition == 0 || inPosition - 1 + inLength <= inTextLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    static VIntlMgr* const sManagers[] = {VIntlMgr::Create(1033, 1033), VIntlMgr::Create(1036, 1036),
                                          VIntlMgr::Create(1030, 1030), VIntlMgr::Create(1055, 1055)};
    static FuzzProcess sProcess;
    if (inSize < 2)
    {
        return 0;
    }
    const bool diacritical = (inData[0] & 1) != 0;
    VIntlMgr* manager = sManagers[(inData[0] >> 2) & 3];
    VCollator* collator = manager->GetCollator();
    collator->SetOptions((inData[0] & 2) != 0 ? VCollator::kOptionWildCharOnlyAtEnds : 1);
    sProcess.fManager = manager;
    IProcessServices::Set(&sProcess);

    std::vector<UniChar> units((inSize - 2) / 2);
    if (!units.empty())
    {
        std::memcpy(units.data(), inData + 2, units.size() * sizeof(UniChar));
    }
    const int32_t count = static_cast<int32_t>(units.size());
    const int32_t split = count * inData[1] / 255;
    const UniChar* text = units.data();
    const int32_t textLength = split;
    const UniChar* pattern = units.data() + split;
    const int32_t patternLength = count - split;

    collator->CompareString(text, textLength, pattern, patternLength, diacritical);
    collator->EqualString(text, textLength, pattern, patternLength, diacritical);
    bool like =
        collator->CompareString_Like(text, textLength, pattern, patternLength, diacritical) == CR_EQUAL;
    Check(collator->EqualString_Like(text, textLength, pattern, patternLength, diacritical) == like);

    int32_t length = -1;
    int32_t found = collator->FindString(text, textLength, pattern, patternLength, diacritical, &length);
    CheckMatch(found, length, textLength);
    found = collator->ReversedFindString(text, textLength, pattern, patternLength, diacritical, &length);
    CheckMatch(found, length, textLength);
    bool begins = collator->BeginsWithString(text, textLength, pattern, patternLength, diacritical, &length);
    Check(length >= 0 && length <= textLength && (begins || length == 0));
    bool ends = collator->EndsWithString(text, textLength, pattern, patternLength, diacritical, &length);
    Check(length >= 0 && length <= textLength && (ends || length == 0));

    VString textString(text, textLength);
    VString patternString(pattern, patternLength);
    VString replaced(textString);
    replaced.Exchange(patternString, VString("<>"), 1, INT32_MAX, diacritical);
    std::vector<VString> pieces;
    textString.GetSubStrings(patternString, pieces, true, false, diacritical);
    Check(pieces.size() <= static_cast<size_t>(textLength) + 1);

    IProcessServices::Set(nullptr);
    return 0;
}
