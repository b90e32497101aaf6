// Errors made by kernel code keep their parameters in real JSON objects once this library is
// linked.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/errors/ILocalizer.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

class FileLocalizer : public ILocalizer
{
public:
    bool LocalizeErrorMessage(VError inError, VString& outText) override
    {
        if (inError != MakeVError(kCOMPONENT_ZORN, 600))
        {
            return false;
        }
        outText = VString("File {p1} not found in {folder} ({missing}).");
        return true;
    }
};

TEST(JSONErrorParameters, ParametersLiveInAJSONObjectAndFillTheDescription)
{
    VErrorBase error(MakeVError(kCOMPONENT_ZORN, 600));
    error.SetString(Str("p1"), Str("a.txt"));
    error.SetLong(Str("folder"), 42);
    VJSONObject* parameters = error.GetParameters();
    EXPECT_EQ(NamesOf(parameters), u"componentSignature,errCode,p1,folder");
    EXPECT_EQ(TextOf(parameters->GetProperty(Str("componentSignature"))), u"zorn");
    EXPECT_TRUE(parameters->GetProperty(Str("errCode")).IsNumber());
    EXPECT_EQ(parameters->GetProperty(Str("errCode")).GetNumber(), 600);
    EXPECT_TRUE(parameters->GetProperty(Str("folder")).IsNumber());

    FileLocalizer localizer;
    VErrorBase::RegisterLocalizer(kCOMPONENT_ZORN, &localizer);
    VString description;
    error.GetErrorDescription(description);
    VErrorBase::UnregisterLocalizer(kCOMPONENT_ZORN);
    EXPECT_EQ(Text(description), u"File a.txt not found in 42 ().")
        << "placeholders filled, absent one removed";

    // A copy of the error has a deep copy of the parameters.
    VErrorBase copy(error);
    ASSERT_NE(copy.GetParameters(), parameters);
    copy.SetString(Str("p1"), Str("b.txt"));
    EXPECT_EQ(TextOf(parameters->GetProperty(Str("p1"))), u"a.txt");
    EXPECT_EQ(TextOf(copy.GetParameters()->GetProperty(Str("p1"))), u"b.txt");
    EXPECT_EQ(NamesOf(copy.GetParameters()), u"componentSignature,errCode,p1,folder");
}

TEST(JSONErrorParameters, CreateReadsAndCompletesTheParameters)
{
    VJSONValue parameters =
        MakeObject({{"componentSignature", VJSONValue(Str("UPZq"))}, {"errCode", VJSONValue(7.9)}});
    VErrorBase* error = VErrorBase::Create(parameters.GetObject(), kCOMPONENT_ZORN);
    EXPECT_EQ(error->GetError(), MakeVError(kCOMPONENT_UPDATER, 7));
    EXPECT_EQ(error->GetParameters(), parameters.GetObject()) << "the object is retained, not copied";
    error->Release();

    VJSONValue empty(JSON_object);
    error = VErrorBase::Create(empty.GetObject(), kCOMPONENT_XML);
    EXPECT_EQ(error->GetError(), MakeVError(kCOMPONENT_XML, -1));
    EXPECT_EQ(TextOf(empty.GetObject()->GetProperty(Str("componentSignature"))), u"xmlc");
    EXPECT_EQ(empty.GetObject()->GetProperty(Str("errCode")).GetNumber(), -1);
    error->Release();
}

class RaisedErrors : public TaskManagerTest
{
};

TEST_F(RaisedErrors, ThrowErrorStoresItsStringsAsParameters)
{
    StErrorContextInstaller errors;
    VString first("first");
    VString third("third");
    _ThrowError(MakeVError(kCOMPONENT_ZORN, 600), &first, nullptr, &third);
    VErrorBase* error = errors.GetContext()->GetLast();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(NamesOf(error->GetParameters()), u"componentSignature,errCode,p1,p3");
    EXPECT_EQ(TextOf(error->GetParameters()->GetProperty(Str("p3"))), u"third");
}

} // namespace

namespace
{

// An object as name=value pairs in insertion order: strings quoted, numbers and booleans bare.
std::u16string Describe(const VJSONObject* inObject)
{
    std::u16string text;
    for (const auto& property : inObject->GetOwnProperties())
    {
        const VJSONValue& value = property.fValue;
        std::u16string shown = value.IsString() ? u"\"" + TextOf(value) + u"\"" : TextOf(value);
        text += (text.empty() ? u"" : u",") + std::u16string(property.fKey.GetUnits()) + u"=" + shown;
    }
    return text;
}

} // namespace

TEST(JSONErrorForms, CreateJSONObjectCarriesCodeSignatureMessageAndTheTwoOptionalParameters)
{
    struct Row
    {
        const char* fWhat;
        bool fExtra;
        bool fSerious;
        const char16_t* fExpected;
    };
    const Row rows[] = {
        {"neither optional parameter", false, false,
         u"errCode=600,componentSignature=\"zorn\",message=\"Error code: 600 (zorn)\""},
        {"both", true, true,
         u"errCode=600,componentSignature=\"zorn\",message=\"Error code: 600 (zorn)\","
         u"extraDescription=\"on disk 2\",seriousError=true"},
        {"only the serious flag", false, true,
         u"errCode=600,componentSignature=\"zorn\",message=\"Error code: 600 (zorn)\",seriousError=true"},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VErrorBase> error(new VErrorBase(MakeVError(kCOMPONENT_ZORN, 600)), true);
        error->SetString(Str("p1"), Str("not carried"));
        if (row.fExtra)
        {
            error->SetString(Str("extraDescription"), Str("on disk 2"));
        }
        if (row.fSerious)
        {
            error->GetParameters()->SetProperty(Str("seriousError"), VJSONValue(JSON_true));
        }
        VJSONObject* object = error->CreateJSONObject();
        ASSERT_NE(object, nullptr) << row.fWhat;
        EXPECT_EQ(Describe(object), row.fExpected) << row.fWhat;
        object->Release();
    }

    // A frozen description is the message.
    VRefPtr<VErrorBase> described(new VErrorUserGenerated(MakeVError(kCOMPONENT_ZORN, 7), Str("Disk full")),
                                  true);
    VJSONObject* object = described->CreateJSONObject();
    EXPECT_EQ(Describe(object), u"errCode=7,componentSignature=\"zorn\",message=\"Disk full\"");
    object->Release();
}

TEST(JSONErrorForms, SaveToJSONArrayIsUndefinedWhenEmptyElseOneObjectPerErrorOldestFirst)
{
    VRefPtr<VErrorContext> context(new VErrorContext(), true);
    VJSONValue saved(JSON_null);
    context->SaveToJSONArray(saved);
    EXPECT_TRUE(saved.IsUndefined());

    const int32_t numbers[] = {1, 2, 3};
    for (int32_t number : numbers)
    {
        VRefPtr<VErrorBase> error(new VErrorBase(MakeVError(kCOMPONENT_ZORN, number)), true);
        context->PushError(error.Get());
    }
    context->SaveToJSONArray(saved);
    ASSERT_TRUE(saved.IsArray());
    ASSERT_EQ(saved.GetArray()->GetCount(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        VJSONValue element = saved.GetArray()->GetAt(i);
        ASSERT_TRUE(element.IsObject());
        const std::u16string number = Text(VString(std::to_string(numbers[i]).c_str()));
        EXPECT_EQ(Describe(element.GetObject()), u"errCode=" + number +
                                                     u",componentSignature=\"zorn\",message=\"Error code: " +
                                                     number + u" (zorn)\"");
    }
}
