#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/tasks/VActivityToken.h"
#include "toolbox/process/VProcess.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zorn;

namespace
{

TEST(Process, RegistersWhileItExists)
{
    EXPECT_EQ(VProcess::Get(), nullptr);
    EXPECT_EQ(IProcessServices::Get(), nullptr);
    {
        VProcess process;
        EXPECT_EQ(VProcess::Get(), &process);
        EXPECT_EQ(IProcessServices::Get(), &process);
        // Nothing of start-up ran: its services are absent.
        EXPECT_EQ(process.GetIntlMgr(), nullptr);
        EXPECT_EQ(process.GetLogger(), nullptr);
        EXPECT_EQ(process.GetClassStore(), nullptr);
        EXPECT_EQ(process.GetLocalizer(), nullptr);
        EXPECT_FALSE(process.IsFibersEnabled());
        auto* localizer = reinterpret_cast<ILocalizer*>(alignof(void*)); // never called
        process.SetLocalizer(localizer);
        EXPECT_EQ(IProcessServices::Get()->GetLocalizer(), localizer);
    }
    EXPECT_EQ(VProcess::Get(), nullptr);
    EXPECT_EQ(IProcessServices::Get(), nullptr);
}

TEST(Process, ActivityTokensRegisterWhileTheyExist)
{
    VProcess process;
    EXPECT_TRUE(process.HasSomeActivityTokens(600000)) << "counts from the process's construction";
    EXPECT_FALSE(process.HasSomeActivityTokens(0)) << "no token, no grace period";

    auto* token = new VActivityToken(VString("Running task main"));
    EXPECT_EQ(token->GetRefCount(), 1u);
    EXPECT_EQ(token->GetName().CompareTo(VString("Running task main")), CR_EQUAL);
    EXPECT_TRUE(process.HasSomeActivityTokens(0));
    token->Retain();
    token->Release();
    EXPECT_TRUE(process.HasSomeActivityTokens(0)) << "still referenced";
    token->Release();
    EXPECT_FALSE(process.HasSomeActivityTokens(0)) << "gone with its last reference";
    EXPECT_TRUE(process.HasSomeActivityTokens(600000)) << "within the grace period after the last release";
}

TEST(Process, TokensFromManyThreads)
{
    VProcess process;
    auto* held = new VActivityToken(VString("held"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
    {
        threads.emplace_back(
            [&process]
            {
                for (int i = 0; i < 200; ++i)
                {
                    auto* token = new VActivityToken(VString("worker"));
                    EXPECT_TRUE(process.HasSomeActivityTokens(0));
                    token->Release();
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    EXPECT_TRUE(process.HasSomeActivityTokens(0)) << "the held token is still registered";
    held->Release();
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
}

TEST(Process, TokenWithoutProcess)
{
    auto* token = new VActivityToken(VString("alone"));
    {
        // A process built after the token never saw it; the token's end does not disturb it.
        VProcess process;
        token->Release();
        EXPECT_FALSE(process.HasSomeActivityTokens(0));
    }
    (new VActivityToken(VString("after")))->Release();
}

} // namespace
