// The process logger: its ring, level mask, records it builds, listeners and the "Logger" task.
#include "tests/toolbox/process/LogTestSupport.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/values/VTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <numeric>

using namespace zorn;
using namespace zorn::test;

namespace
{

class LoggerTest : public LoggingTest
{
protected:
    // Files a record of that level with a fresh sequence number; the number.
    int64_t File(EMessageLevel inLevel = EML_Information)
    {
        auto* record = new VValueBag();
        record->SetLong(ILoggerBagKeys::level(), inLevel);
        Logger().LogBag(record);
        int64_t sequence = 0;
        record->GetLong8(ILoggerBagKeys::sequence(), sequence);
        record->Release();
        return sequence;
    }
};

TEST_F(LoggerTest, AFullRingDropsItsOldestRecords)
{
    VRefPtr<KeepingListener> listener(new KeepingListener, true);
    ASSERT_TRUE(Logger().AddLogListener(listener.Get()));
    Logger().Stop(); // only the explicit flushes below deliver
    Logger().Flush();

    const int64_t first = File();
    for (int i = 1; i < 1005; ++i)
    {
        File();
    }
    Logger().Flush();
    std::vector<int64_t> expected(1000);
    std::iota(expected.begin(), expected.end(), first + 5);
    EXPECT_EQ(listener->Sequences(), expected) << "the first five are dropped, the rest arrive in order";
    EXPECT_EQ(Logger().GetDroppedCount(), 5u);

    // Exactly a ringful, then one more: it goes to slot 0 and the ring is marked wrapped.
    for (int i = 0; i < VLogger::kRingSize; ++i)
    {
        File();
    }
    int32_t count = 0;
    bool wrapped = true;
    Logger().GetRingState(count, wrapped);
    EXPECT_EQ(count, 1000);
    EXPECT_FALSE(wrapped);
    const int64_t extra = File();
    Logger().GetRingState(count, wrapped);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(wrapped);
    Logger().Flush();
    std::vector<int64_t> delivered = listener->Sequences();
    ASSERT_EQ(delivered.size(), 2000u);
    EXPECT_EQ(delivered.back(), extra);
    EXPECT_EQ(delivered[1000], extra - 999) << "the oldest kept record comes first";
    Logger().GetRingState(count, wrapped);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(wrapped);
    EXPECT_TRUE(Logger().RemoveLogListener(listener.Get()));
}

TEST_F(LoggerTest, LevelsAreRefusedBeforeStartAndFollowTheMask)
{
    VLogger fresh;
    for (int level = EML_Dump; level <= EML_Fatal; ++level)
    {
        EXPECT_FALSE(fresh.ShouldLog(static_cast<EMessageLevel>(level))) << level;
    }
    fresh.Start();
    EXPECT_TRUE(fresh.IsStarted());
    for (int level = EML_Dump; level <= EML_Fatal; ++level)
    {
        EXPECT_EQ(fresh.ShouldLog(static_cast<EMessageLevel>(level)), level >= EML_Information) << level;
    }
    EXPECT_FALSE(fresh.WithDebug(true));
    EXPECT_TRUE(fresh.WithDebug(true));
    EXPECT_TRUE(fresh.ShouldLog(EML_Debug));
    EXPECT_TRUE(fresh.WithInfo(false));
    EXPECT_FALSE(fresh.ShouldLog(EML_Information));
    EXPECT_TRUE(fresh.WithTag(35, false)) << "bit numbers wrap at 32: 35 is the debug bit";
    EXPECT_FALSE(fresh.ShouldLog(EML_Debug));
}

TEST_F(LoggerTest, MessagesBecomeRecords)
{
    struct Case
    {
        const char* description;
        EMessageLevel level;
        const char* source;
        bool hasLevel;
        const char* expectedSource;
    };
    const Case cases[] = {
        {"info carries no level attribute", EML_Information, "engine", false, "engine"},
        {"error carries its level", EML_Error, "engine", true, "engine"},
        {"an empty source is the process's", EML_Warning, "", true, "Updater"},
    };
    for (const Case& c : cases)
    {
        Logger().LogMessage(c.level, VString("text"), VString(c.source));
        std::vector<const VValueBag*> records = Logger().Read();
        ASSERT_EQ(records.size(), 1u) << c.description;
        const VValueBag* record = records[0];
        int32_t level = -1;
        EXPECT_EQ(record->GetLong(ILoggerBagKeys::level(), level), c.hasLevel) << c.description;
        if (c.hasLevel)
        {
            EXPECT_EQ(level, c.level) << c.description;
        }
        VString text;
        record->GetString(ILoggerBagKeys::source(), text);
        EXPECT_EQ(to_string(text), c.expectedSource) << c.description;
        record->GetString(ILoggerBagKeys::message(), text);
        EXPECT_EQ(to_string(text), "text") << c.description;
        EXPECT_TRUE(record->AttributeExists(ILoggerBagKeys::time())) << c.description;
        EXPECT_TRUE(record->AttributeExists(ILoggerBagKeys::sequence())) << c.description;
        record->Release();
    }
    Logger().LogMessage(EML_Debug, VString("refused"), VString());
    EXPECT_TRUE(Logger().Read().empty()) << "debug is off by default";
}

TEST_F(LoggerTest, ExistingTimeAndSequenceAreKept)
{
    VRefPtr<VValueBag> record(new VValueBag, true);
    VTime time;
    time.FromUTCTime(2020, 2, 29, 12, 0, 0, 5);
    record->SetTime(ILoggerBagKeys::time(), time);
    record->SetLong8(ILoggerBagKeys::sequence(), 77);
    Logger().LogBag(record.Get());
    std::vector<const VValueBag*> records = Logger().Read();
    ASSERT_EQ(records.size(), 1u);
    VTime kept;
    int64_t sequence = 0;
    EXPECT_TRUE(records[0]->GetTime(ILoggerBagKeys::time(), kept));
    EXPECT_TRUE(kept == time);
    EXPECT_TRUE(records[0]->GetLong8(ILoggerBagKeys::sequence(), sequence));
    EXPECT_EQ(sequence, 77);
    records[0]->Release();
}

TEST_F(LoggerTest, ListenersAreCalledNewestFirstAndHeldOnce)
{
    std::vector<int> journal;
    VRefPtr<KeepingListener> older(new KeepingListener(1, &journal), true);
    VRefPtr<KeepingListener> newer(new KeepingListener(2, &journal), true);
    EXPECT_FALSE(Logger().AddLogListener(nullptr));
    EXPECT_TRUE(Logger().AddLogListener(older.Get()));
    Logger().Stop();
    EXPECT_TRUE(Logger().AddLogListener(newer.Get()));
    EXPECT_FALSE(Logger().AddLogListener(newer.Get())) << "already there";
    EXPECT_EQ(newer->GetRefCount(), 2u) << "one reference for the logger";

    File();
    Logger().Flush();
    EXPECT_EQ(journal, (std::vector<int>{2, 1}));

    // Removing flushes first, even for a listener that is not there.
    KeepingListener absent;
    const int64_t pending = File();
    EXPECT_FALSE(Logger().RemoveLogListener(&absent));
    EXPECT_EQ(older->Sequences().back(), pending);
    EXPECT_FALSE(Logger().RemoveLogListener(nullptr));
    EXPECT_TRUE(Logger().RemoveLogListener(newer.Get()));
    EXPECT_EQ(newer->GetRefCount(), 1u);
    EXPECT_TRUE(Logger().RemoveLogListener(older.Get()));
}

TEST_F(LoggerTest, TheLoggerTaskDeliversUntilStopped)
{
    VRefPtr<KeepingListener> listener(new KeepingListener, true);
    ASSERT_TRUE(Logger().AddLogListener(listener.Get()));
    const int64_t sequence = File();
    EXPECT_TRUE(WaitFor([&] { return !listener->Sequences().empty(); }));
    EXPECT_EQ(listener->Sequences(), std::vector<int64_t>{sequence});

    Logger().Stop();
    EXPECT_TRUE(Logger().IsStarted()) << "stopping the task leaves the logger started";
    File();
    VTask::Sleep(250);
    EXPECT_EQ(listener->Sequences().size(), 1u) << "no task, no delivery";
    EXPECT_TRUE(Logger().RemoveLogListener(listener.Get()));
    EXPECT_EQ(listener->Sequences().size(), 2u) << "the removal delivered it";
}

// Notes when each batch arrives.
class TimingListener : public ILogListener
{
public:
    using Clock = std::chrono::steady_clock;

    void Put(const std::vector<const VValueBag*>&) override
    {
        std::lock_guard lock(fMutex);
        fTimes.push_back(Clock::now());
    }
    std::vector<Clock::time_point> Times()
    {
        std::lock_guard lock(fMutex);
        return fTimes;
    }

private:
    std::mutex fMutex;
    std::vector<Clock::time_point> fTimes;
};

TEST_F(LoggerTest, AThreeQuarterFullRingWakesTheLoggerTask)
{
    // After a delivery the task sleeps a full period: a delivery sooner than that proves it was
    // woken. A busy machine can spoil a round (the burst files slowly, or the ring fills before
    // the task sleeps, so the wake-up is spent), hence several rounds, of which one must show it.
    VRefPtr<TimingListener> listener(new TimingListener, true);
    ASSERT_TRUE(Logger().AddLogListener(listener.Get()));
    File();
    ASSERT_TRUE(WaitFor([&] { return !listener->Times().empty(); }));
    std::chrono::milliseconds soonest = std::chrono::hours(1);
    for (int round = 0; round < 10 && soonest >= std::chrono::milliseconds(VLogger::kFlushPeriodMs); ++round)
    {
        const size_t delivered = listener->Times().size();
        const TimingListener::Clock::time_point last = listener->Times().back();
        for (int i = 0; i < VLogger::kWakeCount; ++i)
        {
            File();
        }
        ASSERT_TRUE(WaitFor([&] { return listener->Times().size() > delivered; }));
        soonest = std::min(soonest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        listener->Times()[delivered] - last));
    }
    EXPECT_LT(soonest.count(), VLogger::kFlushPeriodMs) << "the burst waited for the periodic flush";
    EXPECT_TRUE(Logger().RemoveLogListener(listener.Get()));
}

TEST_F(LoggerTest, ErrorsAreLoggedAndAssertionsNotByDefault)
{
    VErrorUserGenerated error(MakeVError(kCOMPONENT_ZORN, 100), VString("disk full"));
    Logger().LogErrorIfNecessary(&error);
    Logger().LogAssertIfNecessary("x > 0", "/src/a.cpp", 12);
    std::vector<const VValueBag*> records = Logger().Read();
    ASSERT_EQ(records.size(), 1u);
    VString source;
    records[0]->GetString(ILoggerBagKeys::source(), source);
    EXPECT_EQ(to_string(source), "Updater");
    records[0]->Release();
}

TEST(LoggerSequence, NumbersStartAtOneAndRise)
{
    // The counter is process-wide; this program's first use may come from another test.
    const int64_t first = ILogger::GetSequenceNumber();
    EXPECT_GE(first, 1);
    EXPECT_EQ(ILogger::GetSequenceNumber(), first + 1);
}

} // namespace
