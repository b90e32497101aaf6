// Errors and error contexts saved as value bags and read back, also through the bags' JSON text
// (saved errors are stored as JSON); bags from outside that do not hold a saved error.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "tests/toolbox/kernel/values/BagTestSupport.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Key = VValueBag::StKey;

class ErrorBags : public TaskManagerTest
{
};

std::u16string ParametersText(const VErrorBase& inError)
{
    VString text;
    VJSONValue(inError.GetParameters()).Stringify(text);
    return Text(text);
}

// The bag's JSON text read into a new bag, as a stored error comes back.
VRefPtr<VValueBag> ThroughJSON(const VValueBag& inBag)
{
    VString text;
    inBag.GetJSONString(text);
    VRefPtr<VValueBag> read(new VValueBag(), true);
    EXPECT_EQ(VE_OK, read->FromJSONString(text)) << Ascii(text);
    return read;
}

std::vector<VError> Codes(const VErrorContext& inContext)
{
    std::vector<VError> codes;
    for (const VErrorBase* error : inContext.GetErrorList())
    {
        codes.push_back(error->GetError());
    }
    return codes;
}

constexpr VError kNotFound = MakeVError(kCOMPONENT_ZORN, 600);
constexpr VError kUpdater = MakeVError(kCOMPONENT_UPDATER, -3);

TEST_F(ErrorBags, AnErrorWithParametersComesBackUnchanged)
{
    VRefPtr<VErrorBase> error(new VErrorBase(kUpdater), true);
    error->SetString(Str("p1"), Str("a \"b\".txt"));
    error->SetString(Str("day"), Str("2024-01-31")); // strings that read as dates stay strings in bags
    error->SetString(Str("marked"), Str("!!2024-01-31!!"));
    error->SetLong(Str("count"), -7);
    error->SetLong8(Str("size"), 5000000000);
    VJSONObject* parameters = error->GetParameters();
    parameters->SetProperty(Str("ratio"), VJSONValue(0.125));
    parameters->SetProperty(Str("serious"), VJSONValue(JSON_true));
    parameters->SetProperty(Str("where"), MakeObject({{"folder", VJSONValue(Str("tmp"))}}));
    VJSONValue list(JSON_array);
    list.GetArray()->Push(VJSONValue(1.0));
    list.GetArray()->Push(VJSONValue(Str("two")));
    parameters->SetProperty(Str("list"), list);
    VString mainName;
    Main()->GetName(mainName);
    ASSERT_EQ(Main()->GetID(), error->GetTaskID());

    Bag bag;
    bag->SetLong(Key("error_code"), 1); // replaced in place
    EXPECT_EQ(VE_OK, error->SaveToBag(*bag));
    EXPECT_EQ(VE_OK, error->SaveToBag(*bag)) << "saving again replaces, never adds";
    VString name;
    EXPECT_EQ(VK_LONG8, bag->GetNthAttribute(1, &name)->GetValueKind());
    EXPECT_EQ("error_code", Ascii(name));
    EXPECT_EQ(3, bag->GetAttributesCount());
    ASSERT_NE(nullptr, bag->GetElements(Key("parameters")));
    EXPECT_EQ(1, bag->GetElements(Key("parameters"))->GetCount());

    for (const bool throughJSON : {false, true})
    {
        VRefPtr<VValueBag> read = throughJSON ? ThroughJSON(*bag) : VRefPtr<VValueBag>(bag.fBag);
        VRefPtr<VErrorBase> loaded(new VErrorBase(), true);
        StErrorContextInstaller errors;
        EXPECT_EQ(VE_OK, loaded->LoadFromBag(*read));
        EXPECT_EQ(VE_OK, errors.GetLastError());
        EXPECT_EQ(kUpdater, loaded->GetError()) << throughJSON;
        VString loadedName;
        int32_t loadedID = 0;
        loaded->GetTaskName(loadedName, &loadedID);
        EXPECT_EQ(Main()->GetID(), loadedID);
        EXPECT_EQ(Text(mainName), Text(loadedName));
        EXPECT_EQ(ParametersText(*error), ParametersText(*loaded)) << throughJSON;
    }
}

TEST_F(ErrorBags, RealsAndNestedArraysComeBackAsTheyWere)
{
    // Reals of every bit (0.1 + 0.2 is not 0.3; -0 keeps its sign) and arrays inside arrays, empty
    // ones and objects inside them too.
    VRefPtr<VErrorBase> error(new VErrorBase(kUpdater), true);
    VJSONObject* parameters = error->GetParameters();
    const double third = 1.0 / 3;
    const double sum = 0.1 + 0.2;
    parameters->SetProperty(Str("third"), VJSONValue(third));
    parameters->SetProperty(Str("sum"), VJSONValue(sum));
    parameters->SetProperty(Str("negativeZero"), VJSONValue(-0.0));
    parameters->SetProperty(
        Str("matrix"),
        MakeArray({MakeArray({VJSONValue(1.0), VJSONValue(0.5)}), MakeArray({}),
                   MakeArray({MakeArray({VJSONValue(Str("deep"))}),
                              MakeObject({{"in", MakeArray({MakeArray({VJSONValue(1.25)})})}})})}));
    const std::string matrixText = R"([[1,0.5],[],[["deep"],{"in":[[1.25]]}]])";

    Bag bag;
    ASSERT_EQ(VE_OK, error->SaveToBag(*bag));
    // As saved, through the bag's stream form, and through its JSON text (whose reals other than
    // 1.25 are compared elsewhere: the text's own precision is the writer's).
    const char* ways[] = {"bag", "stream", "JSON text"};
    for (const char* way : ways)
    {
        VRefPtr<VValueBag> read(bag.fBag);
        if (std::string(way) == "stream")
        {
            VPtrStream stream;
            ASSERT_EQ(VE_OK, stream.OpenWriting());
            ASSERT_EQ(VE_OK, bag->WriteToStream(&stream));
            ASSERT_EQ(VE_OK, stream.CloseWriting());
            read.Adopt(new VValueBag());
            ASSERT_EQ(VE_OK, stream.OpenReading());
            ASSERT_EQ(VE_OK, read->ReadFromStream(&stream));
        }
        else if (std::string(way) == "JSON text")
        {
            read = ThroughJSON(*bag);
        }
        VRefPtr<VErrorBase> loaded(new VErrorBase(), true);
        StErrorContextInstaller errors;
        ASSERT_EQ(VE_OK, loaded->LoadFromBag(*read)) << way;
        const VJSONObject* back = loaded->GetParameters();
        VString text;
        back->GetProperty(Str("matrix")).Stringify(text, 1);
        EXPECT_EQ(matrixText, Ascii(text)) << way;
        if (std::string(way) != "JSON text")
        {
            EXPECT_EQ(third, back->GetProperty(Str("third")).GetNumber()) << way;
            EXPECT_EQ(sum, back->GetProperty(Str("sum")).GetNumber()) << way;
            const double zero = back->GetProperty(Str("negativeZero")).GetNumber();
            EXPECT_TRUE(zero == 0 && std::signbit(zero)) << way;
        }
    }
}

TEST_F(ErrorBags, ASavedContextKeepsItsErrorsInOrder)
{
    VRefPtr<VErrorContext> context(new VErrorContext(), true);
    for (VError code : {kNotFound, VE_MEMORY_FULL, kUpdater})
    {
        VRefPtr<VErrorBase> error(new VErrorBase(code), true);
        error->SetString(Str("p1"), Str("x"));
        context->PushError(error.Get());
    }
    Bag bag;
    EXPECT_EQ(VE_OK, context->SaveToBag(*bag));
    VRefPtr<VValueBag> stored = ThroughJSON(*bag);

    VRefPtr<VErrorContext> loaded(new VErrorContext(), true);
    EXPECT_EQ(VE_OK, loaded->LoadFromBag(*stored));
    EXPECT_EQ(Codes(*context), Codes(*loaded));
    EXPECT_TRUE(loaded->IsFailedForMemory());
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(ParametersText(*context->GetErrorList()[i]), ParametersText(*loaded->GetErrorList()[i]));
    }

    // Pushed back on a task, after what it holds already.
    StErrorContextInstaller scope;
    _ThrowError(VE_STREAM_EOF);
    VErrorTaskContext* task = Main()->GetErrorContext(true);
    EXPECT_EQ(VE_OK, task->PushErrorsFromBag(*stored));
    VErrorContext all;
    task->GetErrors(all);
    EXPECT_EQ((std::vector<VError>{VE_STREAM_EOF, kNotFound, VE_MEMORY_FULL, kUpdater}), Codes(all));
}

TEST_F(ErrorBags, BagsThatHoldNoSavedErrorAreRefused)
{
    const char* good = R"({"error_code":8822396011814060632,"task_id":3})"; // 'zorn' 600
    struct Row
    {
        const char* fWhat;
        const char* fBad; // the second of three "error" elements
        const char* fNamed;
    };
    const Row rows[] = {
        {"code as a string", R"({"error_code":"8822396011814060632"})", "error_code"},
        {"code with a fraction", R"({"error_code":1.5})", "error_code"},
        {"code beyond 64 bits", R"({"error_code":99999999999999999999})", "error_code"},
        {"code null", R"({"error_code":null})", "error_code"},
        {"no code", R"({"task_id":3})", "error_code"},
        {"task beyond 32 bits", R"({"error_code":5,"task_id":3000000000})", "task_id"},
        {"task name a number", R"({"error_code":5,"task_name":12})", "task_name"},
        {"parameters that are no object", R"({"error_code":5,"parameters":[3]})", "parameters"},
    };
    for (const Row& row : rows)
    {
        const std::string text = std::string(R"({"error":[)") + good + "," + row.fBad + "," + good + "]}";
        Bag bag;
        ASSERT_EQ(VE_OK, bag->FromJSONString(VString(text.c_str()))) << row.fWhat;

        // A context skips the element; a task stops at it.
        {
            StErrorContextInstaller errors;
            VRefPtr<VErrorContext> context(new VErrorContext(), true);
            EXPECT_EQ(VE_ERROR_BAG_INVALID, context->LoadFromBag(*bag)) << row.fWhat;
            EXPECT_EQ((std::vector<VError>{kNotFound, kNotFound}), Codes(*context)) << row.fWhat;
            ASSERT_EQ(VE_ERROR_BAG_INVALID, errors.GetLastError()) << row.fWhat;
            VString named;
            errors.GetContext()->GetLast()->GetParameters()->GetProperty(Str("p1")).GetString(named);
            EXPECT_EQ(row.fNamed, Ascii(named)) << row.fWhat;
        }
        {
            StErrorContextInstaller errors;
            EXPECT_EQ(VE_ERROR_BAG_INVALID, Main()->GetErrorContext(true)->PushErrorsFromBag(*bag));
            EXPECT_EQ((std::vector<VError>{kNotFound, VE_ERROR_BAG_INVALID}), Codes(*errors.GetContext()))
                << row.fWhat;
        }
        // A refused bag leaves the error as it was. (An error reads a bag without a code, keeping
        // its own: only a saved context's element must have one.)
        if (std::string(row.fWhat) == "no code")
        {
            continue;
        }
        VRefPtr<VErrorBase> error(new VErrorBase(kUpdater), true);
        const std::u16string before = ParametersText(*error);
        StErrorContextInstaller errors(false);
        error->LoadFromBag(*bag->GetElements(Key("error"))->GetNth(2));
        EXPECT_EQ(kUpdater, error->GetError()) << row.fWhat;
        EXPECT_EQ(Main()->GetID(), error->GetTaskID()) << row.fWhat;
        EXPECT_EQ(before, ParametersText(*error)) << row.fWhat;
    }
}

TEST_F(ErrorBags, ErrorStackDescribesEveryErrorOfTheTask)
{
    StErrorContextInstaller outer;
    VRefPtr<VErrorBase> described(new VErrorUserGenerated(kUpdater, Str("Disk gone")), true);
    outer.GetContext()->PushError(described.Get());
    StErrorContextInstaller inner;
    _ThrowError(kNotFound);
    Bag bag;
    Main()->GetErrorContext(true)->BuildErrorStack(*bag);
    VBagArray* stack = bag->GetElements(Key("__ERROR"));
    ASSERT_NE(nullptr, stack);
    ASSERT_EQ(2, stack->GetCount());
    VString json;
    stack->GetNth(1)->GetJSONString(json);
    EXPECT_EQ(R"({"message":"Disk gone","componentSignature":"UPZq","errCode":-3})", Ascii(json));
    stack->GetNth(2)->GetJSONString(json);
    EXPECT_EQ(R"x({"message":"Error code: 600 (zorn)","componentSignature":"zorn","errCode":600})x",
              Ascii(json));
}

} // namespace
