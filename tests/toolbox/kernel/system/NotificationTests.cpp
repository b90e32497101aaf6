#include "toolbox/kernel/errors/VDebugMgr.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VDebugContext.h"

#include "tests/FakeProgramSupport.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace zorn
{
namespace
{

using Args = std::vector<std::string>;
using test::FakeDialogFolder;
using test::ScopedEnvironmentVariable;

TEST(NotificationTests, AnswersComeBackThroughVSystem)
{
    FakeDialogFolder fake;
    ScopedEnvironmentVariable exitCode("FAKE_DIALOG_EXIT", std::string("1"));
    ENotificationResponse response = eNotificationResponse_None;
    EXPECT_TRUE(VSystem::DisplayNotification(VString("Update"), VString("Open the log?"), 2, &response));
    EXPECT_EQ(response, eNotificationResponse_No);
    EXPECT_EQ(fake.LastArguments(),
              (Args{"zenity", "--question", "--text=Open the log?", "--no-markup", "--ok-label=Yes",
                    "--cancel-label=No", "--default-cancel", "--title=Update"}));

    ScopedEnvironmentVariable display("DISPLAY", std::nullopt);
    response = eNotificationResponse_Yes;
    EXPECT_FALSE(VSystem::DisplayNotification(VString("T"), VString("M"), 2, &response));
    EXPECT_EQ(response, eNotificationResponse_Cancelled);
    EXPECT_FALSE(VSystem::DisplayNotification(VString("T"), VString("M"), 0));
    VSystem::CancelAllPendingUserNotifications();
}

// The notification debug handler: its question, and what each answer makes of the report.
TEST(NotificationTests, DebugHandlerAsksRetryIgnoreAbort)
{
    FakeDialogFolder fake;
    VNotificationDebugMessageHandler handler;
    VDebugContext context;
    VErrorBase* error = new VErrorUserGenerated(MakeVError(kCOMPONENT_ZORN, 4), VString("disk & <full>"));

    const Args setFive{"--ok-label=Retry", "--cancel-label=Abort", "--extra-button=Ignore"};
    Args assertArgs{"zenity", "--question", "--text=Condition: x > 0\nFile: a.cpp, 12", "--no-markup"};
    assertArgs.insert(assertArgs.end(), setFive.begin(), setFive.end());
    assertArgs.push_back("--title=Assert Failed");
    Args errorArgs{"zenity", "--question", "--text=Error: disk & <full>", "--no-markup"};
    errorArgs.insert(errorArgs.end(), setFive.begin(), setFive.end());
    errorArgs.push_back("--title=Error Thrown");

    struct Case
    {
        const char* fWhat;
        std::optional<std::string> fExit, fOutput, fDisplay;
        int32_t fResponse;
    };
    const Case cases[] = {
        // No debugger traces the tests: the first answer ends the program.
        {"Retry", "0", std::nullopt, ":99", eDebugResponse_Quit},
        {"Ignore", "1", "Ignore", ":99", eDebugResponse_Continue},
        {"Abort", "1", std::nullopt, ":99", eDebugResponse_IgnoreThis},
        {"killed", "kill", std::nullopt, ":99", eDebugResponse_IgnoreThis},
        {"nothing shown", "0", std::nullopt, std::nullopt, eDebugResponse_IgnoreThis},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ScopedEnvironmentVariable exitCode("FAKE_DIALOG_EXIT", c.fExit);
        ScopedEnvironmentVariable output("FAKE_DIALOG_OUTPUT", c.fOutput);
        ScopedEnvironmentVariable display("DISPLAY", c.fDisplay);
        std::remove((fake.Folder() + "/last.args").c_str());
        EXPECT_EQ(handler.AssertFailed(context, "x > 0", "a.cpp", 12), c.fResponse);
        EXPECT_EQ(fake.LastArguments(), c.fDisplay ? assertArgs : Args{});
        EXPECT_EQ(handler.ErrorThrown(context, error), c.fResponse);
        EXPECT_EQ(fake.LastArguments(), c.fDisplay ? errorArgs : Args{});
    }
    error->Release();
}

} // namespace
} // namespace zorn
