// Function contexts: parameters numbered from 1, the typed accessors with their errors and
// fallbacks, and a child context forwarding parameters and results to its parent.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

class JSONFunctionContext : public TaskManagerTest
{
};

std::vector<VJSONValue> Params()
{
    return {VJSONValue(Str("text")),      VJSONValue(-2.75),
            VJSONValue(JSON_true),        MakeObject({{"a", VJSONValue(1.0)}}),
            MakeArray({VJSONValue(1.0)}), VJSONValue(JSON_null)};
}

TEST_F(JSONFunctionContext, ParametersAreNumberedFromOne)
{
    std::vector<VJSONValue> params = Params();
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    EXPECT_EQ(context.GetParamCount(), 6);
    EXPECT_TRUE(context.GetParam(0).IsUndefined());
    EXPECT_TRUE(context.GetParam(7).IsUndefined());
    EXPECT_TRUE(context.GetParam(-1).IsUndefined());
    EXPECT_EQ(TextOf(context.GetParam(1)), u"text");
    EXPECT_EQ(context.GetParam(4).GetObject(), params[3].GetObject()) << "objects are shared, not copied";

    VJSONFunctionContext none(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(none.GetParamCount(), 0);
    EXPECT_TRUE(none.GetParam(1).IsUndefined());
    std::vector<VJSONValue>* list = &params;
    EXPECT_EQ(none.GetParametersAsJSONValues(&list), eJSONStatusDone);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(none.GetParameterList(nullptr, nullptr, nullptr, nullptr), eJSONStatusNotHandled);
}

TEST_F(JSONFunctionContext, TypedAccessorsRaiseTheirErrorAndReturnTheFallback)
{
    struct Row
    {
        const char* fWhat;
        VError fError; // VE_OK: accepted
        std::function<void(IJSONFunctionContext&)> fCheck;
    };
    std::vector<Row> rows = {
        {"number", VE_OK, [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetNumberParam(2), -2.75); }},
        {"long truncates toward zero", VE_OK,
         [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetLongParam(2), -2); }},
        {"number from a string: its conversion", VE_JSON_NUMBER_PARAM_EXPECTED,
         [](IJSONFunctionContext& c)
         { EXPECT_TRUE(std::isnan(c.GetNumberParam(1)) || c.GetNumberParam(1) == 0); }},
        {"optional number present", VE_OK,
         [](IJSONFunctionContext& c)
         {
             double n = 0;
             EXPECT_TRUE(c.GetNumberOptParam(2, &n));
             EXPECT_EQ(n, -2.75);
         }},
        {"optional number missing: no error", VE_OK,
         [](IJSONFunctionContext& c)
         {
             double n = 5;
             EXPECT_FALSE(c.GetNumberOptParam(9, &n));
             EXPECT_EQ(n, 5);
             EXPECT_FALSE(c.GetParametersValid());
         }},
        {"optional number of another type", VE_JSON_NUMBER_PARAM_EXPECTED,
         [](IJSONFunctionContext& c)
         {
             double n = 0;
             EXPECT_FALSE(c.GetNumberOptParam(3, &n));
         }},
        {"bool", VE_OK, [](IJSONFunctionContext& c) { EXPECT_TRUE(c.GetBoolParam(3)); }},
        {"bool from a string: whether it has a buffer", VE_JSON_BOOL_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_TRUE(c.GetBoolParam(1)); }},
        {"bool from null", VE_JSON_BOOL_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_FALSE(c.GetBoolParam(6)); }},
        {"string", VE_OK, [](IJSONFunctionContext& c) { EXPECT_EQ(Text(c.GetStringParam(1)), u"text"); }},
        {"string from a number: empty", VE_JSON_STRING_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_TRUE(c.GetStringParam(2).IsEmpty()); }},
        {"object", VE_OK, [](IJSONFunctionContext& c) { EXPECT_NE(c.GetObjectParam(4), nullptr); }},
        {"object from an array: null", VE_JSON_OBJECT_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetObjectParam(5), nullptr); }},
        {"array", VE_OK, [](IJSONFunctionContext& c) { EXPECT_NE(c.GetArrayParam(5), nullptr); }},
        {"array from an object: null", VE_JSON_OBJECT_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetArrayParam(4), nullptr); }},
        {"optional blob missing", VE_OK,
         [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetBlobParam(4, true).fFound, 0u); }},
        {"blob from a plain object", VE_JSON_OBJECT_PARAM_EXPECTED,
         [](IJSONFunctionContext& c) { EXPECT_EQ(c.GetBlobParam(4, false).fFound, 0u); }},
    };
    for (const Row& row : rows)
    {
        std::vector<VJSONValue> params = Params();
        VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
        StErrorContextInstaller errors;
        row.fCheck(context);
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        if (row.fError != VE_OK)
        {
            EXPECT_FALSE(context.GetParametersValid()) << row.fWhat;
        }
    }
}

TEST_F(JSONFunctionContext, AChildForwardsParametersAndResultToItsParent)
{
    std::vector<VJSONValue> params = Params();
    int base = 0;
    VJSONFunctionContext parent(nullptr, nullptr, &params, &base, nullptr);
    VJSONValue own = MakeObject({});
    VJSONFunctionContext child(own.GetObject(), nullptr, &parent);
    child.SetResultIsExpected(false);

    EXPECT_EQ(child.GetThisObject(), own.GetObject()) << "the this object stays local";
    EXPECT_EQ(child.GetBaseContext(), &base);
    EXPECT_EQ(child.GetParamCount(), 6) << "the parent's parameters";
    EXPECT_EQ(child.GetNumberParam(2), -2.75);
    EXPECT_FALSE(child.GetResultIsExpected());
    EXPECT_TRUE(parent.GetResultIsExpected());

    child.SetResult(VJSONValue(42.0), 9);
    VJSONValue result;
    parent.GetResult(result);
    EXPECT_EQ(result.GetNumber(), 42.0);
    EXPECT_EQ(parent.GetResultLegacyValueKind(), IJSONFunctionContext::kResultKindJSON)
        << "kind 5 through a parent";
    child.GetResult(result);
    EXPECT_EQ(result.GetNumber(), 42.0);

    parent.SetResult(VJSONValue(1.0), 9);
    EXPECT_EQ(parent.GetResultLegacyValueKind(), 9) << "without a parent the kind is kept";
}

} // namespace
