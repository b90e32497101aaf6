#include "tests/toolbox/kernel/IntlTestProcess.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/locale/VCollator_system.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

using namespace zorn;
using zorn::test::U;
using zorn::test::Utf8;

namespace
{

VRefPtr<VCollator> MakeCollator(uint32_t inDialect)
{
    return VRefPtr<VCollator>(VCollator_system::Create(inDialect, nullptr), true);
}

const UniChar* Units(const char16_t* inText)
{
    return reinterpret_cast<const UniChar*>(inText);
}

int32_t Length(const char16_t* inText)
{
    return static_cast<int32_t>(std::char_traits<char16_t>::length(inText));
}

// The decomposed form of "Résumé": R, e, U+0301, s, u, m, e, U+0301.
constexpr const char16_t* kDecomposedResume = u"Re\u0301sume\u0301";

} // namespace

TEST(Collator, CompareAndEqual)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        bool fDiacritical;
        CompareResult fExpected;
    };
    const Row rows[] = {
        {"accents and case ignored", u"resume", u"R\u00e9sum\u00e9", false, CR_EQUAL},
        {"accents and case count", u"resume", u"R\u00e9sum\u00e9", true, CR_SMALLER},
        {"umlaut against its base letter", u"\u00c4", u"a", false, CR_EQUAL},
        {"umlaut against its base letter, diacritical", u"\u00c4", u"a", true, CR_BIGGER},
        {"case alone, diacritical", u"abc", u"ABC", true, CR_SMALLER},
        {"composed and decomposed forms are one text", u"R\u00e9sum\u00e9", kDecomposedResume, true,
         CR_EQUAL},
        {"sharp s against ss", u"Stra\u00dfe", u"strasse", false, CR_EQUAL},
        {"empty against empty", u"", u"", true, CR_EQUAL},
        {"empty against text", u"", u"a", false, CR_SMALLER},
        {"text against empty", u"a", u"", false, CR_BIGGER},
        {"order by the alphabet, not by units", u"\u00e9clair", u"zebra", true, CR_SMALLER},
    };
    for (const Row& row : rows)
    {
        CompareResult result = collator->CompareString(
            Units(row.fText), Length(row.fText), Units(row.fPattern), Length(row.fPattern), row.fDiacritical);
        EXPECT_EQ(result, row.fExpected) << row.fWhat;
        EXPECT_EQ(collator->EqualString(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                        Length(row.fPattern), row.fDiacritical),
                  row.fExpected == CR_EQUAL)
            << row.fWhat;
    }
}

TEST(Collator, FindReportsTheMatchedLength)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        bool fDiacritical;
        bool fReversed;
        int32_t fPosition;
        int32_t fLength;
    };
    const Row rows[] = {
        {"composed pattern, decomposed text", kDecomposedResume, u"\u00e9", true, false, 2, 2},
        {"the last such match", kDecomposedResume, u"\u00e9", true, true, 7, 2},
        {"base letter takes its accent along", kDecomposedResume, u"e", false, false, 2, 2},
        {"no match inside a combining sequence", kDecomposedResume, u"e", true, false, 0, 0},
        {"one unit standing for two", u"Stra\u00dfe", u"ss", false, false, 5, 1},
        {"case ignored", u"abcABC", u"BC", false, false, 2, 2},
        {"case counts", u"abcABC", u"BC", true, false, 5, 2},
        {"overlapping last match", u"aaa", u"aa", false, true, 2, 2},
        {"empty pattern", u"abc", u"", false, false, 1, 0},
        {"empty text", u"", u"a", false, false, 0, 0},
        {"absent", u"abc", u"d", false, false, 0, 0},
        // The search kept between calls: its overlap setting and its pattern must not leak.
        {"first match after an overlapping last one", u"aaa", u"aa", false, false, 1, 2},
        {"the same pattern in another text", u"baab", u"aa", false, false, 2, 2},
        {"last match, no overlap possible", u"aabaa", u"aa", false, true, 4, 2},
    };
    for (const Row& row : rows)
    {
        int32_t length = -1;
        int32_t position =
            row.fReversed
                ? collator->ReversedFindString(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                               Length(row.fPattern), row.fDiacritical, &length)
                : collator->FindString(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                       Length(row.fPattern), row.fDiacritical, &length);
        EXPECT_EQ(position, row.fPosition) << row.fWhat;
        EXPECT_EQ(length, row.fLength) << row.fWhat;
    }
}

TEST(Collator, BeginsAndEndsWith)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        bool fDiacritical;
        bool fBegins;
        int32_t fBeginLength;
        bool fEnds;
        int32_t fEndLength;
    };
    const Row rows[] = {
        {"accented prefix and suffix", kDecomposedResume, u"r\u00e9", false, true, 3, false, 0},
        {"suffix longer in the text", kDecomposedResume, u"sume", false, false, 0, true, 5},
        {"accents count", kDecomposedResume, u"Re", true, false, 0, false, 0},
        {"empty pattern", u"abc", u"", true, true, 0, true, 0},
        {"whole text", u"abc", u"ABC", false, true, 3, true, 3},
    };
    for (const Row& row : rows)
    {
        int32_t length = -1;
        EXPECT_EQ(collator->BeginsWithString(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                             Length(row.fPattern), row.fDiacritical, &length),
                  row.fBegins)
            << row.fWhat;
        EXPECT_EQ(length, row.fBeginLength) << row.fWhat;
        EXPECT_EQ(collator->EndsWithString(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                           Length(row.fPattern), row.fDiacritical, &length),
                  row.fEnds)
            << row.fWhat;
        EXPECT_EQ(length, row.fEndLength) << row.fWhat;
    }
}

TEST(Collator, LikeWithWildCharactersAnywhere)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        bool fDiacritical;
        bool fMatches;
    };
    const Row rows[] = {
        {"trailing wild character", u"abcdef", u"ab@", false, true},
        {"trailing wild character, other start", u"xabc", u"ab@", false, false},
        {"leading wild character", u"xyzab", u"@ab", false, true},
        {"leading wild character, other end", u"abx", u"@ab", false, false},
        {"both ends", u"xxbxx", u"@b@", false, true},
        {"both ends, absent", u"xxxx", u"@b@", false, false},
        {"inner", u"abc", u"a@c", false, true},
        {"inner, empty run", u"ac", u"a@c", false, true},
        {"inner, wrong end", u"abd", u"a@c", false, false},
        {"pieces in order", u"a1b2c3", u"a@b@c@", false, true},
        {"pieces out of order", u"a1c2b3", u"a@b@c@", false, false},
        {"runs of wild characters", u"abc", u"a@@@c", false, true},
        {"last piece found at the end though it occurs before", u"xaaa", u"@aa", false, true},
        {"pieces may not overlap", u"a", u"a@a", false, false},
        {"wild character alone matches the empty text", u"", u"@", false, true},
        {"empty pattern matches the empty text only", u"abc", u"", false, false},
        {"collation in each piece", kDecomposedResume, u"r\u00e9@m\u00e9", false, true},
        {"accents count in pieces", kDecomposedResume, u"re@", true, false},
        {"case counts in the last piece", u"R\u00e9sum\u00e9", u"@SUM\u00e9", true, false},
        {"no wild character: plain comparison", u"RESUME", u"r\u00e9sum\u00e9", false, true},
    };
    for (const Row& row : rows)
    {
        CompareResult result = collator->CompareString_Like(
            Units(row.fText), Length(row.fText), Units(row.fPattern), Length(row.fPattern), row.fDiacritical);
        EXPECT_EQ(result == CR_EQUAL, row.fMatches) << row.fWhat;
        EXPECT_EQ(collator->EqualString_Like(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                             Length(row.fPattern), row.fDiacritical),
                  row.fMatches)
            << row.fWhat;
    }
}

TEST(Collator, LikeWithWildCharactersOnlyAtTheEnds)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    collator->SetOptions(collator->GetOptions() | VCollator::kOptionWildCharOnlyAtEnds);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fPattern;
        CompareResult fExpected;
    };
    const Row rows[] = {
        {"inner wild character is literal", u"abc", u"a@c", CR_BIGGER},
        {"inner wild character matches itself", u"A@C", u"a@c", CR_EQUAL},
        {"both ends: contains", u"xxbxx", u"@b@", CR_EQUAL},
        {"both ends: absent from a longer text", u"xxxx", u"@b@", CR_BIGGER},
        {"both ends: absent from a shorter text", u"x", u"@b@", CR_SMALLER},
        {"one or two units match everything", u"anything", u"@@", CR_EQUAL},
        {"prefix", u"abcdef", u"ab@", CR_EQUAL},
        {"no prefix: plain comparison", u"ac", u"ab@", CR_BIGGER},
        {"suffix", u"xyzab", u"@ab", CR_EQUAL},
        {"no suffix", u"xyzac", u"@ab", CR_BIGGER},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(collator->CompareString_Like(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                               Length(row.fPattern), false),
                  row.fExpected)
            << row.fWhat;
        EXPECT_EQ(collator->EqualString_Like(Units(row.fText), Length(row.fText), Units(row.fPattern),
                                             Length(row.fPattern), false),
                  row.fExpected == CR_EQUAL)
            << row.fWhat;
    }
}

// "Like" equality skips the collation for plain ASCII; it must give what the collation gives.
TEST(Collator, AsciiShortcutAgreesWithTheCollation)
{
    const char16_t alphabet[] = u"aAbB@ .-1\t\r\n\x01\x7f";
    std::mt19937 random(20260105);
    std::uniform_int_distribution<int> unit(0, static_cast<int>(std::size(alphabet)) - 2);
    std::uniform_int_distribution<int> length(0, 6);
    auto make = [&]
    {
        VString text;
        for (int i = length(random); i > 0; --i)
        {
            text.AppendUniChar(static_cast<UniChar>(alphabet[unit(random)]));
        }
        return text;
    };
    for (uint32_t dialect : {1033u, 1036u, 1031u, 1041u, 1030u})
    {
        VRefPtr<VCollator> collator = MakeCollator(dialect);
        for (bool onlyAtEnds : {false, true})
        {
            collator->SetOptions(onlyAtEnds ? VCollator::kOptionWildCharOnlyAtEnds : 1);
            for (int i = 0; i < 1500; ++i)
            {
                VString text = make();
                // Half of the patterns come from the text, so that many of them match: a stretch
                // becomes a wild character and the case of a letter may change.
                VString pattern = make();
                if ((i & 2) != 0)
                {
                    pattern = text;
                    int32_t at = std::uniform_int_distribution<int32_t>(1, pattern.GetLength() + 1)(random);
                    pattern.Replace(VString("@"), at, std::uniform_int_distribution<int32_t>(0, 2)(random));
                    UniChar first = pattern.GetUniChar(1);
                    if (first == u'a' || first == u'b')
                    {
                        pattern.SetUniChar(1, static_cast<UniChar>(first - u'a' + u'A'));
                    }
                }
                bool diacritical = (i & 1) != 0;
                bool expected =
                    collator->CompareString_Like(text.GetCPointer(), text.GetLength(), pattern.GetCPointer(),
                                                 pattern.GetLength(), diacritical) == CR_EQUAL;
                ASSERT_EQ(collator->EqualString_Like(text.GetCPointer(), text.GetLength(),
                                                     pattern.GetCPointer(), pattern.GetLength(), diacritical),
                          expected)
                    << "dialect " << dialect << ", wild only at ends " << onlyAtEnds << ", diacritical "
                    << diacritical << ": \"" << Utf8(text) << "\" like \"" << Utf8(pattern) << "\"";
            }
        }
    }
}

TEST(Collator, BinaryCollatorComparesUnits)
{
    VCollator* binary = VCollator::GetBinaryCollator();
    EXPECT_EQ(binary->CompareString(Units(u"abc"), 3, Units(u"ABC"), 3, false), CR_BIGGER);
    EXPECT_EQ(binary->CompareString(Units(u"ab"), 2, Units(u"abc"), 3, false), CR_SMALLER);
    EXPECT_FALSE(binary->EqualString(Units(u"resume"), 6, Units(u"r\u00e9sum\u00e9"), 6, false));
    int32_t length = 0;
    EXPECT_EQ(binary->FindString(Units(u"xabab"), 5, Units(u"ab"), 2, false, &length), 2);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(binary->ReversedFindString(Units(u"xabab"), 5, Units(u"ab"), 2, false, &length), 4);
    EXPECT_EQ(binary->CompareString_Like(Units(u"abc"), 3, Units(u"a@c"), 3, false), CR_EQUAL);
    EXPECT_FALSE(binary->EqualString_Like(Units(u"ABC"), 3, Units(u"a@"), 2, false));
    VString signature;
    binary->GetStringComparisonAlgorithmSignature(signature);
    EXPECT_TRUE(signature.EqualToStringRaw(VString("binary")));
}

TEST(Collator, CloneKeepsSettings)
{
    VRefPtr<VCollator> collator = MakeCollator(1036);
    collator->SetWildChar(u'*');
    VRefPtr<VCollator> clone(collator->Clone(), true);
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetDialectCode(), 1036u);
    EXPECT_EQ(clone->GetWildChar(), u'*');
    EXPECT_TRUE(clone->EqualString_Like(Units(u"abc"), 3, Units(u"A*"), 2, false));
    clone->Reset();
    EXPECT_EQ(clone->GetWildChar(), VCollator::sDefaultWildChar);
    EXPECT_EQ(collator->GetWildChar(), u'*');
}

TEST(Collator, PatternsAnIndexCanServe)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    struct Row
    {
        const char* fWhat;
        const char16_t* fPattern;
        bool fCompatible;
    };
    const Row rows[] = {
        {"empty", u"", true},
        {"plain", u"abc", true},
        {"wild character last", u"a@", true},
        {"wild character first", u"@a", false},
        {"wild character inside", u"a@b", false},
        {"two wild characters at the end", u"a@@", false},
        {"hiragana", u"a\u3042", false},
        {"katakana", u"\u30A2", false},
        {"half-width katakana", u"\uFF71@", false},
        {"kanji is not kana", u"\u4E00@", true},
        {"just past the hiragana range", u"\u3095", true},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(collator->IsPatternCompatibleWithDichotomyAndDiacritics(Units(row.fPattern),
                                                                          Length(row.fPattern)),
                  row.fCompatible)
            << row.fWhat;
    }
    collator->SetWildChar(u'*');
    EXPECT_TRUE(collator->IsPatternCompatibleWithDichotomyAndDiacritics(Units(u"@a*"), 3));
}

// Several threads compare and search through one collator at once (checked under ThreadSanitizer).
TEST(Collator, FindWithMorePatternsThanSearchesKept)
{
    // Twelve patterns in turn, twice, at both strengths: searches are reused, and given other
    // patterns once more patterns come than are kept.
    VRefPtr<VCollator> collator = MakeCollator(1033);
    const std::u16string text = u"abcdefghijklmnop";
    for (int round = 0; round < 2; ++round)
    {
        for (bool diacritical : {false, true})
        {
            for (int i = 0; i < 12; ++i)
            {
                const char16_t pattern[] = {static_cast<char16_t>(u'a' + i), static_cast<char16_t>(u'b' + i)};
                int32_t length = 0;
                EXPECT_EQ(collator->FindString(Units(text.c_str()), Length(text.c_str()), Units(pattern), 2,
                                               diacritical, &length),
                          i + 1)
                    << "round " << round << ", pattern " << i;
                EXPECT_EQ(length, 2);
            }
        }
    }
}

TEST(Collator, SharedBetweenThreads)
{
    VRefPtr<VCollator> collator = MakeCollator(1033);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (size_t t = 0; t < failures.size(); ++t)
    {
        threads.emplace_back(
            [&collator, &failures, t]
            {
                for (int i = 0; i < 200; ++i)
                {
                    int32_t length = 0;
                    bool ok =
                        collator->EqualString(Units(u"resume"), 6, Units(u"R\u00e9sum\u00e9"), 6, false) &&
                        collator->FindString(Units(kDecomposedResume), 8, Units(u"\u00e9"), 1, true,
                                             &length) == 2 &&
                        length == 2 &&
                        collator->FindString(Units(kDecomposedResume), 8, Units(u"um"), 2, true, &length) ==
                            5 &&
                        length == 2 &&
                        collator->EqualString_Like(Units(u"r\u00e9sum\u00e9"), 6, Units(u"R@M\u00c9"), 4,
                                                   false);
                    failures[t] += ok ? 0 : 1;
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    for (int count : failures)
    {
        EXPECT_EQ(count, 0);
    }
}
