#include "platform/PreferredLanguages.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace zorn::platform
{

namespace
{

const char* FirstSetVariable(std::initializer_list<const char*> inNames)
{
    for (const char* name : inNames)
    {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0)
        {
            return value;
        }
    }
    return nullptr;
}

std::string_view WithoutCodesetAndModifier(std::string_view inName)
{
    return inName.substr(0, inName.find_first_of(".@"));
}

bool IsPortableLocale(std::string_view inName)
{
    return inName == "C" || inName == "POSIX";
}

} // namespace

std::string LanguageOfLocaleName(std::string_view inLocaleName)
{
    std::string_view name = WithoutCodesetAndModifier(inLocaleName);
    if (IsPortableLocale(name))
    {
        return "en";
    }
    // Language lists name Chinese by script: the region of a POSIX name only implies it.
    struct ChineseRegion
    {
        std::string_view fName;
        const char* fLanguage;
    };
    static constexpr ChineseRegion kChinese[] = {{"zh_TW", "zh-Hant"},
                                                 {"zh_HK", "zh-Hant"},
                                                 {"zh_MO", "zh-Hant"},
                                                 {"zh_CN", "zh-Hans"},
                                                 {"zh_SG", "zh-Hans"}};
    for (const ChineseRegion& region : kChinese)
    {
        if (name == region.fName)
        {
            return region.fLanguage;
        }
    }
    return std::string(name);
}

std::vector<std::string> GetPreferredLanguages()
{
    std::vector<std::string> languages;
    if (const char* list = FirstSetVariable({"LANGUAGE"}))
    {
        std::string_view rest(list);
        while (!rest.empty())
        {
            size_t colon = rest.find(':');
            std::string language = LanguageOfLocaleName(rest.substr(0, colon));
            if (!language.empty())
            {
                languages.push_back(std::move(language));
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    if (const char* locale = FirstSetVariable({"LC_ALL", "LC_MESSAGES", "LANG"}))
    {
        std::string language = LanguageOfLocaleName(locale);
        if (!language.empty() && std::find(languages.begin(), languages.end(), language) == languages.end())
        {
            languages.push_back(std::move(language));
        }
    }
    return languages;
}

std::string GetUserLocaleName()
{
    const char* locale = FirstSetVariable({"LC_ALL", "LC_MESSAGES", "LANG"});
    std::string_view name = WithoutCodesetAndModifier(locale == nullptr ? "" : locale);
    return IsPortableLocale(name) ? std::string() : std::string(name);
}

} // namespace zorn::platform
