#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace zorn;
using zorn::test::Text;

namespace
{

TEST(StringNumbers, IntegerReaders)
{
    struct Row
    {
        const char* fWhat;
        const char* fText;
        int64_t fLong8;
        int32_t fLong;
    };
    const Row rows[] = {
        {"empty", "", 0, 0},
        {"plain", "42", 42, 42},
        {"other units are skipped", "12-3", 123, 123},
        {"leading minus", "-12", -12, -12},
        {"minus after a digit is skipped", "1-2", 12, 12},
        {"decimal separator ends the scan", "1.5", 1, 1},
        {"no digit", "abc", 0, 0},
        {"beyond 32 bits", "3000000000", 3000000000LL, 0},
        {"least 32-bit value", "-2147483648", -2147483648LL, INT32_MIN},
        {"64-bit arithmetic wraps", "18446744073709551617", 1, 1},
    };
    for (const Row& row : rows)
    {
        VString text(row.fText);
        EXPECT_EQ(text.GetLong8(), row.fLong8) << row.fWhat;
        EXPECT_EQ(text.GetLong(), row.fLong) << row.fWhat;
    }
}

TEST(StringNumbers, HexReader)
{
    struct Row
    {
        const char* fText;
        int64_t fExpected;
    };
    const Row rows[] = {
        {"", 0},    {"0x1F", 31}, {"0X10", 16}, {"ff", 255}, {"a-b", 0xAB}, {"0xFFFFFFFFFFFFFFFF", -1},
        {"xyz", 0},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VString(row.fText).GetHexLong(), row.fExpected) << row.fText;
    }
}

TEST(StringNumbers, RealReader)
{
    struct Row
    {
        const char* fText;
        double fExpected;
        bool fOverflow;
    };
    const Row rows[] = {
        {"1.5", 1.5, false}, {"1e3", 1000, false}, {"  -2.25x", -2.25, false},
        {"abc", 0, false},   {"", 0, false},       {"1e999", HUGE_VAL, true},
        {"1e-999", 0, true}, {"0", 0, false},      {"1,5", 1, false}, // only '.' separates decimals
    };
    for (const Row& row : rows)
    {
        VString text(row.fText);
        bool overflow = !row.fOverflow;
        EXPECT_EQ(text.GetRealCheckOverflow(&overflow), row.fExpected) << row.fText;
        EXPECT_EQ(overflow, row.fOverflow) << row.fText;
        EXPECT_EQ(text.GetReal(), row.fExpected) << row.fText;
    }
    // Units outside ASCII end the number.
    const UniChar units[] = {u'2', u'.', u'5', 0x0660, u'1'};
    EXPECT_EQ(VString(units, 5).GetReal(), 2.5);
}

TEST(StringNumbers, Writers)
{
    struct Row
    {
        const char* fWhat;
        std::function<void(VString&)> fWrite;
        std::u16string fExpected; // after "x=", which the Append forms keep and the setters drop
    };
    const double kTwoTo53 = 9007199254740992.0;
    const Row rows[] = {
        {"AppendLong least", [](VString& s) { s.AppendLong(INT32_MIN); }, u"x=-2147483648"},
        {"AppendLong greatest", [](VString& s) { s.AppendLong(INT32_MAX); }, u"x=2147483647"},
        {"AppendLong zero", [](VString& s) { s.AppendLong(0); }, u"x=0"},
        {"AppendLong8 least", [](VString& s) { s.AppendLong8(INT64_MIN); }, u"x=-9223372036854775808"},
        {"AppendLong8 greatest", [](VString& s) { s.AppendLong8(INT64_MAX); }, u"x=9223372036854775807"},
        {"AppendULong8 greatest", [](VString& s) { s.AppendULong8(UINT64_MAX); }, u"x=18446744073709551615"},
        {"AppendReal 0.1", [](VString& s) { s.AppendReal(0.1); }, u"x=0.1"},
        {"AppendReal 1e21", [](VString& s) { s.AppendReal(1e21); }, u"x=1E+21"},
        {"AppendReal -0.0", [](VString& s) { s.AppendReal(-0.0); }, u"x=-0"},
        {"AppendReal 2^53 has 14 digits", [&](VString& s) { s.AppendReal(kTwoTo53); },
         u"x=9.007199254741E+15"},
        {"AppendOsType", [](VString& s) { s.AppendOsType(MakeOsType('T', 'E', 'X', 'T')); }, u"x=TEXT"},
        {"AppendValue", [](VString& s) { s.AppendValue(VReal(2.5)); }, u"x=2.5"},
        {"FromLong", [](VString& s) { s.FromLong(-42); }, u"-42"},
        {"FromWord", [](VString& s) { s.FromWord(INT16_MIN); }, u"-32768"},
        {"FromByte", [](VString& s) { s.FromByte(INT8_MIN); }, u"-128"},
        {"FromLong8", [](VString& s) { s.FromLong8(INT64_MIN); }, u"-9223372036854775808"},
        {"FromULong8", [](VString& s) { s.FromULong8(UINT64_MAX); }, u"18446744073709551615"},
        {"FromReal", [](VString& s) { s.FromReal(1.5); }, u"1.5"},
        {"FromBoolean", [](VString& s) { s.FromBoolean(true); }, u"true"},
        {"FromOsType", [](VString& s) { s.FromOsType(MakeOsType('a', 'b', 'c', 'd')); }, u"abcd"},
        {"ToString (int)", [](VString& s) { s = ToString(-7); }, u"-7"},
        {"ToString (long long)", [](VString& s) { s = ToString(LLONG_MIN); }, u"-9223372036854775808"},
        {"ToString (unsigned long long)", [](VString& s) { s = ToString(ULLONG_MAX); },
         u"18446744073709551615"},
        {"ToString (unsigned long)", [](VString& s) { s = ToString(12UL); }, u"12"},
    };
    for (const Row& row : rows)
    {
        VString text("x=");
        row.fWrite(text);
        EXPECT_EQ(Text(text), row.fExpected) << row.fWhat;
        EXPECT_FALSE(text.IsNull()) << row.fWhat;
    }
    // A setter makes a null string a number.
    VString null(true);
    null.FromLong(3);
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(Text(null), u"3");
}

TEST(StringNumbers, FromHexLong)
{
    struct Row
    {
        const char* fWidth;
        std::function<void(VString&, int, bool)> fWrite; // the value given as int, cast to the width
        int fValue;
        const char16_t* fPlain;
        const char16_t* fPrefixed;
    };
    auto asLongLong = [](VString& s, int v, bool p) { s.FromHexLong(static_cast<long long>(v), p); };
    auto asInt = [](VString& s, int v, bool p) { s.FromHexLong(v, p); };
    auto asUChar = [](VString& s, int v, bool p) { s.FromHexLong(static_cast<unsigned char>(v), p); };
    auto asChar = [](VString& s, int v, bool p) { s.FromHexLong(static_cast<char>(v), p); };
    const Row rows[] = {
        {"64", asLongLong, 0, u"0", u"0x0000000000000000"},
        {"64", asLongLong, 10, u"A", u"0x000000000000000A"},
        {"64", asLongLong, 255, u"FF", u"0x00000000000000FF"},
        {"64", asLongLong, -1, u"FFFFFFFFFFFFFFFF", u"0xFFFFFFFFFFFFFFFF"},
        {"32", asInt, 0, u"0", u"0x00000000"},
        {"32", asInt, 10, u"A", u"0x0000000A"},
        {"32", asInt, 255, u"FF", u"0x000000FF"},
        {"32", asInt, -1, u"FFFFFFFF", u"0xFFFFFFFF"},
        {"8 unsigned", asUChar, 0, u"0", u"0x00"},
        {"8 unsigned", asUChar, 10, u"A", u"0x0A"},
        {"8 unsigned", asUChar, 255, u"FF", u"0xFF"},
        {"8 unsigned", asUChar, -1, u"FF", u"0xFF"},
        {"8 signed", asChar, 0, u"0", u"0x00"},
        {"8 signed", asChar, 10, u"A", u"0x0A"},
        {"8 signed", asChar, 255, u"FF", u"0xFF"},
        {"8 signed", asChar, -1, u"FF", u"0xFF"},
    };
    for (const Row& row : rows)
    {
        VString text("old text");
        row.fWrite(text, row.fValue, false);
        EXPECT_EQ(Text(text), row.fPlain) << row.fWidth << " bits, " << row.fValue;
        row.fWrite(text, row.fValue, true);
        EXPECT_EQ(Text(text), row.fPrefixed) << row.fWidth << " bits, " << row.fValue << ", prefixed";
    }
}

TEST(StringNumbers, FourCharacterCodes)
{
    struct Row
    {
        const char* fWhat;
        OsType fCode;
        std::u16string fAppended; // AppendOsType
        std::u16string fDecoded;  // VOsTypeString
    };
    const Row rows[] = {
        {"printable", MakeOsType('T', 'E', 'X', 'T'), u"TEXT", u"TEXT"},
        {"a byte 0x01", MakeOsType('A', '\x01', 'B', 'C'), u"ABC", u"A\u0001BC"},
        {"UTF-8 of e acute", MakeOsType('\xC3', '\xA9', 't', 'e'), u"te", u"\u00E9te"},
    };
    for (const Row& row : rows)
    {
        VString appended;
        appended.AppendOsType(row.fCode);
        EXPECT_EQ(Text(appended), row.fAppended) << row.fWhat;
        VOsTypeString decoded(row.fCode);
        EXPECT_EQ(Text(decoded), row.fDecoded) << row.fWhat;
        EXPECT_TRUE(decoded.IsInline()) << row.fWhat;
    }

    struct ReadRow
    {
        const char* fWhat;
        std::u16string fText;
        OsType fCode;
    };
    const ReadRow readRows[] = {
        {"four letters", u"TEXT", MakeOsType('T', 'E', 'X', 'T')},
        {"padded with spaces", u"ab", MakeOsType('a', 'b', ' ', ' ')},
        {"empty is four spaces", u"", MakeOsType(' ', ' ', ' ', ' ')},
        {"five bytes", u"TEXTS", 0},
        {"non-ASCII within four bytes", u"\u00E9te", MakeOsType('\xC3', '\xA9', 't', 'e')},
        {"non-ASCII beyond four bytes", u"\u00E9tes", 0},
        {"one character of four bytes", u"\U0001F600", MakeOsType('\xF0', '\x9F', '\x98', '\x80')},
    };
    for (const ReadRow& row : readRows)
    {
        VString text(reinterpret_cast<const UniChar*>(row.fText.data()),
                     static_cast<int32_t>(row.fText.size()));
        EXPECT_EQ(text.GetOsType(), row.fCode) << row.fWhat;
    }
}

TEST(StringNumbers, ParseInt)
{
    struct Row
    {
        const char* fWhat;
        std::u16string fText;
        int32_t fRadix;
        double fExpected; // NaN: NaN
    };
    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"radix 0 reads a 0x prefix after white space", u"  0x1F", 0, 31},
        {"radix 10 stops at the first non-digit", u"12abc", 10, 12},
        {"radix 37", u"12", 37, kNaN},
        {"radix 1", u"1", 1, kNaN},
        {"negative radix 2", u"-101", 2, -5},
        {"sign then a bare prefix", u"+0x", 0, kNaN},
        {"a bare prefix", u"0x", 0, kNaN},
        {"radix 16 skips its prefix", u"0Xff", 16, 255},
        {"radix 36", u"zz", 36, 1295},
        {"upper-case digits", u"ZZ", 36, 1295},
        {"a digit at the radix ends the number", u"129", 2, 1},
        {"first unit not a digit", u"9", 8, kNaN},
        {"empty", u"", 10, kNaN},
        {"spaces only", u"   ", 0, kNaN},
        {"tab, no-break space and ideographic space are white", u"\t\u00A0\u3000-7", 0, -7},
        {"a space after the sign", u"- 7", 0, kNaN},
        {"radix 0 without a prefix is 10", u"017", 0, 17},
        {"beyond 2^64 stays a double", u"18446744073709551616", 10, 18446744073709551616.0},
    };
    for (const Row& row : rows)
    {
        VString text(reinterpret_cast<const UniChar*>(row.fText.data()),
                     static_cast<int32_t>(row.fText.size()));
        double value = text.ParseInt(row.fRadix);
        if (std::isnan(row.fExpected))
        {
            EXPECT_TRUE(std::isnan(value)) << row.fWhat << ": " << value;
        }
        else
        {
            EXPECT_EQ(value, row.fExpected) << row.fWhat;
        }
    }
    double minusZero = VString("-0").ParseInt(10);
    EXPECT_EQ(minusZero, 0);
    EXPECT_TRUE(std::signbit(minusZero)) << "-0 keeps its sign";
    EXPECT_TRUE(std::isnan(VString(true).ParseInt(10))) << "null string";
}

TEST(StringNumbers, WordAndBooleanReaders)
{
    EXPECT_EQ(VString("70000").GetWord(), 0);
    EXPECT_EQ(VString("-32768").GetWord(), INT16_MIN);
    EXPECT_EQ(VString("32767").GetWord(), INT16_MAX);

    // Without international settings only the exact word is true.
    EXPECT_TRUE(VString("true").GetBoolean());
    EXPECT_FALSE(VString("TRUE").GetBoolean());
    EXPECT_FALSE(VString("1").GetBoolean());

    test::StIntlTestProcess process(1033);
    struct Row
    {
        const char* fText;
        bool fExpected;
    };
    const Row rows[] = {{"TRUE", true}, {"true", true}, {"True", true},
                        {"1", false},   {"", false},    {"truer", false}};
    for (const Row& row : rows)
    {
        EXPECT_EQ(VString(row.fText).GetBoolean(), row.fExpected) << row.fText;
    }
}

TEST(StringNumbers, SettersKeepASmallOwnBufferAndGiveUpOthers)
{
    // A 20-unit heap buffer of its own is written in place.
    VString own;
    ASSERT_TRUE(own.EnsureSize(20));
    const UniChar* buffer = own.GetCPointer();
    ASSERT_FALSE(own.IsInline());
    own.FromLong(123);
    EXPECT_EQ(own.GetCPointer(), buffer);
    EXPECT_EQ(Text(own), u"123");

    // A shared buffer is given up, and the other holder keeps its text.
    VString shared;
    ASSERT_TRUE(shared.EnsureSize(20));
    shared.FromCString("shared text");
    VString holder(shared);
    ASSERT_EQ(holder.GetCPointer(), shared.GetCPointer());
    shared.FromLong(7);
    EXPECT_NE(shared.GetCPointer(), holder.GetCPointer());
    EXPECT_EQ(Text(shared), u"7");
    EXPECT_EQ(Text(holder), u"shared text");

    // A big buffer of its own is given up too.
    VString big;
    ASSERT_TRUE(big.EnsureSize(100));
    big.FromReal(0.5);
    EXPECT_TRUE(big.IsInline() || big.GetCapacity() < 33);
    EXPECT_EQ(Text(big), u"0.5");
}

TEST(StringNumbers, UTF8Bytes)
{
    EXPECT_EQ(to_string(VString()), "");
    EXPECT_EQ(to_string(VString("caf\xC3\xA9")), "caf\xC3\xA9");
    // Long text goes the other way through the converter.
    std::u16string longText(300, u'\u20AC');
    VString euros(reinterpret_cast<const UniChar*>(longText.data()), static_cast<int32_t>(longText.size()));
    std::string expected;
    for (int i = 0; i < 300; ++i)
    {
        expected += "\xE2\x82\xAC";
    }
    EXPECT_EQ(to_string(euros), expected);
}

TEST(StringNumbers, ConversionsWithOtherKinds)
{
    // Another kind reads the text by its own FromString, and gives its text to FromValue.
    VLong number;
    VString("123").GetValue(number);
    EXPECT_EQ(number.GetLong(), 123);
    VString text;
    text.FromValue(VReal(0.25));
    EXPECT_EQ(Text(text), u"0.25");
    text.FromValue(VBoolean(true));
    EXPECT_EQ(Text(text), u"true");
    VString null(true);
    text.FromValue(null);
    EXPECT_TRUE(text.IsNull());

    // The value-model getters of kind 10.
    const VValueSingle& value = VString("70000");
    EXPECT_EQ(value.GetWord(), 0);
    EXPECT_EQ(value.GetLong(), 70000);
    EXPECT_FALSE(value.GetBoolean());
}

} // namespace
