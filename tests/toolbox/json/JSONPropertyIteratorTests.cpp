#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Ordered = VJSONPropertyConstOrderedIterator;

VJSONValue Letters(const char* inNames)
{
    VJSONValue object(JSON_object);
    double n = 1;
    for (const char* c = inNames; *c != 0; ++c)
    {
        object.GetObject()->SetProperty(VString(std::string(1, *c).c_str()), VJSONValue(n++));
    }
    return object;
}

// The visited names, sorted: for the iterators in the map's order.
template <class Iterator>
std::u16string SortedNames(Iterator&& ioIterator)
{
    std::vector<std::u16string> names;
    for (; ioIterator.IsValid(); ++ioIterator)
    {
        names.push_back(Text(ioIterator.GetName()));
    }
    std::sort(names.begin(), names.end());
    std::u16string joined;
    for (const auto& name : names)
    {
        joined += (joined.empty() ? u"" : u",") + name;
    }
    return joined;
}

TEST(JSONPropertyIterators, VisitInInsertionOrder)
{
    VJSONValue holder = Letters("bac");
    VJSONObject* object = holder.GetObject();
    EXPECT_EQ(Walk(Ordered(object, Ordered::eOwnPropertiesOnly)), u"b=1,a=2,c=3");
    object->RemoveProperty(Str("a"));
    EXPECT_EQ(Walk(Ordered(object, Ordered::eOwnPropertiesOnly)), u"b=1,c=3");
    object->SetProperty(Str("a"), VJSONValue(4.0));
    object->SetProperty(Str("b"), VJSONValue(5.0));
    EXPECT_EQ(Walk(Ordered(object, 0)), u"b=5,c=3,a=4") << "a replaced value keeps its place";

    EXPECT_EQ(SortedNames(VJSONPropertyConstIterator(object)), u"a,b,c");
    EXPECT_EQ(SortedNames(VJSONPropertyIterator(object)), u"a,b,c");

    EXPECT_FALSE(Ordered(nullptr, 0).IsValid()) << "no object, no property";
    VJSONValue emptyObject(JSON_object);
    Ordered empty(emptyObject.GetObject(), 0);
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(Text(empty.GetName()), u"");
    EXPECT_TRUE(empty.GetValue().IsUndefined());
}

// The object changes while the ordered iterator stands on a property. The iterator never reads a
// freed node (AddressSanitizer tells), skips what was removed and reads values as they are now.
TEST(JSONPropertyIterators, SurviveChangesDuringTheWalk)
{
    struct Row
    {
        const char* fWhat;
        const char* fAt; // the property on which the change is made
        std::function<void(VJSONObject*)> fChange;
        std::u16string fVisited;
        const char16_t* fRemaining; // the object's names afterwards; null: not checked
    };
    const Row rows[] = {
        {"remove the visited property", "b", [](VJSONObject* o) { o->RemoveProperty(Str("b")); },
         u"a=1,b=2,c=3,d=4,e=5", u"a,c,d,e"},
        {"remove a later property", "b", [](VJSONObject* o) { o->RemoveProperty(Str("d")); },
         u"a=1,b=2,c=3,e=5", u"a,b,c,e"},
        {"remove an earlier property", "c", [](VJSONObject* o) { o->RemoveProperty(Str("a")); },
         u"a=1,b=2,c=3,d=4,e=5", u"b,c,d,e"},
        {"remove the rest", "b",
         [](VJSONObject* o)
         {
             for (const char* name : {"c", "d", "e"})
             {
                 o->RemoveProperty(Str(name));
             }
         },
         u"a=1,b=2", u"a,b"},
        {"clear", "b", [](VJSONObject* o) { o->Clear(); }, u"a=1,b=2", u""},
        {"replace a later value", "a",
         [](VJSONObject* o) { o->SetProperty(Str("d"), VJSONValue(Str("new"))); }, u"a=1,b=2,c=3,d=new,e=5",
         u"a,b,c,d,e"},
        {"add enough properties to rehash the map", "a",
         [](VJSONObject* o)
         {
             for (int i = 0; i < 1000; ++i)
             {
                 o->SetProperty(VString(("n" + std::to_string(i)).c_str()), VJSONValue(1.0));
             }
         },
         u"a=1,b=2,c=3,d=4,e=5", nullptr},
        {"remove a later property and add it again", "b",
         [](VJSONObject* o)
         {
             o->RemoveProperty(Str("d"));
             o->SetProperty(Str("d"), VJSONValue(40.0));
         },
         u"a=1,b=2,c=3,d=40,e=5", u"a,b,c,e,d"},
    };
    for (const Row& row : rows)
    {
        VJSONValue holder = Letters("abcde");
        VJSONObject* object = holder.GetObject();
        std::u16string visited;
        for (Ordered i(object, Ordered::eOwnPropertiesOnly); i.IsValid(); ++i)
        {
            std::u16string name = Text(i.GetName());
            visited += (visited.empty() ? u"" : u",") + name + u"=" + TextOf(i.GetValue());
            if (name == Text(Str(row.fAt)))
            {
                row.fChange(object);
                EXPECT_EQ(Text(i.GetName()), name) << row.fWhat << ": the current name stays readable";
                if (!object->HasOwnProperty(Str(row.fAt)))
                {
                    EXPECT_TRUE(i.GetValue().IsUndefined()) << row.fWhat;
                }
            }
        }
        EXPECT_EQ(visited, row.fVisited) << row.fWhat;
        if (row.fRemaining != nullptr)
        {
            EXPECT_EQ(NamesOf(object), row.fRemaining) << row.fWhat;
        }
    }
}

// The iterators in the map's order, removing each property as they visit it.
TEST(JSONPropertyIterators, UnorderedWalksSurviveRemovalOfEachVisitedProperty)
{
    VJSONValue first = Letters("abcdefgh");
    std::u16string names;
    for (VJSONPropertyConstIterator i(first.GetObject()); i.IsValid(); ++i)
    {
        names += Text(i.GetName());
        first.GetObject()->RemoveProperty(i.GetName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, u"abcdefgh");
    EXPECT_TRUE(first.GetObject()->IsEmpty());

    VJSONValue second = Letters("abcdefgh");
    names.clear();
    for (VJSONPropertyIterator i(second.GetObject()); i.IsValid(); ++i)
    {
        names += Text(i.GetName());
        second.GetObject()->RemoveProperty(i.GetName());
        EXPECT_TRUE(i.GetValue().IsUndefined());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, u"abcdefgh");
    EXPECT_TRUE(second.GetObject()->IsEmpty());
}

// Reports the names "x" and "b"; answers "x" (and, when sharable, every name) itself; records what
// is set through it.
class NamingImplementation : public IJSONObject
{
public:
    explicit NamingImplementation(bool inSharable) : fSharable(inSharable) {}
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override
    {
        outNames.push_back(Str("x"));
        outNames.push_back(Str("b"));
        return eJSONStatusDone;
    }
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext*) override
    {
        if (Text(inName) == u"x")
        {
            outValue = VJSONValue(42.0);
            return eJSONStatusDone;
        }
        if (fSharable)
        {
            outValue = VJSONValue(Str("computed"));
            return eJSONStatusDone;
        }
        return eJSONStatusNotHandled;
    }
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext*) override
    {
        if (Text(inName) != u"x")
        {
            return eJSONStatusNotHandled;
        }
        fSet += Text(inName) + u"=" + TextOf(inValue) + u";";
        return eJSONStatusDone;
    }
    bool IJSON_IsSharable(const VJSONObject*, bool& ioSharable) override
    {
        ioSharable = fSharable;
        return fSharable;
    }

    std::u16string fSet;

private:
    bool fSharable;
};

VJSONValue NativeObject(NamingImplementation* inImplementation)
{
    VJSONValue holder(new VJSONObject(inImplementation));
    holder.GetObject()->Release();
    inImplementation->Release();
    holder.GetObject()->SetOwnProperty(Str("b"), VJSONValue(1.0));
    holder.GetObject()->SetOwnProperty(Str("a"), VJSONValue(2.0));
    return holder;
}

TEST(JSONPropertyIterators, ListTheImplementationsNames)
{
    struct Row
    {
        const char* fWhat;
        bool fSharable;
        uint32_t fOptions;
        std::u16string fVisited;
    };
    const Row rows[] = {
        {"the implementation's names first, own properties once", false, 0, u"x=42,b=1,a=2"},
        {"without the implementation's names", false, Ordered::eNoImplementationNames, u"b=1,a=2"},
        {"own properties only", false, Ordered::eOwnPropertiesOnly, u"b=1,a=2"},
        {"without class getters", false, Ordered::eNoClassGetters, u"x=42,b=1,a=2"},
        {"a sharable object is walked by names, read through the implementation", true, 0,
         u"x=42,b=computed,a=computed"},
        {"by names in insertion order also with its own properties only", true, Ordered::eOwnPropertiesOnly,
         u"b=computed,a=computed"},
    };
    for (const Row& row : rows)
    {
        VJSONValue holder = NativeObject(new NamingImplementation(row.fSharable));
        EXPECT_EQ(Walk(Ordered(holder.GetObject(), row.fOptions)), row.fVisited) << row.fWhat;
        EXPECT_EQ(SortedNames(VJSONPropertyConstIterator(holder.GetObject())), u"a,b,x") << row.fWhat;
        EXPECT_EQ(SortedNames(VJSONPropertyIterator(holder.GetObject())), u"a,b,x") << row.fWhat;
    }
    VJSONValue holder = NativeObject(new NamingImplementation(false));
    VJSONPropertyConstIterator unordered(holder.GetObject());
    EXPECT_EQ(Text(unordered.GetName()), u"x") << "listed names come before the entries";
    EXPECT_EQ(unordered.GetValue().GetNumber(), 42);
}

TEST(JSONPropertyIterators, SetValueThroughTheIterator)
{
    auto* implementation = new NamingImplementation(false);
    VJSONValue holder = NativeObject(implementation);
    VJSONObject* object = holder.GetObject();
    object->SetOwnProperty(Str("c"), VJSONValue(3.0));
    for (VJSONPropertyIterator i(object); i.IsValid(); ++i)
    {
        std::u16string name = Text(i.GetName());
        if (name == u"a")
        {
            EXPECT_TRUE(i.SetValue(VJSONValue(JSON_undefined))) << "ignored on an own property";
            EXPECT_EQ(Text(i.GetName()), u"a");
            EXPECT_EQ(i.GetValue().GetNumber(), 2);
        }
        else
        {
            EXPECT_TRUE(i.SetValue(VJSONValue(Str("set"))));
        }
    }
    EXPECT_EQ(NamesOf(object), u"b,a,c") << "no property removed, the order kept";
    EXPECT_EQ(TextOf(object->GetOwnProperty(Str("a"))), u"2");
    EXPECT_EQ(TextOf(object->GetOwnProperty(Str("b"))), u"set");
    EXPECT_EQ(TextOf(object->GetOwnProperty(Str("c"))), u"set");
    EXPECT_FALSE(object->HasOwnProperty(Str("x"))) << "a listed name is set through SetProperty";
    EXPECT_EQ(implementation->fSet, u"x=set;");

    VJSONPropertyIterator end(object);
    while (end.IsValid())
    {
        ++end;
    }
    EXPECT_FALSE(end.SetValue(VJSONValue(1.0))) << "nothing past the end";
}

} // namespace
