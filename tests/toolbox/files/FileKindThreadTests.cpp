// The kind manager under parallel look-ups: tasks look kinds up by extension and ID while others
// register private kinds. Each public kind is made and stored once, and every task gets it.
#include "tests/toolbox/kernel/IntlTestProcess.h"
#include "toolbox/files/VFileKind.h"
#include "toolbox/files/VFileKindManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace zorn
{
namespace
{

TEST(FileKindThreads, ParallelLookUpsShareOneStoredKind)
{
    test::StIntlTestProcess process(1033);
    VFileKindManager::DeInit();
    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    const char* const extensions[] = {"xml", "json", "png", "xlf", "log", "zip"};
    std::vector<VFileKind*> firstSeen(kThreads * 6, nullptr);
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                while (!go.load())
                {
                    std::this_thread::yield();
                }
                VFileKindManager* manager = VFileKindManager::Get();
                for (int round = 0; round < kRounds; ++round)
                {
                    const int which = (round + t) % 6;
                    VRefPtr<VFileKind> kind(
                        manager->RetainFirstFileKindMatchingWithExtension(VString(extensions[which])), true);
                    if (!kind || !kind->ConformsTo(VString("public.data")))
                    {
                        ++failures;
                        continue;
                    }
                    VFileKind*& seen = firstSeen[static_cast<size_t>(t * 6 + which)];
                    if (seen == nullptr)
                    {
                        seen = kind.Get();
                    }
                    else if (seen != kind.Get())
                    {
                        ++failures;
                    }
                    if (round % 10 == 0)
                    {
                        // Stores while others look up; the IDs sort among the public ones.
                        manager->RegisterPrivateFileKind(
                            VString(("org.example.t" + std::to_string(t)).c_str()), VString("private"),
                            {VString("p")}, {});
                        VString label;
                        manager->GetLocalizedString(1, label);
                        manager->RegisterLocalizedString(1, VString("Readable"));
                    }
                }
            });
    }
    go = true;
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    // Every task was handed the same kind for an extension.
    for (int which = 0; which < 6; ++which)
    {
        for (int t = 1; t < kThreads; ++t)
        {
            EXPECT_EQ(firstSeen[static_cast<size_t>(t * 6 + which)], firstSeen[static_cast<size_t>(which)])
                << extensions[which];
        }
    }
    VFileKindManager::DeInit();
}

} // namespace
} // namespace zorn
