// Messages between tasks: posts, sends, post-and-wait, delays, coalescing, cancelling, the task's
// message loop, idlers and the function-message helpers.
#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/messages/IMessageable.h"
#include "toolbox/kernel/messages/VFunctionMessage.h"
#include "toolbox/kernel/messages/VMessage.h"
#include "toolbox/kernel/messages/VMessageQueue.h"
#include "toolbox/kernel/tasks/IFiberScheduler.h"
#include "toolbox/kernel/tasks/IIdleable.h"
#include "toolbox/kernel/tasks/XIdleMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;
using namespace std::chrono_literals;

namespace
{

// A target that counts the messages handed to it and notes the task they ran on.
class Recorder : public IMessageable
{
public:
    std::atomic<int> fMessages{0};
    std::atomic<int32_t> fTaskID{0};

    void DoMessage(VMessage& /*inMessage*/) override
    {
        ++fMessages;
        fTaskID = VTaskMgr::GetCurrentTaskID();
    }
};

// A message that counts its runs, notes the task, does optional work, then hands itself to its
// target like any message.
class Probe : public VMessage
{
public:
    std::atomic<int> fRuns{0};
    std::atomic<int32_t> fTaskID{0};
    std::function<void()> fWork;
    uint32_t fSignature = 0;
    bool fKeepNewer = true;
    std::atomic<const VMessage*> fOffered{nullptr};

    uint32_t GetCoalescingSignature() const override { return fSignature; }

protected:
    void DoExecute() override
    {
        ++fRuns;
        fTaskID = VTaskMgr::GetCurrentTaskID();
        if (fWork)
        {
            fWork();
        }
        VMessage::DoExecute();
    }
    bool DoCoalesce(const VMessage& inNewMessage) override
    {
        fOffered = &inNewMessage;
        return fKeepNewer;
    }
};

VRefPtr<Probe> NewProbe(std::function<void()> inWork = {})
{
    VRefPtr<Probe> probe(new Probe(), true);
    probe->fWork = std::move(inWork);
    return probe;
}

int32_t QueuedOn(VTask* inTask)
{
    VMessageQueue* queue = inTask->GetMessageQueue();
    return queue == nullptr ? 0 : queue->CountMessages();
}

class Messages : public TaskManagerTest
{
protected:
    // A task that executes its messages until it is killed.
    static VRefPtr<VTask> NewServer(std::function<void()> inFirst = {})
    {
        return NewTask(
            [first = std::move(inFirst)]
            {
                if (first)
                {
                    first();
                }
                VTask* self = VTask::GetCurrent();
                while (!self->IsDying())
                {
                    self->WaitAndExecuteMessages(20);
                }
            });
    }

    // Runs the main task's messages until inCondition holds (or 10 s pass).
    static bool ServeUntil(const std::function<bool()>& inCondition)
    {
        auto deadline = Clock::now() + 10s;
        while (!inCondition())
        {
            if (Clock::now() >= deadline)
            {
                return false;
            }
            Main()->WaitAndExecuteMessages(2);
        }
        return true;
    }
};

TEST_F(Messages, PostQueuesOnceAndRunsOnTheTargetsTask)
{
    Recorder target; // made on the main task: its messages run there
    EXPECT_EQ(target.GetMessagingTask(), Main()->GetID());
    VRefPtr<Probe> message = NewProbe();

    EXPECT_TRUE(message->PostTo(&target));
    EXPECT_TRUE(message->IsPending());
    EXPECT_TRUE(message->PostTo(&target)) << "still pending: told yes, not queued again";
    EXPECT_EQ(QueuedOn(Main()), 1);
    EXPECT_TRUE(Main()->IsAnyMessagePending());
    EXPECT_EQ(message->fRuns, 0) << "a post does not run the message";

    EXPECT_TRUE(Main()->ExecuteMessages(false));
    EXPECT_EQ(message->fRuns, 1);
    EXPECT_EQ(target.fMessages, 1) << "the default work hands the message to its target";
    EXPECT_TRUE(message->Answered());
    EXPECT_FALSE(message->IsPending());
    EXPECT_FALSE(Main()->ExecuteMessages(false)) << "nothing left";

    // Posted again once it ran, and from another task: it still runs on the target's task.
    std::atomic<bool> posted{false};
    VRefPtr<VTask> poster = NewTask([&] { posted = message->PostTo(&target); });
    ASSERT_TRUE(poster->Run());
    // Not WaitForDeath: it would run the main task's messages.
    ASSERT_TRUE(WaitFor([&] { return poster->GetState() == TaskState_Dead; }));
    EXPECT_TRUE(posted);
    EXPECT_FALSE(message->Answered()) << "a new post clears the answer";
    EXPECT_TRUE(Main()->ExecuteMessages(false));
    EXPECT_EQ(message->fRuns, 2);
    EXPECT_EQ(target.fTaskID, Main()->GetID());

    // A message whose target is gone runs without it.
    auto gone = std::make_unique<Recorder>();
    VRefPtr<Probe> orphan = NewProbe();
    EXPECT_TRUE(orphan->PostTo(gone.get()));
    gone.reset();
    EXPECT_TRUE(Main()->ExecuteMessages(false));
    EXPECT_EQ(orphan->fRuns, 1);
    EXPECT_TRUE(orphan->Answered());
}

TEST_F(Messages, NothingReachesAStoppedTarget)
{
    Recorder target;
    target.StopMessaging();
    VRefPtr<Probe> message = NewProbe();
    struct Row
    {
        const char* fWhat;
        std::function<bool()> fCall;
    };
    const Row rows[] = {
        {"post", [&] { return message->PostTo(&target); }},
        {"post, execute now", [&] { return message->PostTo(&target, true); }},
        {"delayed post", [&] { return message->PostTo(&target, false, 50); }},
        {"send", [&] { return message->SendTo(&target, 1000); }},
        {"send without time-out", [&] { return message->SendTo(&target); }},
        {"post and wait", [&] { return message->PostToAndWaitExecutingMessages(&target, 1000); }},
        {"no target", [&] { return message->PostTo(nullptr); }},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        EXPECT_FALSE(row.fCall());
        EXPECT_FALSE(message->IsPending()) << "left idle";
        EXPECT_EQ(QueuedOn(Main()), 0);
        EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), 0);
        EXPECT_EQ(message->fRuns, 0);
    }
    target.StartMessaging();
    EXPECT_TRUE(message->PostTo(&target));
    EXPECT_TRUE(Main()->ExecuteMessages(false));
    EXPECT_EQ(message->fRuns, 1);
}

TEST_F(Messages, TheTargetsOwnTaskRunsAtOnce)
{
    Recorder target;
    VRefPtr<Probe> message = NewProbe();
    EXPECT_TRUE(message->PostTo(&target, true));
    EXPECT_EQ(message->fRuns, 1) << "ran before PostTo returned";
    EXPECT_TRUE(message->Answered());
    EXPECT_EQ(QueuedOn(Main()), 0);

    EXPECT_TRUE(message->SendTo(&target, 0)) << "a send to one's own task needs no wait";
    EXPECT_EQ(message->fRuns, 2);
    EXPECT_TRUE(message->SendTo(Main()));
    EXPECT_EQ(message->fRuns, 3);
    EXPECT_TRUE(message->PostToAndWaitExecutingMessages(&target, 0));
    EXPECT_EQ(message->fRuns, 4);

    // From another task, execute-now only queues.
    std::atomic<bool> posted{false};
    VRefPtr<VTask> poster = NewTask([&] { posted = message->PostTo(&target, true); });
    ASSERT_TRUE(poster->Run());
    // Not WaitForDeath: it would run the main task's messages.
    ASSERT_TRUE(WaitFor([&] { return poster->GetState() == TaskState_Dead; }));
    EXPECT_TRUE(posted);
    EXPECT_EQ(message->fRuns, 4);
    EXPECT_EQ(QueuedOn(Main()), 1);
    Main()->ExecuteMessages(false);
    EXPECT_EQ(message->fRuns, 5);
}

TEST_F(Messages, SendWaitsForTheAnswerAndATimedOutSendNeverRuns)
{
    VRefPtr<VTask> server = NewServer();
    ASSERT_TRUE(server->Run());
    VRefPtr<Probe> answered = NewProbe();
    EXPECT_TRUE(answered->SendTo(server.Get(), 10000));
    EXPECT_EQ(answered->fRuns, 1);
    EXPECT_EQ(answered->fTaskID, server->GetID());
    EXPECT_EQ(Main()->GetWaitReason(), eTaskWaitReason_None);

    // A task that takes no message for now.
    std::atomic<bool> release{false};
    VRefPtr<VTask> busy = NewServer([&] { WaitFor([&] { return release.load(); }); });
    ASSERT_TRUE(busy->Run());
    VRefPtr<Probe> late = NewProbe();
    auto start = Clock::now();
    EXPECT_FALSE(late->SendTo(busy.Get(), 50));
    EXPECT_GE(MillisecondsSince(start), 45);
    EXPECT_TRUE(late->IsAborted());
    EXPECT_FALSE(late->IsPending());

    // Posted elsewhere at once: the stale queue entry on the busy task must not run it there.
    Recorder mainTarget;
    EXPECT_TRUE(late->PostTo(&mainTarget));
    release = true;
    VRefPtr<Probe> marker = NewProbe();
    EXPECT_TRUE(marker->SendTo(busy.Get(), 10000)) << "the busy task has gone past the stale entry";
    EXPECT_EQ(late->fRuns, 0) << "never on the busy task";
    EXPECT_TRUE(ServeUntil([&] { return late->fRuns > 0; }));
    Main()->ExecuteMessages(false);
    EXPECT_EQ(late->fRuns, 1) << "once, where it was posted";
    EXPECT_EQ(late->fTaskID, Main()->GetID());
    EXPECT_EQ(mainTarget.fMessages, 1);

    // The same for a post-and-wait that gives up.
    release = false;
    VRefPtr<Probe> gaveUp = NewProbe();
    std::atomic<bool> blocked{false};
    VRefPtr<Probe> blocker = NewProbe(
        [&]
        {
            blocked = true;
            WaitFor([&] { return release.load(); });
        });
    EXPECT_TRUE(blocker->PostTo(busy.Get()));
    ASSERT_TRUE(WaitFor([&] { return blocked.load(); }));
    EXPECT_FALSE(gaveUp->PostToAndWaitExecutingMessages(busy.Get(), 30));
    EXPECT_TRUE(gaveUp->IsAborted());
    release = true;
    EXPECT_TRUE(marker->SendTo(busy.Get(), 10000));
    EXPECT_EQ(gaveUp->fRuns, 0);
}

TEST_F(Messages, PostAndWaitRunsTheCallersMessagesMeanwhile)
{
    // The server's message sends back to the main task, which is waiting: a plain send would
    // wait for its whole time-out.
    Recorder mainTarget;
    VRefPtr<VTask> server = NewServer();
    ASSERT_TRUE(server->Run());
    std::atomic<bool> backSent{false};
    VRefPtr<Probe> there = NewProbe([&] { backSent = NewProbe()->SendTo(&mainTarget, 10000); });
    auto start = Clock::now();
    EXPECT_TRUE(there->PostToAndWaitExecutingMessages(server.Get(), 20000));
    EXPECT_LT(MillisecondsSince(start), 10000);
    EXPECT_TRUE(backSent);
    EXPECT_EQ(mainTarget.fMessages, 1);
    EXPECT_EQ(mainTarget.fTaskID, Main()->GetID());

    // Without a time-out, from a thread without a task (a plain send there).
    bool fromThread = false;
    VRefPtr<Probe> foreign = NewProbe();
    std::thread([&] { fromThread = foreign->PostToAndWaitExecutingMessages(server.Get()); }).join();
    EXPECT_TRUE(fromThread);
    EXPECT_EQ(foreign->fTaskID, server->GetID());
}

TEST_F(Messages, DelayedMessagesWaitForTheirTick)
{
    Recorder target;
    VRefPtr<Probe> soon = NewProbe();
    VRefPtr<Probe> later = NewProbe();
    auto start = Clock::now();
    EXPECT_TRUE(later->PostTo(&target, false, 1000)); // 60 ticks
    EXPECT_TRUE(soon->PostTo(&target, false, 10));    // 0 ticks: due at the next tick
    EXPECT_TRUE(soon->PostTo(&target, false, 10)) << "pending: not registered twice";
    EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), 2);
    EXPECT_EQ(QueuedOn(Main()), 0);
    EXPECT_EQ(soon->fRuns, 0);

    ASSERT_TRUE(ServeUntil([&] { return soon->fRuns > 0; }));
    int64_t soonMs = MillisecondsSince(start);
    EXPECT_LT(soonMs, 900) << "ran at the first idle check after one tick";
    EXPECT_EQ(later->fRuns, 0);
    ASSERT_TRUE(ServeUntil([&] { return later->fRuns > 0; }));
    int64_t laterMs = MillisecondsSince(start);
    // Due 60 ticks after the tick of the post, run once a later tick has begun: over 1000 ms.
    EXPECT_GE(laterMs, 990);
    EXPECT_LT(laterMs, 5000);
    EXPECT_EQ(soon->fRuns, 1);
    EXPECT_EQ(later->fRuns, 1);
    EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), 0);

    // A delayed message whose target stopped taking messages is dropped when due.
    VRefPtr<Probe> dropped = NewProbe();
    EXPECT_TRUE(dropped->PostTo(&target, false, 20));
    target.StopMessaging();
    ASSERT_TRUE(ServeUntil([&] { return VTaskMgr::Get()->CountDelayedMessages() == 0; }));
    EXPECT_TRUE(dropped->IsAborted());
    EXPECT_FALSE(dropped->IsPending());
    EXPECT_EQ(dropped->fRuns, 0);

    // An abort settles a delayed message at once; the manager lets it go when due.
    target.StartMessaging();
    VRefPtr<Probe> aborted = NewProbe();
    EXPECT_TRUE(aborted->PostTo(&target, false, 20));
    aborted->Abort();
    EXPECT_TRUE(aborted->IsAborted());
    ASSERT_TRUE(ServeUntil([&] { return VTaskMgr::Get()->CountDelayedMessages() == 0; }));
    EXPECT_EQ(aborted->fRuns, 0);
}

TEST_F(Messages, CoalescingKeepsTheFirst)
{
    Recorder target;
    Recorder other;
    struct Row
    {
        const char* fWhat;
        bool fKeepNewer;
        uint32_t fNewerSignature;
        Recorder* fNewerTarget;
        int fQueued;
    };
    const Row rows[] = {
        {"absorbed by the queued one", false, 7, &target, 1},
        {"the queued one keeps both", true, 7, &target, 2},
        {"another signature", false, 8, &target, 2},
        {"signature 0 never coalesces", false, 0, &target, 2},
        {"another target", false, 7, &other, 2},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        VRefPtr<Probe> first = NewProbe();
        first->fSignature = 7;
        first->fKeepNewer = row.fKeepNewer;
        VRefPtr<Probe> newer = NewProbe();
        newer->fSignature = row.fNewerSignature;
        ASSERT_TRUE(first->PostTo(&target));
        EXPECT_EQ(newer->PostTo(row.fNewerTarget), row.fQueued == 2);
        EXPECT_EQ(QueuedOn(Main()), row.fQueued);
        EXPECT_EQ(first->fOffered == newer.Get(), row.fNewerSignature == 7 && row.fNewerTarget == &target);
        EXPECT_EQ(newer->IsPending(), row.fQueued == 2);
        Main()->ExecuteMessages(false);
        EXPECT_EQ(first->fRuns, 1);
        EXPECT_EQ(newer->fRuns, row.fQueued - 1);
    }
}

TEST_F(Messages, CancelsAndTheTargetsEndReleaseWaitingSenders)
{
    // The main task cancels the messages of one target; a sender waiting without time-out returns.
    Recorder cancelled;
    Recorder kept;
    VRefPtr<Probe> waiting = NewProbe();
    VRefPtr<Probe> keptMessage = NewProbe();
    std::atomic<int> sent{-1};
    VRefPtr<VTask> sender = NewTask([&] { sent = waiting->SendTo(&cancelled) ? 1 : 0; });
    ASSERT_TRUE(keptMessage->PostTo(&kept));
    ASSERT_TRUE(sender->Run());
    ASSERT_TRUE(WaitFor([&] { return QueuedOn(Main()) == 2; }));
    Main()->CancelMessages(&cancelled);
    EXPECT_EQ(QueuedOn(Main()), 1);
    ASSERT_TRUE(sender->WaitForDeath(10000));
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(waiting->IsAborted());
    Main()->ExecuteMessages(false);
    EXPECT_EQ(waiting->fRuns, 0);
    EXPECT_EQ(keptMessage->fRuns, 1);

    // A task that ends without running its queue: the waiting sender is told no.
    std::atomic<bool> release{false};
    VRefPtr<VTask> quitter = NewTask([&] { WaitFor([&] { return release.load(); }); });
    ASSERT_TRUE(quitter->Run());
    VRefPtr<Probe> unanswered = NewProbe();
    std::atomic<int> result{-1};
    VRefPtr<VTask> sender2 = NewTask([&] { result = unanswered->SendTo(quitter.Get()) ? 1 : 0; });
    ASSERT_TRUE(sender2->Run());
    ASSERT_TRUE(WaitFor([&] { return QueuedOn(quitter.Get()) == 1; }));
    release = true;
    ASSERT_TRUE(sender2->WaitForDeath(10000));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(unanswered->fRuns, 0);
    ASSERT_TRUE(quitter->WaitForDeath(10000));
    EXPECT_FALSE(NewProbe()->PostTo(quitter.Get())) << "an ended task takes no messages";
    EXPECT_FALSE(NewProbe()->SendTo(quitter.Get()));
}

// A task that loops in DoRun: its messages run between turns, each in an error scope of its own.
class LoopingServer : public VTask
{
public:
    LoopingServer() : VTask(0, eTaskStylePreemptive, {}) {}
    std::atomic<int> fIdles{0};

protected:
    bool DoRun() override
    {
        VTask::Sleep(1);
        return true;
    }
    void DoIdle() override { ++fIdles; }
};

class CountingIdler : public IIdleable
{
public:
    std::atomic<int> fCalls{0};
    std::atomic<int32_t> fTaskID{0};

protected:
    void DoIdle() override
    {
        ++fCalls;
        fTaskID = VTaskMgr::GetCurrentTaskID();
    }
};

TEST_F(Messages, TheTaskLoopRunsMessagesInTheirOwnErrorScopesAndIdles)
{
    VRefPtr<LoopingServer> server(new LoopingServer(), true);
    ASSERT_TRUE(server->Run());
    VError seen = VE_UNKNOWN_ERROR;
    VRefPtr<Probe> failing = NewProbe([] { _ThrowError(VE_ACCESS_DENIED); });
    VRefPtr<Probe> looking = NewProbe([&] { seen = VTask::GetCurrent()->GetLastError(); });
    EXPECT_TRUE(failing->SendTo(server.Get(), 10000));
    EXPECT_TRUE(looking->SendTo(server.Get(), 10000));
    EXPECT_EQ(seen, VE_OK) << "the first message's error ended with it";
    ASSERT_TRUE(WaitFor([&] { return server->fIdles > 0; }));
    EXPECT_TRUE(server->IsResponding());

    // An idler started from another task is called on its task; stopped from another task, it is
    // not called again once StopIdling returned.
    auto idler = std::make_unique<CountingIdler>();
    idler->StartIdling(server.Get());
    EXPECT_TRUE(idler->IsIdling());
    ASSERT_TRUE(WaitFor([&] { return idler->fCalls >= 3; }));
    EXPECT_EQ(idler->fTaskID, server->GetID());
    idler->StopIdling();
    EXPECT_FALSE(idler->IsIdling());
    const int calls = idler->fCalls;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(idler->fCalls, calls);
    idler.reset(); // nothing may call it now

    // On the calling task.
    CountingIdler local;
    local.StartIdling();
    EXPECT_EQ(local.GetIdlingTask(), Main());
    EXPECT_TRUE(ServeUntil([&] { return local.fCalls > 0; }));
    local.StopIdling();
    EXPECT_EQ(local.GetIdlingTask(), nullptr);
}

TEST_F(Messages, IdleMessagesCallTheirIdlerAndPostThemselvesAgainWhileItIdles)
{
    // Taken off its task's list of idlers, the idler is called by the messages alone.
    auto idler = std::make_unique<CountingIdler>();
    idler->StartIdling();
    ASSERT_TRUE(Main()->UnregisterIdler(idler.get()));
    const int32_t delayed = VTaskMgr::Get()->CountDelayedMessages();
    VRefPtr<XIdleMessage> first(new XIdleMessage(idler.get()), true);
    ASSERT_TRUE(first->PostTo(Main()));
    Main()->ExecuteMessages(false);
    EXPECT_EQ(idler->fCalls, 1);
    EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), delayed + 1) << "the next one, due 16 ms later";
    ASSERT_TRUE(ServeUntil([&] { return idler->fCalls >= 3; }));

    // Stopped: the pending message runs, calls nothing and posts no other.
    idler->StopIdling();
    const int calls = idler->fCalls;
    ASSERT_TRUE(ServeUntil(
        [&]
        { return VTaskMgr::Get()->CountDelayedMessages() == delayed && !Main()->IsAnyMessagePending(); }));
    EXPECT_EQ(idler->fCalls, calls);

    // Destroyed while its message waits: the message finds no idler (and touches none).
    idler->StartIdling();
    ASSERT_TRUE(Main()->UnregisterIdler(idler.get()));
    VRefPtr<XIdleMessage> orphan(new XIdleMessage(idler.get()), true);
    ASSERT_TRUE(orphan->PostTo(Main()));
    idler.reset();
    Main()->ExecuteMessages(false);
    EXPECT_TRUE(orphan->Answered());
    EXPECT_EQ(VTaskMgr::Get()->CountDelayedMessages(), delayed);
}

TEST_F(Messages, WaitingTasksRunTheirMessages)
{
    // WaitAndExecuteMessages ends when its time is over, or when woken. (First: a wake may be left
    // over from an earlier wait, which only cuts the next wait short.)
    bool timedOut = false;
    auto start = Clock::now();
    EXPECT_TRUE(Main()->WaitAndExecuteMessages(100, &timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_GE(MillisecondsSince(start), 95);
    EXPECT_TRUE(Main()->WaitAndExecuteMessages(0, &timedOut));
    EXPECT_TRUE(timedOut);

    VTask* main = Main();
    std::thread waker(
        [main]
        {
            if (WaitFor([main] { return main->GetWaitReason() == eTaskWaitReason_Message; }))
            {
                main->SetMessageQueueEvent();
            }
        });
    start = Clock::now();
    EXPECT_TRUE(Main()->WaitAndExecuteMessages(60000, &timedOut));
    EXPECT_FALSE(timedOut);
    EXPECT_LT(MillisecondsSince(start), 30000);
    waker.join();
    EXPECT_EQ(Main()->GetWaitReason(), eTaskWaitReason_None);

    // A dying task sends to the main task, which waits for its death.
    Recorder mainTarget;
    std::atomic<bool> sent{false};
    VRefPtr<VTask> worker = NewTask([&] { sent = NewProbe()->SendTo(&mainTarget); });
    ASSERT_TRUE(worker->Run());
    start = Clock::now();
    EXPECT_TRUE(worker->WaitForDeath(20000));
    EXPECT_LT(MillisecondsSince(start), 10000);
    EXPECT_TRUE(sent);
    EXPECT_EQ(mainTarget.fMessages, 1);

    // A dying task does not wait; nor does a task asked from another thread.
    std::atomic<int> dyingWait{-1};
    VRefPtr<VTask> dying = NewTask(
        [&]
        {
            WaitFor([] { return VTask::GetCurrent()->IsDying(); });
            dyingWait = VTask::GetCurrent()->WaitAndExecuteMessages(60000) ? 1 : 0;
        });
    ASSERT_TRUE(dying->Run());
    EXPECT_FALSE(dying->WaitAndExecuteMessages(10)) << "not the calling task";
    dying->Kill();
    ASSERT_TRUE(dying->WaitForDeath(10000));
    EXPECT_EQ(dyingWait, 0);
}

TEST_F(Messages, FunctionMessagesAndTheMainTask)
{
    VRefPtr<VTask> server = NewServer();
    ASSERT_TRUE(server->Run());
    std::atomic<int32_t> ranOn{0};
    EXPECT_TRUE(VFunctionMessage::PostToAndWait(server.Get(), [&] { ranOn = VTaskMgr::GetCurrentTaskID(); }));
    EXPECT_EQ(ranOn, server->GetID());
    std::atomic<int> posted{0};
    EXPECT_TRUE(VFunctionMessage::PostFunctionTo(server.Get(), [&] { ++posted; }));
    ASSERT_TRUE(WaitFor([&] { return posted == 1; }));

    // On the main task: at once, or queued behind its messages.
    int direct = 0;
    EXPECT_TRUE(VFunctionMessage::PostToMainTask([&] { ++direct; }));
    EXPECT_EQ(direct, 1);
    EXPECT_TRUE(VFunctionMessage::PostToMainTask([&] { ++direct; }, true));
    EXPECT_EQ(direct, 1);
    Main()->ExecuteMessages(false);
    EXPECT_EQ(direct, 2);
    EXPECT_TRUE(VFunctionMessage::PostToMainTaskAndWait([&] { ++direct; }));
    EXPECT_EQ(direct, 3);

    // From another task: the main task runs them while it serves.
    std::atomic<int> fromServer{0};
    std::atomic<bool> waited{false};
    EXPECT_TRUE(VFunctionMessage::PostFunctionTo(server.Get(),
                                                 [&]
                                                 {
                                                     VFunctionMessage::PostToMainTask([&] { ++fromServer; });
                                                     waited = VFunctionMessage::PostToMainTaskAndWait(
                                                         [&] { ++fromServer; });
                                                 }));
    EXPECT_TRUE(ServeUntil([&] { return waited.load(); }));
    EXPECT_EQ(fromServer, 2);
}

// A scheduler that records how event polling is switched.
class RecordingScheduler : public VScheduler_void
{
public:
    std::vector<bool> fPolling;
    int fPolls = 0;
    void SetSystemEventPolling(bool inPolling) override { fPolling.push_back(inPolling); }
    void PollAndExecuteUpdateEvent() override { ++fPolls; }
};

TEST_F(Messages, UpdateEventsOnlyHandlingIsCounted)
{
    auto* scheduler = new RecordingScheduler();
    VTaskMgr* manager = VTaskMgr::Get();
    manager->SetFiberScheduler(scheduler);
    manager->MAC_BeginHandlingUpdateEventsOnly();
    manager->MAC_BeginHandlingUpdateEventsOnly();
    manager->MAC_StopHandlingUpdateEventsOnly();
    EXPECT_EQ(scheduler->fPolling, std::vector<bool>{false}) << "only the first begin";
    manager->MAC_StopHandlingUpdateEventsOnly();
    manager->MAC_StopHandlingUpdateEventsOnly(); // unbalanced: ignored
    EXPECT_EQ(scheduler->fPolling, (std::vector<bool>{false, true}));
    VTaskMgr::MAC_RunLoopTimerCallback();
    EXPECT_EQ(scheduler->fPolls, 1);
    scheduler->Release();
}

} // namespace
