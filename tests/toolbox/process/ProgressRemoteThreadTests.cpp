// The remote exchange across tasks: a worker in one task sends pictures of its indicator through
// their stream form, a viewer task applies them to its mirror, and a third task reads the mirror
// meanwhile. After every picture the mirror shows what the worker showed when it took it.
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "tests/toolbox/process/ProgressRemoteTestSupport.h"

#include "toolbox/process/VProgressIndicator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

// One picture in its stream form, with what the worker showed when it took it.
struct Delivery
{
    std::string fBytes;
    IndicatorView fExpected;
    const char* fWhat = nullptr;
};

// The pipe between the two tasks; an empty optional ends the exchange.
class Channel
{
public:
    void Send(std::optional<Delivery> inDelivery)
    {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fQueue.push_back(std::move(inDelivery));
        }
        fReady.notify_one();
    }
    std::optional<Delivery> Receive()
    {
        std::unique_lock<std::mutex> lock(fMutex);
        fReady.wait(lock, [&] { return !fQueue.empty(); });
        std::optional<Delivery> delivery = std::move(fQueue.front());
        fQueue.pop_front();
        return delivery;
    }

private:
    std::mutex fMutex;
    std::condition_variable fReady;
    std::deque<std::optional<Delivery>> fQueue;
};

class ProgressRemoteTasks : public TaskManagerTest
{
};

TEST_F(ProgressRemoteTasks, AMirrorInAnotherTaskFollowsTheWorkerPictureByPicture)
{
    constexpr int kRounds = 20;
    Channel channel;
    // The worker: a new indicator each round, whose life ends with its last session closed.
    VRefPtr<VTask> producer = NewTask(
        [&]
        {
            for (int round = 0; round < kRounds; ++round)
            {
                VProgressIndicator worker;
                std::optional<VRemoteProgressSessionInfo> previous;
                for (const ProducerStep& step : ProducerSteps())
                {
                    step.fRun(worker);
                    VRemoteProgressSessionInfo picture;
                    // Taken on the worker's own thread: the try-lock cannot find it busy.
                    if (!worker.GetProgressInfo(picture, previous ? &*previous : nullptr))
                    {
                        continue;
                    }
                    channel.Send(Delivery{PictureBytes(picture, previous ? &*previous : nullptr),
                                          ViewOf(worker), step.fWhat});
                    previous = picture;
                }
            }
            channel.Send(std::nullopt);
        });

    VProgressIndicator mirror;
    struct Outcome
    {
        const char* fWhat;
        VError fRead;
        bool fApplied;
        IndicatorView fExpected;
        IndicatorView fSeen;
    };
    std::vector<Outcome> outcomes;
    std::atomic<bool> done{false};
    VRefPtr<VTask> viewer = NewTask(
        [&]
        {
            while (std::optional<Delivery> delivery = channel.Receive())
            {
                VRemoteProgressSessionInfo picture;
                VError read = ReadPicture(delivery->fBytes, picture);
                bool applied = read == VE_OK && mirror.UpdateFromRemoteInfo(picture);
                outcomes.push_back({delivery->fWhat, read, applied, delivery->fExpected, ViewOf(mirror)});
            }
            done = true;
        });

    // A reader of the mirror on a third task: summaries and bags while pictures are applied.
    int64_t summaries = 0;
    bool consistent = true;
    VRefPtr<VTask> reader = NewTask(
        [&]
        {
            while (!done)
            {
                VProgressSessionInfo summary;
                if (mirror.GetProgressInfo(summary))
                {
                    ++summaries;
                    consistent =
                        consistent && summary.fSessionCount >= 1 &&
                        summary.fFilledSlots == static_cast<uint32_t>(std::min(summary.fSessionCount, 3));
                }
                VRefPtr<VValueBag> bag(new VValueBag(), true);
                mirror.SaveInfoToBag(*bag);
                VTaskMgr::Yield();
            }
        });

    ASSERT_TRUE(reader->Run());
    ASSERT_TRUE(viewer->Run());
    ASSERT_TRUE(producer->Run());
    ASSERT_TRUE(producer->WaitForDeath(30000));
    ASSERT_TRUE(viewer->WaitForDeath(30000));
    ASSERT_TRUE(reader->WaitForDeath(30000));

    ASSERT_EQ(static_cast<size_t>(kRounds) * ProducerSteps().size(), outcomes.size());
    for (const Outcome& outcome : outcomes)
    {
        ASSERT_EQ(VE_OK, outcome.fRead) << outcome.fWhat;
        ASSERT_TRUE(outcome.fApplied) << outcome.fWhat;
        ASSERT_EQ(outcome.fExpected, outcome.fSeen) << outcome.fWhat;
    }
    EXPECT_TRUE(consistent) << "a summary of the mirror showed a torn stack";
    EXPECT_FALSE(mirror.IsMirroring()) << "the last picture closed the last session";
    RecordProperty("summaries", static_cast<int>(summaries));
}

} // namespace
