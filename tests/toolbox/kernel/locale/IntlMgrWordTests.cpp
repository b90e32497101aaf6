// Words, word-bounded searches and bidirectional runs of the international manager.

#include "tests/toolbox/kernel/IntlTestProcess.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace zorn;
using zorn::test::U;

namespace
{

using Ranges = std::vector<std::pair<int32_t, int32_t>>;

VRefPtr<VIntlMgr> Make(uint32_t inDialect)
{
    return VRefPtr<VIntlMgr>(VIntlMgr::Create(inDialect, inDialect), true);
}

} // namespace

TEST(IntlMgrWords, WordBoundaries)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    Ranges words{{9, 9}};
    EXPECT_TRUE(manager->GetWordBoundariesWithOptions(U(u"Hello, w\u00f6rld 42x\tend"), words, 1));
    EXPECT_EQ(words, (Ranges{{1, 5}, {8, 5}, {14, 3}, {18, 3}}));
    EXPECT_FALSE(manager->GetWordBoundariesWithOptions(VString("abc"), words, 0));
    EXPECT_TRUE(words.empty());
    EXPECT_TRUE(manager->GetWordBoundariesWithOptions(VString(), words, 0));
    EXPECT_TRUE(words.empty());

    Ranges pieces;
    EXPECT_TRUE(VIntlMgr::SplitWordAtDots(VString("x a.b..c"), {3, 6}, pieces, true));
    EXPECT_EQ(pieces, (Ranges{{3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}}));
    pieces.clear();
    EXPECT_TRUE(VIntlMgr::SplitWordAtDots(VString(".ab."), {1, 4}, pieces, false));
    EXPECT_EQ(pieces, (Ranges{{2, 2}}));
    pieces.clear();
    EXPECT_FALSE(VIntlMgr::SplitWordAtDots(VString("abc"), {1, 3}, pieces, true));
    EXPECT_EQ(pieces, (Ranges{{1, 3}}));

    struct Row
    {
        const char16_t* fText;
        bool fElision;
    };
    const Row rows[] = {
        {u"l'homme", true},       {u"l\u2019\u00e9cole", false},
        {u"d\u2019Accord", true}, {u"qu'il", false},
        {u"l'a", false},          {u"l'bar", false},
        {u"L'Yeux", true},
    };
    for (const Row& row : rows)
    {
        VString text = U(row.fText);
        EXPECT_EQ(VIntlMgr::HasElisionApostrophe(text, {1, text.GetLength()}), row.fElision)
            << text.GetLength();
    }
}

TEST(IntlMgrWords, FindStringsByMode)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    const VString text("Cat concat cats cat");
    struct Row
    {
        const char* fWhat;
        EFindStringMode fMode;
        bool fAll;
        Ranges fMatches;
    };
    const Row rows[] = {
        {"anywhere", eFindStringAnywhere, true, {{1, 3}, {8, 3}, {12, 3}, {17, 3}}},
        {"whole words", eFindStringWholeWords, true, {{1, 3}, {17, 3}}},
        {"not starting inside a word", eFindStringWordStarts, true, {{1, 3}, {12, 3}, {17, 3}}},
        {"not ending inside a word", eFindStringWordEnds, true, {{1, 3}, {8, 3}, {17, 3}}},
        {"first only", eFindStringWordEnds, false, {{1, 3}}},
        {"other modes accept every match",
         static_cast<EFindStringMode>(4),
         true,
         {{1, 3}, {8, 3}, {12, 3}, {17, 3}}},
    };
    for (const Row& row : rows)
    {
        Ranges matches{{0, 0}};
        manager->FindStrings(text, VString("cat"), row.fMode, false, matches, row.fAll);
        EXPECT_EQ(matches, row.fMatches) << row.fWhat;
    }
    Ranges matches;
    manager->FindStrings(text, VString("cat"), eFindStringAnywhere, true, matches, true);
    EXPECT_EQ(matches, (Ranges{{8, 3}, {12, 3}, {17, 3}})); // case counts
    manager->FindStrings(text, VString(), eFindStringAnywhere, false, matches, true);
    EXPECT_TRUE(matches.empty());

    // A pattern of ignorable characters matches nothing visible: every search still ends, and
    // whatever it reports lies in the text.
    for (const char16_t* ignorable : {u"\u00ad", u"\u200b", u"\u0301"})
    {
        for (EFindStringMode mode : {eFindStringAnywhere, eFindStringWholeWords})
        {
            manager->FindStrings(text, U(ignorable), mode, false, matches, true);
            EXPECT_LE(matches.size(), static_cast<size_t>(text.GetLength()));
            for (const auto& [start, length] : matches)
            {
                EXPECT_TRUE(start >= 1 && start + length <= text.GetLength() + 1);
            }
        }
    }
}

TEST(IntlMgrWords, FindWord)
{
    VRefPtr<VIntlMgr> manager = Make(1033);
    VCompareOptions plain;
    VCompareOptions like;
    like.SetLike(true);
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        const char16_t* fWord;
        const VCompareOptions* fOptions;
        bool fFound;
    };
    const Row rows[] = {
        {"a word in the middle", u"the cat sat", u"cat", &plain, true},
        {"inside a longer word only", u"concatenate", u"cat", &plain, false},
        {"second match is a word", u"concat, cat!", u"cat", &plain, true},
        {"at both ends", u"cat", u"cat", &plain, true},
        {"apostrophe ends a word", u"cat's", u"cat", &plain, true},
        {"accents ignored", u"un caf\u00e9 noir", u"CAFE", &plain, true},
        {"wild character word by word", u"the coat sat", u"c@t", &like, true},
        {"wild character needs a whole word", u"the coats", u"c@t", &like, false},
        {"wild character without like is plain", u"the coat", u"c@t", &plain, false},
        {"an empty word", u"the cat", u"", &plain, false},
        {"ignorable word ends", u"the cat", u"\u00ad", &plain, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(manager->FindWord(U(row.fText), U(row.fWord), *row.fOptions), row.fFound) << row.fWhat;
    }
}

TEST(IntlMgrWords, BidiAndSignatures)
{
    VRefPtr<VIntlMgr> manager = Make(1025);
    std::vector<VBidiRun> runs;
    std::vector<int32_t> order;
    const UniChar* text = reinterpret_cast<const UniChar*>(u"abc\r");
    EXPECT_EQ(manager->GetBidiRuns(text, 4, runs, order, 3, true), 1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].fStart, 0);
    EXPECT_EQ(runs[0].fLength, 3);
    EXPECT_EQ(runs[0].fLevel, 1);
    EXPECT_EQ(order, std::vector<int32_t>{0});
    EXPECT_EQ(manager->GetBidiRuns(text, 4, runs, order, 2, false), 0);
    EXPECT_EQ(runs[0].fLength, 4);

    VString empty;
    VString carriageReturn("\r");
    VString word("ab");
    EXPECT_TRUE(manager->TextLogicalToVisual(empty, 1));
    EXPECT_TRUE(manager->TextLogicalToVisual(carriageReturn, 1));
    EXPECT_FALSE(manager->TextLogicalToVisual(word, 1));
    EXPECT_TRUE(word.EqualToStringRaw(VString("ab")));

    VString signature("stale");
    manager->GetKewordAlgorithmSignature(signature);
    EXPECT_TRUE(signature.EqualToStringRaw(VString("AlphaNum")));
}
