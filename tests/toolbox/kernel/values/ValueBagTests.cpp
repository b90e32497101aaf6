// Value bags: attributes, element lists, paths, merging, sorting of element names, bag lists and
// the UUID loader.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Key = VValueBag::StKey;

std::vector<std::string> AttributeNames(const VValueBag& inBag)
{
    std::vector<std::string> names;
    VString name;
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        inBag.GetNthAttribute(i, &name);
        names.push_back(Ascii(name));
    }
    return names;
}

std::vector<std::string> ElementNames(const VValueBag& inBag)
{
    std::vector<std::string> names;
    VString name;
    for (int32_t i = 1; i <= inBag.GetElementNamesCount(); ++i)
    {
        inBag.GetNthElementName(i, &name);
        names.push_back(Ascii(name));
    }
    return names;
}

std::string StringOf(const VValueBag& inBag, const char* inKey)
{
    VString value("<missing>");
    inBag.GetString(Key(inKey), value);
    return Ascii(value);
}

TEST(ValueBag, AttributesKeepFirstInsertionOrderAndOneValuePerName)
{
    Bag bag;
    bag->SetString(Key("b"), VString("one"));
    bag->SetLong(Key("a"), 7);
    bag->SetString(Key("b"), VString("a much longer second value")); // another size: a value object
    bag->SetBool(Key("c"), true);
    EXPECT_EQ(AttributeNames(*bag), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(StringOf(*bag, "b"), "a much longer second value");

    int32_t number = -1;
    bool flag = false;
    EXPECT_TRUE(bag->GetLong(Key("a"), number));
    EXPECT_TRUE(bag->GetBool(Key("c"), flag));
    EXPECT_EQ(number, 7);
    EXPECT_TRUE(flag);
    EXPECT_FALSE(bag->GetLong(Key("absent"), number));
    EXPECT_EQ(number, 7) << "a missing attribute leaves the output alone";
    EXPECT_FALSE(bag->SetExistingValue(Key("absent"), VLong(1)));
    EXPECT_FALSE(bag->AttributeExists(Key("absent")));
}

TEST(ValueBag, CDataAppendsToTextAndConvertsOtherKinds)
{
    Bag text;
    text->AppendToCData(VString("ab"));
    text->AppendToCData(VString("cd"));
    EXPECT_EQ(StringOf(*text, "<>"), "abcd");

    Bag number;
    number->SetLong(VValueBag::CDataAttributeName(), 12);
    number->AppendToCData(VString("x"));
    EXPECT_EQ(StringOf(*number, "<>"), "12x");
    EXPECT_EQ(number->GetAttributesCount(), 1);
}

TEST(ValueBag, IsEmptyLooksThroughJSONMarkersOnlyWhenAsked)
{
    Bag bag;
    EXPECT_TRUE(bag->IsEmpty(false));
    bag->SetBool(Key("____objectunic"), true);
    EXPECT_TRUE(bag->IsEmpty(true));
    EXPECT_FALSE(bag->IsEmpty(false));
    bag->SetString(Key("name"), VString("x"));
    EXPECT_FALSE(bag->IsEmpty(true));

    Bag parent;
    Bag child;
    parent->AddElement(Key("c"), child);
    EXPECT_FALSE(parent->IsEmpty(true)) << "an element is never empty";
}

TEST(ValueBag, ReplaceElementKeepsTheOnlyMemberOrReplacesTheList)
{
    Bag parent;
    Bag first;
    Bag second;
    Bag third;
    parent->AddElement(Key("x"), first);
    EXPECT_FALSE(parent->ReplaceElement(Key("x"), first)) << "already the only member";
    EXPECT_EQ(parent->GetElements(Key("x"))->GetCount(), 1);

    parent->AddElement(Key("x"), second);
    EXPECT_TRUE(parent->ReplaceElement(Key("x"), third));
    VBagArray* list = parent->GetElements(Key("x"));
    ASSERT_EQ(list->GetCount(), 1);
    EXPECT_EQ(list->GetNth(1), third.fBag);
    EXPECT_EQ(first->GetRefCount(), 1u) << "the emptied list released its bags";

    // A bag that is in the list being emptied survives being re-added.
    parent->AddElement(Key("x"), second);
    EXPECT_TRUE(parent->ReplaceElement(Key("x"), second));
    EXPECT_EQ(parent->GetElements(Key("x"))->GetNth(1), second.fBag);

    EXPECT_FALSE(parent->ReplaceElement(Key("x"), nullptr));
    EXPECT_EQ(parent->GetElements(Key("x")), nullptr);
    EXPECT_EQ(second->GetRefCount(), 1u);
}

TEST(ValueBag, PathsFollowTheFirstBagOfEachList)
{
    Bag root;
    VValueBag::StKeyPath path;
    VValueBag::GetKeysFromPath(VString("a/b"), path);
    VValueBag* created = root->GetElementByPathAndCreateIfDontExists(path);
    ASSERT_NE(created, nullptr);
    created->SetString(Key("id"), VString("deep"));
    Bag secondB;
    root->GetUniqueElementByPath(VString("a"))->AddElement(Key("b"), secondB);

    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b")), created);
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b/")), created) << "a trailing '/' adds no key";
    EXPECT_EQ(root->GetUniqueElementByPath(VString("")), root.fBag);
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/c")), nullptr);

    VValueBag::GetKeysFromUTF8PathNoCopy("a//b/", path);
    ASSERT_EQ(path.size(), 3u);
    EXPECT_EQ(path[1].GetKeyLength(), 0u) << "an empty segment is the empty key";

    // Removing along a path that does not exist succeeds and changes nothing.
    VValueBag::GetKeysFromPath(VString("nowhere/x"), path);
    EXPECT_TRUE(root->ReplaceElementByPath(path, nullptr));
    EXPECT_EQ(ElementNames(*root), (std::vector<std::string>{"a"}));

    VValueBag::GetKeysFromPath(VString("a/b"), path);
    EXPECT_TRUE(root->ReplaceElementByPath(path, nullptr));
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b")), nullptr);
    EXPECT_FALSE(root->ReplaceElementByPath({}, nullptr));
}

TEST(ValueBag, UniqueElements)
{
    Bag parent;
    Bag one;
    Bag two;
    Bag three;
    VString name("stale");
    EXPECT_EQ(parent->GetUniqueElementAnyKind(name), nullptr);
    EXPECT_EQ(Ascii(name), "");
    parent->AddElement(Key("item"), one);
    EXPECT_EQ(parent->GetUniqueElementAnyKind(name), one.fBag);
    EXPECT_EQ(Ascii(name), "item");

    one->SetString(Key("id"), VString("a"));
    two->SetString(Key("id"), VString("b"));
    parent->AddElement(Key("item"), two);
    parent->AddElement(Key("item"), three); // no "id": compares as the empty string
    VValueBag* found = parent->RetainUniqueElementWithAttribute(Key("item"), Key("id"), VString("b"));
    EXPECT_EQ(found, two.fBag);
    ReleaseRefCountable(&found);
    VValueBag* empty = parent->RetainUniqueElementWithAttribute(Key("item"), Key("id"), VString(""));
    EXPECT_EQ(empty, three.fBag);
    ReleaseRefCountable(&empty);

    three->SetString(Key("id"), VString("b"));
    EXPECT_EQ(parent->RetainUniqueElementWithAttribute(Key("item"), Key("id"), VString("b")), nullptr)
        << "two matches";
    EXPECT_EQ(parent->RetainUniqueElementWithAttribute(Key("none"), Key("id"), VString("b")), nullptr);
}

TEST(ValueBag, OverrideMergesSingleChildrenAndAppendsOtherwise)
{
    // One "x" on each side: the child is merged.
    Bag target;
    Bag targetChild;
    targetChild->SetString(Key("keep"), VString("k"));
    targetChild->SetString(Key("v"), VString("old"));
    target->AddElement(Key("x"), targetChild);
    Bag source;
    Bag sourceChild;
    sourceChild->SetString(Key("v"), VString("new"));
    source->AddElement(Key("x"), sourceChild);
    source->SetLong(Key("top"), 3);
    EXPECT_TRUE(target->Override(source));
    ASSERT_EQ(target->GetElements(Key("x"))->GetCount(), 1);
    EXPECT_EQ(StringOf(*targetChild, "v"), "new");
    EXPECT_EQ(StringOf(*targetChild, "keep"), "k");
    EXPECT_EQ(StringOf(*target, "top"), "3");

    // Two "x" on one side: the other side's children are appended as clones.
    Bag secondChild;
    source->AddElement(Key("x"), secondChild);
    EXPECT_TRUE(target->Override(source));
    VBagArray* list = target->GetElements(Key("x"));
    ASSERT_EQ(list->GetCount(), 3);
    EXPECT_NE(list->GetNth(2), sourceChild.fBag) << "clones, not shared bags";
    EXPECT_EQ(StringOf(*list->GetNth(2), "v"), "new");

    EXPECT_TRUE(target->Override(nullptr));
}

TEST(ValueBag, UnionCloneAndCloneCopyDeeply)
{
    Bag source;
    Bag child;
    child->SetString(Key("name"), VString("c"));
    source->AddElement(Key("kid"), child);
    source->SetString(Key("a"), VString("1"));
    source->SetString(Key("a"), VString("longer than before")); // stale backstore

    Bag target;
    target->SetString(Key("a"), VString("0"));
    EXPECT_TRUE(target->UnionClone(source));
    EXPECT_EQ(StringOf(*target, "a"), "longer than before");
    ASSERT_NE(target->GetUniqueElementByPath(VString("kid")), nullptr);
    EXPECT_NE(target->GetUniqueElementByPath(VString("kid")), child.fBag);

    VValueBag* clone = static_cast<VValueBag*>(source->Clone());
    child->SetString(Key("name"), VString("changed"));
    EXPECT_EQ(StringOf(*clone->GetUniqueElementByPath(VString("kid")), "name"), "c");
    EXPECT_EQ(StringOf(*clone, "a"), "longer than before");
    EXPECT_EQ(clone->GetRefCount(), 1u);
    clone->Release();
}

// Element names of a bag built with children of the given names, after sorting with the table.
std::vector<std::string> Sorted(const std::vector<const char*>& inNames, const StBagElementsOrdering* inTable,
                                const char* inKey)
{
    Bag bag;
    for (const char* name : inNames)
    {
        Bag child;
        bag->AddElement(Key(name), child);
    }
    bag->SortElements(Key(inKey), inTable);
    return ElementNames(*bag);
}

TEST(ValueBag, SortElementsOrdersListedNames)
{
    static const StBagElementsOrdering kTable[] = {
        {"root", {"A", "B"}},
        {nullptr, {}},
    };
    struct Row
    {
        const char* fWhat;
        std::vector<const char*> fNames;
        const char* fKey;
        std::vector<std::string> fExpected;
    };
    const Row rows[] = {
        {"listed names out of order: unlisted first, then the record's order",
         {"B", "A", "X"},
         "root",
         {"X", "A", "B"}},
        {"no listed name out of order: unchanged", {"A", "X"}, "root", {"A", "X"}},
        {"no record for the key: unchanged", {"B", "A"}, "other", {"B", "A"}},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(Sorted(row.fNames, kTable, row.fKey), row.fExpected) << row.fWhat;
    }

    // Children are sorted by the record named like their element.
    static const StBagElementsOrdering kNested[] = {
        {"root", {"kid"}},
        {"kid", {"first", "second"}},
        {nullptr, {}},
    };
    Bag root;
    Bag kid;
    Bag leaf;
    kid->AddElement(Key("second"), leaf);
    kid->AddElement(Key("first"), leaf);
    root->AddElement(Key("kid"), kid);
    root->SortElements(Key("root"), kNested);
    EXPECT_EQ(ElementNames(*kid), (std::vector<std::string>{"first", "second"}));
}

TEST(BagArray, PositionsAreOneBasedAndClamped)
{
    Bag a;
    Bag b;
    Bag front;
    Bag back;
    auto* list = new VBagArray();
    EXPECT_FALSE(list->AddTail(nullptr));
    list->AddTail(a);
    list->AddTail(b);
    EXPECT_TRUE(list->AddNth(front, 0));
    EXPECT_TRUE(list->AddNth(back, 99));
    ASSERT_EQ(list->GetCount(), 4);
    EXPECT_EQ(list->GetNth(1), front.fBag);
    EXPECT_EQ(list->GetNth(4), back.fBag);
    EXPECT_EQ(list->Find(b), 3);
    EXPECT_EQ(a->GetRefCount(), 2u);

    list->SetNth(front, 2); // a is replaced and released
    EXPECT_EQ(a->GetRefCount(), 1u);
    list->Delete(front);
    EXPECT_EQ(list->Find(front), 1) << "Delete removes the first entry only";
    list->DeleteNth(1);
    EXPECT_EQ(front->GetRefCount(), 1u) << "both removals released their references";

    VValueBag* missing = list->RetainNth(42);
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->IsEmpty());
    missing->Release();
    list->Release();
    EXPECT_EQ(b->GetRefCount(), 1u);
}

class Saved : public IBaggable
{
public:
    VError SaveToBag(VValueBag& ioBag, VString& outKind) const override
    {
        ioBag.SetString(VValueBag::StKey("id"), VString("7"));
        outKind = VString("thing");
        return fResult;
    }
    VError fResult = VE_OK;
};

TEST(ValueBag, AddElementFromBaggable)
{
    Bag bag;
    Saved saved;
    EXPECT_EQ(bag->AddElement(&saved), VE_OK);
    EXPECT_EQ(StringOf(*bag->GetUniqueElementByPath(VString("thing")), "id"), "7");
    saved.fResult = VE_MEMORY_FULL;
    EXPECT_EQ(bag->AddElement(&saved), VE_MEMORY_FULL);
    EXPECT_EQ(bag->GetElements(Key("thing"))->GetCount(), 1) << "a failed save adds nothing";
    EXPECT_EQ(bag->AddElement(static_cast<const IBaggable*>(nullptr)), VE_OK);
}

TEST(BagLoader, KeepsOrRegeneratesUUIDs)
{
    Bag withId;
    VUUID original(true);
    withId->SetVUUID(VValueBag::uuid(), original);
    Bag withoutId;

    VBagLoader keep;
    VUUID out;
    EXPECT_TRUE(keep.GetUUID(*withId, out));
    EXPECT_EQ(out, original);
    EXPECT_FALSE(keep.GetUUID(*withoutId, out));
    EXPECT_FALSE(out.IsNull()) << "a new identifier";
    VUUID unchanged = original;
    EXPECT_TRUE(keep.ResolveUUID(unchanged));
    EXPECT_EQ(unchanged, original);

    VBagLoader renew(true);
    VUUID first;
    VUUID again;
    EXPECT_TRUE(renew.GetUUID(*withId, first));
    EXPECT_NE(first, original);
    EXPECT_TRUE(renew.GetUUID(*withId, again));
    EXPECT_EQ(again, first) << "the same old identifier maps to the same new one";
    VUUID resolved = original;
    EXPECT_TRUE(renew.ResolveUUID(resolved));
    EXPECT_EQ(resolved, first);
    VUUID unknown(true);
    EXPECT_FALSE(renew.ResolveUUID(unknown));
}

} // namespace
