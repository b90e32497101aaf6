// Each task holds international settings of its own: a clone of the process's, which it may
// replace without touching other tasks.

#include "tests/toolbox/kernel/IntlTestProcess.h"

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace zorn;
using zorn::test::StIntlTestProcess;
using zorn::test::Text;

TEST(TaskIntl, TasksCloneTheProcessSettingsAndChangeTheirOwn)
{
    EXPECT_EQ(VTask::GetWildChar(), u'@'); // no task, no process
    EXPECT_EQ(VTask::GetDialectCode(), 0u);

    StIntlTestProcess process(1036);
    ASSERT_TRUE(VTaskMgr::Get()->Init(&process));
    VTask* main = VTaskMgr::Get()->GetMainTask();
    ASSERT_NE(main->GetIntlMgr(), nullptr);
    EXPECT_NE(main->GetIntlMgr(), process.GetIntlMgr()); // a clone
    EXPECT_EQ(VTask::GetCurrentIntlManager(), main->GetIntlMgr());
    EXPECT_EQ(VTask::GetDialectCode(), 1036u);

    std::atomic<uint32_t> taskDialect{0};
    std::atomic<bool> taskMapped{false};
    VRefPtr<VTask> task(new VTask(0, eTaskStylePreemptive,
                                  [&]
                                  {
                                      if (!VTask::SetCurrentDialectCode(1055))
                                      {
                                          return;
                                      }
                                      taskDialect = VTask::GetDialectCode();
                                      VString text("istanbul");
                                      text.ToUpperCase();
                                      taskMapped = Text(text) == u"\u0130STANBUL";
                                  }),
                        true);
    ASSERT_NE(task->GetIntlMgr(), nullptr);
    EXPECT_EQ(task->GetIntlMgr()->GetDialectCode(), 1036u);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(taskDialect, 1055u);
    EXPECT_TRUE(taskMapped);

    // The main task kept its own settings.
    EXPECT_EQ(VTask::GetDialectCode(), 1036u);
    VString text("istanbul");
    text.ToUpperCase();
    EXPECT_EQ(Text(text), u"ISTANBUL");

    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000));
    VTaskMgr::Get()->DeInit();
}

// The system dialect is read once, whichever task asks first (checked under ThreadSanitizer: CTest
// runs this test in a process of its own, so these are the first calls).
TEST(TaskIntl, ConcurrentFirstCallsAgreeOnTheSystemDialect)
{
    std::vector<uint32_t> dialects(8, 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < dialects.size(); ++i)
    {
        threads.emplace_back([&dialects, i] { dialects[i] = VIntlMgr::ResolveDialectCode(0); });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    for (uint32_t dialect : dialects)
    {
        EXPECT_EQ(dialect, VIntlMgr::ResolveDialectCode(static_cast<uint32_t>(-1)));
        EXPECT_TRUE(VIntlMgr::IsDialectCode(dialect));
    }
}
