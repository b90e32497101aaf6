// Applying the update in-process, on a test engine whose fields are set directly and whose waits
// are short: the backup names, the bundle guard, the caller's wait, the swap with faults injected
// into the copy engine's system calls, the restart through a fake opener and the Trash.
//
// Each test works in a scratch folder: Apps/My.app (installed, version 1), New/My.app (the
// update, version 2), bin/zq-open (a fake opener that records its arguments and exits with the
// code in records/opener.exit, 0 without it), data/ (XDG_DATA_HOME, so data/Trash is the Trash)
// and home/ (HOME). Trees are compared as manifests: every path with its type, mode, link text
// and content hash.
#include "tests/FakeProgramSupport.h"
#include "tests/updater/TreeManifest.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/linux/XLinuxCopyEngine.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/ILoggerBagKeys.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "updater/UpdaterErrors.h"
#include "updater/VUpdateEngine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zorn
{
namespace
{

namespace fs = std::filesystem;
using test::Manifest;
using test::ReadRecordedArguments;
using test::ReadWholeFile;
using test::ScopedEnvironmentVariable;
using test::StagingLeftIn;
using test::WriteScript;

class TestEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::_ApplyUpdate;
    using VUpdateEngine::_ComputeTempFolderPath;
    using VUpdateEngine::_LaunchApplication;
    using VUpdateEngine::_SetApplyWaitsForTest;
    using VUpdateEngine::_SetOpenerPathForTest;
    using VUpdateEngine::_WaitForPidToQuit;
    using VUpdateEngine::fCallerPid;
    using VUpdateEngine::fClientInfoFile;
    using VUpdateEngine::fInstallLocation;
    using VUpdateEngine::fOutdatedBundle;
    using VUpdateEngine::fReportToCaller;
    using VUpdateEngine::fRestartHeadless;
    using VUpdateEngine::fRestartParametersFile;
    using VUpdateEngine::fUpToDateBundle;
    using VUpdateEngine::fWaitLimitMs;
    using VUpdateEngine::fWaitPollMs;
    using VUpdateEngine::fWaitSettleMs;
};

// ---------------------------------------------------------------------------------------------
// The updater's log lines
// ---------------------------------------------------------------------------------------------

struct LogLine
{
    int32_t fLevel = EML_Information;
    std::string fMessage;
};

// Keeps the updater's own records (those signed 'ZqUP') as level and message.
class RecordingListener : public ILogListener
{
public:
    void Put(const std::vector<const VValueBag*>& inRecords) override
    {
        std::lock_guard lock(fMutex);
        for (const VValueBag* record : inRecords)
        {
            int32_t signature = 0;
            if (!record->GetLong(ILoggerBagKeys::component_signature(), signature) ||
                signature != static_cast<int32_t>(kUpdaterLogSignature))
            {
                continue;
            }
            LogLine line;
            record->GetLong(ILoggerBagKeys::level(), line.fLevel);
            VString message;
            record->GetString(ILoggerBagKeys::message(), message);
            line.fMessage = to_string(message);
            fLines.push_back(line);
        }
    }
    std::vector<LogLine> Take()
    {
        std::lock_guard lock(fMutex);
        return std::move(fLines);
    }

private:
    std::mutex fMutex;
    std::vector<LogLine> fLines;
};

std::vector<std::string> Messages(const std::vector<LogLine>& inLines)
{
    std::vector<std::string> messages;
    for (const LogLine& line : inLines)
    {
        messages.push_back(line.fMessage);
    }
    return messages;
}

bool HasLine(const std::vector<LogLine>& inLines, int32_t inLevel, const std::string& inMessage)
{
    return std::any_of(inLines.begin(), inLines.end(),
                       [&](const LogLine& line)
                       { return line.fLevel == inLevel && line.fMessage == inMessage; });
}

// ---------------------------------------------------------------------------------------------
// Trees
// ---------------------------------------------------------------------------------------------

// A small bundle of the version: its property list, an executable, a read-only data file, an
// empty folder and a relative link.
void MakeBundle(const std::string& inPath, const std::string& inVersion, bool inWithLink = true)
{
    fs::create_directories(inPath + "/Contents/MacOS");
    fs::create_directories(inPath + "/Contents/Resources/empty");
    std::ofstream(inPath + "/Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        << "<key>CFBundleShortVersionString</key><string>" << inVersion << "</string></dict></plist>\n";
    WriteScript(inPath + "/Contents/MacOS/my", "#!/bin/sh\necho " + inVersion + "\n");
    const std::string data = inPath + "/Contents/Resources/data.bin";
    std::ofstream(data, std::ios::binary)
        << std::string(70000, static_cast<char>('a' + inVersion.size())) << inVersion;
    ::chmod(data.c_str(), 0440);
    if (inWithLink)
    {
        fs::create_directory_symlink("MacOS", inPath + "/Contents/Current");
    }
}

VFilePath PathFromPosix(const std::string& inPath, bool inIsFolder)
{
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath(inPath.c_str(), inIsFolder, path);
    return path;
}

// ---------------------------------------------------------------------------------------------
// Faults in the copy engine's system calls
// ---------------------------------------------------------------------------------------------

// Calls numbered fFirst to fLast (from 1) of the named call fail with fErrno. "exchange" names the
// calls of renameat2 with RENAME_EXCHANGE, which also count as "renameat2".
struct Fault
{
    std::string fCall;
    int fFirst = 0;
    int fLast = 0;
    int fErrno = 0;
};

std::vector<Fault> sFaults;
std::map<std::string, int> sCallCounts;

bool Fails(const char* inCall)
{
    const int number = ++sCallCounts[inCall];
    for (const Fault& fault : sFaults)
    {
        if (fault.fCall == inCall && number >= fault.fFirst && number <= fault.fLast)
        {
            errno = fault.fErrno;
            return true;
        }
    }
    return false;
}

XLinuxCopyCalls FaultyCalls()
{
    static const XLinuxCopyCalls sSystem = XLinuxCopyEngine::GetSystemCalls();
    XLinuxCopyCalls calls = sSystem;
    // Without reflinks the data goes through copy_file_range on every file system.
    calls.fFiclone = [](int, int)
    {
        errno = EOPNOTSUPP;
        return -1;
    };
    calls.fMkdirat = [](int inDir, const char* inPath, mode_t inMode)
    { return Fails("mkdirat") ? -1 : sSystem.fMkdirat(inDir, inPath, inMode); };
    calls.fOpenat = [](int inDir, const char* inPath, int inFlags, mode_t inMode)
    { return Fails("openat") ? -1 : sSystem.fOpenat(inDir, inPath, inFlags, inMode); };
    calls.fCopyFileRange = [](int inIn, loff_t* inInOffset, int inOut, loff_t* inOutOffset, size_t inSize,
                              unsigned inFlags) -> ssize_t
    {
        return Fails("copy_file_range")
                   ? -1
                   : sSystem.fCopyFileRange(inIn, inInOffset, inOut, inOutOffset, inSize, inFlags);
    };
    calls.fRenameat2 = [](int inFromDir, const char* inFrom, int inToDir, const char* inTo, unsigned inFlags)
    {
        if ((inFlags & RENAME_EXCHANGE) != 0 && Fails("exchange"))
        {
            return -1;
        }
        return Fails("renameat2") ? -1 : sSystem.fRenameat2(inFromDir, inFrom, inToDir, inTo, inFlags);
    };
    calls.fUnlinkat = [](int inDir, const char* inPath, int inFlags)
    { return Fails("unlinkat") ? -1 : sSystem.fUnlinkat(inDir, inPath, inFlags); };
    return calls;
}

// Injects the faults for the life of the object, counting every call from zero.
class StFaults
{
public:
    explicit StFaults(std::vector<Fault> inFaults)
    {
        sFaults = std::move(inFaults);
        sCallCounts.clear();
        XLinuxCopyEngine::SetCalls(FaultyCalls());
    }
    ~StFaults()
    {
        XLinuxCopyEngine::ResetCalls();
        sFaults.clear();
    }
    StFaults(const StFaults&) = delete;
    StFaults& operator=(const StFaults&) = delete;
    static int Count(const std::string& inCall) { return sCallCounts[inCall]; }
};

// ---------------------------------------------------------------------------------------------
// The fixture
// ---------------------------------------------------------------------------------------------

struct Outcome
{
    bool fResult = false;
    std::vector<VError> fErrors;     // oldest first
    std::vector<std::string> fPaths; // each error's "path" parameter (empty when it has none)
    std::vector<LogLine> fLines;
};

// One engine (a started process with its logger) for the whole program.
class ApplyUpdate : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sEngine = new TestEngine();
        sDesignedWait = {sEngine->fWaitPollMs, sEngine->fWaitLimitMs, sEngine->fWaitSettleMs};
        // 16: the process logger, which the updater's lines go to.
        ASSERT_TRUE(sEngine->VProcess::Init(16));
        sListener = new RecordingListener();
        ASSERT_TRUE(sEngine->GetLogger()->AddLogListener(sListener));
    }
    static void TearDownTestSuite()
    {
        sEngine->GetLogger()->RemoveLogListener(sListener);
        sListener->Release();
        delete sEngine;
        sEngine = nullptr;
    }

    void SetUp() override
    {
        fRoot = test::MakeTemporaryFolder();
        ASSERT_FALSE(fRoot.empty());
        for (const char* folder : {"Apps", "New", "bin", "records", "data", "home"})
        {
            fs::create_directory(fRoot + "/" + folder);
        }
        fData.emplace("XDG_DATA_HOME", fRoot + "/data");
        fHome.emplace("HOME", fRoot + "/home");
        MakeBundle(Installed(), "1.0");
        MakeBundle(Update(), "2.0");
        fOldManifest = Manifest(Installed());
        fNewManifest = Manifest(Update());
        WriteScript(fRoot + "/bin/zq-open", "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + fRoot +
                                                "/records/opener.args'\nexit $(cat '" + fRoot +
                                                "/records/opener.exit' 2>/dev/null || echo 0)\n");
        sEngine->_SetOpenerPathForTest(VString((fRoot + "/bin/zq-open").c_str()));
        sEngine->_SetApplyWaitsForTest(20, 2000, 10, 10);
        SetBundles(Installed(), Update());
        sEngine->fCallerPid = -1;
        sEngine->fReportToCaller = false;
        sEngine->fClientInfoFile = VFilePath();
        sEngine->fRestartParametersFile = VFilePath();
        sEngine->fRestartHeadless = false;
        sListener->Take();
    }

    void TearDown() override
    {
        fData.reset();
        fHome.reset();
        std::error_code ignored;
        fs::permissions(fRoot, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(fRoot, ignored);
    }

    std::string Installed() const { return fRoot + "/Apps/My.app"; }
    std::string Update() const { return fRoot + "/New/My.app"; }
    std::string Backup() const { return fRoot + "/Apps/My_old0001.app"; }
    std::string Trashed() const { return fRoot + "/data/Trash/files/My_old0001.app"; }

    // The outdated bundle (also the install location) and the up-to-date one.
    static void SetBundles(const std::string& inOutdated, const std::string& inUpToDate)
    {
        sEngine->fOutdatedBundle = PathFromPosix(inOutdated, true);
        sEngine->fInstallLocation = sEngine->fOutdatedBundle;
        sEngine->fUpToDateBundle = PathFromPosix(inUpToDate, true);
    }

    // Runs inStep in a context of its own and gathers its result, errors and log lines.
    template <class Step>
    static Outcome Run(Step inStep)
    {
        Outcome outcome;
        {
            StErrorContextInstaller context(false);
            outcome.fResult = inStep();
            for (const VErrorBase* error : context.GetContext()->GetErrorList())
            {
                outcome.fErrors.push_back(error->GetError());
                VString path;
                VJSONValue(error->GetParameters()).GetProperty(VString("path")).GetString(path);
                outcome.fPaths.push_back(to_string(path));
            }
        }
        sEngine->GetLogger()->Flush();
        outcome.fLines = sListener->Take();
        return outcome;
    }
    static Outcome Apply()
    {
        return Run([] { return sEngine->_ApplyUpdate(); });
    }

    // The old bundle is in place and nothing else is left beside it.
    void ExpectOldInPlace() const
    {
        EXPECT_EQ(Manifest(Installed()), fOldManifest);
        EXPECT_FALSE(fs::exists(Backup()));
        EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
    }

    static TestEngine* sEngine;
    static RecordingListener* sListener;
    // The caller wait's poll, limit and settling pause of the engine as made.
    static inline std::array<int32_t, 3> sDesignedWait{};
    std::string fRoot;
    std::string fOldManifest;
    std::string fNewManifest;
    std::optional<ScopedEnvironmentVariable> fData;
    std::optional<ScopedEnvironmentVariable> fHome;
};

TestEngine* ApplyUpdate::sEngine = nullptr;
RecordingListener* ApplyUpdate::sListener = nullptr;

const std::vector<VError> kInstallFailed{VE_UPDATER_COPY_FAILED, VE_UPDATER_INSTALL_FAILED};

// The 'UPZq' errors of an outcome, in order (native errors left out).
std::vector<VError> UpdaterErrors(const Outcome& inOutcome)
{
    std::vector<VError> errors;
    for (VError error : inOutcome.fErrors)
    {
        if (ComponentOfVError(error) == kUpdaterErrorComponent)
        {
            errors.push_back(error);
        }
    }
    return errors;
}

// ---------------------------------------------------------------------------------------------
// Success, the backup's name and the Trash
// ---------------------------------------------------------------------------------------------

TEST_F(ApplyUpdate, SuccessInstallsRestartsAndTrashesTheBackup)
{
    const Outcome outcome = Apply();
    EXPECT_TRUE(outcome.fResult);
    EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(Update()), fNewManifest) << "the update is copied, not moved";
    EXPECT_EQ(Manifest(Trashed()), fOldManifest);
    EXPECT_NE(ReadWholeFile(fRoot + "/data/Trash/info/My_old0001.app.trashinfo")
                  .find("Path=" + fRoot + "/Apps/My_old0001.app\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(Backup()));
    EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
    EXPECT_EQ(ReadRecordedArguments(fRoot + "/records/opener.args"),
              (std::vector<std::string>{"-a", Installed() + "/"}));
    const std::vector<std::string> expected = {
        "Waiting for external process to quit",
        "Skipping process wait (negative pid)",
        "Proceeding with up-to-date application install...",
        "Proceeding with up-to-date application restart...",
        "Restarting installed application (open -a \"" + Installed() + "/\")...",
        "Updated application restarted, returned 0",
        "Up-to-date application restarted",
    };
    EXPECT_EQ(Messages(outcome.fLines), expected);
}

TEST_F(ApplyUpdate, BackupNameIsTheFirstFreeCounter)
{
    struct Row
    {
        const char* fWhat;
        const char* fBundle;
        std::vector<std::string> fTaken;
        const char* fExpected;
        bool fFree;
    };
    const std::vector<Row> rows = {
        {"none taken", "My.app", {}, "My_old0001.app", true},
        {"_old0001 taken", "My.app", {"My_old0001.app"}, "My_old0002.app", true},
        {"1-3 and 5 taken: the gap",
         "My.app",
         {"My_old0001.app", "My_old0002.app", "My_old0003.app", "My_old0005.app"},
         "My_old0004.app",
         true},
        {"a bundle without extension", "My", {}, "My_old0001", true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const std::string folder = fRoot + "/names-" + std::to_string(&row - rows.data());
        fs::create_directory(folder);
        for (const std::string& taken : row.fTaken)
        {
            fs::create_directory(folder + "/" + taken);
        }
        VFilePath backup;
        EXPECT_EQ(TestEngine::_ComputeTempFolderPath(PathFromPosix(folder + "/" + row.fBundle, true), backup,
                                                     VString("old")),
                  row.fFree);
        EXPECT_EQ(to_string(backup.GetPath(FPS_POSIX)), folder + "/" + row.fExpected + "/");
    }

    // Every counter taken: the last one is given anyway.
    const std::string full = fRoot + "/full";
    fs::create_directory(full);
    for (int counter = 1; counter <= 9999; ++counter)
    {
        char name[32];
        std::snprintf(name, sizeof(name), "/My_old%04d.app", counter);
        fs::create_directory(full + name);
    }
    VFilePath backup;
    EXPECT_FALSE(
        TestEngine::_ComputeTempFolderPath(PathFromPosix(full + "/My.app", true), backup, VString("old")));
    EXPECT_EQ(to_string(backup.GetPath(FPS_POSIX)), full + "/My_old9999.app/");
}

// A name taken by a folder is skipped at once; one taken by a file, or taken between the choice and
// the rename, is refused by the rename, which moves on to the next counter.
TEST_F(ApplyUpdate, ABackupNameTakenMovesOn)
{
    fs::create_directory(Backup());
    std::ofstream(fRoot + "/Apps/My_old0002.app") << "a file";
    const Outcome outcome = Apply();
    EXPECT_TRUE(outcome.fResult);
    EXPECT_EQ(Manifest(fRoot + "/data/Trash/files/My_old0003.app"), fOldManifest);
    EXPECT_TRUE(fs::is_directory(Backup()));
    EXPECT_EQ(ReadWholeFile(fRoot + "/Apps/My_old0002.app"), "a file");
}

// The new bundle is installed and restarted: a Trash that refuses the backup costs the backup,
// logged, and not the update.
TEST_F(ApplyUpdate, UnusableTrashDeletesTheBackupAndSucceeds)
{
    // A file where the Trash folder should be.
    std::ofstream(fRoot + "/data/Trash") << "not a folder";
    const Outcome outcome = Apply();
    EXPECT_TRUE(outcome.fResult);
    EXPECT_TRUE(outcome.fErrors.empty());
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_FALSE(fs::exists(Backup()));
    EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Information, "Up-to-date application restarted"));
    EXPECT_TRUE(
        HasLine(outcome.fLines, EML_Error,
                "The backup " + Backup() + " could not be moved to the Trash; it is deleted instead"));
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Information, "Backup " + Backup() + " deleted"));
}

// ---------------------------------------------------------------------------------------------
// Checks before anything is touched
// ---------------------------------------------------------------------------------------------

TEST_F(ApplyUpdate, BundleGuardRefusesWhatIsNoBundle)
{
    fs::create_directories(fRoot + "/x/App/Contents");
    fs::create_directories(fRoot + "/New/Bare.app/Contents/MacOS");
    struct Row
    {
        const char* fWhat;
        std::string fOutdated;
        std::string fUpToDate;
        std::string fRefused; // the "path" of the error, without its final '/'
    };
    const std::string home = fRoot + "/home";
    const std::vector<Row> rows = {
        {"the root folder", "/", Update(), "/"},
        {"the home folder", home, Update(), home},
        {"an ancestor of the home folder", fRoot, Update(), fRoot},
        {"a name without .app", fRoot + "/x/App", Update(), fRoot + "/x/App"},
        {"an up-to-date bundle without Contents/Info.plist", Installed(), fRoot + "/New/Bare.app",
         fRoot + "/New/Bare.app"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const std::string before = Manifest(fRoot);
        SetBundles(row.fOutdated, row.fUpToDate);
        sEngine->fReportToCaller = true;
        const Outcome outcome = Apply();
        EXPECT_FALSE(outcome.fResult);
        ASSERT_EQ(outcome.fErrors, std::vector<VError>{VE_UPDATER_NOT_A_BUNDLE});
        std::string refused = outcome.fPaths.front();
        if (refused.size() > 1 && refused.back() == '/')
        {
            refused.pop_back();
        }
        EXPECT_EQ(refused, row.fRefused);
        ASSERT_EQ(outcome.fLines.size(), 1u);
        EXPECT_EQ(outcome.fLines.front().fLevel, EML_Error);
        EXPECT_NE(outcome.fLines.front().fMessage.find(row.fRefused), std::string::npos)
            << outcome.fLines.front().fMessage;
        EXPECT_TRUE(sEngine->fReportToCaller) << "no handshake";
        EXPECT_EQ(Manifest(fRoot), before) << "nothing touched";
        sEngine->fReportToCaller = false;
    }
}

TEST_F(ApplyUpdate, TheSameBundleOrOneInsideTheOtherIsRefused)
{
    MakeBundle(Installed() + "/Contents/Update.app", "2.0");
    const std::string before = Manifest(fRoot);
    struct Row
    {
        const char* fWhat;
        std::string fUpToDate;
    };
    const std::vector<Row> rows = {
        {"the same folder", Installed()},
        {"the same folder, another spelling", fRoot + "/Apps/../Apps/My.app"},
        {"a folder inside the installed bundle", Installed() + "/Contents/Update.app"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        SetBundles(Installed(), row.fUpToDate);
        const Outcome outcome = Apply();
        EXPECT_FALSE(outcome.fResult);
        EXPECT_EQ(outcome.fErrors, (std::vector<VError>{VE_UPDATER_SAME_BUNDLE, VE_UPDATER_INSTALL_FAILED}));
        EXPECT_TRUE(HasLine(outcome.fLines, EML_Error, "Up-to-date application install failed"));
        EXPECT_EQ(Manifest(fRoot), before);
    }
}

TEST_F(ApplyUpdate, NamesDifferingOnlyInCaseAreTwoBundles)
{
    fs::rename(Update(), fRoot + "/Apps/my.app");
    SetBundles(Installed(), fRoot + "/Apps/my.app");
    const Outcome outcome = Apply();
    EXPECT_TRUE(outcome.fResult);
    EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(fRoot + "/Apps/my.app"), fNewManifest);
}

TEST_F(ApplyUpdate, MissingBundlesAreReportedBeforeAnythingElse)
{
    const std::string before = Manifest(fRoot);
    SetBundles(fRoot + "/Apps/Gone.app", fRoot + "/New/Gone.app");
    const Outcome outcome = Apply();
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(outcome.fErrors,
              (std::vector<VError>{VE_UPDATER_OUTDATED_MISSING, VE_UPDATER_UPTODATE_MISSING}));
    EXPECT_EQ(outcome.fPaths,
              (std::vector<std::string>{fRoot + "/Apps/Gone.app/", fRoot + "/New/Gone.app/"}));
    EXPECT_TRUE(outcome.fLines.empty());
    EXPECT_EQ(Manifest(fRoot), before);
}

// ---------------------------------------------------------------------------------------------
// The caller's process
// ---------------------------------------------------------------------------------------------

pid_t Spawn(std::vector<const char*> inArguments)
{
    pid_t pid = -1;
    inArguments.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, inArguments.front(), nullptr, nullptr,
                            const_cast<char**>(inArguments.data()), environ),
              0);
    return pid;
}

// The designed poll (500 ms) and settling pause (1 s), with a limit of 3 s instead of 60 s.
TEST_F(ApplyUpdate, WaitForTheCaller)
{
    sEngine->_SetApplyWaitsForTest(500, 3000, 1000, 10);
    struct Row
    {
        const char* fWhat;
        std::function<pid_t()> fStart; // the caller; -1 for none
        bool fQuits;
        int fMinMs;
        int fMaxMs;
    };
    const std::vector<Row> rows = {
        {"a negative pid: no wait", [] { return -1; }, true, 0, 50},
        {"a pid already gone",
         []
         {
             const pid_t pid = Spawn({"/bin/true"});
             int status = 0;
             ::waitpid(pid, &status, 0);
             return pid;
         },
         true, 900, 2500},
        {"a zombie child, not yet reaped",
         []
         {
             const pid_t pid = Spawn({"/bin/true"});
             for (int i = 0; i < 500 && !VSystem::IsProcessZombie(pid); ++i)
             {
                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
             }
             return pid;
         },
         true, 900, 2500},
        {"a caller quitting after 2 s",
         [] {
             return Spawn({"/bin/sleep", "2"});
         },
         true, 2400, 4500},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        const pid_t pid = row.fStart();
        sEngine->fCallerPid = pid;
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = Run([] { return sEngine->_WaitForPidToQuit(); });
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (pid > 0)
        {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        EXPECT_EQ(outcome.fResult, row.fQuits);
        EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
        EXPECT_GE(elapsed, row.fMinMs);
        EXPECT_LE(elapsed, row.fMaxMs);
        const std::string id = std::to_string(pid);
        const std::vector<std::string> expected =
            pid < 0 ? std::vector<std::string>{"Skipping process wait (negative pid)"}
                    : std::vector<std::string>{"Waiting for process " + id + " to quit",
                                               "Process " + id + " has quit. Proceeding."};
        EXPECT_EQ(Messages(outcome.fLines), expected);
    }
}

TEST_F(ApplyUpdate, ACallerThatNeverQuitsStopsTheUpdate)
{
    sEngine->_SetApplyWaitsForTest(100, 1000, 10, 10);
    const pid_t caller = Spawn({"/bin/sleep", "600"});
    sEngine->fCallerPid = caller;
    const std::string before = Manifest(fRoot);
    const Outcome outcome = Apply();
    ::kill(caller, SIGKILL);
    int status = 0;
    ::waitpid(caller, &status, 0);
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(outcome.fErrors, (std::vector<VError>{VE_UPDATER_WAIT_TIMED_OUT, VE_UPDATER_WAIT_TIMED_OUT}));
    const std::string id = std::to_string(caller);
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Error,
                        "Process " + id + " still exists after maximum wait time. Giving up."));
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Error, "External process wait failed"));
    EXPECT_EQ(Manifest(fRoot), before);
}

// ---------------------------------------------------------------------------------------------
// The restart
// ---------------------------------------------------------------------------------------------

TEST_F(ApplyUpdate, RestartRunsTheOpenerWithTheArgumentVector)
{
    // Quotes, a backslash, a space and a byte that is not UTF-8 must reach the opener unchanged;
    // the log, which is UTF-8 text, shows that byte as U+FFFD.
    const std::string odd = fRoot + "/Odd \"q\" \\b \xff";
    const std::string oddLogged = fRoot + "/Odd \"q\" \\b \xEF\xBF\xBD";
    struct Row
    {
        const char* fWhat;
        std::string fInstall;
        std::string fParameters; // empty: none
        bool fHeadless;
        std::string fLogged; // what follows "open -a "
        std::vector<std::string> fArguments;
    };
    const std::string app = fRoot + "/Apps/My.app/";
    const std::string params = fRoot + "/params.json";
    const std::vector<Row> rows = {
        {"plain", app, "", false, "\"" + app + "\"", {"-a", app}},
        {"headless", app, "", true, "\"" + app + "\" --args --headless", {"-a", app, "--args", "--headless"}},
        {"parameters",
         app,
         params,
         false,
         "\"" + app + "\" --args \"" + params + "\"",
         {"-a", app, "--args", params}},
        {"parameters, headless",
         app,
         params,
         true,
         "\"" + app + "\" --args \"" + params + "\" --headless",
         {"-a", app, "--args", params, "--headless"}},
        {"odd paths",
         odd + "/My.app/",
         odd + "/p.json",
         true,
         "\"" + oddLogged + "/My.app/\" --args \"" + oddLogged + "/p.json\" --headless",
         {"-a", odd + "/My.app/", "--args", odd + "/p.json", "--headless"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.fWhat);
        fs::remove(fRoot + "/records/opener.args");
        sEngine->fRestartParametersFile =
            row.fParameters.empty() ? VFilePath() : PathFromPosix(row.fParameters, false);
        sEngine->fRestartHeadless = row.fHeadless;
        const VFilePath install = PathFromPosix(row.fInstall, true);
        const Outcome outcome = Run([&] { return sEngine->_LaunchApplication(install); });
        EXPECT_TRUE(outcome.fResult);
        EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
        EXPECT_EQ(ReadRecordedArguments(fRoot + "/records/opener.args"), row.fArguments);
        EXPECT_EQ(
            Messages(outcome.fLines),
            (std::vector<std::string>{"Restarting installed application (open -a " + row.fLogged + ")...",
                                      "Updated application restarted, returned 0"}));
    }
}

TEST_F(ApplyUpdate, AnOpenerThatFailsKeepsTheBackup)
{
    std::ofstream(fRoot + "/records/opener.exit") << "1";
    const Outcome outcome = Apply();
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(outcome.fErrors, std::vector<VError>{VE_UPDATER_RESTART_FAILED});
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Error,
                        "Failed to restart updated application (returned error 0 - exit status 1)"));
    EXPECT_TRUE(HasLine(outcome.fLines, EML_Error, "Up-to-date application restart failed"));
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(Backup()), fOldManifest);
    EXPECT_FALSE(fs::exists(fRoot + "/data/Trash/files"));
}

TEST_F(ApplyUpdate, AMissingOpenerIsAFailedRestart)
{
    sEngine->_SetOpenerPathForTest(VString((fRoot + "/bin/no-such-opener").c_str()));
    const Outcome outcome = Apply();
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(UpdaterErrors(outcome), std::vector<VError>{VE_UPDATER_RESTART_FAILED});
    EXPECT_EQ(Manifest(Backup()), fOldManifest);
}

// ---------------------------------------------------------------------------------------------
// Faults during the swap
// ---------------------------------------------------------------------------------------------

// Every call of each system call the swap makes fails in turn. A failure before the exchange
// leaves the old bundle in place, with 13 and 100 and nothing beside it; one in the rename to the
// backup name (after the exchange) exchanges back; a failure once the swap is done concerns the
// Trash, which a forced delete replaces, and the update succeeds. A second run always completes the update.
TEST_F(ApplyUpdate, EveryFailingCallOfTheSwapLeavesAWholeBundle)
{
    for (const char* call : {"mkdirat", "openat", "copy_file_range", "renameat2"})
    {
        for (int error : {ENOSPC, EIO})
        {
            for (int nth = 1;; ++nth)
            {
                SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth) + ": " + std::strerror(error));
                Outcome outcome;
                bool reached = false;
                {
                    StFaults faults({{call, nth, nth, error}});
                    outcome = Apply();
                    reached = StFaults::Count(call) >= nth;
                }
                if (!reached)
                {
                    EXPECT_TRUE(outcome.fResult);
                    fs::remove_all(Installed());
                    fs::remove_all(fRoot + "/data/Trash");
                    MakeBundle(Installed(), "1.0");
                    break;
                }
                EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
                const std::vector<VError> errors = UpdaterErrors(outcome);
                if (Manifest(Installed()) == fOldManifest)
                {
                    EXPECT_FALSE(outcome.fResult);
                    ExpectOldInPlace();
                    ASSERT_GE(errors.size(), 2u);
                    EXPECT_EQ(errors.back(), VE_UPDATER_INSTALL_FAILED);
                    // The copy failed (13), or the rename to the backup name did (11).
                    EXPECT_TRUE(errors[errors.size() - 2] == VE_UPDATER_COPY_FAILED ||
                                errors[errors.size() - 2] == VE_UPDATER_RENAME_FAILED);
                    EXPECT_TRUE(HasLine(outcome.fLines, EML_Information,
                                        "Rolling back up-to-date application install"));
                }
                else
                {
                    // Swapped and restarted, so a success; the Trash failed and the backup was
                    // deleted.
                    EXPECT_TRUE(outcome.fResult);
                    EXPECT_EQ(Manifest(Installed()), fNewManifest);
                    EXPECT_EQ(errors, std::vector<VError>{});
                    EXPECT_TRUE(HasLine(outcome.fLines, EML_Information, "Up-to-date application restarted"));
                    EXPECT_FALSE(fs::exists(Backup()));
                    // Back to version 1 for the second run.
                    fs::remove_all(Installed());
                    MakeBundle(Installed(), "1.0");
                }
                const Outcome second = Apply();
                EXPECT_TRUE(second.fResult);
                EXPECT_EQ(Manifest(Installed()), fNewManifest);
                // Back to version 1 for the next call number.
                fs::remove_all(Installed());
                fs::remove_all(fRoot + "/data/Trash");
                MakeBundle(Installed(), "1.0");
                if (HasFailure())
                {
                    return;
                }
            }
        }
    }
}

// A copy that fails and a partial copy that cannot be removed afterwards: the old bundle stays in
// place and the next run completes the update. (The copy engine removes the partial copies of
// processes that are gone; this one's process is still running.)
TEST_F(ApplyUpdate, APartialCopyThatCouldNotBeRemovedDoesNotStopTheNextRun)
{
    {
        StFaults faults({{"copy_file_range", 2, 2, ENOSPC}, {"unlinkat", 1, INT_MAX, EIO}});
        const Outcome outcome = Apply();
        EXPECT_FALSE(outcome.fResult);
        EXPECT_EQ(UpdaterErrors(outcome), kInstallFailed);
        EXPECT_GT(StFaults::Count("unlinkat"), 0);
    }
    EXPECT_EQ(Manifest(Installed()), fOldManifest);
    EXPECT_FALSE(fs::exists(Backup()));
    ASSERT_EQ(StagingLeftIn(fRoot + "/Apps").size(), 1u);
    const Outcome second = Apply();
    EXPECT_TRUE(second.fResult);
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(Trashed()), fOldManifest);
}

TEST_F(ApplyUpdate, ABusyInstallLocationIsTriedAgain)
{
    {
        StFaults faults({{"exchange", 1, 2, EBUSY}});
        const Outcome outcome = Apply();
        EXPECT_EQ(StFaults::Count("exchange"), 3);
        EXPECT_TRUE(outcome.fResult);
        EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
    }
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(Trashed()), fOldManifest);
}

TEST_F(ApplyUpdate, AnInstallLocationAlwaysBusyGivesUpAfterFiveAttempts)
{
    StFaults faults({{"exchange", 1, INT_MAX, EBUSY}});
    const Outcome outcome = Apply();
    EXPECT_EQ(StFaults::Count("exchange"), 5);
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(UpdaterErrors(outcome), (std::vector<VError>{VE_UPDATER_RENAME_FAILED, VE_UPDATER_RENAME_FAILED,
                                                           VE_UPDATER_RENAME_FAILED, VE_UPDATER_RENAME_FAILED,
                                                           VE_UPDATER_INSTALL_FAILED}));
    ExpectOldInPlace();
}

TEST_F(ApplyUpdate, AReadOnlyParentFailsAtTheCopyWithoutRetries)
{
    StFaults faults({{"mkdirat", 1, INT_MAX, EROFS}});
    const Outcome outcome = Apply();
    EXPECT_EQ(StFaults::Count("exchange"), 0);
    EXPECT_FALSE(outcome.fResult);
    EXPECT_EQ(UpdaterErrors(outcome), kInstallFailed);
    ExpectOldInPlace();
}

// A file system that cannot exchange: the two renames, the old bundle under the backup name
// between them.
TEST_F(ApplyUpdate, WithoutExchangeTheTwoRenamesRun)
{
    {
        StFaults faults({{"exchange", 1, INT_MAX, EINVAL}});
        const Outcome outcome = Apply();
        EXPECT_TRUE(outcome.fResult);
        EXPECT_EQ(outcome.fErrors, std::vector<VError>{});
    }
    EXPECT_EQ(Manifest(Installed()), fNewManifest);
    EXPECT_EQ(Manifest(Trashed()), fOldManifest);
    EXPECT_EQ(StagingLeftIn(fRoot + "/Apps"), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------------
// A file system without rename flags, hard links or links
// ---------------------------------------------------------------------------------------------

// An exFAT image mounted through FUSE (exfat-fuse on a loop device) for the life of the object;
// IsMounted false, with the reason in GetReason, where that cannot be done here.
class StExfatMount
{
public:
    StExfatMount(const std::string& inImage, const std::string& inMountPoint) : fMountPoint(inMountPoint)
    {
        if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        {
            fReason = "needs root and /dev/fuse";
            return;
        }
        if (std::system("command -v mkfs.exfat mount.exfat-fuse losetup >/dev/null 2>&1") != 0)
        {
            fReason = "mkfs.exfat, mount.exfat-fuse or losetup is not installed";
            return;
        }
        fs::create_directories(inMountPoint);
        const std::string make =
            "truncate -s 32M '" + inImage + "' && mkfs.exfat '" + inImage + "' >/dev/null 2>&1";
        FILE* loop = std::system(make.c_str()) == 0
                         ? ::popen(("losetup -f --show '" + inImage + "' 2>/dev/null").c_str(), "r")
                         : nullptr;
        char device[64] = {};
        if (loop == nullptr || std::fgets(device, sizeof device, loop) == nullptr)
        {
            fReason = "no loop device for the image";
            if (loop != nullptr)
            {
                ::pclose(loop);
            }
            return;
        }
        ::pclose(loop);
        fDevice = device;
        fDevice.erase(fDevice.find_last_not_of("\n") + 1);
        if (std::system(
                ("mount.exfat-fuse '" + fDevice + "' '" + inMountPoint + "' >/dev/null 2>&1").c_str()) != 0)
        {
            fReason = "mount.exfat-fuse failed";
            return;
        }
        fMounted = true;
    }
    ~StExfatMount()
    {
        if (fMounted)
        {
            (void)std::system(("umount '" + fMountPoint + "'").c_str());
        }
        if (!fDevice.empty())
        {
            (void)std::system(("losetup -d '" + fDevice + "'").c_str());
        }
    }
    StExfatMount(const StExfatMount&) = delete;
    StExfatMount& operator=(const StExfatMount&) = delete;

    bool IsMounted() const { return fMounted; }
    const std::string& GetReason() const { return fReason; }

private:
    std::string fMountPoint;
    std::string fDevice;
    std::string fReason;
    bool fMounted = false;
};

// exFAT refuses RENAME_NOREPLACE and RENAME_EXCHANGE (EINVAL), hard links and symbolic links: the
// update still completes, through the file library's fallbacks.
TEST_F(ApplyUpdate, AnUpdateCompletesOnExfat)
{
    const std::string mount = fRoot + "/exfat";
    StExfatMount exfat(fRoot + "/exfat.img", mount);
    if (!exfat.IsMounted())
    {
        GTEST_SKIP() << "no FUSE exFAT here: " << exfat.GetReason();
    }
    const std::string installed = mount + "/Apps/My.app";
    const std::string update = fRoot + "/New/Plain.app";
    MakeBundle(installed, "1.0", false);
    MakeBundle(update, "2.0", false);
    SetBundles(installed, update);
    const Outcome outcome = Apply();
    EXPECT_TRUE(outcome.fResult);
    EXPECT_EQ(UpdaterErrors(outcome), std::vector<VError>{});
    EXPECT_NE(ReadWholeFile(installed + "/Contents/MacOS/my").find("2.0"), std::string::npos);
    // The backup went to the mount's own Trash.
    EXPECT_FALSE(fs::exists(mount + "/Apps/My_old0001.app"));
    EXPECT_EQ(StagingLeftIn(mount + "/Apps"), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------------
// The designed waits (slow)
// ---------------------------------------------------------------------------------------------

// The designed waits: a rename that stays busy is tried five times, 3 s apart.
TEST_F(ApplyUpdate, SlowBusyRenameIsTriedFiveTimes)
{
    sEngine->_SetApplyWaitsForTest(500, 60000, 1000, 3000);
    // Four pauses of 3 s between five attempts.
    StFaults faults({{"exchange", 1, INT_MAX, EBUSY}});
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = Apply();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(UpdaterErrors(outcome).size(), 5u);
    EXPECT_GE(elapsed, std::chrono::seconds(12));
    EXPECT_LT(elapsed, test::Scaled(std::chrono::seconds(20)));
    ExpectOldInPlace();
}

// A caller that never quits: the engine gives up once the wait's limit has passed, polling the
// process list, and changes nothing. The limit is the designed minute (checked on an engine as
// made, before any test shortened it); the wait itself runs with a limit of 6 s, so that the case stays
// short.
TEST_F(ApplyUpdate, ACallerThatNeverQuitsIsGivenUpOnAtTheLimit)
{
    EXPECT_EQ(sDesignedWait, (std::array<int32_t, 3>{500, 60000, 1000})) << "poll, limit, settling pause";
    sEngine->_SetApplyWaitsForTest(500, 6000, 1000, 3000);
    const pid_t caller = Spawn({"/bin/sleep", "600"});
    sEngine->fCallerPid = caller;
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = Apply();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ::kill(caller, SIGKILL);
    int status = 0;
    ::waitpid(caller, &status, 0);
    EXPECT_EQ(outcome.fErrors, (std::vector<VError>{VE_UPDATER_WAIT_TIMED_OUT, VE_UPDATER_WAIT_TIMED_OUT}));
    EXPECT_GE(elapsed, std::chrono::seconds(6));
    EXPECT_LT(elapsed, test::Scaled(std::chrono::seconds(11)));
    ExpectOldInPlace();
}

} // namespace
} // namespace zorn
