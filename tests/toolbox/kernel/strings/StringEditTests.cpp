#include "tests/toolbox/kernel/IntlTestProcess.h"

#include "toolbox/kernel/locale/VCollator.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace zorn;
using zorn::test::StIntlTestProcess;
using zorn::test::Text;
using zorn::test::U;
using zorn::test::Utf8;

namespace
{

// One edit of a string and the text it should leave.
struct EditRow
{
    const char* fWhat;
    const char16_t* fBefore;
    std::function<void(VString&)> fEdit;
    const char16_t* fAfter;
};

void CheckEdits(const std::vector<EditRow>& inRows)
{
    for (const EditRow& row : inRows)
    {
        VString text = U(row.fBefore);
        text.SetDirty(false);
        row.fEdit(text);
        EXPECT_EQ(Text(text), row.fAfter) << row.fWhat << ": " << Utf8(text);
        EXPECT_FALSE(text.IsNull()) << row.fWhat;
    }
}

std::vector<std::u16string> Texts(const std::vector<VString>& inStrings)
{
    std::vector<std::u16string> texts;
    for (const VString& piece : inStrings)
    {
        texts.push_back(Text(piece));
    }
    return texts;
}

} // namespace

TEST(StringEdit, AppendInsertReplaceRemove)
{
    CheckEdits({
        {"append a unit", u"ab", [](VString& s) { s.AppendUniChar(u'c'); }, u"abc"},
        {"append units", u"ab",
         [](VString& s) { s.AppendUniChars(reinterpret_cast<const UniChar*>(u"cde"), 2); }, u"abcd"},
        {"append a string to itself", u"abc", [](VString& s) { s.AppendString(s); }, u"abcabc"},
        {"insert a unit at 0: nothing", u"abc", [](VString& s) { s.Insert(u'x', 0); }, u"abc"},
        {"insert a unit at 1", u"abc", [](VString& s) { s.Insert(u'x', 1); }, u"xabc"},
        {"insert a unit at length + 1 appends", u"abc", [](VString& s) { s.Insert(u'x', 4); }, u"abcx"},
        {"insert a unit far past the end appends", u"abc", [](VString& s) { s.Insert(u'x', 99); }, u"abcx"},
        {"insert unit 0: nothing", u"abc", [](VString& s) { s.Insert(UniChar{0}, 2); }, u"abc"},
        {"insert a string inside", u"abc", [](VString& s) { s.Insert(VString("XY"), 2); }, u"aXYbc"},
        {"insert a string into itself", u"abc", [](VString& s) { s.Insert(s, 3); }, u"ababcc"},
        {"replace in the middle, longer", u"abcdef", [](VString& s) { s.Replace(VString("XYZ"), 2, 2); },
         u"aXYZdef"},
        {"replace in the middle, shorter", u"abcdef", [](VString& s) { s.Replace(VString("X"), 2, 3); },
         u"aXef"},
        {"replace past the end keeps the head", u"abcde", [](VString& s) { s.Replace(VString("XYZ"), 5, 3); },
         u"abcdXYZ"},
        {"replace with count 0: nothing", u"abc", [](VString& s) { s.Replace(VString("X"), 1, 0); }, u"abc"},
        {"replace beyond the length: nothing", u"abc", [](VString& s) { s.Replace(VString("X"), 4, 1); },
         u"abc"},
        {"remove inside", u"abcdef", [](VString& s) { s.Remove(2, 2); }, u"adef"},
        {"remove past the end", u"abcdef", [](VString& s) { s.Remove(2, 100); }, u"a"},
        {"remove at 0: nothing", u"abcdef", [](VString& s) { s.Remove(0, 2); }, u"abcdef"},
        {"remove a negative count: nothing", u"abcdef", [](VString& s) { s.Remove(2, -1); }, u"abcdef"},
    });
    EXPECT_EQ(Text(VString("ab") + VString("cd")), u"abcd");
}

TEST(StringEdit, CutsAndSubStrings)
{
    CheckEdits({
        {"truncate", u"abcdef", [](VString& s) { s.Truncate(3); }, u"abc"},
        {"truncate to a negative length", u"abcdef", [](VString& s) { s.Truncate(-1); }, u""},
        {"truncate longer: nothing", u"abc", [](VString& s) { s.Truncate(10); }, u"abc"},
        {"truncate keeps surrogate pairs", u"ab\U0001F600c", [](VString& s) { s.Truncate(3, true); }, u"ab"},
        {"truncate may split them when asked", u"ab\U0001F600c", [](VString& s) { s.Truncate(3, false); },
         u"ab\xD83D"},
        {"sub-string in place", u"abcdef", [](VString& s) { s.SubString(3, 2); }, u"cd"},
        {"sub-string clipped", u"abcdef", [](VString& s) { s.SubString(3, 100); }, u"cdef"},
        {"sub-string out of bounds", u"abcdef", [](VString& s) { s.SubString(7, 1); }, u""},
        {"from unit 0: empty", u"abc", [](VString& s) { s.FromUniChar(0); }, u""},
        {"from units, overlapping the own text", u"abcdef",
         [](VString& s) { s.FromUniString(s.GetCPointer() + 2, 3); }, u"cde"},
    });

    struct Row
    {
        const char* fWhat;
        int32_t fPos;
        int32_t fCount;
        const char16_t* fExpected;
    };
    const Row rows[] = {
        {"clipped to the end", 3, 100, u"cdef"},
        {"past the end", 7, 1, u""},
        {"before the start", 0, 2, u""},
        {"no units", 2, 0, u""},
    };
    VString source("abcdef");
    for (const Row& row : rows)
    {
        VString out("stale");
        source.GetSubString(row.fPos, row.fCount, out);
        EXPECT_EQ(Text(out), row.fExpected) << row.fWhat;
    }

    VString abc("abc");
    EXPECT_EQ(Text(abc.Before(2)), u"a");
    EXPECT_EQ(Text(abc.Before(10)), u"abc");
    EXPECT_EQ(Text(abc.Before(0)), u"");
    EXPECT_EQ(Text(abc.After(1)), u"bc");
    EXPECT_EQ(Text(abc.After(3)), u"");
    EXPECT_EQ(Text(abc.After(0)), u"abc");
    EXPECT_TRUE(VString(true).Before(5).IsNull()); // a copy of the whole string, null flag included
}

TEST(StringEdit, TruncateGivesBackLargeBuffers)
{
    VString text;
    UniChar* units = text.GetCPointerForWrite(1000);
    ASSERT_NE(units, nullptr);
    std::fill(units, units + 1000, u'x');
    ASSERT_TRUE(text.Validate(1000));
    int32_t capacity = text.GetCapacity();
    ASSERT_GE(capacity, 1000);

    text.Truncate(900);
    EXPECT_EQ(text.GetLength(), 900);
    EXPECT_EQ(text.GetCapacity(), capacity); // within the slack: kept

    text.Truncate(10);
    EXPECT_EQ(text.GetLength(), 10);
    EXPECT_LT(text.GetCapacity(), 100); // reallocated small

    // A shared buffer is copied at the new length; the other holder keeps its text.
    VString shared(text);
    shared.Truncate(4);
    EXPECT_EQ(text.GetLength(), 10);
    EXPECT_EQ(Text(shared), u"xxxx");
}

TEST(StringEdit, EditsNeverWriteSharedOrLiteralBuffers)
{
    VString original(U(u"a shared heap buffer of some length"));
    VString copy(original);
    ASSERT_EQ(original.GetBufferRefCount(), 2u);
    copy.Insert(VString("X"), 1);
    copy.Exchange(u'a', u'A');
    copy.Remove(2, 1);
    EXPECT_EQ(Text(original), u"a shared heap buffer of some length");

    CVSTR_struct literal(u"literal text");
    VString fromLiteral(literal);
    fromLiteral.Replace(VString("L"), 1, 1);
    fromLiteral.Exchange(VString("text"), VString("T"));
    EXPECT_EQ(Text(literal), u"literal text");
    EXPECT_EQ(Text(fromLiteral), u"Literal T");

    // No occurrence: a shared buffer is not copied.
    VString again(original);
    again.Exchange(u'#', u'!');
    EXPECT_EQ(original.GetBufferRefCount(), 2u);
}

TEST(StringEdit, TrimmingAndWhiteSpace)
{
    CheckEdits({
        {"trim Unicode spaces at both ends", u"\u3000\uFEFF\t x y \u00A0\u2028", [](VString& s) { s.Trim(); },
         u"x y"},
        {"trim leading only", u"  x  ", [](VString& s) { s.Trim(true, false); }, u"x  "},
        {"trim trailing only", u"  x  ", [](VString& s) { s.Trim(false, true); }, u"  x"},
        {"trim everything", u" \u2000 ", [](VString& s) { s.Trim(); }, u""},
        {"trailing cut takes a stranded high surrogate", u"x\xD83D\u3000", [](VString& s) { s.Trim(); },
         u"x"},
        {"trim a unit", u"--a-b--", [](VString& s) { s.TrimUniChar(u'-'); }, u"a-b"},
        {"trim a unit that is all the text", u"---", [](VString& s) { s.TrimUniChar(u'-'); }, u""},
        {"white space without a manager: space and tab only", u" \t\u00A0x\u00A0 ",
         [](VString& s) { s.RemoveWhiteSpaces(); }, u"\u00A0x\u00A0"},
    });

    StIntlTestProcess process(1033);
    VString text(U(u" \u00A0\u3000x\u2000 "));
    int32_t leading = -1;
    int32_t trailing = -1;
    text.RemoveWhiteSpaces(true, true, &leading, &trailing, VIntlMgr::GetCurrent());
    EXPECT_EQ(Text(text), u"x");
    EXPECT_EQ(leading, 3);
    EXPECT_EQ(trailing, 2);
}

TEST(StringEdit, CaseMappingThroughTheCurrentManager)
{
    VString text(U(u"istanbul \u00df"));
    text.ToUpperCase();
    EXPECT_EQ(Text(text), u"ISTANBUL SS"); // no manager: the rules of every locale
    {
        StIntlTestProcess turkish(1055);
        VString turkishText(U(u"istanbul"));
        turkishText.ToUpperCase();
        EXPECT_EQ(Text(turkishText), u"\u0130STANBUL");
        turkishText.FromCString("ISPARTA");
        turkishText.ToLowerCase();
        EXPECT_EQ(Text(turkishText), u"\u0131sparta");
    }
    VString composed(U(u"e\u0301"));
    composed.Compose();
    EXPECT_EQ(Text(composed), u"\u00e9"); // canonical composition (NFC)
}

TEST(StringEdit, RawSearches)
{
    VString text("abcabc");
    EXPECT_EQ(text.FindUniChar(u'c'), 3);
    EXPECT_EQ(text.FindUniChar(u'a', 2), 4);
    EXPECT_EQ(text.FindUniChar(u'b', 1, true), 0); // backward from 1 looks at the first unit only
    EXPECT_EQ(text.FindUniChar(u'a', 1, true), 1);
    EXPECT_EQ(text.FindUniChar(u'b', 6, true), 5);
    EXPECT_EQ(text.FindUniChar(u'a', 7), 0);
    EXPECT_EQ(VString().FindUniChar(u'a'), 0);

    struct Row
    {
        const char* fWhat;
        const char* fPattern;
        int32_t fStart;
        int32_t fExpected;
    };
    const Row rows[] = {
        {"first occurrence", "bc", 1, 2},
        {"from a later start", "bc", 3, 5},
        {"too few units left", "abc", 5, 0},
        {"start below 1", "a", 0, 0},
        {"empty pattern is found at start", "", 4, 4},
        {"absent", "ca", 1, 3},
        {"absent for good", "cb", 1, 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(text.FindRawString(VString(row.fPattern), row.fStart), row.fExpected) << row.fWhat;
    }
    // A pattern of 256 units or more has its prefix table on the heap.
    std::u16string longText(3000, u'a');
    std::u16string pattern(299, u'a');
    pattern.push_back(u'b');
    longText.replace(2000, pattern.size(), pattern);
    VString haystack(reinterpret_cast<const UniChar*>(longText.c_str()));
    VString needle(reinterpret_cast<const UniChar*>(pattern.c_str()));
    EXPECT_EQ(haystack.FindRawString(needle), 2001);

    EXPECT_TRUE(text.BeginsWithRawString(VString("abc")));
    EXPECT_FALSE(text.BeginsWithRawString(VString("ABC")));
    EXPECT_TRUE(text.EndsWithRawString(VString("cabc")));
    EXPECT_FALSE(text.EndsWithRawString(VString("xabcabc")));
}

TEST(StringEdit, CollatedSearches)
{
    VString text(U(u"Curriculum: R\u00e9sum\u00e9, resume"));
    {
        StIntlTestProcess process(1033);
        EXPECT_EQ(text.Find(VString("resume")), 13);
        EXPECT_EQ(text.Find(VString("resume"), 14), 21);
        EXPECT_EQ(text.Find(VString("resume"), 1, true), 21);
        EXPECT_EQ(text.Find(VString("x"), 0), 0);
        EXPECT_EQ(text.Find(VString("resume"), 40), 0);
        EXPECT_TRUE(text.BeginsWith(VString("CURRICULUM")));
        EXPECT_FALSE(text.BeginsWith(VString("CURRICULUM"), true));
        EXPECT_TRUE(text.EndsWith(U(u"R\u00c9SUME")));
    }
    // Without a manager the searches compare units.
    EXPECT_EQ(text.Find(VString("resume")), 21);
    EXPECT_EQ(text.Find(U(u"R\u00e9sum\u00e9")), 13);
    EXPECT_FALSE(text.BeginsWith(VString("CURRICULUM")));
}

TEST(StringEdit, ReplacingOccurrences)
{
    int32_t count = -1;
    CheckEdits({
        {"longer replacement, at most 2", u"aXaXa",
         [&count](VString& s) { s.ExchangeRawString(VString("a"), VString("bb"), 1, 2, &count); },
         u"bbXbbXa"},
        {"shorter replacement", u"aaXaaXaa",
         [](VString& s) { s.ExchangeRawString(VString("aa"), VString("b")); }, u"bXbXb"},
        {"same length", u"abcabc", [](VString& s) { s.ExchangeRawString(VString("bc"), VString("XY")); },
         u"aXYaXY"},
        {"from a start", u"abcabc", [](VString& s) { s.ExchangeRawString(VString("a"), VString("-"), 2); },
         u"abc-bc"},
        {"replacement removes", u"a-b-c", [](VString& s) { s.ExchangeRawString(VString("-"), VString()); },
         u"abc"},
        {"empty pattern replaces nothing", u"abc",
         [](VString& s) { s.ExchangeRawString(VString(), VString("x")); }, u"abc"},
        {"the string as its own pattern", u"abc", [](VString& s) { s.ExchangeRawString(s, VString("xyzw")); },
         u"xyzw"},
        {"units", u"a.b.c.d", [](VString& s) { s.Exchange(u'.', u'/', 3, 2); }, u"a.b/c/d"},
    });
    EXPECT_EQ(count, 2);

    StIntlTestProcess process(1033);
    CheckEdits({
        {"collated, each match replaced whole", u"R\u00e9sum\u00e9 and Re\u0301sume\u0301 and resume",
         [](VString& s) { s.Exchange(VString("resume"), VString("CV")); }, u"CV and CV and CV"},
        {"collated, accents count", u"R\u00e9sum\u00e9 and resume",
         [](VString& s) { s.Exchange(VString("resume"), VString("CV"), 1, INT32_MAX, true); },
         u"R\u00e9sum\u00e9 and CV"},
        {"collated, at most one", u"ss \u00df ss",
         [](VString& s) { s.Exchange(VString("SS"), VString("x"), 2, 1); }, u"ss x ss"},
        {"collated, empty pattern replaces nothing", u"abc",
         [](VString& s) { s.Exchange(VString(), VString("x")); }, u"abc"},
        {"collated, through a given collator", u"resume",
         [](VString& s)
         { s.Exchange(VString("RESUME"), VString("x"), 1, 10, false, VCollator::GetBinaryCollator()); },
         u"resume"},
    });
}

TEST(StringEdit, SplittingKeepsOrDropsEmptyFields)
{
    struct Row
    {
        const char* fWhat;
        const char16_t* fText;
        bool fKeepEmpty;
        bool fTrim;
        bool fFound;
        std::vector<std::u16string> fPieces;
    };
    const Row rows[] = {
        {"empty fields kept", u",a,,b,", true, false, true, {u"", u"a", u"", u"b", u""}},
        {"empty fields dropped", u",a,,b,", false, false, true, {u"a", u"b"}},
        {"pieces trimmed of spaces", u" a , b ,  ", true, true, true, {u"a", u"b", u""}},
        {"trimmed to nothing and dropped", u" a , b ,  ", false, true, true, {u"a", u"b"}},
        {"no separator", u"abc", false, false, false, {u"abc"}},
        {"empty text, kept", u"", true, false, false, {u""}},
        {"empty text, dropped", u"", false, false, false, {}},
    };
    for (const Row& row : rows)
    {
        std::vector<VString> pieces{VString("stale")};
        EXPECT_EQ(U(row.fText).GetSubStrings(u',', pieces, row.fKeepEmpty, row.fTrim), row.fFound)
            << row.fWhat;
        EXPECT_EQ(Texts(pieces), row.fPieces) << row.fWhat;
    }

    StIntlTestProcess process(1033);
    std::vector<VString> pieces;
    EXPECT_TRUE(U(u"a\u00c9b\u00e9\u00e9c").GetSubStrings(VString("e"), pieces, true));
    EXPECT_EQ(Texts(pieces), (std::vector<std::u16string>{u"a", u"b", u"", u"c"}));
    EXPECT_TRUE(VString("x::y::").GetSubStrings(VString("::"), pieces));
    EXPECT_EQ(Texts(pieces), (std::vector<std::u16string>{u"x", u"y"}));
    EXPECT_FALSE(VString("x::y").GetSubStrings(VString(), pieces));
    EXPECT_EQ(Texts(pieces), (std::vector<std::u16string>{u"x::y"}));
    EXPECT_FALSE(VString().GetSubStrings(VString(","), pieces, true));
    EXPECT_TRUE(pieces.empty());
}

TEST(StringEdit, Joining)
{
    VString joined("stale");
    EXPECT_TRUE(joined.Join({}, u','));
    EXPECT_TRUE(joined.IsEmpty());
    EXPECT_TRUE(joined.Join({VString("a"), VString(), VString("c")}, u','));
    EXPECT_EQ(Text(joined), u"a,,c");
    std::vector<VString> pieces{VString("x"), VString("y")};
    EXPECT_TRUE(pieces[0].Join(pieces, VString(" - ")));
    EXPECT_EQ(Text(pieces[0]), u"x - y");
}
