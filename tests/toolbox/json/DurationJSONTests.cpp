// Durations to and from JSON values and JSON text.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/kernel/values/VDuration.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(DurationJSON, Values)
{
    struct Row
    {
        int64_t fCount;
        JSONStringOptions fOptions;
        const char16_t* fText; // the JSON value's text
        bool fIsString;
    };
    const Row rows[] = {
        {3723000, 4, u"1:02:03", true},
        {93784000, 4, u"26:03:04", true},
        {3723999, 4, u"1:02:03", true},
        {3723000, 0, u"3723", false},
        {1500, 2, u"1500", false},
        {1500, 0, u"1.5", false},
        {-3723000, 4, u"-1:02:03", true}, // the sign once, in front
        {INT64_MIN, 4, u"-2562047788015:12:55", true},
    };
    for (const Row& row : rows)
    {
        VJSONValue value;
        EXPECT_EQ(VDuration(row.fCount).GetJSONValue(value, row.fOptions), VE_OK);
        EXPECT_EQ(value.IsString(), row.fIsString) << row.fCount << " option " << row.fOptions;
        EXPECT_EQ(TextOf(value), row.fText) << row.fCount << " option " << row.fOptions;
    }
    VDuration null;
    null.SetNull(true);
    VJSONValue value(1.0);
    null.GetJSONValue(value);
    EXPECT_TRUE(value.IsNull());

    VDuration duration;
    EXPECT_EQ(duration.FromJSONValue(VJSONValue(1.5)), VE_OK);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500) << "JSON numbers are seconds";
    duration.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(duration.IsNull());
    EXPECT_EQ(duration.FromJSONString(Str("1500")), VE_OK);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500) << "JSON text is milliseconds";
    EXPECT_FALSE(duration.IsNull());
    VString text;
    VDuration(90061001).GetJSONString(text, 0xFFFF);
    EXPECT_EQ(Text(text), u"90061001");
}

} // namespace
