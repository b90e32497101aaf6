// Producers logging on ten tasks while the file logger stops and starts and listeners come and go:
// no deadlock, every line whole, every sequence written once.
#include "tests/toolbox/process/LogTestSupport.h"
#include "toolbox/process/VLog4jMsgFileLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>

using namespace zorn;
using namespace zorn::test;

namespace
{

class LoggerThreadTest : public LoggingTest
{
protected:
    ScratchFolder fScratch;
};

TEST_F(LoggerThreadTest, StartStopAndListenersRaceWithProducers)
{
    VRefPtr<VFolder> folder(fScratch.NewFolder(), true);
    VLog4jMsgFileLogger fileLogger(folder.Get(), VString("update"));
    fileLogger.Start();
    ASSERT_TRUE(fileLogger.IsStarted());

    std::atomic<bool> done{false};
    std::vector<VRefPtr<VTask>> producers;
    for (int p = 0; p < 10; ++p)
    {
        producers.push_back(NewTask(
            [&, p]
            {
                for (int n = 0; n < 2000 && !done.load(); ++n)
                {
                    fLogging.fLogger.LogMessage(
                        EML_Information,
                        VString(("p" + std::to_string(p) + " n" + std::to_string(n)).c_str()), VString());
                    if (n % 64 == 0)
                    {
                        VTask::Sleep(1);
                    }
                }
            }));
        ASSERT_TRUE(producers.back()->Run());
    }
    for (int round = 0; round < 20; ++round)
    {
        VRefPtr<KeepingListener> extra(new KeepingListener, true);
        EXPECT_TRUE(fLogging.fLogger.AddLogListener(extra.Get()));
        fileLogger.Stop();
        fileLogger.Start();
        EXPECT_TRUE(fLogging.fLogger.RemoveLogListener(extra.Get()));
        VTask::Sleep(5);
    }
    done = true;
    for (auto& producer : producers)
    {
        EXPECT_TRUE(producer->WaitForDeath(10000));
    }
    fileLogger.Stop();

    const std::regex form(
        R"(^(\d+) \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \[Updater\] INFO - p\d n\d+ \(\)$)");
    std::set<uint64_t> sequences;
    size_t lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fScratch.Path()))
    {
        std::istringstream in(fScratch.Read(entry.path().filename().string()));
        for (std::string line; std::getline(in, line); ++lines)
        {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, form)) << line;
            EXPECT_TRUE(sequences.insert(std::stoull(match[1])).second) << "written twice: " << line;
        }
    }
    EXPECT_GT(lines, 0u);
}

} // namespace
