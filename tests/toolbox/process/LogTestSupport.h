// Shared pieces of the logger tests: a process whose logger is a VLogger and whose log source is
// "Updater", a listener that keeps what it is given, and a scratch folder with file helpers.
#pragma once

#include "tests/toolbox/kernel/TaskTestSupport.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VLogger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace zorn::test
{

class LoggingProcess : public BareProcess
{
public:
    ILogger* GetLogger() const override { return &fLogger; }
    VString GetLogSourceIdentifier() const override { return VString("Updater"); }

    mutable VLogger fLogger;
};

// Runs the task manager with a LoggingProcess whose logger is started.
class LoggingTest : public TaskManagerTest
{
protected:
    void SetUp() override
    {
        TaskManagerTest::SetUp();
        IProcessServices::Set(&fLogging);
        fLogging.fLogger.Start();
    }
    void TearDown() override
    {
        fLogging.fLogger.Stop();
        TaskManagerTest::TearDown();
    }

    VLogger& Logger() { return fLogging.fLogger; }

    LoggingProcess fLogging;
};

// Keeps the sequence numbers of the records it is given, and names itself in a shared journal of
// calls so that the order of listeners shows.
class KeepingListener : public ILogListener
{
public:
    explicit KeepingListener(int inName = 0, std::vector<int>* ioJournal = nullptr)
        : fName(inName), fJournal(ioJournal)
    {
    }
    void Put(const std::vector<const VValueBag*>& inRecords) override
    {
        std::lock_guard lock(fMutex);
        for (const VValueBag* record : inRecords)
        {
            int64_t sequence = 0;
            record->GetLong8(ILoggerBagKeys::sequence(), sequence);
            fSequences.push_back(sequence);
        }
        if (fJournal != nullptr)
        {
            fJournal->push_back(fName);
        }
    }
    std::vector<int64_t> Sequences()
    {
        std::lock_guard lock(fMutex);
        return fSequences;
    }

private:
    int fName;
    std::vector<int>* fJournal;
    std::mutex fMutex;
    std::vector<int64_t> fSequences;
};

// A fresh folder under /tmp, removed with everything in it.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        char folder[] = "/tmp/zorn-log-XXXXXX";
        if (::mkdtemp(folder) != nullptr)
        {
            fPath = folder;
        }
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(fPath, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return fPath; }
    std::string File(const std::string& inName) const { return fPath + "/" + inName; }
    // A new folder object for the path (one reference).
    VFolder* NewFolder() const { return new VFolder(VString((fPath + "/").c_str()), FPS_POSIX); }

    void Write(const std::string& inName, const std::string& inBytes) const
    {
        std::ofstream(File(inName), std::ios::binary) << inBytes;
    }
    // A file of that many bytes (sparse: quick to make).
    void MakeSized(const std::string& inName, uintmax_t inSize) const
    {
        Write(inName, "");
        std::filesystem::resize_file(File(inName), inSize);
    }
    std::string Read(const std::string& inName) const
    {
        std::ifstream in(File(inName), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    bool Exists(const std::string& inName) const { return std::filesystem::exists(File(inName)); }
    uintmax_t Size(const std::string& inName) const { return std::filesystem::file_size(File(inName)); }

private:
    std::string fPath;
};

} // namespace zorn::test
