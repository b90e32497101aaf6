#include "platform/Bundle.h"
#include "platform/DefaultApplication.h"
#include "platform/Dialogs.h"

#include "tests/FakeProgramSupport.h"
#include "tests/TestTime.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zorn::platform
{
namespace
{

using Args = std::vector<std::string>;
using test::FakeDialogFolder;
using test::ScopedEnvironmentVariable;

// The arguments after --text and --no-markup, which every zenity dialog begins with.
Args ZenityButtons(const DialogCommand& inCommand)
{
    return Args(inCommand.fArguments.begin() + 3, inCommand.fArguments.end());
}

TEST(DialogCommandTests, ZenityButtonSetsGiveTheirLabelsDefaultsAndAnswers)
{
    struct Case
    {
        const char* fWhat;
        uint32_t fFlags;
        Args fButtons;
        int32_t fOnOK, fOnCancel, fOnExtra;
    };
    const Case cases[] = {
        {"OK/Cancel, OK default", 1 | 16, {"--ok-label=OK", "--cancel-label=Cancel"}, 1, 2, 8},
        {"OK/Cancel, Cancel default",
         1,
         {"--ok-label=OK", "--cancel-label=Cancel", "--default-cancel"},
         1,
         2,
         8},
        {"OK/Cancel, flag 32 alone is Cancel default",
         1 | 32,
         {"--ok-label=OK", "--cancel-label=Cancel", "--default-cancel"},
         1,
         2,
         8},
        {"Yes/No, Yes default", 2 | 16, {"--ok-label=Yes", "--cancel-label=No"}, 3, 4, 8},
        {"Yes/No, No default", 2, {"--ok-label=Yes", "--cancel-label=No", "--default-cancel"}, 3, 4, 8},
        {"Yes/No with the warning icon",
         2 | 512,
         {"--ok-label=Yes", "--cancel-label=No", "--default-cancel", "--icon-name=dialog-warning"},
         3,
         4,
         8},
        {"Yes/No/Cancel, Yes default",
         4 | 16,
         {"--ok-label=Yes", "--cancel-label=Cancel", "--extra-button=No"},
         3,
         2,
         4},
        {"Yes/No/Cancel, No default",
         4 | 32,
         {"--ok-label=Yes", "--cancel-label=No", "--extra-button=Cancel", "--default-cancel"},
         3,
         4,
         2},
        {"Yes/No/Cancel, Cancel default",
         4,
         {"--ok-label=Yes", "--cancel-label=Cancel", "--extra-button=No", "--default-cancel"},
         3,
         2,
         4},
        {"Yes/No/Cancel, both default flags is Cancel default",
         4 | 48 | 512,
         {"--ok-label=Yes", "--cancel-label=Cancel", "--extra-button=No", "--default-cancel",
          "--icon-name=dialog-warning"},
         3,
         2,
         4},
        {"Retry/Ignore/Abort",
         5,
         {"--ok-label=Retry", "--cancel-label=Abort", "--extra-button=Ignore"},
         6,
         5,
         7},
        {"Retry/Ignore/Abort ignores the default flags",
         5 | 16 | 32,
         {"--ok-label=Retry", "--cancel-label=Abort", "--extra-button=Ignore"},
         6,
         5,
         7},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        DialogCommand command = BuildDialogCommand(DialogProgram::kZenity, "", "m", c.fFlags, "");
        EXPECT_EQ(command.fArguments[0], "--question");
        EXPECT_EQ(ZenityButtons(command), c.fButtons);
        EXPECT_EQ(ReadDialogAnswer(command, 0, ""), c.fOnOK);
        EXPECT_EQ(ReadDialogAnswer(command, 1, ""), c.fOnCancel);
        if (!command.fExtraLabel.empty())
        {
            EXPECT_EQ(ReadDialogAnswer(command, 1, command.fExtraLabel + "\n"), c.fOnExtra);
        }
        EXPECT_EQ(ReadDialogAnswer(command, 5, ""), kDialogAnswerCancelled);
        EXPECT_EQ(ReadDialogAnswer(command, -1, ""), kDialogAnswerCancelled);
    }
}

TEST(DialogCommandTests, OtherButtonSetsShowOneButtonAnsweringOK)
{
    for (uint32_t set : {0u, 3u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u})
    {
        for (uint32_t flags : {0u, 16u, 32u, 512u})
        {
            SCOPED_TRACE(set | flags);
            DialogCommand zenity = BuildDialogCommand(DialogProgram::kZenity, "", "m", set | flags, "");
            Args expected{"--info", "--text=m", "--no-markup"};
            if (flags == 512)
            {
                expected.push_back("--icon-name=dialog-warning");
            }
            EXPECT_EQ(zenity.fArguments, expected);
            EXPECT_EQ(ReadDialogAnswer(zenity, 0, ""), kDialogAnswerOK);
            // A closed window is no press of the one button.
            EXPECT_EQ(ReadDialogAnswer(zenity, 1, ""), kDialogAnswerCancelled);

            DialogCommand kdialog = BuildDialogCommand(DialogProgram::kKDialog, "", "m", set | flags, "");
            EXPECT_EQ(kdialog.fArguments, Args{flags == 512 ? "--sorry=m" : "--msgbox=m"});
            EXPECT_EQ(ReadDialogAnswer(kdialog, 0, ""), kDialogAnswerOK);
        }
    }
}

TEST(DialogCommandTests, KDialogButtonSetsMapItsThreeExitCodes)
{
    struct Case
    {
        uint32_t fFlags;
        Args fArguments;
        int32_t fOnExit[3];
    };
    const Case cases[] = {
        {1, {"--yesno=m", "--yes-label=OK", "--no-label=Cancel"}, {1, 2, 8}},
        {2 | 16, {"--yesno=m", "--yes-label=Yes", "--no-label=No"}, {3, 4, 8}},
        {2 | 512, {"--warningyesno=m", "--yes-label=Yes", "--no-label=No"}, {3, 4, 8}},
        {4 | 32, {"--yesnocancel=m", "--yes-label=Yes", "--no-label=No", "--cancel-label=Cancel"}, {3, 4, 2}},
        {4 | 512,
         {"--warningyesnocancel=m", "--yes-label=Yes", "--no-label=No", "--cancel-label=Cancel"},
         {3, 4, 2}},
        {5, {"--yesnocancel=m", "--yes-label=Retry", "--no-label=Ignore", "--cancel-label=Abort"}, {6, 7, 5}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fFlags);
        DialogCommand command = BuildDialogCommand(DialogProgram::kKDialog, "", "m", c.fFlags, "");
        EXPECT_EQ(command.fArguments, c.fArguments);
        for (int code = 0; code < 3; ++code)
        {
            EXPECT_EQ(ReadDialogAnswer(command, code, ""), c.fOnExit[code]);
        }
        EXPECT_EQ(ReadDialogAnswer(command, -1, ""), kDialogAnswerCancelled);
    }
}

TEST(DialogCommandTests, TitleAndIconAreSingleArguments)
{
    DialogCommand zenity =
        BuildDialogCommand(DialogProgram::kZenity, "T & <i>", "m", 3, "/b/Contents/Resources/i.png");
    EXPECT_EQ(zenity.fArguments, (Args{"--info", "--text=m", "--no-markup", "--title=T & <i>",
                                       "--window-icon=/b/Contents/Resources/i.png"}));
    DialogCommand kdialog = BuildDialogCommand(DialogProgram::kKDialog, "T", "m", 3, "/i.png");
    EXPECT_EQ(kdialog.fArguments, (Args{"--msgbox=m", "--title=T", "--icon=/i.png"}));
}

TEST(DialogCommandTests, OnlyTheWholeFirstLineSelectsTheExtraButton)
{
    DialogCommand command = BuildDialogCommand(DialogProgram::kZenity, "", "m", 4 | 16, "");
    EXPECT_EQ(ReadDialogAnswer(command, 1, "No"), kDialogAnswerNo);
    EXPECT_EQ(ReadDialogAnswer(command, 1, "No\n"), kDialogAnswerNo);
    EXPECT_EQ(ReadDialogAnswer(command, 1, "Nope\n"), kDialogAnswerCancel);
    EXPECT_EQ(ReadDialogAnswer(command, 1, "\nNo\n"), kDialogAnswerCancel);
    // The label printed with another exit code is not a press of the extra button.
    EXPECT_EQ(ReadDialogAnswer(command, 0, "No\n"), kDialogAnswerYes);
}

// ---- Running the dialog program ----

TEST(DialogRunTests, TheAnswerFollowsTheProgramsExit)
{
    FakeDialogFolder fake;
    struct Case
    {
        const char* fWhat;
        bool fKDialogOnly;
        uint32_t fFlags;
        const char* fExit;
        const char* fOutput;
        int32_t fAnswer;
    };
    const Case cases[] = {
        {"Yes/No without 16: the default No", false, 2, "1", nullptr, kDialogAnswerNo},
        {"Yes/No without 16: Yes", false, 2, "0", nullptr, kDialogAnswerYes},
        {"Yes/No/Cancel with 32: the alternate Yes", false, 4 | 32, "0", nullptr, kDialogAnswerYes},
        {"Yes/No/Cancel with 32: the other Cancel", false, 4 | 32, "1", "Cancel", kDialogAnswerCancel},
        {"one button", false, 3, "0", nullptr, kDialogAnswerOK},
        {"zenity's time-out", false, 2, "5", nullptr, kDialogAnswerCancelled},
        {"zenity's error", false, 2, "255", nullptr, kDialogAnswerCancelled},
        {"killed", false, 2, "kill", nullptr, kDialogAnswerCancelled},
        {"kdialog's cancel", true, 4, "2", nullptr, kDialogAnswerCancel},
        {"kdialog's Ignore", true, 5, "1", nullptr, kDialogAnswerIgnore},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ScopedEnvironmentVariable path("PATH", fake.Folder() + (c.fKDialogOnly ? "/kdialog" : "/both"));
        ScopedEnvironmentVariable exitCode("FAKE_DIALOG_EXIT", std::string(c.fExit));
        ScopedEnvironmentVariable output("FAKE_DIALOG_OUTPUT",
                                         c.fOutput ? std::optional<std::string>(c.fOutput) : std::nullopt);
        int32_t answer = -7;
        ASSERT_TRUE(ShowDialog("Title", "Message", c.fFlags, &answer));
        EXPECT_EQ(answer, c.fAnswer);
        DialogProgram program = c.fKDialogOnly ? DialogProgram::kKDialog : DialogProgram::kZenity;
        Args expected{c.fKDialogOnly ? "kdialog" : "zenity"};
        Args built = BuildDialogCommand(program, "Title", "Message", c.fFlags, "").fArguments;
        expected.insert(expected.end(), built.begin(), built.end());
        EXPECT_EQ(fake.LastArguments(), expected);
    }
}

TEST(DialogRunTests, TextsArriveAsOneUnchangedArgument)
{
    FakeDialogFolder fake;
    const std::string message = "-rf & <b>bold</b>\nsecond line";
    int32_t answer = -1;
    ASSERT_TRUE(ShowDialog("", message, 1, &answer));
    Args recorded = fake.LastArguments();
    ASSERT_GE(recorded.size(), 4u);
    EXPECT_EQ(recorded[1], "--question");
    EXPECT_EQ(recorded[2], "--text=" + message);
    EXPECT_EQ(recorded[3], "--no-markup");
    // An empty title: the message alone, no window title.
    for (const std::string& argument : recorded)
    {
        EXPECT_NE(argument.rfind("--title", 0), 0u) << argument;
    }
}

TEST(DialogRunTests, TheBundleIconIsShownWhenItsFileExists)
{
    FakeDialogFolder fake;
    const std::string bundle = fake.Folder() + "/App.app";
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    test::WriteScript(bundle + "/Contents/Info.plist",
                      "<plist><dict><key>CFBundleIconFile</key><string>app.png</string></dict></plist>");
    SetMainBundleFolderForTests(bundle);
    int32_t answer = 0;
    ASSERT_TRUE(ShowDialog("T", "M", 0, &answer));
    EXPECT_EQ(fake.LastArguments().back(), "--title=T"); // the named file is missing: no icon
    test::WriteScript(bundle + "/Contents/Resources/app.png", "png");
    ASSERT_TRUE(ShowDialog("T", "M", 0, &answer));
    EXPECT_EQ(fake.LastArguments().back(), "--window-icon=" + bundle + "/Contents/Resources/app.png");
    SetMainBundleFolderForTests("");
}

TEST(DialogRunTests, NothingToShowWithAnswersCancelled)
{
    FakeDialogFolder fake;
    struct Case
    {
        const char* fWhat;
        std::optional<std::string> fDisplay, fWayland, fPath;
    };
    const Case cases[] = {
        {"no display", std::nullopt, std::nullopt, fake.Folder() + "/both"},
        {"empty display", std::string(), std::nullopt, fake.Folder() + "/both"},
        {"no dialog program", std::string(":1"), std::string("wayland-0"), fake.Folder()},
        {"no PATH", std::string(":1"), std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ScopedEnvironmentVariable display("DISPLAY", c.fDisplay);
        ScopedEnvironmentVariable wayland("WAYLAND_DISPLAY", c.fWayland);
        ScopedEnvironmentVariable path("PATH", c.fPath);
        int32_t answer = -1;
        EXPECT_FALSE(ShowDialog("T", "M", 2, &answer));
        EXPECT_EQ(answer, kDialogAnswerCancelled);
        EXPECT_FALSE(ShowDialog("T", "M", 0, nullptr));
        EXPECT_TRUE(fake.LastArguments().empty());
    }
    // A Wayland display alone is a display.
    ScopedEnvironmentVariable display("DISPLAY", std::nullopt);
    ScopedEnvironmentVariable wayland("WAYLAND_DISPLAY", std::string("wayland-0"));
    int32_t answer = -1;
    EXPECT_TRUE(ShowDialog("T", "M", 2 | 16, &answer));
    EXPECT_EQ(answer, kDialogAnswerYes);
}

TEST(DialogRunTests, AsynchronousDialogsLeaveTheListWhenTheyEnd)
{
    FakeDialogFolder fake;
    CancelAllDialogs(); // nothing pending: returns at once
    ASSERT_TRUE(ShowDialog("T", "M", 0, nullptr));
    auto deadline = test::DeadlineIn(std::chrono::seconds(10));
    while (CountPendingDialogs() != 0 && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(CountPendingDialogs(), 0u);
}

TEST(DialogRunTests, CancelAllEndsAndReapsEveryOpenDialog)
{
    FakeDialogFolder fake;
    ScopedEnvironmentVariable wait("FAKE_DIALOG_WAIT", std::string("1"));
    constexpr int kDialogs = 3;
    for (int i = 0; i < kDialogs; ++i)
    {
        ASSERT_TRUE(ShowDialog("T", "M", 2, nullptr));
    }
    EXPECT_EQ(CountPendingDialogs(), static_cast<size_t>(kDialogs));
    // Each fake's pid, once it is ready for SIGTERM.
    std::vector<pid_t> pids;
    auto deadline = test::DeadlineIn(std::chrono::seconds(10));
    while (pids.size() < kDialogs && std::chrono::steady_clock::now() < deadline)
    {
        pids.clear();
        for (const auto& entry : std::filesystem::directory_iterator(fake.Folder()))
        {
            if (entry.path().extension() == ".ready")
            {
                pids.push_back(std::stoi(entry.path().stem().string()));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(pids.size(), static_cast<size_t>(kDialogs));

    CancelAllDialogs();
    EXPECT_EQ(CountPendingDialogs(), 0u);
    for (pid_t pid : pids)
    {
        EXPECT_TRUE(std::filesystem::exists(fake.Folder() + "/" + std::to_string(pid) + ".term")) << pid;
        // Reaped: not even a zombie answers a signal.
        EXPECT_EQ(::kill(pid, 0), -1) << pid;
    }
}

// ---- Opening in the default application ----

TEST(DefaultApplicationTests, XdgOpenRunsDetachedWithThePathAlone)
{
    std::string folder = test::MakeTemporaryFolder();
    test::WriteScript(folder + "/xdg-open",
                      "#!/bin/sh\n"
                      "dir='" +
                          folder +
                          "'\n"
                          "a=$(/bin/readlink /proc/$$/fd/0); b=$(/bin/readlink /proc/$$/fd/1)\n"
                          "c=$(/bin/readlink /proc/$$/fd/2)\n"
                          "printf '%s\\n' \"$a\" \"$b\" \"$c\" > \"$dir/fds\"\n"
                          "printf '%s\\0' \"$@\" > \"$dir/args\"\n"
                          "echo $$ > \"$dir/pid\"\n"
                          "i=0\n"
                          "while [ ! -e \"$dir/release\" ] && [ $i -lt 400 ]; do\n"
                          "  /bin/sleep 0.05; i=$((i+1))\n"
                          "done\n"
                          "echo done > \"$dir/exited\"\n");
    ScopedEnvironmentVariable path("PATH", folder);
    const std::string file = "/tmp/a log & <x>.txt";
    ASSERT_TRUE(OpenInDefaultApplication(file));
    ASSERT_TRUE(test::WaitForFile(folder + "/pid"));
    // The fake waits for the release file: the call came back while it still ran.
    EXPECT_FALSE(std::filesystem::exists(folder + "/exited"));
    EXPECT_EQ(test::ReadRecordedArguments(folder + "/args"), Args{file});
    EXPECT_EQ(test::ReadWholeFile(folder + "/fds"), "/dev/null\n/dev/null\n/dev/null\n");
    // It leads its own session: field 6 of its stat line is its pid.
    pid_t pid = std::stoi(test::ReadWholeFile(folder + "/pid"));
    std::string stat = test::ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    int session = 0;
    ASSERT_EQ(std::sscanf(stat.c_str() + stat.rfind(')') + 1, " %*c %*d %*d %d", &session), 1);
    EXPECT_EQ(session, pid);
    test::WriteScript(folder + "/release", "");
    EXPECT_TRUE(test::WaitForFile(folder + "/exited"));
    std::filesystem::remove_all(folder);
}

TEST(DefaultApplicationTests, WithoutXdgOpenNothingStarts)
{
    std::string folder = test::MakeTemporaryFolder();
    ScopedEnvironmentVariable path("PATH", folder);
    EXPECT_FALSE(OpenInDefaultApplication("/tmp/x"));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace zorn::platform
