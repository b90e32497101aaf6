// The file-system notifier under load: 10,000 files in 100 folders made and deleted while other
// tasks start and stop watches of their own. Every creation and deletion is reported once, and the
// snapshot and the inotify watches shrink back with the tree.
#include "tests/toolbox/process/FileSystemNotifierTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kLatencyMs = 50;

std::string FolderName(int inFolder)
{
    char name[16];
    std::snprintf(name, sizeof(name), "d%03d/", inFolder);
    return name;
}

std::string FileName(int inFolder, int inFile)
{
    char name[16];
    std::snprintf(name, sizeof(name), "f%03d", inFile);
    return FolderName(inFolder) + name;
}

// Counts the reports of each (kind, path).
class CountingHandler : public VFileSystemNotifier::IEventHandler
{
public:
    explicit CountingHandler(std::string inRoot) : fRoot(std::move(inRoot)) {}

    void HandleFileSystemEvent(const std::vector<VFilePath>& inPaths,
                               VFileSystemNotifier::EventKind inKind) override
    {
        std::lock_guard lock(fMutex);
        for (const VFilePath& path : inPaths)
        {
            std::string bytes = XLinuxFile::AllocatePosixPathFromFilePath(path);
            bytes.erase(0, fRoot.size());
            ++fCounts[inKind][bytes];
            ++fTotal[inKind];
        }
    }
    size_t Total(uint32_t inKind) const
    {
        std::lock_guard lock(fMutex);
        auto found = fTotal.find(inKind);
        return found == fTotal.end() ? 0 : found->second;
    }
    std::map<std::string, int> Counts(uint32_t inKind) const
    {
        std::lock_guard lock(fMutex);
        auto found = fCounts.find(inKind);
        return found == fCounts.end() ? std::map<std::string, int>() : found->second;
    }

private:
    const std::string fRoot;
    mutable std::mutex fMutex;
    std::map<uint32_t, std::map<std::string, int>> fCounts;
    std::map<uint32_t, size_t> fTotal;
};

// A handler that only counts its calls, for the watches that come and go.
class QuietHandler : public VFileSystemNotifier::IEventHandler
{
public:
    void HandleFileSystemEvent(const std::vector<VFilePath>&, VFileSystemNotifier::EventKind) override
    {
        fCalls.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<int> fCalls{0};
};

class FileSystemNotifierStressTest : public FileSystemNotifierTest
{
protected:
    // Runs the main task's messages until the handler has inCount reports of the kind, at most 60 s.
    static bool PumpUntilTotal(const CountingHandler& inHandler, uint32_t inKind, size_t inCount)
    {
        const auto start = Clock::now();
        while (inHandler.Total(inKind) < inCount)
        {
            if (MillisecondsSince(start) > 60000)
            {
                return false;
            }
            Main()->ExecuteMessagesWithTimeout(10, false);
        }
        return true;
    }

    // Every path of the list reported once under the kind, and nothing else.
    static void ExpectEachOnce(const CountingHandler& inHandler, uint32_t inKind,
                               const std::vector<std::string>& inPaths)
    {
        const std::map<std::string, int> counts = inHandler.Counts(inKind);
        EXPECT_EQ(counts.size(), inPaths.size()) << "kind " << inKind;
        size_t wrong = 0;
        for (const std::string& path : inPaths)
        {
            auto found = counts.find(path);
            const int count = found == counts.end() ? 0 : found->second;
            if (count != 1 && ++wrong <= 5)
            {
                ADD_FAILURE() << path << " reported " << count << " times as kind " << inKind;
            }
        }
        EXPECT_EQ(wrong, 0u) << "kind " << inKind;
    }
};

TEST_F(FileSystemNotifierStressTest, TenThousandFilesWhileWatchesComeAndGo)
{
    ScratchTree tree;
    CountingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler,
                                                 kLatencyMs),
              VE_OK);

    // Four tasks start and stop watches on the root and on the folders being made and deleted,
    // each delivering to itself meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> cycles{0};
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < 4; ++t)
    {
        tasks.push_back(NewTask(
            [&, t]
            {
                QuietHandler own;
                for (int round = 0; !done.load(); ++round)
                {
                    const std::string name =
                        (round + t) % 3 == 0 ? "" : FolderName((round * 7 + t * 13) % kFolders);
                    auto folder = tree.Folder(name);
                    const VError started = Notifier().StartWatchingForChanges(
                        *folder, VFileSystemNotifier::eAllKinds, &own, kLatencyMs);
                    if (started == VE_OK)
                    {
                        VTask::GetCurrent()->ExecuteMessagesWithTimeout(round % 20, false);
                        EXPECT_EQ(Notifier().StopWatchingForChanges(*folder, &own), VE_OK);
                        cycles.fetch_add(1);
                    }
                    else
                    {
                        // The folder is not made yet, or deleted already.
                        EXPECT_EQ(started, MakeVErrorFromErrno(ENOENT));
                        VTask::Sleep(1);
                    }
                }
            }));
        ASSERT_TRUE(tasks.back()->Run());
    }

    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (int d = 0; d < kFolders; ++d)
    {
        folders.push_back(FolderName(d));
        tree.MakeFolder(FolderName(d));
        for (int f = 0; f < kFilesPerFolder; ++f)
        {
            files.push_back(FileName(d, f));
            const int fd = ::open(tree.Path(files.back()).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
        // Paced a little, so that the kernel's event queue never overflows.
        Main()->ExecuteMessagesWithTimeout(1, false);
    }
    std::vector<std::string> created = folders;
    created.insert(created.end(), files.begin(), files.end());
    ASSERT_TRUE(PumpUntilTotal(handler, VFileSystemNotifier::eCreated, created.size()));
    const auto whole = BackEnd().GetUsage();

    for (int d = 0; d < kFolders; ++d)
    {
        for (int f = 0; f < kFilesPerFolder; ++f)
        {
            ASSERT_EQ(::unlink(tree.Path(FileName(d, f)).c_str()), 0);
        }
        Main()->ExecuteMessagesWithTimeout(1, false);
    }
    ASSERT_TRUE(PumpUntilTotal(handler, VFileSystemNotifier::eDeleted, files.size()));
    for (const std::string& folder : folders)
    {
        ASSERT_EQ(::rmdir(tree.Path(folder).c_str()), 0);
    }
    ASSERT_TRUE(PumpUntilTotal(handler, VFileSystemNotifier::eDeleted, files.size() + folders.size()));

    done = true;
    for (auto& task : tasks)
    {
        EXPECT_TRUE(task->WaitForDeath(30000));
    }
    EXPECT_GT(cycles.load(), 0);
    Pump(3 * kLatencyMs);

    ExpectEachOnce(handler, VFileSystemNotifier::eCreated, created);
    std::vector<std::string> deleted = files;
    deleted.insert(deleted.end(), folders.begin(), folders.end());
    ExpectEachOnce(handler, VFileSystemNotifier::eDeleted, deleted);

    // The snapshot held the tree (the other watches may have held parts of it too), and shrank back
    // with it to the empty root, watched alone.
    EXPECT_GE(whole.fEntries, created.size());
    const auto after = BackEnd().GetUsage();
    EXPECT_EQ(after.fFolders, 1u);
    EXPECT_EQ(after.fEntries, 0u);
    EXPECT_EQ(after.fDescriptors, 1u);
    EXPECT_EQ(Notifier().CountWatches(), 1u);
}

} // namespace
