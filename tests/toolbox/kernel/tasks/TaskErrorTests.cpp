// Errors raised on tasks: each task collects them in its own error contexts, scopes pass them
// outward or drop them, and only errors that no context filtered are reported.
#include "tests/toolbox/kernel/TaskTestSupport.h"

#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

using namespace zorn;
using namespace zorn::test;

namespace
{

constexpr VError Zorn(int32_t inNumber)
{
    return MakeVError(kCOMPONENT_ZORN, inNumber);
}

std::mutex gReportedMutex;
std::vector<VError> gReported;

void RecordReport(VErrorBase* inError)
{
    std::lock_guard lock(gReportedMutex);
    gReported.push_back(inError->GetError());
}

std::vector<VError> Reported()
{
    std::lock_guard lock(gReportedMutex);
    return gReported;
}

std::vector<VError> Codes(const VErrorContext* inContext)
{
    std::vector<VError> codes;
    for (VErrorBase* error : inContext->GetErrorList())
    {
        codes.push_back(error->GetError());
    }
    return codes;
}

class TaskErrors : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        {
            std::lock_guard lock(gReportedMutex);
            gReported.clear();
        }
        VTask::SetErrorReporter(&RecordReport);
    }
};

TEST_F(TaskErrors, SilentDroppingScopeHidesItsErrorAndLeavesTheOuterScopeAlone)
{
    StErrorContextInstaller outer;
    _ThrowError(Zorn(1));
    {
        StErrorContextInstaller inner(false, true);
        EXPECT_EQ(_ThrowError(Zorn(600)), Zorn(600));
        EXPECT_EQ(inner.GetLastError(), Zorn(600)) << "the scope sees its own error";
    }
    EXPECT_EQ(Reported(), std::vector<VError>{Zorn(1)}) << "600 was not reported";
    EXPECT_EQ(outer.GetLastError(), Zorn(1));
    EXPECT_EQ(outer.Find(Zorn(600)), nullptr) << "gone with its scope";
    EXPECT_EQ(Main()->GetLastError(), Zorn(1));
}

TEST_F(TaskErrors, KeepingScopesPassErrorsOutwardInOrder)
{
    StErrorContextInstaller outer;
    _ThrowError(Zorn(1));
    {
        StErrorContextInstaller inner;
        _ThrowError(Zorn(2));
        _ThrowError(Zorn(3));
        EXPECT_EQ(Codes(inner.GetContext()), (std::vector<VError>{Zorn(2), Zorn(3)}));
    }
    EXPECT_EQ(Codes(outer.GetContext()), (std::vector<VError>{Zorn(1), Zorn(2), Zorn(3)}));
    EXPECT_EQ(Reported(), (std::vector<VError>{Zorn(1), Zorn(2), Zorn(3)}));
}

TEST_F(TaskErrors, ExpectedCodeSilencesAndDropsItsScope)
{
    StErrorContextInstaller outer;
    {
        StErrorContextInstaller expecting({Zorn(200)});
        _ThrowError(Zorn(200));
        EXPECT_TRUE(expecting.GetContext()->IsSilent());
        // The accompanying code of an expected error is not pushed.
        _PushRetainedError(new VErrorBase(Zorn(200)), Zorn(5));
        EXPECT_EQ(expecting.GetContext()->Find(Zorn(5)), nullptr);
    }
    EXPECT_TRUE(Reported().empty());
    EXPECT_EQ(outer.GetLastError(), VE_OK);

    // Not expected: the accompanying error comes first.
    _PushRetainedError(new VErrorBase(Zorn(600)), Zorn(5));
    EXPECT_EQ(Codes(outer.GetContext()), (std::vector<VError>{Zorn(5), Zorn(600)}));
}

TEST_F(TaskErrors, OutermostScopeLeavesItsErrorsOnTheTask)
{
    {
        StErrorContextInstaller scope;
        _ThrowError(VE_MEMORY_FULL);
        EXPECT_TRUE(Main()->FailedForMemory());
    }
    EXPECT_EQ(Main()->GetLastError(), VE_MEMORY_FULL);
    EXPECT_TRUE(Main()->FailedForMemory());
    Main()->FlushErrors();
    EXPECT_EQ(Main()->GetLastError(), VE_OK);
    EXPECT_FALSE(Main()->FailedForMemory());
}

TEST_F(TaskErrors, ErrorsOfAnotherTaskStayOnThatTask)
{
    StErrorContextInstaller outer;
    _ThrowError(Zorn(1));
    VRefPtr<VTask> task = NewTask(
        []
        {
            for (int i = 0; i < 100; ++i)
            {
                _ThrowError(Zorn(7));
            }
        });
    task->SetName(VString("Raiser"));
    ASSERT_TRUE(task->Run());
    for (int i = 0; i < 100; ++i)
    {
        _ThrowError(Zorn(2));
    }
    ASSERT_TRUE(task->WaitForDeath(10000));

    EXPECT_EQ(outer.Find(Zorn(7)), nullptr);
    EXPECT_EQ(outer.GetContext()->GetErrorList().size(), 101u);
    EXPECT_EQ(outer.GetContext()->GetFirst()->GetTaskID(), Main()->GetID());

    EXPECT_EQ(task->GetLastError(), Zorn(7));
    VErrorContext theirs;
    task->GetErrorContext(false)->GetErrors(theirs);
    EXPECT_EQ(theirs.GetErrorList().size(), 100u);
    EXPECT_EQ(theirs.Find(Zorn(2)), nullptr);
    VString name;
    int32_t id = 0;
    theirs.GetLast()->GetTaskName(name, &id);
    EXPECT_EQ(id, task->GetID());
    EXPECT_EQ(name.GetLength(), 6);
}

TEST_F(TaskErrors, WithoutATaskErrorsAreDropped)
{
    VError seen = Zorn(1);
    std::thread(
        [&]
        {
            StErrorContextInstaller scope;
            _ThrowError(Zorn(600));
            seen = scope.GetLastError();
        })
        .join();
    EXPECT_EQ(seen, VE_OK);
    EXPECT_TRUE(Reported().empty());
}

} // namespace
