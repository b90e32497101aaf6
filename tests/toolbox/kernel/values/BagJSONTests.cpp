// The JSON text of value bags.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Key = VValueBag::StKey;

struct JSONCase
{
    const char* fWhat;
    std::function<void(VValueBag&)> fFill;
    uint32_t fOptions;
    const char* fExpected;
};

void AddChild(VValueBag& ioBag, const char* inName, const std::function<void(VValueBag&)>& inFill)
{
    Bag child;
    inFill(*child);
    ioBag.AddElement(Key(inName), child);
}

TEST(BagJSON, WritesTheExactText)
{
    const JSONCase cases[] = {
        {"empty bag", [](VValueBag&) {}, 0, "{}"},
        {"attributes in order, character data as __CDATA, markers left out",
         [](VValueBag& b)
         {
             b.SetString(Key("s"), "a\"b");
             b.SetString(Key("____objectunic"), "1");
             b.SetLong(Key("n"), 3);
             b.SetBool(Key("t"), true);
             b.SetString(Key("<>"), "text");
             b.SetString(Key("____property_name_in_jsarray"), "p");
         },
         0, R"({"s":"a\"b","n":3,"t":true,"__CDATA":"text"})"},
        {"a one-bag list is an array of one object",
         [](VValueBag& b) { AddChild(b, "c", [](VValueBag& c) { c.SetLong(Key("i"), 1); }); }, 0,
         R"({"c":[{"i":1}]})"},
        {"with ____objectunic it is an object",
         [](VValueBag& b) { AddChild(b, "c", [](VValueBag& c) { c.SetBool(Key("____objectunic"), true); }); },
         0, R"({"c":{}})"},
        {"with option 32 it is an object",
         [](VValueBag& b) { AddChild(b, "c", [](VValueBag& c) { c.SetLong(Key("i"), 1); }); }, 32,
         R"({"c":{"i":1}})"},
        {"option 32 leaves lists of two as arrays",
         [](VValueBag& b)
         {
             AddChild(b, "c", [](VValueBag& c) { c.SetLong(Key("i"), 1); });
             AddChild(b, "c", [](VValueBag& c) { c.SetLong(Key("i"), 2); });
         },
         32, R"({"c":[{"i":1},{"i":2}]})"},
        {"____FakeArrayElement holding 3 is written as 3",
         [](VValueBag& b)
         {
             AddChild(b, "a", [](VValueBag& c) { c.SetLong(Key("____FakeArrayElement"), 3); });
             AddChild(b, "a", [](VValueBag& c) { c.SetString(Key("____FakeArrayElement"), "x"); });
         },
         0, R"({"a":[3,"x"]})"},
        {"pretty: line feeds and tabs",
         [](VValueBag& b)
         {
             b.SetLong(Key("n"), 1);
             AddChild(b, "c", [](VValueBag& c) { c.SetLong(Key("i"), 2); });
         },
         8, "\n{\n\t\"n\" : 1,\n\t\"c\" : \n\t[\n\t\t{\n\t\t\t\"i\" : 2\n\t\t}\n\t]\n}"},
    };
    for (const JSONCase& c : cases)
    {
        Bag bag;
        c.fFill(*bag);
        VString out("stale");
        EXPECT_EQ(VE_OK, bag->GetJSONString(out, c.fOptions)) << c.fWhat;
        EXPECT_EQ(c.fExpected, Ascii(out)) << c.fWhat;
    }
}

} // namespace
