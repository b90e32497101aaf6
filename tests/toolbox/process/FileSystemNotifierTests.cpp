// The file-system change notifier on a scratch tree: what a watch reports for each kind of change,
// delivered on the watching task, and the back end's overflow, root deletion and watch limit.
#include "tests/toolbox/process/FileSystemNotifierTestSupport.h"
#include "toolbox/files/VFile.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zorn;
using namespace zorn::test;

namespace
{

constexpr int kLatencyMs = 20;
constexpr int kSettleMs = 150;
constexpr uint32_t kModified = VFileSystemNotifier::eModified;
constexpr uint32_t kCreated = VFileSystemNotifier::eCreated;
constexpr uint32_t kDeleted = VFileSystemNotifier::eDeleted;

// What /proc says of this process: inotify descriptors open and threads running.
int CountInotifyDescriptors()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:inotify")
        {
            ++count;
        }
    }
    return count;
}

// The notifier threads of this process (by their name; sanitizers start threads of their own).
size_t CountThreads()
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "FS notifier" ? 1 : 0;
    }
    return count;
}

// The watch's changes, one step at a time: an action on the tree, then the calls it must bring
// (none at all when empty).
struct Step
{
    std::function<void(const ScratchTree&)> fAction;
    std::vector<Call> fExpected;
};

struct WatchCase
{
    const char* fWhat;
    std::function<void(const ScratchTree&)> fBefore; // the tree before the watch starts
    uint32_t fMask;
    std::vector<Step> fSteps;
};

void PrintTo(const WatchCase& inCase, std::ostream* outStream)
{
    *outStream << inCase.fWhat;
}

class NotifierCaseTest : public FileSystemNotifierTest, public ::testing::WithParamInterface<WatchCase>
{
};

TEST_P(NotifierCaseTest, ReportsEachChangeOnce)
{
    const WatchCase& row = GetParam();
    ScratchTree tree;
    if (row.fBefore)
    {
        row.fBefore(tree);
    }
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(),
                                                 static_cast<VFileSystemNotifier::EventKind>(row.fMask),
                                                 &handler, kLatencyMs),
              VE_OK);
    int index = 0;
    for (const Step& step : row.fSteps)
    {
        step.fAction(tree);
        PumpUntil(handler, step.fExpected.size(), kSettleMs);
        EXPECT_EQ(handler.TakeCalls(), step.fExpected) << row.fWhat << ", step " << index;
        ++index;
    }
    EXPECT_EQ(Notifier().StopWatchingForChanges(*tree.Folder(), &handler), VE_OK);
}

// A folder outside every scratch tree, for links and moves out of the tree.
const std::string& Outside()
{
    static const ScratchTree sOutside;
    return sOutside.Root();
}

const WatchCase kWatchCases[] = {
    {"a new file is one creation, its later change one modification",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Write("f"); }, {{kCreated, {"f"}}}},
      {[](const ScratchTree& inTree) { inTree.Append("f"); }, {{kModified, {"f"}}}}}},
    {"three creations and a deletion are two calls, the creations first",
     [](const ScratchTree& inTree)
     {
         inTree.MakeFolder("sub");
         inTree.Write("sub/x");
     },
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree)
       {
           inTree.Write("a");
           inTree.Write("b");
           inTree.Write("c");
           inTree.Remove("sub/x");
       },
       {{kCreated, {"a", "b", "c"}}, {kDeleted, {"sub/x"}}}}}},
    {"a deletion is left out when the mask has no deletions",
     [](const ScratchTree& inTree) { inTree.Write("old"); },
     VFileSystemNotifier::eCreated | VFileSystemNotifier::eModified,
     {{[](const ScratchTree& inTree)
       {
           inTree.Remove("old");
           inTree.Write("new");
       },
       {{kCreated, {"new"}}}}}},
    {".DS_Store is never reported",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree)
       {
           inTree.Write(".DS_Store");
           inTree.Write("f");
       },
       {{kCreated, {"f"}}}},
      {[](const ScratchTree& inTree) { inTree.Append(".DS_Store"); }, {}},
      {[](const ScratchTree& inTree) { inTree.Remove(".DS_Store"); }, {}}}},
    {"a creation is not reported again after more changes in its folder",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Write("a"); }, {{kCreated, {"a"}}}},
      {[](const ScratchTree& inTree) { inTree.Write("b"); }, {{kCreated, {"b"}}}},
      {[](const ScratchTree& inTree) { inTree.Remove("a"); }, {{kDeleted, {"a"}}}},
      {[](const ScratchTree& inTree) { inTree.Append("b"); }, {{kModified, {"b"}}}}}},
    {"a folder made later is watched: a file made inside it later is reported",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.MakeFolder("d"); }, {{kCreated, {"d/"}}}},
      {[](const ScratchTree& inTree) { inTree.Write("d/f"); }, {{kCreated, {"d/f"}}}}}},
    {"a tree made at once reports every level, even what was made before its folders were watched",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree)
       {
           inTree.MakeFolder("e/g");
           inTree.Write("e/g/h");
       },
       {{kCreated, {"e/", "e/g/", "e/g/h"}}}},
      {[](const ScratchTree& inTree) { inTree.Write("e/g/i"); }, {{kCreated, {"e/g/i"}}}}}},
    {"a folder existing at the start is watched with its subfolders",
     [](const ScratchTree& inTree) { inTree.MakeFolder("p/q"); },
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Write("p/q/f"); }, {{kCreated, {"p/q/f"}}}}}},
    {"a folder renamed within the tree is still watched under its new name",
     [](const ScratchTree& inTree) { inTree.MakeFolder("old"); },
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Move("old", "new"); },
       {{kDeleted, {"old/"}}, {kCreated, {"new/"}}}},
      {[](const ScratchTree& inTree) { inTree.Write("new/f"); }, {{kCreated, {"new/f"}}}}}},
    {"a folder moved out of the tree is no longer watched",
     [](const ScratchTree& inTree) { inTree.MakeFolder("m"); },
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Move("m", Outside() + "m" + std::to_string(::getpid())); },
       {{kDeleted, {"m/"}}}},
      {[](const ScratchTree&) { std::ofstream(Outside() + "m" + std::to_string(::getpid()) + "/f") << "x"; },
       {}}}},
    {"a file replaced by a folder of its name is a deletion and a creation",
     [](const ScratchTree& inTree) { inTree.Write("x"); },
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree)
       {
           inTree.Remove("x");
           inTree.MakeFolder("x");
       },
       {{kDeleted, {"x"}}, {kCreated, {"x/"}}}},
      {[](const ScratchTree& inTree) { inTree.Write("x/y"); }, {{kCreated, {"x/y"}}}}}},
    {"a symbolic link to an outside folder is an entry, never followed",
     nullptr,
     VFileSystemNotifier::eAllKinds,
     {{[](const ScratchTree& inTree) { inTree.Link("l", Outside()); }, {{kCreated, {"l"}}}},
      {[](const ScratchTree&) { std::ofstream(Outside() + "through-link") << "x"; }, {}}}},
};

INSTANTIATE_TEST_SUITE_P(Changes, NotifierCaseTest, ::testing::ValuesIn(kWatchCases));

TEST_F(FileSystemNotifierTest, DuplicateAndUnknownWatches)
{
    ScratchTree tree;
    RecordingHandler first;
    RecordingHandler second;
    auto folder = tree.Folder();
    EXPECT_EQ(Notifier().StartWatchingForChanges(*folder, VFileSystemNotifier::eAllKinds, &first, kLatencyMs),
              VE_OK);
    // The same folder and handler, through another object.
    EXPECT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eCreated, &first, 0),
              VE_FS_NOTIFIER_ALREADY_WATCHING);
    EXPECT_EQ(
        Notifier().StartWatchingForChanges(*folder, VFileSystemNotifier::eAllKinds, &second, kLatencyMs),
        VE_OK);
    EXPECT_EQ(Notifier().CountWatches(), 2u);

    // Both watches share the folder: each is told, and stopping one leaves the other working.
    tree.Write("f");
    PumpUntil(first, 1, 0);
    PumpUntil(second, 1, kSettleMs);
    EXPECT_EQ(first.TakeCalls(), (std::vector<Call>{{kCreated, {tree.Path("f")}}}));
    EXPECT_EQ(second.TakeCalls(), (std::vector<Call>{{kCreated, {tree.Path("f")}}}));
    EXPECT_EQ(Notifier().StopWatchingForChanges(*folder, &first), VE_OK);
    tree.Write("g");
    PumpUntil(second, 1, kSettleMs);
    EXPECT_EQ(first.Calls(), std::vector<Call>());
    EXPECT_EQ(second.TakeCalls(), (std::vector<Call>{{kCreated, {tree.Path("g")}}}));

    EXPECT_EQ(Notifier().StopWatchingForChanges(*folder, &first), VE_FOLDER_NOT_FOUND);
    EXPECT_EQ(Notifier().StopWatchingForChanges(*tree.Folder("elsewhere/"), &second), VE_FOLDER_NOT_FOUND);
    EXPECT_EQ(Notifier().StopWatchingForChanges(*folder, &second), VE_OK);
    EXPECT_EQ(Notifier().CountWatches(), 0u);
}

TEST_F(FileSystemNotifierTest, StartFailsForWhatIsNoFolder)
{
    ScratchTree tree;
    tree.Write("file");
    tree.Link("link", tree.Root());
    RecordingHandler handler;
    const struct
    {
        const char* fWhat;
        std::string fPath;
        VError fExpected;
    } rows[] = {
        {"a missing folder", tree.Path("missing/"), MakeVErrorFromErrno(ENOENT)},
        {"a file", tree.Path("file/"), MakeVErrorFromErrno(ENOTDIR)},
        {"a link to a folder is not followed", tree.Path("link/"), MakeVErrorFromErrno(ENOTDIR)},
    };
    for (const auto& row : rows)
    {
        VFolder folder(VString(row.fPath.c_str()), FPS_POSIX);
        EXPECT_EQ(Notifier().StartWatchingForChanges(folder, VFileSystemNotifier::eAllKinds, &handler, 0),
                  row.fExpected)
            << row.fWhat;
    }
    EXPECT_EQ(Notifier().CountWatches(), 0u);
}

TEST_F(FileSystemNotifierTest, NothingIsOpenedBeforeTheFirstWatch)
{
    const int descriptorsBefore = CountInotifyDescriptors();
    const size_t threadsBefore = CountThreads();
    auto notifier = std::make_unique<VFileSystemNotifier>();
    EXPECT_EQ(CountInotifyDescriptors(), descriptorsBefore);
    EXPECT_EQ(CountThreads(), threadsBefore);
    EXPECT_FALSE(notifier->GetBackEnd()->IsRunning());

    // The first watch opens one descriptor and starts one thread; more watches add neither.
    ScratchTree tree;
    tree.MakeFolder("a");
    RecordingHandler handler;
    ASSERT_EQ(notifier->StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler, 0),
              VE_OK);
    ASSERT_EQ(
        notifier->StartWatchingForChanges(*tree.Folder("a/"), VFileSystemNotifier::eAllKinds, &handler, 0),
        VE_OK);
    EXPECT_TRUE(notifier->GetBackEnd()->IsRunning());
    EXPECT_EQ(CountInotifyDescriptors(), descriptorsBefore + 1);
    EXPECT_EQ(CountThreads(), threadsBefore + 1);

    notifier.reset();
    EXPECT_EQ(CountInotifyDescriptors(), descriptorsBefore);
    EXPECT_EQ(CountThreads(), threadsBefore);
}

TEST_F(FileSystemNotifierTest, InstanceIsTheFirstNotifierWhileItLives)
{
    EXPECT_EQ(VFileSystemNotifier::Instance(), fNotifier.get());
    {
        VFileSystemNotifier second;
        EXPECT_EQ(VFileSystemNotifier::Instance(), fNotifier.get());
    }
    fNotifier.reset();
    EXPECT_EQ(VFileSystemNotifier::Instance(), nullptr);
}

TEST_F(FileSystemNotifierTest, InvalidUTF8NameReachesAPathTheFileLayerOpens)
{
    ScratchTree tree;
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler,
                                                 kLatencyMs),
              VE_OK);
    const std::string name = "bad\xff\xfe-name";
    tree.Write(name, "12345");
    PumpUntil(handler, 1, kSettleMs);
    EXPECT_EQ(handler.Calls(), (std::vector<Call>{{kCreated, {name}}}));
    const std::vector<VFilePath> paths = handler.RawPaths();
    ASSERT_EQ(paths.size(), 1u);
    VFile file(paths[0]);
    EXPECT_TRUE(file.Exists());
    int64_t size = 0;
    EXPECT_EQ(file.GetSize(&size), VE_OK);
    EXPECT_EQ(size, 5);
}

TEST_F(FileSystemNotifierTest, DeletedRootIsReportedOnce)
{
    ScratchTree tree;
    tree.MakeFolder("root/sub");
    tree.Write("root/sub/f");
    tree.Write("root/g");
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder("root/"), VFileSystemNotifier::eAllKinds,
                                                 &handler, kLatencyMs),
              VE_OK);
    tree.Remove("root");
    PumpUntil(handler, 1, kSettleMs);
    // Depending on when the thread looks, the contents go with the root or before it; the root
    // itself is reported once, last.
    std::vector<std::string> deleted;
    for (const Call& call : handler.TakeCalls())
    {
        EXPECT_EQ(call.fKind, kDeleted);
        deleted.insert(deleted.end(), call.fPaths.begin(), call.fPaths.end());
    }
    ASSERT_FALSE(deleted.empty());
    EXPECT_EQ(deleted.back(), "root/");
    EXPECT_EQ(std::count(deleted.begin(), deleted.end(), "root/"), 1);
    for (const std::string& path : deleted)
    {
        EXPECT_TRUE(path == "root/" || path == "root/g" || path == "root/sub/" || path == "root/sub/f")
            << path;
    }

    // Made again under the same name, it is not watched: the watch ended with its folder.
    tree.MakeFolder("root");
    tree.Write("root/new");
    Pump(kSettleMs);
    EXPECT_EQ(handler.Calls(), std::vector<Call>());
    EXPECT_EQ(Notifier().StopWatchingForChanges(*tree.Folder("root/"), &handler), VE_OK);
}

TEST_F(FileSystemNotifierTest, OverflowComparesTheRootsTopLevel)
{
    ScratchTree tree;
    tree.MakeFolder("sub");
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler,
                                                 kLatencyMs),
              VE_OK);
    // The events of these changes are dropped: the top level's change is found by comparing it;
    // the subfolder's waits for that folder's next comparison.
    BackEnd().FeedTestCondition(XLinuxFileSystemNotification::ETestCondition::eHoldQueue);
    tree.Write("top");
    tree.Write("sub/deep");
    BackEnd().FeedTestCondition(XLinuxFileSystemNotification::ETestCondition::eQueueOverflow);
    PumpUntil(handler, 1, kSettleMs);
    EXPECT_EQ(handler.TakeCalls(), (std::vector<Call>{{kCreated, {"top"}}}));

    // Reading goes on after it.
    tree.Write("sub/later");
    PumpUntil(handler, 1, kSettleMs);
    EXPECT_EQ(handler.TakeCalls(), (std::vector<Call>{{kCreated, {"sub/deep", "sub/later"}}}));
}

TEST_F(FileSystemNotifierTest, WatchLimitFailsTheStartAndLeavesNothingBehind)
{
    ScratchTree tree;
    tree.MakeFolder("a/b");
    tree.MakeFolder("c");
    RecordingHandler handler(tree.Root());
    // The tree needs four watches: at none left, and at two left, the start fails whole.
    for (int left : {0, 2})
    {
        BackEnd().FeedTestCondition(XLinuxFileSystemNotification::ETestCondition::eWatchLimit, left);
        EXPECT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler,
                                                     kLatencyMs),
                  MakeVErrorFromErrno(ENOSPC))
            << left << " watches left";
        EXPECT_EQ(Notifier().CountWatches(), 0u);
    }
    // Nothing of the failed starts reports anything, and a start within the limit works.
    tree.Write("a/b/f");
    Pump(kSettleMs);
    EXPECT_EQ(handler.Calls(), std::vector<Call>());
    BackEnd().FeedTestCondition(XLinuxFileSystemNotification::ETestCondition::eWatchLimit, 4);
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler,
                                                 kLatencyMs),
              VE_OK);
    tree.Write("a/b/g");
    PumpUntil(handler, 1, kSettleMs);
    EXPECT_EQ(handler.TakeCalls(), (std::vector<Call>{{kCreated, {"a/b/g"}}}));
    BackEnd().FeedTestCondition(XLinuxFileSystemNotification::ETestCondition::eNoWatchLimit);
}

TEST_F(FileSystemNotifierTest, NoCallAfterStopEvenForChangesAlreadyPosted)
{
    ScratchTree tree;
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler, 0),
              VE_OK);
    tree.Write("f");
    // The change is compared and posted, but the main task has not run its messages yet.
    ASSERT_TRUE(WaitFor([] { return Main()->IsAnyMessagePending(); }));
    EXPECT_EQ(Notifier().StopWatchingForChanges(*tree.Folder(), &handler), VE_OK);
    Pump(kSettleMs);
    EXPECT_EQ(handler.Calls(), std::vector<Call>());
}

TEST_F(FileSystemNotifierTest, ChangesOfTwoComparisonsAreDeliveredInRuns)
{
    ScratchTree tree;
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(
        Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eAllKinds, &handler, 100),
        VE_OK);
    // Two comparisons before the task runs its messages: the creations (made well within one
    // latency), then the deletion of one of them, reach the handler in one delivery as two runs.
    tree.Write("a");
    tree.Write("b");
    ASSERT_TRUE(WaitFor([] { return Main()->IsAnyMessagePending(); }));
    const uint32_t stamp = Main()->GetMessageQueueStamp();
    tree.Remove("a");
    ASSERT_TRUE(WaitFor([stamp] { return Main()->GetMessageQueueStamp() != stamp; }));
    PumpUntil(handler, 2, kSettleMs);
    EXPECT_EQ(handler.TakeCalls(), (std::vector<Call>{{kCreated, {"a", "b"}}, {kDeleted, {"a"}}}));
}

TEST_F(FileSystemNotifierTest, EveryWriteIsReportedEvenWithinOneClockTick)
{
    // Two writes 1 ms apart often share a modification time (on many file systems the clock
    // ticks every few milliseconds): each write here puts the time back to one fixed value, as if
    // all fell within one tick, and each pair must still bring a report of its own before the
    // next pair starts.
    constexpr int kPairs = 100;
    ScratchTree tree;
    tree.Write("f");
    const std::string path = tree.Path("f");
    const struct timespec kTick[2] = {{1700000000, 0}, {1700000000, 0}};
    auto writeWithinTheTick = [&]
    {
        tree.Append("f");
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), kTick, 0), 0);
    };
    writeWithinTheTick();
    RecordingHandler handler(tree.Root());
    ASSERT_EQ(Notifier().StartWatchingForChanges(*tree.Folder(), VFileSystemNotifier::eModified, &handler, 0),
              VE_OK);
    size_t reports = 0;
    for (int pair = 0; pair < kPairs; ++pair)
    {
        writeWithinTheTick();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        writeWithinTheTick();
        const auto start = Clock::now();
        while (reports <= static_cast<size_t>(pair) && MillisecondsSince(start) < 5000)
        {
            Main()->ExecuteMessagesWithTimeout(5, false);
            for (const Call& call : handler.TakeCalls())
            {
                EXPECT_EQ(call, (Call{kModified, {"f"}}));
                reports += call.fPaths.size();
            }
        }
        ASSERT_GT(reports, static_cast<size_t>(pair)) << "no report for pair " << pair;
    }
    EXPECT_GE(reports, static_cast<size_t>(kPairs));
    EXPECT_EQ(Notifier().StopWatchingForChanges(*tree.Folder(), &handler), VE_OK);
}

} // namespace
