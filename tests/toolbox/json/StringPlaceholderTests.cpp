// Placeholders of strings filled from JSON objects, and the error descriptions built with them.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/kernel/errors/ILocalizer.h"
#include "toolbox/kernel/errors/VErrorBase.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(StringPlaceholders, Format)
{
    VJSONValue holder = MakeObject({{"name", VJSONValue(Str("Joe"))},
                                    {"count", VJSONValue(42.0)},
                                    {"empty", VJSONValue(Str(""))},
                                    {"nothing", VJSONValue(JSON_null)},
                                    {"loop", VJSONValue(Str("{name}"))}});
    struct Row
    {
        const char* fWhat;
        const char* fText;
        const char16_t* fKept;    // removeAbsent false
        const char16_t* fRemoved; // removeAbsent true
    };
    const Row rows[] = {
        {"present", "Hello {name}", u"Hello Joe", u"Hello Joe"},
        {"a number, twice", "{count}/{count}", u"42/42", u"42/42"},
        {"absent", "a{missing}b", u"a{missing}b", u"ab"},
        {"absent then present", "{missing}{name}", u"{missing}Joe", u"Joe"},
        {"null counts as absent", "[{nothing}]", u"[{nothing}]", u"[]"},
        {"an empty text is present", "[{empty}]", u"[]", u"[]"},
        {"doubled braces stay", "{{name}}", u"{{name}}", u"{{name}}"},
        {"a name with a space stays", "{a name} {name}", u"{a name} Joe", u"{a name} Joe"},
        {"no recursive expansion", "{loop}", u"{name}", u"{name}"},
        {"no closing brace", "{name", u"{name", u"{name"},
        {"one unit", "{", u"{", u"{"},
        {"an empty name is absent", "a{}b", u"a{}b", u"ab"},
    };
    for (const Row& row : rows)
    {
        VString kept(row.fText);
        EXPECT_EQ(Text(kept.Format(holder.GetObject(), false)), row.fKept) << row.fWhat;
        VString removed(row.fText);
        EXPECT_EQ(Text(removed.Format(holder.GetObject(), true)), row.fRemoved) << row.fWhat;
    }

    // Nothing happens without properties to take from.
    VJSONValue empty(JSON_object);
    VString text("{name}");
    EXPECT_EQ(Text(text.Format(empty.GetObject(), true)), u"{name}") << "empty object";
    EXPECT_EQ(Text(text.Format(static_cast<const VJSONObject*>(nullptr), true)), u"{name}") << "null object";
}

TEST(StringPlaceholders, FormatWithTemplate)
{
    VJSONValue holder = MakeObject({{"user", MakeObject({{"first", VJSONValue(Str("Ann"))}})},
                                    {"list", MakeArray({VJSONValue(1.0), VJSONValue(2.0)})},
                                    {"nothing", VJSONValue(JSON_null)}});
    struct Row
    {
        const char* fWhat;
        const char* fTemplate;
        const char16_t* fExpected; // after "> ", which the result keeps
    };
    const Row rows[] = {
        {"a path", "Dear {{user.first}}, hi", u"> Dear Ann, hi"},
        {"an index", "second: {{list[1]}}", u"> second: 2"},
        {"an absent path disappears", "[{{user.last}}]", u"> []"},
        {"null disappears", "[{{nothing}}]", u"> []"},
        {"no marker", "plain text", u"> plain text"},
        {"an unclosed marker is dropped with its braces", "a{{user.first", u"> auser.first"},
        {"a later }} is dropped", "{{user.first}}a}}b", u"> Annab"},
        {"a }} before any {{ is text", "a}}b {{user.first}}", u"> a}}b Ann"},
        {"empty template", "", u"> "},
    };
    for (const Row& row : rows)
    {
        VString result("> ");
        VString(row.fTemplate).FormatWithTemplate(holder.GetObject(), result);
        EXPECT_EQ(Text(result), row.fExpected) << row.fWhat;
    }
    VString result;
    VString("Dear {{user.first}}!").FormatWithTemplate(nullptr, result);
    EXPECT_EQ(Text(result), u"Dear !") << "without an object the markers go";
}

class MarkerLocalizer : public ILocalizer
{
public:
    bool LocalizeErrorMessage(VError, VString& outText) override
    {
        outText = VString("{{x}} {a b} {p1}{absent}");
        return true;
    }
};

TEST(StringPlaceholders, ErrorDescriptionsKeepDoubledAndSpacedPlaceholders)
{
    MarkerLocalizer localizer;
    VErrorBase::RegisterLocalizer(kCOMPONENT_ZORN, &localizer);
    VErrorBase error(MakeVError(kCOMPONENT_ZORN, 601));
    error.SetString(Str("p1"), Str("file"));
    error.SetString(Str("x"), Str("X"));
    error.SetString(Str("a b"), Str("AB"));
    VString description;
    error.GetErrorDescription(description);
    VString text;
    EXPECT_TRUE(VErrorBase::CallLocalizer(&localizer, error.GetError(), text, error.GetParameters()));
    error.SetString(Str("action_description"), Str("retry {p1} {{x}}"));
    VString action;
    error.GetActionDescription(action);
    VErrorBase::UnregisterLocalizer(kCOMPONENT_ZORN);
    EXPECT_EQ(Text(description), u"{{x}} {a b} file");
    EXPECT_EQ(Text(text), u"{{x}} {a b} file");
    EXPECT_EQ(Text(action), u"retry file {{x}}");
}

} // namespace
