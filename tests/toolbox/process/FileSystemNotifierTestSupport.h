// Shared pieces of the file-system notifier tests: a scratch tree with file helpers, a handler that
// records its calls as (kind, paths relative to the tree), and a fixture that runs the task
// manager, owns a notifier and runs the main task's messages until the calls arrive.
#pragma once

#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/process/VFileSystemNotifier.h"
#include "toolbox/process/linux/XLinuxFileSystemNotification.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace zorn::test
{

// A fresh folder under /tmp, removed with everything in it; paths are relative to it.
class ScratchTree
{
public:
    ScratchTree()
    {
        char folder[] = "/tmp/zorn-fsn-XXXXXX";
        if (::mkdtemp(folder) != nullptr)
        {
            fRoot = std::string(folder) + "/";
        }
    }
    ~ScratchTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(fRoot, ignored);
    }
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;

    // Ends with '/'.
    const std::string& Root() const { return fRoot; }
    std::string Path(const std::string& inName) const { return fRoot + inName; }
    VRefPtr<VFolder> Folder(const std::string& inName = "") const
    {
        return VRefPtr<VFolder>(new VFolder(VString(Path(inName).c_str()), FPS_POSIX), true);
    }

    void Write(const std::string& inName, const std::string& inBytes = "x") const
    {
        std::ofstream(Path(inName), std::ios::binary) << inBytes;
    }
    void Append(const std::string& inName) const { std::ofstream(Path(inName), std::ios::app) << "more"; }
    void MakeFolder(const std::string& inName) const { std::filesystem::create_directories(Path(inName)); }
    void Remove(const std::string& inName) const { std::filesystem::remove_all(Path(inName)); }
    void Move(const std::string& inFrom, const std::string& inTo) const
    {
        std::filesystem::rename(Path(inFrom), inTo.front() == '/' ? inTo : Path(inTo));
    }
    void Link(const std::string& inName, const std::string& inTarget) const
    {
        std::filesystem::create_directory_symlink(inTarget, Path(inName));
    }

private:
    std::string fRoot;
};

// One handler call: the kind and the paths, relative to the tree's root when inside it.
struct Call
{
    uint32_t fKind;
    std::vector<std::string> fPaths;
    bool operator==(const Call& inOther) const = default;
};

inline std::ostream& operator<<(std::ostream& ioStream, const Call& inCall)
{
    ioStream << "{" << inCall.fKind << ":";
    for (const std::string& path : inCall.fPaths)
    {
        ioStream << " \"" << path << "\"";
    }
    return ioStream << "}";
}

class RecordingHandler : public VFileSystemNotifier::IEventHandler
{
public:
    explicit RecordingHandler(std::string inRoot = std::string()) : fRoot(std::move(inRoot)) {}

    void HandleFileSystemEvent(const std::vector<VFilePath>& inPaths,
                               VFileSystemNotifier::EventKind inKind) override
    {
        Call call{inKind, {}};
        for (const VFilePath& path : inPaths)
        {
            std::string bytes = XLinuxFile::AllocatePosixPathFromFilePath(path);
            if (!fRoot.empty() && bytes.compare(0, fRoot.size(), fRoot) == 0)
            {
                bytes.erase(0, fRoot.size());
            }
            call.fPaths.push_back(bytes);
        }
        std::lock_guard lock(fMutex);
        fCalls.push_back(std::move(call));
        fRawPaths.insert(fRawPaths.end(), inPaths.begin(), inPaths.end());
    }

    std::vector<Call> Calls() const
    {
        std::lock_guard lock(fMutex);
        return fCalls;
    }
    std::vector<Call> TakeCalls()
    {
        std::lock_guard lock(fMutex);
        return std::exchange(fCalls, {});
    }
    std::vector<VFilePath> RawPaths() const
    {
        std::lock_guard lock(fMutex);
        return fRawPaths;
    }
    size_t CountCalls() const
    {
        std::lock_guard lock(fMutex);
        return fCalls.size();
    }

private:
    const std::string fRoot;
    mutable std::mutex fMutex;
    std::vector<Call> fCalls;
    std::vector<VFilePath> fRawPaths;
};

class FileSystemNotifierTest : public TaskManagerTest
{
protected:
    void TearDown() override
    {
        fNotifier.reset();
        TaskManagerTest::TearDown();
    }

    VFileSystemNotifier& Notifier() { return *fNotifier; }
    XLinuxFileSystemNotification& BackEnd() { return *fNotifier->GetBackEnd(); }

    // Runs the main task's messages for inMs milliseconds.
    static void Pump(int inMs)
    {
        const auto start = Clock::now();
        while (MillisecondsSince(start) < inMs)
        {
            Main()->ExecuteMessagesWithTimeout(5, false);
        }
    }
    // Runs the main task's messages until the handler has inCount calls (at most 10 s), then
    // inSettleMs more, so that calls beyond those show too.
    static void PumpUntil(const RecordingHandler& inHandler, size_t inCount, int inSettleMs)
    {
        const auto start = Clock::now();
        while (inHandler.CountCalls() < inCount && MillisecondsSince(start) < 10000)
        {
            Main()->ExecuteMessagesWithTimeout(5, false);
        }
        Pump(inSettleMs);
    }

    std::unique_ptr<VFileSystemNotifier> fNotifier = std::make_unique<VFileSystemNotifier>();
};

} // namespace zorn::test
