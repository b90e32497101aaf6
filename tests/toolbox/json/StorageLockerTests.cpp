// Storage lockers: per-task nested use, waiting through the message queue, and the decisions of
// Assign when a value is stored into a shared container.
#include "tests/toolbox/json/JSONTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONCloner.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONGraph.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/VCompareOptions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

using namespace zorn;
using namespace zorn::test;

namespace
{

using StorageLockerTest = TaskManagerTest;

VRefPtr<VStorageLocker> NewLocker(bool inBound)
{
    VRefPtr<VStorageLocker> locker(new VStorageLocker(), true);
    if (inBound)
    {
        locker->Bind();
    }
    return locker;
}

TEST_F(StorageLockerTest, NestedUseIsGivenBackOncePerUse)
{
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    EXPECT_GE(locker->GetID(), 1U) << "ids start at 1";
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_TRUE(locker->Use());
    }
    std::atomic<int> stage{0};
    std::atomic<bool> tried{true};
    std::atomic<bool> used{false};
    std::atomic<int32_t> workerID{0};
    VRefPtr<VTask> worker = NewTask(
        [&]
        {
            workerID = VTask::GetCurrent()->GetID();
            locker->EndUse(); // not the owner: nothing changes
            tried = locker->TryToUse();
            stage = 1;
            used = locker->Use();
            locker->EndUse();
        });
    ASSERT_TRUE(worker->Run());
    ASSERT_TRUE(WaitFor([&] { return stage == 1; }));
    EXPECT_FALSE(tried) << "TryToUse on a busy locker fails at once";
    EXPECT_EQ(locker->GetOwnerID(), Main()->GetID()) << "EndUse by a non-owner changes nothing";
    EXPECT_EQ(locker->GetUseCount(), 3);
    locker->EndUse();
    locker->EndUse();
    EXPECT_EQ(locker->GetOwnerID(), Main()->GetID()) << "two of three uses given back: still held";
    EXPECT_FALSE(used);
    locker->EndUse();
    ASSERT_TRUE(worker->WaitForDeath(10000));
    EXPECT_TRUE(used) << "the waiter takes the locker once it is free";
    EXPECT_EQ(locker->GetOwnerID(), 0);
    EXPECT_EQ(locker->GetUseCount(), 0);
}

TEST_F(StorageLockerTest, WaitersTakeTurnsAndRunTheirMessages)
{
    // Two waiters: each release wakes both, one wins and the other waits again; each holds the
    // locker alone.
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    ASSERT_TRUE(locker->Use());
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> done{0};
    auto body = [&]
    {
        if (locker->Use())
        {
            int now = ++inside;
            int seen = maxInside.load();
            while (now > seen && !maxInside.compare_exchange_weak(seen, now))
            {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            --inside;
            locker->EndUse();
            ++done;
        }
    };
    VRefPtr<VTask> first = NewTask(body);
    VRefPtr<VTask> second = NewTask(body);
    ASSERT_TRUE(first->Run());
    ASSERT_TRUE(second->Run());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(done, 0);
    locker->EndUse();
    ASSERT_TRUE(first->WaitForDeath(10000));
    ASSERT_TRUE(second->WaitForDeath(10000));
    EXPECT_EQ(done, 2);
    EXPECT_EQ(maxInside, 1) << "never two owners at once";
}

TEST_F(StorageLockerTest, KilledWaiterGivesUpPromptly)
{
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    ASSERT_TRUE(locker->Use());
    std::atomic<int> result{-1};
    VRefPtr<VTask> worker = NewTask([&] { result = locker->Use() ? 1 : 0; });
    ASSERT_TRUE(worker->Run());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    worker->Kill();
    ASSERT_TRUE(worker->WaitForDeath(5000)) << "the waiting task ends without the locker";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(locker->GetOwnerID(), Main()->GetID());
    locker->EndUse();
}

TEST_F(StorageLockerTest, PlainTreesStayFreeWhileALockerIsContended)
{
    // One task holds a locker, a second waits for it, and a third builds and drops a plain tree
    // meanwhile: plain containers take no lock a waiter could be holding.
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    std::atomic<int> stage{0};
    VRefPtr<VTask> holder = NewTask(
        [&]
        {
            VJSONUser user(VRefPtr<VStorageLocker>(locker), false);
            stage = 1;
            WaitFor([&] { return stage == 3; });
        });
    ASSERT_TRUE(holder->Run());
    ASSERT_TRUE(WaitFor([&] { return stage == 1; }));
    std::atomic<bool> waited{false};
    VRefPtr<VTask> waiter = NewTask(
        [&]
        {
            waited = locker->Use();
            locker->EndUse();
        });
    ASSERT_TRUE(waiter->Run());
    VRefPtr<VTask> builder = NewTask(
        [&]
        {
            for (int i = 0; i < 200; ++i)
            {
                VJSONValue tree =
                    MakeObject({{"list", MakeArray({MakeObject({{"n", VJSONValue(1.0 * i)}})})}});
                VJSONValue copy = tree;
                copy.GetObject()->SetProperty(Str("more"), MakeArray({VJSONValue(2.0)}));
            }
            stage = 2;
        });
    ASSERT_TRUE(builder->Run());
    ASSERT_TRUE(builder->WaitForDeath(10000)) << "a plain tree never waits for a locker";
    EXPECT_EQ(stage, 2);
    EXPECT_FALSE(waited);
    stage = 3;
    ASSERT_TRUE(holder->WaitForDeath(10000));
    ASSERT_TRUE(waiter->WaitForDeath(10000));
    EXPECT_TRUE(waited);
}

TEST_F(StorageLockerTest, UserTakesAndGivesBack)
{
    VJSONValue object(JSON_object);
    {
        VJSONUser plain(object);
        EXPECT_TRUE(plain.IsInUse()) << "a plain container needs no locking";
        VJSONUser scalar(VJSONValue(1.0));
        EXPECT_TRUE(scalar.IsInUse());
        EXPECT_EQ(scalar.GetLocker(), nullptr);
    }
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    object.GetObject()->SetStorageLocker(locker.Get());
    {
        VJSONUser outer(object);
        VJSONUser inner(object.GetObject(), true);
        EXPECT_TRUE(outer.IsInUse());
        EXPECT_TRUE(inner.IsInUse()) << "the owner may take its locker again";
        EXPECT_EQ(locker->GetUseCount(), 2);
    }
    EXPECT_EQ(locker->GetOwnerID(), 0);
}

TEST_F(StorageLockerTest, SharedObjectAnswersItsLockerID)
{
    VJSONValue object = MakeObject({{"a", VJSONValue(1.0)}});
    VString name;
    object.GetObject()->GetClassName(name);
    EXPECT_EQ(Text(name), u"Object");
    EXPECT_TRUE(object.GetObject()->GetProperty(Str("__LockerID")).IsUndefined())
        << "plain: an ordinary name";
    VRefPtr<VStorageLocker> locker = NewLocker(false);
    object.GetObject()->SetStorageLocker(locker.Get());
    const auto id = static_cast<double>(locker->GetID());
    EXPECT_EQ(object.GetObject()->GetProperty(Str("__LockerID")).GetNumber(), -id) << "unbound: negated";
    locker->Bind();
    EXPECT_EQ(object.GetObject()->GetProperty(Str("__LockerID")).GetNumber(), id);
    EXPECT_EQ(object.GetObject()->GetOwnCount(), 1U) << "the id is in no property list";
    object.GetObject()->GetClassName(name);
    EXPECT_EQ(Text(name), u"Shared Object");
}

class SharableNative : public IJSONObject
{
public:
    bool IJSON_IsSharable(const VJSONObject*, bool& ioSharable) override
    {
        ioSharable = true;
        return true;
    }
};

// The lockers of a target and a value before and after Assign, by id (0: none).
struct Sharing
{
    VJSONValue fTarget;
    VJSONValue fValue;
};

VStorageLocker* LockerOf(const VJSONValue& inValue)
{
    VRefPtr<VStorageLocker> locker = inValue.GetObject() != nullptr ? inValue.GetObject()->GetStorageLocker()
                                                                    : inValue.GetArray()->GetStorageLocker();
    return locker.Get(); // still held by the container
}

VStorageLocker::Container ContainerOf(const VJSONValue& inValue)
{
    if (inValue.GetObject() != nullptr)
    {
        return inValue.GetObject();
    }
    return inValue.GetArray();
}

bool AssignValues(const Sharing& inSharing)
{
    return VStorageLocker::Assign(ContainerOf(inSharing.fTarget), LockerOf(inSharing.fTarget),
                                  ContainerOf(inSharing.fValue), LockerOf(inSharing.fValue));
}

void Share(const VJSONValue& inContainer, VStorageLocker* inLocker)
{
    if (inContainer.GetObject() != nullptr)
    {
        inContainer.GetObject()->SetStorageLocker(inLocker);
    }
    else
    {
        inContainer.GetArray()->SetStorageLocker(inLocker);
    }
}

TEST_F(StorageLockerTest, AssignTable)
{
    enum class Locker
    {
        kNone,
        kUnbound,
        kBound,
        kClassInternal,
    };
    enum class After
    {
        kUnchanged,
        kValueTakesTarget,
        kTargetTakesValue,
    };
    struct Row
    {
        const char* fWhat;
        JSONType fTargetType;
        Locker fTarget;
        JSONType fValueType;
        Locker fValue;
        bool fSharableNative;
        VError fError; // VE_OK: accepted
        After fAfter;
    };
    const Row rows[] = {
        {"a plain target takes anything", JSON_array, Locker::kNone, JSON_object, Locker::kNone, false, VE_OK,
         After::kUnchanged},
        {"a fresh shared object joins a shared array", JSON_array, Locker::kBound, JSON_object,
         Locker::kUnbound, false, VE_OK, After::kValueTakesTarget},
        {"a bound value's locker is adopted by a fresh shared target", JSON_object, Locker::kUnbound,
         JSON_array, Locker::kBound, false, VE_OK, After::kTargetTakesValue},
        {"an object of another graph", JSON_array, Locker::kBound, JSON_object, Locker::kBound, false,
         VE_JSON_OBJECT_IN_OTHER_GRAPH, After::kUnchanged},
        {"an array of another graph", JSON_object, Locker::kBound, JSON_array, Locker::kBound, false,
         VE_JSON_ARRAY_IN_OTHER_GRAPH, After::kUnchanged},
        {"a plain object into a shared one", JSON_object, Locker::kBound, JSON_object, Locker::kNone, false,
         VE_JSON_NOT_SHARED, After::kUnchanged},
        {"a plain array into a shared one", JSON_array, Locker::kUnbound, JSON_array, Locker::kNone, false,
         VE_JSON_NOT_SHARED, After::kUnchanged},
        {"a sharable native object goes in", JSON_object, Locker::kBound, JSON_object, Locker::kNone, true,
         VE_OK, After::kUnchanged},
        {"class-internal targets take any shared value", JSON_object, Locker::kClassInternal, JSON_array,
         Locker::kBound, false, VE_OK, After::kUnchanged},
    };
    for (const Row& row : rows)
    {
        auto make = [](Locker inKind) -> VRefPtr<VStorageLocker>
        {
            switch (inKind)
            {
            case Locker::kNone:
                return nullptr;
            case Locker::kUnbound:
                return NewLocker(false);
            case Locker::kBound:
                return NewLocker(true);
            case Locker::kClassInternal:
                return VRefPtr<VStorageLocker>(new VStorageLocker(true), true);
            }
            return nullptr;
        };
        Sharing sharing{VJSONValue(row.fTargetType), VJSONValue(row.fValueType)};
        if (row.fSharableNative)
        {
            auto* native = new SharableNative();
            auto* object = new VJSONObject(native);
            sharing.fValue = VJSONValue(object);
            object->Release();
            native->Release();
        }
        VRefPtr<VStorageLocker> targetLocker = make(row.fTarget);
        VRefPtr<VStorageLocker> valueLocker = make(row.fValue);
        Share(sharing.fTarget, targetLocker.Get());
        Share(sharing.fValue, valueLocker.Get());
        StErrorContextInstaller errors;
        EXPECT_EQ(AssignValues(sharing), row.fError == VE_OK) << row.fWhat;
        EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        VStorageLocker* targetAfter =
            row.fAfter == After::kTargetTakesValue ? valueLocker.Get() : targetLocker.Get();
        VStorageLocker* valueAfter =
            row.fAfter == After::kValueTakesTarget ? targetLocker.Get() : valueLocker.Get();
        EXPECT_EQ(LockerOf(sharing.fTarget), targetAfter) << row.fWhat;
        EXPECT_EQ(LockerOf(sharing.fValue), valueAfter) << row.fWhat;
        if (row.fAfter == After::kValueTakesTarget)
        {
            EXPECT_FALSE(valueLocker->IsUnbound()) << row.fWhat << ": the value's old locker is bound";
        }
    }
}

TEST_F(StorageLockerTest, FreshSharedObjectBelongsToTheFirstArrayOnly)
{
    VJSONValue first(JSON_array);
    VJSONValue second(JSON_array);
    VJSONValue object(JSON_object);
    Share(first, NewLocker(true).Get());
    Share(second, NewLocker(true).Get());
    Share(object, NewLocker(false).Get());
    ASSERT_TRUE(AssignValues({first, object}));
    EXPECT_EQ(LockerOf(object), LockerOf(first));
    EXPECT_GT(object.GetObject()->GetSharedID(), 0) << "the first array's locker is bound";
    StErrorContextInstaller errors;
    EXPECT_FALSE(AssignValues({second, object}));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_OBJECT_IN_OTHER_GRAPH);
    EXPECT_EQ(LockerOf(object), LockerOf(first)) << "the object stays in its graph";
}

TEST_F(StorageLockerTest, UnboundValueInUseByAnotherTaskIsRefused)
{
    VJSONValue target(JSON_array);
    VJSONValue value(JSON_object);
    Share(target, NewLocker(true).Get());
    Share(value, NewLocker(false).Get());
    std::atomic<int> stage{0};
    VRefPtr<VTask> worker = NewTask(
        [&]
        {
            VJSONUser user(value);
            stage = 1;
            WaitFor([&] { return stage == 2; });
        });
    ASSERT_TRUE(worker->Run());
    ASSERT_TRUE(WaitFor([&] { return stage == 1; }));
    VStorageLocker* before = LockerOf(value);
    {
        StErrorContextInstaller errors;
        EXPECT_FALSE(AssignValues({target, value}));
        EXPECT_EQ(errors.GetLastError(), VE_JSON_SHARED_VALUE_IN_USE);
    }
    EXPECT_EQ(LockerOf(value), before);
    EXPECT_TRUE(before->IsUnbound());
    stage = 2;
    ASSERT_TRUE(worker->WaitForDeath(10000));
    EXPECT_TRUE(AssignValues({target, value})) << "once given back, the value may join";
}

TEST_F(StorageLockerTest, ClonesTakeTheClonersLockerOrShareSharedContainers)
{
    VJSONValue inner = MakeArray({VJSONValue(1.0)});
    VJSONValue source = MakeObject({{"list", inner}});
    VJSONValue clone;
    {
        VJSONCloner cloner(VJSONCloner::eAssignLocker);
        ASSERT_EQ(source.GetObject()->Clone(clone, cloner), VE_OK);
        VStorageLocker* locker = cloner.GetStorageLockerAndAssignIfNecessary();
        EXPECT_EQ(LockerOf(clone), locker) << "every copy gets the cloner's locker";
        EXPECT_EQ(LockerOf(clone.GetObject()->GetProperty(Str("list"))), locker);
        EXPECT_EQ(LockerOf(source), nullptr) << "the source stays plain";
    }
    EXPECT_NE(LockerOf(clone), nullptr) << "the copies keep the locker after the cloner goes";

    VJSONCloner sharing(VJSONCloner::eShareShared);
    VJSONValue shared;
    ASSERT_EQ(clone.GetObject()->Clone(shared, sharing), VE_OK);
    EXPECT_EQ(shared.GetObject(), clone.GetObject()) << "a shared object is shared, not copied";
    VJSONValue sharedList;
    ASSERT_EQ(clone.GetObject()->GetProperty(Str("list")).GetArray()->Clone(sharedList, sharing), VE_OK);
    EXPECT_EQ(sharedList.GetArray(), clone.GetObject()->GetProperty(Str("list")).GetArray());
    VJSONValue copy;
    ASSERT_EQ(inner.GetArray()->Clone(copy, sharing), VE_OK);
    EXPECT_NE(copy.GetArray(), inner.GetArray()) << "a plain array is copied";
}

// Stores through the containers' own setters: one row per refusal code, and the stores that go in.
// A refused store leaves the target as it was.
TEST_F(StorageLockerTest, SettersOfSharedContainers)
{
    auto newShared = [](JSONType inType)
    {
        VJSONValue value;
        if (inType == JSON_object)
        {
            value.AdoptObject(new VJSONObject(nullptr, true));
        }
        else
        {
            value.AdoptArray(new VJSONArray(true));
        }
        return value;
    };
    auto bound = [&](JSONType inType)
    {
        VJSONValue value = newShared(inType);
        LockerOf(value)->Bind();
        return value;
    };
    auto countOf = [](const VJSONValue& inValue)
    { return inValue.IsObject() ? inValue.GetObject()->GetOwnCount() : inValue.GetArray()->GetCount(); };
    auto store = [](const VJSONValue& inTarget, const VJSONValue& inValue)
    {
        return inTarget.IsObject() ? inTarget.GetObject()->SetProperty(Str("v"), inValue)
                                   : inTarget.GetArray()->Push(inValue);
    };
    struct Row
    {
        const char* fWhat;
        std::function<VJSONValue()> fTarget;
        bool fUseTarget; // the test's task holds the target's locker
        std::function<bool(const VJSONValue&)> fStore;
        VError fError; // VE_OK: stored
    };
    const Row rows[] = {
        {"-10719: a shared object not in use", [&] { return bound(JSON_object); }, false,
         [&](const VJSONValue& inTarget) { return store(inTarget, VJSONValue(1.0)); },
         VE_JSON_OBJECT_NOT_IN_USE},
        {"-10720: a locked array not in use", [&] { return bound(JSON_array); }, false,
         [&](const VJSONValue& inTarget) { return store(inTarget, VJSONValue(1.0)); },
         VE_JSON_ARRAY_NOT_IN_USE},
        {"-10721: a plain object into a shared array", [&] { return bound(JSON_array); }, true,
         [&](const VJSONValue& inTarget) { return store(inTarget, VJSONValue(JSON_object)); },
         VE_JSON_NOT_SHARED},
        {"-10724: an object of another shared graph", [&] { return bound(JSON_array); }, true,
         [&](const VJSONValue& inTarget)
         {
             VJSONValue first = bound(JSON_array);
             VJSONValue object = newShared(JSON_object);
             {
                 VJSONUser user(first);
                 EXPECT_TRUE(store(first, object));
             }
             return store(inTarget, object);
         },
         VE_JSON_OBJECT_IN_OTHER_GRAPH},
        {"-10725: an array of another shared graph", [&] { return bound(JSON_object); }, true,
         [&](const VJSONValue& inTarget) { return store(inTarget, bound(JSON_array)); },
         VE_JSON_ARRAY_IN_OTHER_GRAPH},
        {"-10727: a number into a class-internal object",
         []
         {
             VRefPtr<VStorageLocker> locker(new VStorageLocker(true), true);
             VJSONValue value;
             value.AdoptObject(new VJSONObject(nullptr, locker.Get()));
             return value;
         },
         true, [&](const VJSONValue& inTarget) { return store(inTarget, VJSONValue(1.0)); },
         VE_JSON_SCALAR_IN_CLASS_INTERNAL},
        {"-10753: a fresh shared object another task uses", [&] { return bound(JSON_array); }, true,
         [&](const VJSONValue& inTarget)
         {
             VJSONValue object = newShared(JSON_object);
             std::atomic<int> stage{0};
             VRefPtr<VTask> worker = NewTask(
                 [&]
                 {
                     VJSONUser user(object);
                     stage = 1;
                     WaitFor([&] { return stage == 2; });
                 });
             EXPECT_TRUE(worker->Run());
             EXPECT_TRUE(WaitFor([&] { return stage == 1; }));
             bool stored = store(inTarget, object);
             stage = 2;
             EXPECT_TRUE(worker->WaitForDeath(10000));
             return stored;
         },
         VE_JSON_SHARED_VALUE_IN_USE},
        {"a fresh shared object joins a shared array and takes its locker", [&] { return bound(JSON_array); },
         true,
         [&](const VJSONValue& inTarget)
         {
             VJSONValue object = newShared(JSON_object);
             bool stored = store(inTarget, object);
             EXPECT_EQ(LockerOf(object), LockerOf(inTarget));
             EXPECT_EQ(object.GetObject()->GetGraph(), inTarget.GetArray()->GetGraph());
             EXPECT_TRUE(object.GetObject()->GetGraph()->IsShared());
             return stored;
         },
         VE_OK},
        {"a sharable native object goes into a shared object", [&] { return bound(JSON_object); }, true,
         [&](const VJSONValue& inTarget)
         {
             VRefPtr<SharableNative> native(new SharableNative(), true);
             VJSONValue object;
             object.AdoptObject(new VJSONObject(native.Get()));
             return store(inTarget, object);
         },
         VE_OK},
        {"null goes into a class-internal object",
         []
         {
             VRefPtr<VStorageLocker> locker(new VStorageLocker(true), true);
             VJSONValue value;
             value.AdoptObject(new VJSONObject(nullptr, locker.Get()));
             return value;
         },
         true, [&](const VJSONValue& inTarget) { return store(inTarget, VJSONValue::sNull); }, VE_OK},
    };
    for (const Row& row : rows)
    {
        VJSONValue target = row.fTarget();
        const size_t before = countOf(target);
        bool stored = false;
        {
            VJSONUser user(row.fUseTarget ? target : VJSONValue::sNull);
            StErrorContextInstaller errors;
            stored = row.fStore(target);
            EXPECT_EQ(errors.GetLastError(), row.fError) << row.fWhat;
        }
        EXPECT_EQ(stored, row.fError == VE_OK) << row.fWhat;
        EXPECT_EQ(countOf(target), before + (stored ? 1 : 0)) << row.fWhat << ": a refusal changes nothing";
    }
}

TEST_F(StorageLockerTest, SharedObjectsRefuseChangesOutsideTheirUse)
{
    VJSONValue object;
    object.AdoptObject(new VJSONObject(nullptr, true));
    VJSONValue list;
    list.AdoptArray(new VJSONArray(true));
    {
        VJSONUser user(object);
        ASSERT_TRUE(object.GetObject()->SetProperty(Str("a"), VJSONValue(1.0)));
        ASSERT_TRUE(object.GetObject()->SetProperty(Str("list"), list))
            << "the fresh array takes the object's locker";
        EXPECT_FALSE(object.GetObject()->SetProperty(Str("__LockerID"), VJSONValue(2.0))) << "refused";
        EXPECT_TRUE(object.GetObject()->HasOwnProperty(Str("__LockerID")));
        ASSERT_TRUE(list.GetArray()->Push(VJSONValue(1.0)));
    }
    StErrorContextInstaller errors;
    object.GetObject()->RemoveProperty(Str("a"));
    object.GetObject()->Clear();
    EXPECT_EQ(errors.GetLastError(), VE_JSON_OBJECT_NOT_IN_USE);
    EXPECT_EQ(object.GetObject()->GetOwnCount(), 2U);
    list.GetArray()->RemoveAt(0);
    list.GetArray()->Clear();
    EXPECT_FALSE(list.GetArray()->SetAt(0, VJSONValue(2.0), false));
    EXPECT_FALSE(list.GetArray()->Resize(5, JSON_null));
    EXPECT_EQ(errors.GetLastError(), VE_JSON_ARRAY_NOT_IN_USE);
    struct Ascending : IJSONValueComparator
    {
        bool CompareValues(const VJSONValue& inA, const VJSONValue& inB) override
        {
            return inA.GetNumber() < inB.GetNumber();
        }
    } ascending;
    EXPECT_EQ(list.GetArray()->Sort(&ascending), VE_JSON_ARRAY_NOT_IN_USE);
    EXPECT_EQ(list.GetArray()->GetCount(), 1U);

    // The changing iterator holds the locker while it walks; a shared object is walked by name.
    {
        VJSONPropertyIterator walk(object.GetObject());
        ASSERT_TRUE(walk.IsValid());
        EXPECT_EQ(walk.GetOwnValue(), nullptr) << "listed by name, not by entry";
        EXPECT_TRUE(walk.SetValue(VJSONValue(3.0)));
    }
    EXPECT_EQ(object.GetObject()->GetProperty(Str("a")).GetNumber(), 3.0);
    EXPECT_EQ(LockerOf(object)->GetOwnerID(), 0);
}

TEST_F(StorageLockerTest, MakeValueSharedSpreadsTheLockerOverAPlainTree)
{
    VJSONValue object;
    object.AdoptObject(new VJSONObject(nullptr, true));
    VStorageLocker* locker = LockerOf(object);
    VJSONValue plain = MakeObject({{"list", MakeArray({MakeObject({})})}});
    object.GetObject()->MakeValueSharedIfNecessary(plain);
    EXPECT_EQ(LockerOf(plain), locker);
    VJSONValue list = plain.GetObject()->GetProperty(Str("list"));
    EXPECT_EQ(LockerOf(list), locker);
    EXPECT_EQ(LockerOf(list.GetArray()->GetAt(0)), locker);
    EXPECT_FALSE(locker->IsUnbound()) << "the object's locker is bound in any case";

    // A tree with a container of another bound graph cannot take the locker: nothing changes.
    VJSONValue other = MakeArray({});
    Share(other, NewLocker(true).Get());
    VJSONValue mixed = MakeArray({});
    mixed.GetArray()->Push(other);
    object.GetObject()->MakeValueSharedIfNecessary(mixed);
    EXPECT_EQ(LockerOf(mixed), nullptr);
    EXPECT_NE(LockerOf(other), locker);
}

// Four tasks read and change one shared graph under its locker (and make cycles through it) while
// a fifth takes references to its members under the locker and drops them outside it.
TEST_F(StorageLockerTest, TasksShareAGraphUnderItsLocker)
{
    constexpr int kRounds = 150;
    VJSONValue root;
    root.AdoptObject(new VJSONObject(nullptr, true));
    {
        VJSONUser user(root);
        VJSONValue list;
        list.AdoptArray(new VJSONArray(true));
        ASSERT_TRUE(root.GetObject()->SetProperty(Str("list"), list));
        ASSERT_TRUE(root.GetObject()->SetProperty(Str("n"), VJSONValue(0.0)));
    }
    std::atomic<bool> stop{false};
    auto writer = [&]
    {
        for (int i = 0; i < kRounds; ++i)
        {
            VJSONUser user(root);
            VJSONObject* object = root.GetObject();
            object->SetProperty(Str("n"), VJSONValue(object->GetProperty(Str("n")).GetNumber() + 1));
            VJSONValue item;
            item.AdoptObject(new VJSONObject(nullptr, true));
            VJSONArray* list = object->GetProperty(Str("list")).GetArray();
            list->Push(item);
            item.GetObject()->SetProperty(Str("root"), root); // a cycle through the root
            if (list->GetCount() > 8)
            {
                list->RemoveAt(0);
            }
        }
    };
    std::vector<VRefPtr<VTask>> tasks;
    for (int i = 0; i < 4; ++i)
    {
        tasks.push_back(NewTask(writer));
    }
    VRefPtr<VTask> dropper = NewTask(
        [&]
        {
            while (!stop)
            {
                VJSONValue list;
                VJSONValue item;
                {
                    VJSONUser user(root);
                    list = root.GetObject()->GetProperty(Str("list"));
                    item = list.GetArray()->GetAt(0);
                }
                // Released without the locker: under the graph lock only.
                item.SetNull();
                list.SetNull();
            }
        });
    for (VRefPtr<VTask>& task : tasks)
    {
        ASSERT_TRUE(task->Run());
    }
    ASSERT_TRUE(dropper->Run());
    for (VRefPtr<VTask>& task : tasks)
    {
        ASSERT_TRUE(task->WaitForDeath(60000));
    }
    stop = true;
    ASSERT_TRUE(dropper->WaitForDeath(10000));
    VJSONUser user(root);
    EXPECT_EQ(root.GetObject()->GetProperty(Str("n")).GetNumber(), 4.0 * kRounds);
    EXPECT_EQ(root.GetObject()->GetProperty(Str("list")).GetArray()->GetCount(), 8U);
    EXPECT_TRUE(root.GetObject()->GetGraph()->HasCycle());
}

// One task holds the locker and changes a shared object all the while (members replaced and
// removed, a nested list grown and shrunk); another writes it, describes it, compares it and
// touches its stamps meanwhile. Every read takes the read lock (the writer's walk too), so the
// readers never see a value being freed: these reads gave heap-use-after-free before.
TEST_F(StorageLockerTest, ReadersOfASharedObjectWhileItsHolderChangesIt)
{
    constexpr int kRounds = 300;
    VJSONValue root;
    root.AdoptObject(new VJSONObject(nullptr, true));
    VJSONValue other;
    other.AdoptObject(new VJSONObject(nullptr, true));
    {
        VJSONUser user(root);
        VJSONValue list;
        list.AdoptArray(new VJSONArray(true));
        ASSERT_TRUE(root.GetObject()->SetProperty(Str("list"), list));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    VRefPtr<VTask> holder = NewTask(
        [&]
        {
            VJSONUser user(root);
            VJSONObject* object = root.GetObject();
            VJSONArray* list = object->GetProperty(Str("list")).GetArray();
            for (int i = 0; i < kRounds; ++i)
            {
                // Strings longer than the inline room, so that each replaced one is freed.
                VString text("a value long enough to live in a buffer of its own, round ");
                text.AppendLong(i);
                object->SetProperty(Str(i % 2 == 0 ? "s0" : "s1"), VJSONValue(text));
                object->RemoveProperty(Str(i % 3 == 0 ? "s0" : "gone"));
                VJSONValue item(JSON_object);
                item.GetObject()->SetProperty(Str("text"), VJSONValue(text));
                list->Push(item);
                if (list->GetCount() > 6)
                {
                    list->RemoveAt(0);
                }
            }
            stop = true;
        });
    VRefPtr<VTask> reader = NewTask(
        [&]
        {
            VCompareOptions options;
            while (!stop || reads == 0)
            {
                VJSONObject* object = root.GetObject();
                VString text;
                EXPECT_EQ(VE_OK, root.Stringify(text, VJSONWriter::kQuoted));
                object->GetDescription(text, true);
                EXPECT_FALSE(object->DeepEqualTo(other.GetObject(), options));
                EXPECT_FALSE(object->IsEmpty());
                object->TouchPropertyStamp(Str("s1"));
                VJSONValue list = object->GetProperty(Str("list"));
                list.GetArray()->GetString(text, nullptr);
                list.GetArray()->TouchStampAt(0);
                EXPECT_FALSE(list.GetArray()->DeepEqualTo(nullptr, options));
                ++reads;
            }
        });
    ASSERT_TRUE(holder->Run());
    ASSERT_TRUE(reader->Run());
    ASSERT_TRUE(holder->WaitForDeath(60000));
    ASSERT_TRUE(reader->WaitForDeath(60000));
    EXPECT_GT(reads.load(), 0);
}

} // namespace
