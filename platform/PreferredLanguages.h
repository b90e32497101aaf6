// The user's preferred languages and locale, read from the environment (the stand-in for the
// system's language list): every entry of LANGUAGE (a colon-separated list), then the locale in
// force for messages, the first set of LC_ALL, LC_MESSAGES and LANG.
//
// Each entry is given as a language identifier: the POSIX locale name without its ".codeset"
// and "@modifier" ("fr_CH.UTF-8" gives "fr_CH", "de_DE@euro" "de_DE"); "C" and "POSIX" give
// "en"; Chinese regions name their script, as language lists do ("zh_TW", "zh_HK" and "zh_MO" give
// "zh-Hant", "zh_CN" and "zh_SG" "zh-Hans"). Empty entries are dropped, and so is the locale when
// LANGUAGE already holds it. The environment is read at each call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorn::platform
{

// The language identifier of one locale name (rules above); empty for an empty name.
std::string LanguageOfLocaleName(std::string_view inLocaleName);

// The preferred languages, most preferred first; empty when nothing is set.
std::vector<std::string> GetPreferredLanguages();

// The user's own locale for regional settings: the first set of LC_ALL, LC_MESSAGES and LANG,
// without ".codeset" and "@modifier" ("fr_CH"); empty when none is set or it is C or POSIX.
std::string GetUserLocaleName();

} // namespace zorn::platform
