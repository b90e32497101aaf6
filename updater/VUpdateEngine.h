// VUpdateEngine: the updater's application object, one per run. Its start-up parses the command
// line into the fields below; its run writes the log's first line, installs a localization manager
// in the user's language, performs one whole update on the main task (check the bundles, customize
// a client bundle, let the caller quit, wait for it, swap the bundles, restart the application,
// dispose of the backup) and logs it; its quit flushes the log.
//
// The member functions live in one source per stage: VUpdateEngine.cpp (life cycle and
// localization), VUpdateEngine_CommandLine.cpp, VUpdateEngine_Customization.cpp,
// VUpdateEngine_Apply.cpp and VUpdateEngine_Run.cpp.
//
// Choices and limits:
// - The engine is built, initialised and run once, on the main thread; nothing in it is shared
//   with other threads.
// - The fields are protected so that tests can drive a stage with the fields set directly.
#pragma once

#include "toolbox/files/VFilePath.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/process/VProcessIPC.h"

#include <cstdint>

namespace zorn
{

class VErrorBase;
class VFolder;
class VJSONObject;
class VLocalizationManager;
class VLog4jMsgFileLogger;

class VUpdateEngine : public VProcessIPC
{
public:
    VUpdateEngine();
    // Releases the localization manager. The file logger is deleted by DoQuit.
    ~VUpdateEngine() override;
    VUpdateEngine(const VUpdateEngine&) = delete;
    VUpdateEngine& operator=(const VUpdateEngine&) = delete;

    // A path text as a folder path: "/" is appended when missing; an empty text clears the path.
    static void FixFolderPathSpec(const VString& inText, FilePathStyle inStyle, VFilePath& outPath);

protected:
    // Registers the updater's options, parses, reconciles the two positional bundles with the
    // bundle options and fills the fields: 0 go on, 2 the version was printed, 1 refused (its
    // message printed on standard error).
    int32_t DoParseCommandLine(VCommandLineParser& ioParser) override;
    // Flushes the process logger, then stops and deletes the file logger.
    void DoQuit() override;

    // The user's language's localization manager over the bundle's localization folders: the
    // process localizer, the type registry's, and the localizer of the toolbox's, the XML
    // layer's, the platform's and the updater's errors. Made once, by the run, after the log's
    // first line: reading its XLIFF files starts the XML library, which a run that logs nothing
    // yet has no use for. Always true.
    bool _InitLocalizationManager();

    // One whole update on the main task: the log file, the update, its log lines, and the
    // notification of a failure; the run's errors pass on to the main task.
    void DoRun() override;

    // The run's log file in the log folder; false without one (see the run's source).
    bool _InitLog();
    // The failure's alert (Yes/No) with the newest error's text and the log file's path; Yes
    // opens the log file.
    void _NotifyFailure(VErrorBase* inNewest);
    // What DoQuit does to the file logger.
    void _DeInitLog();

    // The update itself, on the run's error context; false on failure.
    bool _ApplyUpdate();
    // Waits for the caller's process to end; false (and an error) when it did not in time.
    bool _WaitForPidToQuit();
    // Puts the up-to-date bundle in place of the outdated one; the backup of the outdated one
    // (one reference), or null on failure with the errors on the context.
    VFolder* _SwapApplications(const VFolder& inOutdated, const VFolder& inUpToDate,
                               const VFolder& inInstall);
    // The swap when nothing is at the install location yet.
    VFolder* _PlaceIntoEmptyLocation(const VFolder& inOutdated, const VFolder& inStaging,
                                     const VFolder& inInstall, VFilePath& ioBackupPath);
    // The first free backup path beside inFolder: its name, "_" + inPrefix and a four-digit
    // counter. False when every counter is taken (the last one is given anyway).
    static bool _ComputeTempFolderPath(const VFilePath& inFolder, VFilePath& outPath,
                                       const VString& inPrefix);
    // Restarts the installed application; false (and an error) when that failed.
    bool _LaunchApplication(const VFilePath& inInstall);
    // Sends the backup to the Trash, or deletes it where the Trash refuses it; logs the outcome.
    void _DisposeOfBackup(VFolder& ioBackup);
    // Refuses ('UPZq' 4) bundle arguments that are no bundles, before anything is touched.
    bool _CheckBundleArguments();

    // Test-only: the program that restarts the application (by default zq-open in the running
    // executable's folder) and the waits of applying, in milliseconds: the caller wait's poll,
    // limit and settling pause, and the pause between exchange attempts.
    void _SetOpenerPathForTest(const VString& inPath) { fOpenerPath = inPath; }
    void _SetApplyWaitsForTest(int32_t inPollMs, int32_t inLimitMs, int32_t inSettleMs, int32_t inRetryMs)
    {
        fWaitPollMs = inPollMs;
        fWaitLimitMs = inLimitMs;
        fWaitSettleMs = inSettleMs;
        fRetryPauseMs = inRetryMs;
    }

    // The client bundle's server link file and executable mode, from the client-information file.
    bool _FinishClientCustomization();
    bool _SetIPAdressOnClientPref(const VJSONObject& inInfo, const VFilePath& inBundle);
    bool _FinishMacClientCustomization(const VJSONObject& inInfo);
    // "<step>,<value>\n" on standard output, flushed, when the caller asked for reports.
    void _LogProgressToCaller(const char* inStep, int inValue);

    VFilePath fLogFolder;
    VFilePath fClientInfoFile;
    VFilePath fOutdatedBundle;
    VFilePath fUpToDateBundle;
    VFilePath fInstallLocation;
    VLog4jMsgFileLogger* fFileLogger = nullptr;           // owned
    VLocalizationManager* fLocalizationManager = nullptr; // one reference
    int32_t fCallerPid = -1;
    bool fReportToCaller = false;
    bool fSilent = false;
    VFilePath fRestartParametersFile;
    bool fRestartHeadless = false;

    // Applying the update (see the setters above).
    VString fOpenerPath;
    int32_t fWaitPollMs = 500;
    int32_t fWaitLimitMs = 60000;
    int32_t fWaitSettleMs = 1000;
    int32_t fRetryPauseMs = 3000;
};

} // namespace zorn
