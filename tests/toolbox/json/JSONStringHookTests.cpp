// Strings reach JSON values through the kernel's hook table: the kernel does not link this library.
#include "tests/toolbox/json/JSONTestSupport.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(JSONStringHooks, StringsToAndFromJSONValues)
{
    VString text(CVSTR("a longer text that lives in a counted buffer"));
    text.AppendUniChar('!'); // no longer the literal: a heap buffer that values can share
    VJSONValue value;
    ASSERT_EQ(text.GetJSONValue(value), VE_OK);
    ASSERT_TRUE(value.IsString());
    EXPECT_EQ(TextOf(value), Text(text));
    EXPECT_EQ(text.GetBufferRefCount(), 2u); // shared, not copied

    VString null(true);
    ASSERT_EQ(null.GetJSONValue(value), VE_OK);
    EXPECT_TRUE(value.IsNull());

    VString back(CVSTR("old"));
    ASSERT_EQ(back.FromJSONValue(VJSONValue(2.5)), VE_OK);
    EXPECT_EQ(Text(back), u"2.5");
    EXPECT_FALSE(back.IsNull());
    ASSERT_EQ(back.FromJSONValue(value), VE_OK);
    EXPECT_TRUE(back.IsNull());
}

} // namespace
