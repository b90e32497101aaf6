// The debug manager: the assert file beside the bundle, the handler's responses, the gates that
// keep reports away, the error reports that no context filtered, and reports from many tasks at
// once.
#include "platform/Bundle.h"
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/LoggerTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VDebugMgr.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zorn;
using namespace zorn::test;
namespace fs = std::filesystem;

namespace
{

constexpr VError Zorn(int32_t inNumber)
{
    return MakeVError(kCOMPONENT_ZORN, inNumber);
}

// What the record writers were given.
struct Records
{
    std::mutex fMutex;
    int fAsserts = 0;
    int fErrors = 0;
    std::vector<std::u16string> fDebugMessages;
};
Records gRecords;

class AcceptingLogger : public test::StubLogger
{
public:
    bool ShouldLog(EMessageLevel) const override { return true; }
    void LogBag(VValueBag*) override {}
};

class LoggingProcess : public BareProcess
{
public:
    ILogger* GetLogger() const override { return &fLogger; }

private:
    mutable AcceptingLogger fLogger;
};

// Answers every report with fResponse and counts the questions.
class CountingHandler : public IDebugMessageHandler
{
public:
    int32_t AssertFailed(VDebugContext&, const char*, const char*, int) override
    {
        ++fAsserts;
        if (fDuringAssert)
        {
            fDuringAssert();
        }
        return fResponse;
    }
    int32_t ErrorThrown(VDebugContext&, VErrorBase*) override
    {
        ++fErrors;
        return fResponse;
    }

    std::atomic<int> fAsserts{0};
    std::atomic<int> fErrors{0};
    int32_t fResponse = eDebugResponse_Continue;
    std::function<void()> fDuringAssert;
};

std::string ReadFile(const fs::path& inPath)
{
    std::ifstream file(inPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& inText)
{
    std::istringstream stream(inText);
    std::vector<std::string> lines;
    for (std::string line; std::getline(stream, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

int CountLinesStartingWith(const std::string& inText, const std::string& inPrefix)
{
    int count = 0;
    for (const std::string& line : Lines(inText))
    {
        count += line.rfind(inPrefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

// The task manager and the debug manager running, the bundle in a folder of the test's own, the
// assert file on and the record writers counting.
class DebugMgrTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFolder = fs::temp_directory_path() / ("zorn-debug-" + std::to_string(::getpid()));
        fs::remove_all(fFolder);
        fs::create_directories(fFolder / "App.app");
        platform::SetMainBundleFolderForTests((fFolder / "App.app").string());
        {
            std::lock_guard lock(gRecords.fMutex);
            gRecords.fAsserts = 0;
            gRecords.fErrors = 0;
            gRecords.fDebugMessages.clear();
        }
        detail::SetLogRecordWriters(
            [](ILogger&, VErrorBase*)
            {
                std::lock_guard lock(gRecords.fMutex);
                ++gRecords.fErrors;
            },
            [](ILogger&, const char*, const char*, int)
            {
                std::lock_guard lock(gRecords.fMutex);
                ++gRecords.fAsserts;
            });
        detail::SetDebugMessageRecordWriter(
            [](ILogger&, const VString& inMessage)
            {
                std::lock_guard lock(gRecords.fMutex);
                gRecords.fDebugMessages.push_back(Text(inMessage));
            });
        IProcessServices::Set(&fProcess);
        ASSERT_TRUE(VTaskMgr::Get()->Init(&fProcess));
        ASSERT_TRUE(Mgr()->Init());
        Mgr()->SetWriteToAssertFile(true);
    }

    void TearDown() override
    {
        Mgr()->DeInit();
        Mgr()->SetBreakOnAssert(false);
        if (VTaskMgr::IsInited())
        {
            EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
            VTaskMgr::Get()->DeInit();
        }
        IProcessServices::Set(nullptr);
        detail::SetLogRecordWriters(nullptr, nullptr);
        detail::SetDebugMessageRecordWriter(nullptr);
        platform::SetMainBundleFolderForTests("");
        fs::remove_all(fFolder);
    }

    static VDebugMgr* Mgr() { return VDebugMgr::Get(); }

    // A fresh manager state (no ignored keys or codes, a new assert file) with the handler.
    void Restart(CountingHandler* inHandler)
    {
        Mgr()->DeInit();
        Mgr()->Init();
        Mgr()->SetWriteToAssertFile(true);
        Mgr()->SetDebugMessageHandler(inHandler);
        fs::remove(AssertFile());
    }

    fs::path AssertFile() const { return fFolder / "App_asserts.txt"; }
    std::string AssertText() const { return ReadFile(AssertFile()); }

    fs::path fFolder;
    LoggingProcess fProcess;
};

} // namespace

// Not static: the crawl names exported functions only.
__attribute__((noinline)) bool DebugTestAssertHelper(const char* inMessage, int inLine)
{
    bool breaks = VDebugMgr::Get()->AssertFailed(inMessage, "Widget.cpp", inLine);
    asm volatile("" ::: "memory");
    return breaks;
}

TEST(AssertFilePath, TheLastComponentLosesItsExtensionOnly)
{
    struct Row
    {
        const char* fBundle;
        const char* fExpected;
    };
    const Row rows[] = {
        {"/x/App.app", "/x/App_asserts.txt"},
        {"/x/my.apps/App.app", "/x/my.apps/App_asserts.txt"},
        {"/x/App", "/x/App_asserts.txt"},
        {"/opt/my.apps/App", "/opt/my.apps/App_asserts.txt"}, // a dot in a folder is not cut
    };
    for (const Row& row : rows)
    {
        EXPECT_EQ(VDebugMgr::BuildAssertFilePath(row.fBundle), row.fExpected) << row.fBundle;
    }
}

TEST_F(DebugMgrTest, AssertFileHasHeaderStampAndAtMostEightStackLinesBeforeTheText)
{
    EXPECT_EQ(Mgr()->GetAssertFilePath(), AssertFile().string()) << "beside the bundle";
    EXPECT_FALSE(DebugTestAssertHelper("x > 0", 12));
    Mgr()->DebugMsg(VString("second write\n"));

    const std::vector<std::string> lines = Lines(AssertText());
    ASSERT_GE(lines.size(), 6u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(Zq log file opened on \w+, \w+ \d\d, \d{4} \d\d:\d\d:\d\d \w+)")))
        << lines[0];
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\d\d/\d\d/\d\d, \d\d:\d\d:\d\d)"))) << lines[3];
    EXPECT_EQ(lines[4], "");
    size_t i = 5;
    int frames = 0;
    for (; i < lines.size() && lines[i].rfind("  :: frame ", 0) == 0; ++i, ++frames)
    {
        EXPECT_EQ(lines[i].find("VDebugMgr"), std::string::npos) << "the manager's own frames are skipped";
    }
    EXPECT_GE(frames, 1);
    EXPECT_LE(frames, 8);
    ASSERT_LT(i, lines.size());
    EXPECT_NE(lines[5].find("TestBody"), std::string::npos) << "the four innermost frames are skipped";
    EXPECT_EQ(lines[i], "Assert Failed: x > 0, Widget.cpp, 12");
    EXPECT_EQ(lines.back(), "second write") << "appended after a stamp, without a stack";
    EXPECT_EQ(CountLinesStartingWith(AssertText(), "Zq log file opened on"), 1) << "headed once per run";
}

TEST_F(DebugMgrTest, AFileGrownPastTheLimitIsRenamedWithTheCounterAndBegunAgain)
{
    Mgr()->DebugMsg(VString("first\n"));
    {
        std::ofstream grow(AssertFile(), std::ios::app | std::ios::binary);
        grow << std::string(VDebugMgr::kAssertFileRotationSize, 'x');
    }
    Mgr()->DebugMsg(VString("after rotation\n"));

    const fs::path rotated = AssertFile().string() + "0";
    ASSERT_TRUE(fs::exists(rotated));
    EXPECT_GE(fs::file_size(rotated), static_cast<uintmax_t>(VDebugMgr::kAssertFileRotationSize));
    EXPECT_EQ(ReadFile(rotated).rfind("Zq log file opened on", 0), 0u);
    const std::string fresh = AssertText();
    EXPECT_EQ(fresh.rfind("2 nth log opened on ", 0), 0u) << fresh.substr(0, 40);
    EXPECT_NE(fresh.find("after rotation"), std::string::npos);
    EXPECT_LT(fresh.size(), 1000u);
}

TEST_F(DebugMgrTest, HandlerResponsesToAssertionsAndErrors)
{
    // Each row: the same file and line fails twice, then another line once; code 1 is raised
    // twice, then code 2 once. Assertions and errors answer alike.
    struct Row
    {
        const char* fWhat;
        int32_t fResponse;
        int fAsked;
        int fWritten;
    };
    const Row rows[] = {
        {"7 continues", 7, 3, 3},
        {"3 ignores that file and line, or that code, not the other", eDebugResponse_IgnoreThis, 2, 2},
        {"4 stops asking but still records", eDebugResponse_IgnoreAll, 1, 3},
    };
    for (const Row& row : rows)
    {
        VRefPtr<CountingHandler> handler(new CountingHandler(), true);
        handler->fResponse = row.fResponse;
        Restart(handler.Get());
        EXPECT_FALSE(Mgr()->AssertFailed("a", "File.cpp", 10)) << row.fWhat;
        Mgr()->AssertFailed("a", "File.cpp", 10);
        Mgr()->AssertFailed("a", "File.cpp", 11);
        _ThrowError(Zorn(1));
        _ThrowError(Zorn(1));
        _ThrowError(Zorn(2));
        VTask::GetCurrent()->FlushErrors();
        EXPECT_EQ(handler->fAsserts.load(), row.fAsked) << row.fWhat;
        EXPECT_EQ(handler->fErrors.load(), row.fAsked) << row.fWhat;
        EXPECT_EQ(CountLinesStartingWith(AssertText(), "Assert Failed: a, File.cpp, 1"), row.fWritten)
            << row.fWhat;
        EXPECT_EQ(CountLinesStartingWith(AssertText(), "Error: Error code: "), row.fWritten) << row.fWhat;
    }
}

TEST_F(DebugMgrTest, ReportsReachTheLoggerDebugMessagesWithoutTheirFinalNewline)
{
    DebugTestAssertHelper("logged", 1);
    _ThrowError(Zorn(3));
    Mgr()->DebugMsg("%s=%d\n", "width", 5);
    Mgr()->DebugMsg(VString("no newline"));
    std::lock_guard lock(gRecords.fMutex);
    EXPECT_EQ(gRecords.fAsserts, 1);
    EXPECT_EQ(gRecords.fErrors, 1);
    EXPECT_EQ(gRecords.fDebugMessages, (std::vector<std::u16string>{u"width=5", u"no newline"}));
    EXPECT_NE(AssertText().find("width=5\n"), std::string::npos) << "the file keeps the text whole";
}

TEST_F(DebugMgrTest, GatesKeepReportsFromTheFileTheLoggerAndTheHandler)
{
    VRefPtr<CountingHandler> handler(new CountingHandler(), true);
    Mgr()->SetDebugMessageHandler(handler.Get());
    const auto report = []
    {
        VDebugMgr::Get()->AssertFailed("gated", "Gate.cpp", 1);
        VDebugMgr::Get()->DebugMsg(VString("gated\n"));
        VDebugMgr::Get()->ErrorThrown(VRefPtr<VErrorBase>(new VErrorBase(Zorn(4)), true).Get());
    };
    struct Gate
    {
        const char* fWhat;
        std::function<void()> fRun;
    };
    const Gate gates[] = {
        {"messages disabled",
         [&]
         {
             EXPECT_TRUE(Mgr()->SetMessagesEnabled(false));
             report();
             Mgr()->SetMessagesEnabled(true);
         }},
        {"no current task", [&] { std::thread(report).join(); }},
        {"low-level mode",
         [&]
         {
             Mgr()->StartLowLevelMode();
             Mgr()->StartLowLevelMode();
             report();
             Mgr()->StopLowLevelMode();
             report(); // still one level deep
             Mgr()->StopLowLevelMode();
         }},
    };
    for (const Gate& gate : gates)
    {
        gate.fRun();
        EXPECT_FALSE(fs::exists(AssertFile())) << gate.fWhat;
        EXPECT_EQ(handler->fAsserts.load() + handler->fErrors.load(), 0) << gate.fWhat;
        std::lock_guard lock(gRecords.fMutex);
        EXPECT_EQ(gRecords.fAsserts + gRecords.fErrors + static_cast<int>(gRecords.fDebugMessages.size()), 0)
            << gate.fWhat;
    }

    report();
    EXPECT_EQ(handler->fAsserts.load(), 1) << "open gates let reports through";
    EXPECT_EQ(handler->fErrors.load(), 1);
    EXPECT_TRUE(fs::exists(AssertFile()));
}

TEST_F(DebugMgrTest, AHandlerThatAssertsIsNotAskedAgain)
{
    VRefPtr<CountingHandler> handler(new CountingHandler(), true);
    handler->fDuringAssert = []
    {
        VDebugMgr::Get()->AssertFailed("inner", "Handler.cpp", 2);
        _ThrowError(Zorn(9));
    };
    Mgr()->SetDebugMessageHandler(handler.Get());
    Mgr()->AssertFailed("outer", "Caller.cpp", 1);
    EXPECT_EQ(handler->fAsserts.load(), 1);
    EXPECT_EQ(handler->fErrors.load(), 0);
    EXPECT_EQ(CountLinesStartingWith(AssertText(), "Assert Failed: "), 1);
    Mgr()->AssertFailed("after", "Caller.cpp", 3);
    EXPECT_EQ(handler->fAsserts.load(), 2) << "the guard ends with the report";
}

TEST_F(DebugMgrTest, ErrorsAreReportedOnlyWhenNoContextFiltersThem)
{
    VRefPtr<CountingHandler> handler(new CountingHandler(), true);
    Mgr()->SetDebugMessageHandler(handler.Get());
    _ThrowError(Zorn(1));
    EXPECT_EQ(handler->fErrors.load(), 1) << "outside any context";
    {
        StErrorContextInstaller silent(false, true);
        _ThrowError(Zorn(2));
    }
    EXPECT_EQ(handler->fErrors.load(), 1) << "inside a silent context";
    {
        StErrorContextInstaller expecting({Zorn(5)});
        _ThrowError(Zorn(5));
        EXPECT_EQ(handler->fErrors.load(), 1) << "inside a context expecting the code";
    }
    {
        StErrorContextInstaller expecting({Zorn(5)});
        _ThrowError(Zorn(6));
        EXPECT_EQ(handler->fErrors.load(), 2) << "a code the context does not expect";
    }
}

TEST_F(DebugMgrTest, BreakWithoutADebuggerGoesOn)
{
    Mgr()->SetBreakOnAssert(true);
    EXPECT_TRUE(Mgr()->AssertFailed("break", "Break.cpp", 1)) << "the caller is told to break";
    Mgr()->Break(); // no tracer: no trap, the test goes on
    Mgr()->SetBreakOnDebugMsg(true);
    Mgr()->DebugMsg(VString("break on message\n"));
    Mgr()->SetBreakOnDebugMsg(false);
    int32_t type = 0;
    EXPECT_TRUE(VDebugMgr::_GetDebuggerType(type));
    EXPECT_EQ(type, 2);
}

TEST_F(DebugMgrTest, BreakWithoutADebuggerQuitAndAbortEndTheProgramWithStatusOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int32_t responses[] = {eDebugResponse_Break, eDebugResponse_Quit};
    for (int32_t response : responses)
    {
        // ExitedWithCode also fails for a death by signal (SIGTRAP).
        EXPECT_EXIT(
            {
                VRefPtr<CountingHandler> handler(new CountingHandler(), true);
                handler->fResponse = response;
                VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
                VDebugMgr::Get()->AssertFailed("end", "End.cpp", 1);
            },
            ::testing::ExitedWithCode(1), "")
            << "response " << response;
    }
    EXPECT_EXIT(VDebugMgr::Get()->Abort(), ::testing::ExitedWithCode(1), "");
}

TEST_F(DebugMgrTest, ManyTasksReportAtOnceAndEveryLineIsWhole)
{
    constexpr int kTasks = 8;
    constexpr int kReports = 20;
    const std::string padding(300, 'p');
    std::vector<VRefPtr<VTask>> tasks;
    std::atomic<int> ready{0};
    for (int t = 0; t < kTasks; ++t)
    {
        tasks.emplace_back(new VTask(0, eTaskStylePreemptive,
                                     [t, &ready, &padding]
                                     {
                                         ++ready;
                                         while (ready.load() < kTasks)
                                         {
                                         }
                                         const std::string message =
                                             "task " + std::to_string(t) + " " + padding;
                                         for (int i = 0; i < kReports; ++i)
                                         {
                                             VDebugMgr::Get()->AssertFailed(message.c_str(), "Many.cpp", i);
                                             _ThrowError(Zorn(1000 + t));
                                         }
                                     }),
                           true);
    }
    for (auto& task : tasks)
    {
        ASSERT_TRUE(task->Run());
    }
    for (auto& task : tasks)
    {
        EXPECT_TRUE(task->WaitForDeath(60000));
    }

    const std::regex assertLine("Assert Failed: task [0-7] p{300}, Many\\.cpp, \\d+");
    const std::regex errorLine("Error: Error code: 100[0-7] \\(zorn\\)");
    int asserts = 0;
    int errors = 0;
    for (const std::string& line : Lines(AssertText()))
    {
        if (line.find("Assert Failed") != std::string::npos)
        {
            EXPECT_TRUE(std::regex_match(line, assertLine)) << line.substr(0, 80);
            ++asserts;
        }
        else if (line.find("Error: ") != std::string::npos)
        {
            EXPECT_TRUE(std::regex_match(line, errorLine)) << line;
            ++errors;
        }
    }
    EXPECT_EQ(asserts, kTasks * kReports);
    EXPECT_EQ(errors, kTasks * kReports);
}
