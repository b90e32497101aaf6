#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

using namespace zorn;
using zorn::test::Text;

namespace
{

VString Str(const std::u16string& inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

TEST(StringXML, Escaping)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        bool fControls;
        std::u16string fEscaped;
    };
    const Row rows[] = {
        {"the five specials", u"a<b & 'c' \"d\">", false, u"a&lt;b &amp; &apos;c&apos; &quot;d&quot;&gt;"},
        {"controls kept without the flag", u"\x01\x7F", false, u"\x01\x7F"},
        {"TAB LF CR stay, other controls and DEL escaped", u"\t\n\r\x01\x1F\x7F", true,
         u"\t\n\r&#x01;&#x1F;&#x7F;"},
        {"U+1F600 written as it is", u"\U0001F600<", true, u"\U0001F600&lt;"},
        {"a 0 unit before an escape", std::u16string(u"a\0<b", 4), false, std::u16string(u"a\0&lt;b", 7)},
        {"a 0 unit after an escape", std::u16string(u"<\0>", 3), false, std::u16string(u"&lt;\0&gt;", 9)},
        {"a 0 unit escaped with controls", std::u16string(u"<\0", 2), true, u"&lt;&#x00;"},
    };
    for (const Row& row : rows)
    {
        VString text = Str(row.fText);
        text.TranscodeToXML(row.fControls);
        EXPECT_EQ(Text(text), row.fEscaped) << row.fWhat;
    }
}

TEST(StringXML, Decoding)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        std::u16string fDecoded;
    };
    const Row rows[] = {
        {"named entities", u"&amp;&gt;&quot;&lt;&apos;", u"&>\"<'"},
        {"hexadecimal, either case", u"&#x01;&#x41;&#x7f;&#x00e9;",
         u"\x01"
         u"A\x7F\xE9"},
        {"above U+FFFF gives a surrogate pair", u"&#x1F600;", u"\U0001F600"},
        {"the largest code point", u"&#x10FFFF;", u"\U0010FFFF"},
        {"above U+10FFFF kept", u"&#x110000;", u"&#x110000;"},
        {"overflowing digits kept", u"&#x100000000041;", u"&#x100000000041;"},
        {"a surrogate value kept", u"&#xD800;", u"&#xD800;"},
        {"zero kept", u"&#x0;", u"&#x0;"},
        {"decimal reference kept", u"&#65;", u"&#65;"},
        {"no digits", u"&#x;", u"&#x;"},
        {"no semicolon", u"&#x41 b", u"&#x41 b"},
        {"cut off at the end", u"a &am", u"a &am"},
        {"unknown name", u"&nbsp;&AMP;", u"&nbsp;&AMP;"},
        {"a 0 unit before and after", std::u16string(u"\0&lt;\0&gt;", 10), std::u16string(u"\0<\0>", 4)},
    };
    for (const Row& row : rows)
    {
        VString text = Str(row.fText);
        text.TranscodeFromXML();
        EXPECT_EQ(Text(text), row.fDecoded) << row.fWhat;
    }
}

TEST(StringXML, RoundTripAndTheValueHooks)
{
    const std::u16string original = u"<a href='x'>&amp; \x01\x1F\x7F\t\U0001F600</a>";
    VString text = Str(original);
    text.TranscodeToXML(true);
    text.TranscodeFromXML();
    EXPECT_EQ(Text(text), original);

    // The hooks escape without control escapes and leave the source alone.
    VString source = Str(u"x<\x01");
    VString xml;
    source.GetXMLString(xml);
    EXPECT_EQ(Text(xml), u"x&lt;\x01");
    EXPECT_EQ(Text(source), u"x<\x01");
    VString back;
    EXPECT_TRUE(back.FromXMLString(xml));
    EXPECT_EQ(Text(back), u"x<\x01");
}

TEST(StringXML, TextWithoutEscapesKeepsItsBuffer)
{
    VString text = Str(std::u16string(40, u'a'));
    VString share(text);
    text.TranscodeToXML(true);
    text.TranscodeFromXML();
    EXPECT_EQ(text.GetCPointer(), share.GetCPointer());
}

TEST(StringJSON, Escaping)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        JSONStringOptions fOptions;
        std::u16string fJSON;
    };
    const Row rows[] = {
        {"quote and TAB, quoted", u"\"\t", 1, u"\"\\\"\\t\""},
        {"short escapes", u"\b\t\n\f\r\\\"", 0, u"\\b\\t\\n\\f\\r\\\\\\\""},
        {"other controls and DEL in upper-case hex", u"\x01\x1F\x0B\x7F", 0, u"\\u0001\\u001F\\u000B\\u007F"},
        {"slash and non-ASCII as they are", u"/\xE9\U0001F600", 0, u"/\xE9\U0001F600"},
        {"& and ' kept without 1024", u"&'", 0, u"&'"},
        {"& and ' escaped with 1024", u"&'", 1024, u"\\u0026\\u0027"},
        {"raw copy", u"\"\t", 16, u"\"\t"},
        {"raw copy quoted", u"\"\t", 17, u"\"\"\t\""},
        {"empty quoted", u"", 1, u"\"\""},
    };
    for (const Row& row : rows)
    {
        VString json;
        EXPECT_EQ(Str(row.fText).GetJSONString(json, row.fOptions), VE_OK) << row.fWhat;
        EXPECT_EQ(Text(json), row.fJSON) << row.fWhat;
    }

    // Every unit below U+0020 has an escape.
    for (UniChar unit = 0; unit < 0x20; ++unit)
    {
        VString json;
        VString(&unit, 1).GetJSONString(json);
        EXPECT_EQ(json.GetUniChar(1), '\\') << unit;
        EXPECT_GE(json.GetLength(), 2) << unit;
    }

    // 6 x length + 4 is sized in 64 bits: at 0x2AAAAAAB units it would wrap to 6 in 32. The check comes
    // before any unit is read, so a string that only claims that length (over a caller's buffer
    // it never reads) shows it without allocating.
    UniChar unit = 'a';
    VString huge(&unit, 0x2AAAAAAB, SIZE_MAX);
    VString out(CVSTR("kept"));
    EXPECT_EQ(huge.GetJSONString(out), VE_STRING_ALLOC_FAILED);
    EXPECT_EQ(Text(out), u"kept");

    // The output may be the string itself.
    VString self = Str(u"a\"b");
    self.GetJSONString(self, 1);
    EXPECT_EQ(Text(self), u"\"a\\\"b\"");
}

// Escaping goes eight units at a time, then takes the last units as a block or two halves where
// it can: one unit to escape at every place of strings of every length up to three blocks.
TEST(StringJSON, EscapingAtEveryPlaceOfShortAndBlockLengthStrings)
{
    const std::pair<char16_t, std::u16string> specials[] = {
        {u'"', u"\\\""}, {u'\n', u"\\n"}, {u'\x7F', u"\\u007F"}, {u'\'', u"\\u0027"}};
    for (size_t length = 1; length <= 24; ++length)
    {
        const std::u16string plain(length, u'\xE9');
        VString json;
        ASSERT_EQ(Str(plain).GetJSONString(json, 1024), VE_OK);
        EXPECT_EQ(Text(json), plain) << "length " << length;
        for (size_t at = 0; at < length; ++at)
        {
            for (const auto& [unit, escaped] : specials)
            {
                std::u16string text = plain;
                text[at] = unit;
                ASSERT_EQ(Str(text).GetJSONString(json, 1024), VE_OK);
                EXPECT_EQ(Text(json), plain.substr(0, at) + escaped + plain.substr(at + 1))
                    << "length " << length << " at " << at;
            }
        }
    }
}

TEST(StringJSON, Decoding)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fJSON;
        JSONStringOptions fOptions;
        std::u16string fText;
    };
    const Row rows[] = {
        {"\\u with four digits", u"\\u0041\\u00e9", 0, u"A\xE9"},
        {"short escapes", u"\\b\\f\\n\\r\\t", 0, u"\b\f\n\r\t"},
        {"any other unit as itself", u"\\q\\/\\\\\\\"", 0, u"q/\\\""},
        {"a trailing backslash dropped", u"ab\\", 0, u"ab"},
        {"\\u with fewer than four units left", u"\\u12", 0, u"u12"},
        {"\\u with a non-digit", u"\\u12G4", 0, u"u12G4"},
        {"raw copy", u"a\\n", 16, u"a\\n"},
    };
    for (const Row& row : rows)
    {
        VString text(CVSTR("old"));
        EXPECT_EQ(text.FromJSONString(Str(row.fJSON), row.fOptions), VE_OK) << row.fWhat;
        EXPECT_EQ(Text(text), row.fText) << row.fWhat;
    }
}

TEST(StringJSON, RoundTripsRandomUTF16IncludingLoneSurrogates)
{
    std::mt19937 random(1234);
    // Mostly the units that matter: controls, the escaped ASCII, surrogates of either half.
    const UniChar pool[] = {0,   1,    8,   9,   10,   12,   13,     0x1F,   '"',    '\\',   '/',
                            '&', '\'', 'u', 'a', 0x7F, 0xE9, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF};
    for (int round = 0; round < 500; ++round)
    {
        std::u16string units;
        int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
        {
            units.push_back(random() % 4 == 0 ? static_cast<char16_t>(random())
                                              : static_cast<char16_t>(pool[random() % std::size(pool)]));
        }
        for (JSONStringOptions options : {0u, 1024u})
        {
            VString json;
            ASSERT_EQ(Str(units).GetJSONString(json, options), VE_OK);
            VString back;
            back.FromJSONString(json);
            ASSERT_EQ(Text(back), units) << "round " << round << " options " << options;
        }
    }
}

TEST(StringShapes, DatesAndScriptNames)
{
    struct DateRow
    {
        std::u16string fText;
        bool fISO;
        bool fNonAmbiguous;
    };
    const DateRow dates[] = {
        {u"2024-01-31", true, false},      {u"2024/01/31", false, false},
        {u"2024-1-31", false, false},      {u"2024-01-31 ", false, false},
        {u"!!2024-01-31!!", false, true},  {u"!!2024-1-31!!", false, false},
        {u"!!2024-01-31!?", false, false}, {u"", false, false},
    };
    for (const DateRow& row : dates)
    {
        EXPECT_EQ(Str(row.fText).IsISODate(), row.fISO) << Str(row.fText).GetLength();
        EXPECT_EQ(Str(row.fText).IsNonAmbigousDate(), row.fNonAmbiguous) << Str(row.fText).GetLength();
    }

    struct NameRow
    {
        std::u16string fText;
        std::u16string fName;
    };
    const NameRow names[] = {
        {u"9 lives!", u"_9lives"}, {u"$el_1", u"$el_1"}, {u"été", u"t"}, {u"", u""}, {u"-", u""},
    };
    for (const NameRow& row : names)
    {
        VString name(CVSTR("old"));
        Str(row.fText).GetCleanJSName(name);
        EXPECT_EQ(Text(name), row.fName);
    }
}

TEST(StringNormalization, ComposeAndDecompose)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fDecomposed;
        std::u16string fComposed;
    };
    const Row rows[] = {
        {"e and a combining acute", u"e\x0301", u"\xE9"},
        {"a Hangul syllable", u"\x1112\x1161\x11AB", u"\xD55C"},
        {"ASCII", u"plain", u"plain"},
    };
    for (const Row& row : rows)
    {
        VString text = Str(row.fDecomposed);
        text.Compose();
        EXPECT_EQ(Text(text), row.fComposed) << row.fWhat;
        text.Decompose();
        EXPECT_EQ(Text(text), row.fDecomposed) << row.fWhat;
    }

    // Text already in the form keeps its buffer.
    VString composed = Str(std::u16string(30, u'\xE9'));
    VString share(composed);
    composed.Compose();
    EXPECT_EQ(composed.GetCPointer(), share.GetCPointer());
}

TEST(StringBase64, EncodeAndDecodeThroughCharacterSets)
{
    VString text = Str(u"h\xE9llo");
    ASSERT_TRUE(text.EncodeBase64(CharSet::VTC_UTF_8));
    EXPECT_EQ(Text(text), u"aMOpbGxv");
    ASSERT_TRUE(text.DecodeBase64(CharSet::VTC_UTF_8));
    EXPECT_EQ(Text(text), u"h\xE9llo");

    VString url;
    ASSERT_TRUE(url.EncodeBase64("\xFB\xFF", 2, true));
    EXPECT_EQ(Text(url), u"-_8");

    VString empty;
    EXPECT_TRUE(empty.EncodeBase64(CharSet::VTC_UTF_8));
    EXPECT_TRUE(empty.DecodeBase64(CharSet::VTC_UTF_8));
    EXPECT_TRUE(empty.IsEmpty());

    // Malformed ASCII text fails without an error, and the string is left as it was.
    VString bad(CVSTR("YWJ="));
    EXPECT_FALSE(bad.DecodeBase64(CharSet::VTC_UTF_8));
    EXPECT_EQ(Text(bad), u"YWJ=");
}

TEST(StringUTF8, TheDirectPathMatchesTheRegisteredConverter)
{
    const std::string inputs[] = {
        "",
        "plain ASCII longer than sixteen bytes",
        "caf\xC3\xA9 \xE4\xB8\xAD\xF0\x9F\x98\x80",
        "bad \xC0\xAF and \xED\xA0\x80 and \x80",
        "cut at the end \xE4\xB8",
    };
    VRefPtr<VToUnicodeConverter> converter(
        VTextConverters::Get()->RetainToUnicodeConverter(CharSet::VTC_UTF_8), true);
    for (const std::string& input : inputs)
    {
        VString expected;
        bool expectedOK = converter->ConvertString(input.data(), input.size(), nullptr, expected);
        VString direct(CVSTR("previous text"));
        direct.SetNull(true);
        EXPECT_EQ(direct.FromBlock(input.data(), input.size(), CharSet::VTC_UTF_8), expectedOK) << input;
        EXPECT_EQ(Text(direct), Text(expected)) << input;
        EXPECT_FALSE(direct.IsNull()) << input;
    }
}

class StringBase64Errors : public test::TaskManagerTest
{
};

TEST_F(StringBase64Errors, NonASCIITextRaisesItsOwnError)
{
    VMemoryBuffer<> buffer;
    StErrorContextInstaller errors;
    EXPECT_FALSE(Str(u"YW\xE9j").DecodeBase64(buffer));
    EXPECT_EQ(errors.GetLastError(), VE_BASE64_NOT_ASCII);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
}

} // namespace
