// Real documents written compact and read back by RapidJSON equal RapidJSON's own reading of the
// file, numbers within the writer's 14 significant digits.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/json/JSONTape.h"
#include "toolbox/json/VJSONWriter.h"

#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Document16 = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;
using Value16 = rapidjson::GenericValue<rapidjson::UTF16<char16_t>>;

// Whether the two trees are equal, members in order; the first difference goes to outWhere.
bool SameTree(const Value16& inA, const Value16& inB, std::string& outWhere)
{
    if (inA.IsNumber() && inB.IsNumber())
    {
        const double a = inA.GetDouble();
        const double b = inB.GetDouble();
        if (std::fabs(a - b) > 1e-13 * std::max(std::fabs(a), std::fabs(b)))
        {
            outWhere = "number " + std::to_string(a) + " vs " + std::to_string(b);
            return false;
        }
        return true;
    }
    if (inA.GetType() != inB.GetType())
    {
        outWhere = "type";
        return false;
    }
    if (inA.IsString())
    {
        bool same = std::u16string_view(inA.GetString(), inA.GetStringLength()) ==
                    std::u16string_view(inB.GetString(), inB.GetStringLength());
        if (!same)
        {
            outWhere = "string";
        }
        return same;
    }
    if (inA.IsArray())
    {
        if (inA.Size() != inB.Size())
        {
            outWhere = "array size";
            return false;
        }
        for (rapidjson::SizeType i = 0; i < inA.Size(); ++i)
        {
            if (!SameTree(inA[i], inB[i], outWhere))
            {
                return false;
            }
        }
        return true;
    }
    if (inA.IsObject())
    {
        if (inA.MemberCount() != inB.MemberCount())
        {
            outWhere = "member count";
            return false;
        }
        for (auto a = inA.MemberBegin(), b = inB.MemberBegin(); a != inA.MemberEnd(); ++a, ++b)
        {
            if (!SameTree(a->name, b->name, outWhere) || !SameTree(a->value, b->value, outWhere))
            {
                return false;
            }
        }
        return true;
    }
    return inA == inB; // null and booleans
}

class JSONWriterRoundTrip : public ::testing::TestWithParam<const char*>
{
};

TEST_P(JSONWriterRoundTrip, CompactTextReadsBackAsTheFile)
{
    std::optional<std::string> file = ReadJSONTestDocument(GetParam());
    if (!file)
    {
        GTEST_SKIP() << GetParam() << ".json is not installed";
    }
    JSONTape tape;
    ASSERT_TRUE(RecordJSONTape(*file, tape));
    VJSONValue tree = ReplayJSONTape(tape);
    VString text;
    ASSERT_EQ(VE_OK, tree.Stringify(text, 1));

    Document16 reference;
    reference.Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(file->c_str());
    ASSERT_FALSE(reference.HasParseError());
    std::u16string written = Text(text);
    Document16 reread;
    reread.Parse(written.c_str());
    ASSERT_FALSE(reread.HasParseError()) << "at " << reread.GetErrorOffset();
    std::string where;
    EXPECT_TRUE(SameTree(reference, reread, where)) << where;
}

INSTANTIATE_TEST_SUITE_P(Documents, JSONWriterRoundTrip,
                         ::testing::Values("twitter", "citm_catalog", "canada"));

} // namespace
