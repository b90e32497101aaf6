// The record bags that errors, failed assertions and debug messages become on their way to the
// process logger. The writers are installed before main; nothing in the test installs them.
#include "tests/StringTestSupport.h"
#include "tests/toolbox/kernel/LoggerTestSupport.h"
#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VDebugMgr.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

TEST(BagLogRecords, ErrorRecord)
{
    RecordingLogger logger;
    VErrorUserGenerated error(MakeVError(kCOMPONENT_ZORN, 100), VString("out of memory"));
    logger.LogErrorIfNecessary(&error);
    VErrorUserGenerated bare(MakeVError(0, 5), VString("no component"));
    logger.LogErrorIfNecessary(&bare);

    ASSERT_EQ(logger.fRecords.size(), 2u);
    // The error's own saved form comes along; the task it names depends on where the test runs.
    EXPECT_EQ(logger.fRecords[0].erase("task_id"), 1u);
    EXPECT_EQ(logger.fRecords[0].erase("task_name"), 1u);
    EXPECT_EQ(logger.fRecords[0],
              (RecordingLogger::Record{
                  {"level", "6"},
                  {"error_code", std::to_string(static_cast<int64_t>(MakeVError(kCOMPONENT_ZORN, 100)))},
                  {"message", "out of memory"},
                  {"component_signature", std::to_string(static_cast<int32_t>(kCOMPONENT_ZORN))},
                  {"source", ""}}))
        << "no process, no source identifier";
    EXPECT_EQ(logger.fRecords[1].count("component_signature"), 0u) << "no component, no signature";
}

TEST(BagLogRecords, AssertRecord)
{
    RecordingLogger logger;
    logger.LogAssertIfNecessary("x > 0", "/src/deep/folder/file.cpp", 42);
    logger.LogAssertIfNecessary("y", "plain.cpp", 7);
    ASSERT_EQ(logger.fRecords.size(), 2u);
    RecordingLogger::Record& first = logger.fRecords[0];
    EXPECT_EQ(first["level"], "2");
    EXPECT_EQ(first["message"], "x > 0");
    EXPECT_EQ(first["file_name"], "file.cpp");
    EXPECT_EQ(first["line_number"], "42");
    EXPECT_NE(first["stack_crawl"].find(" <- "), std::string::npos) << first["stack_crawl"];
    EXPECT_EQ(first["stack_crawl"].find('\n'), std::string::npos);
    EXPECT_EQ(first["stack_crawl"].find("0x"), std::string::npos) << "names only: " << first["stack_crawl"];
    EXPECT_EQ(logger.fRecords[1]["file_name"], "plain.cpp");
}

TEST(BagLogRecords, CondensedStackCrawls)
{
    struct Case
    {
        const char* description;
        const char* crawl;
        const char* condensed;
    };
    const Case cases[] = {
        {"arguments, namespace and a final const go", "zorn::VFile::Open(int) const", "VFile::Open"},
        {"lines are joined innermost first", "zorn::A::f()\nzorn::B::g(char const*)\nmain",
         "A::f <- B::g <- main"},
        {"thunks lose their prefix", "non-virtual thunk to zorn::VTask::Run()", "VTask::Run"},
        {"only the first parenthesis pair goes, up to the first ')'",
         "zorn::Call(std::function<void (int)>) const", "Call>)"},
        {"a const inside the line stays", "f(int) const volatile", "f const volatile"},
        {"a ')' before the first '(' keeps the line whole", "odd) name(x", "odd) name(x"},
        {"empty lines vanish", "\nzorn::A::f()\n\n", "A::f"},
    };
    for (const Case& c : cases)
    {
        VString condensed;
        CondenseStackCrawl(VString(c.crawl), condensed);
        EXPECT_EQ(Ascii(condensed), c.condensed) << c.description;
    }
}

class LoggingProcess : public BareProcess
{
public:
    ILogger* GetLogger() const override { return &fLogger; }
    mutable RecordingLogger fLogger;
};

class BagDebugMessageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IProcessServices::Set(&fProcess);
        ASSERT_TRUE(VTaskMgr::Get()->Init(&fProcess));
        fWasEnabled = VDebugMgr::Get()->SetMessagesEnabled(true);
        fWasLogging = VDebugMgr::Get()->SetLogInDebugger(false);
    }
    void TearDown() override
    {
        VDebugMgr::Get()->SetMessagesEnabled(fWasEnabled);
        VDebugMgr::Get()->SetLogInDebugger(fWasLogging);
        VTaskMgr::Get()->DeInit();
        IProcessServices::Set(nullptr);
    }

    LoggingProcess fProcess;
    bool fWasEnabled = false;
    bool fWasLogging = false;
};

TEST_F(BagDebugMessageTest, DebugMessageIsARecordOfMessageAndLevel)
{
    VDebugMgr::Get()->DebugMsg(VString("checkpoint reached\n"));
    ASSERT_EQ(fProcess.fLogger.fRecords.size(), 1u);
    EXPECT_EQ(fProcess.fLogger.fRecords[0],
              (RecordingLogger::Record{{"message", "checkpoint reached"}, {"level", "3"}}));
}

} // namespace
