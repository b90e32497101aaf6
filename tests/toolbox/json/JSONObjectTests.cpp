#include "tests/toolbox/json/JSONTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONStamp.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(JSONObject, InsertionOrderSurvivesRemovalAndReplacement)
{
    VJSONValue holder = MakeObject({{"a", VJSONValue(1.0)}, {"b", VJSONValue(2.0)}, {"c", VJSONValue(3.0)}});
    VJSONObject* object = holder.GetObject();
    object->RemoveProperty(Str("a"));
    object->SetProperty(Str("d"), VJSONValue(4.0));
    EXPECT_EQ(NamesOf(object), u"b,c,d");
    object->SetProperty(Str("b"), VJSONValue(Str("new")));
    EXPECT_EQ(NamesOf(object), u"b,c,d") << "a replaced value keeps its place";
    EXPECT_EQ(TextOf(object->GetProperty(Str("b"))), u"new");
    object->RemoveProperty(Str("c"));
    object->SetProperty(Str("a"), VJSONValue(5.0));
    EXPECT_EQ(NamesOf(object), u"b,d,a");
    object->RemoveProperty(Str("missing"));
    EXPECT_EQ(NamesOf(object), u"b,d,a");
}

TEST(JSONObject, UndefinedRemovesAndStoredValuesAreCopies)
{
    VJSONValue holder = MakeObject({{"a", VJSONValue(1.0)}, {"b", VJSONValue(2.0)}});
    VJSONObject* object = holder.GetObject();
    EXPECT_TRUE(object->SetProperty(Str("a"), VJSONValue()));
    EXPECT_FALSE(object->HasOwnProperty(Str("a")));
    EXPECT_EQ(NamesOf(object), u"b");
    EXPECT_TRUE(object->SetOwnProperty(Str("b"), VJSONValue()));
    EXPECT_TRUE(object->IsEmpty());
    EXPECT_TRUE(object->SetProperty(Str("never there"), VJSONValue())) << "removing nothing is still true";

    VJSONValue stored(Str("x"));
    object->SetProperty(Str("s"), stored);
    uint32_t storedStamp = object->GetPropertyStamp(Str("s"));
    EXPECT_GT(storedStamp, stored.GetStamp()) << "the object keeps a copy with its own stamp";
    EXPECT_GT(object->GetProperty(Str("s")).GetStamp(), storedStamp) << "a getter hands out a copy";
    EXPECT_EQ(object->GetPropertyStamp(Str("s")), storedStamp) << "reading changes no stamp";
    object->TouchPropertyStamp(Str("s"));
    EXPECT_GT(object->GetPropertyStamp(Str("s")), storedStamp);
    EXPECT_EQ(object->GetPropertyStamp(Str("absent")), 0u);

    // Without a storage locker "__LockerID" is an ordinary name.
    EXPECT_TRUE(object->SetProperty(Str("__LockerID"), VJSONValue(9.0)));
    EXPECT_EQ(object->GetProperty(Str("__LockerID")).GetNumber(), 9);

    EXPECT_TRUE(object->ClearProperty(Str("s")));
    EXPECT_EQ(object->GetProperty(Str("s")).GetType(), JSON_string);
    EXPECT_EQ(TextOf(object->GetProperty(Str("s"))), u"");
    object->Clear();
    EXPECT_TRUE(object->IsEmpty());
}

TEST(JSONObject, MergeWith)
{
    struct Row
    {
        const char* fWhat;
        bool fOnlyMissing;
        double fA;
        std::u16string fNames;
    };
    const Row rows[] = {
        {"only missing keeps this object's values", true, 1, u"a,b"},
        {"otherwise the other's values win", false, 10, u"a,b"},
    };
    for (const Row& row : rows)
    {
        VJSONValue target = MakeObject({{"a", VJSONValue(1.0)}});
        VJSONValue child(JSON_object);
        VJSONValue other = MakeObject({{"b", child}, {"a", VJSONValue(10.0)}});
        target.GetObject()->MergeWith(other.GetObject(), row.fOnlyMissing);
        EXPECT_EQ(target.GetObject()->GetProperty(Str("a")).GetNumber(), row.fA) << row.fWhat;
        EXPECT_EQ(NamesOf(target.GetObject()), row.fNames) << row.fWhat;
        EXPECT_EQ(target.GetObject()->GetProperty(Str("b")).GetObject(), child.GetObject())
            << row.fWhat << ": containers are shared, not copied";
    }
}

TEST(JSONObject, CloneIsDeepAndKeepsSharingAndCycles)
{
    VJSONValue shared = MakeObject({{"n", VJSONValue(1.0)}});
    VJSONValue list = MakeArray({VJSONValue(Str("x")), shared});
    VJSONValue source =
        MakeObject({{"a", shared}, {"b", shared}, {"list", list}, {"t", VJSONValue(Str("text"))}});
    source.GetObject()->SetProperty(Str("self"), source); // a cycle

    VJSONCloner cloner;
    VJSONValue clone;
    ASSERT_EQ(cloner.CloneObject(source.GetObject(), clone), VE_OK);
    VJSONObject* copy = clone.GetObject();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, source.GetObject());
    EXPECT_EQ(NamesOf(copy), u"a,b,list,t,self");
    VJSONObject* copyOfShared = copy->GetProperty(Str("a")).GetObject();
    EXPECT_NE(copyOfShared, shared.GetObject()) << "deep";
    EXPECT_EQ(copy->GetProperty(Str("b")).GetObject(), copyOfShared) << "what was shared stays shared";
    EXPECT_EQ(copy->GetProperty(Str("self")).GetObject(), copy) << "the cycle leads to the copy";
    VJSONArray* copyOfList = copy->GetProperty(Str("list")).GetArray();
    ASSERT_NE(copyOfList, nullptr);
    EXPECT_NE(copyOfList, list.GetArray());
    EXPECT_EQ(copyOfList->GetAt(1).GetObject(), copyOfShared) << "also through arrays";

    copyOfShared->SetProperty(Str("n"), VJSONValue(2.0));
    EXPECT_EQ(shared.GetObject()->GetProperty(Str("n")).GetNumber(), 1) << "the source is untouched";
    VCompareOptions options;
    EXPECT_FALSE(copy->DeepEqualTo(source.GetObject(), options));
    copyOfShared->SetProperty(Str("n"), VJSONValue(1.0));
    EXPECT_TRUE(copy->DeepEqualTo(source.GetObject(), options));

    // Both cycles are broken so that the objects can be freed.
    source.GetObject()->RemoveProperty(Str("self"));
    copy->RemoveProperty(Str("self"));
}

class FailingCloneImplementation : public IJSONObject
{
public:
    EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>&, bool*,
                                VError* outError) override
    {
        *outError = VE_MEMORY_FULL;
        return eJSONStatusFailed;
    }
};

class SharableImplementation : public IJSONObject
{
public:
    bool IJSON_IsSharable(const VJSONObject*, bool& ioSharable) override
    {
        ioSharable = true;
        return true;
    }
};

TEST(JSONObject, CloneOfNativeObjects)
{
    auto* failing = new FailingCloneImplementation();
    VJSONValue native(new VJSONObject(failing));
    native.GetObject()->Release();
    failing->Release();
    VJSONCloner cloner;
    VJSONValue clone;
    EXPECT_EQ(native.GetObject()->Clone(clone, cloner), VE_MEMORY_FULL)
        << "a native object that cannot copy itself fails the clone";
    EXPECT_TRUE(clone.IsUndefined());

    auto* sharable = new SharableImplementation();
    VJSONValue shared(new VJSONObject(sharable));
    shared.GetObject()->Release();
    sharable->Release();
    VJSONCloner sharing(VJSONCloner::eShareShared);
    ASSERT_EQ(shared.GetObject()->Clone(clone, sharing), VE_OK);
    EXPECT_EQ(clone.GetObject(), shared.GetObject()) << "sharable objects are shared in that mode";
    VJSONCloner copying;
    ASSERT_EQ(shared.GetObject()->Clone(clone, copying), VE_OK);
    EXPECT_NE(clone.GetObject(), shared.GetObject());
}

TEST(JSONObject, DeepEqualTo)
{
    VCompareOptions options;
    auto tree = [](double inLeaf)
    {
        return MakeObject({{"k", VJSONValue(Str("v"))},
                           {"inner", MakeObject({{"x", VJSONValue(inLeaf)}})},
                           {"list", MakeArray({VJSONValue(1.0), MakeObject({})})}});
    };
    struct Row
    {
        const char* fWhat;
        VJSONValue fA;
        VJSONValue fB;
        bool fExpected;
    };
    const Row rows[] = {
        {"equal trees", tree(1), tree(1), true},
        {"different leaf", tree(1), tree(2), false},
        {"property order does not count", MakeObject({{"a", VJSONValue(1.0)}, {"b", VJSONValue(2.0)}}),
         MakeObject({{"b", VJSONValue(2.0)}, {"a", VJSONValue(1.0)}}), true},
        {"missing property", MakeObject({{"a", VJSONValue(1.0)}}), MakeObject({{"b", VJSONValue(1.0)}}),
         false},
        {"different counts", MakeObject({{"a", VJSONValue(1.0)}}), MakeObject({}), false},
        {"null is not undefined", MakeObject({{"a", VJSONValue(JSON_null)}}),
         MakeObject({{"a", VJSONValue(Str(""))}}), false},
        {"arrays of different length", MakeArray({VJSONValue(1.0)}), MakeArray({}), false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fA.DeepEqualTo(row.fB, options), row.fExpected) << row.fWhat;
    }
}

// Two structures that lead back into themselves compare without end unless the pairs on the
// current path are remembered.
TEST(JSONObject, CyclicDeepEqualTerminates)
{
    VCompareOptions options;
    auto ring = [](double inLeaf)
    {
        VJSONValue first = MakeObject({{"leaf", VJSONValue(inLeaf)}});
        VJSONValue second = MakeObject({{"back", first}});
        VJSONValue list = MakeArray({second});
        first.GetObject()->SetProperty(Str("next"), list);
        return first;
    };
    auto breakRing = [](VJSONValue& ioFirst) { ioFirst.GetObject()->RemoveProperty(Str("next")); };
    VJSONValue a = ring(1);
    VJSONValue b = ring(1);
    VJSONValue c = ring(2);
    EXPECT_TRUE(a.DeepEqualTo(b, options));
    EXPECT_FALSE(a.DeepEqualTo(c, options));

    VJSONValue selfA = MakeObject({});
    selfA.GetObject()->SetProperty(Str("me"), selfA);
    VJSONValue selfB = MakeObject({});
    selfB.GetObject()->SetProperty(Str("me"), selfB);
    EXPECT_TRUE(selfA.DeepEqualTo(selfB, options));

    VJSONValue arrayA = MakeArray({VJSONValue(1.0)});
    arrayA.GetArray()->SetAt(1, arrayA, true);
    VJSONValue arrayB = MakeArray({VJSONValue(1.0)});
    arrayB.GetArray()->SetAt(1, arrayB, true);
    EXPECT_TRUE(arrayA.DeepEqualTo(arrayB, options));

    for (VJSONValue* value : {&a, &b, &c})
    {
        breakRing(*value);
    }
    selfA.GetObject()->RemoveProperty(Str("me"));
    selfB.GetObject()->RemoveProperty(Str("me"));
    arrayA.GetArray()->Resize(0, JSON_null);
    arrayB.GetArray()->Resize(0, JSON_null);
}

TEST(JSONObject, TreeStampSpreadsAndCountsChanges)
{
    VJSONValue root(JSON_object);
    auto* stamp = new VJSONStamp();
    root.GetObject()->SetJSONStamp(stamp);
    stamp->Release();
    EXPECT_EQ(stamp->GetRefCount(), 1u);

    VJSONValue grandchild(JSON_object);
    VJSONValue list = MakeArray({grandchild});
    VJSONValue child = MakeObject({{"list", list}});
    uint32_t before = stamp->GetValue();
    root.GetObject()->SetProperty(Str("child"), child);
    EXPECT_EQ(stamp->GetValue(), before + 1);
    EXPECT_EQ(child.GetObject()->GetJSONStamp(), stamp);
    EXPECT_EQ(list.GetArray()->GetJSONStamp(), stamp);
    EXPECT_EQ(grandchild.GetObject()->GetJSONStamp(), stamp) << "every container reachable shares it";

    // Changes deeper in the tree count on the same stamp.
    grandchild.GetObject()->SetProperty(Str("x"), VJSONValue(1.0));
    list.GetArray()->SetAt(1, VJSONValue(2.0), true);
    child.GetObject()->RemoveProperty(Str("list"));
    EXPECT_GE(stamp->GetValue(), before + 4);
}

class NativeImplementation : public IJSONObject
{
public:
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext*) override
    {
        if (Text(inName) == u"computed")
        {
            outValue.SetNumber(42);
            return eJSONStatusDone;
        }
        return eJSONStatusNotHandled;
    }
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& inName, const VJSONValue&,
                                  VDBLanguageContext*) override
    {
        if (Text(inName) == u"readonly")
        {
            return eJSONStatusFailed;
        }
        return eJSONStatusNotHandled;
    }
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override
    {
        outNames.push_back(VString("computed"));
        return eJSONStatusDone;
    }
    EJSONStatus IJSON_GetClassName(const VJSONObject*, VString& outName) override
    {
        outName = VString("Native");
        return eJSONStatusDone;
    }
};

TEST(JSONObject, ImplementationAnswersFirst)
{
    auto* implementation = new NativeImplementation();
    VJSONValue holder(new VJSONObject(implementation));
    holder.GetObject()->Release();
    implementation->Release();
    VJSONObject* object = holder.GetObject();

    EXPECT_EQ(object->GetProperty(Str("computed")).GetNumber(), 42);
    EXPECT_TRUE(object->GetOwnProperty(Str("computed")).IsUndefined());
    EXPECT_TRUE(object->HasProperty(Str("computed")));
    EXPECT_FALSE(object->HasOwnProperty(Str("computed")));
    EXPECT_FALSE(object->IsEmpty()) << "the implementation has names";
    EXPECT_FALSE(object->SetProperty(Str("readonly"), VJSONValue(1.0)));
    EXPECT_FALSE(object->HasOwnProperty(Str("readonly")));
    EXPECT_TRUE(object->SetProperty(Str("plain"), VJSONValue(1.0)));
    EXPECT_TRUE(object->HasProperty(Str("plain")));
    VString name;
    object->GetClassName(name);
    EXPECT_EQ(Text(name), u"Native");
    VJSONValue(JSON_object).GetObject()->GetClassName(name);
    EXPECT_EQ(Text(name), u"Object");
    EXPECT_FALSE(object->SetProperties({{VString("a"), VJSONValue(1.0)},
                                        {VString("readonly"), VJSONValue(2.0)},
                                        {VString("c"), VJSONValue(3.0)}}));
    EXPECT_TRUE(object->HasOwnProperty(Str("a")));
    EXPECT_FALSE(object->HasOwnProperty(Str("c"))) << "setting stops at the first failure";
}

} // namespace
