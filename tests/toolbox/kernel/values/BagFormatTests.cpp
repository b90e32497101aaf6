// Placeholders of strings replaced by the attributes of a value bag.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(BagFormat, ReplacesPlaceholdersByAttributes)
{
    Bag bag;
    bag->SetString(VValueBag::StKey("name"), "Joe");
    bag->SetLong(VValueBag::StKey("n"), 42);
    struct Case
    {
        const char* fWhat;
        const char* fText;
        bool fRemoveAbsent;
        const char* fExpected;
    } cases[] = {
        {"a string attribute", "Hello {name}", false, "Hello Joe"},
        {"a number, twice, no re-expansion", "{n}/{n}{name}", false, "42/42Joe"},
        {"doubled braces stay", "{{name}}", true, "{{name}}"},
        {"a name with a space stays", "{a name}", true, "{a name}"},
        {"absent, kept", "x{absent}y", false, "x{absent}y"},
        {"absent, removed", "x{absent}y{name}", true, "xyJoe"},
        {"one unit", "{", true, "{"},
    };
    for (const Case& c : cases)
    {
        VString text(c.fText);
        text.Format(bag.fBag, c.fRemoveAbsent);
        EXPECT_EQ(c.fExpected, Ascii(text)) << c.fWhat;
    }
    // A value whose text is "{name}" is not expanded again.
    Bag self;
    self->SetString(VValueBag::StKey("name"), "{name}");
    VString text("<{name}>");
    EXPECT_EQ("<{name}>", Ascii(text.Format(self.fBag, true)));
    // A null or empty bag changes nothing.
    text = "{name}";
    Bag empty;
    EXPECT_EQ("{name}", Ascii(text.Format(static_cast<const VValueBag*>(nullptr), true)));
    EXPECT_EQ("{name}", Ascii(text.Format(empty.fBag, true)));
}

} // namespace
