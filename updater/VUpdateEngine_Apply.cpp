// Applying the update: the bundle checks, the caller's handshake and wait, the swap of the
// bundles, the restart and the disposal of the backup.
//
// Choices and limits:
// - The install location is never partly written. The up-to-date bundle is copied whole beside
//   the install location under a staging name of the file library (VFolder::StageCopyBeside),
//   which is then exchanged with the installed bundle in one step; the staging name, which then
//   holds the old bundle, is renamed to the backup name without replacing anything (a taken name
//   moves on to the next counter). What a killed run leaves under a staging name is removed by the
//   next staging into that folder once the run's process is gone.
// - Only a busy install location (the file library's kBusy) makes the exchange try again: five
//   attempts, the pause between them 3 s; when all fail, four 'UPZq' 11. Any other failure stops
//   at once with the system's error and 'UPZq' 13. Where the file system cannot exchange (FAT,
//   exFAT, some FUSE and network file systems), the file library does it with two renames, and
//   the install location is empty for a moment between them.
// - A failure after the exchange exchanges back, so that the old bundle is in place again.
// - The caller's process counts as gone once the process list lacks it, once the list cannot be
//   read, or once it is a zombie (ended, waiting for its parent to reap it).
// - The restart runs the opener (zq-open in this executable's folder, never one found on PATH)
//   with an argument vector; the log shows the designed "open -a" command text. A non-zero exit
//   status of the opener is a failed restart: the backup is then kept.
// - Once the handshake line is written the standard streams are put on /dev/null (not closed), so
//   no file opened later takes their numbers and later writes go nowhere.
// - One update at a time per install location: before any check a run takes an exclusive lock
//   on the install location's parent folder (platform::FolderLock, which a killed run cannot
//   leave held) and keeps it to its end. A run that finds it held fails at once with 'UPZq' 15,
//   touching and restarting nothing. A parent that cannot be opened takes no lock; the checks
//   that follow then refuse the run.
// - Once the new bundle is installed and restarted the update has succeeded: the backup goes to
//   the Trash, or where the Trash refuses it, is deleted; a refused Trash, the delete and its
//   outcome (with the causes) are logged, and none makes the run fail.
// - Bundle guard: an install location or outdated bundle that is "/", the home folder or one of
//   its ancestors, or whose name does not end in ".app", and an up-to-date bundle without
//   Contents/Info.plist, are refused with 'UPZq' 4 before anything is touched.
#include "updater/VUpdateEngine.h"

#include "platform/FolderLock.h"
#include "platform/ProcessSelf.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileError.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/tasks/VTask.h"
#include "toolbox/process/VProcessLauncher.h"
#include "updater/UpdaterErrors.h"
#include "updater/UpdaterLog.h"

#include <algorithm>
#include <vector>

namespace zorn
{

namespace
{

constexpr int kExchangeAttempts = 5;
constexpr int32_t kLastCounter = 9999;

// ---------------------------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------------------------

bool HasErrors(const StErrorContextInstaller& inContext)
{
    return inContext.GetContext() != nullptr && !inContext.GetContext()->IsEmpty();
}

// What a scope's file operations failed with: the file layer's kind of failure, and the first
// system error, to be pushed again once the scope's own errors are dropped.
struct FileFailure
{
    EFileFailure fKind = EFileFailure::kNone;
    VError fNative = VE_OK;

    explicit FileFailure(const StErrorContextInstaller& inScope)
    {
        if (inScope.GetContext() == nullptr)
        {
            return;
        }
        fKind = GetFileFailure(*inScope.GetContext());
        for (const VErrorBase* error : inScope.GetContext()->GetErrorList())
        {
            if (GetFileFailure(error->GetError()) != EFileFailure::kOther)
            {
                fNative = error->GetError();
                break;
            }
        }
    }
    FileFailure() = default;

    void PushNative() const
    {
        if (fNative != VE_OK)
        {
            _PushRetainedError(new VErrorBase(fNative));
        }
    }
};

VString PosixText(const VFilePath& inPath)
{
    return inPath.GetPath(FPS_POSIX);
}

// The POSIX text without a final '/' (except for the root).
VString PlainPosixText(const VFilePath& inPath)
{
    VString text = PosixText(inPath);
    while (text.GetLength() > 1 && text.GetUniChar(text.GetLength()) == '/')
    {
        text.Truncate(text.GetLength() - 1);
    }
    return text;
}

VFilePath ParentPath(const VFilePath& inPath)
{
    VFilePath parent;
    inPath.GetParent(parent);
    return parent;
}

VString FolderName(const VFilePath& inPath)
{
    VString name;
    inPath.GetFolderName(name, true);
    return name;
}

VError PushCopyFailed(const VFilePath& inFrom, const VFilePath& inTo)
{
    auto* error = new VErrorBase(VE_UPDATER_COPY_FAILED);
    error->SetString(VString("from"), PosixText(inFrom));
    error->SetString(VString("to"), PosixText(inTo));
    _PushRetainedError(error);
    return VE_UPDATER_COPY_FAILED;
}

// The backup path of inFolder for one counter: its name without extension, "_" + prefix and the
// counter in four digits, with its extension.
VFilePath BackupPathFor(const VFilePath& inFolder, const VString& inPrefix, int32_t inCounter)
{
    VString name;
    inFolder.GetFolderName(name, false);
    VString suffix;
    if (inPrefix.IsEmpty())
    {
        suffix.Printf("%04d", inCounter);
    }
    else
    {
        suffix.Printf("_%S%04d", &inPrefix, inCounter);
    }
    name.AppendString(suffix);
    VFilePath path(inFolder);
    path.SetFolderName(name, false);
    return path;
}

// The counter of the first backup name that names no folder; the last counter, and false in
// outFree, when all are taken.
int32_t FirstFreeCounter(const VFilePath& inFolder, const VString& inPrefix, bool* outFree = nullptr)
{
    for (int32_t counter = 1; counter <= kLastCounter; ++counter)
    {
        VRefPtr<VFolder> candidate(new VFolder(BackupPathFor(inFolder, inPrefix, counter)), true);
        if (!candidate->Exists())
        {
            if (outFree != nullptr)
            {
                *outFree = true;
            }
            return counter;
        }
    }
    if (outFree != nullptr)
    {
        *outFree = false;
    }
    return kLastCounter;
}

// Moves inItem to the backup name of inOutdated with the first free counter, never replacing: a
// name taken meanwhile (by a file or a folder) moves on to the next counter. The moved folder
// (one reference), or null with the failure in outFailure; outPath is the last name tried.
VFolder* MoveToBackupName(const VFolder& inItem, const VFilePath& inOutdated, VFilePath& outPath,
                          FileFailure& outFailure)
{
    outFailure = FileFailure();
    const VString prefix("old");
    for (int32_t counter = FirstFreeCounter(inOutdated, prefix);; ++counter)
    {
        outPath = BackupPathFor(inOutdated, prefix, counter);
        VFolder* moved = nullptr;
        {
            StErrorContextInstaller attempt(false, true);
            VRefPtr<VFolder> parent(new VFolder(ParentPath(outPath)), true);
            if (inItem.Move(*parent, FolderName(outPath), &moved) == VE_OK && moved != nullptr)
            {
                return moved;
            }
            outFailure = FileFailure(attempt);
        }
        if (moved != nullptr)
        {
            moved->Release();
        }
        if (outFailure.fKind != EFileFailure::kExists || counter >= kLastCounter)
        {
            return nullptr;
        }
    }
}

void RemoveStaging(const VFolder& inStaging)
{
    StErrorContextInstaller dropped(false, true);
    if (inStaging.Exists() && inStaging.DeleteForced() != VE_OK)
    {
        VString text = PosixText(inStaging.GetPathRef());
        LogError("Could not remove the staging folder %S", &text);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The update
// ---------------------------------------------------------------------------------------------

void VUpdateEngine::_DisposeOfBackup(VFolder& ioBackup)
{
    // The new bundle is installed and running by now: what becomes of the backup is logged, and
    // neither a refused Trash nor a failed delete makes the update a failure.
    const VString text = PlainPosixText(ioBackup.GetPathRef());
    {
        StErrorContextInstaller trash(false, true);
        if (ioBackup.MoveToTrash() == VE_OK && trash.GetContext()->IsEmpty())
        {
            // The usual outcome adds no line: the run's lines stay as they have always been.
            return;
        }
        LogError("The backup %S could not be moved to the Trash; it is deleted instead", &text);
        DumpErrorStack(trash.GetContext(), true);
    }
    StErrorContextInstaller removal(false, true);
    if (ioBackup.DeleteForced() == VE_OK && removal.GetContext()->IsEmpty())
    {
        LogInfo("Backup %S deleted", &text);
        return;
    }
    LogError("The backup %S could not be deleted; it stays in place", &text);
    DumpErrorStack(removal.GetContext(), true);
}

bool VUpdateEngine::_ApplyUpdate()
{
    StErrorContextInstaller errors(true, true);
    const VFilePath install = fInstallLocation.IsValid() ? fInstallLocation : fOutdatedBundle;

    platform::FolderLock lock;
    {
        VFilePath parent;
        if (install.GetParent(parent) &&
            lock.TryLock(to_string(PlainPosixText(parent))) == platform::FolderLock::Outcome::kHeld)
        {
            const VString text = PlainPosixText(install);
            LogError("Another update of %S is running", &text);
            ThrowErrorWithPath(VE_UPDATER_ALREADY_RUNNING, install);
            return false;
        }
    }

    VRefPtr<VFolder> outdated(new VFolder(fOutdatedBundle), true);
    VRefPtr<VFolder> upToDate(new VFolder(fUpToDateBundle), true);
    if (!outdated->Exists())
    {
        ThrowErrorWithPath(VE_UPDATER_OUTDATED_MISSING, fOutdatedBundle);
    }
    if (!upToDate->Exists())
    {
        ThrowErrorWithPath(VE_UPDATER_UPTODATE_MISSING, fUpToDateBundle);
    }
    if (HasErrors(errors) || !_CheckBundleArguments())
    {
        return false;
    }

    if (fClientInfoFile.IsValid() && !fClientInfoFile.IsFolder())
    {
        _FinishClientCustomization();
        if (HasErrors(errors))
        {
            return false;
        }
    }

    if (fReportToCaller)
    {
        // The caller reads this line and quits; nobody reads the standard streams afterwards.
        _LogProgressToCaller("waitquit", -1);
        platform::DetachStandardStreams();
        fReportToCaller = false;
    }

    LogInfo("Waiting for external process to quit");
    if (!_WaitForPidToQuit() || HasErrors(errors))
    {
        LogError("External process wait failed");
        _PushRetainedError(new VErrorBase(VE_UPDATER_WAIT_TIMED_OUT));
        return false;
    }

    LogInfo("Proceeding with up-to-date application install...");
    VRefPtr<VFolder> backup(
        _SwapApplications(VFolder(fOutdatedBundle), VFolder(fUpToDateBundle), VFolder(install)), true);
    if (HasErrors(errors))
    {
        LogError("Up-to-date application install failed");
        _PushRetainedError(new VErrorBase(VE_UPDATER_INSTALL_FAILED));
        return false;
    }

    LogInfo("Proceeding with up-to-date application restart...");
    if (!_LaunchApplication(install) || HasErrors(errors))
    {
        // The backup stays beside the install location.
        LogError("Up-to-date application restart failed");
        return false;
    }

    LogInfo("Up-to-date application restarted");
    if (backup)
    {
        _DisposeOfBackup(*backup);
    }
    return !HasErrors(errors);
}

bool VUpdateEngine::_CheckBundleArguments()
{
    VString home;
    if (VRefPtr<VFolder> homeFolder(VFolder::RetainSystemFolder(eFK_Home), true); homeFolder)
    {
        home = PlainPosixText(homeFolder->GetPathRef());
    }
    const VFilePath install = fInstallLocation.IsValid() ? fInstallLocation : fOutdatedBundle;
    std::vector<VFilePath> installed{install};
    if (!PlainPosixText(install).EqualToStringRaw(PlainPosixText(fOutdatedBundle)))
    {
        installed.push_back(fOutdatedBundle);
    }
    for (const VFilePath& path : installed)
    {
        const VString text = PlainPosixText(path);
        const char* reason = nullptr;
        if (text.IsEmpty() || text.EqualToStringRaw(VString("/")))
        {
            reason = "it is the root folder";
        }
        else if (!home.IsEmpty() &&
                 (home.EqualToStringRaw(text) || home.BeginsWithRawString(text + VString("/"))))
        {
            reason = "it is the home folder or one of its ancestors";
        }
        else
        {
            // Bundles are often made on case-insensitive volumes: ".APP" is a bundle too.
            const VString name = FolderName(path);
            VString extension;
            if (name.GetLength() > 4)
            {
                name.GetSubString(name.GetLength() - 3, 4, extension);
            }
            if (extension.CompareToStringRawCase(VString(".app")) != CR_EQUAL)
            {
                reason = "its name does not end in \".app\"";
            }
        }
        if (reason != nullptr)
        {
            LogError("Refusing to replace %S: %s", &text, reason);
            ThrowErrorWithPath(VE_UPDATER_NOT_A_BUNDLE, path);
            return false;
        }
    }
    VRefPtr<VFolder> upToDate(new VFolder(fUpToDateBundle), true);
    VRefPtr<VFile> plist(upToDate->RetainRelativeFile(VString("Contents/Info.plist"), FPS_POSIX), true);
    if (!plist || !plist->Exists())
    {
        const VString text = PlainPosixText(fUpToDateBundle);
        LogError("Refusing to install %S: it has no Contents/Info.plist", &text);
        ThrowErrorWithPath(VE_UPDATER_NOT_A_BUNDLE, fUpToDateBundle);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The caller's process
// ---------------------------------------------------------------------------------------------

bool VUpdateEngine::_WaitForPidToQuit()
{
    if (fCallerPid < 0)
    {
        LogInfo("Skipping process wait (negative pid)");
        return true;
    }
    LogInfo("Waiting for process %d to quit", fCallerPid);
    const uint32_t start = VSystem::GetCurrentTime();
    uint32_t now = start;
    bool found = true;
    std::vector<int32_t> pids;
    while (found && static_cast<int64_t>(now - start) < fWaitLimitMs)
    {
        // The list appends: a list kept from the last poll would still name the caller.
        pids.clear();
        VSystem::GetProcessList(pids);
        found = pids.empty() || (std::find(pids.begin(), pids.end(), fCallerPid) != pids.end() &&
                                 !VSystem::IsProcessZombie(fCallerPid));
        VTask::Sleep(fWaitPollMs);
        now = VSystem::GetCurrentTime();
    }
    if (found)
    {
        LogError("Process %d still exists after maximum wait time. Giving up.", fCallerPid);
        _PushRetainedError(new VErrorBase(VE_UPDATER_WAIT_TIMED_OUT));
        return false;
    }
    VTask::Sleep(fWaitSettleMs);
    LogInfo("Process %d has quit. Proceeding.", fCallerPid);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The swap
// ---------------------------------------------------------------------------------------------

bool VUpdateEngine::_ComputeTempFolderPath(const VFilePath& inFolder, VFilePath& outPath,
                                           const VString& inPrefix)
{
    bool free = false;
    outPath = BackupPathFor(inFolder, inPrefix, FirstFreeCounter(inFolder, inPrefix, &free));
    return free;
}

VFolder* VUpdateEngine::_SwapApplications(const VFolder& inOutdated, const VFolder& inUpToDate,
                                          const VFolder& inInstall)
{
    const VFilePath& outdatedPath = inOutdated.GetPathRef();
    if (inOutdated.IsSameFolder(&inUpToDate) || inUpToDate.GetPathRef().IsChildOf(outdatedPath))
    {
        ThrowErrorWithPath(VE_UPDATER_SAME_BUNDLE, outdatedPath);
        return nullptr;
    }

    const VFilePath& installPath = inInstall.GetPathRef();
    const VFilePath parentPath = ParentPath(installPath);
    VRefPtr<VFolder> parent(new VFolder(parentPath), true);
    if (!parent->Exists() && parent->CreateRecursive(false) != VE_OK)
    {
        ThrowErrorWithPath(VE_UPDATER_PARENT_MISSING, parentPath);
        return nullptr;
    }

    // The whole new bundle beside the install location first: the install location keeps the old
    // one meanwhile.
    VFolder* staged = nullptr;
    if (inUpToDate.StageCopyBeside(inInstall, &staged) != VE_OK)
    {
        PushCopyFailed(inUpToDate.GetPathRef(), installPath);
        LogInfo("Rolling back up-to-date application install");
        return nullptr;
    }
    VRefPtr<VFolder> staging(staged, true);
    VFilePath backupPath;
    _ComputeTempFolderPath(outdatedPath, backupPath, VString("old"));
    if (!inInstall.Exists())
    {
        return _PlaceIntoEmptyLocation(inOutdated, *staging, inInstall, backupPath);
    }

    // The new bundle in, the old one out, in one step; a busy install location is tried again.
    const VBusyRetry retry{kExchangeAttempts, [this](int)
                           {
                               LogDebug("Install location busy, trying again in %d ms", fRetryPauseMs);
                               VTask::Sleep(fRetryPauseMs);
                           }};
    FileFailure failure;
    {
        StErrorContextInstaller attempt(false, true);
        if (staging->ExchangeWith(inInstall, &retry) != VE_OK)
        {
            failure = FileFailure(attempt);
        }
    }
    if (failure.fKind != EFileFailure::kNone)
    {
        if (failure.fKind == EFileFailure::kBusy)
        {
            // One error for each attempt that was followed by another.
            for (int retried = 1; retried < kExchangeAttempts; ++retried)
            {
                ThrowErrorWithPaths(VE_UPDATER_RENAME_FAILED, outdatedPath, backupPath);
            }
        }
        else
        {
            failure.PushNative();
            PushCopyFailed(inUpToDate.GetPathRef(), installPath);
        }
        LogInfo("Rolling back up-to-date application install");
        RemoveStaging(*staging);
        return nullptr;
    }

    // The staging name now holds what was installed. When that was the outdated bundle it becomes
    // the backup; otherwise the outdated bundle does, and the replaced item goes.
    const bool installIsOutdated = inInstall.IsSameFolder(&inOutdated);
    const VFolder& toBackup = installIsOutdated ? static_cast<const VFolder&>(*staging) : inOutdated;
    VFolder* backup = MoveToBackupName(toBackup, outdatedPath, backupPath, failure);
    if (backup == nullptr)
    {
        failure.PushNative();
        ThrowErrorWithPaths(VE_UPDATER_RENAME_FAILED, outdatedPath, backupPath);
        LogInfo("Rolling back up-to-date application install");
        StErrorContextInstaller undoErrors(true, true);
        if (staging->ExchangeWith(inInstall) == VE_OK)
        {
            RemoveStaging(*staging);
        }
        else
        {
            // The old bundle stays under the staging name until the next run removes it.
            VString text = PosixText(staging->GetPathRef());
            LogError("Could not put the installed application back; it is kept as %S", &text);
        }
        return nullptr;
    }
    if (!installIsOutdated)
    {
        RemoveStaging(*staging);
    }
    return backup;
}

VFolder* VUpdateEngine::_PlaceIntoEmptyLocation(const VFolder& inOutdated, const VFolder& inStaging,
                                                const VFolder& inInstall, VFilePath& ioBackupPath)
{
    // Nothing to exchange with: the outdated bundle to its backup name, the new one to the install
    // location, the backup put back when the second step fails.
    const VFilePath& outdatedPath = inOutdated.GetPathRef();
    FileFailure failure;
    VFolder* backup = MoveToBackupName(inOutdated, outdatedPath, ioBackupPath, failure);
    if (backup == nullptr)
    {
        failure.PushNative();
        ThrowErrorWithPaths(VE_UPDATER_RENAME_FAILED, outdatedPath, ioBackupPath);
        LogInfo("Rolling back up-to-date application install");
        RemoveStaging(inStaging);
        return nullptr;
    }
    const VFilePath& installPath = inInstall.GetPathRef();
    VRefPtr<VFolder> parent(new VFolder(ParentPath(installPath)), true);
    VFolder* placed = nullptr;
    const VError code = inStaging.Move(*parent, FolderName(installPath), &placed);
    if (placed != nullptr)
    {
        placed->Release();
    }
    if (code != VE_OK)
    {
        PushCopyFailed(fUpToDateBundle, installPath);
        LogInfo("Rolling back up-to-date application install");
        VRefPtr<VFolder> outdatedParent(new VFolder(ParentPath(outdatedPath)), true);
        backup->Move(*outdatedParent, FolderName(outdatedPath));
        backup->Release();
        RemoveStaging(inStaging);
        return nullptr;
    }
    return backup;
}

// ---------------------------------------------------------------------------------------------
// The restart
// ---------------------------------------------------------------------------------------------

bool VUpdateEngine::_LaunchApplication(const VFilePath& inInstall)
{
    const VString quote("\"");
    const VString installText = PosixText(inInstall);
    VString command = VString("open -a ") + quote + installText + quote;
    std::vector<VString> arguments{VString("-a"), installText};
    VString parameters;
    if (fRestartParametersFile.IsValid())
    {
        parameters = PosixText(fRestartParametersFile);
    }
    if (!parameters.IsEmpty())
    {
        command.AppendString(VString(" --args ") + quote + parameters + quote);
        arguments.emplace_back("--args");
        arguments.push_back(parameters);
        if (fRestartHeadless)
        {
            command.AppendString(VString(" --headless"));
            arguments.emplace_back("--headless");
        }
    }
    else if (fRestartHeadless)
    {
        command.AppendString(VString(" --args --headless"));
        arguments.emplace_back("--args");
        arguments.emplace_back("--headless");
    }
    LogInfo("Restarting installed application (%S)...", &command);

    VString opener = fOpenerPath;
    if (opener.IsEmpty())
    {
        if (VRefPtr<VFolder> executables(RetainFolder(kFolderExecutable), true); executables)
        {
            opener = PlainPosixText(executables->GetPathRef()) + VString("/zq-open");
        }
    }
    if (opener.IsEmpty())
    {
        LogError("Failed to restart updated application (no opener beside the updater)");
        _PushRetainedError(new VErrorBase(VE_UPDATER_RESTART_FAILED));
        return false;
    }
    int32_t exitStatus = 0;
    const int32_t result = VProcessLauncher::ExecuteArguments(opener, arguments, 0, nullptr, nullptr, nullptr,
                                                              nullptr, nullptr, &exitStatus, nullptr);
    if (result != 0 || exitStatus != 0)
    {
        LogError("Failed to restart updated application (returned error %d - exit status %d)", result,
                 exitStatus);
        _PushRetainedError(new VErrorBase(VE_UPDATER_RESTART_FAILED));
        return false;
    }
    LogInfo("Updated application restarted, returned %d", exitStatus);
    return true;
}

} // namespace zorn
