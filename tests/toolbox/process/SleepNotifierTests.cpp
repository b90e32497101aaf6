// The sleep notifier, driven through its Linux back end's power messages.
#include "tests/toolbox/kernel/LoggerTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VSleepNotifier.h"
#include "toolbox/process/linux/XLinuxSleepNotifier.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zorn
{
namespace
{

class LoggingProcess : public test::BareProcess
{
public:
    ILogger* GetLogger() const override { return &fLogger; }
    mutable test::RecordingLogger fLogger;
};

// Records its hooks in a shared journal; optionally unregisters another handler while sleeping.
class Handler : public VSleepNotifier::ISleepHandler
{
public:
    Handler(std::string inName, std::vector<std::string>& ioJournal)
        : fName(std::move(inName)), fJournal(ioJournal)
    {
    }
    void WillSleep() override
    {
        fJournal.push_back(fName + " sleep");
        if (fNotifier != nullptr)
        {
            fNotifier->UnregisterSleepHandler(fVictim);
        }
    }
    void DidWakeUp() override { fJournal.push_back(fName + " wake"); }
    VString GetName() const override { return VString(fName.c_str()); }

    std::string fName;
    std::vector<std::string>& fJournal;
    VSleepNotifier* fNotifier = nullptr;
    Handler* fVictim = nullptr;
};

class SleepNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IProcessServices::Set(&fProcess);
        ASSERT_EQ(fNotifier.Init(), VE_OK);
    }
    void TearDown() override { IProcessServices::Set(nullptr); }

    bool Feed(uint32_t inMessage) { return fNotifier.GetBackEnd()->FeedPowerMessage(inMessage); }

    LoggingProcess fProcess;
    VSleepNotifier fNotifier;
};

TEST_F(SleepNotifierTest, RegistrationKeepsOneEntryAndOneReference)
{
    std::vector<std::string> journal;
    VRefPtr<Handler> handler(new Handler("a", journal), true);
    EXPECT_EQ(fNotifier.RegisterSleepHandler(handler.Get()), VE_OK);
    EXPECT_EQ(fNotifier.RegisterSleepHandler(handler.Get()), VE_OK);
    EXPECT_EQ(fNotifier.CountSleepHandlers(), 1u);
    EXPECT_EQ(handler->GetRefCount(), 2) << "ours and the notifier's";

    VRefPtr<Handler> stranger(new Handler("b", journal), true);
    EXPECT_EQ(fNotifier.UnregisterSleepHandler(stranger.Get()), VE_OK);
    EXPECT_EQ(fNotifier.CountSleepHandlers(), 1u);
    EXPECT_EQ(fNotifier.RegisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(fNotifier.UnregisterSleepHandler(nullptr), VE_INVALID_PARAMETER);

    EXPECT_EQ(fNotifier.UnregisterSleepHandler(handler.Get()), VE_OK);
    EXPECT_EQ(handler->GetRefCount(), 1);
    fNotifier.RegisterSleepHandler(handler.Get());
    fNotifier.RegisterSleepHandler(stranger.Get());
    EXPECT_EQ(fNotifier.UnregisterSleepHandlers(), VE_OK);
    EXPECT_EQ(fNotifier.CountSleepHandlers(), 0u);
    EXPECT_EQ(handler->GetRefCount(), 1);
    EXPECT_EQ(stranger->GetRefCount(), 1);
}

TEST_F(SleepNotifierTest, PowerMessagesLogAndNotifyInAddressOrder)
{
    std::vector<std::string> journal;
    EXPECT_TRUE(Feed(XLinuxSleepNotifier::kSystemWillSleep)) << "allowed even without handlers";
    EXPECT_TRUE(Feed(XLinuxSleepNotifier::kCanSystemSleep));
    EXPECT_FALSE(Feed(XLinuxSleepNotifier::kSystemHasPoweredOn));
    EXPECT_FALSE(Feed(0xE0000320)) << "other messages are ignored";
    using Record = test::RecordingLogger::Record;
    EXPECT_EQ(
        fProcess.fLogger.fRecords,
        (std::vector<Record>{{{"message", "System is going to sleep"}, {"source", "sleepNotifications"}},
                             {{"message", "System woke up from sleep"}, {"source", "sleepNotifications"}}}));

    // Two handlers; the first in address order unregisters the second during the sleep, which
    // still receives that notification (the set was copied) but not the wake-up.
    VRefPtr<Handler> one(new Handler("x", journal), true);
    VRefPtr<Handler> two(new Handler("y", journal), true);
    Handler* low = std::less<Handler*>()(one.Get(), two.Get()) ? one.Get() : two.Get();
    Handler* high = low == one.Get() ? two.Get() : one.Get();
    low->fNotifier = &fNotifier;
    low->fVictim = high;
    fNotifier.RegisterSleepHandler(high);
    fNotifier.RegisterSleepHandler(low);
    Feed(XLinuxSleepNotifier::kSystemWillSleep);
    Feed(XLinuxSleepNotifier::kSystemHasPoweredOn);
    EXPECT_EQ(journal, (std::vector<std::string>{low->fName + " sleep", high->fName + " sleep",
                                                 low->fName + " wake"}));
}

} // namespace
} // namespace zorn
