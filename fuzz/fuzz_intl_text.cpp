// Language codes and date patterns from outside (a configuration, a user's format) through the
// international manager: the language-code reader, the comparison of two codes, and the pattern
// formatter. Besides the sanitizers' checks: a code that is read names a dialect of the table,
// a comparison stays in 0..4 and is 4 for a code against itself, and a formatted text stays
// within the widths the pattern may ask for.
//
// Input: bytes 0-5 the time (year, month, day, hour, minute, second, each reduced to its range),
// byte 6 the flags (bit 0 utc, bit 1 a month name given, bits 2-3 the dialect), byte 7 where the
// rest splits into two language codes (bytes) and a pattern (UTF-16LE units).

#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <cstdint>
#include <cstring>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition)
{
    if (!inCondition)
    {
        __builtin_trap();
    }
}

VString Bytes(const uint8_t* inData, size_t inSize)
{
    VString text;
    for (size_t i = 0; i < inSize; ++i)
    {
        text.AppendUniChar(inData[i]);
    }
    return text;
}

// Whether a primary language of the dialect table is the code's (a language's default dialect,
// such as 1107 for Khmer, need not be a row of its own).
bool IsTableLanguage(uint32_t inDialect)
{
    static const std::vector<uint32_t> sAll = []
    {
        std::vector<uint32_t> all;
        VIntlMgr::GetAllDialects(all);
        return all;
    }();
    for (uint32_t code : sAll)
    {
        if ((code & 1023) == (inDialect & 1023))
        {
            return true;
        }
    }
    return false;
}

VIntlMgr* Manager(int inIndex)
{
    static constexpr uint32_t kDialects[] = {1033, 1036, 1041, 1025};
    static VIntlMgr* sManagers[4] = {};
    if (sManagers[inIndex] == nullptr)
    {
        sManagers[inIndex] = VIntlMgr::Create(kDialects[inIndex], kDialects[inIndex]);
    }
    return sManagers[inIndex];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize < 8)
    {
        return 0;
    }
    VTime time;
    time.FromUTCTime(static_cast<int16_t>(1900 + inData[0] * 2), static_cast<int16_t>(1 + inData[1] % 12),
                     static_cast<int16_t>(1 + inData[2] % 28), static_cast<int16_t>(inData[3] % 24),
                     static_cast<int16_t>(inData[4] % 60), static_cast<int16_t>(inData[5] % 60), 0);
    const uint8_t flags = inData[6];
    const uint8_t* rest = inData + 8;
    const size_t restSize = inSize - 8;
    const size_t split = restSize == 0 ? 0 : inData[7] % (restSize + 1);

    // The codes: the byte text before the split, cut in two at its middle.
    VString code1 = Bytes(rest, split / 2);
    VString code2 = Bytes(rest + split / 2, split - split / 2);
    for (const VString* code : {&code1, &code2})
    {
        uint32_t dialect = 0;
        for (int options = 0; options < 4; ++options)
        {
            if (VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(*code, dialect, (options & 1) != 0,
                                                                   (options & 2) != 0))
            {
                Check(IsTableLanguage(dialect));
            }
            else
            {
                Check(dialect == 0xFFFFFFFE);
            }
        }
    }
    int32_t relation = VIntlMgr::Compare2RFC3066LanguageCodes(code1, code2);
    Check(relation >= 0 && relation <= 4);
    uint32_t dialect = 0;
    if (VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(code1, dialect, true, true))
    {
        Check(VIntlMgr::Compare2RFC3066LanguageCodes(code1, code1) == 4);
    }

    // The pattern: UTF-16LE units after the split.
    std::vector<UniChar> units((restSize - split) / 2);
    if (!units.empty())
    {
        std::memcpy(units.data(), rest + split, units.size() * sizeof(UniChar));
    }
    VString pattern;
    pattern.AppendUniChars(units.data(), static_cast<int32_t>(units.size()));
    VIntlMgr* manager = Manager((flags >> 2) & 3);
    Check(manager != nullptr);
    VString monthName("month");
    VString text;
    manager->FormatDateTimeWithPattern(time, pattern, (flags & 1) != 0,
                                       (flags & 2) != 0 ? &monthName : nullptr, text);
    // No field is wider than 999 units, nor a name longer than a few dozen.
    Check(text.GetLength() <= static_cast<int32_t>(units.size()) * 1000 + 1);
    return 0;
}
