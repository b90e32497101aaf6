// Start-up of the process object: the order of its steps, what a failure at each one leaves, its
// alerts (through the fake dialog program) and the init-once rule. Each case builds and destroys a
// whole process, so the task manager starts and stops once per case.
#include "platform/Dialogs.h"
#include "tests/FakeProgramSupport.h"
#include "tests/toolbox/process/LogTestSupport.h"
#include "toolbox/files/VFileSystem.h"
#include "toolbox/files/VFileSystemNamespace.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VBootLogListener.h"
#include "toolbox/process/VCommandLineParser.h"
#include "toolbox/process/VFileSystemNotifier.h"
#include "toolbox/process/VLogger.h"
#include "toolbox/process/VProcess.h"
#include "toolbox/process/VProcessIPC.h"
#include "toolbox/process/VSleepNotifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zorn;
using test::FakeDialogFolder;

namespace
{

std::vector<int> sSteps;
int sFailingStep = 0;

bool RecordStep(int inStep)
{
    sSteps.push_back(inStep);
    return inStep != sFailingStep;
}

// Installs the recording hook, failing at inFailingStep (0: none), for the life of the object.
class StepRecorder
{
public:
    explicit StepRecorder(int inFailingStep)
    {
        sSteps.clear();
        sFailingStep = inFailingStep;
        VProcess::SetInitStepHookForTests(&RecordStep);
    }
    ~StepRecorder() { VProcess::SetInitStepHookForTests(nullptr); }
    StepRecorder(const StepRecorder&) = delete;
    StepRecorder& operator=(const StepRecorder&) = delete;
};

std::vector<int> StepsUpTo(int inLast)
{
    std::vector<int> steps;
    for (int step = 1; step <= inLast; ++step)
    {
        steps.push_back(step);
    }
    return steps;
}

TEST(ProcessInit, RunsEveryStepInOrderOnce)
{
    FakeDialogFolder fake;
    StepRecorder recorder(0);
    {
        VProcess process;
        EXPECT_TRUE(process.Init(16));
        EXPECT_EQ(sSteps, StepsUpTo(14));
        EXPECT_NE(process.GetIntlMgr(), nullptr);
        EXPECT_NE(process.GetLogger(), nullptr);
        EXPECT_TRUE(VTaskMgr::IsInited());
        EXPECT_FALSE(process.IsFibersEnabled());
        // Outside a bundle there is no resources folder: only the Documents file system.
        VRefPtr<VFileSystem> documents(
            process.GetFileSystemNamespace()->RetainFileSystem(VString(".USER_HOME_DIRECTORY"), 0), true);
        VRefPtr<VFileSystem> resources(
            process.GetFileSystemNamespace()->RetainFileSystem(VString(".PRODUCT_RESOURCES"), 0), true);
        EXPECT_TRUE(documents);
        EXPECT_FALSE(resources);

        sSteps.clear();
        EXPECT_TRUE(process.Init(16)) << "the first result";
        EXPECT_TRUE(sSteps.empty()) << "no step runs twice";
    }
    EXPECT_FALSE(VTaskMgr::IsInited()) << "undone with the process";
    EXPECT_EQ(platform::CountPendingDialogs(), 0u);
}

TEST(ProcessInit, WithoutFlag16ThereIsNoLogger)
{
    StepRecorder recorder(0);
    VProcess process;
    EXPECT_TRUE(process.Init(2));
    EXPECT_EQ(sSteps, StepsUpTo(13));
    EXPECT_EQ(process.GetLogger(), nullptr);
    EXPECT_TRUE(process.IsFibersEnabled());
}

// What start-up's logger and class store give: the logger only for levels it keeps, class objects
// only under the store's exact name, and the boot records handed on when the boot listener goes.
TEST(ProcessInit, LoggerClassObjectsAndBootRecords)
{
    VProcess process;
    ASSERT_TRUE(process.Init(16));
    ILogger* logger = process.GetLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(process.GetLogger(EML_Error), logger);
    EXPECT_EQ(process.GetLogger(EML_Debug), nullptr) << "debug is not in the default mask";

    EXPECT_TRUE(process.GetClassObject(VString("zq"), VString("Object")));
    EXPECT_FALSE(process.GetClassObject(VString("ZQ"), VString("Object"))) << "the name compares exactly";
    EXPECT_FALSE(process.GetClassObject(VString("zq"), VString("NoSuchClass")));

    logger->LogMessage(EML_Information, VString("first"), VString());
    logger->LogMessage(EML_Error, VString("second"), VString());
    logger->Flush();
    ASSERT_NE(process.GetBootLogListener(), nullptr);
    ASSERT_EQ(process.GetBootLogListener()->GetRecords().size(), 2u);
    VRefPtr<test::KeepingListener> later(new test::KeepingListener, true);
    ASSERT_TRUE(logger->AddLogListener(later.Get()));
    process.CleanBootLogListener();
    logger->Flush();
    EXPECT_EQ(process.GetBootLogListener(), nullptr);
    EXPECT_EQ(later->Sequences().size(), 2u) << "the boot records reach the listeners again";
    process.CleanBootLogListener(); // nothing left to hand on
}

// A failure at each step stops the later ones; the version and case checks show their alert.
TEST(ProcessInit, FailureAtEachStepStopsTheRest)
{
    struct Case
    {
        int fStep;
        const char* fAlert; // null: no alert
    };
    const Case cases[] = {
        {1, "This application needs at least OS X 10.12"},
        {2, nullptr},
        {3, nullptr},
        {4, nullptr},
        {5, nullptr},
        {6, nullptr},
        {7, "Please install the application on a case insensitive file system."},
        {8, nullptr},
        {9, nullptr},
        {10, nullptr},
        {11, nullptr},
        {12, nullptr},
        {13, nullptr},
        {14, nullptr},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fStep);
        FakeDialogFolder fake;
        {
            StepRecorder recorder(c.fStep);
            VProcess process;
            EXPECT_FALSE(process.Init(16 | 2));
            EXPECT_EQ(sSteps, StepsUpTo(c.fStep));
            // The instance and the fibers flag are set even when the version check failed.
            EXPECT_EQ(VProcess::Get(), &process);
            EXPECT_TRUE(process.IsFibersEnabled());
            EXPECT_EQ(process.GetLogger(), nullptr);
            EXPECT_EQ(process.GetIntlMgr() != nullptr, c.fStep > 4);
            EXPECT_EQ(VTaskMgr::IsInited(), c.fStep > 8);

            sSteps.clear();
            EXPECT_FALSE(process.Init(16)) << "the first result";
            EXPECT_TRUE(sSteps.empty());
        }
        EXPECT_FALSE(VTaskMgr::IsInited());
        if (c.fAlert == nullptr)
        {
            EXPECT_EQ(platform::CountPendingDialogs(), 0u);
            continue;
        }
        ASSERT_TRUE(test::WaitForFile(fake.Folder() + "/last.args"));
        EXPECT_EQ(fake.LastArguments(),
                  (std::vector<std::string>{"zenity", "--info", std::string("--text=") + c.fAlert,
                                            "--no-markup", "--title=Initialization failed"}));
        VSystem::CancelAllPendingUserNotifications();
    }
}

// The ".USER_HOME_DIRECTORY" file system: the Documents folder of user-dirs.dirs, else
// $HOME/Documents when it exists, else the home folder ($HOME, else the password entry's).
TEST(ProcessInit, DocumentsFileSystemFallsBackToTheHome)
{
    const std::string root = test::MakeTemporaryFolder();
    const std::string home = root + "/home";
    std::filesystem::create_directories(home + "/.config");
    std::filesystem::create_directories(root + "/docs");
    struct passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string passwdHome = std::string(entry->pw_dir) + "/";
    struct Case
    {
        const char* fWhat;
        bool fXDG;           // user-dirs.dirs names root/docs
        bool fHomeDocuments; // home/Documents exists
        bool fHomeSet;
        std::string fExpected;
    };
    const Case cases[] = {
        {"the user-dirs.dirs entry", true, true, true, root + "/docs/"},
        {"$HOME/Documents without an entry", false, true, true, home + "/Documents/"},
        {"$HOME without Documents", false, false, true, home + "/"},
        {"the password entry's home without HOME", false, false, false, passwdHome},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        std::filesystem::remove(home + "/.config/user-dirs.dirs");
        if (c.fXDG)
        {
            std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"" << root << "/docs\"\n";
        }
        std::filesystem::remove_all(home + "/Documents");
        if (c.fHomeDocuments)
        {
            std::filesystem::create_directory(home + "/Documents");
        }
        test::ScopedEnvironmentVariable homeVariable("HOME", c.fHomeSet ? std::optional<std::string>(home)
                                                                        : std::nullopt);
        test::ScopedEnvironmentVariable config("XDG_CONFIG_HOME", std::nullopt);
        VProcess process;
        ASSERT_TRUE(process.Init(0));
        VRefPtr<VFileSystem> documents(
            process.GetFileSystemNamespace()->RetainFileSystem(VString(".USER_HOME_DIRECTORY"), 0), true);
        ASSERT_TRUE(documents);
        VString path;
        documents->GetRoot().GetPosixPath(path);
        EXPECT_EQ(to_string(path), c.fExpected);
    }
    std::filesystem::remove_all(root);
}

// A process that records what Run calls.
class RecordingProcess : public VProcess
{
public:
    std::vector<std::string> fCalls;

protected:
    void DoRun() override { fCalls.emplace_back(IsRunning() ? "run" : "run, main task dying"); }
    void DoQuit() override { fCalls.emplace_back("quit"); }
};

TEST(ProcessRun, RunsThenKillsTheMainTask)
{
    RecordingProcess process;
    StErrorContextInstaller errors;
    process.Run(); // starts the process first
    EXPECT_TRUE(process.IsInitCalled());
    EXPECT_EQ(process.fCalls, (std::vector<std::string>{"run", "quit"}));
    EXPECT_NE(process.GetLogger(), nullptr) << "flags 0x50 ask for the logger";
    EXPECT_FALSE(VProcess::IsRunning());
    EXPECT_FALSE(process.IsMessagingStarted());
    EXPECT_EQ(errors.GetLastError(), VE_OK);
}

TEST(ProcessRun, NothingOffTheMainTask)
{
    RecordingProcess process;
    ASSERT_TRUE(process.Init(0));
    std::thread other([&process] { process.Run(); });
    other.join();
    EXPECT_TRUE(process.fCalls.empty());
    EXPECT_TRUE(VProcess::IsRunning());
}

// Errors need a task: start-up fails after the task manager started, then Run raises.
TEST(ProcessRun, FailedStartUpRaisesAnError)
{
    RecordingProcess process;
    {
        StepRecorder recorder(11);
        ASSERT_FALSE(process.Init(0x50));
    }
    ASSERT_TRUE(VTaskMgr::IsInited());
    StErrorContextInstaller errors(true, true);
    process.Run();
    EXPECT_TRUE(process.fCalls.empty());
    ASSERT_NE(errors.GetContext(), nullptr);
    VErrorBase* error = errors.GetContext()->GetLast();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetError(), MakeVError(kCOMPONENT_ZORN, 4));
    ASSERT_NE(error->GetParameters(), nullptr);
    VString p1;
    error->GetParameters()->GetProperty(VString("p1")).GetString(p1);
    EXPECT_EQ(to_string(p1), "VApplication::DoInit failed");
}

TEST(ProcessRun, ProcessesThatExist)
{
    pid_t child = ::fork();
    if (child == 0)
    {
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_TRUE(VProcess::IsProcessRunning(child)) << "exited, not yet reaped";
    ::waitpid(child, nullptr, 0);
    struct Case
    {
        const char* fWhat;
        int32_t fPid;
        bool fRunning;
    };
    const Case cases[] = {
        {"this process", VProcess::GetSystemID(), true},
        {"init", 1, true},
        {"a reaped child", static_cast<int32_t>(child), false},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(VProcess::IsProcessRunning(c.fPid), c.fRunning) << c.fWhat;
    }
}

// An IPC process whose parse collects the plain arguments, then answers as told.
class ParsingProcess : public VProcessIPC
{
public:
    int32_t fAnswer = 0;
    int fParses = 0;
    std::vector<VString> fArguments;

protected:
    int32_t DoParseCommandLine(VCommandLineParser& ioParser) override
    {
        ++fParses;
        ioParser.GetOptionsInfos().SetPositionalCollector(
            new VArgOption<std::vector<VString>>(32, VString(), VString(), &fArguments));
        int32_t parsed = ioParser.Parse();
        return parsed != 0 ? parsed : fAnswer;
    }
};

TEST(ProcessIPC, ParsesTheCommandLineOnce)
{
    std::string program = "/opt/app";
    std::string psn = "-psn_0_123";
    std::string plain = "file.txt";
    char* argv[] = {program.data(), psn.data(), plain.data(), nullptr};
    VProcessIPC::SetCommandLine(3, argv);
    EXPECT_EQ(3, VProcess::sProcessCommandLineArgc);
    EXPECT_EQ(argv, VProcess::sProcessCommandLineArgv);
    {
        ParsingProcess process;
        EXPECT_EQ(process.GetExitCode(), 1) << "before start-up";
        EXPECT_TRUE(process.Init(0));
        EXPECT_EQ(process.GetExitCode(), 0);
        ASSERT_EQ(process.fArguments.size(), 1u);
        EXPECT_EQ(to_string(process.fArguments[0]), "file.txt") << "-psn_ never reaches the parse";
        EXPECT_NE(process.GetSleepNotifier(), nullptr);
        EXPECT_EQ(process.GetFileSystemNotifier(), nullptr) << "flag 64 only";
        EXPECT_TRUE(process.Init(0));
        EXPECT_EQ(process.fParses, 1);
    }
    VProcessIPC::SetCommandLine(0, nullptr);
    EXPECT_EQ(0, VProcess::sProcessCommandLineArgc);
    EXPECT_EQ(nullptr, VProcess::sProcessCommandLineArgv);
    VProcessIPC::SetCommandLine(5, nullptr);
    EXPECT_EQ(0, VProcess::sProcessCommandLineArgc) << "no vector, no arguments";
}

TEST(ProcessIPC, ParseResultGivesExitCode)
{
    struct Case
    {
        const char* fWhat;
        int32_t fAnswer;
        bool fInit;
        int32_t fExitCode;
    };
    const Case cases[] = {
        {"go on", 0, true, 0},
        {"help shown: stop without error", 2, false, 0},
        {"a bad argument", 3, false, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.fWhat);
        ParsingProcess process;
        process.fAnswer = c.fAnswer;
        EXPECT_EQ(process.Init(64), c.fInit);
        EXPECT_EQ(process.GetExitCode(), c.fExitCode);
        EXPECT_EQ(process.GetFileSystemNotifier() != nullptr, c.fInit);
        EXPECT_EQ(process.Init(64), c.fInit);
        EXPECT_EQ(process.fParses, 1);
    }
}

TEST(ProcessIPC, FailedStartUpGivesExitCode1)
{
    StepRecorder recorder(5);
    ParsingProcess process;
    process.fAnswer = 0;
    EXPECT_FALSE(process.Init(0));
    EXPECT_EQ(process.GetExitCode(), 1);
    EXPECT_EQ(process.fParses, 0);
}

} // namespace
