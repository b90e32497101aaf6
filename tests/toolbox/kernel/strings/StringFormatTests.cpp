#include "tests/StringTestSupport.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

using namespace zorn;
using zorn::test::Text;

namespace
{

TEST(StringPrintf, Conversions)
{
    VString word("word");
    VString marked("a;;;b;;;c");
    VLong number(42);
    VObject plain;
    const wchar_t* wide = L"wide";
    struct Row
    {
        const char* fWhat;
        std::function<void(VString&)> fFormat;
        std::u16string fExpected;
    };
    const Row rows[] = {
        {"integers around a string object",
         [&](VString& s) { s.Printf("%d %i %u %o %x %X %S %+05d", -1, 2, 3u, 8u, 255u, 255u, &word, 7); },
         u"-1 2 3 10 ff FF word +0007"},
        {"length modifiers before objects",
         [&](VString& s)
         {
             s.Printf("%hhd %hd %ld %lld %jd %zu %td %S %A", 'a', 1000, -5L, 1LL << 40, INTMAX_MIN, size_t{9},
                      ptrdiff_t{-3}, &word, &number);
         },
         u"97 1000 -5 1099511627776 -9223372036854775808 9 -3 word 42"},
        {"reals of both widths before objects",
         [&](VString& s)
         { s.Printf("%e %E %f %F %g %G %a %.2Lf %S", 1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.0, 2.25L, &word); },
         u"1.500000e+00 1.500000E+00 1.500000 1.500000 1.5 1.5 0x1p+0 2.25 word"},
        {"%Lf then %S takes the right pointer", [&](VString& s) { s.Printf("%Lf %S", 0.5L, &word); },
         u"0.500000 word"},
        {"%lld then %A", [&](VString& s) { s.Printf("%lld %A", -1LL, &number); }, u"-1 42"},
        {"* width and .* precision before %S",
         [&](VString& s) { s.Printf("%0*d|%-*.*f|%.*s|%S", 5, 42, 6, 1, 2.25, 2, "abc", &word); },
         u"00042|2.2   |ab|word"},
        {"flags and a * width before objects are read and ignored",
         [&](VString& s) { s.Printf("[%-10S][%*A][%08.3V]", &word, 12, &number, &word); },
         u"[word][42][word]"},
        {"characters, strings, wide forms and a null pointer",
         [&](VString& s) { s.Printf("%c|%s|%ls|%lc|%p", 'x', "caf\xC3\xA9", wide, L'y', nullptr); },
         u"x|café|wide|y|(nil)"},
        {"an ordinary %s keeps ;;;", [&](VString& s) { s.Printf("%s %S", "x;;;y;;;z", &word); },
         u"x;;;y;;;z word"},
        {"object texts with ;;; each land in place",
         [&](VString& s) { s.Printf("%S and %S", &marked, &word); }, u"a;;;b;;;c and word"},
        {"%% gives one percent and takes no argument", [&](VString& s) { s.Printf("100%% %d%%", 5); },
         u"100% 5%"},
        {"%n is copied and takes no argument", [&](VString& s) { s.Printf("a%nb%d", 5); }, u"a%nb5"},
        {"%S of a number", [&](VString& s) { s.Printf("%S", &number); }, u"@@invalid VString@@"},
        {"%A of the same number", [&](VString& s) { s.Printf("%A", &number); }, u"42"},
        {"%A of an object that is no value", [&](VString& s) { s.Printf("%A", &plain); },
         u"@@invalid VValueSingle@@"},
        {"null object", [&](VString& s) { s.Printf("<%S>", static_cast<VString*>(nullptr)); },
         u"<@@invalid VObject@@>"},
        {"%V dumps the object", [&](VString& s) { s.Printf("%V", &word); }, u"word"},
        {"positional, unknown and unfinished conversions stay as text",
         [&](VString& s) { s.Printf("%1$d %y %*3d %d %", 4); }, u"%1$d %y %*3d 4 %"},
        {"no conversion", [&](VString& s) { s.Printf("plain"); }, u"plain"},
        {"an empty format empties the string", [&](VString& s) { s.Printf(""); }, u""},
    };
    for (const Row& row : rows)
    {
        VString text("previous");
        row.fFormat(text);
        EXPECT_EQ(Text(text), row.fExpected) << row.fWhat;
        EXPECT_FALSE(text.IsNull()) << row.fWhat;
    }
}

TEST(StringPrintf, AppendAndFreeForms)
{
    VString text("a=");
    EXPECT_EQ(&text.AppendPrintf("%d", 1), &text);
    text.AppendPrintf(", b=%s", "2");
    EXPECT_EQ(Text(text), u"a=1, b=2");
    EXPECT_EQ(Text(Printf("%03d%S", 7, &text)), u"007a=1, b=2");

    // Printf gives up a shared buffer; the other holder keeps its text.
    VString shared;
    shared.EnsureSize(40);
    shared.FromCString("a text that lives in a heap buffer");
    VString holder(shared);
    shared.Printf("%d", 1);
    EXPECT_EQ(Text(shared), u"1");
    EXPECT_EQ(Text(holder), u"a text that lives in a heap buffer");
}

TEST(StringPrintf, OutputIsCutAfter1023BytesAtACharacterBoundary)
{
    VString word("word");
    struct Row
    {
        const char* fWhat;
        std::string fArgument;
        std::string fExpectedBytes; // before the cut, as UTF-8
    };
    const std::string a1021(1021, 'a');
    const std::string euros = []
    {
        std::string text;
        for (int i = 0; i < 1300; ++i)
        {
            text += "\xE2\x82\xAC";
        }
        return text;
    }();
    const Row rows[] = {
        {"a two-byte character across the cut", a1021 + "a\xC3\xA9" + euros, a1021 + "a"},
        {"a two-byte character ending at the cut", a1021 + "\xC3\xA9" + euros, a1021 + "\xC3\xA9"},
        {"three-byte characters only", euros, euros.substr(0, 1023)},
        {"short output", "short", "short"},
    };
    for (const Row& row : rows)
    {
        VString text;
        text.Printf("%s%S", row.fArgument.c_str(), &word);
        VString expected(row.fExpectedBytes.data(), row.fExpectedBytes.size(), CharSet::VTC_UTF_8);
        if (row.fArgument.size() <= 1023)
        {
            expected.AppendString(word); // nothing follows a cut
        }
        EXPECT_EQ(Text(text), Text(expected)) << row.fWhat;
    }

    // Object texts do not count against the limit.
    VString longObject;
    longObject.FromCString(std::string(3000, 'o').c_str());
    VString text;
    text.Printf("%S%s", &longObject, std::string(1023, 'b').c_str());
    EXPECT_EQ(text.GetLength(), 3000 + 1023);
}

} // namespace
