// Several tasks post, post with delays, send and post-and-wait to each other and to the main task
// with short time-outs, while some of them are killed. Every message must end settled: run exactly
// once when its sender was told it ran, never when told no, run or aborted when it was posted, never
// twice, and always on the task it was addressed to.
#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/messages/VMessageQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;
using namespace std::chrono_literals;

namespace
{

std::atomic<int> gLiveMessages{0};

class Tracked : public VMessage
{
public:
    Tracked(int32_t inExpectedTaskID, bool inSlow) : fExpectedTaskID(inExpectedTaskID), fSlow(inSlow)
    {
        ++gLiveMessages;
    }
    ~Tracked() override { --gLiveMessages; }

    const int32_t fExpectedTaskID;
    const bool fSlow;
    std::atomic<int> fRuns{0};
    std::atomic<int32_t> fRanOn{0};

protected:
    void DoExecute() override
    {
        ++fRuns;
        fRanOn = VTaskMgr::GetCurrentTaskID();
        if (fSlow)
        {
            VTask::Sleep(1);
        }
    }
};

enum class Kind
{
    Post,
    DelayedPost,
    Send,
    PostAndWait,
    PostAndWaitWithoutTimeOut
};

const char* KindName(Kind inKind)
{
    switch (inKind)
    {
    case Kind::Post:
        return "post";
    case Kind::DelayedPost:
        return "delayed post";
    case Kind::Send:
        return "send";
    case Kind::PostAndWait:
        return "post and wait";
    case Kind::PostAndWaitWithoutTimeOut:
        return "post and wait without time-out";
    }
    return "?";
}

struct Record
{
    VRefPtr<Tracked> fMessage;
    Kind fKind;
    bool fResult;
};

class MessageStress : public TaskManagerTest
{
protected:
    std::mutex fRecordsMutex;
    std::vector<Record> fRecords;
};

TEST_F(MessageStress, NoMessageIsLostOrRunTwice)
{
    constexpr int kTasks = 6;
    VTask* main = Main();
    std::vector<VRefPtr<VTask>> tasks;
    std::atomic<bool> go{false};
    for (int i = 0; i < kTasks; ++i)
    {
        tasks.push_back(NewTask(
            [this, i, &tasks, &go, main]
            {
                WaitFor([&] { return go.load(); });
                VTask* self = VTask::GetCurrent();
                std::mt19937 random(static_cast<uint32_t>(1000 + i));
                std::vector<Record> records;
                while (!self->IsDying())
                {
                    const uint32_t peer = random() % (kTasks + 1);
                    VTask* target = peer == kTasks ? main : tasks[peer].Get();
                    const uint32_t choice = random() % 6;
                    if (choice == 5)
                    {
                        self->WaitAndExecuteMessages(1);
                        continue;
                    }
                    VRefPtr<Tracked> message(new Tracked(target->GetID(), random() % 4 == 0), true);
                    const int timeout = static_cast<int>(random() % 4);
                    Record record{message, static_cast<Kind>(choice), false};
                    switch (record.fKind)
                    {
                    case Kind::Post:
                        record.fResult = message->PostTo(target);
                        break;
                    case Kind::DelayedPost:
                        record.fResult = message->PostTo(target, false, 1 + static_cast<int>(random() % 30));
                        break;
                    case Kind::Send:
                        record.fResult = message->SendTo(target, timeout);
                        break;
                    case Kind::PostAndWait:
                        record.fResult = message->PostToAndWaitExecutingMessages(target, timeout);
                        break;
                    case Kind::PostAndWaitWithoutTimeOut:
                        record.fResult = message->PostToAndWaitExecutingMessages(target);
                        break;
                    }
                    records.push_back(std::move(record));
                    if (random() % 3 == 0)
                    {
                        self->ExecuteMessages(true);
                    }
                }
                std::lock_guard lock(fRecordsMutex);
                for (Record& record : records)
                {
                    fRecords.push_back(std::move(record));
                }
            }));
    }
    for (VRefPtr<VTask>& task : tasks)
    {
        ASSERT_TRUE(task->Run());
    }
    go = true;

    auto serve = [main](std::chrono::milliseconds inFor)
    {
        auto end = std::chrono::steady_clock::now() + inFor;
        while (std::chrono::steady_clock::now() < end)
        {
            main->WaitAndExecuteMessages(2);
        }
    };
    serve(500ms);
    // Killed one by one while the others go on addressing them; the main task keeps serving.
    for (int i = 0; i < 2; ++i)
    {
        tasks[i]->Kill();
        EXPECT_TRUE(tasks[i]->WaitForDeath(20000));
        serve(150ms);
    }
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(20000));
    // What is still addressed to the main task, now or after a delay, runs here.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((VTaskMgr::Get()->CountDelayedMessages() > 0 || main->IsAnyMessagePending()) &&
           std::chrono::steady_clock::now() < deadline)
    {
        main->WaitAndExecuteMessages(2);
    }
    EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), 0);
    EXPECT_FALSE(main->IsAnyMessagePending());

    std::lock_guard lock(fRecordsMutex);
    int ran[5] = {};
    int refused[5] = {};
    for (const Record& record : fRecords)
    {
        const Tracked& message = *record.fMessage;
        SCOPED_TRACE(std::string(KindName(record.fKind)) + (record.fResult ? ", told yes" : ", told no"));
        ASSERT_LE(message.fRuns, 1) << "run twice";
        ASSERT_FALSE(message.IsPending()) << "never settled";
        if (message.fRuns == 1)
        {
            ASSERT_EQ(message.fRanOn, message.fExpectedTaskID) << "run on another task";
        }
        const bool posted = record.fKind == Kind::Post || record.fKind == Kind::DelayedPost;
        if (posted && record.fResult)
        {
            ASSERT_EQ(message.fRuns == 1, message.Answered()) << "a post is answered when it ran";
            ASSERT_EQ(message.fRuns == 0, message.IsAborted()) << "lost: neither run nor aborted";
        }
        else
        {
            ASSERT_EQ(message.fRuns, record.fResult ? 1 : 0);
        }
        (record.fResult ? ran : refused)[static_cast<int>(record.fKind)]++;
    }
    for (int kind = 0; kind < 5; ++kind)
    {
        SCOPED_TRACE(KindName(static_cast<Kind>(kind)));
        EXPECT_GT(ran[kind], 0);
    }
    EXPECT_GT(refused[static_cast<int>(Kind::Send)], 0) << "no send timed out: the test lost its edge";
    EXPECT_GT(refused[static_cast<int>(Kind::Post)], 0) << "no post met a killed task";
    fRecords.clear();
    EXPECT_EQ(gLiveMessages, 0) << "a message was leaked";
}

} // namespace
