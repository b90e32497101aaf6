// The JSON text importer: the lenient and strict grammars with their error reports, numbers equal
// to VString::GetReal bit for bit, the path table, dates, storage lockers, deep texts and the
// binary-object member.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONBinaryObject.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace zorn;
using namespace zorn::test;
using namespace std::string_view_literals;

namespace
{

VString StringOf(std::u16string_view inText)
{
    return VString(reinterpret_cast<const UniChar*>(inText.data()), static_cast<int32_t>(inText.size()));
}

// What a parse gave: its result, its value, the codes it pushed ("551 550") and the parameters of
// the first error and of the 550.
struct Imported
{
    VError fResult = VE_OK;
    VJSONValue fValue;
    std::string fCodes;
    std::u16string fFound;
    std::u16string fExpected;
    std::u16string fToken;
    std::u16string fSource;
    int32_t fLine = 0;
    int32_t fPosition = 0;
};

std::u16string Parameter(VErrorBase* inError, const char* inName)
{
    return TextOf(inError->GetParameters()->GetProperty(VString(inName)));
}

Imported Collect(const std::function<VError(VJSONValue&)>& inParse)
{
    Imported out;
    StErrorContextInstaller errors;
    out.fResult = inParse(out.fValue);
    for (VErrorBase* error : errors.GetContext()->GetErrorList())
    {
        int32_t number = NumberOfVError(error->GetError());
        out.fCodes += (out.fCodes.empty() ? "" : " ") + std::to_string(number);
        if (number == 550)
        {
            out.fSource = Parameter(error, "source");
            out.fLine =
                static_cast<int32_t>(error->GetParameters()->GetProperty(VString("line")).GetNumber());
            out.fPosition =
                static_cast<int32_t>(error->GetParameters()->GetProperty(VString("position")).GetNumber());
        }
        else if (out.fFound.empty() && out.fToken.empty())
        {
            out.fFound = Parameter(error, "found");
            out.fExpected = Parameter(error, "expected");
            out.fToken = Parameter(error, "token");
        }
    }
    return out;
}

Imported Import(std::u16string_view inText, uint32_t inOptions)
{
    return Collect([&](VJSONValue& outValue)
                   { return VJSONImporter::ParseString(StringOf(inText), outValue, inOptions); });
}

// The value's compact text with quoted names, or "undefined".
std::u16string Written(const VJSONValue& inValue)
{
    if (inValue.IsUndefined())
    {
        return u"undefined";
    }
    VString text;
    inValue.Stringify(text, VJSONWriter::kQuoted);
    return Text(text);
}

constexpr uint32_t kStrict = VJSONImporter::kStrict;

struct GrammarRow
{
    const char* fWhat;
    std::u16string_view fText;
    uint32_t fOptions;
    std::u16string_view fValue; // Written() of the result
    const char* fCodes;         // pushed errors, "" for none
    std::u16string_view fFound = u"";
    std::u16string_view fExpected = u"";
};

void CheckRows(std::span<const GrammarRow> inRows)
{
    for (const GrammarRow& row : inRows)
    {
        SCOPED_TRACE(row.fWhat);
        Imported imported = Import(row.fText, row.fOptions);
        EXPECT_EQ(Written(imported.fValue), row.fValue);
        EXPECT_EQ(imported.fCodes, row.fCodes);
        // The quiet rows fail without a report.
        const bool fails = *row.fCodes != 0 || (row.fOptions & VJSONImporter::kQuiet) != 0;
        EXPECT_EQ(imported.fResult, fails ? VE_JSON_MALFORMED : VE_OK);
        EXPECT_EQ(imported.fFound, row.fFound);
        EXPECT_EQ(imported.fExpected, row.fExpected);
    }
}

// The test's thread is the main task, so that errors reach its error contexts.
class JSONImporter : public TaskManagerTest
{
};

const std::u16string_view kValue = VJSONImporter::kExpectedValue;
const std::u16string_view kElement = VJSONImporter::kExpectedElement;
const std::u16string_view kNumber = VJSONImporter::kExpectedNumber;

TEST_F(JSONImporter, LenientGrammarAndItsErrors)
{
    const GrammarRow rows[] = {
        {"empty object", u"{}", 0, u"{}", ""},
        {"empty array", u"[]", 0, u"[]", ""},
        {"empty array with a blank", u"[ ]", 0, u"[]", ""},
        {"all the kinds", u"{\"a\":[1,-2.5,true,false,null,\"s\"],\"b\":{}}", 0,
         u"{\"a\":[1,-2.5,true,false,null,\"s\"],\"b\":{}}", ""},
        {"a repeated name keeps its place and its last value", u"{\"a\":1,\"b\":2,\"a\":3}", 0,
         u"{\"a\":3,\"b\":2}", ""},
        {"comma before ]: 553, the elements read so far", u"[1,]", 0, u"[1]", "553 550"},
        {"comma before }: 553", u"{\"a\":1,}", 0, u"{\"a\":1}", "553 550"},
        {"unquoted name", u"{a:1}", 0, u"{\"a\":1}", ""},
        {"unquoted name, strict", u"{a:1}", kStrict, u"{}", "551 550", u"a", u"\""},
        {"bare word", u"[abc]", 0, u"[\"abc\"]", ""},
        {"bare word, strict", u"[abc]", kStrict, u"[]", "551 550", u"abc", kElement},
        {"keywords are exact", u"[True,nul]", 0, u"[\"True\",\"nul\"]", ""},
        {"leading zero", u"[01]", 0, u"[]", "551 550", u"01", kNumber},
        {"leading zero, strict", u"[01]", kStrict, u"[]", "551 550", u"01", kNumber},
        {"fraction without digits", u"[1.]", 0, u"[]", "551 550", u"1.", kNumber},
        {"exponent without digits", u"[1.5e]", 0, u"[]", "551 550", u"1.5e", kNumber},
        {"lone minus", u"[-]", 0, u"[]", "551 550", u"-", kNumber},
        {"digits then letters", u"[1,2x]", 0, u"[1]", "551 550", u"2x", kNumber},
        {"unterminated string", u"\"abc", 0, u"\"abc\"", ""},
        {"unterminated string, strict", u"\"abc", kStrict, u"undefined", "552 550"},
        {"words after the value are not read", u"{} more words", 0, u"{}", ""},
        {"words after the value, strict", u"{} more words", kStrict, u"{}", "551 550", u"m",
         VJSONImporter::kExpectedEndOfText},
        {"partial result", u"[1,2,x", kStrict, u"[1,2]", "551 550", u"x", kElement},
        {"partial result, option 1", u"[1,2,x", kStrict | VJSONImporter::kUndefinedOnError, u"undefined",
         "551 550", u"x", kElement},
        {"end of text after the last element: 554", u"[1,2,x", 0, u"[1,2,\"x\"]", "554 550", u"",
         VJSONImporter::kExpectedArrayNext},
        {"quiet: no invalid-token error pushed", u"[1,2,x", kStrict | VJSONImporter::kQuiet, u"[1,2]", ""},
        {"empty text", u"", 0, u"undefined", "554 550", u"", kValue},
        {"open array at the end", u"[", 0, u"[]", "554 550", u"", kElement},
        {"open object at the end", u"{", 0, u"{}", "554 550", u"", u"\" }"},
        {"no colon", u"{\"a\" 1}", 0, u"{}", "551 550", u"1", u":"},
        {"no comma between members", u"{\"a\":1 \"b\":2}", 0, u"{\"a\":1}", "551 550", u"\"", u"} ,"},
        {"no comma between elements", u"[1 2]", 0, u"[1]", "551 550", u"2", u"] ,"},
        {"a second comma", u"{\"a\":1,,", 0, u"{\"a\":1}", "551 550", u",", u"\""},
        {"comma where a value begins", u"[,1]", 0, u"[]", "551 550", u",", kElement},
        {"comma after an element where a value begins", u"[1,,]", 0, u"[1]", "551 550", u",", kValue},
        {"closing brace as the value", u"}", 0, u"undefined", "551 550", u"}", kValue},
        {"nested failure drops the inner container", u"[1,[2,]", 0, u"[1]", "553 550"},
        {"escapes", u"[\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\q\"]", 0,
         u"[\"a\\\"\\\\/\\b\\f\\n\\r\\t\u00e9q\"]", ""},
        {"\\u: a first non-digit counts as 0, a later one is skipped", u"[\"\\uZ041\\u0Z41\"]", 0,
         u"[\"AA\"]", ""},
        {"\\u cut by the end: the string as read", u"\"a\\u12", 0, u"\"a\"", ""},
        {"a raw NUL is dropped", u"[\"a\0b\"]"sv, 0, u"[\"ab\"]", ""},
        {"control units separate tokens", u"[1\v,\f2]", 0, u"[1,2]", ""},
    };
    CheckRows(rows);
}

TEST_F(JSONImporter, StrictAcceptsExactlyTheGrammar)
{
    const GrammarRow refusals[] = {
        {"vertical tab as white space", u"[1,\v2]", kStrict, u"[1]", "551 550", u"U+000B2", kElement},
        {"form feed ending a number", u"[1\f]", kStrict, u"[]", "551 550", u"1U+000C", kNumber},
        {"no-break space", u"\u00a0[]", kStrict, u"undefined", "551 550", u"\u00a0", kValue},
        {"a byte-order mark is skipped", u"\ufeff[]", kStrict, u"[]", ""},
        {"control unit in a string", u"[\"a\x01z\"]", kStrict, u"[]", "551 550", u"U+0001",
         VJSONImporter::kExpectedEscape},
        {"raw line feed in a string", u"[\"a\nz\"]", kStrict, u"[]", "551 550", u"U+000A",
         VJSONImporter::kExpectedEscape},
        {"raw NUL in a string", u"[\"a\0z\"]"sv, kStrict, u"[]", "551 550", u"U+0000",
         VJSONImporter::kExpectedEscape},
        {"unknown escape", u"[\"\\q\"]", kStrict, u"[]", "551 550", u"\\q", VJSONImporter::kExpectedEscape},
        {"\\u without four digits", u"[\"\\u12G4\"]", kStrict, u"[]", "551 550", u"\\u12G4",
         VJSONImporter::kExpectedHexDigit},
        {"U+2212 in the exponent", u"[1e\u22125]", kStrict, u"[]", "551 550", u"1e\u22125", kNumber},
        {"a second value", u"[1] [2]", kStrict, u"[1]", "551 550", u"[", VJSONImporter::kExpectedEndOfText},
        {"a closing bracket too many", u"[1]]", kStrict, u"[1]", "551 550", u"]",
         VJSONImporter::kExpectedEndOfText},
        {"empty text", u"", kStrict, u"undefined", "554 550", u"", kValue},
        {"blanks only", u" \r\n\t", kStrict, u"undefined", "554 550", u"", kValue},
        {"leading plus", u"+1", kStrict, u"undefined", "551 550", u"+1", kValue},
        {"non-finite words", u"[NaN]", kStrict, u"[]", "551 550", u"NaN", kElement},
    };
    CheckRows(refusals);

    const std::u16string_view accepted[] = {
        u"{\"a\":[1,-0,0.5,10e10,1E-2,-1.5e+3,0e0],\"b\":{\"c\":null,\"d\":true,\"e\":false}}",
        u"\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\u00e9 \\uD83D\\uDE00\"",
        u"\"\\uD800 lone surrogate escapes are in the grammar\"",
        u" \t\r\n[ \t\r\n1 \t\r\n, {} ] \t\r\n",
        u"[[[[{\"\":[{}]}]]]]",
        u"1",
        u"-0.0e0",
        u"\"x\"",
        u"null",
        u"true",
        u"false",
        u"\"\u007f\u0080\uffff\"",
        u"{\"a\":1,\"a\":2}",
    };
    for (std::u16string_view text : accepted)
    {
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        Imported strict = Import(text, kStrict);
        Imported lenient = Import(text, 0);
        EXPECT_EQ(strict.fCodes, "");
        EXPECT_EQ(strict.fResult, VE_OK);
        EXPECT_EQ(Written(strict.fValue), Written(lenient.fValue)) << "both modes read the same value";
    }
}

TEST_F(JSONImporter, ReportsLineAndPositionOfTheFailingToken)
{
    struct Row
    {
        const char* fWhat;
        std::u16string_view fText;
        int32_t fLine;
        int32_t fPosition;
    };
    // The invalid token 01 begins at the fourth unit of the third line.
    const Row rows[] = {
        {"LF", u"[\n1,\n\t\t 01]", 3, 4},
        {"CR LF: one more, as the last CR is counted from", u"[\r\n1,\r\n\t\t 01]", 3, 5},
        {"lone CR", u"[\r1,\r\t\t 01]", 3, 4},
        {"first line", u"  [01]", 1, 4},
        {"line breaks inside strings count", u"[\"a\nb\",\n 01]", 3, 2},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        Imported imported = Import(row.fText, 0);
        EXPECT_EQ(imported.fCodes, "551 550");
        EXPECT_EQ(imported.fLine, row.fLine);
        EXPECT_EQ(imported.fPosition, row.fPosition);
        EXPECT_EQ(imported.fSource, u"");
    }

    Imported named = Collect(
        [](VJSONValue& outValue)
        {
            VJSONImporter importer(VString("[1,]"), 0);
            importer.SetSourceName(VString("/tmp/a.json"));
            return importer.Parse(outValue);
        });
    EXPECT_EQ(named.fCodes, "553 550");
    EXPECT_EQ(named.fToken, u"]");
    EXPECT_EQ(named.fSource, u"/tmp/a.json, ");
    EXPECT_EQ(named.fPosition, 4);
}

// Bit-for-bit equality with GetReal, the C library's strtod in the C locale.
void ExpectSameAsGetReal(std::u16string_view inText, const VJSONValue& inNumber)
{
    std::u16string ascii(inText);
    for (char16_t& unit : ascii)
    {
        unit = unit == 0x2212 ? u'-' : unit;
    }
    double expected = StringOf(ascii).GetReal();
    ASSERT_TRUE(inNumber.IsNumber()) << std::string(inText.begin(), inText.end());
    EXPECT_EQ(std::bit_cast<uint64_t>(inNumber.GetNumber()), std::bit_cast<uint64_t>(expected))
        << std::string(inText.begin(), inText.end());
}

TEST_F(JSONImporter, NumbersEqualGetRealBitForBit)
{
    const std::u16string_view texts[] = {
        u"0.1",
        u"9007199254740993", // 2^53 + 1: rounds to even
        u"1e308",
        u"1e309",    // overflow: infinity
        u"1e-400",   // underflow: 0
        u"4.9e-324", // the smallest subnormal
        u"2.4703282292062327e-324", u"2.4703282292062328e-324", u"2.2250738585072011e-308", u"-0", u"-0.0",
        u"0.30000000000000004", u"1.7976931348623157e308",
        u"123456789012345",  // 15 digits: the integer path
        u"-999999999999999", // 15 digits, negative
        u"1234567890123456", // 16 digits: not the integer path
        u"12345678901234567890123456789",
        u"0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
        u"000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000001",
        u"1e\u22125", // U+2212 signs the exponent
        u"1E+2",
        // The exact product or quotient: digits within 2^53, a power of ten up to 22.
        u"9007199254740992",
        u"9007199254740993e0", // past 2^53: not exact
        u"123.456", u"-0.000001", u"1.7e22",
        u"1e23", // 10^23 is not exact
        u"0.1e-21", u"0.1e-22", u"4503599627370497.5", u"0e400",
        u"0.000000000000000000001", // 22 digits: past the exact path
    };
    for (std::u16string_view text : texts)
    {
        Imported imported = Import(text, 0);
        EXPECT_EQ(imported.fCodes, "") << std::string(text.begin(), text.end());
        ExpectSameAsGetReal(text, imported.fValue);
    }

    // One million random doubles printed with "%.17g", read in arrays of 10000.
    std::mt19937_64 random(20261210);
    constexpr int kBatches = 100;
    constexpr int kPerBatch = 10000;
    for (int batch = 0; batch < kBatches; ++batch)
    {
        std::u16string text = u"[";
        std::vector<std::u16string> numbers;
        while (numbers.size() < kPerBatch)
        {
            uint64_t bits = random();
            double number = std::bit_cast<double>(bits);
            if (numbers.size() % 4 == 1)
            {
                number = static_cast<double>(bits >> 11) /
                         static_cast<double>(uint64_t{1} << (bits & 31)); // short forms
            }
            if (!std::isfinite(number))
            {
                continue;
            }
            char printed[40];
            std::snprintf(printed, sizeof(printed), "%.17g", number);
            numbers.emplace_back(printed, printed + std::char_traits<char>::length(printed));
            text += (numbers.size() == 1 ? u"" : u",") + numbers.back();
        }
        text += u"]";
        VJSONValue value;
        ASSERT_EQ(VJSONImporter::ParseString(StringOf(text), value, kStrict), VE_OK);
        std::span<const VJSONValue> elements = value.GetArray()->GetElements();
        ASSERT_EQ(elements.size(), numbers.size());
        for (size_t i = 0; i < numbers.size(); ++i)
        {
            double expected = StringOf(numbers[i]).GetReal();
            if (std::bit_cast<uint64_t>(elements[i].GetNumber()) != std::bit_cast<uint64_t>(expected))
            {
                ADD_FAILURE() << std::string(numbers[i].begin(), numbers[i].end());
                return;
            }
        }
    }
}

TEST_F(JSONImporter, PathTableRecordsLinesAndColumns)
{
    const std::u16string_view text = u"{\"a\": 1,\n"
                                     u" \"b\": [10, \"s\", {\"c\": \"x\"}],\n"
                                     u" \"d\": {\"e\": [true]}}";
    VJSONImporter importer(StringOf(text), VJSONImporter::kPathsAndLines);
    VJSONValue value;
    ASSERT_EQ(importer.Parse(value), VE_OK);
    VString table;
    VJSONValue(importer.GetPathsLines()).Stringify(table, VJSONWriter::kQuoted);
    EXPECT_EQ(Text(table), u"{\"a\":{\"line\":1,\"offset\":1},"
                           u"\"b\":{\"line\":2,\"offset\":1},"
                           u"\"b[0]\":{\"line\":2,\"offset\":7},"
                           u"\"b[1]\":{\"line\":2,\"offset\":11},"
                           u"\"b[2]\":{\"line\":2,\"offset\":16},"
                           u"\"b[2].c\":{\"line\":2,\"offset\":17},"
                           u"\"d\":{\"line\":3,\"offset\":1},"
                           u"\"d.e\":{\"line\":3,\"offset\":7},"
                           u"\"d.e[0]\":{\"line\":3,\"offset\":13},"
                           u"\"}\":{\"line\":3,\"offset\":19}}");
    EXPECT_EQ(VJSONImporter(VString("{}"), 0).GetPathsLines(), nullptr);
}

TEST_F(JSONImporter, DateOptions)
{
    struct Row
    {
        const char* fWhat;
        std::u16string_view fText;
        uint32_t fOptions;
        short fYear; // 0: a string
    };
    const uint32_t kMarked = VJSONImporter::kMarkedDates;
    const uint32_t kISO = VJSONImporter::kISODates;
    const uint32_t kOnly = VJSONImporter::kMarkedDatesOnly;
    const Row rows[] = {
        {"marked date", u"\"!!2024-03-05!!\"", kMarked, 2024},
        {"marked date and time", u"\"!!2024-03-05T10:00:00Z!!\"", kMarked, 2024},
        {"marked, without 0x40", u"\"!!2024-03-05!!\"", kISO, 0},
        {"marked only: the fourteen-unit form", u"\"!!2024-03-05!!\"", kMarked | kOnly, 2024},
        {"marked only: a one-digit month stays a string", u"\"!!2024-3-05!!\"", kMarked | kOnly, 0},
        {"marked only: a time stays a string", u"\"!!2024-03-05T10:00:00Z!!\"", kMarked | kOnly, 0},
        {"ISO date", u"\"2024-03-05\"", kISO, 2024},
        {"ISO date, without 0x80", u"\"2024-03-05\"", kMarked, 0},
        {"ISO date and time is no ISO date", u"\"2024-03-05T10:00:00Z\"", kISO, 0},
        {"a marked text that is no date stays a string", u"\"!!no date!!\"", kMarked, 0},
        {"bare words are never dates", u"2024-03-05", kISO, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        Imported imported = Import(row.fText, row.fOptions);
        short year = 0;
        short month = 0;
        short day = 0;
        if (row.fYear == 0)
        {
            EXPECT_FALSE(imported.fValue.IsDate());
            EXPECT_TRUE(imported.fValue.IsString() || !imported.fCodes.empty());
            continue;
        }
        ASSERT_TRUE(imported.fValue.GetDate(&year, &month, &day));
        EXPECT_EQ(year, row.fYear);
        EXPECT_EQ(month, 3);
        EXPECT_EQ(day, 5);
    }

    // The value's entry: 0, 192 and 576.
    const VString text("[\"2024-03-05\",\"!!2024-03-05!!\"]");
    const bool expected[][2] = {{false, false}, {true, true}, {false, true}};
    for (int variant = 0; variant < 3; ++variant)
    {
        VJSONValue value;
        ASSERT_EQ(value.ParseFromString(text, variant > 0, variant == 2), VE_OK);
        EXPECT_EQ(value.GetArray()->GetAt(0).IsDate(), expected[variant][0]) << variant;
        EXPECT_EQ(value.GetArray()->GetAt(1).IsDate(), expected[variant][1]) << variant;
    }
}

// Every container of the value, outermost first.
void Containers(const VJSONValue& inValue, std::vector<VJSONValue>& ioFound)
{
    if (inValue.IsObject())
    {
        ioFound.push_back(inValue);
        for (const auto& property : inValue.GetObject()->GetOwnProperties())
        {
            Containers(property.fValue, ioFound);
        }
    }
    else if (inValue.IsArray())
    {
        ioFound.push_back(inValue);
        for (const VJSONValue& element : inValue.GetArray()->GetElements())
        {
            Containers(element, ioFound);
        }
    }
}

VStorageLocker* LockerOf(const VJSONValue& inValue)
{
    return inValue.IsObject() ? inValue.GetObject()->GetStorageLocker().Get()
                              : inValue.GetArray()->GetStorageLocker().Get();
}

TEST_F(JSONImporter, OneStorageLockerPerImporter)
{
    const VString text("{\"a\":[{},[1]],\"b\":{\"c\":[]}}");
    VJSONValue first;
    VJSONValue second;
    VJSONValue plain;
    ASSERT_EQ(VJSONImporter::ParseString(text, first, VJSONImporter::kStorageLocker), VE_OK);
    ASSERT_EQ(VJSONImporter::ParseString(text, second, VJSONImporter::kStorageLocker), VE_OK);
    ASSERT_EQ(VJSONImporter::ParseString(text, plain, 0), VE_OK);
    std::vector<VJSONValue> containers;
    Containers(first, containers);
    ASSERT_EQ(containers.size(), 6u);
    VStorageLocker* locker = LockerOf(first);
    ASSERT_NE(locker, nullptr);
    for (const VJSONValue& container : containers)
    {
        EXPECT_EQ(LockerOf(container), locker);
    }
    EXPECT_NE(LockerOf(second), nullptr);
    EXPECT_NE(LockerOf(second), locker) << "two importers, two lockers";
    EXPECT_EQ(LockerOf(plain), nullptr);
}

TEST_F(JSONImporter, DeepTextsFailWithNestingErrorThen550)
{
    const std::u16string arrays(1000000, u'[');
    std::u16string objects;
    objects.reserve(25000);
    for (int i = 0; i < 5000; ++i)
    {
        objects += u"{\"a\":";
    }
    for (const std::u16string* text : {&arrays, static_cast<const std::u16string*>(&objects)})
    {
        Imported imported = Import(*text, 0);
        EXPECT_EQ(imported.fCodes, "108 550");
        EXPECT_EQ(imported.fResult, VE_JSON_MALFORMED);
        EXPECT_TRUE(imported.fValue.IsArray() || imported.fValue.IsObject()) << "the outermost container";
    }
    // At the limit itself the text reads.
    std::u16string deepest(StJSONNestingGuard::kMaxDepth, u'[');
    deepest.append(StJSONNestingGuard::kMaxDepth, u']');
    EXPECT_EQ(Import(deepest, kStrict).fCodes, "");
}

TEST_F(JSONImporter, TokenizerGivesTokensWithTheirTexts)
{
    VJSONImporter importer(VString("{\"a\\n\" : [x, 1]}"), 0);
    struct Expected
    {
        JsonToken fToken;
        std::u16string_view fText;
        bool fIsString;
    };
    const Expected expected[] = {
        {jsonBeginObject, u"", false}, {jsonString, u"a\n", true}, {jsonColon, u"", false},
        {jsonBeginArray, u"", false},  {jsonString, u"x", false},  {jsonComma, u"", false},
        {jsonString, u"1", false},     {jsonEndArray, u"", false}, {jsonEndObject, u"", false},
        {jsonEnd, u"", false},
    };
    for (const Expected& next : expected)
    {
        VString token("stale");
        bool isString = true;
        VError error = 1;
        EXPECT_EQ(importer.GetNextJSONToken(token, &isString, &error), next.fToken);
        EXPECT_EQ(Text(token), next.fText);
        EXPECT_EQ(isString, next.fIsString);
        EXPECT_EQ(error, VE_OK);
    }
}

// A byte-order mark is skipped wherever the text enters and in every mode: it was once read as a
// bare word that became the whole value, the document after it dropped.
TEST_F(JSONImporter, ByteOrderMarkIsSkippedByEveryEntryPoint)
{
    struct Row
    {
        const char* fWhat;
        std::u16string_view fText;
        uint32_t fOptions;
        std::u16string_view fValue;
        const char* fCodes;
    };
    const Row rows[] = {
        {"lenient", u"\uFEFF{\"a\":[1,2]}", 0, u"{\"a\":[1,2]}", ""},
        {"strict", u"\uFEFF{\"a\":[1,2]}", kStrict, u"{\"a\":[1,2]}", ""},
        {"a scalar", u"\uFEFF12", kStrict, u"12", ""},
        {"a mark alone is an empty text", u"\uFEFF", kStrict, u"undefined", "554 550"},
        {"only the first: a second is a bare word", u"\uFEFF\uFEFF1", 0, u"\"\uFEFF1\"", ""},
        {"inside a string it stays", u"[\"\uFEFF\"]", kStrict, u"[\"\uFEFF\"]", ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        Imported imported = Import(row.fText, row.fOptions | VJSONImporter::kUndefinedOnError);
        EXPECT_EQ(Written(imported.fValue), row.fValue);
        EXPECT_EQ(imported.fCodes, row.fCodes);
    }
    // Positions count from behind the mark.
    Imported failed = Import(u"\uFEFF[01]", 0);
    EXPECT_EQ(failed.fCodes, "551 550");
    EXPECT_EQ(failed.fLine, 1);
    EXPECT_EQ(failed.fPosition, 2);
    // The tokenizer and the bag reader.
    VJSONImporter tokens(StringOf(u"\uFEFF[1]"), kStrict);
    EXPECT_EQ(tokens.GetNextJSONToken(nullptr), jsonBeginArray);
    VValueBag bag;
    VJSONImporter bagReader(StringOf(u"\uFEFF{\"a\":1}"), 0);
    EXPECT_EQ(bagReader.JSONObjectToBag(bag), VE_OK);
    EXPECT_EQ(bag.GetAttributesCount(), 1);
    // Bytes: the mark is decoded, then skipped by the importer, once.
    VString decoded;
    EXPECT_EQ(VJSONImporter::DecodeUTF8("\xEF\xBB\xBF{}", 5, kStrict, VString(), decoded), VE_OK);
    EXPECT_EQ(Text(decoded), u"\uFEFF{}");
    VString twice;
    EXPECT_EQ(VJSONImporter::DecodeUTF8("\xEF\xBB\xBF\xEF\xBB\xBF[1]", 9, kStrict, VString(), twice), VE_OK);
    EXPECT_EQ(Import(Text(twice), kStrict).fCodes, "551 550") << "a second mark is no blank";
}

// Ill-formed UTF-8 (RFC 3629 and the Unicode standard's maximal parts): refused in strict mode
// where it stands, each bad sequence one U+FFFD otherwise; it used to become '?' even in strict
// mode.
TEST_F(JSONImporter, IllFormedUTF8IsRefusedInStrictModeAndReplacedOtherwise)
{
    struct Row
    {
        const char* fWhat;
        std::string_view fBytes;
        std::u16string_view fLenient; // the decoded text
        std::u16string_view fFound;   // strict: the bad bytes, empty when well formed
        int32_t fLine;
        int32_t fPosition;
    };
    const Row rows[] = {
        {"well formed, all lengths", "[\"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"]",
         u"[\"a\u00E9\u20AC\U0001F600\"]", u"", 0, 0},
        {"a U+FFFD of the input is no error", "\"\xEF\xBF\xBD\"", u"\"\uFFFD\"", u"", 0, 0},
        {"lone continuation byte", "[\"a\x80\"]", u"[\"a\uFFFD\"]", u"0x80", 1, 4},
        {"truncated two-byte form at the end", "\"\xC3", u"\"\uFFFD", u"0xC3", 1, 2},
        {"lead byte followed by ASCII", "\"\xC3(\"", u"\"\uFFFD(\"", u"0xC3", 1, 2},
        {"overlong form of '/'", "\"\xC0\xAF\"", u"\"\uFFFD\uFFFD\"", u"0xC0", 1, 2},
        {"encoded surrogate", "\"\xED\xA0\x80\"", u"\"\uFFFD\uFFFD\uFFFD\"", u"0xED", 1, 2},
        {"beyond U+10FFFF", "\"\xF4\x90\x80\x80\"", u"\"\uFFFD\uFFFD\uFFFD\uFFFD\"", u"0xF4", 1, 2},
        {"truncated four-byte form: one U+FFFD", "\"\xF0\x9F\x98\"", u"\"\uFFFD\"", u"0xF0 0x9F 0x98", 1, 2},
        {"on the second line, after a character of two units", "[\n\"\xF0\x9F\x98\x80\xFF\"]",
         u"[\n\"\U0001F600\uFFFD\"]", u"0xFF", 2, 4},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        VString lenient;
        EXPECT_EQ(VJSONImporter::DecodeUTF8(row.fBytes.data(), row.fBytes.size(), 0, VString(), lenient),
                  VE_OK);
        EXPECT_EQ(Text(lenient), row.fLenient);
        Imported strict = Collect(
            [&](VJSONValue&)
            {
                VString text;
                VError error = VJSONImporter::DecodeUTF8(row.fBytes.data(), row.fBytes.size(), kStrict,
                                                         VString("f.json"), text);
                EXPECT_EQ(text.IsEmpty(), error != VE_OK);
                return error;
            });
        if (row.fFound.empty())
        {
            EXPECT_EQ(strict.fResult, VE_OK);
            EXPECT_EQ(strict.fCodes, "");
            continue;
        }
        EXPECT_EQ(strict.fResult, VE_JSON_MALFORMED);
        EXPECT_EQ(strict.fCodes, "551 550");
        EXPECT_EQ(strict.fFound, row.fFound);
        EXPECT_EQ(strict.fExpected, u"UTF-8");
        EXPECT_EQ(strict.fSource, u"f.json, ");
        EXPECT_EQ(strict.fLine, row.fLine);
        EXPECT_EQ(strict.fPosition, row.fPosition);
    }
}

// Long texts, where ASCII runs are widened in blocks: random mixes of ASCII runs, well-formed
// sequences and ill-formed ones, placed across block edges, decode as ICU decodes them.
TEST_F(JSONImporter, DecodedUTF8MatchesICUAcrossASCIIBlocks)
{
    const std::string_view pieces[] = {
        "\xC3\xA9",     "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD", // well formed
        "\x80",         "\xC3",         "\xC0\xAF",         "\xED\xA0\x80", "\xF4\x90\x80\x80",
        "\xF0\x9F\x98", "\xFF",
    };
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round)
    {
        std::string bytes;
        while (bytes.size() < 200)
        {
            bytes.append(random() % 40, static_cast<char>('a' + random() % 26));
            bytes.append(pieces[random() % std::size(pieces)]);
        }
        std::u16string expected(bytes.size(), u'\0');
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(reinterpret_cast<UChar*>(expected.data()), static_cast<int32_t>(expected.size()),
                             &length, bytes.data(), static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr,
                             &status);
        ASSERT_TRUE(U_SUCCESS(status));
        expected.resize(static_cast<size_t>(length));
        VString decoded;
        ASSERT_EQ(VJSONImporter::DecodeUTF8(bytes.data(), bytes.size(), 0, VString(), decoded), VE_OK);
        ASSERT_EQ(Text(decoded), expected) << "round " << round;
    }
}

// A compact reader for the tests: the value is the number of bytes; "fail" pushes nothing and
// fails.
VError CountingReader(const void* inBytes, size_t inSize, VJSONValue& outValue)
{
    if (inSize == 4 && std::string_view(static_cast<const char*>(inBytes), 4) == "fail")
    {
        return VE_STREAM_EOF;
    }
    outValue = VJSONValue(static_cast<double>(inSize));
    return VE_OK;
}

TEST_F(JSONImporter, BinaryObjectMemberGoesToTheRegisteredReader)
{
    const std::u16string_view text = u"[{\"__PRIVATE_BINARY_OBJECT\":\"AAEC\"},{\"x\":1}]";
    // Without a reader the object stays as read.
    const VJSONBinaryObject::Reader compactReader = VJSONBinaryObject::GetReader();
    ASSERT_NE(compactReader, nullptr) << "the compact stream reader is there from the start";
    VJSONBinaryObject::RegisterReader(nullptr);
    EXPECT_EQ(Written(Import(text, 0).fValue), u"[{\"__PRIVATE_BINARY_OBJECT\":\"AAEC\"},{\"x\":1}]");

    VJSONBinaryObject::RegisterReader(&CountingReader);
    EXPECT_EQ(Written(Import(text, 0).fValue), u"[3,{\"x\":1}]");
    EXPECT_EQ(Written(Import(u"{\"__PRIVATE_BINARY_OBJECT\":\"not base64!\"}", 0).fValue),
              u"{\"__PRIVATE_BINARY_OBJECT\":\"not base64!\"}");
    EXPECT_EQ(Written(Import(u"{\"__PRIVATE_BINARY_OBJECT\":12}", 0).fValue),
              u"{\"__PRIVATE_BINARY_OBJECT\":12}");
    Imported failed = Import(u"[{\"__PRIVATE_BINARY_OBJECT\":\"ZmFpbA==\"}]", 0);
    EXPECT_EQ(failed.fResult, VE_STREAM_EOF) << "the reader's error is the result";
    VJSONBinaryObject::RegisterReader(compactReader);
}

} // namespace
