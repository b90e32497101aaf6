// A trip through the writer is a copy: text read by the importer, written, and read again gives
// the same tree, every number equal bit for bit (sign of zero included), on real documents and on
// the numbers that a 14-digit writer lost.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONWriter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Whether the two trees are equal, members in order and numbers bit for bit; the first difference
// goes to outWhere.
bool SameBits(const VJSONValue& inA, const VJSONValue& inB, std::string& outWhere)
{
    if (inA.GetType() != inB.GetType())
    {
        outWhere = "type";
        return false;
    }
    switch (inA.GetType())
    {
    case JSON_number:
        if (std::bit_cast<uint64_t>(inA.GetNumber()) != std::bit_cast<uint64_t>(inB.GetNumber()))
        {
            outWhere = "number " + std::to_string(inA.GetNumber());
            return false;
        }
        return true;
    case JSON_string:
        if (inA.GetStringUnits() != inB.GetStringUnits())
        {
            outWhere = "string";
            return false;
        }
        return true;
    case JSON_array:
    {
        auto a = inA.GetArray()->GetElements();
        auto b = inB.GetArray()->GetElements();
        if (a.size() != b.size())
        {
            outWhere = "array size";
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i)
        {
            if (!SameBits(a[i], b[i], outWhere))
            {
                return false;
            }
        }
        return true;
    }
    case JSON_object:
    {
        auto a = inA.GetObject()->GetOwnProperties();
        auto b = inB.GetObject()->GetOwnProperties();
        if (a.size() != b.size())
        {
            outWhere = "member count";
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i)
        {
            if (a[i].fKey.GetUnits() != b[i].fKey.GetUnits())
            {
                outWhere = "member name";
                return false;
            }
            if (!SameBits(a[i].fValue, b[i].fValue, outWhere))
            {
                return false;
            }
        }
        return true;
    }
    default:
        return true; // null, booleans
    }
}

// Reads, writes (compact, then pretty) and reads again; the three trees must be the same.
void ExpectRoundTrip(const VString& inText, const std::string& inWhat)
{
    VJSONValue first;
    ASSERT_EQ(VE_OK, VJSONImporter::ParseString(inText, first, VJSONImporter::kStrict)) << inWhat;
    for (uint32_t options : {1u, 9u})
    {
        VString written;
        ASSERT_EQ(VE_OK, first.Stringify(written, options)) << inWhat;
        VJSONValue second;
        ASSERT_EQ(VE_OK, VJSONImporter::ParseString(written, second, VJSONImporter::kStrict)) << inWhat;
        std::string where;
        EXPECT_TRUE(SameBits(first, second, where)) << inWhat << " (options " << options << "): " << where;
    }
}

class JSONWriterRoundTrip : public ::testing::TestWithParam<const char*>
{
};

TEST_P(JSONWriterRoundTrip, DocumentReadsBackBitForBit)
{
    std::optional<std::string> file = ReadJSONTestDocument(GetParam());
    if (!file)
    {
        GTEST_SKIP() << GetParam() << ".json is not installed";
    }
    VString text;
    ASSERT_TRUE(text.FromBlock(file->data(), file->size(), CharSet::VTC_UTF_8));
    ExpectRoundTrip(text, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Documents, JSONWriterRoundTrip,
                         ::testing::Values("twitter", "citm_catalog", "canada"));

TEST(JSONWriterRoundTripNumbers, NumbersReadBackBitForBit)
{
    struct Row
    {
        const char* fWhat;
        double fValue;
    };
    const Row rows[] = {
        {"2^53 + 1 as read (2^53)", 9007199254740993.0},
        {"2^53 + 2", 9007199254740994.0},
        {"a tweet id above 2^53", 505874924095815681.0},
        {"17 significant digits", 0.30000000000000004},
        {"17 digits, large", 1.2345678901234567e+200},
        {"15 digits, between integers", 900719925474090.1},
        {"least subnormal", 5e-324},
        {"least normal", 2.2250738585072014e-308},
        {"negative zero", -0.0},
        {"1e308", 1e308},
        {"largest double", std::numeric_limits<double>::max()},
        {"a coordinate of canada.json", -65.613616999999977},
    };
    for (const Row& row : rows)
    {
        VJSONValue array(JSON_array);
        array.GetArray()->Push(VJSONValue(row.fValue));
        VString text;
        ASSERT_EQ(VE_OK, array.Stringify(text, 1)) << row.fWhat;
        ExpectRoundTrip(text, row.fWhat);
    }
    // Texts with more digits than a double holds read as their nearest double, which writes back
    // in its shortest form and then reads the same.
    ExpectRoundTrip(VString("[9007199254740993, 1.00000000000000000000001, -0.0, 4.9e-324]"), "long texts");
}

} // namespace
