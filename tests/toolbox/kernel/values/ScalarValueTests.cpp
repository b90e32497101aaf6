#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VCompareOptions.h"
#include "toolbox/kernel/values/VReal.h"
#include "toolbox/kernel/values/VScalarValues.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

// The JSON library is above the kernel; these tests stand in for its values through the kernel
// hooks, as the library does when it starts.
namespace zorn
{
class VJSONValue
{
public:
    enum Type
    {
        kNull,
        kBool,
        kNumber,
        kUnset
    };
    Type fType = kUnset;
    double fNumber = 0;
    bool fBool = false;
};
} // namespace zorn

using namespace zorn;

namespace
{

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Text(const VString& inString)
{
    std::string text;
    for (int32_t i = 0; i < inString.GetLength(); ++i)
    {
        UniChar unit = inString.GetCPointer()[i];
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

std::string TextOf(const VValueSingle& inValue)
{
    VString text;
    inValue.GetString(text);
    return Text(text);
}

TEST(ScalarValues, KindsAreRegisteredAndGenerateZeroValues)
{
    for (ValueKind kind : {VK_EMPTY, VK_BOOLEAN, VK_BYTE, VK_WORD, VK_LONG, VK_LONG8, VK_REAL})
    {
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
        ASSERT_NE(value, nullptr) << kind;
        EXPECT_EQ(value->GetValueKind(), kind);
        EXPECT_EQ(value->IsVValueSingle()->GetReal(), 0.0) << kind;
        EXPECT_EQ(value->IsNull(), kind == VK_EMPTY) << kind;
    }
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_REAL), &VReal::Info());
}

// Every scalar converted to every other kind through ConvertTo (the target's setter of the
// source's type), overflow and NaN included.
TEST(ScalarValues, ConversionsBetweenKinds)
{
    struct Row
    {
        const char* fWhat;
        std::function<VValueSingle*()> fSource;
        ValueKind fTarget;
        double fExpected; // the converted value's GetReal
    };
    const Row rows[] = {
        {"real 3.9 to long truncates toward zero", [] { return new VReal(3.9); }, VK_LONG, 3},
        {"real -3.9 to long truncates toward zero", [] { return new VReal(-3.9); }, VK_LONG, -3},
        {"real NaN to long is 0", [] { return new VReal(kNaN); }, VK_LONG, 0},
        {"real NaN to long8 is 0", [] { return new VReal(kNaN); }, VK_LONG8, 0},
        {"real infinity to long8 is 0", [] { return new VReal(kInf); }, VK_LONG8, 0},
        {"real -infinity to word is 0", [] { return new VReal(-kInf); }, VK_WORD, 0},
        {"real 3e9 overflows a long: 0", [] { return new VReal(3e9); }, VK_LONG, 0},
        {"real 3e9 fits a long8", [] { return new VReal(3e9); }, VK_LONG8, 3e9},
        {"real 1e19 overflows a long8: 0", [] { return new VReal(1e19); }, VK_LONG8, 0},
        {"real -2^63 fits a long8", [] { return new VReal(-0x1p63); }, VK_LONG8, -0x1p63},
        {"real 127.9 to byte", [] { return new VReal(127.9); }, VK_BYTE, 127},
        {"real 128 overflows a byte: 0", [] { return new VReal(128); }, VK_BYTE, 0},
        {"real -128.9 to byte", [] { return new VReal(-128.9); }, VK_BYTE, -128},
        {"real 40000 overflows a word: 0", [] { return new VReal(40000); }, VK_WORD, 0},
        {"real NaN is true", [] { return new VReal(kNaN); }, VK_BOOLEAN, 1},
        {"real -0.0 is false", [] { return new VReal(-0.0); }, VK_BOOLEAN, 0},
        {"real 0.25 is true", [] { return new VReal(0.25); }, VK_BOOLEAN, 1},
        {"long8 2^32 + 5 to long keeps the low bits", [] { return new VLong8(int64_t{0x100000005}); },
         VK_LONG, 5},
        {"long 300 to byte keeps the low byte", [] { return new VLong(300); }, VK_BYTE, 44},
        {"long 40000 to word wraps", [] { return new VLong(40000); }, VK_WORD, -25536},
        {"word -2 to long8 keeps the sign", [] { return new VWord(int16_t{-2}); }, VK_LONG8, -2},
        {"byte -1 is true", [] { return new VByte(int8_t{-1}); }, VK_BOOLEAN, 1},
        {"long 0 is false", [] { return new VLong(0); }, VK_BOOLEAN, 0},
        {"boolean true to real", [] { return new VBoolean(true); }, VK_REAL, 1},
        {"boolean true to byte", [] { return new VBoolean(true); }, VK_BYTE, 1},
        {"long8 2^53 + 1 to real rounds", [] { return new VLong8(int64_t{9007199254740993}); }, VK_REAL,
         9007199254740992.0},
        {"long8 to empty stays empty", [] { return new VLong8(int64_t{5}); }, VK_EMPTY, 0},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValueSingle> source(row.fSource());
        std::unique_ptr<VValueSingle> converted(source->ConvertTo(row.fTarget));
        ASSERT_NE(converted, nullptr) << row.fWhat;
        EXPECT_EQ(converted->GetValueKind(), row.fTarget) << row.fWhat;
        EXPECT_EQ(converted->GetReal(), row.fExpected) << row.fWhat;
        EXPECT_EQ(converted->IsNull(), row.fTarget == VK_EMPTY) << row.fWhat;
    }
}

TEST(ScalarValues, GettersConvertLikeSetters)
{
    VReal real(-300.75);
    EXPECT_EQ(real.GetLong(), -300);
    EXPECT_EQ(real.GetWord(), -300);
    EXPECT_EQ(real.GetByte(), 0); // out of the byte's range
    EXPECT_TRUE(real.GetBoolean());
    VLong8 big(int64_t{0x123456789});
    EXPECT_EQ(big.GetLong(), 0x23456789);
    EXPECT_EQ(big.GetWord(), 0x6789);
    EXPECT_EQ(big.GetByte(), int8_t(0x89));
    VBoolean boolean(true);
    EXPECT_EQ(boolean.GetLong8(), 1);
}

TEST(ScalarValues, NullStateAndFlags)
{
    VLong value(5);
    value.SetNull(true);
    value.SetDirty(false);
    std::unique_ptr<VValueSingle> converted(value.ConvertTo(VK_REAL));
    EXPECT_TRUE(converted->IsNull());
    EXPECT_EQ(converted->GetReal(), 5.0);

    std::unique_ptr<VValue> clone(value.Clone());
    EXPECT_TRUE(clone->IsNull());
    EXPECT_TRUE(clone->IsDirty());

    value.Clear();
    EXPECT_FALSE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());
    EXPECT_EQ(value.GetLong(), 0);

    VReal real;
    real.SetNull(true);
    real.FromLong(3);
    EXPECT_FALSE(real.IsNull());
    EXPECT_EQ(real.GetReal(), 3.0);

    VEmpty empty;
    empty.Clear();
    EXPECT_TRUE(empty.IsNull());
    EXPECT_EQ(empty.CompareTo(VLong(1)), CR_SMALLER);

    // Reading a string takes its null state; a null string leaves a long8's datum alone.
    VString nullString(true);
    VLong8 long8(int64_t{42});
    long8.FromString(nullString);
    EXPECT_TRUE(long8.IsNull());
    EXPECT_EQ(long8.GetLong8(), 42);
}

TEST(ScalarValues, RawMemoryForms)
{
    const int16_t word = 0x0102;
    VWord fromStorage(&word, false);
    EXPECT_EQ(fromStorage.GetWord(), 0x0102);
    VWord initialised(&word, true);
    EXPECT_EQ(initialised.GetWord(), 0);

    unsigned char raw[8];
    VReal real(2.5);
    EXPECT_EQ(real.WriteToPtr(raw), raw + 8);
    std::unique_ptr<VValue> loaded(VReal::Info().LoadFromPtr(raw, false));
    EXPECT_EQ(loaded->IsVValueSingle()->GetReal(), 2.5);
    EXPECT_EQ(VReal::Info().GetSizeOfValueDataPtr(raw), 8u);

    unsigned char rawLong[4];
    VLong(0x01020304).WriteToPtr(rawLong);
    EXPECT_EQ(VLong::Info().ByteSwapPtr(rawLong, true), rawLong + 4);
    int32_t swapped;
    std::memcpy(&swapped, rawLong, 4);
    EXPECT_EQ(swapped, 0x04030201);

    const unsigned char seven = 7;
    VBoolean boolean;
    boolean.SetNull(true);
    EXPECT_EQ(boolean.LoadFromPtr(&seven), &seven + 1);
    EXPECT_FALSE(boolean.IsNull());
    EXPECT_EQ(boolean.GetLong(), 1);
}

TEST(ScalarValues, RealComparisons)
{
    struct Row
    {
        const char* fWhat;
        double fA;
        double fB;
        CompareResult fExpected;
    };
    const Row rows[] = {
        {"within 1e-6", 1.0, 1.0000005, CR_EQUAL},
        {"beyond 1e-6", 1.0, 1.00001, CR_SMALLER},
        {"bigger", 2.0, 1.0, CR_BIGGER},
        {"NaN before numbers", kNaN, -kInf, CR_SMALLER},
        {"numbers after NaN", 1.0, kNaN, CR_BIGGER},
        {"two NaNs", kNaN, kNaN, CR_EQUAL},
        {"equal infinities", kInf, kInf, CR_EQUAL},
        {"opposite infinities", -kInf, kInf, CR_SMALLER},
    };
    for (const Row& row : rows)
    {
        VReal a(row.fA);
        VReal b(row.fB);
        EXPECT_EQ(a.CompareToSameKind(&b), row.fExpected) << row.fWhat;
        EXPECT_EQ(a.CompareTo(b), row.fExpected) << row.fWhat;
        EXPECT_EQ(a.CompareToSameKindPtr(&row.fB), row.fExpected) << row.fWhat;
        EXPECT_EQ(b.CompareToSameKind(&a), VValue::InvertCompResult(row.fExpected)) << row.fWhat;
        EXPECT_EQ(VReal::Info().CompareTwoPtrToData(&row.fA, &row.fB), row.fExpected) << row.fWhat;
    }

    VCompareOptions options;
    options.SetEpsilon(0.1);
    VReal one(1.0);
    VReal near(1.05);
    const double oneData = 1.0;
    const double nearData = 1.05;
    EXPECT_EQ(one.CompareToSameKindWithOptions(&near, options), CR_EQUAL);
    EXPECT_EQ(VReal::Info().CompareTwoPtrToDataWithOptions(&oneData, &nearData, options), CR_EQUAL);
    options.SetDiacritical(true);
    EXPECT_EQ(VReal::Info().CompareTwoPtrToDataWithOptions(&oneData, &nearData, options), CR_SMALLER);
    const double close = 1.0000005;
    EXPECT_EQ(VReal::Info().CompareTwoPtrToData(&oneData, &close, true), CR_SMALLER);
}

TEST(ScalarValues, IntegerComparisons)
{
    EXPECT_EQ(VLong(5).CompareTo(VReal(5.4)), CR_EQUAL); // the real read as a long
    EXPECT_EQ(VLong(-5).CompareToSameKind(std::make_unique<VLong>(3).get()), CR_SMALLER);
    EXPECT_EQ(VBoolean(false).CompareTo(VBoolean(true)), CR_SMALLER);
    EXPECT_EQ(VByte(int8_t{-1}).CompareTo(VLong(255)), CR_EQUAL); // 255 read as a byte is -1
    const int64_t big = int64_t{1} << 40;
    EXPECT_EQ(VLong8(big + 1).CompareToSameKindPtr(&big), CR_BIGGER);
    EXPECT_TRUE(VWord(int16_t{7}).EqualToSameKind(std::make_unique<VWord>(int16_t{7}).get()));
}

TEST(ScalarValues, TextForms)
{
    struct Row
    {
        const char* fWhat;
        std::function<VValueSingle*()> fValue;
        const char* fText;
    };
    const Row rows[] = {
        {"long", [] { return new VLong(-42); }, "-42"},
        {"least long8", [] { return new VLong8(std::numeric_limits<int64_t>::min()); },
         "-9223372036854775808"},
        {"byte", [] { return new VByte(int8_t{-128}); }, "-128"},
        {"boolean", [] { return new VBoolean(true); }, "true"},
        {"real", [] { return new VReal(0.1); }, "0.1"},
        {"real with exponent", [] { return new VReal(1.5e-7); }, "1.5E-07"},
        {"real NaN", [] { return new VReal(kNaN); }, "NAN"},
        {"real -infinity", [] { return new VReal(-kInf); }, "-INF"},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValueSingle> value(row.fValue());
        EXPECT_EQ(TextOf(*value), row.fText) << row.fWhat;
        std::unique_ptr<VValueSingle> asString(value->ConvertTo(VK_STRING));
        EXPECT_EQ(TextOf(*asString), row.fText) << row.fWhat;
        VString fromValue;
        fromValue.FromValue(*value);
        EXPECT_EQ(Text(fromValue), row.fText) << row.fWhat;
    }
}

TEST(ScalarValues, RealXMLAndJSONTexts)
{
    struct Row
    {
        double fValue;
        const char* fXML;
        const char* fJSON;
    };
    const Row rows[] = {
        {1e300, "1E+300", "1E+300"},
        {0.1, "0.1", "0.1"},
        {9007199254740991.0, "9007199254740991", "9007199254740991"},
        {9007199254740992.0, "9007199254740992", "9007199254740992"},
        {9007199254740994.0, "9007199254740994", "9007199254740994"},
        {0.0, "0", "0"},
        {-0.0, "-0", "-0"},
        {-12.0, "-12", "-12"},
        {-7.0, "-7", "-7"},
        {100.0, "100", "100"},
        {1234567.0, "1234567", "1234567"},
        {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
        {900719925474090.1, "900719925474090.1", "900719925474090.1"},
        {5e-324, "5E-324", "5E-324"},
        {-2.2250738585072014e-308, "-2.2250738585072014E-308", "-2.2250738585072014E-308"},
        {1.7976931348623157e308, "1.7976931348623157E+308", "1.7976931348623157E+308"},
        {1.5e-7, "1.5E-07", "1.5E-07"},
        {1e21, "1E+21", "1E+21"},
        {kNaN, "NaN", "null"},
        {kInf, "INF", "null"},
        {-kInf, "-INF", "null"},
    };
    for (const Row& row : rows)
    {
        VString xml;
        VString json;
        VReal::RealToXMLString(row.fValue, xml);
        VReal::RealToJSONString(row.fValue, json);
        EXPECT_EQ(Text(xml), row.fXML) << row.fXML;
        EXPECT_EQ(Text(json), row.fJSON) << row.fJSON;
    }
}

// The data forms are no copies unless every finite double reads back bit for bit, and no more
// than 17 significant digits are ever needed.
TEST(ScalarValues, RealDataFormsReadBackExactly)
{
    std::mt19937_64 random(20261211);
    for (int i = 0; i < 50000; ++i)
    {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value))
        {
            continue;
        }
        VString json;
        VString xml;
        VReal::RealToJSONString(value, json);
        VReal::RealToXMLString(value, xml);
        ASSERT_EQ(std::bit_cast<uint64_t>(json.GetReal()), std::bit_cast<uint64_t>(value)) << Text(json);
        VReal back;
        ASSERT_TRUE(back.FromXMLString(xml)) << Text(xml);
        ASSERT_EQ(std::bit_cast<uint64_t>(back.GetReal()), std::bit_cast<uint64_t>(value)) << Text(xml);
        ASSERT_LE(json.GetLength(), 24) << Text(json);
    }
}

// The "%.14G" text is built from the shortest digits that read back, rounded to 14: it must be the
// C library's own on numbers of every magnitude (random bit patterns), on decimals of 15 to 17
// digits (the rounding), on exact 15-digit midpoints, and where rounding carries through nines.
TEST(ScalarValues, RealTextIsTheCLibrarysG14Form)
{
    std::vector<double> values = {0.1,
                                  1e-5,
                                  1e-4,
                                  0.00012345678901234,
                                  99999999999999.5,
                                  9.99999999999995,
                                  1.00000000000005,
                                  999999999999999.0,
                                  1e14,
                                  1e15,
                                  123456789012345.0,
                                  -2.5e-300,
                                  5e-324,
                                  std::numeric_limits<double>::max(),
                                  1e22,
                                  1e21,
                                  -1.5};
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 30000; ++i)
    {
        const double fromBits = std::bit_cast<double>(random());
        if (std::isfinite(fromBits))
        {
            values.push_back(fromBits);
        }
        // 15 to 17 significant digits, then a 14-digit mantissa with a final 5 (a midpoint), at
        // exponents around the switch between the fixed and exponential forms.
        const int exponent = static_cast<int>(random() % 40) - 20;
        char text[64];
        std::snprintf(text, sizeof(text), "%.*fe%d", 14 + static_cast<int>(random() % 3),
                      1 + static_cast<double>(random() % 9000000) / 1000000.0, exponent);
        values.push_back(std::strtod(text, nullptr));
        std::snprintf(text, sizeof(text), "%llu.%013llu5e%d",
                      static_cast<unsigned long long>(1 + random() % 9),
                      static_cast<unsigned long long>(random() % 10000000000000ULL), exponent);
        values.push_back(std::strtod(text, nullptr));
    }
    int mismatches = 0;
    for (double value : values)
    {
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%.14G", value);
        VString text;
        VReal(value).GetString(text);
        if (Text(text) != expected && ++mismatches <= 5)
        {
            ADD_FAILURE() << std::bit_cast<uint64_t>(value) << ": " << Text(text) << " instead of "
                          << expected;
        }
    }
    EXPECT_EQ(0, mismatches);

    // Integers within 2^53 in integer form, of every digit count.
    for (int i = 0; i < 20000; ++i)
    {
        const auto integer = static_cast<int64_t>(random() >> (11 + random() % 53)) * (i % 2 == 0 ? 1 : -1);
        VString json;
        VReal::RealToJSONString(static_cast<double>(integer), json);
        ASSERT_EQ(Text(json), std::to_string(integer));
    }
}

TEST(ScalarValues, ReadingXMLText)
{
    struct Row
    {
        const char* fText;
        bool fAccepted;
        double fValue; // when accepted
    };
    const Row realRows[] = {
        {"1.5", true, 1.5}, {"1,5", true, 1.5}, {"-2E3", true, -2000}, {"INF", true, kInf},
        {"1.5x", false, 0}, {"", false, 0},     {"x", false, 0},
    };
    for (const Row& row : realRows)
    {
        VReal real(7.0);
        EXPECT_EQ(real.FromXMLString(VString(row.fText)), row.fAccepted) << row.fText;
        EXPECT_EQ(real.GetReal(), row.fAccepted ? row.fValue : 7.0) << row.fText;
    }
    VReal real(7.0);
    EXPECT_FALSE(real.FromXMLString(VString(std::string(255, '1').c_str())));
    EXPECT_TRUE(real.FromXMLString(VString(std::string(254, '1').c_str())));
    const UniChar accented[] = {'1', 0xE9, 0};
    EXPECT_FALSE(real.FromXMLString(VString(accented)));

    const Row booleanRows[] = {
        {"1", true, 1},     {"0", true, 0},     {"true", true, 1},
        {"false", true, 0}, {"TRUE", false, 0}, {"yes", false, 0},
    };
    for (const Row& row : booleanRows)
    {
        VBoolean boolean(true);
        boolean.SetNull(true);
        EXPECT_EQ(boolean.FromXMLString(VString(row.fText)), row.fAccepted) << row.fText;
        EXPECT_EQ(boolean.GetReal(), row.fAccepted ? row.fValue : 1.0) << row.fText;
        EXPECT_EQ(boolean.IsNull(), !row.fAccepted) << row.fText;
    }
    VBoolean boolean(true);
    boolean.SetNull(true);
    EXPECT_EQ(boolean.FromJSONString(VString("TRUE")), VE_OK);
    EXPECT_FALSE(boolean.GetBoolean());
    EXPECT_FALSE(boolean.IsNull());
}

TEST(RealText, ToStringInARadix)
{
    struct Row
    {
        double fValue;
        int32_t fRadix;
        const char* fText;
    };
    const Row rows[] = {
        {1.0, 1, ""},
        {1.0, 37, ""},
        {0.0, 2, "0"},
        {-0.0, 36, "0"},
        {kNaN, 10, "NaN"},
        {kInf, 16, "Infinity"},
        {-kInf, 10, "-Infinity"},
        {255.5, 16, "ff.8"},
        {-255.5, 16, "-ff.8"},
        {255.0, 0, "255"},
        {0.1, 2, "0.0001100110011001100110011001100110011001100110011001101"},
        {0.1, 16, "0.1999999999999a"},
        {0.5, 3, "0.1111111111111111111111111111111112"},
        {35.0, 36, "z"},
        {123.456, 10, "123.456"},
        {1e21, 10, "1e+21"},
        {1e20, 10, "100000000000000000000"},
        {1e-7, 10, "1e-7"},
        {0.000001, 10, "0.000001"},
        {-1.5e-10, 10, "-1.5e-10"},
        {1.2345e25, 10, "1.2345e+25"},
        {9007199254740992.0, 10, "9007199254740992"},
        {5e-324, 10, "5e-324"},
        {1e21, 16, "3635c9adc5dea00000"},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Text(VReal(row.fValue).ToString(row.fRadix)), row.fText)
            << row.fValue << " radix " << row.fRadix;
    }
}

// Reads radix text of a power-of-two radix exactly: the significant digits form an integer of at
// most 64 bits, scaled by a power of two, rounded once to a double.
bool ReadPowerOfTwoRadix(const std::string& inDigits, int inPointPosition, int inRadix, double& outValue)
{
    int bitsPerDigit = std::countr_zero(static_cast<unsigned>(inRadix));
    uint64_t mantissa = 0;
    for (char c : inDigits)
    {
        int digit = c <= '9' ? c - '0' : c - 'a' + 10;
        if (mantissa >> (64 - bitsPerDigit) != 0)
        {
            return false;
        }
        mantissa = (mantissa << bitsPerDigit) | static_cast<uint64_t>(digit);
    }
    int exponent = (inPointPosition - static_cast<int>(inDigits.size())) * bitsPerDigit;
    outValue = static_cast<double>(std::ldexp(static_cast<long double>(mantissa), exponent));
    return true;
}

// The digits one place shorter nearest to a digit string: truncated, and one unit either side.
std::vector<std::pair<std::string, int>> ShorterNeighbours(const std::string& inDigits, int inPoint,
                                                           int inRadix)
{
    std::vector<std::pair<std::string, int>> neighbours;
    if (inDigits.size() < 2)
    {
        return neighbours;
    }
    std::string truncated = inDigits.substr(0, inDigits.size() - 1);
    neighbours.emplace_back(truncated, inPoint);
    auto digitOf = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    auto charOf = [](int d) { return "0123456789abcdefghijklmnopqrstuvwxyz"[d]; };
    std::string up = truncated;
    int point = inPoint;
    size_t i = up.size();
    while (i > 0 && digitOf(up[i - 1]) == inRadix - 1)
    {
        up[--i] = '0';
    }
    if (i == 0)
    {
        up.insert(up.begin(), '1');
        ++point;
    }
    else
    {
        up[i - 1] = charOf(digitOf(up[i - 1]) + 1);
    }
    neighbours.emplace_back(up, point);
    std::string down = truncated;
    i = down.size();
    while (i > 0 && down[i - 1] == '0')
    {
        down[--i] = charOf(inRadix - 1);
    }
    if (i > 0)
    {
        down[i - 1] = charOf(digitOf(down[i - 1]) - 1);
        neighbours.emplace_back(down, inPoint);
    }
    return neighbours;
}

TEST(RealText, PowerOfTwoRadixTextIsShortestAndReadsBackExactly)
{
    std::mt19937_64 random(20240611);
    for (int radix : {2, 16})
    {
        for (int i = 0; i < 1500; ++i)
        {
            double value = std::bit_cast<double>(random() & ~(uint64_t{1} << 63));
            if (!std::isfinite(value) || value == 0)
            {
                continue;
            }
            std::string digits;
            int point = 0;
            detail::DoubleToRadixDigits(value, radix, digits, point);
            double readBack = 0;
            ASSERT_TRUE(ReadPowerOfTwoRadix(digits, point, radix, readBack)) << digits;
            ASSERT_EQ(readBack, value) << "radix " << radix << ": " << digits << " point " << point;
            for (const auto& [shorter, shorterPoint] : ShorterNeighbours(digits, point, radix))
            {
                double other = 0;
                if (ReadPowerOfTwoRadix(shorter, shorterPoint, radix, other))
                {
                    EXPECT_NE(other, value)
                        << "radix " << radix << ": " << shorter << " is shorter than " << digits;
                }
            }
        }
    }
}

TEST(RealText, DecimalTextReadsBackAndExactDigitsMatchTheStandardLibrary)
{
    std::mt19937_64 random(7);
    for (int i = 0; i < 1500; ++i)
    {
        double value = std::bit_cast<double>(random() & ~(uint64_t{1} << 63));
        if (!std::isfinite(value) || value == 0)
        {
            continue;
        }
        VReal real(value);
        std::string text = Text(real.ToString(10));
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;

        std::string standard;
        int standardPoint = 0;
        detail::DoubleToRadixDigits(value, 10, standard, standardPoint);
        std::string exact;
        int exactPoint = 0;
        detail::DoubleToRadixDigitsExact(value, 10, exact, exactPoint);
        EXPECT_EQ(exact, standard) << text;
        EXPECT_EQ(exactPoint, standardPoint) << text;
    }
}

TEST(RealText, StoredDecimals)
{
    auto record = [](int32_t inExponent, uint8_t inSign, int32_t inDigitCount, std::vector<uint8_t> inPairs)
    {
        std::vector<uint8_t> bytes(9);
        std::memcpy(bytes.data(), &inExponent, 4);
        bytes[4] = inSign;
        std::memcpy(bytes.data() + 5, &inDigitCount, 4);
        bytes.insert(bytes.end(), inPairs.begin(), inPairs.end());
        return bytes;
    };
    struct Row
    {
        const char* fWhat;
        std::vector<uint8_t> fBytes;
        double fExpected; // NaN: malformed
    };
    const Row rows[] = {
        {"1.5", record(0, 1, 2, {15}), 1.5},
        {"-1.25E+2 (the vector of the header)", record(2, 255, 3, {12, 50}), -125},
        {"3E-2", record(-2, 1, 1, {30}), 0.03},
        {"zero", record(7, 0, 0, {}), 0},
        {"a digit byte above 99", record(0, 1, 2, {100}), kNaN},
        {"a sign out of range", record(0, 2, 2, {15}), kNaN},
        {"no digit", record(0, 1, 0, {}), kNaN},
        {"more digits than data", record(0, 1, 2000000000, {15}), kNaN},
        {"a negative digit count", record(0, 1, -4, {15}), kNaN},
        {"shorter than the header", {1, 0, 0}, kNaN},
    };
    for (const Row& row : rows)
    {
        double value = VReal::MAPM_FloatToReal(row.fBytes.data(), row.fBytes.size());
        if (std::isnan(row.fExpected))
        {
            EXPECT_TRUE(std::isnan(value)) << row.fWhat;
        }
        else
        {
            EXPECT_EQ(value, row.fExpected) << row.fWhat;
        }
    }
}

// Installs JSON hooks over the stand-in JSON value for the life of a test.
class ScalarJSON : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto& hooks = detail::KernelHooks();
        fSaved[0] = reinterpret_cast<void*>(
            hooks.fSetJSONNull.exchange([](VJSONValue& v) { v.fType = VJSONValue::kNull; }));
        fSaved[1] = reinterpret_cast<void*>(hooks.fSetJSONNumber.exchange(
            [](VJSONValue& v, double n)
            {
                v.fType = VJSONValue::kNumber;
                v.fNumber = n;
            }));
        fSaved[2] = reinterpret_cast<void*>(hooks.fSetJSONBool.exchange(
            [](VJSONValue& v, bool b)
            {
                v.fType = VJSONValue::kBool;
                v.fBool = b;
            }));
        fSaved[3] = reinterpret_cast<void*>(hooks.fGetJSONScalar.exchange(
            [](const VJSONValue& v, detail::JSONScalar& out)
            {
                out.fIsNull = v.fType == VJSONValue::kNull;
                out.fNumber = v.fType == VJSONValue::kBool ? (v.fBool ? 1 : 0) : v.fNumber;
                out.fBool = v.fType == VJSONValue::kBool ? v.fBool : v.fNumber != 0;
            }));
    }
    void TearDown() override
    {
        auto& hooks = detail::KernelHooks();
        hooks.fSetJSONNull = reinterpret_cast<void (*)(VJSONValue&)>(fSaved[0]);
        hooks.fSetJSONNumber = reinterpret_cast<void (*)(VJSONValue&, double)>(fSaved[1]);
        hooks.fSetJSONBool = reinterpret_cast<void (*)(VJSONValue&, bool)>(fSaved[2]);
        hooks.fGetJSONScalar = reinterpret_cast<void (*)(const VJSONValue&, detail::JSONScalar&)>(fSaved[3]);
    }
    static VJSONValue Number(double inNumber)
    {
        VJSONValue value;
        value.fType = VJSONValue::kNumber;
        value.fNumber = inNumber;
        return value;
    }
    void* fSaved[4] = {};
};

TEST_F(ScalarJSON, IntegersTakeTheFloorWhenItFits)
{
    struct Row
    {
        const char* fWhat;
        ValueKind fKind;
        double fNumber;
        double fExpected;
    };
    const Row rows[] = {
        {"3.7 to long", VK_LONG, 3.7, 3},
        {"-3.2 to long", VK_LONG, -3.2, -4},
        {"3e10 overflows a long", VK_LONG, 3e10, 0},
        {"3e10 fits a long8", VK_LONG8, 3e10, 3e10},
        {"NaN to long8", VK_LONG8, kNaN, 0},
        {"-128.5 below a byte", VK_BYTE, -128.5, 0},
        {"-127.5 to byte", VK_BYTE, -127.5, -128},
        {"real keeps the number", VK_REAL, 2.75, 2.75},
        {"boolean from a number", VK_BOOLEAN, 2, 1},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(row.fKind));
        value->SetNull(true);
        EXPECT_EQ(value->FromJSONValue(Number(row.fNumber)), VE_OK) << row.fWhat;
        EXPECT_EQ(value->IsVValueSingle()->GetReal(), row.fExpected) << row.fWhat;
        EXPECT_FALSE(value->IsNull()) << row.fWhat;
    }

    VJSONValue null;
    null.fType = VJSONValue::kNull;
    VLong value(5);
    value.FromJSONValue(null);
    EXPECT_TRUE(value.IsNull());
    VReal real(5);
    real.FromJSONValue(null);
    EXPECT_TRUE(real.IsNull());
}

TEST_F(ScalarJSON, ValuesBecomeNumbersBooleansOrNull)
{
    VJSONValue json;
    VLong8(int64_t{-7}).GetJSONValue(json);
    EXPECT_EQ(json.fType, VJSONValue::kNumber);
    EXPECT_EQ(json.fNumber, -7.0);
    VBoolean(true).GetJSONValue(json);
    EXPECT_EQ(json.fType, VJSONValue::kBool);
    EXPECT_TRUE(json.fBool);
    VReal nullReal;
    nullReal.SetNull(true);
    nullReal.GetJSONValue(json);
    EXPECT_EQ(json.fType, VJSONValue::kNull);
}

TEST(ScalarValues, JSONFormsDoNothingWithoutTheJSONLibrary)
{
    VJSONValue json;
    VLong value(5);
    EXPECT_EQ(value.FromJSONValue(json), VE_OK);
    EXPECT_EQ(value.GetLong(), 5);
    EXPECT_EQ(value.GetJSONValue(json), VE_OK);
    EXPECT_EQ(json.fType, VJSONValue::kUnset);
}

TEST(ScalarValues, JSONScalars)
{
    struct Row
    {
        const char* fWhat;
        std::function<VValueSingle*()> fValue;
        ValueKind fKind;
        const char* fText;
    };
    const Row rows[] = {
        {"a long becomes a real", [] { return new VLong(12); }, VK_REAL, "12"},
        {"a byte becomes a real", [] { return new VByte(int8_t{-3}); }, VK_REAL, "-3"},
        {"a boolean stays itself", [] { return new VBoolean(true); }, VK_BOOLEAN, "true"},
        {"a real stays itself", [] { return new VReal(0.5); }, VK_REAL, "0.5"},
        {"a string stays itself", [] { return new VString("x"); }, VK_STRING, "x"},
    };
    for (const Row& row : rows)
    {
        std::unique_ptr<VValueSingle> value(row.fValue());
        std::unique_ptr<VValueSingle> scalar(VValueSingle::ConvertVValueToJSONScalar(*value, false));
        ASSERT_NE(scalar, nullptr) << row.fWhat;
        EXPECT_EQ(scalar->GetValueKind(), row.fKind) << row.fWhat;
        EXPECT_EQ(TextOf(*scalar), row.fText) << row.fWhat;
    }
    VLong nullLong(3);
    nullLong.SetNull(true);
    std::unique_ptr<VValueSingle> scalar(VValueSingle::ConvertVValueToJSONScalar(nullLong, false));
    EXPECT_TRUE(scalar->IsNull());
}

} // namespace
