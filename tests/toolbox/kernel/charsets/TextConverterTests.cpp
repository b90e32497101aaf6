#include "tests/StringTestSupport.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/charsets/VUnicodeConverters.h"
#include "toolbox/kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <unicode/ustring.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using zorn::test::Text;

namespace
{

std::string Bytes(std::initializer_list<int> inBytes)
{
    std::string bytes;
    for (int b : inBytes)
    {
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

using test::Hex;

VRefPtr<VToUnicodeConverter> ToUnicode(CharSet inCharSet)
{
    return VRefPtr<VToUnicodeConverter>(VTextConverters::Get()->RetainToUnicodeConverter(inCharSet), true);
}

VRefPtr<VFromUnicodeConverter> FromUnicode(CharSet inCharSet)
{
    return VRefPtr<VFromUnicodeConverter>(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet),
                                          true);
}

// Encodes the whole string through the set's converter.
bool Encode(CharSet inCharSet, const std::u16string& inText, std::string& outBytes)
{
    VRefPtr<VFromUnicodeConverter> converter = FromUnicode(inCharSet);
    std::vector<char> buffer((inText.size() + 10) * 8);
    int32_t consumed = 0;
    size_t produced = 0;
    bool ok = converter->Convert(reinterpret_cast<const UniChar*>(inText.data()),
                                 static_cast<int32_t>(inText.size()), &consumed, buffer.data(), buffer.size(),
                                 &produced);
    outBytes.assign(buffer.data(), produced);
    return ok && consumed == static_cast<int32_t>(inText.size());
}

TEST(TextConverters, ParseBOM)
{
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
        bool fFound;
        size_t fSize;
        CharSet fCharSet;
    };
    const Row rows[] = {
        {"UTF-32 LE mark wins over UTF-16 LE", Bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00}), true, 4,
         CharSet::VTC_UTF_32},
        {"UTF-16 LE mark", Bytes({0xFF, 0xFE, 0x41, 0x00}), true, 2, CharSet::VTC_UTF_16},
        {"UTF-16 BE mark", Bytes({0xFE, 0xFF, 0x00, 0x41}), true, 2, CharSet::VTC_UTF_16_BIGENDIAN},
        {"UTF-32 BE mark", Bytes({0x00, 0x00, 0xFE, 0xFF}), true, 4, CharSet::VTC_UTF_32_BIGENDIAN},
        {"UTF-8 mark", Bytes({0xEF, 0xBB, 0xBF, 0x41}), true, 3, CharSet::VTC_UTF_8},
        {"UTF-8 mark cut short", Bytes({0xEF, 0xBB}), false, 0, CharSet::VTC_UNKNOWN},
        {"no mark", "plain", false, 0, CharSet::VTC_UNKNOWN},
        {"empty", "", false, 0, CharSet::VTC_UNKNOWN},
    };
    for (const Row& row : rows)
    {
        size_t size = 99;
        CharSet charSet = CharSet::VTC_MacRoman;
        EXPECT_EQ(VTextConverters::ParseBOM(row.fBytes.data(), row.fBytes.size(), size, charSet), row.fFound)
            << row.fWhat;
        EXPECT_EQ(size, row.fSize) << row.fWhat;
        EXPECT_EQ(charSet, row.fCharSet) << row.fWhat;
    }

    // Every mark that GetBOMForCharSet writes reads back as its own set; the raw sets have none.
    for (int32_t value = 1; value <= 7; ++value)
    {
        CharSet charSet = static_cast<CharSet>(value);
        size_t markSize = 0;
        const uint8_t* mark = VTextConverters::GetBOMForCharSet(charSet, markSize);
        bool raw = charSet == CharSet::VTC_UTF_32_RAW || charSet == CharSet::VTC_UTF_32_RAW_BIGENDIAN;
        ASSERT_EQ(mark == nullptr, raw) << value;
        if (mark != nullptr)
        {
            size_t parsedSize = 0;
            CharSet parsed = CharSet::VTC_UNKNOWN;
            EXPECT_TRUE(VTextConverters::ParseBOM(mark, markSize, parsedSize, parsed)) << value;
            EXPECT_EQ(parsed, charSet) << value;
            EXPECT_EQ(parsedSize, markSize) << value;
        }
    }
}

struct DecodeRow
{
    const char* fWhat;
    std::string fBytes;
    std::u16string fText;
    bool fOK;
    size_t fConsumed;
};

void CheckUTF8Decoding(const DecodeRow& inRow)
{
    VRefPtr<VToUnicodeConverter> converter = ToUnicode(CharSet::VTC_UTF_8);
    VString text;
    size_t consumed = 0;
    bool ok = converter->ConvertString(inRow.fBytes.data(), inRow.fBytes.size(), &consumed, text);
    EXPECT_EQ(Text(text), inRow.fText) << inRow.fWhat;
    EXPECT_EQ(ok, inRow.fOK) << inRow.fWhat;
    EXPECT_EQ(consumed, inRow.fConsumed) << inRow.fWhat;
}

TEST(TextConverters, UTF8DecodingIsStrict)
{
    const DecodeRow rows[] = {
        {"ASCII", "abc", u"abc", true, 3},
        {"two bytes", "caf\xC3\xA9", u"café", true, 5},
        {"three bytes", "\xE2\x82\xAC", u"€", true, 3},
        {"four bytes give a surrogate pair", Bytes({0xF0, 0x9F, 0x98, 0x80}), u"\xD83D\xDE00", true, 4},
        {"largest code point", Bytes({0xF4, 0x8F, 0xBF, 0xBF}), u"\xDBFF\xDFFF", true, 4},
        {"overlong slash never becomes '/'", Bytes({0xC0, 0xAF}), u"??", false, 2},
        {"overlong three-byte", Bytes({0xE0, 0x80, 0xAF}), u"???", false, 3},
        {"overlong four-byte", Bytes({0xF0, 0x80, 0x80, 0xAF}), u"????", false, 4},
        {"encoded surrogate", Bytes({0xED, 0xA0, 0x80}), u"???", false, 3},
        {"above U+10FFFF", Bytes({0xF4, 0x90, 0x80, 0x80}), u"????", false, 4},
        {"five-byte form", Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), u"?????", false, 5},
        {"bad trailing byte ends the piece", Bytes({0xE2, 0x82, 0x41}), u"?A", false, 3},
        {"stray continuation byte", Bytes({0x80, 0x41}), u"?A", false, 2},
        {"FF byte", Bytes({0x41, 0xFF, 0x42}), u"A?B", false, 3},
        {"truncated at the end: left unconsumed", Bytes({0x41, 0xE2, 0x82}), u"A", false, 1},
        {"truncated four-byte", Bytes({0xF0, 0x9F, 0x98}), u"", false, 0},
        {"empty", "", u"", true, 0},
    };
    for (const DecodeRow& row : rows)
    {
        CheckUTF8Decoding(row);
    }
}

TEST(TextConverters, UTF8StopsWhenTheTargetIsFull)
{
    VRefPtr<VToUnicodeConverter> converter = ToUnicode(CharSet::VTC_UTF_8);
    const std::string bytes = "ab" + Bytes({0xF0, 0x9F, 0x98, 0x80});
    UniChar units[3] = {0, 0, 0};
    size_t consumed = 0;
    int32_t produced = 0;
    // Room for one unit of the pair only: the character is left whole for the next call.
    EXPECT_FALSE(converter->Convert(bytes.data(), bytes.size(), &consumed, units, 3, &produced));
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(produced, 2);

    VRefPtr<VFromUnicodeConverter> encoder = FromUnicode(CharSet::VTC_UTF_8);
    const std::u16string text = u"aé€";
    char out[4];
    int32_t unitsConsumed = 0;
    size_t bytesProduced = 0;
    EXPECT_FALSE(encoder->Convert(reinterpret_cast<const UniChar*>(text.data()), 3, &unitsConsumed, out, 4,
                                  &bytesProduced));
    EXPECT_EQ(unitsConsumed, 2);
    EXPECT_EQ(bytesProduced, 3u);
}

// Random byte soup, and random UTF-16 with lone surrogates, against ICU's converters with the same
// substitutes ('?' when decoding, U+FFFD when encoding): both follow the practice of one
// substitute per maximal ill-formed piece. The runs of ASCII reach the sixteen- and 32-unit paths,
// ending at every offset within a block.
TEST(TextConverters, UTF8MatchesICUOnRandomText)
{
    std::mt19937 random(1234);
    const std::vector<std::string> pieces = {"a",
                                             "0123456789abcdefghij",
                                             std::string(33, 'k'),
                                             std::string(70, 'w'),
                                             "\xC3\xA9",
                                             "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80",
                                             "\xC0",
                                             "\x80",
                                             "\xBF",
                                             "\xED\xA0",
                                             "\xE0\x80",
                                             "\xF4\x90",
                                             "\xFF",
                                             "\xE2\x82",
                                             "\xF0\x9F",
                                             "\xEF\xBF\xBF",
                                             "\xC2"};
    VRefPtr<VToUnicodeConverter> decoder = ToUnicode(CharSet::VTC_UTF_8);
    VRefPtr<VFromUnicodeConverter> encoder = FromUnicode(CharSet::VTC_UTF_8);
    for (int round = 0; round < 3000; ++round)
    {
        std::string bytes;
        int count = static_cast<int>(random() % 24);
        for (int i = 0; i < count; ++i)
        {
            bytes += pieces[random() % pieces.size()];
        }
        bytes += 'Z'; // never ends inside a sequence: ICU would substitute where we stop

        VString ours;
        decoder->ConvertString(bytes.data(), bytes.size(), nullptr, ours);
        std::vector<UChar> icu(bytes.size() + 1);
        int32_t icuLength = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(icu.data(), static_cast<int32_t>(icu.size()), &icuLength, bytes.data(),
                             static_cast<int32_t>(bytes.size()), '?', nullptr, &error);
        ASSERT_TRUE(U_SUCCESS(error));
        ASSERT_EQ(Text(ours), std::u16string(icu.begin(), icu.begin() + icuLength)) << Hex(bytes);

        // Encoding: UTF-16 built from code units that include lone surrogates.
        const UniChar unitPool[] = {'a',    'z',    0xE9,   0x20AC, 0xD83D, 0xDE00,
                                    0xDBFF, 0xDFFF, 0xFFFF, 0x7F,   0x80};
        std::u16string units;
        for (int i = static_cast<int>(random() % 80); i > 0; --i)
        {
            units.push_back(static_cast<char16_t>(unitPool[random() % std::size(unitPool)]));
        }
        std::string encoded;
        Encode(CharSet::VTC_UTF_8, units, encoded);
        std::vector<char> icuBytes(units.size() * 3 + 1);
        int32_t icuBytesLength = 0;
        error = U_ZERO_ERROR;
        u_strToUTF8WithSub(icuBytes.data(), static_cast<int32_t>(icuBytes.size()), &icuBytesLength,
                           reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                           0xFFFD, nullptr, &error);
        ASSERT_TRUE(U_SUCCESS(error));
        ASSERT_EQ(Hex(encoded), Hex(std::string(icuBytes.data(), static_cast<size_t>(icuBytesLength))));
    }
}

// The automaton that guesses UTF-8 and the decoder must agree on what is well-formed.
TEST(TextConverters, DetectUTF8AgreesWithTheDecoder)
{
    VRefPtr<VToUnicodeConverter> decoder = ToUnicode(CharSet::VTC_UTF_8);
    std::vector<std::string> samples;
    for (int lead = 0x80; lead <= 0xFF; ++lead)
    {
        for (int second = 0; second <= 0xFF; ++second)
        {
            for (int third : {0x41, 0x80, 0x9F, 0xA0, 0xBF, 0xC0})
            {
                samples.push_back(Bytes({lead, second, third}));
                samples.push_back(Bytes({lead, second, third, 0x80}));
            }
        }
    }
    UniChar units[8];
    for (const std::string& bytes : samples)
    {
        size_t consumed = 0;
        int32_t produced = 0;
        bool clean = decoder->Convert(bytes.data(), bytes.size(), &consumed, units, 8, &produced);
        ASSERT_EQ(VTextConverters::DetectUTF8(bytes.data(), bytes.size()), clean) << Hex(bytes);
    }
    EXPECT_FALSE(VTextConverters::DetectUTF8("", 0));
    EXPECT_TRUE(VTextConverters::DetectUTF8("plain", 5));
}

TEST(TextConverters, GuessCharsetWithNoBom)
{
    std::string lateAccent(2100, 'a');
    lateAccent += "\xE9";
    struct Row
    {
        const char* fWhat;
        std::string fBytes;
        bool fCheckUTF8;
        CharSet fExpected;
    };
    const Row rows[] = {
        {"UTF-16 LE zero pattern", std::string("A\0B\0", 4), false, CharSet::VTC_UTF_16},
        {"UTF-16 BE zero pattern", std::string("\0A\0B", 4), false, CharSet::VTC_UTF_16_BIGENDIAN},
        {"UTF-8 text", "caf\xC3\xA9", true, CharSet::VTC_UTF_8},
        {"Latin-1 text keeps the given set", "caf\xE9 au lait", true, CharSet::VTC_ISO_8859_1},
        {"UTF-8 not checked", "caf\xC3\xA9", false, CharSet::VTC_ISO_8859_1},
        {"only the first 2048 bytes count", lateAccent, true, CharSet::VTC_UTF_8},
    };
    for (const Row& row : rows)
    {
        CharSet charSet = CharSet::VTC_ISO_8859_1;
        VTextConverters::GuessCharsetWithNoBom(row.fBytes.data(), row.fBytes.size(), charSet, row.fCheckUTF8);
        EXPECT_EQ(charSet, row.fExpected) << row.fWhat;
    }
}

TEST(TextConverters, NameLookups)
{
    struct Row
    {
        const char16_t* fName;
        CharSet fCharSet;
        int32_t fMIBEnum;
    };
    const Row rows[] = {
        {u"utf-8", CharSet::VTC_UTF_8, 106},
        {u"latin1", CharSet::VTC_ISO_8859_1, 4},
        {u"LÀTIN1", CharSet::VTC_ISO_8859_1, 4}, // accents and case do not count
        {u"Shift-JIS", CharSet::VTC_ShiftJIS, 17},
        {u"x-mac-chinesesimp", CharSet::VTC_GB2312, 2025}, // the first of its two rows
        {u"UTF-32LE", CharSet::VTC_UTF_32, 1019},
        {u"no-such-set", CharSet::VTC_UNKNOWN, 0},
        {u"", CharSet::VTC_UNKNOWN, 0},
    };
    for (const Row& row : rows)
    {
        VString name(reinterpret_cast<const UniChar*>(row.fName));
        EXPECT_EQ(VTextConverters::GetCharSetFromName(name), row.fCharSet) << Text(name).size();
        EXPECT_EQ(VTextConverters::GetMIBEnumFromName(name), row.fMIBEnum);
    }

    VString name;
    VTextConverters::GetNameFromCharSet(CharSet::VTC_UTF_32, name);
    EXPECT_EQ(Text(name), u"UCS4");
    VTextConverters::GetNameFromCharSet(CharSet::VTC_StdLib_char, name);
    EXPECT_TRUE(name.IsEmpty());
    VTextConverters::GetNameFromMIBEnum(2025, name);
    EXPECT_EQ(Text(name), u"GB2312");
    EXPECT_EQ(VTextConverters::GetMIBEnumFromCharSet(CharSet::VTC_UTF_32), 1017);
    EXPECT_EQ(VTextConverters::GetCharSetFromMIBEnum(111), CharSet::VTC_ISO_8859_15);
    EXPECT_EQ(VTextConverters::GetCharSetFromMIBEnum(424242), CharSet::VTC_UNKNOWN);

    std::vector<VString> names;
    std::vector<CharSet> charSets;
    VTextConverters::EnumCharsets(names, charSets);
    ASSERT_EQ(names.size(), charSets.size());
    ASSERT_GE(names.size(), 4u);
    // Runs of rows: UTF-32 native, big-endian, then native again under its little-endian names.
    EXPECT_EQ(Text(names[0]), u"UCS4");
    EXPECT_EQ(Text(names[1]), u"UCS4BE");
    EXPECT_EQ(Text(names[2]), u"UCS4LE");
    EXPECT_EQ(charSets[2], CharSet::VTC_UTF_32);
    EXPECT_EQ(names.size(), 50u);

    VTextConverters::EnumWebCharsets(names, charSets);
    ASSERT_EQ(names.size(), 21u);
    EXPECT_EQ(Text(names[0]), u"UTF-8");
    EXPECT_EQ(charSets.back(), CharSet::VTC_GBK);
}

// The Unicode sets of our own, through whole round trips and known byte forms.
TEST(TextConverters, UnicodeSets)
{
    const std::u16string text = u"A\u00E9\u20AC\xD83D\xDE00";
    struct Row
    {
        const char* fWhat;
        CharSet fCharSet;
        std::string fBytes;
    };
    const Row rows[] = {
        {"UTF-16 BE", CharSet::VTC_UTF_16_BIGENDIAN,
         Bytes({0x00, 0x41, 0x00, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00})},
        {"UTF-16 LE", CharSet::VTC_UTF_16,
         Bytes({0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE})},
        {"UTF-32 BE", CharSet::VTC_UTF_32_BIGENDIAN,
         Bytes({0, 0, 0, 0x41, 0, 0, 0, 0xE9, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00})},
        {"UTF-32 LE", CharSet::VTC_UTF_32,
         Bytes({0x41, 0, 0, 0, 0xE9, 0, 0, 0, 0xAC, 0x20, 0, 0, 0x00, 0xF6, 0x01, 0})},
        {"raw UTF-32 BE keeps the surrogates", CharSet::VTC_UTF_32_RAW_BIGENDIAN,
         Bytes({0, 0, 0, 0x41, 0, 0, 0, 0xE9, 0, 0, 0x20, 0xAC, 0, 0, 0xD8, 0x3D, 0, 0, 0xDE, 0x00})},
        {"raw UTF-32 LE", CharSet::VTC_UTF_32_RAW,
         Bytes({0x41, 0, 0, 0, 0xE9, 0, 0, 0, 0xAC, 0x20, 0, 0, 0x3D, 0xD8, 0, 0, 0x00, 0xDE, 0, 0})},
        {"UTF-8", CharSet::VTC_UTF_8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const Row& row : rows)
    {
        std::string bytes;
        EXPECT_TRUE(Encode(row.fCharSet, text, bytes)) << row.fWhat;
        EXPECT_EQ(Hex(bytes), Hex(row.fBytes)) << row.fWhat;
        VString decoded;
        EXPECT_TRUE(decoded.FromBlock(row.fBytes.data(), row.fBytes.size(), row.fCharSet)) << row.fWhat;
        EXPECT_EQ(Text(decoded), text) << row.fWhat;
        // A unit cut short is not text: reported, left out.
        EXPECT_FALSE(decoded.FromBlock(row.fBytes.data(), row.fBytes.size() - 1, row.fCharSet)) << row.fWhat;
    }

    struct BadRow
    {
        const char* fWhat;
        CharSet fCharSet;
        std::string fBytes;
        std::u16string fText;
    };
    const BadRow badRows[] = {
        {"UTF-32 surrogate", CharSet::VTC_UTF_32, Bytes({0x00, 0xD8, 0, 0, 0x41, 0, 0, 0}), u"?A"},
        {"UTF-32 above U+10FFFF", CharSet::VTC_UTF_32_BIGENDIAN, Bytes({0, 0x11, 0, 0, 0, 0, 0, 0x41}),
         u"?A"},
        {"raw UTF-32 above U+FFFF", CharSet::VTC_UTF_32_RAW, Bytes({0x00, 0xF6, 0x01, 0}), u"?"},
    };
    for (const BadRow& row : badRows)
    {
        VString decoded;
        EXPECT_FALSE(decoded.FromBlock(row.fBytes.data(), row.fBytes.size(), row.fCharSet)) << row.fWhat;
        EXPECT_EQ(Text(decoded), row.fText) << row.fWhat;
    }
    // A lone surrogate has no UTF-8 or UTF-32 form.
    std::string bytes;
    EXPECT_FALSE(Encode(CharSet::VTC_UTF_8, u"a\xD800z", bytes));
    EXPECT_EQ(bytes, "a\xEF\xBF\xBDz");
    EXPECT_FALSE(Encode(CharSet::VTC_UTF_32, u"\xDC00", bytes));
    EXPECT_EQ(Hex(bytes), Hex(Bytes({0xFD, 0xFF, 0, 0})));
}

// Every legacy set that ICU provides here converts a text of its script both ways and keeps it;
// the sets ICU lacks get the void converter.
TEST(TextConverters, LegacySetsRoundTrip)
{
    struct Row
    {
        CharSet fCharSet;
        const char16_t* fSample;
    };
    const Row rows[] = {
        {CharSet::VTC_UTF_7, u"Hi Mom -\u263A-! 日本語"},
        {CharSet::VTC_US_ASCII, u"plain text 123"},
        {CharSet::VTC_EBCDIC_037, u"Hello, World 123"},
        {CharSet::VTC_IBM437, u"café ñ ░"},
        {CharSet::VTC_MacRoman, u"café ™"},
        {CharSet::VTC_Win1252, u"café €"},
        {CharSet::VTC_MacCentralEurRoman, u"Łódź"},
        {CharSet::VTC_Win1250, u"Łódź"},
        {CharSet::VTC_MacCyrillic, u"Привет"},
        {CharSet::VTC_Win1251, u"Привет"},
        {CharSet::VTC_MacGreek, u"Καλημέρα"},
        {CharSet::VTC_Win1253, u"Καλημέρα"},
        {CharSet::VTC_MacTurkish, u"İstanbul ğş"},
        {CharSet::VTC_Win1254, u"İstanbul ğş"},
        {CharSet::VTC_Win1256, u"مرحبا"},
        {CharSet::VTC_Win1255, u"שלום"},
        {CharSet::VTC_MacBaltic, u"Łódź"},
        {CharSet::VTC_Win1257, u"Ąžuolas"},
        {CharSet::VTC_GBK, u"中文 text"},
        {CharSet::VTC_ShiftJIS, u"日本語テキスト"},
        {CharSet::VTC_ISO_2022_JP, u"日本語 text"},
        {CharSet::VTC_Big5, u"中文字"},
        {CharSet::VTC_EUC_KR, u"한국어"},
        {CharSet::VTC_KOI8R, u"Привет"},
        {CharSet::VTC_ISO_8859_1, u"café"},
        {CharSet::VTC_ISO_8859_2, u"Łódź"},
        {CharSet::VTC_ISO_8859_3, u"ĉu ĝi"},
        {CharSet::VTC_ISO_8859_4, u"Ąž"},
        {CharSet::VTC_ISO_8859_5, u"Привет"},
        {CharSet::VTC_ISO_8859_6, u"مرحبا"},
        {CharSet::VTC_ISO_8859_7, u"Καλημέρα"},
        {CharSet::VTC_ISO_8859_8, u"שלום"},
        {CharSet::VTC_ISO_8859_9, u"İstanbul ğş"},
        {CharSet::VTC_ISO_8859_10, u"Ŋŋ"},
        {CharSet::VTC_ISO_8859_13, u"Ąžuolas"},
        {CharSet::VTC_GB2312, u"中文 text"},
        {CharSet::VTC_GB2312_80, u"中文"},
        {CharSet::VTC_ISO_8859_15, u"œuvre €"},
        {CharSet::VTC_Windows31J, u"日本語"},
    };
    for (const Row& row : rows)
    {
        const std::u16string sample(row.fSample);
        std::string bytes;
        ASSERT_TRUE(FromUnicode(row.fCharSet)->IsValid()) << static_cast<int>(row.fCharSet);
        EXPECT_TRUE(Encode(row.fCharSet, sample, bytes)) << static_cast<int>(row.fCharSet);
        VString decoded;
        EXPECT_TRUE(decoded.FromBlock(bytes.data(), bytes.size(), row.fCharSet))
            << static_cast<int>(row.fCharSet);
        EXPECT_EQ(Text(decoded), sample) << static_cast<int>(row.fCharSet) << " " << Hex(bytes);
    }

    // The right set behind each value, not merely a consistent one.
    struct KnownRow
    {
        CharSet fCharSet;
        const char16_t* fText;
        std::string fBytes;
    };
    const KnownRow known[] = {
        {CharSet::VTC_ISO_8859_1, u"é", "\xE9"}, {CharSet::VTC_MacRoman, u"é", "\x8E"},
        {CharSet::VTC_IBM437, u"é", "\x82"},     {CharSet::VTC_EBCDIC_037, u"A", "\xC1"},
        {CharSet::VTC_Win1252, u"€", "\x80"},    {CharSet::VTC_ShiftJIS, u"日", "\x93\xFA"},
        {CharSet::VTC_KOI8R, u"П", "\xF0"},
    };
    for (const KnownRow& row : known)
    {
        std::string bytes;
        EXPECT_TRUE(Encode(row.fCharSet, row.fText, bytes));
        EXPECT_EQ(Hex(bytes), Hex(row.fBytes)) << static_cast<int>(row.fCharSet);
    }

    for (CharSet missing : {CharSet::VTC_MacArabic, CharSet::VTC_MacHebrew, CharSet::VTC_MacSimplifiedChinese,
                            CharSet::VTC_MacJapanese, CharSet::VTC_UNKNOWN, static_cast<CharSet>(4242)})
    {
        EXPECT_FALSE(ToUnicode(missing)->IsValid()) << static_cast<int>(missing);
        EXPECT_FALSE(FromUnicode(missing)->IsValid()) << static_cast<int>(missing);
        VString text(CVSTR("kept?"));
        EXPECT_FALSE(text.FromBlock("abc", 3, missing));
        EXPECT_TRUE(text.IsEmpty());
    }
}

TEST(TextConverters, LegacySubstitutionAndShortTargets)
{
    // Unmappable and malformed input is substituted and reported.
    std::string bytes;
    EXPECT_FALSE(Encode(CharSet::VTC_ISO_8859_1, u"a日b", bytes));
    EXPECT_EQ(bytes, "a?b");
    VString text;
    EXPECT_FALSE(text.FromBlock("\x81\x20", 2, CharSet::VTC_ShiftJIS));
    EXPECT_EQ(text.GetLength(), 2);

    // A target too small ends before the character that does not fit, in both directions.
    const std::string japanese = "\x93\xFA\x96\x7B"; // 日本
    VRefPtr<VToUnicodeConverter> decoder = ToUnicode(CharSet::VTC_ShiftJIS);
    UniChar units[1];
    size_t consumed = 0;
    int32_t produced = 0;
    EXPECT_FALSE(decoder->Convert(japanese.data(), japanese.size(), &consumed, units, 1, &produced));
    EXPECT_EQ(produced, 1);
    EXPECT_EQ(units[0], 0x65E5);
    EXPECT_EQ(consumed, 2u);

    VRefPtr<VFromUnicodeConverter> encoder = FromUnicode(CharSet::VTC_ShiftJIS);
    const std::u16string nihon = u"日本";
    char out[3];
    int32_t unitsConsumed = 0;
    size_t bytesProduced = 0;
    EXPECT_FALSE(encoder->Convert(reinterpret_cast<const UniChar*>(nihon.data()), 2, &unitsConsumed, out, 3,
                                  &bytesProduced));
    EXPECT_EQ(unitsConsumed, 1);
    EXPECT_EQ(bytesProduced, 2u);
}

TEST(TextConverters, CLibraryCodeset)
{
    struct Row
    {
        const char* fCodeset;
        std::string fBytes;
        std::u16string fText;
        bool fValid;
    };
    const Row rows[] = {
        {"ANSI_X3.4-1968", "caf\xC3\xA9", u"café", true}, // the C locale reads UTF-8
        {"UTF-8", "caf\xC3\xA9", u"café", true},
        {"ISO-8859-1", "caf\xE9", u"café", true},
        {"EUC-JP", "\xC6\xFC", u"日", true},
        {"NO-SUCH-CODESET", "abc", u"", false},
    };
    for (const Row& row : rows)
    {
        VFromUnicodeConverter* from = nullptr;
        VRefPtr<VToUnicodeConverter> to(
            VTextConverters::Get()->RetainConverterForCodeset(row.fCodeset, &from), true);
        VRefPtr<VFromUnicodeConverter> fromHolder(from, true);
        EXPECT_EQ(to->IsValid(), row.fValid) << row.fCodeset;
        EXPECT_EQ(from->IsValid(), row.fValid) << row.fCodeset;
        VString text;
        to->ConvertString(row.fBytes.data(), row.fBytes.size(), nullptr, text);
        EXPECT_EQ(Text(text), row.fText) << row.fCodeset;
    }

    // The process's own: this test environment runs in the C or a UTF-8 locale.
    VTextConverters::InitCharacterLocale();
    VString fromC("caf\xC3\xA9");
    EXPECT_EQ(Text(fromC), u"café");
    VString appended(CVSTR("x"));
    appended.AppendCString(" \xE2\x82\xAC");
    EXPECT_EQ(Text(appended), u"x €");
}

// Shared converters, the C library's ICU-backed pair among them, serve several threads at once.
TEST(TextConverters, SharedConvertersAcrossThreads)
{
    VFromUnicodeConverter* latinFrom = nullptr;
    VRefPtr<VToUnicodeConverter> latinTo(
        VTextConverters::Get()->RetainConverterForCodeset("ISO-8859-1", &latinFrom), true);
    VRefPtr<VFromUnicodeConverter> latinFromHolder(latinFrom, true);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                VRefPtr<VToUnicodeConverter> utf8 = ToUnicode(CharSet::VTC_UTF_8);
                for (int i = 0; i < 200; ++i)
                {
                    VString text;
                    latinTo->ConvertString("caf\xE9", 4, nullptr, text);
                    char out[8];
                    size_t produced = 0;
                    latinFrom->Convert(text.GetCPointer(), text.GetLength(), nullptr, out, sizeof(out),
                                       &produced);
                    VString other;
                    utf8->ConvertString("\xC3\xA9t\xC3\xA9", 5, nullptr, other);
                    if (Text(text) != u"café" || std::string(out, produced) != "caf\xE9" ||
                        Text(other) != u"été")
                    {
                        ++failures[static_cast<size_t>(t)];
                    }
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
