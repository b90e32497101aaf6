// What the suites of times share: a readable form of a time's fields for assertions.
#pragma once

#include "toolbox/kernel/values/VTime.h"

#include <cstdio>
#include <string>

namespace zorn::test
{

// "2026-12-09 12:00:00.000" (the UTC fields), or "null".
inline std::string Describe(const VTime& inTime)
{
    if (inTime.IsNull())
    {
        return "null";
    }
    int16_t y, mo, d, h, mi, s, ms;
    inTime.GetUTCTime(y, mo, d, h, mi, s, ms);
    char text[64];
    std::snprintf(text, sizeof(text), "%d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return text;
}

} // namespace zorn::test
