// Progress indicators on one thread: the fraction done of nested sessions, the session rules, the
// copy rules of session records, their message and JSON forms.
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VProgressIndicator.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zorn;

namespace
{

std::string Text(const VJSONValue& inValue)
{
    VString text;
    inValue.GetString(text);
    return to_string(text);
}

struct Session
{
    int64_t fMax;
    int64_t fValue;
};

// Opens the sessions, outermost first.
void OpenSessions(VProgressIndicator& ioIndicator, const std::vector<Session>& inSessions)
{
    for (const Session& session : inSessions)
    {
        ioIndicator.BeginSession(session.fMax, session.fValue, VString("step"), true, nullptr);
    }
}

// Answers {"files": number of calls} and remembers what it was asked.
class CountingCollector : public IProgressInfoCollector
{
public:
    VJSONObject* CollectInfo(VProgressIndicator* inIndicator, bool inOutermost) override
    {
        fCalls.push_back({inIndicator, inOutermost});
        auto* info = new VJSONObject();
        info->SetProperty(VString("files"), VJSONValue(static_cast<double>(fCalls.size())));
        return info;
    }
    std::vector<std::pair<VProgressIndicator*, bool>> fCalls;
};

TEST(ProgressIndicator, FractionDoneOfNestedSessions)
{
    // The three-level case evaluated directly: v3 / (m3 m1 m2) + v1 / m1 + v2 / (m1 m2).
    const float threeLevels = 4.0f / (8.0f * 3.0f * 5.0f) + 1.0f / 3.0f + 2.0f / (3.0f * 5.0f);
    struct Row
    {
        const char* fWhat;
        std::vector<Session> fSessions;
        float fExpected;
    };
    const Row rows[] = {
        {"no session", {}, 0.0f},
        {"one session", {{10, 5}}, 0.5f},
        {"outer max 4 value 1, inner max 10 value 5", {{4, 1}, {10, 5}}, 0.375f},
        {"an undetermined inner session gives its raw value", {{4, 1}, {-1, 7}}, 7.0f},
        {"an undetermined outer session gives 0", {{-1, 3}, {10, 5}}, 0.0f},
        {"an outer max of 0 gives 0", {{0, 3}, {10, 5}}, 0.0f},
        {"three levels", {{3, 1}, {5, 2}, {8, 4}}, threeLevels},
    };
    for (const Row& row : rows)
    {
        VProgressIndicator indicator;
        OpenSessions(indicator, row.fSessions);
        EXPECT_FLOAT_EQ(indicator.ComputePercentDone(), row.fExpected) << row.fWhat;
        if (!row.fSessions.empty())
        {
            // A value call builds the snapshot; a reader's summary gives the same fraction.
            indicator.Progress(row.fSessions.back().fValue);
            VProgressSessionInfo summary;
            ASSERT_TRUE(indicator.GetProgressInfo(summary)) << row.fWhat;
            EXPECT_FLOAT_EQ(summary.fPercentDone, row.fExpected) << row.fWhat;
            EXPECT_EQ(summary.fSessionCount, static_cast<int32_t>(row.fSessions.size())) << row.fWhat;
        }
    }
}

TEST(ProgressIndicator, ValueCallsWithoutASessionChangeNothing)
{
    VProgressIndicator indicator;
    const uint32_t changes = indicator.GetChangeCounter();
    EXPECT_TRUE(indicator.Progress(5));
    EXPECT_TRUE(indicator.Increment(3));
    EXPECT_TRUE(indicator.SetMessageAndValue(VString("x"), 9));
    indicator.SetMaxValue(10);
    EXPECT_EQ(indicator.GetChangeCounter(), changes);
    EXPECT_EQ(indicator.GetCurrentValue(), 0);
    EXPECT_EQ(indicator.GetMaxValue(), 0);
    EXPECT_EQ(indicator.GetSessionCount(), 0);
    EXPECT_FLOAT_EQ(indicator.ComputePercentDone(), 0.0f);
}

TEST(ProgressIndicator, SessionsStackAndTheVersionMarksIdleToBusyAndBack)
{
    VProgressIndicator indicator;
    const uint32_t version = indicator.GetSessionVersion();
    indicator.BeginSession(100, VString("outer"));
    EXPECT_EQ(indicator.GetSessionVersion(), version + 1);
    indicator.Progress(40);
    indicator.BeginSession(10, VString("inner"));
    indicator.Increment(3);
    indicator.Decrement(1);
    EXPECT_EQ(indicator.GetCurrentValue(), 2);
    EXPECT_EQ(indicator.GetSessionVersion(), version + 1) << "a nested session is no new busy period";
    indicator.EndSession();
    EXPECT_EQ(indicator.GetCurrentValue(), 40) << "the outer session is current again";
    EXPECT_EQ(indicator.GetMaxValue(), 100);
    indicator.EndSession();
    EXPECT_EQ(indicator.GetSessionVersion(), version + 2);
    EXPECT_EQ(indicator.GetSessionCount(), 0);
    EXPECT_EQ(indicator.GetCurrentValue(), 40) << "the closed session's values stay";
    indicator.EndSession(); // nothing open: nothing happens
    EXPECT_EQ(indicator.GetSessionVersion(), version + 2);
}

TEST(ProgressIndicator, OnlyTheOutermostSessionGetsTheDefaultCollector)
{
    CountingCollector collector;
    VProgressIndicator indicator;
    indicator.SetDefaultProgressInfoCollector(&collector);
    indicator.BeginSession(4, VString("outer"));
    indicator.BeginSession(10, VString("inner"), static_cast<IProgressInfoCollector*>(nullptr));
    indicator.Progress(5); // builds the first snapshot: the collectors run here
    ASSERT_EQ(collector.fCalls.size(), 1u) << "the nested session has no collector";
    EXPECT_EQ(collector.fCalls[0].first, &indicator);
    EXPECT_TRUE(collector.fCalls[0].second) << "asked for the outermost session";

    VProgressSessionInfo summary;
    ASSERT_TRUE(indicator.GetProgressInfo(summary));
    ASSERT_EQ(summary.fFilledSlots, 2u);
    EXPECT_EQ(summary.fSlots[0].GetCollector(), &collector);
    EXPECT_EQ(summary.fSlots[1].GetCollector(), nullptr);
    ASSERT_NE(summary.fSlots[0].GetCollectedInfo(), nullptr);
    EXPECT_EQ(summary.fSlots[0].GetCollectedInfo()->GetProperty(VString("files")).GetNumber(), 1);
    indicator.EndSession();
    indicator.EndSession();
}

TEST(ProgressIndicator, SnapshotsAreBuiltByTheWorkerOnRequest)
{
    VProgressIndicator indicator;
    VProgressSessionInfo summary;
    indicator.BeginSession(10, VString("work"));
    EXPECT_FALSE(indicator.GetProgressInfo(summary)) << "no snapshot before the worker's next call";
    // A value call first serves a pending request, then takes its value: the snapshot shows the
    // state before the call.
    indicator.Progress(3);
    ASSERT_TRUE(indicator.GetProgressInfo(summary));
    EXPECT_EQ(summary.fSlots[0].GetValue(), 0);
    // The summary asked for a fresh snapshot: the next call builds it, the one after does not.
    indicator.Progress(4);
    indicator.Progress(5);
    VRefPtr<VRefCountedSessionInfo> snapshot(indicator.RetainSessionsInfos(), true);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->GetSessions().back()->GetValue(), 3);

    // Three or more sessions: outermost, parent and current.
    indicator.BeginSession(20, VString("b"));
    indicator.BeginSession(30, VString("c"));
    indicator.BeginUndeterminedSession(VString("d")); // builds its snapshot at once
    ASSERT_TRUE(indicator.GetProgressInfo(summary));
    EXPECT_EQ(summary.fSessionCount, 4);
    EXPECT_EQ(summary.fFilledSlots, 3u);
    EXPECT_EQ(summary.fSlots[0].GetMax(), 10);
    EXPECT_EQ(summary.fSlots[1].GetMax(), 30);
    EXPECT_EQ(summary.fSlots[2].GetMax(), -1);
    EXPECT_EQ(to_string(summary.fSlots[2].GetMessageText()), std::string("d"));
}

TEST(ProgressIndicator, CopiesAndAssignmentsOfRecords)
{
    struct Row
    {
        const char* fWhat;
        bool fAssign;
        bool fSourcePending;
        bool fTargetPending;
        bool fExpectedPending;
    };
    const Row rows[] = {
        {"a copy of a pending record is not pending", false, true, true, false},
        {"a copy of a measured record is not pending", false, false, true, false},
        {"assignment keeps the target's pending flag (on)", true, false, true, true},
        {"assignment keeps the target's pending flag (off)", true, true, false, false},
    };
    for (const Row& row : rows)
    {
        VProgressIndicatorInfo source;
        source.SetMessageText(VString("copying"));
        source.SetValue(3);
        source.SetMax(9);
        source.SetMetricsPending(row.fSourcePending);
        source.SetAttribute(VString("file"), VString("a.txt"));
        source.AdoptCollectedInfo(new VJSONObject());

        VProgressIndicatorInfo target;
        target.SetMetricsPending(row.fTargetPending);
        if (row.fAssign)
        {
            target = source;
        }
        VProgressIndicatorInfo copy(source);
        const VProgressIndicatorInfo& result = row.fAssign ? target : copy;
        EXPECT_EQ(result.IsMetricsPending(), row.fExpectedPending) << row.fWhat;
        EXPECT_FALSE(result.IsRemote()) << row.fWhat;
        EXPECT_EQ(result.GetUUID(), source.GetUUID()) << row.fWhat;
        EXPECT_EQ(result.GetValue(), 3) << row.fWhat;
        EXPECT_EQ(to_string(result.GetMessageText()), std::string("copying")) << row.fWhat;
        EXPECT_EQ(result.GetCollectedInfo(), source.GetCollectedInfo()) << "the collected object is shared";
        // The extra info is a clone: changing the source's leaves the result's alone.
        source.SetAttribute(VString("file"), VString("b.txt"));
        VRefPtr<VValueBag> bag(result.RetainExtraInfoBag(), true);
        VString file;
        ASSERT_TRUE(bag && bag->GetString(StPackedDictionaryKey("file"), file)) << row.fWhat;
        EXPECT_EQ(to_string(file), std::string("a.txt")) << row.fWhat;
    }
}

TEST(ProgressIndicator, AttributesAndResetOfARecord)
{
    VProgressIndicatorInfo record;
    EXPECT_EQ(record.RetainExtraInfoBag(), nullptr);
    record.RemoveAttribute(VString("x")); // no bag: nothing changes
    EXPECT_EQ(record.GetExtraInfoVersion(), 0u);
    record.SetAttribute(VString("x"), VLong(1));
    record.SetAttribute(VString("x"), VLong(2));
    record.RemoveAttribute(VString("x"));
    EXPECT_EQ(record.GetExtraInfoVersion(), 3u);
    record.SetValue(5);
    record.SetMax(8);
    record.SetMetricsPending(false);
    record.Reset();
    EXPECT_EQ(record.GetValue(), 0);
    EXPECT_EQ(record.GetMax(), 0);
    EXPECT_TRUE(record.IsMetricsPending());
    EXPECT_EQ(record.RetainExtraInfoBag(), nullptr);
    EXPECT_EQ(record.GetExtraInfoVersion(), 4u);
}

TEST(ProgressIndicator, MessagesFillTheirPlaceholders)
{
    struct Row
    {
        const char* fWhat;
        const char* fMessage;
        int64_t fValue;
        int64_t fMax;
        const char* fExpected;
    };
    const Row rows[] = {
        {"value, max and rate", "{curValue} of {maxValue} ({rateValue}%)", 5, 20, "5 of 20 (25%)"},
        {"the rate is truncated", "{rateValue}", 1, 3, "33"},
        {"no max gives rate 0", "{rateValue}", 7, 0, "0"},
        {"a negative rate gives 0", "{rateValue}", -5, 10, "0"},
        {"an empty message stays empty", "", 1, 2, ""},
    };
    for (const Row& row : rows)
    {
        VProgressIndicatorInfo record;
        record.SetMessageText(VString(row.fMessage));
        record.SetValue(row.fValue);
        record.SetMax(row.fMax);
        VString message;
        record.GetMessage(message);
        EXPECT_EQ(to_string(message), std::string(row.fExpected)) << row.fWhat;
    }
    VProgressIndicatorInfo record;
    record.SetMessageText(VString("{duration}|{startTime}"));
    VString message;
    record.GetMessage(message);
    EXPECT_EQ(message.Find(VString("{")), 0)
        << "the duration and start placeholders are filled: " << to_string(message);
}

TEST(ProgressIndicator, TheJSONFormOfARecord)
{
    VProgressIndicatorInfo record;
    record.SetMessageText(VString("Copying"));
    record.SetValue(3);
    record.SetMax(12);
    record.SetCanInterrupt(false);
    auto* collected = new VJSONObject();
    collected->SetProperty(VString("files"), VJSONValue(2.0));
    collected->SetProperty(VString("message"), VJSONValue(VString("from the collector")));
    record.AdoptCollectedInfo(collected);

    VRefPtr<VJSONObject> object(new VJSONObject(), true);
    record.GetJSONObject(*object);
    std::vector<std::string> names;
    for (const auto& property : object->GetOwnProperties())
    {
        names.push_back(to_string(property.fKey.GetString()));
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"message", "maxValue", "currentValue", "interruptible", "remote",
                                        "uuid", "taskId", "startTime", "duration", "files"}));
    EXPECT_EQ(Text(object->GetProperty(VString("message"))), "from the collector")
        << "the collected object is merged over the record's own properties";
    EXPECT_EQ(object->GetProperty(VString("maxValue")).GetNumber(), 12);
    EXPECT_EQ(object->GetProperty(VString("currentValue")).GetNumber(), 3);
    EXPECT_FALSE(object->GetProperty(VString("interruptible")).GetBool());
    EXPECT_FALSE(object->GetProperty(VString("remote")).GetBool());
    VString uuid;
    record.GetUUID().GetString(uuid);
    EXPECT_EQ(Text(object->GetProperty(VString("uuid"))), to_string(uuid));
    EXPECT_EQ(object->GetProperty(VString("taskId")).GetNumber(), 0) << "no task manager runs here";
    EXPECT_FALSE(Text(object->GetProperty(VString("startTime"))).empty());
    EXPECT_GE(object->GetProperty(VString("duration")).GetNumber(), 0);
}

} // namespace
