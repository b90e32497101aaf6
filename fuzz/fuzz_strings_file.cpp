// Reads arbitrary bytes as a strings file: the character-set choice, then every line through the
// line parser. No pair may have an empty key or text, and after the manager stores the text,
// each key answers the text of its last line.

#include "fuzz/FuzzTasks.h"
#include "toolbox/intl/VLocalizationManager.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

std::u16string UnitsOf(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    fuzz::StartTasks();
    static VLocalizationManager* sManager = new VLocalizationManager(1033);

    VString text;
    if (VLocalizationManager::DecodeDotStrings(inData, inSize, text) != VE_OK)
    {
        fuzz::Check(text.IsEmpty());
        return 0;
    }
    fuzz::Check(text.FindUniChar('\r') == 0);

    std::map<std::u16string, std::u16string> expected;
    std::vector<VString> lines;
    text.GetSubStrings(UniChar('\n'), lines, false, false);
    for (const VString& line : lines)
    {
        VString key;
        VString value;
        if (VLocalizationManager::ParseDotStringsLine(line, key, value))
        {
            fuzz::Check(!key.IsEmpty() && !value.IsEmpty());
            expected[UnitsOf(key)] = UnitsOf(value);
        }
    }

    sManager->ClearLocalizations();
    sManager->AnalyzeDotStringsText(text);
    for (const auto& [key, value] : expected)
    {
        VString found;
        VString keyText;
        keyText.FromUniString(reinterpret_cast<const UniChar*>(key.data()), static_cast<int32_t>(key.size()));
        fuzz::Check(sManager->LocalizeStringWithKey(keyText, found));
        fuzz::Check(UnitsOf(found) == value);
    }
    return 0;
}
