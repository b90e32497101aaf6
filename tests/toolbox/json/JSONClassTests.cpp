// Script classes: the root classes of a store, finalizing with SetFunctions, instantiation,
// getters and setters through instances, "apply" and "call", and a class object living as long as
// its instances.
#include "tests/toolbox/json/JSONClassTestSupport.h"
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/tasks/VTask.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// Native functions of the test classes.
EJSONStatus GetDouble(const VJSONObject*, IJSONFunctionContext* ioContext)
{
    ioContext->SetResult(VJSONValue(ioContext->GetThisObject()->GetOwnProperty(Str("n")).GetNumber() * 2));
    return eJSONStatusDone;
}

EJSONStatus SetSecret(const VJSONObject*, IJSONFunctionContext* ioContext)
{
    ioContext->GetThisObject()->SetOwnProperty(Str("stored"), ioContext->GetParam(1));
    return eJSONStatusDone;
}

// Answers its this value and its parameters as "this:p1,p2".
EJSONStatus Echo(const VJSONObject*, IJSONFunctionContext* ioContext)
{
    std::u16string text = ioContext->GetThisArray() != nullptr    ? u"array"
                          : ioContext->GetThisObject() != nullptr ? u"object"
                                                                  : u"none";
    text += u":";
    for (int i = 1; i <= ioContext->GetParamCount(); ++i)
    {
        text += (i > 1 ? u"," : u"") + TextOf(ioContext->GetParam(i));
    }
    ioContext->SetResult(VJSONValue(VString(reinterpret_cast<const UniChar*>(text.c_str()))));
    return eJSONStatusDone;
}

VRefPtr<VJSONObject> MakeClass(VJSONObject* inSuper = nullptr)
{
    return VRefPtr<VJSONObject>(
        VJSONClass::Create(
            Str("Thing"),
            {{Str("get double"), GetDouble, 0}, {Str("set secret"), SetSecret, 0}, {Str("echo"), Echo, 0}},
            inSuper, nullptr, VJSONClass::GenericInstantiator, Str("zq"), 0),
        true);
}

TEST_F(JSONClass, RootClassesAndTheClassOfObjects)
{
    VJSONValue plain(JSON_object);
    EXPECT_EQ(ClassNameOf(plain.GetObject()), u"Object");
    EXPECT_TRUE(plain.GetObject()->IsGenericObject());
    for (const char* name : {"Object", "Class", "Function"})
    {
        VRefPtr<VJSONObject> classObject = fStore->GetVisibleClassObject(Str(name));
        ASSERT_TRUE(classObject) << name;
        EXPECT_EQ(ClassNameOf(classObject.Get()), u"Class") << name << "'s class object has the class Class";
        EXPECT_TRUE(VJSONClass::CastClassObject(classObject.Get())->IsFinalized()) << name;
    }
    EXPECT_TRUE(fStore->GetClassObject(Str("FUNCTION"), true));
    EXPECT_FALSE(fStore->GetClassObject(Str("FUNCTION")));
    EXPECT_EQ(fStore->GetClasses().size(), 3u);

    VRefPtr<VJSONObject> thing = MakeClass();
    EXPECT_EQ(ClassNameOf(thing.Get()), u"Class");
    VJSONValue echo = thing->GetProperty(Str("__prototype")).GetObject()->GetOwnProperty(Str("echo"));
    ASSERT_TRUE(echo.IsObject());
    VJSONValue apply = echo.GetObject()->GetProperty(Str("apply"));
    EXPECT_TRUE(apply.IsObject()) << "a member function has the class Function";

    // "new" on a root class: finalized without an instantiator.
    VRefPtr<VJSONObject> object = fStore->GetClassObject(Str("Object"));
    StErrorContextInstaller errors;
    VJSONValue made = CallFunction(object->GetProperty(Str("new")).GetObject(), object.Get(), {});
    EXPECT_TRUE(made.IsNull());
    EXPECT_EQ(errors.GetLastError(), VE_JSON_NO_INSTANTIATOR);
}

TEST_F(JSONClass, CreateRefusesASuperclassThatIsNotAClass)
{
    StErrorContextInstaller errors;
    VJSONValue plain(JSON_object);
    EXPECT_EQ(VJSONClass::Create(Str("Bad"), plain.GetObject(), nullptr, Str("zq"), 0), nullptr);
    EXPECT_EQ(errors.GetLastError(), VE_JSON_SUPERCLASS_NOT_A_CLASS);
}

TEST_F(JSONClass, FinalizingAndInstantiating)
{
    VRefPtr<VJSONObject> open(VJSONClass::Create(Str("Open"), nullptr, nullptr, Str("zq"), 0), true);
    VJSONObject* newFunction = open->GetProperty(Str("new")).GetObject();
    ASSERT_NE(newFunction, nullptr);
    EXPECT_TRUE(CallFunction(newFunction, open.Get(), {}).IsNull()) << "not finalized";

    VJSONClass* theClass = VJSONClass::CastClassObject(open.Get());
    theClass->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{{Str("echo"), Echo, 0}}, nullptr,
                           VJSONClass::GenericInstantiator);
    theClass->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{{Str("other"), Echo, 0}}, nullptr,
                           nullptr);
    VJSONValue instance = CallFunction(newFunction, open.Get(), {});
    ASSERT_TRUE(instance.IsObject());
    EXPECT_EQ(ClassNameOf(instance.GetObject()), u"Open");
    EXPECT_TRUE(instance.GetObject()->GetProperty(Str("echo")).IsObject());
    EXPECT_TRUE(instance.GetObject()->GetProperty(Str("other")).IsUndefined())
        << "a second SetFunctions changes nothing";

    VRefPtr<VJSONObject> refused(VJSONClass::Create(Str("Refused"), {}, nullptr, nullptr,
                                                    VJSONClass::ErrorSharedObjectInstantiator, Str("zq"), 0),
                                 true);
    StErrorContextInstaller errors;
    EXPECT_TRUE(CallFunction(newFunction, refused.Get(), {}).IsNull());
    EXPECT_EQ(errors.GetLastError(), VE_JSON_SHARED_INSTANTIATION_REFUSED);
}

TEST_F(JSONClass, GettersSettersAndInstanceOf)
{
    VRefPtr<VJSONObject> thing = MakeClass();
    VRefPtr<VJSONObject> sub(VJSONClass::Create(Str("Sub"), {}, thing.Get(), nullptr,
                                                VJSONClass::GenericInstantiator, Str("zq"), 0),
                             true);
    VRefPtr<VJSONObject> instance(VJSONClass::CastClassObject(sub.Get())->CreateInstance(sub.Get(), nullptr),
                                  true);
    instance->SetProperty(Str("n"), VJSONValue(21.0));
    EXPECT_EQ(instance->GetProperty(Str("double")).GetNumber(), 42) << "the superclass's getter";
    EXPECT_TRUE(instance->HasProperty(Str("echo"))) << "through the prototype";
    EXPECT_FALSE(instance->IsEmpty());
    EXPECT_FALSE(instance->IsGenericObject());
    {
        StErrorContextInstaller errors;
        EXPECT_FALSE(instance->SetProperty(Str("double"), VJSONValue(1.0))) << "a getter without setter";
        EXPECT_EQ(errors.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);
    }
    EXPECT_TRUE(instance->SetProperty(Str("secret"), VJSONValue(Str("s"))));
    EXPECT_EQ(TextOf(instance->GetOwnProperty(Str("stored"))), u"s");
    EXPECT_TRUE(instance->GetProperty(Str("secret")).IsUndefined()) << "a setter without getter";

    VString name;
    instance->GetClassName(name);
    EXPECT_EQ(Text(name), u"Sub");
    EXPECT_TRUE(instance->IsInstanceOf(fStore->GetClassObject(Str("Object")).Get())) << "two levels up";
    EXPECT_TRUE(instance->IsInstanceOf(thing.Get()));
    EXPECT_FALSE(thing->IsInstanceOf(sub.Get()));
    StErrorContextInstaller errors;
    VJSONValue plain(JSON_object);
    EXPECT_FALSE(instance->IsInstanceOf(plain.GetObject()));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_NOT_A_CLASS_INSTANCE_OF);
}

TEST_F(JSONClass, ApplyAndCall)
{
    VRefPtr<VJSONObject> thing = MakeClass();
    VJSONObject* echo =
        thing->GetProperty(Str("__prototype")).GetObject()->GetOwnProperty(Str("echo")).GetObject();
    ASSERT_NE(echo, nullptr);
    VJSONObject* apply = echo->GetProperty(Str("apply")).GetObject();
    VJSONObject* call = echo->GetProperty(Str("call")).GetObject();
    struct Row
    {
        const char* fWhat;
        VJSONObject* fFunction;
        std::vector<VJSONValue> fParams;
        std::u16string fExpected;
    };
    std::vector<Row> rows = {
        {"apply, an array as this",
         apply,
         {MakeArray({}), MakeArray({VJSONValue(1.0), VJSONValue(2.0)})},
         u"array:1,2"},
        {"apply, an object as this", apply, {MakeObject({}), MakeArray({VJSONValue(3.0)})}, u"object:3"},
        {"apply, a number as this, no list", apply, {VJSONValue(1.0)}, u"none:"},
        {"call with parameters", call, {MakeObject({}), VJSONValue(4.0), VJSONValue(5.0)}, u"object:4,5"},
        {"call without parameters", call, {}, u"none:"},
    };
    for (const Row& row : rows)
    {
        EJSONStatus status = eJSONStatusFailed;
        VJSONValue result = CallFunction(row.fFunction, echo, row.fParams, &status);
        EXPECT_EQ(status, eJSONStatusDone) << row.fWhat;
        EXPECT_EQ(TextOf(result), row.fExpected) << row.fWhat;
    }
    StErrorContextInstaller errors;
    VJSONValue plain(JSON_object);
    EJSONStatus status = eJSONStatusDone;
    CallFunction(apply, plain.GetObject(), {}, &status);
    EXPECT_EQ(status, eJSONStatusFailed);
    EXPECT_EQ(errors.GetLastError(), VE_JSON_NOT_A_NATIVE_FUNCTION);
}

// An instance of a class with the getter "double" (twice its "n").
VRefPtr<VJSONObject> NewDoubler()
{
    VRefPtr<VJSONObject> doubler(VJSONClass::Create(Str("Doubler"), {{Str("get double"), GetDouble, 0}},
                                                    nullptr, nullptr, VJSONClass::GenericInstantiator,
                                                    Str("zq"), 0),
                                 true);
    return VRefPtr<VJSONObject>(
        VJSONClass::CastClassObject(doubler.Get())->CreateInstance(doubler.Get(), nullptr), true);
}

TEST_F(JSONClass, IteratorsListGettersAfterOwnProperties)
{
    VRefPtr<VJSONObject> instance = NewDoubler();
    instance->SetOwnProperty(Str("n"), VJSONValue(3.0));
    instance->SetOwnProperty(Str("a"), VJSONValue(1.0));
    using Ordered = VJSONPropertyConstOrderedIterator;
    EXPECT_EQ(Walk(Ordered(instance.Get(), 0)), u"n=3,a=1,double=6");
    EXPECT_EQ(Walk(Ordered(instance.Get(), Ordered::eNoClassGetters)), u"n=3,a=1");
    EXPECT_EQ(Walk(VJSONPropertyConstIterator(instance.Get())), u"n=3,a=1,double=6");
    EXPECT_EQ(Walk(VJSONPropertyIterator(instance.Get())), u"n=3,a=1,double=6");

    // A getter named like an own property is visited once, as the own property.
    instance->SetOwnProperty(Str("double"), VJSONValue(0.0));
    EXPECT_EQ(Walk(Ordered(instance.Get(), 0)), u"n=3,a=1,double=0");

    std::vector<VString> names;
    VJSONClass::CastClassObject(MakeClass().Get())->GetGetterNames(names);
    std::vector<std::u16string> texts;
    for (const VString& name : names)
    {
        texts.push_back(Text(name));
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"double", u"secret"}))
        << "secret has the write-only getter";
}

// The writer and the description walk the ordered iterator with everything: a getter is a member
// of the text (it used to be left out, {"n":3} for {"n":3,"double":6}).
TEST_F(JSONClass, WriterAndDescriptionIncludeGetters)
{
    struct Row
    {
        const char* fWhat;
        std::function<void(VJSONObject*)> fFill;
        uint32_t fOptions;
        std::u16string fText;
    };
    const Row rows[] = {
        {"after the own properties", [](VJSONObject* o) { o->SetOwnProperty(Str("n"), VJSONValue(3.0)); }, 1,
         u"{\"n\":3,\"double\":6}"},
        {"an instance without own properties is not empty", [](VJSONObject*) {}, 1, u"{\"double\":0}"},
        {"an own property named like the getter is written once",
         [](VJSONObject* o)
         {
             o->SetOwnProperty(Str("n"), VJSONValue(3.0));
             o->SetOwnProperty(Str("double"), VJSONValue(1.0));
         },
         1, u"{\"n\":3,\"double\":1}"},
        {"pretty", [](VJSONObject* o) { o->SetOwnProperty(Str("n"), VJSONValue(2.0)); }, 9,
         u"{\n\t\"n\": 2,\n\t\"double\": 4\n}"},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VJSONObject> instance = NewDoubler();
        row.fFill(instance.Get());
        VJSONValue value;
        value.SetObject(instance.Get());
        VString text;
        ASSERT_EQ(VE_OK, value.Stringify(text, row.fOptions)) << row.fWhat;
        EXPECT_EQ(Text(text), row.fText) << row.fWhat;
        if (row.fOptions == 1)
        {
            instance->GetDescription(text, false);
            EXPECT_EQ(Text(text), row.fText) << row.fWhat;
        }
    }
}

TEST_F(JSONClass, AGettersStampFollowsTheWholeTree)
{
    VRefPtr<VJSONObject> instance = NewDoubler();
    instance->SetProperty(Str("n"), VJSONValue(3.0));
    EXPECT_EQ(instance->GetJSONStamp(), nullptr);
    uint32_t before = instance->GetPropertyStamp(Str("double"));
    ASSERT_NE(instance->GetJSONStamp(), nullptr) << "the tree's counter is made on first need";
    EXPECT_EQ(instance->GetPropertyStamp(Str("double")), before) << "reading changes nothing";
    instance->SetProperty(Str("n"), VJSONValue(4.0));
    EXPECT_NE(instance->GetPropertyStamp(Str("double")), before) << "the value it computes from changed";
    EXPECT_EQ(instance->GetPropertyStamp(Str("missing")), 0u);
}

TEST_F(JSONClass, AClassObjectLivesWhileItsInstancesDo)
{
    VJSONObject* instance = nullptr;
    VJSONClass* theClass = nullptr;
    {
        VRefPtr<VJSONObject> thing = MakeClass();
        theClass = VJSONClass::CastClassObject(thing.Get());
        instance = theClass->CreateInstance(thing.Get(), nullptr);
    }
    EXPECT_EQ(theClass->GetInstanceCount(), 1u);
    EXPECT_EQ(TextOf(instance->GetClassObject()->GetProperty(Str("name"))), u"Thing");
    instance->Release(); // LeakSanitizer checks the class went with it
}

TEST_F(JSONClass, TasksCreateInstancesOfOneClass)
{
    VRefPtr<VJSONObject> thing = MakeClass();
    VJSONClass* theClass = VJSONClass::CastClassObject(thing.Get());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < 200; ++i)
                {
                    VRefPtr<VJSONObject> instance(theClass->CreateInstance(thing.Get(), nullptr), true);
                    EXPECT_EQ(instance->_GetPrototype(), theClass->GetPrototype());
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(theClass->GetInstanceCount(), 0u);
    EXPECT_EQ(theClass->GetCreationCount(), 800u);
}

} // namespace
