// The metrics manager, the progress manager's registry and the metrics of closed sessions, and the
// lock order of the progress classes.
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VMetricsManager.h"
#include "toolbox/process/VProcess.h"
#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VProgressManager.h"

#include <gtest/gtest.h>

using namespace zorn;

namespace
{

constexpr uint32_t kProgressBit = 1u << eMetricsKind_Progress;

VJSONObject* NewObject(const char* inName, double inValue)
{
    auto* object = new VJSONObject();
    object->SetProperty(VString(inName), VJSONValue(inValue));
    return object;
}

VJSONObject* ElementObject(const VJSONArray& inArray, size_t inIndex)
{
    return inArray.GetAt(inIndex).GetObject();
}

TEST(MetricsManager, RecordsOnlyStartedKindsOfLongEnoughActivities)
{
    VMetricsManager metrics;
    VRefPtr<VJSONObject> data(NewObject("n", 1), true);
    metrics.Push(eMetricsKind_Progress, 500, data.Get());
    EXPECT_EQ(metrics.GetCount(), 0u) << "nothing is recorded before Start";
    EXPECT_EQ(data->GetRefCount(), 1u) << "a dropped push takes no reference";

    EXPECT_TRUE(metrics.Start(100, kProgressBit));
    struct Row
    {
        const char* fWhat;
        EMetricsKind fKind;
        uint64_t fDuration;
        bool fKept;
    };
    const Row rows[] = {
        {"equal to the minimum", eMetricsKind_Progress, 100, true},
        {"below the minimum", eMetricsKind_Progress, 99, false},
        {"a kind not started", static_cast<EMetricsKind>(1), 1000, false},
        {"a kind 32 apart maps to the same bit", static_cast<EMetricsKind>(34), 1000, true},
    };
    for (const Row& row : rows)
    {
        size_t before = metrics.GetCount();
        metrics.Push(row.fKind, row.fDuration, data.Get());
        EXPECT_EQ(metrics.GetCount(), before + (row.fKept ? 1 : 0)) << row.fWhat;
    }
    EXPECT_EQ(data->GetRefCount(), 3u) << "each kept push holds a reference";
    metrics.Reset();
    EXPECT_EQ(data->GetRefCount(), 1u);
    EXPECT_EQ(metrics.GetCount(), 0u);
    metrics.Push(eMetricsKind_Progress, 500, data.Get());
    EXPECT_EQ(metrics.GetCount(), 0u) << "Reset stops recording";
}

TEST(MetricsManager, CollectsDeepCopiesAndKeepsTheRecords)
{
    VMetricsManager metrics;
    metrics.Start(0, kProgressBit);
    VRefPtr<VJSONObject> data(NewObject("files", 3), true);
    metrics.Push(eMetricsKind_Progress, 1500, data.Get());
    metrics.Push(eMetricsKind_Progress, 20, nullptr);

    VRefPtr<VJSONArray> first(metrics.Collect(), true);
    VRefPtr<VJSONArray> second(metrics.Collect(), true);
    ASSERT_EQ(first->GetCount(), 2u);
    VString firstText;
    VString secondText;
    VJSONValue(first.Get()).GetString(firstText);
    VJSONValue(second.Get()).GetString(secondText);
    EXPECT_EQ(to_string(firstText), to_string(secondText)) << "collecting twice gives the same records";

    VJSONObject* record = ElementObject(*first, 0);
    EXPECT_EQ(record->GetProperty(VString("activityKind")).GetNumber(), 4) << "2 to the power of the kind";
    EXPECT_EQ(record->GetProperty(VString("activityDuration")).GetNumber(), 1.5) << "seconds";
    VJSONObject* copy = record->GetProperty(VString("activityData")).GetObject();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, data.Get()) << "a deep copy, not the pushed object";
    EXPECT_EQ(copy->GetProperty(VString("files")).GetNumber(), 3);
    EXPECT_FALSE(ElementObject(*first, 1)->HasOwnProperty(VString("activityData")))
        << "pushed without an object";
}

// A registry with a process (for its metrics manager) for each test.
class ProgressManagerTest : public ::testing::Test
{
protected:
    void SetUp() override { VProgressManager::Init(); }
    void TearDown() override { VProgressManager::Deinit(); }

    VMetricsManager& Metrics() { return *fProcess.GetMetricsManager(); }

    VProcess fProcess;
};

TEST_F(ProgressManagerTest, RegistersEachIdOnce)
{
    VUUID id(true);
    VRefPtr<VProgressIndicator> first(new VProgressIndicator(id, 0), true);
    {
        VProgressIndicator second(id, 0);
        EXPECT_EQ(VProgressManager::Get()->GetCount(), 1u);
        VRefPtr<VProgressIndicator> found(VProgressManager::RetainProgress(id), true);
        EXPECT_EQ(found.Get(), first.Get()) << "the first registration stays";
    }
    VRefPtr<VProgressIndicator> found(VProgressManager::RetainProgress(id), true);
    EXPECT_EQ(found.Get(), first.Get()) << "the duplicate's end does not remove the first";
    found.Clear();
    first.Clear();
    EXPECT_EQ(VProgressManager::Get()->GetCount(), 0u);
    EXPECT_EQ(VProgressManager::RetainProgress(id), nullptr);
}

TEST_F(ProgressManagerTest, IndicatorsOutsideTheManagersLifeAreNotRegistered)
{
    VProgressManager::Deinit();
    VProgressIndicator before;
    VProgressManager::Init();
    EXPECT_EQ(VProgressManager::RetainProgress(before.GetID()), nullptr);
    EXPECT_EQ(VProgressManager::Get()->GetCount(), 0u);
}

TEST_F(ProgressManagerTest, FindsIndicatorsByUserInfo)
{
    VProgressIndicator a;
    VProgressIndicator b;
    a.SetUserInfo(VString("import"));
    b.SetUserInfo(VString("export"));
    b.SetTitle(VString("Exporting"));
    VRefPtr<VProgressIndicator> found(VProgressManager::_RetainProgressIndicator(VString("export")), true);
    EXPECT_EQ(found.Get(), &b);
    found.Clear();
    EXPECT_EQ(VProgressManager::_RetainProgressIndicator(VString("backup")), nullptr);

    VValueBag none;
    VString backup("backup");
    VProgressManager::_GetProgressInfo(none, &backup);
    EXPECT_EQ(none.GetElements(StPackedDictionaryKey("ProgressInfo")), nullptr);
    VValueBag one;
    VString exportInfo("export");
    VProgressManager::_GetProgressInfo(one, &exportInfo);
    VBagArray* elements = one.GetElements(StPackedDictionaryKey("ProgressInfo"));
    ASSERT_NE(elements, nullptr);
    ASSERT_EQ(elements->GetCount(), 1);
    VString title;
    EXPECT_TRUE(elements->GetNth(1)->GetString(StPackedDictionaryKey("Title"), title));
    EXPECT_EQ(to_string(title), std::string("Exporting"));
    VValueBag all;
    VProgressManager::_GetProgressInfo(all, nullptr);
    EXPECT_EQ(all.GetElements(StPackedDictionaryKey("ProgressInfo"))->GetCount(), 2);
}

TEST_F(ProgressManagerTest, CollectsTheSnapshotsOfBusyIndicators)
{
    VProgressIndicator idle;
    VProgressIndicator busy;
    VProgressIndicator fresh;
    busy.BeginSession(10, VString("busy"));
    busy.Progress(2); // publishes a snapshot of the state before the call
    fresh.BeginSession(10, VString("no snapshot yet"));
    std::vector<VRefPtr<VRefCountedSessionInfo>> infos;
    EXPECT_EQ(VProgressManager::GetAllProgressInfo(infos), VE_OK);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0]->GetSessions().back()->GetValue(), 0);
    // The collection asked each busy indicator for a fresh snapshot, built by its next call.
    busy.Progress(3);
    fresh.Progress(1);
    infos.clear();
    VProgressManager::GetAllProgressInfo(infos);
    EXPECT_EQ(infos.size(), 2u);
    VRefPtr<VRefCountedSessionInfo> busyInfo(busy.RetainSessionsInfos(), true);
    EXPECT_EQ(busyInfo->GetSessions().back()->GetValue(), 2);
}

TEST_F(ProgressManagerTest, CreatesStandardIndicatorsThroughItsFactory)
{
    EXPECT_EQ(VProgressManager::CreateStdProgress(0, 0), nullptr) << "no factory";
    class Factory : public IProgressIndicatorFactory
    {
    public:
        VProgressIndicator* CreateProgressIndicator(int32_t, uint32_t) override
        {
            return new VProgressIndicator();
        }
    } factory;
    VProgressManager::SetStdProgressFactory(&factory);
    VRefPtr<VProgressIndicator> made(VProgressManager::CreateStdProgress(0, 0), true);
    ASSERT_TRUE(made);
    EXPECT_EQ(VRefPtr<VProgressIndicator>(VProgressManager::RetainProgress(made->GetID()), true), made);
}

TEST_F(ProgressManagerTest, ClosedSessionsBecomeMetricsWhenProgressIsRecorded)
{
    // Recording off: neither closing nor leaving the manager records anything.
    {
        VProgressIndicator indicator;
        indicator.BeginSession(10, VString("quiet"));
        indicator.EndSession();
        indicator.BeginSession(10, VString("left open"));
    }
    EXPECT_EQ(Metrics().GetCount(), 0u);

    Metrics().Start(0, kProgressBit);
    {
        VProgressIndicator indicator;
        indicator.SetTitle(VString("Update"));
        indicator.BeginSession(10, VString("{curValue} of {maxValue}"));
        indicator.SetAttribute(VString("file"), VString("a.txt"));
        indicator.Progress(4);
        indicator.EndSession();
        EXPECT_EQ(Metrics().GetCount(), 1u);
    }
    EXPECT_EQ(Metrics().GetCount(), 1u) << "leaving the manager does not record the closed session again";
    VRefPtr<VJSONArray> collected(Metrics().Collect(), true);
    VJSONObject* data = ElementObject(*collected, 0)->GetProperty(VString("activityData")).GetObject();
    ASSERT_NE(data, nullptr);
    VString text;
    data->GetProperty(VString("title")).GetString(text);
    EXPECT_EQ(to_string(text), std::string("Update"));
    data->GetProperty(VString("infoMessage")).GetString(text);
    EXPECT_EQ(to_string(text), std::string("4 of 10"));
    EXPECT_EQ(data->GetProperty(VString("currentValue")).GetNumber(), 4);
    VJSONObject* extra = data->GetProperty(VString("extraInfo")).GetObject();
    ASSERT_NE(extra, nullptr);
    extra->GetProperty(VString("file")).GetString(text);
    EXPECT_EQ(to_string(text), std::string("a.txt"));

    // A session still open when the indicator goes is recorded as it leaves the manager.
    {
        VProgressIndicator indicator;
        indicator.BeginSession(10, VString("interrupted"));
    }
    EXPECT_EQ(Metrics().GetCount(), 2u);
}

#ifndef NDEBUG
// Asks the manager for an indicator while the worker builds a snapshot under its state lock.
class ManagerCallingCollector : public IProgressInfoCollector
{
public:
    VJSONObject* CollectInfo(VProgressIndicator* inIndicator, bool) override
    {
        VRefPtr<VProgressIndicator> found(VProgressManager::RetainProgress(inIndicator->GetID()), true);
        return nullptr;
    }
};

TEST_F(ProgressManagerTest, AReversedLockOrderStopsDebugBuilds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ManagerCallingCollector collector;
    EXPECT_DEATH(
        {
            VProgressIndicator indicator;
            indicator.BeginUndeterminedSession(VString("work"), true, &collector);
        },
        "progress locks taken out of order");
}
#endif

} // namespace
