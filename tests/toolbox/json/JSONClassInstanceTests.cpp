// Script classes beyond the core: construction with constructors and the construction level, super
// calls, final functions, singletons, class identifiers and component stores, obsolete classes,
// and the properties of a class object.
#include "tests/toolbox/json/JSONClassTestSupport.h"
#include "toolbox/json/VJSONSuper.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// A context as a script host builds it for a running class function: the scope function is the
// function itself and the scope this object the context's this.
class ScopedContext : public VJSONFunctionContext
{
public:
    ScopedContext(IJSONFunctionContext* inParent, VJSONObject* inFunction, VJSONObject* inThis)
        : VJSONFunctionContext(inThis, nullptr, inParent), fFunction(inFunction), fThis(inThis)
    {
    }
    VJSONObject* GetScopeFunctionObject() const override { return fFunction; }
    VJSONObject* GetScopeThisObject() const override { return fThis; }

private:
    VJSONObject* fFunction;
    VJSONObject* fThis;
};

std::u16string ParameterOf(const StErrorContextInstaller& inErrors, VError inError)
{
    VErrorBase* error = inErrors.Find(inError);
    if (error == nullptr || error->GetParameters() == nullptr)
        return u"";
    return TextOf(error->GetParameters()->GetProperty(Str("p1")));
}

VRefPtr<VJSONObject> NewClass(const char* inName, VJSONObject* inSuper,
                              std::vector<VJSONClass::FunctionDescriptor> inFunctions = {},
                              VJSONClass::NativeFunction inConstructor = nullptr, uint32_t inFlags = 0)
{
    bool shared = (inFlags & (VJSONClass::kShared | VJSONClass::kSessionSingleton)) != 0;
    return VRefPtr<VJSONObject>(
        VJSONClass::Create(Str(inName), inFunctions, inSuper, inConstructor,
                           shared ? VJSONClass::SharedObjectInstantiator : VJSONClass::GenericInstantiator,
                           Str("zq"), inFlags),
        true);
}

VRefPtr<VJSONObject> New(VJSONObject* inClassObject)
{
    VJSONValue made = CallFunction(inClassObject->GetProperty(Str("new")).GetObject(), inClassObject, {});
    return VRefPtr<VJSONObject>(made.GetObject());
}

// ---------------------------------------------------------------------------------------------
// Construction

// What the constructors saw: "C@1" on entry (class, level), "C>3" after the super call.
std::u16string sLog;
std::u16string sSkipping; // the class whose constructor leaves out its super call

EJSONStatus Constructor(const VJSONObject* inFunction, IJSONFunctionContext* ioContext)
{
    VJSONObject* instance = ioContext->GetThisObject();
    VJSONClass* owner = inFunction->GetImplementation()->IJSON_GetFunctionClassOwner(inFunction);
    std::u16string name = Text(owner->GetName());
    sLog += name + u"@" + std::u16string(1, u'0' + instance->GetConstructionLevel()) + u" ";
    if (name == sSkipping)
        return eJSONStatusDone;
    ScopedContext scoped(ioContext, const_cast<VJSONObject*>(inFunction), instance);
    VJSONClass::CallSuperConstructor(&scoped);
    sLog += name + u">" + std::u16string(1, u'0' + instance->GetConstructionLevel()) + u" ";
    return eJSONStatusDone;
}

EJSONStatus InitCount(const VJSONObject* /*inInstance*/, IJSONFunctionContext* ioContext)
{
    ioContext->SetResult(VJSONValue(7.0));
    return eJSONStatusDone;
}

TEST_F(JSONClass, ConstructionOverAThreeLevelChain)
{
    struct Row
    {
        const char* fConstructors; // classes of A <- B <- C with a constructor
        const char16_t* fSkipping;
        std::u16string fLog;
        VError fError;
        bool fInitialised; // A's initialiser ran (only a super call reaching A runs it)
        const char* fWhat;
    };
    const Row rows[] = {
        {"", u"", u"", VE_OK, false, "no constructor: nothing runs"},
        {"ABC", u"", u"C@1 B@1 A@1 A>1 B>2 C>3 ", VE_OK, true,
         "each constructor calls up, levels rise on return"},
        {"AC", u"", u"C@1 A@1 A>1 C>3 ", VE_OK, true, "B without constructor is stepped over"},
        {"B", u"", u"B@2 B>2 ", VE_OK, true, "level starts past the classes without constructor"},
        {"ABC", u"B", u"C@1 B@1 C>3 ", VE_JSON_SUPER_CONSTRUCTOR_SKIPPED, false, "B skips A's constructor"},
        {"AB", u"A", u"B@1 A@1 B>2 ", VE_OK, true, "A's super call may be left out: Object has none"},
    };
    for (const Row& row : rows)
    {
        std::string constructors = row.fConstructors;
        auto constructorOf = [&](char inName)
        { return constructors.find(inName) != std::string::npos ? Constructor : nullptr; };
        VRefPtr<VJSONObject> a =
            NewClass("A", nullptr, {{Str("init count"), InitCount, 0}}, constructorOf('A'));
        VRefPtr<VJSONObject> b = NewClass("B", a.Get(), {}, constructorOf('B'));
        VRefPtr<VJSONObject> c = NewClass("C", b.Get(), {}, constructorOf('C'));
        sLog.clear();
        sSkipping = row.fSkipping;
        StErrorContextInstaller errors;
        VRefPtr<VJSONObject> instance = New(c.Get());
        ASSERT_TRUE(instance) << row.fWhat;
        EXPECT_EQ(sLog, row.fLog) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        EXPECT_EQ(instance->GetConstructionLevel(), 3u) << row.fWhat;
        EXPECT_FALSE(instance->IsUnderConstruction()) << row.fWhat;
        EXPECT_EQ(instance->GetOwnProperty(Str("count")).GetNumber() == 7, row.fInitialised) << row.fWhat;
    }
}

TEST_F(JSONClass, SuperConstructorOutsideAConstructorAndFinalizing)
{
    VRefPtr<VJSONObject> a = NewClass("A", nullptr, {}, Constructor);
    VRefPtr<VJSONObject> b = NewClass("B", a.Get(), {{Str("method"), InitCount, 0}});
    sSkipping.clear();
    VRefPtr<VJSONObject> built = New(b.Get());
    ASSERT_TRUE(built);
    {
        // A built instance: the constructor has returned.
        StErrorContextInstaller errors;
        VJSONFunctionContext caller(nullptr, nullptr, nullptr, nullptr, nullptr);
        VJSONObject* method =
            b->GetProperty(Str("__prototype")).GetObject()->GetOwnProperty(Str("method")).GetObject();
        ScopedContext scoped(&caller, method, built.Get());
        EXPECT_EQ(VJSONClass::CallSuperConstructor(&scoped), eJSONStatusFailed);
        EXPECT_EQ(errors.GetLastError(), VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE_CONSTRUCTOR);
    }
    {
        // No scope class at all.
        StErrorContextInstaller errors;
        VJSONFunctionContext plain(built.Get(), nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(VJSONClass::CallSuperConstructor(&plain), eJSONStatusFailed);
        EXPECT_EQ(errors.GetLastError(), VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE_CONSTRUCTOR);
    }
    {
        // An instance made without construction, on a chain with a constructor.
        VRefPtr<VJSONObject> raw(VJSONClass::CastClassObject(b.Get())->CreateInstance(b.Get(), nullptr),
                                 true);
        StErrorContextInstaller errors;
        EXPECT_EQ(VJSONClass::FinalizeInstance(raw.Get()), VE_JSON_INSTANCE_NEEDS_CONSTRUCTOR);
        EXPECT_EQ(ParameterOf(errors, VE_JSON_INSTANCE_NEEDS_CONSTRUCTOR), u"A");
        EXPECT_EQ(raw->GetConstructionLevel(), 2u);
    }
    VRefPtr<VJSONObject> plain = NewClass("Plain", nullptr);
    VRefPtr<VJSONObject> raw(VJSONClass::CastClassObject(plain.Get())->CreateInstance(plain.Get(), nullptr),
                             true);
    StErrorContextInstaller errors;
    EXPECT_EQ(VJSONClass::FinalizeInstance(raw.Get()), VE_OK);
    EXPECT_EQ(errors.GetLastError(), VE_OK);
    EXPECT_EQ(raw->GetConstructionLevel(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Super calls and final functions

EJSONStatus BaseGreet(const VJSONObject*, IJSONFunctionContext* ioContext)
{
    VString who;
    if (VJSONObject* self = ioContext->GetThisObject())
        self->GetOwnProperty(Str("who")).GetString(who);
    ioContext->SetResult(VJSONValue(Str("base greets ") + who));
    return eJSONStatusDone;
}

TEST_F(JSONClass, SuperMemberCalls)
{
    VRefPtr<VJSONObject> base(VJSONClass::Create(Str("Base"), nullptr, nullptr, Str("zq"), 0), true);
    VJSONClass* baseClass = VJSONClass::CastClassObject(base.Get());
    VRefPtr<VJSONObject> plain(new VJSONObject(nullptr, static_cast<IJSONObject*>(nullptr), true), true);
    baseClass->SetFunctions(
        VJSONClass::NamedFunctions{
            {Str("greet"),
             VRefPtr<VJSONObject>(VJSONMemberFunction::Create(BaseGreet, Str("greet"), baseClass, 0), true)},
            {Str("plain"), plain}},
        nullptr, VJSONClass::GenericInstantiator);
    VRefPtr<VJSONObject> mid = NewClass("Mid", base.Get());
    VRefPtr<VJSONObject> leaf = NewClass("Leaf", mid.Get(), {{Str("greet"), BaseGreet, 0}});
    VRefPtr<VJSONObject> leafGreet(
        leaf->GetProperty(Str("__prototype")).GetObject()->GetOwnProperty(Str("greet")).GetObject());
    VRefPtr<VJSONObject> self = New(leaf.Get());
    self->SetProperty(Str("who"), VJSONValue(Str("leaf")));

    VRefPtr<VJSONObject> super(VJSONSuper::CreateObject(), true);
    struct Row
    {
        const char* fMember;
        bool fInClassFunction;
        VError fError;
        const char16_t* fResult;
    };
    const Row rows[] = {
        {"greet", true, VE_OK, u"base greets leaf"},
        {"missing", true, VE_JSON_NOT_A_NATIVE_FUNCTION, u""},
        {"plain", true, VE_JSON_SUPER_MEMBER_NOT_NATIVE, u""},
        {"greet", false, VE_JSON_SUPER_OUTSIDE_CLASS_FUNCTION, u""},
    };
    for (const Row& row : rows)
    {
        VJSONValue member = super->GetProperty(Str(row.fMember));
        ASSERT_TRUE(member.IsObject()) << row.fMember;
        StErrorContextInstaller errors;
        VJSONFunctionContext caller(nullptr, nullptr, nullptr, nullptr, nullptr);
        ScopedContext scoped(&caller, row.fInClassFunction ? leafGreet.Get() : nullptr, self.Get());
        EJSONStatus status = member.GetObject()->CallAsFunction(&scoped);
        EXPECT_EQ(status, row.fError == VE_OK ? eJSONStatusDone : eJSONStatusFailed) << row.fMember;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fMember;
        VJSONValue result;
        caller.GetResult(result);
        EXPECT_EQ(TextOf(result), row.fResult) << row.fMember;
    }

    VJSONValue member = super->GetProperty(Str("greet"));
    for (VJSONObject* target : {super.Get(), member.GetObject()})
    {
        StErrorContextInstaller errors;
        EXPECT_FALSE(target->SetProperty(Str("x"), VJSONValue(1.0)));
        EXPECT_EQ(errors.GetLastError(), VE_JSON_SUPER_READ_ONLY);
    }
}

EJSONStatus Seal(const VJSONObject*, IJSONFunctionContext* ioContext)
{
    ioContext->SetResult(VJSONValue(Str("sealed")));
    return eJSONStatusDone;
}

TEST_F(JSONClass, OverridingAFinalFunction)
{
    VRefPtr<VJSONObject> base = NewClass("Base", nullptr, {{Str("seal"), Seal, VJSONClass::kFunctionFinal}});
    VRefPtr<VJSONObject> sub = NewClass("Sub", base.Get(), {{Str("seal"), Seal, 0}});
    VRefPtr<VJSONObject> baseInstance = New(base.Get());
    VRefPtr<VJSONObject> subInstance = New(sub.Get());
    EXPECT_TRUE(baseInstance->GetProperty(Str("seal")).GetObject()->GetOwnProperty(Str("final")).GetBool());
    EXPECT_EQ(
        TextOf(CallFunction(baseInstance->GetProperty(Str("seal")).GetObject(), baseInstance.Get(), {})),
        u"sealed");

    StErrorContextInstaller errors;
    EJSONStatus status = eJSONStatusDone;
    VJSONValue result =
        CallFunction(subInstance->GetProperty(Str("seal")).GetObject(), subInstance.Get(), {}, &status);
    EXPECT_EQ(status, eJSONStatusFailed);
    EXPECT_TRUE(result.IsUndefined());
    EXPECT_EQ(errors.GetLastError(), VE_JSON_OVERRIDING_FINAL_FUNCTION);
    EXPECT_EQ(ParameterOf(errors, VE_JSON_OVERRIDING_FINAL_FUNCTION), u"Sub.seal");
}

// ---------------------------------------------------------------------------------------------
// Singletons

TEST_F(JSONClass, Singletons)
{
    VRefPtr<VJSONObject> shared =
        NewClass("Shared", nullptr, {}, nullptr, VJSONClass::kShared | VJSONClass::kSingleton);
    VRefPtr<VJSONObject> first = New(shared.Get());
    ASSERT_TRUE(first);
    EXPECT_EQ(New(shared.Get()).Get(), first.Get());
    EXPECT_EQ(shared->GetProperty(Str("me")).GetObject(), first.Get());
    EXPECT_TRUE(first->IsShared());

    VRefPtr<VJSONObject> session = NewClass("Session", nullptr, {}, nullptr, VJSONClass::kSessionSingleton);
    VRefPtr<VJSONObject> plain = NewClass("PlainSingleton", nullptr, {}, nullptr, VJSONClass::kSingleton);
    EXPECT_FALSE(New(session.Get())) << "no provider";
    EXPECT_FALSE(New(plain.Get())) << "no provider";
    EXPECT_TRUE(shared->GetProperty(Str("isShared")).GetBool());
    EXPECT_TRUE(session->GetProperty(Str("isShared")).GetBool()) << "session implies shared and singleton";

    // The store releases the singletons of its classes (LeakSanitizer sees the rest).
    fStore->AddClass(shared.Get(), 0);
    VJSONClass* sharedClass = VJSONClass::CastClassObject(shared.Get());
    first.Clear();
    EXPECT_EQ(sharedClass->GetInstanceCount(), 1u) << "the slot holds it";
    fStore->ReleaseSingletons();
    EXPECT_EQ(sharedClass->GetInstanceCount(), 0u);
    New(shared.Get()); // a new one, released with the store
}

TEST_F(JSONClass, TasksShareOneSingleton)
{
    VRefPtr<VJSONObject> shared =
        NewClass("Shared", nullptr, {}, nullptr, VJSONClass::kShared | VJSONClass::kSingleton);
    VJSONClass* theClass = VJSONClass::CastClassObject(shared.Get());
    std::vector<VJSONObject*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
    {
        threads.emplace_back([&, t] { seen[t] = theClass->GetInternalSingleton(nullptr, nullptr).Get(); });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::set<VJSONObject*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(theClass->GetCreationCount(), 1u);

    // Readers while another task releases: each reader's object stays alive in its hands.
    threads.clear();
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < 200; ++i)
                {
                    VRefPtr<VJSONObject> singleton = theClass->GetInternalSingleton(nullptr, nullptr);
                    EXPECT_EQ(singleton->GetClass(), theClass);
                }
            });
    }
    threads.emplace_back(
        [&]
        {
            for (int i = 0; i < 200; ++i)
                theClass->ReleaseSingleton();
        });
    for (std::thread& thread : threads)
        thread.join();
    theClass->ReleaseSingleton();
    EXPECT_EQ(theClass->GetInstanceCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Identifiers, component stores and obsolete classes

TEST_F(JSONClass, ClassIdentifiers)
{
    VRefPtr<VJSONClassStore> app(new VJSONClassStore(Str("app")), true);
    VRefPtr<VJSONClassStore> component(new VJSONClassStore(Str("Comp")), true);
    constexpr uint32_t kSharedSingleton = VJSONClass::kShared | VJSONClass::kSingleton;
    VJSONObject* widget =
        app->AddClass(Str("Widget"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, 0);
    app->AddClass(Str("Config"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, kSharedSingleton);
    component->AddClass(Str("Gadget"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator, 0);
    component->AddClass(Str("Prefs"), {}, nullptr, nullptr, VJSONClass::GenericInstantiator,
                        kSharedSingleton);
    app->AddComponentClassStore(Str("Comp"), component.Get());

    struct Row
    {
        const char* fID;
        const char16_t* fFound; // class name, or empty for none
        bool fMatchesWidget;
    };
    const Row rows[] = {
        {"Widget", u"Widget", true},
        {"cs.Widget", u"Widget", true},
        {"CS.Comp.Gadget", u"Gadget", false},
        {"Comp.Gadget", u"Gadget", false},
        {"ZQ.Object", u"Object", true},
        {"zq.Widget", u"", false},
        {"", u"", true},
        {"Nope.Gadget", u"", false},
        {"cs.Nope.Gadget", u"", false},
        {".Widget", u"", false},
    };
    VJSONClass* widgetClass = VJSONClass::CastClassObject(widget);
    for (const Row& row : rows)
    {
        VRefPtr<VJSONObject> found = VJSONClass::GetClassObjectFromID(app.Get(), Str(row.fID));
        EXPECT_EQ(found ? Text(VJSONClass::CastClassObject(found.Get())->GetName()) : u"", row.fFound)
            << row.fID;
        EXPECT_EQ(widgetClass->MatchClassID(app.Get(), Str(row.fID)), row.fMatchesWidget) << row.fID;
    }
    EXPECT_FALSE(VJSONClass::GetClassObjectFromID(nullptr, Str("Widget")));

    EXPECT_EQ(app->GetClassObjectFromIdentifier(Str("Comp.Gadget")).Get(),
              component->GetClassObject(Str("Gadget")).Get());
    EXPECT_EQ(app->GetClassObjectFromIdentifier(Str("Widget")).Get(), widget);
    VRefPtr<VJSONObject> prefs = app->GetSingletonObjectFromIdentifier(Str("Comp.Prefs"), nullptr);
    ASSERT_TRUE(prefs);
    EXPECT_EQ(Text(prefs->GetClass()->GetName()), u"Prefs");
    std::vector<VString> ids;
    app->GetPublicSharedSingletonIdentifiers(ids, Str("app."));
    std::vector<std::u16string> texts;
    for (const VString& id : ids)
        texts.push_back(Text(id));
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"app.Config", u"Comp.Prefs"}));

    // Through the store object: a class, a component store, nothing.
    VRefPtr<VJSONObject> storeObject(new VJSONObject(nullptr, app.Get(), false), true);
    EXPECT_EQ(storeObject->GetProperty(Str("Widget")).GetObject(), widget);
    VJSONValue comp = storeObject->GetProperty(Str("Comp"));
    ASSERT_TRUE(comp.IsObject());
    EXPECT_TRUE(comp.GetObject()->GetProperty(Str("Gadget")).IsObject());
    EXPECT_TRUE(storeObject->GetProperty(Str("None")).IsUndefined());

    app->RemoveComponentClassStores();
    EXPECT_FALSE(app->GetComponentClassStore(Str("Comp")));
    EXPECT_TRUE(app->GetComponentClassStores().empty());
}

TEST_F(JSONClass, RemovingObsoleteClassesWithoutFiles)
{
    VRefPtr<VJSONClassStore> store(new VJSONClassStore(Str("app")), true);
    struct Row
    {
        const char* fName;
        bool fInFileMap;
        bool fObsolete;
        bool fRemoved;
    };
    const Row rows[] = {
        {"Kept", false, false, false},
        {"Named", true, false, true},
        {"Flagged", false, true, true},
        {"Both", true, true, true},
    };
    VJSONClassStore::FileMap files;
    for (const Row& row : rows)
    {
        VJSONObject* classObject = store->AddClass(Str(row.fName), {}, nullptr, nullptr, nullptr, 0);
        if (row.fObsolete)
            VJSONClass::CastClassObject(classObject)->SetObsolete();
        if (row.fInFileMap)
            files[Text(Str(row.fName))] = nullptr;
    }
    // A subclass of an obsolete class is obsolete; a hidden class leaves the all-classes map too.
    VRefPtr<VJSONObject> flagged = store->GetClassObject(Str("Flagged"));
    VRefPtr<VJSONObject> heir(VJSONClass::Create(Str("Heir"), flagged.Get(), nullptr, Str("app"), 0), true);
    store->AddClass(heir.Get(), VJSONClassStore::kNotVisible);

    std::vector<VString> removed;
    store->RemoveObsoleteClasses(files, removed);
    EXPECT_TRUE(removed.empty()) << "only classes that had a file are listed";
    for (const Row& row : rows)
    {
        EXPECT_EQ(!store->GetClassObject(Str(row.fName)), row.fRemoved) << row.fName;
        EXPECT_EQ(!store->GetVisibleClassObject(Str(row.fName)), row.fRemoved) << row.fName;
    }
    EXPECT_FALSE(store->GetClassObject(Str("Heir")));
    EXPECT_EQ(store->GetCount(), 1u);

    // The root classes stay, named or not: the store and every plain object use them.
    fStore->RemoveObsoleteClasses({{u"Object", nullptr}, {u"Function", nullptr}}, removed);
    EXPECT_EQ(fStore->GetCount(), 3u);
    VJSONValue plain(JSON_object);
    EXPECT_EQ(ClassNameOf(plain.GetObject()), u"Object");
}

TEST_F(JSONClass, PropertiesOfAClassObject)
{
    VRefPtr<VJSONObject> first = NewClass("First", nullptr);
    VRefPtr<VJSONObject> thing = NewClass("Thing", first.Get());
    VJSONClass* theClass = VJSONClass::CastClassObject(thing.Get());
    VRefPtr<VJSONObject> instance = New(thing.Get());
    VRefPtr<VJSONObject> single =
        NewClass("Single", nullptr, {}, nullptr, VJSONClass::kShared | VJSONClass::kSingleton);

    EXPECT_EQ(TextOf(thing->GetProperty(Str("name"))), u"Thing");
    EXPECT_EQ(thing->GetProperty(Str("superclass")).GetObject(), first.Get());
    EXPECT_EQ(thing->GetProperty(Str("__prototype")).GetObject(), theClass->GetPrototype());
    EXPECT_TRUE(thing->GetProperty(Str("__file")).IsUndefined()) << "no file";
    EXPECT_EQ(thing->GetProperty(Str("_id")).GetNumber(), first->GetProperty(Str("_id")).GetNumber() + 1);
    EXPECT_GE(first->GetProperty(Str("_id")).GetNumber(), 1.0);
    EXPECT_EQ(thing->GetProperty(Str("_instanceCount")).GetNumber(), 1.0);
    EXPECT_EQ(thing->GetProperty(Str("_creationCount")).GetNumber(), 1.0);
    EXPECT_TRUE(thing->GetProperty(Str("me")).IsUndefined()) << "not a singleton";
    EXPECT_EQ(single->GetProperty(Str("me")).GetObject(), New(single.Get()).Get());
    // The singleton holds its class: outside a store, the class lets it go itself.
    VJSONClass::CastClassObject(single.Get())->ReleaseSingleton();
    for (const char* flag : {"isSingleton", "isShared", "isSessionSingleton"})
    {
        EXPECT_FALSE(thing->GetProperty(Str(flag)).GetBool()) << flag;
    }
    EXPECT_TRUE(single->GetProperty(Str("isSingleton")).GetBool());
    EXPECT_TRUE(single->GetProperty(Str("isShared")).GetBool());
    EXPECT_FALSE(single->GetProperty(Str("isSessionSingleton")).GetBool());

    StErrorContextInstaller errors;
    EXPECT_FALSE(thing->SetProperty(Str("me"), VJSONValue(1.0)));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_READ_ONLY_PROPERTY);
    EXPECT_TRUE(thing->SetProperty(Str("_creationCount"), VJSONValue(41.9)));
    EXPECT_EQ(theClass->GetCreationCount(), 41u);
}

} // namespace
