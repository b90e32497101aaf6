// What the class system offers its callers beside the classes themselves: class-name comparison,
// the keyword texts, the function test and one instance per class in a caller's map.
#include "tests/toolbox/json/JSONClassTestSupport.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(JSONClassTools, EqualClassName)
{
    struct Row
    {
        const char16_t* fName;
        const char16_t* fOther;
        bool fCaseInsensitive;
        bool fEqual;
    };
    const Row rows[] = {
        {u"Blob", u"Blob", false, true},
        {u"Blob", u"blob", false, false},
        {u"Blob", u"bLOB", true, true},
        {u"Blob", u"Blobs", true, false},
        {u"", u"", false, true},
        {u"\u00C9t\u00E9", u"\u00E9t\u00E9", true, false}, // only A-Z fold
        {u"Vector", u"Vect\u00F6r", true, false},
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(row.fEqual, VJSONClassStore::EqualClassName(CVSTR_struct(row.fName),
                                                              CVSTR_struct(row.fOther), row.fCaseInsensitive))
            << Ascii(CVSTR_struct(row.fName)) << " / " << Ascii(CVSTR_struct(row.fOther)) << " "
            << row.fCaseInsensitive;
    }
}

TEST(JSONClassTools, KeywordTexts)
{
    const std::pair<const char16_t*, const char16_t*> keywords[] = {
        {VJSONClass::sFunctionType_init, u"init"},
        {VJSONClass::sFunctionType_init_withSpace, u"init "},
        {VJSONClass::sFunctionProperty_local, u"local"},
        {VJSONClass::sFunctionProperty_exposed, u"exposed"},
        {VJSONClass::sFunctionProperty_onHTTPGet, u"onHTTPGet"},
        {VJSONClass::sFunctionProperty_eventName, u"eventName"},
        {VJSONClass::sFunctionProperty_resultType, u"resultType"},
        {VJSONClass::sFunctionProperty_resultTypeCode, u"resultTypeCode"},
        {VJSONClass::sFunctionProperty_resultClass, u"resultClass"},
        {VJSONClass::sFunctionProperty_shared, u"shared"},
        {VJSONClass::sClassProperty_singleton, u"singleton"},
        {VJSONClass::sClassProperty_session, u"session"},
        {VJSONClass::sClassProperty_aliases, u"aliases"},
        {VJSONClass::sAliasProperty_name, u"name"},
        {VJSONClass::sAliasProperty_path, u"path"},
        {VJSONClass::sClassProperty_properties, u"properties"},
        {VJSONClass::sClassProperty_property_value, u"value"},
        {VJSONClass::sClassProperty_property_type, u"type"},
        {VJSONClass::sClassProperty_property_content, u"content"},
    };
    for (const auto& [keyword, text] : keywords)
    {
        EXPECT_EQ(std::u16string(text), std::u16string(keyword));
    }
}

EJSONStatus Nothing(const VJSONObject*, IJSONFunctionContext*)
{
    return eJSONStatusDone;
}

TEST_F(JSONClass, FunctionsAreFormulas)
{
    VRefPtr<VJSONObject> function(VJSONMemberFunction::Create(Nothing, Str("f"), nullptr, 0), true);
    VJSONValue apply = fStore->GetRootFunctionClass()
                           ->GetProperty(Str("__prototype"))
                           .GetObject()
                           ->GetProperty(Str("apply"));
    VJSONValue plain = MakeObject({});
    struct Row
    {
        const char* fWhat;
        VJSONValue fValue;
        bool fFormula;
    };
    const Row rows[] = {
        {"a native member function", VJSONValue(function.Get()), true},
        {"the root function \"apply\"", apply, true},
        {"a plain object", plain, false},
        {"a class object", VJSONValue(fStore->GetRootFunctionClass()), false},
        {"a number", VJSONValue(1.0), false},
        {"undefined", VJSONValue(), false},
    };
    for (const Row& row : rows)
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(row.fFormula, IsObjectAFormula(row.fValue)) << row.fWhat;
        EXPECT_EQ(row.fFormula, IsObjectAFormula(row.fValue.GetObject())) << row.fWhat;
        EXPECT_EQ(VE_OK, errors.GetLastError()) << row.fWhat;
    }
    EXPECT_FALSE(IsObjectAFormula(static_cast<const VJSONObject*>(nullptr)));

    // Without a process store nothing is a function.
    VJSONClassStore::SetProcessStore(nullptr);
    EXPECT_FALSE(IsObjectAFormula(function.Get()));
    VJSONClassStore::SetProcessStore(fStore);
}

TEST_F(JSONClass, OneInstancePerClassInTheMap)
{
    VJSONObject* pointObject =
        fStore->AddClass(Str("Point"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, 0);
    VJSONObject* lineObject =
        fStore->AddClass(Str("Line"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, 0);
    VRefPtr<VJSONObject> unfinished(VJSONClass::Create(Str("Unfinished"), nullptr, nullptr, Str("zq"), 0),
                                    true);
    VJSONObject* noInstantiatorObject = fStore->AddClass(Str("Abstract"), {}, nullptr, nullptr, nullptr, 0);
    const VJSONClass* point = VJSONClass::CastClassObject(pointObject);
    const VJSONClass* line = VJSONClass::CastClassObject(lineObject);

    std::map<const VJSONClass*, VRefPtr<VJSONObject>> map;
    VRefPtr<VJSONObject> first = GetSingletonFromMap(map, point, nullptr, nullptr);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(u"Point", ClassNameOf(first.Get()));
    EXPECT_EQ(first.Get(), GetSingletonFromMap(map, point, nullptr, nullptr).Get()) << "the same each time";
    // With the caller's function context.
    VJSONFunctionContext context(nullptr, nullptr, nullptr, nullptr, nullptr);
    VRefPtr<VJSONObject> other = GetSingletonFromMap(map, line, nullptr, &context);
    ASSERT_NE(nullptr, other);
    EXPECT_NE(first.Get(), other.Get());
    EXPECT_EQ(u"Line", ClassNameOf(other.Get()));
    EXPECT_EQ(2u, map.size());
    EXPECT_EQ(1u, point->GetCreationCount());

    // Nothing is made, nor stored, for no class, a class not finalized or one without instantiator.
    EXPECT_EQ(nullptr, GetSingletonFromMap(map, nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr,
              GetSingletonFromMap(map, VJSONClass::CastClassObject(unfinished.Get()), nullptr, nullptr));
    {
        StErrorContextInstaller errors(false);
        EXPECT_EQ(nullptr, GetSingletonFromMap(map, VJSONClass::CastClassObject(noInstantiatorObject),
                                               nullptr, nullptr));
        EXPECT_EQ(VE_JSON_NO_INSTANTIATOR, errors.GetLastError());
    }
    EXPECT_EQ(2u, map.size());
}

} // namespace
