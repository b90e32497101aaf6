#include "platform/Bundle.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/locks/SpinLock.h"
#include "toolbox/kernel/tasks/VActivityToken.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"
#include "toolbox/process/VProcess.h"

#include <gtest/gtest.h>

#include <fstream>
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
        // Nothing of start-up ran: its services are absent, but for the class store "zq" with its
        // root classes, which the process object makes itself.
        EXPECT_EQ(process.GetIntlMgr(), nullptr);
        EXPECT_EQ(process.GetLogger(), nullptr);
        ASSERT_NE(process.GetClassStore(), nullptr);
        EXPECT_EQ(process.GetClassStore()->GetCount(), 3u);
        EXPECT_EQ(VJSONClassStore::GetProcessStore(), process.GetClassStore());
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

// Files beside the executable are found through the 'EXEC' folder; a missing one, or an unknown
// kind, gives null.
TEST(Process, FilesBesideTheExecutable)
{
    VProcess process;
    VRefPtr<VFolder> folder(process.RetainFolder(VProcess::kFolderExecutable), true);
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->Exists());
    EXPECT_EQ(process.RetainFolder(0x52535244), nullptr) << "an unknown kind";

    std::string executable = platform::GetMainExecutablePath();
    std::string beside = executable.substr(0, executable.rfind('/') + 1) + "process-test.prm";
    EXPECT_EQ(process.RetainFile(VProcess::kFolderExecutable, VString("process-test.prm")), nullptr);
    std::ofstream(beside) << "{}";
    VRefPtr<VFile> file(process.RetainFile(VProcess::kFolderExecutable, VString("process-test.prm")), true);
    ASSERT_TRUE(file);
    VString posix;
    file->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_EQ(posix.GetLength(), static_cast<int32_t>(beside.size()));
    std::remove(beside.c_str());
}

// "spinlock.prm" beside the executable sets the spin lock's strategy when the task manager starts
// under a process; a file that holds no JSON object changes nothing.
TEST(Process, SpinLockSettingsBesideTheExecutable)
{
    std::string executable = platform::GetMainExecutablePath();
    std::string beside = executable.substr(0, executable.rfind('/') + 1) + "spinlock.prm";
    struct Row
    {
        const char* fDescription;
        const char* fContent;
        SpinLock::AcquireProc fStrategy;
        int32_t fMaxSpins;
        bool fYield;
    };
    const Row rows[] = {
        {"every setting", R"({"mode": "alwaysSleep", "maxSpins": 7.9, "yieldAfterCheckEvent": true})",
         &SpinLock::AcquireAlwaysSleep, 7, true},
        {"an unknown mode keeps the strategy", R"({"mode": "fast", "maxSpins": 3})",
         &SpinLock::AcquireMaxSpinsThenLoopYields, 3, false},
        {"an array changes nothing", R"([{"mode": "alwaysSleep"}])", &SpinLock::AcquireMaxSpinsThenLoopYields,
         1, false},
        {"malformed text changes nothing", R"({"mode": )", &SpinLock::AcquireMaxSpinsThenLoopYields, 1,
         false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fDescription);
        std::ofstream(beside) << row.fContent;
        {
            VProcess process;
            ASSERT_TRUE(VTaskMgr::Get()->Init(&process));
            EXPECT_EQ(SpinLock::GetAcquireProc(), row.fStrategy);
            EXPECT_EQ(SpinLock::GetMaxSpins(), row.fMaxSpins);
            EXPECT_EQ(SpinLock::GetYieldAfterCheckEvent(), row.fYield);
            VTaskMgr::Get()->DeInit();
        }
        SpinLock::ResetSettings();
    }
    std::remove(beside.c_str());
}

} // namespace
