#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "tests/toolbox/kernel/TimeZoneTestSupport.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using zorn::test::StIntlTestProcess;
using zorn::test::U;
using zorn::test::Utf8;

namespace
{

VRefPtr<VIntlMgr> Make(uint32_t inDialect, uint32_t inCollationDialect = 0)
{
    return VRefPtr<VIntlMgr>(
        VIntlMgr::Create(inDialect, inCollationDialect == 0 ? inDialect : inCollationDialect), true);
}

} // namespace

TEST(IntlMgr, DialectTableLookups)
{
    struct Row
    {
        uint32_t fCode;
        const char* fBCP47; // null: unknown code
    };
    const Row rows[] = {
        {1033, "en-US"}, {1028, "zh-TW"}, {1, "ar"}, {1050, "hr-HR"}, {1044, "no-NO"}, {5000, nullptr},
    };
    for (const Row& row : rows)
    {
        VString code;
        EXPECT_EQ(VIntlMgr::GetBCP47LanguageCode(row.fCode, code), row.fBCP47 != nullptr) << row.fCode;
        EXPECT_TRUE(code.EqualToStringRaw(VString(row.fBCP47 == nullptr ? "" : row.fBCP47))) << row.fCode;
    }
}

TEST(IntlMgr, DialectOfLanguageCode)
{
    struct Row
    {
        const char* fCode;
        bool fFound;
        uint32_t fDialect;
    };
    // Fallback to the language and its default sub-language, as the process reads the system
    // language.
    const Row rows[] = {
        {"en", true, 1033},           {"en-GB", true, 2057},
        {"en_gb", true, 2057},        {"en-US", true, 1033},
        {"pt-PT", true, 1046},        {"zh-Hant", true, 1028},
        {"zh-TW", false, 0xFFFFFFFE}, {"zh-Hans-CN", false, 0xFFFFFFFE},
        {"a-b_c", false, 0xFFFFFFFE}, {"xx", false, 0xFFFFFFFE},
    };
    for (const Row& row : rows)
    {
        uint32_t dialect = 0;
        EXPECT_EQ(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(row.fCode), dialect, true, true),
                  row.fFound)
            << row.fCode;
        EXPECT_EQ(dialect, row.fDialect) << row.fCode;
    }
    // Without the fallbacks: a language alone gives its own row, a missing sub-tag nothing.
    uint32_t dialect = 0;
    EXPECT_TRUE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("pt", nullptr, dialect, false, false));
    EXPECT_EQ(dialect, 2070u);
    EXPECT_FALSE(VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode("pt", "PT", dialect, false, false));
    EXPECT_EQ(dialect, 0xFFFFFFFEu);
}

TEST(IntlMgr, LanguageCodesOfDialects)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fCode;
        char fSeparator;
        const char* fRFC; // null: false
        const char* fBCP47;
    };
    const Row rows[] = {
        {"script sub-tag against region", 1028, '-', "zh-Hant", "zh-TW"},
        {"region sub-tag with a dash", 2057, '-', "en-gb", "en-GB"},
        {"region sub-tag with an underscore", 2057, '_', "en_gb", "en-GB"},
        {"no sub-tag", 1033, '-', "en", "en-US"},
        {"no region", 1, '-', "ar", "ar"},
        {"duplicate code: the first row wins", 1050, '-', "hr", "hr-HR"},
        {"unknown code", 5000, '-', nullptr, nullptr},
    };
    for (const Row& row : rows)
    {
        VString rfc("stale");
        EXPECT_EQ(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(row.fCode, rfc, row.fSeparator),
                  row.fRFC != nullptr)
            << row.fWhat;
        EXPECT_EQ(Utf8(rfc), row.fRFC == nullptr ? "" : row.fRFC) << row.fWhat;
        VString bcp;
        VIntlMgr::GetBCP47LanguageCode(row.fCode, bcp);
        EXPECT_EQ(Utf8(bcp), row.fBCP47 == nullptr ? "" : row.fBCP47) << row.fWhat;
    }

    // The other columns, first row of a duplicated code; an empty column is false.
    VString text;
    EXPECT_TRUE(VIntlMgr::GetISO6392LanguageCode(1065, text));
    EXPECT_EQ(Utf8(text), "per");
    EXPECT_TRUE(VIntlMgr::GetISOLanguageName(1081, text));
    EXPECT_EQ(Utf8(text), "india");
    EXPECT_TRUE(VIntlMgr::GetISO6391LanguageCode(1044, text));
    EXPECT_EQ(Utf8(text), "no");
    EXPECT_FALSE(VIntlMgr::GetISO3166RegionCode(94, text));
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisSubTagRegionCode(2074, text));
    EXPECT_EQ(Utf8(text), "Latn");
    EXPECT_STREQ(VIntlMgr::GetISO3166RegionCode(4108), "CH");
    EXPECT_EQ(VIntlMgr::GetISO3166RegionCode(5000), nullptr);

    // Every row, duplicates included, and the language of each code's first row.
    std::vector<uint32_t> all;
    VIntlMgr::GetAllDialects(all);
    ASSERT_EQ(all.size(), 154u);
    EXPECT_EQ(std::count(all.begin(), all.end(), 1050u), 2);
    std::vector<std::pair<VString, uint32_t>> collators;
    VIntlMgr::GetDialectsHavingCollator(collators);
    ASSERT_EQ(collators.size(), 154u);
    for (const auto& [language, code] : collators)
    {
        if (code == 1050)
        {
            EXPECT_EQ(Utf8(language), "hr");
        }
    }
}

TEST(IntlMgr, DialectOfLanguageName)
{
    struct Row
    {
        const char* fName;
        bool fFound;
        uint32_t fDialect;
    };
    const Row rows[] = {
        {"spanish", true, 1110}, // the first row without sub-tag is Galician's
        {"English", true, 1033}, {"sami", true, 1083},
        {"india", true, 1095}, // the first row so named: Gujarati
        {"klingon", false, 7},   {"", false, 7},
    };
    for (const Row& row : rows)
    {
        uint32_t dialect = 7;
        EXPECT_EQ(VIntlMgr::GetDialectCodeWithISOLanguageName(VString(row.fName), dialect), row.fFound)
            << row.fName;
        EXPECT_EQ(dialect, row.fDialect) << row.fName;
    }
}

TEST(IntlMgr, CompareLanguageCodes)
{
    struct Row
    {
        const char* fWhat;
        const char* fCode1;
        const char* fCode2;
        int32_t fResult;
    };
    const Row rows[] = {
        {"same text", "en", "en", 4},
        {"same text but for case", "EN-gb", "en-GB", 4},
        {"region of the second's language", "fr-CH", "fr", 3},
        {"language of the second's region", "fr", "fr-CH", 2},
        {"two regions of one language", "fr-CH", "fr-BE", 1},
        {"two languages", "fr-CH", "de-CH", 0},
        {"a language alone against another", "fr", "de", 0},
        {"a code naming no dialect", "xx", "en", 0},
        {"underscore form is another shape", "en_GB", "en", 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VIntlMgr::Compare2RFC3066LanguageCodes(VString(row.fCode1), VString(row.fCode2)),
                  row.fResult)
            << row.fWhat;
    }
}

TEST(IntlMgr, DialectClasses)
{
    struct Row
    {
        uint32_t fCode;
        uint32_t fScript;
        bool fRightToLeft;
    };
    const Row rows[] = {
        {1033, 0, false},          {2057, 0, false},
        {2070, 0, false},          {1041, 1, false},
        {1028, 2, false},          {4100, 2, false},
        {2052, 3, false},          {1042, 4, false},
        {14337, 5, true},          {1, 5, true},
        {1037, 6, true},           {1049, 8, false},
        {3098, 8, false},          {2074, 9, false},
        {1050, 10, false},         {1065, 12, true},
        {1055, 16, false},         {1056, 0xFFFFFFFF, true},
        {1110, 0xFFFFFFFF, false}, {5000, 0xFFFFFFFF, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(row.fCode), row.fScript) << row.fCode;
        EXPECT_EQ(VIntlMgr::IsRightToLeftDialect(row.fCode), row.fRightToLeft) << row.fCode;
    }
}

TEST(IntlMgr, MacCharacterKindsAndDigitValues)
{
    struct Row
    {
        uint8_t fChar;
        bool fKinds[6]; // kinds 0 to 5
    };
    const Row rows[] = {
        {'a', {true, true, true, true, true, false}},      {'7', {true, true, false, true, false, true}},
        {'_', {true, true, true, true, true, false}},      {'-', {true, false, false, false, false, false}},
        {9, {true, false, false, false, false, false}},    {10, {false, false, false, false, false, false}},
        {127, {false, false, false, false, false, false}}, {135, {true, true, true, false, false, false}},
        {174, {true, true, true, false, false, false}},    {175, {true, false, false, false, false, false}},
    };
    for (const Row& row : rows)
    {
        for (uint8_t kind = 0; kind < 6; ++kind)
        {
            EXPECT_EQ(VIntlMgr::IsAMacCharacter(row.fChar, kind), row.fKinds[kind])
                << int{row.fChar} << " kind " << int{kind};
        }
        EXPECT_FALSE(VIntlMgr::IsAMacCharacter(row.fChar, 6));
    }
    EXPECT_EQ(VIntlMgr::CharDigitValue(u'0'), 0u);
    EXPECT_EQ(VIntlMgr::CharDigitValue(u'9'), 9u);
    EXPECT_EQ(VIntlMgr::CharDigitValue(0x0661), 0xFFFFFFFFu); // Arabic-Indic one: not "0".."9"
    EXPECT_EQ(VIntlMgr::CharDigitValue(u'a'), 0xFFFFFFFFu);
}

TEST(IntlMgr, CreateFallsBackToKnownDialects)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fDialect;
        uint32_t fCollation;
        uint32_t fExpectedDialect;
        uint32_t fExpectedCollation;
    };
    const Row rows[] = {
        {"known dialect", 1036, 1036, 1036, 1036},
        {"unknown sub-language takes the language's default", 0x8407, 0x8407, 1031, 1031},
        {"unknown language falls back to English", 5000, 5000, 1033, 1033},
        {"Hungarian collates as English", 1038, 1038, 1038, 1033},
        {"Thai collates as English", 1054, 1054, 1054, 1033},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VIntlMgr> manager = Make(row.fDialect, row.fCollation);
        ASSERT_TRUE(manager) << row.fWhat;
        EXPECT_EQ(manager->GetDialectCode(), row.fExpectedDialect) << row.fWhat;
        EXPECT_EQ(manager->GetCollationDialectCode(), row.fExpectedCollation) << row.fWhat;
        EXPECT_EQ(manager->GetCollator()->GetDialectCode(), row.fExpectedCollation) << row.fWhat;
    }
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(1036), 1036u);
}

TEST(IntlMgr, LocaleVariablesAndSignature)
{
    EXPECT_TRUE(Make(1033)->GetDecimalSeparator().EqualToStringRaw(VString(".")));
    EXPECT_TRUE(Make(1036)->GetDecimalSeparator().EqualToStringRaw(VString(",")));
    EXPECT_EQ(Make(1036)->GetICULocaleName(), "fr_FR");
    VString signature;
    Make(1033)->GetStringComparisonAlgorithmSignature(signature);
    EXPECT_TRUE(signature.BeginsWithRawString(VString("system:"))) << Utf8(signature);
    EXPECT_GT(signature.GetLength(), 7);
}

TEST(IntlMgr, CharacterClasses)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    struct Row
    {
        UniChar fUnit;
        bool fAlpha;
        bool fDigit;
        bool fSpace;
    };
    const Row rows[] = {
        {u'a', true, false, false},   {0x00E9, true, false, false},  {0x4E00, true, false, false},
        {0xAC00, true, false, false}, {0xFF21, true, false, false},  {u'1', false, true, false},
        {0x0660, false, true, false}, {0xFF19, false, true, false},  {u' ', false, false, true},
        {0x00A0, false, false, true}, {0x200B, false, false, true},  {0x3000, false, false, true},
        {u'\t', false, false, false}, {0xD800, false, false, false}, {u'-', false, false, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(manager->IsAlpha(row.fUnit), row.fAlpha) << std::hex << row.fUnit;
        EXPECT_EQ(manager->IsDigit(row.fUnit), row.fDigit) << std::hex << row.fUnit;
        EXPECT_EQ(manager->IsSpace(row.fUnit), row.fSpace) << std::hex << row.fUnit;
    }
    EXPECT_TRUE(manager->IsPunctuation(u'-'));
    EXPECT_FALSE(manager->IsPunctuation(u'a'));
}

TEST(IntlMgr, CaseMappingFollowsTheDialect)
{
    struct Row
    {
        const char* fWhat;
        uint32_t fDialect;
        const char16_t* fText;
        bool fUpper;
        const char16_t* fExpected;
    };
    const Row rows[] = {
        {"Turkish dotted capital I", 1055, u"istanbul", true, u"\u0130STANBUL"},
        {"Turkish dotless small i", 1055, u"ISPARTA", false, u"\u0131sparta"},
        {"English i", 1033, u"istanbul", true, u"ISTANBUL"},
        {"longer result", 1031, u"stra\u00dfe", true, u"STRASSE"},
        {"Greek final sigma", 1032, u"\u039f\u0394\u039f\u03a3", false, u"\u03bf\u03b4\u03bf\u03c2"},
    };
    for (const Row& row : rows)
    {
        VString text = U(row.fText);
        Make(row.fDialect)->ToUpperLowerCase(text, false, row.fUpper);
        EXPECT_TRUE(text.EqualToStringRaw(U(row.fExpected))) << row.fWhat << ": " << Utf8(text);
    }

    // A long text whose result outgrows the first buffer is mapped whole.
    VString sharp;
    for (int i = 0; i < 300; ++i)
    {
        sharp.AppendUniChar(0x00DF);
    }
    Make(1031)->ToUpperLowerCase(sharp, false, true);
    ASSERT_EQ(sharp.GetLength(), 600);
    EXPECT_EQ(sharp.FindUniChar(0x00DF), 0);
}

// The buffer form maps without a locale and reports the whole length, copying what fits.
TEST(IntlMgr, CaseMappingOfABuffer)
{
    const UniChar* source = reinterpret_cast<const UniChar*>(u"stra\u00dfe i");
    UniChar buffer[9] = {};
    int32_t length = 9;
    EXPECT_TRUE(VIntlMgr::ToUpperLowerCase(source, 8, buffer, length, true));
    EXPECT_EQ(length, 9);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer), 9), u"STRASSE I");
    length = 3;
    UniChar small[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_TRUE(VIntlMgr::ToUpperLowerCase(source, 8, small, length, true));
    EXPECT_EQ(length, 9);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(small), 4), u"STRx");
    length = 5;
    EXPECT_TRUE(VIntlMgr::ToUpperLowerCase(source, 0, small, length, false));
    EXPECT_EQ(length, 0);

    char bytes[4] = {};
    int32_t size = 4;
    EXPECT_TRUE(
        VIntlMgr::DebugConvertString("abcdef", 6, CharSet::VTC_UTF_8, bytes, size, CharSet::VTC_UTF_8));
    EXPECT_EQ(size, 4);
    EXPECT_EQ(std::string(bytes, 4), "abcd");
    EXPECT_FALSE(
        VIntlMgr::DebugConvertString("abc", 3, CharSet::VTC_UTF_8, bytes, size, CharSet::VTC_UTF_16));
}

TEST(IntlMgr, DateAndTimeFormats)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    VIntlMgr::DateTimeParts date;
    date.fYear = 2026;
    date.fMonth = 1;
    date.fDay = 5;
    date.fHour = 14;
    date.fMinute = 3;
    date.fSecond = 9;
    struct Row
    {
        const char* fWhat;
        int fStyle;
        const char16_t* fDate;
    };
    const Row rows[] = {
        {"short", eOS_SHORT_FORMAT, u"1/5/26"},
        {"medium", eOS_MEDIUM_FORMAT, u"Jan 5, 2026"},
        {"long is the full date", eOS_LONG_FORMAT, u"Monday, January 5, 2026"},
        {"other styles write nothing", 7, u""},
    };
    for (const Row& row : rows)
    {
        VString text("stale");
        manager->FormatDate(date, text, static_cast<EOSFormats>(row.fStyle), true);
        EXPECT_TRUE(text.EqualToStringRaw(U(row.fDate))) << row.fWhat << ": " << Utf8(text);
    }

    VString time;
    manager->FormatTime(date, time, eOS_SHORT_FORMAT, true);
    EXPECT_EQ(time.Find(VString("2:03")), 1) << Utf8(time);
    EXPECT_GT(time.Find(VString("PM")), 0) << Utf8(time);
    manager->FormatTime(date, time, eOS_MEDIUM_FORMAT, true);
    EXPECT_EQ(time.Find(VString("2:03:09")), 1) << Utf8(time);
    manager->FormatTime(date, time, eOS_LONG_FORMAT, true);
    EXPECT_TRUE(time.Find(VString("GMT")) > 0 || time.Find(VString("UTC")) > 0) << Utf8(time);
    manager->FormatTime(date, time, static_cast<EOSFormats>(-1), true);
    EXPECT_TRUE(time.IsEmpty());

    // The parts are proleptic Gregorian: a date before 1582 is shown as given.
    date.fYear = 1500;
    date.fMonth = 3;
    date.fDay = 1;
    VString old;
    manager->FormatDate(date, old, eOS_MEDIUM_FORMAT, true);
    EXPECT_TRUE(old.EqualToStringRaw(VString("Mar 1, 1500"))) << Utf8(old);

    VString french;
    Make(1036)->FormatDate(date, french, eOS_LONG_FORMAT, true);
    EXPECT_GT(french.Find(VString("mars")), 0) << Utf8(french);
}

TEST(IntlMgr, CloneIsIndependent)
{
    VRefPtr<VIntlMgr> manager = Make(1036);
    VRefPtr<VIntlMgr> clone(manager->Clone(), true);
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetDialectCode(), 1036u);
    EXPECT_TRUE(clone->GetDecimalSeparator().EqualToStringRaw(VString(",")));
    ASSERT_NE(clone->GetCollator(), manager->GetCollator());
    clone->GetCollator()->SetWildChar(u'*');
    EXPECT_EQ(clone->GetWildChar(), u'*');
    EXPECT_EQ(manager->GetWildChar(), VCollator::sDefaultWildChar);
    clone->Reset();
    EXPECT_EQ(clone->GetWildChar(), VCollator::sDefaultWildChar);
}

TEST(IntlMgr, CurrentManagerComesFromTheProcess)
{
    EXPECT_EQ(VIntlMgr::GetCurrent(), nullptr);
    EXPECT_EQ(VIntlMgr::GetCurrentCollator(), VCollator::GetBinaryCollator());
    {
        StIntlTestProcess process(1055);
        ASSERT_NE(VIntlMgr::GetCurrent(), nullptr);
        EXPECT_EQ(VIntlMgr::GetCurrent()->GetDialectCode(), 1055u);
        EXPECT_EQ(VIntlMgr::GetCurrentCollator(), VIntlMgr::GetCurrent()->GetCollator());

        // A manager with the current one's settings is a clone of it.
        VRefPtr<VIntlMgr> same = Make(1055);
        EXPECT_NE(same.Get(), VIntlMgr::GetCurrent());
        EXPECT_EQ(same->GetDialectCode(), 1055u);
    }
    EXPECT_EQ(VIntlMgr::GetCurrent(), nullptr);
}

// Time values go through formatters the manager opens once and keeps.
class IntlMgrTimes : public zorn::test::TimeZoneTest
{
};

TEST_F(IntlMgrTimes, FormatsTimesWithKeptFormatters)
{
    VTime time;
    time.FromUTCTime(2026, 12, 9, 10, 30, 5, 250);
    VRefPtr<VIntlMgr> manager = Make(1036);
    VString text;
    manager->FormatDate(time, text, eOS_MEDIUM_FORMAT, true);
    EXPECT_EQ(Utf8(text), "9 déc. 2026");
    VTime null;
    null.SetNull(true);
    manager->FormatDate(null, text, eOS_MEDIUM_FORMAT, true);
    EXPECT_TRUE(text.IsEmpty());

    // A local formatter is opened again when the zone changes, not kept in the old zone.
    UseZone("Europe/Paris");
    manager->FormatTime(time, text, eOS_SHORT_FORMAT, false);
    EXPECT_EQ(Utf8(text), "11:30");
    UseZone("America/New_York");
    manager->FormatTime(time, text, eOS_SHORT_FORMAT, false);
    EXPECT_EQ(Utf8(text), "05:30");
    manager->FormatTime(time, text, eOS_SHORT_FORMAT, true);
    EXPECT_EQ(Utf8(text), "10:30");

    // A clone has formatters of its own: it formats after the original is gone.
    VRefPtr<VIntlMgr> clone(manager->Clone(), true);
    ASSERT_TRUE(clone);
    manager = nullptr;
    clone->FormatDate(time, text, eOS_MEDIUM_FORMAT, true);
    EXPECT_EQ(Utf8(text), "9 déc. 2026");
    clone->FormatTime(time, text, eOS_SHORT_FORMAT, false);
    EXPECT_EQ(Utf8(text), "05:30");
}

TEST(IntlMgr, OneManagerFormatsForSeveralTasks)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                VTime time;
                time.FromUTCTime(static_cast<int16_t>(2020 + t), 3, 5, 0, 0, 0, 0);
                const std::string expected = "Mar 5, " + std::to_string(2020 + t);
                for (int i = 0; i < 200; ++i)
                {
                    VString text;
                    manager->FormatDate(time, text, eOS_MEDIUM_FORMAT, true);
                    mismatches[t] += Utf8(text) == expected ? 0 : 1;
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}
